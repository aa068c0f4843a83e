#pragma once
// The headless backend: no windows; a fixed 1024 x 768 screen with 18-pixel
// captions, the fixed text metrics of Graphics.h, and a script that plays the
// user.
//
// The script is one queue of steps, consumed in order by whatever waits for
// the user: a modal form's loop takes form steps (type, keys, clicks, focus,
// close, any action), a message box takes an answer, the folder browser a
// folder or a cancel, and Application->Run takes form steps for the active
// form until the queue is empty. A form step may name the form it is for.
// Whoever finds no step for it at the head of the queue is cancelled: a modal
// form gets mrCancel (even when OnCloseQuery objects), a message box its cancel
// answer, the folder browser no folder. So no loop waits forever.
//
// A step that names a control the form does not have raises EHeadlessScript
// out of the loop that ran it; a step that the user could not do (a click on a
// disabled button, typing where no edit has the focus) is refused and logged.
// Every step runs as an event through the application's exception handling.

#include "host/forms/Backend.h"
#include "host/forms/Forms.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace orvex {

class EHeadlessScript : public Exception {
public:
    using Exception::Exception;
};

struct THeadlessMessage {
    std::string Caption;
    std::string Text;
    int Flags = 0;
    int Answer = 0;
    bool Scripted = false; // answered by a step, not cancelled
};

class THeadlessBackend : public TFormsBackend {
public:
    static constexpr int ScreenWidth = 1024;
    static constexpr int ScreenHeight = 768;
    static constexpr int CaptionBar = 18;

    std::string Name() const override { return "headless"; }
    TSize ScreenSize() override { return {ScreenWidth, ScreenHeight}; }
    int CaptionHeight() override { return CaptionBar; }
    TSize TextExtent(const TFont& font, const std::string& text) override;
    std::unique_ptr<TControlPeer> CreatePeer(TControl* control) override { return nullptr; }
    void ModalStarted(TCustomForm* form) override;
    TModalWait WaitModal(TCustomForm* form) override;
    void RunLoop() override;
    void ProcessMessages() override {}
    int MessageBox(const std::string& text, const std::string& caption, int flags) override;
    bool BrowseForFolder(TFolderBrowse& browse) override;

    // ------------------------------------------------------------ the script
    // The form (Name or class name) that the following form steps are for;
    // "" for whichever form waits.
    THeadlessBackend& ForForm(const std::string& form);
    // Types the text, character by character, into the focused control.
    THeadlessBackend& Type(const std::string& text);
    // A key: VK_RETURN, VK_ESCAPE and VK_TAB act on the form, VK_SPACE on the
    // focused button or box, the editing keys on the focused edit.
    THeadlessBackend& Press(Word key, bool shift = false);
    // An accelerator key ("&OK" answers 'O').
    THeadlessBackend& Accel(char key);
    // Clicks the control of that name: a button is pressed, a check box
    // toggled, a radio button checked, a tab of a page control chosen by
    // "PageControl:Index"; an edit or other control gets the focus.
    THeadlessBackend& Click(const std::string& control);
    THeadlessBackend& Focus(const std::string& control);
    // The window's close box.
    THeadlessBackend& CloseForm();
    // Any other action of the user on the waiting form.
    THeadlessBackend& Do(std::function<void(TCustomForm* form)> action);
    // Answers the next message box.
    THeadlessBackend& Answer(int answer);
    // Answers the next folder browser.
    THeadlessBackend& ChooseFolder(const std::string& folder);
    THeadlessBackend& CancelFolder();

    int PendingSteps() const { return static_cast<int>(FSteps.size()); }
    // Told of a modal form that no step answers, before it is cancelled.
    std::function<void(TCustomForm* form)> OnUnanswered;
    // Empties the script, the log, the message record and OnUnanswered, and lets a
    // terminated application run again (for the next test).
    void Reset();

    // What happened, one line per event ("ShowModal VekPasswordDialog",
    // "Type VekPasswordDialog.ebPassword 'abc'", "Refused ...", "Cancel ...").
    const std::vector<std::string>& Log() const { return FLog; }
    const std::vector<THeadlessMessage>& Messages() const { return FMessages; }
    void AddLog(const std::string& line) { FLog.push_back(line); }

    // ------------------------------------------------------------- painting
    // The control as the screen would show it (a form: its client area), with
    // its children; natively drawn controls get a plain classic look.
    TRGBImage Snapshot(TControl* control);

private:
    enum class TStepKind { Form, Answer, Folder };
    struct TStep {
        TStepKind Kind = TStepKind::Form;
        std::string Form;  // for form steps: the form it is for, "" any
        std::string Title; // for the log
        std::function<void(TCustomForm* form)> Action;
        int Answer = 0;
        bool Chosen = false;
        std::string Folder;
    };
    THeadlessBackend& AddFormStep(std::string title, std::function<void(TCustomForm*)> action);
    bool StepFits(const TStep& step, TCustomForm* form) const;
    void RunFormStep(TStep step, TCustomForm* form);
    std::deque<TStep> FSteps;
    std::string FForForm;
    std::vector<std::string> FLog;
    std::vector<THeadlessMessage> FMessages;
};

// The headless backend when it is the one in use, else nullptr.
THeadlessBackend* Headless();

// A form's name for logs and scripts: its Name, else its class name.
std::string FormTitle(const TCustomForm* form);

} // namespace orvex
