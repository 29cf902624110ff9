// The transfer's decisions, apart from sockets, threads and the disk: what the file is and which
// of the task's sources (one mirror, or two) may serve it, which connections a pass starts and
// when more are wanted, which bytes each request asks for (its share and the windows beside
// it), what becomes of a connection that fails (asked again at once, retired, paused or given
// up) and of a source whose answers cannot change, and the figures connections lend each other.
// Pure logic on a clock passed in; the caller serialises access (one lock for the pass), so
// each call is one short step.
#pragma once

#include "xldl/core/Answer.h"
#include "xldl/core/EarlyShares.h"
#include "xldl/core/Origins.h"
#include "xldl/core/Growth.h"
#include "xldl/core/HttpHeaders.h"
#include "xldl/core/Overlap.h"
#include "xldl/core/Pacing.h"
#include "xldl/core/Segments.h"
#include "xldl/core/Sources.h"
#include "xldl/core/Url.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace xldl {

// A source as a state file keeps it.
struct TSourceRecord {
    std::string Url;       // as the task was given it
    TUrl Location;         // where it found the file
    std::string Validator; // its own validator, empty when it gave none
};

// What a task knows of its file, and how far it got: enough to resume it (also in a later run).
struct TFileFacts {
    TUrl Location;         // where the file was found (after redirects), by the source that
                           // defined it
    int64_t Total = -1;    // -1 unknown
    std::string Validator; // that source's strong ETag or Last-Modified, for If-Range
    TDigest Digest;
    std::string LastModified; // the file's date, as that source gave it
    // Every source that served the file, the one that defined it first.
    std::vector<TSourceRecord> Sources;
    std::vector<TByteRange> Done;
    // The file's end is only where a connection closed (THttpConnection::EndUnproven).
    bool EndUnproven = false;
};

struct TPlanSettings {
    int64_t SegmentBytes = 4 << 20; // the most one request asks for
    uint32_t MaxConnections = 4;    // to one server
    bool ManyConnections = true;    // the caller allows more than one per source
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
    bool Judging = false; // the source's first answer for a known file: its head is judged
    bool Sample = false;  // bytes already written, asked only to be compared
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
    int Answers = 0; // what the connection answered before it was closed (when Served)
};

// What follows from what a source said of the file.
enum class TReaction {
    Use,     // its answer's bytes are the file's
    Drop,    // this answer is not used, the connection goes on
    Quit,    // the source is not used for the file: the connection ends
    Restart, // the preferred source serves another file than the one on disk: from zero
    Fail,    // nothing can serve the file any more: the pass fails
};

class TPlanner {
public:
    // A round trip at least this long is far: connections come at once.
    static constexpr uint32_t FarMs = 20;
    // So do they where each carries less than this: extra ones cost our CPU next to nothing,
    // and measuring whether each adds speed would take longer than it could save (a server
    // that paces connections in ticks of a second needs windows of seconds to tell).
    static constexpr int64_t SlowConnection = 8000000;
    // A server that ends connections after at most this many requests each.
    static constexpr int FewRequests = 8;
    // How long a source that is not preferred waits for the preferred one's first answer
    // before it asks itself.
    static constexpr uint32_t GraceMs = 3000;
    // A source that has delivered nothing for this long since a connection of it failed is
    // down: it keeps one connection, which tries again with backoff.
    static constexpr uint32_t DownMs = 2000;
    // A connection that has delivered nothing for this long while it holds bytes has stopped:
    // an idle one takes all of them.
    static constexpr uint32_t StoppedMs = 2500;
    // A connection kept ready that nobody called for this long goes.
    static constexpr uint32_t StandbyMs = 10000;
    // The bytes a sample compares, at most.
    static constexpr int64_t SampleBytes = 64 * 1024;

    // Sources in the order of preference: the first decides what the file is.
    TPlanner(const TPlanSettings& settings, const std::vector<TUrl>& sources, uint64_t nowMs);

    // --- what the file is ---
    void Resume(const TFileFacts& facts);
    void Forget();
    TFileFacts Facts() const;
    TSources& Sources() { return Src; }
    const TSources& Sources() const { return Src; }
    bool FileKnown() const { return Src.Known(); }
    // Whether answers of `source` are compared in windows: it names no version of the file,
    // or bytes of the file come from more than one source.
    bool Guarded(int source) const;
    const TUrl& Location(int source) const { return Src[source].Where; }
    void MovedTo(int source, const TUrl& url) { Src[source].Where = url; }
    // What trying https first found for `source`, a mirror given as http: its https twin
    // (then its answers come from there, until one that cannot change sends it back to plain
    // http for good), or nothing. A source that a state put elsewhere than either keeps that.
    void HttpsFirst(int source, const std::optional<TUrl>& twin);
    // The connection's source, -1 for an id not known.
    int SourceOf(int id) const;
    // The stream of unknown length ended at a close that proves nothing (no TLS close_notify).
    void EndIsUnproven(bool unproven) { EndUnproven = unproven; }

