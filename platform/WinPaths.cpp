#include "platform/WinPaths.h"

#include "platform/CodePage.h"
#include "platform/FileIO.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <vector>

namespace orvex {

namespace {

struct TDriveTable {
    std::mutex Lock;
    bool Ready = false;
    std::string Root;
    std::string Drives[26];
    std::string CurrentDir = "C:\\";
};

TDriveTable& Table()
{
    static TDriveTable table;
    return table;
}

std::string DefaultRoot()
{
    if (const char* env = std::getenv("ORVEX_WINDOWS_ROOT"); env && *env)
        return env;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.orvex/windows";
}

void ResetDrives(TDriveTable& t, const std::string& root)
{
    t.Root = root;
    while (t.Root.size() > 1 && t.Root.back() == '/')
        t.Root.pop_back();
    for (int i = 0; i < 26; ++i)
        t.Drives[i] = t.Root + "/" + static_cast<char>('a' + i);
    t.CurrentDir = "C:\\";
    t.Ready = true;
}

// Call with the table locked.
TDriveTable& ReadyTable(std::unique_lock<std::mutex>& guard)
{
    TDriveTable& t = Table();
    guard = std::unique_lock<std::mutex>(t.Lock);
    if (!t.Ready)
        ResetDrives(t, DefaultRoot());
    return t;
}

int DriveIndex(char drive)
{
    if (drive >= 'a' && drive <= 'z')
        return drive - 'a';
    if (drive >= 'A' && drive <= 'Z')
        return drive - 'A';
    return -1;
}

bool IsDriveSpec(const std::string& s)
{
    return s.size() >= 2 && s[1] == ':' && DriveIndex(s[0]) >= 0;
}

// Case folding of Windows-1252 letters for name comparison.
unsigned char FoldChar(unsigned char c)
{
    if (c >= 'a' && c <= 'z')
        return static_cast<unsigned char>(c - 32);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
        return static_cast<unsigned char>(c - 32);
    switch (c) {
    case 0x9A: return 0x8A; // s caron
    case 0x9C: return 0x8C; // oe
    case 0x9E: return 0x8E; // z caron
    case 0xFF: return 0x9F; // y diaeresis
    default: return c;
    }
}

// Splits a Windows path after its drive into components, resolving "." and "..".
void AddComponents(const std::string& text, std::vector<std::string>& parts)
{
    std::string part;
    auto flush = [&]() {
        if (part.empty() || part == ".") {
        } else if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else {
            parts.push_back(part);
        }
        part.clear();
    };
    for (char c : text) {
        if (c == '\\' || c == '/')
            flush();
        else
            part += c;
    }
    flush();
}

// The drive letter (upper case) and the components of an expanded path.
bool SplitWinPath(const std::string& winPath, const std::string& currentDir, char& drive,
                  std::vector<std::string>& parts)
{
    if (winPath.empty() || winPath[0] == '/')
        return false;
    if (winPath.size() >= 2 && (winPath[0] == '\\' || winPath[0] == '/') &&
        (winPath[1] == '\\' || winPath[1] == '/'))
        return false; // UNC
    parts.clear();
    std::string rest;
    if (IsDriveSpec(winPath)) {
        drive = static_cast<char>(FoldChar(static_cast<unsigned char>(winPath[0])));
        rest = winPath.substr(2);
        const bool rooted = !rest.empty() && (rest[0] == '\\' || rest[0] == '/');
        if (!rooted && IsDriveSpec(currentDir) &&
            FoldChar(static_cast<unsigned char>(currentDir[0])) == static_cast<unsigned char>(drive))
            AddComponents(currentDir.substr(2), parts);
    } else {
        if (!IsDriveSpec(currentDir))
            return false;
        drive = static_cast<char>(FoldChar(static_cast<unsigned char>(currentDir[0])));
        rest = winPath;
        if (rest[0] != '\\')
            AddComponents(currentDir.substr(2), parts);
    }
    AddComponents(rest, parts);
    return true;
}

std::string JoinWin(char drive, const std::vector<std::string>& parts)
{
    std::string s(1, drive);
    s += ":\\";
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i)
            s += '\\';
        s += parts[i];
    }
    return s;
}

