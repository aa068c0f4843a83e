// Filters by expression: the table's data provider, its filter evaluator,
// the filter manager's lists and moves, and the dataset's moves through
// them.

#include "dataset/vekDataSetFilter.h"

#include "sql/vekFilterOptimizer.h"

#include "storage/vekByteOrder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace orvex {

namespace {

constexpr Integer ErrInternal = 8581;

// The (address, position) pairs of List, sorted by address.
void BuildIndex(const std::vector<Cardinal>& List, std::vector<std::pair<Cardinal, int>>& Index)
{
    Index.clear();
    Index.reserve(List.size());
    for (std::size_t I = 0; I < List.size(); ++I)
        Index.emplace_back(List[I], static_cast<int>(I));
    std::sort(Index.begin(), Index.end());
}

int Lookup(const std::vector<std::pair<Cardinal, int>>& Index, Cardinal Address)
{
    auto It = std::lower_bound(Index.begin(), Index.end(), std::make_pair(Address, -1));
    return It != Index.end() && It->first == Address ? It->second : -1;
}

} // namespace

// ======================================================== data provider

void TVekExprDBDataProvider::Initialize(TVekDataSet* Table)
{
    if (!Table)
        VekDatabaseError(ErrInternal, "TVekExprDBDataProvider.Initialize",
                         "ExprDBDataProvider - source table is not assigned", nullptr);
    FTable = Table;
    // The evaluator asks for a field by its FieldNo: here the engine field
    // number the dataset reads by.
    TInternalFields* Fields = ProviderFields();
    Fields->Assign(Table->GetInternalFields());
    for (int I = 0; I < Fields->Count(); ++I)
        Fields->GetIndex(I)->SetFieldNo(Fields->GetIndex(I)->FieldIndex());
    Refresh();
}

void TVekExprDBDataProvider::Refresh()
{
    SetDBStringCompare(FTable->IndexManager()->DBStringCompare());
    FFilterBuf.assign(static_cast<std::size_t>(FTable->EngineBufferSize()), 0);
    FEventBuf.assign(static_cast<std::size_t>(FTable->EngineBufferSize()), 0);
    SetHasPassFilterEvent(FTable->HasRecordEvent());
    FBlobFields.assign(static_cast<std::size_t>(FTable->GetInternalFieldCount()), false);
    for (std::size_t I = 0; I < FBlobFields.size(); ++I)
        FBlobFields[I] = FTable->IsFieldBlob(static_cast<Integer>(I));
}

void TVekExprDBDataProvider::Open()
{
    SetHasPassFilterEvent(FTable->HasRecordEvent());
}

const Byte* TVekExprDBDataProvider::DataBuffer()
{
    return FReadDataFromRecBuf ? FTable->CurrentBuffer() : FFilterBuf.data();
}

bool TVekExprDBDataProvider::IsBlob(Integer FieldNo) const
{
    return FieldNo >= 0 && FieldNo < static_cast<Integer>(FBlobFields.size()) &&
           FBlobFields[static_cast<std::size_t>(FieldNo)];
}

Variant TVekExprDBDataProvider::GetDataAsVariant(Integer FieldNo)
{
    if (IsBlob(FieldNo)) {
        if (!FTable->IsFieldTextBlob(FieldNo))
            return Variant::Null();
        TMemoryStream Stream;
        bool IsNull = true;
        FTable->DataSetGetFieldStreamFromRecBuf(DataBuffer(), FieldNo, IsNull, &Stream);
        if (IsNull || Stream.Size() == 0)
            return Variant::Null();
        return Variant(std::string(static_cast<const char*>(Stream.Memory()), static_cast<std::size_t>(Stream.Size())));
    }
    return FTable->DataSetGetFieldDataFromRecBufAsVariant(DataBuffer(), FieldNo);
}

std::size_t TVekExprDBDataProvider::RawRecordSize() const
{
    return std::min(FFilterBuf.size(), static_cast<std::size_t>(std::max<Integer>(0, FTable->EngineBufferSize())));
}

