// Index items and the index manager: the indexes of an open table, their
// slots in the table header, and adding, dropping and emptying indexes.

#include "storage/vekIndexUnitManager.h"

#include "host/Streaming.h"
#include "host/SysUtils.h"
#include "storage/vekDataUnit.h"
#include "storage/vekInterfaceUnit.h"

#include <algorithm>

namespace orvex {

namespace {

constexpr Integer ErrInternal = 8581;        // an unexpected internal error
constexpr Integer ErrIndexNotFound = 9997;   // the index does not exist
constexpr Integer ErrIndexExists = 10027;    // an index of that name exists

constexpr const char* SKeyBuffersInvalid = "KeyBuffers invalid";

} // namespace

// =============================================================== TIndexItem

TIndexItem::TIndexItem(TCollection* Collection)
    : TInternalIndexDef(Collection), FKeyFields(new TKeyFields), FTree(std::make_unique<TBTree>())
{
}

TIndexItem::~TIndexItem()
{
    delete FKeyFields;
}

TIndexManager* TIndexItem::Manager() const
{
    return dynamic_cast<TIndexManager*>(Collection());
}

void TIndexItem::Assign(TPersistent* Source)
{
    if (auto* item = dynamic_cast<TIndexItem*>(Source)) {
        TInternalIndexDef::Assign(item);
        FKeyFields->Assign(item->FKeyFields);
        FRoot = item->FRoot;
        FDepth = item->FDepth;
        return;
    }
    TInternalIndexDef::Assign(Source);
    if (dynamic_cast<TInternalIndexDef*>(Source) != nullptr)
        FKeyFields->Clear();
}

void TIndexItem::PublishProperties(TPropertyList& List)
{
    TCollectionItem::PublishProperties(List);
    PublishNameAndFlags(List);
    List.AddCollection("KeyFields", FKeyFields);
    PublishSizes(List);
    List.AddCardinal("Root", this, &TIndexItem::Root, &TIndexItem::SetRoot);
    List.AddInteger("Depth", this, &TIndexItem::Depth, &TIndexItem::SetDepth);
}

TBaseIOInterface* TIndexItem::RequireIOInterface(const char* Context) const
{
    TIndexManager* manager = Manager();
    if (manager == nullptr || manager->IOInterface() == nullptr)
        VekDatabaseError(ErrInternal, Context, "IO Interface is unassigned", nullptr);
    return manager->IOInterface();
}

void TIndexItem::ConnectTree(const char* Context)
{
    TBaseIOInterface* io = RequireIOInterface(Context);
    if (FTree->IsOpen())
        return;
    TIndexManager* manager = Manager();
    FTree->KeyFields()->Assign(FKeyFields);
    FTree->KeyFields()->SetDataOffset(KeyDataOffset());
    FTree->SetMaximumKeySize(MaximumKeySize());
    FTree->SetDBStringCompare(manager->DBStringCompare());
    FTree->SetDebugStrings(manager->DebugStrings());
    FTree->ConnectToIFace(io, IndexPageSize(), &FRoot, &FDepth);
}

void TIndexItem::Open()
{
    const char* context = "TIndexItem.Open";
    RequireIOInterface(context);
    if (MaximumKeySize() == 0 || IndexPageSize() == 0)
        VekDatabaseError(ErrInternal, context, "Not initialized", nullptr);
    FTree->Close();
    ConnectTree(context);
    FKeyBuffer.assign(static_cast<std::size_t>(MaximumKeySize()) + 1, 0);
    FTree->Open();
}

void TIndexItem::Close()
{
    FTree->Close();
    FKeyFields->Clear();
    FKeyBuffer = {};
}

void TIndexItem::CreateIndex()
{
    FRoot = 0;
    FDepth = 0;
    FTree->Close();
    ConnectTree("TIndexItem.CreateIndex");
    FTree->CreateTree();
    FTree->Close();
}

void TIndexItem::EmptyIndex()
{
    ConnectTree("TIndexItem.EmptyIndex");
    FTree->EmptyTree(false);
}

void TIndexItem::DeleteIndex()
{
    ConnectTree("TIndexItem.DeleteIndex");
    FTree->EmptyTree(true);
    FRoot = 0;
    FDepth = 0;
}

// ------------------------------------------------------- tree forwarders

Integer TIndexItem::FullIndexSearch(TIndexSearchType SearchType)
{
    return FTree->IndexSearch(SearchType, nullptr);
}

Integer TIndexItem::PartialIndexSearch(TIndexSearchType SearchType, const TSearchModifier* Modifier)
{
    return FTree->IndexSearch(SearchType, Modifier);
}

Integer TIndexItem::InsertCheckSearch()
{
    return FTree->InsertCheckSearch();
}

void TIndexItem::ForgetLentPath()
{
    FTree->ForgetLentPath();
}

Integer TIndexItem::InsertKey(Cardinal RecordAddress)
{
    FTree->SetKeyBufAddr(RecordAddress);
    return FTree->InsertKey();
}

Integer TIndexItem::DeleteKey()
{
    return FTree->DeleteKey();
}

bool TIndexItem::NextKey()
{
    return FTree->NextRecord();
}

bool TIndexItem::PriorKey()
{
    return FTree->PriorRecord();
}

bool TIndexItem::MoveBy(Integer N)
{
    for (Integer i = 0; i < N; ++i)
        if (!FTree->NextRecord())
            return false;
    for (Integer i = 0; i > N; --i)
        if (!FTree->PriorRecord())
            return false;
    return true;
}

Cardinal TIndexItem::GetRecordAddress()
{
    return FTree->GetRecAddr();
}

Integer TIndexItem::GetRecordCount(bool RecheckRoot)
{
    return FTree->GetRecordCount(RecheckRoot);
}

Integer TIndexItem::GetRecordNo()
{
    return FTree->GetRecordNo();
}

Cardinal TIndexItem::SetRecordNo(Integer N)
{
    return FTree->GetAddrOfRecNo(N);
}

const Byte* TIndexItem::GetCurrentKeyBuf()
{
    return FTree->GetCurrentKeyBuf();
}

void TIndexItem::CreateKeyBuffer(const Byte* RecBuf, const TKeyComparisonFlags& Flags)
{
    FTree->ConstructKeyBufFromRecBuf(RecBuf, Flags);
}

void TIndexItem::CreateTempKeyBuffer(const Byte* RecBuf, Byte* Target, const TKeyComparisonFlags& Flags)
{
    FTree->ConstructTempKeyBufFromRecBuf(Target, RecBuf, Flags);
}

void TIndexItem::CopyKeyBuffer(const Byte* Key, const TKeyComparisonFlags& Flags)
{
    FTree->ConstructKeyBufFromKeyBuf(Key, Flags);
}

Integer TIndexItem::CompareKeyBuffers(const Byte* Key1, const Byte* Key2, const TKeyComparisonFlags& Flags1,
                                      const TKeyComparisonFlags& Flags2)
{
    return FTree->CompareKeys(0, Flags1, Flags2, Key1, Key2);
}

Integer TIndexItem::CompareKeyToCurrentKey(const TKeyComparisonFlags& Flags, const Byte* Key)
{
    return FTree->CompareKeyToCurrentKeyBuf(Flags, Key);
}

void TIndexItem::ListMatchingRecords(const Byte* Key, Integer FieldCount, Cardinal StopAddress,
                                     TIndexSearchType SearchType, bool Ascending, TCompoundList* List,
                                     bool& Done)
{
    FTree->ListMatchingRecords(Key, FieldCount, StopAddress, SearchType, Ascending, List, Done);
}

Integer TIndexItem::ListReadAheadRecords(TReadAheadDirection Direction, Integer Count, TReadAheadBuffer* Buffer)
{
    return FTree->ListReadAheadRecords(Direction, Count, Buffer);
}

void TIndexItem::FillHashTable(Integer KeyFieldNo, TVekBaseHash* Hash)
{
    FTree->FillHashTable(KeyFieldNo, Hash);
}

void TIndexItem::InvalidateInternalBuffers()
{
    FTree->InvalidateInternalBuffers();
}

void TIndexItem::DumpInternalStatus(TStrings* Lines)
{
    FTree->DebugStatus(Lines);
}

void TIndexItem::DumpInternalStructure(TStrings* Lines)
{
    FTree->DebugDumpTree(Lines);
}

// ============================================================ TIndexManager

TIndexManager::TIndexManager() : TCollection(ItemClassOf<TIndexItem>()) {}

Integer TIndexManager::IndexCount() const
{
    Integer count = 0;
    for (int i = 0; i < Count(); ++i)
        if (!GetItems(i)->Hidden())
            ++count;
    return count;
}

TIndexItem* TIndexManager::FindIndex(const std::string& Name) const
{
    for (int i = 0; i < Count(); ++i)
        if (AnsiSameText(GetItems(i)->IndexName(), Name))
            return GetItems(i);
    return nullptr;
}

TIndexItem* TIndexManager::RequireIndex(const std::string& Name, const char* Context) const
{
    TIndexItem* index = FindIndex(Name);
    if (index == nullptr)
        VekDatabaseError(ErrIndexNotFound, Context, Name, nullptr);
    return index;
}

TIndexItem* TIndexManager::CurrentIndex() const
{
    return RequireIndex(FCurrentIndexName, "TIndexManager.CurrentIndex");
}

TIndexItem* TIndexManager::FindIndexForFields(const TStrings* Names, bool CaseSensitiveOnly) const
{
    for (int i = 0; i < Count(); ++i) {
        const TKeyFields* keys = GetItems(i)->KeyFields();
        if (keys->Count() < Names->Count())
            continue;
        bool fits = true;
        for (int k = 0; k < Names->Count() && fits; ++k) {
            const TKeyFieldItem* key = keys->GetItems(k);
            fits = AnsiSameText(key->FieldName(), Names->Strings(k)) &&
                   !(CaseSensitiveOnly && key->CaseInsensitive());
        }
        if (fits)
            return GetItems(i);
    }
    return nullptr;
}

// -------------------------------------------------------------- key fields

void TIndexManager::CopyKeyField(TIndexItem* Index, TKeyFieldItem* KeyField, const char* Context)
{
    auto lacksSizeMarker = [](const TKeyFieldItem* Field) {
        return (Field->DataType() == ftString || Field->DataType() == ftWideString) &&
               Field->SizeMarkerOffset() == 0;
    };
    if (lacksSizeMarker(KeyField))
        VekDatabaseError(ErrInternal, Context, SKeyBuffersInvalid, nullptr);
    TKeyFieldItem* copy = Index->KeyFields()->Add();
    copy->Assign(KeyField);
    if (lacksSizeMarker(copy))
        VekDatabaseError(ErrInternal, Context, SKeyBuffersInvalid, nullptr);
}

void TIndexManager::CheckHasKeyFields(const TIndexItem* Index, const char* Context)
{
    if (Index->KeyFields()->Count() == 0)
        VekDatabaseError(ErrInternal, Context, SKeyBuffersInvalid, nullptr);
}

void TIndexManager::AssignKeyFields(TKeyFields* KeyFields)
{
    const char* context = "TIndexManager.AssignKeyFields";
    for (int i = 0; i < Count(); ++i)
        GetItems(i)->KeyFields()->Clear();
    for (int k = 0; k < KeyFields->Count(); ++k) {
        TKeyFieldItem* field = KeyFields->GetItems(k);
        CopyKeyField(RequireIndex(field->IndexName(), context), field, context);
    }
    for (int i = 0; i < Count(); ++i)
        CheckHasKeyFields(GetItems(i), context);
}

// --------------------------------------------------------------- life cycle

void TIndexManager::Open()
{
    if (FDBStringCompare == nullptr)
        VekDatabaseError(ErrInternal, "TIndexManager.Open", "Sort function not assinged", nullptr);
    ReadIndexHeaders(true);
    for (int i = 0; i < Count(); ++i)
        GetItems(i)->Open();
}

void TIndexManager::Close()
{
    for (int i = 0; i < Count(); ++i)
        GetItems(i)->Close();
    Clear();
    FIOInterface = nullptr;
}

// ------------------------------------------------------------- index slots

void TIndexManager::CheckTableHeader() const
{
    ORVEX_ASSERT(FTableHeader != nullptr, "IndexManager table header = nil");
}

void TIndexManager::ReadIndexHeaders(bool Invalidate)
{
    if (Count() == 0)
        return;
    CheckTableHeader();
    for (int i = 0; i < Count(); ++i) {
        TIndexItem* index = GetItems(i);
        if (Invalidate)
            index->InvalidateInternalBuffers();
        index->SetRoot(FTableHeader->IndexRoot(index->IndexSequence()));
        index->SetDepth(FTableHeader->IndexDepth(index->IndexSequence()));
    }
}

void TIndexManager::WriteIndexHeaders()
{
    if (Count() == 0)
        return;
    CheckTableHeader();
    for (int i = 0; i < Count(); ++i) {
        const TIndexItem* index = GetItems(i);
        FTableHeader->SetIndexRoot(index->IndexSequence(), index->Root());
        FTableHeader->SetIndexDepth(index->IndexSequence(), static_cast<Word>(index->Depth()));
    }
}

void TIndexManager::LoadFreeChainHead()
{
    auto* disk = dynamic_cast<TDiskIOInterface*>(FIOInterface);
    if (disk != nullptr && disk->GlobalFirstEmptyOffset() != 0)
        disk->GetGlobalFirstEmpty();
}

// ------------------------------------------------ creating, adding, dropping

void TIndexManager::CreateIndexes()
{
    LoadFreeChainHead();
    for (int i = 0; i < Count(); ++i)
        GetItems(i)->CreateIndex();
    WriteIndexHeaders();
}

void TIndexManager::AddIndex(TInternalIndexDef* IndexDef, TKeyFields* KeyFields)
{
    const char* context = "TIndexManager.AddIndex";
    if (FindIndex(IndexDef->IndexName()) != nullptr)
        VekDatabaseError(ErrIndexExists, context, "aInternalIndexDef.IndexName", nullptr);
    CheckTableHeader();
    ReadIndexHeaders(false);
    // The new slot must lie inside the header block, so that writing it
    // cannot fail once the tree's page is made.
    const Integer slot = IndexDef->IndexSequence();
    if (slot < 0 || TableHeaderFixedSize + (slot + 1) * TableHeaderIndexSlotSize > FTableHeader->GetHeaderSize())
        VekDatabaseError(ErrInternal, context, "Table header: The offset value is out of range", nullptr);

    TIndexItem* index = Add();
    try {
        // The definition's properties only, should it be an index item.
        index->TInternalIndexDef::Assign(IndexDef);
        for (int k = 0; k < KeyFields->Count(); ++k)
            if (AnsiSameText(KeyFields->GetItems(k)->IndexName(), IndexDef->IndexName()))
                CopyKeyField(index, KeyFields->GetItems(k), context);
        CheckHasKeyFields(index, context);
        LoadFreeChainHead();
        index->CreateIndex();
    } catch (...) {
        delete index;
        throw;
    }
    // The header's index count covers every slot in use.
    if (FTableHeader->IndexCount() < static_cast<Cardinal>(slot + 1))
        FTableHeader->SetIndexCount(static_cast<Cardinal>(slot + 1));
    WriteIndexHeaders();
}

void TIndexManager::DropIndex(const std::string& Name)
{
    TIndexItem* dropped = RequireIndex(Name, "TIndexManager.DropIndex");
    ReadIndexHeaders(false);
    LoadFreeChainHead();
    dropped->DeleteIndex();
    dropped->Close();
    delete dropped;

    // The remaining indexes keep their order and close up into the slots
    // 0 .. n - 1, so that no slot keeps the dropped tree's root and the
    // header's index count names exactly the slots in use.
    std::vector<TIndexItem*> remaining;
    for (int i = 0; i < Count(); ++i)
        remaining.push_back(GetItems(i));
    std::stable_sort(remaining.begin(), remaining.end(), [](const TIndexItem* A, const TIndexItem* B) {
        return A->IndexSequence() < B->IndexSequence();
    });
    for (std::size_t i = 0; i < remaining.size(); ++i)
        remaining[i]->SetIndexSequence(static_cast<Integer>(i));
    WriteIndexHeaders();
    if (FTableHeader != nullptr) {
        const Integer used = static_cast<Integer>(FTableHeader->IndexCount());
        for (Integer slot = Count(); slot < used; ++slot) {
            FTableHeader->SetIndexRoot(slot, 0);
            FTableHeader->SetIndexDepth(slot, 0);
        }
        FTableHeader->SetIndexCount(static_cast<Cardinal>(Count()));
    }
}

void TIndexManager::EmptyIndex(const std::string& Name)
{
    TIndexItem* index = RequireIndex(Name, "TIndexManager.EmptyIndex");
    ReadIndexHeaders(false);
    LoadFreeChainHead();
    index->EmptyIndex();
    WriteIndexHeaders();
}

// ------------------------------------------------------------- diagnostics

void TIndexManager::InvalidateInternalBuffers()
{
    for (int i = 0; i < Count(); ++i)
        GetItems(i)->InvalidateInternalBuffers();
}

void TIndexManager::DumpInternalStatus(TStrings* Lines)
{
    Lines->Add("DUMP - INDEX = " + IntToStr(0));
    if (Count() > 0)
        GetItems(0)->Tree()->DebugDumpAllocatedBlocks(Lines);
}

} // namespace orvex
