#pragma once
// The engine's vocabulary of failure and its shared enumerations: the error
// table that maps an engine error code to its message, the engine exception
// EVekDatabaseError with the two routines through which every layer raises its
// own errors, the engine's resource strings, and the enumerations, set types
// and name tables that the storage engine, the dataset components and the SQL
// engine share.

#include "host/DB.h"
#include "host/SysUtils.h"
#include "host/System.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace orvex {

// ------------------------------------------------------------------ set types

// A set of the values of an enumeration whose ordinals run from 0 to Count - 1:
// one bit per ordinal, as the framework's "set of" types. Include, Exclude and
// Contains take single values; + is the union, - the difference and * the
// intersection of two sets; <= tests for a subset. A value outside the
// enumeration's range is refused by an assertion.
template <class E, int Count>
class TEnumSet {
    static_assert(Count > 0, "a set needs at least one value");

public:
    constexpr TEnumSet() = default;
    constexpr TEnumSet(std::initializer_list<E> values)
    {
        for (E value : values)
            Include(value);
    }

    constexpr bool Contains(E value) const
    {
        const int ord = static_cast<int>(value);
        return ord >= 0 && ord < Count && ((FWords[ord / 64] >> (ord % 64)) & 1u) != 0;
    }
    constexpr void Include(E value) { FWords[Slot(value) / 64] |= Bit(value); }
    constexpr void Exclude(E value) { FWords[Slot(value) / 64] &= ~Bit(value); }
    constexpr void Clear() { FWords = {}; }
    constexpr bool Empty() const
    {
        for (std::uint64_t word : FWords)
            if (word != 0)
                return false;
        return true;
    }
    // The number of members.
    constexpr int Size() const
    {
        int size = 0;
        for (std::uint64_t word : FWords)
            size += std::popcount(word);
        return size;
    }

    constexpr TEnumSet& operator+=(const TEnumSet& other)
    {
        for (std::size_t i = 0; i < Words; ++i)
            FWords[i] |= other.FWords[i];
        return *this;
    }
    constexpr TEnumSet& operator-=(const TEnumSet& other)
    {
        for (std::size_t i = 0; i < Words; ++i)
            FWords[i] &= ~other.FWords[i];
        return *this;
    }
    constexpr TEnumSet& operator*=(const TEnumSet& other)
    {
        for (std::size_t i = 0; i < Words; ++i)
            FWords[i] &= other.FWords[i];
        return *this;
    }
    friend constexpr TEnumSet operator+(TEnumSet a, const TEnumSet& b) { return a += b; }
    friend constexpr TEnumSet operator-(TEnumSet a, const TEnumSet& b) { return a -= b; }
    friend constexpr TEnumSet operator*(TEnumSet a, const TEnumSet& b) { return a *= b; }
    friend constexpr bool operator==(const TEnumSet&, const TEnumSet&) = default;
    // Whether every member of a is a member of b.
    friend constexpr bool operator<=(const TEnumSet& a, const TEnumSet& b)
    {
        return (a - b).Empty();
    }

private:
    static constexpr std::size_t Words = (Count + 63) / 64;
    static constexpr int Slot(E value)
    {
        const int ord = static_cast<int>(value);
        ORVEX_ASSERT(ord >= 0 && ord < Count, "Set member out of range");
        return ord;
    }
    static constexpr std::uint64_t Bit(E value) { return std::uint64_t{1} << (Slot(value) % 64); }

    std::array<std::uint64_t, Words> FWords{};
};

// ---------------------------------------------------------------- error table

// One row of the error table: the error code (only its low 16 bits take part
// in the lookup) and its message, which may be empty.
struct VekErr {
    Integer Code;
    std::string_view Msg;
};

inline constexpr int VekErrorCount = 318;
// The code of the rows that stand for any code the table lacks.
inline constexpr Integer VekErrorCodeUnknown = 65535;

// Rows 0 and 317 hold 65535 "Error code unknown"; rows 1 to 316 hold distinct
// codes, ascending by group (0x21xx system ... 0x33xx other) except row 186,
// code 130 (a failed table alteration), and the SQL result errors 9645, 9650
// and 9656 at rows 314 to 316. The messages of the limit (9473-9502) and
// integrity (9729-9751) errors end in one blank.
extern const std::array<VekErr, VekErrorCount> C_VEKERRORS;

// The row of Code: the first of rows 1 to 316 whose code equals the low 16
// bits of Code, else row 0.
int VekErrorIndex(Integer Code);

