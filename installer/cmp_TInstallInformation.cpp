#include "installer/cmp_TInstallInformation.h"

namespace orvex {

void TInstallInformation::Assign(TPersistent* source)
{
    if (auto* info = dynamic_cast<TInstallInformation*>(source)) {
        CompanyName = info->CompanyName;
        ProductName = info->ProductName;
        Version = info->Version;
        return;
    }
    TPersistent::Assign(source);
}

} // namespace orvex
