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

#include <functional>
#include <string>

namespace orvex {

enum TDistributeType { dtTraditional, dtWeb, dtTraditionalNet };

using TUserAbortEvent = std::function<void(TObject* sender, bool& abort)>;

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

private:
    TInstallInformation* FInformation; // owned
    bool FRunning = false;
    TDistributeType FDistributeType = dtTraditional;
};

class TInstall : public TCustomInstall {
public:
    using TCustomInstall::TCustomInstall;
};

} // namespace orvex
