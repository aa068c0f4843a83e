// The result table: result columns, preparing the table, plain rows,
// HAVING, record addresses, the cross product and field access.

#include "query/vekQueryDataset.h"

#include "dataset/vekDataSetFilter.h"
#include "dataset/vekDatabase.h"
#include "host/SysUtils.h"
#include "storage/vekByteOrder.h"
#include "storage/vekIndexUnitManager.h"
#include "storage/vekIndexUnitTree.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <unordered_set>

namespace orvex {

// ============================================================ result columns

TResultSetField::TResultSetField(TCollection* Collection) : TJoinFieldItem(Collection) {}
TResultSetField::~TResultSetField() = default;

TResultSetFields::TResultSetFields() : TJoinFields(ItemClassOf<TResultSetField>()) {}

TResultSetField* TResultSetFields::FindResultSetField(const std::string& Name) const
{
    for (int i = 0; i < Count(); ++i)
        if (AnsiSameText(Items(i)->FieldName(), Name))
            return Items(i);
    for (int i = 0; i < Count(); ++i) {
        TSelectFieldItem* item = Items(i)->SelectItem;
        if (!item)
            continue;
        if (AnsiSameText(item->SourceFieldName(), Name) || AnsiSameText(item->FieldName(), Name) ||
            AnsiSameText(Trim(item->CustomQualifier()), Name))
            return Items(i);
    }
    return nullptr;
}

namespace {

// The size of a string result column whose expression tells none.
constexpr Integer DefaultComputedStringSize = 255;

// The name of a result column for a select item's text: at most the
// longest name a field may have; a ";" (which separates the fields of an
// index definition) becomes "_"; an empty name or "ALL" (refused as a field
// name) becomes "Column" and the column's number.
std::string ResultColumnName(std::string Text, int Number)
{
    std::replace(Text.begin(), Text.end(), ';', '_');
    // Index definitions list their fields trimmed: a cut name ends in no
    // blank.
    if (static_cast<Integer>(Text.size()) > VekMaxObjectNameLength)
        Text = TrimRight(Text.substr(0, static_cast<std::size_t>(VekMaxObjectNameLength)));
    if (Trim(Text).empty() || SameText(Trim(Text), "ALL"))
        Text = "Column" + IntToStr(Number);
    return Text;
}

} // namespace

// The aggregate nodes of the tree under Node, left to right (Left, Right,
// then the arguments), not looking inside an aggregate.
void CollectAggregateNodes(TVekExprNode* Node, std::vector<TVekExprNode*>& Out, int Depth)
{
    if (!Node || Depth > MaxExprTreeHeight)
        return;
    if (Node->ParserToken()->Token() == vstAggFunc) {
        Out.push_back(Node);
        return;
    }
    CollectAggregateNodes(Node->Left(), Out, Depth + 1);
    CollectAggregateNodes(Node->Right(), Out, Depth + 1);
    for (TVekExprNode* arg : Node->Args())
        CollectAggregateNodes(arg, Out, Depth + 1);
}

void MakeConstantNode(TVekExprNode* Node)
{
    Node->Args().clear();
    Node->SetLeft(nullptr);
    Node->SetRight(nullptr);
    Node->ParserToken()->SetToken(vstNumber);
    Node->SetKind(enkConst);
    Node->SetOperator(veoCONST2);
    Node->SetData(Variant::Null());
    Node->RecalcHeight();
}

TResultSetField* TResultSetFields::AddSelectColumn(TSelectFieldItem* Item, TVekJoinDataProviderMgr* Mgr,
                                                   TFieldDefs* Defs)
{
    ORVEX_ASSERT(Item != nullptr && Mgr != nullptr && Mgr->RootProvider() != nullptr,
                 "The result set field data provider could not be found");
    // The name: the select item's, "_" and the attempt number appended while
    // an earlier column has it.
    std::string name = ResultColumnName(Item->FieldName(), Count() + 1);
    for (int attempt = 1; FindJoinField(name) != nullptr; ++attempt) {
        const std::string suffix = "_" + IntToStr(attempt);
        // A long name gives up its end to keep the suffix.
        if (static_cast<Integer>(name.size() + suffix.size()) > VekMaxObjectNameLength)
            name = TrimRight(name.substr(0, static_cast<std::size_t>(VekMaxObjectNameLength) - suffix.size()));
        name += suffix;
    }

    TFieldType type = Item->DataType();
    Integer size = 0;
    if (type == ftUnknown) {
        // A value of no declared type (a NULL constant) is kept as text.
        type = ftString;
        size = DefaultComputedStringSize;
    } else if (type == ftString) {
        size = Item->FieldSize() > 0 ? Item->FieldSize() : DefaultComputedStringSize;
    }

    TResultSetField* column = Add();
    column->SelectItem = Item;
    column->SetFieldName(name);
    column->SetDataType(type);
    if (type == ftString)
        column->SetFieldSize(size + 1);
    column->SetSourceField(Item->SourceFieldName().empty() ? name : Item->SourceFieldName());

    if (Item->SourceTableItem() && !Item->HasAggregateFunction()) {
        // A plain column reads its own table instance: by correlation name
        // first, so that each instance of a self-joined table is told apart.
        TTableNameItem* table = Item->SourceTableItem();
        TVekBaseJoinDataProvider* provider = nullptr;
        if (!table->CorrelationName().empty())
            provider = Mgr->RootProvider()->FindJoinProvider(table->CorrelationName());
        if (!provider)
            provider = Mgr->RootProvider()->FindJoinProvider(table->TableName());
        ORVEX_ASSERT(provider != nullptr, "The result set field data provider could not be found");
        column->DataProvider = provider;
        TInternalFieldItem* source = provider->GetProviderFields()->FindField(column->SourceField());
        column->SourceFieldNo = source ? source->FieldNo() : -1;
    } else {
        column->DataProvider = Mgr->RootProvider();
        column->SourceFieldNo = -1;
        column->PrepareColumnExpr(Item);
    }
    if (Defs)
        Defs->Add(name, type, type == ftString ? size : 0);
    return column;
}

void TResultSetField::PrepareColumnExpr(TSelectFieldItem* Item)
{
    FParts.clear();
    FExpr = std::make_unique<TVekExpr>();
    if (!Item->HasAggregateFunction()) {
        ORVEX_ASSERT(Item->ExprRoot() != nullptr, "Select field expr root is not assigned");
        PrepareJoinExprEvaluator(CloneQualified(FExpr.get(), Item->ExprRoot()));
        return;
    }
    // An aggregate column: one accumulator per aggregate of its expression.
    // The whole expression is kept (qualified) for the final value; each
    // aggregate node in it is turned into a constant holding its result.
    TVekExprNode* whole = Item->AggExprRoot();
    std::vector<TVekExprNode*> nodes;
    if (whole) {
        FFinalRoot = CloneQualified(FExpr.get(), whole);
        CollectAggregateNodes(FFinalRoot, nodes, 0);
    } else {
        FFinalRoot = nullptr;
    }
    if (!whole || nodes.empty()) {
        // The column is one aggregate: its argument is the select item's
        // expression (the aggregate itself for COUNT(*)).
        auto part = std::make_unique<TResultAggregatePart>();
        part->AggFunc = Item->AggFunc();
        part->Distinct = Item->DistinctQuantifier();
        TVekExprNode* arg = Item->ExprRoot();
        if (!arg || arg->ParserToken()->Token() == vstAggFunc) {
            part->CountRows = true;
        } else {
            part->ArgType = arg->DataType();
            part->ArgSize = arg->DataSize();
            part->ArgExpr = std::make_unique<TVekExpr>();
            part->ArgEvaluator = std::make_unique<TExprEvaluator>();
            part->ArgEvaluator->SetExcludeRelopNulls(true);
            part->ArgEvaluator->Prepare(DataProvider, CloneQualified(part->ArgExpr.get(), arg));
        }
        FParts.push_back(std::move(part));
        FFinalRoot = nullptr;
        return;
    }
    for (TVekExprNode* node : nodes) {
        auto part = std::make_unique<TResultAggregatePart>();
        part->Node = node;
        part->AggFunc = static_cast<TVekSQLAggFunc>(node->ParserToken()->CustomOrdinal());
        part->Distinct = node->Data().VType() == varBoolean && node->Data().AsBoolean();
        if (node->Args().empty()) {
            part->CountRows = true;
        } else {
            TVekExprNode* arg = node->Args()[0];
            part->ArgType = arg->DataType();
            part->ArgSize = arg->DataSize();
            part->ArgExpr = std::make_unique<TVekExpr>();
            part->ArgEvaluator = std::make_unique<TExprEvaluator>();
            part->ArgEvaluator->SetExcludeRelopNulls(true);
            part->ArgEvaluator->Prepare(DataProvider, CloneQualified(part->ArgExpr.get(), arg));
        }
        FParts.push_back(std::move(part));
    }
    // The aggregate nodes of the final expression become constants whose
    // value is set per group row; the evaluator reads them in place.
    for (auto& part : FParts)
        MakeConstantNode(part->Node);
    FFinalEvaluator = std::make_unique<TExprEvaluator>();
    FFinalEvaluator->SetExcludeRelopNulls(true);
    FFinalEvaluator->Prepare(DataProvider, FFinalRoot);
}

// ============================================================ result store

namespace {
TResultStoreFactory GDefaultResultStore;
TResultStoreFactory* GResultStore = &GDefaultResultStore;
} // namespace

TResultStoreFactory* TResultStoreFactory::Current()
{
    return GResultStore;
}

void TResultStoreFactory::SetResultStoreFactory(TResultStoreFactory* Factory)
{
    GResultStore = Factory ? Factory : &GDefaultResultStore;
}

// ================================================================ the table

namespace {
bool GSimpleCountByDefault = true;
} // namespace

void TVekQueryDataset::SetSimpleCountEnabledByDefault(bool Value)
{
    GSimpleCountByDefault = Value;
}

TVekQueryDataset::TVekQueryDataset(TComponent* AOwner)
    : TVekBaseTable(AOwner), FSimpleCountEnabled(GSimpleCountByDefault),
      FLimitedSearch(std::make_unique<TSearchModifier>())
{
    // Only the index's own key fields take part in an equality search.
    FLimitedSearch->SetLimitedSearch(true);
}

TVekQueryDataset::~TVekQueryDataset() = default;

TSortOrder TVekQueryDataset::SourceSortOrder() const
{
    // The result sorts and compares strings as the statement's first table.
    if (FProviderMgr && !FProviderMgr->NonJoinProviders().empty()) {
        TVekDatasetBridge* bridge = FProviderMgr->NonJoinProviders().front()->Bridge();
        if (bridge && bridge->DataSetIsOpen() && bridge->TableDef())
            return bridge->TableDef()->SortOrder();
    }
    return SortOrder();
}

TDBStringCompare TVekQueryDataset::GetDBStringCompare() const
{
    const TSortOrder order = DataSetIsOpen() && TableDef() ? TableDef()->SortOrder() : SourceSortOrder();
    return order == soASCII ? DBASCIICompareStrings : DBANSICompareStrings;
}

void TVekQueryDataset::PrepareEmptyResultSet(bool ReuseDefinitions)
{
    ORVEX_ASSERT(FieldDefs()->Count() > 0, "Field defs are not prepared in TVekQueryDataset.CreateResultSet");
    TResultStoreFactory::Current()->PrepareResultStore(this);
    FIsResultTable = true;
    if (TableName().empty())
        SetTableName("testqry");
    if (ReuseDefinitions && Exists()) {
        if (!Active())
            Open();
        EmptyTable();
        return;
    }
    if (Active())
        Close();
    SetSortOrder(SourceSortOrder());
    // A table left by an earlier statement of this name is replaced.
    if (Exists())
        DataBase()->DeleteTable(TableName(), Memory());
    CreateResultSetTable();
}

void TVekQueryDataset::CreateResultSetTable()
{
    SetTableDef(Memory(), FieldDefs(), IndexDefs());
    if (FCreateLiveResult) {
        TInternalFields* fields = TableDef()->InternalFields();
        for (const char* hidden : {ResultRecAddrFieldName, ResultRecModFlagFieldName})
            if (TInternalFieldItem* item = fields->FindField(hidden))
                item->SetHidden(true);
    }
    InternalCreateTable();
}

Integer TVekQueryDataset::EngineFieldNo(Integer Column) const
{
    return GetInternalFields()->GetIndex(Column)->FieldIndex();
}

bool TVekQueryDataset::CurrentValueBytes(const std::vector<Integer>& FieldNos, std::string& Key)
{
    Key.clear();
    for (const Integer fieldNo : FieldNos) {
        if (IsFieldBlob(fieldNo))
            return false;
        Integer length = 0;
        const Byte* data = nullptr;
        bool isNull = true;
        DataSetGetFieldDataByReference(CurrentBuffer(), fieldNo, length, data, isNull);
        Key.push_back(isNull ? '\0' : '\1');
        if (isNull || !data || length <= 0)
            continue;
        const std::uint32_t size = static_cast<std::uint32_t>(length);
        Key.append(reinterpret_cast<const char*>(&size), sizeof size);
        Key.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(length));
    }
    return true;
}

