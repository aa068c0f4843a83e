#pragma once
// The parser engine: every parser one SQL statement needs, run clause by
// clause for the statement item that owns the engine.
//
// Two single-stack pre-parses of the same text: the first serves every
// clause but FROM, the second the FROM clause (which the engine reads before
// the select list, so that the select list can resolve its columns against
// the tables). The clause operations answer true or false and leave the
// failing parser's message in ErrorText (GetErrorMsg adds its position).
//
// A subquery, a later UNION part, the SELECT of INSERT ... SELECT and the
// WHERE condition of UPDATE and DELETE are parsed by a nested engine: the
// engine copies the remaining tokens into it, hands it to the owner through
// the notify event (the owner parses it), then drops the tokens the nested
// engine consumed from its own stacks. Nested engines belong to the engine
// that made them unless the owner takes one with ReleaseNestedEngine.

#include "sql/vekExecParsers.h"
#include "sql/vekExprParser.h"
#include "sql/vekFromParser.h"
#include "sql/vekMiscParsers.h"
#include "sql/vekMiscParsersSchema.h"
#include "sql/vekSelectParser.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orvex {

class TVekParserEngine;

// The owner's handler: a nested engine to parse (pntSubquery,
// pntSelectUnion; NotifyData holds the UNION ALL flag of a UNION part), or a
// name to resolve from an enclosing statement (pntFindTableRef, no engine).
using TParserEngineNotifyEvent = std::function<void(TParserNotifyType NotifyType, TVekParserEngine* Engine,
                                                    TVekExprNode* Node, Variant& NotifyData)>;

// How deeply nested engines (subqueries within subqueries) may go.
inline constexpr int MaxNestedEngineDepth = 32;

class TVekParserEngine : public TObject {
public:
    TVekParserEngine();
    ~TVekParserEngine() override;

    // Pre-parses Text twice (single stack) and clears the clause parsers.
    bool PreParseSQL(const std::string& Text);
    bool ParseFromClause();
    bool ParseSelectClause();
    bool ParseWhereClause();
    bool ParseGroupByClause();
    bool ParseHavingClause();
    bool ParseOrderByClause();
    bool ParseInsertStatement();
    bool ParseDeleteStatement();
    bool ParseUpdateStatement();
    bool ParseSchemaManipulationStatement();
    // Whether a UNION follows; unless QueryOnly, also consumes an ALL
    // (UnionAll) and requires the SELECT that starts the next part.
    bool CheckForUnionStatement(bool QueryOnly, bool& UnionAll);
    bool CheckNoTokensRemain() const;
    bool CheckParseDone() const;
    // " Line %d, Character %d. Token '%s'" of the next unread token; empty
    // when none is left.
    std::string GetCurrentPreParserTokenAsErrorFmt() const;
    // The statement's parameter names, each once, in order of appearance.
    void GetParamList(TStrings* List);
    TVekSQLStatementType GetSQLStatementType() const;

    // The notify event of the engine's parsers (see the unit comment). The
    // owner calls it with pntSelectUnion (and the WHERE parser as Parser)
    // to have a further UNION part parsed.
    void ParserCallback(TParserNotifyType NotifyType, TBaseParser* Parser, TParserStack* Stack, TVekExprNode* Node,
                        Variant& NotifyData);
    // Hands a nested engine made by this one over to the caller, who frees
    // it; nullptr when Engine is not one of this engine's.
    TVekParserEngine* ReleaseNestedEngine(TVekParserEngine* Engine);

    // The message of the last clause parsed (empty: no error).
    const std::string& ErrorText() const { return FErrorText; }
    // ErrorText with the position of the token where the failing parser
    // stopped (" Line %d, Character %d. Token '%s'") when it has one.
    std::string GetErrorMsg() const;
    TBaseParser* LastParser() const { return FLastParser; }

