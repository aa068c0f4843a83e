// The install run end to end on the emulated machine, with real processes:
// the setup program builds its self-extracting setup ("-b"), the test loader
// runs it, files held open by another process are replaced at the next
// start, cancels and a killed setup leave the machine as it was, and "-f"
// splits the setup onto a small removable drive.

#include "installer/cmp_TDrvnCompress.h"
#include "installer/cmp_TInstall.h"
#include "installer/routines_API.h"
#include "installer/routines_Registry.h"
#include "platform/FileIO.h"
#include "platform/Process.h"
#include "platform/Registry.h"
#include "platform/WinNextStart.h"
#include "tests/platform/WinSystemTempRoot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include <unistd.h>

namespace orvex {
namespace {

namespace fs = std::filesystem;

std::string ReadNative(const std::string& native)
{
    std::ifstream in(native, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string ReadWin(const std::string& winPath)
{
    return ReadNative(NativePath(winPath));
}

std::string RandomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>(random());
    return data;
}

// The files of the test installation: name, contents, flags of setup.def.
struct TSourceFile {
    std::string Name;
    std::string Data;
    std::string Flags;
};

const std::vector<TSourceFile>& SourceFiles()
{
    static const std::vector<TSourceFile> files = {
        {"app.dll", RandomBytes(70000, 1), "shared activex"},
        {"help.hlp", RandomBytes(3000, 2), ""},
        {"big.bin", RandomBytes(20 * 1024 * 1024, 3), ""},
        {"empty.txt", "", ""},
        {"notes.txt", RandomBytes(12345, 4), ""},
    };
    return files;
}

const char* const InstallDir = "C:\\Program Files\\OrvexTest\\bin";
const char* const UninstallKey = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvex Test";

// A small installation for the kill test: every kind of work, little data.
const std::vector<TSourceFile>& SmallFiles()
{
    static const std::vector<TSourceFile> files = {
        {"app.dll", RandomBytes(30000, 11), "shared activex"},
        {"help.hlp", RandomBytes(2000, 12), ""},
        {"data.bin", RandomBytes(200000, 13), ""},
        {"empty.txt", "", ""},
        {"notes.txt", RandomBytes(5000, 14), ""},
        {"more.txt", RandomBytes(7000, 15), ""},
    };
    return files;
}

std::string SetupDef(const std::vector<TSourceFile>& files = SourceFiles())
{
    std::string def = "product Orvex Test\ncompany Orvex\nversion 1.43\nsource C:\\SRC\n"
                      "presetup C:\\DEV\\setup.def\ndir Bin \\bin\n";
    for (const TSourceFile& file : files)
        def += "file Bin " + file.Name + " " + file.Flags + "\n";
    def += "uninstall Bin uninst.exe\n";
    def += "reg Keys \\SOFTWARE\\Orvex\\Test Path=%p\\data%%1 Name=Hello%%\n";
    return def;
}

// Every value of the registry outside the install record and the machine's
// own bookkeeping, as sorted lines.
std::set<std::string> DumpRegistry()
{
    std::set<std::string> lines;
    auto store = TRegistryStore::Default();
    std::function<void(HKEY, const std::string&)> walk = [&](HKEY root, const std::string& path) {
        if (CompareWinNames(path.substr(0, 13), "SOFTWARE\\Kelm") == 0)
            return;
        lines.insert(std::to_string(root) + " " + path);
        std::vector<TRegValue> values;
        store->Values(root, path, values);
        for (const TRegValue& value : values)
            lines.insert(std::to_string(root) + " " + path + " :" + value.Name + "=" + std::to_string(value.Type) +
                         ":" + value.Data);
        std::vector<std::string> subkeys;
        store->SubKeyNames(root, path, subkeys);
        for (const std::string& sub : subkeys)
            walk(root, path.empty() ? sub : path + "\\" + sub);
    };
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS})
        walk(root, "");
    return lines;
}

bool RecordExists()
{
    return TRegistryStore::Default()->KeyExists(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Kelm\\Install");
}

// A process started with extra environment variables; waited for.
int RunProgram(const std::string& program, const std::vector<std::string>& args,
               const std::map<std::string, std::string>& env = {}, int timeoutMs = 240000)
{
    for (const auto& [name, value] : env)
        ::setenv(name.c_str(), value.c_str(), 1);
    std::uint32_t error = 0;
    auto child = TChildProcess::Start({program, args, ""}, error);
    for (const auto& [name, value] : env)
        ::unsetenv(name.c_str());
    if (!child)
        return -1000 - static_cast<int>(error);
    if (child->WaitFor(timeoutMs) != TProcessWait::Exited)
        return -1;
    return child->ExitCode();
}

// The distribution, built once: "setup.exe" made by the setup program with
// "-b" on a machine of its own.
class TDistribution {
public:
    static TDistribution& Get()
    {
        static TDistribution distribution(SourceFiles());
        return distribution;
    }
    // The small installation's.
    static TDistribution& Small()
    {
        static TDistribution distribution(SmallFiles());
        return distribution;
    }
    std::string SetupExe;   // its bytes
    std::string Cached;     // the file that holds them
    std::string SetupHost;  // the setup program's bytes
    std::string Loader;     // the loader's bytes
    int BuildExit = -1;
    std::string Error;

private:
    // Each test runs in a process of its own under CTest: the build is kept
    // beside the programs, named by their sizes and times, and made again only
    // when they change (written under a temporary name, then renamed).
    explicit TDistribution(const std::vector<TSourceFile>& files)
    {
        SetupHost = ReadNative(ORVEX_SETUP_HOST);
        Loader = ReadNative(ORVEX_TEST_LOADER);
        const auto stamp = [](const char* file) {
            return std::to_string(fs::file_size(file)) + "-" +
                   std::to_string(fs::last_write_time(file).time_since_epoch().count());
        };
        const std::string cached = std::string(ORVEX_SETUP_HOST) + ".dist-" + stamp(ORVEX_SETUP_HOST) + "-" +
                                   stamp(ORVEX_TEST_LOADER) + "-" + std::to_string(std::hash<std::string>()(SetupDef(files)));
        Cached = cached;
        if (fs::exists(cached)) {
            BuildExit = 0;
            SetupExe = ReadNative(cached);
            return;
        }
        TTempWindowsRoot root;
        ::setenv("ORVEX_WINDOWS_ROOT", root.Path().c_str(), 1);
        PrepareBuildMachine(files);
        BuildExit = RunProgram(NativePath("C:\\DEV\\setuphost.exe"), {"-b"});
        SetupExe = ReadWin("C:\\BUILD\\setup.exe");
        ::unsetenv("ORVEX_WINDOWS_ROOT");
        if (BuildExit == 0 && !SetupExe.empty()) {
            // Builds of earlier programs go.
            const fs::path host(ORVEX_SETUP_HOST);
            const std::string prefix = host.filename().string() + ".dist-" + stamp(ORVEX_SETUP_HOST) + "-" +
                                       stamp(ORVEX_TEST_LOADER) + "-";
            const std::string any = host.filename().string() + ".dist-";
            std::error_code ec;
            for (const auto& entry : fs::directory_iterator(host.parent_path(), ec)) {
                const std::string name = entry.path().filename().string();
                if (name.rfind(any, 0) == 0 && name.rfind(prefix, 0) != 0)
                    fs::remove(entry.path(), ec);
            }
            const std::string temp = cached + "." + std::to_string(::getpid());
            std::ofstream(temp, std::ios::binary) << SetupExe;
            fs::rename(temp, cached, ec);
        }
    }

public:
    // Sources, the setup program with its definition and BUILD.INF, the
    // installer library's folder with the loader.
    static void PrepareBuildMachine(const std::vector<TSourceFile>& files)
    {
        for (const TSourceFile& file : files)
            TTempWindowsRoot::WriteFile("C:\\SRC\\" + file.Name, file.Data);
        TTempWindowsRoot::WriteFile("C:\\SRC\\uninst.exe", "uninstall program");
        TTempWindowsRoot::WriteFile("C:\\DEV\\setup.def", SetupDef(files));
        TTempWindowsRoot::WriteFile("C:\\DEV\\BUILD.INF", "C:\\BUILD\r\n");
        fs::copy_file(ORVEX_SETUP_HOST, NativePath("C:\\DEV\\setuphost.exe"));
        TTempWindowsRoot::WriteFile("C:\\LIB\\K19R08.TXT", "sign");
        fs::copy_file(ORVEX_TEST_LOADER, NativePath("C:\\LIB\\DorvaneLoadProgram.exe"));
        WriteRegString(HKEY_CURRENT_USER, "\\Software\\Borland\\Delphi\\5.0\\Library", "Search Path",
                       "$(DELPHI)\\Lib;C:\\LIB");
        WriteRegString(HKEY_LOCAL_MACHINE, "\\Software\\Borland\\Delphi\\5.0", "RootDir", "C:\\Delphi5");
    }
};

class InstallEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const TDistribution& dist = TDistribution::Get(); // built on a machine of its own
        ::setenv("ORVEX_WINDOWS_ROOT", Root.Path().c_str(), 1);
        TTempWindowsRoot::MakeFolder(GetTempDir());
        ::setenv("ORVEX_LOADER_TEMP", NativePath(GetTempDir()).c_str(), 1);
        ASSERT_EQ(dist.BuildExit, 0);
        ASSERT_FALSE(dist.SetupExe.empty());
        const std::string setup = TTempWindowsRoot::WriteFile("C:\\DIST\\setup.exe", dist.SetupExe);
        fs::permissions(setup, fs::perms::owner_all);
        Setup = setup;
    }
    void TearDown() override
    {
        ::unsetenv("ORVEX_WINDOWS_ROOT");
        ::unsetenv("ORVEX_LOADER_TEMP");
    }

