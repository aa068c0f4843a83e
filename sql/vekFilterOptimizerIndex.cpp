// The optimiser's index side: the searches of one index (TIndexDataInterface)
// and the registry of the indexes it may use (TIndexQueryMgr).

#include "sql/vekFilterOptimizer.h"

#include "host/SysUtils.h"
#include "storage/vekByteOrder.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace orvex {

namespace {

bool IsNumericKey(TFieldType Type)
{
    switch (Type) {
    case ftSmallint:
    case ftWord:
    case ftInteger:
    case ftAutoInc:
    case ftFloat:
    case ftDate:
    case ftTime:
    case ftDateTime:
        return true;
    default:
        return false;
    }
}

// A value that compares as a plain number (dates as their day count).
bool NumericValue(const Variant& V, double& Value)
{
    switch (V.VType()) {
    case varSmallint:
    case varInteger:
    case varByte:
    case varDouble:
    case varDate:
        Value = V.AsDouble();
        return true;
    default:
        return false;
    }
}

bool IsTemporalKey(TFieldType Type)
{
    return Type == ftDate || Type == ftTime || Type == ftDateTime;
}

double DecodeNumber(TFieldType Type, const Byte* Data)
{
    switch (Type) {
    case ftSmallint:
        return static_cast<SmallInt>(ReadLE16(Data));
    case ftWord:
        return ReadLE16(Data);
    case ftInteger:
    case ftAutoInc:
        return static_cast<Integer>(ReadLE32(Data));
    default:
        return ReadLEDouble(Data);
    }
}

// The positions common to two sorted lists of disjoint runs.
TIndexPositionRanges IntersectRanges(const TIndexPositionRanges& A, const TIndexPositionRanges& B)
{
    TIndexPositionRanges Result;
    std::size_t I = 0, J = 0;
    while (I < A.size() && J < B.size()) {
        const Integer First = std::max(A[I].First, B[J].First);
        const Integer Last = std::min(A[I].Last, B[J].Last);
        if (First <= Last)
            Result.push_back({First, Last});
        if (A[I].Last < B[J].Last)
            ++I;
        else
            ++J;
    }
    return Result;
}

} // namespace

// The searched constant as the five key classes need it.
struct TIndexDataInterface::TProbe {
    TFieldType Type = ftUnknown;
    bool NullConstant = false;
    bool Prefix = false;          // compare the key's leading characters only
    bool WholeByPrefixRule = false; // compare the whole key by the prefix search's rule
    bool CaseInsensitive = false; // the comparison's case rule
    bool Descending = false;
    std::string Text;             // a string constant, or the prefix
    double Number = 0;
    TDBStringCompare Compare = nullptr;
};

TIndexDataInterface::TIndexDataInterface(const std::string& IndexName, TBTree* BTree)
    : FIndexName(IndexName), FBTree(BTree)
{
}

const TKeyFieldItem* TIndexDataInterface::FirstKeyField() const
{
    if (!FBTree || FBTree->KeyFields()->Count() == 0)
        return nullptr;
    return FBTree->KeyFields()->GetItems(0);
}

bool TIndexDataInterface::CanCompareWith(const Variant& Value, bool CaseInsensitive) const
{
    const TKeyFieldItem* Field = FirstKeyField();
    if (!Field)
        return false;
    const TFieldType Type = Field->DataType();
    if (Type == ftString) {
        if (!FBTree->DBStringCompare())
            return false;
        if (CaseInsensitive && FBTree->DBStringCompare() != &DBANSICompareStrings)
            return false;
        return VarIsMissing(Value) || Value.VType() == varString;
    }
    if (!IsNumericKey(Type))
        return false;
    if (VarIsMissing(Value))
        return true;
    double Number = 0;
    return NumericValue(Value, Number) && !std::isnan(Number);
}

