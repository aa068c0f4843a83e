// Install files, registry objects, the uninstall entry and the install
// component's run, in one process on a fresh emulated machine per test.

#include "host/forms/Backend.h"
#include "host/forms/Forms.h"
#include "host/forms/Headless.h"
#include "installer/cmp_TDrvnCompress.h"
#include "installer/cmp_TInstall.h"
#include "installer/cmp_TInstallContainer.h"
#include "installer/cmp_TInstallRegistry.h"
#include "installer/cmp_TNetInstallLocation.h"
#include "installer/cmp_TUninstallEXE.h"
#include "installer/exceptions_Dorvane.h"
#include "installer/routines_API.h"
#include "installer/routines_Registry.h"
#include "installer/routines_Strings.h"
#include "installer/routines_win2k.h"
#include "platform/FileIO.h"
#include "platform/Registry.h"
#include "platform/WinNextStart.h"
#include "tests/platform/WinSystemTempRoot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace orvex {
namespace {

std::string ReadWin(const std::string& winPath)
{
    std::ifstream in(NativePath(winPath), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

const char* const SharedKey = "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const char* const UninstallKey = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvex";

// Hears the broadcasts as a dialog object does.
class TRecorder : public TInstallObject {
public:
    using TInstallObject::TInstallObject;
    Integer KindCode() const override { return kcDialog; }
    void ReceiveMessage(TObject*, Integer code, TObject*) override
    {
        Codes.push_back(code);
        if (OnCode)
            OnCode(code);
    }
    std::function<void(Integer code)> OnCode;
    int Count(Integer code) const { return static_cast<int>(std::count(Codes.begin(), Codes.end(), code)); }
    std::vector<Integer> Codes;
};

class InstallRunTest : public ::testing::Test {
protected:
    explicit InstallRunTest(TWinEdition edition = TWinEdition::WinXP) : Root(edition)
    {
        TTempWindowsRoot::MakeFolder(GetTempDir());
        TTempWindowsRoot::MakeFolder(GetWindowsDir());
        Install = new TInstall(Form);
        Install->SetName("Install");
        Install->Information()->ProductName = "Orvex";
        Install->SetDestDir("\\Orvex");
        Install->ProgramPath = TTempWindowsRoot::WriteFile("C:\\DIST\\setup.exe", "setup program") == ""
                                   ? ""
                                   : "C:\\DIST\\setup.exe";
        Install->SourceDirectory = "C:\\BUILD";
        Install->OptSource = "C:\\BUILD";
        Install->RunAutomatic = false;
        Dir = new TInstallDirectory(Form);
        Dir->SetName("Bin");
        Dir->SetContainer(Install);
        Dir->SetDestDir("\\bin");
        Recorder = new TRecorder(Form);
        Recorder->SetName("Recorder");
        Recorder->SetContainer(Install);
    }
    ~InstallRunTest() override
    {
        delete Form;
        SetDelayedRenamesAllowed(true);
    }

    TInstallFile* AddFile(const std::string& name, const std::string& data)
    {
        TTempWindowsRoot::WriteFile("C:\\SRC\\" + name, data);
        auto* file = new TInstallFile(Form);
        file->SetName(InstallFileComponentName(Form, name));
        file->SetContainer(Dir);
        file->SetIncludeFromDir("C:\\SRC");
        file->SetFileName(name);
        return file;
    }
    // Builds files.1 into C:\BUILD (a program without loader).
    void Build()
    {
        Install->SetUseLoadingProgram(false);
        Install->Build(Install->ProgramPath, "C:\\BUILD", false);
        Install->SetUseLoadingProgram(true);
    }
    std::string Dest(const std::string& name) { return "C:\\Program Files\\Orvex\\bin\\" + name; }
    std::string ErrorOf(const std::function<void()>& action)
    {
        try {
            action();
        } catch (const Exception& e) {
            return e.Message();
        }
        return "(no error)";
    }

    TTempWindowsRoot Root;
    TForm* Form = new TForm(nullptr);
    TInstall* Install = nullptr;
    TInstallDirectory* Dir = nullptr;
    TRecorder* Recorder = nullptr;
};

// ------------------------------------------------------------ install files

TEST_F(InstallRunTest, ValidationByNameTypeAndDestination)
{
    auto* help = AddFile("guide.hlp", "help");
    EXPECT_TRUE(help->RegisterAsHelp);
    EXPECT_FALSE(help->ActiveX());
    EXPECT_EQ(help->DestName, "guide.hlp");
    auto* ocx = AddFile("grid.ocx", "ocx");
    EXPECT_TRUE(ocx->ActiveX());
    EXPECT_EQ(ocx->FileType, iftSystemWideDLL);
    EXPECT_EQ(ocx->OverwriteMode, owVersionDate);
    EXPECT_TRUE(ocx->UpdateDLLCounter);
    EXPECT_EQ(ocx->DestinationDirectory(), GetSystemDir());
    auto* dll = AddFile("tool.dll", "dll");
    dll->SetFileType(iftApplicationSpecificDLL);
    EXPECT_EQ(dll->OverwriteMode, owVersionDate);
    EXPECT_FALSE(dll->UpdateDLLCounter);
    EXPECT_EQ(dll->DestinationDirectory(), "C:\\Program Files\\Orvex\\System");
    dll->SetFileType(iftVendorSharedDLL);
    EXPECT_TRUE(dll->UpdateDLLCounter);
    EXPECT_EQ(dll->DestinationDirectory(), "C:\\Program Files\\Common Files\\System");
    // A second file of the same source in the container is refused.
    auto* twin = new TInstallFile(Form);
    twin->SetName("Twin");
    twin->SetIncludeFromDir("C:\\SRC");
    twin->SetFileName("guide.hlp");
    EXPECT_EQ(ErrorOf([&] { twin->SetContainer(Dir); }), "There is already a file with the name :C:\\SRC\\guide.hlp");
}

TEST_F(InstallRunTest, InstallsRegistersAndListsEveryFile)
{
    auto* lib = AddFile("shared.dll", "library");
    lib->UpdateDLLCounter = true;
    std::vector<Integer> percents;
    lib->OnStatus = [&percents](TObject*, Integer filePercent, Integer) { percents.push_back(filePercent); };
    AddFile("types.tlb", "type library");
    auto* help = AddFile("guide.hlp", "help");
    auto* empty = AddFile("empty.txt", "");
    Build();
    // A count that exists is incremented.
    WriteRegInteger(HKEY_LOCAL_MACHINE, SharedKey, Dest("shared.dll"), 5);
    Install->InstallTree();
    EXPECT_EQ(ReadWin(Dest("shared.dll")), "library");
    EXPECT_EQ(ReadWin(Dest("empty.txt")), "");
    ASSERT_FALSE(percents.empty());
    EXPECT_EQ(percents.back(), 100);
    EXPECT_EQ(ReadRegInteger(HKEY_LOCAL_MACHINE, SharedKey, Dest("shared.dll"), -1), 6);
    // A type library is a system-wide ActiveX file: the system folder, counted.
    const std::string tlb = GetSystemDir() + "\\types.tlb";
    EXPECT_EQ(ReadWin(tlb), "type library");
    EXPECT_EQ(ReadRegInteger(HKEY_LOCAL_MACHINE, SharedKey, tlb, -1), 1);
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Microsoft\\Windows\\Help", "GUIDE.HLP", ""),
              "C:\\Program Files\\Orvex\\bin");
    // Type libraries are registered as such, never by a register-server entry.
    EXPECT_EQ(SelfRegistrationOf(tlb), "TypeLib;" + GetSystemDir());
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, std::string(UninstallKey) + "\\ActiveX", "File1", ""), tlb + ";2");
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, std::string(UninstallKey) + "\\Files", "Entries", ""), "3");
    // OnReplacing and -997 come for every copied file, also where nothing existed.
    EXPECT_GE(Recorder->Count(bmReplacing), 4);
    EXPECT_TRUE(help->ToBeCopied);

    // The second time: the existing count goes up; a skipped file still counts
    // and registers as help.
    WriteRegString(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Microsoft\\Windows\\Help", "GUIDE.HLP", "gone");
    help->OverwriteMode = owNever;
    lib->OverwriteMode = owNever;
    TTempWindowsRoot::WriteFile(Dest("shared.dll"), "newer local copy");
    Install->Processed = false;
    Dir->Processed = false;
    Install->InstallTree();
    // Setting the state to install runs one file's step.
    TTempWindowsRoot::WriteFile(Dest("empty.txt"), "changed");
    empty->SetState(ifsInstall);
    EXPECT_EQ(ReadWin(Dest("empty.txt")), "");
    EXPECT_EQ(empty->State, ifsNone);
    EXPECT_EQ(ReadWin(Dest("shared.dll")), "newer local copy");
    EXPECT_EQ(ReadRegInteger(HKEY_LOCAL_MACHINE, SharedKey, Dest("shared.dll"), -1), 7);
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Microsoft\\Windows\\Help", "GUIDE.HLP", ""),
              "C:\\Program Files\\Orvex\\bin");
}

