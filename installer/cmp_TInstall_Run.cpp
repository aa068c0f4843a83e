// The install run: the command line, the install record, the phases, the
// good, bad and reboot ends, the work left for the next start and the
// removal of the setup's temporary files.

#include "installer/cmp_TInstall.h"

#include "host/DateUtils.h"
#include "host/SysUtils.h"
#include "host/forms/Dialogs.h"
#include "host/forms/Backend.h"
#include "host/forms/Forms.h"
#include "installer/cmp_TDrvnRegistry.h"
#include "installer/cmp_TNetInstallLocation.h"
#include "installer/cmp_TProgramLauncher.h"
#include "installer/cmp_TTranslator.h"
#include "installer/exceptions_Dorvane.h"
#include "installer/routines_API.h"
#include "installer/routines_FileSystem.h"
#include "installer/routines_Registry.h"
#include "installer/routines_Strings.h"
#include "platform/FileIO.h"
#include "platform/Process.h"
#include "platform/WinNextStart.h"
#include "platform/WinPaths.h"

#include <cctype>
#include <cmath>
#include <cstring>
#include <fstream>

namespace orvex {

namespace {

const char* const RecordRoot = "\\SOFTWARE\\Kelm\\Install";
const char* const UnfinishedText = "The TInstall could not either write or read unfinished business from the registry";

std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

// Whether path lies inside folder (both Windows form).
bool IsInside(const std::string& path, const std::string& folder)
{
    std::string p, f;
    if (!ExpandWinPath(path, p) || !ExpandWinPath(folder, f) || f.empty())
        return false;
    f = AddBackSlash(f);
    return p.size() > f.size() && CompareWinNames(p.substr(0, f.size()), f) == 0;
}

} // namespace

void TCustomInstall::InitRunState()
{
    ProgramPath = NativeToWinPath(ProgramFileName());
    if (!IsDesigning)
        Application->OnException = [this](TObject* sender, Exception& e) { HandleRunException(sender, e); };
}

void TCustomInstall::DoneRunState()
{
    if (!IsDesigning)
        Application->OnException = nullptr;
    if (FJournal.Active())
        FJournal.Commit();
    if (FRunForm != nullptr && FActivated == false && FFormActivate)
        FRunForm->OnActivate = FFormActivate;
}

// ------------------------------------------------------------ properties

void TCustomInstall::SetAutoMaximizeWindow(bool value)
{
    FAutoMaximizeWindow = value;
    if (value)
        FHideMainForm = false;
}

void TCustomInstall::SetHideMainForm(bool value)
{
    FHideMainForm = value;
    if (value)
        FAutoMaximizeWindow = false;
}

void TCustomInstall::SetUseLoadingProgram(bool value)
{
    FUseLoadingProgram = value;
    if (value && StandardPathSpecList()->HasClass(&TpsMainArchiveFile::ClassInfo)) {
        SetArchiveFileType(StandardPathSpecList()->FindByClass(&TpsMainArchiveFile::ClassInfo));
        SetArchiveFile("");
    }
}

void TCustomInstall::SetPresetupFiles(TStrings* value)
{
    FPresetupFiles->Clear();
    for (int i = 0; i < value->Count(); ++i)
        if (!Trim(value->Get(i)).empty())
            FPresetupFiles->Add(value->Get(i));
}

std::string TCustomInstall::ProgramFolder() const
{
    return RemoveBackSlash(WinExtractFileDir(ProgramPath));
}

// ------------------------------------------------------ the command line

void TCustomInstall::ReadCommandLine()
{
    OptBuild = OptFloppies = OptDebug = OptAfterReboot = OptCleanup = OptClearUnfinished = false;
    StartedBySelfExtractor = false;
    SelfExtractorName.clear();
    OptSource.clear();
    for (const std::string& parameter : CommandLine) {
        const auto invalid = [&] {
            return IEInstall("Invalid parameter <%s>. Valid command line parameters are: -b (Build), -d (Debug), "
                             "-f (Transfer to floppies), -e (Called by self-extractor), -r (After reboot)",
                             {parameter});
        };
        if (parameter.size() < 2 || (parameter[0] != '-' && parameter[0] != '*'))
            throw invalid();
        const std::string value = parameter.substr(2);
        switch (std::tolower(static_cast<unsigned char>(parameter[1]))) {
        case 'b': OptBuild = true; break;
        case 'f': OptFloppies = true; break;
        case 'd': OptDebug = true; break;
        case 'e':
            StartedBySelfExtractor = true;
            SelfExtractorName = value;
            break;
        case 'r': OptAfterReboot = true; break;
        case 's': OptSource = value; break;
        case 'c': OptCleanup = true; break;
        case 'n': OptClearUnfinished = true; break;
        default:
            if (parameter[0] == '-')
                throw invalid();
        }
    }
}

// ------------------------------------------------------------ loading

void TCustomInstall::Loaded()
{
    TFileContainer::Loaded();
    if (IsDesigning)
        return;
    ReadCommandLine();
    if (OptDebug && Trim(OptSource).empty())
        throw IEInstall("You forgot to pass in the build directory. In Run | Parameters, follow this format: -d "
                        "\"-sC:\\My Build\"");
    SourceDirectory = !OptSource.empty() ? RemoveBackSlash(OptSource) : ProgramFolder();
    std::string key;
    if (FindInstallRecord(false, key))
        RecordKeyPath = key;
    DownloadedArchiveAvailable();
    FRunForm = Application->MainForm();
    if (FRunForm == nullptr)
        FRunForm = dynamic_cast<TCustomForm*>(Owner());
    if (FRunForm == nullptr && RunAutomatic)
        throw IEInstall("Application.MainForm is undefined and the TInstall is not on a form. Therefore, therefore "
                        "the TInstall can't run the installation automatically");
    SetChosenInstallTypeTree(itFull);
    if (InstallTypes().Contains(itDefault))
        SetChosenInstallTypeTree(itDefault);
    else if (InstallTypes().Contains(itCompact))
        SetChosenInstallTypeTree(itCompact);
    if (OptBuild) {
        BuildFromBuildInf();
        Application->Terminate();
        return;
    }
    if (OptFloppies) {
        TransferToFloppies();
        Application->Terminate();
        return;
    }
    if (OptAfterReboot) {
        CompleteAfterReboot();
        return;
    }
    if (FRunForm != nullptr) {
        FFormActivate = FRunForm->OnActivate;
        FRunForm->OnActivate = [this](TObject*) { FirstActivation(); };
        if (FHideMainForm)
            FRunForm->SetBounds(-2 * FRunForm->Width(), -2 * FRunForm->Height(), FRunForm->Width(),
                                FRunForm->Height());
    }
}

void TCustomInstall::FirstActivation()
{
    if (FActivated)
        return;
    FActivated = true;
    if (FFormActivate)
        FFormActivate(FRunForm);
    if (FAutoMaximizeWindow && FRunForm != nullptr) {
        const TSize screen = FormsBackend().ScreenSize();
        FRunForm->SetBounds(0, 0, screen.cx, screen.cy);
        FRunForm->Repaint();
    }
    if (RunAutomatic) {
        if (FRunForm != nullptr)
            FRunForm->OnActivate = FFormActivate;
        Install();
    }
}

// ------------------------------------------------------------ the run

void TCustomInstall::ReadInfoFromArchive()
{
    if (FArchiveInfoRead)
        return;
    TFileContainer::ReadInfoFromArchive();
    FArchiveInfoRead = true;
}

void TCustomInstall::ReadArchiveInformation()
{
    if (OnBeforeReadArchiveInfo)
        OnBeforeReadArchiveInfo(this);
    InstallBroadcast(this, bmBeforeReadArchive, nullptr);
    PushStatusText("Reading file information...");
    const TCursor saved = Screen->Cursor();
    Screen->SetCursor(crHourGlass);
    try {
        ReadInfoFromArchive();
        // Under network distribution the list of files comes from the server.
        if (FDistributeType != dtTraditional && NetLocation() != nullptr) {
            const std::string local = CreateTempFile(".lst");
            try {
                NetLocation()->Download("filelist.lst", local);
            } catch (...) {
                DeleteFile(NativePath(local));
                throw;
            }
            std::ifstream in(NativePath(local), std::ios::binary);
            const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            in.close();
            DeleteFile(NativePath(local));
            ApplyFileList(data, local);
        }
    } catch (...) {
        Screen->SetCursor(saved);
        PopStatusText();
        throw;
    }
    Screen->SetCursor(saved);
    PopStatusText();
    if (OnAfterReadArchiveInfo)
        OnAfterReadArchiveInfo(this);
    InstallBroadcast(this, bmAfterReadArchive, nullptr);
}

void TCustomInstall::Install()
{
    try {
        Reboot = false;
        FBadEnd = false;
        UserAborted = false;
        FArchiveInfoRead = false;
        FWorkItems = 0;
        StartTime = Now();
        RetryRegistrations.clear();
        MainDrvnCompress()->Abort = false;
        FRunning = true;
        if (FUseLoadingProgram && OptSource.empty())
            throw IEInstall("The path of the loading program was not passed correctly. If you are running your "
                            "install project in the IDE, then you need to add two command line parameters. In Run | "
                            "Parameters | \"Run Parameters\", type in: -d \"-sBUILDPATH\" where BUILDPATH is the "
                            "path into which you built the distributables. Example: -d \"-sC:\\My Build\".");
        // "-n" without a record has nothing to clear.
        if (OptClearUnfinished && !RecordKeyPath.empty())
            ClearUnfinished();
        // What a killed run of this setup left behind is undone first.
        const TInstallJournal::TPathCheck check = [this](const std::string& path) { return IsRunPath(path); };
        if (!RecordKeyPath.empty())
            TInstallJournal::Recover(RecordKeyPath, check);
        // A new record is made with the name of this run's journal in it, so
        // that a run killed at any moment after it is known as unfinished.
        FJournalName = TInstallJournal::NewName();
        FRecordCreated = false;
        std::string key;
        FindInstallRecord(true, key);
        if (!FRecordCreated && CompareWinNames(key, RecordKeyPath) != 0)
            TInstallJournal::Recover(key, check);
        RecordKeyPath = key;
        FJournal.Start(key, check, FJournalName);
        FJournalName.clear();
        ClearUnfinished();
        if (StartedBySelfExtractor) {
            const std::string exe = AddBackSlash(SourceDirectory) + SelfExtractorName;
            MainDrvnCompress()->Offset = ReadSelfExtractTrailer(exe).MainFirst;
        }
        ReadArchiveInformation();
        if (OnAfterInitialized)
            OnAfterInitialized(this);
        InstallBroadcast(this, bmInstallStarts, nullptr);
        InstallBroadcast(this, bmBeforeInstall, nullptr);
        InstallTree();
        const std::vector<TCustomInstallFile*> retry = RetryRegistrations;
        RetryRegistrations.clear();
        for (TCustomInstallFile* file : retry)
            file->SelfRegister();
        static const struct {
            Integer Code;
            const char* Text;
        } phases[] = {{2750, "Installing ODBC drivers..."}, {2875, "Installing ODBC sources..."},
                      {3000, "Installing Borland Database Engine aliases..."}, {7000, "Installing shell links..."},
                      {8000, "Installing shell links..."}, {4000, "Installing INI files..."},
                      {8500, "Installing registry keys..."}, {8700, ""}, {9052, ""}, {9050, ""}, {9054, ""}};
        for (const auto& phase : phases)
            RunPhase(phase.Code, phase.Text);
        if (OnAfterInstallObjects)
            OnAfterInstallObjects(this, ArchiveStopped || MainDrvnCompress()->Abort);
        if (FWorkItems > 0 || Reboot) {
            FJournal.Commit();
            RegisterRerun();
            if (Reboot) {
                if (TTranslator* translator = MainTranslator())
                    WriteRegInteger(HKEY_LOCAL_MACHINE, RecordKeyPath, "Language",
                                    static_cast<Integer>(translator->TranslateIntoLanguage()));
                // The reboot page may clear the flag (the user's "No"), and so
                // may OnBeforeReboot.
                InstallBroadcast(this, bmReboot, nullptr);
                bool reboot = Reboot;
                if (OnBeforeReboot)
                    OnBeforeReboot(this, reboot);
                Reboot = reboot;
                if (Reboot)
                    RestartWindows();
            }
            FRunning = false;
            Application->Terminate();
            return;
        }
        FJournal.Commit();
        EndGoodInstall();
    } catch (Exception& e) {
        HandleRunException(this, e);
    }
}

void TCustomInstall::RunPhase(Integer kindCode, const std::string& statusText)
{
    bool pushed = false;
    TInstallContainerList* list = InstallContainerList();
    std::vector<TInstallContainer*> objects;
    for (int i = 0; i < list->Count(); ++i)
        if (list->Get(i)->KindCode() == kindCode)
            objects.push_back(list->Get(i));
    for (TInstallContainer* object : objects) {
        if (!pushed && !statusText.empty()) {
            PushStatusText(statusText);
            pushed = true;
        }
        object->Install();
    }
    if (pushed)
        PopStatusText();
}

void TCustomInstall::HandleRunException(TObject*, Exception& e)
{
    if (!FRunning) {
        Application->ShowException(e);
        return;
    }
    FRunning = false;
    FBadEnd = true;
    try {
        FJournal.Rollback();
        if (dynamic_cast<EAIUserAbort*>(&e) != nullptr) {
            UserAborted = true;
            NotifyBadInstall();
            RemoveTempFiles();
            DeleteInstallRecord();
            if (RunAutomatic)
                ShutDown();
        } else {
            NotifyBadInstall();
            Application->ShowException(e);
            ShutDown();
        }
    } catch (...) {
        if (RunAutomatic)
            Application->Terminate();
    }
}

void TCustomInstall::NotifyInstallEnd(const TNotifyEvent& before, Integer beforeCode, Integer afterCode,
                                      const TNotifyEvent& after)
{
    if (before)
        before(this);
    InstallBroadcast(this, beforeCode, nullptr);
    InstallBroadcast(this, afterCode, nullptr);
    if (after)
        after(this);
}

void TCustomInstall::EndGoodInstall()
{
    NotifyGoodInstall();
    RemoveTempFiles();
    DeleteInstallRecord();
    if (RunAutomatic)
        ShutDown();
    RunFilesAfterInstall();
    FRunning = false;
}

void TCustomInstall::NotifyBadInstall()
{
    NotifyInstallEnd(OnBeforeNotifyBadInstall, bmBeforeBadInstall, bmAfterBadInstall, OnAfterNotifyBadInstall);
}

void TCustomInstall::NotifyGoodInstall()
{
    NotifyInstallEnd(OnBeforeNotifyGoodInstall, bmBeforeGoodInstall, bmAfterGoodInstall, OnAfterNotifyGoodInstall);
}

void TCustomInstall::ShutDown()
{
    bool terminate = true;
    if (OnBeforeShutdown)
        OnBeforeShutdown(this, terminate);
    if (terminate)
        Application->Terminate();
}

void TCustomInstall::RestartWindows()
{
    const TOSVerType os = GetOSVersionType();
    bool done = false;
    if (Win95Family.Contains(os))
        done = RequestRestart(TRestartKind::Reboot);
    else if (NTFamily.Contains(os))
        done = RequestRestart(TRestartKind::RebootWithShutdownPrivilege);
    if (done)
        return;
    if (OnFailedReboot)
        OnFailedReboot(this);
    else
        ShowMessage("Could not reboot windows. Please manually reboot windows.");
}

void TCustomInstall::RunFilesAfterInstall()
{
    TInstallContainerList* list = InstallContainerList();
    std::vector<TCustomInstallFile*> files;
    for (int i = 0; i < list->Count(); ++i)
        if (auto* file = dynamic_cast<TCustomInstallFile*>(list->Get(i)); file && file->RunAfterInstall)
            files.push_back(file);
    for (TCustomInstallFile* file : files) {
        bool run = true;
        if (OnBeforeRunFile)
            OnBeforeRunFile(this, file, run);
        if (!run)
            continue;
        TProgramLauncher launcher(nullptr);
        launcher.FileName = file->DestinationPath();
        launcher.ShowMode = smNormal;
        launcher.Wait = false;
        try {
            launcher.Execute();
        } catch (Exception& e) {
            Application->ShowException(e);
        }
    }
}

void TCustomInstall::RegisterRerun()
{
    std::string command = Quoted(ProgramPath) + " -r";
    if (StartedBySelfExtractor)
        command += " " + Quoted("-e" + SelfExtractorName) + " " + Quoted("-s" + SourceDirectory);
    else
        command += " " + Quoted("-s" + SourceDirectory);
    if (OptCleanup)
        command += " -c";
    if (!WriteRunOnceValue("DorvaneUnfinished", command, true))
        throw IEInstall("Cannot register the install to be run on reboot in the RunOnce key in the registry");
}

// ------------------------------------------------------ the install record

bool TCustomInstall::FindInstallRecord(bool create, std::string& key)
{
    key.clear();
    const std::string native = NativePath(ProgramPath);
    const std::int64_t size = native.empty() ? -1 : FileSizeOf(native);
    TDateTime date = 0;
    GetFileDateTime(ProgramPath, date);
    TdrvnRegistry registry;
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    // Only a record to be made creates the records' key: a lookup leaves no
    // empty key behind.
    if (!registry.OpenKey(RecordRoot, create))
        return false;
    TStringList names;
    registry.GetKeyNames(&names);
    registry.CloseKey();
    for (int i = 0; i < names.Count(); ++i) {
        const std::string path = std::string(RecordRoot) + "\\" + names.Get(i);
        TRegistry reader;
        reader.SetRootKey(HKEY_LOCAL_MACHINE);
        if (!reader.OpenKey(path, false))
            continue;
        if (IsStrayRecord(reader)) {
            // Left by a run of this program killed while it made the record.
            reader.CloseKey();
            DeleteRegKey(HKEY_LOCAL_MACHINE, path);
            names.Delete(i--);
            continue;
        }
        try {
            reader.ReadString("Path");
            const double created = reader.ReadFloat("CreationDate");
            const Integer recordSize = reader.ReadInteger("Size");
            if (std::fabs(created - date) < 1e-7 && recordSize == size) {
                reader.WriteFloat("LastRunDate", Now());
                reader.WriteString("Path", ProgramPath);
                key = path;
                return true;
            }
        } catch (const Exception&) {
            // a record that cannot be read is not this program's
        }
    }
    if (!create)
        return false;
    std::string name;
    for (int n = 0;; ++n) {
        name = Format("Install%d", {n});
        bool taken = false;
        for (int i = 0; i < names.Count() && !taken; ++i)
            taken = CompareWinNames(names.Get(i), name) == 0;
        if (!taken)
            break;
    }
    key = std::string(RecordRoot) + "\\" + name;
    // The record appears whole, with all its values, or not at all.
    const auto dateValue = [](const std::string& valueName, double value) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        std::string data;
        for (int b = 0; b < 8; ++b)
            data += static_cast<char>((bits >> (8 * b)) & 0xFF);
        return TRegValue{valueName, REG_BINARY, data};
    };
    std::vector<TRegValue> values;
    values.push_back(TRegValue{"Path", REG_SZ, ProgramPath});
    values.push_back(dateValue("LastRunDate", Now()));
    values.push_back(dateValue("CreationDate", date));
    std::string sizeData;
    for (int b = 0; b < 4; ++b)
        sizeData += static_cast<char>((static_cast<std::uint32_t>(size) >> (8 * b)) & 0xFF);
    values.push_back(TRegValue{"Size", REG_DWORD, sizeData});
    if (StartedBySelfExtractor)
        values.push_back(TRegValue{"SelfExtract", REG_SZ, AddBackSlash(OptSource) + SelfExtractorName});
    if (!FJournalName.empty())
        values.push_back(TRegValue{"Journal", REG_SZ, FJournalName});
    if (TRegistryStore::Default()->CreateKeyWithValues(HKEY_LOCAL_MACHINE, key, values) != TRegResult::Ok)
        throw IEInstall(UnfinishedText);
    FRecordCreated = true;
    return true;
}

