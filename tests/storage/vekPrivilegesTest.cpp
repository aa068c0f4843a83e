#include "storage/vekVerControl.h"

#include <gtest/gtest.h>

#include <string>

namespace orvex {
namespace {

// ------------------------------------------------------------ bit mapping

TEST(PrivilegeMapping, ObjectPrivilegeBitsBothWays)
{
    const std::pair<TObjectPrivilegeType, Integer> table[] = {
        {opNone, 0},          {opCreateObj, 2},     {opDeleteObj, 4},   {opExecuteObj, 8},   {opAlterObj, 16},
        {opInsertData, 256},  {opDeleteData, 1024}, {opReadData, 2048}, {opUpdateData, 4096},
    };
    for (auto [type, bit] : table) {
        EXPECT_EQ(MapObjectPrivTypeToConst(type), bit) << C_ObjectPrivilegeStr[type];
        EXPECT_EQ(MapObjectPrivConstToType(bit), type) << bit;
    }
    for (Integer unknown : {1, 3, 32, 512, 8192, -1, 2048 | 256})
        EXPECT_EQ(MapObjectPrivConstToType(unknown), opNone) << unknown;
    EXPECT_EQ(MapObjectPrivTypeToConst(static_cast<TObjectPrivilegeType>(9)), 0);
}

TEST(PrivilegeMapping, SystemPrivilegeBitsBothWays)
{
    const std::pair<TSystemPrivilegeType, Integer> table[] = {
        {spNone, 0}, {spViewUsers, 1}, {spEditUsers, 2}, {spViewGroups, 8}, {spEditGroups, 16},
    };
    for (auto [type, bit] : table) {
        EXPECT_EQ(MapSystemPrivTypeToConst(type), bit) << C_SystemPrivilegeStr[type];
        EXPECT_EQ(MapSystemPrivConstToType(bit), type) << bit;
    }
    for (Integer unknown : {4, 3, 32, -1})
        EXPECT_EQ(MapSystemPrivConstToType(unknown), spNone) << unknown;
    EXPECT_EQ(MapSystemPrivTypeToConst(static_cast<TSystemPrivilegeType>(5)), 0);
}

// ---------------------------------------------------------- stored shape

TInternalObjPriv* AddObjPriv(TInternalObjPrivs& privs, Integer objectID, Integer bit)
{
    TInternalObjPriv* priv = privs.Add();
    priv->SetObjectID(objectID);
    priv->SetPrivilegeID(bit);
    priv->SetObjectType(1);
    return priv;
}

TEST(InternalPrivileges, FieldLimitedPrivileges)
{
    TInternalObjPrivs privs;
    AddObjPriv(privs, 12, 2048)->SetFields(false, "3,7");
    AddObjPriv(privs, 12, 4096)->SetFields(true, "");
    AddObjPriv(privs, 12, 2048)->SetFields(true, ""); // shadowed by the first read privilege

    struct Case {
        Integer ObjectID, PrivilegeID, FieldID;
        bool Expected;
    };
    const Case cases[] = {
        {12, 2048, 7, true},  {12, 2048, 3, true},  {12, 2048, 5, false}, {12, 4096, 5, true},
        {12, 4096, 99, true}, {12, 256, 3, false},  {13, 2048, 3, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(privs.CheckPrivilegeAndFieldID(c.ObjectID, c.PrivilegeID, c.FieldID), c.Expected)
            << c.ObjectID << "/" << c.PrivilegeID << "/" << c.FieldID;

    EXPECT_EQ(privs.FindPrivilege(12, 2048), privs.Items(0));
    EXPECT_TRUE(privs.CheckPrivilegeExists(12, 4096));
    EXPECT_FALSE(privs.CheckPrivilegeExists(12, 1024));
    EXPECT_EQ(privs.FindPrivilege(0, 2048), nullptr);
}

TEST(InternalPrivileges, SetFieldIDValuesReplacesTheList)
{
    TInternalObjPrivs privs;
    TInternalObjPriv* priv = AddObjPriv(privs, 4, 2048);
    priv->SetFields(false, "1,2,3");
    TStringList ids;
    ids.Add("9");
    priv->SetFieldIDValues(&ids);
    EXPECT_EQ(priv->FieldIDs()->CommaText(), "9");
    EXPECT_FALSE(privs.CheckPrivilegeAndFieldID(4, 2048, 1));
    EXPECT_TRUE(privs.CheckPrivilegeAndFieldID(4, 2048, 9));
}

TEST(InternalPrivileges, MasksAndClear)
{
    TInternalPrivileges all;
    TInternalObjPrivs* objects = all.ObjectPrivileges();
    AddObjPriv(*objects, 1, 2048);
    AddObjPriv(*objects, 1, 256);
    AddObjPriv(*objects, 5, 4);
    objects->SetMasks();
    EXPECT_EQ(objects->TablePrivilegeMask(), 2304);

    TInternalSysPrivs* system = all.SystemPrivileges();
    for (Integer bit : {1, 8, 8}) {
        TInternalSysPriv* priv = system->Add();
        priv->SetPrivilegeID(bit);
        priv->SetGrantOption(bit == 1);
    }
    system->SetMask();
    EXPECT_EQ(system->PrivilegeMask(), 9);
    EXPECT_TRUE(system->FindPrivilege(1)->GrantOption());
    EXPECT_EQ(system->FindPrivilege(8), system->Items(1));
    EXPECT_FALSE(system->CheckPrivilegeExists(2));

    // Emptied privileges grant nothing, masks included.
    all.Clear();
    EXPECT_EQ(objects->Count(), 0);
    EXPECT_EQ(system->Count(), 0);
    EXPECT_EQ(objects->TablePrivilegeMask(), 0);
    EXPECT_EQ(system->PrivilegeMask(), 0);
}

// ------------------------------------------------------ user-facing shape

TObjectPrivilege* AddPriv(TPrivileges& privs, const std::string& name, TObjectPrivilegeType type,
                          const std::string& fields = "ALL")
{
    TObjectPrivilege* priv = privs.ObjectPrivileges()->Add();
    priv->SetObjectType(doTable);
    priv->SetObjectName(name);
    priv->SetPrivilegeType(type);
    priv->SetFields(fields);
    return priv;
}

TEST(Privileges, LookupsByObjectNameIgnoreCase)
{
    TPrivileges privs;
    privs.SetGroupName("clerks");
    TObjectPrivilege* read = AddPriv(privs, "orders", opReadData, "Id,Total");
    TObjectPrivilege* insert = AddPriv(privs, "ALL", opInsertData);
    TObjectPrivileges* objects = privs.ObjectPrivileges();

    struct Case {
        TDatabaseObjectType Type;
        const char* Name;
        TObjectPrivilegeType Privilege;
        TObjectPrivilege* Expected;
    };
    const Case cases[] = {
        {doTable, "Orders", opReadData, read}, {doTable, "ORDERS", opReadData, read},
        {doTable, "orders", opUpdateData, nullptr}, {doNone, "orders", opReadData, nullptr},
        {doTable, "Order", opReadData, nullptr},   {doTable, "all", opInsertData, insert},
    };
    for (const Case& c : cases)
        EXPECT_EQ(objects->FindPrivilege(c.Type, c.Name, c.Privilege), c.Expected) << c.Name;

    EXPECT_TRUE(objects->CheckForNamedObjectPrivileges(doTable, "Orders"));
    EXPECT_FALSE(objects->CheckForNamedObjectPrivileges(doNone, "Orders"));
    EXPECT_FALSE(objects->CheckForNamedObjectPrivileges(doTable, "Customers"));
}

TEST(Privileges, AssignCopiesAndClearEmpties)
{
    TPrivileges privs;
    TObjectPrivilege* read = AddPriv(privs, "Orders", opReadData, "Id");
    read->SetGrantOption(true);
    TSystemPrivilege* view = privs.SystemPrivileges()->Add();
    view->SetPrivilegeType(spViewGroups);
    view->SetGrantOption(true);

    TPrivileges copy;
    copy.ObjectPrivileges()->Assign(privs.ObjectPrivileges());
    copy.SystemPrivileges()->Assign(privs.SystemPrivileges());
    const TObjectPrivilege* copied = copy.ObjectPrivileges()->Items(0);
    EXPECT_EQ(copied->ObjectName(), "Orders");
    EXPECT_EQ(copied->ObjectType(), doTable);
    EXPECT_EQ(copied->PrivilegeType(), opReadData);
    EXPECT_EQ(copied->Fields(), "Id");
    EXPECT_TRUE(copied->GrantOption());
    ASSERT_NE(copy.SystemPrivileges()->FindPrivilege(spViewGroups), nullptr);
    EXPECT_TRUE(copy.SystemPrivileges()->FindPrivilege(spViewGroups)->GrantOption());
    EXPECT_EQ(copy.SystemPrivileges()->FindPrivilege(spEditUsers), nullptr);

    TSystemPrivilege other(nullptr);
    EXPECT_THROW(other.Assign(read), EConvertError);

    privs.ClearPrivileges();
    EXPECT_EQ(privs.ObjectPrivileges()->Count(), 0);
    EXPECT_EQ(privs.SystemPrivileges()->Count(), 0);
}

} // namespace
} // namespace orvex
