#include "host/DBConsts.h"

namespace orvex {

const char* const SDataSetOpen = "Cannot perform this operation on an open dataset";
const char* const SDataSetClosed = "Cannot perform this operation on a closed dataset";
const char* const SNotEditing = "Dataset not in edit or insert mode";
const char* const SDataSetEmpty = "Cannot perform this operation on an empty dataset";
const char* const SDataSetReadOnly = "Cannot modify a read-only dataset";
const char* const SRecordNotFound = "Record not found";
const char* const SCircularDataLink = "Circular datalinks are not allowed";
const char* const SDataSourceChange = "DataSource cannot be changed";
const char* const SFieldNotFound = "Field '%s' not found";
const char* const SFieldReadOnly = "Field '%s' cannot be modified";
const char* const SFieldRequired = "Field '%s' must have a value";
const char* const SFieldAccessError = "Cannot access field '%s' as type %s";
const char* const SFieldRangeError =
    "%g is not a valid value for field '%s'. The allowed range is %g to %g";
const char* const SInvalidIntegerValue = "'%s' is not a valid integer value for field '%s'";
const char* const SInvalidFloatValue = "'%s' is not a valid floating point value for field '%s'";
const char* const SInvalidBoolValue = "'%s' is not a valid boolean value for field '%s'";
const char* const SInvalidVarByteArray = "Invalid variant type or size for field '%s'";
const char* const SFieldTypeMismatch = "Type mismatch for field '%s', expecting: %s actual: %s";
const char* const SFieldSizeMismatch = "Size mismatch for field '%s', expecting: %d actual: %d";
const char* const SInvalidFieldSize = "Invalid field size";
const char* const SUnknownFieldType = "Field '%s' is of an unknown type";
const char* const SFieldNameMissing = "Field name missing";
const char* const SDuplicateFieldName = "Duplicate field name '%s'";
const char* const SDuplicateName = "Duplicate name '%s' in %s";
const char* const SDataSetMissing = "Field '%s' has no dataset";
const char* const SFieldIndexError = "Field index out of range";
const char* const SLookupInfoError = "Lookup information for field '%s' is incomplete";
const char* const SInvalidCalcType = "Field '%s' cannot be a calculated or lookup field";
const char* const SIndexNotFound = "Index '%s' not found";
const char* const SNoIndexForFields = "No index for fields '%s'";
const char* const SParameterNotFound = "Parameter '%s' not found";

} // namespace orvex
