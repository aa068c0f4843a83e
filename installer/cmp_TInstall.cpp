// The install component: the tree's root and the route of its broadcasts.

#include "installer/cmp_TInstall.h"

#include "host/forms/Forms.h"
#include "installer/exceptions_Dorvane.h"
#include "installer/routines_win2k.h"

namespace orvex {

namespace {

TCustomInstall* GInstall = nullptr;

// Only a form may own the install component, and only one may exist; checked
// before the base constructor joins the global lists.
TComponent* CheckedInstallOwner(TComponent* owner)
{
    if (GInstall != nullptr)
        throw IEInstall("The TInstall component does not currently support the use of 2 TInstall components in "
                        "the same project");
    if (dynamic_cast<TCustomForm*>(owner) == nullptr)
        throw IEInstall("The Owner of the TInstall component must either be a class of type TCustomForm (Delphi 3) "
                        "or TForm (Delphi 2.0,C++Builder 1.0)");
    return owner;
}

} // namespace

TCustomInstall* GetInstall()
{
    return GInstall;
}

TCustomInstall::TCustomInstall(TComponent* owner)
    : TFileContainer(CheckedInstallOwner(owner)), FInformation(new TInstallInformation),
      FExtendedInformation(new Twin2KExtendedInformation), FPresetupFiles(new TStringList)
{
    GInstall = this;
    InitRunState();
    delete FileContainerSpecifier(); // the install component has none
    SetDestDir("\\MyApplication");
    if (StandardPathSpecList()->HasClass(&TpsProgramFiles::ClassInfo))
        SetDestDirType(StandardPathSpecList()->FindByClass(&TpsProgramFiles::ClassInfo));
    if (StandardPathSpecList()->HasClass(&TpsMainArchiveFile::ClassInfo))
        SetArchiveFileType(StandardPathSpecList()->FindByClass(&TpsMainArchiveFile::ClassInfo));
}

TCustomInstall::~TCustomInstall()
{
    if (GInstall == this)
        GInstall = nullptr;
    DoneRunState();
    delete FPresetupFiles;
    delete FExtendedInformation;
    delete FInformation;
}

void TCustomInstall::SetDistributeType(TDistributeType value)
{
    if (value != dtTraditional && NetLocation() == nullptr)
        throw IEInstallNetLocNil("Must assign a net location via the NetLocation property before you can set the "
                                 "distribute type");
    FDistributeType = value;
}

void TCustomInstall::SetNetLocation(TCustomNetInstallLocation* value)
{
    TFileContainer::SetNetLocation(value);
    if (value == nullptr)
        FDistributeType = dtTraditional;
}

bool TCustomInstall::ConfirmUserAbort()
{
    bool abort = true;
    if (OnUserAbort)
        OnUserAbort(this, abort);
    return abort;
}

} // namespace orvex
