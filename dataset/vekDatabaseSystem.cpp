// The master and system tables of a file connection, and the one place where
// the connection's TVekSystemTables is chosen (NewSystemTables).
//
// A database file describes itself in engine tables whose names begin with
// "$":
// - "$MSTRTBLUSER" (table ID 1024) and "$MSTRTBLSYSTEM" (1025), the master
//   tables: a row per table, its name and its TTableDef in the textual object
//   form. Their own definitions are built in code on every connection.
// - "$SYSTBL_OBJECTIDREF" (a number per user table, from the generator
//   "$INTGEN_OBJID") and "$SYSTBL_INTGENERATOR" (named generators), in
//   databases whose header minor version number is above 1.
// - the four security tables of a secured database (see vekSecurity.h).
// The system tables are ordinary tables flagged internal: their definitions
// live in "$MSTRTBLSYSTEM" and their storage in the system table manager.
// Every change of a master or system table's rows runs under the
// connection's header lock; generators advance under their table's write
// lock.

#include "dataset/vekDatabase.h"

#include "dataset/vekDataSet.h"
#include "host/Streaming.h"
#include "host/SysUtils.h"

#include <algorithm>
#include <functional>
#include <map>
#include <memory>

namespace orvex {

namespace {

constexpr Integer ErrNotFound = 8579;
constexpr Integer ErrExists = 8580;
constexpr Integer ErrInternal = 8581;
constexpr Integer ErrKeySize = 9602;
constexpr Integer ErrNameRange = 9605;
constexpr Integer ErrNoSuchTable = 10024;
constexpr Integer ErrTableName = 10039;
constexpr Integer ErrGeneratorName = 10125;
constexpr Integer ErrPrivilege = 10624;
constexpr Integer ErrTableType = 10766;
constexpr Integer ErrTableExists = 13060;
constexpr Integer ErrReadOnly = 10501;

constexpr const char* HeaderNotLocked = "Database header not locked prior to system change";
constexpr const char* UnreadableDefinition = "Internal error - the table definition could not be read";
constexpr const char* GeneratorNameFmt =
    "'%s' is not a valid generator name (min. length 1, '$' is a reserved first character";

constexpr const char* UserMasterName = "$MSTRTBLUSER";
constexpr const char* SystemMasterName = "$MSTRTBLSYSTEM";
constexpr Integer UserMasterID = 1024;
constexpr Integer SystemMasterID = 1025;
// The highest table ID a table map entry holds.
constexpr Integer MaxTableID = 2047;
constexpr const char* MasterIndexName = "ixName";
constexpr Integer MasterBlobSize = 1024;

constexpr const char* ObjectIDTableName = "$SYSTBL_OBJECTIDREF";
constexpr const char* GeneratorTableName = "$SYSTBL_INTGENERATOR";
constexpr const char* GroupsTableName = "$SYSTBL_SECGROUPS";
constexpr const char* UsersTableName = "$SYSTBL_SECUSERS";
constexpr const char* ObjPrivTableName = "$SYSTBL_SECOBJPRIV";
constexpr const char* SysPrivTableName = "$SYSTBL_SECSYSPRIV";
constexpr const char* ObjectIDGenerator = "$INTGEN_OBJID";
constexpr Integer MaxGeneratorName = 20;
constexpr const char* AllFieldStandIn = "AllFields";

// Bits that mark a field's privileges as worked out (so that a field the
// group may not touch at all still differs from "not worked out").
constexpr Integer FieldPrivilegesSet = 0x40000000;

void CheckName(const std::string& Name, const char* Context, TObject* Sender)
{
    if (Name.empty() || static_cast<Integer>(Name.size()) > VekMaxObjectNameLength)
        VekDatabaseErrorFmt(ErrTableName, Context, SvekStringInvalidFmt, {Name, 1, VekMaxObjectNameLength},
                            Sender);
}

// Builds the definition of a master table in code: "AutoID" (auto-increment),
// "Name" (40 characters), "TableDef" (blob); one unique, case-insensitive
// index on "Name".
void SetMasterTableDef(TTableDef* Def, const std::string& Name, Integer TableID, bool Encrypted)
{
    TFieldDefs fields(nullptr);
    TIndexDefs indexes(nullptr);
    fields.Add("AutoID", ftAutoInc, 0, false);
    fields.Add("Name", ftString, VekMaxObjectNameLength, false);
    fields.Add("TableDef", ftBlob, 0, false);
    indexes.Add(MasterIndexName, "Name", ixUnique | ixPrimary | ixCaseInsensitive);
    TVekTableDefSettings settings;
    settings.TableName = Name;
    settings.BlobBlockSize = MasterBlobSize;
    settings.EncryptionLevel = Encrypted ? encStrong : encNone;
    VekSetTableDef(Def, false, &fields, &indexes, settings, "TVekDataBase.SetMasterTableDef", nullptr);
    for (int i = 0; i < Def->InternalIndexDefs()->Count(); ++i)
        if (Def->InternalIndexDefs()->GetItems(i)->MaximumKeySize() > VekMaxKeySize)
            VekDatabaseErrorFmt(ErrKeySize, "TVekDataBase.SetMasterTableDef", SvekValueInvalidFmt,
                                {Def->InternalIndexDefs()->GetItems(i)->IndexName()}, nullptr);
    Def->SetInternalTable(true);
    Def->SetOwnerFlag(0);
    Def->SetTableID(TableID);
}

bool IsMasterName(const std::string& Name)
{
    return SameText(Name, UserMasterName) || SameText(Name, SystemMasterName);
}

// Runs Body; when it fails, Undo runs (its own failure is swallowed) and the
// first failure is raised again.
template <class F, class U>
void WithUndo(F&& Body, U&& Undo)
{
    try {
        Body();
    } catch (...) {
        try {
            Undo();
        } catch (...) {
        }
        throw;
    }
}

// Holds the table's write lock for a scope.
class TTableLockScope {
public:
    explicit TTableLockScope(TVekTable* Table) : FTable(Table), FTaken(!Table->Locked())
    {
        if (FTaken)
            FTable->SetLocked(true);
    }
    ~TTableLockScope()
    {
        if (FTaken) {
            try {
                FTable->SetLocked(false);
            } catch (...) {
            }
        }
    }
    TTableLockScope(const TTableLockScope&) = delete;
    TTableLockScope& operator=(const TTableLockScope&) = delete;

private:
    TVekTable* FTable;
    bool FTaken;
};

class TMasterSystemTables : public TVekSystemTables {
public:
    explicit TMasterSystemTables(TVekDataBase* DataBase)
        : TVekSystemTables(DataBase), FSecurity(std::make_unique<TSecurityManager>())
    {
    }
    ~TMasterSystemTables() override
    {
        try {
            Close();
        } catch (...) {
        }
    }

