#include "host/DB.h"

namespace orvex {

const char* const FieldTypeNames[FieldTypeCount] = {
    "Unknown",  "String",   "SmallInt",    "Integer",  "Word",      "Boolean", "Float",
    "Currency", "BCD",      "Date",        "Time",     "DateTime",  "Bytes",   "VarBytes",
    "AutoInc",  "Blob",     "Memo",        "Graphic",  "FmtMemo",   "ParadoxOle",
    "DBaseOle", "TypedBinary", "Cursor",   "FixedChar", "WideString", "Largeint", "ADT",
    "Array",    "Reference", "DataSet",    "OraBlob",  "OraClob",   "Variant", "Interface",
    "IDispatch", "Guid",
};

const char* const STextTrue = "True";
const char* const STextFalse = "False";

void DatabaseError(const std::string& message)
{
    throw EDatabaseError(message);
}

} // namespace orvex
