#pragma once
// The engine's side of the differential test: the generated schema loaded
// into a "MEMORY" or a disk database, statements run through the statement
// driver, results and tables read back as the comparison's values.

#include "vekSqlDiffGenerator.h"

#include <memory>
#include <string>

namespace orvex {
class TVekDataBase;
namespace enginetest {
class TTempDir;
}
} // namespace orvex

namespace orvex::sqldiff {

// How the engine runs a statement: the metamorphic variants.
struct TEngineMode {
    bool Disk = false;
    bool DropIndexes = false;   // tables created without their indexes
    bool ForceNoIndexes = false; // every condition rated olNone
    int JoinMethod = 0;         // 0 automatic; 1 hash, 2 indexed range, 3 nested loop
    bool NoCountShortcut = false;
    std::string Describe() const;
};

class TOrvexEngine {
public:
    explicit TOrvexEngine(TEngineMode Mode);
    ~TOrvexEngine();
    TOrvexEngine(const TOrvexEngine&) = delete;
    TOrvexEngine& operator=(const TOrvexEngine&) = delete;

    // Creates every table of Schema (with its indexes unless DropIndexes)
    // in a fresh database and stores its rows.
    void Load(const TSchema& Schema);
    TResult Query(const std::string& Sql);
    TResult Exec(const std::string& Sql);
    std::vector<TRow> TableRows(const TTable& Table);

private:
    void Close();
    TEngineMode FMode;
    std::unique_ptr<enginetest::TTempDir> FFolder;
    std::unique_ptr<TVekDataBase> FDb;
    bool FMemory = true;
    std::vector<std::string> FTables;
};

// Whether the statement driver is built into this test program.
bool EngineAvailable();

} // namespace orvex::sqldiff
