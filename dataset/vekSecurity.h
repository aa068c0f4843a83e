#pragma once
// Part of the database unit: the security manager of a secured database.
//
// TSecurityManager keeps the users, groups and privileges of a secured
// database in its four security tables ("$SYSTBL_SECGROUPS",
// "$SYSTBL_SECUSERS", "$SYSTBL_SECOBJPRIV", "$SYSTBL_SECSYSPRIV"), logs a
// user on at connection time, holds the logged-on group's privileges in
// memory and answers privilege questions. Members of the group
// "administrators" bypass every check. Passwords are kept only as the five
// 32-bit words of their SHA-1 digest ("Pwd0" .. "Pwd4").
//
// The manager belongs to the connection's system tables: it is open while
// the connection is connected to a secured database.

#include "dataset/vekDatabase.h"
#include "storage/vekCrypt.h"
#include "storage/vekVerControl.h"

#include <string>

namespace orvex {

class TVekTable;

// Keywords of the security model.
inline constexpr const char* VekAdministratorsGroup = "administrators";
inline constexpr const char* VekAdministratorUser = "administrator";
// The password of the bootstrap administrator.
inline constexpr const char* VekDefaultAdministratorPassword = "walrus";
// The object name that stands for every table.
inline constexpr const char* VekAllObjects = "ALL";
// Stored object type of a table.
inline constexpr Integer VekObjectTypeTable = 1;
// Longest group and user name; longest field list kept in "FieldsShort".
inline constexpr Integer VekMaxSecurityNameLength = 30;
inline constexpr Integer VekMaxFieldsShortLength = 100;

// Holds the connection's header lock for a scope unless it is held already
// (every change of the master and system tables runs under it). The end of
// a transaction gives the lock back by itself.
class TVekHeaderLockScope {
public:
    explicit TVekHeaderLockScope(TVekDataBase* DataBase) : FDataBase(DataBase), FTaken(!DataBase->Locked())
    {
        if (FTaken)
            FDataBase->SetLocked(true);
    }
    ~TVekHeaderLockScope()
    {
        if (FTaken && FDataBase->Locked()) {
            try {
                FDataBase->SetLocked(false);
            } catch (...) {
            }
        }
    }
    TVekHeaderLockScope(const TVekHeaderLockScope&) = delete;
    TVekHeaderLockScope& operator=(const TVekHeaderLockScope&) = delete;

private:
    TVekDataBase* FDataBase;
    bool FTaken;
};

class TSecurityManager : public TObject {
public:
    TSecurityManager();
    ~TSecurityManager() override;

    // Stores the connection and the tables; the manager is open.
    void Open(TVekDataBase* DataBase, TVekTable* Users, TVekTable* ObjectIDs, TVekTable* SysPrivs,
              TVekTable* ObjPrivs, TVekTable* Groups);
    // Logs off; the manager is closed.
    void Close();
    bool Active() const { return FOpen; }

    // Logs the user on (10036 for a bad name, password or an expired
    // password); the bootstrap "administrator" is made on first use.
    bool Logon(const std::string& UserName, const std::string& Password, const std::string& DataBaseName);
    void Logoff();
    bool LoggedOn() const { return FLoggedOn; }

    // Groups and users.
    Integer AddGroup(const std::string& Name);
    void RenameGroup(const std::string& OldName, const std::string& NewName);
    // Deletes the group, its users and its privileges, all or nothing.
    void DeleteGroup(const std::string& Name);
    void AddUser(const std::string& Name, const std::string& Password, const std::string& GroupName);
    void DeleteUser(const std::string& Name);
    void ChangeGroup(const std::string& UserName, const std::string& GroupName);
    void ChangePassword(const std::string& UserName, const std::string& NewPassword);
    // Whether Password is the password of the users table's current row.
    bool VerifyPassword(const std::string& Password);
    void ListGroupNames(TStrings* List);
    // Every user, or only the users of GroupName when it is not empty.
    void ListUserNames(const std::string& GroupName, TStrings* List);

