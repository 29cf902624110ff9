// What a connection sustains, as against what it carries in a burst. Many servers pace a
// connection by the second (lighttpd's connection.kbytes-per-second, Apache's mod_ratelimit):
// a second's worth goes at once, then nothing until the next second. Rates over a few hundred
// milliseconds then say either the burst's speed, many times the cap, or, over a window that
// holds the pause, a fraction of it; the first connection to answer looks fast, the others
// slow, and every share and judgement between them follows the accident of where the windows
// fell. So the connection's time at work is booked whole: from each request's turn on the
// connection (sent, or the answer before it ended) to its answer's end, the server's pauses
// inside it included, and its bytes are counted over the last two seconds of that time.
// Pure arithmetic on a clock passed in; tested natively.
#pragma once

#include <cstdint>
#include <deque>

namespace xldl {

// Bytes delivered over milliseconds at work.
struct TDelivery {
    int64_t Bytes = 0;
    int64_t Ms = 0;
};

class TSustained {
public:
    // The span a rate is taken over once the connection has worked that long: a whole number
    // of a pacing server's seconds, so that each holds as many bursts as it has pauses.
    static constexpr int64_t WindowMs = 2000;
    // A rate is never credited over less than this: until the connection has worked a whole
    // second, what came is a second's worth at most.
    static constexpr int64_t LeastMs = 1000;
    // Silent at work this long, a connection is pausing, not merely between two reads.
    static constexpr int64_t PauseMs = 100;

    // An answer's head came at `nowMs`; its time on the connection began at `fromMs`.
    void Begins(uint64_t nowMs, uint64_t fromMs);
    // `bytes` of the answer came at `nowMs`.
    void Arrived(uint64_t nowMs, int64_t bytes);
    // An answer of `bytes` ended at `nowMs`; its time on the connection began at `fromMs`.
    void Ends(uint64_t nowMs, int64_t bytes, uint64_t fromMs);

    // Over the last WindowMs at work, or all of it while shorter.
    TDelivery Recent() const;

private:
    TDelivery Total() const;
    void Mark();

    TDelivery Done;        // answers ended
    bool Open = false;     // an answer is coming
    uint64_t OpenFrom = 0; // its time on the connection began
    uint64_t OpenLast = 0; // its last sign (head or bytes)
    int64_t OpenBytes = 0;
    uint64_t LastEnd = 0;        // where the last answer's time ended: none is booked twice
    std::deque<TDelivery> Marks; // totals as they grew, oldest first
};

// Whether `d` spans a whole window, long enough to judge a connection by.
inline bool Proven(const TDelivery& d) {
    return d.Ms >= TSustained::WindowMs;
}

// Whether `d` shows how fast the connection is, silent for `silentMs` while at work: after a
// whole second at work, or once it has paused at work (a server that paces by the second goes
// silent after its burst); before, a fast connection is still bringing its first second.
inline bool Settled(const TDelivery& d, int64_t silentMs) {
    return d.Ms + silentMs >= TSustained::LeastMs || silentMs >= TSustained::PauseMs;
}

// Bytes per second of `d` for a connection silent for `silentMs` while at work (its server's
// pause after a burst lowers it as it lasts), over at least TSustained::LeastMs; -1 with no
// bytes.
int64_t SustainedRate(const TDelivery& d, int64_t silentMs);

} // namespace xldl
