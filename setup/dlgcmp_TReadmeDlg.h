#pragma once
// The readme page's dialog component: the readme's text.

#include "setup/ordlg_Readme.h"

namespace orvex {

class TReadmeDlg : public TBaseInstallDlg {
public:
    explicit TReadmeDlg(TComponent* owner);
    ~TReadmeDlg() override;
    TStringList* ReadmeText() const { return FReadmeText.get(); }
    void SetReadmeText(TStrings* value) { FReadmeText->Assign(value); }

    TDorvaneFormClass PageFormClass() const override { return ReadmeFormClass(); }
    Integer OwnCode() const override { return bmReadme; }
    // The text goes into the page's box; "Next >" is the default button.
    void SetUpForm() override;

private:
    std::unique_ptr<TStringList> FReadmeText;
};

} // namespace orvex
