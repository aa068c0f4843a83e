#pragma once
// The Windows machine the installer believes it runs on: its version, its
// user and computer names, the user's interface language, and its folders in
// Windows form (mapped to native folders by platform/WinPaths.h).
//
// Everything comes from one configuration. By default it describes a Windows
// XP machine whose user is the process's user and whose interface language is
// that of the locale; tests switch it to another family (Windows 95, NT 4,
// 2000, ...) or change single facts.

#include <cstdint>
#include <map>
#include <string>

namespace orvex {

// The platform ids of the version information.
inline constexpr std::uint32_t VER_PLATFORM_WIN32s = 0;
inline constexpr std::uint32_t VER_PLATFORM_WIN32_WINDOWS = 1;
inline constexpr std::uint32_t VER_PLATFORM_WIN32_NT = 2;

struct TWinVersion {
    std::uint32_t PlatformId = VER_PLATFORM_WIN32_NT;
    std::uint32_t MajorVersion = 5;
    std::uint32_t MinorVersion = 1;
    std::uint32_t BuildNumber = 2600;
    std::string CSDVersion; // the service pack's name
};

// Shell special folders (CSIDL numbers) the installer asks for.
enum : int {
    CSIDL_DESKTOP = 0,
    CSIDL_PROGRAMS = 2,
    CSIDL_CONTROLS = 3,
    CSIDL_PRINTERS = 4,
    CSIDL_PERSONAL = 5,
    CSIDL_FAVORITES = 6,
    CSIDL_STARTUP = 7,
    CSIDL_RECENT = 8,
    CSIDL_SENDTO = 9,
    CSIDL_BITBUCKET = 10,
    CSIDL_STARTMENU = 11,
    CSIDL_DESKTOPDIRECTORY = 16,
    CSIDL_DRIVES = 17,
    CSIDL_FONTS = 20,
    CSIDL_TEMPLATES = 21,
    CSIDL_COMMON_STARTMENU = 22,
    CSIDL_COMMON_PROGRAMS = 23,
    CSIDL_COMMON_STARTUP = 24,
    CSIDL_COMMON_DESKTOPDIRECTORY = 25,
    CSIDL_APPDATA = 26,
    CSIDL_ALTSTARTUP = 29,
    CSIDL_COMMON_ALTSTARTUP = 30,
    CSIDL_COMMON_FAVORITES = 31,
    CSIDL_INTERNET_CACHE = 32,
    CSIDL_COOKIES = 33,
    CSIDL_HISTORY = 34,
    CSIDL_WINDOWS = 36,
    CSIDL_SYSTEM = 37,
    CSIDL_PROGRAM_FILES = 38,
    CSIDL_PROGRAM_FILES_COMMON = 43,
};

// The machines a configuration can start from.
enum class TWinEdition {
    Win32s,   // Windows 3.1 with Win32s
    Win95,
    Win98,
    WinME,
    WinNT351,
    WinNT4,
    Win2000,
    WinXP,
    WinVista, // a later NT the installer does not know
};

struct TWinSystemConfig {
    TWinVersion Version;
    std::string UserName;
    std::string ComputerName;
    std::uint16_t UILanguage = 0x0409; // a Windows language id
    std::string WindowsDir;            // Windows-form folders, no trailing "\"
    std::string SystemDir;
    std::string TempDir;
    std::string ProgramFilesDir;
    std::string CommonFilesDir;
    // The file-system folders of the shell by CSIDL; a number missing here
    // cannot be resolved (virtual folders such as the printers never can).
    std::map<int, std::string> SpecialFolders;
};

// The configuration of an edition: its version and its usual folder layout
// on drive C:, the process's user and machine names, the locale's language.
TWinSystemConfig DefaultWinSystemConfig(TWinEdition edition);

// The configuration in force (at first the XP one) and its replacement.
TWinSystemConfig WinSystemConfig();
void SetWinSystemConfig(const TWinSystemConfig& config);
// SetWinSystemConfig(DefaultWinSystemConfig(edition)).
void EmulateWindows(TWinEdition edition);

// The Windows calls, answered from the configuration.
bool GetVersionEx(TWinVersion& version);
bool GetUserName(std::string& name);
bool GetComputerName(std::string& name);
std::uint16_t GetUserDefaultLangID();
bool GetWindowsDirectory(std::string& path);
bool GetSystemDirectory(std::string& path);
bool GetTempPath(std::string& path); // with a trailing "\", as Windows gives it
// SHGetSpecialFolderLocation followed by SHGetPathFromIDList: false for a
// folder without a file-system path.
bool SHGetSpecialFolderPath(int csidl, std::string& path);

// The Windows language id of a POSIX locale name ("de_DE.UTF-8" gives 0x0407,
// "pt_BR" 0x0416); 0x0409 (US English) for "C", "POSIX", an empty name or a
// language Windows has no id for.
std::uint16_t LangIdFromLocale(const std::string& locale);
// The locale that names the user's language: LC_ALL, else LC_MESSAGES, else LANG.
std::string UserLocaleName();

// The system's message for a Windows error code ("The system cannot find the
// file specified."); a generic text for codes it does not know.
std::string WinErrorMessage(std::uint32_t code);
// The Windows error code nearest to a POSIX errno.
std::uint32_t WinErrorFromErrno(int err);

} // namespace orvex
