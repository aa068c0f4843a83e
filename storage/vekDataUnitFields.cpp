// Field lists, the record layout, search fields and blob states.

#include "storage/vekDataUnit.h"

#include "host/Streaming.h"
#include "host/SysUtils.h"

#include <algorithm>

namespace orvex {

namespace {

// The size that SetDataType gives FieldSize, -1 for a type that cannot be
// stored. Strings and byte arrays get 0: their size is declared by the caller.
Integer StoredCoreSize(TFieldType DataType)
{
    switch (DataType) {
    case ftString:
    case ftBytes:
        return 0;
    case ftBoolean:
        return 1;
    case ftSmallint:
    case ftWord:
        return 2;
    case ftInteger:
    case ftAutoInc:
        return 4;
    case ftFloat:
    case ftCurrency:
    case ftDate:
    case ftTime:
    case ftDateTime:
        return 8;
    case ftBlob:
    case ftMemo:
    case ftGraphic:
    case ftFmtMemo:
        return BlobReferenceSize;
    default:
        return -1;
    }
}

} // namespace

std::string FieldTypeName(TFieldType DataType)
{
    const int ord = static_cast<int>(DataType);
    return ord >= 0 && ord < FieldTypeCount ? FieldTypeNames[ord] : IntToStr(ord);
}

const std::vector<std::string>& FieldTypeIdentifiers()
{
    static const std::vector<std::string> names{
        "ftUnknown",   "ftString",    "ftSmallint",  "ftInteger",     "ftWord",     "ftBoolean",
        "ftFloat",     "ftCurrency",  "ftBCD",       "ftDate",        "ftTime",     "ftDateTime",
        "ftBytes",     "ftVarBytes",  "ftAutoInc",   "ftBlob",        "ftMemo",     "ftGraphic",
        "ftFmtMemo",   "ftParadoxOle", "ftDBaseOle", "ftTypedBinary", "ftCursor",   "ftFixedChar",
        "ftWideString", "ftLargeint", "ftADT",       "ftArray",       "ftReference", "ftDataSet",
        "ftOraBlob",   "ftOraClob",   "ftVariant",   "ftInterface",   "ftIDispatch", "ftGuid",
    };
    return names;
}

// ======================================================= TInternalFieldItem

TInternalFieldItem::TInternalFieldItem(TCollection* Collection) : TCollectionItem(Collection) {}

void TInternalFieldItem::Assign(TPersistent* Source)
{
    auto* src = dynamic_cast<TInternalFieldItem*>(Source);
    if (src == nullptr) {
        TCollectionItem::Assign(Source);
        return;
    }
    FFieldName = src->FFieldName;
    FFieldNo = src->FFieldNo;
    FFieldIndex = src->FFieldIndex;
    FDataType = src->FDataType;
    FFieldSize = src->FFieldSize;
    FNumDecimalPlaces = src->FNumDecimalPlaces;
    FRequired = src->FRequired;
    FSizeMarkerOffset = src->FSizeMarkerOffset;
    FDataOffset = src->FDataOffset;
    FNullFlagOffset = src->FNullFlagOffset;
    FIsVariable = src->FIsVariable;
    FFieldGeneratorID = src->FFieldGeneratorID;
    FHidden = src->FHidden;
    FCompressionMode = src->FCompressionMode;
    FSourceField = src->FSourceField;
    FPrivilegeFlags = src->FPrivilegeFlags;
}

void TInternalFieldItem::PublishProperties(TPropertyList& List)
{
    TCollectionItem::PublishProperties(List);
    using T = TInternalFieldItem;
    List.AddString("FieldName", this, &T::FieldName, &T::SetFieldName);
    List.AddInteger("FieldNo", this, &T::FieldNo, &T::SetFieldNo);
    List.AddInteger("FieldIndex", this, &T::FieldIndex, &T::SetFieldIndex);
    List.AddEnumeration("DataType", FieldTypeIdentifiers(), this, &T::DataType, &T::SetDataType);
    List.AddInteger("FieldSize", this, &T::FieldSize, &T::SetFieldSize);
    List.AddInteger("NumDecimalPlaces", this, &T::NumDecimalPlaces, &T::SetNumDecimalPlaces);
    List.AddBoolean("Required", this, &T::Required, &T::SetRequired);
    List.AddInteger("SizeMarkerOffset", this, &T::SizeMarkerOffset, &T::SetSizeMarkerOffset);
    List.AddInteger("DataOffset", this, &T::DataOffset, &T::SetDataOffset);
    List.AddInteger("NullFlagOffset", this, &T::NullFlagOffset, &T::SetNullFlagOffset);
    List.AddBoolean("IsVariable", this, &T::IsVariable, &T::SetIsVariable);
    List.AddInteger("FieldGeneratorID", this, &T::FieldGeneratorID, &T::SetFieldGeneratorID);
    List.AddBoolean("Hidden", this, &T::Hidden, &T::SetHidden);
    List.AddEnumeration("CompressionMode", {"dcNone", "dcZLib", "dcCustom", "dcUnknown"}, this,
                        &T::CompressionMode, &T::SetCompressionMode);
}

Integer TInternalFieldItem::GetWriteableFieldSize() const
{
    switch (FDataType) {
    case ftString:
        return FFieldSize - 1;
    case ftWideString:
        return (FFieldSize - 2) / 2;
    default:
        return FFieldSize;
    }
}

void TInternalFieldItem::SetDataType(TFieldType Value)
{
    const Integer size = StoredCoreSize(Value);
    if (size < 0)
        VekDatabaseError(10000, "TInternalFieldItem.SetDataType", FieldTypeName(Value), nullptr);
    FDataType = Value;
    FFieldSize = size;
}

// ========================================================== TInternalFields

TInternalFields::TInternalFields() : TInternalFields(ItemClassOf<TInternalFieldItem>()) {}

TInternalFields::TInternalFields(TCollectionItemClass ItemClass) : TCollection(std::move(ItemClass))
{
}

TInternalFieldItem* TInternalFields::Add()
{
    auto* item = static_cast<TInternalFieldItem*>(TCollection::Add());
    item->SetFieldGeneratorID(Random(2147483647));
    return item;
}

TInternalFieldItem* TInternalFields::GetField(int Index) const
{
    ORVEX_ASSERT(Index >= 0 && Index < Count(), "Invalid field index in GetField");
    return GetIndex(FFieldIndexTable[Index]);
}

Integer TInternalFields::GetFieldIndexValue(int Index) const
{
    ORVEX_ASSERT(Index >= 0 && Index < MaxInternalFields, "Invalid field index");
    return FFieldIndexTable[Index];
}

TInternalFieldItem* TInternalFields::FindField(const std::string& Name) const
{
    for (int i = 0; i < Count(); ++i)
        if (AnsiSameText(GetIndex(i)->FieldName(), Name))
            return GetIndex(i);
    return nullptr;
}

TInternalFieldItem* TInternalFields::FindSourceField(const std::string& Name) const
{
    for (int i = 0; i < Count(); ++i)
        if (AnsiSameText(GetIndex(i)->SourceField(), Name))
            return GetIndex(i);
    return nullptr;
}

void TInternalFields::SetDefaultOffsets()
{
    Integer p = RecordPrefixSize + Count();
    for (int i = 0; i < Count(); ++i) {
        TInternalFieldItem* item = GetIndex(i);
        Integer size;
        if (item->DataType() == ftString || item->DataType() == ftWideString) {
            item->SetSizeMarkerOffset(p);
            p += 2;
            size = item->FieldSize();
        } else if (item->DataType() == ftBytes) {
            item->SetSizeMarkerOffset(0);
            size = item->FieldSize();
        } else {
            item->SetSizeMarkerOffset(0);
            size = std::max<Integer>(StoredCoreSize(item->DataType()), 0);
            item->SetFieldSize(size);
        }
        item->SetDataOffset(p);
        item->SetNullFlagOffset(RecordPrefixSize + i);
        p += size;
    }
    FRecordSize = p;
}

void TInternalFields::Open()
{
    // Every FieldIndex must name one position of the list, once: checked in
    // full before the list changes, so a bad list is refused before use.
    if (Count() > MaxInternalFields)
        VekDatabaseError(8581, "TInternalFields.Open", "Invalid field index", nullptr);
    std::array<bool, MaxInternalFields> seen{};
    for (int i = 0; i < Count(); ++i) {
        const Integer fieldIndex = GetIndex(i)->FieldIndex();
        if (fieldIndex < 0 || fieldIndex >= Count())
            VekDatabaseError(8581, "TInternalFields.Open", "Invalid field index", nullptr);
        if (seen[fieldIndex])
            VekDatabaseError(8581, "TInternalFields.Open", "Field indexes degenerate", nullptr);
        seen[fieldIndex] = true;
    }

    FAutoIncFieldNo = -1;
    for (int i = 0; i < Count(); ++i) {
        const TInternalFieldItem* item = GetIndex(i);
        if (!FUsesBlobs)
            FUsesBlobs = IsBlobFieldType(item->DataType());
        if (item->DataType() == ftAutoInc)
            FAutoIncFieldNo = item->FieldIndex();
    }
    FFieldIndexTable.fill(0);
    for (int i = 0; i < Count(); ++i)
        FFieldIndexTable[GetIndex(i)->FieldIndex()] = i;
}

void TInternalFields::Assign(TPersistent* Source)
{
    if (auto* src = dynamic_cast<TInternalFields*>(Source)) {
        Clear();
        for (int i = 0; i < src->Count(); ++i) {
            Add()->Assign(src->GetIndex(i));
            if (i < MaxInternalFields)
                FFieldIndexTable[i] = src->FFieldIndexTable[i];
        }
    } else {
        TCollection::Assign(Source);
    }
    FRecordSize = 0;
    FUsesBlobs = false;
    FAutoIncFieldNo = -1;
}

// ============================================================ search fields

TSearchFieldItem::TSearchFieldItem(TCollection* Collection) : TInternalFieldItem(Collection) {}

void TSearchFieldItem::Assign(TPersistent* Source)
{
    TInternalFieldItem::Assign(Source);
    if (auto* src = dynamic_cast<TSearchFieldItem*>(Source))
        FInIndex = src->FInIndex;
}

TSearchFields::TSearchFields() : TInternalFields(ItemClassOf<TSearchFieldItem>()) {}

// ==================================================================== blobs

TBlob::TBlob(TCollection* Collection) : TCollectionItem(Collection), FBlobStream(new TMemoryStream)
{
}

TBlob::~TBlob()
{
    delete FBlobStream;
}

void TBlob::SetRecID(Cardinal Value)
{
    if (FRecID == Value)
        return;
    FRecID = Value;
    if (auto* mgr = dynamic_cast<TBlobMgr*>(Collection()))
        mgr->KeyChanged(this);
}

void TBlob::SetFieldNo(Integer Value)
{
    if (FFieldNo == Value)
        return;
    FFieldNo = Value;
    if (auto* mgr = dynamic_cast<TBlobMgr*>(Collection()))
        mgr->KeyChanged(this);
}

TBlobMgr::TBlobMgr() : TCollection(ItemClassOf<TBlob>()) {}

void TBlobMgr::SetItems(int Index, TBlob* Value)
{
    TBlob* item = GetItems(Index);
    if (item == Value)
        return;
    item->SetRecID(Value->RecID());
    item->SetFieldNo(Value->FieldNo());
    item->SetState(Value->State());
    item->BlobStream()->LoadFromStream(Value->BlobStream());
}

TBlob* TBlobMgr::FindBlob(Cardinal RecID, Integer FieldNo) const
{
    if (RecID == 0) {
        // Any record: the first of the field in list order (the record
        // manager's own list, one blob per blob field).
        for (int i = 0; i < Count(); ++i) {
            TBlob* blob = GetItems(i);
            if (blob->FieldNo() == FieldNo)
                return blob;
        }
        return nullptr;
    }
    IndexPending();
    const auto found = FIndex.find(KeyOf(RecID, FieldNo));
    if (found == FIndex.end())
        return nullptr;
    const std::vector<TCollectionItem*>& items = found->second;
    TCollectionItem* first = items.front();
    if (items.size() > 1) {
        // Duplicates: the one that comes first in the list.
        int firstIndex = first->Index();
        for (TCollectionItem* item : items) {
            const int index = item->Index();
            if (index < firstIndex) {
                first = item;
                firstIndex = index;
            }
        }
    }
    return static_cast<TBlob*>(first);
}

void TBlobMgr::Notify(TCollectionItem* Item, TCollectionNotification Action)
{
    // The item is not a constructed TBlob here (see the class comment):
    // only its address is used.
    if (Action == cnAdded)
        FPending.insert(Item);
    else if (Action == cnExtracting)
        Unindex(Item);
    TCollection::Notify(Item, Action);
}

void TBlobMgr::IndexPending() const
{
    for (TCollectionItem* item : FPending) {
        const auto* blob = static_cast<const TBlob*>(item);
        const std::uint64_t key = KeyOf(blob->RecID(), blob->FieldNo());
        FKeys[item] = key;
        FIndex[key].push_back(item);
    }
    FPending.clear();
}

void TBlobMgr::Unindex(TCollectionItem* Item) const
{
    if (FPending.erase(Item) != 0)
        return;
    const auto filed = FKeys.find(Item);
    if (filed == FKeys.end())
        return;
    const auto bucket = FIndex.find(filed->second);
    if (bucket != FIndex.end()) {
        std::erase(bucket->second, Item);
        if (bucket->second.empty())
            FIndex.erase(bucket);
    }
    FKeys.erase(filed);
}

void TBlobMgr::KeyChanged(TBlob* Blob)
{
    // A pending item's key is read when it is indexed.
    if (FPending.contains(Blob))
        return;
    Unindex(Blob);
    const std::uint64_t key = KeyOf(Blob->RecID(), Blob->FieldNo());
    FKeys[Blob] = key;
    FIndex[key].push_back(Blob);
}

void TBlobMgr::InvalidateStreams()
{
    for (int i = 0; i < Count(); ++i)
        GetItems(i)->SetState(bsInvalid);
}

TBlobState TBlobMgr::CheckBlobStates() const
{
    if (Count() == 0)
        return bsNone;
    bool modified = false;
    for (int i = 0; i < Count(); ++i) {
        const TBlobState state = GetItems(i)->State();
        if (state == bsInvalid)
            return bsInvalid;
        modified = modified || state == bsModified;
    }
    return modified ? bsModified : bsValid;
}

} // namespace orvex