TEST_F(InstallRunTest, RefusedDelayedRenameGoesThroughABatchFileRunOnce)
{
    AddFile("core.dll", "new core");
    Build();
    TTempWindowsRoot::WriteFile(Dest("core.dll"), "old core");
    TTempWindowsRoot::WriteFile(Dest("core.1"), "someone else's");
    auto holder = TPlatformFile::Open(NativePath(Dest("core.dll")), TFileAccess::Read, TFileShare::DenyWrite,
                                      TFileCreate::OpenExisting);
    SetDelayedRenamesAllowed(false);
    std::string key;
    ASSERT_TRUE(Install->FindInstallRecord(true, key));
    Install->RecordKeyPath = key;
    Install->InstallTree();
    EXPECT_TRUE(Install->Reboot);
    EXPECT_EQ(ReadWin(Dest("core.2")), "new core");
    EXPECT_EQ(ReadWin(Dest("core.1")), "someone else's");
    const std::string batch = ReadRegString(HKEY_CURRENT_USER, RunOnceKey, "DorvaneBatFile", "");
    ASSERT_FALSE(batch.empty());
    const std::string q = "\"";
    EXPECT_EQ(ReadWin(batch), "erase " + q + Dest("core.dll") + q + "\r\nmove " + q + Dest("core.2") + q + " " + q +
                                  Dest("core.dll") + q + "\r\n");
    TStringList work;
    Install->ReadUnfinished(&work);
    EXPECT_EQ(work.Count(), 2);
    // The batch file is the one temporary file: no other name was taken for it.
    std::vector<std::string> temp = FolderEntries(NativePath(GetTempDir()));
    EXPECT_EQ(temp, std::vector<std::string>{WinExtractFileName(batch)});
    EXPECT_EQ(UpperCase(batch.substr(batch.size() - 4)), ".BAT");
    holder.reset();
    RunNextStart();
    EXPECT_EQ(ReadWin(Dest("core.dll")), "new core");
    EXPECT_FALSE(WinFileExists(Dest("core.2")));
}

class InstallRunWin95Test : public InstallRunTest {
protected:
    InstallRunWin95Test() : InstallRunTest(TWinEdition::Win98) {}
};

TEST_F(InstallRunWin95Test, InUseFileIsRenamedThroughWinInit)
{
    auto* help = AddFile("guide.hlp", "new help");
    Build();
    TTempWindowsRoot::WriteFile(Dest("guide.hlp"), "old help");
    auto holder = TPlatformFile::Open(NativePath(Dest("guide.hlp")), TFileAccess::Read, TFileShare::DenyWrite,
                                      TFileCreate::OpenExisting);
    std::string key;
    ASSERT_TRUE(Install->FindInstallRecord(true, key));
    Install->RecordKeyPath = key;
    Install->InstallTree();
    EXPECT_TRUE(help->InUse);
    EXPECT_EQ(ReadWin(Dest("guide.1")), "new help");
    const auto section = GetPrivateProfileSection("Rename", GetWindowsDir() + "\\WININIT.INI");
    ASSERT_EQ(section.size(), 1u);
    EXPECT_EQ(section[0], Dest("guide.hlp") + "=" + Dest("guide.1"));
    // The help registration and the uninstall list keep the file's own name.
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Microsoft\\Windows\\Help", "GUIDE.HLP", ""),
              "C:\\Program Files\\Orvex\\bin");
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Microsoft\\Windows\\Help", "GUIDE.1", "(none)"), "(none)");
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, std::string(UninstallKey) + "\\Files", "File1", ""), Dest("guide.hlp"));
    holder.reset();
    RunNextStart();
    EXPECT_EQ(ReadWin(Dest("guide.hlp")), "new help");
}

