#pragma once
// The install-object tree.
//
// Every installable thing of the setup program is a node of one tree of
// components: the install component at its root, groups and directories
// (file containers), install files, registry objects, and also the wizard's
// dialog components and dialog managers. The tree decides what is installed
// and in which order, and it carries the communication between the install
// engine and the wizard:
//
// - broadcasts: negative codes (the bm... constants) that the engine sends
//   to the dialog objects. Every broadcast goes through the install
//   component (InstallBroadcast): it reaches the install component's direct
//   children of type code 2000 and above, which is where the dialog
//   components and dialog managers stand. A dialog object answers in its
//   ReceiveMessage.
// - information events: positive codes (the ie... constants) that an
//   install file sends up to its container's DoInformationEventControl; a
//   busy file container turns them into totals, its own events and
//   broadcasts, and passes them on to its own container.
//
// A notification's parameter object belongs to its sender, which frees it
// when the call returns; receivers only read it.
//
// Components are created on a form (their owner). The form loader's rules
// apply when a tree is built in the loading state (TComponent::BeginLoading
// ... EndLoading): references set while loading are only stored and take
// effect in Loaded.

#include "host/Classes.h"
#include "installer/cmp_TDrvnCompress.h"
#include "installer/cmp_TPathSpecifier.h"
#include "installer/routines_FileSystem.h"
#include "installer/types_Dorvane.h"

#include <functional>
#include <string>
#include <vector>

namespace orvex {

class TInstallObject;
class TFileContainer;
class TCustomInstall;
class TCustomInstallFile;
class TCustomNetInstallLocation;

enum TInstallType { itFull, itDefault, itCompact, itCustom };
using TInstallTypes = TEnumSet<TInstallType>;

// Type codes of the node classes (KindCode). Codes of 2000 and above mark
// the receivers of broadcasts; the install run also uses them as its phases.
enum : Integer {
    kcInstallGroup = 500,
    kcFileContainer = 1000, // directories and the install component
    kcInstallFile = 2000,   // install files and the uninstall program
    kcRegistry = 8500,
    kcDialog = 9000, // dialog components and dialog managers
    kcBroadcastReceiver = 2000,
};

// Broadcast codes, sent through the install component to the dialog objects.
enum : Integer {
    bmBeginObject = -999,        // an included object begins its install step; nil
    bmFileStatus = -998,         // TFileStatusParameter
    bmReplacing = -997,          // a file is about to be replaced; the install file
    bmEndCopy = -996,            // a container's copy or install ended: close progress windows; nil
    bmBeforeGoodInstall = -995,  // nil
    bmBeforeBadInstall = -994,   // nil
    bmNewDisk = -993,            // TList [install file, TDiskParameter]
    bmArchiveInfoRead = -992,    // a container has read its files' data from the archive; nil
    bmBeforeProcess = -990,      // nil
    bmAfterProcess = -989,       // nil
    bmDownloadStatus = -988,     // TDownloadStatusParameter
    bmReboot = -987,             // nil
    bmInstallStarts = -986,      // nil
    bmBeforeReadArchive = -984,  // nil
    bmAfterReadArchive = -983,   // nil
    bmLicence = -981,            // known to receivers; not sent
    bmBeforeInstall = -980,      // show the pages before installing; nil
    bmAfterGoodInstall = -979,   // nil
    bmAfterBadInstall = -978,    // nil
    bmReadme = -977,             // known to receivers; not sent
    bmPushStatusText = -974,     // TMessageParameter
    bmPopStatusText = -973,      // nil
    bmRegistryObjects = -968,    // known to receivers; not sent
    bmRegistration = -962,       // known to receivers; not sent
};

// Information events, sent by an install file up through its containers.
enum : Integer {
    ieInstalled = 1001,
    ieBeforeInstall = 1002,
    ieReplacing = 1003,        // the install file
    ieBeforeCompress = 1004,
    ieAfterCompress = 1005,
    ieBeforeCopy = 1006,
    ieAfterCopy = 1007,
    ieInstallStatus = 1008,    // TList [install file, TFileStatusParameter]
    ieCompressStatus = 1009,   // the same
    ieCopyStatus = 1010,       // the same
    ieNewDisk = 1011,          // TList [install file, TDiskParameter]
    ieContainerStart = 1012,   // the container
    ieContainerEnd = 1013,     // the container
    ieDownloadStatus = 1014,   // TDownloadStatusParameter
    ieSkipped = 1015,          // the install file: done without the archive
    ieDoneWithoutArchive = 1016, // the install file
};

// ---------------------------------------------------- parameter objects

// A status line.
class TMessageParameter : public TObject {
public:
    explicit TMessageParameter(std::string text = "") : Text(std::move(text)) {}
    std::string Text;
};

// Another part of the archive is needed: its number and the folder where it
// is expected (a receiver may change the folder).
class TDiskParameter : public TObject {
public:
    Integer PartNumber = 0;
    std::string Folder;
};

// Progress of one file and of its container.
class TFileStatusParameter : public TObject {
public:
    Integer FileBytesDone = 0;
    Integer FilePercent = 0;
    std::string FileName;
    TDrvnCompressStatus Status; // the archive's running status
    Integer ContainerBytesDone = 0;
    Integer ContainerPercent = 0;
};

// Progress of a download.
class TDownloadStatusParameter : public TObject {
public:
    std::string FileName; // the file on the server
    Integer BlockSize = 0;  // bytes of the last block
    Integer Total = 0;      // the file's size as the server gave it (0 when unknown)
    Integer Done = 0;       // bytes received so far
    Integer Percent = 0;    // Done / Total x 100, 0 when Total is 0
};

// A percentage that never divides by zero: 0 when total is 0 (or negative),
// done / total x 100 otherwise, rounded down and kept within 0..100.
Integer SafePercent(std::int64_t done, std::int64_t total);

// ------------------------------------------------------ the tree nodes

// A node with children.
class TInstallContainer : public TComponent {
public:
    explicit TInstallContainer(TComponent* owner);
    ~TInstallContainer() override;

