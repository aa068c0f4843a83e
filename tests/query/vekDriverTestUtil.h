#pragma once
// Statements through the driver: a database ("MEMORY" or a scratch file),
// tables made from specs (on disk or in memory), and a SELECT text run by
// TVekQueryProvider into its result table, read back as text lines.

#include "vekQueryTestUtil.h"

#include "dataset/vekDatabase.h"
#include "host/DBParams.h"

#include <memory>
#include <string>
#include <vector>

namespace orvex::querytest {

class TDriverFixture {
public:
    // OnDisk: a database file in a scratch folder; else "MEMORY".
    explicit TDriverFixture(bool OnDisk);
    ~TDriverFixture();

    TVekDataBase& Db() { return *FDb; }
    bool OnDisk() const { return FOnDisk; }
    // The database file (on disk), for another connection to it.
    std::string FilePath() const { return FDir + "/driver.vdb"; }
    // A table of Spec, in memory when Memory (always on "MEMORY").
    void AddTable(const TTableSpec& Spec, bool Memory = false);

    struct TResult {
        std::vector<std::string> Columns; // result column names
        std::vector<std::string> Rows;    // in the result's order, values joined by "|"
        std::string Error;                // the driver's errors, or an exception's message
        Integer RowsAffected = 0;
        std::string TableName;            // the result table's name
        bool Temporary = false;           // the result was in the temporary database
        Integer SpilledGroups = 0;        // groups grouped in a later pass
    };
    // Validates, prepares and fills; MaxRecords and Params as the query
    // component would give them.
    TResult Run(const std::string& Sql, Integer MaxRecords = 0, TParams* Params = nullptr);

private:
    bool FOnDisk;
    std::string FDir;
    std::unique_ptr<TVekDataBase> FDb;
};

// Watches the writes of a connection's spill files: files in its temporary
// folder other than its temporary database. Counts them, fails them while
// Fail is set, and says whether the folder holds the temporary database
// alone with Tables tables in it.
class TSpillWatch {
public:
    TSpillWatch(TVekDataBase& Db, const std::string& Folder);
    ~TSpillWatch();
    TSpillWatch(const TSpillWatch&) = delete;
    TSpillWatch& operator=(const TSpillWatch&) = delete;

    int Writes = 0;
    bool Fail = false;
    void ExpectOnlyTheTemporaryDatabase(int Tables) const;

private:
    TVekDataBase& FDb;
    std::string FFolder;
};

// Runs Sql with the connection's default budget, then with the smallest
// one watching its spill files (in Folder): the rows are the same, spill
// files were written and none is left; with their writes failing the
// statement fails and leaves only its result table (for its query to
// drop); and then it runs again as if nothing had happened. The result of
// the first run with the smallest budget, and in Writes its spill writes.
TDriverFixture::TResult ExpectSpillsLeaveNothingBehind(TDriverFixture& Fixture, const std::string& Folder,
                                                       const std::string& Sql, int& Writes);

} // namespace orvex::querytest
