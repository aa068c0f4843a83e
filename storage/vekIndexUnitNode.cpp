// Index pages in memory: entries, the cursor, split, redistribution and merge.

#include "storage/vekIndexUnit.h"

#include "host/SysUtils.h"
#include "storage/vekByteOrder.h"
#include "storage/vekConsts.h"
#include "storage/vekInterfaceUnit.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace orvex {

Integer CalculateIndexPageSize(Integer KeySize)
{
    return std::max(((KeySize + NodeHeaderSize) / 2048 + 1) * 2048, 4096);
}

// ===================================================================== TNode

void TNode::Open(TBTree* Tree, TBaseIOInterface* IOInterface, Integer PageSize)
{
    // A page must hold its header and at least one byte of entries, and the
    // page size decides every bound checked on a page read.
    if (PageSize <= NodeHeaderSize || PageSize > MaxIndexPageSize)
        VekDatabaseError(8581, "TNode.Open", "Invalid page size: " + IntToStr(PageSize), nullptr);
    FTree = Tree;
    FIOInterface = IOInterface;
    FPageSize = PageSize;
    if (Tree != nullptr)
        FMaxKeySize = Tree->MaximumKeySize();
    FBuffer.assign(static_cast<std::size_t>(std::max<Integer>(PageSize, NodeHeaderSize)), 0);
    FData = FBuffer.data();
    FAddress = 0;
    FCursor = 0;
}

void TNode::Close()
{
    FBuffer.clear();
    FBuffer.shrink_to_fit();
    FData = FBuffer.data();
    FAddress = 0;
    FCursor = 0;
}

void TNode::CheckOpen() const
{
    if (FBuffer.empty())
        VekDatabaseError(8581, "TNode.CheckOpen", "Node Buffer not allocated", nullptr);
}

void TNode::SetAddress(Cardinal Address)
{
    CheckOpen();
    if (Address == FAddress)
        return;
    const Cardinal leaf = ReadLE32(Buffer() + nhoLeaf);
    FData = FBuffer.data(); // a new page is the node's own
    std::fill(FBuffer.begin(), FBuffer.end(), Byte{0});
    WriteLE32(Buffer() + nhoLeaf, leaf);
    FAddress = Address;
    FCursor = 0;
}

void TNode::ReadNode(Cardinal Address)
{
    if (Address == FAddress && Address != 0) {
        FCursor = 0;
        return;
    }
    ReloadNode(Address);
}

void TNode::ReloadNode(Cardinal Address)
{
    CheckOpen();
    FAddress = 0; // nothing valid is loaded should the read fail
    if (Address == 0)
        Corrupt("TNode.ReadNode", "Index page address 0");
    FData = FBuffer.data();
    void* lent = nullptr;
    bool* checked = nullptr;
    if (FTree != nullptr && FTree->Borrowing() && FIOInterface->LendBlock(Address, FPageSize, lent, checked))
        FData = static_cast<Byte*>(lent);
    else
        FIOInterface->ReadBlock(Address, FPageSize, Buffer());
    FAddress = Address; // named in the error of a damaged page
    // A lent page checked once keeps its mark while only lent changes (the
    // tree's own, which keep it sound) reach it.
    if (checked != nullptr && *checked) {
        FCursor = 0;
        return;
    }
    try {
        CheckPage("TNode.ReadNode");
    } catch (...) {
        Invalidate();
        throw;
    }
    if (checked != nullptr)
        *checked = true;
    FCursor = 0;
}

void TNode::CheckPage(const char* Context) const
{
    // Every later operation trusts the page header and the entry lengths:
    // a damaged page is refused here, before any of them is used.
    const Cardinal leaf = ReadLE32(Buffer() + nhoLeaf);
    if (leaf > 1)
        Corrupt(Context, "Invalid index page type " + IntToStr(static_cast<Int64>(leaf)));
    const Cardinal size = ReadLE32(Buffer() + nhoSize);
    if (size > static_cast<Cardinal>(FPageSize - NodeHeaderSize))
        Corrupt(Context, "Node is overfull: size " + IntToStr(static_cast<Int64>(size)));
    if (FTree != nullptr) {
        // The tree writes every entry MaximumKeySize bytes long and reads
        // them at that stride; EntryLength checks each length word where
        // one is stepped over, so a whole page need not be walked here.
        if (FMaxKeySize <= 0 || size % static_cast<Cardinal>(FMaxKeySize) != 0)
            Corrupt(Context, "Node size " + IntToStr(static_cast<Int64>(size)) + " is not a whole number of keys");
        return;
    }
    // A node used on its own may hold entries of any length up to a key.
    for (Integer p = 0; p < static_cast<Integer>(size);) {
        const Integer length = ReadLE16(Keys() + p);
        if (length == 0 || (FMaxKeySize > 0 && length > FMaxKeySize))
            Corrupt(Context, "Invalid key size " + IntToStr(length) + " at " + IntToStr(p));
        if (length > static_cast<Integer>(size) - p)
            Corrupt(Context, "Key at " + IntToStr(p) + " runs past the node's size");
        p += length;
    }
}