// ----------------------------------------------------------- resource strings

// The engine's message texts, with their resource identifiers (65424 to
// 65535; 65436 to 65439 are not used). SvekErrorAnonBaseMsg and
// SvekErrorAnonCustomMsg frame every engine error message.
inline constexpr const char* SVekParameterNotFound = "Parameter not found"; // 65424
inline constexpr const char* SVekInvalidVersion = "Parameter data version is invalid"; // 65425
inline constexpr const char* SVekTrue = "True"; // 65426
inline constexpr const char* SVekFalse = "False"; // 65427
inline constexpr const char* SvekAggFuncDataError = // 65428
    "Aggregate column data conversion error";
inline constexpr const char* SvekOrderByColumnNotPresent = // 65429
    "Order by column not found (Order By columns must be in result set)";
inline constexpr const char* SvekOrderByColumnIndexOutOfRange = // 65430
    "Order by column number is out of range";
inline constexpr const char* SvekUnionResultSetFailed = // 65431
    "Union result set could not be created";
inline constexpr const char* SvekUnionColumnCountError = // 65432
    "Union statement column counts do not match";
inline constexpr const char* SvekUnionStatementIncorrectlyTerminated = // 65433
    "Union statement was incorrectly terminated";
inline constexpr const char* SvekOnlySinglePrimaryIndexAllowed = // 65434
    "Only one primary index is permitted per table";
inline constexpr const char* SvekCannotDeletePrimaryIndex = // 65435
    "The primary index cannot be deleted";
inline constexpr const char* SvekUpdateMissingColumnReference = // 65440
    "Update statement missing column reference";
inline constexpr const char* SvekMissingAssignmentToken = "Missing assignment (=) token"; // 65441
inline constexpr const char* SvekInvalidCreateStatement = "Create statment is invalid"; // 65442
inline constexpr const char* SvekInvalidAlterTableStatement = // 65443
    "Alter table statment is invalid";
inline constexpr const char* SvekInvalidDropStatement = "Drop statment is invalid"; // 65444
inline constexpr const char* SvekDataTypeInvalid = "Data type is invalid"; // 65445
inline constexpr const char* SvekMissingOnToken = "Missing ON token"; // 65446
inline constexpr const char* SvekNoIndexColumnsSpecified = "No index columns specified"; // 65447
inline constexpr const char* SvekTableExists = "Table already exists"; // 65448
inline constexpr const char* SvekTableNotFound = "Table not found"; // 65449
inline constexpr const char* SvekEmptySQLStatement = "SQL statment is empty"; // 65450
inline constexpr const char* SvekMissingTableReference = // 65451
    "Syntax error. Expected table name";
inline constexpr const char* SvekResultSetLimitExceededFmt = // 65452
    "Result set limit of %d has been exceeded";
inline constexpr const char* SvekDataFormatErrorFmt = // 65453
    "Value %s was not of the expected format %s";
inline constexpr const char* SvekSelectDistinctMaxColsLimit = // 65454
    "Result set colummn count exceeds DISTINCT query limit";
inline constexpr const char* SvekSelectDistinctInvalidColumnType = // 65455
    "The column is not a valid data type for DISTINCT queries";
inline constexpr const char* SvekParamsNotSupported = "Parameters are not supported"; // 65456
inline constexpr const char* SvekParamNotFound = "Parameter name expected but none found"; // 65457
inline constexpr const char* SvekHavingColumnNotFoundFmt = // 65458
    "Column name in having clause not found: %s";
inline constexpr const char* SvekNoGroupByClause = "No group by clause was specified"; // 65459
inline constexpr const char* SvekHavingFieldNotInResult = // 65460
    "Fields specified in having clause must appear in the result set";
inline constexpr const char* SvekSelectTokenMissing = "Missing select token"; // 65461
inline constexpr const char* SvekInsertStatmentSyntaxError = // 65462
    "Insert statement syntax is incorrect";
inline constexpr const char* SvekMissingColumnSpecifier = // 65463
    "Column specification is missing";
inline constexpr const char* SvekExprSubqueriesNotSupported = // 65464
    "Subqueries are not supported";
inline constexpr const char* SvekUnrecognizedSQLStatement = // 65465
    "Unrecognised SQL statement type";
inline constexpr const char* SvekInsertColumnsCountMismatch = // 65466
    "Number of insert columns does not match number of insert values";
