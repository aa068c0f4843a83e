#include "host/Registry.h"

#include <algorithm>
#include <cstring>

namespace orvex {

namespace {

[[noreturn]] void ReadError(const std::string& name)
{
    throw ERegistryException("Invalid data type for '" + name + "'");
}

[[noreturn]] void GetDataError(const std::string& name)
{
    throw ERegistryException("Failed to get data for '" + name + "'");
}

std::string LittleEndian(std::uint64_t bits, int bytes)
{
    std::string data;
    for (int i = 0; i < bytes; ++i)
        data += static_cast<char>((bits >> (8 * i)) & 0xFF);
    return data;
}

std::uint64_t FromLittleEndian(const std::string& data)
{
    std::uint64_t bits = 0;
    for (std::size_t i = data.size(); i-- > 0;)
        bits = (bits << 8) | static_cast<unsigned char>(data[i]);
    return bits;
}

// A key path without empty components: "A\B".
std::string Normalise(const std::string& path)
{
    std::string out, part;
    auto flush = [&]() {
        if (part.empty())
            return;
        if (!out.empty())
            out += '\\';
        out += part;
        part.clear();
    };
    for (char c : path) {
        if (c == '\\')
            flush();
        else
            part += c;
    }
    flush();
    return out;
}

TRegDataType DataTypeOf(std::uint32_t type)
{
    switch (type) {
    case REG_SZ: return rdString;
    case REG_EXPAND_SZ: return rdExpandString;
    case REG_DWORD: return rdInteger;
    case REG_BINARY: return rdBinary;
    default: return rdUnknown;
    }
}

} // namespace

TRegistry::TRegistry(std::uint32_t access) : FStore(TRegistryStore::Default()), FAccess(access) {}

TRegistry::~TRegistry()
{
    CloseKey();
}

void TRegistry::SetRootKey(HKEY value)
{
    if (value != FRootKey) {
        CloseKey();
        FRootKey = value;
    }
}

void TRegistry::CloseKey()
{
    FOpen = false;
    FWritable = false;
    FCurrentPath.clear();
}

std::string TRegistry::KeyPath(const std::string& key) const
{
    if ((!key.empty() && key[0] == '\\') || !FOpen)
        return Normalise(key);
    return Normalise(FCurrentPath + "\\" + key);
}

bool TRegistry::CanCreate(const std::string& key) const
{
    // A key opened read-only cannot have keys created under it.
    const bool relative = key.empty() || key[0] != '\\';
    return !(relative && FOpen && !FWritable);
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate)
{
    const std::string path = KeyPath(key);
    const bool ok = canCreate ? CanCreate(key) && FStore->CreateKey(FRootKey, path) == TRegResult::Ok
                              : FStore->KeyExists(FRootKey, path);
    if (!ok)
        return false;
    FOpen = true;
    FWritable = (FAccess & KEY_SET_VALUE) != 0;
    FCurrentPath = path;
    return true;
}

bool TRegistry::OpenKeyReadOnly(const std::string& key)
{
    const std::string path = KeyPath(key);
    if (!FStore->KeyExists(FRootKey, path))
        return false;
    FOpen = true;
    FWritable = false;
    FCurrentPath = path;
    return true;
}

bool TRegistry::CreateKey(const std::string& key)
{
    if (!CanCreate(key) || FStore->CreateKey(FRootKey, KeyPath(key)) != TRegResult::Ok)
        throw ERegistryException("Failed to create key " + key);
    return true;
}

bool TRegistry::DeleteKey(const std::string& key)
{
    const std::string path = KeyPath(key);
    return !path.empty() && FStore->DeleteKey(FRootKey, path) == TRegResult::Ok;
}

bool TRegistry::DeleteValue(const std::string& name)
{
    return Writable() && FStore->DeleteValue(FRootKey, FCurrentPath, name) == TRegResult::Ok;
}

bool TRegistry::KeyExists(const std::string& key)
{
    return FStore->KeyExists(FRootKey, KeyPath(key));
}

bool TRegistry::ValueExists(const std::string& name)
{
    TRegValue value;
    return GetValue(name, value);
}

bool TRegistry::HasSubKeys()
{
    TRegKeyInfo info;
    return GetKeyInfo(info) && info.NumSubKeys > 0;
}

void TRegistry::GetKeyNames(TStrings* strings)
{
    strings->Clear();
    std::vector<std::string> names;
    FStore->SubKeyNames(FRootKey, FCurrentPath, names);
    for (const std::string& name : names)
        strings->Add(name);
}

void TRegistry::GetValueNames(TStrings* strings)
{
    strings->Clear();
    std::vector<TRegValue> values;
    FStore->Values(FRootKey, FCurrentPath, values);
    for (const TRegValue& value : values)
        strings->Add(value.Name);
}

bool TRegistry::GetKeyInfo(TRegKeyInfo& info)
{
    info = TRegKeyInfo{};
    std::vector<std::string> names;
    std::vector<TRegValue> values;
    if (FStore->SubKeyNames(FRootKey, FCurrentPath, names) != TRegResult::Ok ||
        FStore->Values(FRootKey, FCurrentPath, values) != TRegResult::Ok)
        return false;
    info.NumSubKeys = static_cast<int>(names.size());
    for (const std::string& n : names)
        info.MaxSubKeyLen = std::max(info.MaxSubKeyLen, static_cast<int>(n.size()));
    info.NumValues = static_cast<int>(values.size());
    for (const TRegValue& v : values) {
        info.MaxValueLen = std::max(info.MaxValueLen, static_cast<int>(v.Name.size()));
        info.MaxDataLen = std::max(info.MaxDataLen, static_cast<int>(v.Data.size()) + 1);
    }
    return true;
}

bool TRegistry::GetDataInfo(const std::string& name, TRegDataInfo& info)
{
    TRegValue value;
    info = TRegDataInfo{};
    if (!GetValue(name, value))
        return false;
    info.RegData = DataTypeOf(value.Type);
    // Strings count their terminating zero, as the system reports them.
    const bool text = value.Type == REG_SZ || value.Type == REG_EXPAND_SZ;
    info.DataSize = static_cast<int>(value.Data.size()) + (text ? 1 : 0);
    return true;
}

int TRegistry::GetDataSize(const std::string& name)
{
    TRegDataInfo info;
    return GetDataInfo(name, info) ? info.DataSize : -1;
}

TRegDataType TRegistry::GetDataType(const std::string& name)
{
    TRegDataInfo info;
    return GetDataInfo(name, info) ? info.RegData : rdUnknown;
}

bool TRegistry::Writable() const
{
    return FOpen ? FWritable : (FAccess & KEY_SET_VALUE) != 0;
}

bool TRegistry::GetValue(const std::string& name, TRegValue& value)
{
    return FStore->QueryValue(FRootKey, FCurrentPath, name, value) == TRegResult::Ok;
}

void TRegistry::PutValue(const std::string& name, std::uint32_t type, const std::string& data)
{
    if (!Writable() || FStore->SetValue(FRootKey, FCurrentPath, name, type, data) != TRegResult::Ok)
        throw ERegistryException("Failed to set data for '" + name + "'");
}

std::string TRegistry::ReadString(const std::string& name)
{
    TRegValue value;
    if (!GetValue(name, value))
        return {};
    if (value.Type != REG_SZ && value.Type != REG_EXPAND_SZ)
        ReadError(name);
    // The text ends at its first zero, as the system's string does.
    return value.Data.substr(0, value.Data.find('\0'));
}

int TRegistry::ReadInteger(const std::string& name)
{
    TRegValue value;
    if (!GetValue(name, value))
        GetDataError(name);
    if (value.Type != REG_DWORD || value.Data.size() != 4)
        ReadError(name);
    return static_cast<int>(static_cast<std::uint32_t>(FromLittleEndian(value.Data)));
}

bool TRegistry::ReadBool(const std::string& name)
{
    return ReadInteger(name) != 0;
}

double TRegistry::ReadFloat(const std::string& name)
{
    TRegValue value;
    if (!GetValue(name, value))
        GetDataError(name);
    if (value.Type != REG_BINARY || value.Data.size() != sizeof(double))
        ReadError(name);
    const std::uint64_t bits = FromLittleEndian(value.Data);
    double result;
    std::memcpy(&result, &bits, sizeof result);
    return result;
}

TDateTime TRegistry::ReadDateTime(const std::string& name)
{
    return ReadFloat(name);
}

int TRegistry::ReadBinaryData(const std::string& name, void* buffer, int bufSize)
{
    TRegValue value;
    if (!GetValue(name, value))
        GetDataError(name);
    if (value.Type != REG_BINARY && value.Type != REG_NONE)
        ReadError(name);
    if (static_cast<int>(value.Data.size()) > bufSize)
        GetDataError(name);
    if (!value.Data.empty())
        std::memcpy(buffer, value.Data.data(), value.Data.size());
    return static_cast<int>(value.Data.size());
}

void TRegistry::WriteString(const std::string& name, const std::string& value)
{
    PutValue(name, REG_SZ, value);
}

void TRegistry::WriteExpandString(const std::string& name, const std::string& value)
{
    PutValue(name, REG_EXPAND_SZ, value);
}

void TRegistry::WriteInteger(const std::string& name, int value)
{
    PutValue(name, REG_DWORD, LittleEndian(static_cast<std::uint32_t>(value), 4));
}

void TRegistry::WriteBool(const std::string& name, bool value)
{
    WriteInteger(name, value ? 1 : 0);
}

void TRegistry::WriteFloat(const std::string& name, double value)
{
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    PutValue(name, REG_BINARY, LittleEndian(bits, 8));
}

void TRegistry::WriteDateTime(const std::string& name, TDateTime value)
{
    WriteFloat(name, value);
}

void TRegistry::WriteBinaryData(const std::string& name, const void* buffer, int bufSize)
{
    PutValue(name, REG_BINARY, std::string(static_cast<const char*>(buffer), static_cast<std::size_t>(bufSize)));
}

} // namespace orvex
