// How one connection paces its requests. It measures how fast its answers come, how long a
// request takes to be answered on an idle connection, and apart from that the server's own delay
// before the first byte of each answer (seen where an answer follows the one before it on the
// wire, when only the server's time lies between them), and from that:
//   - how much the next request asks for: enough to last several round trips, and long enough
//     that the server's delay is a small share of it (a server that takes 200 ms to begin each
//     answer costs that for every request), but less towards the end, in proportion to what
//     each connection delivers, so that the connections of a task (fast and slow, from one
//     mirror or two) run out of work together instead of one finishing a large last piece alone;
//   - when the next request goes: while the current answer still has about two round trips'
//     worth to come, so that the next answer follows on without a gap.
// Pure arithmetic on what the connection observed; tested natively.
#pragma once

#include "xldl/core/Sustained.h"

#include <cstdint>

namespace xldl {

class TPace {
public:
    // Requests ask for `minRequest` to `maxRequest` bytes.
    TPace(int64_t minRequest, int64_t maxRequest);

    // An answer's head came at `nowMs` (any monotonic clock): its body begins to flow. Its
    // time on the connection began at `beganMs` (its request sent, or the answer before it
    // ended, whichever came later).
    void BodyBegins(uint64_t nowMs, uint64_t beganMs);
    void BodyBegins(uint64_t nowMs) { BodyBegins(nowMs, nowMs); }
    // `bytes` of an answer's body came at `nowMs`.
    void Arrived(uint64_t nowMs, int64_t bytes);
    // A request sent on an idle connection was answered (its head came) after `ms`.
    void Answered(uint32_t ms);
    // An answer's head came `ms` after the body before it on the same connection ended, its
    // request having been on the wire long before: the server's own delay, without the network.
    void Followed(uint32_t ms);
    // An answer of `bytes` ended at `nowMs`; its time on the connection began at `beganMs`
    // (its request sent, or the answer before it ended, whichever came later). What the
    // connection delivers over whole answers, gaps included: how fast its queue of requests
    // drains, which for a server that sends in bursts (a second's worth, then a pause) is far
    // less than the rate within a burst.
    void AnswerEnds(uint64_t nowMs, int64_t bytes, uint64_t beganMs);
    // What other connections to the same server measured, for one that has not yet.
    void Lend(uint32_t roundTripMs, int64_t firstByteMs);

    // Bytes per second the connection carries when busy, 0 while unknown.
    int64_t Rate() const { return BytesPerSecond; }
    // Bytes per second over whole answers and the gaps between them, 0 while unknown.
    int64_t Throughput() const;
    // What the connection delivered over its recent time at work.
    TDelivery Sustained() const { return Work.Recent(); }
    // The network's round trip in milliseconds (the server's delay taken out when known), 0
    // while unknown.
    uint32_t RoundTrip() const;
    // The server's delay before an answer's first byte in milliseconds, -1 while unknown.
    int64_t FirstByte() const { return FirstByteMs; }

    // What the next request should ask for, with `free` bytes left to hand out, of which this
    // connection should fetch `share` (its part of what all connections deliver, 0 to 1).
    int64_t RequestSize(int64_t free, double share) const;
    // Whether the next request should go now, `left` bytes before the current answer ends.
    bool SendAhead(int64_t left) const;
    // The least worth cutting from another connection's claim: what this one would fetch in
    // the round trip it needs to get going.
    int64_t MinSplit() const;
    // Whether `surplus` bytes of an answer beyond a cut claim are read and dropped, rather than
    // the connection closed (and the requests queued behind it asked again on a new one):
    // when reading them takes no longer than that new connection would to get going. Every
    // byte dropped was fetched for nothing.
    bool Drains(int64_t surplus) const;

private:
    int64_t MinRequest;
    int64_t MaxRequest;
    int64_t BytesPerSecond = 0;
    uint32_t HeadMs = 0;      // the quickest answer on an idle connection
    int64_t FirstByteMs = -1; // smoothed over the answers that followed others
    TSustained Work;
    uint64_t WindowStart = 0;
    int64_t WindowBytes = 0;
    bool Flowing = false;
};

} // namespace xldl
