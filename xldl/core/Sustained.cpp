#include "xldl/core/Sustained.h"

#include <algorithm>

namespace xldl {

void TSustained::Begins(uint64_t nowMs, uint64_t fromMs) {
    if (Open) {
        // Its answer was cut or dropped: booked up to its last byte.
        Done.Ms += static_cast<int64_t>(OpenLast - OpenFrom);
        Done.Bytes += OpenBytes;
        LastEnd = OpenLast;
    }
    Open = true;
    OpenFrom = std::min(std::max(fromMs, LastEnd), nowMs);
    OpenLast = nowMs;
    OpenBytes = 0;
    Mark();
}

void TSustained::Arrived(uint64_t nowMs, int64_t bytes) {
    if (!Open || bytes <= 0) return;
    OpenLast = std::max(OpenLast, nowMs);
    OpenBytes += bytes;
    Mark();
}

void TSustained::Ends(uint64_t nowMs, int64_t bytes, uint64_t fromMs) {
    uint64_t from = std::min(std::max(fromMs, LastEnd), nowMs);
    if (Open) from = std::min(from, OpenFrom);
    Done.Ms += static_cast<int64_t>(nowMs - from);
    Done.Bytes += std::max(bytes, Open ? OpenBytes : int64_t{0});
    Open = false;
    OpenBytes = 0;
    LastEnd = nowMs;
    Mark();
}

TDelivery TSustained::Total() const {
    TDelivery t = Done;
    if (Open) {
        t.Ms += static_cast<int64_t>(OpenLast - OpenFrom);
        t.Bytes += OpenBytes;
    }
    return t;
}

void TSustained::Mark() {
    // One mark a millisecond: a window's edge falls where the reads did, so that from a
    // server that paces by the second it holds as many bursts as it spans seconds.
    const TDelivery t = Total();
    if (!Marks.empty() && Marks.back().Ms == t.Ms)
        Marks.back() = t;
    else
        Marks.push_back(t);
    // Only the newest mark a whole window back is ever a window's start.
    while (Marks.size() >= 2 && t.Ms - Marks[1].Ms >= WindowMs)
        Marks.pop_front();
}

TDelivery TSustained::Recent() const {
    const TDelivery t = Total();
    const TDelivery from =
        !Marks.empty() && t.Ms - Marks.front().Ms >= WindowMs ? Marks.front() : TDelivery{};
    return {t.Bytes - from.Bytes, t.Ms - from.Ms};
}

int64_t SustainedRate(const TDelivery& d, int64_t silentMs) {
    if (d.Bytes <= 0) return -1;
    const int64_t ms = std::max(d.Ms + std::max<int64_t>(silentMs, 0), TSustained::LeastMs);
    return static_cast<int64_t>(static_cast<uint64_t>(d.Bytes) * 1000 / static_cast<uint64_t>(ms));
}

} // namespace xldl
