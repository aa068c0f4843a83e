// The shared part of the table-definition tests; see TableScenario.h.

#include "TableScenario.h"

#include "host/Streaming.h"
#include "storage/vekByteOrder.h"
#include "storage/vekCommon.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>

namespace orvex::tabletest {

// ============================================================= definitions

namespace {

TKeyFieldItem* AddKeyField(TKeyFields* Keys, const std::string& IndexName, Integer Position)
{
    TKeyFieldItem* key = Keys->Add();
    key->SetIndexName(IndexName);
    key->SetKeyIndex(Position);
    return key;
}

} // namespace

void BuildTableDef(TTableDef& Def, const std::string& Name, const std::vector<TFieldSpec>& Fields,
                   const std::vector<TIndexSpec>& Indexes, bool Memory, TEncryptionLevel Level)
{
    Def.Clear();
    Def.SetTableName(Name);
    Def.SetMemory(Memory);
    Def.SetEncryptionLevel(Level);
    Def.SetEncrypted(Level != encNone);
    Def.SetVersion(VekTableDefVersion);

    TInternalFields* fields = Def.InternalFields();
    for (const TFieldSpec& spec : Fields) {
        TInternalFieldItem* item = fields->Add();
        item->SetFieldName(spec.Name);
        item->SetDataType(spec.DataType);
        if (spec.DataType == ftString)
            item->SetFieldSize(spec.Size + 1);
        else if (spec.DataType == ftBytes)
            item->SetFieldSize(spec.Size);
        item->SetIsVariable(spec.DataType == ftString);
        item->SetFieldNo(item->Index());
        item->SetFieldIndex(item->Index());
    }
    fields->SetDefaultOffsets();
    fields->Open();

    std::vector<TIndexSpec> indexes = Indexes;
    const bool hiddenIndex = indexes.empty();
    if (hiddenIndex)
        indexes.push_back({"_LogicalRecNo", {}});
    for (const TIndexSpec& spec : indexes) {
        TInternalIndexDef* def = Def.InternalIndexDefs()->Add();
        def->SetIndexSequence(def->Index());
        def->SetIndexName(spec.Name);
        def->SetUnique(spec.Unique);
        def->SetMaintained(true);
        def->SetMemory(Memory);
        def->SetHidden(hiddenIndex);
        def->SetIndexPageSize(DefaultIndexPageSize);
        TKeyFields own;
        for (const std::string& fieldName : spec.Fields) {
            const TInternalFieldItem* field = fields->FindField(fieldName);
            if (!field)
                throw std::runtime_error("no field " + fieldName);
            TKeyFieldItem* key = AddKeyField(Def.KeyFields(), spec.Name, static_cast<Integer>(own.Count()));
            key->AssignFromField(field);
            key->SetCaseInsensitive(spec.CaseInsensitive);
            key->SetDescending(spec.Descending);
            own.Add()->Assign(key);
        }
        if (!spec.Unique) {
            // The record ID (bytes 6-9) keeps equal keys apart; its "null
            // flag" is the status byte, 1 in every record in use.
            TKeyFieldItem* key = AddKeyField(Def.KeyFields(), spec.Name, static_cast<Integer>(own.Count()));
            key->SetAsRecordIDKey();
            key->SetDescending(spec.Descending);
            own.Add()->Assign(key);
        }
        def->SetKeyDataOffset(own.Count() / 8 + 1);
        def->SetMaximumKeySize(CalculateMaximumKeySize(&own) + def->KeyDataOffset());
    }
}

// ============================================================== connection

std::unique_ptr<TDiskIOInterface> NewHeaderInterface(TDiskMgr* Disk, Integer GlobalOffset)
{
    auto io = std::make_unique<TDiskIOInterface>();
    io->SetDiskMgr(Disk);
    io->SetBlockSize(256);
    io->SetTableID(0);
    io->SetAccessFlags(0);
    io->SetUsage(1);
    io->SetIOMode(iomDiskFixedSize);
    io->SetGlobalFirstEmptyOffset(GlobalOffset);
    return io;
}

namespace {

std::unique_ptr<TDiskIOInterface> HeaderInterface(TDiskMgr* Disk, Integer GlobalOffset)
{
    auto io = NewHeaderInterface(Disk, GlobalOffset);
    io->Open();
    return io;
}

} // namespace

void TDiskConnection::CreateDatabase(const std::string& Path)
{
    TDiskMgr creator;
    creator.SetFileName(Path);
    creator.SetPageSize(DefaultPageSize);
    creator.CreateNewFile(true);
}

TDiskConnection::TDiskConnection(const std::string& Path, const std::string& Key)
    : FDisk(std::make_unique<TDiskMgr>())
{
    FDisk->SetFileName(Path);
    FDisk->SetPageSize(DefaultPageSize);
    FDisk->SetOpenFlags(fmOpenReadWrite | fmShareDenyNone);
    FDisk->SetCryptKey(Key);
    FDisk->Open();
    FSystemHdrs = HeaderInterface(FDisk.get(), TGlobalHdr::OfsSystemHeadersFirstEmpty);
    FTableHdrs = HeaderInterface(FDisk.get(), TGlobalHdr::OfsTableHeadersFirstEmpty);
    FSystemTables = std::make_unique<TDiskTableDefMgr>();
    FSystemTables->SetHdrDiskInterface(FSystemHdrs.get());
    FSystemTables->SetBaseDefMgrAddress(DefaultPageSize);
    FSystemTables->SetSystemTableMgr(true);
    FSystemTables->Open();
    FUserTables = std::make_unique<TDiskTableDefMgr>();
    FUserTables->SetHdrDiskInterface(FTableHdrs.get());
    FUserTables->SetBaseDefMgrAddress(3 * DefaultPageSize);
    FUserTables->Open();
}

TDiskConnection::~TDiskConnection()
{
    FUserTables.reset();
    FSystemTables.reset();
    FTableHdrs.reset();
    FSystemHdrs.reset();
    FDisk->Close();
}

// ============================================================ table access

TTableAccess::TTableAccess(TTableDef& Def) : FDef(Def)
{
    FRecords.InternalFields()->Assign(Def.InternalFields());
    FRecords.SetRecordSize(Def.RecordSize());
    FRecords.Open(Def.RecordInterface());
    FIndexes.Assign(Def.InternalIndexDefs());
    FIndexes.AssignKeyFields(Def.KeyFields());
    FIndexes.SetIOInterface(Def.IndexInterface());
    FIndexes.SetTableHeader(Def.TableHeader());
    FIndexes.SetDBStringCompare(Def.SortOrder() == soASCII ? DBASCIICompareStrings : DBANSICompareStrings);
    FIndexes.Open();
    if (Def.UsesBlobs()) {
        FBlobs.SetIOInterface(Def.BlobInterface());
        FBlobs.SetBlobBlockSize(Def.DefaultBlobSize());
        FBlobs.Open();
        FBlobsOpen = true;
    }
}

TTableAccess::~TTableAccess()
{
    Flush();
    FIndexes.Close();
    FRecords.Close();
    if (FBlobsOpen)
        FBlobs.Close();
}

void TTableAccess::Flush()
{
    TTableHeader* header = FDef.TableHeader();
    FIndexes.WriteIndexHeaders();
    header->SetRecordFirstEmpty(FDef.RecordInterface()->FirstEmpty());
    if (FBlobsOpen)
        header->SetBlobFirstEmpty(FDef.BlobInterface()->FirstEmpty());
    header->WriteHeader();
}

Cardinal TTableAccess::AddRecord(std::vector<Byte>& Image, Cardinal* RecordID)
{
    TTableHeader* header = FDef.TableHeader();
    const Cardinal id = header->LogicalRecordNo() + 1;
    header->SetLogicalRecordNo(id);
    Image[rpoStatus] = 1;
    WriteLE32(&Image[rpoOwnerTag], (static_cast<Cardinal>(FDef.TableID()) << 4) | IOUsageRecords);
    WriteLE32(&Image[rpoRecordID], id);
    WriteLE32(&Image[rpoModCounter], 0);
    const Cardinal address = FRecords.AddRecord(Image.data());
    for (int i = 0; i < FIndexes.Count(); ++i) {
        TIndexItem* index = FIndexes.GetItems(i);
        index->CreateKeyBuffer(Image.data(), {});
        if (index->InsertKey(address) != 0)
            throw std::runtime_error("duplicate key in " + index->IndexName());
    }
    if (RecordID)
        *RecordID = id;
    return address;
}

std::vector<Byte> TTableAccess::ReadRecord(Cardinal Address)
{
    std::vector<Byte> image(static_cast<std::size_t>(FDef.RecordSize()));
    FRecords.ReadRecord(Address, image.data(), false);
    return image;
}

Cardinal TTableAccess::InsertBlob(const std::string& Bytes)
{
    TStringStream stream(Bytes);
    return FBlobs.InsertBlob(&stream);
}

std::string TTableAccess::ReadBlob(Cardinal Address)
{
    TStringStream stream;
    FBlobs.ReadBlob(Address, &stream);
    return stream.DataString();
}

std::vector<Cardinal> TTableAccess::IndexOrder(const std::string& IndexName)
{
    TIndexItem* index = FIndexes.FindIndex(IndexName);
    if (!index)
        throw std::runtime_error("no index " + IndexName);
    std::vector<Cardinal> order;
    if (index->SetRecordNo(1) == 0)
        return order;
    do
        order.push_back(index->GetRecordAddress());
    while (index->NextKey());
    return order;
}

// ============================================================= the scenario

std::vector<TFieldSpec> ScenarioFields(bool Restructured)
{
    std::vector<TFieldSpec> fields{
        {"ID", ftInteger},     {"Name", ftString, 30}, {"Small", ftSmallint}, {"Word1", ftWord},
        {"Flag", ftBoolean},   {"Amount", ftFloat},    {"Price", ftCurrency}, {"Day", ftDate},
        {"Clock", ftTime},     {"Stamp", ftDateTime},  {"Raw", ftBytes, 6},   {"Auto", ftAutoInc},
        {"Data", ftBlob},      {"Notes", ftMemo},      {"Picture", ftGraphic}, {"Rich", ftFmtMemo},
        {"Note", ftString, 40},
    };
    if (Restructured) {
        std::erase_if(fields, [](const TFieldSpec& Field) { return Field.Name == "Word1"; });
        fields.push_back({"Code", ftString, 12});
    }
    return fields;
}

std::vector<TIndexSpec> ScenarioIndexes(bool Restructured)
{
    std::vector<TIndexSpec> indexes{
        {"ixID", {"ID"}, true},
        {"ixName", {"Name"}, false, true},
        {"ixAmount", {"Amount"}, false, false, true},
        {"ixWhen", {"Day", "Small"}},
    };
    if (Restructured) {
        std::erase_if(indexes, [](const TIndexSpec& Index) { return Index.Name == "ixWhen"; });
        indexes.push_back({"ixCode", {"Code"}, true});
    }
    return indexes;
}

namespace {

// A field's value in a row: the bytes of a fixed field as the image holds
// them, a string's characters or a blob's contents.
struct TValue {
    bool Null = true;
    std::string Bytes;
};

template <class T>
TValue Fixed(T Value)
{
    TValue value{false, std::string(sizeof(T), '\0')};
    std::memcpy(value.Bytes.data(), &Value, sizeof(T)); // little-endian host
    return value;
}

TValue Text(std::string Value)
{
    return {false, std::move(Value)};
}

std::string Digits(int N, int Width)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%0*d", Width, N);
    return buffer;
}

std::string Pattern(int N, int Length, int Salt)
{
    std::string bytes(static_cast<std::size_t>(Length), '\0');
    for (int i = 0; i < Length; ++i)
        bytes[static_cast<std::size_t>(i)] = static_cast<char>((N * 31 + i * 7 + Salt) & 0xFF);
    return bytes;
}

TValue ScenarioValue(int N, const std::string& Field)
{
    if (Field == "ID")
        return Fixed<std::int32_t>(N);
    if (Field == "Name") {
        if (N % 97 == 0)
            return {};
        static const char* const cases[] = {"name", "Name", "NAME"};
        return Text(std::string(cases[N % 3]) + Digits((N * 7919) % 701, 3));
    }
    if (Field == "Small")
        return N % 89 == 0 ? TValue{} : Fixed<std::int16_t>(static_cast<std::int16_t>((N * 31) % 2001 - 1000));
    if (Field == "Word1")
        return Fixed<std::uint16_t>(static_cast<std::uint16_t>(N * 13));
    if (Field == "Flag")
        return Fixed<std::uint8_t>(N % 3 == 0 ? 1 : 0);
    if (Field == "Amount")
        return N % 83 == 0 ? TValue{} : Fixed<double>((N * 7) % 503 * 0.25 - 30.5);
    if (Field == "Price")
        return Fixed<double>(N * 0.01);
    if (Field == "Day")
        return Fixed<double>(36000 + N % 365);
    if (Field == "Clock")
        return Fixed<double>(N % 86400 / 86400.0);
    if (Field == "Stamp")
        return Fixed<double>(40000 + N / 1000.0);
    if (Field == "Raw")
        return {false, Pattern(N, 6, 1)};
    if (Field == "Auto")
        return Fixed<std::int32_t>(N);
    if (Field == "Data") {
        const int length = N * 37 % 1500;
        return length == 0 ? TValue{} : TValue{false, Pattern(N, length, 2)};
    }
    if (Field == "Notes") {
        if (N % 3 != 0)
            return {};
        std::string text = "MEMOTEXT-" + Digits(N, 6);
        while (text.size() < static_cast<std::size_t>(100 + N % 600))
            text += " the quick brown fox";
        return Text(text);
    }
    if (Field == "Picture")
        return N % 7 == 0 ? TValue{false, Pattern(N, 2000, 3)} : TValue{};
    if (Field == "Rich")
        return N % 11 == 0 ? Text("{\\rtf1 RICHTEXT-" + Digits(N, 6) + "}") : TValue{};
    if (Field == "Note")
        return Text("PLAINTEXT-" + Digits(N, 6));
    if (Field == "Code")
        return Text("C" + Digits(N, 8));
    throw std::runtime_error("no scenario field " + Field);
}

// Writes Value into the field of Image; blobs go through Access.
void PutField(TTableAccess& Access, std::vector<Byte>& Image, const TInternalFieldItem& Field, const TValue& Value)
{
    Byte* data = &Image[static_cast<std::size_t>(Field.DataOffset())];
    Image[static_cast<std::size_t>(Field.NullFlagOffset())] = Value.Null ? 0 : 1;
    if (Value.Null)
        return;
    if (IsBlobFieldType(Field.DataType())) {
        WriteLE32(data, Access.InsertBlob(Value.Bytes));
        WriteLE32(data + 4, static_cast<Cardinal>(Value.Bytes.size()));
    } else {
        if (Field.DataType() == ftString)
            WriteLE16(&Image[static_cast<std::size_t>(Field.SizeMarkerOffset())],
                      static_cast<Word>(Value.Bytes.size()));
        std::memcpy(data, Value.Bytes.data(), Value.Bytes.size());
    }
}

// The field's value as Image holds it; blobs read through Access.
TValue GetField(TTableAccess& Access, const std::vector<Byte>& Image, const TInternalFieldItem& Field)
{
    if (Image[static_cast<std::size_t>(Field.NullFlagOffset())] != 1)
        return {};
    const char* data = reinterpret_cast<const char*>(&Image[static_cast<std::size_t>(Field.DataOffset())]);
    if (IsBlobFieldType(Field.DataType())) {
        const std::string blob = Access.ReadBlob(ReadLE32(reinterpret_cast<const Byte*>(data)));
        if (blob.size() != ReadLE32(reinterpret_cast<const Byte*>(data) + 4))
            throw std::runtime_error("blob length differs from the record's in " + Field.FieldName());
        return {false, blob};
    }
    if (Field.DataType() == ftString)
        return {false, std::string(data, ReadLE16(&Image[static_cast<std::size_t>(Field.SizeMarkerOffset())]))};
    return {false, std::string(data, static_cast<std::size_t>(Field.FieldSize()))};
}

// The order of two rows' values of one key field: null first, then by type.
int CompareValues(const TValue& A, const TValue& B, TFieldType DataType, bool CaseInsensitive)
{
    if (A.Null || B.Null)
        return static_cast<int>(B.Null) - static_cast<int>(A.Null);
    const auto number = [DataType](const TValue& V) -> double {
        const Byte* p = reinterpret_cast<const Byte*>(V.Bytes.data());
        switch (DataType) {
        case ftSmallint:
            return static_cast<std::int16_t>(ReadLE16(p));
        case ftWord:
            return ReadLE16(p);
        case ftInteger:
        case ftAutoInc:
            return static_cast<std::int32_t>(ReadLE32(p));
        default:
            return ReadLEDouble(p);
        }
    };
    if (DataType == ftString) {
        const int c = DBANSICompareStrings(A.Bytes.data(), B.Bytes.data(), static_cast<Integer>(A.Bytes.size()),
                                           static_cast<Integer>(B.Bytes.size()), CaseInsensitive, false);
        return (c > 0) - (c < 0);
    }
    const double a = number(A), b = number(B);
    return (a > b) - (a < b);
}

// Rows 1 .. Count in the order of the index (record ID = row number).
std::vector<int> ExpectedOrder(const TIndexSpec& Index, const std::vector<TFieldSpec>& Fields, int Count)
{
    std::vector<int> rows(static_cast<std::size_t>(Count));
    for (int i = 0; i < Count; ++i)
        rows[static_cast<std::size_t>(i)] = i + 1;
    std::vector<TFieldType> types;
    for (const std::string& name : Index.Fields)
        types.push_back(std::find_if(Fields.begin(), Fields.end(), [&](const TFieldSpec& F) {
                            return F.Name == name;
                        })->DataType);
    std::stable_sort(rows.begin(), rows.end(), [&](int A, int B) {
        for (std::size_t f = 0; f < Index.Fields.size(); ++f) {
            int c = CompareValues(ScenarioValue(A, Index.Fields[f]), ScenarioValue(B, Index.Fields[f]), types[f],
                                  Index.CaseInsensitive);
            if (Index.Descending)
                c = -c;
            if (c != 0)
                return c < 0;
        }
        return Index.Descending ? A > B : A < B;
    });
    return rows;
}

std::string Shown(const std::string& Bytes)
{
    std::string text;
    for (unsigned char ch : Bytes.substr(0, 40))
        text += ch >= 32 && ch < 127 ? std::string(1, static_cast<char>(ch)) : "#" + std::to_string(ch);
    return text;
}

} // namespace