    int RunSetup(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {})
    {
        return RunProgram(Setup, args, env);
    }
    static std::string Installed(const std::string& name) { return std::string(InstallDir) + "\\" + name; }
    void ExpectInstalled()
    {
        for (const TSourceFile& file : SourceFiles())
            EXPECT_EQ(ReadWin(Installed(file.Name)), file.Data) << file.Name;
        EXPECT_EQ(ReadWin(Installed("uninst.exe")), "uninstall program");
    }
    // Old versions at every destination before a run.
    void SeedOldFiles()
    {
        for (const TSourceFile& file : SourceFiles())
            TTempWindowsRoot::WriteFile(Installed(file.Name), "old " + file.Name);
    }
    void ExpectOldFiles()
    {
        for (const TSourceFile& file : SourceFiles())
            EXPECT_EQ(ReadWin(Installed(file.Name)), "old " + file.Name) << file.Name;
        EXPECT_FALSE(WinFileExists(Installed("uninst.exe")));
    }
    std::vector<std::string> TempFolders()
    {
        std::vector<std::string> folders;
        const std::string temp = NativePath(GetTempDir());
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(temp, ec))
            if (entry.is_directory())
                folders.push_back(entry.path().string());
        return folders;
    }

    TTempWindowsRoot Root;
    std::string Setup;
};

