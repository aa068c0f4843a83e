// TVekDataBase: the connection's private temporary database, where query
// results and join inputs too big for memory are kept, and the sweep of
// temporary files left behind by processes that died.

#include "dataset/vekDatabase.h"

#include "host/SysUtils.h"
#include "platform/FileIO.h"
#include "platform/Process.h"
#include "storage/vekCommon.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <exception>
#include <string>

namespace orvex {

namespace {

constexpr Integer ErrFileExists = 11043;
constexpr Integer ErrNotConnected = 10113;
constexpr Int64 MinResultMemoryBudget = 64 * 1024;
// Names tried before giving up: each is taken only when no file has it.
constexpr int MaxNameAttempts = 1000;

// The serial number of this process's next temporary database.
std::atomic<unsigned> GTemporarySerial{0};

std::string TemporaryFolderOf(const std::string& Directory)
{
    return Directory.empty() ? TemporaryFolder() : IncludeTrailingPathDelimiter(Directory);
}

// The process id in a temporary file name "orvex-<pid>-<n>.vkt"; 0 when the
// name is not one.
int TemporaryFileOwner(const std::string& Name)
{
    const std::string prefix = TVekDataBase::TemporaryFilePrefix;
    const std::string ext = TVekDataBase::TemporaryFileExt;
    if (Name.size() <= prefix.size() + ext.size() || Name.compare(0, prefix.size(), prefix) != 0 ||
        Name.compare(Name.size() - ext.size(), ext.size(), ext) != 0)
        return 0;
    const char* first = Name.data() + prefix.size();
    const char* last = Name.data() + Name.size() - ext.size();
    int pid = 0;
    const auto [end, error] = std::from_chars(first, last, pid);
    if (error != std::errc() || end == first || end == last || *end != '-' || pid <= 0)
        return 0;
    // The serial number: digits to the extension.
    if (end + 1 == last || !std::all_of(end + 1, last, [](char C) { return C >= '0' && C <= '9'; }))
        return 0;
    return pid;
}

} // namespace

void TVekDataBase::SetResultMemoryBudget(Int64 Value)
{
    FResultMemoryBudget = std::max(Value, MinResultMemoryBudget);
}

void TVekDataBase::SetTemporaryDirectory(const std::string& Value)
{
    FTemporaryDirectory = Value;
}

std::string TVekDataBase::TemporaryFileName() const
{
    return FTemporaryDatabase ? FTemporaryDatabase->FileName() : std::string();
}

TVekDataBase* TVekDataBase::TemporaryDatabase()
{
    if (!FConnected)
        VekDatabaseError(ErrNotConnected, "TVekDataBase.TemporaryDatabase", "", this);
    if (!FTemporaryDatabase)
        CreateTemporaryDatabase();
    return FTemporaryDatabase.get();
}

void TVekDataBase::CreateTemporaryDatabase()
{
    const std::string folder = TemporaryFolderOf(FTemporaryDirectory);
    auto db = std::make_unique<TVekDataBase>(nullptr);
    db->FPrivateFile = true;
    db->FResultMemoryBudget = FResultMemoryBudget;
    // Result tables sort strings as this connection's tables do.
    db->SetDefaultSortOrder(FDefaultSortOrder);
    const std::string stem = folder + TemporaryFilePrefix + IntToStr(CurrentProcessId()) + "-";
    std::string fileName;
    for (int attempt = 0;; ++attempt) {
        fileName = stem + std::to_string(GTemporarySerial.fetch_add(1)) + TemporaryFileExt;
        if (FileExists(fileName))
            continue;
        db->SetDataBaseName(fileName);
        try {
            db->CreateDatabase();
            break;
        } catch (const EVekDatabaseError& error) {
            // Another connection of this process took the name meanwhile.
            if (error.ErrorCode != ErrFileExists || attempt >= MaxNameAttempts)
                throw;
        }
    }
    try {
        db->SetExclusive(true);
        db->Open();
    } catch (...) {
        db.reset();
        DeleteFile(fileName);
        throw;
    }
    FTemporaryDatabase = std::move(db);
}

void TVekDataBase::DropTemporaryDatabase()
{
    if (!FTemporaryDatabase)
        return;
    const std::string fileName = TemporaryFileName();
    // Whatever the close says, the file goes: nobody else ever reads it.
    std::exception_ptr failure;
    try {
        FTemporaryDatabase->Close();
    } catch (...) {
        failure = std::current_exception();
    }
    FTemporaryDatabase.reset();
    DeleteFile(fileName);
    const std::string journal = GetJournalFileName(fileName);
    if (FileExists(journal))
        DeleteFile(journal);
    if (failure)
        std::rethrow_exception(failure);
}

Integer TVekDataBase::SweepStaleTemporaryFiles(const std::string& Folder)
{
    const std::string folder = TemporaryFolderOf(Folder);
    const int self = CurrentProcessId();
    Integer removed = 0;
    for (const std::string& name : FolderEntries(folder)) {
        const int owner = TemporaryFileOwner(name);
        // This process's files belong to its own connections; a running
        // process may be between making its file and opening it.
        if (owner == 0 || owner == self || ProcessExists(owner))
            continue;
        const std::string path = folder + name;
        if (IsSymbolicLink(path) || !FileExists(path))
            continue;
        // A process of that id in another process namespace may still hold
        // the file: its exclusive open refuses ours.
        auto held = TPlatformFile::Open(path, TFileAccess::ReadWrite, TFileShare::Exclusive,
                                        TFileCreate::OpenExisting);
        if (!held)
            continue;
        if (DeleteFile(path))
            ++removed;
        const std::string journal = GetJournalFileName(path);
        if (FileExists(journal))
            DeleteFile(journal);
    }
    return removed;
}

} // namespace orvex
