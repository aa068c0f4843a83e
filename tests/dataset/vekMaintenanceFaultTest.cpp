// Table maintenance that is cancelled by its progress handler, or meets a
// failing write, changes nothing: the same definition and records, every
// index agrees with a full scan, unique indexes still refuse duplicates, the
// file is no larger, and the call raises instead of returning.

#include "vekTableTestUtil.h"

#include "dataset/vekDatabase.h"
#include "platform/FileIO.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace orvex::tabletests {
namespace {

constexpr int Records = 400;

enum class TOp {
    ReIndex,
    EmptyTable,
    RebuildTable,
    CopyIntoTable,
    RebuildTableFromFile,
    RebuildDatabase,
    RestructureAddField,
    RestructureAddIndex,
    RestructureRenameField,
    AddIndex,
    DeleteIndex,
    UpdateTableDef
};

// The operations whose progress handler can stop them.
bool ReportsProgress(TOp Op)
{
    switch (Op) {
    case TOp::EmptyTable:
    case TOp::RestructureRenameField:
    case TOp::AddIndex:
    case TOp::DeleteIndex:
    case TOp::UpdateTableDef:
        return false;
    default:
        return true;
    }
}

const char* OpName(TOp Op)
{
    switch (Op) {
    case TOp::ReIndex:
        return "ReIndex";
    case TOp::EmptyTable:
        return "EmptyTable";
    case TOp::RebuildTable:
        return "RebuildTable";
    case TOp::CopyIntoTable:
        return "CopyIntoTable";
    case TOp::RebuildTableFromFile:
        return "RebuildTableFromFile";
    case TOp::RebuildDatabase:
        return "RebuildDatabase";
    case TOp::RestructureAddField:
        return "RestructureAddField";
    case TOp::RestructureAddIndex:
        return "RestructureAddIndex";
    case TOp::RestructureRenameField:
        return "RestructureRenameField";
    case TOp::AddIndex:
        return "AddIndex";
    case TOp::DeleteIndex:
        return "DeleteIndex";
    case TOp::UpdateTableDef:
        return "UpdateTableDef";
    }
    return "";
}

// How the operation is stopped: a cancel at a percentage, or the n-th file
// write (counted from the start of the operation) failing.
struct TStop {
    bool Cancel;
    int At; // percent for a cancel; for a write, a fraction in thousandths of the writes of a full run
};

struct TCase {
    TOp Op;
    TStop Stop;
};

std::string CaseName(const ::testing::TestParamInfo<TCase>& Info)
{
    return std::string(OpName(Info.param.Op)) + (Info.param.Stop.Cancel ? "_CancelAt" : "_WriteFailsAt") +
           std::to_string(Info.param.Stop.At);
}

// A database file "m.vek" holding "People" (Records records, unique ixID,
// ixName, a memo) and "Other" (the same layout, 50 records), and "src.vek"
// with "People" of 100 other records for the copies from another file.
class MaintenanceFault : public ::testing::TestWithParam<TCase> {
protected:
    void SetUp() override
    {
        MakeFile(Path(), 1, Records, true);
        MakeFile(FDir.File("src.vek"), 5001, 100, false);
    }
    void TearDown() override { SetFileFaultHook({}); }

    std::string Path() const { return FDir.File("m.vek"); }

    static void MakeFile(const std::string& File, int First, int Count, bool WithOther)
    {
        conntest::MakeDatabase(File);
        TVekDataBase db(nullptr);
        db.SetDataBaseName(File);
        db.Open();
        for (const char* name : {"People", "Other"}) {
            if (!WithOther && std::string(name) == "Other")
                continue;
            TVekTable table(nullptr);
            table.SetDataBase(&db);
            table.SetTableName(name);
            table.FieldDefs()->Add("ID", ftInteger, 0, true);
            table.FieldDefs()->Add("Name", ftString, 30);
            table.FieldDefs()->Add("Notes", ftMemo);
            table.IndexDefs()->Add("ixID", "ID", ixUnique | ixPrimary);
            table.IndexDefs()->Add("ixName", "Name", 0);
            table.CreateTable();
            table.Open();
            db.StartTransaction();
            const bool other = std::string(name) == "Other";
            const int first = other ? First + 10000 : First;
            const int count = other ? 50 : Count;
            for (int i = first; i < first + count; ++i) {
                table.Append();
                table.FieldByName("ID")->SetAsInteger(i);
                table.FieldByName("Name")->SetAsString("n" + std::to_string((i * 7919) % 1000));
                table.FieldByName("Notes")->SetAsString(std::string(static_cast<std::size_t>(i % 700), 'q'));
                table.Post();
            }
            db.Commit();
            table.Close();
        }
        db.Close();
    }