bool TIndexDataInterface::CanSearchPrefix(bool CaseInsensitive) const
{
    const TKeyFieldItem* Field = FirstKeyField();
    if (!Field || Field->DataType() != ftString)
        return false;
    const TDBStringCompare Compare = FBTree->DBStringCompare();
    return Compare == &DBANSICompareStrings || (Compare == &DBASCIICompareStrings && !CaseInsensitive);
}

TIndexSearchType TIndexDataInterface::MapRelOpToSearchType(TVekExprOperator Operator, bool Descending)
{
    switch (Operator) {
    case veoEQ:
    case veoIN:
        return stLE;
    case veoISBLANK:
    case veoNE:
    case veoLE:
    case veoLIKE:
        return Descending ? stGE : stLE;
    case veoNOTBLANK:
    case veoGT:
        return Descending ? stLT : stGT;
    case veoLT:
        return Descending ? stGT : stLT;
    case veoGE:
        return Descending ? stLE : stGE;
    default:
        VekDatabaseError(8581, "TIndexDataInterface.MapRelOpToSearchType", "Unexpected seek type in Internal Find",
                         nullptr);
    }
}

std::string TIndexDataInterface::ConvertStringForPartialMatch(TVekExprOperator Operator, const std::string& Text,
                                                              char Escape)
{
    if (Operator != veoLIKE)
        return Text;
    std::string Prefix;
    for (std::size_t I = 0; I < Text.size(); ++I) {
        const char C = Text[I];
        if (Escape != '\0' && C == Escape) {
            // An escaped character stands for itself; a trailing escape
            // ends the fixed part.
            if (I + 1 >= Text.size())
                break;
            Prefix += Text[++I];
            continue;
        }
        if (C == '%' || C == '_')
            break;
        Prefix += C;
    }
    return Prefix;
}

TIndexDataInterface::TKeyClass TIndexDataInterface::ClassAt(const TProbe& Probe, Integer RecNo)
{
    FCursorKnown = false; // the cursor moves
    FBTree->GetAddrOfRecNo(RecNo);
    const Byte* Data = nullptr;
    Integer Size = 0;
    if (!FBTree->GetCurrentKeyField(0, Data, Size))
        return Probe.NullConstant ? kcEqual : kcNull; // NULL = NULL without ExcludeRelopNulls
    if (Probe.NullConstant)
        return kcGreater; // a value against NULL: NULL ranks below every value
    int C = 0;
    if (Probe.Type == ftString) {
        std::string A(reinterpret_cast<const char*>(Data), static_cast<std::size_t>(std::max<Integer>(Size, 0)));
        const std::size_t Len = Probe.Text.size();
        if (Probe.Prefix || Probe.WholeByPrefixRule) {
            // The collation's primary weights (ANSI), or the bytes (ASCII):
            // an order every key order of that collation keeps.
            const std::size_t Count = Probe.Prefix ? Len : std::max(A.size(), Len) + 1;
            C = Probe.Compare == &DBANSICompareStrings ? AnsiStrLIComp(A.c_str(), Probe.Text.c_str(), Count)
                                                       : StrLComp(A.c_str(), Probe.Text.c_str(), Count);
        } else {
            // As the evaluator compares a string field with a constant.
            if (Probe.CaseInsensitive)
                A = AnsiUpperCase(A);
            C = Probe.Compare(A.c_str(), Probe.Text.c_str(), static_cast<Integer>(A.size()),
                              static_cast<Integer>(Len), Probe.CaseInsensitive, false);
        }
    } else {
        const double X = DecodeNumber(Probe.Type, Data);
        if (std::isnan(X))
            return kcNaN;
        C = X < Probe.Number ? -1 : (X > Probe.Number ? 1 : 0);
    }
    return C < 0 ? kcLess : (C == 0 ? kcEqual : kcGreater);
}

