// Join analysis and evaluation: the method of each join and its rows.

#include "query/vekJoinDataProviderUnit.h"

#include "dataset/vekDatabase.h"

#include "host/SysUtils.h"
#include "storage/vekByteOrder.h"
#include "storage/vekCommon.h"
#include "storage/vekIndexUnitManager.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace orvex {

// ============================================================ key classes

TJoinKeyClass JoinKeyClassOf(TFieldType DataType)
{
    switch (DataType) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftFloat:
        return TJoinKeyClass::Number;
    case ftLargeint:
        return TJoinKeyClass::Largeint;
    case ftString:
    case ftFixedChar:
        return TJoinKeyClass::String;
    default:
        return TJoinKeyClass::None;
    }
}

namespace {

void AppendBytes(std::string& Key, const void* Data, std::size_t Size)
{
    Key.append(static_cast<const char*>(Data), Size);
}

// Appends the canonical form of the holder's value (not null) of a field of
// DataType: numbers as little-endian doubles (-0 as 0), Largeint as int64,
// strings as their length and characters.
void AppendCanonical(std::string& Key, TFieldType DataType, const TDataHolder& Holder)
{
    const Byte* p = Holder.Data;
    double number = 0;
    switch (DataType) {
    case ftSmallint:
        number = static_cast<std::int16_t>(ReadLE16(p));
        break;
    case ftWord:
        number = ReadLE16(p);
        break;
    case ftInteger:
    case ftAutoInc:
        number = static_cast<std::int32_t>(ReadLE32(p));
        break;
    case ftFloat: {
        std::uint64_t bits = ReadLE64(p);
        std::memcpy(&number, &bits, sizeof number);
        break;
    }
    case ftLargeint: {
        const std::uint64_t bits = ReadLE64(p);
        Byte out[8];
        WriteLE64(out, bits);
        AppendBytes(Key, out, 8);
        return;
    }
    default: {
        Byte size[4];
        WriteLE32(size, static_cast<Cardinal>(Holder.Length));
        AppendBytes(Key, size, 4);
        AppendBytes(Key, p, static_cast<std::size_t>(Holder.Length));
        return;
    }
    }
    if (number == 0)
        number = 0; // -0 and 0 alike
    std::uint64_t bits = 0;
    std::memcpy(&bits, &number, sizeof bits);
    Byte out[8];
    WriteLE64(out, bits);
    AppendBytes(Key, out, 8);
}

} // namespace

// ============================================================== TJoinHash

void TJoinHash::Reserve(std::size_t Count)
{
    FRowKeys.reserve(Count);
    FRowAddresses.reserve(Count);
}

void TJoinHash::Clear()
{
    FSlots.clear();
    FKeys.clear();
    FRowKeys.clear();
    FRowAddresses.clear();
    FKeyRows.clear();
    FAddresses.clear();
    FCount = 0;
    FKeyCount = 0;
    FFinished = false;
}

namespace {

// The key's bytes as one number when it is 8 bytes long (an inline key).
std::uint64_t InlineKeyOf(const std::string& Key)
{
    std::uint64_t value = 0;
    if (Key.size() == 8)
        std::memcpy(&value, Key.data(), 8);
    return value;
}

} // namespace

bool TJoinHash::SlotHolds(const Slot& S, const std::string& Key, std::uint32_t Tag, std::uint64_t Inline) const
{
    if (S.Tag != Tag)
        return false;
    const bool longKey = (S.Ref & LongKey) != 0;
    if (!longKey)
        return Key.size() == 8 && S.Key == Inline;
    if (Key.size() == 8)
        return false;
    const std::uint32_t length = ReadLE32(reinterpret_cast<const Byte*>(FKeys.data() + S.Key));
    return length == Key.size() && std::memcmp(FKeys.data() + S.Key + 4, Key.data(), Key.size()) == 0;
}

