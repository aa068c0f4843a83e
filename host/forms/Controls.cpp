// TControl, TWinControl, TGraphicControl, TCustomControl and their helpers.

#include "host/forms/Controls.h"

#include "host/forms/Backend.h"
#include "host/forms/Forms.h"

#include <algorithm>

namespace orvex {

// ----------------------------------------------------------------- accelerators

std::string StripAccelChar(const std::string& caption)
{
    std::string shown;
    shown.reserve(caption.size());
    for (std::size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] != '&') {
            shown += caption[i];
        } else if (i + 1 < caption.size() && caption[i + 1] == '&') {
            shown += '&';
            ++i;
        }
    }
    return shown;
}

char AccelCharOf(const std::string& caption)
{
    for (std::size_t i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != '&')
            continue;
        if (caption[i + 1] == '&') {
            ++i;
            continue;
        }
        return AnsiUpperChar(caption[i + 1]);
    }
    return 0;
}

// --------------------------------------------------------------------- TControl

TControl::TControl(TComponent* owner) : TComponent(owner), FFont(std::make_unique<TFont>())
{
    FFont->OnChange = [this](TObject*) {
        // A font set on the control itself no longer follows the parent's.
        if (!FFontFromParent)
            FParentFont = false;
        FontChanged();
    };
}

TControl::~TControl()
{
    Destroying();
    FFont->OnChange = nullptr;
    if (FParent != nullptr)
        FParent->RemoveControl(this);
    FPeer.reset();
}

void TControl::Changed(TControlChange change)
{
    if (FPeer)
        FPeer->Changed(change);
}

void TControl::SetParent(TWinControl* parent)
{
    if (parent == FParent)
        return;
    for (const TControl* p = parent; p != nullptr; p = p->FParent)
        if (p == this)
            throw EInvalidOperation("A control cannot be its own parent");
    if (FParent != nullptr)
        FParent->RemoveControl(this);
    if (parent != nullptr)
        parent->InsertControl(this);
}

void TControl::SetBounds(int left, int top, int width, int height)
{
    width = std::max(0, width);
    height = std::max(0, height);
    if (left == FLeft && top == FTop && width == FWidth && height == FHeight)
        return;
    const bool sized = width != FWidth || height != FHeight;
    FLeft = left;
    FTop = top;
    FWidth = width;
    FHeight = height;
    BoundsChanged(sized);
}

void TControl::BoundsChanged(bool sized)
{
    Changed(ccBounds);
    if (FParent != nullptr)
        FParent->ChildChanged(this, FAlign != alNone);
    if (sized)
        Resize();
}

void TControl::Resize()
{
    if (OnResize)
        OnResize(this);
}

void TControl::SetClientWidth(int value)
{
    SetWidth(FWidth + value - ClientWidth());
}

void TControl::SetClientHeight(int value)
{
    SetHeight(FHeight + value - ClientHeight());
}

namespace {

// Focus cannot stay in a control that goes away, hides or is disabled.
void LoseFocus(TControl* control)
{
    if (TCustomForm* form = GetParentForm(control))
        form->DefocusControl(control);
}

} // namespace

void TControl::SetVisible(bool value)
{
    if (FVisible == value)
        return;
    if (!value)
        LoseFocus(this);
    FVisible = value;
    VisibleChanged();
}

void TControl::VisibleChanged()
{
    Changed(ccVisible);
    if (FParent != nullptr)
        FParent->ChildChanged(this, FAlign != alNone);
}

void TControl::Show()
{
    SetVisible(true);
}

bool TControl::Showing() const
{
    for (const TControl* c = this; c != nullptr; c = c->FParent)
        if (!c->FVisible)
            return false;
    return true;
}

void TControl::SetEnabled(bool value)
{
    if (FEnabled == value)
        return;
    if (!value)
        LoseFocus(this);
    FEnabled = value;
    EnabledChanged();
}

void TControl::SetText(const std::string& value)
{
    if (FText == value)
        return;
    FText = value;
    TextChanged();
}

void TControl::TextChanged()
{
    Changed(ccText);
    if (FAutoSize)
        AdjustSize();
}

void TControl::SetParentFont(bool value)
{
    FParentFont = value;
    if (value)
        ParentFontChanged();
}