    // -- virtual operations, in the order the tree defines them
    // The children that are file containers.
    virtual int FileContainerCount() const;
    virtual TFileContainer* FileContainers(int index) const;
    virtual void SetDestDir(const std::string& value);
    // Registers this container with the specifier (free notification) unless
    // loading.
    virtual void SetDestDirType(TCustomPathSpecifier* value);
    // Another container is being destroyed: drop it from the children; an
    // install object also clears its own Container when it is that one.
    virtual void ForgetContainer(TInstallContainer* container);
    // Broadcasts bmPushStatusText with the text.
    virtual void PushStatusText(const std::string& text);
    // An information event from below; nothing here (file containers handle
    // them).
    virtual void DoInformationEventControl(TObject* sender, Integer code, TObject* parameter);
    // A broadcast; nothing here (dialog objects handle them).
    virtual void ReceiveMessage(TObject* sender, Integer code, TObject* parameter);
    // The path of DestDirType for this object followed by DestDir, without a
    // trailing backslash (DestDir alone without a specifier).
    virtual std::string DestinationDirectory();
    // The type code of the class; the base raises "Class must declare a
    // registered type".
    virtual Integer KindCode() const;
    // Adds a child: inserted before the first child whose type code is
    // greater than or equal to its own. Nil and circular references raise.
    virtual void AddInstallObject(TInstallObject* child);
    // The install step.
    virtual void Install();
    virtual void Uninstall();
    // Flags the node processed, then runs the install step of every child
    // installable by its container, in list order.
    virtual void InstallChildren();
    // Whether the node takes part for the chosen install type.
    virtual bool IncludedForInstallType() const;
    virtual void RemoveInstallObject(TInstallObject* child);
    // Writes the uninstall information under the key; nothing here.
    virtual void WriteUninstallInfo(const std::string& keyPath);

