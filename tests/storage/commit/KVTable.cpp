// The shared part of the commit tests; see KVTable.h.

#include "KVTable.h"

#include "../tabledef/TableScenario.h"

#include "storage/vekByteOrder.h"
#include "storage/vekDataUnitTables.h"
#include "storage/vekLockMgrUnit.h"

#include <random>
#include <sstream>
#include <stdexcept>

namespace orvex::committest {

namespace {

constexpr const char* TableName = "KV";
constexpr int PadLength = 200; // rows spread over many pages

std::string DefinitionPath(const std::string& Path)
{
    return Path + ".def";
}

void BuildKVDef(TTableDef& Def)
{
    tabletest::BuildTableDef(Def, TableName,
                             {{"Key", ftInteger}, {"Value", ftInteger}, {"Pad", ftString, PadLength}},
                             {{"ixKey", {"Key"}, true}});
}

} // namespace

struct TKVTable::TParts {
    std::unique_ptr<tabletest::TDiskConnection> Connection;
    TTableDef Def{nullptr};
    TRecordMgr Records;
    TIndexManager Indexes;
    bool Connected = false;
};

void TKVTable::Create(const std::string& Path)
{
    tabletest::TDiskConnection::CreateDatabase(Path);
    tabletest::TDiskConnection connection(Path);
    TTableDef def(nullptr);
    BuildKVDef(def);
    connection.Tables().CreateTableDef(def.TableName(), &def);
    tabletest::SaveDefinition(def, DefinitionPath(Path));
}

TKVTable::TKVTable(const std::string& Path) : FParts(std::make_unique<TParts>())
{
    TParts& p = *FParts;
    p.Connection = std::make_unique<tabletest::TDiskConnection>(Path);
    tabletest::LoadDefinition(p.Def, DefinitionPath(Path));
    p.Connection->Tables().OpenTableDefConnection(p.Def.TableName(), &p.Def);
    p.Connected = true;
    p.Records.InternalFields()->Assign(p.Def.InternalFields());
    p.Records.SetRecordSize(p.Def.RecordSize());
    p.Records.Open(p.Def.RecordInterface());
    p.Indexes.Assign(p.Def.InternalIndexDefs());
    p.Indexes.AssignKeyFields(p.Def.KeyFields());
    p.Indexes.SetIOInterface(p.Def.IndexInterface());
    p.Indexes.SetTableHeader(p.Def.TableHeader());
    p.Indexes.SetDBStringCompare(DBANSICompareStrings);
    p.Indexes.Open();
}

TKVTable::~TKVTable()
{
    TParts& p = *FParts;
    try {
        if (InTransaction())
            Rollback();
        p.Indexes.Close();
        p.Records.Close();
        if (p.Connected)
            p.Connection->Tables().CloseTableDefConnection(p.Def.TableID());
    } catch (...) {
        // Closing after an injected failure: what is left goes with the connection.
    }
}

TDiskMgr& TKVTable::Disk()
{
    return FParts->Connection->Disk();
}

bool TKVTable::InTransaction() const
{
    return FParts->Connection->Disk().IsTransactionActive();
}

void TKVTable::LockAndRefresh(Integer LockType)
{
    TParts& p = *FParts;
    Disk().SetTableLock(p.Def.TableID(), LockType);
    TTableHeader* header = p.Def.TableHeader();
    header->ReadHeader();
    p.Def.RecordInterface()->SetFirstEmpty(header->RecordFirstEmpty());
    p.Def.RecordInterface()->SetFirstEmptyValid(true);
    p.Indexes.ReadIndexHeaders(true);
}

void TKVTable::Unlock()
{
    Disk().ReleaseTableLock(FParts->Def.TableID());
}

void TKVTable::WriteHeader()
{
    TParts& p = *FParts;
    TTableHeader* header = p.Def.TableHeader();
    p.Indexes.WriteIndexHeaders();
    header->SetRecordFirstEmpty(p.Def.RecordInterface()->FirstEmpty());
    header->WriteHeader();
}

void TKVTable::Begin()
{
    Disk().DiskStartTransaction(false);
    try {
        LockAndRefresh(LockTypeWrite);
    } catch (...) {
        Disk().DiskRollback();
        throw;
    }
}

void TKVTable::Commit()
{
    WriteHeader();
    Disk().DiskCommit();
}

void TKVTable::Rollback()
{
    Disk().DiskRollback();
}

std::vector<Byte> TKVTable::Image(int Key, int Value) const
{
    TInternalFields* fields = FParts->Def.InternalFields();
    std::vector<Byte> image(static_cast<std::size_t>(FParts->Def.RecordSize()), 0);
    auto put = [&](const char* Name, int V) {
        const TInternalFieldItem* field = fields->FindField(Name);
        image[static_cast<std::size_t>(field->NullFlagOffset())] = 1;
        WriteLE32(&image[static_cast<std::size_t>(field->DataOffset())], static_cast<Cardinal>(V));
    };
    put("Key", Key);
    put("Value", Value);
    const TInternalFieldItem* pad = fields->FindField("Pad");
    image[static_cast<std::size_t>(pad->NullFlagOffset())] = 1;
    WriteLE16(&image[static_cast<std::size_t>(pad->SizeMarkerOffset())], PadLength);
    for (int i = 0; i < PadLength; ++i)
        image[static_cast<std::size_t>(pad->DataOffset() + i)] = static_cast<Byte>('a' + (Key + Value + i) % 26);
    return image;
}

Cardinal TKVTable::Find(int Key)
{
    TIndexItem* index = FParts->Indexes.GetItems(0);
    const std::vector<Byte> image = Image(Key, 0);
    index->CreateKeyBuffer(image.data(), {});
    return index->FullIndexSearch(stEQ) == 0 ? index->GetRecordAddress() : 0;
}

void TKVTable::PutRow(int Key, int Value)
{
    TParts& p = *FParts;
    std::vector<Byte> image = Image(Key, Value);
    if (const Cardinal address = Find(Key)) {
        std::vector<Byte> old(image.size());
        p.Records.ReadRecord(address, old.data(), false);
        std::copy_n(old.begin(), rpoModCounter + 4, image.begin()); // the prefix stays
        p.Records.UpdateRecord(address, image.data());
        return;
    }
    TTableHeader* header = p.Def.TableHeader();
    const Cardinal id = header->LogicalRecordNo() + 1;
    header->SetLogicalRecordNo(id);
    image[rpoStatus] = 1;
    WriteLE32(&image[rpoOwnerTag], (static_cast<Cardinal>(p.Def.TableID()) << 4) | IOUsageRecords);
    WriteLE32(&image[rpoRecordID], id);
    WriteLE32(&image[rpoModCounter], 0);
    const Cardinal address = p.Records.AddRecord(image.data());
    TIndexItem* index = p.Indexes.GetItems(0);
    index->CreateKeyBuffer(image.data(), {});
    if (index->InsertKey(address) != 0)
        throw std::runtime_error("key " + std::to_string(Key) + " is in the index already");
}

void TKVTable::EraseRow(int Key)
{
    TParts& p = *FParts;
    const Cardinal address = Find(Key);
    if (address == 0)
        return;
    std::vector<Byte> image(static_cast<std::size_t>(p.Def.RecordSize()));
    p.Records.ReadRecord(address, image.data(), false);
    TIndexItem* index = p.Indexes.GetItems(0);
    index->CreateKeyBuffer(image.data(), {});
    if (index->DeleteKey() != 0)
        throw std::runtime_error("key " + std::to_string(Key) + " is missing from the index");
    p.Records.DeleteRecord(address);
}

void TKVTable::Put(int Key, int Value)
{
    if (InTransaction()) {
        // A dataset writes the header with every posted row; inside a
        // transaction it stays in the cache until the commit.
        PutRow(Key, Value);
        WriteHeader();
        return;
    }
    LockAndRefresh(LockTypeWrite);
    try {
        PutRow(Key, Value);
        WriteHeader();
    } catch (...) {
        Unlock();
        throw;
    }
    Unlock();
}

void TKVTable::Erase(int Key)
{
    if (InTransaction()) {
        // A dataset writes the header with every posted row; inside a
        // transaction it stays in the cache until the commit.
        EraseRow(Key);
        WriteHeader();
        return;
    }
    LockAndRefresh(LockTypeWrite);
    try {
        EraseRow(Key);
        WriteHeader();
    } catch (...) {
        Unlock();
        throw;
    }
    Unlock();
}

TKVMap TKVTable::ReadAll()
{
    TParts& p = *FParts;
    const bool alone = !InTransaction();
    if (alone)
        LockAndRefresh(LockTypeRead);
    TKVMap rows;
    try {
        TIndexItem* index = p.Indexes.GetItems(0);
        const TInternalFieldItem* key = p.Def.InternalFields()->FindField("Key");
        const TInternalFieldItem* value = p.Def.InternalFields()->FindField("Value");
        std::vector<Byte> image(static_cast<std::size_t>(p.Def.RecordSize()));
        if (index->SetRecordNo(1) != 0) {
            do {
                p.Records.ReadRecord(index->GetRecordAddress(), image.data(), false);
                const int k = static_cast<int>(ReadLE32(&image[static_cast<std::size_t>(key->DataOffset())]));
                const int v = static_cast<int>(ReadLE32(&image[static_cast<std::size_t>(value->DataOffset())]));
                if (!rows.emplace(k, v).second)
                    throw std::runtime_error("key " + std::to_string(k) + " twice in the index");
            } while (index->NextKey());
        }
    } catch (...) {
        if (alone)
            Unlock();
        throw;
    }
    if (alone)
        Unlock();
    return rows;
}

TKVMap TKVTable::ScanAll()
{
    TParts& p = *FParts;
    const bool alone = !InTransaction();
    if (alone)
        LockAndRefresh(LockTypeRead);
    TKVMap rows;
    try {
        std::vector<Cardinal> addresses;
        p.Def.RecordInterface()->ListBlocks(addresses);
        const TInternalFieldItem* key = p.Def.InternalFields()->FindField("Key");
        const TInternalFieldItem* value = p.Def.InternalFields()->FindField("Value");
        std::vector<Byte> image(static_cast<std::size_t>(p.Def.RecordSize()));
        for (Cardinal address : addresses) {
            p.Records.ReadRecord(address, image.data(), false);
            if (image[rpoStatus] != 1)
                continue;
            const int k = static_cast<int>(ReadLE32(&image[static_cast<std::size_t>(key->DataOffset())]));
            const int v = static_cast<int>(ReadLE32(&image[static_cast<std::size_t>(value->DataOffset())]));
            if (!rows.emplace(k, v).second)
                throw std::runtime_error("key " + std::to_string(k) + " in two records");
        }
    } catch (...) {
        if (alone)
            Unlock();
        throw;
    }
    if (alone)
        Unlock();
    return rows;
}

// ------------------------------------------------------ the crash test's work

namespace {

// The operations of transaction N: (key, value) pairs, a value of -1 erasing.
std::vector<std::pair<int, int>> Operations(std::uint32_t N, bool Big)
{
    std::mt19937 random(N * 2654435761u + 17);
    std::vector<std::pair<int, int>> ops;
    const int count = Big ? 40 + static_cast<int>(random() % 120) : 1 + static_cast<int>(random() % 24);
    const int keys = Big ? 800 : 150;
    for (int i = 0; i < count; ++i) {
        const int key = static_cast<int>(random() % keys);
        ops.emplace_back(key, random() % 4 == 0 ? -1 : static_cast<int>(N));
    }
    return ops;
}

} // namespace

bool RolledBack(std::uint32_t N)
{
    return N % 5 == 0;
}

void ApplyTransaction(std::uint32_t N, TKVMap& State, bool Big)
{
    if (RolledBack(N))
        return;
    for (const auto& [key, value] : Operations(N, Big)) {
        if (value < 0)
            State.erase(key);
        else
            State[key] = value;
    }
}

void RunTransaction(std::uint32_t N, TKVTable& Table, bool Big)
{
    Table.Begin();
    for (const auto& [key, value] : Operations(N, Big)) {
        if (value < 0)
            Table.Erase(key);
        else
            Table.Put(key, value);
    }
    if (RolledBack(N))
        Table.Rollback();
    else
        Table.Commit();
}

std::string FormatRows(const TKVMap& Rows)
{
    std::ostringstream out;
    out << "rows";
    for (const auto& [key, value] : Rows)
        out << ' ' << key << '=' << value;
    return out.str();
}

int KVCommandLoop(const std::string& Path, std::istream& In, std::ostream& Out)
{
    std::unique_ptr<TKVTable> table;
    try {
        table = std::make_unique<TKVTable>(Path);
    } catch (const std::exception& e) {
        Out << "error " << e.what() << std::endl;
        return 1;
    }
    Out << "ready" << std::endl;
    std::string line;
    while (std::getline(In, line)) {
        std::istringstream words(line);
        std::string command;
        words >> command;
        if (command == "quit")
            break;
        try {
            if (command == "begin")
                table->Begin();
            else if (command == "commit")
                table->Commit();
            else if (command == "rollback")
                table->Rollback();
            else if (command == "put") {
                int key = 0, value = 0;
                words >> key >> value;
                table->Put(key, value);
            } else if (command == "erase") {
                int key = 0;
                words >> key;
                table->Erase(key);
            } else if (command == "dump") {
                Out << FormatRows(table->ReadAll()) << std::endl;
                continue;
            } else {
                Out << "error unknown command " << command << std::endl;
                continue;
            }
            Out << "ok" << std::endl;
        } catch (const std::exception& e) {
            Out << "error " << e.what() << std::endl;
        }
    }
    return 0;
}

} // namespace orvex::committest
