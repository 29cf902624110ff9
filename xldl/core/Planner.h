// The transfer's decisions, apart from sockets, threads and the disk: what the file is and
// whether its ranges may be fetched apart, how many connections a pass wants, which bytes each
// request asks for (its share and the windows beside it), what becomes of a connection that
// fails (asked again at once, retired, paused or given up), and the figures connections lend
// each other. Pure logic on a clock passed in; the caller serialises access (one lock for the
// pass), so each call is one short step.
#pragma once

#include "xldl/core/Answer.h"
#include "xldl/core/HttpHeaders.h"
#include "xldl/core/Overlap.h"
#include "xldl/core/Pacing.h"
#include "xldl/core/Segments.h"
#include "xldl/core/Url.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace xldl {

// What a task knows of its file, and how far it got: enough to resume it (also in a later run).
struct TFileFacts {
    TUrl Location;         // where the file was found (after redirects)
    int64_t Total = -1;    // -1 unknown
    std::string Validator; // strong ETag or Last-Modified, for If-Range; empty: none
    TDigest Digest;
    std::vector<TByteRange> Done;
    // The file's end is only where a connection closed (THttpConnection::EndUnproven).
    bool EndUnproven = false;
};

struct TPlanSettings {
    int64_t SegmentBytes = 4 << 20; // the most one request asks for
    uint32_t MaxConnections = 4;
    bool ManyConnections = true; // the caller allows more than one
    uint32_t GiveUpMs = 600000;
    uint32_t RetryBaseMs = 1000;
    uint32_t RetryCapMs = 60000;
};

// One request: the claim it fetches and what goes on the wire. The answer's bytes before
// `WriteFrom` and from `WriteEnd` on are windows (compared, not written).
struct TPlan {
    int Claim = -1;
    TQuestion Question;
    TUrl Url;
    int64_t WriteFrom = 0;
    int64_t WriteEnd = 0;
};

// What a connection does after a failure.
enum class TRecovery {
    AskAgain, // at once, on a new connection: the server merely ended this one
    Retire,   // leave the work to the others: one connection too many for this server
    Wait,     // pause (DelayMs), then go on
    GiveUp,   // nothing has come for the whole budget: the task fails
};
struct TDecision {
    TRecovery Recovery = TRecovery::Wait;
    uint32_t DelayMs = 0;
};

// How a connection failed, as far as the decision goes.
struct TFailure {
    bool Refusal = false; // turned away: no answer at all on a new connection, or 429/503
    bool Served = false;  // closed after answering others, with requests unanswered
    std::optional<int64_t> RetryAfter;
};

class TPlanner {
public:
    TPlanner(const TPlanSettings& settings, const TUrl& start, uint64_t nowMs);

    // --- what the file is ---
    void Resume(const TFileFacts& facts);
    void Forget();
    TFileFacts Facts() const;
    // The stream of unknown length ended at a close that proves nothing (no TLS close_notify).
    void EndIsUnproven(bool unproven) { EndUnproven = unproven; }
    // Ranges of the file can be fetched apart and put together: the server's ranges work
    // (with no validator the windows stand guard).
    bool Resumable() const { return RangesUsable; }
    // Whether answers are compared in windows: the file names no version of itself.
    bool Guarded() const { return Validator.empty(); }
    bool Resuming() const { return ResumingFile && Resumable(); }
    const TUrl& Location() const { return Where; }
    void MovedTo(const TUrl& url) { Where = url; }
    void RangesBroken() { RangesUsable = false; }
    void Confirmed() { ConfirmedFile = true; }

    // --- a pass ---
    void BeginPass(uint64_t nowMs);
    // The first request of a fresh pass: the file's first bytes, or the whole when ranges
    // do not work.
    TQuestion FirstQuestion() const;
    // The first answer came: what it says of the file. Returns the claim its body fills (-1
    // for an empty file) and sets `parts`, the connections the pass wants.
    int Opened(int64_t total, int64_t bodyEnd, bool whole, const std::string& validator,
               const TDigest& digest, int& parts);
    // A pass resumes what is on disk: the connections it wants.
    int ResumedParts() const;
    int Parts() const { return PassParts; }
    void SetActive(int active) { Active = active; }
    int ActiveConnections() const { return Active; }
    int WaitingConnections() const { return Waiting; }

    // --- early requests: the other connections ask before the first answer is in ---
    // Connection `id`'s share if the file is large (asked under no validator).
    TQuestion EarlyQuestion(int id) const;
    // The first answer is in and the pass wants `parts` connections; with `early` requests
    // on their way, their shares are claimed for them.
    void PlaceEarly(int parts, bool early);
    // Connection `id`'s early request went (`sent`) or not: the claim its answer fills, or -1
    // (its share given back to the others when it could not ask). `plan` gets what it asked.
    int TakeEarly(int id, bool sent, TPlan& plan);
    void CallOffEarly() { PassParts = 0; }

    // --- requests ---
    enum class TNext { Ask, Nothing, Restart };
    // The next request of connection `id`; `ahead`: sent while an answer is still coming, so
    // only free bytes are taken. Restart: ranges cannot be used, the file starts over.
    TNext Next(int id, TPace& pace, bool ahead, TPlan& plan);
    // The server answered a range with less than was asked: later requests ask no more.
    void AnsweredShort(int64_t bytes);
    // A connection measured its trip and the server's delay: lent to those that have not.
    void Measured(const TPace& pace);

    // --- bytes ---
    TSegmentTable& Table() { return Segments; }
    const TSegmentTable& Table() const { return Segments; }
    // A window's bytes came at `pos`: those not written yet are kept to be compared when they
    // are; returns the written ranges among them, for the caller to compare with the disk.
    std::vector<TByteRange> Window(int64_t pos, const uint8_t* data, size_t size);
    // `size` bytes of the claim were written at `pos` (`data`): false when they differ from a
    // window kept for them (the file changed).
    bool Wrote(int claim, int64_t pos, const uint8_t* data, size_t size, uint64_t nowMs);

    // --- failures ---
    TDecision Failed(const TFailure& f, unsigned failures, uint64_t nowMs, double jitter);
    void WaitEnded() { --Waiting; }
    void Left() { --Active; }

private:
    // The window on each side of a share when answers are compared.
    int64_t WindowBytes() const;

    const TPlanSettings Settings;
    TUrl Where;
    std::string Validator;
    TDigest Digest;
    bool RangesUsable = true;
    bool ResumingFile = false;
    bool ConfirmedFile = true; // an answer has shown the file is the one on disk
    int64_t AnswerCap = 0;     // the most a server gives for one range (0: no limit seen)
    TSegmentTable Segments;
    bool EndUnproven = false;
    TOverlapGuard Guard;

    int PassParts = 0;
    std::vector<int> EarlyClaims; // by connection: the claim its early request asked for
    int Active = 0;               // connections working on the pass
    int Waiting = 0;              // of them, pausing before they go on
    uint64_t LastProgressMs = 0;  // when a byte was last written, or the task began
    uint32_t RoundTrip = 0;       // the least any connection measured
    int64_t FirstByte = -1;       // the server's delay as a connection last measured it
};

} // namespace xldl