    void SetParserEngineNotifyEvent(TParserEngineNotifyEvent Handler) { FOnNotify = std::move(Handler); }
    bool IsSubquery() const { return FIsSubquery; }
    void SetIsSubquery(bool Value) { FIsSubquery = Value; }
    bool HasUnionStatement() const { return FHasUnionStatement; }
    void SetHasUnionStatement(bool Value) { FHasUnionStatement = Value; }
    bool IsUnionSubstatement() const { return FIsUnionSubstatement; }
    void SetIsUnionSubstatement(bool Value) { FIsUnionSubstatement = Value; }
    bool SubqueryClosed() const { return FSubqueryClosed; }
    // How many engines enclose this one (0 for the statement's own).
    int NestingDepth() const { return FDepth; }

    TVekPreParser* PreParser() const { return FPreParser.get(); }
    TVekPreParser* FromPreParser() const { return FFromPreParser.get(); }
    TTableList* TableList() const { return FTableList.get(); }
    TVekFromParser* FromParser() const { return FFromParser.get(); }
    TVekExprParser* WhereParser() const { return FWhereParser.get(); }
    TVekExprParser* HavingParser() const { return FHavingParser.get(); }
    TVekSelectParser* SelectParser() const { return FSelectParser.get(); }
    TVekOrderByParser* OrderByParser() const { return FOrderByParser.get(); }
    TVekGroupByParser* GroupByParser() const { return FGroupByParser.get(); }
    TOrderByItems* OrderByItems() const { return FOrderByItems.get(); }
    TGroupByItems* GroupByItems() const { return FGroupByItems.get(); }
    TVekInsertParser* InsertParser() const { return FInsertParser.get(); }
    TVekDeleteParser* DeleteParser() const { return FDeleteParser.get(); }
    TVekUpdateParser* UpdateParser() const { return FUpdateParser.get(); }
    TVekSchemaManipulationParser* SchemaParser() const { return FSchemaParser.get(); }
    // The nested engines this engine still owns, in order of creation.
    const std::vector<std::unique_ptr<TVekParserEngine>>& NestedEngines() const { return FNestedEngines; }

private:
    // Records the outcome of a clause: its message and the parser whose
    // position it refers to.
    bool Outcome(TBaseParser* Parser);
    bool Fail(TBaseParser* Parser, const TParserToken* Token, const std::string& Msg);
    bool ProcessJoins();
    // Resolved: the statement's tables with their fields, or nullptr on the
    // first pass that learns them.
    void RunFromParser(TParserStack* Stack, TParserToken* ListEnd, const TTableList* Resolved);
    void ParseNested(TParserNotifyType NotifyType, TBaseParser* Parser, TVekExprNode* Node, Variant& NotifyData);
    static TVekPreParser* FewerTokensLeft(TVekPreParser* First, TVekPreParser* Second);

    std::unique_ptr<TVekPreParser> FPreParser;
    std::unique_ptr<TVekPreParser> FFromPreParser;
    std::unique_ptr<TTableList> FTableList;
    std::unique_ptr<TVekFromParser> FFromParser;
    std::unique_ptr<TVekExprParser> FWhereParser;
    std::unique_ptr<TVekExprParser> FHavingParser;
    std::unique_ptr<TVekSelectParser> FSelectParser;
    std::unique_ptr<TVekOrderByParser> FOrderByParser;
    std::unique_ptr<TVekGroupByParser> FGroupByParser;
    std::unique_ptr<TOrderByItems> FOrderByItems;
    std::unique_ptr<TGroupByItems> FGroupByItems;
    std::unique_ptr<TVekInsertParser> FInsertParser;
    std::unique_ptr<TVekDeleteParser> FDeleteParser;
    std::unique_ptr<TVekUpdateParser> FUpdateParser;
    std::unique_ptr<TVekSchemaManipulationParser> FSchemaParser;
    std::vector<std::unique_ptr<TVekParserEngine>> FNestedEngines;
    // A SELECT token: the section start of a subquery's select list.
    TParserToken FSelectToken;

    std::string FErrorText;
    TBaseParser* FErrorParser = nullptr;
    TParserEngineNotifyEvent FOnNotify;
    bool FIsSubquery = false;
    bool FSubqueryClosed = false;
    TBaseParser* FLastParser = nullptr;
    bool FHasUnionStatement = false;
    bool FIsUnionSubstatement = false;
    int FDepth = 0;
};

} // namespace orvex
