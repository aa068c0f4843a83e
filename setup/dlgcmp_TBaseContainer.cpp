#include "setup/dlgcmp_TBaseContainer.h"

#include "installer/cmp_TInstall.h"
#include "installer/cmp_TTranslateControls.h"
#include "installer/exceptions_Dorvane.h"
#include "setup/dlgcmp_TBadInstallationDlg.h"
#include "setup/dlgcmp_TChangeDiskDlg.h"
#include "setup/dlgcmp_TCopyFile.h"
#include "setup/dlgcmp_TLicenseDlg.h"
#include "setup/dlgcmp_TReadmeDlg.h"
#include "setup/dlgcmp_TReboot.h"
#include "setup/ordlg_GoodInstallForm.h"

#include <algorithm>

namespace orvex {

namespace {

TDialogManager* GCurrentManager = nullptr;

std::string NameForMessages(const TComponent* component)
{
    return component->Name().empty() ? component->ClassName() : component->Name();
}

} // namespace

TDialogManager* CurrentDialogManager()
{
    return GCurrentManager;
}

TDialogManager* FindDialogManager(TManagerType type)
{
    TCustomInstall* install = GetInstall();
    if (install == nullptr)
        return nullptr;
    TInstallContainerList* list = InstallContainerList();
    for (int i = 0; i < list->Count(); ++i) {
        auto* manager = dynamic_cast<TDialogManager*>(list->Get(i));
        if (manager != nullptr && manager->ManagerType == type && manager->Container() == install)
            return manager;
    }
    return nullptr;
}

// ------------------------------------------------------------ TBaseFormContainer

TBaseFormContainer::TBaseFormContainer(TComponent* owner) : TBaseDorvaneForm(owner)
{
    SetBorderStyle(bsDialog);
    BorderIcons = biSystemMenu;
    PageControl = new TPageControl(this);
    PageControl->SetName("PageControl");
    PageControl->SetParent(this);
    PageControl->SetAlign(alClient);
    PageControl->SetTabHeight(0);
    PageControl->OnChanging = [this](TObject*, bool&) {
        FChangingFrom = CurrentIndex();
        if (TBaseInstallForm* page = CurrentPage())
            page->LeavePage();
    };
    PageControl->OnChange = [this](TObject*) {
        const int index = CurrentIndex();
        SelectPage(index, index >= FChangingFrom);
    };
    OnShow = [this](TObject*) {
        if (!FShown) {
            FShown = true;
            FirstShow();
        }
    };
    // Only finishing and a cancel close the wizard; after the work, closing
    // the window is finishing it.
    OnCloseQuery = [this](TObject*, bool& canClose) {
        canClose = FFinishing || ModalResult() == mrAbort || FollowsWork;
    };
}

TBaseFormContainer::~TBaseFormContainer()
{
    // The pages go first: they still ask the container while they go.
    for (TBaseInstallForm* page : FPages)
        delete page;
    FPages.clear();
}

void TBaseFormContainer::AddPage(TBaseInstallForm* page)
{
    auto* sheet = new TTabSheet(this);
    sheet->SetPageControl(PageControl);
    sheet->SetCaption(page->ClassName());
    page->SetParent(sheet);
    page->SetAlign(alClient);
    FPages.push_back(page);
}

void TBaseFormContainer::SortPages()
{
    const int n = PageCount();
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
            if (FPages[j]->Order < FPages[i]->Order)
                std::swap(FPages[i], FPages[j]);
    for (int i = 0; i < n; ++i)
        static_cast<TTabSheet*>(FPages[i]->Parent())->SetPageIndex(i);
}

int TBaseFormContainer::CurrentIndex() const
{
    TTabSheet* sheet = PageControl->ActivePage();
    for (int i = 0; i < PageCount(); ++i)
        if (FPages[i]->Parent() == sheet)
            return i;
    return -1;
}

TBaseInstallForm* TBaseFormContainer::CurrentPage() const
{
    const int index = CurrentIndex();
    return index < 0 ? nullptr : FPages[index];
}

bool TBaseFormContainer::SelectPage(int index, bool forward)
{
    while (index >= 0 && index < PageCount()) {
        TBaseInstallForm* page = FPages[index];
        if (page->SkipPage()) {
            index += forward ? 1 : -1;
            continue;
        }
        PageControl->SetActivePage(static_cast<TTabSheet*>(page->Parent()));
        SetCaption(page->Caption());
        page->Activate();
        return true;
    }
    return false;
}

void TBaseFormContainer::Next()
{
    // Never backwards: when every later page skips itself, the wizard is done.
    if (!SelectPage(CurrentIndex() + 1, true)) {
        FFinishing = true;
        SetModalResult(mrOk);
    }
}

void TBaseFormContainer::Previous()
{
    const int previous = CurrentIndex() - 1;
    if (!SelectPage(previous, false))
        SelectPage(previous, true);
}

void TBaseFormContainer::FirstShow()
{
    SelectPage(0, true);
    BringToFront();
}

// ---------------------------------------------------------------- TDialogManager

TDialogManager::TDialogManager(TComponent* owner) : TInstallObject(owner) {}

TDialogManager::~TDialogManager()
{
    CloseProgressWindows();
    for (TCustomBaseInstallDlg* dialog : std::vector<TCustomBaseInstallDlg*>(FDialogs))
        dialog->SetDialogManager(nullptr);
    if (GCurrentManager == this)
        GCurrentManager = nullptr;
}

void TDialogManager::AddDialog(TCustomBaseInstallDlg* dialog)
{
    if (dialog == nullptr)
        throw Exception(FormatFromEnglish("Cannot add a NIL Dialog to the Dialog Manager %s", {Name()}));
    if (std::find(FDialogs.begin(), FDialogs.end(), dialog) == FDialogs.end())
        FDialogs.push_back(dialog);
}

void TDialogManager::RemoveDialog(TCustomBaseInstallDlg* dialog)
{
    FDialogs.erase(std::remove(FDialogs.begin(), FDialogs.end(), dialog), FDialogs.end());
}

void TDialogManager::ReceiveMessage(TObject* sender, Integer code, TObject* parameter)
{
    auto showFor = [&](TManagerType type) {
        if (ManagerType == type)
            ShowPages();
    };
    switch (code) {
    case bmBeforeInstall: showFor(dmBeforeInstall); break;
    case bmAfterGoodInstall: showFor(dmAfterGoodInstall); break;
    case bmAfterBadInstall: showFor(dmAfterBadInstall); break;
    case bmRegistration: showFor(dmRegistration); break;
    case bmReboot: showFor(dmReboot); break;
    case bmFileStatus:
        if (ManagerType != dmDuringCopyFiles)
            break;
        if (parameter == nullptr)
            throw Exception(FormatFromEnglish("%s got a nil PO parameter", {NameForMessages(this)}));
        if (dynamic_cast<TFileStatusParameter*>(parameter) == nullptr)
            throw Exception(FormatFromEnglish("The PO object passed to %s is not a TFileStatusParameter object",
                                              {NameForMessages(this)}));
        UpdateProgressWindows(parameter, false);
        break;
    case bmDownloadStatus:
        if (ManagerType != dmDuringCopyFiles)
            break;
        if (parameter == nullptr)
            throw Exception(FormatFromEnglish("%s got a nil PO parameter", {NameForMessages(this)}));
        if (dynamic_cast<TDownloadStatusParameter*>(parameter) == nullptr)
            throw Exception(FormatFromEnglish(
                "The PO object passed to %s is not a TDownloadStatusParameter object", {NameForMessages(this)}));
        UpdateProgressWindows(parameter, true);
        break;
    case bmEndCopy:
        if (ManagerType == dmDuringCopyFiles)
            CloseProgressWindows();
        break;
    case bmNewDisk:
        if (ManagerType == dmChangeDisk)
            ShowChangeDiskForm(parameter);
        break;
    default: break;
    }
}

void TDialogManager::ShowPages()
{
    GCurrentManager = this;
    auto* container = new TBaseFormContainer(Application);
    FPageContainer = container;
    container->FollowsWork = MomentFollowsWork(ManagerType);
    TModalResult result = mrNone;
    bool anyShown = false;
    try {
        const TPoint at = DialogPlacement(Position, Width, Height, RelativeLeftOffset, RelativeTopOffset);
        container->SetBounds(at.X, at.Y, Width, Height);
        TFormRegistry& registry = BIFList();
        for (int i = 0; i < registry.Count(); ++i) {
            const TFormEntry& entry = registry.Entry(i);
            TCustomBaseInstallDlg* dialog = entry.Dialog;
            if (GCurrentManager == nullptr)
                throw Exception(TranslateFromEnglish("The current dialog manager is not defined"));
            if (dialog != nullptr && (dialog->DialogManager() != GCurrentManager || !dialog->CanShow()))
                continue;
            TBaseDorvaneForm* form = entry.FormClass.Create(container);
            auto* page = dynamic_cast<TBaseInstallForm*>(form);
            if (page == nullptr) {
                delete form;
                continue;
            }
            if (dialog != nullptr)
                page->DM = dialog->DialogManager();
            else
                page->FindOwnDialogManager();
            if (dialog == nullptr && page->DM != GCurrentManager) {
                delete page;
                continue;
            }
            container->AddPage(page);
            if (dialog != nullptr) {
                page->DC = dialog;
                page->InstallContainer = dialog->Container();
                page->Order = dialog->Order();
                dialog->CurrentForm = page;
                page->FreeNotification(dialog);
                dialog->AssignDialogProperties();
            }
            page->Translate();
            page->Show();
        }
        container->SortPages();
        // A container whose every page skips itself has nothing to show:
        // the wizard is done at once.
        for (int i = 0; i < container->PageCount() && !anyShown; ++i)
            anyShown = !container->Pages(i)->SkipPage();
        if (anyShown)
            result = container->ShowModal();
    } catch (...) {
        FPageContainer = nullptr;
        GCurrentManager = nullptr;
        delete container;
        throw;
    }
    if (TCustomForm* main = Application->MainForm())
        main->Repaint();
    Application->ProcessMessages();
    FPageContainer = nullptr;
    GCurrentManager = nullptr;
    delete container;
    // Only pages finished by the user go on: a cancel, and a container closed
    // any other way (nobody will answer it), stop the run before the work.
    if (anyShown && result != mrOk && !MomentFollowsWork(ManagerType))
        throw EAIUserAbort();
}

void TDialogManager::UpdateProgressWindows(TObject* parameter, bool download)
{
    if (FProgressWindows.empty()) {
        TFormRegistry& registry = DCFList();
        for (int i = 0; i < registry.Count(); ++i) {
            const TFormEntry& entry = registry.Entry(i);
            TBaseDorvaneForm* form = entry.FormClass.Create(Application);
            auto* window = dynamic_cast<TBaseDuringCopyForm*>(form);
            if (window == nullptr) {
                delete form;
                continue;
            }
            if (entry.Dialog != nullptr)
                window->DM = entry.Dialog->DialogManager();
            else
                window->FindOwnDialogManager();
            if (window->DM != this) {
                delete window;
                continue;
            }
            if (TCustomBaseInstallDlg* dialog = entry.Dialog) {
                dialog->CurrentForm = window;
                window->FreeNotification(dialog);
                const int width = dialog->Width > 0 ? dialog->Width : window->Width();
                const int height = dialog->Height > 0 ? dialog->Height : window->Height();
                const TPoint at = DialogPlacement(dialog->Position, width, height, dialog->RelativeLeftOffset,
                                                  dialog->RelativeTopOffset);
                window->SetBounds(at.X, at.Y, width, height);
            }
            window->UpdateButtons();
            window->Translate();
            window->Show();
            FProgressWindows.push_back(window);
            window->FreeNotification(this);
        }
    }
    for (TBaseDuringCopyForm* window : FProgressWindows) {
        if (download)
            window->UpdateDownloadStatus(static_cast<TDownloadStatusParameter*>(parameter));
        else
            window->UpdateFileStatus(static_cast<TFileStatusParameter*>(parameter));
    }
}

void TDialogManager::Notification(TComponent* component, TOperation operation)
{
    TInstallObject::Notification(component, operation);
    if (operation == opRemove)
        std::erase(FProgressWindows, component);
}

void TDialogManager::CloseProgressWindows()
{
    std::vector<TBaseDuringCopyForm*> windows;
    windows.swap(FProgressWindows);
    for (TBaseDuringCopyForm* window : windows)
        delete window;
}

void TDialogManager::ShowChangeDiskForm(TObject* parameter)
{
    TFormRegistry& registry = CDFList();
    if (registry.Count() == 0)
        return;
    const TFormEntry& entry = registry.Entry(0);
    std::unique_ptr<TBaseDorvaneForm> created(entry.FormClass.Create(Application));
    auto* form = dynamic_cast<TBaseChangeDiskForm*>(created.get());
    if (form == nullptr)
        return;
    if (entry.Dialog != nullptr)
        form->DM = entry.Dialog->DialogManager();
    else
        form->FindOwnDialogManager();
    if (form->DM != this)
        return;
    if (parameter == nullptr)
        throw Exception(TranslateFromEnglish(
            "The ParameterObject is Nil in the TDialogManager. Cannot show the change disk form"));
    auto* list = dynamic_cast<TList*>(parameter);
    if (list == nullptr)
        throw Exception(TranslateFromEnglish("TChangeDiskDlg--PO is not a TList object"));
    if (list->Count() < 2)
        throw Exception(TranslateFromEnglish("TChangeDiskDlg--Not engouh parameters for status event"));
    auto* file = dynamic_cast<TCustomInstallFile*>(static_cast<TObject*>(list->Get(0)));
    if (file == nullptr)
        throw Exception(TranslateFromEnglish("TChangeDiskDlg says bad first parameter"));
    auto* disk = dynamic_cast<TDiskParameter*>(static_cast<TObject*>(list->Get(1)));
    if (disk == nullptr)
        throw Exception(TranslateFromEnglish("TChangeDiskDlg says bad second parameter"));
    // The request travels up through every busy container, each
    // broadcasting it: the first answer (a container's OnNewDisk handler or
    // this form) flags the install file, and a flagged request is not asked
    // again.
    if (file->Tag == 1)
        return;
    file->Tag = 1;
    if (entry.Dialog != nullptr) {
        entry.Dialog->CurrentForm = form;
        form->FreeNotification(entry.Dialog);
    }
    form->DiskParameter = disk;
    form->UpdateButtons();
    form->Translate();
    const TModalResult result = form->ShowModal();
    created.reset();
    // Only "Proceed" goes on: a form closed any other way (a cancel, or no
    // answer at all) must not leave the archive asking for the part forever.
    if (result != mrOk)
        throw EAIUserAbort();
}

// ----------------------------------------------------------------- registration

void RegisterWizardForms()
{
    CreateWizardRegistries();
    UseFormsTranslationSite();
    // What the stock form units register at start-up ...
    BIFList().Add(LicenseFormClass(), nullptr);
    BIFList().Add(ReadmeFormClass(), nullptr);
    BIFList().Add(RebootFormClass(), nullptr);
    BIFList().Add(GoodInstallFormClass(), nullptr);
    BIFList().Add(BadInstallFormClass(), nullptr);
    CDFList().Add(ChangeDiskFormClass(), nullptr);
    DCFList().Add(CopyFileFormClass(), nullptr);
    // ... and what their dialog components' units withdraw: those forms are
    // shown only for a dialog component. The good-install page has no
    // dialog component and is withdrawn by its own unit.
    BIFList().Remove(LicenseFormClass(), nullptr);
    BIFList().Remove(ReadmeFormClass(), nullptr);
    BIFList().Remove(RebootFormClass(), nullptr);
    BIFList().Remove(GoodInstallFormClass(), nullptr);
    BIFList().Remove(BadInstallFormClass(), nullptr);
    CDFList().Remove(ChangeDiskFormClass(), nullptr);
    DCFList().Remove(CopyFileFormClass(), nullptr);
}

void UnregisterWizardForms()
{
    DestroyWizardRegistries();
}

} // namespace orvex