    // -- non-virtual
    // Sends the code to every direct child of type code 2000 or more, in
    // list order. (The engine's broadcasts go through InstallBroadcast.)
    void BroadcastMessage(TObject* sender, Integer code, TObject* parameter);
    // Broadcasts bmPopStatusText.
    void PopStatusText();
    int ChildCount() const { return static_cast<int>(FChildren.size()); }
    // An index outside the list raises IEInstallContainer.
    TInstallObject* Children(int index) const;
    int IndexOfChild(const TInstallObject* child) const;
    // The children of a type code: their count, the N-th of them (none
    // raises IEInstallContainer), and freeing them all.
    int ChildCountOfKind(Integer kindCode) const;
    TInstallObject* ChildOfKind(int index, Integer kindCode) const;
    void FreeChildrenOfKind(Integer kindCode);
    // Sets the chosen install type here and in the whole subtree.
    void SetChosenInstallTypeTree(TInstallType value);
    // This node or one of its ancestors (through Container) is node.
    bool IsSelfOrAncestor(const TInstallContainer* node) const;

    // -- properties
    bool InstallableByContainer() const { return FInstallableByContainer; }
    bool Include = true;
    bool Processed = false;
    TInstallType ChosenInstallType() const { return FChosenInstallType; }
    void SetChosenInstallType(TInstallType value) { FChosenInstallType = value; }
    bool Uninstall_ = true; // the published "Uninstall" flag (Uninstall() is the step)
    TOSVerTypes OS{oswin95, oswinNT, oswin2K, oswin98, oswinME, oswinXP};
    TNotifyEvent OnAfterProcess;
    TNotifyEvent OnBeforeProcess;
    TNotifyEvent OnProcess; // fired inside the install step, before bmBeginObject
    const std::string& DestDir() const { return FDestDir; }
    TCustomPathSpecifier* DestDirType() const { return FDestDirType; }
    TInstallTypes InstallTypes() const { return FInstallTypes; }
    // The empty set stores itFull alone.
    void SetInstallTypes(TInstallTypes value);
    Integer Order() const { return FOrder; }
    virtual void SetOrder(Integer value);

protected:
    void Loaded() override;
    void Notification(TComponent* component, TOperation operation) override;
    bool Loading() const { return HasState(csLoading); }
    // The parent through Container (nil for the root and plain containers).
    virtual TInstallContainer* ParentContainer() const { return nullptr; }

    bool FInstallableByContainer = false;
    std::vector<TInstallObject*> FChildren;
    TInstallType FChosenInstallType = itFull;
    std::string FDestDir;
    TCustomPathSpecifier* FDestDirType = nullptr;
    TInstallTypes FInstallTypes{itFull, itDefault, itCompact};
    Integer FOrder = -1;
    bool FDestDirTypeLoaded = false; // DestDirType was set while loading
    bool FDestDirTypeSeen = false;   // ... and to a specifier

private:
    friend class TInstallObject;
    void InsertChild(TInstallObject* child);
};

// A node that has a parent container.
class TInstallObject : public TInstallContainer {
public:
    explicit TInstallObject(TComponent* owner);
    ~TInstallObject() override;

    TInstallContainer* Container() const { return FContainer; }
    // Joins the new container through its AddInstallObject, leaves the old
    // one through RemoveInstallObject and, outside loading, points
    // DestDirType at the stock container-destination specifier with an
    // empty DestDir (or clears it when the container becomes nil). While
    // loading the reference is only stored; it takes effect in Loaded.
    virtual void SetContainer(TInstallContainer* value);

    // While loading only stored; otherwise the object leaves its container
    // and joins it again, so that it goes in front of the children of its
    // type code. Without a container the value stays as it was.
    void SetOrder(Integer value) override;
    void ForgetContainer(TInstallContainer* container) override;
    // While an installation runs, an object with a container runs its step
    // only when that container has been processed.
    void Install() override;
    // This object is node or one of node's ancestors.
    bool IsSelfOrAncestorOf(const TInstallContainer* node) const;

protected:
    void Loaded() override;
    void Notification(TComponent* component, TOperation operation) override;
    TInstallContainer* ParentContainer() const override { return FContainer; }

