#pragma once
// The data structures every SQL parser shares:
//   - TParserToken and TParserStack: the tokens of one clause, in text order,
//     consumed from the top;
//   - TVekPreParser: runs the tokenizer over a whole statement once, sorts the
//     tokens into one stack per clause, classifies the statement and lists its
//     parameters; it owns every token it (or a copy of its stacks) made;
//   - TVekExprNode and TVekExpr: expression trees; an expression owns every
//     node it created or cloned through one chain (Next), trees are linked by
//     Left, Right and Args only;
//   - TTableNameItem and TTableList: the tables against which column names
//     are resolved;
//   - TVekOpEvaluator, TVekDataConversionValidator and
//     TVekStrToDateTimeConverter: the value semantics of expressions (the
//     NULL rules, which types convert into which, date and time texts).

#include "host/Classes.h"
#include "host/DB.h"
#include "host/DateUtils.h"
#include "host/Variants.h"
#include "storage/vekConsts.h"
#include "storage/vekDataUnitFields.h"

#include <deque>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

namespace orvex {

class TDataSet;
class TTableList;
class TVekTokenParser;

// ================================================================ tokens

// One token of a statement: its kind, the clause it was read in, its text as
// the tokenizer gave it (literals without quotes, compound keywords joined by
// one blank), its position and the characters consumed for it.
class TParserToken : public TObject {
public:
    // Copies every field of Source (nothing for nullptr).
    void AssignToken(const TParserToken* Source);

    Integer LineOffset() const { return FLineOffset; }
    void SetLineOffset(Integer Value) { FLineOffset = Value; }
    Integer LineNo() const { return FLineNo; }
    void SetLineNo(Integer Value) { FLineNo = Value; }
    TVekSQLToken Token() const { return FToken; }
    void SetToken(TVekSQLToken Value) { FToken = Value; }
    TVekSQLToken Section() const { return FSection; }
    void SetSection(TVekSQLToken Value) { FSection = Value; }
    const std::string& Text() const { return FText; }
    void SetText(const std::string& Value) { FText = Value; }
    // The aggregate function, field type or string function of vstAggFunc,
    // vstDataType and vstStrFunc tokens; the subquery type of a subquery's
    // SELECT token; the extract field of an EXTRACT token; else 0.
    Integer CustomOrdinal() const { return FCustomOrdinal; }
    void SetCustomOrdinal(Integer Value) { FCustomOrdinal = Value; }
    const std::string& RawTokenText() const { return FRawTokenText; }
    void SetRawTokenText(const std::string& Value) { FRawTokenText = Value; }

private:
    Integer FLineOffset = 0;
    Integer FLineNo = 0;
    TVekSQLToken FToken = vstUnknown;
    TVekSQLToken FSection = vstUnknown;
    std::string FText;
    Integer FCustomOrdinal = 0;
    std::string FRawTokenText;
};

// The tokens of one clause. The last item is the top; the pre-parser queues
// each token at the bottom, so the top is always the next token in text
// order. The tokens are not owned.
class TParserStack : public TObject {
public:
    void Push(TParserToken* Token) { FItems.push_back(Token); }
    void PushItem(TParserToken* Token) { Push(Token); }
    void Queue(TParserToken* Token) { FItems.push_front(Token); }
    // Remove and return the top; nullptr when empty.
    TParserToken* Pop();
    TParserToken* PopItem() { return Pop(); }
    // The top; nullptr when empty.
    TParserToken* Peek() const { return FItems.empty() ? nullptr : FItems.back(); }
    TParserToken* PeekItem() const { return Peek(); }
    // The I-th token below the top (0 = the top); nullptr beyond the stack.
    TParserToken* PeekAt(int I) const;
    int Count() const { return static_cast<int>(FItems.size()); }
    bool AtLeast(int N) const { return N <= Count(); }
    void Clear() { FItems.clear(); }
    // Removes tokens from the top until N remain (nothing when N >= Count).
    void SetCountTo(int N);
    // Clears this stack and fills it with new copies of Source's tokens in
    // the same order; Owner receives (and owns) every copy.
    void CopyStack(const TParserStack* Source, std::vector<std::unique_ptr<TParserToken>>& Owner);

    TVekSQLToken Section() const { return FSection; }
    void SetSection(TVekSQLToken Value) { FSection = Value; }

