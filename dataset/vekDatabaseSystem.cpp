// The system tables of a file connection: the one place where the
// connection's TVekSystemTables is chosen (NewSystemTables).
//
// Until the master and system tables are built, a file connection keeps its
// table definitions in a plain catalogue: one run of pages owned by
// CatalogueOwner, whose address and page count live in two spare slots of
// the global header. Every change writes a new run and frees the old one
// under the header write lock, so a transaction's rollback and a crash keep
// the catalogue whole. The catalogue has no security tables (a secured
// database cannot log anyone on) and no generators.
//
// Catalogue bytes: "VKCT", u32 length of what follows, then per table: u8
// internal flag, u16 name length, the name, u32 text length, the
// definition's textual form.

#include "dataset/vekDatabase.h"

#include "host/Streaming.h"
#include "host/SysUtils.h"
#include "storage/vekByteOrder.h"

#include <algorithm>
#include <cstring>

namespace orvex {

namespace {

constexpr Integer CatalogueOwner = 2047; // the last table id a map entry holds
constexpr Integer CataloguePageType = 10;
constexpr Integer OfsCatalogueAddress = 120;
constexpr Integer OfsCataloguePages = 124;
constexpr Byte CatalogueMagic[4] = {'V', 'K', 'C', 'T'};
constexpr Integer CatalogueHeader = 8;
constexpr Cardinal MaxCataloguePages = 16384; // 64 MB of definitions at 4096-byte pages

constexpr Integer ErrInternal = 8581;
constexpr Integer ErrNoSuchTable = 10024;
constexpr Integer ErrTableExists = 13060;
constexpr Integer ErrLogin = 10015;
constexpr Integer ErrTableType = 10766;
constexpr const char* UnreadableDefinition = "Internal error - the table definition could not be read";

struct TCatalogueEntry {
    bool Internal = false;
    std::string Name;
    std::string Text;
};

class TCatalogueSystemTables : public TVekSystemTables {
public:
    using TVekSystemTables::TVekSystemTables;

    void CreateTables() override {}
    void Open() override {}
    void Close() override {}

    void ReadTableDef(const std::string& Name, TTableDef* Def) override
    {
        const std::vector<TCatalogueEntry> entries = Load();
        const auto entry = Find(entries, Name, Def->InternalTable());
        if (entry == entries.end())
            VekDatabaseError(ErrNoSuchTable, "TVekDataBase.InternalGetTableDef", Name, DataBase());
        try {
            ReadComponentText(entry->Text, Def);
        } catch (const EVekDatabaseError&) {
            throw;
        } catch (const std::exception&) {
            VekDatabaseError(ErrInternal, "TVekDataBase.InternalGetTableDef", UnreadableDefinition, DataBase());
        }
    }

    void WriteTableDef(const std::string& Name, TTableDef* Def, bool New) override
    {
        const char* context = "TVekDataBase.InternalUpdateTableDef";
        std::vector<TCatalogueEntry> entries = Load();
        const bool internal = Def->InternalTable();
        if (New) {
            if (Find(entries, Def->TableName(), internal) != entries.end())
                VekDatabaseError(ErrTableExists, context, Def->TableName(), DataBase());
            DataBase()->GetTableDefMgr(Def)->CreateTableDef(Def->TableName(), Def);
            entries.push_back({internal, Def->TableName(), WriteComponentText(Def)});
        } else {
            const bool renamed = !SameText(Name, Def->TableName());
            if (renamed && Find(entries, Name, internal) != entries.end())
                VekDatabaseError(ErrTableExists, context, Name, DataBase());
            const auto entry = Find(entries, Def->TableName(), internal);
            if (entry == entries.end())
                VekDatabaseError(ErrNoSuchTable, context, Def->TableName(), DataBase());
            if (renamed)
                Def->SetTableName(Name);
            entry->Name = Def->TableName();
            entry->Text = WriteComponentText(Def);
        }
        Save(entries);
    }