// The entry of folder whose name matches name without regard to case: the
// exact name first, else the first that folds equal; empty when none.
std::string MatchEntry(const std::string& folder, const std::string& utf8Name)
{
    struct stat st {};
    const std::string exact = folder + "/" + utf8Name;
    if (::lstat(exact.c_str(), &st) == 0)
        return utf8Name;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return {};
    const std::string wanted = Utf8NameToWin1252(utf8Name);
    std::string found;
    while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        if (CompareWinNames(Utf8NameToWin1252(name), wanted) == 0) {
            found = name;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

bool StatWin(const std::string& winPath, struct stat& st)
{
    std::string native;
    return WinPathToNative(winPath, native) && ::stat(native.c_str(), &st) == 0;
}


} // namespace

std::string WindowsRoot()
{
    std::unique_lock<std::mutex> guard;
    return ReadyTable(guard).Root;
}

void SetWindowsRoot(const std::string& nativeFolder)
{
    std::unique_lock<std::mutex> guard;
    ResetDrives(ReadyTable(guard), nativeFolder);
}

std::string DriveFolder(char drive)
{
    const int index = DriveIndex(drive);
    if (index < 0)
        return {};
    std::unique_lock<std::mutex> guard;
    return ReadyTable(guard).Drives[index];
}

void MapDrive(char drive, const std::string& nativeFolder)
{
    const int index = DriveIndex(drive);
    if (index < 0)
        return;
    std::unique_lock<std::mutex> guard;
    ReadyTable(guard).Drives[index] = nativeFolder;
}

std::string GetCurrentDirectory()
{
    std::unique_lock<std::mutex> guard;
    return ReadyTable(guard).CurrentDir;
}

bool SetCurrentDirectory(const std::string& winPath)
{
    std::string expanded;
    if (!ExpandWinPath(winPath, expanded) || !WinDirectoryExists(expanded))
        return false;
    std::unique_lock<std::mutex> guard;
    ReadyTable(guard).CurrentDir = expanded;
    return true;
}

bool ExpandWinPath(const std::string& winPath, std::string& result)
{
    std::string current;
    {
        std::unique_lock<std::mutex> guard;
        current = ReadyTable(guard).CurrentDir;
    }
    char drive = 0;
    std::vector<std::string> parts;
    if (!SplitWinPath(winPath, current, drive, parts) || DriveFolder(drive).empty())
        return false;
    result = JoinWin(drive, parts);
    return true;
}

bool WinPathToNative(const std::string& winPath, std::string& native)
{
    if (!winPath.empty() && winPath[0] == '/') {
        // A native path is mapped only at the drive-folder boundary: one
        // inside a drive's folder goes through that drive (".." never leaves
        // it), any other names nothing of the emulated machine.
        const std::string win = NativeToWinPath(winPath);
        if (win.empty() || win[0] == '/')
            return false;
        return WinPathToNative(win, native);
    }
    std::string current;
    {
        std::unique_lock<std::mutex> guard;
        current = ReadyTable(guard).CurrentDir;
    }
    char drive = 0;
    std::vector<std::string> parts;
    if (!SplitWinPath(winPath, current, drive, parts))
        return false;
    std::string path = DriveFolder(drive);
    if (path.empty())
        return false;
    bool existing = true; // every component so far exists on disk
    for (const std::string& part : parts) {
        const std::string utf8 = Win1252NameToUtf8(part);
        std::string name = utf8;
        if (existing) {
            name = MatchEntry(path, utf8);
            if (name.empty()) {
                existing = false;
                name = utf8;
            }
        }
        path += "/" + name;
    }
    native = path;
    return true;
}

std::string NativePath(const std::string& winPath)
{
    std::string native;
    return WinPathToNative(winPath, native) ? native : std::string();
}

std::string NativeToWinPath(const std::string& native)
{
    std::string drives[26];
    {
        std::unique_lock<std::mutex> guard;
        TDriveTable& t = ReadyTable(guard);
        for (int i = 0; i < 26; ++i)
            drives[i] = t.Drives[i];
    }
    // The longest drive folder that holds the path wins.
    int best = -1;
    for (int i = 0; i < 26; ++i) {
        const std::string& folder = drives[i];
        if (folder.empty() || native.compare(0, folder.size(), folder) != 0)
            continue;
        if (native.size() != folder.size() && native[folder.size()] != '/')
            continue;
        if (best < 0 || folder.size() > drives[best].size())
            best = i;
    }
    if (best < 0)
        return native;
    std::vector<std::string> parts;
    AddComponents(native.substr(drives[best].size()), parts);
    for (std::string& part : parts)
        part = Utf8NameToWin1252(part);
    return JoinWin(static_cast<char>('A' + best), parts);
}

bool WinFileExists(const std::string& winPath)
{
    struct stat st {};
    return StatWin(winPath, st) && S_ISREG(st.st_mode);
}

bool WinDirectoryExists(const std::string& winPath)
{
    struct stat st {};
    return StatWin(winPath, st) && S_ISDIR(st.st_mode);
}

bool WinFileLastWrite(const std::string& winPath, TLocalTime& time)
{
    struct stat st {};
    if (!StatWin(winPath, st))
        return false;
    std::tm local {};
    const std::time_t seconds = st.st_mtim.tv_sec;
    if (!::localtime_r(&seconds, &local))
        return false;
    time.Year = local.tm_year + 1900;
    time.Month = local.tm_mon + 1;
    time.Day = local.tm_mday;
    time.Hour = local.tm_hour;
    time.Minute = local.tm_min;
    time.Second = local.tm_sec > 59 ? 59 : local.tm_sec;
    time.Millisecond = static_cast<int>(st.st_mtim.tv_nsec / 1000000);
    return true;
}

bool WinSetFileLastWrite(const std::string& winPath, const TLocalTime& time)
{
    std::string native;
    if (!WinPathToNative(winPath, native))
        return false;
    std::tm local{};
    local.tm_year = time.Year - 1900;
    local.tm_mon = time.Month - 1;
    local.tm_mday = time.Day;
    local.tm_hour = time.Hour;
    local.tm_min = time.Minute;
    local.tm_sec = time.Second;
    local.tm_isdst = -1;
    const std::time_t seconds = std::mktime(&local);
    if (seconds == static_cast<std::time_t>(-1) && time.Year != 1969)
        return false;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = seconds;
    times[1].tv_nsec = static_cast<long>(time.Millisecond) * 1000000L;
    return ::utimensat(AT_FDCWD, native.c_str(), times, 0) == 0;
}

void SetDriveCapacity(char drive, std::int64_t capacity)
{
    const std::string folder = DriveFolder(drive);
    if (!folder.empty())
        SetFolderCapacity(folder, capacity);
}

std::int64_t DriveFreeSpace(char drive)
{
    const std::string folder = DriveFolder(drive);
    return folder.empty() ? -1 : FolderFreeSpace(folder);
}

bool GetTempFileName(const std::string& winFolder, const std::string& prefix, std::string& result,
                     const std::string& extension)
{
    std::string folder;
    if (!ExpandWinPath(winFolder, folder) || !WinDirectoryExists(folder))
        return false;
    if (folder.back() != '\\')
        folder += '\\';
    static std::atomic<unsigned> counter{0};
    const unsigned seed = static_cast<unsigned>(::getpid()) * 2654435761u +
                          static_cast<unsigned>(std::time(nullptr));
    const std::string head = prefix.substr(0, 3);
    for (unsigned attempt = 0; attempt < 0x10000; ++attempt) {
        const unsigned unique = ((seed + counter.fetch_add(1)) & 0xFFFF);
        if (unique == 0)
            continue;
        char digits[8];
        std::snprintf(digits, sizeof digits, "%04X", unique);
        const std::string name = folder + head + digits + extension;
        std::string native;
        if (!WinPathToNative(name, native))
            return false;
        TFileError error = TFileError::None;
        auto file = TPlatformFile::Open(native, TFileAccess::Write, TFileShare::DenyNone,
                                        TFileCreate::CreateNew, &error);
        if (file) {
            result = name;
            return true;
        }
        if (error != TFileError::AlreadyExists)
            return false;
    }
    return false;
}

bool GetShortPathName(const std::string& winPath, std::string& result)
{
    std::string expanded;
    struct stat st {};
    if (!ExpandWinPath(winPath, expanded) || !StatWin(expanded, st))
        return false;
    result = expanded;
    return true;
}

int CompareWinNames(const std::string& a, const std::string& b)
{
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        const int ca = FoldChar(static_cast<unsigned char>(a[i]));
        const int cb = FoldChar(static_cast<unsigned char>(b[i]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::string Win1252NameToUtf8(const std::string& name)
{
    return Win1252ToUtf8(name);
}

// A name on disk that is not UTF-8 is taken byte for byte.
std::string Utf8NameToWin1252(const std::string& name)
{
    return IsValidUtf8(name) ? Utf8ToWin1252(name) : name;
}

} // namespace orvex
