#pragma once
// Graphics of the forms layer: points and rectangles, MulDiv, colours
// (0x00BBGGRR with the system colours), fonts, pens and brushes, the canvas
// that controls and bitmaps paint on, in-memory RGB images, bitmaps and
// pictures.
//
// A canvas draws through a TCanvasDevice: the raster device below paints into
// a TRGBImage; a toolkit backend supplies its own device while a window paints.
// Without a device a canvas still measures text (through the backend) but
// draws nothing.

#include "host/Classes.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvex {

// ------------------------------------------------------- points and rectangles

struct TPoint {
    int X = 0;
    int Y = 0;
    friend bool operator==(const TPoint&, const TPoint&) = default;
};

struct TSize {
    int cx = 0;
    int cy = 0;
    friend bool operator==(const TSize&, const TSize&) = default;
};

// Right and Bottom lie just outside the rectangle.
struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
    bool Contains(TPoint p) const { return p.X >= Left && p.X < Right && p.Y >= Top && p.Y < Bottom; }
    friend bool operator==(const TRect&, const TRect&) = default;
};

inline TPoint Point(int x, int y) { return {x, y}; }
inline TRect Rect(int left, int top, int right, int bottom) { return {left, top, right, bottom}; }
inline TRect Bounds(int left, int top, int width, int height)
{
    return {left, top, left + width, top + height};
}
// The common part of a and b; empty (all zero) when they do not meet.
TRect IntersectRect(const TRect& a, const TRect& b);
void OffsetRect(TRect& rect, int dx, int dy);
void InflateRect(TRect& rect, int dx, int dy);

// number * numerator / denominator through a 64-bit product, rounded to the
// nearest integer with halves away from zero; -1 when the denominator is 0 or
// the result does not fit in 32 bits (beyond +-2147483647).
int MulDiv(int number, int numerator, int denominator);

// ---------------------------------------------------------------------- colours

// 0x00BBGGRR, or a system colour: clSystemColor or'ed with the colour's index.
using TColor = std::int32_t;

constexpr TColor RGB(int r, int g, int b) { return (r & 0xFF) | (g & 0xFF) << 8 | (b & 0xFF) << 16; }
constexpr int GetRValue(TColor c) { return c & 0xFF; }
constexpr int GetGValue(TColor c) { return (c >> 8) & 0xFF; }
constexpr int GetBValue(TColor c) { return (c >> 16) & 0xFF; }

constexpr TColor clSystemColor = static_cast<TColor>(0xFF000000u);
constexpr TColor clScrollBar = clSystemColor | 0;
constexpr TColor clBackground = clSystemColor | 1;
constexpr TColor clActiveCaption = clSystemColor | 2;
constexpr TColor clInactiveCaption = clSystemColor | 3;
constexpr TColor clMenu = clSystemColor | 4;
constexpr TColor clWindow = clSystemColor | 5;
constexpr TColor clWindowFrame = clSystemColor | 6;
constexpr TColor clMenuText = clSystemColor | 7;
constexpr TColor clWindowText = clSystemColor | 8;
constexpr TColor clCaptionText = clSystemColor | 9;
constexpr TColor clActiveBorder = clSystemColor | 10;
constexpr TColor clInactiveBorder = clSystemColor | 11;
constexpr TColor clAppWorkSpace = clSystemColor | 12;
constexpr TColor clHighlight = clSystemColor | 13;
constexpr TColor clHighlightText = clSystemColor | 14;
constexpr TColor clBtnFace = clSystemColor | 15;
constexpr TColor clBtnShadow = clSystemColor | 16;
constexpr TColor clGrayText = clSystemColor | 17;
constexpr TColor clBtnText = clSystemColor | 18;
constexpr TColor clInactiveCaptionText = clSystemColor | 19;
constexpr TColor clBtnHighlight = clSystemColor | 20;
constexpr TColor cl3DDkShadow = clSystemColor | 21;
constexpr TColor cl3DLight = clSystemColor | 22;
constexpr TColor clInfoText = clSystemColor | 23;
constexpr TColor clInfoBk = clSystemColor | 24;

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;

