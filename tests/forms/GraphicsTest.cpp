#include "host/forms/Graphics.h"

#include <gtest/gtest.h>

#include <climits>

namespace orvex {
namespace {

TEST(MulDivTest, RoundsHalvesAwayFromZeroAndReportsFailureAsMinusOne)
{
    struct Case {
        int number, numerator, denominator, expected;
    };
    const Case cases[] = {
        {5, 1, 2, 3},      {-5, 1, 2, -3},    {5, -1, 2, -3},       {5, 1, -2, -3},
        {-5, -1, -2, -3},  {1, 1, 2, 1},      {-1, 1, 2, -1},       {3, 1, 2, 2},
        {7, 1, 3, 2},      {8, 1, 3, 3},      {-8, 1, 3, -3},       {1, 1, 3, 0},
        {0, 5, 3, 0},      {10, 72, 96, 8},   {-11, 72, 96, -8},    {8, 96, 72, 11},
        {255, 100, 255, 100}, {99, 256, 100, 253},
        // The product may exceed 32 bits; only the result must fit.
        {INT_MAX, INT_MAX, INT_MAX, INT_MAX},
        {-INT_MAX, 1, 1, -INT_MAX},
        {INT_MAX, 2, 1, -1},
        {INT_MIN, 1, 1, -1},
        {1, 1, 0, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MulDiv(c.number, c.numerator, c.denominator), c.expected)
            << c.number << " * " << c.numerator << " / " << c.denominator;
}

TEST(ColorTest, SystemColorsResolveToTheClassicScheme)
{
    EXPECT_EQ(ColorToRGB(clMenu), RGB(212, 208, 200));
    EXPECT_EQ(ColorToRGB(clWindow), clWhite);
    EXPECT_EQ(ColorToRGB(clWindowText), clBlack);
    EXPECT_EQ(ColorToRGB(clRed), 0x0000FF);
    EXPECT_EQ(GetRValue(clRed), 255);
    EXPECT_EQ(GetBValue(clBlue), 255);
}

TEST(FontTest, SizeAndHeightConvertThroughTheScreenResolution)
{
    TFont font;
    EXPECT_EQ(font.Name(), "MS Sans Serif");
    EXPECT_EQ(font.Height(), -11);
    EXPECT_EQ(font.Size(), 8);
    int changes = 0;
    font.OnChange = [&](TObject*) { ++changes; };
    font.SetSize(10);
    EXPECT_EQ(font.Height(), -13);
    font.SetSize(10);
    EXPECT_EQ(changes, 1);
}

TEST(FixedMetricsTest, WidthsAndHeightsFollowThePixelHeight)
{
    TFont font; // -11: five pixels a character, thirteen a line
    EXPECT_EQ(FixedTextExtent(font, "Database Password:"), (TSize{90, 13}));
    font.SetStyle(fsBold);
    EXPECT_EQ(FixedTextExtent(font, "ab").cx, 12);
    font.SetStyle(0);
    font.SetHeight(24); // a cell height: 20-pixel characters
    EXPECT_EQ(FixedTextExtent(font, "x"), (TSize{9, 24}));
}

class CanvasTest : public ::testing::Test {
protected:
    CanvasTest() { bitmap.SetSize(40, 30); }
    TBitmap bitmap;
    TCanvas& canvas() { return *bitmap.Canvas(); }
    TColor at(int x, int y) const { return bitmap.Image().Pixel(x, y); }
};

TEST_F(CanvasTest, FillRectCoversTheRectangleWithoutItsRightAndBottomEdges)
{
    canvas().Brush()->SetColor(clRed);
    canvas().FillRect(Rect(2, 3, 6, 8));
    EXPECT_EQ(at(2, 3), clRed);
    EXPECT_EQ(at(5, 7), clRed);
    EXPECT_EQ(at(6, 7), clWhite);
    EXPECT_EQ(at(5, 8), clWhite);
    EXPECT_EQ(at(1, 3), clWhite);
    // A clear brush paints nothing.
    canvas().Brush()->SetStyle(bsClear);
    canvas().FillRect(Rect(10, 10, 20, 20));
    EXPECT_EQ(at(15, 15), clWhite);
}

TEST_F(CanvasTest, PolygonIsFilledWithTheBrushAndOutlinedWithThePen)
{
    canvas().Brush()->SetColor(clYellow);
    canvas().Pen()->SetColor(clBlue);
    canvas().Polygon({{5, 5}, {25, 5}, {25, 20}, {5, 20}});
    EXPECT_EQ(at(15, 12), clYellow);
    EXPECT_EQ(at(5, 5), clBlue);
    EXPECT_EQ(at(25, 12), clBlue);
    EXPECT_EQ(at(15, 20), clBlue);
    EXPECT_EQ(at(26, 12), clWhite);
    // A triangle: inside near its right angle, outside beyond its slope.
    canvas().Pen()->SetStyle(psClear);
    canvas().Brush()->SetColor(clGreen);
    canvas().Polygon({{0, 29}, {10, 29}, {0, 19}});
    EXPECT_EQ(at(1, 28), clGreen);
    EXPECT_EQ(at(2, 22), clGreen);
    EXPECT_EQ(at(8, 22), clWhite);
}

TEST_F(CanvasTest, TextOutDrawsBlocksInTheFontColourAndMovesThePen)
{
    canvas().Font()->SetColor(clRed);
    canvas().Brush()->SetColor(clSilver);
    canvas().TextOut(2, 4, "a b");
    // Background over the whole cell, 15 x 13 pixels.
    EXPECT_EQ(at(2, 4), clSilver);
    EXPECT_EQ(at(16, 16), clSilver);
    EXPECT_EQ(at(17, 4), clWhite);
    // Glyph blocks: rows 2 to 10 of the cell, columns 1 to 3 of each character.
    EXPECT_EQ(at(2 + 1, 4 + 2), clRed);
    EXPECT_EQ(at(2 + 3, 4 + 10), clRed);
    EXPECT_EQ(at(2 + 4, 4 + 5), clSilver);
    EXPECT_EQ(at(2 + 6, 4 + 5), clSilver); // the blank
    EXPECT_EQ(at(2 + 11, 4 + 5), clRed);
    EXPECT_EQ(canvas().PenPos(), (TPoint{17, 4}));
}

TEST_F(CanvasTest, TextWithEscapementRunsUpwardsAtNinetyDegrees)
{
    bitmap.SetSize(30, 40);
    canvas().Brush()->SetStyle(bsClear);
    canvas().Font()->SetColor(clBlack);
    canvas().Font()->SetEscapement(900);
    canvas().TextOut(5, 35, "abc");
    // The baseline goes up from (5, 35); the glyphs lie to its right.
    int inked = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 30; ++x)
            if (at(x, y) == clBlack) {
                ++inked;
                EXPECT_LE(y, 35);
                EXPECT_GE(y, 35 - 15);
                EXPECT_GE(x, 5);
            }
    EXPECT_GT(inked, 0);
}

TEST_F(CanvasTest, LinesLeaveOutTheirEndPoint)
{
    canvas().MoveTo(0, 0);
    canvas().LineTo(10, 0);
    EXPECT_EQ(at(0, 0), clBlack);
    EXPECT_EQ(at(9, 0), clBlack);
    EXPECT_EQ(at(10, 0), clWhite);
    EXPECT_EQ(canvas().PenPos(), (TPoint{10, 0}));
}

TEST(BitmapTest, FileFormatRoundTripAndRefusals)
{
    TBitmap bitmap;
    bitmap.SetSize(5, 3); // rows need padding
    bitmap.Canvas()->SetPixel(0, 0, clRed);
    bitmap.Canvas()->SetPixel(4, 2, RGB(1, 2, 3));
    TMemoryStream stream;
    bitmap.SaveToStream(&stream);
    EXPECT_EQ(stream.Size(), 14 + 40 + 3 * 16);
    stream.SetPosition(0);
    TBitmap copy;
    copy.LoadFromStream(&stream);
    EXPECT_EQ(copy.Image(), bitmap.Image());

    TMemoryStream junk;
    junk.WriteBuffer("BMxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", 40);
    junk.SetPosition(0);
    EXPECT_THROW(copy.LoadFromStream(&junk), EInvalidGraphic);
    TMemoryStream empty;
    EXPECT_THROW(copy.LoadFromStream(&empty), EInvalidGraphic);
}

TEST(PictureTest, HoldsACopyAndDrawsTransparently)
{
    TBitmap source;
    source.SetSize(2, 2);
    source.Canvas()->SetPixel(0, 1, clLime); // the transparent colour
    source.Canvas()->SetPixel(1, 0, clRed);
    TPicture picture;
    picture.SetGraphic(&source);
    source.SetSize(8, 8);
    EXPECT_EQ(picture.Width(), 2);
    picture.Graphic()->SetTransparent(true);

    TBitmap target;
    target.SetSize(4, 4);
    target.Canvas()->Brush()->SetColor(clBlue);
    target.Canvas()->FillRect(Rect(0, 0, 4, 4));
    target.Canvas()->StretchDraw(Rect(0, 0, 4, 4), picture.Graphic());
    EXPECT_EQ(target.Image().Pixel(0, 3), clBlue);  // transparent: left alone
    EXPECT_EQ(target.Image().Pixel(3, 0), clRed);   // stretched twice
    EXPECT_EQ(target.Image().Pixel(2, 1), clRed);
    EXPECT_EQ(target.Image().Pixel(0, 0), clWhite);
}

} // namespace
} // namespace orvex
