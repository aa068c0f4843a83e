// The setup archive: building, reading, extracting, splitting and copying.

#include "installer/cmp_TDrvnCompress.h"

#include "host/forms/Forms.h"
#include "installer/exceptions_Dorvane.h"
#include "installer/routines_FileSystem.h"
#include "installer/routines_Strings.h"
#include "platform/FileIO.h"
#include "platform/WinPaths.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

namespace orvex {

namespace {

constexpr int InflateInputBlock = 65536;
constexpr int InflateOutputBlock = 4096;
constexpr int DeflateBlock = 65536;
constexpr int CopyBlock = 8192;
constexpr std::int64_t MaxArchiveSize = INT32_MAX; // positions are int32

[[noreturn]] void Corrupt()
{
    throw EDrvnCompress(CorruptArchiveText);
}

void PutInt32(std::uint8_t* p, Integer v)
{
    const auto u = static_cast<std::uint32_t>(v);
    p[0] = static_cast<std::uint8_t>(u);
    p[1] = static_cast<std::uint8_t>(u >> 8);
    p[2] = static_cast<std::uint8_t>(u >> 16);
    p[3] = static_cast<std::uint8_t>(u >> 24);
}

Integer GetInt32(const std::uint8_t* p)
{
    return static_cast<Integer>(static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
                                (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24));
}

void PutShortString(std::uint8_t* p, const std::string& s, int capacity)
{
    const int n = std::min<int>(static_cast<int>(s.size()), capacity);
    p[0] = static_cast<std::uint8_t>(n);
    std::memcpy(p + 1, s.data(), static_cast<std::size_t>(n));
}

bool GetShortString(const std::uint8_t* p, int capacity, std::string& s)
{
    if (p[0] > capacity)
        return false;
    s.assign(reinterpret_cast<const char*>(p + 1), p[0]);
    return true;
}

std::string FirstToken(const std::string& text)
{
    const auto semi = text.find(';');
    return semi == std::string::npos ? text : text.substr(0, semi);
}

// A stored path must not climb out of anything: no ".." component.
bool HasParentComponent(const std::string& path)
{
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find_first_of("\\/", start);
        if (end == std::string::npos)
            end = path.size();
        if (path.compare(start, end - start, "..") == 0 && end - start == 2)
            return true;
        start = end + 1;
    }
    return false;
}

// A name extracted from an archive must be a plain file name.
bool IsPlainName(const std::string& name)
{
    if (name.empty() || name == "." || name == "..")
        return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == '\\' || c == '/' || c == ':')
            return false;
    return true;
}

std::unique_ptr<TPlatformFile> OpenWin(const std::string& winPath, TFileAccess access, TFileCreate create)
{
    std::string native;
    if (!WinPathToNative(winPath, native))
        return nullptr;
    return TPlatformFile::Open(native, access, TFileShare::DenyNone, create);
}

void ForceWinFolder(const std::string& winFolder)
{
    if (winFolder.empty())
        return;
    std::string native;
    if (WinPathToNative(winFolder, native))
        ForceDirectories(native);
}

Integer Percent(std::int64_t done, std::int64_t total)
{
    if (total <= 0)
        return done > 0 ? 100 : 0;
    if (done >= total)
        return 100;
    return static_cast<Integer>(done * 100 / total);
}

Integer RoundedRatio(std::int64_t part, std::int64_t whole)
{
    if (whole <= 0)
        return 0;
    return static_cast<Integer>(std::lround(static_cast<double>(part) * 100.0 / static_cast<double>(whole)));
}

Integer Clamp32(std::int64_t v)
{
    return static_cast<Integer>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
}

class TZStream {
public:
    explicit TZStream(bool inflate) : FInflate(inflate) { std::memset(&Z, 0, sizeof(Z)); }
    ~TZStream()
    {
        if (FReady)
            FInflate ? inflateEnd(&Z) : deflateEnd(&Z);
    }
    void InitInflate()
    {
        if (inflateInit(&Z) != Z_OK)
            throw EDrvnCompress("Cannot initialise the decompression");
        FReady = true;
    }
    void InitDeflate(int level)
    {
        if (deflateInit(&Z, level) != Z_OK)
            throw EDrvnCompress("Cannot initialise the compression");
        FReady = true;
    }
    z_stream Z;

private:
    bool FInflate;
    bool FReady = false;
};

} // namespace

// ------------------------------------------------------------ file records

