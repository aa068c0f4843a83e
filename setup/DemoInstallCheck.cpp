#include "setup/DemoInstallCheck.h"

#include "setup/frmMain.h"

namespace orvex {

TConfirmInstall::TConfirmInstall(TComponent* owner) : TStockInstallPage(owner, "Confirm install details", false)
{
    Order = 60;
    lblInfo = AddText("lblInfo", "Setup is ready to install with the following settings.", 8, 30);
    mmoSettings = new TMemo(this);
    mmoSettings->SetName("mmoSettings");
    mmoSettings->SetParent(this);
    mmoSettings->SetBounds(TextLeft, 44, TextWidth, 270);
    mmoSettings->SetReadOnly(true);
    mmoSettings->SetScrollBars(ssVertical);
}

void TConfirmInstall::Activate()
{
    TMainForm* main = SetupMainForm();
    TStrings* lines = mmoSettings->Lines();
    lines->BeginUpdate();
    lines->Clear();
    if (main != nullptr) {
        TInstallInformation* info = main->Install1->Information();
        lines->Add(" ");
        lines->Add(info->ProductName + " V" + info->Version);
        lines->Add(std::string("Demonstration") + " version");
        lines->Add(" ");
        lines->Add("Product Versions to install:");
        for (int index : {vpDelphi3, vpDelphi4, vpDelphi5, vpDelphi6, vpDelphi7, vpBuilder6})
            if (main->dirProducts[static_cast<std::size_t>(index)]->Include &&
                main->ProductFileCount(index) > 0)
                lines->Add(std::string("     ") + VCLProducts[static_cast<std::size_t>(index)].Name);
        lines->Add(" ");
        lines->Add("Installation directory:");
        const std::string destination = main->Install1->DestinationDirectory();
        lines->Add(destination);
        SetInstallLogFolder(destination);
        AddInstallLog("Installation Settings");
        for (int i = 0; i < lines->Count(); ++i)
            AddInstallLog(lines->Get(i));
        AddInstallLog("  ");
        SaveInstallLog();
    }
    lines->EndUpdate();
    TStockInstallPage::Activate();
}

} // namespace orvex
