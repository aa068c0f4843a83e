#pragma once
// The progress window's dialog component. It places the window 474 x 146 at
// the bottom centre, 30 pixels up; the first one created is the program's
// default progress dialog.

#include "setup/ordlg_CopyFile.h"

namespace orvex {

class TCopyFileDlg : public TBaseInstallDlg {
public:
    explicit TCopyFileDlg(TComponent* owner);
    ~TCopyFileDlg() override;
    TDorvaneFormClass PageFormClass() const override { return CopyFileFormClass(); }
};

// The first TCopyFileDlg created while it exists, nil when none.
TCopyFileDlg* DefaultCopyFileDlg();

} // namespace orvex
