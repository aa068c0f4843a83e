#pragma once
// B-tree pages, nodes and the tree of one open index.
//
// Every index is a B-tree of fixed-size pages kept in the table's index
// block I/O interface. An index page (little-endian, PageSize bytes):
//
//   offset      size   field
//   0           4      Leaf: 1 for a leaf page, 0 for an inner page
//   4           4      Size: bytes of key entries in use
//   8           4      Next: the next leaf's address (0 at the end); leaves only
//   12          4      Prior: the previous leaf's address (0 at the start)
//   16          Size   key entries packed in key order
//   16 + Size   ...    zero bytes up to PageSize
//
// Each entry is a key of MaximumKeySize bytes (see vekIndexUnit.h): in a
// leaf its Address is the record's block address and its Count 0; in an
// inner page there is one entry per child, holding a copy of the child's
// first key, the child page's address and the number of records under it.
// Record numbers (1-based, in key order) are derived from those counts.
//
// TNode is one page in memory with a byte cursor and the page-level
// operations; TBTree is one open index: the path of nodes from the root to
// the current leaf, the search key (inherited from TIndexKeys), and the
// search, navigation, insert and delete operations. The root page never
// moves: a root split copies the root's left half to a new page, and a root
// left with one child takes that child's contents.

#include "storage/vekIndexUnitKeys.h"

#include "host/Classes.h"
#include "host/System.h"

#include <functional>
#include <memory>
#include <vector>

namespace orvex {

class TBaseIOInterface;
class TCompoundList;
class TReadAheadBuffer;
class TSearchModifier; // vekIndexUnitManager.h
class TVekBaseHash;
class TBTree;

// ------------------------------------------------------------- page layout

inline constexpr Integer nhoLeaf = 0;
inline constexpr Integer nhoSize = 4;
inline constexpr Integer nhoNext = 8;
inline constexpr Integer nhoPrior = 12;
inline constexpr Integer NodeHeaderSize = 16;
// The largest index page a tree accepts.
inline constexpr Integer MaxIndexPageSize = 1 << 20;

// The page size for keys of KeySize bytes: max(((KeySize + 16) div 2048 + 1)
// * 2048, 4096). Exported for callers; the engine gives every index 4096.
Integer CalculateIndexPageSize(Integer KeySize);

// How TNode.FindKeyByPosition matches a byte position to an entry.
enum TKeySearchType { ksLE, ksEQ, ksGE };
enum TNodeType { ntNode, ntLeaf };

// What a search of the tree accepts as its answer.
enum TIndexSearchType { stLT, stLE, stEQ, stGE, stGT, stLEG };
// Where the read-ahead fill takes entries from, seen from the cursor.
enum TReadAheadDirection { rdNone, rdBackwards, rdForwards, rdCenter };

// -------------------------------------------------------------------- TNode

// One index page in memory with a cursor: the byte offset of the current
// entry in the key area. Positions are offsets in the key area (0 is the
// first entry). Inconsistencies raise engine error 8581 named after the
// routine ("TNode.SplitNode").
class TNode : public TObject {
public:
    TNode() = default;

    // Allocates the zeroed page buffer. The tree (may be nullptr) supplies
    // the maximum key size and hears of every page this node writes.
    void Open(TBTree* Tree, TBaseIOInterface* IOInterface, Integer PageSize);
    // Frees the buffer.
    void Close();
    // 8581 "Node Buffer not allocated" without a buffer.
    void CheckOpen() const;

    // A different address clears the page (keeping its Leaf flag) and
    // records the address.
    void SetAddress(Cardinal Address);
    // Reads the page at Address unless it is the one loaded; the cursor
    // goes to the first entry.
    void ReadNode(Cardinal Address);
    // Reads the page at Address even when it is the one loaded, and checks
    // it (CheckPage); a damaged page leaves nothing loaded. While the tree
    // borrows pages, the node works on the store's bytes in place.
    void ReloadNode(Cardinal Address);
    void WriteNode();
    // Zero-fills the page except the Leaf flag; the cursor goes to 0.
    void ClearNode();
    // Forgets the page loaded (and a lent page), so that the next ReadNode
    // reads it again.
    void Invalidate();
    // Lets a lent page go: the node keeps its header (type and links) with
    // no entries, and reads the page again when next asked to.
    void ReturnLentPage();

