#include "xldl/core/Settings.h"

namespace xldl {

namespace {

template <class T>
void Number(const std::function<std::optional<std::string>(const char*)>& lookup, const char* name,
            T& value, T lo, T hi) {
    const auto text = lookup(name);
    if (!text || text->empty() || text->size() > 18) return;
    int64_t v = 0;
    for (char c : *text) {
        if (c < '0' || c > '9') return;
        v = v * 10 + (c - '0');
    }
    if (v < static_cast<int64_t>(lo) || v > static_cast<int64_t>(hi)) return;
    value = static_cast<T>(v);
}

} // namespace

TSettings LoadSettings(const std::function<std::optional<std::string>(const char*)>& lookup) {
    TSettings s;
    Number<uint32_t>(lookup, "XLDL_STALL_MS", s.StallMs, 50, 3600000);
    Number<uint32_t>(lookup, "XLDL_RETRY_BASE_MS", s.RetryBaseMs, 1, 600000);
    Number<uint32_t>(lookup, "XLDL_RETRY_CAP_MS", s.RetryCapMs, 1, 3600000);
    Number<uint32_t>(lookup, "XLDL_GIVE_UP_MS", s.GiveUpMs, 0, 86400000);
    Number<uint32_t>(lookup, "XLDL_MAX_CONNECTIONS", s.MaxConnections, 1, 4);
    Number<int64_t>(lookup, "XLDL_SEGMENT_BYTES", s.SegmentBytes, 65536, int64_t{1} << 40);
    Number<uint32_t>(lookup, "XLDL_RENAME_WAIT_MS", s.RenameWaitMs, 0, 600000);
    Number<uint32_t>(lookup, "XLDL_RECORD_MS", s.RecordMs, 50, 600000);
    Number<uint32_t>(lookup, "XLDL_STALE_DAYS", s.StaleDays, 1, 3650);
    Number<uint32_t>(lookup, "XLDL_PROXY_WAIT_MS", s.ProxyWaitMs, 100, 600000);
    Number<uint32_t>(lookup, "XLDL_ATTEMPT_DELAY_MS", s.AttemptDelayMs, 10, 10000);
    if (s.RetryCapMs < s.RetryBaseMs) s.RetryCapMs = s.RetryBaseMs;
    s.TracePath = lookup("XLDL_TRACE").value_or("");
    return s;
}

} // namespace xldl