std::vector<Byte> ScenarioImage(TTableAccess& Access, int N)
{
    std::vector<Byte> image(static_cast<std::size_t>(Access.Def().RecordSize()), 0);
    TInternalFields* fields = Access.Def().InternalFields();
    for (int i = 0; i < fields->Count(); ++i)
        PutField(Access, image, *fields->GetIndex(i), ScenarioValue(N, fields->GetIndex(i)->FieldName()));
    return image;
}

namespace {

// Calls AddRow for rows 0 .. Count - 1; in a database file in transactions of
// 500 rows, as bulk copies commit, so that each page is written (and
// enciphered) once per transaction rather than once per change.
template <class F>
void AddInTransactions(TTableAccess& Access, int Count, F&& AddRow)
{
    constexpr int RowsPerTransaction = 500;
    TDiskMgr* disk = Access.Def().RecordInterface()->DiskMgr();
    for (int first = 0; first < Count; first += RowsPerTransaction) {
        if (disk)
            disk->DiskStartTransaction(true);
        for (int i = first; i < std::min(Count, first + RowsPerTransaction); ++i)
            AddRow(i);
        Access.Flush();
        if (disk)
            disk->DiskCommit();
    }
}

} // namespace

void WriteScenarioRows(TTableAccess& Access, int Count)
{
    AddInTransactions(Access, Count, [&](int Row) {
        std::vector<Byte> image = ScenarioImage(Access, Row + 1);
        Access.AddRecord(image);
    });
}

