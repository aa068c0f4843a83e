#pragma once
// Forms, the application and the screen.
//
// A form is a top-level window, or, given a parent, a borderless child window
// hosted in another control. ShowModal loops on the backend's events until
// ModalResult is set and OnCloseQuery lets the form close. The application
// runs the program's message loop and is the one place where exceptions from
// events end: every event that a backend raises goes through
// TApplication::DispatchEvent, so no exception crosses a toolkit's loop.

#include "host/forms/Controls.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orvex {

enum TBorderIcon : unsigned { biSystemMenu = 1, biMinimize = 2, biMaximize = 4, biHelp = 8 };
using TBorderIcons = unsigned;

enum TPosition {
    poDesigned,
    poDefault,
    poDefaultPosOnly,
    poDefaultSizeOnly,
    poScreenCenter,
    poDesktopCenter,
    poMainFormCenter,
    poOwnerFormCenter
};

enum TCloseAction { caNone, caHide, caFree, caMinimize };
using TCloseEvent = std::function<void(TObject* sender, TCloseAction& action)>;
using TCloseQueryEvent = std::function<void(TObject* sender, bool& canClose)>;

class TButton;

class TCustomForm : public TWinControl {
public:
    explicit TCustomForm(TComponent* owner);
    ~TCustomForm() override;

    TFormBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetBorderStyle(TFormBorderStyle value);
    TBorderIcons BorderIcons = biSystemMenu | biMinimize | biMaximize;
    // Where the form goes when it is first shown.
    TPosition Position = poDesigned;

    // The window frame: border width on each side and caption height.
    int FrameWidth() const;
    int CaptionBarHeight() const;
    int ClientWidth() const override;
    int ClientHeight() const override;

    TWinControl* ActiveControl() const { return FActiveControl; }
    // Raises EInvalidOperation "Cannot focus a disabled or invisible window"
    // for a control of another form or one that cannot take the focus.
    void SetActiveControl(TWinControl* control);
    // The toolkit moved the focus (no checks, no call back to the toolkit).
    void FocusedByUser(TWinControl* control);
    // The control (or one inside it) goes away, hides or is disabled: the form
    // forgets it as its active control, without events.
    void DefocusControl(TControl* control);
    bool Active() const { return FActive; }

    TModalResult ModalResult() const { return FModalResult; }
    void SetModalResult(TModalResult value) { FModalResult = value; }
    bool Modal() const { return FModal; }
    // Raises EInvalidOperation "Cannot make a visible window modal" for a form
    // that is visible, disabled, already modal or hosted in a parent.
    TModalResult ShowModal();
    // A modal form: ModalResult becomes mrCancel. Otherwise OnCloseQuery may
    // veto, then OnClose chooses: hide (the main form ends the program instead),
    // free later, or nothing.
    void Close();
    bool CloseQuery();
    // Frees the form once the current event is over.
    void Release();

    // The default button (Enter) and cancel button (Escape), visible and
    // enabled; nullptr when none.
    TButton* DefaultButton() const;
    TButton* CancelButton() const;
    // Dialog keys: VK_RETURN, VK_ESCAPE and VK_TAB; true when used.
    bool DialogKey(Word key, bool shift = false);
    // An accelerator: clicks, checks or focuses the control whose caption
    // marks it; true when one answered.
    bool DialogChar(char key);

    TCanvas* Canvas() { return FCanvas.get(); }
    TCanvas* PaintCanvas() override { return FCanvas.get(); }
    void Paint() override; // the colour, then OnPaint

    TNotifyEvent OnShow;
    TNotifyEvent OnHide;
    TNotifyEvent OnActivate;
    TNotifyEvent OnDeactivate;
    TNotifyEvent OnPaint;
    TCloseEvent OnClose;
    TCloseQueryEvent OnCloseQuery;

    void DefineTextProperties(TTextPropertyList& list) override;
    void SetParent(TWinControl* parent) override;

protected:
    void VisibleChanged() override;

private:
    friend class TScreen;
    void SetFocusedControl(TWinControl* control, bool tellPeer);
    // Fires OnExit and OnEnter when the active control is not the one that
    // last had the focus, and moves the toolkit's focus when asked.
    void SyncFocus(bool tellPeer);
    void CloseModal();
    void PlaceOnScreen();
    void Activated(bool active);
    TFormBorderStyle FBorderStyle = bsSizeable;
    TWinControl* FActiveControl = nullptr;
    TWinControl* FEnteredControl = nullptr;
    TModalResult FModalResult = mrNone;
    bool FModal = false;
    bool FActive = false;
    std::unique_ptr<TCanvas> FCanvas;
};

