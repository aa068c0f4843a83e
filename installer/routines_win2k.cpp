#include "installer/routines_win2k.h"

namespace orvex {

void Twin2KExtendedInformation::Assign(TPersistent* source)
{
    if (auto* info = dynamic_cast<Twin2KExtendedInformation*>(source)) {
        Comments = info->Comments;
        Contact = info->Contact;
        DisplayIcon = info->DisplayIcon;
        HelpLink = info->HelpLink;
        HelpTelephone = info->HelpTelephone;
        ProductID = info->ProductID;
        ReadMe = info->ReadMe;
        URLInfoAbout = info->URLInfoAbout;
        URLUpdateInfo = info->URLUpdateInfo;
        return;
    }
    TPersistent::Assign(source);
}

} // namespace orvex
