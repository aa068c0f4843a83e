// TMemoryTableDefMgr: the in-memory tables of a connection.

#include "storage/vekTableMgrUnit.h"

#include <vector>

namespace orvex {

TMemoryTableDefMgr::~TMemoryTableDefMgr()
{
    TMemoryTableDefMgr::Close();
}

void TMemoryTableDefMgr::Open()
{
    Close();
    if (!FMemoryInterface) {
        FMemoryInterface = std::make_unique<TMemoryIOInterface>();
        FMemoryInterface->SetBlockSize(DefaultIndexPageSize);
        FTableHeaderMgr = std::make_unique<TTableHeaderMgr>();
    }
    // The tables went with Close: a reopened manager starts from an empty
    // map.
    FMemoryInterface->Empty(true);
    const std::vector<Byte> map(static_cast<std::size_t>(TableMapSize), 0);
    FTableHeaderMgr->SetBaseAddress(FMemoryInterface->AllocateNewAddress(TableMapSize, map.data()));
    FTableHeaderMgr->SetBaseTableID(BaseTableID());
    FTableHeaderMgr->Open(FMemoryInterface.get());
}

void TMemoryTableDefMgr::Close()
{
    if (FTableHeaderMgr)
        for (int i = 0; i < TableDefCount(); ++i)
            CloseMasterDef(TableDefs(i), FTableHeaderMgr.get());
    TBaseTableDefMgr::Close();
    if (FTableHeaderMgr) {
        FTableHeaderMgr->Close();
        // Its blocks are let go when the manager opens again.
        FTableHeaderMgr->SetBaseAddress(0);
        FMemoryInterface->Close();
    }
}

TTableHeaderMgr* TMemoryTableDefMgr::RequireMap(const char* Context) const
{
    if (!FTableHeaderMgr || FTableHeaderMgr->BaseAddress() == 0)
        VekDatabaseError(8576, Context, "", nullptr);
    return FTableHeaderMgr.get();
}

Integer TMemoryTableDefMgr::CreateTableDef(const std::string& Name, TTableDef* Def)
{
    constexpr const char* Context = "TMemoryTableDefMgr.CreateTableDef";
    CreateMasterDef(Name, Def, true, RequireMap(Context), Context);
    return 0;
}

void TMemoryTableDefMgr::InitializeIndexInterface(TTableDef* /*Def*/) {}

Integer TMemoryTableDefMgr::OpenTableDefConnection(const std::string& Name, TTableDef* Def)
{
    const int position = IndexOfTableName(Name);
    if (position < 0)
        VekDatabaseError(8579, "TMemoryTableDefMgr.OpenTableDefConnection", Name, nullptr);
    TTableDef* master = TableDefs(position);
    if (!master->Active()) {
        if (!master->TableHeader())
            master->SetTableHeader(FTableHeaderMgr->OpenTable(master->TableID()));
        master->InternalOpen(nullptr);
    }
    // The master is the table: the caller's definition is its copy.
    Def->Assign(master);
    Def->SetOwnerFlag(master->OwnerFlag());
    ShareStorage(master, Def);
    master->SetUserCount(master->UserCount() + 1);
    return 0;
}

Integer TMemoryTableDefMgr::CloseTableDefConnection(Integer TableID)
{
    TTableDef* master = RequireMasterDef(TableID, "MemoryTableDefMgr.CloseTableDefConnection");
    if (master->UserCount() > 0)
        master->SetUserCount(master->UserCount() - 1);
    return 0;
}

Integer TMemoryTableDefMgr::DeleteTableDef(const std::string& /*Name*/, TTableDef* Def)
{
    constexpr const char* Context = "TMemoryTableDefMgr.DeleteTableDef";
    DeleteMasterDef(Def, RequireMap(Context), Context);
    return 0;
}

Integer TMemoryTableDefMgr::RestructureTableDef(TTableDef* Def, const TInternalRestructureRecord& /*Restructure*/)
{
    VekDatabaseError(10766, "TMemoryTableDefMgr.RestructureTableDef", Def->TableName(), nullptr);
}

} // namespace orvex