TEST_F(InstallEndToEndTest, BuildGivesSelfExtractingSetupWithTrailer)
{
    const TDistribution& dist = TDistribution::Get();
    const std::string& exe = dist.SetupExe;
    ASSERT_GT(exe.size(), dist.Loader.size() + SelfExtractTrailerSize);
    TSelfExtractTrailer trailer;
    ASSERT_TRUE(DecodeSelfExtractTrailer(
        reinterpret_cast<const std::uint8_t*>(exe.data() + exe.size() - SelfExtractTrailerSize), trailer));
    EXPECT_EQ(trailer.Signature, "SELFEXTRACTING");
    EXPECT_EQ(trailer.SetupFirst, static_cast<Integer>(dist.Loader.size()));
    EXPECT_EQ(exe.substr(0, dist.Loader.size()), dist.Loader);
    EXPECT_EQ(trailer.MainFirst, trailer.SetupLast + 1);
    EXPECT_EQ(trailer.MainLast, static_cast<Integer>(exe.size()) - SelfExtractTrailerSize - 1);
    EXPECT_EQ(exe.substr(exe.size() - 24), std::string(24, '\0'));
    // Both archives read from inside the program, by their offsets.
    TTempWindowsRoot::WriteFile("C:\\X\\setup.exe", exe);
    TDrvnCompress setup(nullptr);
    setup.SetCompressedFile("C:\\X\\setup.exe");
    setup.Offset = trailer.SetupFirst;
    setup.ReadHeaders();
    ASSERT_EQ(setup.FileCount(), 2);
    EXPECT_EQ(setup.Headers().FileHeaders(0)->Record.SourcePath, "C:\\DEV\\setuphost.exe");
    EXPECT_EQ(setup.Headers().FileHeaders(1)->Record.SourcePath, "C:\\DEV\\setup.def");
    TDrvnCompress files(nullptr);
    files.SetCompressedFile("C:\\X\\setup.exe");
    files.Offset = trailer.MainFirst;
    files.ReadHeaders();
    EXPECT_EQ(files.FileCount(), static_cast<int>(SourceFiles().size()) + 1);
}