    TSecurityManager* Security() const { return FSecurity.get(); }

    // ---------------------------------------------------------- creation

    void CreateTables() override
    {
        CheckHeaderLocked("TVekDataBase.CreateMasterTables");
        TVekDataBase* db = DataBase();
        // The master tables: their definitions are never stored, only
        // registered with the system table manager.
        for (const auto& [name, id] : {std::pair{UserMasterName, UserMasterID},
                                       std::pair{SystemMasterName, SystemMasterID}}) {
            TTableDef def(nullptr);
            SetMasterTableDef(&def, name, id, db->Encrypted());
            def.SetTableID(0);
            db->SystemTableMgr()->CreateTableDef(name, &def);
            if (def.TableID() != id)
                VekDatabaseError(ErrInternal, "TVekDataBase.CreateMasterTables",
                                 std::string("Unexpected table ID of ") + name, db);
        }
        FSystemMaster = OpenSystemTable(SystemMasterName, db);
        WithUndo(
            [&] {
                if (db->MinorVersion() > 1)
                    CreateSystemTables();
                if (db->DBDef().SecurityLevel() >= 2 && db->SecurityDataBase() == db)
                    CreateSecurityTables();
            },
            [&] { FSystemMaster.reset(); });
        FSystemMaster.reset();
    }

    // ------------------------------------------------- opening, closing

    void Open() override
    {
        TVekDataBase* db = DataBase();
        WithUndo(
            [&] {
                FUserMaster = OpenSystemTable(UserMasterName, db);
                if (db->MinorVersion() > 1) {
                    FSystemMaster = OpenSystemTable(SystemMasterName, db);
                    FObjectIDs = OpenSystemTable(ObjectIDTableName, db);
                    FObjectIDs->SetIndexName("ixObjectName");
                    FGenerators = OpenSystemTable(GeneratorTableName, db);
                    FGenerators->SetIndexName("ixGenName");
                }
                if (db->NeedSecurity()) {
                    TVekDataBase* securityDb = db->SecurityDataBase();
                    FGroups = OpenSystemTable(GroupsTableName, securityDb);
                    FUsers = OpenSystemTable(UsersTableName, securityDb);
                    FUsers->SetIndexName("ixUserName");
                    FObjPrivs = OpenSystemTable(ObjPrivTableName, securityDb);
                    FSysPrivs = OpenSystemTable(SysPrivTableName, securityDb);
                    FSecurity->Open(db, FUsers.get(), FObjectIDs.get(), FSysPrivs.get(), FObjPrivs.get(),
                                    FGroups.get());
                }
            },
            [&] { Close(); });
    }

    void AfterRollback() override
    {
        ForgetStoredDefs();
        for (TVekTable* table : {FUserMaster.get(), FSystemMaster.get(), FObjectIDs.get(), FGenerators.get(),
                                 FGroups.get(), FUsers.get(), FObjPrivs.get(), FSysPrivs.get()}) {
            if (!table || !table->Active())
                continue;
            try {
                if (table->State() == dsEdit || table->State() == dsInsert)
                    table->Cancel();
                table->DumpInternalCaches();
                table->RefreshNearest();
            } catch (...) {
                // The next use reads the table again under its lock.
            }
        }
    }