void EncodeFileHeader(const TFileHeaderRecord& r, std::uint8_t* b)
{
    std::memset(b, 0, FileHeaderSize);
    PutInt32(b + 0, r.OrderNumber);
    std::uint64_t date = 0;
    static_assert(sizeof(double) == 8);
    std::memcpy(&date, &r.FileDate, 8);
    for (int i = 0; i < 8; ++i)
        b[8 + i] = static_cast<std::uint8_t>(date >> (8 * i));
    b[16] = r.LastPart;
    PutInt32(b + 20, r.LastDataByte);
    PutShortString(b + 24, r.SourcePath, MaxSourcePathLength);
    PutInt32(b + 128, r.NextRecord);
    PutInt32(b + 132, r.OriginalSize);
    PutInt32(b + 136, r.DataStart);
    PutInt32(b + 140, r.ArchiveSize);
    b[144] = r.FirstPart;
    PutInt32(b + 148, r.FileID);
    PutShortString(b + 152, r.Version, MaxVersionLength);
}

bool DecodeFileHeader(const std::uint8_t* b, TFileHeaderRecord& r)
{
    r.OrderNumber = GetInt32(b + 0);
    std::uint64_t date = 0;
    for (int i = 0; i < 8; ++i)
        date |= static_cast<std::uint64_t>(b[8 + i]) << (8 * i);
    std::memcpy(&r.FileDate, &date, 8);
    r.LastPart = b[16];
    r.LastDataByte = GetInt32(b + 20);
    r.NextRecord = GetInt32(b + 128);
    r.OriginalSize = GetInt32(b + 132);
    r.DataStart = GetInt32(b + 136);
    r.ArchiveSize = GetInt32(b + 140);
    r.FirstPart = b[144];
    r.FileID = GetInt32(b + 148);
    return GetShortString(b + 24, MaxSourcePathLength, r.SourcePath) &&
           GetShortString(b + 152, MaxVersionLength, r.Version);
}

// ------------------------------------------------------------ TFileHeaders

TFileHeaders::~TFileHeaders()
{
    Clear();
}

TFileHeader* TFileHeaders::FileHeaders(int index) const
{
    if (index < 0 || index >= Count())
        throw EDrvnCompress(Format("%d is an invalid TFileHeader index in TFileHeaders.GetFileHeaders", {index}));
    return FItems[static_cast<std::size_t>(index)];
}

int TFileHeaders::Add(TFileHeader* header)
{
    if (header == nullptr)
        throw EDrvnCompress("Tried to add an invalid file header");
    FItems.push_back(header);
    return Count() - 1;
}

void TFileHeaders::Clear()
{
    for (TFileHeader* h : FItems)
        delete h;
    FItems.clear();
}

int TFileHeaders::IndexOfName(const std::string& text) const
{
    const std::string name = FirstToken(text);
    for (int i = 0; i < Count(); ++i)
        if (CompareWinNames(FItems[static_cast<std::size_t>(i)]->Record.SourcePath, name) == 0)
            return i;
    return -1;
}

// ----------------------------------------------------------- TDrvnCompress

TDrvnCompress::TDrvnCompress(TComponent* owner) : TComponent(owner), FFilesToProcess(new TStringList)
{
    ResetIDTable();
}

TDrvnCompress::~TDrvnCompress()
{
    delete FFilesToProcess;
}

void TDrvnCompress::ResetIDTable()
{
    FIDTable.fill(-1);
}

void TDrvnCompress::SetCompressedFile(const std::string& value)
{
    if (CompareWinNames(WinChangeFileExt(value, ".1"), WinChangeFileExt(FCompressedFile, ".1")) != 0) {
        FHeadersRead = false;
        FHeaders.Clear();
        ResetIDTable();
    }
    FCompressedFile = value;
}

void TDrvnCompress::StatusStep()
{
    if (Abort)
        throw EdcAborted();
    Application->ProcessMessages();
    if (OnStatus)
        OnStatus(this, FStatus);
}

void TDrvnCompress::FillStatusFromHeader(const TFileHeaderRecord& record)
{
    FStatus.Header = record;
    FStatus.FileName = record.SourcePath;
    FStatus.OriginalSize = record.OriginalSize;
    FStatus.CompressedSize = std::max<Integer>(0, record.LastDataByte - record.DataStart + 1);
    if (record.FirstPart != record.LastPart && record.LastPart > 0)
        FStatus.CompressedSize = record.ArchiveSize; // spread over parts: the size noted at build
    FStatus.CompressionPercent = RoundedRatio(FStatus.CompressedSize, record.OriginalSize);
    FStatus.FilePercent = 0;
    FStatus.FileBytesDone = 0;
    FStatus.FileFinished = false;
}

std::string TDrvnCompress::PartFileName(int part) const
{
    if (!FHeaders.MultiPart)
        return FCompressedFile;
    return WinChangeFileExt(FCompressedFile, "." + std::to_string(part));
}

std::unique_ptr<TPlatformFile> TDrvnCompress::OpenPart(int part, std::string& partName)
{
    partName = PartFileName(part);
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (WinFileExists(partName)) {
            auto file = OpenWin(partName, TFileAccess::Read, TFileCreate::OpenExisting);
            if (!file)
                throw EDrvnCompress(Format("Cannot open the compressed file %s", {partName}));
            return file;
        }
        if (!OnNewDisk)
            throw EDrvnCompress(Format("Could not open the correct disk file %d", {part}));
        std::string folder = WinExtractFileDir(partName);
        OnNewDisk(this, part, folder);
        // The user's cancel at the prompt stops the operation at once.
        if (Abort)
            throw EdcAborted();
        partName = AddBackSlash(folder) + WinExtractFileName(partName);
    }
    throw EDrvnCompress(Format("Cannot open the compressed file %s", {partName}));
}

