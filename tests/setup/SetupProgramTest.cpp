// The setup program's main form and its own pages on the headless backend,
// on a fresh emulated machine per test.

#include "host/SysUtils.h"
#include "host/forms/Headless.h"
#include "installer/exceptions_Dorvane.h"
#include "installer/routines_Registry.h"
#include "platform/WinPaths.h"
#include "installer/cmp_TInstallRegistry.h"
#include "setup/DemoDelphiVer.h"
#include "setup/DemoWelcomeDlg.h"
#include "setup/SetupMachine.h"
#include "setup/frmMain.h"
#include "setup/ordlg_SelectDestination.h"
#include "tests/platform/WinSystemTempRoot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace orvex {
namespace {

std::vector<std::string> LogFrom(int first)
{
    std::vector<std::string> lines;
    for (int i = first; i < InstallLog()->Count(); ++i)
        lines.push_back(InstallLog()->Get(i));
    return lines;
}

bool LogHas(const std::string& line)
{
    return InstallLog()->IndexOf(line) >= 0;
}

class SetupProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Headless()->Reset();
        PrepareMachineFolders();
        InstallLog()->Clear();
        RegisterWizardForms();
        RegisterSetupPages();
    }
    void TearDown() override
    {
        delete Main;
        UnregisterWizardForms();
        Headless()->Reset();
        InstallLog()->Clear();
    }
    void CreateMain() { Main = new TMainForm(nullptr); }
    // The pages before installing, played by the script; the pages shown.
    std::vector<std::string> ShowBeforeInstall(const std::string& script, bool cancelled = false)
    {
        std::vector<std::string> pages;
        QueueSetupScript(script, [&](const std::string& page) {
            if (pages.empty() || pages.back() != page)
                pages.push_back(page);
        });
        if (cancelled)
            EXPECT_THROW(Main->dmBeforeInstall1->ShowPages(), EAIUserAbort);
        else
            Main->dmBeforeInstall1->ShowPages();
        EXPECT_EQ(Headless()->PendingSteps(), 0);
        return pages;
    }

    TTempWindowsRoot Root;
    TMainForm* Main = nullptr;
};

TEST_F(SetupProgramTest, TheDefinitionHoldsItsDirectoriesAndFiles)
{
    CreateMain();
    std::map<std::string, int> perFolder;
    for (const auto& entry : Main->DefinitionFiles())
        ++perFolder[entry.Folder];
    EXPECT_EQ(perFolder["Vek"], 2);
    EXPECT_EQ(perFolder["Help"], 2);
    EXPECT_EQ(perFolder["Delphi5"], 43);
    EXPECT_EQ(perFolder["Demo"], 46);
    EXPECT_EQ(perFolder["Utils"], 4);
    EXPECT_EQ(perFolder["Sys"], 1);
    for (int i = 0; i < VCLProductCount; ++i)
        EXPECT_EQ(Main->ProductFileCount(i), i == vpDelphi5 ? 43 : 0) << i;
    EXPECT_FALSE(Main->dirSource->Include);
    EXPECT_EQ(Main->Install1->Information()->ProductName, "Orvex Database Engine");
    EXPECT_EQ(Main->Install1->Information()->Version, "143");
    EXPECT_EQ(Main->Install1->DestDir(), "\\Orvex");
    EXPECT_EQ(Main->ProductLabel->Caption(), "Orvex Database Engine");
    const std::string programFiles = WinSystemConfig().ProgramFilesDir;
    EXPECT_EQ(Main->Install1->DestinationDirectory(), programFiles + "\\Orvex");
    EXPECT_EQ(Main->dirProducts[vpDelphi5]->DestinationDirectory(), programFiles + "\\Orvex\\Delphi5");
    EXPECT_EQ(Main->dirHelp->DestinationDirectory(), programFiles + "\\Orvex\\Help");
    EXPECT_EQ(Main->dirSys->DestinationDirectory(), WinSystemConfig().SystemDir);
    EXPECT_EQ(InstallLog()->Get(0), "Commencing Installation - Orvex Database Engine");
    // The product's registry key: its version and the main directory's path.
    ASSERT_NE(Main->InstallRegistry, nullptr);
    EXPECT_EQ(Main->InstallRegistry->KeyPath(), SetupRegistryKey);
    ASSERT_EQ(Main->InstallRegistry->Entries()->Count(), 2);
    EXPECT_EQ(Main->InstallRegistry->Entries()->Items(0)->ExpandedText(), "143");
    EXPECT_EQ(Main->InstallRegistry->Entries()->Items(1)->ExpandedText(), programFiles + "\\Orvex");
    // The welcome page names the product.
    TWelcomeForm welcome(nullptr);
    welcome.TranslateForm();
    EXPECT_EQ(welcome.lblIntro->Caption(),
              "This program will install a copy of the Orvex evaluation version for Delphi 5 onto your computer.");
}

