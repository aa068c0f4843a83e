// Conversions and the QPainter canvas devices.

#include "host/forms-qt/QtInternal.h"

#include "host/SysUtils.h"

#include <QFontMetrics>
#include <QImage>
#include <QPolygon>

namespace orvex {

QString ToQt(const std::string& text)
{
    return QString::fromStdU16String(Win1252ToUtf16(text));
}

std::string FromQt(const QString& text)
{
    return Utf16ToWin1252(text.toStdU16String());
}

QFont ToQFont(const TFont& font)
{
    QFont q(ToQt(font.Name()));
    q.setPixelSize(font.PixelHeight());
    q.setBold((font.Style() & fsBold) != 0);
    q.setItalic((font.Style() & fsItalic) != 0);
    q.setUnderline((font.Style() & fsUnderline) != 0);
    q.setStrikeOut((font.Style() & fsStrikeOut) != 0);
    return q;
}

QColor ToQColor(TColor color)
{
    const TColor rgb = ColorToRGB(color);
    return QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
}

TSize QtTextExtent(const TFont& font, const std::string& text)
{
    const QFontMetrics metrics(ToQFont(font));
    return {metrics.horizontalAdvance(ToQt(text)), metrics.height()};
}

TQtPainterDevice::TQtPainterDevice(QPainter& painter, const TRect& clip)
    : FPainter(painter), FClip(clip)
{
}

void TQtPainterDevice::FillRect(const TRect& rect, TColor rgb)
{
    if (!rect.IsEmpty())
        FPainter.fillRect(QRect(rect.Left, rect.Top, rect.Width(), rect.Height()), ToQColor(rgb));
}

void TQtPainterDevice::FillPolygon(const std::vector<TPoint>& points, TColor rgb)
{
    QPolygon polygon;
    for (const TPoint& p : points)
        polygon << QPoint(p.X, p.Y);
    FPainter.save();
    FPainter.setPen(Qt::NoPen);
    FPainter.setBrush(ToQColor(rgb));
    FPainter.drawPolygon(polygon, Qt::OddEvenFill);
    FPainter.restore();
}

void TQtPainterDevice::Line(TPoint from, TPoint to, TColor rgb, int width)
{
    if (from == to)
        return;
    FPainter.save();
    FPainter.setPen(QPen(ToQColor(rgb), width, Qt::SolidLine, Qt::FlatCap));
    FPainter.drawLine(from.X, from.Y, to.X, to.Y);
    FPainter.restore();
}

void TQtPainterDevice::Text(int x, int y, const std::string& text, const TFont& font, TColor rgb,
                            const TRect* clip)
{
    const QFont q = ToQFont(font);
    FPainter.save();
    if (clip != nullptr)
        FPainter.setClipRect(QRect(clip->Left, clip->Top, clip->Width(), clip->Height()),
                             Qt::IntersectClip);
    FPainter.setFont(q);
    FPainter.setPen(ToQColor(rgb));
    // The cell's top-left corner is the origin; the text turns about it.
    FPainter.translate(x, y);
    if (font.Escapement() % 3600 != 0)
        FPainter.rotate(-font.Escapement() / 10.0);
    FPainter.drawText(0, QFontMetrics(q).ascent(), ToQt(text));
    FPainter.restore();
}

TSize TQtPainterDevice::TextExtent(const TFont& font, const std::string& text)
{
    return QtTextExtent(font, text);
}

void TQtPainterDevice::SetPixel(int x, int y, TColor rgb)
{
    FPainter.fillRect(QRect(x, y, 1, 1), ToQColor(rgb));
}

void TQtPainterDevice::DrawImage(const TRect& dest, const TRGBImage& image, TColor transparent)
{
    if (dest.IsEmpty() || image.Empty())
        return;
    QImage source(image.Bits(), image.Width(), image.Height(), image.BytesPerLine(),
                  QImage::Format_RGB888);
    QImage drawn = source.convertToFormat(QImage::Format_ARGB32);
    if (transparent != clNone) {
        const QRgb key = ToQColor(transparent).rgb();
        for (int y = 0; y < drawn.height(); ++y)
            for (int x = 0; x < drawn.width(); ++x)
                if (drawn.pixel(x, y) == key)
                    drawn.setPixel(x, y, qRgba(0, 0, 0, 0));
    }
    FPainter.drawImage(QRect(dest.Left, dest.Top, dest.Width(), dest.Height()), drawn);
}

namespace {

// A painter lives only while one drawing runs, so the image may be read (and
// its pixels moved) between drawings.
class TQtImageDevice : public TCanvasDevice {
public:
    explicit TQtImageDevice(TRGBImage& image) : FImage(image) {}

    TRect ClipRect() const override { return Rect(0, 0, FImage.Width(), FImage.Height()); }
    void FillRect(const TRect& rect, TColor rgb) override
    {
        Paint([&](TCanvasDevice& d) { d.FillRect(rect, rgb); });
    }
    void FillPolygon(const std::vector<TPoint>& points, TColor rgb) override
    {
        Paint([&](TCanvasDevice& d) { d.FillPolygon(points, rgb); });
    }
    void Line(TPoint from, TPoint to, TColor rgb, int width) override
    {
        Paint([&](TCanvasDevice& d) { d.Line(from, to, rgb, width); });
    }
    void Text(int x, int y, const std::string& text, const TFont& font, TColor rgb,
              const TRect* clip) override
    {
        Paint([&](TCanvasDevice& d) { d.Text(x, y, text, font, rgb, clip); });
    }
    TSize TextExtent(const TFont& font, const std::string& text) override
    {
        return QtTextExtent(font, text);
    }
    TColor GetPixel(int x, int y) override { return FImage.Pixel(x, y); }
    void SetPixel(int x, int y, TColor rgb) override { FImage.SetPixel(x, y, rgb); }
    void DrawImage(const TRect& dest, const TRGBImage& image, TColor transparent) override
    {
        Paint([&](TCanvasDevice& d) { d.DrawImage(dest, image, transparent); });
    }

private:
    template <class F>
    void Paint(F&& draw)
    {
        if (FImage.Empty())
            return;
        QImage target(FImage.Bits(), FImage.Width(), FImage.Height(), FImage.BytesPerLine(),
                      QImage::Format_RGB888);
        QPainter painter(&target);
        TQtPainterDevice device(painter, ClipRect());
        draw(device);
    }
    TRGBImage& FImage;
};

} // namespace

std::unique_ptr<TCanvasDevice> CreateQtImageDevice(TRGBImage& image)
{
    return std::make_unique<TQtImageDevice>(image);
}

} // namespace orvex