void TVekQueryDataset::StoreRawValue(Integer FieldNo, TDataHolder& Holder)
{
    if (IsFieldBlob(FieldNo)) {
        TStream* stream = Holder.UsesStream ? Holder.Stream() : nullptr;
        if (stream)
            stream->Seek(0, soBeginning);
        DataSetSetFieldStream(FieldNo, Holder.IsNull || !stream, stream);
        return;
    }
    if (Holder.UsesStream) {
        // A blob read into a non-blob column: its bytes as text.
        TMemoryStream* stream = Holder.Stream();
        std::string text(static_cast<std::size_t>(stream->Size()), '\0');
        stream->Seek(0, soBeginning);
        if (!text.empty())
            stream->ReadBuffer(text.data(), static_cast<Integer>(text.size()));
        StoreVariant(FieldNo, Holder.IsNull ? Variant::Null() : Variant(text));
        return;
    }
    TInternalFieldItem* target = GetInternalFields()->GetField(FieldNo);
    if (Holder.IsNull) {
        DataSetSetFieldData(FieldNo, 0, true, nullptr);
        return;
    }
    if (target->DataType() == ftString) {
        // The bytes up to the terminator, cut to the column's room (a UNION
        // part or a narrower column never overruns the field).
        Integer length = Holder.Length;
        if (const void* end = std::memchr(Holder.Data, 0, static_cast<std::size_t>(length)))
            length = static_cast<Integer>(static_cast<const Byte*>(end) - Holder.Data);
        length = std::min(length, target->GetWriteableFieldSize());
        DataSetSetFieldData(FieldNo, length, false, Holder.Data);
        return;
    }
    DataSetSetFieldData(FieldNo, std::min(Holder.Length, target->FieldSize()), false, Holder.Data);
}

