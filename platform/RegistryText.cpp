#include "platform/RegistryText.h"

#include "platform/CodePage.h"

#include <cstdio>
#include <vector>

namespace orvex {

namespace {

struct TRootName {
    HKEY Root;
    const char* Name;
    const char* Short;
};

constexpr TRootName RootNames[] = {
    {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT", "HKCR"},   {HKEY_CURRENT_USER, "HKEY_CURRENT_USER", "HKCU"},
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "HKLM"}, {HKEY_USERS, "HKEY_USERS", "HKU"},
    {HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG", "HKCC"}, {HKEY_DYN_DATA, "HKEY_DYN_DATA", "HKDD"},
};

bool SameAscii(const std::string& a, const char* b)
{
    std::size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return i == a.size() && b[i] == '\0';
}

std::string Hex2(unsigned value)
{
    char text[3];
    std::snprintf(text, sizeof text, "%02x", value & 0xFFu);
    return text;
}

// A string value in double quotes, escaped, in UTF-8.
std::string Quoted(const std::string& win1252)
{
    std::string text = "\"";
    for (char c : win1252) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '\\': text += "\\\\"; break;
        case '"': text += "\\\""; break;
        case '\r': text += "\\r"; break;
        case '\n': text += "\\n"; break;
        case '\t': text += "\\t"; break;
        default:
            if (u < 0x20 || u == 0x7F)
                text += "\\x" + Hex2(u);
            else
                text += Win1252ToUtf8(std::string_view(&c, 1));
        }
    }
    return text + "\"";
}

std::string HexBytes(const std::string& data)
{
    std::string text;
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (i > 0)
            text += ',';
        text += Hex2(static_cast<unsigned char>(data[i]));
    }
    return text;
}

std::string ValueLine(const TRegValue& value)
{
    std::string line = value.Name.empty() ? std::string("@") : Quoted(value.Name);
    line += '=';
    switch (value.Type) {
    case REG_SZ: line += Quoted(value.Data); break;
    case REG_EXPAND_SZ: line += "expand:" + Quoted(value.Data); break;
    case REG_BINARY: line += "hex:" + HexBytes(value.Data); break;
    case REG_DWORD:
        if (value.Data.size() == 4) {
            std::uint32_t u = 0;
            for (int i = 3; i >= 0; --i)
                u = (u << 8) | static_cast<unsigned char>(value.Data[static_cast<std::size_t>(i)]);
            char text[9];
            std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(u));
            line += std::string("dword:") + text;
            break;
        }
        [[fallthrough]];
    default: line += "hex(" + std::to_string(value.Type) + "):" + HexBytes(value.Data); break;
    }
    return line;
}

void AppendKey(TRegistryStore& store, HKEY root, const std::string& path, std::string& text)
{
    text += "[" + RegistryRootName(root) + (path.empty() ? "" : "\\" + Win1252ToUtf8(path)) + "]\n";
    std::vector<TRegValue> values;
    if (store.Values(root, path, values) == TRegResult::Ok)
        for (const TRegValue& value : values)
            text += ValueLine(value) + "\n";
    text += "\n";
    std::vector<std::string> names;
    if (store.SubKeyNames(root, path, names) != TRegResult::Ok)
        return;
    for (const std::string& name : names)
        AppendKey(store, root, path.empty() ? name : path + "\\" + name, text);
}

// The path without empty components, as the store reads it.
std::string CleanPath(const std::string& path)
{
    std::string clean;
    std::string part;
    for (char c : path + "\\") {
        if (c != '\\') {
            part += c;
            continue;
        }
        if (!part.empty())
            clean += (clean.empty() ? "" : "\\") + part;
        part.clear();
    }
    return clean;
}

} // namespace

std::string RegistryRootName(HKEY root)
{
    for (const TRootName& name : RootNames)
        if (name.Root == root)
            return name.Name;
    return {};
}

std::optional<HKEY> ParseRegistryKeyName(const std::string& keyName, std::string& path)
{
    const std::size_t slash = keyName.find('\\');
    const std::string first = keyName.substr(0, slash);
    for (const TRootName& name : RootNames) {
        if (SameAscii(first, name.Name) || SameAscii(first, name.Short)) {
            path = slash == std::string::npos ? std::string() : CleanPath(keyName.substr(slash + 1));
            return name.Root;
        }
    }
    return std::nullopt;
}

std::string RegistryText(TRegistryStore& store)
{
    std::string text;
    for (const TRootName& name : RootNames) {
        std::vector<std::string> keys;
        std::vector<TRegValue> values;
        const bool hasKeys = store.SubKeyNames(name.Root, "", keys) == TRegResult::Ok && !keys.empty();
        const bool hasValues = store.Values(name.Root, "", values) == TRegResult::Ok && !values.empty();
        if (hasKeys || hasValues)
            AppendKey(store, name.Root, "", text);
    }
    return text;
}

std::string RegistryText(TRegistryStore& store, HKEY root, const std::string& path)
{
    std::string text;
    const std::string clean = CleanPath(path);
    if (IsRegistryRoot(root) && store.KeyExists(root, clean))
        AppendKey(store, root, clean, text);
    return text;
}

} // namespace orvex