void TControl::ParentFontChanged()
{
    if (!FParentFont || FParent == nullptr)
        return;
    FFontFromParent = true;
    try {
        FFont->Assign(FParent->Font());
    } catch (...) {
        FFontFromParent = false;
        throw;
    }
    FFontFromParent = false;
}

void TControl::FontChanged()
{
    Changed(ccFont);
    if (FAutoSize)
        AdjustSize();
}

void TControl::SetColor(TColor value)
{
    FParentColor = false;
    if (FColor != value) {
        FColor = value;
        ColorChanged();
    }
}

void TControl::SetParentColor(bool value)
{
    FParentColor = value;
    if (value)
        ParentColorChanged();
}

void TControl::ParentColorChanged()
{
    if (FParentColor && FParent != nullptr && FColor != FParent->FColor) {
        FColor = FParent->FColor;
        ColorChanged();
    }
}

void TControl::InitColor(TColor color, bool parentColor)
{
    FColor = color;
    FParentColor = parentColor;
}

void TControl::SetAlign(TAlign value)
{
    if (FAlign == value)
        return;
    FAlign = value;
    if (FParent != nullptr)
        FParent->Realign();
}

void TControl::SetAutoSize(bool value)
{
    if (FAutoSize == value)
        return;
    FAutoSize = value;
    if (value)
        AdjustSize();
}

void TControl::SetCursor(TCursor value)
{
    FCursor = value;
}

void TControl::Click()
{
    if (OnClick)
        OnClick(this);
}

void TControl::Invalidate()
{
    if (FPeer)
        FPeer->Invalidate();
}

void TControl::Update()
{
    if (FPeer)
        FPeer->Update();
}

void TControl::Repaint()
{
    Invalidate();
    Update();
}

void TControl::BringToFront()
{
    if (FParent != nullptr) {
        auto& list = FParent->FControls;
        list.erase(std::find(list.begin(), list.end(), this));
        list.push_back(this);
    }
    Changed(ccZOrder);
}

void TControl::SendToBack()
{
    if (FParent != nullptr) {
        auto& list = FParent->FControls;
        list.erase(std::find(list.begin(), list.end(), this));
        list.insert(list.begin(), this);
    }
    Changed(ccZOrder);
}

void TControl::CreatePeers()
{
    if (!FPeer)
        FPeer = FormsBackend().CreatePeer(this);
}

void TControl::DestroyPeers()
{
    FPeer.reset();
}

void TControl::DefineTextProperties(TTextPropertyList& list)
{
    list.AddText(
        "Hint", [this] { return FHint; }, [this](const std::string& v) { SetHint(v); });
}

void TControl::DefineCaption(TTextPropertyList& list)
{
    list.AddText(
        "Caption", [this] { return Caption(); }, [this](const std::string& v) { SetCaption(v); });
}

// ------------------------------------------------------------------ TWinControl

TWinControl::TWinControl(TComponent* owner) : TControl(owner) {}

TWinControl::~TWinControl()
{
    Destroying();
    // Children go with their parent, the top of the z-order first.
    while (!FControls.empty())
        delete FControls.back();
}

bool TWinControl::ContainsControl(const TControl* control) const
{
    for (const TControl* c = control; c != nullptr; c = c->Parent())
        if (c == this)
            return true;
    return false;
}

void TWinControl::InsertControl(TControl* control)
{
    FControls.push_back(control);
    control->FParent = this;
    if (auto* win = dynamic_cast<TWinControl*>(control))
        FTabList.push_back(win);
    control->ParentFontChanged();
    control->ParentColorChanged();
    if (HandleAllocated())
        control->CreatePeers();
    else
        control->DestroyPeers();
    control->Changed(ccParent);
    ChildChanged(control, control->Align() != alNone);
}

void TWinControl::RemoveControl(TControl* control)
{
    LoseFocus(control);
    control->DestroyPeers();
    FControls.erase(std::remove(FControls.begin(), FControls.end(), control), FControls.end());
    FTabList.erase(std::remove(FTabList.begin(), FTabList.end(), control), FTabList.end());
    control->FParent = nullptr;
    if (!HasState(csDestroying))
        ChildChanged(control, control->Align() != alNone);
}

void TWinControl::ChildChanged(TControl* control, bool alignmentMatters)
{
    if (alignmentMatters && !FAligning)
        Realign();
}

int TWinControl::TabOrder() const
{
    const TWinControl* parent = Parent();
    if (parent == nullptr)
        return -1;
    const auto& list = parent->FTabList;
    return static_cast<int>(std::find(list.begin(), list.end(), this) - list.begin());
}

