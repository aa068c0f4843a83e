// The engine's pointer-list helpers: TCompoundList, TSortedList, TStackList.

#include "storage/vekCommon.h"

#include <cstdint>
#include <utility>

namespace orvex {

namespace {

// Pointers order as unsigned integers, so that values above 2^31 (and any
// address) sort and search consistently.
std::uintptr_t Ord(void* P)
{
    return reinterpret_cast<std::uintptr_t>(P);
}

// The leftmost index holding P in a list sorted ascending by Ord, -1 when
// none does.
int LeftmostIndexOf(const TList& List, void* P)
{
    const std::uintptr_t value = Ord(P);
    int low = 0;
    int high = List.Count() - 1;
    int hit = -1;
    while (low <= high) {
        int mid = low + (high - low) / 2;
        std::uintptr_t item = Ord(List.Get(mid));
        if (item < value) {
            low = mid + 1;
        } else if (item > value) {
            high = mid - 1;
        } else {
            hit = mid;
            high = mid - 1;
        }
    }
    return hit;
}

} // namespace

// -------------------------------------------------------------- TCompoundList

TCompoundList::TCompoundList()
    : FList1(new TList), FList2(new TList), FList1Sorted(false), FList2Sorted(false)
{
}

TCompoundList::~TCompoundList()
{
    delete FList1;
    delete FList2;
}

void TCompoundList::Add(void* Item1, void* Item2)
{
    FList1->Add(Item1);
    FList2->Add(Item2);
}

int TCompoundList::Count() const
{
    if (FList1->Count() != FList2->Count())
        throw Exception("Compound list - list counts do no match");
    return FList1->Count();
}

void* TCompoundList::Items(int Index) const
{
    return FList1->Get(Index);
}

void TCompoundList::SetItems(int Index, void* Item)
{
    FList1->Put(Index, Item);
}

void TCompoundList::Clear()
{
    FList1->Clear();
    FList2->Clear();
    FList1Sorted = false;
    FList2Sorted = false;
}

void TCompoundList::SortBy(TList* Key, TList* Partner)
{
    if (Key->Count() != Partner->Count())
        throw Exception("Compound list - list counts do no match");
    void** keys = Key->List();
    void** partners = Partner->List();
    // Quicksort with the middle element of each range as the pivot, swapping
    // the pairs together. The smaller part is sorted by recursion and the
    // larger one by the loop, which keeps the stack shallow; the parts are
    // disjoint, so the order in which they are sorted does not change the result.
    auto sort = [&](auto& self, int L, int R) -> void {
        while (L < R) {
            int I = L;
            int J = R;
            const std::uintptr_t pivot = Ord(keys[L + (R - L) / 2]);
            do {
                while (Ord(keys[I]) < pivot)
                    ++I;
                while (Ord(keys[J]) > pivot)
                    --J;
                if (I <= J) {
                    std::swap(keys[I], keys[J]);
                    std::swap(partners[I], partners[J]);
                    ++I;
                    --J;
                }
            } while (I <= J);
            if (J - L < R - I) {
                self(self, L, J);
                L = I;
            } else {
                self(self, I, R);
                R = J;
            }
        }
    };
    sort(sort, 0, Key->Count() - 1);
}

void TCompoundList::SortList1()
{
    SortBy(FList1, FList2);
    FList1Sorted = true;
    FList2Sorted = false;
}

void TCompoundList::SortList2()
{
    SortBy(FList2, FList1);
    FList2Sorted = true;
    FList1Sorted = false;
}

int TCompoundList::IndexOfList1(void* P) const
{
    return FList1Sorted ? LeftmostIndexOf(*FList1, P) : FList1->IndexOf(P);
}

int TCompoundList::IndexOfList2(void* P) const
{
    return FList2Sorted ? LeftmostIndexOf(*FList2, P) : FList2->IndexOf(P);
}

// ---------------------------------------------------------------- TSortedList

void TSortedList::SortList(TListSortCompare Compare)
{
    // Short lists are searched linearly; sorting them does not pay.
    if (Count() > 100) {
        Sort(Compare);
        FSorted = true;
    } else {
        FSorted = false;
    }
}

int TSortedList::SortedIndexOf(void* P) const
{
    return FSorted ? SearchSortedList(P) : IndexOf(P);
}

int TSortedList::SearchSortedList(void* P) const
{
    return LeftmostIndexOf(*this, P);
}

// ----------------------------------------------------------------- TStackList

void TStackList::Push(void* P)
{
    Add(P);
}

void* TStackList::Pop()
{
    void* item = Get(Count() - 1);
    Delete(Count() - 1);
    return item;
}

void* TStackList::Peek() const
{
    return Count() > 0 ? Get(Count() - 1) : nullptr;
}

} // namespace orvex
