// The B-tree's record numbers and counts, the record lists of key ranges,
// the read-ahead fill, the hash fill and the diagnostics.

#include "storage/vekIndexUnit.h"

#include "host/SysUtils.h"
#include "storage/vekByteOrder.h"
#include "storage/vekCommon.h"
#include "storage/vekConsts.h"
#include "storage/vekDataUnit.h"
#include "storage/vekInterfaceUnit.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <functional>

namespace orvex {

namespace {

void* AsPointer(Int64 Value)
{
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(Value));
}

} // namespace

// ----------------------------------------------------------- record numbers

Integer TBTree::GetRecordCount(bool RecheckRoot)
{
    CheckOpen("TBTree.GetRecordCount");
    if (Root() == 0 || Depth() <= 0)
        return 0;
    const bool rootMoved = FPath.empty() || FPath.front()->Address() != Root();
    if (!FPathPrepared || (RecheckRoot && rootMoved)) {
        if (FPathPrepared && rootMoved)
            GDBLogger->NamedMonitorDelta("ROOTADDRNOTVALID", 1);
        PreparePath();
    }
    return FPath.empty() ? 0 : FPath.front()->GetRecordCount(-1);
}

Integer TBTree::GetRecordNo()
{
    if (!IsOpen() || !FCursorValid || FPath.empty())
        return 0;
    Integer number = 0;
    for (std::size_t level = 0; level + 1 < FPath.size(); ++level) {
        const TNode* node = FPath[level].get();
        if (node->Cursor() > 0)
            number += node->GetRecordCount(node->Cursor() - 1);
    }
    return number + Leaf()->GetKeyNo();
}

Cardinal TBTree::GetAddrOfRecNo(Integer N)
{
    CheckOpen("TBTree.GetAddrOfRecNo");
    PreparePath();
    if (RootEmpty())
        return 0;
    const Integer keySize = MaximumKeySize();
    Integer n = std::max<Integer>(N, 1);
    const int depth = static_cast<int>(FPath.size());
    for (int level = 0; level < depth; ++level) {
        TNode* node = FPath[level].get();
        if (level == depth - 1) {
            // The counts above come from the pages: a damaged one leads
            // past the leaf's entries.
            const Int64 pos = static_cast<Int64>(n - 1) * keySize;
            if (pos >= node->Size())
                VekDatabaseError(8451, "TBTree.GetAddrOfRecNo", "invalid recno in getaddr of recno", nullptr);
            node->SetCursor(static_cast<Integer>(pos));
            FLeafInsertPos = pos;
            break;
        }
        Integer pos = 0;
        for (; pos < node->Size(); pos += keySize) {
            const Cardinal count = ReadLE32(node->Keys() + pos + kioCount);
            if (static_cast<Cardinal>(n) <= count)
                break;
            n -= static_cast<Integer>(count);
        }
        if (pos >= node->Size())
            VekDatabaseError(8451, "TBTree.GetAddrOfRecNo", "invalid recno in getaddr of recno", nullptr);
        node->SetCursor(pos);
        FPath[level + 1]->ReadNode(ReadLE32(node->Keys() + pos + kioAddress));
    }
    FCursorValid = true;
    FFullSearchPath = false;
    const Cardinal address = Leaf()->GetRecordAddress();
    if (address == 0)
        VekDatabaseError(8451, "TBTree.GetAddrOfRecNo", "invalid address returned from searchbyrecno", nullptr);
    return address;
}

// ------------------------------------------------------------ record lists

