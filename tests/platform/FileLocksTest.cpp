// Byte-range locks with Windows LockFile semantics: per handle, exclusive, not
// re-entrant, exact unlock, beyond the end of file, gone with the handle or
// the process; and share modes between processes.

#include "platform/FileIO.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace orvex {
namespace {

std::unique_ptr<TPlatformFile> OpenShared(const std::string& path,
                                          TFileAccess access = TFileAccess::ReadWrite)
{
    return TPlatformFile::Open(path, access, TFileShare::DenyNone, TFileCreate::OpenAlways);
}

class FileLocksTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/orvex_locks_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        FDir = pattern;
        FPath = FDir + "/locks.dat";
        FFirst = OpenShared(FPath);
        FSecond = OpenShared(FPath);
        ASSERT_NE(FFirst, nullptr);
        ASSERT_NE(FSecond, nullptr);
    }
    void TearDown() override
    {
        FFirst.reset();
        FSecond.reset();
        std::filesystem::remove_all(FDir);
    }

    std::string FDir;
    std::string FPath;
    std::unique_ptr<TPlatformFile> FFirst;
    std::unique_ptr<TPlatformFile> FSecond;
};

TEST_F(FileLocksTest, TwoHandlesOfOneProcessConflict)
{
    EXPECT_TRUE(FFirst->LockRange(100, 10));
    EXPECT_FALSE(FSecond->LockRange(100, 10));
    EXPECT_FALSE(FSecond->LockRange(109, 1)); // overlaps the last byte
    EXPECT_FALSE(FSecond->LockRange(50, 51)); // overlaps the first byte
    EXPECT_TRUE(FSecond->LockRange(110, 1));  // just after
    EXPECT_TRUE(FSecond->LockRange(99, 1));   // just before
    EXPECT_FALSE(FSecond->CanLockRange(105, 1));
    EXPECT_TRUE(FFirst->UnlockRange(100, 10));
    EXPECT_TRUE(FSecond->CanLockRange(100, 10));
    EXPECT_TRUE(FSecond->LockRange(100, 10));
}

TEST_F(FileLocksTest, AHandleCannotLockARangeItHoldsOrOverlaps)
{
    ASSERT_TRUE(FFirst->LockRange(1000, 100));
    EXPECT_FALSE(FFirst->LockRange(1000, 100));
    EXPECT_FALSE(FFirst->LockRange(1050, 1));
    EXPECT_FALSE(FFirst->LockRange(900, 101));
    EXPECT_FALSE(FFirst->LockRange(900, 1000)); // spans it
    EXPECT_FALSE(FFirst->CanLockRange(1099, 1));
    // Neighbours are separate locks, each unlocked on its own.
    EXPECT_TRUE(FFirst->LockRange(1100, 5));
    EXPECT_TRUE(FFirst->LockRange(995, 5));
    EXPECT_EQ(FFirst->LockedRangeCount(), 3);
    EXPECT_TRUE(FFirst->UnlockRange(1000, 100));
    EXPECT_TRUE(FSecond->LockRange(1000, 100)); // the neighbours stayed locked
    EXPECT_FALSE(FSecond->LockRange(1100, 1));
    EXPECT_FALSE(FSecond->LockRange(999, 1));
}

