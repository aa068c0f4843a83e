#include "vekDriverTestUtil.h"

#include "host/Classes.h"
#include "host/SysUtils.h"
#include "platform/FileIO.h"
#include "query/vekQueryDataset.h"
#include "query/vekQueryProvider.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <unistd.h>

namespace orvex::querytest {

TDriverFixture::TDriverFixture(bool OnDisk) : FOnDisk(OnDisk), FDb(std::make_unique<TVekDataBase>(nullptr))
{
    if (OnDisk) {
        std::string pattern = (std::filesystem::temp_directory_path() / "vekdriver-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("no scratch folder");
        FDir = pattern;
        FDb->SetDataBaseName(FDir + "/driver.vdb");
        FDb->CreateDatabase();
    } else {
        FDb->SetDataBaseName("MEMORY");
    }
    FDb->Open();
}

TDriverFixture::~TDriverFixture()
{
    FDb->Close();
    FDb.reset();
    if (!FDir.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(FDir, ignored);
    }
}

void TDriverFixture::AddTable(const TTableSpec& Spec, bool Memory)
{
    CreateSpecTable(*FDb, Spec, Memory || !FOnDisk);
}

TDriverFixture::TResult TDriverFixture::Run(const std::string& Sql, Integer MaxRecords, TParams* Params)
{
    TResult result;
    TVekQueryProvider provider;
    provider.SetDatabase(FDb.get());
    provider.SetParams(Params);
    provider.SetMaxRecords(MaxRecords);
    try {
        provider.SetSQL(Sql);
        if (Params) {
            // The caller's values survive the rebuilt parameter list.
            TParams saved(nullptr);
            saved.Assign(Params);
            if (!provider.ValidateSQL()) {
                result.Error = provider.GetErrorsAsText();
                return result;
            }
            Params->AssignValues(&saved);
        } else if (!provider.ValidateSQL()) {
            result.Error = provider.GetErrorsAsText();
            return result;
        }
        if (!provider.PreparePlan() || !provider.CreateResultSet()) {
            result.Error = provider.GetErrorsAsText();
            return result;
        }
        TVekQueryDataset* set = provider.GetResultSet();
        result.TableName = set->TableName();
        result.Temporary = set->DataBase() && set->DataBase()->IsTemporaryDatabase();
        result.SpilledGroups = set->SpilledGroups();
        for (int i = 0; i < set->FieldCount(); ++i)
            result.Columns.push_back(set->Fields()->Fields(i)->FieldName());
        for (set->First(); !set->Eof(); set->Next()) {
            std::string line;
            for (int i = 0; i < set->FieldCount(); ++i)
                line += (i ? "|" : "") + CanonicalValue(set->Fields()->Fields(i)->Value());
            result.Rows.push_back(line);
        }
        result.RowsAffected = provider.GetRowsAffected();
        // The statement's result table stays in the database until its
        // query drops it.
        set->Close();
        set->DataBase()->DeleteTable(result.TableName, set->Memory());
    } catch (const Exception& e) {
        result.Error = e.Message();
    }
    return result;
}

TSpillWatch::TSpillWatch(TVekDataBase& Db, const std::string& Folder)
    : FDb(Db), FFolder(IncludeTrailingPathDelimiter(Folder))
{
    SetFileFaultHook([this](TFileFaultPoint Point, const std::string& Path) {
        if (Point != TFileFaultPoint::Write || ExtractFilePath(Path) != FFolder || Path == FDb.TemporaryFileName())
            return false;
        ++Writes;
        return Fail;
    });
}

TSpillWatch::~TSpillWatch()
{
    SetFileFaultHook({});
}

void TSpillWatch::ExpectOnlyTheTemporaryDatabase(int Tables) const
{
    const std::vector<std::string> files = FolderEntries(FFolder);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(FFolder + files[0], FDb.TemporaryFileName());
    TStringList names;
    FDb.TemporaryDatabase()->GetTableNames(&names, false);
    EXPECT_EQ(names.Count(), Tables);
}

TDriverFixture::TResult ExpectSpillsLeaveNothingBehind(TDriverFixture& Fixture, const std::string& Folder,
                                                       const std::string& Sql, int& Writes)
{
    Fixture.Db().SetResultMemoryBudget(TVekDataBase::DefaultResultMemoryBudget);
    const TDriverFixture::TResult expected = Fixture.Run(Sql);
    EXPECT_EQ(expected.Error, "");
    Fixture.Db().SetResultMemoryBudget(64 * 1024);
    TSpillWatch watch(Fixture.Db(), Folder);
    const TDriverFixture::TResult spilled = Fixture.Run(Sql);
    EXPECT_EQ(spilled.Error, "");
    EXPECT_TRUE(spilled.Temporary);
    EXPECT_EQ(spilled.Rows, expected.Rows);
    Writes = watch.Writes;
    EXPECT_GT(Writes, 0);
    watch.ExpectOnlyTheTemporaryDatabase(0);

    watch.Fail = true;
    EXPECT_NE(Fixture.Run(Sql).Error, "");
    watch.ExpectOnlyTheTemporaryDatabase(1);

    watch.Fail = false;
    const TDriverFixture::TResult again = Fixture.Run(Sql);
    EXPECT_EQ(again.Error, "");
    EXPECT_EQ(again.Rows, expected.Rows);
    return spilled;
}

} // namespace orvex::querytest
