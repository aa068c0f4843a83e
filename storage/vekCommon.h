#pragma once
// The engine's common unit: the diagnostic logger GDBLogger, the list helpers
// and the fixed-capacity hash shared across the engine, the key-compare
// routines of the B-tree and the result tables, the LIKE matcher, and small
// routines for the operating environment and record sizes.

#include "host/Classes.h"
#include "host/DB.h"
#include "host/SyncObjs.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace orvex {

// ===================================================================== logger

// The engine's in-memory diagnostic log: lines "%10s; %30s : %s" (date and
// time, caller, text), oldest first, at most MaxLogItemCount of them (0 or
// less: no limit); named integer counters ("monitors"); and a ring of the
// last 100 numeric trace pairs.
//
// Every operation holds the unit's critical section (GDBLoggerLock), so one
// logger may be used from several threads. A host program that walks
// LogItems() or NamedMonitors() directly while other threads log holds
// GDBLoggerLock itself for the walk.
class TDBLogger : public TObject {
public:
    static constexpr int TraceRingSize = 100;
    static constexpr int DefaultMaxLogItemCount = 500;

    TDBLogger();
    // Saves the lines to OutputFileName when one is set (a destructor cannot
    // raise: a failing save is dropped; call SaveLogToFile to hear of it).
    ~TDBLogger() override;

    // Appends a line; when the log is full the oldest line goes first.
    void LogItem(const std::string& Caller, const std::string& Text);
    // Clears the lines and the monitors.
    void Clear();
    // Saves the lines to FileName; an empty name does nothing.
    void SaveLogToFile(const std::string& FileName);

    // Monitor Name becomes its current value (0 when missing or not a
    // number) plus Delta / becomes Value.
    void NamedMonitorDelta(const std::string& Name, Integer Delta);
    void NamedMonitorReset(const std::string& Name, Integer Value);

    // The trace ring: a pair per call, the oldest overwritten after 100.
    void AddLogTraceItem(Integer Caller, Integer Event);
    void ClearLogTrace();
    // Appends "TraceLog" and the 100 ring slots, oldest first, as lines
    // "Caller %d  Event %d" (slots never written print 0 and 0).
    void DumpTraceToLog();

    Integer MaxLogItemCount() const;
    // Stores the limit and, when it is above 0, drops the oldest lines down to it.
    void SetMaxLogItemCount(Integer Value);
    bool Active() const;
    void SetActive(bool Value);
    Integer DumpMod() const;
    void SetDumpMod(Integer Value);
    std::string OutputFileName() const;
    void SetOutputFileName(const std::string& Value);

    // The number of log lines and a copy of them, taken under the lock.
    int LogItemCount() const;
    std::vector<std::string> LogLines() const;

    // The owned lists themselves (see the class comment on locking).
    TStringList* LogItems() const { return FLogItems; }
    TStringList* NamedMonitors() const { return FNamedMonitors; }

private:
    struct TTraceItem {
        Integer Caller;
        Integer Event;
    };

    void TrimTo(int Limit);

    TStringList* FLogItems;
    TStringList* FNamedMonitors;
    TTraceItem FTrace[TraceRingSize];
    Integer FTraceNext; // the slot written next, 0 to 100 (100: wraps to 0)
    bool FActive;
    Integer FDumpMod;
    std::string FOutputFileName;
    Integer FMaxLogItemCount;
};

// The engine's one logger and the critical section that guards every logger.
// Both exist from before the first engine call (any unit that includes this
// header is initialised after them) until after the last; at shut-down the
// logger is freed first (saving to its OutputFileName), then the lock.
extern TDBLogger* GDBLogger;
extern TCriticalSection* GDBLoggerLock;

// Creates GDBLogger and its lock with the first unit that includes this
// header and frees them with the last one, so that static objects of every
// engine unit can log while they are built and torn down.
class TVekCommonUnitInit {
public:
    TVekCommonUnitInit();
    ~TVekCommonUnitInit();
    TVekCommonUnitInit(const TVekCommonUnitInit&) = delete;
    TVekCommonUnitInit& operator=(const TVekCommonUnitInit&) = delete;
};
static TVekCommonUnitInit VekCommonUnitInit;

// ===================================================================== lists

// Two parallel pointer lists: the lead list and its companion. Pair i is
// (List1[i], List2[i]). The items are not owned.
class TCompoundList : public TObject {
public:
    TCompoundList();
    ~TCompoundList() override;

    void Add(void* Item1, void* Item2);
    // The number of pairs; raises Exception when the lists differ in length.
    int Count() const;
    void* Items(int Index) const; // item Index of the lead list
    void SetItems(int Index, void* Item);
    void Clear();