bool TVekExprDBDataProvider::RawFieldLayout(Integer FieldNo, TRawFieldLayout& Layout)
{
    TInternalFields* Fields = FTable->GetInternalFields();
    if (FieldNo < 0 || FieldNo >= Fields->Count() || IsBlob(FieldNo))
        return false;
    const TInternalFieldItem* Item = Fields->GetField(FieldNo);
    if (IsBlobFieldType(Item->DataType()) || (Item->IsVariable() && Item->SizeMarkerOffset() <= 0))
        return false;
    Layout.DataType = Item->DataType();
    Layout.NullFlagOffset = Item->NullFlagOffset();
    Layout.ValueFlag = nfValue;
    Layout.DataOffset = Item->DataOffset();
    Layout.Size = Item->FieldSize();
    Layout.SizeMarkerOffset = Item->IsVariable() ? Item->SizeMarkerOffset() : -1;
    return true;
}

bool TVekExprDBDataProvider::IsFieldNull(Integer FieldNo)
{
    if (IsBlob(FieldNo))
        return GetDataAsVariant(FieldNo).IsNull();
    return FTable->GetIsFieldNullFromRecBuf(FieldNo, DataBuffer());
}

void TVekExprDBDataProvider::GetDefaultRecordList(TCompoundList* List)
{
    SetBaseRecNo(FTable->InternalPrepareMasterRecordList(List));
}

void TVekExprDBDataProvider::GetDefaultAddressList(std::vector<Cardinal>& Addresses)
{
    SetBaseRecNo(FTable->InternalPrepareMasterAddressList(Addresses));
}

bool TVekExprDBDataProvider::GetStorageOrderSlots(std::vector<Cardinal>& Slots, Integer& IndexCount)
{
    return FTable->ListRecordSlots(Slots, IndexCount);
}

void TVekExprDBDataProvider::GetLeadingAddresses(std::vector<Cardinal>& Addresses, Integer Limit)
{
    FTable->InternalPrepareMasterAddressList(Addresses, Limit);
}

bool TVekExprDBDataProvider::MoveToRecord(Integer Address)
{
    const Cardinal At = static_cast<Cardinal>(Address);
    FTable->ReadRecordBuffer(At, FFilterBuf.data());
    return TakeRecordRead(At);
}

bool TVekExprDBDataProvider::TakeRecordRead(Cardinal Address)
{
    if (FFilterBuf[rpoStatus] == 0)
        return false;
    Byte* Extra = FFilterBuf.data() + FTable->InternalGetRecordSize();
    WriteLE32(Extra + eioRecAddr, Address);
    WriteLE32(Extra + eioRecNo, 0);
    WriteLE32(Extra + eioKeyFlag, kfOrdinary);
    return true;
}

void TVekExprDBDataProvider::ScanRecords(const Cardinal* Addresses, std::size_t Count,
                                         const std::function<void(std::size_t)>& Visit)
{
    FTable->ReadRecordBuffers(Addresses, Count, FFilterBuf.data(), [&](std::size_t I) {
        if (TakeRecordRead(Addresses[I]))
            Visit(I);
    });
}

TInternalFieldItem* TVekExprDBDataProvider::FindField(const TParserToken*, const std::string& Name)
{
    return ProviderFields()->FindField(Name);
}

bool TVekExprDBDataProvider::PassFilterEvent(Integer Address)
{
    if (!FTable->HasRecordEvent())
        return true;
    const Cardinal At = static_cast<Cardinal>(Address);
    FTable->ReadRecordBuffer(At, FEventBuf.data());
    Byte* Extra = FEventBuf.data() + FTable->InternalGetRecordSize();
    WriteLE32(Extra + eioRecAddr, At);
    WriteLE32(Extra + eioRecNo, 0);
    WriteLE32(Extra + eioKeyFlag, kfOrdinary);
    return FTable->RecordFilter(FEventBuf.data());
}

void TVekExprDBDataProvider::CopyFilterBufFromRecBuf()
{
    std::memcpy(FFilterBuf.data(), FTable->CurrentBuffer(), FFilterBuf.size());
}

// ============================================================ evaluator

