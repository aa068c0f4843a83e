#pragma once
// Playing the user of the connection's dialogs on the headless backend, kept
// apart from the storage headers (both name an enumeration value bsNone).

#include <string>
#include <vector>

namespace orvex::conntest {

// Empties the script and the records of what was shown.
void ResetDialogs();
// The next login dialog: the three entries set (an entry of a disabled edit
// is left as the dialog shows it), then OK.
void ScriptLogin(const std::string& MasterKey, const std::string& UserName, const std::string& Password);
// The next message box is answered with OK.
void ScriptMessageOK();
// The headless backend's log ("ShowModal VekPasswordDialog", "Cancel ...").
std::vector<std::string> DialogLog();
// The texts of the message boxes shown.
std::vector<std::string> MessageTexts();
// The login modes the dialogs were shown in, in order (1 key, 2 user, 3 both).
std::vector<int> LoginModes();

} // namespace orvex::conntest
