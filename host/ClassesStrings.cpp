// TStrings and TStringList.

#include "host/Classes.h"
#include "host/ClassesUtil.h"

#include <utility>

namespace orvex {

namespace {

using detail::SListIndexError;
constexpr const char* SDuplicateString = "String list does not allow duplicates";
constexpr const char* SSortedListError = "Operation not allowed on sorted string list";

// Bytes that end an unquoted comma-text item besides the comma: blanks and
// control characters.
bool IsBlank(char c)
{
    return static_cast<unsigned char>(c) <= ' ';
}

bool NeedsQuotes(const std::string& s)
{
    if (s.empty())
        return true;
    for (char c : s)
        if (IsBlank(c) || c == '"' || c == ',')
            return true;
    return false;
}

// Reads a quoted item starting at the opening quote; doubled quotes stand for
// one. An item whose closing quote is missing runs to the end of the text.
std::string ExtractQuoted(const std::string& text, std::size_t& pos)
{
    std::string result;
    ++pos; // the opening quote
    while (pos < text.size()) {
        const char c = text[pos++];
        if (c != '"') {
            result += c;
        } else if (pos < text.size() && text[pos] == '"') {
            result += '"';
            ++pos;
        } else {
            break;
        }
    }
    return result;
}

} // namespace

// ------------------------------------------------------------------ TStrings

int TStrings::Add(const std::string& s)
{
    const int index = Count();
    Insert(index, s);
    return index;
}

int TStrings::AddObject(const std::string& s, TObject* obj)
{
    const int index = Add(s);
    PutObject(index, obj);
    return index;
}

void TStrings::AddStrings(TStrings* strings)
{
    detail::Updating(this, [&] {
        for (int i = 0; i < strings->Count(); ++i)
            AddObject(strings->Get(i), strings->GetObject(i));
    });
}

void TStrings::InsertObject(int index, const std::string& s, TObject* obj)
{
    Insert(index, s);
    PutObject(index, obj);
}

void TStrings::Exchange(int index1, int index2)
{
    detail::Updating(this, [&] {
        TObject* obj = GetObject(index1);
        std::string s = Get(index1);
        Put(index1, Get(index2));
        PutObject(index1, GetObject(index2));
        Put(index2, s);
        PutObject(index2, obj);
    });
}

void TStrings::Move(int curIndex, int newIndex)
{
    if (curIndex == newIndex)
        return;
    // Checked before the line is taken out, so a bad index loses nothing.
    if (newIndex < 0 || newIndex >= Count())
        Error(SListIndexError, newIndex);
    detail::Updating(this, [&] {
        std::string s = Get(curIndex);
        TObject* obj = GetObject(curIndex);
        // Detach the object first: a list that owns its objects must not free
        // one that is only moving.
        PutObject(curIndex, nullptr);
        Delete(curIndex);
        InsertObject(newIndex, s, obj);
    });
}

int TStrings::IndexOf(const std::string& s) const
{
    for (int i = 0; i < Count(); ++i)
        if (AnsiCompareText(Get(i), s) == 0)
            return i;
    return -1;
}

int TStrings::IndexOfName(const std::string& name) const
{
    for (int i = 0; i < Count(); ++i) {
        const std::string s = Get(i);
        const auto eq = s.find('=');
        if (eq != std::string::npos && AnsiCompareText(s.substr(0, eq), name) == 0)
            return i;
    }
    return -1;
}

int TStrings::IndexOfObject(TObject* obj) const
{
    for (int i = 0; i < Count(); ++i)
        if (GetObject(i) == obj)
            return i;
    return -1;
}

void TStrings::Put(int index, const std::string& s)
{
    TObject* obj = GetObject(index);
    detail::Updating(this, [&] {
        PutObject(index, nullptr);
        Delete(index);
        InsertObject(index, s, obj);
    });
}

TObject* TStrings::GetObject(int) const
{
    return nullptr;
}

void TStrings::PutObject(int, TObject*) {}

std::string TStrings::Names(int index) const
{
    const std::string s = Get(index);
    const auto eq = s.find('=');
    return eq == std::string::npos ? std::string() : s.substr(0, eq);
}

std::string TStrings::Values(const std::string& name) const
{
    const int index = IndexOfName(name);
    if (index < 0)
        return {};
    const std::string s = Get(index);
    return s.substr(s.find('=') + 1);
}

void TStrings::SetValue(const std::string& name, const std::string& value)
{
    int index = IndexOfName(name);
    if (!value.empty()) {
        if (index < 0)
            index = Add("");
        Put(index, name + '=' + value);
    } else if (index >= 0) {
        Delete(index);
    }
}

std::string TStrings::CommaText() const
{
    std::string result;
    for (int i = 0; i < Count(); ++i) {
        if (i > 0)
            result += ',';
        const std::string s = Get(i);
        result += NeedsQuotes(s) ? AnsiQuotedStr(s, '"') : s;
    }
    return result;
}

void TStrings::SetCommaText(const std::string& text)
{
    detail::Updating(this, [&] {
        Clear();
        std::size_t pos = 0;
        const std::size_t n = text.size();
        while (pos < n && IsBlank(text[pos]))
            ++pos;
        while (pos < n) {
            std::string item;
            if (text[pos] == '"') {
                item = ExtractQuoted(text, pos);
            } else {
                const std::size_t start = pos;
                while (pos < n && !IsBlank(text[pos]) && text[pos] != ',')
                    ++pos;
                item = text.substr(start, pos - start);
            }
            Add(item);
            while (pos < n && IsBlank(text[pos]))
                ++pos;
            // One comma (with the blanks after it) separates two items; a
            // second comma starts an empty item.
            if (pos < n && text[pos] == ',') {
                ++pos;
                while (pos < n && IsBlank(text[pos]))
                    ++pos;
            }
        }
    });
}

std::string TStrings::Text() const
{
    std::string result;
    for (int i = 0; i < Count(); ++i) {
        result += Get(i);
        result += "\r\n";
    }
    return result;
}

void TStrings::SetText(const std::string& text)
{
    detail::Updating(this, [&] {
        Clear();
        std::size_t pos = 0;
        const std::size_t n = text.size();
        while (pos < n) {
            const std::size_t start = pos;
            while (pos < n && text[pos] != '\r' && text[pos] != '\n')
                ++pos;
            Add(text.substr(start, pos - start));
            if (pos < n && text[pos] == '\r')
                ++pos;
            if (pos < n && text[pos] == '\n')
                ++pos;
        }
    });
}

void TStrings::BeginUpdate()
{
    if (FUpdateCount == 0)
        SetUpdateState(true);
    ++FUpdateCount;
}

void TStrings::EndUpdate()
{
    if (FUpdateCount == 0)
        return;
    --FUpdateCount;
    if (FUpdateCount == 0)
        SetUpdateState(false);
}

void TStrings::LoadFromFile(const std::string& fileName)
{
    TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(&stream);
}

void TStrings::SaveToFile(const std::string& fileName) const
{
    TFileStream stream(fileName, fmCreate);
    SaveToStream(&stream);
}

void TStrings::LoadFromStream(TStream* stream)
{
    const std::int64_t size = stream->Size() - stream->Position();
    std::string text(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
    stream->ReadBuffer(text.data(), static_cast<std::int32_t>(text.size()));
    SetText(text);
}

void TStrings::SaveToStream(TStream* stream) const
{
    const std::string text = Text();
    stream->WriteBuffer(text.data(), static_cast<std::int32_t>(text.size()));
}

void TStrings::Assign(TPersistent* source)
{
    auto* strings = dynamic_cast<TStrings*>(source);
    if (strings == nullptr) {
        TPersistent::Assign(source);
        return;
    }
    if (strings == this)
        return;
    detail::Updating(this, [&] {
        Clear();
        AddStrings(strings);
    });
}

bool TStrings::Equals(const TStrings* other) const
{
    if (other == nullptr || other->Count() != Count())
        return false;
    for (int i = 0; i < Count(); ++i)
        if (Get(i) != other->Get(i))
            return false;
    return true;
}

void TStrings::Error(const std::string& msg, int data) const
{
    throw EStringListError(Format(msg, {data}));
}

// --------------------------------------------------------------- TStringList

TStringList::~TStringList()
{
    // No change events from a list that is going away.
    OnChange = nullptr;
    OnChanging = nullptr;
    if (OwnsObjects)
        for (Item& item : FItems)
            delete item.Obj;
}

int TStringList::Add(const std::string& s)
{
    return AddObject(s, nullptr);
}

int TStringList::AddObject(const std::string& s, TObject* obj)
{
    int index = Count();
    if (FSorted && Find(s, index)) {
        if (FDuplicates == dupIgnore)
            return index;
        if (FDuplicates == dupError)
            Error(SDuplicateString, 0);
    }
    InsertItem(index, s, obj);
    return index;
}

void TStringList::Clear()
{
    if (FItems.empty())
        return;
    Changing();
    std::vector<Item> old;
    old.swap(FItems);
    if (OwnsObjects)
        for (Item& item : old)
            delete item.Obj;
    Changed();
}

void TStringList::Delete(int index)
{
    if (index < 0 || index >= Count())
        Error(SListIndexError, index);
    Changing();
    TObject* obj = FItems[index].Obj;
    FItems.erase(FItems.begin() + index);
    if (OwnsObjects)
        delete obj;
    Changed();
}

void TStringList::Insert(int index, const std::string& s)
{
    if (FSorted)
        Error(SSortedListError, 0);
    if (index < 0 || index > Count())
        Error(SListIndexError, index);
    InsertItem(index, s, nullptr);
}

void TStringList::InsertItem(int index, const std::string& s, TObject* obj)
{
    Changing();
    FItems.insert(FItems.begin() + index, Item{s, obj});
    Changed();
}

void TStringList::Exchange(int index1, int index2)
{
    if (index1 < 0 || index1 >= Count())
        Error(SListIndexError, index1);
    if (index2 < 0 || index2 >= Count())
        Error(SListIndexError, index2);
    Changing();
    std::swap(FItems[index1], FItems[index2]);
    Changed();
}

void TStringList::Move(int curIndex, int newIndex)
{
    if (FSorted && curIndex != newIndex)
        Error(SSortedListError, 0);
    TStrings::Move(curIndex, newIndex);
}

int TStringList::IndexOf(const std::string& s) const
{
    if (!FSorted)
        return TStrings::IndexOf(s);
    int index = 0;
    return Find(s, index) ? index : -1;
}

bool TStringList::Find(const std::string& s, int& index) const
{
    bool found = false;
    int low = 0;
    int high = Count() - 1;
    while (low <= high) {
        const int mid = low + (high - low) / 2;
        const int c = AnsiCompareText(FItems[mid].S, s);
        if (c < 0) {
            low = mid + 1;
        } else {
            high = mid - 1;
            if (c == 0) {
                found = true;
                // Without duplicates the match is the place; with them keep
                // looking left for the first of the equal run.
                if (FDuplicates != dupAccept)
                    low = mid;
            }
        }
    }
    index = low;
    return found;
}

void TStringList::Sort()
{
    CustomSort([](TStringList* list, int index1, int index2) {
        return AnsiCompareText(list->FItems[index1].S, list->FItems[index2].S);
    });
}

void TStringList::CustomSort(std::function<int(TStringList* list, int index1, int index2)> compare)
{
    if (FSorted || Count() < 2)
        return;
    Changing();
    auto cmp = [&](int i, int p) { return compare(this, i, p); };
    auto exchange = [&](int i, int j) { std::swap(FItems[i], FItems[j]); };
    detail::QuickSortRange(0, Count() - 1, cmp, exchange);
    Changed();
}

std::string TStringList::Get(int index) const
{
    if (index < 0 || index >= Count())
        Error(SListIndexError, index);
    return FItems[index].S;
}

void TStringList::Put(int index, const std::string& s)
{
    if (FSorted)
        Error(SSortedListError, 0);
    if (index < 0 || index >= Count())
        Error(SListIndexError, index);
    Changing();
    FItems[index].S = s;
    Changed();
}

TObject* TStringList::GetObject(int index) const
{
    if (index < 0 || index >= Count())
        Error(SListIndexError, index);
    return FItems[index].Obj;
}

void TStringList::PutObject(int index, TObject* obj)
{
    if (index < 0 || index >= Count())
        Error(SListIndexError, index);
    Changing();
    FItems[index].Obj = obj;
    Changed();
}

void TStringList::SetSorted(bool value)
{
    if (FSorted == value)
        return;
    if (value)
        Sort();
    FSorted = value;
}

void TStringList::Changed()
{
    if (UpdateCount() == 0 && OnChange)
        OnChange(this);
}

void TStringList::Changing()
{
    if (UpdateCount() == 0 && OnChanging)
        OnChanging(this);
}

void TStringList::SetUpdateState(bool updating)
{
    if (updating)
        Changing();
    else
        Changed();
}

} // namespace orvex
