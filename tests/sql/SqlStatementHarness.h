#pragma once
// A small stand-in for the statement driver's item, for the parser tests: it
// runs the parser engine over a statement in the driver's order (checking
// for tokens left over also when the statement has nested statements), resolves
// the statement's tables against table definitions built here, parses nested
// statements (subqueries, UNION parts, INSERT ... SELECT, the WHERE of
// UPDATE and DELETE) with the nested engines the engine hands it, runs the
// select analyser's checks and the INSERT/UPDATE validations, and prints
// the outcome in a compact one-line form:
//
//   SELECT cols(a:Integer=t.a, n:Integer=COUNT(*)) FROM(t) WHERE((= t.a 1)) ...
//   ERROR: <message with its position>

#include "host/DBDefs.h"
#include "sql/vekParserEngine.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace orvex::sqltest {

// Table definitions by upper-cased name; each with its fields and indexes.
class TestSchema {
public:
    TestSchema();
    ~TestSchema();

    // A field list of (name, type, size) triples; sizes of strings count
    // characters.
    struct FieldSpec {
        std::string Name;
        TFieldType Type;
        Integer Size;
    };
    void AddTable(const std::string& Name, const std::vector<FieldSpec>& Fields, bool Memory = false);
    void AddIndex(const std::string& Table, const std::string& Name, const std::string& Fields, TIndexOptions Options);
    TInternalFields* Fields(const std::string& Table) const;
    TIndexDefs* Indexes(const std::string& Table) const;
    bool IsMemory(const std::string& Table) const;

    // The schema every parser test uses: t, u, emp, dept, proj, wide.
    static const TestSchema& Standard();

private:
    struct Table {
        std::unique_ptr<TInternalFields> Fields;
        std::unique_ptr<TIndexDefs> Indexes;
        bool Memory = false;
    };
    std::map<std::string, Table> FTables;
};

class TestStatement {
public:
    explicit TestStatement(const TestSchema& Schema, TestStatement* Parent = nullptr);
    ~TestStatement();

    // Parses Text; true when the statement is sound. Error() then tells why.
    bool Parse(const std::string& Text);
    // The compact form of the parsed statement, or "ERROR: " and the error.
    std::string Print() const;
    const std::string& Error() const { return FError; }
    TVekParserEngine* Engine() const { return FEngine; }
    TVekSelectAnalyser* Analyser() const { return FAnalyser.get(); }
    const std::vector<std::unique_ptr<TestStatement>>& Nested() const { return FNested; }

private:
    bool ParseByType();
    bool ParseSelect();
    bool ParseInsert();
    bool ParseDelete();
    bool ParseUpdate();
    bool ParseSchema();
    bool ParseWhereOnly();
    bool CheckTableList(TTableList* Tables, bool Report);
    void SetupTableLists(TTableList* Tables);
    bool Fail(const std::string& Message);
    bool FailEngine();
    void OnNotify(TParserNotifyType NotifyType, TVekParserEngine* Engine, TVekExprNode* Node, Variant& NotifyData);
    void Bind(TVekParserEngine* Engine);
    TTableNameItem* FindTable(const std::string& Name);
    TTableNameItem* FindTableForField(const std::string& Name);
    std::string FirstNestedError() const;

    std::string PrintSelect() const;
    std::string PrintExpr(const TVekExprNode* Node, int Depth = 0) const;
    std::string PrintFromTree(const TVekTableRefNode* Node, int Depth = 0) const;
    std::string PrintNested(const TVekExprNode* Node) const;

    const TestSchema& FSchema;
    TestStatement* FParent;
    std::unique_ptr<TVekParserEngine> FOwnEngine;
    TVekParserEngine* FEngine;
    std::unique_ptr<TVekSelectAnalyser> FAnalyser;
    std::vector<std::unique_ptr<TestStatement>> FNested;
    std::map<const TVekExprNode*, TestStatement*> FNodeStatements;
    std::vector<TestStatement*> FUnionParts;
    std::string FError;
    bool FIsUnionPart = false;
    bool FUnionAll = false;
    bool FWhereOnly = false;
    bool FDistinct = false;
};

// Parses and prints in one call.
std::string ParseAndPrint(const std::string& Text);

} // namespace orvex::sqltest
