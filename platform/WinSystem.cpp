#include "platform/WinSystem.h"

#include "platform/SysInfo.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>

namespace orvex {

namespace {

struct TConfigHolder {
    std::mutex Lock;
    bool Ready = false;
    TWinSystemConfig Config;
};

TConfigHolder& Holder()
{
    static TConfigHolder holder;
    return holder;
}

template <class Read>
auto WithConfig(Read read)
{
    TConfigHolder& h = Holder();
    std::lock_guard<std::mutex> guard(h.Lock);
    if (!h.Ready) {
        h.Config = DefaultWinSystemConfig(TWinEdition::WinXP);
        h.Ready = true;
    }
    return read(h.Config);
}

TWinVersion VersionOf(TWinEdition edition)
{
    switch (edition) {
    case TWinEdition::Win32s: return {VER_PLATFORM_WIN32s, 3, 10, 0, ""};
    case TWinEdition::Win95: return {VER_PLATFORM_WIN32_WINDOWS, 4, 0, 950, ""};
    case TWinEdition::Win98: return {VER_PLATFORM_WIN32_WINDOWS, 4, 10, 1998, ""};
    case TWinEdition::WinME: return {VER_PLATFORM_WIN32_WINDOWS, 4, 90, 3000, ""};
    case TWinEdition::WinNT351: return {VER_PLATFORM_WIN32_NT, 3, 51, 1057, ""};
    case TWinEdition::WinNT4: return {VER_PLATFORM_WIN32_NT, 4, 0, 1381, "Service Pack 6"};
    case TWinEdition::Win2000: return {VER_PLATFORM_WIN32_NT, 5, 0, 2195, "Service Pack 4"};
    case TWinEdition::WinXP: return {VER_PLATFORM_WIN32_NT, 5, 1, 2600, "Service Pack 2"};
    case TWinEdition::WinVista: return {VER_PLATFORM_WIN32_NT, 6, 0, 6002, "Service Pack 2"};
    }
    return {};
}

std::string ComputerNameOf(const std::string& host)
{
    std::string name;
    for (char c : host) {
        if (c == '.' || name.size() == 15)
            break;
        name += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    }
    return name.empty() ? "ORVEX" : name;
}

// The folders of a machine with per-user profiles under profiles.
void AddProfileFolders(TWinSystemConfig& c, const std::string& profiles, bool modern)
{
    const std::string user = profiles + "\\" + c.UserName;
    const std::string all = profiles + "\\All Users";
    auto& f = c.SpecialFolders;
    f[CSIDL_DESKTOP] = user + "\\Desktop";
    f[CSIDL_DESKTOPDIRECTORY] = user + "\\Desktop";
    f[CSIDL_PROGRAMS] = user + "\\Start Menu\\Programs";
    f[CSIDL_PERSONAL] = user + (modern ? "\\My Documents" : "\\Personal");
    f[CSIDL_FAVORITES] = user + "\\Favorites";
    f[CSIDL_STARTUP] = user + "\\Start Menu\\Programs\\Startup";
    f[CSIDL_ALTSTARTUP] = user + "\\Start Menu\\Programs\\Startup";
    f[CSIDL_RECENT] = user + "\\Recent";
    f[CSIDL_SENDTO] = user + "\\SendTo";
    f[CSIDL_STARTMENU] = user + "\\Start Menu";
    f[CSIDL_TEMPLATES] = user + "\\Templates";
    f[CSIDL_APPDATA] = user + "\\Application Data";
    f[CSIDL_COOKIES] = user + "\\Cookies";
    f[CSIDL_INTERNET_CACHE] = user + (modern ? "\\Local Settings" : "") + "\\Temporary Internet Files";
    f[CSIDL_HISTORY] = user + (modern ? "\\Local Settings" : "") + "\\History";
    f[CSIDL_COMMON_STARTMENU] = all + "\\Start Menu";
    f[CSIDL_COMMON_PROGRAMS] = all + "\\Start Menu\\Programs";
    f[CSIDL_COMMON_STARTUP] = all + "\\Start Menu\\Programs\\Startup";
    f[CSIDL_COMMON_ALTSTARTUP] = all + "\\Start Menu\\Programs\\Startup";
    f[CSIDL_COMMON_DESKTOPDIRECTORY] = all + "\\Desktop";
    f[CSIDL_COMMON_FAVORITES] = all + "\\Favorites";
    c.TempDir = modern ? user + "\\Local Settings\\Temp" : "C:\\TEMP";
}

// The folders of a machine without profiles: everything under the Windows folder.
void AddSharedFolders(TWinSystemConfig& c)
{
    const std::string& w = c.WindowsDir;
    auto& f = c.SpecialFolders;
    f[CSIDL_DESKTOP] = w + "\\Desktop";
    f[CSIDL_DESKTOPDIRECTORY] = w + "\\Desktop";
    f[CSIDL_PROGRAMS] = w + "\\Start Menu\\Programs";
    f[CSIDL_PERSONAL] = "C:\\My Documents";
    f[CSIDL_FAVORITES] = w + "\\Favorites";
    f[CSIDL_STARTUP] = w + "\\Start Menu\\Programs\\StartUp";
    f[CSIDL_ALTSTARTUP] = w + "\\Start Menu\\Programs\\StartUp";
    f[CSIDL_RECENT] = w + "\\Recent";
    f[CSIDL_SENDTO] = w + "\\SendTo";
    f[CSIDL_STARTMENU] = w + "\\Start Menu";
    f[CSIDL_TEMPLATES] = w + "\\ShellNew";
    f[CSIDL_APPDATA] = w + "\\Application Data";
    f[CSIDL_COOKIES] = w + "\\Cookies";
    f[CSIDL_INTERNET_CACHE] = w + "\\Temporary Internet Files";
    f[CSIDL_HISTORY] = w + "\\History";
    c.TempDir = w + "\\TEMP";
}

struct TLangEntry {
    const char* Code;
    std::uint16_t Primary;
};

const TLangEntry Languages[] = {
    {"ar", 0x01}, {"bg", 0x02}, {"ca", 0x03}, {"zh", 0x04}, {"cs", 0x05}, {"da", 0x06},
    {"de", 0x07}, {"el", 0x08}, {"en", 0x09}, {"es", 0x0A}, {"fi", 0x0B}, {"fr", 0x0C},
    {"he", 0x0D}, {"iw", 0x0D}, {"hu", 0x0E}, {"is", 0x0F}, {"it", 0x10}, {"ja", 0x11},
    {"ko", 0x12}, {"nl", 0x13}, {"no", 0x14}, {"nb", 0x14}, {"nn", 0x14}, {"pl", 0x15},
    {"pt", 0x16}, {"rm", 0x17}, {"ro", 0x18}, {"ru", 0x19}, {"hr", 0x1A}, {"sr", 0x1A},
    {"sk", 0x1B}, {"sq", 0x1C}, {"sv", 0x1D}, {"th", 0x1E}, {"tr", 0x1F}, {"ur", 0x20},
    {"id", 0x21}, {"uk", 0x22}, {"be", 0x23}, {"sl", 0x24}, {"et", 0x25}, {"lv", 0x26},
    {"lt", 0x27}, {"fa", 0x29}, {"vi", 0x2A}, {"hy", 0x2B}, {"az", 0x2C}, {"eu", 0x2D},
    {"mk", 0x2F}, {"af", 0x36}, {"ka", 0x37}, {"fo", 0x38}, {"hi", 0x39}, {"ms", 0x3E},
    {"kk", 0x3F}, {"sw", 0x41}, {"uz", 0x43}, {"tt", 0x44}, {"ta", 0x49},
};

struct TSubLangEntry {
    const char* Code; // language_TERRITORY
    std::uint16_t Sub;
};

// Sublanguages other than the default (1) for the languages whose Windows id
// depends on the territory.
const TSubLangEntry SubLanguages[] = {
    {"zh", 2},    {"zh_TW", 1}, {"zh_CN", 2}, {"zh_HK", 3}, {"zh_SG", 4}, {"zh_MO", 5},
    {"en_GB", 2}, {"en_AU", 3}, {"en_CA", 4}, {"en_NZ", 5}, {"en_IE", 6}, {"en_ZA", 7},
    {"es_MX", 2}, {"fr_BE", 2}, {"fr_CA", 3}, {"fr_CH", 4}, {"fr_LU", 5}, {"de_CH", 2},
    {"de_AT", 3}, {"de_LU", 4}, {"de_LI", 5}, {"it_CH", 2}, {"nl_BE", 2}, {"pt", 2},
    {"pt_BR", 1}, {"pt_PT", 2}, {"nn", 2},    {"sv_FI", 2}, {"sr", 3},
};

} // namespace

TWinSystemConfig DefaultWinSystemConfig(TWinEdition edition)
{
    TWinSystemConfig c;
    c.Version = VersionOf(edition);
    c.UserName = SysUserName();
    if (c.UserName.empty())
        c.UserName = "User";
    c.ComputerName = ComputerNameOf(SysComputerName());
    c.UILanguage = LangIdFromLocale(UserLocaleName());
    c.ProgramFilesDir = "C:\\Program Files";
    c.CommonFilesDir = "C:\\Program Files\\Common Files";
    switch (edition) {
    case TWinEdition::Win32s:
        c.WindowsDir = "C:\\WINDOWS";
        c.SystemDir = "C:\\WINDOWS\\SYSTEM";
        c.TempDir = "C:\\WINDOWS\\TEMP";
        break; // no shell folders at all
    case TWinEdition::Win95:
    case TWinEdition::Win98:
    case TWinEdition::WinME:
        c.WindowsDir = "C:\\WINDOWS";
        c.SystemDir = "C:\\WINDOWS\\SYSTEM";
        AddSharedFolders(c);
        break;
    case TWinEdition::WinNT351:
    case TWinEdition::WinNT4:
        c.WindowsDir = "C:\\WINNT";
        c.SystemDir = "C:\\WINNT\\system32";
        AddProfileFolders(c, c.WindowsDir + "\\Profiles", false);
        break;
    case TWinEdition::Win2000:
    case TWinEdition::WinXP:
    case TWinEdition::WinVista:
        c.WindowsDir = edition == TWinEdition::Win2000 ? "C:\\WINNT" : "C:\\WINDOWS";
        c.SystemDir = c.WindowsDir + "\\system32";
        AddProfileFolders(c, edition == TWinEdition::WinVista ? "C:\\Users" : "C:\\Documents and Settings",
                          true);
        c.SpecialFolders[CSIDL_PROGRAM_FILES] = c.ProgramFilesDir;
        c.SpecialFolders[CSIDL_PROGRAM_FILES_COMMON] = c.CommonFilesDir;
        break;
    }
    if (edition != TWinEdition::Win32s) {
        c.SpecialFolders[CSIDL_FONTS] = c.WindowsDir + "\\Fonts";
        c.SpecialFolders[CSIDL_WINDOWS] = c.WindowsDir;
        c.SpecialFolders[CSIDL_SYSTEM] = c.SystemDir;
    }
    return c;
}

TWinSystemConfig WinSystemConfig()
{
    return WithConfig([](const TWinSystemConfig& c) { return c; });
}

void SetWinSystemConfig(const TWinSystemConfig& config)
{
    TConfigHolder& h = Holder();
    std::lock_guard<std::mutex> guard(h.Lock);
    h.Config = config;
    h.Ready = true;
}

void EmulateWindows(TWinEdition edition)
{
    SetWinSystemConfig(DefaultWinSystemConfig(edition));
}

bool GetVersionEx(TWinVersion& version)
{
    version = WithConfig([](const TWinSystemConfig& c) { return c.Version; });
    return true;
}

bool GetUserName(std::string& name)
{
    name = WithConfig([](const TWinSystemConfig& c) { return c.UserName; });
    return !name.empty();
}

bool GetComputerName(std::string& name)
{
    name = WithConfig([](const TWinSystemConfig& c) { return c.ComputerName; });
    return !name.empty();
}

std::uint16_t GetUserDefaultLangID()
{
    return WithConfig([](const TWinSystemConfig& c) { return c.UILanguage; });
}

bool GetWindowsDirectory(std::string& path)
{
    path = WithConfig([](const TWinSystemConfig& c) { return c.WindowsDir; });
    return !path.empty();
}

bool GetSystemDirectory(std::string& path)
{
    path = WithConfig([](const TWinSystemConfig& c) { return c.SystemDir; });
    return !path.empty();
}

bool GetTempPath(std::string& path)
{
    path = WithConfig([](const TWinSystemConfig& c) { return c.TempDir; });
    if (path.empty())
        return false;
    if (path.back() != '\\')
        path += '\\';
    return true;
}

bool SHGetSpecialFolderPath(int csidl, std::string& path)
{
    path = WithConfig([csidl](const TWinSystemConfig& c) {
        auto it = c.SpecialFolders.find(csidl);
        return it == c.SpecialFolders.end() ? std::string() : it->second;
    });
    return !path.empty();
}

std::uint16_t LangIdFromLocale(const std::string& locale)
{
    std::string language, territory;
    std::size_t i = 0;
    for (; i < locale.size() && locale[i] != '_' && locale[i] != '.' && locale[i] != '@'; ++i)
        language += static_cast<char>(locale[i] >= 'A' && locale[i] <= 'Z' ? locale[i] + 32 : locale[i]);
    if (i < locale.size() && locale[i] == '_')
        for (++i; i < locale.size() && locale[i] != '.' && locale[i] != '@'; ++i)
            territory += static_cast<char>(locale[i] >= 'a' && locale[i] <= 'z' ? locale[i] - 32 : locale[i]);
    std::uint16_t primary = 0;
    for (const TLangEntry& e : Languages)
        if (language == e.Code)
            primary = e.Primary;
    if (primary == 0)
        return 0x0409;
    std::uint16_t sub = 1;
    const std::string full = language + "_" + territory;
    for (const TSubLangEntry& e : SubLanguages)
        if (language == e.Code || full == e.Code)
            sub = e.Sub; // the territory's entry follows the language's own
    return static_cast<std::uint16_t>((sub << 10) | primary);
}

std::string UserLocaleName()
{
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"})
        if (const char* value = std::getenv(name); value && *value)
            return value;
    return {};
}

std::string WinErrorMessage(std::uint32_t code)
{
    switch (code) {
    case 0: return "The operation completed successfully.";
    case 2: return "The system cannot find the file specified.";
    case 3: return "The system cannot find the path specified.";
    case 5: return "Access is denied.";
    case 8: return "Not enough storage is available to process this command.";
    case 11: return "An attempt was made to load a program with an incorrect format.";
    case 31: return "A device attached to the system is not functioning.";
    case 32: return "The process cannot access the file because it is being used by another process.";
    case 33: return "The process cannot access the file because another process has locked a portion of the file.";
    case 80: return "The file exists.";
    case 112: return "There is not enough space on the disk.";
    case 183: return "Cannot create a file when that file already exists.";
    case 267: return "The directory name is invalid.";
    default: return "Unknown error " + std::to_string(code) + ".";
    }
}

std::uint32_t WinErrorFromErrno(int err)
{
    switch (err) {
    case 0: return 0;
    case ENOENT: return 2;
    case ENOTDIR:
    case ENAMETOOLONG: return 3;
    case EACCES:
    case EPERM:
    case EROFS: return 5;
    case ENOMEM:
    case E2BIG:
    case EAGAIN: return 8;
    case ENOEXEC: return 11;
    case EBUSY:
    case ETXTBSY: return 32;
    case EEXIST: return 80;
    case ENOSPC:
    case EDQUOT: return 112;
    default: return 31;
    }
}

} // namespace orvex
