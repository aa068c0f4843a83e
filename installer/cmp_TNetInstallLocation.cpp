// Network install locations (transfer through libcurl, loaded at first use).

#include "installer/cmp_TNetInstallLocation.h"

namespace orvex {

void TCustomLoginInformation::Assign(TPersistent* source)
{
    auto* other = dynamic_cast<TCustomLoginInformation*>(source);
    if (other == nullptr) {
        TPersistent::Assign(source);
        return;
    }
    Anonymous = other->Anonymous;
    Directory = other->Directory;
    Hostname = other->Hostname;
    Password = other->Password;
    Protocol = other->Protocol;
    Username = other->Username;
}

bool TCustomLoginInformation::IsValid() const
{
    if (Trim(Hostname).empty())
        return false;
    if (Anonymous)
        return true;
    return !Trim(Username).empty() && !Password.empty();
}

TCustomNetInstallLocation::TCustomNetInstallLocation(TComponent* owner)
    : TComponent(owner), FLoginInformation(new TLoginInformation(this))
{
}

TCustomNetInstallLocation::~TCustomNetInstallLocation()
{
    delete FLoginInformation;
}

void TCustomNetInstallLocation::LoadWinINet() {}
void TCustomNetInstallLocation::AssignLoginInformation(TCustomLoginInformation* source)
{
    FLoginInformation->Assign(source);
}
void TCustomNetInstallLocation::Connect() {}
void TCustomNetInstallLocation::Download(const std::string&, const std::string&)
{
    throw ENIL("not available");
}

} // namespace orvex
