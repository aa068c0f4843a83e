#pragma once
// The setup archive: one file, or numbered parts spread over several disks,
// holding a list of 176-byte file records and one zlib stream per file. The
// archive may begin at any offset inside a larger file (the self-extracting
// setup program carries it behind its loader).
//
// Layout (little-endian; positions relative to the archive's start, Offset
// bytes into its file): int32 record count and a uint8 multi-part flag, then
//   - one file (flag 0): record, its stream, next record, its stream, ...;
//   - parts (flag 1): every record contiguously behind the header in part 1,
//     the streams following and continuing from part to part (".1", ".2", ...).
//
// Everything read from an archive is checked before use: a record whose
// path, lengths, part numbers or positions do not fit its fields or the file
// is refused with the corrupt-archive error, and extraction never writes
// outside ExtractDirectory.
//
// Long operations pump the application's messages after every block, so the
// wizard's Cancel can set Abort, which ends the operation with EdcAborted
// (reported through OnAborted).

#include "host/Classes.h"
#include "installer/cmp_TVersion.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orvex {

class TPlatformFile;

// The 176-byte file record.
struct TFileHeaderRecord {
    Integer OrderNumber = 0;    // 0: 1 for the first file of the build list
    TDateTime FileDate = 0;     // 8
    Byte LastPart = 0;          // 16: part where the data ends (0 in a one-file archive)
    Integer LastDataByte = 0;   // 20: position of the data's last byte in that part
    std::string SourcePath;     // 24: length-prefixed, capacity 100
    Integer NextRecord = 0;     // 128
    Integer OriginalSize = 0;   // 132
    Integer DataStart = 0;      // 136: first byte of the stream (in FirstPart)
    Integer ArchiveSize = 0;    // 140: the archive's size when this file was complete
    Byte FirstPart = 0;         // 144: part where the data begins (0: one file; read as 1)
    Integer FileID = 0;         // 148
    std::string Version;        // 152: length-prefixed, capacity 20
};

inline constexpr int FileHeaderSize = 176;
inline constexpr int ArchiveHeaderSize = 5;
inline constexpr int MaxSourcePathLength = 100;
inline constexpr int MaxVersionLength = 20;
inline constexpr int MaxFileID = 1999;

// Writes a record into 176 bytes, and reads it back; Decode answers false
// when a length byte exceeds its field's capacity.
void EncodeFileHeader(const TFileHeaderRecord& record, std::uint8_t* bytes);
bool DecodeFileHeader(const std::uint8_t* bytes, TFileHeaderRecord& record);

// One record in memory.
class TFileHeader : public TObject {
public:
    TFileHeaderRecord Record;
    bool ReadFromArchive = false;
};

// The ordered records of an archive with its multi-part flag.
class TFileHeaders : public TObject {
public:
    ~TFileHeaders() override;
    int Count() const { return static_cast<int>(FItems.size()); }
    // A bad index raises "%d is an invalid TFileHeader index in
    // TFileHeaders.GetFileHeaders".
    TFileHeader* FileHeaders(int index) const;
    // Takes ownership; nil raises "Tried to add an invalid file header".
    int Add(TFileHeader* header);
    void Clear();
    // The first ";"-separated token of text compared without regard to case
    // with each record's source path; -1 when absent.
    int IndexOfName(const std::string& text) const;
    bool MultiPart = false;

private:
    std::vector<TFileHeader*> FItems;
};

enum TCompressionLevel { colNone, colFastest, colDefault, colMax };

// The running status handed to the events and copied into the install
// engine's file-status parameter.
struct TDrvnCompressStatus {
    Integer FilePercent = 0;
    Integer FileBytesDone = 0;
    std::string FileName;
    Integer CompressedSize = 0;
    Integer CompressionPercent = 0; // compressed / original x 100, rounded
    Integer OriginalSize = 0;
    TFileHeaderRecord Header;       // the current record
    bool FileFinished = false;
    Byte OverallPercent = 0;
    Integer TotalBytesDone = 0;
    Integer TotalCompressedSize = 0;
    Integer TotalCompressionPercent = 0;
    Integer TotalOriginalSize = 0;
};

