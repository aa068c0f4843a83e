#pragma once
// Index definitions, the search modifier and the index manager.
//
// A table definition describes its indexes with TInternalIndexDefs; each
// open dataset turns them into a TIndexManager of TIndexItem, one per index,
// each owning the B-tree of its index. The manager keeps the root address
// and depth of every index in the table header's index slots (slot
// IndexSequence of each index), selects the current index by name, and adds,
// drops and empties indexes. Every change of a tree's shape reads the slots
// first and writes them afterwards, so that other datasets of the table see
// the new roots.

#include "host/Classes.h"
#include "host/System.h"
#include "storage/vekConsts.h"
#include "storage/vekIndexUnitTree.h"

#include <memory>
#include <string>
#include <vector>

namespace orvex {

class TBaseIOInterface;
class TIndexManager;
class TTableHeader;

// ---------------------------------------------------------- TSearchModifier

// Limits a partial index search to leading key fields: with LimitedSearch
// the search compares IncludedKeyFieldCount key fields when that is at least
// 1, else the leading key fields that are not Hidden. The table component
// and the query engine set it before such a search.
class TSearchModifier : public TObject {
public:
    Integer IncludedKeyFieldCount() const { return FIncludedKeyFieldCount; }
    void SetIncludedKeyFieldCount(Integer Value) { FIncludedKeyFieldCount = Value; }
    bool LimitedSearch() const { return FLimitedSearch; }
    void SetLimitedSearch(bool Value) { FLimitedSearch = Value; }

private:
    Integer FIncludedKeyFieldCount = 0;
    bool FLimitedSearch = false;
};

// -------------------------------------------------------- TInternalIndexDef

// The stored definition of one index of a table.
class TInternalIndexDef : public TCollectionItem {
public:
    explicit TInternalIndexDef(TCollection* Collection);

    // From another TInternalIndexDef (or a TIndexItem): the eleven
    // properties below. Any other source goes to the inherited assignment.
    void Assign(TPersistent* Source) override;
    // The eleven properties below, in their order.
    void PublishProperties(TPropertyList& List) override;

    // Published, in streaming order.
    // The index's slot in the table header.
    Integer IndexSequence() const { return FIndexSequence; }
    void SetIndexSequence(Integer Value) { FIndexSequence = Value; }
    const std::string& IndexName() const { return FIndexName; }
    void SetIndexName(const std::string& Value) { FIndexName = Value; }
    bool Unique() const { return FUnique; }
    void SetUnique(bool Value) { FUnique = Value; }
    bool Primary() const { return FPrimary; }
    void SetPrimary(bool Value) { FPrimary = Value; }
    bool Hidden() const { return FHidden; }
    void SetHidden(bool Value) { FHidden = Value; }
    bool Maintained() const { return FMaintained; }
    void SetMaintained(bool Value) { FMaintained = Value; }
    bool Memory() const { return FMemory; }
    void SetMemory(bool Value) { FMemory = Value; }
    // The size of every key entry of the index, null-flag bytes included.
    Integer MaximumKeySize() const { return FMaximumKeySize; }
    void SetMaximumKeySize(Integer Value) { FMaximumKeySize = Value; }
    // The number of null-flag bytes of a key.
    Integer KeyDataOffset() const { return FKeyDataOffset; }
    void SetKeyDataOffset(Integer Value) { FKeyDataOffset = Value; }
    Integer IndexPageSize() const { return FIndexPageSize; }
    void SetIndexPageSize(Integer Value) { FIndexPageSize = Value; }
    // Recorded only: every entry of an index is MaximumKeySize bytes.
    TIndexKeyType IndexKeyType() const { return FIndexKeyType; }
    void SetIndexKeyType(TIndexKeyType Value) { FIndexKeyType = Value; }

protected:
    // The published properties in two runs, for descendants that publish
    // more between them: IndexSequence .. Memory, and MaximumKeySize ..
    // IndexPageSize.
    void PublishNameAndFlags(TPropertyList& List);
    void PublishSizes(TPropertyList& List);

private:
    Integer FIndexSequence = 0;
    std::string FIndexName;
    bool FUnique = false;
    bool FPrimary = false;
    bool FHidden = false;
    bool FMaintained = false;
    bool FMemory = false;
    Integer FMaximumKeySize = 0;
    Integer FKeyDataOffset = 0;
    Integer FIndexPageSize = 0;
    TIndexKeyType FIndexKeyType = ikFixed;
};

// The index definitions of a table.
class TInternalIndexDefs : public TCollection {
public:
    TInternalIndexDefs();

