// TVekBaseTable: the host framework's dataset protocol over TVekDataSet, and
// the blob stream TBlobStream.

#include "dataset/vekDataSet.h"

#include "host/DBConsts.h"
#include "storage/vekByteOrder.h"

#include <algorithm>
#include <cstring>

namespace orvex {

namespace {

constexpr Integer ErrInternal = 8581;
constexpr Integer ErrNoIndex = 9997;
constexpr Integer ErrInvalidType = 10000;
constexpr Integer ErrBookmark = 10021;
constexpr Integer ErrNoConnection = 10112;
constexpr Integer ErrInTransaction = 10122;
constexpr Integer ErrTableType = 10766;
constexpr Integer ErrMemoryDatabase = 10880;

} // namespace

// ================================================================ lifetime

TVekBaseTable::TVekBaseTable(TComponent* AOwner) : TVekDataSet(AOwner), FIndexDefs(new TIndexDefs(this))
{
    RecordFilter = [this](const Byte* RecBuf) { return RecordProcFilter(RecBuf); };
}

TVekBaseTable::~TVekBaseTable()
{
    Destroying();
    try {
        Close();
    } catch (...) {
    }
    if (FForDefsOpen)
        InternalCloseForDefs();
    delete FIndexDefs;
}

void TVekBaseTable::Notification(TComponent* AComponent, TOperation Operation)
{
    TVekDataSet::Notification(AComponent, Operation);
}

// ============================================================= index defs

void TVekBaseTable::SetIndexDefs(TIndexDefs* Value)
{
    FIndexDefs->Assign(Value);
}

TIndexDef* TVekBaseTable::FindIndexDefByName(const std::string& Name) const
{
    for (int i = 0; i < FIndexDefs->Count(); ++i)
        if (SameText(FIndexDefs->Items(i)->Name(), Name))
            return FIndexDefs->Items(i);
    return nullptr;
}

void TVekBaseTable::UpdateIndexDefs()
{
    if (!DataSetIsOpen())
        return;
    FIndexDefs->Clear();
    for (int i = 0; i < IndexManager()->Count(); ++i) {
        if (IndexManager()->GetItems(i)->Hidden())
            continue;
        GetIndexDef(i, FIndexDefs->AddIndexDef());
    }
}

// ================================================================ buffers

TRecordBuffer TVekBaseTable::AllocRecordBuffer()
{
    const std::size_t size = static_cast<std::size_t>(FLayout.BufferSize());
    auto* buffer = new Byte[size];
    std::memset(buffer, 0, size);
    return buffer;
}

void TVekBaseTable::FreeRecordBuffer(TRecordBuffer& Buffer)
{
    delete[] Buffer;
    Buffer = nullptr;
}

void TVekBaseTable::ClearCalcFields(TRecordBuffer Buffer)
{
    std::memset(Buffer + FLayout.CalcFieldsOffset(), 0, static_cast<std::size_t>(FLayout.CalcFieldsSize));
}

TBookmarkFlag TVekBaseTable::GetBookmarkFlag(TRecordBuffer Buffer)
{
    return static_cast<TBookmarkFlag>(Buffer[FLayout.BookmarkFlagOffset()]);
}

void TVekBaseTable::SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value)
{
    Buffer[FLayout.BookmarkFlagOffset()] = static_cast<Byte>(Value);
}

void TVekBaseTable::GetBookmarkData(TRecordBuffer Buffer, void* Data)
{
    std::memcpy(Data, Buffer + FLayout.BookmarkOffset(), TRecordBufferLayout::BookmarkSize);
}

void TVekBaseTable::SetBookmarkData(TRecordBuffer Buffer, const void* Data)
{
    std::memcpy(Buffer + FLayout.BookmarkOffset(), Data, TRecordBufferLayout::BookmarkSize);
}

bool TVekBaseTable::BookmarkValid(const TBookmark& Bookmark)
{
    if (!Active() || Bookmark.size() != TRecordBufferLayout::BookmarkSize)
        return false;
    return CheckBookMarkValid(Bookmark.data());
}

int TVekBaseTable::CompareBookmarks(const TBookmark& Bookmark1, const TBookmark& Bookmark2)
{
    if (Bookmark1.empty() && Bookmark2.empty())
        return 0;
    if (Bookmark1.empty() || Bookmark2.empty())
        return 1;
    const std::size_t n = std::min<std::size_t>({Bookmark1.size(), Bookmark2.size(), 8});
    for (std::size_t i = 0; i < n; ++i)
        if (Bookmark1[i] != Bookmark2[i])
            return static_cast<int>(static_cast<Byte>(Bookmark1[i])) - static_cast<int>(static_cast<Byte>(Bookmark2[i]));
    return 0;
}