void TNode::Corrupt(const char* Context, const std::string& Text) const
{
    VekDatabaseError(8451, Context, Text + " (index page " + IntToStr(static_cast<Int64>(FAddress)) + ")", nullptr);
}

void TNode::WriteNode()
{
    CheckOpen();
    if (FAddress == 0)
        VekDatabaseError(8581, "TNode.WriteNode", "Invalid node address: 0", nullptr);
    if (Lent())
        FIOInterface->WriteBlockByRef(FAddress, FPageSize, Buffer());
    else
        FIOInterface->WriteBlock(FAddress, FPageSize, Buffer());
    if (FTree != nullptr)
        FTree->PageChanged(FAddress, this);
}

void TNode::ClearNode()
{
    CheckOpen();
    const std::size_t size = Lent() ? static_cast<std::size_t>(FPageSize) : FBuffer.size();
    std::fill(FData + nhoSize, FData + size, Byte{0});
    FCursor = 0;
}

void TNode::Invalidate()
{
    FAddress = 0;
    FCursor = 0;
    FData = FBuffer.data();
}

void TNode::ReturnLentPage()
{
    if (!Lent())
        return;
    std::memcpy(FBuffer.data(), FData, static_cast<std::size_t>(std::min<Integer>(NodeHeaderSize, FPageSize)));
    Invalidate();
    SetSize(0);
}

// ------------------------------------------------------------------ header

Integer TNode::Size() const
{
    return static_cast<Integer>(ReadLE32(Buffer() + nhoSize));
}

void TNode::SetSize(Integer Value)
{
    WriteLE32(Buffer() + nhoSize, static_cast<Cardinal>(Value));
}

Cardinal TNode::Next() const
{
    return ReadLE32(Buffer() + nhoNext);
}

Cardinal TNode::Prior() const
{
    return ReadLE32(Buffer() + nhoPrior);
}

void TNode::SetNext(Cardinal Value)
{
    WriteLE32(Buffer() + nhoNext, Value);
}

void TNode::SetPrior(Cardinal Value)
{
    WriteLE32(Buffer() + nhoPrior, Value);
}

void TNode::SetLeaf(bool Value)
{
    WriteLE32(Buffer() + nhoLeaf, Value ? 1 : 0);
}

bool TNode::CheckIsLeaf() const
{
    return ReadLE32(Buffer() + nhoLeaf) == 1;
}

bool TNode::IsFull() const
{
    return Size() + NodeHeaderSize + FMaxKeySize >= FPageSize;
}

bool TNode::RoomForKey(Integer KeySize) const
{
    return Size() + KeySize + NodeHeaderSize <= FPageSize;
}

bool TNode::IsTooEmpty() const
{
    return Size() + NodeHeaderSize < FPageSize / 2;
}

// ----------------------------------------------------------------- entries

Integer TNode::EntryLength(Integer Pos, const char* Context) const
{
    const Integer length = ReadLE16(Keys() + Pos);
    // A tree's entries are all MaximumKeySize long: another length word is
    // a damaged page.
    if (FTree != nullptr && length != FMaxKeySize)
        Corrupt(Context, "Invalid key size " + IntToStr(length) + " at " + IntToStr(Pos));
    if (length == 0)
        AssertFailed(std::string("FIndKeyPos error: ") + IntToStr(Pos) + " (" + Context + ")", __FILE__,
                     __LINE__);
    // An entry longer than a key, or running past the entries in use, would
    // be copied into a key buffer or stepped over beyond the page.
    if ((FMaxKeySize > 0 && length > FMaxKeySize) || length > Size() - Pos)
        Corrupt(Context, "Invalid key size " + IntToStr(length) + " at " + IntToStr(Pos));
    return length;
}

void TNode::CheckPosition(Integer Pos, const char* Context) const
{
    if (Pos < 0 || Pos >= Size())
        VekDatabaseError(8581, Context, "ReadPos is out of range: " + IntToStr(Pos), nullptr);
}