TEST_F(SetupProgramTest, OnlyDelphi5WithItsFilesSkipsTheEnvironmentPage)
{
    EmulateDevelopmentEnvironment(vpDelphi5);
    CreateMain();
    const auto pages = ShowBeforeInstall("click TWelcomeForm.btnNext\n"
                                         "click TLicenseForm.btnNext\n"
                                         "click TSelectDestinationForm.btnNext\n"
                                         "click TConfirmInstall.btnNext\n");
    EXPECT_EQ(pages, (std::vector<std::string>{"TWelcomeForm", "TLicenseForm", "TSelectDestinationForm",
                                                "TConfirmInstall"}));
    for (int i = 0; i < VCLProductCount; ++i) {
        EXPECT_TRUE(Main->Chosen[static_cast<std::size_t>(i)]);
        EXPECT_EQ(Main->dirProducts[static_cast<std::size_t>(i)]->Include, i == vpDelphi5) << i;
        EXPECT_EQ(Main->ProductToRegister(i), i == vpDelphi5) << i;
    }
    EXPECT_TRUE(LogHas("GetComponentInstallationCount 1"));
    EXPECT_TRUE(LogHas("Delphi Ver Dlg skip - True"));
    EXPECT_TRUE(LogHas("CheckComponentSupportVersion Delphi 5: True"));
}

TEST_F(SetupProgramTest, WithoutDelphi5TheEnvironmentPageRefusesToGoOn)
{
    EmulateDevelopmentEnvironment(vpDelphi6);
    CreateMain();
    const auto pages = ShowBeforeInstall("click TWelcomeForm.btnNext\n"
                                         "click TLicenseForm.btnNext\n"
                                         "click TBeforeInstallDialog1.btnNext\n"
                                         "click TBeforeInstallDialog1.btnCancel\n",
                                         true);
    EXPECT_EQ(pages.back(), "TBeforeInstallDialog1");
    ASSERT_EQ(Headless()->Messages().size(), 1u);
    EXPECT_EQ(Headless()->Messages()[0].Text,
              "No Delphi products are selected or the correct version of Delphi is not present on this system. "
              "Installation is unable to proceed.");
    EXPECT_TRUE(LogHas("Delphi Ver Dlg skip - False"));
    EXPECT_TRUE(LogHas("CheckComponentSupportVersion Delphi 6: False"));
}

TEST_F(SetupProgramTest, TheEnvironmentBoxesFollowDetectionAndFiles)
{
    EmulateDevelopmentEnvironment(vpDelphi5);
    EmulateDevelopmentEnvironment(vpBuilder6);
    CreateMain();
    TBeforeInstallDialog1 page(nullptr);
    auto box = [&](int i) { return page.cbProducts[static_cast<std::size_t>(i)]; };
    EXPECT_TRUE(box(vpDelphi5)->Checked());
    EXPECT_TRUE(box(vpDelphi5)->Enabled());
    // Builder 6 is found but the setup holds no files for it.
    EXPECT_TRUE(box(vpBuilder6)->Checked());
    EXPECT_FALSE(box(vpBuilder6)->Enabled());
    EXPECT_FALSE(box(vpDelphi6)->Checked());
    EXPECT_FALSE(box(vpDelphi7)->Checked());
    EXPECT_TRUE(box(vpDelphi7)->Enabled());

    // With nothing enabled and checked the second message comes.
    box(vpDelphi5)->SetChecked(false);
    page.Next();
    ASSERT_EQ(Headless()->Messages().size(), 1u);
    EXPECT_EQ(Headless()->Messages()[0].Text,
              "Either no products are selected or present on this system. Installation is unable to proceed.");
}