void TVekBaseTable::InternalGotoBookmark(const void* Bookmark)
{
    bool done = false;
    try {
        done = DataSetSetToBookmark(Bookmark);
    } catch (const EVekDatabaseError&) {
        done = false;
    }
    if (!done)
        VekDatabaseError(ErrBookmark, "TVekBaseTable.InternalGotoBookmark",
                         "Bookmark does not match table or the bookmarked record cannot be found", this);
}

TRecordBuffer TVekBaseTable::GetActiveRecBuf()
{
    switch (State()) {
    case dsBrowse:
    case dsBlockRead:
        return IsEmpty() ? nullptr : ActiveBuffer();
    case dsEdit:
    case dsInsert:
    case dsNewValue:
        return ActiveBuffer();
    case dsSetKey:
        if (FKeyMode == kmKey)
            return FKeyBuffer;
        if (FKeyMode == kmRange)
            return GetRangeRecBuf(FRangeMode);
        VekDatabaseError(ErrInternal, "TVekBaseTable.GetActiveRecBuf", "State error - no KeyMode set for SetKey state",
                         this);
    case dsCalcFields:
        return CalcBuffer();
    case dsFilter:
        return FFilterBuffer;
    default:
        return nullptr;
    }
}

bool TVekBaseTable::GetCurrentRecord(TRecordBuffer Buffer)
{
    if (IsEmpty() || !ActiveBuffer())
        return false;
    std::memcpy(Buffer, ActiveBuffer(), static_cast<std::size_t>(FLayout.BufferSize()));
    return true;
}

// ========================================================== field values

Integer TVekBaseTable::EngineFieldNo(const TField* Field) const
{
    const int no = Field->FieldNo();
    if (no < 1 || no > static_cast<int>(FFieldMap.size()) || FFieldMap[static_cast<std::size_t>(no - 1)] < 0)
        VekDatabaseError(ErrInternal, "TVekBaseTable.GetFieldData", "Field not found " + Field->FieldName(),
                         const_cast<TVekBaseTable*>(this));
    return FFieldMap[static_cast<std::size_t>(no - 1)];
}

bool TVekBaseTable::GetFieldData(TField* Field, void* Buffer)
{
    TRecordBuffer record = GetActiveRecBuf();
    if (!record)
        return false;
    if (Field->FieldNo() < 1) {
        const Byte* slot = record + FLayout.CalcFieldsOffset() + Field->Offset();
        if (slot[0] == 0)
            return false;
        if (Buffer)
            std::memcpy(Buffer, slot + 1, static_cast<std::size_t>(Field->DataSize()));
        return true;
    }
    const Integer no = EngineFieldNo(Field);
    TInternalFieldItem* item = GetInternalFields()->GetField(no);
    if (IsBlobFieldType(item->DataType())) {
        if ((State() == dsEdit || State() == dsInsert) && record == ActiveBuffer()) {
            TBlob* blob = FindFieldBlob(no);
            if (blob && (blob->State() == bsModified || blob->State() == bsValid))
                return blob->BlobStream()->Size() > 0;
        }
        return record[item->NullFlagOffset()] == nfValue;
    }
    if (record[item->NullFlagOffset()] != nfValue)
        return false;
    if (!Buffer)
        return true;
    const Byte* data = record + item->DataOffset();
    switch (item->DataType()) {
    case ftString: {
        const Integer length = GetFieldLength(no, record);
        std::memset(Buffer, 0, static_cast<std::size_t>(Field->DataSize()));
        std::memcpy(Buffer, data, static_cast<std::size_t>(std::min(length, Field->DataSize() - 1)));
        break;
    }
    case ftBoolean: {
        const std::int16_t value = data[0] != 0 ? -1 : 0;
        std::memcpy(Buffer, &value, sizeof value);
        break;
    }
    case ftDate:
    case ftTime:
    case ftDateTime: {
        double value;
        std::memcpy(&value, data, sizeof value);
        DateTimeToNative(item->DataType(), value, Buffer);
        break;
    }
    default:
        std::memcpy(Buffer, data, static_cast<std::size_t>(std::min(item->FieldSize(), Field->DataSize())));
        break;
    }
    return true;
}

