#pragma once
// What the connection tests and their child program share: a table with one
// integer field holding a counter record, read and written at the storage
// level through a connected table definition.
//
// The child program (vek_conn_child) runs one connection in a process of its
// own and answers commands read line by line from standard input, one reply
// line each: "ok [value]" or "error <code>":
//   open <database> <lock retries> <retry interval ms>
//   table <name>                 connects the table (OpenTable)
//   locktable <1|4>  unlocktable  lockrecord <address>  unlockrecord <address>
//   start  commit  rollback
//   create <name>                a new counter table (no record)
//   get <address>                the counter's value
//   set <address> <value>        writes the counter (inside a transaction
//                                when one is running)
//   bump <address> <count>       count times: a transaction that write-locks
//                                the table, adds 1 to the counter and commits
//   close

#include "dataset/vekDatabase.h"

#include <string>

namespace orvex::conntest {

// A definition of a counter table: one integer field "N", no index.
void BuildCounterDef(TTableDef& Def, const std::string& Name, bool Memory = false);
// Creates the counter table in DataBase and adds its record (value 0); the
// record's address.
Cardinal CreateCounterTable(TVekDataBase& DataBase, const std::string& Name);
// The counter of the record at Address of the connected table Def. Pages
// another connection wrote are read again first.
Integer ReadCounter(TTableDef& Def, Cardinal Address);
void WriteCounter(TTableDef& Def, Cardinal Address, Integer Value);

} // namespace orvex::conntest