    TInstallContainer* FContainer = nullptr;
    bool FContainerLoaded = false; // Container was set while loading
    bool FContainerJoined = false; // ... and the join is still to be made
};

// ----------------------------------------------------------- the globals

// Every install container while it exists.
class TInstallContainerList : public TList {
public:
    // Nil raises IEInstallContainer.
    int Add(TInstallContainer* container);
    TInstallContainer* Get(int index) const { return static_cast<TInstallContainer*>(TList::Get(index)); }
};
TInstallContainerList* InstallContainerList();

// The one install component (nil when none exists).
TCustomInstall* GetInstall();
// Whether an installation is running (an install component that runs).
bool InstallRunning();
// The route of every broadcast: the install component's BroadcastMessage,
// which reaches its direct children of type code 2000 and above (the dialog
// components and dialog managers). Nothing happens without an install
// component.
void InstallBroadcast(TObject* sender, Integer code, TObject* parameter);

// The program's archive component, created at first use.
TDrvnCompress* MainDrvnCompress();

// Whether components are being designed (never in this program).
inline constexpr bool IsDesigning = false;

// The uninstall key of a product.
inline const char* const UninstallKeyPrefix = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// Names a new component on owner: the text followed by 1, 2, ... while that
// name is taken; an install file's name is "IF" + the file name without
// extension + "_" + the extension without its dot, numbered the same way.
std::string UniqueComponentName(TComponent* owner, const std::string& base);
std::string InstallFileComponentName(TComponent* owner, const std::string& fileName);

// ------------------------------------------------------ file containers

// How a file-related object's archive is written at build time.
enum TlzhCommand { lzcOverwrite, lzcOnlyAdd };

using TDataReceivedEvent = std::function<void(TObject* sender, const std::string& name, Integer bytes,
                                              Integer total, Integer done, Integer position)>;

// Anything with an archive (file containers and install files).
class TFileRelated : public TInstallObject {
public:
    explicit TFileRelated(TComponent* owner);
    ~TFileRelated() override;

    // Joining a file-related object or a group points ArchiveFileType at the
    // container-archive specifier; leaving clears it.
    void SetContainer(TInstallContainer* value) override;
    // Builds a TDownloadStatusParameter, fires OnDataReceived, broadcasts
    // bmDownloadStatus and sends ieDownloadStatus to the container.
    virtual void DownloadStatus(const std::string& name, Integer bytes, Integer total, Integer done);
    // Downloads this object's archive from its network location (unless one
    // was downloaded before) and remembers it.
    virtual void DownloadArchive();
    // A downloaded archive is recorded and its file exists.
    virtual bool DownloadedArchiveAvailable();
    // Records a downloaded archive ("LocalFile" under the install record).
    virtual void RememberDownloadedArchive(const std::string& localFile);
    virtual void SetArchiveFile(const std::string& value);
    virtual void SetArchiveFileType(TCustomPathSpecifier* value);
    virtual void SetNet(bool value);
    virtual void SetNetLocation(TCustomNetInstallLocation* value);
    // The specifier's path for this object followed by ArchiveFile, without
    // a trailing backslash; with the container-archive or main-archive
    // specifier the specifier gives the whole name.
    virtual std::string ArchivePath();

    const std::string& ArchiveFile() const { return FArchiveFile; }
    TCustomPathSpecifier* ArchiveFileType() const { return FArchiveFileType; }
    TlzhCommand AddToArchive = lzcOverwrite;
    bool Net() const { return FNet; }
    TCustomNetInstallLocation* NetLocation() const { return FNetLocation; }
    TDataReceivedEvent OnDataReceived;
    // The local path of a downloaded archive (empty: none).
    std::string LocalArchive;
    bool InfoReadFromArchive = false;

    // The network location that serves this object: its own, else (for an
    // install file) its container's and upward through file containers, else
    // the install component's; nil when none.
    virtual TCustomNetInstallLocation* FindNetLocation();

protected:
    void Notification(TComponent* component, TOperation operation) override;
    // The key of this object's downloaded-archive record (empty without an
    // install record).
    std::string LocalFileKey();