    TInternalIndexDef* Add() { return static_cast<TInternalIndexDef*>(TCollection::Add()); }
    TInternalIndexDef* GetItems(int Index) const { return static_cast<TInternalIndexDef*>(Items(Index)); }
    void SetItems(int Index, TInternalIndexDef* Value) { GetItems(Index)->Assign(Value); }
    // The first definition whose IndexName equals Name ignoring case;
    // nullptr when none.
    TInternalIndexDef* FindIndexDef(const std::string& Name) const;
    // Assign (the collection's) copies another TInternalIndexDefs item by
    // item.
};

// --------------------------------------------------------------- TIndexItem

// One index of an open table: its definition, its key fields, the root
// address and depth of its tree (kept in the table header's slot
// IndexSequence by the manager), and the tree itself. Items live in a
// TIndexManager, whose block I/O interface, string compare routine and
// debug lines they use. The search, navigation and key routines forward to
// the tree (see TBTree and TIndexKeys); they need the index open.
class TIndexItem : public TInternalIndexDef {
public:
    explicit TIndexItem(TCollection* Collection);
    ~TIndexItem() override;

    // From a TIndexItem: its eleven definition properties, a copy of its key
    // fields, Root and Depth. From a TInternalIndexDef: its eleven
    // properties; the key fields are cleared. Any other source goes to the
    // inherited assignment.
    void Assign(TPersistent* Source) override;
    // IndexSequence .. Memory, KeyFields, MaximumKeySize .. IndexPageSize,
    // Root, Depth.
    void PublishProperties(TPropertyList& List) override;

    // 8581 "IO Interface is unassigned" when the manager has no interface,
    // "Not initialized" when MaximumKeySize or IndexPageSize is 0. Gives the
    // tree a copy of the key fields (DataOffset := KeyDataOffset), the key
    // and page sizes, the compare routine and the interface with Root and
    // Depth, makes the spare key buffer and opens the tree.
    void Open();
    // Closes the tree, clears the key fields and frees the spare key buffer.
    void Close();
    bool IsOpen() const { return FTree->IsOpen(); }

    // A new empty tree (one leaf page); the tree is left closed.
    void CreateIndex();
    // Releases every page of the tree and starts a new empty one.
    void EmptyIndex();
    // Releases every page of the tree; Root and Depth := 0.
    void DeleteIndex();