// ------------------------------------------------------------ registry objects

TEST_F(InstallRunTest, RegistryObjectsWriteTheirEntriesAndListThem)
{
    auto* first = new TInstallRegistry(Form);
    first->SetName("First");
    first->SetContainer(Install);
    first->SetKey("\\SOFTWARE\\Orvex\\Paths\\");
    TRegistryEntry* path = first->Entries()->Add();
    path->Ident = "Home";
    path->SetPathSpecifier(StandardPathSpecList()->FindByClass(&TpsProgramFiles::ClassInfo));
    EXPECT_EQ(path->Text(), "%p");
    path->SetText("%p\\Orvex %% 100%%");
    TRegistryEntry* refused = first->Entries()->Add();
    refused->Ident = "Refused";
    refused->SetText("never");
    TRegistryEntry* number = first->Entries()->Add();
    number->Ident = "Count";
    number->SetInteger(7);
    first->OnBeforeWriteEntry = [](TObject*, TRegistryEntry* entry, bool& write) { write = entry->Ident != "Refused"; };
    auto* second = new TInstallRegistry(Form);
    second->SetName("Second");
    second->SetContainer(Install);
    second->SetKeySpecifierType(ksVersion);
    second->RootKey = hkCurrentUser;
    second->SetKeySpecifierType(ksVersion);
    TRegistryEntry* flag = second->Entries()->Add();
    flag->Ident = "On";
    flag->SetBoolean(true);
    EXPECT_EQ(second->RootKey, hkLocalMachine);
    EXPECT_EQ(second->KeyPath(), "\\SOFTWARE\\My Company\\Orvex\\1.0");

    Install->RunPhase(kcRegistry, "Installing registry keys...");
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Orvex\\Paths", "Home", ""),
              "C:\\Program Files\\Orvex % 100%");
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Orvex\\Paths", "Refused", "(none)"), "(none)");
    EXPECT_EQ(ReadRegInteger(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Orvex\\Paths", "Count", 0), 7);
    EXPECT_EQ(ReadRegInteger(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\My Company\\Orvex\\1.0", "On", 0), 1);
    const std::string list = std::string(UninstallKey) + "\\RegistryKeys";
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, list, "Entries", ""), "2");
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, list + "\\RegistryKey1", "Key", ""), "\\SOFTWARE\\Orvex\\Paths");
    EXPECT_EQ(ReadRegInteger(HKEY_LOCAL_MACHINE, list + "\\RegistryKey1", "Root", -1), 4);
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, list + "\\RegistryKey1\\Entries", "Home", ""),
              "C:\\Program Files\\Orvex % 100%");
    // A refused entry is not listed: uninstalling must not delete what was not written.
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, list + "\\RegistryKey1\\Entries", "Refused", "(none)"), "(none)");
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, list + "\\RegistryKey2", "Key", ""),
              "\\SOFTWARE\\My Company\\Orvex\\1.0");
}

// ------------------------------------------------------------ the uninstall entry

TEST_F(InstallRunTest, UninstallEntryWritesOnlyWhatIsThere)
{
    TTempWindowsRoot::WriteFile("C:\\SRC\\uninst.exe", "u");
    auto* uninstall = new TUninstallEXE(Form);
    uninstall->SetName("Uninstall");
    uninstall->SetContainer(Dir);
    uninstall->SetIncludeFromDir("C:\\SRC");
    uninstall->SetFileName("uninst.exe");
    auto* readme = AddFile("readme.txt", "r");
    auto* icon = AddFile("app.ico", "i");
    Install->win2KExtendedInformation()->ReadMe = readme;
    Install->win2KExtendedInformation()->DisplayIcon = icon;
    Install->win2KExtendedInformation()->Comments = "Embedded database";
    readme->Include = false;
    icon->Processed = true;
    Install->Information()->ProductName = "";
    uninstall->RegOwner = "Owner";
    uninstall->WriteUninstallInfo(UninstallKeyPrefix);
    const std::string key = UninstallKeyPrefix;
    std::vector<TRegValue> values;
    TRegistryStore::Default()->Values(HKEY_LOCAL_MACHINE, key, values);
    std::vector<std::string> names;
    for (const TRegValue& value : values)
        names.push_back(value.Name);
    EXPECT_EQ(names, (std::vector<std::string>{"DisplayName", "UninstallString", "Comments", "DisplayIcon",
                                               "DisplayVersion", "Publisher", "RegOwner"}));
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, key, "DisplayName", "(none)"), "");
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, key, "UninstallString", ""),
              "C:\\Program Files\\Orvex\\bin\\uninst.exe ");
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, key, "DisplayIcon", ""), Dest("app.ico"));

    // Without names of its own the entry takes the machine's registered ones.
    DeleteRegKey(HKEY_LOCAL_MACHINE, key);
    WriteRegString(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "RegisteredOwner",
                   "Machine Owner");
    WriteRegString(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                   "RegisteredOrganization", "Machine Company");
    WriteRegString(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "RegisteredOwner",
                   "Windows 9x Owner");
    uninstall->RegOwner.clear();
    uninstall->WriteUninstallInfo(UninstallKeyPrefix);
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, key, "RegOwner", ""), "Machine Owner");
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, key, "RegCompany", ""), "Machine Company");
    uninstall->RegCompany = "Given Company";
    uninstall->WriteUninstallInfo(UninstallKeyPrefix);
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, key, "RegCompany", ""), "Given Company");
    delete uninstall;
    EXPECT_FALSE(Install->BuildInfo.AddUninstallOnCreate);
}

