#pragma once
// The dataset layer's texts. Messages with a component carry its name in
// front ("Table1: Field 'X' not found") when DatabaseError is given one.

namespace orvex {

extern const char* const SDataSetOpen;         // "Cannot perform this operation on an open dataset"
extern const char* const SDataSetClosed;       // "Cannot perform this operation on a closed dataset"
extern const char* const SNotEditing;          // "Dataset not in edit or insert mode"
extern const char* const SDataSetEmpty;        // "Cannot perform this operation on an empty dataset"
extern const char* const SDataSetReadOnly;     // "Cannot modify a read-only dataset"
extern const char* const SRecordNotFound;      // "Record not found"
extern const char* const SCircularDataLink;    // "Circular datalinks are not allowed"
extern const char* const SDataSourceChange;    // "DataSource cannot be changed"
extern const char* const SFieldNotFound;       // "Field '%s' not found"
extern const char* const SFieldReadOnly;       // "Field '%s' cannot be modified"
extern const char* const SFieldRequired;       // "Field '%s' must have a value"
extern const char* const SFieldAccessError;    // "Cannot access field '%s' as type %s"
extern const char* const SFieldRangeError;     // "%g is not a valid value for field '%s'. ..."
extern const char* const SInvalidIntegerValue; // "'%s' is not a valid integer value for field '%s'"
extern const char* const SInvalidFloatValue;   // "'%s' is not a valid floating point value for field '%s'"
extern const char* const SInvalidBoolValue;    // "'%s' is not a valid boolean value for field '%s'"
extern const char* const SInvalidVarByteArray; // "Invalid variant type or size for field '%s'"
extern const char* const SFieldTypeMismatch;   // "Type mismatch for field '%s', expecting: %s actual: %s"
extern const char* const SFieldSizeMismatch;   // "Size mismatch for field '%s', expecting: %d actual: %d"
extern const char* const SInvalidFieldSize;    // "Invalid field size"
extern const char* const SUnknownFieldType;    // "Field '%s' is of an unknown type"
extern const char* const SFieldNameMissing;    // "Field name missing"
extern const char* const SDuplicateFieldName;  // "Duplicate field name '%s'"
extern const char* const SDuplicateName;       // "Duplicate name '%s' in %s"
extern const char* const SDataSetMissing;      // "Field '%s' has no dataset"
extern const char* const SFieldIndexError;     // "Field index out of range"
extern const char* const SLookupInfoError;     // "Lookup information for field '%s' is incomplete"
extern const char* const SInvalidCalcType;     // "Field '%s' cannot be a calculated or lookup field"
extern const char* const SIndexNotFound;       // "Index '%s' not found"
extern const char* const SNoIndexForFields;    // "No index for fields '%s'"
extern const char* const SParameterNotFound;   // "Parameter '%s' not found"

} // namespace orvex
