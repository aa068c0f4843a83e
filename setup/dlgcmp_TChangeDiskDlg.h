#pragma once
// The change-disk form's dialog component.

#include "setup/ordlg_ChangeDisk.h"

namespace orvex {

class TChangeDiskDlg : public TBaseInstallDlg {
public:
    explicit TChangeDiskDlg(TComponent* owner);
    TDorvaneFormClass PageFormClass() const override { return ChangeDiskFormClass(); }
};

} // namespace orvex
