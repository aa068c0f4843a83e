#include "query/vekQueryPlanner.h"

#include "host/SysUtils.h"

#include <algorithm>

namespace orvex {

namespace {

constexpr Integer ErrNoSuchTable = 10024;

} // namespace

TVekPlan::TVekPlan() = default;
TVekPlan::~TVekPlan() = default;

TVekJoinType TVekPlan::MapJoinType(TVekTableRefType Type)
{
    switch (Type) {
    case trCrossJoin:
        return jtCrossJoin;
    case trUnionJoin:
        return jtUnionJoin;
    case trInnerJoin:
        return jtInnerJoin;
    case trLeftOuterJoin:
        return jtLeftOuterJoin;
    case trRightOuterJoin:
        return jtRightOuterJoin;
    case trFullOuterJoin:
        return jtFullOuterJoin;
    default:
        return jtNone;
    }
}

void TVekPlan::AddResidual(const TVekExprNode* Root)
{
    if (!Root)
        return;
    if (!FResidual) {
        FResidual = std::make_unique<TVekExpr>();
        FResidual->CloneFromTree(Root);
        return;
    }
    TVekExprNode* oldRoot = FResidual->FirstNode();
    TVekExprNode* copy = FResidual->CloneSubTree(Root);
    TParserToken token;
    token.SetToken(vstAnd);
    token.SetText("AND");
    TVekExprNode* node = FResidual->NewNode(enkLogicalOperator, veoAND, Variant(), oldRoot, copy, &token);
    node->SetDataType(ftBoolean);
    FResidual->SetAsFirstNode(node);
}

TVekNonJoinDataProvider* TVekPlan::NewLeaf(const std::string& TableName, const std::string& CorrelationName)
{
    TTableNameItem* item = FTableList->FindTableAndCorrelationName(TableName, CorrelationName);
    return FProviderMgr->GetNonJoinProvider(TableName, CorrelationName, item && item->Memory());
}

TVekStdJoinDataProvider* TVekPlan::NewJoin(TVekBaseJoinDataProvider* Outer, TVekBaseJoinDataProvider* Inner,
                                           TVekJoinType JoinType, const TVekExprNode* Condition)
{
    TVekStdJoinDataProvider* join = FProviderMgr->GetStdJoinProvider();
    join->SetJoinType(JoinType);
    join->SetOuterProvider(Outer);
    join->SetInnerProvider(Inner);
    join->SetProviderName(Outer->ProviderName() + "." + Inner->ProviderName());
    join->SetJoinExprRoot(const_cast<TVekExprNode*>(Condition));
    return join;
}

TVekBaseJoinDataProvider* TVekPlan::ParseFromNode(TVekTableRefNode* Node, int Depth, bool NullSupplied)
{
    if (!Node)
        return nullptr;
    ORVEX_ASSERT(Depth <= MaxJoinChain + 1, "FROM tree too deep");
    if (Node->JoinType() == trTableName) {
        ORVEX_ASSERT(Node->Left() == nullptr, "Node.left should be nil");
        ORVEX_ASSERT(Node->Right() == nullptr, "Node.right should be nil");
        TVekNonJoinDataProvider* leaf = NewLeaf(Node->Text(), Node->CorrelationName());
        FComponents.back().Leaves.push_back(leaf);
        if (NullSupplied)
            FNullSupplied.push_back(leaf);
        return leaf;
    }
    const TVekJoinType type = MapJoinType(Node->JoinType());
    if (type == jtNone)
        return nullptr;
    // The sides whose rows the join null-extends.
    const bool outerNull = type == jtRightOuterJoin || type == jtFullOuterJoin || type == jtUnionJoin;
    const bool innerNull = type == jtLeftOuterJoin || type == jtFullOuterJoin || type == jtUnionJoin;
    TVekBaseJoinDataProvider* outer = ParseFromNode(Node->Left(), Depth + 1, NullSupplied || outerNull);
    TVekBaseJoinDataProvider* inner = ParseFromNode(Node->Right(), Depth + 1, NullSupplied || innerNull);
    ORVEX_ASSERT(outer != nullptr, "Node.left should be assigned");
    ORVEX_ASSERT(inner != nullptr, "Node.right should be assigned");
    TVekStdJoinDataProvider* join =
        NewJoin(outer, inner, type, Node->Expr() ? Node->Expr()->FirstNode() : nullptr);
    if (!Node->CorrelationName().empty())
        join->SetCorrelationName(Node->CorrelationName());
    return join;
}

int TVekPlan::ComponentOf(const TTableNameItem* Table) const
{
    for (std::size_t c = 0; c < FComponents.size(); ++c)
        for (TVekNonJoinDataProvider* leaf : FComponents[c].Leaves)
            if (AnsiSameText(leaf->TableName(), Table->TableName()) &&
                AnsiSameText(leaf->CorrelationName(), Table->CorrelationName()))
                return static_cast<int>(c);
    return -1;
}

TVekNonJoinDataProvider* TVekPlan::LeafOf(const std::string& TableName, const std::string& CorrelationName) const
{
    for (const TComponent& component : FComponents)
        for (TVekNonJoinDataProvider* leaf : component.Leaves)
            if (AnsiSameText(leaf->TableName(), TableName) && AnsiSameText(leaf->CorrelationName(), CorrelationName))
                return leaf;
    return nullptr;
}

void TVekPlan::InternalCreateJoins()
{
    for (int i = 0; i < FJoins->Count(); ++i) {
        TVekJoinItem* item = FJoins->Items(i);
        TTableList* tables = item->TableList();
        const int a = tables->Count() == 2 ? ComponentOf(tables->Items(0)) : -1;
        const int b = tables->Count() == 2 ? ComponentOf(tables->Items(1)) : -1;
        if (a < 0 || b < 0 || a == b) {
            // Over three or more tables, or two tables already joined.
            AddResidual(item->ExprRoot());
            continue;
        }
        const int outer = std::min(a, b);
        const int inner = std::max(a, b);
        TComponent& target = FComponents[static_cast<std::size_t>(outer)];
        TComponent& source = FComponents[static_cast<std::size_t>(inner)];
        target.Root = NewJoin(target.Root, source.Root, jtInnerJoin, item->ExprRoot());
        target.Leaves.insert(target.Leaves.end(), source.Leaves.begin(), source.Leaves.end());
        FComponents.erase(FComponents.begin() + inner);
    }
}

void TVekPlan::InternalJoinUnmatched()
{
    while (FComponents.size() > 1) {
        TComponent& target = FComponents[0];
        TComponent& source = FComponents[1];
        target.Root = NewJoin(target.Root, source.Root, jtCrossJoin, nullptr);
        target.Leaves.insert(target.Leaves.end(), source.Leaves.begin(), source.Leaves.end());
        FComponents.erase(FComponents.begin() + 1);
    }
}

void TVekPlan::InternalAssignSelects()
{
    ORVEX_ASSERT(FProviderMgr->RootProvider() != nullptr, "Root provider is not assigned in InternalAssignSelects");
    for (int i = 0; i < FSelects->Count(); ++i) {
        TVekSelectItem* item = FSelects->Items(i);
        TVekNonJoinDataProvider* leaf = LeafOf(item->TableName(), item->CorrelationName());
        if (!leaf)
            VekDatabaseError(ErrNoSuchTable, "TVekPlan.InternalAssignSelects", item->TableName(), this);
        if (!item->ExprRoot())
            continue;
        // On a table an outer join null-extends, the condition filters the
        // joined rows (WHERE b.k IS NULL finds the rows without a match).
        if (std::find(FNullSupplied.begin(), FNullSupplied.end(), leaf) != FNullSupplied.end())
            AddResidual(item->ExprRoot());
        else
            leaf->SetJoinSelectExprRoot(item->ExprRoot());
    }
}

void TVekPlan::InternalCreatePlan()
{
    ORVEX_ASSERT(FTableList && FJoins && FSelects && FProviderMgr, "The plan is not complete");
    FProviderMgr->Clear();
    FComponents.clear();
    FNullSupplied.clear();
    FResidual.reset();
    AddResidual(FResidualRoot);
    for (TVekTableRefNode* tree : FFromTrees) {
        FComponents.emplace_back();
        FComponents.back().Root = ParseFromNode(tree, 0, false);
        if (!FComponents.back().Root)
            FComponents.pop_back();
    }
    // Tables of the list that no FROM tree holds (a statement whose table
    // list was made without one) enter as single tables.
    for (int i = 0; i < FTableList->Count(); ++i) {
        const TTableNameItem* table = FTableList->Items(i);
        if (ComponentOf(table) >= 0)
            continue;
        FComponents.emplace_back();
        TVekNonJoinDataProvider* leaf = NewLeaf(table->TableName(), table->CorrelationName());
        FComponents.back().Root = leaf;
        FComponents.back().Leaves.push_back(leaf);
    }
    InternalCreateJoins();
    InternalJoinUnmatched();
    ORVEX_ASSERT(!FComponents.empty(), "Root provider is not assigned in InternalAssignSelects");
    FProviderMgr->SetRootProvider(FComponents.front().Root);
    InternalAssignSelects();
    FProviderMgr->PrepareJoinExprEvaluator(ResidualRoot());
}

void TVekQueryPlanner::PreparePlan()
{
    ORVEX_ASSERT(FPlan != nullptr, "The Plan is not assigned");
    ORVEX_ASSERT(FTableList != nullptr, "The TableList is not assigned");
    ORVEX_ASSERT(FJoins != nullptr, "The Joins is not assigned");
    ORVEX_ASSERT(FSelects != nullptr, "The Selects is not assigned");
    ORVEX_ASSERT(FProviderMgr != nullptr, "The ProviderMgr is not assigned");
    FPlan->SetTableList(FTableList);
    FPlan->SetJoins(FJoins);
    FPlan->SetSelects(FSelects);
    FPlan->SetProviderMgr(FProviderMgr);
    FPlan->PreparePlan();
}

} // namespace orvex