void TVekBaseTable::SetFieldData(TField* Field, const void* Buffer)
{
    if (!StateIn(State(), dsWriteModes))
        DatabaseError(SNotEditing, this);
    TRecordBuffer record = GetActiveRecBuf();
    if (!record)
        DatabaseError(SNotEditing, this);
    if (Field->FieldNo() < 1) {
        Byte* slot = record + FLayout.CalcFieldsOffset() + Field->Offset();
        slot[0] = Buffer ? 1 : 0;
        std::memset(slot + 1, 0, static_cast<std::size_t>(Field->DataSize()));
        if (Buffer)
            std::memcpy(slot + 1, Buffer, static_cast<std::size_t>(Field->DataSize()));
    } else {
        if (State() == dsCalcFields)
            DatabaseError(SNotEditing, this);
        Field->Validate(Buffer);
        const Integer no = EngineFieldNo(Field);
        TInternalFieldItem* item = GetInternalFields()->GetField(no);
        if (!Buffer) {
            DataSetSetFieldDataToRecBuf(no, 0, true, nullptr, record);
        } else {
            switch (item->DataType()) {
            case ftString: {
                const char* text = static_cast<const char*>(Buffer);
                const std::size_t length = strnlen(text, static_cast<std::size_t>(Field->DataSize()));
                DataSetSetFieldDataToRecBuf(no, static_cast<Integer>(length), false, text, record);
                break;
            }
            case ftBoolean: {
                std::int16_t value;
                std::memcpy(&value, Buffer, sizeof value);
                const Byte stored = value != 0 ? 1 : 0;
                DataSetSetFieldDataToRecBuf(no, 1, false, &stored, record);
                break;
            }
            case ftDate:
            case ftTime:
            case ftDateTime: {
                const double value = NativeToDateTime(item->DataType(), Buffer);
                DataSetSetFieldDataToRecBuf(no, 8, false, &value, record);
                break;
            }
            case ftWideString:
                DataSetSetFieldDataToRecBuf(no, item->GetWriteableFieldSize() * 2, false, Buffer, record);
                break;
            default:
                DataSetSetFieldDataToRecBuf(no, item->FieldSize(), false, Buffer, record);
                break;
            }
        }
    }
    if (State() != dsCalcFields)
        DataEvent(deFieldChange, Field);
}

// ================================================================ records

TGetResult TVekBaseTable::GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool DoCheck)
{
    if (FFirstFetch) {
        FFirstFetch = false;
        InternalSetFilter();
    }
    bool ok = false;
    const int pending = FPendingMove;
    switch (GetMode) {
    case gmCurrent:
        if (pending == 2)
            ok = DataSetFirst();
        else if (pending == 3)
            ok = DataSetLast();
        else if (pending == 1)
            ok = RecordBufferState() != rbsNone && StayInsideFilter();
        else
            ok = RecordBufferState() != rbsNone && Find(stEQ, "", nullptr);
        break;
    case gmNext:
        ok = pending == 2 ? DataSetFirst() : DataSetNext();
        break;
    case gmPrior:
        ok = pending == 3 ? DataSetLast() : DataSetPrior();
        break;
    }
    FPendingMove = 0;
    if (!ok)
        return GetMode == gmNext ? grEOF : (GetMode == gmPrior ? grBOF : grError);
    std::memcpy(Buffer, CurrentBuffer(), static_cast<std::size_t>(EngineBufferSize()));
    Buffer[FLayout.RecordStatusOffset()] = rbValid;
    SetBookmarkFlag(Buffer, bfCurrent);
    GetBookMarkFromBuf(Buffer, Buffer + FLayout.BookmarkOffset());
    GetCalcFields(Buffer);
    (void)DoCheck;
    return grOK;
}

bool TVekBaseTable::StayInsideFilter()
{
    if (!FilterMgr()->Active() || FilterAccepts(DatasetGetRecAddr()))
        return true;
    // The record no longer passes (an edit moved it out): the next one that
    // does, else the one before.
    return InternalMoveToFilterRecord(fspFromCurrent, 1) || InternalMoveToFilterRecord(fspFromCurrent, -1);
}

int TVekBaseTable::GetRecNo()
{
    TRecordBuffer buffer = State() == dsCalcFields ? CalcBuffer() : ActiveBuffer();
    if (!buffer || IsEmpty() || State() == dsInsert)
        return 0;
    if (FilterMgr()->Active())
        return FilterRecNo(buffer);
    return DataSetGetRecordNoFromBuf(buffer);
}

void TVekBaseTable::SetRecNo(int Value)
{
    CheckBrowseMode();
    if (Value == RecNo())
        return;
    DoBeforeScroll();
    if (DataSetSetRecordNo(Value) > 0) {
        FPendingMove = 1;
        Resync(rmCenter);
        DoAfterScroll();
    }
}

int TVekBaseTable::GetRecordCount()
{
    CheckActive();
    return GetCurrentRecordCount();
}

bool TVekBaseTable::GetCanModify()
{
    if (!FOpened || ReadOnly())
        return false;
    return !CheckReadOnlyPrivileges();
}

// =================================================================== open

void TVekBaseTable::InternalInitFieldDefs()
{
    bool closeAgain = false;
    if (!DataSetIsOpen()) {
        InternalOpenForDefs();
        closeAgain = true;
    }
    try {
        FieldDefs()->Clear();
        TInternalFields* fields = GetInternalFields();
        for (int i = 0; i < fields->Count(); ++i) {
            TInternalFieldItem* item = fields->GetIndex(i);
            if (item->Hidden())
                continue;
            int size = 0;
            if (item->IsVariable())
                size = item->GetWriteableFieldSize();
            else if (item->DataType() == ftBytes)
                size = item->FieldSize();
            FieldDefs()->Add(item->FieldName(), item->DataType(), size, item->Required());
        }
    } catch (...) {
        if (closeAgain)
            InternalCloseForDefs();
        throw;
    }
    if (closeAgain)
        InternalCloseForDefs();
}

