#include "setup/SetupReport.h"

namespace orvex {

TSetupReport::TSetupReport(TComponent* owner, TPrint print) : TInstallObject(owner), FPrint(std::move(print)) {}

void TSetupReport::Tell(const std::string& line)
{
    FLines.push_back(line);
    if (FPrint)
        FPrint(line);
}

void TSetupReport::ReceiveMessage(TObject*, Integer code, TObject* parameter)
{
    switch (code) {
    case bmPushStatusText:
        if (auto* message = dynamic_cast<TMessageParameter*>(parameter); message && !message->Text.empty())
            Tell(message->Text);
        break;
    case bmBeforeInstall:
        FBeforeCopy = true;
        Tell("the pages before installing");
        break;
    case bmBeginObject:
        // The tree's install step begins with the install component itself
        // (a build compresses without it): the first object after the pages.
        if (FBeforeCopy) {
            FBeforeCopy = false;
            Tell("installing the files");
        }
        break;
    case bmReboot: Tell("the reboot question: files in use are replaced at the next start"); break;
    case bmBeforeGoodInstall: Tell("the installation is complete"); break;
    case bmAfterGoodInstall: Tell("the pages after a good installation"); break;
    case bmBeforeBadInstall:
        FBeforeCopy = false;
        Tell("the installation did not complete");
        break;
    case bmAfterBadInstall: Tell("the pages after a bad installation"); break;
    default: break;
    }
}

} // namespace orvex
