// TVekDataBase: file transactions with the attached datasets brought back
// in line after a rollback; the header lock; table and record locks by
// table ID and record address.

#include "dataset/vekDatabase.h"

#include "storage/vekDataUnitTables.h"

namespace orvex {

namespace {

constexpr Integer ErrNotConnected = 10113;
constexpr Integer ErrInTransaction = 10122;

} // namespace

// ---------------------------------------------------------- transactions

void TVekDataBase::StartTransaction()
{
    CheckConnected(false);
    FDiskMgr->DiskStartTransaction(FQueryActive && !FQueryMode);
}

void TVekDataBase::Commit()
{
    if (FDiskMgr && FDiskMgr->IsOpen()) {
        FDiskMgr->DiskCommit();
        // The end of a transaction gives back every lock, the header's too.
        FLocked = FLocked && FDiskMgr->HeaderLocked();
    }
}

void TVekDataBase::Rollback()
{
    if (FDiskMgr && FDiskMgr->IsOpen()) {
        FDiskMgr->DiskRollback();
        FLocked = FLocked && FDiskMgr->HeaderLocked();
    }
    RollbackDataSets();
    CancelDataSets();
    RefreshDataSets();
}

void TVekDataBase::RunMaintenance(const char* Context, bool Memory, const std::function<void()>& Body)
{
    if (FMaintenanceDepth > 0 || Memory || IsMemory() || !FConnected) {
        Body();
        return;
    }
    if (InTransaction())
        VekDatabaseError(ErrInTransaction, Context, "", this);
    // The engine's own transaction, never a query's read transaction.
    FDiskMgr->DiskStartTransaction(false);
    ++FMaintenanceDepth;
    try {
        Body();
        --FMaintenanceDepth;
        // A header lock the work took and still holds goes with the commit;
        // a commit that fails has given the file back as it was.
        Commit();
    } catch (...) {
        FMaintenanceDepth = 0;
        try {
            if (FDiskMgr && FDiskMgr->IsOpen() && FDiskMgr->IsTransactionActive())
                FDiskMgr->DiskRollback();
        } catch (...) {
            // The journal stays; the next connection rolls it back. The
            // work's own failure is the one to report.
        }
        FLocked = FLocked && FDiskMgr && FDiskMgr->IsOpen() && FDiskMgr->HeaderLocked();
        // What the open tables, the datasets and the system tables read
        // meanwhile is gone.
        try {
            // A table created meanwhile is gone from the file: its name is
            // free again.
            for (TDiskTableDefMgr* tables : {FSystemTableMgr.get(), FUserTableMgr.get()})
                if (tables)
                    tables->ForgetUnusedTableDefs();
            ReloadOpenTableHeaders();
            RollbackDataSets();
            CancelDataSets();
            RefreshDataSets();
            if (FSystemTables)
                FSystemTables->AfterRollback();
        } catch (...) {
        }
        throw;
    }
}

void TVekDataBase::ReloadOpenTableHeaders()
{
    for (TDiskTableDefMgr* tables : {FSystemTableMgr.get(), FUserTableMgr.get()}) {
        TTableHeaderMgr* headers = tables ? tables->TableHeaderMgr() : nullptr;
        if (!headers)
            continue;
        for (int i = 0; i < headers->Count(); ++i) {
            auto* header = static_cast<TTableHeader*>(headers->Items(i));
            try {
                header->ReadHeader();
            } catch (...) {
                // Unreadable now: at least it is no longer written back.
                header->SetDirty(false);
            }
        }
    }
}

bool TVekDataBase::InTransaction() const
{
    return FDiskMgr && FDiskMgr->IsOpen() && FDiskMgr->IsTransactionActive();
}

void TVekDataBase::ActivateQueryMode(bool Modifies)
{
    FQueryActive = true;
    FQueryMode = Modifies;
}

void TVekDataBase::CloseDataSets()
{
    // Closing may detach a dataset: walk a copy of the list.
    std::vector<TDataSet*> dataSets;
    for (int i = 0; i < DataSetCount(); ++i)
        dataSets.push_back(DataSets(i));
    for (TDataSet* dataSet : dataSets)
        dataSet->Close();
}

void TVekDataBase::RefreshDataSets()
{
    // The rollback has happened whatever a dataset makes of it: a dataset
    // that cannot show its data again goes to its first record, or stays.
    for (int i = 0; i < DataSetCount(); ++i) {
        TDataSet* dataSet = DataSets(i);
        if (!dataSet->Active())
            continue;
        try {
            auto* caches = dynamic_cast<IVekDataSetCaches*>(dataSet);
            if (!caches || !caches->RefreshNearest())
                dataSet->Refresh();
        } catch (...) {
            try {
                dataSet->First();
            } catch (...) {
            }
        }
    }
}

void TVekDataBase::CancelDataSets()
{
    for (int i = 0; i < DataSetCount(); ++i) {
        TDataSet* dataSet = DataSets(i);
        if (dataSet->State() == dsEdit || dataSet->State() == dsInsert)
            dataSet->Cancel();
    }
}

void TVekDataBase::RollbackDataSets()
{
    for (int i = 0; i < DataSetCount(); ++i)
        if (auto* caches = dynamic_cast<IVekDataSetCaches*>(DataSets(i)))
            caches->DumpInternalCaches();
}

// ------------------------------------------------------------------ locks

namespace {

// The disk manager of a connection to a file, for a lock on a file table.
TDiskMgr* LockDisk(TVekDataBase* DataBase, const char* Context)
{
    TDiskMgr* disk = DataBase->DiskMgr();
    if (!DataBase->Connected() || DataBase->IsMemory() || !disk || !disk->IsOpen())
        VekDatabaseError(ErrNotConnected, Context, "", DataBase);
    return disk;
}

} // namespace

bool TVekDataBase::LockTable(TTableDef* Def, Integer LockType)
{
    if (Def->Memory())
        return false;
    return LockDisk(this, "TVekDataBase.LockTable")->SetTableLock(Def->TableID(), LockType) != 0;
}

bool TVekDataBase::UnLockTable(TTableDef* Def)
{
    if (Def->Memory())
        return false;
    LockDisk(this, "TVekDataBase.UnLockTable")->ReleaseTableLock(Def->TableID());
    return true;
}

bool TVekDataBase::TableLockExists(TTableDef* Def, Integer LockType)
{
    if (Def->Memory())
        return false;
    return LockDisk(this, "TVekDataBase.TableLockExists")->QueryTableLockStatus(Def->TableID()) == LockType;
}

bool TVekDataBase::LockRecord(TTableDef* Def, Cardinal RecordID)
{
    if (Def->Memory())
        return false;
    return LockDisk(this, "TVekDataBase.LockRecord")->SetRecordLock(RecordID, Def->TableID()) != 0;
}

bool TVekDataBase::UnLockRecord(TTableDef* Def, Cardinal RecordID)
{
    if (Def->Memory())
        return false;
    LockDisk(this, "TVekDataBase.UnLockRecord")->ReleaseRecordLock(RecordID);
    return true;
}

bool TVekDataBase::RecordLockExists(TTableDef* Def, Cardinal RecordID)
{
    if (Def->Memory())
        return false;
    return LockDisk(this, "TVekDataBase.RecordLockExists")->QueryRecordLockStatus(RecordID) == VekLockWrite;
}

void TVekDataBase::SetLocked(bool Value)
{
    if (Value != FLocked && FDiskMgr && FDiskMgr->IsOpen()) {
        CheckConnected(false);
        if (Value)
            FDiskMgr->SetHeaderWriteLock();
        else
            FDiskMgr->ReleaseHeaderLock();
    }
    FLocked = Value;
}

} // namespace orvex
