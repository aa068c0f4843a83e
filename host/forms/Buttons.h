#pragma once
// A push button with a picture beside its caption.

#include "host/forms/StdCtrls.h"

#include <memory>

namespace orvex {

enum TButtonLayout { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };

class TBitBtn : public TButton {
public:
    explicit TBitBtn(TComponent* owner);
    ~TBitBtn() override;

    TBitmap* Glyph() const { return FGlyph.get(); }
    void SetGlyph(TBitmap* value);
    TButtonLayout Layout() const { return FLayout; }
    void SetLayout(TButtonLayout value);
    // Pixels between the edge and the picture (-1: centred with the caption)
    // and between the picture and the caption.
    int Margin() const { return FMargin; }
    void SetMargin(int value);
    int Spacing() const { return FSpacing; }
    void SetSpacing(int value);

private:
    std::unique_ptr<TBitmap> FGlyph;
    TButtonLayout FLayout = blGlyphLeft;
    int FMargin = -1;
    int FSpacing = 4;
};

} // namespace orvex