TVekFilterEvaluator::TVekFilterEvaluator(TVekDataSet* Table)
    : FProvider(std::make_unique<TVekExprDBDataProvider>()), FTableList(std::make_unique<TTableList>())
{
    FProvider->Initialize(Table);
    SetDataProvider(FProvider.get());
    TTableNameItem* Item = FTableList->Add();
    Item->SetTableName(Table->TableName());
    Item->SetTableFields(Table->GetInternalFields());
    SetTables(FTableList.get());
    // The filter optimiser answers from the table's open indexes, taken
    // afresh for every analysis (indexes come and go with restructures).
    TVekExprDBDataProvider* Provider = FProvider.get();
    SetIndexAnswerer(std::make_unique<TFilterOptimizerAnswerer>([Provider](TIndexQueryMgr* Registry) {
        TIndexManager* Indexes = Provider->GetIndexMgr();
        if (!Indexes)
            return;
        for (int I = 0; I < Indexes->Count(); ++I) {
            TIndexItem* Index = Indexes->GetItems(I);
            if (Index->IsOpen() && Index->KeyFields()->Count() > 0)
                Registry->Add(Index->IndexName(), Index->KeyFields(), Index->Tree());
        }
    }));
}

TVekFilterEvaluator::~TVekFilterEvaluator() = default;

// ======================================================= filter manager

TFilterMgr::TFilterMgr(TVekDataSet* DataSet) : FDataSet(DataSet) {}

TFilterMgr::~TFilterMgr() = default;

TVekExprDBDataProvider* TFilterMgr::GetDataProvider() const
{
    return FExprFilter ? FExprFilter->Provider() : nullptr;
}

void TFilterMgr::CloseFilter()
{
    FActive = false;
    FStale = false;
    FAssigned = false;
    FExprFilter.reset();
    FList.clear();
    FMaster.clear();
    FPassing.clear();
    FOrderPending = false;
    FListIndex.clear();
    FMasterIndex.clear();
    FListIndexValid = FMasterIndexValid = false;
    FEventCount = -1;
}

bool TFilterMgr::OpenFilter()
{
    CloseFilter();
    FErrors.clear();
    ORVEX_ASSERT(FDataSet != nullptr, "Filter allocation error. Current Filter has not been assigned");
    auto Evaluator = std::make_unique<TVekFilterEvaluator>(FDataSet);
    Evaluator->SetFilterText(FFilterText);
    Evaluator->SetFilterOptions(FFilterOptions);
    Evaluator->SetSortedOutput(FOrdered);
    Evaluator->SetExcludeRelopNulls(FExcludeRelopNulls);
    Evaluator->SetQueryActive(FQueryActive);
    Evaluator->SetForcePerRecord(FForcePerRecord);
    Evaluator->SetTypedEvaluation(FTypedEvaluation);
    Evaluator->SetAllowStorageOrder(!HasRecordEvent());
    // The lists of the filter before fill again.
    Evaluator->SwapLists(FList, FMaster);
    bool Opened = false;
    FDataSet->UnderReadLock([&] { Opened = Evaluator->Open(); });
    if (!Opened) {
        FErrors = Evaluator->GetErrors();
        return false;
    }
    FExprFilter = std::move(Evaluator);
    FActive = true;
    TakeLists();
    return true;
}

bool TFilterMgr::AssignExpr(TVekFilterExprDriver* Driver)
{
    // The table's own filter (when one is open) combines with the selection.
    std::unique_ptr<TVekFilterEvaluator> Evaluator = std::move(FExprFilter);
    CloseFilter();
    FErrors.clear();
    if (!Evaluator) {
        Evaluator = std::make_unique<TVekFilterEvaluator>(FDataSet);
        Evaluator->SetFilterOptions(FFilterOptions);
    }
    Evaluator->SetSortedOutput(FOrdered);
    Evaluator->SetExcludeRelopNulls(FExcludeRelopNulls);
    Evaluator->SetQueryActive(FQueryActive);
    Evaluator->SetForcePerRecord(FForcePerRecord);
    Evaluator->SetTypedEvaluation(FTypedEvaluation);
    Evaluator->SetAllowStorageOrder(false);
    bool Assigned = false;
    FDataSet->UnderReadLock([&] { Assigned = Evaluator->AssignExpr(Driver, veoAND); });
    if (!Assigned) {
        FErrors = Evaluator->GetErrors();
        return false;
    }
    FExprFilter = std::move(Evaluator);
    if (Driver->AssessExprOnly())
        return true;
    FActive = true;
    FAssigned = true;
    TakeLists();
    return true;
}