TEST_F(InstallEndToEndTest, LoaderRunInstallsEverythingAndLeavesNoRecord)
{
    ASSERT_EQ(RunSetup({"-c"}), 0);
    ExpectInstalled();
    // The shared count, the help entry, self-registration.
    EXPECT_EQ(ReadRegInteger(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
                             Installed("app.dll"), -1),
              1);
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Microsoft\\Windows\\Help", "HELP.HLP", ""), InstallDir);
    EXPECT_EQ(SelfRegistrationOf(Installed("app.dll")), "DllRegisterServer");
    // The uninstall key with its values and lists.
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, UninstallKey, "DisplayName", ""), "Orvex Test");
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, UninstallKey, "UninstallString", ""),
              Installed("uninst.exe") + " Orvex Test");
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, UninstallKey, "DisplayVersion", ""), "1.43");
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, UninstallKey, "Publisher", ""), "Orvex");
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, UninstallKey, "HelpLink", "(none)"), "(none)");
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, std::string(UninstallKey) + "\\Files", "Entries", ""), "5");
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, std::string(UninstallKey) + "\\ActiveX", "File1", ""),
              Installed("app.dll") + ";1");
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, std::string(UninstallKey) + "\\RegistryKeys\\RegistryKey1", "Key", ""),
              "\\SOFTWARE\\Orvex\\Test");
    // The registry object's entries: with a specifier "%p" and "%%" expand,
    // without one the text stands as it is.
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Orvex\\Test", "Path", ""),
              "C:\\Program Files\\OrvexTest\\data%1");
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Orvex\\Test", "Name", ""), "Hello%%");
    // No install record and no journal; "-c" removed the loader's folder.
    EXPECT_FALSE(RecordExists());
    EXPECT_TRUE(TempFolders().empty());
    EXPECT_EQ(RestartRequestCount(), 0);

    // A second run updates in place and counts the shared file again.
    ASSERT_EQ(RunSetup({}), 0);
    ExpectInstalled();
    EXPECT_EQ(ReadRegInteger(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
                             Installed("app.dll"), -1),
              2);
    EXPECT_FALSE(RecordExists());
}

TEST_F(InstallEndToEndTest, FileInUseIsReplacedAtTheNextStart)
{
    SeedOldFiles();
    // Another process holds app.dll open, denying writes, as a loaded library is held.
    std::unique_ptr<TPlatformFile> holder = TPlatformFile::Open(
        NativePath(Installed("app.dll")), TFileAccess::Read, TFileShare::DenyWrite, TFileCreate::OpenExisting);
    ASSERT_TRUE(holder);
    ASSERT_EQ(RunSetup({}), 0);
    // Installed under the first numbered name; the original untouched.
    EXPECT_EQ(ReadWin(Installed("app.dll")), "old app.dll");
    EXPECT_EQ(ReadWin(Installed("app.1")), SourceFiles()[0].Data);
    EXPECT_EQ(ReadWin(Installed("big.bin")), SourceFiles()[2].Data);
    const auto renames = PendingDelayedRenames();
    ASSERT_EQ(renames.size(), 1u);
    EXPECT_EQ(renames[0].first, Installed("app.1"));
    EXPECT_EQ(renames[0].second, Installed("app.dll"));
    // The reboot path was taken: the restart asked for and refused.
    EXPECT_EQ(RestartRequestCount(), 1);
    const std::string rerun = ReadRegString(HKEY_CURRENT_USER, RunOnceKey, "DorvaneUnfinished", "");
    EXPECT_NE(rerun.find(" -r \"-esetup.exe\" \"-sC:\\DIST\""), std::string::npos) << rerun;
    EXPECT_TRUE(RecordExists());
    std::vector<TRegValue> work;
    TRegistryStore::Default()->Values(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kelm\\Install\\Install0\\Unfinished", work);
    ASSERT_EQ(work.size(), 1u);
    EXPECT_EQ(work[0].Name.substr(0, 9), "IFapp_dll");
    EXPECT_EQ(work[0].Data, "0");
    // The uninstall list and the shared count name the original.
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, std::string(UninstallKey) + "\\ActiveX", "File1", ""),
              Installed("app.dll") + ";1");
    EXPECT_EQ(SelfRegistrationOf(Installed("app.dll")), "");

    // The machine starts again: the rename, then the setup with "-r".
    holder.reset();
    const std::vector<std::string> done = RunNextStart();
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(ReadWin(Installed("app.dll")), SourceFiles()[0].Data);
    EXPECT_FALSE(WinFileExists(Installed("app.1")));
    EXPECT_EQ(SelfRegistrationOf(Installed("app.dll")), "DllRegisterServer");
    EXPECT_FALSE(RecordExists());
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, RunOnceKey, "DorvaneUnfinished", "(none)"), "(none)");
}

struct TCancelCase {
    const char* Hook;
    const char* Phase;
};

class InstallCancelTest : public InstallEndToEndTest, public ::testing::WithParamInterface<TCancelCase> {};

