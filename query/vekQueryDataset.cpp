// The result table: columns, preparing the table, plain rows, HAVING and
// field access.

#include "query/vekQueryDataset.h"

#include "dataset/vekDatabase.h"
#include "host/SysUtils.h"

namespace orvex {

namespace {
[[noreturn]] void NotBuilt(const char* What)
{
    throw Exception(std::string("TVekQueryDataset.") + What + " is not built yet");
}
} // namespace

// ============================================================ result columns

TResultSetField::TResultSetField(TCollection* Collection) : TJoinFieldItem(Collection) {}
TResultSetField::~TResultSetField() = default;

TResultSetFields::TResultSetFields() : TJoinFields(ItemClassOf<TResultSetField>()) {}

TResultSetField* TResultSetFields::FindResultSetField(const std::string&) const { return nullptr; }

TResultSetField* TResultSetFields::AddSelectColumn(TSelectFieldItem*, TVekJoinDataProviderMgr*, TFieldDefs*)
{
    NotBuilt("AddSelectColumn");
}

// ============================================================ result store

namespace {
TResultStoreFactory GDefaultResultStore;
TResultStoreFactory* GResultStore = &GDefaultResultStore;
} // namespace

void TResultStoreFactory::PrepareResultStore(TVekQueryDataset* Table)
{
    Table->SetMemory(true);
}

TResultStoreFactory* TResultStoreFactory::Current() { return GResultStore; }

void TResultStoreFactory::SetResultStoreFactory(TResultStoreFactory* Factory)
{
    GResultStore = Factory ? Factory : &GDefaultResultStore;
}

// ================================================================ the table

TVekQueryDataset::TVekQueryDataset(TComponent* AOwner)
    : TVekBaseTable(AOwner), FLimitedSearch(std::make_unique<TSearchModifier>())
{
    FLimitedSearch->SetLimitedSearch(true);
}

TVekQueryDataset::~TVekQueryDataset() = default;

TDBStringCompare TVekQueryDataset::GetDBStringCompare() const { return nullptr; }
void TVekQueryDataset::PrepareEmptyResultSet(bool) { NotBuilt("PrepareEmptyResultSet"); }
void TVekQueryDataset::CreateResultSetTable() { NotBuilt("CreateResultSetTable"); }
void TVekQueryDataset::PopulateResultSet(TResultSetFields*, bool) { NotBuilt("PopulateResultSet"); }
void TVekQueryDataset::PopulateSimpleCountResultSet() { NotBuilt("PopulateSimpleCountResultSet"); }
void TVekQueryDataset::ProcessHavingClause(TVekExprNode*) { NotBuilt("ProcessHavingClause"); }
void TVekQueryDataset::PopulateResultSetAddrList(std::vector<Cardinal>&) { NotBuilt("PopulateResultSetAddrList"); }
void TVekQueryDataset::PrepareResultSet() { NotBuilt("PrepareResultSet"); }
void TVekQueryDataset::SetReadOnlyResultFields(TResultSetFields*) { NotBuilt("SetReadOnlyResultFields"); }
std::string TVekQueryDataset::GetResultSetFieldNameFromSortKey(TResultSetFields*, const std::string&) const
{
    return {};
}
Variant TVekQueryDataset::GetFieldData(Integer) { NotBuilt("GetFieldData"); }
void TVekQueryDataset::GetRawFieldData(Integer, TDataHolder&) { NotBuilt("GetRawFieldData"); }
void TVekQueryDataset::SetResultSetFieldFromVariant(Integer, const Variant&) { NotBuilt("SetResultSetFieldFromVariant"); }

} // namespace orvex
