#pragma once
// The install component: the root of the install-object tree and the one
// route of its broadcasts.
//
// Exactly one exists per program, owned by a form. The tree reaches it
// through GetInstall(): every broadcast of the engine goes to its
// BroadcastMessage (InstallBroadcast), which hands the code to its direct
// children of type code 2000 and above: the dialog components and dialog
// managers of the wizard, the install files placed directly under it and
// the uninstall program. The run itself (command line, install record,
// phases, the good, bad and reboot ends) builds on this class.

#include "installer/cmp_TInstallContainer.h"
#include "installer/cmp_TInstallInformation.h"
#include "platform/FileIO.h"
#include "platform/Registry.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace orvex {

enum TDistributeType { dtTraditional, dtWeb, dtTraditionalNet };

using TUserAbortEvent = std::function<void(TObject* sender, bool& abort)>;
using TVarBoolEvent = std::function<void(TObject* sender, bool& value)>;
using TBeforeRunFileEvent = std::function<void(TObject* sender, TCustomInstallFile* file, bool& run)>;

class Twin2KExtendedInformation;
class TCustomForm;
class TRegistry;

// Build settings.
struct TBuildInfo {
    bool AddUninstallOnCreate = true;
    std::string AppName;
    std::string AppURL;
    std::string BuildDirectory = "c:\\build";
    std::string CredentialsFile;
    std::string OCXName = "drvnsetup";
    std::string PrivateKeyFile;
    bool SignCode = false;
    std::string URLPath;
    std::string DrvnVersion() const { return "5.20.00"; }
};

// The 56-byte trailer that closes a self-extracting setup program.
struct TSelfExtractTrailer {
    std::string Signature;      // "SELFEXTRACTING" or "NOTSELFEXTRACT"
    Integer SetupFirst = 0;     // the setup archive's first byte (the loader's length)
    Integer SetupLast = 0;      // its last byte
    Integer MainFirst = 0;      // the main archive's first byte (its Offset)
    Integer MainLast = 0;       // its last byte
};
inline constexpr int SelfExtractTrailerSize = 56;
void EncodeSelfExtractTrailer(const TSelfExtractTrailer& trailer, std::uint8_t* bytes);
// False when the signature's length byte passes its field.
bool DecodeSelfExtractTrailer(const std::uint8_t* bytes, TSelfExtractTrailer& trailer);

// Undoes an installation that did not end well. While a run is journalled,
// every registry change outside the install record and every destination
// file replaced or created is written to a journal file before it happens;
// a replaced file is kept under a backup name beside it. The journal lives in
// a folder of its own, created exclusively under the temporary folder, and
// is named in the install record as "Journal". A bad end plays the journal
// backwards; so does the next run, or "-r", when a run was killed. A good or
// reboot end drops the backups and the journal.
//
// Only the first state of a file in a run is kept: a file replaced twice
// (two containers install one file) goes back to what it was before the run.
// Playback touches only files that the run's path check admits (the run's
// destinations and the temporary folder); anything else in a journal is
// ignored.
class TInstallJournal {
public:
    using TPathCheck = std::function<bool(const std::string& winPath)>;
    ~TInstallJournal();
    // A new journal name: "RUN.JNL" in a folder "DRVN" + 8 hexadecimal digits
    // under the temporary folder.
    static std::string NewName();
    // Starts a journal for the record under name (a new one when empty or
    // taken); its path goes into the record before the journal is made.
    // Journals that runs killed after their end left are dropped first.
    // Raises IEInstall when the journal cannot be made.
    void Start(const std::string& recordKey, TPathCheck allowed, std::string name = "");
    bool Active() const { return FHandle != nullptr; }
    // A destination is about to be replaced by a new file (it may not exist):
    // an existing one moves to a backup name beside it, the first time only.
    void BeforeReplace(const std::string& winPath);
    // A file that is about to be written in place (kept as a backup copy, the
    // first time only).
    void Preserve(const std::string& winPath);
    // A file the run has just created (exclusively) and owns.
    void Created(const std::string& winPath);
    // A folder (with the missing ones above it) the run is about to make:
    // removed again by a bad end when it is empty.
    void BeforeCreateFolder(const std::string& winFolder);
    // A temporary file the run is about to write: removed at either end.
    void Temporary(const std::string& winPath);
    void Commit();
    void Rollback();
    // Plays back a journal a killed run left in the record, if any, and
    // drops it; true when the record named the journal of a run that had not
    // ended (its changes are undone now).
    static bool Recover(const std::string& recordKey, const TPathCheck& allowed);

private:
    friend void JournalRegistryChange(const TRegChange&, void*);
    // Writes one line and flushes it to the disk; raises when it cannot.
    void Append(const std::string& line);
    // Whether winPath's first state in this run is still to be journalled
    // (and notes that it is now).
    bool FirstTime(const std::string& winPath);
    // Stops journalling: plays the journal (backwards with undo) and drops it.
    void Finish(bool undo);
    // Notes a destination folder of the run (once).
    void Destination(const std::string& folder);
    // Plays the lines backwards; true when they were undone (a journal
    // that ended well is only finished).
    static bool Play(const std::string& text, bool undo, const TPathCheck& allowed);
    static void PlayLine(const std::vector<std::string>& fields, bool undo, TRegistryStore* store,
                         const TPathCheck& allowed);
    // Removes the journal file and its folder.
    static void Drop(const std::string& nativeFile);
    // Drops the journals in the temporary folder whose runs had ended.
    static void DropFinished();
    // Whether a journal's text ends with its run's end ("C" or "E").
    static bool Ended(const std::string& text);
    static bool ReadJournal(const std::string& nativeFile, std::string& text);
    std::unique_ptr<TPlatformFile> FHandle;
    std::string FFile;      // native path of the journal
    std::string FRecordKey;
    TPathCheck FAllowed;
    struct TWinNameLess {
        bool operator()(const std::string& a, const std::string& b) const;
    };
    std::set<std::string, TWinNameLess> FKept;         // paths whose first state is journalled
    std::set<std::string, TWinNameLess> FDestinations; // folders noted
    std::int64_t FSize = 0;
};

