#include "installer/routines_FileSystem.h"

#include "host/DateUtils.h"
#include "host/forms/Dialogs.h"
#include "installer/exceptions_Dorvane.h"
#include "installer/routines_API.h"
#include "installer/routines_Registry.h"
#include "installer/routines_Strings.h"
#include "platform/FileIO.h"
#include "platform/WinPaths.h"
#include "platform/WinSystem.h"

#include <cerrno>

namespace orvex {

std::string ShellFolderValue(const std::string& name, const std::string& def)
{
    return ReadRegString(HKEY_CURRENT_USER, ShellFoldersKey, name, def);
}

std::string GetStartMenuFolder()
{
    return RemoveBackSlash(ShellFolderValue("Start Menu", AddBackSlash(GetWindowsDir()) + "Startmen"));
}

std::string GetProgramsFolder()
{
    return RemoveBackSlash(ShellFolderValue("Programs", AddBackSlash(GetStartMenuFolder()) + "Programs"));
}

std::string GetDesktopFolder()
{
    return RemoveBackSlash(ShellFolderValue("Desktop", AddBackSlash(GetWindowsDir()) + "Desktop"));
}

std::string GetStartupFolder()
{
    return RemoveBackSlash(ShellFolderValue("Startup", AddBackSlash(GetWindowsDir()) + "Startup"));
}

std::string GetProgramFilesFolder()
{
    return RemoveBackSlash(ReadRegString(HKEY_LOCAL_MACHINE, CurrentVersionKey, "ProgramFilesDir",
                                         GetCurrentDrive() + "\\Program Files"));
}

std::string GetCommonFilesFolder()
{
    return RemoveBackSlash(ReadRegString(HKEY_LOCAL_MACHINE, CurrentVersionKey, "CommonFilesDir",
                                         GetCurrentDrive() + "\\Program Files\\Common Files"));
}

void SetDrvnFileAttributes(const std::string& fileName, TDrvnFileAttributes attributes)
{
    const std::string native = NativePath(fileName);
    if (native.empty() || !FileSetReadOnly(native, attributes.Contains(dfaReadOnly))) {
        const int err = native.empty() ? ENOENT : errno;
        throw IEfcSetAttributes("Cannot set file attributes. Error : %s",
                                {WinErrorMessage(WinErrorFromErrno(err))});
    }
}

TDrvnFileAttributes GetDrvnFileAttributes(const std::string& fileName)
{
    TDrvnFileAttributes attributes;
    const std::string native = NativePath(fileName);
    if (!native.empty() && FileIsReadOnly(native))
        attributes.Include(dfaReadOnly);
    return attributes;
}

std::string NearestExistingFolder(const std::string& path)
{
    std::string folder;
    if (!ExpandWinPath(path, folder))
        return {};
    while (!WinDirectoryExists(folder)) {
        const std::size_t slash = folder.find_last_of('\\');
        if (slash == std::string::npos || folder.size() <= 3)
            return {};
        folder = folder.substr(0, slash == 2 ? 3 : slash);
    }
    return folder;
}

bool GetFileDateTime(const std::string& fileName, TDateTime& value)
{
    TLocalTime t;
    if (!WinFileLastWrite(fileName, t))
        return false;
    TDateTime date = 0, time = 0;
    if (!TryEncodeDate(t.Year, t.Month, t.Day, date) ||
        !TryEncodeTime(t.Hour, t.Minute, t.Second, t.Millisecond, time))
        return false;
    value = date + time;
    return true;
}

bool SetFileDateTime(const std::string& fileName, TDateTime value)
{
    if (!(value >= -693593.0 && value < 2958466.0)) // 0001-01-01 .. 9999-12-31
        return false;
    TLocalTime t;
    DecodeDate(value, t.Year, t.Month, t.Day);
    DecodeTime(value, t.Hour, t.Minute, t.Second, t.Millisecond);
    return WinSetFileLastWrite(fileName, t);
}

// ------------------------------------------------------------ TOpenFolderDialog

bool TOpenFolderDialog::Execute()
{
    TFolderBrowse browse;
    browse.Title = Title;
    browse.StartFolder = NearestExistingFolder(InitialFolder);
    browse.ShowCreateButton = ShowCreateButton;
    browse.ShowEditLine = ShowEditLine;
    if (!BrowseForFolder(browse))
        return false;
    Folder = browse.Folder;
    if (CreateOnOK && !Folder.empty() && !WinDirectoryExists(Folder)) {
        bool create = true;
        if (OnBeforeCreateFolder)
            OnBeforeCreateFolder(this, create);
        if (create) {
            const std::string native = NativePath(Folder);
            if (!native.empty())
                ForceDirectories(native);
        }
    }
    return true;
}

} // namespace orvex