inline constexpr const char* SvekNoInsertColumnsSpecified = // 65467
    "No insert columns were specified";
inline constexpr const char* SvekSQLStatmentCannotbeExecuted = // 65468
    "SQL statement cannot be executed by ExecSQL";
inline constexpr const char* SvekSQLStatmentCannotbeOpened = // 65469
    "SQL statement cannot be opened (execute by ExecSQL)";
inline constexpr const char* SvekDeleteStatmentSyntaxError = // 65470
    "Delete statement syntax is incorrect";
inline constexpr const char* SvekUpdateStatmentSyntaxError = // 65471
    "Update statement syntax is incorrect";
inline constexpr const char* SvekMissingASOperatorInCASTExpr = // 65472
    "Missing AS operator in Cast expression";
inline constexpr const char* SvekInvalidFieldinEXTRACTExpr = // 65473
    "Invalid extract field in EXTRACT expression";
inline constexpr const char* SvekMissingFROMinEXTRACTExpr = // 65474
    "Missing FROM operator in Extract expression";
inline constexpr const char* SvekInvalidValeExprInEXTRACTExpr = // 65475
    "Extract value expression result type is invalid for extract field";
inline constexpr const char* SvekExprBadScope = "Scope is invalid"; // 65476
inline constexpr const char* SvekIndexNotFound = "Index not found"; // 65477
inline constexpr const char* SvekDuplicateIndex = "Index already exists"; // 65478
inline constexpr const char* SvekDuplicateField = "Field already exists"; // 65479
inline constexpr const char* SvekFieldNotFound = "Field not found"; // 65480
inline constexpr const char* SvekTableOrFieldNotFound = "Table and/or field not found"; // 65481
inline constexpr const char* SvekTypeConversionErr = "Cannot convert type"; // 65482
inline constexpr const char* SvekColumnNameErr = "invalid column name descriptor"; // 65483
inline constexpr const char* SvekGroupByTerminateErr = // 65484
    "Group By clause incorrectly terminated";
inline constexpr const char* SvekColumnNameMissingErr = "missing column name descriptor"; // 65485
inline constexpr const char* SvekNonAggColumnNotInGroupBy = // 65486
    "Output column must be specified in Group By clause";
inline constexpr const char* SvekGroupByColumnNotFound = "Group By column not found"; // 65487
inline constexpr const char* SvekOrderByTerminateErr = // 65488
    "Order By clause incorrectly terminated";
inline constexpr const char* SvekDataTypeUnknown = "Unknown Datatype"; // 65489
inline constexpr const char* SvekDataTypeSpecErr = // 65490
    "Data type length/precision not specified";
inline constexpr const char* SvekDataypeScaleErr = "Data type scale invalid"; // 65491
inline constexpr const char* SvekRParenMissing = "Missing Right Parenthesis"; // 65492
inline constexpr const char* SvekLParenMissing = "Missing Left Parenthesis"; // 65493
inline constexpr const char* SvekBetweenPredErr = // 65494
    "missing AND operator in between predicate";
inline constexpr const char* SvekExprNoRParenOrComma = // 65495
    "Missing Right Parenthesis or comma";
inline constexpr const char* SvekEmptyINList = "IN list is empty"; // 65496
inline constexpr const char* SvekExprTypeMismatch = "Expression data types do not match"; // 65497
inline constexpr const char* SvekExprArithNotSupported = // 65498
    "Arithmetic operators not supported";
inline constexpr const char* SvekSUBSTRINGInvalid = // 65499
    "Missing FROM or COMMA token in SUBSTRING function";
inline constexpr const char* SvekExprTerminatedIncorrectly = // 65500
    "Expression incorrectly terminated";
inline constexpr const char* SvekInvalidToken = "Invalid token"; // 65501
inline constexpr const char* SvekEmptyExpr = "Expression is empty"; // 65502
inline constexpr const char* SvekCharExprInvalidExprDataType = // 65503
    "Character value expression return type is invalid";
inline constexpr const char* SvekMaxLimitFmt = "Maximum allowed is %d"; // 65504
inline constexpr const char* SvekNoEncryptionSupport = // 65505
    "This database does not use/support encryption";
inline constexpr const char* SvekMastDetError = "Master-detail error"; // 65506
inline constexpr const char* SvekMDetFldError = // 65507
    " is not a valid index field for this index";
