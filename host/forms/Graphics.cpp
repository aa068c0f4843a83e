// Rectangles, MulDiv, colours, fonts, pens, brushes, RGB images and the canvas.

#include "host/forms/Graphics.h"

#include "host/forms/Backend.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>

namespace orvex {

// ------------------------------------------------------- points and rectangles

TRect IntersectRect(const TRect& a, const TRect& b)
{
    TRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
            std::min(a.Bottom, b.Bottom)};
    return r.IsEmpty() ? TRect{} : r;
}

void OffsetRect(TRect& rect, int dx, int dy)
{
    rect.Left += dx;
    rect.Right += dx;
    rect.Top += dy;
    rect.Bottom += dy;
}

void InflateRect(TRect& rect, int dx, int dy)
{
    rect.Left -= dx;
    rect.Right += dx;
    rect.Top -= dy;
    rect.Bottom += dy;
}

int MulDiv(int number, int numerator, int denominator)
{
    if (denominator == 0)
        return -1;
    long long product = static_cast<long long>(number) * numerator;
    long long divisor = denominator;
    if (divisor < 0) {
        product = -product;
        divisor = -divisor;
    }
    // Half the divisor (rounded down) pushes the quotient away from zero, so
    // exact halves round outwards and C++'s truncation does the rest.
    const long long result =
        product >= 0 ? (product + divisor / 2) / divisor : (product - divisor / 2) / divisor;
    if (result > INT_MAX || result < -INT_MAX)
        return -1;
    return static_cast<int>(result);
}

// ---------------------------------------------------------------------- colours

namespace {

// The classic grey scheme of the system colours, by index.
constexpr std::array<TColor, 25> SystemColors = {
    RGB(212, 208, 200), // scroll bar
    RGB(58, 110, 165),  // background (desktop)
    RGB(10, 36, 106),   // active caption
    RGB(128, 128, 128), // inactive caption
    RGB(212, 208, 200), // menu
    RGB(255, 255, 255), // window
    RGB(0, 0, 0),       // window frame
    RGB(0, 0, 0),       // menu text
    RGB(0, 0, 0),       // window text
    RGB(255, 255, 255), // caption text
    RGB(212, 208, 200), // active border
    RGB(212, 208, 200), // inactive border
    RGB(128, 128, 128), // application work space
    RGB(10, 36, 106),   // highlight
    RGB(255, 255, 255), // highlight text
    RGB(212, 208, 200), // button face
    RGB(128, 128, 128), // button shadow
    RGB(128, 128, 128), // grey text
    RGB(0, 0, 0),       // button text
    RGB(212, 208, 200), // inactive caption text
    RGB(255, 255, 255), // button highlight
    RGB(64, 64, 64),    // 3D dark shadow
    RGB(212, 208, 200), // 3D light
    RGB(0, 0, 0),       // tooltip text
    RGB(255, 255, 225), // tooltip background
};

} // namespace

TColor ColorToRGB(TColor color)
{
    if (color >= 0)
        return color;
    const unsigned index = static_cast<unsigned>(color) & 0xFFu;
    return index < SystemColors.size() ? SystemColors[index] : clBlack;
}

// ------------------------------------------------------ fonts, pens, brushes

TFont::TFont() = default;

void TFont::Assign(TPersistent* source)
{
    if (auto* font = dynamic_cast<TFont*>(source)) {
        if (SameAs(*font))
            return;
        FName = font->FName;
        FHeight = font->FHeight;
        FColor = font->FColor;
        FStyle = font->FStyle;
        FCharset = font->FCharset;
        FEscapement = font->FEscapement;
        Changed();
        return;
    }
    TPersistent::Assign(source);
}

bool TFont::SameAs(const TFont& other) const
{
    return FName == other.FName && FHeight == other.FHeight && FColor == other.FColor &&
           FStyle == other.FStyle && FCharset == other.FCharset &&
           FEscapement == other.FEscapement;
}

void TFont::Changed()
{
    if (OnChange)
        OnChange(this);
}

void TFont::SetName(const std::string& value)
{
    if (FName != value) {
        FName = value;
        Changed();
    }
}

void TFont::SetHeight(int value)
{
    if (FHeight != value) {
        FHeight = value;
        Changed();
    }
}

int TFont::Size() const
{
    return -MulDiv(FHeight, 72, ScreenPixelsPerInch);
}

void TFont::SetSize(int points)
{
    SetHeight(-MulDiv(points, ScreenPixelsPerInch, 72));
}

void TFont::SetColor(TColor value)
{
    if (FColor != value) {
        FColor = value;
        Changed();
    }
}

