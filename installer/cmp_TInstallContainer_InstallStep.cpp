// An install file at install time: the validation of its properties, the
// overwrite decision, the replacement of a destination (also one in use),
// the extraction, the registrations (help file, shared-file count,
// self-registration) and its entries for the uninstall program.
//
// A file is extracted under a temporary name beside its destination and
// renamed over it only when complete, so an abort, a full disk or a crash
// never leaves a destroyed or half-written destination. During a run the
// install component's journal keeps what was replaced, so a bad end can put
// it back.

#include "installer/cmp_TInstallContainer.h"

#include "host/SysUtils.h"
#include "host/forms/Dialogs.h"
#include "installer/cmp_TInstall.h"
#include "installer/exceptions_Dorvane.h"
#include "installer/routines_API.h"
#include "installer/routines_FileSystem.h"
#include "installer/routines_Registry.h"
#include "installer/routines_Strings.h"
#include "platform/FileIO.h"
#include "platform/VersionResource.h"
#include "platform/WinNextStart.h"
#include "platform/WinPaths.h"

#include <cstdio>
#include <memory>

namespace orvex {

namespace {

enum : int { vContainer = 1, vDestDir = 2, vDestDirType = 4, vDestName = 8, vFileName = 16, vFileType = 32,
             vIncludeFromDir = 64, vActiveX = 128 };

const char* const BlankDestText = "Cannot compress,copy, or install the following file because it's destination "
                                  "directory is blank. File is :%s";
const char* const HelpKey = "\\SOFTWARE\\Microsoft\\Windows\\Help";
const char* const SharedDLLsKey = "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

std::string UpperExt(const std::string& name)
{
    const std::string file = WinExtractFileName(name);
    const auto dot = file.rfind('.');
    return dot == std::string::npos ? std::string() : UpperCase(file.substr(dot));
}

bool IsStockSpecifier(TCustomPathSpecifier* specifier, TPathSpecifierClass cls)
{
    return specifier != nullptr && StandardPathSpecList()->HasClass(cls) &&
           StandardPathSpecList()->FindByClass(cls) == specifier;
}

TCustomPathSpecifier* StockSpecifier(TPathSpecifierClass cls)
{
    return StandardPathSpecList()->HasClass(cls) ? StandardPathSpecList()->FindByClass(cls) : nullptr;
}

void SendEvent(TCustomInstallFile* file, Integer code, TObject* parameter)
{
    if (file->Container())
        file->Container()->DoInformationEventControl(file, code, parameter);
}

TCustomInstall* RunningInstall()
{
    TCustomInstall* install = GetInstall();
    return install && install->Running() ? install : nullptr;
}

// The name beside the destination under which a file is extracted.
std::string TemporaryName(const std::string& destName)
{
    return destName + ".~tmp";
}

} // namespace

// ------------------------------------------------------------ validation

void TCustomInstallFile::Validate(int what, TInstallContainer* newContainer, TCustomPathSpecifier* newSpecifier)
{
    if (Loading())
        return;
    if ((what & vContainer) && newContainer != nullptr && dynamic_cast<TFileContainer*>(newContainer) == nullptr)
        throw IECustomInstallFile("The following TInstallFile component %s requires the Container property to be a "
                                  "component descended from the TFileContainer component",
                                  {Name()});
    if (what & (vFileName | vContainer | vIncludeFromDir)) {
        auto* container = dynamic_cast<TFileContainer*>((what & vContainer) ? newContainer : Container());
        if (container != nullptr && !FileName.empty()) {
            TCustomInstallFile* other = container->FindFileBySourcePath(SourcePath());
            if (other != nullptr && other != this)
                throw IEfcDuplicateFile("There is already a file with the name :%s", {SourcePath()});
        }
    }
    if (what & vFileName) {
        DestName = FileName;
        OriginalDestName.clear();
        if (WinFileExists(SourcePath()))
            InstallAttributes = GetDrvnFileAttributes(SourcePath());
    }
    bool typeChanged = (what & vFileType) != 0;
    if (what & (vFileName | vIncludeFromDir)) {
        const std::string ext = UpperExt(FileName);
        RegisterAsHelp = ext == ".HLP" || ext == ".CNT";
        const bool wasActiveX = FActiveX;
        FActiveX = ext == ".TLB" || ext == ".OCX" || SourceDeclaresSelfRegister();
        if (FActiveX && !wasActiveX && FileType != iftSystemWideDLL) {
            FileType = iftSystemWideDLL;
            typeChanged = true;
        }
    }
    if ((what & vDestDirType) && newSpecifier != nullptr) {
        const std::string ext = UpperExt(DestName.empty() ? FileName : DestName);
        if (ext == ".DLL" || ext == ".OCX" || ext == ".BLL" || ext == ".EXE") {
            if (IsStockSpecifier(newSpecifier, &TpsWindow::ClassInfo) ||
                IsStockSpecifier(newSpecifier, &TpsBDEDLL::ClassInfo))
                OverwriteMode = owVersionDate;
            else if (IsStockSpecifier(newSpecifier, &TpsSystem::ClassInfo) && FileType != iftSystemWideDLL) {
                FileType = iftSystemWideDLL;
                typeChanged = true;
            }
        }
    }
    if (typeChanged) {
        if (FileType == iftJustADLL || FileType == iftApplicationSpecificDLL)
            OverwriteMode = owVersionDate;
        if (FileType == iftVendorSharedDLL || FileType == iftSystemWideDLL) {
            OverwriteMode = owVersionDate;
            UpdateDLLCounter = true;
        }
        TCustomPathSpecifier* target = nullptr;
        std::string dir;
        if (FileType == iftApplicationSpecificDLL) {
            target = StockSpecifier(&TpsMainInstall::ClassInfo);
            dir = "\\System";
        } else if (FileType == iftVendorSharedDLL) {
            target = StockSpecifier(&TpsCommonFiles::ClassInfo);
            dir = "\\System";
        } else if (FileType == iftSystemWideDLL) {
            target = StockSpecifier(&TpsSystem::ClassInfo);
        }
        if (target != nullptr) {
            TFileRelated::SetDestDirType(target);
            TFileRelated::SetDestDir(dir);
        }
    }
}

void TCustomInstallFile::SetFileName(const std::string& value)
{
    const std::string old = FileName;
    FileName = value;
    try {
        Validate(vFileName, nullptr, nullptr);
    } catch (...) {
        FileName = old;
        throw;
    }
}

void TCustomInstallFile::SetIncludeFromDir(const std::string& value)
{
    const std::string old = IncludeFromDir;
    IncludeFromDir = RemoveBackSlash(value);
    try {
        Validate(vIncludeFromDir, nullptr, nullptr);
    } catch (...) {
        IncludeFromDir = old;
        throw;
    }
}

void TCustomInstallFile::SetDestName(const std::string& value)
{
    DestName = value;
    OriginalDestName.clear();
    Validate(vDestName, nullptr, nullptr);
}

void TCustomInstallFile::SetFileType(TInstallFileType value)
{
    FileType = value;
    Validate(vFileType, nullptr, nullptr);
}

void TCustomInstallFile::SetActiveX(bool value)
{
    FActiveX = value;
    Validate(vActiveX, nullptr, nullptr);
}

void TCustomInstallFile::SetContainer(TInstallContainer* value)
{
    Validate(vContainer, value, nullptr);
    TFileRelated::SetContainer(value);
}

void TCustomInstallFile::SetDestDirType(TCustomPathSpecifier* value)
{
    Validate(vDestDirType, nullptr, value);
    TFileRelated::SetDestDirType(value);
}

bool TCustomInstallFile::SourceDeclaresSelfRegister()
{
    const std::string native = NativePath(SourcePath());
    if (native.empty() || !FileExists(native))
        return false;
    TFileVersionInfo info;
    if (!info.LoadFromFile(native))
        return false;
    for (const auto& [language, codePage] : info.Translations()) {
        char block[64];
        std::snprintf(block, sizeof block, "\\StringFileInfo\\%04x%04x\\OLESelfRegister", language, codePage);
        std::string value;
        if (info.QueryValue(block, value))
            return true;
    }
    return false;
}

// ------------------------------------------------------------ installing

void TCustomInstallFile::SetState(TInstallFileState value)
{
    switch (value) {
    case ifsCompress: CompressFile(); break;
    case ifsInstall: InstallChildren(); break;
    case ifsCopying: CopyFile(); break;
    default: break;
    }
    State = ifsNone;
}

std::string TCustomInstallFile::DestinationPath()
{
    return AddBackSlash(DestinationDirectory()) + DestName;
}

void TCustomInstallFile::AbortHandler(TObject*)
{
    throw EAIUserAbort();
}

void TCustomInstallFile::InstallChildren()
{
    InUse = false;
    ToBeCopied = false;
    // A file sent to a numbered name by an earlier run goes in under its own
    // name again.
    if (!OriginalDestName.empty())
        DestName = OriginalDestName;
    OriginalDestName = DestName;
    SendEvent(this, ieBeforeInstall, this);
    try {
        if (OnBeforeInstall)
            OnBeforeInstall(this);
    } catch (const EAbort&) {
        SendEvent(this, ieSkipped, this);
        return;
    }
    const std::string destDir = DestinationDirectory();
    if (destDir.empty())
        throw IECustomInstallFile(BlankDestText, {SourcePath()});
    const std::string dest = DestinationPath();
    DestExisted = WinFileExists(dest);
    bool copy = false;
    switch (IsFileNewerByInfo(Version, dest, OverwriteMode, SourceDate)) {
    case ovrNone:
    case ovrReplace: copy = true; break;
    case ovrAsk: copy = MessageDlg(Format("Copy This File %s?", {dest}), mtConfirmation, mbYes | mbNo) == mrYes; break;
    default: break;
    }
    if (copy) {
        try {
            ReplaceExisting();
        } catch (const EAbort&) {
            copy = false;
        }
    }
    if (copy) {
        ExtractFromArchive();
        return;
    }
    SendEvent(this, ieDoneWithoutArchive, this);
    RegistrationSteps();
    if (OnAfterInstall)
        OnAfterInstall(this);
    SendEvent(this, ieInstalled, this);
    TFileRelated::InstallChildren();
}

void TCustomInstallFile::ReplaceExisting()
{
    if (OnReplacing)
        OnReplacing(this);
    InstallBroadcast(this, bmReplacing, this);
    SendEvent(this, ieReplacing, this);
    ToBeCopied = true;
    const std::string destDir = DestinationDirectory();
    const std::string dest = DestinationPath();
    // The destination is not deleted here: the extracted file is renamed over
    // it once complete. One held open by another program cannot be replaced.
    if (!WinFileExists(dest) || !WinFileInUse(dest))
        return;
    InUse = true;
    std::string numbered;
    for (int n = 1;; ++n) {
        numbered = WinChangeFileExt(DestName, "." + std::to_string(n));
        if (!WinFileExists(AddBackSlash(destDir) + numbered))
            break;
    }
    const std::string shortOriginal = GetShortPath(dest).substr(0, 400);
    DestName = numbered;
    const std::string newPath = AddBackSlash(destDir) + numbered;
    TCustomInstall* install = GetInstall();
    if (Win95Family.Contains(GetOSVersionType())) {
        const std::string winInit = GetWindowsDir() + "\\WININIT.INI";
        if (TCustomInstall* run = RunningInstall(); run && run->Journal())
            run->Journal()->Preserve(winInit);
        std::string shortFolder = GetShortPath(destDir);
        if (shortFolder.empty())
            shortFolder = destDir;
        if (!WritePrivateProfileString("Rename", shortOriginal, AddBackSlash(shortFolder) + numbered, winInit))
            throw IECustomInstallFile("%s cannot register a routine in the register to move the files after the "
                                      "computer is reboot",
                                      {Name()});
        if (install)
            install->Reboot = true;
        return;
    }
    if (install)
        install->Reboot = true;
    if (MoveFileDelayUntilReboot(newPath, shortOriginal))
        return;
    // Delayed renames refused: a batch file run once at the next start.
    const std::string batch = CreateTempFile(".bat");
    if (TCustomInstall* run = RunningInstall(); run && run->Journal())
        run->Journal()->Created(batch);
    // Our volumes keep no 8.3 names, so a "short" path may hold blanks: such
    // a path is quoted, or the command would split it.
    const auto arg = [](const std::string& path) {
        return path.find(' ') == std::string::npos ? path : "\"" + path + "\"";
    };
    const std::string text = "erase " + arg(shortOriginal) + "\r\nmove " + arg(newPath) + " " + arg(shortOriginal) + "\r\n";
    std::string nativeBatch;
    bool ok = WinPathToNative(batch, nativeBatch);
    if (ok) {
        auto file = TPlatformFile::Open(nativeBatch, TFileAccess::Write, TFileShare::DenyWrite,
                                        TFileCreate::CreateAlways);
        ok = file && file->WriteAt(0, text.data(), static_cast<std::int64_t>(text.size())) ==
                         static_cast<std::int64_t>(text.size());
    }
    try {
        if (ok && install)
            install->AddWorkItem(batch, 1);
    } catch (const Exception&) {
        ok = false;
    }
    if (!ok || !WriteRunOnceValue("DorvaneBatFile", batch, true))
        throw IECustomInstallFile("%s cannot register a routine in the register to move the files after the "
                                  "computer is reboot",
                                  {Name()});
}

std::string TCustomInstallFile::ChangeDiskStep(Integer part, const std::string& directory)
{
    TDiskParameter parameter;
    parameter.PartNumber = part;
    parameter.Folder = directory;
    TList list;
    list.Add(static_cast<TObject*>(this));
    list.Add(static_cast<TObject*>(&parameter));
    // Each request starts unanswered: the dialog that answers it marks the
    // file (every busy container on the way up relays the request again).
    Tag = 0;
    bool answered = false;
    if (OnNewDisk) {
        OnNewDisk(this, part, parameter.Folder);
        answered = true;
    }
    InstallBroadcast(this, bmNewDisk, &list);
    SendEvent(this, ieNewDisk, &list);
    answered = answered || parameter.Folder != directory;
    if (auto* container = dynamic_cast<TFileContainer*>(Container()); container && container->OnNewDisk)
        answered = true;
    // The cancel stops the archive that asked (a file's own archive, say),
    // which then stops the program's archive as it ends.
    TDrvnCompress* archive = FExtracting != nullptr ? FExtracting : MainDrvnCompress();
    if (!answered && Tag == 0) {
        if (MessageDlg(Format("Please insert disk #%d", {part}), mtInformation, mbOK | mbCancel) != mrOk)
            archive->Abort = true;
    }
    // The main archive is looked for where its disk now is, from here on.
    TCustomInstall* install = GetInstall();
    if (install != nullptr && !archive->Abort && archive == MainDrvnCompress() &&
        StandardPathSpecList()->HasClass(&TpsMainArchiveFile::ClassInfo)) {
        auto* main = dynamic_cast<TpsMainArchiveFile*>(
            StandardPathSpecList()->FindByClass(&TpsMainArchiveFile::ClassInfo));
        if (main != nullptr && !Trim(parameter.Folder).empty()) {
            main->Folder = RemoveBackSlash(parameter.Folder);
            archive->MoveToFolder(main->Folder);
        }
    }
    return parameter.Folder;
}

void TCustomInstallFile::ExtractFromArchive()
{
    TCustomInstall* install = GetInstall();
    TDrvnCompress* compress = MainDrvnCompress();
    std::unique_ptr<TDrvnCompress> own;
    std::string archive;
    if (DownloadedArchiveAvailable())
        archive = LocalArchive;
    const bool network = install && (install->DistributeType() == dtWeb ||
                                      (install->DistributeType() == dtTraditionalNet && Net()));
    if (network) {
        if (HasOwnNetArchive()) {
            DownloadArchive();
            archive = LocalArchive;
        } else if (auto* container = dynamic_cast<TFileRelated*>(Container())) {
            if (!container->DownloadedArchiveAvailable())
                container->DownloadArchive();
            archive = container->LocalArchive;
        }
        own = std::make_unique<TDrvnCompress>(nullptr);
        compress = own.get();
    } else {
        if (archive.empty())
            archive = ArchivePath();
        if (!(install && archive == install->ArchivePath())) {
            own = std::make_unique<TDrvnCompress>(nullptr);
            compress = own.get();
        }
    }
    State = ifsInstall;
    const std::string destDir = DestinationDirectory();
    const std::string temp = AddBackSlash(destDir) + TemporaryName(DestName);
    try {
        if (TCustomInstall* run = RunningInstall(); run && run->Journal())
            run->Journal()->BeforeCreateFolder(destDir);
        ForceDirectories(NativePath(destDir));
        if (archive.empty())
            throw IECustomInstallFile("Cannot either compress or decompress the following file because it's archive "
                                      "file property is blank. File is :%s",
                                      {SourcePath()});
        compress->SetCompressedFile(archive);
        compress->ExtractDirectory = destDir;
        compress->DestinationName = TemporaryName(DestName);
        compress->Overwrite = OverwriteMode;
        compress->OnAborted = [this](TObject* sender) { AbortHandler(sender); };
        compress->OnNewDisk = [this](TObject*, Integer part, std::string& directory) {
            directory = ChangeDiskStep(part, directory);
        };
        compress->OnStatus = [this](TObject*, const TDrvnCompressStatus& status) { StatusStep(status); };
        compress->FilesToProcess()->Clear();
        compress->FilesToProcess()->Add(SourcePath());
        // A run stopped while the file is extracted leaves no partial file.
        if (TCustomInstall* run = RunningInstall(); run && run->Journal())
            run->Journal()->Temporary(temp);
        if (WinFileExists(temp))
            WinDeleteFile(temp);
        FExtracting = compress;
        compress->Extract();
        FExtracting = nullptr;
        if (compress->Abort)
            throw EAIUserAbort();
        // The complete file goes over the destination in one rename.
        const std::string dest = DestinationPath();
        TCustomInstall* run = RunningInstall();
        if (run && run->Journal())
            run->Journal()->BeforeReplace(dest);
        std::uint32_t error = 0;
        if (!WinReplaceFile(temp, dest, &error))
            throw IECustomInstallFile("Cannot create the file %s", {dest});
        RegistrationSteps();
        if (OnAfterInstall)
            OnAfterInstall(this);
        SendEvent(this, ieInstalled, this);
        TFileRelated::InstallChildren();
    } catch (...) {
        FExtracting = nullptr;
        const bool stopped = compress->Abort;
        compress->OnAborted = nullptr;
        compress->OnNewDisk = nullptr;
        compress->OnStatus = nullptr;
        compress->DestinationName.clear();
        if (WinFileExists(temp))
            DeleteFile(NativePath(temp));
        if (stopped)
            MainDrvnCompress()->Abort = true;
        State = ifsNone;
        InstallBroadcast(this, bmEndCopy, nullptr);
        throw;
    }
    const bool stopped = compress->Abort;
    compress->OnAborted = nullptr;
    compress->OnNewDisk = nullptr;
    compress->OnStatus = nullptr;
    compress->DestinationName.clear();
    if (stopped)
        MainDrvnCompress()->Abort = true;
    InstallBroadcast(this, bmEndCopy, nullptr);
    State = ifsNone;
}

void TCustomInstallFile::RegistrationSteps()
{
    const std::string destDir = DestinationDirectory();
    const std::string name = OriginalDestName.empty() ? DestName : OriginalDestName;
    if (RegisterAsHelp)
        WriteRegString(HKEY_LOCAL_MACHINE, HelpKey, UpperCase(name), destDir);
    if (UpdateDLLCounter) {
        try {
            IncrementSharedCount();
        } catch (const IECustomInstallFile&) {
            throw;
        } catch (const Exception&) {
            throw IECustomInstallFile("Cannot update the DLL count for the following file :%s:",
                                      {AddBackSlash(destDir) + name});
        }
    }
    if (InUse) {
        if (TCustomInstall* install = GetInstall())
            install->AddWorkItem(Name(), 0);
        return;
    }
    if (!FActiveX)
        return;
    TCustomInstall* run = RunningInstall();
    if (run == nullptr) {
        SelfRegister();
        return;
    }
    try {
        SelfRegister();
    } catch (const EAIUserAbort&) {
        throw;
    } catch (const Exception&) {
        run->RetryRegistrations.push_back(this);
    }
}

void TCustomInstallFile::IncrementSharedCount()
{
    const std::string name = OriginalDestName.empty() ? DestName : OriginalDestName;
    const std::string longPath = AddBackSlash(DestinationDirectory()) + name;
    std::string shortPath = GetShortPath(longPath);
    TRegistry registry;
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    if (!registry.OpenKey(SharedDLLsKey, true))
        throw IECustomInstallFile("Could not open the key SharedDLLs key in the registry. File component %s. "
                                  "GetLastError return: %d",
                                  {Name(), 5});
    if (!shortPath.empty() && registry.ValueExists(shortPath) && registry.GetDataType(shortPath) == rdInteger) {
        registry.WriteInteger(shortPath, registry.ReadInteger(shortPath) + 1);
        return;
    }
    Integer count = 0;
    if (registry.ValueExists(longPath) && registry.GetDataType(longPath) == rdInteger)
        count = registry.ReadInteger(longPath);
    registry.WriteInteger(longPath, count + 1);
}

void TCustomInstallFile::SelfRegister()
{
    const std::string destDir = DestinationDirectory();
    if (destDir.empty())
        throw IECustomInstallFile(BlankDestText, {SourcePath()});
    const std::string path = DestinationPath();
    const std::string ext = UpperExt(DestName);
    const std::string saved = GetCurrentDirectory();
    SetCurrentDirectory(destDir);
    std::uint32_t error = 0;
    bool ok = false;
    if (ext == ".EXE")
        ok = SelfRegisterProgram(path, &error);
    else if (ext == ".TLB")
        ok = RegisterTypeLibrary(path, destDir, &error);
    else
        ok = SelfRegisterLibrary(path, &error);
    SetCurrentDirectory(saved);
    if (ok)
        return;
    if (ext == ".EXE")
        throw EProgramLauncherFailed("File not found", static_cast<Integer>(error));
    if (ext == ".TLB")
        throw EAPIRoutines(Format("Error loading type library/DLL. %s", {path}));
    throw IECustomInstallFile("Could not register the ActiveX component, %s, because the LoadLibrary(%s) procedure "
                              "returned a value of 0. The file component is %s. The following value is the value "
                              "of the GetLastError function: %d",
                              {path, path, Name(), static_cast<Integer>(error)});
}

void TCustomInstallFile::CompleteAfterReboot()
{
    if (!OriginalDestName.empty())
        DestName = OriginalDestName;
    if (FActiveX)
        SelfRegister();
    SetDrvnFileAttributes(DestinationPath(), InstallAttributes);
}

void TCustomInstallFile::WriteUninstallInfo(const std::string& keyPath)
{
    const std::string name = OriginalDestName.empty() ? DestName : OriginalDestName;
    const std::string path = AddBackSlash(DestinationDirectory()) + name;
    if (FActiveX) {
        const std::string key = keyPath + "\\ActiveX";
        const Integer n = StrToIntDef(ReadRegString(HKEY_LOCAL_MACHINE, key, "Entries", "0"), 0) + 1;
        const std::string ext = UpperExt(name);
        const char* kind = ext == ".TLB" ? "2" : ext == ".EXE" ? "0" : "1";
        WriteRegString(HKEY_LOCAL_MACHINE, key, "File" + std::to_string(n), path + ";" + kind);
        WriteRegString(HKEY_LOCAL_MACHINE, key, "Entries", std::to_string(n));
        return;
    }
    for (int suffix = 0;; ++suffix) {
        const std::string key = keyPath + "\\Files" + (suffix == 0 ? std::string() : std::to_string(suffix));
        try {
            const Integer n = StrToIntDef(ReadRegString(HKEY_LOCAL_MACHINE, key, "Entries", "0"), 0) + 1;
            WriteRegString(HKEY_LOCAL_MACHINE, key, "File" + std::to_string(n), path);
            WriteRegString(HKEY_LOCAL_MACHINE, key, "Entries", std::to_string(n));
            return;
        } catch (const EIRCannotWriteValue&) {
            if (suffix >= 100)
                throw;
        }
    }
}

} // namespace orvex
