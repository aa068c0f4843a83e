#pragma once
// Helpers shared by the class library's units.
//
// The quicksort behind TList::Sort and TStringList::CustomSort: the classic
// middle-pivot partition exchange the class library has always used, so items
// that compare equal end up where callers of the framework expect them. The
// scans are bounded, so a compare function that is not a consistent order
// yields some order instead of running off the list.

namespace orvex::detail {

// The class library's index error text, shared by lists, string lists,
// collections and components.
inline constexpr const char* SListIndexError = "List index out of bounds (%d)";

// Raises EListError "List index out of bounds (index)".
[[noreturn]] void ListIndexError(int index);

// compare(i, p) compares the items at indices i and p; exchange(i, j) swaps
// two items. Sorts the items from left to right inclusive.
template <class Compare, class Exchange>
void QuickSortRange(int left, int right, Compare& compare, Exchange& exchange)
{
    while (left < right) {
        int i = left;
        int j = right;
        int pivot = left + (right - left) / 2;
        do {
            while (i < right && compare(i, pivot) < 0)
                ++i;
            while (j > left && compare(j, pivot) > 0)
                --j;
            if (i <= j) {
                if (i != j) {
                    exchange(i, j);
                    // The pivot is an item, not a slot: follow it.
                    if (pivot == i)
                        pivot = j;
                    else if (pivot == j)
                        pivot = i;
                }
                ++i;
                --j;
            }
        } while (i <= j);
        // Recurse into the smaller part, loop on the larger: the parts are
        // sorted independently, so the order of work does not change the result.
        if (j - left < right - i) {
            if (left < j)
                QuickSortRange(left, j, compare, exchange);
            left = i;
        } else {
            if (i < right)
                QuickSortRange(i, right, compare, exchange);
            right = j;
        }
    }
}

// Runs a change of several steps inside the list's BeginUpdate/EndUpdate, so
// it reports one change; EndUpdate runs even when a step fails.
template <class List, class F>
void Updating(List* list, F&& change)
{
    list->BeginUpdate();
    try {
        change();
    } catch (...) {
        list->EndUpdate();
        throw;
    }
    list->EndUpdate();
}

} // namespace orvex::detail
