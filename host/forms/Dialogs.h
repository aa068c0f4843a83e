#pragma once
// Message boxes and the folder browser.

#include "host/forms/Controls.h"

#include <string>

namespace orvex {

// Message box flags: one button set, one icon, one default button.
constexpr int MB_OK = 0x0;
constexpr int MB_OKCANCEL = 0x1;
constexpr int MB_ABORTRETRYIGNORE = 0x2;
constexpr int MB_YESNOCANCEL = 0x3;
constexpr int MB_YESNO = 0x4;
constexpr int MB_RETRYCANCEL = 0x5;
constexpr int MB_ICONERROR = 0x10;
constexpr int MB_ICONSTOP = MB_ICONERROR;
constexpr int MB_ICONQUESTION = 0x20;
constexpr int MB_ICONWARNING = 0x30;
constexpr int MB_ICONINFORMATION = 0x40;
constexpr int MB_DEFBUTTON1 = 0x000;
constexpr int MB_DEFBUTTON2 = 0x100;
constexpr int MB_DEFBUTTON3 = 0x200;
constexpr int MB_TYPEMASK = 0xF;
constexpr int MB_ICONMASK = 0xF0;
constexpr int MB_DEFMASK = 0xF00;

// Message box answers (the same numbers as the modal results).
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// The answer a box gives when it is closed without a choice: Cancel where it
// has one, else No, Abort or OK.
int MessageBoxCancelAnswer(int flags);
// Whether a box of these flags has a button for the answer.
bool MessageBoxHasAnswer(int flags, int answer);

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgBtn : unsigned {
    mbYes = 1,
    mbNo = 2,
    mbOK = 4,
    mbCancel = 8,
    mbAbort = 16,
    mbRetry = 32,
    mbIgnore = 64
};
using TMsgDlgButtons = unsigned;

// A message box captioned "Warning", "Error", "Information", "Confirm" or,
// for mtCustom, the application's title. The buttons choose the nearest box:
// Yes/No(/Cancel), OK/Cancel, Abort/Retry/Ignore, Retry/Cancel, else OK.
TModalResult MessageDlg(const std::string& msg, TMsgDlgType type, TMsgDlgButtons buttons);
// An information box captioned with the application's title.
void ShowMessage(const std::string& msg);

// The folder browser's settings and result.
struct TFolderBrowse {
    std::string Title;
    std::string StartFolder; // selected first
    bool ShowCreateButton = true;
    bool ShowEditLine = false;
    std::string Folder; // the folder chosen
};
// True when the user chose a folder (in browse.Folder).
bool BrowseForFolder(TFolderBrowse& browse);

} // namespace orvex