    void Close() override
    {
        ForgetStoredDefs();
        FSecurity->Close();
        // Closing order: identity and generators, security, then the masters.
        FObjectIDs.reset();
        FGenerators.reset();
        FSysPrivs.reset();
        FObjPrivs.reset();
        FUsers.reset();
        FGroups.reset();
        FSystemMaster.reset();
        FUserMaster.reset();
    }

    // ------------------------------------------------------ definitions

    void ReadTableDef(const std::string& Name, TTableDef* Def) override
    {
        const char* context = "TVekDataBase.InternalGetTableDef";
        if (Def->InternalTable() && IsMasterName(Name)) {
            const bool user = SameText(Name, UserMasterName);
            SetMasterTableDef(Def, user ? UserMasterName : SystemMasterName, user ? UserMasterID : SystemMasterID,
                              DataBase()->Encrypted());
            return;
        }
        const bool internal = Def->InternalTable();
        TVekTable* master = MasterFor(internal);
        if (!master)
            VekDatabaseError(ErrNoSuchTable, context, Name, DataBase());
        TStoredDefs& stored = FStoredDefs[internal ? 1 : 0];
        CheckStoredDefs(stored, master);
        if (auto found = stored.Defs.find(Name); found != stored.Defs.end()) {
            CopyStoredDef(*found->second, Def);
            return;
        }
        if (!FindName(master, Name))
            VekDatabaseError(ErrNoSuchTable, context, Name, DataBase());
        std::string text;
        try {
            text = master->FieldByName("TableDef")->AsString();
        } catch (const std::exception&) {
            VekDatabaseError(ErrInternal, context, UnreadableDefinition, DataBase());
        }
        if (text.empty())
            VekDatabaseError(ErrInternal, context, UnreadableDefinition, DataBase());
        try {
            ReadComponentText(text, Def);
        } catch (const EVekDatabaseError&) {
            throw;
        } catch (const std::exception&) {
            VekDatabaseError(ErrInternal, context, UnreadableDefinition, DataBase());
        }
        Def->SetInternalTable(internal);
        // The text is input like any other: it must describe the table of
        // its row, in the table map of its kind.
        const Integer firstID = internal ? SystemMasterID + 1 : 1;
        const Integer lastID = internal ? MaxTableID : UserMasterID - 1;
        if (!SameText(Def->TableName(), Name) || Def->Memory() || Def->TableID() < firstID ||
            Def->TableID() > lastID)
            VekDatabaseError(ErrInternal, context, UnreadableDefinition, DataBase());
        // Kept while the master table stays as it was read (the stamp was
        // taken before the row was read: a change meanwhile moves it on).
        auto kept = std::make_unique<TTableDef>(nullptr);
        CopyStoredDef(*Def, kept.get());
        stored.Defs[Name] = std::move(kept);
    }

    void WriteTableDef(const std::string& Name, TTableDef* Def, bool New) override
    {
        const char* context = "TVekDataBase.InternalUpdateTableDef";
        TVekDataBase* db = DataBase();
        const TForgetStoredDefs forget(this);
        CheckHeaderLocked(context);
        CheckWritable(context);
        CheckName(Def->TableName(), context, db);
        CheckName(Name, context, db);
        if (Def->Memory())
            VekDatabaseError(ErrTableType, context, SvekDBOperationCannotBePerformed, db);
        const bool internal = Def->InternalTable();
        TVekTable* master = MasterFor(internal);
        if (!master)
            VekDatabaseError(ErrInternal, context, "The master table is not open", db);
        const std::string oldName = Def->TableName();
        const bool renamed = !SameText(Name, oldName);
        if (!New && renamed && FindName(master, Name))
            VekDatabaseError(ErrTableExists, context, Name, db);
        const bool found = FindName(master, oldName);
        const bool identities = !internal && db->MinorVersion() > 1 && FObjectIDs && FGenerators;

        if (New) {
            if (found)
                VekDatabaseError(ErrTableExists, context, oldName, db);
            TBaseTableDefMgr* manager = db->GetTableDefMgr(Def);
            manager->CreateTableDef(oldName, Def);
            const Integer tableID = Def->TableID();
            // A table whose rows could not be stored is taken back whole.
            WithUndo(
                [&] {
                    const Integer objectID = identities ? InternalGetGenerator(ObjectIDGenerator, true) : 0;
                    master->Append();
                    PostOrCancel(master, [&] {
                        master->FieldByName("Name")->SetAsString(oldName);
                        master->FieldByName("TableDef")->SetAsString(WriteComponentText(Def));
                    });
                    if (identities)
                        WithUndo([&] { WriteObjectID(oldName, oldName, objectID); },
                                 [&] {
                                     if (FindName(master, oldName))
                                         master->Delete();
                                 });
                },
                [&] {
                    TTableDef gone(nullptr);
                    gone.Assign(Def);
                    gone.SetInternalTable(internal);
                    manager->DeleteTableDef(oldName, &gone);
                    db->DiskMgr()->DeleteOwnedPages(tableID, 0, false);
                    Def->SetTableID(tableID);
                });
            return;
        }

        if (!found)
            VekDatabaseError(ErrNoSuchTable, context, oldName, db);
        if (renamed)
            Def->SetTableName(Name);
        WithUndo(
            [&] {
                master->Edit();
                PostOrCancel(master, [&] {
                    master->FieldByName("Name")->SetAsString(Def->TableName());
                    master->FieldByName("TableDef")->SetAsString(WriteComponentText(Def));
                });
            },
            [&] { Def->SetTableName(oldName); });
        if (renamed) {
            // The shared master definition goes by the new name too, so that
            // opening the table under it shares the one master.
            TBaseTableDefMgr* manager = db->GetTableDefMgr(Def);
            const int index = manager->IndexOfTableDef(Def->TableID());
            if (index >= 0)
                manager->TableDefs(index)->SetTableName(Name);
            if (identities)
                WriteObjectID(oldName, Name, 0);
        }
    }

