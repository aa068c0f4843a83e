#pragma once
// The query analyser: splits the WHERE condition of a statement into
// selections (conditions one table answers by itself) and join items
// (comparisons between the tables of a set). It splits only when the whole
// condition is a conjunction of such pieces; otherwise nothing is split and
// the whole condition is evaluated for every joined row.
//
// Tables are told apart by table name and correlation name together, so
// that two instances of one table (a self-join) get their own selections.

#include "sql/vekParserUtils.h"

#include <memory>
#include <string>
#include <vector>

namespace orvex {

class TVekSelectItem : public TCollectionItem {
public:
    explicit TVekSelectItem(TCollection* Collection);
    ~TVekSelectItem() override;

    TVekExpr* Expr() const { return FExpr.get(); }
    TVekExprNode* ExprRoot() const { return FExpr ? FExpr->FirstNode() : nullptr; }
    const std::string& TableName() const { return FTableName; }
    void SetTableName(const std::string& Value) { FTableName = Value; }
    const std::string& CorrelationName() const { return FCorrelationName; }
    void SetCorrelationName(const std::string& Value) { FCorrelationName = Value; }
    // Clones Root as the selection, or ANDs the clone to the existing one.
    void SetSelectExprRoot(const TVekExprNode* Root);

private:
    std::unique_ptr<TVekExpr> FExpr;
    std::string FTableName;
    std::string FCorrelationName;
};

class TVekSelects : public TCollection {
public:
    TVekSelects();
    TVekSelectItem* Items(int Index) const { return static_cast<TVekSelectItem*>(TCollection::Items(Index)); }
    // The item of that table instance, added when missing.
    TVekSelectItem* GetSelectItem(const std::string& TableName, const std::string& CorrelationName);
    TVekSelectItem* FindSelectItem(const std::string& TableName, const std::string& CorrelationName) const;
};

class TVekJoinItem : public TCollectionItem {
public:
    explicit TVekJoinItem(TCollection* Collection);
    ~TVekJoinItem() override;

    TVekExpr* Expr() const { return FExpr.get(); }
    TVekExprNode* ExprRoot() const { return FExpr ? FExpr->FirstNode() : nullptr; }
    TTableList* TableList() const { return FTableList.get(); }
    // Clones Root as the condition, or ANDs the clone to the existing one.
    void SetJoinExprRoot(const TVekExprNode* Root);

private:
    std::unique_ptr<TVekExpr> FExpr;
    std::unique_ptr<TTableList> FTableList;
};

class TVekJoins : public TCollection {
public:
    TVekJoins();
    TVekJoinItem* Items(int Index) const { return static_cast<TVekJoinItem*>(TCollection::Items(Index)); }
    // The item whose table set is exactly Tables, added when missing.
    TVekJoinItem* GetJoinItem(const TTableList* Tables);
};

// A node of the analyser's mirror of the WHERE tree.
class TQueryAnalyserNode {
public:
    TQueryAnalyserNode();
    ~TQueryAnalyserNode();

    std::unique_ptr<TTableList> TableList;
    TQueryAnalyserNode* Left = nullptr;
    TQueryAnalyserNode* Right = nullptr;
    TVekExprNode* ExprNode = nullptr;
    bool SplitOK = false;
};

class TVekQueryAnalyser : public TObject {
public:
    TVekQueryAnalyser();
    ~TVekQueryAnalyser() override;

    // Splits WhereRoot (may be nullptr) over the tables of TableList.
    void Prepare(TVekJoins* Joins, TVekSelects* Selects, TVekExprNode* WhereRoot, TTableList* TableList);
    // True when there is no WHERE or the whole WHERE was split.
    bool CheckAnalysisComplete() const;
    TVekExpr* GetTempExpr();
    void Clear();

private:
    TQueryAnalyserNode* Mirror(TVekExprNode* Node, int Depth);
    void AddTablesOf(const TVekExprNode* Node, TTableList* Tables, int Depth) const;
    void CreateSelectList();
    void ParseTableLists(TQueryAnalyserNode* Node);
    void ParseSelects(TQueryAnalyserNode* Node);
    void ParseJoins(TQueryAnalyserNode* Node);
    bool CheckNodeSplitStatus(TQueryAnalyserNode* Node);

    TVekJoins* FJoins = nullptr;
    TVekSelects* FSelects = nullptr;
    TQueryAnalyserNode* FRoot = nullptr;
    std::vector<std::unique_ptr<TQueryAnalyserNode>> FNodes;
    TTableList* FTableList = nullptr;
    std::unique_ptr<TVekExpr> FTempExpr;
};

} // namespace orvex
