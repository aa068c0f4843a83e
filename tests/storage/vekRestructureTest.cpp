#include "storage/vekVerControl.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace orvex {
namespace {

std::vector<std::string> Lines(const TStrings& list)
{
    std::vector<std::string> lines;
    for (int i = 0; i < list.Count(); ++i)
        lines.push_back(list.Get(i));
    return lines;
}

// Runs Action, which must raise the engine error 9996; returns its message.
std::string InvalidModifyMessage(const std::function<void()>& Action)
{
    try {
        Action();
    } catch (const EVekDatabaseError& e) {
        EXPECT_EQ(e.ErrorCode, 9996);
        return e.Message();
    }
    ADD_FAILURE() << "no engine error";
    return {};
}

bool EndsWith(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// A table's current layout, a restructure copy of it and the change log.
class RestructureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FCurrent.Add("Name", ftString, 20);
        FCurrent.Add("Age", ftInteger);
        FCurrent.Add("Salary", ftFloat);
        FCurrent.Add("Notes", ftMemo);
        FCurrent.Add("LastName", ftString, 30, true);
        FIndexes.Add("ixName", "Name", 0);
        FIndexes.Add("ixAge", "Age;LastName", ixUnique);
        FFields.Assign(&FCurrent);
        FFields.SetChangeLog(&FLog);
        FNewIndexes.Assign(&FIndexes);
        FNewIndexes.SetChangeLog(&FLog);
    }

    TRestructureFieldDef* Field(const std::string& name) { return FFields.Find(name); }

    TFieldDefs FCurrent{nullptr};
    TIndexDefs FIndexes{nullptr};
    TRestructureFieldDefs FFields;
    TRestructureIndexDefs FNewIndexes;
    TStringList FLog;
};

// ------------------------------------------------------------- type changes

