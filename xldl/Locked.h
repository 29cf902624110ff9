// A critical section held for a scope.
#pragma once

#include <windows.h>

namespace xldl {

class TLocked {
public:
    explicit TLocked(CRITICAL_SECTION& lock) : Lock(lock) { EnterCriticalSection(&Lock); }
    ~TLocked() { LeaveCriticalSection(&Lock); }
    TLocked(const TLocked&) = delete;
    TLocked& operator=(const TLocked&) = delete;

private:
    CRITICAL_SECTION& Lock;
};

} // namespace xldl
