#pragma once
// Restructure definitions and the privilege model.
//
// A restructure (new fields and indexes for an existing table, from the table
// component or from ALTER TABLE) is described by two collections: the new
// field layout (TRestructureFieldDefs) and the new index layout
// (TRestructureIndexDefs). Each new field may name the existing field that
// supplies its data, each new index the existing index it derives from.
// Validation compares the new layout with the table's current definitions,
// gives every item and each collection a change status (TDefChangeType, in
// rising order of consequence), writes a readable change log and refuses
// invalid index definitions. The caller reads the overall status to choose
// between changing only the stored definition and rebuilding the data.
//
// Privileges come in two shapes: the stored shape (TInternalPrivileges:
// numeric object ids and the stored bit of each privilege, as the security
// tables keep them, with bit masks for quick checks) and the user-facing shape
// (TPrivileges: a group's privileges by object name and enumeration).

#include "host/Classes.h"
#include "host/DB.h"
#include "storage/vekConsts.h"

#include <string>

namespace orvex {

// ======================================================= restructure fields

// Whether the data of a field of type OldType cannot be carried into NewType
// without loss: narrowing numbers, anything into a Boolean or a blob (but a
// blob into a blob), a blob into anything else, and any change between a
// string and a non-string type.
bool RestructureTypeChangeLosesData(TFieldType OldType, TFieldType NewType);

// One field of the new layout. SourceFieldName names the current field whose
// data it takes; empty for a new field.
class TRestructureFieldDef : public TCollectionItem {
public:
    explicit TRestructureFieldDef(TCollection* Collection);

    // From a framework TFieldDef: its name, type, size, precision and
    // Required, and SourceFieldName := its name (a field kept from the
    // table). From another TRestructureFieldDef: everything, including
    // SourceFieldName and ChangeStatus.
    void Assign(TPersistent* Source) override;
    // Into a framework TFieldDef: name, type, size, precision and Required.
    void AssignTo(TPersistent* Dest) override;

    TDefChangeType ChangeStatus() const { return FChangeStatus; }
    void SetChangeStatus(TDefChangeType Value) { FChangeStatus = Value; }
    bool Required() const { return FRequired; }
    void SetRequired(bool Value) { FRequired = Value; }
    Integer Size() const { return FSize; }
    void SetSize(Integer Value) { FSize = Value; }
    const std::string& Name() const { return FName; }
    void SetName(const std::string& Value) { FName = Value; }
    TFieldType DataType() const { return FDataType; }
    void SetDataType(TFieldType Value) { FDataType = Value; }
    Integer Precision() const { return FPrecision; }
    void SetPrecision(Integer Value) { FPrecision = Value; }
    const std::string& SourceFieldName() const { return FSourceFieldName; }
    void SetSourceFieldName(const std::string& Value) { FSourceFieldName = Value; }

private:
    friend class TRestructureFieldDefs;
    void CopyFrom(const TRestructureFieldDef& Other);

    TDefChangeType FChangeStatus = dcNoChange;
    bool FRequired = false;
    Integer FSize = 0;
    std::string FName;
    TFieldType FDataType = ftUnknown;
    Integer FPrecision = 0;
    std::string FSourceFieldName;
};

// The new field layout of a table. FieldDefs is the table's current layout
// and ChangeLog the list that receives the change log; neither is owned.
class TRestructureFieldDefs : public TCollection {
public:
    TRestructureFieldDefs();
    explicit TRestructureFieldDefs(TCollectionItemClass ItemClass);

    TRestructureFieldDef* AddFieldDef();
    // A new field (no source field) of that name, type and size.
    TRestructureFieldDef* AddAndSetFieldDef(const std::string& Name, TFieldType DataType, Integer Size);
    TRestructureFieldDef* Insert(int Index);
    void DeleteItem(int Index) { Delete(Index); }
    TRestructureFieldDef* Items(int Index) const
    {
        return static_cast<TRestructureFieldDef*>(TCollection::Items(Index));
    }
    // By name, ignoring case; nullptr when absent.
    TRestructureFieldDef* Find(const std::string& Name) const;
    // The current field of that name (ignoring case); nullptr when absent or
    // when FieldDefs is not set.
    TFieldDef* FindSourceDef(const std::string& Name) const;

