// The pass's one lock: every call of a connection's thread into the transfer's decisions
// (xldl/core/Planner) is one short locked step, and how the pass ends is recorded here. It
// never calls up: connections learn that the pass has ended by asking, and wake on the events.
#pragma once

#include "xldl/HttpConnection.h"
#include "xldl/Locked.h"
#include "xldl/core/Answer.h"
#include "xldl/core/Planner.h"
#include "xldl/core/Retry.h"

#include <windows.h>

#include <memory>
#include <vector>

namespace xldl {

enum class TPassEnd { Complete, Restart, Fail, Aborted };

// A connection and its answered head, handed from one pass to the next (a whole file came
// instead of a range: the next pass reads it from its first byte).
struct TAnswered {
    std::unique_ptr<THttpConnection> Connection;
    TQuestion Question;
    TAnswer Answer;
    int Source = 0;
};

class TDispatch {
public:
    // `abort`: the task's event (manual reset), set to stop the current pass or the task.
    TDispatch(const TPlanSettings& settings, const std::vector<TUrl>& sources, HANDLE abort);
    ~TDispatch();
    TDispatch(const TDispatch&) = delete;
    TDispatch& operator=(const TDispatch&) = delete;

    // One step on the planner, under the lock.
    template <class F> auto Locked(F&& step) {
        TLocked l(Lock);
        return step(Planner);
    }

    // A new pass: false when the task is cancelled. Hands over what the last pass left, and
    // says which connections the pass begins with.
    bool BeginPass(std::unique_ptr<TAnswered>& handover, std::vector<TPlanner::TStart>& starts);
    // The first answer is in (or the pass resumes): the waiting connections go.
    void Go();
    HANDLE GoEvent() const { return GoSignal; }
    HANDLE AbortEvent() const { return Abort; }
    // The first request met a refusal: the early connections go, lest they be what the server
    // is refusing for.
    void CallOffEarly();
    bool EarlyCalledOff();
    // Every byte is written: the pass ends, and whoever waits wakes.
    void Completed();

    void Cancel();
    bool Stopping();
    // The file changed or its ranges cannot be used: the pass ends and the file starts over,
    // from `handover` if a whole-file answer came.
    void Restart(std::unique_ptr<TAnswered> handover);
    void Fail(uint32_t error, uint32_t detail = 0);
    // How the pass ended, once every connection has gone.
    TPassEnd End();

    // What failed connection `id` does next (the pause counted as waiting until it ends).
    TDecision Failed(int id, const TFailure& f, unsigned failures);
    // Pauses `ms`: false when the pass or the task ends meanwhile. `id`: a connection whose
    // pause after a failure this is.
    bool Pause(uint32_t ms, int id = -1);
    // What follows from a source's say about the file (see TPlanner): the pass restarts or
    // fails here when that is the reaction.
    TReaction React(TReaction reaction, uint32_t error = 0, uint32_t detail = 0);
    // Connection `id` met an answer that cannot change (a TEngineError).
    TReaction Dead(int id, uint32_t error, uint32_t detail = 0);

    void Answered(uint32_t httpStatus);
    // A download taken up from a state whose length would not fit into `folder` now: the
    // length is believed, and the task fails for want of room, only once a server says it too
    // (a state's length is no reason to fail before anyone was asked).
    void RoomToConfirm(const std::wstring& folder);
    // An answer confirmed the file as the state has it: false when the pass failed for room.
    bool RoomConfirmed();
    // The last answer's status, as the task shows it: the chosen mirror's, another's only
    // while the chosen one has said nothing.
    void Status(uint32_t httpStatus, int source);
    struct TLook {
        bool Answered = false;
        int64_t Total = -1;
        int64_t Done = 0;
        int Connections = 0;
        bool AllWaiting = false;
        uint32_t HttpStatus = 0;
    };
    TLook Look();
    uint32_t Failure();
    uint32_t FailureDetail();

private:
    const HANDLE Abort;
    HANDLE GoSignal = nullptr; // manual reset: the first answer is in
    CRITICAL_SECTION Lock;     // guards what follows
    TPlanner Planner;
    TJitter Jitter;
    bool Cancelled = false;
    bool HaveAnswer = false;
    uint32_t HttpStatus = 0;
    bool PreferredSpoke = false; // the chosen mirror's status is in HttpStatus
    bool PassEnded = false;
    TPassEnd PassEnd = TPassEnd::Complete;
    uint32_t PassError = 0;
    uint32_t PassDetail = 0;
    std::unique_ptr<TAnswered> Handover;
    std::wstring RoomFolder; // a state's length not yet confirmed for the room it takes
};

} // namespace xldl
