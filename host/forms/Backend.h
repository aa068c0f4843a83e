#pragma once
// The toolkit behind the forms: the headless one (the default, for tests and
// programs without a display) or one that shows real windows. A program
// chooses it once, at start-up, before the first form needs it.

#include "host/forms/Dialogs.h"
#include "host/forms/Graphics.h"

#include <memory>
#include <string>

namespace orvex {

class TControl;
class TControlPeer;
class TCustomForm;

enum TModalWait {
    mwContinue, // an event came (or may come): the modal loop goes on
    mwCancel,   // nothing will ever answer this form: cancel it
};

class TFormsBackend {
public:
    virtual ~TFormsBackend() = default;
    virtual std::string Name() const = 0;

    virtual TSize ScreenSize() = 0;
    virtual int CaptionHeight() = 0;
    virtual TSize TextExtent(const TFont& font, const std::string& text) = 0;
    // The device through which a bitmap's canvas paints into its image.
    virtual std::unique_ptr<TCanvasDevice> CreateImageDevice(TRGBImage& image);
    // A peer for the control; nullptr when the model alone is enough.
    virtual std::unique_ptr<TControlPeer> CreatePeer(TControl* control) = 0;

    // A form's modal loop begins (it is shown already).
    virtual void ModalStarted(TCustomForm* form) {}
    // One turn of a modal form's loop: wait for and run the next event.
    virtual TModalWait WaitModal(TCustomForm* form) = 0;
    // The program's message loop: returns when the application terminates.
    virtual void RunLoop() = 0;
    virtual void ProcessMessages() = 0;
    virtual int MessageBox(const std::string& text, const std::string& caption, int flags) = 0;
    virtual bool BrowseForFolder(TFolderBrowse& browse) = 0;
    virtual void CursorChanged(TCursor cursor) {}
};

// The backend in use; the headless one unless a program chose another.
TFormsBackend& FormsBackend();
// Chooses the backend; raises EInvalidOperation "The forms backend is already
// in use" once FormsBackend() has been asked for.
void UseFormsBackend(std::unique_ptr<TFormsBackend> backend);

} // namespace orvex
