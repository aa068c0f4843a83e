#pragma once
// The control model: TControl (position, visibility, text, font, colour,
// alignment), TWinControl (children, tab order, focus, alignment of children),
// TGraphicControl and TCustomControl (controls that paint themselves on a
// canvas), modal results, cursors, virtual keys and accelerators.
//
// The model holds every control's state; a backend may give a control a peer
// (a toolkit widget) that follows the state through Changed notifications and
// reports the user's actions back through the application's event dispatch.

#include "host/Classes.h"
#include "host/forms/Graphics.h"
#include "host/forms/TextProperties.h"

#include <memory>
#include <string>
#include <vector>

namespace orvex {

class EInvalidOperation : public Exception {
public:
    using Exception::Exception;
};

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
enum TAlignment { taLeftJustify, taRightJustify, taCenter };
// Window borders; panels use the first two.
enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
using TBorderStyle = TFormBorderStyle;

using TModalResult = int;
constexpr TModalResult mrNone = 0;
constexpr TModalResult mrOk = 1;
constexpr TModalResult mrCancel = 2;
constexpr TModalResult mrAbort = 3;
constexpr TModalResult mrRetry = 4;
constexpr TModalResult mrIgnore = 5;
constexpr TModalResult mrYes = 6;
constexpr TModalResult mrNo = 7;
constexpr TModalResult mrAll = 8;

using TCursor = int;
constexpr TCursor crDefault = 0;
constexpr TCursor crNone = -1;
constexpr TCursor crArrow = -2;
constexpr TCursor crCross = -3;
constexpr TCursor crIBeam = -4;
constexpr TCursor crHourGlass = -11;
constexpr TCursor crSQLWait = -17;
constexpr TCursor crNo = -18;
constexpr TCursor crAppStart = -19;
constexpr TCursor crHandPoint = -21;

// Virtual keys the model acts on.
constexpr Word VK_BACK = 8;
constexpr Word VK_TAB = 9;
constexpr Word VK_RETURN = 13;
constexpr Word VK_ESCAPE = 27;
constexpr Word VK_SPACE = 32;
constexpr Word VK_END = 35;
constexpr Word VK_HOME = 36;
constexpr Word VK_LEFT = 37;
constexpr Word VK_RIGHT = 39;
constexpr Word VK_DELETE = 46;

// A caption as shown: "&&" becomes "&" and a single "&" (the accelerator's
// mark) disappears.
std::string StripAccelChar(const std::string& caption);
// The accelerator of a caption in upper case, 0 when it has none.
char AccelCharOf(const std::string& caption);

class TWinControl;
class TCustomForm;

// What changed in a control, for its peer.
enum TControlChange {
    ccBounds,
    ccVisible,
    ccEnabled,
    ccText,
    ccFont,
    ccColor,
    ccParent,
    ccState, // a property of the control's own kind (checked, limits, items ...)
    ccZOrder,
    ccDestroying,
};

// A control's counterpart in a toolkit. It reads the control's state when told
// of a change; it never changes the model except through the application's
// event dispatch.
class TControlPeer {
public:
    virtual ~TControlPeer() = default;
    virtual void Changed(TControlChange change) = 0;
    virtual void Invalidate() = 0;
    virtual void Update() = 0; // paint what is invalid now
    virtual void SetFocus() = 0;
};

class TControl : public TComponent, public ITextProperties {
public:
    explicit TControl(TComponent* owner);
    ~TControl() override;

    TWinControl* Parent() const { return FParent; }
    virtual void SetParent(TWinControl* parent);