void TVekBaseTable::InternalOpenForDefs()
{
    if (!DataBase())
        VekDatabaseError(ErrNoConnection, "TVekBaseTable.InternalOpenForDefs",
                         "There is no connection to a database engine", this);
    if (!DataBase()->Connected())
        DataBase()->Open();
    const bool readOnly = ReadOnly();
    DataSetOpen();
    FForDefsOpen = true;
    (void)readOnly;
}

void TVekBaseTable::InternalCloseForDefs()
{
    FForDefsOpen = false;
    DataSetClose();
}

void TVekBaseTable::InternalOpen()
{
    if (!DataBase())
        VekDatabaseError(ErrNoConnection, "TVekBaseTable.InternalOpen", "There is no connection to a database engine",
                         this);
    if (!DataBase()->Connected())
        DataBase()->Open();
    FOpened = true;
    try {
        DataSetOpen();
        FCursorOpen = true;
        FPendingMove = 2;
        InternalInitFieldDefs();
        if (DefaultFields())
            CreateFields();
        BindFields(true);
        DataSetSetFieldPrivileges();
        FFieldMap.assign(static_cast<std::size_t>(FieldDefs()->Count()), -1);
        for (int i = 0; i < FieldDefs()->Count(); ++i)
            FFieldMap[static_cast<std::size_t>(i)] = GetFieldNo(FieldDefs()->Items(i)->Name());
        FLayout = TRecordBufferLayout{InternalGetRecordSize(), CalcFieldsSize()};
        SetBookmarkSize(TRecordBufferLayout::BookmarkSize);
        FFilterBuffer = AllocRecordBuffer();
        FKeyBuffer = AllocRecordBuffer();
        FWorkBuffer = AllocRecordBuffer();
        BlobCacheEnabled = true;
        FFirstFetch = true;
        FKeyMode = kmNone;
        UpdateIndexDefs();
        InternalCheckMasterRange();
    } catch (...) {
        FCursorOpen = false;
        FOpened = false;
        DataSetClose();
        throw;
    }
}

void TVekBaseTable::InternalClose()
{
    BindFields(false);
    if (DefaultFields())
        DestroyFields();
    if (FRecordLockAddr != 0) {
        try {
            InternalReleaseRecordLock(FRecordLockAddr);
        } catch (...) {
        }
        FRecordLockAddr = 0;
    }
    DataSetClose();
    FCursorOpen = false;
    FOpened = false;
    FFirstFetch = false;
    FPendingMove = 0;
    FreeRecordBuffer(FFilterBuffer);
    FreeRecordBuffer(FKeyBuffer);
    FreeRecordBuffer(FWorkBuffer);
    FFieldMap.clear();
}

void TVekBaseTable::InternalHandleException()
{
    // Opening a streamed, active table while designing must not stop the
    // caller: the failure is logged.
    LogLine("TVekBaseTable.InternalHandleException", "Exception while opening " + TableName());
}

// ================================================================ editing

void TVekBaseTable::InternalInitRecord(TRecordBuffer Buffer)
{
    const TDataSetState saved = SetTempState(dsFilter);
    try {
        InitializeNewRecord(FFilterBuffer, false);
        TBlobMgr* blobs = FRecordMgr->BlobMgr();
        for (int i = 0; i < blobs->Count(); ++i) {
            blobs->GetItems(i)->BlobStream()->Clear();
            blobs->GetItems(i)->SetState(bsInvalid);
        }
        for (int i = 0; i < Fields()->Count(); ++i) {
            TField* field = Fields()->Fields(i);
            if (field->FieldKind() == fkData && !field->ReadOnly() && !field->DefaultExpression().empty())
                field->SetAsString(field->DefaultExpression());
        }
    } catch (...) {
        RestoreState(saved);
        throw;
    }
    RestoreState(saved);
    std::memcpy(Buffer, FFilterBuffer, static_cast<std::size_t>(EngineBufferSize()));
    std::memset(Buffer + EngineBufferSize(), 0, static_cast<std::size_t>(FLayout.BufferSize() - EngineBufferSize()));
}

void TVekBaseTable::InternalEdit()
{
    TRecordBuffer active = ActiveBuffer();
    if (active[FLayout.RecordStatusOffset()] != rbValid)
        VekDatabaseError(ErrInternal, "TVekBaseTable.InternalEdit", "Internal State error - RecBuf not available for editing",
                         this);
    // The stored record as it is now, and the record lock while editing.
    if (!DataSetSetToBookmark(active + FLayout.BookmarkOffset()))
        VekDatabaseError(8708, "TVekBaseTable.InternalEdit", "", this);
    const Cardinal address = DatasetGetRecAddr();
    InternalSetRecordLock(address);
    FRecordLockAddr = address;
    std::memcpy(active, CurrentBuffer(), static_cast<std::size_t>(EngineBufferSize()));
    GetCalcFields(active);
    BeginEditCopy();
    active[FLayout.RecordStatusOffset()] = rbEdited;
}

