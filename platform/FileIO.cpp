#include "platform/FileIO.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace orvex {

namespace {

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

} // namespace

TPlatformFile::TPlatformFile(int fd, std::string path, TFileAccess access)
    : FFd(fd), FPath(std::move(path)), FAccess(access)
{
}

TPlatformFile::~TPlatformFile()
{
    if (FFd >= 0)
        ::close(FFd);
}

std::unique_ptr<TPlatformFile> TPlatformFile::Open(const std::string& path, TFileAccess access,
                                                   TFileShare share, TFileCreate create,
                                                   TFileError* error, int* osError)
{
    auto fail = [&](int err) -> std::unique_ptr<TPlatformFile> {
        if (error)
            *error = ErrorFromErrno(err);
        if (osError)
            *osError = err;
        return nullptr;
    };
    int flags = O_CLOEXEC;
    switch (access) {
    case TFileAccess::Read: flags |= O_RDONLY; break;
    case TFileAccess::Write: flags |= O_WRONLY; break;
    case TFileAccess::ReadWrite: flags |= O_RDWR; break;
    }
    switch (create) {
    case TFileCreate::OpenExisting: break;
    case TFileCreate::CreateNew: flags |= O_CREAT | O_EXCL; break;
    case TFileCreate::CreateAlways: flags |= O_CREAT | O_TRUNC; break;
    case TFileCreate::OpenAlways: flags |= O_CREAT; break;
    }
    const int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0)
        return fail(errno);
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        return fail(EISDIR);
    }
    (void)share; // share modes: see the share-mode emulation
    if (error)
        *error = TFileError::None;
    if (osError)
        *osError = 0;
    return std::unique_ptr<TPlatformFile>(new TPlatformFile(fd, path, access));
}

std::int64_t TPlatformFile::ReadAt(std::int64_t offset, void* buffer, std::int64_t count)
{
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

std::int64_t TPlatformFile::WriteAt(std::int64_t offset, const void* buffer, std::int64_t count)
{
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
    return ::ftruncate(FFd, size) == 0;
}

bool TPlatformFile::Flush()
{
    return ::fsync(FFd) == 0;
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
    return ::unlink(path.c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to)
{
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool CopyFile(const std::string& from, const std::string& to, bool failIfExists)
{
    std::error_code ec;
    const auto options = failIfExists ? std::filesystem::copy_options::none
                                      : std::filesystem::copy_options::overwrite_existing;
    return std::filesystem::copy_file(from, to, options, ec) && !ec;
}

bool CreateDir(const std::string& path)
{
    return ::mkdir(path.c_str(), 0777) == 0;
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

} // namespace orvex
