#pragma once
// The expression parser: the tokens of one clause into an expression tree.
//
// Seven levels of recursive descent: OR, AND, NOT, predicates (comparisons,
// IS [NOT] NULL, [NOT] LIKE [ESCAPE], [NOT] BETWEEN, [NOT] IN), additive and
// multiplicative operators, and primaries (constants, columns, parameters,
// parenthesised conditions, subqueries, CAST, EXTRACT, aggregate and string
// functions). Columns are resolved and typed against a table list; string
// constants compared with dates become dates; BETWEEN becomes two
// comparisons. Subqueries and outer references go to the owner through
// OnParserNotify. Every error is recorded (first one only) at its token.

#include "sql/vekBaseParser.h"
#include "sql/vekMiscParsers.h"

#include <memory>

namespace orvex {

class TVekExprParser : public TBaseParser {
public:
    TVekExprParser();
    ~TVekExprParser() override;

    // A new own expression; Root := the search condition of the stack.
    void Execute(TVekParserOptions Options, TParserStack* Stack) override;
    // A search condition into the caller's expression (kept and freed by the
    // caller; Root points into it). True without error.
    bool ExecuteExternalExpr(TVekExpr* Expr, TVekParserOptions Options, TParserStack* Stack);
    // The same for a value expression; sets Expr's ParsedText.
    bool ExecuteExternalValueExpr(TVekExpr* Expr, TVekParserOptions Options, TParserStack* Stack);
    // With Replace, Root becomes a deep copy of Expr's root; else the copy
    // is joined to Root by a new Op (veoAND or veoOR) node.
    void CloneFromExpr(const TVekExpr* Expr, bool Replace, TVekExprOperator Op = veoAND);

    void SetExprParams(TVekParserOptions Value) { FOptions = Value; }
    void SetValidEndTokens(const TVekSQLTokens& Value) { FValidEndTokens = Value; }
    const TVekSQLTokens& ValidEndTokens() const { return FValidEndTokens; }
    void SetTableList(TTableList* Value) { FTableList = Value; }
    TTableList* TableList() const { return FTableList; }
    void SetCaseInsensitiveMatch(bool Value) { FCaseInsensitiveMatch = Value; }
    void SetPartialStringComparison(bool Value) { FPartialStringComparison = Value; }
    void SetIgnoreTypeChecks(bool Value) { FIgnoreTypeChecks = Value; }
    void SetValidateFields(bool Value) { FValidateFields = Value; }
    // HAVING: a column that no table of the list has may name a result
    // column. It stays untyped, and so does arithmetic over it, until the
    // result columns bind it; inside an aggregate's argument a column must
    // still be a table's.
    void SetAllowResultColumnNames(bool Value) { FAllowResultColumnNames = Value; }

    TVekExpr* Expr() const { return FExpr.get(); }
    TVekExprNode* Root() const { return FRoot; }

    // Helpers shared with the statement parsers; they work on the
    // expression being built.
    TVekExprNode* ParseValueExpr() { return ParseGeneralValueExpr(false); }
    TVekExprNode* ParseCharacterValueExpr();
    TVekExprNode* ParseSetFunctionExpr(bool& Distinct);
    TVekExprNode* ParseCastExpr();
    TVekExprNode* ParseExtractExpr();
    // Reads a type with a data-type parser on this parser's stack; its error
    // is passed on. True without error.
    bool ParseDataType(TVekDataTypeParser& Parser);
    TVekExprScopeKind GetScopeKind(TVekExprNode* Node, TVekExprNode* L, TVekExprNode* R);
    void TypeCheckArithOp(TVekExprNode* Node);
    static bool IsNumeric(TFieldType DataType);
    static bool IsTemporal(TFieldType DataType);
    static bool IsString(TFieldType DataType) { return DataType == ftString || DataType == ftWideString; }
    void GetArithResultSize(TVekExprNode* Node);
    void CheckDataConversionValid(TFieldType From, TFieldType To, const TParserToken* Token);
    void CheckDataConversions(TVekExprNode* A, TVekExprNode* B);
    // Text to a date, time or date-time value; an engine conversion error is
    // recorded as this parser's error at Token. False on error.
    bool ConvertStrToDateTime(const std::string& Text, TFieldType FieldType, Variant& Result,
                              const TParserToken* Token);
    void ConvertStringValueToTemporal(TVekExprNode* Node, TFieldType DataType);
    TFieldType InternalGetFieldType(const std::string& Table, const std::string& Field);
    Integer InternalGetFieldSize(const std::string& Table, const std::string& Field);
    TFieldType InternalGetFieldTypeFromList(TTableList* List, const std::string& Table,
                                            const std::string& Field);
    Integer InternalGetFieldSizeFromList(TTableList* List, const std::string& Table,
                                         const std::string& Field);