bool TCustomInstall::IsStrayRecord(TRegistry& record)
{
    if (record.ValueExists("CreationDate") && record.ValueExists("Size"))
        return false;
    if (record.HasSubKeys())
        return false;
    std::string path;
    try {
        if (record.ValueExists("Path"))
            path = record.ReadString("Path");
    } catch (const Exception&) {
        return false;
    }
    return path.empty() || CompareWinNames(path, ProgramPath) == 0;
}

void TCustomInstall::DeleteInstallRecord()
{
    TdrvnRegistry registry;
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    // Without a record only the empty parents go (a run killed while it
    // deleted its record leaves them).
    if (!RecordKeyPath.empty() && registry.OpenKey(RecordKeyPath, false)) {
        TStringList subkeys;
        registry.GetKeyNames(&subkeys);
        registry.CloseKey();
        for (int i = 0; i < subkeys.Count(); ++i) {
            const std::string sub = RecordKeyPath + "\\" + subkeys.Get(i);
            // A downloaded archive lies in the temporary folder; a value that
            // names anything else is not followed.
            const std::string local = ReadRegString(HKEY_LOCAL_MACHINE, sub, "LocalFile", "");
            if (!local.empty() && IsInside(local, GetTempDir()) && WinFileExists(local))
                DeleteFile(NativePath(local));
            registry.DeleteKeyTree(sub);
        }
        registry.DeleteKeyTree(RecordKeyPath);
    }
    RecordKeyPath.clear();
    for (const char* parent : {RecordRoot, "\\Software\\Dorvane"}) {
        TdrvnRegistry reader;
        reader.SetRootKey(HKEY_LOCAL_MACHINE);
        if (!reader.OpenKey(parent, false))
            continue;
        const bool empty = !reader.HasSubKeys();
        reader.CloseKey();
        if (empty)
            reader.DeleteKeyTree(parent);
    }
}

