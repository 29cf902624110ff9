#include "xldl/Dispatch.h"

#include "engine/XLDownload.h"
#include "xldl/Files.h"
#include "xldl/Trace.h"

#include <cstdint>

namespace xldl {

TDispatch::TDispatch(const TPlanSettings& settings, const std::vector<TUrl>& sources, HANDLE abort)
    : Abort(abort), Planner(settings, sources, GetTickCount64()),
      Jitter(GetTickCount() ^ (static_cast<uint64_t>(reinterpret_cast<uintptr_t>(this)) << 16)) {
    InitializeCriticalSection(&Lock);
    GoSignal = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

TDispatch::~TDispatch() {
    CloseHandle(GoSignal);
    DeleteCriticalSection(&Lock);
}

bool TDispatch::BeginPass(std::unique_ptr<TAnswered>& handover,
                          std::vector<TPlanner::TStart>& starts) {
    TLocked l(Lock);
    if (Cancelled) return false;
    ResetEvent(Abort);
    ResetEvent(GoSignal);
    PassEnded = false;
    PassEnd = TPassEnd::Complete;
    PassError = ErrorNone;
    handover = std::move(Handover);
    starts = Planner.BeginPass(handover ? handover->Source : -1, GetTickCount64());
    return true;
}

void TDispatch::Go() {
    SetEvent(GoSignal);
}

void TDispatch::CallOffEarly() {
    {
        TLocked l(Lock);
        if (Planner.EarlyCalledOff()) return;
        Planner.CallOffEarly();
    }
    SetEvent(GoSignal); // they wake, see they are not wanted, and close their connections
}

bool TDispatch::EarlyCalledOff() {
    TLocked l(Lock);
    return Planner.EarlyCalledOff();
}

void TDispatch::Completed() {
    {
        TLocked l(Lock);
        if (PassEnded) return;
        PassEnded = true;
        PassEnd = TPassEnd::Complete;
    }
    if (Tracing()) Trace("last byte written");
    // Connections that wait (to be called, or before trying a source again) have nothing
    // left to wait for.
    SetEvent(Abort);
}

void TDispatch::Cancel() {
    TLocked l(Lock);
    Cancelled = true;
}

bool TDispatch::Stopping() {
    TLocked l(Lock);
    return Cancelled || PassEnded;
}

void TDispatch::Restart(std::unique_ptr<TAnswered> handover) {
    {
        TLocked l(Lock);
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
    // Bytes of two versions met: they are never kept, not even when a stop came meanwhile.
    if (PassEnded && PassEnd == TPassEnd::Restart) return TPassEnd::Restart;
    if (Cancelled) return TPassEnd::Aborted;
    if (PassEnded && PassEnd == TPassEnd::Fail) return TPassEnd::Fail;
    if (Planner.Table().Complete()) {
        // Set only to wake the connections of this pass: the task's checks wait on it next.
        ResetEvent(Abort);
        return TPassEnd::Complete;
    }
    PassError = Planner.Sources().AllDead() ? Planner.Sources().DeadError() : ErrorNetwork;
    PassDetail = Planner.Sources().AllDead() ? Planner.Sources().DeadDetail() : 0;
    return TPassEnd::Fail;
}

TDecision TDispatch::Failed(int id, const TFailure& f, unsigned failures) {
    TLocked l(Lock);
    return Planner.Failed(id, f, failures, GetTickCount64(), Jitter.Next());
}

bool TDispatch::Pause(uint32_t ms, int id) {
    const bool stopped = WaitForSingleObject(Abort, ms) == WAIT_OBJECT_0;
    if (id >= 0) {
        TLocked l(Lock);
        Planner.WaitEnded(id);
    }
    return !stopped;
}

TReaction TDispatch::React(TReaction reaction, uint32_t error, uint32_t detail) {
    if (reaction == TReaction::Restart) Restart(nullptr);
    if (reaction == TReaction::Fail) Fail(error ? error : ErrorNetwork, detail);
    return reaction;
}

TReaction TDispatch::Dead(int id, uint32_t error, uint32_t detail) {
    TReaction r;
    {
        TLocked l(Lock);
        r = Planner.Dead(id, error, detail);
    }
    if (r == TReaction::Fail) {
        TLocked l(Lock);
        error = Planner.Sources().DeadError();
        detail = Planner.Sources().DeadDetail();
    }
    return React(r, error, detail);
}

void TDispatch::Answered(uint32_t httpStatus) {
    TLocked l(Lock);
    HaveAnswer = true;
    if (httpStatus) HttpStatus = httpStatus;
}

void TDispatch::RoomToConfirm(const std::wstring& folder) {
    TLocked l(Lock);
    RoomFolder = folder;
}

bool TDispatch::RoomConfirmed() {
    std::wstring folder;
    int64_t need = 0;
    {
        TLocked l(Lock);
        if (RoomFolder.empty()) return true;
        folder.swap(RoomFolder);
        need = Planner.Table().Free();
    }
    const int64_t free = FreeBytes(folder);
    if (free < 0 || free >= need) return true;
    Fail(ErrorDiskFull);
    return false;
}

void TDispatch::Status(uint32_t httpStatus, int source) {
    TLocked l(Lock);
    if (source == 0) PreferredSpoke = true;
    if (source == 0 || !PreferredSpoke) HttpStatus = httpStatus;
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