void TVekQueryDataset::StoreVariant(Integer FieldNo, const Variant& Value)
{
    if (IsFieldBlob(FieldNo)) {
        SetResultSetFieldFromVariant(FieldNo, Value);
        return;
    }
    TInternalFieldItem* target = GetInternalFields()->GetField(FieldNo);
    if (target->DataType() == ftString && !Value.IsNull() && !Value.IsEmpty()) {
        std::string text = VarToStr(Value);
        if (static_cast<Integer>(text.size()) > target->GetWriteableFieldSize())
            text.resize(static_cast<std::size_t>(target->GetWriteableFieldSize()));
        DataSetSetFieldData(FieldNo, static_cast<Integer>(text.size()), false, text.data());
        return;
    }
    try {
        DataSetSetFieldDataAsVariant(FieldNo, Value);
    } catch (const EVariantError&) {
        // A value that does not convert to the column's type is unknown.
        DataSetSetFieldData(FieldNo, 0, true, nullptr);
    }
}

void TVekQueryDataset::StoreColumnValue(TResultSetField* Column, Integer FieldNo)
{
    if (Column->IsComputed()) {
        Column->Evaluator()->Reset();
        StoreVariant(FieldNo, Column->Evaluator()->EvaluateValueExpr());
        return;
    }
    if (Column->SourceFieldNo < 0 || !Column->DataProvider) {
        DataSetSetFieldData(FieldNo, 0, true, nullptr);
        return;
    }
    if (Column->RawCopyState < 0) {
        // Bytes are copied only between fields of one type (a UNION may
        // have widened the table's field past its column's source).
        TInternalFieldItem* source = Column->DataProvider->GetProviderFields()->FindField(Column->SourceField());
        Column->RawCopyState =
            source && source->DataType() == GetInternalFields()->GetField(FieldNo)->DataType() ? 1 : 0;
    }
    if (Column->RawCopyState == 0) {
        StoreVariant(FieldNo, Column->DataProvider->GetDataAsVariant(Column->SourceFieldNo));
        return;
    }
    Column->DataProvider->GetRawFieldData(Column->SourceFieldNo, FHolder);
    StoreRawValue(FieldNo, FHolder);
}

bool TVekQueryDataset::HasIndexDef(const std::string& Name) const
{
    return FindIndexDefByName(Name) != nullptr;
}

// ====================================================== the order index

namespace {

// Two numbers whose order is the order of a key's first two fields wherever
// two keys' numbers differ: per field null lowest, then the value (a float's
// -0 as 0, NaN above every number), turned round for a descending field.
// Keys with equal numbers are compared in full. A string (ordered by the
// collation) ends the numbers: it and the fields after it count as equal in
// every key, so that such keys are always compared in full. The record ID
// that ends a non-unique key is an integer field like any other, so a
// single-column order by a number needs no full comparison.
class TKeyOrderPrefix {
public:
    struct TNumbers {
        std::uint64_t First = 0;
        std::uint64_t Second = 0;
        bool operator!=(const TNumbers& Other) const { return First != Other.First || Second != Other.Second; }
        bool operator<(const TNumbers& Other) const
        {
            return First != Other.First ? First < Other.First : Second < Other.Second;
        }
    };

    explicit TKeyOrderPrefix(const TKeyFields* Fields)
    {
        FDataPos = static_cast<std::size_t>(KeyInfoSize + Fields->DataOffset());
        for (int i = 0; i < Fields->Count() && FCount < 2; ++i) {
            const TKeyFieldItem* field = Fields->GetItems(i);
            if (!Mapped(field->DataType()))
                break;
            FFields[FCount++] = {field->DataType(), field->Descending(), static_cast<std::size_t>(field->FieldSize())};
        }
    }

    TNumbers Of(const Byte* Key) const
    {
        std::uint64_t numbers[2] = {0, 0};
        std::size_t pos = FDataPos;
        for (int i = 0; i < FCount; ++i) {
            const TField& field = FFields[i];
            std::uint64_t value = 0;
            // Key field i's null-flag bit: bit 7 - i of the first flag byte.
            if ((Key[KeyInfoSize] & (0x80 >> i)) != 0) {
                value = 1 + ValueOf(field.Type, Key + pos);
                pos += field.Size;
            }
            numbers[i] = field.Descending ? ~value : value;
        }
        return {numbers[0], numbers[1]};
    }

private:
    struct TField {
        TFieldType Type = ftUnknown;
        bool Descending = false;
        std::size_t Size = 0;
    };

