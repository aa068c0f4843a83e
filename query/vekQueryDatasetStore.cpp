// Where a statement's result table lives: in memory while it is expected to
// fit the connection's result memory budget, else in the connection's
// temporary database, whose page cache is that budget. A grouped result
// there sets the rows of the groups past the budget aside in a spill file
// beside it, for later passes.

#include "query/vekQueryDataset.h"

#include "dataset/vekDatabase.h"

#include <algorithm>

namespace orvex {

namespace {

// The bytes of one stored value of a field definition.
Int64 FieldBytes(const TFieldDef* Def)
{
    switch (Def->DataType()) {
    case ftString:
    case ftFixedChar:
    case ftBytes:
    case ftVarBytes:
        return Def->Size() + 2;
    case ftSmallint:
    case ftWord:
    case ftBoolean:
        return 3;
    case ftInteger:
    case ftAutoInc:
    case ftDate:
    case ftTime:
        return 5;
    default:
        return 9; // floats, large integers, date-times; a blob's reference
    }
}

} // namespace

Int64 TResultStoreFactory::EstimatedResultBytes(TVekQueryDataset* Table)
{
    TVekJoinDataProviderMgr* mgr = Table->ProviderMgr();
    if (!mgr || !mgr->RootProvider())
        return 0;
    // One result row per source row: exact for a plain selection, an upper
    // bound for grouping and DISTINCT, the common case of a key join.
    Int64 rows = 0;
    for (const auto& leaf : mgr->NonJoinProviders()) {
        // A selection the table's indexes answer whole (a key looked up)
        // has its own count of rows, however large the table.
        TVekDatasetBridge* bridge = leaf->Bridge();
        const bool counted = leaf->SelectionOptLevel() == olFull && bridge && bridge->DataSetIsOpen();
        rows += std::max<Int64>(counted ? bridge->GetCurrentRecordCount() : leaf->GetRecordCount(), 0);
    }
    Int64 record = 0;
    for (int i = 0; i < Table->FieldDefs()->Count(); ++i)
        record += FieldBytes(Table->FieldDefs()->Items(i));
    // The record block, a key of about the record's size per index, and the
    // engine's per-record and per-key overhead.
    const Int64 indexes = Table->IndexDefs() ? Table->IndexDefs()->Count() : 0;
    const Int64 perRow = record * (1 + indexes) + 16 + 16 * indexes;
    return rows * perRow;
}

void TResultStoreFactory::PrepareResultStore(TVekQueryDataset* Table)
{
    TVekDataBase* db = Table->DataBase();
    if (db && db->IsTemporaryDatabase()) {
        // Placed there by an earlier run of the statement: it stays.
        Table->SetMemory(false);
        return;
    }
    if (db && db->Connected() && EstimatedResultBytes(Table) > db->ResultMemoryBudget()) {
        Table->SetDataBase(db->TemporaryDatabase());
        Table->SetMemory(false);
        return;
    }
    Table->SetMemory(true);
}

} // namespace orvex
