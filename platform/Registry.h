#pragma once
// Our own registry: a tree of keys under six roots, each key holding named,
// typed values, persisted to one file.
//
// Key and value names ignore case and keep it. Subkeys are listed in the
// order of their names ignoring case, values in the order they were first
// written. The default value of a key has the empty name.
//
// Every operation works on the file's latest contents: a reader re-reads the
// file whenever another writer has replaced it, and a writer takes the store's
// lock, re-reads, applies its one change and replaces the file atomically (a
// new file renamed over the old one). So writers in several processes never
// lose each other's changes, and a reader never sees a half-written file.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace orvex {

using HKEY = std::uint32_t;
inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
inline constexpr HKEY HKEY_USERS = 0x80000003u;
inline constexpr HKEY HKEY_CURRENT_CONFIG = 0x80000005u;
inline constexpr HKEY HKEY_DYN_DATA = 0x80000006u;

// Value types as the registry stores them.
inline constexpr std::uint32_t REG_NONE = 0;
inline constexpr std::uint32_t REG_SZ = 1;
inline constexpr std::uint32_t REG_EXPAND_SZ = 2;
inline constexpr std::uint32_t REG_BINARY = 3;
inline constexpr std::uint32_t REG_DWORD = 4;

// Access rights of an opened key.
inline constexpr std::uint32_t KEY_QUERY_VALUE = 0x0001;
inline constexpr std::uint32_t KEY_SET_VALUE = 0x0002;
inline constexpr std::uint32_t KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr std::uint32_t KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr std::uint32_t KEY_NOTIFY = 0x0010;
inline constexpr std::uint32_t KEY_CREATE_LINK = 0x0020;
inline constexpr std::uint32_t KEY_READ = 0x20019;
inline constexpr std::uint32_t KEY_WRITE = 0x20006;
inline constexpr std::uint32_t KEY_EXECUTE = 0x20019;
inline constexpr std::uint32_t KEY_ALL_ACCESS = 0xF003F;

// Whether root is one of the six roots.
bool IsRegistryRoot(HKEY root);

// One value. Data holds the stored bytes: a string's bytes without a
// terminator for REG_SZ and REG_EXPAND_SZ, four little-endian bytes for
// REG_DWORD, the bytes themselves for REG_BINARY.
struct TRegValue {
    std::string Name;
    std::uint32_t Type = REG_NONE;
    std::string Data;
};

enum class TRegResult {
    Ok,
    NotFound,     // the key (or value) does not exist
    InvalidRoot,  // not one of the six roots, or an attempt to delete a root
    Failed,       // the file could not be read, locked or replaced
};

// A change about to be made to a store: the value's former state (or the
// first key a CreateKey adds). Observers record these to undo an interrupted
// installation; they must not write to the registry themselves.
struct TRegChange {
    enum TKind { KeyCreated, ValueSet, ValueDeleted } Kind = ValueSet;
    HKEY Root = 0;
    std::string Path;  // the key (for KeyCreated: the first key that is new)
    std::string Name;  // the value's name
    bool HadValue = false;
    TRegValue Former;  // the value before the change, when HadValue
};
using TRegChangeObserver = void (*)(const TRegChange& change, void* context);
// One program-wide observer (nullptr: none), told before each change.
void SetRegistryChangeObserver(TRegChangeObserver observer, void* context);

// The folder that holds the registry file: at first the "registry" folder
// under the Windows root (platform/WinPaths.h), until set.
std::string RegistryFolder();
void SetRegistryFolder(const std::string& nativeFolder);

class TRegistryStore {
public:
    // The store whose file lies in folder ("registry.dat", locked through
    // "registry.lck" beside it). Nothing is read or written until needed.
    explicit TRegistryStore(std::string folder);
    ~TRegistryStore();
    TRegistryStore(const TRegistryStore&) = delete;
    TRegistryStore& operator=(const TRegistryStore&) = delete;

    // The store in RegistryFolder() (a new one whenever the folder changed).
    static std::shared_ptr<TRegistryStore> Default();

    const std::string& Folder() const { return FFolder; }
    std::string FileName() const;
    std::string LockFileName() const;

    // Paths are key names separated by "\"; empty components are ignored, so
    // "" and "\" name the root itself.
    bool KeyExists(HKEY root, const std::string& path);
    // Creates the key and every missing key above it; created tells whether
    // the key is new.
    TRegResult CreateKey(HKEY root, const std::string& path, bool* created = nullptr);
    // Creates a new key with its values in one change of the file, so that no
    // reader (nor a program killed half-way) ever sees the key without them.
    // The key must not exist yet (Failed when it does).
    TRegResult CreateKeyWithValues(HKEY root, const std::string& path, const std::vector<TRegValue>& values);
    TRegResult QueryValue(HKEY root, const std::string& path, const std::string& name,
                          TRegValue& value);
    // The key must exist.
    TRegResult SetValue(HKEY root, const std::string& path, const std::string& name,
                        std::uint32_t type, const std::string& data);
    TRegResult DeleteValue(HKEY root, const std::string& path, const std::string& name);
    // Deletes the key with all its subkeys and values; a root cannot go.
    TRegResult DeleteKey(HKEY root, const std::string& path);
    TRegResult SubKeyNames(HKEY root, const std::string& path, std::vector<std::string>& names);
    TRegResult Values(HKEY root, const std::string& path, std::vector<TRegValue>& values);

    // How long a writer waits for the lock before it gives up (milliseconds).
    int LockTimeout = 10000;

private:
    struct TKeyNode;
    struct TFileStamp {
        bool Exists = false;
        std::uint64_t Device = 0, Inode = 0, Size = 0;
        std::int64_t MTimeSec = 0, MTimeNsec = 0;
        bool operator==(const TFileStamp&) const = default;
    };
    bool Refresh();                                      // under FLock
    bool ReadFile(std::vector<std::unique_ptr<TKeyNode>>& roots, TFileStamp& stamp);
    bool WriteFile();                                    // under FLock and the file lock
    TKeyNode* Find(HKEY root, const std::string& path);  // nullptr when missing
    template <class Change>
    TRegResult Modify(Change change);
    template <class Read>
    TRegResult Inspect(HKEY root, const std::string& path, Read read);

    std::string FFolder;
    std::mutex FLock;
    std::vector<std::unique_ptr<TKeyNode>> FRoots; // the six roots in a fixed order
    TFileStamp FStamp;
    bool FLoaded = false;
    bool FCorrupt = false;
};

} // namespace orvex
