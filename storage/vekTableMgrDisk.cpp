// TDiskTableDefMgr: the tables of one table map in the database file.
//
// Restructuring a connected table (RestructureTableDef) prepares its storage
// for the new layout; the caller then refills it:
// 1. the new auto-increment value and generators: the given ones where
//    flagged, else the header's;
// 2. when the fields or the indexes change so that data must move (added,
//    deleted, data change, data loss): the header takes the size for the
//    new index count, cleared completely when the fields change that way,
//    else keeping its contents; IndexCount := the new index count (at least
//    1, the hidden index of a table without indexes); TableID restored;
// 3. the three values go into the header;
// 4. when the fields change that way: the records and the blob chains are
//    freed;
// 5. when the fields or the indexes change that way: the old index trees are
//    freed and every index definition of Def gets a new empty root;
// 6. the header is written.

#include "storage/vekTableMgrUnit.h"

#include "storage/vekCommon.h"
#include "storage/vekDisk.h"
#include "storage/vekTableMgrPages.h"

#include <utility>
#include <vector>

namespace orvex {

namespace {

// Whether a change status asks for the data to move.
bool DataMoves(TDefChangeType Status)
{
    return Status >= dcAdded;
}

} // namespace

TDiskTableDefMgr::~TDiskTableDefMgr()
{
    try {
        TDiskTableDefMgr::Close();
    } catch (...) {
        // A destructor cannot report: a header that could not be written
        // stays as the file has it.
    }
}

void TDiskTableDefMgr::InternalInitHeaderMgr()
{
    constexpr const char* Context = "TDiskTableDefMgr.InternalInitHeaderMgr";
    if (!FHdrDiskInterface)
        VekDatabaseError(8579, Context, "", nullptr);
    if (FBaseDefMgrAddress == 0)
        VekDatabaseError(8576, Context, "", nullptr);
    if (!FTableHeaderMgr)
        FTableHeaderMgr = std::make_unique<TTableHeaderMgr>();
    FTableHeaderMgr->SetBaseAddress(FBaseDefMgrAddress);
    FTableHeaderMgr->SetBaseTableID(BaseTableID());
    FTableHeaderMgr->Open(FHdrDiskInterface);
}

void TDiskTableDefMgr::Open()
{
    Close();
    InternalInitHeaderMgr();
}

void TDiskTableDefMgr::Close()
{
    if (FTableHeaderMgr) {
        for (int i = 0; i < TableDefCount(); ++i)
            CloseMasterDef(TableDefs(i), FTableHeaderMgr.get());
        FTableHeaderMgr->Close();
    }
    TBaseTableDefMgr::Close();
}

TDiskMgr* TDiskTableDefMgr::DiskMgr() const
{
    return FHdrDiskInterface ? FHdrDiskInterface->DiskMgr() : nullptr;
}

TTableHeaderMgr* TDiskTableDefMgr::RequireMap(const char* Context) const
{
    if (!FTableHeaderMgr || !FTableHeaderMgr->IOInterface())
        VekDatabaseError(8576, Context, "", nullptr);
    return FTableHeaderMgr.get();
}

Integer TDiskTableDefMgr::CreateTableDef(const std::string& Name, TTableDef* Def)
{
    constexpr const char* Context = "TDiskTableDefMgr.CreateTableDef";
    TTableDef* master = CreateMasterDef(Name, Def, false, RequireMap(Context), Context);
    InitializeIndexInterface(master);
    return 0;
}

void TDiskTableDefMgr::InitializeIndexInterface(TTableDef* Def)
{
    TTableHeaderMgr* map = RequireMap("TDiskTableDefMgr.InitializeIndexInterface");
    TTableHeader* header = map->OpenTable(Def->TableID());
    try {
        TDiskIOInterface index;
        index.SetGlobalFirstEmptyOffset(TGlobalHdr::OfsIndexesFirstEmpty);
        index.SetDiskMgr(DiskMgr());
        index.SetFirstEmptyValid(false);
        index.SetBlockSize(DefaultIndexPageSize);
        index.SetUsage(IOUsageIndexPages);
        index.SetTableID(static_cast<Word>(Def->TableID()));
        index.SetAccessFlags(TableAccessFlags(Def->EncryptionLevel()));
        index.Open();
        WriteEmptyIndexRoots(index, *header, Def->InternalIndexDefs()->Count());
        header->WriteHeader();
        index.Close();
    } catch (...) {
        map->CloseTable(header);
        throw;
    }
    map->CloseTable(header);
}

Integer TDiskTableDefMgr::OpenTableDefConnection(const std::string& Name, TTableDef* Def)
{
    TTableHeaderMgr* map = RequireMap("TDiskTableDefMgr.OpenTableDefConnection");
    const int position = IndexOfTableName(Name);
    TTableDef* master;
    if (position < 0) {
        auto made = NewMasterDef(Def);
        made->SetTableHeader(map->OpenTable(Def->TableID()));
        master = AddMasterDef(std::move(made));
    } else {
        master = TableDefs(position);
    }
    if (!master->Active()) {
        if (!master->TableHeader())
            master->SetTableHeader(map->OpenTable(master->TableID()));
        master->InternalOpen(DiskMgr());
    }
    ShareStorage(master, Def);
    master->SetUserCount(master->UserCount() + 1);
    return 0;
}

Integer TDiskTableDefMgr::CloseTableDefConnection(Integer TableID)
{
    TTableDef* master = RequireMasterDef(TableID, "TDiskTableDefMgr.CloseTableDefConnection");
    master->SetUserCount(master->UserCount() - 1);
    if (master->UserCount() <= 0) {
        CloseMasterDef(master, FTableHeaderMgr.get());
        FreeMasterDef(IndexOfTableDef(TableID));
    }
    return 0;
}

void TDiskTableDefMgr::ForgetUnusedTableDefs()
{
    for (int i = TableDefCount() - 1; i >= 0; --i) {
        TTableDef* master = TableDefs(i);
        if (master->UserCount() > 0)
            continue;
        CloseMasterDef(master, FTableHeaderMgr.get());
        FreeMasterDef(i);
    }
}

Integer TDiskTableDefMgr::DeleteTableDef(const std::string& /*Name*/, TTableDef* Def)
{
    constexpr const char* Context = "TDiskTableDefMgr.DeleteTableDef";
    DeleteMasterDef(Def, RequireMap(Context), Context);
    return 0;
}

Integer TDiskTableDefMgr::RestructureTableDef(TTableDef* Def, const TInternalRestructureRecord& Restructure)
{
    constexpr const char* Context = "TDiskTableDefMgr.RestructureTableDef";
    if (Def->Memory())
        VekDatabaseError(8577, Context, "", nullptr);
    TTableHeader* header = Def->TableHeader();
    if (!header || !Def->IndexInterface() || !Def->RecordInterface())
        VekDatabaseError(8576, Context, Def->TableName(), nullptr);

    const TDefChangeType fieldStatus =
        Restructure.NewFieldDefs ? Restructure.NewFieldDefs->ChangeStatus() : dcNoChange;
    const TDefChangeType indexStatus =
        Restructure.NewIndexDefs ? Restructure.NewIndexDefs->ChangeStatus() : dcNoChange;
    const Integer newIndexCount =
        Restructure.NewIndexDefs ? Restructure.NewIndexDefs->Count() : Def->InternalIndexDefs()->Count();
    const Integer size = CalcTableHeaderSize(newIndexCount);

    const Cardinal autoInc =
        Restructure.ChangeAutoIncValue ? Restructure.AutoIncValue : header->RecordAutoIncVal();
    const Cardinal generator1 = Restructure.ChangeGenerator1 ? Restructure.Generator1 : header->Generator1();
    const Cardinal generator2 = Restructure.ChangeGenerator2 ? Restructure.Generator2 : header->Generator2();

    const bool fieldsMove = DataMoves(fieldStatus);
    const bool indexesMove = fieldsMove || DataMoves(indexStatus);
    // The old trees, read before the header changes.
    std::vector<std::pair<Cardinal, Integer>> oldTrees;
    if (indexesMove) {
        for (Integer i = 0; i < static_cast<Integer>(header->IndexCount()); ++i)
            oldTrees.emplace_back(header->IndexRoot(i), header->IndexDepth(i));
        header->ResetHeaderSize(size, fieldsMove);
        header->SetIndexCount(static_cast<Cardinal>(newIndexCount > 0 ? newIndexCount : 1));
        header->SetTableID(static_cast<Cardinal>(Def->TableID()));
    }
    header->SetRecordAutoIncVal(autoInc);
    header->SetGenerator1(generator1);
    header->SetGenerator2(generator2);

    if (fieldsMove) {
        Def->RecordInterface()->Empty(true);
        // The blob chains of the old records go with them.
        if (Def->BlobInterface())
            Def->BlobInterface()->Empty(true);
    }
    if (indexesMove) {
        TBaseIOInterface* index = Def->IndexInterface();
        for (const auto& [root, depth] : oldTrees)
            FreeIndexTree(*index, root, depth);
        index->SetFirstEmpty(0);
        index->SetFirstEmptyValid(false);
        WriteEmptyIndexRoots(*index, *header, Def->InternalIndexDefs()->Count());
    }
    header->WriteHeader();
    return 0;
}

} // namespace orvex
