// TVekDataSet: restructuring a table, rebuilding its indexes, rebuilding it
// from a backup copy of the database file, and the record-by-record copy
// between two datasets that the rebuilds use.
//
// Every restructure and table rebuild first copies the whole database file
// to a ".vkx" backup of its own beside it (written through to the disk; an
// earlier backup is never overwritten); the copy is the source the records
// move from. The change itself is one maintenance transaction: a failure
// or a cancel leaves the table as it was. A record the copy cannot add is
// logged; once the copy is complete the operation raises 10012 naming how
// many records were left out and the backup that keeps them.

#include "dataset/vekDataSet.h"
#include "dataset/vekSecurity.h"

#include "host/DBConsts.h"
#include "host/SysUtils.h"
#include "storage/vekByteOrder.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace orvex {

namespace {

constexpr Integer ErrNotInitialised = 8576;
constexpr Integer ErrInternal = 8581;
constexpr Integer ErrKeyViolation = 9729;
constexpr Integer ErrRestructure = 10012;
constexpr Integer ErrPrivilege = 10624;
constexpr Integer PrivAlterObject = 16;

template <class F>
void Quietly(F&& Step)
{
    try {
        Step();
    } catch (...) {
        // Clean-up after a failure: the first error is the one to report.
    }
}

void Log(const std::string& Caller, const std::string& Text)
{
    if (GDBLogger)
        GDBLogger->LogItem(Caller, Text);
}

// Reports round(Position * 100 / Count) whenever it changes. The handler is
// looked up at every report and called through a copy, so that it may
// replace or clear itself while it runs. A cancel raises VekErrCancelled,
// which the maintenance transaction rolls back (a memory table's re-index
// puts its old trees back); where nothing can be undone (a copy into a
// memory table) a cancel is not offered: the operation runs to its end.
class TProgress {
public:
    TProgress(const TUpdateProgressProc& Proc, std::size_t Count, bool Cancellable, TObject* Sender,
              const char* Context)
        : FProc(Proc), FCount(Count), FCancellable(Cancellable), FSender(Sender), FContext(Context)
    {
    }
    void Step(std::size_t Position)
    {
        if (!FProc || FCount == 0)
            return;
        const Integer percent =
            static_cast<Integer>(std::lround(static_cast<double>(Position) * 100.0 / static_cast<double>(FCount)));
        if (percent == FLast)
            return;
        FLast = percent;
        bool cancel = false;
        const TUpdateProgressProc handler = FProc;
        handler(percent, cancel);
        if (cancel && FCancellable)
            VekDatabaseError(VekErrCancelled, FContext,
                             Format("Cancelled by the progress handler at %d%%; nothing was changed", {percent}),
                             FSender);
    }

private:
    const TUpdateProgressProc& FProc;
    std::size_t FCount;
    bool FCancellable;
    TObject* FSender;
    const char* FContext;
    Integer FLast = -1;
};

// Copies the non-deleted items of the restructure definitions into the
// framework definitions.
void FillFieldDefs(TRestructureFieldDefs* From, TFieldDefs* To)
{
    To->Clear();
    for (int i = 0; i < From->Count(); ++i)
        if (From->Items(i)->ChangeStatus() != dcDeleted)
            From->Items(i)->AssignTo(To->AddFieldDef());
}

void FillIndexDefs(TRestructureIndexDefs* From, TIndexDefs* To)
{
    To->Clear();
    for (int i = 0; i < From->Count(); ++i)
        if (From->Items(i)->ChangeStatus() != dcDeleted)
            From->Items(i)->AssignTo(To->AddIndexDef());
}

bool DataMoves(TDefChangeType Status)
{
    return Status == dcAdded || Status == dcDeleted || Status == dcDataChange || Status == dcDataLoss;
}

} // namespace


// ============================================================= restructure

