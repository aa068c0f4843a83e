#pragma once
// The progress window of copying and downloading: the current file, the
// file's and the total progress, the transfer picture (shown while
// downloading) and "Cancel".

#include "host/forms/ComCtrls.h"
#include "setup/dlgcmp_TBaseDlg.h"

namespace orvex {

class TCopyFileForm : public TBaseDuringCopyForm {
public:
    explicit TCopyFileForm(TComponent* owner);
    TLabel* lblProcessing;
    TLabel* lblCurrentFile;
    TLabel* lblFileProgress;
    TProgressBar* pbFile;
    TLabel* lblTotalProgress;
    TProgressBar* pbTotal;
    TImage* imgTransfer;
    TButton* btnCancel;

    void UpdateFileStatus(TFileStatusParameter* status) override;
    void UpdateDownloadStatus(TDownloadStatusParameter* status) override;
};

TDorvaneFormClass CopyFileFormClass();

// The picture of a transfer: two folders and an arrow, 32 x 32.
void DrawTransferPicture(TBitmap& bitmap);

} // namespace orvex
