// orvexsetup: the setup program of the engine's distribution. `orvexsetup
// --help` lists its options, the install component's and the script syntax
// (UsageText below).
//
// Without a display it never installs on its own: the wizard's steps must
// come from a script (--script, or --headless whose empty script cancels at
// the first page), so that nothing is installed without the environment
// check and the registration an interactive run goes through.

#include "host/SysUtils.h"
#include "host/forms/Dialogs.h"
#include "host/forms/Forms.h"
#include "host/forms/Headless.h"
#include "installer/routines_API.h"
#include "installer/routines_Strings.h"
#include "platform/CodePage.h"
#include "platform/FileIO.h"
#include "platform/Process.h"
#include "platform/RegistryText.h"
#include "platform/WinPaths.h"
#include "setup/DemoDelphiVer.h"
#include "setup/DemoGoodInstall.h"
#include "setup/DemoInstallCheck.h"
#include "setup/DemoWelcomeDlg.h"
#include "setup/SetupMachine.h"
#include "setup/SetupReport.h"
#include "setup/ordlg_SelectDestination.h"
#include "setup/VCLInstall.h"
#include "setup/dlgcmp_TBaseContainer.h"
#include "setup/frmMain.h"

#ifdef ORVEX_SETUP_QT
#include "host/forms-qt/QtBackend.h"
#endif

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace orvex;

namespace {

const char* const UsageText = R"(Usage: orvexsetup [options] [install options]

Installs the Orvex Database Engine into an emulated Windows machine, or builds
its distribution. Drives are folders under the machine's root (C: is
ROOT/c), the registry is a file under ROOT/registry.

Options of the program:
  --help                 prints this text
  --root=DIR             the emulated machine's root folder (by default
                         $ORVEX_WINDOWS_ROOT, else $HOME/.orvex/windows)
  --qt                   shows the wizard through Qt (needs a display)
  --headless             shows no window: the user's steps come from the
                         script; a page that no step answers is cancelled
  --script=FILE          the user's steps (below); implies --headless
  --environment=NAME     first leaves an installed development environment
                         on the machine: Delphi3, Delphi4, Delphi5, Delphi6,
                         Delphi7 or Builder6 (may be repeated)
  --sources=DIR          where building takes the distribution's files from
                         (drive S:); missing files are written there first
  --dump-registry[=KEY]  prints the machine's registry, or the key KEY with
                         the keys below it ("HKLM\Software\Vantry Software"),
                         as text, and ends

Without a display the wizard is shown only with --script or --headless.

Install options (a "-" or "*", a letter, then the value without a blank):
  -b         builds the distribution (setup.exe, setup.1, files.1) into the
             folder named by the first line of BUILD.INF beside the program
  -f         copies a self-extracting setup onto floppies (drive A:)
  -d         runs from a build folder instead of the loader; needs -s
  -sFOLDER   the folder of the setup's archives
  -eFILE     started by the self-extracting loader FILE (in the -s folder)
  -r         completes the work left for the next start
  -c         removes the setup's temporary files at the end
  -n         clears the record of unfinished work first

Script: one step a line; blank lines and lines beginning with "#" are skipped.
  click [Page.]Control     clicks a control of the page shown (a check box
                           toggles); with Page, that page must be shown
  set [Page.]Control Text  the user types Text into the edit
  answer N                 answers the next message box with N
                           (1 OK, 2 Cancel, 6 Yes, 7 No)
  folder Path              chooses Path in the next folder browser
  cancelfolder             cancels the next folder browser
When the steps run out, the page waiting is cancelled: before the files are
installed that cancels the installation (exit 3, nothing is changed); a page
after the installation is closed as finished.