TEST(RestructureTypeChange, LossTable)
{
    struct Case {
        TFieldType Old, New;
        bool Loss;
    };
    const Case cases[] = {
        {ftInteger, ftSmallint, true},   {ftBoolean, ftSmallint, false}, {ftSmallint, ftWord, false},
        {ftFloat, ftWord, true},         {ftFloat, ftInteger, true},     {ftDateTime, ftAutoInc, true},
        {ftSmallint, ftInteger, false},  {ftInteger, ftFloat, false},    {ftInteger, ftBoolean, true},
        {ftBoolean, ftBoolean, false},   {ftFloat, ftCurrency, true},    {ftTime, ftBCD, true},
        {ftInteger, ftCurrency, false},  {ftString, ftMemo, true},       {ftMemo, ftBlob, false},
        {ftGraphic, ftFmtMemo, false},   {ftMemo, ftString, true},       {ftBlob, ftInteger, true},
        {ftString, ftInteger, true},     {ftInteger, ftString, true},    {ftString, ftWideString, false},
        {ftWideString, ftString, false}, {ftDate, ftDateTime, false},    {ftDateTime, ftDate, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RestructureTypeChangeLosesData(c.Old, c.New), c.Loss)
            << FieldTypeNames[c.Old] << " -> " << FieldTypeNames[c.New];
}

// ------------------------------------------------------------ field statuses

TEST_F(RestructureTest, AssignFromFieldDefsKeepsEveryFieldAsItsOwnSource)
{
    ASSERT_EQ(FFields.Count(), 5);
    EXPECT_EQ(Field("lastname")->SourceFieldName(), "LastName");
    EXPECT_EQ(Field("LastName")->Size(), 30);
    EXPECT_TRUE(Field("LastName")->Required());
    EXPECT_EQ(FFields.Find("missing"), nullptr);
    EXPECT_EQ(FFields.FindSourceDef("Age"), nullptr); // FieldDefs not set yet

    FFields.ValidateAgainstOriginalDefs(&FCurrent);
    EXPECT_EQ(FFields.ChangeStatus(), dcNoChange);
    EXPECT_EQ(FFields.FieldDefs(), &FCurrent);
    EXPECT_EQ(FFields.FindSourceDef("AGE"), FCurrent.Items(1));
    EXPECT_FALSE(FFields.CheckIfFieldsDeleted());
}

TEST_F(RestructureTest, FieldChangeStatusTable)
{
    struct Case {
        const char* What;
        std::function<void(TRestructureFieldDefs&)> Change;
        const char* Field; // the field whose status is checked (by its new name)
        TDefChangeType FieldStatus;
        TDefChangeType Overall;
    };
    const Case cases[] = {
        {"nothing", [](auto&) {}, "Name", dcNoChange, dcNoChange},
        {"string shortened", [](auto& d) { d.Find("Name")->SetSize(10); }, "Name", dcDataLoss, dcDataLoss},
        {"string lengthened", [](auto& d) { d.Find("Name")->SetSize(30); }, "Name", dcDataChange, dcDataChange},
        {"renamed", [](auto& d) { d.Find("Name")->SetName("Title"); }, "Title", dcDefOnlyChange, dcDefOnlyChange},
        {"case of name", [](auto& d) { d.Find("Name")->SetName("NAME"); }, "NAME", dcDefOnlyChange,
         dcDefOnlyChange},
        {"required", [](auto& d) { d.Find("Age")->SetRequired(true); }, "Age", dcDefOnlyChange, dcDefOnlyChange},
        {"moved", [](auto& d) { d.SwapDefs(0, 1); }, "Name", dcDefOnlyChange, dcDefOnlyChange},
        {"precision only", [](auto& d) { d.Find("Salary")->SetPrecision(4); }, "Salary", dcNoChange, dcNoChange},
        {"integer to float", [](auto& d) { d.Find("Age")->SetDataType(ftFloat); }, "Age", dcDataChange,
         dcDataChange},
        {"float to integer", [](auto& d) { d.Find("Salary")->SetDataType(ftInteger); }, "Salary", dcDataLoss,
         dcDataLoss},
        {"string to integer", [](auto& d) { d.Find("Name")->SetDataType(ftInteger); }, "Name", dcDataLoss,
         dcDataLoss},
        {"memo to blob", [](auto& d) { d.Find("Notes")->SetDataType(ftBlob); }, "Notes", dcDataChange,
         dcDataChange},
        {"added at the end", [](auto& d) { d.AddAndSetFieldDef("Email", ftString, 40); }, "Email", dcAdded,
         dcAdded},
        {"added in front", [](auto& d) { d.Insert(0)->SetName("Id"); }, "Name", dcDefOnlyChange, dcAdded},
        {"new field with an old name", [](auto& d) { d.Find("Age")->SetSourceFieldName(""); }, "Age", dcAdded,
         dcDataChange},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        TRestructureFieldDefs defs;
        defs.Assign(&FCurrent);
        c.Change(defs);
        defs.ValidateAgainstOriginalDefs(&FCurrent);
        ASSERT_NE(defs.Find(c.Field), nullptr);
        EXPECT_EQ(defs.Find(c.Field)->ChangeStatus(), c.FieldStatus);
        EXPECT_EQ(defs.ChangeStatus(), c.Overall);
    }
}

TEST_F(RestructureTest, DroppingAFieldNeverLowersTheStatus)
{
    struct Case {
        const char* What;
        std::function<void(TRestructureFieldDefs&)> Change;
        TDefChangeType Overall;
    };
    const Case cases[] = {
        {"drop only", [](auto&) {}, dcDataChange},
        {"drop after a rename", [](auto& d) { d.Find("Name")->SetName("Title"); }, dcDataChange},
        {"drop after a data loss", [](auto& d) { d.Find("Name")->SetSize(5); }, dcDataLoss},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        TRestructureFieldDefs defs;
        TStringList log;
        defs.SetChangeLog(&log);
        defs.Assign(&FCurrent);
        defs.SetFieldDefs(&FCurrent);
        defs.DeleteItem(1); // Age
        EXPECT_TRUE(defs.CheckIfFieldsDeleted());
        c.Change(defs);
        defs.ValidateAgainstOriginalDefs(&FCurrent);
        EXPECT_EQ(defs.ChangeStatus(), c.Overall);
        const std::vector<std::string> lines = Lines(log);
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2], "Prior Field Def: Age status: Deleted Item");
    }
}

