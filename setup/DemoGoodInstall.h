#pragma once
// The setup's last page after a good installation.

#include "setup/ordlg_StockPage.h"

namespace orvex {

class TAfterGoodInstallDlg : public TStockInstallPage {
public:
    explicit TAfterGoodInstallDlg(TComponent* owner);
    TManagerType ManagerType() const override { return dmAfterGoodInstall; }
    TLabel* lblInfo;
};

} // namespace orvex
