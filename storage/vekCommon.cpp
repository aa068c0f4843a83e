// Small routines of the common unit: paths, field-name lists, wide strings,
// facts about the operating environment, and record sizes.

#include "storage/vekCommon.h"

#include "platform/SysInfo.h"

#include <algorithm>

namespace orvex {

std::string VekIncludeTrailingBackslash(const std::string& Path)
{
    // Engine paths are native paths: the delimiter is the system's own.
    constexpr char Delimiter = '/';
    if (Path.empty() || Path.back() == Delimiter)
        return Path;
    return Path + Delimiter;
}

void ConvertFieldNamesToList(const std::string& Names, TStrings* List)
{
    List->Clear();
    if (Names.empty())
        return;
    // Each name quoted, so that blanks and commas inside a name survive.
    std::string quoted = "\"";
    quoted += StringReplace(Names, ";", "\",\"", rfReplaceAll);
    quoted += '"';
    List->SetCommaText(quoted);
}

void StringLToWideChar(const std::string& S, char16_t* Dest, Integer DestSize)
{
    if (DestSize <= 0)
        return;
    const std::u16string wide = Win1252ToUtf16(S.substr(0, static_cast<std::size_t>(DestSize - 1)));
    const std::size_t count = std::min(wide.size(), static_cast<std::size_t>(DestSize - 1));
    std::copy_n(wide.begin(), count, Dest);
    Dest[count] = u'\0';
}

std::string GetCurrentUser()
{
    return SysUserName();
}

std::string GetCurrentComputer()
{
    return SysComputerName();
}

Cardinal GetCurrentThreadIdVal()
{
    return SysThreadId();
}

std::string GetOSDetails()
{
    // The system does not change under a running process: it is asked once
    // (every table created, result tables included, records it).
    static const std::string details = [] {
        TSysOSVersion version;
        if (!SysOSVersion(version))
            return std::string("unknown");
        return version.Name + ": " +
               Format(" %d.%d.%d.%d ",
                      {version.Numbers[0], version.Numbers[1], version.Numbers[2], version.Numbers[3]}) +
               " " + version.Details;
    }();
    return details;
}

std::string GetOSErrorMsg()
{
    std::string text = SysErrorText(SysLastError());
    return text.empty() ? std::string("The error type could not be determined") : text;
}

Cardinal GetMSTimeMarker()
{
    return GetTickCount();
}

Integer CalcTableHeaderSize(Integer IndexCount)
{
    // A 48-byte fixed part and 6 bytes per index slot, in whole 256-byte blocks.
    const long long raw = 48 + 6 * static_cast<long long>(IndexCount);
    const long long size = raw <= 0 ? 0 : (raw + 255) / 256 * 256;
    if (size != 256)
        throw Exception("Debug check -  header size <> 256");
    return 256;
}

Integer CalculateCoreDataSize(TFieldType FieldType)
{
    switch (FieldType) {
    case ftString:
    case ftSmallint:
    case ftWord:
    case ftWideString:
        return 2;
    case ftInteger:
    case ftAutoInc:
        return 4;
    case ftBoolean:
        return 1;
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftDate:
    case ftTime:
    case ftDateTime:
        return 8;
    default:
        break;
    }
    const int ordinal = static_cast<int>(FieldType);
    const std::string name = ordinal >= 0 && ordinal < FieldTypeCount ? std::string(FieldTypeNames[ordinal])
                                                                     : IntToStr(ordinal);
    throw Exception("Error in setting CoreDataSize - field type not found: " + name);
}

} // namespace orvex