    // ksLE: the start of the entry holding byte Pos; ksEQ: Pos when an
    // entry starts there, else -1; ksGE: the first entry start at or after
    // Pos (Size when none). -1 for a Pos outside 0 .. Size.
    Integer FindKeyByPosition(TKeySearchType SearchType, Integer Pos) const;

    // The cursor.
    void SetCursorToEnd(bool ToStart);
    bool NextRecord();  // false at the last entry
    bool PriorRecord(); // false at the first entry
    // 8581 "Node is empty"; a cursor at or after Size goes to the last entry.
    void ForceCursorToPhysicalKey();
    Integer Cursor() const { return FCursor; }
    void SetCursor(Integer Pos) { FCursor = Pos; }
    // Whether the cursor stands on an entry.
    bool CursorOnEntry() const { return FCursor >= 0 && FCursor < Size(); }
    // The number of the cursor's entry, counted from 1.
    Integer GetKeyNo() const;
    Byte* GetCurrentKey();
    // The current entry's Address word; 8581 "Node cursor out of range".
    Cardinal GetRecordAddress() const;
    // Copies the current entry; 8581 "Cursor is out of range".
    void CopyCurrentKey(Byte* Key) const;

    // Entries. ReadKey copies the whole entry at Pos (8581 "ReadPos is out
    // of range: " and Pos); InsertKey makes room at Pos and copies Key in;
    // DeleteKey removes the entry at Pos (8581 "Invalid key size in Delete
    // key: " for a length of 0 or above MaxKeySize); UpdateKey replaces it.
    void ReadKey(Integer Pos, Byte* Key) const;
    void InsertKey(Integer Pos, const Byte* Key);
    void DeleteKey(Integer Pos);
    void UpdateKey(Integer Pos, const Byte* Key);
    // Shifts the bytes from Pos to the end of the keys up or down by Delta
    // (8581 "Move block error - Start Pos - Delta are out of range" when
    // shifting down by more than Pos). Size is the caller's.
    void MoveBlock(Integer Pos, Integer Delta, bool Up);
    // Removes the Count bytes before Pos and reduces Size by Count.
    void BlockDelete(Integer Pos, Integer Count);

    // The page header.
    Cardinal Address() const { return FAddress; }
    Integer Size() const;
    void SetSize(Integer Value);
    Cardinal Next() const;
    Cardinal Prior() const;
    void SetNext(Cardinal Value);
    void SetPrior(Cardinal Value);
    void SetLeaf(bool Value);
    bool CheckIsLeaf() const;
    TNodeType NodeType() const { return CheckIsLeaf() ? ntLeaf : ntNode; }
    // The number of entries.
    Integer GetCount() const;
    // Records in the entries up to and including the one at Pos (all for a
    // negative Pos or one not below Size): entries in a leaf, the sum of
    // their Counts in an inner page.
    Integer GetRecordCount(Integer Pos) const;

    // Thresholds. Full: Size + 16 + MaxKeySize >= PageSize; RoomForKey(n):
    // Size + n + 16 <= PageSize; too empty: Size + 16 < PageSize div 2.
    bool IsFull() const;
    bool RoomForKey(Integer KeySize) const;
    bool IsTooEmpty() const;
    bool IsEmpty() const { return Size() == 0; }