void TIndexDataInterface::CreateKeyBuffer(TFieldComparisonValue ComparisonValue, const Variant& Values)
{
    const int Fields = FBTree->KeyFields()->Count();
    const int Given = VarIsArray(Values) ? Values.ArrayHighBound() - Values.ArrayLowBound() + 1 : 1;
    const Byte Beyond = ComparisonValue == fcForceBOF   ? kcfBeforeAll
                        : ComparisonValue == fcForceEOF ? kcfAfterAll
                                                        : kcfNormal;
    TKeyComparisonFlags Flags(static_cast<std::size_t>(std::max(Fields, 0)), Beyond);
    for (int I = 0; I < Given && I < Fields; ++I)
        Flags[static_cast<std::size_t>(I)] = kcfNormal;
    FBTree->ConstructKeyBufFromVariants(Values, Flags);
}

bool TIndexDataInterface::CursorCovers(bool OrEqual) const
{
    if (!FCursorKnown || FCursorKey.size() != static_cast<std::size_t>(FBTree->MaximumKeySize()))
        return false;
    // The keys before the cursor sort before the last search key (or, after
    // a stGT search, at or before it): before the new one too when the new
    // one sorts after it, or equal to it and searched no more narrowly.
    const Integer C = FBTree->CompareKeys(0, FCursorFlags, FBTree->KeyFlags(), FCursorKey.data(), FBTree->KeyBuf());
    return C < 0 || (C == 0 && (!FCursorOrEqual || OrEqual));
}

Integer TIndexDataInterface::KeyPosition(const Variant& Value, bool After, Integer Count)
{
    // A search key of Value in the first key field that sorts before (or
    // after) every key holding that value, whatever their other fields.
    const int Fields = FBTree->KeyFields()->Count();
    const bool OrEqual = Fields == 1 && After;
    CreateKeyBuffer(After ? fcForceEOF : fcForceBOF, Value);
    double Number = 0;
    const bool NaN = NumericValue(Value, Number) && std::isnan(Number);
    if (!NaN && CursorCovers(OrEqual)) {
        // Nothing sorts at or after the last search key: nothing after it.
        if (FCursorPosition >= Count)
            return Count;
        // The keys before the new one usually end in the leaf where the
        // last search stopped: counted there, the search is saved.
        const Integer Within = FBTree->CountLeafKeysBelowSearchKey(OrEqual);
        if (Within >= 0)
            return FCursorPosition + Within;
    }
    FCursorKnown = false;
    const Integer Position = FBTree->IndexSearch(OrEqual ? stGT : stGE) != 0 ? Count : FBTree->GetRecordNo() - 1;
    if (!NaN) {
        const Byte* Key = FBTree->KeyBuf();
        FCursorKey.assign(Key, Key + FBTree->MaximumKeySize());
        FCursorFlags = FBTree->KeyFlags();
        FCursorOrEqual = OrEqual;
        FCursorPosition = Position;
        FCursorKnown = true;
    }
    if (!After && FNoteLeafRuns && Position < Count)
        NoteLeafRun(Position + 1);
    return Position;
}

void TIndexDataInterface::StartLeafRuns()
{
    EndLeafRuns();
    FNoteLeafRuns = true;
}

void TIndexDataInterface::EndLeafRuns()
{
    FNoteLeafRuns = false;
    FCursorKnown = false;
    FLeafRunsSorted = true;
    FLeafRuns.clear();
    FLeafRunAddresses.clear();
}

void TIndexDataInterface::NoteLeafRun(Integer RecNo)
{
    TLeafRun Run;
    Run.First = RecNo;
    Run.Offset = FLeafRunAddresses.size();
    FBTree->ListLeafAddresses(FLeafRunAddresses);
    Run.Count = FLeafRunAddresses.size() - Run.Offset;
    if (Run.Count == 0)
        return;
    if (!FLeafRuns.empty() && FLeafRuns.back().First > Run.First)
        FLeafRunsSorted = false;
    FLeafRuns.push_back(Run);
}

