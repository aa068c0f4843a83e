#pragma once
// The engine error codes the database file's units raise (their messages are
// the error table's).

#include "host/System.h"

namespace orvex::diskerr {

inline constexpr Integer FileOpen = 8449;          // "Cannot open the requested file"
inline constexpr Integer SystemFileIO = 8450;      // "I/O error on a system file"
inline constexpr Integer Corruption = 8451;        // "Data structure corruption"
inline constexpr Integer ObjectNotFound = 8579;    // "The requested object could not be found"
inline constexpr Integer Internal = 8581;          // "There was an unexpected internal error ..."
inline constexpr Integer NotCreated = 8582;        // "The database file could not be created"
inline constexpr Integer DiskRead = 9217;          // "Disk read failure"
inline constexpr Integer DiskWrite = 9218;         // "Disk write failure"
inline constexpr Integer InvalidProcedure = 10065; // "Invalid procedure name"
inline constexpr Integer NoPriorLock = 10248;      // "This operation cannot be performed without a prior lock"
inline constexpr Integer TransactionActive = 10256; // "Transaction already active"
inline constexpr Integer NoTransaction = 10257;    // "There are no active transactions"
inline constexpr Integer ReadOnly = 10501;         // "Database is read-only"
inline constexpr Integer NoSuchFile = 11010;       // "No such file or directory"
inline constexpr Integer FileExists = 11043;       // "The file already exists"

} // namespace orvex::diskerr
