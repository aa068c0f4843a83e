// Aggregates and grouping: the accumulators and the grouped result.

#include "query/vekQueryDataset.h"

#include "dataset/vekDatabase.h"
#include "host/SysUtils.h"
#include "storage/vekByteOrder.h"

#include <algorithm>
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

// ============================================================ group accumulators

namespace {

// The running state of one aggregate of one group: the sum of AVG and SUM
// (or the MIN/MAX value when it is a plain number, its bits in Value and
// its variant type in Type) and the number of values taken.
struct TAggState {
    double Value = 0;
    Int64 Count = 0;
    TVarType Type = varEmpty;
};

// The bytes of a value in a row kept for a later grouping pass: its
// variant type, then its payload (none for NULL, 4 for the small integers,
// 8 for doubles, dates and currency, 1 for a Boolean, a 4-byte length and
// the bytes for a string). False for a value of any other type.
bool EncodeValue(const Variant& Value, std::string& Out)
{
    const TVarType type = Value.VType();
    Out.append(reinterpret_cast<const char*>(&type), sizeof type);
    switch (type) {
    case varEmpty:
    case varNull:
        return true;
    case varSmallint:
    case varByte:
    case varInteger: {
        const std::int32_t number = Value.AsInteger();
        Out.append(reinterpret_cast<const char*>(&number), sizeof number);
        return true;
    }
    case varDouble:
    case varDate: {
        const double number = Value.AsDouble();
        Out.append(reinterpret_cast<const char*>(&number), sizeof number);
        return true;
    }
    case varCurrency: {
        const Int64 units = Value.AsCurrency().Value;
        Out.append(reinterpret_cast<const char*>(&units), sizeof units);
        return true;
    }
    case varBoolean:
        Out.push_back(Value.AsBoolean() ? '\1' : '\0');
        return true;
    case varString: {
        const std::string text = Value.AsString();
        const auto length = static_cast<std::uint32_t>(text.size());
        Out.append(reinterpret_cast<const char*>(&length), sizeof length);
        Out.append(text);
        return true;
    }
    default:
        return false;
    }
}

// The value EncodeValue wrote at In (of End), In moved past it.
Variant DecodeValue(const Byte*& In, const Byte* End)
{
    auto take = [&](void* To, std::size_t Size) {
        ORVEX_ASSERT(static_cast<std::size_t>(End - In) >= Size, "grouping pass row");
        std::memcpy(To, In, Size);
        In += Size;
    };
    TVarType type = varEmpty;
    take(&type, sizeof type);
    switch (type) {
    case varNull:
        return Variant::Null();
    case varSmallint:
    case varByte:
    case varInteger: {
        std::int32_t number = 0;
        take(&number, sizeof number);
        if (type == varSmallint)
            return Variant::FromSmallint(static_cast<std::int16_t>(number));
        if (type == varByte)
            return Variant::FromByte(static_cast<std::uint8_t>(number));
        return Variant(static_cast<int>(number));
    }
    case varDouble:
    case varDate: {
        double number = 0;
        take(&number, sizeof number);
        return type == varDate ? Variant::FromDate(number) : Variant(number);
    }
    case varCurrency: {
        Int64 units = 0;
        take(&units, sizeof units);
        return Variant(Currency{units});
    }
    case varBoolean: {
        Byte flag = 0;
        take(&flag, 1);
        return Variant(flag != 0);
    }
    case varString: {
        std::uint32_t length = 0;
        take(&length, sizeof length);
        std::string text(length, '\0');
        take(text.data(), length);
        return Variant(std::move(text));
    }
    default:
        return Variant();
    }
}

} // namespace

// The accumulators of every group of a grouped SELECT, compact and typed:
// one state per aggregate per group in one array. MIN/MAX values that are
// no plain number (strings) and the values taken by DISTINCT aggregates are
// kept beside it.
class TGroupAccumulators {
public:
    TGroupAccumulators(const std::vector<TResultAggregatePart*>& Parts, TDBStringCompare Compare)
        : FParts(Parts), FCompare(Compare)
    {
        for (const TResultAggregatePart* part : Parts)
            FHasDistinct = FHasDistinct || part->Distinct;
    }

    std::size_t PartCount() const { return FParts.size(); }
    bool HasDistinct() const { return FHasDistinct; }

    std::size_t AddGroup()
    {
        const std::size_t group = FStates.size() / std::max<std::size_t>(FParts.size(), 1);
        FStates.resize(FStates.size() + std::max<std::size_t>(FParts.size(), 1));
        if (FHasDistinct)
            FSeen.resize(FStates.size());
        return group;
    }

