#include "DatasetTestTable.h"

#include <algorithm>
#include <cstring>

namespace orvex::testing {

namespace {
// Bytes of a field's native value in the image (a blob keeps its id).
int SlotSize(const TFieldDef* def)
{
    switch (def->DataType()) {
    case ftString: return def->Size() + 1;
    case ftSmallint:
    case ftWord:
    case ftBoolean: return 2;
    case ftInteger:
    case ftAutoInc:
    case ftDate:
    case ftTime: return 4;
    case ftFloat:
    case ftCurrency:
    case ftDateTime: return 8;
    case ftBytes: return def->Size();
    case ftVarBytes: return def->Size() + 2;
    default: return 4;
    }
}

std::uint32_t ReadU32(const Byte* p)
{
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

void WriteU32(Byte* p, std::uint32_t v)
{
    std::memcpy(p, &v, 4);
}
} // namespace

// The blob stream of the test table: reads the record's blob, writes replace
// it when the stream goes.
class TMemBlobStream : public TMemoryStream {
public:
    TMemBlobStream(TMemTable* table, TField* field, TBlobStreamMode mode)
        : FTable(table), FField(static_cast<TBlobField*>(field)), FMode(mode)
    {
        FRecord = table->GetActiveRecBuf();
        if (mode != bmRead) {
            if (field->ReadOnly())
                DatabaseErrorFmt(SFieldReadOnly, {field->DisplayName()});
            if (!StateIn(table->State(), StateBit(dsEdit) | StateBit(dsInsert)))
                DatabaseError(SNotEditing, table);
        }
        if (mode != bmWrite && FRecord) {
            const Byte* slot = FRecord + table->SlotOf(field->FieldNo());
            if (slot[0] != 0) {
                const std::string& data = table->BlobPool[ReadU32(slot + 1)];
                TMemoryStream::Write(data.data(), static_cast<std::int32_t>(data.size()));
                SetPosition(0);
            }
        }
        FModified = mode == bmWrite;
    }

    ~TMemBlobStream() override
    {
        if (FMode == bmRead || !FModified || !FRecord)
            return;
        Byte* slot = FRecord + FTable->SlotOf(FField->FieldNo());
        if (Size() == 0) {
            slot[0] = 0;
        } else {
            std::string data(static_cast<std::size_t>(Size()), '\0');
            std::memcpy(data.data(), Memory(), data.size());
            FTable->BlobPool.push_back(data);
            slot[0] = 1;
            WriteU32(slot + 1, static_cast<std::uint32_t>(FTable->BlobPool.size() - 1));
        }
        FField->SetModified(true);
        FTable->DataEvent(deFieldChange, FField);
    }