const TIndexDataInterface::TLeafRun* TIndexDataInterface::FindLeafRun(Integer RecNo)
{
    if (FLeafRuns.empty())
        return nullptr;
    if (!FLeafRunsSorted) {
        std::stable_sort(FLeafRuns.begin(), FLeafRuns.end(),
                         [](const TLeafRun& A, const TLeafRun& B) { return A.First < B.First; });
        FLeafRunsSorted = true;
    }
    // The last run starting at or before RecNo; runs of one leaf end at its
    // end, so an earlier one that reaches RecNo ends with it too.
    auto It = std::upper_bound(FLeafRuns.begin(), FLeafRuns.end(), RecNo,
                               [](Integer Value, const TLeafRun& Run) { return Value < Run.First; });
    if (It == FLeafRuns.begin())
        return nullptr;
    --It;
    return RecNo - It->First < static_cast<Integer>(It->Count) ? &*It : nullptr;
}

bool TIndexDataInterface::FastCountBelow(const TProbe& Probe, int Class, Integer Count, Integer& Result)
{
    if (Probe.Prefix || Probe.WholeByPrefixRule)
        return false;
    const bool Real = Probe.Type == ftFloat || IsTemporalKey(Probe.Type);
    auto NullCount = [&] {
        return Probe.Descending ? Count - KeyPosition(Null(), false, Count) : KeyPosition(Null(), true, Count);
    };
    auto NaNCount = [&]() -> Integer {
        if (!Real)
            return 0;
        const Variant NaN(std::numeric_limits<double>::quiet_NaN());
        return Probe.Descending ? KeyPosition(NaN, true, Count) : Count - KeyPosition(NaN, false, Count);
    };
    if (Class == kcLess) {
        Result = Probe.NullConstant ? 0 : NullCount();
        return true;
    }
    if (Class == kcNaN) {
        Result = Probe.NullConstant ? Count : Count - NaNCount();
        return true;
    }
    if (Probe.NullConstant) {
        Result = Class == kcEqual ? 0 : NullCount();
        return true;
    }
    Variant Value;
    bool After = Class == kcGreater;
    if (Probe.Type == ftString) {
        if (static_cast<Integer>(Probe.Text.size()) > FirstKeyField()->FieldSize())
            return false;
        Value = Variant(Probe.Text);
    } else if (Real) {
        Value = Variant(Probe.Number);
    } else {
        // An integer key holds no fraction and nothing beyond its type's
        // range: the boundary moves to the next whole number, or to an end.
        double Low = -2147483648.0, High = 2147483647.0;
        if (Probe.Type == ftSmallint) {
            Low = -32768;
            High = 32767;
        } else if (Probe.Type == ftWord) {
            Low = 0;
            High = 65535;
        }
        double Number = Probe.Number;
        if (Number > High) {
            Result = Count - NaNCount();
            return true;
        }
        if (Number < Low) {
            Result = NullCount();
            return true;
        }
        if (Number != std::floor(Number)) {
            Number = std::ceil(Number);
            After = false;
        }
        Value = Variant(static_cast<int>(Number));
    }
    Result = Probe.Descending ? Count - KeyPosition(Value, !After, Count) : KeyPosition(Value, After, Count);
    return true;
}

Integer TIndexDataInterface::CountBelow(const TProbe& Probe, int Class, Integer Count)
{
    if (Class <= 0)
        return 0;
    if (Class >= KeyClassCount)
        return Count;
    Integer Fast = 0;
    if (FastCountBelow(Probe, Class, Count, Fast))
        return Fast;
    // The classes rise along an ascending key and fall along a descending
    // one: find the first position where that changes.
    Integer Lo = 1, Hi = Count + 1;
    while (Lo < Hi) {
        const Integer Mid = Lo + (Hi - Lo) / 2;
        const bool Below = ClassAt(Probe, Mid) < Class;
        if (Probe.Descending ? Below : !Below)
            Hi = Mid;
        else
            Lo = Mid + 1;
    }
    return Probe.Descending ? Count - Lo + 1 : Lo - 1;
}