    // Sort the pairs by the lead (companion) list's pointer values, ascending
    // as unsigned integers, and mark that list sorted and the other not.
    void SortList1();
    void SortList2();
    // Index of P in the lead (companion) list, -1 when absent: a binary
    // search (the leftmost hit) when that list is sorted, else a linear one.
    int IndexOfList1(void* P) const;
    int IndexOfList2(void* P) const;

    TList* List1() const { return FList1; }
    TList* List2() const { return FList2; }
    bool List1Sorted() const { return FList1Sorted; }
    bool List2Sorted() const { return FList2Sorted; }

private:
    void SortBy(TList* Key, TList* Partner);

    TList* FList1;
    TList* FList2;
    bool FList1Sorted;
    bool FList2Sorted;
};

// A pointer list that may be sorted, then searched by halves.
class TSortedList : public TList {
public:
    // Sorts with Compare and marks the list sorted when it holds more than
    // 100 items; a shorter list is left as it is and marked unsorted.
    void SortList(TListSortCompare Compare);
    // SearchSortedList when sorted, else IndexOf.
    int SortedIndexOf(void* P) const;
    // The leftmost index holding P in the ascending list (pointer values as
    // unsigned integers), -1 when none does.
    int SearchSortedList(void* P) const;

    bool Sorted() const { return FSorted; }
    void SetSorted(bool Value) { FSorted = Value; }

private:
    bool FSorted = false;
};

// A stack on the end of a pointer list.
class TStackList : public TList {
public:
    void Push(void* P);
    void* Pop();        // the last item, removed; EListError when empty
    void* Peek() const; // the last item, nullptr when empty
};

// ====================================================================== hash

// One entry of a TVekBaseHash pool.
struct TVekHashEntry {
    TVekHashEntry* Next;
    Byte* Key;          // its slot in the key store
    Integer EntryIndex; // its number in the pool
    Integer Value;
};
using PVekHashEntry = TVekHashEntry*;

// A chained hash with a fixed pool of MaxItems entries and a key store of
// MaxItems slots of KeySize bytes, all allocated at construction. Keys shorter
// than KeySize are stored zero-padded; duplicate keys are not detected (the
// latest added is found first).
class TVekBaseHash : public TObject {
public:
    // Asserts "Hash key max is greater than hash size" when MaxItems > HashSize.
    TVekBaseHash(Integer HashSize, Integer MaxItems, Integer KeySize);
    ~TVekBaseHash() override;

    // h := rotate-left-2(h) xor byte, over the key's bytes; bucket = h mod HashSize.
    virtual Cardinal HashOf(const void* Key, Integer KeyLen);

    // Asserts "BaseHash is full" when no entry is free, and refuses a key
    // longer than KeySize.
    void Add(const void* Key, Integer KeyLen, Integer Value);
    // The link (chain head or previous entry's Next) that points at the first
    // entry matching the key; the link holds nullptr when none matches, and
    // the result itself is nullptr when the hash has no buckets.
    PVekHashEntry* Find(const void* Key, Integer KeyLen);
    // The first matching entry's value, -1 (0xFFFFFFFF) when none matches.
    Integer ValueOf(const void* Key, Integer KeyLen);
    // Unlinks the first matching entry and frees it; Value takes no part.
    void Delete(const void* Key, Integer KeyLen, Integer Value);
    // Appends to List the value (zero-extended to a pointer) of every entry
    // of the key's chain whose key matches.
    void GetPossibleMatchList(const void* Key, Integer KeyLen, TList* List);
    bool CheckHashFull() const { return FFreeTop < 0; }
    // Frees the pool and the key store; the hash takes no entries afterwards.
    void Clear();

    Integer Count() const { return FCount; }
    Integer HashSize() const { return static_cast<Integer>(FBuckets.size()); }
    Integer MaxItems() const { return FMaxItems; }
    Integer KeySize() const { return FKeySize; }

    // Labels kept for the users of the hash; the hash does not consult them.
    std::string SourceFieldName;
    TFieldType DataType = ftUnknown;

private:
    bool KeyMatches(const TVekHashEntry* Entry, const Byte* Key, Integer KeyLen) const;

    std::vector<PVekHashEntry> FBuckets;
    std::vector<Integer> FFreeList;
    Integer FCount = 0;
    std::vector<TVekHashEntry> FPool;
    Integer FFreeTop = -1;
    Integer FMaxItems = 0;
    std::vector<Byte> FKeyStore;
    Integer FKeySize = 0;
};

// An item of a THashCollection: an 8-byte hash key.
class THashCollectionItem : public TCollectionItem {
public:
    static constexpr int HashKeySize = 8;

