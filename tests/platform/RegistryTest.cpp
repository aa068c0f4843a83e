#include "platform/Process.h"
#include "platform/Registry.h"
#include "tests/platform/WinSystemTempRoot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace orvex {
namespace {

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string AllBytes()
{
    std::string s;
    for (int i = 0; i < 256; ++i)
        s += static_cast<char>(i);
    return s;
}

TEST(RegistryTest, KeysAndValuesIgnoreCaseAndKeepIt)
{
    TTempWindowsRoot root;
    TRegistryStore store(RegistryFolder());
    bool created = false;
    ASSERT_EQ(store.CreateKey(HKEY_LOCAL_MACHINE, "\\Software\\Vantry\\Orvex\\", &created), TRegResult::Ok);
    EXPECT_TRUE(created);
    ASSERT_EQ(store.CreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\VANTRY", &created), TRegResult::Ok);
    EXPECT_FALSE(created);
    EXPECT_TRUE(store.KeyExists(HKEY_LOCAL_MACHINE, "software\\vantry\\ORVEX"));
    EXPECT_FALSE(store.KeyExists(HKEY_CURRENT_USER, "Software\\Vantry"));
    EXPECT_TRUE(store.KeyExists(HKEY_CURRENT_USER, "\\"));

    const std::string key = "Software\\Vantry\\Orvex";
    ASSERT_EQ(store.SetValue(HKEY_LOCAL_MACHINE, key, "InstallPath", REG_SZ, "C:\\Orvex"), TRegResult::Ok);
    ASSERT_EQ(store.SetValue(HKEY_LOCAL_MACHINE, key, "Version", REG_DWORD, std::string("\x8F\0\0\0", 4)),
              TRegResult::Ok);
    ASSERT_EQ(store.SetValue(HKEY_LOCAL_MACHINE, key, "", REG_EXPAND_SZ, "%SystemRoot%"), TRegResult::Ok);
    ASSERT_EQ(store.SetValue(HKEY_LOCAL_MACHINE, key, "INSTALLPATH", REG_SZ, "D:\\Orvex"), TRegResult::Ok);

    TRegValue value;
    ASSERT_EQ(store.QueryValue(HKEY_LOCAL_MACHINE, key, "installpath", value), TRegResult::Ok);
    EXPECT_EQ(value.Name, "InstallPath"); // the first spelling stays
    EXPECT_EQ(value.Data, "D:\\Orvex");
    EXPECT_EQ(store.QueryValue(HKEY_LOCAL_MACHINE, key, "Missing", value), TRegResult::NotFound);
    EXPECT_EQ(store.SetValue(HKEY_LOCAL_MACHINE, key + "\\Nope", "x", REG_SZ, ""), TRegResult::NotFound);
    EXPECT_EQ(store.SetValue(0x12345678u, key, "x", REG_SZ, ""), TRegResult::InvalidRoot);

    std::vector<TRegValue> values;
    ASSERT_EQ(store.Values(HKEY_LOCAL_MACHINE, key, values), TRegResult::Ok);
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0].Name, "InstallPath");
    EXPECT_EQ(values[1].Type, REG_DWORD);
    EXPECT_EQ(values[2].Name, "");

    for (const char* name : {"beta", "Alpha", "GAMMA"})
        store.CreateKey(HKEY_LOCAL_MACHINE, std::string("Software\\Vantry\\") + name);
    std::vector<std::string> names;
    ASSERT_EQ(store.SubKeyNames(HKEY_LOCAL_MACHINE, "Software\\Vantry", names), TRegResult::Ok);
    EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "beta", "GAMMA", "Orvex"}));
}