void TCustomInstall::AddWorkItem(const std::string& name, Integer kind)
{
    if (RecordKeyPath.empty())
        throw IEInstall(UnfinishedText);
    WriteRegString(HKEY_LOCAL_MACHINE, RecordKeyPath + "\\Unfinished", name, std::to_string(kind));
    ++FWorkItems;
}

void TCustomInstall::ReadUnfinished(TStrings* lines)
{
    lines->Clear();
    if (RecordKeyPath.empty())
        throw IEInstall(UnfinishedText);
    TRegistry registry;
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    if (!registry.OpenKey(RecordKeyPath + "\\Unfinished", false))
        return;
    TStringList names;
    registry.GetValueNames(&names);
    for (int i = 0; i < names.Count(); ++i) {
        std::string kind;
        try {
            kind = registry.ReadString(names.Get(i));
        } catch (const Exception&) {
            throw IEInstall("There is an invalid entry for the unfinished install list %s", {names.Get(i)});
        }
        if (kind != "0" && kind != "1")
            throw IEInstall("There is an invalid entry for the unfinished install list %s", {names.Get(i)});
        lines->Add(names.Get(i) + ";" + kind);
    }
}

void TCustomInstall::ClearUnfinished()
{
    if (RecordKeyPath.empty())
        throw IEInstall(UnfinishedText);
    DeleteRegKey(HKEY_LOCAL_MACHINE, RecordKeyPath + "\\Unfinished");
    FWorkItems = 0;
}

