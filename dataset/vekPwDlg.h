#pragma once
// The login dialog: where a user enters the master key of an encrypted
// database and/or a user name and password while a database connects.

#include "host/forms/Forms.h"
#include "host/forms/StdCtrls.h"

#include <string>

namespace orvex {

class TVekPasswordDialog : public TForm {
public:
    explicit TVekPasswordDialog(TComponent* owner);

    TLabel* lblMasterKey;
    TLabel* lblUsername;
    TLabel* lblPassword;
    TEdit* ebMasterKey;
    TEdit* ebUsername;
    TEdit* ebPassword;
    TButton* OKButton;
    TButton* CancelButton;
};

// What the login dialog asks for: bit 1 the master key, bit 2 the user name
// and password. A connection uses 1, 2 or 3.
constexpr int vekLoginMasterKey = 1;
constexpr int vekLoginUser = 2;

// Shows the login dialog for the database modally. On OK the three edits'
// texts go back into MasterKey, UserName and Password (a disabled edit gives
// back what it was given) and the result is true; otherwise nothing changes.
bool ShowVekLoginDialog(const std::string& DatabaseName, int Mode, std::string& MasterKey,
                        std::string& UserName, std::string& Password);

} // namespace orvex