    int Left() const { return FLeft; }
    int Top() const { return FTop; }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    void SetLeft(int value) { SetBounds(value, FTop, FWidth, FHeight); }
    void SetTop(int value) { SetBounds(FLeft, value, FWidth, FHeight); }
    void SetWidth(int value) { SetBounds(FLeft, FTop, value, FHeight); }
    void SetHeight(int value) { SetBounds(FLeft, FTop, FWidth, value); }
    virtual void SetBounds(int left, int top, int width, int height);
    TRect BoundsRect() const { return Bounds(FLeft, FTop, FWidth, FHeight); }
    void SetBoundsRect(const TRect& r) { SetBounds(r.Left, r.Top, r.Width(), r.Height()); }
    virtual int ClientWidth() const { return FWidth; }
    virtual int ClientHeight() const { return FHeight; }
    void SetClientWidth(int value);
    void SetClientHeight(int value);
    TRect ClientRect() const { return Rect(0, 0, ClientWidth(), ClientHeight()); }

    bool Visible() const { return FVisible; }
    virtual void SetVisible(bool value);
    void Show();
    void Hide() { SetVisible(false); }
    // Visible, and so are all its parents (a form: visible itself).
    bool Showing() const;
    bool Enabled() const { return FEnabled; }
    virtual void SetEnabled(bool value);

    // Caption and Text are the same text under the two names the classes use.
    virtual std::string GetText() const { return FText; }
    virtual void SetText(const std::string& value);
    std::string Caption() const { return GetText(); }
    void SetCaption(const std::string& value) { SetText(value); }
    std::string Text() const { return GetText(); }

    TFont* Font() const { return FFont.get(); }
    void SetFont(TFont* value) { FFont->Assign(value); }
    bool ParentFont() const { return FParentFont; }
    void SetParentFont(bool value);
    TColor Color() const { return FColor; }
    void SetColor(TColor value);
    bool ParentColor() const { return FParentColor; }
    void SetParentColor(bool value);

    TAlign Align() const { return FAlign; }
    void SetAlign(TAlign value);
    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool value);
    const std::string& Hint() const { return FHint; }
    void SetHint(const std::string& value) { FHint = value; }
    bool ShowHint = false;
    TCursor Cursor() const { return FCursor; }
    void SetCursor(TCursor value);

    // The user's click, and what a program does to act like one.
    virtual void Click();
    TNotifyEvent OnClick;
    TNotifyEvent OnResize;

    // A mouse button went down or up over the control (control coordinates).
    virtual void MouseDown(int x, int y) {}
    virtual void MouseUp(int x, int y) {}

    void Invalidate();
    void Update();
    void Repaint();
    void Refresh() { Repaint(); }
    void BringToFront();
    void SendToBack();

    // Self-painting controls: their canvas and their painting. The others
    // (edits, buttons, check boxes ...) are drawn by the backend's toolkit.
    virtual TCanvas* PaintCanvas() { return nullptr; }
    virtual void Paint() {}

    // The peer: created by the backend when the control's window is needed.
    TControlPeer* Peer() const { return FPeer.get(); }
    bool HandleAllocated() const { return FPeer != nullptr; }
    virtual void CreatePeers();
    virtual void DestroyPeers();

    void DefineTextProperties(TTextPropertyList& list) override;

protected:
    // Tells the peer, if any.
    void Changed(TControlChange change);
    virtual void TextChanged();
    virtual void FontChanged();
    virtual void ColorChanged() { Changed(ccColor); }
    virtual void VisibleChanged();
    virtual void EnabledChanged() { Changed(ccEnabled); }
    virtual void BoundsChanged(bool sized);
    virtual void Resize();
    virtual void AdjustSize() {}
    // Called by the parent when its font or colour changes.
    friend class TWinControl;
    void ParentFontChanged();
    void ParentColorChanged();
    // Lists the Caption among the texts (for the classes that show one).
    void DefineCaption(TTextPropertyList& list);
    // A control's colour before it is shown; ParentColor keeps the parent's.
    void InitColor(TColor color, bool parentColor);
    // Visibility set by a constructor, without notifications.
    void InitVisible(bool value) { FVisible = value; }