    // From framework TFieldDefs: one item per field, each taking its data
    // from that field. From TRestructureFieldDefs: the items and the
    // collection's own settings.
    void Assign(TPersistent* Source) override;
    // Into framework TFieldDefs: one field per item.
    void AssignTo(TPersistent* Dest) override;

    // Whether some current field gives its data to no new field.
    bool CheckIfFieldsDeleted() const;
    // Exchanges the contents of items I and J; an index out of range raises
    // Exception "Invalid Field Def Index in SwapDefs".
    void SwapDefs(int I, int J);
    // Gives every field and the collection a change status against the
    // current layout Current (nullptr: a new table) and logs the outcome.
    void ValidateAgainstOriginalDefs(TFieldDefs* Current);

    TDefChangeType ChangeStatus() const { return FChangeStatus; }
    void SetChangeStatus(TDefChangeType Value) { FChangeStatus = Value; }
    // Where the auto-increment counter restarts; stored for the caller.
    Integer AutoIncResetValue() const { return FAutoIncResetValue; }
    void SetAutoIncResetValue(Integer Value) { FAutoIncResetValue = Value; }
    bool ResetAutoIncValue() const { return FResetAutoIncValue; }
    void SetResetAutoIncValue(bool Value) { FResetAutoIncValue = Value; }
    TStrings* ChangeLog() const { return FChangeLog; }
    void SetChangeLog(TStrings* Value) { FChangeLog = Value; }
    TFieldDefs* FieldDefs() const { return FFieldDefs; }
    void SetFieldDefs(TFieldDefs* Value) { FFieldDefs = Value; }

private:
    void Log(const std::string& Line) const;

    TDefChangeType FChangeStatus = dcNoChange;
    Integer FAutoIncResetValue = 0;
    bool FResetAutoIncValue = false;
    TStrings* FChangeLog = nullptr;
    TFieldDefs* FFieldDefs = nullptr;
};

// ====================================================== restructure indexes

// One index of the new layout. SourceIndexDef is the current index it derives
// from (not owned), nullptr for a new index. Fields, CaseInsFields and
// DescFields are field names separated by semicolons.
class TRestructureIndexDef : public TCollectionItem {
public:
    explicit TRestructureIndexDef(TCollection* Collection);

    // From a framework TIndexDef: its name, field lists and options, and
    // SourceIndexDef := that index. From another TRestructureIndexDef:
    // everything, including SourceIndexDef and ChangeStatus.
    void Assign(TPersistent* Source) override;
    // Into a framework TIndexDef: name, field lists and options.
    void AssignTo(TPersistent* Dest) override;
    // Removes the field (ignoring case) from Fields, CaseInsFields and DescFields.
    void DeleteField(const std::string& FieldName);

    TDefChangeType ChangeStatus() const { return FChangeStatus; }
    void SetChangeStatus(TDefChangeType Value) { FChangeStatus = Value; }
    TIndexDef* SourceIndexDef() const { return FSourceIndexDef; }
    void SetSourceIndexDef(TIndexDef* Value) { FSourceIndexDef = Value; }
    const std::string& Name() const { return FName; }
    void SetName(const std::string& Value) { FName = Value; }
    const std::string& Fields() const { return FFields; }
    void SetFields(const std::string& Value) { FFields = Value; }
    const std::string& CaseInsFields() const { return FCaseInsFields; }
    void SetCaseInsFields(const std::string& Value) { FCaseInsFields = Value; }
    const std::string& DescFields() const { return FDescFields; }
    void SetDescFields(const std::string& Value) { FDescFields = Value; }
    TIndexOptions Options() const { return FOptions; }
    void SetOptions(TIndexOptions Value) { FOptions = Value; }

private:
    TDefChangeType FChangeStatus = dcNoChange;
    TIndexDef* FSourceIndexDef = nullptr;
    std::string FName;
    std::string FFields;
    std::string FCaseInsFields;
    std::string FDescFields;
    TIndexOptions FOptions = 0;
};

// The new index layout of a table. ChangeLog is not owned.
class TRestructureIndexDefs : public TCollection {
public:
    static constexpr Integer DefaultMaximumKeySize = 500;
    static constexpr Integer DefaultMaximumKeyFieldCount = 32;

