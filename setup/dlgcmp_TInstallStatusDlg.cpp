#include "setup/dlgcmp_TInstallStatusDlg.h"

namespace orvex {

TInstallStatusDlg::TInstallStatusDlg(TComponent* owner) : TBaseInstallDlg(owner) {}

TInstallStatusDlg::~TInstallStatusDlg()
{
    delete FForm;
}

void TInstallStatusDlg::Notification(TComponent* component, TOperation operation)
{
    TBaseInstallDlg::Notification(component, operation);
    if (operation == opRemove && component == FForm)
        FForm = nullptr;
}

void TInstallStatusDlg::ReceiveMessage(TObject* sender, Integer code, TObject* parameter)
{
    if (DialogManager() != nullptr)
        return;
    if (code == bmPushStatusText) {
        const std::string who = Name().empty() ? ClassName() : Name();
        if (parameter == nullptr)
            throw Exception(FormatFromEnglish("%s got a nil PO parameter", {who}));
        auto* message = dynamic_cast<TMessageParameter*>(parameter);
        if (message == nullptr)
            throw Exception(FormatFromEnglish("The PO object passed to %s is not a TMessageParameter object", {who}));
        FTexts.push_back(message->Text);
        ShowText(message->Text);
    } else if (code == bmPopStatusText) {
        if (!FTexts.empty())
            FTexts.pop_back();
        if (!FTexts.empty())
            ShowText(FTexts.back());
        else if (FForm != nullptr)
            FForm->Hide();
    }
}

void TInstallStatusDlg::ShowText(const std::string& text)
{
    if (FForm == nullptr) {
        FForm = static_cast<TInstallStatusForm*>(InstallStatusFormClass().Create(Application));
        FForm->FreeNotification(this);
        CurrentForm = FForm;
        AssignDialogProperties();
        FForm->SetTop((Screen->Height() - FForm->Height()) / 2);
    }
    TLabel* label = FForm->lblMessage;
    label->SetAlignment(taLeftJustify);
    label->SetWordWrap(false);
    label->SetCaption(text);
    FForm->Translate();
    label->SetAutoSize(true);
    label->SetTop((FForm->pnlMessage->ClientHeight() - label->Height()) / 2);
    const int width = label->Width() + FForm->pnlBack->Left() + FForm->pnlMessage->Left() + label->Left() + 25;
    FForm->SetBounds((Screen->Width() - width) / 2, FForm->Top(), width, FForm->Height());
    FForm->Show();
    FForm->Repaint();
    Application->ProcessMessages();
}

} // namespace orvex
