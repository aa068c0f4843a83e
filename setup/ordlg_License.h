#pragma once
// The licence agreement page: the agreement in a read-only box, "Accept >"
// to go on.

#include "setup/ordlg_StockPage.h"

namespace orvex {

class TLicenseForm : public TStockInstallPage {
public:
    explicit TLicenseForm(TComponent* owner);
    TManagerType ManagerType() const override { return dmBeforeInstall; }
    TLabel* lblRead;
    TLabel* lblAccept;
    TRichEdit* reAgreement;
};

TDorvaneFormClass LicenseFormClass();

} // namespace orvex