// ------------------------------------------------------------ the run

TEST_F(InstallRunTest, CommandLineParameters)
{
    Install->CommandLine = {"-b", "*x", "-eSETUP.EXE", "-SC:\\Dist", "-c", "-n", "-R"};
    Install->ReadCommandLine();
    EXPECT_TRUE(Install->OptBuild);
    EXPECT_TRUE(Install->StartedBySelfExtractor);
    EXPECT_EQ(Install->SelfExtractorName, "SETUP.EXE");
    EXPECT_EQ(Install->OptSource, "C:\\Dist");
    EXPECT_TRUE(Install->OptCleanup && Install->OptClearUnfinished && Install->OptAfterReboot);
    for (const char* bad : {"-x", "x", "-", "/b"}) {
        Install->CommandLine = {bad};
        EXPECT_EQ(ErrorOf([&] { Install->ReadCommandLine(); }),
                  std::string("Invalid parameter <") + bad +
                      ">. Valid command line parameters are: -b (Build), -d (Debug), -f (Transfer to floppies), -e "
                      "(Called by self-extractor), -r (After reboot)");
    }
}

TEST_F(InstallRunTest, InstallRecordAndUnfinishedWork)
{
    EXPECT_EQ(ErrorOf([&] { Install->AddWorkItem("x", 0); }),
              "The TInstall could not either write or read unfinished business from the registry");
    std::string key;
    EXPECT_FALSE(Install->FindInstallRecord(false, key));
    ASSERT_TRUE(Install->FindInstallRecord(true, key));
    EXPECT_EQ(key, "\\SOFTWARE\\Kelm\\Install\\Install0");
    const double first = ReadRegInteger(HKEY_LOCAL_MACHINE, key, "Size", 0);
    EXPECT_EQ(first, 13);
    std::string again;
    ASSERT_TRUE(Install->FindInstallRecord(false, again));
    EXPECT_EQ(again, key);
    // Another program (another size) gets the next record.
    TTempWindowsRoot::WriteFile("C:\\DIST\\other.exe", "another setup program");
    Install->ProgramPath = "C:\\DIST\\other.exe";
    ASSERT_TRUE(Install->FindInstallRecord(true, again));
    EXPECT_EQ(again, "\\SOFTWARE\\Kelm\\Install\\Install1");
    Install->RecordKeyPath = again;
    Install->AddWorkItem("IFcore_dll", 0);
    Install->AddWorkItem("C:\\TEMP\\x.bat", 1);
    TStringList work;
    Install->ReadUnfinished(&work);
    EXPECT_EQ(work.CommaText(), "IFcore_dll;0,C:\\TEMP\\x.bat;1");
    WriteRegString(HKEY_LOCAL_MACHINE, again + "\\Unfinished", "bad", "7");
    EXPECT_EQ(ErrorOf([&] { Install->ReadUnfinished(&work); }),
              "There is an invalid entry for the unfinished install list bad");
    // Deleting the records removes the install key and "\Software\Dorvane",
    // leaving the parent of the install key.
    TRegistryStore::Default()->CreateKey(HKEY_LOCAL_MACHINE, "Software\\Dorvane");
    Install->DeleteInstallRecord();
    Install->RecordKeyPath = key;
    Install->DeleteInstallRecord();
    auto store = TRegistryStore::Default();
    EXPECT_FALSE(store->KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kelm\\Install"));
    EXPECT_FALSE(store->KeyExists(HKEY_LOCAL_MACHINE, "Software\\Dorvane"));
    EXPECT_TRUE(store->KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kelm"));
}

TEST_F(InstallRunTest, RunWithoutRecordIgnoresClearAndEndsWell)
{
    AddFile("a.txt", "a");
    Build();
    Install->CommandLine = {"-n", "-sC:\\BUILD"};
    Install->ReadCommandLine();
    Install->Install();
    EXPECT_FALSE(Install->BadEndHandled());
    EXPECT_EQ(ReadWin(Dest("a.txt")), "a");
    EXPECT_FALSE(TRegistryStore::Default()->KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kelm\\Install"));
    const auto& codes = Recorder->Codes;
    auto at = [&](Integer code) { return std::find(codes.begin(), codes.end(), code) - codes.begin(); };
    EXPECT_LT(at(bmBeforeReadArchive), at(bmAfterReadArchive));
    EXPECT_LT(at(bmInstallStarts), at(bmBeforeInstall));
    EXPECT_LT(at(bmBeforeInstall), at(bmBeforeGoodInstall));
    EXPECT_EQ(Recorder->Count(bmAfterGoodInstall), 1);
    EXPECT_EQ(Recorder->Count(bmAfterBadInstall), 0);
}

TEST_F(InstallRunTest, ClearedRebootStillEndsTheProgramWithoutRestart)
{
    AddFile("core.dll", "new");
    Build();
    TTempWindowsRoot::WriteFile(Dest("core.dll"), "old");
    auto holder = TPlatformFile::Open(NativePath(Dest("core.dll")), TFileAccess::Read, TFileShare::DenyWrite,
                                      TFileCreate::OpenExisting);
    Install->OnBeforeReboot = [](TObject*, bool& reboot) { reboot = false; };
    Install->Install();
    EXPECT_FALSE(Install->BadEndHandled());
    EXPECT_EQ(Recorder->Count(bmReboot), 1);
    EXPECT_EQ(RestartRequestCount(), 0);
    EXPECT_TRUE(Application->Terminated());
    EXPECT_NE(ReadRegString(HKEY_CURRENT_USER, RunOnceKey, "DorvaneUnfinished", ""), "");
    dynamic_cast<THeadlessBackend&>(FormsBackend()).Reset();
}

TEST_F(InstallRunTest, RebootAskedForOnlyWhileTheFlagStaysSet)
{
    AddFile("core.dll", "new");
    Build();
    for (const bool decline : {true, false}) {
        TTempWindowsRoot::WriteFile(Dest("core.dll"), "old");
        auto holder = TPlatformFile::Open(NativePath(Dest("core.dll")), TFileAccess::Read, TFileShare::DenyWrite,
                                          TFileCreate::OpenExisting);
        // The reboot page's "No" clears the flag.
        Recorder->OnCode = [this, decline](Integer code) {
            if (code == bmReboot && decline)
                Install->Reboot = false;
        };
        bool failed = false;
        Install->OnFailedReboot = [&failed](TObject*) { failed = true; };
        Install->Install();
        EXPECT_EQ(RestartRequestCount(), decline ? 0 : 1);
        EXPECT_EQ(failed, !decline);
        dynamic_cast<THeadlessBackend&>(FormsBackend()).Reset();
    }
}

TEST_F(InstallRunTest, CleanupRemovesOnlyTheLoadersTemporaryFolder)
{
    Install->OptCleanup = true;
    // A program outside the temporary folder keeps its folder.
    Install->RemoveTempFiles();
    EXPECT_TRUE(WinFileExists("C:\\DIST\\setup.exe"));
    const std::string temp = GetTempDir() + "\\LOADER1";
    TTempWindowsRoot::WriteFile(temp + "\\setup.exe", "setup");
    TTempWindowsRoot::WriteFile(temp + "\\setup.def", "def");
    TStringList presetup;
    presetup.Add("C:\\DEV\\setup.def");
    Install->SetPresetupFiles(&presetup);
    Install->ProgramPath = temp + "\\setup.exe";
    bool asked = false;
    Install->OnBeforeCleanup = [&asked](TObject*, bool& cleanup) { asked = true; cleanup = true; };
    Install->RemoveTempFiles();
    EXPECT_TRUE(asked);
    EXPECT_FALSE(WinDirectoryExists(temp));
    EXPECT_TRUE(WinDirectoryExists(GetTempDir()));

    // Only the loader's own files go: what else stands in its folder (and
    // the folder with it) stays.
    TTempWindowsRoot::WriteFile(temp + "\\setup.exe", "setup");
    TTempWindowsRoot::WriteFile(temp + "\\setup.def", "def");
    TTempWindowsRoot::WriteFile(temp + "\\report.doc", "someone's");
    Install->RemoveTempFiles();
    EXPECT_FALSE(WinFileExists(temp + "\\setup.exe"));
    EXPECT_FALSE(WinFileExists(temp + "\\setup.def"));
    EXPECT_EQ(ReadWin(temp + "\\report.doc"), "someone's");
}

TEST_F(InstallRunTest, BuildRefusalsAndTrailers)
{
    Install->SetUseLoadingProgram(false);
    EXPECT_EQ(ErrorOf([&] { Install->Build(Install->ProgramPath, "C:\\OUT", true); }),
              "Cannot build a stand alone executable if the UseLoadingProgram property of the TInstall is set to "
              "False");
    EXPECT_FALSE(WinDirectoryExists("C:\\OUT"));
    Install->SetUseLoadingProgram(true);
    EXPECT_EQ(ErrorOf([&] { Install->Build(Install->ProgramPath, "C:\\OUT", true); }),
              "The HKEY_LOCAL_MACHINE | \\Software\\Nadro\\K19R08 key in the registry is either missing or points to "
              "an invalid Kelm directory");
    // A self-extracting build without files: setup.1 and the trailer, no main archive.
    TTempWindowsRoot::WriteFile("C:\\LIB\\K19R08.TXT", "");
    TTempWindowsRoot::WriteFile("C:\\LIB\\DorvaneLoadProgram.exe", "LOADER");
    WriteRegString(HKEY_CURRENT_USER, "\\Software\\Borland\\Delphi\\5.0\\Library", "Search Path", "$(DELPHI)\\LIB");
    WriteRegString(HKEY_LOCAL_MACHINE, "\\Software\\Borland\\Delphi\\5.0", "RootDir", "C:");
    Install->Build(Install->ProgramPath, "C:\\OUT", true);
    const std::string exe = ReadWin("C:\\OUT\\setup.exe");
    const std::string setup1 = ReadWin("C:\\OUT\\setup.1");
    ASSERT_EQ(exe.size(), 6 + setup1.size() + SelfExtractTrailerSize);
    EXPECT_EQ(exe.substr(0, 6), "LOADER");
    const TSelfExtractTrailer trailer = Install->ReadSelfExtractTrailer("C:\\OUT\\setup.exe");
    EXPECT_EQ(trailer.Signature, "SELFEXTRACTING");
    EXPECT_EQ(trailer.SetupFirst, 6);
    EXPECT_EQ(trailer.SetupLast, static_cast<Integer>(5 + setup1.size()));
    EXPECT_EQ(trailer.MainFirst, 0);
    EXPECT_EQ(trailer.MainLast, 0);
    // Trailers that do not fit their file are refused.
    std::string broken = exe;
    broken[broken.size() - SelfExtractTrailerSize] = 16;
    TTempWindowsRoot::WriteFile("C:\\OUT\\broken.exe", broken);
    TTempWindowsRoot::WriteFile("C:\\OUT\\short.exe", "tiny");
    for (const char* name : {"C:\\OUT\\broken.exe", "C:\\OUT\\short.exe", "C:\\OUT\\missing.exe"})
        EXPECT_EQ(ErrorOf([&] { Install->ReadSelfExtractTrailer(name); }),
                  std::string("Could not read the extraction info from the archive file ") + name +
                      " when trying to find the correct offset into the self extracting file");
}

} // namespace
} // namespace orvex

namespace orvex {
namespace {

TEST_F(InstallRunTest, FileListRoundTrip)
{
    auto* a = AddFile("a.txt", "aaaa");
    auto* b = AddFile("b.txt", "bb");
    a->ReadInfoFromSource();
    b->ReadInfoFromSource();
    a->ArchiveState = 2;
    b->ArchiveState = 2;
    a->Version = "1.2.3.4";
    // The list is written beside the main archive (no network location here).
    Install->WriteFileList("C:\\OUT\\files.1");
    const std::string data = ReadWin("C:\\OUT\\filelist.lst");
    ASSERT_EQ(data.size(), 4u + 2 * 80);
    const TDateTime date = a->SourceDate;
    a->SourceSize = b->SourceSize = 0;
    a->SourceDate = 0;
    a->Version.clear();
    Install->ApplyFileList(data, "filelist.lst");
    EXPECT_EQ(a->SourceSize, 4);
    EXPECT_EQ(b->SourceSize, 2);
    EXPECT_EQ(a->SourceDate, date);
    EXPECT_EQ(a->Version, "1.2.3.4");
    EXPECT_EQ(ErrorOf([&] { Install->ApplyFileList(data.substr(0, 100), "x.lst"); }),
              "Cannot read the remote list of files: x.lst");

    // A network build puts it beside the network archives, under the build
    // folder, not beside the program.
    auto* location = new TNetInstallLocation(Form);
    location->LoginInformation()->Hostname = "example.com";
    location->LoginInformation()->Directory = "pub/setup";
    Install->SetNetLocation(location);
    Install->WriteFileList("C:\\OUT\\files.1");
    EXPECT_EQ(ReadWin("C:\\OUT\\example.com\\pub-setup\\filelist.lst").size(), 4u + 2 * 80);
    EXPECT_EQ(a->Container()->Name(), "Bin");
    EXPECT_EQ(Dir->NetArchivePath("Bin", location), "C:\\BUILD\\example.com\\pub-setup\\Bin.1");
}

} // namespace
} // namespace orvex

namespace orvex {
namespace {

TEST_F(InstallRunTest, InstallsFromAnArchiveSplitOverDisks)
{
    std::string data(300000, '\0');
    unsigned state = 7;
    for (char& c : data)
        c = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
    AddFile("big.bin", data);
    AddFile("small.txt", "small");
    Build();
    // Copy files.1 onto three small disks C:\DISK1.. C:\DISK3.
    for (int disk = 1; disk <= 4; ++disk) {
        TTempWindowsRoot::MakeFolder("C:\\DISK" + std::to_string(disk));
        SetFolderCapacity(NativePath("C:\\DISK" + std::to_string(disk)), 120000);
    }
    TDrvnCompress split(nullptr);
    split.SetCompressedFile("C:\\BUILD\\files.1");
    split.OnNewDisk = [](TObject*, Integer part, std::string& folder) { folder = "C:\\DISK" + std::to_string(part); };
    split.SplitToDisks("C:\\DISK1", "files.1");
    for (int disk = 1; disk <= 4; ++disk)
        SetFolderCapacity(NativePath("C:\\DISK" + std::to_string(disk)), -1);
    ASSERT_TRUE(WinFileExists("C:\\DISK3\\files.3"));
    // The install asks its container for each further disk.
    Install->SourceDirectory = "C:\\DISK1";
    std::vector<Integer> asked;
    Dir->OnNewDisk = [&asked](TObject*, Integer part, std::string& folder) {
        asked.push_back(part);
        folder = "C:\\DISK" + std::to_string(part);
    };
    Install->InstallTree();
    EXPECT_EQ(ReadWin(Dest("big.bin")), data);
    EXPECT_EQ(ReadWin(Dest("small.txt")), "small");
    EXPECT_FALSE(asked.empty());
    EXPECT_GE(Recorder->Count(bmNewDisk), static_cast<int>(asked.size()));
    // The folder of the last disk is the main archive's from then on.
    EXPECT_EQ(Install->ArchivePath(), "C:\\DISK" + std::to_string(asked.back()) + "\\files.1");
}

TEST_F(InstallRunTest, CancelAtTheDiskPromptStopsTheArchiveThatAsked)
{
    std::string data(300000, '\0');
    unsigned state = 11;
    for (char& c : data)
        c = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
    TInstallFile* big = AddFile("big.bin", data);
    Build();
    TTempWindowsRoot::MakeFolder("C:\\DISK1");
    SetFolderCapacity(NativePath("C:\\DISK1"), 120000);
    TDrvnCompress split(nullptr);
    split.SetCompressedFile("C:\\BUILD\\files.1");
    split.OnNewDisk = [](TObject*, Integer part, std::string& folder) {
        folder = "C:\\SPARE" + std::to_string(part);
        TTempWindowsRoot::MakeFolder(folder);
    };
    split.SplitToDisks("C:\\DISK1", "files.1");
    SetFolderCapacity(NativePath("C:\\DISK1"), -1);
    auto& backend = dynamic_cast<THeadlessBackend&>(FormsBackend());
    // Disk 2 is not in the drive; the user cancels at the first prompt. Once
    // through the program's archive, once through a private one (the file's
    // archive is not the install component's).
    for (const char* main : {"C:\\DISK1", "C:\\BUILD"}) {
        Install->SourceDirectory = main;
        big->SetArchiveFileType(nullptr);
        big->SetArchiveFile("C:\\DISK1\\files.1");
        MainDrvnCompress()->Abort = false;
        backend.Reset();
        backend.Answer(mrCancel);
        EXPECT_THROW(big->SetState(ifsInstall), EAIUserAbort) << main;
        int prompts = 0;
        for (const THeadlessMessage& message : backend.Messages())
            prompts += message.Text == "Please insert disk #2";
        EXPECT_EQ(prompts, 1) << main;
        EXPECT_FALSE(WinFileExists(Dest("big.bin"))) << main;
        EXPECT_FALSE(WinFileExists(Dest("big.bin.~tmp"))) << main;
        // The stop reaches the program's archive once the file's has ended.
        EXPECT_TRUE(MainDrvnCompress()->Abort) << main;
    }
    // The file's own handler answers: no prompt, the disks are read where it says.
    backend.Reset();
    MainDrvnCompress()->Abort = false;
    std::vector<Integer> parts;
    big->OnNewDisk = [&parts](TObject*, Integer part, std::string& folder) {
        parts.push_back(part);
        folder = "C:\\SPARE" + std::to_string(part);
    };
    big->SetState(ifsInstall);
    EXPECT_EQ(ReadWin(Dest("big.bin")), data);
    EXPECT_TRUE(backend.Messages().empty());
    EXPECT_FALSE(parts.empty());
    backend.Reset();
}

} // namespace
} // namespace orvex

namespace orvex {
namespace {

// The journal's tests admit C:\APP as the run's destination.
bool InApp(const std::string& path)
{
    std::string expanded;
    return ExpandWinPath(path, expanded) && CompareWinNames(expanded.substr(0, 7), "C:\\APP\\") == 0;
}

std::string JournalOf(const std::string& key)
{
    return ReadRegString(HKEY_LOCAL_MACHINE, key, "Journal", "");
}

std::string HexField(const std::string& text)
{
    static const char digits[] = "0123456789abcdef";
    std::string out = "x";
    for (unsigned char c : text) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

TEST_F(InstallRunTest, AJournalLeftByAKilledRunIsPlayedBackAsFarAsItReads)
{
    std::string key;
    ASSERT_TRUE(Install->FindInstallRecord(true, key));
    TTempWindowsRoot::WriteFile("C:\\APP\\kept.txt", "old");
    WriteRegString(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Orvex", "Kept", "old");
    {
        TInstallJournal journal;
        journal.Start(key, InApp);
        WriteRegString(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Orvex\\New", "Value", "1");
        WriteRegString(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Orvex", "Kept", "new");
        journal.BeforeReplace("C:\\APP\\kept.txt");
        TTempWindowsRoot::WriteFile("C:\\APP\\kept.txt", "new");
        journal.BeforeReplace("C:\\APP\\added.txt");
        TTempWindowsRoot::WriteFile("C:\\APP\\added.txt", "new");
        journal.Temporary("C:\\APP\\part.txt.~tmp");
        TTempWindowsRoot::WriteFile("C:\\APP\\part.txt.~tmp", "half");
        // Folders made by the run go when empty; a folder outside its paths stays.
        journal.BeforeCreateFolder("C:\\APP\\NEW\\DEEP");
        TTempWindowsRoot::MakeFolder("C:\\APP\\NEW\\DEEP");
        journal.BeforeCreateFolder("C:\\OUTSIDE\\DIR");
        TTempWindowsRoot::MakeFolder("C:\\OUTSIDE\\DIR");
        // Killed here, in the middle of a line.
        std::ofstream(NativePath(JournalOf(key)), std::ios::app) << "V 21 xzz";
    }
    const std::string folder = NativePath(WinExtractFileDir(JournalOf(key)));
    EXPECT_TRUE(TInstallJournal::Recover(key, InApp));
    EXPECT_EQ(ReadWin("C:\\APP\\kept.txt"), "old");
    EXPECT_FALSE(WinFileExists("C:\\APP\\added.txt"));
    EXPECT_FALSE(WinFileExists("C:\\APP\\kept.txt.~bak"));
    EXPECT_FALSE(WinFileExists("C:\\APP\\part.txt.~tmp"));
    EXPECT_FALSE(WinDirectoryExists("C:\\APP\\NEW"));
    EXPECT_TRUE(WinDirectoryExists("C:\\APP"));
    EXPECT_TRUE(WinDirectoryExists("C:\\OUTSIDE\\DIR"));
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Orvex", "Kept", ""), "old");
    EXPECT_FALSE(TRegistryStore::Default()->KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orvex\\New"));
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, key, "Journal", "(none)"), "(none)");
    EXPECT_FALSE(DirectoryExists(folder));
    // Nothing more to play back.
    EXPECT_FALSE(TInstallJournal::Recover(key, InApp));
}

TEST_F(InstallRunTest, TheJournalKeepsTheFirstStateOfAFileReplacedTwice)
{
    std::string key;
    ASSERT_TRUE(Install->FindInstallRecord(true, key));
    TTempWindowsRoot::WriteFile("C:\\APP\\one.dll", "original");
    TTempWindowsRoot::WriteFile("C:\\APP\\WININIT.INI", "[Rename]\r\n");
    // A user's file that happens to carry the backup name stays as it is.
    TTempWindowsRoot::WriteFile("C:\\APP\\one.dll.~bak", "not ours");
    TInstallJournal journal;
    journal.Start(key, InApp);
    // Two containers install one file; two files in use extend WININIT.INI.
    for (const char* content : {"first copy", "second copy"}) {
        journal.BeforeReplace("C:\\APP\\one.dll");
        TTempWindowsRoot::WriteFile("C:\\APP\\one.dll", content);
        journal.Preserve("C:\\APP\\WININIT.INI");
        std::ofstream(NativePath("C:\\APP\\WININIT.INI"), std::ios::app) << content << "\r\n";
    }
    journal.Rollback();
    EXPECT_EQ(ReadWin("C:\\APP\\one.dll"), "original");
    EXPECT_EQ(ReadWin("C:\\APP\\WININIT.INI"), "[Rename]\r\n");
    EXPECT_EQ(ReadWin("C:\\APP\\one.dll.~bak"), "not ours");
    EXPECT_FALSE(WinFileExists("C:\\APP\\one.dll.~bak1"));
    EXPECT_FALSE(WinFileExists("C:\\APP\\WININIT.INI.~bak"));
}

TEST_F(InstallRunTest, TheJournalLivesInAPrivateFolderAndAGoodEndKeepsTheChanges)
{
    std::string key;
    ASSERT_TRUE(Install->FindInstallRecord(true, key));
    TTempWindowsRoot::WriteFile("C:\\APP\\one.dll", "original");
    TInstallJournal journal;
    journal.Start(key, InApp);
    const std::string name = JournalOf(key);
    // "RUN.JNL" in a folder of its own under the temporary folder, made for
    // this run and closed to other users.
    const std::string temp = GetTempDir() + "\\";
    EXPECT_EQ(CompareWinNames(name.substr(0, temp.size() + 4), temp + "DRVN"), 0) << name;
    EXPECT_EQ(name.substr(temp.size() + 12), "\\RUN.JNL");
    const std::string folder = NativePath(RemoveBackSlash(WinExtractFileDir(name)));
    EXPECT_EQ(std::filesystem::status(folder).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
    journal.BeforeReplace("C:\\APP\\one.dll");
    TTempWindowsRoot::WriteFile("C:\\APP\\one.dll", "new");
    // The end is made final before the backups go: a run killed while it
    // drops them is finished by the next one, not undone.
    const std::string text = ReadWin(name);
    journal.Commit();
    EXPECT_EQ(ReadWin("C:\\APP\\one.dll"), "new");
    EXPECT_FALSE(WinFileExists("C:\\APP\\one.dll.~bak"));
    EXPECT_FALSE(DirectoryExists(folder));
    EXPECT_EQ(JournalOf(key), "");

    TTempWindowsRoot::WriteFile("C:\\APP\\one.dll.~bak", "original");
    TTempWindowsRoot::WriteFile(name, text + "C\n");
    WriteRegString(HKEY_LOCAL_MACHINE, key, "Journal", name);
    EXPECT_FALSE(TInstallJournal::Recover(key, InApp));
    EXPECT_EQ(ReadWin("C:\\APP\\one.dll"), "new");
    EXPECT_FALSE(WinFileExists("C:\\APP\\one.dll.~bak"));
}

TEST_F(InstallRunTest, PlaybackTouchesOnlyTheRunsOwnPaths)
{
    std::string key;
    ASSERT_TRUE(Install->FindInstallRecord(true, key));
    TTempWindowsRoot::WriteFile("C:\\OTHER\\victim.txt", "keep me");
    TTempWindowsRoot::WriteFile("C:\\OTHER\\victim.txt.~bak", "a backup of something else");
    TTempWindowsRoot::WriteFile("C:\\APP\\one.dll", "installed");
    TTempWindowsRoot::WriteFile("C:\\APP\\two.dll.~bak", "backup");
    const std::string host = Root.Path() + "/host.txt";
    std::ofstream(host) << "host file";
    {
        TInstallJournal journal;
        journal.Start(key, InApp);
        std::ofstream out(NativePath(JournalOf(key)), std::ios::app);
        // Damaged or forged lines: files outside the destinations, a native
        // path, a "backup" that is not beside its file, relative climbs.
        out << "F " << HexField("C:\\OTHER\\victim.txt") << " x\n";
        out << "T " << HexField("C:\\OTHER\\victim.txt") << "\n";
        out << "F " << HexField(host) << " x\n";
        out << "F " << HexField("C:\\APP\\..\\OTHER\\victim.txt") << " x\n";
        out << "F " << HexField("C:\\APP\\one.dll") << " " << HexField("C:\\OTHER\\victim.txt.~bak") << "\n";
        out << "P " << HexField("C:\\APP\\two.dll") << " " << HexField("C:\\APP\\two.dll.~bak") << "\n";
    }
    TInstallJournal::Recover(key, InApp);
    EXPECT_EQ(ReadWin("C:\\OTHER\\victim.txt"), "keep me");
    EXPECT_EQ(ReadWin("C:\\OTHER\\victim.txt.~bak"), "a backup of something else");
    EXPECT_EQ(ReadWin("C:\\APP\\one.dll"), "installed");
    std::ifstream in(host);
    EXPECT_TRUE(in.good());
    // A line inside the destinations is played.
    EXPECT_EQ(ReadWin("C:\\APP\\two.dll"), "backup");
}

TEST_F(InstallRunTest, AJournalNamedOutsideItsPrivateFolderIsNotRead)
{
    std::string key;
    ASSERT_TRUE(Install->FindInstallRecord(true, key));
    TTempWindowsRoot::WriteFile("C:\\APP\\one.dll", "installed");
    const std::string line = "F " + HexField("C:\\APP\\one.dll") + " x\n";
    // A predictable name in the shared folder, a folder of the wrong name,
    // and a link to a journal elsewhere.
    TTempWindowsRoot::WriteFile(GetTempDir() + "\\RUN.JNL", line);
    TTempWindowsRoot::WriteFile(GetTempDir() + "\\OTHER\\RUN.JNL", line);
    TTempWindowsRoot::WriteFile("C:\\ELSEWHERE\\RUN.JNL", line);
    std::filesystem::create_directories(NativePath(GetTempDir() + "\\DRVN0000ABCD"));
    std::filesystem::create_symlink(NativePath("C:\\ELSEWHERE\\RUN.JNL"),
                                    NativePath(GetTempDir() + "\\DRVN0000ABCD") + "/RUN.JNL");
    for (const std::string& name : {GetTempDir() + "\\RUN.JNL", GetTempDir() + "\\OTHER\\RUN.JNL",
                                    std::string("C:\\ELSEWHERE\\RUN.JNL"), GetTempDir() + "\\DRVN0000ABCD\\RUN.JNL"}) {
        WriteRegString(HKEY_LOCAL_MACHINE, key, "Journal", name);
        TInstallJournal::Recover(key, InApp);
        EXPECT_EQ(ReadWin("C:\\APP\\one.dll"), "installed") << name;
        EXPECT_EQ(JournalOf(key), "") << name;
    }
    EXPECT_EQ(ReadWin("C:\\ELSEWHERE\\RUN.JNL"), line);
}

TEST_F(InstallRunTest, TheInstallRecordAppearsWhole)
{
    // A record a killed run of an earlier setup left half made: only "Path".
    WriteRegString(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Kelm\\Install\\Install0", "Path", Install->ProgramPath);
    // Another program's record stays.
    WriteRegString(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Kelm\\Install\\Install1", "Path", "C:\\OTHER\\setup.exe");
    std::string key;
    ASSERT_TRUE(Install->FindInstallRecord(true, key));
    EXPECT_EQ(key, "\\SOFTWARE\\Kelm\\Install\\Install0");
    std::vector<TRegValue> values;
    TRegistryStore::Default()->Values(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kelm\\Install\\Install0", values);
    EXPECT_EQ(values.size(), 4u);
    EXPECT_TRUE(TRegistryStore::Default()->KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kelm\\Install\\Install1"));
    std::string again;
    ASSERT_TRUE(Install->FindInstallRecord(false, again));
    EXPECT_EQ(again, key);
}

} // namespace
} // namespace orvex
