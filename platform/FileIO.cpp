#include "platform/FileIO.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <iterator>
#include <system_error>
#include <vector>

namespace orvex {

namespace {

std::atomic<bool> GFaultHookSet{false};
std::mutex GFaultHookMutex;
TFileFaultHook GFaultHook;

// Whether the test hook fails this operation (errno is then EIO).
bool InjectedFault(TFileFaultPoint point, const std::string& path)
{
    if (!GFaultHookSet.load(std::memory_order_acquire))
        return false;
    TFileFaultHook hook;
    {
        std::lock_guard<std::mutex> guard(GFaultHookMutex);
        hook = GFaultHook;
    }
    if (!hook || !hook(point, path))
        return false;
    errno = EIO;
    return true;
}

TFileError ErrorFromErrno(int err)
{
    switch (err) {
    case ENOENT: return TFileError::NotFound;
    case ENOTDIR: return TFileError::PathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return TFileError::AccessDenied;
    case EEXIST: return TFileError::AlreadyExists;
    case ENOSPC:
    case EDQUOT: return TFileError::DiskFull;
    default: return TFileError::Other;
    }
}

// One open-file-description lock request; false with errno on failure.
bool OfdLock(int fd, short type, std::uint64_t start, std::uint64_t length, bool wait)
{
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(start);
    fl.l_len = static_cast<off_t>(length);
    fl.l_pid = 0; // required for open-file-description locks
    for (;;) {
        if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

// Whether another open file description holds any lock overlapping the range
// (a failed query counts as held).
bool OfdHeldElsewhere(int fd, std::uint64_t start, std::uint64_t length)
{
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(start);
    fl.l_len = static_cast<off_t>(length);
    fl.l_pid = 0;
    if (::fcntl(fd, F_OFD_GETLK, &fl) != 0)
        return true;
    return fl.l_type != F_UNLCK;
}

// The share-mode bytes beyond FileLockLimit. Every open handle holds a shared
// lock on the bytes that describe it (the access it has, the access it
// denies); an open looks for other handles' bytes that refuse it. The gate
// byte serialises the check of writable handles so that two racing opens
// cannot both refuse each other.
constexpr std::uint64_t ShareGate = FileLockLimit;
constexpr std::uint64_t ShareHasRead = FileLockLimit + 1;
constexpr std::uint64_t ShareHasWrite = FileLockLimit + 2;
constexpr std::uint64_t ShareDeniesRead = FileLockLimit + 3;
constexpr std::uint64_t ShareDeniesWrite = FileLockLimit + 4;
constexpr std::uint64_t ShareMarkerCount = 4;

// Takes this handle's share-mode bytes unless another handle refuses the open;
// false on a sharing violation. Each handle marks itself before it looks at
// the others, so of two racing opens at least one sees the other. A handle that
// cannot take shared locks (open for writing only) takes part unmarked.
bool AcquireShareMode(int fd, bool fdWritable, TFileAccess access, TFileShare share)
{
    const bool reads = access != TFileAccess::Write;
    const bool writes = access != TFileAccess::Read;
    const bool deniesRead = share == TFileShare::DenyRead || share == TFileShare::Exclusive;
    const bool deniesWrite = share == TFileShare::DenyWrite || share == TFileShare::Exclusive;
    const bool gated = fdWritable && OfdLock(fd, F_WRLCK, ShareGate, 1, true);

    const struct {
        bool wanted;
        std::uint64_t byte;
    } marks[] = {{reads, ShareHasRead},
                 {writes, ShareHasWrite},
                 {deniesRead, ShareDeniesRead},
                 {deniesWrite, ShareDeniesWrite}};
    bool marked = true;
    for (const auto& mark : marks)
        if (mark.wanted && !OfdLock(fd, F_RDLCK, mark.byte, 1, false))
            marked = false;

    const bool refused = (reads && OfdHeldElsewhere(fd, ShareDeniesRead, 1)) ||
                         (writes && OfdHeldElsewhere(fd, ShareDeniesWrite, 1)) ||
                         (deniesRead && OfdHeldElsewhere(fd, ShareHasRead, 1)) ||
                         (deniesWrite && OfdHeldElsewhere(fd, ShareHasWrite, 1));
    if (refused || !marked)
        OfdLock(fd, F_UNLCK, ShareHasRead, ShareMarkerCount, false);
    if (gated)
        OfdLock(fd, F_UNLCK, ShareGate, 1, false);
    return !refused;
}

TFileIdentity IdentityOfStat(const struct stat& st)
{
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

} // namespace

TPlatformFile::TPlatformFile(int fd, std::string path, TFileAccess access, TFileShare share)
    : FFd(fd), FPath(std::move(path)), FAccess(access), FShare(share)
{
}

TPlatformFile::~TPlatformFile()
{
    if (FFd >= 0)
        ::close(FFd); // releases every lock of this handle
}

std::unique_ptr<TPlatformFile> TPlatformFile::Open(const std::string& path, TFileAccess access,
                                                   TFileShare share, TFileCreate create,
                                                   TFileError* error, int* osError)
{
    auto fail = [&](TFileError why, int err) -> std::unique_ptr<TPlatformFile> {
        if (error)
            *error = why;
        if (osError)
            *osError = err;
        return nullptr;
    };
    int createFlags = 0;
    switch (create) {
    case TFileCreate::OpenExisting: break;
    case TFileCreate::CreateNew: createFlags = O_CREAT | O_EXCL; break;
    case TFileCreate::CreateAlways: // truncated once the share mode admits the open
    case TFileCreate::OpenAlways: createFlags = O_CREAT; break;
    }
    int accessFlags = O_RDWR;
    switch (access) {
    case TFileAccess::Read: accessFlags = O_RDONLY; break;
    case TFileAccess::Write: accessFlags = O_WRONLY; break;
    case TFileAccess::ReadWrite: break;
    }
    // Read-write underneath whenever the file allows it: exclusive byte-range
    // locks need a writable description and shared ones a readable one. The
    // handle itself still moves data only in the direction asked for.
    int fd = ::open(path.c_str(), O_RDWR | createFlags | O_CLOEXEC, 0666);
    bool fdWritable = fd >= 0;
    if (fd < 0 && accessFlags != O_RDWR &&
        (errno == EACCES || errno == EPERM || errno == EROFS || errno == ETXTBSY)) {
        fd = ::open(path.c_str(), accessFlags | createFlags | O_CLOEXEC, 0666);
        fdWritable = accessFlags != O_RDONLY;
    }
    if (fd < 0)
        return fail(ErrorFromErrno(errno), errno);
    // Taking ownership at once closes the descriptor on every failure below.
    std::unique_ptr<TPlatformFile> file(new TPlatformFile(fd, path, access, share));
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode))
        return fail(TFileError::AccessDenied, EISDIR);
    if (!AcquireShareMode(fd, fdWritable, access, share))
        return fail(TFileError::SharingViolation, EBUSY);
    if (create == TFileCreate::CreateAlways && ::ftruncate(fd, 0) != 0)
        return fail(ErrorFromErrno(errno), errno);
    if (error)
        *error = TFileError::None;
    if (osError)
        *osError = 0;
    return file;
}

std::int64_t TPlatformFile::ReadAt(std::int64_t offset, void* buffer, std::int64_t count)
{
    if (FAccess == TFileAccess::Write) {
        errno = EBADF;
        return -1;
    }
    auto* out = static_cast<char*>(buffer);
    std::int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(FFd, out + done, static_cast<size_t>(count - done), offset + done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

namespace {

std::mutex GCapacityLock;
// Set while any folder has a capacity, so that ordinary writes skip the lock.
std::atomic<bool> GAnyCapacity{false};
std::map<std::string, std::int64_t>& Capacities()
{
    static std::map<std::string, std::int64_t> capacities;
    return capacities;
}

// The limited folder holding path and its capacity; false when none.
bool CapacityOf(const std::string& path, std::string& folder, std::int64_t& capacity)
{
    if (!GAnyCapacity.load(std::memory_order_acquire))
        return false;
    std::lock_guard<std::mutex> guard(GCapacityLock);
    for (const auto& [root, bytes] : Capacities())
        if (path.size() > root.size() && path.compare(0, root.size(), root) == 0 && path[root.size()] == '/') {
            folder = root;
            capacity = bytes;
            return true;
        }
    return false;
}

std::int64_t BytesUnder(const std::string& folder)
{
    std::int64_t used = 0;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code sizeError;
        if (it->is_regular_file(sizeError)) {
            const auto size = it->file_size(sizeError);
            if (!sizeError)
                used += static_cast<std::int64_t>(size);
        }
    }
    return used;
}

std::string WithoutTrailingSlash(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

} // namespace

void SetFolderCapacity(const std::string& nativeFolder, std::int64_t capacity)
{
    std::lock_guard<std::mutex> guard(GCapacityLock);
    const std::string folder = WithoutTrailingSlash(nativeFolder);
    if (capacity < 0)
        Capacities().erase(folder);
    else
        Capacities()[folder] = capacity;
    GAnyCapacity.store(!Capacities().empty(), std::memory_order_release);
}

std::int64_t FolderFreeSpace(const std::string& nativePath)
{
    std::string folder;
    std::int64_t capacity = 0;
    const std::string path = WithoutTrailingSlash(nativePath);
    if (!CapacityOf(path + "/", folder, capacity))
        return -1;
    return std::max<std::int64_t>(0, capacity - BytesUnder(folder));
}

std::int64_t TPlatformFile::WriteAt(std::int64_t offset, const void* buffer, std::int64_t count)
{
    if (FAccess == TFileAccess::Read) {
        errno = EBADF;
        return -1;
    }
    if (InjectedFault(TFileFaultPoint::Write, FPath))
        return -1;
    std::string limitedFolder;
    std::int64_t capacity = 0;
    if (count > 0 && CapacityOf(FPath, limitedFolder, capacity)) {
        // Only growth of the file takes space.
        const std::int64_t size = std::max<std::int64_t>(Size(), 0);
        const std::int64_t growth = std::max<std::int64_t>(0, offset + count - size);
        const std::int64_t free = std::max<std::int64_t>(0, capacity - BytesUnder(limitedFolder));
        if (growth > free) {
            const std::int64_t fits = std::max<std::int64_t>(0, size + free - offset);
            const std::int64_t written = fits > 0 ? WriteAt(offset, buffer, std::min(fits, count)) : 0;
            errno = ENOSPC;
            return written < 0 ? -1 : written;
        }
    }
    const auto* in = static_cast<const char*>(buffer);
    std::int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::pwrite(FFd, in + done, static_cast<size_t>(count - done), offset + done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        done += n;
    }
    return done;
}

std::int64_t TPlatformFile::Size() const
{
    struct stat st {};
    if (::fstat(FFd, &st) != 0)
        return -1;
    return st.st_size;
}

bool TPlatformFile::Truncate(std::int64_t size)
{
    if (FAccess == TFileAccess::Read) {
        errno = EBADF;
        return false;
    }
    if (InjectedFault(TFileFaultPoint::Truncate, FPath))
        return false;
    return ::ftruncate(FFd, size) == 0;
}

bool TPlatformFile::Reserve(std::int64_t size)
{
    if (FAccess == TFileAccess::Read || size < 0) {
        errno = EBADF;
        return false;
    }
    if (InjectedFault(TFileFaultPoint::Truncate, FPath))
        return false;
    const int error = ::posix_fallocate(FFd, 0, size);
    if (error != 0) {
        errno = error;
        return false;
    }
    return true;
}

std::unique_ptr<TFileMapping> TPlatformFile::MapShared(std::int64_t offset, std::int64_t length)
{
    const std::int64_t size = Size();
    if (offset < 0 || length <= 0 || offset % 4096 != 0 || size < 0 || offset > size ||
        length > size - offset) {
        errno = EINVAL;
        return nullptr;
    }
    void* data = ::mmap(nullptr, static_cast<std::size_t>(length), PROT_READ | PROT_WRITE, MAP_SHARED, FFd,
                        static_cast<off_t>(offset));
    if (data == MAP_FAILED)
        return nullptr;
    return std::make_unique<TFileMapping>(data, length);
}

TFileMapping::~TFileMapping()
{
    ::munmap(FData, static_cast<std::size_t>(FLength));
}

static_assert(sizeof(pthread_mutex_t) <= SharedMutexSize, "the shared mutex does not fit its place");

void InitSharedMutex(void* place)
{
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
    // A holder that dies hands the mutex on instead of leaving it locked.
    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_NORMAL);
    pthread_mutex_init(static_cast<pthread_mutex_t*>(place), &attributes);
    pthread_mutexattr_destroy(&attributes);
}

bool LockSharedMutex(void* place, int timeoutMs)
{
    auto* mutex = static_cast<pthread_mutex_t*>(place);
    int rc = pthread_mutex_trylock(mutex);
    if (rc == EBUSY) {
        timespec until {};
        ::clock_gettime(CLOCK_REALTIME, &until);
        until.tv_sec += timeoutMs / 1000;
        until.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
        if (until.tv_nsec >= 1000000000L) {
            until.tv_sec += 1;
            until.tv_nsec -= 1000000000L;
        }
        rc = pthread_mutex_timedlock(mutex, &until);
    }
    if (rc == EOWNERDEAD)
        rc = pthread_mutex_consistent(mutex);
    return rc == 0;
}

void UnlockSharedMutex(void* place)
{
    pthread_mutex_unlock(static_cast<pthread_mutex_t*>(place));
}

bool TPlatformFile::Flush()
{
    if (InjectedFault(TFileFaultPoint::Flush, FPath))
        return false;
    return ::fsync(FFd) == 0;
}

void SetFileFaultHook(TFileFaultHook hook)
{
    std::lock_guard<std::mutex> guard(GFaultHookMutex);
    GFaultHookSet.store(static_cast<bool>(hook), std::memory_order_release);
    GFaultHook = std::move(hook);
}

namespace {

// Whether [offset, offset + length) lies below FileLockLimit.
bool LockableRange(std::uint64_t offset, std::uint64_t length)
{
    return offset < FileLockLimit && length <= FileLockLimit - offset;
}

// Whether any held range of a handle overlaps [offset, offset + length).
bool OverlapsHeld(const std::map<std::uint64_t, std::uint64_t>& held, std::uint64_t offset,
                  std::uint64_t length)
{
    auto next = held.lower_bound(offset);
    if (next != held.end() && next->first < offset + length)
        return true;
    if (next == held.begin())
        return false;
    const auto before = std::prev(next);
    return before->first + before->second > offset;
}

} // namespace

bool TPlatformFile::TakeRangeLock(std::uint64_t offset, std::uint64_t length, bool wait)
{
    if (length == 0)
        return true;
    if (!LockableRange(offset, length)) {
        errno = EINVAL;
        return false;
    }
    // The kernel would merge an overlapping request of this description into
    // the lock it holds; Windows refuses it, and so do we (waiting for it
    // would wait for ourselves).
    if (OverlapsHeld(FLocks, offset, length)) {
        errno = wait ? EDEADLK : EAGAIN;
        return false;
    }
    if (!OfdLock(FFd, F_WRLCK, offset, length, wait))
        return false;
    if (FSpareLock.empty()) {
        FLocks.emplace(offset, length);
    } else {
        FSpareLock.key() = offset;
        FSpareLock.mapped() = length;
        FLocks.insert(std::move(FSpareLock));
    }
    return true;
}

bool TPlatformFile::LockRange(std::uint64_t offset, std::uint64_t length)
{
    return TakeRangeLock(offset, length, false);
}

bool TPlatformFile::LockRangeWait(std::uint64_t offset, std::uint64_t length)
{
    return TakeRangeLock(offset, length, true);
}

bool TPlatformFile::UnlockRange(std::uint64_t offset, std::uint64_t length)
{
    if (length == 0)
        return true;
    const auto held = FLocks.find(offset);
    if (held == FLocks.end() || held->second != length) {
        errno = EINVAL;
        return false;
    }
    if (!OfdLock(FFd, F_UNLCK, offset, length, false))
        return false;
    if (FSpareLock.empty())
        FSpareLock = FLocks.extract(held);
    else
        FLocks.erase(held);
    return true;
}

int TPlatformFile::UnlockRangesWithin(std::uint64_t offset, std::uint64_t length)
{
    if (length == 0)
        return 0;
    if (!LockableRange(offset, length)) {
        errno = EINVAL;
        return -1;
    }
    const std::uint64_t end = offset + length;
    auto first = FLocks.lower_bound(offset);
    // A range that starts before the window and reaches into it crosses its edge.
    if (first != FLocks.begin() && std::prev(first)->first + std::prev(first)->second > offset) {
        errno = EINVAL;
        return -1;
    }
    auto last = first;
    int count = 0;
    for (; last != FLocks.end() && last->first < end; ++last, ++count)
        if (last->first + last->second > end) {
            errno = EINVAL;
            return -1;
        }
    if (count == 0)
        return 0;
    // The kernel unlocks whatever part of the span this description holds, so
    // one request from the first held byte to the last releases them all.
    const std::uint64_t spanStart = first->first;
    const auto back = std::prev(last);
    const std::uint64_t spanEnd = back->first + back->second;
    if (!OfdLock(FFd, F_UNLCK, spanStart, spanEnd - spanStart, false))
        return -1;
    FLocks.erase(first, last);
    return count;
}

int TPlatformFile::LockedRangeCountWithin(std::uint64_t offset, std::uint64_t length) const
{
    if (length == 0)
        return 0;
    const std::uint64_t end = length > ~offset ? ~std::uint64_t{0} : offset + length;
    auto it = FLocks.lower_bound(offset);
    if (it != FLocks.begin() && std::prev(it)->first + std::prev(it)->second > offset)
        --it;
    int count = 0;
    for (; it != FLocks.end() && it->first < end; ++it)
        ++count;
    return count;
}

bool TPlatformFile::CanLockRange(std::uint64_t offset, std::uint64_t length) const
{
    if (length == 0)
        return true;
    return LockableRange(offset, length) && !OverlapsHeld(FLocks, offset, length) &&
           !OfdHeldElsewhere(FFd, offset, length);
}

bool TPlatformFile::Identity(TFileIdentity& identity) const
{
    struct stat st {};
    if (::fstat(FFd, &st) != 0)
        return false;
    identity = IdentityOfStat(st);
    return true;
}

bool TPlatformFile::IsFileAt(const std::string& path) const
{
    TFileIdentity mine, named;
    return Identity(mine) && FileIdentityOf(path, named) && mine == named;
}

bool FileExists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool DeleteFile(const std::string& path)
{
    if (InjectedFault(TFileFaultPoint::Delete, path))
        return false;
    return ::unlink(path.c_str()) == 0;
}

bool FlushDirectoryOf(const std::string& path)
{
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    const std::string name = folder.empty() ? std::string(".") : folder.string();
    if (InjectedFault(TFileFaultPoint::Flush, name))
        return false;
    const int fd = ::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool RenameFile(const std::string& from, const std::string& to)
{
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool RenameFileNoReplace(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the flag: a hard link is made only when the name
    // is free, then the old name goes.
    if (::link(from.c_str(), to.c_str()) != 0)
        return false;
    ::unlink(from.c_str());
    return true;
}

bool CopyFile(const std::string& from, const std::string& to, bool failIfExists)
{
    const auto source =
        TPlatformFile::Open(from, TFileAccess::Read, TFileShare::DenyNone, TFileCreate::OpenExisting);
    if (!source)
        return false;
    TFileIdentity sourceId, destId;
    if (FileIdentityOf(to, destId) && source->Identity(sourceId) && sourceId == destId) {
        errno = EINVAL; // copying a file onto itself would truncate it
        return false;
    }
    const auto dest = TPlatformFile::Open(to, TFileAccess::Write, TFileShare::Exclusive,
                                          failIfExists ? TFileCreate::CreateNew
                                                       : TFileCreate::CreateAlways);
    if (!dest)
        return false;
    std::vector<char> chunk(1 << 16);
    std::int64_t offset = 0;
    for (;;) {
        const std::int64_t got = source->ReadAt(offset, chunk.data(), static_cast<std::int64_t>(chunk.size()));
        if (got < 0)
            return false;
        if (got == 0)
            break;
        if (dest->WriteAt(offset, chunk.data(), got) != got)
            return false;
        offset += got;
    }
    struct stat st {};
    if (::fstat(source->Handle(), &st) == 0)
        ::fchmod(dest->Handle(), st.st_mode & 07777);
    return true;
}

bool CreateDir(const std::string& path)
{
    return ::mkdir(path.c_str(), 0777) == 0;
}

bool CreatePrivateDir(const std::string& path)
{
    return ::mkdir(path.c_str(), 0700) == 0;
}

bool IsSymbolicLink(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::vector<std::string> FolderEntries(const std::string& path)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(path.c_str());
    if (!dir)
        return names;
    while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

std::string TemporaryFolder()
{
    const char* env = std::getenv("TMPDIR");
    std::string folder = env != nullptr && *env != '\0' && DirectoryExists(env) ? std::string(env) : "/tmp";
    if (folder.back() != '/')
        folder += '/';
    return folder;
}

bool ForceDirectories(const std::string& path)
{
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    return DirectoryExists(path);
}

bool RemoveDir(const std::string& path)
{
    return ::rmdir(path.c_str()) == 0;
}

bool FileIsReadOnly(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

bool FileSetReadOnly(const std::string& path, bool readOnly)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    mode_t mode = st.st_mode & 07777;
    if (readOnly)
        mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    else
        mode |= S_IWUSR;
    return ::chmod(path.c_str(), mode) == 0;
}

std::int64_t FileSizeOf(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return -1;
    return st.st_size;
}

bool FileIdentityOf(const std::string& path, TFileIdentity& identity)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    identity = IdentityOfStat(st);
    return true;
}

} // namespace orvex
