// TDBLogger, the global GDBLogger and the critical section that guards it.

#include "storage/vekCommon.h"

#include "host/DateUtils.h"

#include <cstring>

namespace orvex {

TDBLogger* GDBLogger = nullptr;
TCriticalSection* GDBLoggerLock = nullptr;

namespace {

// How many units that include the common header are initialised right now.
int CommonUnitInitCount = 0;

// Holds the unit's critical section while it exists (a logger used after the
// shut-down of the unit runs unguarded rather than on a freed lock).
class TLoggerGuard {
public:
    TLoggerGuard() : FLock(GDBLoggerLock)
    {
        if (FLock)
            FLock->Enter();
    }
    ~TLoggerGuard()
    {
        if (FLock)
            FLock->Leave();
    }
    TLoggerGuard(const TLoggerGuard&) = delete;
    TLoggerGuard& operator=(const TLoggerGuard&) = delete;

private:
    TCriticalSection* FLock;
};

} // namespace

TVekCommonUnitInit::TVekCommonUnitInit()
{
    if (CommonUnitInitCount++ == 0) {
        GDBLoggerLock = new TCriticalSection;
        GDBLogger = new TDBLogger;
    }
}

TVekCommonUnitInit::~TVekCommonUnitInit()
{
    if (--CommonUnitInitCount == 0) {
        FreeAndNil(GDBLogger); // saves its lines to its output file, if set
        FreeAndNil(GDBLoggerLock);
    }
}

TDBLogger::TDBLogger()
    : FLogItems(new TStringList),
      FNamedMonitors(new TStringList),
      FTraceNext(0),
      FActive(false),
      FDumpMod(0),
      FMaxLogItemCount(DefaultMaxLogItemCount)
{
    std::memset(FTrace, 0, sizeof(FTrace));
}

TDBLogger::~TDBLogger()
{
    {
        TLoggerGuard guard;
        // A destructor cannot raise: a save that fails here has nobody to
        // tell, and the lines go with the logger (SaveLogToFile reports).
        try {
            if (!FOutputFileName.empty())
                FLogItems->SaveToFile(FOutputFileName);
        } catch (...) {
        }
    }
    delete FLogItems;
    delete FNamedMonitors;
}

void TDBLogger::TrimTo(int Limit)
{
    // Drops the oldest lines until at most Limit remain.
    int excess = FLogItems->Count() - Limit;
    if (excess <= 0)
        return;
    FLogItems->BeginUpdate();
    for (int i = 0; i < excess; ++i)
        FLogItems->Delete(0);
    FLogItems->EndUpdate();
}

void TDBLogger::LogItem(const std::string& Caller, const std::string& Text)
{
    TLoggerGuard guard;
    // Room for the new line first, so that a full log keeps exactly its limit.
    if (FMaxLogItemCount > 0)
        TrimTo(FMaxLogItemCount - 1);
    FLogItems->Add(Format("%10s; %30s : %s", {DateTimeToStr(Now()), Caller, Text}));
}

void TDBLogger::Clear()
{
    TLoggerGuard guard;
    FLogItems->Clear();
    FNamedMonitors->Clear();
}

void TDBLogger::SaveLogToFile(const std::string& FileName)
{
    TLoggerGuard guard;
    if (!FileName.empty())
        FLogItems->SaveToFile(FileName);
}

void TDBLogger::NamedMonitorDelta(const std::string& Name, Integer Delta)
{
    TLoggerGuard guard;
    // Counters wrap around at 32 bits rather than overflow.
    Cardinal value = static_cast<Cardinal>(StrToIntDef(FNamedMonitors->Values(Name), 0)) +
                     static_cast<Cardinal>(Delta);
    FNamedMonitors->SetValue(Name, IntToStr(static_cast<Integer>(value)));
}

void TDBLogger::NamedMonitorReset(const std::string& Name, Integer Value)
{
    TLoggerGuard guard;
    FNamedMonitors->SetValue(Name, IntToStr(Value));
}

void TDBLogger::AddLogTraceItem(Integer Caller, Integer Event)
{
    TLoggerGuard guard;
    if (FTraceNext >= TraceRingSize)
        FTraceNext = 0;
    FTrace[FTraceNext].Caller = Caller;
    FTrace[FTraceNext].Event = Event;
    ++FTraceNext;
}

void TDBLogger::ClearLogTrace()
{
    TLoggerGuard guard;
    std::memset(FTrace, 0, sizeof(FTrace));
    FTraceNext = 0;
}

void TDBLogger::DumpTraceToLog()
{
    TLoggerGuard guard;
    FLogItems->Add("TraceLog");
    // Oldest first: from the next slot to be written round to the last written.
    int start = FTraceNext >= TraceRingSize ? 0 : FTraceNext;
    for (int i = 0; i < TraceRingSize; ++i) {
        const TTraceItem& item = FTrace[(start + i) % TraceRingSize];
        FLogItems->Add(Format("Caller %d  Event %d", {item.Caller, item.Event}));
    }
}

Integer TDBLogger::MaxLogItemCount() const
{
    TLoggerGuard guard;
    return FMaxLogItemCount;
}

void TDBLogger::SetMaxLogItemCount(Integer Value)
{
    TLoggerGuard guard;
    FMaxLogItemCount = Value;
    if (Value > 0)
        TrimTo(Value);
}

bool TDBLogger::Active() const
{
    TLoggerGuard guard;
    return FActive;
}

void TDBLogger::SetActive(bool Value)
{
    TLoggerGuard guard;
    FActive = Value;
}

Integer TDBLogger::DumpMod() const
{
    TLoggerGuard guard;
    return FDumpMod;
}

void TDBLogger::SetDumpMod(Integer Value)
{
    TLoggerGuard guard;
    FDumpMod = Value;
}

std::string TDBLogger::OutputFileName() const
{
    TLoggerGuard guard;
    return FOutputFileName;
}

void TDBLogger::SetOutputFileName(const std::string& Value)
{
    TLoggerGuard guard;
    FOutputFileName = Value;
}

int TDBLogger::LogItemCount() const
{
    TLoggerGuard guard;
    return FLogItems->Count();
}

std::vector<std::string> TDBLogger::LogLines() const
{
    TLoggerGuard guard;
    std::vector<std::string> lines;
    lines.reserve(static_cast<size_t>(FLogItems->Count()));
    for (int i = 0; i < FLogItems->Count(); ++i)
        lines.push_back(FLogItems->Get(i));
    return lines;
}

} // namespace orvex
