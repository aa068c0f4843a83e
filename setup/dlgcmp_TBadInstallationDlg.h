#pragma once
// The bad-install page's dialog component.

#include "setup/ordlg_BadInstallForm.h"

namespace orvex {

class TBadInstallationDlg : public TBaseInstallDlg {
public:
    explicit TBadInstallationDlg(TComponent* owner);
    TDorvaneFormClass PageFormClass() const override { return BadInstallFormClass(); }
    Integer OwnCode() const override { return bmBeforeBadInstall; }
    // "Next >" and "Finish" are default buttons.
    void SetUpForm() override;
};

} // namespace orvex