    explicit THashCollectionItem(TCollection* Collection);

    void SetHashKey(const void* P); // copies 8 bytes
    // A in the first four bytes, B in the last four (little-endian); sets IsHashed.
    void SetHashFromInts(Integer A, Integer B);
    const Byte* GetHashKey() const { return HashKey; }

    Byte HashKey[HashKeySize] = {};
    bool IsHashed = false;
};

// A collection whose items are found by their 8-byte hash keys: an owned
// TVekBaseHash maps each key to the item's ID.
class THashCollection : public TCollection {
public:
    explicit THashCollection(TCollectionItemClass ItemClass);
    ~THashCollection() override;

    // Rebuilds a full hash first (ResetHash), then adds the key with ID.
    void AddHashKey(const void* Key, Integer ID);
    // The item whose ID the key maps to, nullptr when none.
    THashCollectionItem* FindHashKey(const void* Key) const;
    void DeleteHashKey(THashCollectionItem* Item);
    void DeleteHashedItem(int Index);
    // A new hash of 1000 buckets, or of twice the item count when the
    // collection holds 500 items or more, holding every item's key.
    void ResetHash();
    void Clear();

    THashCollectionItem* HashItems(int Index) const;
    TVekBaseHash* Hash() const { return FHash.get(); }
    bool UseHashSearch = false;

private:
    std::unique_ptr<TVekBaseHash> FHash;
};

// ========================================================= compare routines

// -1, 0 or 1 in one total order: numbers by value (-0 equals 0), then
// every NaN, all NaNs equal.
int CompareReals(double A, double B);
// The ascending order of pointer values as unsigned integers: -1, 0, 1.
int AscendingListSort(void* Item1, void* Item2);
// Byte comparison of the first min(Len1, Len2) characters; on equality 0
// when Partial, else the shorter key first.
int DBASCIICompareStrings(const void* Key1, const void* Key2, Integer Len1, Integer Len2,
                          bool CaseInsensitive, bool Partial);
// The fixed ANSI collation over the keys as zero-terminated strings; without
// Partial the terminating zero of the shorter key takes part.
int DBANSICompareStrings(const void* Key1, const void* Key2, Integer Len1, Integer Len2,
                         bool CaseInsensitive, bool Partial);
// Keys of 2-byte characters (lengths in bytes), compared in the code page by
// the ANSI collation; with Partial both are cut to the shorter length.
int DBCompareWideStrings(const void* Key1, const void* Key2, Integer Len1, Integer Len2,
                         bool CaseInsensitive, bool Partial);

// SQL LIKE: "%" matches any run (also empty), "_" exactly one character;
// byte-exact. AnyRun and SingleChar are accepted and not used.
bool MatchPatternedStrings(const std::string& Value, const std::string& Pattern,
                           char AnyRun = '%', char SingleChar = '_');
// The same over the Length bytes at Value, read up to its first NUL; Pattern
// is zero-terminated.
bool MatchPatternedBytes(const char* Value, std::size_t Length, const char* Pattern);

// ============================================================ small routines

// Appends the path delimiter unless the path is empty or already ends in it.
std::string VekIncludeTrailingBackslash(const std::string& Path);
// Clears List, then fills it with the semicolon-separated names (which may
// hold blanks and commas).
void ConvertFieldNamesToList(const std::string& Names, TStrings* List);
// S into Dest as UTF-16, zero-terminated, cut to DestSize - 1 characters.
void StringLToWideChar(const std::string& S, char16_t* Dest, Integer DestSize);
std::string GetCurrentUser();      // empty when unknown
std::string GetCurrentComputer();  // empty when unknown
Cardinal GetCurrentThreadIdVal();
std::string GetOSDetails();        // "unknown" when the system will not say
std::string GetOSErrorMsg();       // the text of the calling thread's last OS error
Cardinal GetMSTimeMarker();        // the millisecond tick count
// 256 for up to 34 index slots; raises Exception for more.
Integer CalcTableHeaderSize(Integer IndexCount);
// The stored size of a field type's core value; raises Exception for a type
// without one.
Integer CalculateCoreDataSize(TFieldType FieldType);

// ================================================================ all steps

// Runs every step of a shutdown even when some fail; Finish raises the first
// failure.
class TRunAllSteps {
public:
    template <class F>
    void Run(F&& Step)
    {
        try {
            Step();
        } catch (...) {
            if (!FFailure)
                FFailure = std::current_exception();
        }
    }
    void Finish()
    {
        if (FFailure)
            std::rethrow_exception(FFailure);
    }

private:
    std::exception_ptr FFailure;
};

} // namespace orvex
