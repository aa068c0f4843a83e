#include "setup/ordlg_ChangeDisk.h"

#include "installer/cmp_TTranslateControls.h"
#include "installer/routines_FileSystem.h"

namespace orvex {

TChangeDiskForm::TChangeDiskForm(TComponent* owner) : TBaseChangeDiskForm(owner)
{
    SetBorderStyle(bsDialog);
    BorderIcons = 0;
    SetCaption("Setup needs the next disk");
    SetClientWidth(380);
    SetClientHeight(150);
    Position = poScreenCenter;
    auto label = [this](const std::string& name, const std::string& text, int left, int top, int width,
                        int height) {
        auto* l = new TTranslateLabel(this);
        l->SetName(name);
        l->SetParent(this);
        l->SetAutoSize(false);
        l->SetWordWrap(true);
        l->SetBounds(left, top, width, height);
        l->SetCaption(text);
        return l;
    };
    lblPrompt = label("lblPrompt", "Please insert disk number %d", 12, 10, 356, 16);
    lblInfo = label("lblInfo",
                    "If the files on this disk can be found in another location, for example, in another drive, "
                    "enter its full path or click the Browse button to select its path.",
                    12, 30, 356, 42);
    lblPath = label("lblPath", "Path:", 12, 85, 40, 16);
    edPath = new TEdit(this);
    edPath->SetName("edPath");
    edPath->SetParent(this);
    edPath->SetBounds(52, 82, 230, 21);
    edPath->OnChange = [this](TObject*) {
        if (!FFilling && DiskParameter != nullptr)
            DiskParameter->Folder = edPath->Text();
    };
    auto button = [this](const std::string& name, const std::string& caption, int left, int top) {
        auto* b = new TButton(this);
        b->SetName(name);
        b->SetParent(this);
        b->SetBounds(left, top, 75, 23);
        b->SetCaption(caption);
        return b;
    };
    btnBrowse = button("btnBrowse", "&Browse...", 293, 81);
    btnProceed = button("btnProceed", "Proceed", 108, 118);
    btnCancel = button("btnCancel", "Cancel", 197, 118);
    btnProceed->SetDefault(true);
    btnProceed->ModalResult = mrOk;
    btnCancel->SetCancel(true);
    btnBrowse->OnClick = [this](TObject*) { Browse(); };
    btnCancel->OnClick = [this](TObject*) { Cancel(); };
    OnShow = [this](TObject*) { Shown(); };
}

void TChangeDiskForm::Shown()
{
    if (DiskParameter == nullptr)
        return;
    lblPrompt->SetCaption(FormatFromEnglish("Please insert disk number %d", {DiskParameter->PartNumber}));
    FFilling = true;
    edPath->SetText(DiskParameter->Folder);
    FFilling = false;
}

void TChangeDiskForm::Browse()
{
    TOpenFolderDialog dialog(nullptr);
    dialog.ShowCreateButton = false;
    dialog.CreateOnOK = false;
    dialog.InitialFolder = edPath->Text();
    if (!dialog.Execute())
        return;
    if (DiskParameter != nullptr)
        DiskParameter->Folder = dialog.Folder;
    FFilling = true;
    edPath->SetText(dialog.Folder);
    FFilling = false;
}

TDorvaneFormClass ChangeDiskFormClass()
{
    return FormClassOf<TChangeDiskForm>("TChangeDiskForm");
}

} // namespace orvex
