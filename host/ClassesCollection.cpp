// TCollection and TCollectionItem.

#include "host/Classes.h"
#include "host/ClassesUtil.h"

#include <algorithm>
#include <iterator>

namespace orvex {

using detail::ListIndexError;

// ------------------------------------------------------------ TCollectionItem

TCollectionItem::TCollectionItem(TCollection* collection)
{
    SetCollection(collection);
}

TCollectionItem::~TCollectionItem()
{
    SetCollection(nullptr);
}

void TCollectionItem::SetCollection(TCollection* value)
{
    if (FCollection == value)
        return;
    if (FCollection != nullptr)
        FCollection->RemoveItem(this);
    if (value != nullptr)
        value->InsertItem(this);
}

int TCollectionItem::Index() const
{
    if (FCollection == nullptr)
        return -1;
    const auto& items = FCollection->FItems;
    const auto it = std::find(items.begin(), items.end(), this);
    return it == items.end() ? -1 : static_cast<int>(it - items.begin());
}

void TCollectionItem::SetIndex(int value)
{
    const int current = Index();
    if (current < 0 || current == value)
        return;
    auto& items = FCollection->FItems;
    if (value < 0 || value >= static_cast<int>(items.size()))
        ListIndexError(value);
    items.erase(items.begin() + current);
    items.insert(items.begin() + value, this);
    Changed(true);
}

std::string TCollectionItem::DisplayName() const
{
    return ClassName();
}

void TCollectionItem::SetDisplayName(const std::string&)
{
    Changed(false);
}

void TCollectionItem::Changed(bool allItems)
{
    if (FCollection != nullptr && FCollection->FUpdateCount == 0)
        FCollection->Update(allItems ? nullptr : this);
}

// ---------------------------------------------------------------- TCollection

TCollection::TCollection(TCollectionItemClass itemClass) : FItemClass(std::move(itemClass)) {}

TCollection::~TCollection()
{
    // Going away: no Update calls while the items are freed.
    FUpdateCount = 1;
    Clear();
}

TCollectionItem* TCollection::Add()
{
    // The item joins this collection in its constructor.
    return FItemClass(this);
}

TCollectionItem* TCollection::Insert(int index)
{
    // Checked first, so a bad index adds nothing.
    if (index < 0 || index > Count())
        ListIndexError(index);
    TCollectionItem* item = Add();
    item->SetIndex(index);
    return item;
}

void TCollection::Delete(int index)
{
    TCollectionItem* item = Items(index);
    Notify(item, cnDeleting);
    delete item; // leaves the collection in its destructor
}

void TCollection::Clear()
{
    if (FItems.empty())
        return;
    detail::Updating(this, [&] {
        while (!FItems.empty())
            delete FItems.back();
    });
}

TCollectionItem* TCollection::Items(int index) const
{
    if (index < 0 || index >= Count())
        ListIndexError(index);
    return FItems[index];
}

TCollectionItem* TCollection::FindItemID(int id) const
{
    for (TCollectionItem* item : FItems)
        if (item->FID == id)
            return item;
    return nullptr;
}

void TCollection::BeginUpdate()
{
    ++FUpdateCount;
}

void TCollection::EndUpdate()
{
    if (FUpdateCount > 0)
        --FUpdateCount;
    Changed();
}

void TCollection::Assign(TPersistent* source)
{
    auto* other = dynamic_cast<TCollection*>(source);
    if (other == nullptr) {
        TPersistent::Assign(source);
        return;
    }
    if (other == this)
        return;
    detail::Updating(this, [&] {
        Clear();
        for (TCollectionItem* item : other->FItems)
            Add()->Assign(item);
    });
}

void TCollection::Changed()
{
    if (FUpdateCount == 0)
        Update(nullptr);
}

void TCollection::InsertItem(TCollectionItem* item)
{
    FItems.push_back(item);
    item->FCollection = this;
    item->FID = FNextID++;
    Notify(item, cnAdded);
    Changed();
}

void TCollection::RemoveItem(TCollectionItem* item)
{
    Notify(item, cnExtracting);
    // Searched from the end: Clear frees the last item first.
    const auto it = std::find(FItems.rbegin(), FItems.rend(), item);
    if (it != FItems.rend())
        FItems.erase(std::next(it).base());
    item->FCollection = nullptr;
    Changed();
}

} // namespace orvex