    static TVekExprOperator GetOperator(const std::string& Text);
    static TVekExprNodeKind GetExprNodeKind(TVekExprOperator Operator);

private:
    // Records the error and stops node creation in the expression.
    void Error(const TParserToken* Token, const std::string& Msg);
    // Steps past the current token when it is Type; otherwise records Msg
    // at the current token. False on error.
    bool ExpectToken(TVekSQLToken Type, const std::string& Msg);
    // False, with Msg recorded at the current token, when Option is off.
    bool RequireOption(TVekParserOption Option, const std::string& Msg);
    bool EnterNesting();
    void LeaveNesting() { --FNesting; }
    TVekExprNode* NewNode(TVekExprNodeKind Kind, TVekExprOperator Operator, const Variant& Data,
                          TVekExprNode* Left, TVekExprNode* Right, const TParserToken* Token);
    // A node with operands; refused when the tree grows too tall.
    TVekExprNode* NewBinaryNode(TVekExprNodeKind Kind, TVekExprOperator Operator, TVekExprNode* Left,
                                TVekExprNode* Right, const TParserToken* Token);
    // An arithmetic node of Left and Right, type-checked and sized.
    TVekExprNode* NewArithNode(TVekExprOperator Operator, TVekExprNode* Left, TVekExprNode* Right,
                               const TParserToken* Token);
    void AddArg(TVekExprNode* Node, TVekExprNode* Arg);
    void BeginExpr(TVekExpr* Target);
    // Parses the stack with Parse into Expr, which is not this parser's own;
    // the parser's own expression stays the target afterwards.
    bool ParseExternal(TVekExpr* Expr, TVekParserOptions Options, TParserStack* Stack,
                       TVekExprNode* (TVekExprParser::*Parse)());

    // Operand {Word Operand}, left-associative, as Op nodes.
    TVekExprNode* ParseLogicalChain(TVekSQLToken Word, TVekExprOperator Op,
                                    TVekExprNode* (TVekExprParser::*Operand)());
    TVekExprNode* ParseSearchCondition(); // level 1
    TVekExprNode* ParseBoolTerm();        // level 2
    TVekExprNode* ParseBoolFactor();      // level 3
    TVekExprNode* ParsePredicate();       // level 4
    TVekExprNode* ParseExpr5();
    TVekExprNode* ParseExpr6();
    TVekExprNode* ParseExpr7();
    TVekExprNode* ParseGeneralValueExpr(bool IsSetFunction, bool* Distinct = nullptr);
    TVekExprNode* ParseComparison(TVekExprNode* E);
    TVekExprNode* ParseLike(TVekExprNode* E);
    TVekExprNode* ParseBetween(TVekExprNode* E);
    TVekExprNode* ParseIn(TVekExprNode* E);
    TVekExprNode* ParseField();
    // Asks the owner (pntFindTableRef) to resolve TableName.FieldName from an
    // enclosing query; when it does, Node becomes an outer reference.
    bool ResolveOuterReference(TVekExprNode* Node, const std::string& TableName, const std::string& FieldName);
    TVekExprNode* ParseParameter();
    TVekExprNode* ParseSubquery(TVekSubqueryType Type);
    TVekExprNode* ParseAggregate();
    TVekExprNode* ParseStrFunc();
    // Type and scope checks of a comparison, LIKE or IS [NOT] NULL node.
    void FinishPredicate(TVekExprNode* Node, TVekExprNode* L, TVekExprNode* R);
    bool IsEndOfClause() const;

    std::unique_ptr<TVekExpr> FExpr;
    TVekExpr* FTarget = nullptr; // the expression nodes go into
    TVekExprNode* FRoot = nullptr;
    TVekSQLTokens FValidEndTokens{vstEnd};
    TTableList* FTableList = nullptr;
    bool FCaseInsensitiveMatch = false;
    bool FPartialStringComparison = false;
    bool FIgnoreTypeChecks = false;
    bool FValidateFields = false;
    bool FAllowResultColumnNames = false;
    int FNesting = 0;
    int FAggregateDepth = 0; // aggregates whose argument is being parsed
};

// Whether Node is the pair of comparisons a [NOT] BETWEEN became: an AND
// (for NOT BETWEEN an OR) of the two comparisons, holding the BETWEEN token
// as its first token argument (the comparisons carry it as their own token).
bool IsBetweenNode(const TVekExprNode* Node);

} // namespace orvex
