#include "storage/vekConsts.h"

#include "host/Classes.h"
#include "storage/vekCommon.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

namespace orvex {
namespace {

// ---------------------------------------------------------------- error table

TEST(VekErrorTable, HasItsFixedShape)
{
    ASSERT_EQ(C_VEKERRORS.size(), 318u);
    for (int row : {0, 317}) {
        EXPECT_EQ(C_VEKERRORS[row].Code, 65535) << row;
        EXPECT_EQ(C_VEKERRORS[row].Msg, "Error code unknown") << row;
    }
    std::set<Integer> codes;
    for (int row = 1; row <= 316; ++row)
        EXPECT_TRUE(codes.insert(C_VEKERRORS[row].Code).second) << "duplicate at row " << row;
    EXPECT_FALSE(codes.contains(65535));

    // Ascending through row 313, but for code 130 at row 186; the SQL result
    // errors close the table.
    for (int row = 2; row <= 313; ++row) {
        if (row == 186 || row == 187)
            continue;
        EXPECT_LT(C_VEKERRORS[row - 1].Code, C_VEKERRORS[row].Code) << "row " << row;
    }
    EXPECT_EQ(C_VEKERRORS[185].Code, 10113);
    EXPECT_EQ(C_VEKERRORS[186].Code, 130);
    EXPECT_EQ(C_VEKERRORS[187].Code, 10115);
    EXPECT_EQ(C_VEKERRORS[313].Code, 13062);
    EXPECT_EQ(C_VEKERRORS[314].Code, 9645);
    EXPECT_EQ(C_VEKERRORS[315].Code, 9650);
    EXPECT_EQ(C_VEKERRORS[316].Code, 9656);
}

TEST(VekErrorTable, GroupsHoldTheirRows)
{
    std::map<int, int> perGroup;
    for (int row = 1; row <= 316; ++row)
        ++perGroup[C_VEKERRORS[row].Code >> 8];
    const std::map<int, int> expected = {
        {0x21, 14}, {0x22, 11}, {0x23, 9},  {0x24, 7},  {0x25, 40}, {0x26, 23},
        {0x27, 95}, {0x28, 21}, {0x29, 9},  {0x2A, 21}, {0x2B, 36}, {0x2C, 14},
        {0x2F, 9},  {0x33, 6},  {0x00, 1},
    };
    EXPECT_EQ(perGroup, expected);
}

TEST(VekErrorTable, TrailingBlanksBelongToLimitAndIntegrityTexts)
{
    for (const VekErr& row : C_VEKERRORS) {
        const bool blank = (row.Code >= 9473 && row.Code <= 9502) ||
                           (row.Code >= 9729 && row.Code <= 9751);
        const bool endsInBlank = !row.Msg.empty() && row.Msg.back() == ' ';
        EXPECT_EQ(endsInBlank, blank) << row.Code;
        if (endsInBlank) {
            EXPECT_NE(row.Msg[row.Msg.size() - 2], ' ') << row.Code;
        }
        EXPECT_TRUE(row.Msg.empty() || row.Msg.front() != ' ') << row.Code;
    }
}

TEST(VekErrorTable, KeepsTheTextsAsTheyStand)
{
    const struct {
        Integer Code;
        std::string_view Msg;
    } cases[] = {
        {8449, "Cannot open the requested file"},
        {8581, "There was an unexpected internal error in the database engine"},
        {9473, "Not enough Memory for this op "},
        {9751, "Expr val check failed "},
        {10006, "Invalid array of  val. check descriptors"},
        {10497, "Not sufficient field  rights for operation"},
        {11047, "Unkown | illegal error from rtl"},
        {13057, "File already exsits"},
        {9645, "SQL Error"},
        {9656, "Subquery result set returned multiple columns"},
        {130, "Alter table operation failed (exact cause unknown)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(C_VEKERRORS[VekErrorIndex(c.Code)].Msg, c.Msg) << c.Code;
}

TEST(VekErrorTable, LooksCodesUpByTheirLowSixteenBits)
{
    EXPECT_EQ(VekErrorIndex(8449), 1);
    EXPECT_EQ(VekErrorIndex(130), 186);
    EXPECT_EQ(VekErrorIndex(9656), 316);
    EXPECT_EQ(VekErrorIndex(65536 + 8449), 1);
    EXPECT_EQ(VekErrorIndex(12345), 0);
    EXPECT_EQ(VekErrorIndex(65535), 0);
    EXPECT_EQ(VekErrorIndex(-1), 0); // low bits 0xFFFF: the unknown row
    EXPECT_EQ(VekErrorIndex(0), 0);
}

// --------------------------------------------------------------- engine error

class TTestSender : public TObject {};

// What a raised engine error carried.
struct TRaised {
    Integer ErrorCode = 0;
    std::string TableMessage;
    std::string Message;
    TObject* Sender = nullptr;
};

// Raises an engine error and hands back what it carried.
TRaised Raise(Integer code, const std::string& custom, TObject* sender = nullptr,
              const std::string& context = "TDBUserMonitor.Open")
{
    try {
        VekDatabaseError(code, context, custom, sender);
    } catch (const EVekDatabaseError& e) {
        return {e.ErrorCode, e.TableMessage, e.what(), e.Sender};
    }
    ADD_FAILURE() << "VekDatabaseError returned";
    return {};
}

std::string LastLogLine()
{
    const std::vector<std::string> lines = GDBLogger->LogLines();
    return lines.empty() ? std::string() : lines.back();
}

// The logger's line ends in "<caller, 30 wide> : <text>".
std::string LogTail(const std::string& context, const std::string& text)
{
    return Format("; %30s : %s", {context, text});
}

bool EndsWith(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(VekDatabaseError, BuildsTheBaseMessageWithoutCustomText)
{
    const TRaised e = Raise(8449, "");
    EXPECT_EQ(e.Message, "The Orvex database engine raised an error\r\n (error code #8449). "
                           "Cannot open the requested file");
    EXPECT_EQ(e.ErrorCode, 8449);
    EXPECT_EQ(e.TableMessage, "Cannot open the requested file");
    EXPECT_EQ(e.Sender, nullptr);
}

TEST(VekDatabaseError, BuildsTheCustomMessage)
{
    const TRaised e = Raise(10249, "A read lock could not be obtained on the table");
    EXPECT_EQ(e.Message,
              "The Orvex database engine raised an error\r\n The requested lock could not be "
              "obtained. The request timed out (error code #10249) - A read lock could not be "
              "obtained on the table");
}

TEST(VekDatabaseError, UnknownCodeKeepsItsCodeAndLogsTheUnknownRow)
{
    const TRaised e = Raise(12345, "");
    EXPECT_EQ(e.ErrorCode, 12345);
    EXPECT_EQ(e.TableMessage, "Error code unknown");
    EXPECT_EQ(e.Message,
              "The Orvex database engine raised an error\r\n (error code #12345). Error code unknown");
    EXPECT_TRUE(EndsWith(LastLogLine(),
                         LogTail("TDBUserMonitor.Open",
                                 "Exception:  Caller " + std::string(20, ' ') +
                                     " ErrCode 65535 [ErrContext Error code unknown]. CustomMsg ")))
        << LastLogLine();
}

TEST(VekDatabaseError, HighBitsDoNotHideATableCode)
{
    const TRaised e = Raise(65536 + 8449, "");
    EXPECT_EQ(e.ErrorCode, 73985);
    EXPECT_EQ(e.TableMessage, "Cannot open the requested file");
    EXPECT_EQ(e.Message, "The Orvex database engine raised an error\r\n (error code #73985). "
                           "Cannot open the requested file");
    EXPECT_TRUE(EndsWith(LastLogLine(), "ErrCode  8449 [ErrContext Cannot open the requested "
                                        "file]. CustomMsg "))
        << LastLogLine();
}

TEST(VekDatabaseError, EmptyTableTextsAreNotUnknown)
{
    for (Integer code : {10241, 10243, 10244, 10245, 10246, 10247, 10250, 10251, 10252, 10253,
                         10254, 10255, 10258, 10259, 10260, 10263, 11269}) {
        const TRaised e = Raise(code, "");
        EXPECT_EQ(e.TableMessage, "") << code;
        EXPECT_EQ(e.Message,
                  Format("The Orvex database engine raised an error\r\n (error code #%d). ", {code}));
        EXPECT_TRUE(EndsWith(LastLogLine(), Format("ErrCode %d [ErrContext ]. CustomMsg ", {code})))
            << LastLogLine();
    }
}

TEST(VekDatabaseError, FindsCodeOutsideTheGroups)
{
    const TRaised e = Raise(130, "Field Name");
    EXPECT_EQ(e.TableMessage, "Alter table operation failed (exact cause unknown)");
    EXPECT_EQ(e.Message, "The Orvex database engine raised an error\r\n Alter table operation "
                           "failed (exact cause unknown) (error code #130) - Field Name");
}

TEST(VekDatabaseError, LogsTheCallerAndContextBeforeRaising)
{
    TComponent named(nullptr);
    named.SetName("VekDatabase1");
    TComponent unnamed(nullptr);
    TTestSender plain;

    const struct {
        TObject* Sender;
        const char* Caller; // as the log line shows it, 20 wide
    } cases[] = {
        {nullptr, "                    "},
        {&named, "        VekDatabase1"},
        {&unnamed, "          TComponent"},
        {&plain, "         TTestSender"},
    };
    for (const auto& c : cases) {
        const TRaised e = Raise(10249, "waited 10 times", c.Sender, "TBaseLockMgr.SetReadLock");
        EXPECT_EQ(e.Sender, c.Sender);
        const std::string line = LastLogLine();
        EXPECT_TRUE(EndsWith(
            line, LogTail("TBaseLockMgr.SetReadLock",
                          std::string("Exception:  Caller ") + c.Caller +
                              " ErrCode 10249 [ErrContext The requested lock could not be "
                              "obtained. The request timed out]. CustomMsg waited 10 times")))
            << line;
    }
}

TEST(VekDatabaseError, IsTheDatasetLayersError)
{
    try {
        VekDatabaseError(8581, "TDiskMgr.Open", "Database page size not set on opening", nullptr);
    } catch (const EDatabaseError& e) {
        EXPECT_NE(dynamic_cast<const EVekDatabaseError*>(&e), nullptr);
        return;
    }
    FAIL() << "no EDatabaseError";
}

TEST(VekDatabaseError, FormatsTheCustomText)
{
    TTestSender sender;
    try {
        VekDatabaseErrorFmt(9601, "TDiskMgr.AddTable", "%d of %s", {1000, "tables"}, &sender);
    } catch (const EVekDatabaseError& e) {
        EXPECT_EQ(e.Message(), "The Orvex database engine raised an error\r\n The database table "
                               "limit has been reached (error code #9601) - 1000 of tables");
        EXPECT_EQ(e.Sender, &sender);
        EXPECT_TRUE(EndsWith(LastLogLine(), "CustomMsg 1000 of tables")) << LastLogLine();
        return;
    }
    FAIL() << "VekDatabaseErrorFmt returned";
}

// ----------------------------------------------------------- resource strings

TEST(VekResourceStrings, CoverTheirIdentifiers)
{
    ASSERT_EQ(CVekResStrings.size(), 108u);
    std::set<std::string> names;
    for (int id = 65424; id <= 65535; ++id) {
        const TVekResString* res = FindVekResString(id);
        if (id >= 65436 && id <= 65439) {
            EXPECT_EQ(res, nullptr) << id;
            continue;
        }
        ASSERT_NE(res, nullptr) << id;
        EXPECT_EQ(res->Id, id);
        EXPECT_TRUE(names.insert(res->Name).second) << res->Name;
    }
    EXPECT_EQ(FindVekResString(65423), nullptr);
    EXPECT_EQ(FindVekResString(0), nullptr);
}

TEST(VekResourceStrings, NameTheirTexts)
{
    const struct {
        int Id;
        const char* Name;
        const char* Constant;
        std::string_view Text;
    } cases[] = {
        {65424, "SVekParameterNotFound", SVekParameterNotFound, "Parameter not found"},
        {65435, "SvekCannotDeletePrimaryIndex", SvekCannotDeletePrimaryIndex,
         "The primary index cannot be deleted"},
        {65440, "SvekUpdateMissingColumnReference", SvekUpdateMissingColumnReference,
         "Update statement missing column reference"},
        {65507, "SvekMDetFldError", SvekMDetFldError, " is not a valid index field for this index"},
        {65516, "SvekGeneratorNameFmt", SvekGeneratorNameFmt,
         "'%s' is not a valid generator name (min. length 1, '$' is a reserved first character"},
        {65520, "SvekErrorAnonBaseMsg", SvekErrorAnonBaseMsg,
         "The Orvex database engine raised an error\r\n (error code #%d). %s"},
        {65521, "SvekErrorAnonCustomMsg", SvekErrorAnonCustomMsg,
         "The Orvex database engine raised an error\r\n %s (error code #%d) - %s"},
        {65527, "SvekFileVersionDoesNotSupportOperation", SvekFileVersionDoesNotSupportOperation,
         "This database version does not support this operation "},
        {65535, "SvekCorruptEncryptionKey", SvekCorruptEncryptionKey,
         "The encrpytion key is not valid or corrupted"},
    };
    for (const auto& c : cases) {
        const TVekResString* res = FindVekResString(c.Id);
        ASSERT_NE(res, nullptr) << c.Id;
        EXPECT_STREQ(res->Name, c.Name);
        EXPECT_STREQ(res->Text, c.Constant) << c.Name;
        EXPECT_EQ(std::string_view(c.Constant), c.Text) << c.Name;
    }
}

// ---------------------------------------------------- enumerations and names

TEST(VekEnumerations, KeepTheirOrdinals)
{
    EXPECT_EQ(TVekSQLTokenCount, 115);
    EXPECT_EQ(TVekExprOperatorCount, 41);
    EXPECT_EQ(vstSelect, 6);
    EXPECT_EQ(vstAggFunc, 49);
    EXPECT_EQ(vstTemporary, 114);
    EXPECT_EQ(veoEQ, 3);
    EXPECT_EQ(veoLIKE, 30);
    EXPECT_EQ(veoPARAMETER, 40);
    EXPECT_EQ(vsSchemaManipulation, 6);
    EXPECT_EQ(opUpdateData, 8);
    EXPECT_EQ(spEditGroups, 4);
    EXPECT_EQ(dcDataLoss, 5);
    EXPECT_EQ(iomDiskVariableSize, 3);
}

TEST(VekEnumerations, NameTablesFollowTheOrdinals)
{
    EXPECT_STREQ(CVekStrSQLTokens[vstUnknown], "stUnknown");
    EXPECT_STREQ(CVekStrSQLTokens[vstCurrentTimestamp], "stCurrentTimestamp");
    EXPECT_STREQ(CVekStrSQLTokens[vstTemporary], "stTemporary");
    EXPECT_STREQ(C_STRCANOperator[veoNOTDEFINED], "coNOTDEFINED");
    EXPECT_STREQ(C_STRCANOperator[veoPARAMETER], "coPARAMETER");
    EXPECT_STREQ(CChangeTypeNames[dcDataChange], "Data Requirements Changed");
    EXPECT_STREQ(CEncryptionLevelNames[encStrong], "Strong");
    EXPECT_STREQ(CFilterOptLevelNames[olPartial], "Partial");
    EXPECT_STREQ(CSortOrderNames[soASCII], "ASCII sort order");
    EXPECT_STREQ(C_ObjectPrivilegeStr[opExecuteObj], "Open object");
    EXPECT_STREQ(C_ObjectPrivilegeStr[opUpdateData], "Update data");
    EXPECT_STREQ(C_SystemPrivilegeStr[spViewGroups], "View groups");
}

TEST(VekEnumerations, BooleanNamesComeFromTheDatasetLayer)
{
    EXPECT_EQ(C_BooleanStr[false], STextFalse);
    EXPECT_EQ(C_BooleanStr[true], STextTrue);
}

// ------------------------------------------------------------------- set types

TEST(VekEnumSet, HoldsMembersAcrossWords)
{
    TVekSQLTokens set{vstSelect, vstTemporary};
    EXPECT_TRUE(set.Contains(vstSelect));
    EXPECT_TRUE(set.Contains(vstTemporary)); // ordinal 114: the second word
    EXPECT_FALSE(set.Contains(vstFrom));
    EXPECT_EQ(set.Size(), 2);
    set.Include(vstFrom);
    set.Exclude(vstSelect);
    EXPECT_EQ(set, (TVekSQLTokens{vstFrom, vstTemporary}));
    set.Clear();
    EXPECT_TRUE(set.Empty());
    EXPECT_FALSE(set.Contains(static_cast<TVekSQLToken>(200)));
}

TEST(VekEnumSet, CombinesSets)
{
    const TObjectPrivilegeTypes read{opReadData};
    const TObjectPrivilegeTypes write{opInsertData, opUpdateData, opDeleteData};
    const TObjectPrivilegeTypes all = read + write;
    EXPECT_EQ(all.Size(), 4);
    EXPECT_EQ(all - write, read);
    EXPECT_EQ(all * (TObjectPrivilegeTypes{opReadData, opCreateObj}), read);
    EXPECT_TRUE(read <= all);
    EXPECT_FALSE(all <= read);
    EXPECT_TRUE(TSystemPrivilegeTypes{} <= TSystemPrivilegeTypes{spViewUsers});
}

TEST(VekEnumSet, RefusesValuesOutsideTheEnumeration)
{
    TSystemPrivilegeTypes set;
    EXPECT_THROW(set.Include(static_cast<TSystemPrivilegeType>(5)), EAssertionFailed);
    EXPECT_TRUE(set.Empty());
}

} // namespace
} // namespace orvex
