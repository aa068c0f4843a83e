#pragma once
// The page container and the dialog managers.
//
// A dialog manager is an install object (type code 9000) standing directly
// under the install component, so the install tree's broadcasts reach it.
// It answers the codes of its moment of the installation: for the page
// moments it gathers every registered page of its type into a page
// container (TBaseFormContainer), sorted by Order, and shows it modally;
// for the copy moment it opens and updates the progress windows; for a new
// disk it shows the change-disk form. The user's cancel ends in
// EAIUserAbort, which ends the install run; so does a page container that
// closes without being finished (nobody answered it), except for the pages
// that follow the work, where the run's outcome is already decided.

#include "setup/dlgcmp_TBaseDlg.h"

#include "host/forms/ComCtrls.h"

#include <vector>

namespace orvex {

// The modal window the pages of one manager are shown in, one after the
// other: a page control whose tab row is zero pixels high, a page on each
// sheet.
class TBaseFormContainer : public TBaseDorvaneForm {
public:
    explicit TBaseFormContainer(TComponent* owner);
    ~TBaseFormContainer() override;

    TPageControl* PageControl = nullptr;
    int PageCount() const { return static_cast<int>(FPages.size()); }
    TBaseInstallForm* Pages(int index) const { return FPages.at(index); }
    // Adds the page on a new sheet named by its class, filling the sheet.
    void AddPage(TBaseInstallForm* page);
    // Sorts the pages by Order, ascending (an exchange sort that swaps only
    // on a strictly smaller order).
    void SortPages();
    // The index of the page shown, -1 before the first.
    int CurrentIndex() const;
    TBaseInstallForm* CurrentPage() const;

    // Selects the page at index, passing over pages that skip themselves in
    // the direction; false when it runs out of pages.
    bool SelectPage(int index, bool forward);
    // The next page that does not skip itself; none finishes the wizard.
    void Next();
    // The previous page that does not skip itself, else the next one.
    void Previous();
    // Whether the wizard was finished by Next.
    bool Finishing() const { return FFinishing; }
    // The pages follow the installation's work (MomentFollowsWork): closing
    // the window finishes them as Finish does, since nothing is left to
    // cancel.
    bool FollowsWork = false;

private:
    void FirstShow();
    std::vector<TBaseInstallForm*> FPages;
    bool FFinishing = false;
    bool FShown = false;
    int FChangingFrom = -1;
};

// Shows the pages of one moment of the installation.
class TDialogManager : public TInstallObject {
public:
    explicit TDialogManager(TComponent* owner);
    ~TDialogManager() override;

    Integer KindCode() const override { return kcDialog; }
    void ReceiveMessage(TObject* sender, Integer code, TObject* parameter) override;

    TManagerType ManagerType = dmBeforeInstall;
    int Height = 395;
    int Width = 478;
    TDorvaneDialogPosition Position = ddpCenter;
    int RelativeLeftOffset = 0;
    int RelativeTopOffset = 0;

    int DialogCount() const { return static_cast<int>(FDialogs.size()); }
    TCustomBaseInstallDlg* Dialogs(int index) const { return FDialogs.at(index); }
    // The progress windows open now.
    const std::vector<TBaseDuringCopyForm*>& OpenProgressWindows() const { return FProgressWindows; }

    // -- virtual operations added, in order
    // Shows the registered pages of the manager's type in a page container;
    // a container closed other than by finishing the pages (a cancel, or no
    // answer) raises EAIUserAbort unless the moment follows the work.
    virtual void ShowPages();
    // Shows the change-disk form for a list [install file, TDiskParameter].
    virtual void ShowChangeDiskForm(TObject* parameter);
    // Nil raises "Cannot add a NIL Dialog to the Dialog Manager %s".
    virtual void AddDialog(TCustomBaseInstallDlg* dialog);
    virtual void RemoveDialog(TCustomBaseInstallDlg* dialog);

    // Opens the progress windows (on the first update) and passes the status
    // to each; CloseProgressWindows frees them.
    void UpdateProgressWindows(TObject* parameter, bool download);
    void CloseProgressWindows();

    // The page container while ShowPages runs (nil otherwise).
    TBaseFormContainer* PageContainer() const { return FPageContainer; }

protected:
    // A progress window freed by someone else (the application at its end)
    // leaves the list of open ones.
    void Notification(TComponent* component, TOperation operation) override;

private:
    std::vector<TCustomBaseInstallDlg*> FDialogs;
    std::vector<TBaseDuringCopyForm*> FProgressWindows;
    TBaseFormContainer* FPageContainer = nullptr;
};

// The manager whose pages are being shown (nil when none).
TDialogManager* CurrentDialogManager();

// The first dialog manager of the type, among all install containers, whose
// container is the install component; nil when none.
TDialogManager* FindDialogManager(TManagerType type);

// Creates the registries and registers the library's stock forms as their
// units do at start-up (each form by itself, then withdrawn again by its
// dialog component's unit, so that only dialog components place them), and
// installs the forms layer's translation site. Call once at start-up, before
// any dialog component is created; UnregisterWizardForms at shut-down.
void RegisterWizardForms();
void UnregisterWizardForms();

} // namespace orvex
