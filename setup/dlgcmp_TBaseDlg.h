#pragma once
// The base forms of the wizard and its dialog components.
//
// Every form of the installer library derives from TBaseDorvaneForm, which
// translates itself and sets its fonts through the main translator. Wizard
// pages derive from TBaseInstallForm, progress windows from
// TBaseDuringCopyForm, the change-disk form from TBaseChangeDiskForm.
//
// A page may be bound to a dialog component (TCustomBaseInstallDlg), an
// install object that carries its settings and places it under a dialog
// manager; or it is registered by itself and finds its manager by its
// manager type. The program-wide registries (pages, progress windows,
// change-disk forms, uninstall forms) list which form classes the managers
// create: an entry holds the form class and its dialog component (or nil).
// The registries exist between RegisterWizardForms and
// UnregisterWizardForms (dlgcmp_TBaseContainer.h): explicit calls, never
// static initialisation.

#include "host/forms/ExtCtrls.h"
#include "host/forms/Forms.h"
#include "installer/cmp_TInstallContainer.h"
#include "installer/cmp_TTranslator.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orvex {

class TBaseFormContainer;
class TCustomBaseInstallDlg;
class TDialogManager;
class TCustomInstall;

// The moment of an installation a dialog manager shows its pages for.
enum TManagerType {
    dmBeforeInstall,
    dmAfterGoodInstall,
    dmAfterBadInstall,
    dmDuringCopyFiles,
    dmChangeDisk,
    dmReboot,
    dmRegistration,
    dmUninstall,
};

// Whether the pages of that moment follow the installation's work (a good or
// a bad end, the reboot question): the run's outcome is decided by then, so
// they offer no Cancel, and a container of them that is closed any other way
// than by Finish is simply done.
bool MomentFollowsWork(TManagerType type);

// Where a container or progress window goes on the screen.
enum TDorvaneDialogPosition {
    ddpCenterLeft,
    ddpCenter,
    ddpCenterRight,
    ddpBottomLeft,
    ddpBottomCenter,
    ddpBottomRight,
    ddpTopLeft,
    ddpTopCenter,
    ddpTopRight,
};

// The top-left corner of a window of that size at the position, moved by the
// relative offsets: left column dx, middle dx + round(screen/2 - width/2),
// right screen - width - dx; centre row dy + round(screen/2 - height/2),
// bottom row screen - caption height - height - dy, top row dy.
TPoint DialogPlacement(TDorvaneDialogPosition position, int width, int height, int dx, int dy);

// ------------------------------------------------------------- the forms

// The base of every library form: translation and fonts by the translator.
class TBaseDorvaneForm : public TForm {
public:
    explicit TBaseDorvaneForm(TComponent* owner);
    ~TBaseDorvaneForm() override;

    bool AutoSetFont = true;
    bool AutoTranslate = true;
    // The install container the form belongs to (the dialog's container).
    TInstallContainer* InstallContainer = nullptr;
    // The language the form's texts are in now.
    TDrvnLanguage LanguageShown = dlEnglish;
    // Whether TargetLanguage, not the main translator's language, rules.
    bool OverrideMainTranslator = false;
    TDrvnLanguage TargetLanguage = dlUser;

    // -- virtual operations added, in order
    // Calls TranslateForm.
    virtual void Translate();
    virtual void UpdateButtons() {}
    // Fonts for the target language (when AutoSetFont), the texts from the
    // language shown into it (when AutoTranslate), then window messages.
    virtual void TranslateForm();

    // The manager type the form class answers (the moment it is shown at).
    virtual TManagerType ManagerType() const { return dmBeforeInstall; }
    // Its dialog manager: set by whoever creates it for a dialog, else the
    // first dialog manager of its type under the install component.
    TDialogManager* DM = nullptr;
    // Finds DM as a form created without a dialog does.
    void FindOwnDialogManager();
};

// The library forms while they exist, in creation order.
const std::vector<TBaseDorvaneForm*>& DorvaneFormList();

