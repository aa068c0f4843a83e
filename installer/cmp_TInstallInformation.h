#pragma once
// The product's names, as the install component publishes them.

#include "host/Classes.h"

#include <string>

namespace orvex {

class TInstallInformation : public TPersistent {
public:
    std::string CompanyName = "My Company";
    std::string ProductName = "My product";
    std::string Version = "1.0";
    void Assign(TPersistent* source) override;
};

} // namespace orvex
