// The dataset layer's companions: parameters, the connection base, field
// and index definitions, and the engine's record-buffer layout.

#include "ClassesTestUtil.h"
#include "DatasetTestTable.h"
#include "PinnedFormatSettings.h"

#include "host/DateUtils.h"

namespace orvex::testing {
namespace {

using DatasetParams = PinnedFormatSettings;

TEST_F(DatasetParams, ValuesBindAndTypeTheParameter)
{
    TParams params;
    TParam* p = params.CreateParam(ftUnknown, "Amount", ptUnknown);
    EXPECT_FALSE(p->Bound());
    EXPECT_TRUE(p->IsNull());
    p->SetValue(Variant(2.5));
    EXPECT_TRUE(p->Bound());
    EXPECT_EQ(p->ParamType(), ptInput);
    EXPECT_EQ(p->DataType(), ftFloat);
    EXPECT_EQ(p->AsString(), "2.5");
    EXPECT_EQ(p->AsInteger(), 2);
    // The type, once known, stays.
    p->SetValue(Variant("7"));
    EXPECT_EQ(p->DataType(), ftFloat);
    EXPECT_EQ(p->AsFloat(), 7.0);

    struct Case {
        Variant Value;
        TFieldType Type;
    };
    const Case cases[] = {
        {Variant::FromSmallint(1), ftSmallint}, {Variant::FromByte(1), ftSmallint},
        {Variant(1), ftInteger},                {Variant(1.0), ftFloat},
        {Variant(Currency{1}), ftBCD},          {VarFromDateTime(1), ftDateTime},
        {Variant(true), ftBoolean},             {Variant("x"), ftString},
        {Null(), ftUnknown},
    };
    for (const Case& c : cases) {
        TParam* q = params.CreateParam(ftUnknown, "Q", ptInput);
        q->SetValue(c.Value);
        EXPECT_EQ(q->DataType(), c.Type) << VarToStr(c.Value);
    }
    TParam* e = params.CreateParam(ftUnknown, "E", ptInput);
    e->SetValue(Variant());
    EXPECT_FALSE(e->Bound());

    TParam* typed = params.CreateParam(ftUnknown, "T", ptInput);
    typed->SetAsDate(EncodeDate(2002, 2, 2));
    EXPECT_EQ(typed->DataType(), ftDate);
    typed->SetAsInteger(3);
    EXPECT_EQ(typed->DataType(), ftInteger);
    typed->Clear();
    EXPECT_TRUE(typed->IsNull());
    EXPECT_EQ(typed->AsString(), "");
    EXPECT_FALSE(typed->AsBoolean());
}

TEST_F(DatasetParams, ParamByNameAndValues)
{
    TMemTable owner;
    owner.SetName("Query1");
    TParams params(&owner);
    params.CreateParam(ftInteger, "A", ptInput)->SetAsInteger(1);
    params.CreateParam(ftString, "B", ptInput)->SetAsString("b");
    EXPECT_EQ(params.ParamByName("a")->AsInteger(), 1);
    EXPECT_EQ(params.FindParam("C"), nullptr);
    EXPECT_RAISES(params.ParamByName("C"), EDatabaseError, "Query1: Parameter 'C' not found");
    TParams loose;
    EXPECT_RAISES(loose.ParamByName("C"), EDatabaseError, "Parameter 'C' not found");

    params.SetParamValues("A;B", VarArrayOf({5, "z"}));
    const Variant values = params.ParamValues("A;B");
    EXPECT_EQ(values.GetElement(0).AsInteger(), 5);
    EXPECT_EQ(values.GetElement(1).AsString(), "z");

    TParams copy;
    copy.CreateParam(ftUnknown, "B", ptInput);
    copy.AssignValues(&params);
    EXPECT_EQ(copy.Items(0)->AsString(), "z");
    EXPECT_EQ(copy.Items(0)->DataType(), ftString);
}

TEST_F(DatasetParams, AssignFieldTakesTypeValueAndName)
{
    TMemTable table;
    table.FieldDefs()->Add("Total", ftCurrency);
    table.FieldDefs()->Add("Note", ftString, 5);
    table.Open();
    table.AddRecord({12.5, Null()});
    TParams params;
    TParam* p = params.CreateParam(ftUnknown, "total", ptInput);
    p->AssignField(table.FieldByName("Total"));
    EXPECT_EQ(p->Name(), "Total");
    EXPECT_EQ(p->DataType(), ftCurrency);
    EXPECT_EQ(p->AsFloat(), 12.5);
    EXPECT_TRUE(p->Bound());
    TParam* q = params.CreateParam(ftUnknown, "Note", ptInput);
    q->Assign(table.FieldByName("Note"));
    EXPECT_TRUE(q->IsNull());
    EXPECT_EQ(q->DataType(), ftString);
    TParam* r = params.CreateParam(ftUnknown, "", ptUnknown);
    r->Assign(p);
    EXPECT_EQ(r->Name(), "Total");
    EXPECT_EQ(r->AsFloat(), 12.5);
}

// A connection that only keeps a flag.
class TFlagConnection : public TCustomConnection {
public:
    using TCustomConnection::TCustomConnection;
    std::vector<std::string>* Log = nullptr;

protected:
    void DoConnect() override
    {
        Log->push_back("DoConnect");
        FConnected = true;
    }
    void DoDisconnect() override
    {
        Log->push_back("DoDisconnect");
        FConnected = false;
    }
    bool GetConnected() override { return FConnected; }

private:
    bool FConnected = false;
};

TEST_F(DatasetParams, ConnectionsRunTheirStepsAndTellTheirClients)
{
    std::vector<std::string> log;
    TFlagConnection connection(nullptr);
    connection.Log = &log;
    auto note = [&log](const char* name) { return [&log, name](TObject*) { log.push_back(name); }; };
    connection.BeforeConnect = note("BeforeConnect");
    connection.AfterConnect = note("AfterConnect");
    connection.BeforeDisconnect = note("BeforeDisconnect");
    connection.AfterDisconnect = note("AfterDisconnect");
    TMemTable first, second;
    TObject other;
    connection.RegisterClient(&first, [&log](TObject*, bool connecting) {
        log.push_back(connecting ? "first:on" : "first:off");
    });
    connection.RegisterClient(&other);
    connection.RegisterClient(&second);
    EXPECT_EQ(connection.DataSetCount(), 2);
    EXPECT_EQ(connection.DataSets(1), &second);
    EXPECT_RAISES(connection.DataSets(2), EListError, "List index out of bounds (2)");

    connection.Open();
    connection.Open(); // already connected: nothing
    EXPECT_TRUE(connection.Connected());
    connection.Close();
    EXPECT_FALSE(connection.Connected());
    EXPECT_EQ(log, (std::vector<std::string>{"BeforeConnect", "DoConnect", "first:on", "AfterConnect",
                                             "BeforeDisconnect", "first:off", "DoDisconnect",
                                             "AfterDisconnect"}));
    connection.UnRegisterClient(&first);
    EXPECT_EQ(connection.DataSetCount(), 1);
    EXPECT_EQ(connection.DataSets(0), &second);

    // Set while the component is read, it connects when loading ends.
    log.clear();
    connection.BeginLoading();
    connection.SetConnected(true);
    EXPECT_FALSE(connection.Connected());
    connection.EndLoading();
    EXPECT_TRUE(connection.Connected());
}

TEST_F(DatasetParams, FieldDefinitions)
{
    TMemTable table;
    table.SetName("T");
    TFieldDefs* defs = table.FieldDefs();
    defs->Add("A", ftString, 12, true);
    defs->Add("B", ftInteger);
    EXPECT_RAISES(defs->Add("a", ftInteger), EDatabaseError, "Duplicate name 'a' in TFieldDefs");
    EXPECT_EQ(defs->Count(), 2);
    EXPECT_EQ(defs->Find("b")->FieldNo(), 2);
    EXPECT_TRUE(defs->Items(0)->Required());
    EXPECT_RAISES(defs->Find("C"), EDatabaseError, "T: Field 'C' not found");
    defs->Items(1)->SetAttributes(faHiddenCol);
    int updates = 0;
    defs->OnUpdate = [&updates](TObject*) { ++updates; };
    defs->Items(0)->SetSize(10);
    EXPECT_GT(updates, 0);

    table.Open();
    EXPECT_EQ(table.FieldCount(), 1); // the hidden field gets no field object
    EXPECT_TRUE(table.FieldByName("A")->Required());
    EXPECT_EQ(table.FieldByName("A")->Size(), 10);
    EXPECT_TRUE(table.DefaultFields());
    table.Close();

    TFieldDefs copy(&table);
    copy.Assign(defs);
    EXPECT_EQ(copy.Count(), 2);
    EXPECT_EQ(copy.Items(0)->Name(), "A");
    EXPECT_EQ(copy.Items(0)->Size(), 10);
    EXPECT_EQ(copy.Items(1)->Attributes(), TFieldAttributes(faHiddenCol));

    // Update reads the definitions once, through the dataset.
    defs->SetUpdated(false);
    defs->Update();
    EXPECT_TRUE(defs->Updated());
    EXPECT_FALSE(table.Active());
}

TEST_F(DatasetParams, IndexDefinitions)
{
    TMemTable table;
    table.SetName("T");
    TIndexDefs defs(&table);
    defs.Add("ByName", "Name", ixCaseInsensitive);
    defs.Add("ByNameCity", "Name;City", 0);
    defs.Add("ByDate", "Date", ixDescending);
    defs.Add("Primary", "Id", ixPrimary | ixUnique);
    EXPECT_RAISES(defs.Add("byname", "X", 0), EDatabaseError, "Duplicate name 'byname' in TIndexDefs");
    EXPECT_EQ(defs.Find("primary")->Fields(), "Id");
    EXPECT_RAISES(defs.Find("None"), EDatabaseError, "T: Index 'None' not found");
    EXPECT_EQ(defs.FindIndexForFields("name")->Name(), "ByName");
    EXPECT_EQ(defs.FindIndexForFields("Name;City")->Name(), "ByNameCity");
    EXPECT_EQ(defs.GetIndexForFields("Name", true)->Name(), "ByName");
    EXPECT_EQ(defs.GetIndexForFields("Nam", false), nullptr); // a prefix must end at a ";"
    EXPECT_RAISES(defs.FindIndexForFields("Date"), EDatabaseError, "T: No index for fields 'Date'");
    TIndexDef* def = defs.Items(1);
    def->SetDescFields("City");
    def->SetCaseInsFields("Name");
    TIndexDefs copy(&table);
    copy.Assign(&defs);
    EXPECT_EQ(copy.Items(1)->DescFields(), "City");
    EXPECT_EQ(copy.Items(1)->CaseInsFields(), "Name");
    EXPECT_EQ(copy.Items(3)->Options(), TIndexOptions(ixPrimary | ixUnique));
}

TEST_F(DatasetParams, ActiveSetWhileLoadingOpensWhenLoadingEnds)
{
    TMemTable table;
    table.FieldDefs()->Add("ID", ftInteger);
    table.BeginLoading();
    table.SetActive(true);
    EXPECT_FALSE(table.Active());
    table.EndLoading();
    EXPECT_TRUE(table.Active());

    // While designing, a failing open is reported instead of raised.
    TMemTable broken;
    broken.FieldDefs()->Add("X", ftADT);
    broken.SetDesigning(true);
    broken.BeginLoading();
    broken.SetActive(true);
    EXPECT_NO_THROW(broken.EndLoading());
    EXPECT_FALSE(broken.Active());
}

TEST(DatasetRecordLayout, EngineInformationFollowsTheImage)
{
    const TRecordBufferLayout layout{30, 5};
    EXPECT_EQ(layout.RecAddrOffset(), 30);
    EXPECT_EQ(layout.RecNoOffset(), 34);
    EXPECT_EQ(layout.KeyFlagOffset(), 38);
    EXPECT_EQ(layout.CalcFieldsOffset(), 42);
    EXPECT_EQ(layout.RecordInfoOffset(), 47);
    EXPECT_EQ(layout.RecordStatusOffset(), 51);
    EXPECT_EQ(layout.BookmarkFlagOffset(), 52);
    EXPECT_EQ(layout.BookmarkOffset(), 55);
    EXPECT_EQ(layout.BufferSize(), 30 + 5 + 28);
}

} // namespace
} // namespace orvex::testing