void TCustomInstall::CompleteAfterReboot()
{
    FRunning = true;
    FBadEnd = false;
    try {
        std::string key;
        if (FindInstallRecord(false, key))
            RecordKeyPath = key;
        if (RecordKeyPath.empty()) {
            DeleteInstallRecord();
            throw IEInstall(UnfinishedText);
        }
        if (!RecordKeyPath.empty() &&
            TInstallJournal::Recover(RecordKeyPath, [this](const std::string& path) { return IsRunPath(path); })) {
            // The run to complete was stopped before its end and is undone:
            // there is nothing to complete, and that is what the user hears.
            DeleteInstallRecord();
            throw IEInstall("The installation was interrupted before it was complete. Its changes have been "
                            "undone; please run the setup again");
        }
        if (TTranslator* translator = MainTranslator()) {
            const Integer language = ReadRegInteger(HKEY_LOCAL_MACHINE, RecordKeyPath, "Language",
                                                    static_cast<Integer>(translator->TranslateIntoLanguage()));
            translator->SetTranslateIntoLanguage(static_cast<TDrvnLanguage>(language));
        }
        TStringList work;
        ReadUnfinished(&work);
        ClearUnfinished();
        for (int i = 0; i < work.Count(); ++i) {
            const std::string line = work.Get(i);
            const std::string name = line.substr(0, line.rfind(';'));
            if (line.back() == '1') {
                // Only a file of this setup's own (its batch files in the
                // temporary folder, or one in its destinations) is deleted.
                const std::string native = NativePath(name);
                if (IsRunPath(name) && !native.empty() && FileExists(native))
                    DeleteFile(native);
                continue;
            }
            TInstallContainerList* list = InstallContainerList();
            for (int j = 0; j < list->Count(); ++j)
                if (auto* file = dynamic_cast<TCustomInstallFile*>(list->Get(j));
                    file && CompareText(file->Name(), name) == 0) {
                    file->CompleteAfterReboot();
                    break;
                }
        }
        EndGoodInstall();
    } catch (Exception& e) {
        HandleRunException(this, e);
    }
}

