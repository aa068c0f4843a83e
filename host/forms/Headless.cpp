// The headless backend: the script that plays the user, and the record of
// what was shown.

#include "host/forms/Headless.h"

#include "host/forms/ComCtrls.h"
#include "host/forms/StdCtrls.h"

namespace orvex {

std::string FormTitle(const TCustomForm* form)
{
    return form->Name().empty() ? form->ClassName() : form->Name();
}

namespace {

std::string NameOf(const TControl* control)
{
    return control->Name().empty() ? control->ClassName() : control->Name();
}

TControl* FindControl(const TWinControl* parent, const std::string& name)
{
    for (int i = 0; i < parent->ControlCount(); ++i) {
        TControl* c = parent->Controls(i);
        if (SameText(c->Name(), name))
            return c;
        if (auto* win = dynamic_cast<TWinControl*>(c))
            if (TControl* found = FindControl(win, name))
                return found;
    }
    return nullptr;
}

TControl* NeedControl(TCustomForm* form, const std::string& name)
{
    TControl* control = FindControl(form, name);
    if (control == nullptr)
        throw EHeadlessScript("The form " + FormTitle(form) + " has no control named " + name);
    return control;
}

// What the user can reach: shown and enabled up to the form.
bool Reachable(const TControl* control)
{
    for (const TControl* c = control; c != nullptr; c = c->Parent())
        if (!c->Visible() || !c->Enabled())
            return false;
    return true;
}

} // namespace

TSize THeadlessBackend::TextExtent(const TFont& font, const std::string& text)
{
    return FixedTextExtent(font, text);
}

// ------------------------------------------------------------- waiting for the user

bool THeadlessBackend::StepFits(const TStep& step, TCustomForm* form) const
{
    return step.Kind == TStepKind::Form &&
           (step.Form.empty() || SameText(step.Form, form->Name()) ||
            SameText(step.Form, form->ClassName()));
}

void THeadlessBackend::RunFormStep(TStep step, TCustomForm* form)
{
    FLog.push_back(step.Title + " @" + FormTitle(form));
    step.Action(form);
}

void THeadlessBackend::ModalStarted(TCustomForm* form)
{
    FLog.push_back("ShowModal " + FormTitle(form));
}

TModalWait THeadlessBackend::WaitModal(TCustomForm* form)
{
    if (FSteps.empty() || !StepFits(FSteps.front(), form)) {
        FLog.push_back("Cancel " + FormTitle(form) +
                       (FSteps.empty() ? " (no script)" : " (the script waits for something else)"));
        if (OnUnanswered)
            OnUnanswered(form);
        return mwCancel;
    }
    TStep step = std::move(FSteps.front());
    FSteps.pop_front();
    RunFormStep(std::move(step), form);
    return mwContinue;
}

void THeadlessBackend::RunLoop()
{
    while (!Application->Terminated()) {
        Application->FreeReleasedForms();
        if (FSteps.empty()) {
            // The script is over, and so is the program.
            FLog.push_back("End of script");
            Application->Terminate();
            break;
        }
        if (FSteps.front().Kind != TStepKind::Form)
            throw EHeadlessScript("The script answers a dialog that was never shown: " +
                                  FSteps.front().Title);
        TCustomForm* target = nullptr;
        const std::string wanted = FSteps.front().Form;
        if (wanted.empty()) {
            target = Screen->ActiveForm();
        } else {
            for (int i = 0; i < Screen->FormCount() && target == nullptr; ++i) {
                TCustomForm* form = Screen->Forms(i);
                if (form->Visible() && (SameText(form->Name(), wanted) || SameText(form->ClassName(), wanted)))
                    target = form;
            }
        }
        if (target == nullptr)
            throw EHeadlessScript("No form is shown for the step " + FSteps.front().Title);
        TStep step = std::move(FSteps.front());
        FSteps.pop_front();
        RunFormStep(std::move(step), target);
    }
}

int THeadlessBackend::MessageBox(const std::string& text, const std::string& caption, int flags)
{
    THeadlessMessage message{caption, text, flags, MessageBoxCancelAnswer(flags), false};
    if (!FSteps.empty() && FSteps.front().Kind == TStepKind::Answer) {
        message.Answer = FSteps.front().Answer;
        message.Scripted = true;
        FSteps.pop_front();
    }
    FLog.push_back("MessageBox '" + caption + "' '" + text + "' -> " + std::to_string(message.Answer) +
                   (message.Scripted ? "" : " (no script)"));
    FMessages.push_back(message);
    return message.Answer;
}

bool THeadlessBackend::BrowseForFolder(TFolderBrowse& browse)
{
    if (FSteps.empty() || FSteps.front().Kind != TStepKind::Folder) {
        FLog.push_back("BrowseForFolder '" + browse.Title + "' -> cancelled (no script)");
        return false;
    }
    const TStep step = std::move(FSteps.front());
    FSteps.pop_front();
    FLog.push_back("BrowseForFolder '" + browse.Title + "' -> " +
                   (step.Chosen ? "'" + step.Folder + "'" : std::string("cancelled")));
    if (step.Chosen)
        browse.Folder = step.Folder;
    return step.Chosen;
}

// ------------------------------------------------------------------ the script

void THeadlessBackend::Reset()
{
    FSteps.clear();
    FForForm.clear();
    FLog.clear();
    FMessages.clear();
    OnUnanswered = nullptr;
    Application->FTerminated = false;
}

THeadlessBackend& THeadlessBackend::AddFormStep(std::string title,
                                                std::function<void(TCustomForm*)> action)
{
    TStep step;
    step.Kind = TStepKind::Form;
    step.Form = FForForm;
    step.Title = std::move(title);
    step.Action = std::move(action);
    FSteps.push_back(std::move(step));
    return *this;
}

THeadlessBackend& THeadlessBackend::ForForm(const std::string& form)
{
    FForForm = form;
    return *this;
}

THeadlessBackend& THeadlessBackend::Type(const std::string& text)
{
    return AddFormStep("Type '" + text + "'", [this, text](TCustomForm* form) {
        auto* edit = dynamic_cast<TCustomEdit*>(form->ActiveControl());
        if (edit == nullptr) {
            FLog.push_back("Refused: no edit has the focus");
            return;
        }
        Application->DispatchEvent(edit, [&] {
            for (char c : text)
                if (!edit->TypeChar(c))
                    FLog.push_back(std::string("Refused: '") + c + "' in " + NameOf(edit));
        });
    });
}

THeadlessBackend& THeadlessBackend::Press(Word key, bool shift)
{
    return AddFormStep("Press " + std::to_string(key), [this, key, shift](TCustomForm* form) {
        Application->DispatchEvent(form, [&] {
            TWinControl* focused = form->ActiveControl();
            bool used = false;
            if (key == VK_RETURN || key == VK_ESCAPE || key == VK_TAB)
                used = form->DialogKey(key, shift);
            if (used)
                return;
            if (key == VK_SPACE) {
                if (auto* button = dynamic_cast<TButton*>(focused)) {
                    button->Click();
                    used = true;
                } else if (auto* check = dynamic_cast<TCheckBox*>(focused)) {
                    check->Toggle();
                    used = true;
                } else if (auto* radio = dynamic_cast<TRadioButton*>(focused)) {
                    radio->SetChecked(true);
                    used = true;
                } else if (auto* edit = dynamic_cast<TCustomEdit*>(focused)) {
                    used = edit->TypeChar(' ');
                }
            } else if (auto* edit = dynamic_cast<TCustomEdit*>(focused)) {
                used = edit->KeyDown(key);
            }
            if (!used)
                FLog.push_back("Refused: key " + std::to_string(key));
        });
    });
}

THeadlessBackend& THeadlessBackend::Accel(char key)
{
    return AddFormStep(std::string("Accel '") + key + "'", [this, key](TCustomForm* form) {
        Application->DispatchEvent(form, [&] {
            if (!form->DialogChar(key))
                FLog.push_back(std::string("Refused: no control answers '") + key + "'");
        });
    });
}

THeadlessBackend& THeadlessBackend::Click(const std::string& control)
{
    return AddFormStep("Click " + control, [this, control](TCustomForm* form) {
        // "PageControl:2" chooses a tab.
        const auto colon = control.find(':');
        if (colon != std::string::npos) {
            auto* pages = dynamic_cast<TPageControl*>(NeedControl(form, control.substr(0, colon)));
            if (pages == nullptr)
                throw EHeadlessScript(control.substr(0, colon) + " is not a page control");
            const int index = StrToInt(control.substr(colon + 1));
            if (!Reachable(pages)) {
                FLog.push_back("Refused: " + control + " is disabled or hidden");
                return;
            }
            Application->DispatchEvent(pages, [&] { pages->SelectTab(index); });
            return;
        }
        TControl* target = NeedControl(form, control);
        if (!Reachable(target)) {
            FLog.push_back("Refused: " + control + " is disabled or hidden");
            return;
        }
        Application->DispatchEvent(target, [&] {
            // A click moves the focus first, as a mouse does.
            auto* win = dynamic_cast<TWinControl*>(target);
            if (win != nullptr && win->TabStop() && win->CanFocus())
                form->SetActiveControl(win);
            if (auto* check = dynamic_cast<TCheckBox*>(target))
                check->Toggle();
            else if (auto* radio = dynamic_cast<TRadioButton*>(target))
                radio->SetChecked(true);
            else
                target->Click();
        });
    });
}

THeadlessBackend& THeadlessBackend::Focus(const std::string& control)
{
    return AddFormStep("Focus " + control, [this, control](TCustomForm* form) {
        auto* target = dynamic_cast<TWinControl*>(NeedControl(form, control));
        if (target == nullptr || !target->CanFocus()) {
            FLog.push_back("Refused: " + control + " cannot take the focus");
            return;
        }
        Application->DispatchEvent(target, [&] { form->SetActiveControl(target); });
    });
}

THeadlessBackend& THeadlessBackend::CloseForm()
{
    return AddFormStep("Close", [](TCustomForm* form) {
        Application->DispatchEvent(form, [form] { form->Close(); });
    });
}

THeadlessBackend& THeadlessBackend::Do(std::function<void(TCustomForm* form)> action)
{
    return AddFormStep("Do", [action = std::move(action)](TCustomForm* form) {
        Application->DispatchEvent(form, [&] { action(form); });
    });
}

THeadlessBackend& THeadlessBackend::Answer(int answer)
{
    TStep step;
    step.Kind = TStepKind::Answer;
    step.Answer = answer;
    step.Title = "Answer " + std::to_string(answer);
    FSteps.push_back(std::move(step));
    return *this;
}

THeadlessBackend& THeadlessBackend::ChooseFolder(const std::string& folder)
{
    TStep step;
    step.Kind = TStepKind::Folder;
    step.Chosen = true;
    step.Folder = folder;
    step.Title = "ChooseFolder '" + folder + "'";
    FSteps.push_back(std::move(step));
    return *this;
}

THeadlessBackend& THeadlessBackend::CancelFolder()
{
    TStep step;
    step.Kind = TStepKind::Folder;
    step.Title = "CancelFolder";
    FSteps.push_back(std::move(step));
    return *this;
}

} // namespace orvex