void TDrvnCompress::MoveToFolder(const std::string& folder)
{
    const bool recordsKept = FHeadersRead && CompareWinNames(FHeadersFile, FCompressedFile) == 0;
    FCompressedFile = AddBackSlash(folder) + WinExtractFileName(FCompressedFile);
    if (recordsKept)
        FHeadersFile = FCompressedFile;
}

// ------------------------------------------------------------- reading

void TDrvnCompress::ReadHeaders()
{
    if (FHeadersRead && CompareWinNames(FHeadersFile, FCompressedFile) == 0)
        return;
    FHeaders.Clear();
    ResetIDTable();
    FHeadersRead = false;
    if (!WinFileExists(FCompressedFile))
        throw EDrvnCompress(Format("Cannot open the compressed file %s", {FCompressedFile}));
    auto file = OpenWin(FCompressedFile, TFileAccess::Read, TFileCreate::OpenExisting);
    if (!file)
        throw EDrvnCompress(Format("Cannot open the compressed file %s", {FCompressedFile}));
    const std::int64_t fileSize = file->Size();
    if (Offset < 0 || Offset > fileSize)
        Corrupt();
    std::uint8_t head[ArchiveHeaderSize];
    if (file->ReadAt(Offset, head, ArchiveHeaderSize) != ArchiveHeaderSize)
        throw EDrvnCompress("Could not read the file header count for the compressed file");
    const Integer count = GetInt32(head);
    const std::uint8_t flag = head[4];
    const std::int64_t archiveSize = fileSize - Offset;
    // Every record takes 176 bytes of the archive, so the count is bounded
    // by the file's size.
    if (count < 0 || flag > 1 || ArchiveHeaderSize + static_cast<std::int64_t>(count) * FileHeaderSize > archiveSize)
        Corrupt();
    FHeaders.MultiPart = flag == 1;
    std::int64_t position = ArchiveHeaderSize;
    std::uint8_t bytes[FileHeaderSize];
    for (Integer i = 0; i < count; ++i) {
        if (position + FileHeaderSize > archiveSize)
            Corrupt();
        if (file->ReadAt(Offset + position, bytes, FileHeaderSize) != FileHeaderSize)
            Corrupt();
        auto header = std::make_unique<TFileHeader>();
        if (!DecodeFileHeader(bytes, header->Record))
            Corrupt();
        header->ReadFromArchive = true;
        const TFileHeaderRecord& r = header->Record;
        // The next record lies further on (so the walk always ends).
        if (i + 1 < count && (r.NextRecord <= position || r.NextRecord > archiveSize - FileHeaderSize))
            Corrupt();
        if (FHeaders.MultiPart && r.NextRecord != position + FileHeaderSize)
            Corrupt();
        FHeaders.Add(header.release());
        position = r.NextRecord;
    }
    ValidateHeaders(archiveSize);
    for (int i = 0; i < FHeaders.Count(); ++i) {
        const Integer id = FHeaders.FileHeaders(i)->Record.FileID;
        if (id >= 0 && id <= MaxFileID)
            FIDTable[static_cast<std::size_t>(id)] = i;
    }
    FHeadersRead = true;
    FHeadersFile = FCompressedFile;
}

void TDrvnCompress::ValidateHeaders(std::int64_t archiveSize)
{
    const std::int64_t recordsEnd = ArchiveHeaderSize + static_cast<std::int64_t>(FHeaders.Count()) * FileHeaderSize;
    for (int i = 0; i < FHeaders.Count(); ++i) {
        const TFileHeaderRecord& r = FHeaders.FileHeaders(i)->Record;
        if (r.OriginalSize < 0 || r.DataStart < 0 || r.LastDataByte < 0)
            Corrupt();
        // A date the calendar knows (0001-01-01 to 9999-12-31).
        if (!(r.FileDate >= -693593.0 && r.FileDate < 2958466.0))
            Corrupt();
        if (HasParentComponent(r.SourcePath) || !IsPlainName(WinExtractFileName(r.SourcePath)))
            Corrupt();
        if (!FHeaders.MultiPart) {
            if (r.FirstPart > 1 || r.LastPart > 1 || r.DataStart < ArchiveHeaderSize + FileHeaderSize ||
                r.LastDataByte < r.DataStart || r.LastDataByte >= archiveSize)
                Corrupt();
        } else {
            const int first = r.FirstPart == 0 ? 1 : r.FirstPart;
            if (r.LastPart < first || (first == 1 && r.DataStart < recordsEnd) ||
                (r.LastPart == first && r.LastDataByte < r.DataStart))
                Corrupt();
        }
    }
}

