// One database connection's lock file and lock managers in a process of its
// own, for the multi-process tests. It reads one command per line on standard
// input and answers each with one line on standard output:
//   "ok [values]", "err <engine error code> <message>" or "exc <message>"
// (line breaks in messages written as \r and \n).
//
// Commands:
//   open <db> <user> <computer> <retries> <interval>   connect; answers the connection byte
//   close                                             release all locks, disconnect
//   tread|twrite|tupgrade|trelease <table id>         table locks; answer the lock type
//   rlock|rrelease <record id>                        record write locks
//   rmany <first> <count> <stride>                    record write locks on first,
//                                                     first + stride, ...; answers the count held
//   rreleaseall                                       every record lock; answers the count held
//   xlock|xrelease <table id>                         transaction locks
//   tlocks                                            the table locks held: addr:size:type ...
//   users                                             user count and connection count
//   list                                              slot entries joined by '|'
//   stress <ops> <seed> <log> <tables> <records>      random lock work, logged (see below)
//   churn <cycles> <log>                              connect and disconnect repeatedly
//   quit
//
// The stress log is a witness shared by all children (opened O_APPEND, one
// write per event): "<pid> W+ T 3" after a table write lock is had, "<pid>
// W- T 3" before it is released, R+/R- for table read locks, W+/W- R <id> for
// record locks, and "<pid> C+ <inode>" after a connection is made, "<pid> C-
// <inode>" before it is closed.

#include "platform/FileIO.h"
#include "storage/vekConsts.h"
#include "storage/vekLockMgrUnit.h"

#include <fcntl.h>
#include <unistd.h>

#include <iostream>
#include <memory>
#include <sstream>
#include <string>

using namespace orvex;

namespace {

struct TConnection {
    std::unique_ptr<TPlatformFile> Database;
    std::unique_ptr<TDBUserMonitor> Monitor;
    std::unique_ptr<TBaseLockMgr> Tables;
    std::unique_ptr<TBaseLockMgr> Records;
    std::unique_ptr<TBaseLockMgr> Transactions;
    std::string DatabaseName, User, Computer;
    int Retries = 10;
    int Interval = 200;

    // Connects as the database does when it opens a writable file.
    Int64 Open()
    {
        Database = TPlatformFile::Open(DatabaseName, TFileAccess::ReadWrite, TFileShare::DenyNone,
                                       TFileCreate::OpenExisting);
        if (!Database)
            throw std::runtime_error("database file not opened");
        Monitor = std::make_unique<TDBUserMonitor>(Database.get(), GetLockFileName(DatabaseName));
        Monitor->Open(User, Computer);
        Tables.reset(CreateLockManager(lmkTable, Monitor.get(), Retries, Interval));
        Records.reset(CreateLockManager(lmkRecord, Monitor.get(), Retries, Interval));
        Transactions.reset(CreateLockManager(lmkTransaction, Monitor.get(), Retries, Interval));
        return Monitor->ConnectionOffset();
    }

    // Disconnects as the database does when it closes.
    void Close()
    {
        for (auto* manager : {&Tables, &Records, &Transactions}) {
            if (*manager)
                (*manager)->ReleaseAllLocks();
            manager->reset();
        }
        if (Monitor)
            Monitor->Close();
        Monitor.reset();
        Database.reset();
    }

