// Fetching a file's bytes into its temporary file: the transfer strategy of a task.
//
// A pass starts with one request: the file's first bytes as a range (which brings the size and
// validator with it, so no separate probe), or, when resuming, the first missing range under
// If-Range. As soon as an answer shows that ranges work, the other connections start. Each
// connection asks for one claim at a time, sized by its pace (several round trips' worth,
// smaller towards the end), and sends its next request while the current answer still has
// about two round trips to come, so it never idles between ranges. When nothing is left to
// claim, an idle connection cuts the largest remaining claim of another, so the connections
// finish together. Every request asks for exactly the bytes of its claim; a connection that
// stops early closes its socket, so nothing large is left to drain.
//
// Failures: a connection that drops, stalls or is turned away waits (capped backoff, or what
// Retry-After asks) and resumes its claim; the task gives up only when no byte has come for the
// whole retry budget. Refusals by a server that wants fewer connections retire the connection.
// The caller's threads only look: every look is a copy under a short lock.
#pragma once

#include "xldl/Files.h"
#include "xldl/HttpConnection.h"
#include "xldl/core/Answer.h"
#include "xldl/core/Pacing.h"
#include "xldl/core/ProxyRules.h"
#include "xldl/core/Retry.h"
#include "xldl/core/Segments.h"
#include "xldl/core/Settings.h"

#include <windows.h>

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace xldl {

// The engine's threads now running.
extern volatile LONG LiveThreads;
// A thread of the engine, counted from before it starts until its last instruction.
HANDLE StartThread(unsigned(__stdcall* main)(void*), void* argument);

// What a task knows of its file, and how far it got: enough to resume it (also in a later run).
struct TFileFacts {
    TUrl Location;         // where the file was found (after redirects)
    int64_t Total = -1;    // -1 unknown
    std::string Validator; // strong ETag or Last-Modified, for If-Range
    TDigest Digest;
    std::vector<TByteRange> Done;
    // The file's end is only where a connection closed (THttpConnection::EndUnproven).
    bool EndUnproven = false;
};

class TTransfer {
public:
    enum class TEnd { Complete, Restart, Fail, Aborted };
    struct TProgress {
        bool Answered = false; // an answer came: bytes flow or are about to
        int64_t Total = -1;
        int64_t Done = 0;
        int Connections = 0; // working now
        bool AllWaiting = false;
        uint32_t HttpStatus = 0;
    };

    // Fetches `url` into `part`, a file in `folder`.
    TTransfer(const TUrl& url, const std::wstring& folder, bool manyConnections,
              const TSettings& settings, const TProxyConfig& proxies, TPartFile& part,
              HANDLE abort);
    ~TTransfer();
    TTransfer(const TTransfer&) = delete;
    TTransfer& operator=(const TTransfer&) = delete;

    // Takes up a download where `facts` left it (before the first pass).
    void Resume(const TFileFacts& facts);
    // One pass, on the caller's thread (its own connection threads beside it).
    TEnd RunPass();
    // The file changed or cannot be resumed: from zero, with nothing known.
    void Forget();
    // Stops every pass for good (the task's abort event is set by the caller).
    void Cancel();

    TProgress Progress();
    TFileFacts Facts();
    // Why the last pass failed (a TEngineError), and what the system said behind it.
    uint32_t Failure();
    uint32_t FailureDetail();

private:
    // A request on the wire, in the order of its answer.
    struct TAsked {
        int Claim = -1;
        TQuestion Question;
        DWORD SentAt = 0;
        bool Alone = false; // nothing else was outstanding: its wait is a round trip
        bool Early = false; // sent before the first answer, under no validator: its answer
                            // counts only if it names the same file, and is dropped if not
    };
    // A connection and its answered head, handed from one pass to the next.
    struct TAnswered {
        std::unique_ptr<THttpConnection> Connection;
        TQuestion Question;
        TAnswer Answer;
    };
    struct TWorker;
    struct TWorkerStart;
    enum class TStep { Go, Stop, Retired };

    static unsigned __stdcall WorkerMain(void* start);
    // A connection of the pass on a thread of its own (`early`: started before the first
    // answer, to connect while it comes).
    void Connection(int id, bool early);
    std::unique_ptr<TAnswered> First();
    TNetResult Ask(std::unique_ptr<THttpConnection>& connection, const TUrl& url,
                   const TQuestion& q, HANDLE abort);
    std::string HeaderLines(const TQuestion& q) const;
    void Work(TWorker& w);
    TStep Step(TWorker& w);
    TStep ReadAnswer(TWorker& w);
    TStep ReadBody(TWorker& w);
    // Claims the next range and sends its request: true when it went; otherwise `step` says how
    // the connection goes on (Stop when nothing is left to ask for).
    bool SendNext(TWorker& w, bool ahead, TStep& step);
    TStep Failed(TWorker& w, const TNetResult& r, bool refusal, std::optional<int64_t> retryAfter);
    void DropConnection(TWorker& w);
    bool Backoff(unsigned& failures, std::optional<int64_t> retryAfter);
    void RequestRestart(std::unique_ptr<TAnswered> handover, bool rangesBroken);
    void RequestFail(uint32_t error, uint32_t detail = 0);
    bool Stopping();
    // The first request met a refusal or a failure: the early connections go, lest they be
    // what the server is refusing for.
    void CallOffEarly();
    bool Resumable(); // under the lock
    std::optional<TUrl> Redirected(const TUrl& from, const std::string& location);

    const bool ManyConnections;
    const TSettings Settings;
    const TProxyConfig Proxies;
    const std::wstring Folder;
    TPartFile& Part;
    const HANDLE Abort;  // manual reset: set to stop the current pass, or the whole task
    HANDLE Go = nullptr; // manual reset: the first answer is in, Parts says how many connect

    CRITICAL_SECTION Lock; // guards what follows
    bool Cancelled = false;
    TUrl Location;
    std::string Validator;
    TDigest Digest;
    bool RangesUsable = true;
    bool Resuming = false;
    bool Confirmed = true; // an answer has shown the file is the one on disk
    TSegmentTable Segments;
    bool EndUnproven = false;
    bool Answered = false;
    uint32_t HttpStatus = 0;
    int Parts = 0;                // connections the current pass wants
    std::vector<int> EarlyClaims; // by connection: the claim its early request asked for
    bool EarlyCalledOff = false;
    uint32_t RoundTrip = 0; // the least any connection measured: for those that cannot measure
    int Active = 0;         // connections working on the current pass
    int Waiting = 0;        // of them, waiting to retry
    DWORD LastProgress = 0; // when the last byte was written, or the task started
    TEnd PassEnd = TEnd::Complete;
    bool PassEnded = false;
    uint32_t PassError = 0;
    uint32_t PassDetail = 0;
    std::unique_ptr<TAnswered> Handover; // a whole-file answer that starts the next pass
    TJitter Jitter;
};

} // namespace xldl