// A system colour's RGB value (the fixed classic scheme below); any other
// colour unchanged.
TColor ColorToRGB(TColor color);

// ------------------------------------------------------ fonts, pens, brushes

enum TFontStyle : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = unsigned;

using TFontCharset = Byte;
constexpr TFontCharset ANSI_CHARSET = 0;
constexpr TFontCharset DEFAULT_CHARSET = 1;

// The screen's logical resolution: font sizes in points convert through it.
constexpr int ScreenPixelsPerInch = 96;

// A font: Height < 0 is the character height in pixels, Height > 0 the cell
// height; Size is in points. Escapement turns the text baseline
// counter-clockwise, in tenths of a degree. Every change calls OnChange.
class TFont : public TPersistent {
public:
    TFont();
    void Assign(TPersistent* source) override;

    const std::string& Name() const { return FName; }
    void SetName(const std::string& value);
    int Height() const { return FHeight; }
    void SetHeight(int value);
    int Size() const;
    void SetSize(int points);
    TColor Color() const { return FColor; }
    void SetColor(TColor value);
    TFontStyles Style() const { return FStyle; }
    void SetStyle(TFontStyles value);
    TFontCharset Charset() const { return FCharset; }
    void SetCharset(TFontCharset value);
    int Escapement() const { return FEscapement; }
    void SetEscapement(int tenthsOfDegree);

    // The character height in pixels that the height stands for.
    int PixelHeight() const;
    bool SameAs(const TFont& other) const;

    TNotifyEvent OnChange;

private:
    void Changed();
    std::string FName = "MS Sans Serif";
    int FHeight = -11;
    TColor FColor = clWindowText;
    TFontStyles FStyle = 0;
    TFontCharset FCharset = DEFAULT_CHARSET;
    int FEscapement = 0;
};

enum TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };

class TPen : public TPersistent {
public:
    void Assign(TPersistent* source) override;
    TColor Color() const { return FColor; }
    void SetColor(TColor value);
    int Width() const { return FWidth; }
    void SetWidth(int value);
    TPenStyle Style() const { return FStyle; }
    void SetStyle(TPenStyle value);
    TNotifyEvent OnChange;

private:
    void Changed();
    TColor FColor = clBlack;
    int FWidth = 1;
    TPenStyle FStyle = psSolid;
};

enum TBrushStyle { bsSolid, bsClear };

class TBrush : public TPersistent {
public:
    void Assign(TPersistent* source) override;
    TColor Color() const { return FColor; }
    void SetColor(TColor value);
    TBrushStyle Style() const { return FStyle; }
    void SetStyle(TBrushStyle value);
    TNotifyEvent OnChange;

private:
    void Changed();
    TColor FColor = clWhite;
    TBrushStyle FStyle = bsSolid;
};

// ------------------------------------------------------------------ RGB images

// Pixels as R, G, B bytes, rows top to bottom, no padding.
class TRGBImage {
public:
    TRGBImage() = default;
    TRGBImage(int width, int height, TColor fill = clBlack);

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    bool Empty() const { return FWidth <= 0 || FHeight <= 0; }
    void SetSize(int width, int height, TColor fill = clBlack);
    void Fill(TColor rgb);
    // clNone outside the image.
    TColor Pixel(int x, int y) const;
    void SetPixel(int x, int y, TColor rgb); // ignored outside the image
    std::uint8_t* Bits() { return FBits.data(); }
    const std::uint8_t* Bits() const { return FBits.data(); }
    int BytesPerLine() const { return FWidth * 3; }
    friend bool operator==(const TRGBImage&, const TRGBImage&) = default;

private:
    int FWidth = 0;
    int FHeight = 0;
    std::vector<std::uint8_t> FBits;
};

// --------------------------------------------------------------------- devices