    static bool Mapped(TFieldType Type)
    {
        switch (Type) {
        case ftSmallint:
        case ftWord:
        case ftInteger:
        case ftAutoInc:
        case ftBoolean:
        case ftFloat:
        case ftCurrency:
        case ftDate:
        case ftTime:
        case ftDateTime:
            return true;
        default:
            return false;
        }
    }

    // The value's place among the values of the type, from 0 (as the
    // index compares them: the same bytes, the same order).
    static std::uint64_t ValueOf(TFieldType Type, const Byte* Data)
    {
        switch (Type) {
        case ftSmallint:
            return static_cast<std::uint64_t>(static_cast<SmallInt>(ReadLE16(Data)) + 0x8000);
        case ftWord:
            return ReadLE16(Data);
        case ftInteger:
        case ftAutoInc:
            return static_cast<std::uint64_t>(static_cast<Int64>(static_cast<Integer>(ReadLE32(Data))) + 0x80000000LL);
        case ftBoolean:
            return Data[0];
        default: {
            double number = ReadLEDouble(Data);
            if (std::isnan(number))
                return ~std::uint64_t{0} - 1;
            if (number == 0)
                number = 0;
            std::uint64_t bits = 0;
            std::memcpy(&bits, &number, sizeof bits);
            // Negative numbers below positive ones, each in numeric order;
            // the largest (+infinity) stays below the NaN place above.
            return (bits & 0x8000000000000000ULL) != 0 ? ~bits : bits | 0x8000000000000000ULL;
        }
        }
    }

    TField FFields[2];
    int FCount = 0;
    std::size_t FDataPos = 0;
};

// One key of a run being sorted: its leading fields as numbers and its place.
struct TSortItem {
    TKeyOrderPrefix::TNumbers Prefix;
    std::uint32_t Key;
};

constexpr std::size_t SortItemBytes = sizeof(TSortItem);

// The Count keys of Size bytes at Keys in the tree's order.
std::vector<TSortItem> SortedRun(const TBTree* Tree, const Byte* Keys, std::size_t Size, std::size_t Count)
{
    const TKeyOrderPrefix prefix(Tree->KeyFields());
    std::vector<TSortItem> order(Count);
    for (std::size_t i = 0; i < Count; ++i)
        order[i] = {prefix.Of(Keys + i * Size), static_cast<std::uint32_t>(i)};
    const TKeyComparisonFlags none;
    std::sort(order.begin(), order.end(), [&](const TSortItem& a, const TSortItem& b) {
        if (a.Prefix != b.Prefix)
            return a.Prefix < b.Prefix;
        const Integer c = Tree->CompareKeys(0, none, none, Keys + a.Key * Size, Keys + b.Key * Size);
        // Keys of rows not yet written (their record IDs not yet given)
        // are equal where their values are: their place in the fill decides.
        return c != 0 ? c < 0 : a.Key < b.Key;
    });
    return order;
}

} // namespace

TOrderIndexBuild::TOrderIndexBuild(TVekQueryDataset* Table) : FTable(Table)
{
    TIndexManager* manager = Table->IndexManager();
    TIndexItem* index = manager ? manager->FindIndex(ResultOrderByIndexName) : nullptr;
    if (!index || !index->IsOpen() || index->MaximumKeySize() <= KeyInfoSize)
        return;
    FIndex = index;
    FKeySize = static_cast<std::size_t>(index->MaximumKeySize());
    const TVekDataBase* db = Table->ProviderMgr() ? Table->ProviderMgr()->Database() : nullptr;
    if (!db)
        db = Table->DataBase();
    const Int64 budget = db ? std::max<Int64>(db->ResultMemoryBudget(), 0) : 0;
    // At least a few pages' worth of keys make a run.
    FRunLimit = std::max<std::size_t>(static_cast<std::size_t>(budget / 4), 64 * 1024);
    if (Table->DataBase() && Table->DataBase()->IsTemporaryDatabase())
        FRunFolder = ExtractFilePath(Table->DataBase()->Directory() + Table->DataBase()->DataBaseName());
    const bool current = SameText(manager->CurrentIndexName(), index->IndexName());
    Detach();
    // The fill's searches (DISTINCT, grouping) go through the current
    // index: another one stands in until the order index is back. A table
    // with no other index has no search to make.
    if (current && manager->Count() > 0)
        Table->InternalSetIndexName(manager->GetItems(0)->IndexName());
}

TOrderIndexBuild::~TOrderIndexBuild()
{
    if (FIndex && FPosition >= 0)
        Attach();
}

void TOrderIndexBuild::Detach()
{
    FPosition = FIndex->Index();
    FIndex->SetCollection(nullptr);
}

void TOrderIndexBuild::Attach()
{
    TIndexManager* manager = FTable->IndexManager();
    FIndex->SetCollection(manager);
    FIndex->SetIndex(std::min(FPosition, manager->Count() - 1));
    FPosition = -1;
}

void TOrderIndexBuild::Add(Cardinal Address)
{
    if (!FIndex)
        return;
    const std::size_t at = FKeys.size();
    // The keys' array grows in steps, never past a run's share.
    const std::size_t runKeys = RunEntries(FKeySize);
    if (at + FKeySize > FKeys.capacity())
        FKeys.reserve(std::min(std::max<std::size_t>(FKeys.capacity() * 2, 64 * 1024), runKeys * FKeySize));
    FKeys.resize(at + FKeySize);
    FIndex->CreateTempKeyBuffer(FTable->CurrentBuffer(), FKeys.data() + at, {});
    WriteLE32(FKeys.data() + at + kioAddress, Address);
    if (FKeys.size() >= runKeys * FKeySize) {
        if (FRunFolder.empty())
            InsertRun();
        else
            WriteRun(FKeys, FKeySize, FRuns);
    }
}

std::size_t TOrderIndexBuild::RunEntries(std::size_t Size) const
{
    // A run's entries and their sort items together stay within the run's
    // bytes.
    return std::max<std::size_t>(FRunLimit / (Size + SortItemBytes), 1);
}

