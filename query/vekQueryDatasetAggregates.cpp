// Aggregates and grouping: the accumulators and the grouped result.

#include "query/vekQueryDataset.h"

#include "host/SysUtils.h"

#include <cstdint>
#include <cstring>
#include <unordered_map>
#include <vector>

namespace orvex {

namespace {

bool IsStringType(TFieldType Type)
{
    return Type == ftString || Type == ftWideString || Type == ftFixedChar;
}

bool IsTemporalType(TFieldType Type)
{
    return Type == ftDate || Type == ftTime || Type == ftDateTime;
}

bool IsTextValue(const Variant& Value)
{
    return Value.VType() == varString;
}

// The form in which DISTINCT values are told apart: strings by their bytes,
// every other value by its number (an integer and a float of one value are
// one value; -0 and 0 too).
std::string CanonicalDistinctKey(const Variant& Value)
{
    if (IsTextValue(Value))
        return "s" + Value.AsString();
    double number = Value.AsDouble();
    if (number == 0)
        number = 0;
    std::string key(1 + sizeof number, 'n');
    std::memcpy(key.data() + 1, &number, sizeof number);
    return key;
}

} // namespace

// ============================================================ accumulators

TFuncResultItem::TFuncResultItem(TCollection* Collection) : TCollectionItem(Collection) {}
TFuncResultItem::~TFuncResultItem() = default;

void TFuncResultItem::SetNewValue(const Variant& Value)
{
    if (Value.IsNull() || Value.IsEmpty())
        return;
    if (Distinct) {
        if (!FSeen)
            FSeen = std::make_unique<std::unordered_set<std::string>>();
        std::string key;
        try {
            key = CanonicalDistinctKey(Value);
        } catch (const EVariantError&) {
            return;
        }
        if (!FSeen->insert(std::move(key)).second)
            return;
    }
    Fold(Value);
}

void TFuncResultItem::Fold(const Variant& Value)
{
    switch (AggFunc) {
    case vafAvg:
    case vafSum:
        try {
            FValue += Value.AsDouble();
        } catch (const EVariantError&) {
            // A value that is no number takes no part.
            return;
        }
        break;
    case vafMax:
    case vafMin:
        if (FCount == 0) {
            FExtreme = Value;
        } else {
            int order = 0;
            if (IsTextValue(Value) || IsTextValue(FExtreme)) {
                const std::string a = VarToStr(Value);
                const std::string b = VarToStr(FExtreme);
                order = StringCompare ? StringCompare(a.data(), b.data(), static_cast<Integer>(a.size()),
                                                      static_cast<Integer>(b.size()), false, false)
                                      : a.compare(b);
            } else {
                const double a = Value.AsDouble();
                const double b = FExtreme.AsDouble();
                order = a < b ? -1 : (a > b ? 1 : 0);
            }
            if ((AggFunc == vafMax && order > 0) || (AggFunc == vafMin && order < 0))
                FExtreme = Value;
        }
        break;
    default:
        break;
    }
    ++FCount;
}

Variant TFuncResultItem::CalculateNumericFuncResult() const
{
    switch (AggFunc) {
    case vafCount:
        return Variant(static_cast<int>(FCount));
    case vafAvg:
        return Variant(FCount == 0 ? 0.0 : FValue / static_cast<double>(FCount));
    case vafSum:
        return Variant(FValue);
    case vafMax:
    case vafMin:
        if (FCount > 0)
            return FExtreme;
        // Over no values a number is 0; a string or a date has none.
        if (IsStringType(DataType) || IsTemporalType(DataType))
            return Variant::Null();
        return Variant(0);
    default:
        return Variant(0);
    }
}

TFuncResultHolder::TFuncResultHolder() : TCollection(ItemClassOf<TFuncResultItem>()) {}
TFuncResultHolder::~TFuncResultHolder() = default;

TFuncResultItem* TFuncResultHolder::AddNewResultItem(const std::string& Qualifier, Integer ColumnNo, bool Distinct,
                                                     TVekSQLAggFunc AggFunc, TFieldType DataType, Integer Size)
{
    auto* item = static_cast<TFuncResultItem*>(Add());
    item->ColumnNo = ColumnNo;
    item->AggFunc = AggFunc;
    item->Distinct = Distinct;
    item->CustomQualifier = Qualifier;
    item->DataType = DataType;
    item->DataSize = Size;
    FByColumn[ColumnNo] = item;
    return item;
}

TFuncResultItem* TFuncResultHolder::FindFuncResultItem(Integer ColumnNo) const
{
    // The accumulators of a group row are registered in the order of their
    // numbers, so the number is usually the position.
    if (ColumnNo >= 0 && ColumnNo < Count() && Item(ColumnNo)->ColumnNo == ColumnNo)
        return Item(ColumnNo);
    const auto found = FByColumn.find(ColumnNo);
    return found == FByColumn.end() ? nullptr : found->second;
}

TFuncResultList::TFuncResultList() = default;
TFuncResultList::~TFuncResultList() = default;

TFuncResultItem* TFuncResultList::AddNewResultItem(const std::string& Qualifier, Cardinal RecordAddress,
                                                   bool Distinct, TVekSQLAggFunc AggFunc, TFieldType DataType,
                                                   Integer Size, Integer ColumnNo)
{
    auto& holder = FHolders[RecordAddress];
    if (!holder) {
        holder = std::make_unique<TFuncResultHolder>();
        holder->RecordAddress = RecordAddress;
        holder->BaseName = BaseName + IntToStr(static_cast<long long>(RecordAddress));
    }
    return holder->AddNewResultItem(Qualifier, ColumnNo, Distinct, AggFunc, DataType, Size);
}

TFuncResultHolder* TFuncResultList::GetHolder(Cardinal RecordAddress) const
{
    const auto found = FHolders.find(RecordAddress);
    return found == FHolders.end() ? nullptr : found->second.get();
}

TFuncResultItem* TFuncResultList::FindFuncResultItem(Cardinal RecordAddress, Integer ColumnNo) const
{
    TFuncResultHolder* holder = GetHolder(RecordAddress);
    TFuncResultItem* item = holder ? holder->FindFuncResultItem(ColumnNo) : nullptr;
    ORVEX_ASSERT(item != nullptr, "FindFuncResultItem failed");
    return item;
}

void TFuncResultList::SetNewValue(Cardinal RecordAddress, Integer ColumnNo, const Variant& Value)
{
    FindFuncResultItem(RecordAddress, ColumnNo)->SetNewValue(Value);
}

Variant TFuncResultList::GetFuncResult(Cardinal RecordAddress, Integer ColumnNo) const
{
    return FindFuncResultItem(RecordAddress, ColumnNo)->CalculateNumericFuncResult();
}

std::vector<Cardinal> TFuncResultList::RecordAddresses() const
{
    std::vector<Cardinal> addresses;
    addresses.reserve(FHolders.size());
    for (const auto& [address, holder] : FHolders)
        addresses.push_back(address);
    return addresses;
}

void TFuncResultList::Clear()
{
    FHolders.clear();
}

// ============================================================ grouped result

bool TVekQueryDataset::IsSimpleCount(TResultSetFields* Fields) const
{
    if (!FSimpleCountEnabled || Fields->Count() != 1 || !FProviderMgr || FProviderMgr->ResidualRoot())
        return false;
    TResultSetField* column = Fields->Items(0);
    if (!column->IsAggregate() || column->FinalEvaluator() || column->AggregateParts().size() != 1)
        return false;
    const TResultAggregatePart& part = *column->AggregateParts()[0];
    if (part.AggFunc != vafCount || !part.CountRows || part.Distinct)
        return false;
    // The table's count is the answer only when every row counts.
    auto* leaf = dynamic_cast<TVekNonJoinDataProvider*>(FProviderMgr->RootProvider());
    return leaf && !leaf->SelectExpr();
}

void TVekQueryDataset::PopulateAggregateResultSet(TResultSetFields* Fields, bool Grouped)
{
    ORVEX_ASSERT(FProviderMgr != nullptr, "FProviderMgr is not assigned");
    if (Active())
        Close();
    Open();
    FAggFields = Fields;
    FHavingGroupIndex = Grouped && HasIndexDef(ResultGroupByIndexName) ? ResultGroupByIndexName : "";
    if (IsSimpleCount(Fields)) {
        PopulateSimpleCountResultSet();
        return;
    }

    // Every aggregate of every column gets its accumulator number.
    struct TAggColumn {
        TResultSetField* Column;
        Integer FieldNo;
    };
    std::vector<TAggColumn> aggColumns;
    std::vector<std::pair<TResultSetField*, Integer>> groupColumns;
    std::vector<TResultAggregatePart*> parts;
    for (int i = 0; i < Fields->Count(); ++i) {
        TResultSetField* column = Fields->Items(i);
        if (!column->IsAggregate()) {
            groupColumns.emplace_back(column, EngineFieldNo(i));
            continue;
        }
        aggColumns.push_back({column, EngineFieldNo(i)});
        for (auto& part : column->AggregateParts()) {
            part->AccumulatorNo = static_cast<Integer>(parts.size());
            parts.push_back(part.get());
        }
    }

    TFuncResultList results;
    const TDBStringCompare compare = GetDBStringCompare();
    // Each group's accumulators in the order of their numbers, so that a
    // row reaches them without a search.
    std::vector<std::vector<TFuncResultItem*>> groupItems;
    std::unordered_map<Cardinal, std::size_t> groupByAddress;
    auto registerGroup = [&](Cardinal address) {
        std::vector<TFuncResultItem*> items;
        for (TResultAggregatePart* part : parts) {
            TFuncResultItem* item = results.AddNewResultItem(
                std::string(), address, part->Distinct, part->AggFunc, part->ArgType, part->ArgSize,
                part->AccumulatorNo);
            item->StringCompare = compare;
            items.push_back(item);
        }
        groupByAddress.emplace(address, groupItems.size());
        groupItems.push_back(std::move(items));
        return groupItems.size() - 1;
    };

    const bool byGroupIndex = Grouped && HasIndexDef(ResultGroupByIndexName);
    const std::string groupIndex = byGroupIndex ? std::string(ResultGroupByIndexName) : CurrentIndexName();
    // Rows find their group by the bytes of their group values first: equal
    // bytes are one group. Values of one group whose bytes differ (-0 and 0;
    // strings a collation makes equal) miss here, find their group through
    // the index, and their bytes then lead to it too.
    std::vector<Integer> groupFieldNos;
    for (const auto& [column, fieldNo] : groupColumns)
        groupFieldNos.push_back(fieldNo);
    std::unordered_map<std::string, std::size_t> groupByBytes;
    std::string groupKey;
    Integer groups = 0;
    std::size_t group = 0;
    if (!Grouped) {
        ClearRecord(CurrentBuffer());
        AddRecord(false);
        group = registerGroup(DatasetGetRecAddr());
        groups = 1;
    }
    for (bool more = FProviderMgr->FirstProviderRecord(); more; more = FProviderMgr->NextProviderRecord()) {
        if (Grouped) {
            ClearRecord(CurrentBuffer());
            for (const auto& [column, fieldNo] : groupColumns)
                StoreColumnValue(column, fieldNo);
            bool known = false;
            const bool hashGroups = CurrentValueBytes(groupFieldNos, groupKey);
            if (hashGroups) {
                const auto found = groupByBytes.find(groupKey);
                if (found != groupByBytes.end()) {
                    group = found->second;
                    known = true;
                }
            }
            if (!known) {
                if (Find(stEQ, groupIndex, FLimitedSearch.get())) {
                    const auto found = groupByAddress.find(DatasetGetRecAddr());
                    ORVEX_ASSERT(found != groupByAddress.end(), "FindFuncResultItem failed");
                    group = found->second;
                } else {
                    ++groups;
                    // Checked as each group appears: a result never holds more
                    // groups than MaxRecords.
                    if (FMaxRecords > 0 && groups > FMaxRecords)
                        VekDatabaseErrorFmt(9645, "TVekQueryDataset", "Result set limit of %d has been exceeded",
                                            {FMaxRecords}, this);
                    AddRecord(false);
                    group = registerGroup(DatasetGetRecAddr());
                }
                if (hashGroups)
                    groupByBytes.emplace(groupKey, group);
            }
        }
        const std::vector<TFuncResultItem*>& items = groupItems[group];
        for (TResultAggregatePart* part : parts) {
            TFuncResultItem* item = items[static_cast<std::size_t>(part->AccumulatorNo)];
            if (part->CountRows) {
                item->SetNewValue(Variant(1));
            } else {
                part->ArgEvaluator->Reset();
                item->SetNewValue(part->ArgEvaluator->EvaluateValueExpr());
            }
        }
    }

    // Each group row's aggregate columns.
    for (Cardinal address : results.RecordAddresses()) {
        TFuncResultHolder* group = results.GetHolder(address);
        DataSetSetToUnorderedRecord(address);
        BeginEditCopy();
        try {
            for (const TAggColumn& agg : aggColumns) {
                auto& columnParts = agg.Column->AggregateParts();
                Variant value;
                if (TExprEvaluator* final = agg.Column->FinalEvaluator()) {
                    for (auto& part : columnParts)
                        part->Node->SetData(group->FindFuncResultItem(part->AccumulatorNo)->CalculateNumericFuncResult());
                    final->Reset();
                    value = final->EvaluateValueExpr();
                } else {
                    value = group->FindFuncResultItem(columnParts[0]->AccumulatorNo)->CalculateNumericFuncResult();
                }
                StoreVariant(agg.FieldNo, value);
            }
            UpdateRecord();
        } catch (...) {
            EndEditCopy();
            throw;
        }
    }
    if (byGroupIndex)
        InternalSetIndexName(ResultGroupByIndexName);
    PresentByOrderIndex();
    FRowsAffected = GetTotalRecordCount();
    First();
}

} // namespace orvex