    void RemoveTableDef(TTableDef* Def) override
    {
        const char* context = "TVekDataBase.DeleteTable";
        TVekDataBase* db = DataBase();
        const TForgetStoredDefs forget(this);
        CheckHeaderLocked(context);
        CheckWritable(context);
        TVekTable* master = MasterFor(Def->InternalTable());
        if (!master || !FindName(master, Def->TableName()))
            VekDatabaseError(ErrInternal, context, "Unable to delete internal table definition: " + Def->TableName(),
                             db);
        master->Delete();
        if (!Def->InternalTable() && db->MinorVersion() > 1 && FObjectIDs) {
            FObjectIDs->SetIndexName("ixObjectName");
            if (FindName(FObjectIDs.get(), Def->TableName()))
                FObjectIDs->Delete();
        }
    }

    void GetTableNames(TStrings* List, bool System) override
    {
        TVekTable* master = MasterFor(System);
        if (!master)
            return;
        master->First();
        while (!master->Eof()) {
            List->Add(master->FieldByName("Name")->AsString().substr(0, VekMaxObjectNameLength));
            master->Next();
        }
    }

    bool TableExists(const std::string& Name) override
    {
        // The unique case-insensitive index finds the one row the name can
        // mean; the listing's comparison decides, as it would over the list.
        TVekTable* master = MasterFor(false);
        if (!master)
            return false;
        if (FStoredDefs[0].Defs.contains(Name) && CheckStoredDefs(FStoredDefs[0], master))
            return true;
        return FindName(master, Name) &&
               SameText(master->FieldByName("Name")->AsString().substr(0, VekMaxObjectNameLength), Name);
    }

    Integer GetObjectIDFromName(const std::string& Name) override
    {
        if (!FObjectIDs)
            return 0;
        FObjectIDs->SetIndexName("ixObjectName");
        if (!FindName(FObjectIDs.get(), Name))
            return 0;
        return FObjectIDs->FieldByName("ObjectID")->AsInteger();
    }

    // --------------------------------------------------------- security

    void Logon(const std::string& UserName, const std::string& Password) override
    {
        TVekDataBase* db = DataBase();
        FSecurity->Logon(UserName, Password, db->DataBaseName());
        TPrivileges* privileges = db->Privileges();
        privileges->ClearPrivileges();
        privileges->SetGroupName(FSecurity->GroupName());
        FSecurity->GetPrivileges(VekObjectTypeTable, "", privileges);
        // The database privileges: the group's system privilege bits.
        Integer flags = 0;
        for (int i = 0; i < privileges->SystemPrivileges()->Count(); ++i)
            flags |= MapSystemPrivTypeToConst(privileges->SystemPrivileges()->Items(i)->PrivilegeType());
        db->SetDatabasePrivileges(flags);
    }

    void CheckCanOpenDataObject(TTableDef* Def) override
    {
        if (!QueryObjectPrivilegeExists(VekObjectTypeTable, Def->TableName(), dpReadData))
            VekDatabaseError(ErrPrivilege, "TVekDataBase.InternalCheckCanOpenDataObject", Def->TableName(),
                             DataBase());
    }

    Integer GetTablePrivileges(TTableDef* Def) override
    {
        TInternalFields* fields = Def->InternalFields();
        if (FSecurity->IsAdministrator()) {
            for (int i = 0; i < fields->Count(); ++i)
                fields->GetIndex(i)->SetPrivilegeFlags(VekAllPrivileges);
            return VekAllPrivileges;
        }
        const Integer objectID = GetObjectIDFromName(Def->TableName());
        if (objectID == 0)
            VekDatabaseError(ErrNotFound, "TVekDataBase.InternalSetTablePrivileges", Def->TableName(), DataBase());
        TInternalObjPrivs* privs = FSecurity->InternalPrivileges()->ObjectPrivileges();
        const Integer target = NamesObject(privs, objectID) ? objectID : 0;
        Integer tableFlags = 0;
        std::vector<Integer> fieldFlags(static_cast<std::size_t>(fields->Count()), FieldPrivilegesSet);
        for (int t = opCreateObj; t < TObjectPrivilegeTypeCount; ++t) {
            const Integer bit = MapObjectPrivTypeToConst(static_cast<TObjectPrivilegeType>(t));
            TInternalObjPriv* priv = privs->FindPrivilege(target, bit);
            if (!priv)
                continue;
            tableFlags |= bit;
            for (int i = 0; i < fields->Count(); ++i) {
                const std::string id = IntToStr(fields->GetIndex(i)->FieldGeneratorID());
                if (priv->AllFields() || priv->FieldIDs()->IndexOf(id) >= 0)
                    fieldFlags[static_cast<std::size_t>(i)] |= bit;
            }
        }
        for (int i = 0; i < fields->Count(); ++i)
            fields->GetIndex(i)->SetPrivilegeFlags(fieldFlags[static_cast<std::size_t>(i)]);
        return tableFlags;
    }