    // --- a pass ---
    enum class TRole {
        Open,      // asks for the file's first bytes, to learn what it is
        Candidate, // a source not preferred: asks early for the file's end, waits, then asks
                   // as Open or as any connection
        Standby,   // connects and waits until it is called (or, far, asks early)
        Run,       // asks for ranges
        Adopt,     // reads a whole-file answer the last pass handed over
    };
    struct TStart {
        int Id = -1;
        int Source = 0;
        TRole Role = TRole::Run;
    };
    // The connections a pass begins with; `handoverSource` >= 0 when a whole-file answer from
    // that source was handed over.
    std::vector<TStart> BeginPass(int handoverSource, uint64_t nowMs);
    // Connections to start now, beyond those there are.
    std::vector<TStart> Starts(uint64_t nowMs);
    // Connection `id`'s thread has ended.
    void Ended(int id, uint64_t nowMs);

    // --- opening ---
    // The first request of `source` in a fresh pass: the file's first bytes, or the whole
    // when its ranges do not work.
    TQuestion FirstQuestion(int source) const;
    enum class TCandidate { Wait, Open, Run, Quit };
    TCandidate Candidate(int id, uint64_t nowMs) const;
    // The opening answer of connection `id` came (`whole`: the file itself, not a range).
    struct TOpened {
        TReaction Reaction = TReaction::Use;
        int Claim = -1; // its body's claim when it defined the file (-1: an empty file)
        bool Defined = false;
    };
    TOpened Opened(int id, const TSourceFacts& facts, int64_t bodyEnd, bool whole, uint64_t nowMs);
    // The preferred source's first request met a refusal: the connections that were to ask
    // early go, lest they be what the server is refusing for.
    void CallOffEarly();
    bool EarlyCalledOff() const { return CalledOff; }

    // --- connections kept ready ---
    // `id` connected, taking `ms`: a long time says the source is far.
    void Connected(int id, uint32_t ms);
    // `id` connected a far round trip ago and the first answer is still not in: a connect that
    // looked near was a proxy's or a relay's, and the server behind it is far.
    void Unanswered(int id);
    // Whether `id` asks now, before the first answer is in, and what for: a standby of the
    // preferred source, when that is far, for its share of a large file; the candidate of
    // another server for the file's end.
    bool AsksEarly(int id, TQuestion& q) const;
    // The first answer is in: `id` asked early (`sent`) or not. Its claim (-1: none; its share
    // given back when it could not ask); `plan` gets what it asked (another mirror's answer is
    // judged).
    int TakeEarly(int id, bool sent, TPlan& plan);
    enum class TCall { Work, Wait, Quit };
    TCall Call(int id, uint64_t nowMs);

    // --- requests ---
    enum class TNext { Ask, Nothing, Wait, Restart, Quit };
    // The next request of connection `id`; `ahead`: sent while an answer is still coming, so
    // only free bytes are taken. Wait: nothing to ask yet (try again shortly); Quit: its
    // source is not used; Restart: ranges cannot be used, the file starts over.
    TNext Next(int id, TPace& pace, bool ahead, TPlan& plan, uint64_t nowMs);
    // The server answered a range with less than was asked: later requests ask no more.
    void AnsweredShort(int id, int64_t bytes);
    // A connection measured its rate, trip and the server's delay (its head or body came).
    void Measured(int id, const TPace& pace, uint64_t nowMs);
    // An answer of `id` named the file under its validator.
    void Confirmed(int id);

    // --- what sources say of the file ---
    // The head of a judging request came: whether its bytes are used.
    TReaction Judge(int id, const TSourceFacts& facts);
    // The same for a head as JudgeAnswer read it (Ok, or Restart: not the range asked for;
    // `whole`: the file itself). Another mirror's early request for the file's end answered
    // with anything but that end proves nothing of the mirror (a cache or server may mishandle
    // that one form of range alone): the request is only dropped, and its next, ordinary
    // request judges the source.
    TReaction Judged(int id, const TAnswer& answer, bool whole, const TSourceFacts& facts);
    // A sample was compared with the bytes written.
    TReaction Sampled(int id, bool same);
    // An answer of `id` shows a file other than the one on disk (its validator changed, a
    // range beyond the file's end, the whole file for a range); `rangesBroken`: the server
    // ignores ranges.
    TReaction Disagrees(int id, bool rangesBroken);
    // A window differs from what another answer brought for the same bytes.
    TReaction WindowsDiffer(int id);

