// The choice of the forms backend.

#include "host/forms/Backend.h"

#include "host/forms/Controls.h"
#include "host/forms/Headless.h"

namespace orvex {

namespace {

// The backend lives as long as the program: windows and forms may still refer
// to it while static objects are destroyed, so it is never freed.
TFormsBackend* TheBackend = nullptr;
bool BackendUsed = false;

} // namespace

std::unique_ptr<TCanvasDevice> TFormsBackend::CreateImageDevice(TRGBImage& image)
{
    return std::make_unique<TRasterDevice>(image);
}

TFormsBackend& FormsBackend()
{
    BackendUsed = true;
    if (TheBackend == nullptr)
        TheBackend = new THeadlessBackend();
    return *TheBackend;
}

void UseFormsBackend(std::unique_ptr<TFormsBackend> backend)
{
    if (BackendUsed)
        throw EInvalidOperation("The forms backend is already in use");
    delete TheBackend;
    TheBackend = backend.release();
}

THeadlessBackend* Headless()
{
    return dynamic_cast<THeadlessBackend*>(&FormsBackend());
}

} // namespace orvex
