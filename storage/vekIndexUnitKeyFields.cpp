// Key fields and the maximum key size.

#include "storage/vekIndexUnit.h"

#include "host/Streaming.h"
#include "host/SysUtils.h"
#include "storage/vekCommon.h"
#include "storage/vekConsts.h"
#include "storage/vekDataUnit.h"

namespace orvex {

bool IsIndexableFieldType(TFieldType DataType)
{
    switch (DataType) {
    case ftString:
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftBoolean:
    case ftFloat:
    case ftCurrency:
    case ftDate:
    case ftTime:
    case ftDateTime:
    case ftAutoInc:
    case ftWideString:
        return true;
    default:
        return false;
    }
}

// ============================================================ TKeyFieldItem

TKeyFieldItem::TKeyFieldItem(TCollection* Collection) : TCollectionItem(Collection) {}

void TKeyFieldItem::Assign(TPersistent* Source)
{
    auto* src = dynamic_cast<TKeyFieldItem*>(Source);
    if (src == nullptr) {
        TCollectionItem::Assign(Source);
        return;
    }
    ORVEX_ASSERT(!((src->FDataType == ftString || src->FDataType == ftWideString) &&
                   src->FSizeMarkerOffset == 0),
                 "Internal status error in assign KeyField");
    FFieldName = src->FFieldName;
    FDataType = src->FDataType;
    FFieldSize = src->FFieldSize;
    FCaseInsensitive = src->FCaseInsensitive;
    FDescending = src->FDescending;
    FIsVariable = src->FIsVariable;
    FRecBufOffset = src->FRecBufOffset;
    FNullFlagOffset = src->FNullFlagOffset;
    FSizeMarkerOffset = src->FSizeMarkerOffset;
    FPhysicalFieldNo = src->FPhysicalFieldNo;
    FIndexName = src->FIndexName;
    FHidden = src->FHidden;
    FKeyIndex = src->FKeyIndex;
}

void TKeyFieldItem::AssignFromField(const TInternalFieldItem* Field)
{
    FFieldName = Field->FieldName();
    FDataType = Field->DataType();
    FFieldSize = Field->FieldSize();
    FIsVariable = Field->IsVariable();
    FRecBufOffset = Field->DataOffset();
    FNullFlagOffset = Field->NullFlagOffset();
    FSizeMarkerOffset = Field->SizeMarkerOffset();
    FPhysicalFieldNo = Field->FieldIndex();
}

void TKeyFieldItem::SetAsRecordIDKey()
{
    FHidden = true;
    FDataType = ftInteger;
    FFieldSize = 4;
    FRecBufOffset = rpoRecordID;
    FNullFlagOffset = rpoStatus;
    FPhysicalFieldNo = -1;
}

void TKeyFieldItem::PublishProperties(TPropertyList& List)
{
    TCollectionItem::PublishProperties(List);
    using T = TKeyFieldItem;
    List.AddString("FieldName", this, &T::FieldName, &T::SetFieldName);
    List.AddEnumeration("DataType", FieldTypeIdentifiers(), this, &T::DataType, &T::SetDataType);
    List.AddInteger("FieldSize", this, &T::FieldSize, &T::SetFieldSize);
    List.AddBoolean("CaseInsensitive", this, &T::CaseInsensitive, &T::SetCaseInsensitive);
    List.AddBoolean("Descending", this, &T::Descending, &T::SetDescending);
    List.AddBoolean("IsVariable", this, &T::IsVariable, &T::SetIsVariable);
    List.AddInteger("RecBufOffset", this, &T::RecBufOffset, &T::SetRecBufOffset);
    List.AddInteger("NullFlagOffset", this, &T::NullFlagOffset, &T::SetNullFlagOffset);
    List.AddInteger("SizeMarkerOffset", this, &T::SizeMarkerOffset, &T::SetSizeMarkerOffset);
    List.AddInteger("PhysicalFieldNo", this, &T::PhysicalFieldNo, &T::SetPhysicalFieldNo);
    List.AddString("IndexName", this, &T::IndexName, &T::SetIndexName);
    List.AddBoolean("Hidden", this, &T::Hidden, &T::SetHidden);
    List.AddInteger("KeyIndex", this, &T::KeyIndex, &T::SetKeyIndex);
}

// =============================================================== TKeyFields

TKeyFields::TKeyFields() : TCollection(ItemClassOf<TKeyFieldItem>()) {}

TKeyFieldItem* TKeyFields::FindField(const std::string& Name) const
{
    for (int i = 0; i < Count(); ++i)
        if (AnsiSameText(GetItems(i)->FieldName(), Name))
            return GetItems(i);
    return nullptr;
}

Integer TKeyFields::FindFieldCountForIndex(const std::string& IndexName) const
{
    Integer count = 0;
    for (int i = 0; i < Count(); ++i)
        if (AnsiSameText(GetItems(i)->IndexName(), IndexName))
            ++count;
    return count;
}

void TKeyFields::Assign(TPersistent* Source)
{
    auto* src = dynamic_cast<TKeyFields*>(Source);
    if (src == nullptr) {
        TCollection::Assign(Source);
        return;
    }
    Clear();
    for (int i = 0; i < src->Count(); ++i)
        Add()->Assign(src->GetItems(i));
    FDataOffset = src->FDataOffset;
}

Integer CalculateMaximumKeySize(const TKeyFields* KeyFields)
{
    Integer size = KeyInfoSize;
    for (int i = 0; i < KeyFields->Count(); ++i) {
        const TKeyFieldItem* field = KeyFields->GetItems(i);
        // Byte arrays and blobs have no order: an index over one could not
        // place its keys.
        if (!IsIndexableFieldType(field->DataType()))
            VekDatabaseError(10117, "CalculateMaximumKeySize",
                             field->FieldName() + ": " + FieldTypeName(field->DataType()), nullptr);
        size += CalculateCoreDataSize(field->DataType());
        if (field->DataType() == ftString || field->DataType() == ftWideString)
            size += field->FieldSize();
    }
    return size;
}

} // namespace orvex
