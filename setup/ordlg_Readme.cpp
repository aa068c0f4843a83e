#include "setup/ordlg_Readme.h"

namespace orvex {

TReadmeForm::TReadmeForm(TComponent* owner) : TStockInstallPage(owner, "Installation successful", false)
{
    Order = 0;
    lblInfo = AddText("lblInfo",
                      "Installation is complete. The README file below contains information about this product "
                      "that may not be in the help files.",
                      8, 40);
    reReadme = new TRichEdit(this);
    reReadme->SetName("reReadme");
    reReadme->SetParent(this);
    reReadme->SetBounds(TextLeft, 52, TextWidth, 270);
    reReadme->SetReadOnly(true);
    reReadme->SetScrollBars(ssVertical);
}

TDorvaneFormClass ReadmeFormClass()
{
    return FormClassOf<TReadmeForm>("TReadmeForm");
}

} // namespace orvex
