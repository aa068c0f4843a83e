#include "setup/ordlg_License.h"

namespace orvex {

TLicenseForm::TLicenseForm(TComponent* owner) : TStockInstallPage(owner, "Software license agreement", false)
{
    Order = 20;
    btnNext->SetCaption("Accept >");
    lblRead = AddText("lblRead", "Please read the following License Agreement.", 8, 16);
    reAgreement = new TRichEdit(this);
    reAgreement->SetName("reAgreement");
    reAgreement->SetParent(this);
    reAgreement->SetBounds(TextLeft, 28, TextWidth, 236);
    reAgreement->SetReadOnly(true);
    reAgreement->SetScrollBars(ssVertical);
    lblAccept = AddText("lblAccept",
                        "By clicking on the Accept button below, you agree to all terms stated in the License "
                        "Agreement. You may cancel the installation by clicking on the Cancel button.",
                        270, 52);
}

TDorvaneFormClass LicenseFormClass()
{
    return FormClassOf<TLicenseForm>("TLicenseForm");
}

} // namespace orvex