    std::int32_t Write(const void* buffer, std::int32_t count) override
    {
        FModified = true;
        return TMemoryStream::Write(buffer, count);
    }

private:
    TMemTable* FTable;
    TBlobField* FField;
    TBlobStreamMode FMode;
    TRecordBuffer FRecord = nullptr;
    bool FModified = false;
};

TMemTable::TMemTable(TComponent* owner) : TDataSet(owner), FMasterLink(this)
{
    FMasterLink.OnMasterChange = [this](TObject*) { MasterChanged(); };
    FMasterLink.OnMasterDisable = [this](TObject*) {
        CancelRange();
    };
}

TMemTable::~TMemTable()
{
    Destroying();
    Close();
}

// ------------------------------------------------------------ open, close

void TMemTable::InternalOpen()
{
    if (DefaultFields())
        CreateFields();
    BindFields(true);
    FSlots.clear();
    int size = 0;
    for (int i = 0; i < FieldDefs()->Count(); ++i) {
        FSlots.push_back(size);
        size += 1 + SlotSize(FieldDefs()->Items(i));
    }
    FLayout = TRecordBufferLayout{size, CalcFieldsSize()};
    SetBookmarkSize(TRecordBufferLayout::BookmarkSize);
    FKeyBuffer = AllocRecordBuffer();
    FFilterBuffer = AllocRecordBuffer();
    FCursor = -1;
    FCursorOpen = true;
    if (FMasterLink.Active() && !FMasterLink.Fields().empty())
        MasterChanged();
}

void TMemTable::InternalClose()
{
    BindFields(false);
    if (DefaultFields())
        DestroyFields();
    FreeRecordBuffer(FKeyBuffer);
    FreeRecordBuffer(FFilterBuffer);
    FCursorOpen = false;
}

TRecordBuffer TMemTable::AllocRecordBuffer()
{
    return new Byte[static_cast<std::size_t>(FLayout.BufferSize())]();
}

void TMemTable::FreeRecordBuffer(TRecordBuffer& buffer)
{
    delete[] buffer;
    buffer = nullptr;
}

// ----------------------------------------------------------------- cursor

int TMemTable::IndexOfId(std::uint32_t id) const
{
    for (std::size_t i = 0; i < FRows.size(); ++i)
        if (FRows[i].Id == id)
            return static_cast<int>(i);
    return -1;
}

Variant TMemTable::KeyValue(TRecordBuffer image)
{
    TField* key = FieldByName(KeyField);
    std::memcpy(FFilterBuffer, image, static_cast<std::size_t>(FLayout.RecordSize));
    const TDataSetState saved = SetTempState(dsFilter);
    Variant value = key->Value();
    RestoreState(saved);
    return value;
}

bool TMemTable::InRange(const std::vector<Byte>& image)
{
    if (!FRangeOn)
        return true;
    const Variant value = KeyValue(const_cast<Byte*>(image.data()));
    return value >= FRangeLow && value <= FRangeHigh;
}

bool TMemTable::Visible(int index)
{
    const Row& row = FRows[static_cast<std::size_t>(index)];
    if (!InRange(row.Image))
        return false;
    if (!Filtered() || !OnFilterRecord())
        return true;
    std::memcpy(FFilterBuffer, row.Image.data(), row.Image.size());
    bool accept = true;
    const TDataSetState saved = SetTempState(dsFilter);
    try {
        OnFilterRecord()(this, accept);
    } catch (...) {
        RestoreState(saved);
        throw;
    }
    RestoreState(saved);
    return accept;
}

TGetResult TMemTable::GetRecord(TRecordBuffer buffer, TGetMode getMode, bool doCheck)
{
    const int count = static_cast<int>(FRows.size());
    int pos = FCursor;
    switch (getMode) {
    case gmCurrent:
        if (pos < 0 || pos >= count || !Visible(pos))
            return grError;
        break;
    case gmNext:
        do
            ++pos;
        while (pos < count && !Visible(pos));
        if (pos >= count) {
            FCursor = count;
            return grEOF;
        }
        break;
    case gmPrior:
        do
            --pos;
        while (pos >= 0 && !Visible(pos));
        if (pos < 0) {
            FCursor = -1;
            return grBOF;
        }
        break;
    }
    FCursor = pos;
    const Row& row = FRows[static_cast<std::size_t>(pos)];
    std::memcpy(buffer, row.Image.data(), row.Image.size());
    WriteU32(buffer + FLayout.RecAddrOffset(), row.Id);
    WriteU32(buffer + FLayout.RecNoOffset(), static_cast<std::uint32_t>(pos + 1));
    WriteU32(buffer + FLayout.KeyFlagOffset(), 0);
    std::memset(buffer + FLayout.RecordInfoOffset(), 0, TRecordBufferLayout::RecordInfoSize);
    WriteU32(buffer + FLayout.BookmarkOffset(), row.Id);
    WriteU32(buffer + FLayout.BookmarkOffset() + 4, 0);
    SetBookmarkFlag(buffer, bfCurrent);
    GetCalcFields(buffer);
    return grOK;
}

void TMemTable::InternalGotoBookmark(const void* bookmark)
{
    const int index = IndexOfId(ReadU32(static_cast<const Byte*>(bookmark)));
    if (index < 0)
        DatabaseError(SRecordNotFound, this);
    FCursor = index;
}

void TMemTable::InternalSetToRecord(TRecordBuffer buffer)
{
    ++SetToRecordCount;
    TDataSet::InternalSetToRecord(buffer);
}

TBookmarkFlag TMemTable::GetBookmarkFlag(TRecordBuffer buffer)
{
    return static_cast<TBookmarkFlag>(buffer[FLayout.BookmarkFlagOffset()]);
}

void TMemTable::SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag value)
{
    buffer[FLayout.BookmarkFlagOffset()] = static_cast<Byte>(value);
}

void TMemTable::GetBookmarkData(TRecordBuffer buffer, void* data)
{
    std::memcpy(data, buffer + FLayout.BookmarkOffset(), TRecordBufferLayout::BookmarkSize);
}

void TMemTable::SetBookmarkData(TRecordBuffer buffer, const void* data)
{
    std::memcpy(buffer + FLayout.BookmarkOffset(), data, TRecordBufferLayout::BookmarkSize);
}

bool TMemTable::BookmarkValid(const TBookmark& bookmark)
{
    return Active() && bookmark.size() == 8 &&
           IndexOfId(ReadU32(reinterpret_cast<const Byte*>(bookmark.data()))) >= 0;
}

int TMemTable::CompareBookmarks(const TBookmark& bookmark1, const TBookmark& bookmark2)
{
    if (bookmark1.empty() || bookmark2.empty())
        return bookmark1.empty() && bookmark2.empty() ? 0 : 1;
    const int a = IndexOfId(ReadU32(reinterpret_cast<const Byte*>(bookmark1.data())));
    const int b = IndexOfId(ReadU32(reinterpret_cast<const Byte*>(bookmark2.data())));
    return a < b ? -1 : a > b ? 1 : 0;
}

int TMemTable::GetRecordCount()
{
    CheckActive();
    int count = 0;
    for (int i = 0; i < static_cast<int>(FRows.size()); ++i)
        if (Visible(i))
            ++count;
    return count;
}

int TMemTable::GetRecNo()
{
    TRecordBuffer buffer = ActiveBuffer();
    if (IsEmpty() || !buffer || GetBookmarkFlag(buffer) != bfCurrent)
        return -1;
    const int index = IndexOfId(ReadU32(buffer + FLayout.BookmarkOffset()));
    int recNo = 0;
    for (int i = 0; i <= index; ++i)
        if (Visible(i))
            ++recNo;
    return recNo;
}

void TMemTable::SetRecNo(int value)
{
    CheckBrowseMode();
    int seen = 0;
    for (int i = 0; i < static_cast<int>(FRows.size()); ++i)
        if (Visible(i) && ++seen == value) {
            DoBeforeScroll();
            FCursor = i;
            Resync(rmCenter);
            DoAfterScroll();
            return;
        }
}

// ----------------------------------------------------------------- fields

TRecordBuffer TMemTable::GetActiveRecBuf()
{
    switch (State()) {
    case dsBrowse:
    case dsBlockRead: return IsEmpty() ? nullptr : ActiveBuffer();
    case dsEdit:
    case dsInsert: return ActiveBuffer();
    case dsSetKey: return FKeyBuffer;
    case dsCalcFields: return CalcBuffer();
    case dsFilter: return FFilterBuffer;
    default: return nullptr;
    }
}

bool TMemTable::GetFieldData(TField* field, void* buffer)
{
    TRecordBuffer record = GetActiveRecBuf();
    if (!record)
        return false;
    const Byte* slot = field->FieldNo() > 0
                           ? record + SlotOf(field->FieldNo())
                           : record + FLayout.CalcFieldsOffset() + field->Offset();
    if (slot[0] == 0)
        return false;
    if (buffer && !field->IsBlob())
        std::memcpy(buffer, slot + 1, static_cast<std::size_t>(field->DataSize()));
    return true;
}

void TMemTable::SetFieldData(TField* field, const void* buffer)
{
    if (!StateIn(State(), dsWriteModes))
        DatabaseError(SNotEditing, this);
    TRecordBuffer record = GetActiveRecBuf();
    Byte* slot;
    if (field->FieldNo() > 0) {
        if (State() == dsCalcFields)
            DatabaseError(SNotEditing, this);
        field->Validate(buffer);
        slot = record + SlotOf(field->FieldNo());
    } else {
        slot = record + FLayout.CalcFieldsOffset() + field->Offset();
    }
    slot[0] = buffer ? 1 : 0;
    std::memset(slot + 1, 0, static_cast<std::size_t>(field->DataSize()));
    if (buffer)
        std::memcpy(slot + 1, buffer, static_cast<std::size_t>(field->DataSize()));
    if (State() != dsCalcFields)
        DataEvent(deFieldChange, field);
}

TStream* TMemTable::CreateBlobStream(TField* field, TBlobStreamMode mode)
{
    return new TMemBlobStream(this, field, mode);
}

void TMemTable::ClearCalcFields(TRecordBuffer buffer)
{
    std::memset(buffer + FLayout.CalcFieldsOffset(), 0, static_cast<std::size_t>(FLayout.CalcFieldsSize));
}

// ---------------------------------------------------------------- editing

void TMemTable::InternalInitRecord(TRecordBuffer buffer)
{
    std::memset(buffer, 0, static_cast<std::size_t>(FLayout.RecordSize + TRecordBufferLayout::EngineInfoSize));
}

void TMemTable::InternalPost()
{
    TDataSet::InternalPost();
    TRecordBuffer record = ActiveBuffer();
    std::vector<Byte> image(record, record + FLayout.RecordSize);
    if (State() == dsEdit) {
        FRows[static_cast<std::size_t>(IndexOfId(ReadU32(record + FLayout.BookmarkOffset())))].Image = image;
        return;
    }
    // The cursor stands on the record the new one was inserted at (or past
    // the end for an append).
    const int at = std::clamp(FCursor, 0, static_cast<int>(FRows.size()));
    FRows.insert(FRows.begin() + at, Row{FNextId++, image});
    FCursor = at;
}

void TMemTable::InternalDelete()
{
    FRows.erase(FRows.begin() + FCursor);
}

void TMemTable::AddRecord(std::initializer_list<Variant> values)
{
    Append();
    int i = 0;
    for (const Variant& value : values)
        Fields()->Fields(i++)->SetValue(value);
    Post();
}

// ------------------------------------------------------ keys and ranges

void TMemTable::SetRange(const Variant& low, const Variant& high)
{
    CheckBrowseMode();
    FRangeOn = true;
    FRangeLow = low;
    FRangeHigh = high;
    First();
}

void TMemTable::CancelRange()
{
    CheckBrowseMode();
    FRangeOn = false;
    First();
}

void TMemTable::SetKey()
{
    CheckBrowseMode();
    InternalInitRecord(FKeyBuffer);
    SetState(dsSetKey);
}

bool TMemTable::GotoKey()
{
    // Leaving the set-key state keeps the key buffer as entered.
    CheckBrowseMode();
    const Variant key = KeyValue(FKeyBuffer);
    for (int i = 0; i < static_cast<int>(FRows.size()); ++i)
        if (Visible(i) && KeyValue(FRows[static_cast<std::size_t>(i)].Image.data()) == key) {
            DoBeforeScroll();
            FCursor = i;
            Resync(rmExact | rmCenter);
            DoAfterScroll();
            return true;
        }
    return false;
}

void TMemTable::SetMasterSource(TDataSource* value)
{
    if (value && IsLinkedTo(value))
        DatabaseError(SCircularDataLink, this);
    FMasterLink.SetDataSource(value);
}

TDataSource* TMemTable::MasterSource() const
{
    return FMasterLink.DataSource();
}

void TMemTable::SetMasterFields(const std::string& value)
{
    FMasterLink.SetFieldNames(value);
}

void TMemTable::MasterChanged()
{
    // While opening only the range is set; afterwards the cursor follows.
    const Variant value = FMasterLink.Fields().front()->Value();
    if (State() != dsInactive)
        CheckBrowseMode();
    FRangeOn = true;
    FRangeLow = value;
    FRangeHigh = value;
    if (State() != dsInactive)
        First();
}

// ------------------------------------------------------- locate, lookup

bool TMemTable::Matches(int index, const std::vector<TField*>& fields, const Variant& values,
                        TLocateOptions options)
{
    const Row& row = FRows[static_cast<std::size_t>(index)];
    std::memcpy(FFilterBuffer, row.Image.data(), row.Image.size());
    const TDataSetState saved = SetTempState(dsFilter);
    bool match = true;
    for (std::size_t i = 0; i < fields.size() && match; ++i) {
        const Variant wanted = values.IsArray() ? values.GetElement(static_cast<int>(i)) : values;
        const Variant have = fields[i]->Value();
        if (fields[i]->DataType() == ftString && !wanted.IsNull() && !have.IsNull()) {
            std::string a = have.AsString(), b = wanted.AsString();
            if ((options & loPartialKey) != 0)
                a = a.substr(0, b.size());
            match = (options & loCaseInsensitive) != 0 ? AnsiCompareText(a, b) == 0 : a == b;
        } else {
            match = have == wanted;
        }
    }
    RestoreState(saved);
    return match;
}

int TMemTable::FindMatch(const std::string& keyFields, const Variant& keyValues, TLocateOptions options)
{
    std::vector<TField*> fields;
    GetFieldList(fields, keyFields);
    for (int i = 0; i < static_cast<int>(FRows.size()); ++i)
        if (Visible(i) && Matches(i, fields, keyValues, options))
            return i;
    return -1;
}

bool TMemTable::Locate(const std::string& keyFields, const Variant& keyValues, TLocateOptions options)
{
    CheckBrowseMode();
    const int found = FindMatch(keyFields, keyValues, options);
    if (found < 0)
        return false;
    DoBeforeScroll();
    FCursor = found;
    Resync(rmExact | rmCenter);
    DoAfterScroll();
    return true;
}

Variant TMemTable::Lookup(const std::string& keyFields, const Variant& keyValues,
                          const std::string& resultFields)
{
    if (FindMatch(keyFields, keyValues, 0) < 0)
        return Null();
    // The filter buffer still holds the record found.
    const TDataSetState saved = SetTempState(dsFilter);
    Variant result = FieldValues(resultFields);
    RestoreState(saved);
    return result;
}

// ---------------------------------------------------------------- helpers

void EventLog::Attach(TDataSet* d)
{
    auto add = [this](const char* name) { return [this, name](TDataSet*) { Names.push_back(name); }; };
    d->BeforeOpen = add("BeforeOpen");
    d->AfterOpen = add("AfterOpen");
    d->BeforeClose = add("BeforeClose");
    d->AfterClose = add("AfterClose");
    d->BeforeInsert = add("BeforeInsert");
    d->AfterInsert = add("AfterInsert");
    d->BeforeEdit = add("BeforeEdit");
    d->AfterEdit = add("AfterEdit");
    d->BeforePost = add("BeforePost");
    d->AfterPost = add("AfterPost");
    d->BeforeCancel = add("BeforeCancel");
    d->AfterCancel = add("AfterCancel");
    d->BeforeDelete = add("BeforeDelete");
    d->AfterDelete = add("AfterDelete");
    d->BeforeScroll = add("BeforeScroll");
    d->AfterScroll = add("AfterScroll");
    d->BeforeRefresh = add("BeforeRefresh");
    d->AfterRefresh = add("AfterRefresh");
    d->OnNewRecord = add("OnNewRecord");
}

std::string EventLog::Text() const
{
    std::string text;
    for (const std::string& name : Names)
        text += (text.empty() ? "" : ",") + name;
    return text;
}

std::vector<std::string> TGridLink::Rows(const std::string& fieldName)
{
    std::vector<std::string> rows;
    const int saved = ActiveRecord();
    for (int i = 0; i < RecordCount(); ++i) {
        SetActiveRecord(i);
        rows.push_back(DataSet()->FieldByName(fieldName)->AsString());
    }
    SetActiveRecord(saved);
    return rows;
}

} // namespace orvex::testing