    void RemoveTableDef(TTableDef* Def) override
    {
        std::vector<TCatalogueEntry> entries = Load();
        const auto entry = Find(entries, Def->TableName(), Def->InternalTable());
        if (entry == entries.end())
            VekDatabaseError(ErrInternal, "TVekDataBase.DeleteTable",
                             "Unable to delete internal table definition: " + Def->TableName(), DataBase());
        entries.erase(entry);
        Save(entries);
    }

    void GetTableNames(TStrings* List, bool System) override
    {
        std::vector<std::string> names;
        for (const TCatalogueEntry& entry : Load())
            if (entry.Internal == System)
                names.push_back(entry.Name.substr(0, static_cast<std::size_t>(VekMaxObjectNameLength)));
        std::stable_sort(names.begin(), names.end(),
                         [](const std::string& A, const std::string& B) { return CompareText(A, B) < 0; });
        for (const std::string& name : names)
            List->Add(name);
    }

    Integer GetObjectIDFromName(const std::string&) override { return 0; }

    void Logon(const std::string&, const std::string&) override
    {
        VekDatabaseError(ErrLogin, "TSecurityManager.Logon", "", DataBase());
    }
    void CheckCanOpenDataObject(TTableDef*) override {}
    Integer GetTablePrivileges(TTableDef*) override { return VekAllPrivileges; }
    bool QueryObjectPrivilegeExists(Integer, const std::string&, Integer) override { return true; }

    void CreateGenerator(const std::string&, Integer, Integer) override { NoGenerators(); }
    Integer GetGeneratorValue(const std::string&, bool) override { NoGenerators(); }
    Integer InternalGetGenerator(const std::string&, bool) override { NoGenerators(); }
    void DeleteGenerator(const std::string&) override { NoGenerators(); }
    void GetGeneratorNames(TStrings*) override { NoGenerators(); }
    bool QueryGenerator(const std::string&, Integer&, Integer&) override { NoGenerators(); }

private:
    [[noreturn]] void NoGenerators()
    {
        VekDatabaseError(ErrTableType, "TVekDataBase.Generators", SvekDBOperationCannotBePerformed, DataBase());
    }

    static std::vector<TCatalogueEntry>::iterator Find(std::vector<TCatalogueEntry>& Entries,
                                                       const std::string& Name, bool Internal)
    {
        return std::find_if(Entries.begin(), Entries.end(), [&](const TCatalogueEntry& Entry) {
            return Entry.Internal == Internal && SameText(Entry.Name, Name);
        });
    }
    static std::vector<TCatalogueEntry>::const_iterator Find(const std::vector<TCatalogueEntry>& Entries,
                                                             const std::string& Name, bool Internal)
    {
        return std::find_if(Entries.begin(), Entries.end(), [&](const TCatalogueEntry& Entry) {
            return Entry.Internal == Internal && SameText(Entry.Name, Name);
        });
    }

    [[noreturn]] void Unreadable() const
    {
        VekDatabaseError(ErrInternal, "TVekDataBase.InternalGetTableDef", UnreadableDefinition, DataBase());
    }

    // The catalogue as stored now (under a header read lock unless a header
    // lock is held, so the global header is current).
    std::vector<TCatalogueEntry> Load()
    {
        TDiskMgr* disk = DataBase()->DiskMgr();
        const bool taken = !disk->HeaderLocked();
        if (taken)
            disk->SetHeaderReadLock();
        std::vector<Byte> bytes;
        try {
            const Cardinal address = disk->GlobalHdr()->GlobalInterfaceGetHdrItem(OfsCatalogueAddress);
            const Cardinal pages = disk->GlobalHdr()->GlobalInterfaceGetHdrItem(OfsCataloguePages);
            if (address != 0) {
                const auto pageSize = static_cast<Int64>(disk->PageSize());
                if (pages == 0 || pages > MaxCataloguePages || address % pageSize != 0 ||
                    Int64{address} + Int64{pages} * pageSize > disk->GetFileSize())
                    Unreadable();
                bytes.resize(static_cast<std::size_t>(Int64{pages} * pageSize));
                disk->ReadCustomSize(address, static_cast<Integer>(bytes.size()), CatalogueOwner, 0, bytes.data());
            }
        } catch (...) {
            if (taken)
                disk->ReleaseHeaderLock();
            throw;
        }
        if (taken)
            disk->ReleaseHeaderLock();
        return Parse(bytes);
    }