bool TOrderIndexBuild::CanHoldRows() const
{
    if (!FIndex || FRunFolder.empty())
        return false;
    for (int i = 0; i < FTable->GetInternalFieldCount(); ++i)
        if (FTable->IsFieldBlob(i))
            return false;
    return true;
}

void TOrderIndexBuild::AddRow()
{
    const std::size_t entry = FKeySize + static_cast<std::size_t>(FTable->EngineBufferSize());
    FImageSize = entry - FKeySize;
    const std::size_t runRows = RunEntries(entry);
    const std::size_t at = FRows.size();
    if (at + entry > FRows.capacity())
        FRows.reserve(std::min(std::max<std::size_t>(FRows.capacity() * 2, 64 * 1024), runRows * entry));
    FRows.resize(at + entry);
    // Rows with equal keys keep the order of the fill (see SortedRun).
    FIndex->CreateTempKeyBuffer(FTable->CurrentBuffer(), FRows.data() + at, {});
    std::memcpy(FRows.data() + at + FKeySize, FTable->CurrentBuffer(), FImageSize);
    if (FRows.size() >= runRows * entry)
        WriteRun(FRows, entry, FRowRuns);
}

void TOrderIndexBuild::ChangeTree(const std::function<void(TBTree*)>& Fill)
{
    const bool lockHere = !FTable->HoldsLock();
    if (lockHere)
        FTable->LockTable();
    Attach();
    try {
        Fill(FIndex->Tree());
        FTable->TableDef()->TableHeader()->SetDirty(true);
    } catch (...) {
        FIndex->ForgetLentPath();
        if (lockHere) {
            try {
                FTable->UnlockTable();
            } catch (...) {
                // The first failure is the one reported.
            }
        }
        throw;
    }
    if (lockHere)
        FTable->UnlockTable();
    Detach();
}

void TOrderIndexBuild::InsertRun()
{
    if (FKeys.empty())
        return;
    const std::size_t count = FKeys.size() / FKeySize;
    const Byte* keys = FKeys.data();
    const std::size_t size = FKeySize;
    const std::vector<TSortItem> order = SortedRun(FIndex->Tree(), keys, size, count);
    ChangeTree([&](TBTree* Tree) {
        if (FIndex->GetRecordCount(true) == 0) {
            // The first run fills the empty tree page by page.
            Tree->LoadSortedKeys(count, [&](std::size_t I) { return keys + order[I].Key * size; });
            return;
        }
        for (const TSortItem& item : order) {
            const Byte* key = keys + item.Key * size;
            FIndex->CopyKeyBuffer(key, {});
            if (FIndex->InsertCheckSearch() == 0 || FIndex->InsertKey(ReadLE32(key + kioAddress)) != 0)
                VekDatabaseError(8581, "TVekQueryDataset.PresentByOrderIndex",
                                 "Failed to add key to " + FIndex->IndexName(), FTable);
        }
    });
    FKeys.clear();
}

void TOrderIndexBuild::WriteRun(std::vector<Byte>& Entries, std::size_t Size, std::vector<TRun>& Runs)
{
    if (Entries.empty())
        return;
    if (!FRunFile)
        FRunFile = std::make_unique<TSpillFile>(FRunFolder, TVekDataBase::TemporaryFilePrefix,
                                                TVekDataBase::TemporaryFileExt, FTable);
    const std::size_t count = Entries.size() / Size;
    const Byte* entries = Entries.data();
    const std::vector<TSortItem> order = SortedRun(FIndex->Tree(), entries, Size, count);
    Runs.push_back({FRunFile->Size(), count});
    for (const TSortItem& item : order)
        FRunFile->Append(entries + item.Key * Size, Size);
    Entries.clear();
}

namespace {

// The entries of sorted runs (each its key first) in key order: the runs
// of a spill file, read a buffer at a time, and one more run in memory.
class TRunMerger {
public:
    // Sorts the Count entries of Size bytes at Memory; the file's runs'
    // buffers share BufferBytes.
    TRunMerger(const TBTree* Tree, TSpillFile* File, const std::vector<TOrderIndexBuild::TRun>& Runs,
               const Byte* Memory, std::size_t Count, std::size_t Size, std::size_t BufferBytes)
        : FTree(Tree), FFile(File), FMemory(Memory), FSize(Size), FPrefix(Tree->KeyFields()), FOut(Size)
    {
        FLast = SortedRun(Tree, Memory, Size, Count);
        FSources.resize(Runs.size() + 1);
        FBufferEntries = std::max<std::size_t>(std::min(BufferBytes / (Runs.size() + 1), TSpillFile::ChunkBytes) / Size, 1);
        FTotal = Count;
        for (std::size_t r = 0; r < Runs.size(); ++r) {
            FSources[r].Offset = Runs[r].Offset;
            FSources[r].Left = Runs[r].Count;
            FTotal += Runs[r].Count;
        }
        FSources.back().Left = Count;
        for (std::size_t r = 0; r < FSources.size(); ++r)
            if (Advance(r))
                FHeap.push_back(r);
        std::make_heap(FHeap.begin(), FHeap.end(), [this](std::size_t A, std::size_t B) { return After(A, B); });
    }

    std::size_t Total() const { return FTotal; }

    // The next entry (valid until the next call); nullptr after the last.
    const Byte* Next()
    {
        if (FHeap.empty())
            return nullptr;
        auto after = [this](std::size_t A, std::size_t B) { return After(A, B); };
        std::pop_heap(FHeap.begin(), FHeap.end(), after);
        const std::size_t from = FHeap.back();
        std::memcpy(FOut.data(), FSources[from].Head, FSize);
        if (Advance(from))
            std::push_heap(FHeap.begin(), FHeap.end(), after);
        else
            FHeap.pop_back();
        return FOut.data();
    }

private:
    struct TSource {
        std::int64_t Offset = 0;
        std::size_t Left = 0; // entries not yet handed out, the buffered ones too
        std::vector<Byte> Buffer;
        std::size_t At = 0;
        std::size_t Buffered = 0;
        const Byte* Head = nullptr;
        TKeyOrderPrefix::TNumbers Prefix;
    };

