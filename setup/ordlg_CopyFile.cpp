#include "setup/ordlg_CopyFile.h"

#include "installer/cmp_TTranslateControls.h"

namespace orvex {

void DrawTransferPicture(TBitmap& bitmap)
{
    bitmap.SetSize(32, 32);
    TCanvas& canvas = *bitmap.Canvas();
    canvas.Brush()->SetColor(clBtnFace);
    canvas.FillRect(Rect(0, 0, 32, 32));
    canvas.Brush()->SetColor(clYellow);
    canvas.FillRect(Rect(1, 4, 12, 13));
    canvas.FillRect(Rect(20, 19, 31, 28));
    canvas.Brush()->SetColor(clNavy);
    canvas.FillRect(Rect(10, 15, 22, 17));
    canvas.Polygon({{22, 12}, {27, 16}, {22, 20}});
}

TCopyFileForm::TCopyFileForm(TComponent* owner) : TBaseDuringCopyForm(owner)
{
    SetBorderStyle(bsDialog);
    BorderIcons = 0;
    SetCaption("Copying installation files");
    SetBounds(0, 0, 474, 146);
    auto label = [this](const std::string& name, const std::string& text, int left, int top) {
        auto* l = new TTranslateLabel(this);
        l->SetName(name);
        l->SetParent(this);
        l->SetBounds(left, top, 0, 0);
        l->SetCaption(text);
        return l;
    };
    auto bar = [this](const std::string& name, int top) {
        auto* b = new TProgressBar(this);
        b->SetName(name);
        b->SetParent(this);
        b->SetBounds(100, top, 260, 16);
        return b;
    };
    lblProcessing = label("lblProcessing", "Processing", 12, 10);
    lblCurrentFile = label("lblCurrentFile", "---", 100, 10);
    lblFileProgress = label("lblFileProgress", "File progress", 12, 38);
    pbFile = bar("pbFile", 36);
    lblTotalProgress = label("lblTotalProgress", "Total progress", 12, 66);
    pbTotal = bar("pbTotal", 64);
    imgTransfer = new TImage(this);
    imgTransfer->SetName("imgTransfer");
    imgTransfer->SetParent(this);
    imgTransfer->SetBounds(400, 30, 32, 32);
    DrawTransferPicture(*imgTransfer->Picture()->Bitmap());
    imgTransfer->Hide();
    btnCancel = new TButton(this);
    btnCancel->SetName("btnCancel");
    btnCancel->SetParent(this);
    btnCancel->SetBounds(197, 90, 75, 23);
    btnCancel->SetCaption("Cancel");
    btnCancel->SetCancel(true);
    btnCancel->OnClick = [this](TObject*) { Cancel(); };
}

void TCopyFileForm::UpdateFileStatus(TFileStatusParameter* status)
{
    imgTransfer->Hide();
    pbTotal->SetPosition(status->ContainerPercent);
    pbFile->SetPosition(status->FilePercent);
    lblCurrentFile->SetCaption(status->FileName);
    Repaint();
}

void TCopyFileForm::UpdateDownloadStatus(TDownloadStatusParameter* status)
{
    imgTransfer->Show();
    pbFile->SetPosition(status->Percent);
    lblCurrentFile->SetCaption(status->FileName);
    Repaint();
}

TDorvaneFormClass CopyFileFormClass()
{
    return FormClassOf<TCopyFileForm>("TCopyFileForm");
}

} // namespace orvex