TEST_F(SetupProgramTest, TheDestinationPageSetsTheDestinationItself)
{
    EmulateDevelopmentEnvironment(vpDelphi5);
    CreateMain();
    TTempWindowsRoot::MakeFolder("D:\\Tools");
    const std::string programFiles = WinSystemConfig().ProgramFilesDir;
    ShowBeforeInstall("click TWelcomeForm.btnNext\n"
                      "click TLicenseForm.btnNext\n"
                      "set TSelectDestinationForm.edDestination D:\\Apps\\Orvex\n"
                      "click TSelectDestinationForm.btnBrowse\n"
                      "folder D:\\Tools\n"
                      "click TSelectDestinationForm.btnNext\n"
                      "click TConfirmInstall.btnCancel\n",
                      true);
    // Typing made the text the destination; browsing kept its last component.
    EXPECT_EQ(Main->Install1->DestDirType(), nullptr);
    EXPECT_EQ(Main->Install1->DestDir(), "D:\\Tools\\Orvex");
    // Browsing created nothing.
    EXPECT_FALSE(WinDirectoryExists("D:\\Apps"));
    EXPECT_FALSE(WinDirectoryExists("D:\\Tools\\Orvex"));
    EXPECT_FALSE(WinDirectoryExists(programFiles + "\\Orvex"));
}

TEST_F(SetupProgramTest, BrowsingJoinsADestinationWithoutSeparator)
{
    CreateMain();
    TTempWindowsRoot::MakeFolder("C:\\Target");
    Main->Install1->SetDestDirType(nullptr);
    Main->Install1->SetDestDir("Orvex");
    Headless()->ChooseFolder("C:\\Target\\");
    TSelectDestinationForm page(nullptr);
    page.Browse();
    EXPECT_EQ(Main->Install1->DestDir(), "C:\\Target\\Orvex");
    EXPECT_EQ(page.edDestination->Text(), "C:\\Target\\Orvex");
}

TEST_F(SetupProgramTest, TheConfirmPageSumsUpAndLogs)
{
    EmulateDevelopmentEnvironment(vpDelphi5);
    CreateMain();
    ShowBeforeInstall("click TWelcomeForm.btnNext\n"
                      "click TLicenseForm.btnNext\n"
                      "click TSelectDestinationForm.btnNext\n"
                      "click TConfirmInstall.btnNext\n");
    const std::string destination = WinSystemConfig().ProgramFilesDir + "\\Orvex";
    const std::vector<std::string> expected = {
        " ",
        "Orvex Database Engine V143",
        "Demonstration version",
        " ",
        "Product Versions to install:",
        "     Delphi 5",
        " ",
        "Installation directory:",
        destination,
    };
    int start = InstallLog()->IndexOf("Installation Settings");
    ASSERT_GE(start, 0);
    std::vector<std::string> logged = LogFrom(start + 1);
    logged.resize(expected.size() + 1);
    std::vector<std::string> withEnd = expected;
    withEnd.push_back("  ");
    EXPECT_EQ(logged, withEnd);
    EXPECT_EQ(InstallLogFolder(), destination);
}

