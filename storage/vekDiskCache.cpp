// The page cache (TCacheMgr) and the block cache of a transaction
// (TCacheBlockMgr).

#include "storage/vekDisk.h"

#include "storage/vekByteOrder.h"
#include "storage/vekCommon.h"
#include "storage/vekDiskErrors.h"

#include "platform/PageMemory.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

namespace orvex {

namespace {

constexpr Integer MinIndexCapacity = 1000;
// The most pages a commit writes with one write.
constexpr std::size_t MaxWriteRunPages = 64;

std::uint64_t PageKey(Cardinal Upper, Cardinal Lower)
{
    return (std::uint64_t{Upper} << 32) | Lower;
}

} // namespace

// ============================================================ TCachePageIndex

void TCachePageIndex::Reset(std::size_t Capacity)
{
    // At most half full.
    const std::size_t slots = std::bit_ceil(std::max<std::size_t>(16, 2 * Capacity));
    FKeys.assign(slots, 0);
    FValues.assign(slots, nullptr);
    FMask = slots - 1;
    FShift = static_cast<unsigned>(64 - std::countr_zero(slots));
    FCount = 0;
}

TCachePage* TCachePageIndex::Find(std::uint64_t Key) const
{
    for (std::size_t slot = SlotOf(Key);; slot = (slot + 1) & FMask) {
        if (!FValues[slot])
            return nullptr;
        if (FKeys[slot] == Key)
            return FValues[slot];
    }
}

void TCachePageIndex::Insert(std::uint64_t Key, TCachePage* Value)
{
    if (2 * (FCount + 1) > FValues.size())
        Grow();
    std::size_t slot = SlotOf(Key);
    while (FValues[slot])
        slot = (slot + 1) & FMask;
    FKeys[slot] = Key;
    FValues[slot] = Value;
    ++FCount;
}

void TCachePageIndex::Erase(std::uint64_t Key)
{
    std::size_t slot = SlotOf(Key);
    while (FValues[slot] && FKeys[slot] != Key)
        slot = (slot + 1) & FMask;
    if (!FValues[slot])
        return;
    // Backward shift: every key after the hole that may not sit beyond it
    // moves into it, so that no search stops early at an empty slot.
    std::size_t hole = slot;
    for (std::size_t next = (hole + 1) & FMask; FValues[next]; next = (next + 1) & FMask) {
        const std::size_t home = SlotOf(FKeys[next]);
        // Whether home lies cyclically in (hole, next]: then the key stays.
        const bool stays = hole <= next ? (hole < home && home <= next) : (hole < home || home <= next);
        if (stays)
            continue;
        FKeys[hole] = FKeys[next];
        FValues[hole] = FValues[next];
        hole = next;
    }
    FValues[hole] = nullptr;
    --FCount;
}

void TCachePageIndex::Grow()
{
    std::vector<std::uint64_t> keys = std::move(FKeys);
    std::vector<TCachePage*> values = std::move(FValues);
    Reset(values.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        if (values[i])
            Insert(keys[i], values[i]);
}

// ================================================================== TCacheMgr

TCacheMgr::TCacheMgr() : TCollection(ItemClassOf<TCachePage>())
{
    FIndex.Reset(MinIndexCapacity);
}

TCacheMgr::~TCacheMgr() = default;

void TCacheMgr::LogLine(const std::string& Text)
{
    if (FLog)
        FLog->Add(Text);
}

void TCacheMgr::Open(Integer PageCount, Integer PageSize)
{
    if (!FReadIO)
        VekDatabaseError(diskerr::InvalidProcedure, "TCacheMgr.Open", "ReadIO", this);
    if (!FWriteIO)
        VekDatabaseError(diskerr::InvalidProcedure, "TCacheMgr.Open", "WriteIO", this);
    ORVEX_ASSERT(PageSize > 0 && std::has_single_bit(static_cast<Cardinal>(PageSize)),
                 "Cache page size must be a power of two");
    Close();
    FPageSize = PageSize;
    FPageMask = ~static_cast<Cardinal>(PageSize - 1);
    FPageCount = PageCount;
    RebuildHash(std::max(MinIndexCapacity, PageCount));
    if (PageCount > 0)
        SlabRoom(0, PageCount);
    for (Integer i = 0; i < PageCount; ++i)
        AddPage();
    FHits = 0;
    FMisses = 0;
}

void TCacheMgr::Close()
{
    ++FLendEpoch;
    Clear();
    FSlabs.clear();
    FSlabbedPages = 0;
    FDirtyCount = 0;
    FLentPages.clear();
    FSweepHand = 0;
    FLeastRecent = nullptr;
    FMostRecent = nullptr;
    FEmptyHint = 0;
    RebuildHash(MinIndexCapacity);
    FTransactionActive = false;
    FUseOrderStale = false;
    FTransactionUsed.clear();
    FSlotOwners.clear();
}

TCacheMgr::TSlab::TSlab(std::size_t Size, int PageCount)
    : Data(static_cast<Byte*>(SysAllocPageMemory(Size))), Bytes(Size), Pages(PageCount)
{
    if (!Data)
        throw std::bad_alloc();
}

TCacheMgr::TSlab::TSlab(TSlab&& Other) noexcept : Data(Other.Data), Bytes(Other.Bytes), Pages(Other.Pages)
{
    Other.Data = nullptr;
    Other.Bytes = 0;
}

TCacheMgr::TSlab::~TSlab()
{
    SysFreePageMemory(Data, Bytes);
}

Byte* TCacheMgr::SlabRoom(int Slot, int Wanted)
{
    if (Slot >= FSlabbedPages) {
        const auto pageSize = static_cast<std::size_t>(FPageSize);
        const int largest = std::max(MinSlabPages, static_cast<int>(SysLargePageBytes() / pageSize));
        int pages = std::clamp(FSlabbedPages, MinSlabPages, largest);
        // Many pages at once (a cache opened at its size) in one slab of
        // whole large pages, or of MinSlabPages steps below that.
        if (Wanted > pages) {
            const int step = Wanted >= largest ? largest : MinSlabPages;
            pages = static_cast<int>((static_cast<Int64>(Wanted) + step - 1) / step * step);
        }
        FSlabs.emplace_back(static_cast<std::size_t>(pages) * pageSize, pages);
        FSlabbedPages += pages;
    }
    // The slot lies in the last slab or close before it: pages are added
    // and removed at the end only.
    int first = FSlabbedPages;
    for (auto slab = FSlabs.rbegin(); slab != FSlabs.rend(); ++slab) {
        first -= slab->Pages;
        if (Slot >= first)
            return slab->Data + static_cast<std::size_t>(Slot - first) * static_cast<std::size_t>(FPageSize);
    }
    ORVEX_ASSERT(false, "Cache slot outside the slabs");
    return nullptr;
}

int TCacheMgr::AddPage()
{
    const int slot = Count();
    Byte* data = SlabRoom(slot);
    auto* page = static_cast<TCachePage*>(Add());
    page->Data = data;
    std::memset(page->Data, 0, static_cast<std::size_t>(FPageSize));
    page->FSlot = slot;
    FSlotOwners.push_back(page->PageOwner);
    // Never used: the least recent of all.
    page->FMoreRecent = FLeastRecent;
    if (FLeastRecent)
        FLeastRecent->FLessRecent = page;
    else
        FMostRecent = page;
    FLeastRecent = page;
    FEmptyHint = std::min(FEmptyHint, Count() - 1);
    LogLine("Add cache page");
    return Count() - 1;
}

void TCacheMgr::DeleteLastPage()
{
    Delete(Count() - 1);
    FSlotOwners.resize(static_cast<std::size_t>(Count()));
    while (!FSlabs.empty() && FSlabbedPages - FSlabs.back().Pages >= Count()) {
        FSlabbedPages -= FSlabs.back().Pages;
        FSlabs.pop_back();
    }
}

// ------------------------------------------------------------- use order

void TCacheMgr::Unlink(TCachePage* Page)
{
    (Page->FLessRecent ? Page->FLessRecent->FMoreRecent : FLeastRecent) = Page->FMoreRecent;
    (Page->FMoreRecent ? Page->FMoreRecent->FLessRecent : FMostRecent) = Page->FLessRecent;
    Page->FLessRecent = nullptr;
    Page->FMoreRecent = nullptr;
}

void TCacheMgr::Touch(TCachePage* Page)
{
    // Inside a transaction no page is replaced, so the use order is put
    // right from the stamps when it ends (RestoreUseOrder), sparing every
    // access a relink that touches two far-off pages.
    if (FTransactionActive) {
        if (Page->LRUFlag <= FTransactionStamp)
            FTransactionUsed.push_back(Page->FSlot);
        Page->LRUFlag = ++FNextStamp;
        FUseOrderStale = true;
        return;
    }
    Page->LRUFlag = ++FNextStamp;
    MakeMostRecent(Page);
}

void TCacheMgr::MakeMostRecent(TCachePage* Page)
{
    if (Page == FMostRecent)
        return;
    Unlink(Page);
    Page->FLessRecent = FMostRecent;
    if (FMostRecent)
        FMostRecent->FMoreRecent = Page;
    else
        FLeastRecent = Page;
    FMostRecent = Page;
}

void TCacheMgr::RestoreUseOrder()
{
    // Outside a transaction the order follows the stamps; the pages used
    // in it hold the newest stamps, so only they move. The work is that of
    // the pages the transaction used, not of the whole cache.
    std::vector<TCachePage*> used;
    used.reserve(FTransactionUsed.size());
    for (int slot : FTransactionUsed)
        if (slot < Count() && Pages(slot)->LRUFlag > FTransactionStamp)
            used.push_back(Pages(slot));
    FTransactionUsed.clear();
    if (!FUseOrderStale)
        return;
    FUseOrderStale = false;
    std::sort(used.begin(), used.end(),
              [](const TCachePage* A, const TCachePage* B) { return A->LRUFlag < B->LRUFlag; });
    // A slot emptied and filled again in the transaction is listed twice.
    used.erase(std::unique(used.begin(), used.end()), used.end());
    for (TCachePage* page : used)
        MakeMostRecent(page);
}

// ------------------------------------------------------------- the page index

void TCacheMgr::RebuildHash(Integer Capacity)
{
    FIndex.Reset(static_cast<std::size_t>(std::max(Capacity, Count())));
    for (int i = 0; i < Count(); ++i)
        if (Pages(i)->IsHashed)
            FIndex.Insert(PageKey(Pages(i)->UpperAddress, Pages(i)->LowerAddress), Pages(i));
}

void TCacheMgr::HashPage(int Index)
{
    TCachePage* page = Pages(Index);
    if (page->IsHashed)
        return;
    page->SetHashFromInts(static_cast<Integer>(page->UpperAddress),
                          static_cast<Integer>(page->LowerAddress));
    FIndex.Insert(PageKey(page->UpperAddress, page->LowerAddress), page);
}

void TCacheMgr::NamePage(int Index, Integer TableID, Cardinal AccessFlags, Cardinal LowerAddress,
                         Cardinal UpperAddress)
{
    TCachePage* page = Pages(Index);
    SetOwner(page, TableID);
    page->TreePage = false;
    page->AccessFlags = AccessFlags;
    page->LowerAddress = LowerAddress;
    page->UpperAddress = UpperAddress;
    HashPage(Index);
}

void TCacheMgr::UnhashPage(int Index)
{
    TCachePage* page = Pages(Index);
    if (!page->IsHashed)
        return;
    FIndex.Erase(PageKey(page->UpperAddress, page->LowerAddress));
    page->IsHashed = false;
}

void TCacheMgr::SetState(TCachePage* Page, TCachePageState State)
{
    if (Page->State == cpDirty)
        --FDirtyCount;
    if (State == cpDirty)
        ++FDirtyCount;
    Page->State = State;
}

void TCacheMgr::ForgetPage(int Index)
{
    UnhashPage(Index);
    TCachePage* page = Pages(Index);
    if (page->Lent)
        ++FLendEpoch;
    SetState(page, cpEmpty);
    FEmptyHint = std::min(FEmptyHint, Index);
    SetOwner(page, 0);
    page->TreePage = false;
    page->LowerAddress = 0;
    page->UpperAddress = 0;
}

int TCacheMgr::FindPage(Cardinal Address, Cardinal HighAddress) const
{
    // The index compares whole keys: what it finds is the page.
    const TCachePage* page = FindCachedPage(Address, HighAddress);
    return page ? page->FSlot : -1;
}

// --------------------------------------------------------------- replacement

int TCacheMgr::GetNextEmptyPage()
{
    // The first empty page in collection order: no page before the hint is empty.
    // A lent page stays with its borrower even when it was forgotten.
    int chosen = -1;
    int hint = -1;
    for (int i = FEmptyHint; i < Count() && chosen < 0; ++i)
        if (Pages(i)->State == cpEmpty) {
            if (hint < 0)
                hint = i;
            if (!Pages(i)->Lent)
                chosen = i;
        }
    FEmptyHint = hint >= 0 ? hint : Count();
    // Inside a transaction that may spill, the cache stops growing at its
    // allowance and replaces a clean page instead.
    if (chosen < 0 && FTransactionActive && FTransactionAllowance > 0 &&
        Count() >= FPageCount + FTransactionAllowance)
        chosen = FindReplaceablePage();
    // Else, outside a transaction, the clean page used longest ago: the use
    // order lists every page by its use stamp, oldest first.
    TCachePage* oldest = nullptr;
    // A cache that grows on demand (SetPageLimit) adds a page while it is
    // below its page count.
    if (chosen < 0 && Count() < FPageCount)
        chosen = AddPage();
    // In write-back mode a dirty page is replaced too, once written out.
    if (chosen < 0 && !FTransactionActive)
        for (oldest = FLeastRecent; oldest && (oldest->Lent || (oldest->State == cpDirty && !FWriteBack));)
            oldest = oldest->FMoreRecent;
    if (oldest && oldest->State == cpDirty)
        WritePageOut(oldest);
    if (chosen >= 0) {
        if (FLog)
            LogLine("GetNextEmptyPage. EmptyPage: " + IntToStr(chosen));
    } else if (oldest) {
        chosen = oldest->FSlot;
        if (FLog)
            LogLine("GetNextEmptyPage. Replacing OldestPage: " + IntToStr(chosen));
    } else {
        LogLine("GetNextEmptyPage. Adding new page");
        chosen = AddPage();
    }
    UnhashPage(chosen);
    return chosen;
}

int TCacheMgr::FindReplaceablePage()
{
    // The use order is not kept up inside a transaction: sweep from where
    // the last sweep stopped and take the first clean page that has not been
    // used for half a cache's worth of accesses, else the oldest clean page
    // seen.
    const int count = Count();
    if (count == 0)
        return -1;
    const std::uint64_t recent = static_cast<std::uint64_t>(count / 2);
    int best = -1;
    for (int step = 0; step < count; ++step) {
        const int i = (FSweepHand + step) % count;
        const TCachePage* page = Pages(i);
        if (page->State != cpClean || page->Lent)
            continue;
        if (page->LRUFlag + recent < FNextStamp) {
            best = i;
            break;
        }
        if (best < 0 || page->LRUFlag < Pages(best)->LRUFlag)
            best = i;
    }
    if (best >= 0) {
        FSweepHand = (best + 1) % count;
        if (FLog)
            LogLine("GetNextEmptyPage. Replacing a clean page in a transaction: " + IntToStr(best));
    }
    return best;
}

void TCacheMgr::WritePageOut(TCachePage* Page)
{
    FWriteIO(Page->Data, Page->PageOwner, Page->AccessFlags, Page->LowerAddress, Page->UpperAddress);
    SetState(Page, cpClean);
}

void TCacheMgr::SetWriteBack(bool Value)
{
    if (FWriteBack && !Value)
        FlushDirtyPages();
    FWriteBack = Value;
}

void TCacheMgr::FlushDirtyPages()
{
    if (FTransactionActive || FDirtyCount == 0)
        return;
    std::vector<TCachePage*> pages;
    pages.reserve(static_cast<std::size_t>(FDirtyCount));
    for (int i = 0; i < Count(); ++i)
        if (Pages(i)->State == cpDirty)
            pages.push_back(Pages(i));
    std::sort(pages.begin(), pages.end(), [](const TCachePage* A, const TCachePage* B) {
        return PageKey(A->UpperAddress, A->LowerAddress) < PageKey(B->UpperAddress, B->LowerAddress);
    });
    for (TCachePage* page : pages)
        WritePageOut(page);
}

void TCacheMgr::ReturnLentPages()
{
    if (!FLentPages.empty())
        ++FLendEpoch;
    for (TCachePage* page : FLentPages) {
        page->Lent = false;
        if (page->State == cpEmpty)
            FEmptyHint = std::min(FEmptyHint, page->FSlot);
    }
    FLentPages.clear();
}

std::vector<TCachePage*> TCacheMgr::CollectSpillPages(Integer Wanted)
{
    std::vector<TCachePage*> pages;
    if (Wanted <= 0)
        return pages;
    pages.reserve(static_cast<std::size_t>(FDirtyCount));
    for (int i = 0; i < Count(); ++i)
        if (Pages(i)->State == cpDirty && !Pages(i)->Lent)
            pages.push_back(Pages(i));
    if (pages.size() > static_cast<std::size_t>(Wanted)) {
        // Pages that are no B-tree pages first: an insert fills a record
        // page once and moves on, while a tree page used now is likely to
        // change again soon.
        std::nth_element(pages.begin(), pages.begin() + Wanted, pages.end(),
                         [](const TCachePage* A, const TCachePage* B) {
                             return A->TreePage != B->TreePage ? B->TreePage : A->LRUFlag < B->LRUFlag;
                         });
        pages.resize(static_cast<std::size_t>(Wanted));
    }
    std::sort(pages.begin(), pages.end(), [](const TCachePage* A, const TCachePage* B) {
        return PageKey(A->UpperAddress, A->LowerAddress) < PageKey(B->UpperAddress, B->LowerAddress);
    });
    return pages;
}

void TCacheMgr::WritePages(const std::vector<TCachePage*>& Pages, const std::function<void(TCachePage*)>& Written)
{
    const auto pageSize = static_cast<std::size_t>(FPageSize);
    for (std::size_t first = 0; first < Pages.size();) {
        const TCachePage* head = Pages[first];
        std::size_t last = first + 1;
        while (FWriteRunIO && last < Pages.size() && last - first < MaxWriteRunPages) {
            const TCachePage* next = Pages[last];
            const TCachePage* prior = Pages[last - 1];
            if (next->UpperAddress != head->UpperAddress || next->PageOwner != head->PageOwner ||
                next->AccessFlags != head->AccessFlags ||
                Int64{next->LowerAddress} != Int64{prior->LowerAddress} + FPageSize)
                break;
            ++last;
        }
        if (last - first == 1) {
            FWriteIO(head->Data, head->PageOwner, head->AccessFlags, head->LowerAddress, head->UpperAddress);
        } else {
            // The run writer enciphers in place: it gets a copy.
            FRunBuffer.resize((last - first) * pageSize);
            for (std::size_t k = first; k < last; ++k)
                std::memcpy(FRunBuffer.data() + (k - first) * pageSize, Pages[k]->Data, pageSize);
            FWriteRunIO(FRunBuffer.data(), head->PageOwner, head->AccessFlags, head->LowerAddress,
                        head->UpperAddress, static_cast<Integer>(last - first));
        }
        for (std::size_t k = first; k < last; ++k)
            Written(Pages[k]);
        first = last;
    }
}

void TCacheMgr::PageSpilled(TCachePage* Page)
{
    if (Page->TreePage)
        SetState(Page, cpClean);
    else
        ForgetPage(Page->FSlot);
}

void TCacheMgr::RemovePage(Cardinal Address, Cardinal HighAddress)
{
    const int index = FindPage(Address, HighAddress);
    if (index >= 0)
        ForgetPage(index);
}

void TCacheMgr::SetOwner(TCachePage* Page, Integer Owner)
{
    Page->PageOwner = Owner;
    FSlotOwners[static_cast<std::size_t>(Page->FSlot)] = Owner;
}

void TCacheMgr::ClearOwnedPages(Integer Owner)
{
    const int count = Count();
    for (int i = 0; i < count; ++i) {
        if (FSlotOwners[static_cast<std::size_t>(i)] != Owner)
            continue;
        TCachePage* page = Pages(i);
        if (page->State == cpClean) {
            SetState(page, cpEmpty);
            FEmptyHint = std::min(FEmptyHint, i);
        }
    }
}

void TCacheMgr::ClearCache()
{
    if (!FLentPages.empty())
        ++FLendEpoch;
    for (int i = 0; i < Count(); ++i)
        SetState(Pages(i), cpEmpty);
    FEmptyHint = 0;
}

void TCacheMgr::ClearCleanPages()
{
    for (int i = 0; i < Count(); ++i)
        if (Pages(i)->State == cpClean)
            ForgetPage(i);
}

void TCacheMgr::SetPageLimit(Integer NewCount)
{
    FPageCount = NewCount;
    // Only the tail goes, so the indices the hash holds stay right.
    while (Count() > NewCount && Pages(Count() - 1)->State != cpDirty && !Pages(Count() - 1)->Lent) {
        UnhashPage(Count() - 1);
        Unlink(Pages(Count() - 1));
        DeleteLastPage();
        FEmptyHint = std::min(FEmptyHint, Count());
    }
}

void TCacheMgr::ResetPageCount(Integer NewCount)
{
    SetPageLimit(NewCount);
    while (Count() < NewCount)
        AddPage();
}

// ----------------------------------------------------------------- transfers

TCachePage* TCacheMgr::AcquirePage(Integer TableID, Cardinal AccessFlags, Cardinal Base,
                                   Cardinal HighAddress, bool WholePage)
{
    TCachePage* page = FindCachedPage(Base, HighAddress);
    if (page && page->PageOwner == TableID && page->State != cpEmpty) {
        ++FHits;
        return page;
    }
    // Asked for under another table id: the file must hold the bytes held
    // back so far before they are read again under that one.
    if (page && page->State == cpDirty && !FTransactionActive)
        WritePageOut(page);
    const int index = page ? page->FSlot : GetNextEmptyPage();
    page = Pages(index);
    page->Checked = false; // new bytes, from the file or the writer
    if (WholePage) {
        ++FHits; // overwritten whole: nothing to read
    } else {
        ++FMisses;
        try {
            FReadIO(page->Data, TableID, AccessFlags, Base, HighAddress);
        } catch (...) {
            ForgetPage(index); // its bytes are no longer those of any page
            throw;
        }
        SetState(page, cpClean);
    }
    NamePage(index, TableID, AccessFlags, Base, HighAddress);
    return page;
}

void TCacheMgr::StorePage(TCachePage* Page, const Byte* Source, Integer Offset, Integer Count,
                          Integer TableID, Cardinal AccessFlags)
{
    Byte* target = Page->Data + Offset;
    if (Source != target) {
        std::memmove(target, Source, static_cast<std::size_t>(Count));
        Page->Checked = false;
    }
    SetOwner(Page, TableID);
    Page->AccessFlags = AccessFlags;
    Touch(Page);
    if (FTransactionActive) {
        SetState(Page, cpDirty);
        if (FOnPageDirty)
            FOnPageDirty(Page);
        return;
    }
    if (FWriteBack) {
        SetState(Page, cpDirty);
        return;
    }
    try {
        FWriteIO(Page->Data, TableID, AccessFlags, Page->LowerAddress, Page->UpperAddress);
    } catch (...) {
        // The file does not hold these bytes: the cache must not claim it does.
        RemovePage(Page->LowerAddress, Page->UpperAddress);
        throw;
    }
    SetState(Page, cpClean);
}

void TCacheMgr::ReadCache(void* Buffer, Integer TableID, Cardinal AccessFlags, Cardinal Address,
                          Cardinal HighAddress, Integer Size)
{
    Byte* out = static_cast<Byte*>(Buffer);
    Cardinal base = Address & FPageMask;
    Integer offset = static_cast<Integer>(Address - base);
    while (Size > 0) {
        TCachePage* page = AcquirePage(TableID, AccessFlags, base, HighAddress, false);
        const Integer count = std::min(FPageSize - offset, Size);
        std::memcpy(out, page->Data + offset, static_cast<std::size_t>(count));
        Touch(page);
        out += count;
        Size -= count;
        base += static_cast<Cardinal>(FPageSize);
        offset = 0;
    }
}

void TCacheMgr::WriteCache(const void* Buffer, Integer TableID, Cardinal AccessFlags,
                           Cardinal Address, Cardinal HighAddress, Integer Size)
{
    const Byte* in = static_cast<const Byte*>(Buffer);
    Cardinal base = Address & FPageMask;
    Integer offset = static_cast<Integer>(Address - base);
    while (Size > 0) {
        const Integer count = std::min(FPageSize - offset, Size);
        TCachePage* page =
            AcquirePage(TableID, AccessFlags, base, HighAddress, offset == 0 && count == FPageSize);
        StorePage(page, in, offset, count, TableID, AccessFlags);
        in += count;
        Size -= count;
        base += static_cast<Cardinal>(FPageSize);
        offset = 0;
    }
}

bool TCacheMgr::ReadCacheByRef(void*& Buffer, Integer TableID, Cardinal AccessFlags,
                               Cardinal Address, Cardinal HighAddress, Integer Size)
{
    const Cardinal base = Address & FPageMask;
    if (Size <= 0 || ((Address + static_cast<Cardinal>(Size) - 1) & FPageMask) != base)
        return false;
    TCachePage* page = AcquirePage(TableID, AccessFlags, base, HighAddress, false);
    Touch(page);
    Buffer = page->Data + (Address - base);
    return true;
}

void TCacheMgr::ReadCacheBlocks(const Cardinal* Addresses, std::size_t Count, Integer Size, Integer TableID,
                                Cardinal AccessFlags, Cardinal HighAddress, void* Buffer, const TBlockVisitProc& Visit)
{
    Byte* out = static_cast<Byte*>(Buffer);
    // A copy of the page being served: Visit may use the cache, which may
    // replace the page.
    std::vector<Byte> copy(static_cast<std::size_t>(FPageSize));
    const auto inside = [this, Size](Cardinal Address, Cardinal Base) {
        return Size > 0 && Int64{Address} - Base + Size <= FPageSize;
    };
    std::size_t i = 0;
    while (i < Count) {
        const Cardinal base = Addresses[i] & FPageMask;
        if (!inside(Addresses[i], base)) {
            // A block over a page boundary goes the ordinary way.
            ReadCache(out, TableID, AccessFlags, Addresses[i], HighAddress, Size);
            Visit(i++);
            continue;
        }
        if (FReadRunIO && !FindCachedPage(base, HighAddress))
            ReadAhead(TableID, AccessFlags, HighAddress, Addresses + i, Count - i);
        TCachePage* page = AcquirePage(TableID, AccessFlags, base, HighAddress, false);
        Touch(page);
        std::memcpy(copy.data(), page->Data, copy.size());
        do {
            std::memcpy(out, copy.data() + (Addresses[i] - base), static_cast<std::size_t>(Size));
            Visit(i++);
        } while (i < Count && (Addresses[i] & FPageMask) == base && inside(Addresses[i], base));
    }
}

void TCacheMgr::ReadAhead(Integer TableID, Cardinal AccessFlags, Cardinal HighAddress, const Cardinal* Addresses,
                          std::size_t Count)
{
    // At most 32 pages, and never so many that the run could push its own
    // first pages out of the cache.
    const Int64 limit = std::min<Int64>(32, std::max<Int64>(1, FPageCount / 4));
    const Int64 first = Addresses[0] & FPageMask;
    // The pages of the run that the blocks need (a page between two of them
    // is read along, one read costing less than two, but not cached: it may
    // be another table's).
    bool wanted[32] = {true};
    Int64 last = first;
    for (std::size_t i = 1; i < Count; ++i) {
        const Int64 base = Addresses[i] & FPageMask;
        if (base == last)
            continue;
        if (base < last || (base - first) / FPageSize >= limit)
            break;
        // The run reaches this page while the cache holds none of the pages
        // up to it.
        Int64 next = last + FPageSize;
        while (next <= base && !FindCachedPage(static_cast<Cardinal>(next), HighAddress))
            next += FPageSize;
        if (next <= base)
            break;
        last = base;
        wanted[(last - first) / FPageSize] = true;
    }
    const Integer pages = static_cast<Integer>((last - first) / FPageSize + 1);
    if (pages < 2)
        return; // AcquirePage reads a single page itself
    FRunBuffer.resize(static_cast<std::size_t>(pages) * static_cast<std::size_t>(FPageSize));
    FReadRunIO(FRunBuffer.data(), TableID, AccessFlags, static_cast<Cardinal>(first), HighAddress, pages);
    for (Integer k = 0; k < pages; ++k) {
        if (!wanted[k])
            continue;
        const Cardinal base = static_cast<Cardinal>(first + Int64{k} * FPageSize);
        const int index = GetNextEmptyPage();
        TCachePage* page = Pages(index);
        page->Checked = false;
        std::memcpy(page->Data, FRunBuffer.data() + static_cast<std::size_t>(k) * FPageSize,
                    static_cast<std::size_t>(FPageSize));
        SetState(page, cpClean);
        NamePage(index, TableID, AccessFlags, base, HighAddress);
        // Used from now on: a later page of the run never replaces it.
        Touch(page);
        ++FMisses;
    }
}

bool TCacheMgr::WriteCacheByRef(const void* Buffer, Integer TableID, Cardinal AccessFlags,
                                Cardinal Address, Cardinal HighAddress, Integer Size)
{
    const Cardinal base = Address & FPageMask;
    if (Size <= 0 || ((Address + static_cast<Cardinal>(Size) - 1) & FPageMask) != base)
        return false;
    const Integer offset = static_cast<Integer>(Address - base);
    TCachePage* page =
        AcquirePage(TableID, AccessFlags, base, HighAddress, offset == 0 && Size == FPageSize);
    StorePage(page, static_cast<const Byte*>(Buffer), offset, Size, TableID, AccessFlags);
    return true;
}

bool TCacheMgr::LendCacheByRef(void*& Buffer, bool*& Checked, Integer TableID, Cardinal AccessFlags,
                               Cardinal Address, Cardinal HighAddress, Integer Size)
{
    const Cardinal base = Address & FPageMask;
    if (!FTransactionActive || Size <= 0 || ((Address + static_cast<Cardinal>(Size) - 1) & FPageMask) != base)
        return false;
    TCachePage* page = AcquirePage(TableID, AccessFlags, base, HighAddress, false);
    Byte* bytes = page->Data + (Address - base);
    StorePage(page, bytes, static_cast<Integer>(Address - base), Size, TableID, AccessFlags);
    Buffer = bytes;
    Checked = &page->Checked;
    page->TreePage = true;
    if (!page->Lent) {
        page->Lent = true;
        FLentPages.push_back(page);
    }
    return true;
}

// -------------------------------------------------------------- transactions

void TCacheMgr::StartTransaction()
{
    FTransactionActive = true;
    FTransactionStamp = FNextStamp;
    FTransactionUsed.clear();
}

void TCacheMgr::Commit()
{
    if (!FTransactionActive)
        VekDatabaseError(diskerr::NoTransaction, "TCacheMgr.Commit", "", this);
    // In address order; each page turns clean once the file holds it.
    std::vector<TCachePage*> dirty;
    dirty.reserve(static_cast<std::size_t>(FDirtyCount));
    for (int i = 0; i < Count() && static_cast<Integer>(dirty.size()) < FDirtyCount; ++i)
        if (Pages(i)->State == cpDirty)
            dirty.push_back(Pages(i));
    std::sort(dirty.begin(), dirty.end(), [](const TCachePage* A, const TCachePage* B) {
        return A->UpperAddress != B->UpperAddress ? A->UpperAddress < B->UpperAddress
                                                  : A->LowerAddress < B->LowerAddress;
    });
    WritePages(dirty, [this](TCachePage* Page) { SetState(Page, cpClean); });
    FTransactionActive = false;
    ReturnLentPages();
    RestoreUseOrder();
}

void TCacheMgr::Rollback()
{
    if (!FTransactionActive)
        VekDatabaseError(diskerr::NoTransaction, "TCacheMgr.Rollback", "", this);
    for (int i = 0; i < Count(); ++i)
        if (Pages(i)->State == cpDirty)
            ForgetPage(i);
    FTransactionActive = false;
    ReturnLentPages();
    RestoreUseOrder();
}

void TCacheMgr::DumpState()
{
    if (!FLog)
        return;
    static const char* const stateNames[] = {"Empty", "Clean", "Dirty"};
    FLog->Add(Format("Cache: %d pages of %d bytes, hits %d, misses %d",
                     {Count(), FPageSize, FHits, FMisses}));
    for (int i = 0; i < Count(); ++i) {
        const TCachePage* page = Pages(i);
        FLog->Add(Format("Page %d: address %u, owner %d, flags %u, state %s, stamp %u",
                         {i, page->LowerAddress, page->PageOwner, page->AccessFlags,
                          stateNames[page->State], static_cast<unsigned long long>(page->LRUFlag)}));
    }
}

// ============================================================= TCacheBlockMgr

TCacheBlockMgr::TCacheBlockMgr() : TCollection(ItemClassOf<TCacheBlock>()) {}

template <class F>
void TCacheBlockMgr::ForEachOverlap(Cardinal LowAddress, Cardinal HighAddress, Integer Size,
                                    F&& Visit) const
{
    if (FIndex.empty() || Size <= 0)
        return;
    const Int64 low = LowAddress;
    const Int64 end = low + Size;
    // Blocks start at most FLargestBlock - 1 bytes before the range to reach into it.
    const Int64 from = std::max<Int64>(0, low - FLargestBlock + 1);
    std::vector<int> hits;
    for (auto it = FIndex.lower_bound(KeyOf(static_cast<Cardinal>(from), HighAddress));
         it != FIndex.end() && (it->first >> 32) == HighAddress &&
         static_cast<Int64>(it->first & 0xFFFFFFFFu) < end;
         ++it) {
        const TCacheBlock* block = Blocks(it->second);
        if (Int64{block->LowAddress} + block->BlockSize > low)
            hits.push_back(it->second);
    }
    // Older blocks first, so that a later block's bytes come out on top.
    std::sort(hits.begin(), hits.end());
    for (int index : hits) {
        TCacheBlock* block = Blocks(index);
        const Int64 start = std::max<Int64>(low, block->LowAddress);
        const Int64 stop = std::min<Int64>(end, Int64{block->LowAddress} + block->BlockSize);
        Visit(block, static_cast<Integer>(start - low),
              static_cast<Integer>(start - block->LowAddress), static_cast<Integer>(stop - start));
    }
}

int TCacheBlockMgr::FindBlock(Cardinal LowAddress, Cardinal HighAddress) const
{
    const std::uint64_t key = KeyOf(LowAddress, HighAddress);
    auto it = FIndex.lower_bound(key);
    if (it != FIndex.end() && it->first == key)
        return it->second;
    while (it != FIndex.begin()) {
        --it;
        const TCacheBlock* block = Blocks(it->second);
        if (block->HighAddress != HighAddress ||
            Int64{LowAddress} - block->LowAddress >= FLargestBlock)
            break;
        if (Int64{block->LowAddress} + block->BlockSize > LowAddress)
            VekDatabaseError(diskerr::ObjectNotFound, "TCacheBlockMgr.FindBlock",
                             Format("Cached block %u overlaps %u", {block->LowAddress, LowAddress}),
                             const_cast<TCacheBlockMgr*>(this));
    }
    return -1;
}

void TCacheBlockMgr::ReadBlock(void* Buffer, Integer Owner, Cardinal AccessFlags,
                               Cardinal LowAddress, Cardinal HighAddress, Integer Size)
{
    // Blocks are bytes of the file: a read of another extent than a held
    // block's (a header's first bytes, say) gets the file's bytes with
    // every held block over them.
    const auto it = FIndex.find(KeyOf(LowAddress, HighAddress));
    if (it == FIndex.end() || Blocks(it->second)->BlockSize != Size) {
        ++FMisses;
        FReadIO(Buffer, Owner, AccessFlags, LowAddress, HighAddress, Size);
        OverlayBlocks(Buffer, LowAddress, HighAddress, Size);
        return;
    }
    std::memcpy(Buffer, Blocks(it->second)->Data.data(), static_cast<std::size_t>(Size));
    ++FHits;
}

void TCacheBlockMgr::MergeBlock(const void* Buffer, Integer Owner, Cardinal AccessFlags,
                                Cardinal LowAddress, Cardinal HighAddress, Integer Size)
{
    // The write and every block it overlaps become one block over their
    // union (held blocks never overlap one another): the file's bytes,
    // the held blocks over them, then the write.
    Int64 start = LowAddress;
    Int64 end = Int64{LowAddress} + Size;
    std::vector<int> merged;
    ForEachOverlap(LowAddress, HighAddress, Size, [&](const TCacheBlock* block, Integer, Integer, Integer) {
        start = std::min<Int64>(start, block->LowAddress);
        end = std::max<Int64>(end, Int64{block->LowAddress} + block->BlockSize);
        merged.push_back(block->Index());
    });
    const Integer size = static_cast<Integer>(end - start);
    std::vector<Byte> data(static_cast<std::size_t>(size));
    FReadIO(data.data(), Owner, AccessFlags, static_cast<Cardinal>(start), HighAddress, size);
    OverlayBlocks(data.data(), static_cast<Cardinal>(start), HighAddress, size);
    std::memcpy(data.data() + (LowAddress - start), Buffer, static_cast<std::size_t>(Size));
    std::sort(merged.begin(), merged.end());
    for (auto it = merged.rbegin(); it != merged.rend(); ++it)
        Delete(*it);
    FIndex.clear();
    for (int i = 0; i < Count(); ++i)
        FIndex[KeyOf(Blocks(i)->LowAddress, Blocks(i)->HighAddress)] = i;
    auto* block = static_cast<TCacheBlock*>(Add());
    block->Data = std::move(data);
    block->LowAddress = static_cast<Cardinal>(start);
    block->HighAddress = HighAddress;
    block->BlockOwner = Owner;
    block->BlockSize = size;
    block->AccessFlags = AccessFlags;
    block->State = cpDirty;
    FIndex[KeyOf(block->LowAddress, HighAddress)] = Count() - 1;
    FLargestBlock = std::max(FLargestBlock, size);
    if (FLog)
        FLog->Add(Format("Merge cache block %u size %d", {block->LowAddress, size}));
}

void TCacheBlockMgr::WriteBlock(const void* Buffer, Integer Owner, Cardinal AccessFlags,
                                Cardinal LowAddress, Cardinal HighAddress, Integer Size)
{
    // Owner and access flags do not matter to a block: its bytes are
    // written as they are.
    const auto it = FIndex.find(KeyOf(LowAddress, HighAddress));
    TCacheBlock* block = nullptr;
    if (it != FIndex.end() && Blocks(it->second)->BlockSize == Size) {
        block = Blocks(it->second);
    } else if (HasBlocksIn(LowAddress, HighAddress, Size)) {
        MergeBlock(Buffer, Owner, AccessFlags, LowAddress, HighAddress, Size);
        return;
    } else {
        block = static_cast<TCacheBlock*>(Add());
        block->Data.assign(static_cast<std::size_t>(Size), 0);
        block->LowAddress = LowAddress;
        block->HighAddress = HighAddress;
        block->BlockOwner = Owner;
        block->BlockSize = Size;
        FIndex[KeyOf(LowAddress, HighAddress)] = Count() - 1;
        FLargestBlock = std::max(FLargestBlock, Size);
        if (FLog)
            FLog->Add(Format("Add cache block %u size %d", {LowAddress, Size}));
    }
    block->AccessFlags = AccessFlags;
    std::memcpy(block->Data.data(), Buffer, static_cast<std::size_t>(Size));
    block->State = cpDirty;
}

void TCacheBlockMgr::OverlayBlocks(void* Buffer, Cardinal LowAddress, Cardinal HighAddress,
                                   Integer Size) const
{
    Byte* out = static_cast<Byte*>(Buffer);
    ForEachOverlap(LowAddress, HighAddress, Size,
                   [out](const TCacheBlock* block, Integer at, Integer from, Integer count) {
                       std::memcpy(out + at, block->Data.data() + from, static_cast<std::size_t>(count));
                   });
}

void TCacheBlockMgr::PatchBlocks(const void* Buffer, Cardinal LowAddress, Cardinal HighAddress,
                                 Integer Size)
{
    const Byte* in = static_cast<const Byte*>(Buffer);
    ForEachOverlap(LowAddress, HighAddress, Size,
                   [in](TCacheBlock* block, Integer at, Integer from, Integer count) {
                       std::memcpy(block->Data.data() + from, in + at, static_cast<std::size_t>(count));
                       block->State = cpDirty;
                   });
}

bool TCacheBlockMgr::HasBlocksIn(Cardinal LowAddress, Cardinal HighAddress, Integer Size) const
{
    // Asked on every change of a page in a transaction: no list, no sort.
    if (FIndex.empty() || Size <= 0)
        return false;
    const Int64 low = LowAddress;
    const Int64 end = low + Size;
    const Int64 from = std::max<Int64>(0, low - FLargestBlock + 1);
    for (auto it = FIndex.lower_bound(KeyOf(static_cast<Cardinal>(from), HighAddress));
         it != FIndex.end() && (it->first >> 32) == HighAddress &&
         static_cast<Int64>(it->first & 0xFFFFFFFFu) < end;
         ++it)
        if (Int64{Blocks(it->second)->LowAddress} + Blocks(it->second)->BlockSize > low)
            return true;
    return false;
}

void TCacheBlockMgr::FreeBlocks()
{
    Clear();
    FIndex.clear();
    FLargestBlock = 0;
}

void TCacheBlockMgr::StartTransaction()
{
    FTransactionActive = true;
}

void TCacheBlockMgr::Commit()
{
    if (!FTransactionActive)
        VekDatabaseError(diskerr::NoTransaction, "TCacheBlockMgr.Commit", "", this);
    for (int i = 0; i < Count(); ++i) {
        TCacheBlock* block = Blocks(i);
        if (block->State != cpDirty)
            continue;
        FWriteIO(block->Data.data(), block->BlockOwner, block->AccessFlags, block->LowAddress,
                 block->HighAddress, block->BlockSize);
        block->State = cpClean;
    }
    FreeBlocks();
    FTransactionActive = false;
}

void TCacheBlockMgr::Rollback()
{
    if (!FTransactionActive)
        VekDatabaseError(diskerr::NoTransaction, "TCacheBlockMgr.Rollback", "", this);
    FreeBlocks();
    FTransactionActive = false;
}

} // namespace orvex
