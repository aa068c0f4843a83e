// System facts from the C library and the kernel.

#include "platform/SysInfo.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits.h>
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <vector>

namespace orvex {

namespace {

std::string LookUpUserName()
{
    long bufSize = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(bufSize > 0 ? static_cast<std::size_t>(bufSize) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buf.data(), buf.size(), &found) == 0 && found &&
        found->pw_name && *found->pw_name)
        return found->pw_name;
    for (const char* var : {"USER", "LOGNAME"}) {
        const char* value = std::getenv(var);
        if (value && *value)
            return value;
    }
    return {};
}

} // namespace

std::string SysUserName()
{
    // The password database is read once per effective user and thread:
    // every table the engine creates (a query's result table too) is
    // stamped with the name.
    thread_local uid_t cachedUid = static_cast<uid_t>(-1);
    thread_local bool cached = false;
    thread_local std::string cachedName;
    const uid_t uid = geteuid();
    if (!cached || uid != cachedUid) {
        cachedName = LookUpUserName();
        cachedUid = uid;
        cached = true;
    }
    return cachedName;
}

std::string SysComputerName()
{
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof(name) - 1) != 0)
        return {};
    return name;
}

std::uint32_t SysThreadId()
{
    return static_cast<std::uint32_t>(gettid());
}

bool SysOSVersion(TSysOSVersion& version)
{
    utsname info{};
    if (uname(&info) != 0)
        return false;
    version = TSysOSVersion{};
    version.Name = info.sysname;
    version.Details = info.version;
    // "6.1.0-18-amd64" gives 6, 1, 0, 18.
    const char* p = info.release;
    for (int n = 0; n < 4 && *p; ++n) {
        while (*p && !std::isdigit(static_cast<unsigned char>(*p)))
            ++p;
        long value = 0;
        while (std::isdigit(static_cast<unsigned char>(*p))) {
            if (value < 100000000)
                value = value * 10 + (*p - '0');
            ++p;
        }
        version.Numbers[n] = static_cast<int>(value);
    }
    return true;
}

int SysLastError()
{
    return errno;
}

std::string SysErrorText(int code)
{
    // strerrordesc_np answers nullptr for a code the system has no text for
    // (strerror would make up "Unknown error N").
    const char* text = strerrordesc_np(code);
    return text ? text : std::string();
}

} // namespace orvex
