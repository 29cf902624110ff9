#include "xldl/Dispatch.h"

#include "engine/XLDownload.h"

#include <cstdint>

namespace xldl {

TDispatch::TDispatch(const TPlanSettings& settings, const TUrl& start, HANDLE abort)
    : Abort(abort), Planner(settings, start, GetTickCount64()),
      Jitter(GetTickCount() ^ (static_cast<uint64_t>(reinterpret_cast<uintptr_t>(this)) << 16)) {
    InitializeCriticalSection(&Lock);
    GoSignal = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

TDispatch::~TDispatch() {
    CloseHandle(GoSignal);
    DeleteCriticalSection(&Lock);
}

bool TDispatch::BeginPass(std::unique_ptr<TAnswered>& handover) {
    TLocked l(Lock);
    if (Cancelled) return false;
    ResetEvent(Abort);
    ResetEvent(GoSignal);
    PassEnded = false;
    PassEnd = TPassEnd::Complete;
    PassError = ErrorNone;
    Calledoff = false;
    Planner.BeginPass(GetTickCount64());
    handover = std::move(Handover);
    return true;
}

void TDispatch::Go() {
    SetEvent(GoSignal);
}

void TDispatch::CallOffEarly() {
    {
        TLocked l(Lock);
        if (Calledoff) return;
        Calledoff = true;
        Planner.CallOffEarly();
    }
    SetEvent(GoSignal); // they wake, see they are not wanted, and close their connections
}

bool TDispatch::EarlyCalledOff() {
    TLocked l(Lock);
    return Calledoff;
}

void TDispatch::Cancel() {
    TLocked l(Lock);
    Cancelled = true;
}

bool TDispatch::Stopping() {
    TLocked l(Lock);
    return Cancelled || PassEnded;
}

void TDispatch::Restart(std::unique_ptr<TAnswered> handover, bool rangesBroken) {
    {
        TLocked l(Lock);
        if (rangesBroken) Planner.RangesBroken();
        if (PassEnded) return;
        PassEnded = true;
        PassEnd = TPassEnd::Restart;
        Handover = std::move(handover);
    }
    SetEvent(Abort);
}

void TDispatch::Fail(uint32_t error, uint32_t detail) {
    {
        TLocked l(Lock);
        if (PassEnded && PassEnd == TPassEnd::Fail) return;
        PassEnded = true;
        PassEnd = TPassEnd::Fail;
        PassError = error;
        PassDetail = detail;
        Handover.reset();
    }
    SetEvent(Abort);
}

TPassEnd TDispatch::End() {
    TLocked l(Lock);
    Planner.SetActive(0);
    if (Cancelled) return TPassEnd::Aborted;
    if (PassEnded && PassEnd == TPassEnd::Fail) return TPassEnd::Fail;
    if (PassEnded && PassEnd == TPassEnd::Restart) return TPassEnd::Restart;
    if (Planner.Table().Complete()) return TPassEnd::Complete;
    PassError = ErrorNetwork;
    return TPassEnd::Fail;
}

TDecision TDispatch::Failed(const TFailure& f, unsigned failures) {
    TLocked l(Lock);
    return Planner.Failed(f, failures, GetTickCount64(), Jitter.Next());
}

bool TDispatch::Pause(uint32_t ms) {
    const bool stopped = WaitForSingleObject(Abort, ms) == WAIT_OBJECT_0;
    TLocked l(Lock);
    Planner.WaitEnded();
    return !stopped;
}

void TDispatch::Answered(uint32_t httpStatus) {
    TLocked l(Lock);
    HaveAnswer = true;
    if (httpStatus) HttpStatus = httpStatus;
}

void TDispatch::Status(uint32_t httpStatus) {
    TLocked l(Lock);
    HttpStatus = httpStatus;
}

TDispatch::TLook TDispatch::Look() {
    TLocked l(Lock);
    TLook look;
    look.Answered = HaveAnswer;
    look.Total = Planner.Table().Size();
    look.Done = Planner.Table().Done();
    const int active = Planner.ActiveConnections();
    const int waiting = Planner.WaitingConnections();
    look.Connections = active - waiting;
    look.AllWaiting = waiting > 0 && waiting >= active;
    look.HttpStatus = HttpStatus;
    return look;
}

uint32_t TDispatch::Failure() {
    TLocked l(Lock);
    return PassError;
}

uint32_t TDispatch::FailureDetail() {
    TLocked l(Lock);
    return PassDetail;
}

} // namespace xldl
