#include "platform/Registry.h"

#include "platform/FileIO.h"
#include "platform/WinPaths.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace orvex {

// File layout, little-endian, written field by field:
//   8 bytes "ORVXREG" and a 1 (the format), uint32 count of roots (6),
//   per root in the order of RootOrder a key record, then uint32 CRC-32 of
//   everything before it.
//   key record: string name, uint32 value count, per value (string name,
//   uint32 type, string data), uint32 subkey count, the subkeys' records.
//   string: uint32 length, the bytes.

namespace {

constexpr HKEY RootOrder[6] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE,
                               HKEY_USERS,        HKEY_CURRENT_CONFIG, HKEY_DYN_DATA};
constexpr char Magic[8] = {'O', 'R', 'V', 'X', 'R', 'E', 'G', 1};
constexpr int MaxDepth = 512;

int RootIndex(HKEY root)
{
    for (int i = 0; i < 6; ++i)
        if (RootOrder[i] == root)
            return i;
    return -1;
}

std::uint32_t Crc32(const std::string& data)
{
    static std::uint32_t table[256];
    static const bool ready = [] {
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
        return true;
    }();
    (void)ready;
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char b : data)
        crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

std::vector<std::string> SplitKeyPath(const std::string& path)
{
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c == '\\') {
            if (!part.empty())
                parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty())
        parts.push_back(part);
    return parts;
}

void PutU32(std::string& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void PutStr(std::string& out, const std::string& s)
{
    PutU32(out, static_cast<std::uint32_t>(s.size()));
    out += s;
}

struct TReader {
    const std::string& Data;
    std::size_t Pos = 0;
    bool GetU32(std::uint32_t& v)
    {
        if (Data.size() - Pos < 4)
            return false;
        v = 0;
        for (int i = 0; i < 4; ++i)
            v |= static_cast<std::uint32_t>(static_cast<unsigned char>(Data[Pos + i])) << (8 * i);
        Pos += 4;
        return true;
    }
    bool GetStr(std::string& s)
    {
        std::uint32_t len = 0;
        if (!GetU32(len) || Data.size() - Pos < len)
            return false;
        s.assign(Data, Pos, len);
        Pos += len;
        return true;
    }
};

template <class Stamp>
Stamp StampOf(const struct stat& st)
{
    Stamp stamp;
    stamp.Exists = true;
    stamp.Device = st.st_dev;
    stamp.Inode = st.st_ino;
    stamp.Size = static_cast<std::uint64_t>(st.st_size);
    stamp.MTimeSec = st.st_mtim.tv_sec;
    stamp.MTimeNsec = st.st_mtim.tv_nsec;
    return stamp;
}

std::mutex& FolderLock()
{
    static std::mutex lock;
    return lock;
}

std::string& FolderSetting()
{
    static std::string folder;
    return folder;
}

} // namespace

struct TRegistryStore::TKeyNode {
    std::string Name;
    std::vector<TRegValue> Values;
    std::vector<std::unique_ptr<TKeyNode>> SubKeys; // ordered by name ignoring case

    TKeyNode* Child(const std::string& name) const
    {
        auto it = std::lower_bound(SubKeys.begin(), SubKeys.end(), name,
                                   [](const std::unique_ptr<TKeyNode>& k, const std::string& n) {
                                       return CompareWinNames(k->Name, n) < 0;
                                   });
        return it != SubKeys.end() && CompareWinNames((*it)->Name, name) == 0 ? it->get() : nullptr;
    }
    TKeyNode* AddChild(const std::string& name)
    {
        auto it = std::lower_bound(SubKeys.begin(), SubKeys.end(), name,
                                   [](const std::unique_ptr<TKeyNode>& k, const std::string& n) {
                                       return CompareWinNames(k->Name, n) < 0;
                                   });
        auto node = std::make_unique<TKeyNode>();
        node->Name = name;
        return SubKeys.insert(it, std::move(node))->get();
    }
    TRegValue* Value(const std::string& name)
    {
        for (TRegValue& v : Values)
            if (CompareWinNames(v.Name, name) == 0)
                return &v;
        return nullptr;
    }
    void Write(std::string& out) const
    {
        PutStr(out, Name);
        PutU32(out, static_cast<std::uint32_t>(Values.size()));
        for (const TRegValue& v : Values) {
            PutStr(out, v.Name);
            PutU32(out, v.Type);
            PutStr(out, v.Data);
        }
        PutU32(out, static_cast<std::uint32_t>(SubKeys.size()));
        for (const auto& k : SubKeys)
            k->Write(out);
    }
    bool Read(TReader& in, int depth)
    {
        if (depth > MaxDepth || !in.GetStr(Name))
            return false;
        std::uint32_t count = 0;
        if (!in.GetU32(count))
            return false;
        for (std::uint32_t i = 0; i < count; ++i) {
            TRegValue v;
            if (!in.GetStr(v.Name) || !in.GetU32(v.Type) || !in.GetStr(v.Data))
                return false;
            Values.push_back(std::move(v));
        }
        if (!in.GetU32(count))
            return false;
        for (std::uint32_t i = 0; i < count; ++i) {
            auto node = std::make_unique<TKeyNode>();
            if (!node->Read(in, depth + 1))
                return false;
            SubKeys.push_back(std::move(node));
        }
        return true;
    }
};

