#pragma once
// File-system helpers of the installer library on Windows-form paths: the
// shell's folders as the registry names them, file attributes, the nearest
// existing folder, file dates, and the folder browser TOpenFolderDialog.

#include "host/Classes.h"
#include "installer/types_Dorvane.h"

#include <functional>
#include <string>

namespace orvex {

// The key of the shell folders and the key of the program-files folders.
inline const char* const ShellFoldersKey = "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
inline const char* const CurrentVersionKey = "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

// A value of the shell folders key (HKEY_CURRENT_USER), else def.
std::string ShellFolderValue(const std::string& name, const std::string& def);

// The shell's folders from the registry, else their defaults; no trailing
// backslash.
std::string GetStartMenuFolder();   // "Start Menu", else the Windows folder and "Startmen"
std::string GetProgramsFolder();    // "Programs", else the start menu and "Programs"
std::string GetDesktopFolder();     // "Desktop", else the Windows folder and "Desktop"
std::string GetStartupFolder();     // "Startup", else the Windows folder and "Startup"
std::string GetProgramFilesFolder(); // "ProgramFilesDir", else the current drive and "Program Files"
std::string GetCommonFilesFolder();  // "CommonFilesDir", else the current drive and "Program Files\Common Files"

enum TDrvnFileAttribute {
    dfaArchive,
    dfaCompressed,
    dfaDirectory,
    dfaHidden,
    dfaNormal,
    dfaOffline,
    dfaReadOnly,
    dfaSystem,
    dfaTemporary,
};
using TDrvnFileAttributes = TEnumSet<TDrvnFileAttribute>;

// Gives a file the attributes of the set. Only the read-only attribute means
// something on our file systems; the others are accepted and kept nowhere.
// Failure raises IEfcSetAttributes "Cannot set file attributes. Error : %s"
// with the system's text.
void SetDrvnFileAttributes(const std::string& fileName, TDrvnFileAttributes attributes);
// The attributes read back: read-only is the only one.
TDrvnFileAttributes GetDrvnFileAttributes(const std::string& fileName);

// The path with trailing components stripped until it names an existing
// folder; empty when not even its drive exists.
std::string NearestExistingFolder(const std::string& path);

// The last-write date of a file as a date-time value; false when the file
// does not exist.
bool GetFileDateTime(const std::string& fileName, TDateTime& value);
// Sets it; false for a date outside the calendar or a file that cannot be
// touched.
bool SetFileDateTime(const std::string& fileName, TDateTime value);

// Asked before the folder browser creates a folder; clearing `create` keeps
// it from being made.
using TBeforeCreateFolderEvent = std::function<void(TObject* sender, bool& create)>;

// The folder browser of the forms layer, on Windows-form paths. It opens on
// the nearest existing folder of InitialFolder; on OK the chosen folder is
// in Folder and, with CreateOnOK, made when it does not exist yet (after
// OnBeforeCreateFolder agrees).
class TOpenFolderDialog : public TComponent {
public:
    using TComponent::TComponent;

    std::string Folder;
    std::string InitialFolder;
    std::string Title = "Browse for Folder";
    bool ShowCreateButton = true;
    bool ShowEditLine = false;
    bool CreateOnOK = true;
    TBeforeCreateFolderEvent OnBeforeCreateFolder;

    // True when a folder was chosen.
    bool Execute();
};

} // namespace orvex