    std::string FText;

private:
    TWinControl* FParent = nullptr;
    int FLeft = 0;
    int FTop = 0;
    int FWidth = 0;
    int FHeight = 0;
    bool FVisible = true;
    bool FEnabled = true;
    std::unique_ptr<TFont> FFont;
    bool FParentFont = true;
    bool FFontFromParent = false; // the font is being copied from the parent
    TColor FColor = clBtnFace;
    bool FParentColor = true;
    TAlign FAlign = alNone;
    bool FAutoSize = false;
    std::string FHint;
    TCursor FCursor = crDefault;
    std::unique_ptr<TControlPeer> FPeer;
};

// A control that owns a window: it holds children, takes part in the tab order
// and can have the focus.
class TWinControl : public TControl {
public:
    explicit TWinControl(TComponent* owner);
    ~TWinControl() override;

    int ControlCount() const { return static_cast<int>(FControls.size()); }
    TControl* Controls(int index) const { return FControls.at(index); }
    bool ContainsControl(const TControl* control) const;

    int TabOrder() const;
    void SetTabOrder(int value);
    bool TabStop() const { return FTabStop; }
    void SetTabStop(bool value) { FTabStop = value; }
    // Visible and enabled up to its form.
    virtual bool CanFocus() const;
    virtual void SetFocus();
    bool Focused() const;
    // Focusable descendants in tab order, depth first.
    void GetTabOrderList(std::vector<TWinControl*>& list) const;
    TWinControl* FindNextControl(TWinControl* current, bool goForward, bool checkTabStop) const;
    void SelectNext(TWinControl* current, bool goForward, bool checkTabStop);

    void Realign();
    void DisableAlign() { ++FAlignDisabled; }
    void EnableAlign();

    TNotifyEvent OnEnter;
    TNotifyEvent OnExit;
    // Focus entered or left the control.
    virtual void DoEnter();
    virtual void DoExit();

    void CreatePeers() override;
    void DestroyPeers() override;

protected:
    // The space for aligned children.
    virtual void AdjustClientRect(TRect& rect) {}
    virtual void AlignControls(TRect rect);
    void FontChanged() override;
    void ColorChanged() override;
    void BoundsChanged(bool sized) override;

private:
    friend class TControl;
    void InsertControl(TControl* control);
    void RemoveControl(TControl* control);
    void ChildChanged(TControl* control, bool alignmentMatters);
    std::vector<TControl*> FControls; // in z-order, bottom first
    std::vector<TWinControl*> FTabList;
    bool FTabStop = false;
    int FAlignDisabled = 0;
    bool FAligning = false;
};

// A windowless control that paints itself (labels, images).
class TGraphicControl : public TControl {
public:
    explicit TGraphicControl(TComponent* owner);
    ~TGraphicControl() override;
    TCanvas* Canvas() { return FCanvas.get(); }
    TCanvas* PaintCanvas() override { return FCanvas.get(); }

private:
    std::unique_ptr<TCanvas> FCanvas;
};

// A windowed control that paints itself (panels, group boxes, page controls).
class TCustomControl : public TWinControl {
public:
    explicit TCustomControl(TComponent* owner);
    ~TCustomControl() override;
    TCanvas* Canvas() { return FCanvas.get(); }
    TCanvas* PaintCanvas() override { return FCanvas.get(); }

private:
    std::unique_ptr<TCanvas> FCanvas;
};

// The form that holds the control, nullptr when none.
TCustomForm* GetParentForm(const TControl* control);

// Paints a self-painting control on the device: its canvas gets the device,
// the control's font and a brush of its colour, then Paint runs. False for a
// control that does not paint itself.
bool PaintControlTo(TControl* control, TCanvasDevice& device);

// Draws a three-dimensional frame one pixel wide per step inside rect and
// shrinks rect by the width.
void Frame3D(TCanvas& canvas, TRect& rect, TColor topLeft, TColor bottomRight, int width);

} // namespace orvex