The pages and their controls, in the order shown:
  TWelcomeForm             btnNext, btnCancel
  TLicenseForm             btnNext ("Accept >"), btnPrevious, btnCancel
  TBeforeInstallDialog1    cbDelphi3 ... cbDelphi7, cbBuilder6, btnNext
                           (skipped when one environment can be chosen)
  TSelectDestinationForm   edDestination, btnBrowse, btnNext
  TConfirmInstall          btnNext
  TReadmeForm              btnNext
  TAfterGoodInstallDlg     btnFinish
  TRebootForm              rbYes, rbNo, btnNext, btnFinish (files in use)
  TBadInstallForm          btnNext, btnFinish (after a cancel or a failure)

Example, a headless installation into D:\Orvex with Delphi 5:
  click TWelcomeForm.btnNext
  click TLicenseForm.btnNext
  set TSelectDestinationForm.edDestination D:\Orvex
  click TSelectDestinationForm.btnNext
  click TConfirmInstall.btnNext
  click TReadmeForm.btnNext
  click TAfterGoodInstallDlg.btnFinish

Output: "setup: " and one line per phase of the run or the build, "page
<class>" for each page a step runs on, and one "summary: " line at the end;
the messages shown go to the error output.

Exit codes: 0 installed (or built), 3 cancelled by the user, 4 failed,
2 a bad option or no way to show the wizard.
)";

struct TOptions {
    int Backend = 0; // 0 by the display, 1 Qt, 2 headless
    bool Help = false;
    bool DumpRegistry = false;
    std::string DumpKey;
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
        if (arg == "--help" || arg == "-h")
            options.Help = true;
        else if (arg == "--qt")
            options.Backend = 1;
        else if (arg == "--headless")
            options.Backend = 2;
        else if (arg == "--dump-registry")
            options.DumpRegistry = true;
        else if (const char* v = value("--dump-registry")) {
            options.DumpRegistry = true;
            options.DumpKey = v;
        } else if (const char* v = value("--root"))
            options.Root = v;
        else if (const char* v = value("--environment"))
            options.Environments.push_back(v);
        else if (const char* v = value("--sources"))
            options.Sources = v;
        else if (const char* v = value("--script"))
            options.Script = v;
        else if (arg.starts_with("--"))
            throw Exception("Unknown option " + arg + " (orvexsetup --help lists the options)");
        else
            options.InstallArguments.push_back(arg);
    }
    if (options.Backend == 1 && !options.Script.empty())
        throw Exception("A script runs on the headless backend only, not with --qt");
    return options;
}

// Whether the install options hold the letter (either prefix, any case).
bool HasInstallOption(const TOptions& options, char letter)
{
    for (const std::string& arg : options.InstallArguments)
        if (arg.size() >= 2 && (arg[0] == '-' || arg[0] == '*') && (arg[1] | 0x20) == letter)
            return true;
    return false;
}

void Say(const std::string& line)
{
    std::printf("setup: %s\n", Win1252ToUtf8(line).c_str());
    std::fflush(stdout);
}

int DumpRegistry(const TOptions& options)
{
    auto store = TRegistryStore::Default();
    if (options.DumpKey.empty()) {
        std::fputs(RegistryText(*store).c_str(), stdout);
        return 0;
    }
    std::string path;
    const auto root = ParseRegistryKeyName(Utf8ToWin1252(options.DumpKey), path);
    if (!root) {
        std::fprintf(stderr, "orvexsetup: %s does not begin with a registry root (HKEY_LOCAL_MACHINE, HKLM, ...)\n",
                     options.DumpKey.c_str());
        return 2;
    }
    const std::string text = RegistryText(*store, *root, path);
    if (text.empty()) {
        std::fprintf(stderr, "orvexsetup: the registry holds no key %s\n", options.DumpKey.c_str());
        return 4;
    }
    std::fputs(text.c_str(), stdout);
    return 0;
}

std::string FileSizeText(const std::string& winPath)
{
    const std::string native = NativePath(winPath);
    std::error_code ec;
    const auto size = native.empty() ? 0 : std::filesystem::file_size(native, ec);
    return ec ? std::string("missing") : std::to_string(size) + " bytes";
}

