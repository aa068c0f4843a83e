#pragma once
// The form that asks for the next part of a split archive: the part's
// number, the folder where it is expected (editable, or chosen with the
// folder browser), "Proceed" and "Cancel".

#include "setup/dlgcmp_TBaseDlg.h"

namespace orvex {

class TChangeDiskForm : public TBaseChangeDiskForm {
public:
    explicit TChangeDiskForm(TComponent* owner);
    TLabel* lblPrompt;
    TLabel* lblInfo;
    TLabel* lblPath;
    TEdit* edPath;
    TButton* btnBrowse;
    TButton* btnProceed;
    TButton* btnCancel;

private:
    void Shown();
    void Browse();
    bool FFilling = false;
};

TDorvaneFormClass ChangeDiskFormClass();

} // namespace orvex