    // Everything a check compares: per table, its fields and indexes, and
    // the records in the order of each index.
    std::vector<std::string> State()
    {
        std::vector<std::string> state;
        TVekDataBase db(nullptr);
        db.SetDataBaseName(Path());
        db.Open();
        for (const char* name : {"People", "Other"}) {
            TVekTable table(nullptr);
            table.SetDataBase(&db);
            table.SetTableName(name);
            table.Open();
            std::string layout = std::string(name) + " fields:";
            for (int i = 0; i < table.FieldDefs()->Count(); ++i) {
                TFieldDef* field = table.FieldDefs()->Items(i);
                layout += " " + field->Name() + "/" + std::to_string(static_cast<int>(field->DataType())) + "/" +
                          std::to_string(field->Size());
            }
            layout += " indexes:";
            for (int i = 0; i < table.IndexDefs()->Count(); ++i) {
                TIndexDef* index = table.IndexDefs()->Items(i);
                layout += " " + index->Name() + "/" + index->Fields() + "/" +
                          std::to_string(static_cast<int>(index->Options()));
            }
            state.push_back(layout);
            for (const char* index : {"ixID", "ixName"}) {
                table.SetIndexName(index);
                std::string line = std::string(name) + "." + index + ":";
                int count = 0;
                table.First();
                while (!table.Eof()) {
                    line += " " + table.FieldByName("ID")->AsString() + "/" + table.FieldByName("Name")->AsString() +
                            "/" + std::to_string(table.FieldByName("Notes")->AsString().size());
                    ++count;
                    table.Next();
                }
                // The record count the index reports agrees with the scan.
                line += " count " + std::to_string(table.RecordCount()) + "=" + std::to_string(count);
                state.push_back(line);
            }
            // The unique index still refuses a key it holds.
            table.SetIndexName("ixID");
            table.First();
            if (!table.Eof()) {
                const int id = table.FieldByName("ID")->AsInteger();
                table.Append();
                table.FieldByName("ID")->SetAsInteger(id);
                state.push_back("duplicate " + std::to_string(conntest::VekErrorCode([&] { table.Post(); })));
                table.Cancel();
            }
            table.Close();
        }
        db.Close();
        return state;
    }

    // Runs the operation on a fresh exclusive connection.
    void Run(TOp Op, const TUpdateProgressProc& Progress)
    {
        TVekDataBase db(nullptr);
        db.SetDataBaseName(Path());
        db.SetExclusive(true);
        db.Open();
        TVekTable table(nullptr);
        table.SetDataBase(&db);
        table.SetTableName("People");
        table.OnUpdateProgress = Progress;
        db.OnUpdateProgress = Progress;
        // Writes are counted and failed only inside the operation itself
        // (not while connecting or disconnecting).
        struct TInOp {
            explicit TInOp(bool& Flag) : FFlag(Flag) { FFlag = true; }
            ~TInOp() { FFlag = false; }
            bool& FFlag;
        };
        if (Op == TOp::ReIndex || Op == TOp::EmptyTable || Op == TOp::CopyIntoTable)
            table.Open();
        TVekTable other(nullptr);
        if (Op == TOp::CopyIntoTable) {
            other.SetDataBase(&db);
            other.SetTableName("Other");
            other.Open();
            TInternalFields* fields = table.GetInternalFields();
            for (int i = 0; i < fields->Count(); ++i)
                fields->GetIndex(i)->SetSourceField(fields->GetIndex(i)->FieldName());
        }
        if (Op == TOp::RebuildDatabase)
            db.Close();
        try {
            TInOp inOp(FInOp);
            switch (Op) {
            case TOp::ReIndex:
                table.ReIndex(false);
                break;
            case TOp::EmptyTable:
                table.EmptyTable();
                break;
            case TOp::RebuildTable:
                table.RebuildTable();
                break;
            case TOp::CopyIntoTable:
                other.CopyRawTableData(&table);
                break;
            case TOp::RebuildTableFromFile:
                db.RebuildTable("People", FDir.File("src.vek"), nullptr);
                break;
            case TOp::RebuildDatabase:
                db.RebuildDatabase();
                break;
            case TOp::RestructureAddField:
            case TOp::RestructureAddIndex:
            case TOp::RestructureRenameField:
                Restructure(table, Op);
                break;
            case TOp::AddIndex:
                table.AddIndex("ixNameID", "Name;ID", 0);
                break;
            case TOp::DeleteIndex:
                table.DeleteIndex("ixName");
                break;
            case TOp::UpdateTableDef:
                UpdateTableDef(db);
                break;
            }
        } catch (...) {
            table.OnUpdateProgress = nullptr;
            db.OnUpdateProgress = nullptr;
            throw;
        }
    }