    bool QueryObjectPrivilegeExists(Integer ObjectType, const std::string& ObjectName, Integer Privilege) override
    {
        const char* context = "TVekDataBase.QueryObjectPrivilegeExists";
        if (!FSecurity->Active() || !FSecurity->LoggedOn())
            return false;
        if (FSecurity->IsAdministrator())
            return true;
        // The table component asks with 2 for a table (see the notes).
        if (ObjectType != VekObjectTypeTable && ObjectType != 2)
            VekDatabaseError(ErrNotFound, context, ObjectName, DataBase());
        Integer objectID = 0;
        if (!ObjectName.empty() && ObjectName != "*" && !SameText(ObjectName, VekAllObjects)) {
            objectID = GetObjectIDFromName(ObjectName);
            if (objectID == 0)
                VekDatabaseError(ErrNotFound, context, ObjectName, DataBase());
        }
        TInternalObjPrivs* privs = FSecurity->InternalPrivileges()->ObjectPrivileges();
        const Integer target = objectID != 0 && NamesObject(privs, objectID) ? objectID : 0;
        if (!privs->CheckPrivilegeExists(target, Privilege))
            VekDatabaseError(ErrPrivilege, context, ObjectName, DataBase());
        return true;
    }

    // ------------------------------------------------------- generators

    void CreateGenerator(const std::string& Name, Integer InitialValue, Integer Step) override
    {
        const char* context = "TVekDataBase.CreateGenerator";
        CheckGeneratorName(Name, context);
        CheckWritable(context);
        TVekTable* table = Generators(context);
        TVekHeaderLockScope header(DataBase());
        TTableLockScope lock(table);
        if (FindGenerator(Name))
            VekDatabaseError(ErrExists, context, Name, DataBase());
        InsertGenerator(Name, InitialValue, Step);
    }

    Integer GetGeneratorValue(const std::string& Name, bool Peek) override
    {
        const char* context = "TVekDataBase.GetGeneratorValue";
        TVekTable* table = Generators(context);
        if (Peek) {
            if (!FindGenerator(Name))
                VekDatabaseError(ErrNotFound, context, Name, DataBase());
            return table->FieldByName("GeneratorValue")->AsInteger();
        }
        return InternalGetGenerator(Name, false);
    }

    Integer InternalGetGenerator(const std::string& Name, bool Create) override
    {
        const char* context = "TVekDataBase.InternalGetGenerator";
        CheckWritable(context);
        TVekTable* table = Generators(context);
        TTableLockScope lock(table);
        if (!FindGenerator(Name)) {
            if (!Create)
                VekDatabaseError(ErrNotFound, context, Name, DataBase());
            InsertGenerator(Name, 2, 1);
            return 1;
        }
        const Integer value = table->FieldByName("GeneratorValue")->AsInteger();
        table->Edit();
        PostOrCancel(table, [&] {
            const Integer step = table->FieldByName("GeneratorStep")->AsInteger();
            // Wraps like the 32-bit counter it is.
            const auto next = static_cast<Integer>(static_cast<Cardinal>(value) + static_cast<Cardinal>(step));
            table->FieldByName("GeneratorValue")->SetAsInteger(next);
        });
        return value;
    }

    void DeleteGenerator(const std::string& Name) override
    {
        const char* context = "TVekDataBase.DeleteGenerator";
        // The engine's own generators (the object IDs among them) stay.
        if (!Name.empty() && Name[0] == '$')
            VekDatabaseErrorFmt(ErrGeneratorName, context, GeneratorNameFmt, {Name}, DataBase());
        CheckWritable(context);
        TVekTable* table = Generators(context);
        TVekHeaderLockScope header(DataBase());
        TTableLockScope lock(table);
        if (FindGenerator(Name))
            table->Delete();
    }

    void GetGeneratorNames(TStrings* List) override
    {
        TVekTable* table = Generators("TVekDataBase.GetGeneratorNames");
        List->Clear();
        table->First();
        while (!table->Eof()) {
            const std::string name = table->FieldByName("GeneratorName")->AsString();
            if (name.empty() || name[0] != '$')
                List->Add(name);
            table->Next();
        }
    }