bool IsRegistryRoot(HKEY root)
{
    return RootIndex(root) >= 0;
}

std::string RegistryFolder()
{
    std::lock_guard<std::mutex> guard(FolderLock());
    if (!FolderSetting().empty())
        return FolderSetting();
    return WindowsRoot() + "/registry";
}

void SetRegistryFolder(const std::string& nativeFolder)
{
    std::lock_guard<std::mutex> guard(FolderLock());
    FolderSetting() = nativeFolder;
}

TRegistryStore::TRegistryStore(std::string folder) : FFolder(std::move(folder))
{
    for (int i = 0; i < 6; ++i)
        FRoots.push_back(std::make_unique<TKeyNode>());
}

TRegistryStore::~TRegistryStore() = default;

std::shared_ptr<TRegistryStore> TRegistryStore::Default()
{
    static std::mutex lock;
    static std::shared_ptr<TRegistryStore> store;
    const std::string folder = RegistryFolder();
    std::lock_guard<std::mutex> guard(lock);
    if (!store || store->Folder() != folder)
        store = std::make_shared<TRegistryStore>(folder);
    return store;
}

std::string TRegistryStore::FileName() const
{
    return FFolder + "/registry.dat";
}

std::string TRegistryStore::LockFileName() const
{
    return FFolder + "/registry.lck";
}

bool TRegistryStore::ReadFile(std::vector<std::unique_ptr<TKeyNode>>& roots, TFileStamp& stamp)
{
    TFileError error = TFileError::None;
    auto file = TPlatformFile::Open(FileName(), TFileAccess::Read, TFileShare::DenyNone,
                                    TFileCreate::OpenExisting, &error);
    roots.clear();
    for (int i = 0; i < 6; ++i)
        roots.push_back(std::make_unique<TKeyNode>());
    if (!file) {
        stamp = TFileStamp{};
        return error == TFileError::NotFound || error == TFileError::PathNotFound;
    }
    struct stat st {};
    if (::fstat(file->Handle(), &st) != 0)
        return false;
    std::string data(static_cast<std::size_t>(st.st_size), '\0');
    if (file->ReadAt(0, data.data(), st.st_size) != st.st_size)
        return false;
    stamp = StampOf<TFileStamp>(st);

    if (data.size() < 16 || data.compare(0, 8, Magic, 8) != 0)
        return false;
    TReader crcIn{data, data.size() - 4};
    std::uint32_t crc = 0;
    crcIn.GetU32(crc);
    const std::string body = data.substr(0, data.size() - 4);
    if (Crc32(body) != crc)
        return false;
    TReader in{body, 8};
    std::uint32_t count = 0;
    if (!in.GetU32(count) || count != 6)
        return false;
    for (int i = 0; i < 6; ++i)
        if (!roots[i]->Read(in, 0))
            return false;
    return in.Pos == body.size();
}

bool TRegistryStore::Refresh()
{
    TFileStamp now;
    struct stat st {};
    if (::stat(FileName().c_str(), &st) == 0)
        now = StampOf<TFileStamp>(st);
    if (FLoaded && now == FStamp)
        return !FCorrupt;
    std::vector<std::unique_ptr<TKeyNode>> roots;
    TFileStamp stamp;
    const bool ok = ReadFile(roots, stamp);
    FLoaded = true;
    FStamp = stamp;
    FCorrupt = !ok;
    if (ok)
        FRoots = std::move(roots);
    return ok;
}

bool TRegistryStore::WriteFile()
{
    std::string data(Magic, 8);
    PutU32(data, 6);
    for (const auto& root : FRoots)
        root->Write(data);
    PutU32(data, Crc32(data));

    const std::string temp = FileName() + ".new";
    {
        auto file = TPlatformFile::Open(temp, TFileAccess::Write, TFileShare::Exclusive,
                                        TFileCreate::CreateAlways);
        if (!file)
            return false;
        const auto size = static_cast<std::int64_t>(data.size());
        if (file->WriteAt(0, data.data(), size) != size || !file->Flush()) {
            file.reset();
            DeleteFile(temp);
            return false;
        }
    }
    if (!RenameFile(temp, FileName())) {
        DeleteFile(temp);
        return false;
    }
    return true;
}