// What a canvas draws on. Coordinates are the canvas's own; colours are RGB
// (system colours already resolved).
class TCanvasDevice {
public:
    virtual ~TCanvasDevice() = default;
    // The part of the canvas that can be painted.
    virtual TRect ClipRect() const = 0;
    virtual void FillRect(const TRect& rect, TColor rgb) = 0;
    // Fills the polygon's inside (alternate filling), no outline.
    virtual void FillPolygon(const std::vector<TPoint>& points, TColor rgb) = 0;
    // From `from` up to, not including, `to`.
    virtual void Line(TPoint from, TPoint to, TColor rgb, int width) = 0;
    // Text with its cell's top-left corner at (x, y), turned by the font's
    // escapement about that corner; no background; within clip when given.
    virtual void Text(int x, int y, const std::string& text, const TFont& font, TColor rgb,
                      const TRect* clip) = 0;
    virtual TSize TextExtent(const TFont& font, const std::string& text) = 0;
    // clNone where the device cannot tell.
    virtual TColor GetPixel(int x, int y) = 0;
    virtual void SetPixel(int x, int y, TColor rgb) = 0;
    // The image stretched over dest; pixels of `transparent` (unless clNone) skipped.
    virtual void DrawImage(const TRect& dest, const TRGBImage& image, TColor transparent) = 0;
};

// The text metrics of the headless backend: a character is (|h| * 5 + 5) / 11
// pixels wide (one more when bold) and a line |h| + |h| / 5 pixels high, where
// |h| is the font's pixel height; no kerning, every byte one character.
TSize FixedTextExtent(const TFont& font, const std::string& text);

// Paints into an RGB image, through an origin and within a clip rectangle
// (both in image coordinates). Text uses the fixed metrics above and draws each
// visible character as a solid block inside its cell.
class TRasterDevice : public TCanvasDevice {
public:
    explicit TRasterDevice(TRGBImage& image);
    TRasterDevice(TRGBImage& image, TPoint origin, const TRect& clip);

    TRect ClipRect() const override;
    void FillRect(const TRect& rect, TColor rgb) override;
    void FillPolygon(const std::vector<TPoint>& points, TColor rgb) override;
    void Line(TPoint from, TPoint to, TColor rgb, int width) override;
    void Text(int x, int y, const std::string& text, const TFont& font, TColor rgb,
              const TRect* clip) override;
    TSize TextExtent(const TFont& font, const std::string& text) override;
    TColor GetPixel(int x, int y) override;
    void SetPixel(int x, int y, TColor rgb) override;
    void DrawImage(const TRect& dest, const TRGBImage& image, TColor transparent) override;

private:
    void Plot(int x, int y, TColor rgb); // canvas coordinates, clipped
    TRGBImage& FImage;
    TPoint FOrigin;
    TRect FClip; // image coordinates
};

// ---------------------------------------------------------------------- canvas

class TGraphic;

class TCanvas : public TPersistent {
public:
    TCanvas();
    ~TCanvas() override;

    TFont* Font() const { return FFont.get(); }
    void SetFont(TFont* value) { FFont->Assign(value); }
    TPen* Pen() const { return FPen.get(); }
    TBrush* Brush() const { return FBrush.get(); }
    TPoint PenPos() const { return FPenPos; }
    void SetPenPos(TPoint value) { FPenPos = value; }

    void MoveTo(int x, int y);
    void LineTo(int x, int y);
    void Polyline(const std::vector<TPoint>& points);
    // Filled with the brush, outlined with the pen.
    void Polygon(const std::vector<TPoint>& points);
    void Rectangle(int x1, int y1, int x2, int y2);
    void Rectangle(const TRect& rect) { Rectangle(rect.Left, rect.Top, rect.Right, rect.Bottom); }
    void FillRect(const TRect& rect);
    void FrameRect(const TRect& rect); // a one-pixel frame in the brush colour
    // Text at (x, y) in the font's colour, on the brush unless it is clear; the
    // pen position moves to the end of the text.
    void TextOut(int x, int y, const std::string& text);
    // As TextOut, limited to rect (its background filled unless the brush is clear).
    void TextRect(const TRect& rect, int x, int y, const std::string& text);
    TSize TextExtent(const std::string& text) const;
    int TextWidth(const std::string& text) const { return TextExtent(text).cx; }
    int TextHeight(const std::string& text) const { return TextExtent(text).cy; }
    TColor Pixels(int x, int y) const;
    void SetPixel(int x, int y, TColor color);
    void Draw(int x, int y, TGraphic* graphic);
    void StretchDraw(const TRect& rect, TGraphic* graphic);
    TRect ClipRect() const;

