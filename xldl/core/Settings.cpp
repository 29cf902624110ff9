#include "xldl/core/Settings.h"

#include <algorithm>

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

// "P:Q,P:Q" into `pairs`; "0" leaves none; anything else malformed leaves them as they were.
void HttpsPairs(const std::string& text, std::vector<std::pair<uint16_t, uint16_t>>& pairs) {
    if (text == "0") {
        pairs.clear();
        return;
    }
    std::vector<std::pair<uint16_t, uint16_t>> read;
    size_t at = 0;
    while (at <= text.size()) {
        const size_t comma = std::min(text.find(',', at), text.size());
        const std::string item = text.substr(at, comma - at);
        const size_t colon = item.find(':');
        uint32_t ports[2] = {0, 0};
        for (int i = 0; i < 2; ++i) {
            const std::string digits = i == 0                       ? item.substr(0, colon)
                                       : colon == std::string::npos ? std::string()
                                                                    : item.substr(colon + 1);
            if (digits.empty() || digits.size() > 5) return;
            for (char c : digits) {
                if (c < '0' || c > '9') return;
                ports[i] = ports[i] * 10 + static_cast<uint32_t>(c - '0');
            }
            if (ports[i] == 0 || ports[i] > 65535) return;
        }
        read.emplace_back(static_cast<uint16_t>(ports[0]), static_cast<uint16_t>(ports[1]));
        at = comma + 1;
    }
    pairs = std::move(read);
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
    if (const auto ports = lookup("XLDL_HTTPS_PORTS")) HttpsPairs(*ports, s.HttpsPorts);
    return s;
}

uint16_t HttpsPortFor(const TSettings& settings, uint16_t plainPort) {
    for (const auto& [plain, secure] : settings.HttpsPorts)
        if (plain == plainPort) return secure;
    return 0;
}

} // namespace xldl