    // Bottom first, top last.
    const std::deque<TParserToken*>& Items() const { return FItems; }

private:
    std::deque<TParserToken*> FItems;
    TVekSQLToken FSection = vstUnknown;
};

// Whether Token starts a clause: SELECT .. FOR UPDATE, INSERT, DELETE, UPDATE.
bool IsSectionToken(TVekSQLToken Token);

// Runs the tokenizer over a statement and sorts its tokens into stacks (see
// the unit comment). Modes: sectioned (one stack per clause keyword),
// expression-only (one WHERE stack holding every token) and single stack
// (every token but comments in one stack, section keywords included).
class TVekPreParser : public TObject {
public:
    TVekPreParser();
    ~TVekPreParser() override;

    void SetText(const std::string& Text); // frees the stacks first
    const std::string& Text() const { return FText; }
    void SetParseAsExprOnly(bool Value) { FParseAsExprOnly = Value; }
    bool ParseAsExprOnly() const { return FParseAsExprOnly; }
    void SetParseSingleStack(bool Value) { FParseSingleStack = Value; }
    bool ParseSingleStack() const { return FParseSingleStack; }
    // Pre-parses Text in the chosen mode and fills in the tokens' ordinals.
    void PreParseTokens();
    TVekSQLStatementType SQLStatementType() const { return FSQLStatementType; }
    void SetSQLStatementType(TVekSQLStatementType Value) { FSQLStatementType = Value; }
    const std::string& UnparsedText() const { return FUnparsedText; }

    // The stack of clause Section (a section token, else an assertion).
    TParserStack* GetSection(TVekSQLToken Section, const TParserToken* Token = nullptr);
    int GetSectionCount() const { return static_cast<int>(FStacks.size()); }
    TParserStack* Stacks(int Index) const { return FStacks.at(static_cast<std::size_t>(Index)).get(); }
    TParserStack* GetSingleStack();
    int GetSingleStackCount() const;
    void SetSingleStackCountTo(int N);

    // Every parameter name once, in the order of first appearance (names
    // compared ignoring case; the spelling of the first use is kept).
    void GetParamList(TStrings* List) const;
    // Single-stack mode: whether nothing but comments and the final end
    // token is left, and the tokenizer read the whole text.
    bool CheckParseComplete() const;

    // Clears the stacks and copies each of Source's (tokens into this
    // pre-parser's own tokens, sections kept).
    void AssignStacks(const TVekPreParser* Source);
    // Becomes what pre-parsing Source's text in Source's modes gives: the
    // text, modes, statement type and unparsed rest, and the stacks as
    // copies of Source's tokens.
    void AssignPreParse(const TVekPreParser* Source);
    // Cuts each stack to the count of Other's matching stack.
    void TrimStacks(const TVekPreParser* Other);
    // Frees the stacks (the tokens stay owned until destruction).
    void Clear();

    int OwnedTokenCount() const { return static_cast<int>(FOwnedTokens.size()); }

private:
    void InternalParse();
    void InternalParseSingleStack();
    void InternalPostProcessTokens();
    // A token of the kind and text the tokenizer just read, owned here.
    TParserToken* NewToken(const TVekTokenParser& Tokenizer, TVekSQLToken Kind, const std::string& Text,
                           TVekSQLToken Section);
    static TVekSQLStatementType StatementTypeOf(TVekSQLToken Token);
    // A new stack of the section, owned here.
    TParserStack* AddStack(TVekSQLToken Section);
    // Queues a new token on Stack; the first token queued (First) gives the
    // statement's type.
    void QueueToken(TParserStack* Stack, const TVekTokenParser& Tokenizer, TVekSQLToken Kind,
                    const std::string& Text, TVekSQLToken Section, bool& First);
    // The statement type of an expression-only parse and the text left over.
    void EndParse(const TVekTokenParser& Tokenizer);