inline constexpr const char* SvekDBFileVersionFmt = "Current database disk format is %s"; // 65508
inline constexpr const char* SvekDBOperationCannotBePerformed = // 65509
    "This operation can not be performed on this database/table";
inline constexpr const char* SvekPWordExpired = "The password has expired"; // 65510
inline constexpr const char* SvekTableReadLockErr = // 65511
    "A read lock could not be obtained on the table";
inline constexpr const char* SvekTableWriteLockErr = // 65512
    "A write lock could not be obtained on the table";
inline constexpr const char* SvekRecordLockErr = // 65513
    "A lock could not be obtained on the record";
inline constexpr const char* SvekLckFileLockErr = // 65514
    "A lock could not be obtained on the lock file";
inline constexpr const char* SvekTransactionLockErr = // 65515
    "A transaction lock could not be obtained";
inline constexpr const char* SvekGeneratorNameFmt = // 65516
    "'%s' is not a valid generator name (min. length 1, '$' is a reserved first character";
inline constexpr const char* SvekTable = "Table"; // 65517
inline constexpr const char* SvekField = "Field"; // 65518
inline constexpr const char* SvekIndexFieldOutOfRange = // 65519
    "The specified index field count is out of range";
inline constexpr const char* SvekErrorAnonBaseMsg = // 65520
    "The Orvex database engine raised an error\r\n (error code #%d). %s";
inline constexpr const char* SvekErrorAnonCustomMsg = // 65521
    "The Orvex database engine raised an error\r\n %s (error code #%d) - %s";
inline constexpr const char* SvekFmtIndexNotFoundError = "Index not found %s"; // 65522
inline constexpr const char* SvekMasterKeyLabel = "Database Password:"; // 65523
inline constexpr const char* SvekPasswordLabel = "User Password:"; // 65524
inline constexpr const char* SvekUsernameLabel = "User name:"; // 65525
inline constexpr const char* SvekLoginPrompt = "Database Login"; // 65526
inline constexpr const char* SvekFileVersionDoesNotSupportOperation = // 65527
    "This database version does not support this operation ";
inline constexpr const char* SvekOffsetValueIsOutOfRange = // 65528
    "The offset value is out of range";
inline constexpr const char* SvekObjectNotAssigned = // 65529
    "The requested object has not been assigned";
inline constexpr const char* SvekIndexFmt = "Index %s"; // 65530
inline constexpr const char* SvekValueInvalidFmt = // 65531
    "%s has not been set or is out of range";
inline constexpr const char* SvekValueOutOfRangeFmt = // 65532
    "%d is not a valid value (min. %d, max. %d)";
inline constexpr const char* SvekStringInvalidFmt = // 65533
    "%s is not a valid value (min. length %d, max. length %d)";
inline constexpr const char* SvekTableInUseFmt = "The table %s is in use"; // 65534
inline constexpr const char* SvekCorruptEncryptionKey = // 65535
    "The encrpytion key is not valid or corrupted";

struct TVekResString {
    Word Id;
    const char* Name;
    const char* Text;
};
inline constexpr int VekResStringCount = 108;
// Every resource string, in ascending order of identifier.
extern const std::array<TVekResString, VekResStringCount> CVekResStrings;
// The resource string with identifier Id; nullptr when there is none.
const TVekResString* FindVekResString(int Id);

// ------------------------------------------------------- shared enumerations
// Value names in the order of their ordinal values, from 0; each enumeration's
// ...Count is its number of values.

enum TDataCompressionMode : std::uint8_t { dcNone, dcZLib, dcCustom, dcUnknown };
inline constexpr int TDataCompressionModeCount = dcUnknown + 1;