void TDrvnCompress::GetFileStatus(int index, TDrvnCompressStatus& status)
{
    if (index < 0 || index >= FHeaders.Count())
        throw EDrvnCompress(Format("Tried to access the %dth file. This file is not defined", {index}));
    FillStatusFromHeader(FHeaders.FileHeaders(index)->Record);
    status = FStatus;
}

int TDrvnCompress::IndexOfFileID(Integer id)
{
    if (id < 0 || id > MaxFileID || FIDTable[static_cast<std::size_t>(id)] < 0)
        throw EDrvnCompress(Format("The file ID %d is not in the archive %s", {id, FCompressedFile}));
    return FIDTable[static_cast<std::size_t>(id)];
}

void TDrvnCompress::List()
{
    ReadHeaders();
    for (int i = 0; i < FHeaders.Count(); ++i) {
        FillStatusFromHeader(FHeaders.FileHeaders(i)->Record);
        if (OnListing)
            OnListing(this, FStatus);
    }
}

// ------------------------------------------------------------ building

void TDrvnCompress::Compress(bool add, Integer fileID)
{
    try {
        CompressFiles(add, fileID);
    } catch (const EdcAborted&) {
        FFilesToProcess->Clear();
        FHeadersRead = false;
        if (OnAborted)
            OnAborted(this);
    } catch (...) {
        Abort = true;
        FFilesToProcess->Clear();
        FHeadersRead = false;
        throw;
    }
}

