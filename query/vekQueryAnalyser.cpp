#include "query/vekQueryAnalyser.h"

#include "host/SysUtils.h"

namespace orvex {

namespace {

// A new AND node over Left and Right in Expr.
TVekExprNode* NewAnd(TVekExpr* Expr, TVekExprNode* Left, TVekExprNode* Right)
{
    TParserToken token;
    token.SetToken(vstAnd);
    token.SetText("AND");
    TVekExprNode* node = Expr->NewNode(enkLogicalOperator, veoAND, Variant(), Left, Right, &token);
    node->SetDataType(ftBoolean);
    return node;
}

// Clones Root into Expr (created when missing); a second condition is ANDed
// to the first.
void AddCondition(std::unique_ptr<TVekExpr>& Expr, const TVekExprNode* Root)
{
    if (!Expr) {
        Expr = std::make_unique<TVekExpr>();
        Expr->CloneFromTree(Root);
        return;
    }
    TVekExprNode* oldRoot = Expr->FirstNode();
    TVekExprNode* copy = Expr->CloneSubTree(Root);
    Expr->SetAsFirstNode(NewAnd(Expr.get(), oldRoot, copy));
}

bool SameInstance(const TTableNameItem* A, const TTableNameItem* B)
{
    return AnsiSameText(A->TableName(), B->TableName()) && AnsiSameText(A->CorrelationName(), B->CorrelationName());
}

bool ContainsInstance(const TTableList* List, const TTableNameItem* Item)
{
    for (int i = 0; i < List->Count(); ++i)
        if (SameInstance(List->Items(i), Item))
            return true;
    return false;
}

} // namespace

// ======================================================== select items

TVekSelectItem::TVekSelectItem(TCollection* Collection) : TCollectionItem(Collection) {}
TVekSelectItem::~TVekSelectItem() = default;

void TVekSelectItem::SetSelectExprRoot(const TVekExprNode* Root)
{
    AddCondition(FExpr, Root);
}

TVekSelects::TVekSelects() : TCollection(ItemClassOf<TVekSelectItem>()) {}

TVekSelectItem* TVekSelects::FindSelectItem(const std::string& TableName, const std::string& CorrelationName) const
{
    for (int i = 0; i < Count(); ++i)
        if (AnsiSameText(Items(i)->TableName(), TableName) && AnsiSameText(Items(i)->CorrelationName(), CorrelationName))
            return Items(i);
    return nullptr;
}

TVekSelectItem* TVekSelects::GetSelectItem(const std::string& TableName, const std::string& CorrelationName)
{
    if (TVekSelectItem* item = FindSelectItem(TableName, CorrelationName))
        return item;
    auto* item = static_cast<TVekSelectItem*>(Add());
    item->SetTableName(TableName);
    item->SetCorrelationName(CorrelationName);
    return item;
}

// ========================================================== join items

TVekJoinItem::TVekJoinItem(TCollection* Collection)
    : TCollectionItem(Collection), FTableList(std::make_unique<TTableList>())
{
}

TVekJoinItem::~TVekJoinItem() = default;

void TVekJoinItem::SetJoinExprRoot(const TVekExprNode* Root)
{
    AddCondition(FExpr, Root);
}

TVekJoins::TVekJoins() : TCollection(ItemClassOf<TVekJoinItem>()) {}

TVekJoinItem* TVekJoins::GetJoinItem(const TTableList* Tables)
{
    for (int i = 0; i < Count(); ++i) {
        TTableList* own = Items(i)->TableList();
        if (own->Count() != Tables->Count())
            continue;
        bool same = true;
        for (int t = 0; t < Tables->Count() && same; ++t)
            same = ContainsInstance(own, Tables->Items(t));
        if (same)
            return Items(i);
    }
    auto* item = static_cast<TVekJoinItem*>(Add());
    item->TableList()->Assign(const_cast<TTableList*>(Tables));
    return item;
}

// ============================================================ analyser

TQueryAnalyserNode::TQueryAnalyserNode() : TableList(std::make_unique<TTableList>()) {}
TQueryAnalyserNode::~TQueryAnalyserNode() = default;

TVekQueryAnalyser::TVekQueryAnalyser() = default;
TVekQueryAnalyser::~TVekQueryAnalyser() = default;

void TVekQueryAnalyser::Clear()
{
    FNodes.clear();
    FRoot = nullptr;
    if (FJoins)
        FJoins->Clear();
    if (FSelects)
        FSelects->Clear();
}

TVekExpr* TVekQueryAnalyser::GetTempExpr()
{
    if (!FTempExpr)
        FTempExpr = std::make_unique<TVekExpr>();
    return FTempExpr.get();
}

// The statement's tables that the subtree under Node reads (arguments
// included); references to an enclosing statement's tables do not count.
void TVekQueryAnalyser::AddTablesOf(const TVekExprNode* Node, TTableList* Tables, int Depth) const
{
    if (!Node)
        return;
    ORVEX_ASSERT(Depth <= MaxExprTreeHeight + 1, "Expression tree too deep");
    if (Node->Kind() == enkField)
        for (int i = 0; i < Node->SourceTables()->Count(); ++i) {
            const TTableNameItem* source = Node->SourceTables()->Items(i);
            if (!ContainsInstance(Tables, source) && ContainsInstance(FTableList, source))
                Tables->Add()->Assign(const_cast<TTableNameItem*>(source));
        }
    for (const TVekExprNode* arg : Node->Args())
        AddTablesOf(arg, Tables, Depth + 1);
}

TQueryAnalyserNode* TVekQueryAnalyser::Mirror(TVekExprNode* Node, int Depth)
{
    if (!Node)
        return nullptr;
    ORVEX_ASSERT(Depth <= MaxExprTreeHeight + 1, "Expression tree too deep");
    FNodes.push_back(std::make_unique<TQueryAnalyserNode>());
    TQueryAnalyserNode* mirror = FNodes.back().get();
    mirror->ExprNode = Node;
    AddTablesOf(Node, mirror->TableList.get(), Depth);
    // A subquery reads tables of its own; a correlated one may read this
    // statement's too: it is never split off.
    if (Node->Kind() == enkSubquery)
        mirror->TableList->Assign(FTableList);
    mirror->Left = Mirror(Node->Left(), Depth + 1);
    mirror->Right = Mirror(Node->Right(), Depth + 1);
    return mirror;
}

void TVekQueryAnalyser::CreateSelectList()
{
    FSelects->Clear();
    for (int i = 0; i < FTableList->Count(); ++i)
        FSelects->GetSelectItem(FTableList->Items(i)->TableName(), FTableList->Items(i)->CorrelationName());
}

void TVekQueryAnalyser::ParseTableLists(TQueryAnalyserNode* Node)
{
    if (!Node || Node->SplitOK)
        return;
    ParseTableLists(Node->Left);
    ParseTableLists(Node->Right);
    for (TQueryAnalyserNode* child : {Node->Left, Node->Right})
        if (child)
            for (int i = 0; i < child->TableList->Count(); ++i)
                if (!ContainsInstance(Node->TableList.get(), child->TableList->Items(i)))
                    Node->TableList->Add()->Assign(child->TableList->Items(i));
}

void TVekQueryAnalyser::ParseSelects(TQueryAnalyserNode* Node)
{
    if (!Node || Node->SplitOK)
        return;
    ParseSelects(Node->Left);
    ParseSelects(Node->Right);
    if (!Node->Left || !Node->Right)
        return;
    // Only the terms of a conjunction can be answered table by table: the
    // sides of an OR over several tables stay together.
    const bool conjunction = Node->ExprNode->Kind() == enkLogicalOperator && Node->ExprNode->Operator() == veoAND;
    if (!conjunction || Node->TableList->Count() <= 1)
        return;
    for (TQueryAnalyserNode* child : {Node->Left, Node->Right}) {
        if (child->SplitOK || child->TableList->Count() != 1)
            continue;
        const TTableNameItem* table = child->TableList->Items(0);
        FSelects->GetSelectItem(table->TableName(), table->CorrelationName())->SetSelectExprRoot(child->ExprNode);
        child->SplitOK = true;
    }
    if (Node->Left->SplitOK && Node->Right->SplitOK)
        Node->SplitOK = true;
}

void TVekQueryAnalyser::ParseJoins(TQueryAnalyserNode* Node)
{
    if (!Node || Node->SplitOK)
        return;
    ParseJoins(Node->Left);
    ParseJoins(Node->Right);
    if (!Node->Left || !Node->Right)
        return;
    if (Node->ExprNode->Kind() != enkRelOperator || Node->TableList->Count() < 2)
        return;
    TVekJoinItem* item = FJoins->GetJoinItem(Node->TableList.get());
    item->SetJoinExprRoot(Node->ExprNode);
    Node->SplitOK = true;
}

bool TVekQueryAnalyser::CheckNodeSplitStatus(TQueryAnalyserNode* Node)
{
    if (!Node)
        return true;
    if (!Node->Left && !Node->Right)
        return Node->SplitOK;
    const bool left = CheckNodeSplitStatus(Node->Left);
    const bool right = CheckNodeSplitStatus(Node->Right);
    if (left && right)
        Node->SplitOK = Node->ExprNode->Kind() == enkLogicalOperator && Node->ExprNode->Operator() == veoAND;
    return Node->SplitOK;
}

void TVekQueryAnalyser::Prepare(TVekJoins* Joins, TVekSelects* Selects, TVekExprNode* WhereRoot,
                                TTableList* TableList)
{
    FNodes.clear();
    FJoins = Joins;
    FSelects = Selects;
    FTableList = TableList;
    FJoins->Clear();
    FSelects->Clear();
    FRoot = Mirror(WhereRoot, 0);
    CreateSelectList();
    if (!FRoot)
        return;
    ParseTableLists(FRoot);
    if (FRoot->TableList->Count() == 1) {
        const TTableNameItem* table = FRoot->TableList->Items(0);
        FSelects->GetSelectItem(table->TableName(), table->CorrelationName())->SetSelectExprRoot(FRoot->ExprNode);
        FRoot->SplitOK = true;
    } else {
        ParseSelects(FRoot);
        ParseJoins(FRoot);
        CheckNodeSplitStatus(FRoot);
    }
    if (!FRoot->SplitOK) {
        // The whole WHERE stays a residual condition.
        FJoins->Clear();
        CreateSelectList();
    }
}

bool TVekQueryAnalyser::CheckAnalysisComplete() const
{
    return !FRoot || FRoot->SplitOK;
}

} // namespace orvex