Integer TNode::FindKeyByPosition(TKeySearchType SearchType, Integer Pos) const
{
    const Integer size = Size();
    if (Pos < 0 || Pos > size)
        return -1;
    if (FTree != nullptr && FMaxKeySize > 0 && size % FMaxKeySize == 0) {
        // Every entry of a tree's node is MaximumKeySize long: the entry
        // that holds Pos starts at the multiple of that size below it, found
        // without stepping over the entries before it. The entry answered
        // has its length word checked as a step over it would check it.
        const Integer start = Pos / FMaxKeySize * FMaxKeySize;
        Integer found = -1;
        switch (SearchType) {
        case ksEQ:
            if (start != Pos || Pos >= size)
                return -1;
            found = Pos;
            break;
        case ksGE:
            found = start == Pos ? Pos : start + FMaxKeySize;
            if (found >= size)
                return size;
            break;
        case ksLE:
            found = Pos < size ? start : size - FMaxKeySize;
            if (found < 0)
                return -1;
            break;
        }
        EntryLength(found, "TNode.FindKeyByPosition");
        return found;
    }
    Integer last = -1;
    Integer p = 0;
    while (p < size) {
        if (p == Pos && SearchType == ksEQ)
            return p;
        if (p >= Pos && SearchType == ksGE)
            return p;
        if (p > Pos)
            break;
        last = p;
        p += EntryLength(p, "TNode.FindKeyByPosition");
    }
    switch (SearchType) {
    case ksLE:
        return last;
    case ksEQ:
        return -1;
    case ksGE:
        return size;
    }
    return -1;
}

void TNode::SetCursorToEnd(bool ToStart)
{
    if (ToStart || Size() == 0)
        FCursor = 0;
    else
        FCursor = FindKeyByPosition(ksLE, Size() - 1);
}

bool TNode::NextRecord()
{
    if (FCursor < 0 || FCursor >= Size())
        return false;
    const Integer next = FCursor + EntryLength(FCursor, "TNode.NextRecord");
    if (next >= Size())
        return false;
    FCursor = next;
    return true;
}

bool TNode::PriorRecord()
{
    if (FCursor <= 0 || Size() == 0)
        return false;
    FCursor = FindKeyByPosition(ksLE, std::min(FCursor, Size()) - 1);
    return true;
}

void TNode::ForceCursorToPhysicalKey()
{
    if (Size() == 0)
        VekDatabaseError(8581, "TNode.ForceCursorToPhysicalKey", "Node is empty", nullptr);
    if (FCursor >= Size())
        FCursor = FindKeyByPosition(ksLE, Size() - 1);
}

Integer TNode::GetKeyNo() const
{
    return FMaxKeySize > 0 ? FCursor / FMaxKeySize + 1 : 0;
}

Byte* TNode::GetCurrentKey()
{
    return Keys() + FCursor;
}

Cardinal TNode::GetRecordAddress() const
{
    if (!CursorOnEntry())
        VekDatabaseError(8581, "TNode.GetRecordAddress", "Node cursor out of range", nullptr);
    return ReadLE32(Keys() + FCursor + kioAddress);
}

void TNode::CopyCurrentKey(Byte* Key) const
{
    if (!CursorOnEntry())
        VekDatabaseError(8581, "TNode.CopyCurrentKey", "Cursor is out of range", nullptr);
    std::memcpy(Key, Keys() + FCursor, static_cast<std::size_t>(EntryLength(FCursor, "TNode.CopyCurrentKey")));
}

void TNode::ReadKey(Integer Pos, Byte* Key) const
{
    CheckPosition(Pos, "TNode.ReadKey");
    std::memcpy(Key, Keys() + Pos, static_cast<std::size_t>(EntryLength(Pos, "TNode.ReadKey")));
}

void TNode::MoveBlock(Integer Pos, Integer Delta, bool Up)
{
    const Integer size = Size();
    const Integer count = size - Pos;
    if (Pos < 0 || count < 0 || Delta < 0)
        VekDatabaseError(8581, "TNode.MoveBlock", "Move block error - Start Pos - Delta are out of range",
                         nullptr);
    if (Up) {
        if (size + Delta > FPageSize - NodeHeaderSize)
            VekDatabaseError(8581, "TNode.MoveBlock", "Node is overfull", nullptr);
        std::memmove(Keys() + Pos + Delta, Keys() + Pos, static_cast<std::size_t>(count));
    } else {
        if (Delta > Pos)
            VekDatabaseError(8581, "TNode.MoveBlock",
                             "Move block error - Start Pos - Delta are out of range", nullptr);
        std::memmove(Keys() + Pos - Delta, Keys() + Pos, static_cast<std::size_t>(count));
    }
}