    // The surface drawn on (not owned); nullptr: measuring only.
    TCanvasDevice* Device() const { return FDevice; }
    void SetDevice(TCanvasDevice* device) { FDevice = device; }

private:
    std::unique_ptr<TFont> FFont;
    std::unique_ptr<TPen> FPen;
    std::unique_ptr<TBrush> FBrush;
    TPoint FPenPos;
    TCanvasDevice* FDevice = nullptr;
};

// ------------------------------------------------------- graphics and pictures

class TGraphic : public TPersistent {
public:
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual bool Empty() const { return Width() <= 0 || Height() <= 0; }
    virtual void Draw(TCanvas& canvas, const TRect& rect) = 0;
    virtual void LoadFromStream(TStream* stream) = 0;
    virtual void SaveToStream(TStream* stream) = 0;
    // A copy of the same class.
    virtual std::unique_ptr<TGraphic> Clone() const = 0;
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName);
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool value);
    TNotifyEvent OnChange;

protected:
    void Changed();

private:
    bool FTransparent = false;
};

class EInvalidGraphic : public Exception {
public:
    using Exception::Exception;
};

// An RGB bitmap. Its canvas paints into the image through the backend's image
// device. Streams hold the Windows bitmap file format: 24-bit images are
// written; 1-, 4-, 8-, 24- and 32-bit uncompressed images are read (anything
// else raises EInvalidGraphic "Bitmap image is not valid").
class TBitmap : public TGraphic {
public:
    TBitmap();
    ~TBitmap() override;
    void Assign(TPersistent* source) override;

    int Width() const override { return FImage.Width(); }
    int Height() const override { return FImage.Height(); }
    void SetWidth(int value) { SetSize(value, Height()); }
    void SetHeight(int value) { SetSize(Width(), value); }
    void SetSize(int width, int height); // new pixels white
    TCanvas* Canvas();
    const TRGBImage& Image() const { return FImage; }
    void SetImage(const TRGBImage& image);
    // The colour that transparent drawing leaves out: the bottom-left pixel.
    TColor TransparentColor() const;

    void Draw(TCanvas& canvas, const TRect& rect) override;
    void LoadFromStream(TStream* stream) override;
    void SaveToStream(TStream* stream) override;
    std::unique_ptr<TGraphic> Clone() const override;

private:
    void ReleaseDevice();
    TRGBImage FImage;
    std::unique_ptr<TCanvas> FCanvas;
    std::unique_ptr<TCanvasDevice> FDevice;
};

// Holds one graphic (owned); Bitmap() makes it a bitmap when it is not one.
class TPicture : public TPersistent {
public:
    TPicture();
    ~TPicture() override;
    void Assign(TPersistent* source) override;

    TGraphic* Graphic() const { return FGraphic.get(); }
    void SetGraphic(TGraphic* value); // takes a copy; nullptr empties the picture
    TBitmap* Bitmap();
    int Width() const { return FGraphic ? FGraphic->Width() : 0; }
    int Height() const { return FGraphic ? FGraphic->Height() : 0; }
    bool Empty() const { return !FGraphic || FGraphic->Empty(); }
    void LoadFromFile(const std::string& fileName); // bitmap files
    void SaveToFile(const std::string& fileName);
    TNotifyEvent OnChange;

private:
    void Changed();
    void Adopt(std::unique_ptr<TGraphic> graphic);
    std::unique_ptr<TGraphic> FGraphic;
};

} // namespace orvex