Integer TVekDataSet::InternalRestructureTable(const TInternalRestructureRecord& Request)
{
    constexpr const char* Context = "TVekDataSet.InternalRestructureTable";
    CheckConnected();
    FDataBase->QueryOpenStatus(true, true);
    CheckInternalInactive();
    if (!FDataBase->QueryObjectPrivilegeExists(VekObjectTypeTable, FTableName, PrivAlterObject))
        VekDatabaseError(ErrPrivilege, Context, FTableName, this);
    if (!Request.NewFieldDefs || !Request.NewIndexDefs)
        VekDatabaseErrorFmt(ErrNotInitialised, Context, SvekValueInvalidFmt,
                            {"RestructureDetails.NewFieldDefs"}, this);
    if (!Request.DestFieldDefs || !Request.DestIndexDefs)
        VekDatabaseErrorFmt(ErrNotInitialised, Context, SvekValueInvalidFmt,
                            {"RestructureDetails.DestFieldDefs"}, this);
    // With the auto-increment values renumbered the counter starts again.
    TInternalRestructureRecord stored = Request;
    if (Request.ResetAutoInc && !Request.ChangeAutoIncValue) {
        stored.ChangeAutoIncValue = true;
        stored.AutoIncValue = 0;
    }
    FillFieldDefs(Request.NewFieldDefs, Request.DestFieldDefs);
    FillIndexDefs(Request.NewIndexDefs, Request.DestIndexDefs);

    const std::string backup = FDataBase->BackupDatabase();
    // Everything after the backup is one maintenance transaction: the new
    // definition and the moved records (or the rebuilt indexes) reach the
    // file together, and a failure or a cancel leaves the table as it was.
    Integer result = 0;
    Integer notCopied = 0;
    FDataBase->RunMaintenance(Context, false, [&] {
        const TDefChangeType fieldStatus = Request.NewFieldDefs->ChangeStatus();
        const TDefChangeType indexStatus = Request.NewIndexDefs->ChangeStatus();

        // The current definition: generator IDs by field name, settings.
        TTableDef current(nullptr);
        FDataBase->QueryTableDef(FTableName, false, &current);
        std::map<std::string, Integer> generators;
        for (int i = 0; i < current.InternalFields()->Count(); ++i) {
            TInternalFieldItem* item = current.InternalFields()->GetIndex(i);
            generators[UpperCase(item->FieldName())] = item->FieldGeneratorID();
        }
        auto restoreGenerators = [&](TTableDef* Def, bool BySource) {
            for (int i = 0; i < Def->InternalFields()->Count(); ++i) {
                TInternalFieldItem* item = Def->InternalFields()->GetIndex(i);
                std::string name = item->FieldName();
                if (BySource)
                    if (TRestructureFieldDef* rs = Request.NewFieldDefs->Find(name))
                        name = rs->SourceFieldName();
                auto found = generators.find(UpperCase(name));
                if (found != generators.end())
                    item->SetFieldGeneratorID(found->second);
            }
        };

        // Builds the new definition from the framework definitions and stores it
        // over the table's entry (the storage empties what no longer fits).
        auto storeNewDefinition = [&]() {
            const Integer oldBlobSize = FBlobBlockSize;
            const TSortOrder oldSort = FSortOrder;
            const bool oldCompression = FBlobCompression;
            const TEncryptionLevel oldEncryption = FEncryptionLevel;
            FBlobBlockSize = Request.ChangeBlobSize ? static_cast<Integer>(Request.BlobSize) : current.DefaultBlobSize();
            FSortOrder = Request.ChangeSortOrder ? Request.SortOrder : current.SortOrder();
            FBlobCompression = Request.ChangeBlobCompression ? Request.BlobCompression : current.BlobCompression();
            FEncryptionLevel = current.EncryptionLevel();
            FTableDef = std::make_unique<TTableDef>(nullptr);
            try {
                SetTableDef(false, Request.DestFieldDefs, Request.DestIndexDefs);
            } catch (...) {
                FBlobBlockSize = oldBlobSize;
                FSortOrder = oldSort;
                FBlobCompression = oldCompression;
                FEncryptionLevel = oldEncryption;
                throw;
            }
            restoreGenerators(FTableDef.get(), true);
            TTableDef temp(nullptr);
            FDataBase->OpenTable(FTableName, &temp);
            try {
                temp.InternalFields()->Assign(FTableDef->InternalFields());
                temp.SetRecordSize(FTableDef->RecordSize());
                temp.SetUsesBlobs(FTableDef->UsesBlobs());
                temp.InternalIndexDefs()->Assign(FTableDef->InternalIndexDefs());
                temp.KeyFields()->Assign(FTableDef->KeyFields());
                temp.SetDefaultBlobSize(FTableDef->DefaultBlobSize());
                temp.SetSortOrder(FTableDef->SortOrder());
                temp.SetBlobCompression(FTableDef->BlobCompression());
                FDataBase->UpdateTableDef(&temp, stored);
            } catch (...) {
                FDataBase->CloseTable(&temp);
                throw;
            }
            FDataBase->CloseTable(&temp);
        };

        // The index path rebuilds the record layout from the new field
        // definitions; with fields renamed or moved as well that layout differs
        // from the stored records', so the records move too.
        if (DataMoves(fieldStatus) || (DataMoves(indexStatus) && fieldStatus != dcNoChange)) {
            storeNewDefinition();
            DataSetOpen();
            try {
                TInternalFields* fields = GetInternalFields();
                for (int i = 0; i < fields->Count(); ++i) {
                    TInternalFieldItem* item = fields->GetIndex(i);
                    TRestructureFieldDef* rs = Request.NewFieldDefs->Find(item->FieldName());
                    item->SetSourceField(rs ? rs->SourceFieldName() : std::string());
                }
                // The copied auto-increment values are kept, unless the request
                // renumbers them or the field is new (it has no values to keep).
                const Integer autoIncNo = fields->AutoIncFieldNo();
                CopyAssignsAutoInc =
                    autoIncNo >= 0 && (Request.ResetAutoInc || fields->GetIndex(autoIncNo)->SourceField().empty());
                result = FDataBase->RebuildTable(FTableName, backup, this);
                CopyAssignsAutoInc = false;
            } catch (...) {
                CopyAssignsAutoInc = false;
                DataSetClose();
                throw;
            }
            DataSetClose();
            notCopied = RawCopyFailures;
        } else if (DataMoves(indexStatus)) {
            storeNewDefinition();
            DataSetOpen();
            try {
                InternalReIndex(false);
            } catch (...) {
                DataSetClose();
                throw;
            }
            DataSetClose();
        } else if (fieldStatus == dcDefOnlyChange || indexStatus == dcDefOnlyChange) {
            TTableDef def(nullptr);
            FDataBase->OpenTable(FTableName, &def);
            try {
                TInternalFields* fields = def.InternalFields();
                if (fields->Count() != Request.NewFieldDefs->Count())
                    VekDatabaseError(ErrInternal, Context,
                                     "Unexpected mismatch in restructure field defs count and table defs count", this);
                for (int i = 0; i < Request.NewFieldDefs->Count(); ++i) {
                    TRestructureFieldDef* rs = Request.NewFieldDefs->Items(i);
                    if (rs->ChangeStatus() != dcDefOnlyChange)
                        continue;
                    TInternalFieldItem* item = nullptr;
                    for (int f = 0; f < fields->Count() && !item; ++f)
                        if (SameText(fields->GetIndex(f)->FieldName(), rs->SourceFieldName()))
                            item = fields->GetIndex(f);
                    if (!item)
                        VekDatabaseError(ErrInternal, Context, "Field def not found for updating", this);
                    if (item->FieldName() != rs->Name()) {
                        // Key fields name their field as well.
                        for (int k = 0; k < def.KeyFields()->Count(); ++k) {
                            TKeyFieldItem* key = def.KeyFields()->GetItems(k);
                            if (SameText(key->FieldName(), item->FieldName()))
                                key->SetFieldName(rs->Name());
                        }
                        item->SetFieldName(rs->Name());
                    }
                    if (item->FieldIndex() != i)
                        item->SetFieldIndex(i);
                    if (item->Required() != rs->Required())
                        item->SetRequired(rs->Required());
                }
                if (indexStatus == dcDefOnlyChange) {
                    for (int i = 0; i < Request.NewIndexDefs->Count(); ++i) {
                        TRestructureIndexDef* rs = Request.NewIndexDefs->Items(i);
                        if (rs->ChangeStatus() != dcDefOnlyChange || !rs->SourceIndexDef() ||
                            rs->SourceIndexDef()->Name() == rs->Name())
                            continue;
                        const std::string oldName = rs->SourceIndexDef()->Name();
                        for (int x = 0; x < def.InternalIndexDefs()->Count(); ++x) {
                            TInternalIndexDef* index = def.InternalIndexDefs()->GetItems(x);
                            if (SameText(index->IndexName(), oldName))
                                index->SetIndexName(rs->Name());
                        }
                        for (int k = 0; k < def.KeyFields()->Count(); ++k) {
                            TKeyFieldItem* key = def.KeyFields()->GetItems(k);
                            if (SameText(key->IndexName(), oldName))
                                key->SetIndexName(rs->Name());
                        }
                    }
                }
                restoreGenerators(&def, false);
                TInternalRestructureRecord none;
                FDataBase->UpdateTableDef(&def, none);
            } catch (...) {
                FDataBase->CloseTable(&def);
                throw;
            }
            FDataBase->CloseTable(&def);
        }
    });
    if (notCopied > 0)
        VekDatabaseError(ErrRestructure, Context,
                         Format("%d records were not copied; the backup %s keeps them", {notCopied, backup}), this);
    return result;
}

