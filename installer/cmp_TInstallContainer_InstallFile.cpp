// What the containers and the archive need of an install file: its unique
// ID, the facts of its source, and its archive work at build time.

#include "installer/cmp_TInstallContainer.h"

#include "installer/cmp_TInstall.h"
#include "installer/exceptions_Dorvane.h"
#include "installer/routines_FileSystem.h"
#include "installer/routines_Strings.h"
#include "platform/FileIO.h"
#include "platform/WinPaths.h"

#include <array>

namespace orvex {

namespace {

// The program-wide table of IDs in use.
std::array<bool, MaxFileID + 1>& IDTable()
{
    static std::array<bool, MaxFileID + 1> table{};
    return table;
}

} // namespace

TCustomInstallFile::TCustomInstallFile(TComponent* owner) : TFileRelated(owner)
{
    FNet = false;
    auto& table = IDTable();
    for (int id = 0; id <= MaxFileID; ++id)
        if (!table[id]) {
            table[id] = true;
            FUniqueID = id;
            break;
        }
    if (FUniqueID < 0)
        throw IECustomInstallFileList("Cannot create more than %d install files", {MaxFileID + 1});
}

TCustomInstallFile::~TCustomInstallFile()
{
    if (FUniqueID >= 0)
        IDTable()[FUniqueID] = false;
}

void TCustomInstallFile::SetUniqueID(Integer id)
{
    if (id < 0 || id > MaxFileID)
        throw IECustomInstallFile("%d is not a valid file ID", {id});
    if (FUniqueID >= 0)
        IDTable()[FUniqueID] = false;
    FUniqueID = id;
    IDTable()[id] = true;
}

std::string TCustomInstallFile::SourcePath() const
{
    return IncludeFromDir.empty() ? FileName : RemoveBackSlash(IncludeFromDir) + "\\" + FileName;
}

bool TCustomInstallFile::HasOwnNetArchive() const
{
    return NetLocation() != nullptr || OverwriteMode == owVersion || OverwriteMode == owDate ||
           OverwriteMode == owVersionDate;
}

void TCustomInstallFile::ReadInfoFromArchive()
{
    if (InfoRead)
        return;
    if (dynamic_cast<TFileContainer*>(Container()) == nullptr)
        throw IECustomInstallFile("%s cannot perform ReadInfoFromArchive because either no container is assigned or "
                                  "the container is not TFileContainer",
                                  {Name()});
    auto* container = static_cast<TFileContainer*>(Container());
    std::string archive;
    if (DownloadedArchiveAvailable())
        archive = LocalArchive;
    else if (container->DownloadedArchiveAvailable())
        archive = container->LocalArchive;
    else
        archive = ArchivePath();
    TDrvnCompress reader(nullptr);
    reader.SetCompressedFile(archive);
    if (TCustomInstall* install = GetInstall(); install && archive == install->ArchivePath())
        reader.Offset = MainDrvnCompress()->Offset;
    reader.ReadHeaders();
    const TFileHeaderRecord& record = reader.Headers().FileHeaders(reader.IndexOfFileID(FUniqueID))->Record;
    SourceSize = record.OriginalSize;
    SourceDate = record.FileDate;
    Version = record.Version;
    CompressedSizeOf = static_cast<std::int64_t>(record.ArchiveSize) - record.DataStart;
    InfoRead = true;
}

void TCustomInstallFile::ReadInfoFromSource()
{
    const std::string path = SourcePath();
    const std::int64_t size = FileSizeOf(NativePath(path));
    TDateTime date = 0;
    if (size < 0 || !GetFileDateTime(path, date))
        throw IECustomInstallFile(
            "Could not open or find the following file when trying to read the Size, Date, and Version :%s", {path});
    SourceSize = size;
    SourceDate = date;
    TVersionResource* resource = SharedVersionResource();
    resource->SetFileName(path);
    Version = resource->VersionInfo()->FileVersion.substr(0, MaxVersionLength);
}

void TCustomInstallFile::StatusStep(const TDrvnCompressStatus& status)
{
    TFileStatusParameter parameter;
    parameter.FileBytesDone = status.FileBytesDone;
    parameter.FilePercent = status.FilePercent;
    parameter.FileName = FileName;
    parameter.Status = status;
    if (OnStatus)
        OnStatus(this, status.FilePercent, status.OverallPercent);
    Integer code = ieInstallStatus;
    if (State == ifsCompress)
        code = ieCompressStatus;
    else if (State == ifsCopying)
        code = ieCopyStatus;
    TList list;
    list.Add(static_cast<TObject*>(this));
    list.Add(static_cast<TObject*>(&parameter));
    InstallBroadcast(this, bmFileStatus, &parameter);
    if (Container())
        Container()->DoInformationEventControl(this, code, &list);
}

bool TCustomInstallFile::BeforeEvent(const TNotifyEvent& event)
{
    try {
        if (event)
            event(this);
    } catch (const EAbort&) {
        return false;
    }
    return true;
}

void TCustomInstallFile::CompressFile()
{
    State = ifsCompress;
    try {
        if (!BeforeEvent(OnBeforeCompress)) {
            State = ifsNone;
            InstallBroadcast(this, bmEndCopy, nullptr);
            return;
        }
        if (Container())
            Container()->DoInformationEventControl(this, ieBeforeCompress, this);
        const std::string archive = ArchivePath();
        if (archive.empty())
            throw IECustomInstallFile("Cannot either compress or decompress the following file because it's archive "
                                      "file property is blank. File is :%s",
                                      {SourcePath()});
        if (Include) {
            TDrvnCompress* compress = MainDrvnCompress();
            compress->SetCompressedFile(archive);
            compress->FilesToProcess()->Clear();
            compress->FilesToProcess()->Add(SourcePath());
            auto savedStatus = compress->OnStatus;
            compress->OnStatus = [this](TObject*, const TDrvnCompressStatus& status) { StatusStep(status); };
            try {
                compress->Compress(AddToArchive == lzcOnlyAdd, FUniqueID);
            } catch (...) {
                compress->OnStatus = savedStatus;
                throw;
            }
            compress->OnStatus = savedStatus;
            if (ArchiveState == 0)
                ArchiveState = 2;
            ArchiveName = archive;
            if (OnAfterCompress)
                OnAfterCompress(this);
            if (Container())
                Container()->DoInformationEventControl(this, ieAfterCompress, this);
        }
    } catch (...) {
        State = ifsNone;
        InstallBroadcast(this, bmEndCopy, nullptr);
        throw;
    }
    State = ifsNone;
    InstallBroadcast(this, bmEndCopy, nullptr);
}

void TCustomInstallFile::CopyFile()
{
    State = ifsCopying;
    try {
        if (!BeforeEvent(OnBeforeCopy)) {
            State = ifsNone;
            InstallBroadcast(this, bmEndCopy, nullptr);
            return;
        }
        if (Container())
            Container()->DoInformationEventControl(this, ieBeforeCopy, this);
        if (Include) {
            const std::string dest = DestinationDirectory();
            if (dest.empty())
                throw IECustomInstallFile("Cannot compress,copy, or install the following file because it's "
                                          "destination directory is blank. File is :%s",
                                          {SourcePath()});
            ForceDirectories(NativePath(dest));
            TDrvnCompress* compress = MainDrvnCompress();
            compress->Overwrite = OverwriteMode;
            auto savedStatus = compress->OnStatus;
            compress->OnStatus = [this](TObject*, const TDrvnCompressStatus& status) { StatusStep(status); };
            try {
                compress->Copy(SourcePath(), AddBackSlash(dest) + (DestName.empty() ? FileName : DestName));
            } catch (...) {
                compress->OnStatus = savedStatus;
                throw;
            }
            compress->OnStatus = savedStatus;
            if (OnAfterCopy)
                OnAfterCopy(this);
            if (Container())
                Container()->DoInformationEventControl(this, ieAfterCopy, this);
        }
    } catch (...) {
        State = ifsNone;
        InstallBroadcast(this, bmEndCopy, nullptr);
        throw;
    }
    State = ifsNone;
    InstallBroadcast(this, bmEndCopy, nullptr);
}

} // namespace orvex
