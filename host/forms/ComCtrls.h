#pragma once
// Common controls: progress bars, page controls with tab sheets and the
// read-only rich-text box.

#include "host/forms/StdCtrls.h"

#include <functional>
#include <vector>

namespace orvex {

class TProgressBar : public TWinControl {
public:
    explicit TProgressBar(TComponent* owner);

    int Min() const { return FMin; }
    int Max() const { return FMax; }
    void SetMin(int value) { SetRange(value, FMax); }
    void SetMax(int value) { SetRange(FMin, value); }
    void SetRange(int min, int max);
    // Kept within Min and Max.
    int Position() const { return FPosition; }
    void SetPosition(int value);
    int Step = 10;
    void StepIt() { SetPosition(FPosition + Step); }
    void StepBy(int delta) { SetPosition(FPosition + delta); }
    bool Smooth = false;

private:
    int FMin = 0;
    int FMax = 100;
    int FPosition = 0;
};

class TPageControl;

// One page of a page control; only the active page is visible.
class TTabSheet : public TCustomControl {
public:
    explicit TTabSheet(TComponent* owner);
    ~TTabSheet() override;

    TPageControl* PageControl() const { return FPageControl; }
    void SetPageControl(TPageControl* value);
    int PageIndex() const;
    void SetPageIndex(int value);
    // A sheet with TabVisible off shows no tab.
    bool TabVisible() const { return FTabVisible; }
    void SetTabVisible(bool value);

    void Paint() override;
    void DefineTextProperties(TTextPropertyList& list) override;

protected:
    void TextChanged() override;

private:
    friend class TPageControl;
    TPageControl* FPageControl = nullptr;
    bool FTabVisible = true;
};

using TTabChangingEvent = std::function<void(TObject* sender, bool& allowChange)>;

// Sheets under a row of tabs. The row is TabHeight pixels high, zero hiding
// it; sheets fill the display area below it. A program's change of the active
// page fires no event; the user's click on a tab asks OnChanging, then changes
// the page and fires OnChange.
class TPageControl : public TCustomControl {
public:
    explicit TPageControl(TComponent* owner);
    ~TPageControl() override;

    int PageCount() const { return static_cast<int>(FPages.size()); }
    TTabSheet* Pages(int index) const { return FPages.at(index); }
    TTabSheet* ActivePage() const { return FActivePage; }
    void SetActivePage(TTabSheet* page);
    int ActivePageIndex() const;
    void SetActivePageIndex(int index);
    int TabHeight() const { return FTabHeight; }
    void SetTabHeight(int value);
    // Where the sheets go.
    TRect DisplayRect() const;
    // The tab (page index) at a point of the tab row, -1 when none.
    int TabAt(int x, int y);
    // The user chose a tab.
    void SelectTab(int pageIndex);

    TNotifyEvent OnChange;
    TTabChangingEvent OnChanging;

    void Paint() override;
    void MouseDown(int x, int y) override;

protected:
    void BoundsChanged(bool sized) override;

private:
    friend class TTabSheet;
    void InsertPage(TTabSheet* page);
    void RemovePage(TTabSheet* page);
    void MovePage(TTabSheet* page, int index);
    void PlaceSheets();
    std::vector<TRect> TabRects();
    std::vector<TTabSheet*> FPages;
    TTabSheet* FActivePage = nullptr;
    int FTabHeight = 20;
};

// A box of formatted text; here it holds plain lines, usually read-only.
class TRichEdit : public TCustomMemo {
public:
    using TCustomMemo::TCustomMemo;
};

} // namespace orvex
