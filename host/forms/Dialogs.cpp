// Message boxes and the folder browser.

#include "host/forms/Dialogs.h"

#include "host/forms/Backend.h"
#include "host/forms/Forms.h"

namespace orvex {

int MessageBoxCancelAnswer(int flags)
{
    switch (flags & MB_TYPEMASK) {
    case MB_OKCANCEL:
    case MB_YESNOCANCEL:
    case MB_RETRYCANCEL: return IDCANCEL;
    case MB_YESNO: return IDNO;
    case MB_ABORTRETRYIGNORE: return IDABORT;
    default: return IDOK;
    }
}

bool MessageBoxHasAnswer(int flags, int answer)
{
    switch (flags & MB_TYPEMASK) {
    case MB_OKCANCEL: return answer == IDOK || answer == IDCANCEL;
    case MB_ABORTRETRYIGNORE: return answer == IDABORT || answer == IDRETRY || answer == IDIGNORE;
    case MB_YESNOCANCEL: return answer == IDYES || answer == IDNO || answer == IDCANCEL;
    case MB_YESNO: return answer == IDYES || answer == IDNO;
    case MB_RETRYCANCEL: return answer == IDRETRY || answer == IDCANCEL;
    default: return answer == IDOK;
    }
}

TModalResult MessageDlg(const std::string& msg, TMsgDlgType type, TMsgDlgButtons buttons)
{
    static const char* const captions[] = {"Warning", "Error", "Information", "Confirm"};
    static const int icons[] = {MB_ICONWARNING, MB_ICONERROR, MB_ICONINFORMATION, MB_ICONQUESTION, 0};
    const std::string caption = type == mtCustom ? Application->Title() : captions[type];
    auto has = [buttons](unsigned b) { return (buttons & b) != 0; };
    int flags = MB_OK;
    if (has(mbYes) && has(mbNo))
        flags = has(mbCancel) ? MB_YESNOCANCEL : MB_YESNO;
    else if (has(mbAbort) && has(mbRetry) && has(mbIgnore))
        flags = MB_ABORTRETRYIGNORE;
    else if (has(mbRetry) && has(mbCancel))
        flags = MB_RETRYCANCEL;
    else if (has(mbOK) && has(mbCancel))
        flags = MB_OKCANCEL;
    return Application->MessageBox(msg, caption, flags | icons[type]);
}

void ShowMessage(const std::string& msg)
{
    Application->MessageBox(msg, Application->Title(), MB_OK | MB_ICONINFORMATION);
}

bool BrowseForFolder(TFolderBrowse& browse)
{
    return FormsBackend().BrowseForFolder(browse);
}

} // namespace orvex