TIndexPositionRanges TIndexDataInterface::RangesOfClasses(const TProbe& Probe, TClassSet Classes)
{
    TIndexPositionRanges Result;
    if (Classes == 0)
        return Result;
    // Between the searches of one condition the tree does not change, and
    // the cursor of the last search may serve the next; outside them the
    // cursor is taken afresh.
    if (!FNoteLeafRuns)
        FCursorKnown = false;
    const Integer Count = FBTree->GetRecordCount(true);
    if (Count <= 0)
        return Result;
    Integer Below[KeyClassCount + 1];
    std::fill(std::begin(Below), std::end(Below), -1);
    auto BelowOf = [&](int Class) {
        if (Below[Class] < 0)
            Below[Class] = CountBelow(Probe, Class, Count);
        return Below[Class];
    };
    for (int Class = 0; Class < KeyClassCount;) {
        if ((Classes & (1u << Class)) == 0) {
            ++Class;
            continue;
        }
        int End = Class;
        while (End + 1 < KeyClassCount && (Classes & (1u << (End + 1))) != 0)
            ++End;
        const Integer From = BelowOf(Class);
        const Integer To = BelowOf(End + 1);
        if (From < To) {
            if (Probe.Descending)
                Result.push_back({Count - To + 1, Count - From});
            else
                Result.push_back({From + 1, To});
        }
        Class = End + 1;
    }
    std::sort(Result.begin(), Result.end(),
              [](const TIndexPositionRange& A, const TIndexPositionRange& B) { return A.First < B.First; });
    return Result;
}

TIndexDataInterface::TClassSet TIndexDataInterface::ClassesFor(TVekExprOperator Operator, bool NullConstant) const
{
    constexpr TClassSet All = (1u << KeyClassCount) - 1;
    constexpr TClassSet Null = 1u << kcNull;
    constexpr TClassSet Less = 1u << kcLess;
    constexpr TClassSet Equal = 1u << kcEqual;
    constexpr TClassSet Greater = 1u << kcGreater;
    switch (Operator) {
    case veoISBLANK:
        return Null;
    case veoNOTBLANK:
        return All & ~Null;
    default:
        break;
    }
    // With ExcludeRelopNulls a comparison with NULL is unknown.
    if (FExcludeRelopNulls && NullConstant)
        return 0;
    TClassSet Passing = 0;
    switch (Operator) {
    case veoEQ:
    case veoIN:
    case veoLIKE:
        Passing = Equal;
        break;
    case veoNE:
        Passing = All & ~Equal;
        break;
    case veoLT:
        Passing = Null | Less;
        break;
    case veoLE:
        Passing = Null | Less | Equal;
        break;
    case veoGT:
        Passing = Greater;
        break;
    case veoGE:
        Passing = Equal | Greater;
        break;
    default:
        MapRelOpToSearchType(Operator, false); // raises
    }
    if (FExcludeRelopNulls || Operator == veoLIKE)
        Passing &= static_cast<TClassSet>(~Null);
    return Passing;
}

