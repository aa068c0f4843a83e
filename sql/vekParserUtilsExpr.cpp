// Expression nodes, expressions and the table list.

#include "sql/vekParserUtils.h"

#include <algorithm>

namespace orvex {

const char* const CVekExprNodeKindNames[TVekExprNodeKindCount] = {
    "enkUnknown",         "enkField", "enkConst",           "enkParam",    "enkRelOperator",
    "enkArithOperator",   "enkLogicalOperator", "enkFunc",  "enkNonRelPredicate", "enkSubquery",
};

namespace {

// Trees deeper than this are never built by the parsers; the recursive
// routines below stop there too, so that no input can exhaust the stack.
constexpr int MaxTreeDepth = 4096;

bool SameVariant(const Variant& A, const Variant& B)
{
    if (A.VType() != B.VType())
        return false;
    if (A.IsEmpty() || A.IsNull())
        return true;
    try {
        return A == B;
    } catch (const Exception&) {
        return false;
    }
}

} // namespace

// ============================================================== nodes

TVekExprNode::TVekExprNode()
    : FParserToken(std::make_unique<TParserToken>()), FSourceTables(std::make_unique<TTableList>())
{
}

TVekExprNode::~TVekExprNode() = default;

void TVekExprNode::UpdateHeight()
{
    int Below = std::max(FLeft ? FLeft->FHeight : 0, FRight ? FRight->FHeight : 0);
    for (const TVekExprNode* Arg : FArgs)
        if (Arg)
            Below = std::max(Below, Arg->FHeight);
    FHeight = 1 + Below;
}

void TVekExprNode::SetLeft(TVekExprNode* Value)
{
    FLeft = Value;
    UpdateHeight();
}

void TVekExprNode::SetRight(TVekExprNode* Value)
{
    FRight = Value;
    UpdateHeight();
}

void TVekExprNode::SetParserToken(const TParserToken* Token)
{
    if (Token)
        FParserToken->AssignToken(Token);
}

void TVekExprNode::AssignNode(const TVekExprNode* Source)
{
    if (!Source || Source == this)
        return;
    FDataSize = Source->FDataSize;
    FLeft = Source->FLeft;
    FRight = Source->FRight;
    FHeight = Source->FHeight;
    FOperator = Source->FOperator;
    FKind = Source->FKind;
    FScopeKind = Source->FScopeKind;
    FDataType = Source->FDataType;
    FOriginalOperator = Source->FOriginalOperator;
    FTokenArgs = Source->FTokenArgs;
    FParserToken->AssignToken(Source->FParserToken.get());
    FData = Source->FData;
    FOriginalData = Source->FOriginalData;
    FCaseInsensitiveMatch = Source->FCaseInsensitiveMatch;
    FPartialMatch = Source->FPartialMatch;
    FPartialLength = Source->FPartialLength;
    FSourceTables->Assign(Source->FSourceTables.get());
    FExprNodeDataProvider = Source->FExprNodeDataProvider;
}

TVekExprNode* TVekExprNode::CloneNode() const
{
    auto Clone = std::make_unique<TVekExprNode>();
    Clone->AssignNode(this);
    for (const TVekExprNode* Arg : FArgs) {
        auto Copy = std::make_unique<TVekExprNode>();
        Copy->AssignNode(Arg);
        Clone->FArgs.push_back(Copy.release());
    }
    return Clone.release();
}

void TVekExprNode::SetAndConvertDataType(TFieldType FieldType)
{
    if (!FData.IsNull() && !FData.IsEmpty() && FieldType >= ftUnknown && FieldType <= ftDateTime) {
        switch (FieldType) {
        case ftString:
            FData = FData.AsString();
            FDataSize = static_cast<Integer>(FData.AsString().size());
            break;
        case ftSmallint:
        case ftInteger:
            FData = FData.AsInteger();
            break;
        case ftBoolean:
            FData = FData.AsBoolean();
            break;
        case ftFloat:
            FData = FData.AsDouble();
            break;
        case ftCurrency:
            FData = FData.AsCurrency();
            break;
        case ftDate:
        case ftDateTime:
            FData = Variant::FromDate(FData.AsDateTime());
            break;
        default:
            break;
        }
    }
    FDataType = FieldType;
}

bool TVekExprNode::AreNodesEquivalent(const TVekExprNode* Other) const
{
    if (!Other)
        return false;
    if (FDataSize != Other->FDataSize || FOperator != Other->FOperator || FKind != Other->FKind ||
        FScopeKind != Other->FScopeKind || FDataType != Other->FDataType ||
        FParserToken->Token() != Other->FParserToken->Token())
        return false;
    if (!SameVariant(FData, Other->FData))
        return false;
    if (FCaseInsensitiveMatch != Other->FCaseInsensitiveMatch ||
        FPartialMatch != Other->FPartialMatch || FPartialLength != Other->FPartialLength)
        return false;
    if (FSourceTables->Count() != Other->FSourceTables->Count())
        return false;
    for (int I = 0; I < FSourceTables->Count(); ++I)
        if (FSourceTables->Items(I)->TableName() != Other->FSourceTables->Items(I)->TableName())
            return false;
    if (FTokenArgs.size() != Other->FTokenArgs.size())
        return false;
    for (std::size_t I = 0; I < FTokenArgs.size(); ++I)
        if (FTokenArgs[I]->Token() != Other->FTokenArgs[I]->Token())
            return false;
    if (FArgs.size() != Other->FArgs.size())
        return false;
    for (std::size_t I = 0; I < FArgs.size(); ++I)
        if (!FArgs[I]->AreNodesEquivalent(Other->FArgs[I]))
            return false;
    return true;
}

void TVekExprNode::Display(const std::string& Indent, TStrings* Lines) const
{
    Lines->Add(Indent + CVekExprNodeKindNames[FKind] + ":" + C_STRCANOperator[FOperator] + " :: " +
               CVekStrSQLTokens[FParserToken->Token()] + "  -  " + FParserToken->Text() + " :: " +
               FieldTypeName(FDataType) + " - " + IntToStr(FDataSize));
    if (!FArgs.empty()) {
        Lines->Add(Indent + "Start Args");
        for (const TVekExprNode* Arg : FArgs)
            DisplayExprTree(Indent + "** ", Arg, Lines);
        Lines->Add(Indent + "End Args");
    }
}

void TVekExprNode::DisplayExprTree(const std::string& Indent, const TVekExprNode* Node,
                                   TStrings* Lines)
{
    if (!Node || !Lines || Indent.size() > MaxTreeDepth)
        return;
    DisplayExprTree(Indent + " ", Node->FLeft, Lines);
    Node->Display(Indent, Lines);
    DisplayExprTree(Indent + " ", Node->FRight, Lines);
}

// ========================================================== expressions

TVekExpr::~TVekExpr()
{
    Clear();
}

void TVekExpr::Chain(TVekExprNode* Node)
{
    Node->SetNext(FFirstNode);
    FFirstNode = Node;
}

TVekExprNode* TVekExpr::NewNode(TVekExprNodeKind Kind, TVekExprOperator Operator, const Variant& Data,
                                TVekExprNode* Left, TVekExprNode* Right, const TParserToken* Token)
{
    if (!FErrorMsg.empty())
        return nullptr;
    auto* Node = new TVekExprNode();
    Node->SetKind(Kind);
    Node->SetOperator(Operator);
    Node->SetOriginalOperator(Operator);
    Node->SetData(Data);
    Node->SetOriginalData(Data);
    Node->SetLeft(Left);
    Node->SetRight(Right);
    Node->SetParserToken(Token);
    Node->SetPartialLength(-1);
    Node->SetCaseInsensitiveMatch(FCaseInsensitiveMatch);
    Node->SetPartialMatch(FPartialStringComparisons);
    Node->SetDataType(ftUnknown);
    Node->SetDataSize(-1);
    Chain(Node);
    return Node;
}

TVekExprNode* TVekExpr::NewFieldNode(TVekExprNodeKind Kind, TVekExprOperator Operator,
                                     const Variant& Data, TVekExprNode* Left, TVekExprNode* Right,
                                     const TParserToken* Token, TFieldType DataType, Integer DataSize)
{
    TVekExprNode* Node = NewNode(Kind, Operator, Data, Left, Right, Token);
    if (Node) {
        Node->SetDataType(DataType);
        Node->SetDataSize(DataSize);
    }
    return Node;
}

void TVekExpr::Clear()
{
    FOwnedTokens.clear();
    TVekExprNode* Node = FFirstNode;
    FFirstNode = nullptr;
    while (Node) {
        TVekExprNode* Next = Node->Next();
        delete Node;
        Node = Next;
    }
}

TVekExprNode* TVekExpr::InternalCloneSubTree(const TVekExprNode* Node, int Depth)
{
    if (!Node)
        return nullptr;
    ORVEX_ASSERT(Depth < MaxTreeDepth, "Expression tree too deep to copy");
    TVekExprNode* Clone = Node->CloneNode();
    Chain(Clone);
    // Every argument is copied with its own subtree, so that the copy never
    // shares a node with its source.
    for (std::size_t I = 0; I < Clone->Args().size(); ++I) {
        delete Clone->Args()[I];
        Clone->Args()[I] = InternalCloneSubTree(Node->Args()[I], Depth + 1);
    }
    for (TParserToken*& Token : Clone->TokenArgs())
        Token = AdoptToken(Token);
    Clone->SetLeft(InternalCloneSubTree(Node->Left(), Depth + 1));
    Clone->SetRight(InternalCloneSubTree(Node->Right(), Depth + 1));
    return Clone;
}

TVekExprNode* TVekExpr::CloneSubTree(const TVekExprNode* Node)
{
    return InternalCloneSubTree(Node, 0);
}

TVekExprNode* TVekExpr::CloneFromTree(const TVekExprNode* Root)
{
    TVekExprNode* Copy = CloneSubTree(Root);
    SetAsFirstNode(Copy);
    return Copy;
}

void TVekExpr::SetAsFirstNode(TVekExprNode* Node)
{
    if (!Node || Node == FFirstNode)
        return;
    for (TVekExprNode* Prev = FFirstNode; Prev; Prev = Prev->Next())
        if (Prev->Next() == Node) {
            Prev->SetNext(Node->Next());
            Node->SetNext(FFirstNode);
            FFirstNode = Node;
            return;
        }
}

int TVekExpr::GetNodeCount() const
{
    int Count = 0;
    for (const TVekExprNode* Node = FFirstNode; Node; Node = Node->Next())
        ++Count;
    return Count;
}

TVekExprNode* TVekExpr::FindNodeWithToken(TVekSQLToken Kind) const
{
    for (TVekExprNode* Node = FFirstNode; Node; Node = Node->Next())
        if (Node->ParserToken()->Token() == Kind)
            return Node;
    return nullptr;
}

void TVekExpr::ResetSpecifiedNodes(TVekSQLToken Kind, TVekSQLToken NewKind, TVekExprNodeKind NodeKind,
                                   TVekExprOperator Operator, const Variant& Data)
{
    ORVEX_ASSERT(NewKind != Kind, "ResetSpecifiedNodes needs a new token kind");
    for (TVekExprNode* Node = FFirstNode; Node; Node = Node->Next())
        if (Node->ParserToken()->Token() == Kind) {
            Node->ParserToken()->SetToken(NewKind);
            Node->SetOperator(Operator);
            Node->SetKind(NodeKind);
            Node->SetData(Data);
        }
}

bool TVekExpr::ExprContainsField(const std::string& Name) const
{
    for (const TVekExprNode* Node = FFirstNode; Node; Node = Node->Next())
        if (Node->Kind() == enkField && AnsiSameText(VarToStr(Node->Data()), Name))
            return true;
    return false;
}

std::string TVekExpr::ExtractParsedText(const TVekExprNode* Node) const
{
    // Iterative in-order walk: left subtree, node, right subtree.
    std::string Result;
    std::vector<const TVekExprNode*> Pending;
    const TVekExprNode* Current = Node;
    while (Current || !Pending.empty()) {
        while (Current) {
            Pending.push_back(Current);
            Current = Current->Left();
        }
        Current = Pending.back();
        Pending.pop_back();
        Result += Current->ParserToken()->RawTokenText();
        Current = Current->Right();
    }
    return Result;
}

TParserToken* TVekExpr::AdoptToken(const TParserToken* Token)
{
    if (!Token)
        return nullptr;
    FOwnedTokens.push_back(std::make_unique<TParserToken>());
    FOwnedTokens.back()->AssignToken(Token);
    return FOwnedTokens.back().get();
}

void TVekExpr::Display(TStrings* Lines) const
{
    TVekExprNode::DisplayExprTree("", FFirstNode, Lines);
}

// =========================================================== table list

TTableNameItem::TTableNameItem(TCollection* Collection)
    : TCollectionItem(Collection), FTableFields(new TInternalFields())
{
}

TTableNameItem::~TTableNameItem()
{
    delete FTableFields;
}

void TTableNameItem::Assign(TPersistent* Source)
{
    auto* Other = dynamic_cast<TTableNameItem*>(Source);
    if (!Other) {
        TCollectionItem::Assign(Source);
        return;
    }
    if (Other == this)
        return;
    FCorrelationName = Other->FCorrelationName;
    FTableName = Other->FTableName;
    FTableFields->Assign(Other->FTableFields);
    FMemory = Other->FMemory;
    FMemorySpecified = Other->FMemorySpecified;
    FInCorrelatedSubquery = Other->FInCorrelatedSubquery;
    FCorrelatedSubqueryID = Other->FCorrelatedSubqueryID;
}

void TTableNameItem::SetTableFields(TInternalFields* Fields)
{
    if (Fields)
        FTableFields->Assign(Fields);
    else
        FTableFields->Clear();
}

TFieldType TTableNameItem::GetFieldType(const std::string& Name) const
{
    const TInternalFieldItem* Field = FTableFields->FindField(Name);
    return Field ? Field->DataType() : ftUnknown;
}

Integer TTableNameItem::GetFieldSize(const std::string& Name) const
{
    const TInternalFieldItem* Field = FTableFields->FindField(Name);
    return Field ? Field->GetWriteableFieldSize() : 0;
}

TTableList::TTableList() : TCollection(ItemClassOf<TTableNameItem>()) {}

void TTableList::Assign(TPersistent* Source)
{
    auto* Other = dynamic_cast<TTableList*>(Source);
    if (!Other) {
        TCollection::Assign(Source);
        return;
    }
    if (Other == this)
        return;
    Clear();
    for (int I = 0; I < Other->Count(); ++I)
        Add()->Assign(Other->Items(I));
}

// A correlation name first, then a table without one, then any table of
// that name: in "FROM t, t a" the name t is the first instance and a the
// second.
TTableNameItem* TTableList::FindVisibleTable(const std::string& Name) const
{
    if (Name.empty())
        return Count() == 1 ? Items(0) : nullptr;
    for (int I = Count() - 1; I >= 0; --I)
        if (AnsiSameText(Items(I)->CorrelationName(), Name))
            return Items(I);
    for (int I = Count() - 1; I >= 0; --I)
        if (Items(I)->CorrelationName().empty() && AnsiSameText(Items(I)->TableName(), Name))
            return Items(I);
    return nullptr;
}

TTableNameItem* TTableList::FindTable(const std::string& Name) const
{
    if (TTableNameItem* Item = FindVisibleTable(Name))
        return Item;
    if (Name.empty())
        return nullptr;
    for (int I = Count() - 1; I >= 0; --I)
        if (AnsiSameText(Items(I)->TableName(), Name))
            return Items(I);
    return nullptr;
}

TTableNameItem* TTableList::FindTableName(const std::string& Name) const
{
    if (Name.empty())
        return Count() == 1 ? Items(0) : nullptr;
    for (int I = Count() - 1; I >= 0; --I)
        if (AnsiSameText(Items(I)->TableName(), Name))
            return Items(I);
    return nullptr;
}

TTableNameItem* TTableList::FindTableAndCorrelationName(const std::string& Table,
                                                        const std::string& Correlation) const
{
    if (Table.empty())
        return Count() == 1 ? Items(0) : nullptr;
    for (int I = Count() - 1; I >= 0; --I) {
        TTableNameItem* Item = Items(I);
        if (AnsiSameText(Item->TableName(), Table) && AnsiSameText(Item->CorrelationName(), Correlation))
            return Item;
    }
    return nullptr;
}

TTableNameItem* TTableList::FindTableForField(const std::string& Field) const
{
    for (int I = Count() - 1; I >= 0; --I)
        if (Items(I)->TableFields()->FindField(Field))
            return Items(I);
    return nullptr;
}

void TTableList::MergeLists(const TTableList* A, const TTableList* B)
{
    Clear();
    if (A)
        for (int I = 0; I < A->Count(); ++I)
            Add()->Assign(A->Items(I));
    if (!B)
        return;
    for (int I = 0; I < B->Count(); ++I) {
        TTableNameItem* Item = B->Items(I);
        bool Present = false;
        for (int J = 0; J < Count() && !Present; ++J)
            Present = AnsiSameText(Items(J)->TableName(), Item->TableName()) &&
                      AnsiSameText(Items(J)->CorrelationName(), Item->CorrelationName());
        if (!Present)
            Add()->Assign(Item);
    }
}

} // namespace orvex
