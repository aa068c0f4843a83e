// States that choose the buffer a field reads and writes (set-key, filter,
// calc-fields), calculated and lookup fields, a master-detail link driving
// the detail's range, DisableControls, block reads and blob streams.

#include "ClassesTestUtil.h"
#include "DatasetTestTable.h"
#include "PinnedFormatSettings.h"

#include <memory>

namespace orvex::testing {
namespace {

class DatasetStates : public PinnedFormatSettings {
protected:
    void SetUp() override
    {
        PinnedFormatSettings::SetUp();
        Table = std::make_unique<TMemTable>();
        Table->SetName("Items");
        Table->KeyField = "ID";
        Table->FieldDefs()->Add("ID", ftInteger);
        Table->FieldDefs()->Add("NAME", ftString, 10);
    }

    void Fill(int count)
    {
        Table->Open();
        for (int id = 1; id <= count; ++id)
            Table->AddRecord({id, "R" + std::to_string(id)});
        Table->First();
    }

    std::vector<int> Ids(TDataSet* dataSet, const char* field = "ID")
    {
        std::vector<int> ids;
        for (dataSet->First(); !dataSet->Eof(); dataSet->Next())
            ids.push_back(dataSet->FieldByName(field)->AsInteger());
        return ids;
    }

    TField* Field(const char* name) { return Table->FieldByName(name); }