    // Lookups (8579 when the name is unknown, except where said).
    std::string GetUserGroupName(const std::string& UserName);
    Integer GetGroupIDFromName(const std::string& Name);
    std::string GetGroupNameFromID(Integer GroupID);
    // The table's object ID; 0 when it has none.
    Integer GetObjectIDFromName(const std::string& Name);
    // The table name of an object ID; empty when none.
    std::string GetObjectNameFromID(Integer ObjectID);

    void ValidateGroupName(const std::string& Name);
    void ValidateUserName(const std::string& Name);
    Integer MinimumGroupNameLength() const { return FMinimumGroupNameLength; }
    void SetMinimumGroupNameLength(Integer Value) { FMinimumGroupNameLength = Value; }
    Integer MinimumUserNameLength() const { return FMinimumUserNameLength; }
    void SetMinimumUserNameLength(Integer Value) { FMinimumUserNameLength = Value; }
    Integer MinimumPasswordLength() const { return FMinimumPasswordLength; }
    void SetMinimumPasswordLength(Integer Value) { FMinimumPasswordLength = Value; }
    // Days; 0: passwords never expire.
    Integer PasswordExpiryPeriod() const { return FPasswordExpiryPeriod; }
    void SetPasswordExpiryPeriod(Integer Value) { FPasswordExpiryPeriod = Value; }

    // Privileges of the group named in Privileges (its GroupName) on the
    // object (empty or "*": every table), as names and enumerations.
    void GetPrivileges(Integer ObjectType, const std::string& ObjectName, TPrivileges* Privileges);
    // Writes the object and then the system privileges of the group named in
    // Privileges; Revoke deletes the group's rows first.
    void SetPrivileges(TPrivileges* Privileges, bool Revoke);
    void RevokePrivileges(const std::string& GroupName);
    bool CheckIfLogonHasObjectPrivilege(TDatabaseObjectType ObjectType, const std::string& ObjectName,
                                        TObjectPrivilegeType PrivilegeType);
    bool CheckIfLogonHasSystemPrivilege(TSystemPrivilegeType PrivilegeType);

    // The logged-on user.
    const std::string& UserName() const { return FUserName; }
    Integer GroupID() const { return FGroupID; }
    const std::string& GroupName() const { return FGroupName; }
    const std::string& DataBaseName() const { return FDataBaseName; }
    bool IsAdministrator() const;
    // The logged-on group's privileges as stored.
    TInternalPrivileges* InternalPrivileges() const { return FPrivileges.get(); }

    // The digest words of a password.
    TSha1Digest PasswordDigest(const std::string& Password);

private:
    void CheckOpen(const char* Context) const;
    void CheckSystemPrivilege(TSystemPrivilegeType Privilege, const char* Context);
    void InternalSetLogonPrivileges();
    bool FindGroup(const std::string& Name);
    bool FindUser(const std::string& Name);
    void InternalSetObjectPrivileges(TPrivileges* Privileges, Integer GroupID, bool Revoke);
    void InternalSetSystemPrivileges(TPrivileges* Privileges, Integer GroupID, bool Revoke);
    // Runs Body in a transaction of its own, rolled back on any failure.
    template <class F>
    void InTransaction(F&& Body);

    bool FOpen = false;
    TVekDataBase* FDataBase = nullptr;
    TVekTable* FUsers = nullptr;
    TVekTable* FObjectIDs = nullptr;
    TVekTable* FSysPrivs = nullptr;
    TVekTable* FObjPrivs = nullptr;
    TVekTable* FGroups = nullptr;
    Integer FPasswordExpiryPeriod = 0;
    std::string FUserName;
    Integer FGroupID = 0;
    std::string FGroupName;
    std::string FDataBaseName;
    bool FLoggedOn = false;
    std::unique_ptr<TInternalPrivileges> FPrivileges;
    Integer FMinimumGroupNameLength = 2;
    Integer FMinimumUserNameLength = 2;
    Integer FMinimumPasswordLength = 2;
    TSha1Stream FSha1;
};

} // namespace orvex