void TVekBaseTable::InternalInsert()
{
    ActiveBuffer()[FLayout.RecordStatusOffset()] = rbInserted;
    EndEditCopy();
    CursorPosChanged();
}

void TVekBaseTable::InternalAddRecord(TRecordBuffer Buffer, bool Append)
{
    SetRecordBuffer(Buffer, EngineBufferSize());
    TInternalFields* fields = GetInternalFields();
    const bool assign = fields->AutoIncFieldNo() >= 0 &&
                        GetIsFieldNullFromRecBuf(fields->AutoIncFieldNo(), CurrentBuffer());
    AddRecord(assign);
    (void)Append;
}

void TVekBaseTable::PostToEngine()
{
    if (State() == dsEdit) {
        UpdateRecord();
        FRecordLockAddr = 0;
        return;
    }
    TInternalFields* fields = GetInternalFields();
    const bool assign =
        fields->AutoIncFieldNo() >= 0 && GetIsFieldNullFromRecBuf(fields->AutoIncFieldNo(), CurrentBuffer());
    AddRecord(assign);
}

void TVekBaseTable::InternalPost()
{
    TDataSet::InternalPost();
    TRecordBuffer active = ActiveBuffer();
    // The engine's current buffer takes the new values; an edit keeps its
    // original for the keys it replaces.
    SetRecordBuffer(active, EngineBufferSize());
    UnderTableWriteLock([this] { PostToEngine(); });
    active[FLayout.RecordStatusOffset()] = rbValid;
    // The engine stands on the posted record: the resync that follows keeps it.
    FPendingMove = 1;
}

void TVekBaseTable::SilentPost()
{
    TDataSet::InternalPost();
    SetRecordBuffer(ActiveBuffer(), EngineBufferSize());
    PostToEngine();
}

void TVekBaseTable::InternalDelete()
{
    TRecordBuffer active = ActiveBuffer();
    SetRecordBuffer(active, EngineBufferSize());
    Integer result = 0;
    UnderTableWriteLock([&] { result = DeleteRecord(active); });
    if (result < 0)
        VekDatabaseError(8708, "TVekBaseTable.InternalDelete", "", this);
    active[FLayout.RecordStatusOffset()] = rbDeleted;
}

void TVekBaseTable::UnderTableWriteLock(const std::function<void()>& Work)
{
    const bool taken = !HoldsLock();
    if (taken)
        LockTable();
    try {
        Work();
    } catch (...) {
        if (taken) {
            try {
                UnlockTable();
            } catch (...) {
            }
        }
        throw;
    }
    if (taken)
        UnlockTable();
}

void TVekBaseTable::InternalCancel()
{
    if (FRecordLockAddr != 0) {
        const Cardinal address = FRecordLockAddr;
        FRecordLockAddr = 0;
        InternalReleaseRecordLock(address);
    }
    EndEditCopy();
    TBlobMgr* blobs = FRecordMgr->BlobMgr();
    blobs->InvalidateStreams();
    if (ActiveBuffer())
        ActiveBuffer()[FLayout.RecordStatusOffset()] = rbValid;
}

void TVekBaseTable::InternalRefresh()
{
    TRecordBuffer active = ActiveBuffer();
    if (!active || IsEmpty())
        return;
    SetRecordBuffer(active, EngineBufferSize());
    DataSetRefresh(CurrentBuffer(), false);
}

bool TVekBaseTable::RefreshNearest()
{
    if (!Active() || State() != dsBrowse)
        return false;
    // No return to the current record's bookmark first, as Refresh does: the
    // current key finds the nearest record that remains.
    InternalRefresh();
    Resync(0);
    return true;
}

// =============================================================== filtering

bool TVekBaseTable::RecordProcFilter(const Byte* RecBuf)
{
    if (!OnFilterRecord())
        return true;
    const TDataSetState saved = SetTempState(dsFilter);
    bool accept = true;
    try {
        std::memset(FFilterBuffer, 0, static_cast<std::size_t>(FLayout.BufferSize()));
        std::memcpy(FFilterBuffer, RecBuf, static_cast<std::size_t>(EngineBufferSize()));
        OnFilterRecord()(this, accept);
    } catch (...) {
        RestoreState(saved);
        throw;
    }
    RestoreState(saved);
    return accept;
}

