// The lock file and the lock managers: in this process where one connection
// shows the behaviour, and with real processes (the vek_lock_child program,
// one connection each) where connections meet.

#include "platform/FileIO.h"
#include "storage/vekConsts.h"
#include "storage/vekLockMgrUnit.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace orvex {
namespace {

constexpr Int64 Slot1 = 4096;
constexpr Int64 Slot2 = 8192;
constexpr Int64 Slot3 = 12288;
constexpr Int64 Table7 = TableLockBase + 7 * TableLockRegionSize;

const char* const ReadLockTimeoutMessage =
    "The Orvex database engine raised an error\\r\\n The requested lock could not be obtained. "
    "The request timed out (error code #10249) - A read lock could not be obtained on the table";

// A vek_lock_child process, driven line by line through pipes.
class TLockChild {
public:
    TLockChild()
    {
        int toChild[2], fromChild[2];
        EXPECT_EQ(::pipe2(toChild, O_CLOEXEC), 0);
        EXPECT_EQ(::pipe2(fromChild, O_CLOEXEC), 0);
        FPid = ::fork();
        if (FPid == 0) {
            ::dup2(toChild[0], 0);
            ::dup2(fromChild[1], 1);
            ::execl(VEK_LOCK_CHILD, VEK_LOCK_CHILD, static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(toChild[0]);
        ::close(fromChild[1]);
        FIn = toChild[1];
        FOut = ::fdopen(fromChild[0], "r");
    }
    ~TLockChild()
    {
        if (FPid > 0) {
            Write("quit\n");
            ::waitpid(FPid, nullptr, 0);
        }
        ::close(FIn);
        std::fclose(FOut);
    }

    // Sends one command and returns the answer line.
    std::string Send(const std::string& command)
    {
        SendAsync(command);
        return Receive();
    }
    // Sends one command without waiting for its answer.
    void SendAsync(const std::string& command) { Write(command + "\n"); }
    // The next answer line.
    std::string Receive()
    {
        char* line = nullptr;
        std::size_t size = 0;
        const ssize_t got = ::getline(&line, &size, FOut);
        std::string answer = got > 0 ? std::string(line, static_cast<std::size_t>(got)) : "<eof>";
        std::free(line);
        if (!answer.empty() && answer.back() == '\n')
            answer.pop_back();
        return answer;
    }

    // Ends the process without letting it close anything.
    void Kill()
    {
        ::kill(FPid, SIGKILL);
        ::waitpid(FPid, nullptr, 0);
        FPid = -1;
    }

private:
    void Write(const std::string& text) { (void)!::write(FIn, text.data(), text.size()); }

    pid_t FPid = -1;
    int FIn = -1;
    FILE* FOut = nullptr;
};

class LockMgrTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/orvex_lockmgr_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        FDir = pattern;
        FDatabase = FDir + "/shop.vek";
        FLockFile = FDir + "/shop.lck";
        std::ofstream(FDatabase) << "database";
    }
    void TearDown() override { std::filesystem::remove_all(FDir); }

    // The open command of a child, with a retry rule.
    std::string OpenAs(const std::string& user, int retries = 10, int interval = 200) const
    {
        return "open " + FDatabase + " " + user + " host1 " + std::to_string(retries) + " " +
               std::to_string(interval);
    }

    // Connects a child; true when it answered "ok".
    bool Connect(TLockChild& child, const std::string& user, int retries = 10, int interval = 200) const
    {
        return child.Send(OpenAs(user, retries, interval)).substr(0, 2) == "ok";
    }

    std::string SlotText(Int64 slot) const
    {
        auto file = TPlatformFile::Open(FLockFile, TFileAccess::Read, TFileShare::DenyNone,
                                        TFileCreate::OpenExisting);
        if (!file)
            return "<no lock file>";
        char buffer[LockFileSlotSize + 1] = {};
        file->ReadAt(slot, buffer, LockFileSlotSize);
        return buffer;
    }

    std::unique_ptr<TPlatformFile> OpenDatabase() const
    {
        return TPlatformFile::Open(FDatabase, TFileAccess::ReadWrite, TFileShare::DenyNone,
                                   TFileCreate::OpenExisting);
    }

