// Progress bars, tab sheets and page controls.

#include "host/forms/ComCtrls.h"

#include <algorithm>

namespace orvex {

// ----------------------------------------------------------------- TProgressBar

TProgressBar::TProgressBar(TComponent* owner) : TWinControl(owner)
{
    SetBounds(0, 0, 150, 16);
}

void TProgressBar::SetRange(int min, int max)
{
    FMin = min;
    FMax = std::max(min, max);
    FPosition = std::clamp(FPosition, FMin, FMax);
    Changed(ccState);
}

void TProgressBar::SetPosition(int value)
{
    value = std::clamp(value, FMin, FMax);
    if (value != FPosition) {
        FPosition = value;
        Changed(ccState);
    }
}

// -------------------------------------------------------------------- TTabSheet

TTabSheet::TTabSheet(TComponent* owner) : TCustomControl(owner)
{
    InitVisible(false);
}

TTabSheet::~TTabSheet()
{
    if (FPageControl != nullptr)
        FPageControl->RemovePage(this);
}

void TTabSheet::SetPageControl(TPageControl* value)
{
    if (FPageControl == value)
        return;
    if (FPageControl != nullptr)
        FPageControl->RemovePage(this);
    FPageControl = value;
    SetParent(value);
    if (value != nullptr)
        value->InsertPage(this);
}

int TTabSheet::PageIndex() const
{
    if (FPageControl == nullptr)
        return -1;
    const auto& pages = FPageControl->FPages;
    return static_cast<int>(std::find(pages.begin(), pages.end(), this) - pages.begin());
}

void TTabSheet::SetPageIndex(int value)
{
    if (FPageControl != nullptr)
        FPageControl->MovePage(this, value);
}

void TTabSheet::SetTabVisible(bool value)
{
    FTabVisible = value;
    if (FPageControl != nullptr)
        FPageControl->Invalidate();
}

void TTabSheet::Paint()
{
    Canvas()->Brush()->SetColor(Color());
    Canvas()->FillRect(ClientRect());
}

void TTabSheet::TextChanged()
{
    TCustomControl::TextChanged();
    if (FPageControl != nullptr)
        FPageControl->Invalidate();
}

void TTabSheet::DefineTextProperties(TTextPropertyList& list)
{
    TCustomControl::DefineTextProperties(list);
    DefineCaption(list);
}

// ----------------------------------------------------------------- TPageControl

TPageControl::TPageControl(TComponent* owner) : TCustomControl(owner)
{
    SetBounds(0, 0, 289, 193);
}

TPageControl::~TPageControl()
{
    for (TTabSheet* page : FPages)
        page->FPageControl = nullptr;
    FPages.clear();
    FActivePage = nullptr;
}

void TPageControl::InsertPage(TTabSheet* page)
{
    FPages.push_back(page);
    page->SetBoundsRect(DisplayRect());
    if (FActivePage == nullptr)
        SetActivePage(page);
    else
        page->SetVisible(false);
    Invalidate();
}

void TPageControl::RemovePage(TTabSheet* page)
{
    const auto it = std::find(FPages.begin(), FPages.end(), page);
    if (it == FPages.end())
        return;
    const int index = static_cast<int>(it - FPages.begin());
    FPages.erase(it);
    if (FActivePage == page) {
        FActivePage = nullptr;
        if (!FPages.empty())
            SetActivePage(FPages[std::min(index, PageCount() - 1)]);
    }
    Invalidate();
}

void TPageControl::MovePage(TTabSheet* page, int index)
{
    const auto it = std::find(FPages.begin(), FPages.end(), page);
    if (it == FPages.end())
        return;
    FPages.erase(it);
    index = std::clamp(index, 0, PageCount());
    FPages.insert(FPages.begin() + index, page);
    Invalidate();
}

void TPageControl::SetActivePage(TTabSheet* page)
{
    if (page != nullptr && page->PageControl() != this)
        return;
    if (page == FActivePage)
        return;
    TTabSheet* old = FActivePage;
    FActivePage = page;
    if (page != nullptr) {
        page->SetVisible(true);
        page->BringToFront();
    }
    if (old != nullptr)
        old->SetVisible(false);
    Invalidate();
}

int TPageControl::ActivePageIndex() const
{
    return FActivePage != nullptr ? FActivePage->PageIndex() : -1;
}

void TPageControl::SetActivePageIndex(int index)
{
    SetActivePage(index >= 0 && index < PageCount() ? FPages[index] : nullptr);
}

void TPageControl::SetTabHeight(int value)
{
    FTabHeight = std::max(0, value);
    PlaceSheets();
    Invalidate();
}

TRect TPageControl::DisplayRect() const
{
    if (FTabHeight == 0)
        return ClientRect();
    return Rect(2, FTabHeight + 2, std::max(2, Width() - 2), std::max(FTabHeight + 2, Height() - 2));
}

void TPageControl::PlaceSheets()
{
    const TRect display = DisplayRect();
    for (TTabSheet* page : FPages)
        page->SetBoundsRect(display);
}

void TPageControl::BoundsChanged(bool sized)
{
    TCustomControl::BoundsChanged(sized);
    if (sized)
        PlaceSheets();
}

std::vector<TRect> TPageControl::TabRects()
{
    std::vector<TRect> rects(FPages.size());
    if (FTabHeight == 0)
        return rects;
    Canvas()->SetFont(Font());
    int x = 2;
    for (std::size_t i = 0; i < FPages.size(); ++i) {
        if (!FPages[i]->TabVisible())
            continue;
        const int width = Canvas()->TextWidth(StripAccelChar(FPages[i]->Caption())) + 12;
        rects[i] = Rect(x, 2, x + width, FTabHeight + 2);
        x += width;
    }
    return rects;
}

int TPageControl::TabAt(int x, int y)
{
    const std::vector<TRect> rects = TabRects();
    for (std::size_t i = 0; i < rects.size(); ++i)
        if (rects[i].Contains({x, y}))
            return static_cast<int>(i);
    return -1;
}

void TPageControl::SelectTab(int pageIndex)
{
    if (pageIndex < 0 || pageIndex >= PageCount() || FPages[pageIndex] == FActivePage)
        return;
    bool allow = true;
    if (OnChanging)
        OnChanging(this, allow);
    if (!allow)
        return;
    SetActivePage(FPages[pageIndex]);
    if (OnChange)
        OnChange(this);
}

void TPageControl::MouseDown(int x, int y)
{
    const int index = TabAt(x, y);
    if (index >= 0)
        SelectTab(index);
}

void TPageControl::Paint()
{
    TCanvas& canvas = *Canvas();
    canvas.Brush()->SetColor(Color());
    canvas.FillRect(ClientRect());
    if (FTabHeight == 0)
        return;
    TRect frame = Rect(0, FTabHeight + 2, Width(), Height());
    Frame3D(canvas, frame, clBtnHighlight, cl3DDkShadow, 1);
    const std::vector<TRect> rects = TabRects();
    for (std::size_t i = 0; i < rects.size(); ++i) {
        if (rects[i].IsEmpty())
            continue;
        TRect tab = rects[i];
        if (FPages[i] == FActivePage) {
            InflateRect(tab, 2, 2);
            tab.Bottom -= 1;
        }
        canvas.Brush()->SetColor(Color());
        canvas.FillRect(tab);
        TRect edge = tab;
        Frame3D(canvas, edge, clBtnHighlight, cl3DDkShadow, 1);
        const std::string text = StripAccelChar(FPages[i]->Caption());
        const TSize extent = canvas.TextExtent(text);
        canvas.Brush()->SetStyle(bsClear);
        canvas.TextRect(tab, (tab.Left + tab.Right - extent.cx) / 2,
                        (tab.Top + tab.Bottom - extent.cy) / 2, text);
    }
}

} // namespace orvex
