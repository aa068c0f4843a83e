#include "setup/ordlg_InstallStatus.h"

namespace orvex {

TInstallStatusForm::TInstallStatusForm(TComponent* owner) : TBaseDorvaneForm(owner)
{
    SetBorderStyle(bsNone);
    BorderIcons = 0;
    SetBounds(0, 0, 300, 60);
    pnlBack = new TPanel(this);
    pnlBack->SetName("pnlBack");
    pnlBack->SetParent(this);
    pnlBack->SetBounds(0, 0, 300, 60);
    pnlBack->SetAlign(alClient);
    pnlBack->SetBevelInner(bvLowered);
    pnlMessage = new TPanel(pnlBack);
    pnlMessage->SetName("pnlMessage");
    pnlMessage->SetParent(pnlBack);
    pnlMessage->SetBounds(6, 6, 288, 48);
    pnlMessage->SetAlign(alClient);
    pnlMessage->SetBevelOuter(bvLowered);
    lblMessage = new TLabel(pnlMessage);
    lblMessage->SetName("lblMessage");
    lblMessage->SetParent(pnlMessage);
    lblMessage->SetLeft(10);
}

TDorvaneFormClass InstallStatusFormClass()
{
    return FormClassOf<TInstallStatusForm>("TInstallStatusForm");
}

} // namespace orvex
