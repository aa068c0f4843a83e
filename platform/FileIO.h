#pragma once
// The platform file layer: every file the engine and the installer touch goes
// through it. Files are opened with an access mode and a share mode as on
// Windows; byte-range locks behave like Windows LockFile (per handle,
// exclusive, not re-entrant, exact unlock, allowed beyond the end of file).
//
// Both rest on Linux open-file-description locks: every TPlatformFile owns its
// own open file description, so two handles conflict whether they live in one
// process or in two, and a handle's locks vanish when it is closed or its
// process ends. A child made by fork() shares its parent's descriptions until
// it closes them or calls exec (handles are close-on-exec).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace orvex {

enum class TFileAccess { Read, Write, ReadWrite };
enum class TFileShare { DenyNone, DenyRead, DenyWrite, Exclusive };
enum class TFileCreate {
    OpenExisting, // fail when missing
    CreateNew,    // fail when present
    CreateAlways, // create or truncate
    OpenAlways,   // open or create
};

// Byte-range locks cover offsets below this limit. The bytes from here to the
// end of the 63-bit offset space carry the share-mode emulation; nothing the
// engine locks (lock-file ranges end near 2^32 + 0x2000000, database-file
// ranges below 0x10000000) comes near them.
inline constexpr std::uint64_t FileLockLimit = 0x7FFF'FFFF'0000'0000ULL;

// The identity of a file on disk: device and inode. Two paths, or a handle and
// a path, name one file when their identities are equal.
struct TFileIdentity {
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0;
    friend bool operator==(const TFileIdentity&, const TFileIdentity&) = default;
};

// Why an open or a transfer failed.
enum class TFileError {
    None,
    NotFound,
    PathNotFound,
    AccessDenied,
    SharingViolation, // another handle's share mode (or ours) refuses this open
    AlreadyExists,
    DiskFull,
    Other,
};

class TPlatformFile {
public:
    ~TPlatformFile();
    TPlatformFile(const TPlatformFile&) = delete;
    TPlatformFile& operator=(const TPlatformFile&) = delete;

    // nullptr on failure, with the reason in error (and the errno in osError).
    // The share mode works as on Windows: the open fails with SharingViolation
    // when it asks for an access that another open handle denies, or denies an
    // access that another open handle has. CreateAlways truncates only after
    // the share mode has admitted the open.
    static std::unique_ptr<TPlatformFile> Open(const std::string& path, TFileAccess access,
                                               TFileShare share, TFileCreate create,
                                               TFileError* error = nullptr, int* osError = nullptr);

    // Transfers at an offset; the number of bytes moved, or -1 on failure
    // (also when the handle was not opened for that direction).
    std::int64_t ReadAt(std::int64_t offset, void* buffer, std::int64_t count);
    std::int64_t WriteAt(std::int64_t offset, const void* buffer, std::int64_t count);
    std::int64_t Size() const; // -1 on failure
    bool Truncate(std::int64_t size);
    bool Flush(); // to the disk

    // Byte-range locks with Windows LockFile semantics on open-file-description
    // locks: true when the whole range was locked (or unlocked) by this handle.
    // A lock is exclusive and fails at once when any other handle holds a lock
    // overlapping it, or when this handle already holds one overlapping it (no
    // re-entry, no merging). It may lie beyond the end of the file but must end
    // at or below FileLockLimit. An unlock must name exactly a range this handle
    // locked. A zero length is a no-op that succeeds. The file must be open for
    // writing underneath: Open opens every file read-write when the file's mode
    // lets it, whatever access was asked for, so that this holds for read-only
    // use too; on a file that cannot be written no lock is granted.
    bool LockRange(std::uint64_t offset, std::uint64_t length);
    bool UnlockRange(std::uint64_t offset, std::uint64_t length);
    // LockRange that waits for as long as another handle holds an overlapping
    // lock (Windows LockFileEx without "fail immediately"), for locks that are
    // only ever held for a moment. False at once when this handle holds an
    // overlapping lock itself.
    bool LockRangeWait(std::uint64_t offset, std::uint64_t length);
    // Whether LockRange would succeed now, without taking the lock: no handle,
    // this one included, holds a lock overlapping the range.
    bool CanLockRange(std::uint64_t offset, std::uint64_t length) const;
    // Gives up, with one system call, every range this handle holds that lies
    // inside [offset, offset + length), however many there are: their number,
    // or -1 (nothing released) when a held range crosses an edge of the window
    // or the system refuses.
    int UnlockRangesWithin(std::uint64_t offset, std::uint64_t length);
    // The number of ranges this handle holds that overlap the window.
    int LockedRangeCountWithin(std::uint64_t offset, std::uint64_t length) const;
    // The number of ranges this handle holds.
    int LockedRangeCount() const { return static_cast<int>(FLocks.size()); }

    // Makes the file at least size bytes long with its blocks allocated, so
    // that writes through a mapping of them cannot fail for want of space.
    bool Reserve(std::int64_t size);
    // A shared mapping of [offset, offset + length) of the file, readable and
    // writable (offset a multiple of 4096, the range inside the file): stores
    // through it reach the file and every other mapping of those bytes, in
    // this process and in others. nullptr on failure.
    std::unique_ptr<class TFileMapping> MapShared(std::int64_t offset, std::int64_t length);