    std::vector<std::unique_ptr<TParserStack>> FStacks;
    std::vector<std::unique_ptr<TParserToken>> FOwnedTokens;
    std::string FText;
    bool FParseAsExprOnly = false;
    bool FParseSingleStack = false;
    TVekSQLStatementType FSQLStatementType = vsSQLUnknown;
    std::string FUnparsedText;
};

// ====================================================== expression trees

// The tallest expression tree (arguments included) the parsers build, so
// that evaluating, copying or listing a tree never exhausts the stack.
inline constexpr int MaxExprTreeHeight = 1000;

enum TVekExprNodeKind : std::uint8_t {
    enkUnknown, enkField, enkConst, enkParam, enkRelOperator, enkArithOperator,
    enkLogicalOperator, enkFunc, enkNonRelPredicate, enkSubquery,
};
inline constexpr int TVekExprNodeKindCount = enkSubquery + 1;
// "enkUnknown" ... for diagnostics.
extern const char* const CVekExprNodeKindNames[TVekExprNodeKindCount];

// The first-column values of a subquery's rows, as IN looks them up:
// plain numbers and strings by value (equal values compare equal exactly
// when these are equal), and whether a missing value or a value of another
// kind (a date, a currency, a Boolean, a NaN) is among them.
struct TSubqueryValueSet {
    bool AnyMissing = false;
    bool AnyOther = false;
    std::unordered_set<double> Numbers;
    std::unordered_set<std::string> Strings;
};

// The object that runs a subquery for a subquery node and exposes its result
// as a dataset. The query layer's descendant does the work.
class TCustomExprNodeDataProvider : public TObject {
public:
    TDataSet* ProviderDataset() const { return FProviderDataset; }
    void SetProviderDataset(TDataSet* Value) { FProviderDataset = Value; }
    // Runs the subquery and opens ProviderDataset; true on success.
    virtual bool PrepareAndOpen() { return false; }
    // Whether the rows stay the same from one PrepareAndOpen to the next
    // until the provider fills them again (an uncorrelated subquery).
    virtual bool RowsAreReused() const { return false; }
    // The value set of the current rows, made by IN on first need and
    // discarded whenever the rows are filled again.
    std::unique_ptr<TSubqueryValueSet>& ValueSet() { return FValueSet; }

protected:
    void DiscardValueSet() { FValueSet.reset(); }

private:
    TDataSet* FProviderDataset = nullptr;
    std::unique_ptr<TSubqueryValueSet> FValueSet;
};

class TVekExprNode : public TObject {
public:
    TVekExprNode();
    ~TVekExprNode() override;

    Integer DataSize() const { return FDataSize; }
    void SetDataSize(Integer Value) { FDataSize = Value; }
    TVekExprNode* Left() const { return FLeft; }
    void SetLeft(TVekExprNode* Value);
    TVekExprNode* Right() const { return FRight; }
    void SetRight(TVekExprNode* Value);
    TVekExprNode* Next() const { return FNext; }
    void SetNext(TVekExprNode* Value) { FNext = Value; }
    TVekExprOperator Operator() const { return FOperator; }
    void SetOperator(TVekExprOperator Value) { FOperator = Value; }
    TVekExprNodeKind Kind() const { return FKind; }
    void SetKind(TVekExprNodeKind Value) { FKind = Value; }
    TVekExprScopeKind ScopeKind() const { return FScopeKind; }
    void SetScopeKind(TVekExprScopeKind Value) { FScopeKind = Value; }
    TFieldType DataType() const { return FDataType; }
    void SetDataType(TFieldType Value) { FDataType = Value; }
    // Argument and list nodes (also in the owning expression's chain).
    std::vector<TVekExprNode*>& Args() { return FArgs; }
    const std::vector<TVekExprNode*>& Args() const { return FArgs; }
    void SetArgs(const std::vector<TVekExprNode*>& Value) { FArgs = Value; }
    // Tokens of the pre-parser that belong to the node (not owned).
    std::vector<TParserToken*>& TokenArgs() { return FTokenArgs; }
    const std::vector<TParserToken*>& TokenArgs() const { return FTokenArgs; }
    void SetTokenArgs(const std::vector<TParserToken*>& Value) { FTokenArgs = Value; }
    // The node's own copy of the token that produced it (never nullptr).
    TParserToken* ParserToken() const { return FParserToken.get(); }
    void SetParserToken(const TParserToken* Token);
    const Variant& Data() const { return FData; }
    void SetData(const Variant& Value) { FData = Value; }
    bool CaseInsensitiveMatch() const { return FCaseInsensitiveMatch; }
    void SetCaseInsensitiveMatch(bool Value) { FCaseInsensitiveMatch = Value; }
    bool PartialMatch() const { return FPartialMatch; }
    void SetPartialMatch(bool Value) { FPartialMatch = Value; }
    Integer PartialLength() const { return FPartialLength; }
    void SetPartialLength(Integer Value) { FPartialLength = Value; }
    TTableList* SourceTables() const { return FSourceTables.get(); }
    TCustomExprNodeDataProvider* ExprNodeDataProvider() const { return FExprNodeDataProvider; }
    void SetExprNodeDataProvider(TCustomExprNodeDataProvider* Value) { FExprNodeDataProvider = Value; }
    TVekExprOperator OriginalOperator() const { return FOriginalOperator; }
    void SetOriginalOperator(TVekExprOperator Value) { FOriginalOperator = Value; }
    const Variant& OriginalData() const { return FOriginalData; }
    void SetOriginalData(const Variant& Value) { FOriginalData = Value; }

