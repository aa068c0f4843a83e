#pragma once
// The page that sums up the installation before it starts: the product, the
// environments whose files are installed and the destination folder. The
// summary also goes into the setup log.

#include "setup/ordlg_StockPage.h"

namespace orvex {

class TConfirmInstall : public TStockInstallPage {
public:
    explicit TConfirmInstall(TComponent* owner);
    TLabel* lblInfo;
    TMemo* mmoSettings;
    void Activate() override;
};

} // namespace orvex