// The lines of a build that ended well: what it wrote into the build folder.
void ReportBuild(TMainForm* form)
{
    const std::string inf = RemoveBackSlash(
        form->Install1->BuildInfFolder.empty() ? WinExtractFileDir(form->Install1->ProgramPath)
                                               : form->Install1->BuildInfFolder) + "\\BUILD.INF";
    std::string folder;
    {
        std::ifstream in(NativePath(inf), std::ios::binary);
        std::getline(in, folder);
    }
    folder = RemoveBackSlash(Trim(folder));
    const std::size_t files = form->DefinitionFiles().size();
    Say("setup.1, the setup program: " + FileSizeText(folder + "\\setup.1"));
    Say("files.1, " + std::to_string(files) + " files of the distribution: " + FileSizeText(folder + "\\files.1"));
    Say("setup.exe, the loader with both archives: " + FileSizeText(folder + "\\setup.exe"));
    std::printf("summary: built %s\\setup.exe\n", Win1252ToUtf8(folder).c_str());
}

// The summary of an install run (or of the completion after a restart).
int ReportRun(TMainForm* form, const std::vector<std::string>& registered, const std::string& firstMessage)
{
    TInstall* install = form->Install1;
    if (install->BadEndHandled()) {
        if (install->UserAborted) {
            std::printf("summary: cancelled by the user; the run's changes were undone\n");
            return 3;
        }
        std::printf("summary: failed%s\n", firstMessage.empty() ? "" : (": " + Win1252ToUtf8(firstMessage)).c_str());
        return 4;
    }
    int files = 0;
    for (const TMainForm::TDefinitionFile& entry : form->DefinitionFiles())
        files += entry.File->Processed ? 1 : 0;
    std::string text = "summary: complete";
    if (files > 0)
        text += ", " + std::to_string(files) + " files in " + install->DestinationDirectory();
    if (!registered.empty()) {
        text += ", the package registered in ";
        for (std::size_t i = 0; i < registered.size(); ++i)
            text += (i > 0 ? ", " : "") + registered[i];
    }
    if (install->WorkItemCount() > 0)
        text += ", " + std::to_string(install->WorkItemCount()) + " files replaced at the next start";
    std::printf("%s\n", Win1252ToUtf8(text).c_str());
    return 0;
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
    if (options.Help) {
        std::fputs(UsageText, stdout);
        return 0;
    }
    if (options.DumpRegistry) {
        if (!options.Root.empty())
            SetWindowsRoot(options.Root);
        return DumpRegistry(options);
    }

    const bool build = HasInstallOption(options, 'b');
    // Building, copying to floppies and the completion after a restart ask
    // the user nothing before they change the machine; a run does.
    const bool asksFirst = !build && !HasInstallOption(options, 'f') && !HasInstallOption(options, 'r');
    if (options.Backend == 0 && !options.Script.empty())
        options.Backend = 2;
    if (options.Backend == 0 && !DisplayAvailable()) {
        if (asksFirst) {
            std::fprintf(stderr,
                         "orvexsetup: there is no display to show the setup wizard on. Run it on a desktop, or "
                         "headless with the user's steps in a script: --script=FILE (orvexsetup --help shows the "
                         "steps).\n");
            return 2;
        }
        options.Backend = 2;
    }
#ifdef ORVEX_SETUP_QT
    if (options.Backend != 2)
        UseQtFormsBackend(argc, argv);
#else
    if (options.Backend == 1) {
        std::fprintf(stderr, "orvexsetup: built without Qt\n");
        return 2;
    }
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

        if (THeadlessBackend* headless = Headless()) {
            headless->OnUnanswered = [](TCustomForm* form) {
                // Before the work the page is cancelled; after it, closed.
                auto* container = dynamic_cast<TBaseFormContainer*>(form);
                Say("no step of the script answers " + ShownPageName(form) +
                    (container != nullptr && container->FollowsWork ? ": it is closed" : ": it is cancelled"));
            };
            if (!options.Script.empty())
                QueueSetupScript(ReadTextFile(options.Script), [](const std::string& page) {
                    std::printf("page %s\n", page.c_str());
                    std::fflush(stdout);
                });
        }

        // Building needs the distribution's sources before the install
        // component reads its command line.
        if (build) {
            std::string sources = options.Sources;
            if (sources.empty())
                sources = std::string(ORVEX_BUILD_DIR) + "/orvexsetup/distribution";
            ForceDirectories(sources);
            MapDrive('S', sources);
        }
        std::vector<std::string> registered;
        TMainForm::SetInstallCommandLine(options.InstallArguments);
        TMainForm::SetBeforeLoaded([build, &registered](TMainForm* form) {
            // A program outside the emulated drives is seen from drive P:,
            // so that the files beside it (BUILD.INF, the archives) have
            // Windows-form paths.
            const std::string self = ProgramFileName();
            if (NativeToWinPath(self) == self) {
                MapDrive('P', ExtractFileDir(self));
                form->Install1->ProgramPath = "P:\\" + ExtractFileName(self);
            }
            // The run's phases on the output, and the environments the
            // package is registered in.
            auto* report = new TSetupReport(form, Say);
            report->SetName("SetupReport");
            report->SetContainer(form->Install1);
            TNotifyEvent registration = form->Install1->OnBeforeNotifyGoodInstall;
            form->Install1->OnBeforeNotifyGoodInstall = [form, registration, &registered](TObject* sender) {
                Say("registering the package in the chosen development environments");
                if (registration)
                    registration(sender);
                for (int i = 0; i < VCLProductCount; ++i)
                    if (form->ProductToRegister(i))
                        registered.push_back(VCLProducts[static_cast<std::size_t>(i)].Name);
            };
            if (build) {
                Say("the distribution's files in " + TMainForm::SourceRoot());
                const TDistributionSources sources = PrepareDistributionSources(form, ORVEX_PROJECT_DIR, ORVEX_BUILD_DIR);
                Say(std::to_string(sources.Kept) + " there already, " + std::to_string(sources.FromProject) +
                    " from the project, " + std::to_string(sources.Placeholders) + " placeholders");
                Say("building setup.1, files.1 and setup.exe");
            }
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
        std::string firstMessage, firstError;
        if (THeadlessBackend* headless = Headless()) {
            for (const THeadlessMessage& message : headless->Messages()) {
                std::fprintf(stderr, "orvexsetup: message: %s\n", Win1252ToUtf8(message.Text).c_str());
                if (firstMessage.empty())
                    firstMessage = message.Text;
                // An error shown (an exception) rather than a question.
                if (firstError.empty() && (message.Flags & MB_ICONSTOP) != 0)
                    firstError = message.Text;
            }
            if (headless->PendingSteps() > 0)
                Say(std::to_string(headless->PendingSteps()) + " steps of the script were not used");
        }
        if (build) {
            if (firstMessage.empty()) {
                ReportBuild(mainForm);
            } else {
                std::printf("summary: the build failed: %s\n", Win1252ToUtf8(firstMessage).c_str());
                result = 4;
            }
        } else if (HasInstallOption(options, 'f')) {
            // The disks are asked for by questions; only an error shown fails.
            result = firstError.empty() ? 0 : 4;
            if (result == 0)
                std::printf("summary: copied onto floppies\n");
            else
                std::printf("summary: the copy onto floppies failed: %s\n", Win1252ToUtf8(firstError).c_str());
        } else {
            result = ReportRun(mainForm, registered, firstError.empty() ? firstMessage : firstError);
        }
    } catch (Exception& e) {
        std::fprintf(stderr, "orvexsetup: %s\n", Win1252ToUtf8(e.Message()).c_str());
        return 4;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvexsetup: %s\n", e.what());
        return 4;
    }
    std::fflush(stdout);
    return result;
}
