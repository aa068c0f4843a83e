// The statement driver's INSERT, UPDATE, DELETE and schema statements:
// parsing their clauses, preparing, executing, the record addresses of
// their selection and their parameter binders.

#include "query/vekQueryProvider.h"

#include "query/vekQueryDataset.h"
#include "storage/vekConsts.h"

namespace orvex {

namespace {

constexpr const char* NotBuilt = "This statement type is not built yet";

} // namespace

bool TVekQueryProviderItem::InternalParseInsertQuery()
{
    return AddError(NotBuilt);
}

bool TVekQueryProviderItem::InternalParseDeleteQuery()
{
    return AddError(NotBuilt);
}

bool TVekQueryProviderItem::InternalParseUpdateQuery()
{
    return AddError(NotBuilt);
}

bool TVekQueryProviderItem::InternalParseSchemaStatement()
{
    return AddError(NotBuilt);
}

bool TVekQueryProviderItem::InternalParseWhereQuery()
{
    return AddError(NotBuilt);
}

bool TVekQueryProviderItem::InternalPrepareInsertStatement()
{
    return AddError(NotBuilt);
}

bool TVekQueryProviderItem::InternalPrepareUpdateStatement()
{
    return true;
}

bool TVekQueryProviderItem::ExecSQL()
{
    return AddError(SvekSQLStatmentCannotbeExecuted);
}

bool TVekQueryProviderItem::CreateResultList(std::vector<Cardinal>& List)
{
    List.clear();
    return AddError(NotBuilt);
}

void TVekQueryProviderItem::BindInsertParams() {}

void TVekQueryProviderItem::BindUpdateParams() {}

} // namespace orvex
