// TVekDataSet: building a definition from restructure definitions, moving
// whole records in from another layout, and the lists of records that the
// query side and filters walk.

#include "dataset/vekDataSet.h"

#include "storage/vekByteOrder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

namespace orvex {

void TVekDataSet::SetTableDefFromRSDefs(bool AMemory, TRestructureFieldDefs* AFieldDefs,
                                        TRestructureIndexDefs* AIndexDefs)
{
    TVekTableDefSettings settings;
    settings.TableName = FTableName;
    settings.TableOwner = FTableOwner;
    settings.SortOrder = FSortOrder;
    settings.BlobBlockSize = FBlobBlockSize;
    settings.BlobCompression = FBlobCompression;
    settings.EncryptionLevel = FEncryptionLevel;
    VekSetTableDefFromRSDefs(FTableDef.get(), AMemory, AFieldDefs, AIndexDefs, settings,
                             "TVekDataSet.SetTableDefFromRSDefs", this);
}

void TVekDataSet::TransferRecord(const Byte* RecBuf, TInternalFields* SourceFields, Integer BufNo,
                                 Integer BufCount, bool& Continue)
{
    Continue = true;
    if (!RecBuf || RecBuf[rpoStatus] == 0)
        return;
    CheckInternalActive();
    Byte* image = FCurBuf.data();
    std::memset(image, 0, FCurBuf.size());
    std::memcpy(image, RecBuf, RecordPrefixSize);
    TInternalFields* fields = FRecordMgr->InternalFields();
    for (int i = 0; i < fields->Count(); ++i) {
        TInternalFieldItem* item = fields->GetIndex(i);
        TInternalFieldItem* source = SourceFields->FindField(item->FieldName());
        if (!source || source->DataType() != item->DataType())
            continue;
        image[item->NullFlagOffset()] = RecBuf[source->NullFlagOffset()];
        Integer size = std::min(item->FieldSize(), source->FieldSize());
        if (item->IsVariable() && source->IsVariable() && item->SizeMarkerOffset() > 0 &&
            source->SizeMarkerOffset() > 0) {
            size = std::min<Integer>(ReadLE16(RecBuf + source->SizeMarkerOffset()), size);
            WriteLE16(image + item->SizeMarkerOffset(), static_cast<Word>(size));
        }
        std::memcpy(image + item->DataOffset(), RecBuf + source->DataOffset(), static_cast<std::size_t>(size));
    }
    WriteLE32(image + rpoOwnerTag, FOwnerTag);
    const bool taken = InternalSetWriteLock();
    try {
        FRecordMgr->AddRecord(image);
        FTableDef->TableHeader()->SetDirty(true);
        InvalidateReadAhead();
        FReadAhead->SetRecordCountValid(false);
        FFilterMgr->Reset();
    } catch (...) {
        ReleaseIfTaken(taken);
        throw;
    }
    ReleaseIfTaken(taken);
    (void)BufNo;
    (void)BufCount;
}

void TVekDataSet::GetIndexFieldNamesList(TStrings* Strings)
{
    Strings->Clear();
    if (!FOpen) {
        for (int i = 0; i < FTableDef->InternalIndexDefs()->Count(); ++i) {
            TInternalIndexDef* def = FTableDef->InternalIndexDefs()->GetItems(i);
            if (def->Hidden())
                continue;
            std::string fields;
            for (int k = 0; k < FTableDef->KeyFields()->Count(); ++k) {
                TKeyFieldItem* key = FTableDef->KeyFields()->GetItems(k);
                if (!key->Hidden() && SameText(key->IndexName(), def->IndexName()))
                    fields += (fields.empty() ? "" : ";") + key->FieldName();
            }
            Strings->Add(fields);
        }
        return;
    }
    for (int i = 0; i < FIndexMgr->Count(); ++i)
        if (!FIndexMgr->GetItems(i)->Hidden())
            Strings->Add(GetIndexFieldsFromKeyFields(FIndexMgr->GetItems(i)->IndexName()));
}

Integer TVekDataSet::InternalPrepareMasterAddressList(std::vector<Cardinal>& Addresses, Integer Limit)
{
    Addresses.clear();
    TIndexItem* index = CurrentIndex();
    const bool taken = InternalSetReadLock();
    Integer first = 1;
    try {
        FCursorAddr = 0;
        if (!FRangeOn) {
            // No range: every entry of the index, read leaf by leaf in one
            // pass (no cursor step per record).
            if (index->SetRecordNo(1) != 0) {
                first = index->GetRecordNo();
                Addresses.reserve(
                    static_cast<std::size_t>(std::clamp<Integer>(index->GetRecordCount(false), 0, Limit)));
                index->Tree()->ListAddresses(Limit, Addresses);
            }
        } else if (FRangeNotEmpty) {
            index->CopyKeyBuffer(FRangeKey[rmRangeStart].data(), FRangeFlags[rmRangeStart]);
            bool ok = index->FullIndexSearch(stGE) == 0;
            if (ok)
                first = index->GetRecordNo();
            std::vector<Byte> key(static_cast<std::size_t>(index->MaximumKeySize() + 1), 0);
            while (ok && static_cast<Integer>(Addresses.size()) < Limit) {
                std::memcpy(key.data(), index->GetCurrentKeyBuf(), static_cast<std::size_t>(index->MaximumKeySize()));
                if (index->CompareKeyBuffers(FRangeKey[rmRangeEnd].data(), key.data(), FRangeFlags[rmRangeEnd], {}) < 0)
                    break;
                Addresses.push_back(index->GetRecordAddress());
                ok = index->NextKey();
            }
        }
    } catch (...) {
        ReleaseIfTaken(taken);
        throw;
    }
    ReleaseIfTaken(taken);
    return first;
}

Integer TVekDataSet::InternalPrepareMasterRecordList(TCompoundList* List)
{
    List->Clear();
    std::vector<Cardinal> addresses;
    const Integer first = InternalPrepareMasterAddressList(addresses);
    // The companions are the record numbers, one after the other.
    const int count = static_cast<int>(addresses.size());
    List->List1()->SetCapacity(count);
    List->List2()->SetCapacity(count);
    for (int i = 0; i < count; ++i)
        List->Add(reinterpret_cast<void*>(static_cast<std::uintptr_t>(addresses[static_cast<std::size_t>(i)])),
                  reinterpret_cast<void*>(static_cast<std::intptr_t>(first + i)));
    return first;
}

void TVekDataSet::LoadCompleteListOfRecords(TList* List)
{
    TCompoundList records;
    InternalPrepareMasterRecordList(&records);
    for (int i = 0; i < records.Count(); ++i)
        List->Add(records.Items(i));
}

} // namespace orvex