class TForm : public TCustomForm {
public:
    using TCustomForm::TCustomForm;
};

using TExceptionEvent = std::function<void(TObject* sender, Exception& e)>;

class TApplication : public TComponent {
public:
    explicit TApplication(TComponent* owner);
    ~TApplication() override;

    // Creates a form owned by the application; the first becomes MainForm.
    template <class T>
    void CreateForm(T*& reference)
    {
        reference = new T(this);
        if (FMainForm == nullptr)
            FMainForm = reference;
    }
    TCustomForm* MainForm() const { return FMainForm; }
    bool ShowMainForm = true;
    const std::string& Title() const { return FTitle; }
    void SetTitle(const std::string& value) { FTitle = value; }

    // Shows the main form (its first activation) and runs the backend's message
    // loop until Terminate.
    void Run();
    void ProcessMessages();
    void Terminate() { FTerminated = true; }
    bool Terminated() const { return FTerminated; }
    bool Running() const { return FRunning; }

    // Runs one event from a backend. An exception ends here: EAbort silently,
    // the others through OnException, else ShowException. False when the
    // event raised.
    bool DispatchEvent(TObject* sender, const std::function<void()>& event);
    // Inside a catch block: handles the exception being caught.
    void HandleException(TObject* sender);
    void HandleException(TObject* sender, Exception& e);
    TExceptionEvent OnException;
    // An error box with the message (a full stop added when its last character
    // sorts after ".") and the title as caption.
    void ShowException(Exception& e);
    // A message box of the backend; flags and results as in Dialogs.h.
    int MessageBox(const std::string& text, const std::string& caption, int flags);

    // Frees the forms that Release queued, unless one is still modal.
    void FreeReleasedForms();

protected:
    void Notification(TComponent* component, TOperation operation) override;

private:
    friend class TCustomForm;
    friend class THeadlessBackend; // a test's reset starts the program anew
    void FormDestroyed(TCustomForm* form);
    // HandleException that lets nothing escape but a script error.
    void SafeHandleException(TObject* sender, Exception& e);
    TCustomForm* FMainForm = nullptr;
    std::string FTitle;
    bool FTerminated = false;
    bool FRunning = false;
    std::vector<TCustomForm*> FReleased;
};

// The screen: its size, the caption height of windows, the cursor, and the
// program's forms with the active one.
class TScreen : public TComponent {
public:
    explicit TScreen(TComponent* owner);

    int Width() const;
    int Height() const;
    int CaptionHeight() const;
    int PixelsPerInch() const { return ScreenPixelsPerInch; }
    TCursor Cursor() const { return FCursor; }
    void SetCursor(TCursor value);

    int FormCount() const { return static_cast<int>(FForms.size()); }
    TCustomForm* Forms(int index) const { return FForms.at(index); }
    TCustomForm* ActiveForm() const { return FActiveForm; }
    TWinControl* ActiveControl() const;
    // The toolkit says a window became active.
    void ActivateForm(TCustomForm* form);

private:
    friend class TCustomForm;
    void AddForm(TCustomForm* form);
    void RemoveForm(TCustomForm* form);
    void FormShown(TCustomForm* form);
    void FormHidden(TCustomForm* form);
    std::vector<TCustomForm*> FForms;
    std::vector<TCustomForm*> FActivation; // least recently active first
    TCustomForm* FActiveForm = nullptr;
    TCursor FCursor = crDefault;
};

// The program's application and screen, created at first use:
// Application->Run(), Screen->Width().
TApplication* GetApplication();
TScreen* GetScreen();

struct TApplicationRef {
    TApplication* operator->() const { return GetApplication(); }
    operator TApplication*() const { return GetApplication(); }
};
struct TScreenRef {
    TScreen* operator->() const { return GetScreen(); }
    operator TScreen*() const { return GetScreen(); }
};
inline constexpr TApplicationRef Application{};
inline constexpr TScreenRef Screen{};

} // namespace orvex
