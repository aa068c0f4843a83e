// TVekDataSet: settings, opening and closing, field access in record
// buffers, index information, locks and the table header.

#include "dataset/vekDataSet.h"

#include "host/DBConsts.h"
#include "storage/vekByteOrder.h"
#include "storage/vekCrypt.h"

#include <algorithm>
#include <cstring>

namespace orvex {

namespace {

constexpr Integer ErrInternal = 8581;
constexpr Integer ErrOverride = 8577;
constexpr Integer ErrCorruptHeader = 8961;
constexpr Integer ErrInvalidType = 10000;
constexpr Integer ErrNoSuchTable = 10024;
constexpr Integer ErrTableOpen = 10031;
constexpr Integer ErrNoIndex = 9997;
constexpr Integer ErrNoConnection = 10112;
constexpr Integer ErrPrivilege = 10624;

} // namespace

// ================================================================ lifetime

TVekDataSet::TVekDataSet(TComponent* AOwner)
    : TDataSet(AOwner), FTableDef(std::make_unique<TTableDef>(nullptr)),
      FRecordMgr(std::make_unique<TRecordMgr>()), FIndexMgr(std::make_unique<TIndexManager>()),
      FBlobInterface(std::make_unique<TBlobInterface>()), FReadAhead(std::make_unique<TReadAheadBuffer>()),
      FFilterMgr(std::make_unique<TFilterMgr>(this)), FSearchModifier(std::make_unique<TSearchModifier>()),
      FBlobCache(std::make_unique<TBlobMgr>())
{
}

TVekDataSet::~TVekDataSet()
{
    if (FOpen) {
        try {
            DataSetClose();
        } catch (...) {
        }
    }
    if (FDataBase)
        FDataBase->UnRegisterClient(this);
}

void TVekDataSet::Notification(TComponent* AComponent, TOperation Operation)
{
    TDataSet::Notification(AComponent, Operation);
    if (Operation == opRemove && FDataBase && AComponent == FDataBase) {
        Close();
        if (FOpen)
            DataSetClose();
        FDataBase = nullptr;
    }
}

// ================================================================ settings

void TVekDataSet::CheckInternalInactive() const
{
    if (FOpen || const_cast<TVekDataSet*>(this)->Active())
        DatabaseError(SDataSetOpen, this);
}

void TVekDataSet::CheckInternalActive() const
{
    if (!FOpen)
        DatabaseError(SDataSetClosed, this);
}

void TVekDataSet::SetTableName(const std::string& Value)
{
    CheckInternalInactive();
    FTableName = Value;
    DataEvent(dePropertyChange, 0);
}

void TVekDataSet::SetTableOwner(const std::string& Value)
{
    CheckInternalInactive();
    FTableOwner = Value;
}

void TVekDataSet::SetDataBase(TVekDataBase* Value)
{
    if (Value == FDataBase)
        return;
    CheckInternalInactive();
    if (FDataBase) {
        FDataBase->UnRegisterClient(this);
        FDataBase->RemoveFreeNotification(this);
    }
    FDataBase = Value;
    if (FDataBase) {
        if (!FTableDef->InternalTable())
            FDataBase->RegisterClient(this);
        FDataBase->FreeNotification(this);
        FSortOrder = FDataBase->DefaultSortOrder();
    }
}

void TVekDataSet::SetReadOnly(bool Value)
{
    CheckInternalInactive();
    FReadOnly = Value;
}

void TVekDataSet::SetMemory(bool Value)
{
    CheckInternalInactive();
    FMemory = Value;
}

void TVekDataSet::SetEncryptionLevel(TEncryptionLevel Value)
{
    CheckInternalInactive();
    FEncryptionLevel = Value;
}

void TVekDataSet::SetSortOrder(TSortOrder Value)
{
    CheckInternalInactive();
    FSortOrder = Value;
}

void TVekDataSet::SetBlobBlockSize(Integer Value)
{
    CheckInternalInactive();
    FBlobBlockSize = Value;
}

void TVekDataSet::SetBlobCompression(bool Value)
{
    CheckInternalInactive();
    FBlobCompression = Value;
}

void TVekDataSet::SetReadAheadBufferSize(Integer Value)
{
    FReadAheadBufferSize = Value;
    InvalidateReadAhead();
}

void TVekDataSet::SetUseReadAheadBuffer(bool Value)
{
    FUseReadAheadBuffer = Value;
    FReadAheadOn = Value && FOpen && !FMemory;
    InvalidateReadAhead();
}

void TVekDataSet::SetInQuery(bool Value)
{
    FInQuery = Value;
    FFilterMgr->SetInQuery(Value);
}

bool TVekDataSet::SystemTable() const
{
    return FTableDef->InternalTable();
}

bool TVekDataSet::Exists()
{
    if (!FDataBase || !FDataBase->Connected())
        return false;
    return FDataBase->TableExists(FTableName, FMemory);
}

// ================================================================== checks

void TVekDataSet::CheckConnected() const
{
    if (!FDataBase)
        VekDatabaseError(ErrNoConnection, "TVekDataSet.CheckConnected", "", const_cast<TVekDataSet*>(this));
}

void TVekDataSet::CheckPrivilegePresent(Integer Privileges, Integer Required) const
{
    if (SystemTable())
        return;
    if ((Privileges & Required) == 0)
        VekDatabaseError(ErrPrivilege, "TVekDataSet.CheckPrivilegePresent", FTableName,
                         const_cast<TVekDataSet*>(this));
}

Integer TVekDataSet::TablePrivileges() const
{
    return FTableDef->PrivilegeFlags();
}

Integer TVekDataSet::FieldPrivileges(const TInternalFieldItem* Item) const
{
    return Item->PrivilegeFlags() != 0 ? Item->PrivilegeFlags() : TablePrivileges();
}

bool TVekDataSet::CheckReadOnlyPrivileges() const
{
    if (SystemTable())
        return false;
    return (TablePrivileges() & (dpInsertData | dpDeleteData | dpUpdateData)) == 0;
}

void TVekDataSet::DataSetSetFieldPrivileges()
{
    TInternalFields* fields = FRecordMgr->InternalFields();
    for (int i = 0; i < Fields()->Count(); ++i) {
        TField* field = Fields()->Fields(i);
        if (field->FieldKind() != fkData)
            continue;
        TInternalFieldItem* item = fields->FindField(field->FieldName());
        if (!item)
            continue;
        const Integer privileges = FieldPrivileges(item);
        if (SystemTable())
            continue;
        if ((privileges & dpReadData) == 0)
            field->SetVisible(false);
        if (!field->ReadOnly() && (privileges & dpUpdateData) == 0)
            field->SetReadOnly(true);
    }
}

void TVekDataSet::ValidateObjectName(const std::string& Name, const std::string& Kind) const
{
    VekValidateObjectName(Name, Kind, "TVekDataSet.ValidateObjectName", const_cast<TVekDataSet*>(this));
}

void TVekDataSet::LogLine(const std::string& Caller, const std::string& Text) const
{
    if (GDBLogger)
        GDBLogger->LogItem(Caller, Text);
}

// ======================================================= opening, closing

void TVekDataSet::SetTableDef(bool AMemory, TFieldDefs* AFieldDefs, TIndexDefs* AIndexDefs)
{
    TVekTableDefSettings settings;
    settings.TableName = FTableName;
    settings.TableOwner = FTableOwner;
    settings.SortOrder = FSortOrder;
    settings.BlobBlockSize = FBlobBlockSize;
    settings.BlobCompression = FBlobCompression;
    settings.EncryptionLevel = FEncryptionLevel;
    VekSetTableDef(FTableDef.get(), AMemory, AFieldDefs, AIndexDefs, settings, "TVekDataSet.SetTableDef", this);
}

void TVekDataSet::InternalCreateTable()
{
    if (!FDataBase)
        VekDatabaseError(ErrNoConnection, "TVekDataSet.InternalCreateTable", "", this);
    CheckInternalInactive();
    if (!FDataBase->QueryObjectPrivilegeExists(VekObjectTypeTable, "ALL", 2))
        VekDatabaseError(ErrPrivilege, "TVekDataSet.InternalCreateTable", FTableName, this);
    FDataBase->CreateTable(FTableDef.get(), true);
}

void TVekDataSet::DataSetOpen()
{
    CheckConnected();
    if (FTableName.empty())
        VekDatabaseError(ErrNoSuchTable, "TVekDataSet.DataSetOpen", FTableName, this);
    if (FOpen)
        VekDatabaseError(ErrTableOpen, "TVekDataSet.DataSetOpen", FTableName, this);
    // A memory table unknown to the connection is "No such table" like a file table.
    if (FMemory && FDataBase->Connected() && !FDataBase->TableExists(FTableName, true))
        VekDatabaseError(ErrNoSuchTable, "TVekDataSet.DataSetOpen", FTableName, this);
    const bool internal = FTableDef->InternalTable();
    FTableDef = std::make_unique<TTableDef>(nullptr);
    FTableDef->SetInternalTable(internal);
    FTableDef->SetMemory(FMemory);
    FDataBase->OpenTable(FTableName, FTableDef.get());
    FTableConnected = true;
    try {
        if (FTableDef->Encrypted() && !VekCheckTableKeyValue(FTableDef.get()))
            VekDatabaseError(ErrCorruptHeader, "TVekDataSet.DataSetOpen",
                             SvekCorruptEncryptionKey, this);
        FReadOnly = FReadOnly || (FDataBase->ReadOnly() && !FMemory);
        InternalOpenDataSet();
        FReadAhead->Open(EngineBufferSize(), CurrentIndex()->MaximumKeySize() + 1, ReadAheadValidPeriod);
        FReadAheadOn = !FMemory;
        FUseReadAheadBuffer = FReadAheadOn;
        FReadAheadDirection = rdCenter;
    } catch (...) {
        CloseStorage();
        throw;
    }
}

void TVekDataSet::InternalOpenDataSet()
{
    if (FOpen)
        VekDatabaseError(ErrTableOpen, "TVekDataSet.InternalOpenDataSet", FTableName, this);
    FTableDef->Validate();
    FEncryptionLevel = FTableDef->EncryptionLevel();
    FRecordSize = FTableDef->RecordSize();
    if (FRecordSize <= 0)
        VekDatabaseErrorFmt(ErrInternal, "TVekDataSet.InternalOpenDataSet", SvekValueInvalidFmt, {"RecordSize"},
                            this);
    TInternalFields* fields = FRecordMgr->InternalFields();
    fields->Assign(FTableDef->InternalFields());
    for (int i = 0; i < fields->Count(); ++i)
        fields->GetIndex(i)->SetSourceField(fields->GetIndex(i)->FieldName());
    FRecordMgr->SetRecordSize(FRecordSize);
    FRecordMgr->Open(FTableDef->RecordInterface());

    const std::size_t bufSize = static_cast<std::size_t>(EngineBufferSize());
    FCurBuf.assign(bufSize, 0);
    FScratchBuf.assign(bufSize, 0);
    for (int mode = 0; mode < 2; ++mode) {
        FRangeBuf[mode].assign(bufSize, 0);
        FRangeKey[mode].assign(DataSetKeyBufferSize + 1, 0);
    }
    FOwnerTag = (static_cast<Cardinal>(FTableDef->TableID()) << 4) | IOUsageRecords;
    FRangeOn = false;
    FRangeNotEmpty = false;
    ForgetRangeEnds();
    InitializeRangeBuffers(rmRangeStart);
    InitializeRangeBuffers(rmRangeEnd);

    FIndexMgr->SetDBStringCompare(FTableDef->SortOrder() == soASCII ? DBASCIICompareStrings
                                                                   : DBANSICompareStrings);
    FIndexMgr->Assign(FTableDef->InternalIndexDefs());
    FIndexMgr->AssignKeyFields(FTableDef->KeyFields());
    FIndexMgr->SetIOInterface(FTableDef->IndexInterface());
    FIndexMgr->SetTableHeader(FTableDef->TableHeader());
    FIndexMgr->SetDebugStrings(DebugStrings);

    FLastModFlag = 0;
    FHeaderChanged = true;
    const bool taken = InternalSetReadLock();
    try {
        FIndexMgr->Open();
        if (fields->UsesBlobs()) {
            if (!FTableDef->BlobInterface() || FTableDef->DefaultBlobSize() <= 0)
                VekDatabaseErrorFmt(ErrInternal, "TVekDataSet.InternalOpenDataSet", SvekValueInvalidFmt,
                                    {"DefaultBlobSize"}, this);
            FBlobInterface->SetIOInterface(FTableDef->BlobInterface());
            FBlobInterface->SetBlobBlockSize(FTableDef->DefaultBlobSize());
            FBlobInterface->Open();
            FBlobsOpen = true;
        }
        if (FIndexMgr->Count() == 0)
            VekDatabaseError(ErrInternal, "TVekDataSet.InternalOpenDataSet", "No indexes exist", this);
        std::string name = FIndexMgr->CurrentIndexName();
        if (FIndexMgr->Count() == 1 && FIndexMgr->GetItems(0)->Hidden())
            name = FIndexMgr->GetItems(0)->IndexName();
        else if (name.empty() || !FIndexMgr->FindIndex(name)) {
            name.clear();
            for (int i = 0; i < FIndexMgr->Count() && name.empty(); ++i)
                if (!FIndexMgr->GetItems(i)->Hidden())
                    name = FIndexMgr->GetItems(i)->IndexName();
        }
        FIndexMgr->SetCurrentIndexName(name);
        FVersion = FTableDef->Version().empty() ? VekTableDefVersion : FTableDef->Version();
        FOpen = true;
        FRecState = rbsNone;
    } catch (...) {
        ReleaseIfTaken(taken);
        throw;
    }
    ReleaseIfTaken(taken);
}

void TVekDataSet::CloseStorage()
{
    if (FBlobsOpen) {
        FBlobInterface->Close();
        FBlobsOpen = false;
    }
    if (FIndexMgr->Count() > 0 || FIndexMgr->IOInterface())
        FIndexMgr->Close();
    FRecordMgr->Close();
    FReadAhead->Close();
    FFilterMgr->Clear();
    ClearBlobCache();
    FCurBuf.clear();
    FScratchBuf.clear();
    for (int mode = 0; mode < 2; ++mode) {
        FRangeBuf[mode].clear();
        FRangeKey[mode].clear();
    }
    FEditOriginal.clear();
    FEditCopyValid = false;
    if (FTableConnected && FDataBase) {
        FTableConnected = false;
        FDataBase->CloseTable(FTableDef.get());
    }
    FTableConnected = false;
}

void TVekDataSet::DataSetClose()
{
    if (FOpen) {
        if (FLocked) {
            try {
                InternalReleaseLock();
            } catch (...) {
                FLocked = FWriteLocked = FLockBorrowed = false;
            }
        }
        FTableLockHeld = false;
        FOpen = false;
        CloseStorage();
        FReadAheadOn = false;
        FUseReadAheadBuffer = false;
        FRangeOn = false;
        FCursorAddr = 0;
    } else if (FTableConnected) {
        CloseStorage();
    }
    FRecState = rbsNone;
}

// Overrides of the host protocol that only a table component provides.
TGetResult TVekDataSet::GetRecord(TRecordBuffer, TGetMode, bool)
{
    VekDatabaseError(ErrOverride, "TVekDataSet.GetRecord", "", this);
}
void TVekDataSet::InternalClose()
{
    VekDatabaseError(ErrOverride, "TVekDataSet.InternalClose", "", this);
}
void TVekDataSet::InternalHandleException()
{
    VekDatabaseError(ErrOverride, "TVekDataSet.InternalHandleException", "", this);
}
void TVekDataSet::InternalInitFieldDefs()
{
    VekDatabaseError(ErrOverride, "TVekDataSet.InternalInitFieldDefs", "", this);
}
void TVekDataSet::InternalOpen()
{
    VekDatabaseError(ErrOverride, "TVekDataSet.InternalOpen", "", this);
}
bool TVekDataSet::IsCursorOpen()
{
    VekDatabaseError(ErrOverride, "TVekDataSet.IsCursorOpen", "", this);
}

// ============================================================ field access

TInternalFieldItem* TVekDataSet::Field(Integer FieldNo) const
{
    TInternalFields* fields = FRecordMgr->InternalFields();
    if (FieldNo < 0 || FieldNo >= fields->Count())
        VekDatabaseError(ErrInternal, "TVekDataSet.GetField", "Field number out of range: " + IntToStr(FieldNo),
                         const_cast<TVekDataSet*>(this));
    return fields->GetField(FieldNo);
}

TInternalFieldItem* TVekDataSet::CheckedNonBlobField(Integer FieldNo, const char* Context) const
{
    TInternalFieldItem* item = Field(FieldNo);
    if (IsBlobFieldType(item->DataType()))
        VekDatabaseError(ErrInternal, Context,
                         "Unable to use this method to access blob fields. Field : " + IntToStr(FieldNo),
                         const_cast<TVekDataSet*>(this));
    return item;
}

void TVekDataSet::DataSetGetFieldData(Integer FieldNo, bool& IsNull, void* Buffer)
{
    DataSetGetFieldDataFromRecBuf(FieldNo, IsNull, Buffer, FCurBuf.data());
}

void TVekDataSet::DataSetGetFieldDataFromRecBuf(Integer FieldNo, bool& IsNull, void* Buffer, const Byte* RecBuf)
{
    TInternalFieldItem* item = CheckedNonBlobField(FieldNo, "TVekDataSet.DataSetGetFieldData");
    IsNull = RecBuf[item->NullFlagOffset()] != nfValue;
    if (!Buffer || IsNull)
        return;
    const Integer length = GetFieldLength(FieldNo, RecBuf);
    const Integer size = item->FieldSize();
    if (length < size)
        std::memset(Buffer, 0, static_cast<std::size_t>(size));
    std::memcpy(Buffer, RecBuf + item->DataOffset(), static_cast<std::size_t>(std::min(length, size)));
}

void TVekDataSet::DataSetGetFieldDataByReference(const Byte* RecBuf, Integer FieldNo, Integer& Length,
                                                 const Byte*& Pointer, bool& IsNull)
{
    TInternalFieldItem* item = CheckedNonBlobField(FieldNo, "TVekDataSet.DataSetGetFieldDataByReference");
    IsNull = RecBuf[item->NullFlagOffset()] != nfValue;
    Length = GetFieldLength(FieldNo, RecBuf);
    Pointer = RecBuf + item->DataOffset();
}

Integer TVekDataSet::GetFieldLength(Integer FieldNo, const Byte* RecBuf) const
{
    TInternalFieldItem* item = Field(FieldNo);
    if (IsBlobFieldType(item->DataType()))
        return RecBuf[item->NullFlagOffset()] == nfValue
                   ? static_cast<Integer>(ReadLE32(RecBuf + item->DataOffset() + 4))
                   : 0;
    if (!item->IsVariable())
        return item->FieldSize();
    if (item->SizeMarkerOffset() <= 0)
        VekDatabaseError(ErrInvalidType, "TVekDataSet.GetFieldLength", item->FieldName(),
                         const_cast<TVekDataSet*>(this));
    if (RecBuf[item->NullFlagOffset()] != nfValue)
        return 0;
    return std::min<Integer>(ReadLE16(RecBuf + item->SizeMarkerOffset()), item->FieldSize());
}

Variant TVekDataSet::DataSetGetFieldDataAsVariant(Integer FieldNo)
{
    return DataSetGetFieldDataFromRecBufAsVariant(FCurBuf.data(), FieldNo);
}

Variant TVekDataSet::DataSetGetFieldDataFromRecBufAsVariant(const Byte* RecBuf, Integer FieldNo)
{
    TInternalFieldItem* item = CheckedNonBlobField(FieldNo, "TVekDataSet.DataSetGetFieldDataAsVariant");
    if (RecBuf[item->NullFlagOffset()] != nfValue)
        return Variant::Null();
    const Byte* data = RecBuf + item->DataOffset();
    switch (item->DataType()) {
    case ftString:
        return Variant(std::string(reinterpret_cast<const char*>(data),
                                   static_cast<std::size_t>(GetFieldLength(FieldNo, RecBuf))));
    case ftSmallint:
        return Variant(static_cast<int>(static_cast<std::int16_t>(ReadLE16(data))));
    case ftWord:
        return Variant(static_cast<int>(ReadLE16(data)));
    case ftInteger:
    case ftAutoInc:
        return Variant(static_cast<int>(ReadLE32(data)));
    case ftBoolean:
        return Variant(data[0] != 0);
    case ftFloat:
    case ftCurrency: {
        double value;
        std::memcpy(&value, data, sizeof value);
        return Variant(value);
    }
    case ftDate:
    case ftTime:
    case ftDateTime: {
        double value;
        std::memcpy(&value, data, sizeof value);
        return Variant::FromDate(value);
    }
    default:
        VekDatabaseError(ErrInvalidType, "TVekDataSet.DataSetGetFieldDataAsVariant",
                         FieldTypeName(item->DataType()), this);
    }
}

void TVekDataSet::DataSetSetFieldData(Integer FieldNo, Integer Length, bool IsNull, const void* Buffer)
{
    CheckPrivilegePresent(FieldPrivileges(Field(FieldNo)), dpUpdateData);
    DataSetSetFieldDataToRecBuf(FieldNo, Length, IsNull, Buffer, FCurBuf.data());
}

void TVekDataSet::DataSetSetFieldDataToRecBuf(Integer FieldNo, Integer Length, bool IsNull, const void* Buffer,
                                              Byte* RecBuf)
{
    TInternalFieldItem* item = Field(FieldNo);
    if (IsBlobFieldType(item->DataType()))
        VekDatabaseError(ErrInternal, "TVekDataSet.DataSetSetFieldData",
                         "Unable to use this method to access blob fields", this);
    const Integer size = item->FieldSize();
    // A variable field keeps room for its terminator: a string of size n
    // takes at most n characters (a wide string n characters of 2 bytes).
    const Integer room = item->DataType() == ftString       ? size - 1
                         : item->DataType() == ftWideString ? size - 2
                                                            : size;
    if (Length > room)
        VekDatabaseError(ErrInternal, "TVekDataSet.DataSetSetFieldData", "Field data length is out of range", this);
    Byte* data = RecBuf + item->DataOffset();
    if (IsNull || !Buffer) {
        RecBuf[item->NullFlagOffset()] = nfNull;
        std::memset(data, 0, static_cast<std::size_t>(size));
        if (item->IsVariable() && item->SizeMarkerOffset() > 0)
            WriteLE16(RecBuf + item->SizeMarkerOffset(), 0);
        return;
    }
    RecBuf[item->NullFlagOffset()] = nfValue;
    Integer length = Length;
    if (item->IsVariable()) {
        ORVEX_ASSERT(Length >= 0, "Negative length for a variable field");
        WriteLE16(RecBuf + item->SizeMarkerOffset(), static_cast<Word>(Length));
    } else if (length < 0) {
        length = size;
    }
    if (length < size)
        std::memset(data, 0, static_cast<std::size_t>(size));
    std::memcpy(data, Buffer, static_cast<std::size_t>(length));
}

void TVekDataSet::DataSetSetFieldDataAsVariant(Integer FieldNo, const Variant& Value)
{
    DataSetSetFieldDataToRecBufAsVariant(FCurBuf.data(), FieldNo, Value);
}

void TVekDataSet::DataSetSetFieldDataToRecBufAsVariant(Byte* RecBuf, Integer FieldNo, const Variant& Value)
{
    TInternalFieldItem* item = Field(FieldNo);
    if (Value.IsNull() || Value.IsEmpty()) {
        DataSetSetFieldDataToRecBuf(FieldNo, 0, true, nullptr, RecBuf);
        return;
    }
    Byte data[8] = {};
    switch (item->DataType()) {
    case ftString: {
        const std::string text = VarToStr(Value);
        DataSetSetFieldDataToRecBuf(FieldNo, static_cast<Integer>(text.size()), false, text.data(), RecBuf);
        return;
    }
    case ftSmallint:
    case ftWord:
        WriteLE16(data, static_cast<Word>(Value.AsInteger()));
        break;
    case ftInteger:
    case ftAutoInc:
        WriteLE32(data, static_cast<Cardinal>(Value.AsInteger()));
        break;
    case ftBoolean:
        data[0] = Value.AsBoolean() ? 1 : 0;
        break;
    case ftFloat:
    case ftCurrency:
    case ftDate:
    case ftTime:
    case ftDateTime: {
        const double value = Value.AsDouble();
        std::memcpy(data, &value, sizeof value);
        break;
    }
    default:
        VekDatabaseError(ErrInvalidType, "TVekDataSet.DataSetSetFieldDataAsVariant",
                         FieldTypeName(item->DataType()), this);
    }
    DataSetSetFieldDataToRecBuf(FieldNo, -1, false, data, RecBuf);
}

Integer TVekDataSet::GetFieldNo(const std::string& Name) const
{
    TInternalFieldItem* item = FRecordMgr->InternalFields()->FindField(Name);
    return item ? item->FieldIndex() : -1;
}

Integer TVekDataSet::GetFieldDataOffset(Integer FieldNo) const
{
    return Field(FieldNo)->DataOffset();
}

Integer TVekDataSet::GetFieldNullOffset(Integer FieldNo) const
{
    return Field(FieldNo)->NullFlagOffset();
}

bool TVekDataSet::GetIsFieldNullFromRecBuf(Integer FieldNo, const Byte* RecBuf) const
{
    return RecBuf[Field(FieldNo)->NullFlagOffset()] != nfValue;
}

bool TVekDataSet::IsFieldBlob(Integer FieldNo) const
{
    return IsBlobFieldType(Field(FieldNo)->DataType());
}

bool TVekDataSet::IsFieldTextBlob(Integer FieldNo) const
{
    const TFieldType type = Field(FieldNo)->DataType();
    return type == ftMemo || type == ftFmtMemo;
}

Integer TVekDataSet::GetInternalFieldCount() const
{
    return FRecordMgr->InternalFields()->Count();
}

TInternalFields* TVekDataSet::GetInternalFields() const
{
    return FRecordMgr->InternalFields();
}

void TVekDataSet::GetFieldDef(Integer FieldNo, TFieldDef* FieldDef) const
{
    TInternalFieldItem* item = Field(FieldNo);
    FieldDef->SetName(item->FieldName());
    FieldDef->SetDataType(item->DataType());
    if (item->IsVariable())
        FieldDef->SetSize(item->GetWriteableFieldSize());
    else if (item->DataType() == ftBytes)
        FieldDef->SetSize(item->FieldSize());
    FieldDef->SetRequired(item->Required());
}

// ========================================================== record buffers

void TVekDataSet::ClearRecord(Byte* RecBuf)
{
    std::memset(RecBuf, 0, static_cast<std::size_t>(EngineBufferSize()));
    if (RecBuf == FCurBuf.data()) {
        FRecordMgr->BlobMgr()->InvalidateStreams();
        FRecState = rbsAssigned;
    }
}

void TVekDataSet::SetRecordBuffer(const Byte* Source, Integer Size)
{
    std::memcpy(FCurBuf.data(), Source, static_cast<std::size_t>(std::min(Size, EngineBufferSize())));
}

void TVekDataSet::GetRecordBuffer(Byte* Dest) const
{
    std::memcpy(Dest, FCurBuf.data(), FCurBuf.size());
}

void TVekDataSet::ReadRecordBuffer(Cardinal Address, Byte* RecBuf)
{
    FRecordMgr->ReadRecord(Address, RecBuf, false);
}

void TVekDataSet::ReadRecordBuffers(const Cardinal* Addresses, std::size_t Count, Byte* RecBuf,
                                    const std::function<void(std::size_t)>& Visit)
{
    FRecordMgr->ReadRecords(Addresses, Count, RecBuf, Visit);
}

void TVekDataSet::InitializeNewRecord(Byte* RecBuf, bool KeyFieldsLow)
{
    std::memset(RecBuf, 0, static_cast<std::size_t>(EngineBufferSize()));
    if (!KeyFieldsLow)
        return;
    TIndexItem* index = CurrentIndex();
    for (int i = 0; i < index->KeyFields()->Count(); ++i) {
        TKeyFieldItem* key = index->KeyFields()->GetItems(i);
        if (!key->Hidden())
            RecBuf[key->NullFlagOffset()] = nfLowest;
    }
    WriteLE32(RecBuf + FRecordSize + eioKeyFlag, kfBeforeFirst);
}

void TVekDataSet::SetKeyFlagsToBOF(Byte* RecBuf)
{
    std::memset(RecBuf, 0, static_cast<std::size_t>(EngineBufferSize()));
    TInternalFields* fields = FRecordMgr->InternalFields();
    for (int i = 0; i < fields->Count(); ++i)
        RecBuf[fields->GetIndex(i)->NullFlagOffset()] = nfLowest;
    WriteLE32(RecBuf + FRecordSize + eioKeyFlag, kfBeforeFirst);
}

void TVekDataSet::SetKeyFlagsToEOF(Byte* RecBuf)
{
    std::memset(RecBuf, 0, static_cast<std::size_t>(EngineBufferSize()));
    TInternalFields* fields = FRecordMgr->InternalFields();
    for (int i = 0; i < fields->Count(); ++i)
        RecBuf[fields->GetIndex(i)->NullFlagOffset()] = nfHighest;
    WriteLE32(RecBuf + FRecordSize + eioKeyFlag, kfAfterLast);
}

void TVekDataSet::SetFieldKeyFlagToMax(Byte* RecBuf, Integer FieldNo)
{
    RecBuf[Field(FieldNo)->NullFlagOffset()] = nfHighest;
    WriteLE32(RecBuf + FRecordSize + eioKeyFlag, kfAfterLast);
}

void TVekDataSet::GetBookMarkFromBuf(const Byte* RecBuf, void* Bookmark) const
{
    Byte* out = static_cast<Byte*>(Bookmark);
    std::memcpy(out, RecBuf + FRecordSize + eioRecAddr, 4);
    std::memcpy(out + 4, RecBuf + rpoRecordID, 4);
}

void TVekDataSet::SetBookMarkToBuf(Byte* RecBuf, const void* Bookmark)
{
    const Byte* in = static_cast<const Byte*>(Bookmark);
    std::memcpy(RecBuf + FRecordSize + eioRecAddr, in, 4);
    std::memcpy(RecBuf + rpoRecordID, in + 4, 4);
}

bool TVekDataSet::CheckBookMarkValid(const void* Bookmark)
{
    if (!FOpen || !Bookmark)
        return false;
    const Byte* in = static_cast<const Byte*>(Bookmark);
    const Cardinal address = ReadLE32(in);
    if (address == 0)
        return false;
    const bool taken = InternalSetReadLock();
    bool valid = false;
    try {
        if (RecordAddressValid(address)) {
            std::vector<Byte> image(static_cast<std::size_t>(FRecordSize));
            FRecordMgr->ReadRecord(address, image.data(), false);
            valid = InternalCheckRecordValid(image.data()) && ReadLE32(image.data() + rpoRecordID) == ReadLE32(in + 4);
        }
    } catch (const EVekDatabaseError&) {
        valid = false;
    }
    ReleaseIfTaken(taken);
    return valid;
}

bool TVekDataSet::RecordAddressValid(Cardinal Address)
{
    if (Address == 0)
        return false;
    TBaseIOInterface* records = FTableDef->RecordInterface();
    if (FMemory || !FDataBase || !FDataBase->DiskMgr())
        return records->CheckBlockAddressValid(Address);
    TDiskMgr* disk = FDataBase->DiskMgr();
    const Int64 last = static_cast<Int64>(Address) + FRecordSize - 1;
    if (last >= disk->GetFileSize())
        return false;
    const Integer owner = FTableDef->TableID();
    if (!disk->DebugCheckAddressOwnerFlags(Address, owner, IOUsageRecords))
        return false;
    // A record inside one page has one map entry, checked already.
    const auto page = static_cast<Cardinal>(disk->PageSize());
    const auto lastAddress = static_cast<Cardinal>(last);
    return Address / page == lastAddress / page ||
           disk->DebugCheckAddressOwnerFlags(lastAddress, owner, IOUsageRecords);
}

bool TVekDataSet::CheckBufferWritten(const Byte* RecBuf) const
{
    return ReadLE32(RecBuf + FRecordSize + eioRecNo) > 0;
}

Cardinal TVekDataSet::DataSetGetRecordModFlag() const
{
    return ReadLE32(FCurBuf.data() + rpoModCounter);
}

Cardinal TVekDataSet::DatasetGetRecAddr() const
{
    return ReadLE32(FCurBuf.data() + FRecordSize + eioRecAddr);
}

bool TVekDataSet::InternalCheckRecordValid(const Byte* RecBuf) const
{
    return RecBuf[rpoStatus] == 1 && ReadLE32(RecBuf + rpoOwnerTag) == FOwnerTag;
}

bool TVekDataSet::InternalCheckRecordFlags(const Byte* RecA, const Byte* RecB, bool CheckModification,
                                           bool CheckIdentity) const
{
    if (CheckIdentity) {
        if (RecA[rpoStatus] != 1 || RecB[rpoStatus] != 1)
            return false;
        if (ReadLE32(RecA + rpoOwnerTag) != FOwnerTag)
            return false;
        if (ReadLE32(RecA + rpoRecordID) != ReadLE32(RecB + rpoRecordID))
            return false;
    }
    if (CheckModification && ReadLE32(RecA + rpoModCounter) != ReadLE32(RecB + rpoModCounter))
        return false;
    return true;
}

// ======================================================= index information

TIndexItem* TVekDataSet::RequireIndex(const std::string& Name, const char* Context) const
{
    TIndexItem* index = Name.empty() ? FIndexMgr->FindIndex(FIndexMgr->CurrentIndexName()) : FIndexMgr->FindIndex(Name);
    if (!index)
        VekDatabaseErrorFmt(ErrNoIndex, Context, SvekIndexFmt, {Name}, const_cast<TVekDataSet*>(this));
    return index;
}

TIndexItem* TVekDataSet::CurrentIndex() const
{
    return RequireIndex(FIndexMgr->CurrentIndexName(), "TVekDataSet.CurrentIndex");
}

const std::string& TVekDataSet::CurrentIndexName() const
{
    return FIndexMgr->CurrentIndexName();
}

Integer TVekDataSet::InternalGetIndexCount() const
{
    if (FOpen)
        return FIndexMgr->IndexCount();
    Integer count = 0;
    for (int i = 0; i < FTableDef->InternalIndexDefs()->Count(); ++i)
        if (!FTableDef->InternalIndexDefs()->GetItems(i)->Hidden())
            ++count;
    return count;
}

void TVekDataSet::GetIndexNames(TStrings* List)
{
    List->Clear();
    if (FOpen) {
        for (int i = 0; i < FIndexMgr->Count(); ++i)
            if (!FIndexMgr->GetItems(i)->Hidden())
                List->Add(FIndexMgr->GetItems(i)->IndexName());
        return;
    }
    for (int i = 0; i < FTableDef->InternalIndexDefs()->Count(); ++i)
        if (!FTableDef->InternalIndexDefs()->GetItems(i)->Hidden())
            List->Add(FTableDef->InternalIndexDefs()->GetItems(i)->IndexName());
}

void TVekDataSet::GetIndexDef(Integer Index, TIndexDef* IndexDef) const
{
    if (Index < 0 || Index >= FIndexMgr->Count())
        VekDatabaseError(ErrInternal, "TVekDataSet.GetIndexDef", "Index item not found", const_cast<TVekDataSet*>(this));
    TIndexItem* item = FIndexMgr->GetItems(Index);
    if (item->Hidden())
        VekDatabaseError(ErrInternal, "TVekDataSet.GetIndexDef", "Attempting to access a hidden index",
                         const_cast<TVekDataSet*>(this));
    std::string fields, caseIns, desc;
    for (int i = 0; i < item->KeyFields()->Count(); ++i) {
        TKeyFieldItem* key = item->KeyFields()->GetItems(i);
        if (key->Hidden())
            continue;
        auto join = [](std::string& list, const std::string& name) { list += (list.empty() ? "" : ";") + name; };
        join(fields, key->FieldName());
        if (key->CaseInsensitive())
            join(caseIns, key->FieldName());
        if (key->Descending())
            join(desc, key->FieldName());
    }
    IndexDef->SetName(item->IndexName());
    IndexDef->SetFields(fields);
    IndexDef->SetCaseInsFields(caseIns);
    IndexDef->SetDescFields(desc);
    TIndexOptions options = 0;
    if (item->Primary())
        options |= ixPrimary;
    if (item->Unique())
        options |= ixUnique;
    if (!caseIns.empty())
        options |= ixCaseInsensitive;
    if (!desc.empty())
        options |= ixDescending;
    IndexDef->SetOptions(options);
}

Integer TVekDataSet::GetIndexFieldCount() const
{
    TIndexItem* index = CurrentIndex();
    Integer count = 0;
    for (int i = 0; i < index->KeyFields()->Count(); ++i)
        if (!index->KeyFields()->GetItems(i)->Hidden())
            ++count;
    return count;
}

std::string TVekDataSet::GetIndexFieldsFromKeyFields(const std::string& IndexName) const
{
    TIndexItem* index = RequireIndex(IndexName, "TVekDataSet.GetIndexFieldsFromKeyFields");
    std::string fields;
    for (int i = 0; i < index->KeyFields()->Count(); ++i) {
        TKeyFieldItem* key = index->KeyFields()->GetItems(i);
        if (!key->Hidden())
            fields += (fields.empty() ? "" : ";") + key->FieldName();
    }
    return fields;
}

std::string TVekDataSet::FindIndexForFields(const std::string& FieldNames) const
{
    const std::vector<std::string> wanted = SplitFieldNames(FieldNames);
    for (int i = 0; i < FIndexMgr->Count(); ++i) {
        TIndexItem* index = FIndexMgr->GetItems(i);
        std::vector<std::string> names;
        for (int k = 0; k < index->KeyFields()->Count(); ++k)
            if (!index->KeyFields()->GetItems(k)->Hidden())
                names.push_back(index->KeyFields()->GetItems(k)->FieldName());
        if (names.size() != wanted.size())
            continue;
        bool same = true;
        for (std::size_t k = 0; k < names.size() && same; ++k)
            same = SameText(names[k], wanted[k]);
        if (same)
            return index->IndexName();
    }
    VekDatabaseError(ErrNoIndex, "TVekDataSet.FindIndexForFields", FieldNames, const_cast<TVekDataSet*>(this));
}

void TVekDataSet::CheckIndexesPresent() const
{
    if (FIndexMgr->Count() == 0)
        VekDatabaseError(ErrNoIndex, "TVekDataSet.CheckIndexesPresent", "", const_cast<TVekDataSet*>(this));
}

// =================================================================== locks

bool TVekDataSet::LockHeldByTransaction(Integer LockType)
{
    // Inside a file transaction the connection keeps its table locks to the
    // end: a lock held from an earlier operation means no other connection
    // wrote the table since its header was read.
    if (FMemory || !FDataBase->InTransaction())
        return false;
    return FDataBase->TableLockExists(FTableDef.get(), VekLockWrite) ||
           (LockType == VekLockRead && FDataBase->TableLockExists(FTableDef.get(), VekLockRead));
}

bool TVekDataSet::LockHeldByConnection() const
{
    // The connection's table locks are one per table, not one per dataset:
    // a lock another dataset holds (a statement's scan holding its tables,
    // a table the program locked) is the one a read here stands on.
    if (FMemory || !FDataBase || FDataBase->IsMemory() || !FDataBase->Connected())
        return false;
    return FDataBase->TableLockExists(FTableDef.get(), VekLockRead) ||
           FDataBase->TableLockExists(FTableDef.get(), VekLockWrite);
}

bool TVekDataSet::InternalSetReadLock()
{
    if (FLocked)
        return false;
    const bool held = LockHeldByTransaction(VekLockRead);
    // Under a lock held all along no other connection has written the
    // table: the shared header read when it was taken is current.
    const bool borrowed = LockHeldByConnection();
    FDataBase->LockTable(FTableDef.get(), VekLockRead);
    FLocked = true;
    FLockBorrowed = borrowed;
    try {
        ReadTableHeader(!held && !borrowed);
    } catch (...) {
        InternalReleaseLock();
        throw;
    }
    return true;
}

bool TVekDataSet::InternalSetWriteLock()
{
    if (FLocked)
        return false;
    if (FReadOnly)
        DatabaseError(SDataSetReadOnly, this);
    const bool held = LockHeldByTransaction(VekLockWrite);
    FDataBase->LockTable(FTableDef.get(), VekLockWrite);
    FLocked = true;
    FWriteLocked = true;
    FLockBorrowed = false;
    try {
        ReadTableHeader(!held);
    } catch (...) {
        InternalReleaseLock();
        throw;
    }
    return true;
}

void TVekDataSet::InternalReleaseLock()
{
    if (!FLocked)
        return;
    const bool wrote = FWriteLocked;
    FLocked = false;
    FWriteLocked = false;
    if (FLockBorrowed && !wrote) {
        // The lock is its holder's to give back.
        FLockBorrowed = false;
        return;
    }
    FLockBorrowed = false;
    try {
        if (wrote)
            WriteTableHeader();
    } catch (...) {
        FDataBase->UnLockTable(FTableDef.get());
        throw;
    }
    FDataBase->UnLockTable(FTableDef.get());
    FTableDef->RecordInterface()->SetFirstEmptyValid(false);
    if (FBlobsOpen)
        FTableDef->BlobInterface()->SetFirstEmptyValid(false);
}

void TVekDataSet::LockTable()
{
    CheckInternalActive();
    if (FTableLockHeld)
        return;
    if (FLocked && !FWriteLocked)
        InternalReleaseLock();
    if (!FLocked)
        InternalSetWriteLock();
    FTableLockHeld = true;
}

void TVekDataSet::ReadLockTable()
{
    CheckInternalActive();
    if (FTableLockHeld)
        return;
    if (!FLocked)
        InternalSetReadLock();
    FTableLockHeld = true;
}

void TVekDataSet::UnlockTable()
{
    if (!FTableLockHeld)
        return;
    FTableLockHeld = false;
    InternalReleaseLock();
}

void TVekDataSet::InternalSetRecordLock(Cardinal Address)
{
    if (FDataBase && Address != 0)
        FDataBase->LockRecord(FTableDef.get(), Address);
}

void TVekDataSet::InternalReleaseRecordLock(Cardinal Address)
{
    if (FDataBase && Address != 0 && FTableConnected)
        FDataBase->UnLockRecord(FTableDef.get(), Address);
}

// ============================================================ table header

void TVekDataSet::ReadTableHeader(bool FromFile)
{
    TTableHeader* header = FTableDef->TableHeader();
    if (!FMemory && FromFile)
        header->ReadHeader();
    const Cardinal flag = header->ModifiedFlag();
    FHeaderChanged = flag != FLastModFlag;
    FLastModFlag = flag;
    // A changed header means another writer: the trees' page copies are
    // stale as well as the roots.
    FIndexMgr->ReadIndexHeaders(FHeaderChanged);
    FTableDef->RecordInterface()->SetFirstEmpty(header->RecordFirstEmpty());
    FTableDef->RecordInterface()->SetFirstEmptyValid(true);
    if (FBlobsOpen) {
        FTableDef->BlobInterface()->SetFirstEmpty(header->BlobFirstEmpty());
        FTableDef->BlobInterface()->SetFirstEmptyValid(true);
    }
    if (FHeaderChanged)
        TableHeaderChanged();
}

void TVekDataSet::TableHeaderChanged()
{
    InvalidateReadAhead();
    FReadAhead->SetRecordCountValid(false);
    ClearBlobCache();
    FFilterMgr->Reset();
    FCursorAddr = 0;
    ForgetRangeEnds();
}

void TVekDataSet::WriteTableHeader()
{
    if (!FOpen || FReadOnly)
        return;
    TTableHeader* header = FTableDef->TableHeader();
    header->SetRecordFirstEmpty(FTableDef->RecordInterface()->FirstEmpty());
    if (FBlobsOpen)
        header->SetBlobFirstEmpty(FTableDef->BlobInterface()->FirstEmpty());
    FIndexMgr->WriteIndexHeaders();
    if (header->Dirty()) {
        header->WriteHeader();
        FLastModFlag = header->ModifiedFlag();
        InvalidateReadAhead();
        ClearBlobCache();
    }
}

// ============================================================= diagnostics

void TVekDataSet::DebugListPagesOwned(TStrings* List)
{
    if (FDataBase && FDataBase->DiskMgr() && !FMemory)
        FDataBase->DiskMgr()->DebugListOwnedPages(FTableDef->TableID(), List);
}

void TVekDataSet::DumpInternalCaches()
{
    if (!FOpen)
        return;
    FIndexMgr->InvalidateInternalBuffers();
    InvalidateReadAhead();
    FReadAhead->SetRecordCountValid(false);
    ClearBlobCache();
    FCursorAddr = 0;
    FLastModFlag = 0;
}

void TVekDataSet::DumpInternalStatus(TStrings* Lines)
{
    if (FOpen)
        FIndexMgr->DumpInternalStatus(Lines);
}

} // namespace orvex
