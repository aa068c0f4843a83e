// TVekDataSet: building a definition from restructure definitions, moving
// whole records in from another layout, and the lists of records that the
// query side and filters walk.

#include "dataset/vekDataSet.h"

#include "storage/vekByteOrder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

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

Integer TVekDataSet::InternalPrepareMasterRecordList(TCompoundList* List)
{
    List->Clear();
    TIndexItem* index = CurrentIndex();
    const bool taken = InternalSetReadLock();
    Integer first = 1;
    try {
        FCursorAddr = 0;
        bool ok = false;
        if (FRangeOn) {
            if (FRangeNotEmpty) {
                index->CopyKeyBuffer(FRangeKey[rmRangeStart].data(), FRangeFlags[rmRangeStart]);
                ok = index->FullIndexSearch(stGE) == 0;
            }
        } else {
            ok = index->SetRecordNo(1) != 0;
        }
        if (ok)
            first = index->GetRecordNo();
        Integer recNo = first;
        std::vector<Byte> key(static_cast<std::size_t>(index->MaximumKeySize() + 1), 0);
        while (ok) {
            if (FRangeOn) {
                std::memcpy(key.data(), index->GetCurrentKeyBuf(), static_cast<std::size_t>(index->MaximumKeySize()));
                if (index->CompareKeyBuffers(FRangeKey[rmRangeEnd].data(), key.data(), FRangeFlags[rmRangeEnd], {}) < 0)
                    break;
            }
            List->Add(reinterpret_cast<void*>(static_cast<std::uintptr_t>(index->GetRecordAddress())),
                      reinterpret_cast<void*>(static_cast<std::intptr_t>(recNo++)));
            ok = index->NextKey();
        }
    } catch (...) {
        ReleaseIfTaken(taken);
        throw;
    }
    ReleaseIfTaken(taken);
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
