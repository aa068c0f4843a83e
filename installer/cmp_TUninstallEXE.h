#pragma once
// The uninstall program: installed like any install file, it also registers
// the product in Windows' list of installed programs.

#include "installer/cmp_TInstallContainer.h"

#include <string>

namespace orvex {

class TUninstallEXE : public TCustomInstallFile {
public:
    explicit TUninstallEXE(TComponent* owner);
    // Clears the install component's BuildInfo.AddUninstallOnCreate.
    ~TUninstallEXE() override;

    // The registered owner and company names; when empty, the machine's own
    // (RegisteredOwner and RegisteredOrganization) are written.
    std::string RegOwner;
    std::string RegCompany;

    // Writes the product's uninstall values under keyPath (HKEY_LOCAL_MACHINE),
    // besides the file's own uninstall entries.
    void WriteUninstallInfo(const std::string& keyPath) override;
};

} // namespace orvex