    // The height of the tree below the node, arguments included (1 for a
    // leaf); kept as Left and Right are set, recomputed by RecalcHeight after
    // Args change. The parsers refuse trees taller than MaxExprTreeHeight.
    int Height() const { return FHeight; }
    void RecalcHeight() { UpdateHeight(); }

    // Copies everything but Args and Next (Left and Right as references).
    void AssignNode(const TVekExprNode* Source);
    // A new node assigned from this one whose Args are new nodes assigned
    // from this one's Args. The copies are not in any chain: CloneSubTree
    // puts them into an expression.
    TVekExprNode* CloneNode() const;
    // Converts Data to FieldType (for the first twelve types) and sets it.
    // A value that does not convert raises the variant error.
    void SetAndConvertDataType(TFieldType FieldType);
    bool AreNodesEquivalent(const TVekExprNode* Other) const;
    void Display(const std::string& Indent, TStrings* Lines) const;
    static void DisplayExprTree(const std::string& Indent, const TVekExprNode* Node, TStrings* Lines);

private:
    void UpdateHeight();

    Integer FDataSize = -1;
    TVekExprNode* FLeft = nullptr;
    TVekExprNode* FRight = nullptr;
    TVekExprNode* FNext = nullptr;
    TVekExprOperator FOperator = veoNOTDEFINED;
    TVekExprNodeKind FKind = enkUnknown;
    TVekExprScopeKind FScopeKind = vskField;
    TFieldType FDataType = ftUnknown;
    std::vector<TVekExprNode*> FArgs;
    std::vector<TParserToken*> FTokenArgs;
    std::unique_ptr<TParserToken> FParserToken;
    Variant FData;
    bool FCaseInsensitiveMatch = false;
    bool FPartialMatch = false;
    Integer FPartialLength = -1;
    std::unique_ptr<TTableList> FSourceTables;
    TCustomExprNodeDataProvider* FExprNodeDataProvider = nullptr;
    TVekExprOperator FOriginalOperator = veoNOTDEFINED;
    Variant FOriginalData;
    int FHeight = 1;
};

// An expression: the owner of a chain of nodes. FirstNode heads the chain
// and, once a tree has been built or cloned, is its root by convention.
class TVekExpr : public TObject {
public:
    ~TVekExpr() override;

    // A new node at the head of the chain; nullptr once ErrorMsg is set.
    TVekExprNode* NewNode(TVekExprNodeKind Kind, TVekExprOperator Operator, const Variant& Data,
                          TVekExprNode* Left, TVekExprNode* Right, const TParserToken* Token);
    TVekExprNode* NewFieldNode(TVekExprNodeKind Kind, TVekExprOperator Operator, const Variant& Data,
                               TVekExprNode* Left, TVekExprNode* Right, const TParserToken* Token,
                               TFieldType DataType, Integer DataSize);
    // Frees every node of the chain.
    void Clear();
    // A deep copy of the subtree into this expression (the copy's root).
    TVekExprNode* CloneSubTree(const TVekExprNode* Node);
    // CloneSubTree, the copy's root made the first node.
    TVekExprNode* CloneFromTree(const TVekExprNode* Root);
    void SetAsFirstNode(TVekExprNode* Node);
    int GetNodeCount() const;
    bool ExprContainsToken(TVekSQLToken Kind) const { return FindNodeWithToken(Kind) != nullptr; }
    TVekExprNode* FindNodeWithToken(TVekSQLToken Kind) const;
    void ResetSpecifiedNodes(TVekSQLToken Kind, TVekSQLToken NewKind, TVekExprNodeKind NodeKind,
                             TVekExprOperator Operator, const Variant& Data);
    bool ExprContainsField(const std::string& Name) const;
    // The raw texts of the subtree's tokens, left, node, right.
    std::string ExtractParsedText(const TVekExprNode* Node) const;
    void Display(TStrings* Lines) const;
    // A copy of Token owned by this expression, for a node's TokenArgs: the
    // expression never points into a pre-parser that may be freed first.
    TParserToken* AdoptToken(const TParserToken* Token);

