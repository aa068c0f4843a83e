// Editing through TDataSet: Edit, Insert, Append, Post, Cancel and Delete
// with their events in order, where new records land in the buffers, the
// error events, validation, and the dataset errors with their texts.

#include "ClassesTestUtil.h"
#include "DatasetTestTable.h"
#include "PinnedFormatSettings.h"

#include <memory>

namespace orvex::testing {
namespace {

class DatasetEdit : public PinnedFormatSettings {
protected:
    void SetUp() override
    {
        PinnedFormatSettings::SetUp();
        Table = std::make_unique<TMemTable>();
        Table->SetName("Orders");
        Table->FieldDefs()->Add("ID", ftInteger, 0, true);
        Table->FieldDefs()->Add("NAME", ftString, 10);
        Table->Open();
        for (int id = 1; id <= 6; ++id)
            Table->AddRecord({id * 10, "R" + std::to_string(id * 10)});
        Table->First();
        Log.Attach(Table.get());
    }

    TField* Field(const char* name) { return Table->FieldByName(name); }
    int Id() { return Field("ID")->AsInteger(); }

    // Every record's ID; the walk leaves the cursor and the event log as they were.
    std::vector<int> Ids()
    {
        const std::size_t logged = Log.Names.size();
        std::vector<int> ids;
        const TBookmark mark = Table->GetBookmark();
        for (Table->First(); !Table->Eof(); Table->Next())
            ids.push_back(Id());
        Table->GotoBookmark(mark);
        Log.Names.resize(logged);
        return ids;
    }