using TDrvnStatusEvent = std::function<void(TObject* sender, const TDrvnCompressStatus& status)>;
using TDrvnExtractEvent =
    std::function<void(TObject* sender, const TDrvnCompressStatus& status, std::string& destName)>;
using TDrvnNewDiskEvent = std::function<void(TObject* sender, Integer partNumber, std::string& directory)>;

class TDrvnCompress : public TComponent {
public:
    explicit TDrvnCompress(TComponent* owner);
    ~TDrvnCompress() override;

    // -- properties
    bool Abort = false;
    const std::string& CompressedFile() const { return FCompressedFile; }
    // A name whose ".1" form differs from the old one's forgets the records.
    void SetCompressedFile(const std::string& value);
    TCompressionLevel CompressionLevel = colMax;
    std::string ExtractDirectory;
    TStrings* FilesToProcess() const { return FFilesToProcess; }
    Integer Offset = 0;
    TOverwriteType Overwrite = owAlways;
    // The name the next extracted file gets (empty: its recorded name).
    std::string DestinationName;

    TDrvnStatusEvent OnBeforeAdding;
    TDrvnStatusEvent OnAfterAdding;
    TDrvnExtractEvent OnBeforeExtracting;
    TDrvnStatusEvent OnAfterExtracting;
    TDrvnExtractEvent OnReplace;
    TDrvnStatusEvent OnStatus;
    TDrvnStatusEvent OnListing;
    TDrvnNewDiskEvent OnNewDisk;
    TNotifyEvent OnFullDisk;
    TNotifyEvent OnAborted;
    // Asked after every block while copying for the build: true stops it with
    // EUserAbortInstall.
    std::function<bool()> OnBuildStopRequested;

    // -- operations
    // Compresses the files of FilesToProcess into CompressedFile: a new
    // archive, or appended to an existing one when add is set. Each file gets
    // fileID (0..1999).
    void Compress(bool add, Integer fileID);
    // Extracts the files named in FilesToProcess into ExtractDirectory.
    void Extract();
    // One OnListing call per record.
    void List();
    // Reads the header and all records at Offset; skipped until the file name
    // changes.
    // The archive's disk now lies in folder: its file name moves there and
    // the records read so far stay (they are the same archive's).
    void MoveToFolder(const std::string& folder);
    void ReadHeaders();
    // The status filled from a record; an index outside the records raises.
    void GetFileStatus(int index, TDrvnCompressStatus& status);
    // The record index of an ID. An ID outside 0..1999 or one no record has
    // raises the corrupt-archive error.
    int IndexOfFileID(Integer id);
    // Copies a one-file archive into numbered parts: the first in
    // destFolder named firstPartName, further ones where OnNewDisk says.
    void SplitToDisks(const std::string& destFolder, const std::string& firstPartName);
    // Copies one file uncompressed under the overwrite rule.
    void Copy(const std::string& source, const std::string& dest);
    int FileCount() const { return FHeaders.Count(); }
    TFileHeaders& Headers() { return FHeaders; }

private:
    struct TPartReader;
    void StatusStep(); // abort check, message pump, OnStatus
    void ResetIDTable();
    void FillStatusFromHeader(const TFileHeaderRecord& record);
    std::string PartFileName(int part) const;
    std::unique_ptr<TPlatformFile> OpenPart(int part, std::string& partName);
    void ExtractOne(const std::string& entry);
    void InflateRecord(const TFileHeaderRecord& record, TPlatformFile* dest, const std::string& destPath);
    void ValidateHeaders(std::int64_t archiveSize);
    void CompressFiles(bool add, Integer fileID);

    std::string FCompressedFile;
    TStringList* FFilesToProcess;
    TFileHeaders FHeaders;
    bool FHeadersRead = false;
    std::string FHeadersFile; // the file the records were read from
    std::array<Integer, MaxFileID + 1> FIDTable{};
    TDrvnCompressStatus FStatus;
};

// The corrupt-archive error text.
inline const char* const CorruptArchiveText =
    "Could not read the file headers for the compressed file. The Archive file could possible be corrupt";

} // namespace orvex
