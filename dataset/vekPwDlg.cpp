// The login dialog.

#include "dataset/vekPwDlg.h"

#include "storage/vekConsts.h"

#include <memory>

namespace orvex {

namespace {

template <class T>
T* Place(TVekPasswordDialog* form, const char* name, int left, int top, int width, int height)
{
    T* control = new T(form);
    control->SetName(name);
    control->SetParent(form);
    control->SetBounds(left, top, width, height);
    return control;
}

TEdit* PlaceEdit(TVekPasswordDialog* form, const char* name, int top, char passwordChar)
{
    TEdit* edit = Place<TEdit>(form, name, 104, top, 173, 21);
    edit->SetMaxLength(40);
    edit->SetPasswordChar(passwordChar);
    return edit;
}

TButton* PlaceButton(TVekPasswordDialog* form, const char* name, int left, const char* caption,
                     TModalResult result)
{
    TButton* button = Place<TButton>(form, name, left, 106, 65, 21);
    button->SetCaption(caption);
    button->ModalResult = result;
    return button;
}

} // namespace

TVekPasswordDialog::TVekPasswordDialog(TComponent* owner) : TForm(owner)
{
    SetName("VekPasswordDialog");
    SetBounds(237, 184, 336, 174);
    SetCaption("Enter password");
    Position = poScreenCenter;
    Font()->SetName("MS Sans Serif");
    Font()->SetHeight(-11);

    lblMasterKey = Place<TLabel>(this, "lblMasterKey", 7, 17, 98, 13);
    lblMasterKey->SetCaption("Database Password:");
    lblUsername = Place<TLabel>(this, "lblUsername", 7, 45, 58, 13);
    lblPassword = Place<TLabel>(this, "lblPassword", 7, 80, 56, 13);
    ebMasterKey = PlaceEdit(this, "ebMasterKey", 14, '*');
    ebUsername = PlaceEdit(this, "ebUsername", 42, 0);
    ebPassword = PlaceEdit(this, "ebPassword", 76, '*');
    OKButton = PlaceButton(this, "OKButton", 118, "&OK", mrOk);
    OKButton->SetDefault(true);
    CancelButton = PlaceButton(this, "CancelButton", 197, "Cancel", mrCancel);
    CancelButton->SetCancel(true);

    // Tab order: the buttons first, then the three edits top to bottom.
    OKButton->SetTabOrder(0);
    CancelButton->SetTabOrder(1);
    ebMasterKey->SetTabOrder(2);
    ebUsername->SetTabOrder(3);
    ebPassword->SetTabOrder(4);
    SetActiveControl(ebUsername);
}

bool ShowVekLoginDialog(const std::string& DatabaseName, int Mode, std::string& MasterKey,
                        std::string& UserName, std::string& Password)
{
    auto dialog = std::make_unique<TVekPasswordDialog>(Application);
    dialog->lblMasterKey->SetCaption(SvekMasterKeyLabel);
    dialog->lblUsername->SetCaption(SvekUsernameLabel);
    dialog->lblPassword->SetCaption(SvekPasswordLabel);

    dialog->ebMasterKey->SetText(MasterKey);
    dialog->ebUsername->SetText(UserName);
    dialog->ebPassword->SetText(Password);
    dialog->ebMasterKey->SetEnabled((Mode & vekLoginMasterKey) != 0);
    dialog->ebUsername->SetEnabled((Mode & vekLoginUser) != 0);
    dialog->ebPassword->SetEnabled((Mode & vekLoginUser) != 0);

    dialog->SetCaption(std::string(SvekLoginPrompt) + " - " + ExtractFileName(DatabaseName));

    for (TEdit* edit : {dialog->ebMasterKey, dialog->ebUsername, dialog->ebPassword})
        if (!edit->Enabled())
            edit->SetColor(clMenu);

    // The key when it is asked for, else the password; with neither asked
    // for, no edit takes the focus.
    if (dialog->ebMasterKey->Enabled())
        dialog->SetActiveControl(dialog->ebMasterKey);
    else if (dialog->ebPassword->Enabled())
        dialog->SetActiveControl(dialog->ebPassword);
    else
        dialog->SetActiveControl(nullptr);

    if (dialog->ShowModal() != mrOk)
        return false;
    MasterKey = dialog->ebMasterKey->Text();
    UserName = dialog->ebUsername->Text();
    Password = dialog->ebPassword->Text();
    return true;
}

} // namespace orvex