    std::string FDir;
    std::string FDatabase;
    std::string FLockFile;
};

std::string Ok(Int64 value)
{
    return "ok " + std::to_string(value);
}

struct THeldLock {
    Int64 Address = 0;
    Int64 Size = 0;
    Int64 Type = 0;
};

// The table locks a child holds, oldest first.
std::vector<THeldLock> TableLocksOf(TLockChild& child)
{
    std::istringstream answer(child.Send("tlocks"));
    std::string item;
    answer >> item; // "ok"
    std::vector<THeldLock> locks;
    while (answer >> item) {
        THeldLock lock;
        char colon;
        std::istringstream(item) >> lock.Address >> colon >> lock.Size >> colon >> lock.Type;
        locks.push_back(lock);
    }
    return locks;
}

// ------------------------------------------------------------ lock-file name

TEST(LockFileNameTest, FollowsTheDatabaseExtensionRule)
{
    const struct {
        const char* database;
        const char* lockFile;
    } cases[] = {
        {"/data/shop.vek", "/data/shop.lck"},
        {"/data/SHOP.VEK", "/data/SHOP.lck"},
        {"/data/shop.dat", "/data/shop_dat.lck"},
        {"/data/shop.old.dat", "/data/shop_old_dat.lck"},
        {"/data/shop", "/data/shop.lck"},
        {"/data/shop.vek.bak", "/data/shop.vek.lck"}, // ".vek" anywhere in the name
        // Only the file name counts: a ".vek" folder must not make shop.dat
        // share its lock file with a shop.vek beside it.
        {"/data/x.vek/shop.dat", "/data/x.vek/shop_dat.lck"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetLockFileName(c.database), c.lockFile) << c.database;
}

// ---------------------------------------------------------- with processes

TEST_F(LockMgrTest, TwoConnectionsOfOneUserShareASlotAndTheLastCloseRemovesTheFile)
{
    TLockChild first, second;
    EXPECT_EQ(first.Send(OpenAs("alice")), Ok(ConnectionLockBase + Slot1));
    EXPECT_EQ(second.Send(OpenAs("alice")), Ok(ConnectionLockBase + Slot1 + 1));
    EXPECT_EQ(SlotText(Slot1), "host1,alice");
    EXPECT_EQ(FileSizeOf(FLockFile), 2 * LockFileSlotSize);
    EXPECT_EQ(second.Send("users"), "ok 1 2");

    EXPECT_EQ(first.Send("close"), "ok");
    EXPECT_EQ(SlotText(Slot1), "host1,alice"); // the second still holds its byte
    EXPECT_EQ(second.Send("users"), "ok 1 1");

    EXPECT_EQ(second.Send("close"), "ok");
    EXPECT_FALSE(FileExists(FLockFile));
}

TEST_F(LockMgrTest, ReadersOfATableCoexistAndAWriterWaitsForThem)
{
    TLockChild reader1, reader2, writer;
    ASSERT_TRUE(Connect(reader1, "r1", 2, 10));
    ASSERT_TRUE(Connect(reader2, "r2", 2, 10));
    ASSERT_TRUE(Connect(writer, "w", 3, 20));

    EXPECT_EQ(reader1.Send("tread 7"), "ok 1");
    EXPECT_EQ(reader2.Send("tread 7"), "ok 1");
    for (TLockChild* reader : {&reader1, &reader2}) {
        // One byte inside table 7's region.
        const std::vector<THeldLock> locks = TableLocksOf(*reader);
        ASSERT_EQ(locks.size(), 1u);
        EXPECT_GE(locks[0].Address, Table7);
        EXPECT_LT(locks[0].Address, Table7 + TableLockRegionSize);
        EXPECT_EQ(locks[0].Size, 1);
        EXPECT_EQ(locks[0].Type, LockTypeRead);
    }
    EXPECT_EQ(writer.Send("twrite 7").substr(0, 9), "err 10249");
    EXPECT_EQ(writer.Send("twrite 8"), "ok 4"); // other tables are free

    EXPECT_EQ(reader1.Send("trelease 7"), "ok 0");
    EXPECT_EQ(writer.Send("twrite 7").substr(0, 9), "err 10249");
    EXPECT_EQ(reader2.Send("trelease 7"), "ok 0");
    EXPECT_EQ(writer.Send("twrite 7"), "ok 4");
    EXPECT_EQ(reader1.Send("tread 7").substr(0, 9), "err 10249"); // now the writer excludes readers
}

TEST_F(LockMgrTest, AnUpgradedReaderHoldsTheBytesAroundItsReadByte)
{
    TLockChild upgrader, other;
    ASSERT_TRUE(Connect(upgrader, "u"));
    ASSERT_TRUE(Connect(other, "o", 2, 10));
    ASSERT_EQ(upgrader.Send("tread 7"), "ok 1");
    // After the upgrade the table reports the strongest lock it holds.
    EXPECT_EQ(upgrader.Send("tupgrade 7"), "ok 4");

    std::vector<THeldLock> locks = TableLocksOf(upgrader);
    std::sort(locks.begin(), locks.end(),
              [](const THeldLock& a, const THeldLock& b) { return a.Address < b.Address; });
    // The read byte, and write locks before and after it, cover the region
    // without gaps or overlaps.
    ASSERT_GE(locks.size(), 2u);
    ASSERT_LE(locks.size(), 3u);
    Int64 next = Table7;
    int reads = 0;
    for (const THeldLock& lock : locks) {
        EXPECT_EQ(lock.Address, next);
        next = lock.Address + lock.Size;
        if (lock.Type == LockTypeRead) {
            ++reads;
            EXPECT_EQ(lock.Size, 1);
        }
    }
    EXPECT_EQ(next, Table7 + TableLockRegionSize);
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(other.Send("tread 7").substr(0, 9), "err 10249");

    // A second upgrade of an id with a write lock is a no-op; a release frees it all.
    EXPECT_EQ(upgrader.Send("twrite 7"), "ok 4");
    EXPECT_EQ(upgrader.Send("trelease 7"), "ok 0");
    EXPECT_EQ(other.Send("twrite 7"), "ok 4");
}

TEST_F(LockMgrTest, AnUpgradeBlockedByAnotherReaderFailsAndKeepsTheReadLock)
{
    TLockChild upgrader, reader, writer;
    ASSERT_TRUE(Connect(upgrader, "u", 2, 10));
    ASSERT_TRUE(Connect(reader, "r"));
    ASSERT_TRUE(Connect(writer, "w", 1, 10));
    ASSERT_EQ(upgrader.Send("tread 7"), "ok 1");
    ASSERT_EQ(reader.Send("tread 7"), "ok 1");
    const std::string failed = upgrader.Send("tupgrade 7");
    EXPECT_EQ(failed.substr(0, 9), "err 10249");
    EXPECT_NE(failed.find("A write lock could not be obtained on the table"), std::string::npos);
    // Nothing of the failed upgrade stays held; the read lock does.
    const std::vector<THeldLock> held = TableLocksOf(upgrader);
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(held[0].Type, LockTypeRead);
    EXPECT_EQ(reader.Send("trelease 7"), "ok 0");
    EXPECT_EQ(writer.Send("twrite 7").substr(0, 9), "err 10249");
    EXPECT_EQ(upgrader.Send("tupgrade 7"), "ok 4");
}

TEST_F(LockMgrTest, RetriesAgainstAHeldLockEndIn10249AfterAboutRetriesTimesInterval)
{
    TLockChild holder, waiter, impatient;
    ASSERT_TRUE(Connect(holder, "h", 1, 10));
    ASSERT_TRUE(Connect(waiter, "w", 5, 100));
    ASSERT_TRUE(Connect(impatient, "i", 0, 100));

    // A retry count of 0 still makes one attempt.
    EXPECT_EQ(impatient.Send("tread 3"), "ok 1");
    EXPECT_EQ(impatient.Send("rlock 99"), "ok 4");

    ASSERT_EQ(holder.Send("twrite 7"), "ok 4");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(waiter.Send("tread 7"), std::string("err 10249 ") + ReadLockTimeoutMessage);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(400));
    EXPECT_LT(waited, std::chrono::seconds(20));
    EXPECT_EQ(impatient.Send("tread 7").substr(0, 9), "err 10249");

    // Record and transaction locks carry their own texts.
    const std::string record = holder.Send("rlock 99");
    EXPECT_EQ(record.substr(0, 9), "err 10249");
    EXPECT_NE(record.find("- A lock could not be obtained on the record"), std::string::npos);
    ASSERT_EQ(holder.Send("xlock 5"), "ok 4");
    const std::string transaction = waiter.Send("xlock 5"); // 20 tries, 80 to 119 ms apart
    EXPECT_NE(transaction.find("(error code #10249) - A transaction lock could not be obtained"),
              std::string::npos);
}

TEST_F(LockMgrTest, ManyRecordLocksAreHeldAgainstOthersAndReleasedTogether)
{
    TLockChild holder, other;
    ASSERT_TRUE(Connect(holder, "h", 0, 0));
    ASSERT_TRUE(Connect(other, "o", 0, 0));
    ASSERT_EQ(holder.Send("twrite 3"), "ok 4");

    // 100,000 records side by side, then 2,000 with a free record between
    // each two; the other process holds one of those gaps.
    ASSERT_EQ(holder.Send("rmany 1000 100000 1"), Ok(100000));
    ASSERT_EQ(other.Send("rlock 500001"), "ok 4");
    ASSERT_EQ(holder.Send("rmany 500000 2000 2"), Ok(102000));
    EXPECT_EQ(holder.Send("rlock 500001").substr(0, 9), "err 10249");
    for (const char* taken : {"1000", "50000", "100999", "500000", "503998"})
        EXPECT_EQ(other.Send(std::string("rlock ") + taken).substr(0, 9), "err 10249") << taken;
    EXPECT_EQ(other.Send("rlock 500003"), "ok 4"); // a gap

    // The holder also asks again for locks it has: granted without a new lock.
    EXPECT_EQ(holder.Send("rmany 1000 10 1"), Ok(102000));

    EXPECT_EQ(holder.Send("rreleaseall"), Ok(0));
    for (const char* freed : {"1000", "50000", "100999", "500000", "503998"})
        EXPECT_EQ(other.Send(std::string("rlock ") + freed), "ok 4") << freed;
    // What others hold, and the holder's other locks, stay held.
    EXPECT_EQ(holder.Send("rlock 500001").substr(0, 9), "err 10249");
    EXPECT_EQ(holder.Send("rlock 500003").substr(0, 9), "err 10249");
    EXPECT_EQ(other.Send("tread 3").substr(0, 9), "err 10249");
    // And the holder can lock its records again once the other lets go.
    EXPECT_EQ(other.Send("rreleaseall"), Ok(0));
    EXPECT_EQ(holder.Send("rmany 1000 100000 1"), Ok(100000));
    EXPECT_EQ(holder.Send("close"), "ok");
    EXPECT_EQ(other.Send("rmany 1000 10 7"), Ok(10));
}

TEST_F(LockMgrTest, AKilledProcessSlotIsSweptAndReused)
{
    TLockChild alice, bob;
    ASSERT_EQ(alice.Send(OpenAs("alice")), Ok(ConnectionLockBase + Slot1));
    ASSERT_EQ(bob.Send(OpenAs("bob")), Ok(ConnectionLockBase + Slot2));
    ASSERT_EQ(alice.Send("twrite 7"), "ok 4");
    alice.Kill();

    // Its locks went with it; its slot stays until a close sweeps it.
    EXPECT_EQ(bob.Send("twrite 7"), "ok 4");
    EXPECT_EQ(bob.Send("users"), "ok 1 1");
    EXPECT_EQ(bob.Send("list"), "ok host1,alice|host1,bob");
    {
        TLockChild carol;
        EXPECT_EQ(carol.Send(OpenAs("carol")), Ok(ConnectionLockBase + Slot3));
        EXPECT_EQ(carol.Send("close"), "ok");
    }
    EXPECT_EQ(bob.Send("list"), "ok |host1,bob|");
    TLockChild dave;
    EXPECT_EQ(dave.Send(OpenAs("dave")), Ok(ConnectionLockBase + Slot1));
    EXPECT_EQ(SlotText(Slot1), "host1,dave");
    EXPECT_EQ(bob.Send("users"), "ok 2 2");
    EXPECT_EQ(bob.Send("close"), "ok");
    EXPECT_EQ(dave.Send("close"), "ok");
    EXPECT_FALSE(FileExists(FLockFile));
    EXPECT_FALSE(FileExists(GetRecordLockFileName(FLockFile)));
}

TEST_F(LockMgrTest, RecordLocksOfAKilledProcessAreFreedAndNotInheritedByTheNextConnection)
{
    TLockChild alice, bob;
    ASSERT_TRUE(Connect(alice, "alice", 0, 0));
    ASSERT_TRUE(Connect(bob, "bob", 2, 10));
    // Scattered records, enough to make the table grow several times.
    ASSERT_EQ(alice.Send("rmany 1000 30000 7919"), Ok(30000));
    EXPECT_EQ(bob.Send("rlock 1000").substr(0, 9), "err 10249");
    EXPECT_EQ(bob.Send("rlock " + std::to_string(1000 + 29999 * 7919)).substr(0, 9), "err 10249");
    EXPECT_EQ(bob.Send("rlock 1001"), "ok 4");
    EXPECT_EQ(alice.Send("rlock 1001").substr(0, 9), "err 10249");
    alice.Kill();

    // The next connection takes the dead one's place in the table; what the
    // dead one held is free all the same, to it and to everyone else.
    TLockChild carol;
    ASSERT_TRUE(Connect(carol, "carol", 0, 0));
    EXPECT_EQ(bob.Send("rlock 1000"), "ok 4");
    EXPECT_EQ(carol.Send("rlock " + std::to_string(1000 + 7919)), "ok 4");
    EXPECT_EQ(bob.Send("rlock " + std::to_string(1000 + 7919)).substr(0, 9), "err 10249");
    // The rest of the dead one's records, beside bob's 1000 and 1001.
    EXPECT_EQ(bob.Send("rmany " + std::to_string(1000 + 2 * 7919) + " 29998 7919"), Ok(30000));
    EXPECT_EQ(carol.Send("rlock 1001").substr(0, 9), "err 10249");
    EXPECT_EQ(bob.Send("rreleaseall"), Ok(0));
    EXPECT_EQ(carol.Send("rmany 1000 30000 7919"), Ok(30000));
}

// The table file is input: a damaged header or region word leaves an empty
// table instead of a crash or a stray mapping.
TEST_F(LockMgrTest, ARecordLockTableWithADamagedHeaderStartsEmpty)
{
    auto database = OpenDatabase();
    const std::string tableFile = GetRecordLockFileName(FLockFile);
    const struct {
        const char* what;
        std::uint64_t region;
        std::int64_t size;
    } cases[] = {
        {"a region beyond the end", (std::uint64_t{100} << 8) | 10, 8192},
        {"too few slots", (std::uint64_t{1} << 8) | 3, 1 << 20},
        {"too many slots", (std::uint64_t{1} << 8) | 60, 1 << 20},
        {"a region over the header", (std::uint64_t{0} << 8) | 10, 1 << 20},
        {"a short file", 0, 100},
    };
    for (const auto& c : cases) {
        {
            // A sound table first (its magic number and mutex), then the damage.
            { TRecordLockTable sound(tableFile); }
            auto file = TPlatformFile::Open(tableFile, TFileAccess::ReadWrite, TFileShare::DenyNone,
                                            TFileCreate::OpenAlways);
            ASSERT_TRUE(file->Truncate(c.size));
            if (c.size >= 16) {
                ASSERT_EQ(file->WriteAt(8, &c.region, sizeof c.region), 8);
            }
        }
        TDBUserMonitor first(database.get(), FLockFile);
        first.Open("alice", "host1");
        TDBUserMonitor second(database.get(), FLockFile);
        second.Open("bob", "host1");
        EXPECT_TRUE(first.RecordLocks()->TryLock(7)) << c.what;
        EXPECT_FALSE(second.RecordLocks()->TryLock(7)) << c.what;
        EXPECT_TRUE(second.RecordLocks()->LockedByOther(7)) << c.what;
        first.RecordLocks()->Unlock(7);
        EXPECT_TRUE(second.RecordLocks()->TryLock(7)) << c.what;
        EXPECT_EQ(first.RecordLocks()->LiveCount(), 1) << c.what;
    }
}

// A machine that goes down while a process holds the table's mutex leaves it
// held by nobody who will ever give it up. The next connection, finding no
// other connection alive, frees it instead of waiting for it in vain.
TEST_F(LockMgrTest, AMutexLeftHeldByAHolderThatIsGoneIsFreedByTheNextConnection)
{
    auto database = OpenDatabase();
    const std::string tableFile = GetRecordLockFileName(FLockFile);
    { TRecordLockTable sound(tableFile); }
    // The bytes of a mutex held by a thread: a held mutex that is on no
    // holder's list of mutexes to hand on when it ends.
    alignas(64) unsigned char mutex[SharedMutexSize] = {};
    alignas(64) unsigned char held[SharedMutexSize] = {};
    InitSharedMutex(mutex);
    ASSERT_TRUE(LockSharedMutex(mutex, 0));
    std::copy(std::begin(mutex), std::end(mutex), std::begin(held));
    UnlockSharedMutex(mutex);
    {
        auto file = TPlatformFile::Open(tableFile, TFileAccess::ReadWrite, TFileShare::DenyNone,
                                        TFileCreate::OpenAlways);
        ASSERT_EQ(file->WriteAt(64, held, sizeof held), static_cast<std::int64_t>(sizeof held));
    }
    TDBUserMonitor first(database.get(), FLockFile);
    first.Open("alice", "host1");
    TDBUserMonitor second(database.get(), FLockFile);
    second.Open("bob", "host1");
    EXPECT_TRUE(first.RecordLocks()->TryLock(7));
    EXPECT_FALSE(second.RecordLocks()->TryLock(7));
    first.RecordLocks()->Unlock(7);
    EXPECT_TRUE(second.RecordLocks()->TryLock(7));
}

// Two connections of one process: the table grows, is rebuilt and shrinks
// under one while the other keeps seeing every lock.
TEST_F(LockMgrTest, TheRecordLockTableGrowsAndShrinksUnderEveryConnection)
{
    auto database = OpenDatabase();
    TDBUserMonitor first(database.get(), FLockFile);
    first.Open("alice", "host1");
    TDBUserMonitor second(database.get(), FLockFile);
    second.Open("bob", "host1");
    TRecordLockTable& a = *first.RecordLocks();
    TRecordLockTable& b = *second.RecordLocks();
    std::vector<Cardinal> held;
    for (Cardinal i = 0; i < 50000; ++i)
        held.push_back(i * 2654435761U);
    for (const Cardinal record : held)
        ASSERT_TRUE(a.TryLock(record));
    ASSERT_TRUE(b.TryLock(1));
    EXPECT_EQ(a.LiveCount(), 50001);
    for (std::size_t i = 0; i < held.size(); i += 997)
        EXPECT_FALSE(b.TryLock(held[i])) << i;
    a.UnlockAll(held); // shrinks the table
    EXPECT_EQ(b.LiveCount(), 1);
    EXPECT_FALSE(a.TryLock(1));
    for (std::size_t i = 0; i < held.size(); i += 997)
        EXPECT_TRUE(b.TryLock(held[i])) << i;
    // Lock and unlock over and over: deleted slots are shed by rebuilds in
    // place, and the file does not grow.
    const auto size = FileSizeOf(GetRecordLockFileName(FLockFile));
    for (int round = 0; round < 20000; ++round) {
        ASSERT_TRUE(a.TryLock(static_cast<Cardinal>(round) + 7));
        a.Unlock(static_cast<Cardinal>(round) + 7);
    }
    EXPECT_EQ(FileSizeOf(GetRecordLockFileName(FLockFile)), size);
    EXPECT_EQ(a.LiveCount(), 1 + 50000 / 997 + 1);
}

// A witness log of lock holders, checked after the run.
struct TWitnessCheck {
    int Writes = 0;
    int Reads = 0;
    int Connects = 0;
    std::vector<std::string> Faults;