TEST_P(InstallCancelTest, CancelLeavesFilesAndRegistryAsBefore)
{
    SeedOldFiles();
    WriteRegInteger(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
                    Installed("app.dll"), 4);
    WriteRegString(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Orvex\\Test", "Name", "kept");
    const std::set<std::string> before = DumpRegistry();
    const std::string log = Root.Path() + "/broadcasts.log";
    EXPECT_EQ(RunSetup({"-c"}, {{"ORVEX_SETUP_CANCEL", GetParam().Hook}, {"ORVEX_SETUP_LOG", log}}), 3)
        << GetParam().Phase;
    ExpectOldFiles();
    EXPECT_EQ(DumpRegistry(), before);
    EXPECT_FALSE(RecordExists());
    // The bad-install notifications came.
    const std::string broadcasts = ReadNative(log);
    EXPECT_NE(broadcasts.find("-994\n-978\n"), std::string::npos);
    // No temporary name is left beside a destination.
    for (const auto& entry : fs::directory_iterator(NativePath(InstallDir)))
        EXPECT_EQ(entry.path().extension().string().find(".~"), std::string::npos) << entry.path();
}

INSTANTIATE_TEST_SUITE_P(
    Phases, InstallCancelTest,
    ::testing::Values(TCancelCase{"-980:1", "pages before installing"},
                      TCancelCase{"-992:1", "archive information read"},
                      TCancelCase{"-997:2", "replacing the second file"},
                      TCancelCase{"-998:40", "extracting the big file"},
                      TCancelCase{"-996:7", "after the files"},
                      TCancelCase{"-974:2", "registry phase"}));

TEST_F(InstallEndToEndTest, KilledSetupIsUndoneByTheNextRunOrByR)
{
    SeedOldFiles();
    WriteRegString(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Orvex\\Test", "Name", "kept");
    const std::set<std::string> before = DumpRegistry();
    const std::string marker = Root.Path() + "/paused";
    const std::string pidFile = Root.Path() + "/pid";
    // The setup pauses while extracting big.bin (after app.dll and help.hlp).
    for (int round = 0; round < 2; ++round) {
        fs::remove(marker);
        ::setenv("ORVEX_SETUP_PAUSE", ("-998:40:" + marker).c_str(), 1);
        ::setenv("ORVEX_SETUP_PID", pidFile.c_str(), 1);
        std::uint32_t error = 0;
        auto loader = TChildProcess::Start({Setup, {}, ""}, error);
        ::unsetenv("ORVEX_SETUP_PAUSE");
        ::unsetenv("ORVEX_SETUP_PID");
        ASSERT_TRUE(loader);
        for (int i = 0; i < 2400 && !fs::exists(marker); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_TRUE(fs::exists(marker));
        const int pid = std::stoi(ReadNative(pidFile));
        ::kill(pid, SIGKILL);
        loader->WaitFor(60000);
        // The files in place are whole: old ones, or new ones whose old one is kept aside.
        EXPECT_EQ(ReadWin(Installed("big.bin")), "old big.bin");
        // Files go in the reverse order of their definition: notes.txt came before big.bin.
        EXPECT_EQ(ReadWin(Installed("notes.txt")), SourceFiles()[4].Data);
        EXPECT_EQ(ReadWin(Installed("app.dll")), "old app.dll");
        EXPECT_TRUE(RecordExists());
        // The file being extracted was left half written.
        EXPECT_TRUE(WinFileExists(Installed("big.bin.~tmp")));
        if (round == 0) {
            // "-r" plays the journal back and cleans the record, and says
            // that the installation was not completed.
            std::string setupHost;
            for (const std::string& folder : TempFolders())
                for (const auto& entry : fs::directory_iterator(folder))
                    if (entry.path().filename() == "setuphost.exe")
                        setupHost = entry.path().string();
            ASSERT_FALSE(setupHost.empty());
            EXPECT_EQ(RunProgram(setupHost, {"-r", "-esetup.exe", "-sC:\\DIST"}), 4);
            ExpectOldFiles();
            EXPECT_EQ(DumpRegistry(), before);
            EXPECT_FALSE(RecordExists());
            EXPECT_FALSE(WinFileExists(Installed("big.bin.~tmp")));
            // Of the temporary folder only the loader's folder is left.
            for (const std::string& folder : TempFolders())
                EXPECT_NE(fs::path(folder).filename().string().rfind("LOADER", 0), std::string::npos) << folder;
        }
    }
    // The next run finds the killed run's record, undoes it and installs.
    ASSERT_EQ(RunSetup({}), 0);
    ExpectInstalled();
    for (const auto& entry : fs::directory_iterator(NativePath(InstallDir)))
        EXPECT_EQ(entry.path().extension().string().find(".~"), std::string::npos) << entry.path();
    EXPECT_EQ(ReadRegInteger(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
                             Installed("app.dll"), -1),
              1);
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, std::string(UninstallKey) + "\\Files", "Entries", ""), "5");
    EXPECT_FALSE(RecordExists());
}

TEST_F(InstallEndToEndTest, TransferToRemovableDisks)
{
    const std::string disks = Root.Path() + "/disks";
    const std::string& setupExe = TDistribution::Get().SetupExe;
    TSelfExtractTrailer built;
    DecodeSelfExtractTrailer(
        reinterpret_cast<const std::uint8_t*>(setupExe.data() + setupExe.size() - SelfExtractTrailerSize), built);
    // Disk 1 holds the loader, the setup archive and a little of the main one.
    const std::int64_t capacity = built.SetupLast + 1 + SelfExtractTrailerSize + 2 * 1024 * 1024;
    fs::create_directories(NativePath("A:\\"));
    const int exit = RunSetup({"-f"}, {{"ORVEX_SETUP_DISKS", disks}, {"ORVEX_SETUP_FLOPPY", std::to_string(capacity)}});
    ASSERT_EQ(exit, 0);
    // The disk still in the drive goes back to its place among the others.
    int current = 1;
    if (fs::exists(disks + "/current"))
        current = std::stoi(ReadNative(disks + "/current"));
    const std::string slot = disks + "/disk" + std::to_string(current);
    fs::create_directories(slot);
    for (const auto& entry : fs::directory_iterator(NativePath("A:\\")))
        fs::rename(entry.path(), slot + "/" + entry.path().filename().string());
    // Disk 1 holds the loader and the setup archive.
    const std::string& exe = TDistribution::Get().SetupExe;
    TSelfExtractTrailer trailer;
    DecodeSelfExtractTrailer(reinterpret_cast<const std::uint8_t*>(exe.data() + exe.size() - SelfExtractTrailerSize),
                             trailer);
    const std::string disk1 = disks + "/disk1";
    const std::string plain = ReadNative(disk1 + "/setup.exe");
    ASSERT_EQ(plain.size(), static_cast<std::size_t>(trailer.SetupFirst) + SelfExtractTrailerSize);
    EXPECT_EQ(plain.substr(0, trailer.SetupFirst), exe.substr(0, trailer.SetupFirst));
    EXPECT_EQ(plain.substr(plain.size() - 56, 15), std::string("\x0ENOTSELFEXTRACT"));
    EXPECT_EQ(ReadNative(disk1 + "/setup.1"),
              exe.substr(trailer.SetupFirst, trailer.SetupLast - trailer.SetupFirst + 1));
    // Gather the parts and extract every file from them.
    int diskCount = 0;
    while (fs::exists(disks + "/disk" + std::to_string(diskCount + 1)))
        ++diskCount;
    ASSERT_GE(diskCount, 2);
    TTempWindowsRoot::MakeFolder("C:\\PARTS");
    for (int d = 1; d <= diskCount; ++d) {
        std::int64_t used = 0;
        for (const auto& entry : fs::directory_iterator(disks + "/disk" + std::to_string(d))) {
            used += static_cast<std::int64_t>(entry.file_size());
            if (entry.path().filename().string().rfind("files.", 0) == 0)
                fs::copy_file(entry.path(), NativePath("C:\\PARTS") + "/" + entry.path().filename().string());
        }
        EXPECT_LE(used, capacity);
    }
    TDrvnCompress parts(nullptr);
    parts.SetCompressedFile("C:\\PARTS\\files.1");
    parts.ExtractDirectory = "C:\\OUT";
    parts.ReadHeaders();
    for (int i = 0; i < parts.FileCount(); ++i)
        parts.FilesToProcess()->Add(parts.Headers().FileHeaders(i)->Record.SourcePath);
    parts.Extract();
    for (const TSourceFile& file : SourceFiles())
        EXPECT_EQ(ReadWin("C:\\OUT\\" + file.Name), file.Data) << file.Name;
}

TEST_F(InstallEndToEndTest, TransferWithoutTheLoaderIsRefused)
{
    // The setup program started directly, not by the loader: "-f" needs "-e".
    TTempWindowsRoot::WriteFile("C:\\DEV\\setup.def", SetupDef());
    fs::copy_file(ORVEX_SETUP_HOST, NativePath("C:\\DEV\\setuphost.exe"));
    fs::permissions(NativePath("C:\\DEV\\setuphost.exe"), fs::perms::owner_all);
    EXPECT_EQ(RunProgram(NativePath("C:\\DEV\\setuphost.exe"), {"-f"}), 4);
}

// ------------------------------------------------------------ the kill test

// The files (relative path and contents) and the registry of a machine.
struct TMachineState {
    std::map<std::string, std::string> Files;
    std::set<std::string> Registry;
    bool operator==(const TMachineState&) const = default;
};

std::string Describe(const TMachineState& state)
{
    std::string text;
    for (const auto& [path, data] : state.Files)
        text += "  " + path + " (" + std::to_string(data.size()) + " bytes)\n";
    text += "  " + std::to_string(state.Registry.size()) + " registry lines\n";
    return text;
}

// Kills the setup at random moments of a fresh install and of an update,
// then runs it again (every other round with "-r" first): the machine ends
// as an uninterrupted run leaves it, with no install record, backup or
// temporary file. The setup program is started as the loader starts it
// (with "-e" and "-s"), from a folder of its own, reading the archive from
// the self-extracting setup.
class InstallKillTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const TDistribution& dist = TDistribution::Small();
        ASSERT_EQ(dist.BuildExit, 0);
        ::setenv("ORVEX_WINDOWS_ROOT", Root.Path().c_str(), 1);
        fs::create_directories(Root.Path() + "/d/DIST");
        if (fs::exists(dist.Cached))
            fs::create_symlink(dist.Cached, Root.Path() + "/d/DIST/setup.exe");
        else
            std::ofstream(Root.Path() + "/d/DIST/setup.exe", std::ios::binary) << dist.SetupExe;
        TTempWindowsRoot::MakeFolder("C:\\RUN");
        Program = NativePath("C:\\RUN\\setuphost.exe");
        fs::copy_file(ORVEX_SETUP_HOST, Program);
        fs::permissions(Program, fs::perms::owner_all);
        TTempWindowsRoot::WriteFile("C:\\RUN\\setup.def", SetupDef(SmallFiles()));
        if (const char* rounds = std::getenv("ORVEX_KILL_ROUNDS"))
            Rounds = std::max(1, std::atoi(rounds));
        Seed = static_cast<unsigned>(std::time(nullptr));
        if (const char* seed = std::getenv("ORVEX_KILL_SEED"))
            Seed = static_cast<unsigned>(std::strtoul(seed, nullptr, 10));
        Reset();
    }
    void TearDown() override { ::unsetenv("ORVEX_WINDOWS_ROOT"); }

    // Everything but the setup program and the distribution goes.
    void Reset()
    {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(Root.Path())) {
            const std::string name = entry.path().filename().string();
            if (name == "d" || name == "base")
                continue;
            if (name != "c") {
                fs::remove_all(entry.path(), ec);
                continue;
            }
            for (const auto& inner : fs::directory_iterator(entry.path()))
                if (inner.path().filename() != "RUN")
                    fs::remove_all(inner.path(), ec);
        }
        TTempWindowsRoot::MakeFolder(GetTempDir());
    }
    // Keeps the machine as it is (but the setup program) as the base of the
    // rounds, and puts it back: quicker than running the setup again.
    void SaveBase()
    {
        CopyTree(Root.Path(), Root.Path() + "/base", {"d", "base", "RUN"});
    }
    void RestoreBase() { CopyTree(Root.Path() + "/base", Root.Path(), {}); }
    static void CopyTree(const fs::path& from, const fs::path& to, const std::set<std::string>& skip)
    {
        fs::create_directories(to);
        for (const auto& entry : fs::directory_iterator(from)) {
            const std::string name = entry.path().filename().string();
            if (skip.count(name))
                continue;
            if (entry.is_directory()) {
                CopyTree(entry.path(), to / name, skip);
            } else if (entry.is_regular_file()) {
                fs::copy_file(entry.path(), to / name, fs::copy_options::overwrite_existing);
                fs::last_write_time(to / name, fs::last_write_time(entry.path()));
            }
        }
    }
    std::vector<std::string> Args(std::vector<std::string> args) const
    {
        args.push_back("-esetup.exe");
        args.push_back("-sD:\\DIST");
        return args;
    }
    int Run(const std::vector<std::string>& args = {}) { return RunProgram(Program, Args(args)); }
    TMachineState Snapshot()
    {
        TMachineState state;
        const fs::path c = Root.Path() + "/c";
        for (auto it = fs::recursive_directory_iterator(c); it != fs::recursive_directory_iterator(); ++it) {
            const std::string relative = fs::relative(it->path(), c).string();
            if (relative == "RUN") {
                it.disable_recursion_pending();
                continue;
            }
            if (it->is_regular_file() || it->is_symlink())
                state.Files[relative] = ReadNative(it->path().string());
        }
        state.Registry = DumpRegistry();
        // The records' parent key stays once made (only "Install" below it goes).
        state.Registry.erase(std::to_string(HKEY_LOCAL_MACHINE) + " SOFTWARE");
        return state;
    }
    // Whether a record names the journal of a run that had not ended (one
    // whose journal ends with "C" had ended well and was dropping its backups).
    bool RunUnfinished()
    {
        std::vector<std::string> records;
        TRegistryStore::Default()->SubKeyNames(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kelm\\Install", records);
        for (const std::string& record : records) {
            const std::string journal =
                ReadRegString(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Kelm\\Install\\" + record, "Journal", "");
            if (journal.empty())
                continue;
            const std::string text = ReadWin(journal);
            if (text.size() < 2 || text.substr(text.size() - 2) != "C\n")
                return true;
        }
        return false;
    }

    void KillRounds(int installedBefore)
    {
        // The machine after 0, 1, 2 and 3 uninterrupted runs.
        std::vector<TMachineState> after;
        std::int64_t slowest = 0;
        Reset();
        after.push_back(Snapshot());
        if (installedBefore == 0)
            SaveBase();
        for (int run = 1; run <= installedBefore + 2; ++run) {
            const auto start = std::chrono::steady_clock::now();
            ASSERT_EQ(Run(), 0);
            slowest = std::max<std::int64_t>(slowest, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                          std::chrono::steady_clock::now() - start)
                                                          .count());
            after.push_back(Snapshot());
            ASSERT_FALSE(RecordExists());
            if (run == installedBefore)
                SaveBase();
        }
        ASSERT_NE(after[installedBefore + 1], after[installedBefore]);
        std::mt19937 random(Seed + static_cast<unsigned>(installedBefore));
        std::uniform_int_distribution<std::int64_t> moment(0, slowest + slowest / 5);
        for (int round = 0; round < Rounds; ++round) {
            Reset();
            if (installedBefore > 0) {
                RestoreBase();
                ASSERT_EQ(Snapshot(), after[installedBefore]);
            }
            const std::int64_t killAt = moment(random);
            SCOPED_TRACE("round " + std::to_string(round) + ", killed after " + std::to_string(killAt) +
                         " ms (ORVEX_KILL_SEED=" + std::to_string(Seed) + ")");
            std::uint32_t error = 0;
            auto child = TChildProcess::Start({Program, Args({}), ""}, error);
            ASSERT_TRUE(child);
            std::this_thread::sleep_for(std::chrono::milliseconds(killAt));
            ::kill(child->ProcessId(), SIGKILL);
            child->WaitFor(60000);
            const bool unfinished = RunUnfinished();
            if (round % 2 == 1) {
                // "-r" tells what happened: an unfinished run is undone and
                // reported as failed; a finished one completes.
                const int exit = Run({"-r"});
                const TMachineState state = Snapshot();
                EXPECT_FALSE(RecordExists());
                if (unfinished) {
                    EXPECT_EQ(exit, 4);
                    EXPECT_EQ(state.Files, after[installedBefore].Files) << Describe(state);
                    EXPECT_EQ(state.Registry, after[installedBefore].Registry);
                    // The folders it made went with the files.
                    if (installedBefore == 0) {
                        EXPECT_FALSE(WinDirectoryExists("C:\\Program Files\\OrvexTest"));
                    }
                } else if (exit == 0) {
                    EXPECT_EQ(state, after[installedBefore + 1]) << Describe(state);
                } else {
                    EXPECT_EQ(exit, 4);
                    EXPECT_TRUE(state.Files == after[installedBefore].Files ||
                                state.Files == after[installedBefore + 1].Files)
                        << Describe(state);
                }
            }
            ASSERT_EQ(Run(), 0);
            const TMachineState state = Snapshot();
            EXPECT_FALSE(RecordExists());
            if (unfinished)
                EXPECT_EQ(state, after[installedBefore + 1]) << Describe(state);
            else
                EXPECT_TRUE(state == after[installedBefore + 1] || state == after[installedBefore + 2])
                    << Describe(state);
            if (HasFailure())
                break;
        }
    }

    TTempWindowsRoot Root;
    std::string Program;
    int Rounds = 10;
    unsigned Seed = 0;
};

TEST_F(InstallKillTest, AKilledFreshInstallEndsAsAnUninterruptedOne)
{
    KillRounds(0);
}

TEST_F(InstallKillTest, AKilledUpdateEndsAsAnUninterruptedOne)
{
    KillRounds(1);
}

} // namespace
} // namespace orvex