std::size_t TJoinHash::Probe(const std::string& Key, std::uint32_t Tag, std::uint64_t Inline) const
{
    const std::size_t mask = FSlots.size() - 1;
    for (std::size_t i = Tag & mask;; i = (i + 1) & mask) {
        const Slot& slot = FSlots[i];
        if (slot.Ref == 0 || SlotHolds(slot, Key, Tag, Inline))
            return i;
    }
}

void TJoinHash::Grow()
{
    const std::size_t size = FSlots.empty() ? 64 : FSlots.size() * 2;
    std::vector<Slot> old = std::move(FSlots);
    FSlots.assign(size, Slot{0, 0, 0});
    const std::size_t mask = size - 1;
    for (const Slot& slot : old) {
        if (slot.Ref == 0)
            continue;
        std::size_t i = slot.Tag & mask;
        while (FSlots[i].Ref != 0)
            i = (i + 1) & mask;
        FSlots[i] = slot;
    }
}

void TJoinHash::Add(const std::string& Key, Cardinal Address)
{
    ORVEX_ASSERT(!FFinished, "Join hash is already finished");
    ORVEX_ASSERT(FCount < RefMask / 2 && FKeys.size() + Key.size() + 4 < 0xFFFFFFFFULL, "Join hash is full");
    // At most half the slots in use: a search rarely leaves its cache line.
    if ((FKeyCount + 1) * 2 > FSlots.size())
        Grow();
    const std::uint64_t hash = HashOf(Key);
    const auto tag = static_cast<std::uint32_t>(hash >> 32);
    const std::uint64_t inlineKey = InlineKeyOf(Key);
    Slot& slot = FSlots[Probe(Key, tag, inlineKey)];
    if (slot.Ref == 0) {
        slot.Tag = tag;
        slot.Ref = static_cast<std::uint32_t>(FKeyCount + 1);
        if (Key.size() == 8) {
            slot.Key = inlineKey;
        } else {
            slot.Key = FKeys.size();
            slot.Ref |= LongKey;
            Byte size[4];
            WriteLE32(size, static_cast<Cardinal>(Key.size()));
            FKeys.append(reinterpret_cast<const char*>(size), 4);
            FKeys += Key;
        }
        FKeyRows.push_back(0);
        ++FKeyCount;
    }
    const std::uint32_t key = (slot.Ref & RefMask) - 1;
    ++FKeyRows[key];
    FRowKeys.push_back(key);
    FRowAddresses.push_back(Address);
    ++FCount;
}

void TJoinHash::Finish()
{
    if (FFinished)
        return;
    // Each key's run: its row count, then its addresses in the order added.
    std::vector<std::uint32_t> next(FKeyCount);
    std::size_t start = 0;
    for (std::size_t key = 0; key < FKeyCount; ++key) {
        next[key] = static_cast<std::uint32_t>(start);
        start += 1 + FKeyRows[key];
    }
    FAddresses.assign(start, 0);
    for (std::size_t key = 0; key < FKeyCount; ++key)
        FAddresses[next[key]++] = FKeyRows[key];
    for (std::size_t row = 0; row < FRowKeys.size(); ++row)
        FAddresses[next[FRowKeys[row]]++] = FRowAddresses[row];
    // The slots point at their runs (a run starts where the key's count is).
    for (Slot& slot : FSlots) {
        if (slot.Ref == 0)
            continue;
        const std::uint32_t key = (slot.Ref & RefMask) - 1;
        const std::uint32_t run = next[key] - FKeyRows[key] - 1;
        slot.Ref = (slot.Ref & LongKey) | (run + 1);
    }
    std::vector<std::uint32_t>().swap(FRowKeys);
    std::vector<Cardinal>().swap(FRowAddresses);
    std::vector<std::uint32_t>().swap(FKeyRows);
    FFinished = true;
}

