// The setup program end to end, with real processes on one emulated machine
// with Delphi 5: orvexsetup builds its distribution with "-b" from BUILD.INF,
// the test loader runs the self-extracting setup headless with a script of
// the user's steps, and a second run proposes the folder the first one
// installed into.

#include "installer/routines_API.h"
#include "installer/routines_Registry.h"
#include "platform/WinPaths.h"
#include "setup/SetupMachine.h"
#include "setup/VCLInstall.h"
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

    TTempWindowsRoot Root;
    std::string Sources;
    std::string Output;
};

TEST_F(SetupEndToEndTest, TheBuiltSetupInstallsRegistersAndRemembersItsFolder)
{
    PrepareBuildMachine();
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