// A wizard page.
class TBaseInstallForm : public TBaseDorvaneForm {
public:
    explicit TBaseInstallForm(TComponent* owner);

    TCustomBaseInstallDlg* DC = nullptr;
    Integer Order = 0;
    // The page container showing the page (its owner), nil when shown alone.
    TBaseFormContainer* PageContainer() const;

    // -- virtual operations added, in order
    // Every page before the current one in the container skips itself.
    virtual bool IsFirstPage();
    // The current page is the container's last.
    virtual bool IsLastPage();
    // The page is being left for another (nothing here).
    virtual void LeavePage() {}
    // The container's (else the page's own) modal result becomes mrAbort.
    virtual void ForceCancel();
    virtual void Next();
    virtual void Previous();
    // UpdateButtons, then the page comes to the front.
    virtual void Activate();
    virtual bool SkipPage() { return false; }
    // Asks the install component's cancel confirmation (confirmed without
    // one); when confirmed, as ForceCancel. Nothing on a page that offers no
    // Cancel.
    virtual void Cancel();
    // Whether the page lets the user cancel the installation: not when its
    // moment follows the work (its manager's type, else its own).
    bool CancelOffered() const;

    // The picture of the page: its dialog's ThemeBitmap when not empty,
    // else the install component's default.
    TPicture* ThemePicture() const;
};

// A progress window (shown without modality while files are copied).
class TBaseDuringCopyForm : public TBaseDorvaneForm {
public:
    using TBaseDorvaneForm::TBaseDorvaneForm;
    TManagerType ManagerType() const override { return dmDuringCopyFiles; }
    // Asks the cancel confirmation; when confirmed stops the archive and any
    // download, and the modal result becomes mrAbort.
    virtual void Cancel();
    virtual void UpdateFileStatus(TFileStatusParameter* status) {}
    virtual void UpdateDownloadStatus(TDownloadStatusParameter* status) {}
};

// The form that asks for the next disk.
class TBaseChangeDiskForm : public TBaseDorvaneForm {
public:
    using TBaseDorvaneForm::TBaseDorvaneForm;
    TManagerType ManagerType() const override { return dmChangeDisk; }
    // Asks the cancel confirmation; when confirmed the modal result becomes
    // mrAbort.
    virtual void Cancel();
    // The part asked for (not owned; the sender's).
    TDiskParameter* DiskParameter = nullptr;
};

// Asks the install component's cancel confirmation: true without one.
bool ConfirmUserAbort();

// Stops what a progress window's Cancel stops: the archive and downloads.
void StopArchiveAndDownloads();

// The install component's default picture for pages; nil while it offers
// none (a hook the install component sets).
void SetDefaultThemePictureHook(std::function<TPicture*()> hook);

// ------------------------------------------------------- the registries

// A form class that the registries can create.
struct TDorvaneFormClass {
    std::string Name; // the class name, as tabs are named
    TBaseDorvaneForm* (*Create)(TComponent* owner) = nullptr;
    bool Assigned() const { return Create != nullptr; }
    friend bool operator==(const TDorvaneFormClass& a, const TDorvaneFormClass& b)
    {
        return a.Create == b.Create;
    }
};

template <class T>
TDorvaneFormClass FormClassOf(const char* name)
{
    return {name, [](TComponent* owner) -> TBaseDorvaneForm* { return new T(owner); }};
}

struct TFormEntry {
    TDorvaneFormClass FormClass;
    TCustomBaseInstallDlg* Dialog = nullptr;
    Integer Data = 0;
};

// One registry: entries in the order they were added.
class TFormRegistry {
public:
    explicit TFormRegistry(std::string listName) : FListName(std::move(listName)) {}
    void Add(const TDorvaneFormClass& formClass, TCustomBaseInstallDlg* dialog);
    // Withdraws the entry of that class and dialog (nothing when absent).
    void Remove(const TDorvaneFormClass& formClass, TCustomBaseInstallDlg* dialog);
    // Withdraws every entry of the dialog.
    void RemoveDialog(TCustomBaseInstallDlg* dialog);
    int Count() const { return static_cast<int>(FEntries.size()); }
    // "%d is an invalid index in the BIFList" outside the list.
    const TFormEntry& Entry(int index) const;
    const std::string& ListName() const { return FListName; }

private:
    std::string FListName;
    std::vector<TFormEntry> FEntries;
};

