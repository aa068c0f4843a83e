#pragma once
// The reboot question, shown when files in use wait for the next start.

#include "setup/ordlg_StockPage.h"

namespace orvex {

class TRebootForm : public TStockInstallPage {
public:
    explicit TRebootForm(TComponent* owner);
    TManagerType ManagerType() const override { return dmReboot; }
    TLabel* lblInfo;
    TRadioButton* rbYes;
    TRadioButton* rbNo;
    // The choice follows the install component's Reboot flag.
    void Activate() override;
    // Keeps "< Previous" hidden from now on (the reboot dialog asks it).
    void KeepPreviousHidden() { FKeepPreviousHidden = true; }

private:
    void ChoiceClicked();
    bool FSettingChoice = false;
};

TDorvaneFormClass RebootFormClass();

} // namespace orvex