TEST_F(SetupProgramTest, AGoodInstallRegistersTheChosenEnvironmentsFound)
{
    const std::string root = EmulateDevelopmentEnvironment(vpDelphi5);
    CreateMain();
    Main->Chosen.fill(true); // Delphi 3 chosen but not found: not registered
    Main->IncludeChosenDirectories();
    const std::string folder = Main->dirProducts[vpDelphi5]->DestinationDirectory();
    TTempWindowsRoot::WriteFile(folder + "\\dclvek14d5.bpl", "package");
    InstallLog()->Clear();
    Main->Install1BeforeNotifyGoodInstall(Main->Install1);

    const std::string user = "\\software\\Borland\\Delphi\\5.0";
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, user + "\\Known Packages", folder + "\\dclvek14d5.bpl", "?"),
              "Orvex Database Engine");
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, "\\SOFTWARE\\Borland\\Delphi\\5.0\\Palette", "Data Access", "?"),
              "TDataSource;TTable;TQuery;TVekDatabase;TVekTable;TVekQuery");
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, user + "\\Library", "Search Path", "?"),
              "$(DELPHI)\\Lib;$(DELPHI)\\Bin;$(DELPHI)\\Imports;" + folder);
    std::ifstream help(NativePath(root + "\\Help\\delphi5.ohl"), std::ios::binary);
    std::ostringstream text;
    text << help.rdbuf();
    EXPECT_NE(text.str().find(":Link orvex.hlp\r\n"), std::string::npos);
    EXPECT_EQ(InstallLog()->Get(0), "Installing product. Product - Delphi 5 Starting");
    EXPECT_EQ(InstallLog()->Get(InstallLog()->Count() - 1), "Installing product. Product - Delphi 5 Done");
    EXPECT_FALSE(LogHas("Installing product. Pre: Delphi 3"));
    EXPECT_FALSE(TRegistryStore::Default()->KeyExists(HKEY_CURRENT_USER, "software\\Borland\\Delphi\\3.0"));
}

TEST_F(SetupProgramTest, AStoredInstallPathBecomesTheDestination)
{
    CreateMain();
    Main->Install1AfterInitialized(Main->Install1);
    const std::string proposed = WinSystemConfig().ProgramFilesDir + "\\Orvex";
    EXPECT_EQ(Main->Install1->DestinationDirectory(), proposed);
    EXPECT_TRUE(LogHas("Install1AfterInitialized. Moving Dir to: " + proposed));

    WriteRegString(HKEY_LOCAL_MACHINE, SetupRegistryKey, "InstallPath", "E:\\Engines\\Orvex");
    Main->Install1AfterInitialized(Main->Install1);
    EXPECT_EQ(Main->Install1->DestDirType(), nullptr);
    EXPECT_EQ(Main->Install1->DestinationDirectory(), "E:\\Engines\\Orvex");
    EXPECT_EQ(InstallLogFolder(), "E:\\Engines\\Orvex");
}