    std::string FArchiveFile;
    TCustomPathSpecifier* FArchiveFileType = nullptr;
    bool FNet = true;
    TCustomNetInstallLocation* FNetLocation = nullptr;
};

enum TFileContainerMode { fcmIdle, fcmCompressing, fcmInstalling, fcmCopying, fcmReflecting };

// Compress options (bits).
enum : Integer {
    coContainerArchive = 2,      // add every child to the container's archive
    coBuildAll = 4,              // passed by the build; no effect here
    coForceNetFilesLocal = 8,    // keep network files in the local archives
    coForceFilesNet = 16,        // put every file into its network archive
    coIncludeExcluded = 32,      // also the excluded objects
};

// Process modes.
enum : Integer { pmCompress = 1, pmInstall = 2, pmCopy = 3, pmReflect = 4 };

class TpsFileContainer;

using TContainerNewDiskEvent = std::function<void(TObject* sender, Integer partNumber, std::string& folder)>;
using TContainerFileEvent = std::function<void(TObject* sender, TCustomInstallFile* file)>;
using TContainerStatusEvent = std::function<void(TObject* sender, Integer filePercent, const std::string& fileName)>;
using TAfterInstallObjectsEvent = std::function<void(TObject* sender, bool archiveStopped)>;

// A node that holds install files and further containers, with the totals
// progress is measured against.
class TFileContainer : public TFileRelated {
public:
    explicit TFileContainer(TComponent* owner);
    ~TFileContainer() override;

    Integer KindCode() const override { return kcFileContainer; }
    // Relays the information events of the files below while busy.
    void DoInformationEventControl(TObject* sender, Integer code, TObject* parameter) override;
    // The container's install: reads its files' information, sets the
    // totals, installs the children and closes the progress windows.
    void InstallChildren() override;

    // -- virtual operations added, in order
    // Whether it owns a TpsFileContainer (false for the install component).
    virtual bool OwnsFileContainerSpecifier() const { return true; }
    // Fires OnNewDisk with the part and the folder; answered tells whether a
    // handler ran. Returns the folder.
    virtual std::string ChangeDisk(TObject* sender, Integer partNumber, const std::string& folder, bool& answered);
    // Fires OnReplacing and broadcasts bmReplacing.
    virtual void Replacing(TCustomInstallFile* file);
    // Fires OnStatus with the file percent and name, broadcasts bmFileStatus.
    virtual void Status(TFileStatusParameter* parameter);
    // Size of its files: all or only the included ones, optionally with those
    // of the sub-containers.
    virtual std::int64_t SizeOfFiles(bool onlyIncluded, bool withSubContainers);
    // pmCompress (no options), pmInstall, pmCopy, pmReflect; idle afterwards.
    virtual void Process(Integer mode);
    virtual void Copy();
    virtual void FreeInstallFiles();
    virtual void Compress(Integer options);
    // Compressed size of its files, recursive.
    virtual std::int64_t CompressedSize();
    // Raises when no archive was downloaded.
    virtual std::string DownloadedArchivePath();
    virtual std::int64_t OwnFilesSize();
    virtual std::int64_t SizeWithSubContainers();
    // Reads its files' information from the archive / from their sources
    // (recursive, hourglass cursor).
    virtual void ReadInfoFromArchive();
    virtual void ReadInfoFromSources();
    // Whether network files remain to be downloaded.
    virtual bool HasNetFilesToDownload();

    // -- properties
    TFileContainerMode Mode() const { return FMode; }
    bool Busy() const { return FMode != fcmIdle; }
    std::int64_t TotalSize() const { return FTotalSize; }
    std::int64_t BytesDone() const { return FBytesDone; }
    TpsFileContainer* FileContainerSpecifier() const { return FSpecifier; }
    std::string Description;
    TNotifyEvent OnBeforeInstallObjects;
    TAfterInstallObjectsEvent OnAfterInstallObjects;
    TContainerNewDiskEvent OnNewDisk;
    TContainerFileEvent OnReplacing;
    TContainerStatusEvent OnStatus;
    // Set while an archive operation of this container was stopped.
    bool ArchiveStopped = false;

    // The install file whose source folder and file name, joined by a
    // backslash, equal path (case-insensitive); nil when none.
    TCustomInstallFile* FindFileBySourcePath(const std::string& path) const;
    // The container's network archive for the build (see Compress).
    std::string NetArchivePath(const std::string& componentName, TCustomNetInstallLocation* location);
    void SendToContainer(Integer code, TObject* parameter);

protected:
    void Loaded() override;
    void Notification(TComponent* component, TOperation operation) override;
    void SetMode(TFileContainerMode mode) { FMode = mode; }
    // Back to idle, with the end-of-copy broadcast.
    void EndCopy();
    // In mode: the before-process event, body, the after-process event and
    // the container's end; idle again afterwards, also when body throws.
    void RunProcess(TFileContainerMode mode, const std::function<void()>& body);
    void CompressChild(TFileRelated* child, Integer options);
    void AddToTotals(TFileStatusParameter* parameter, TCustomInstallFile* file);