void TVekBaseTable::InternalSetFilter()
{
    TFilterMgr* manager = FilterMgr();
    const bool wanted = Filtered() && (!Filter().empty() || static_cast<bool>(OnFilterRecord()));
    if (manager->Active() &&
        (!wanted || manager->FilterText() != Filter() || manager->FilterOptions() != FilterOptions()))
        manager->CloseFilter();
    if (!wanted)
        return;
    if (manager->Active()) {
        manager->RefreshDataProvider();
        return;
    }
    manager->SetFilterText(Filter());
    manager->SetFilterOptions(FilterOptions());
    manager->SetQueryActive(DataBase() && DataBase()->QueryActive());
    if (!manager->OpenFilter())
        VekDatabaseError(10051, "TVekBaseTable.InternalSetFilter", manager->Errors(), this);
}

void TVekBaseTable::SetFiltered(bool Value)
{
    if (!Active()) {
        TDataSet::SetFiltered(Value);
        return;
    }
    CheckBrowseMode();
    if (Value == Filtered())
        return;
    TDataSet::SetFiltered(Value);
    ApplyFilterOrRestore([&] { TDataSet::SetFiltered(!Value); });
    First();
}

void TVekBaseTable::ApplyFilterOrRestore(const std::function<void()>& Restore)
{
    try {
        InternalSetFilter();
    } catch (...) {
        // A filter that cannot be opened leaves the one before in force.
        Restore();
        try {
            InternalSetFilter();
        } catch (...) {
        }
        throw;
    }
}

void TVekBaseTable::SetFilterText(const std::string& Value)
{
    const std::string previous = Filter();
    TDataSet::SetFilterText(Value);
    if (Active() && Filtered() && Value != previous) {
        CheckBrowseMode();
        ApplyFilterOrRestore([&] { TDataSet::SetFilterText(previous); });
        First();
    }
}

void TVekBaseTable::SetFilterOptions(TFilterOptions Value)
{
    const TFilterOptions previous = FilterOptions();
    TDataSet::SetFilterOptions(Value);
    if (Active() && Filtered() && Value != previous) {
        CheckBrowseMode();
        ApplyFilterOrRestore([&] { TDataSet::SetFilterOptions(previous); });
        First();
    }
}

void TVekBaseTable::SetOnFilterRecord(const TFilterRecordEvent& Value)
{
    TDataSet::SetOnFilterRecord(Value);
    if (Active() && Filtered()) {
        CheckBrowseMode();
        InternalSetFilter();
        First();
    }
}

// ============================================================== locating

bool TVekBaseTable::LocateRecord(const std::string& KeyFields, const Variant& KeyValues, TLocateOptions Options,
                                 bool SyncCursor, std::vector<Byte>* Found)
{
    if (SyncCursor) {
        CheckBrowseMode();
        CursorPosChanged();
    }
    const std::vector<std::string> names = SplitFieldNames(KeyFields);
    std::vector<Integer> fieldNos;
    for (const std::string& name : names) {
        const Integer no = GetFieldNo(name);
        if (no < 0)
            VekDatabaseError(10116, "TVekBaseTable.LocateRecord", name, this);
        if (IsFieldBlob(no))
            VekDatabaseError(ErrInvalidType, "TVekBaseTable.LocateRecord", name, this);
        fieldNos.push_back(no);
    }
    // The values go into a buffer of their own, so that a lookup in the
    // middle of an edit leaves the filter buffer and the edit alone.
    std::vector<Byte> values(static_cast<std::size_t>(FLayout.BufferSize()), 0);
    const TDataSetState saved = SetTempState(dsFilter);
    TRecordBuffer filterBuffer = FFilterBuffer;
    FFilterBuffer = values.data();
    try {
        InitializeNewRecord(values.data(), false);
        for (std::size_t i = 0; i < names.size(); ++i) {
            Variant value = KeyValues;
            if (names.size() > 1 || KeyValues.IsArray())
                value = KeyValues.IsArray() ? KeyValues.GetElement(KeyValues.ArrayLowBound() + static_cast<int>(i))
                                            : (i == 0 ? KeyValues : Variant::Null());
            TField* field = FindField(names[i]);
            if (value.IsNull() || value.IsEmpty()) {
                DataSetSetFieldDataToRecBuf(fieldNos[i], 0, true, nullptr, values.data());
            } else if (field) {
                field->SetValue(value);
            } else {
                DataSetSetFieldDataToRecBufAsVariant(values.data(), fieldNos[i], value);
            }
        }
    } catch (...) {
        FFilterBuffer = filterBuffer;
        RestoreState(saved);
        throw;
    }
    FFilterBuffer = filterBuffer;
    RestoreState(saved);

    // The index whose leading fields match the most locate fields.
    std::string indexName;
    int best = 0;
    for (int i = 0; i < FIndexDefs->Count(); ++i) {
        TIndexDef* def = FIndexDefs->Items(i);
        const std::vector<std::string> indexFields = SplitFieldNames(def->Fields());
        const std::vector<std::string> caseIns = SplitFieldNames(def->CaseInsFields());
        int count = 0;
        for (std::size_t k = 0; k < indexFields.size() && k < names.size(); ++k) {
            if (!SameText(indexFields[k], names[k]))
                break;
            const Integer no = fieldNos[k];
            const TFieldType type = GetInternalFields()->GetField(no)->DataType();
            if ((Options & loCaseInsensitive) && (type == ftString || type == ftWideString)) {
                const bool ci = (def->Options() & ixCaseInsensitive) && caseIns.empty();
                const bool listed = std::any_of(caseIns.begin(), caseIns.end(),
                                                [&](const std::string& n) { return SameText(n, names[k]); });
                if (!ci && !listed)
                    break;
            }
            ++count;
        }
        const bool exact = count > 0 && indexFields.size() == names.size() && count == static_cast<int>(names.size());
        if (count > best || (count == best && count > 0 && exact)) {
            best = count;
            indexName = def->Name();
        }
    }
    std::vector<Byte> found(static_cast<std::size_t>(EngineBufferSize()), 0);
    const bool ok = DoLocate(indexName, values.data(), KeyFields, Options, !indexName.empty(), SyncCursor, found.data());
    if (ok && Found)
        *Found = found;
    return ok;
}

