#pragma once
// The readme page, shown after a good installation.

#include "setup/ordlg_StockPage.h"

namespace orvex {

class TReadmeForm : public TStockInstallPage {
public:
    explicit TReadmeForm(TComponent* owner);
    TManagerType ManagerType() const override { return dmAfterGoodInstall; }
    TLabel* lblInfo;
    TRichEdit* reReadme;
};

TDorvaneFormClass ReadmeFormClass();

} // namespace orvex
