#pragma once
// What the setup program tells on its output while the install run goes on:
// one line per phase, as the install tree's broadcasts announce it.
//
// The report is an install object of type code 9000 under the install
// component, a listener beside the dialog managers: it answers no broadcast
// and changes nothing. Lines, in the order of a run:
//
//   every status text the run pushes    ("Reading file information...",
//                                        "Installing registry keys...")
//   "the pages before installing"
//   "installing the files"              (when the tree's install step begins)
//   "the reboot question: files in use are replaced at the next start"
//   "the installation is complete", "the pages after a good installation"
//   "the installation did not complete", "the pages after a bad installation"

#include "installer/cmp_TInstallContainer.h"

#include <functional>
#include <string>

namespace orvex {

class TSetupReport : public TInstallObject {
public:
    using TPrint = std::function<void(const std::string& line)>;
    // Joins the install tree through SetContainer, as any install object.
    TSetupReport(TComponent* owner, TPrint print);

    Integer KindCode() const override { return kcDialog; }
    void ReceiveMessage(TObject* sender, Integer code, TObject* parameter) override;

    // The phase lines told so far, in order.
    const std::vector<std::string>& Lines() const { return FLines; }

private:
    void Tell(const std::string& line);
    TPrint FPrint;
    std::vector<std::string> FLines;
    bool FBeforeCopy = false; // the pages before installing were shown; no file yet
};

} // namespace orvex
