#include "xldl/core/Retry.h"

#include <algorithm>

namespace xldl {

TStatusClass ClassifyStatus(int status) {
    switch (status) {
    case 200:
        return TStatusClass::Whole;
    case 206:
        return TStatusClass::Partial;
    case 301:
    case 302:
    case 303:
    case 307:
    case 308:
        return TStatusClass::Redirect;
    case 416:
        return TStatusClass::RangeRefused;
    case 408:
    case 425:
    case 429:
        return TStatusClass::Transient;
    case 501: // the server cannot do GET at all
    case 505: // nor speak our HTTP version
        return TStatusClass::Permanent;
    default:
        return status >= 500 && status <= 599 ? TStatusClass::Transient : TStatusClass::Permanent;
    }
}

bool IsRefusal(int status) {
    return status == 429 || status == 503;
}

uint32_t RetryDelayMs(unsigned attempt, uint32_t baseMs, uint32_t capMs, double unit,
                      std::optional<int64_t> retryAfterSeconds) {
    uint64_t full = baseMs;
    for (unsigned i = 0; i < attempt && full < capMs; ++i)
        full *= 2;
    full = std::min<uint64_t>(full, capMs);
    unit = std::clamp(unit, 0.0, 1.0);
    uint64_t delay = full / 2 + static_cast<uint64_t>(static_cast<double>(full - full / 2) * unit);
    if (retryAfterSeconds && *retryAfterSeconds > 0) {
        const uint64_t asked =
            std::min<uint64_t>(static_cast<uint64_t>(*retryAfterSeconds), capMs / 1000 + 1) * 1000;
        delay = std::max(delay, std::min<uint64_t>(asked, capMs));
    }
    return static_cast<uint32_t>(std::min<uint64_t>(delay, capMs));
}

double TJitter::Next() {
    uint64_t z = (State += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) / 9007199254740992.0; // 2^53
}

} // namespace xldl