// ================================================================ reindex

void TVekDataSet::InternalReIndex(bool IgnoreKeyViolations)
{
    CheckInternalActive();
    if (FDataBase)
        FDataBase->RunMaintenance("TVekDataSet.InternalReIndex", FMemory,
                                  [&] { RebuildIndexes(IgnoreKeyViolations); });
    else
        RebuildIndexes(IgnoreKeyViolations);
}

void TVekDataSet::RebuildIndexes(bool IgnoreKeyViolations)
{
    constexpr const char* Context = "TVekDataSet.InternalReIndex";
    const bool taken = InternalSetWriteLock();
    // A file table's old trees give their pages back first: the maintenance
    // transaction undoes everything on a failure. A memory table has no
    // transaction: its new trees are built beside the old ones, which go
    // only once every record has its keys; a failure or a cancel releases
    // the new trees and puts the old ones back.
    std::vector<std::pair<Cardinal, Integer>> oldTrees;
    const Cardinal cursor = FCursorAddr;
    try {
        std::vector<Cardinal> addresses;
        FTableDef->RecordInterface()->ListBlocks(addresses);
        if (FMemory) {
            FIndexMgr->ReadIndexHeaders(true);
            for (int i = 0; i < FIndexMgr->Count(); ++i) {
                TIndexItem* index = FIndexMgr->GetItems(i);
                oldTrees.emplace_back(index->Root(), index->Depth());
                index->CreateIndex();
                index->Open();
            }
            FIndexMgr->WriteIndexHeaders();
        } else {
            for (int i = 0; i < FIndexMgr->Count(); ++i)
                FIndexMgr->EmptyIndex(FIndexMgr->GetItems(i)->IndexName());
        }
        FTableDef->TableHeader()->SetDirty(true);
        WriteTableHeader();
        FIndexMgr->InvalidateInternalBuffers();
        InvalidateReadAhead();
        FCursorAddr = 0;

        std::vector<Byte> image(static_cast<std::size_t>(FRecordSize), 0);
        std::vector<bool> violated(static_cast<std::size_t>(FIndexMgr->Count()));
        TProgress progress(OnUpdateProgress, addresses.size(), true, this, Context);
        for (std::size_t n = 0; n < addresses.size(); ++n) {
            const Cardinal address = addresses[n];
            ReadRecordBuffer(address, image.data());
            if (image[rpoStatus] != 0) {
                bool any = false;
                for (int i = 0; i < FIndexMgr->Count(); ++i) {
                    TIndexItem* index = FIndexMgr->GetItems(i);
                    index->CreateKeyBuffer(image.data(), {});
                    violated[static_cast<std::size_t>(i)] = index->FullIndexSearch(stEQ) == 0;
                    if (violated[static_cast<std::size_t>(i)]) {
                        any = true;
                        if (!IgnoreKeyViolations)
                            VekDatabaseErrorFmt(ErrKeyViolation, Context, SvekIndexFmt, {index->IndexName()}, this);
                        // The record keeps its keys in every other index, so
                        // it stays reachable; the log names it.
                        Log(FTableName, Format("Record %d: key violation in index %s, no key added there",
                                               {static_cast<Integer>(ReadLE32(image.data() + rpoRecordID)),
                                                index->IndexName()}));
                    }
                }
                for (int i = 0; i < FIndexMgr->Count(); ++i) {
                    if (any && violated[static_cast<std::size_t>(i)])
                        continue;
                    TIndexItem* index = FIndexMgr->GetItems(i);
                    index->CreateKeyBuffer(image.data(), {});
                    index->FullIndexSearch(stEQ);
                    if (index->InsertKey(address) != 0)
                        VekDatabaseError(ErrInternal, Context, "Failed to add key to " + index->IndexName(), this);
                }
            }
            progress.Step(n + 1);
        }
        // The old trees of a memory table go now.
        for (std::size_t i = 0; i < oldTrees.size(); ++i)
            Quietly([&] { SwapTree(FIndexMgr->GetItems(static_cast<int>(i)), oldTrees[i], true); });
        FTableDef->TableHeader()->SetDirty(true);
        FReadAhead->SetRecordCountValid(false);
    } catch (...) {
        // A memory table gets its old trees back.
        for (std::size_t i = 0; i < oldTrees.size(); ++i)
            Quietly([&] { SwapTree(FIndexMgr->GetItems(static_cast<int>(i)), oldTrees[i], false); });
        if (!oldTrees.empty()) {
            Quietly([&] { FIndexMgr->WriteIndexHeaders(); });
            Quietly([&] { WriteTableHeader(); });
            InvalidateReadAhead();
            FReadAhead->SetRecordCountValid(false);
            FCursorAddr = cursor;
        }
        FIndexMgr->InvalidateInternalBuffers();
        ReleaseIfTaken(taken);
        throw;
    }
    FIndexMgr->InvalidateInternalBuffers();
    ReleaseIfTaken(taken);
}

