#include "setup/dlgcmp_TBadInstallationDlg.h"

namespace orvex {

TBadInstallationDlg::TBadInstallationDlg(TComponent* owner) : TBaseInstallDlg(owner)
{
    FOrder = 10;
    RegisterForm(BIFList, BadInstallFormClass());
}

void TBadInstallationDlg::SetUpForm()
{
    if (auto* page = dynamic_cast<TBadInstallForm*>(CurrentForm)) {
        page->btnNext->SetDefault(true);
        page->btnFinish->SetDefault(true);
    }
}

} // namespace orvex
