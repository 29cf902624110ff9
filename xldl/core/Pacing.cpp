#include "xldl/core/Pacing.h"

#include <algorithm>

namespace xldl {

namespace {

constexpr int64_t Granule = 64 * 1024;
constexpr uint64_t WindowMs = 200;
// With nothing measured yet: a size that suits neither extreme badly.
constexpr int64_t UnknownRequest = 1 << 20;

} // namespace

TPace::TPace(int64_t minRequest, int64_t maxRequest)
    : MinRequest(std::max<int64_t>(1, std::min(minRequest, maxRequest))),
      MaxRequest(std::max<int64_t>(1, maxRequest)) {}

void TPace::Arrived(uint64_t nowMs, int64_t bytes) {
    if (!Started) {
        Started = true;
        WindowStart = nowMs;
        WindowBytes = 0; // the first read tells when the flow began, not how fast it is
        return;
    }
    WindowBytes += bytes;
    const uint64_t span = nowMs - WindowStart;
    if (span < WindowMs) return;
    const int64_t sample = static_cast<int64_t>(static_cast<uint64_t>(WindowBytes) * 1000 / span);
    BytesPerSecond = BytesPerSecond ? (BytesPerSecond * 3 + sample) / 4 : sample;
    WindowStart = nowMs;
    WindowBytes = 0;
}

void TPace::Answered(uint32_t ms) {
    RoundTripMs =
        RoundTripMs ? std::min(RoundTripMs, std::max<uint32_t>(ms, 1)) : std::max<uint32_t>(ms, 1);
}

int64_t TPace::RequestSize(int64_t free, int connections) const {
    int64_t size = UnknownRequest;
    if (BytesPerSecond > 0) {
        const int64_t lastingMs = std::max<int64_t>(1000, int64_t{4} * RoundTripMs);
        size = BytesPerSecond / 1000 * lastingMs;
    }
    if (connections > 0 && free > 0) {
        const int64_t share = (free + connections - 1) / connections;
        size = std::min(size, share);
    }
    size = (size + Granule - 1) / Granule * Granule;
    return std::clamp(size, MinRequest, MaxRequest);
}

bool TPace::SendAhead(int64_t left) const {
    if (BytesPerSecond == 0 || RoundTripMs == 0) return left <= 512 * 1024;
    return left <= BytesPerSecond / 1000 * (int64_t{2} * RoundTripMs + 100) + Granule;
}

int64_t TPace::MinSplit() const {
    return std::max<int64_t>(Granule, BytesPerSecond / 1000 * RoundTripMs);
}

} // namespace xldl
