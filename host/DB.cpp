#include "host/DB.h"

#include "host/Classes.h"

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

std::vector<std::string> SplitFieldNames(const std::string& names)
{
    std::vector<std::string> result;
    std::size_t pos = 0;
    while (pos < names.size()) {
        std::size_t end = names.find(';', pos);
        if (end == std::string::npos)
            end = names.size();
        result.push_back(Trim(names.substr(pos, end - pos)));
        pos = end + 1;
    }
    return result;
}

void DatabaseError(const std::string& message)
{
    throw EDatabaseError(message);
}

void DatabaseError(const std::string& message, const TComponent* component)
{
    if (component && !component->Name().empty())
        throw EDatabaseError(component->Name() + ": " + message);
    throw EDatabaseError(message);
}

void DatabaseErrorFmt(const std::string& format, std::initializer_list<TVarRec> args,
                      const TComponent* component)
{
    DatabaseError(Format(format, args), component);
}

} // namespace orvex
