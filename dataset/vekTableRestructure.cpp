// TVekTable: general restructuring, rebuilding and re-indexing of a table,
// and the restructure copies of its field and index definitions.

#include "dataset/vekDataSet.h"

#include "host/DBConsts.h"

namespace orvex {

namespace {

constexpr Integer ErrInvalidBlobLength = 10029;
constexpr Integer ErrTableOpen = 10031;
constexpr Integer ErrNoConnection = 10112;
constexpr Integer ErrInTransaction = 10122;
constexpr Integer ErrNotAllowed = 10766;

} // namespace

TRestructureFieldDefs* TVekTable::GetRestructureFieldDefs()
{
    if (!FRestructureFieldDefs) {
        FRestructureFieldDefs = std::make_unique<TRestructureFieldDefs>();
        FRestructureFieldDefs->Assign(FieldDefs());
    }
    return FRestructureFieldDefs.get();
}

TRestructureIndexDefs* TVekTable::GetRestructureIndexDefs()
{
    if (!FRestructureIndexDefs) {
        FRestructureIndexDefs = std::make_unique<TRestructureIndexDefs>();
        FRestructureIndexDefs->Assign(IndexDefs());
    }
    return FRestructureIndexDefs.get();
}

Integer TVekTable::RestructureTable(const TInternalRestructureRecord& Request)
{
    constexpr const char* Context = "TVekTable.RestructureTable";
    CheckInactive();
    if (Memory())
        VekDatabaseError(ErrNotAllowed, Context, TableName(), this);
    if (!DataBase())
        VekDatabaseError(ErrNoConnection, Context, "", this);
    if (!DataBase()->Connected())
        DataBase()->Open();
    if (DataBase()->InHostTransaction())
        VekDatabaseError(ErrInTransaction, Context, TableName(), this);
    TTableDef probe(nullptr);
    if (DataBase()->GetTableDefMgr(&probe)->CheckTableUserCount(TableName()) > 0)
        VekDatabaseErrorFmt(ErrTableOpen, Context, SvekTableInUseFmt, {TableName()}, this);

    // The current layout, read from the stored definition unless known (the
    // restructure copies refer to its index definitions).
    if (FieldDefs()->Count() == 0) {
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

    TRestructureFieldDefs* requestFields = Request.NewFieldDefs ? Request.NewFieldDefs : GetRestructureFieldDefs();
    TRestructureIndexDefs* requestIndexes = Request.NewIndexDefs ? Request.NewIndexDefs : GetRestructureIndexDefs();
    auto fields = std::make_unique<TRestructureFieldDefs>();
    fields->Assign(requestFields);
    auto indexes = std::make_unique<TRestructureIndexDefs>();
    indexes->Assign(requestIndexes);
    TStringList changeLog;
    fields->SetChangeLog(&changeLog);
    indexes->SetChangeLog(&changeLog);
    fields->ValidateAgainstOriginalDefs(FieldDefs());
    indexes->ValidateNewIndexDefs(fields.get());
    indexes->ValidateAgainstOriginalDefs(IndexDefs(), fields.get());
    if (GDBLogger)
        for (int i = 0; i < changeLog.Count(); ++i)
            GDBLogger->LogItem(TableName(), changeLog.Strings(i));

    if (Request.ChangeBlobSize && (Request.BlobSize < 64 || Request.BlobSize > 65536))
        VekDatabaseError(ErrInvalidBlobLength, Context, "The blob block size must be 64 to 65536 bytes", this);
    // A table-level change rewrites every record.
    if (Request.ResetAutoInc || Request.ChangeBlobSize || Request.ChangeBlobCompression || Request.ChangeSortOrder)
        if (fields->ChangeStatus() != dcDataLoss)
            fields->SetChangeStatus(dcDataChange);

    TInternalRestructureRecord request = Request;
    request.NewFieldDefs = fields.get();
    request.NewIndexDefs = indexes.get();
    request.DestFieldDefs = FieldDefs();
    request.DestIndexDefs = IndexDefs();
    Integer result = 0;
    try {
        result = InternalRestructureTable(request);
    } catch (...) {
        // The definitions show the table as it is again: unchanged, or
        // changed with records left out (10012).
        try {
            FieldDefs()->Clear();
            InternalInitFieldDefs();
            InternalOpenForDefs();
            UpdateIndexDefs();
            InternalCloseForDefs();
        } catch (...) {
        }
        FRestructureFieldDefs.reset();
        FRestructureIndexDefs.reset();
        throw;
    }
    FRestructureFieldDefs.reset();
    FRestructureIndexDefs.reset();
    InternalOpenForDefs();
    UpdateIndexDefs();
    InternalCloseForDefs();
    return result;
}

void TVekTable::RebuildTable()
{
    CheckInactive();
    if (Memory())
        VekDatabaseError(ErrNotAllowed, "TVekTable.RebuildTable", TableName(), this);
    InternalRebuildTable();
}

void TVekTable::ReIndex(bool IgnoreKeyViolations)
{
    if (!DataBase())
        VekDatabaseError(ErrNoConnection, "TVekTable.ReIndex", "", this);
    DataBase()->CheckConnected(Memory());
    if (!Memory())
        DataBase()->CheckExclusive();
    CheckActive();
    CheckBrowseMode();
    InternalReIndex(IgnoreKeyViolations);
    First();
}

} // namespace orvex