void TBTree::ListMatchingRecords(const Byte* Key, Integer FieldCount, Cardinal StopAddress,
                                 TIndexSearchType SearchType, bool Ascending, TCompoundList* List, bool& Done)
{
    Done = false;
    if (!IsOpen() || !FCursorValid || FPath.empty() || !Leaf()->CursorOnEntry())
        return;
    const Integer keySize = MaximumKeySize();
    TNode* leaf = Leaf();
    const Byte* current = leaf->GetCurrentKey();
    const std::vector<Byte> key(Key != nullptr ? Key : current, (Key != nullptr ? Key : current) + keySize);
    const bool backwards = SearchType == stLT || SearchType == stLE;
    const Integer c = CompareKeys(FieldCount, {}, {}, key.data(), current);
    if ((backwards && c > 0) || ((SearchType == stGE || SearchType == stGT) && c < 0))
        return;

    Integer recordNo = GetRecordNo();
    const int firstAdded = List->Count();
    // The scan reads pages through the spare node, so that the path stays.
    FSpare->ReloadNode(leaf->Address());
    Integer pos = leaf->Cursor();
    Cardinal steps = 0;
    for (;;) {
        const Byte* entry = FSpare->Keys() + pos;
        if (SearchType == stEQ && CompareKeys(FieldCount, {}, {}, key.data(), entry) != 0) {
            Done = true;
            break;
        }
        const Cardinal address = ReadLE32(entry + kioAddress);
        List->Add(AsPointer(address), AsPointer(recordNo));
        recordNo += backwards ? -1 : 1;
        if (address == StopAddress) {
            Done = true;
            break;
        }
        if (backwards) {
            if (pos > 0) {
                pos -= keySize;
                continue;
            }
            if (!FindLeafWithKeys(FSpare->Prior(), false, steps))
                break;
            pos = FSpare->Size() - keySize;
        } else {
            if (pos + keySize < FSpare->Size()) {
                pos += keySize;
                continue;
            }
            if (!FindLeafWithKeys(FSpare->Next(), true, steps))
                break;
            pos = 0;
        }
    }
    if (Ascending && backwards) {
        // Only the pairs of this scan turn round; earlier ones stay.
        for (int i = firstAdded, j = List->Count() - 1; i < j; ++i, --j) {
            List->List1()->Exchange(i, j);
            List->List2()->Exchange(i, j);
        }
    }
}

namespace {

// The leaves after the path's leaf, in key order, as the inner pages above
// them list them: copies of the path's inner pages with their cursors, the
// pages below a finished one read as the walk comes to them. The walk ends
// (false) at the tree's end or at an inner page that does not look like
// one; the leaf chain then decides.
class TLeafAddressWalk {
public:
    TLeafAddressWalk(TBaseIOInterface* IO, Integer PageSize, Integer KeySize) :
        FIO(IO), FPageSize(PageSize), FKeySize(KeySize)
    {
    }
    // One inner level of the path, root first.
    void AddLevel(const Byte* Page, Integer Cursor)
    {
        FPages.emplace_back(Page, Page + FPageSize);
        FCursors.push_back(Cursor);
    }
    // The next leaf's address and the number of records its parent gives it.
    bool Next(Cardinal& Address, Cardinal& Records)
    {
        int level = static_cast<int>(FPages.size()) - 1;
        while (level >= 0 && FCursors[level] + FKeySize >= Size(level))
            --level;
        if (level < 0)
            return false;
        FCursors[level] += FKeySize;
        for (; level + 1 < static_cast<int>(FPages.size()); ++level) {
            FIO->ReadBlock(ChildAt(level), FPageSize, FPages[level + 1].data());
            const Cardinal size = ReadLE32(FPages[level + 1].data() + nhoSize);
            if (ReadLE32(FPages[level + 1].data() + nhoLeaf) != 0 || size == 0 ||
                size > static_cast<Cardinal>(FPageSize - NodeHeaderSize) || size % static_cast<Cardinal>(FKeySize) != 0) {
                FPages.clear(); // the walk is over for good
                FCursors.clear();
                return false;
            }
            FCursors[level + 1] = 0;
        }
        Address = ChildAt(level);
        Records = ReadLE32(FPages[level].data() + NodeHeaderSize + FCursors[level] + kioCount);
        return true;
    }

private:
    Integer Size(int Level) const
    {
        return static_cast<Integer>(std::min<Cardinal>(ReadLE32(FPages[Level].data() + nhoSize),
                                                       static_cast<Cardinal>(FPageSize - NodeHeaderSize)));
    }
    Cardinal ChildAt(int Level) const
    {
        return ReadLE32(FPages[Level].data() + NodeHeaderSize + FCursors[Level] + kioAddress);
    }

    TBaseIOInterface* FIO;
    Integer FPageSize;
    Integer FKeySize;
    std::vector<std::vector<Byte>> FPages;
    std::vector<Integer> FCursors;
};

} // namespace

