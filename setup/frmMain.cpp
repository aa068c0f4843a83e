#include "setup/frmMain.h"

#include "host/SysUtils.h"
#include "installer/cmp_TInstallRegistry.h"
#include "installer/cmp_TPathSpecifier.h"
#include "installer/cmp_TUninstallEXE.h"
#include "installer/routines_Registry.h"
#include "installer/routines_Strings.h"
#include "setup/DemoDelphiVer.h"
#include "setup/DemoGoodInstall.h"
#include "setup/DemoInstallCheck.h"
#include "setup/DemoWelcomeDlg.h"
#include "setup/ordlg_SelectDestination.h"

namespace orvex {

namespace {

TMainForm* GMainForm = nullptr;
std::string GSourceRoot = "S:";
std::vector<std::string> GCommandLine;
std::function<void(TMainForm*)> GBeforeLoaded;

// The directories of the environments, by TVCLProduct index.
const char* const ProductDirectoryNames[VCLProductCount] = {"Delphi3", "Delphi4", "Delphi5",
                                                            "Delphi6", "Builder6", "Delphi7"};

// The engine's compiled units as the Delphi 5 directory holds them.
const char* const EngineUnits[] = {
    "vekVerControl.dcu", "vekBaseParser.dcu", "vekCommon.dcu", "vekConsts.dcu", "vekCrypt.dcu",
    "VekDatabase.dcu", "vekDataUnit.dcu", "vekDisk.dcu", "vekExecParsers.dcu", "vekExprEvaluator.dcu",
    "vekExprParser.dcu", "vekFilterOptimizer.dcu", "vekFilterUnit.dcu", "vekFromParser.dcu",
    "vekIndexUnit.dcu", "VekInterfaceUnit.dcu", "vekJoinDataProviderUnit.dcu", "vekLockMgrUnit.dcu",
    "vekmdetpe.dcu", "vekMiscParsers.dcu", "vekParserEngine.dcu", "vekParserUtils.dcu", "vekproped.dcu",
    "vekpwdlg.dcu", "vekQueryAnalyser.dcu", "vekQueryDataset.dcu", "vekQueryPlanner.dcu",
    "vekQueryProvider.dcu", "vekSelectParser.dcu", "VekSQL.dcu", "vekTableMgrUnit.dcu",
};

// The demonstration projects: each project's project, resource, option and
// configuration files, the units of its forms, and the two databases.
const char* const DemoProjects[] = {"Blobs", "MemoryTable", "Restructure", "Security", "SQLDemo"};
const char* const DemoForms[] = {"BlobsMain",    "MemTableMain",  "RestructMain",   "RestructFields",
                                 "SecurityMain", "SecurityUsers", "SecurityGroups", "SecurityLogin",
                                 "SQLMain",      "SQLParams",     "SQLResults",     "SQLAbout"};
const char* const DemoDatabases[] = {"VekDemo.vek", "SecurityDemo.vek"};

const char* const LicenceText =
    "Orvex Database Engine - evaluation licence\r\n"
    "\r\n"
    "This evaluation copy of the Orvex Database Engine may be installed and used to evaluate the "
    "engine and to build programs for evaluation. It may not be redistributed.\r\n"
    "\r\n"
    "THE SOFTWARE IS PROVIDED \"AS IS\", WITHOUT WARRANTY OF ANY KIND.";

const char* const ReadmeText =
    "Orvex Database Engine V143\r\n"
    "\r\n"
    "The engine's package, its compiled units and the design-time package are installed in the folder "
    "of each development environment chosen; the demonstration projects are in the Demo folder and the "
    "utilities in the Utils folder.\r\n"
    "\r\n"
    "The demonstration databases are in the Demo folder: VekDemo.vek holds the tables Customers, Orders "
    "and Pictures; SecurityDemo.vek is secured with the master key \"orvexdemo\": log on as "
    "\"administrator\" with the password \"walrus\", or as \"guest\" with the password \"guest\", who "
    "may only read the table Employees.";

} // namespace

TMainForm* SetupMainForm()
{
    return GMainForm;
}

void TMainForm::SetSourceRoot(const std::string& winFolder)
{
    GSourceRoot = RemoveBackSlash(winFolder);
}

std::string TMainForm::SourceRoot()
{
    return GSourceRoot;
}

void TMainForm::SetInstallCommandLine(std::vector<std::string> arguments)
{
    GCommandLine = std::move(arguments);
}

void TMainForm::SetBeforeLoaded(std::function<void(TMainForm*)> action)
{
    GBeforeLoaded = std::move(action);
}

void RegisterSetupPages()
{
    BIFList().Add(FormClassOf<TWelcomeForm>("TWelcomeForm"), nullptr);
    BIFList().Add(FormClassOf<TBeforeInstallDialog1>("TBeforeInstallDialog1"), nullptr);
    BIFList().Add(FormClassOf<TSelectDestinationForm>("TSelectDestinationForm"), nullptr);
    BIFList().Add(FormClassOf<TConfirmInstall>("TConfirmInstall"), nullptr);
    BIFList().Add(FormClassOf<TAfterGoodInstallDlg>("TAfterGoodInstallDlg"), nullptr);
}

TMainForm::TMainForm(TComponent* owner) : TForm(owner)
{
    GMainForm = this;
    SetName("MainForm");
    SetCaption(SetupProductName);
    SetClientWidth(552);
    SetClientHeight(457);
    SetWidth(560);
    SetHeight(484);

    Backdrop = new TBackdrop(this);
    Backdrop->SetName("Backdrop");
    Backdrop->SetParent(this);
    Backdrop->SetAlign(alClient);
    ProductLabel = new TRotate3DLabel(this);
    ProductLabel->SetName("ProductLabel");
    ProductLabel->SetParent(Backdrop);
    ProductLabel->Font()->SetName("Arial");
    ProductLabel->Font()->SetStyle(fsBold);
    ProductLabel->Font()->SetSize(24);
    ProductLabel->Font()->SetColor(clWhite);
    ProductLabel->SetAlignment(taCenter);
    ProductLabel->SetHeight(65);
    ProductLabel->SetAlign(alTop);

    AddInstallLog(std::string("Commencing Installation - ") + SetupProductName);
    SaveInstallLog();
    try {
        BuildDefinition();
        FPackageInstaller = new TPackageInstaller;
    } catch (...) {
        GMainForm = nullptr;
        throw;
    }
    Install1->Information()->CompanyName = SetupCompanyName;
    Install1->Information()->ProductName = SetupProductName;
    Install1->Information()->Version = SetupVersion;
    Install1->SetDestDir("\\Orvex");
    ProductLabel->SetCaption(SetupProductName);
    // The pages show the backdrop's gradient as their picture.
    FTheme = std::make_unique<TPicture>();
    FTheme->Bitmap()->SetSize(121, 313);
    PaintGradient(*FTheme->Bitmap()->Canvas(), Rect(0, 0, 121, 313), bdUp, Backdrop->StartColor(),
                  Backdrop->EndColor());
    SetDefaultThemePictureHook([this] { return FTheme.get(); });
    SaveInstallLog();
    // The definition is complete: the install component reads its command
    // line now, as at the end of loading the form.
    try {
        if (GBeforeLoaded)
            GBeforeLoaded(this);
        Install1->EndLoading();
    } catch (...) {
        SetDefaultThemePictureHook(nullptr);
        delete FPackageInstaller;
        FPackageInstaller = nullptr;
        GMainForm = nullptr;
        throw;
    }
}

TMainForm::~TMainForm()
{
    SetDefaultThemePictureHook(nullptr);
    delete FPackageInstaller;
    FPackageInstaller = nullptr;
    // The components go with the form; the install tree before the form's
    // other parts, as the form frees them.
    DestroyComponents();
    if (GMainForm == this)
        GMainForm = nullptr;
}

TInstallDirectory* TMainForm::AddDirectory(const std::string& name, TInstallContainer* container,
                                           const std::string& destDir)
{
    auto* directory = new TInstallDirectory(this);
    directory->SetName(name);
    directory->SetContainer(container);
    directory->SetDestDir(destDir);
    return directory;
}

TCustomInstallFile* TMainForm::AddFile(TInstallDirectory* directory, const std::string& fileName)
{
    auto* file = new TInstallFile(this);
    file->SetName(InstallFileComponentName(this, fileName));
    std::string folder = directory->Name();
    if (folder.starts_with("dir"))
        folder = folder.substr(3);
    file->SetContainer(directory);
    file->SetIncludeFromDir(GSourceRoot + "\\" + folder);
    file->SetFileName(fileName);
    return file;
}

void TMainForm::BuildDefinition()
{
    // The stock path specifiers, one of each class.
    EnsureStandardSpecifiers(this, this, true);

    MainTranslator = new TTranslator(this);
    MainTranslator->SetName("MainTranslator");
    for (TLanguage* language : MainTranslator->Languages())
        language->Font()->Name = "MS Sans Serif";

    Install1 = new TInstall(this);
    Install1->SetName("Install1");
    Install1->BeginLoading();
    Install1->CommandLine = GCommandLine;
    Install1->SetUseLoadingProgram(true);
    Install1->Reboot = false;
    Install1->SetHideMainForm(false);
    Install1->BuildInfo.OCXName = "drvnsetup";
    Install1->OnAfterInitialized = [this](TObject* sender) { Install1AfterInitialized(sender); };
    Install1->OnBeforeNotifyGoodInstall = [this](TObject* sender) { Install1BeforeNotifyGoodInstall(sender); };

    dirUninstall = AddDirectory("dirUninstall", Install1, "\\Uninstall");
    UninstallEXE = new TUninstallEXE(this);
    UninstallEXE->SetName(InstallFileComponentName(this, "uninstall.exe"));
    UninstallEXE->SetContainer(dirUninstall);
    UninstallEXE->SetIncludeFromDir(GSourceRoot + "\\Uninstall");
    UninstallEXE->SetFileName("uninstall.exe");
    dirVek = AddDirectory("dirVek", Install1, "");
    AddFile(dirVek, "readme.txt");
    AddFile(dirVek, "licence.txt");
    dirHelp = AddDirectory("dirHelp", dirVek, "\\Help");
    AddFile(dirHelp, "orvex.hlp")->RegisterAsHelp = true;
    AddFile(dirHelp, "orvex.cnt")->RegisterAsHelp = true;
    for (int i : {vpDelphi3, vpDelphi4, vpDelphi5, vpDelphi6, vpDelphi7, vpBuilder6}) {
        const std::string name = ProductDirectoryNames[i];
        dirProducts[static_cast<std::size_t>(i)] = AddDirectory("dir" + name, dirVek, "\\" + name);
    }
    TInstallDirectory* delphi5 = dirProducts[vpDelphi5];
    for (const char* ext : {".bpl", ".dcp", ".dcu", ".dpk"})
        AddFile(delphi5, std::string("vekrun") + ext);
    for (const char* ext : {".bpl", ".dcp", ".dcu", ".dpk"})
        AddFile(delphi5, WinChangeFileExt(VCLPackageName(vpDelphi5), ext));
    for (const char* unit : EngineUnits)
        AddFile(delphi5, unit);
    for (const char* name : {"vekmdetpe.dfm", "vekpwdlg.dfm", "VekProped.dcr", "vekCondDef.inc"})
        AddFile(delphi5, name);

    dirDemo = AddDirectory("dirDemo", dirVek, "\\Demo");
    for (const char* project : DemoProjects)
        for (const char* ext : {".dpr", ".res", ".dof", ".cfg"})
            AddFile(dirDemo, std::string(project) + ext);
    for (const char* form : DemoForms)
        for (const char* ext : {".pas", ".dfm"})
            AddFile(dirDemo, std::string(form) + ext);
    for (const char* database : DemoDatabases)
        AddFile(dirDemo, database);

    dirUtils = AddDirectory("dirUtils", dirVek, "\\Utils");
    for (const char* name : {"OrvexEditor.exe", "datadisp1.xsl", "orvexed.hlp", "orvexed.cnt"})
        AddFile(dirUtils, name);

    dirSys = AddDirectory("dirSys", Install1, "");
    dirSys->SetDestDirType(StandardPathSpecList()->FindByClass(&TpsSystem::ClassInfo));
    AddFile(dirSys, "vekrun.bpl");

    dirSource = AddDirectory("dirSource", dirVek, "\\Source");
    dirSource->Include = false;

    auto manager = [this](const char* name, TManagerType type) {
        auto* m = new TDialogManager(this);
        m->SetName(name);
        m->ManagerType = type;
        m->SetContainer(Install1);
        return m;
    };
    dmBeforeInstall1 = manager("dmBeforeInstall1", dmBeforeInstall);
    dmAfterGoodInstall1 = manager("dmAfterGoodInstall1", dmAfterGoodInstall);
    dmAfterBadInstall1 = manager("dmAfterBadInstall1", dmAfterBadInstall);
    dmDuringCopyFiles1 = manager("dmDuringCopyFiles1", dmDuringCopyFiles);
    dmChangeDisk1 = manager("dmChangeDisk1", dmChangeDisk);
    dmReboot1 = manager("dmReboot1", dmReboot);
    auto dialog = [this](auto* d, const char* name, TDialogManager* m) {
        d->SetName(name);
        d->SetContainer(Install1);
        if (m != nullptr)
            d->SetDialogManager(m);
        return d;
    };
    LicenseDlg = dialog(new TLicenseDlg(this), "LicenseDlg", dmBeforeInstall1);
    LicenseDlg->SetOrder(10);
    LicenseDlg->LicenseAgreement()->SetText(LicenceText);
    ReadmeDlg1 = dialog(new TReadmeDlg(this), "ReadmeDlg1", dmAfterGoodInstall1);
    ReadmeDlg1->SetOrder(10);
    ReadmeDlg1->ReadmeText()->SetText(ReadmeText);
    BadInstallationDlg = dialog(new TBadInstallationDlg(this), "BadInstallationDlg", dmAfterBadInstall1);
    BadInstallationDlg->SetOrder(10);
    RebootDlg = dialog(new TRebootDlg(this), "RebootDlg", dmReboot1);
    RebootDlg->SetOrder(10);
    ChangeDiskDlg = dialog(new TChangeDiskDlg(this), "ChangeDiskDlg", dmChangeDisk1);
    CopyFileDlg = dialog(new TCopyFileDlg(this), "CopyFileDlg", dmDuringCopyFiles1);
    InstallStatusDlg = dialog(new TInstallStatusDlg(this), "InstallStatusDlg", nullptr);

    // The product's key: its version and where it was installed.
    InstallRegistry = new TInstallRegistry(this);
    InstallRegistry->SetName("InstallRegistry");
    InstallRegistry->SetContainer(Install1);
    InstallRegistry->SetKey(SetupRegistryKey);
    InstallRegistry->SetKeySpecifierType(ksAbsolute);
    TRegistryEntry* version = InstallRegistry->Entries()->Add();
    version->Ident = "Ver";
    version->SetText(SetupVersion);
    TRegistryEntry* path = InstallRegistry->Entries()->Add();
    path->Ident = "InstallPath";
    path->SetPathSpecifier(dirVek->FileContainerSpecifier());
}

std::vector<TMainForm::TDefinitionFile> TMainForm::DefinitionFiles() const
{
    std::vector<TDefinitionFile> files;
    for (int i = 0; i < ComponentCount(); ++i) {
        auto* file = dynamic_cast<TCustomInstallFile*>(Components(i));
        if (file == nullptr || file->Container() == nullptr)
            continue;
        std::string folder = file->Container()->Name();
        if (folder.starts_with("dir"))
            folder = folder.substr(3);
        files.push_back({file, folder});
    }
    return files;
}

int TMainForm::ProductFileCount(int index) const
{
    return dirProducts.at(static_cast<std::size_t>(index))->ChildCountOfKind(kcInstallFile);
}

bool TMainForm::ProductToRegister(int index) const
{
    const auto i = static_cast<std::size_t>(index);
    return Chosen.at(i) && dirProducts[i]->Include && ProductFileCount(index) > 0 &&
           FPackageInstaller != nullptr && FPackageInstaller->Product(index).Found;
}

void TMainForm::IncludeChosenDirectories()
{
    for (int i = 0; i < VCLProductCount; ++i)
        dirProducts[static_cast<std::size_t>(i)]->Include = ProductFileCount(i) > 0 && Chosen[static_cast<std::size_t>(i)];
}

void TMainForm::Install1AfterInitialized(TObject* sender)
{
    const std::string path = ReadRegString(HKEY_LOCAL_MACHINE, SetupRegistryKey, "InstallPath", "");
    if (!path.empty()) {
        Install1->SetDestDirType(nullptr);
        Install1->SetDestDir(path);
    }
    AddInstallLog("Install1AfterInitialized. Moving Dir to: " + Install1->DestinationDirectory());
    SetInstallLogFolder(Install1->DestinationDirectory());
    AddInstallLog("Install1AfterInitialized");
    SaveInstallLog();
}

void TMainForm::Install1BeforeNotifyGoodInstall(TObject* sender)
{
    TStringList classes;
    {
        // "TVekDatabase,TVekTable, TVekQuery" split at commas and blanks.
        const std::string names = "TVekDatabase,TVekTable, TVekQuery";
        std::string item;
        for (char c : names + ",") {
            if (c == ',' || c == ' ') {
                if (!item.empty())
                    classes.Add(item);
                item.clear();
            } else {
                item += c;
            }
        }
    }
    const bool helpFiles = dirHelp->ChildCountOfKind(kcInstallFile) > 0;
    for (int index : {vpDelphi3, vpDelphi4, vpDelphi5, vpDelphi6, vpDelphi7, vpBuilder6}) {
        if (!ProductToRegister(index))
            continue;
        const std::string name = VCLProducts[static_cast<std::size_t>(index)].Name;
        const bool prePost = index == vpDelphi3 || index == vpDelphi4 || index == vpDelphi7 || index == vpBuilder6;
        if (prePost)
            AddInstallLog("Installing product. Pre: " + name);
        AddInstallLog("Installing product. Product - " + name + " Starting");
        TStringList packages;
        VCLPackageNames(index, &packages);
        const std::string folder = dirProducts[static_cast<std::size_t>(index)]->DestinationDirectory();
        FPackageInstaller->InstallIntoPalette(index, "Data Access", &classes);
        FPackageInstaller->InstallPackage(index, AddBackSlash(folder) + VCLPackageName(index), &packages,
                                          SetupProductName);
        if (helpFiles)
            FPackageInstaller->InstallHelp(index, "orvex.hlp");
        AddInstallLog("Installing product. Product - " + name + " Done");
        if (prePost)
            AddInstallLog("Installing product. Post: " + name);
    }
    SaveInstallLog();
}

} // namespace orvex