TEST_F(RestructureTest, FieldChangeLogLines)
{
    Field("Name")->SetName("Title");
    Field("LastName")->SetSize(10); // shorter, and moved up by the drop
    FFields.DeleteItem(3);          // Notes
    FFields.AddAndSetFieldDef("Email", ftString, 40);
    FFields.ValidateAgainstOriginalDefs(&FCurrent);

    EXPECT_EQ(Lines(FLog), (std::vector<std::string>{
                               "Field Def: Title status: Definition Only Changed",
                               "Field Def: Age status: Unchanged Item",
                               "Field Def: Salary status: Unchanged Item",
                               "Field Def: LastName status: Data Loss Possible",
                               "Field Def: Email status: New Item",
                               "Prior Field Def: Notes status: Deleted Item",
                               "FieldDefs: Change status is - Data Loss Possible",
                           }));
    EXPECT_EQ(FFields.FieldDefs(), &FCurrent);
}

TEST_F(RestructureTest, FewerOrMoreFieldsSetTheStartingStatus)
{
    // Fewer fields start the collection at dcDeleted; the prior-field line raises it.
    FFields.DeleteItem(4);
    FFields.ValidateAgainstOriginalDefs(&FCurrent);
    EXPECT_EQ(FFields.ChangeStatus(), dcDataChange);

    // More fields without a changed one: dcAdded.
    TRestructureFieldDefs more;
    more.Assign(&FCurrent);
    more.AddFieldDef()->SetName("Extra");
    more.ValidateAgainstOriginalDefs(&FCurrent);
    EXPECT_EQ(more.ChangeStatus(), dcAdded);
}

TEST_F(RestructureTest, WithoutCurrentDefsEveryFieldIsNew)
{
    TFieldDefs other(nullptr);
    FFields.SetFieldDefs(&other);
    FFields.ValidateAgainstOriginalDefs(nullptr);
    EXPECT_EQ(FFields.ChangeStatus(), dcAdded);
    for (int i = 0; i < FFields.Count(); ++i)
        EXPECT_EQ(FFields.Items(i)->ChangeStatus(), dcAdded);
    EXPECT_EQ(FLog.Get(FLog.Count() - 1), "FieldDefs: Change status is - New Item");

    // A FieldDefs already set is kept.
    FFields.ValidateAgainstOriginalDefs(&FCurrent);
    EXPECT_EQ(FFields.FieldDefs(), &other);
}

TEST_F(RestructureTest, SourceFieldMustExist)
{
    Field("Age")->SetSourceFieldName("Missing");
    try {
        FFields.ValidateAgainstOriginalDefs(&FCurrent);
        FAIL() << "validated";
    } catch (const EAssertionFailed& e) {
        EXPECT_NE(e.Message().find("Source Def not found"), std::string::npos) << e.Message();
    }
}

TEST_F(RestructureTest, SwapDefsExchangesContentsAndChecksIndexes)
{
    Field("Age")->SetChangeStatus(dcDataLoss);
    FFields.SwapDefs(1, 4);
    EXPECT_EQ(FFields.Items(1)->Name(), "LastName");
    EXPECT_EQ(FFields.Items(1)->Size(), 30);
    EXPECT_EQ(FFields.Items(4)->Name(), "Age");
    EXPECT_EQ(FFields.Items(4)->ChangeStatus(), dcDataLoss);
    for (auto [i, j] : {std::pair{-1, 0}, std::pair{0, 5}}) {
        try {
            FFields.SwapDefs(i, j);
            ADD_FAILURE() << "swapped " << i << ", " << j;
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), "Invalid Field Def Index in SwapDefs");
        }
    }
}

