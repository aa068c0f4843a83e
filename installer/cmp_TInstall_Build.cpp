// Build mode ("-b"): the archives "files.1" and "setup.1", the self-extracting
// "setup.exe" closed by its 56-byte trailer, and "filelist.lst" for network
// distribution; and the transfer of a self-extracting setup onto removable
// disks ("-f").

#include "installer/cmp_TInstall.h"

#include "host/SysUtils.h"
#include "host/forms/Dialogs.h"
#include "host/forms/Forms.h"
#include "installer/cmp_TNetInstallLocation.h"
#include "installer/exceptions_Dorvane.h"
#include "installer/routines_API.h"
#include "installer/routines_FileSystem.h"
#include "installer/routines_Registry.h"
#include "installer/routines_Strings.h"
#include "platform/FileIO.h"
#include "platform/WinPaths.h"

#include <cstring>
#include <fstream>
#include <vector>

namespace orvex {

namespace {

constexpr int CopyBlock = 8192;

void PutInt32(std::uint8_t* p, Integer v)
{
    const auto u = static_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(u >> (8 * i));
}

Integer GetInt32(const std::uint8_t* p)
{
    std::uint32_t u = 0;
    for (int i = 3; i >= 0; --i)
        u = (u << 8) | p[i];
    return static_cast<Integer>(u);
}

std::unique_ptr<TPlatformFile> OpenWinFile(const std::string& winPath, TFileAccess access, TFileCreate create)
{
    std::string native;
    if (!WinPathToNative(winPath, native))
        return nullptr;
    return TPlatformFile::Open(native, access, access == TFileAccess::Read ? TFileShare::DenyNone
                                                                           : TFileShare::DenyWrite,
                               create);
}

// Appends count bytes of source from offset to dest at its end, in blocks;
// false when a read or a write falls short. stop is asked after each block.
bool AppendRange(TPlatformFile* source, std::int64_t offset, std::int64_t count, TPlatformFile* dest,
                 const std::function<void()>& afterBlock = nullptr)
{
    std::vector<std::uint8_t> buffer(CopyBlock);
    std::int64_t at = dest->Size();
    while (count > 0) {
        const std::int64_t want = std::min<std::int64_t>(CopyBlock, count);
        if (source->ReadAt(offset, buffer.data(), want) != want)
            return false;
        if (dest->WriteAt(at, buffer.data(), want) != want)
            return false;
        offset += want;
        at += want;
        count -= want;
        if (afterBlock)
            afterBlock();
    }
    return true;
}

bool AppendFile(const std::string& sourceWin, TPlatformFile* dest)
{
    auto source = OpenWinFile(sourceWin, TFileAccess::Read, TFileCreate::OpenExisting);
    return source && AppendRange(source.get(), 0, source->Size(), dest);
}

} // namespace

void EncodeSelfExtractTrailer(const TSelfExtractTrailer& trailer, std::uint8_t* bytes)
{
    std::memset(bytes, 0, SelfExtractTrailerSize);
    const std::size_t length = std::min<std::size_t>(trailer.Signature.size(), 15);
    bytes[0] = static_cast<std::uint8_t>(length);
    std::memcpy(bytes + 1, trailer.Signature.data(), length);
    PutInt32(bytes + 16, trailer.SetupFirst);
    PutInt32(bytes + 20, trailer.SetupLast);
    PutInt32(bytes + 24, trailer.MainFirst);
    PutInt32(bytes + 28, trailer.MainLast);
}

bool DecodeSelfExtractTrailer(const std::uint8_t* bytes, TSelfExtractTrailer& trailer)
{
    if (bytes[0] > 15)
        return false;
    trailer.Signature.assign(reinterpret_cast<const char*>(bytes + 1), bytes[0]);
    trailer.SetupFirst = GetInt32(bytes + 16);
    trailer.SetupLast = GetInt32(bytes + 20);
    trailer.MainFirst = GetInt32(bytes + 24);
    trailer.MainLast = GetInt32(bytes + 28);
    return true;
}

TSelfExtractTrailer TCustomInstall::ReadSelfExtractTrailer(const std::string& file)
{
    const auto fail = [&] {
        return IEInstall("Could not read the extraction info from the archive file %s when trying to find the "
                         "correct offset into the self extracting file",
                         {file});
    };
    auto handle = OpenWinFile(file, TFileAccess::Read, TFileCreate::OpenExisting);
    if (!handle)
        throw fail();
    const std::int64_t size = handle->Size();
    std::uint8_t bytes[SelfExtractTrailerSize];
    TSelfExtractTrailer trailer;
    if (size < SelfExtractTrailerSize ||
        handle->ReadAt(size - SelfExtractTrailerSize, bytes, SelfExtractTrailerSize) != SelfExtractTrailerSize ||
        !DecodeSelfExtractTrailer(bytes, trailer))
        throw fail();
    // The positions must lie inside the file before the trailer.
    const std::int64_t body = size - SelfExtractTrailerSize;
    const auto inside = [&](Integer first, Integer last) {
        return first >= 0 && last >= -1 && (first == 0 && last == 0 ? true : first <= last + 1 && last < body);
    };
    if (!inside(trailer.SetupFirst, trailer.SetupLast) || !inside(trailer.MainFirst, trailer.MainLast))
        throw fail();
    return trailer;
}

std::string TCustomInstall::LibraryFolder()
{
    const std::string search =
        ReadRegString(HKEY_CURRENT_USER, "\\Software\\Borland\\Delphi\\5.0\\Library", "Search Path", "");
    const std::string root = ReadRegString(HKEY_LOCAL_MACHINE, "\\Software\\Borland\\Delphi\\5.0", "RootDir", "");
    const int count = TokenCount(search, ';');
    for (int i = 1; i <= count; ++i) {
        std::string item = GetToken(search, ';', i);
        item = StringReplace(item, "$(DELPHI)", root, rfReplaceAll | rfIgnoreCase);
        item = StringReplace(item, "$(BCB)", root, rfReplaceAll | rfIgnoreCase);
        item = RemoveBackSlash(Trim(item));
        if (!item.empty() && WinFileExists(item + "\\K19R08.TXT"))
            return item;
    }
    throw IENoDorvanePath("Cannot find the the Dorvane directory on the VCL library search path");
}

void TCustomInstall::BuildSetupArchive(const std::string& executable, const std::string& buildFolder)
{
    if (Trim(executable).empty())
        throw IEInstall("Cannot create setup file. Executable is blank");
    if (!WinFileExists(executable))
        throw IEInstall("TInstall: Cannot find the executable file %s", {executable});
    TDrvnCompress archive(nullptr);
    archive.SetCompressedFile(AddBackSlash(buildFolder) + "setup.1");
    try {
        archive.FilesToProcess()->Add(executable);
        archive.Compress(false, 0);
        for (int i = 0; i < FPresetupFiles->Count(); ++i) {
            archive.FilesToProcess()->Add(FPresetupFiles->Get(i));
            archive.Compress(true, i + 1);
        }
    } catch (const EdcDiskFull&) {
        throw IEInstall("The disk that you have specified has been determined to be either too full or is corrupt "
                        "while trying to copy the SETUP.1 archive file. You should probably clear all files off of "
                        "the drive. Minimally, you should leave enough space on the drive for the SETUP.1 archive "
                        "file.");
    }
}

void TCustomInstall::WriteTrailer(const std::string& exe, const TSelfExtractTrailer& trailer)
{
    auto file = OpenWinFile(exe, TFileAccess::ReadWrite, TFileCreate::OpenExisting);
    std::uint8_t bytes[SelfExtractTrailerSize];
    EncodeSelfExtractTrailer(trailer, bytes);
    if (!file || file->WriteAt(file->Size(), bytes, SelfExtractTrailerSize) != SelfExtractTrailerSize)
        throw IEInstall("Cannot add the self-extract info header to %s", {exe});
}

void TCustomInstall::Build(const std::string& executable, const std::string& buildFolder, bool selfExtracting)
{
    if (selfExtracting && !FUseLoadingProgram)
        throw IEInstall("Cannot build a stand alone executable if the UseLoadingProgram property of the TInstall is "
                        "set to False");
    const std::string folder = RemoveBackSlash(buildFolder);
    ForceDirectories(NativePath(folder));
    std::string target;
    if (FUseLoadingProgram) {
        BuildSetupArchive(executable, folder);
        std::string library;
        try {
            library = LibraryFolder();
        } catch (const IENoDorvanePath&) {
            throw IEInstall("The HKEY_LOCAL_MACHINE | %s key in the registry is either missing or points to an "
                            "invalid Kelm directory",
                            {"\\Software\\Nadro\\K19R08"});
        }
        const std::string loader = library + "\\DorvaneLoadProgram.exe";
        target = folder + "\\setup.exe";
        if (!WinFileExists(loader))
            throw IEInstall("The loader program %s was not found", {loader});
        if (!CopyFile(NativePath(loader), NativePath(target), false))
            throw IEInstall("Cannot copy the loading program from %s to %s", {loader, target});
    } else {
        target = folder + "\\" + WinExtractFileName(executable);
        if (!CopyFile(NativePath(executable), NativePath(target), false))
            throw IEInstall("Cannot copy the installation application from %s to %s", {executable, target});
    }
    // Compress the tree into files.1 in the build folder.
    TInstallContainerList* list = InstallContainerList();
    for (int i = 0; i < list->Count(); ++i)
        if (auto* file = dynamic_cast<TCustomInstallFile*>(list->Get(i)))
            file->ArchiveState = 0;
    const std::string filesArchive = folder + "\\files.1";
    TCustomPathSpecifier* savedType = ArchiveFileType();
    const std::string savedFile = ArchiveFile();
    Integer options = 2 | 4 | 32;
    if (FDistributeType == dtTraditional)
        options |= 8;
    else if (FDistributeType == dtWeb)
        options |= 16;
    SetArchiveFileType(nullptr);
    SetArchiveFile(filesArchive);
    try {
        Compress(options);
    } catch (...) {
        SetArchiveFileType(savedType);
        SetArchiveFile(savedFile);
        throw;
    }
    SetArchiveFileType(savedType);
    SetArchiveFile(savedFile);
    if (FDistributeType != dtTraditional)
        WriteFileList(filesArchive);

    TSelfExtractTrailer trailer;
    if (!selfExtracting) {
        trailer.Signature = "NOTSELFEXTRACT";
        WriteTrailer(target, trailer);
        return;
    }
    auto exe = OpenWinFile(target, TFileAccess::ReadWrite, TFileCreate::OpenExisting);
    const std::string setup1 = folder + "\\setup.1";
    if (!exe)
        throw IEInstall("Cannot create the self-extracting exe because %s could not be loaded onto %s", {setup1, target});
    trailer.Signature = "SELFEXTRACTING";
    trailer.SetupFirst = static_cast<Integer>(exe->Size());
    if (!AppendFile(setup1, exe.get()))
        throw IEInstall("Cannot create the self-extracting exe because %s could not be loaded onto %s", {setup1, target});
    trailer.SetupLast = static_cast<Integer>(exe->Size() - 1);
    if (WinFileExists(filesArchive)) {
        trailer.MainFirst = static_cast<Integer>(exe->Size());
        if (!AppendFile(filesArchive, exe.get()))
            throw IEInstall("Cannot create the self-extracting exe because %s could not be loaded onto %s",
                            {filesArchive, target});
        trailer.MainLast = static_cast<Integer>(exe->Size() - 1);
    }
    std::uint8_t bytes[SelfExtractTrailerSize];
    EncodeSelfExtractTrailer(trailer, bytes);
    if (exe->WriteAt(exe->Size(), bytes, SelfExtractTrailerSize) != SelfExtractTrailerSize)
        throw IEInstall("Cannot create the self-extracting exe because %s could not be loaded onto %s", {setup1, target});
}

void TCustomInstall::WriteFileList(const std::string& mainArchive)
{
    // Beside the network archives: the main archive's folder followed by the
    // network folder.
    std::string folder = RemoveBackSlash(WinExtractFileDir(mainArchive));
    if (NetLocation() != nullptr)
        folder += "\\" + NetworkFolder(NetLocation());
    ForceDirectories(NativePath(folder));
    std::vector<TCustomInstallFile*> files;
    TInstallContainerList* list = InstallContainerList();
    for (int i = 0; i < list->Count(); ++i)
        if (auto* file = dynamic_cast<TCustomInstallFile*>(list->Get(i)); file && file->ArchiveState != 0)
            files.push_back(file);
    std::string data(4 + 80 * files.size(), '\0');
    auto* p = reinterpret_cast<std::uint8_t*>(data.data());
    PutInt32(p, static_cast<Integer>(files.size()));
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::uint8_t* e = p + 4 + 80 * i;
        PutInt32(e, static_cast<Integer>(files[i]->SourceSize));
        double date = files[i]->SourceDate;
        std::uint64_t bits = 0;
        std::memcpy(&bits, &date, 8);
        for (int b = 0; b < 8; ++b)
            e[8 + b] = static_cast<std::uint8_t>(bits >> (8 * b));
        const std::string name = files[i]->Name().substr(0, 39);
        std::memcpy(e + 16, name.data(), name.size());
        const std::string version = files[i]->Version.substr(0, 20);
        std::memcpy(e + 56, version.data(), version.size());
    }
    auto file = OpenWinFile(AddBackSlash(folder) + "filelist.lst", TFileAccess::Write, TFileCreate::CreateAlways);
    if (!file || file->WriteAt(0, data.data(), static_cast<std::int64_t>(data.size())) !=
                     static_cast<std::int64_t>(data.size()))
        throw IEInstall("Cannot create the file %s", {AddBackSlash(folder) + "filelist.lst"});
}

