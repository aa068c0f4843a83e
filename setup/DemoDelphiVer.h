#pragma once
// The page that chooses the development environments the design-time
// package is registered in: a check box per environment, checked when the
// environment was found and enabled when the setup also holds its files. The
// page skips itself (choosing every environment) when only one environment
// has files and it was found.

#include "setup/ordlg_StockPage.h"

#include <array>

namespace orvex {

class TBeforeInstallDialog1 : public TStockInstallPage {
public:
    explicit TBeforeInstallDialog1(TComponent* owner);

    // By TVCLProduct index.
    std::array<TCheckBox*, 6> cbProducts{};
    TLabel* lblInfo;

    bool SkipPage() override;
    // Refuses with a message while nothing can be installed; otherwise takes
    // the choices from the boxes.
    void Next() override;

    // The number of environments the setup holds files for.
    int ComponentInstallationCount();
};

} // namespace orvex
