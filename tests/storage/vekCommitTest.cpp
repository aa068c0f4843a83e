// Commits are all or nothing and connections never keep stale pages:
// failed writes injected at every step of a commit leave the file as it was
// (at once, or through the next connection once the failing one is gone);
// processes killed at random moments of their commits always leave a file
// whose table reads back as before or after a transaction; three
// connections (two in other processes) writing, committing and rolling back
// at random agree with a model at every step.

#include "commit/CommitTestUtil.h"
#include "commit/KVTable.h"
#include "vekDiskTestUtil.h"

#include "platform/FileIO.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>
#include <thread>

namespace orvex {
namespace {

using namespace committest;

// The transaction the fault tests commit: updates, erasures and new rows
// (the file grows), over many pages.
void ChangeRows(TKVTable& Table, TKVMap& Model)
{
    for (int key = 0; key < 300; key += 7) {
        Table.Put(key, key * 3);
        Model[key] = key * 3;
    }
    for (int key = 1; key < 300; key += 11) {
        Table.Erase(key);
        Model.erase(key);
    }
    for (int key = 1000; key < 1060; ++key) {
        Table.Put(key, -key);
        Model[key] = -key;
    }
}

class CommitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TKVTable::Create(Base());
        TKVTable table(Base());
        for (int key = 0; key < 300; ++key) {
            table.Put(key, key);
            FBefore[key] = key;
        }
        FAfter = FBefore;
        TKVTable scratch(Base());
        scratch.Begin();
        ChangeRows(scratch, FAfter);
        scratch.Rollback();
    }

    // The writes, flushes and deletes of the fault tests' commit.
    int CountCommitSteps(TFaultInjector& Faults)
    {
        FreshCopy();
        TKVTable table(Path());
        table.Begin();
        TKVMap model = FBefore;
        ChangeRows(table, model);
        Faults.Arm(TFaultInjector::TMode::Count);
        table.Commit();
        Faults.Disarm();
        return Faults.Seen();
    }

    std::string Base() const { return FDir.File("base.vek"); }
    std::string Path() const { return FDir.File("work.vek"); }
    void FreshCopy() const
    {
        ASSERT_TRUE(CopyFile(Base(), Path(), false));
        ASSERT_TRUE(CopyFile(Base() + ".def", Path() + ".def", false));
        ASSERT_FALSE(FileExists(GetJournalFileName(Path())));
    }

    disktest::TTempDir FDir;
    TKVMap FBefore;
    TKVMap FAfter;
};

TEST_F(CommitTest, JournalIsGoneAfterACommitAndTheRowsAreThere)
{
    FreshCopy();
    TKVTable table(Path());
    table.Begin();
    TKVMap model = FBefore;
    ChangeRows(table, model);
    table.Commit();
    EXPECT_FALSE(FileExists(GetJournalFileName(Path())));
    EXPECT_EQ(table.ReadAll(), FAfter);
    TKVTable other(Path());
    EXPECT_EQ(other.ReadAll(), FAfter);
}

TEST_F(CommitTest, AFailedWriteAtAnyStepOfACommitLeavesTheFileAsBefore)
{
    TFaultInjector faults;
    const int steps = CountCommitSteps(faults);
    // The journal (written, flushed, its folder flushed), the pages and
    // blocks (pages that follow one another in one write, so at least two
    // writes here), the flush of the file, the journal's removal and the
    // folder.
    ASSERT_GE(steps, 8);
    for (int step = 1; step <= steps; ++step) {
        SCOPED_TRACE("failing step " + std::to_string(step));
        FreshCopy();
        TKVTable table(Path());
        const std::vector<Byte> before = disktest::ReadFileBytes(Path());
        table.Begin();
        TKVMap model = FBefore;
        ChangeRows(table, model);
        faults.Arm(TFaultInjector::TMode::FailOne, step);
        const Integer code = disktest::VekErrorCode([&] { table.Commit(); });
        faults.Disarm();
        if (code == 0) {
            // Only the flush of the folder after the journal went may fail
            // unnoticed: the commit is whole by then.
            EXPECT_EQ(step, steps);
            EXPECT_EQ(table.ReadAll(), FAfter);
            continue;
        }
        EXPECT_TRUE(disktest::ReadFileBytes(Path()) == before);
        EXPECT_FALSE(FileExists(GetJournalFileName(Path())));
        table.Rollback();
        EXPECT_EQ(table.ReadAll(), FBefore);
        // The connection goes on: the same transaction commits now.
        table.Begin();
        model = FBefore;
        ChangeRows(table, model);
        table.Commit();
        EXPECT_EQ(table.ReadAll(), FAfter);
    }
}