namespace orvex {

namespace {

// A field's value as the hashes hold it: a string's characters, else the
// field's bytes; false when the field is null.
bool HashValue(const TInternalFieldItem* Field, const Byte* RecBuf, const Byte*& Data, Integer& Size)
{
    if (RecBuf[Field->NullFlagOffset()] != nfValue)
        return false;
    Data = RecBuf + Field->DataOffset();
    Size = Field->FieldSize();
    if (Field->IsVariable() && Field->SizeMarkerOffset() > 0)
        Size = std::min<Integer>(ReadLE16(RecBuf + Field->SizeMarkerOffset()), Field->FieldSize());
    return true;
}

} // namespace

void TVekDataSet::LoadHashListOfRecords(TVekBaseHash* Hash, TList* List, bool Flag)
{
    TInternalFieldItem* field = FRecordMgr->InternalFields()->FindField(Hash->SourceFieldName);
    ORVEX_ASSERT(field != nullptr, "Field not found in LoadHashListOfRecords: " + Hash->SourceFieldName);
    std::vector<Byte> image(static_cast<std::size_t>(FRecordSize), 0);
    auto addRecord = [&](Cardinal Address) {
        FRecordMgr->ReadRecord(Address, image.data(), false);
        const Byte* data = nullptr;
        Integer size = 0;
        if (HashValue(field, image.data(), data, size))
            Hash->Add(data, size, static_cast<Integer>(Address));
    };
    if (FFilterMgr->Active() && List) {
        // The records that pass the filter.
        const std::vector<Byte> saved = FCurBuf;
        std::vector<Cardinal> addresses;
        for (bool ok = DataSetFirst(); ok; ok = DataSetNext())
            addresses.push_back(DatasetGetRecAddr());
        FCurBuf = saved;
        FCursorAddr = 0;
        if (!Flag)
            std::sort(addresses.begin(), addresses.end());
        for (Cardinal address : addresses)
            List->Add(reinterpret_cast<void*>(static_cast<std::uintptr_t>(address)));
        if (!Flag) {
            const bool taken = InternalSetReadLock();
            try {
                for (Cardinal address : addresses)
                    addRecord(address);
            } catch (...) {
                ReleaseIfTaken(taken);
                throw;
            }
            ReleaseIfTaken(taken);
        }
        return;
    }
    // An index with the field as a key field fills the hash from its keys.
    TIndexItem* keyed = nullptr;
    Integer keyFieldNo = -1;
    auto keyPosition = [&](TIndexItem* Index) {
        for (int k = 0; k < Index->KeyFields()->Count(); ++k)
            if (!Index->KeyFields()->GetItems(k)->Hidden() &&
                SameText(Index->KeyFields()->GetItems(k)->FieldName(), field->FieldName()))
                return static_cast<Integer>(k);
        return Integer{-1};
    };
    TIndexItem* current = CurrentIndex();
    if ((keyFieldNo = keyPosition(current)) >= 0)
        keyed = current;
    for (int i = 0; i < FIndexMgr->Count() && !keyed; ++i)
        if ((keyFieldNo = keyPosition(FIndexMgr->GetItems(i))) >= 0)
            keyed = FIndexMgr->GetItems(i);
    const bool taken = InternalSetReadLock();
    try {
        if (keyed) {
            if (keyed == current)
                FCursorAddr = 0;
            if (keyed->SetRecordNo(1) != 0)
                keyed->FillHashTable(keyFieldNo, Hash);
        } else {
            TCompoundList records;
            InternalPrepareMasterRecordList(&records);
            records.SortList1();
            for (int i = 0; i < records.Count(); ++i)
                addRecord(static_cast<Cardinal>(reinterpret_cast<std::uintptr_t>(records.Items(i))));
        }
    } catch (...) {
        ReleaseIfTaken(taken);
        throw;
    }
    ReleaseIfTaken(taken);
}

} // namespace orvex