TEST_F(SetupProgramTest, DistributionSourcesAreOutputsOrPlaceholders)
{
    namespace fs = std::filesystem;
    const fs::path project = fs::path(Root.Path()) / "project";
    const fs::path build = fs::path(Root.Path()) / "build";
    fs::create_directories(project / "storage");
    fs::create_directories(build);
    std::ofstream(project / "README.md") << "# Orvex";
    std::ofstream(project / "storage" / "vekDisk.h") << "// the disk manager";
    std::ofstream(build / "libvekrun.so") << "ELF";
    fs::create_directories(build / "orvexsetup" / "demodb");
    std::ofstream(build / "orvexsetup" / "demodb" / "VekDemo.vek") << "database";
    MapDrive('S', (fs::path(Root.Path()) / "sources").string());
    CreateMain();
    PrepareDistributionSources(Main, project.string(), build.string());
    auto read = [](const std::string& winPath) {
        std::ifstream in(NativePath(winPath), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    };
    // The licence and the readme are what the wizard shows.
    EXPECT_EQ(read("S:\\Vek\\licence.txt"), Main->LicenseDlg->LicenseAgreement()->Text());
    EXPECT_EQ(read("S:\\Vek\\readme.txt"), Main->ReadmeDlg1->ReadmeText()->Text());
    EXPECT_NE(read("S:\\Vek\\licence.txt").find("evaluation licence"), std::string::npos);
    EXPECT_EQ(read("S:\\Delphi5\\vekrun.bpl"), "ELF");
    EXPECT_EQ(read("S:\\Sys\\vekrun.bpl"), "ELF");
    EXPECT_EQ(read("S:\\Delphi5\\vekDisk.dcu"), "// the disk manager");
    // The demonstration databases the engine wrote at build time, when there.
    EXPECT_EQ(read("S:\\Demo\\VekDemo.vek"), "database");
    EXPECT_EQ(read("S:\\Demo\\SecurityDemo.vek"),
              "Orvex Database Engine: placeholder for SecurityDemo.vek, a file of the Windows distribution.\r\n");
    for (const auto& entry : Main->DefinitionFiles())
        EXPECT_TRUE(WinFileExists(entry.File->SourcePath())) << entry.File->SourcePath();
}

// Each compiled unit of the engine that is built carries its unit's header
// (the query units arrive later and stay placeholders until then).
TEST_F(SetupProgramTest, TheEnginesUnitFilesCarryTheirHeaders)
{
    namespace fs = std::filesystem;
    MapDrive('S', (fs::path(Root.Path()) / "sources").string());
    CreateMain();
    PrepareDistributionSources(Main, ORVEX_PROJECT_DIR, (fs::path(Root.Path()) / "build").string());
    const std::map<std::string, std::string> units = {
        {"vekVerControl", "storage/vekVerControl.h"}, {"vekBaseParser", "sql/vekBaseParser.h"},
        {"vekCommon", "storage/vekCommon.h"},         {"vekConsts", "storage/vekConsts.h"},
        {"vekCrypt", "storage/vekCrypt.h"},           {"VekDatabase", "dataset/vekDatabase.h"},
        {"vekDataUnit", "storage/vekDataUnit.h"},     {"vekDisk", "storage/vekDisk.h"},
        {"vekExecParsers", "sql/vekExecParsers.h"},   {"vekExprEvaluator", "sql/vekExprEvaluator.h"},
        {"vekExprParser", "sql/vekExprParser.h"},     {"vekFromParser", "sql/vekFromParser.h"},
        {"vekIndexUnit", "storage/vekIndexUnit.h"},   {"VekInterfaceUnit", "storage/vekInterfaceUnit.h"},
        {"vekLockMgrUnit", "storage/vekLockMgrUnit.h"}, {"vekMiscParsers", "sql/vekMiscParsers.h"},
        {"vekParserEngine", "sql/vekParserEngine.h"}, {"vekParserUtils", "sql/vekParserUtils.h"},
        {"vekpwdlg", "dataset/vekPwDlg.h"},           {"vekSelectParser", "sql/vekSelectParser.h"},
        {"vekTableMgrUnit", "storage/vekTableMgrUnit.h"},
    };
    auto read = [](const std::string& native) {
        std::ifstream in(native, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    };
    for (const auto& [unit, header] : units) {
        const std::string installed = read(NativePath("S:\\Delphi5\\" + unit + ".dcu"));
        EXPECT_TRUE(installed.starts_with("#pragma once")) << unit;
        EXPECT_EQ(installed, read(std::string(ORVEX_PROJECT_DIR) + "/" + header)) << unit;
    }
}

TEST_F(SetupProgramTest, AScriptRefusesWhatItCannotPlay)
{
    EXPECT_THROW(QueueSetupScript("press F1\n", nullptr), EHeadlessScript);
    EmulateDevelopmentEnvironment(vpDelphi5);
    CreateMain();
    // A step for another page than the one shown ends the wizard's loop.
    QueueSetupScript("# the licence comes second\nclick TLicenseForm.btnNext\n", nullptr);
    EXPECT_THROW(Main->dmBeforeInstall1->ShowPages(), EHeadlessScript);
    Headless()->Reset();
    QueueSetupScript("click TWelcomeForm.btnPrevious\n", nullptr);
    EXPECT_THROW(Main->dmBeforeInstall1->ShowPages(), EHeadlessScript);
}

} // namespace
} // namespace orvex