    bool QueryGenerator(const std::string& Name, Integer& Value, Integer& Step) override
    {
        TVekTable* table = Generators("TVekDataBase.QueryGenerator");
        if (!FindGenerator(Name))
            return false;
        Value = table->FieldByName("GeneratorValue")->AsInteger();
        Step = table->FieldByName("GeneratorStep")->AsInteger();
        return true;
    }

private:
    // A read-only connection changes nothing in the file.
    void CheckWritable(const char* Context)
    {
        if (DataBase()->ReadOnly())
            VekDatabaseError(ErrReadOnly, Context, "", DataBase());
    }

    void CheckHeaderLocked(const char* Context)
    {
        if (!DataBase()->Locked())
            VekDatabaseError(ErrInternal, Context, HeaderNotLocked, DataBase());
    }

    TVekTable* MasterFor(bool Internal) const { return Internal ? FSystemMaster.get() : FUserMaster.get(); }

    // What says a master table is still as its definitions were read: its
    // header's modification flag (every write of its rows moves it on, in
    // this connection or another) and the file's cache epoch (a rollback or
    // a recovered journal may bring back an older flag).
    struct TStoredDefsStamp {
        Cardinal ModifiedFlag = 0;
        Cardinal Epoch = 0;
        bool operator==(const TStoredDefsStamp&) const = default;
    };

    // The definitions read from one master table under one stamp, by the
    // name they were asked for. Held: the stamp was read under the master's
    // read lock inside the transaction of that serial, which keeps the lock
    // to its end.
    struct TStoredDefs {
        TStoredDefsStamp Stamp;
        bool Held = false;
        Cardinal TransactionSerial = 0;
        std::map<std::string, std::unique_ptr<TTableDef>> Defs;
    };

    // Forgets the stored definitions when it is made and again when it goes:
    // a definition read while this connection rewrites the master is not
    // kept past the rewrite.
    class TForgetStoredDefs {
    public:
        explicit TForgetStoredDefs(TMasterSystemTables* Owner) : FOwner(Owner) { FOwner->ForgetStoredDefs(); }
        ~TForgetStoredDefs() { FOwner->ForgetStoredDefs(); }
        TForgetStoredDefs(const TForgetStoredDefs&) = delete;
        TForgetStoredDefs& operator=(const TForgetStoredDefs&) = delete;

    private:
        TMasterSystemTables* FOwner;
    };

    // Whether the master's read lock is held by the running transaction
    // (which gives its locks back only at its end).
    bool MasterHeldByTransaction(TVekTable* Master) const
    {
        TDiskMgr* disk = DataBase()->DiskMgr();
        if (!disk || !disk->VekFile() || !disk->IsTransactionActive())
            return false;
        const Integer held = disk->QueryTableLockStatus(Master->TableDef()->TableID());
        return held == VekLockRead || held == VekLockWrite;
    }

    // Whether Stored's definitions still describe Master's rows; when they
    // may not, they are dropped and a fresh stamp is kept. Inside the
    // transaction that read the stamp under the master's read lock, held
    // since, no other connection can have written the master (a writer
    // needs that lock free) and this connection's own rewrites forget the
    // stored definitions: the stamp is not read again.
    bool CheckStoredDefs(TStoredDefs& Stored, TVekTable* Master) const
    {
        TVekFile* file = DataBase()->DiskMgr() ? DataBase()->DiskMgr()->VekFile() : nullptr;
        if (Stored.Held && MasterHeldByTransaction(Master) && Stored.TransactionSerial == file->TransactionSerial() &&
            Stored.Stamp.Epoch == file->CacheEpoch())
            return true;
        const TStoredDefsStamp stamp = MasterStamp(Master);
        const bool current = Stored.Stamp == stamp;
        if (!current) {
            Stored.Defs.clear();
            Stored.Stamp = stamp;
        }
        Stored.Held = MasterHeldByTransaction(Master);
        Stored.TransactionSerial = Stored.Held ? file->TransactionSerial() : 0;
        return current;
    }

    // The master table's stamp as the file has it now (its header read
    // under its read lock).
    TStoredDefsStamp MasterStamp(TVekTable* Master) const
    {
        TStoredDefsStamp stamp;
        Master->UnderReadLock([&] { stamp.ModifiedFlag = Master->TableDef()->TableHeader()->ModifiedFlag(); });
        TDiskMgr* disk = DataBase()->DiskMgr();
        stamp.Epoch = disk && disk->VekFile() ? disk->VekFile()->CacheEpoch() : 0;
        return stamp;
    }

    void ForgetStoredDefs()
    {
        for (TStoredDefs& stored : FStoredDefs) {
            stored.Defs.clear();
            stored.Stamp = {};
            stored.Held = false;
            stored.TransactionSerial = 0;
        }
    }

    // Everything the stored text of a definition gives, From into To.
    static void CopyStoredDef(const TTableDef& From, TTableDef* To)
    {
        To->Assign(const_cast<TTableDef*>(&From));
        To->SetOwnerFlag(From.OwnerFlag());
        To->SetLastModDate(From.LastModDate());
        To->SetSecurityLevel(From.SecurityLevel());
        To->SetInternalTable(From.InternalTable());
    }

