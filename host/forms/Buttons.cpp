// Push buttons with pictures.

#include "host/forms/Buttons.h"

namespace orvex {

TBitBtn::TBitBtn(TComponent* owner) : TButton(owner), FGlyph(std::make_unique<TBitmap>())
{
    FGlyph->OnChange = [this](TObject*) { Changed(ccState); };
}

TBitBtn::~TBitBtn()
{
    FGlyph->OnChange = nullptr;
}

void TBitBtn::SetGlyph(TBitmap* value)
{
    FGlyph->Assign(value);
}

void TBitBtn::SetLayout(TButtonLayout value)
{
    FLayout = value;
    Changed(ccState);
}

void TBitBtn::SetMargin(int value)
{
    FMargin = value;
    Changed(ccState);
}

void TBitBtn::SetSpacing(int value)
{
    FSpacing = value;
    Changed(ccState);
}

} // namespace orvex
