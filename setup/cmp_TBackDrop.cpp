#include "setup/cmp_TBackDrop.h"

namespace orvex {

namespace {

TBackdrop* GCurrentBackdrop = nullptr;

} // namespace

TBackdrop* CurrentBackdrop()
{
    return GCurrentBackdrop;
}

TBackdrop::TBackdrop(TComponent* owner) : TCustomPanel(owner)
{
    SetAlign(alClient);
}

TBackdrop::~TBackdrop()
{
    if (GCurrentBackdrop == this)
        GCurrentBackdrop = nullptr;
}

void TBackdrop::SetDirection(TDirection value)
{
    if (FDirection != value) {
        FDirection = value;
        Invalidate();
    }
}

void TBackdrop::SetStartColor(TColor value)
{
    if (FStartColor != value) {
        FStartColor = value;
        Invalidate();
    }
}

void TBackdrop::SetEndColor(TColor value)
{
    if (FEndColor != value) {
        FEndColor = value;
        Invalidate();
    }
}

void TBackdrop::SetTag(long long value)
{
    if (value == -1) {
        if (GCurrentBackdrop != nullptr && GCurrentBackdrop != this)
            GCurrentBackdrop->Tag = 0;
        GCurrentBackdrop = this;
    } else if (GCurrentBackdrop == this) {
        GCurrentBackdrop = nullptr;
    }
    Tag = value;
}

void TBackdrop::Paint()
{
    PaintGradient(*Canvas(), ClientRect(), FDirection, FStartColor, FEndColor);
}

void PaintGradient(TCanvas& canvas, const TRect& rect, TDirection direction, TColor startColor,
                   TColor endColor)
{
    const TColor start = ColorToRGB(startColor);
    const TColor end = ColorToRGB(endColor);
    // Which colour the bands run from, whether they stack along the height,
    // and whether each is painted again mirrored.
    bool fromStart = true;
    bool vertical = true;
    bool mirrored = false;
    switch (direction) {
    case bdUp: break;
    case bdDown: fromStart = false; break;
    case bdLeft: vertical = false; break;
    case bdRight: fromStart = false; vertical = false; break;
    case bdHorzIn: fromStart = false; mirrored = true; break;
    case bdHorzOut: mirrored = true; break;
    case bdVertIn: vertical = false; mirrored = true; break;
    case bdVertOut: fromStart = false; vertical = false; mirrored = true; break;
    }
    const TColor from = fromStart ? start : end;
    const TColor to = fromStart ? end : start;
    const int size = vertical ? rect.Height() : rect.Width();
    const int bands = mirrored ? 128 : 256;
    const int divisor = bands - 1;
    auto band = [&](int a, int b) {
        return vertical ? Rect(rect.Left, rect.Top + a, rect.Right, rect.Top + b)
                        : Rect(rect.Left + a, rect.Top, rect.Left + b, rect.Bottom);
    };
    for (int i = 0; i < bands; ++i) {
        const int r = GetRValue(from) + MulDiv(i, GetRValue(to) - GetRValue(from), divisor);
        const int g = GetGValue(from) + MulDiv(i, GetGValue(to) - GetGValue(from), divisor);
        const int b = GetBValue(from) + MulDiv(i, GetBValue(to) - GetBValue(from), divisor);
        canvas.Brush()->SetStyle(bsSolid);
        canvas.Brush()->SetColor(RGB(r, g, b));
        canvas.FillRect(band(MulDiv(i, size, 256), MulDiv(i + 1, size, 256)));
        if (mirrored)
            canvas.FillRect(band(MulDiv(255 - i, size, 256), MulDiv(256 - i, size, 256)));
    }
}

} // namespace orvex
