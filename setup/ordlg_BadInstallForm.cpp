#include "setup/ordlg_BadInstallForm.h"

namespace orvex {

TBadInstallForm::TBadInstallForm(TComponent* owner) : TStockInstallPage(owner, "Setup incomplete", true)
{
    Order = 10;
    lblInfo = AddText("lblInfo",
                      "This software has not been properly installed and will not work correctly if you try to use "
                      "it.",
                      8, 40);
}

TDorvaneFormClass BadInstallFormClass()
{
    return FormClassOf<TBadInstallForm>("TBadInstallForm");
}

} // namespace orvex