void TFilterMgr::RefreshDataProvider()
{
    if (FExprFilter)
        FExprFilter->Provider()->Refresh();
    FEventCount = -1;
}

void TFilterMgr::TakeLists()
{
    // The evaluator's lists become the manager's; the manager's old ones go
    // to the evaluator, whose next evaluation fills them again.
    FExprFilter->SwapLists(FList, FMaster);
    FListIndexValid = FMasterIndexValid = false;
    FEventCount = -1;
    FStale = false;
    FOrderPending = FExprFilter->StorageOrderResult();
    FPassing.clear();
    if (FOrderPending)
        FPassing.swap(FList);
}

void TFilterMgr::EnsureOrder()
{
    if (!FOrderPending)
        return;
    // The current index's records (every record: no range is on), those
    // that passed kept in its order.
    FOrderPending = false;
    FExprFilter->Provider()->GetDefaultAddressList(FMaster);
    FList.clear();
    FList.reserve(FPassing.size());
    for (Cardinal Address : FMaster)
        if (std::binary_search(FPassing.begin(), FPassing.end(), Address))
            FList.push_back(Address);
    FPassing.clear();
    FListIndexValid = FMasterIndexValid = false;
}

bool TFilterMgr::InList(Cardinal Address)
{
    if (FOrderPending)
        return std::binary_search(FPassing.begin(), FPassing.end(), Address);
    return ListIndexOf(Address) >= 0;
}

void TFilterMgr::EnsureCurrent()
{
    if (!FActive || !FStale)
        return;
    if (FAssigned) {
        // A selection of the query side is the answer at the time it was
        // made; the query asks again when it needs to.
        FStale = false;
        return;
    }
    FExprFilter->Provider()->Refresh();
    FExprFilter->SetForcePerRecord(FForcePerRecord);
    FExprFilter->SetTypedEvaluation(FTypedEvaluation);
    FExprFilter->SetAllowStorageOrder(!HasRecordEvent());
    if (!FExprFilter->Open()) {
        const std::string Errors = FExprFilter->GetErrors();
        CloseFilter();
        FErrors = Errors;
        VekDatabaseError(10051, "TFilterMgr.ResetFilter", Errors, FDataSet);
    }
    TakeLists();
}

bool TFilterMgr::HasRecordEvent() const
{
    return FDataSet && FDataSet->HasRecordEvent();
}

bool TFilterMgr::PassesEvent(Cardinal Address)
{
    if (!HasRecordEvent())
        return true;
    ORVEX_ASSERT(FExprFilter != nullptr, "ExprFilter is not assigned");
    return FExprFilter->Provider()->PassFilterEvent(static_cast<Integer>(Address));
}

int TFilterMgr::ListIndexOf(Cardinal Address)
{
    EnsureOrder();
    if (!FListIndexValid) {
        BuildIndex(FList, FListIndex);
        FListIndexValid = true;
    }
    return Lookup(FListIndex, Address);
}

int TFilterMgr::MasterIndexOf(Cardinal Address)
{
    EnsureOrder();
    if (!FMasterIndexValid) {
        BuildIndex(FMaster, FMasterIndex);
        FMasterIndexValid = true;
    }
    return Lookup(FMasterIndex, Address);
}

bool TFilterMgr::InMasterList(Cardinal Address)
{
    return Address != 0 && MasterIndexOf(Address) >= 0;
}

Cardinal TFilterMgr::MoveToEnd(bool First)
{
    if (FOrderPending && First) {
        // The first passing record lies mostly among the index's first
        // records: those are listed alone, the whole order only when none of
        // them passes.
        constexpr Integer Leading = 256;
        std::vector<Cardinal> Addresses;
        FExprFilter->Provider()->GetLeadingAddresses(Addresses, Leading);
        for (Cardinal Address : Addresses)
            if (std::binary_search(FPassing.begin(), FPassing.end(), Address))
                return Address;
        if (static_cast<Integer>(Addresses.size()) < Leading)
            return 0;
    }
    EnsureOrder();
    const int Count = static_cast<int>(FList.size());
    if (Count == 0)
        return 0;
    const int Step = First ? 1 : -1;
    for (int I = First ? 0 : Count - 1; I >= 0 && I < Count; I += Step)
        if (PassesEvent(FList[static_cast<std::size_t>(I)]))
            return FList[static_cast<std::size_t>(I)];
    return 0;
}

