#pragma once
// The product's entry in the control panel's list of installed programs
// beyond its name: the texts of the uninstall key's extended values.

#include "host/Classes.h"

#include <string>

namespace orvex {

class Twin2KExtendedInformation : public TPersistent {
public:
    std::string Comments;
    std::string Contact;
    // Install files whose installed path the entry shows (install objects
    // of the install tree; nullptr when none).
    TComponent* DisplayIcon = nullptr;
    std::string HelpLink;
    std::string HelpTelephone;
    std::string ProductID;
    TComponent* ReadMe = nullptr;
    std::string URLInfoAbout;
    std::string URLUpdateInfo;
    void Assign(TPersistent* source) override;
};

} // namespace orvex
