// TSecurityManager: users, groups and privileges of a secured database.

#include "dataset/vekSecurity.h"

#include "dataset/vekDataSet.h"
#include "host/DateUtils.h"
#include "host/SysUtils.h"

namespace orvex {

namespace {

constexpr Integer ErrNotFound = 8579;
constexpr Integer ErrExists = 8580;
constexpr Integer ErrInternal = 8581;
constexpr Integer ErrNameRange = 9605;
constexpr Integer ErrLogon = 10036;
constexpr Integer ErrInTransaction = 10122;
constexpr Integer ErrCannotEdit = 10123;
constexpr Integer ErrCannotDelete = 10124;
constexpr Integer ErrPrivilege = 10624;

constexpr const char* NotActive = "The security manager is not active";
constexpr const char* PasswordExpired = "The password has expired";

Variant IntKey(Integer Value)
{
    return Variant(static_cast<int>(Value));
}

// The rows of Table whose first key fields equal Key, on its current index.
template <class F>
void ForEachInRange(TVekTable* Table, const std::vector<Variant>& Key, F&& Body)
{
    Table->SetRange(Key, Key);
    try {
        Table->First();
        while (!Table->Eof())
            Body();
    } catch (...) {
        Table->CancelRange();
        throw;
    }
    Table->CancelRange();
}

// Deletes every row of Table whose first key fields equal Key.
void DeleteRange(TVekTable* Table, const std::vector<Variant>& Key)
{
    ForEachInRange(Table, Key, [&] { Table->Delete(); });
}

// Switches Table to IndexName for a scope, then back.
class TIndexScope {
public:
    TIndexScope(TVekTable* Table, const std::string& IndexName) : FTable(Table), FOld(Table->IndexName())
    {
        FTable->SetIndexName(IndexName);
    }
    ~TIndexScope()
    {
        try {
            FTable->SetIndexName(FOld);
        } catch (...) {
        }
    }
    TIndexScope(const TIndexScope&) = delete;
    TIndexScope& operator=(const TIndexScope&) = delete;

private:
    TVekTable* FTable;
    std::string FOld;
};

// Whether Table holds any row.
bool HasAnyRow(TVekTable* Table)
{
    Table->First();
    return !Table->Eof();
}

void LockTable(TVekTable* Table)
{
    if (!Table->Locked())
        Table->SetLocked(true);
}

void UnlockTable(TVekTable* Table)
{
    if (Table->Active() && Table->Locked())
        Table->SetLocked(false);
}

} // namespace

TSecurityManager::TSecurityManager() : FPrivileges(std::make_unique<TInternalPrivileges>()) {}

TSecurityManager::~TSecurityManager() = default;

void TSecurityManager::CheckOpen(const char* Context) const
{
    if (!FOpen)
        VekDatabaseError(ErrInternal, Context, NotActive, FDataBase);
}

bool TSecurityManager::IsAdministrator() const
{
    return FLoggedOn && SameText(FGroupName, VekAdministratorsGroup);
}

void TSecurityManager::CheckSystemPrivilege(TSystemPrivilegeType Privilege, const char* Context)
{
    CheckOpen(Context);
    if (!CheckIfLogonHasSystemPrivilege(Privilege))
        VekDatabaseError(ErrPrivilege, Context, "", FDataBase);
}

template <class F>
void TSecurityManager::InTransaction(F&& Body)
{
    TVekDataBase* db = FDataBase;
    db->StartTransaction();
    try {
        // The transaction's end gives the header lock back.
        if (!db->Locked())
            db->SetLocked(true);
        Body();
        db->Commit();
    } catch (...) {
        try {
            db->Rollback();
        } catch (...) {
        }
        // The tables forget what they read inside the transaction.
        for (TVekTable* table : {FGroups, FUsers, FObjPrivs, FSysPrivs}) {
            if (!table || !table->Active())
                continue;
            if (table->State() == dsEdit || table->State() == dsInsert)
                table->Cancel();
            table->DumpInternalCaches();
            try {
                table->Refresh();
            } catch (...) {
            }
        }
        throw;
    }
}

// ------------------------------------------------------------ life cycle

void TSecurityManager::Open(TVekDataBase* DataBase, TVekTable* Users, TVekTable* ObjectIDs, TVekTable* SysPrivs,
                            TVekTable* ObjPrivs, TVekTable* Groups)
{
    FDataBase = DataBase;
    FUsers = Users;
    FObjectIDs = ObjectIDs;
    FSysPrivs = SysPrivs;
    FObjPrivs = ObjPrivs;
    FGroups = Groups;
    FOpen = true;
}

void TSecurityManager::Close()
{
    Logoff();
    FOpen = false;
    FDataBase = nullptr;
    FUsers = FObjectIDs = FSysPrivs = FObjPrivs = FGroups = nullptr;
}

// ----------------------------------------------------------------- logon

TSha1Digest TSecurityManager::PasswordDigest(const std::string& Password)
{
    FSha1.Initialize();
    return FSha1.GetSHA1FromString(Password);
}

bool TSecurityManager::Logon(const std::string& UserName, const std::string& Password,
                             const std::string& DataBaseName)
{
    const char* context = "TSecurityManager.Logon";
    CheckOpen(context);
    if (!FUsers || !FGroups)
        VekDatabaseError(ErrInternal, context, "The security tables are not open", FDataBase);
    Logoff();
    if (!FindUser(UserName)) {
        // The bootstrap administrator exists only for a database that has
        // never had users: once there is a group or a user, the default
        // password opens nothing.
        if (UserName != VekAdministratorUser || FindGroup(VekAdministratorsGroup) || HasAnyRow(FGroups) ||
            HasAnyRow(FUsers))
            VekDatabaseError(ErrLogon, context, "", FDataBase);
        // The bootstrap administrator: made on first use, with the default
        // password; the password given is not checked this once.
        FUserName = VekAdministratorUser;
        FGroupName = VekAdministratorsGroup;
        FLoggedOn = true;
        try {
            AddGroup(VekAdministratorsGroup);
            AddUser(VekAdministratorUser, VekDefaultAdministratorPassword, VekAdministratorsGroup);
        } catch (...) {
            Logoff();
            throw;
        }
        FLoggedOn = false;
        if (!FindUser(UserName))
            VekDatabaseError(ErrLogon, context, "", FDataBase);
    } else if (!VerifyPassword(Password)) {
        VekDatabaseError(ErrLogon, context, "", FDataBase);
    }
    if (UserName != VekAdministratorUser && FPasswordExpiryPeriod >= 1 &&
        FUsers->FieldByName("DateLastPWordChange")->AsDateTime() + FPasswordExpiryPeriod < Now())
        VekDatabaseError(ErrLogon, context, PasswordExpired, FDataBase);
    FUserName = FUsers->FieldByName("UserName")->AsString();
    FGroupID = FUsers->FieldByName("GroupID")->AsInteger();
    FGroupName = GetGroupNameFromID(FGroupID);
    FDataBaseName = DataBaseName;
    FLoggedOn = true;
    InternalSetLogonPrivileges();
    return true;
}

void TSecurityManager::Logoff()
{
    FLoggedOn = false;
    FUserName.clear();
    FGroupName.clear();
    FGroupID = 0;
    FPrivileges->Clear();
}

void TSecurityManager::InternalSetLogonPrivileges()
{
    FPrivileges->Clear();
    if (IsAdministrator())
        return;
    TInternalObjPrivs* objPrivs = FPrivileges->ObjectPrivileges();
    ForEachInRange(FObjPrivs, {IntKey(FGroupID)}, [&] {
        TInternalObjPriv* priv = objPrivs->Add();
        priv->SetObjectType(FObjPrivs->FieldByName("ObjectType")->AsInteger());
        priv->SetObjectID(FObjPrivs->FieldByName("ObjectID")->AsInteger());
        priv->SetPrivilegeID(FObjPrivs->FieldByName("PrivilegeID")->AsInteger());
        priv->SetGrantOption(FObjPrivs->FieldByName("GrantOption")->AsBoolean());
        TField* shortList = FObjPrivs->FieldByName("FieldsShort");
        TField* longList = FObjPrivs->FieldByName("FieldsLong");
        const std::string ids = !shortList->IsNull() ? shortList->AsString()
                                : !longList->IsNull() ? longList->AsString()
                                                      : std::string();
        priv->SetFields(FObjPrivs->FieldByName("ALL")->AsBoolean(), ids);
        FObjPrivs->Next();
    });
    TInternalSysPrivs* sysPrivs = FPrivileges->SystemPrivileges();
    ForEachInRange(FSysPrivs, {IntKey(FGroupID)}, [&] {
        TInternalSysPriv* priv = sysPrivs->Add();
        priv->SetPrivilegeID(FSysPrivs->FieldByName("PrivilegeID")->AsInteger());
        priv->SetGrantOption(FSysPrivs->FieldByName("GrantOption")->AsBoolean());
        FSysPrivs->Next();
    });
    objPrivs->SetMasks();
    sysPrivs->SetMask();
}

bool TSecurityManager::VerifyPassword(const std::string& Password)
{
    const TSha1Digest digest = PasswordDigest(Password);
    const LongWord words[5] = {digest.H0, digest.H1, digest.H2, digest.H3, digest.H4};
    for (int i = 0; i < 5; ++i)
        if (static_cast<LongWord>(FUsers->FieldByName("Pwd" + IntToStr(i))->AsInteger()) != words[i])
            return false;
    return true;
}

// --------------------------------------------------------------- lookups

bool TSecurityManager::FindGroup(const std::string& Name)
{
    if (Name.empty() || static_cast<Integer>(Name.size()) > VekMaxSecurityNameLength)
        return false;
    // The groups and users tables stay on their name index after a lookup,
    // so that the found row stays current.
    FGroups->SetIndexName("ixGroupName");
    return FGroups->FindKey({Variant(Name)});
}

bool TSecurityManager::FindUser(const std::string& Name)
{
    if (Name.empty() || static_cast<Integer>(Name.size()) > VekMaxSecurityNameLength)
        return false;
    FUsers->SetIndexName("ixUserName");
    return FUsers->FindKey({Variant(Name)});
}

std::string TSecurityManager::GetUserGroupName(const std::string& UserName)
{
    CheckOpen("TSecurityManager.GetUserGroupName");
    if (!FindUser(UserName))
        VekDatabaseError(ErrNotFound, "TSecurityManager.GetUserGroupName", UserName, FDataBase);
    return GetGroupNameFromID(FUsers->FieldByName("GroupID")->AsInteger());
}

Integer TSecurityManager::GetGroupIDFromName(const std::string& Name)
{
    CheckOpen("TSecurityManager.GetGroupIDFromName");
    if (!FindGroup(Name))
        VekDatabaseError(ErrNotFound, "TSecurityManager.GetGroupIDFromName", Name, FDataBase);
    return FGroups->FieldByName("GroupID")->AsInteger();
}

std::string TSecurityManager::GetGroupNameFromID(Integer GroupID)
{
    CheckOpen("TSecurityManager.GetGroupNameFromID");
    TIndexScope index(FGroups, "ixGroupID");
    if (!FGroups->FindKey({IntKey(GroupID)}))
        VekDatabaseError(ErrNotFound, "TSecurityManager.GetGroupNameFromID", IntToStr(GroupID), FDataBase);
    return FGroups->FieldByName("GroupName")->AsString();
}

Integer TSecurityManager::GetObjectIDFromName(const std::string& Name)
{
    CheckOpen("TSecurityManager.GetObjectIDFromName");
    if (!FObjectIDs || Name.empty() || static_cast<Integer>(Name.size()) > VekMaxObjectNameLength)
        return 0;
    TIndexScope index(FObjectIDs, "ixObjectName");
    return FObjectIDs->FindKey({Variant(Name)}) ? FObjectIDs->FieldByName("ObjectID")->AsInteger() : 0;
}

std::string TSecurityManager::GetObjectNameFromID(Integer ObjectID)
{
    CheckOpen("TSecurityManager.GetObjectNameFromID");
    if (!FObjectIDs)
        return {};
    TIndexScope index(FObjectIDs, "ixObjectID");
    return FObjectIDs->FindKey({IntKey(ObjectID)}) ? FObjectIDs->FieldByName("ObjectName")->AsString()
                                                    : std::string();
}

void TSecurityManager::ValidateGroupName(const std::string& Name)
{
    const auto length = static_cast<Integer>(Name.size());
    if (length < FMinimumGroupNameLength || length > VekMaxSecurityNameLength)
        VekDatabaseErrorFmt(ErrNameRange, "TSecurityManager.ValidateGroupName", SvekStringInvalidFmt,
                            {Name, FMinimumGroupNameLength, VekMaxSecurityNameLength}, FDataBase);
}

void TSecurityManager::ValidateUserName(const std::string& Name)
{
    const auto length = static_cast<Integer>(Name.size());
    if (length < FMinimumUserNameLength || length > VekMaxSecurityNameLength)
        VekDatabaseErrorFmt(ErrNameRange, "TSecurityManager.ValidateUserName", SvekStringInvalidFmt,
                            {Name, FMinimumUserNameLength, VekMaxSecurityNameLength}, FDataBase);
}

// ------------------------------------------------------ groups and users

Integer TSecurityManager::AddGroup(const std::string& Name)
{
    const char* context = "TSecurityManager.AddGroup";
    CheckSystemPrivilege(spEditGroups, context);
    TVekHeaderLockScope lock(FDataBase);
    ValidateGroupName(Name);
    if (FindGroup(Name))
        VekDatabaseError(ErrExists, context, Name, FDataBase);
    FGroups->Append();
    PostOrCancel(FGroups, [&] { FGroups->FieldByName("GroupName")->SetAsString(Name); });
    return GetGroupIDFromName(Name);
}

void TSecurityManager::RenameGroup(const std::string& OldName, const std::string& NewName)
{
    const char* context = "TSecurityManager.RenameGroup";
    CheckSystemPrivilege(spEditGroups, context);
    // The administrators' group keeps its name, and no other group takes it:
    // membership of that name bypasses every privilege check.
    if (SameText(OldName, VekAdministratorsGroup) || SameText(NewName, VekAdministratorsGroup))
        VekDatabaseError(ErrCannotEdit, context, VekAdministratorsGroup, FDataBase);
    TVekHeaderLockScope lock(FDataBase);
    ValidateGroupName(NewName);
    if (!SameText(OldName, NewName) && FindGroup(NewName))
        VekDatabaseError(ErrExists, context, NewName, FDataBase);
    if (!FindGroup(OldName))
        VekDatabaseError(ErrNotFound, context, OldName, FDataBase);
    FGroups->Edit();
    PostOrCancel(FGroups, [&] { FGroups->FieldByName("GroupName")->SetAsString(NewName); });
}

void TSecurityManager::DeleteGroup(const std::string& Name)
{
    const char* context = "TSecurityManager.DeleteGroup";
    CheckSystemPrivilege(spEditGroups, context);
    if (SameText(Name, VekAdministratorsGroup))
        VekDatabaseError(ErrCannotDelete, context, VekAdministratorsGroup, FDataBase);
    if (!FindGroup(Name))
        VekDatabaseError(ErrNotFound, context, Name, FDataBase);
    if (FDataBase->InTransaction())
        VekDatabaseError(ErrInTransaction, context, "", FDataBase);
    InTransaction([&] {
        const Integer groupID = GetGroupIDFromName(Name);
        FGroups->Delete();
        for (TVekTable* table : {FObjPrivs, FSysPrivs, FUsers}) {
            LockTable(table);
            try {
                if (table == FUsers) {
                    TIndexScope index(FUsers, "ixGroupUsers");
                    DeleteRange(FUsers, {IntKey(groupID)});
                } else {
                    DeleteRange(table, {IntKey(groupID)});
                }
            } catch (...) {
                UnlockTable(table);
                throw;
            }
            UnlockTable(table);
        }
    });
}

void TSecurityManager::AddUser(const std::string& Name, const std::string& Password, const std::string& GroupName)
{
    const char* context = "TSecurityManager.AddUser";
    CheckSystemPrivilege(spEditUsers, context);
    TVekHeaderLockScope lock(FDataBase);
    ValidateUserName(Name);
    if (FindUser(Name))
        VekDatabaseError(ErrExists, context, Name, FDataBase);
    if (!FindGroup(GroupName))
        VekDatabaseError(ErrNotFound, context, GroupName, FDataBase);
    const Integer groupID = FGroups->FieldByName("GroupID")->AsInteger();
    const TSha1Digest digest = PasswordDigest(Password);
    const LongWord words[5] = {digest.H0, digest.H1, digest.H2, digest.H3, digest.H4};
    const TDateTime now = Now();
    FUsers->Append();
    PostOrCancel(FUsers, [&] {
        FUsers->FieldByName("UserName")->SetAsString(Name);
        FUsers->FieldByName("GroupID")->SetAsInteger(groupID);
        for (int i = 0; i < 5; ++i)
            FUsers->FieldByName("Pwd" + IntToStr(i))->SetAsInteger(static_cast<int>(words[i]));
        FUsers->FieldByName("DateCreated")->SetAsDateTime(now);
        FUsers->FieldByName("DateLastModified")->SetAsDateTime(now);
        FUsers->FieldByName("DateLastPWordChange")->SetAsDateTime(now);
    });
}

void TSecurityManager::DeleteUser(const std::string& Name)
{
    CheckSystemPrivilege(spEditUsers, "TSecurityManager.DeleteUser");
    TVekHeaderLockScope lock(FDataBase);
    if (FindUser(Name))
        FUsers->Delete();
}

void TSecurityManager::ChangeGroup(const std::string& UserName, const std::string& GroupName)
{
    const char* context = "TSecurityManager.ChangeGroup";
    CheckSystemPrivilege(spEditGroups, context);
    TVekHeaderLockScope lock(FDataBase);
    if (!FindGroup(GroupName))
        VekDatabaseError(ErrNotFound, context, GroupName, FDataBase);
    const Integer groupID = FGroups->FieldByName("GroupID")->AsInteger();
    if (!FindUser(UserName))
        VekDatabaseError(ErrNotFound, context, UserName, FDataBase);
    FUsers->Edit();
    PostOrCancel(FUsers, [&] {
        FUsers->FieldByName("GroupID")->SetAsInteger(groupID);
        FUsers->FieldByName("DateLastModified")->SetAsDateTime(Now());
    });
}

void TSecurityManager::ChangePassword(const std::string& UserName, const std::string& NewPassword)
{
    const char* context = "TSecurityManager.ChangePassword";
    CheckOpen(context);
    if (!IsAdministrator() && !(FLoggedOn && FUserName == UserName))
        CheckSystemPrivilege(spEditUsers, context);
    TVekHeaderLockScope lock(FDataBase);
    if (!FindUser(UserName))
        VekDatabaseError(ErrNotFound, context, UserName, FDataBase);
    const TSha1Digest digest = PasswordDigest(NewPassword);
    const LongWord words[5] = {digest.H0, digest.H1, digest.H2, digest.H3, digest.H4};
    const TDateTime now = Now();
    FUsers->Edit();
    PostOrCancel(FUsers, [&] {
        for (int i = 0; i < 5; ++i)
            FUsers->FieldByName("Pwd" + IntToStr(i))->SetAsInteger(static_cast<int>(words[i]));
        FUsers->FieldByName("DateLastModified")->SetAsDateTime(now);
        FUsers->FieldByName("DateLastPWordChange")->SetAsDateTime(now);
    });
}

void TSecurityManager::ListGroupNames(TStrings* List)
{
    CheckSystemPrivilege(spViewGroups, "TSecurityManager.ListGroupNames");
    TIndexScope index(FGroups, "ixGroupName");
    FGroups->First();
    while (!FGroups->Eof()) {
        List->Add(FGroups->FieldByName("GroupName")->AsString());
        FGroups->Next();
    }
}

void TSecurityManager::ListUserNames(const std::string& GroupName, TStrings* List)
{
    CheckSystemPrivilege(spViewUsers, "TSecurityManager.ListUserNames");
    const Integer groupID = GroupName.empty() ? 0 : GetGroupIDFromName(GroupName);
    TIndexScope index(FUsers, "ixGroupUsers");
    const auto add = [&] {
        List->Add(FUsers->FieldByName("UserName")->AsString());
        FUsers->Next();
    };
    if (GroupName.empty()) {
        FUsers->First();
        while (!FUsers->Eof())
            add();
    } else {
        ForEachInRange(FUsers, {IntKey(groupID)}, add);
    }
}

// ------------------------------------------------------------ privileges

bool TSecurityManager::CheckIfLogonHasObjectPrivilege(TDatabaseObjectType ObjectType, const std::string& ObjectName,
                                                      TObjectPrivilegeType PrivilegeType)
{
    CheckOpen("TSecurityManager.CheckIfLogonHasObjectPrivilege");
    (void)ObjectType;
    if (IsAdministrator())
        return true;
    Integer objectID = 0;
    if (!ObjectName.empty() && ObjectName != "*" && !SameText(ObjectName, VekAllObjects))
        objectID = GetObjectIDFromName(ObjectName);
    return FPrivileges->ObjectPrivileges()->CheckPrivilegeExists(objectID, MapObjectPrivTypeToConst(PrivilegeType));
}

bool TSecurityManager::CheckIfLogonHasSystemPrivilege(TSystemPrivilegeType PrivilegeType)
{
    CheckOpen("TSecurityManager.CheckIfLogonHasSystemPrivilege");
    if (IsAdministrator())
        return true;
    return FPrivileges->SystemPrivileges()->CheckPrivilegeExists(MapSystemPrivTypeToConst(PrivilegeType));
}

void TSecurityManager::GetPrivileges(Integer ObjectType, const std::string& ObjectName, TPrivileges* Privileges)
{
    const char* context = "TSecurityManager.GetPrivileges";
    CheckOpen(context);
    const std::string groupName = Privileges->GroupName();
    if (!(FLoggedOn && SameText(groupName, FGroupName)))
        CheckSystemPrivilege(spViewGroups, context);
    const bool all = ObjectName.empty() || ObjectName == "*" || SameText(ObjectName, VekAllObjects);
    const std::string objectName = all ? std::string(VekAllObjects) : ObjectName;
    Privileges->ClearPrivileges();
    if (SameText(groupName, VekAdministratorsGroup)) {
        for (int t = opCreateObj; t < TObjectPrivilegeTypeCount; ++t) {
            TObjectPrivilege* priv = Privileges->ObjectPrivileges()->Add();
            priv->SetObjectType(doTable);
            priv->SetObjectName(objectName);
            priv->SetPrivilegeType(static_cast<TObjectPrivilegeType>(t));
            priv->SetFields(VekAllObjects);
        }
        for (int t = spViewUsers; t < TSystemPrivilegeTypeCount; ++t)
            Privileges->SystemPrivileges()->Add()->SetPrivilegeType(static_cast<TSystemPrivilegeType>(t));
        return;
    }
    const Integer groupID = GetGroupIDFromName(groupName);
    Integer objectID = 0;
    TTableDef def(nullptr);
    if (!all) {
        objectID = GetObjectIDFromName(ObjectName);
        if (objectID == 0)
            VekDatabaseError(ErrNotFound, context, ObjectName, FDataBase);
        FDataBase->QueryTableDef(ObjectName, false, &def);
    }
    std::vector<Variant> key{IntKey(groupID), IntKey(ObjectType)};
    if (!all)
        key.push_back(IntKey(objectID));
    ForEachInRange(FObjPrivs, key, [&] {
        const Integer id = FObjPrivs->FieldByName("ObjectID")->AsInteger();
        TObjectPrivilege* priv = Privileges->ObjectPrivileges()->Add();
        priv->SetObjectType(doTable);
        priv->SetObjectName(id == 0 ? std::string(VekAllObjects) : GetObjectNameFromID(id));
        priv->SetPrivilegeType(MapObjectPrivConstToType(FObjPrivs->FieldByName("PrivilegeID")->AsInteger()));
        priv->SetGrantOption(FObjPrivs->FieldByName("GrantOption")->AsBoolean());
        if (FObjPrivs->FieldByName("ALL")->AsBoolean()) {
            priv->SetFields(VekAllObjects);
        } else {
            TField* shortList = FObjPrivs->FieldByName("FieldsShort");
            TStringList ids;
            ids.SetCommaText(!shortList->IsNull() ? shortList->AsString()
                                                  : FObjPrivs->FieldByName("FieldsLong")->AsString());
            TStringList names;
            TInternalFields* fields = def.InternalFields();
            for (int i = 0; i < ids.Count(); ++i)
                for (int f = 0; f < fields->Count(); ++f)
                    if (IntToStr(fields->GetIndex(f)->FieldGeneratorID()) == ids.Strings(i))
                        names.Add(fields->GetIndex(f)->FieldName());
            priv->SetFields(names.CommaText());
        }
        FObjPrivs->Next();
    });
    ForEachInRange(FSysPrivs, {IntKey(groupID)}, [&] {
        TSystemPrivilege* priv = Privileges->SystemPrivileges()->Add();
        priv->SetPrivilegeType(MapSystemPrivConstToType(FSysPrivs->FieldByName("PrivilegeID")->AsInteger()));
        priv->SetGrantOption(FSysPrivs->FieldByName("GrantOption")->AsBoolean());
        FSysPrivs->Next();
    });
}

void TSecurityManager::SetPrivileges(TPrivileges* Privileges, bool Revoke)
{
    const char* context = "TSecurityManager.SetPrivileges";
    CheckOpen(context);
    if (!IsAdministrator())
        VekDatabaseError(ErrPrivilege, context, "", FDataBase);
    if (SameText(Privileges->GroupName(), VekAdministratorsGroup))
        VekDatabaseError(ErrCannotEdit, context, VekAdministratorsGroup, FDataBase);
    const Integer groupID = GetGroupIDFromName(Privileges->GroupName());
    InternalSetObjectPrivileges(Privileges, groupID, Revoke);
    InternalSetSystemPrivileges(Privileges, groupID, Revoke);
}

void TSecurityManager::RevokePrivileges(const std::string& GroupName)
{
    TPrivileges none;
    none.SetGroupName(GroupName);
    SetPrivileges(&none, true);
}

void TSecurityManager::InternalSetObjectPrivileges(TPrivileges* Privileges, Integer GroupID, bool Revoke)
{
    const char* context = "TSecurityManager.InternalSetObjectPrivileges";
    InTransaction([&] {
        if (Revoke)
            DeleteRange(FObjPrivs, {IntKey(GroupID)});
        TObjectPrivileges* privs = Privileges->ObjectPrivileges();
        for (int i = 0; i < privs->Count(); ++i) {
            TObjectPrivilege* priv = privs->Items(i);
            const std::string& name = priv->ObjectName();
            const bool allObjects = name.empty() || name == "*" || SameText(name, VekAllObjects);
            Integer objectID = 0;
            if (!allObjects) {
                objectID = GetObjectIDFromName(name);
                if (objectID == 0)
                    VekDatabaseError(ErrNotFound, context, name, FDataBase);
            }
            const bool allFields = priv->Fields().empty() || SameText(priv->Fields(), VekAllObjects);
            std::string idList;
            if (!allFields) {
                if (allObjects)
                    VekDatabaseError(ErrNotFound, context, priv->Fields(), FDataBase);
                TTableDef def(nullptr);
                FDataBase->QueryTableDef(name, false, &def);
                TStringList names;
                names.SetCommaText(priv->Fields());
                TStringList ids;
                for (int n = 0; n < names.Count(); ++n) {
                    TInternalFieldItem* field = def.InternalFields()->FindField(Trim(names.Strings(n)));
                    if (!field)
                        VekDatabaseError(ErrNotFound, context, names.Strings(n), FDataBase);
                    ids.Add(IntToStr(field->FieldGeneratorID()));
                }
                idList = ids.CommaText();
            }
            const Integer bit = MapObjectPrivTypeToConst(priv->PrivilegeType());
            const bool found = FObjPrivs->FindKey({IntKey(GroupID), IntKey(VekObjectTypeTable), IntKey(objectID),
                                                   IntKey(bit)});
            if (found)
                FObjPrivs->Edit();
            else
                FObjPrivs->Append();
            PostOrCancel(FObjPrivs, [&] {
                FObjPrivs->FieldByName("GroupID")->SetAsInteger(GroupID);
                FObjPrivs->FieldByName("ObjectType")->SetAsInteger(VekObjectTypeTable);
                FObjPrivs->FieldByName("ObjectID")->SetAsInteger(objectID);
                FObjPrivs->FieldByName("PrivilegeID")->SetAsInteger(bit);
                FObjPrivs->FieldByName("ALL")->SetAsBoolean(allFields);
                FObjPrivs->FieldByName("GrantOption")->SetAsBoolean(priv->GrantOption());
                if (static_cast<Integer>(idList.size()) <= VekMaxFieldsShortLength) {
                    if (allFields)
                        FObjPrivs->FieldByName("FieldsShort")->Clear();
                    else
                        FObjPrivs->FieldByName("FieldsShort")->SetAsString(idList);
                    FObjPrivs->FieldByName("FieldsLong")->Clear();
                } else {
                    FObjPrivs->FieldByName("FieldsShort")->Clear();
                    FObjPrivs->FieldByName("FieldsLong")->SetAsString(idList);
                }
            });
        }
    });
}

void TSecurityManager::InternalSetSystemPrivileges(TPrivileges* Privileges, Integer GroupID, bool Revoke)
{
    InTransaction([&] {
        if (Revoke)
            DeleteRange(FSysPrivs, {IntKey(GroupID)});
        TSystemPrivileges* privs = Privileges->SystemPrivileges();
        for (int i = 0; i < privs->Count(); ++i) {
            TSystemPrivilege* priv = privs->Items(i);
            const Integer bit = MapSystemPrivTypeToConst(priv->PrivilegeType());
            if (bit == 0)
                continue;
            if (FSysPrivs->FindKey({IntKey(GroupID), IntKey(bit)}))
                FSysPrivs->Edit();
            else
                FSysPrivs->Append();
            PostOrCancel(FSysPrivs, [&] {
                FSysPrivs->FieldByName("GroupID")->SetAsInteger(GroupID);
                FSysPrivs->FieldByName("PrivilegeID")->SetAsInteger(bit);
                FSysPrivs->FieldByName("GrantOption")->SetAsBoolean(priv->GrantOption());
            });
        }
    });
}

} // namespace orvex
