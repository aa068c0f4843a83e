#include "installer/routines_Registry.h"

#include "installer/cmp_TDrvnRegistry.h"
#include "installer/exceptions_Dorvane.h"
#include "installer/routines_API.h"

namespace orvex {

namespace {

constexpr HKEY Roots[6] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_CONFIG, HKEY_CURRENT_USER,
                           HKEY_DYN_DATA,     HKEY_LOCAL_MACHINE,  HKEY_USERS};

std::string Absolute(const std::string& key)
{
    return !key.empty() && key[0] == '\\' ? key : "\\" + key;
}

// Opens or creates the key and writes through write; any failure raises
// EIRCannotWriteValue with the value as shown.
template <class Write>
void WriteValue(HKEY root, const std::string& key, const std::string& name, const std::string& shown, Write write)
{
    try {
        TdrvnRegistry reg;
        reg.SetRootKey(root);
        if (reg.OpenOrCreateKey(Absolute(key))) {
            write(reg);
            return;
        }
    } catch (const ERegistryException&) {
    }
    throw EIRCannotWriteValue(key, name, shown);
}

} // namespace

HKEY GetRootKey(Integer ordinal)
{
    if (ordinal < 0 || ordinal >= 6)
        throw Exception(Format("Unknown root key %d", {ordinal}));
    return Roots[ordinal];
}

Integer GetRootKeyOrdinal(HKEY root)
{
    for (Integer i = 0; i < 6; ++i)
        if (Roots[i] == root)
            return i;
    throw Exception(Format("Unknown root key %d", {static_cast<long long>(root)}));
}

void WriteRegString(HKEY root, const std::string& key, const std::string& name, const std::string& value)
{
    WriteValue(root, key, name, value, [&](TRegistry& reg) { reg.WriteString(name, value); });
}

void WriteRegInteger(HKEY root, const std::string& key, const std::string& name, Integer value)
{
    WriteValue(root, key, name, IntToStr(value), [&](TRegistry& reg) { reg.WriteInteger(name, value); });
}

std::string ReadRegString(HKEY root, const std::string& key, const std::string& name, const std::string& def)
{
    try {
        TdrvnRegistry reg(KEY_READ);
        reg.SetRootKey(root);
        if (reg.OpenKeyReadOnly(Absolute(key)) && reg.ValueExists(name))
            return reg.ReadString(name);
    } catch (const ERegistryException&) {
    }
    return def;
}

Integer ReadRegInteger(HKEY root, const std::string& key, const std::string& name, Integer def)
{
    try {
        TdrvnRegistry reg(KEY_READ);
        reg.SetRootKey(root);
        if (reg.OpenKeyReadOnly(Absolute(key)) && reg.ValueExists(name))
            return reg.ReadInteger(name);
    } catch (const ERegistryException&) {
    }
    return def;
}

bool DeleteRegKey(HKEY root, const std::string& key)
{
    TdrvnRegistry reg;
    reg.SetRootKey(root);
    return reg.DeleteKeyTree(Absolute(key));
}

bool WriteRunOnceValue(const std::string& name, const std::string& value, bool unique)
{
    TdrvnRegistry reg;
    reg.SetRootKey(NTFamily.Contains(GetOSVersionType()) ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE);
    try {
        if (!reg.OpenOrCreateKey(RunOnceKey))
            return false;
        std::string actual = name;
        for (int suffix = 1; unique && reg.ValueExists(actual); ++suffix)
            actual = name + IntToStr(suffix);
        reg.WriteString(actual, value);
        return true;
    } catch (const ERegistryException&) {
        return false;
    }
}

} // namespace orvex