    std::unique_ptr<TMemTable> Table;
};

TEST_F(DatasetStates, SetKeyWritesTheKeyBufferNotTheRecord)
{
    Fill(9);
    TDataSource source(nullptr);
    source.SetDataSet(Table.get());
    TGridLink grid(3);
    grid.SetDataSource(&source);

    Table->SetKey();
    EXPECT_EQ(Table->State(), dsSetKey);
    EXPECT_EQ(grid.RecordCount(), 1); // a link sees the key as its only row
    EXPECT_TRUE(Field("ID")->IsNull());
    Field("ID")->SetAsInteger(7);
    EXPECT_EQ(Field("ID")->AsInteger(), 7);
    EXPECT_TRUE(Table->GotoKey());
    EXPECT_EQ(Table->State(), dsBrowse);
    EXPECT_EQ(Field("ID")->AsInteger(), 7);
    EXPECT_EQ(Field("NAME")->AsString(), "R7");

    // Cancelling the key leaves the records untouched.
    Table->SetKey();
    Field("ID")->SetAsInteger(99);
    Table->Cancel();
    EXPECT_EQ(Field("ID")->AsInteger(), 7);
    Table->SetKey();
    Field("ID")->SetAsInteger(99);
    EXPECT_FALSE(Table->GotoKey());
    EXPECT_EQ(Ids(Table.get()), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST_F(DatasetStates, FilterRecordReadsTheFilterBuffer)
{
    Fill(10);
    TDataSetState stateSeen = dsInactive;
    Table->SetOnFilterRecord([&](TDataSet* dataSet, bool& accept) {
        stateSeen = dataSet->State();
        accept = dataSet->FieldByName("ID")->AsInteger() % 2 == 0;
    });
    Table->Next(); // on 2: the filter must not disturb the active record
    Table->SetFiltered(true);
    Table->First();
    EXPECT_EQ(stateSeen, dsFilter);
    EXPECT_EQ(Ids(Table.get()), (std::vector<int>{2, 4, 6, 8, 10}));
    EXPECT_EQ(Table->RecordCount(), 5);
    Table->Last();
    Table->Prior();
    EXPECT_EQ(Field("ID")->AsInteger(), 8);
    EXPECT_EQ(Table->State(), dsBrowse);
    // Writing a field while filtering goes to the filter buffer only.
    Table->SetOnFilterRecord([](TDataSet* dataSet, bool& accept) {
        dataSet->FieldByName("NAME")->SetAsString("scratch");
        accept = true;
    });
    Table->First();
    EXPECT_EQ(Field("NAME")->AsString(), "R1");
    Table->SetFiltered(false);
    EXPECT_EQ(Table->RecordCount(), 10);
}

TEST_F(DatasetStates, CalculatedFieldsUseTheCalcBuffer)
{
    // Persistent fields: no default fields are made.
    auto* id = new TIntegerField(Table.get());
    id->SetFieldName("ID");
    id->SetDataSet(Table.get());
    auto* name = new TStringField(Table.get());
    name->SetSize(10);
    name->SetFieldName("NAME");
    name->SetDataSet(Table.get());
    auto* twice = new TIntegerField(Table.get());
    twice->SetFieldName("TWICE");
    twice->SetFieldKind(fkCalculated);
    twice->SetDataSet(Table.get());
    auto* label = new TStringField(Table.get());
    label->SetSize(12);
    label->SetFieldName("LABEL");
    label->SetFieldKind(fkCalculated);
    label->SetDataSet(Table.get());

    int calculations = 0;
    TDataSetState stateSeen = dsInactive;
    Table->OnCalcFields = [&](TDataSet* dataSet) {
        ++calculations;
        stateSeen = dataSet->State();
        if (!id->IsNull())
            twice->SetAsInteger(id->AsInteger() * 2);
        label->SetAsString("#" + name->AsString());
    };
    Fill(5);
    EXPECT_EQ(stateSeen, dsCalcFields);
    EXPECT_EQ(twice->FieldNo(), -1);
    EXPECT_EQ(twice->Offset(), 0);
    EXPECT_EQ(label->Offset(), 5); // after TWICE's has-value byte and 4 bytes
    EXPECT_EQ(Table->CalcFieldsSize(), 5 + 14);

    TDataSource source(nullptr);
    source.SetDataSet(Table.get());
    TGridLink grid(5);
    grid.SetDataSource(&source);
    EXPECT_EQ(grid.Rows("TWICE"), (std::vector<std::string>{"2", "4", "6", "8", "10"}));
    EXPECT_EQ(grid.Rows("LABEL"), (std::vector<std::string>{"#R1", "#R2", "#R3", "#R4", "#R5"}));

    // A calculated field cannot be written outside editing.
    EXPECT_RAISES(twice->SetAsInteger(1), EDatabaseError, "Items: Dataset not in edit or insert mode");

    // While editing, a changed data field recalculates at once...
    Table->Edit();
    id->SetAsInteger(21);
    EXPECT_EQ(twice->AsInteger(), 42);
    Table->Cancel();
    EXPECT_EQ(twice->AsInteger(), 2);
    // ...unless AutoCalcFields is off; the buffer is recalculated when read again.
    Table->AutoCalcFields = false;
    Table->Edit();
    calculations = 0;
    id->SetAsInteger(30);
    EXPECT_EQ(calculations, 0);
    EXPECT_EQ(twice->AsInteger(), 2);
    Table->Post();
    EXPECT_EQ(twice->AsInteger(), 60);

    // Inserted records start with cleared calculated fields.
    Table->Insert();
    EXPECT_TRUE(twice->IsNull());
    Table->Cancel();
}

TEST_F(DatasetStates, LookupFieldsAskTheLookupDataset)
{
    Fill(3);
    TMemTable orders;
    orders.FieldDefs()->Add("NO", ftInteger);
    orders.FieldDefs()->Add("ITEM", ftInteger);
    for (int i = 0; i < orders.FieldDefs()->Count(); ++i)
        orders.FieldDefs()->Items(i)->CreateField(&orders);
    auto* itemName = new TStringField(&orders);
    itemName->SetSize(10);
    itemName->SetFieldName("ITEMNAME");
    itemName->SetFieldKind(fkLookup);
    itemName->SetLookupDataSet(Table.get());
    itemName->KeyFields = "ITEM";
    itemName->LookupKeyFields = "ID";
    itemName->LookupResultField = "NAME";
    itemName->SetDataSet(&orders);
    orders.Open();
    orders.AddRecord({100, 2});
    orders.AddRecord({101, 3});
    orders.AddRecord({102, 9});
    std::vector<std::string> names;
    for (orders.First(); !orders.Eof(); orders.Next())
        names.push_back(itemName->AsString());
    EXPECT_EQ(names, (std::vector<std::string>{"R2", "R3", ""}));
    orders.Close();
    itemName->LookupResultField.clear();
    EXPECT_RAISES(orders.Open(), EDatabaseError, "Lookup information for field 'ITEMNAME' is incomplete");
    // The lookup dataset's end is noticed.
    auto* shortLived = new TMemTable(nullptr);
    itemName->SetLookupDataSet(shortLived);
    delete shortLived;
    EXPECT_EQ(itemName->LookupDataSet(), nullptr);
}

TEST_F(DatasetStates, AMasterLinkDrivesTheDetailRange)
{
    Fill(3); // the master: items 1..3
    TMemTable detail;
    detail.SetName("Lines");
    detail.KeyField = "ITEM";
    detail.FieldDefs()->Add("LINE", ftInteger);
    detail.FieldDefs()->Add("ITEM", ftInteger);
    detail.Open();
    for (int line = 1; line <= 9; ++line)
        detail.AddRecord({line, (line - 1) % 3 + 1});

    TDataSource master(nullptr);
    master.SetDataSet(Table.get());
    detail.SetMasterSource(&master);
    detail.SetMasterFields("ID");
    EXPECT_TRUE(detail.RangeActive());
    EXPECT_EQ(Ids(&detail, "LINE"), (std::vector<int>{1, 4, 7}));

    // The detail follows each move of the master.
    Table->Next();
    EXPECT_EQ(detail.FieldByName("LINE")->AsInteger(), 2);
    EXPECT_EQ(Ids(&detail, "LINE"), (std::vector<int>{2, 5, 8}));
    Table->Last();
    EXPECT_EQ(Ids(&detail, "LINE"), (std::vector<int>{3, 6, 9}));

    // A pending detail edit is posted before the master moves.
    detail.First();
    detail.Edit();
    detail.FieldByName("LINE")->SetAsInteger(30);
    Table->First();
    EXPECT_EQ(detail.State(), dsBrowse);
    Table->Last();
    EXPECT_EQ(Ids(&detail, "LINE"), (std::vector<int>{30, 6, 9}));

    // Reopening the detail applies the range before the first fetch.
    detail.Close();
    detail.Open();
    EXPECT_EQ(Ids(&detail, "LINE"), (std::vector<int>{30, 6, 9}));

    // Closing the master disables the link: the whole table shows.
    Table->Close();
    EXPECT_FALSE(detail.RangeActive());
    EXPECT_EQ(detail.RecordCount(), 9);

    // A master source that leads back to the detail is refused.
    TDataSource lines(nullptr);
    lines.SetDataSet(&detail);
    EXPECT_RAISES(Table->SetMasterSource(&lines), EDatabaseError, "Items: Circular datalinks are not allowed");
    TDataSource self(nullptr);
    EXPECT_TRUE(detail.IsLinkedTo(&lines));
    detail.SetMasterSource(&self);
    EXPECT_RAISES(self.SetDataSet(&detail), EDatabaseError, "Circular datalinks are not allowed");
}

TEST_F(DatasetStates, DisabledControlsHearOneChangeAtTheEnd)
{
    Fill(6);
    TDataSource source(nullptr);
    source.SetDataSet(Table.get());
    TGridLink grid(2);
    grid.SetDataSource(&source);
    int dataChanges = 0;
    source.OnDataChange = [&dataChanges](TObject*, TField*) { ++dataChanges; };
    grid.Heard.clear();
    Table->DisableControls();
    EXPECT_TRUE(Table->ControlsDisabled());
    Table->Next();
    Table->Edit();
    Field("NAME")->SetAsString("quiet");
    Table->Post();
    Table->Last();
    EXPECT_TRUE(grid.Heard.empty());
    EXPECT_EQ(dataChanges, 0);
    Table->EnableControls();
    EXPECT_EQ(grid.Heard, (std::vector<std::string>{"DataSetChanged"}));
    EXPECT_EQ(dataChanges, 1);
    EXPECT_EQ(grid.Rows("ID"), (std::vector<std::string>{"5", "6"}));
}

TEST_F(DatasetStates, StateChangesReachSourcesAndLinks)
{
    Fill(2);
    TDataSource source(nullptr);
    std::vector<TDataSetState> states;
    source.OnStateChange = [&](TObject*) { states.push_back(source.State()); };
    source.SetDataSet(Table.get());
    TGridLink link(1);
    link.SetDataSource(&source);
    link.Heard.clear();
    Table->Edit();
    Field("NAME")->SetAsString("x");
    Table->Post();
    Table->Close();
    EXPECT_EQ(states, (std::vector<TDataSetState>{dsBrowse, dsEdit, dsBrowse, dsInactive}));
    EXPECT_EQ(link.Heard, (std::vector<std::string>{"EditingChanged", "RecordChanged", "RecordChanged:NAME",
                                                    "EditingChanged", "DataSetChanged", "ActiveChanged"}));
    // A disabled source shows an inactive dataset.
    Table->Open();
    source.SetEnabled(false);
    EXPECT_EQ(source.State(), dsInactive);
    EXPECT_FALSE(link.Active());
}

TEST_F(DatasetStates, BlockReadKeepsLinksQuiet)
{
    Fill(5);
    TDataSource source(nullptr);
    source.SetDataSet(Table.get());
    TGridLink grid(1);
    grid.SetDataSource(&source);
    grid.Heard.clear();
    Table->SetBlockReadSize(10);
    EXPECT_EQ(Table->State(), dsBlockRead);
    std::vector<int> ids;
    for (; !Table->Eof(); Table->Next())
        ids.push_back(Field("ID")->AsInteger());
    EXPECT_EQ(ids, (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_TRUE(grid.Heard.empty());
    Table->SetBlockReadSize(0);
    EXPECT_EQ(Table->State(), dsBrowse);
    EXPECT_EQ(grid.Heard, (std::vector<std::string>{"DataSetChanged"}));
}

TEST_F(DatasetStates, BlobStreamsReadWriteAndTruncate)
{
    Table->FieldDefs()->Add("NOTES", ftMemo);
    Fill(2);
    auto* notes = static_cast<TBlobField*>(Field("NOTES"));
    EXPECT_TRUE(notes->IsNull());
    EXPECT_EQ(notes->DisplayText(), "(Memo)");

    Table->Edit();
    notes->SetAsString("first text");
    EXPECT_TRUE(notes->Modified());
    EXPECT_FALSE(notes->IsNull());
    Table->Post();
    EXPECT_FALSE(notes->Modified());
    EXPECT_EQ(notes->AsString(), "first text");
    EXPECT_EQ(notes->DisplayText(), "(MEMO)");
    EXPECT_EQ(notes->BlobSize(), 10);

    // A write stream starts empty: writing truncates the old value.
    Table->Edit();
    {
        std::unique_ptr<TStream> stream(Table->CreateBlobStream(notes, bmWrite));
        EXPECT_EQ(stream->Size(), 0);
        stream->WriteBuffer("new", 3);
    }
    EXPECT_EQ(notes->AsString(), "new");
    {
        std::unique_ptr<TStream> stream(Table->CreateBlobStream(notes, bmReadWrite));
        EXPECT_EQ(stream->Size(), 3);
        stream->Seek(0, soEnd);
        stream->WriteBuffer("er", 2);
    }
    EXPECT_EQ(notes->AsString(), "newer");
    // An empty value is null.
    notes->Clear();
    EXPECT_TRUE(notes->IsNull());
    TStringStream source("from a stream");
    notes->LoadFromStream(&source);
    Table->Post();
    TStringStream target;
    notes->SaveToStream(&target);
    EXPECT_EQ(target.DataString(), "from a stream");

    EXPECT_RAISES(std::unique_ptr<TStream>(Table->CreateBlobStream(notes, bmWrite)), EDatabaseError,
                  "Items: Dataset not in edit or insert mode");
    notes->SetReadOnly(true);
    Table->Edit();
    EXPECT_RAISES(notes->SetAsString("x"), EDatabaseError, "Field 'NOTES' cannot be modified");
    Table->Cancel();
    Table->Next();
    EXPECT_TRUE(notes->IsNull());
}

} // namespace
} // namespace orvex::testing