void TJoinHash::Lookup(const std::string& Key, std::vector<Cardinal>& Out)
{
    if (FSlots.empty())
        return;
    Finish();
    const std::uint64_t hash = HashOf(Key);
    const auto tag = static_cast<std::uint32_t>(hash >> 32);
    const Slot& slot = FSlots[Probe(Key, tag, InlineKeyOf(Key))];
    if (slot.Ref == 0)
        return;
    const std::size_t run = (slot.Ref & RefMask) - 1;
    const std::size_t count = FAddresses[run];
    Out.insert(Out.end(), FAddresses.begin() + static_cast<std::ptrdiff_t>(run + 1),
               FAddresses.begin() + static_cast<std::ptrdiff_t>(run + 1 + count));
}

// ============================================================== TJoinPlan

void TJoinPlan::DisplayPlan(TStrings* Lines) const
{
    auto boolName = [](bool Value) { return C_BooleanStr[Value ? 1 : 0]; };
    Lines->Add("Outer : " + OuterName);
    Lines->Add("Inner : " + InnerName);
    Lines->Add("Indexed : " + boolName(Indexed));
    Lines->Add("Outer range on : " + boolName(OuterRangeOn));
    Lines->Add("Outer Expr exists : " + boolName(OuterExprExists));
    Lines->Add(std::string("Outer Expr opt level : ") + CFilterOptLevelNames[OuterExprOptLevel]);
    Lines->Add("Inner range on : " + boolName(InnerRangeOn));
    Lines->Add("Inner Expr exists : " + boolName(InnerExprExists));
    Lines->Add(std::string("Inner Expr opt level : ") + CFilterOptLevelNames[InnerExprOptLevel]);
}

// ========================================================== TJoinAnalyser

void TJoinAnalyser::Prepare(TVekStdJoinDataProvider* Owner, TVekBaseJoinDataProvider* Outer,
                            TVekBaseJoinDataProvider* Inner, TVekExprNode* JoinRoot, TVekJoinType JoinType)
{
    FOwner = Owner;
    FOuter = Outer;
    FInner = Inner;
    FJoinType = JoinType;
    FEqualities.clear();
    if (JoinType != jtCrossJoin && JoinType != jtUnionJoin)
        CollectEqualities(JoinRoot, 0);
}

// The AND terms of the condition that compare a field of each side for
// equality with the engine's plain comparison.
void TJoinAnalyser::CollectEqualities(TVekExprNode* Node, int Depth)
{
    if (!Node || Depth > MaxExprTreeHeight)
        return;
    if (Node->Kind() == enkLogicalOperator && Node->Operator() == veoAND) {
        CollectEqualities(Node->Left(), Depth + 1);
        CollectEqualities(Node->Right(), Depth + 1);
        return;
    }
    if (Node->Kind() != enkRelOperator || Node->Operator() != veoEQ || !Node->Left() || !Node->Right())
        return;
    TVekExprNode* left = Node->Left();
    TVekExprNode* right = Node->Right();
    if (left->Kind() != enkField || right->Kind() != enkField || Node->CaseInsensitiveMatch() ||
        left->CaseInsensitiveMatch() || right->CaseInsensitiveMatch() || left->PartialLength() > 0 ||
        right->PartialLength() > 0 || left->TokenArgs().empty() || right->TokenArgs().empty())
        return;
    std::vector<TVekNonJoinDataProvider*> outerLeaves;
    FOuter->CollectLeaves(outerLeaves);
    auto resolve = [&](TVekExprNode* Field, TVekNonJoinDataProvider*& Leaf, TInternalFieldItem*& Item) {
        auto* found = dynamic_cast<TVekNonJoinDataProvider*>(FOwner->FindJoinProvider(Field->TokenArgs()[0]->Text()));
        Leaf = found;
        Item = found ? found->FindField(nullptr, VarToStr(Field->Data())) : nullptr;
        return Item != nullptr;
    };
    TJoinExprNode node;
    node.ExprNode = Node;
    TVekNonJoinDataProvider* leafA = nullptr;
    TVekNonJoinDataProvider* leafB = nullptr;
    TInternalFieldItem* fieldA = nullptr;
    TInternalFieldItem* fieldB = nullptr;
    if (!resolve(left, leafA, fieldA) || !resolve(right, leafB, fieldB))
        return;
    const bool aOuter = std::find(outerLeaves.begin(), outerLeaves.end(), leafA) != outerLeaves.end();
    const bool bOuter = std::find(outerLeaves.begin(), outerLeaves.end(), leafB) != outerLeaves.end();
    if (aOuter == bOuter)
        return;
    if (aOuter)
        node.Pair = TJoinKeyPair{leafA, fieldA, leafB, fieldB};
    else
        node.Pair = TJoinKeyPair{leafB, fieldB, leafA, fieldA};
    FEqualities.push_back(node);
}

