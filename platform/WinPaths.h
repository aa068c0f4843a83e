#pragma once
// Windows-form paths ("C:\Program Files\Orvex") over the Linux file system.
//
// The installer keeps its paths in Windows form: they are what the registry
// values, the uninstall entries and the setup log hold. Only at the file-system
// boundary is a path mapped to a native one: every drive letter stands for a
// folder (by default a folder named by the lower-case letter under one root,
// "C:" included), and each component of the path is matched against the names
// that already exist without regard to case, as Windows does; components that
// do not exist yet keep their case. Names are Windows-1252 bytes in Windows
// form and UTF-8 on disk.
//
// A path that begins with "/" is native: it is taken only when it lies inside
// a drive's folder (the running program's own file on an emulated drive, for
// example) and then mapped through that drive; any other native path names
// nothing, so no path reaches host files outside the drives. A path without a drive is
// taken relative to the emulated current directory ("C:\" at first), one that
// begins with a single "\" relative to the current drive's root.

#include <cstdint>
#include <string>

namespace orvex {

// The root under which the drive folders lie. At first the environment's
// ORVEX_WINDOWS_ROOT, else "$HOME/.orvex/windows". Setting it resets the drive
// table to its default and the current directory to "C:\".
std::string WindowsRoot();
void SetWindowsRoot(const std::string& nativeFolder);

// The native folder of a drive letter ('A' to 'Z', either case); empty when
// the letter is not mapped. Mapping a letter to an empty folder unmaps it.
std::string DriveFolder(char drive);
void MapDrive(char drive, const std::string& nativeFolder);

// The emulated current directory, a Windows-form path with its drive.
std::string GetCurrentDirectory();
// False when the folder does not exist.
bool SetCurrentDirectory(const std::string& winPath);

// The absolute, normalised Windows form of a path ("." and ".." resolved,
// "/" read as "\", no trailing "\" except after a drive's root): "C:\A\B".
// False for a native path, a UNC path or a path on an unmapped drive.
bool ExpandWinPath(const std::string& winPath, std::string& result);

// The native path of a Windows-form (or native) path, existing components
// matched without regard to case. False when the path cannot be mapped.
bool WinPathToNative(const std::string& winPath, std::string& native);
// The same, with an empty result when the path cannot be mapped.
std::string NativePath(const std::string& winPath);
// The Windows form of a native path inside a drive's folder; the path itself
// (native) when no drive holds it.
std::string NativeToWinPath(const std::string& native);

// File facts on Windows-form paths.
bool WinFileExists(const std::string& winPath);      // a regular file
bool WinDirectoryExists(const std::string& winPath); // a folder (a drive's root included)

// The last-write time of a file as local calendar time.
struct TLocalTime {
    int Year = 0, Month = 0, Day = 0;
    int Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};
bool WinFileLastWrite(const std::string& winPath, TLocalTime& time);

// Sets a file's last-write time from local calendar time.
bool WinSetFileLastWrite(const std::string& winPath, const TLocalTime& time);

// Limits the bytes the files on a drive may hold together (a floppy or other
// removable disk of the emulated machine); a negative capacity removes the
// limit. Writes past it fall short as on a full disk (see SetFolderCapacity).
void SetDriveCapacity(char drive, std::int64_t capacity);
// The free bytes of a drive with a limit; -1 for a drive without one.
std::int64_t DriveFreeSpace(char drive);

// GetTempFileName: creates a new empty file named by up to three characters of
// prefix, four upper-case hexadecimal digits and the extension (".TMP" unless
// given) in the folder, and gives its Windows-form name. The file is created
// exclusively: a name that exists (a file, a folder or a link) is never
// taken. False when the folder is missing or no name is free.
bool GetTempFileName(const std::string& winFolder, const std::string& prefix, std::string& result,
                     const std::string& extension = ".TMP");

// GetShortPathName: the short form of an existing path. Our file systems keep
// no 8.3 names, so the short form is the expanded long one, as on a Windows
// volume without short names. False when the path does not exist.
bool GetShortPathName(const std::string& winPath, std::string& result);

// Compares two names as Windows does, ignoring the case of Windows-1252
// letters: < 0, 0 or > 0.
int CompareWinNames(const std::string& a, const std::string& b);

// Windows-1252 and UTF-8 for file names at the boundary.
std::string Win1252NameToUtf8(const std::string& name);
std::string Utf8NameToWin1252(const std::string& name);

} // namespace orvex
