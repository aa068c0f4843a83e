#include "setup/dlgcmp_TLicenseDlg.h"

namespace orvex {

TLicenseDlg::TLicenseDlg(TComponent* owner)
    : TBaseInstallDlg(owner), FLicenseAgreement(std::make_unique<TStringList>())
{
    FOrder = 20;
    RegisterForm(BIFList, LicenseFormClass());
}

TLicenseDlg::~TLicenseDlg() = default;

void TLicenseDlg::SetUpForm()
{
    if (auto* page = dynamic_cast<TLicenseForm*>(CurrentForm)) {
        page->reAgreement->Lines()->Assign(FLicenseAgreement.get());
        page->btnNext->SetDefault(true);
    }
}

} // namespace orvex