    void Verify(const std::string& path)
    {
        struct THolders {
            int Writers = 0;
            int Readers = 0;
        };
        std::map<std::string, THolders> resources;
        std::map<std::string, std::string> connected; // pid -> lock-file inode
        std::ifstream log(path);
        std::string line;
        int number = 0;
        while (std::getline(log, line)) {
            ++number;
            std::istringstream in(line);
            std::string pid, event, rest;
            in >> pid >> event;
            std::getline(in, rest);
            const std::string where = "line " + std::to_string(number) + ": " + line;
            THolders& holders = resources[rest];
            if (event == "W+") {
                ++Writes;
                if (holders.Writers > 0 || holders.Readers > 0)
                    Faults.push_back("writer beside another holder, " + where);
                ++holders.Writers;
            } else if (event == "W-") {
                --holders.Writers;
            } else if (event == "R+") {
                ++Reads;
                if (holders.Writers > 0)
                    Faults.push_back("reader beside a writer, " + where);
                ++holders.Readers;
            } else if (event == "R-") {
                --holders.Readers;
            } else if (event == "C+") {
                ++Connects;
                for (const auto& [other, inode] : connected)
                    if (inode != rest)
                        Faults.push_back("two lock files in use at once, " + where);
                connected[pid] = rest;
            } else if (event == "C-") {
                connected.erase(pid);
            } else {
                Faults.push_back("unknown event, " + where);
            }
        }
    }
};

TEST_F(LockMgrTest, StressEightProcessesNeverSeeTwoWritersAtOnce)
{
    const std::string log = FDir + "/witness.log";
    constexpr int Processes = 8;
    constexpr int Operations = 2000;
    std::vector<std::unique_ptr<TLockChild>> children;
    for (int i = 0; i < Processes; ++i) {
        children.push_back(std::make_unique<TLockChild>());
        // Patient, quick retries: a lock should practically never time out.
        ASSERT_TRUE(Connect(*children.back(), "user" + std::to_string(i % 3), 20000, 1));
    }
    // All run at once; each answers with its number of timed-out locks.
    for (int i = 0; i < Processes; ++i)
        children[static_cast<std::size_t>(i)]->SendAsync("stress " + std::to_string(Operations) + " " +
                                                         std::to_string(1000 + i) + " " + log + " 4 16");
    for (int i = 0; i < Processes; ++i)
        EXPECT_EQ(children[static_cast<std::size_t>(i)]->Receive(), "ok 0") << "child " << i;
    for (auto& child : children)
        EXPECT_EQ(child->Send("close"), "ok");
    children.clear();

    TWitnessCheck check;
    check.Verify(log);
    EXPECT_TRUE(check.Faults.empty()) << check.Faults.size() << " faults, first: " << check.Faults.front();
    // Every operation is a lock or a reconnection (each child connected once more at its start).
    EXPECT_EQ(check.Writes + check.Reads + check.Connects - Processes, Processes * Operations);
    EXPECT_GT(check.Writes, Processes * Operations / 2);
    EXPECT_GT(check.Reads, Processes * Operations / 4);
    EXPECT_FALSE(FileExists(FLockFile));
}

// Connections come and go while the lock file is created and removed again
// and again: no two live connections ever use different lock files.
TEST_F(LockMgrTest, ConnectingAndClosingNeverSplitsConnectionsOverTwoLockFiles)
{
    const std::string log = FDir + "/witness.log";
    constexpr int Processes = 8;
    constexpr int Cycles = 100;
    std::vector<std::unique_ptr<TLockChild>> children;
    for (int i = 0; i < Processes; ++i) {
        children.push_back(std::make_unique<TLockChild>());
        children.back()->SendAsync(OpenAs("user" + std::to_string(i)));
    }
    for (auto& child : children)
        ASSERT_EQ(child->Receive().substr(0, 2), "ok");
    for (auto& child : children)
        ASSERT_EQ(child->Send("close"), "ok"); // keeps the first arguments for churn
    EXPECT_FALSE(FileExists(FLockFile));
    for (auto& child : children)
        child->SendAsync("churn " + std::to_string(Cycles) + " " + log);
    for (auto& child : children)
        EXPECT_EQ(child->Receive(), Ok(Cycles));
    children.clear();

    TWitnessCheck check;
    check.Verify(log);
    EXPECT_TRUE(check.Faults.empty()) << check.Faults.size() << " faults, first: " << check.Faults.front();
    EXPECT_EQ(check.Connects, Processes * Cycles);
    EXPECT_FALSE(FileExists(FLockFile));
}

// ------------------------------------------------------------ in one process

TEST_F(LockMgrTest, ALockFileOfFourMebibytesRefusesConnections)
{
    auto database = OpenDatabase();
    {
        auto lockFile = TPlatformFile::Open(FLockFile, TFileAccess::ReadWrite, TFileShare::DenyNone,
                                            TFileCreate::CreateNew);
        ASSERT_TRUE(lockFile->Truncate(LockFileSizeLimit)); // 4,194,304 bytes
    }
    TDBUserMonitor monitor(database.get(), FLockFile);
    try {
        monitor.Open("alice", "host1");
        FAIL() << "opened";
    } catch (const EVekDatabaseError& e) {
        EXPECT_EQ(e.ErrorCode, 9486);
        EXPECT_EQ(e.Message(), "The Orvex database engine raised an error\r\n Too many clients  (error code "
                               "#9486) - The lock file has grown too large");
    }
    EXPECT_FALSE(monitor.Active());
    EXPECT_EQ(FileSizeOf(FLockFile), LockFileSizeLimit);

    // One byte less still admits a connection, into the first empty slot.
    {
        auto lockFile = TPlatformFile::Open(FLockFile, TFileAccess::ReadWrite, TFileShare::DenyNone,
                                            TFileCreate::OpenExisting);
        ASSERT_TRUE(lockFile->Truncate(LockFileSizeLimit - 1));
    }
    monitor.Open("alice", "host1");
    EXPECT_EQ(monitor.ConnectionOffset(), ConnectionLockBase + Slot1);
    monitor.Close();
    EXPECT_FALSE(FileExists(FLockFile));
}

TEST_F(LockMgrTest, AMutexHeldElsewhereEndsIn10249WithTheLockFileText)
{
    auto database = OpenDatabase();
    TDBUserMonitor first(database.get(), FLockFile);
    first.Open("alice", "host1");
    auto intruder = TPlatformFile::Open(FLockFile, TFileAccess::ReadWrite, TFileShare::DenyNone,
                                        TFileCreate::OpenExisting);
    ASSERT_TRUE(intruder->LockRange(LockFileMutexOffset, 1));

    auto otherDatabase = OpenDatabase();
    TDBUserMonitor second(otherDatabase.get(), FLockFile);
    const auto start = std::chrono::steady_clock::now();
    try {
        second.Open("bob", "host1");
        FAIL() << "opened";
    } catch (const EVekDatabaseError& e) {
        EXPECT_EQ(e.ErrorCode, 10249);
        EXPECT_NE(e.Message().find("- A lock could not be obtained on the lock file"), std::string::npos);
    }
    // One try and 20 more, 100 ms apart.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1800));
    EXPECT_FALSE(second.Active());

    ASSERT_TRUE(intruder->UnlockRange(LockFileMutexOffset, 1));
    second.Open("bob", "host1");
    EXPECT_EQ(second.ConnectionOffset(), ConnectionLockBase + Slot2);
    EXPECT_EQ(first.GetCurrentUserCount(), 2);
}

TEST_F(LockMgrTest, MonitorsCountAndListUsersAndConnections)
{
    auto database = OpenDatabase();
    std::vector<std::unique_ptr<TDBUserMonitor>> monitors;
    const struct {
        const char* user;
        const char* computer;
    } connections[] = {{"alice", "host1"}, {"ALICE", "HOST1"}, {"bob", "host1"},
                       {"alice", "host2"}, {"bob smith", "host,2"}};
    for (const auto& c : connections) {
        monitors.push_back(std::make_unique<TDBUserMonitor>(database.get(), FLockFile));
        monitors.back()->Open(c.user, c.computer);
    }
    // The entry text compares without regard to case.
    EXPECT_EQ(monitors[0]->ConnectionOffset(), ConnectionLockBase + Slot1);
    EXPECT_EQ(monitors[1]->ConnectionOffset(), ConnectionLockBase + Slot1 + 1);
    EXPECT_EQ(monitors[4]->EntryText(), "\"host,2\",\"bob smith\"");
    TStringList users;
    monitors[2]->GetCurrentUsers(&users);
    ASSERT_EQ(users.Count(), 4);
    EXPECT_EQ(users[0], "host1,alice"); // as the first connection wrote it
    EXPECT_EQ(users[1], "host1,bob");
    EXPECT_EQ(users[2], "host2,alice");
    EXPECT_EQ(users[3], monitors[4]->EntryText());
    EXPECT_EQ(monitors[0]->GetCurrentUserCount(), 4);
    EXPECT_EQ(monitors[0]->GetCurrentConnectionCount(), 5);
    EXPECT_EQ(monitors[0]->CountConnectionsForUser(Slot1), 2);
    EXPECT_EQ(monitors[0]->CountConnectionsForUser(Slot3), 1);
    EXPECT_EQ(monitors[0]->SweepLockFile(), 4);

    monitors[2]->Close();
    monitors[2]->GetCurrentUsers(&users); // closed: nothing to list
    EXPECT_EQ(users.Count(), 0);
    monitors[0]->GetCurrentUsers(&users);
    EXPECT_EQ(users.Count(), 4);
    EXPECT_EQ(users[1], "");
    EXPECT_EQ(monitors[0]->GetCurrentUserCount(), 3);
    monitors.clear(); // destruction closes
    EXPECT_FALSE(FileExists(FLockFile));
}

// The index of held locks against a plain model: ids that crowd into the
// same slots, several locks per id, locks given up in any order.
TEST(LockCollectionTest, FindsEveryHeldLockByIdWhateverWasGivenUpBefore)
{
    TLockCollection locks;
    std::multimap<Int64, TLockItem*> model;
    std::mt19937 random(7);
    auto check = [&] {
        ASSERT_EQ(locks.Count(), static_cast<int>(model.size()));
        for (Int64 id = 0; id < 3000; id += 1) {
            const auto [from, to] = model.equal_range(id);
            std::vector<TLockItem*> expected;
            for (auto it = from; it != to; ++it)
                expected.push_back(it->second);
            std::vector<TLockItem*> found;
            for (TLockItem* item = locks.FirstLockOf(id); item; item = item->NextOfID())
                found.push_back(item);
            ASSERT_EQ(found, expected) << id; // oldest first
            Integer strongest = LockTypeNone;
            for (const TLockItem* item : expected)
                strongest = std::max(strongest, item->LckType);
            ASSERT_EQ(locks.FindLockType(id), strongest) << id;
        }
    };
    for (int round = 0; round < 4; ++round) {
        // Ids a power of two apart meet in few slots; some get a second and
        // a third lock.
        for (int i = 0; i < 700; ++i) {
            const Int64 id = (static_cast<Int64>(random() % 300) * 8 + round) % 3000;
            const Integer type = model.count(id) ? LockTypeWrite : LockTypeRead;
            model.emplace(id, locks.AddLock(id, RecordLockBase + id, type, 1));
        }
        check();
        // Give up about half, oldest, newest and middle ones alike.
        for (int i = locks.Count() - 1; i >= 0; --i) {
            if (random() % 2)
                continue;
            TLockItem* item = locks.Items(i);
            for (auto it = model.begin(); it != model.end(); ++it)
                if (it->second == item) {
                    model.erase(it);
                    break;
                }
            locks.Delete(i);
        }
        check();
    }
    locks.Clear();
    model.clear();
    check();
    locks.AddLock(8, RecordLockBase + 8, LockTypeRead, 1);
    EXPECT_EQ(locks.FindLockType(8), LockTypeRead);
}

TEST_F(LockMgrTest, ManagersMapIdsToTheirRegions)
{
    auto database = OpenDatabase();
    TDBUserMonitor monitor(database.get(), FLockFile);
    monitor.Open("alice", "host1");
    TPlatformFile* handle = monitor.LockFileHandle();
    std::unique_ptr<TBaseLockMgr> tables(CreateLockManager(lmkTable, &monitor, 3, 1));
    std::unique_ptr<TBaseLockMgr> records(CreateLockManager(lmkRecord, &monitor, 3, 1));
    std::unique_ptr<TBaseLockMgr> transactions(CreateLockManager(lmkTransaction, &monitor, 3, 1));

    EXPECT_EQ(tables->GetCalculatedLockAddr(0), 0x800000);
    EXPECT_EQ(tables->GetCalculatedLockAddr(7), Table7);
    EXPECT_EQ(records->GetCalculatedLockAddr(0xFFFFFFF0LL), 0x2000000 + 0xFFFFFFF0LL);
    EXPECT_EQ(transactions->GetCalculatedLockAddr(5), 0x1FFE005);
    EXPECT_EQ(tables->LockRetryCount(), 3);
    EXPECT_EQ(transactions->LockRetryCount(), 20);
    EXPECT_GE(transactions->LockRetryInterval(), 80);
    EXPECT_LT(transactions->LockRetryInterval(), 120);

    // A record id is a 32-bit address; its lock is an entry of the record-lock
    // table, which another connection sees, not a byte of the lock file.
    EXPECT_EQ(records->SetWriteLock(0xFFFFFFF0LL, 0), LockTypeWrite);
    EXPECT_EQ(records->Locks()->Items(0)->LckAddr, 0x2000000 + 0xFFFFFFF0LL);
    TDBUserMonitor peer(database.get(), FLockFile);
    peer.Open("bob", "host2");
    EXPECT_TRUE(peer.RecordLocks()->LockedByOther(0xFFFFFFF0U));
    EXPECT_FALSE(peer.RecordLocks()->LockedByOther(0xFFFFFFF1U));
    auto other = TPlatformFile::Open(FLockFile, TFileAccess::ReadWrite, TFileShare::DenyNone,
                                     TFileCreate::OpenExisting);
    EXPECT_TRUE(other->CanLockRange(0x2000000, 0x100000000ULL));

    // The whole region for a write lock of size 0; a given size from the region's start.
    EXPECT_EQ(tables->SetWriteLock(2, 0), LockTypeWrite);
    EXPECT_EQ(tables->Locks()->Items(0)->LckSize, TableLockRegionSize);
    EXPECT_EQ(tables->SetWriteLock(3, 10), LockTypeWrite);
    EXPECT_FALSE(other->CanLockRange(TableLockBase + 3 * 8192 + 9, 1));
    EXPECT_TRUE(other->CanLockRange(TableLockBase + 3 * 8192 + 10, 1));
    EXPECT_EQ(tables->SetWriteLock(3, 10), LockTypeWrite); // held: answered at once
    EXPECT_EQ(tables->GetLockCount(), 2);
    EXPECT_TRUE(tables->SetReadLock(4, 0));
    EXPECT_TRUE(tables->SetReadLock(4, 0)); // held: answered at once
    EXPECT_TRUE(tables->LockExists(4, LockTypeRead));
    EXPECT_FALSE(tables->LockExists(4, LockTypeWrite));
    EXPECT_EQ(tables->QueryLockType(4), LockTypeRead);
    EXPECT_EQ(tables->QueryLockType(9), LockTypeNone);

    TStringList dump;
    tables->DebugDumpStatus(&dump);
    ASSERT_EQ(dump.Count(), 7);
    EXPECT_EQ(dump[0], "TBaseLockMgr.DebugDumpStatus");
    EXPECT_EQ(dump[1], "Hnd - " + std::to_string(handle->Handle()));
    EXPECT_EQ(dump[2], "TLockCollection.DebugDumpStatus - start");
    EXPECT_EQ(dump[6], "TLockCollection.DebugDumpStatus - end");

    // Before a commit every read lock becomes a write lock.
    tables->UpgradeReadLocks();
    EXPECT_EQ(tables->QueryLockType(4), LockTypeWrite);
    EXPECT_TRUE(tables->LockExists(4, LockTypeRead));
    EXPECT_FALSE(other->CanLockRange(TableLockBase + 4 * 8192, 8192));
    EXPECT_TRUE(other->CanLockRange(TableLockBase + 4 * 8192 - 1, 1));
    EXPECT_TRUE(other->CanLockRange(TableLockBase + 5 * 8192, 1));

    tables->ReleaseLock(4);
    EXPECT_EQ(tables->QueryLockType(4), LockTypeNone);
    EXPECT_TRUE(other->CanLockRange(TableLockBase + 4 * 8192, 8192));
    EXPECT_EQ(tables->GetLockCount(), 2);
    tables->ReleaseAllLocks();
    records->ReleaseAllLocks();
    EXPECT_EQ(tables->GetLockCount(), 0);
    EXPECT_TRUE(other->CanLockRange(TableLockBase, 0x1000000));
    EXPECT_EQ(handle->LockedRangeCount(), 1); // the connection byte

    // Freed managers give back what they still hold.
    EXPECT_TRUE(tables->SetReadLock(6, 0));
    tables.reset();
    EXPECT_TRUE(other->CanLockRange(TableLockBase, 0x1000000));
}

TEST_F(LockMgrTest, ManagersRefuseBadArguments)
{
    auto file = OpenDatabase();
    EXPECT_THROW(TWinLockMgr(nullptr, TableLockBase, 8192), EAssertionFailed);
    EXPECT_THROW(TWinLockMgr(file.get(), TableLockBase, 0), EAssertionFailed);
    TWinLockMgr manager(file.get(), TableLockBase, 8192);
    EXPECT_THROW(manager.SetReadLock(1, 8193), EAssertionFailed);
    EXPECT_THROW(manager.SetWriteLock(1, 8193), EAssertionFailed);
    try {
        manager.UpgradeReadLockToWriteLock(1, 0); // no read lock to upgrade
        FAIL() << "upgraded";
    } catch (const EVekDatabaseError& e) {
        EXPECT_EQ(e.ErrorCode, 10249);
    }
    // A read lock as large as the region stays inside it.
    EXPECT_TRUE(manager.SetReadLock(1, 8192));
    EXPECT_EQ(manager.Locks()->Items(0)->LckAddr, TableLockBase + 8192);
    const std::unique_ptr<TBaseLockMgr> single(GetLockManager(nullptr, file.get(), 5, 1, 0));
    EXPECT_EQ(single->GetCalculatedLockAddr(3), 8);
}

} // namespace
} // namespace orvex
