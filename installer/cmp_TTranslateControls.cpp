#include "installer/cmp_TTranslateControls.h"

#include "host/forms/Forms.h"

#include <algorithm>

namespace orvex {

bool TFormsTranslationSite::IsForm(TComponent* component) const
{
    return dynamic_cast<TCustomForm*>(component) != nullptr;
}

bool TFormsTranslationSite::IsControl(TComponent* component) const
{
    return dynamic_cast<TControl*>(component) != nullptr;
}

bool TFormsTranslationSite::GLIDOf(TComponent* component, Integer& glid) const
{
    if (auto* label = dynamic_cast<TTranslateLabel*>(component)) {
        glid = label->GLID;
        return true;
    }
    if (auto* button = dynamic_cast<TTranslateBitBtn*>(component)) {
        glid = button->GLID;
        return true;
    }
    return false;
}

void TFormsTranslationSite::BeginTranslate(TComponent* component)
{
    auto* label = dynamic_cast<TCustomLabel*>(component);
    if (label != nullptr && label->AutoSize()) {
        label->SetAutoSize(false);
        FAutoSized.push_back(label);
    }
}

void TFormsTranslationSite::EndTranslate(TComponent* component)
{
    auto* control = dynamic_cast<TControl*>(component);
    if (control == nullptr)
        return;
    const auto it = std::find(FAutoSized.begin(), FAutoSized.end(), control);
    if (it != FAutoSized.end()) {
        FAutoSized.erase(it);
        control->SetAutoSize(true);
    }
    if (auto* win = dynamic_cast<TWinControl*>(control))
        win->Realign();
}

bool TFormsTranslationSite::GetFont(TComponent* component, TLanguageFont& font) const
{
    auto* control = dynamic_cast<TControl*>(component);
    if (control == nullptr)
        return false;
    const TFont* f = control->Font();
    font.Name = f->Name();
    font.Size = f->Size();
    font.Charset = f->Charset();
    font.Color = f->Color();
    font.Style = static_cast<Byte>(f->Style());
    return true;
}

void TFormsTranslationSite::SetFont(TComponent* component, const TLanguageFont& font)
{
    auto* control = dynamic_cast<TControl*>(component);
    if (control == nullptr)
        return;
    TFont* f = control->Font();
    f->SetName(font.Name);
    if (f->Size() != font.Size)
        f->SetSize(font.Size);
    f->SetCharset(font.Charset);
    f->SetColor(font.Color);
    f->SetStyle(font.Style);
}

std::vector<TComponent*> TFormsTranslationSite::ChildControls(TComponent* component) const
{
    std::vector<TComponent*> children;
    if (auto* win = dynamic_cast<TWinControl*>(component))
        for (int i = 0; i < win->ControlCount(); ++i)
            children.push_back(win->Controls(i));
    return children;
}

void UseFormsTranslationSite()
{
    static TFormsTranslationSite site;
    SetTranslationSite(&site);
}

} // namespace orvex
