// The raster device: painting into an RGB image with fixed text metrics.

#include "host/forms/Graphics.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace orvex {

namespace {

struct TFixedMetrics {
    int Em;        // character height
    int Cell;      // line height
    int CharWidth; // every character
};

TFixedMetrics FixedMetrics(const TFont& font)
{
    const int em = font.PixelHeight();
    const int width = std::max(1, (em * 5 + 5) / 11) + ((font.Style() & fsBold) != 0 ? 1 : 0);
    return {em, em + em / 5, width};
}

// The text's pixels in its own unturned cell: true where ink goes.
std::vector<bool> TextMask(const std::string& text, const TFixedMetrics& m, TFontStyles style)
{
    const int w = m.CharWidth * static_cast<int>(text.size());
    std::vector<bool> mask(static_cast<std::size_t>(w) * m.Cell, false);
    auto set = [&](int x0, int x1, int y0, int y1) {
        for (int y = std::max(0, y0); y < std::min(m.Cell, y1); ++y)
            for (int x = std::max(0, x0); x < std::min(w, x1); ++x)
                mask[static_cast<std::size_t>(y) * w + x] = true;
    };
    const int glyphTop = m.Em / 5;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) <= ' ')
            continue;
        const int left = static_cast<int>(i) * m.CharWidth;
        const int inset = m.CharWidth >= 3 ? 1 : 0;
        const int right = left + m.CharWidth - (m.CharWidth >= 2 ? 1 : 0);
        set(left + inset, right, glyphTop, m.Em);
    }
    if ((style & fsUnderline) != 0)
        set(0, w, m.Em, m.Em + 1);
    if ((style & fsStrikeOut) != 0)
        set(0, w, (glyphTop + m.Em) / 2, (glyphTop + m.Em) / 2 + 1);
    return mask;
}

} // namespace

TSize FixedTextExtent(const TFont& font, const std::string& text)
{
    const TFixedMetrics m = FixedMetrics(font);
    return {m.CharWidth * static_cast<int>(text.size()), m.Cell};
}

TRasterDevice::TRasterDevice(TRGBImage& image)
    : TRasterDevice(image, {0, 0}, Rect(0, 0, image.Width(), image.Height()))
{
}

TRasterDevice::TRasterDevice(TRGBImage& image, TPoint origin, const TRect& clip)
    : FImage(image), FOrigin(origin),
      FClip(IntersectRect(clip, Rect(0, 0, image.Width(), image.Height())))
{
}

TRect TRasterDevice::ClipRect() const
{
    TRect r = FClip;
    OffsetRect(r, -FOrigin.X, -FOrigin.Y);
    return r;
}

void TRasterDevice::Plot(int x, int y, TColor rgb)
{
    const TPoint p{x + FOrigin.X, y + FOrigin.Y};
    if (FClip.Contains(p))
        FImage.SetPixel(p.X, p.Y, rgb);
}

void TRasterDevice::FillRect(const TRect& rect, TColor rgb)
{
    TRect r = rect;
    OffsetRect(r, FOrigin.X, FOrigin.Y);
    r = IntersectRect(r, FClip);
    for (int y = r.Top; y < r.Bottom; ++y)
        for (int x = r.Left; x < r.Right; ++x)
            FImage.SetPixel(x, y, rgb);
}

void TRasterDevice::FillPolygon(const std::vector<TPoint>& points, TColor rgb)
{
    if (points.size() < 3)
        return;
    int top = points[0].Y;
    int bottom = points[0].Y;
    for (const TPoint& p : points) {
        top = std::min(top, p.Y);
        bottom = std::max(bottom, p.Y);
    }
    // Alternate filling, sampled at pixel centres: a pixel is inside when an
    // odd number of edges cross its row to the left of its centre.
    std::vector<double> crossings;
    for (int y = top; y < bottom; ++y) {
        const double yc = y + 0.5;
        crossings.clear();
        for (std::size_t i = 0; i < points.size(); ++i) {
            const TPoint a = points[i];
            const TPoint b = points[(i + 1) % points.size()];
            if ((a.Y <= yc && yc < b.Y) || (b.Y <= yc && yc < a.Y))
                crossings.push_back(a.X + (yc - a.Y) * (b.X - a.X) / static_cast<double>(b.Y - a.Y));
        }
        std::sort(crossings.begin(), crossings.end());
        for (std::size_t i = 0; i + 1 < crossings.size(); i += 2) {
            const int x0 = static_cast<int>(std::ceil(crossings[i] - 0.5));
            const int x1 = static_cast<int>(std::ceil(crossings[i + 1] - 0.5));
            for (int x = x0; x < x1; ++x)
                Plot(x, y, rgb);
        }
    }
}