// ========================================================= TJoinEvaluator

TJoinEvaluator::TJoinEvaluator(TVekStdJoinDataProvider* Owner) : FOwner(Owner) {}
TJoinEvaluator::~TJoinEvaluator() = default;

void TJoinEvaluator::AnalyseAndOpenJoin(TJoinAnalyser* Analyser)
{
    FAnalyser = Analyser;
    FJoinType = Analyser->JoinType();
    // A right outer join runs as a left outer join with the sides exchanged.
    if (FJoinType == jtRightOuterJoin) {
        FDriving = FOwner->InnerProvider();
        FSearched = FOwner->OuterProvider();
    } else {
        FDriving = FOwner->OuterProvider();
        FSearched = FOwner->InnerProvider();
    }
    FCondition.reset();
    if (FOwner->JoinRoot() && FJoinType != jtCrossJoin && FJoinType != jtUnionJoin) {
        FCondition = std::make_unique<TExprEvaluator>();
        FCondition->SetExcludeRelopNulls(true);
        FCondition->SetDBStringCompare(FOwner->DBStringCompare());
        FCondition->Prepare(FOwner, FOwner->JoinRoot());
    }
    ChooseMethod();

    FPlan.OuterName = FOwner->OuterProvider()->ProviderName();
    FPlan.InnerName = FOwner->InnerProvider()->ProviderName();
    FPlan.Indexed = FMethod == TJoinMethod::IndexedRange;
    FPlan.OuterRangeOn = false;
    FPlan.InnerRangeOn = FPlan.Indexed;
    FPlan.OuterExprExists = FOwner->OuterProvider()->SelectRoot() != nullptr;
    FPlan.InnerExprExists = FOwner->InnerProvider()->SelectRoot() != nullptr;
    FPlan.OuterExprOptLevel = FOwner->OuterProvider()->SelectionOptLevel();
    FPlan.InnerExprOptLevel = FOwner->InnerProvider()->SelectionOptLevel();
    FPlan.Method = FMethod;
    FPlan.HashedName = FMethod == TJoinMethod::Hash ? FSearched->ProviderName() : std::string();
    FPlan.HashSpilled = FMethod == TJoinMethod::Hash && FSpillHash;
    FOwner->Statistics().Indexed = FPlan.Indexed;
    TStringList lines;
    FPlan.DisplayPlan(&lines);
    for (int i = 0; i < lines.Count(); ++i)
        GDBLogger->LogItem("TJoinEvaluator.DisplayPlan", lines.Strings(i));
    ResetState();
}

bool TJoinEvaluator::HashApplies() const
{
    if (FKeys.empty() || !FSearched->IsSingleTable())
        return false;
    return std::all_of(FKeys.begin(), FKeys.end(),
                       [](const TKeyPart& Part) { return Part.KeyClass != TJoinKeyClass::None; });
}

// The key part whose searched field leads an index of the searched table
// and has the driving field's type; -1 when none.
int TJoinEvaluator::IndexedPart()
{
    if (!FSearched->IsSingleTable() || (FJoinType != jtInnerJoin && FJoinType != jtLeftOuterJoin))
        return -1;
    auto* leaf = static_cast<TVekNonJoinDataProvider*>(FSearched);
    for (std::size_t i = 0; i < FKeys.size(); ++i) {
        const TKeyPart& part = FKeys[i];
        if (part.DrivingField->DataType() != part.SearchedField->DataType() ||
            IsBlobFieldType(part.SearchedField->DataType()))
            continue;
        const std::vector<std::string> indexes = leaf->Bridge()->IndexesOnField(part.SearchedField->FieldName());
        if (indexes.empty())
            continue;
        FRangeIndex = indexes.front();
        return static_cast<int>(i);
    }
    return -1;
}

