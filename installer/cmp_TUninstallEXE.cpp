// The uninstall program's entry in Windows' list of installed programs.

#include "installer/cmp_TUninstallEXE.h"

#include "host/SysUtils.h"
#include "installer/cmp_TInstall.h"
#include "installer/exceptions_Dorvane.h"
#include "installer/routines_API.h"
#include "installer/routines_Registry.h"
#include "installer/routines_Strings.h"
#include "installer/routines_win2k.h"
#include "platform/WinPaths.h"

namespace orvex {

namespace {

// The installed path of an install file that exists and was processed.
bool InstalledPath(TComponent* component, std::string& path)
{
    auto* file = dynamic_cast<TCustomInstallFile*>(component);
    if (file == nullptr || !file->Processed || !file->Include)
        return false;
    const std::string name = file->OriginalDestName.empty() ? file->DestName : file->OriginalDestName;
    path = AddBackSlash(file->DestinationDirectory()) + name;
    return true;
}

// The machine's registered owner or organisation: the NT family keeps them
// under "Windows NT", the others under "Windows".
std::string RegisteredName(const char* value)
{
    const char* key = NTFamily.Contains(GetOSVersionType()) ? "\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"
                                                            : "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
    return ReadRegString(HKEY_LOCAL_MACHINE, key, value, "");
}

} // namespace

TUninstallEXE::TUninstallEXE(TComponent* owner) : TCustomInstallFile(owner)
{
    FNet = true;
}

TUninstallEXE::~TUninstallEXE()
{
    if (TCustomInstall* install = GetInstall())
        install->BuildInfo.AddUninstallOnCreate = false;
}

void TUninstallEXE::WriteUninstallInfo(const std::string& keyPath)
{
    TCustomInstallFile::WriteUninstallInfo(keyPath);
    TCustomInstall* install = GetInstall();
    if (install == nullptr)
        throw IEUninstallEXE("%s could not write information about the uninstall to the registry because there was "
                             "no TInstall component",
                             {Name()});
    const TInstallInformation* info = install->Information();
    const Twin2KExtendedInformation* ext = install->win2KExtendedInformation();
    const std::string key = UninstallKeyPrefix + info->ProductName;
    auto write = [&](const char* name, const std::string& value, bool always) {
        if (always || !value.empty())
            WriteRegString(HKEY_LOCAL_MACHINE, key, name, value);
    };
    const std::string name = OriginalDestName.empty() ? DestName : OriginalDestName;
    write("DisplayName", Trim(info->ProductName), true);
    write("UninstallString", AddBackSlash(DestinationDirectory()) + name + " " + info->ProductName, true);
    write("Comments", ext->Comments, false);
    write("Contact", ext->Contact, false);
    std::string path;
    if (InstalledPath(ext->DisplayIcon, path))
        write("DisplayIcon", path, true);
    write("DisplayVersion", info->Version, false);
    write("HelpLink", ext->HelpLink, false);
    write("HelpTelephone", ext->HelpTelephone, false);
    write("Publisher", info->CompanyName, false);
    write("ProductID", ext->ProductID, false);
    if (InstalledPath(ext->ReadMe, path))
        write("Readme", path, true);
    write("URLInfoAbout", ext->URLInfoAbout, false);
    write("URLUpdateInfo", ext->URLUpdateInfo, false);
    write("RegCompany", RegCompany.empty() ? RegisteredName("RegisteredOrganization") : RegCompany, false);
    write("RegOwner", RegOwner.empty() ? RegisteredName("RegisteredOwner") : RegOwner, false);
}

} // namespace orvex