    TRestructureIndexDefs();
    explicit TRestructureIndexDefs(TCollectionItemClass ItemClass);

    TRestructureIndexDef* AddIndexDef();
    // A new index; with ixCaseInsensitive the fields are also its
    // case-insensitive fields.
    TRestructureIndexDef* AddAndSetIndexDef(const std::string& Name, const std::string& Fields,
                                            TIndexOptions Options);
    void DeleteItem(int Index) { Delete(Index); }
    TRestructureIndexDef* Items(int Index) const
    {
        return static_cast<TRestructureIndexDef*>(TCollection::Items(Index));
    }
    // By name, ignoring case; nullptr when absent.
    TRestructureIndexDef* Find(const std::string& Name) const;
    // The new index that derives from the current index IndexDef; nullptr when none.
    TRestructureIndexDef* FindSourceDef(const TIndexDef* IndexDef) const;

    // From framework TIndexDefs: one item per index, each deriving from that
    // index. From TRestructureIndexDefs: the items and the collection's own
    // settings.
    void Assign(TPersistent* Source) override;
    // Into framework TIndexDefs: one index per item.
    void AssignTo(TPersistent* Dest) override;

    // Removes the field from every index's field lists.
    void DeleteField(const std::string& FieldName);
    // Renames the field in every index's field lists: each list entry that is
    // OldName (ignoring case) becomes NewName; names that merely contain
    // OldName stay as they are.
    void ReplaceFieldName(const std::string& OldName, const std::string& NewName);
    // A second primary index raises 9996.
    void CheckForDuplicatePrimaryIndexes() const;
    // Checks every index against the new field layout: its fields exist, its
    // key fits MaximumKeySize and it has at most MaximumKeyFieldCount fields
    // (9996 otherwise).
    void ValidateNewIndexDefs(const TRestructureFieldDefs* FieldDefs) const;
    // Gives every index and the collection a change status against the
    // current indexes IndexDefs (nullptr: a new table), reading the field
    // statuses of the new field layout FieldDefs, and logs the outcome.
    void ValidateAgainstOriginalDefs(TIndexDefs* IndexDefs, const TRestructureFieldDefs* FieldDefs);

    TDefChangeType ChangeStatus() const { return FChangeStatus; }
    void SetChangeStatus(TDefChangeType Value) { FChangeStatus = Value; }
    TStrings* ChangeLog() const { return FChangeLog; }
    void SetChangeLog(TStrings* Value) { FChangeLog = Value; }
    Integer MaximumKeySize() const { return FMaximumKeySize; }
    void SetMaximumKeySize(Integer Value) { FMaximumKeySize = Value; }
    Integer MaximumKeyFieldCount() const { return FMaximumKeyFieldCount; }
    void SetMaximumKeyFieldCount(Integer Value) { FMaximumKeyFieldCount = Value; }

private:
    void Log(const std::string& Line) const;
    // The status of one index against the index it derives from, with the
    // log lines that explain it.
    TDefChangeType IndexStatus(const TRestructureIndexDef* Def, const TRestructureFieldDefs* FieldDefs) const;

    TDefChangeType FChangeStatus = dcNoChange;
    TStrings* FChangeLog = nullptr;
    Integer FMaximumKeySize = DefaultMaximumKeySize;
    Integer FMaximumKeyFieldCount = DefaultMaximumKeyFieldCount;
};

// ====================================================== privilege bit values

// The stored bit of an object privilege (opCreateObj 2, opDeleteObj 4,
// opExecuteObj 8, opAlterObj 16, opInsertData 256, opDeleteData 1024,
// opReadData 2048, opUpdateData 4096) and back; an unknown bit reads as
// opNone, an out-of-range type as 0.
TObjectPrivilegeType MapObjectPrivConstToType(Integer Value);
Integer MapObjectPrivTypeToConst(TObjectPrivilegeType Type);
// The stored bit of a system privilege (spViewUsers 1, spEditUsers 2,
// spViewGroups 8, spEditGroups 16) and back; unknown reads as spNone / 0.
TSystemPrivilegeType MapSystemPrivConstToType(Integer Value);
Integer MapSystemPrivTypeToConst(TSystemPrivilegeType Type);

// ================================================ stored privilege shape

// One object privilege as stored: a privilege bit on an object (a table id),
// for every field or for the listed field ids.
class TInternalObjPriv : public TCollectionItem {
public:
    explicit TInternalObjPriv(TCollection* Collection);
    ~TInternalObjPriv() override;