TEST_F(RestructureTest, AssignToFieldDefsAndCopies)
{
    Field("Name")->SetName("Title");
    Field("Title")->SetPrecision(3);
    TFieldDefs dest(nullptr);
    FFields.AssignTo(&dest);
    ASSERT_EQ(dest.Count(), 5);
    EXPECT_EQ(dest.Items(0)->Name(), "Title");
    EXPECT_EQ(dest.Items(0)->Size(), 20);
    EXPECT_EQ(dest.Items(0)->Precision(), 3);
    EXPECT_TRUE(dest.Items(4)->Required());

    FFields.SetResetAutoIncValue(true);
    FFields.SetAutoIncResetValue(100);
    FFields.ValidateAgainstOriginalDefs(&FCurrent);
    TRestructureFieldDefs copy;
    copy.Assign(&FFields);
    EXPECT_EQ(copy.Items(0)->SourceFieldName(), "Name");
    EXPECT_EQ(copy.Items(0)->ChangeStatus(), dcDefOnlyChange);
    EXPECT_EQ(copy.ChangeStatus(), dcDefOnlyChange);
    EXPECT_TRUE(copy.ResetAutoIncValue());
    EXPECT_EQ(copy.AutoIncResetValue(), 100);
    EXPECT_EQ(copy.ChangeLog(), &FLog);
    EXPECT_EQ(copy.FieldDefs(), &FCurrent);
}

// ------------------------------------------------------------ new indexes

TEST_F(RestructureTest, NewIndexKeySizeAndFieldCountTable)
{
    struct Case {
        const char* Fields;
        Integer MaximumKeySize;
        const char* Error; // tail of the message, nullptr when valid
    };
    const Case cases[] = {
        {"Long;Count", 500, nullptr},   // 2 + 300 + 4 = 306
        {"Long;Long2", 500, "The Index 'ix' with fields 'Long;Long2' has exceeded the maximum key size of 500"},
        {"Wide249", 500, nullptr},      // 2 + 498 = 500: at the limit
        {"Wide250", 500, "The Index 'ix' with fields 'Wide250' has exceeded the maximum key size of 500"},
        {"Count;Flag;Stamp", 13, nullptr}, // 4 + 1 + 8
        {"Count;Flag;Stamp", 12, "The Index 'ix' with fields 'Count;Flag;Stamp' has exceeded the maximum key size of 12"},
        {"count;LONG", 500, nullptr},   // field names ignore case
        {"Count;Nope", 500, "The field 'Nope' in index 'ix' was not found in the table field definitions."},
    };
    TRestructureFieldDefs fields;
    fields.AddAndSetFieldDef("Long", ftString, 300);
    fields.AddAndSetFieldDef("Long2", ftString, 300);
    fields.AddAndSetFieldDef("Count", ftInteger, 0);
    fields.AddAndSetFieldDef("Flag", ftBoolean, 0);
    fields.AddAndSetFieldDef("Stamp", ftDateTime, 0);
    fields.AddAndSetFieldDef("Wide249", ftWideString, 249);
    fields.AddAndSetFieldDef("Wide250", ftWideString, 250);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Fields);
        TRestructureIndexDefs indexes;
        TStringList log;
        indexes.SetChangeLog(&log);
        indexes.SetMaximumKeySize(c.MaximumKeySize);
        indexes.AddAndSetIndexDef("ix", c.Fields, 0);
        if (!c.Error) {
            EXPECT_NO_THROW(indexes.ValidateNewIndexDefs(&fields));
            EXPECT_EQ(Lines(log), std::vector<std::string>{"IndexDefs: Validation OK"});
            continue;
        }
        const std::string message = InvalidModifyMessage([&] { indexes.ValidateNewIndexDefs(&fields); });
        EXPECT_TRUE(EndsWith(message, std::string("(error code #9996) - ") + c.Error)) << message;
        EXPECT_EQ(log.Count(), 0);
    }
}

