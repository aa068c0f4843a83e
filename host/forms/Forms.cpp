// Forms, the application and the screen.

#include "host/forms/Forms.h"

#include "host/forms/Backend.h"
#include "host/forms/Dialogs.h"
#include "host/forms/Headless.h"
#include "host/forms/StdCtrls.h"

#include <algorithm>

namespace orvex {

namespace {

const char* const SCannotFocus = "Cannot focus a disabled or invisible window";
const char* const SCannotShowModal = "Cannot make a visible window modal";

template <class T>
void EraseAll(std::vector<T*>& list, const T* item)
{
    list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

// Controls of the form and its children, depth first, bottom of the z-order first.
template <class F>
bool AnyControl(const TWinControl* parent, F&& visit)
{
    for (int i = 0; i < parent->ControlCount(); ++i) {
        TControl* c = parent->Controls(i);
        if (visit(c))
            return true;
        if (auto* win = dynamic_cast<TWinControl*>(c); win != nullptr && AnyControl(win, visit))
            return true;
    }
    return false;
}

} // namespace

// ------------------------------------------------------------------ TCustomForm

TCustomForm::TCustomForm(TComponent* owner)
    : TWinControl(owner), FCanvas(std::make_unique<TCanvas>())
{
    InitVisible(false);
    InitColor(clBtnFace, false);
    SetParentFont(false);
    SetBounds(0, 0, 320, 240);
    Screen->AddForm(this);
}

TCustomForm::~TCustomForm()
{
    Destroying();
    FActiveControl = nullptr;
    FEnteredControl = nullptr;
    Screen->RemoveForm(this);
    Application->FormDestroyed(this);
}

void TCustomForm::SetBorderStyle(TFormBorderStyle value)
{
    if (FBorderStyle == value)
        return;
    FBorderStyle = value;
    Changed(ccState);
    Realign();
}

int TCustomForm::FrameWidth() const
{
    switch (FBorderStyle) {
    case bsNone: return 0;
    case bsSizeable:
    case bsSizeToolWin: return 4;
    default: return 3;
    }
}

int TCustomForm::CaptionBarHeight() const
{
    return FBorderStyle == bsNone ? 0 : Screen->CaptionHeight();
}

int TCustomForm::ClientWidth() const
{
    return std::max(0, Width() - 2 * FrameWidth());
}

int TCustomForm::ClientHeight() const
{
    return std::max(0, Height() - 2 * FrameWidth() - CaptionBarHeight());
}

void TCustomForm::SetActiveControl(TWinControl* control)
{
    if (control != nullptr &&
        (control == this || GetParentForm(control) != this ||
         !(HasState(csLoading) || control->CanFocus())))
        throw EInvalidOperation(SCannotFocus);
    SetFocusedControl(control, true);
}

void TCustomForm::FocusedByUser(TWinControl* control)
{
    if (control != nullptr && GetParentForm(control) != this)
        return;
    SetFocusedControl(control, false);
}

void TCustomForm::DefocusControl(TControl* control)
{
    if (control == this)
        return;
    auto inside = [control](const TControl* c) {
        for (; c != nullptr; c = c->Parent())
            if (c == control)
                return true;
        return false;
    };
    if (inside(FActiveControl))
        FActiveControl = nullptr;
    if (inside(FEnteredControl))
        FEnteredControl = nullptr;
}

void TCustomForm::SetFocusedControl(TWinControl* control, bool tellPeer)
{
    FActiveControl = control;
    SyncFocus(tellPeer);
}

void TCustomForm::SyncFocus(bool tellPeer)
{
    if (!Visible())
        return;
    TWinControl* target = FActiveControl;
    if (FEnteredControl != target) {
        TWinControl* old = FEnteredControl;
        FEnteredControl = target;
        if (old != nullptr)
            old->DoExit();
        if (target != nullptr && target == FActiveControl)
            target->DoEnter();
    }
    if (tellPeer && FActiveControl != nullptr && FActiveControl->Peer() != nullptr)
        FActiveControl->Peer()->SetFocus();
}

void TCustomForm::PlaceOnScreen()
{
    TCustomForm* centre = nullptr;
    switch (Position) {
    case poScreenCenter:
    case poDesktopCenter: break;
    case poMainFormCenter: centre = Application->MainForm(); break;
    case poOwnerFormCenter: centre = dynamic_cast<TCustomForm*>(Owner()); break;
    default: return;
    }
    if (centre != nullptr && centre != this && centre->Visible())
        SetBounds(centre->Left() + (centre->Width() - Width()) / 2,
                  centre->Top() + (centre->Height() - Height()) / 2, Width(), Height());
    else
        SetBounds((Screen->Width() - Width()) / 2, (Screen->Height() - Height()) / 2, Width(),
                  Height());
}

void TCustomForm::VisibleChanged()
{
    if (Parent() != nullptr) {
        // A form hosted in another control is shown like any child: inside
        // its parent's window, so not before the parent has one (the parent
        // makes its children's windows when it gets its own).
        if (Visible() && Parent()->HandleAllocated())
            CreatePeers();
        TWinControl::VisibleChanged();
        return;
    }
    if (Visible()) {
        PlaceOnScreen();
        CreatePeers();
        if (OnShow)
            OnShow(this);
        if (FActiveControl == nullptr || !FActiveControl->CanFocus())
            FActiveControl = FindNextControl(nullptr, true, true);
        TWinControl::VisibleChanged();
        Changed(ccZOrder);
        Screen->FormShown(this);
    } else {
        if (OnHide)
            OnHide(this);
        TWinControl::VisibleChanged();
        Screen->FormHidden(this);
    }
}

void TCustomForm::Activated(bool active)
{
    FActive = active;
    if (active) {
        if (OnActivate)
            OnActivate(this);
        SyncFocus(true);
    } else if (OnDeactivate) {
        OnDeactivate(this);
    }
}

void TCustomForm::SetParent(TWinControl* parent)
{
    if (parent == Parent())
        return;
    if (parent != nullptr && Parent() == nullptr) {
        // A window becoming a child: it is no longer one of the screen's
        // top-level windows, and its toolkit window is made again inside
        // the parent.
        DestroyPeers();
        if (Visible())
            Screen->FormHidden(this);
    }
    TWinControl::SetParent(parent);
}

TModalResult TCustomForm::ShowModal()
{
    if (Visible() || !Enabled() || FModal || Parent() != nullptr)
        throw EInvalidOperation(SCannotShowModal);
    FModal = true;
    const TCursor savedCursor = Screen->Cursor();
    Screen->SetCursor(crDefault);
    struct TRestore {
        TCustomForm* Form;
        TCursor Cursor;
        ~TRestore()
        {
            Form->FModal = false;
            Screen->SetCursor(Cursor);
        }
    } restore{this, savedCursor};

    SetVisible(true);
    try {
        FModalResult = mrNone;
        FormsBackend().ModalStarted(this);
        do {
            const TModalWait wait = FormsBackend().WaitModal(this);
            if (Application->Terminated()) {
                FModalResult = mrCancel;
            } else if (wait == mwCancel) {
                // Nobody will ever answer: cancel, and do not let a veto keep
                // the loop waiting.
                FModalResult = mrCancel;
                CloseModal();
                if (FModalResult == mrNone)
                    FModalResult = mrCancel;
            } else if (FModalResult != mrNone) {
                CloseModal();
            }
        } while (FModalResult == mrNone);
    } catch (...) {
        SetVisible(false);
        throw;
    }
    SetVisible(false);
    return FModalResult;
}

void TCustomForm::CloseModal()
{
    try {
        TCloseAction action = caNone;
        if (CloseQuery()) {
            action = caHide;
            if (OnClose)
                OnClose(this, action);
        }
        if (action == caNone)
            FModalResult = mrNone;
        else if (action == caFree)
            Release();
    } catch (EHeadlessScript&) {
        throw;
    } catch (...) {
        FModalResult = mrNone;
        Application->HandleException(this);
    }
}

void TCustomForm::Close()
{
    if (FModal) {
        FModalResult = mrCancel;
        return;
    }
    if (!CloseQuery())
        return;
    TCloseAction action = caHide;
    if (OnClose)
        OnClose(this, action);
    if (action == caNone)
        return;
    if (Application->MainForm() == this)
        Application->Terminate();
    else if (action == caFree)
        Release();
    else
        SetVisible(false);
}

bool TCustomForm::CloseQuery()
{
    bool canClose = true;
    if (OnCloseQuery)
        OnCloseQuery(this, canClose);
    return canClose;
}

void TCustomForm::Release()
{
    auto& released = Application->FReleased;
    if (std::find(released.begin(), released.end(), this) == released.end())
        released.push_back(this);
}

namespace {

// The first button of the form that answers a dialog key and can be pressed.
TButton* FindButton(const TCustomForm* form, bool (TButton::*answers)() const)
{
    TButton* found = nullptr;
    AnyControl(form, [&](TControl* c) {
        auto* button = dynamic_cast<TButton*>(c);
        if (button != nullptr && (button->*answers)() && button->CanFocus())
            found = button;
        return found != nullptr;
    });
    return found;
}

} // namespace

TButton* TCustomForm::DefaultButton() const
{
    return FindButton(this, &TButton::Default);
}

TButton* TCustomForm::CancelButton() const
{
    return FindButton(this, &TButton::Cancel);
}

bool TCustomForm::DialogKey(Word key, bool shift)
{
    switch (key) {
    case VK_RETURN: {
        if (auto* focused = dynamic_cast<TButton*>(FActiveControl)) {
            focused->Click();
            return true;
        }
        if (auto* memo = dynamic_cast<TCustomMemo*>(FActiveControl); memo != nullptr && memo->WantReturns)
            return false;
        if (TButton* button = DefaultButton()) {
            button->Click();
            return true;
        }
        return false;
    }
    case VK_ESCAPE:
        if (TButton* button = CancelButton()) {
            button->Click();
            return true;
        }
        return false;
    case VK_TAB:
        SelectNext(FActiveControl, !shift, true);
        return true;
    default:
        return false;
    }
}

bool TCustomForm::DialogChar(char key)
{
    const char wanted = AnsiUpperChar(key);
    return AnyControl(this, [&](TControl* c) {
        if (!c->Visible() || !c->Enabled() || AccelCharOf(c->Caption()) != wanted)
            return false;
        if (auto* button = dynamic_cast<TButton*>(c)) {
            if (!button->CanFocus())
                return false;
            button->Click();
            return true;
        }
        if (auto* check = dynamic_cast<TCheckBox*>(c)) {
            if (!check->CanFocus())
                return false;
            SetActiveControl(check);
            check->Toggle();
            return true;
        }
        if (auto* radio = dynamic_cast<TRadioButton*>(c)) {
            if (!radio->CanFocus())
                return false;
            SetActiveControl(radio);
            radio->SetChecked(true);
            return true;
        }
        if (auto* label = dynamic_cast<TCustomLabel*>(c)) {
            if (label->FocusControl == nullptr || !label->FocusControl->CanFocus())
                return false;
            SetActiveControl(label->FocusControl);
            return true;
        }
        return false;
    });
}

void TCustomForm::Paint()
{
    Canvas()->Brush()->SetColor(Color());
    Canvas()->FillRect(ClientRect());
    if (OnPaint)
        OnPaint(this);
}

void TCustomForm::DefineTextProperties(TTextPropertyList& list)
{
    TWinControl::DefineTextProperties(list);
    DefineCaption(list);
}

// ------------------------------------------------------------------ TApplication

TApplication::TApplication(TComponent* owner) : TComponent(owner) {}

TApplication::~TApplication() = default;

void TApplication::Notification(TComponent* component, TOperation operation)
{
    TComponent::Notification(component, operation);
    if (operation == opRemove && component == FMainForm)
        FMainForm = nullptr;
}

void TApplication::FormDestroyed(TCustomForm* form)
{
    if (FMainForm == form)
        FMainForm = nullptr;
    EraseAll(FReleased, form);
}

void TApplication::Run()
{
    FRunning = true;
    struct TStop {
        bool& Running;
        ~TStop() { Running = false; }
    } stop{FRunning};
    DispatchEvent(this, [this] {
        if (FMainForm != nullptr && ShowMainForm)
            FMainForm->SetVisible(true);
    });
    if (!FTerminated)
        FormsBackend().RunLoop();
}

void TApplication::ProcessMessages()
{
    FormsBackend().ProcessMessages();
    FreeReleasedForms();
}

bool TApplication::DispatchEvent(TObject* sender, const std::function<void()>& event)
{
    try {
        event();
        return true;
    } catch (EHeadlessScript&) {
        // A broken test script is the test's failure, not the program's.
        throw;
    } catch (Exception& e) {
        SafeHandleException(sender, e);
    } catch (std::exception& e) {
        Exception wrapped(e.what());
        SafeHandleException(sender, wrapped);
    } catch (...) {
        Exception wrapped("Unknown exception");
        SafeHandleException(sender, wrapped);
    }
    return false;
}

void TApplication::SafeHandleException(TObject* sender, Exception& e)
{
    try {
        HandleException(sender, e);
    } catch (EHeadlessScript&) {
        throw;
    } catch (Exception& failed) {
        // The handler itself failed: nothing is left but to show it.
        try {
            ShowException(failed);
        } catch (EHeadlessScript&) {
            throw;
        } catch (...) {
        }
    } catch (...) {
    }
}

void TApplication::HandleException(TObject* sender)
{
    try {
        throw;
    } catch (Exception& e) {
        HandleException(sender, e);
    } catch (std::exception& e) {
        Exception wrapped(e.what());
        HandleException(sender, wrapped);
    } catch (...) {
        Exception wrapped("Unknown exception");
        HandleException(sender, wrapped);
    }
}

void TApplication::HandleException(TObject* sender, Exception& e)
{
    if (dynamic_cast<EAbort*>(&e) != nullptr)
        return;
    if (OnException)
        OnException(sender, e);
    else
        ShowException(e);
}

void TApplication::ShowException(Exception& e)
{
    std::string msg = e.Message();
    if (!msg.empty() && static_cast<unsigned char>(msg.back()) > '.')
        msg += '.';
    MessageBox(msg, FTitle, MB_OK | MB_ICONSTOP);
}

int TApplication::MessageBox(const std::string& text, const std::string& caption, int flags)
{
    return FormsBackend().MessageBox(text, caption, flags);
}

void TApplication::FreeReleasedForms()
{
    std::vector<TCustomForm*> pending;
    pending.swap(FReleased);
    for (TCustomForm* form : pending) {
        // A form freed with an earlier one is gone from the screen's list.
        bool alive = false;
        for (int i = 0; i < Screen->FormCount() && !alive; ++i)
            alive = Screen->Forms(i) == form;
        if (!alive)
            continue;
        if (form->Modal())
            FReleased.push_back(form);
        else
            delete form;
    }
}

// ----------------------------------------------------------------------- TScreen

TScreen::TScreen(TComponent* owner) : TComponent(owner) {}

int TScreen::Width() const
{
    return FormsBackend().ScreenSize().cx;
}

int TScreen::Height() const
{
    return FormsBackend().ScreenSize().cy;
}

int TScreen::CaptionHeight() const
{
    return FormsBackend().CaptionHeight();
}

void TScreen::SetCursor(TCursor value)
{
    if (FCursor == value)
        return;
    FCursor = value;
    FormsBackend().CursorChanged(value);
}

TWinControl* TScreen::ActiveControl() const
{
    return FActiveForm != nullptr ? FActiveForm->ActiveControl() : nullptr;
}

void TScreen::AddForm(TCustomForm* form)
{
    FForms.push_back(form);
}

void TScreen::RemoveForm(TCustomForm* form)
{
    EraseAll(FForms, form);
    EraseAll(FActivation, form);
    if (FActiveForm == form) {
        FActiveForm = nullptr;
        for (auto it = FActivation.rbegin(); it != FActivation.rend(); ++it) {
            if ((*it)->Visible() && (*it)->Parent() == nullptr) {
                ActivateForm(*it);
                break;
            }
        }
    }
}

void TScreen::FormShown(TCustomForm* form)
{
    ActivateForm(form);
}

void TScreen::FormHidden(TCustomForm* form)
{
    EraseAll(FActivation, form);
    if (FActiveForm != form)
        return;
    FActiveForm = nullptr;
    form->Activated(false);
    // The window that was active before it takes over.
    for (auto it = FActivation.rbegin(); it != FActivation.rend(); ++it) {
        if ((*it)->Visible() && (*it)->Parent() == nullptr) {
            ActivateForm(*it);
            return;
        }
    }
}

void TScreen::ActivateForm(TCustomForm* form)
{
    if (form == FActiveForm)
        return;
    if (form != nullptr && (!form->Visible() || form->Parent() != nullptr))
        return;
    TCustomForm* old = FActiveForm;
    FActiveForm = form;
    if (form != nullptr) {
        EraseAll(FActivation, form);
        FActivation.push_back(form);
    }
    if (old != nullptr)
        old->Activated(false);
    if (form != nullptr)
        form->Activated(true);
}

// ---------------------------------------------------------------- the globals

TApplication* GetApplication()
{
    // Lives as long as the program (its forms may outlive static objects).
    static TApplication* const application = new TApplication(nullptr);
    return application;
}

TScreen* GetScreen()
{
    static TScreen* const screen = new TScreen(nullptr);
    return screen;
}

} // namespace orvex