void TDrvnCompress::CompressFiles(bool add, Integer fileID)
{
    Abort = false;
    if (fileID < 0 || fileID > MaxFileID)
        throw EDrvnCompress(Format("The file ID %d is outside 0 to %d", {fileID, MaxFileID}));
    Offset = 0;
    ForceWinFolder(WinExtractFileDir(FCompressedFile));

    std::unique_ptr<TPlatformFile> archive;
    std::vector<TFileHeaderRecord> records; // the records already in the archive
    if (add && WinFileExists(FCompressedFile)) {
        FHeadersRead = false;
        ReadHeaders();
        if (FHeaders.MultiPart)
            throw EDrvnCompress(Format("Cannot add files to the split archive %s", {FCompressedFile}));
        for (int i = 0; i < FHeaders.Count(); ++i)
            records.push_back(FHeaders.FileHeaders(i)->Record);
        archive = OpenWin(FCompressedFile, TFileAccess::ReadWrite, TFileCreate::OpenExisting);
        if (!archive)
            throw EDrvnCompress(Format("Cannot open the compressed file %s", {FCompressedFile}));
    } else {
        archive = OpenWin(FCompressedFile, TFileAccess::ReadWrite, TFileCreate::CreateAlways);
        if (!archive)
            throw EDrvnCompress(Format("Cannot create the file %s", {FCompressedFile}));
    }
    FHeaders.MultiPart = false;

    // The new records, checked before anything is written.
    std::vector<TFileHeaderRecord> added;
    std::int64_t totalSize = 0;
    for (int i = 0; i < FFilesToProcess->Count(); ++i) {
        TFileHeaderRecord r;
        r.OrderNumber = static_cast<Integer>(records.size() + added.size() + 1);
        r.SourcePath = FirstToken(FFilesToProcess->Get(i));
        if (static_cast<int>(r.SourcePath.size()) > MaxSourcePathLength)
            throw EDrvnCompress(Format("The path %s is longer than %d characters", {r.SourcePath, MaxSourcePathLength}));
        if (HasParentComponent(r.SourcePath) || !IsPlainName(WinExtractFileName(r.SourcePath)))
            throw EDrvnCompress(Format("The path %s does not name a file", {r.SourcePath}));
        const std::int64_t size = FileSizeOf(NativePath(r.SourcePath));
        if (size < 0 || !GetFileDateTime(r.SourcePath, r.FileDate))
            throw EDrvnCompress(Format("Cannot open the file %s", {r.SourcePath}));
        if (size > MaxArchiveSize)
            throw EDrvnCompress(Format("The file %s is larger than 2 GiB", {r.SourcePath}));
        r.OriginalSize = static_cast<Integer>(size);
        TVersionResource* version = SharedVersionResource();
        version->SetFileName(r.SourcePath);
        r.Version = version->VersionInfo()->FileVersion;
        if (static_cast<int>(r.Version.size()) > MaxVersionLength)
            throw EDrvnCompress(Format("The version %s of %s is longer than %d characters",
                                       {r.Version, r.SourcePath, MaxVersionLength}));
        r.FileID = fileID;
        totalSize += size;
        added.push_back(r);
    }

    // The header counts the complete records only: it grows as each file is
    // done, so a build that stops halfway leaves a readable archive of the
    // files finished so far.
    std::uint8_t head[ArchiveHeaderSize];
    auto writeCount = [&](std::size_t complete) {
        PutInt32(head, static_cast<Integer>(complete));
        head[4] = 0;
        if (archive->WriteAt(0, head, ArchiveHeaderSize) != ArchiveHeaderSize)
            throw EdcDiskFull();
    };
    writeCount(records.size());
    // New records follow the last complete file (anything a stopped build
    // left behind it goes).
    std::int64_t position = records.empty() ? ArchiveHeaderSize : records.back().NextRecord;
    archive->Truncate(position);

    FStatus = TDrvnCompressStatus();
    FStatus.TotalOriginalSize = Clamp32(totalSize);
    std::int64_t totalDone = 0;
    std::int64_t totalCompressed = 0;
    std::vector<std::uint8_t> in(DeflateBlock), out(DeflateBlock);
    std::uint8_t bytes[FileHeaderSize];
    for (TFileHeaderRecord& r : added) {
        auto source = OpenWin(r.SourcePath, TFileAccess::Read, TFileCreate::OpenExisting);
        if (!source)
            throw EDrvnCompress(Format("Cannot open the file %s", {r.SourcePath}));
        FillStatusFromHeader(r);
        FStatus.CompressedSize = 0;
        if (OnBeforeAdding)
            OnBeforeAdding(this, FStatus);
        const std::int64_t recordAt = position;
        EncodeFileHeader(r, bytes);
        if (archive->WriteAt(recordAt, bytes, FileHeaderSize) != FileHeaderSize)
            throw EdcDiskFull();
        position += FileHeaderSize;
        const std::int64_t dataStart = position;

        TZStream z(false);
        static const int levels[] = {Z_NO_COMPRESSION, Z_BEST_SPEED, Z_DEFAULT_COMPRESSION, Z_BEST_COMPRESSION};
        z.InitDeflate(levels[CompressionLevel]);
        std::int64_t read = 0;
        bool end = false;
        while (!end) {
            const std::int64_t got = source->ReadAt(read, in.data(), DeflateBlock);
            if (got < 0)
                throw EDrvnCompress(Format("Cannot open the file %s", {r.SourcePath}));
            read += got;
            const bool last = got == 0 || read >= r.OriginalSize;
            z.Z.next_in = in.data();
            z.Z.avail_in = static_cast<uInt>(got);
            do {
                z.Z.next_out = out.data();
                z.Z.avail_out = static_cast<uInt>(out.size());
                const int rc = deflate(&z.Z, last ? Z_FINISH : Z_NO_FLUSH);
                if (rc == Z_STREAM_ERROR)
                    throw EDrvnCompress("The compression failed");
                const std::int64_t produced = static_cast<std::int64_t>(out.size()) - z.Z.avail_out;
                if (produced > 0) {
                    if (position + produced > MaxArchiveSize)
                        throw EDrvnCompress(Format("The archive %s would pass 2 GiB", {FCompressedFile}));
                    if (archive->WriteAt(position, out.data(), produced) != produced)
                        throw EdcDiskFull();
                    position += produced;
                    FStatus.CompressedSize = Clamp32(position - dataStart);
                    FStatus.FileBytesDone = Clamp32(std::min<std::int64_t>(read, r.OriginalSize));
                    FStatus.FilePercent = Percent(FStatus.FileBytesDone, r.OriginalSize);
                    FStatus.CompressionPercent = RoundedRatio(FStatus.CompressedSize, r.OriginalSize);
                    FStatus.TotalBytesDone = Clamp32(totalDone + FStatus.FileBytesDone);
                    FStatus.TotalCompressedSize = Clamp32(totalCompressed + FStatus.CompressedSize);
                    FStatus.OverallPercent = static_cast<Byte>(Percent(FStatus.TotalBytesDone, totalSize));
                    StatusStep();
                }
                if (rc == Z_STREAM_END)
                    end = true;
            } while (z.Z.avail_out == 0 || (last && !end));
            if (got == 0 && !end)
                throw EDrvnCompress(Format("Cannot open the file %s", {r.SourcePath}));
        }
        if (read != r.OriginalSize)
            throw EDrvnCompress(Format("The file %s changed while it was compressed", {r.SourcePath}));
        totalDone += r.OriginalSize;
        totalCompressed += position - dataStart;
        FStatus.FileBytesDone = r.OriginalSize;
        FStatus.FilePercent = 100;
        FStatus.FileFinished = true;
        FStatus.TotalBytesDone = Clamp32(totalDone);
        FStatus.OverallPercent = static_cast<Byte>(Percent(totalDone, totalSize));
        StatusStep();

        r.DataStart = static_cast<Integer>(dataStart);
        r.LastDataByte = static_cast<Integer>(position - 1);
        r.NextRecord = static_cast<Integer>(position);
        r.ArchiveSize = static_cast<Integer>(position);
        r.FirstPart = 0;
        r.LastPart = 0;
        FIDTable[static_cast<std::size_t>(r.FileID)] = static_cast<Integer>(records.size());
        records.push_back(r);
        EncodeFileHeader(r, bytes);
        if (archive->WriteAt(recordAt, bytes, FileHeaderSize) != FileHeaderSize)
            throw EdcDiskFull();
        writeCount(records.size());
        FStatus.Header = r;
        if (OnAfterAdding)
            OnAfterAdding(this, FStatus);
    }
    FFilesToProcess->Clear();
    FHeadersRead = false;
    FHeaders.Clear();
    ResetIDTable();
}

