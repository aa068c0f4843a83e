#pragma once
// The plan: turns the FROM forest, the analyser's join items and its
// selections into one tree of join data providers under the provider
// manager.
//
// Every comma-separated FROM tree becomes a provider subtree (its ON
// conditions with it). A WHERE join item over two tables of different
// subtrees joins those subtrees (inner join, the older subtree outer); a
// join item over three or more tables, or over two tables already joined,
// stays in the residual condition, as does a selection on a table whose
// rows an outer join may null-extend (it filters the joined rows rather
// than the table's). Subtrees still apart at the end are cross-joined in
// order. The tree is left-deep: each new table or subtree is the inner side.

#include "query/vekJoinDataProviderUnit.h"
#include "query/vekQueryAnalyser.h"
#include "sql/vekFromParser.h"

#include <memory>
#include <vector>

namespace orvex {

class TVekPlan : public TObject {
public:
    TVekPlan();
    ~TVekPlan() override;

    void SetTableList(TTableList* Value) { FTableList = Value; }
    void SetJoins(TVekJoins* Value) { FJoins = Value; }
    void SetSelects(TVekSelects* Value) { FSelects = Value; }
    void SetProviderMgr(TVekJoinDataProviderMgr* Value) { FProviderMgr = Value; }
    // The FROM trees, one per comma-separated table reference.
    void SetFromTrees(const std::vector<TVekTableRefNode*>& Trees) { FFromTrees = Trees; }
    // The residual condition the analyser left (the whole WHERE when it did
    // not split it); the plan adds what it could not place.
    void SetResidualRoot(TVekExprNode* Value) { FResidualRoot = Value; }

    void PreparePlan() { InternalCreatePlan(); }
    // The residual condition of the plan (nullptr: none), bound to the
    // provider manager by PreparePlan.
    TVekExprNode* ResidualRoot() const { return FResidual ? FResidual->FirstNode() : nullptr; }

    static TVekJoinType MapJoinType(TVekTableRefType Type);

private:
    struct TComponent {
        TVekBaseJoinDataProvider* Root = nullptr;
        std::vector<TVekNonJoinDataProvider*> Leaves;
    };

    void InternalCreatePlan();
    TVekBaseJoinDataProvider* ParseFromNode(TVekTableRefNode* Node, int Depth, bool NullSupplied);
    TVekNonJoinDataProvider* NewLeaf(const std::string& TableName, const std::string& CorrelationName);
    void InternalCreateJoins();
    void InternalJoinUnmatched();
    void InternalAssignSelects();
    int ComponentOf(const TTableNameItem* Table) const;
    TVekNonJoinDataProvider* LeafOf(const std::string& TableName, const std::string& CorrelationName) const;
    void AddResidual(const TVekExprNode* Root);
    TVekStdJoinDataProvider* NewJoin(TVekBaseJoinDataProvider* Outer, TVekBaseJoinDataProvider* Inner,
                                     TVekJoinType JoinType, const TVekExprNode* Condition);

    TTableList* FTableList = nullptr;
    TVekJoins* FJoins = nullptr;
    TVekSelects* FSelects = nullptr;
    TVekJoinDataProviderMgr* FProviderMgr = nullptr;
    std::vector<TVekTableRefNode*> FFromTrees;
    TVekExprNode* FResidualRoot = nullptr;
    std::unique_ptr<TVekExpr> FResidual;
    std::vector<TComponent> FComponents;
    // Leaves whose rows an outer join may null-extend.
    std::vector<TVekNonJoinDataProvider*> FNullSupplied;
};

// Checks that a plan has all its inputs and prepares it.
class TVekQueryPlanner : public TObject {
public:
    void SetPlan(TVekPlan* Value) { FPlan = Value; }
    void SetTableList(TTableList* Value) { FTableList = Value; }
    void SetJoins(TVekJoins* Value) { FJoins = Value; }
    void SetSelects(TVekSelects* Value) { FSelects = Value; }
    void SetProviderMgr(TVekJoinDataProviderMgr* Value) { FProviderMgr = Value; }
    void PreparePlan();

private:
    TVekPlan* FPlan = nullptr;
    TTableList* FTableList = nullptr;
    TVekJoins* FJoins = nullptr;
    TVekSelects* FSelects = nullptr;
    TVekJoinDataProviderMgr* FProviderMgr = nullptr;
};

} // namespace orvex
