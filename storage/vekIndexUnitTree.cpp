// The B-tree of one open index: opening, creating and emptying the tree, the
// descent, searches by type, stepping, and the insert and delete of one key.

#include "storage/vekIndexUnit.h"

#include "host/SysUtils.h"
#include "storage/vekByteOrder.h"
#include "storage/vekCommon.h"
#include "storage/vekConsts.h"
#include "storage/vekIndexUnitManager.h"
#include "storage/vekInterfaceUnit.h"

#include <algorithm>
#include <cstring>

namespace orvex {

namespace {

// More levels than any tree of 2^32 bytes of pages can have: a deeper tree
// is a damaged depth word.
constexpr Integer MaxTreeDepth = 64;

[[noreturn]] void CorruptTree(const char* Context, const std::string& Text)
{
    VekDatabaseError(8451, Context, Text, nullptr);
}

} // namespace

TBTree::TBTree() = default;

TBTree::~TBTree()
{
    Close();
}

void TBTree::ConnectToIFace(TBaseIOInterface* IOInterface, Integer PageSize, Cardinal* RootRef,
                            Integer* DepthRef)
{
    FIOInterface = IOInterface;
    FPageSize = PageSize;
    FRootRef = RootRef;
    FDepthRef = DepthRef;
    InvalidateInternalBuffers();
}

void TBTree::Open()
{
    const char* context = "TBTree.Open";
    Close();
    if (DBStringCompare() == nullptr)
        VekDatabaseError(8581, context, "No sort order function assigned", nullptr);
    if (FIOInterface == nullptr)
        VekDatabaseError(8581, context, "IO Interface is unassigned", nullptr);
    CheckKeyFields();
    if (FPageSize <= NodeHeaderSize || FPageSize > MaxIndexPageSize)
        VekDatabaseError(8581, context, "Invalid page size: " + IntToStr(FPageSize), nullptr);
    // A page must take at least three entries, else a split or a
    // redistribution could leave an empty page in the tree.
    if (MaximumKeySize() < KeyInfoSize || FPageSize < NodeHeaderSize + 3 * MaximumKeySize())
        VekDatabaseError(8581, context, "Key size too large for page size", nullptr);
    const std::size_t keySize = static_cast<std::size_t>(MaximumKeySize());
    FEntryBuf.assign(keySize, 0);
    FSearchedKey.assign(keySize, 0);
    FSpare = std::make_unique<TNode>();
    FSpare->Open(this, FIOInterface, FPageSize);
    const Integer depth = CheckedDepth(context);
    for (Integer level = 0; level < depth; ++level) {
        FPath.push_back(std::make_unique<TNode>());
        FPath.back()->Open(this, FIOInterface, FPageSize);
    }
    InvalidatePath();
}

void TBTree::Close()
{
    FPath.clear();
    FSpare.reset();
    InvalidatePath();
}

void TBTree::CheckOpen(const char* Context) const
{
    if (!IsOpen())
        VekDatabaseError(8581, Context, "Node Buffer not allocated", nullptr);
}

// ------------------------------------------------------- pages of the tree

Cardinal TBTree::AllocatePage(const Byte* Page)
{
    if (FZeroPage.size() != static_cast<std::size_t>(FPageSize))
        FZeroPage.assign(static_cast<std::size_t>(FPageSize), 0);
    const Cardinal address = FIOInterface->AllocateNewAddress(FPageSize, Page != nullptr ? Page : FZeroPage.data());
    if (address == 0)
        VekDatabaseError(8581, "TBTree.AllocatePage", "Invalid address of 0 for a new index page", nullptr);
    PageChanged(address, nullptr);
    return address;
}

void TBTree::ReleasePage(Cardinal Address)
{
    FIOInterface->ReleaseBlock(Address, FPageSize);
    PageChanged(Address, nullptr);
}

void TBTree::PageChanged(Cardinal Address, const TNode* Writer)
{
    // Each node holds one page and the tree changes a page only through the
    // node that holds it, so this finds nothing in a sound run; it keeps a
    // node from ever answering from an old copy of a page that another node
    // wrote, that was relinked, released or handed out again.
    for (auto& node : FPath)
        if (node.get() != Writer && node->Address() == Address)
            node->Invalidate();
    if (FSpare && FSpare.get() != Writer && FSpare->Address() == Address)
        FSpare->Invalidate();
}

void TBTree::WriteBackShape()
{
    // The root keeps its address; only the depth changes.
    if (FDepthRef != nullptr)
        *FDepthRef = static_cast<Integer>(FPath.size());
}

void TBTree::InvalidatePath()
{
    FPathPrepared = false;
    FCursorValid = false;
    FFullSearchPath = false;
}

void TBTree::ReturnLentPages()
{
    FBorrowing = false;
    bool lent = false;
    for (auto& node : FPath)
        if (node->Lent()) {
            node->ReturnLentPage();
            lent = true;
        }
    if (FSpare && FSpare->Lent()) {
        FSpare->ReturnLentPage();
        lent = true;
    }
    if (lent)
        InvalidatePath();
    // Pages lent to nodes that have since moved on are given back too.
    if (FIOInterface != nullptr)
        FIOInterface->ReturnLentBlocks();
}

void TBTree::InvalidateInternalBuffers()
{
    const bool lent = PathLent();
    for (auto& node : FPath)
        node->Invalidate();
    if (FSpare)
        FSpare->Invalidate();
    InvalidatePath();
    // Pages a key check left lent go back with the path.
    if (lent && FIOInterface != nullptr)
        FIOInterface->ReturnLentBlocks();
}

void TBTree::ForgetLentPath()
{
    if (PathLent())
        InvalidateInternalBuffers();
}

bool TBTree::PathLent() const
{
    return std::any_of(FPath.begin(), FPath.end(), [](const auto& Node) { return Node->Lent(); }) ||
           (FSpare && FSpare->Lent());
}

TNode* TBTree::Leaf() const
{
    return FPath.back().get();
}

bool TBTree::RootEmpty() const
{
    return FPath.empty() || FPath.front()->Address() == 0 || FPath.front()->Size() == 0;
}

Integer TBTree::CheckedDepth(const char* Context) const
{
    if (Root() == 0)
        return 0;
    const Integer depth = Depth();
    if (depth < 0 || depth > MaxTreeDepth)
        CorruptTree(Context, "Invalid index depth " + IntToStr(depth) + " at root " + IntToStr(Root()));
    return depth;
}

void TBTree::PreparePath()
{
    const Integer depth = CheckedDepth("TBTree.PreparePath");
    while (static_cast<Integer>(FPath.size()) < depth) {
        FPath.push_back(std::make_unique<TNode>());
        FPath.back()->Open(this, FIOInterface, FPageSize);
    }
    while (static_cast<Integer>(FPath.size()) > depth)
        FPath.pop_back();
    FSpare->Invalidate();
    FLeafInsertPos = 0;
    if (depth > 0)
        FPath.front()->ReadNode(Root());
    FPathPrepared = true;
    FCursorValid = false;
    FFullSearchPath = false;
}

// ------------------------------------------------------- creating, emptying

void TBTree::CreateTree()
{
    const char* context = "TBTree.CreateTree";
    if (FIOInterface == nullptr || FRootRef == nullptr || FDepthRef == nullptr)
        VekDatabaseError(8581, context, "IO Interface is unassigned", nullptr);
    if (FPageSize < NodeHeaderSize)
        VekDatabaseError(8581, context, "Invalid page size: " + IntToStr(FPageSize), nullptr);
    std::vector<Byte> page(static_cast<std::size_t>(FPageSize), 0);
    WriteLE32(page.data() + nhoLeaf, 1);
    *FRootRef = AllocatePage(page.data());
    *FDepthRef = 1;
    InvalidatePath();
}

namespace {

// Releases the page at Address and every page under it, children first.
// The pages are checked as they are read (entries of at most KeySize bytes
// when it is known; a tree that was never opened does not know it).
void ReleaseSubtree(TBaseIOInterface* IO, Integer PageSize, Integer KeySize, Cardinal Address, int LevelsLeft)
{
    TNode node;
    node.Open(nullptr, IO, PageSize);
    node.SetMaxKeySize(KeySize);
    node.ReloadNode(Address);
    if (!node.CheckIsLeaf() && LevelsLeft > 1) {
        for (Integer p = 0; p < node.Size();) {
            const Integer length = ReadLE16(node.Keys() + p + kioLength);
            if (length < KeyInfoSize)
                CorruptTree("TBTree.EmptyTree", "Invalid key size " + IntToStr(length) + " in index page " +
                                                    IntToStr(Address));
            ReleaseSubtree(IO, PageSize, KeySize, ReadLE32(node.Keys() + p + kioAddress), LevelsLeft - 1);
            p += length;
        }
    }
    IO->ReleaseBlock(Address, PageSize);
}

} // namespace

void TBTree::EmptyTree(bool Drop)
{
    const bool wasOpen = IsOpen();
    const Cardinal root = Root();
    if (root == 0 || Depth() <= 0) {
        // No tree yet: dropping leaves none, emptying makes one.
        if (!Drop)
            CreateTree();
        return;
    }
    Byte header[NodeHeaderSize];
    FIOInterface->ReadBlockHeader(root, NodeHeaderSize, header);
    if (ReadLE32(header + nhoSize) == 0 && !Drop)
        return;
    ReleaseSubtree(FIOInterface, FPageSize, MaximumKeySize(), root, CheckedDepth("TBTree.EmptyTree"));
    Close();
    if (Drop) {
        *FRootRef = 0;
        *FDepthRef = 0;
    } else {
        CreateTree();
    }
    if (wasOpen)
        Open();
}

// ------------------------------------------------------------------ search

Integer TBTree::SearchPage(TNode* Node, Integer FieldCount, bool IsLeaf, Integer& Result)
{
    const Integer keySize = MaximumKeySize();
    const Integer count = Node->Size() / keySize;
    Result = 1;
    if (count == 0)
        return 0;
    const Byte* keys = Node->Keys();
    Integer lo = 0;
    Integer hi = count - 1;
    if (!IsLeaf) {
        // The last entry not greater than the search key; the first when
        // all are greater.
        Integer pos = 0;
        while (lo <= hi) {
            const Integer mid = (lo + hi) / 2;
            const Integer c = CompareToOptimizedKey(FieldCount, keys + mid * keySize);
            if (c == 0)
                return mid * keySize;
            if (c > 0) {
                pos = mid;
                lo = mid + 1;
            } else {
                hi = mid - 1;
            }
        }
        return pos * keySize;
    }
    // The first entry not smaller than the search key; after the last when
    // all are smaller.
    Integer pos = count;
    while (lo <= hi) {
        const Integer mid = (lo + hi) / 2;
        const Integer c = CompareToOptimizedKey(FieldCount, keys + mid * keySize);
        if (c == 0) {
            pos = mid;
            break;
        }
        if (c < 0) {
            pos = mid;
            hi = mid - 1;
        } else {
            lo = mid + 1;
        }
    }
    if (pos < count)
        Result = CompareKeys(FieldCount, KeyFlags(), {}, KeyBuf(), keys + pos * keySize);
    return pos * keySize;
}

Integer TBTree::InternalSearch(Integer FieldCount, bool ForceCursor)
{
    CheckOpen("TBTree.InternalSearch");
    PreparePath();
    FLastResult = -1;
    if (RootEmpty())
        return -1;
    const int depth = static_cast<int>(FPath.size());
    Integer result = 1;
    for (int level = 0; level < depth; ++level) {
        TNode* node = FPath[level].get();
        const bool isLeaf = level == depth - 1;
        if (node->CheckIsLeaf() != isLeaf)
            VekDatabaseError(8581, "TBTree.InternalSearch",
                             "Index page type does not match the depth: " + IntToStr(node->Address()), nullptr);
        const Integer pos = SearchPage(node, FieldCount, isLeaf, result);
        node->SetCursor(pos);
        if (!isLeaf)
            FPath[level + 1]->ReadNode(ReadLE32(node->Keys() + pos + kioAddress));
        else
            FLeafInsertPos = pos;
    }
    TNode* leaf = Leaf();
    if (ForceCursor && leaf->Size() > 0 && leaf->Cursor() >= leaf->Size())
        leaf->ForceCursorToPhysicalKey();
    FCursorValid = true;
    FLastResult = result;
    const Integer fields = KeyFields()->Count();
    FFullSearchPath = (FieldCount <= 0 || FieldCount >= fields) &&
                      std::all_of(KeyFlags().begin(), KeyFlags().end(), [](Byte f) { return f == kcfNormal; });
    if (FFullSearchPath)
        std::memcpy(FSearchedKey.data(), KeyBuf(), FSearchedKey.size());
    return result;
}

bool TBTree::DropStaleLentPath()
{
    // A path left on lent pages that the store has taken back since points
    // at bytes that may belong to other pages now: it is forgotten unread.
    if (!PathLent() || FIOInterface->LendEpoch() == FPathLendEpoch)
        return false;
    for (auto& node : FPath)
        if (node->Lent())
            node->Invalidate();
    if (FSpare && FSpare->Lent())
        FSpare->Invalidate();
    InvalidatePath();
    return true;
}

bool TBTree::PathFitsSearchKey()
{
    if (DropStaleLentPath())
        return false;
    if (!FPathPrepared || !FCursorValid || !FFullSearchPath)
        return false;
    const std::size_t from = KeyInfoSize;
    return std::all_of(KeyFlags().begin(), KeyFlags().end(), [](Byte f) { return f == kcfNormal; }) &&
           std::memcmp(FSearchedKey.data() + from, KeyBuf() + from,
                       FSearchedKey.size() - from) == 0;
}

Integer TBTree::InsertCheckSearch()
{
    CheckOpen("TBTree.IndexSearch");
    DropStaleLentPath();
    FBorrowing = true;
    Integer result = 0;
    try {
        result = InternalSearch(0, true);
    } catch (...) {
        ReturnLentPages();
        throw;
    }
    FBorrowing = false;
    if (result == 0)
        ReturnLentPages(); // no insert follows
    else
        FPathLendEpoch = FIOInterface->LendEpoch();
    return result;
}

Integer TBTree::IndexSearch(TIndexSearchType SearchType, const TSearchModifier* Modifier)
{
    CheckOpen("TBTree.IndexSearch");
    Integer fieldCount = 0;
    if (Modifier != nullptr && Modifier->LimitedSearch()) {
        fieldCount = Modifier->IncludedKeyFieldCount();
        if (fieldCount < 1) {
            fieldCount = 0;
            while (fieldCount < KeyFields()->Count() && !KeyFields()->GetItems(fieldCount)->Hidden())
                ++fieldCount;
        }
    }
    const Integer r = InternalSearch(fieldCount, true);
    if (r != 0 && RootEmpty())
        return r;
    switch (SearchType) {
    case stLT:
        if (r == 0)
            return PriorRecord() ? 0 : -1;
        if (r < 0)
            return PriorRecord() ? 0 : r;
        return 0;
    case stLE:
        if (r < 0)
            return PriorRecord() ? 0 : r;
        return 0;
    case stEQ:
        return r;
    case stGE:
        if (r <= 0)
            return 0;
        return NextRecord() ? 0 : r;
    case stGT:
        if (r == 0)
            return NextRecord() ? 0 : -1;
        if (r < 0)
            return 0;
        return NextRecord() ? 0 : r;
    case stLEG:
        if (r <= 0)
            return 0;
        // Greater than every key of the leaf: the next key, else (above
        // every key of the index) the last key, on which the cursor stands.
        NextRecord();
        return 0;
    }
    return r;
}

// ---------------------------------------------------------------- stepping

bool TBTree::FindLeafWithKeys(Cardinal Address, bool Forwards, Cardinal& Steps)
{
    const char* context = Forwards ? "TBTree.NextRecord" : "TBTree.PriorRecord";
    while (Address != 0) {
        // The leaf chain is read from the pages: a walk longer than the
        // interface has blocks runs in a circle.
        if (++Steps > 64 && Steps > FIOInterface->ChainLimit())
            CorruptTree(context, "The leaf chain loops at " + IntToStr(Address));
        FSpare->ReloadNode(Address);
        if (!FSpare->CheckIsLeaf())
            CorruptTree(context, "The leaf chain leads to an inner page: " + IntToStr(Address));
        if (FSpare->Size() > 0)
            return true;
        const Cardinal next = Forwards ? FSpare->Next() : FSpare->Prior();
        if (next == Address)
            CorruptTree(context, "An index leaf is linked to itself: " + IntToStr(Address));
        Address = next;
    }
    return false;
}

bool TBTree::FindLeafWithKeys(Cardinal Address, bool Forwards)
{
    Cardinal steps = 0;
    return FindLeafWithKeys(Address, Forwards, steps);
}

bool TBTree::NextRecord()
{
    return Step(true);
}

bool TBTree::PriorRecord()
{
    return Step(false);
}

bool TBTree::Step(bool Forwards)
{
    if (!IsOpen() || !FCursorValid || FPath.empty())
        return false;
    TNode* leaf = Leaf();
    if (Forwards ? leaf->NextRecord() : leaf->PriorRecord()) {
        FFullSearchPath = false;
        return true;
    }
    // Into the neighbouring leaf: its first (last) key, and the path to it.
    const Cardinal neighbour = Forwards ? leaf->Next() : leaf->Prior();
    if (neighbour == leaf->Address())
        CorruptTree(Forwards ? "TBTree.NextRecord" : "TBTree.PriorRecord",
                    "An index leaf is linked to itself: " + IntToStr(neighbour));
    if (!FindLeafWithKeys(neighbour, Forwards))
        return false;
    FSpare->SetCursorToEnd(Forwards);
    // Keys are unique and the leaf chain runs in key order: a neighbour
    // whose key does not lie beyond the cursor's is a damaged link, which
    // would make a scan go round for ever.
    if (leaf->CursorOnEntry()) {
        const Integer order = CompareKeys(0, {}, {}, leaf->GetCurrentKey(), FSpare->GetCurrentKey());
        if (Forwards ? order >= 0 : order <= 0)
            CorruptTree(Forwards ? "TBTree.NextRecord" : "TBTree.PriorRecord",
                        "The leaf chain is out of key order at " + IntToStr(FSpare->Address()));
    }
    ConstructKeyBufFromKeyBuf(FSpare->GetCurrentKey(), {});
    RefreshToCursor();
    return true;
}

void TBTree::RefreshToCursor()
{
    // The search key holds the key to stand on (the entry at the cursor);
    // searching it again rebuilds the path down to it. A key of the leaf
    // chain that the search does not reach means the tree is damaged.
    if (InternalSearch(0, true) != 0) {
        GDBLogger->LogItem("BTree", "Failure of internal refresh to cursor");
        InvalidatePath();
        CorruptTree("TBTree.RefreshToCursor", "A key of the leaf chain is not found from the root");
    }
}

// ------------------------------------------------------ the key at the cursor

Cardinal TBTree::GetRecAddr()
{
    CheckOpen("TBTree.GetRecAddr");
    if (FPath.empty() || !Leaf()->CheckIsLeaf())
        VekDatabaseError(8581, "TBTree.GetRecAddr", "Attempt to read record address from non-leaf node", nullptr);
    if (!FCursorValid)
        VekDatabaseError(8581, "TBTree.GetRecAddr", "CurrentKeyCursor is invalid", nullptr);
    return Leaf()->GetRecordAddress();
}

const Byte* TBTree::GetCurrentKeyBuf()
{
    if (!IsOpen() || !FCursorValid || FPath.empty() || !Leaf()->CursorOnEntry())
        VekDatabaseError(8581, "TBTree.GetCurrentKeyBuf", "CurrentKeyCursor is invalid", nullptr);
    return Leaf()->GetCurrentKey();
}

Integer TBTree::CompareKeyToCurrentKeyBuf(const TKeyComparisonFlags& Flags, const Byte* Key)
{
    return CompareKeys(0, Flags, {}, Key, GetCurrentKeyBuf());
}

bool TBTree::GetCurrentKeyField(Integer FieldNo, const Byte*& Data, Integer& Size)
{
    const Byte* entry = GetCurrentKeyBuf();
    if (FieldNo < 0 || FieldNo >= KeyFields()->Count())
        VekDatabaseError(8581, "TBTree.GetCurrentKeyField", "Field number out of range: " + IntToStr(FieldNo),
                         nullptr);
    return LocateKeyField(entry, FieldNo, Data, Size);
}

void TBTree::CurrentKeyAsStrings(TStrings* Lines)
{
    DecodeKeyBufAsStrings(GetCurrentKeyBuf(), nullptr, Lines);
}

// ---------------------------------------------------------- insert, delete

Integer TBTree::IdxInsert()
{
    CheckOpen("TBTree.IdxInsert");
    FFullSearchPath = false;
    return InsertKey();
}

Integer TBTree::IdxDelete()
{
    CheckOpen("TBTree.IdxDelete");
    FFullSearchPath = false;
    return DeleteKey();
}

Integer TBTree::InsertKey()
{
    const char* context = "TBTree.InsertKey";
    CheckOpen(context);
    if (Root() == 0 || Depth() <= 0)
        VekDatabaseError(8581, context, "The index has no root page", nullptr);
    // The search and the insert work on the pages in the store where it
    // lends them, saving two copies of every page of the path.
    struct TBorrow {
        TBTree& Tree;
        explicit TBorrow(TBTree& T) : Tree(T) { Tree.FBorrowing = true; }
        ~TBorrow() { Tree.ReturnLentPages(); }
    } borrow(*this);
    if (!PathFitsSearchKey()) {
        InternalSearch(0, false);
        if (RootEmpty()) {
            if (FPath.size() != 1)
                VekDatabaseError(8581, context, "Index page type does not match the depth: " + IntToStr(Root()),
                                 nullptr);
            // The first key of the index.
            FLeafInsertPos = 0;
            FLastResult = 1;
        }
    }
    if (FLastResult == 0)
        return -1;
    InsertRecord();
    return 0;
}

Integer TBTree::DeleteKey()
{
    CheckOpen("TBTree.DeleteKey");
    if (!PathFitsSearchKey() && InternalSearch(0, false) != 0)
        return -1;
    if (FLastResult != 0)
        return -1;
    Leaf()->SetCursor(FLeafInsertPos);
    if (!Leaf()->CursorOnEntry())
        return -1;
    DeleteRecord();
    return 0;
}

void TBTree::RefreshEntry(TNode* Parent, Integer Pos, TNode* Child, bool OneMore)
{
    Byte* entry = FEntryBuf.data();
    const Integer keySize = MaximumKeySize();
    Parent->ReadKey(Pos, entry);
    // Counting a child walks all its entries; an insert that left it whole
    // only adds one to the count its entry holds (a count that could not
    // grow is counted again, which reports the damage).
    const Cardinal held = ReadLE32(entry + kioCount);
    const Cardinal count = OneMore && held < 0x7FFFFFFFu ? held + 1 : static_cast<Cardinal>(Child->GetRecordCount(-1));
    if (Child->Size() > 0)
        std::memcpy(entry + KeyInfoSize, Child->Keys() + KeyInfoSize, static_cast<std::size_t>(keySize - KeyInfoSize));
    WriteLE16(entry + kioLength, static_cast<Word>(keySize));
    WriteLE32(entry + kioCount, count);
    WriteLE32(entry + kioAddress, Child->Address());
    Parent->UpdateKey(Pos, entry);
}

namespace {

// The first entry of Node as an entry of its parent.
std::vector<Byte> ParentEntryOf(TNode* Node, Integer KeySize)
{
    std::vector<Byte> entry(static_cast<std::size_t>(KeySize));
    std::memcpy(entry.data(), Node->Keys(), entry.size());
    WriteLE16(entry.data() + kioLength, static_cast<Word>(KeySize));
    WriteLE32(entry.data() + kioCount, static_cast<Cardinal>(Node->GetRecordCount(-1)));
    WriteLE32(entry.data() + kioAddress, Node->Address());
    return entry;
}

} // namespace

void TBTree::LoadSortedKeys(std::size_t Count, const std::function<const Byte*(std::size_t)>& KeyAt)
{
    const char* context = "TBTree.LoadSortedKeys";
    CheckOpen(context);
    if (Count == 0)
        return;
    // The keys are checked before any page is written: a refusal leaves the
    // tree as it was.
    const TKeyComparisonFlags none;
    for (std::size_t i = 1; i < Count; ++i)
        if (CompareKeys(0, none, none, KeyAt(i - 1), KeyAt(i)) >= 0)
            VekDatabaseError(8581, context, "The keys are not in order", nullptr);
    std::size_t next = 0;
    LoadKeys(Count, [&] { return KeyAt(next++); }, false, context);
}

void TBTree::LoadSortedKeyStream(std::size_t Count, const std::function<const Byte*()>& NextKey)
{
    const char* context = "TBTree.LoadSortedKeyStream";
    CheckOpen(context);
    if (Count == 0)
        return;
    LoadKeys(Count, NextKey, true, context);
}

void TBTree::LoadKeys(std::size_t Count, const std::function<const Byte*()>& NextKey, bool CheckOrder,
                      const char* Context)
{
    ReturnLentPages();
    PreparePath();
    if (Depth() != 1 || !FPath.front()->CheckIsLeaf() || !FPath.front()->IsEmpty())
        VekDatabaseError(8581, Context, "The index is not empty", nullptr);
    const Integer keySize = MaximumKeySize();
    const auto entrySize = static_cast<std::size_t>(keySize);
    // The most entries a page holds without being full (see TNode::IsFull).
    const Integer perPage = (FPageSize - NodeHeaderSize - keySize - 1) / keySize;
    if (perPage < 2)
        VekDatabaseError(8581, Context, "Key size too large for page size", nullptr);

    // Keys checked as they come: each must follow the one before.
    const TKeyComparisonFlags none;
    std::vector<Byte> previous(CheckOrder ? entrySize : 0);
    std::size_t taken = 0;
    auto nextLeafEntry = [&]() -> const Byte* {
        const Byte* key = NextKey();
        if (CheckOrder) {
            if (taken > 0 && CompareKeys(0, none, none, previous.data(), key) >= 0)
                VekDatabaseError(8581, Context, "The keys are not in order", nullptr);
            std::memcpy(previous.data(), key, entrySize);
        }
        ++taken;
        return key;
    };

    // One level: the entries (Count of them, from NextEntry in order) go to
    // pages of about equal fill; each page's first entry, its record count
    // and address become an entry of the level above. The last level (one
    // page's worth) goes to the root page, written last: a load refused
    // part-way leaves the root as it was and gives back the pages written.
    std::vector<Cardinal> written;
    std::vector<Byte> page(static_cast<std::size_t>(FPageSize));
    std::vector<Byte> prior(static_cast<std::size_t>(FPageSize));
    auto writeLevel = [&](std::size_t Entries, const std::function<const Byte*()>& NextEntry, bool Leaf,
                          std::vector<Byte>& Above) {
        Above.clear();
        const auto capacity = static_cast<std::size_t>(perPage);
        const bool toRoot = Entries <= capacity;
        const std::size_t pages = toRoot ? 1 : (Entries + capacity - 1) / capacity;
        Cardinal priorAddress = 0;
        for (std::size_t p = 0; p < pages; ++p) {
            // Spread evenly: no page is left nearly empty at the end.
            const std::size_t take = Entries / pages + (p < Entries % pages ? 1 : 0);
            std::fill(page.begin(), page.end(), Byte{0});
            WriteLE32(page.data() + nhoLeaf, Leaf ? 1 : 0);
            WriteLE32(page.data() + nhoSize, static_cast<Cardinal>(take * entrySize));
            Cardinal records = 0;
            Byte* out = page.data() + NodeHeaderSize;
            for (std::size_t i = 0; i < take; ++i, out += entrySize) {
                const Byte* entry = NextEntry();
                std::memcpy(out, entry, entrySize);
                WriteLE16(out + kioLength, static_cast<Word>(keySize));
                if (Leaf) {
                    WriteLE32(out + kioCount, 0);
                    ++records;
                } else {
                    records += ReadLE32(out + kioCount);
                }
            }
            Cardinal address = Root();
            if (toRoot) {
                FIOInterface->WriteBlock(address, FPageSize, page.data());
                PageChanged(address, nullptr);
            } else {
                if (Leaf)
                    WriteLE32(page.data() + nhoPrior, priorAddress);
                address = AllocatePage(page.data());
                written.push_back(address);
                if (Leaf && priorAddress != 0) {
                    // The page before learns its successor.
                    WriteLE32(prior.data() + nhoNext, address);
                    FIOInterface->WriteBlock(priorAddress, FPageSize, prior.data());
                    PageChanged(priorAddress, nullptr);
                }
                priorAddress = address;
                prior = page;
            }
            const std::size_t at = Above.size();
            Above.resize(at + entrySize);
            std::memcpy(Above.data() + at, page.data() + NodeHeaderSize, entrySize);
            WriteLE32(Above.data() + at + kioCount, records);
            WriteLE32(Above.data() + at + kioAddress, address);
        }
        return toRoot;
    };

    std::vector<Byte> below;
    std::vector<Byte> above;
    Integer depth = 1;
    try {
        bool done = writeLevel(Count, nextLeafEntry, true, above);
        while (!done) {
            below.swap(above);
            ++depth;
            const Byte* entries = below.data();
            std::size_t next = 0;
            done = writeLevel(below.size() / entrySize, [&] { return entries + (next++) * entrySize; }, false,
                              above);
        }
    } catch (...) {
        // A key out of order or a write that failed: the root, written
        // last, is as it was; the pages below it go back.
        try {
            for (const Cardinal address : written)
                ReleasePage(address);
        } catch (...) {
            // The first failure is the one reported.
        }
        InvalidatePath();
        throw;
    }
    if (FDepthRef != nullptr)
        *FDepthRef = depth;
    InvalidatePath();
}

void TBTree::InsertRecord()
{
    const Integer keySize = MaximumKeySize();
    const int depth = static_cast<int>(FPath.size());
    std::vector<Byte> pending(KeyBuf(), KeyBuf() + keySize);
    WriteLE16(pending.data() + kioLength, static_cast<Word>(keySize));
    WriteLE32(pending.data() + kioCount, 0);
    bool hasPending = true;
    for (int level = depth - 1; level >= 0; --level) {
        TNode* node = FPath[level].get();
        // A child that split hands up an entry (pending) and must be counted.
        if (level < depth - 1)
            RefreshEntry(node, node->Cursor(), FPath[level + 1].get(), !hasPending);
        if (hasPending) {
            const Integer at = level == depth - 1 ? FLeafInsertPos : node->Cursor() + keySize;
            node->InsertKey(at, pending.data());
            hasPending = false;
            if (node->IsFull()) {
                if (level == 0) {
                    SplitRoot();
                    continue;
                }
                const Cardinal address = AllocatePage(nullptr);
                FSpare->SetAddress(address);
                node->SplitNode(FSpare->Buffer(), address);
                FSpare->WriteNode();
                if (node->CheckIsLeaf() && (node->Next() == node->Address() || FSpare->Next() == address))
                    DebugLine("******ERROR in SPLIT NODE");
                pending = ParentEntryOf(FSpare.get(), keySize);
                hasPending = true;
            }
        }
        node->WriteNode();
    }
    WriteBackShape();
    InvalidatePath();
}

void TBTree::SplitRoot()
{
    const Integer keySize = MaximumKeySize();
    TNode* root = FPath.front().get();
    const bool leaf = root->CheckIsLeaf();
    const Cardinal rightAddress = AllocatePage(nullptr);
    FSpare->SetAddress(rightAddress);
    root->SplitNode(FSpare->Buffer(), rightAddress);
    // The left half moves to a new page, so that the root keeps its address.
    const Cardinal leftAddress = AllocatePage(root->Buffer());
    if (leaf)
        FSpare->SetPrior(leftAddress);
    FSpare->WriteNode();

    std::vector<Byte> first = ParentEntryOf(root, keySize);
    WriteLE32(first.data() + kioAddress, leftAddress);
    const std::vector<Byte> second = ParentEntryOf(FSpare.get(), keySize);
    root->ClearNode();
    root->SetLeaf(false);
    root->InsertKey(0, first.data());
    root->InsertKey(keySize, second.data());
    root->WriteNode();
    // One level more: the new level goes under the root.
    auto node = std::make_unique<TNode>();
    node->Open(this, FIOInterface, FPageSize);
    FPath.insert(FPath.begin() + 1, std::move(node));
}

void TBTree::DeleteRecord()
{
    const Integer keySize = MaximumKeySize();
    const int depth = static_cast<int>(FPath.size());
    TNode* leaf = Leaf();
    leaf->DeleteKey(leaf->Cursor());
    Integer pending = -1;   // an entry of the level above to delete
    bool childGone = false; // the page of the level below was released
    for (int level = depth - 1; level >= 0; --level) {
        TNode* node = FPath[level].get();
        if (level < depth - 1) {
            Integer pos = node->Cursor();
            if (pending >= 0) {
                node->DeleteKey(pending);
                if (pending < pos)
                    pos -= keySize;
                node->SetCursor(pos);
            }
            if (!childGone)
                RefreshEntry(node, pos, FPath[level + 1].get());
        }
        pending = -1;
        childGone = false;
        if (level > 0)
            pending = Rebalance(level, childGone);
        if (!childGone)
            node->WriteNode();
    }
    CollapseRoot();
    WriteBackShape();
    InvalidatePath();
}

Integer TBTree::Rebalance(int Level, bool& NodeGone)
{
    TNode* node = FPath[Level].get();
    TNode* parent = FPath[Level - 1].get();
    const Integer parentPos = parent->Cursor();
    NodeGone = false;
    if (!node->IsTooEmpty())
        return -1;
    if (parent->GetCount() > 1) {
        const Integer siblingPos = parent->GetRedistributeNode(parentPos);
        if (siblingPos < 0)
            return -1;
        const Cardinal sibling = ReadLE32(parent->Keys() + siblingPos + kioAddress);
        FSpare->ReloadNode(sibling);
        const bool right = siblingPos > parentPos;
        TNode* leftNode = right ? node : FSpare.get();
        TNode* rightNode = right ? FSpare.get() : node;
        switch (leftNode->RedistributeNodes(rightNode)) {
        case 1:
            FSpare->WriteNode();
            RefreshEntry(parent, siblingPos, FSpare.get());
            return -1;
        case -1:
            node->MergeNodes(FSpare.get(), right);
            ReleasePage(sibling);
            return siblingPos;
        default:
            return -1;
        }
    }
    // An only child left without keys leaves the tree with its entry.
    if (node->IsEmpty()) {
        if (node->CheckIsLeaf())
            node->UnlinkLeaf();
        ReleasePage(node->Address());
        NodeGone = true;
        return parentPos;
    }
    return -1;
}

void TBTree::CollapseRoot()
{
    TNode* root = FPath.front().get();
    if (FPath.size() < 2)
        return;
    if (root->GetCount() == 1) {
        // The only child's contents move into the root page.
        const Cardinal child = ReadLE32(root->Keys() + kioAddress);
        FSpare->ReloadNode(child);
        std::memcpy(root->Buffer(), FSpare->Buffer(), static_cast<std::size_t>(FPageSize));
        root->SetCursor(0);
        root->WriteNode();
        ReleasePage(child);
        FPath.erase(FPath.begin() + 1);
    } else if (root->GetCount() == 0) {
        root->ClearNode();
        root->SetLeaf(true);
        root->WriteNode();
        FPath.resize(1);
    }
}

void TBTree::DebugLine(const std::string& Text)
{
    if (FDebugStrings != nullptr)
        FDebugStrings->Add(Text);
}

} // namespace orvex