void TJoinEvaluator::ChooseMethod()
{
    auto orient = [this]() {
        FKeys.clear();
        std::vector<TVekNonJoinDataProvider*> drivingLeaves;
        FDriving->CollectLeaves(drivingLeaves);
        for (const TJoinExprNode& node : FAnalyser->EqualityNodes()) {
            TKeyPart part;
            const bool outerDrives = std::find(drivingLeaves.begin(), drivingLeaves.end(), node.Pair.OuterLeaf) !=
                                     drivingLeaves.end();
            part.DrivingLeaf = outerDrives ? node.Pair.OuterLeaf : node.Pair.InnerLeaf;
            part.DrivingField = outerDrives ? node.Pair.OuterField : node.Pair.InnerField;
            part.SearchedLeaf = outerDrives ? node.Pair.InnerLeaf : node.Pair.OuterLeaf;
            part.SearchedField = outerDrives ? node.Pair.InnerField : node.Pair.OuterField;
            const TJoinKeyClass a = JoinKeyClassOf(part.DrivingField->DataType());
            const TJoinKeyClass b = JoinKeyClassOf(part.SearchedField->DataType());
            part.KeyClass = a == b ? a : TJoinKeyClass::None;
            FKeys.push_back(part);
        }
    };
    orient();
    FMethod = TJoinMethod::NestedLoop;
    FSpillHash = false;
    FRangePart = -1;
    if (FJoinType == jtCrossJoin || FJoinType == jtUnionJoin)
        return;
    const TJoinMethod forced = FOwner->ForcedMethod();
    // An inner join hashes the smaller side when both sides are tables.
    auto hashSmallerSide = [&]() {
        if (FJoinType == jtInnerJoin && FDriving->IsSingleTable() && FSearched->IsSingleTable() &&
            FSearched->GetRecordCount() > FDriving->GetRecordCount()) {
            std::swap(FDriving, FSearched);
            orient();
        }
    };
    if (forced == TJoinMethod::Hash || forced == TJoinMethod::Auto) {
        if (forced == TJoinMethod::Auto && (FRangePart = IndexedPart()) >= 0) {
            if (!HashBeatsIndexedLoop()) {
                FMethod = TJoinMethod::IndexedRange;
                return;
            }
            FRangePart = -1;
        }
        if (HashApplies()) {
            hashSmallerSide();
            if (HashApplies()) {
                FMethod = TJoinMethod::Hash;
                // Past the connection's budget the keys go to its temporary
                // database, searched through an index there.
                TVekDataBase* db = SearchedLeaf()->Bridge()->DataBase();
                FSpillHash = db && EstimatedHashBytes() > db->ResultMemoryBudget();
                return;
            }
        }
        return;
    }
    if (forced == TJoinMethod::IndexedRange && (FRangePart = IndexedPart()) >= 0)
        FMethod = TJoinMethod::IndexedRange;
}

