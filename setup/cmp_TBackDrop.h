#pragma once
// TBackdrop: a panel painted with a colour gradient of 256 bands (128 mirrored
// pairs for the directions that run from the edges to the middle). It fills
// its parent's client area unless told otherwise.

#include "host/forms/ExtCtrls.h"

namespace orvex {

enum TDirection { bdUp, bdDown, bdLeft, bdRight, bdHorzIn, bdHorzOut, bdVertIn, bdVertOut };

class TBackdrop : public TCustomPanel {
public:
    explicit TBackdrop(TComponent* owner);
    ~TBackdrop() override;

    TDirection Direction() const { return FDirection; }
    void SetDirection(TDirection value);
    TColor StartColor() const { return FStartColor; }
    void SetStartColor(TColor value);
    TColor EndColor() const { return FEndColor; }
    void SetEndColor(TColor value);

    // -1 makes this backdrop the program's current one (the former current
    // one gets 0); another value on the current one leaves none current.
    void SetTag(long long value);

    void Paint() override;

private:
    TDirection FDirection = bdUp;
    TColor FStartColor = 0xFF0000;
    TColor FEndColor = 0;
};

// The current backdrop, nullptr when none.
TBackdrop* CurrentBackdrop();

// Paints the gradient of a direction over rect (the bands of Paint).
void PaintGradient(TCanvas& canvas, const TRect& rect, TDirection direction, TColor startColor,
                   TColor endColor);

} // namespace orvex
