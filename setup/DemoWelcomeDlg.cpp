#include "setup/DemoWelcomeDlg.h"

#include "host/SysUtils.h"

namespace orvex {

TWelcomeForm::TWelcomeForm(TComponent* owner) : TStockInstallPage(owner, "Welcome", false)
{
    Order = 5;
    lblIntro = AddText("lblIntro", "This program will install a copy of the Product onto your computer.", 8, 60);
}

void TWelcomeForm::TranslateForm()
{
    TStockInstallPage::TranslateForm();
    // The product's name goes in after the text is in the user's language.
    lblIntro->SetCaption(StringReplace(lblIntro->Caption(), "Product", "Orvex evaluation version for Delphi 5", 0));
}

} // namespace orvex