TEST_F(RestructureTest, NewIndexFieldCountLimit)
{
    TRestructureFieldDefs fields;
    std::string names;
    for (int i = 0; i < 33; ++i) {
        fields.AddAndSetFieldDef("F" + std::to_string(i), ftBoolean, 0);
        names += (i ? ";F" : "F") + std::to_string(i);
    }
    TRestructureIndexDefs indexes;
    EXPECT_EQ(indexes.MaximumKeySize(), 500);
    EXPECT_EQ(indexes.MaximumKeyFieldCount(), 32);
    indexes.AddAndSetIndexDef("wide", names, 0);
    const std::string message = InvalidModifyMessage([&] { indexes.ValidateNewIndexDefs(&fields); });
    EXPECT_TRUE(EndsWith(message, "has exceeded the maximum key field count of 32")) << message;

    indexes.SetMaximumKeyFieldCount(33);
    EXPECT_NO_THROW(indexes.ValidateNewIndexDefs(&fields));
}

TEST_F(RestructureTest, OnlyOnePrimaryIndex)
{
    FNewIndexes.AddAndSetIndexDef("", "Name", ixPrimary | ixUnique);
    EXPECT_NO_THROW(FNewIndexes.CheckForDuplicatePrimaryIndexes());
    FNewIndexes.AddAndSetIndexDef("second", "Age", ixPrimary);
    for (const auto& check : std::vector<std::function<void()>>{
             [&] { FNewIndexes.CheckForDuplicatePrimaryIndexes(); },
             [&] { FNewIndexes.ValidateNewIndexDefs(&FFields); },
         }) {
        const std::string message = InvalidModifyMessage(check);
        EXPECT_TRUE(EndsWith(message, "- Only one primary index is permitted per table")) << message;
    }
}

// ------------------------------------------------------ index field lists

TEST_F(RestructureTest, ReplaceFieldNameRenamesWholeNamesOnly)
{
    struct Case {
        const char* Before;
        const char* After;
    };
    const Case cases[] = {
        {"Name", "Title"},
        {"LastName;Name", "LastName;Title"},
        {"name;NAME;Names", "Title;Title;Names"},
        {"FirstName;Age", "FirstName;Age"},
        {"", ""},
        {"Name;", "Title;"},
    };
    TRestructureIndexDefs indexes;
    for (const Case& c : cases) {
        TRestructureIndexDef* def = indexes.AddIndexDef();
        def->SetFields(c.Before);
        def->SetCaseInsFields(c.Before);
        def->SetDescFields(c.Before);
    }
    indexes.ReplaceFieldName("Name", "Title");
    for (int i = 0; i < indexes.Count(); ++i) {
        SCOPED_TRACE(cases[i].Before);
        EXPECT_EQ(indexes.Items(i)->Fields(), cases[i].After);
        EXPECT_EQ(indexes.Items(i)->CaseInsFields(), cases[i].After);
        EXPECT_EQ(indexes.Items(i)->DescFields(), cases[i].After);
    }
}

TEST_F(RestructureTest, DeleteFieldRemovesItFromEveryList)
{
    TRestructureIndexDef* def = FNewIndexes.AddAndSetIndexDef("ix", "Age;LastName;Name", ixCaseInsensitive);
    EXPECT_EQ(def->CaseInsFields(), "Age;LastName;Name");
    def->SetDescFields("LastName");
    FNewIndexes.DeleteField("lastname");
    EXPECT_EQ(def->Fields(), "Age;Name");
    EXPECT_EQ(def->CaseInsFields(), "Age;Name");
    EXPECT_EQ(def->DescFields(), "");
    EXPECT_EQ(FNewIndexes.Find("IXAGE")->Fields(), "Age");
}