TEST_F(CommitTest, WhenTheDiskFailsForGoodTheNextConnectionRollsTheJournalBack)
{
    TFaultInjector faults;
    const int steps = CountCommitSteps(faults);
    int journalsLeft = 0;
    for (int step = 1; step < steps; ++step) {
        SCOPED_TRACE("failing from step " + std::to_string(step));
        FreshCopy();
        std::vector<Byte> before;
        {
            TKVTable table(Path());
            before = disktest::ReadFileBytes(Path());
            table.Begin();
            TKVMap model = FBefore;
            ChangeRows(table, model);
            // Every write from here on fails, the rollback's too: the
            // connection ends as its process would if the disk went away.
            faults.Arm(TFaultInjector::TMode::FailFrom, step);
            EXPECT_NE(disktest::VekErrorCode([&] { table.Commit(); }), 0);
            disktest::VekErrorCode([&] { table.Rollback(); });
        }
        faults.Disarm();
        journalsLeft += FileExists(GetJournalFileName(Path())) ? 1 : 0;
        {
            TDiskMgr disk;
            disk.SetFileName(Path());
            disk.SetPageSize(DefaultPageSize);
            disk.Open();
            EXPECT_FALSE(FileExists(GetJournalFileName(Path())));
            disk.Close();
        }
        EXPECT_TRUE(disktest::ReadFileBytes(Path()) == before);
        TKVTable next(Path());
        EXPECT_EQ(next.ReadAll(), FBefore);
    }
    // Failing from the first page write on leaves a journal behind.
    EXPECT_GT(journalsLeft, 0);
}

TEST_F(CommitTest, AJournalLeftBehindIsRolledBackWhenALockIsTaken)
{
    // A second connection is open when the writer's disk fails for good;
    // its next lock rolls the journal back.
    FreshCopy();
    TKVTable reader(Path());
    EXPECT_EQ(reader.ReadAll(), FBefore);
    {
        TFaultInjector faults;
        TKVTable writer(Path());
        writer.Begin();
        TKVMap model = FBefore;
        ChangeRows(writer, model);
        int steps = 0;
        {
            // Fail from the first write of the file itself: after the
            // journal, its flush and the flush of its folder.
            faults.Arm(TFaultInjector::TMode::FailFrom, 4);
            EXPECT_NE(disktest::VekErrorCode([&] { writer.Commit(); }), 0);
            steps = faults.Seen();
            disktest::VekErrorCode([&] { writer.Rollback(); });
            faults.Disarm();
        }
        EXPECT_GT(steps, 4);
        EXPECT_TRUE(FileExists(GetJournalFileName(Path())));
    }
    EXPECT_EQ(reader.ReadAll(), FBefore);
    EXPECT_FALSE(FileExists(GetJournalFileName(Path())));
}

TEST_F(CommitTest, AJournalBesideAReadOnlyFileIsAnErrorUntilTheFileCanBeWritten)
{
    FreshCopy();
    {
        TFaultInjector faults;
        TKVTable writer(Path());
        writer.Begin();
        TKVMap model = FBefore;
        ChangeRows(writer, model);
        faults.Arm(TFaultInjector::TMode::FailFrom, 4);
        EXPECT_NE(disktest::VekErrorCode([&] { writer.Commit(); }), 0);
        disktest::VekErrorCode([&] { writer.Rollback(); });
        faults.Disarm();
    }
    ASSERT_TRUE(FileExists(GetJournalFileName(Path())));
    ASSERT_TRUE(FileSetReadOnly(Path(), true));
    TDiskMgr disk;
    disk.SetFileName(Path());
    disk.SetPageSize(DefaultPageSize);
    disk.SetReadOnly(true);
    EXPECT_EQ(disktest::VekErrorCode([&] { disk.Open(); }), 10501);
    ASSERT_TRUE(FileSetReadOnly(Path(), false));
    TKVTable reader(Path());
    EXPECT_EQ(reader.ReadAll(), FBefore);
    EXPECT_FALSE(FileExists(GetJournalFileName(Path())));
}

