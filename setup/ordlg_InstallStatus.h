#pragma once
// The status window: one line of text ("Reading file information...") on a
// panel, sized to the text and centred on the screen.

#include "setup/dlgcmp_TBaseDlg.h"

namespace orvex {

class TInstallStatusForm : public TBaseDorvaneForm {
public:
    explicit TInstallStatusForm(TComponent* owner);
    TPanel* pnlBack;
    TPanel* pnlMessage;
    TLabel* lblMessage;
};

TDorvaneFormClass InstallStatusFormClass();

} // namespace orvex
