#pragma once
// The host framework's dataset layer: field types and the dataset error.
// (The dataset classes themselves are declared beside this header.)

#include "host/SysUtils.h"

#include <string>

namespace orvex {

// The dataset layer's error: misuse of a dataset's state and the base of the
// engine's own error.
class EDatabaseError : public Exception {
public:
    using Exception::Exception;
};
[[noreturn]] void DatabaseError(const std::string& message);

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

// The dataset layer's texts for the Boolean values.
extern const char* const STextTrue;  // "True"
extern const char* const STextFalse; // "False"

} // namespace orvex