    // Source's next entry as its head; false when it has none left.
    bool Advance(std::size_t Index)
    {
        TSource& source = FSources[Index];
        if (source.Left == 0)
            return false;
        --source.Left;
        if (Index + 1 == FSources.size()) {
            source.Head = FMemory + FLast[source.At++].Key * FSize;
        } else {
            if (source.At == source.Buffered) {
                const std::size_t entries = std::min(FBufferEntries, source.Left + 1);
                source.Buffer.resize(entries * FSize);
                FFile->Read(source.Offset, source.Buffer.data(), entries * FSize);
                source.Offset += static_cast<std::int64_t>(entries * FSize);
                source.At = 0;
                source.Buffered = entries;
            }
            source.Head = source.Buffer.data() + (source.At++) * FSize;
        }
        source.Prefix = FPrefix.Of(source.Head);
        return true;
    }

    // The heap's order: the source with the smallest head on top; of equal
    // heads (rows not yet written) the earlier run first.
    bool After(std::size_t A, std::size_t B) const
    {
        const TSource& a = FSources[A];
        const TSource& b = FSources[B];
        if (a.Prefix != b.Prefix)
            return b.Prefix < a.Prefix;
        const TKeyComparisonFlags none;
        const Integer c = FTree->CompareKeys(0, none, none, a.Head, b.Head);
        return c != 0 ? c > 0 : A > B;
    }

    const TBTree* FTree;
    TSpillFile* FFile;
    const Byte* FMemory;
    std::size_t FSize;
    TKeyOrderPrefix FPrefix;
    std::vector<TSortItem> FLast;
    std::vector<TSource> FSources;
    std::size_t FBufferEntries = 1;
    std::size_t FTotal = 0;
    std::vector<std::size_t> FHeap;
    std::vector<Byte> FOut;
};

} // namespace

void TOrderIndexBuild::MergeRuns()
{
    TRunMerger merger(FIndex->Tree(), FRunFile.get(), FRuns, FKeys.data(), FKeys.size() / FKeySize, FKeySize,
                      FRunLimit);
    ChangeTree([&](TBTree* Tree) {
        Tree->LoadSortedKeyStream(merger.Total(), [&]() -> const Byte* {
            const Byte* key = merger.Next();
            if (!key)
                VekDatabaseError(8581, "TVekQueryDataset.PresentByOrderIndex", "Sort runs ended early", FTable);
            return key;
        });
    });
    FKeys.clear();
    FRuns.clear();
}

void TOrderIndexBuild::WriteRows()
{
    if (FRows.empty() && FRowRuns.empty())
        return;
    const std::size_t entry = FKeySize + FImageSize;
    {
        TRunMerger merger(FIndex->Tree(), FRunFile.get(), FRowRuns, FRows.data(), FRows.size() / entry, entry,
                          FRunLimit);
        for (const Byte* row = merger.Next(); row; row = merger.Next()) {
            std::memcpy(FTable->CurrentBuffer(), row + FKeySize, FImageSize);
            FTable->AddRecord(false);
            Add(FTable->DatasetGetRecAddr());
        }
    }
    FRows = {};
    FRowRuns.clear();
}

void TOrderIndexBuild::Finish()
{
    if (!FIndex)
        return;
    WriteRows();
    if (FRuns.empty())
        InsertRun();
    else
        MergeRuns();
    Attach();
    FKeys = {};
    FRunFile.reset();
    FIndex = nullptr;
}

void TVekQueryDataset::PresentByOrderIndex()
{
    if (HasIndexDef(ResultOrderByIndexName))
        InternalSetIndexName(ResultOrderByIndexName);
}

void TVekQueryDataset::PopulateResultSet(TResultSetFields* Fields, bool Distinct)
{
    ORVEX_ASSERT(FProviderMgr != nullptr, "FProviderMgr is not assigned");
    if (Active())
        Close();
    Open();
    TVekDatasetBridge* liveBridge = nullptr;
    if (FCreateLiveResult) {
        auto* leaf = dynamic_cast<TVekNonJoinDataProvider*>(FProviderMgr->RootProvider());
        ORVEX_ASSERT(leaf != nullptr && leaf->Bridge() != nullptr, "CreateLiveResult request is invalid");
        liveBridge = leaf->Bridge();
    }
    const bool distinct = Distinct && HasIndexDef(ResultDistinctIndexName);
    // GROUP BY without aggregates: one row per group.
    const bool grouped = HasIndexDef(ResultGroupByIndexName);
    // HAVING finds a source row's group by the index that made the rows.
    FAggFields = Fields;
    FHavingGroupIndex = grouped    ? std::string(ResultGroupByIndexName)
                        : distinct ? std::string(ResultDistinctIndexName)
                                   : std::string();
    const int columns = Fields->Count();
    std::vector<Integer> fieldNos;
    for (int i = 0; i < columns; ++i)
        fieldNos.push_back(EngineFieldNo(i));
    Integer addrField = -1;
    Integer modField = -1;
    if (liveBridge) {
        addrField = GetFieldNo(ResultRecAddrFieldName);
        modField = GetFieldNo(ResultRecModFlagFieldName);
    }
    // DISTINCT and grouping know a row seen before by the bytes of its
    // values; other bytes of an equal row (0 and -0) are found through the
    // index, and their bytes then lead to it too.
    // The keys take at most a quarter of the connection's result memory
    // budget: past it, new rows are looked up in the index alone.
    TGroupKeyHash seenBytes;
    std::size_t seenBytesSize = 0;
    const TVekDataBase* statementDb = FProviderMgr->Database();
    const std::size_t seenBytesLimit =
        statementDb ? static_cast<std::size_t>(std::max<Int64>(statementDb->ResultMemoryBudget(), 0)) / 4 : 0;
    std::string rowKey;
    Integer count = 0;
    TOrderIndexBuild order(this);
    // A fill that never looks for a row in the table may leave writing
    // them to the order build, which writes them in their order.
    const bool holdRows = !distinct && !grouped && order.CanHoldRows();
    for (bool more = FProviderMgr->FirstProviderRecord(); more; more = FProviderMgr->NextProviderRecord()) {
        ClearRecord(CurrentBuffer());
        for (int i = 0; i < columns; ++i)
            StoreColumnValue(Fields->Items(i), fieldNos[static_cast<std::size_t>(i)]);
        if (liveBridge) {
            if (addrField >= 0)
                StoreVariant(addrField, Variant(static_cast<int>(liveBridge->GetRecAddr())));
            if (modField >= 0)
                StoreVariant(modField, Variant(static_cast<int>(liveBridge->GetRecModFlag())));
        }
        if (distinct || grouped) {
            const bool byBytes = CurrentValueBytes(fieldNos, rowKey);
            if (byBytes && seenBytes.Find(rowKey) >= 0)
                continue;
            const bool seen = (distinct && Find(stEQ, ResultDistinctIndexName, FLimitedSearch.get())) ||
                              (grouped && Find(stEQ, ResultGroupByIndexName, FLimitedSearch.get()));
            if (byBytes && seenBytesSize < seenBytesLimit) {
                seenBytes.Add(rowKey, 0);
                seenBytesSize += TGroupKeyHash::EntryBytes(rowKey.size());
            }
            if (seen)
                continue;
        }
        if (holdRows) {
            order.AddRow();
        } else {
            AddRecord(false);
            order.Add(DatasetGetRecAddr());
        }
        ++count;
        if (FMaxRecords > 0 && count >= FMaxRecords)
            break;
    }
    order.Finish();
    PresentByOrderIndex();
    FRowsAffected = GetTotalRecordCount();
    First();
}

