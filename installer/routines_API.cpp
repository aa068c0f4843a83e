#include "installer/routines_API.h"

#include "installer/exceptions_Dorvane.h"
#include "installer/routines_Strings.h"
#include "platform/FileIO.h"
#include "platform/WinPaths.h"
#include "platform/WinSystem.h"

namespace orvex {

TOSVerType GetOSVersionType()
{
    TWinVersion v;
    if (!GetVersionEx(v))
        throw EAPIRoutines("Could not get information about the current version of Windows");
    switch (v.PlatformId) {
    case VER_PLATFORM_WIN32s: return os31win32;
    case VER_PLATFORM_WIN32_WINDOWS: return v.MinorVersion == 90 ? oswinME : oswin98;
    case VER_PLATFORM_WIN32_NT:
        if (v.MajorVersion < 4)
            return oswinNT351;
        if (v.MajorVersion == 4)
            return oswinNT;
        if (v.MajorVersion == 5)
            return v.MinorVersion == 0 ? oswin2K : oswinXP;
        return osUnidentified;
    default: return osUnidentified;
    }
}

std::string GetSystemDir()
{
    std::string path;
    if (!GetSystemDirectory(path))
        throw EAPIRoutines("Could not retrieve the system directroy from windows");
    return RemoveBackSlash(path);
}

std::string GetWindowsDir()
{
    std::string path;
    if (!GetWindowsDirectory(path))
        throw EAPIRoutines("Could not retrieve the windows directory from windows");
    return RemoveBackSlash(path);
}

std::string GetTempDir()
{
    std::string path;
    if (!GetTempPath(path))
        throw EAPIRoutines("Cannot create a temporary file");
    return RemoveBackSlash(path);
}

std::string GetCurrentDrive()
{
    return GetCurrentDirectory().substr(0, 2);
}

std::string CreateTempFileName(bool keepFile)
{
    std::string name;
    if (!GetTempFileName(GetTempDir(), "bat", name))
        throw EAPIRoutines("Cannot create a temporary file");
    if (!keepFile)
        DeleteFile(NativePath(name));
    return name;
}

std::string CreateTempFile(const std::string& extension)
{
    std::string name;
    if (!GetTempFileName(GetTempDir(), "bat", name, extension))
        throw EAPIRoutines("Cannot create a temporary file");
    return name;
}

std::string GetShortPath(const std::string& path)
{
    std::string result;
    if (!GetShortPathName(path, result))
        return {};
    return result.substr(0, 400);
}

std::string GetSpecialFolder(int csidl)
{
    std::string path;
    if (!SHGetSpecialFolderPath(csidl, path))
        return {};
    return path.substr(0, 260);
}

} // namespace orvex
