#pragma once
// The connection's dialogs, kept apart from the storage units (the forms
// layer and the storage units each name an enumeration value bsNone).

#include <string>

namespace orvex {

// The login dialog for the database in Mode (1 key, 2 user and password, 3
// both); true on OK with the entries copied back.
bool VekAskLogin(const std::string& DatabaseName, int Mode, std::string& MasterKey,
                 std::string& UserName, std::string& Password);
// An error message box with an OK button.
void VekShowLoginError(const std::string& Message);

} // namespace orvex