void TVekQueryDataset::PopulateSimpleCountResultSet()
{
    auto* leaf = FProviderMgr ? dynamic_cast<TVekNonJoinDataProvider*>(FProviderMgr->RootProvider()) : nullptr;
    ORVEX_ASSERT(leaf != nullptr, "FProviderMgr.RootProvider is incorrect data type");
    if (!Active())
        Open();
    const Integer rows = leaf->GetRecordCount();
    ClearRecord(CurrentBuffer());
    StoreVariant(EngineFieldNo(0), Variant(static_cast<int>(rows)));
    AddRecord(false);
    FRowsAffected = 1;
    First();
}

void TVekQueryDataset::ProcessHavingClause(TVekExprNode* HavingRoot)
{
    if (!HavingRoot)
        return;
    if (!Active())
        Open();
    // The condition is evaluated on a copy: its aggregates become constants
    // that take each group's value.
    TVekExpr having;
    TVekExprNode* root = having.CloneFromTree(HavingRoot);
    std::vector<TVekExprNode*> aggregates;
    CollectAggregateNodes(root, aggregates, 0);
    // An aggregate that is a result column was bound to it (a field node);
    // the others are accumulated here.
    aggregates.erase(std::remove_if(aggregates.begin(), aggregates.end(),
                                    [](TVekExprNode* Node) { return Node->Kind() == enkField; }),
                     aggregates.end());
    TFuncResultList results;
    if (!aggregates.empty())
        AccumulateHavingAggregates(aggregates, results);

    TVekExprDBDataProvider provider;
    provider.Initialize(this);
    provider.SetReadDataFromRecBuf(true);
    TExprEvaluator evaluator;
    evaluator.SetDBStringCompare(GetDBStringCompare());
    // A comparison with a NULL group value is not true: the group goes.
    evaluator.SetExcludeRelopNulls(true);
    evaluator.Prepare(&provider, root);
    // Addresses first: deleting never disturbs the walk.
    std::vector<Cardinal> addresses;
    for (bool more = DataSetFirst(); more; more = DataSetNext())
        addresses.push_back(DatasetGetRecAddr());
    for (Cardinal address : addresses) {
        DataSetSetToUnorderedRecord(address);
        if (!aggregates.empty()) {
            TFuncResultHolder* group = results.GetHolder(address);
            for (std::size_t k = 0; k < aggregates.size(); ++k) {
                TFuncResultItem* item = group ? group->FindFuncResultItem(static_cast<Integer>(k)) : nullptr;
                aggregates[k]->SetData(item ? item->CalculateNumericFuncResult() : Variant::Null());
            }
        }
        evaluator.Reset();
        if (!evaluator.Evaluate())
            DeleteRecord(CurrentBuffer());
    }
    FRowsAffected = GetTotalRecordCount();
    First();
}

void TVekQueryDataset::AccumulateHavingAggregates(std::vector<TVekExprNode*>& Aggregates, TFuncResultList& Results)
{
    ORVEX_ASSERT(FProviderMgr != nullptr && FProviderMgr->RootProvider() != nullptr && FAggFields != nullptr,
                 "FProviderMgr is not assigned");
    TVekBaseJoinDataProvider* rootProvider = FProviderMgr->RootProvider();
    // Each aggregate's argument, evaluated over the source rows.
    std::vector<std::unique_ptr<TResultAggregatePart>> parts;
    for (TVekExprNode* node : Aggregates) {
        auto part = std::make_unique<TResultAggregatePart>();
        part->Node = node;
        part->AggFunc = static_cast<TVekSQLAggFunc>(node->ParserToken()->CustomOrdinal());
        part->Distinct = node->Data().VType() == varBoolean && node->Data().AsBoolean();
        part->AccumulatorNo = static_cast<Integer>(parts.size());
        if (node->Args().empty()) {
            part->CountRows = true;
        } else {
            part->ArgExpr = std::make_unique<TVekExpr>();
            // The argument's columns are the statement's (an outer
            // reference holds the enclosing row's value by now).
            TVekExprNode* arg = part->ArgExpr->CloneFromTree(node->Args()[0]);
            part->ArgType = arg->DataType();
            part->ArgSize = arg->DataSize();
            part->ArgEvaluator = std::make_unique<TExprEvaluator>();
            part->ArgEvaluator->SetExcludeRelopNulls(true);
            part->ArgEvaluator->Prepare(rootProvider, arg);
        }
        parts.push_back(std::move(part));
    }
    // The aggregate nodes become constants set per group.
    for (TVekExprNode* node : Aggregates)
        MakeConstantNode(node);

    // Every group row gets its accumulators; each source row finds its
    // group through the group index (or is the one row without grouping).
    const TDBStringCompare compare = GetDBStringCompare();
    std::vector<Integer> groupFieldNos;
    std::vector<TResultSetField*> groupColumns;
    for (int i = 0; i < FAggFields->Count(); ++i)
        if (!FAggFields->Items(i)->IsAggregate()) {
            groupColumns.push_back(FAggFields->Items(i));
            groupFieldNos.push_back(EngineFieldNo(i));
        }
    for (bool more = DataSetFirst(); more; more = DataSetNext())
        for (auto& part : parts)
            Results.AddNewResultItem(std::string(), DatasetGetRecAddr(), part->Distinct, part->AggFunc,
                                     part->ArgType, part->ArgSize, part->AccumulatorNo)->StringCompare = compare;
    const bool grouped = !FHavingGroupIndex.empty();
    Cardinal single = 0;
    if (!grouped && DataSetFirst())
        single = DatasetGetRecAddr();
    for (bool more = FProviderMgr->FirstProviderRecord(); more; more = FProviderMgr->NextProviderRecord()) {
        Cardinal address = single;
        if (grouped) {
            ClearRecord(CurrentBuffer());
            for (std::size_t i = 0; i < groupColumns.size(); ++i)
                StoreColumnValue(groupColumns[i], groupFieldNos[i]);
            if (!Find(stEQ, FHavingGroupIndex, FLimitedSearch.get()))
                continue;
            address = DatasetGetRecAddr();
        }
        TFuncResultHolder* holder = Results.GetHolder(address);
        if (!holder)
            continue;
        for (auto& part : parts) {
            TFuncResultItem* item = holder->FindFuncResultItem(part->AccumulatorNo);
            if (part->CountRows) {
                item->SetNewValue(Variant(1));
            } else {
                part->ArgEvaluator->Reset();
                item->SetNewValue(part->ArgEvaluator->EvaluateValueExpr());
            }
        }
    }
}