    std::uint64_t LockFileInode() const
    {
        TFileIdentity id;
        Monitor->LockFileHandle()->Identity(id);
        return id.Inode;
    }
};

class TWitness {
public:
    explicit TWitness(const std::string& path)
        : FFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666))
    {
    }
    ~TWitness() { ::close(FFd); }
    void Event(const std::string& what) const
    {
        const std::string line = std::to_string(::getpid()) + " " + what + "\n";
        if (::write(FFd, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
            throw std::runtime_error("witness write failed");
    }

private:
    int FFd;
};

// Random table read and write locks and record locks, each logged while held;
// now and then the connection is closed and made again. Answers the number
// of locks that timed out.
int Stress(TConnection& c, int ops, std::uint32_t seed, const std::string& log, int tables,
           int records)
{
    RandSeed(seed);
    const TWitness witness(log);
    witness.Event("C+ " + std::to_string(c.LockFileInode()));
    int timeouts = 0;
    for (int op = 0; op < ops; ++op) {
        const int kind = Random(100);
        try {
            if (kind < 40) {
                const int id = Random(tables);
                c.Tables->SetReadLock(id, 0);
                witness.Event("R+ T " + std::to_string(id));
                witness.Event("R- T " + std::to_string(id));
                c.Tables->ReleaseLock(id);
            } else if (kind < 70) {
                const int id = Random(tables);
                c.Tables->SetWriteLock(id, 0);
                witness.Event("W+ T " + std::to_string(id));
                witness.Event("W- T " + std::to_string(id));
                c.Tables->ReleaseLock(id);
            } else if (kind < 98) {
                const int id = Random(records);
                c.Records->SetWriteLock(id, 0);
                witness.Event("W+ R " + std::to_string(id));
                witness.Event("W- R " + std::to_string(id));
                c.Records->ReleaseLock(id);
            } else {
                witness.Event("C- " + std::to_string(c.LockFileInode()));
                c.Close();
                c.Open();
                witness.Event("C+ " + std::to_string(c.LockFileInode()));
            }
        } catch (const EVekDatabaseError& e) {
            if (e.ErrorCode != 10249)
                throw;
            ++timeouts;
        }
    }
    witness.Event("C- " + std::to_string(c.LockFileInode()));
    return timeouts;
}

int Churn(TConnection& c, int cycles, const std::string& log)
{
    const TWitness witness(log);
    for (int cycle = 0; cycle < cycles; ++cycle) {
        c.Open();
        witness.Event("C+ " + std::to_string(c.LockFileInode()));
        Sleep(static_cast<std::uint32_t>(Random(10))); // overlap with others' connecting and closing
        witness.Event("C- " + std::to_string(c.LockFileInode()));
        c.Close();
    }
    return cycles;
}

std::string OneLine(std::string text)
{
    std::string out;
    for (char ch : text) {
        if (ch == '\r')
            out += "\\r";
        else if (ch == '\n')
            out += "\\n";
        else
            out += ch;
    }
    return out;
}

std::string Run(TConnection& c, const std::string& line)
{
    std::istringstream in(line);
    std::string cmd;
    in >> cmd;
    Int64 id = 0;
    if (cmd == "open") {
        in >> c.DatabaseName >> c.User >> c.Computer >> c.Retries >> c.Interval;
        return "ok " + std::to_string(c.Open());
    }
    if (cmd == "close") {
        c.Close();
        return "ok";
    }
    in >> id;
    if (cmd == "rmany") {
        Int64 count = 0, stride = 1;
        in >> count >> stride;
        for (Int64 i = 0; i < count; ++i)
            c.Records->SetWriteLock(id + i * stride, 0);
        return "ok " + std::to_string(c.Records->GetLockCount());
    }
    if (cmd == "rreleaseall") {
        c.Records->ReleaseAllLocks();
        return "ok " + std::to_string(c.Records->GetLockCount());
    }
    if (cmd == "tread")
        return c.Tables->SetReadLock(id, 0) ? "ok " + std::to_string(c.Tables->QueryLockType(id)) : "no";
    if (cmd == "twrite")
        return "ok " + std::to_string(c.Tables->SetWriteLock(id, 0));
    if (cmd == "tupgrade") {
        c.Tables->UpgradeReadLockToWriteLock(id, 0);
        return "ok " + std::to_string(c.Tables->QueryLockType(id));
    }
    if (cmd == "trelease") {
        c.Tables->ReleaseLock(id);
        return "ok " + std::to_string(c.Tables->QueryLockType(id));
    }
    if (cmd == "rlock")
        return "ok " + std::to_string(c.Records->SetWriteLock(id, 0));
    if (cmd == "rrelease") {
        c.Records->ReleaseLock(id);
        return "ok";
    }
    if (cmd == "xlock")
        return "ok " + std::to_string(c.Transactions->SetWriteLock(id, 0));
    if (cmd == "xrelease") {
        c.Transactions->ReleaseLock(id);
        return "ok";
    }
    if (cmd == "tlocks") {
        std::string out = "ok";
        for (int i = 0; i < c.Tables->GetLockCount(); ++i) {
            const TLockItem* item = c.Tables->Locks()->Items(i);
            out += " " + std::to_string(item->LckAddr) + ":" + std::to_string(item->LckSize) + ":" +
                   std::to_string(item->LckType);
        }
        return out;
    }
    if (cmd == "users")
        return "ok " + std::to_string(c.Monitor->GetCurrentUserCount()) + " " +
               std::to_string(c.Monitor->GetCurrentConnectionCount());
    if (cmd == "list") {
        TStringList users;
        c.Monitor->GetCurrentUsers(&users);
        std::string out = "ok ";
        for (int i = 0; i < users.Count(); ++i)
            out += (i ? "|" : "") + users[i];
        return out;
    }
    if (cmd == "stress" || cmd == "churn") {
        std::istringstream args(line);
        std::string log;
        int ops = 0, tables = 0, records = 0;
        std::uint32_t seed = 0;
        args >> cmd >> ops;
        if (cmd == "churn") {
            args >> log;
            return "ok " + std::to_string(Churn(c, ops, log));
        }
        args >> seed >> log >> tables >> records;
        return "ok " + std::to_string(Stress(c, ops, seed, log, tables, records));
    }
    return "exc unknown command " + cmd;
}

} // namespace

int main()
{
    TConnection connection;
    std::string line;
    while (std::getline(std::cin, line) && line != "quit") {
        std::string answer;
        try {
            answer = Run(connection, line);
        } catch (const EVekDatabaseError& e) {
            answer = "err " + std::to_string(e.ErrorCode) + " " + OneLine(e.Message());
        } catch (const std::exception& e) {
            answer = "exc " + OneLine(e.what());
        }
        std::cout << answer << std::endl;
    }
    try {
        connection.Close();
    } catch (...) {
    }
    return 0;
}