    // Stores AllFields and reads the field ids from comma text ("3,7").
    void SetFields(bool AllFields, const std::string& FieldIDs);
    // Replaces the field ids with the lines of List.
    void SetFieldIDValues(TStrings* List);

    bool GrantOption() const { return FGrantOption; }
    void SetGrantOption(bool Value) { FGrantOption = Value; }
    Integer PrivilegeID() const { return FPrivilegeID; }
    void SetPrivilegeID(Integer Value) { FPrivilegeID = Value; }
    Integer ObjectID() const { return FObjectID; }
    void SetObjectID(Integer Value) { FObjectID = Value; }
    bool AllFields() const { return FAllFields; }
    void SetAllFields(bool Value) { FAllFields = Value; }
    Integer ObjectType() const { return FObjectType; }
    void SetObjectType(Integer Value) { FObjectType = Value; }
    // The decimal field ids the privilege is limited to (owned).
    TStringList* FieldIDs() const { return FFieldIDs; }

private:
    bool FGrantOption = false;
    Integer FPrivilegeID = 0;
    Integer FObjectID = 0;
    bool FAllFields = false;
    TStringList* FFieldIDs;
    Integer FObjectType = 0;
};

class TInternalObjPrivs : public TCollection {
public:
    TInternalObjPrivs();

    TInternalObjPriv* Add() { return static_cast<TInternalObjPriv*>(TCollection::Add()); }
    TInternalObjPriv* Items(int Index) const
    {
        return static_cast<TInternalObjPriv*>(TCollection::Items(Index));
    }
    // The first privilege with both values; nullptr when none.
    TInternalObjPriv* FindPrivilege(Integer ObjectID, Integer PrivilegeID) const;
    bool CheckPrivilegeExists(Integer ObjectID, Integer PrivilegeID) const;
    // Whether the privilege (ObjectID, PrivilegeID) covers field FieldID:
    // false without one, true when it covers every field, else whether the
    // field id is listed.
    bool CheckPrivilegeAndFieldID(Integer ObjectID, Integer PrivilegeID, Integer FieldID) const;
    // TablePrivilegeMask := the privilege bits of the items with ObjectID 1.
    void SetMasks();

    Integer TablePrivilegeMask() const { return FTablePrivilegeMask; }
    void SetTablePrivilegeMask(Integer Value) { FTablePrivilegeMask = Value; }

private:
    Integer FTablePrivilegeMask = 0;
};

// One system privilege as stored.
class TInternalSysPriv : public TCollectionItem {
public:
    using TCollectionItem::TCollectionItem;

    bool GrantOption() const { return FGrantOption; }
    void SetGrantOption(bool Value) { FGrantOption = Value; }
    Integer PrivilegeID() const { return FPrivilegeID; }
    void SetPrivilegeID(Integer Value) { FPrivilegeID = Value; }

private:
    bool FGrantOption = false;
    Integer FPrivilegeID = 0;
};

class TInternalSysPrivs : public TCollection {
public:
    TInternalSysPrivs();

    TInternalSysPriv* Add() { return static_cast<TInternalSysPriv*>(TCollection::Add()); }
    TInternalSysPriv* Items(int Index) const
    {
        return static_cast<TInternalSysPriv*>(TCollection::Items(Index));
    }
    // The first privilege with that bit; nullptr when none.
    TInternalSysPriv* FindPrivilege(Integer PrivilegeID) const;
    bool CheckPrivilegeExists(Integer PrivilegeID) const;
    // PrivilegeMask := the privilege bits of all items.
    void SetMask();

    Integer PrivilegeMask() const { return FPrivilegeMask; }
    void SetPrivilegeMask(Integer Value) { FPrivilegeMask = Value; }

private:
    Integer FPrivilegeMask = 0;
};

// The stored privileges of one group.
class TInternalPrivileges : public TObject {
public:
    TInternalPrivileges();
    ~TInternalPrivileges() override;

