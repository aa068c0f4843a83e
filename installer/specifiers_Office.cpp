#include "installer/specifiers_Office.h"

#include "installer/routines_API.h"
#include "installer/routines_FileSystem.h"
#include "installer/routines_Registry.h"
#include "platform/WinPaths.h"

namespace orvex {

namespace {

bool KnownOffice(Integer version)
{
    return version >= 7 && version <= 19;
}

// The key of an office setting of the version: "...\<version>.0\<tail>".
std::string OfficeKey(Integer version, const std::string& tail)
{
    const std::string base = version <= 8 ? "\\Software\\Microsoft\\Office\\" : "\\Software\\Policies\\Microsoft\\Office\\";
    return base + IntToStr(version) + ".0\\" + tail;
}

// A template folder: the default value of the FileNew key of name, else def.
std::string TemplateFolder(const std::string& name, const std::string& def)
{
    const Integer version = OfficeVersion();
    if (!KnownOffice(version))
        return def;
    return ReadRegString(HKEY_CURRENT_USER, OfficeKey(version, "Common\\FileNew\\" + name), "", def);
}

// A Word folder: the named value of the Word options key, else the default
// folder under the program files.
std::string WordFolder(const std::string& name, const std::string& defaultFolder)
{
    const std::string def = GetProgramFilesFolder() + "\\" + defaultFolder;
    const Integer version = OfficeVersion();
    if (!KnownOffice(version))
        return def;
    return ReadRegString(HKEY_CURRENT_USER, OfficeKey(version, "Word\\Options"), name, def);
}

std::string UserTemplates()
{
    return TemplateFolder("LocalTemplates", GetProgramFilesFolder() + "\\Microsoft Office\\Templates");
}

} // namespace

Integer OfficeVersion()
{
    const std::string current = ReadRegString(HKEY_CLASSES_ROOT, "\\Word.Document\\CurVer", "", "");
    const std::size_t first = current.find('.');
    const std::size_t second = first == std::string::npos ? first : current.find('.', first + 1);
    if (second == std::string::npos)
        return -1;
    const std::string server =
        ReadRegString(HKEY_CLASSES_ROOT, "\\" + current + "\\protocol\\StdFileEditing\\server", "", "");
    if (server.empty() || !WinFileExists(server))
        return -1;
    return StrToIntDef(current.substr(second + 1), -1);
}


ORVEX_DEFINE_SPECIFIER_CLASS(TpsOfficeUserTemplates, "psOfficeUserTemplates", "Path to the MS Office User Templates directory",
                 "User Templates")
ORVEX_DEFINE_SPECIFIER_CLASS(TpsOfficeWorkgroupTemplates, "psOfficeWorkgroupTemplates",
                 "Path to the MS Office Workgroup Templates directory", "Workgroup Templates")
ORVEX_DEFINE_SPECIFIER_CLASS(TpsOfficeClipartDirectory, "psOfficeClipartDirectory", "Path to the MS Office Clipart directory",
                 "Office Clipart dir")
ORVEX_DEFINE_SPECIFIER_CLASS(TpsOfficeStartupDirectory, "psOfficeStartupDirectory", "Path to the MS Office Startup directory",
                 "Office Startup dir")
ORVEX_DEFINE_SPECIFIER_CLASS(TpsOfficeToolsDirectory, "psOfficeToolsDirectory", "Path to the MS Office Tools directory",
                 "Office Tools dir")
ORVEX_DEFINE_SPECIFIER_CLASS(TpsOfficeFavoritesDirectory, "psOfficeFavoritesDirectory",
                 "Path to the MS Office Favorites directory", "Office Favorites dir")

void TpsOfficeUserTemplates::ResolvePath(TObject*, std::string& path)
{
    path = UserTemplates();
}

void TpsOfficeWorkgroupTemplates::ResolvePath(TObject*, std::string& path)
{
    // The user templates' folder takes the place of the default.
    path = TemplateFolder("SharedTemplates", UserTemplates());
}

void TpsOfficeClipartDirectory::ResolvePath(TObject*, std::string& path)
{
    path = WordFolder("PICTURE-PATH", "Microsoft Office\\Clipart");
}

void TpsOfficeStartupDirectory::ResolvePath(TObject*, std::string& path)
{
    path = WordFolder("STARTUP-PATH", "Microsoft Office\\Office\\Startup");
}

void TpsOfficeToolsDirectory::ResolvePath(TObject*, std::string& path)
{
    path = WordFolder("TOOLS-PATH", "Microsoft Office\\Office");
}

void TpsOfficeFavoritesDirectory::ResolvePath(TObject*, std::string& path)
{
    path = ShellFolderValue("Favorites", GetWindowsDir() + "\\Favorites");
}

void RegisterOfficeSpecifiers(TPathSpecifierClassList* list)
{
    for (TPathSpecifierClass cls :
         {&TpsOfficeUserTemplates::ClassInfo, &TpsOfficeWorkgroupTemplates::ClassInfo,
          &TpsOfficeClipartDirectory::ClassInfo, &TpsOfficeStartupDirectory::ClassInfo,
          &TpsOfficeToolsDirectory::ClassInfo, &TpsOfficeFavoritesDirectory::ClassInfo})
        list->Add(cls);
}

} // namespace orvex