    // Moves the entries from the one holding the middle byte on into
    // NewBuffer (a whole page, given this page's header with its own Size);
    // a leaf is linked in after this one, its old successor's Prior
    // pointing at NewAddress.
    void SplitNode(Byte* NewBuffer, Cardinal NewAddress);
    // On a parent, the sibling entry to rebalance the child at Pos with:
    // the neighbour with the smaller Count (the right one on a tie); -1 for
    // a leaf or an empty page.
    Integer GetRedistributeNode(Integer Pos) const;
    // Called on the left of two siblings: -1 when together they fill at
    // most a third of a page (the caller merges), 0 when both sizes are
    // equal, else 1 after moving entries so that each holds about half.
    Integer RedistributeNodes(TNode* Right);
    // Takes all entries of Other, after this page's (Append) or before
    // them, relinking leaves past Other. The caller releases Other's page.
    void MergeNodes(TNode* Other, bool Append);
    // Takes this leaf out of the leaf chain: its neighbours point at each
    // other. The caller releases the page.
    void UnlinkLeaf();

    // The page: the node's own copy, or the store's bytes while it lends
    // them (see TBTree: only during an insert).
    Byte* Buffer() { return FData; }
    const Byte* Buffer() const { return FData; }
    Byte* Keys() { return FData + NodeHeaderSize; }
    const Byte* Keys() const { return FData + NodeHeaderSize; }
    bool Lent() const { return FData != FBuffer.data(); }
    Integer PageSize() const { return FPageSize; }
    Integer MaxKeySize() const { return FMaxKeySize; }
    void SetMaxKeySize(Integer Value) { FMaxKeySize = Value; }
    TBaseIOInterface* IOInterface() const { return FIOInterface; }
    TBTree* Tree() const { return FTree; }

    // Refuses a page whose header or entries do not fit the page (engine
    // error 8451 naming Context): a Leaf word other than 0 or 1, a Size
    // beyond the page; in a tree's node a Size that is not a whole number of
    // MaxKeySize entries (each entry's length word is checked where it is
    // used), in a node on its own an entry length of 0, above MaxKeySize or
    // running past Size.
    void CheckPage(const char* Context) const;

private:
    [[noreturn]] void Corrupt(const char* Context, const std::string& Text) const;
    Integer EntryLength(Integer Pos, const char* Context) const;
    void CheckPosition(Integer Pos, const char* Context) const;
    // Reads, changes and writes back the 16-byte header of another page.
    void RelinkPage(Cardinal Address, Integer Offset, Cardinal Value);

    TBTree* FTree = nullptr;
    TBaseIOInterface* FIOInterface = nullptr;
    std::vector<Byte> FBuffer;
    Byte* FData = nullptr; // FBuffer's bytes, or the page the store lends
    Cardinal FAddress = 0;
    Integer FPageSize = 0;
    Integer FMaxKeySize = 0;
    Integer FCursor = 0;
};

// ------------------------------------------------------------------- TBTree

// One open index. The root address and depth are words of the index's owner
// (ConnectToIFace), read when the path is prepared and written back after
// every change of the tree. The key fields, MaximumKeySize and the string
// compare routine (TIndexKeys) are set before Open.
//
// A search leaves the path (one node per level, root first) on the answer;
// the cursor is the leaf node's. Stepping across leaves searches the tree
// again for the key at the cursor, so that the path and the record numbers
// stay right. Inserts and deletes invalidate the path.
class TBTree : public TIndexKeys {
public:
    TBTree();
    ~TBTree() override;

    // The index pages' interface, the page size and the owner's words that
    // hold the root address and the depth.
    void ConnectToIFace(TBaseIOInterface* IOInterface, Integer PageSize, Cardinal* RootRef,
                        Integer* DepthRef);
    void SetPageSize(Integer Value) { FPageSize = Value; }

    // Closes, then checks the set-up: 8581 "No sort order function
    // assigned" without a string compare routine, "IO Interface is
    // unassigned" without an interface, the key fields (CheckKeyFields),
    // and "Key size too large for page size" when fewer than three entries
    // fit in a page. Creates the nodes.
    void Open();
    // Frees the nodes.
    void Close();
    bool IsOpen() const { return FSpare != nullptr; }

