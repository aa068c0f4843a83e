#include "setup/dlgcmp_TReadmeDlg.h"

namespace orvex {

TReadmeDlg::TReadmeDlg(TComponent* owner) : TBaseInstallDlg(owner), FReadmeText(std::make_unique<TStringList>())
{
    FOrder = 30;
    RegisterForm(BIFList, ReadmeFormClass());
}

TReadmeDlg::~TReadmeDlg() = default;

void TReadmeDlg::SetUpForm()
{
    if (auto* page = dynamic_cast<TReadmeForm*>(CurrentForm)) {
        page->reReadme->Lines()->Assign(FReadmeText.get());
        page->btnNext->SetDefault(true);
    }
}

} // namespace orvex
