// The target operations of INSERT, UPDATE and DELETE, and the rows of
// another result appended (UNION parts, INSERT ... SELECT).

#include "query/vekQueryDataset.h"

#include "dataset/vekDatabase.h"
#include "host/SysUtils.h"

#include <cstring>

namespace orvex {

namespace {

// Opens a dataset for the length of an operation and closes it again when
// it was closed before.
class TOpenScope {
public:
    explicit TOpenScope(TDataSet* DataSet) : FDataSet(DataSet), FWasOpen(DataSet->Active())
    {
        if (!FWasOpen)
            FDataSet->Open();
    }
    ~TOpenScope()
    {
        if (!FWasOpen) {
            try {
                FDataSet->Close();
            } catch (...) {
                // Closing after a failure must not hide the failure.
            }
        }
    }
    TOpenScope(const TOpenScope&) = delete;
    TOpenScope& operator=(const TOpenScope&) = delete;

private:
    TDataSet* FDataSet;
    bool FWasOpen;
};

// The rank of a numeric type among those a column may widen to.
int NumericRank(TFieldType Type)
{
    switch (Type) {
    case ftSmallint:
    case ftWord:
        return 1;
    case ftInteger:
    case ftAutoInc:
        return 2;
    case ftFloat:
    case ftCurrency:
        return 3;
    default:
        return 0;
    }
}

// The engine field numbers of the visible fields of a table, in order.
std::vector<Integer> VisibleFieldNos(TVekDataSet* Table)
{
    std::vector<Integer> numbers;
    TInternalFields* fields = Table->GetInternalFields();
    for (int i = 0; i < fields->Count(); ++i)
        if (!fields->GetIndex(i)->Hidden())
            numbers.push_back(fields->GetIndex(i)->FieldIndex());
    return numbers;
}

} // namespace

void TVekQueryDataset::InternalSetResultSetFieldSources(TResultSetFields* Fields)
{
    for (int i = 0; i < Fields->Count(); ++i)
        Fields->Items(i)->SourceFieldNo = GetFieldNo(Fields->Items(i)->FieldName());
}

void TVekQueryDataset::AddRecordAssigningAutoInc()
{
    // An auto-increment field left empty takes the table's next value.
    const Integer autoIncNo = GetInternalFields()->AutoIncFieldNo();
    AddRecord(autoIncNo >= 0 && GetIsFieldNullFromRecBuf(autoIncNo, CurrentBuffer()));
}

void TVekQueryDataset::InsertData(TResultSetFields* Fields)
{
    TOpenScope open(this);
    FRowsAffected = 0;
    InternalSetResultSetFieldSources(Fields);
    ClearRecord(CurrentBuffer());
    for (int i = 0; i < Fields->Count(); ++i) {
        TResultSetField* column = Fields->Items(i);
        if (column->SourceFieldNo < 0)
            continue;
        SetResultSetFieldFromVariant(column->SourceFieldNo, column->DataValue);
    }
    AddRecordAssigningAutoInc();
    FRowsAffected = 1;
}

bool TVekQueryDataset::WidenForSource(TVekDataSet* Source, const std::vector<Integer>& SourceFields,
                                      const std::vector<Integer>& TargetFields)
{
    bool widen = false;
    for (std::size_t i = 0; i < SourceFields.size() && i < TargetFields.size(); ++i) {
        if (TargetFields[i] < 0)
            continue;
        TInternalFieldItem* source = Source->GetInternalFields()->GetField(SourceFields[i]);
        TInternalFieldItem* target = GetInternalFields()->GetField(TargetFields[i]);
        TFieldDef* def = FieldDefs()->Find(target->FieldName());
        if (!def)
            continue;
        if (source->DataType() == ftString && target->DataType() == ftString &&
            source->GetWriteableFieldSize() > target->GetWriteableFieldSize()) {
            def->SetSize(source->GetWriteableFieldSize());
            widen = true;
        } else if (NumericRank(source->DataType()) > NumericRank(target->DataType()) &&
                   NumericRank(target->DataType()) > 0) {
            def->SetDataType(NumericRank(source->DataType()) == 3 ? ftFloat : ftInteger);
            def->SetSize(0);
            widen = true;
        }
    }
    return widen;
}

void TVekQueryDataset::RebuildWithDefinitions()
{
    // The rows, every field (hidden ones too), as values.
    TInternalFields* fields = GetInternalFields();
    std::vector<std::string> names;
    for (int i = 0; i < fields->Count(); ++i)
        names.push_back(fields->GetIndex(i)->FieldName());
    std::vector<std::vector<Variant>> rows;
    for (bool more = DataSetFirst(); more; more = DataSetNext()) {
        std::vector<Variant> row;
        for (int i = 0; i < fields->Count(); ++i)
            row.push_back(GetFieldData(fields->GetIndex(i)->FieldIndex()));
        rows.push_back(std::move(row));
    }
    // The live fields are hidden and so not among the definitions the open
    // table shows; they go back after the result columns.
    if (FCreateLiveResult)
        for (const char* hidden : {ResultRecAddrFieldName, ResultRecModFlagFieldName})
            if (fields->FindField(hidden) && !FieldDefs()->Find(hidden))
                FieldDefs()->Add(hidden, ftInteger, 0);
    Close();
    DataBase()->DeleteTable(TableName(), Memory());
    CreateResultSetTable();
    Open();
    std::vector<Integer> numbers;
    for (const std::string& name : names)
        numbers.push_back(GetFieldNo(name));
    for (const auto& row : rows) {
        ClearRecord(CurrentBuffer());
        for (std::size_t i = 0; i < row.size(); ++i)
            if (numbers[i] >= 0)
                StoreVariant(numbers[i], row[i]);
        AddRecord(false);
    }
}

void TVekQueryDataset::InsertDataFromDataset(TResultSetFields* Fields, TVekBaseTable* Source, bool ResetCount,
                                             bool Distinct)
{
    ORVEX_ASSERT(Source != nullptr, "The source dataset is not assigned");
    if (ResetCount)
        FRowsAffected = 0;
    TOpenScope open(this);
    TOpenScope openSource(Source);
    InternalSetResultSetFieldSources(Fields);
    const std::vector<Integer> sourceFields = VisibleFieldNos(Source);
    std::vector<Integer> targetFields;
    for (int i = 0; i < Fields->Count(); ++i)
        targetFields.push_back(Fields->Items(i)->SourceFieldNo);

    // A result table takes the widest string and numeric type of the parts
    // it collects, so that no value is cut.
    if (FIsResultTable && WidenForSource(Source, sourceFields, targetFields)) {
        RebuildWithDefinitions();
        InternalSetResultSetFieldSources(Fields);
        targetFields.clear();
        for (int i = 0; i < Fields->Count(); ++i)
            targetFields.push_back(Fields->Items(i)->SourceFieldNo);
    }

    const bool distinct = Distinct && HasIndexDef(ResultDistinctIndexName);
    const std::size_t columns = std::min(sourceFields.size(), targetFields.size());
    std::vector<bool> sameType(columns, false);
    for (std::size_t i = 0; i < columns; ++i) {
        if (targetFields[i] < 0)
            continue;
        const TFieldType from = Source->GetInternalFields()->GetField(sourceFields[i])->DataType();
        const TFieldType to = GetInternalFields()->GetField(targetFields[i])->DataType();
        sameType[i] = from == to;
    }
    for (bool more = Source->DataSetFirst(); more; more = Source->DataSetNext()) {
        ClearRecord(CurrentBuffer());
        for (std::size_t i = 0; i < columns; ++i) {
            const Integer target = targetFields[i];
            if (target < 0)
                continue;
            const Integer source = sourceFields[i];
            if (sameType[i] && !Source->IsFieldBlob(source)) {
                bool isNull = true;
                Integer length = 0;
                const Byte* data = nullptr;
                Source->DataSetGetFieldDataByReference(Source->CurrentBuffer(), source, length, data, isNull);
                FHolder.IsNull = isNull;
                FHolder.Length = isNull ? 0 : length;
                FHolder.Data = data;
                FHolder.UsesStream = false;
                StoreRawValue(target, FHolder);
            } else if (Source->IsFieldBlob(source)) {
                TMemoryStream* stream = FHolder.Stream();
                stream->Clear();
                bool isNull = true;
                Source->DataSetGetFieldStream(source, isNull, stream);
                stream->Seek(0, soBeginning);
                FHolder.IsNull = isNull;
                FHolder.Length = static_cast<Integer>(stream->Size());
                FHolder.Data = nullptr;
                FHolder.UsesStream = true;
                StoreRawValue(target, FHolder);
            } else {
                StoreVariant(target, Source->DataSetGetFieldDataAsVariant(source));
            }
        }
        if (distinct && Find(stEQ, ResultDistinctIndexName, FLimitedSearch.get()))
            continue;
        AddRecordAssigningAutoInc();
        ++FRowsAffected;
    }
    if (FIsResultTable)
        PresentByOrderIndex();
}

void TVekQueryDataset::DeleteData(bool DeleteAll, std::vector<Cardinal>& List)
{
    TOpenScope open(this);
    if (DeleteAll) {
        List.clear();
        for (bool more = DataSetFirst(); more; more = DataSetNext())
            List.push_back(DatasetGetRecAddr());
    }
    FRowsAffected = 0;
    for (Cardinal address : List) {
        DataSetSetToUnorderedRecord(address);
        DeleteRecord(CurrentBuffer());
        ++FRowsAffected;
    }
}

void TVekQueryDataset::UpdateData(bool UpdateAll, std::vector<Cardinal>& List, TVekUpdateRowConstructor* Assignments)
{
    TOpenScope open(this);
    FRowsAffected = 0;
    for (int i = 0; i < Assignments->Count(); ++i) {
        TVekUpdateRowConstructorElement* element = Assignments->GetItems(i);
        element->SetTargetColumnIndex(GetFieldNo(element->TargetColumnName()));
    }
    // The records are listed before the first write: a changed key never
    // makes the walk skip or revisit a record.
    std::vector<Cardinal> all;
    if (UpdateAll)
        for (bool more = DataSetFirst(); more; more = DataSetNext())
            all.push_back(DatasetGetRecAddr());
    for (Cardinal address : UpdateAll ? all : List) {
        SetToRecord(address, nullptr, false, false);
        UpdateCurrentRecord(Assignments);
        ++FRowsAffected;
    }
}

void TVekQueryDataset::UpdateCurrentRecord(TVekUpdateRowConstructor* Assignments)
{
    TOpenScope open(this);
    // Every right-hand side reads the record as it was: all are evaluated
    // before the first is stored ("SET a = b, b = a" swaps).
    std::vector<Variant> values;
    values.reserve(static_cast<std::size_t>(Assignments->Count()));
    for (int i = 0; i < Assignments->Count(); ++i)
        values.push_back(Assignments->GetItems(i)->GetRowData());
    BeginEditCopy();
    try {
        for (int i = 0; i < Assignments->Count(); ++i) {
            TVekUpdateRowConstructorElement* element = Assignments->GetItems(i);
            Integer target = element->TargetColumnIndex();
            if (target < 0)
                target = GetFieldNo(element->TargetColumnName());
            if (target < 0)
                continue;
            SetResultSetFieldFromVariant(target, values[static_cast<std::size_t>(i)]);
        }
        UpdateRecord();
    } catch (...) {
        EndEditCopy();
        throw;
    }
}

} // namespace orvex
