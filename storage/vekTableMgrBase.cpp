// TBaseTableDefMgr: the list of master definitions and what both managers
// do alike with it.

#include "storage/vekTableMgrUnit.h"

namespace orvex {

TBaseTableDefMgr::~TBaseTableDefMgr()
{
    TBaseTableDefMgr::Close();
}

void TBaseTableDefMgr::InitializeIndexInterface(TTableDef* /*Def*/) {}

Integer TBaseTableDefMgr::CreateTableDef(const std::string& /*Name*/, TTableDef* /*Def*/)
{
    return -1;
}

Integer TBaseTableDefMgr::CloseTableDefConnection(Integer /*TableID*/)
{
    return 0;
}

Integer TBaseTableDefMgr::OpenTableDefConnection(const std::string& /*Name*/, TTableDef* /*Def*/)
{
    return 0;
}

Integer TBaseTableDefMgr::DeleteTableDef(const std::string& /*Name*/, TTableDef* /*Def*/)
{
    return 0;
}

Integer TBaseTableDefMgr::RestructureTableDef(TTableDef* /*Def*/,
                                              const TInternalRestructureRecord& /*Restructure*/)
{
    return 0;
}

void TBaseTableDefMgr::Open() {}

void TBaseTableDefMgr::Close()
{
    // Masters are no longer masters once the manager lets them go, so that
    // they may be freed.
    while (!FTableDefs.empty())
        FreeMasterDef(TableDefCount() - 1);
}

int TBaseTableDefMgr::IndexOfTableName(const std::string& Name) const
{
    for (int i = 0; i < TableDefCount(); ++i)
        if (AnsiSameText(TableDefs(i)->TableName(), Name))
            return i;
    return -1;
}

int TBaseTableDefMgr::IndexOfTableDef(Integer TableID) const
{
    for (int i = 0; i < TableDefCount(); ++i)
        if (TableDefs(i)->TableID() == TableID)
            return i;
    return -1;
}

Integer TBaseTableDefMgr::CheckTableUserCount(const std::string& Name) const
{
    const int index = IndexOfTableName(Name);
    return index < 0 ? 0 : TableDefs(index)->UserCount();
}

void TBaseTableDefMgr::GetCurrentTableNames(TStrings* List) const
{
    for (int i = 0; i < TableDefCount(); ++i)
        List->Add(TableDefs(i)->TableName());
}

// ------------------------------------------------------------------ helpers

std::unique_ptr<TTableDef> TBaseTableDefMgr::NewMasterDef(TTableDef* Def)
{
    auto master = std::make_unique<TTableDef>(nullptr);
    master->Assign(Def);
    master->SetOwnerFlag(Def->OwnerFlag());
    master->SetMasterDef(true);
    return master;
}

TTableDef* TBaseTableDefMgr::AddMasterDef(std::unique_ptr<TTableDef> Master)
{
    FTableDefs.push_back(std::move(Master));
    return FTableDefs.back().get();
}

void TBaseTableDefMgr::FreeMasterDef(int Index)
{
    const auto position = FTableDefs.begin() + Index;
    (*position)->InternalClose();
    FTableDefs.erase(position);
}

TTableDef* TBaseTableDefMgr::RequireMasterDef(Integer TableID, const char* Context) const
{
    const int index = IndexOfTableDef(TableID);
    if (index < 0)
        VekDatabaseError(8579, Context, "", nullptr);
    return TableDefs(index);
}

void TBaseTableDefMgr::ShareStorage(TTableDef* Master, TTableDef* Def)
{
    Def->SetRecordInterface(Master->RecordInterface());
    Def->SetBlobInterface(Master->BlobInterface());
    Def->SetIndexInterface(Master->IndexInterface());
    Def->SetTableHeader(Master->TableHeader());
}

TTableDef* TBaseTableDefMgr::CreateMasterDef(const std::string& Name, TTableDef* Def, bool Memory,
                                             TTableHeaderMgr* Map, const char* Context)
{
    if (Def->Memory() != Memory)
        VekDatabaseError(8577, Context, "", nullptr);
    if (IndexOfTableName(Name) >= 0)
        VekDatabaseError(8580, Context, Name, nullptr);
    auto master = NewMasterDef(Def);
    // The table first: a full map leaves no master behind.
    const Integer tableID = Map->AddTable(Def->InternalIndexDefs()->Count());
    master->SetTableID(tableID);
    master->SetOwnerFlag(static_cast<Cardinal>(tableID) << 4);
    Def->SetTableID(tableID);
    return AddMasterDef(std::move(master));
}

void TBaseTableDefMgr::CloseMasterDef(TTableDef* Master, TTableHeaderMgr* Map)
{
    Master->InternalClose();
    if (Master->TableHeader()) {
        Map->CloseTable(Master->TableHeader());
        Master->SetTableHeader(nullptr);
    }
}

void TBaseTableDefMgr::DeleteMasterDef(TTableDef* Def, TTableHeaderMgr* Map, const char* Context)
{
    const int index = IndexOfTableDef(Def->TableID());
    if (index >= 0) {
        TTableDef* master = TableDefs(index);
        // The caller's own connection counts off; a refusal leaves the
        // count as it was.
        if (master->UserCount() - 1 > 0)
            VekDatabaseError(8578, Context, "", nullptr);
        CloseMasterDef(master, Map);
        FreeMasterDef(index);
    }
    Map->DeleteTable(Def->TableID());
    // The interfaces Def pointed at went with the master.
    Def->InternalClose();
    Def->SetTableHeader(nullptr);
    Def->SetTableID(0);
}

} // namespace orvex