void TWinControl::SetTabOrder(int value)
{
    TWinControl* parent = Parent();
    if (parent == nullptr)
        return;
    auto& list = parent->FTabList;
    list.erase(std::find(list.begin(), list.end(), this));
    value = std::clamp(value, 0, static_cast<int>(list.size()));
    list.insert(list.begin() + value, this);
}

bool TWinControl::CanFocus() const
{
    const TCustomForm* form = GetParentForm(this);
    if (form == nullptr)
        return false;
    for (const TControl* c = this; c != form; c = c->Parent())
        if (!c->Visible() || !c->Enabled())
            return false;
    return true;
}

void TWinControl::SetFocus()
{
    TCustomForm* form = GetParentForm(this);
    if (form == nullptr || !form->Visible() || !CanFocus())
        throw EInvalidOperation("Cannot focus a disabled or invisible window");
    form->SetActiveControl(this);
}

bool TWinControl::Focused() const
{
    const TCustomForm* form = GetParentForm(this);
    return form != nullptr && form->Visible() && form->ActiveControl() == this;
}

void TWinControl::GetTabOrderList(std::vector<TWinControl*>& list) const
{
    for (TWinControl* control : FTabList) {
        list.push_back(control);
        control->GetTabOrderList(list);
    }
}

TWinControl* TWinControl::FindNextControl(TWinControl* current, bool goForward,
                                          bool checkTabStop) const
{
    std::vector<TWinControl*> list;
    GetTabOrderList(list);
    const int count = static_cast<int>(list.size());
    if (count == 0)
        return nullptr;
    int start = static_cast<int>(std::find(list.begin(), list.end(), current) - list.begin());
    if (start == count)
        start = goForward ? count - 1 : 0;
    int i = start;
    do {
        i = goForward ? (i + 1) % count : (i + count - 1) % count;
        TWinControl* candidate = list[i];
        if (candidate != current && candidate->CanFocus() &&
            (!checkTabStop || candidate->TabStop()))
            return candidate;
    } while (i != start);
    return nullptr;
}

void TWinControl::SelectNext(TWinControl* current, bool goForward, bool checkTabStop)
{
    TWinControl* next = FindNextControl(current, goForward, checkTabStop);
    TCustomForm* form = GetParentForm(this);
    if (next != nullptr && form != nullptr)
        form->SetActiveControl(next);
}

void TWinControl::Realign()
{
    if (FAlignDisabled > 0 || FAligning || HasState(csDestroying))
        return;
    FAligning = true;
    try {
        TRect rect = ClientRect();
        AdjustClientRect(rect);
        AlignControls(rect);
    } catch (...) {
        FAligning = false;
        throw;
    }
    FAligning = false;
}

void TWinControl::EnableAlign()
{
    if (FAlignDisabled > 0 && --FAlignDisabled == 0)
        Realign();
}

void TWinControl::AlignControls(TRect rect)
{
    for (TAlign align : {alTop, alBottom, alLeft, alRight, alClient}) {
        std::vector<TControl*> list;
        for (TControl* c : FControls)
            if (c->Align() == align && c->Visible())
                list.push_back(c);
        // Controls keep their order along the side they are aligned to.
        auto key = [align](const TControl* c) {
            switch (align) {
            case alTop: return c->Top();
            case alBottom: return -(c->Top() + c->Height());
            case alLeft: return c->Left();
            case alRight: return -(c->Left() + c->Width());
            default: return 0;
            }
        };
        std::stable_sort(list.begin(), list.end(),
                         [&](const TControl* a, const TControl* b) { return key(a) < key(b); });
        for (TControl* c : list) {
            const int w = c->Width();
            const int h = c->Height();
            switch (align) {
            case alTop:
                c->SetBounds(rect.Left, rect.Top, rect.Width(), h);
                rect.Top += h;
                break;
            case alBottom:
                c->SetBounds(rect.Left, rect.Bottom - h, rect.Width(), h);
                rect.Bottom -= h;
                break;
            case alLeft:
                c->SetBounds(rect.Left, rect.Top, w, rect.Height());
                rect.Left += w;
                break;
            case alRight:
                c->SetBounds(rect.Right - w, rect.Top, w, rect.Height());
                rect.Right -= w;
                break;
            default:
                c->SetBounds(rect.Left, rect.Top, rect.Width(), rect.Height());
                break;
            }
        }
    }
}