// The indexed loop searches the index once per driving row and reads each
// match at its own place in the file; the hash join reads both sides once,
// in order. Without statistics a key join is taken to pair each row of the
// larger side with about one row of the other: a driving row then meets
// searched rows / driving table rows matches, at least one (one at most
// through a unique index). Reading a row
// in order costs about 0.7 of a random read from cached pages (far less
// once the table outgrows the page cache), a tree search about two. A hash
// past the connection's budget goes to the temporary database and is
// searched through an index there: no better than the table's own index.
bool TJoinEvaluator::HashBeatsIndexedLoop()
{
    if (!HashApplies() || !FDriving->IsSingleTable())
        return false;
    auto* driving = static_cast<TVekNonJoinDataProvider*>(FDriving);
    const double drivingTable = driving->GetRecordCount();
    const double searched = FSearched->GetRecordCount();
    if (drivingTable <= 0 || searched <= 0)
        return false;
    // The driving rows: all of them, the count of a selection the indexes
    // answer whole, else a quarter of the table.
    double probes = drivingTable;
    if (driving->SelectRoot()) {
        TVekDatasetBridge* bridge = driving->Bridge();
        if (driving->SelectionOptLevel() == olFull && bridge && bridge->DataSetIsOpen())
            probes = bridge->GetCurrentRecordCount();
        else
            probes = drivingTable / 4;
    }
    // A unique index on the key alone has at most one match.
    bool unique = false;
    TVekDatasetBridge* searchedBridge = static_cast<TVekNonJoinDataProvider*>(FSearched)->Bridge();
    if (TIndexManager* indexes = searchedBridge->IndexManager())
        if (TIndexItem* def = indexes->FindIndex(FRangeIndex))
            unique = def->Unique() &&
                     searchedBridge->GetIndexFieldsFromKeyFields(FRangeIndex).find(';') == std::string::npos;
    const double perProbe = unique ? 1.0 : std::max(1.0, searched / drivingTable);
    const double indexedLoop = probes * (2 + perProbe);
    const double hashJoin = 0.7 * searched;
    if (hashJoin >= indexedLoop)
        return false;
    // The side the hash would hold: the smaller one of an inner join.
    const double hashed = FJoinType == jtInnerJoin ? std::min(searched, drivingTable) : searched;
    TVekDataBase* db = driving->Bridge() ? driving->Bridge()->DataBase() : nullptr;
    return !db || static_cast<double>(EstimatedHashBytes()) / searched * hashed <= db->ResultMemoryBudget();
}

TVekNonJoinDataProvider* TJoinEvaluator::SearchedLeaf() const
{
    return FSearched->IsSingleTable() ? static_cast<TVekNonJoinDataProvider*>(FSearched) : nullptr;
}

Int64 TJoinEvaluator::EstimatedHashBytes()
{
    // Per row: the hash's own share, and the bytes of a key too long to
    // sit in its slot.
    Int64 perRow = static_cast<Int64>(TJoinHash::BytesPerRow);
    Int64 keyBytes = 0;
    for (const TKeyPart& part : FKeys)
        keyBytes += part.KeyClass == TJoinKeyClass::String ? 4 + part.SearchedField->FieldSize() : 8;
    if (keyBytes != 8)
        perRow += 4 + keyBytes;
    return perRow * std::max<Int64>(FSearched->GetRecordCount(), 0);
}

void TJoinEvaluator::ResetState()
{
    FPass = 1;
    FDrivingValid = false;
    FRowStarted = false;
    FMatchedThisRow = false;
    FDeliveredNullRow = false;
    FPassTwoStarted = false;
    FMatched.clear();
    if (TVekNonJoinDataProvider* leaf = SearchedLeaf()) {
        TVekDatasetBridge* bridge = leaf->Bridge();
        const bool file = !bridge->Memory() && bridge->TableDef() && bridge->TableDef()->RecordSize() > 0;
        FMatchedAddresses.Reset(file ? static_cast<Cardinal>(bridge->TableDef()->RecordSize()) : 1);
    } else {
        FMatchedAddresses.Reset(1);
    }
    FCandidates.clear();
    FCandidatePos = 0;
}

bool TJoinEvaluator::RowKey(bool Driving, std::string& Key)
{
    Key.clear();
    for (const TKeyPart& part : FKeys) {
        TVekNonJoinDataProvider* leaf = Driving ? part.DrivingLeaf : part.SearchedLeaf;
        TInternalFieldItem* field = Driving ? part.DrivingField : part.SearchedField;
        leaf->GetRawFieldData(field->FieldNo(), FHolder);
        if (FHolder.IsNull || FHolder.UsesStream)
            return false;
        AppendCanonical(Key, field->DataType(), FHolder);
    }
    return true;
}

