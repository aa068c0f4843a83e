// TPersistent and TList.

#include "host/Classes.h"
#include "host/ClassesUtil.h"

#include <algorithm>
#include <utility>

namespace orvex {

namespace {

constexpr const char* SListCapacityError = "List capacity out of bounds (%d)";
constexpr const char* SListCountError = "List count out of bounds (%d)";

[[noreturn]] void ListError(const char* msg, int data)
{
    throw EListError(Format(msg, {data}));
}

} // namespace

void detail::ListIndexError(int index)
{
    ListError(detail::SListIndexError, index);
}

// --------------------------------------------------------------- TPersistent

void TPersistent::Assign(TPersistent* source)
{
    if (source != nullptr) {
        source->AssignTo(this);
        return;
    }
    throw EConvertError(Format("Cannot assign a %s to a %s", {"nil", ClassName()}));
}

void TPersistent::AssignTo(TPersistent* dest)
{
    throw EConvertError(Format("Cannot assign a %s to a %s", {ClassName(), dest->ClassName()}));
}

// --------------------------------------------------------------------- TList

TList::~TList()
{
    Clear();
}

int TList::Add(void* item)
{
    const int index = Count();
    FItems.push_back(item);
    if (item != nullptr)
        Notify(item, lnAdded);
    return index;
}

void TList::Insert(int index, void* item)
{
    if (index < 0 || index > Count())
        detail::ListIndexError(index);
    FItems.insert(FItems.begin() + index, item);
    if (item != nullptr)
        Notify(item, lnAdded);
}

void TList::Delete(int index)
{
    void* item = Get(index);
    FItems.erase(FItems.begin() + index);
    if (item != nullptr)
        Notify(item, lnDeleted);
}

int TList::Remove(void* item)
{
    const int index = IndexOf(item);
    if (index >= 0)
        Delete(index);
    return index;
}

void* TList::Extract(void* item)
{
    const int index = IndexOf(item);
    if (index < 0)
        return nullptr;
    FItems.erase(FItems.begin() + index);
    Notify(item, lnExtracted);
    return item;
}

void TList::Clear()
{
    SetCount(0);
    SetCapacity(0);
}

int TList::IndexOf(void* item) const
{
    const auto it = std::find(FItems.begin(), FItems.end(), item);
    return it == FItems.end() ? -1 : static_cast<int>(it - FItems.begin());
}

void TList::Exchange(int index1, int index2)
{
    if (index1 < 0 || index1 >= Count())
        detail::ListIndexError(index1);
    if (index2 < 0 || index2 >= Count())
        detail::ListIndexError(index2);
    std::swap(FItems[index1], FItems[index2]);
}

void TList::Move(int curIndex, int newIndex)
{
    if (curIndex == newIndex)
        return;
    if (newIndex < 0 || newIndex >= Count())
        detail::ListIndexError(newIndex);
    void* item = Get(curIndex);
    // A move is neither a removal nor an addition: no notification.
    FItems.erase(FItems.begin() + curIndex);
    FItems.insert(FItems.begin() + newIndex, item);
}

void TList::Pack()
{
    for (int i = Count() - 1; i >= 0; --i)
        if (FItems[i] == nullptr)
            FItems.erase(FItems.begin() + i);
}

void* TList::First() const
{
    return Get(0);
}

void* TList::Last() const
{
    return Get(Count() - 1);
}

void TList::Sort(TListSortCompare compare)
{
    if (Count() < 2 || compare == nullptr)
        return;
    auto cmp = [&](int i, int p) { return compare(FItems[i], FItems[p]); };
    auto exchange = [&](int i, int j) { std::swap(FItems[i], FItems[j]); };
    detail::QuickSortRange(0, Count() - 1, cmp, exchange);
}

void TList::SetCount(int count)
{
    if (count < 0)
        ListError(SListCountError, count);
    if (count > Count()) {
        FItems.resize(count, nullptr);
        return;
    }
    // Shrinking deletes from the end, so Notify hears of every item.
    for (int i = Count() - 1; i >= count; --i)
        Delete(i);
}

void TList::SetCapacity(int capacity)
{
    if (capacity < Count())
        ListError(SListCapacityError, capacity);
    if (capacity == 0) {
        std::vector<void*>().swap(FItems);
        return;
    }
    if (capacity > Capacity())
        FItems.reserve(capacity);
}

void* TList::Get(int index) const
{
    if (index < 0 || index >= Count())
        detail::ListIndexError(index);
    return FItems[index];
}

void TList::Put(int index, void* item)
{
    if (index < 0 || index >= Count())
        detail::ListIndexError(index);
    void* old = FItems[index];
    if (old == item)
        return;
    FItems[index] = item;
    if (old != nullptr)
        Notify(old, lnDeleted);
    if (item != nullptr)
        Notify(item, lnAdded);
}

} // namespace orvex