void TVekDataSet::SwapTree(TIndexItem* Index, const std::pair<Cardinal, Integer>& Other, bool KeepCurrent)
{
    // The tree to release takes the item's root for as long as it is
    // released; the item then stands on the tree it keeps.
    Index->InvalidateInternalBuffers();
    Index->Tree()->Close();
    Cardinal keepRoot = Other.first;
    Integer keepDepth = Other.second;
    if (KeepCurrent) {
        keepRoot = Index->Root();
        keepDepth = Index->Depth();
        Index->SetRoot(Other.first);
        Index->SetDepth(Other.second);
    }
    if (Index->Root() != keepRoot)
        Index->DeleteIndex();
    Index->SetRoot(keepRoot);
    Index->SetDepth(keepDepth);
    Index->Open();
}

void TVekDataSet::FinalizeRebuild()
{
    const bool taken = InternalSetWriteLock();
    try {
        InternalReIndex(true);
    } catch (...) {
        ReleaseIfTaken(taken);
        throw;
    }
    ReleaseIfTaken(taken);
}

void TVekDataSet::InitializeRebuild()
{
    const bool taken = InternalSetWriteLock();
    try {
        FTableDef->RecordInterface()->Empty(true);
        FTableDef->RecordInterface()->SetFirstEmpty(0);
        FTableDef->RecordInterface()->SetFirstEmptyValid(true);
        InitializeNewRecord(FCurBuf.data(), false);
        FTableDef->TableHeader()->SetDirty(true);
    } catch (...) {
        ReleaseIfTaken(taken);
        throw;
    }
    ReleaseIfTaken(taken);
}

