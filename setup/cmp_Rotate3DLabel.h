#pragma once
// TRotate3DLabel: a label drawn at any angle, with a three-dimensional look
// made of shades drawn under the text (raised, sunk or a shadow), on a
// polygon of the label's colour when it is not transparent.

#include "host/forms/StdCtrls.h"

#include <memory>

namespace orvex {

enum T3DEffectShort { A3dNormal, A3dResit, A3dRaised, A3dShadowed };

// The look of a rotated label; every change tells the label to repaint.
class TLabelStyle : public TPersistent {
public:
    TLabelStyle() = default;
    void Assign(TPersistent* source) override;

    // Degrees 0 to 359; any other value becomes 0.
    int Angle() const { return FAngle; }
    void SetAngle(int value);
    T3DEffectShort AStyle3D() const { return FStyle3D; }
    void SetAStyle3D(T3DEffectShort value);
    TColor AShadeRightBottom() const { return FShadeRightBottom; }
    void SetAShadeRightBottom(TColor value);
    TColor AShadeLeftTop() const { return FShadeLeftTop; }
    void SetAShadeLeftTop(TColor value);
    // While on, the left-top shade is white; turning it off brings back the
    // colour it had before.
    bool AShadeLTSet() const { return FShadeLTSet; }
    void SetAShadeLTSet(bool value);
    // The shadow's offset, for A3dShadowed.
    int AHShadeOffSet() const { return FHShadeOffSet; }
    void SetAHShadeOffSet(int value);
    int AVShadeOffSet() const { return FVShadeOffSet; }
    void SetAVShadeOffSet(int value);

    TNotifyEvent OnChange;

private:
    void Changed();
    int FAngle = 0;
    T3DEffectShort FStyle3D = A3dRaised;
    TColor FShadeRightBottom = 0x808080;
    TColor FShadeLeftTop = 0xFFFFFF;
    TColor FSavedShadeLeftTop = 0xFFFFFF;
    bool FShadeLTSet = false;
    int FHShadeOffSet = 5;
    int FVShadeOffSet = -5;
};

class TRotate3DLabel : public TCustomLabel {
public:
    explicit TRotate3DLabel(TComponent* owner);
    ~TRotate3DLabel() override;

    TLabelStyle* LabelStyle() const { return FLabelStyle.get(); }
    void SetLabelStyle(TLabelStyle* value) { FLabelStyle->Assign(value); }
    // On (the default) the text is drawn straight on what lies below; off, a
    // polygon of the label's colour is filled behind it and no shades are
    // drawn.
    bool MyTransparent() const { return FMyTransparent; }
    void SetMyTransparent(bool value);

    // -1 makes this label the program's current one (the former current one
    // gets 0); another value on the current one leaves none current.
    void SetTag(long long value);

    void Paint() override;

    // Where the text's cell begins for the label's size, alignment and angle,
    // given the text's extent (w, h).
    TPoint TextOrigin(int w, int h) const;

private:
    std::unique_ptr<TLabelStyle> FLabelStyle;
    bool FMyTransparent = true;
};

// The current rotated label, nullptr when none.
TRotate3DLabel* CurrentRotate3DLabel();

// Rounds to the nearest integer, halves to the even one (as the framework's
// Round does).
int RoundHalfEven(double value);

} // namespace orvex
