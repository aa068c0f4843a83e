// TVekDataSet: moving through the current index, the read-ahead window,
// ranges, finding and locating, record numbers, counts and bookmarks.

#include "dataset/vekDataSet.h"

#include "storage/vekByteOrder.h"

#include <algorithm>
#include <cstring>

namespace orvex {

namespace {

constexpr Integer ErrInternal = 8581;
constexpr Integer ErrRecordChanged = 8708;
constexpr Integer ErrInvalidType = 10000;
constexpr Integer ErrNoField = 10116;

bool IsStringType(TFieldType Type)
{
    return Type == ftString || Type == ftWideString;
}

// The order of two non-null values of one field: negative, 0 or positive.
int CompareValues(const TInternalFieldItem* Item, const Byte* A, const Byte* B, TDBStringCompare StringCompare,
                  bool CaseInsensitive, bool Partial, TVekDataSet* Sender)
{
    const Byte* da = A + Item->DataOffset();
    const Byte* db = B + Item->DataOffset();
    auto sign = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
    switch (Item->DataType()) {
    case ftString: {
        const Integer la = std::min<Integer>(ReadLE16(A + Item->SizeMarkerOffset()), Item->FieldSize());
        const Integer lb = std::min<Integer>(ReadLE16(B + Item->SizeMarkerOffset()), Item->FieldSize());
        // The compare routine reads zero-terminated keys up to their lengths.
        std::string sa(reinterpret_cast<const char*>(da), static_cast<std::size_t>(la));
        std::string sb(reinterpret_cast<const char*>(db), static_cast<std::size_t>(lb));
        const int r = StringCompare(sa.c_str(), sb.c_str(), la, lb, CaseInsensitive, Partial);
        return r < 0 ? -1 : (r > 0 ? 1 : 0);
    }
    case ftSmallint:
        return sign(static_cast<std::int16_t>(ReadLE16(da)), static_cast<std::int16_t>(ReadLE16(db)));
    case ftWord:
        return sign(ReadLE16(da), ReadLE16(db));
    case ftInteger:
    case ftAutoInc:
        return sign(static_cast<std::int32_t>(ReadLE32(da)), static_cast<std::int32_t>(ReadLE32(db)));
    case ftBoolean:
        return sign(da[0], db[0]);
    case ftFloat:
    case ftCurrency:
    case ftDate:
    case ftTime:
    case ftDateTime: {
        double x, y;
        std::memcpy(&x, da, 8);
        std::memcpy(&y, db, 8);
        return sign(x, y);
    }
    case ftBytes:
    case ftBlob:
    case ftMemo:
    case ftGraphic:
    case ftFmtMemo:
        return 0;
    default:
        VekDatabaseError(ErrInvalidType, "TVekDataSet.InternalCompareRecords", FieldTypeName(Item->DataType()),
                         Sender);
    }
}

} // namespace

// ============================================================ key building

TKeyComparisonFlags TVekDataSet::KeyFlagsFor(TIndexItem* Index, const Byte* RecBuf) const
{
    const Cardinal keyFlag = ReadLE32(RecBuf + FRecordSize + eioKeyFlag);
    if (keyFlag == kfOrdinary)
        return {};
    TKeyComparisonFlags flags;
    TKeyFields* keys = Index->KeyFields();
    flags.reserve(static_cast<std::size_t>(keys->Count()));
    for (int i = 0; i < keys->Count(); ++i) {
        TKeyFieldItem* key = keys->GetItems(i);
        const Byte flag = key->Hidden() ? static_cast<Byte>(keyFlag) : RecBuf[key->NullFlagOffset()];
        flags.push_back(flag == nfLowest ? kcfBeforeAll : (flag == nfHighest ? kcfAfterAll : kcfNormal));
    }
    return flags;
}

Integer TVekDataSet::SearchIndex(TIndexItem* Index, const Byte* RecBuf, TIndexSearchType SearchType,
                                 TSearchModifier* Modifier, bool Full)
{
    Index->CreateKeyBuffer(RecBuf, KeyFlagsFor(Index, RecBuf));
    if (SearchType == stLEG) {
        if (Index->FullIndexSearch(stGE) == 0)
            return 0;
        return Index->FullIndexSearch(stLE);
    }
    return Full ? Index->FullIndexSearch(SearchType) : Index->PartialIndexSearch(SearchType, Modifier);
}

void TVekDataSet::ReadIntoCurrent(Cardinal Address, Integer RecNo)
{
    // While an edit is open its blob states stay: they are its pending values.
    FRecordMgr->ReadRecord(Address, FCurBuf.data(), !FEditCopyValid);
    Byte* extra = FCurBuf.data() + FRecordSize;
    WriteLE32(extra + eioRecAddr, Address);
    WriteLE32(extra + eioRecNo, static_cast<Cardinal>(RecNo));
    WriteLE32(extra + eioKeyFlag, kfOrdinary);
    FRecState = rbsRead;
}

void TVekDataSet::ReadCurrentFromIndex(TIndexItem* Index)
{
    // Record numbers are worked out when asked for (DataSetGetRecordNoFromBuf):
    // counting keys costs more than the move itself.
    const Cardinal address = Index->GetRecordAddress();
    TIndexItem* current = CurrentIndex();
    if (Index == current) {
        ReadIntoCurrent(address, 0);
        FCursorAddr = address;
        return;
    }
    FRecordMgr->ReadRecord(address, FCurBuf.data(), !FEditCopyValid);
    current->CreateKeyBuffer(FCurBuf.data(), {});
    if (current->FullIndexSearch(stEQ) != 0 || current->GetRecordAddress() != address)
        VekDatabaseError(ErrInternal, "TVekDataSet.InternalFind", "Key found but not in current index", this);
    ReadIntoCurrent(address, 0);
    FCursorAddr = address;
}

// ============================================================ read-ahead

void TVekDataSet::SetReadAheadMode()
{
    if (FReadAheadNesting++ == 0 && FReadAheadMode == raReadAheadInactive)
        FReadAheadMode = raReadAheadUninitialized;
}

void TVekDataSet::ReleaseReadAheadMode()
{
    if (FReadAheadNesting > 0 && --FReadAheadNesting == 0)
        FReadAheadMode = raReadAheadInactive;
}

void TVekDataSet::ClearReadAheadMode()
{
    FReadAheadNesting = 0;
    FReadAheadMode = raReadAheadInactive;
}

void TVekDataSet::InvalidateReadAhead()
{
    if (FReadAhead)
        FReadAhead->Invalidate();
}

void TVekDataSet::FillReadAheadBuffer(Integer Count, TReadAheadDirection Direction)
{
    FReadAhead->Invalidate();
    if (!FReadAheadOn || Direction == rdNone || Count < 2 || FFilterMgr->Active())
        return;
    TIndexItem* index = CurrentIndex();
    index->ListReadAheadRecords(Direction, Count, FReadAhead.get());
    // A window around a record found by key (a find, the resync after a
    // write) is mostly not stepped through: its images are read only when a
    // step reaches them (as a miss, through the index). A window filled for
    // moves in one direction, or checked against a range, is read whole.
    if (Direction == rdCenter && !FRangeOn) {
        FReadAhead->SetValidTimeStamp(GetMSTimeMarker());
        return;
    }
    for (int i = FReadAhead->Count() - 1; i >= 0; --i) {
        TReadAheadBufferItem* item = FReadAhead->GetItems(i);
        Byte* image = item->RecBuf();
        FRecordMgr->ReadRecord(item->RecAddr(), image, false);
        WriteLE32(image + FRecordSize + eioRecAddr, item->RecAddr());
        WriteLE32(image + FRecordSize + eioRecNo, static_cast<Cardinal>(item->RecNo()));
        WriteLE32(image + FRecordSize + eioKeyFlag, kfOrdinary);
        item->SetImageRead(true);
        if (FRangeOn && !KeyInRange(image))
            FReadAhead->DeleteItem(i);
    }
    FReadAhead->SetValidTimeStamp(GetMSTimeMarker());
}

bool TVekDataSet::GetFromReadAheadBuffer(TReadAheadDirection Direction)
{
    if (!FReadAheadOn || FFilterMgr->Active() || FReadAhead->Count() == 0)
        return false;
    if (!FReadAhead->IsValid(GetMSTimeMarker()))
        return false;
    const Cardinal address = DatasetGetRecAddr();
    if (address == 0 || ReadLE32(FCurBuf.data() + FRecordSize + eioKeyFlag) != kfOrdinary)
        return false;
    TReadAheadBufferItem* item = nullptr;
    if (Direction == rdForwards)
        item = FReadAhead->GetNextBufferItem(address);
    else if (Direction == rdBackwards)
        item = FReadAhead->GetPriorBufferItem(address);
    else
        item = FReadAhead->GetBufferItem(address);
    if (!item || !item->ImageRead())
        return false;
    std::memcpy(FCurBuf.data(), item->RecBuf(), static_cast<std::size_t>(EngineBufferSize()));
    FRecordMgr->BlobMgr()->InvalidateStreams();
    FRecState = rbsRead;
    return true;
}

bool TVekDataSet::GetNextRecord()
{
    SetReadAheadMode();
    try {
        const bool result = TDataSet::GetNextRecord();
        ReleaseReadAheadMode();
        return result;
    } catch (...) {
        ReleaseReadAheadMode();
        throw;
    }
}

bool TVekDataSet::GetPriorRecord()
{
    SetReadAheadMode();
    try {
        const bool result = TDataSet::GetPriorRecord();
        ReleaseReadAheadMode();
        return result;
    } catch (...) {
        ReleaseReadAheadMode();
        throw;
    }
}

int TVekDataSet::GetNextRecords()
{
    SetReadAheadMode();
    try {
        const int result = TDataSet::GetNextRecords();
        ReleaseReadAheadMode();
        return result;
    } catch (...) {
        ReleaseReadAheadMode();
        throw;
    }
}

int TVekDataSet::GetPriorRecords()
{
    SetReadAheadMode();
    try {
        const int result = TDataSet::GetPriorRecords();
        ReleaseReadAheadMode();
        return result;
    } catch (...) {
        ReleaseReadAheadMode();
        throw;
    }
}

void TVekDataSet::Resync(TResyncMode Mode)
{
    if (FOpen) {
        FReadAheadOn = FUseReadAheadBuffer && !FMemory;
        FReadAheadBufferSize = std::max(FReadAheadBufferSize, BufferCount());
    }
    SetReadAheadMode();
    bool taken = false;
    try {
        if (FOpen)
            taken = InternalSetReadLock();
        TDataSet::Resync(Mode);
    } catch (...) {
        ReleaseIfTaken(taken);
        ReleaseReadAheadMode();
        throw;
    }
    ReleaseIfTaken(taken);
    ReleaseReadAheadMode();
}

bool TVekDataSet::IsSequenced()
{
    return !FFilterMgr->Active();
}

// ================================================================ finding

bool TVekDataSet::InternalFind(TIndexSearchType SearchType, const std::string& IndexName, TSearchModifier* Modifier)
{
    TIndexItem* index = RequireIndex(IndexName, "TVekDataSet.InternalFind");
    const bool taken = InternalSetReadLock();
    bool found = false;
    try {
        const bool onCurrent = index == CurrentIndex();
        const Cardinal address = DatasetGetRecAddr();
        const bool cursorHere = onCurrent && FCursorAddr != 0 && FCursorAddr == address &&
                                ReadLE32(FCurBuf.data() + FRecordSize + eioKeyFlag) == kfOrdinary;
        if (cursorHere && (SearchType == stGT || SearchType == stLT || SearchType == stEQ)) {
            // The index cursor stands on the current record: step it.
            found = SearchType == stEQ || (SearchType == stGT ? index->NextKey() : index->PriorKey());
        } else {
            FCursorAddr = 0;
            found = SearchIndex(index, FCurBuf.data(), SearchType, Modifier, false) == 0;
        }
        if (found) {
            ReadCurrentFromIndex(index);
            if (!FReadAhead->RecordCountValid()) {
                FReadAhead->SetLastRecordCount(CurrentIndex()->GetRecordCount(false));
                FReadAhead->SetRecordCountValid(true);
            }
            if (FReadAheadOn && FReadAheadMode != raReadAheadInactive && onCurrent &&
                !FReadAhead->GetBufferItem(DatasetGetRecAddr()))
                FillReadAheadBuffer(FReadAheadBufferSize,
                                    FReadAheadDirection == rdNone ? rdCenter : FReadAheadDirection);
            if (FReadAheadMode == raReadAheadUninitialized)
                FReadAheadMode = raReadAheadActive;
            // A later find by key fills its window around the record found;
            // moves in one direction set theirs before they search.
            FReadAheadDirection = rdCenter;
        }
    } catch (...) {
        FCursorAddr = 0;
        ReleaseIfTaken(taken);
        throw;
    }
    ReleaseIfTaken(taken);
    return found;
}

bool TVekDataSet::Find(TIndexSearchType SearchType, const std::string& IndexName, TSearchModifier* Modifier)
{
    const std::vector<Byte> saved = FCurBuf;
    if (!InternalFind(SearchType, IndexName, Modifier)) {
        FCurBuf = saved;
        return false;
    }
    if (FRangeOn) {
        if (!FRangeNotEmpty) {
            FCurBuf = saved;
            return false;
        }
        if (CompareToRangeEnd(FCurBuf.data(), rmRangeEnd) > 0) {
            if (SearchType == stLT || SearchType == stLE || SearchType == stLEG)
                return MoveToRangeEnd(rmRangeEnd) || (FCurBuf = saved, false);
            FCurBuf = saved;
            return false;
        }
        if (CompareToRangeEnd(FCurBuf.data(), rmRangeStart) < 0) {
            if (SearchType == stGE || SearchType == stGT || SearchType == stLEG)
                return MoveToRangeEnd(rmRangeStart) || (FCurBuf = saved, false);
            FCurBuf = saved;
            return false;
        }
    }
    if (FFilterMgr->Active() && !FilterAccepts(DatasetGetRecAddr())) {
        const bool forwards = SearchType != stLT && SearchType != stLE;
        if (InternalMoveToFilterRecord(fspFromCurrent, forwards ? 1 : -1))
            return true;
        if (SearchType == stLEG && InternalMoveToFilterRecord(fspFromCurrent, -1))
            return true;
        FCurBuf = saved;
        return false;
    }
    return true;
}

bool TVekDataSet::FindBuf(const Byte* RecBuf, TIndexSearchType SearchType, const std::string& IndexName,
                          TSearchModifier* Modifier, bool RefreshOnFail)
{
    const std::vector<Byte> saved = FCurBuf;
    std::memcpy(FCurBuf.data(), RecBuf, static_cast<std::size_t>(EngineBufferSize()));
    FCursorAddr = 0;
    if (Find(SearchType, IndexName, Modifier))
        return true;
    FCurBuf = saved;
    if (RefreshOnFail && FRecState != rbsNone)
        RefreshDataSet(stLEG, FCurBuf.data());
    return false;
}

bool TVekDataSet::InternalSearchOnly(const Byte* RecBuf, TIndexSearchType SearchType, const std::string& IndexName,
                                     TSearchModifier* Modifier)
{
    TIndexItem* index = RequireIndex(IndexName, "TVekDataSet.InternalSearchOnly");
    const bool taken = InternalSetReadLock();
    bool found = false;
    try {
        if (index == CurrentIndex())
            FCursorAddr = 0;
        found = SearchIndex(index, RecBuf, SearchType, Modifier, Modifier == nullptr) == 0;
    } catch (...) {
        ReleaseIfTaken(taken);
        throw;
    }
    ReleaseIfTaken(taken);
    return found;
}

// ============================================================ navigation

bool TVekDataSet::MoveFiltered(Integer Direction, bool FromEnd)
{
    const std::vector<Byte> saved = FCurBuf;
    bool moved = false;
    if (FromEnd)
        moved = Direction > 0 ? DataSetFirst() : DataSetLast();
    else
        moved = Direction > 0 ? DataSetNext() : DataSetPrior();
    while (moved && RecordFilter && !RecordFilter(FCurBuf.data()))
        moved = Direction > 0 ? DataSetNext() : DataSetPrior();
    if (!moved)
        FCurBuf = saved;
    return moved;
}

bool TVekDataSet::DataSetMoveToEnd(bool First)
{
    const std::vector<Byte> saved = FCurBuf;
    if (FReadAheadMode == raReadAheadActive)
        FReadAheadMode = raReadAheadUninitialized;
    FCursorAddr = 0;
    if (First)
        SetKeyFlagsToBOF(FCurBuf.data());
    else
        SetKeyFlagsToEOF(FCurBuf.data());
    FReadAheadDirection = First ? rdForwards : rdBackwards;
    if (InternalFind(First ? stGE : stLE, "", nullptr))
        return true;
    FCurBuf = saved;
    return false;
}

bool TVekDataSet::DataSetFirst()
{
    if (FFilterMgr->Active())
        return InternalMoveToFilterRecord(fspFromStart, 0);
    if (FRangeOn) {
        if (!FRangeNotEmpty)
            return false;
        const std::vector<Byte> saved = FCurBuf;
        FReadAheadDirection = rdForwards;
        if (MoveToRangeEnd(rmRangeStart) && KeyInRange(FCurBuf.data()))
            return true;
        FCurBuf = saved;
        return false;
    }
    return DataSetMoveToEnd(true);
}

bool TVekDataSet::DataSetLast()
{
    if (FFilterMgr->Active())
        return InternalMoveToFilterRecord(fspFromEnd, 0);
    if (FRangeOn) {
        if (!FRangeNotEmpty)
            return false;
        const std::vector<Byte> saved = FCurBuf;
        FReadAheadDirection = rdBackwards;
        if (MoveToRangeEnd(rmRangeEnd) && KeyInRange(FCurBuf.data()))
            return true;
        FCurBuf = saved;
        return false;
    }
    return DataSetMoveToEnd(false);
}

bool TVekDataSet::StepCurrentIndex(bool Forwards)
{
    if (FRangeOn && !FRangeNotEmpty)
        return false;
    if (GetFromReadAheadBuffer(Forwards ? rdForwards : rdBackwards))
        return true;
    const std::vector<Byte> saved = FCurBuf;
    FReadAheadDirection = Forwards ? rdForwards : rdBackwards;
    if (!InternalFind(Forwards ? stGT : stLT, "", nullptr)) {
        FCurBuf = saved;
        return false;
    }
    if (FRangeOn && !KeyInRange(FCurBuf.data())) {
        FCurBuf = saved;
        return false;
    }
    return true;
}

bool TVekDataSet::DataSetNext()
{
    if (FFilterMgr->Active())
        return InternalMoveToFilterRecord(fspFromCurrent, 1);
    return StepCurrentIndex(true);
}

bool TVekDataSet::DataSetPrior()
{
    if (FFilterMgr->Active())
        return InternalMoveToFilterRecord(fspFromCurrent, -1);
    return StepCurrentIndex(false);
}

// ================================================================= ranges

void TVekDataSet::InitializeRangeBuffers(TRangeMode Mode)
{
    if (FRangeBuf[Mode].empty())
        return;
    if (Mode == rmRangeStart)
        SetKeyFlagsToBOF(FRangeBuf[Mode].data());
    else
        SetKeyFlagsToEOF(FRangeBuf[Mode].data());
}

void TVekDataSet::ForgetRangeEnds()
{
    FRangeLocated[0] = FRangeLocated[1] = false;
    FRangeRecNo[0] = FRangeRecNo[1] = 0;
    FRangeAddr[0] = FRangeAddr[1] = 0;
}

void TVekDataSet::DataSetClearRange()
{
    FRangeOn = false;
    FRangeNotEmpty = false;
    InitializeRangeBuffers(rmRangeStart);
    InitializeRangeBuffers(rmRangeEnd);
    ForgetRangeEnds();
    FFilterMgr->Reset();
    InvalidateReadAhead();
    FReadAhead->SetRecordCountValid(false);
}

void TVekDataSet::BuildRangeKeys()
{
    TIndexItem* index = CurrentIndex();
    for (int mode = 0; mode < 2; ++mode) {
        // The hidden record-ID field of each end lies beyond every record ID.
        Byte* buffer = FRangeBuf[mode].data();
        WriteLE32(buffer + FRecordSize + eioKeyFlag, mode == rmRangeStart ? kfBeforeFirst : kfAfterLast);
        FRangeFlags[mode] = KeyFlagsFor(index, buffer);
        std::fill(FRangeKey[mode].begin(), FRangeKey[mode].end(), 0);
        index->CreateTempKeyBuffer(buffer, FRangeKey[mode].data(), FRangeFlags[mode]);
    }
}

void TVekDataSet::SetRangeOn(bool On)
{
    ForgetRangeEnds();
    FFilterMgr->Reset();
    InvalidateReadAhead();
    FReadAhead->SetRecordCountValid(false);
    FCursorAddr = 0;
    if (!On) {
        FRangeOn = false;
        FRangeNotEmpty = false;
        return;
    }
    BuildRangeKeys();
    TIndexItem* index = CurrentIndex();
    FRangeNotEmpty = index->CompareKeyBuffers(FRangeKey[rmRangeStart].data(), FRangeKey[rmRangeEnd].data(),
                                              FRangeFlags[rmRangeStart], FRangeFlags[rmRangeEnd]) <= 0;
    FRangeOn = true;
}

Integer TVekDataSet::CompareToRangeEnd(const Byte* RecBuf, TRangeMode Mode)
{
    TIndexItem* index = CurrentIndex();
    std::vector<Byte> key(static_cast<std::size_t>(index->MaximumKeySize() + 1), 0);
    index->CreateTempKeyBuffer(RecBuf, key.data(), {});
    // Only the first key's comparison flags count: the range end goes first.
    return -index->CompareKeyBuffers(FRangeKey[Mode].data(), key.data(), FRangeFlags[Mode], {});
}

bool TVekDataSet::KeyInRange(const Byte* RecBuf)
{
    if (!FRangeOn)
        return true;
    if (!FRangeNotEmpty)
        return false;
    return CompareToRangeEnd(RecBuf, rmRangeStart) >= 0 && CompareToRangeEnd(RecBuf, rmRangeEnd) <= 0;
}

bool TVekDataSet::CheckKeyBufInRange(const Byte* KeyBuf, TRangeMode Mode)
{
    const Integer r = CompareToRangeEnd(KeyBuf, Mode);
    return Mode == rmRangeStart ? r >= 0 : r <= 0;
}

void TVekDataSet::SetNullIndexFieldsToRangeEnd(Byte* KeyBuf, const std::string& IndexName, TRangeMode Mode,
                                               const std::string& FieldNames)
{
    TIndexItem* index = RequireIndex(IndexName, "TVekDataSet.SetNullIndexFieldsToRangeEnd");
    const std::vector<std::string> names = SplitFieldNames(FieldNames);
    for (int i = 0; i < index->KeyFields()->Count(); ++i) {
        TKeyFieldItem* key = index->KeyFields()->GetItems(i);
        if (key->Hidden())
            continue;
        const bool listed = std::any_of(names.begin(), names.end(),
                                        [&](const std::string& n) { return SameText(n, key->FieldName()); });
        if (!listed)
            KeyBuf[key->NullFlagOffset()] = Mode == rmRangeStart ? nfLowest : nfHighest;
    }
}

bool TVekDataSet::MoveToRangeEnd(TRangeMode Mode)
{
    TIndexItem* index = CurrentIndex();
    const bool taken = InternalSetReadLock();
    bool found = false;
    try {
        FCursorAddr = 0;
        index->CopyKeyBuffer(FRangeKey[Mode].data(), FRangeFlags[Mode]);
        found = index->FullIndexSearch(Mode == rmRangeStart ? stGE : stLE) == 0;
        if (found) {
            ReadCurrentFromIndex(index);
            FRangeAddr[Mode] = DatasetGetRecAddr();
            if (FReadAheadOn)
                FillReadAheadBuffer(FReadAheadBufferSize, Mode == rmRangeStart ? rdForwards : rdBackwards);
        }
    } catch (...) {
        ReleaseIfTaken(taken);
        throw;
    }
    ReleaseIfTaken(taken);
    return found;
}

Integer TVekDataSet::GetRangeEndRecNo(TRangeMode Mode)
{
    if (FRangeLocated[Mode])
        return FRangeRecNo[Mode];
    TIndexItem* index = CurrentIndex();
    const bool taken = InternalSetReadLock();
    Integer recNo = 0;
    try {
        FCursorAddr = 0;
        index->CopyKeyBuffer(FRangeKey[Mode].data(), FRangeFlags[Mode]);
        if (index->FullIndexSearch(Mode == rmRangeStart ? stGE : stLE) == 0)
            recNo = index->GetRecordNo();
        else
            recNo = Mode == rmRangeStart ? index->GetRecordCount(false) + 1 : 0;
        FRangeRecNo[Mode] = recNo;
        FRangeLocated[Mode] = true;
    } catch (...) {
        ReleaseIfTaken(taken);
        throw;
    }
    ReleaseIfTaken(taken);
    return recNo;
}

bool TVekDataSet::ValidateRecBufPostDataChange()
{
    if (!FRangeOn || !FRangeNotEmpty || FRecState == rbsNone)
        return true;
    if (CompareToRangeEnd(FCurBuf.data(), rmRangeEnd) > 0) {
        MoveToRangeEnd(rmRangeEnd);
        return false;
    }
    if (CompareToRangeEnd(FCurBuf.data(), rmRangeStart) < 0) {
        MoveToRangeEnd(rmRangeStart);
        return false;
    }
    return true;
}

// ================================================== positioning by record

void TVekDataSet::SetToRecord(Cardinal Address, const Byte* RecBuf, bool CheckFlags, bool Refresh)
{
    if (Address == 0)
        VekDatabaseError(ErrInternal, "TVekDataSet.SetToRecord", "Invalid address of 0 for SetToRecord", this);
    const bool taken = InternalSetReadLock();
    try {
        std::vector<Byte> image(static_cast<std::size_t>(EngineBufferSize()), 0);
        if (!RecordAddressValid(Address))
            VekDatabaseError(ErrRecordChanged, "TVekDataSet.SetToRecord", "", this);
        FRecordMgr->ReadRecord(Address, image.data(), false);
        if (!InternalCheckRecordValid(image.data()))
            VekDatabaseError(ErrRecordChanged, "TVekDataSet.SetToRecord", "", this);
        if (CheckFlags && RecBuf && !InternalCheckRecordFlags(image.data(), RecBuf, true, true))
            VekDatabaseError(ErrRecordChanged, "TVekDataSet.SetToRecord", "", this);
        TIndexItem* index = CurrentIndex();
        FCursorAddr = 0;
        index->CreateKeyBuffer(image.data(), {});
        if (index->FullIndexSearch(stEQ) != 0)
            VekDatabaseError(ErrRecordChanged, "TVekDataSet.SetToRecord", "", this);
        if (index->GetRecordAddress() != Address)
            VekDatabaseError(ErrRecordChanged, "TVekDataSet.SetToRecord",
                             "The record cannot be found - the address is invalid", this);
        ReadIntoCurrent(Address, 0);
        FCursorAddr = Address;
        (void)Refresh;
    } catch (...) {
        ReleaseIfTaken(taken);
        throw;
    }
    ReleaseIfTaken(taken);
}

bool TVekDataSet::DataSetSetToBookmark(const void* Bookmark)
{
    const Byte* in = static_cast<const Byte*>(Bookmark);
    const Cardinal address = ReadLE32(in);
    if (address == 0)
        return false;
    std::vector<Byte> wanted(static_cast<std::size_t>(EngineBufferSize()), 0);
    wanted[rpoStatus] = 1;
    WriteLE32(wanted.data() + rpoOwnerTag, FOwnerTag);
    std::memcpy(wanted.data() + rpoRecordID, in + 4, 4);
    const bool taken = InternalSetReadLock();
    try {
        std::vector<Byte> image(static_cast<std::size_t>(FRecordSize), 0);
        if (!RecordAddressValid(address))
            VekDatabaseError(ErrRecordChanged, "TVekDataSet.DataSetSetToBookmark", "", this);
        FRecordMgr->ReadRecord(address, image.data(), false);
        if (!InternalCheckRecordFlags(image.data(), wanted.data(), false, true))
            VekDatabaseError(ErrRecordChanged, "TVekDataSet.DataSetSetToBookmark", "", this);
        SetToRecord(address, nullptr, false, false);
    } catch (...) {
        ReleaseIfTaken(taken);
        throw;
    }
    ReleaseIfTaken(taken);
    return true;
}

void TVekDataSet::DataSetSetToFlags(Cardinal Address, Cardinal ModFlag)
{
    SetToRecord(Address, nullptr, false, false);
    if (DataSetGetRecordModFlag() != ModFlag)
        VekDatabaseError(ErrRecordChanged, "TVekDataSet.DataSetSetToFlags", "", this);
}

void TVekDataSet::DataSetSetToUnorderedRecord(Cardinal Address)
{
    const bool taken = InternalSetReadLock();
    try {
        ReadIntoCurrent(Address, 0);
        FCursorAddr = 0;
    } catch (...) {
        ReleaseIfTaken(taken);
        throw;
    }
    ReleaseIfTaken(taken);
}

void TVekDataSet::DataSetSetToRecordImage(Cardinal Address, const Byte* Image)
{
    std::memcpy(FCurBuf.data(), Image, static_cast<std::size_t>(FRecordSize));
    Byte* extra = FCurBuf.data() + FRecordSize;
    WriteLE32(extra + eioRecAddr, Address);
    WriteLE32(extra + eioRecNo, 0);
    WriteLE32(extra + eioKeyFlag, kfOrdinary);
    FRecState = rbsRead;
    FCursorAddr = 0;
}

// ==================================================== record numbers, counts

Integer TVekDataSet::DataSetGetRecordNoFromBuf(const Byte* RecBuf)
{
    Integer recNo = static_cast<Integer>(ReadLE32(RecBuf + FRecordSize + eioRecNo));
    const Cardinal address = ReadLE32(RecBuf + FRecordSize + eioRecAddr);
    if (recNo == 0 && address != 0 && ReadLE32(RecBuf + FRecordSize + eioKeyFlag) == kfOrdinary) {
        // Not yet known: the position of the record's key in the current index.
        const bool taken = InternalSetReadLock();
        try {
            TIndexItem* index = CurrentIndex();
            index->CreateKeyBuffer(RecBuf, {});
            if (index->FullIndexSearch(stEQ) == 0 && index->GetRecordAddress() == address) {
                recNo = index->GetRecordNo();
                FCursorAddr = address;
                WriteLE32(const_cast<Byte*>(RecBuf) + FRecordSize + eioRecNo, static_cast<Cardinal>(recNo));
            } else {
                FCursorAddr = 0;
            }
        } catch (...) {
            ReleaseIfTaken(taken);
            throw;
        }
        ReleaseIfTaken(taken);
    }
    if (FRangeOn) {
        const Integer start = GetRangeEndRecNo(rmRangeStart);
        if (recNo > 0 && start > 0)
            return recNo - start + 1;
        return 0;
    }
    return recNo;
}

Integer TVekDataSet::DataSetGetRecordNo()
{
    return DataSetGetRecordNoFromBuf(FCurBuf.data());
}

Integer TVekDataSet::DataSetSetRecordNo(Integer RecNo)
{
    if (RecNo < 1)
        return -1;
    if (FFilterMgr->Active()) {
        Cardinal address = 0;
        UnderReadLock([&] {
            FFilterMgr->EnsureCurrent();
            address = FFilterMgr->GetRecordAtNo(RecNo);
            if (address != 0) {
                ReadIntoCurrent(address, 0);
                FCursorAddr = 0;
            }
        });
        return address != 0 ? RecNo : -1;
    }
    Integer absolute = RecNo;
    Integer last = GetTotalRecordCount();
    if (FRangeOn) {
        if (!FRangeNotEmpty)
            return -1;
        absolute = RecNo + GetRangeEndRecNo(rmRangeStart) - 1;
        last = GetRangeEndRecNo(rmRangeEnd);
    }
    if (absolute > last)
        return -1;
    const bool taken = InternalSetReadLock();
    try {
        FCursorAddr = 0;
        const Cardinal address = CurrentIndex()->SetRecordNo(absolute);
        if (address == 0) {
            ReleaseIfTaken(taken);
            return -1;
        }
        SetToRecord(address, nullptr, false, false);
    } catch (...) {
        ReleaseIfTaken(taken);
        throw;
    }
    ReleaseIfTaken(taken);
    return RecNo;
}

Integer TVekDataSet::GetTotalRecordCount()
{
    if (FReadAhead->RecordCountValid())
        return FReadAhead->LastRecordCount();
    const bool taken = InternalSetReadLock();
    Integer count = 0;
    try {
        count = CurrentIndex()->GetRecordCount(true);
        FReadAhead->SetLastRecordCount(count);
        FReadAhead->SetRecordCountValid(true);
    } catch (...) {
        ReleaseIfTaken(taken);
        throw;
    }
    ReleaseIfTaken(taken);
    return count;
}

Integer TVekDataSet::GetCurrentRecordCount()
{
    if (FFilterMgr->Active()) {
        Integer count = 0;
        UnderReadLock([&] {
            FFilterMgr->EnsureCurrent();
            count = FFilterMgr->GetFilterRecordCount();
        });
        return count;
    }
    if (!FRangeOn)
        return GetTotalRecordCount();
    if (!FRangeNotEmpty)
        return 0;
    const Integer start = GetRangeEndRecNo(rmRangeStart);
    const Integer end = GetRangeEndRecNo(rmRangeEnd);
    if (start <= 0 || end <= 0)
        return 0;
    return std::max<Integer>(0, end - start + 1);
}

// ============================================================= refreshing

Cardinal TVekDataSet::RefreshDataSet(TIndexSearchType SearchType, Byte* RecBuf)
{
    TIndexItem* index = CurrentIndex();
    const Byte* original = FEditCopyValid ? FEditOriginal.data() : RecBuf;
    std::vector<Byte> key(original, original + EngineBufferSize());
    WriteLE32(key.data() + FRecordSize + eioKeyFlag, kfOrdinary);
    FCursorAddr = 0;
    if (SearchIndex(index, key.data(), SearchType, nullptr, true) != 0)
        return 0;
    const Cardinal address = index->GetRecordAddress();
    const Integer recNo = 0;
    if (RecBuf == FCurBuf.data()) {
        ReadIntoCurrent(address, recNo);
        FCursorAddr = address;
    } else {
        FRecordMgr->ReadRecord(address, RecBuf, false);
        WriteLE32(RecBuf + FRecordSize + eioRecAddr, address);
        WriteLE32(RecBuf + FRecordSize + eioRecNo, static_cast<Cardinal>(recNo));
        WriteLE32(RecBuf + FRecordSize + eioKeyFlag, kfOrdinary);
    }
    if (SearchType == stLEG) {
        ForgetRangeEnds();
        ValidateRecBufPostDataChange();
    }
    return address;
}

void TVekDataSet::RefreshDataSetIndex(Cardinal Address)
{
    TIndexItem* index = CurrentIndex();
    FCursorAddr = 0;
    index->CreateKeyBuffer(FCurBuf.data(), {});
    if (index->FullIndexSearch(stEQ) != 0)
        VekDatabaseError(ErrRecordChanged, "TVekDataSet.RefreshDataSetIndex", "", this);
    if (index->GetRecordAddress() != Address)
        LogLine("TVekDataSet.RefreshDataSetIndex", "RefreshDataSetIndex failed");
    WriteLE32(FCurBuf.data() + FRecordSize + eioRecAddr, index->GetRecordAddress());
    WriteLE32(FCurBuf.data() + FRecordSize + eioRecNo, 0);
    WriteLE32(FCurBuf.data() + FRecordSize + eioKeyFlag, kfOrdinary);
    FCursorAddr = index->GetRecordAddress();
}

bool TVekDataSet::DataSetRefresh(Byte* RecBuf, bool Exact)
{
    InvalidateReadAhead();
    const bool taken = InternalSetReadLock();
    Cardinal address = 0;
    try {
        address = RefreshDataSet(Exact ? stEQ : stLEG, RecBuf);
    } catch (...) {
        ReleaseIfTaken(taken);
        throw;
    }
    ReleaseIfTaken(taken);
    return address != 0;
}

void TVekDataSet::InternalSetIndexName(const std::string& Name)
{
    TIndexItem* index = RequireIndex(Name, "TVekDataSet.InternalSetIndexName");
    FIndexMgr->SetCurrentIndexName(index->IndexName());
    FCursorAddr = 0;
    FReadAhead->Open(EngineBufferSize(), index->MaximumKeySize() + 1, ReadAheadValidPeriod);
    ForgetRangeEnds();
    // The filter's records follow the index order.
    FFilterMgr->Reset();
}

// ================================================================ locating

Integer TVekDataSet::InternalCompareRecords(const Byte* RecA, const Byte* RecB, TSearchFields* Fields,
                                            bool CaseInsensitive, bool Partial, Integer& FieldIndex) const
{
    auto rank = [](Byte flag) { return flag == nfNull ? 3 : flag; };
    for (int i = 0; i < Fields->Count(); ++i) {
        TSearchFieldItem* item = Fields->GetItems(i);
        const Byte fa = RecA[item->NullFlagOffset()];
        const Byte fb = RecB[item->NullFlagOffset()];
        int r = 0;
        if (rank(fa) != rank(fb))
            r = rank(fa) < rank(fb) ? -1 : 1;
        else if (fa == nfValue)
            r = CompareValues(item, RecA, RecB, FIndexMgr->DBStringCompare(), CaseInsensitive, Partial,
                              const_cast<TVekDataSet*>(this));
        if (item->Descending())
            r = -r;
        if (r != 0) {
            FieldIndex = i;
            return r;
        }
    }
    FieldIndex = -1;
    return 0;
}

bool TVekDataSet::DoLocate(const std::string& IndexName, Byte* KeyBuf, const std::string& FieldNames,
                           TLocateOptions Options, bool UseIndexName, bool MoveToRecord, Byte* FoundBuf)
{
    TIndexItem* index = UseIndexName ? RequireIndex(IndexName, "TVekDataSet.DoLocate") : CurrentIndex();
    const bool caseIns = (Options & loCaseInsensitive) != 0;
    const bool partial = (Options & loPartialKey) != 0;

    // The requested fields, in request order.
    std::vector<TInternalFieldItem*> requested;
    for (const std::string& name : SplitFieldNames(FieldNames)) {
        TInternalFieldItem* item = FRecordMgr->InternalFields()->FindField(name);
        if (!item)
            VekDatabaseError(ErrNoField, "TVekDataSet.DoLocate", name, this);
        requested.push_back(item);
    }

    // The leading key fields of the index that are requested and whose order
    // the index keeps for this search.
    TSearchFields prefix;
    std::vector<TKeyFieldItem*> prefixKeys;
    std::vector<bool> used(requested.size(), false);
    for (int k = 0; k < index->KeyFields()->Count(); ++k) {
        TKeyFieldItem* key = index->KeyFields()->GetItems(k);
        if (key->Hidden())
            break;
        std::size_t at = requested.size();
        for (std::size_t r = 0; r < requested.size(); ++r)
            if (!used[r] && SameText(requested[r]->FieldName(), key->FieldName()))
                at = r;
        if (at == requested.size())
            break;
        const bool isString = IsStringType(key->DataType());
        if (isString && caseIns && !key->CaseInsensitive())
            break;
        if (isString && partial && key->Descending())
            break;
        used[at] = true;
        TSearchFieldItem* field = prefix.Add();
        field->Assign(requested[at]);
        field->SetInIndex(true);
        field->SetDescending(key->Descending());
        prefixKeys.push_back(key);
    }
    TSearchFields rest;
    for (std::size_t r = 0; r < requested.size(); ++r)
        if (!used[r]) {
            TSearchFieldItem* field = rest.Add();
            field->Assign(requested[r]);
        }

    // The search key: the prefix values, every other key field lowest.
    std::vector<Byte> search(KeyBuf, KeyBuf + EngineBufferSize());
    for (int k = 0; k < index->KeyFields()->Count(); ++k) {
        TKeyFieldItem* key = index->KeyFields()->GetItems(k);
        if (key->Hidden())
            continue;
        const bool inPrefix = std::find(prefixKeys.begin(), prefixKeys.end(), key) != prefixKeys.end();
        if (!inPrefix)
            search[static_cast<std::size_t>(key->NullFlagOffset())] = nfLowest;
        else if (search[static_cast<std::size_t>(key->NullFlagOffset())] != nfValue)
            search[static_cast<std::size_t>(key->NullFlagOffset())] = nfNull;
    }
    WriteLE32(search.data() + FRecordSize + eioKeyFlag, kfBeforeFirst);

    const bool sameRange = FRangeOn && index == CurrentIndex();
    if (sameRange && !FRangeNotEmpty)
        return false;
    const bool taken = InternalSetReadLock();
    bool found = false;
    Cardinal foundAddr = 0;
    std::vector<Byte> record(static_cast<std::size_t>(EngineBufferSize()), 0);
    try {
        // The filter's list is brought up to date before the index walk.
        FFilterMgr->EnsureCurrent();
        if (index == CurrentIndex())
            FCursorAddr = 0;
        bool ok = SearchIndex(index, search.data(), stGE, nullptr, true) == 0;
        bool restarted = false;
        while (ok) {
            const Cardinal address = index->GetRecordAddress();
            FRecordMgr->ReadRecord(address, record.data(), false);
            if (sameRange) {
                if (CompareToRangeEnd(record.data(), rmRangeEnd) > 0)
                    break;
                if (CompareToRangeEnd(record.data(), rmRangeStart) < 0) {
                    if (restarted)
                        break;
                    // Start again at the range start.
                    restarted = true;
                    index->CopyKeyBuffer(FRangeKey[rmRangeStart].data(), FRangeFlags[rmRangeStart]);
                    ok = index->FullIndexSearch(stGE) == 0;
                    continue;
                }
            }
            // The prefix in the index's own order (nulls first): past the
            // values ends the search.
            bool beyond = false;
            bool prefixEqual = true;
            for (int i = 0; i < prefix.Count() && prefixEqual; ++i) {
                TSearchFieldItem* field = prefix.GetItems(i);
                TKeyFieldItem* key = prefixKeys[static_cast<std::size_t>(i)];
                const bool nullA = record[static_cast<std::size_t>(field->NullFlagOffset())] != nfValue;
                const bool nullB = search[static_cast<std::size_t>(field->NullFlagOffset())] != nfValue;
                int order = 0;
                if (nullA != nullB)
                    order = nullA ? -1 : 1;
                else if (!nullA)
                    order = CompareValues(field, record.data(), search.data(), FIndexMgr->DBStringCompare(),
                                          key->CaseInsensitive(), partial, this);
                if (key->Descending())
                    order = -order;
                if (order > 0) {
                    beyond = true;
                    prefixEqual = false;
                } else if (order < 0) {
                    prefixEqual = false;
                } else if (!nullA && IsStringType(field->DataType()) && key->CaseInsensitive() && !caseIns) {
                    // Equal in the index's order, but the search minds case.
                    prefixEqual = CompareValues(field, record.data(), search.data(), FIndexMgr->DBStringCompare(),
                                                false, partial, this) == 0;
                }
            }
            if (beyond)
                break;
            if (prefixEqual) {
                Integer at = -1;
                if (InternalCompareRecords(record.data(), KeyBuf, &rest, caseIns, partial, at) == 0 &&
                    (!FFilterMgr->Active() || FFilterMgr->CheckRecordInFilter(address))) {
                    found = true;
                    foundAddr = address;
                    break;
                }
            }
            ok = index->NextKey();
        }
        if (found) {
            WriteLE32(record.data() + FRecordSize + eioRecAddr, foundAddr);
            if (FoundBuf)
                std::memcpy(FoundBuf, record.data(), record.size());
            if (MoveToRecord)
                SetToRecord(foundAddr, nullptr, false, false);
        }
    } catch (...) {
        ReleaseIfTaken(taken);
        throw;
    }
    ReleaseIfTaken(taken);
    return found;
}

} // namespace orvex