// ================================================================ rebuild

void TVekDataSet::InternalRebuildTable()
{
    constexpr const char* Context = "TVekDataSet.InternalRebuildTable";
    CheckConnected();
    FDataBase->QueryOpenStatus(true, true);
    CheckInternalInactive();
    const std::string backup = FDataBase->BackupDatabase();
    // The backup must open and hold the table before this one is emptied.
    {
        TVekDataBase probe(nullptr);
        probe.SetExclusive(true);
        probe.SetReadOnly(true);
        probe.SetTempPrivilegeStatus(0x7FFFFFFF);
        probe.SetDirectory(ExtractFilePath(backup));
        probe.SetDataBaseName(ExtractFileName(backup));
        probe.SetMasterKey(FDataBase->MasterKey());
        probe.BeforeLogin = FDataBase->BeforeLogin;
        probe.Open();
        TTableDef def(nullptr);
        probe.QueryTableDef(FTableName, false, &def);
        probe.Close();
    }
    DataSetOpen();
    try {
        // Emptied and refilled as one change: a failure or a cancel leaves
        // the table as it was.
        FDataBase->RunMaintenance(Context, false, [&] {
            DataSetEmptyTable();
            TInternalFields* fields = GetInternalFields();
            for (int i = 0; i < fields->Count(); ++i)
                fields->GetIndex(i)->SetSourceField(fields->GetIndex(i)->FieldName());
            FDataBase->RebuildTable(FTableName, backup, this);
        });
    } catch (...) {
        DataSetClose();
        throw;
    }
    DataSetClose();
    if (RawCopyFailures > 0)
        VekDatabaseError(ErrRestructure, Context,
                         Format("%d records were not copied; the backup %s keeps them", {RawCopyFailures, backup}),
                         this);
}

