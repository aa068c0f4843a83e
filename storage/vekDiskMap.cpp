// The global header (TGlobalHdr) and the page-allocation map (TMapPageMgr).

#include "storage/vekDisk.h"

#include "storage/vekByteOrder.h"
#include "storage/vekDiskErrors.h"

#include <algorithm>
#include <bit>

namespace orvex {

namespace {

constexpr const char* SMapCorrupted = "Error in setting map flags - mapping corrupted";
constexpr const char* SInvalidSegment = "Empty segment found is invalid";

} // namespace

// ================================================================= TGlobalHdr

TGlobalHdr::TGlobalHdr() = default;

void TGlobalHdr::Initialize()
{
    if (FHdrSize == 0)
        VekDatabaseError(diskerr::Internal, "TGlobalHdr.Initialize", "Unable to initialize header - size not set",
                         this);
    FBuffer.assign(static_cast<std::size_t>(FHdrSize), 0);
    FDirty = false;
}

void TGlobalHdr::CheckOffset(Integer Offset) const
{
    if (Offset <= 0 || Offset + 4 > static_cast<Integer>(FBuffer.size()))
        VekDatabaseError(diskerr::Internal, "TGlobalHdr.GlobalInterfaceHdrItem",
                         "DB Header. Item offset is out of range", const_cast<TGlobalHdr*>(this));
}

Cardinal TGlobalHdr::Item(Integer Offset) const
{
    return ReadLE32(FBuffer.data() + Offset);
}

void TGlobalHdr::SetItem(Cardinal Value, Integer Offset)
{
    if (Item(Offset) == Value)
        return;
    WriteLE32(FBuffer.data() + Offset, Value);
    FDirty = true;
}

Cardinal TGlobalHdr::GlobalInterfaceGetHdrItem(Integer Offset) const
{
    CheckOffset(Offset);
    return Item(Offset);
}

void TGlobalHdr::GlobalInterfaceSetHdrItem(Cardinal Value, Integer Offset)
{
    CheckOffset(Offset);
    SetItem(Value, Offset);
}

// ================================================================ TMapPageMgr

TMapPageMgr::TMapPageMgr(TDiskMgr* DiskMgr, TGlobalHdr* GlobalHdr, Integer PageSize)
    : FEntriesPerMap((PageSize - MapPageHeaderSize) / 2),
      FPageShift(std::countr_zero(static_cast<Cardinal>(PageSize))),
      FPageSize(PageSize),
      FBuffer(static_cast<std::size_t>(PageSize), 0),
      FDiskMgr(DiskMgr),
      FGlobalHdr(GlobalHdr)
{
}

// ------------------------------------------------------ the buffered map page

void TMapPageMgr::ReadMapPage(Cardinal Address)
{
    // The buffer still holds the page as a read would give it, and nobody
    // else can have changed it since.
    if (FBufferCurrent && FBufferAddress == Address && FDiskMgr->HeaderKept())
        return;
    FBufferCurrent = false;
    FDiskMgr->ReadCustomSize(Address, FPageSize, 0, 0, FBuffer.data());
    FBufferAddress = Address;
    FBufferCurrent = true;
    const Integer id = CurrentMapPageID();
    if (id >= 0 && id < static_cast<Integer>(FGlobalHdr->MapPageCount())) {
        if (static_cast<std::size_t>(id) >= FMapAddresses.size())
            FMapAddresses.resize(static_cast<std::size_t>(id) + 1, 0);
        FMapAddresses[static_cast<std::size_t>(id)] = Address;
    }
}

void TMapPageMgr::WriteMapPage()
{
    BufferChanging();
    FDiskMgr->WriteCustomSize(FBufferAddress, FPageSize, 0, 0, FBuffer.data());
    FBufferCurrent = true;
}

void TMapPageMgr::ForgetBufferedPage()
{
    BufferChanging();
}

Word TMapPageMgr::Entry(Integer Index) const
{
    return ReadLE16(FBuffer.data() + MapPageHeaderSize + 2 * Index);
}

void TMapPageMgr::SetEntry(Integer Index, Word Value)
{
    BufferChanging();
    WriteLE16(FBuffer.data() + MapPageHeaderSize + 2 * Index, Value);
}

Integer TMapPageMgr::FirstFree() const
{
    return ReadLE16(FBuffer.data() + MapPageFirstFreeOffset);
}

Cardinal TMapPageMgr::NextMapPage() const
{
    return ReadLE32(FBuffer.data() + MapPageNextOffset);
}

Integer TMapPageMgr::CurrentMapPageID() const
{
    return static_cast<Integer>(ReadLE32(FBuffer.data() + MapPageIDOffset));
}

void TMapPageMgr::ForgetMapAddresses()
{
    FMapAddresses.clear();
    FBufferAddress = 0;
    BufferChanging();
}

// ----------------------------------------------------------- the map chain

void TMapPageMgr::CheckChainedMapPage(Integer ID, const char* Context)
{
    // Map page n holds n at its start and map pages are chained in id
    // order, so a link that leads back into the chain (which would make
    // every walk endless) or anywhere else shows as a wrong id.
    if (CurrentMapPageID() != ID)
        VekDatabaseError(diskerr::Corruption, Context,
                         Format("Map page %d expected at address %u, found id %d",
                                {ID, FBufferAddress, CurrentMapPageID()}),
                         this);
}

Cardinal TMapPageMgr::SearchMapsForMapPage(Integer ID)
{
    if (ID < 0) {
        ReadMapPage(FGlobalHdr->FirstMapPage());
        return FGlobalHdr->FirstMapPage();
    }
    if (ID >= static_cast<Integer>(FGlobalHdr->MapPageCount()))
        VekDatabaseError(diskerr::Internal, "TMapPageMgr.SearchMapsForMapPage", "Map Page pageno invalid", this);
    // Map pages never move once written, so their addresses are remembered;
    // one that no longer holds its id is looked up along the chain again.
    if (static_cast<std::size_t>(ID) < FMapAddresses.size() && FMapAddresses[ID] != 0) {
        const Cardinal known = FMapAddresses[ID];
        ReadMapPage(known);
        if (CurrentMapPageID() == ID)
            return known;
        FMapAddresses.clear();
    }
    // Walk from the nearest map page before it whose address is known.
    Integer id = std::min<Integer>(ID, static_cast<Integer>(FMapAddresses.size()) - 1);
    while (id > 0 && FMapAddresses[id] == 0)
        --id;
    Cardinal address = id > 0 ? FMapAddresses[id] : FGlobalHdr->FirstMapPage();
    id = std::max(id, 0);
    ReadMapPage(address);
    CheckChainedMapPage(id, "TMapPageMgr.SearchMapsForMapPage");
    while (id < ID) {
        address = NextMapPage();
        if (address == 0)
            VekDatabaseError(diskerr::Internal, "TMapPageMgr.SearchMapsForMapPage", "Map Page address invalid",
                             this);
        ReadMapPage(address);
        ++id;
        CheckChainedMapPage(id, "TMapPageMgr.SearchMapsForMapPage");
    }
    return address;
}

Cardinal TMapPageMgr::SearchMapsForFirstEmptyMapPage(Integer FromID)
{
    for (Integer id = FromID; id < static_cast<Integer>(FGlobalHdr->MapPageCount()); ++id) {
        const Cardinal address = SearchMapsForMapPage(id);
        if (FirstFree() != 0)
            return address;
    }
    return 0;
}

Cardinal TMapPageMgr::AddNewMapPage()
{
    const Cardinal id = FGlobalHdr->MapPageCount();
    std::vector<Byte> page(static_cast<std::size_t>(FPageSize), 0);
    WriteLE32(page.data() + MapPageIDOffset, id);
    // The page first, then the link to it: a failure in between leaves an
    // unused page at the end of the file, never a link to nothing.
    const Cardinal address = FDiskMgr->AppendNewPages(page.data(), 1, 0, 0);
    SearchMapsForMapPage(static_cast<Integer>(id) - 1);
    BufferChanging();
    WriteLE32(FBuffer.data() + MapPageNextOffset, address);
    WriteMapPage();
    FGlobalHdr->SetMapPageCount(id + 1);
    if (FMapAddresses.size() <= id)
        FMapAddresses.resize(id + 1, 0);
    FMapAddresses[id] = address;
    return address;
}

// --------------------------------------------------------------- free chains

void TMapPageMgr::CheckChainOffset(Integer Offset) const
{
    if (Offset < MapPageHeaderSize || Offset >= MapPageHeaderSize + 2 * FEntriesPerMap || (Offset & 1) != 0)
        VekDatabaseError(diskerr::Internal, "TMapPageMgr.FindEmptyPagesInMap", SInvalidSegment,
                         const_cast<TMapPageMgr*>(this));
}

Integer TMapPageMgr::FindEmptyPagesInMap(Integer Count)
{
    // link: the position holding the offset of the entry being looked at (the
    // first-free field, or the previous chain entry).
    Integer link = MapPageFirstFreeOffset;
    Integer runLink = link;
    Integer runStart = 0;
    Integer runLength = 0;
    Integer previous = 0;
    Integer steps = 0;
    for (Integer offset = FirstFree(); offset != 0;) {
        CheckChainOffset(offset);
        const Word value = ReadLE16(FBuffer.data() + offset);
        if ((value & MapEntryFree) == 0 || ++steps > FEntriesPerMap)
            VekDatabaseError(diskerr::Internal, "TMapPageMgr.FindEmptyPagesInMap", SInvalidSegment, this);
        if (runLength > 0 && offset == previous + 2) {
            ++runLength;
        } else {
            runStart = offset;
            runLength = 1;
            runLink = link;
        }
        const Word next = value & static_cast<Word>(~MapEntryFree);
        if (runLength == Count) {
            BufferChanging();
            if (runLink == MapPageFirstFreeOffset)
                WriteLE16(FBuffer.data() + runLink, next);
            else
                WriteLE16(FBuffer.data() + runLink, static_cast<Word>(MapEntryFree | next));
            return (runStart - MapPageHeaderSize) / 2;
        }
        previous = offset;
        link = offset;
        offset = next;
    }
    return -1;
}

void TMapPageMgr::OrderEmptySegments()
{
    BufferChanging();
    WriteLE16(FBuffer.data() + MapPageFirstFreeOffset, 0);
    Integer last = -1;
    for (Integer i = 0; i < FEntriesPerMap; ++i) {
        if ((Entry(i) & MapEntryFree) == 0)
            continue;
        const Word offset = static_cast<Word>(MapPageHeaderSize + 2 * i);
        if (last < 0)
            WriteLE16(FBuffer.data() + MapPageFirstFreeOffset, offset);
        else
            SetEntry(last, static_cast<Word>(MapEntryFree | offset));
        last = i;
    }
    if (last >= 0)
        SetEntry(last, MapEntryFree);
}

// ----------------------------------------------------------------- allocation

Int64 TMapPageMgr::FindEmptyPages(Integer Count)
{
    ORVEX_ASSERT(Count > 0, "Page request count must be positive");
    // No map page before FirstMapPageEmpty has a free entry, and none at all
    // when it is 0.
    const Cardinal first = FGlobalHdr->FirstMapPageEmpty();
    if (first == 0 || Count > FEntriesPerMap)
        return -1;
    ReadMapPage(first);
    const Integer firstID = CurrentMapPageID();
    if (firstID < 0 || firstID >= static_cast<Integer>(FGlobalHdr->MapPageCount()))
        VekDatabaseError(diskerr::Internal, "TMapPageMgr.FindEmptyPages", "Illegal map page address", this);
    const Integer entry = FindEmptyPagesInMap(Count);
    if (entry >= 0) {
        WriteMapPage();
        return PageAddress(firstID, entry);
    }
    return SearchMapsForEmptyPages(Count, firstID + 1);
}

Int64 TMapPageMgr::SearchMapsForEmptyPages(Integer Count, Integer FromID)
{
    const Integer count = static_cast<Integer>(FGlobalHdr->MapPageCount());
    if (FromID >= count)
        return -1;
    SearchMapsForMapPage(FromID);
    for (Integer id = FromID;;) {
        const Integer entry = FindEmptyPagesInMap(Count);
        if (entry >= 0) {
            WriteMapPage();
            return PageAddress(id, entry);
        }
        if (++id >= count)
            return -1;
        const Cardinal next = NextMapPage();
        if (next == 0)
            VekDatabaseError(diskerr::Internal, "TMapPageMgr.SearchMapsForEmptyPages", "Illegal map page address",
                             this);
        ReadMapPage(next);
        CheckChainedMapPage(id, "TMapPageMgr.SearchMapsForEmptyPages");
    }
}

Cardinal TMapPageMgr::GetNextEmptyPageAddress(Integer Count)
{
    const Int64 address = FindEmptyPages(Count);
    return address < 0 ? 0 : static_cast<Cardinal>(address);
}

void TMapPageMgr::SetMapEntriesInPage(Word Value, Cardinal Address, Integer Count)
{
    const Cardinal pageNo = Address >> FPageShift;
    const Integer mapID = static_cast<Integer>(pageNo / static_cast<Cardinal>(FEntriesPerMap));
    const Integer first = static_cast<Integer>(pageNo % static_cast<Cardinal>(FEntriesPerMap));
    const bool freeing = (Value & MapEntryFree) != 0;
    const Integer mapCount = static_cast<Integer>(FGlobalHdr->MapPageCount());
    if (Count <= 0 || first + Count > FEntriesPerMap || (Address & (FPageSize - 1)) != 0 ||
        (freeing ? mapID >= mapCount : mapID > mapCount))
        VekDatabaseError(diskerr::Internal, "TMapPageMgr.SetMapEntryFlags", SMapCorrupted, this);
    if (!freeing && mapID == mapCount)
        FAddedMapPages.push_back(AddNewMapPage());

    const Cardinal mapAddress = SearchMapsForMapPage(mapID);
    for (Integer i = first; i < first + Count; ++i)
        SetEntry(i, freeing ? MapEntryFree : Value);
    OrderEmptySegments();
    WriteMapPage();

    // Keep FirstMapPageEmpty on the first map page with a free entry.
    const Cardinal firstEmpty = FGlobalHdr->FirstMapPageEmpty();
    if (FirstFree() == 0) {
        if (firstEmpty == mapAddress)
            FGlobalHdr->SetFirstMapPageEmpty(SearchMapsForFirstEmptyMapPage(mapID + 1));
    } else if (firstEmpty == 0 || firstEmpty > mapAddress) {
        FGlobalHdr->SetFirstMapPageEmpty(mapAddress);
    }
}

void TMapPageMgr::MarkAddedMapPages()
{
    if (FMarking)
        return;
    FMarking = true;
    try {
        // Marking one may need another map page; that one is marked in turn.
        while (!FAddedMapPages.empty()) {
            const Cardinal address = FAddedMapPages.front();
            FAddedMapPages.erase(FAddedMapPages.begin());
            SetMapEntriesInPage(MapPageTypeMap, address, 1);
        }
    } catch (...) {
        FMarking = false;
        FAddedMapPages.clear();
        throw;
    }
    FMarking = false;
}

void TMapPageMgr::SetMapEntryFlags(Word Value, Cardinal Address, Integer Count)
{
    try {
        SetMapEntriesInPage(Value, Address, Count);
    } catch (...) {
        FAddedMapPages.clear();
        throw;
    }
    MarkAddedMapPages();
}

void TMapPageMgr::AdjustMapPageFlags(Word Value, Cardinal Address, Integer Count)
{
    // Map pages added for the run are marked once the whole run is entered:
    // a run crossing several map pages adds them one after another, each at
    // the end of the file, before any of them needs a map page of its own.
    try {
        Int64 page = Address >> FPageShift;
        while (Count > 0) {
            const Integer inMap = FEntriesPerMap - static_cast<Integer>(page % FEntriesPerMap);
            const Integer part = std::min(Count, inMap);
            SetMapEntriesInPage(Value, static_cast<Cardinal>(page << FPageShift), part);
            page += part;
            Count -= part;
        }
    } catch (...) {
        FAddedMapPages.clear();
        throw;
    }
    MarkAddedMapPages();
}

Word TMapPageMgr::GetMapEntryFlags(Cardinal Address)
{
    const Cardinal pageNo = Address >> FPageShift;
    const Integer mapID = static_cast<Integer>(pageNo / static_cast<Cardinal>(FEntriesPerMap));
    if (mapID >= static_cast<Integer>(FGlobalHdr->MapPageCount()))
        return 0;
    const Integer index = static_cast<Integer>(pageNo % static_cast<Cardinal>(FEntriesPerMap));
    const bool kept = FDiskMgr->HeaderKept();
    if (FLookup.empty())
        FLookup.resize(LookupPages);
    TLookupPage& copy = FLookup[static_cast<std::size_t>(mapID) % LookupPages];
    if (kept && copy.ID == mapID && copy.Epoch == FLookupEpoch)
        return ReadLE16(copy.Bytes.data() + MapPageHeaderSize + 2 * index);
    SearchMapsForMapPage(mapID);
    if (kept && FBufferCurrent) {
        copy.ID = mapID;
        copy.Epoch = FLookupEpoch;
        copy.Bytes = FBuffer;
    }
    return Entry(index);
}

// --------------------------------------------------------------- owned pages

bool TMapPageMgr::MatchesOwner(Word Value, Integer Owner, Integer PageType, bool ByType) const
{
    if (Value == 0 || (Value & MapEntryFree) != 0)
        return false;
    return ByType ? Value == Owner * 16 + PageType : (Value >> 4) == Owner;
}

void TMapPageMgr::DeleteOwnedPages(Integer Owner, Integer PageType, std::vector<Cardinal>& List,
                                   bool ByType)
{
    Cardinal firstWithFree = 0;
    const Integer count = static_cast<Integer>(FGlobalHdr->MapPageCount());
    for (Integer id = 0; id < count; ++id) {
        const Cardinal address = SearchMapsForMapPage(id);
        bool changed = false;
        for (Integer i = 0; i < FEntriesPerMap; ++i) {
            if (!MatchesOwner(Entry(i), Owner, PageType, ByType))
                continue;
            SetEntry(i, MapEntryFree);
            List.push_back(PageAddress(id, i));
            changed = true;
        }
        if (changed) {
            OrderEmptySegments();
            WriteMapPage();
        }
        if (firstWithFree == 0 && FirstFree() != 0)
            firstWithFree = address;
    }
    FGlobalHdr->SetFirstMapPageEmpty(firstWithFree);
}

void TMapPageMgr::ListPagesUsedByOwner(Integer Owner, Integer PageType, std::vector<Cardinal>& List,
                                       bool ByType)
{
    const Integer count = static_cast<Integer>(FGlobalHdr->MapPageCount());
    for (Integer id = 0; id < count; ++id) {
        SearchMapsForMapPage(id);
        for (Integer i = 0; i < FEntriesPerMap; ++i)
            if (MatchesOwner(Entry(i), Owner, PageType, ByType))
                List.push_back(PageAddress(id, i));
    }
}

// --------------------------------------------------------------- diagnostics

bool TMapPageMgr::CheckConsistency(TStrings* List, Int64 FileEnd)
{
    bool ok = true;
    auto report = [&](const std::string& text) {
        ok = false;
        if (List)
            List->Add(text);
    };
    const Integer count = static_cast<Integer>(FGlobalHdr->MapPageCount());
    const Int64 filePages = FileEnd / FPageSize;
    bool freeSeen = false;
    bool firstEmptyFound = FGlobalHdr->FirstMapPageEmpty() == 0;
    for (Integer id = 0; id < count; ++id) {
        const Cardinal address = SearchMapsForMapPage(id);
        if (CurrentMapPageID() != id)
            report(Format("Map page %d at %u holds id %d", {id, address, CurrentMapPageID()}));
        if (address == FGlobalHdr->FirstMapPageEmpty()) {
            firstEmptyFound = true;
            if (freeSeen)
                report(Format("Map page %d is named first with free entries, an earlier one has some", {id}));
        }
        if (GetMapEntryFlags(address) != MapPageTypeMap)
            report(Format("Map page %d at %u is not marked as a map page", {id, address}));
        SearchMapsForMapPage(id);
        // The chain must hold exactly the free entries, ascending.
        Integer expected = -1;
        for (Integer i = 0; i < FEntriesPerMap && expected < 0; ++i)
            if (Entry(i) & MapEntryFree)
                expected = i;
        Integer offset = FirstFree();
        Integer steps = 0;
        while (offset != 0 || expected >= 0) {
            const Integer due = expected < 0 ? 0 : MapPageHeaderSize + 2 * expected;
            if (offset != due || ++steps > FEntriesPerMap) {
                report(Format("Map page %d: free chain reaches offset %d where %d is due", {id, offset, due}));
                break;
            }
            const Integer index = expected;
            const Integer from = expected + 1;
            expected = -1;
            for (Integer i = from; i < FEntriesPerMap && expected < 0; ++i)
                if (Entry(i) & MapEntryFree)
                    expected = i;
            offset = Entry(index) & static_cast<Word>(~MapEntryFree);
        }
        for (Integer i = 0; i < FEntriesPerMap; ++i) {
            const Int64 pageNo = Int64{id} * FEntriesPerMap + i;
            const Word value = Entry(i);
            if (pageNo < SystemAreaPages && value != MapPageTypeSystem)
                report(Format("System page %d is marked %d", {static_cast<Integer>(pageNo), value}));
            if (pageNo >= filePages && value != 0)
                report(Format("Page %d beyond the end of file is marked %d", {static_cast<Integer>(pageNo), value}));
        }
        freeSeen = freeSeen || FirstFree() != 0;
    }
    if (FGlobalHdr->FirstMapPageEmpty() == 0 && freeSeen)
        report("No map page is named first with free entries, but some have them");
    if (!firstEmptyFound)
        report(Format("The first map page with free entries, %u, is no map page", {FGlobalHdr->FirstMapPageEmpty()}));
    return ok;
}

void TMapPageMgr::DumpContents(TStrings* List)
{
    const Integer count = static_cast<Integer>(FGlobalHdr->MapPageCount());
    List->Add(Format("Map: %d map pages, first %u, first with free entries %u",
                     {count, FGlobalHdr->FirstMapPage(), FGlobalHdr->FirstMapPageEmpty()}));
    for (Integer id = 0; id < count; ++id) {
        const Cardinal address = SearchMapsForMapPage(id);
        Integer used = 0;
        Integer free = 0;
        for (Integer i = 0; i < FEntriesPerMap; ++i) {
            const Word value = Entry(i);
            if (value & MapEntryFree)
                ++free;
            else if (value != 0)
                ++used;
        }
        List->Add(Format("Map page %d at %u: next %u, first free %d, %d used, %d free",
                         {id, address, NextMapPage(), FirstFree(), used, free}));
    }
}

// ============================================================ request sizes

Integer GetBestPageRequestSize(Integer BlockSize, Integer PageSize)
{
    ORVEX_ASSERT(BlockSize > 0 && PageSize > 0, "Block and page sizes must be positive");
    const Integer first = (BlockSize + PageSize - 1) / PageSize * PageSize;
    if (PageSize >= BlockSize && first % BlockSize <= PageSize / 4)
        return first;
    Integer best = first;
    for (Integer candidate = first; candidate < 10 * first; candidate += PageSize)
        if (candidate % BlockSize < best % BlockSize)
            best = candidate;
    return best;
}

} // namespace orvex
