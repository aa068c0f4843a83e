#include "setup/dlgcmp_TChangeDiskDlg.h"

namespace orvex {

TChangeDiskDlg::TChangeDiskDlg(TComponent* owner) : TBaseInstallDlg(owner)
{
    RegisterForm(CDFList, ChangeDiskFormClass());
}

} // namespace orvex