    // A system table component of Db, open.
    static std::unique_ptr<TVekTable> OpenSystemTable(const std::string& Name, TVekDataBase* Db)
    {
        auto table = std::make_unique<TVekTable>(nullptr);
        table->TableDef()->SetInternalTable(true);
        table->SetDataBase(Db);
        table->SetTableName(Name);
        table->Open();
        return table;
    }

    // Moves Table to the row of Name on its current index (a
    // case-insensitive index on a 40-character name).
    static bool FindName(TVekTable* Table, const std::string& Name)
    {
        if (Name.empty() || static_cast<Integer>(Name.size()) > VekMaxObjectNameLength)
            return false;
        return Table->FindKey({Variant(Name)});
    }

    // Edits the identity row of OldName (or inserts one with ObjectID) so
    // that it names NewName.
    void WriteObjectID(const std::string& OldName, const std::string& NewName, Integer ObjectID)
    {
        TVekTable* table = FObjectIDs.get();
        table->SetIndexName("ixObjectName");
        if (FindName(table, OldName)) {
            table->Edit();
        } else {
            table->Append();
            table->FieldByName("ObjectID")->SetAsInteger(ObjectID);
        }
        PostOrCancel(table, [&] { table->FieldByName("ObjectName")->SetAsString(NewName); });
    }

    static bool NamesObject(TInternalObjPrivs* Privs, Integer ObjectID)
    {
        for (int i = 0; i < Privs->Count(); ++i)
            if (Privs->Items(i)->ObjectID() == ObjectID)
                return true;
        return false;
    }

    void CreateTableFromRSDefs(const std::string& Name, TRestructureFieldDefs* Fields,
                               TRestructureIndexDefs* Indexes, bool Encrypted,
                               const std::function<void(TTableDef*)>& Adjust = {})
    {
        TVekTable table(nullptr);
        table.TableDef()->SetInternalTable(true);
        table.SetDataBase(DataBase());
        table.SetTableName(Name);
        table.SetEncryptionLevel(Encrypted ? encStrong : encNone);
        table.SetTableDefFromRSDefs(false, Fields, Indexes);
        table.TableDef()->SetInternalTable(true);
        if (Adjust)
            Adjust(table.TableDef());
        DataBase()->CreateTable(table.TableDef(), false);
    }

    void CreateSystemTables()
    {
        CheckHeaderLocked("TVekDataBase.CreateSystemTables");
        const bool encrypted = DataBase()->Encrypted();
        {
            TRestructureFieldDefs fields;
            TRestructureIndexDefs indexes;
            fields.AddAndSetFieldDef("ObjectID", ftInteger, 0);
            fields.AddAndSetFieldDef("ObjectName", ftString, VekMaxObjectNameLength);
            indexes.AddAndSetIndexDef("ixObjectID", "ObjectID", ixUnique | ixCaseInsensitive);
            indexes.AddAndSetIndexDef("ixObjectName", "ObjectName", ixUnique | ixCaseInsensitive);
            CreateTableFromRSDefs(ObjectIDTableName, &fields, &indexes, encrypted);
        }
        {
            TRestructureFieldDefs fields;
            TRestructureIndexDefs indexes;
            fields.AddAndSetFieldDef("GeneratorName", ftString, MaxGeneratorName);
            fields.AddAndSetFieldDef("GeneratorValue", ftInteger, 0);
            fields.AddAndSetFieldDef("GeneratorStep", ftInteger, 0);
            fields.AddAndSetFieldDef("GeneratorResetValue", ftInteger, 0);
            indexes.AddAndSetIndexDef("ixGenName", "GeneratorName", ixUnique | ixCaseInsensitive);
            CreateTableFromRSDefs(GeneratorTableName, &fields, &indexes, encrypted);
        }
    }

