// The emulated machine's in-use files, delayed renames, restart requests,
// self-registrations, INI sections and its next start.

#include "platform/FileIO.h"
#include "platform/Registry.h"
#include "platform/WinNextStart.h"
#include "tests/platform/WinSystemTempRoot.h"

#include <gtest/gtest.h>

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

TEST(WinNextStartTest, FilesHeldOpenDenyingWritesAreInUse)
{
    TTempWindowsRoot root;
    TTempWindowsRoot::WriteFile("C:\\APP\\lib.dll", "library");
    EXPECT_FALSE(WinFileInUse("C:\\APP\\lib.dll"));
    EXPECT_FALSE(WinFileInUse("C:\\APP\\missing.dll"));
    {
        // A reader that shares writing does not hold the file.
        auto reader = TPlatformFile::Open(NativePath("C:\\APP\\lib.dll"), TFileAccess::Read, TFileShare::DenyNone,
                                          TFileCreate::OpenExisting);
        EXPECT_FALSE(WinFileInUse("C:\\APP\\lib.dll"));
    }
    auto holder = TPlatformFile::Open(NativePath("C:\\APP\\lib.dll"), TFileAccess::Read, TFileShare::DenyWrite,
                                      TFileCreate::OpenExisting);
    ASSERT_TRUE(holder);
    EXPECT_TRUE(WinFileInUse("C:\\APP\\lib.dll"));
    std::uint32_t error = 0;
    EXPECT_FALSE(WinDeleteFile("C:\\APP\\lib.dll", &error));
    EXPECT_EQ(error, 32u);
    TTempWindowsRoot::WriteFile("C:\\APP\\lib.new", "new library");
    EXPECT_FALSE(WinReplaceFile("C:\\APP\\lib.new", "C:\\APP\\lib.dll", &error));
    EXPECT_EQ(ReadWin("C:\\APP\\lib.dll"), "library");
    holder.reset();
    EXPECT_TRUE(WinReplaceFile("C:\\APP\\lib.new", "C:\\APP\\lib.dll", &error));
    EXPECT_EQ(ReadWin("C:\\APP\\lib.dll"), "new library");
    EXPECT_TRUE(WinDeleteFile("C:\\APP\\lib.dll"));
    EXPECT_FALSE(WinDeleteFile("C:\\APP\\lib.dll", &error));
    EXPECT_EQ(error, 2u);
}

TEST(WinNextStartTest, TheNextStartAppliesRenamesThenRunOnce)
{
    TTempWindowsRoot root(TWinEdition::Win98);
    TTempWindowsRoot::WriteFile("C:\\APP\\a.dll", "old a");
    TTempWindowsRoot::WriteFile("C:\\APP\\a.1", "new a");
    TTempWindowsRoot::WriteFile("C:\\APP\\b.dll", "old b");
    TTempWindowsRoot::WriteFile("C:\\APP\\b.1", "new b");
    TTempWindowsRoot::WriteFile("C:\\APP\\gone.tmp", "x");
    TTempWindowsRoot::MakeFolder("C:\\WINDOWS");
    ASSERT_TRUE(WritePrivateProfileString("Rename", "C:\\APP\\a.dll", "C:\\APP\\a.1", "C:\\WINDOWS\\WININIT.INI"));
    ASSERT_TRUE(WritePrivateProfileString("Rename", "NUL", "C:\\APP\\gone.tmp", "C:\\WINDOWS\\WININIT.INI"));
    EXPECT_EQ(GetPrivateProfileSection("rename", "C:\\WINDOWS\\WININIT.INI"),
              (std::vector<std::string>{"C:\\APP\\a.dll=C:\\APP\\a.1", "NUL=C:\\APP\\gone.tmp"}));
    ASSERT_TRUE(MoveFileDelayUntilReboot("C:\\APP\\b.1", "C:\\APP\\b.dll"));
    SetDelayedRenamesAllowed(false);
    EXPECT_FALSE(MoveFileDelayUntilReboot("C:\\APP\\x", "C:\\APP\\y"));
    SetDelayedRenamesAllowed(true);
    EXPECT_EQ(PendingDelayedRenames().size(), 1u);
    // A batch file run once: its erase and move lines are carried out.
    TTempWindowsRoot::WriteFile("C:\\APP\\c.dll", "old c");
    TTempWindowsRoot::WriteFile("C:\\APP\\c new.1", "new c");
    TTempWindowsRoot::WriteFile("C:\\TEMP\\job.bat", "erase C:\\APP\\c.dll\r\nmove \"C:\\APP\\c new.1\" C:\\APP\\c.dll\r\n");
    auto store = TRegistryStore::Default();
    const char* runOnce = "\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
    ASSERT_EQ(store->CreateKey(HKEY_LOCAL_MACHINE, runOnce), TRegResult::Ok);
    ASSERT_EQ(store->SetValue(HKEY_LOCAL_MACHINE, runOnce, "Job", REG_SZ, "C:\\TEMP\\job.bat"), TRegResult::Ok);

    const std::vector<std::string> done = RunNextStart();
    EXPECT_EQ(done.size(), 4u);
    EXPECT_EQ(ReadWin("C:\\APP\\a.dll"), "new a");
    EXPECT_EQ(ReadWin("C:\\APP\\b.dll"), "new b");
    EXPECT_EQ(ReadWin("C:\\APP\\c.dll"), "new c");
    EXPECT_FALSE(WinFileExists("C:\\APP\\gone.tmp"));
    EXPECT_FALSE(WinFileExists("C:\\WINDOWS\\WININIT.INI"));
    EXPECT_TRUE(PendingDelayedRenames().empty());
    std::vector<TRegValue> values;
    store->Values(HKEY_LOCAL_MACHINE, runOnce, values);
    EXPECT_TRUE(values.empty());
    // Nothing is left for a second start.
    EXPECT_TRUE(RunNextStart().empty());
}

