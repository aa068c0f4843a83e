// The connection's dialogs over the forms layer.

#include "dataset/vekDatabaseLogin.h"

#include "dataset/vekPwDlg.h"
#include "host/forms/Dialogs.h"

namespace orvex {

bool VekAskLogin(const std::string& DatabaseName, int Mode, std::string& MasterKey, std::string& UserName,
                 std::string& Password)
{
    return ShowVekLoginDialog(DatabaseName, Mode, MasterKey, UserName, Password);
}

void VekShowLoginError(const std::string& Message)
{
    MessageDlg(Message, mtError, mbOK);
}

} // namespace orvex