// ---------------------------------------------------------- extracting

void TDrvnCompress::Extract()
{
    Abort = false;
    try {
        ReadHeaders();
        for (int i = 0; i < FFilesToProcess->Count(); ++i)
            ExtractOne(FFilesToProcess->Get(i));
    } catch (const EdcAborted&) {
        FFilesToProcess->Clear();
        DestinationName.clear();
        if (OnAborted)
            OnAborted(this);
        return;
    } catch (...) {
        Abort = true;
        FFilesToProcess->Clear();
        DestinationName.clear();
        throw;
    }
    FFilesToProcess->Clear();
    DestinationName.clear();
}

void TDrvnCompress::ExtractOne(const std::string& entry)
{
    const int index = FHeaders.IndexOfName(entry);
    if (index < 0)
        throw EDrvnCompress(
            Format("The file <%s> was not found in the archive <%s>", {FirstToken(entry), FCompressedFile}));
    const TFileHeaderRecord record = FHeaders.FileHeaders(index)->Record;
    FillStatusFromHeader(record);

    std::string name = DestinationName.empty() ? WinExtractFileName(record.SourcePath) : DestinationName;
    if (OnBeforeExtracting)
        OnBeforeExtracting(this, FStatus, name);
    std::string dest = AddBackSlash(ExtractDirectory) + name;
    if (WinFileExists(dest)) {
        const Integer outcome = IsFileNewerByInfo(record.Version, dest, Overwrite, record.FileDate);
        if (outcome == ovrNone)
            throw EDrvnCompress("Error comparing file versions in TDrvnCompress");
        if (outcome == ovrSame || outcome == ovrKeep) {
            FStatus.FileFinished = true;
            FStatus.FilePercent = 100;
            FStatus.FileBytesDone = record.OriginalSize;
            StatusStep();
            return;
        }
        if (OnReplace) {
            OnReplace(this, FStatus, name);
            dest = AddBackSlash(ExtractDirectory) + name;
        }
    }

    ForceWinFolder(WinExtractFileDir(dest));
    auto out = OpenWin(dest, TFileAccess::ReadWrite, TFileCreate::CreateAlways);
    if (!out)
        throw EDrvnCompress(Format("Cannot create the file %s", {dest}));
    try {
        InflateRecord(record, out.get(), dest);
    } catch (const EdcAborted&) {
        throw; // a stopped extraction leaves the partly written file
    } catch (...) {
        out.reset();
        DeleteFile(NativePath(dest));
        throw;
    }
    const std::int64_t size = out->Size();
    out.reset();
    FStatus.FileFinished = true;
    FStatus.FilePercent = 100;
    StatusStep();
    if (size != record.OriginalSize) {
        DeleteFile(NativePath(dest));
        throw EDrvnCompress(Format(
            "The decompressed file's size does not match with the actual size of the file.  The file is %s", {dest}));
    }
    if (!SetFileDateTime(dest, record.FileDate))
        throw EDrvnCompress("Cannot set the date of the file just extracted.");
    if (OnAfterExtracting)
        OnAfterExtracting(this, FStatus);
}