class TCustomInstall : public TFileContainer {
public:
    // A second install component raises IEInstall "The TInstall component
    // does not currently support the use of 2 TInstall components in the same
    // project"; so does an owner that is not a form.
    explicit TCustomInstall(TComponent* owner);
    ~TCustomInstall() override;

    Integer KindCode() const override { return kcFileContainer; }
    bool OwnsFileContainerSpecifier() const override { return false; }

    // -- what the tree asks of the install component
    TInstallInformation* Information() const { return FInformation; }
    Twin2KExtendedInformation* win2KExtendedInformation() const { return FExtendedInformation; }
    // Whether an installation is running.
    bool Running() const { return FRunning; }
    void SetRunning(bool value) { FRunning = value; }
    // Set by any file that must be replaced at the next start.
    bool Reboot = false;
    bool NoUninstall = false;
    TDistributeType DistributeType() const { return FDistributeType; }
    // dtWeb and dtTraditionalNet need a network location.
    void SetDistributeType(TDistributeType value);
    void SetNetLocation(TCustomNetInstallLocation* value) override;
    // The folder the setup runs from ("-s", else the program's folder).
    std::string SourceDirectory;
    // The loader's executable name when started by it ("-e").
    bool StartedBySelfExtractor = false;
    std::string SelfExtractorName;
    // The install record's key path (empty while there is none).
    std::string RecordKeyPath;
    // The user's cancel: OnUserAbort may refuse it (default: confirmed).
    virtual bool ConfirmUserAbort();
    TUserAbortEvent OnUserAbort;

    // -- published properties
    bool AutoMaximizeWindow() const { return FAutoMaximizeWindow; }
    void SetAutoMaximizeWindow(bool value);
    bool HideMainForm() const { return FHideMainForm; }
    void SetHideMainForm(bool value);
    bool RunAutomatic = true;
    bool UseLoadingProgram() const { return FUseLoadingProgram; }
    void SetUseLoadingProgram(bool value);
    TStrings* PresetupFiles() const { return FPresetupFiles; }
    // Blank lines are dropped.
    void SetPresetupFiles(TStrings* value);
    TBuildInfo BuildInfo;

    TNotifyEvent OnAfterInitialized;
    TNotifyEvent OnBeforeReadArchiveInfo;
    TNotifyEvent OnAfterReadArchiveInfo;
    TNotifyEvent OnBeforeNotifyGoodInstall;
    TNotifyEvent OnAfterNotifyGoodInstall;
    TNotifyEvent OnBeforeNotifyBadInstall;
    TNotifyEvent OnAfterNotifyBadInstall;
    TVarBoolEvent OnBeforeReboot;
    TNotifyEvent OnFailedReboot;
    TBeforeRunFileEvent OnBeforeRunFile;
    TVarBoolEvent OnBeforeShutdown;
    TVarBoolEvent OnBeforeCleanup;

    // -- the program around the run
    // The command line (without the program); by default the process's.
    std::vector<std::string> CommandLine;
    // The program's own file, Windows form (by default the running program).
    std::string ProgramPath;
    // Where "BUILD.INF" is looked for in build mode (the program's folder
    // unless set).
    std::string BuildInfFolder;
    // The drive the transfer to floppies writes to.
    std::string FloppyFolder = "a:";

    // The command-line values.
    bool OptBuild = false, OptFloppies = false, OptDebug = false, OptAfterReboot = false;
    bool OptCleanup = false, OptClearUnfinished = false;
    std::string OptSource; // "-s"