TRegistryStore::TKeyNode* TRegistryStore::Find(HKEY root, const std::string& path)
{
    const int index = RootIndex(root);
    if (index < 0)
        return nullptr;
    TKeyNode* node = FRoots[index].get();
    for (const std::string& part : SplitKeyPath(path)) {
        node = node->Child(part);
        if (!node)
            return nullptr;
    }
    return node;
}

// Runs change (which answers whether it changed anything) on the latest
// contents under the store's lock, and replaces the file when it did.
template <class Change>
TRegResult TRegistryStore::Modify(Change change)
{
    std::lock_guard<std::mutex> guard(FLock);
    if (!DirectoryExists(FFolder) && !ForceDirectories(FFolder))
        return TRegResult::Failed;
    auto lockFile = TPlatformFile::Open(LockFileName(), TFileAccess::ReadWrite,
                                        TFileShare::DenyNone, TFileCreate::OpenAlways);
    if (!lockFile)
        return TRegResult::Failed;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(LockTimeout);
    while (!lockFile->LockRange(0, 1)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return TRegResult::Failed;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    TRegResult result = TRegResult::Failed;
    if (Refresh()) {
        bool changed = false;
        result = change(changed);
        struct stat st {};
        if (changed && WriteFile() && ::stat(FileName().c_str(), &st) == 0) {
            FStamp = StampOf<TFileStamp>(st); // our memory copy is the new file
        } else if (changed) {
            result = TRegResult::Failed;
            FLoaded = false; // the memory copy is ahead of the file: read it again
        }
    }
    lockFile->UnlockRange(0, 1);
    return result;
}

bool TRegistryStore::KeyExists(HKEY root, const std::string& path)
{
    return Inspect(root, path, [](TKeyNode&) { return TRegResult::Ok; }) == TRegResult::Ok;
}

namespace {
TRegChangeObserver GRegObserver = nullptr;
void* GRegObserverContext = nullptr;
} // namespace

void SetRegistryChangeObserver(TRegChangeObserver observer, void* context)
{
    GRegObserver = observer;
    GRegObserverContext = context;
}

TRegResult TRegistryStore::CreateKey(HKEY root, const std::string& path, bool* created)
{
    if (created)
        *created = false;
    const int index = RootIndex(root);
    if (index < 0)
        return TRegResult::InvalidRoot;
    if (GRegObserver) {
        std::string prefix;
        for (const std::string& part : SplitKeyPath(path)) {
            prefix += (prefix.empty() ? "" : "\\") + part;
            if (!KeyExists(root, prefix)) {
                TRegChange change;
                change.Kind = TRegChange::KeyCreated;
                change.Root = root;
                change.Path = prefix;
                GRegObserver(change, GRegObserverContext);
                break;
            }
        }
    }
    return Modify([&](bool& changed) {
        TKeyNode* node = FRoots[index].get();
        for (const std::string& part : SplitKeyPath(path)) {
            TKeyNode* next = node->Child(part);
            if (!next) {
                next = node->AddChild(part);
                changed = true;
            }
            node = next;
        }
        if (created)
            *created = changed;
        return TRegResult::Ok;
    });
}

TRegResult TRegistryStore::CreateKeyWithValues(HKEY root, const std::string& path,
                                               const std::vector<TRegValue>& values)
{
    const int index = RootIndex(root);
    if (index < 0 || SplitKeyPath(path).empty())
        return TRegResult::InvalidRoot;
    if (KeyExists(root, path))
        return TRegResult::Failed;
    if (GRegObserver) {
        std::string prefix;
        for (const std::string& part : SplitKeyPath(path)) {
            prefix += (prefix.empty() ? "" : "\\") + part;
            if (!KeyExists(root, prefix)) {
                TRegChange change;
                change.Kind = TRegChange::KeyCreated;
                change.Root = root;
                change.Path = prefix;
                GRegObserver(change, GRegObserverContext);
                break;
            }
        }
    }
    return Modify([&](bool& changed) {
        TKeyNode* node = FRoots[index].get();
        bool created = false;
        for (const std::string& part : SplitKeyPath(path)) {
            TKeyNode* next = node->Child(part);
            if (!next) {
                next = node->AddChild(part);
                created = true;
            }
            node = next;
        }
        if (!created)
            return TRegResult::Failed; // made by another writer meanwhile
        for (const TRegValue& value : values) {
            if (TRegValue* existing = node->Value(value.Name))
                *existing = value;
            else
                node->Values.push_back(value);
        }
        changed = true;
        return TRegResult::Ok;
    });
}

// Runs read on the key at path in the latest contents.
template <class Read>
TRegResult TRegistryStore::Inspect(HKEY root, const std::string& path, Read read)
{
    if (!IsRegistryRoot(root))
        return TRegResult::InvalidRoot;
    std::lock_guard<std::mutex> guard(FLock);
    if (!Refresh())
        return TRegResult::Failed;
    TKeyNode* key = Find(root, path);
    return key ? read(*key) : TRegResult::NotFound;
}

TRegResult TRegistryStore::QueryValue(HKEY root, const std::string& path, const std::string& name,
                                      TRegValue& value)
{
    return Inspect(root, path, [&](TKeyNode& key) {
        const TRegValue* found = key.Value(name);
        if (!found)
            return TRegResult::NotFound;
        value = *found;
        return TRegResult::Ok;
    });
}

TRegResult TRegistryStore::SetValue(HKEY root, const std::string& path, const std::string& name,
                                    std::uint32_t type, const std::string& data)
{
    if (!IsRegistryRoot(root))
        return TRegResult::InvalidRoot;
    if (!KeyExists(root, path))
        return TRegResult::NotFound; // without taking the lock (or creating the store)
    if (GRegObserver) {
        TRegChange change;
        change.Kind = TRegChange::ValueSet;
        change.Root = root;
        change.Path = path;
        change.Name = name;
        change.HadValue = QueryValue(root, path, name, change.Former) == TRegResult::Ok;
        GRegObserver(change, GRegObserverContext);
    }
    return Modify([&](bool& changed) {
        TKeyNode* key = Find(root, path);
        if (!key)
            return TRegResult::NotFound;
        if (TRegValue* value = key->Value(name)) {
            value->Type = type;
            value->Data = data;
        } else {
            key->Values.push_back(TRegValue{name, type, data});
        }
        changed = true;
        return TRegResult::Ok;
    });
}

TRegResult TRegistryStore::DeleteValue(HKEY root, const std::string& path, const std::string& name)
{
    if (!IsRegistryRoot(root))
        return TRegResult::InvalidRoot;
    if (!KeyExists(root, path))
        return TRegResult::NotFound;
    if (GRegObserver) {
        TRegChange change;
        change.Kind = TRegChange::ValueDeleted;
        change.Root = root;
        change.Path = path;
        change.Name = name;
        change.HadValue = QueryValue(root, path, name, change.Former) == TRegResult::Ok;
        if (change.HadValue)
            GRegObserver(change, GRegObserverContext);
    }
    return Modify([&](bool& changed) {
        TKeyNode* key = Find(root, path);
        if (!key)
            return TRegResult::NotFound;
        auto it = std::find_if(key->Values.begin(), key->Values.end(), [&](const TRegValue& v) {
            return CompareWinNames(v.Name, name) == 0;
        });
        if (it == key->Values.end())
            return TRegResult::NotFound;
        key->Values.erase(it);
        changed = true;
        return TRegResult::Ok;
    });
}

TRegResult TRegistryStore::DeleteKey(HKEY root, const std::string& path)
{
    std::vector<std::string> parts = SplitKeyPath(path);
    if (!IsRegistryRoot(root) || parts.empty())
        return TRegResult::InvalidRoot;
    if (!KeyExists(root, path))
        return TRegResult::NotFound;
    const std::string last = parts.back();
    parts.pop_back();
    std::string parentPath;
    for (const std::string& part : parts)
        parentPath += part + "\\";
    return Modify([&](bool& changed) {
        TKeyNode* parent = Find(root, parentPath);
        if (!parent || !parent->Child(last))
            return TRegResult::NotFound;
        auto& subs = parent->SubKeys;
        subs.erase(std::remove_if(subs.begin(), subs.end(),
                                  [&](const std::unique_ptr<TKeyNode>& k) {
                                      return CompareWinNames(k->Name, last) == 0;
                                  }),
                   subs.end());
        changed = true;
        return TRegResult::Ok;
    });
}

TRegResult TRegistryStore::SubKeyNames(HKEY root, const std::string& path,
                                       std::vector<std::string>& names)
{
    names.clear();
    return Inspect(root, path, [&](TKeyNode& key) {
        for (const auto& sub : key.SubKeys)
            names.push_back(sub->Name);
        return TRegResult::Ok;
    });
}

TRegResult TRegistryStore::Values(HKEY root, const std::string& path, std::vector<TRegValue>& values)
{
    values.clear();
    return Inspect(root, path, [&](TKeyNode& key) {
        values = key.Values;
        return TRegResult::Ok;
    });
}

} // namespace orvex