// The tokens of the SQL dialect.
enum TVekSQLToken : std::uint8_t {
    vstUnknown, vstTableName, vstTableAlias, vstFieldName, vstAscending, vstDescending, vstSelect,
    vstFrom, vstWhere, vstGroupBy, vstHaving, vstUnion, vstPlan, vstOrderBy, vstForUpdate, vstEnd,
    vstPredicate, vstValue, vstStringLiteral, vstIsNull, vstIsNotNull, vstLike, vstAnd, vstOr,
    vstNumber, vstComment, vstDistinct, vstComma, vstLParen, vstRParen, vstAdd, vstSub, vstMult,
    vstDiv, vstBetween, vstAS, vstCase, vstWhen, vstThen, vstNullif, vstCoalesce, vstJoin, vstInner,
    vstOuter, vstLeft, vstRight, vstCross, vstNatural, vstFull, vstAggFunc, vstFunc, vstDataType,
    vstParameter, vstCast, vstNot, vstIn, vstCompOperator, vstNull, vstTrue, vstFalse, vstStrFunc,
    vstFor, vstConcatenate, vstOn, vstUsing, vstEscape, vstNotLike, vstNotBetween, vstNotIn,
    vstChar, vstInt, vstSmallInt, vstFloat, vstDate, vstTime, vstTimeStamp, vstDecimal, vstVarChar,
    vstNumeric, vstBoolean, vstMoney, vstBlob, vstExtract, vstYear, vstMonth, vstDay, vstHour,
    vstMinute, vstSecond, vstCurrentDate, vstCurrentTime, vstCurrentTimestamp, vstAll, vstExists,
    vstAny, vstSome, vstInsert, vstInto, vstValues, vstDelete, vstUpdate, vstSet, vstCreate,
    vstTable, vstAddWord, vstDrop, vstAlter, vstColumn, vstPrimaryKey, vstIndex, vstAutoInc,
    vstUnique, vstType, vstTo, vstTemporary,
};
inline constexpr int TVekSQLTokenCount = vstTemporary + 1;
using TVekSQLTokens = TEnumSet<TVekSQLToken, TVekSQLTokenCount>;

// The operators of expression trees.
enum TVekExprOperator : std::uint8_t {
    veoNOTDEFINED, veoISBLANK, veoNOTBLANK, veoEQ, veoNE, veoGT, veoLT, veoGE, veoLE, veoNOT,
    veoAND, veoOR, veoTUPLE2, veoFIELD2, veoCONST2, veoMINUS, veoADD, veoSUB, veoMUL, veoDIV,
    veoMOD, veoREM, veoSUM, veoCOUNT, veoMIN, veoMAX, veoAVG, veoCONT, veoUDF2, veoCONTINUE2,
    veoLIKE, veoIN, veoLIST2, veoUPPER, veoLOWER, veoFUNC2, veoLISTELEM2, veoASSIGN, veoSUBQUERY,
    veoOUTERFIELD, veoPARAMETER,
};
inline constexpr int TVekExprOperatorCount = veoPARAMETER + 1;

enum TVekExprScopeKind : std::uint8_t { vskField, vskAgg, vskConst };
inline constexpr int TVekExprScopeKindCount = vskConst + 1;

enum TVekSQLAggFunc : std::uint8_t { vafUnknown, vafCount, vafAvg, vafSum, vafMax, vafMin };
inline constexpr int TVekSQLAggFuncCount = vafMin + 1;

enum TVekSQLStrFunc : std::uint8_t {
    vsfUnknown, vsfSubstring, vsfUpper, vsfLower, vsfTrim, vsfTrimLeading, vsfTrimTrailing,
    vsfTrimBoth,
};
inline constexpr int TVekSQLStrFuncCount = vsfTrimBoth + 1;

enum TVekSubqueryType : std::uint8_t { vsqUnspecified, vsqAnyOrSome, vsqAll, vsqExists };
inline constexpr int TVekSubqueryTypeCount = vsqExists + 1;

enum TVekSQLStatementType : std::uint8_t {
    vsSQLUnknown, vsSQLExprOnly, vsSQLSelect, vsSQLInsert, vsSQLDelete, vsSQLUpdate,
    vsSchemaManipulation,
};
inline constexpr int TVekSQLStatementTypeCount = vsSchemaManipulation + 1;

enum TSortOrder : std::uint8_t { soANSI, soASCII };
inline constexpr int TSortOrderCount = soASCII + 1;

enum TIndexKeyType : std::uint8_t { ikFixed, ikMinStringLen };
inline constexpr int TIndexKeyTypeCount = ikMinStringLen + 1;

// The change status of a field or index in a restructure.
enum TDefChangeType : std::uint8_t {
    dcNoChange, dcDefOnlyChange, dcAdded, dcDeleted, dcDataChange, dcDataLoss,
};
inline constexpr int TDefChangeTypeCount = dcDataLoss + 1;

enum TEncryptionLevel : std::uint8_t { encNone, encWeak, encStrong };
inline constexpr int TEncryptionLevelCount = encStrong + 1;

enum TDatabaseObjectType : std::uint8_t { doNone, doTable };
inline constexpr int TDatabaseObjectTypeCount = doTable + 1;