bool TJoinEvaluator::ImagesFit()
{
    auto* leaf = static_cast<TVekNonJoinDataProvider*>(FSearched);
    TVekDatasetBridge* bridge = leaf->Bridge();
    if (FSpillHash || !bridge || !bridge->DataSetIsOpen())
        return false;
    TInternalFields* fields = bridge->GetInternalFields();
    for (int i = 0; i < fields->Count(); ++i)
        if (IsBlobFieldType(fields->GetIndex(i)->DataType()))
            return false;
    // Images and hash within the connection's budget.
    const Int64 imageBytes = Int64{bridge->InternalGetRecordSize()} * std::max<Int64>(FSearched->GetRecordCount(), 0);
    TVekDataBase* db = bridge->DataBase();
    return db && imageBytes + EstimatedHashBytes() <= db->ResultMemoryBudget();
}

void TJoinEvaluator::BuildHash()
{
    FHash.Clear();
    FKeyStore.reset();
    FImageAddresses.clear();
    FImages.clear();
    auto* leaf = static_cast<TVekNonJoinDataProvider*>(FSearched);
    if (FSpillHash)
        FKeyStore = std::make_unique<TJoinKeyStore>(leaf->Bridge()->DataBase()->TemporaryDatabase());
    FKeepImages = ImagesFit();
    FImageSize = FKeepImages ? static_cast<std::size_t>(leaf->Bridge()->InternalGetRecordSize()) : 0;
    std::string key;
    for (bool ok = leaf->FirstProviderRecord(); ok; ok = leaf->NextProviderRecord()) {
        if (!RowKey(false, key))
            continue;
        if (FKeyStore) {
            FKeyStore->Add(key, leaf->Bridge()->GetRecAddr());
        } else if (FKeepImages) {
            FHash.Add(key, static_cast<Cardinal>(FImageAddresses.size()));
            FImageAddresses.push_back(leaf->Bridge()->GetRecAddr());
            const Byte* image = leaf->Bridge()->CurrentBuffer();
            FImages.insert(FImages.end(), image, image + FImageSize);
        } else {
            FHash.Add(key, leaf->Bridge()->GetRecAddr());
        }
    }
    FHash.Finish();
    FHashBuilt = true;
}

bool TJoinEvaluator::PairMatches()
{
    if (!FCondition)
        return true;
    FCondition->Reset();
    return FCondition->EvaluatePasses();
}

bool TJoinEvaluator::NextCandidate()
{
    auto* leaf = static_cast<TVekNonJoinDataProvider*>(FSearched);
    while (FCandidatePos < FCandidates.size()) {
        const Cardinal candidate = FCandidates[FCandidatePos++];
        if (FKeepImages)
            leaf->MoveToRecordImage(FImageAddresses[candidate], &FImages[candidate * FImageSize]);
        else
            leaf->MoveToRecordAddress(candidate, false);
        if (PairMatches())
            return true;
    }
    return false;
}

bool TJoinEvaluator::FirstMatch()
{
    switch (FMethod) {
    case TJoinMethod::Hash: {
        if (!FHashBuilt)
            BuildHash();
        FCandidates.clear();
        FCandidatePos = 0;
        std::string key;
        if (RowKey(true, key)) {
            if (FKeyStore)
                FKeyStore->Lookup(key, FCandidates);
            else
                FHash.Lookup(key, FCandidates);
        }
        return NextCandidate();
    }
    case TJoinMethod::IndexedRange: {
        const TKeyPart& part = FKeys[static_cast<std::size_t>(FRangePart)];
        auto* leaf = static_cast<TVekNonJoinDataProvider*>(FSearched);
        const Variant value = part.DrivingLeaf->GetDataAsVariant(part.DrivingField->FieldNo());
        // NULL never matches; a string longer than the searched field
        // equals none of its values.
        if (VarIsMissing(value) ||
            (JoinKeyClassOf(part.SearchedField->DataType()) == TJoinKeyClass::String &&
             static_cast<Integer>(VarToStr(value).size()) > part.SearchedField->GetWriteableFieldSize()))
            return false;
        leaf->SetSearchRange(FRangeIndex, value);
        bool ok = leaf->FirstProviderRecord();
        while (ok && !PairMatches())
            ok = leaf->NextProviderRecord();
        return ok;
    }
    default: {
        bool ok = FSearched->FirstProviderRecord();
        while (ok && !PairMatches())
            ok = FSearched->NextProviderRecord();
        return ok;
    }
    }
}