void TCustomInstall::ApplyFileList(const std::string& data, const std::string& name)
{
    const auto* p = reinterpret_cast<const std::uint8_t*>(data.data());
    if (data.size() < 4)
        throw IEInstall("Cannot read the remote list of files: %s", {name});
    const Integer count = GetInt32(p);
    if (count < 0 || static_cast<std::uint64_t>(count) * 80 + 4 > data.size())
        throw IEInstall("Cannot read the remote list of files: %s", {name});
    TInstallContainerList* list = InstallContainerList();
    for (Integer i = 0; i < count; ++i) {
        const std::uint8_t* e = p + 4 + 80 * static_cast<std::size_t>(i);
        const std::string component(reinterpret_cast<const char*>(e + 16), strnlen(reinterpret_cast<const char*>(e + 16), 40));
        const std::string version(reinterpret_cast<const char*>(e + 56), strnlen(reinterpret_cast<const char*>(e + 56), 21));
        std::uint64_t bits = 0;
        for (int b = 7; b >= 0; --b)
            bits = (bits << 8) | e[8 + b];
        double date = 0;
        std::memcpy(&date, &bits, 8);
        for (int j = 0; j < list->Count(); ++j)
            if (auto* file = dynamic_cast<TCustomInstallFile*>(list->Get(j));
                file && CompareText(file->Name(), component) == 0) {
                file->SourceSize = GetInt32(e);
                file->SourceDate = date;
                file->Version = version;
                file->InfoRead = true;
            }
    }
}