void TBTree::ListAddresses(Integer Count, std::vector<Cardinal>& Addresses)
{
    if (!IsOpen() || !FCursorValid || FPath.empty() || !Leaf()->CursorOnEntry() || Count <= 0)
        return;
    const Integer keySize = MaximumKeySize();
    // The cursor's leaf is read where the path holds it.
    const TNode* leaf = Leaf();
    const auto take = [&](const Byte* Keys, Integer From, Integer Size) {
        const Integer n = std::min<Integer>((Size - From + keySize - 1) / keySize, Count);
        for (Integer i = 0; i < n; ++i)
            Addresses.push_back(ReadLE32(Keys + From + i * keySize + kioAddress));
        Count -= n;
    };
    take(leaf->Keys(), leaf->Cursor(), leaf->Size());
    Cardinal next = leaf->Next();
    Cardinal steps = 0;

    // A long list takes the leaves after it in batches, their addresses from
    // the inner pages above, so that the store reads the pages of a batch
    // together (one transfer for neighbouring pages); a short one is not
    // worth the copies of the inner pages. Each leaf must be the one the
    // chain leads to; where they differ, or a page is no sound leaf, the
    // chain walk below goes on from there (and reports a damaged page).
    const int depth = static_cast<int>(FPath.size());
    const Integer fullLeaf = std::max<Integer>(1, (FPageSize - NodeHeaderSize) / std::max<Integer>(keySize, 1));
    if (Count / 16 > fullLeaf && next != 0 && depth >= 2 && FPath[depth - 2]->CursorOnEntry() &&
        ReadLE32(FPath[depth - 2]->Keys() + FPath[depth - 2]->Cursor() + kioAddress) == leaf->Address()) {
        TLeafAddressWalk walk(FIOInterface, FPageSize, keySize);
        for (int level = 0; level + 1 < depth; ++level)
            walk.AddLevel(FPath[level]->Buffer(), FPath[level]->Cursor());
        std::vector<Cardinal> batch;
        std::vector<Byte> page(static_cast<std::size_t>(FPageSize));
        bool ahead = true;
        while (ahead && Count > 0 && next != 0) {
            // The leaves that hold the records left, as their parents count
            // them, at most 64 at a time.
            batch.clear();
            Cardinal address = 0, records = 0;
            Int64 listed = 0;
            while (batch.size() < 64 && listed < Count && walk.Next(address, records)) {
                batch.push_back(address);
                listed += records;
            }
            if (batch.empty())
                break;
            FIOInterface->ReadBlocks(batch.data(), batch.size(), FPageSize, page.data(), [&](std::size_t I) {
                if (!ahead || Count == 0)
                    return;
                const Cardinal size = ReadLE32(page.data() + nhoSize);
                if (batch[I] != next || ReadLE32(page.data() + nhoLeaf) != 1 ||
                    size > static_cast<Cardinal>(FPageSize - NodeHeaderSize) ||
                    size % static_cast<Cardinal>(keySize) != 0 || (++steps > 64 && steps > FIOInterface->ChainLimit())) {
                    ahead = false;
                    return;
                }
                take(page.data() + NodeHeaderSize, 0, static_cast<Integer>(size));
                next = ReadLE32(page.data() + nhoNext);
                if (next == batch[I])
                    ahead = false; // linked to itself: the chain walk reports it
            });
        }
    }

    // The leaf chain, one page after the other, through the spare node so
    // that the path stays.
    while (Count > 0 && next != 0 && FindLeafWithKeys(next, true, steps)) {
        take(FSpare->Keys(), 0, FSpare->Size());
        next = FSpare->Next();
    }
}

void TBTree::ListLeafAddresses(std::vector<Cardinal>& Addresses) const
{
    if (!IsOpen() || !FCursorValid || FPath.empty() || !Leaf()->CursorOnEntry())
        return;
    const TNode* leaf = Leaf();
    const Integer keySize = MaximumKeySize();
    for (Integer pos = leaf->Cursor(); pos + keySize <= leaf->Size(); pos += keySize)
        Addresses.push_back(ReadLE32(leaf->Keys() + pos + kioAddress));
}

