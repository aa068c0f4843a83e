// Aggregates and grouping: the accumulators and the grouped result.

#include "query/vekQueryDataset.h"

#include "dataset/vekDatabase.h"
#include "host/SysUtils.h"
#include "storage/vekByteOrder.h"

#include <algorithm>
#include <atomic>
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

// The bytes of one state in a spilled group's record: value, count, type.
constexpr std::size_t StateBytes = 8 + 8 + 2;
// A spilled group's states are split over byte fields of this size.
constexpr Integer SpillFieldBytes = 252;

std::atomic<unsigned> GGroupSpillSerial{0};

} // namespace

// The accumulators of every group of a grouped SELECT, compact and typed:
// one state per aggregate per group in one array. MIN/MAX values that are
// no plain number (strings) and the values taken by DISTINCT aggregates are
// kept beside it. Group 0 is a scratch group through which the states of a
// spilled group (kept in a table of the temporary database) pass.
class TGroupAccumulators {
public:
    TGroupAccumulators(const std::vector<TResultAggregatePart*>& Parts, TDBStringCompare Compare)
        : FParts(Parts), FCompare(Compare)
    {
        for (const TResultAggregatePart* part : Parts)
            FHasDistinct = FHasDistinct || part->Distinct;
        AddGroup(); // the scratch group
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

    // Group's states as bytes (StateBytes each); false when one of them is
    // not a plain number (a string MIN/MAX) or the statement has DISTINCT
    // aggregates, whose values live only here.
    bool Encode(std::size_t Group, std::string& Bytes) const
    {
        if (FHasDistinct)
            return false;
        Bytes.assign(FParts.size() * StateBytes, '\0');
        for (std::size_t part = 0; part < FParts.size(); ++part) {
            const std::size_t index = Index(Group, part);
            if (FBoxed.count(index) != 0)
                return false;
            const TAggState& state = FStates[index];
            char* out = Bytes.data() + part * StateBytes;
            std::memcpy(out, &state.Value, 8);
            std::memcpy(out + 8, &state.Count, 8);
            std::memcpy(out + 16, &state.Type, 2);
        }
        return true;
    }

    // Group's states := Bytes (as Encode made them).
    void Decode(std::size_t Group, const Byte* Bytes)
    {
        for (std::size_t part = 0; part < FParts.size(); ++part) {
            const std::size_t index = Index(Group, part);
            FBoxed.erase(index);
            TAggState& state = FStates[index];
            const Byte* in = Bytes + part * StateBytes;
            std::memcpy(&state.Value, in, 8);
            std::memcpy(&state.Count, in + 8, 8);
            std::memcpy(&state.Type, in + 16, 2);
        }
    }

    // Target's states := Source's.
    void CopyGroup(std::size_t Source, std::size_t Target)
    {
        for (std::size_t part = 0; part < FParts.size(); ++part) {
            const std::size_t from = Index(Source, part);
            const std::size_t to = Index(Target, part);
            FStates[to] = FStates[from];
            FBoxed.erase(to);
            if (const auto boxed = FBoxed.find(from); boxed != FBoxed.end())
                FBoxed.emplace(to, boxed->second);
            if (FHasDistinct && FSeen[from])
                FSeen[to] = std::make_unique<std::unordered_set<std::string>>(*FSeen[from]);
        }
    }

    // Group's states as new.
    void ResetGroup(std::size_t Group)
    {
        for (std::size_t part = 0; part < FParts.size(); ++part) {
            const std::size_t index = Index(Group, part);
            FStates[index] = TAggState{};
            FBoxed.erase(index);
            if (FHasDistinct)
                FSeen[index].reset();
        }
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

// The accumulator states of the groups that did not fit the result memory
// budget: one record per group row (its address and its states as bytes)
// in a table of the connection's temporary database, indexed on the
// address. The table is dropped with the store.
class TGroupSpill {
public:
    TGroupSpill(TVekDataBase* Temporary, std::size_t StateSize) : FDataBase(Temporary), FStateSize(StateSize)
    {
        FTableName = "groupacc_" + std::to_string(GGroupSpillSerial.fetch_add(1));
        FTable = std::make_unique<TVekDatasetBridge>(nullptr);
        FTable->SetDataBase(FDataBase);
        FTable->SetTableName(FTableName);
        FTable->FieldDefs()->Add("A", ftInteger, 0, true);
        for (std::size_t done = 0, n = 0; done < std::max<std::size_t>(StateSize, 1); done += SpillFieldBytes, ++n)
            FTable->FieldDefs()->Add("S" + std::to_string(n), ftBytes, SpillFieldBytes, false);
        FTable->IndexDefs()->Add("ixA", "A", ixUnique);
        FTable->CreateTable();
        try {
            FTable->SetInQuery(true);
            FTable->DataSetOpen();
            FAddressField = FTable->GetFieldNo("A");
            for (std::size_t n = 1; n < static_cast<std::size_t>(FTable->FieldDefs()->Count()); ++n)
                FStateFields.push_back(FTable->GetFieldNo("S" + std::to_string(n - 1)));
        } catch (...) {
            Drop();
            throw;
        }
        FBuffer.resize(FStateFields.size() * SpillFieldBytes, '\0');
    }
    ~TGroupSpill()
    {
        try {
            Drop();
        } catch (...) {
            // The table goes with the temporary database at the latest.
        }
    }
    TGroupSpill(const TGroupSpill&) = delete;
    TGroupSpill& operator=(const TGroupSpill&) = delete;

    void Add(Cardinal Address, const std::string& State)
    {
        FTable->ClearRecord(FTable->CurrentBuffer());
        Byte address[4];
        WriteLE32(address, Address);
        FTable->DataSetSetFieldData(FAddressField, 4, false, address);
        PutState(State);
        FTable->AddRecord(false);
    }

    // The states of the group row at Address (the record becomes current);
    // nullptr when it has none here.
    const Byte* Load(Cardinal Address)
    {
        const Variant key(static_cast<Integer>(Address));
        FTable->SetBridgeIndexRange("ixA", key, key);
        if (!FTable->FirstBridgeRecord())
            return nullptr;
        return CurrentState();
    }

    // The current record's states := State.
    void Save(const std::string& State)
    {
        FTable->BeginEditCopy();
        try {
            PutState(State);
            FTable->UpdateRecord();
        } catch (...) {
            FTable->EndEditCopy();
            throw;
        }
        FTable->EndEditCopy();
    }

    // Calls Each(address, states) for every group here.
    template <class F>
    void ForEach(F&& Each)
    {
        FTable->ClearBridgeRange();
        TDataHolder holder;
        for (bool more = FTable->FirstBridgeRecord(); more; more = FTable->NextBridgeRecord()) {
            FTable->GetRawFieldData(FAddressField, holder);
            if (holder.IsNull || !holder.Data || holder.Length < 4)
                continue;
            const Cardinal address = ReadLE32(holder.Data);
            Each(address, CurrentState());
        }
    }

private:
    void PutState(const std::string& State)
    {
        ORVEX_ASSERT(State.size() == FStateSize, "group state size");
        std::fill(FBuffer.begin(), FBuffer.end(), '\0');
        std::memcpy(FBuffer.data(), State.data(), State.size());
        for (std::size_t n = 0; n < FStateFields.size(); ++n)
            FTable->DataSetSetFieldData(FStateFields[n], SpillFieldBytes, false,
                                        FBuffer.data() + n * SpillFieldBytes);
    }

    const Byte* CurrentState()
    {
        TDataHolder holder;
        for (std::size_t n = 0; n < FStateFields.size(); ++n) {
            FTable->GetRawFieldData(FStateFields[n], holder);
            char* out = FBuffer.data() + n * SpillFieldBytes;
            std::fill(out, out + SpillFieldBytes, '\0');
            if (!holder.IsNull && holder.Data && holder.Length > 0)
                std::memcpy(out, holder.Data, std::min<std::size_t>(static_cast<std::size_t>(holder.Length),
                                                                    SpillFieldBytes));
        }
        return reinterpret_cast<const Byte*>(FBuffer.data());
    }

    void Drop() { DropWorkTable(FDataBase, FTable, FTableName); }

    TVekDataBase* FDataBase;
    std::size_t FStateSize;
    std::string FTableName;
    std::unique_ptr<TVekDatasetBridge> FTable;
    Integer FAddressField = 0;
    std::vector<Integer> FStateFields;
    std::string FBuffer;
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
    // bytes are one group. Values of one group whose bytes differ (-0 and 0;
    // strings a collation makes equal) miss here, find their group through
    // the index, and their bytes then lead to it too.
    std::vector<Integer> groupFieldNos;
    for (const auto& [column, fieldNo] : groupColumns)
        groupFieldNos.push_back(fieldNo);
    TGroupKeyHash groupByBytes;
    // The group rows whose accumulators are in memory, by address.
    std::unordered_map<Cardinal, std::uint32_t> groupByAddress;

    // The accumulators and the two lookups above take at most half the
    // connection's result memory budget. Past it, a result kept in the
    // temporary database keeps the accumulators of its further groups there
    // too (a group then costs no memory), and rows of those groups find
    // them through the group index. A statement with DISTINCT aggregates
    // keeps every group's values in memory.
    const TVekDataBase* statementDb = FProviderMgr->Database();
    const std::size_t memoryLimit =
        statementDb ? static_cast<std::size_t>(std::max<Int64>(statementDb->ResultMemoryBudget(), 0)) / 2 : 0;
    std::size_t memoryUsed = 0;
    // The bytes of one entry of the lookups: the node, its bucket and the
    // allocator's overhead.
    constexpr std::size_t EntryBytes = 48;
    const bool canSpill = Grouped && DataBase() && DataBase()->IsTemporaryDatabase() && !accumulators.HasDistinct();
    std::unique_ptr<TGroupSpill> spill;
    std::string state;
    constexpr std::size_t Scratch = 0;

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
    for (bool more = FProviderMgr->FirstProviderRecord(); more; more = FProviderMgr->NextProviderRecord()) {
        // The group's row address when its accumulators are spilled (they
        // then pass through the scratch group), else 0.
        Cardinal spilledAddress = 0;
        if (Grouped) {
            ClearRecord(CurrentBuffer());
            for (const auto& [column, fieldNo] : groupColumns)
                StoreColumnValue(column, fieldNo);
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
                if (Find(stEQ, groupIndex, FLimitedSearch.get())) {
                    const Cardinal address = DatasetGetRecAddr();
                    const auto found = groupByAddress.find(address);
                    if (found != groupByAddress.end()) {
                        group = found->second;
                    } else {
                        ORVEX_ASSERT(spill != nullptr, "FindFuncResultItem failed");
                        spilledAddress = address;
                    }
                } else {
                    ++groups;
                    // Checked as each group appears: a result never holds more
                    // groups than MaxRecords.
                    if (FMaxRecords > 0 && groups > FMaxRecords)
                        VekDatabaseErrorFmt(9645, "TVekQueryDataset", "Result set limit of %d has been exceeded",
                                            {FMaxRecords}, this);
                    AddRecord(false);
                    const Cardinal address = DatasetGetRecAddr();
                    if (canSpill && memoryUsed >= memoryLimit) {
                        if (!spill)
                            spill = std::make_unique<TGroupSpill>(DataBase(), accumulators.PartCount() * StateBytes);
                        accumulators.ResetGroup(Scratch);
                        accumulators.Encode(Scratch, state);
                        spill->Add(address, state);
                        ++FSpilledGroups;
                        spilledAddress = address;
                    } else {
                        group = addMemoryGroup(address);
                    }
                }
                if (hashGroups && spilledAddress == 0 && memoryUsed < memoryLimit) {
                    groupByBytes.Add(groupKey, static_cast<std::uint32_t>(group));
                    memoryUsed += TGroupKeyHash::EntryBytes(groupKey.size());
                }
            }
            if (spilledAddress != 0) {
                const Byte* stored = spill->Load(spilledAddress);
                ORVEX_ASSERT(stored != nullptr, "FindFuncResultItem failed");
                accumulators.Decode(Scratch, stored);
                group = Scratch;
            }
        }
        for (TResultAggregatePart* part : parts) {
            const auto no = static_cast<std::size_t>(part->AccumulatorNo);
            if (part->CountRows) {
                accumulators.CountRow(group, no);
            } else {
                part->ArgEvaluator->Reset();
                accumulators.Take(group, no, part->ArgEvaluator->EvaluateValueExpr());
            }
        }
        if (spilledAddress != 0) {
            if (accumulators.Encode(Scratch, state)) {
                spill->Save(state);
            } else {
                // A value that has no fixed-size form (a string MIN or MAX):
                // the group's accumulators move to memory for good.
                const std::size_t moved = addMemoryGroup(spilledAddress);
                accumulators.CopyGroup(Scratch, moved);
            }
        }
    }

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
    // In the order of the rows' addresses, so that the group rows are
    // read and written page after page, not in the lookup's hash order.
    std::vector<std::pair<Cardinal, std::uint32_t>> memoryGroups(groupByAddress.begin(), groupByAddress.end());
    std::sort(memoryGroups.begin(), memoryGroups.end());
    for (const auto& [address, slot] : memoryGroups)
        finishGroup(address, slot);
    if (spill) {
        // The spilled groups (their walk reads the spill table, the result
        // rows written are the result table's).
        spill->ForEach([&](Cardinal address, const Byte* bytes) {
            if (groupByAddress.count(address) != 0)
                return;
            accumulators.Decode(Scratch, bytes);
            finishGroup(address, Scratch);
        });
        spill.reset();
    }
    order.Finish();
    if (byGroupIndex)
        InternalSetIndexName(ResultGroupByIndexName);
    PresentByOrderIndex();
    FRowsAffected = GetTotalRecordCount();
    First();
}

} // namespace orvex
