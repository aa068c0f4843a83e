#pragma once
// What Windows does for an installer beyond files and the registry, as the
// emulated machine does it: files held open by running programs, renames
// delayed until the next start, the RunOnce values, the restart itself and
// the self-registration of ActiveX libraries and type libraries.
//
// Nothing here restarts anything. A restart request is recorded and refused
// (the installer then takes its failed-restart path); "the next start" is
// RunNextStart, which a test calls to play the machine coming up again: it
// applies WININIT.INI's [Rename] section and the delayed renames, then runs
// and removes the RunOnce values. Self-registrations are recorded in the
// registry stand-in under SelfRegistrationKey.

#include <cstdint>
#include <string>
#include <vector>

namespace orvex {

// A file is in use when another handle holds it open with a share mode that
// denies writing (as a running program or a loaded library is held): it can
// then be neither deleted nor replaced. winPath is a Windows-form path.
bool WinFileInUse(const std::string& winPath);
// Deletes a file unless it is in use; false (with a Windows error code:
// 32 sharing violation, 2 not found, 5 access denied) when it fails.
bool WinDeleteFile(const std::string& winPath, std::uint32_t* error = nullptr);
// Replaces to by from in one rename, unless to is in use.
bool WinReplaceFile(const std::string& from, const std::string& to, std::uint32_t* error = nullptr);

// MoveFileEx(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT):
// records the rename for the next start (an empty to deletes from). Refused
// (false) while delayed renames are switched off, as on a system that does
// not offer them.
bool MoveFileDelayUntilReboot(const std::string& from, const std::string& to);
void SetDelayedRenamesAllowed(bool allowed);
// The delayed renames waiting for the next start, in order (from, to).
std::vector<std::pair<std::string, std::string>> PendingDelayedRenames();

// ExitWindowsEx: recorded under RestartKey ("Requests" counts them, "Last"
// names the kind) and refused, so the caller takes its failed path.
enum class TRestartKind { Reboot, RebootWithShutdownPrivilege };
bool RequestRestart(TRestartKind kind);
int RestartRequestCount();
inline const char* const RestartKey = "\\SYSTEM\\Orvex\\Restart";

// Self-registration. DllRegisterServer of a library and "/REGSERVER" of a
// program are recorded with the kind "DllRegisterServer" or "RegServer", a
// type library with "TypeLib" and its help folder: the value named by the
// file's path under HKEY_LOCAL_MACHINE SelfRegistrationKey. The file must
// exist (else false with error 2, as LoadLibrary fails).
bool SelfRegisterLibrary(const std::string& winPath, std::uint32_t* error = nullptr);
bool SelfRegisterProgram(const std::string& winPath, std::uint32_t* error = nullptr);
bool RegisterTypeLibrary(const std::string& winPath, const std::string& helpFolder,
                         std::uint32_t* error = nullptr);
inline const char* const SelfRegistrationKey = "\\SYSTEM\\Orvex\\SelfRegistration";
// The recorded kind of a file ("" when it was never registered).
std::string SelfRegistrationOf(const std::string& winPath);

// The machine's next start: WININIT.INI [Rename] (entries "target=source";
// "NUL" as target deletes the source), the delayed renames, then every
// RunOnce value of HKEY_LOCAL_MACHINE and of HKEY_CURRENT_USER, each removed
// before its command runs. A command is a batch file (".bat": the lines
// "erase", "del", "move" and "deltree /y" are carried out) or a program,
// started and waited for up to timeoutMs. The commands run, in order, are
// returned.
std::vector<std::string> RunNextStart(int timeoutMs = 120000);

} // namespace orvex

namespace orvex {

// WritePrivateProfileString on a Windows-form INI file: sets key=value in the
// section (created, with the file, when missing). False when the file cannot
// be written.
bool WritePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                               const std::string& winFile);
// The "key=value" lines of a section, in file order (empty when missing).
std::vector<std::string> GetPrivateProfileSection(const std::string& section, const std::string& winFile);

} // namespace orvex
