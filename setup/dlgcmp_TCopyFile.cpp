#include "setup/dlgcmp_TCopyFile.h"

namespace orvex {

namespace {

TCopyFileDlg* GDefaultCopyFileDlg = nullptr;

} // namespace

TCopyFileDlg* DefaultCopyFileDlg()
{
    return GDefaultCopyFileDlg;
}

TCopyFileDlg::TCopyFileDlg(TComponent* owner) : TBaseInstallDlg(owner)
{
    Width = 474;
    Height = 146;
    Position = ddpBottomCenter;
    RelativeTopOffset = 30;
    if (GDefaultCopyFileDlg == nullptr)
        GDefaultCopyFileDlg = this;
    RegisterForm(DCFList, CopyFileFormClass());
}

TCopyFileDlg::~TCopyFileDlg()
{
    if (GDefaultCopyFileDlg == this)
        GDefaultCopyFileDlg = nullptr;
}

} // namespace orvex
