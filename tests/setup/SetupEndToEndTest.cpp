// The setup program end to end, with real processes on one emulated machine
// with Delphi 5: orvexsetup builds its distribution with "-b" from BUILD.INF,
// the test loader runs the self-extracting setup headless with a script of
// the user's steps, and a second run proposes the folder the first one
// installed into. Runs without a display, with scripts that end early, and
// the program's own options (help, the registry as text) run the program
// over an archive compressed here, started with "-d".

#include "host/forms/Headless.h"
#include "installer/routines_API.h"
#include "installer/routines_Registry.h"
#include "platform/RegistryText.h"
#include "platform/WinPaths.h"
#include "setup/SetupMachine.h"
#include "setup/VCLInstall.h"
#include "setup/frmMain.h"
#include "tests/platform/WinSystemTempRoot.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>

namespace orvex {
namespace {

namespace fs = std::filesystem;

std::string ReadNative(const std::string& native)
{
    std::ifstream in(native, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Quoted(const std::string& text)
{
    std::string result = "'";
    for (char c : text)
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

// Runs a program with its output into a file; its exit code.
int RunProgramTo(const std::string& program, const std::vector<std::string>& args, const std::string& output)
{
    std::string command = Quoted(program);
    for (const std::string& arg : args)
        command += " " + Quoted(arg);
    command += " >" + Quoted(output) + " 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

class SetupEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::setenv("ORVEX_WINDOWS_ROOT", Root.Path().c_str(), 1);
        PrepareMachineFolders();
        ::setenv("ORVEX_LOADER_TEMP", NativePath(GetTempDir()).c_str(), 1);
        Sources = Root.Path() + "/sources";
        Output = Root.Path() + "/output.txt";
    }
    void TearDown() override
    {
        ::unsetenv("ORVEX_WINDOWS_ROOT");
        ::unsetenv("ORVEX_LOADER_TEMP");
    }
    // The machine's setup program with BUILD.INF beside it, the installer
    // library's folder with its loader on Delphi 5's library path.
    void PrepareBuildMachine()
    {
        const std::string delphi = EmulateDevelopmentEnvironment(vpDelphi5);
        TTempWindowsRoot::WriteFile(delphi + "\\Lib\\K19R08.TXT", "sign");
        fs::copy_file(ORVEX_SETUP_LOADER, NativePath(delphi + "\\Lib\\DorvaneLoadProgram.exe"));
        TTempWindowsRoot::WriteFile("C:\\DEV\\BUILD.INF", "C:\\BUILD\r\n");
        TTempWindowsRoot::MakeFolder("C:\\DEV");
        fs::copy_file(ORVEX_SETUP_PROGRAM, NativePath("C:\\DEV\\orvexsetup.exe"));
    }
    // Runs the self-extracting setup with the script; the pages it went
    // through.
    std::vector<std::string> RunSetup(const std::string& script)
    {
        const std::string scriptFile = Root.Path() + "/script.txt";
        std::ofstream(scriptFile) << script;
        const int exit = RunProgramTo(NativePath("C:\\DIST\\setup.exe"), {"--headless", "--script=" + scriptFile}, Output);
        EXPECT_EQ(exit, 0) << ReadNative(Output);
        std::vector<std::string> pages;
        for (const std::string& line : Lines(ReadNative(Output)))
            if (line.starts_with("page ") && (pages.empty() || pages.back() != line.substr(5)))
                pages.push_back(line.substr(5));
        return pages;
    }

    // The archive "files.1" of the distribution in C:\BUILD, compressed in
    // this process from the project's files and placeholders, for runs
    // started with "-d" (no self-extracting setup to build).
    void CompressDistribution()
    {
        EmulateDevelopmentEnvironment(vpDelphi5);
        Headless()->Reset();
        RegisterWizardForms();
        RegisterSetupPages();
        MapDrive('S', Sources);
        TMainForm::SetInstallCommandLine({});
        auto* main = new TMainForm(nullptr);
        PrepareDistributionSources(main, ORVEX_PROJECT_DIR, Root.Path() + "/no-build");
        TTempWindowsRoot::MakeFolder("C:\\BUILD");
        main->Install1->SetArchiveFileType(nullptr);
        main->Install1->SetArchiveFile("C:\\BUILD\\files.1");
        main->Install1->Compress(2 | 4 | 8 | 32);
        delete main;
        UnregisterWizardForms();
        Headless()->Reset();
        InstallLog()->Clear();
        ASSERT_TRUE(WinFileExists("C:\\BUILD\\files.1"));
    }
    // Runs orvexsetup on this machine without a display; its exit code, the
    // output in Output.
    int RunSetupProgram(const std::vector<std::string>& args)
    {
        std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + Quoted(ORVEX_SETUP_PROGRAM);
        for (const std::string& arg : args)
            command += " " + Quoted(arg);
        command += " >" + Quoted(Output) + " 2>&1";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    int RunScript(const std::string& script, std::vector<std::string> args = {})
    {
        const std::string scriptFile = Root.Path() + "/script.txt";
        std::ofstream(scriptFile) << script;
        args.insert(args.begin(), {"--root=" + Root.Path(), "--script=" + scriptFile});
        args.insert(args.end(), {"-d", "-sC:\\BUILD"});
        return RunSetupProgram(args);
    }
    // The emulated registry as text.
    static std::string Registry() { return RegistryText(*TRegistryStore::Default()); }

    TTempWindowsRoot Root;
    std::string Sources;
    std::string Output;
};

// The whole run the user goes through, page by page.
const char* const CompleteScript = "click TWelcomeForm.btnNext\n"
                                   "click TLicenseForm.btnNext\n"
                                   "set TSelectDestinationForm.edDestination D:\\Orvex\n"
                                   "click TSelectDestinationForm.btnNext\n"
                                   "click TConfirmInstall.btnNext\n"
                                   "click TReadmeForm.btnNext\n"
                                   "click TAfterGoodInstallDlg.btnFinish\n";

TEST_F(SetupEndToEndTest, WithoutADisplayTheWizardRunsOnlyFromAScript)
{
    EmulateDevelopmentEnvironment(vpDelphi5);
    const std::string before = Registry();
    // Nothing to show the wizard on and no script: refused before anything.
    EXPECT_EQ(RunSetupProgram({"--root=" + Root.Path(), "-d", "-sC:\\BUILD"}), 2);
    const std::string output = ReadNative(Output);
    EXPECT_NE(output.find("no display"), std::string::npos) << output;
    EXPECT_NE(output.find("--script=FILE"), std::string::npos) << output;
    EXPECT_EQ(Registry(), before);
    EXPECT_FALSE(WinDirectoryExists(WinSystemConfig().ProgramFilesDir + "\\Orvex"));
    EXPECT_FALSE(WinFileExists(GetTempDir() + "\\instlog.txt"));
    // A script alone chooses the headless backend: empty, it cancels.
    CompressDistribution();
    EXPECT_EQ(RunScript(""), 3) << ReadNative(Output);
    EXPECT_FALSE(WinDirectoryExists(WinSystemConfig().ProgramFilesDir + "\\Orvex"));
}

// A script that ends before the files are installed cancels the run at the
// page that waits: exit 3, the destination and the development
// environment's keys untouched. The complete script installs, and the
// output tells each phase and sums up.
TEST_F(SetupEndToEndTest, AHeadlessRunAnswersOnlyFromItsScript)
{
    CompressDistribution();
    TRegistryStore& store = *TRegistryStore::Default();
    const std::string borland = RegistryText(store, HKEY_CURRENT_USER, "Software\\Borland");
    ASSERT_NE(borland, "");
    const struct {
        const char* Script;
        const char* Waiting;
    } cases[] = {
        {"", "TWelcomeForm"},
        {"click TWelcomeForm.btnNext\n", "TLicenseForm"},
        {"click TWelcomeForm.btnNext\nclick TLicenseForm.btnNext\nclick TSelectDestinationForm.btnNext\n",
         "TConfirmInstall"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Waiting);
        EXPECT_EQ(RunScript(c.Script), 3) << ReadNative(Output);
        const std::string output = ReadNative(Output);
        EXPECT_NE(output.find("setup: no step of the script answers " + std::string(c.Waiting) + ": it is cancelled"),
                  std::string::npos)
            << output;
        EXPECT_NE(output.find("\nsummary: cancelled by the user"), std::string::npos) << output;
        EXPECT_EQ(output.find("installing the files"), std::string::npos) << output;
        EXPECT_FALSE(WinDirectoryExists(WinSystemConfig().ProgramFilesDir + "\\Orvex"));
        EXPECT_FALSE(store.KeyExists(HKEY_LOCAL_MACHINE, "Software\\Vantry Software\\Orvex"));
        EXPECT_EQ(RegistryText(store, HKEY_CURRENT_USER, "Software\\Borland"), borland);
    }

    ASSERT_EQ(RunScript(CompleteScript), 0) << ReadNative(Output);
    std::vector<std::string> phases;
    for (const std::string& line : Lines(ReadNative(Output)))
        if (line.starts_with("setup: ") || line.starts_with("summary: "))
            phases.push_back(line);
    EXPECT_EQ(phases, (std::vector<std::string>{
                          "setup: Reading file information...",
                          "setup: the pages before installing",
                          "setup: installing the files",
                          "setup: Installing registry keys...",
                          "setup: registering the package in the chosen development environments",
                          "setup: the installation is complete",
                          "setup: the pages after a good installation",
                          "summary: complete, 99 files in D:\\Orvex, the package registered in Delphi 5",
                      }));
    EXPECT_EQ(ReadNative(NativePath("D:\\Orvex\\licence.txt")), ReadNative(NativePath("S:\\Vek\\licence.txt")));
    EXPECT_NE(RegistryText(store, HKEY_CURRENT_USER, "Software\\Borland"), borland);

    // The registry as text, as the program prints it.
    ASSERT_EQ(RunSetupProgram({"--root=" + Root.Path(), "--dump-registry=HKLM\\Software\\Vantry Software"}), 0);
    EXPECT_EQ(ReadNative(Output), "[HKEY_LOCAL_MACHINE\\Software\\Vantry Software]\n\n"
                                  "[HKEY_LOCAL_MACHINE\\Software\\Vantry Software\\Orvex]\n"
                                  "\"Ver\"=\"143\"\n"
                                  "\"InstallPath\"=\"D:\\\\Orvex\"\n\n");
    ASSERT_EQ(RunSetupProgram({"--root=" + Root.Path(), "--dump-registry"}), 0);
    EXPECT_EQ(ReadNative(Output), Registry());
    EXPECT_EQ(RunSetupProgram({"--root=" + Root.Path(), "--dump-registry=HKLM\\Software\\Nothing"}), 4);
}

TEST_F(SetupEndToEndTest, HelpListsEveryOptionAndTheScript)
{
    ASSERT_EQ(RunSetupProgram({"--help"}), 0);
    const std::string help = ReadNative(Output);
    for (const char* item : {"--root=DIR", "--qt", "--headless", "--script=FILE", "--environment=NAME",
                             "--sources=DIR", "--dump-registry[=KEY]", "  -b ", "  -f ", "  -d ", "  -sFOLDER",
                             "  -eFILE", "  -r ", "  -c ", "  -n ", "click [Page.]Control", "set [Page.]Control Text",
                             "answer N", "folder Path", "cancelfolder", "Exit codes"})
        EXPECT_NE(help.find(item), std::string::npos) << item;
    EXPECT_EQ(RunSetupProgram({"--nonsense"}), 2);
    EXPECT_NE(ReadNative(Output).find("--help"), std::string::npos);
}

TEST_F(SetupEndToEndTest, TheBuiltSetupInstallsRegistersAndRemembersItsFolder)
{
    PrepareBuildMachine();
    // Small stand-ins for the big build outputs (the engine library and the
    // demonstration program) keep the compression and extraction short.
    for (const char* file : {"Delphi5/vekrun.bpl", "Sys/vekrun.bpl", "Utils/OrvexEditor.exe"}) {
        const fs::path path = fs::path(Sources) / file;
        fs::create_directories(path.parent_path());
        std::ofstream(path) << "stand-in for " << file;
    }
    ASSERT_EQ(RunProgramTo(NativePath("C:\\DEV\\orvexsetup.exe"), {"--headless", "--sources=" + Sources, "-b"}, Output), 0)
        << ReadNative(Output);
    ASSERT_TRUE(WinFileExists("C:\\BUILD\\setup.exe")) << ReadNative(Output);
    ASSERT_TRUE(WinFileExists("C:\\BUILD\\files.1"));
    TTempWindowsRoot::WriteFile("C:\\DIST\\setup.exe", ReadNative(NativePath("C:\\BUILD\\setup.exe")));
    fs::permissions(NativePath("C:\\DIST\\setup.exe"), fs::perms::owner_all);

    const std::string destination = "D:\\Engines\\Orvex";
    const std::vector<std::string> pages = RunSetup("click TWelcomeForm.btnNext\n"
                                                    "click TLicenseForm.btnNext\n"
                                                    "set TSelectDestinationForm.edDestination " +
                                                    destination +
                                                    "\n"
                                                    "click TSelectDestinationForm.btnNext\n"
                                                    "click TConfirmInstall.btnNext\n"
                                                    "click TReadmeForm.btnNext\n"
                                                    "click TAfterGoodInstallDlg.btnFinish\n");
    EXPECT_EQ(pages, (std::vector<std::string>{"TWelcomeForm", "TLicenseForm", "TSelectDestinationForm",
                                                "TConfirmInstall", "TReadmeForm", "TAfterGoodInstallDlg"}));

    // Every file of the definition, byte for byte from its source.
    const std::string system = GetSystemDir();
    int files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(Sources)) {
        if (!entry.is_regular_file())
            continue;
        const fs::path relative = fs::relative(entry.path(), Sources);
        const std::string folder = relative.parent_path().string();
        const std::string name = relative.filename().string();
        std::string installed;
        if (folder == "Vek")
            installed = destination + "\\" + name;
        else if (folder == "Sys")
            installed = system + "\\" + name;
        else
            installed = destination + "\\" + folder + "\\" + name;
        EXPECT_EQ(ReadNative(NativePath(installed)), ReadNative(entry.path().string())) << installed;
        ++files;
    }
    EXPECT_EQ(files, 2 + 2 + 43 + 46 + 4 + 1 + 1);
    // The demonstration databases are the engine's: a database header with
    // the engine's version, the second one secured.
    for (const char* name : {"VekDemo.vek", "SecurityDemo.vek"}) {
        const std::string database = ReadNative(NativePath(destination + "\\Demo\\" + name));
        ASSERT_GT(database.size(), 4096u) << name;
        EXPECT_NE(database.substr(0, 254).find(std::string("1\0.\0" "4\0" "3\0.\0" "0\0" "2\0", 14)),
                  std::string::npos)
            << name;
        EXPECT_NE(database.substr(0, 64).find(std::string("D\0" "e\0" "m\0" "o\0.\0v\0e\0k\0", 16)),
                  std::string::npos)
            << name;
        EXPECT_EQ(database[246], std::string(name) == "VekDemo.vek" ? 0 : 2) << name;
    }

    // The product's key, its uninstall entry and Delphi 5's package keys.
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, "\\Software\\Vantry Software\\Orvex", "Ver", "?"), "143");
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, "\\Software\\Vantry Software\\Orvex", "InstallPath", "?"), destination);
    EXPECT_TRUE(TRegistryStore::Default()->KeyExists(
        HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvex Database Engine"));
    const std::string package = destination + "\\Delphi5\\dclvek14d5.bpl";
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, "\\Software\\Borland\\Delphi\\5.0\\Known Packages", package, "?"),
              "Orvex Database Engine");
    EXPECT_NE(ReadRegString(HKEY_CURRENT_USER, "\\Software\\Borland\\Delphi\\5.0\\Library", "Search Path", "")
                  .find(destination + "\\Delphi5"),
              std::string::npos);
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, "\\SOFTWARE\\Borland\\Delphi\\5.0\\Palette", "Data Access", "?"),
              "TDataSource;TTable;TQuery;TVekDatabase;TVekTable;TVekQuery");
    const std::string log = ReadNative(NativePath(destination + "\\instlog.txt"));
    EXPECT_NE(log.find("Installing product. Product - Delphi 5 Done"), std::string::npos) << log;
    EXPECT_NE(log.find("Delphi Ver Dlg skip - True"), std::string::npos);

    // A second run proposes the folder of the first.
    const std::vector<std::string> again = RunSetup("click TWelcomeForm.btnNext\n"
                                                    "click TLicenseForm.btnNext\n"
                                                    "click TSelectDestinationForm.btnNext\n"
                                                    "click TConfirmInstall.btnNext\n"
                                                    "click TReadmeForm.btnNext\n"
                                                    "click TAfterGoodInstallDlg.btnFinish\n");
    EXPECT_EQ(again.back(), "TAfterGoodInstallDlg");
    const std::string second = ReadNative(NativePath(destination + "\\instlog.txt"));
    EXPECT_NE(second.find("Install1AfterInitialized. Moving Dir to: " + destination), std::string::npos) << second;
    EXPECT_EQ(second.find("Moving Dir to: C:\\"), std::string::npos);
}

} // namespace
} // namespace orvex
