// TVekTable: adding and deleting an index of an existing table, and
// importing the records of another dataset.
//
// A new index is built in place: its tree is made in a free slot of the
// table header and filled from the records, then the stored definition (the
// connection's, or the memory table's master) takes the new index. The
// table must not be open in another dataset of this connection.

#include "dataset/vekDataSet.h"

#include "host/DBConsts.h"
#include "storage/vekByteOrder.h"

#include <algorithm>

namespace orvex {

namespace {

constexpr Integer ErrNotInitialised = 8576;
constexpr Integer ErrNoIndex = 9997;
constexpr Integer ErrKeyViolation = 9729;
constexpr Integer ErrTableOpen = 10031;
constexpr Integer ErrNoConnection = 10112;
constexpr Integer ErrInTransaction = 10122;

const char* const HiddenIndexName = "_LogicalRecNo";

} // namespace

void TVekTable::RebuildIndexes(TInternalIndexDefs* NewDefs, TKeyFields* NewKeys, const std::string& Added,
                               const std::string& Dropped)
{
    const char* context = Added.empty() ? "TVekTable.DeleteIndex" : "TVekTable.AddIndex";
    if (!DataBase())
        VekDatabaseError(ErrNoConnection, context, "There is no connection to a database engine", this);
    if (!DataBase()->Connected())
        DataBase()->Open();
    if (!Memory() && DataBase()->InHostTransaction())
        VekDatabaseError(ErrInTransaction, context, TableName(), this);
    TTableDef probe(nullptr);
    probe.SetMemory(Memory());
    if (DataBase()->GetTableDefMgr(&probe)->CheckTableUserCount(TableName()) > 0)
        VekDatabaseError(ErrTableOpen, context, TableName(), this);

    // The new or dropped tree, the table header and the stored definition
    // change as one maintenance transaction (a memory table restores its
    // trees itself).
    DataBase()->RunMaintenance(context, Memory(), [&] {
        DataSetOpen();
        try {
            LockTable();
            TIndexManager* indexes = IndexManager();
            TTableDef* def = TableDef();
            if (!Added.empty()) {
                TInternalIndexDef* source = NewDefs->FindIndexDef(Added);
                Integer slot = 0;
                for (int i = 0; i < def->InternalIndexDefs()->Count(); ++i)
                    slot = std::max(slot, def->InternalIndexDefs()->GetItems(i)->IndexSequence() + 1);
                TInternalIndexDef* added = def->InternalIndexDefs()->Add();
                added->Assign(source);
                added->SetIndexSequence(slot);
                for (int k = 0; k < NewKeys->Count(); ++k)
                    if (SameText(NewKeys->GetItems(k)->IndexName(), Added))
                        def->KeyFields()->Add()->Assign(NewKeys->GetItems(k));
                indexes->AddIndex(added, def->KeyFields());
                TIndexItem* index = indexes->FindIndex(Added);
                index->Open();
                // Fill the new tree from the records, in the order of another index.
                TIndexItem* walk = nullptr;
                for (int i = 0; i < indexes->Count() && !walk; ++i)
                    if (indexes->GetItems(i) != index)
                        walk = indexes->GetItems(i);
                std::vector<Byte> image(static_cast<std::size_t>(InternalGetRecordSize()), 0);
                try {
                    if (walk && walk->SetRecordNo(1) != 0) {
                        do {
                            const Cardinal address = walk->GetRecordAddress();
                            ReadRecordBuffer(address, image.data());
                            index->CreateKeyBuffer(image.data(), {});
                            if (index->FullIndexSearch(stEQ) == 0)
                                VekDatabaseErrorFmt(ErrKeyViolation, context, SvekIndexFmt, {Added}, this);
                            index->InsertKey(address);
                        } while (walk->NextKey());
                    }
                } catch (...) {
                    indexes->DropIndex(Added);
                    throw;
                }
            } else {
                indexes->DropIndex(Dropped);
                for (int i = def->KeyFields()->Count() - 1; i >= 0; --i)
                    if (SameText(def->KeyFields()->GetItems(i)->IndexName(), Dropped))
                        def->KeyFields()->Delete(i);
                for (int i = def->InternalIndexDefs()->Count() - 1; i >= 0; --i)
                    if (SameText(def->InternalIndexDefs()->GetItems(i)->IndexName(), Dropped))
                        def->InternalIndexDefs()->Delete(i);
            }
            // The definition follows the trees' slots.
            for (int i = 0; i < def->InternalIndexDefs()->Count(); ++i) {
                TInternalIndexDef* item = def->InternalIndexDefs()->GetItems(i);
                if (TIndexItem* index = indexes->FindIndex(item->IndexName()))
                    item->SetIndexSequence(index->IndexSequence());
            }
            def->TableHeader()->SetIndexCount(static_cast<Cardinal>(std::max<Integer>(
                static_cast<Integer>(def->TableHeader()->IndexCount()), indexes->Count())));
            def->TableHeader()->SetDirty(true);
            if (IndexManager()->FindIndex(CurrentIndexName()) == nullptr) {
                // The first index becomes current; named first, since an
                // empty name (a nameless primary index) means the current one.
                IndexManager()->SetCurrentIndexName(indexes->GetItems(0)->IndexName());
                InternalSetIndexName(indexes->GetItems(0)->IndexName());
            }
            UnlockTable();

            // The stored definition.
            if (Memory()) {
                TMemoryTableDefMgr* manager = DataBase()->MemoryTableMgr();
                TTableDef* master = manager->TableDefs(manager->IndexOfTableName(TableName()));
                master->InternalIndexDefs()->Assign(def->InternalIndexDefs());
                master->KeyFields()->Assign(def->KeyFields());
            } else {
                const bool lock = !DataBase()->Locked();
                if (lock)
                    DataBase()->SetLocked(true);
                try {
                    DataBase()->SystemTables()->WriteTableDef(TableName(), def, false);
                } catch (...) {
                    if (lock)
                        DataBase()->SetLocked(false);
                    throw;
                }
                if (lock)
                    DataBase()->SetLocked(false);
            }
        } catch (...) {
            try {
                UnlockTable();
            } catch (...) {
            }
            DataSetClose();
            throw;
        }
        DataSetClose();
    });
}

// A failed AddIndex or DeleteIndex has changed nothing: a table that was
// open is opened again on the record it stood on.
void TVekTable::ReopenAfterFailure(bool WasActive, const TBookmark& Mark)
{
    if (!WasActive || Active())
        return;
    try {
        Open();
        if (BookmarkValid(Mark))
            GotoBookmark(Mark);
    } catch (...) {
        // The failure is the one to report.
    }
}

void TVekTable::AddIndex(const std::string& Name, const std::string& Fields, TIndexOptions Options,
                         const std::string& DescFields, const std::string& CaseInsFields)
{
    const bool wasActive = Active();
    TBookmark mark;
    if (wasActive) {
        CheckBrowseMode();
        mark = GetBookmark();
    }
    DisableControls();
    try {
        // The layout with the new index, built as a new table's would be.
        if (!wasActive) {
            InternalOpenForDefs();
            try {
                InternalInitFieldDefs();
                UpdateIndexDefs();
            } catch (...) {
                InternalCloseForDefs();
                throw;
            }
            InternalCloseForDefs();
        }
        std::unique_ptr<TIndexDefs> defs(new TIndexDefs(this));
        defs->Assign(IndexDefs());
        TIndexDef* added = defs->AddIndexDef();
        added->SetName(Name);
        added->SetFields(Fields);
        added->SetOptions(Options);
        added->SetDescFields(DescFields);
        added->SetCaseInsFields(CaseInsFields);
        TVekTableDefSettings settings;
        settings.TableName = TableName();
        settings.TableOwner = TableOwner();
        settings.SortOrder = SortOrder();
        settings.BlobBlockSize = BlobBlockSize();
        settings.EncryptionLevel = encNone;
        TTableDef layout(nullptr);
        VekSetTableDef(&layout, Memory(), FieldDefs(), defs.get(), settings, "TVekTable.AddIndex", this);
        if (wasActive)
            Close();
        if (FindIndexDefByName(Name))
            VekDatabaseError(10027, "TVekTable.AddIndex", Name, this);
        RebuildIndexes(layout.InternalIndexDefs(), layout.KeyFields(), Name, "");
    } catch (...) {
        ReopenAfterFailure(wasActive, mark);
        EnableControls();
        throw;
    }
    if (wasActive) {
        Open();
        if (BookmarkValid(mark))
            GotoBookmark(mark);
    } else {
        InternalOpenForDefs();
        UpdateIndexDefs();
        InternalCloseForDefs();
    }
    EnableControls();
}

void TVekTable::DeleteIndex(const std::string& Name)
{
    const bool wasActive = Active();
    TBookmark mark;
    if (wasActive) {
        CheckBrowseMode();
        mark = GetBookmark();
    } else {
        InternalOpenForDefs();
        UpdateIndexDefs();
        InternalCloseForDefs();
    }
    if (IndexDefs()->Count() == 0 || !FindIndexDefByName(Name))
        VekDatabaseErrorFmt(ErrNoIndex, "TVekTable.DeleteIndex", SvekIndexFmt, {Name}, this);
    const bool wasCurrent = SameText(IndexName(), Name);
    DisableControls();
    try {
        if (wasActive)
            Close();
        // A table keeps at least one index: the hidden one stands in for
        // the last index dropped. Both steps are one change.
        bool hidden = true;
        if (IndexDefs()->Count() == 1) {
            InternalOpenForDefs();
            hidden = IndexManager()->FindIndex(HiddenIndexName) != nullptr;
            InternalCloseForDefs();
        }
        if (!hidden && !DataBase())
            VekDatabaseError(ErrNoConnection, "TVekTable.DeleteIndex", "There is no connection to a database engine",
                             this);
        auto drop = [&] {
            if (!hidden) {
                TIndexDefs none(this);
                TVekTableDefSettings settings;
                settings.TableName = TableName();
                TTableDef layout(nullptr);
                VekSetTableDef(&layout, Memory(), FieldDefs(), &none, settings, "TVekTable.DeleteIndex", this);
                RebuildIndexes(layout.InternalIndexDefs(), layout.KeyFields(), HiddenIndexName, "");
            }
            RebuildIndexes(nullptr, nullptr, "", Name);
        };
        if (hidden)
            drop();
        else
            DataBase()->RunMaintenance("TVekTable.DeleteIndex", Memory(), drop);
    } catch (...) {
        ReopenAfterFailure(wasActive, mark);
        EnableControls();
        throw;
    }
    if (wasCurrent)
        FIndexName.clear();
    if (wasActive) {
        Open();
        if (!wasCurrent && BookmarkValid(mark))
            GotoBookmark(mark);
    } else {
        InternalOpenForDefs();
        UpdateIndexDefs();
        InternalCloseForDefs();
    }
    EnableControls();
}

// ================================================================= import

void TVekTable::ImportData(TDataSet* Source)
{
    CheckActive();
    if (!Source)
        VekDatabaseError(ErrNotInitialised, "TVekTable.ImportData", "FRestructureFieldDefs", this);
    const std::string caller = TableName() + ".DataImport";
    auto log = [&](const std::string& Text) {
        if (GDBLogger)
            GDBLogger->LogItem(caller, Text);
    };
    // Fields are matched by name.
    log("Matching fields");
    std::vector<std::pair<TField*, TField*>> mapped;
    for (int i = 0; i < Fields()->Count(); ++i) {
        TField* field = Fields()->Fields(i);
        if (field->FieldKind() != fkData)
            continue;
        TField* from = Source->FindField(field->FieldName());
        if (from) {
            log(Format("Source field [%s] mapped to Field [%s]", {from->FieldName(), field->FieldName()}));
            mapped.emplace_back(from, field);
        } else {
            log(Format("No Source field set for Field [%s]", {field->FieldName()}));
        }
    }
    log("Starting import");
    const int total = Source->RecordCount();
    const int step = total / 20;
    int count = 0;
    int accumulator = 0;
    bool cancel = false;
    Source->First();
    while (!Source->Eof() && !cancel) {
        ++count;
        Append();
        for (const auto& pair : mapped) {
            try {
                if (pair.first->IsNull())
                    pair.second->Clear();
                else if (pair.second->IsBlob())
                    pair.second->SetAsString(pair.first->AsString());
                else
                    pair.second->SetValue(pair.first->Value());
            } catch (const Exception& e) {
                std::string value;
                try {
                    value = pair.first->AsString();
                } catch (...) {
                }
                log(Format("   Record %d  Source field \"%-10s\" could not be converted to Destination field "
                           "\"%-10s\". Source value \"%s\"   Error: %s",
                           {count, pair.first->FieldName(), pair.second->FieldName(), value, e.Message()}));
            }
        }
        try {
            Post();
        } catch (const Exception& e) {
            log(Format("Record %d could not be added. Error: %s", {count, e.Message()}));
            Cancel();
        }
        accumulator += 100;
        if (OnUpdateProgress && step != 0 && count % step == 0) {
            // Called through a copy: the handler may replace or clear itself.
            const TUpdateProgressProc handler = OnUpdateProgress;
            handler(total > 0 ? accumulator / total : 0, cancel);
        }
        Source->Next();
    }
}

} // namespace orvex
