#include "vekConnDialogScript.h"

#include "dataset/vekPwDlg.h"
#include "host/forms/Headless.h"

namespace orvex::conntest {

namespace {

std::vector<int> GModes;

int ModeOf(TVekPasswordDialog* Dialog)
{
    return (Dialog->ebMasterKey->Enabled() ? 1 : 0) | (Dialog->ebUsername->Enabled() ? 2 : 0);
}

// Notes the mode of every login dialog, scripted or not.
void NoteMode(TCustomForm* Form)
{
    if (auto* dialog = dynamic_cast<TVekPasswordDialog*>(Form))
        GModes.push_back(ModeOf(dialog));
}

} // namespace

void ResetDialogs()
{
    Headless()->Reset();
    GModes.clear();
}

void ScriptLogin(const std::string& MasterKey, const std::string& UserName, const std::string& Password)
{
    Headless()
        ->Do([=](TCustomForm* Form) {
            NoteMode(Form);
            auto* dialog = dynamic_cast<TVekPasswordDialog*>(Form);
            if (!dialog)
                return;
            if (dialog->ebMasterKey->Enabled())
                dialog->ebMasterKey->SetText(MasterKey);
            if (dialog->ebUsername->Enabled()) {
                dialog->ebUsername->SetText(UserName);
                dialog->ebPassword->SetText(Password);
            }
        })
        .Press(VK_RETURN);
}

void ScriptMessageOK()
{
    Headless()->Answer(IDOK);
}

std::vector<std::string> DialogLog()
{
    return Headless()->Log();
}

std::vector<std::string> MessageTexts()
{
    std::vector<std::string> texts;
    for (const THeadlessMessage& message : Headless()->Messages())
        texts.push_back(message.Text);
    return texts;
}

std::vector<int> LoginModes()
{
    return GModes;
}

} // namespace orvex::conntest