// The four registries; each raises "The BIFList is NIL" (with its own name)
// outside RegisterWizardForms ... UnregisterWizardForms.
TFormRegistry& BIFList(); // wizard pages
TFormRegistry& DCFList(); // progress windows
TFormRegistry& CDFList(); // change-disk forms
TFormRegistry& UIFList(); // uninstall forms (kept, unused)
bool WizardRegistriesExist();
// Creates the registries (empty); UnregisterWizardForms empties and drops them.
void CreateWizardRegistries();
void DestroyWizardRegistries();

// ---------------------------------------------------- dialog components

using TDialogPageEvent = TNotifyEvent;

// A dialog component: an install object (type code 9000, never installed by
// its container) that places its form under a dialog manager and carries
// the form's settings.
class TCustomBaseInstallDlg : public TInstallObject {
public:
    explicit TCustomBaseInstallDlg(TComponent* owner);
    ~TCustomBaseInstallDlg() override;

    Integer KindCode() const override { return kcDialog; }
    // Without a dialog manager, the dialog's own code shows it (Execute).
    void ReceiveMessage(TObject* sender, Integer code, TObject* parameter) override;

    bool AutoSetFont = true;
    bool AutoTranslate = true;
    bool OverrideMainTranslator = false;
    TDrvnLanguage TranslateIntoLanguage = dlUser;
    TDialogPageEvent OnAfterExecute;
    TDialogPageEvent OnBeforeExecute;
    TDorvaneDialogPosition Position = ddpCenter;
    // The size and offsets of a window placed by its dialog (progress
    // windows); 0 keeps the form's own size.
    int Width = 0;
    int Height = 0;
    int RelativeLeftOffset = 0;
    int RelativeTopOffset = 0;

    TDialogManager* DialogManager() const { return FDialogManager; }
    TPicture* ThemeBitmap() const { return FThemeBitmap.get(); }
    // The form it shows now (nil when none).
    TBaseDorvaneForm* CurrentForm = nullptr;

    // -- virtual operations added, in order
    // Leaves the old manager's list and joins the new one's.
    virtual void SetDialogManager(TDialogManager* value);
    virtual void SetThemeBitmap(TPicture* value);
    // Fonts and texts of the current form by the dialog's settings.
    virtual void Translate();
    // Copies the settings into the current form ("Cannot
    // AssignDialogProperties for %s because the Dialog is Nil" without one),
    // a page also gets the dialog as DC; then Translate.
    virtual void AssignDialogProperties();
    // Shows the form by itself, modally: OnBeforeExecute, the form, a result
    // other than OK raising EAIUserAbort, OnAfterExecute. False when a silent
    // abort ended it.
    virtual bool Execute();
    // Shows the current form modally (used by Execute).
    virtual TModalResult Show();
    virtual TDorvaneFormClass PageFormClass() const = 0;
    virtual bool CanShow() { return true; }

    // The code it answers by itself (0: none).
    virtual Integer OwnCode() const { return 0; }
    // Stock dialogs apply their settings to their page here, after the
    // properties were assigned.
    virtual void SetUpForm() {}

protected:
    void Notification(TComponent* component, TOperation operation) override;
    // Registers (form class, this) in a registry; withdrawn when destroyed.
    void RegisterForm(TFormRegistry& (*registry)(), const TDorvaneFormClass& formClass);

private:
    TDialogManager* FDialogManager = nullptr;
    std::unique_ptr<TPicture> FThemeBitmap;
    std::vector<std::pair<TFormRegistry& (*)(), TDorvaneFormClass>> FRegistered;
};

class TBaseInstallDlg : public TCustomBaseInstallDlg {
public:
    using TCustomBaseInstallDlg::TCustomBaseInstallDlg;
};

} // namespace orvex