TIndexPositionRanges TIndexDataInterface::GetRecordRanges(TVekExprOperator Operator, const Variant& Value,
                                                          bool PartialMatch, bool CaseInsensitive, char Escape)
{
    const TKeyFieldItem* Field = FirstKeyField();
    if (!Field)
        return {};
    TProbe Probe;
    Probe.Type = Field->DataType();
    Probe.Descending = Field->Descending();
    Probe.CaseInsensitive = CaseInsensitive;
    Probe.Compare = FBTree->DBStringCompare();
    const bool NullTest = Operator == veoISBLANK || Operator == veoNOTBLANK;
    if (!NullTest) {
        if (VarIsMissing(Value)) {
            if (Operator == veoLIKE)
                return {}; // a NULL pattern matches nothing
            Probe.NullConstant = true;
        } else if (Probe.Type == ftString) {
            Probe.Text = Value.AsString();
            if (PartialMatch || Operator == veoLIKE) {
                Probe.Prefix = true;
                Probe.Text = ConvertStringForPartialMatch(Operator, Probe.Text, Escape);
                if (CaseInsensitive)
                    Probe.Text = AnsiUpperCase(Probe.Text);
            } else if (CaseInsensitive) {
                Probe.Text = AnsiUpperCase(Probe.Text);
            }
        } else if (!NumericValue(Value, Probe.Number)) {
            VekDatabaseError(8581, "TIndexDataInterface.GetRecordList", "Value does not compare with the key",
                             nullptr);
        }
    }
    if (PartialMatch && Operator == veoEQ && Probe.Prefix && !Probe.NullConstant) {
        // A partial comparison also passes the keys that are a beginning of
        // the constant ("A" and "" for "AB*"): the prefix run and one run per
        // shorter beginning.
        TIndexPositionRanges Ranges = RangesOfClasses(Probe, 1u << kcEqual);
        const std::string Whole = Probe.Text;
        Probe.Prefix = false;
        Probe.WholeByPrefixRule = true;
        for (std::size_t Length = 0; Length < Whole.size(); ++Length) {
            Probe.Text = Whole.substr(0, Length);
            Ranges = UniteIndexRanges(Ranges, RangesOfClasses(Probe, 1u << kcEqual));
        }
        return Ranges;
    }
    TClassSet Classes = ClassesFor(Operator, Probe.NullConstant);
    if (Operator == veoNE)
        Classes = static_cast<TClassSet>(~Classes & ((1u << KeyClassCount) - 1)); // the records that fail
    return RangesOfClasses(Probe, Classes);
}

void TIndexDataInterface::ListRanges(const TIndexPositionRanges& Ranges, TRecordEntries& Entries)
{
    FCursorKnown = false; // the cursor moves
    std::vector<Cardinal> Addresses;
    for (const TIndexPositionRange& Range : Ranges) {
        if (Range.Empty())
            continue;
        // What the searches saw in their leaves first, then the tree.
        Integer RecNo = Range.First;
        while (RecNo <= Range.Last) {
            const TLeafRun* Run = FindLeafRun(RecNo);
            if (!Run)
                break;
            const std::size_t Skip = static_cast<std::size_t>(RecNo - Run->First);
            const std::size_t Take =
                std::min<std::size_t>(Run->Count - Skip, static_cast<std::size_t>(Range.Last - RecNo) + 1);
            const Cardinal* From = FLeafRunAddresses.data() + Run->Offset + Skip;
            for (std::size_t I = 0; I < Take; ++I)
                Entries.push_back({From[I], static_cast<std::uintptr_t>(RecNo++)});
        }
        if (RecNo > Range.Last)
            continue;
        Addresses.clear();
        FBTree->GetAddrOfRecNo(RecNo);
        FBTree->ListAddresses(Range.Last - RecNo + 1, Addresses);
        for (const Cardinal Address : Addresses)
            Entries.push_back({Address, static_cast<std::uintptr_t>(RecNo++)});
    }
}

void TIndexDataInterface::ListRanges(const TIndexPositionRanges& Ranges, TCompoundList* List)
{
    TRecordEntries Entries;
    ListRanges(Ranges, Entries);
    for (const TRecordEntry& Entry : Entries)
        List->Add(reinterpret_cast<void*>(Entry.Address), reinterpret_cast<void*>(Entry.Companion));
}

void TIndexDataInterface::GetRecordList(TVekExprOperator Operator, const Variant& Value, bool PartialMatch,
                                        bool CaseInsensitive, TCompoundList* List, char Escape)
{
    EndLeafRuns();
    ListRanges(GetRecordRanges(Operator, Value, PartialMatch, CaseInsensitive, Escape), List);
}

