#include "setup/dlgcmp_TBaseDlg.h"

#include "installer/cmp_TInstall.h"
#include "installer/cmp_TNetInstallLocation.h"
#include "installer/exceptions_Dorvane.h"
#include "setup/cmp_Rotate3DLabel.h"
#include "setup/dlgcmp_TBaseContainer.h"

#include <algorithm>

namespace orvex {

namespace {

std::vector<TBaseDorvaneForm*> GDorvaneForms;
std::function<TPicture*()> GDefaultThemePictureHook;

std::unique_ptr<TFormRegistry> GBIFList;
std::unique_ptr<TFormRegistry> GDCFList;
std::unique_ptr<TFormRegistry> GCDFList;
std::unique_ptr<TFormRegistry> GUIFList;

TFormRegistry& NeedRegistry(const std::unique_ptr<TFormRegistry>& registry, const char* name)
{
    if (!registry)
        throw Exception(FormatFromEnglish("The %s is NIL", {std::string(name)}));
    return *registry;
}

} // namespace

TPoint DialogPlacement(TDorvaneDialogPosition position, int width, int height, int dx, int dy)
{
    const int screenWidth = Screen->Width();
    const int screenHeight = Screen->Height();
    TPoint p;
    switch (position) {
    case ddpCenterLeft:
    case ddpBottomLeft:
    case ddpTopLeft: p.X = dx; break;
    case ddpCenter:
    case ddpBottomCenter:
    case ddpTopCenter: p.X = dx + RoundHalfEven(screenWidth / 2.0 - width / 2.0); break;
    case ddpCenterRight:
    case ddpBottomRight:
    case ddpTopRight: p.X = screenWidth - width - dx; break;
    }
    switch (position) {
    case ddpCenterLeft:
    case ddpCenter:
    case ddpCenterRight: p.Y = dy + RoundHalfEven(screenHeight / 2.0 - height / 2.0); break;
    case ddpBottomLeft:
    case ddpBottomCenter:
    case ddpBottomRight: p.Y = screenHeight - Screen->CaptionHeight() - height - dy; break;
    case ddpTopLeft:
    case ddpTopCenter:
    case ddpTopRight: p.Y = dy; break;
    }
    return p;
}

// --------------------------------------------------------------- TBaseDorvaneForm

TBaseDorvaneForm::TBaseDorvaneForm(TComponent* owner) : TForm(owner)
{
    Font()->SetCharset(ANSI_CHARSET);
    GDorvaneForms.push_back(this);
}

TBaseDorvaneForm::~TBaseDorvaneForm()
{
    GDorvaneForms.erase(std::remove(GDorvaneForms.begin(), GDorvaneForms.end(), this), GDorvaneForms.end());
}

const std::vector<TBaseDorvaneForm*>& DorvaneFormList()
{
    return GDorvaneForms;
}

void TBaseDorvaneForm::Translate()
{
    TranslateForm();
}

void TBaseDorvaneForm::TranslateForm()
{
    if (AutoSetFont) {
        if (OverrideMainTranslator)
            SetControlFontsInLanguage(TargetLanguage, this);
        else
            SetControlFonts(this);
    }
    if (AutoTranslate) {
        if (OverrideMainTranslator)
            LanguageShown = TranslateComponentInLanguage(LanguageShown, TargetLanguage, this);
        else
            LanguageShown = TranslateComponent(LanguageShown, this);
    }
    Application->ProcessMessages();
}

void TBaseDorvaneForm::FindOwnDialogManager()
{
    DM = FindDialogManager(ManagerType());
}

// --------------------------------------------------------------- TBaseInstallForm

TBaseInstallForm::TBaseInstallForm(TComponent* owner) : TBaseDorvaneForm(owner)
{
    // A page owned by a form lives inside it as a borderless child window.
    if (auto* form = dynamic_cast<TCustomForm*>(owner)) {
        SetBorderStyle(bsNone);
        BorderIcons = 0;
        SetParent(form);
        SetAlign(alClient);
    }
}

TBaseFormContainer* TBaseInstallForm::PageContainer() const
{
    return dynamic_cast<TBaseFormContainer*>(Owner());
}

bool TBaseInstallForm::IsFirstPage()
{
    TBaseFormContainer* container = PageContainer();
    if (container == nullptr)
        return true;
    const int current = container->CurrentIndex();
    for (int i = 0; i < current; ++i)
        if (!container->Pages(i)->SkipPage())
            return false;
    return true;
}

bool TBaseInstallForm::IsLastPage()
{
    TBaseFormContainer* container = PageContainer();
    return container == nullptr || container->CurrentIndex() == container->PageCount() - 1;
}

void TBaseInstallForm::ForceCancel()
{
    if (TBaseFormContainer* container = PageContainer())
        container->SetModalResult(mrAbort);
    else
        SetModalResult(mrAbort);
}

void TBaseInstallForm::Next()
{
    if (TBaseFormContainer* container = PageContainer())
        container->Next();
    else
        SetModalResult(mrOk);
}

void TBaseInstallForm::Previous()
{
    if (TBaseFormContainer* container = PageContainer())
        container->Previous();
}

void TBaseInstallForm::Activate()
{
    UpdateButtons();
    BringToFront();
}

bool MomentFollowsWork(TManagerType type)
{
    return type == dmAfterGoodInstall || type == dmAfterBadInstall || type == dmReboot;
}

bool TBaseInstallForm::CancelOffered() const
{
    return !MomentFollowsWork(DM != nullptr ? DM->ManagerType : ManagerType());
}

void TBaseInstallForm::Cancel()
{
    if (CancelOffered() && ConfirmUserAbort())
        ForceCancel();
}

TPicture* TBaseInstallForm::ThemePicture() const
{
    if (DC != nullptr && !DC->ThemeBitmap()->Empty())
        return DC->ThemeBitmap();
    return GDefaultThemePictureHook ? GDefaultThemePictureHook() : nullptr;
}

void TBaseDuringCopyForm::Cancel()
{
    if (!ConfirmUserAbort())
        return;
    StopArchiveAndDownloads();
    SetModalResult(mrAbort);
}

void TBaseChangeDiskForm::Cancel()
{
    if (ConfirmUserAbort())
        SetModalResult(mrAbort);
}

bool ConfirmUserAbort()
{
    TCustomInstall* install = GetInstall();
    return install == nullptr || install->ConfirmUserAbort();
}

void StopArchiveAndDownloads()
{
    MainDrvnCompress()->Abort = true;
    SetDownloadCancel(true);
}

void SetDefaultThemePictureHook(std::function<TPicture*()> hook)
{
    GDefaultThemePictureHook = std::move(hook);
}

// ------------------------------------------------------------------ registries

void TFormRegistry::Add(const TDorvaneFormClass& formClass, TCustomBaseInstallDlg* dialog)
{
    FEntries.push_back({formClass, dialog, 0});
}

void TFormRegistry::Remove(const TDorvaneFormClass& formClass, TCustomBaseInstallDlg* dialog)
{
    const auto it = std::find_if(FEntries.begin(), FEntries.end(), [&](const TFormEntry& e) {
        return e.FormClass == formClass && e.Dialog == dialog;
    });
    if (it != FEntries.end())
        FEntries.erase(it);
}

void TFormRegistry::RemoveDialog(TCustomBaseInstallDlg* dialog)
{
    std::erase_if(FEntries, [&](const TFormEntry& e) { return e.Dialog == dialog; });
}

const TFormEntry& TFormRegistry::Entry(int index) const
{
    if (index < 0 || index >= Count())
        throw Exception(FormatFromEnglish("%d is an invalid index in the " + FListName, {index}));
    const TFormEntry& entry = FEntries[static_cast<std::size_t>(index)];
    if (!entry.FormClass.Assigned())
        throw Exception(FormatFromEnglish("The %d 'th entry in the " + FListName + " is NIL", {index}));
    return entry;
}

TFormRegistry& BIFList() { return NeedRegistry(GBIFList, "BIFList"); }
TFormRegistry& DCFList() { return NeedRegistry(GDCFList, "DCFList"); }
TFormRegistry& CDFList() { return NeedRegistry(GCDFList, "CDFList"); }
TFormRegistry& UIFList() { return NeedRegistry(GUIFList, "UIFList"); }

bool WizardRegistriesExist()
{
    return GBIFList != nullptr;
}

void CreateWizardRegistries()
{
    GBIFList = std::make_unique<TFormRegistry>("BIFList");
    GDCFList = std::make_unique<TFormRegistry>("DCFList");
    GCDFList = std::make_unique<TFormRegistry>("CDFList");
    GUIFList = std::make_unique<TFormRegistry>("UIFList");
}

void DestroyWizardRegistries()
{
    GBIFList.reset();
    GDCFList.reset();
    GCDFList.reset();
    GUIFList.reset();
}

// --------------------------------------------------------- TCustomBaseInstallDlg

TCustomBaseInstallDlg::TCustomBaseInstallDlg(TComponent* owner)
    : TInstallObject(owner), FThemeBitmap(std::make_unique<TPicture>())
{
    FInstallTypes = TInstallTypes{itFull, itDefault, itCompact, itCustom};
    FOrder = 0;
}

TCustomBaseInstallDlg::~TCustomBaseInstallDlg()
{
    if (WizardRegistriesExist())
        for (const auto& [registry, formClass] : FRegistered)
            registry().Remove(formClass, this);
    if (FDialogManager != nullptr)
        FDialogManager->RemoveDialog(this);
}

void TCustomBaseInstallDlg::RegisterForm(TFormRegistry& (*registry)(), const TDorvaneFormClass& formClass)
{
    registry().Add(formClass, this);
    FRegistered.emplace_back(registry, formClass);
}

void TCustomBaseInstallDlg::Notification(TComponent* component, TOperation operation)
{
    TInstallObject::Notification(component, operation);
    if (operation == opRemove) {
        if (component == FDialogManager)
            FDialogManager = nullptr;
        if (component == CurrentForm)
            CurrentForm = nullptr;
    }
}

void TCustomBaseInstallDlg::ReceiveMessage(TObject* sender, Integer code, TObject* parameter)
{
    if (FDialogManager == nullptr && OwnCode() != 0 && code == OwnCode())
        Execute();
}

void TCustomBaseInstallDlg::SetDialogManager(TDialogManager* value)
{
    if (value == FDialogManager)
        return;
    if (FDialogManager != nullptr)
        FDialogManager->RemoveDialog(this);
    FDialogManager = value;
    if (value != nullptr) {
        value->AddDialog(this);
        value->FreeNotification(this);
    }
}

void TCustomBaseInstallDlg::SetThemeBitmap(TPicture* value)
{
    FThemeBitmap->Assign(value);
}

void TCustomBaseInstallDlg::Translate()
{
    if (CurrentForm != nullptr)
        CurrentForm->TranslateForm();
}

void TCustomBaseInstallDlg::AssignDialogProperties()
{
    if (CurrentForm == nullptr)
        throw Exception(
            FormatFromEnglish("Cannot AssignDialogProperties for %s because the Dialog is Nil", {Name()}));
    CurrentForm->AutoSetFont = AutoSetFont;
    CurrentForm->AutoTranslate = AutoTranslate;
    CurrentForm->InstallContainer = Container();
    CurrentForm->OverrideMainTranslator = OverrideMainTranslator;
    CurrentForm->TargetLanguage = TranslateIntoLanguage;
    if (auto* page = dynamic_cast<TBaseInstallForm*>(CurrentForm))
        page->DC = this;
    Translate();
    SetUpForm();
}

TModalResult TCustomBaseInstallDlg::Show()
{
    const TPoint at = DialogPlacement(Position, CurrentForm->Width(), CurrentForm->Height(), 0, 0);
    CurrentForm->SetBounds(at.X, at.Y, CurrentForm->Width(), CurrentForm->Height());
    return CurrentForm->ShowModal();
}

bool TCustomBaseInstallDlg::Execute()
{
    try {
        if (OnBeforeExecute)
            OnBeforeExecute(this);
        if (CanShow()) {
            std::unique_ptr<TBaseDorvaneForm> form(PageFormClass().Create(Application));
            CurrentForm = form.get();
            form->FreeNotification(this);
            TModalResult result = mrNone;
            try {
                AssignDialogProperties();
                result = Show();
            } catch (...) {
                CurrentForm = nullptr;
                throw;
            }
            CurrentForm = nullptr;
            form.reset();
            if (result != mrOk)
                throw EAIUserAbort();
        }
        Application->ProcessMessages();
        if (OnAfterExecute)
            OnAfterExecute(this);
    } catch (EAbort&) {
        return false;
    }
    return true;
}

} // namespace orvex