void TWinControl::DoEnter()
{
    if (OnEnter)
        OnEnter(this);
}

void TWinControl::DoExit()
{
    if (OnExit)
        OnExit(this);
}

void TWinControl::CreatePeers()
{
    TControl::CreatePeers();
    if (!HandleAllocated())
        return;
    for (TControl* c : std::vector<TControl*>(FControls))
        c->CreatePeers();
}

void TWinControl::DestroyPeers()
{
    for (TControl* c : FControls)
        c->DestroyPeers();
    TControl::DestroyPeers();
}

void TWinControl::FontChanged()
{
    TControl::FontChanged();
    for (TControl* c : std::vector<TControl*>(FControls))
        c->ParentFontChanged();
}

void TWinControl::ColorChanged()
{
    TControl::ColorChanged();
    for (TControl* c : std::vector<TControl*>(FControls))
        c->ParentColorChanged();
}

void TWinControl::BoundsChanged(bool sized)
{
    if (sized)
        Realign();
    TControl::BoundsChanged(sized);
}

// -------------------------------------------- self-painting controls, helpers

TGraphicControl::TGraphicControl(TComponent* owner)
    : TControl(owner), FCanvas(std::make_unique<TCanvas>())
{
}

TGraphicControl::~TGraphicControl() = default;

TCustomControl::TCustomControl(TComponent* owner)
    : TWinControl(owner), FCanvas(std::make_unique<TCanvas>())
{
}

TCustomControl::~TCustomControl() = default;

TCustomForm* GetParentForm(const TControl* control)
{
    if (control == nullptr)
        return nullptr;
    while (control->Parent() != nullptr)
        control = control->Parent();
    return dynamic_cast<TCustomForm*>(const_cast<TControl*>(control));
}

bool PaintControlTo(TControl* control, TCanvasDevice& device)
{
    TCanvas* canvas = control->PaintCanvas();
    if (canvas == nullptr)
        return false;
    canvas->SetDevice(&device);
    canvas->SetFont(control->Font());
    canvas->Brush()->SetColor(control->Color());
    canvas->Pen()->SetColor(clBlack);
    canvas->Pen()->SetWidth(1);
    canvas->Pen()->SetStyle(psSolid);
    canvas->MoveTo(0, 0);
    try {
        control->Paint();
    } catch (...) {
        canvas->SetDevice(nullptr);
        throw;
    }
    canvas->SetDevice(nullptr);
    return true;
}

void Frame3D(TCanvas& canvas, TRect& rect, TColor topLeft, TColor bottomRight, int width)
{
    --rect.Right;
    --rect.Bottom;
    for (int i = 0; i < width; ++i) {
        canvas.Pen()->SetColor(topLeft);
        canvas.Polyline({{rect.Left, rect.Bottom}, {rect.Left, rect.Top}, {rect.Right, rect.Top}});
        canvas.Pen()->SetColor(bottomRight);
        canvas.Polyline(
            {{rect.Right, rect.Top}, {rect.Right, rect.Bottom}, {rect.Left - 1, rect.Bottom}});
        InflateRect(rect, -1, -1);
    }
    ++rect.Right;
    ++rect.Bottom;
}

// ---------------------------------------------------------------- text properties

void TTextPropertyList::AddText(std::string name, std::function<std::string()> get,
                                std::function<void(const std::string&)> set)
{
    TTextProperty p;
    p.Name = std::move(name);
    p.Kind = tpText;
    p.Get = std::move(get);
    p.Set = std::move(set);
    FItems.push_back(std::move(p));
}

void TTextPropertyList::AddStrings(std::string name, TTextPropertyKind kind, TStrings* strings)
{
    TTextProperty p;
    p.Name = std::move(name);
    p.Kind = kind;
    p.Strings = strings;
    FItems.push_back(std::move(p));
}

const TTextProperty* TTextPropertyList::Find(const std::string& name) const
{
    for (const TTextProperty& p : FItems)
        if (SameText(p.Name, name))
            return &p;
    return nullptr;
}

TTextPropertyList TextPropertiesOf(TComponent* component)
{
    TTextPropertyList list;
    if (auto* owner = dynamic_cast<ITextProperties*>(component))
        owner->DefineTextProperties(list);
    return list;
}

} // namespace orvex
