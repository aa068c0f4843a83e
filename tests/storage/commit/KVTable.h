#pragma once
// What the commit tests and their child program share: a table of integer
// keys and values in a database file, reached at the storage level as a
// connection would reach it (table lock, header read, records and a unique
// index), and the transactions of the crash test, which follow from their
// number so that any process can tell which states a file may be in.
//
// The child program (vek_commit_child, see CommitChild.cpp):
//
//   vek_commit_child serve <database>
//       a connection driven by lines on standard input, one answer line
//       each (see TKVCommandLoop);
//   vek_commit_child churn <database> <first transaction> [<budget>]
//       runs the crash test's transactions from that number on, writing
//       "ready" once the file is open and "done N" after each commit,
//       until it is killed; with a budget (bytes of changed pages kept in
//       memory), the big transactions, which spill.

#include "storage/vekDisk.h"
#include "storage/vekIndexUnitManager.h"
#include "storage/vekTableMgrUnit.h"

#include <cstdint>
#include <istream>
#include <map>
#include <memory>
#include <ostream>
#include <string>

namespace orvex::committest {

using TKVMap = std::map<int, int>;

class TKVTable {
public:
    // Creates the database file with the empty table (closed again).
    static void Create(const std::string& Path);

    explicit TKVTable(const std::string& Path);
    ~TKVTable();
    TKVTable(const TKVTable&) = delete;
    TKVTable& operator=(const TKVTable&) = delete;

    // A transaction on the table: begun with the table locked and its header
    // read; ended by a commit that writes the header first, or a rollback.
    void Begin();
    void Commit();
    void Rollback();
    bool InTransaction() const;

    // Inside a transaction, or alone under a table write lock of their own.
    void Put(int Key, int Value);
    void Erase(int Key);
    // Every row, under a table read lock outside a transaction.
    TKVMap ReadAll();
    // Every row found by a scan over the record blocks rather than the index.
    TKVMap ScanAll();

    TDiskMgr& Disk();

private:
    // Takes the lock and reads the header again, as a dataset does before it
    // touches a table: the free-chain head and the index roots come from it.
    void LockAndRefresh(Integer LockType);
    void Unlock();
    void WriteHeader();
    void PutRow(int Key, int Value);
    void EraseRow(int Key);
    // The record address of the key, 0 when absent.
    Cardinal Find(int Key);
    std::vector<Byte> Image(int Key, int Value) const;

    struct TParts;
    std::unique_ptr<TParts> FParts;
};

// The crash test's transaction N (from 1) changes the rows of the state
// before it as Apply says; a number of transactions are rolled back instead
// (RolledBack), leaving the state as it was.
// Big transactions change hundreds of rows over a wider range of keys.
bool RolledBack(std::uint32_t N);
void ApplyTransaction(std::uint32_t N, TKVMap& State, bool Big = false);
// Runs transaction N on the table (as ApplyTransaction, then committed or
// rolled back).
void RunTransaction(std::uint32_t N, TKVTable& Table, bool Big = false);

// Reads commands from In and answers on Out until "quit" or the end of In:
//   begin | commit | rollback | put K V | erase K | dump
// Each answers "ok" (dump: "rows K=V K=V ..."), or "error <message>".
int KVCommandLoop(const std::string& Path, std::istream& In, std::ostream& Out);

std::string FormatRows(const TKVMap& Rows);

} // namespace orvex::committest