void TCustomInstall::BuildFromBuildInf()
{
    try {
        const std::string folder = BuildInfFolder.empty() ? ProgramFolder() : BuildInfFolder;
        const std::string inf = AddBackSlash(folder) + "BUILD.INF";
        if (!WinFileExists(inf))
            throw IEInstall("Need to have a BUILD.INF file in this directory with the first line specifying the build "
                            "directory");
        std::ifstream in(NativePath(inf), std::ios::binary);
        std::string line;
        if (!std::getline(in, line) || Trim(line).empty())
            throw IEInstall("Must be 1 line in BUILD.INF. This line should specify the build directory");
        Build(ProgramPath, Trim(line), true);
    } catch (Exception& e) {
        Application->ShowException(e);
    }
}

void TCustomInstall::TransferToFloppies()
{
    try {
        if (!StartedBySelfExtractor)
            throw IEInstall("Sorry... You can only transfer this installation to floppies through the "
                            "self-extracting file. Usage example: setup.exe *TODISK");
        const std::string exeName = AddBackSlash(SourceDirectory) + SelfExtractorName;
        const TSelfExtractTrailer trailer = ReadSelfExtractTrailer(exeName);
        PushStatusText("Transferring this installation to floppies. Please wait...");
        auto source = OpenWinFile(exeName, TFileAccess::Read, TFileCreate::OpenExisting);
        if (!source)
            throw IEInstall("Could not read the extraction info from the archive file %s when trying to find the "
                            "correct offset into the self extracting file",
                            {exeName});
        const std::string floppy = RemoveBackSlash(FloppyFolder);
        {
            auto setup = OpenWinFile(floppy + "\\setup.exe", TFileAccess::ReadWrite, TFileCreate::CreateAlways);
            TSelfExtractTrailer plain;
            plain.Signature = "NOTSELFEXTRACT";
            std::uint8_t bytes[SelfExtractTrailerSize];
            EncodeSelfExtractTrailer(plain, bytes);
            if (!setup || !AppendRange(source.get(), 0, trailer.SetupFirst, setup.get()) ||
                setup->WriteAt(setup->Size(), bytes, SelfExtractTrailerSize) != SelfExtractTrailerSize)
                throw IEInstall("Cannot create setup.exe on the A drive. Probably not enough room");
        }
        {
            auto setup1 = OpenWinFile(floppy + "\\setup.1", TFileAccess::ReadWrite, TFileCreate::CreateAlways);
            TDrvnCompress* compress = MainDrvnCompress();
            compress->Abort = false;
            const auto stop = [compress] {
                Application->ProcessMessages();
                if (compress->Abort)
                    throw EUserAbortInstall();
            };
            if (!setup1 || !AppendRange(source.get(), trailer.SetupFirst,
                                        static_cast<std::int64_t>(trailer.SetupLast) - trailer.SetupFirst + 1,
                                        setup1.get(), stop))
                throw IEInstall("Cannot create setup.1 on the A drive. Probably not enough room");
        }
        if (trailer.MainFirst > 0) {
            TDrvnCompress split(nullptr);
            split.SetCompressedFile(exeName);
            split.Offset = trailer.MainFirst;
            split.OnNewDisk = [floppy](TObject*, Integer part, std::string& directory) {
                if (MessageDlg(Format("Please insert disk %d", {part}), mtInformation, mbOK | mbCancel) != mrOk)
                    throw IEInstall("Aborted by user");
                directory = floppy;
            };
            split.SplitToDisks(floppy, "files.1");
        }
        PopStatusText();
    } catch (Exception& e) {
        Application->ShowException(e);
    }
}

} // namespace orvex