Cardinal TFilterMgr::MoveBy(Cardinal Address, Integer Count)
{
    const int At = ListIndexOf(Address);
    if (At < 0)
        return 0;
    const long long Size = static_cast<long long>(FList.size());
    if (!HasRecordEvent()) {
        const long long To = At + static_cast<long long>(Count);
        return To >= 0 && To < Size ? FList[static_cast<std::size_t>(To)] : 0;
    }
    if (Count == 0)
        return Address;
    const int Step = Count > 0 ? 1 : -1;
    long long Left = Count > 0 ? Count : -static_cast<long long>(Count);
    for (long long I = At + Step; I >= 0 && I < Size; I += Step)
        if (PassesEvent(FList[static_cast<std::size_t>(I)]) && --Left == 0)
            return FList[static_cast<std::size_t>(I)];
    return 0;
}

Cardinal TFilterMgr::WalkMaster(int Start, int Step)
{
    const int Size = static_cast<int>(FMaster.size());
    for (int I = Start; I >= 0 && I < Size; I += Step) {
        const Cardinal Address = FMaster[static_cast<std::size_t>(I)];
        if (ListIndexOf(Address) >= 0 && PassesEvent(Address))
            return Address;
    }
    return 0;
}

Cardinal TFilterMgr::FindNearest(Cardinal Address, bool Forwards)
{
    return InternalFindNearestRecAddr(Address, Forwards ? stGT : stLT);
}

Cardinal TFilterMgr::InternalFindNearestRecAddr(Cardinal Address, TIndexSearchType SearchType)
{
    EnsureOrder();
    if (Address == 0 || FList.empty())
        return 0;
    const int At = MasterIndexOf(Address);
    if (At < 0)
        return 0;
    const bool Here = ListIndexOf(Address) >= 0 && PassesEvent(Address);
    switch (SearchType) {
    case stEQ:
        return Here ? Address : 0;
    case stLE:
        return Here ? Address : WalkMaster(At - 1, -1);
    case stLT:
        return WalkMaster(At - 1, -1);
    case stGE:
        return Here ? Address : WalkMaster(At + 1, 1);
    case stGT:
        return WalkMaster(At + 1, 1);
    case stLEG: {
        if (Here)
            return Address;
        const Cardinal After = WalkMaster(At + 1, 1);
        return After != 0 ? After : WalkMaster(At - 1, -1);
    }
    default:
        return 0;
    }
}

bool TFilterMgr::CheckRecordInFilter(Cardinal Address)
{
    return FActive && Address != 0 && InList(Address) && PassesEvent(Address);
}

Integer TFilterMgr::GetRecNo(Cardinal Address)
{
    const int At = ListIndexOf(Address);
    if (At < 0)
        return 0;
    if (!HasRecordEvent())
        return At + 1;
    if (!PassesEvent(Address))
        return 0;
    Integer No = 1;
    for (int I = 0; I < At; ++I)
        if (PassesEvent(FList[static_cast<std::size_t>(I)]))
            ++No;
    return No;
}

Cardinal TFilterMgr::GetRecordAtNo(Integer RecNo)
{
    if (RecNo < 1)
        return 0;
    EnsureOrder();
    if (!HasRecordEvent())
        return RecNo <= static_cast<Integer>(FList.size()) ? FList[static_cast<std::size_t>(RecNo - 1)] : 0;
    Integer Left = RecNo;
    for (Cardinal Address : FList)
        if (PassesEvent(Address) && --Left == 0)
            return Address;
    return 0;
}

Integer TFilterMgr::GetFilterRecordCount()
{
    if (!FActive)
        return 0;
    if (!HasRecordEvent())
        return static_cast<Integer>(FOrderPending ? FPassing.size() : FList.size());
    EnsureOrder();
    if (FEventCount < 0) {
        Integer Count = 0;
        for (Cardinal Address : FList)
            if (PassesEvent(Address))
                ++Count;
        FEventCount = Count;
    }
    return FEventCount;
}