void TDrvnCompress::InflateRecord(const TFileHeaderRecord& record, TPlatformFile* dest, const std::string&)
{
    const int firstPart = record.FirstPart == 0 ? 1 : record.FirstPart;
    const int lastPart = FHeaders.MultiPart ? record.LastPart : firstPart;
    TZStream z(true);
    z.InitInflate();
    std::vector<std::uint8_t> in(InflateInputBlock), out(InflateOutputBlock);
    std::int64_t written = 0;
    bool streamEnd = false;
    for (int part = firstPart; part <= lastPart && !streamEnd; ++part) {
        std::string partName;
        auto file = OpenPart(part, partName);
        // Part 1 carries the archive at Offset; later parts from their start.
        const std::int64_t base = part == 1 ? Offset : 0;
        const std::int64_t partSize = file->Size();
        std::int64_t pos = base + (part == firstPart ? record.DataStart : 0);
        const std::int64_t end = part == lastPart ? base + static_cast<std::int64_t>(record.LastDataByte) + 1 : partSize;
        if (end > partSize || pos > end)
            Corrupt();
        while (pos < end && !streamEnd) {
            const std::int64_t want = std::min<std::int64_t>(InflateInputBlock, end - pos);
            const std::int64_t got = file->ReadAt(pos, in.data(), want);
            if (got != want)
                Corrupt();
            pos += got;
            z.Z.next_in = in.data();
            z.Z.avail_in = static_cast<uInt>(got);
            while (z.Z.avail_in > 0 && !streamEnd) {
                z.Z.next_out = out.data();
                z.Z.avail_out = static_cast<uInt>(out.size());
                const int rc = inflate(&z.Z, Z_NO_FLUSH);
                if (rc != Z_OK && rc != Z_STREAM_END)
                    Corrupt();
                const std::int64_t produced = static_cast<std::int64_t>(out.size()) - z.Z.avail_out;
                if (written + produced > record.OriginalSize)
                    Corrupt(); // more than the record promises
                if (Abort)
                    throw EdcAborted();
                Application->ProcessMessages();
                if (produced > 0) {
                    const std::int64_t put = dest->WriteAt(written, out.data(), produced);
                    if (put != produced) {
                        if (OnFullDisk)
                            OnFullDisk(this);
                        else
                            throw EdcDiskFull();
                    }
                    written += std::max<std::int64_t>(put, 0);
                }
                FStatus.FileBytesDone = static_cast<Integer>(written);
                FStatus.FilePercent = Percent(written, record.OriginalSize);
                if (OnStatus)
                    OnStatus(this, FStatus);
                if (rc == Z_STREAM_END)
                    streamEnd = true;
                else if (produced == 0 && z.Z.avail_in > 0)
                    Corrupt(); // no progress on input that is there
            }
        }
    }
    if (streamEnd && written < record.OriginalSize && dest->Size() == written)
        Corrupt(); // the stream ended before the size the record promises
    if (!streamEnd) {
        // All recorded data read: the stream must be complete.
        z.Z.next_in = nullptr;
        z.Z.avail_in = 0;
        z.Z.next_out = out.data();
        z.Z.avail_out = static_cast<uInt>(out.size());
        if (inflate(&z.Z, Z_FINISH) != Z_STREAM_END || z.Z.avail_out != out.size())
            Corrupt();
    }
}

// ------------------------------------------------------------ splitting

void TDrvnCompress::SplitToDisks(const std::string& destFolder, const std::string& firstPartName)
{
    Abort = false;
    try {
        FHeadersRead = false;
        ReadHeaders();
        if (FHeaders.MultiPart)
            throw EDrvnCompress(Format("The archive %s is already split", {FCompressedFile}));
        auto source = OpenWin(FCompressedFile, TFileAccess::Read, TFileCreate::OpenExisting);
        if (!source)
            throw EDrvnCompress(Format("Cannot open the compressed file %s", {FCompressedFile}));
        const Integer count = FHeaders.Count();
        int part = 1;
        std::string partPath = AddBackSlash(destFolder) + firstPartName;
        const std::string firstPath = partPath;
        auto dest = OpenWin(partPath, TFileAccess::ReadWrite, TFileCreate::CreateAlways);
        if (!dest)
            throw EDrvnCompress(Format("Cannot create the file %s", {partPath}));

        auto writeHeaders = [&](TPlatformFile* file) {
            std::vector<std::uint8_t> block(ArchiveHeaderSize + static_cast<std::size_t>(count) * FileHeaderSize);
            PutInt32(block.data(), count);
            block[4] = 1;
            for (Integer i = 0; i < count; ++i) {
                TFileHeaderRecord& r = FHeaders.FileHeaders(i)->Record;
                r.NextRecord = ArchiveHeaderSize + (i + 1) * FileHeaderSize;
                EncodeFileHeader(r, block.data() + ArchiveHeaderSize + static_cast<std::size_t>(i) * FileHeaderSize);
            }
            const auto n = static_cast<std::int64_t>(block.size());
            if (file->WriteAt(0, block.data(), n) != n)
                throw EDrvnCompress("There is too little space on this disk to operate");
        };
        writeHeaders(dest.get());
        std::int64_t position = ArchiveHeaderSize + static_cast<std::int64_t>(count) * FileHeaderSize;

        std::vector<std::uint8_t> buffer(CopyBlock);
        for (Integer i = 0; i < count; ++i) {
            TFileHeaderRecord& r = FHeaders.FileHeaders(i)->Record;
            std::int64_t from = Offset + static_cast<std::int64_t>(r.DataStart);
            const std::int64_t to = Offset + static_cast<std::int64_t>(r.LastDataByte) + 1;
            bool started = false;
            while (from < to) {
                if (Abort)
                    throw EdcAborted();
                Application->ProcessMessages();
                const std::int64_t want = std::min<std::int64_t>(CopyBlock, to - from);
                if (source->ReadAt(from, buffer.data(), want) != want)
                    Corrupt();
                const std::int64_t put = std::max<std::int64_t>(dest->WriteAt(position, buffer.data(), want), 0);
                if (!started && put > 0) {
                    r.DataStart = static_cast<Integer>(position);
                    r.FirstPart = static_cast<Byte>(part);
                    started = true;
                }
                from += put;
                position += put;
                if (put == want)
                    continue;
                // The disk is full: the rest goes on the next one.
                dest.reset();
                if (part >= 255)
                    throw EDrvnCompress("There is too little space on this disk to operate");
                ++part;
                if (!OnNewDisk)
                    throw EDrvnCompress(
                        "There was no event handler for the OnNewDisk event, therefore no new disk could be inserted");
                std::string folder = destFolder;
                OnNewDisk(this, part, folder);
                partPath = AddBackSlash(folder) + WinChangeFileExt(firstPartName, "." + std::to_string(part));
                dest = OpenWin(partPath, TFileAccess::ReadWrite, TFileCreate::CreateAlways);
                if (!dest)
                    throw EDrvnCompress(Format("Cannot create the file %s", {partPath}));
                const std::int64_t rest = want - put;
                if (dest->WriteAt(0, buffer.data() + put, rest) != rest)
                    throw EDrvnCompress("There is too little space on this disk to operate");
                if (!started) {
                    r.DataStart = 0;
                    r.FirstPart = static_cast<Byte>(part);
                    started = true;
                }
                from += rest;
                position = rest;
            }
            r.LastPart = static_cast<Byte>(part);
            r.LastDataByte = static_cast<Integer>(position - 1);
        }
        dest.reset();
        FHeaders.MultiPart = true;
        // The first disk may have to go back into the drive.
        std::string firstAt = firstPath;
        for (int attempt = 0; attempt < 4 && !WinFileExists(firstAt) && OnNewDisk; ++attempt) {
            std::string folder = destFolder;
            OnNewDisk(this, 1, folder);
            firstAt = AddBackSlash(folder) + firstPartName;
        }
        auto first = OpenWin(firstAt, TFileAccess::ReadWrite, TFileCreate::OpenExisting);
        if (!first)
            throw EDrvnCompress(Format("Cannot open the compressed file %s", {firstAt}));
        writeHeaders(first.get());
        FHeadersRead = false;
        FHeaders.Clear();
        ResetIDTable();
    } catch (const EdcAborted&) {
        FHeadersRead = false;
        if (OnAborted)
            OnAborted(this);
    } catch (...) {
        Abort = true;
        FHeadersRead = false;
        throw;
    }
}

