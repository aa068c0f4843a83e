#pragma once
// The FROM clause: a forest of table references.
//
// TVekFromParser reads the FROM section into table-reference nodes: table
// names with their correlation names, joins of every kind (with ON
// conditions or USING column lists) and subquery placeholders. Comma-separated
// references stay separate trees (Trees); the planner cross-joins them. Every
// table name also becomes an entry of the parser's table list, in order of
// appearance, against which the later clauses resolve their columns.
//
// TJoinPostProcessor turns the USING list of a join (and the shared columns
// of a NATURAL join) into an ON condition "left = right AND ...", so that the
// planner only ever sees ON joins.

#include "sql/vekBaseParser.h"

#include <memory>
#include <string>
#include <vector>

namespace orvex {

// The most joins one FROM clause may hold (more are refused with
// SvekExprTooDeep, so that walking its trees stays bounded).
inline constexpr int MaxJoinChain = 1000;

enum TVekTableRefType : std::uint8_t {
    trUnknown, trCrossJoin, trUnionJoin, trInnerJoin, trLeftOuterJoin, trRightOuterJoin,
    trFullOuterJoin, trSubQuery, trTableName,
};
inline constexpr int TVekTableRefTypeCount = trTableName + 1;
// "jtUnknown", "jtCrossJoin", ... "trSubQuery", "trTableName": for diagnostics.
extern const char* const CVekTableRefTypeNames[TVekTableRefTypeCount];

// Whether Type is one of the join types (trCrossJoin .. trFullOuterJoin).
constexpr bool IsJoinRefType(TVekTableRefType Type)
{
    return Type >= trCrossJoin && Type <= trFullOuterJoin;
}

// One node of the FROM forest: a table name, a subquery placeholder or a
// join of two sides. A node owns its ON expression and USING list; the sides
// belong to the parser that made them.
class TVekTableRefNode : public TObject {
public:
    TVekTableRefNode();
    ~TVekTableRefNode() override;

    // The ON condition; its FirstNode is the root (nullptr: none).
    TVekExpr* Expr() const { return FExpr.get(); }
    TVekTableRefType JoinType() const { return FJoinType; }
    void SetJoinType(TVekTableRefType Value) { FJoinType = Value; }
    const std::string& InnerTable() const { return FInnerTable; }
    void SetInnerTable(const std::string& Value) { FInnerTable = Value; }
    const std::string& OuterTable() const { return FOuterTable; }
    void SetOuterTable(const std::string& Value) { FOuterTable = Value; }
    // The join node created before this one.
    TVekTableRefNode* Next() const { return FNext; }
    void SetNext(TVekTableRefNode* Value) { FNext = Value; }
    TVekTableRefNode* Left() const { return FLeft; }
    void SetLeft(TVekTableRefNode* Value) { FLeft = Value; }
    TVekTableRefNode* Right() const { return FRight; }
    void SetRight(TVekTableRefNode* Value) { FRight = Value; }
    // The table name of a trTableName node.
    const std::string& Text() const { return FText; }
    void SetText(const std::string& Value) { FText = Value; }
    bool IsNaturalJoin() const { return FIsNaturalJoin; }
    void SetIsNaturalJoin(bool Value) { FIsNaturalJoin = Value; }
    TStringList* UsingColumnList() const { return FUsingColumnList.get(); }
    const std::string& CorrelationName() const { return FCorrelationName; }
    void SetCorrelationName(const std::string& Value) { FCorrelationName = Value; }

    // The node's line (text, " : text - ", the type's name) and its ON
    // expression's listing.
    void Display(const std::string& Indent, TStrings* Lines) const;
    // Left subtree, node, right subtree, two more blanks per level.
    void DisplayTree(const std::string& Indent, TStrings* Lines) const;

private:
    std::unique_ptr<TVekExpr> FExpr;
    TVekTableRefType FJoinType = trUnknown;
    std::string FInnerTable;
    std::string FOuterTable;
    TVekTableRefNode* FNext = nullptr;
    TVekTableRefNode* FLeft = nullptr;
    TVekTableRefNode* FRight = nullptr;
    std::string FText;
    bool FIsNaturalJoin = false;
    std::unique_ptr<TStringList> FUsingColumnList;
    std::string FCorrelationName;
};

class TVekFromParser : public TBaseParser {
public:
    TVekFromParser();
    ~TVekFromParser() override;

