// Connections in separate processes on one database file: table and record
// locks held by one refuse the other after its retries, transactions of two
// processes serialise, and a process killed while holding locks or inside a
// transaction leaves a file that the next connection opens in its committed
// state.

#include "ConnScenario.h"
#include "vekConnTestUtil.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace orvex {
namespace {

using conntest::CreateCounterTable;
using conntest::ReadCounter;
using conntest::WriteCounter;

constexpr Integer ErrLock = 10249;

// The child program with its standard input and output on pipes: one
// command line in, one reply line out.
class TConnChild {
public:
    TConnChild()
    {
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0)
            throw std::runtime_error("pipe");
        FPid = ::fork();
        if (FPid == 0) {
            ::dup2(in[0], STDIN_FILENO);
            ::dup2(out[1], STDOUT_FILENO);
            ::close(in[1]);
            ::close(out[0]);
            char* argv[] = {const_cast<char*>("vek_conn_child"), nullptr};
            ::execv(VEK_CONN_CHILD, argv);
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        FIn = in[1];
        FOut = out[0];
    }
    ~TConnChild()
    {
        Kill();
        ::close(FIn);
        ::close(FOut);
    }
    TConnChild(const TConnChild&) = delete;
    TConnChild& operator=(const TConnChild&) = delete;