    // One empty leaf page; the root is its address and the depth 1.
    void CreateTree();
    // Releases every page of the tree (children before parents). Drop:
    // root and depth become 0; otherwise a new empty tree is made. A tree
    // whose root page is empty is kept as it is unless dropped. The tree
    // stays open when it was.
    void EmptyTree(bool Drop);

    // Searches the whole search key and inserts it when no equal key
    // exists (0), else -1.
    Integer IdxInsert();
    // Deletes the key equal to the search key (0), else -1.
    Integer IdxDelete();
    // Fills an empty tree with Count keys handed out by KeyAt in key order,
    // no two equal (their Address words hold the record addresses): the
    // leaves are written one after another, each as full as an insert leaves
    // a page before it splits, then each level above from the first keys of
    // the pages below; the root keeps its address. 8581 when the tree holds
    // keys or a key is out of order.
    void LoadSortedKeys(std::size_t Count, const std::function<const Byte*(std::size_t)>& KeyAt);
    // LoadSortedKeys from keys handed out one after another by NextKey (a
    // key need stay valid only until the next call), for keys merged from
    // runs that are never all in memory. Each key is checked against the one
    // before as it comes: a key out of order raises 8581 with the root as it
    // was, the pages already written left unused.
    void LoadSortedKeyStream(std::size_t Count, const std::function<const Byte*()>& NextKey);
    // Insert or delete the search key at the path of the last search; a
    // path that does not belong to the search key is searched again first.
    // -1 (and nothing changed) for an equal key that exists on insert, or
    // one that is missing on delete.
    Integer InsertKey();
    Integer DeleteKey();

    // 0 when the cursor stands on a key that satisfies SearchType for the
    // search key (over the modifier's leading key fields when it limits the
    // search), else non-zero.
    Integer IndexSearch(TIndexSearchType SearchType, const TSearchModifier* Modifier = nullptr);
    // The check that the search key is new, made just before it is inserted:
    // IndexSearch(stEQ), but where the store lends its pages (inside a file
    // transaction) the path is built on them and kept lent, so that the
    // InsertKey that follows changes them in place and copies no page (it
    // changes every page of the path anyway). Should the store take its
    // pages back in between (LendEpoch), the insert searches again. A key
    // found, or a failure, gives the pages back at once.
    Integer InsertCheckSearch();
    // Where the path stands on lent pages (a key check whose insert does not
    // follow), the path is forgotten and the pages go back.
    void ForgetLentPath();
    // The descent over FieldCount key fields (0: all): the comparison of the
    // search key with the entry at the leaf cursor (0 equal, negative when
    // the search key is smaller, positive when it is greater than every key
    // of the leaf); -1 for an empty tree. ForceCursor moves a cursor after
    // the leaf's last entry onto that entry.
    Integer InternalSearch(Integer FieldCount, bool ForceCursor);

    // True when the cursor moved; false leaves it where it was.
    bool NextRecord();
    bool PriorRecord();

    // The record address at the cursor (8581 "Attempt to read record
    // address from non-leaf node" when the path ends in an inner page).
    Cardinal GetRecAddr();
    // The entry at the cursor (8581 "CurrentKeyCursor is invalid" before a
    // search), valid until the tree is used again.
    const Byte* GetCurrentKeyBuf();
    // CompareKeys of Key (with Flags) and the entry at the cursor.
    Integer CompareKeyToCurrentKeyBuf(const TKeyComparisonFlags& Flags, const Byte* Key);
    // The value bytes of key field FieldNo of the entry at the cursor (a
    // string's characters, Size its length); false when the field is null.
    // 8581 "CurrentKeyCursor is invalid" before a search.
    bool GetCurrentKeyField(Integer FieldNo, const Byte*& Data, Integer& Size);
    // One text per key field of the entry at the cursor.
    void CurrentKeyAsStrings(TStrings* Lines);