void TNode::BlockDelete(Integer Pos, Integer Count)
{
    const Integer size = Size();
    MoveBlock(Pos, Count, false);
    // The freed bytes at the end become zeros again.
    std::memset(Keys() + size - Count, 0, static_cast<std::size_t>(Count));
    SetSize(size - Count);
}

void TNode::InsertKey(Integer Pos, const Byte* Key)
{
    const Integer length = ReadLE16(Key + kioLength);
    if (length == 0 || length > FMaxKeySize)
        VekDatabaseError(8581, "TNode.InsertKey", "Invalid key size: " + IntToStr(length), nullptr);
    if (Pos < 0 || Pos > Size())
        VekDatabaseError(8581, "TNode.InsertKey", "ReadPos is out of range: " + IntToStr(Pos), nullptr);
    MoveBlock(Pos, length, true);
    std::memcpy(Keys() + Pos, Key, static_cast<std::size_t>(length));
    SetSize(Size() + length);
}

void TNode::DeleteKey(Integer Pos)
{
    CheckPosition(Pos, "TNode.DeleteKey");
    const Integer length = ReadLE16(Keys() + Pos);
    if (length == 0 || length > FMaxKeySize || Pos + length > Size())
        VekDatabaseError(8581, "TNode.DeleteKey", "Invalid key size in Delete key: " + IntToStr(length),
                         nullptr);
    BlockDelete(Pos + length, length);
}

void TNode::UpdateKey(Integer Pos, const Byte* Key)
{
    CheckPosition(Pos, "TNode.UpdateKey");
    const Integer oldLength = EntryLength(Pos, "TNode.UpdateKey");
    const Integer newLength = ReadLE16(Key + kioLength);
    if (newLength == 0 || newLength > FMaxKeySize)
        VekDatabaseError(8581, "TNode.UpdateKey", "Invalid key size: " + IntToStr(newLength), nullptr);
    if (newLength > oldLength) {
        MoveBlock(Pos + oldLength, newLength - oldLength, true);
        SetSize(Size() + newLength - oldLength);
    } else if (newLength < oldLength) {
        BlockDelete(Pos + oldLength, oldLength - newLength);
    }
    std::memcpy(Keys() + Pos, Key, static_cast<std::size_t>(newLength));
}

Integer TNode::GetCount() const
{
    Integer count = 0;
    for (Integer p = 0; p < Size(); p += EntryLength(p, "TNode.GetCount"))
        ++count;
    return count;
}

Integer TNode::GetRecordCount(Integer Pos) const
{
    const Integer size = Size();
    const bool leaf = CheckIsLeaf();
    // Counts are read from the page: their sum may not fit an Integer.
    Int64 records = 0;
    // A whole page of fixed-size entries: a leaf holds one record per entry,
    // an inner page the sum of its entries' counts, read at a fixed stride.
    // Up to Pos, the same stride: the entries starting at or before Pos.
    if (FMaxKeySize > 0 && size % FMaxKeySize == 0 && (size == 0 || ReadLE16(Keys()) == FMaxKeySize)) {
        const Integer end = Pos < 0 || Pos >= size ? size : (Pos / FMaxKeySize + 1) * FMaxKeySize;
        if (leaf)
            return end / FMaxKeySize;
        for (const Byte* entry = Keys(); entry < Keys() + end; entry += FMaxKeySize)
            records += static_cast<Int64>(ReadLE32(entry + kioCount));
        if (records > std::numeric_limits<Integer>::max())
            Corrupt("TNode.GetRecordCount", "Record count overflow: " + IntToStr(records));
        return static_cast<Integer>(records);
    }
    for (Integer p = 0; p < size;) {
        const Integer length = EntryLength(p, "TNode.GetRecordCount");
        records += leaf ? 1 : static_cast<Int64>(ReadLE32(Keys() + p + kioCount));
        p += length;
        if (Pos >= 0 && p > Pos)
            break;
    }
    if (records > std::numeric_limits<Integer>::max())
        Corrupt("TNode.GetRecordCount", "Record count overflow: " + IntToStr(records));
    return static_cast<Integer>(records);
}

// ------------------------------------------------- split, rebalance, merge

void TNode::RelinkPage(Cardinal Address, Integer Offset, Cardinal Value)
{
    if (Address == 0)
        return;
    Byte header[NodeHeaderSize];
    FIOInterface->ReadBlockHeader(Address, NodeHeaderSize, header);
    WriteLE32(header + Offset, Value);
    FIOInterface->WriteBlockHeader(Address, NodeHeaderSize, header);
    if (FTree != nullptr)
        FTree->PageChanged(Address, nullptr);
}

