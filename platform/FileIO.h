#pragma once
// The platform file layer: every file the engine and the installer touch goes
// through it. Files are opened with an access mode and a share mode as on
// Windows; byte-range locks behave like Windows LockFile (per handle,
// exclusive, not re-entrant, exact unlock, allowed beyond the end of file).

#include <cstdint>
#include <memory>
#include <string>

namespace orvex {

enum class TFileAccess { Read, Write, ReadWrite };
enum class TFileShare { DenyNone, DenyRead, DenyWrite, Exclusive };
enum class TFileCreate {
    OpenExisting, // fail when missing
    CreateNew,    // fail when present
    CreateAlways, // create or truncate
    OpenAlways,   // open or create
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
    static std::unique_ptr<TPlatformFile> Open(const std::string& path, TFileAccess access,
                                               TFileShare share, TFileCreate create,
                                               TFileError* error = nullptr, int* osError = nullptr);

    // Transfers at an offset; the number of bytes moved, or -1 on failure.
    std::int64_t ReadAt(std::int64_t offset, void* buffer, std::int64_t count);
    std::int64_t WriteAt(std::int64_t offset, const void* buffer, std::int64_t count);
    std::int64_t Size() const; // -1 on failure
    bool Truncate(std::int64_t size);
    bool Flush(); // to the disk

    // Byte-range locks with Windows LockFile semantics on open-file-description
    // locks: true when the whole range was locked (or unlocked) by this handle.
    bool LockRange(std::uint64_t offset, std::uint64_t length);
    bool UnlockRange(std::uint64_t offset, std::uint64_t length);

    const std::string& Path() const { return FPath; }
    TFileAccess Access() const { return FAccess; }
    int Handle() const { return FFd; }

private:
    TPlatformFile(int fd, std::string path, TFileAccess access);
    int FFd;
    std::string FPath;
    TFileAccess FAccess;
};

// File-system helpers on native paths.
bool FileExists(const std::string& path);      // a regular file
bool DirectoryExists(const std::string& path);
bool DeleteFile(const std::string& path);
bool RenameFile(const std::string& from, const std::string& to);
bool CopyFile(const std::string& from, const std::string& to, bool failIfExists);
bool CreateDir(const std::string& path);
bool ForceDirectories(const std::string& path);
bool RemoveDir(const std::string& path);
// Read-only attribute from the mode bits (no write bit for anyone).
bool FileIsReadOnly(const std::string& path);
bool FileSetReadOnly(const std::string& path, bool readOnly);
std::int64_t FileSizeOf(const std::string& path); // -1 when missing

} // namespace orvex
