#pragma once
// The setup program's main form: a gradient backdrop with the product's
// label, and the whole install definition of the engine's setup as
// components it owns — path specifiers, the translator, the install
// component with its directories and files, the dialog managers and stock
// dialogs, and the product's registry key. It detects the development
// environments when created and registers the design-time package in the
// chosen ones after a good installation.

#include "host/forms/Forms.h"
#include "installer/cmp_TInstall.h"
#include "installer/cmp_TTranslator.h"
#include "setup/VCLInstall.h"
#include "setup/cmp_Rotate3DLabel.h"
#include "setup/cmp_TBackDrop.h"
#include "setup/dlgcmp_TBadInstallationDlg.h"
#include "setup/dlgcmp_TBaseContainer.h"
#include "setup/dlgcmp_TChangeDiskDlg.h"
#include "setup/dlgcmp_TCopyFile.h"
#include "setup/dlgcmp_TInstallStatusDlg.h"
#include "setup/dlgcmp_TLicenseDlg.h"
#include "setup/dlgcmp_TReadmeDlg.h"
#include "setup/dlgcmp_TReboot.h"

#include <array>
#include <functional>
#include <memory>
#include <vector>
#include <string>

namespace orvex {

class TInstallRegistry;
class TUninstallEXE;

// The product's names.
inline const char* const SetupCompanyName = "Vantry Software";
inline const char* const SetupProductName = "Orvex Database Engine";
inline const char* const SetupVersion = "143";
// The product's own registry key under HKEY_LOCAL_MACHINE.
inline const char* const SetupRegistryKey = "\\Software\\Vantry Software\\Orvex";

class TMainForm : public TForm {
public:
    explicit TMainForm(TComponent* owner);
    ~TMainForm() override;

    // -- the window
    TBackdrop* Backdrop;
    TRotate3DLabel* ProductLabel;

    // -- the install definition
    TTranslator* MainTranslator;
    TInstall* Install1;
    TInstallDirectory* dirUninstall;
    TInstallDirectory* dirVek; // the destination itself
    TInstallDirectory* dirHelp;
    TInstallDirectory* dirDemo;
    TInstallDirectory* dirUtils;
    TInstallDirectory* dirSys;
    TInstallDirectory* dirSource;
    // The environments' directories by TVCLProduct index.
    std::array<TInstallDirectory*, VCLProductCount> dirProducts{};
    TDialogManager* dmBeforeInstall1;
    TDialogManager* dmAfterGoodInstall1;
    TDialogManager* dmAfterBadInstall1;
    TDialogManager* dmDuringCopyFiles1;
    TDialogManager* dmChangeDisk1;
    TDialogManager* dmReboot1;
    TLicenseDlg* LicenseDlg;
    TReadmeDlg* ReadmeDlg1;
    TBadInstallationDlg* BadInstallationDlg;
    TRebootDlg* RebootDlg;
    TChangeDiskDlg* ChangeDiskDlg;
    TCopyFileDlg* CopyFileDlg;
    TInstallStatusDlg* InstallStatusDlg;
    TInstallRegistry* InstallRegistry = nullptr;
    TUninstallEXE* UninstallEXE = nullptr;

    // -- state
    TPackageInstaller* PackageInstaller() const { return FPackageInstaller; }
    // The environments chosen, by TVCLProduct index.
    std::array<bool, VCLProductCount> Chosen{};

    // The number of install files of an environment's directory.
    int ProductFileCount(int index) const;
    // Whether an environment can be registered: chosen, detected, and its
    // directory holds files and is included.
    bool ProductToRegister(int index) const;
    // Includes each environment's directory exactly when it holds files and
    // is chosen.
    void IncludeChosenDirectories();

    // -- the install component's events
    // A stored "InstallPath" of an earlier installation becomes the
    // destination.
    void Install1AfterInitialized(TObject* sender);
    // Registers the package in every chosen environment.
    void Install1BeforeNotifyGoodInstall(TObject* sender);

    // Every install file of the definition with its directory's destination
    // below the main directory ("" for the main directory itself, "Sys" for
    // the system folder's, "Uninstall" for the uninstall program).
    struct TDefinitionFile {
        TCustomInstallFile* File;
        std::string Folder; // the directory's name in the definition
    };
    std::vector<TDefinitionFile> DefinitionFiles() const;

    // Where the definition's sources are read from when building: each
    // directory's files lie in a folder of its name below this Windows-form
    // folder (the main directory's in "Vek").
    static void SetSourceRoot(const std::string& winFolder);
    static std::string SourceRoot();

    // The install component's command line (the program's arguments without
    // its own options), and what runs once the definition is built, before
    // the install component reads the command line (which may build the
    // distribution at once). Set before the form is created.
    static void SetInstallCommandLine(std::vector<std::string> arguments);
    static void SetBeforeLoaded(std::function<void(TMainForm*)> action);

private:
    TInstallDirectory* AddDirectory(const std::string& name, TInstallContainer* container,
                                    const std::string& destDir);
    TCustomInstallFile* AddFile(TInstallDirectory* directory, const std::string& fileName);
    void BuildDefinition();
    TPackageInstaller* FPackageInstaller = nullptr;
    // The pages' picture while the install component offers none.
    std::unique_ptr<TPicture> FTheme;
};

// The program's main form while it exists.
TMainForm* SetupMainForm();

// Registers the program's own pages (with no dialog) in the page registry,
// as their units do at start-up; after RegisterWizardForms.
void RegisterSetupPages();

} // namespace orvex
