// The connection's private temporary database: made on first need, one file
// per connection, bounded page cache, no lock file, removed at disconnect,
// and a file left by a killed process removed by the next connect.

#include "vekConnTestUtil.h"

#include "dataset/vekDatabase.h"
#include "platform/FileIO.h"
#include "platform/Process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orvex {
namespace {

using conntest::TTempDir;

// The temporary database files in a folder.
std::vector<std::string> TemporaryFiles(const std::string& Folder)
{
    std::vector<std::string> names;
    for (const std::string& name : FolderEntries(Folder))
        if (name.rfind(TVekDataBase::TemporaryFilePrefix, 0) == 0)
            names.push_back(name);
    return names;
}

class TemporaryDatabase : public ::testing::Test {
protected:
    void Connect(TVekDataBase& Db, const std::string& Name = "MEMORY")
    {
        Db.SetDataBaseName(Name);
        Db.SetTemporaryDirectory(FDir.Path());
        Db.Open();
    }
    TTempDir FDir;
};

TEST_F(TemporaryDatabase, MadeOnFirstNeedAndRemovedAtDisconnect)
{
    conntest::MakeDatabase(FDir.File("main.vek"));
    for (const std::string& name : {std::string("MEMORY"), FDir.File("main.vek")}) {
        SCOPED_TRACE(name);
        TVekDataBase db(nullptr);
        Connect(db, name);
        EXPECT_FALSE(db.HasTemporaryDatabase());
        EXPECT_TRUE(TemporaryFiles(FDir.Path()).empty());

        TVekDataBase* temp = db.TemporaryDatabase();
        ASSERT_NE(temp, nullptr);
        EXPECT_EQ(db.TemporaryDatabase(), temp);
        EXPECT_TRUE(temp->Connected());
        EXPECT_TRUE(temp->Exclusive());
        EXPECT_TRUE(temp->IsTemporaryDatabase());
        const std::string file = db.TemporaryFileName();
        EXPECT_TRUE(FileExists(file));
        // Only the database file: no lock file, no journal.
        EXPECT_EQ(TemporaryFiles(FDir.Path()).size(), 1u);
        // Beside main.vek (and, connected to it, main.lck with its record-lock table).
        EXPECT_EQ(FolderEntries(FDir.Path()).size(), name == "MEMORY" ? 2u : 4u);
        // Nobody else may open it.
        EXPECT_EQ(TPlatformFile::Open(file, TFileAccess::Read, TFileShare::DenyNone, TFileCreate::OpenExisting),
                  nullptr);

        db.Close();
        EXPECT_FALSE(db.HasTemporaryDatabase());
        EXPECT_FALSE(FileExists(file));
        // A closed connection has none to give.
        EXPECT_EQ(conntest::VekErrorCode([&] { db.TemporaryDatabase(); }), 10113);
    }
}

TEST_F(TemporaryDatabase, EachConnectionHasItsOwnFile)
{
    TVekDataBase a(nullptr);
    TVekDataBase b(nullptr);
    Connect(a);
    Connect(b);
    const std::string fileA = a.TemporaryDatabase()->DataBaseName();
    const std::string fileB = b.TemporaryDatabase()->DataBaseName();
    EXPECT_NE(fileA, fileB);
    EXPECT_EQ(TemporaryFiles(FDir.Path()).size(), 2u);
    a.Close();
    EXPECT_EQ(TemporaryFiles(FDir.Path()), std::vector<std::string>{fileB});
    b.Close();
    EXPECT_TRUE(TemporaryFiles(FDir.Path()).empty());
}

TEST_F(TemporaryDatabase, TablesLiveThereWithABoundedPageCache)
{
    TVekDataBase db(nullptr);
    db.SetResultMemoryBudget(256 * 1024);
    Connect(db);
    TVekDataBase* temp = db.TemporaryDatabase();
    TVekTable table(nullptr);
    table.SetDataBase(temp);
    table.SetTableName("result1");
    table.FieldDefs()->Add("K", ftInteger, 0, true);
    table.FieldDefs()->Add("S", ftString, 100);
    table.IndexDefs()->Add("ixS", "S", 0);
    table.CreateTable();
    table.Open();
    constexpr int Rows = 5000; // about 1 MiB of records, and as much index
    for (int i = 0; i < Rows; ++i) {
        table.Append();
        table.FieldByName("K")->SetAsInteger(i);
        table.FieldByName("S")->SetAsString("row " + std::to_string((i * 7919) % Rows));
        table.Post();
    }
    EXPECT_EQ(table.RecordCount(), Rows);
    EXPECT_GT(FileSizeOf(db.TemporaryFileName()), Int64{1024 * 1024});
    EXPECT_LE(temp->DiskMgr()->DiskCacheSize(), Int64{256 * 1024});
    table.SetIndexName("ixS");
    table.First();
    EXPECT_EQ(table.FieldByName("S")->AsString(), "row 0");
    // The result dataset is closed with the connection.
    db.Close();
    EXPECT_FALSE(table.Active());
    EXPECT_TRUE(TemporaryFiles(FDir.Path()).empty());
}

TEST_F(TemporaryDatabase, SweepRemovesOnlyFilesOfEndedProcessesThatNobodyHolds)
{
    // 999999999 is above any process id Linux hands out.
    const std::string stale = FDir.File("orvex-999999999-3.vkt");
    const std::string held = FDir.File("orvex-999999999-4.vkt");
    const std::string running = FDir.File("orvex-" + std::to_string(::getppid()) + "-1.vkt");
    const std::string mine = FDir.File("orvex-" + std::to_string(CurrentProcessId()) + "-99.vkt");
    const std::vector<std::string> others = {FDir.File("orvex-999999999-.vkt"), FDir.File("orvex-x-1.vkt"),
                                             FDir.File("orvex-999999999-1.vek"), FDir.File("notes.vkt")};
    for (const std::string& path : {stale, held, running, mine})
        conntest::WriteFileBytes(path, {1, 2, 3});
    for (const std::string& path : others)
        conntest::WriteFileBytes(path, {1});
    auto holder = TPlatformFile::Open(held, TFileAccess::ReadWrite, TFileShare::Exclusive, TFileCreate::OpenExisting);
    ASSERT_NE(holder, nullptr);

    TVekDataBase db(nullptr);
    Connect(db);
    EXPECT_FALSE(FileExists(stale));
    EXPECT_TRUE(FileExists(held));
    EXPECT_TRUE(FileExists(running));
    EXPECT_TRUE(FileExists(mine));
    for (const std::string& path : others)
        EXPECT_TRUE(FileExists(path)) << path;

    holder.reset();
    EXPECT_EQ(TVekDataBase::SweepStaleTemporaryFiles(FDir.Path()), 1);
    EXPECT_FALSE(FileExists(held));
}

// A process that dies with its temporary database open leaves the file; the
// next connect removes it, never while the process still runs.
TEST_F(TemporaryDatabase, KilledProcessFileIsSweptByTheNextConnect)
{
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipeFds[0]);
        // Never outlives the test, whatever becomes of it.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        TVekDataBase db(nullptr);
        Connect(db);
        db.TemporaryDatabase();
        const std::string name = db.TemporaryFileName() + "\n";
        (void)!::write(pipeFds[1], name.data(), name.size());
        for (;;)
            ::pause();
    }
    ::close(pipeFds[1]);
    struct TKillAtEnd {
        pid_t Pid;
        ~TKillAtEnd()
        {
            if (Pid > 0) {
                ::kill(Pid, SIGKILL);
                ::waitpid(Pid, nullptr, 0);
            }
        }
    } killAtEnd{child};
    std::string file;
    char c = 0;
    while (::read(pipeFds[0], &c, 1) == 1 && c != '\n')
        file += c;
    ::close(pipeFds[0]);
    ASSERT_FALSE(file.empty());
    EXPECT_TRUE(FileExists(file));

    {
        TVekDataBase other(nullptr);
        Connect(other);
        EXPECT_TRUE(FileExists(file)) << "the file of a running process was removed";
    }

    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    killAtEnd.Pid = -1;
    EXPECT_TRUE(FileExists(file));
    TVekDataBase next(nullptr);
    Connect(next);
    EXPECT_FALSE(FileExists(file));
}

} // namespace
} // namespace orvex