    void Send(const std::string& Command)
    {
        const std::string line = Command + "\n";
        (void)!::write(FIn, line.data(), line.size());
    }
    std::string Reply()
    {
        std::string line;
        char c;
        while (::read(FOut, &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }
    std::string Ask(const std::string& Command)
    {
        Send(Command);
        return Reply();
    }
    void Kill()
    {
        if (FPid > 0) {
            ::kill(FPid, SIGKILL);
            ::waitpid(FPid, nullptr, 0);
            FPid = -1;
        }
    }

private:
    pid_t FPid = -1;
    int FIn = -1;
    int FOut = -1;
};

class ProcessTest : public ::testing::Test {
protected:
    ProcessTest()
    {
        conntest::MakeDatabase(Path());
        db.SetDataBaseName(Path());
        db.SetLockRetryMaximum(3);
        db.SetLockRetryInterval(20);
        db.Open();
        address = CreateCounterTable(db, "Counter");
        db.OpenTable("Counter", &table);
    }
    ~ProcessTest() override
    {
        db.CloseTable(&table);
        db.Close();
    }
    std::string Path() const { return dir.File("shared.vek"); }
    std::string OpenCommand(int Retries = 3, int Interval = 20) const
    {
        return "open " + Path() + " " + std::to_string(Retries) + " " + std::to_string(Interval);
    }
    Integer Counter()
    {
        db.LockTable(&table, VekLockRead);
        const Integer value = ReadCounter(table, address);
        db.UnLockTable(&table);
        return value;
    }

    conntest::TTempDir dir;
    TVekDataBase db{nullptr};
    TTableDef table{nullptr};
    Cardinal address = 0;
};

TEST_F(ProcessTest, LocksHeldByOneProcessRefuseTheOtherAfterItsRetries)
{
    TConnChild child;
    ASSERT_EQ(child.Ask(OpenCommand()), "ok");
    ASSERT_EQ(child.Ask("table Counter"), "ok " + std::to_string(table.TableID()));

    // The child's write lock refuses both lock types here.
    ASSERT_EQ(child.Ask("locktable 4"), "ok");
    EXPECT_VEK_ERROR_TEXT(ErrLock, "A read lock could not be obtained on the table", db.LockTable(&table, VekLockRead));
    EXPECT_VEK_ERROR(ErrLock, db.LockTable(&table, VekLockWrite));
    ASSERT_EQ(child.Ask("unlocktable"), "ok");
    EXPECT_TRUE(db.LockTable(&table, VekLockRead));

    // Our read lock lets the child read but not write.
    EXPECT_EQ(child.Ask("locktable 1"), "ok");
    EXPECT_EQ(child.Ask("unlocktable"), "ok");
    EXPECT_EQ(child.Ask("locktable 4"), "error 10249");
    db.UnLockTable(&table);
    EXPECT_EQ(child.Ask("locktable 4"), "ok");
    EXPECT_EQ(child.Ask("unlocktable"), "ok");

    // Record locks, by address.
    const std::string record = std::to_string(address);
    ASSERT_EQ(child.Ask("lockrecord " + record), "ok");
    EXPECT_VEK_ERROR_TEXT(ErrLock, "A lock could not be obtained on the record", db.LockRecord(&table, address));
    EXPECT_TRUE(db.LockRecord(&table, address + 1)); // another record is free
    db.UnLockRecord(&table, address + 1);
    ASSERT_EQ(child.Ask("unlockrecord " + record), "ok");
    EXPECT_TRUE(db.LockRecord(&table, address));
    EXPECT_EQ(child.Ask("lockrecord " + record), "error 10249");
    db.UnLockRecord(&table, address);
    EXPECT_EQ(child.Ask("close"), "ok");
}

TEST_F(ProcessTest, TransactionsOfTwoProcessesSerialise)
{
    constexpr int Each = 2000;
    TConnChild first, second;
    for (TConnChild* child : {&first, &second}) {
        ASSERT_EQ(child->Ask(OpenCommand(200, 5)), "ok");
        ASSERT_EQ(child->Ask("table Counter"), "ok " + std::to_string(table.TableID()));
    }
    // Both at once: each transaction reads the counter and writes it plus one.
    first.Send("bump " + std::to_string(address) + " " + std::to_string(Each));
    second.Send("bump " + std::to_string(address) + " " + std::to_string(Each));
    EXPECT_EQ(first.Reply(), "ok");
    EXPECT_EQ(second.Reply(), "ok");
    EXPECT_EQ(Counter(), 2 * Each);
    EXPECT_EQ(first.Ask("get " + std::to_string(address)), "ok " + std::to_string(2 * Each));
}

TEST_F(ProcessTest, AProcessKilledHoldingLocksLeavesThemFree)
{
    {
        TConnChild child;
        ASSERT_EQ(child.Ask(OpenCommand()), "ok");
        ASSERT_EQ(child.Ask("table Counter"), "ok " + std::to_string(table.TableID()));
        ASSERT_EQ(child.Ask("locktable 4"), "ok");
        ASSERT_EQ(child.Ask("lockrecord " + std::to_string(address)), "ok");
        child.Kill();
    }
    db.SetLockRetryMaximum(1);
    EXPECT_TRUE(db.LockTable(&table, VekLockWrite));
    EXPECT_TRUE(db.LockRecord(&table, address));
    db.UnLockRecord(&table, address);
    db.UnLockTable(&table);

    // The dead process's connection byte is swept: the user's slot lists
    // one connection, and a new connection joins it.
    TStringList users;
    db.GetCurrentUsers(&users);
    EXPECT_EQ(users.Count(), 1);
    TVekDataBase next(nullptr);
    next.SetDataBaseName(Path());
    next.Open();
    next.Close();
}

TEST_F(ProcessTest, AProcessKilledInsideATransactionLeavesTheCommittedState)
{
    const std::string record = std::to_string(address);
    {
        TConnChild child;
        ASSERT_EQ(child.Ask(OpenCommand()), "ok");
        ASSERT_EQ(child.Ask("table Counter"), "ok " + std::to_string(table.TableID()));
        ASSERT_EQ(child.Ask("set " + record + " 5"), "ok"); // committed at once
        ASSERT_EQ(child.Ask("start"), "ok");
        ASSERT_EQ(child.Ask("set " + record + " 77"), "ok");
        ASSERT_EQ(child.Ask("get " + record), "ok 77"); // its own transaction sees it
        child.Kill();
    }
    db.CloseTable(&table);
    db.Close();
    db.Open();
    db.OpenTable("Counter", &table);
    EXPECT_EQ(Counter(), 5);

    // Killed at any moment of a run of transactions: the file opens, the
    // counter holds a committed value, and work goes on from it.
    for (int delay : {3, 17, 40}) {
        const Integer before = Counter();
        {
            TConnChild child;
            ASSERT_EQ(child.Ask(OpenCommand(200, 5)), "ok");
            ASSERT_EQ(child.Ask("table Counter"), "ok " + std::to_string(table.TableID()));
            child.Send("bump " + record + " 100000");
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
            child.Kill();
        }
        TVekDataBase next(nullptr);
        next.SetDataBaseName(Path());
        next.SetLockRetryMaximum(50);
        next.SetLockRetryInterval(10);
        next.Open();
        TTableDef counter(nullptr);
        next.OpenTable("Counter", &counter);
        next.StartTransaction();
        next.LockTable(&counter, VekLockWrite);
        const Integer after = ReadCounter(counter, address);
        EXPECT_GE(after, before) << "killed after " << delay << " ms";
        WriteCounter(counter, address, after + 1);
        next.Commit();
        EXPECT_EQ(Counter(), after + 1);
        next.CloseTable(&counter);
        next.Close();
    }
}

} // namespace
} // namespace orvex
