// TTableDef: the definition, its copy and streamed form, and its storage.
//
// Opening a master definition (InternalOpen) creates its three interfaces:
// - in memory: memory interfaces for index pages (4096-byte blocks), blobs
//   (DefaultBlobSize) and records (RecordSize); every index gets an empty
//   leaf root of depth 1 in the header, which is written;
// - in the database file: disk interfaces for index pages (the global chain
//   of index pages, blocks of the first index's IndexPageSize, 4096 without
//   indexes), blobs (DefaultBlobSize, chain head BlobFirstEmpty of the
//   header) and records (RecordSize, chain head RecordFirstEmpty). A field
//   list without a record size gets the default layout first.
// Each interface carries the table's ID, its usage (index pages 8, records 9,
// blobs 10) and the table's access flags. The index and record interfaces
// are opened, the blob interface only for a table with blob fields.

#include "storage/vekTableMgrUnit.h"

#include "host/Streaming.h"
#include "storage/vekByteOrder.h"
#include "storage/vekDisk.h"
#include "storage/vekTableMgrPages.h"

namespace orvex {

Cardinal TableAccessFlags(TEncryptionLevel Level)
{
    switch (Level) {
    case encStrong:
        return VekAccessPaged | VekAccessBlowfish;
    case encWeak:
        return VekAccessPaged | VekAccessXOR;
    default:
        return VekAccessPaged;
    }
}

TTableDef::TTableDef(TComponent* Owner)
    : TComponent(Owner), FKeyFields(std::make_unique<TKeyFields>()),
      FInternalFields(std::make_unique<TInternalFields>()),
      FInternalIndexDefs(std::make_unique<TInternalIndexDefs>())
{
}

TTableDef::~TTableDef()
{
    InternalClose();
}

void TTableDef::Assign(TPersistent* Source)
{
    auto* src = dynamic_cast<TTableDef*>(Source);
    if (!src) {
        TComponent::Assign(Source);
        return;
    }
    if (src == this)
        return;
    FTableID = src->FTableID;
    FTableName = src->FTableName;
    FVersion = src->FVersion;
    FOS = src->FOS;
    FCreationDate = src->FCreationDate;
    FCreatedBy = src->FCreatedBy;
    FEncrypted = src->FEncrypted;
    FEncryptionLevel = src->FEncryptionLevel;
    FPassword = src->FPassword;
    FMemory = src->FMemory;
    FKeyFields->Assign(src->FKeyFields.get());
    FInternalFields->Assign(src->FInternalFields.get());
    FInternalIndexDefs->Assign(src->FInternalIndexDefs.get());
    // After the field list, whose assignment forgets them.
    SetRecordSize(src->RecordSize());
    SetUsesBlobs(src->UsesBlobs());
    FDefaultBlobSize = src->FDefaultBlobSize;
    FSortOrder = src->FSortOrder;
    FAltName = src->FAltName;
    FPrivilegeFlags = src->FPrivilegeFlags;
    FBlobCompression = src->FBlobCompression;
}

void TTableDef::PublishProperties(TPropertyList& List)
{
    TComponent::PublishProperties(List);
    using T = TTableDef;
    List.AddInteger("TableID", this, &T::TableID, &T::SetTableID);
    List.AddCardinal("OwnerFlag", this, &T::OwnerFlag, &T::SetOwnerFlag);
    List.AddString("TableName", this, &T::TableName, &T::SetTableName);
    List.AddString("AltName", this, &T::AltName, &T::SetAltName);
    List.AddString("Version", this, &T::Version, &T::SetVersion);
    List.AddString("OS", this, &T::OS, &T::SetOS);
    List.AddDateTime("CreationDate", this, &T::CreationDate, &T::SetCreationDate);
    List.AddDateTime("LastModDate", this, &T::LastModDate, &T::SetLastModDate);
    List.AddString("CreatedBy", this, &T::CreatedBy, &T::SetCreatedBy);
    List.AddString("Password", this, &T::Password, &T::SetPassword);
    List.AddBoolean("Encrypted", this, &T::Encrypted, &T::SetEncrypted);
    List.AddInteger("SecurityLevel", this, &T::SecurityLevel, &T::SetSecurityLevel);
    List.AddBoolean("Memory", this, &T::Memory, &T::SetMemory);
    List.AddInteger("RecordSize", this, &T::RecordSize, &T::SetRecordSize);
    List.AddInteger("DefaultBlobSize", this, &T::DefaultBlobSize, &T::SetDefaultBlobSize);
    List.AddBoolean("UsesBlobs", this, &T::UsesBlobs, &T::SetUsesBlobs);
    List.AddEnumeration("SortOrder", {"soANSI", "soASCII"}, this, &T::SortOrder, &T::SetSortOrder);
    List.AddBoolean("InternalTable", this, &T::InternalTable, &T::SetInternalTable);
    List.AddEnumeration("EncryptionLevel", {"encNone", "encWeak", "encStrong"}, this,
                        &T::EncryptionLevel, &T::SetEncryptionLevel);
    List.AddCollection("KeyFields", FKeyFields.get());
    List.AddCollection("InternalFields", FInternalFields.get());
    List.AddCollection("InternalIndexDefs", FInternalIndexDefs.get());
    List.AddBoolean("BlobCompression", this, &T::BlobCompression, &T::SetBlobCompression);
}

void TTableDef::ForgetStorage()
{
    FTableHeader = nullptr;
    FIndexInterface = nullptr;
    FBlobInterface = nullptr;
    FRecordInterface = nullptr;
}

void TTableDef::Clear()
{
    if (FMasterDef)
        VekDatabaseError(8577, "TTableDef.Clear", "", this);
    ForgetStorage();
    FUserCount = 0;
    FActive = false;
    FTableID = 0;
    FOwnerFlag = 0;
    FCreationDate = 0;
    FEncryptionLevel = encNone;
    FTableName.clear();
    FVersion.clear();
    FOS.clear();
    FCreatedBy.clear();
    FPassword.clear();
    FMemory = false;
    FKeyFields->Clear();
    FInternalFields->Clear();
    FInternalIndexDefs->Clear();
    SetRecordSize(0);
    FDefaultBlobSize = DefaultTableBlobSize;
    SetUsesBlobs(false);
}

bool TTableDef::Validate()
{
    TInternalIndexDef* adopter = nullptr;
    for (int i = 0; i < FInternalIndexDefs->Count() && !adopter; ++i) {
        TInternalIndexDef* def = FInternalIndexDefs->GetItems(i);
        if (FKeyFields->FindFieldCountForIndex(def->IndexName()) == 0)
            adopter = def;
    }
    if (adopter)
        for (int i = 0; i < FKeyFields->Count(); ++i) {
            TKeyFieldItem* field = FKeyFields->GetItems(i);
            if (!FInternalIndexDefs->FindIndexDef(field->IndexName()))
                field->SetIndexName(adopter->IndexName());
        }
    return true;
}

// ------------------------------------------------------------------ storage

void TTableDef::InternalOpen(TDiskMgr* DiskMgr)
{
    if (!FTableHeader)
        VekDatabaseError(8576, FTableName + "TableDef.InternalOpen", "", this);
    if (!FMasterDef || FActive)
        return;
    if (FMemory)
        OpenMemoryInterfaces();
    else
        OpenDiskInterfaces(DiskMgr);
    FActive = true;
}

namespace {

// The three interfaces of a table while they are being set up: freed again
// when the set-up fails.
struct TTableInterfaces {
    std::unique_ptr<TBaseIOInterface> Index;
    std::unique_ptr<TBaseIOInterface> Blob;
    std::unique_ptr<TBaseIOInterface> Record;
};

// Identity, usage and access flags of each interface; opens the index and
// record interfaces, and the blob interface when the table has blobs.
void OpenTableInterfaces(TTableInterfaces& IO, Integer TableID, TEncryptionLevel Level, bool UsesBlobs)
{
    const Cardinal flags = TableAccessFlags(Level);
    const auto setUp = [&](TBaseIOInterface& Interface, Word Usage) {
        Interface.SetTableID(static_cast<Word>(TableID));
        Interface.SetUsage(Usage);
        Interface.SetAccessFlags(flags);
    };
    setUp(*IO.Index, IOUsageIndexPages);
    setUp(*IO.Blob, IOUsageBlobs);
    setUp(*IO.Record, IOUsageRecords);
    IO.Index->Open();
    IO.Record->Open();
    if (UsesBlobs)
        IO.Blob->Open();
}

} // namespace

void TTableDef::OpenMemoryInterfaces()
{
    TTableInterfaces io;
    const auto memory = [](Integer BlockSize) {
        auto interface = std::make_unique<TMemoryIOInterface>();
        interface->SetBlockSize(BlockSize);
        return interface;
    };
    io.Index = memory(DefaultIndexPageSize);
    io.Blob = memory(FDefaultBlobSize);
    io.Record = memory(RecordSize());
    WriteEmptyIndexRoots(*io.Index, *FTableHeader, FInternalIndexDefs->Count());
    FTableHeader->WriteHeader();
    OpenTableInterfaces(io, FTableID, FEncryptionLevel, UsesBlobs());
    TakeInterfaces(std::move(io.Index), std::move(io.Blob), std::move(io.Record));
}

void TTableDef::OpenDiskInterfaces(TDiskMgr* DiskMgr)
{
    if (RecordSize() == 0)
        FInternalFields->SetDefaultOffsets();
    TTableInterfaces io;
    const auto disk = [DiskMgr](Integer BlockSize, Integer GlobalOffset) {
        auto interface = std::make_unique<TDiskIOInterface>();
        interface->SetDiskMgr(DiskMgr);
        interface->SetBlockSize(BlockSize);
        interface->SetGlobalFirstEmptyOffset(GlobalOffset);
        return interface;
    };
    const Integer indexPageSize = FInternalIndexDefs->Count() > 0
                                      ? FInternalIndexDefs->GetItems(0)->IndexPageSize()
                                      : DefaultIndexPageSize;
    io.Index = disk(indexPageSize, TGlobalHdr::OfsIndexesFirstEmpty);
    io.Blob = disk(FDefaultBlobSize, 0);
    io.Blob->SetFirstEmpty(FTableHeader->BlobFirstEmpty());
    io.Blob->SetFirstEmptyValid(true);
    io.Record = disk(RecordSize(), 0);
    io.Record->SetFirstEmpty(FTableHeader->RecordFirstEmpty());
    io.Record->SetFirstEmptyValid(true);
    OpenTableInterfaces(io, FTableID, FEncryptionLevel, UsesBlobs());
    TakeInterfaces(std::move(io.Index), std::move(io.Blob), std::move(io.Record));
}

void TTableDef::TakeInterfaces(std::unique_ptr<TBaseIOInterface> Index, std::unique_ptr<TBaseIOInterface> Blob,
                               std::unique_ptr<TBaseIOInterface> Record)
{
    // Whatever this definition owned before goes first.
    FreeOwnedInterfaces();
    FOwnedIndexInterface = std::move(Index);
    FOwnedBlobInterface = std::move(Blob);
    FOwnedRecordInterface = std::move(Record);
    FIndexInterface = FOwnedIndexInterface.get();
    FBlobInterface = FOwnedBlobInterface.get();
    FRecordInterface = FOwnedRecordInterface.get();
}

void TTableDef::FreeOwnedInterfaces()
{
    for (std::unique_ptr<TBaseIOInterface>* owned :
         {&FOwnedIndexInterface, &FOwnedBlobInterface, &FOwnedRecordInterface}) {
        if (!*owned)
            continue;
        // Closing only frees buffers; the interface goes whatever happens.
        try {
            (*owned)->Close();
        } catch (...) {
        }
        owned->reset();
    }
}

void TTableDef::InternalClose()
{
    FreeOwnedInterfaces();
    FIndexInterface = nullptr;
    FBlobInterface = nullptr;
    FRecordInterface = nullptr;
    FActive = false;
}

// ---------------------------------------------------------------- diagnostics

void TTableDef::DebugSetDefs()
{
    FInternalFields->Clear();
    FKeyFields->Clear();
    FInternalIndexDefs->Clear();
    const auto field = [this](const char* Name, TFieldType DataType, Integer Size) {
        TInternalFieldItem* item = FInternalFields->Add();
        item->SetFieldName(Name);
        item->SetDataType(DataType);
        if (Size > 0)
            item->SetFieldSize(Size);
        item->SetFieldNo(item->Index() + 1);
        item->SetFieldIndex(item->Index());
        item->SetIsVariable(DataType == ftString);
        return item;
    };
    field("Int1", ftInteger, 0);
    field("Str1", ftString, 21);
    field("Date1", ftDate, 0);
    FInternalFields->SetDefaultOffsets();
    FInternalFields->Open();

    const auto index = [this](const char* Name, TInternalFieldItem* Field) {
        TKeyFieldItem* key = FKeyFields->Add();
        key->AssignFromField(Field);
        key->SetIndexName(Name);
        TInternalIndexDef* def = FInternalIndexDefs->Add();
        def->SetIndexSequence(def->Index());
        def->SetIndexName(Name);
        def->SetMaintained(true);
        def->SetKeyDataOffset(1);
        TKeyFields single;
        single.Add()->Assign(key);
        def->SetMaximumKeySize(CalculateMaximumKeySize(&single) + 1);
        def->SetIndexPageSize(DefaultIndexPageSize);
    };
    index("one", FInternalFields->GetIndex(0));
    index("two", FInternalFields->GetIndex(1));
    FKeyFields->SetDataOffset(1);
}

} // namespace orvex