    // Empties both collections and clears their masks.
    void Clear();

    TInternalObjPrivs* ObjectPrivileges() const { return FObjectPrivileges; }
    TInternalSysPrivs* SystemPrivileges() const { return FSystemPrivileges; }

private:
    TInternalObjPrivs* FObjectPrivileges;
    TInternalSysPrivs* FSystemPrivileges;
};

// =========================================== user-facing privilege shape

// One object privilege of a group: a privilege type on a named object, for the
// fields named in Fields.
class TObjectPrivilege : public TCollectionItem {
public:
    using TCollectionItem::TCollectionItem;

    // From another TObjectPrivilege: every property.
    void Assign(TPersistent* Source) override;

    bool GrantOption() const { return FGrantOption; }
    void SetGrantOption(bool Value) { FGrantOption = Value; }
    const std::string& Fields() const { return FFields; }
    void SetFields(const std::string& Value) { FFields = Value; }
    const std::string& ObjectName() const { return FObjectName; }
    void SetObjectName(const std::string& Value) { FObjectName = Value; }
    TObjectPrivilegeType PrivilegeType() const { return FPrivilegeType; }
    void SetPrivilegeType(TObjectPrivilegeType Value) { FPrivilegeType = Value; }
    TDatabaseObjectType ObjectType() const { return FObjectType; }
    void SetObjectType(TDatabaseObjectType Value) { FObjectType = Value; }

private:
    bool FGrantOption = false;
    std::string FFields;
    std::string FObjectName;
    TObjectPrivilegeType FPrivilegeType = opNone;
    TDatabaseObjectType FObjectType = doNone;
};

class TObjectPrivileges : public TCollection {
public:
    TObjectPrivileges();

    TObjectPrivilege* Add() { return static_cast<TObjectPrivilege*>(TCollection::Add()); }
    TObjectPrivilege* Items(int Index) const
    {
        return static_cast<TObjectPrivilege*>(TCollection::Items(Index));
    }
    // The first privilege of that type on that object; object names compare
    // ignoring case, as table names do. nullptr when none.
    TObjectPrivilege* FindPrivilege(TDatabaseObjectType ObjectType, const std::string& ObjectName,
                                    TObjectPrivilegeType PrivilegeType) const;
    // Whether any privilege names that object (same comparison).
    bool CheckForNamedObjectPrivileges(TDatabaseObjectType ObjectType,
                                       const std::string& ObjectName) const;
};

class TSystemPrivilege : public TCollectionItem {
public:
    using TCollectionItem::TCollectionItem;

    // From another TSystemPrivilege: the type and the grant option.
    void Assign(TPersistent* Source) override;

    bool GrantOption() const { return FGrantOption; }
    void SetGrantOption(bool Value) { FGrantOption = Value; }
    TSystemPrivilegeType PrivilegeType() const { return FPrivilegeType; }
    void SetPrivilegeType(TSystemPrivilegeType Value) { FPrivilegeType = Value; }

private:
    bool FGrantOption = false;
    TSystemPrivilegeType FPrivilegeType = spNone;
};

class TSystemPrivileges : public TCollection {
public:
    TSystemPrivileges();

    TSystemPrivilege* Add() { return static_cast<TSystemPrivilege*>(TCollection::Add()); }
    TSystemPrivilege* Items(int Index) const
    {
        return static_cast<TSystemPrivilege*>(TCollection::Items(Index));
    }
    // The first privilege of that type; nullptr when none.
    TSystemPrivilege* FindPrivilege(TSystemPrivilegeType PrivilegeType) const;
};

// The privileges of one group, by name and enumeration.
class TPrivileges : public TObject {
public:
    TPrivileges();
    ~TPrivileges() override;

    // Empties both collections.
    void ClearPrivileges();

    TSystemPrivileges* SystemPrivileges() const { return FSystemPrivileges; }
    TObjectPrivileges* ObjectPrivileges() const { return FObjectPrivileges; }
    const std::string& GroupName() const { return FGroupName; }
    void SetGroupName(const std::string& Value) { FGroupName = Value; }

private:
    TSystemPrivileges* FSystemPrivileges;
    TObjectPrivileges* FObjectPrivileges;
    std::string FGroupName;
};

} // namespace orvex