// =============================================== the dataset's side

bool TVekDataSet::ListRecordSlots(std::vector<Cardinal>& Slots, Integer& IndexCount)
{
    Slots.clear();
    IndexCount = 0;
    if (FRangeOn)
        return false;
    UnderReadLock([&] {
        FTableDef->RecordInterface()->ListBlocks(Slots);
        IndexCount = CurrentIndex()->GetRecordCount(true);
    });
    return true;
}

bool TVekDataSet::HasRecordEvent() const
{
    return static_cast<bool>(RecordFilter) && static_cast<bool>(OnFilterRecord());
}

void TVekDataSet::UnderReadLock(const std::function<void()>& Work)
{
    const bool taken = InternalSetReadLock();
    try {
        Work();
    } catch (...) {
        ReleaseIfTaken(taken);
        throw;
    }
    ReleaseIfTaken(taken);
}

bool TVekDataSet::FilterAccepts(Cardinal Address)
{
    bool accepted = false;
    UnderReadLock([&] {
        FFilterMgr->EnsureCurrent();
        accepted = FFilterMgr->CheckRecordInFilter(Address);
    });
    return accepted;
}

Cardinal TVekDataSet::NearestFilterRecord(bool Forwards)
{
    const Cardinal address = DatasetGetRecAddr();
    const Cardinal keyFlag = ReadLE32(FCurBuf.data() + FRecordSize + eioKeyFlag);
    if (FRecState == rbsNone || keyFlag == kfBeforeFirst)
        return Forwards ? FFilterMgr->MoveToEnd(true) : 0;
    if (keyFlag == kfAfterLast)
        return Forwards ? 0 : FFilterMgr->MoveToEnd(false);
    if (FFilterMgr->InMasterList(address))
        return FFilterMgr->FindNearest(address, Forwards);
    // The record is gone or moved: its key's place in the current index.
    if (SearchIndex(CurrentIndex(), FCurBuf.data(), Forwards ? stGE : stLE, nullptr, true) != 0)
        return 0;
    FCursorAddr = 0;
    const Cardinal near = CurrentIndex()->GetRecordAddress();
    if (!FFilterMgr->InMasterList(near))
        return 0;
    return FFilterMgr->InternalFindNearestRecAddr(near, Forwards ? stGE : stLE);
}

bool TVekDataSet::InternalMoveToFilterRecord(TFilterSeekPosition Position, Integer Count)
{
    Cardinal found = 0;
    UnderReadLock([&] {
        FFilterMgr->EnsureCurrent();
        switch (Position) {
        case fspFromStart:
            found = FFilterMgr->MoveToEnd(true);
            break;
        case fspFromEnd:
            found = FFilterMgr->MoveToEnd(false);
            break;
        case fspFromCurrent: {
            const Cardinal address = DatasetGetRecAddr();
            const bool ordinary = FRecState != rbsNone &&
                                  ReadLE32(FCurBuf.data() + FRecordSize + eioKeyFlag) == kfOrdinary;
            if (ordinary && FFilterMgr->CheckRecordInFilter(address))
                found = Count == 0 ? address : FFilterMgr->MoveBy(address, Count);
            else
                found = NearestFilterRecord(Count >= 0);
            break;
        }
        }
        if (found != 0) {
            ReadIntoCurrent(found, 0);
            FCursorAddr = 0;
        }
    });
    return found != 0;
}

bool TVekDataSet::AssignFilterExpr(TVekFilterExprDriver* Driver)
{
    FFilterMgr->SetQueryActive(FDataBase && FDataBase->QueryActive());
    return FFilterMgr->AssignExpr(Driver);
}

Integer TVekDataSet::FilterRecNo(const Byte* RecBuf)
{
    Integer recNo = 0;
    const Cardinal address = ReadLE32(RecBuf + FRecordSize + eioRecAddr);
    UnderReadLock([&] {
        FFilterMgr->EnsureCurrent();
        recNo = FFilterMgr->GetRecNo(address);
    });
    return recNo;
}

} // namespace orvex
