// TVekDataBase: tables by name (open, create, restructure, rename, delete,
// list), privileges and generators. Memory tables live in the connection's
// memory manager; the definitions of file tables are stored by the
// connection's system tables (TVekSystemTables).

#include "dataset/vekDatabase.h"

#include "host/DateUtils.h"
#include "host/SysUtils.h"
#include "storage/vekCommon.h"

namespace orvex {

namespace {

constexpr Integer ErrTableName = 10039;
constexpr Integer ErrTableDelete = 10053;
constexpr Integer ErrTableRename = 10119;
constexpr Integer ErrTableType = 10766;
constexpr Integer ErrPrivilege = 10624;
constexpr Integer ErrInTransaction = 10122;

// Object privilege constants asked for here.
constexpr Integer PrivDeleteObject = 4;
constexpr Integer PrivAlterObject = 16;

void CheckTableName(const std::string& Name, const char* Context, TObject* Sender)
{
    if (Name.empty() || static_cast<Integer>(Name.size()) > VekMaxObjectNameLength)
        VekDatabaseErrorFmt(ErrTableName, Context, SvekStringInvalidFmt, {Name, 1, VekMaxObjectNameLength},
                            Sender);
}

// Takes the header lock unless held; Release gives it back if taken here.
class THeaderLockScope {
public:
    explicit THeaderLockScope(TVekDataBase* DataBase) : FDataBase(DataBase), FTaken(!DataBase->Locked())
    {
        if (FTaken)
            FDataBase->SetLocked(true);
    }
    ~THeaderLockScope()
    {
        if (FTaken) {
            try {
                FDataBase->SetLocked(false);
            } catch (...) {
            }
        }
    }
    void Release()
    {
        if (FTaken) {
            FTaken = false;
            FDataBase->SetLocked(false);
        }
    }

private:
    TVekDataBase* FDataBase;
    bool FTaken;
};

// The structure of file tables does not change inside a transaction of the
// host; the engine's own maintenance runs its schema changes in one.
void CheckNoTransaction(TVekDataBase* DataBase, const char* Context)
{
    if (DataBase->InHostTransaction())
        VekDatabaseError(ErrInTransaction, Context, "", DataBase);
}

} // namespace

TBaseTableDefMgr* TVekDataBase::GetTableDefMgr(TTableDef* Def) const
{
    if (Def->Memory())
        return FMemoryTableMgr.get();
    if (Def->InternalTable())
        return FSystemTableMgr.get();
    return FUserTableMgr.get();
}

void TVekDataBase::OpenTable(const std::string& Name, TTableDef* Def)
{
    CheckConnected(Def->Memory());
    if (Def->Memory()) {
        FMemoryTableMgr->OpenTableDefConnection(Name, Def);
        Def->SetPrivilegeFlags(VekAllPrivileges);
        return;
    }
    FSystemTables->ReadTableDef(Name, Def);
    if (Def->InternalTable()) {
        FSystemTableMgr->OpenTableDefConnection(Name, Def);
        Def->SetPrivilegeFlags(VekAllPrivileges);
        return;
    }
    if (NeedSecurity())
        FSystemTables->CheckCanOpenDataObject(Def);
    FUserTableMgr->OpenTableDefConnection(Name, Def);
    Def->SetPrivilegeFlags(NeedSecurity() ? FSystemTables->GetTablePrivileges(Def) : VekAllPrivileges);
}

void TVekDataBase::QueryTableDef(const std::string& Name, bool Memory, TTableDef* Def)
{
    CheckConnected(Memory);
    if (Memory) {
        Def->SetMemory(true);
        FMemoryTableMgr->OpenTableDefConnection(Name, Def);
        FMemoryTableMgr->CloseTableDefConnection(Def->TableID());
        // Only the definition: the storage stays the manager's.
        Def->InternalClose();
        Def->SetTableHeader(nullptr);
        return;
    }
    FSystemTables->ReadTableDef(Name, Def);
}

void TVekDataBase::CloseTable(TTableDef* Def)
{
    GetTableDefMgr(Def)->CloseTableDefConnection(Def->TableID());
}

void TVekDataBase::InternalCreateTable(TTableDef* Def)
{
    CheckTableName(Def->TableName(), "TVekDataBase.InternalCreateTable", this);
    Def->SetVersion(VekEngineVersion);
    Def->SetOS(GetOSDetails());
    Def->SetCreationDate(Now());
    if (Def->CreatedBy().empty())
        Def->SetCreatedBy(GetCurrentUser());
    Def->SetLastModDate(Now());
    if (Def->Memory())
        FMemoryTableMgr->CreateTableDef(Def->TableName(), Def);
    else
        FSystemTables->WriteTableDef(Def->TableName(), Def, true);
}

void TVekDataBase::CreateTable(TTableDef* Def, bool Dump)
{
    CheckConnected(Def->Memory());
    if (Def->Memory()) {
        InternalCreateTable(Def);
        return;
    }
    CheckNoTransaction(this, "TVekDataBase.CreateTable");
    THeaderLockScope lock(this);
    InternalCreateTable(Def);
    // The definition dump beside the database.
    if (Dump && FSaveTableDefinitions)
        DumpTableDefinitions();
    lock.Release();
}

void TVekDataBase::UpdateTableDef(TTableDef* Def, const TInternalRestructureRecord& Restructure)
{
    CheckConnected(false);
    CheckNoTransaction(this, "TVekDataBase.UpdateTableDef");
    QueryOpenStatus(true, true);
    // The storage changes and the stored definition reach the file together,
    // or neither does.
    RunMaintenance("TVekDataBase.UpdateTableDef", false, [&] {
        THeaderLockScope lock(this);
        GetTableDefMgr(Def)->RestructureTableDef(Def, Restructure);
        Def->SetLastModDate(Now());
        FSystemTables->WriteTableDef(Def->TableName(), Def, false);
        lock.Release();
    });
}

void TVekDataBase::RenameTable(const std::string& OldName, const std::string& NewName)
{
    CheckConnected(false);
    CheckNoTransaction(this, "TVekDataBase.RenameTable");
    QueryOpenStatus(true, true);
    if (!QueryObjectPrivilegeExists(VekObjectTypeTable, OldName, PrivAlterObject))
        VekDatabaseError(ErrPrivilege, "TVekDataBase.RenameTable", OldName, this);
    THeaderLockScope lock(this);
    TTableDef def(nullptr);
    FSystemTables->ReadTableDef(OldName, &def);
    if (def.Memory())
        VekDatabaseError(ErrTableType, "TVekDataBase.RenameTable", OldName, this);
    if (GetTableDefMgr(&def)->CheckTableUserCount(OldName) > 0)
        VekDatabaseErrorFmt(ErrTableRename, "TVekDataBase.RenameTable", SvekTableInUseFmt, {OldName}, this);
    CheckTableName(NewName, "TVekDataBase.RenameTable", this);
    def.SetLastModDate(Now());
    FSystemTables->WriteTableDef(NewName, &def, false);
    lock.Release();
}

void TVekDataBase::DeleteTable(const std::string& Name, bool Memory)
{
    CheckConnected(Memory);
    TTableDef def(nullptr);
    def.SetMemory(Memory);
    if (Memory) {
        const int index = FMemoryTableMgr->IndexOfTableName(Name);
        if (index < 0)
            VekDatabaseError(10024, "TVekDataBase.DeleteTable", Name, this);
        if (FMemoryTableMgr->CheckTableUserCount(Name) > 0)
            VekDatabaseErrorFmt(ErrTableDelete, "TVekDataBase.DeleteTable", SvekTableInUseFmt, {Name}, this);
        def.Assign(FMemoryTableMgr->TableDefs(index));
        FMemoryTableMgr->DeleteTableDef(Name, &def);
        return;
    }
    CheckNoTransaction(this, "TVekDataBase.DeleteTable");
    CheckExclusive();
    if (!QueryObjectPrivilegeExists(VekObjectTypeTable, Name, PrivDeleteObject))
        VekDatabaseError(ErrPrivilege, "TVekDataBase.DeleteTable", Name, this);
    THeaderLockScope lock(this);
    FSystemTables->ReadTableDef(Name, &def);
    TBaseTableDefMgr* manager = GetTableDefMgr(&def);
    if (manager->CheckTableUserCount(Name) > 0)
        VekDatabaseErrorFmt(ErrTableDelete, "TVekDataBase.DeleteTable", SvekTableInUseFmt, {Name}, this);
    const Integer tableID = def.TableID();
    manager->DeleteTableDef(Name, &def);
    FDiskMgr->DeleteOwnedPages(tableID, 0, false);
    def.SetTableID(tableID);
    FSystemTables->RemoveTableDef(&def);
    lock.Release();
}

void TVekDataBase::GetTableNames(TStrings* List, bool Memory)
{
    const bool connectForCall = !FConnected && HasState(csDesigning);
    if (connectForCall)
        Open();
    try {
        CheckConnected(Memory);
        if (Memory)
            FMemoryTableMgr->GetCurrentTableNames(List);
        else
            FSystemTables->GetTableNames(List, false);
    } catch (...) {
        if (connectForCall)
            Close();
        throw;
    }
    if (connectForCall)
        Close();
}

void TVekDataBase::GetSystemTableNames(TStrings* List)
{
    CheckConnected(false);
    if (FMinorVersion > 1)
        FSystemTables->GetTableNames(List, true);
}

bool TVekSystemTables::TableExists(const std::string& Name)
{
    TStringList names;
    GetTableNames(&names, false);
    for (int i = 0; i < names.Count(); ++i)
        if (SameText(names.Strings(i), Name))
            return true;
    return false;
}

bool TVekDataBase::TableExists(const std::string& Name, bool Memory)
{
    if (!FConnected && !HasState(csDesigning))
        return false;
    if (Memory && !FConnected)
        return false;
    // Connected: asked of the manager or the master table by the name
    // itself, without listing every table.
    if (FConnected && Memory) {
        for (int i = 0; i < FMemoryTableMgr->TableDefCount(); ++i)
            if (SameText(FMemoryTableMgr->TableDefs(i)->TableName(), Name))
                return true;
        return false;
    }
    if (FConnected) {
        CheckConnected(false);
        return FSystemTables->TableExists(Name);
    }
    TStringList names;
    GetTableNames(&names, Memory);
    for (int i = 0; i < names.Count(); ++i)
        if (SameText(names.Strings(i), Name))
            return true;
    return false;
}

Integer TVekDataBase::InternalGetObjectIDFromName(const std::string& Name)
{
    CheckConnected(false);
    return FSystemTables->GetObjectIDFromName(Name);
}

bool TVekDataBase::QueryObjectPrivilegeExists(Integer ObjectType, const std::string& ObjectName,
                                              Integer Privilege)
{
    if (!NeedSecurity() || !FSystemTables)
        return true;
    return FSystemTables->QueryObjectPrivilegeExists(ObjectType, ObjectName, Privilege);
}

// ------------------------------------------------------------ generators

namespace {

void CheckGeneratorUse(TVekDataBase* DataBase)
{
    DataBase->CheckConnected(false);
    DataBase->CheckMinorVersion(2);
}

} // namespace

void TVekDataBase::CreateGenerator(const std::string& Name, Integer InitialValue, Integer Step)
{
    CheckGeneratorUse(this);
    FSystemTables->CreateGenerator(Name, InitialValue, Step);
}

Integer TVekDataBase::GetGeneratorValue(const std::string& Name, bool Peek)
{
    CheckGeneratorUse(this);
    return FSystemTables->GetGeneratorValue(Name, Peek);
}

Integer TVekDataBase::InternalGetGenerator(const std::string& Name, bool Create)
{
    CheckGeneratorUse(this);
    return FSystemTables->InternalGetGenerator(Name, Create);
}

void TVekDataBase::DeleteGenerator(const std::string& Name)
{
    CheckGeneratorUse(this);
    FSystemTables->DeleteGenerator(Name);
}

void TVekDataBase::GetGeneratorNames(TStrings* List)
{
    CheckGeneratorUse(this);
    FSystemTables->GetGeneratorNames(List);
}

bool TVekDataBase::QueryGenerator(const std::string& Name, Integer& Value, Integer& Step)
{
    CheckGeneratorUse(this);
    return FSystemTables->QueryGenerator(Name, Value, Step);
}

} // namespace orvex
