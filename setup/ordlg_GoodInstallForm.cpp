#include "setup/ordlg_GoodInstallForm.h"

namespace orvex {

TGoodInstallForm::TGoodInstallForm(TComponent* owner) : TStockInstallPage(owner, "Setup complete", true)
{
    Order = 10;
    lblInfo = AddText("lblInfo",
                      "The software has been properly installed. You may start the software by clicking on the icon.",
                      8, 40);
}

TDorvaneFormClass GoodInstallFormClass()
{
    return FormClassOf<TGoodInstallForm>("TGoodInstallForm");
}

} // namespace orvex