void TFont::SetStyle(TFontStyles value)
{
    if (FStyle != value) {
        FStyle = value;
        Changed();
    }
}

void TFont::SetCharset(TFontCharset value)
{
    if (FCharset != value) {
        FCharset = value;
        Changed();
    }
}

void TFont::SetEscapement(int tenthsOfDegree)
{
    if (FEscapement != tenthsOfDegree) {
        FEscapement = tenthsOfDegree;
        Changed();
    }
}

int TFont::PixelHeight() const
{
    // A positive height is the whole cell; the character is five sixths of it.
    return FHeight < 0 ? -FHeight : std::max(1, FHeight * 5 / 6);
}

void TPen::Assign(TPersistent* source)
{
    if (auto* pen = dynamic_cast<TPen*>(source)) {
        FColor = pen->FColor;
        FWidth = pen->FWidth;
        FStyle = pen->FStyle;
        Changed();
        return;
    }
    TPersistent::Assign(source);
}

void TPen::Changed()
{
    if (OnChange)
        OnChange(this);
}

void TPen::SetColor(TColor value)
{
    FColor = value;
    Changed();
}

void TPen::SetWidth(int value)
{
    FWidth = std::max(1, value);
    Changed();
}

void TPen::SetStyle(TPenStyle value)
{
    FStyle = value;
    Changed();
}

void TBrush::Assign(TPersistent* source)
{
    if (auto* brush = dynamic_cast<TBrush*>(source)) {
        FColor = brush->FColor;
        FStyle = brush->FStyle;
        Changed();
        return;
    }
    TPersistent::Assign(source);
}

void TBrush::Changed()
{
    if (OnChange)
        OnChange(this);
}

void TBrush::SetColor(TColor value)
{
    FColor = value;
    // Choosing a colour makes a clear brush solid again.
    FStyle = bsSolid;
    Changed();
}

void TBrush::SetStyle(TBrushStyle value)
{
    FStyle = value;
    Changed();
}

// ------------------------------------------------------------------ RGB images

TRGBImage::TRGBImage(int width, int height, TColor fill)
{
    SetSize(width, height, fill);
}

void TRGBImage::SetSize(int width, int height, TColor fill)
{
    FWidth = std::max(0, width);
    FHeight = std::max(0, height);
    FBits.assign(static_cast<std::size_t>(FWidth) * FHeight * 3, 0);
    Fill(fill);
}

void TRGBImage::Fill(TColor rgb)
{
    for (std::size_t i = 0; i + 2 < FBits.size(); i += 3) {
        FBits[i] = static_cast<std::uint8_t>(GetRValue(rgb));
        FBits[i + 1] = static_cast<std::uint8_t>(GetGValue(rgb));
        FBits[i + 2] = static_cast<std::uint8_t>(GetBValue(rgb));
    }
}

TColor TRGBImage::Pixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= FWidth || y >= FHeight)
        return clNone;
    const std::size_t at = (static_cast<std::size_t>(y) * FWidth + x) * 3;
    return RGB(FBits[at], FBits[at + 1], FBits[at + 2]);
}

void TRGBImage::SetPixel(int x, int y, TColor rgb)
{
    if (x < 0 || y < 0 || x >= FWidth || y >= FHeight)
        return;
    const std::size_t at = (static_cast<std::size_t>(y) * FWidth + x) * 3;
    FBits[at] = static_cast<std::uint8_t>(GetRValue(rgb));
    FBits[at + 1] = static_cast<std::uint8_t>(GetGValue(rgb));
    FBits[at + 2] = static_cast<std::uint8_t>(GetBValue(rgb));
}

// ---------------------------------------------------------------------- canvas

TCanvas::TCanvas()
    : FFont(std::make_unique<TFont>()), FPen(std::make_unique<TPen>()),
      FBrush(std::make_unique<TBrush>())
{
}

TCanvas::~TCanvas() = default;

void TCanvas::MoveTo(int x, int y)
{
    FPenPos = {x, y};
}

void TCanvas::LineTo(int x, int y)
{
    if (FDevice != nullptr && FPen->Style() != psClear)
        FDevice->Line(FPenPos, {x, y}, ColorToRGB(FPen->Color()), FPen->Width());
    FPenPos = {x, y};
}

void TCanvas::Polyline(const std::vector<TPoint>& points)
{
    if (points.empty())
        return;
    MoveTo(points[0].X, points[0].Y);
    for (std::size_t i = 1; i < points.size(); ++i)
        LineTo(points[i].X, points[i].Y);
}