TEST(WinNextStartTest, RestartsAndSelfRegistrationsAreRecorded)
{
    TTempWindowsRoot root;
    EXPECT_EQ(RestartRequestCount(), 0);
    EXPECT_FALSE(RequestRestart(TRestartKind::Reboot));
    EXPECT_FALSE(RequestRestart(TRestartKind::RebootWithShutdownPrivilege));
    EXPECT_EQ(RestartRequestCount(), 2);
    TTempWindowsRoot::WriteFile("C:\\APP\\grid.ocx", "ocx");
    TTempWindowsRoot::WriteFile("C:\\APP\\types.tlb", "tlb");
    TTempWindowsRoot::WriteFile("C:\\APP\\server.exe", "exe");
    std::uint32_t error = 0;
    EXPECT_TRUE(SelfRegisterLibrary("C:\\APP\\grid.ocx", &error));
    EXPECT_TRUE(RegisterTypeLibrary("C:\\APP\\types.tlb", "C:\\APP", &error));
    EXPECT_TRUE(SelfRegisterProgram("C:\\APP\\server.exe", &error));
    EXPECT_FALSE(SelfRegisterLibrary("C:\\APP\\missing.ocx", &error));
    EXPECT_EQ(error, 2u);
    EXPECT_EQ(SelfRegistrationOf("c:\\app\\GRID.OCX"), "DllRegisterServer");
    EXPECT_EQ(SelfRegistrationOf("C:\\APP\\types.tlb"), "TypeLib;C:\\APP");
    EXPECT_EQ(SelfRegistrationOf("C:\\APP\\server.exe"), "RegServer");
    EXPECT_EQ(SelfRegistrationOf("C:\\APP\\missing.ocx"), "");
}

TEST(WinNextStartTest, RegistryObserverHearsEveryChangeBeforeItIsMade)
{
    TTempWindowsRoot root;
    auto store = TRegistryStore::Default();
    ASSERT_EQ(store->CreateKey(HKEY_LOCAL_MACHINE, "A"), TRegResult::Ok);
    ASSERT_EQ(store->SetValue(HKEY_LOCAL_MACHINE, "A", "v", REG_SZ, "before"), TRegResult::Ok);
    std::vector<TRegChange> heard;
    SetRegistryChangeObserver([](const TRegChange& change, void* context) {
        static_cast<std::vector<TRegChange>*>(context)->push_back(change);
    }, &heard);
    store->CreateKey(HKEY_LOCAL_MACHINE, "A\\B\\C");
    store->CreateKey(HKEY_LOCAL_MACHINE, "A\\B\\C"); // exists: nothing to hear
    store->SetValue(HKEY_LOCAL_MACHINE, "A", "v", REG_SZ, "after");
    store->SetValue(HKEY_LOCAL_MACHINE, "A", "w", REG_SZ, "new");
    store->DeleteValue(HKEY_LOCAL_MACHINE, "A", "v");
    SetRegistryChangeObserver(nullptr, nullptr);
    ASSERT_EQ(heard.size(), 4u);
    EXPECT_EQ(heard[0].Kind, TRegChange::KeyCreated);
    EXPECT_EQ(heard[0].Path, "A\\B");
    EXPECT_EQ(heard[1].Kind, TRegChange::ValueSet);
    EXPECT_TRUE(heard[1].HadValue);
    EXPECT_EQ(heard[1].Former.Data, "before");
    EXPECT_FALSE(heard[2].HadValue);
    EXPECT_EQ(heard[3].Kind, TRegChange::ValueDeleted);
    EXPECT_EQ(heard[3].Former.Data, "after");
}

} // namespace
} // namespace orvex