bool TVekBaseTable::Locate(const std::string& KeyFields, const Variant& KeyValues, TLocateOptions Options)
{
    DoBeforeScroll();
    const bool found = LocateRecord(KeyFields, KeyValues, Options, true, nullptr);
    if (found) {
        FPendingMove = 1;
        Resync(rmExact | rmCenter);
        DoAfterScroll();
    }
    return found;
}

Variant TVekBaseTable::Lookup(const std::string& KeyFields, const Variant& KeyValues, const std::string& ResultFields)
{
    std::vector<Byte> found;
    if (!LocateRecord(KeyFields, KeyValues, 0, false, &found))
        return Variant::Null();
    // The result fields are read from the found record through the
    // calculation buffer.
    std::vector<Byte> calc(static_cast<std::size_t>(FLayout.BufferSize()), 0);
    std::memcpy(calc.data(), found.data(), found.size());
    const TDataSetState saved = SetTempState(dsCalcFields);
    Variant result;
    try {
        TRecordBuffer keep = CalcBuffer();
        (void)keep;
        std::vector<TField*> fields;
        GetFieldList(fields, ResultFields);
        std::vector<Variant> values;
        for (TField* field : fields) {
            const Integer no = field->FieldNo() > 0 ? EngineFieldNo(field) : -1;
            if (no >= 0 && !IsFieldBlob(no))
                values.push_back(DataSetGetFieldDataFromRecBufAsVariant(found.data(), no));
            else
                values.push_back(Variant::Null());
        }
        result = values.size() == 1 ? values[0] : VarArrayOf(values);
    } catch (...) {
        RestoreState(saved);
        throw;
    }
    RestoreState(saved);
    return result;
}

bool TVekBaseTable::FindRecord(bool Restart, bool GoForward)
{
    CheckBrowseMode();
    DoBeforeScroll();
    SetFound(false);
    UpdateCursorPos();
    bool found = false;
    if (FilterMgr()->Active()) {
        // The open filter (with its record event) decides.
        if (GoForward)
            found = Restart ? DataSetFirst() : DataSetNext();
        else
            found = Restart ? DataSetLast() : DataSetPrior();
    } else {
        found = MoveFiltered(GoForward ? 1 : -1, Restart);
    }
    if (found) {
        FPendingMove = 1;
        Resync(rmExact | rmCenter);
        SetFound(true);
        DoAfterScroll();
    }
    return found;
}

// ========================================================= keys and ranges

void TVekBaseTable::SetIndexFields(const std::vector<Variant>& Values, const std::string& IndexName)
{
    CheckIndexesPresent();
    TIndexDef* def = FindIndexDefByName(IndexName);
    if (!def)
        VekDatabaseErrorFmt(ErrNoIndex, "TVekBaseTable.SetIndexFields", SvekIndexFmt, {IndexName}, this);
    const std::vector<std::string> names = SplitFieldNames(def->Fields());
    for (std::size_t i = 0; i < names.size() && i < Values.size(); ++i)
        FieldByName(names[i])->SetValue(Values[i]);
}

void TVekBaseTable::InternalSetRange(const std::vector<Variant>& StartValues, const std::vector<Variant>& EndValues)
{
    CheckBrowseMode();
    CheckIndexesPresent();
    const TDataSetState saved = SetTempState(dsSetKey);
    try {
        FKeyMode = kmRange;
        DataSetClearRange();
        FRangeMode = rmRangeStart;
        SetIndexFields(StartValues, CurrentIndexName());
        FRangeMode = rmRangeEnd;
        SetIndexFields(EndValues, CurrentIndexName());
        SetRangeOn(true);
    } catch (...) {
        FKeyMode = kmNone;
        RestoreState(saved);
        throw;
    }
    RestoreState(saved);
    FKeyMode = kmNone;
    First();
}