    // The base clear, then frees every node and empties the table list.
    void Clear() override;
    // The base Execute, then the clause; HasParseError tells the outcome.
    void Execute(TVekParserOptions Options, TParserStack* Stack) override;

    // The number of join nodes whose ON expression is not empty.
    int GetExprCount() const;
    void DebugDisplay(TStrings* Lines) const;
    static bool IsJoinSpecifier(TVekSQLToken Token);
    // A node of that type whose Next is the current Root, kept in Nodes.
    TVekTableRefNode* NewTableRefNode(TVekTableRefType JoinType);

    TTableList* TableList() const { return FTableList.get(); }
    // The last join node created (nullptr when the clause has no join).
    TVekTableRefNode* Root() const { return FRoot; }
    // Every node created, in order of creation.
    const std::vector<std::unique_ptr<TVekTableRefNode>>& Nodes() const { return FNodes; }
    // The top of each comma-separated table reference, in text order.
    const std::vector<TVekTableRefNode*>& Trees() const { return FTrees; }
    // The statement's tables with their fields (not owned; nullptr until
    // the tables are resolved). With them each ON condition is parsed
    // against the tables of its join, its columns typed and its operators
    // type-checked; without them ON is only read through, unchecked, to
    // learn the table list.
    void SetResolvedTables(const TTableList* Value) { FResolvedTables = Value; }

private:
    void ParseFromClause();
    TVekTableRefNode* ParseFrom1();        // a join chain
    TVekTableRefNode* ParseFrom2();        // a table primary
    void ParseJoinCondition(TVekTableRefNode* Node);
    void ParseUsingList(TVekTableRefNode* Node);
    bool AtUnionOfQueries() const;

    std::unique_ptr<TTableList> FTableList;
    const TTableList* FResolvedTables = nullptr;
    std::vector<std::unique_ptr<TVekTableRefNode>> FNodes;
    std::vector<TVekTableRefNode*> FTrees;
    TVekTableRefNode* FRoot = nullptr;
    int FDepth = 0;
    int FJoinCount = 0;
};

// Rewrites the USING lists (and NATURAL joins) of a FROM tree into ON
// conditions over the fields of the table list's entries.
class TJoinPostProcessor : public TObject {
public:
    // Processes the tree bottom-up; true when ErrorMsg stays empty.
    bool ProcessJoinTree(TVekTableRefNode* Root);
    // Adds "LeftField = RightField" (ANDed to an existing condition) to the
    // join node's ON expression; the two field nodes name the tables of the
    // table-name nodes they come from.
    bool CreateJoinExpr(const TTableNameItem* LeftTable, const std::string& LeftField,
                        const TTableNameItem* RightTable, const std::string& RightField,
                        TVekTableRefNode* Node);
    // The table entry of a table-name node that has the field, or nullptr
    // with ErrorMsg set.
    TTableNameItem* FindJoinField(const std::string& Field, const std::string& TableName,
                                  const std::string& CorrelationName);
    // The table-name node below Node whose table has the field (left side
    // first); subqueries never answer.
    TVekTableRefNode* FindTableRefNodeForField(const std::string& Field, TVekTableRefNode* Node);

    const std::string& ErrorMsg() const { return FErrorMsg; }
    void SetErrorMsg(const std::string& Value) { FErrorMsg = Value; }
    TTableList* TableList() const { return FTableList; }
    void SetTableList(TTableList* Value) { FTableList = Value; }

private:
    void ProcessNode(TVekTableRefNode* Node, int Depth);
    TTableNameItem* TableOfNode(const TVekTableRefNode* Node) const;
    void CollectTableNodes(TVekTableRefNode* Node, std::vector<TVekTableRefNode*>& Out, int Depth) const;
    void AddNaturalColumns(TVekTableRefNode* Node);

    std::string FErrorMsg;
    TTableList* FTableList = nullptr;
};

} // namespace orvex
