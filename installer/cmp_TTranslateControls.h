#pragma once
// How the translator reaches the controls of the forms layer.
//
// The texts of a component come from the forms layer's per-class list of
// text properties (host/forms/TextProperties.h): single texts, blocks of
// lines translated as one memo, and lists whose items translate one by one.
// That needs no form, and the translator uses it directly.
//
// The rest is a matter of controls and is reached through a
// TTranslationSite that the forms layer installs: which components are
// forms or controls, hiding a control (and stopping a label's auto-size)
// while its texts change, the text id of the controls that carry one
// (TTranslateLabel, a label, and TTranslateBitBtn, a bitmap button, each
// with a published integer GLID), fonts, and a windowed control's children.
// Without a site the translator still translates texts, descends into every
// owned component, and leaves fonts alone.

#include "host/Classes.h"
#include "host/forms/Buttons.h"
#include "host/forms/StdCtrls.h"
#include "installer/cmp_TTranslator.h"

#include <vector>

namespace orvex {

class TTranslationSite {
public:
    virtual ~TTranslationSite() = default;

    virtual bool IsForm(TComponent* component) const = 0;
    virtual bool IsControl(TComponent* component) const = 0;
    // For a TTranslateLabel or TTranslateBitBtn: its GLID; false for every
    // other class. Its caption is its "Caption" text property.
    virtual bool GLIDOf(TComponent* component, Integer& glid) const = 0;

    // Around the change of a control's texts: hide it (forms and images stay
    // visible) and stop a label's auto-size; then restore both and re-align
    // a windowed control.
    virtual void BeginTranslate(TComponent* control) = 0;
    virtual void EndTranslate(TComponent* control) = 0;

    // A control's font; false for a component without one.
    virtual bool GetFont(TComponent* control, TLanguageFont& font) const = 0;
    virtual void SetFont(TComponent* control, const TLanguageFont& font) = 0;
    // The child controls of a windowed control (empty for others).
    virtual std::vector<TComponent*> ChildControls(TComponent* control) const = 0;
};

// The site in use (nullptr: none); the forms layer installs its own.
TTranslationSite* TranslationSite();
void SetTranslationSite(TTranslationSite* site);

// A label whose caption is the translator's text with the id GLID (when GLID
// is above 0); with a GLID other than 0 its texts are not translated further.
class TTranslateLabel : public TLabel {
public:
    using TLabel::TLabel;
    Integer GLID = 0;
};

// A bitmap button whose caption is the translator's text with the id GLID,
// as TTranslateLabel.
class TTranslateBitBtn : public TBitBtn {
public:
    using TBitBtn::TBitBtn;
    Integer GLID = 0;
};

// The site of the forms layer: forms and controls of host/forms, their fonts
// and children. While a control's texts change, a label's auto-size is off;
// afterwards a windowed control is re-aligned. Controls stay visible: hiding
// them would take the focus away from the one that has it.
class TFormsTranslationSite : public TTranslationSite {
public:
    bool IsForm(TComponent* component) const override;
    bool IsControl(TComponent* component) const override;
    bool GLIDOf(TComponent* component, Integer& glid) const override;
    void BeginTranslate(TComponent* control) override;
    void EndTranslate(TComponent* control) override;
    bool GetFont(TComponent* control, TLanguageFont& font) const override;
    void SetFont(TComponent* control, const TLanguageFont& font) override;
    std::vector<TComponent*> ChildControls(TComponent* control) const override;

private:
    // Labels whose auto-size was turned off for their translation.
    std::vector<TControl*> FAutoSized;
};

// Installs the forms layer's site (one program-wide instance) as the
// translator's site.
void UseFormsTranslationSite();

} // namespace orvex
