#include "installer/cmp_TVersion.h"

#include "installer/routines_FileSystem.h"
#include "installer/routines_Strings.h"
#include "platform/FileIO.h"
#include "platform/Process.h"
#include "platform/VersionResource.h"
#include "platform/WinPaths.h"

#include <cmath>
#include <memory>

namespace orvex {

namespace {

constexpr Word LanguageIds[] = {
    1025, 1026, 1027, 1028, 1029, 1030, 1031, 1032, 1033, 1034, 1035, 1036, 1037, 1038, 1039,
    1040, 1041, 1042, 1043, 1044, 1045, 1046, 1047, 1048, 1049, 1050, 1051, 1052, 1053, 1054,
    1055, 1056, 1057, 2052, 2055, 2057, 2058, 2060, 2064, 2067, 2068, 2070, 2074, 3084, 4108,
};
constexpr Word CodePages[] = {0, 932, 949, 950, 1200, 1250, 1251, 1252, 1253, 1254, 1255, 1256};

std::string VersionText(std::uint32_t ms, std::uint32_t ls)
{
    return Format("%d.%d.%d.%d", {static_cast<int>(ms >> 16), static_cast<int>(ms & 0xFFFF),
                                   static_cast<int>(ls >> 16), static_cast<int>(ls & 0xFFFF)});
}

std::string FileOSText(std::uint32_t os)
{
    switch (os) {
    case 1: return "Windows 3.0 or later";
    case 2: return "16 bit OS/2 Presentation Manager";
    case 3: return "32 bit OS/2 Presentation Manager";
    case 4: return "32 bit Windows";
    case 0x10000: return "MS-Dos";
    case 0x10001: return "Windows 3.0 or later with MS-Dos";
    case 0x10004: return "32 bit Windows with MS-Dos";
    case 0x20000: return "16 bit OS/2";
    case 0x20002: return "16 bit OS/2 with Presentation Manager";
    case 0x30000: return "32 bit OS/2";
    case 0x30003: return "32 bit OS/2 with Presentation Manager";
    case 0x40000: return "Windows NT";
    case 0x40004: return "Windows NT with 32 bit Windows";
    default: return "Unknown";
    }
}

std::string FileTypeText(std::uint32_t type)
{
    switch (type) {
    case 1: return "Application";
    case 2: return "Dynamic-Link Library";
    case 3: return "Device Driver";
    case 4: return "Font";
    case 5: return "Virtual Device Driver";
    case 7: return "Static-Link Library";
    default: return "Unknown";
    }
}

std::string FileSubTypeText(std::uint32_t type, std::uint32_t subType)
{
    static const char* const Drivers[] = {"Printer", "Keyboard", "Language", "Display",       "Mouse",
                                          "Network", "System",   "Installable", "Sound", "Communications"};
    static const char* const Fonts[] = {"Raster", "Vector", "TrueType"};
    if (type == 3)
        return subType >= 1 && subType <= 10 ? Drivers[subType - 1] : "Unknown";
    if (type == 4)
        return subType >= 1 && subType <= 3 ? Fonts[subType - 1] : "Unknown";
    return {};
}

// Whether the file can be opened for reading, sharing everything.
bool CanOpenForReading(const std::string& fileName)
{
    std::string native;
    return WinPathToNative(fileName, native) &&
           TPlatformFile::Open(native, TFileAccess::Read, TFileShare::DenyNone, TFileCreate::OpenExisting) != nullptr;
}

// A file's date in whole seconds: file systems and archive records keep
// dates with different precision, so finer differences mean nothing. A
// millisecond of slack keeps a date stored a hair below its second in it.
long long WholeSeconds(TDateTime value)
{
    return static_cast<long long>(std::floor(value * 86400.0 + 0.001));
}

Integer ByVersions(const std::string& source, const std::string& dest)
{
    switch (CompareVersionStrings(source, dest)) {
    case 0: return ovrSame;
    case 1: return ovrReplace;
    default: return ovrKeep;
    }
}

// The date comparison; sourceDate is read from sourceFile when one is given.
Integer ByDates(const std::string* sourceFile, TDateTime sourceDate, const std::string& destFile)
{
    if (sourceFile && !CanOpenForReading(*sourceFile))
        return ovrNone;
    if (!CanOpenForReading(destFile))
        return ovrNone;
    TDateTime destDate = 0;
    if ((sourceFile && !GetFileDateTime(*sourceFile, sourceDate)) || !GetFileDateTime(destFile, destDate))
        return ovrNone;
    const long long s = WholeSeconds(sourceDate), d = WholeSeconds(destDate);
    return s > d ? ovrReplace : s == d ? ovrSame : ovrKeep;
}

std::string FileVersionOf(const std::string& fileName)
{
    TVersionResource* shared = SharedVersionResource();
    shared->SetFileName(fileName);
    return shared->VersionInfo()->FileVersion;
}

// The decision; sourceFile is null when the source is known by its version
// text and date only.
Integer Decide(const std::string* sourceFile, const std::string& sourceVersion, TDateTime sourceDate,
               const std::string& destFile, TOverwriteType overwriteType)
{
    switch (overwriteType) {
    case owAlways: return ovrReplace;
    case owNever: return !Trim(destFile).empty() && WinFileExists(destFile) ? ovrKeep : ovrReplace;
    case owAsk: return ovrAsk;
    case owVersion:
        // A missing destination is never the same file, whatever the versions.
        if (Trim(destFile).empty() || !WinFileExists(destFile))
            return ovrReplace;
        return ByVersions(sourceFile ? FileVersionOf(*sourceFile) : sourceVersion, FileVersionOf(destFile));
    case owDate: return ByDates(sourceFile, sourceDate, destFile);
    case owVersionDate: {
        const Integer byVersion =
            ByVersions(sourceFile ? FileVersionOf(*sourceFile) : sourceVersion, FileVersionOf(destFile));
        return byVersion == ovrSame ? ByDates(sourceFile, sourceDate, destFile) : byVersion;
    }
    }
    return ovrNone;
}

} // namespace

Word VersionLanguageId(TVersionLanguage language)
{
    if (language < lnArabic || language > lnSwissFrench)
        throw Exception(Format("Unknown language %d", {static_cast<int>(language)}));
    return LanguageIds[language];
}

Word CharacterSetCodePage(TCharacterSet characterSet)
{
    if (characterSet < csASCII || characterSet > csArabic)
        throw Exception(Format("Unknown character set %d", {static_cast<int>(characterSet)}));
    return CodePages[characterSet];
}

void TVersionInfo::Clear()
{
    for (std::string* text : {&Comment, &CompanyName, &FileDescription, &FileVersion, &InternalName,
                              &LegalCopyright, &LegalTradeMarks, &OriginalFileName, &PrivateBuild,
                              &ProductName, &ProductVersion, &SpecialBuild, &FileOS, &FileType, &FileSubType})
        text->clear();
    PrimaryLanguage = 0;
}

void TVersionInfo::Assign(TPersistent* source)
{
    auto* info = dynamic_cast<TVersionInfo*>(source);
    if (!info) {
        TPersistent::Assign(source);
        return;
    }
    Comment = info->Comment;
    CompanyName = info->CompanyName;
    FileDescription = info->FileDescription;
    FileVersion = info->FileVersion;
    InternalName = info->InternalName;
    LegalCopyright = info->LegalCopyright;
    LegalTradeMarks = info->LegalTradeMarks;
    OriginalFileName = info->OriginalFileName;
    PrivateBuild = info->PrivateBuild;
    ProductName = info->ProductName;
    ProductVersion = info->ProductVersion;
    SpecialBuild = info->SpecialBuild;
    FileOS = info->FileOS;
    FileType = info->FileType;
    FileSubType = info->FileSubType;
    PrimaryLanguage = info->PrimaryLanguage;
}

TVersionResource::TVersionResource(TComponent* owner)
    : TComponent(owner), FFileName(ProgramFileName()), FVersionInfo(new TVersionInfo)
{
    ReadVersionInfo();
}

TVersionResource::~TVersionResource()
{
    delete FVersionInfo;
}

void TVersionResource::SetFileName(const std::string& value)
{
    FFileName = value;
    ReadVersionInfo();
}

void TVersionResource::SetLanguage(TVersionLanguage value)
{
    VersionLanguageId(value);
    FLanguage = value;
    ReadVersionInfo();
}

void TVersionResource::SetCharacterSet(TCharacterSet value)
{
    CharacterSetCodePage(value);
    FCharacterSet = value;
    ReadVersionInfo();
}

void TVersionResource::ReadVersionInfo()
{
    TVersionInfo& info = *FVersionInfo;
    info.Clear();
    std::string native;
    TFileVersionInfo block;
    if (!WinPathToNative(FFileName, native) || !block.LoadFromFile(native))
        return;
    TVSFixedFileInfo fixed;
    if (block.QueryFixed(fixed)) {
        std::string translation;
        if (block.QueryValue("\\VarFileInfo\\Translation", translation) && translation.size() == 4)
            info.PrimaryLanguage = static_cast<Word>(
                (static_cast<unsigned char>(translation[0]) | (static_cast<unsigned char>(translation[1]) << 8)) &
                0x3FF);
        info.FileVersion = VersionText(fixed.FileVersionMS, fixed.FileVersionLS);
        info.ProductVersion = VersionText(fixed.ProductVersionMS, fixed.ProductVersionLS);
        info.FileOS = FileOSText(fixed.FileOS);
        info.FileType = FileTypeText(fixed.FileType);
        info.FileSubType = FileSubTypeText(fixed.FileType, fixed.FileSubtype);
    }
    const std::string table = "\\StringFileInfo\\" + IntToHex(VersionLanguageId(FLanguage), 4) +
                              IntToHex(CharacterSetCodePage(FCharacterSet), 4) + "\\";
    const std::pair<const char*, std::string*> keys[] = {
        {"Comment", &info.Comment},
        {"CompanyName", &info.CompanyName},
        {"FileDescription", &info.FileDescription},
        {"InternalName", &info.InternalName},
        {"LegalCopyright", &info.LegalCopyright},
        {"LegalTradeMarks", &info.LegalTradeMarks},
        {"OriginalFileName", &info.OriginalFileName},
        {"PrivateBuild", &info.PrivateBuild},
        {"ProductName", &info.ProductName},
        {"ProductVersion", &info.ProductVersion},
        {"SpecialBuild", &info.SpecialBuild},
    };
    for (const auto& [key, target] : keys) {
        std::u16string text;
        if (block.QueryString(table + key, text))
            *target = Utf16ToWin1252(text);
    }
}

Integer TVersionResource::IsFileNewerByName(const std::string& sourceFile, const std::string& destFile,
                                            TOverwriteType overwriteType)
{
    return Decide(&sourceFile, {}, 0, destFile, overwriteType);
}

Integer IsFileNewerByInfo(const std::string& sourceVersion, const std::string& destFile,
                          TOverwriteType overwriteType, TDateTime sourceDate)
{
    return Decide(nullptr, sourceVersion, sourceDate, destFile, overwriteType);
}

Integer CompareVersionStrings(const std::string& a, const std::string& b)
{
    const int partsA = TokenCount(a, '.');
    const int partsB = TokenCount(b, '.');
    for (int i = 1; i <= partsA && i <= partsB; ++i) {
        const std::string pa = GetToken(a, '.', i);
        const std::string pb = GetToken(b, '.', i);
        int na = 0, nb = 0;
        if (TryStrToInt(pa, na) && TryStrToInt(pb, nb)) {
            if (na != nb)
                return na > nb ? 1 : 2;
        } else if (const int c = CompareStr(pa, pb); c != 0) {
            return c > 0 ? 1 : 2;
        }
    }
    if (partsA == partsB)
        return 0;
    return partsA > partsB ? 1 : 2;
}

TVersionResource* SharedVersionResource()
{
    static std::unique_ptr<TVersionResource> shared(new TVersionResource(nullptr));
    return shared.get();
}

} // namespace orvex