    // The memory one more group takes here.
    std::size_t GroupBytes() const
    {
        return std::max<std::size_t>(FParts.size(), 1) * (sizeof(TAggState) + (FHasDistinct ? sizeof(void*) : 0));
    }

    // Counts one row (COUNT(*)).
    void CountRow(std::size_t Group, std::size_t Part) { ++FStates[Index(Group, Part)].Count; }

    // Takes a value as TFuncResultItem::SetNewValue does.
    void Take(std::size_t Group, std::size_t Part, const Variant& Value)
    {
        if (Value.IsNull() || Value.IsEmpty())
            return;
        const std::size_t index = Index(Group, Part);
        const TResultAggregatePart& part = *FParts[Part];
        if (part.Distinct) {
            auto& seen = FSeen[index];
            if (!seen)
                seen = std::make_unique<std::unordered_set<std::string>>();
            std::string key;
            try {
                key = CanonicalDistinctKey(Value);
            } catch (const EVariantError&) {
                return;
            }
            if (!seen->insert(std::move(key)).second)
                return;
        }
        TAggState& state = FStates[index];
        switch (part.AggFunc) {
        case vafAvg:
        case vafSum:
            try {
                state.Value += Value.AsDouble();
            } catch (const EVariantError&) {
                // A value that is no number takes no part.
                return;
            }
            break;
        case vafMax:
        case vafMin:
            if (state.Count == 0) {
                SetExtreme(index, Value);
            } else if (Value.VType() == varDouble && state.Type == varDouble) {
                // Two floats (the common case): compared in place.
                const double a = Value.AsDouble();
                if (part.AggFunc == vafMax ? a > state.Value : a < state.Value)
                    state.Value = a;
            } else if (Better(part.AggFunc, Value, Extreme(index))) {
                SetExtreme(index, Value);
            }
            break;
        default:
            break;
        }
        ++state.Count;
    }

    // The value of the aggregate, as TFuncResultItem::CalculateNumericFuncResult.
    Variant Result(std::size_t Group, std::size_t Part) const
    {
        const std::size_t index = Index(Group, Part);
        const TAggState& state = FStates[index];
        const TResultAggregatePart& part = *FParts[Part];
        switch (part.AggFunc) {
        case vafCount:
            return Variant(static_cast<int>(state.Count));
        case vafAvg:
            return Variant(state.Count == 0 ? 0.0 : state.Value / static_cast<double>(state.Count));
        case vafSum:
            return Variant(state.Value);
        case vafMax:
        case vafMin:
            if (state.Count > 0)
                return Extreme(index);
            // Over no values a number is 0; a string or a date has none.
            if (IsStringType(part.ArgType) || IsTemporalType(part.ArgType))
                return Variant::Null();
            return Variant(0);
        default:
            return Variant(0);
        }
    }

    // No groups.
    void Clear()
    {
        FStates.clear();
        FBoxed.clear();
        FSeen.clear();
    }

private:
    std::size_t Index(std::size_t Group, std::size_t Part) const { return Group * FParts.size() + Part; }

    // Whether Value goes before (MIN) or after (MAX) the current extreme.
    bool Better(TVekSQLAggFunc AggFunc, const Variant& Value, const Variant& Current) const
    {
        int order = 0;
        if (IsTextValue(Value) || IsTextValue(Current)) {
            const std::string a = VarToStr(Value);
            const std::string b = VarToStr(Current);
            order = FCompare ? FCompare(a.data(), b.data(), static_cast<Integer>(a.size()),
                                        static_cast<Integer>(b.size()), false, false)
                             : a.compare(b);
        } else {
            const double a = Value.AsDouble();
            const double b = Current.AsDouble();
            order = a < b ? -1 : (a > b ? 1 : 0);
        }
        return (AggFunc == vafMax && order > 0) || (AggFunc == vafMin && order < 0);
    }

    Variant Extreme(std::size_t Index) const
    {
        if (!FBoxed.empty())
            if (const auto boxed = FBoxed.find(Index); boxed != FBoxed.end())
                return boxed->second;
        const TAggState& state = FStates[Index];
        Int64 bits = 0;
        std::memcpy(&bits, &state.Value, 8);
        switch (state.Type) {
        case varSmallint:
            return Variant::FromSmallint(static_cast<std::int16_t>(bits));
        case varByte:
            return Variant::FromByte(static_cast<std::uint8_t>(bits));
        case varInteger:
            return Variant(static_cast<int>(bits));
        case varDouble:
            return Variant(state.Value);
        case varDate:
            return Variant::FromDate(state.Value);
        case varCurrency:
            return Variant(Currency{bits});
        case varBoolean:
            return Variant(bits != 0);
        default:
            return Variant();
        }
    }