TEST_F(CommitTest, ProcessesKilledDuringCommitsLeaveTheTableBeforeOrAfterATransaction)
{
    FreshCopy();
    // The state after each transaction, from the one the file starts in.
    std::vector<TKVMap> states{FBefore};
    auto stateAfter = [&](std::uint32_t N) -> const TKVMap& {
        while (states.size() <= N) {
            TKVMap next = states.back();
            ApplyTransaction(static_cast<std::uint32_t>(states.size()), next);
            states.push_back(std::move(next));
        }
        return states[N];
    };
    std::mt19937 random(20261210);
    std::uint32_t next = 1; // the next transaction to run
    int killedWithJournal = 0;
    // A few hundred runs, fewer on a slow machine: the time is bounded, but
    // at least 30 runs happen however busy the machine is, and on a machine
    // so busy that few transactions finish between the kills, the runs go
    // on (for at most a minute more) until some have.
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::seconds(30);
    const auto lastChance = start + std::chrono::seconds(90);
    int runs = 0;
    // A kill that came before the child finished any transaction lets the
    // next child live longer, so that a starved child still gets work done.
    std::uint32_t idleRuns = 0;
    auto goOn = [&] {
        const auto now = std::chrono::steady_clock::now();
        if (runs < 30)
            return true;
        if (runs >= 300)
            return false;
        return now < deadline || (next <= 10 && now < lastChance);
    };
    for (; goOn(); ++runs) {
        std::uint32_t done = next - 1;
        {
            TCommitChild child({"churn", Path(), std::to_string(next)});
            ASSERT_EQ(child.Receive(60000), "ready");
            const std::uint32_t grace = std::min<std::uint32_t>(idleRuns, 20) * 10000;
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 30000 + grace));
            child.Kill();
            for (const std::string& line : child.Rest()) {
                ASSERT_EQ(line.rfind("done ", 0), 0u) << line;
                done = static_cast<std::uint32_t>(std::stoul(line.substr(5)));
            }
        }
        killedWithJournal += FileExists(GetJournalFileName(Path())) ? 1 : 0;
        // The transaction the child was in may have reached the file whole,
        // or not at all.
        TKVTable table(Path());
        const TKVMap rows = table.ReadAll();
        const std::uint32_t before = next;
        if (rows == stateAfter(done)) {
            next = done + 1;
        } else {
            ASSERT_EQ(FormatRows(rows), FormatRows(stateAfter(done + 1)))
                << "run " << runs << ": neither before nor after transaction " << done + 1;
            next = done + 2;
        }
        idleRuns = next > before ? 0 : idleRuns + 1;
    }
    EXPECT_GE(runs, 30);
    // Transactions went on between the kills (fewer on a loaded machine).
    EXPECT_GT(next, 10u);
    // Some kills fell between the journal and its removal.
    EXPECT_GT(killedWithJournal, 0);
    RecordProperty("runs", runs);
    RecordProperty("killed_with_journal", killedWithJournal);
}

// --------------------------------------------------------- three connections

// Connection 0 lives in the test, 1 and 2 in processes of their own. One
// transaction at a time is open (the table's transaction lock keeps others
// out); every connection outside it sees the committed rows, the one inside
// sees its own.
TEST(ConnectionCoherence, ThreeConnectionsAgreeWithAModelThroughCommitsAndRollbacks)
{
    disktest::TTempDir dir;
    const std::string path = dir.File("three.vek");
    TKVTable::Create(path);
    TKVTable local(path);
    TCommitChild first({"serve", path});
    TCommitChild second({"serve", path});
    ASSERT_EQ(first.Receive(60000), "ready");
    ASSERT_EQ(second.Receive(60000), "ready");

    auto send = [&](int Connection, const std::string& Command) -> std::string {
        if (Connection == 1)
            return first.Send(Command);
        if (Connection == 2)
            return second.Send(Command);
        std::istringstream words(Command);
        std::string verb;
        words >> verb;
        try {
            if (verb == "begin")
                local.Begin();
            else if (verb == "commit")
                local.Commit();
            else if (verb == "rollback")
                local.Rollback();
            else if (verb == "put") {
                int key = 0, value = 0;
                words >> key >> value;
                local.Put(key, value);
            } else if (verb == "erase") {
                int key = 0;
                words >> key;
                local.Erase(key);
            } else if (verb == "dump")
                return FormatRows(local.ReadAll());
        } catch (const std::exception& e) {
            return std::string("error ") + e.what();
        }
        return "ok";
    };

    TKVMap committed;
    TKVMap pending;
    int active = -1; // the connection in a transaction
    std::mt19937 random(1410);
    for (int step = 0; step < 1500; ++step) {
        const int connection = static_cast<int>(random() % 3);
        const int choice = static_cast<int>(random() % 100);
        const int key = static_cast<int>(random() % 40);
        const int value = static_cast<int>(random() % 100000);
        SCOPED_TRACE("step " + std::to_string(step) + " connection " + std::to_string(connection));
        if (connection == active) {
            if (choice < 40) {
                ASSERT_EQ(send(connection, "put " + std::to_string(key) + " " + std::to_string(value)), "ok");
                pending[key] = value;
            } else if (choice < 60) {
                ASSERT_EQ(send(connection, "erase " + std::to_string(key)), "ok");
                pending.erase(key);
            } else if (choice < 75) {
                ASSERT_EQ(send(connection, "dump"), FormatRows(pending));
            } else if (choice < 87) {
                ASSERT_EQ(send(connection, "commit"), "ok");
                committed = pending;
                active = -1;
            } else {
                ASSERT_EQ(send(connection, "rollback"), "ok");
                active = -1;
            }
        } else if (active < 0 && choice < 30) {
            ASSERT_EQ(send(connection, "begin"), "ok");
            active = connection;
            pending = committed;
        } else if (active < 0 && choice < 60) {
            // A write of its own, outside any transaction.
            if (choice < 50) {
                ASSERT_EQ(send(connection, "put " + std::to_string(key) + " " + std::to_string(value)), "ok");
                committed[key] = value;
            } else {
                ASSERT_EQ(send(connection, "erase " + std::to_string(key)), "ok");
                committed.erase(key);
            }
        } else {
            ASSERT_EQ(send(connection, "dump"), FormatRows(committed));
        }
    }
    if (active >= 0) {
        ASSERT_EQ(send(active, "commit"), "ok");
    }
}

} // namespace
} // namespace orvex