// ===================================================== table-level actions

void TVekBaseTable::Flush()
{
    CheckActive();
    if (State() == dsEdit || State() == dsInsert)
        Post();
    if (DataBase() && !DataBase()->IsMemory())
        DataBase()->FlushBuffers();
}

void TVekBaseTable::CreateTable()
{
    if (!DataBase())
        VekDatabaseError(ErrNoConnection, "TVekBaseTable.CreateTable", "There is no connection to a database engine",
                         this);
    if (!DataBase()->Connected())
        DataBase()->Open();
    if (DataBase()->IsMemory() && !Memory())
        VekDatabaseError(ErrMemoryDatabase, "TVekBaseTable.CreateTable", TableName(), this);
    if (!Memory() && DataBase()->InHostTransaction())
        VekDatabaseError(ErrInTransaction, "TVekBaseTable.CreateTable", TableName(), this);
    if (EncryptionLevel() != encNone) {
        if (Memory())
            VekDatabaseError(ErrMemoryDatabase, "TVekBaseTable.CreateTable", TableName(), this);
        if (!DataBase()->Encrypted() && !DataBase()->UseEncryption())
            VekDatabaseError(ErrTableType, "TVekBaseTable.CreateTable", "This database does not use/support encryption",
                             this);
    }
    SetTableDef(Memory(), FieldDefs(), FIndexDefs);
    InternalCreateTable();
}

void TVekBaseTable::EmptyTable()
{
    CheckActive();
    CheckBrowseMode();
    if (!Memory() && DataBase() && DataBase()->InHostTransaction())
        VekDatabaseError(ErrInTransaction, "TVekBaseTable.EmptyTable", TableName(), this);
    DataSetEmptyTable();
    if (Filtered())
        InternalSetFilter();
    First();
}

bool TVekBaseTable::Locked() const
{
    return FTableLockHeld;
}

void TVekBaseTable::SetLocked(bool Value)
{
    CheckActive();
    if (Value == Locked())
        return;
    if (Value)
        LockTable();
    else
        UnlockTable();
}

// ============================================================= TBlobStream

TBlobStream::TBlobStream(TBlobField* Field, TBlobStreamMode Mode) : FField(Field), FMode(Mode)
{
    FDataSet = dynamic_cast<TVekBaseTable*>(Field->DataSet());
    ORVEX_ASSERT(FDataSet != nullptr, "Mismatch in calling dataset type");
    FBuffer = FDataSet->GetActiveRecBuf();
    if (!FBuffer)
        return;
    if (Mode != bmRead && !Field->Modified()) {
        if (Field->ReadOnly())
            DatabaseErrorFmt(SFieldReadOnly, {Field->DisplayName()}, FDataSet);
        if (FDataSet->State() != dsEdit && FDataSet->State() != dsInsert)
            DatabaseError(SNotEditing, FDataSet);
    }
    const Integer no = FDataSet->EngineFieldNo(Field);
    bool isNull = true;
    if (Mode == bmRead) {
        if (Field->Modified()) {
            FDataSet->DataSetGetFieldStreamFromRecBuf(FBuffer, no, isNull, this);
        } else if (!FDataSet->GetBlobCacheData(FBuffer, no, this)) {
            FDataSet->DataSetGetFieldStreamFromRecBuf(FBuffer, no, isNull, this);
            FDataSet->SetBlobCacheData(FBuffer, no, this);
        }
    } else if (Mode == bmReadWrite || Field->Modified()) {
        // A read-write stream starts from the value it edits.
        FDataSet->DataSetGetFieldStreamFromRecBuf(FBuffer, no, isNull, this);
    }
    // A write stream starts empty; it replaces the value only once it is
    // written to (an empty write included), so one opened and dropped
    // changes nothing.
    if (Mode == bmWrite)
        Clear();
    SetPosition(0);
    FOpened = true;
}

TBlobStream::~TBlobStream()
{
    if (FOpened && FModified && FBuffer && FMode != bmRead) {
        try {
            SetPosition(0);
            FField->SetModified(true);
            const Integer no = FDataSet->EngineFieldNo(FField);
            FDataSet->DataSetSetFieldStreamFromRecBuf(FBuffer, no, Size() == 0, this);
            FDataSet->DataEvent(deFieldChange, FField);
        } catch (...) {
        }
    }
}

std::int32_t TBlobStream::Write(const void* Buffer, std::int32_t Count)
{
    if (FMode != bmRead)
        FModified = true;
    return TMemoryStream::Write(Buffer, Count);
}

TStream* TVekBaseTable::CreateBlobStream(TField* Field, TBlobStreamMode Mode)
{
    auto* blobField = dynamic_cast<TBlobField*>(Field);
    if (!blobField)
        return nullptr;
    return new TBlobStream(blobField, Mode);
}

} // namespace orvex
