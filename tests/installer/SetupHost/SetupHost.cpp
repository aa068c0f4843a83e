// A small setup program for the end-to-end tests: it hosts the install
// component on a form (headless backend) with an install definition read
// from "setup.def" beside the program, and runs it as the setup program
// would: build mode, transfer to disks, the run, the completion after a
// restart.
//
// setup.def, one item a line ("#" comments):
//   product NAME | company NAME | version TEXT | source WINFOLDER
//   presetup WINPATH                 a file packed beside the program
//   dir NAME DESTDIR                 a directory under the main install folder
//   file DIR NAME [help] [shared] [activex] [ow=always|never|version|date|versiondate]
//   uninstall DIR NAME               the uninstall program
//   reg NAME KEY IDENT=TEXT ...      a registry object (TEXT may hold %p: the main install folder)
//
// Test hooks (environment):
//   ORVEX_SETUP_LOG=FILE        every broadcast code is appended to FILE
//   ORVEX_SETUP_CANCEL=CODE:N   the user cancels at the N-th broadcast CODE (the
//                               file-status code stops the archive, as the
//                               wizard's Cancel does; others raise the cancel)
//   ORVEX_SETUP_PAUSE=CODE:N:F  at the N-th broadcast CODE create F and wait
//                               (to be killed)
//   ORVEX_SETUP_DISKS=FOLDER    answers each "insert disk" prompt by moving
//                               what the removable drive holds to FOLDER\diskN
//   ORVEX_SETUP_FLOPPY=BYTES    the capacity of the removable drive A:
//   ORVEX_SETUP_PID=FILE        the program writes its process id to FILE
//
// Exit codes: 0 good end or reboot end, 3 cancelled, 4 failed, 2 bad start.

#include "host/SysUtils.h"
#include "host/forms/Backend.h"
#include "host/forms/Dialogs.h"
#include "host/forms/Forms.h"
#include "host/forms/Headless.h"
#include "installer/cmp_TInstall.h"
#include "installer/cmp_TInstallRegistry.h"
#include "installer/cmp_TUninstallEXE.h"
#include "installer/exceptions_Dorvane.h"
#include "installer/routines_Strings.h"
#include "platform/WinPaths.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include <unistd.h>

using namespace orvex;

namespace {

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Plays the wizard's part for the tests: logs, cancels, pauses.
class TTestReceiver : public TInstallObject {
public:
    using TInstallObject::TInstallObject;
    Integer KindCode() const override { return kcDialog; }
    void ReceiveMessage(TObject*, Integer code, TObject*) override
    {
        if (!FLog.empty())
            std::ofstream(FLog, std::ios::app) << code << "\n";
        const int seen = ++FSeen[code];
        if (FCancelCode == code && FCancelAt == seen) {
            if (code == bmFileStatus)
                MainDrvnCompress()->Abort = true;
            else
                throw EAIUserAbort();
        }
        if (FPauseCode == code && FPauseAt == seen) {
            std::ofstream(FPauseMarker) << "paused\n";
            std::this_thread::sleep_for(std::chrono::seconds(120));
        }
    }
    std::string FLog;
    Integer FCancelCode = 0, FCancelAt = 0, FPauseCode = 0, FPauseAt = 0;
    std::string FPauseMarker;
    std::map<Integer, int> FSeen;
};

// The headless backend that swaps removable disks when asked: the disk in
// drive A: goes to FOLDER/diskN (N its number, 1 at first), the asked one
// comes back from its folder; FOLDER/current names the disk in the drive.
class TDiskSwapBackend : public THeadlessBackend {
public:
    explicit TDiskSwapBackend(std::string store) : FStore(std::move(store)) {}
    int MessageBox(const std::string& text, const std::string& caption, int flags) override
    {
        int wanted = 0;
        if (std::sscanf(text.c_str(), "Please insert disk %d", &wanted) != 1)
            return THeadlessBackend::MessageBox(text, caption, flags);
        const std::string drive = NativePath("A:\\");
        Move(drive, Slot(FCurrent));
        Move(Slot(wanted), drive);
        FCurrent = wanted;
        std::ofstream(FStore + "/current") << FCurrent << "\n";
        return IDOK;
    }

private:
    std::string Slot(int disk) const { return FStore + "/disk" + std::to_string(disk); }
    static void Move(const std::string& from, const std::string& to)
    {
        std::filesystem::create_directories(to);
        std::filesystem::create_directories(from);
        for (const auto& entry : std::filesystem::directory_iterator(from))
            std::filesystem::rename(entry.path(), to + "/" + entry.path().filename().string());
    }
    std::string FStore;
    int FCurrent = 1;
};

std::vector<std::string> Words(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    std::string word;
    while (in >> word)
        words.push_back(word);
    return words;
}

void ParseHook(const std::string& text, Integer& code, Integer& at, std::string* rest)
{
    if (text.empty())
        return;
    std::istringstream in(text);
    std::string part;
    std::getline(in, part, ':');
    code = std::stoi(part);
    std::getline(in, part, ':');
    at = part.empty() ? 1 : std::stoi(part);
    if (rest)
        std::getline(in, *rest);
}

TOverwriteType OverwriteOf(const std::string& text)
{
    if (text == "never") return owNever;
    if (text == "version") return owVersion;
    if (text == "date") return owDate;
    if (text == "versiondate") return owVersionDate;
    return owAlways;
}

} // namespace