    // Searches over all key fields, or over the leading key fields the
    // modifier allows: 0 when the cursor stands on a key that satisfies
    // SearchType.
    Integer FullIndexSearch(TIndexSearchType SearchType);
    Integer PartialIndexSearch(TIndexSearchType SearchType, const TSearchModifier* Modifier);
    // Stores RecordAddress in the search key's Address word and inserts the
    // key at the path of the last search; -1 when an equal key exists.
    Integer InsertKey(Cardinal RecordAddress);
    // FullIndexSearch(stEQ) made just before InsertKey (TBTree::InsertCheckSearch).
    Integer InsertCheckSearch();
    void ForgetLentPath(); // TBTree::ForgetLentPath
    // Deletes the key at the path of the last search; -1 when it is missing.
    Integer DeleteKey();
    bool NextKey();
    bool PriorKey();
    // Steps |N| keys forwards (N > 0) or backwards; true when every step was
    // made.
    bool MoveBy(Integer N);
    Cardinal GetRecordAddress();
    Integer GetRecordCount(bool RecheckRoot);
    Integer GetRecordNo();
    // Puts the cursor on record N and returns its record address.
    Cardinal SetRecordNo(Integer N);
    const Byte* GetCurrentKeyBuf();
    // The search key from a record image, a key from a record image into
    // Target, and the search key as a copy of Key.
    void CreateKeyBuffer(const Byte* RecBuf, const TKeyComparisonFlags& Flags);
    void CreateTempKeyBuffer(const Byte* RecBuf, Byte* Target, const TKeyComparisonFlags& Flags);
    void CopyKeyBuffer(const Byte* Key, const TKeyComparisonFlags& Flags);
    Integer CompareKeyBuffers(const Byte* Key1, const Byte* Key2, const TKeyComparisonFlags& Flags1,
                              const TKeyComparisonFlags& Flags2);
    Integer CompareKeyToCurrentKey(const TKeyComparisonFlags& Flags, const Byte* Key);
    void ListMatchingRecords(const Byte* Key, Integer FieldCount, Cardinal StopAddress,
                             TIndexSearchType SearchType, bool Ascending, TCompoundList* List, bool& Done);
    Integer ListReadAheadRecords(TReadAheadDirection Direction, Integer Count, TReadAheadBuffer* Buffer);
    void FillHashTable(Integer KeyFieldNo, TVekBaseHash* Hash);
    // The tree forgets the pages it holds.
    void InvalidateInternalBuffers();
    // The spare key buffer of MaximumKeySize + 1 bytes (nullptr while closed).
    Byte* GetTempKeyBuffer() { return FKeyBuffer.empty() ? nullptr : FKeyBuffer.data(); }
    // The tree's status, and every page of the tree in key order.
    void DumpInternalStatus(TStrings* Lines);
    void DumpInternalStructure(TStrings* Lines);

    // The key fields (owned) of this index.
    TKeyFields* KeyFields() const { return FKeyFields; }
    Cardinal Root() const { return FRoot; }
    void SetRoot(Cardinal Value) { FRoot = Value; }
    Integer Depth() const { return FDepth; }
    void SetDepth(Integer Value) { FDepth = Value; }
    TBTree* Tree() const { return FTree.get(); }
    // The manager the item belongs to (nullptr outside one).
    TIndexManager* Manager() const;

private:
    // The manager's interface; 8581 "IO Interface is unassigned" at Context
    // without one.
    TBaseIOInterface* RequireIOInterface(const char* Context) const;
    // Hands the tree its set-up (key fields, sizes, compare routine, the
    // interface with Root and Depth) unless it is open.
    void ConnectTree(const char* Context);

    TKeyFields* FKeyFields;
    std::unique_ptr<TBTree> FTree;
    Cardinal FRoot = 0;
    Integer FDepth = 0;
    std::vector<Byte> FKeyBuffer;
};

// ------------------------------------------------------------ TIndexManager

// The indexes of one open table. Built by assignment from the table
// definition's index definitions, given its key fields (AssignKeyFields), its
// index-page interface (usage 8), the table header and the string compare
// routine, then opened.
class TIndexManager : public TCollection {
public:
    TIndexManager();

    TIndexItem* Add() { return static_cast<TIndexItem*>(TCollection::Add()); }
    TIndexItem* GetItems(int Index) const { return static_cast<TIndexItem*>(Items(Index)); }
    void SetItems(int Index, TIndexItem* Value) { GetItems(Index)->Assign(Value); }
    void DeleteItem(int Index) { Delete(Index); }
    // Assign (the collection's) copies a TIndexManager item by item, and
    // makes one item per definition of TInternalIndexDefs, without key
    // fields.

    // Clears every index's key fields, then gives each key field to the
    // index its IndexName names (9997 with the name when there is none). A
    // string key field without a size marker, and an index left without key
    // fields, raise 8581 "KeyBuffers invalid".
    void AssignKeyFields(TKeyFields* KeyFields);

