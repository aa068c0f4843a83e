#include "setup/dlgcmp_TReboot.h"

namespace orvex {

TRebootDlg::TRebootDlg(TComponent* owner) : TBaseInstallDlg(owner)
{
    FOrder = 10;
    RegisterForm(BIFList, RebootFormClass());
}

void TRebootDlg::SetUpForm()
{
    if (auto* page = dynamic_cast<TRebootForm*>(CurrentForm)) {
        page->btnNext->SetDefault(true);
        page->btnFinish->SetDefault(true);
        page->KeepPreviousHidden();
        page->btnPrevious->Hide();
    }
}

} // namespace orvex