int main(int argc, char** argv)
{
    if (const std::string disks = Env("ORVEX_SETUP_DISKS"); !disks.empty())
        UseFormsBackend(std::make_unique<TDiskSwapBackend>(disks));
    if (const std::string capacity = Env("ORVEX_SETUP_FLOPPY"); !capacity.empty())
        SetDriveCapacity('A', std::stoll(capacity));
    if (const std::string pidFile = Env("ORVEX_SETUP_PID"); !pidFile.empty())
        std::ofstream(pidFile) << ::getpid() << "\n";
    int result = 0;
    TForm* form = nullptr;
    Application->CreateForm(form);
    form->SetName("SetupForm");
    TInstall* install = nullptr;
    TTestReceiver* receiver = nullptr;
    try {
        install = new TInstall(form);
        install->SetName("Install");
        install->BeginLoading();
        install->SetDestDir("\\OrvexTest");
        for (int i = 1; i < argc; ++i)
            install->CommandLine.push_back(argv[i]);

        const std::string def = WinExtractFileDir(install->ProgramPath) + "\\setup.def";
        std::ifstream in(NativePath(def));
        if (!in)
            throw Exception("No setup.def beside the program: " + def);
        std::string source = "C:\\SRC";
        std::map<std::string, TInstallDirectory*> dirs;
        std::map<std::string, TCustomInstallFile*> files;
        std::string line;
        while (std::getline(in, line)) {
            const std::vector<std::string> w = Words(line);
            if (w.empty() || w[0][0] == '#')
                continue;
            const std::string rest = Trim(line.substr(line.find(w[0]) + w[0].size()));
            if (w[0] == "product") {
                install->Information()->ProductName = rest;
            } else if (w[0] == "company") {
                install->Information()->CompanyName = rest;
            } else if (w[0] == "version") {
                install->Information()->Version = rest;
            } else if (w[0] == "source") {
                source = rest;
            } else if (w[0] == "presetup") {
                install->PresetupFiles()->Add(rest);
            } else if (w[0] == "dir" && w.size() >= 3) {
                auto* dir = new TInstallDirectory(form);
                dir->SetName(w[1]);
                dir->SetContainer(install);
                dir->SetDestDir(w[2]);
                dirs[w[1]] = dir;
            } else if ((w[0] == "file" || w[0] == "uninstall") && w.size() >= 3) {
                TCustomInstallFile* file =
                    w[0] == "file" ? static_cast<TCustomInstallFile*>(new TInstallFile(form)) : new TUninstallEXE(form);
                file->SetName(InstallFileComponentName(form, w[2]));
                file->SetContainer(dirs.at(w[1]));
                file->SetIncludeFromDir(source);
                file->SetFileName(w[2]);
                for (std::size_t k = 3; k < w.size(); ++k) {
                    if (w[k] == "shared")
                        file->UpdateDLLCounter = true;
                    else if (w[k] == "activex")
                        file->SetActiveX(true);
                    else if (w[k] == "help")
                        file->RegisterAsHelp = true;
                    else if (w[k].rfind("ow=", 0) == 0)
                        file->OverwriteMode = OverwriteOf(w[k].substr(3));
                }
                files[w[2]] = file;
            } else if (w[0] == "reg" && w.size() >= 3) {
                auto* reg = new TInstallRegistry(form);
                reg->SetName(w[1]);
                reg->SetContainer(install);
                reg->SetKey(w[2]);
                for (std::size_t k = 3; k < w.size(); ++k) {
                    const auto eq = w[k].find('=');
                    TRegistryEntry* entry = reg->Entries()->Add();
                    entry->Ident = w[k].substr(0, eq);
                    const std::string text = w[k].substr(eq + 1);
                    if (text.find("%p") != std::string::npos)
                        entry->SetPathSpecifier(StandardPathSpecList()->FindByClass(&TpsMainInstall::ClassInfo));
                    entry->SetText(text);
                }
            }
        }
        receiver = new TTestReceiver(form);
        receiver->SetName("TestReceiver");
        receiver->SetContainer(install);
        receiver->FLog = Env("ORVEX_SETUP_LOG");
        ParseHook(Env("ORVEX_SETUP_CANCEL"), receiver->FCancelCode, receiver->FCancelAt, nullptr);
        ParseHook(Env("ORVEX_SETUP_PAUSE"), receiver->FPauseCode, receiver->FPauseAt, &receiver->FPauseMarker);
        install->EndLoading();
    } catch (Exception& e) {
        std::fprintf(stderr, "setup host: %s\n", e.Message().c_str());
        return 2;
    }
    if (!Application->Terminated())
        Application->Run();
    if (install->BadEndHandled())
        result = install->UserAborted ? 3 : 4;
    if (auto* headless = dynamic_cast<THeadlessBackend*>(&FormsBackend()))
        for (const THeadlessMessage& message : headless->Messages()) {
            std::fprintf(stderr, "setup host message: %s\n", message.Text.c_str());
            // Build mode and the transfer show nothing but their errors.
            if (install->OptBuild || install->OptFloppies)
                result = 4;
        }
    delete form;
    return result;
}