void TNode::SplitNode(Byte* NewBuffer, Cardinal NewAddress)
{
    const char* context = "TNode.SplitNode";
    const Integer size = Size();
    if (size == 0)
        VekDatabaseError(8581, context, "Node is empty", nullptr);
    if (size > FPageSize - NodeHeaderSize)
        VekDatabaseError(8581, context, "Node is overfull", nullptr);
    const Integer s = FindKeyByPosition(ksLE, size / 2);
    if (s < 0)
        VekDatabaseError(8581, context, "Cursor is out of range", nullptr);

    std::memset(NewBuffer, 0, static_cast<std::size_t>(FPageSize));
    std::memcpy(NewBuffer, Buffer(), NodeHeaderSize);
    std::memcpy(NewBuffer + NodeHeaderSize, Keys() + s, static_cast<std::size_t>(size - s));
    WriteLE32(NewBuffer + nhoSize, static_cast<Cardinal>(size - s));
    std::memset(Keys() + s, 0, static_cast<std::size_t>(size - s));
    SetSize(s);

    if (CheckIsLeaf()) {
        WriteLE32(NewBuffer + nhoNext, Next());
        WriteLE32(NewBuffer + nhoPrior, FAddress);
        RelinkPage(Next(), nhoPrior, NewAddress);
        SetNext(NewAddress);
    }
}

Integer TNode::GetRedistributeNode(Integer Pos) const
{
    if (CheckIsLeaf() || Size() == 0)
        return -1;
    const Integer left = Pos > 0 ? FindKeyByPosition(ksLE, Pos - 1) : -1;
    Integer right = -1;
    if (Pos >= 0 && Pos < Size()) {
        const Integer after = Pos + EntryLength(Pos, "TNode.GetRedistributeNode");
        if (after < Size())
            right = after;
    }
    if (left < 0 || right < 0)
        return left < 0 ? right : left;
    const Cardinal leftCount = ReadLE32(Keys() + left + kioCount);
    const Cardinal rightCount = ReadLE32(Keys() + right + kioCount);
    return leftCount < rightCount ? left : right;
}

Integer TNode::RedistributeNodes(TNode* Right)
{
    const Integer leftSize = Size();
    const Integer rightSize = Right->Size();
    const Integer total = leftSize + rightSize;
    if (total <= FPageSize / 3.0)
        return -1;
    if (leftSize == rightSize)
        return 0;
    const Integer half = total / 2;
    if (leftSize > half) {
        // This page's tail, from the entry holding the middle byte, goes to
        // the front of the right page.
        const Integer s = FindKeyByPosition(ksLE, half);
        const Integer moved = leftSize - s;
        Right->MoveBlock(0, moved, true);
        std::memcpy(Right->Keys(), Keys() + s, static_cast<std::size_t>(moved));
        Right->SetSize(rightSize + moved);
        std::memset(Keys() + s, 0, static_cast<std::size_t>(moved));
        SetSize(s);
    } else {
        // The right page's leading entries up to the first boundary at or
        // after the middle come to the end of this page.
        const Integer e = Right->FindKeyByPosition(ksGE, half - leftSize);
        if (leftSize + e > FPageSize - NodeHeaderSize)
            VekDatabaseError(8581, "TNode.RedistributeNodes", "Node is overfull", nullptr);
        std::memcpy(Keys() + leftSize, Right->Keys(), static_cast<std::size_t>(e));
        SetSize(leftSize + e);
        Right->BlockDelete(e, e);
    }
    return 1;
}

void TNode::MergeNodes(TNode* Other, bool Append)
{
    const Integer size = Size();
    const Integer otherSize = Other->Size();
    ORVEX_ASSERT(size + otherSize + FMaxKeySize + NodeHeaderSize <= FPageSize, "Merged nodes do not fit");
    if (Append) {
        std::memcpy(Keys() + size, Other->Keys(), static_cast<std::size_t>(otherSize));
    } else {
        MoveBlock(0, otherSize, true);
        std::memcpy(Keys(), Other->Keys(), static_cast<std::size_t>(otherSize));
    }
    SetSize(size + otherSize);
    if (!CheckIsLeaf())
        return;
    if (Append) {
        SetNext(Other->Next());
        RelinkPage(Other->Next(), nhoPrior, FAddress);
    } else {
        SetPrior(Other->Prior());
        RelinkPage(Other->Prior(), nhoNext, FAddress);
    }
}

void TNode::UnlinkLeaf()
{
    RelinkPage(Prior(), nhoNext, Next());
    RelinkPage(Next(), nhoPrior, Prior());
}

} // namespace orvex