// ------------------------------------------------------ temporary files

void TCustomInstall::RemoveTempFiles()
{
    if (!FUseLoadingProgram || OptDebug || !OptCleanup || IsDesigning)
        return;
    bool cleanup = true;
    if (OnBeforeCleanup)
        OnBeforeCleanup(this, cleanup);
    if (!cleanup)
        return;
    // Only the loader's temporary folder is cleaned, and in it only what the
    // loader put there: the setup program and the files packed beside it.
    // The folder goes when nothing else is left in it.
    const std::string folder = ProgramFolder();
    if (!IsInside(folder + "\\x", GetTempDir()) || CompareWinNames(RemoveBackSlash(folder), GetTempDir()) == 0)
        return;
    const std::string native = NativePath(folder);
    if (native.empty() || !DirectoryExists(native) || IsSymbolicLink(native))
        return;
    std::vector<std::string> names = {WinExtractFileName(ProgramPath)};
    for (int i = 0; i < FPresetupFiles->Count(); ++i)
        names.push_back(WinExtractFileName(Trim(FPresetupFiles->Get(i))));
    for (const std::string& name : names) {
        if (name.empty())
            continue;
        const std::string file = NativePath(AddBackSlash(folder) + name);
        if (!file.empty() && FileExists(file) && !IsSymbolicLink(file))
            DeleteFile(file);
    }
    RemoveDir(native);
}

bool TCustomInstall::IsRunPath(const std::string& winPath)
{
    std::string path;
    if (!ExpandWinPath(winPath, path))
        return false;
    try {
        if (IsInside(path, GetTempDir()) || CompareWinNames(path, GetWindowsDir() + "\\WININIT.INI") == 0)
            return true;
    } catch (const Exception&) {
    }
    const auto inside = [&](TFileRelated* related) {
        try {
            std::string dir;
            // A drive's root is no destination to play back into.
            return ExpandWinPath(related->DestinationDirectory(), dir) && dir.size() > 3 && IsInside(path, dir);
        } catch (const Exception&) {
            return false;
        }
    };
    if (inside(this))
        return true;
    TInstallContainerList* list = InstallContainerList();
    for (int i = 0; i < list->Count(); ++i)
        if (auto* related = dynamic_cast<TFileRelated*>(list->Get(i)); related && inside(related))
            return true;
    return false;
}

} // namespace orvex
