// The target operations of INSERT, UPDATE and DELETE.

#include "query/vekQueryDataset.h"

#include "host/SysUtils.h"

namespace orvex {

namespace {
[[noreturn]] void NotBuilt(const char* What)
{
    throw Exception(std::string("TVekQueryDataset.") + What + " is not built yet");
}
} // namespace

void TVekQueryDataset::InsertData(TResultSetFields*) { NotBuilt("InsertData"); }
void TVekQueryDataset::InsertDataFromDataset(TResultSetFields*, TVekBaseTable*, bool, bool)
{
    NotBuilt("InsertDataFromDataset");
}
void TVekQueryDataset::DeleteData(bool, std::vector<Cardinal>&) { NotBuilt("DeleteData"); }
void TVekQueryDataset::UpdateData(bool, std::vector<Cardinal>&, TResultSetFields*) { NotBuilt("UpdateData"); }
void TVekQueryDataset::UpdateCurrentRecord(TResultSetFields*) { NotBuilt("UpdateCurrentRecord"); }

} // namespace orvex
