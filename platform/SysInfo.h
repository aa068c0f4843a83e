#pragma once
// Facts about the running system: the user, the machine, the calling thread,
// the operating system's version and the text of its last error.

#include <cstdint>
#include <string>

namespace orvex {

// The login name of the process's user: its passwd entry, else the USER or
// LOGNAME environment variable; empty when none is known.
std::string SysUserName();
// The machine's host name; empty when it cannot be read.
std::string SysComputerName();
// The kernel's id of the calling thread.
std::uint32_t SysThreadId();

struct TSysOSVersion {
    std::string Name;    // the system's name, "Linux"
    int Numbers[4] = {}; // the first four numbers of the release, 0 when missing
    std::string Details; // the kernel's version text (build and date)
};
// False when the system will not say.
bool SysOSVersion(TSysOSVersion& version);

// The calling thread's last OS error code (errno).
int SysLastError();
// The system's text for an OS error code; empty when it has none.
std::string SysErrorText(int code);

} // namespace orvex