    TFileContainerMode FMode = fcmIdle;
    std::int64_t FTotalSize = 0;
    std::int64_t FBytesDone = 0;
    TpsFileContainer* FSpecifier = nullptr;

private:
    friend class TpsFileContainer;
    void CreateSpecifier();
};

// The path specifier of one file container: the container's destination.
class TpsFileContainer : public TCustomPathSpecifier {
public:
    explicit TpsFileContainer(TComponent* owner);
    ~TpsFileContainer() override;
    TFileContainer* FileContainer() const { return FFileContainer; }
    void SetFileContainer(TFileContainer* value);
    void CheckObject(TObject* obj) override;
    void GetDescription(std::string& text) override;
    void GetPath(TObject* obj, std::string& path) override;
    void GetDisplayName(std::string& text) override;
    // Renames itself; a clash renames the other component "nameClash" + n.
    void SetName(const std::string& value) override;

private:
    friend class TFileContainer;
    TFileContainer* FFileContainer = nullptr;
};

// Dialog options of a group.
class TInstallGroupDialogOptions : public TPersistent {
public:
    TInstallGroupDialogOptions();
    ~TInstallGroupDialogOptions() override;
    bool AllowChangeDir = true;
    bool AllowExcludeInclude = true;
    TStringList* Description; // owned
    bool DisplayDirectory = true;
    std::string SmallIcon; // the icon's file, when one is given
    bool ShowRegardlessOfInclude = true;
    void Assign(TPersistent* source) override;
};

// A group: contained only by the install component or another group.
class TCustomInstallGroup : public TFileContainer {
public:
    explicit TCustomInstallGroup(TComponent* owner);
    ~TCustomInstallGroup() override;
    Integer KindCode() const override { return kcInstallGroup; }
    void SetContainer(TInstallContainer* value) override;
    TInstallGroupDialogOptions* DialogOptions; // owned

protected:
    void Loaded() override;
};
class TInstallGroup : public TCustomInstallGroup {
public:
    using TCustomInstallGroup::TCustomInstallGroup;
};

// A destination folder.
class TInstallDirectory : public TFileContainer {
public:
    explicit TInstallDirectory(TComponent* owner);
    // Removes and frees every install file whose source file does not exist.
    virtual void CleanUp();
};

// The folder of a network location's archives below the main archive's
// folder: the host and the directory (or the protocol and the host), each
// made a usable file name, joined by a backslash.
std::string NetworkFolder(TCustomNetInstallLocation* location);

// ------------------------------------------------------------ install files

enum TInstallFileType { iftNormal, iftJustADLL, iftApplicationSpecificDLL, iftVendorSharedDLL, iftSystemWideDLL };
enum TInstallFileState { ifsNone, ifsCompress, ifsInstall, ifsCopying, ifsReflect };

// One file of the installation: what the containers and the archive need of
// it. Its IDs stand in a program-wide table of 2000 entries (a new file takes
// the lowest free one; a 2001st is refused).
class TCustomInstallFile : public TFileRelated {
public:
    explicit TCustomInstallFile(TComponent* owner);
    ~TCustomInstallFile() override;
    Integer KindCode() const override { return kcInstallFile; }

    std::string FileName;
    std::string IncludeFromDir; // the source folder, no trailing backslash
    std::string DestName;
    TOverwriteType OverwriteMode = owAlways;
    TInstallFileType FileType = iftNormal;
    TInstallFileState State = ifsNone;
    Integer UniqueID() const { return FUniqueID; }
    // Claims id (0..1999) for this file, giving up its former one.
    void SetUniqueID(Integer id);

    // Facts of the source, from the source at build time or from the archive
    // at install time.
    std::int64_t SourceSize = 0;
    TDateTime SourceDate = 0;
    std::string Version;
    std::int64_t CompressedSizeOf = 0;
    bool InfoRead = false;
    Integer ArchiveState = 0; // 0 none, 1 in its own network archive, 2 compressed
    std::string ArchiveName;