    std::vector<TCatalogueEntry> Parse(const std::vector<Byte>& Bytes) const
    {
        std::vector<TCatalogueEntry> entries;
        if (Bytes.empty())
            return entries;
        if (Bytes.size() < CatalogueHeader || std::memcmp(Bytes.data(), CatalogueMagic, 4) != 0)
            Unreadable();
        const std::size_t length = ReadLE32(&Bytes[4]);
        if (length > Bytes.size() - CatalogueHeader)
            Unreadable();
        std::size_t at = CatalogueHeader;
        const std::size_t end = CatalogueHeader + length;
        const auto need = [&](std::size_t Count) {
            if (end - at < Count)
                Unreadable();
        };
        while (at < end) {
            TCatalogueEntry entry;
            need(3);
            entry.Internal = Bytes[at] != 0;
            const std::size_t nameLength = ReadLE16(&Bytes[at + 1]);
            at += 3;
            need(nameLength);
            entry.Name.assign(reinterpret_cast<const char*>(&Bytes[at]), nameLength);
            at += nameLength;
            need(4);
            const std::size_t textLength = ReadLE32(&Bytes[at]);
            at += 4;
            need(textLength);
            entry.Text.assign(reinterpret_cast<const char*>(&Bytes[at]), textLength);
            at += textLength;
            entries.push_back(std::move(entry));
        }
        return entries;
    }

    // A new run holding Entries replaces the old one; the header write lock
    // is held by the caller.
    void Save(const std::vector<TCatalogueEntry>& Entries)
    {
        TDiskMgr* disk = DataBase()->DiskMgr();
        std::vector<Byte> bytes(CatalogueHeader);
        std::memcpy(bytes.data(), CatalogueMagic, 4);
        for (const TCatalogueEntry& entry : Entries) {
            const std::size_t at = bytes.size();
            bytes.resize(at + 3 + entry.Name.size() + 4 + entry.Text.size());
            bytes[at] = entry.Internal ? 1 : 0;
            WriteLE16(&bytes[at + 1], static_cast<Word>(entry.Name.size()));
            std::memcpy(&bytes[at + 3], entry.Name.data(), entry.Name.size());
            WriteLE32(&bytes[at + 3 + entry.Name.size()], static_cast<Cardinal>(entry.Text.size()));
            std::memcpy(&bytes[at + 7 + entry.Name.size()], entry.Text.data(), entry.Text.size());
        }
        WriteLE32(&bytes[4], static_cast<Cardinal>(bytes.size() - CatalogueHeader));
        const std::size_t pageSize = static_cast<std::size_t>(disk->PageSize());
        const std::size_t pages = (bytes.size() + pageSize - 1) / pageSize;
        bytes.resize(pages * pageSize, 0);

        TGlobalHdr* header = disk->GlobalHdr();
        const Cardinal oldAddress = header->GlobalInterfaceGetHdrItem(OfsCatalogueAddress);
        const Cardinal oldPages = header->GlobalInterfaceGetHdrItem(OfsCataloguePages);
        const Cardinal address = disk->WriteNewPages(CatalogueOwner, 0, CataloguePageType,
                                                     static_cast<Integer>(pages), bytes.data());
        header->GlobalInterfaceSetHdrItem(address, OfsCatalogueAddress);
        header->GlobalInterfaceSetHdrItem(static_cast<Cardinal>(pages), OfsCataloguePages);
        if (oldAddress != 0 && oldPages != 0)
            disk->ReleasePages(oldAddress, static_cast<Integer>(oldPages));
        disk->WriteHeader();
    }
};

} // namespace

std::unique_ptr<TVekSystemTables> TVekDataBase::NewSystemTables()
{
    return std::make_unique<TCatalogueSystemTables>(this);
}

} // namespace orvex