    // The number of keys. The path is prepared when it is not, or when
    // RecheckRoot is set and the root address changed.
    Integer GetRecordCount(bool RecheckRoot);
    // The record number (from 1) of the key at the cursor.
    Integer GetRecordNo();
    // Puts the cursor on record N (0 and below count as 1) and returns its
    // address; 0 for an empty tree.
    Cardinal GetAddrOfRecNo(Integer N);

    // Lists the records from the cursor on (backwards for stLT and stLE,
    // forwards otherwise) into List: addresses in the lead list, record
    // numbers in the companion list. stEQ stops before the first key that
    // differs from Key over FieldCount fields; every scan stops after the
    // record StopAddress, or at the end of the leaf chain. Key nullptr is
    // the key at the cursor. With Ascending a backward scan's pairs are
    // turned into key order. Done: the scan ended at StopAddress or at a
    // differing key, not by running out of keys.
    void ListMatchingRecords(const Byte* Key, Integer FieldCount, Cardinal StopAddress,
                             TIndexSearchType SearchType, bool Ascending, TCompoundList* List,
                             bool& Done);
    // Appends the record addresses of Count entries from the cursor on, in
    // key order (fewer at the end of the leaf chain); the path stays.
    void ListAddresses(Integer Count, std::vector<Cardinal>& Addresses);
    // Appends the record addresses of the entries from the cursor to the end
    // of the cursor's leaf, reading no page; nothing without a valid cursor.
    void ListLeafAddresses(std::vector<Cardinal>& Addresses) const;
    // The number of entries from the cursor on, inside the cursor's leaf,
    // that sort before the search key over all key fields (with OrEqual:
    // before or equal to it), the search key's flags applied; -1 when the
    // leaf ends before such an entry is passed, or without a valid cursor.
    Integer CountLeafKeysBelowSearchKey(bool OrEqual);
    // Adds up to Count entries of the cursor's leaf to Buffer, in key
    // order, with their record addresses, keys and record numbers; returns
    // how many.
    Integer ListReadAheadRecords(TReadAheadDirection Direction, Integer Count, TReadAheadBuffer* Buffer);
    // Adds key field KeyFieldNo of every entry from the cursor's leaf to
    // the end of the leaf chain to Hash (its value bytes, a string's
    // characters), with the record address; null values are left out.
    void FillHashTable(Integer KeyFieldNo, TVekBaseHash* Hash);

    // Forgets the pages held by every node and the path.
    void InvalidateInternalBuffers();

    // Diagnostics into Lines. DebugStatus: the tree and its path;
    // DebugDumpAllocatedBlocks: the header of every block of the
    // interface; DebugDumpTree: every page in key order with its keys;
    // CheckOrder: checks key order, child keys and counts, leaf links and
    // depth over the whole tree, true when all hold.
    void DebugStatus(TStrings* Lines);
    void DebugDumpAllocatedBlocks(TStrings* Lines);
    void DebugDumpTree(TStrings* Lines);
    bool CheckOrder(TStrings* Lines);

    TBaseIOInterface* IOInterface() const { return FIOInterface; }
    Integer PageSize() const { return FPageSize; }
    Cardinal Root() const { return FRootRef != nullptr ? *FRootRef : 0; }
    Integer Depth() const { return FDepthRef != nullptr ? *FDepthRef : 0; }
    bool PathPrepared() const { return FPathPrepared; }
    bool CursorValid() const { return FCursorValid; }
    TStrings* DebugStrings() const { return FDebugStrings; }
    void SetDebugStrings(TStrings* Value) { FDebugStrings = Value; }

