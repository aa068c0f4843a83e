// TVekTable: the table component: index selection, keys and ranges,
// master-detail links, table creation and deletion.

#include "dataset/vekDataSet.h"

#include "host/DBConsts.h"
#include "storage/vekByteOrder.h"

#include <algorithm>
#include <cstring>

namespace orvex {

namespace {

constexpr Integer ErrNoIndex = 9997;
constexpr Integer ErrOutOfRange = 9985;

const char* const HiddenIndexName = "_LogicalRecNo";

} // namespace

TVekTable::TVekTable(TComponent* AOwner) : TVekBaseTable(AOwner), FMasterLink(new TMasterDataLink(this))
{
    FMasterLink->OnMasterChange = [this](TObject*) { MasterChanged(); };
    FMasterLink->OnMasterDisable = [this](TObject*) { MasterDisabled(); };
}

TVekTable::~TVekTable()
{
    Destroying();
    try {
        Close();
    } catch (...) {
    }
    delete FMasterLink;
}

void TVekTable::Loaded()
{
    TVekBaseTable::Loaded();
    if (Active() && FMasterLink->DataSource() && FMasterLink->DataSource()->DataSet() && !MasterFields().empty())
        CheckMasterRange();
    if (Active() && FIndexName.empty() && !FIndexFieldNames.empty())
        SetIndexFieldNames(FIndexFieldNames);
}

void TVekTable::InternalOpen()
{
    TVekBaseTable::InternalOpen();
    try {
        UpdateIndexDefs();
        const bool byName = !FIndexName.empty();
        if (byName) {
            if (!FindIndexDefByName(FIndexName) && !SameText(FIndexName, HiddenIndexName))
                VekDatabaseErrorFmt(ErrNoIndex, "TVekTable.InternalOpen", SvekIndexFmt, {FIndexName}, this);
            InternalSetIndexName(FIndexName);
        }
        // Working copies of an earlier restructure describe the table as it
        // was; the next restructure starts from the definitions just read.
        FRestructureFieldDefs.reset();
        FRestructureIndexDefs.reset();
        if (!byName && !FIndexFieldNames.empty()) {
            InternalSetIndexName(FindIndexForFields(FIndexFieldNames));
        }
        InternalCheckMasterRange();
    } catch (...) {
        InternalClose();
        throw;
    }
}

// ================================================================= indexes

std::string TVekTable::IndexName() const
{
    // The property as set (the table may still be ordered by the first
    // index when it is empty); the hidden index never shows.
    return SameText(FIndexName, HiddenIndexName) ? std::string() : FIndexName;
}

void TVekTable::SetIndexName(const std::string& Value)
{
    if (!Active()) {
        FIndexName = Value;
        FIndexFieldNames.clear();
        return;
    }
    if (SameText(Value, IndexName()))
        return;
    CheckBrowseMode();
    std::string name = Value;
    if (name.empty()) {
        // The first visible index, else the hidden one.
        for (int i = 0; i < IndexManager()->Count() && name.empty(); ++i)
            if (!IndexManager()->GetItems(i)->Hidden())
                name = IndexManager()->GetItems(i)->IndexName();
        if (name.empty())
            name = IndexManager()->GetItems(0)->IndexName();
    } else {
        CheckIndexesPresent();
        if (!IndexManager()->FindIndex(name))
            VekDatabaseErrorFmt(ErrNoIndex, "TVekTable.SetIndexName", SvekIndexFmt, {name}, this);
    }
    InternalSetIndexName(name);
    FIndexName = Value;
    FIndexFieldNames.clear();
    DataSetClearRange();
    First();
    CheckMasterRange();
}

std::string TVekTable::IndexFieldNames()
{
    if (Active()) {
        TIndexDef* def = FindIndexDefByName(CurrentIndexName());
        return def ? def->Fields() : std::string();
    }
    return FIndexFieldNames;
}

void TVekTable::SetIndexFieldNames(const std::string& Value)
{
    if (Active() && !Value.empty()) {
        CheckBrowseMode();
        const std::string name = FindIndexForFields(Value);
        InternalSetIndexName(name);
        FIndexName = name;
        DataSetClearRange();
        First();
        CheckMasterRange();
    }
    FIndexFieldNames = Value;
}

TField* TVekTable::GetIndexField(int Index)
{
    if (IndexDefs()->Count() == 0)
        VekDatabaseError(ErrNoIndex, "TVekTable.GetIndexField", "", this);
    TIndexDef* def = FindIndexDefByName(CurrentIndexName());
    if (!def)
        VekDatabaseErrorFmt(ErrNoIndex, "TVekTable.GetIndexField", SvekIndexFmt, {CurrentIndexName()}, this);
    const std::vector<std::string> names = SplitFieldNames(def->Fields());
    if (Index < 0 || Index >= static_cast<int>(names.size()))
        return nullptr;
    return FieldByName(names[static_cast<std::size_t>(Index)]);
}

int TVekTable::GetIndexCount()
{
    CheckActive();
    return IndexDefs()->Count();
}

int TVekTable::IndexFieldCount()
{
    return Active() ? GetIndexFieldCount() : 0;
}

// ==================================================================== keys

void TVekTable::SetKey()
{
    CheckBrowseMode();
    SetState(dsSetKey);
    FKeyFieldCount = 0;
    InitializeNewRecord(KeyBuffer(), false);
    SetKeyMode(kmKey);
}

void TVekTable::EditKey()
{
    CheckBrowseMode();
    SetState(dsSetKey);
    SetKeyMode(kmKey);
}

void TVekTable::CancelKey()
{
    if (State() == dsSetKey)
        SetState(dsBrowse);
    SetKeyMode(kmNone);
}

void TVekTable::CheckSetKeyMode()
{
    if (State() != dsSetKey)
        DatabaseError(SNotEditing, this);
}

void TVekTable::SetKeyFieldCount(int Value)
{
    CheckSetKeyMode();
    if (Value > GetIndexFieldCount())
        VekDatabaseError(ErrOutOfRange, "TVekTable.SetKeyFieldCount", "The specified index field count is out of range",
                         this);
    FKeyFieldCount = Value;
}

bool TVekTable::ApplyKey(bool Exact, bool FromSetKey)
{
    if (FromSetKey)
        CheckSetKeyMode();
    const int indexFields = GetIndexFieldCount();
    const int count = FKeyFieldCount > 0 ? std::min(FKeyFieldCount, indexFields) : indexFields;
    // The key: the given leading fields, the rest (and the record ID) below
    // every stored value, so that the search lands on the first of equal
    // keys.
    std::vector<Byte> key(KeyBuffer(), KeyBuffer() + EngineBufferSize());
    TIndexItem* index = IndexManager()->FindIndex(CurrentIndexName());
    int position = 0;
    for (int i = 0; i < index->KeyFields()->Count(); ++i) {
        TKeyFieldItem* field = index->KeyFields()->GetItems(i);
        if (field->Hidden())
            continue;
        if (position++ >= count)
            key[static_cast<std::size_t>(field->NullFlagOffset())] = nfLowest;
        else if (key[static_cast<std::size_t>(field->NullFlagOffset())] != nfValue)
            key[static_cast<std::size_t>(field->NullFlagOffset())] = nfNull;
    }
    WriteLE32(key.data() + InternalGetRecordSize() + eioKeyFlag, kfBeforeFirst);
    if (FromSetKey)
        SetState(dsBrowse);
    SetKeyMode(kmNone);

    bool found = FindBuf(key.data(), Exact ? stGE : stLEG, "", nullptr, false);
    if (found && Exact) {
        // Equal over the given fields?
        std::vector<Byte> a(static_cast<std::size_t>(index->MaximumKeySize() + 1), 0);
        std::vector<Byte> b(a.size(), 0);
        TKeyComparisonFlags flags;
        for (int i = 0; i < index->KeyFields()->Count(); ++i)
            flags.push_back(kcfNormal);
        index->CreateTempKeyBuffer(CurrentBuffer(), a.data(), {});
        index->CreateTempKeyBuffer(key.data(), b.data(), flags);
        found = index->Tree()->CompareKeys(count, {}, flags, a.data(), b.data()) == 0;
    }
    if (found) {
        CursorPosChanged();
        DoBeforeScroll();
        SetPendingMove(1);
        Resync(rmExact | rmCenter);
        DoAfterScroll();
    } else {
        // The cursor goes back to the active record.
        CursorPosChanged();
    }
    return found;
}

void TVekTable::FillKeyBuffer(const std::vector<Variant>& Values)
{
    CheckBrowseMode();
    const TDataSetState saved = SetTempState(dsSetKey);
    SetKeyMode(kmKey);
    try {
        InitializeNewRecord(KeyBuffer(), false);
        SetIndexFields(Values, CurrentIndexName());
    } catch (...) {
        SetKeyMode(kmNone);
        RestoreState(saved);
        throw;
    }
    RestoreState(saved);
    FKeyFieldCount = static_cast<int>(std::min<std::size_t>(Values.size(), static_cast<std::size_t>(GetIndexFieldCount())));
}

bool TVekTable::FindKey(const std::vector<Variant>& Values)
{
    FillKeyBuffer(Values);
    return ApplyKey(true, false);
}

void TVekTable::FindNearest(const std::vector<Variant>& Values)
{
    FillKeyBuffer(Values);
    const bool taken = !HoldsLock();
    if (taken)
        ReadLockTable();
    try {
        ApplyKey(false, false);
    } catch (...) {
        if (taken)
            UnlockTable();
        throw;
    }
    if (taken)
        UnlockTable();
}

// ================================================================== ranges

void TVekTable::SetRangeStart()
{
    CheckBrowseMode();
    SetState(dsSetKey);
    InitializeRangeBuffers(rmRangeStart);
    SetKeyMode(kmRange);
    SetRangeMode(rmRangeStart);
}

void TVekTable::SetRangeEnd()
{
    CheckBrowseMode();
    SetState(dsSetKey);
    InitializeRangeBuffers(rmRangeEnd);
    SetKeyMode(kmRange);
    SetRangeMode(rmRangeEnd);
}

void TVekTable::EditRangeStart()
{
    CheckBrowseMode();
    SetState(dsSetKey);
    SetKeyMode(kmRange);
    SetRangeMode(rmRangeStart);
}

void TVekTable::EditRangeEnd()
{
    CheckBrowseMode();
    SetState(dsSetKey);
    SetKeyMode(kmRange);
    SetRangeMode(rmRangeEnd);
}

void TVekTable::ApplyRange()
{
    CheckIndexesPresent();
    if (State() == dsSetKey)
        SetState(dsBrowse);
    else
        CheckBrowseMode();
    SetRangeOn(true);
    SetKeyMode(kmNone);
    First();
}

void TVekTable::CancelRange()
{
    CheckBrowseMode();
    DataSetClearRange();
    SetRangeOn(false);
    SetKeyMode(kmNone);
    First();
}

void TVekTable::SetRange(const std::vector<Variant>& StartValues, const std::vector<Variant>& EndValues)
{
    InternalSetRange(StartValues, EndValues);
}

// =========================================================== master-detail

void TVekTable::SetMasterSource(TDataSource* Value)
{
    if (Value && IsLinkedTo(Value))
        DatabaseError(SCircularDataLink, this);
    FMasterLink->SetDataSource(Value);
}

void TVekTable::SetMasterFields(const std::string& Value)
{
    FMasterLink->SetFieldNames(Value);
}

void TVekTable::MasterChanged()
{
    if (!Active())
        return;
    CheckBrowseMode();
    SetDetailLinkRange(FMasterLink->Fields());
}

void TVekTable::MasterDisabled()
{
    if (Active())
        CancelRange();
}

void TVekTable::CheckMasterRange()
{
    if (Active())
        InternalCheckMasterRange();
}

void TVekTable::InternalCheckMasterRange()
{
    if (FMasterLink->Active() && !FMasterLink->Fields().empty())
        SetDetailLinkRange(FMasterLink->Fields());
}

void TVekTable::SetDetailLinkRange(const std::vector<TField*>& MasterFields)
{
    const bool firstFetch = FirstFetch() || State() == dsInactive;
    if (!firstFetch)
        CheckBrowseMode();
    std::vector<Variant> values;
    for (TField* field : MasterFields)
        values.push_back(field->Value());
    const TDataSetState saved = SetTempState(dsSetKey);
    try {
        SetKeyMode(kmRange);
        DataSetClearRange();
        SetRangeMode(rmRangeStart);
        SetIndexFields(values, CurrentIndexName());
        SetRangeMode(rmRangeEnd);
        SetIndexFields(values, CurrentIndexName());
        SetRangeOn(true);
    } catch (...) {
        SetKeyMode(kmNone);
        RestoreState(saved);
        throw;
    }
    RestoreState(saved);
    SetKeyMode(kmNone);
    if (!firstFetch)
        First();
}

void TVekTable::DoOnNewRecord()
{
    if (FMasterLink->Active() && !FMasterLink->Fields().empty()) {
        TIndexDef* def = FindIndexDefByName(CurrentIndexName());
        const std::vector<std::string> names = def ? SplitFieldNames(def->Fields()) : std::vector<std::string>();
        const std::vector<TField*>& master = FMasterLink->Fields();
        for (std::size_t i = 0; i < master.size(); ++i) {
            if (i >= names.size())
                DatabaseError("Master-detail error" + master[i]->FieldName() + " is not a valid index field for this index",
                              this);
            FieldByName(names[i])->SetValue(master[i]->Value());
        }
    }
    TVekBaseTable::DoOnNewRecord();
}

// =============================================================== structure

void TVekTable::DeleteTable()
{
    CheckInactive();
    if (!DataBase())
        VekDatabaseError(10112, "TVekTable.DeleteTable", "There is no connection to a database engine", this);
    if (!DataBase()->Connected())
        DataBase()->Open();
    DataBase()->DeleteTable(TableName(), Memory());
}

Cardinal TVekTable::NextAutoIncValue()
{
    CheckActive();
    const bool taken = !HoldsLock();
    if (taken)
        ReadLockTable();
    const Cardinal value = TableDef()->TableHeader()->RecordAutoIncVal() + 1;
    if (taken)
        UnlockTable();
    return value;
}

} // namespace orvex