// --------------------------------------------------------- index statuses

TEST_F(RestructureTest, IndexChangeStatusTable)
{
    struct Case {
        const char* What;
        std::function<void(TRestructureFieldDefs&, TRestructureIndexDefs&)> Change;
        const char* Index; // checked by its new name
        TDefChangeType IndexStatus;
        TDefChangeType Overall;
    };
    const Case cases[] = {
        {"nothing", [](auto&, auto&) {}, "ixName", dcNoChange, dcNoChange},
        {"index renamed", [](auto&, auto& i) { i.Find("ixName")->SetName("ixTitle"); }, "ixTitle", dcDefOnlyChange,
         dcDefOnlyChange},
        {"index name case", [](auto&, auto& i) { i.Find("ixName")->SetName("IXNAME"); }, "IXNAME", dcNoChange,
         dcNoChange},
        {"options", [](auto&, auto& i) { i.Find("ixName")->SetOptions(ixUnique); }, "ixName", dcDataChange,
         dcDataChange},
        {"position", [](auto&, auto& i) { i.Find("ixAge")->SetIndex(0); }, "ixName", dcDataChange, dcDataChange},
        {"fields", [](auto&, auto& i) { i.Find("ixName")->SetFields("Name;Age"); }, "ixName", dcDataChange,
         dcDataChange},
        {"fields case", [](auto&, auto& i) { i.Find("ixName")->SetFields("NAME"); }, "ixName", dcNoChange,
         dcNoChange},
        {"case-insensitive fields", [](auto&, auto& i) { i.Find("ixName")->SetCaseInsFields("Name"); }, "ixName",
         dcDataChange, dcDataChange},
        {"descending fields", [](auto&, auto& i) { i.Find("ixAge")->SetDescFields("Age"); }, "ixAge",
         dcDataChange, dcDataChange},
        {"key field type", [](auto& f, auto&) { f.Find("Name")->SetSize(30); }, "ixName", dcDataChange,
         dcDataChange},
        {"non-key field type", [](auto& f, auto&) { f.Find("Salary")->SetDataType(ftCurrency); }, "ixName",
         dcNoChange, dcNoChange},
        {"key field renamed only",
         [](auto& f, auto& i) {
             f.Find("Name")->SetName("Title");
             i.ReplaceFieldName("Name", "Title");
         },
         "ixName", dcDataChange, dcDataChange},
        {"new index", [](auto&, auto& i) { i.AddAndSetIndexDef("ixSalary", "Salary", 0); }, "ixSalary", dcAdded,
         dcAdded},
        {"index dropped", [](auto&, auto& i) { i.DeleteItem(1); }, "ixName", dcNoChange, dcDataChange},
        {"index replaced by a new one of its name",
         [](auto&, auto& i) { i.Find("ixAge")->SetSourceIndexDef(nullptr); }, "ixAge", dcAdded, dcDataChange},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        TRestructureFieldDefs fields;
        fields.Assign(&FCurrent);
        TRestructureIndexDefs indexes;
        indexes.Assign(&FIndexes);
        c.Change(fields, indexes);
        fields.ValidateAgainstOriginalDefs(&FCurrent);
        indexes.ValidateAgainstOriginalDefs(&FIndexes, &fields);
        ASSERT_NE(indexes.Find(c.Index), nullptr);
        EXPECT_EQ(indexes.Find(c.Index)->ChangeStatus(), c.IndexStatus);
        EXPECT_EQ(indexes.ChangeStatus(), c.Overall);
    }
}