// -------------------------------------------------------------- copying

void TDrvnCompress::Copy(const std::string& sourcePath, const std::string& destPath)
{
    Abort = false;
    try {
        if (WinFileExists(destPath)) {
            const Integer outcome = TVersionResource::IsFileNewerByName(sourcePath, destPath, Overwrite);
            if (outcome == ovrNone)
                throw EDrvnCompress("Error comparing file versions in TDrvnCompress");
            if (outcome == ovrSame || outcome == ovrKeep)
                return;
        }
        auto source = OpenWin(sourcePath, TFileAccess::Read, TFileCreate::OpenExisting);
        if (!source)
            throw EDrvnCompress(Format("Cannot open the file %s", {sourcePath}));
        ForceWinFolder(WinExtractFileDir(destPath));
        auto dest = OpenWin(destPath, TFileAccess::ReadWrite, TFileCreate::CreateAlways);
        if (!dest)
            throw EDrvnCompress(Format("Cannot create the file %s", {destPath}));
        const std::int64_t size = source->Size();
        FStatus = TDrvnCompressStatus();
        FStatus.FileName = sourcePath;
        FStatus.OriginalSize = Clamp32(size);
        FStatus.TotalOriginalSize = FStatus.OriginalSize;
        std::vector<std::uint8_t> buffer(CopyBlock);
        std::int64_t done = 0;
        while (done < size) {
            const std::int64_t got = source->ReadAt(done, buffer.data(), std::min<std::int64_t>(CopyBlock, size - done));
            if (got <= 0)
                throw EDrvnCompress(Format("Cannot open the file %s", {sourcePath}));
            if (dest->WriteAt(done, buffer.data(), got) != got)
                throw EdcDiskFull();
            done += got;
            FStatus.FileBytesDone = Clamp32(done);
            FStatus.FilePercent = Percent(done, size);
            FStatus.TotalBytesDone = FStatus.FileBytesDone;
            FStatus.OverallPercent = static_cast<Byte>(FStatus.FilePercent);
            if (OnBuildStopRequested && OnBuildStopRequested())
                throw EUserAbortInstall();
            StatusStep();
        }
        dest.reset();
        FStatus.FileFinished = true;
        FStatus.FilePercent = 100;
        StatusStep();
        TDateTime date = 0;
        if (GetFileDateTime(sourcePath, date))
            SetFileDateTime(destPath, date);
    } catch (const EdcAborted&) {
        throw;
    } catch (...) {
        Abort = true;
        throw;
    }
}

} // namespace orvex
