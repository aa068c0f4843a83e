#include "host/forms/Forms.h"
#include "host/forms/Headless.h"
#include "setup/cmp_Rotate3DLabel.h"
#include "setup/cmp_TBackDrop.h"

#include <gtest/gtest.h>

namespace orvex {
namespace {

// A backdrop of a given size on its own, painted by the headless backend.
TRGBImage PaintBackdrop(TDirection direction, int width, int height, TColor start, TColor end)
{
    TBackdrop backdrop(nullptr);
    backdrop.SetAlign(alNone);
    backdrop.SetBounds(0, 0, width, height);
    backdrop.SetDirection(direction);
    backdrop.SetStartColor(start);
    backdrop.SetEndColor(end);
    return Headless()->Snapshot(&backdrop);
}

TEST(BackdropTest, DefaultsRunFromBlueToBlackUpwardsOverTheWholeClientArea)
{
    TForm form(nullptr);
    auto* backdrop = new TBackdrop(&form);
    backdrop->SetParent(&form);
    EXPECT_EQ(backdrop->Align(), alClient);
    EXPECT_EQ(backdrop->Direction(), bdUp);
    EXPECT_EQ(backdrop->StartColor(), 0xFF0000);
    EXPECT_EQ(backdrop->EndColor(), 0);
    EXPECT_EQ(backdrop->Width(), form.ClientWidth());
    EXPECT_EQ(backdrop->Height(), form.ClientHeight());
}

TEST(BackdropTest, TheLastBandOfAHundredPixelsRoundsAwayAndRowNinetyNineIsOneStepShort)
{
    // Bands span MulDiv(i, 100, 256) to MulDiv(i + 1, 100, 256); MulDiv
    // rounds, so band 255 starts at round(99.6) = 100 and is empty: the last
    // row belongs to band 254, one step short of the end colour (with a
    // truncating division it would be band 255 in exactly the end colour).
    // Likewise band 0 ends at round(0.39) = 0, so row 0 shows band 1.
    const TRGBImage image = PaintBackdrop(bdUp, 10, 100, 0xFF0000, 0);
    EXPECT_EQ(image.Pixel(5, 0), RGB(0, 0, 254));
    EXPECT_EQ(image.Pixel(5, 99), RGB(0, 0, 1));
    // 256 pixels: one band each, the last in exactly the end colour.
    const TRGBImage tall = PaintBackdrop(bdUp, 10, 256, 0xFF0000, 0);
    EXPECT_EQ(tall.Pixel(5, 255), 0);
    EXPECT_EQ(tall.Pixel(5, 254), RGB(0, 0, 1));
}

TEST(BackdropTest, EveryDirectionPlacesItsColoursAndRoundsEachChannel)
{
    const TColor start = RGB(0, 0, 255);
    const TColor end = RGB(10, 200, 30);
    // Band 128 of 256: 255 + MulDiv(128, -225, 255) = 255 - 113 (a truncating
    // division would give 143); red 0 + MulDiv(128, 10, 255) = 5.
    const TColor mid = RGB(5, 100, 142);
    struct Case {
        TDirection direction;
        bool vertical;     // colours change along the height
        TColor first;      // at pixel 0
        TColor last;       // at pixel 255
        TColor middle;     // at pixel 128
    };
    const Case cases[] = {
        {bdUp, true, start, end, mid},
        {bdDown, true, end, start, RGB(5, 100, 143)},
        {bdLeft, false, start, end, mid},
        {bdRight, false, end, start, RGB(5, 100, 143)},
        {bdHorzIn, true, end, end, start},
        {bdHorzOut, true, start, start, end},
        {bdVertIn, false, start, start, end},
        {bdVertOut, false, end, end, start},
    };
    for (const Case& c : cases) {
        const TRGBImage image = c.vertical ? PaintBackdrop(c.direction, 7, 256, start, end)
                                           : PaintBackdrop(c.direction, 256, 7, start, end);
        auto at = [&](int along, int across) {
            return c.vertical ? image.Pixel(across, along) : image.Pixel(along, across);
        };
        EXPECT_EQ(at(0, 3), c.first) << c.direction;
        EXPECT_EQ(at(255, 3), c.last) << c.direction;
        EXPECT_EQ(at(128, 0), c.middle) << c.direction;
        EXPECT_EQ(at(128, 6), c.middle) << c.direction;
    }
    // Mirrored: pixel 127 and 128 meet in the middle colour; 1 and 254 match.
    const TRGBImage image = PaintBackdrop(bdHorzOut, 3, 256, start, end);
    EXPECT_EQ(image.Pixel(1, 127), end);
    EXPECT_EQ(image.Pixel(1, 1), image.Pixel(1, 254));
    EXPECT_NE(image.Pixel(1, 1), start);
}

TEST(BackdropTest, SystemColoursAndChangesRepaint)
{
    const TRGBImage image = PaintBackdrop(bdLeft, 256, 2, clBtnFace, clWhite);
    EXPECT_EQ(image.Pixel(0, 0), ColorToRGB(clBtnFace));
    EXPECT_EQ(image.Pixel(255, 1), clWhite);
}

TEST(DisplayControlsTest, TagMinusOneMakesTheControlCurrent)
{
    TBackdrop a(nullptr), b(nullptr);
    EXPECT_EQ(CurrentBackdrop(), nullptr);
    a.SetTag(-1);
    EXPECT_EQ(CurrentBackdrop(), &a);
    b.SetTag(-1);
    EXPECT_EQ(CurrentBackdrop(), &b);
    EXPECT_EQ(a.Tag, 0);
    a.SetTag(5); // not the current one: nothing changes
    EXPECT_EQ(CurrentBackdrop(), &b);
    b.SetTag(3);
    EXPECT_EQ(CurrentBackdrop(), nullptr);
    {
        TRotate3DLabel label(nullptr);
        label.SetTag(-1);
        EXPECT_EQ(CurrentRotate3DLabel(), &label);
    }
    EXPECT_EQ(CurrentRotate3DLabel(), nullptr); // destroyed
}

TEST(LabelStyleTest, AngleShadesAndDefaults)
{
    TLabelStyle style;
    EXPECT_EQ(style.AStyle3D(), A3dRaised);
    EXPECT_EQ(style.AShadeRightBottom(), 0x808080);
    EXPECT_EQ(style.AShadeLeftTop(), 0xFFFFFF);
    EXPECT_EQ(style.AHShadeOffSet(), 5);
    EXPECT_EQ(style.AVShadeOffSet(), -5);
    int changes = 0;
    style.OnChange = [&](TObject*) { ++changes; };
    for (auto [given, kept] : {std::pair{359, 359}, {360, 0}, {-1, 0}, {90, 90}, {1000, 0}}) {
        style.SetAngle(given);
        EXPECT_EQ(style.Angle(), kept) << given;
    }
    EXPECT_EQ(changes, 5);

    style.SetAShadeLeftTop(clRed);
    style.SetAShadeLTSet(true);
    EXPECT_EQ(style.AShadeLeftTop(), clWhite);
    style.SetAShadeLTSet(false);
    EXPECT_EQ(style.AShadeLeftTop(), clRed);
}

TEST(Rotate3DLabelTest, CreatedTransparentBoldArialWithoutAutoSize)
{
    TRotate3DLabel label(nullptr);
    EXPECT_TRUE(label.MyTransparent());
    EXPECT_TRUE(label.Transparent());
    EXPECT_FALSE(label.AutoSize());
    EXPECT_EQ(label.Font()->Name(), "Arial");
    EXPECT_EQ(label.Font()->Style(), static_cast<TFontStyles>(fsBold));
}

TEST(Rotate3DLabelTest, TheOriginFollowsAlignmentAndAngleWithHalvesToEven)
{
    TRotate3DLabel label(nullptr);
    label.SetBounds(0, 0, 100, 100);
    struct Case {
        TAlignment alignment;
        int angle;
        TPoint origin; // for a 12 x 13 text
    };
    const Case cases[] = {
        // y = round(6 s) + 50 - round(6.5 c): round(6.5) is 6.
        {taLeftJustify, 0, {0, 44}},
        {taRightJustify, 0, {88, 44}},
        {taCenter, 0, {44, 44}},
        // Turned up: the text rises from (44, 56) over the centre.
        {taCenter, 90, {44, 56}},
        {taCenter, 180, {56, 56}},
        {taCenter, 270, {56, 44}},
        // cos 45 = sin 45: x = 50 - round(4.24) - round(4.6), y = round(4.24) + 50 - round(4.6)
        {taCenter, 45, {41, 49}},
    };
    for (const Case& c : cases) {
        label.SetAlignment(c.alignment);
        label.LabelStyle()->SetAngle(c.angle);
        EXPECT_EQ(label.TextOrigin(12, 13), c.origin) << c.alignment << " " << c.angle;
    }
}

// A form of white face with one rotated label showing "I" (6 x 13 pixels in
// bold at 11 pixels: ink at x 1 to 4, y 2 to 10 of its cell).
struct TLabelForm {
    TForm Form{nullptr};
    TRotate3DLabel* Label;
    TLabelForm()
    {
        Form.SetColor(clWhite);
        Label = new TRotate3DLabel(&Form);
        Label->SetParent(&Form);
        Label->SetBounds(0, 0, 60, 40);
        Label->SetCaption("I");
        Label->SetColor(clYellow);
    }
    TRGBImage Shot() { return Headless()->Snapshot(&Form); }
};

TEST(Rotate3DLabelTest, ShadesAreDrawnUnderTheTextByStyle)
{
    TLabelForm f;
    f.Form.SetColor(clSilver);
    // Left alignment at angle 0: origin (0, 20 - 6) = (0, 14); text ink at
    // x 1..4, y 16..24.
    TRGBImage shot = f.Shot();
    EXPECT_EQ(shot.Pixel(2, 20), clBlack);
    EXPECT_EQ(shot.Pixel(0, 15), clWhite);       // left-top shade at (-1, -1)
    EXPECT_EQ(shot.Pixel(5, 25), 0x808080);      // right-bottom shade at (+1, +1)
    EXPECT_EQ(shot.Pixel(40, 20), clSilver);     // transparent: the form shows

    f.Label->LabelStyle()->SetAStyle3D(A3dResit);
    shot = f.Shot();
    EXPECT_EQ(shot.Pixel(0, 15), 0x808080);      // right-bottom at (-1, -1)
    EXPECT_EQ(shot.Pixel(5, 25), clWhite);       // left-top at (+1, +1)

    f.Label->LabelStyle()->SetAStyle3D(A3dShadowed);
    shot = f.Shot();
    // Only the shadow, at (+5, -5): ink x 6..9, y 11..19.
    EXPECT_EQ(shot.Pixel(8, 12), 0x808080);
    EXPECT_EQ(shot.Pixel(0, 15), clSilver);
    EXPECT_EQ(shot.Pixel(2, 20), clBlack);

    f.Label->LabelStyle()->SetAStyle3D(A3dNormal);
    shot = f.Shot();
    EXPECT_EQ(shot.Pixel(8, 12), clSilver);
    EXPECT_EQ(shot.Pixel(5, 25), clSilver);
}

TEST(Rotate3DLabelTest, AnOpaqueLabelFillsATurnedPolygonAndDrawsNoShades)
{
    TLabelForm f;
    f.Form.SetColor(clSilver);
    f.Label->SetAlignment(taCenter);
    f.Label->SetMyTransparent(false);
    // w' = 16, h' = 20 about (30, 20): the polygon spans (22, 10) to (38, 30).
    TRGBImage shot = f.Shot();
    EXPECT_EQ(shot.Pixel(23, 11), clYellow);
    EXPECT_EQ(shot.Pixel(37, 29), clYellow);
    EXPECT_EQ(shot.Pixel(20, 11), clSilver);
    EXPECT_EQ(shot.Pixel(40, 20), clSilver);
    // The text at (27, 14), no raised shade beside it.
    EXPECT_EQ(shot.Pixel(29, 20), clBlack);
    EXPECT_EQ(shot.Pixel(32, 25), clYellow);

    // Turned a quarter: the polygon stands upright, 20 wide and 16 high.
    f.Label->LabelStyle()->SetAngle(90);
    shot = f.Shot();
    EXPECT_EQ(shot.Pixel(21, 13), clYellow);
    EXPECT_EQ(shot.Pixel(38, 26), clYellow);
    EXPECT_EQ(shot.Pixel(30, 8), clSilver);
    EXPECT_EQ(shot.Pixel(18, 20), clSilver);
}

} // namespace
} // namespace orvex