    TVekExprNode* FirstNode() const { return FFirstNode; }
    const std::string& ErrorMsg() const { return FErrorMsg; }
    void SetErrorMsg(const std::string& Value) { FErrorMsg = Value; }
    bool CaseInsensitiveMatch() const { return FCaseInsensitiveMatch; }
    void SetCaseInsensitiveMatch(bool Value) { FCaseInsensitiveMatch = Value; }
    bool PartialStringComparisons() const { return FPartialStringComparisons; }
    void SetPartialStringComparisons(bool Value) { FPartialStringComparisons = Value; }
    const std::string& ParsedText() const { return FParsedText; }
    void SetParsedText(const std::string& Value) { FParsedText = Value; }

private:
    void Chain(TVekExprNode* Node);
    TVekExprNode* InternalCloneSubTree(const TVekExprNode* Node, int Depth);

    TVekExprNode* FFirstNode = nullptr;
    std::vector<std::unique_ptr<TParserToken>> FOwnedTokens;
    std::string FErrorMsg;
    bool FCaseInsensitiveMatch = false;
    bool FPartialStringComparisons = false;
    std::string FParsedText;
};

// ============================================================ table list

class TTableNameItem : public TCollectionItem {
public:
    explicit TTableNameItem(TCollection* Collection);
    ~TTableNameItem() override;

    // From another TTableNameItem: every field, the field list as a copy.
    void Assign(TPersistent* Source) override;

    const std::string& CorrelationName() const { return FCorrelationName; }
    void SetCorrelationName(const std::string& Value) { FCorrelationName = Value; }
    const std::string& TableName() const { return FTableName; }
    void SetTableName(const std::string& Value) { FTableName = Value; }
    TInternalFields* TableFields() const { return FTableFields; }
    // Replaces the field list by a copy of Fields (cleared for nullptr).
    void SetTableFields(TInternalFields* Fields);
    bool Memory() const { return FMemory; }
    void SetMemory(bool Value) { FMemory = Value; }
    bool MemorySpecified() const { return FMemorySpecified; }
    void SetMemorySpecified(bool Value) { FMemorySpecified = Value; }
    bool InCorrelatedSubquery() const { return FInCorrelatedSubquery; }
    void SetInCorrelatedSubquery(bool Value) { FInCorrelatedSubquery = Value; }
    Integer CorrelatedSubqueryID() const { return FCorrelatedSubqueryID; }
    void SetCorrelatedSubqueryID(Integer Value) { FCorrelatedSubqueryID = Value; }

    // ftUnknown when the table has no such field.
    TFieldType GetFieldType(const std::string& Name) const;
    // 0 when there is no such field; the writable size where the type has one.
    Integer GetFieldSize(const std::string& Name) const;

private:
    std::string FCorrelationName;
    std::string FTableName;
    TInternalFields* FTableFields;
    bool FMemory = false;
    bool FMemorySpecified = false;
    bool FInCorrelatedSubquery = false;
    Integer FCorrelatedSubqueryID = 0;
};

class TTableList : public TCollection {
public:
    TTableList();

    TTableNameItem* Add() { return static_cast<TTableNameItem*>(TCollection::Add()); }
    TTableNameItem* Items(int Index) const { return static_cast<TTableNameItem*>(TCollection::Items(Index)); }
    TTableNameItem* Last() const { return Count() == 0 ? nullptr : Items(Count() - 1); }
    // Clears, then copies every entry.
    void Assign(TPersistent* Source) override;

