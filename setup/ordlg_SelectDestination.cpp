#include "setup/ordlg_SelectDestination.h"

#include "installer/cmp_TInstall.h"
#include "installer/routines_FileSystem.h"
#include "installer/routines_Strings.h"

namespace orvex {

TSelectDestinationForm::TSelectDestinationForm(TComponent* owner)
    : TStockInstallPage(owner, "Choose Destination Location", false)
{
    Order = 45;
    lblInfo = AddText("lblInfo",
                      "Setup will install the files in the following folder. To install into a different folder, "
                      "click Browse and select another folder.",
                      8, 60);
    gbDestination = new TGroupBox(this);
    gbDestination->SetName("gbDestination");
    gbDestination->SetParent(this);
    gbDestination->SetBounds(TextLeft, 240, TextWidth, 57);
    gbDestination->SetCaption("Destination Directory");
    edDestination = new TEdit(gbDestination);
    edDestination->SetName("edDestination");
    edDestination->SetParent(gbDestination);
    edDestination->SetBounds(8, 22, 214, 21);
    btnBrowse = new TButton(gbDestination);
    btnBrowse->SetName("btnBrowse");
    btnBrowse->SetParent(gbDestination);
    btnBrowse->SetBounds(230, 20, 75, 25);
    btnBrowse->SetCaption("&Browse");
    edDestination->OnChange = [this](TObject*) {
        TCustomInstall* install = GetInstall();
        if (FShowing || install == nullptr)
            return;
        install->SetDestDirType(nullptr);
        install->SetDestDir(edDestination->Text());
    };
    btnBrowse->OnClick = [this](TObject*) { Browse(); };
}

void TSelectDestinationForm::Activate()
{
    TCustomInstall* install = GetInstall();
    const std::string destination = install != nullptr ? install->DestinationDirectory() : std::string();
    gbDestination->SetVisible(!destination.empty());
    FShowing = true;
    edDestination->SetText(destination);
    FShowing = false;
    TStockInstallPage::Activate();
}

void TSelectDestinationForm::Browse()
{
    TCustomInstall* install = GetInstall();
    if (install == nullptr)
        return;
    // The destination's last component goes below the folder chosen.
    const std::string current = RemoveBackSlash(install->DestDir());
    const std::size_t slash = current.find_last_of('\\');
    const std::string last = slash == std::string::npos ? current : current.substr(slash + 1);
    TOpenFolderDialog dialog(nullptr);
    dialog.InitialFolder = install->DestinationDirectory();
    dialog.ShowCreateButton = false;
    dialog.CreateOnOK = false;
    if (!dialog.Execute())
        return;
    std::string folder = RemoveBackSlash(dialog.Folder);
    if (!last.empty() && !(last.size() == 2 && last[1] == ':'))
        folder = AddBackSlash(folder) + last;
    install->SetDestDirType(nullptr);
    install->SetDestDir(folder);
    FShowing = true;
    edDestination->SetText(folder);
    FShowing = false;
}

} // namespace orvex
