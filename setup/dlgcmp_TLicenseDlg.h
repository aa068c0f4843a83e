#pragma once
// The licence page's dialog component: the agreement's text.

#include "setup/ordlg_License.h"

namespace orvex {

class TLicenseDlg : public TBaseInstallDlg {
public:
    explicit TLicenseDlg(TComponent* owner);
    ~TLicenseDlg() override;
    TStringList* LicenseAgreement() const { return FLicenseAgreement.get(); }
    void SetLicenseAgreement(TStrings* value) { FLicenseAgreement->Assign(value); }

    TDorvaneFormClass PageFormClass() const override { return LicenseFormClass(); }
    Integer OwnCode() const override { return bmLicence; }
    // The agreement goes into the page's box; "Accept >" is the default button.
    void SetUpForm() override;

private:
    std::unique_ptr<TStringList> FLicenseAgreement;
};

} // namespace orvex