    // -- virtual operations of the install component, in order
    virtual void DeleteInstallRecord();
    virtual void NotifyBadInstall();
    virtual void NotifyGoodInstall();
    virtual void EmptyHook() {}
    // Finds the record of this program (by size and date) or, with create,
    // makes one; key receives its path. False when none was found or made.
    virtual bool FindInstallRecord(bool create, std::string& key);
    virtual void RunPhase(Integer kindCode, const std::string& statusText);
    // Parses CommandLine; an invalid parameter raises.
    virtual void ReadCommandLine();
    virtual void RunFilesAfterInstall();
    virtual void RegisterRerun();
    // The bad end: what the application's handler does during a run.
    virtual void HandleRunException(TObject* sender, Exception& e);
    virtual void Build(const std::string& executable, const std::string& buildFolder, bool selfExtracting);
    virtual void RemoveTempFiles();
    virtual void BuildSetupArchive(const std::string& executable, const std::string& buildFolder);
    // One line "name;kind" per item.
    virtual void ReadUnfinished(TStrings* lines);
    virtual void ClearUnfinished();
    virtual void AddWorkItem(const std::string& name, Integer kind);
    // The run. Its step that installs the tree is InstallTree.
    void Install() override;
    // The tree's install step of the install component alone: every file and
    // container in order.
    void InstallTree() { TFileContainer::Install(); }
    // "-r": completes the work left for the next start.
    virtual void CompleteAfterReboot();
    void ReadInfoFromArchive() override;

    // Build mode from "BUILD.INF" ("-b"), and the transfer to floppies ("-f").
    void BuildFromBuildInf();
    void TransferToFloppies();
    // The first activation of the run's form: runs the installation when
    // RunAutomatic.
    void FirstActivation();
    // Reads the trailer of a self-extracting program.
    TSelfExtractTrailer ReadSelfExtractTrailer(const std::string& file);
    // The installer library's folder (from the development environment's
    // search path); raises IENoDorvanePath.
    std::string LibraryFolder();

    // Whether a path read back (from the journal, the install record or the
    // work for the next start) is one this setup may delete or rename: inside
    // the temporary folder or a destination folder of the tree, or the
    // Windows folder's WININIT.INI.
    bool IsRunPath(const std::string& winPath);

    // The files whose self-registration is to be retried after the tree.
    std::vector<TCustomInstallFile*> RetryRegistrations;
    TInstallJournal* Journal() { return FJournal.Active() ? &FJournal : nullptr; }
    bool BadEndHandled() const { return FBadEnd; }
    int WorkItemCount() const { return FWorkItems; }
    TDateTime StartTime = 0;
    // The form the run runs on.
    TCustomForm* RunForm() const { return FRunForm; }
    // Ends the program (OnBeforeShutdown may refuse).
    void ShutDown();
    // Restarts Windows, or reports that it could not.
    void RestartWindows();
    // Whether the last run or completion was cancelled by the user.
    bool UserAborted = false;

protected:
    void Loaded() override;

private:
    void InitRunState(); // the constructor's part of the run (cmp_TInstall_Run.cpp)
    void DoneRunState();
    // The steps after a good run: notice, clean-up, shutdown, files to run.
    void EndGoodInstall();
    // The before event, the before and after broadcasts, the after event.
    void NotifyInstallEnd(const TNotifyEvent& before, Integer beforeCode, Integer afterCode,
                          const TNotifyEvent& after);
    void ReadArchiveInformation();
    void WriteTrailer(const std::string& exe, const TSelfExtractTrailer& trailer);

public:
    // Writes "filelist.lst" for the install files compressed in this build,
    // in the main archive's folder followed by the network folder.
    void WriteFileList(const std::string& mainArchive);
    // Updates every install file whose component name an entry of a
    // "filelist.lst" names (size, date, version); a list shorter than its
    // count says raises "Cannot read the remote list of files: %s".
    void ApplyFileList(const std::string& data, const std::string& name);

private:
    std::string ProgramFolder() const;
    // A record without its creation date and size, and without subkeys,
    // whose path is empty or this program's: what a run killed while making
    // the record left.
    bool IsStrayRecord(TRegistry& record);
    TInstallInformation* FInformation; // owned
    Twin2KExtendedInformation* FExtendedInformation; // owned
    TStringList* FPresetupFiles; // owned
    bool FRunning = false;
    bool FBadEnd = false;
    bool FArchiveInfoRead = false;
    int FWorkItems = 0;
    TDistributeType FDistributeType = dtTraditional;
    bool FAutoMaximizeWindow = true;
    bool FHideMainForm = false;
    bool FUseLoadingProgram = true;
    TCustomForm* FRunForm = nullptr;
    TNotifyEvent FFormActivate;
    bool FActivated = false;
    TInstallJournal FJournal;
    // While a run makes its record: the journal it is about to start, and
    // whether FindInstallRecord made a new record.
    std::string FJournalName;
    bool FRecordCreated = false;
};

class TInstall : public TCustomInstall {
public:
    using TCustomInstall::TCustomInstall;
};

} // namespace orvex