    void CreateSecurityTables()
    {
        CheckHeaderLocked("TVekDataBase.CreateSecurityTables");
        const auto unique = ixUnique | ixCaseInsensitive;
        {
            TRestructureFieldDefs fields;
            TRestructureIndexDefs indexes;
            fields.AddAndSetFieldDef("GroupID", ftAutoInc, 0);
            fields.AddAndSetFieldDef("GroupName", ftString, VekMaxSecurityNameLength);
            indexes.AddAndSetIndexDef("ixGroupName", "GroupName", unique);
            indexes.AddAndSetIndexDef("ixGroupID", "GroupID", unique);
            CreateTableFromRSDefs(GroupsTableName, &fields, &indexes, true);
        }
        {
            TRestructureFieldDefs fields;
            TRestructureIndexDefs indexes;
            fields.AddAndSetFieldDef("UserID", ftAutoInc, 0);
            fields.AddAndSetFieldDef("UserName", ftString, VekMaxSecurityNameLength);
            for (int i = 0; i < 5; ++i)
                fields.AddAndSetFieldDef("Pwd" + IntToStr(i), ftInteger, 0);
            fields.AddAndSetFieldDef("GroupID", ftInteger, 0);
            fields.AddAndSetFieldDef("DateCreated", ftDateTime, 0);
            fields.AddAndSetFieldDef("DateLastModified", ftDateTime, 0);
            fields.AddAndSetFieldDef("DateLastPWordChange", ftDateTime, 0);
            indexes.AddAndSetIndexDef("ixUserName", "UserName", unique);
            indexes.AddAndSetIndexDef("ixGroupUsers", "GroupID;UserName", ixCaseInsensitive);
            indexes.AddAndSetIndexDef("ixPasswordAge", "DateLastPWordChange", ixCaseInsensitive);
            CreateTableFromRSDefs(UsersTableName, &fields, &indexes, true);
        }
        {
            TRestructureFieldDefs fields;
            TRestructureIndexDefs indexes;
            fields.AddAndSetFieldDef("GroupID", ftInteger, 0);
            fields.AddAndSetFieldDef("ObjectType", ftInteger, 0);
            fields.AddAndSetFieldDef("ObjectID", ftInteger, 0);
            fields.AddAndSetFieldDef("PrivilegeID", ftInteger, 0);
            // "ALL" is a reserved name for fields of user tables: the field
            // is built under another name and renamed in the definition.
            fields.AddAndSetFieldDef(AllFieldStandIn, ftBoolean, 0);
            fields.AddAndSetFieldDef("FieldsShort", ftString, VekMaxFieldsShortLength);
            fields.AddAndSetFieldDef("FieldsLong", ftMemo, 0);
            fields.AddAndSetFieldDef("GrantOption", ftBoolean, 0);
            indexes.AddAndSetIndexDef("ixGroupPriv", "GroupID;ObjectType;ObjectID;PrivilegeID", unique);
            CreateTableFromRSDefs(ObjPrivTableName, &fields, &indexes, true, [](TTableDef* Def) {
                Def->InternalFields()->FindField(AllFieldStandIn)->SetFieldName(VekAllObjects);
            });
        }
        {
            TRestructureFieldDefs fields;
            TRestructureIndexDefs indexes;
            fields.AddAndSetFieldDef("GroupID", ftInteger, 0);
            fields.AddAndSetFieldDef("PrivilegeID", ftInteger, 0);
            fields.AddAndSetFieldDef("GrantOption", ftBoolean, 0);
            indexes.AddAndSetIndexDef("ixGroupPriv", "GroupID;PrivilegeID", unique);
            CreateTableFromRSDefs(SysPrivTableName, &fields, &indexes, true);
        }
    }

    TVekTable* Generators(const char* Context)
    {
        if (!FGenerators)
            VekDatabaseError(ErrInternal, Context, "The generator table is not open", DataBase());
        return FGenerators.get();
    }

    bool FindGenerator(const std::string& Name)
    {
        if (Name.empty() || static_cast<Integer>(Name.size()) > MaxGeneratorName)
            return false;
        return FGenerators->FindKey({Variant(Name)});
    }

    void InsertGenerator(const std::string& Name, Integer Value, Integer Step)
    {
        FGenerators->Append();
        PostOrCancel(FGenerators.get(), [&] {
            FGenerators->FieldByName("GeneratorName")->SetAsString(Name);
            FGenerators->FieldByName("GeneratorValue")->SetAsInteger(Value);
            FGenerators->FieldByName("GeneratorResetValue")->SetAsInteger(Value);
            FGenerators->FieldByName("GeneratorStep")->SetAsInteger(Step);
        });
    }

    void CheckGeneratorName(const std::string& Name, const char* Context)
    {
        if (static_cast<Integer>(Name.size()) > MaxGeneratorName)
            VekDatabaseErrorFmt(ErrNameRange, Context, SvekStringInvalidFmt, {Name, 1, MaxGeneratorName},
                                DataBase());
        if (Name.empty() || Name[0] == '$')
            VekDatabaseErrorFmt(ErrGeneratorName, Context, GeneratorNameFmt, {Name}, DataBase());
    }

    std::unique_ptr<TSecurityManager> FSecurity;
    // The definitions read from the user master table [0] and the system
    // master table [1]: opening a table reads its definition from here
    // while its master table is unchanged.
    TStoredDefs FStoredDefs[2];
    std::unique_ptr<TVekTable> FUserMaster;
    std::unique_ptr<TVekTable> FSystemMaster;
    std::unique_ptr<TVekTable> FObjectIDs;
    std::unique_ptr<TVekTable> FGenerators;
    std::unique_ptr<TVekTable> FGroups;
    std::unique_ptr<TVekTable> FUsers;
    std::unique_ptr<TVekTable> FObjPrivs;
    std::unique_ptr<TVekTable> FSysPrivs;
};

} // namespace

std::unique_ptr<TVekSystemTables> TVekDataBase::NewSystemTables()
{
    return std::make_unique<TMasterSystemTables>(this);
}

TSecurityManager* TVekDataBase::SecurityManager()
{
    if (!FSystemTables)
        FSystemTables = NewSystemTables();
    auto* tables = dynamic_cast<TMasterSystemTables*>(FSystemTables.get());
    return tables ? tables->Security() : nullptr;
}

} // namespace orvex