    // 8581 "Sort function not assinged" without a string compare routine;
    // reads the index slots (dropping cached pages) and opens every index.
    void Open();
    // Closes and frees every index and forgets the interface.
    void Close();

    // Each index takes Root and Depth from its slot of the table header;
    // with Invalidate every tree first drops the pages it holds. Nothing
    // without indexes; an assertion without a table header.
    void ReadIndexHeaders(bool Invalidate);
    // Each index's Root and Depth go to its slot.
    void WriteIndexHeaders();

    // Every index gets a new empty tree, written to its slot.
    void CreateIndexes();
    // Adds a closed index from the definition with the key fields that name
    // it, with a new empty tree in slot IndexSequence; the header's index
    // count grows to cover that slot. 10027 when an index of that name
    // exists, 8581 for a slot outside the header.
    void AddIndex(TInternalIndexDef* IndexDef, TKeyFields* KeyFields);
    // Releases the index's pages and frees it (9997 for an unknown name).
    // The remaining indexes keep their order and take the slots 0 .. n - 1
    // (their IndexSequence follows), the slots from n on are cleared and
    // the header's index count becomes n.
    void DropIndex(const std::string& Name);
    // Releases the index's pages and gives it a new empty tree (9997 for an
    // unknown name).
    void EmptyIndex(const std::string& Name);

    // The index named CurrentIndexName; 9997 when there is none.
    TIndexItem* CurrentIndex() const;
    // The index named Name ignoring case; nullptr when none.
    TIndexItem* FindIndex(const std::string& Name) const;
    // The first index, in order, whose leading key fields are the named
    // fields in order (ignoring case); with CaseSensitiveOnly none of those
    // key fields may be case-insensitive. nullptr when none.
    TIndexItem* FindIndexForFields(const TStrings* Names, bool CaseSensitiveOnly) const;

    // Every tree forgets the pages it holds.
    void InvalidateInternalBuffers();
    // "DUMP - INDEX = 0" and the first index's allocated blocks.
    void DumpInternalStatus(TStrings* Lines);

    TBaseIOInterface* IOInterface() const { return FIOInterface; }
    void SetIOInterface(TBaseIOInterface* Value) { FIOInterface = Value; }
    TTableHeader* TableHeader() const { return FTableHeader; }
    void SetTableHeader(TTableHeader* Value) { FTableHeader = Value; }
    const std::string& CurrentIndexName() const { return FCurrentIndexName; }
    void SetCurrentIndexName(const std::string& Value) { FCurrentIndexName = Value; }
    TDBStringCompare DBStringCompare() const { return FDBStringCompare; }
    void SetDBStringCompare(TDBStringCompare Value) { FDBStringCompare = Value; }
    TStrings* DebugStrings() const { return FDebugStrings; }
    void SetDebugStrings(TStrings* Value) { FDebugStrings = Value; }
    // The number of indexes that are not Hidden.
    Integer IndexCount() const;

private:
    // The index of that name; 9997 at Context with the name when none.
    TIndexItem* RequireIndex(const std::string& Name, const char* Context) const;
    void CheckTableHeader() const;
    // A disk interface takes the head of the index pages' free chain from
    // the database's global header before it allocates or releases pages.
    void LoadFreeChainHead();
    // Copies the key field to the index, refusing a string key field
    // without a size marker.
    static void CopyKeyField(TIndexItem* Index, TKeyFieldItem* KeyField, const char* Context);
    static void CheckHasKeyFields(const TIndexItem* Index, const char* Context);

    TBaseIOInterface* FIOInterface = nullptr;
    TTableHeader* FTableHeader = nullptr;
    std::string FCurrentIndexName;
    TDBStringCompare FDBStringCompare = nullptr;
    TStrings* FDebugStrings = nullptr;
};

// The identifiers of TIndexKeyType ("ikFixed", "ikMinStringLen"), as
// streamed definitions name it.
const std::vector<std::string>& IndexKeyTypeIdentifiers();

} // namespace orvex