void TIndexDataInterface::GetBetweenRecordList(TVekExprOperator Operator, const Variant& Low, TCompoundList* List,
                                               const Variant& High, bool CaseInsensitive)
{
    EndLeafRuns();
    const TIndexPositionRanges From = GetRecordRanges(Operator, Low, false, CaseInsensitive);
    const TIndexPositionRanges To = GetRecordRanges(veoLE, High, false, CaseInsensitive);
    ListRanges(IntersectRanges(From, To), List);
}

TIndexPositionRanges IntersectIndexRanges(const TIndexPositionRanges& A, const TIndexPositionRanges& B)
{
    return IntersectRanges(A, B);
}

TIndexPositionRanges UniteIndexRanges(const TIndexPositionRanges& A, const TIndexPositionRanges& B)
{
    TIndexPositionRanges All(A);
    All.insert(All.end(), B.begin(), B.end());
    std::sort(All.begin(), All.end(),
              [](const TIndexPositionRange& X, const TIndexPositionRange& Y) { return X.First < Y.First; });
    TIndexPositionRanges Result;
    for (const TIndexPositionRange& R : All) {
        if (R.Empty())
            continue;
        if (!Result.empty() && R.First <= Result.back().Last + 1)
            Result.back().Last = std::max(Result.back().Last, R.Last);
        else
            Result.push_back(R);
    }
    return Result;
}

// ============================================================ the registry

TIndexQueryItem::TIndexQueryItem(TCollection* Collection) : TCollectionItem(Collection) {}

TIndexQueryItem::~TIndexQueryItem() = default;

void TIndexQueryItem::CreateIndexInterface(TBTree* BTree)
{
    FIndexInterface.reset();
    FIndexInterface = std::make_unique<TIndexDataInterface>(FIndexName, BTree);
    FIndexInterface->SetItemIndex(Index());
}

TIndexQueryMgr::TIndexQueryMgr() : TCollection(ItemClassOf<TIndexQueryItem>()) {}

TIndexQueryItem* TIndexQueryMgr::Add(const std::string& IndexName, TKeyFields* KeyFields, TBTree* BTree)
{
    TIndexQueryItem* Item = Add();
    Item->SetIndexName(IndexName);
    Item->SetKeyFields(KeyFields);
    Item->CreateIndexInterface(BTree);
    return Item;
}

void TIndexQueryMgr::SetItems(int Index, TIndexQueryItem* Value)
{
    TIndexQueryItem* Item = GetItems(Index);
    Item->SetIndexName(Value->IndexName());
    Item->SetKeyFields(Value->KeyFields());
    Item->CreateIndexInterface(Value->IndexInterface() ? Value->IndexInterface()->BTree() : nullptr);
}

TIndexQueryItem* TIndexQueryMgr::FindIndexForFields(const std::string& FieldNames, bool CaseInsensitive) const
{
    std::vector<std::string> Names;
    std::string Name;
    for (const char C : FieldNames + ",") {
        if (C != ',') {
            Name += C;
            continue;
        }
        Names.push_back(Trim(Name));
        Name.clear();
    }
    for (int I = 0; I < Count(); ++I) {
        TIndexQueryItem* Item = GetItems(I);
        const TKeyFields* Keys = Item->KeyFields();
        if (!Keys || Keys->Count() < static_cast<int>(Names.size()))
            continue;
        bool Fits = true;
        for (std::size_t K = 0; K < Names.size() && Fits; ++K) {
            const TKeyFieldItem* Key = Keys->GetItems(static_cast<int>(K));
            const bool IsString = Key->DataType() == ftString || Key->DataType() == ftWideString;
            Fits = AnsiSameText(Key->FieldName(), Names[K]) && (!IsString || Key->CaseInsensitive() == CaseInsensitive);
        }
        if (Fits)
            return Item;
    }
    return nullptr;
}

} // namespace orvex