TEST(RegistryTest, DeletesValuesAndWholeKeyTrees)
{
    TTempWindowsRoot root;
    TRegistryStore store(RegistryFolder());
    store.CreateKey(HKEY_CURRENT_USER, "A\\B\\C\\D");
    store.CreateKey(HKEY_CURRENT_USER, "A\\Keep");
    store.SetValue(HKEY_CURRENT_USER, "A\\B\\C", "v", REG_SZ, "1");
    store.SetValue(HKEY_CURRENT_USER, "A", "v", REG_SZ, "1");

    EXPECT_EQ(store.DeleteValue(HKEY_CURRENT_USER, "A", "V"), TRegResult::Ok);
    EXPECT_EQ(store.DeleteValue(HKEY_CURRENT_USER, "A", "v"), TRegResult::NotFound);
    EXPECT_EQ(store.DeleteKey(HKEY_CURRENT_USER, "a\\b"), TRegResult::Ok);
    EXPECT_FALSE(store.KeyExists(HKEY_CURRENT_USER, "A\\B\\C\\D"));
    EXPECT_FALSE(store.KeyExists(HKEY_CURRENT_USER, "A\\B"));
    EXPECT_TRUE(store.KeyExists(HKEY_CURRENT_USER, "A\\Keep"));
    EXPECT_EQ(store.DeleteKey(HKEY_CURRENT_USER, "A\\B"), TRegResult::NotFound);
    EXPECT_EQ(store.DeleteKey(HKEY_CURRENT_USER, "\\"), TRegResult::InvalidRoot);

    // The six roots are separate trees.
    for (HKEY r : {HKEY_CLASSES_ROOT, HKEY_CURRENT_CONFIG, HKEY_DYN_DATA, HKEY_USERS, HKEY_LOCAL_MACHINE})
        EXPECT_FALSE(store.KeyExists(r, "A")) << r;
}

TEST(RegistryTest, ReadsNeverCreateTheStore)
{
    TTempWindowsRoot root;
    const std::string folder = root.Path() + "/registry";
    TRegistryStore store(folder);
    TRegValue value;
    std::vector<std::string> names;
    EXPECT_FALSE(store.KeyExists(HKEY_LOCAL_MACHINE, "Software"));
    EXPECT_EQ(store.QueryValue(HKEY_LOCAL_MACHINE, "Software", "x", value), TRegResult::NotFound);
    EXPECT_EQ(store.SubKeyNames(HKEY_LOCAL_MACHINE, "Software", names), TRegResult::NotFound);
    EXPECT_EQ(store.DeleteKey(HKEY_LOCAL_MACHINE, "Software"), TRegResult::NotFound);
    EXPECT_EQ(store.DeleteValue(HKEY_LOCAL_MACHINE, "Software", "x"), TRegResult::NotFound);
    EXPECT_EQ(store.SetValue(HKEY_LOCAL_MACHINE, "Software", "x", REG_SZ, "y"), TRegResult::NotFound);
    EXPECT_FALSE(std::filesystem::exists(folder));
}

TEST(RegistryTest, SurvivesAReloadByteForByte)
{
    TTempWindowsRoot root;
    const std::string folder = RegistryFolder();
    {
        TRegistryStore store(folder);
        store.CreateKey(HKEY_LOCAL_MACHINE, "Software\\Kelm\\Install\\Install0");
        store.CreateKey(HKEY_CLASSES_ROOT, "Word.Document\\CurVer");
        store.CreateKey(HKEY_DYN_DATA, "Stats");
        store.SetValue(HKEY_LOCAL_MACHINE, "Software\\Kelm\\Install\\Install0", "Binary", REG_BINARY, AllBytes());
        store.SetValue(HKEY_LOCAL_MACHINE, "Software\\Kelm\\Install\\Install0", "Caf\xE9 \x80", REG_SZ,
                       std::string("a\0b\xFF", 4));
        store.SetValue(HKEY_CLASSES_ROOT, "Word.Document\\CurVer", "", REG_SZ, "Word.Document.8");
        store.SetValue(HKEY_DYN_DATA, "Stats", "Empty", REG_BINARY, "");
    }
    const std::string before = ReadAll(TRegistryStore(folder).FileName());
    ASSERT_FALSE(before.empty());

    TRegistryStore reloaded(folder);
    TRegValue value;
    ASSERT_EQ(reloaded.QueryValue(HKEY_LOCAL_MACHINE, "Software\\Kelm\\Install\\Install0", "binary", value),
              TRegResult::Ok);
    EXPECT_EQ(value.Type, REG_BINARY);
    EXPECT_EQ(value.Data, AllBytes());
    ASSERT_EQ(reloaded.QueryValue(HKEY_LOCAL_MACHINE, "Software\\Kelm\\Install\\Install0", "CAF\xC9 \x80", value),
              TRegResult::Ok);
    EXPECT_EQ(value.Name, "Caf\xE9 \x80");
    EXPECT_EQ(value.Data, std::string("a\0b\xFF", 4));
    ASSERT_EQ(reloaded.QueryValue(HKEY_DYN_DATA, "Stats", "Empty", value), TRegResult::Ok);
    EXPECT_EQ(value.Data, "");

    // A change and its undoing write the very same file again.
    reloaded.SetValue(HKEY_DYN_DATA, "Stats", "Temp", REG_DWORD, std::string(4, '\0'));
    EXPECT_NE(ReadAll(reloaded.FileName()), before);
    reloaded.DeleteValue(HKEY_DYN_DATA, "Stats", "Temp");
    EXPECT_EQ(ReadAll(reloaded.FileName()), before);
}

