#include "xldl/core/Pacing.h"

#include <algorithm>
#include <cmath>

namespace xldl {

namespace {

constexpr int64_t Granule = 64 * 1024;
constexpr uint64_t WindowMs = 200;
// With nothing measured yet: a size that suits neither extreme badly.
constexpr int64_t UnknownRequest = 1 << 20;
// A request lasts this many times the server's delay before its first byte, so that the delay
// costs at most about a tenth of the time.
constexpr int64_t DelayShare = 10;
// The most of a cut answer ever read and dropped.
constexpr int64_t DrainLimit = 512 * 1024;

} // namespace

TPace::TPace(int64_t minRequest, int64_t maxRequest)
    : MinRequest(std::max<int64_t>(1, std::min(minRequest, maxRequest))),
      MaxRequest(std::max<int64_t>(1, maxRequest)) {}

void TPace::BodyBegins(uint64_t nowMs, uint64_t beganMs) {
    Work.Begins(nowMs, beganMs);
    Flowing = true;
    WindowStart = nowMs;
    WindowBytes = 0;
}

void TPace::Arrived(uint64_t nowMs, int64_t bytes) {
    if (!Flowing) { // no head seen: this read only tells when the flow began
        BodyBegins(nowMs);
        return;
    }
    WindowBytes += bytes;
    Work.Arrived(nowMs, bytes);
    const uint64_t span = nowMs - WindowStart;
    // Measured only while a body flows: the waits for the next answer say nothing about what
    // the link carries, and counting them would keep a starved pipeline starved.
    if (span < WindowMs && (span < 20 || WindowBytes < 512 * 1024)) return;
    const int64_t sample = static_cast<int64_t>(static_cast<uint64_t>(WindowBytes) * 1000 / span);
    // What the link carries when it is kept busy: a faster window counts at once, a slower
    // one slowly (an underestimate would starve the pipeline, and so confirm itself).
    BytesPerSecond = sample >= BytesPerSecond ? sample : (BytesPerSecond * 7 + sample) / 8;
    WindowStart = nowMs;
    WindowBytes = 0;
}

void TPace::Answered(uint32_t ms) {
    HeadMs = HeadMs ? std::min(HeadMs, std::max<uint32_t>(ms, 1)) : std::max<uint32_t>(ms, 1);
}

void TPace::Followed(uint32_t ms) {
    // Smoothed rather than the least: a server's delay varies from answer to answer, and what
    // the next request pays is the usual one.
    FirstByteMs = FirstByteMs < 0 ? int64_t{ms} : (FirstByteMs * 3 + ms) / 4;
}

void TPace::AnswerEnds(uint64_t nowMs, int64_t bytes, uint64_t beganMs) {
    Work.Ends(nowMs, bytes, beganMs);
}

int64_t TPace::Throughput() const {
    // Shorter spans tell more about timers and scheduling than about the connection.
    const TDelivery d = Work.Recent();
    if (d.Ms < 100 || d.Bytes <= 0) return 0;
    return static_cast<int64_t>(static_cast<uint64_t>(d.Bytes) * 1000 /
                                static_cast<uint64_t>(d.Ms));
}

void TPace::Lend(uint32_t roundTripMs, int64_t firstByteMs) {
    if (!HeadMs && roundTripMs)
        HeadMs = roundTripMs + static_cast<uint32_t>(std::max<int64_t>(firstByteMs, 0));
    if (FirstByteMs < 0) FirstByteMs = firstByteMs;
}

uint32_t TPace::RoundTrip() const {
    if (!HeadMs) return 0;
    const int64_t delay = std::max<int64_t>(FirstByteMs, 0);
    return static_cast<uint32_t>(std::max<int64_t>(1, int64_t{HeadMs} - delay));
}

int64_t TPace::RequestSize(int64_t free, double share) const {
    int64_t size = UnknownRequest;
    if (BytesPerSecond > 0) {
        const int64_t lastingMs = std::max<int64_t>(
            {1000, int64_t{4} * RoundTrip(), DelayShare * std::max<int64_t>(FirstByteMs, 0)});
        size = BytesPerSecond / 1000 * lastingMs;
    }
    if (share > 0 && free > 0)
        size = std::min(size, static_cast<int64_t>(
                                  std::ceil(static_cast<double>(free) * std::min(share, 1.0))));
    size = (size + Granule - 1) / Granule * Granule;
    return std::clamp(size, MinRequest, MaxRequest);
}

bool TPace::SendAhead(int64_t left) const {
    // Not measured yet: keep a little on the way, as for a round trip of half a second.
    if (BytesPerSecond == 0) return left <= 2 * UnknownRequest;
    const int64_t trip = RoundTrip() ? RoundTrip() : 500;
    // What is queued drains at the rate over whole answers: a burst's rate would queue far
    // more than the next round trips need, and bind bytes to this connection that the end
    // game could have shared.
    const int64_t rate = Throughput() > 0 ? std::min(Throughput(), BytesPerSecond) : BytesPerSecond;
    return left <= rate / 1000 * (2 * trip + 100) + Granule;
}

int64_t TPace::MinSplit() const {
    // What a taker waits for before its first byte: the trip and the server's delay.
    const int64_t trip = HeadMs ? HeadMs : 500;
    return std::max<int64_t>(Granule, BytesPerSecond / 1000 * trip);
}

bool TPace::Drains(int64_t surplus) const {
    if (surplus < 0 || surplus > DrainLimit) return false;
    // A new connection waits for its connect and its first answer's head: two heads' time.
    const int64_t rate = Throughput();
    if (rate <= 0 || HeadMs == 0) return true;
    return surplus <= std::max<int64_t>(Granule, rate * 2 * HeadMs / 1000);
}

} // namespace xldl