void TVekQueryDataset::PopulateResultSetAddrList(std::vector<Cardinal>& List)
{
    auto* leaf = FProviderMgr ? dynamic_cast<TVekNonJoinDataProvider*>(FProviderMgr->RootProvider()) : nullptr;
    ORVEX_ASSERT(leaf != nullptr && leaf->Bridge() != nullptr, "RootProvider type is incorrect");
    List.clear();
    TVekProviderScan scan(FProviderMgr);
    for (bool more = FProviderMgr->FirstProviderRecord(); more; more = FProviderMgr->NextProviderRecord())
        List.push_back(leaf->Bridge()->GetRecAddr());
}

void TVekQueryDataset::PrepareResultSet()
{
    ORVEX_ASSERT(FProviderMgr != nullptr && FProviderMgr->RootProvider() != nullptr,
                 "FProviderMgr is not assigned");
    if (Active())
        Close();
    TInternalFields* source = FProviderMgr->RootProvider()->GetProviderFields();
    FieldDefs()->Clear();
    IndexDefs()->Clear();
    for (int i = 0; i < source->Count(); ++i) {
        TInternalFieldItem* item = source->GetIndex(i);
        int size = 0;
        if (item->DataType() == ftString)
            size = item->GetWriteableFieldSize();
        else if (item->DataType() == ftBytes)
            size = item->FieldSize();
        FieldDefs()->Add(item->FieldName(), item->DataType(), size, item->Required());
    }
    TResultStoreFactory::Current()->PrepareResultStore(this);
    FIsResultTable = true;
    SetTableName("testres");
    if (Exists())
        DataBase()->DeleteTable(TableName(), Memory());
    CreateResultSetTable();
    Open();
    TVekProviderScan scan(FProviderMgr);
    for (bool more = FProviderMgr->FirstProviderRecord(); more; more = FProviderMgr->NextProviderRecord()) {
        ClearRecord(CurrentBuffer());
        for (int i = 0; i < source->Count(); ++i) {
            FProviderMgr->RootProvider()->GetRawFieldData(source->GetIndex(i)->FieldNo(), FHolder);
            StoreRawValue(EngineFieldNo(i), FHolder);
        }
        AddRecord(false);
    }
    FRowsAffected = GetTotalRecordCount();
    First();
}

void TVekQueryDataset::SetReadOnlyResultFields(TResultSetFields* Fields)
{
    if (!Active())
        return;
    for (int i = 0; i < Fields->Count() && i < this->Fields()->Count(); ++i)
        this->Fields()->Fields(i)->SetReadOnly(Fields->Items(i)->IsComputed());
}

std::string TVekQueryDataset::GetResultSetFieldNameFromSortKey(TResultSetFields* Fields, const std::string& Key) const
{
    if (Key.empty())
        return {};
    if (TJoinFieldItem* column = Fields->FindJoinField(Key))
        return column->FieldName();
    std::string table;
    std::string field = Key;
    if (const auto dot = Key.find('.'); dot != std::string::npos) {
        table = Key.substr(0, dot);
        field = Key.substr(dot + 1);
    }
    for (int i = 0; i < Fields->Count(); ++i) {
        TResultSetField* column = Fields->Items(i);
        if (!AnsiSameText(column->SourceField(), field))
            continue;
        if (table.empty())
            return column->FieldName();
        TVekBaseJoinDataProvider* provider = column->DataProvider;
        if (provider && (AnsiSameText(provider->ProviderName(), table) ||
                         AnsiSameText(provider->CorrelationName(), table)))
            return column->FieldName();
        // A plain column names its table instance through its select item.
        if (column->SelectItem && column->SelectItem->SourceTableItem()) {
            TTableNameItem* source = column->SelectItem->SourceTableItem();
            if (AnsiSameText(source->CorrelationName(), table) ||
                (source->CorrelationName().empty() && AnsiSameText(source->TableName(), table)))
                return column->FieldName();
        }
    }
    return {};
}

// ============================================================= field access

Variant TVekQueryDataset::GetFieldData(Integer FieldNo)
{
    if (IsFieldBlob(FieldNo)) {
        TMemoryStream stream;
        bool isNull = true;
        DataSetGetFieldStream(FieldNo, isNull, &stream);
        if (isNull)
            return Variant::Null();
        std::string text(static_cast<std::size_t>(stream.Size()), '\0');
        stream.Seek(0, soBeginning);
        if (!text.empty())
            stream.ReadBuffer(text.data(), static_cast<Integer>(text.size()));
        return Variant(text);
    }
    return DataSetGetFieldDataAsVariant(FieldNo);
}

void TVekQueryDataset::GetRawFieldData(Integer FieldNo, TDataHolder& Holder)
{
    Holder.ReadField(*this, FieldNo);
}

void TVekQueryDataset::SetResultSetFieldFromVariant(Integer FieldNo, const Variant& Value)
{
    if (!IsFieldBlob(FieldNo)) {
        DataSetSetFieldDataAsVariant(FieldNo, Value);
        return;
    }
    if (Value.IsNull() || Value.IsEmpty()) {
        DataSetSetFieldStream(FieldNo, true, nullptr);
        return;
    }
    const std::string text = VarToStr(Value);
    TMemoryStream stream;
    if (!text.empty())
        stream.WriteBuffer(text.data(), static_cast<Integer>(text.size()));
    stream.Seek(0, soBeginning);
    DataSetSetFieldStream(FieldNo, false, &stream);
}

} // namespace orvex
