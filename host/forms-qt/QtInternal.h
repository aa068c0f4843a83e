#pragma once
// Shared inside the Qt backend: conversions between the model's and Qt's
// strings, fonts and colours, the QPainter canvas device, and peers.

#include "host/forms/Controls.h"

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QString>

#include <functional>
#include <memory>

class QWidget;

namespace orvex {

QString ToQt(const std::string& text);
std::string FromQt(const QString& text);
QFont ToQFont(const TFont& font);
QColor ToQColor(TColor color);
TSize QtTextExtent(const TFont& font, const std::string& text);

// Draws through a QPainter that is active for the duration of the device.
class TQtPainterDevice : public TCanvasDevice {
public:
    TQtPainterDevice(QPainter& painter, const TRect& clip);

    TRect ClipRect() const override { return FClip; }
    void FillRect(const TRect& rect, TColor rgb) override;
    void FillPolygon(const std::vector<TPoint>& points, TColor rgb) override;
    void Line(TPoint from, TPoint to, TColor rgb, int width) override;
    void Text(int x, int y, const std::string& text, const TFont& font, TColor rgb,
              const TRect* clip) override;
    TSize TextExtent(const TFont& font, const std::string& text) override;
    TColor GetPixel(int x, int y) override { return clNone; }
    void SetPixel(int x, int y, TColor rgb) override;
    void DrawImage(const TRect& dest, const TRGBImage& image, TColor transparent) override;

private:
    QPainter& FPainter;
    TRect FClip;
};

// A bitmap's device: each drawing opens a painter on the image's pixels.
std::unique_ptr<TCanvasDevice> CreateQtImageDevice(TRGBImage& image);

std::unique_ptr<TControlPeer> CreateQtPeer(TControl* control);
QWidget* QtPeerWidget(TControlPeer* peer);

// Runs a Qt event's work on the model, unless the control is going away.
void QtDispatch(TControl* control, const std::function<void()>& work);

} // namespace orvex
