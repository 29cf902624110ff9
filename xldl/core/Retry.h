// When to try again: what an HTTP status means for a transfer, and how long to wait before
// the next attempt (exponential backoff with jitter, a server's Retry-After honoured).
#pragma once

#include <cstdint>
#include <optional>

namespace xldl {

enum class TStatusClass {
    Whole,        // 200: the whole file follows
    Partial,      // 206: the range asked for (to be checked against Content-Range)
    Redirect,     // 301, 302, 303, 307, 308: look elsewhere
    RangeRefused, // 416: the range lies outside the file as it is now
    Transient,    // 408, 425, 429, most 5xx: try again later
    Permanent,    // the rest: trying again cannot help
};
TStatusClass ClassifyStatus(int status);

// Statuses with which a server turns away one connection too many.
bool IsRefusal(int status);

// Delay before retry number `attempt` (0 for the first retry): base * 2^attempt, capped,
// then "equal jitter" (half fixed, half drawn from `unit` in [0, 1)) so that connections
// refused together do not come back together. A Retry-After (seconds) lengthens the delay to
// at least that much, itself capped so that a hostile value cannot park the task for days.
uint32_t RetryDelayMs(unsigned attempt, uint32_t baseMs, uint32_t capMs, double unit,
                      std::optional<int64_t> retryAfterSeconds = std::nullopt);

// A small deterministic random source for the jitter (SplitMix64).
class TJitter {
public:
    explicit TJitter(uint64_t seed) : State(seed) {}
    double Next(); // in [0, 1)

private:
    uint64_t State;
};

} // namespace xldl