    // Called by the nodes: the page at Address changed on storage (Writer
    // wrote it, or nullptr), so no other node may keep an old copy.
    void PageChanged(Cardinal Address, const TNode* Writer);
    // Whether nodes reading pages now work on the store's bytes in place
    // where it lends them: only while an insert runs, which writes every
    // page of its path anyway; the pages go back when it ends.
    bool Borrowing() const { return FBorrowing; }

private:
    void CheckOpen(const char* Context) const;
    void PreparePath();
    // The two loads: Count keys from NextKey, checked on the way when
    // CheckOrder.
    void LoadKeys(std::size_t Count, const std::function<const Byte*()>& NextKey, bool CheckOrder,
                  const char* Context);
    TNode* Leaf() const;
    bool RootEmpty() const;
    // The position in Node for the search key, and the comparison there.
    Integer SearchPage(TNode* Node, Integer FieldCount, bool IsLeaf, Integer& Result);
    // NextRecord (Forwards) or PriorRecord.
    bool Step(bool Forwards);
    void RefreshToCursor();
    // Reads the first non-empty leaf from Address on in the direction
    // given, into the spare node; false when there is none.
    bool FindLeafWithKeys(Cardinal Address, bool Forwards);
    // The same within a longer walk: Steps counts the leaves read so far,
    // and a walk longer than the interface has blocks raises 8451.
    bool FindLeafWithKeys(Cardinal Address, bool Forwards, Cardinal& Steps);
    // The stored depth; 0 without a root. A depth beyond any tree raises
    // 8451 naming Context.
    Integer CheckedDepth(const char* Context) const;
    // Whether the path was built by a full search of the current search key
    // (and, when it stands on lent pages, they are still lent).
    bool PathFitsSearchKey();
    // The store's lend epoch when the path was left on lent pages.
    Cardinal FPathLendEpoch = 0;
    bool PathLent() const;
    // Forgets a path left on lent pages the store has taken back since;
    // true when it did.
    bool DropStaleLentPath();
    void InsertRecord();
    void DeleteRecord();
    void SplitRoot();
    void CollapseRoot();
    // Rebalances a too empty node at Level with a sibling. Returns the
    // position of the parent's entry that goes (the sibling's when it was
    // merged into the node, the node's own when it was empty and had no
    // sibling: NodeGone), else -1.
    Integer Rebalance(int Level, bool& NodeGone);
    // Parent's entry at Pos takes Child's first key, address and count. The
    // count is Child's entries counted, or with OneMore (after one key went
    // into Child and Child did not split) the entry's count plus one.
    void RefreshEntry(TNode* Parent, Integer Pos, TNode* Child, bool OneMore = false);
    Cardinal AllocatePage(const Byte* Page);
    void ReleasePage(Cardinal Address);
    void WriteBackShape();
    void InvalidatePath();
    // Ends borrowing: every node on a lent page lets it go, and a path made
    // of lent pages is no longer valid.
    void ReturnLentPages();
    // The value bytes of key field FieldNo in Entry; false when null.
    bool LocateKeyField(const Byte* Entry, Integer FieldNo, const Byte*& Data, Integer& Size) const;
    void DebugLine(const std::string& Text);

    TBaseIOInterface* FIOInterface = nullptr;
    Integer FPageSize = 0;
    Cardinal* FRootRef = nullptr;
    Integer* FDepthRef = nullptr;
    std::vector<std::unique_ptr<TNode>> FPath; // root first
    std::unique_ptr<TNode> FSpare;
    Integer FLeafInsertPos = 0; // where the search key goes in the leaf
    Integer FLastResult = 0;    // the last descent's comparison
    bool FPathPrepared = false;
    bool FCursorValid = false;
    bool FFullSearchPath = false;   // the path came from a full search, unmoved
    bool FBorrowing = false;
    std::vector<Byte> FSearchedKey; // the search key that path was made for
    std::vector<Byte> FEntryBuf;    // an entry being built
    std::vector<Byte> FZeroPage;
    TStrings* FDebugStrings = nullptr;
};

} // namespace orvex
