#pragma once
// The setup's welcome page, the first page before installing.

#include "setup/ordlg_StockPage.h"

namespace orvex {

class TWelcomeForm : public TStockInstallPage {
public:
    explicit TWelcomeForm(TComponent* owner);
    void TranslateForm() override;
    TLabel* lblIntro;
};

} // namespace orvex