std::string CheckScenarioRows(TTableAccess& Access, int Count, bool Restructured)
{
    TInternalFields* fields = Access.Def().InternalFields();
    const TInternalFieldItem* idField = fields->FindField("ID");
    const std::vector<TFieldSpec> specs = ScenarioFields(Restructured);
    if (fields->Count() != static_cast<int>(specs.size()))
        return "the table has " + std::to_string(fields->Count()) + " fields";
    for (const TIndexSpec& index : ScenarioIndexes(Restructured)) {
        const std::vector<Cardinal> addresses = Access.IndexOrder(index.Name);
        const std::vector<int> expected = ExpectedOrder(index, specs, Count);
        if (addresses.size() != expected.size())
            return index.Name + " holds " + std::to_string(addresses.size()) + " keys";
        for (std::size_t i = 0; i < addresses.size(); ++i) {
            const std::vector<Byte> image = Access.ReadRecord(addresses[i]);
            const int n = static_cast<int>(ReadLE32(&image[static_cast<std::size_t>(idField->DataOffset())]));
            if (n != expected[i])
                return index.Name + " position " + std::to_string(i + 1) + ": row " + std::to_string(n) +
                       " where row " + std::to_string(expected[i]) + " belongs";
            if (ReadLE32(&image[rpoRecordID]) != static_cast<Cardinal>(n))
                return "row " + std::to_string(n) + " has record ID " + std::to_string(ReadLE32(&image[rpoRecordID]));
            if (index.Name != "ixID")
                continue;
            // Every value, once per row.
            for (int f = 0; f < fields->Count(); ++f) {
                const TInternalFieldItem* field = fields->GetIndex(f);
                const TValue want = ScenarioValue(n, field->FieldName());
                const TValue got = GetField(Access, image, *field);
                if (want.Null != got.Null || want.Bytes != got.Bytes)
                    return "row " + std::to_string(n) + " field " + field->FieldName() + ": " +
                           (got.Null ? "null" : "'" + Shown(got.Bytes) + "'") + " where " +
                           (want.Null ? "null" : "'" + Shown(want.Bytes) + "'") + " belongs";
            }
        }
    }
    return {};
}