    std::unique_ptr<TMemTable> Table;
    EventLog Log;
};

TEST_F(DatasetEdit, EditAndPost)
{
    Table->Next();
    Log.Clear();
    Table->Edit();
    EXPECT_EQ(Table->State(), dsEdit);
    EXPECT_FALSE(Table->Modified());
    Field("NAME")->SetAsString("changed");
    EXPECT_TRUE(Table->Modified());
    Table->Post();
    EXPECT_EQ(Table->State(), dsBrowse);
    EXPECT_EQ(Log.Text(), "BeforeEdit,AfterEdit,BeforePost,AfterPost");
    EXPECT_EQ(Field("NAME")->AsString(), "changed");
    EXPECT_EQ(Id(), 20);
    EXPECT_EQ(Ids(), (std::vector<int>{10, 20, 30, 40, 50, 60}));
}

TEST_F(DatasetEdit, CancelDropsTheChanges)
{
    Table->Edit();
    Field("NAME")->SetAsString("gone");
    Table->Cancel();
    EXPECT_EQ(Log.Text(), "BeforeEdit,AfterEdit,BeforeCancel,AfterCancel");
    EXPECT_EQ(Field("NAME")->AsString(), "R10");
    EXPECT_EQ(Table->State(), dsBrowse);
}

TEST_F(DatasetEdit, InsertPutsTheRecordBeforeTheCurrentOne)
{
    TDataSource source(nullptr);
    source.SetDataSet(Table.get());
    TGridLink grid(4);
    grid.SetDataSource(&source);
    Table->MoveBy(2); // on 30
    Log.Clear();
    Table->OnNewRecord = [this](TDataSet*) {
        Log.Names.push_back("OnNewRecord");
        Field("NAME")->SetAsString("default");
    };
    Table->Insert();
    EXPECT_EQ(Table->State(), dsInsert);
    EXPECT_TRUE(Field("ID")->IsNull());
    EXPECT_EQ(Field("NAME")->AsString(), "default");
    EXPECT_FALSE(Table->Modified()); // OnNewRecord's values do not count
    EXPECT_EQ(grid.Rows("NAME"), (std::vector<std::string>{"R10", "R20", "default", "R30"}));
    Field("ID")->SetAsInteger(25);
    Table->Post();
    EXPECT_EQ(Log.Text(), "BeforeInsert,BeforeScroll,OnNewRecord,AfterInsert,AfterScroll,BeforePost,AfterPost");
    EXPECT_EQ(Id(), 25);
    EXPECT_EQ(grid.Rows("ID"), (std::vector<std::string>{"10", "20", "25", "30"}));
    EXPECT_EQ(Ids(), (std::vector<int>{10, 20, 25, 30, 40, 50, 60}));
}

TEST_F(DatasetEdit, AppendAddsAtTheEndWhereverTheCursorIs)
{
    TDataSource source(nullptr);
    source.SetDataSet(Table.get());
    TGridLink grid(3);
    grid.SetDataSource(&source);
    Table->Append();
    // The buffers now hold the last records and the new one.
    EXPECT_EQ(grid.Rows("ID"), (std::vector<std::string>{"50", "60", ""}));
    Field("ID")->SetAsInteger(70);
    Table->Post();
    EXPECT_EQ(Log.Text(), "BeforeInsert,BeforeScroll,OnNewRecord,AfterInsert,AfterScroll,BeforePost,AfterPost");
    EXPECT_EQ(Id(), 70);
    EXPECT_EQ(Ids(), (std::vector<int>{10, 20, 30, 40, 50, 60, 70}));
}

TEST_F(DatasetEdit, CancelledInsertReturnsToTheRecordItStoodOn)
{
    Table->MoveBy(3); // on 40
    Table->Insert();
    Field("ID")->SetAsInteger(35);
    Table->Cancel();
    EXPECT_EQ(Log.Text(), "BeforeScroll,AfterScroll,BeforeInsert,BeforeScroll,OnNewRecord,AfterInsert,"
                          "AfterScroll,BeforeCancel,BeforeScroll,AfterCancel,AfterScroll");
    EXPECT_EQ(Id(), 40);
    EXPECT_EQ(Ids(), (std::vector<int>{10, 20, 30, 40, 50, 60}));
}

TEST_F(DatasetEdit, DeleteMovesToTheNextRecord)
{
    Table->Next();
    Log.Clear();
    Table->Delete();
    EXPECT_EQ(Log.Text(), "BeforeDelete,BeforeScroll,AfterDelete,AfterScroll");
    EXPECT_EQ(Id(), 30);
    Table->Last();
    Table->Delete();
    EXPECT_EQ(Id(), 50);
    EXPECT_EQ(Ids(), (std::vector<int>{10, 30, 40, 50}));
    // Deleting an insert only cancels it.
    Table->Insert();
    Log.Clear();
    Table->Delete();
    EXPECT_EQ(Log.Text(), "BeforeCancel,BeforeScroll,AfterCancel,AfterScroll");
    EXPECT_EQ(Table->RecordCount(), 4);
}

TEST_F(DatasetEdit, LeavingAnEditPostsOrCancelsByModified)
{
    // The edit ends before the move begins.
    Table->Edit();
    Table->Next(); // nothing changed: cancelled
    EXPECT_EQ(Log.Text(), "BeforeEdit,AfterEdit,BeforeCancel,AfterCancel,BeforeScroll,AfterScroll");
    Log.Clear();
    Table->Edit();
    Field("NAME")->SetAsString("kept");
    Table->Prior(); // changed: posted
    EXPECT_EQ(Log.Text(), "BeforeEdit,AfterEdit,BeforePost,AfterPost,BeforeScroll,AfterScroll");
    Table->Next();
    EXPECT_EQ(Field("NAME")->AsString(), "kept");
}

TEST_F(DatasetEdit, EditOfAnEmptyDatasetInserts)
{
    TMemTable empty;
    empty.FieldDefs()->Add("ID", ftInteger);
    empty.Open();
    empty.Edit();
    EXPECT_EQ(empty.State(), dsInsert);
    empty.FieldByName("ID")->SetAsInteger(1);
    empty.Post();
    EXPECT_EQ(empty.RecordCount(), 1);
    EXPECT_FALSE(empty.Eof());
}

TEST_F(DatasetEdit, ValidationSeesTheNewValueAndMayRefuseIt)
{
    std::string seen;
    Field("NAME")->OnValidate = [&seen](TField* sender) {
        seen = sender->AsString();
        if (seen == "bad")
            throw EDatabaseError("refused");
    };
    int changes = 0;
    Field("NAME")->OnChange = [&changes](TField*) { ++changes; };
    Table->Edit();
    Field("NAME")->SetAsString("good");
    EXPECT_EQ(seen, "good");
    EXPECT_RAISES(Field("NAME")->SetAsString("bad"), EDatabaseError, "refused");
    EXPECT_EQ(Field("NAME")->AsString(), "good");
    EXPECT_EQ(changes, 1);
}

TEST_F(DatasetEdit, PostErrorsMayBeRetriedOrAborted)
{
    Field("NAME")->SetRequired(true);
    Table->Insert();
    Field("ID")->SetAsInteger(5);
    EXPECT_RAISES(Table->Post(), EDatabaseError, "Field 'NAME' must have a value");
    EXPECT_EQ(Table->State(), dsInsert);

    int calls = 0;
    Table->OnPostError = [&](TDataSet*, EDatabaseError* error, TDataAction& action) {
        ++calls;
        EXPECT_EQ(error->Message(), "Field 'NAME' must have a value");
        Field("NAME")->SetAsString("fixed");
        action = daRetry;
    };
    Table->Post();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(Field("NAME")->AsString(), "fixed");

    Table->Insert();
    Table->OnPostError = [](TDataSet*, EDatabaseError*, TDataAction& action) { action = daAbort; };
    EXPECT_RAISES(Table->Post(), EAbort, "Operation aborted");
    EXPECT_EQ(Table->State(), dsInsert);
}

TEST_F(DatasetEdit, DatasetErrorsCarryTheFrameworkTexts)
{
    EXPECT_RAISES(Table->Post(), EDatabaseError, "Orders: Dataset not in edit or insert mode");
    EXPECT_RAISES(Field("NAME")->SetAsString("x"), EDatabaseError, "Orders: Dataset not in edit or insert mode");
    EXPECT_RAISES(Table->FieldByName("NOPE"), EDatabaseError, "Orders: Field 'NOPE' not found");
    EXPECT_RAISES(Field("NAME")->SetSize(4), EDatabaseError, "Orders: Cannot perform this operation on an open dataset");

    Field("NAME")->SetReadOnly(true);
    Table->Edit();
    EXPECT_RAISES(Field("NAME")->SetAsString("x"), EDatabaseError, "Field 'NAME' cannot be modified");
    Table->Cancel();

    Table->ReadOnlyTable = true;
    EXPECT_RAISES(Table->Edit(), EDatabaseError, "Orders: Cannot modify a read-only dataset");
    EXPECT_RAISES(Table->Append(), EDatabaseError, "Orders: Cannot modify a read-only dataset");

    TMemTable empty;
    empty.FieldDefs()->Add("ID", ftInteger);
    EXPECT_RAISES(empty.Edit(), EDatabaseError, "Cannot perform this operation on a closed dataset");
    empty.Open();
    EXPECT_RAISES(empty.Delete(), EDatabaseError, "Cannot perform this operation on an empty dataset");
    TField* id = empty.FieldByName("ID");
    EXPECT_RAISES(id->SetFieldName(""), EDatabaseError, "Cannot perform this operation on an open dataset");
    empty.Close();

    // Fields of their own: names must be present and unique.
    auto* first = new TIntegerField(&empty);
    first->SetFieldName("A");
    first->SetDataSet(&empty);
    auto* second = new TIntegerField(&empty);
    second->SetFieldName("a");
    EXPECT_RAISES(second->SetDataSet(&empty), EDatabaseError, "Duplicate field name 'a'");
    auto* third = new TIntegerField(&empty);
    EXPECT_RAISES(third->SetDataSet(&empty), EDatabaseError, "Field name missing");
    // A field the definitions lack cannot be opened.
    EXPECT_RAISES(empty.Open(), EDatabaseError, "Field 'A' not found");
    EXPECT_FALSE(empty.Active());
}

TEST_F(DatasetEdit, ClearFieldsEmptiesTheRecordBeingEdited)
{
    Table->Edit();
    Table->ClearFields();
    EXPECT_TRUE(Field("ID")->IsNull());
    EXPECT_TRUE(Field("NAME")->IsNull());
    Table->Cancel();
    EXPECT_EQ(Id(), 10);
    EXPECT_RAISES(Table->ClearFields(), EDatabaseError, "Orders: Dataset not in edit or insert mode");
}

} // namespace
} // namespace orvex::testing