Integer TBTree::CountLeafKeysBelowSearchKey(bool OrEqual)
{
    if (!IsOpen() || !FCursorValid || FPath.empty())
        return -1;
    const TNode* leaf = Leaf();
    const Integer keySize = MaximumKeySize();
    const Integer size = leaf->Size();
    if (leaf->Cursor() < 0)
        return -1;
    // The entries below the key come first (the leaf is in key order):
    // steps of 1, 2, 4 ... find an entry that is not below, a binary search
    // between it and the last one below finds the first such entry.
    const Integer first = leaf->Cursor();
    const Integer entries = size >= first + keySize ? (size - first) / keySize : 0;
    const auto below = [&](Integer I) {
        const Integer c = CompareKeys(0, KeyFlags(), {}, KeyBuf(), leaf->Keys() + first + I * keySize);
        return c > 0 || (c == 0 && OrEqual);
    };
    Integer lo = 0; // entries before lo are below
    Integer hi = -1; // an entry not below, once found
    for (Integer at = 0, step = 1; lo < entries; step *= 2) {
        const Integer probe = std::min(at, entries - 1);
        if (!below(probe)) {
            hi = probe;
            break;
        }
        lo = probe + 1;
        at = probe + step;
    }
    if (hi < 0)
        return -1;
    while (lo < hi) {
        const Integer mid = lo + (hi - lo) / 2;
        if (below(mid))
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

Integer TBTree::ListReadAheadRecords(TReadAheadDirection Direction, Integer Count, TReadAheadBuffer* Buffer)
{
    if (!IsOpen() || !FCursorValid || FPath.empty() || Count <= 0)
        return 0;
    TNode* leaf = Leaf();
    ORVEX_ASSERT(leaf->CursorOnEntry(), "CursorPos invalid");
    const Integer keySize = MaximumKeySize();
    const Integer entries = leaf->Size() / keySize;
    const Integer cursor = leaf->Cursor() / keySize;
    Integer first = cursor;
    Integer last = std::min(entries - 1, cursor + Count - 1);
    if (Direction == rdBackwards) {
        first = std::max<Integer>(0, cursor - Count + 1);
        last = cursor;
    } else if (Direction == rdCenter) {
        first = std::max<Integer>(0, cursor - Count / 2);
        last = std::min(entries - 1, cursor + Count / 2 - 1);
    }
    Integer recordNo = GetRecordNo() - (cursor - first);
    const std::size_t copied = static_cast<std::size_t>(std::min(keySize, Buffer->KeyBufferSize()));
    std::set<Cardinal> addresses;
    TReadAheadBufferItem* previous = nullptr;
    for (Integer i = first; i <= last; ++i) {
        const Byte* entry = leaf->Keys() + i * keySize;
        const Cardinal address = ReadLE32(entry + kioAddress);
        if (!addresses.insert(address).second)
            VekDatabaseError(8451, "TBTree.ListReadAheadRecords", "Read ahead buffer has duplicate records", nullptr);
        TReadAheadBufferItem* item = Buffer->Add();
        item->SetRecAddr(address);
        std::memcpy(item->KeyBuf(), entry, copied);
        item->SetRecNo(recordNo++);
        ORVEX_ASSERT(previous == nullptr || item->RecNo() == previous->RecNo() + 1,
                     "Read ahead buffer recno's are out of sync");
        previous = item;
    }
    return std::max<Integer>(last - first + 1, 0);
}

bool TBTree::LocateKeyField(const Byte* Entry, Integer FieldNo, const Byte*& Data, Integer& Size) const
{
    const TKeyFields* fields = KeyFields();
    const Byte* nullFlags = Entry + KeyInfoSize;
    Integer pos = KeyInfoSize + fields->DataOffset();
    for (Integer i = 0; i <= FieldNo; ++i) {
        if ((nullFlags[i / 8] & (0x80 >> (i % 8))) == 0) {
            if (i == FieldNo)
                return false;
            continue;
        }
        const TKeyFieldItem* field = fields->GetItems(i);
        const bool isString = field->DataType() == ftString || field->DataType() == ftWideString;
        Integer length = field->FieldSize();
        Integer start = pos;
        if (isString) {
            length = pos + 2 <= MaximumKeySize() ? ReadLE16(Entry + pos) : MaximumKeySize();
            start = pos + 2;
        }
        if (start + length > MaximumKeySize())
            VekDatabaseError(8581, "TBTree.FillHashTable", "Invalid key size: " + IntToStr(start + length), nullptr);
        if (i == FieldNo) {
            Data = Entry + start;
            Size = length;
            return true;
        }
        pos = start + length;
    }
    return false;
}

void TBTree::FillHashTable(Integer KeyFieldNo, TVekBaseHash* Hash)
{
    CheckOpen("TBTree.FillHashTable");
    ORVEX_ASSERT(KeyFieldNo >= 0 && KeyFieldNo < KeyFields()->Count(), "Key field number out of range");
    if (!FCursorValid || FPath.empty())
        return;
    const Integer keySize = MaximumKeySize();
    // Through the spare node: the path and its leaf stay as they are.
    Cardinal steps = 0;
    if (!FindLeafWithKeys(Leaf()->Address(), true, steps))
        return;
    do {
        for (Integer pos = 0; pos < FSpare->Size(); pos += keySize) {
            const Byte* entry = FSpare->Keys() + pos;
            const Byte* data = nullptr;
            Integer size = 0;
            // Each entry is decoded at its own offsets: strings and nulls
            // before the field move it.
            if (LocateKeyField(entry, KeyFieldNo, data, size))
                Hash->Add(data, size, static_cast<Integer>(ReadLE32(entry + kioAddress)));
        }
    } while (FSpare->Next() != FSpare->Address() && FindLeafWithKeys(FSpare->Next(), true, steps));
}

// ------------------------------------------------------------- diagnostics

namespace {

// One page read for the diagnostics, apart from the path.
struct TPageImage {
    Cardinal Address = 0;
    std::vector<Byte> Bytes;

    bool Leaf() const { return ReadLE32(Bytes.data() + nhoLeaf) == 1; }
    Integer Size() const { return static_cast<Integer>(ReadLE32(Bytes.data() + nhoSize)); }
    Cardinal Next() const { return ReadLE32(Bytes.data() + nhoNext); }
    Cardinal Prior() const { return ReadLE32(Bytes.data() + nhoPrior); }
    const Byte* Entry(Integer Pos) const { return Bytes.data() + NodeHeaderSize + Pos; }
};

TPageImage ReadPageImage(TBaseIOInterface* IO, Integer PageSize, Cardinal Address)
{
    TPageImage page;
    page.Address = Address;
    page.Bytes.assign(static_cast<std::size_t>(PageSize), 0);
    IO->ReadBlock(Address, PageSize, page.Bytes.data());
    return page;
}

std::string NodeLine(Integer Level, const TPageImage& Page)
{
    return Format("Node Level: %d NodeAddr=%d :NodeHdr=L:%5d Sze:%5d N:%5d P:%5d",
                  {Level, static_cast<long long>(Page.Address), Page.Leaf() ? 1 : 0, Page.Size(),
                   static_cast<long long>(Page.Next()), static_cast<long long>(Page.Prior())});
}

} // namespace

void TBTree::DebugStatus(TStrings* Lines)
{
    Lines->Add(Format("BTree Root=%d Depth=%d PageSize=%d KeySize=%d PathPrepared=%s CursorValid=%s",
                      {static_cast<long long>(Root()), Depth(), FPageSize, MaximumKeySize(),
                       FPathPrepared ? "True" : "False", FCursorValid ? "True" : "False"}));
    for (std::size_t level = 0; level < FPath.size(); ++level) {
        const TNode* node = FPath[level].get();
        Lines->Add(Format("Node Level: %d NodeAddr=%d :NodeHdr=L:%5d Sze:%5d N:%5d P:%5d Cursor:%5d",
                          {static_cast<int>(level), static_cast<long long>(node->Address()),
                           node->CheckIsLeaf() ? 1 : 0, node->Size(), static_cast<long long>(node->Next()),
                           static_cast<long long>(node->Prior()), node->Cursor()}));
    }
}

void TBTree::DebugDumpAllocatedBlocks(TStrings* Lines)
{
    if (FIOInterface == nullptr)
        return;
    std::vector<Cardinal> blocks;
    FIOInterface->ListBlocks(blocks);
    Byte header[NodeHeaderSize];
    for (const Cardinal address : blocks) {
        FIOInterface->ReadBlockHeader(address, NodeHeaderSize, header);
        Lines->Add(Format("Node NodeAddr=%s :N:%s P:%s",
                          {IntToHex(address, 8), IntToHex(ReadLE32(header + nhoNext), 8),
                           IntToHex(ReadLE32(header + nhoPrior), 8)}));
    }
}

void TBTree::DebugDumpTree(TStrings* Lines)
{
    if (FIOInterface == nullptr || Root() == 0 || Depth() <= 0)
        return;
    const Integer keySize = MaximumKeySize();
    std::function<void(Cardinal, Integer)> dump = [&](Cardinal Address, Integer Level) {
        const TPageImage page = ReadPageImage(FIOInterface, FPageSize, Address);
        Lines->Add(NodeLine(Level, page));
        const Integer size = std::min(page.Size(), FPageSize - NodeHeaderSize);
        for (Integer pos = 0; pos + keySize <= size; pos += keySize) {
            const Byte* entry = page.Entry(pos);
            TStringList values;
            DecodeKeyBufAsStrings(entry, nullptr, &values);
            std::string text;
            for (int i = 0; i < values.Count(); ++i)
                text += (i > 0 ? "; " : "") + values[i];
            Lines->Add(Format("  %s Addr=%d Count=%d", {text, static_cast<long long>(ReadLE32(entry + kioAddress)),
                                                        static_cast<long long>(ReadLE32(entry + kioCount))}));
            if (!page.Leaf() && Level + 1 < Depth())
                dump(ReadLE32(entry + kioAddress), Level + 1);
        }
    };
    dump(Root(), 0);
}

bool TBTree::CheckOrder(TStrings* Lines)
{
    if (FIOInterface == nullptr || Root() == 0 || Depth() <= 0)
        return true;
    const Integer keySize = MaximumKeySize();
    const Integer depth = Depth();
    bool ok = true;
    auto problem = [&](const std::string& Text) {
        ok = false;
        if (Lines != nullptr)
            Lines->Add(Text);
    };
    std::set<Cardinal> visited;
    std::vector<TPageImage> leaves;
    // Checks the subtree at Address; its record count and first key.
    std::function<Integer(Cardinal, Integer, std::vector<Byte>&)> check =
        [&](Cardinal Address, Integer Level, std::vector<Byte>& FirstKey) -> Integer {
        if (!visited.insert(Address).second) {
            problem("Check Order error: page used twice " + IntToStr(Address));
            return 0;
        }
        const TPageImage page = ReadPageImage(FIOInterface, FPageSize, Address);
        const bool leafLevel = Level == depth - 1;
        if (page.Leaf() != leafLevel)
            problem("Check Order error: page type does not match its level " + NodeLine(Level, page));
        const Integer size = page.Size();
        if (size < 0 || size > FPageSize - NodeHeaderSize || size % keySize != 0) {
            problem("Check Order error: invalid size " + NodeLine(Level, page));
            return 0;
        }
        if (size == 0) {
            if (Level > 0)
                problem("ERROR: EMPTY NODE " + NodeLine(Level, page));
            if (leafLevel)
                leaves.push_back(page);
            return 0;
        }
        Integer records = 0;
        for (Integer pos = 0; pos < size; pos += keySize) {
            const Byte* entry = page.Entry(pos);
            if (ReadLE16(entry + kioLength) != keySize)
                problem("Check Order error: entry length " + IntToStr(ReadLE16(entry + kioLength)) + " in " +
                        NodeLine(Level, page));
            if (pos > 0 && CompareKeys(0, {}, {}, page.Entry(pos - keySize), entry) >= 0)
                problem("Check Order error: keys out of order in " + NodeLine(Level, page));
            if (leafLevel) {
                ++records;
                continue;
            }
            std::vector<Byte> childFirst;
            const Integer childRecords = check(ReadLE32(entry + kioAddress), Level + 1, childFirst);
            if (childRecords != static_cast<Integer>(ReadLE32(entry + kioCount)))
                problem("Check Order error: count " + IntToStr(ReadLE32(entry + kioCount)) + " for " +
                        IntToStr(childRecords) + " records in " + NodeLine(Level, page));
            if (!childFirst.empty() && CompareKeys(0, {}, {}, entry, childFirst.data()) != 0)
                problem("Check Order error: entry differs from its child's first key in " + NodeLine(Level, page));
            records += childRecords;
        }
        FirstKey.assign(page.Entry(0), page.Entry(0) + keySize);
        if (leafLevel)
            leaves.push_back(page);
        return records;
    };
    std::vector<Byte> first;
    check(Root(), 0, first);
    for (std::size_t i = 0; i < leaves.size(); ++i) {
        const TPageImage& leaf = leaves[i];
        const Cardinal prior = i > 0 ? leaves[i - 1].Address : 0;
        const Cardinal next = i + 1 < leaves.size() ? leaves[i + 1].Address : 0;
        if (leaf.Prior() != prior || leaf.Next() != next)
            problem("Check Order error: leaf links " + NodeLine(depth - 1, leaf));
        if (i > 0 && leaves[i - 1].Size() > 0 && leaf.Size() > 0 &&
            CompareKeys(0, {}, {}, leaves[i - 1].Entry(leaves[i - 1].Size() - keySize), leaf.Entry(0)) >= 0)
            problem("Check Order error: leaves out of order " + NodeLine(depth - 1, leaf));
    }
    return ok;
}

} // namespace orvex