    // The device and inode of the open file; false when the system will not say.
    bool Identity(TFileIdentity& identity) const;
    // Whether path names the very file this handle has open (it may have been
    // deleted or replaced since the open: Linux lets a file others hold open
    // be removed).
    bool IsFileAt(const std::string& path) const;

    const std::string& Path() const { return FPath; }
    TFileAccess Access() const { return FAccess; }
    TFileShare Share() const { return FShare; }
    int Handle() const { return FFd; }

private:
    TPlatformFile(int fd, std::string path, TFileAccess access, TFileShare share);
    // LockRange and LockRangeWait: one write lock of this handle.
    bool TakeRangeLock(std::uint64_t offset, std::uint64_t length, bool wait);
    int FFd;
    std::string FPath;
    TFileAccess FAccess;
    TFileShare FShare;
    std::map<std::uint64_t, std::uint64_t> FLocks; // held ranges: offset -> length
    // The node of the last range given up, kept for the next lock: a lock
    // taken and given up over and over (a mutex byte) allocates nothing.
    std::map<std::uint64_t, std::uint64_t>::node_type FSpareLock;
};

// A shared mapping made by TPlatformFile::MapShared; unmapped when freed. It
// stays valid after its handle is closed.
class TFileMapping {
public:
    TFileMapping(void* data, std::int64_t length) : FData(data), FLength(length) {}
    ~TFileMapping();
    TFileMapping(const TFileMapping&) = delete;
    TFileMapping& operator=(const TFileMapping&) = delete;
    std::uint8_t* Data() const { return static_cast<std::uint8_t*>(FData); }
    std::int64_t Length() const { return FLength; }

private:
    void* FData;
    std::int64_t FLength;
};

// A mutex in shared memory (a place in a shared file mapping), for the
// processes that map it: taking and giving it up costs no system call while
// nobody waits. When its holder dies, the next locker gets it; what it guards
// must therefore be sound at every moment. The place is SharedMutexSize
// bytes, 8-byte aligned.
inline constexpr std::size_t SharedMutexSize = 64;
// Makes the place a free mutex; only while no process uses it.
void InitSharedMutex(void* place);
// Takes the mutex, waiting for at most timeoutMs milliseconds; false when it
// could not (the wait ran out, or the place holds no usable mutex).
bool LockSharedMutex(void* place, int timeoutMs);
void UnlockSharedMutex(void* place);

// A seam for tests of failing disks: while a hook is set, every write,
// truncation, flush and delete asks it first and, when it answers true, fails
// as the system call would (with EIO) without touching the file. An empty
// hook ends the injection.
enum class TFileFaultPoint { Write, Truncate, Flush, Delete };
using TFileFaultHook = std::function<bool(TFileFaultPoint point, const std::string& path)>;
void SetFileFaultHook(TFileFaultHook hook);

// File-system helpers on native paths.
bool FileExists(const std::string& path);      // a regular file
bool DirectoryExists(const std::string& path);
// Removes the name at once, as Linux does, even while handles have the file
// open (they keep the file they have; see TPlatformFile::IsFileAt).
bool DeleteFile(const std::string& path);
bool RenameFile(const std::string& from, const std::string& to);
// Renames only when nothing stands at to: false (and nothing moved) when it
// does.
bool RenameFileNoReplace(const std::string& from, const std::string& to);
// Flushes the folder holding path to the disk, so that a file created or
// removed there stays so after a crash.
bool FlushDirectoryOf(const std::string& path);
// Copies contents and mode bits. The source is opened for reading sharing
// everything, the destination for writing exclusively, so a copy fails with a
// sharing violation where an open would.
bool CopyFile(const std::string& from, const std::string& to, bool failIfExists);
bool CreateDir(const std::string& path);
// Creates a folder that only this user may enter; false when anything (a
// folder, a file or a link) already stands at path.
bool CreatePrivateDir(const std::string& path);
// Whether path itself is a symbolic link (not followed).
bool IsSymbolicLink(const std::string& path);
// The names in a folder ("." and ".." left out); empty when it cannot be read.
std::vector<std::string> FolderEntries(const std::string& path);
bool ForceDirectories(const std::string& path);
bool RemoveDir(const std::string& path);
// Read-only attribute from the mode bits (no write bit for anyone).
bool FileIsReadOnly(const std::string& path);
bool FileSetReadOnly(const std::string& path, bool readOnly);
std::int64_t FileSizeOf(const std::string& path); // -1 when missing
// The device and inode that path names; false when it names nothing.
bool FileIdentityOf(const std::string& path, TFileIdentity& identity);
// The folder for temporary files, with a trailing "/": $TMPDIR when it names
// a folder, else /tmp.
std::string TemporaryFolder();

// A folder that stands for a small disk (a removable drive, say): the files
// under it may together hold at most capacity bytes. A write through
// TPlatformFile that would pass the limit writes what fits and then reports
// a short write (errno ENOSPC), as a full disk does. A negative capacity
// removes the limit.
void SetFolderCapacity(const std::string& nativeFolder, std::int64_t capacity);
// The bytes still free under a limited folder; -1 when path lies under no
// limited folder.
std::int64_t FolderFreeSpace(const std::string& nativePath);

} // namespace orvex
