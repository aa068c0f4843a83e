// The registry as text: every type, the escapes, the order of keys and
// values, a subtree, and the key names a person types.

#include "platform/RegistryText.h"
#include "tests/platform/WinSystemTempRoot.h"

#include <gtest/gtest.h>

namespace orvex {
namespace {

TEST(RegistryTextTest, EveryKeyDepthFirstWithItsTypedValues)
{
    TTempWindowsRoot root;
    TRegistryStore store(RegistryFolder());
    EXPECT_EQ(RegistryText(store), ""); // nothing stored: no root shown
    const std::string key = "Software\\Vantry Software\\Orvex";
    ASSERT_EQ(store.CreateKey(HKEY_LOCAL_MACHINE, key), TRegResult::Ok);
    ASSERT_EQ(store.SetValue(HKEY_LOCAL_MACHINE, key, "Ver", REG_SZ, "143"), TRegResult::Ok);
    ASSERT_EQ(store.SetValue(HKEY_LOCAL_MACHINE, key, "", REG_SZ, "default"), TRegResult::Ok);
    ASSERT_EQ(store.SetValue(HKEY_LOCAL_MACHINE, key, "Size", REG_DWORD, std::string("\x40\x1f\0\0", 4)),
              TRegResult::Ok);
    ASSERT_EQ(store.SetValue(HKEY_LOCAL_MACHINE, key, "Date", REG_BINARY, std::string("\0\x80\xe6", 3)),
              TRegResult::Ok);
    ASSERT_EQ(store.SetValue(HKEY_LOCAL_MACHINE, key, "Path", REG_EXPAND_SZ, "%SystemRoot%"), TRegResult::Ok);
    ASSERT_EQ(store.SetValue(HKEY_LOCAL_MACHINE, key, "Odd", REG_DWORD, "12"), TRegResult::Ok);
    ASSERT_EQ(store.SetValue(HKEY_LOCAL_MACHINE, key, "None", REG_NONE, ""), TRegResult::Ok);
    // Escapes, and Windows-1252 shown in UTF-8 ("\xe9" is e acute).
    ASSERT_EQ(store.SetValue(HKEY_LOCAL_MACHINE, key, "Text \"q\"", REG_SZ, "C:\\a\r\n\t\x01 caf\xe9"),
              TRegResult::Ok);
    ASSERT_EQ(store.CreateKey(HKEY_LOCAL_MACHINE, "Software\\Alpha"), TRegResult::Ok);
    ASSERT_EQ(store.CreateKey(HKEY_CURRENT_USER, "Empty"), TRegResult::Ok);

    EXPECT_EQ(RegistryText(store), "[HKEY_CURRENT_USER]\n\n"
                                   "[HKEY_CURRENT_USER\\Empty]\n\n"
                                   "[HKEY_LOCAL_MACHINE]\n\n"
                                   "[HKEY_LOCAL_MACHINE\\Software]\n\n"
                                   "[HKEY_LOCAL_MACHINE\\Software\\Alpha]\n\n"
                                   "[HKEY_LOCAL_MACHINE\\Software\\Vantry Software]\n\n"
                                   "[HKEY_LOCAL_MACHINE\\Software\\Vantry Software\\Orvex]\n"
                                   "\"Ver\"=\"143\"\n"
                                   "@=\"default\"\n"
                                   "\"Size\"=dword:00001f40\n"
                                   "\"Date\"=hex:00,80,e6\n"
                                   "\"Path\"=expand:\"%SystemRoot%\"\n"
                                   "\"Odd\"=hex(4):31,32\n"
                                   "\"None\"=hex(0):\n"
                                   "\"Text \\\"q\\\"\"=\"C:\\\\a\\r\\n\\t\\x01 caf\xc3\xa9\"\n\n");

    // A subtree by a typed name, short or long; a key that is not there.
    std::string path;
    const auto hklm = ParseRegistryKeyName("hklm\\\\Software\\Vantry Software\\", path);
    ASSERT_TRUE(hklm.has_value());
    EXPECT_EQ(*hklm, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(path, "Software\\Vantry Software");
    EXPECT_EQ(RegistryText(store, *hklm, path).substr(0, 52), "[HKEY_LOCAL_MACHINE\\Software\\Vantry Software]\n\n[HKEY");
    EXPECT_EQ(RegistryText(store, HKEY_LOCAL_MACHINE, "Software\\Missing"), "");
    EXPECT_EQ(ParseRegistryKeyName("HKEY_CURRENT_USER", path), HKEY_CURRENT_USER);
    EXPECT_EQ(path, "");
    EXPECT_FALSE(ParseRegistryKeyName("HKEY_NOWHERE\\Software", path).has_value());
    EXPECT_FALSE(ParseRegistryKeyName("HKLMX", path).has_value());
}

} // namespace
} // namespace orvex
