#pragma once
// The framework's critical section: a recursive lock, as Windows' is.

#include "host/System.h"

#include <mutex>

namespace orvex {

class TCriticalSection : public TObject {
public:
    void Enter() { FMutex.lock(); }
    void Leave() { FMutex.unlock(); }
    void Acquire() { Enter(); }
    void Release() { Leave(); }

private:
    std::recursive_mutex FMutex;
};

// Holds a critical section for the lifetime of the guard.
class TCriticalSectionGuard {
public:
    explicit TCriticalSectionGuard(TCriticalSection& cs) : FCS(cs) { FCS.Enter(); }
    ~TCriticalSectionGuard() { FCS.Leave(); }
    TCriticalSectionGuard(const TCriticalSectionGuard&) = delete;
    TCriticalSectionGuard& operator=(const TCriticalSectionGuard&) = delete;

private:
    TCriticalSection& FCS;
};

} // namespace orvex
