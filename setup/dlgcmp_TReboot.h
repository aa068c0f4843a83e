#pragma once
// The reboot page's dialog component.

#include "setup/ordlg_Reboot.h"

namespace orvex {

class TRebootDlg : public TBaseInstallDlg {
public:
    explicit TRebootDlg(TComponent* owner);
    TDorvaneFormClass PageFormClass() const override { return RebootFormClass(); }
    Integer OwnCode() const override { return bmReboot; }
    // "Next >" and "Finish" are default buttons; "< Previous" stays hidden.
    void SetUpForm() override;
};

} // namespace orvex