void TCanvas::Polygon(const std::vector<TPoint>& points)
{
    if (FDevice == nullptr || points.empty())
        return;
    if (FBrush->Style() != bsClear)
        FDevice->FillPolygon(points, ColorToRGB(FBrush->Color()));
    if (FPen->Style() != psClear) {
        const TColor pen = ColorToRGB(FPen->Color());
        for (std::size_t i = 0; i < points.size(); ++i)
            FDevice->Line(points[i], points[(i + 1) % points.size()], pen, FPen->Width());
    }
}

void TCanvas::Rectangle(int x1, int y1, int x2, int y2)
{
    if (FDevice == nullptr)
        return;
    const bool framed = FPen->Style() != psClear;
    if (FBrush->Style() != bsClear) {
        TRect inside = Rect(x1, y1, x2, y2);
        if (framed)
            InflateRect(inside, -1, -1);
        FDevice->FillRect(inside, ColorToRGB(FBrush->Color()));
    }
    if (framed)
        Polygon({{x1, y1}, {x2 - 1, y1}, {x2 - 1, y2 - 1}, {x1, y2 - 1}});
}

void TCanvas::FillRect(const TRect& rect)
{
    if (FDevice != nullptr && FBrush->Style() != bsClear)
        FDevice->FillRect(rect, ColorToRGB(FBrush->Color()));
}

void TCanvas::FrameRect(const TRect& rect)
{
    if (FDevice == nullptr || rect.IsEmpty())
        return;
    const TColor c = ColorToRGB(FBrush->Color());
    FDevice->FillRect(Rect(rect.Left, rect.Top, rect.Right, rect.Top + 1), c);
    FDevice->FillRect(Rect(rect.Left, rect.Bottom - 1, rect.Right, rect.Bottom), c);
    FDevice->FillRect(Rect(rect.Left, rect.Top, rect.Left + 1, rect.Bottom), c);
    FDevice->FillRect(Rect(rect.Right - 1, rect.Top, rect.Right, rect.Bottom), c);
}

namespace {

// The corners of a text cell of size `extent` at (x, y), turned by the escapement.
std::vector<TPoint> TurnedCell(int x, int y, TSize extent, int escapement)
{
    const double a = escapement / 10.0 * 3.14159265358979323846 / 180.0;
    const double c = std::cos(a);
    const double s = std::sin(a);
    auto at = [&](double u, double v) {
        return TPoint{x + static_cast<int>(std::lround(u * c + v * s)),
                      y + static_cast<int>(std::lround(-u * s + v * c))};
    };
    return {at(0, 0), at(extent.cx, 0), at(extent.cx, extent.cy), at(0, extent.cy)};
}

} // namespace

void TCanvas::TextOut(int x, int y, const std::string& text)
{
    const TSize extent = TextExtent(text);
    if (FDevice != nullptr) {
        if (FBrush->Style() != bsClear) {
            const TColor back = ColorToRGB(FBrush->Color());
            if (FFont->Escapement() % 3600 == 0)
                FDevice->FillRect(Bounds(x, y, extent.cx, extent.cy), back);
            else
                FDevice->FillPolygon(TurnedCell(x, y, extent, FFont->Escapement()), back);
        }
        FDevice->Text(x, y, text, *FFont, ColorToRGB(FFont->Color()), nullptr);
    }
    FPenPos = {x + extent.cx, y};
}

void TCanvas::TextRect(const TRect& rect, int x, int y, const std::string& text)
{
    if (FDevice == nullptr)
        return;
    if (FBrush->Style() != bsClear)
        FDevice->FillRect(rect, ColorToRGB(FBrush->Color()));
    FDevice->Text(x, y, text, *FFont, ColorToRGB(FFont->Color()), &rect);
}

TSize TCanvas::TextExtent(const std::string& text) const
{
    if (FDevice != nullptr)
        return FDevice->TextExtent(*FFont, text);
    return FormsBackend().TextExtent(*FFont, text);
}

TColor TCanvas::Pixels(int x, int y) const
{
    return FDevice != nullptr ? FDevice->GetPixel(x, y) : clNone;
}

void TCanvas::SetPixel(int x, int y, TColor color)
{
    if (FDevice != nullptr)
        FDevice->SetPixel(x, y, ColorToRGB(color));
}

void TCanvas::Draw(int x, int y, TGraphic* graphic)
{
    if (graphic != nullptr && !graphic->Empty())
        graphic->Draw(*this, Bounds(x, y, graphic->Width(), graphic->Height()));
}

void TCanvas::StretchDraw(const TRect& rect, TGraphic* graphic)
{
    if (graphic != nullptr && !graphic->Empty())
        graphic->Draw(*this, rect);
}

TRect TCanvas::ClipRect() const
{
    return FDevice != nullptr ? FDevice->ClipRect() : TRect{};
}

} // namespace orvex