TEST_F(RestructureTest, IndexChangeLogLines)
{
    TRestructureFieldDefs fields;
    fields.Assign(&FCurrent);
    fields.Find("LastName")->SetSize(40);
    fields.ValidateAgainstOriginalDefs(&FCurrent);

    FNewIndexes.Find("ixName")->SetName("ixTitle");
    FNewIndexes.Find("ixTitle")->SetFields("Name;Salary");
    FNewIndexes.AddAndSetIndexDef("ixNew", "Salary", 0);
    FNewIndexes.ValidateAgainstOriginalDefs(&FIndexes, &fields);
    EXPECT_EQ(Lines(FLog), (std::vector<std::string>{
                               "Index Def: ixTitle - Name changed",
                               "Index Def fields changed: ixTitle from Name to Name;Salary",
                               "Index Def: 'ixTitle' status: Data Requirements Changed",
                               "Index Def: ixAge - Changed field: LastName",
                               "Index Def: 'ixAge' status: Data Requirements Changed",
                               "New Index Def: ixNew",
                               "Index Def: 'ixNew' status: New Item",
                               "IndexDefs: Change status is - Data Requirements Changed",
                           }));

    FLog.Clear();
    FNewIndexes.Assign(&FIndexes);
    FNewIndexes.DeleteItem(0);
    FNewIndexes.ValidateAgainstOriginalDefs(&FIndexes, &fields);
    EXPECT_EQ(Lines(FLog), (std::vector<std::string>{
                               "Index Def: ixAge - Options or position changed",
                               "Index Def: 'ixAge' status: Data Requirements Changed",
                               "Prior Index Def: ixName status: Deleted Item",
                               "IndexDefs: Change status is - Data Requirements Changed",
                           }));
}

TEST_F(RestructureTest, IndexKeyFieldMustBeAmongTheNewFields)
{
    FFields.DeleteItem(0); // Name, still named by ixName
    FFields.ValidateAgainstOriginalDefs(&FCurrent);
    try {
        FNewIndexes.ValidateAgainstOriginalDefs(&FIndexes, &FFields);
        FAIL() << "validated";
    } catch (const EVekDatabaseError&) {
        FAIL() << "an engine error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(),
                  "The field 'Name' in index 'ixName' was not found in the table field definitions - Name");
    }
}

TEST_F(RestructureTest, WithoutCurrentIndexesEveryIndexIsNew)
{
    FNewIndexes.ValidateAgainstOriginalDefs(nullptr, &FFields);
    EXPECT_EQ(FNewIndexes.ChangeStatus(), dcAdded);
    EXPECT_EQ(FNewIndexes.Items(0)->ChangeStatus(), dcAdded);
    EXPECT_EQ(FNewIndexes.Items(1)->ChangeStatus(), dcAdded);
}

TEST_F(RestructureTest, IndexAssignKeepsSourcesAndCopiesBack)
{
    EXPECT_EQ(FNewIndexes.Items(1)->SourceIndexDef(), FIndexes.Items(1));
    EXPECT_EQ(FNewIndexes.FindSourceDef(FIndexes.Items(0)), FNewIndexes.Items(0));
    FNewIndexes.Find("ixAge")->SetDescFields("Age");
    FNewIndexes.SetMaximumKeySize(200);

    TRestructureIndexDefs copy;
    copy.Assign(&FNewIndexes);
    EXPECT_EQ(copy.Items(1)->SourceIndexDef(), FIndexes.Items(1));
    EXPECT_EQ(copy.MaximumKeySize(), 200);
    EXPECT_EQ(copy.ChangeLog(), &FLog);

    TIndexDefs dest(nullptr);
    copy.AssignTo(&dest);
    ASSERT_EQ(dest.Count(), 2);
    EXPECT_EQ(dest.Items(1)->Name(), "ixAge");
    EXPECT_EQ(dest.Items(1)->Fields(), "Age;LastName");
    EXPECT_EQ(dest.Items(1)->DescFields(), "Age");
    EXPECT_EQ(dest.Items(1)->Options(), TIndexOptions(ixUnique));
}

} // namespace
} // namespace orvex
