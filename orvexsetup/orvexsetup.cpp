// orvexsetup: the setup program of the engine's distribution.
//
// Its own options (the rest of the command line is the install component's):
//   --qt | --headless     the forms backend (by default Qt when a display is
//                         available and the program was built with Qt)
//   --root=DIR            the emulated Windows machine's root folder
//   --environment=NAME    leaves an installed development environment on the
//                         emulated machine first (Delphi3 ... Delphi7, Builder6)
//   --sources=DIR         the folder of the distribution's sources when
//                         building (drive S: of the emulated machine)
//   --script=FILE         the user's steps for the headless backend
//                         (see setup/SetupMachine.h); each page a step runs
//                         on is printed as "page <class>"
//
// Exit codes: 0 a good (or reboot) end, 3 the user cancelled, 4 failed,
// 2 a bad option.

#include "host/SysUtils.h"
#include "host/forms/Forms.h"
#include "host/forms/Headless.h"
#include "installer/routines_API.h"
#include "platform/FileIO.h"
#include "platform/Process.h"
#include "platform/WinPaths.h"
#include "setup/DemoDelphiVer.h"
#include "setup/DemoGoodInstall.h"
#include "setup/DemoInstallCheck.h"
#include "setup/DemoWelcomeDlg.h"
#include "setup/SetupMachine.h"
#include "setup/ordlg_SelectDestination.h"
#include "setup/VCLInstall.h"
#include "setup/dlgcmp_TBaseContainer.h"
#include "setup/frmMain.h"

#ifdef ORVEX_SETUP_QT
#include "host/forms-qt/QtBackend.h"
#endif

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace orvex;

namespace {

struct TOptions {
    int Backend = 0; // 0 by the display, 1 Qt, 2 headless
    std::string Root;
    std::vector<std::string> Environments;
    std::string Sources;
    std::string Script;
    std::vector<std::string> InstallArguments;
};

bool DisplayAvailable()
{
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return true;
    }
    return false;
}

int EnvironmentIndex(const std::string& name)
{
    for (int i = 0; i < VCLProductCount; ++i) {
        std::string known = VCLProducts[static_cast<std::size_t>(i)].Name;
        known.erase(known.find(' '), 1);
        if (SameText(known, name))
            return i;
    }
    return -1;
}

std::string ReadTextFile(const std::string& native)
{
    std::ifstream in(native, std::ios::binary);
    if (!in)
        throw Exception("Cannot read " + native);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TOptions ParseOptions(int argc, char** argv)
{
    TOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* name) -> const char* {
            const std::string prefix = std::string(name) + "=";
            return arg.starts_with(prefix) ? argv[i] + prefix.size() : nullptr;
        };
        if (arg == "--qt")
            options.Backend = 1;
        else if (arg == "--headless")
            options.Backend = 2;
        else if (const char* v = value("--root"))
            options.Root = v;
        else if (const char* v = value("--environment"))
            options.Environments.push_back(v);
        else if (const char* v = value("--sources"))
            options.Sources = v;
        else if (const char* v = value("--script"))
            options.Script = v;
        else if (arg.starts_with("--"))
            throw Exception("Unknown option " + arg);
        else
            options.InstallArguments.push_back(arg);
    }
    return options;
}

} // namespace

int main(int argc, char** argv)
{
    TOptions options;
    try {
        options = ParseOptions(argc, argv);
        for (const std::string& name : options.Environments)
            if (EnvironmentIndex(name) < 0)
                throw Exception("Unknown development environment " + name);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvexsetup: %s\n", e.what());
        return 2;
    }

    bool useQt = options.Backend == 1 || (options.Backend == 0 && DisplayAvailable());
#ifdef ORVEX_SETUP_QT
    if (useQt)
        UseQtFormsBackend(argc, argv);
#else
    if (options.Backend == 1) {
        std::fprintf(stderr, "orvexsetup: built without Qt\n");
        return 2;
    }
    useQt = false;
#endif

    int result = 0;
    try {
        if (!options.Root.empty())
            SetWindowsRoot(options.Root);
        PrepareMachineFolders();
        for (const std::string& name : options.Environments)
            EmulateDevelopmentEnvironment(EnvironmentIndex(name));

        // Start-up: the registries with the stock pages and the program's own,
        // the setup log noting the temporary folder.
        RegisterWizardForms();
        RegisterSetupPages();
        InstallLog()->Clear();
        SetInstallLogFolder(GetTempDir());

        if (!options.Script.empty()) {
            if (useQt)
                throw Exception("A script runs on the headless backend only");
            QueueSetupScript(ReadTextFile(options.Script), [](const std::string& page) {
                std::printf("page %s\n", page.c_str());
                std::fflush(stdout);
            });
        }

        // Building needs the distribution's sources before the install
        // component reads its command line.
        bool build = false;
        for (const std::string& arg : options.InstallArguments)
            build = build || (arg.size() >= 2 && (arg[0] == '-' || arg[0] == '*') && (arg[1] == 'b' || arg[1] == 'B'));
        if (build) {
            std::string sources = options.Sources;
            if (sources.empty())
                sources = std::string(ORVEX_BUILD_DIR) + "/orvexsetup/distribution";
            ForceDirectories(sources);
            MapDrive('S', sources);
        }
        TMainForm::SetInstallCommandLine(options.InstallArguments);
        TMainForm::SetBeforeLoaded([build](TMainForm* form) {
            // A program outside the emulated drives is seen from drive P:,
            // so that the files beside it (BUILD.INF, the archives) have
            // Windows-form paths.
            const std::string self = ProgramFileName();
            if (NativeToWinPath(self) == self) {
                MapDrive('P', ExtractFileDir(self));
                form->Install1->ProgramPath = "P:\\" + ExtractFileName(self);
            }
            if (build)
                PrepareDistributionSources(form, ORVEX_PROJECT_DIR, ORVEX_BUILD_DIR);
        });

        Application->SetTitle(SetupProductName);
        TMainForm* mainForm = nullptr;
        Application->CreateForm(mainForm);
        // The program's own pages are created once at start-up as well (the
        // wizard shows instances of its own).
        TBeforeInstallDialog1* environments = nullptr;
        TWelcomeForm* welcome = nullptr;
        TConfirmInstall* confirm = nullptr;
        TSelectDestinationForm* destination = nullptr;
        TAfterGoodInstallDlg* complete = nullptr;
        Application->CreateForm(environments);
        Application->CreateForm(welcome);
        Application->CreateForm(confirm);
        Application->CreateForm(destination);
        Application->CreateForm(complete);
        if (!Application->Terminated())
            Application->Run();
        // Headless, the messages shown go to the error output too; build mode
        // shows nothing but its errors.
        if (THeadlessBackend* headless = Headless()) {
            for (const THeadlessMessage& message : headless->Messages()) {
                std::fprintf(stderr, "orvexsetup: message: %s\n", message.Text.c_str());
                if (build)
                    result = 4;
            }
        }
        if (mainForm->Install1->BadEndHandled())
            result = mainForm->Install1->UserAborted ? 3 : 4;
    } catch (Exception& e) {
        std::fprintf(stderr, "orvexsetup: %s\n", e.Message().c_str());
        return 4;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvexsetup: %s\n", e.what());
        return 4;
    }
    return result;
}
