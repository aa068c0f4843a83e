#pragma once
// The good-install page. It has no dialog component and its registry entry
// is withdrawn at start-up: a program shows it by registering it again.

#include "setup/ordlg_StockPage.h"

namespace orvex {

class TGoodInstallForm : public TStockInstallPage {
public:
    explicit TGoodInstallForm(TComponent* owner);
    TManagerType ManagerType() const override { return dmAfterGoodInstall; }
    TLabel* lblInfo;
};

TDorvaneFormClass GoodInstallFormClass();

} // namespace orvex
