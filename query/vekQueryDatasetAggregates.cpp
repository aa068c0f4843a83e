// Aggregates and grouping: the accumulators and the grouped result.

#include "query/vekQueryDataset.h"

#include "host/SysUtils.h"

namespace orvex {

TFuncResultItem::TFuncResultItem(TCollection* Collection) : TCollectionItem(Collection) {}
TFuncResultItem::~TFuncResultItem() = default;
void TFuncResultItem::SetNewValue(const Variant&) {}
Variant TFuncResultItem::CalculateNumericFuncResult() const { return Variant(0); }
void TFuncResultItem::Fold(const Variant&) {}

TFuncResultHolder::TFuncResultHolder() : TCollection(ItemClassOf<TFuncResultItem>()) {}
TFuncResultHolder::~TFuncResultHolder() = default;
TFuncResultItem* TFuncResultHolder::AddNewResultItem(const std::string&, Integer, bool, TVekSQLAggFunc, TFieldType,
                                                     Integer)
{
    return nullptr;
}
TFuncResultItem* TFuncResultHolder::FindFuncResultItem(Integer) const { return nullptr; }

TFuncResultList::TFuncResultList() = default;
TFuncResultList::~TFuncResultList() = default;
TFuncResultItem* TFuncResultList::AddNewResultItem(const std::string&, Cardinal, bool, TVekSQLAggFunc, TFieldType,
                                                   Integer, Integer)
{
    return nullptr;
}
TFuncResultHolder* TFuncResultList::GetHolder(Cardinal) const { return nullptr; }
void TFuncResultList::SetNewValue(Cardinal, Integer, const Variant&) {}
Variant TFuncResultList::GetFuncResult(Cardinal, Integer) const { return Variant(0); }
TFuncResultItem* TFuncResultList::FindFuncResultItem(Cardinal, Integer) const { return nullptr; }
void TFuncResultList::Clear() { FHolders.clear(); }

void TVekQueryDataset::PopulateAggregateResultSet(TResultSetFields*, bool)
{
    throw Exception("TVekQueryDataset.PopulateAggregateResultSet is not built yet");
}

} // namespace orvex