void TRasterDevice::Line(TPoint from, TPoint to, TColor rgb, int width)
{
    const int half = (width - 1) / 2;
    auto dot = [&](int x, int y) {
        for (int dy = 0; dy < width; ++dy)
            for (int dx = 0; dx < width; ++dx)
                Plot(x - half + dx, y - half + dy, rgb);
    };
    int x = from.X;
    int y = from.Y;
    const int dx = std::abs(to.X - x);
    const int dy = -std::abs(to.Y - y);
    const int sx = x < to.X ? 1 : -1;
    const int sy = y < to.Y ? 1 : -1;
    int err = dx + dy;
    while (x != to.X || y != to.Y) {
        dot(x, y);
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
}

void TRasterDevice::Text(int x, int y, const std::string& text, const TFont& font, TColor rgb,
                         const TRect* clip)
{
    const TFixedMetrics m = FixedMetrics(font);
    const int w = m.CharWidth * static_cast<int>(text.size());
    if (w == 0)
        return;
    const std::vector<bool> mask = TextMask(text, m, font.Style());
    auto inside = [&](int px, int py) { return clip == nullptr || clip->Contains({px, py}); };

    if (font.Escapement() % 3600 == 0) {
        for (int v = 0; v < m.Cell; ++v)
            for (int u = 0; u < w; ++u)
                if (mask[static_cast<std::size_t>(v) * w + u] && inside(x + u, y + v))
                    Plot(x + u, y + v, rgb);
        return;
    }
    // Turned text: every pixel of the turned cell's bounds looks up the mask
    // at the point that the turn brings onto it.
    const double a = font.Escapement() / 10.0 * 3.14159265358979323846 / 180.0;
    const double c = std::cos(a);
    const double s = std::sin(a);
    const double corners[4][2] = {{0, 0}, {double(w), 0}, {double(w), double(m.Cell)}, {0, double(m.Cell)}};
    double minX = 0, maxX = 0, minY = 0, maxY = 0;
    for (const auto& p : corners) {
        const double px = p[0] * c + p[1] * s;
        const double py = -p[0] * s + p[1] * c;
        minX = std::min(minX, px);
        maxX = std::max(maxX, px);
        minY = std::min(minY, py);
        maxY = std::max(maxY, py);
    }
    for (int py = static_cast<int>(std::floor(minY)); py <= static_cast<int>(std::ceil(maxY)); ++py) {
        for (int px = static_cast<int>(std::floor(minX)); px <= static_cast<int>(std::ceil(maxX)); ++px) {
            const double dx = px + 0.5;
            const double dy = py + 0.5;
            const int u = static_cast<int>(std::floor(dx * c - dy * s));
            const int v = static_cast<int>(std::floor(dx * s + dy * c));
            if (u < 0 || v < 0 || u >= w || v >= m.Cell)
                continue;
            if (mask[static_cast<std::size_t>(v) * w + u] && inside(x + px, y + py))
                Plot(x + px, y + py, rgb);
        }
    }
}

TSize TRasterDevice::TextExtent(const TFont& font, const std::string& text)
{
    return FixedTextExtent(font, text);
}

TColor TRasterDevice::GetPixel(int x, int y)
{
    return FImage.Pixel(x + FOrigin.X, y + FOrigin.Y);
}

void TRasterDevice::SetPixel(int x, int y, TColor rgb)
{
    Plot(x, y, rgb);
}

void TRasterDevice::DrawImage(const TRect& dest, const TRGBImage& image, TColor transparent)
{
    if (dest.IsEmpty() || image.Empty())
        return;
    for (int y = dest.Top; y < dest.Bottom; ++y) {
        const int sy = static_cast<int>(static_cast<long long>(y - dest.Top) * image.Height() /
                                        dest.Height());
        for (int x = dest.Left; x < dest.Right; ++x) {
            const int sx = static_cast<int>(static_cast<long long>(x - dest.Left) * image.Width() /
                                            dest.Width());
            const TColor c = image.Pixel(sx, sy);
            if (transparent == clNone || c != transparent)
                Plot(x, y, c);
        }
    }
}

} // namespace orvex