bool TJoinEvaluator::NextMatch()
{
    if (FMethod == TJoinMethod::Hash)
        return NextCandidate();
    bool ok = FSearched->NextProviderRecord();
    while (ok && !PairMatches())
        ok = FSearched->NextProviderRecord();
    return ok;
}

bool TJoinEvaluator::Step(bool First)
{
    const bool preserving =
        FJoinType == jtLeftOuterJoin || FJoinType == jtRightOuterJoin || FJoinType == jtFullOuterJoin;
    if (First) {
        ResetState();
        FDriving->SetForcedNull(false);
        FSearched->SetForcedNull(false);
        if (FRangePart >= 0)
            static_cast<TVekNonJoinDataProvider*>(FSearched)->ClearSearchRange();
        if (FJoinType == jtUnionJoin)
            FSearched->SetForcedNull(true);
        FDrivingValid = FDriving->FirstProviderRecord();
    }
    for (;;) {
        if (FPass == 1) {
            if (!FDrivingValid) {
                if (FJoinType != jtFullOuterJoin && FJoinType != jtUnionJoin)
                    return false;
                // Pass 2: the searched side's rows (a full join: those not
                // matched in pass 1) with NULLs on the driving side; the
                // searched side carries no range of pass 1.
                FPass = 2;
                FPassTwoStarted = false;
                FDriving->SetForcedNull(true);
                FSearched->SetForcedNull(false);
                if (FRangePart >= 0)
                    static_cast<TVekNonJoinDataProvider*>(FSearched)->ClearSearchRange();
                continue;
            }
            if (FJoinType == jtUnionJoin) {
                if (!FRowStarted) {
                    FRowStarted = true;
                    return true;
                }
                FRowStarted = false;
                FDrivingValid = FDriving->NextProviderRecord();
                continue;
            }
            if (!FDeliveredNullRow) {
                const bool found = FRowStarted ? NextMatch() : FirstMatch();
                if (!FRowStarted) {
                    FRowStarted = true;
                    FMatchedThisRow = false;
                }
                if (found) {
                    FMatchedThisRow = true;
                    if (FJoinType == jtFullOuterJoin) {
                        if (TVekNonJoinDataProvider* leaf = SearchedLeaf())
                            FMatchedAddresses.Insert(leaf->Bridge()->GetRecAddr());
                        else
                            FMatched.insert(FSearched->CurrentRecordIDAsString());
                    }
                    return true;
                }
                if (preserving && !FMatchedThisRow) {
                    FDeliveredNullRow = true;
                    FSearched->SetForcedNull(true);
                    return true;
                }
            }
            if (FDeliveredNullRow) {
                FSearched->SetForcedNull(false);
                FDeliveredNullRow = false;
            }
            FRowStarted = false;
            FDrivingValid = FDriving->NextProviderRecord();
            continue;
        }
        bool ok = FPassTwoStarted ? FSearched->NextProviderRecord() : FSearched->FirstProviderRecord();
        FPassTwoStarted = true;
        if (FJoinType == jtFullOuterJoin) {
            if (TVekNonJoinDataProvider* leaf = SearchedLeaf())
                while (ok && FMatchedAddresses.Contains(leaf->Bridge()->GetRecAddr()))
                    ok = FSearched->NextProviderRecord();
            else
                while (ok && FMatched.count(FSearched->CurrentRecordIDAsString()) != 0)
                    ok = FSearched->NextProviderRecord();
        }
        return ok;
    }
}

} // namespace orvex