    void SetExtreme(std::size_t Index, const Variant& Value)
    {
        TAggState& state = FStates[Index];
        Int64 bits = 0;
        switch (Value.VType()) {
        case varSmallint:
        case varByte:
        case varInteger:
            bits = Value.AsInteger();
            break;
        case varDouble:
        case varDate: {
            const double number = Value.AsDouble();
            std::memcpy(&bits, &number, 8);
            break;
        }
        case varCurrency:
            bits = Value.AsCurrency().Value;
            break;
        case varBoolean:
            bits = Value.AsBoolean() ? 1 : 0;
            break;
        default:
            // Strings and anything else are kept whole.
            FBoxed[Index] = Value;
            state.Type = Value.VType();
            return;
        }
        if (!FBoxed.empty())
            FBoxed.erase(Index);
        std::memcpy(&state.Value, &bits, 8);
        state.Type = Value.VType();
    }

    const std::vector<TResultAggregatePart*>& FParts;
    TDBStringCompare FCompare;
    bool FHasDistinct = false;
    std::vector<TAggState> FStates;
    std::unordered_map<std::size_t, Variant> FBoxed;
    std::vector<std::unique_ptr<std::unordered_set<std::string>>> FSeen;
};

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

    const TDBStringCompare compare = GetDBStringCompare();
    TGroupAccumulators accumulators(parts, compare);
    // The order index is built from the finished group rows.
    TOrderIndexBuild order(this);

    const bool byGroupIndex = Grouped && HasIndexDef(ResultGroupByIndexName);
    const std::string groupIndex = byGroupIndex ? std::string(ResultGroupByIndexName) : CurrentIndexName();
    // Rows find their group by the bytes of their group values first: equal
    // bytes are one group. Where values of one group can have other bytes
    // (-0 and 0; strings a collation makes equal) a row whose bytes miss
    // looks for its group in the index, and its bytes then lead to it too;
    // where they cannot (integers), bytes that miss are a new group.
    std::vector<Integer> groupFieldNos;
    bool bytesDecide = byGroupIndex;
    bool blobGroups = false;
    for (const auto& [column, fieldNo] : groupColumns) {
        groupFieldNos.push_back(fieldNo);
        switch (GetInternalFields()->GetField(fieldNo)->DataType()) {
        case ftSmallint:
        case ftWord:
        case ftInteger:
        case ftAutoInc:
            break;
        default:
            bytesDecide = false;
        }
        blobGroups = blobGroups || IsFieldBlob(fieldNo);
    }
    TGroupKeyHash groupByBytes;
    // The groups in memory: their rows' addresses and accumulators.
    std::unordered_map<Cardinal, std::uint32_t> groupByAddress;

    // The accumulators and the two lookups above take at most half the
    // connection's result memory budget. Past it, a result kept in the
    // temporary database sets the rows of the groups not in memory aside
    // (their group values and their aggregates' arguments, in a spill file)
    // and groups them in later passes, once the groups in memory are
    // finished, each pass taking the groups that fit. A group is in memory
    // for the one pass that sees all its rows: a row set aside belongs to a
    // group that has no group row yet. A statement with DISTINCT aggregates
    // or blob group values keeps every group in memory.
    const TVekDataBase* statementDb = FProviderMgr->Database();
    const std::size_t memoryLimit =
        statementDb ? static_cast<std::size_t>(std::max<Int64>(statementDb->ResultMemoryBudget(), 0)) / 2 : 0;
    std::size_t memoryUsed = 0;
    // The bytes of one entry of the lookups: the node, its bucket and the
    // allocator's overhead.
    constexpr std::size_t EntryBytes = 48;
    const bool canSpill = Grouped && DataBase() && DataBase()->IsTemporaryDatabase() &&
                          !accumulators.HasDistinct() && !blobGroups;
    std::unique_ptr<TSpillFile> spill;

    FSpilledGroups = 0;
    std::string groupKey;
    Integer groups = 0;
    std::size_t group = 0;
    auto addMemoryGroup = [&](Cardinal address) {
        const std::size_t added = accumulators.AddGroup();
        groupByAddress.emplace(address, static_cast<std::uint32_t>(added));
        memoryUsed += accumulators.GroupBytes() + EntryBytes;
        return added;
    };
    if (!Grouped) {
        ClearRecord(CurrentBuffer());
        AddRecord(false);
        group = addMemoryGroup(DatasetGetRecAddr());
        groups = 1;
    }

    // The current row's argument values when it was set aside (read back
    // with it); else each is evaluated as it is taken.
    std::vector<Variant> values(parts.size());
    bool haveValues = false;
    bool fromSpill = false;
    auto valueOf = [&](TResultAggregatePart* part) -> Variant {
        if (haveValues)
            return values[static_cast<std::size_t>(part->AccumulatorNo)];
        part->ArgEvaluator->Reset();
        return part->ArgEvaluator->EvaluateValueExpr();
    };
    // A row set aside: its length, then each group value (a null flag, its
    // length and bytes), then each argument value (EncodeValue).
    std::string aside;
    auto setAside = [&]() {
        aside.assign(4, '\0');
        for (const Integer fieldNo : groupFieldNos) {
            Integer length = 0;
            const Byte* data = nullptr;
            bool isNull = true;
            DataSetGetFieldDataByReference(CurrentBuffer(), fieldNo, length, data, isNull);
            aside.push_back(isNull ? '\0' : '\1');
            if (isNull)
                continue;
            const auto size = static_cast<std::uint32_t>(std::max<Integer>(length, 0));
            aside.append(reinterpret_cast<const char*>(&size), sizeof size);
            aside.append(reinterpret_cast<const char*>(data), size);
        }
        for (TResultAggregatePart* part : parts) {
            if (part->CountRows)
                continue;
            if (!EncodeValue(valueOf(part), aside))
                VekDatabaseError(8581, "TVekQueryDataset.PopulateAggregateResultSet",
                                 "A value of this type cannot be set aside for grouping", this);
        }
        const auto length = static_cast<std::uint32_t>(aside.size() - 4);
        std::memcpy(aside.data(), &length, sizeof length);
        if (!spill)
            spill = std::make_unique<TSpillFile>(ExtractFilePath(DataBase()->Directory() + DataBase()->DataBaseName()),
                                                 TVekDataBase::TemporaryFilePrefix, TVekDataBase::TemporaryFileExt,
                                                 this);
        spill->Append(aside.data(), aside.size());
    };
    // The row at In (Length bytes) set aside: its group values into the
    // record buffer, its argument values into values.
    auto restoreRow = [&](const Byte* In, std::size_t Length) {
        const Byte* end = In + Length;
        ClearRecord(CurrentBuffer());
        for (const Integer fieldNo : groupFieldNos) {
            ORVEX_ASSERT(In < end, "grouping pass row");
            if (*In++ == 0) {
                DataSetSetFieldData(fieldNo, 0, true, nullptr);
                continue;
            }
            std::uint32_t size = 0;
            ORVEX_ASSERT(static_cast<std::size_t>(end - In) >= sizeof size, "grouping pass row");
            std::memcpy(&size, In, sizeof size);
            In += sizeof size;
            ORVEX_ASSERT(static_cast<std::size_t>(end - In) >= size, "grouping pass row");
            DataSetSetFieldData(fieldNo, static_cast<Integer>(size), false, In);
            In += size;
        }
        for (TResultAggregatePart* part : parts)
            if (!part->CountRows)
                values[static_cast<std::size_t>(part->AccumulatorNo)] = DecodeValue(In, end);
    };

    // Takes the current row: its group values in the record buffer.
    auto takeRow = [&]() {
        haveValues = fromSpill;
        if (Grouped) {
            bool known = false;
            const bool hashGroups = CurrentValueBytes(groupFieldNos, groupKey);
            if (hashGroups) {
                const std::int64_t found = groupByBytes.Find(groupKey);
                if (found >= 0) {
                    group = static_cast<std::size_t>(found);
                    known = true;
                }
            }
            if (!known) {
                bool isNew = true;
                if (!(hashGroups && bytesDecide) && Find(stEQ, groupIndex, FLimitedSearch.get())) {
                    const auto found = groupByAddress.find(DatasetGetRecAddr());
                    ORVEX_ASSERT(found != groupByAddress.end(), "FindFuncResultItem failed");
                    group = found->second;
                    isNew = false;
                }
                if (isNew) {
                    if (canSpill && memoryUsed >= memoryLimit) {
                        setAside();
                        return;
                    }
                    ++groups;
                    // Checked as each group appears: a result never holds more
                    // groups than MaxRecords.
                    if (FMaxRecords > 0 && groups > FMaxRecords)
                        VekDatabaseErrorFmt(9645, "TVekQueryDataset", "Result set limit of %d has been exceeded",
                                            {FMaxRecords}, this);
                    AddRecord(false);
                    group = addMemoryGroup(DatasetGetRecAddr());
                    if (fromSpill)
                        ++FSpilledGroups;
                }
                // Every group in memory is found by its bytes; other bytes
                // of it while the budget lasts.
                if (hashGroups && (isNew || memoryUsed < memoryLimit)) {
                    groupByBytes.Add(groupKey, static_cast<std::uint32_t>(group));
                    memoryUsed += TGroupKeyHash::EntryBytes(groupKey.size());
                }
            }
        }
        for (TResultAggregatePart* part : parts) {
            const auto no = static_cast<std::size_t>(part->AccumulatorNo);
            if (part->CountRows)
                accumulators.CountRow(group, no);
            else
                accumulators.Take(group, no, valueOf(part));
        }
    };

    // Each group row's aggregate columns.
    auto finishGroup = [&](Cardinal address, std::size_t from) {
        DataSetSetToUnorderedRecord(address);
        BeginEditCopy();
        try {
            for (const TAggColumn& agg : aggColumns) {
                auto& columnParts = agg.Column->AggregateParts();
                Variant value;
                if (TExprEvaluator* final = agg.Column->FinalEvaluator()) {
                    for (auto& part : columnParts)
                        part->Node->SetData(accumulators.Result(from, static_cast<std::size_t>(part->AccumulatorNo)));
                    final->Reset();
                    value = final->EvaluateValueExpr();
                } else {
                    value = accumulators.Result(from, static_cast<std::size_t>(columnParts[0]->AccumulatorNo));
                }
                StoreVariant(agg.FieldNo, value);
            }
            UpdateRecord();
        } catch (...) {
            EndEditCopy();
            throw;
        }
        order.Add(address);
    };
    // The groups in memory, in the order of their rows' addresses, so that
    // the group rows are read and written page after page, not in the
    // lookup's hash order; then memory is free for the next pass.
    auto finishPass = [&] {
        std::vector<std::pair<Cardinal, std::uint32_t>> memoryGroups(groupByAddress.begin(), groupByAddress.end());
        std::sort(memoryGroups.begin(), memoryGroups.end());
        for (const auto& [address, slot] : memoryGroups)
            finishGroup(address, slot);
        groupByAddress.clear();
        groupByBytes = TGroupKeyHash();
        accumulators.Clear();
        memoryUsed = 0;
    };

    for (bool more = FProviderMgr->FirstProviderRecord(); more; more = FProviderMgr->NextProviderRecord()) {
        if (Grouped) {
            ClearRecord(CurrentBuffer());
            for (const auto& [column, fieldNo] : groupColumns)
                StoreColumnValue(column, fieldNo);
        }
        takeRow();
    }
    finishPass();
    // The passes over the rows set aside: each reads the rows the pass
    // before set aside, and sets aside after them those it has no room for.
    std::int64_t passBegin = 0;
    std::vector<Byte> buffer;
    while (spill && spill->Size() > passBegin) {
        const std::int64_t passEnd = spill->Size();
        fromSpill = true;
        // The pass's rows are read in chunks; a row never spans two.
        std::int64_t at = passBegin;
        std::size_t held = 0;
        std::size_t used = 0;
        while (at < passEnd || used < held) {
            if (held - used < 4 || held - used < 4 + ReadLE32(buffer.data() + used)) {
                // The rest of the chunk moves to the front; more follows it.
                if (used > 0 && used < held)
                    std::memmove(buffer.data(), buffer.data() + used, held - used);
                held -= used;
                used = 0;
                std::size_t want = std::max<std::size_t>(256 * 1024, held >= 4 ? 4 + ReadLE32(buffer.data()) : 0);
                want = std::min<std::size_t>(want - std::min(want, held), static_cast<std::size_t>(passEnd - at));
                ORVEX_ASSERT(want > 0, "grouping pass row");
                buffer.resize(held + want);
                spill->Read(at, buffer.data() + held, want);
                at += static_cast<std::int64_t>(want);
                held += want;
                continue;
            }
            const std::size_t length = ReadLE32(buffer.data() + used);
            restoreRow(buffer.data() + used + 4, length);
            used += 4 + length;
            takeRow();
        }
        finishPass();
        passBegin = passEnd;
    }
    spill.reset();
    order.Finish();
    if (byGroupIndex)
        InternalSetIndexName(ResultGroupByIndexName);
    PresentByOrderIndex();
    FRowsAffected = GetTotalRecordCount();
    First();
}

} // namespace orvex
