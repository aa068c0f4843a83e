#pragma once
// The dataset layer's basic types: field types, the dataset error, dataset
// states and events, and the small enumerations and sets that datasets,
// fields and links share.

#include "host/SysUtils.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orvex {

class TComponent;

// The dataset layer's error: misuse of a dataset's state and the base of the
// engine's own error.
class EDatabaseError : public Exception {
public:
    using Exception::Exception;
};
[[noreturn]] void DatabaseError(const std::string& message);
// With a named component the message reads "Name: message".
[[noreturn]] void DatabaseError(const std::string& message, const TComponent* component);
[[noreturn]] void DatabaseErrorFmt(const std::string& format, std::initializer_list<TVarRec> args,
                                   const TComponent* component = nullptr);

// Field types in the framework's ordinal order; the ordinals are stored in files.
enum TFieldType : int {
    ftUnknown = 0,
    ftString,
    ftSmallint,
    ftInteger,
    ftWord,
    ftBoolean,
    ftFloat,
    ftCurrency,
    ftBCD,
    ftDate,
    ftTime,
    ftDateTime,
    ftBytes,
    ftVarBytes,
    ftAutoInc,
    ftBlob,
    ftMemo,
    ftGraphic,
    ftFmtMemo,
    ftParadoxOle,
    ftDBaseOle,
    ftTypedBinary,
    ftCursor,
    ftFixedChar,
    ftWideString,
    ftLargeint,
    ftADT,
    ftArray,
    ftReference,
    ftDataSet,
    ftOraBlob,
    ftOraClob,
    ftVariant,
    ftInterface,
    ftIDispatch,
    ftGuid,
};
constexpr int FieldTypeCount = ftGuid + 1;

// "Unknown", "String", "SmallInt", ... indexed by TFieldType.
extern const char* const FieldTypeNames[FieldTypeCount];

// The names of a ";" list of field (or parameter) names, blanks around each
// dropped: "A; B" gives A and B.
std::vector<std::string> SplitFieldNames(const std::string& names);

// The dataset layer's texts for the Boolean values.
extern const char* const STextTrue;  // "True"
extern const char* const STextFalse; // "False"

// ------------------------------------------------------------ dataset states

enum TDataSetState {
    dsInactive,
    dsBrowse,
    dsEdit,
    dsInsert,
    dsSetKey,
    dsCalcFields,
    dsFilter,
    dsNewValue,
    dsOldValue,
    dsCurValue,
    dsBlockRead,
    dsInternalCalc,
};

// Sets of states, as bit masks of (1 << state).
using TDataSetStates = unsigned;
constexpr TDataSetStates StateBit(TDataSetState s) { return 1u << s; }
constexpr bool StateIn(TDataSetState s, TDataSetStates set) { return (set & StateBit(s)) != 0; }
// The states in which the record is being changed, and those in which a
// field may be written.
constexpr TDataSetStates dsEditModes = StateBit(dsEdit) | StateBit(dsInsert) | StateBit(dsSetKey);
constexpr TDataSetStates dsWriteModes = dsEditModes | StateBit(dsCalcFields) | StateBit(dsFilter) |
                                        StateBit(dsNewValue) | StateBit(dsInternalCalc);

// What a dataset tells its data sources and links. The Info of an event is a
// field (deFieldChange, deRecordChange, deFocusControl) or a count of buffers
// scrolled (deDataSetScroll).
enum TDataEvent {
    deFieldChange,
    deRecordChange,
    deDataSetChange,
    deDataSetScroll,
    deLayoutChange,
    deUpdateRecord,
    deUpdateState,
    deCheckBrowseMode,
    dePropertyChange,
    deFieldListChange,
    deFocusControl,
    deParentScroll,
};

// ------------------------------------------------------------- record buffers

// A record buffer: GetRecordSize() + whatever the dataset keeps beside the
// record (see host/DBRecordLayout.h for the engine's layout).
using TRecordBuffer = Byte*;

// A bookmark: the dataset's BookmarkSize bytes; empty means none.
using TBookmark = std::string;

enum TGetMode { gmCurrent, gmNext, gmPrior };
enum TGetResult { grOK, grBOF, grEOF, grError };
enum TBookmarkFlag { bfCurrent, bfBOF, bfEOF, bfInserted };

// Resync modes (a set): rmExact fails with "Record not found" when the
// current record is gone; rmCenter puts it in the middle of the buffers.
using TResyncMode = unsigned;
enum : TResyncMode { rmExact = 1, rmCenter = 2 };

enum TDataAction { daFail, daAbort, daRetry };

enum TBlobStreamMode { bmRead, bmWrite, bmReadWrite };

enum TFieldKind { fkData, fkCalculated, fkLookup, fkInternalCalc, fkAggregate };

// ------------------------------------------------------------------ option sets

using TLocateOptions = unsigned;
enum TLocateOption : TLocateOptions { loCaseInsensitive = 1, loPartialKey = 2 };

using TFilterOptions = unsigned;
enum TFilterOption : TFilterOptions { foCaseInsensitive = 1, foNoPartialCompare = 2 };

using TIndexOptions = unsigned;
enum TIndexOption : TIndexOptions {
    ixPrimary = 1,
    ixUnique = 2,
    ixDescending = 4,
    ixCaseInsensitive = 8,
    ixExpression = 16,
    ixNonMaintained = 32,
};

using TFieldAttributes = unsigned;
enum TFieldAttribute : TFieldAttributes {
    faHiddenCol = 1,
    faReadonly = 2,
    faRequired = 4,
    faLink = 8,
    faUnNamed = 16,
    faFixed = 32,
};

} // namespace orvex
