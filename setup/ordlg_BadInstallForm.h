#pragma once
// The bad-install page, shown when an installation failed or was cancelled.

#include "setup/ordlg_StockPage.h"

namespace orvex {

class TBadInstallForm : public TStockInstallPage {
public:
    explicit TBadInstallForm(TComponent* owner);
    TManagerType ManagerType() const override { return dmAfterBadInstall; }
    TLabel* lblInfo;
};

TDorvaneFormClass BadInstallFormClass();

} // namespace orvex