// ============================================================ record copy

void TVekDataSet::SortByRecordID(std::vector<Cardinal>& Addresses)
{
    std::vector<std::pair<Cardinal, Cardinal>> ids;
    ids.reserve(Addresses.size());
    std::vector<Byte> image(static_cast<std::size_t>(EngineBufferSize()), 0);
    for (const Cardinal address : Addresses) {
        ReadRecordBuffer(address, image.data());
        ids.emplace_back(ReadLE32(image.data() + rpoRecordID), address);
    }
    std::stable_sort(ids.begin(), ids.end(), [](const auto& A, const auto& B) { return A.first < B.first; });
    for (std::size_t i = 0; i < ids.size(); ++i)
        Addresses[i] = ids[i].second;
}

Integer TVekDataSet::CopyRawTableData(TVekDataSet* Dest)
{
    constexpr const char* Context = "TVekDataSet.CopyRawTableData";
    if (!Dest)
        VekDatabaseError(ErrInternal, Context, "Dest table not assigned in CopyRawTableData", this);
    CheckInternalActive();
    Dest->CheckInternalActive();
    // The records go into an existing table as one change. A database being
    // rebuilt beside the old file needs no such care (the file replaces the
    // old one only when complete): there the copy commits in steps.
    TVekDataBase* database = Dest->DataBase();
    if (!database || database->BuildingBeside())
        return InternalCopyRawTableData(Dest);
    Integer added = 0;
    database->RunMaintenance(Context, Dest->Memory(), [&] { added = InternalCopyRawTableData(Dest); });
    return added;
}

