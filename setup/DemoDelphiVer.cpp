#include "setup/DemoDelphiVer.h"

#include "host/forms/Dialogs.h"
#include "setup/frmMain.h"

#include <algorithm>

namespace orvex {

namespace {

// Whether the setup holds files for the environment, logged.
bool CheckComponentSupportVersion(TMainForm* main, int index)
{
    const bool supported = main->ProductFileCount(index) > 0;
    AddInstallLog(std::string("CheckComponentSupportVersion ") + VCLProducts[static_cast<std::size_t>(index)].Name +
                  ": " + (supported ? "True" : "False"));
    return supported;
}

bool Detected(TMainForm* main, int index)
{
    return main->PackageInstaller() != nullptr && main->PackageInstaller()->Product(index).Found;
}

} // namespace

TBeforeInstallDialog1::TBeforeInstallDialog1(TComponent* owner)
    : TStockInstallPage(owner, "Delphi version selection", false)
{
    Order = 40;
    lblInfo = AddText("lblInfo", "Select the products the components are to be installed into.", 8, 40);
    int top = 60;
    for (int index : {vpDelphi3, vpDelphi4, vpDelphi5, vpDelphi6, vpDelphi7, vpBuilder6}) {
        const std::string name = VCLProducts[static_cast<std::size_t>(index)].Name;
        auto* box = new TCheckBox(this);
        std::string component = "cb" + name;
        component.erase(std::remove(component.begin(), component.end(), ' '), component.end());
        box->SetName(component);
        box->SetParent(this);
        box->SetBounds(TextLeft + 16, top, 150, 17);
        box->SetCaption(name);
        cbProducts[static_cast<std::size_t>(index)] = box;
        top += 24;
    }
    TMainForm* main = SetupMainForm();
    if (main == nullptr)
        return;
    // "Delphi 7" stays as designed: unchecked and enabled.
    for (int index : {vpDelphi3, vpDelphi4, vpDelphi5, vpDelphi6, vpBuilder6}) {
        const bool found = Detected(main, index);
        TCheckBox* box = cbProducts[static_cast<std::size_t>(index)];
        box->SetChecked(found);
        box->SetEnabled(found && CheckComponentSupportVersion(main, index));
    }
    SaveInstallLog();
}

int TBeforeInstallDialog1::ComponentInstallationCount()
{
    TMainForm* main = SetupMainForm();
    int count = 0;
    for (int index = 0; index < VCLProductCount; ++index)
        if (main != nullptr && main->ProductFileCount(index) > 0)
            ++count;
    AddInstallLog("GetComponentInstallationCount " + std::to_string(count));
    return count;
}

bool TBeforeInstallDialog1::SkipPage()
{
    TMainForm* main = SetupMainForm();
    bool skip = false;
    if (main != nullptr && ComponentInstallationCount() <= 1) {
        for (int index = 0; index < VCLProductCount && !skip; ++index)
            skip = main->ProductFileCount(index) > 0 && Detected(main, index);
        if (skip) {
            main->Chosen.fill(true);
            // Only what is found and held gets installed and registered.
            main->IncludeChosenDirectories();
        }
    }
    AddInstallLog(std::string("Delphi Ver Dlg skip - ") + (skip ? "True" : "False"));
    SaveInstallLog();
    return skip;
}

void TBeforeInstallDialog1::Next()
{
    TMainForm* main = SetupMainForm();
    if (main == nullptr) {
        TStockInstallPage::Next();
        return;
    }
    bool installable = false;
    for (int index = 0; index < VCLProductCount && !installable; ++index)
        installable = main->ProductFileCount(index) > 0 && Detected(main, index);
    if (!installable) {
        MessageDlg("No Delphi products are selected or the correct version of Delphi is not present on this "
                   "system. Installation is unable to proceed.",
                   mtInformation, mbOK);
        return;
    }
    bool selected = false;
    for (int index : {vpDelphi3, vpDelphi4, vpDelphi5, vpDelphi6, vpBuilder6}) {
        TCheckBox* box = cbProducts[static_cast<std::size_t>(index)];
        selected = selected || (box->Enabled() && box->Checked());
    }
    if (!selected) {
        MessageDlg("Either no products are selected or present on this system. Installation is unable to proceed.",
                   mtInformation, mbOK);
        return;
    }
    for (int index = 0; index < VCLProductCount; ++index)
        main->Chosen[static_cast<std::size_t>(index)] = cbProducts[static_cast<std::size_t>(index)]->Checked();
    main->IncludeChosenDirectories();
    TStockInstallPage::Next();
}

} // namespace orvex
