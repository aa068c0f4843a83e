#pragma once
// The framework's registry class over our registry store (platform/Registry.h).
//
// A TRegistry has a root key (HKEY_CURRENT_USER at first) and at most one
// open key. A key name that begins with "\" is taken from the root; any other
// from the open key. Typed reads raise ERegistryException when the value has
// another type; a missing string reads as empty, while other missing values
// raise. Writes to a key opened read-only (or with an access without
// KEY_SET_VALUE) raise, and no key is created under a key opened read-only.

#include "host/Classes.h"
#include "platform/Registry.h"

#include <memory>
#include <string>

namespace orvex {

class ERegistryException : public Exception {
public:
    using Exception::Exception;
};

enum TRegDataType { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

struct TRegKeyInfo {
    int NumSubKeys = 0;
    int MaxSubKeyLen = 0;
    int NumValues = 0;
    int MaxValueLen = 0;
    int MaxDataLen = 0;
};

struct TRegDataInfo {
    TRegDataType RegData = rdUnknown;
    int DataSize = 0;
};

class TRegistry : public TObject {
public:
    explicit TRegistry(std::uint32_t access = KEY_ALL_ACCESS);
    ~TRegistry() override;

    HKEY RootKey() const { return FRootKey; }
    void SetRootKey(HKEY value); // closes the open key
    std::uint32_t Access() const { return FAccess; }
    void SetAccess(std::uint32_t value) { FAccess = value; }
    // Whether a key is open, and its path under the root (no leading "\").
    bool HasCurrentKey() const { return FOpen; }
    const std::string& CurrentPath() const { return FCurrentPath; }
    bool LazyWrite = true; // every change reaches the file at once anyway

    void CloseKey();
    bool OpenKey(const std::string& key, bool canCreate);
    bool OpenKeyReadOnly(const std::string& key);
    // Raises ERegistryException "Failed to create key %s" on failure.
    bool CreateKey(const std::string& key);
    // Deletes the key with all its subkeys.
    bool DeleteKey(const std::string& key);
    bool DeleteValue(const std::string& name);
    bool KeyExists(const std::string& key);
    bool ValueExists(const std::string& name);
    bool HasSubKeys();
    void GetKeyNames(TStrings* strings);
    void GetValueNames(TStrings* strings);
    bool GetKeyInfo(TRegKeyInfo& info);
    bool GetDataInfo(const std::string& name, TRegDataInfo& info);
    int GetDataSize(const std::string& name); // -1 when missing
    TRegDataType GetDataType(const std::string& name);

    std::string ReadString(const std::string& name);
    int ReadInteger(const std::string& name);
    bool ReadBool(const std::string& name);
    double ReadFloat(const std::string& name);
    TDateTime ReadDateTime(const std::string& name);
    // The number of bytes read; raises when the buffer is too small.
    int ReadBinaryData(const std::string& name, void* buffer, int bufSize);

    void WriteString(const std::string& name, const std::string& value);
    void WriteExpandString(const std::string& name, const std::string& value);
    void WriteInteger(const std::string& name, int value);
    void WriteBool(const std::string& name, bool value);
    void WriteFloat(const std::string& name, double value);
    void WriteDateTime(const std::string& name, TDateTime value);
    void WriteBinaryData(const std::string& name, const void* buffer, int bufSize);

protected:
    // The full path of a key name under the root.
    std::string KeyPath(const std::string& key) const;
    TRegistryStore& Store() { return *FStore; }

private:
    bool Writable() const;
    bool CanCreate(const std::string& key) const;
    bool GetValue(const std::string& name, TRegValue& value);
    void PutValue(const std::string& name, std::uint32_t type, const std::string& data);
    std::shared_ptr<TRegistryStore> FStore;
    HKEY FRootKey = HKEY_CURRENT_USER;
    std::uint32_t FAccess;
    bool FOpen = false;
    bool FWritable = false;
    std::string FCurrentPath;
};

} // namespace orvex