std::string CheckStoredTable(TDiskTableDefMgr& Tables, TTableDef& Stored, int Count, bool Restructured)
{
    TTableDef def(nullptr);
    def.Assign(&Stored);
    Tables.OpenTableDefConnection(def.TableName(), &def);
    std::string problem;
    {
        TTableAccess access(def);
        problem = CheckScenarioRows(access, Count, Restructured);
    }
    Tables.CloseTableDefConnection(def.TableID());
    return problem;
}

std::vector<TStoredRow> ReadStoredRows(TTableAccess& Access)
{
    std::vector<TStoredRow> rows;
    TInternalFields* fields = Access.Def().InternalFields();
    for (Cardinal address : Access.IndexOrder("ixID")) {
        TStoredRow row{Access.ReadRecord(address), {}};
        for (int f = 0; f < fields->Count(); ++f) {
            const TInternalFieldItem* field = fields->GetIndex(f);
            if (IsBlobFieldType(field->DataType()) && row.Image[static_cast<std::size_t>(field->NullFlagOffset())] == 1)
                row.Blobs[field->FieldName()] = GetField(Access, row.Image, *field).Bytes;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

void AddStoredRows(TTableAccess& To, TInternalFields* From, const std::vector<TStoredRow>& Rows)
{
    TInternalFields* fields = To.Def().InternalFields();
    const Integer idOffset = From->FindField("ID")->DataOffset();
    AddInTransactions(To, static_cast<int>(Rows.size()), [&](int Row) {
        const TStoredRow& row = Rows[static_cast<std::size_t>(Row)];
        std::vector<Byte> image(static_cast<std::size_t>(To.Def().RecordSize()), 0);
        const int n = static_cast<int>(ReadLE32(&row.Image[static_cast<std::size_t>(idOffset)]));
        for (int f = 0; f < fields->Count(); ++f) {
            const TInternalFieldItem* field = fields->GetIndex(f);
            const TInternalFieldItem* source = From->FindField(field->FieldName());
            TValue value;
            if (!source) {
                value = ScenarioValue(n, field->FieldName());
            } else if (IsBlobFieldType(field->DataType())) {
                const auto blob = row.Blobs.find(field->FieldName());
                if (blob != row.Blobs.end())
                    value = {false, blob->second};
            } else {
                // A fixed field or a string: no blob to read.
                value = GetField(To, row.Image, *source);
            }
            PutField(To, image, *field, value);
        }
        To.AddRecord(image);
    });
}

void RestructureOnDisk(TDiskTableDefMgr& Tables, TTableDef& Def)
{
    const std::string name = Def.TableName();
    TTableDef old(nullptr);
    old.Assign(&Def);
    Tables.OpenTableDefConnection(name, &old);
    std::vector<TStoredRow> rows;
    {
        TTableAccess access(old);
        rows = ReadStoredRows(access);
    }

    // The new layout, stored over the old one with the table's ID.
    TTableDef updated(nullptr);
    BuildTableDef(updated, name, ScenarioFields(true), ScenarioIndexes(true), false, Def.EncryptionLevel());
    updated.SetTableID(Def.TableID());
    updated.SetOwnerFlag(Def.OwnerFlag());
    TRestructureFieldDefs newFields;
    for (const TFieldSpec& spec : ScenarioFields(true))
        newFields.AddAndSetFieldDef(spec.Name, spec.DataType, spec.Size)
            ->SetSourceFieldName(spec.Name == "Code" ? "" : spec.Name);
    newFields.SetChangeStatus(dcAdded);
    TRestructureIndexDefs newIndexes;
    for (const TIndexSpec& spec : ScenarioIndexes(true))
        newIndexes.AddAndSetIndexDef(spec.Name, spec.Fields.front(),
                                     spec.Unique ? TIndexOptions{ixUnique} : TIndexOptions{0});
    newIndexes.SetChangeStatus(dcAdded);
    TInternalRestructureRecord request;
    request.NewFieldDefs = &newFields;
    request.NewIndexDefs = &newIndexes;

    TTableDef temporary(nullptr);
    temporary.Assign(&Def);
    Tables.OpenTableDefConnection(name, &temporary);
    temporary.Assign(&updated);
    Tables.RestructureTableDef(&temporary, request);
    Tables.CloseTableDefConnection(temporary.TableID());
    Tables.CloseTableDefConnection(old.TableID());

    // The rows in the new layout.
    Def.Clear();
    Def.Assign(&updated);
    Def.SetOwnerFlag(updated.OwnerFlag());
    TTableDef fresh(nullptr);
    fresh.Assign(&Def);
    Tables.OpenTableDefConnection(name, &fresh);
    {
        TTableAccess access(fresh);
        AddStoredRows(access, old.InternalFields(), rows);
    }
    Tables.CloseTableDefConnection(fresh.TableID());
}

void SaveDefinition(TTableDef& Def, const std::string& Path)
{
    std::ofstream(Path, std::ios::binary) << WriteComponentText(&Def);
}

void LoadDefinition(TTableDef& Def, const std::string& Path)
{
    std::ifstream in(Path, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (text.empty())
        throw std::runtime_error("no definition in " + Path);
    ReadComponentText(text, &Def);
}

std::vector<std::string> ScenarioClearTexts()
{
    return {"PLAINTEXT-", "MEMOTEXT-", "RICHTEXT-", "the quick brown fox"};
}

} // namespace orvex::tabletest