TEST(RegistryTest, ACorruptFileIsNeitherReadNorOverwritten)
{
    TTempWindowsRoot root;
    TRegistryStore store(RegistryFolder());
    store.CreateKey(HKEY_CURRENT_USER, "Software");
    std::string bytes = ReadAll(store.FileName());
    bytes[bytes.size() / 2] ^= 0x55;
    std::ofstream(store.FileName(), std::ios::binary | std::ios::trunc) << bytes;

    TRegistryStore other(RegistryFolder());
    TRegValue value;
    EXPECT_FALSE(other.KeyExists(HKEY_CURRENT_USER, "Software"));
    EXPECT_EQ(other.QueryValue(HKEY_CURRENT_USER, "Software", "x", value), TRegResult::Failed);
    EXPECT_EQ(other.CreateKey(HKEY_CURRENT_USER, "New"), TRegResult::Failed);
    EXPECT_EQ(ReadAll(store.FileName()), bytes);
}

TEST(RegistryTest, StoresOverOneFolderSeeEachOthersChanges)
{
    TTempWindowsRoot root;
    TRegistryStore a(RegistryFolder()), b(RegistryFolder());
    a.CreateKey(HKEY_CURRENT_USER, "Shared");
    EXPECT_TRUE(b.KeyExists(HKEY_CURRENT_USER, "Shared"));
    std::thread ta([&] {
        for (int i = 0; i < 50; ++i)
            a.SetValue(HKEY_CURRENT_USER, "Shared", "a" + std::to_string(i), REG_SZ, "x");
    });
    std::thread tb([&] {
        for (int i = 0; i < 50; ++i)
            b.SetValue(HKEY_CURRENT_USER, "Shared", "b" + std::to_string(i), REG_SZ, "x");
    });
    ta.join();
    tb.join();
    std::vector<TRegValue> values;
    ASSERT_EQ(TRegistryStore(RegistryFolder()).Values(HKEY_CURRENT_USER, "Shared", values), TRegResult::Ok);
    EXPECT_EQ(values.size(), 100u);
}

TEST(RegistryTest, TwoProcessesWritingDifferentKeysLoseNeither)
{
    TTempWindowsRoot root;
    const std::string folder = RegistryFolder();
    constexpr int count = 60;
    std::uint32_t error = 0;
    auto first = TChildProcess::Start({ORVEX_REGISTRY_CHILD, {folder, "First", std::to_string(count)}, ""}, error);
    ASSERT_TRUE(first) << error;
    auto second = TChildProcess::Start({ORVEX_REGISTRY_CHILD, {folder, "Second", std::to_string(count)}, ""}, error);
    ASSERT_TRUE(second) << error;
    ASSERT_EQ(first->WaitFor(-1), TProcessWait::Exited);
    ASSERT_EQ(second->WaitFor(-1), TProcessWait::Exited);
    EXPECT_EQ(first->ExitCode(), 0);
    EXPECT_EQ(second->ExitCode(), 0);

    TRegistryStore store(folder);
    for (const char* name : {"First", "Second"}) {
        std::vector<std::string> keys;
        ASSERT_EQ(store.SubKeyNames(HKEY_CURRENT_USER, std::string("Software\\Race\\") + name, keys), TRegResult::Ok);
        EXPECT_EQ(keys.size(), static_cast<std::size_t>(count)) << name;
        for (int i = 0; i < count; ++i) {
            TRegValue value;
            EXPECT_EQ(store.QueryValue(HKEY_CURRENT_USER,
                                       std::string("Software\\Race\\") + name + "\\Key" + std::to_string(i),
                                       "Index", value),
                      TRegResult::Ok);
            EXPECT_EQ(value.Data, std::to_string(i));
        }
    }
    std::vector<TRegValue> shared;
    ASSERT_EQ(store.Values(HKEY_CURRENT_USER, "Software\\Race\\Shared", shared), TRegResult::Ok);
    EXPECT_EQ(shared.size(), static_cast<std::size_t>(2 * count));
}

} // namespace
} // namespace orvex