    // The entry named Name: by correlation name first, then by the name of
    // a table without one, and last by the name of an aliased table.
    TTableNameItem* FindTable(const std::string& Name) const;
    // The entry that Name names in SQL's scope: its correlation name, or
    // the name of a table that has none (an alias hides its table's name).
    TTableNameItem* FindVisibleTable(const std::string& Name) const;
    TTableNameItem* FindTableName(const std::string& Name) const;
    TTableNameItem* FindTableAndCorrelationName(const std::string& Table,
                                                const std::string& Correlation) const;
    TTableNameItem* FindTableForField(const std::string& Field) const;
    void MergeLists(const TTableList* A, const TTableList* B);
};

// ===================================================== value semantics

// The outcome of a condition: a comparison or logical operation gives a
// Boolean, or Empty when it is unknown.
enum class TVekTruth : std::uint8_t { Unknown, False, True };

// The NULL rules of expressions (stateless). Null is an SQL NULL; Empty is
// the unknown outcome of an operation, and behaves like Null as an operand.
// No operation raises: an impossible one gives Empty (or False).
//
// The ...Truth forms give the same outcomes as the Variant forms, as a truth
// value (Unknown for Empty), for evaluators that need no Variant for them.
class TVekOpEvaluator : public TObject {
public:
    // NOT, AND and OR over truth values (anything else: Unknown).
    TVekTruth EvaluateLogicalTruth(TVekExprOperator Op, TVekTruth A, TVekTruth B) const;
    TVekTruth EvaluateRelopTruth(TVekExprOperator Op, const Variant& A, const Variant& B,
                                 bool ExcludeNulls) const;
    void EvaluateArithExprValues(TVekExprOperator Op, const Variant& A, const Variant& B,
                                 Variant& Result) const;
    void InternalEvaluateLogicalExprValues(TVekExprOperator Op, const Variant& A, const Variant& B,
                                           Variant& Result) const;
    Variant EvaluateLogicalExprAsVar(TVekExprOperator Op, const Variant& A, const Variant& B) const;
    bool EvaluateLogicalExprAsBoolean(TVekExprOperator Op, const Variant& A, const Variant& B) const;
    void InternalEvaluateRelopExprValues(TVekExprOperator Op, const Variant& A, const Variant& B,
                                         Variant& Result, bool ExcludeNulls) const;
    Variant EvaluateRelopExprAsVar(TVekExprOperator Op, const Variant& A, const Variant& B,
                                   bool ExcludeNulls) const;
    bool EvaluateRelopExprAsBoolean(TVekExprOperator Op, const Variant& A, const Variant& B,
                                    bool ExcludeNulls) const;
};

// Whether a value counts as missing (Null or Empty).
inline bool VarIsMissing(const Variant& V) { return V.IsNull() || V.IsEmpty(); }
// A plain number (not currency, a date or a Boolean) as a double, for fast
// paths that must give what the variant operations give; false for any
// other kind of value.
bool PlainNumber(const Variant& V, double& Value);
// Whether V is True (a Boolean True, or a value that converts to one);
// false for Null, Empty and anything that does not convert.
bool VarIsTrue(const Variant& V);
// A value as a logical operand: Unknown for Null, Empty, arrays and values
// that do not convert to a Boolean.
TVekTruth VarTruth(const Variant& V);
// The Variant of a condition's outcome: a Boolean, or Empty for Unknown.
inline Variant TruthToVar(TVekTruth T) { return T == TVekTruth::Unknown ? Variant() : Variant(T == TVekTruth::True); }

class TVekDataConversionValidator : public TObject {
public:
    bool CheckDataConversionValid(TFieldType FromType, TFieldType ToType) const;
    // Raises 10059 or 10058 for a text that is no date or time.
    void ConvertStrToDateTime(const std::string& Text, TFieldType FieldType, Variant& Result) const;
    void PerformDataConversionToType(TFieldType FromType, TFieldType ToType, const Variant& Value,
                                     Variant& Result) const;
};

// Reads date and time texts in the order of the short date format.
// Positions are 1-based.
class TVekStrToDateTimeConverter : public TObject {
public:
    bool ConvertStrToDate(const std::string& Text, const std::string& Order, TFieldType FieldType,
                          TDateTime& DateTime);
    bool ConvertStrToDateFromLastPos(const std::string& Text, const std::string& Order,
                                     TFieldType FieldType, TDateTime& DateTime);
    bool InternalConvertStrToDate(const std::string& Text, const std::string& Order,
                                  TFieldType FieldType, int StartPos, TDateTime& DateTime);
    // The position after what was read, or -1.
    int GetDate(const std::string& Text, const std::string& Order, int StartPos, TDateTime& Date);
    int GetTime(const std::string& Text, int StartPos, TDateTime& Time);
    // "YMD", "MDY", "DMY" ... from the short date format.
    static std::string GetSDFOrder();
    // 1..7 for the first long day name contained in S (capitalised), else 0.
    static int GetDayStr(const std::string& S);
    // 1..12 for the short month name equal to S (ignoring case), else 0.
    static int GetMonthStr(const std::string& S);
    // Scanners: the position after the run they read; 0 when nothing was read.
    static int ScanDateStrData(const std::string& Text, int Pos, std::string& Part);
    static int ScanDateStrGap(const std::string& Text, int Pos);
    static int ScanTimeStrData(const std::string& Text, int Pos, std::string& Part);
    static int ScanTimeStrGap(const std::string& Text, int Pos);

    int LastPos() const { return FLastPos; }
    void SetLastPos(int Value) { FLastPos = Value; }

private:
    int FLastPos = 0;
};

} // namespace orvex
