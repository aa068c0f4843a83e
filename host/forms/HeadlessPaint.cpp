// Snapshots of the headless backend: self-painting controls paint themselves;
// the controls a toolkit would draw get a plain classic look.

#include "host/forms/Buttons.h"
#include "host/forms/ComCtrls.h"
#include "host/forms/Headless.h"
#include "host/forms/StdCtrls.h"

#include <algorithm>

namespace orvex {

namespace {

void SunkenFrame(TCanvas& canvas, TRect& rect)
{
    Frame3D(canvas, rect, clBtnShadow, clBtnHighlight, 1);
    Frame3D(canvas, rect, cl3DDkShadow, cl3DLight, 1);
}

TColor TextColor(const TControl* control)
{
    return control->Enabled() ? control->Font()->Color() : clGrayText;
}

void PaintEdit(TCanvas& canvas, TCustomEdit* edit)
{
    TRect rect = edit->ClientRect();
    SunkenFrame(canvas, rect);
    canvas.Brush()->SetColor(edit->Color());
    canvas.FillRect(rect);
    canvas.Brush()->SetStyle(bsClear);
    canvas.Font()->SetColor(TextColor(edit));
    if (auto* memo = dynamic_cast<TCustomMemo*>(edit)) {
        int y = rect.Top;
        for (int i = 0; i < memo->Lines()->Count() && y < rect.Bottom; ++i) {
            const std::string line = memo->Lines()->Get(i);
            canvas.TextRect(rect, rect.Left + 1, y, line);
            y += canvas.TextHeight(line);
        }
        return;
    }
    const std::string text = edit->DisplayText();
    canvas.TextRect(rect, rect.Left + 1, (edit->Height() - canvas.TextHeight(text)) / 2, text);
}

void PaintButton(TCanvas& canvas, TButton* button)
{
    TRect rect = button->ClientRect();
    if (button->Default()) {
        canvas.Brush()->SetColor(clWindowFrame);
        canvas.FrameRect(rect);
        InflateRect(rect, -1, -1);
    }
    Frame3D(canvas, rect, clBtnHighlight, cl3DDkShadow, 1);
    Frame3D(canvas, rect, cl3DLight, clBtnShadow, 1);
    canvas.Brush()->SetColor(clBtnFace);
    canvas.FillRect(rect);
    const std::string text = StripAccelChar(button->Caption());
    const TSize extent = canvas.TextExtent(text);
    int glyphWidth = 0;
    TBitmap* glyph = nullptr;
    if (auto* bitBtn = dynamic_cast<TBitBtn*>(button); bitBtn != nullptr && !bitBtn->Glyph()->Empty()) {
        glyph = bitBtn->Glyph();
        glyphWidth = glyph->Width() + (text.empty() ? 0 : bitBtn->Spacing());
    }
    int x = (button->Width() - extent.cx - glyphWidth) / 2;
    if (glyph != nullptr) {
        canvas.Draw(x, (button->Height() - glyph->Height()) / 2, glyph);
        x += glyphWidth;
    }
    canvas.Brush()->SetStyle(bsClear);
    canvas.Font()->SetColor(TextColor(button));
    canvas.TextRect(rect, x, (button->Height() - extent.cy) / 2, text);
}

void PaintCheck(TCanvas& canvas, TButtonControl* control, bool checked, bool round)
{
    canvas.Brush()->SetColor(control->Color());
    canvas.FillRect(control->ClientRect());
    const int size = 13;
    TRect box = Bounds(0, (control->Height() - size) / 2, size, size);
    SunkenFrame(canvas, box);
    canvas.Brush()->SetColor(control->Enabled() ? clWindow : clBtnFace);
    canvas.FillRect(box);
    if (checked) {
        InflateRect(box, round ? -3 : -2, round ? -3 : -2);
        canvas.Brush()->SetColor(TextColor(control));
        canvas.FillRect(box);
    }
    const std::string text = StripAccelChar(control->Caption());
    canvas.Brush()->SetStyle(bsClear);
    canvas.Font()->SetColor(TextColor(control));
    canvas.TextRect(control->ClientRect(), size + 4,
                    (control->Height() - canvas.TextHeight(text)) / 2, text);
}

void PaintProgress(TCanvas& canvas, TProgressBar* bar)
{
    TRect rect = bar->ClientRect();
    Frame3D(canvas, rect, clBtnShadow, clBtnHighlight, 1);
    canvas.Brush()->SetColor(clBtnFace);
    canvas.FillRect(rect);
    const int range = bar->Max() - bar->Min();
    if (range <= 0)
        return;
    TRect done = rect;
    done.Right = rect.Left + MulDiv(rect.Width(), bar->Position() - bar->Min(), range);
    canvas.Brush()->SetColor(clHighlight);
    canvas.FillRect(done);
}

void PaintNative(TControl* control, TCanvasDevice& device)
{
    TCanvas canvas;
    canvas.SetDevice(&device);
    canvas.SetFont(control->Font());
    if (auto* edit = dynamic_cast<TCustomEdit*>(control))
        PaintEdit(canvas, edit);
    else if (auto* button = dynamic_cast<TButton*>(control))
        PaintButton(canvas, button);
    else if (auto* check = dynamic_cast<TCheckBox*>(control))
        PaintCheck(canvas, check, check->State() != cbUnchecked, false);
    else if (auto* radio = dynamic_cast<TRadioButton*>(control))
        PaintCheck(canvas, radio, radio->Checked(), true);
    else if (auto* bar = dynamic_cast<TProgressBar*>(control))
        PaintProgress(canvas, bar);
    canvas.SetDevice(nullptr);
}

void PaintTree(TControl* control, TRGBImage& image, TPoint origin, const TRect& clip)
{
    TRasterDevice device(image, origin, clip);
    Application->DispatchEvent(control, [&] {
        if (!PaintControlTo(control, device))
            PaintNative(control, device);
    });
    auto* parent = dynamic_cast<TWinControl*>(control);
    if (parent == nullptr)
        return;
    // Windowless children lie under the windowed ones.
    for (bool windowed : {false, true}) {
        for (int i = 0; i < parent->ControlCount(); ++i) {
            TControl* child = parent->Controls(i);
            if (!child->Visible() || (dynamic_cast<TWinControl*>(child) != nullptr) != windowed)
                continue;
            const TRect bounds = Bounds(origin.X + child->Left(), origin.Y + child->Top(),
                                        child->Width(), child->Height());
            const TRect childClip = IntersectRect(bounds, clip);
            if (!childClip.IsEmpty())
                PaintTree(child, image, {bounds.Left, bounds.Top}, childClip);
        }
    }
}

} // namespace

TRGBImage THeadlessBackend::Snapshot(TControl* control)
{
    TRGBImage image(control->ClientWidth(), control->ClientHeight(), clWhite);
    PaintTree(control, image, {0, 0}, Rect(0, 0, image.Width(), image.Height()));
    return image;
}

} // namespace orvex
