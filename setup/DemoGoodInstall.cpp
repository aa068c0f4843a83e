#include "setup/DemoGoodInstall.h"

namespace orvex {

TAfterGoodInstallDlg::TAfterGoodInstallDlg(TComponent* owner)
    : TStockInstallPage(owner, "Installation complete", true)
{
    Order = 20;
    lblInfo = AddText("lblInfo",
                      "The software has been properly installed. The component/s should be available when you "
                      "next start your Borland product.",
                      8, 60);
}

} // namespace orvex
