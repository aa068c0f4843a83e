// TTableHeaderMgr: the table map of one group of tables and the headers open
// on it.

#include "storage/vekDataUnitTables.h"

#include "host/SysUtils.h"
#include "storage/vekByteOrder.h"
#include "storage/vekCommon.h"
#include "storage/vekConsts.h"
#include "storage/vekInterfaceUnit.h"

#include <memory>

namespace orvex {

TTableHeaderMgr::TTableHeaderMgr()
    : TCollection([](TCollection* Collection) -> TCollectionItem* { return new TTableHeader(Collection); })
{
}

// ------------------------------------------------------------------ map

Integer TTableHeaderMgr::MapTableID(Integer Position) const
{
    return static_cast<Integer>(ReadLE32(FMap.data() + Position * TableMapEntrySize));
}

Cardinal TTableHeaderMgr::MapHeaderAddress(Integer Position) const
{
    return ReadLE32(FMap.data() + Position * TableMapEntrySize + 4);
}

void TTableHeaderMgr::SetMapEntry(Integer Position, Integer TableID, Cardinal Address)
{
    Byte* entry = FMap.data() + Position * TableMapEntrySize;
    WriteLE32(entry, static_cast<Cardinal>(TableID));
    WriteLE32(entry + 4, Address);
}

TBaseIOInterface* TTableHeaderMgr::CheckedIOInterface(const char* Text) const
{
    ORVEX_ASSERT(FIOInterface != nullptr, Text);
    return FIOInterface;
}

void TTableHeaderMgr::InternalReadMap()
{
    CheckedIOInterface("InternalReadMap: IOInterface = nil")->ReadBlock(FBaseAddress, TableMapSize, FMap.data());
}

void TTableHeaderMgr::InternalWriteMap()
{
    CheckedIOInterface("InternalWriteMap: IOInterface = nil")->WriteBlock(FBaseAddress, TableMapSize, FMap.data());
}

bool TTableHeaderMgr::FindTableHeaderInMap(Integer TableID, Integer& Position) const
{
    // The used entries stand at the front; the first empty one ends the list.
    for (Integer i = 0; i < TableMapEntryCount && MapTableID(i) != 0; ++i) {
        if (MapTableID(i) == TableID) {
            Position = i;
            return true;
        }
    }
    return false;
}

Integer TTableHeaderMgr::AddTableHeaderToMap(Cardinal Address)
{
    // Mark the IDs in use, over every entry, so that an entry stranded behind
    // a gap keeps its ID too.
    std::array<bool, TableMapEntryCount> used{};
    Integer freeEntry = -1;
    for (Integer i = 0; i < TableMapEntryCount; ++i) {
        const Integer id = MapTableID(i);
        if (id == 0) {
            if (freeEntry < 0)
                freeEntry = i;
            continue;
        }
        if (id < FBaseTableID)
            continue;
        // The IDs come from the stored map: one beyond the map's range is damage.
        if (id - FBaseTableID >= TableMapEntryCount)
            VekDatabaseError(8451, "TTableHeaderMgr.AddTableHeaderToMap", "TableID out of range: " + IntToStr(id),
                             this);
        used[static_cast<std::size_t>(id - FBaseTableID)] = true;
    }
    Integer offset = 0;
    while (offset < TableMapEntryCount && used[static_cast<std::size_t>(offset)])
        ++offset;
    if (freeEntry < 0 || offset == TableMapEntryCount)
        VekDatabaseError(9601, "TTableHeaderMgr.AddTableHeaderToMap", "", this);
    const Integer tableID = FBaseTableID + offset;
    SetMapEntry(freeEntry, tableID, Address);
    InternalWriteMap();
    return tableID;
}

// ------------------------------------------------------------ operations

void TTableHeaderMgr::Open(TBaseIOInterface* IOInterface)
{
    if (FBaseAddress == 0)
        VekDatabaseError(8581, "TTableHeaderMgr.Open", "Base address of table header mapper has not been set", this);
    FIOInterface = IOInterface;
    InternalReadMap();
}

void TTableHeaderMgr::Close()
{
    for (int i = 0; i < Count(); ++i)
        if (Headers(i)->Dirty())
            Headers(i)->WriteHeader();
    Clear();
}

Integer TTableHeaderMgr::ReadHeaderSize(Cardinal Address)
{
    std::array<Byte, TableHeaderProbeSize> probe{};
    CheckedIOInterface("ReadHeaderSize: IOInterface = nil")->ReadBlock(Address, TableHeaderProbeSize, probe.data());
    return static_cast<Integer>(ReadLE32(probe.data() + thoHeaderSize));
}

Integer TTableHeaderMgr::AddTable(Integer IndexCount)
{
    InternalReadMap();
    if (MapTableID(TableMapEntryCount - 1) != 0)
        VekDatabaseError(9601, "TTableHeaderMgr.AddTable", "", this);

    const Integer size = CalcTableHeaderSize(IndexCount);
    // The free chain of header blocks may have moved under other connections.
    FIOInterface->SetFirstEmptyValid(false);
    std::vector<Byte> zeros(static_cast<std::size_t>(TableHeaderMaxSize), 0);
    const Cardinal address = FIOInterface->AllocateNewAddress(size, zeros.data());
    ORVEX_ASSERT(address != 0, "HeaderMgr. AddTable allocate = 0");

    const Integer tableID = AddTableHeaderToMap(address);

    TTableHeader header(this);
    header.SetHeaderSize(size);
    header.SetBaseAddress(address);
    header.SetIndexCount(static_cast<Cardinal>(IndexCount));
    header.SetTableID(static_cast<Cardinal>(tableID));
    header.WriteHeader();
    return tableID;
}

void TTableHeaderMgr::DeleteTable(Integer TableID)
{
    InternalReadMap();
    Integer position = 0;
    if (!FindTableHeaderInMap(TableID, position))
        VekDatabaseError(8579, "TTableHeaderMgr.DeleteTable", "Delete table", this);
    // An open header would later be written into the released block, which
    // another table's header may have taken by then.
    if (FindHdrItemByID(TableID))
        VekDatabaseError(8578, "TTableHeaderMgr.DeleteTable", "Delete table", this);

    const Cardinal address = MapHeaderAddress(position);
    const Integer size = ReadHeaderSize(address);
    CheckTableHeaderSize(size, "TTableHeaderMgr.DeleteTable", this);
    FIOInterface->SetFirstEmptyValid(false);
    FIOInterface->ReleaseBlock(address, size);

    // Close the gap: each following entry moves one place down, up to and
    // including the first empty one; the last entry is always cleared.
    for (Integer i = position; i < TableMapEntryCount - 1; ++i) {
        const Integer nextID = MapTableID(i + 1);
        SetMapEntry(i, nextID, MapHeaderAddress(i + 1));
        if (nextID == 0)
            break;
    }
    SetMapEntry(TableMapEntryCount - 1, 0, 0);
    InternalWriteMap();
}

TTableHeader* TTableHeaderMgr::OpenTable(Integer TableID)
{
    if (TTableHeader* open = FindHdrItemByID(TableID)) {
        open->SetUserCount(open->UserCount() + 1);
        return open;
    }
    InternalReadMap();
    Integer position = 0;
    if (!FindTableHeaderInMap(TableID, position))
        VekDatabaseError(8581, "TTableHeaderMgr.OpenTable",
                         "The TableID could not be found: " + IntToStr(TableID), this);

    const Cardinal address = MapHeaderAddress(position);
    const Integer size = ReadHeaderSize(address);
    // Built apart and listed only once read, so that a failure lists nothing.
    auto header = std::make_unique<TTableHeader>(this);
    header->SetHeaderSize(size);
    header->SetBaseAddress(address);
    header->SetTableID(static_cast<Cardinal>(TableID));
    header->ReadHeader();
    header->SetUserCount(1);
    header->SetDirty(false);
    header->SetCollection(this);
    return header.release();
}

void TTableHeaderMgr::CloseTable(TTableHeader* Header)
{
    if (!Header)
        VekDatabaseError(8581, "TTableHeaderMgr.CloseTable", "The requested object has not been assigned", this);
    Header->SetUserCount(Header->UserCount() - 1);
    if (Header->UserCount() > 0)
        return;
    if (Header->Dirty())
        Header->WriteHeader();
    delete Header;
}

TTableHeader* TTableHeaderMgr::FindHdrItemByID(Integer TableID) const
{
    for (int i = 0; i < Count(); ++i) {
        TTableHeader* header = Headers(i);
        // An item added without a size holds no ID yet.
        if (!header->HeaderBuf().empty() && static_cast<Integer>(header->TableID()) == TableID)
            return header;
    }
    return nullptr;
}

// ------------------------------------------------------------ diagnostics

void TTableHeaderMgr::DebugDumpAllHeaders(TStrings* Lines) const
{
    Lines->Add("Current Headers");
    for (int i = 0; i < Count(); ++i) {
        Lines->Add("Header Item index=" + IntToStr(i));
        Headers(i)->DebugDumpStatus(Lines);
    }
    Lines->Add("All Headers");
    bool endSeen = false;
    for (Integer i = 0; i < TableMapEntryCount; ++i) {
        const Integer id = MapTableID(i);
        if (id == 0) {
            endSeen = true;
        } else if (!endSeen) {
            Lines->Add(Format("Header MapPos=%d TableID=%d", {i, id}));
        } else {
            Lines->Add(Format("Eror. Found Table in map above 0 entry: ID = %d Addr=%d",
                              {id, MapHeaderAddress(i)}));
        }
    }
}

} // namespace orvex
