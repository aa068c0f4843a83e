#include "setup/ordlg_Reboot.h"

#include "installer/cmp_TInstall.h"

namespace orvex {

TRebootForm::TRebootForm(TComponent* owner) : TStockInstallPage(owner, "Reboot windows", true)
{
    Order = 10;
    lblInfo = AddText("lblInfo",
                      "Several components could not be installed on your system because they were in use. For the "
                      "installation to proceed, you will need to reboot your computer. If you decide not to reboot "
                      "now, the software will probably not work until you do reboot.",
                      8, 92);
    auto makeChoice = [this](const std::string& name, const std::string& caption, int top) {
        auto* button = new TRadioButton(this);
        button->SetName(name);
        button->SetParent(this);
        button->SetBounds(TextLeft + 8, top, TextWidth - 8, 17);
        button->SetCaption(caption);
        button->OnClick = [this](TObject*) { ChoiceClicked(); };
        return button;
    };
    rbYes = makeChoice("rbYes", "Yes, I would like to reboot windows", 120);
    rbNo = makeChoice("rbNo", "No, I would not like to reboot windows", 144);
}

void TRebootForm::Activate()
{
    TCustomInstall* install = GetInstall();
    FSettingChoice = true;
    if (install != nullptr && install->Reboot)
        rbYes->SetChecked(true);
    else
        rbNo->SetChecked(true);
    FSettingChoice = false;
    TStockInstallPage::Activate();
}

void TRebootForm::ChoiceClicked()
{
    if (FSettingChoice)
        return;
    if (TCustomInstall* install = GetInstall())
        install->Reboot = rbYes->Checked();
}

TDorvaneFormClass RebootFormClass()
{
    return FormClassOf<TRebootForm>("TRebootForm");
}

} // namespace orvex
