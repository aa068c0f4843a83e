#pragma once
// The status window's dialog component. Without a dialog manager it answers
// the push (-974) and pop (-973) of status texts: a stack whose top is shown,
// the window hidden when it empties.

#include "setup/ordlg_InstallStatus.h"

#include <vector>

namespace orvex {

class TInstallStatusDlg : public TBaseInstallDlg {
public:
    explicit TInstallStatusDlg(TComponent* owner);
    ~TInstallStatusDlg() override;

    void ReceiveMessage(TObject* sender, Integer code, TObject* parameter) override;
    TDorvaneFormClass PageFormClass() const override { return InstallStatusFormClass(); }

    const std::vector<std::string>& Texts() const { return FTexts; }
    // The window, once created (nil before the first text).
    TInstallStatusForm* StatusForm() const { return FForm; }

protected:
    void Notification(TComponent* component, TOperation operation) override;

private:
    void ShowText(const std::string& text);
    std::vector<std::string> FTexts;
    TInstallStatusForm* FForm = nullptr;
};

} // namespace orvex