Integer TVekDataSet::InternalCopyRawTableData(TVekDataSet* Dest)
{
    constexpr const char* Context = "TVekDataSet.CopyRawTableData";
    RawCopyFailures = 0;
    Dest->RawCopyFailures = 0;
    const std::string caller = Dest->TableName();
    Log(caller, "Copying record data - Starting");

    TVekDataBase* database = Dest->DataBase();
    const bool transact = database && !Dest->Memory() && !database->IsMemory() && !database->InTransaction();
    if (transact)
        database->StartTransaction();
    const bool sourceLock = !HoldsLock();
    Integer added = 0;
    try {
        if (sourceLock) {
            if (FDataBase->ReadOnly())
                ReadLockTable();
            else
                LockTable();
        }
        std::vector<Cardinal> addresses;
        FTableDef->RecordInterface()->ListBlocks(addresses);
        if (Dest->CopyAssignsAutoInc)
            SortByRecordID(addresses);
        Log(caller, Format("Found %d records (including unallocated and deleted records)",
                           {static_cast<Integer>(addresses.size())}));
        Log(caller, "Importing data - field mapping...");
        TInternalFields* destFields = Dest->GetInternalFields();
        // Dest field number -> source field number (-1: no data).
        std::vector<Integer> map(static_cast<std::size_t>(destFields->Count()), -1);
        for (int i = 0; i < destFields->Count(); ++i) {
            TInternalFieldItem* item = destFields->GetIndex(i);
            Log(caller, item->FieldName() + " -> " + item->SourceField());
            if (!item->SourceField().empty())
                map[static_cast<std::size_t>(i)] = GetFieldNo(item->SourceField());
        }

        std::vector<Byte> image(static_cast<std::size_t>(EngineBufferSize()), 0);
        const bool cancellable = !Dest->Memory();
        TProgress progress(Dest->OnUpdateProgress, addresses.size(), cancellable, this, Context);
        for (std::size_t n = 0; n < addresses.size(); ++n) {
            const Integer position = static_cast<Integer>(n + 1);
            ReadRecordBuffer(addresses[n], image.data());
            if (image[rpoStatus] != 0) {
                Byte* target = Dest->CurrentBuffer();
                Dest->ClearRecord(target);
                for (int d = 0; d < destFields->Count(); ++d) {
                    const Integer s = map[static_cast<std::size_t>(d)];
                    if (s < 0)
                        continue;
                    const bool sourceBlob = IsFieldBlob(s);
                    const bool destBlob = Dest->IsFieldBlob(d);
                    if (sourceBlob != destBlob)
                        continue;
                    try {
                        if (sourceBlob) {
                            TMemoryStream stream;
                            bool isNull = false;
                            DataSetGetFieldStreamFromRecBuf(image.data(), s, isNull, &stream);
                            Dest->DataSetSetFieldStreamFromRecBuf(target, d, isNull, &stream);
                        } else {
                            Variant value = DataSetGetFieldDataFromRecBufAsVariant(image.data(), s);
                            TInternalFieldItem* to = destFields->GetIndex(d);
                            // A text longer than the field is cut to its
                            // size, the same way for every record, and the
                            // log says so.
                            if (to->DataType() == ftString && !value.IsNull() && !value.IsEmpty()) {
                                const std::string text = VarToStr(value);
                                const Integer room = to->GetWriteableFieldSize();
                                if (static_cast<Integer>(text.size()) > room) {
                                    value = Variant(text.substr(0, static_cast<std::size_t>(room)));
                                    Log(caller, Format("Record %d: %s cut from %d to %d characters",
                                                       {position, to->FieldName(),
                                                        static_cast<Integer>(text.size()), room}));
                                }
                            }
                            Dest->DataSetSetFieldDataToRecBufAsVariant(target, d, value);
                        }
                    } catch (const Exception& e) {
                        TInternalFieldItem* from = GetInternalFields()->GetIndex(s);
                        TInternalFieldItem* to = destFields->GetIndex(d);
                        Log(caller, Format("Record %d: Error converting %s (%s) to %s (%s)). Message: %s",
                                           {position, from->FieldName(),
                                            std::string(FieldTypeNames[static_cast<int>(from->DataType())]),
                                            to->FieldName(),
                                            std::string(FieldTypeNames[static_cast<int>(to->DataType())]),
                                            e.Message()}));
                        Quietly([&] { Dest->DataSetSetFieldDataToRecBuf(d, 0, true, nullptr, target); });
                    }
                }
                try {
                    Dest->AddRecord(Dest->CopyAssignsAutoInc);
                    ++added;
                } catch (const Exception& e) {
                    ++RawCopyFailures;
                    Log(caller, Format("Record %d: Data post exception - %s", {position, e.Message()}));
                }
            }
            progress.Step(n + 1);
            if (transact && (n + 1) % 100 == 0 && database->InTransaction()) {
                database->Commit();
                database->StartTransaction();
            }
        }
        Log(caller, "Records Copied " + IntToStr(added));
        if (sourceLock)
            UnlockTable();
        if (transact && database->InTransaction())
            database->Commit();
    } catch (...) {
        if (sourceLock)
            Quietly([&] { UnlockTable(); });
        if (transact && database->InTransaction())
            Quietly([&] { database->Rollback(); });
        throw;
    }
    Dest->RawCopyFailures = RawCopyFailures;
    Log(caller, "Copying record data - Done");
    // A database rebuilt beside the old file saves its log beside the
    // database once, at its end.
    if (GDBLogger && database && !database->Directory().empty() && !database->BuildingBeside())
        Quietly([&] { GDBLogger->SaveLogToFile(database->Directory() + "dblog.txt"); });
    return added;
}

} // namespace orvex