    static void Restructure(TVekTable& Table, TOp Op)
    {
        Table.Open();
        TRestructureFieldDefs fields;
        fields.Assign(Table.FieldDefs());
        TRestructureIndexDefs indexes;
        indexes.Assign(Table.IndexDefs());
        Table.Close();
        if (Op == TOp::RestructureAddField)
            fields.AddAndSetFieldDef("Extra", ftInteger, 0);
        else if (Op == TOp::RestructureAddIndex)
            indexes.AddAndSetIndexDef("ixNameID", "Name;ID", 0);
        else
            fields.Find("Notes")->SetName("Remarks");
        TInternalRestructureRecord request;
        request.NewFieldDefs = &fields;
        request.NewIndexDefs = &indexes;
        Table.RestructureTable(request);
    }

    // A stored definition with one more field: the storage frees the old
    // records (they no longer fit) and the definition is written.
    static void UpdateTableDef(TVekDataBase& Db)
    {
        TVekTable table(nullptr);
        table.SetDataBase(&Db);
        table.SetTableName("People");
        table.Open();
        TFieldDefs fields(nullptr);
        fields.Assign(table.FieldDefs());
        fields.Add("Extra", ftInteger);
        TIndexDefs indexes(nullptr);
        indexes.Assign(table.IndexDefs());
        table.Close();
        TVekTableDefSettings settings;
        settings.TableName = "People";
        TTableDef layout(nullptr);
        VekSetTableDef(&layout, false, &fields, &indexes, settings, "test", nullptr);
        TRestructureFieldDefs changed;
        changed.Assign(&fields);
        changed.SetChangeStatus(dcAdded);
        TTableDef def(nullptr);
        Db.OpenTable("People", &def);
        try {
            def.InternalFields()->Assign(layout.InternalFields());
            def.SetRecordSize(layout.RecordSize());
            TInternalRestructureRecord request;
            request.NewFieldDefs = &changed;
            Db.UpdateTableDef(&def, request);
        } catch (...) {
            Db.CloseTable(&def);
            throw;
        }
        Db.CloseTable(&def);
    }

    conntest::TTempDir FDir;
    bool FInOp = false;
};

TEST_P(MaintenanceFault, ChangesNothing)
{
    const TCase c = GetParam();
    const std::vector<std::string> before = State();
    const auto size = FileSizeOf(Path());

    int code = 0;
    std::string message;
    if (c.Stop.Cancel) {
        code = conntest::VekErrorCode(
            [&] {
                Run(c.Op, [&](Integer Percent, bool& Cancel) { Cancel = Cancel || Percent >= c.Stop.At; });
            },
            &message);
        EXPECT_EQ(code, VekErrCancelled) << message;
    } else {
        // A full run in a copy of the folder counts the writes.
        int writes = 0;
        // The writes of database files, journals and backups; the log and
        // the lock files of the connections are not the operation's data.
        const auto counted = [&](TFileFaultPoint Point, const std::string& File) {
            return FInOp && Point == TFileFaultPoint::Write && File.find("dblog.txt") == std::string::npos &&
                   File.find(".lck") == std::string::npos;
        };
        SetFileFaultHook([&](TFileFaultPoint Point, const std::string& File) {
            if (counted(Point, File))
                ++writes;
            return false;
        });
        const std::string saved = FDir.File("saved.vek");
        ASSERT_TRUE(CopyFile(Path(), saved, false));
        Run(c.Op, nullptr);
        SetFileFaultHook({});
        ASSERT_TRUE(RenameFile(saved, Path()));
        ASSERT_GT(writes, 0);
        const int failAt = std::max(1, writes * c.Stop.At / 1000);
        int seen = 0;
        SetFileFaultHook([&](TFileFaultPoint Point, const std::string& File) {
            return counted(Point, File) && ++seen == failAt;
        });
        try {
            code = conntest::VekErrorCode([&] { Run(c.Op, nullptr); }, &message);
        } catch (const std::exception& e) {
            code = -1;
            message = e.what();
        }
        SetFileFaultHook({});
        EXPECT_NE(code, 0) << "write " << failAt << " of " << writes << " failed, yet the call returned";
    }
    EXPECT_EQ(State(), before) << message;
    EXPECT_LE(FileSizeOf(Path()), size);
}

std::vector<TCase> Cases()
{
    std::vector<TCase> cases;
    for (TOp op : {TOp::ReIndex, TOp::EmptyTable, TOp::RebuildTable, TOp::CopyIntoTable, TOp::RebuildTableFromFile,
                   TOp::RebuildDatabase, TOp::RestructureAddField, TOp::RestructureAddIndex,
                   TOp::RestructureRenameField, TOp::AddIndex, TOp::DeleteIndex, TOp::UpdateTableDef}) {
        // What reports no progress is stopped by writes only.
        if (ReportsProgress(op))
            for (int percent : {0, 40, 100})
                cases.push_back({op, {true, percent}});
        for (int at : {1, 500, 1000})
            cases.push_back({op, {false, at}});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Operations, MaintenanceFault, ::testing::ValuesIn(Cases()), CaseName);

} // namespace
} // namespace orvex::tabletests