    // The source folder and the file name joined by a backslash.
    std::string SourcePath() const;
    // Reads size, date and version from the archive record of its ID.
    virtual void ReadInfoFromArchive();
    // Reads size, date and version from the source file.
    virtual void ReadInfoFromSource();
    // Compresses the source into the archive (build time).
    virtual void CompressFile();
    // Copies the source to the destination uncompressed.
    virtual void CopyFile();
    // Whether the file has an archive of its own on the network.
    virtual bool HasOwnNetArchive() const;

    // Builds the file-status parameter from the archive's status and sends
    // it up (ieInstallStatus / ieCompressStatus / ieCopyStatus by State).
    void StatusStep(const TDrvnCompressStatus& status);

    // -- installing (cmp_TInstallContainer_InstallStep.cpp)
    bool ActiveX() const { return FActiveX; }
    bool RegisterAsHelp = false;
    bool RunAfterInstall = false;
    bool UpdateDLLCounter = false;
    TDrvnFileAttributes InstallAttributes;
    bool DestExisted = false;   // the destination existed when the step began
    bool ToBeCopied = false;    // the replacement step ran
    bool InUse = false;         // the destination was held open: replaced at the next start
    // The name the file is installed under (the uninstall list and the help
    // registration keep it when the file goes in under a numbered name).
    std::string OriginalDestName;
    TNotifyEvent OnBeforeInstall;
    TNotifyEvent OnAfterInstall;
    TNotifyEvent OnReplacing;
    // Around the compression (build time) and the uncompressed copy; a silent
    // abort (EAbort) from a before-event skips the file.
    TNotifyEvent OnBeforeCompress;
    TNotifyEvent OnAfterCompress;
    TNotifyEvent OnBeforeCopy;
    TNotifyEvent OnAfterCopy;
    // Another archive disk is needed: (Sender, part number, var folder). A
    // handler answers the request (no prompt follows).
    TContainerNewDiskEvent OnNewDisk;
    // Progress of this file: (Sender, file percent, overall percent).
    std::function<void(TObject* sender, Integer filePercent, Integer overallPercent)> OnStatus;
    // Setting ifsCompress, ifsInstall or ifsCopying performs that operation
    // (compress, install step, copy); State is ifsNone again afterwards.
    void SetState(TInstallFileState value);

    // Setters that run the common validation outside loading.
    void SetFileName(const std::string& value);
    void SetIncludeFromDir(const std::string& value);
    void SetDestName(const std::string& value);
    void SetFileType(TInstallFileType value);
    void SetActiveX(bool value);
    void SetContainer(TInstallContainer* value) override;
    void SetDestDirType(TCustomPathSpecifier* value) override;

    // The install step of an included file (the tree's step calls it).
    void InstallChildren() override;
    // Raises EAIUserAbort (the archive's OnAborted).
    virtual void AbortHandler(TObject* sender);
    // Self-registration by the destination's extension.
    virtual void SelfRegister();
    // Makes the destination replaceable, or sends the file to a numbered
    // name to be moved over it at the next start.
    virtual void ReplaceExisting();
    // Whether the source's version resource declares "OLESelfRegister".
    virtual bool SourceDeclaresSelfRegister();
    // Increments the file's shared-file count.
    virtual void IncrementSharedCount();
    // Work of kind 0 after the restart: self-registration and attributes.
    virtual void CompleteAfterReboot();
    void WriteUninstallInfo(const std::string& keyPath) override;
    // The installed file (destination folder and DestName).
    std::string DestinationPath();

private:
    void Validate(int what, TInstallContainer* newContainer, TCustomPathSpecifier* newSpecifier);
    // Fires a before-event; false when it raised a silent abort (skip the file).
    bool BeforeEvent(const TNotifyEvent& event);
    void RegistrationSteps();
    void ExtractFromArchive();
    std::string ChangeDiskStep(Integer part, const std::string& directory);
    // The archive extracting this file (while ExtractFromArchive runs).
    TDrvnCompress* FExtracting = nullptr;
    Integer FUniqueID = -1;
    bool FActiveX = false;
};
class TInstallFile : public TCustomInstallFile {
public:
    using TCustomInstallFile::TCustomInstallFile;
};

} // namespace orvex
