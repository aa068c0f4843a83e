// File-related objects, file containers with their totals and information
// events, groups, directories, and the container's path specifier.

#include "installer/cmp_TInstallContainer.h"

#include "host/forms/Forms.h"
#include "installer/cmp_TInstall.h"
#include "installer/cmp_TNetInstallLocation.h"
#include "installer/exceptions_Dorvane.h"
#include "installer/routines_API.h"
#include "installer/routines_Components.h"
#include "installer/routines_Registry.h"
#include "installer/routines_Strings.h"
#include "platform/FileIO.h"
#include "platform/WinPaths.h"

#include <algorithm>

namespace orvex {

namespace {

TCustomPathSpecifier* Stock(TPathSpecifierClass cls)
{
    TStandardPathSpecList* list = StandardPathSpecList();
    return list->HasClass(cls) ? list->FindByClass(cls) : nullptr;
}

bool IsStock(TCustomPathSpecifier* specifier, TPathSpecifierClass cls)
{
    auto* standard = dynamic_cast<TStandardPathSpecifier*>(specifier);
    return standard != nullptr && standard->SpecifierClass() == cls;
}

int GNameClashCounter = 0;

// The hourglass while a container reads its files' information.
class THourGlass {
public:
    THourGlass() : FSaved(Screen->Cursor()) { Screen->SetCursor(crHourGlass); }
    ~THourGlass() { Screen->SetCursor(FSaved); }

private:
    TCursor FSaved;
};

TCustomInstallFile* FileParameter(TObject* parameter)
{
    auto* file = dynamic_cast<TCustomInstallFile*>(parameter);
    if (file == nullptr)
        throw IEFileContainer("DoInformationEventControl parameter is not TInstallFile");
    return file;
}

// The [install file, second] list of a status or disk event.
template <class TSecond>
std::pair<TCustomInstallFile*, TSecond*> ListParameter(TObject* parameter)
{
    auto* list = dynamic_cast<TList*>(parameter);
    if (list == nullptr)
        throw IEFileContainer("DoInformationEventControl--PO is not a TList object");
    if (list->Count() < 2)
        throw IEFileContainer("DoInformationEventControl--Not engouh parameters for status event");
    auto* file = dynamic_cast<TCustomInstallFile*>(static_cast<TObject*>(list->Get(0)));
    if (file == nullptr)
        throw IEFileContainer("DoInformationEventControl says bad first parameter");
    auto* second = dynamic_cast<TSecond*>(static_cast<TObject*>(list->Get(1)));
    if (second == nullptr)
        throw IEFileContainer("DoInformationEventControl says bad second parameter");
    return {file, second};
}

} // namespace

// ------------------------------------------------------------- TFileRelated

TFileRelated::TFileRelated(TComponent* owner) : TInstallObject(owner)
{
    FInstallableByContainer = true;
}

TFileRelated::~TFileRelated() = default;

void TFileRelated::SetContainer(TInstallContainer* value)
{
    TInstallObject::SetContainer(value);
    if (Loading())
        return;
    TCustomPathSpecifier* stock = Stock(&TpsContainerArchiveFile::ClassInfo);
    if (value != nullptr && dynamic_cast<TFileRelated*>(value) != nullptr) {
        if (stock)
            SetArchiveFileType(stock);
    } else if (value == nullptr && stock && FArchiveFileType == stock) {
        SetArchiveFileType(nullptr);
    }
}

void TFileRelated::DownloadStatus(const std::string& name, Integer bytes, Integer total, Integer done)
{
    TDownloadStatusParameter parameter;
    parameter.FileName = name;
    parameter.BlockSize = bytes;
    parameter.Total = total;
    parameter.Done = done;
    parameter.Percent = SafePercent(done, total);
    if (OnDataReceived)
        OnDataReceived(this, name, bytes, total, done, parameter.Percent);
    InstallBroadcast(this, bmDownloadStatus, &parameter);
    if (FContainer)
        FContainer->DoInformationEventControl(this, ieDownloadStatus, &parameter);
}

TCustomNetInstallLocation* TFileRelated::FindNetLocation()
{
    if (FNetLocation)
        return FNetLocation;
    if (dynamic_cast<TCustomInstallFile*>(this) != nullptr) {
        for (TInstallContainer* c = FContainer; c != nullptr;) {
            auto* fc = dynamic_cast<TFileContainer*>(c);
            if (fc == nullptr)
                break;
            if (fc->NetLocation())
                return fc->NetLocation();
            auto* object = dynamic_cast<TInstallObject*>(c);
            c = object ? object->Container() : nullptr;
        }
    }
    if (TCustomInstall* install = GetInstall())
        return install->NetLocation();
    return nullptr;
}

std::string TFileRelated::LocalFileKey()
{
    TCustomInstall* install = GetInstall();
    if (install == nullptr || install->RecordKeyPath.empty())
        return "";
    return AddBackSlash(install->RecordKeyPath) + Name();
}

void TFileRelated::DownloadArchive()
{
    if (DownloadedArchiveAvailable())
        return;
    TCustomNetInstallLocation* location = FindNetLocation();
    if (location == nullptr)
        throw IEFileRel_NoNetLocation("Could not find a net install location for %s", {Name()});
    if (!location->LoginInformation()->IsValid()) {
        if (location == FNetLocation)
            throw IEFileRelated("%s could not install itself because the TNetLocation component's properties, in "
                                "the NetLocation property, have not been filled in",
                                {Name()});
        throw IEFileRelated("%s could not install itself because the LoginInformation property of the TInstall "
                            "component has not been properly filled in",
                            {Name()});
    }
    const std::string temp = CreateTempFile(".1");
    auto savedProgress = location->OnDataReceived;
    location->OnDataReceived = [this](TObject*, const std::string& name, const char*, Integer total,
                                      Integer received, Integer block) {
        DownloadStatus(name, block, total, received);
    };
    bool cancelled = false;
    auto savedAfter = location->OnAfterDownload;
    location->OnAfterDownload = [&cancelled, savedAfter](TObject* sender, bool c) {
        cancelled = c;
        if (savedAfter)
            savedAfter(sender, c);
    };
    try {
        location->Download(Name() + ".1", temp);
    } catch (...) {
        location->OnDataReceived = savedProgress;
        location->OnAfterDownload = savedAfter;
        DeleteFile(NativePath(temp));
        throw;
    }
    location->OnDataReceived = savedProgress;
    location->OnAfterDownload = savedAfter;
    if (cancelled) {
        DeleteFile(NativePath(temp));
        throw EAIUserAbort();
    }
    RememberDownloadedArchive(temp);
}

bool TFileRelated::DownloadedArchiveAvailable()
{
    if (LocalArchive.empty()) {
        const std::string key = LocalFileKey();
        if (!key.empty())
            LocalArchive = ReadRegString(HKEY_LOCAL_MACHINE, key, "LocalFile", "");
    }
    return !LocalArchive.empty() && WinFileExists(LocalArchive);
}

void TFileRelated::RememberDownloadedArchive(const std::string& localFile)
{
    LocalArchive = localFile;
    const std::string key = LocalFileKey();
    if (!key.empty())
        WriteRegString(HKEY_LOCAL_MACHINE, key, "LocalFile", localFile);
}

void TFileRelated::SetArchiveFile(const std::string& value)
{
    FArchiveFile = value;
}

void TFileRelated::SetArchiveFileType(TCustomPathSpecifier* value)
{
    if (dynamic_cast<TpsFileContainer*>(value) != nullptr)
        throw IEPathSpecifier("A file container cannot reference another file container or group");
    if (FArchiveFileType == value)
        return;
    if (FArchiveFileType)
        FArchiveFileType->RemoveFreeNotification(this);
    FArchiveFileType = value;
    if (FArchiveFileType)
        FArchiveFileType->FreeNotification(this);
}

void TFileRelated::SetNet(bool value)
{
    FNet = value;
}

void TFileRelated::SetNetLocation(TCustomNetInstallLocation* value)
{
    if (FNetLocation == value)
        return;
    if (FNetLocation)
        FNetLocation->RemoveFreeNotification(this);
    FNetLocation = value;
    if (FNetLocation)
        FNetLocation->FreeNotification(this);
}

std::string TFileRelated::ArchivePath()
{
    if (FArchiveFileType == nullptr)
        return RemoveBackSlash(FArchiveFile);
    std::string path = FArchiveFileType->PathFor(this);
    if (IsStock(FArchiveFileType, &TpsContainerArchiveFile::ClassInfo) ||
        IsStock(FArchiveFileType, &TpsMainArchiveFile::ClassInfo))
        return RemoveBackSlash(path);
    return RemoveBackSlash(AddBackSlash(path) + FArchiveFile);
}

void TFileRelated::Notification(TComponent* component, TOperation operation)
{
    TInstallObject::Notification(component, operation);
    if (operation != opRemove || component == nullptr)
        return;
    if (component == FArchiveFileType)
        FArchiveFileType = nullptr;
    if (component == FNetLocation)
        SetNetLocation(nullptr);
}

// ----------------------------------------------------------- TFileContainer

TFileContainer::TFileContainer(TComponent* owner) : TFileRelated(owner)
{
    // Built outside loading, the specifier comes at once (the install
    // component gives its own up); loaded ones get it in Loaded.
    if (!Loading())
        CreateSpecifier();
}

TFileContainer::~TFileContainer()
{
    if (FSpecifier) {
        FSpecifier->FFileContainer = nullptr;
        FSpecifier = nullptr;
    }
}

void TFileContainer::CreateSpecifier()
{
    if (FSpecifier || !OwnsFileContainerSpecifier() || Owner() == nullptr)
        return;
    // The first free name of psFileContainer, psFileContainer1, ...
    std::string name = "psFileContainer";
    for (int n = 1; Owner()->FindComponent(name) != nullptr; ++n)
        name = "psFileContainer" + std::to_string(n);
    auto* specifier = new TpsFileContainer(Owner());
    specifier->TComponent::SetName(name);
    specifier->SetFileContainer(this);
}

void TFileContainer::Loaded()
{
    TFileRelated::Loaded();
    CreateSpecifier();
}

void TFileContainer::Notification(TComponent* component, TOperation operation)
{
    TFileRelated::Notification(component, operation);
    if (operation == opRemove && component != nullptr && component == FSpecifier)
        FSpecifier = nullptr;
}

void TFileContainer::SendToContainer(Integer code, TObject* parameter)
{
    if (FContainer)
        FContainer->DoInformationEventControl(this, code, parameter);
}

void TFileContainer::AddToTotals(TFileStatusParameter* parameter, TCustomInstallFile* file)
{
    parameter->ContainerBytesDone = static_cast<Integer>(
        std::min<std::int64_t>(FBytesDone + parameter->FileBytesDone, INT32_MAX));
    parameter->ContainerPercent = SafePercent(FBytesDone + parameter->FileBytesDone, FTotalSize);
    Status(parameter);
    if (parameter->Status.FileFinished)
        FBytesDone += file->SourceSize;
}

void TFileContainer::DoInformationEventControl(TObject* sender, Integer code, TObject* parameter)
{
    if (!Busy())
        return;
    switch (code) {
    case ieReplacing: {
        if (parameter == nullptr)
            throw IEFileContainer("%s got a nil PO parameter", {Name()});
        Replacing(FileParameter(parameter));
        break;
    }
    case ieInstallStatus:
    case ieCompressStatus:
    case ieCopyStatus: {
        if (parameter == nullptr)
            throw IEFileContainer("%s got a nil PO parameter", {Name()});
        auto [file, status] = ListParameter<TFileStatusParameter>(parameter);
        AddToTotals(status, file);
        break;
    }
    case ieNewDisk: {
        if (parameter == nullptr)
            throw IEFileContainer("%s got a nil PO parameter", {Name()});
        auto [file, disk] = ListParameter<TDiskParameter>(parameter);
        bool answered = false;
        disk->Folder = ChangeDisk(file, disk->PartNumber, disk->Folder, answered);
        if (answered)
            file->Tag = 1;
        InstallBroadcast(this, bmNewDisk, parameter);
        break;
    }
    case ieDownloadStatus: {
        if (parameter == nullptr)
            throw IEFileContainer("%s got a nil PO parameter", {Name()});
        auto* status = dynamic_cast<TDownloadStatusParameter*>(parameter);
        if (status == nullptr)
            throw IEFileContainer("The PO object passed to %s is not a TDownloadStatusParameter object", {Name()});
        if (OnDataReceived)
            OnDataReceived(this, status->FileName, status->BlockSize, status->Total, status->Done, status->Percent);
        InstallBroadcast(this, bmDownloadStatus, status);
        break;
    }
    case ieSkipped:
    case ieDoneWithoutArchive: {
        if (parameter == nullptr)
            throw IEFileContainer("%s got a nil PO parameter", {Name()});
        TCustomInstallFile* file = FileParameter(parameter);
        TFileStatusParameter status;
        status.FileBytesDone = static_cast<Integer>(std::min<std::int64_t>(file->SourceSize, INT32_MAX));
        status.FilePercent = 100;
        status.FileName = file->FileName;
        status.Status.FileName = file->FileName;
        status.Status.FilePercent = 100;
        status.Status.FileFinished = true;
        status.ContainerBytesDone =
            static_cast<Integer>(std::min<std::int64_t>(FBytesDone + file->SourceSize, INT32_MAX));
        status.ContainerPercent = SafePercent(FBytesDone + file->SourceSize, FTotalSize);
        Status(&status);
        FBytesDone += file->SourceSize;
        break;
    }
    default:
        break;
    }
    SendToContainer(code, parameter);
}

void TFileContainer::InstallChildren()
{
    SetMode(fcmInstalling);
    try {
        THourGlass hourGlass;
        DownloadedArchiveAvailable();
        ReadInfoFromArchive();
        InstallBroadcast(this, bmArchiveInfoRead, nullptr);
        SendToContainer(ieContainerStart, this);
        FTotalSize = SizeOfFiles(true, true);
        FBytesDone = 0;
        ArchiveStopped = false;
        if (OnBeforeInstallObjects)
            OnBeforeInstallObjects(this);
        TFileRelated::InstallChildren();
        SendToContainer(ieContainerEnd, this);
    } catch (...) {
        EndCopy();
        throw;
    }
    ArchiveStopped = ArchiveStopped || MainDrvnCompress()->Abort;
    EndCopy();
    if (OnAfterInstallObjects)
        OnAfterInstallObjects(this, ArchiveStopped);
}

std::string TFileContainer::ChangeDisk(TObject* sender, Integer partNumber, const std::string& folder, bool& answered)
{
    std::string result = folder;
    answered = false;
    if (OnNewDisk) {
        OnNewDisk(sender, partNumber, result);
        answered = true;
    }
    return result;
}

void TFileContainer::Replacing(TCustomInstallFile* file)
{
    if (OnReplacing)
        OnReplacing(this, file);
    InstallBroadcast(this, bmReplacing, file);
}

void TFileContainer::Status(TFileStatusParameter* parameter)
{
    if (OnStatus)
        OnStatus(this, parameter->FilePercent, parameter->FileName);
    InstallBroadcast(this, bmFileStatus, parameter);
}

std::int64_t TFileContainer::SizeOfFiles(bool onlyIncluded, bool withSubContainers)
{
    std::int64_t total = 0;
    for (TInstallObject* child : FChildren) {
        if (onlyIncluded && !child->Include)
            continue;
        if (auto* file = dynamic_cast<TCustomInstallFile*>(child))
            total += file->SourceSize;
        else if (auto* container = dynamic_cast<TFileContainer*>(child); container && withSubContainers)
            total += container->SizeOfFiles(onlyIncluded, true);
    }
    return total;
}

void TFileContainer::Process(Integer mode)
{
    try {
        switch (mode) {
        case pmCompress:
            Compress(0);
            break;
        case pmInstall:
            Install();
            break;
        case pmCopy:
            Copy();
            break;
        case pmReflect:
            // Reflection hands each child to an outside reflector, which this
            // program never sets.
            SetMode(fcmReflecting);
            break;
        default:
            break;
        }
    } catch (...) {
        SetMode(fcmIdle);
        throw;
    }
    SetMode(fcmIdle);
}

void TFileContainer::EndCopy()
{
    SetMode(fcmIdle);
    InstallBroadcast(this, bmEndCopy, nullptr);
}

void TFileContainer::RunProcess(TFileContainerMode mode, const std::function<void()>& body)
{
    SetMode(mode);
    try {
        if (OnBeforeProcess)
            OnBeforeProcess(this);
        body();
        if (OnAfterProcess)
            OnAfterProcess(this);
        SendToContainer(ieContainerEnd, this);
    } catch (...) {
        EndCopy();
        throw;
    }
    EndCopy();
}

void TFileContainer::Copy()
{
    RunProcess(fcmCopying, [this] {
        if (Include) {
            SendToContainer(ieContainerStart, this);
            ReadInfoFromSources();
            FTotalSize = SizeWithSubContainers();
            FBytesDone = 0;
            const std::vector<TInstallObject*> children = FChildren;
            for (TInstallObject* child : children) {
                if (auto* file = dynamic_cast<TCustomInstallFile*>(child))
                    file->CopyFile();
                else if (auto* container = dynamic_cast<TFileContainer*>(child))
                    container->Copy();
            }
        }
    });
}

void TFileContainer::FreeInstallFiles()
{
    FreeChildrenOfKind(kcInstallFile);
}

std::string TFileContainer::NetArchivePath(const std::string& componentName, TCustomNetInstallLocation* location)
{
    if (location == nullptr)
        throw IEFileRel_NoNetLocation("Could not find a net install location for %s", {Name()});
    std::string mainArchive;
    if (TCustomInstall* install = GetInstall())
        mainArchive = install->ArchivePath();
    std::string folder = WinExtractFileDir(mainArchive);
    return AddBackSlash(folder) + NetworkFolder(location) + "\\" + componentName + ".1";
}

std::string NetworkFolder(TCustomNetInstallLocation* location)
{
    // The host and the directory (or the protocol and the host) as two
    // folders, each made a usable file name.
    TCustomLoginInformation* login = location->LoginInformation();
    if (Trim(login->Directory).empty())
        return std::string(login->Protocol == ipFTP ? "FTP" : "HTTP") + "\\" + FileNameFilter(login->Hostname);
    return FileNameFilter(login->Hostname) + "\\" + FileNameFilter(login->Directory);
}

void TFileContainer::CompressChild(TFileRelated* child, Integer options)
{
    const TlzhCommand savedAdd = child->AddToArchive;
    const std::string savedFile = child->ArchiveFile();
    TCustomPathSpecifier* savedType = child->ArchiveFileType();
    const bool savedInclude = child->Include;
    try {
        if (options & coIncludeExcluded)
            child->Include = true;
        auto* file = dynamic_cast<TCustomInstallFile*>(child);
        const bool isNetFile =
            file != nullptr && !(options & coForceNetFilesLocal) && (file->Net() || (options & coForceFilesNet));
        if (isNetFile) {
            if (file->NetLocation() != nullptr) {
                child->SetArchiveFileType(nullptr);
                child->SetArchiveFile(NetArchivePath(file->Name(), file->NetLocation()));
                child->AddToArchive = lzcOverwrite;
            } else {
                const std::string own = file->HasOwnNetArchive() ? file->Name() : Name();
                child->SetArchiveFileType(nullptr);
                child->SetArchiveFile(NetArchivePath(own, FindNetLocation()));
                child->AddToArchive = lzcOnlyAdd;
            }
            file->ArchiveState = 1;
        } else {
            // The folder of the install component's archive: the build folder.
            std::string buildFolder;
            if (TCustomInstall* install = GetInstall())
                buildFolder = WinExtractFileDir(install->ArchivePath());
            if (IsStock(savedType, &TpsContainerArchiveFile::ClassInfo) ||
                ((options & coContainerArchive) && savedType == nullptr)) {
                child->SetArchiveFileType(nullptr);
                child->SetArchiveFile(ArchivePath());
                child->AddToArchive = lzcOnlyAdd;
            } else if (IsStock(savedType, &TpsInstallSource::ClassInfo)) {
                child->SetArchiveFileType(nullptr);
                child->SetArchiveFile(AddBackSlash(buildFolder) + savedFile);
                child->AddToArchive = lzcOverwrite;
            } else if ((options & coContainerArchive) && savedType != nullptr) {
                // A new archive in the build folder under the archive's own
                // path without its drive.
                std::string path = child->ArchivePath();
                if (path.size() >= 2 && path[1] == ':')
                    path = path.substr(2);
                while (!path.empty() && path.front() == '\\')
                    path.erase(0, 1);
                child->SetArchiveFileType(nullptr);
                child->SetArchiveFile(AddBackSlash(buildFolder) + path);
                child->AddToArchive = lzcOverwrite;
            }
        }
        if (auto* container = dynamic_cast<TFileContainer*>(child))
            container->Compress(options);
        else if (file)
            file->CompressFile();
    } catch (...) {
        child->AddToArchive = savedAdd;
        child->SetArchiveFile(savedFile);
        child->SetArchiveFileType(savedType);
        child->Include = savedInclude;
        throw;
    }
    child->AddToArchive = savedAdd;
    child->SetArchiveFile(savedFile);
    child->SetArchiveFileType(savedType);
    child->Include = savedInclude;
}

void TFileContainer::Compress(Integer options)
{
    if ((options & coForceNetFilesLocal) && (options & coForceFilesNet))
        throw IEFileContainer("Cannot pass both coForceNetFilesLocal and coForceFilesNet to Compress");
    RunProcess(fcmCompressing, [this, options] {
        if (Include || (options & coIncludeExcluded)) {
            SendToContainer(ieContainerStart, this);
            ReadInfoFromSources();
            FTotalSize = (options & coIncludeExcluded) ? SizeOfFiles(false, true) : SizeWithSubContainers();
            FBytesDone = 0;
            if (AddToArchive == lzcOverwrite) {
                const std::string archive = WinChangeFileExt(ArchivePath(), ".1");
                if (!archive.empty() && WinFileExists(archive) && !DeleteFile(NativePath(archive)))
                    throw IEFileContainer("%s cannot delete the archive file %s", {Name(), archive});
                bool netFiles = false;
                for (TInstallObject* child : FChildren)
                    if (auto* file = dynamic_cast<TCustomInstallFile*>(child))
                        netFiles = netFiles || file->Net() || (options & coForceFilesNet);
                if (netFiles && !(options & coForceNetFilesLocal)) {
                    TCustomNetInstallLocation* location = FindNetLocation();
                    if (location) {
                        const std::string net = NetArchivePath(Name(), location);
                        if (WinFileExists(net) && !DeleteFile(NativePath(net)))
                            throw IEFileContainer("%s cannot delete the archive file %s", {Name(), net});
                    } else {
                        throw IEFileRel_NoNetLocation("Could not find a net install location for %s", {Name()});
                    }
                }
            }
            const std::vector<TInstallObject*> children = FChildren;
            for (TInstallObject* child : children)
                if (auto* related = dynamic_cast<TFileRelated*>(child))
                    CompressChild(related, options);
        }
    });
}

std::int64_t TFileContainer::CompressedSize()
{
    std::int64_t total = 0;
    for (TInstallObject* child : FChildren) {
        if (auto* file = dynamic_cast<TCustomInstallFile*>(child))
            total += file->CompressedSizeOf;
        else if (auto* container = dynamic_cast<TFileContainer*>(child))
            total += container->CompressedSize();
    }
    return total;
}

std::string TFileContainer::DownloadedArchivePath()
{
    if (!DownloadedArchiveAvailable())
        throw IEFileContainer("%s has not yet downloaded the archive file and therefore cannot retrieve the path of "
                              "the archive file",
                              {Name()});
    return LocalArchive;
}

std::int64_t TFileContainer::OwnFilesSize()
{
    return SizeOfFiles(true, false);
}

std::int64_t TFileContainer::SizeWithSubContainers()
{
    return SizeOfFiles(true, true);
}

void TFileContainer::ReadInfoFromArchive()
{
    THourGlass hourGlass;
    const std::vector<TInstallObject*> children = FChildren;
    for (TInstallObject* child : children) {
        if (auto* file = dynamic_cast<TCustomInstallFile*>(child)) {
            if (file->Include)
                file->ReadInfoFromArchive();
        } else if (auto* container = dynamic_cast<TFileContainer*>(child)) {
            container->ReadInfoFromArchive();
        }
    }
    InfoReadFromArchive = true;
}

void TFileContainer::ReadInfoFromSources()
{
    THourGlass hourGlass;
    const std::vector<TInstallObject*> children = FChildren;
    for (TInstallObject* child : children) {
        if (auto* file = dynamic_cast<TCustomInstallFile*>(child))
            file->ReadInfoFromSource();
        else if (auto* container = dynamic_cast<TFileContainer*>(child))
            container->ReadInfoFromSources();
    }
}

bool TFileContainer::HasNetFilesToDownload()
{
    for (TInstallObject* child : FChildren) {
        if (auto* file = dynamic_cast<TCustomInstallFile*>(child)) {
            if (file->Include && file->Net() && !file->DownloadedArchiveAvailable())
                return true;
        } else if (auto* container = dynamic_cast<TFileContainer*>(child)) {
            if (container->HasNetFilesToDownload())
                return true;
        }
    }
    return false;
}

TCustomInstallFile* TFileContainer::FindFileBySourcePath(const std::string& path) const
{
    for (TInstallObject* child : FChildren)
        if (auto* file = dynamic_cast<TCustomInstallFile*>(child))
            if (CompareText(file->SourcePath(), path) == 0)
                return file;
    return nullptr;
}

// --------------------------------------------------------- TpsFileContainer

TpsFileContainer::TpsFileContainer(TComponent* owner) : TCustomPathSpecifier(owner) {}

TpsFileContainer::~TpsFileContainer()
{
    if (FFileContainer && FFileContainer->FSpecifier == this)
        FFileContainer->FSpecifier = nullptr;
}

void TpsFileContainer::SetFileContainer(TFileContainer* value)
{
    if (FFileContainer == value)
        return;
    if (FFileContainer && FFileContainer->FSpecifier == this)
        FFileContainer->FSpecifier = nullptr;
    FFileContainer = value;
    if (value) {
        // A stored specifier loaded for a container that has one replaces it.
        if (value->FSpecifier && value->FSpecifier != this) {
            TpsFileContainer* old = value->FSpecifier;
            old->FFileContainer = nullptr;
            value->FSpecifier = nullptr;
            delete old;
        }
        value->FSpecifier = this;
    }
}

void TpsFileContainer::CheckObject(TObject* obj)
{
    if (dynamic_cast<TFileContainer*>(obj) != nullptr || dynamic_cast<TCustomInstallFile*>(obj) != nullptr)
        throw IEPathSpecifier("A file container cannot reference another file container or group");
}

void TpsFileContainer::GetDescription(std::string& text)
{
    text = FFileContainer ? "Path into which " + FFileContainer->Description + " will be installed"
                          : "Path specifier for unknown file container";
}

void TpsFileContainer::GetDisplayName(std::string& text)
{
    text = FFileContainer ? "<" + FFileContainer->Description + ">" : "Path specifier for unknown file container";
}

void TpsFileContainer::GetPath(TObject* obj, std::string& path)
{
    CheckObject(obj);
    path = FFileContainer ? FFileContainer->DestinationDirectory() : std::string();
}

void TpsFileContainer::SetName(const std::string& value)
{
    if (Owner() != nullptr && CompareText(value, Name()) != 0) {
        if (TComponent* other = Owner()->FindComponent(value); other != nullptr && other != this)
            other->SetName("nameClash" + std::to_string(++GNameClashCounter));
    }
    TCustomPathSpecifier::SetName(value);
}

// ------------------------------------------------------------------ groups

TInstallGroupDialogOptions::TInstallGroupDialogOptions() : Description(new TStringList) {}

TInstallGroupDialogOptions::~TInstallGroupDialogOptions()
{
    delete Description;
}

void TInstallGroupDialogOptions::Assign(TPersistent* source)
{
    auto* other = dynamic_cast<TInstallGroupDialogOptions*>(source);
    if (other == nullptr) {
        TPersistent::Assign(source);
        return;
    }
    AllowChangeDir = other->AllowChangeDir;
    AllowExcludeInclude = other->AllowExcludeInclude;
    Description->Assign(other->Description);
    DisplayDirectory = other->DisplayDirectory;
    SmallIcon = other->SmallIcon;
    ShowRegardlessOfInclude = other->ShowRegardlessOfInclude;
}

TCustomInstallGroup::TCustomInstallGroup(TComponent* owner)
    : TFileContainer(owner), DialogOptions(new TInstallGroupDialogOptions)
{
}

TCustomInstallGroup::~TCustomInstallGroup()
{
    delete DialogOptions;
}

void TCustomInstallGroup::SetContainer(TInstallContainer* value)
{
    if (value != nullptr && dynamic_cast<TCustomInstall*>(value) == nullptr &&
        dynamic_cast<TCustomInstallGroup*>(value) == nullptr)
        throw IEInstallGroup("A TInstallGroup component can only be contained by a TInstall, or another TInstallGroup "
                             "component");
    if (value == nullptr && !Loading() && GetInstall() != nullptr)
        value = GetInstall();
    TFileContainer::SetContainer(value);
}

void TCustomInstallGroup::Loaded()
{
    TFileContainer::Loaded();
    if (FContainer == nullptr && GetInstall() != nullptr)
        SetContainer(GetInstall());
}

TInstallDirectory::TInstallDirectory(TComponent* owner) : TFileContainer(owner) {}

void TInstallDirectory::CleanUp()
{
    std::vector<TCustomInstallFile*> doomed;
    for (TInstallObject* child : FChildren)
        if (auto* file = dynamic_cast<TCustomInstallFile*>(child))
            if (!WinFileExists(file->SourcePath()))
                doomed.push_back(file);
    for (TCustomInstallFile* file : doomed)
        delete file;
}

} // namespace orvex
