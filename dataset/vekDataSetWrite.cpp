// TVekDataSet: adding, updating and deleting records with their keys and
// blobs, emptying a table, and the blob fields of record buffers.
//
// Every write is all or nothing: the keys are checked before anything is
// written, and when a later step fails the steps already made are undone
// (keys put back, the record image restored or released, new blob chains
// released), so the file never keeps half a record.

#include "dataset/vekDataSet.h"

#include "host/DBConsts.h"
#include "storage/vekByteOrder.h"

#include <algorithm>
#include <cstring>

namespace orvex {

namespace {

constexpr Integer ErrInternal = 8581;
constexpr Integer ErrRecordChanged = 8708;
constexpr Integer ErrNoCurrentRecord = 8710;
constexpr Integer ErrKeyViolation = 9729;
constexpr Integer ErrBlobField = 10753;
constexpr Integer ErrLimit = 9482;
constexpr Integer MaxAutoIncValue = 0x7FFFFFFF;

using TChains = std::vector<std::pair<Cardinal, Integer>>;

// Runs every undo step, dropping their own failures: the first error is the
// one the caller reports.
template <class F>
void Quietly(F&& Step)
{
    try {
        Step();
    } catch (...) {
    }
}

} // namespace

// ============================================================= edit copies

void TVekDataSet::BeginEditCopy()
{
    FEditOriginal = FCurBuf;
    FEditCopyValid = true;
}

void TVekDataSet::EndEditCopy()
{
    FEditCopyValid = false;
}

// ================================================================== adding

void TVekDataSet::AddRecord(bool AssignAutoInc)
{
    CheckInternalActive();
    CheckPrivilegePresent(TablePrivileges(), dpInsertData);
    const bool taken = InternalSetWriteLock();
    try {
        TTableHeader* header = FTableDef->TableHeader();
        TInternalFields* fields = FRecordMgr->InternalFields();
        Byte* image = FCurBuf.data();

        // Auto-increment value.
        const Integer autoIncNo = fields->AutoIncFieldNo();
        Cardinal newAutoInc = header->RecordAutoIncVal();
        if (autoIncNo >= 0) {
            TInternalFieldItem* item = Field(autoIncNo);
            // The values are Integers: the counter stops at the largest one
            // rather than wrapping to negative numbers.
            const auto current = static_cast<Integer>(header->RecordAutoIncVal());
            if (AssignAutoInc) {
                if (current >= MaxAutoIncValue)
                    VekDatabaseError(ErrLimit, "TVekDataSet.AddRecord",
                                     "The auto-increment value of " + FTableName + " has reached its largest value",
                                     this);
                const Cardinal next = static_cast<Cardinal>(std::max(current, 0) + 1);
                WriteLE32(image + item->DataOffset(), next);
                image[item->NullFlagOffset()] = nfValue;
                newAutoInc = next;
            } else if (image[item->NullFlagOffset()] == nfValue) {
                const auto given = static_cast<Integer>(ReadLE32(image + item->DataOffset()));
                newAutoInc = static_cast<Cardinal>(std::max(given, current));
            }
        }

        // Identity.
        const Cardinal recordID = header->LogicalRecordNo() + 1;
        image[rpoStatus] = 1;
        WriteLE32(image + rpoOwnerTag, FOwnerTag);
        WriteLE32(image + rpoRecordID, recordID);
        WriteLE32(image + rpoModCounter, 0);

        // Every key must be new before anything is written. The checks may
        // leave their paths on lent pages for the inserts below; when no
        // insert follows, every tree gives its pages back.
        try {
            for (int i = 0; i < FIndexMgr->Count(); ++i) {
                TIndexItem* index = FIndexMgr->GetItems(i);
                index->CreateKeyBuffer(image, {});
                if (index->InsertCheckSearch() == 0)
                    VekDatabaseErrorFmt(ErrKeyViolation, "TVekDataSet.AddRecord", SvekIndexFmt,
                                        {index->IndexName()}, this);
            }
        } catch (...) {
            for (int i = 0; i < FIndexMgr->Count(); ++i)
                FIndexMgr->GetItems(i)->ForgetLentPath();
            throw;
        }
        FCursorAddr = 0;

        const std::vector<Byte> before = FCurBuf;
        TChains newChains;
        Cardinal address = 0;
        int inserted = 0;
        try {
            WriteBlobsToInterface(false, &newChains, nullptr);
            address = FRecordMgr->AddRecord(image);
            if (address == 0)
                VekDatabaseError(ErrInternal, "TVekDataSet.AddRecord", "Add record. RecAddr = 0", this);
            // Each tree still holds the key and the path of its check above.
            for (; inserted < FIndexMgr->Count(); ++inserted) {
                TIndexItem* index = FIndexMgr->GetItems(inserted);
                if (index->InsertKey(address) != 0)
                    VekDatabaseError(ErrInternal, "TVekDataSet.AddRecord",
                                     "Failed to add key to " + index->IndexName(), this);
            }
        } catch (...) {
            for (int i = 0; i < inserted; ++i)
                Quietly([&] {
                    TIndexItem* index = FIndexMgr->GetItems(i);
                    index->CreateKeyBuffer(image, {});
                    if (index->FullIndexSearch(stEQ) == 0)
                        index->DeleteKey();
                });
            if (address != 0)
                Quietly([&] { FRecordMgr->DeleteRecord(address); });
            Quietly([&] { DeleteChains(newChains); });
            FCurBuf = before;
            FIndexMgr->InvalidateInternalBuffers();
            throw;
        }

        if (autoIncNo >= 0)
            header->SetRecordAutoIncVal(newAutoInc);
        header->SetLogicalRecordNo(recordID);
        header->SetDirty(true);
        RecordWritten(address);
        FReadAhead->SetRecordCountValid(false);
        FFilterMgr->Reset();
    } catch (...) {
        ReleaseIfTaken(taken);
        throw;
    }
    ReleaseIfTaken(taken);
}

void TVekDataSet::RecordWritten(Cardinal Address)
{
    FRecordMgr->BlobMgr()->InvalidateStreams();
    FRecState = rbsRead;
    ForgetRangeEnds();
    // The record's address; its position in the current index is found when
    // a move or a record number needs it.
    WriteLE32(FCurBuf.data() + FRecordSize + eioRecAddr, Address);
    WriteLE32(FCurBuf.data() + FRecordSize + eioRecNo, 0);
    WriteLE32(FCurBuf.data() + FRecordSize + eioKeyFlag, kfOrdinary);
    FCursorAddr = 0;
    FFilterMgr->Reset();
    ValidateRecBufPostDataChange();
    InvalidateReadAhead();
    ClearBlobCache();
}

// ================================================================ updating

void TVekDataSet::UpdateRecord()
{
    CheckInternalActive();
    CheckPrivilegePresent(TablePrivileges(), dpUpdateData);
    if (FRecState == rbsNone)
        VekDatabaseError(ErrNoCurrentRecord, "TVekDataSet.UpdateRecord", "", this);
    const std::vector<Byte> original =
        FEditCopyValid ? FEditOriginal : std::vector<Byte>(FCurBuf.begin(), FCurBuf.end());
    const Cardinal address = ReadLE32(original.data() + FRecordSize + eioRecAddr);
    bool taken = false;
    try {
        taken = InternalSetWriteLock();
        Byte* image = FCurBuf.data();

        // The stored record must still be the one read.
        std::vector<Byte> stored(static_cast<std::size_t>(EngineBufferSize()), 0);
        if (address == 0 || !RecordAddressValid(address))
            VekDatabaseError(ErrRecordChanged, "TVekDataSet.UpdateRecord", "", this);
        FRecordMgr->ReadRecord(address, stored.data(), false);
        if (!InternalCheckRecordFlags(stored.data(), original.data(), true, true))
            VekDatabaseError(ErrRecordChanged, "TVekDataSet.UpdateRecord", "", this);
        // The identity stays the stored one whatever the buffer holds.
        std::memcpy(image, stored.data(), RecordPrefixSize);

        // Note the indexes whose key bytes change; only those are searched
        // and moved. The bytes, not the index's order, decide: a key that
        // only changes case under a case-insensitive index is stored anew.
        // A changed key must not belong to another record.
        std::vector<bool> changed(static_cast<std::size_t>(FIndexMgr->Count()), false);
        std::vector<Byte> oldKey, newKey;
        for (int i = 0; i < FIndexMgr->Count(); ++i) {
            TIndexItem* index = FIndexMgr->GetItems(i);
            const auto keySize = static_cast<std::size_t>(index->MaximumKeySize());
            oldKey.assign(keySize + 1, 0);
            newKey.assign(keySize + 1, 0);
            index->CreateTempKeyBuffer(original.data(), oldKey.data(), {});
            index->CreateTempKeyBuffer(image, newKey.data(), {});
            if (std::memcmp(oldKey.data(), newKey.data(), keySize) == 0)
                continue;
            changed[static_cast<std::size_t>(i)] = true;
            index->CreateKeyBuffer(image, {});
            if (index->FullIndexSearch(stEQ) == 0 && index->GetRecordAddress() != address)
                VekDatabaseErrorFmt(ErrKeyViolation, "TVekDataSet.UpdateRecord", SvekIndexFmt,
                                    {index->IndexName()}, this);
        }
        FCursorAddr = 0;

        WriteLE32(image + rpoModCounter, ReadLE32(stored.data() + rpoModCounter) + 1);
        const std::vector<Byte> before = FCurBuf;
        TChains newChains, oldChains;
        bool imageWritten = false;
        int done = 0;
        bool oldRemoved = false;
        auto fail = [&](const std::string& prefix, TIndexItem* index, int position) {
            VekDatabaseError(ErrInternal, "TVekDataSet.UpdateRecord",
                             prefix + index->IndexName() + ". Index " + IntToStr(position), this);
        };
        try {
            WriteBlobsToInterface(false, &newChains, &oldChains);
            FRecordMgr->UpdateRecord(address, image);
            imageWritten = true;
            for (; done < FIndexMgr->Count(); ++done) {
                if (!changed[static_cast<std::size_t>(done)])
                    continue;
                TIndexItem* index = FIndexMgr->GetItems(done);
                oldRemoved = false;
                index->CreateKeyBuffer(original.data(), {});
                if (index->FullIndexSearch(stEQ) != 0)
                    fail("Key not found in Index - ", index, done);
                if (index->DeleteKey() != 0)
                    fail("Failed to delete key from Index ", index, done);
                oldRemoved = true;
                index->CreateKeyBuffer(image, {});
                if (index->FullIndexSearch(stEQ) == 0)
                    fail("Unexpected key violation on update- Index ", index, done);
                if (index->InsertKey(address) != 0)
                    fail("Failed to add key to index - Index ", index, done);
            }
        } catch (...) {
            // Put every index back as it was, then the image and the blobs.
            for (int i = 0; i <= done && i < FIndexMgr->Count(); ++i) {
                if (!changed[static_cast<std::size_t>(i)])
                    continue;
                TIndexItem* index = FIndexMgr->GetItems(i);
                const bool newIn = i < done;
                const bool oldOut = i < done || oldRemoved;
                Quietly([&] {
                    if (newIn) {
                        index->CreateKeyBuffer(image, {});
                        if (index->FullIndexSearch(stEQ) == 0)
                            index->DeleteKey();
                    }
                    if (oldOut) {
                        index->CreateKeyBuffer(original.data(), {});
                        if (index->FullIndexSearch(stEQ) != 0)
                            index->InsertKey(address);
                    }
                });
            }
            if (imageWritten)
                Quietly([&] {
                    std::vector<Byte> restore(stored);
                    FRecordMgr->UpdateRecord(address, restore.data());
                });
            Quietly([&] { DeleteChains(newChains); });
            FCurBuf = before;
            WriteLE32(FCurBuf.data() + rpoModCounter, ReadLE32(stored.data() + rpoModCounter));
            FIndexMgr->InvalidateInternalBuffers();
            throw;
        }
        // The old chains go only once the new record stands.
        Quietly([&] { DeleteChains(oldChains); });
        FTableDef->TableHeader()->SetDirty(true);
        RecordWritten(address);
        EndEditCopy();
    } catch (...) {
        Quietly([&] { ReleaseIfTaken(taken); });
        Quietly([&] { InternalReleaseRecordLock(address); });
        throw;
    }
    ReleaseIfTaken(taken);
    InternalReleaseRecordLock(address);
}

// ================================================================ deleting

Integer TVekDataSet::DeleteRecord(const Byte* RecBuf)
{
    CheckInternalActive();
    CheckPrivilegePresent(TablePrivileges(), dpDeleteData);
    const bool taken = InternalSetWriteLock();
    Integer result = 0;
    try {
        const Cardinal address = DatasetGetRecAddr();
        std::vector<Byte> stored(static_cast<std::size_t>(EngineBufferSize()), 0);
        bool present = address != 0 && RecordAddressValid(address);
        if (present) {
            FRecordMgr->ReadRecord(address, stored.data(), false);
            present = InternalCheckRecordValid(stored.data());
        }
        if (!present || (RecBuf && !InternalCheckRecordFlags(stored.data(), RecBuf, true, true))) {
            result = -1;
        } else {
            // Every index must hold the record. Each search leaves its
            // tree's path on the key, and the deletes below use that path:
            // the trees are apart, so no delete moves another tree's path.
            for (int i = 0; i < FIndexMgr->Count(); ++i) {
                TIndexItem* index = FIndexMgr->GetItems(i);
                index->CreateKeyBuffer(stored.data(), {});
                if (index->FullIndexSearch(stEQ) != 0 || index->GetRecordAddress() != address)
                    VekDatabaseErrorFmt(ErrRecordChanged, "TVekDataSet.DeleteRecord", SvekIndexFmt,
                                        {index->IndexName()}, this);
            }
            FCursorAddr = 0;
            int removed = 0;
            try {
                for (; removed < FIndexMgr->Count(); ++removed) {
                    TIndexItem* index = FIndexMgr->GetItems(removed);
                    // The same key as the check's; the tree searches again
                    // only when its path no longer stands on that key.
                    index->CreateKeyBuffer(stored.data(), {});
                    if (index->DeleteKey() != 0)
                        VekDatabaseError(ErrInternal, "TVekDataSet.DeleteRecord",
                                         "Failed to delete key from " + index->IndexName(), this);
                }
                FRecordMgr->DeleteRecord(address);
            } catch (...) {
                for (int i = 0; i < removed; ++i)
                    Quietly([&] {
                        TIndexItem* index = FIndexMgr->GetItems(i);
                        index->CreateKeyBuffer(stored.data(), {});
                        if (index->FullIndexSearch(stEQ) != 0)
                            index->InsertKey(address);
                    });
                FIndexMgr->InvalidateInternalBuffers();
                throw;
            }
            // The record is gone; its blob chains follow.
            TInternalFields* fields = FRecordMgr->InternalFields();
            for (int i = 0; i < fields->Count(); ++i) {
                TInternalFieldItem* item = fields->GetIndex(i);
                if (!IsBlobFieldType(item->DataType()) || stored[static_cast<std::size_t>(item->NullFlagOffset())] != nfValue)
                    continue;
                const Cardinal chain = ReadLE32(stored.data() + item->DataOffset());
                if (chain != 0 && FBlobsOpen)
                    Quietly([&] { FBlobInterface->DeleteBlob(chain, 0); });
            }
            FTableDef->TableHeader()->SetDirty(true);

            FRecState = rbsNone;
            ForgetRangeEnds();
            InvalidateReadAhead();
            FReadAhead->SetRecordCountValid(false);
            FFilterMgr->Reset();
            ClearBlobCache();
            // Stand on the record that now follows the deleted key, else the
            // one before it.
            std::memcpy(FCurBuf.data(), stored.data(), static_cast<std::size_t>(FRecordSize));
            WriteLE32(FCurBuf.data() + FRecordSize + eioKeyFlag, kfOrdinary);
            TIndexItem* current = CurrentIndex();
            if (SearchIndex(current, FCurBuf.data(), stGE, nullptr, true) == 0 ||
                SearchIndex(current, FCurBuf.data(), stLE, nullptr, true) == 0) {
                ReadCurrentFromIndex(current);
                ValidateRecBufPostDataChange();
            } else {
                WriteLE32(FCurBuf.data() + FRecordSize + eioRecAddr, 0);
                FRecState = rbsNone;
            }
        }
    } catch (...) {
        ReleaseIfTaken(taken);
        throw;
    }
    ReleaseIfTaken(taken);
    return result;
}

// ================================================================ emptying

void TVekDataSet::DataSetEmptyTable()
{
    CheckInternalActive();
    CheckPrivilegePresent(TablePrivileges(), dpDeleteData);
    // Records, blobs and every index go together or not at all.
    if (FDataBase)
        FDataBase->RunMaintenance("TVekDataSet.DataSetEmptyTable", FMemory, [&] { InternalEmptyTable(); });
    else
        InternalEmptyTable();
}

void TVekDataSet::InternalEmptyTable()
{
    const bool taken = InternalSetWriteLock();
    const bool lockDb = !FMemory && FDataBase && !FDataBase->Locked();
    try {
        if (lockDb)
            FDataBase->SetLocked(true);
        // The old trees give their pages back to the index pages' free
        // chain, then every index starts again empty.
        for (int i = 0; i < FIndexMgr->Count(); ++i)
            FIndexMgr->EmptyIndex(FIndexMgr->GetItems(i)->IndexName());
        TBaseIOInterface* records = FTableDef->RecordInterface();
        records->Empty(true);
        records->SetFirstEmpty(0);
        records->SetFirstEmptyValid(true);
        if (FBlobsOpen) {
            FTableDef->BlobInterface()->Empty(true);
            FTableDef->BlobInterface()->SetFirstEmpty(0);
            FTableDef->BlobInterface()->SetFirstEmptyValid(true);
        }
        TTableHeader* header = FTableDef->TableHeader();
        header->SetLogicalRecordNo(0);
        header->SetDirty(true);
        FCursorAddr = 0;
        FIndexMgr->InvalidateInternalBuffers();
        InvalidateReadAhead();
        FReadAhead->SetRecordCountValid(false);
        FFilterMgr->Reset();
        ClearBlobCache();
        ForgetRangeEnds();
        InitializeNewRecord(FCurBuf.data(), false);
        FRecordMgr->BlobMgr()->InvalidateStreams();
        FRecState = rbsNone;
    } catch (...) {
        if (lockDb)
            Quietly([&] { FDataBase->SetLocked(false); });
        ReleaseIfTaken(taken);
        throw;
    }
    if (lockDb)
        FDataBase->SetLocked(false);
    ReleaseIfTaken(taken);
}

// =================================================================== blobs

TBlob* TVekDataSet::FindFieldBlob(Integer FieldNo) const
{
    return FRecordMgr->BlobMgr()->FindBlob(0, FieldNo);
}

void TVekDataSet::DataSetGetFieldStream(Integer FieldNo, bool& IsNull, TStream* Stream)
{
    DataSetGetFieldStreamFromRecBuf(FCurBuf.data(), FieldNo, IsNull, Stream);
}

void TVekDataSet::DataSetGetFieldStreamFromRecBuf(const Byte* RecBuf, Integer FieldNo, bool& IsNull,
                                                  TStream* Stream)
{
    TInternalFieldItem* item = Field(FieldNo);
    if (!IsBlobFieldType(item->DataType()))
        VekDatabaseError(ErrInternal, "TVekDataSet.DataSetGetFieldStream",
                         "Unable to use this method to access non-blob fields", this);
    TBlob* blob = FindFieldBlob(FieldNo);
    if (!blob)
        VekDatabaseError(ErrInternal, "TVekDataSet.DataSetGetFieldStream",
                         "Blob field can not be found " + IntToStr(FieldNo), this);
    if (blob->State() != bsInvalid && blob->State() != bsNone) {
        TMemoryStream* source = blob->BlobStream();
        IsNull = source->Size() == 0;
        if (Stream) {
            source->SetPosition(0);
            Stream->CopyFrom(source, source->Size());
            source->SetPosition(0);
        }
        return;
    }
    IsNull = RecBuf[item->NullFlagOffset()] != nfValue;
    if (IsNull || !Stream)
        return;
    const Cardinal address = ReadLE32(RecBuf + item->DataOffset());
    const Cardinal length = ReadLE32(RecBuf + item->DataOffset() + 4);
    ORVEX_ASSERT(address > 0, "GetFieldStream. Blob address = 0");
    ++FBlobChainReads;
    const bool taken = InternalSetReadLock();
    try {
        if (auto* memory = dynamic_cast<TMemoryStream*>(Stream)) {
            const Int64 start = memory->Position();
            memory->SetSize(start + length);
            memory->SetPosition(start);
            if (FBlobInterface->ReadBlob(address, memory) != static_cast<Int64>(length))
                VekDatabaseError(ErrInternal, "TVekDataSet.DataSetGetFieldStream",
                                 "Unexpected error in reading blob data", this);
        } else {
            FBlobInterface->ReadBlob(address, Stream);
        }
    } catch (...) {
        ReleaseIfTaken(taken);
        throw;
    }
    ReleaseIfTaken(taken);
}

void TVekDataSet::DataSetSetFieldStream(Integer FieldNo, bool IsNull, TStream* Stream)
{
    DataSetSetFieldStreamFromRecBuf(FCurBuf.data(), FieldNo, IsNull, Stream);
}

void TVekDataSet::DataSetSetFieldStreamFromRecBuf(const Byte* RecBuf, Integer FieldNo, bool IsNull,
                                                  TStream* Stream)
{
    TInternalFieldItem* item = Field(FieldNo);
    // A blob of a new record is part of adding it; one of a stored record
    // (the buffer knows its address) is an update.
    const bool stored = ReadLE32(RecBuf + FRecordSize + eioRecAddr) != 0;
    CheckPrivilegePresent(FieldPrivileges(item), stored ? dpUpdateData : dpInsertData);
    if (!IsBlobFieldType(item->DataType()))
        VekDatabaseError(ErrBlobField, "TVekDataSet.DataSetSetFieldStream", item->FieldName(), this);
    TBlob* blob = FindFieldBlob(FieldNo);
    if (!blob)
        VekDatabaseError(ErrBlobField, "TVekDataSet.DataSetSetFieldStream", item->FieldName(), this);
    TMemoryStream* target = blob->BlobStream();
    if (!IsNull && Stream && Stream->Size() > 0) {
        target->Clear();
        Stream->SetPosition(0);
        target->CopyFrom(Stream, Stream->Size());
        target->SetPosition(0);
        blob->SetState(bsModified);
    } else {
        target->Clear();
        // An empty value: the stored chain goes at post; a record without
        // one changes nothing, but the value is known to be empty.
        blob->SetState(bsModified);
        if (RecBuf[item->NullFlagOffset()] != nfValue || ReadLE32(RecBuf + item->DataOffset()) == 0)
            blob->SetState(bsValid);
    }
}

void TVekDataSet::DeleteChains(const std::vector<std::pair<Cardinal, Integer>>& Chains)
{
    for (const auto& chain : Chains)
        if (chain.first != 0)
            FBlobInterface->DeleteBlob(chain.first, chain.second);
}

void TVekDataSet::WriteBlobsToInterface(bool Deleting, std::vector<std::pair<Cardinal, Integer>>* NewChains,
                                        std::vector<std::pair<Cardinal, Integer>>* OldChains)
{
    TBlobMgr* blobs = FRecordMgr->BlobMgr();
    Byte* image = FCurBuf.data();
    for (int i = 0; i < blobs->Count(); ++i) {
        TBlob* blob = blobs->GetItems(i);
        TInternalFieldItem* item = FRecordMgr->InternalFields()->GetField(blob->FieldNo());
        if (!item)
            VekDatabaseError(ErrInternal, "TVekDataSet.WriteBlobsToInterface", "Blob field not found", this);
        if (Deleting) {
            blob->BlobStream()->Clear();
            blob->SetState(bsModified);
        }
        if (blob->State() != bsModified)
            continue;
        const bool stored = image[item->NullFlagOffset()] == nfValue;
        const Cardinal oldAddress = stored ? ReadLE32(image + item->DataOffset()) : 0;
        const Cardinal oldLength = stored ? ReadLE32(image + item->DataOffset() + 4) : 0;
        TMemoryStream* stream = blob->BlobStream();
        Cardinal address = 0;
        Cardinal length = 0;
        if (stream->Size() > 0) {
            // A new chain; the old one is released once the record stands.
            stream->SetPosition(0);
            address = FBlobInterface->InsertBlob(stream);
            length = static_cast<Cardinal>(stream->Size());
            stream->SetPosition(0);
            if (NewChains)
                NewChains->emplace_back(address, static_cast<Integer>(length));
        }
        if (oldAddress != 0) {
            if (OldChains)
                OldChains->emplace_back(oldAddress, static_cast<Integer>(oldLength));
            else
                FBlobInterface->DeleteBlob(oldAddress, static_cast<Integer>(oldLength));
        }
        WriteLE32(image + item->DataOffset(), address);
        WriteLE32(image + item->DataOffset() + 4, length);
        image[item->NullFlagOffset()] = length != 0 ? nfValue : nfNull;
    }
}

bool TVekDataSet::GetBlobCacheData(const Byte* RecBuf, Integer FieldNo, TStream* Stream)
{
    if (!BlobCacheEnabled || State() != dsBrowse)
        return false;
    const Cardinal address = ReadLE32(RecBuf + FRecordSize + eioRecAddr);
    if (address == 0)
        return false;
    TBlob* entry = FBlobCache->FindBlob(address, FieldNo);
    if (!entry)
        return false;
    TMemoryStream* source = entry->BlobStream();
    source->SetPosition(0);
    Stream->CopyFrom(source, source->Size());
    return true;
}

void TVekDataSet::SetBlobCacheData(const Byte* RecBuf, Integer FieldNo, TStream* Stream)
{
    if (!BlobCacheEnabled || State() != dsBrowse)
        return;
    const Cardinal address = ReadLE32(RecBuf + FRecordSize + eioRecAddr);
    if (address == 0)
        return;
    const Int64 size = Stream->Size();
    // An older entry of this blob makes way for the new data.
    if (TBlob* old = FBlobCache->FindBlob(address, FieldNo)) {
        FBlobCacheBytes -= old->BlobStream()->Size();
        FBlobCache->Delete(old->Index());
    }
    if (size > BlobCacheMaxBytes)
        return;
    // Full: start again rather than keep every blob of a long scan.
    if (FBlobCache->Count() >= BlobCacheMaxEntries || FBlobCacheBytes + size > BlobCacheMaxBytes)
        ClearBlobCache();
    TBlob* entry = FBlobCache->Add();
    entry->SetRecID(address);
    entry->SetFieldNo(FieldNo);
    const Int64 position = Stream->Position();
    Stream->SetPosition(0);
    entry->BlobStream()->CopyFrom(Stream, size);
    Stream->SetPosition(position);
    entry->SetState(bsValid);
    FBlobCacheBytes += entry->BlobStream()->Size();
}

void TVekDataSet::ClearBlobCache()
{
    if (FBlobCache)
        FBlobCache->Clear();
    FBlobCacheBytes = 0;
}

} // namespace orvex