enum TObjectPrivilegeType : std::uint8_t {
    opNone, opCreateObj, opDeleteObj, opExecuteObj, opAlterObj, opInsertData, opDeleteData,
    opReadData, opUpdateData,
};
inline constexpr int TObjectPrivilegeTypeCount = opUpdateData + 1;
using TObjectPrivilegeTypes = TEnumSet<TObjectPrivilegeType, TObjectPrivilegeTypeCount>;

enum TSystemPrivilegeType : std::uint8_t {
    spNone, spViewUsers, spEditUsers, spViewGroups, spEditGroups,
};
inline constexpr int TSystemPrivilegeTypeCount = spEditGroups + 1;
using TSystemPrivilegeTypes = TEnumSet<TSystemPrivilegeType, TSystemPrivilegeTypeCount>;

enum TFieldComparisonValue : std::uint8_t { fcForceBOF, fcDefault, fcForceEOF };
inline constexpr int TFieldComparisonValueCount = fcForceEOF + 1;

enum TVekFilterOptimisationLevel : std::uint8_t { olNone, olPartial, olFull };
inline constexpr int TVekFilterOptimisationLevelCount = olFull + 1;

// How a block I/O interface keeps its blocks.
enum TIOMode : std::uint8_t { iomNone, iomMemory, iomDiskFixedSize, iomDiskVariableSize };
inline constexpr int TIOModeCount = iomDiskVariableSize + 1;

// The state of a page in the page cache.
enum TCachePageState : std::uint8_t { cpEmpty, cpClean, cpDirty };
inline constexpr int TCachePageStateCount = cpDirty + 1;

// ---------------------------------------------------------------- name tables
// Display names indexed by an enumeration, for logs, host programs and design
// tools.

extern const std::array<const char*, TDefChangeTypeCount> CChangeTypeNames;
extern const std::array<const char*, TEncryptionLevelCount> CEncryptionLevelNames;
extern const std::array<const char*, TVekFilterOptimisationLevelCount> CFilterOptLevelNames;
extern const std::array<const char*, TSortOrderCount> CSortOrderNames;
extern const std::array<const char*, TObjectPrivilegeTypeCount> C_ObjectPrivilegeStr;
extern const std::array<const char*, TSystemPrivilegeTypeCount> C_SystemPrivilegeStr;
// Indexed by false and true; filled when the library starts from the dataset
// layer's texts STextFalse and STextTrue.
extern std::array<std::string, 2> C_BooleanStr;
// The value names without their first letter ("stUnknown" for vstUnknown) and
// the operator names with "co" for "veo" ("coNOTDEFINED" for veoNOTDEFINED).
// The engine does not read them; they are there for diagnostics.
extern const std::array<const char*, TVekSQLTokenCount> CVekStrSQLTokens;
extern const std::array<const char*, TVekExprOperatorCount> C_STRCANOperator;

// -------------------------------------------------------------- engine error

// The engine's exception. ErrorCode is the code the raiser passed (an unknown
// code keeps its own value), TableMessage the error table's message for it
// ("Error code unknown" when the table lacks it), Sender the raising object
// (not owned; may be nullptr). The message is
//   "The Orvex database engine raised an error\r\n (error code #<code>). <table message>"
// or, with a custom text,
//   "The Orvex database engine raised an error\r\n <table message> (error code #<code>) - <custom>".
class EVekDatabaseError : public EDatabaseError {
public:
    EVekDatabaseError(Integer Code, const std::string& TableMsg, const std::string& CustomMsg,
                      TObject* Sender);

    Integer ErrorCode;
    std::string TableMessage;
    TObject* Sender;
};

// Raises the engine error Code: looks the code up, logs
//   "Exception:  Caller <sender> ErrCode <row code> [ErrContext <row message>]. CustomMsg <custom>"
// to GDBLogger under Context (the raising class and method, "TDiskMgr.Open"),
// then throws EVekDatabaseError. The caller name is the Name of a named
// component, else the class name of Sender, else empty.
[[noreturn]] void VekDatabaseError(Integer Code, const std::string& Context,
                                   const std::string& CustomMsg, TObject* Sender);
// VekDatabaseError with the custom text Format(Fmt, Args).
[[noreturn]] void VekDatabaseErrorFmt(Integer Code, const std::string& Context,
                                      std::string_view Fmt, std::initializer_list<TVarRec> Args,
                                      TObject* Sender);

} // namespace orvex
