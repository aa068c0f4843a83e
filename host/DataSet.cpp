// TDataSet: opening and closing, the record-buffer ring and navigation,
// editing, bookmarks, fields and calculated fields, states and events.

#include "host/DataSet.h"

#include "host/DBConsts.h"
#include "host/DBLinks.h"

#include <algorithm>

namespace orvex {

namespace {
constexpr int MaxBufferCount = 1024;
} // namespace

TDataSet::TDataSet(TComponent* owner)
    : TComponent(owner), FFields(new TFields(this)), FFieldDefs(new TFieldDefs(this))
{
}

TDataSet::~TDataSet()
{
    Destroying();
    // The descendant closed its cursor in its own destructor; what is left of
    // the ring goes with the base routines.
    for (TRecordBuffer& buffer : FBuffers)
        TDataSet::FreeRecordBuffer(buffer);
    FBuffers.clear();
    FState = dsInactive;
    while (!FDataSources.empty()) {
        TDataSource* source = FDataSources.back();
        FDataSources.pop_back();
        source->FDataSet = nullptr;
        source->UpdateState();
    }
    // Fields the dataset owns go now; others merely leave it.
    for (int i = FFields->Count() - 1; i >= 0; --i) {
        TField* field = FFields->Fields(i);
        if (field->Owner() == this)
            delete field;
    }
    while (FFields->Count() > 0) {
        TField* field = FFields->Fields(FFields->Count() - 1);
        FFields->Remove(field);
        field->FDataSet = nullptr;
    }
    delete FFieldDefs;
    delete FFields;
}

// ------------------------------------------------------------- open, close

void TDataSet::SetActive(bool value)
{
    if (HasState(csReading)) {
        FStreamedActive = value;
        return;
    }
    if (Active() == value)
        return;
    if (value) {
        DoBeforeOpen();
        try {
            OpenCursor(false);
            SetState(dsBrowse);
        } catch (...) {
            SetState(dsInactive);
            CloseCursor();
            throw;
        }
        DoAfterOpen();
        if (!IsEmpty())
            DoAfterScroll();
    } else {
        if (!HasState(csDestroying))
            DoBeforeClose();
        SetState(dsInactive);
        CloseCursor();
        if (!HasState(csDestroying))
            DoAfterClose();
    }
}

void TDataSet::Loaded()
{
    TComponent::Loaded();
    if (!FStreamedActive)
        return;
    try {
        SetActive(true);
    } catch (...) {
        // A form being designed still loads; the descendant reports the error.
        if (!HasState(csDesigning))
            throw;
        InternalHandleException();
    }
}

void TDataSet::OpenCursor(bool infoQuery)
{
    if (infoQuery) {
        InternalInitFieldDefs();
        return;
    }
    FDefaultFields = FieldCount() == 0;
    InternalOpen();
    UpdateBufferCount();
    FBOF = true;
}

void TDataSet::CloseCursor()
{
    FBlockReadSize = 0;
    FreeFieldBuffers();
    ClearBuffers();
    SetBufListSize(0);
    InternalClose();
    FBufferCount = 0;
    FDefaultFields = false;
}

void TDataSet::InitFieldDefs()
{
    if (IsCursorOpen()) {
        InternalInitFieldDefs();
        return;
    }
    try {
        OpenCursor(true);
    } catch (...) {
        CloseCursor();
        throw;
    }
    CloseCursor();
}

void TDataSet::CheckActive()
{
    if (FState == dsInactive)
        DatabaseError(SDataSetClosed, this);
}

void TDataSet::CheckInactive()
{
    if (!Active())
        return;
    if (HasState(csUpdating) || HasState(csDesigning))
        Close();
    else
        DatabaseError(SDataSetOpen, this);
}

void TDataSet::CheckCanModify()
{
    if (!CanModify())
        DatabaseError(SDataSetReadOnly, this);
}

// ------------------------------------------------------------- the ring

TRecordBuffer TDataSet::AllocRecordBuffer()
{
    return new Byte[static_cast<std::size_t>(GetRecordSize())]();
}

void TDataSet::FreeRecordBuffer(TRecordBuffer& buffer)
{
    delete[] buffer;
    buffer = nullptr;
}

TRecordBuffer TDataSet::ActiveBuffer() const
{
    return FBuffers.empty() ? nullptr : FBuffers[static_cast<std::size_t>(FActiveRecord)];
}

void TDataSet::SetBufListSize(int value)
{
    const auto size = static_cast<std::size_t>(value);
    while (FBuffers.size() > size) {
        FreeRecordBuffer(FBuffers.back());
        FBuffers.pop_back();
    }
    while (FBuffers.size() < size)
        FBuffers.push_back(AllocRecordBuffer());
}

void TDataSet::AdjustFirstRecord(int delta)
{
    if (delta == 0)
        return;
    for (TDataSource* source : FDataSources)
        for (TDataLink* link : source->FDataLinks)
            if (link->Active())
                link->FFirstRecord += delta;
}

void TDataSet::SetBufferCount(int value)
{
    value = std::clamp(value, 1, MaxBufferCount);
    if (value == FBufferCount)
        return;
    if (FRecordCount > value) {
        // Keep the active record: the records above it leave first.
        const int delta = std::max(0, FActiveRecord - value + 1);
        for (int i = 0; i < delta; ++i)
            MoveBuffer(0, static_cast<int>(FBuffers.size()) - 1);
        FActiveRecord -= delta;
        if (FCurrentRecord >= 0)
            FCurrentRecord -= delta;
        FRecordCount = value;
        if (FCurrentRecord < 0 || FCurrentRecord >= FRecordCount)
            FCurrentRecord = -1;
        AdjustFirstRecord(-delta);
    }
    const bool fresh = FRecordCount == 0;
    SetBufListSize(value + 1);
    FBufferCount = value;
    if (!IsCursorOpen())
        return;
    GetNextRecords();
    if (!fresh)
        AdjustFirstRecord(GetPriorRecords());
}

void TDataSet::UpdateBufferCount()
{
    if (!IsCursorOpen())
        return;
    int count = 1;
    for (TDataSource* source : FDataSources)
        for (TDataLink* link : source->FDataLinks)
            count = std::max(count, link->FBufferCount);
    SetBufferCount(count);
}

void TDataSet::ClearBuffers()
{
    FRecordCount = 0;
    FActiveRecord = 0;
    FCurrentRecord = -1;
    FBOF = true;
    FEOF = true;
}

void TDataSet::ActivateBuffers()
{
    FRecordCount = 1;
    FActiveRecord = 0;
    FCurrentRecord = 0;
    FBOF = false;
    FEOF = false;
}

void TDataSet::MoveBuffer(int curIndex, int newIndex)
{
    if (curIndex == newIndex)
        return;
    auto at = [this](int i) { return FBuffers.begin() + i; };
    if (curIndex < newIndex)
        std::rotate(at(curIndex), at(curIndex + 1), at(newIndex + 1));
    else
        std::rotate(at(newIndex), at(curIndex), at(curIndex + 1));
}

void TDataSet::SetCurrentRecord(int index)
{
    if (FCurrentRecord == index)
        return;
    TRecordBuffer buffer = FBuffers[static_cast<std::size_t>(index)];
    switch (GetBookmarkFlag(buffer)) {
    case bfCurrent:
    case bfInserted: InternalSetToRecord(buffer); break;
    case bfBOF: InternalFirst(); break;
    case bfEOF: InternalLast(); break;
    }
    FCurrentRecord = index;
}

void TDataSet::UpdateCursorPos()
{
    if (FRecordCount > 0)
        SetCurrentRecord(FActiveRecord);
}

void TDataSet::InternalSetToRecord(TRecordBuffer buffer)
{
    std::string bookmark(static_cast<std::size_t>(FBookmarkSize), '\0');
    GetBookmarkData(buffer, bookmark.data());
    InternalGotoBookmark(bookmark.data());
}

bool TDataSet::GetNextRecord()
{
    TGetMode mode = gmNext;
    if (FRecordCount > 0) {
        SetCurrentRecord(FRecordCount - 1);
        // A record being inserted at the end stands on the cursor's record:
        // the record after it is that record itself.
        if (FState == dsInsert && FCurrentRecord == FActiveRecord &&
            GetBookmarkFlag(ActiveBuffer()) == bfCurrent)
            mode = gmCurrent;
    }
    if (GetRecord(TempBuffer(), mode, true) != grOK) {
        CursorPosChanged();
        return false;
    }
    if (FRecordCount == 0)
        ActivateBuffers();
    else if (FRecordCount < FBufferCount)
        ++FRecordCount;
    else
        MoveBuffer(0, FRecordCount);
    FCurrentRecord = FRecordCount - 1;
    return true;
}

bool TDataSet::GetPriorRecord()
{
    CheckBiDirectional();
    if (FRecordCount > 0)
        SetCurrentRecord(0);
    if (GetRecord(TempBuffer(), gmPrior, true) != grOK) {
        CursorPosChanged();
        return false;
    }
    if (FRecordCount == 0) {
        ActivateBuffers();
    } else {
        MoveBuffer(FRecordCount, 0);
        if (FRecordCount < FBufferCount) {
            ++FRecordCount;
            ++FActiveRecord;
        }
    }
    FCurrentRecord = 0;
    return true;
}

int TDataSet::GetNextRecords()
{
    int count = 0;
    while (FRecordCount < FBufferCount && GetNextRecord())
        ++count;
    return count;
}

int TDataSet::GetPriorRecords()
{
    int count = 0;
    while (FRecordCount < FBufferCount && GetPriorRecord())
        ++count;
    return count;
}

// ------------------------------------------------------------- navigation

void TDataSet::First()
{
    MoveToEnd(true);
}

void TDataSet::Last()
{
    CheckBiDirectional();
    MoveToEnd(false);
}

// First and Last: the cursor goes to the end, the buffers fill from there.
void TDataSet::MoveToEnd(bool first)
{
    CheckBrowseMode();
    DoBeforeScroll();
    ClearBuffers();
    auto finish = [this, first] {
        (first ? FBOF : FEOF) = true;
        DataEvent(deDataSetChange, 0);
    };
    try {
        if (first) {
            InternalFirst();
            GetNextRecord();
            GetNextRecords();
        } else {
            InternalLast();
            GetPriorRecord();
            GetPriorRecords();
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
    DoAfterScroll();
}

void TDataSet::Next()
{
    MoveBy(1);
}

void TDataSet::Prior()
{
    MoveBy(-1);
}

int TDataSet::MoveBy(int distance)
{
    CheckBrowseMode();
    int result = 0;
    DoBeforeScroll();
    if (!((distance > 0 && !FEOF) || (distance < 0 && !FBOF)))
        return result;
    FBOF = false;
    FEOF = false;
    // Buffers shifted out of the ring, reported to the links: negative when
    // the ring moved forwards.
    int scrollCount = 0;
    auto finish = [&] { DataEvent(deDataSetScroll, scrollCount); };
    try {
        while (distance > 0) {
            if (FActiveRecord < FRecordCount - 1) {
                ++FActiveRecord;
            } else {
                const int shift = FRecordCount < FBufferCount ? 0 : 1;
                if (!GetNextRecord()) {
                    FEOF = true;
                    break;
                }
                scrollCount -= shift;
                if (FActiveRecord < FRecordCount - 1)
                    ++FActiveRecord;
            }
            --distance;
            ++result;
        }
        while (distance < 0) {
            if (FActiveRecord > 0) {
                --FActiveRecord;
            } else {
                const int shift = FRecordCount < FBufferCount ? 0 : 1;
                if (!GetPriorRecord()) {
                    FBOF = true;
                    break;
                }
                scrollCount += shift;
                if (FActiveRecord > 0)
                    --FActiveRecord;
            }
            ++distance;
            --result;
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
    DoAfterScroll();
    return result;
}

void TDataSet::Resync(TResyncMode mode)
{
    if (FBuffers.empty()) // no cursor, no buffers
        return;
    if ((mode & rmExact) != 0) {
        CursorPosChanged();
        if (GetRecord(TempBuffer(), gmCurrent, true) != grOK)
            DatabaseError(SRecordNotFound, this);
    } else if (GetRecord(TempBuffer(), gmCurrent, false) != grOK &&
               GetRecord(TempBuffer(), gmNext, false) != grOK &&
               GetRecord(TempBuffer(), gmPrior, false) != grOK) {
        ClearBuffers();
        DataEvent(deDataSetChange, 0);
        return;
    }
    int count = (mode & rmCenter) != 0 ? (FBufferCount - 1) / 2 : FActiveRecord;
    MoveBuffer(FRecordCount, 0);
    ActivateBuffers();
    try {
        while (count > 0 && GetPriorRecord())
            --count;
        GetNextRecords();
        GetPriorRecords();
    } catch (...) {
        DataEvent(deDataSetChange, 0);
        throw;
    }
    DataEvent(deDataSetChange, 0);
}

void TDataSet::Refresh()
{
    CheckBrowseMode();
    DoBeforeRefresh();
    UpdateCursorPos();
    InternalRefresh();
    Resync(0);
    DoAfterRefresh();
}

// ---------------------------------------------------------------- editing

void TDataSet::CheckOperation(TDataOperation operation, const TDataSetErrorEvent& errorEvent)
{
    for (;;) {
        try {
            UpdateCursorPos();
            (this->*operation)();
            return;
        } catch (EDatabaseError& e) {
            TDataAction action = daFail;
            if (errorEvent)
                errorEvent(this, &e, action);
            if (action == daFail)
                throw;
            if (action == daAbort)
                Abort();
        }
    }
}

void TDataSet::Edit()
{
    if (FState == dsEdit || FState == dsInsert)
        return;
    if (FRecordCount == 0) {
        Insert();
        return;
    }
    CheckBrowseMode();
    CheckCanModify();
    DoBeforeEdit();
    CheckOperation(&TDataSet::InternalEdit, OnEditError);
    GetCalcFields(ActiveBuffer());
    SetState(dsEdit);
    DataEvent(deRecordChange, 0);
    DoAfterEdit();
}

void TDataSet::BeginInsertAppend()
{
    CheckBrowseMode();
    CheckCanModify();
    DoBeforeInsert();
    DoBeforeScroll();
}

void TDataSet::EndInsertAppend()
{
    SetState(dsInsert);
    try {
        DoOnNewRecord();
    } catch (...) {
        UpdateCursorPos();
        FreeFieldBuffers();
        SetState(dsBrowse);
        Resync(0);
        throw;
    }
    FModified = false;
    DataEvent(deDataSetChange, 0);
    DoAfterInsert();
    DoAfterScroll();
}

void TDataSet::InitRecord(TRecordBuffer buffer)
{
    InternalInitRecord(buffer);
    ClearCalcFields(buffer);
    SetBookmarkFlag(buffer, bfInserted);
}

void TDataSet::Insert()
{
    BeginInsertAppend();
    const TBookmark oldCurrent = GetBookmark();
    MoveBuffer(FRecordCount, FActiveRecord);
    TRecordBuffer buffer = ActiveBuffer();
    InitRecord(buffer);
    // The new record stands before the record it was inserted at.
    if (FRecordCount == 0)
        SetBookmarkFlag(buffer, bfBOF);
    else if (static_cast<int>(oldCurrent.size()) == FBookmarkSize)
        SetBookmarkData(buffer, oldCurrent.data());
    if (FRecordCount < FBufferCount)
        ++FRecordCount;
    InternalInsert();
    EndInsertAppend();
}

void TDataSet::Append()
{
    BeginInsertAppend();
    ClearBuffers();
    TRecordBuffer buffer = FBuffers[0];
    InitRecord(buffer);
    SetBookmarkFlag(buffer, bfEOF);
    FRecordCount = 1;
    FBOF = false;
    GetPriorRecords();
    InternalInsert();
    EndInsertAppend();
}

void TDataSet::UpdateRecord()
{
    if (!StateIn(FState, dsEditModes))
        DatabaseError(SNotEditing, this);
    DataEvent(deUpdateRecord, 0);
}

void TDataSet::InternalPost()
{
    CheckRequiredFields();
}

void TDataSet::CheckRequiredFields()
{
    for (int i = 0; i < FFields->Count(); ++i) {
        TField* field = FFields->Fields(i);
        if (field->Required() && !field->ReadOnly() && field->FieldKind() == fkData && field->IsNull())
            DatabaseErrorFmt(SFieldRequired, {field->DisplayName()});
    }
}

void TDataSet::Post()
{
    UpdateRecord();
    switch (FState) {
    case dsEdit:
    case dsInsert:
        DataEvent(deCheckBrowseMode, 0);
        DoBeforePost();
        CheckOperation(&TDataSet::InternalPost, OnPostError);
        FreeFieldBuffers();
        SetState(dsBrowse);
        Resync(0);
        DoAfterPost();
        break;
    case dsSetKey: LeaveSetKey(); break; // the key stays as entered
    default: break;
    }
}

void TDataSet::LeaveSetKey()
{
    DataEvent(deCheckBrowseMode, 0);
    SetState(dsBrowse);
    DataEvent(deDataSetChange, 0);
}

void TDataSet::Cancel()
{
    switch (FState) {
    case dsEdit:
    case dsInsert: {
        DataEvent(deCheckBrowseMode, 0);
        DoBeforeCancel();
        const bool scrollEvents = FState == dsInsert;
        if (scrollEvents)
            DoBeforeScroll();
        UpdateCursorPos();
        InternalCancel();
        FreeFieldBuffers();
        SetState(dsBrowse);
        Resync(0);
        DoAfterCancel();
        if (scrollEvents)
            DoAfterScroll();
        break;
    }
    case dsSetKey: LeaveSetKey(); break;
    default: break;
    }
}

void TDataSet::Delete()
{
    CheckActive();
    if (FState == dsInsert || FState == dsSetKey) {
        Cancel();
        return;
    }
    if (FRecordCount == 0)
        DatabaseError(SDataSetEmpty, this);
    DataEvent(deCheckBrowseMode, 0);
    DoBeforeDelete();
    DoBeforeScroll();
    CheckOperation(&TDataSet::InternalDelete, OnDeleteError);
    FreeFieldBuffers();
    SetState(dsBrowse);
    Resync(0);
    DoAfterDelete();
    DoAfterScroll();
}

void TDataSet::CheckBrowseMode()
{
    CheckActive();
    DataEvent(deCheckBrowseMode, 0);
    switch (FState) {
    case dsEdit:
    case dsInsert:
        UpdateRecord();
        if (FModified)
            Post();
        else
            Cancel();
        break;
    case dsSetKey: Post(); break;
    default: break;
    }
}

void TDataSet::ClearFields()
{
    if (!StateIn(FState, dsEditModes))
        DatabaseError(SNotEditing, this);
    DataEvent(deCheckBrowseMode, 0);
    FreeFieldBuffers();
    InternalInitRecord(ActiveBuffer());
    if (FState != dsSetKey)
        GetCalcFields(ActiveBuffer());
    DataEvent(deRecordChange, 0);
}

void TDataSet::DoOnNewRecord()
{
    Fire(OnNewRecord);
}

// -------------------------------------------------------------- bookmarks

TBookmark TDataSet::GetBookmark()
{
    const bool available = StateIn(FState, StateBit(dsBrowse) | StateBit(dsEdit) | StateBit(dsInsert)) &&
                           !IsEmpty() && GetBookmarkFlag(ActiveBuffer()) == bfCurrent;
    if (!available)
        return {};
    TBookmark bookmark(static_cast<std::size_t>(FBookmarkSize), '\0');
    GetBookmarkData(ActiveBuffer(), bookmark.data());
    return bookmark;
}

void TDataSet::GotoBookmark(const TBookmark& bookmark)
{
    if (bookmark.empty())
        return;
    CheckBrowseMode();
    DoBeforeScroll();
    InternalGotoBookmark(bookmark.data());
    Resync(rmExact | rmCenter);
    DoAfterScroll();
}

// ----------------------------------------------------------------- fields

void TDataSet::SetFieldDefs(TFieldDefs* value)
{
    FFieldDefs->Assign(value);
}

TField* TDataSet::FindField(const std::string& fieldName) const
{
    return FFields->FindField(fieldName);
}

TField* TDataSet::FieldByName(const std::string& fieldName) const
{
    TField* field = FFields->FindField(fieldName);
    if (!field)
        DatabaseErrorFmt(SFieldNotFound, {fieldName}, this);
    return field;
}

TField* TDataSet::FieldByNumber(int fieldNo) const
{
    return FFields->FieldByNumber(fieldNo);
}

void TDataSet::GetFieldList(std::vector<TField*>& list, const std::string& fieldNames) const
{
    for (const std::string& name : SplitFieldNames(fieldNames))
        list.push_back(FieldByName(name));
}

Variant TDataSet::FieldValues(const std::string& fieldNames)
{
    if (fieldNames.find(';') == std::string::npos)
        return FieldByName(fieldNames)->Value();
    std::vector<TField*> fields;
    GetFieldList(fields, fieldNames);
    Variant values = VarArrayCreate(0, static_cast<int>(fields.size()) - 1, varVariant);
    for (std::size_t i = 0; i < fields.size(); ++i)
        values.PutElement(static_cast<int>(i), fields[i]->Value());
    return values;
}

void TDataSet::SetFieldValues(const std::string& fieldNames, const Variant& value)
{
    if (fieldNames.find(';') == std::string::npos) {
        FieldByName(fieldNames)->SetValue(value);
        return;
    }
    std::vector<TField*> fields;
    GetFieldList(fields, fieldNames);
    for (std::size_t i = 0; i < fields.size(); ++i)
        fields[i]->SetValue(value.GetElement(value.ArrayLowBound() + static_cast<int>(i)));
}

void TDataSet::CreateFields()
{
    for (int i = 0; i < FFieldDefs->Count(); ++i) {
        TFieldDef* def = FFieldDefs->Items(i);
        if (def->DataType() != ftUnknown && (def->Attributes() & faHiddenCol) == 0)
            def->CreateField(this);
    }
}

void TDataSet::DestroyFields()
{
    FFields->Clear();
}

void TDataSet::BindFields(bool binding)
{
    FCalcFieldsSize = 0;
    FBlobFieldCount = 0;
    FInternalCalcFields = false;
    for (int i = 0; i < FFields->Count(); ++i) {
        TField* field = FFields->Fields(i);
        if (!binding) {
            field->FFieldNo = 0;
            field->FOffset = 0;
            continue;
        }
        if (field->FieldKind() == fkCalculated || field->FieldKind() == fkLookup) {
            field->FFieldNo = -1;
            field->FOffset = FCalcFieldsSize;
            FCalcFieldsSize += field->DataSize() + 1;
        } else {
            const int index = FFieldDefs->IndexOf(field->FieldName());
            if (index < 0)
                DatabaseErrorFmt(SFieldNotFound, {field->DisplayName()}, this);
            TFieldDef* def = FFieldDefs->Items(index);
            if (def->DataType() != field->DataType())
                DatabaseErrorFmt(SFieldTypeMismatch,
                                 {field->DisplayName(), FieldTypeNames[field->DataType()],
                                  FieldTypeNames[def->DataType()]},
                                 this);
            if (field->DataType() == ftString && def->Size() != field->Size())
                DatabaseErrorFmt(SFieldSizeMismatch, {field->DisplayName(), field->Size(), def->Size()},
                                 this);
            field->FFieldNo = def->FieldNo();
            if (field->FieldKind() == fkInternalCalc)
                FInternalCalcFields = true;
            if (field->IsBlob())
                ++FBlobFieldCount;
        }
        if (field->FieldKind() == fkLookup &&
            (field->KeyFields.empty() || !field->LookupDataSet() || field->LookupKeyFields.empty() ||
             field->LookupResultField.empty()))
            DatabaseErrorFmt(SLookupInfoError, {field->DisplayName()}, this);
    }
}

void TDataSet::FreeFieldBuffers()
{
    for (int i = 0; i < FFields->Count(); ++i)
        FFields->Fields(i)->FreeBuffers();
}

void TDataSet::GetCalcFields(TRecordBuffer buffer)
{
    if (FCalcFieldsSize == 0 && !FInternalCalcFields)
        return;
    const TDataSetState saved = FState;
    FState = dsCalcFields;
    try {
        CalculateFields(buffer);
    } catch (...) {
        FState = saved;
        throw;
    }
    FState = saved;
}

void TDataSet::CalculateFields(TRecordBuffer buffer)
{
    FCalcBuffer = buffer;
    if (FState != dsInternalCalc) {
        ClearCalcFields(buffer);
        for (int i = 0; i < FFields->Count(); ++i)
            if (FFields->Fields(i)->FieldKind() == fkLookup)
                FFields->Fields(i)->CalcLookupValue();
    }
    DoOnCalcFields();
}

void TDataSet::UpdateCalcFields()
{
    if (FState == dsSetKey || !AutoCalcFields)
        return;
    if (FInternalCalcFields)
        RefreshInternalCalcFields(ActiveBuffer());
    else if (FCalcFieldsSize != 0)
        GetCalcFields(ActiveBuffer());
}

// ------------------------------------------------------- finding records

bool TDataSet::Locate(const std::string& keyFields, const Variant& keyValues, TLocateOptions options)
{
    return false;
}

Variant TDataSet::Lookup(const std::string& keyFields, const Variant& keyValues,
                         const std::string& resultFields)
{
    return Null();
}

// ------------------------------------------------------ states and events

void TDataSet::SetState(TDataSetState value)
{
    if (FState == value)
        return;
    FState = value;
    FModified = false;
    DataEvent(deUpdateState, 0);
}

TDataSetState TDataSet::SetTempState(TDataSetState value)
{
    const TDataSetState saved = FState;
    FState = value;
    ++FDisableCount;
    return saved;
}

void TDataSet::RestoreState(TDataSetState value)
{
    FState = value;
    --FDisableCount;
}

void TDataSet::DisableControls()
{
    if (FDisableCount == 0) {
        FDisableState = FState;
        FEnableEvent = deDataSetChange;
    }
    ++FDisableCount;
}

void TDataSet::EnableControls()
{
    if (FDisableCount == 0)
        return;
    if (--FDisableCount != 0)
        return;
    if (FDisableState != FState)
        DataEvent(deUpdateState, 0);
    if (FDisableState != dsInactive && FState != dsInactive)
        DataEvent(FEnableEvent, 0);
}

void TDataSet::DataEvent(TDataEvent event, std::intptr_t info)
{
    switch (event) {
    case deFieldChange: {
        TField* field = reinterpret_cast<TField*>(info);
        if (field->FieldKind() == fkData || field->FieldKind() == fkInternalCalc)
            FModified = true;
        if (FState != dsSetKey) {
            if (field->FieldKind() == fkData)
                UpdateCalcFields();
            field->Change();
        }
        break;
    }
    case dePropertyChange: FFieldDefs->SetUpdated(false); break;
    default: break;
    }
    if (FDisableCount == 0 && FState != dsBlockRead) {
        // A source may leave the dataset while it is told.
        for (std::size_t i = 0; i < FDataSources.size(); ++i)
            FDataSources[i]->DataEvent(event, info);
    } else if ((event == deUpdateState && FState == dsInactive) || event == deLayoutChange) {
        FEnableEvent = deLayoutChange;
    }
}

void TDataSet::SetBlockReadSize(int value)
{
    if (value > 0) {
        CheckActive();
        SetState(dsBlockRead);
    } else if (FState == dsBlockRead) {
        // The links missed every move of the block read: they catch up at once.
        FBlockReadSize = value;
        SetState(dsBrowse);
        DataEvent(deDataSetChange, 0);
    }
    FBlockReadSize = value;
}

bool TDataSet::IsLinkedTo(TDataSource* dataSource)
{
    while (dataSource) {
        TDataSet* dataSet = dataSource->DataSet();
        if (!dataSet)
            break;
        if (dataSet == this)
            return true;
        dataSource = dataSet->DataSource();
    }
    return false;
}

void TDataSet::AddDataSource(TDataSource* dataSource)
{
    FDataSources.push_back(dataSource);
    dataSource->FDataSet = this;
    UpdateBufferCount();
    dataSource->UpdateState();
}

void TDataSet::RemoveDataSource(TDataSource* dataSource)
{
    dataSource->FDataSet = nullptr;
    FDataSources.erase(std::remove(FDataSources.begin(), FDataSources.end(), dataSource),
                       FDataSources.end());
    dataSource->UpdateState();
    UpdateBufferCount();
}

} // namespace orvex