TEST_F(FileLocksTest, AWaitingLockIsGrantedWhenTheOtherHandleLetsGo)
{
    ASSERT_TRUE(FFirst->LockRange(7, 1));
    EXPECT_FALSE(FFirst->LockRangeWait(7, 1)); // its own lock: refused, not a deadlock
    std::atomic<bool> granted{false};
    std::thread waiter([&] { granted = FSecond->LockRangeWait(7, 1); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(granted);
    EXPECT_TRUE(FFirst->UnlockRange(7, 1));
    waiter.join();
    EXPECT_TRUE(granted);
    EXPECT_FALSE(FFirst->CanLockRange(7, 1));
    EXPECT_TRUE(FSecond->UnlockRange(7, 1));
}

TEST_F(FileLocksTest, SharedMappingsOfTwoHandlesSeeEachOthersStores)
{
    EXPECT_EQ(FFirst->MapShared(0, 4096), nullptr); // beyond the end
    ASSERT_TRUE(FFirst->Reserve(3 * 4096));
    EXPECT_EQ(FFirst->Size(), 3 * 4096);
    EXPECT_EQ(FFirst->MapShared(100, 4096), nullptr);  // not on a page
    EXPECT_EQ(FFirst->MapShared(4096, 3 * 4096), nullptr); // past the end
    EXPECT_EQ(FFirst->MapShared(4096, 0), nullptr);
    auto a = FFirst->MapShared(4096, 2 * 4096);
    auto b = FSecond->MapShared(2 * 4096, 4096);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(a->Data()[4096 + 5], 0); // reserved bytes read as zero
    a->Data()[4096 + 5] = 42;
    EXPECT_EQ(b->Data()[5], 42);
    FFirst.reset(); // a mapping outlives its handle
    b->Data()[6] = 43;
    EXPECT_EQ(a->Data()[4096 + 6], 43);
    char byte = 0;
    ASSERT_EQ(FSecond->ReadAt(2 * 4096 + 6, &byte, 1), 1);
    EXPECT_EQ(byte, 43);
}

TEST_F(FileLocksTest, AnUnlockMustNameExactlyAHeldRange)
{
    ASSERT_TRUE(FFirst->LockRange(0, 8192));
    EXPECT_FALSE(FFirst->UnlockRange(0, 1));
    EXPECT_FALSE(FFirst->UnlockRange(1, 8191));
    EXPECT_FALSE(FFirst->UnlockRange(0, 8193));
    EXPECT_FALSE(FSecond->UnlockRange(0, 8192)); // held by the other handle
    EXPECT_FALSE(FSecond->LockRange(4096, 1));
    EXPECT_TRUE(FFirst->UnlockRange(0, 8192));
    EXPECT_FALSE(FFirst->UnlockRange(0, 8192)); // no longer held
    EXPECT_EQ(FFirst->LockedRangeCount(), 0);
}

TEST_F(FileLocksTest, OneCallReleasesEveryRangeInsideAWindowAndNothingElse)
{
    // Two thousand separate ranges of the first handle, with the other
    // handle's lock in a gap between them and one of the first's outside.
    for (std::uint64_t i = 0; i < 2000; ++i)
        ASSERT_TRUE(FFirst->LockRange(0x2000000 + i * 3, i % 2 + 1));
    ASSERT_TRUE(FSecond->LockRange(0x2000000 + 3 * 7 + 2, 1));
    ASSERT_TRUE(FFirst->LockRange(0x1000000, 4));
    EXPECT_EQ(FFirst->LockedRangeCountWithin(0x2000000, 6000), 2000);
    EXPECT_EQ(FFirst->LockedRangeCountWithin(0x2000000 + 4, 1), 1); // inside the second

    // A range crossing either edge of the window refuses, releasing nothing.
    EXPECT_EQ(FFirst->UnlockRangesWithin(0x2000000 + 4, 6000), -1);
    EXPECT_EQ(FFirst->UnlockRangesWithin(0x2000000, 3 * 1999 + 1), -1);
    EXPECT_EQ(FFirst->LockedRangeCount(), 2001);
    EXPECT_FALSE(FSecond->CanLockRange(0x2000000 + 3 * 1999, 1));

    EXPECT_EQ(FFirst->UnlockRangesWithin(0x2000000, 6000), 2000);
    EXPECT_EQ(FFirst->LockedRangeCount(), 1);
    EXPECT_EQ(FFirst->UnlockRangesWithin(0x2000000, 6000), 0);
    for (std::uint64_t i : {0, 1, 999, 1999})
        EXPECT_TRUE(FSecond->CanLockRange(0x2000000 + i * 3, i % 2 + 1)) << i;
    EXPECT_FALSE(FFirst->CanLockRange(0x2000000 + 3 * 7 + 2, 1)); // the other's lock stays
    EXPECT_FALSE(FSecond->CanLockRange(0x1000000, 4));            // and ours outside
    EXPECT_TRUE(FFirst->UnlockRange(0x1000000, 4));
}

TEST_F(FileLocksTest, ZeroLengthIsANoOpThatSucceeds)
{
    ASSERT_TRUE(FFirst->LockRange(10, 5));
    EXPECT_TRUE(FFirst->LockRange(12, 0));
    EXPECT_TRUE(FSecond->LockRange(12, 0));
    EXPECT_TRUE(FSecond->UnlockRange(77, 0));
    EXPECT_TRUE(FSecond->CanLockRange(12, 0));
    EXPECT_EQ(FSecond->LockedRangeCount(), 0);
}

TEST_F(FileLocksTest, LocksLieBeyondTheEndOfFileWithSixtyFourBitOffsets)
{
    ASSERT_EQ(FFirst->Size(), 0);
    const std::uint64_t far = 0x1'0200'0000ULL + 0xFFFF'FFF0ULL; // record locks of high addresses
    EXPECT_TRUE(FFirst->LockRange(far, 16));
    EXPECT_FALSE(FSecond->LockRange(far + 15, 1));
    EXPECT_TRUE(FSecond->LockRange(far - 0x1'0000'0000ULL, 16)); // same low 32 bits, no clash
    EXPECT_EQ(FFirst->Size(), 0);
    // The share-mode range above FileLockLimit is never handed out.
    EXPECT_FALSE(FFirst->LockRange(FileLockLimit, 1));
    EXPECT_FALSE(FFirst->LockRange(FileLockLimit - 1, 2));
    EXPECT_FALSE(FFirst->CanLockRange(FileLockLimit - 1, 2));
    EXPECT_FALSE(FFirst->LockRange(1, ~std::uint64_t{0}));
    EXPECT_TRUE(FFirst->LockRange(FileLockLimit - 1, 1));
}

TEST_F(FileLocksTest, ClosingAHandleReleasesItsLocks)
{
    ASSERT_TRUE(FFirst->LockRange(0, 1));
    ASSERT_TRUE(FFirst->LockRange(0x400000, 4096));
    FFirst.reset();
    EXPECT_TRUE(FSecond->LockRange(0, 1));
    EXPECT_TRUE(FSecond->LockRange(0x400000, 4096));
}

TEST_F(FileLocksTest, HandlesOpenedForReadingStillLockExclusively)
{
    auto reader = OpenShared(FPath, TFileAccess::Read);
    ASSERT_NE(reader, nullptr);
    EXPECT_TRUE(reader->LockRange(5, 1));
    EXPECT_FALSE(FFirst->LockRange(5, 1));
}

// A child process made by fork: it runs body (which may report to the parent
// through the pipe) and then waits until the parent writes to it or kills it.
class TChild {
public:
    explicit TChild(const std::function<char()>& body)
    {
        int up[2], down[2];
        EXPECT_EQ(::pipe(up), 0);
        EXPECT_EQ(::pipe(down), 0);
        FPid = ::fork();
        if (FPid == 0) {
            ::close(up[0]);
            ::close(down[1]);
            const char answer = body();
            (void)!::write(up[1], &answer, 1);
            char go;
            (void)!::read(down[0], &go, 1);
            ::_exit(0);
        }
        ::close(up[1]);
        ::close(down[0]);
        FUp = up[0];
        FDown = down[1];
    }
    ~TChild()
    {
        Finish();
        ::close(FUp);
        ::close(FDown);
    }
    char Answer()
    {
        char answer = '?';
        EXPECT_EQ(::read(FUp, &answer, 1), 1);
        return answer;
    }
    // Kills the child and reaps it; nothing is written to its pipe, whose
    // reading end may already be gone (a write would raise SIGPIPE here).
    void Kill()
    {
        if (FPid <= 0)
            return;
        ::kill(FPid, SIGKILL);
        int status = 0;
        ::waitpid(FPid, &status, 0);
        FPid = -1;
    }
    void Finish()
    {
        if (FPid <= 0)
            return;
        (void)!::write(FDown, "x", 1);
        int status = 0;
        ::waitpid(FPid, &status, 0);
        FPid = -1;
    }

private:
    pid_t FPid = -1;
    int FUp = -1;
    int FDown = -1;
};

TEST_F(FileLocksTest, LocksConflictBetweenProcessesAndVanishWithTheProcess)
{
    const std::string path = FPath;
    TChild holder([path] {
        auto file = OpenShared(path);
        const bool locked = file && file->LockRange(0x800000 + 7 * 8192, 8192);
        file.release(); // keep the handle, and its locks, until the process ends
        return locked ? 'L' : 'F';
    });
    ASSERT_EQ(holder.Answer(), 'L');
    EXPECT_FALSE(FFirst->LockRange(0x800000 + 7 * 8192 + 100, 1));
    EXPECT_FALSE(FFirst->CanLockRange(0x800000 + 7 * 8192, 1));
    EXPECT_TRUE(FFirst->CanLockRange(0x800000 + 8 * 8192, 1));

    TChild blocked([path] {
        auto file = OpenShared(path);
        return file && !file->LockRange(0x800000 + 7 * 8192, 1) ? 'B' : 'F';
    });
    EXPECT_EQ(blocked.Answer(), 'B');

    holder.Kill();
    EXPECT_TRUE(FFirst->LockRange(0x800000 + 7 * 8192 + 100, 1));
}

// The mutex in a shared mapping: it excludes other processes, a wait for it
// runs out, a waiter gets it when the holder lets go, and a holder that dies
// hands it on instead of leaving it locked for good.
TEST_F(FileLocksTest, ASharedMutexExcludesProcessesAndPassesOnFromADeadHolder)
{
    ASSERT_TRUE(FFirst->Reserve(4096));
    auto mapping = FFirst->MapShared(0, 4096);
    ASSERT_NE(mapping, nullptr);
    void* mutex = mapping->Data() + 64;
    InitSharedMutex(mutex);
    const std::string path = FPath;
    auto holdInChild = [path] {
        auto file = OpenShared(path);
        auto map = file ? file->MapShared(0, 4096) : nullptr;
        const bool locked = map && LockSharedMutex(map->Data() + 64, 1000);
        map.release(); // mapped, and held, until the process ends
        return locked ? 'L' : 'F';
    };

    {
        TChild holder(holdInChild);
        ASSERT_EQ(holder.Answer(), 'L');
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(LockSharedMutex(mutex, 200));
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
        holder.Kill(); // dies holding it
        EXPECT_TRUE(LockSharedMutex(mutex, 5000));
        // Sound again after the hand-over: given up and taken as usual.
        UnlockSharedMutex(mutex);
    }
    {
        TChild holder(holdInChild);
        ASSERT_EQ(holder.Answer(), 'L');
        std::atomic<bool> got{false};
        std::thread waiter([&] { got = LockSharedMutex(mutex, 10000); });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_FALSE(got.load());
        holder.Kill(); // the waiter already waits when the holder dies
        waiter.join();
        EXPECT_TRUE(got.load());
        UnlockSharedMutex(mutex);
    }
    TChild taker([path] {
        auto file = OpenShared(path);
        auto map = file ? file->MapShared(0, 4096) : nullptr;
        if (!map || !LockSharedMutex(map->Data() + 64, 1000))
            return 'F';
        UnlockSharedMutex(map->Data() + 64);
        return 'T';
    });
    EXPECT_EQ(taker.Answer(), 'T');
}

TEST_F(FileLocksTest, ShareModesHoldBetweenProcesses)
{
    const std::string path = FPath;
    TChild exclusive([path] {
        auto file = TPlatformFile::Open(path, TFileAccess::ReadWrite, TFileShare::Exclusive,
                                        TFileCreate::OpenExisting);
        // Our own handles in this test hold the file: the open must fail.
        return file ? 'O' : 'R';
    });
    EXPECT_EQ(exclusive.Answer(), 'R');
    exclusive.Finish();

    FFirst.reset();
    FSecond.reset();
    TChild holder([path] {
        auto file = TPlatformFile::Open(path, TFileAccess::ReadWrite, TFileShare::Exclusive,
                                        TFileCreate::OpenExisting);
        const bool opened = file != nullptr;
        file.release();
        return opened ? 'O' : 'R';
    });
    ASSERT_EQ(holder.Answer(), 'O');
    TFileError error = TFileError::None;
    EXPECT_EQ(TPlatformFile::Open(path, TFileAccess::Read, TFileShare::DenyNone,
                                  TFileCreate::OpenExisting, &error),
              nullptr);
    EXPECT_EQ(error, TFileError::SharingViolation);
    holder.Kill();
    EXPECT_NE(TPlatformFile::Open(path, TFileAccess::Read, TFileShare::DenyNone, TFileCreate::OpenExisting),
              nullptr);
}

} // namespace
} // namespace orvex
