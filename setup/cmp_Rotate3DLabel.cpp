#include "setup/cmp_Rotate3DLabel.h"

#include <cmath>

namespace orvex {

namespace {

TRotate3DLabel* GCurrentLabel = nullptr;

constexpr double Pi = 3.14159265358979323846;

} // namespace

int RoundHalfEven(double value)
{
    return static_cast<int>(std::nearbyint(value));
}

// ------------------------------------------------------------------ TLabelStyle

void TLabelStyle::Assign(TPersistent* source)
{
    auto* style = dynamic_cast<TLabelStyle*>(source);
    if (style == nullptr) {
        TPersistent::Assign(source);
        return;
    }
    FAngle = style->FAngle;
    FStyle3D = style->FStyle3D;
    FShadeRightBottom = style->FShadeRightBottom;
    FShadeLeftTop = style->FShadeLeftTop;
    FSavedShadeLeftTop = style->FSavedShadeLeftTop;
    FShadeLTSet = style->FShadeLTSet;
    FHShadeOffSet = style->FHShadeOffSet;
    FVShadeOffSet = style->FVShadeOffSet;
    Changed();
}

void TLabelStyle::Changed()
{
    if (OnChange)
        OnChange(this);
}

void TLabelStyle::SetAngle(int value)
{
    FAngle = value >= 0 && value <= 359 ? value : 0;
    Changed();
}

void TLabelStyle::SetAStyle3D(T3DEffectShort value)
{
    FStyle3D = value;
    Changed();
}

void TLabelStyle::SetAShadeRightBottom(TColor value)
{
    FShadeRightBottom = value;
    Changed();
}

void TLabelStyle::SetAShadeLeftTop(TColor value)
{
    FShadeLeftTop = value;
    Changed();
}

void TLabelStyle::SetAShadeLTSet(bool value)
{
    if (value == FShadeLTSet)
        return;
    FShadeLTSet = value;
    if (value) {
        FSavedShadeLeftTop = FShadeLeftTop;
        FShadeLeftTop = clWhite;
    } else {
        FShadeLeftTop = FSavedShadeLeftTop;
    }
    Changed();
}

void TLabelStyle::SetAHShadeOffSet(int value)
{
    FHShadeOffSet = value;
    Changed();
}

void TLabelStyle::SetAVShadeOffSet(int value)
{
    FVShadeOffSet = value;
    Changed();
}

// --------------------------------------------------------------- TRotate3DLabel

TRotate3DLabel* CurrentRotate3DLabel()
{
    return GCurrentLabel;
}

TRotate3DLabel::TRotate3DLabel(TComponent* owner)
    : TCustomLabel(owner), FLabelStyle(std::make_unique<TLabelStyle>())
{
    FLabelStyle->OnChange = [this](TObject*) { Invalidate(); };
    SetAutoSize(false);
    SetTransparent(true);
    Font()->SetName("Arial");
    Font()->SetStyle(fsBold);
}

TRotate3DLabel::~TRotate3DLabel()
{
    if (GCurrentLabel == this)
        GCurrentLabel = nullptr;
}

void TRotate3DLabel::SetMyTransparent(bool value)
{
    if (FMyTransparent == value)
        return;
    FMyTransparent = value;
    SetTransparent(value);
    Invalidate();
}

void TRotate3DLabel::SetTag(long long value)
{
    if (value == -1) {
        if (GCurrentLabel != nullptr && GCurrentLabel != this)
            GCurrentLabel->Tag = 0;
        GCurrentLabel = this;
    } else if (GCurrentLabel == this) {
        GCurrentLabel = nullptr;
    }
    Tag = value;
}

TPoint TRotate3DLabel::TextOrigin(int w, int h) const
{
    const double a = FLabelStyle->Angle() * Pi / 180.0;
    const double c = std::cos(a);
    const double s = std::sin(a);
    const int cx = Width() / 2;
    const int cy = Height() / 2;
    int x = 0;
    switch (Alignment()) {
    case taLeftJustify: x = 0; break;
    case taRightJustify: x = Width() - w; break;
    case taCenter: x = cx - RoundHalfEven(w / 2.0 * c) - RoundHalfEven(h / 2.0 * s); break;
    }
    const int y = RoundHalfEven(w / 2.0 * s) + cy - RoundHalfEven(h / 2.0 * c);
    return {x, y};
}

void TRotate3DLabel::Paint()
{
    TCanvas& canvas = *Canvas();
    const std::string text = Caption();
    const int angle = FLabelStyle->Angle();
    canvas.Font()->Assign(Font());
    canvas.Font()->SetEscapement(angle * 10);
    const TSize extent = canvas.TextExtent(text);
    const int w = extent.cx;
    const int h = extent.cy;
    const TPoint origin = TextOrigin(w, h);

    T3DEffectShort style = FLabelStyle->AStyle3D();
    if (!FMyTransparent) {
        style = A3dNormal;
        const double a = angle * Pi / 180.0;
        const double c = std::cos(a);
        const double s = std::sin(a);
        const int cx = Width() / 2;
        const int cy = Height() / 2;
        const double hw = (w + 10) / 2.0;
        const double hh = (h + 7) / 2.0;
        const int wc = RoundHalfEven(hw * c), ws = RoundHalfEven(hw * s);
        const int hc = RoundHalfEven(hh * c), hs = RoundHalfEven(hh * s);
        canvas.Brush()->SetStyle(bsSolid);
        canvas.Brush()->SetColor(Color());
        canvas.Pen()->SetColor(Color());
        canvas.Polygon({{cx - wc - hs, cy + ws - hc},
                        {cx + wc - hs, cy - ws - hc},
                        {cx + wc + hs, cy - ws + hc},
                        {cx - wc + hs, cy + ws + hc}});
    }

    canvas.Brush()->SetStyle(bsClear);
    const TColor fontColor = Font()->Color();
    auto shade = [&](TColor color, int dx, int dy) {
        canvas.Font()->SetColor(color);
        canvas.TextOut(origin.X + dx, origin.Y + dy, text);
    };
    switch (style) {
    case A3dNormal: break;
    case A3dResit:
        shade(FLabelStyle->AShadeLeftTop(), 1, 1);
        shade(FLabelStyle->AShadeRightBottom(), -1, -1);
        break;
    case A3dRaised:
        shade(FLabelStyle->AShadeLeftTop(), -1, -1);
        shade(FLabelStyle->AShadeRightBottom(), 1, 1);
        break;
    case A3dShadowed:
        shade(FLabelStyle->AShadeRightBottom(), FLabelStyle->AHShadeOffSet(), FLabelStyle->AVShadeOffSet());
        break;
    }
    shade(fontColor, 0, 0);
}

} // namespace orvex
