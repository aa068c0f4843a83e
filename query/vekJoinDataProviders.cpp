// The bridge, the join columns, the providers and the provider manager.

#include "query/vekJoinDataProviderUnit.h"

#include "dataset/vekDatabase.h"
#include "host/SysUtils.h"
#include "sql/vekFilterUnit.h"
#include "storage/vekCommon.h"

#include <algorithm>
#include <atomic>
#include <exception>

namespace orvex {

const char* const CVekJoinTypeNames[TVekJoinTypeCount] = {
    "jtNone", "jtCrossJoin", "jtUnionJoin", "jtInnerJoin", "jtLeftOuterJoin", "jtRightOuterJoin", "jtFullOuterJoin",
};

const char* JoinMethodName(TJoinMethod Method)
{
    switch (Method) {
    case TJoinMethod::Auto:
        return "Auto";
    case TJoinMethod::Hash:
        return "Hash";
    case TJoinMethod::IndexedRange:
        return "IndexedRange";
    case TJoinMethod::NestedLoop:
        return "NestedLoop";
    }
    return "";
}

// ============================================================ TDataHolder

TDataHolder::TDataHolder() = default;
TDataHolder::~TDataHolder() = default;

TMemoryStream* TDataHolder::Stream()
{
    if (!FStream)
        FStream = std::make_unique<TMemoryStream>();
    return FStream.get();
}

void TDataHolder::ReadField(TVekDataSet& Set, Integer FieldNo)
{
    if (Set.IsFieldBlob(FieldNo)) {
        TMemoryStream* stream = Stream();
        stream->Clear();
        bool isNull = true;
        Set.DataSetGetFieldStream(FieldNo, isNull, stream);
        stream->Seek(0, soBeginning);
        IsNull = isNull;
        Length = static_cast<Integer>(stream->Size());
        Data = nullptr;
        UsesStream = true;
        return;
    }
    bool isNull = true;
    Integer length = 0;
    const Byte* data = nullptr;
    Set.DataSetGetFieldDataByReference(Set.CurrentBuffer(), FieldNo, length, data, isNull);
    IsNull = isNull;
    Length = isNull ? 0 : length;
    Data = data;
    UsesStream = false;
}

// ====================================================== TVekDatasetBridge

TVekDatasetBridge::TVekDatasetBridge(TComponent* AOwner) : TVekBaseTable(AOwner) {}

Variant TVekDatasetBridge::GetFieldDataAsVariant(Integer FieldNo)
{
    if (IsFieldBlob(FieldNo)) {
        TDataHolder holder;
        GetRawFieldData(FieldNo, holder);
        if (holder.IsNull)
            return Variant::Null();
        std::string bytes(static_cast<std::size_t>(holder.Length), '\0');
        holder.Stream()->Seek(0, soBeginning);
        holder.Stream()->Read(bytes.data(), holder.Length);
        return Variant(bytes);
    }
    return DataSetGetFieldDataAsVariant(FieldNo);
}

void TVekDatasetBridge::GetRawFieldData(Integer FieldNo, TDataHolder& Holder)
{
    Holder.ReadField(*this, FieldNo);
}

void DropWorkTable(TVekDataBase* DataBase, std::unique_ptr<TVekDatasetBridge>& Table, const std::string& Name)
{
    if (!Table)
        return;
    if (Table->DataSetIsOpen())
        Table->DataSetClose();
    Table.reset();
    if (DataBase && DataBase->Connected() && DataBase->TableExists(Name, false))
        DataBase->DeleteTable(Name, false);
}

Cardinal TVekDatasetBridge::GetRecAddr() const
{
    return DataSetIsOpen() ? DatasetGetRecAddr() : 0;
}

void TVekDatasetBridge::SetBridgeIndexRange(const std::string& IndexName, const Variant& Low, const Variant& High)
{
    if (!SameText(CurrentIndexName(), IndexName))
        InternalSetIndexName(IndexName);
    const std::string fields = GetIndexFieldsFromKeyFields(CurrentIndexName());
    const std::string first = fields.substr(0, fields.find(';'));
    const Integer fieldNo = GetFieldNo(first);
    DataSetClearRange();
    DataSetSetFieldDataToRecBufAsVariant(GetRangeRecBuf(rmRangeStart), fieldNo, Low);
    DataSetSetFieldDataToRecBufAsVariant(GetRangeRecBuf(rmRangeEnd), fieldNo, High);
    SetRangeOn(true);
}

void TVekDatasetBridge::ClearBridgeRange()
{
    DataSetClearRange();
    SetRangeOn(false);
}

std::vector<std::string> TVekDatasetBridge::IndexesOnField(const std::string& FieldName)
{
    std::vector<std::string> found;
    TStringList names;
    GetIndexNames(&names);
    for (int i = 0; i < names.Count(); ++i) {
        const std::string fields = GetIndexFieldsFromKeyFields(names.Strings(i));
        if (SameText(fields.substr(0, fields.find(';')), FieldName))
            found.push_back(names.Strings(i));
    }
    return found;
}

// ========================================================= join columns

TJoinFieldItem::TJoinFieldItem(TCollection* Collection)
    : TInternalFieldItem(Collection), FEvaluator(std::make_unique<TExprEvaluator>())
{
}

void TJoinFieldItem::Assign(TPersistent* Source)
{
    TInternalFieldItem::Assign(Source);
    if (auto* other = dynamic_cast<TJoinFieldItem*>(Source)) {
        SourceFieldNo = other->SourceFieldNo;
        DataProvider = other->DataProvider;
    }
}

void TJoinFieldItem::PrepareJoinExprEvaluator(TVekExprNode* ExprRoot)
{
    ORVEX_ASSERT(DataProvider != nullptr, "Join Field data provider is not yet assigned");
    FEvaluator->Clear();
    FEvaluator->SetExcludeRelopNulls(true);
    if (ExprRoot)
        FEvaluator->Prepare(DataProvider, ExprRoot);
}

TJoinFields::TJoinFields() : TInternalFields(ItemClassOf<TJoinFieldItem>()) {}

void TJoinFields::Assign(TPersistent* Source)
{
    auto* other = dynamic_cast<TJoinFields*>(Source);
    if (!other) {
        TInternalFields::Assign(Source);
        return;
    }
    if (other == this)
        return;
    Clear();
    for (int i = 0; i < other->Count(); ++i)
        Add()->Assign(other->Items(i));
}

// ============================================== TVekBaseJoinDataProvider

TVekBaseJoinDataProvider::TVekBaseJoinDataProvider() = default;
TVekBaseJoinDataProvider::~TVekBaseJoinDataProvider() = default;

void TVekBaseJoinDataProvider::GetRawFieldData(Integer, TDataHolder& Holder)
{
    Holder.IsNull = true;
    Holder.Length = 0;
    Holder.Data = nullptr;
    Holder.UsesStream = false;
}

void TVekBaseJoinDataProvider::SetJoinSelectExprRoot(TVekExprNode* ExprRoot)
{
    FSelectExpr.reset();
    if (!ExprRoot)
        return;
    FSelectExpr = std::make_unique<TVekExpr>();
    CloneQualified(FSelectExpr.get(), ExprRoot);
}

TVekBaseJoinDataProvider* TVekBaseJoinDataProvider::FindJoinProvider(const std::string& Name)
{
    // Correlation names first over the whole subtree, then names.
    std::vector<TVekNonJoinDataProvider*> leaves;
    CollectLeaves(leaves);
    for (TVekNonJoinDataProvider* leaf : leaves)
        if (!leaf->CorrelationName().empty() && AnsiSameText(leaf->CorrelationName(), Name))
            return leaf;
    for (TVekNonJoinDataProvider* leaf : leaves)
        if (leaf->CorrelationName().empty() && AnsiSameText(leaf->TableName(), Name))
            return leaf;
    for (TVekNonJoinDataProvider* leaf : leaves)
        if (AnsiSameText(leaf->TableName(), Name))
            return leaf;
    if (AnsiSameText(FProviderName, Name))
        return this;
    if (FInner)
        if (TVekBaseJoinDataProvider* found = FInner->FindJoinProvider(Name))
            return found;
    if (FOuter)
        return FOuter->FindJoinProvider(Name);
    return nullptr;
}

TVekExprDataProvider* TVekBaseJoinDataProvider::FindProvider(const std::string& Name)
{
    return FindJoinProvider(Name);
}

void TVekBaseJoinDataProvider::DebugDumpProviderNames(const std::string& Indent, TStrings* Lines)
{
    if (FOuter) {
        Lines->Add(Indent + "outer ->");
        FOuter->DebugDumpProviderNames(Indent + Indent, Lines);
    }
    Lines->Add(Indent + FProviderName);
    if (FInner) {
        Lines->Add(Indent + "inner ->");
        FInner->DebugDumpProviderNames(Indent + Indent, Lines);
    }
}

// =============================================== TVekNonJoinDataProvider

TVekNonJoinDataProvider::TVekNonJoinDataProvider() { SetJoinType(jtInnerJoin); }
TVekNonJoinDataProvider::~TVekNonJoinDataProvider() = default;

void TVekNonJoinDataProvider::OpenProvider()
{
    ORVEX_ASSERT(FBridge != nullptr, "The data bridge is not assigned");
    if (!FBridge->DataSetIsOpen())
        FBridge->DataSetOpen();
    // A bridge kept open from an earlier plan stands on the index it opened
    // with, as a fresh one does.
    if (FOriginalIndexName.empty())
        FOriginalIndexName = FBridge->CurrentIndexName();
    // The provider's fields: the table's, numbered by their engine field
    // numbers, so that an evaluator reads them straight from the bridge.
    TInternalFields* own = TVekExprDataProvider::GetProviderFields();
    own->Clear();
    TInternalFields* source = FBridge->GetInternalFields();
    for (int i = 0; i < source->Count(); ++i) {
        TInternalFieldItem* item = own->Add();
        item->Assign(source->GetIndex(i));
        item->SetFieldNo(source->GetIndex(i)->FieldIndex());
    }
    TVekBaseJoinDataProvider::OpenProvider();
    PrepareSelection();
}

TInternalFields* TVekNonJoinDataProvider::GetProviderFields()
{
    return TVekExprDataProvider::GetProviderFields();
}

void TVekNonJoinDataProvider::PrepareSelection()
{
    FSelection.reset();
    FSelectionOptLevel = olNone;
    if (!SelectRoot() || !IsOpen())
        return;
    // The table's filter engine answers the selection (from its indexes
    // where it can): the bridge then moves only over passing records.
    TVekFilterExprDriver driver;
    driver.SetFilterExpr(FSelectExpr.get());
    driver.SetExcludeRelopNulls(true);
    driver.SetOverwriteExpr(false);
    if (FBridge->AssignFilterExpr(&driver)) {
        FSelectionOptLevel = driver.ExprOptimizationLevel();
        return;
    }
    // Else every record is evaluated as it is read.
    FSelection = std::make_unique<TExprEvaluator>();
    FSelection->SetExcludeRelopNulls(true);
    FSelection->SetDBStringCompare(DBStringCompare());
    FSelection->Prepare(this, SelectRoot());
}

void TVekNonJoinDataProvider::SetSelectExpr(bool, const std::string&)
{
    ORVEX_ASSERT(FBridge != nullptr, "The data bridge is not assigned");
    if (!IsOpen())
        OpenProvider();
    PrepareSelection();
}

void TVekNonJoinDataProvider::SetJoinSelectExprRoot(TVekExprNode* ExprRoot)
{
    TVekBaseJoinDataProvider::SetJoinSelectExprRoot(ExprRoot);
    PrepareSelection();
}

bool TVekNonJoinDataProvider::RowPassesSelection()
{
    if (!FSelection)
        return true;
    FSelection->Reset();
    return FSelection->EvaluatePasses();
}

bool TVekNonJoinDataProvider::SkipToPassingRow(bool Found)
{
    FHasRow = Found;
    while (FHasRow && !RowPassesSelection())
        FHasRow = FBridge->NextBridgeRecord();
    return FHasRow;
}

bool TVekNonJoinDataProvider::FirstProviderRecord()
{
    if (!IsOpen())
        OpenProvider();
    return SkipToPassingRow(FBridge->FirstBridgeRecord());
}

bool TVekNonJoinDataProvider::NextProviderRecord()
{
    if (!FHasRow)
        return false;
    return SkipToPassingRow(FBridge->NextBridgeRecord());
}

bool TVekNonJoinDataProvider::LastProviderRecord()
{
    if (!IsOpen())
        OpenProvider();
    FHasRow = FBridge->LastBridgeRecord();
    while (FHasRow && !RowPassesSelection())
        FHasRow = FBridge->DataSetPrior();
    return FHasRow;
}

bool TVekNonJoinDataProvider::MoveToRecordAddress(Cardinal Address, bool CheckSelection)
{
    FBridge->MoveToRecAddr(Address);
    FHasRow = true;
    if (!CheckSelection || RowPassesSelection())
        return true;
    FHasRow = false;
    return false;
}

void TVekNonJoinDataProvider::SetSearchRange(const std::string& IndexName, const Variant& Value)
{
    FBridge->SetBridgeIndexRange(IndexName, Value, Value);
    FSearchRangeOn = true;
}

void TVekNonJoinDataProvider::ClearSearchRange()
{
    if (!FSearchRangeOn)
        return;
    FBridge->ClearBridgeRange();
    if (!FOriginalIndexName.empty() && !SameText(FBridge->CurrentIndexName(), FOriginalIndexName))
        FBridge->InternalSetIndexName(FOriginalIndexName);
    FSearchRangeOn = false;
}

Integer TVekNonJoinDataProvider::GetRecordCount()
{
    ORVEX_ASSERT(FBridge != nullptr, "The data bridge is not assigned");
    const bool wasOpen = FBridge->DataSetIsOpen();
    if (!wasOpen)
        FBridge->DataSetOpen();
    const Integer count = FBridge->GetTotalBridgeRecordCount();
    if (!wasOpen)
        FBridge->DataSetClose();
    return count;
}

std::string TVekNonJoinDataProvider::CurrentRecordIDAsString()
{
    if (!FBridge || !FBridge->DataSetIsOpen() || ForcedNull() || !FHasRow)
        return {};
    return std::to_string(FBridge->GetRecAddr());
}

TVekBaseJoinDataProvider* TVekNonJoinDataProvider::FindJoinProvider(const std::string& Name)
{
    return AnsiSameText(CorrelationName(), Name) || AnsiSameText(ProviderName(), Name) ||
                   AnsiSameText(FTableName, Name)
               ? this
               : nullptr;
}

Variant TVekNonJoinDataProvider::GetDataAsVariant(Integer FieldNo)
{
    if (ForcedNull() || !FHasRow)
        return Variant::Null();
    return FBridge->GetFieldDataAsVariant(FieldNo);
}

bool TVekNonJoinDataProvider::IsFieldNull(Integer FieldNo)
{
    if (ForcedNull() || !FHasRow)
        return true;
    return GetDataAsVariant(FieldNo).IsNull();
}

void TVekNonJoinDataProvider::GetRawFieldData(Integer FieldNo, TDataHolder& Holder)
{
    if (ForcedNull() || !FHasRow) {
        TVekBaseJoinDataProvider::GetRawFieldData(FieldNo, Holder);
        return;
    }
    FBridge->GetRawFieldData(FieldNo, Holder);
}

TInternalFieldItem* TVekNonJoinDataProvider::FindField(const TParserToken*, const std::string& Name)
{
    return TVekExprDataProvider::GetProviderFields()->FindField(Name);
}

// =============================================== TVekStdJoinDataProvider

TVekStdJoinDataProvider::TVekStdJoinDataProvider()
    : FAnalyser(std::make_unique<TJoinAnalyser>()), FEvaluator(std::make_unique<TJoinEvaluator>(this))
{
}

TVekStdJoinDataProvider::~TVekStdJoinDataProvider() = default;

void TVekStdJoinDataProvider::SetJoinExprRoot(TVekExprNode* Root)
{
    FJoinExpr.reset();
    if (!Root)
        return;
    FJoinExpr = std::make_unique<TVekExpr>();
    CloneQualified(FJoinExpr.get(), Root);
}

void TVekStdJoinDataProvider::CheckProviders() const
{
    ORVEX_ASSERT(OuterProvider() != nullptr && InnerProvider() != nullptr, "Right provider has not been set");
}

void TVekStdJoinDataProvider::SetSelectExpr(bool EnforceOrder, const std::string& OrderIndexName)
{
    CheckProviders();
    InnerProvider()->SetSelectExpr(EnforceOrder, OrderIndexName);
    OuterProvider()->SetSelectExpr(EnforceOrder, OrderIndexName);
}

void TVekStdJoinDataProvider::PrepareInternalFields()
{
    FFields.Clear();
    auto addFrom = [this](TVekBaseJoinDataProvider* Provider, bool Inner) {
        TInternalFields* source = Provider->GetProviderFields();
        for (int i = 0; i < source->Count(); ++i) {
            TInternalFieldItem* field = source->GetIndex(i);
            TJoinFieldItem* item = FFields.Add();
            item->TInternalFieldItem::Assign(field);
            item->SetFieldName("");
            std::string name = field->FieldName();
            while (Inner && FFields.FindField(name) != nullptr)
                name = Provider->ProviderName() + "." + name;
            item->SetFieldName(name);
            item->SourceFieldNo = field->FieldNo();
            item->DataProvider = Provider;
            item->SetFieldNo(FFields.Count() - 1);
        }
    };
    addFrom(OuterProvider(), false);
    addFrom(InnerProvider(), true);
}

void TVekStdJoinDataProvider::OpenProvider()
{
    ORVEX_ASSERT(JoinType() != jtNone, "Join type has not been set");
    CheckProviders();
    InnerProvider()->SetDBStringCompare(DBStringCompare());
    OuterProvider()->SetDBStringCompare(DBStringCompare());
    InnerProvider()->OpenProvider();
    OuterProvider()->OpenProvider();
    PrepareInternalFields();
    FAnalyser->Prepare(this, OuterProvider(), InnerProvider(), JoinRoot(), JoinType());
    FEvaluator->AnalyseAndOpenJoin(FAnalyser.get());
    TVekBaseJoinDataProvider::OpenProvider();
}

bool TVekStdJoinDataProvider::FirstProviderRecord()
{
    if (!IsOpen())
        OpenProvider();
    return FEvaluator->FirstRecord();
}

bool TVekStdJoinDataProvider::NextProviderRecord()
{
    return FEvaluator->NextRecord();
}

void TVekStdJoinDataProvider::SetForcedNull(bool Value)
{
    TVekBaseJoinDataProvider::SetForcedNull(Value);
    if (OuterProvider())
        OuterProvider()->SetForcedNull(Value);
    if (InnerProvider())
        InnerProvider()->SetForcedNull(Value);
}

std::string TVekStdJoinDataProvider::CurrentRecordIDAsString()
{
    if (ForcedNull())
        return {};
    return OuterProvider()->CurrentRecordIDAsString() + "," + InnerProvider()->CurrentRecordIDAsString();
}

void TVekStdJoinDataProvider::CollectLeaves(std::vector<TVekNonJoinDataProvider*>& Leaves)
{
    if (OuterProvider())
        OuterProvider()->CollectLeaves(Leaves);
    if (InnerProvider())
        InnerProvider()->CollectLeaves(Leaves);
}

Variant TVekStdJoinDataProvider::GetDataAsVariant(Integer FieldNo)
{
    if (ForcedNull() || FieldNo < 0 || FieldNo >= FFields.Count())
        return Variant::Null();
    TJoinFieldItem* item = FFields.Items(FieldNo);
    return item->DataProvider->GetDataAsVariant(item->SourceFieldNo);
}

void TVekStdJoinDataProvider::GetRawFieldData(Integer FieldNo, TDataHolder& Holder)
{
    if (ForcedNull() || FieldNo < 0 || FieldNo >= FFields.Count()) {
        TVekBaseJoinDataProvider::GetRawFieldData(FieldNo, Holder);
        return;
    }
    TJoinFieldItem* item = FFields.Items(FieldNo);
    item->DataProvider->GetRawFieldData(item->SourceFieldNo, Holder);
}

TInternalFieldItem* TVekStdJoinDataProvider::FindField(const TParserToken* Token, const std::string& Name)
{
    if (Token)
        if (TVekBaseJoinDataProvider* provider = FindJoinProvider(Token->Text()); provider && provider != this)
            return provider->FindField(Token, Name);
    return FFields.FindField(Name);
}

// =============================================== TVekJoinDataProviderMgr

namespace {
std::atomic<TJoinMethod> GDefaultForcedJoinMethod{TJoinMethod::Auto};
} // namespace

TVekJoinDataProviderMgr::TVekJoinDataProviderMgr()
    : FStringCompare(DBANSICompareStrings), FForcedMethod(GDefaultForcedJoinMethod.load())
{
}

void TVekJoinDataProviderMgr::SetDefaultForcedJoinMethod(TJoinMethod Value)
{
    GDefaultForcedJoinMethod = Value;
}

TJoinMethod TVekJoinDataProviderMgr::DefaultForcedJoinMethod()
{
    return GDefaultForcedJoinMethod.load();
}

TVekJoinDataProviderMgr::~TVekJoinDataProviderMgr()
{
    FKeepTablesOpen = false;
    Clear();
}

void TVekJoinDataProviderMgr::SetDBStringCompare(TDBStringCompare Value)
{
    FStringCompare = std::move(Value);
}

TVekStdJoinDataProvider* TVekJoinDataProviderMgr::GetStdJoinProvider()
{
    ORVEX_ASSERT(FDatabase != nullptr, "Database is not assigned");
    FStdProviders.push_back(std::make_unique<TVekStdJoinDataProvider>());
    TVekStdJoinDataProvider* provider = FStdProviders.back().get();
    provider->SetDBStringCompare(FStringCompare);
    provider->SetForcedMethod(FForcedMethod);
    return provider;
}

TVekNonJoinDataProvider* TVekJoinDataProviderMgr::GetNonJoinProvider(const std::string& TableName,
                                                                    const std::string& CorrelationName, bool Memory)
{
    ORVEX_ASSERT(FDatabase != nullptr, "Database is not assigned");
    const auto idle = std::find_if(FIdleBridges.begin(), FIdleBridges.end(), [&](const auto& Bridge) {
        return Bridge->DataBase() == FDatabase && Bridge->Memory() == Memory && Bridge->TableName() == TableName;
    });
    if (idle != FIdleBridges.end()) {
        FBridges.push_back(std::move(*idle));
        FIdleBridges.erase(idle);
    } else {
        FBridges.push_back(std::make_unique<TVekDatasetBridge>(nullptr));
    }
    TVekDatasetBridge* bridge = FBridges.back().get();
    if (!bridge->DataSetIsOpen()) {
        bridge->SetDataBase(FDatabase);
        bridge->SetTableName(TableName);
        bridge->SetMemory(Memory);
        bridge->SetInQuery(true);
    }
    FLeaves.push_back(std::make_unique<TVekNonJoinDataProvider>());
    TVekNonJoinDataProvider* leaf = FLeaves.back().get();
    leaf->SetBridge(bridge);
    leaf->SetTableName(TableName);
    leaf->SetCorrelationName(CorrelationName);
    leaf->SetProviderName(CorrelationName.empty() ? TableName : CorrelationName);
    leaf->SetDBStringCompare(FStringCompare);
    return leaf;
}

void TVekJoinDataProviderMgr::Clear()
{
    // The bridges leave the plan: a running scan's locks on them go first.
    try {
        ReleaseScanLocks();
    } catch (...) {
    }
    FResidual.reset();
    FResidualExpr.reset();
    FRoot = nullptr;
    FStdProviders.clear();
    if (FKeepTablesOpen)
        // Back to the index each bridge opened with, without a range.
        for (auto& leaf : FLeaves)
            if (leaf->Bridge() && leaf->Bridge()->DataSetIsOpen())
                leaf->ClearSearchRange();
    FLeaves.clear();
    for (auto& bridge : FBridges) {
        if (!bridge->DataSetIsOpen())
            continue;
        if (FKeepTablesOpen) {
            bridge->FilterMgr()->CloseFilter();
            FIdleBridges.push_back(std::move(bridge));
        } else {
            bridge->DataSetClose();
        }
    }
    FBridges.clear();
    if (!FKeepTablesOpen)
        SetKeepTablesOpen(false);
}

void TVekJoinDataProviderMgr::SetKeepTablesOpen(bool Value)
{
    FKeepTablesOpen = Value;
    if (Value)
        return;
    for (auto& bridge : FIdleBridges)
        if (bridge->DataSetIsOpen())
            bridge->DataSetClose();
    FIdleBridges.clear();
}

void TVekJoinDataProviderMgr::OpenProviders()
{
    ORVEX_ASSERT(FRoot != nullptr, "Root provider is not assigned");
    FRoot->OpenProvider();
    if (FRoot->IsSingleTable())
        FRoot->SetSelectExpr(false, "");
    if (FResidualExpr && !FResidual) {
        FResidual = std::make_unique<TExprEvaluator>();
        FResidual->SetExcludeRelopNulls(true);
        FResidual->SetDBStringCompare(FStringCompare);
        FResidual->Prepare(FRoot, FResidualExpr->FirstNode());
    }
}

void TVekJoinDataProviderMgr::PrepareJoinExprEvaluator(TVekExprNode* ExprRoot)
{
    FResidual.reset();
    FResidualExpr.reset();
    if (!ExprRoot)
        return;
    FResidualExpr = std::make_unique<TVekExpr>();
    CloneQualified(FResidualExpr.get(), ExprRoot);
    if (FRoot && FRoot->IsOpen()) {
        FResidual = std::make_unique<TExprEvaluator>();
        FResidual->SetExcludeRelopNulls(true);
        FResidual->SetDBStringCompare(FStringCompare);
        FResidual->Prepare(FRoot, FResidualExpr->FirstNode());
    }
}

bool TVekJoinDataProviderMgr::RowPassesResidual()
{
    if (!FResidual)
        return true;
    FResidual->Reset();
    // The terms of an AND at the top stop at the first that is not true: a
    // costly term (a correlated subquery) after a cheap one that rejects
    // the row is not run for nothing.
    return FResidual->EvaluatePasses();
}

bool TVekJoinDataProviderMgr::FirstProviderRecord()
{
    ORVEX_ASSERT(FRoot != nullptr, "Root provider is not assigned");
    if (!FRoot->IsOpen())
        OpenProviders();
    if (FScanDepth > 0)
        HoldScanLocks();
    bool found = FRoot->FirstProviderRecord();
    while (found && !RowPassesResidual())
        found = FRoot->NextProviderRecord();
    return found;
}

bool TVekJoinDataProviderMgr::NextProviderRecord()
{
    ORVEX_ASSERT(FRoot != nullptr, "Root provider is not assigned");
    bool found = FRoot->NextProviderRecord();
    while (found && !RowPassesResidual())
        found = FRoot->NextProviderRecord();
    return found;
}

void TVekJoinDataProviderMgr::HoldScanLocks()
{
    for (auto& bridge : FBridges) {
        if (!bridge->DataSetIsOpen() || bridge->HoldsLock() || bridge->Memory() || !bridge->DataBase() ||
            bridge->DataBase()->IsMemory())
            continue;
        bridge->ReadLockTable();
        FScanLocked.push_back(bridge.get());
    }
}

void TVekJoinDataProviderMgr::ReleaseScanLocks()
{
    // Every lock goes back, even when one of them fails to.
    std::exception_ptr failure;
    while (!FScanLocked.empty()) {
        TVekDatasetBridge* bridge = FScanLocked.back();
        FScanLocked.pop_back();
        try {
            bridge->UnlockTable();
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    }
    if (failure)
        std::rethrow_exception(failure);
}

void TVekJoinDataProviderMgr::EndScan()
{
    if (FScanDepth > 0 && --FScanDepth == 0)
        ReleaseScanLocks();
}

TVekProviderScan::~TVekProviderScan()
{
    if (!FMgr)
        return;
    try {
        FMgr->EndScan();
    } catch (...) {
        // A lock that cannot be given back goes with the connection; the
        // scan's own outcome is the one to report.
    }
}

void TVekJoinDataProviderMgr::DebugDumpProviderStatus(TStrings* Lines)
{
    if (!FRoot) {
        Lines->Add("Root provider is nil");
        return;
    }
    FRoot->DebugDumpProviderNames("  ", Lines);
}

// ======================================================= field qualifiers

namespace {

void QualifyNode(TVekExpr* Expr, TVekExprNode* Node, int Depth)
{
    if (!Node)
        return;
    ORVEX_ASSERT(Depth <= MaxExprTreeHeight + 1, "Expression tree too deep");
    if (Node->Kind() == enkField && Node->SourceTables()->Count() > 0) {
        // The instance the parser resolved the field against, by the name
        // that finds it first (a qualifier may have named it by its table).
        const TTableNameItem* table = Node->SourceTables()->Items(0);
        TParserToken token;
        token.AssignToken(Node->TokenArgs().empty() ? Node->ParserToken() : Node->TokenArgs()[0]);
        token.SetToken(vstTableName);
        token.SetText(table->CorrelationName().empty() ? table->TableName() : table->CorrelationName());
        if (Node->TokenArgs().empty())
            Node->TokenArgs().push_back(Expr->AdoptToken(&token));
        else
            Node->TokenArgs()[0] = Expr->AdoptToken(&token);
    }
    for (TVekExprNode* arg : Node->Args())
        QualifyNode(Expr, arg, Depth + 1);
    QualifyNode(Expr, Node->Left(), Depth + 1);
    QualifyNode(Expr, Node->Right(), Depth + 1);
}

} // namespace

void QualifyFieldNodes(TVekExpr* Expr, TVekExprNode* Root)
{
    QualifyNode(Expr, Root, 0);
}

TVekExprNode* CloneQualified(TVekExpr* Expr, const TVekExprNode* Root)
{
    TVekExprNode* copy = Expr->CloneFromTree(Root);
    QualifyFieldNodes(Expr, copy);
    return copy;
}

} // namespace orvex