    // --- bytes ---
    TSegmentTable& Table() { return Segments; }
    const TSegmentTable& Table() const { return Segments; }
    // A window's bytes came at `pos`: those not written yet are kept to be compared when they
    // are; returns the written ranges among them, for the caller to compare with the disk.
    std::vector<TByteRange> Window(int64_t pos, const uint8_t* data, size_t size);
    // `size` bytes of the claim were written at `pos` (`data`): false when they differ from a
    // window kept for them.
    bool Wrote(int claim, int64_t pos, const uint8_t* data, size_t size, uint64_t nowMs);

    // --- failures ---
    TDecision Failed(int id, const TFailure& f, unsigned failures, uint64_t nowMs, double jitter);
    // An answer that cannot change (a TEngineError): the source is not used again in this task.
    TReaction Dead(int id, uint32_t error, uint32_t detail);
    void WaitEnded(int id);
    // Connection `id` stops working (done, retired, or its source not used).
    void Left(int id, uint64_t nowMs);
    // Connection `id` closed its connection: its next request waits for a connect too.
    void Disconnected(int id);

    // --- looks ---
    int ActiveConnections() const;
    int WaitingConnections() const;

private:
    struct TConnection {
        int Source = 0;
        TRole Role = TRole::Run;
        int Slot = 0;         // what it asks early: a standby's share (1..3), or the file's
                              // end (TEarlyShares::Last) for a candidate
        bool Working = false; // counted among its source's connections at work
        bool Flowing = false; // delivered bytes since it last began or failed
        bool Judging = false; // its request judges the source
        bool AskedEnd = false; // its request is its source's early one for the file's end
        bool Closed = false;  // its next request goes on a new connection
        TDelivery Delivery;   // what it sustained, as it last measured
        uint64_t SeenMs = 0;  // when it last showed life (a head or bytes)
        uint64_t StartedMs = 0;
        uint32_t ConnectMs = 0;
        bool Unanswered = false; // no first answer a far round trip after it connected
    };
    TConnection* Conn(int id);
    const TConnection* Conn(int id) const;
    TStart Add(int source, TRole role, uint64_t nowMs);
    // Connections `source` may have now (0: none).
    int Allowed(int source, uint64_t nowMs) const;
    // Whether `source` gets its connections at once rather than one by one as they add speed.
    bool Far(int source, uint64_t nowMs) const;
    // Bytes per second connection `c` sustains, -1 unknown (or, asked `settled`, not settled).
    int64_t RateOf(const TConnection& c, uint64_t nowMs, bool settled = false) const;
    bool Down(int source, uint64_t nowMs) const;
    // Connections of `source` started and not ended, working or not.
    int Running(int source) const;
    // The window on each side of a share when answers are compared.
    int64_t WindowBytes(int source) const;
    // Whether the byte at `pos` was written by `source`, or is held by one of its connections,
    // and `source` names the version it serves.
    bool OwnAt(int source, int64_t pos) const;
    // A range of written bytes for `source` to send again, to be compared.
    bool SampleRange(int64_t& from, int64_t& end) const;
    // The preferred source that is not dead: it decides what the file is.
    int Preferred() const;
    // Whether connection `id` is much slower than another at work, and they would fetch
    // everything left sooner than it could bring a free `piece` of it.
    bool Slower(int id, int64_t piece, uint64_t nowMs) const;
    void Work(TConnection& c);
    void Unwork(TConnection& c, uint64_t nowMs);
    // Whether `c` asks before the first answer is in, were the file not known yet.
    bool Early(const TConnection& c) const;
    void PlaceEarly();
    // The source of the file is settled (defined or taken up): early claims placed, etc.
    void Define(int source, const TSourceFacts& facts, int64_t bodyEnd, bool whole);

    const TPlanSettings Settings;
    TSources Src;
    TSegmentTable Segments;
    bool EndUnproven = false;
    TOverlapGuard Guard;
    TOrigins Written; // which source wrote the bytes: windows lie only between two sources
    TGrowth Growth;
    bool ResumingFile = false;
    bool WholeStream = false; // the pass reads one whole-file answer: no other connection

    std::map<int, TConnection> Connections;
    int NextId = 0;
    uint64_t PassStartMs = 0;
    bool CalledOff = false;
    TEarlyShares EarlyAsks;
    uint64_t LastProgressMs = 0; // when a byte was last written, or the task began
};

} // namespace xldl
