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

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

} // namespace

TSettings LoadSettings(const std::function<std::optional<std::string>(const char*)>& lookup) {
    TSettings s;
    Number<uint32_t>(lookup, "XLDL_STALL_MS", s.StallMs, 50, 3600000);
    Number<uint32_t>(lookup, "XLDL_RETRY_BASE_MS", s.RetryBaseMs, 1, 600000);
    Number<uint32_t>(lookup, "XLDL_RETRY_CAP_MS", s.RetryCapMs, 1, 3600000);
    Number<uint32_t>(lookup, "XLDL_RETRIES", s.Retries, 0, 1000);
    Number<uint32_t>(lookup, "XLDL_MAX_CONNECTIONS", s.MaxConnections, 1, 4);
    Number<int64_t>(lookup, "XLDL_SEGMENT_BYTES", s.SegmentBytes, 65536, int64_t{1} << 40);
    Number<uint32_t>(lookup, "XLDL_RENAME_WAIT_MS", s.RenameWaitMs, 0, 600000);
    if (s.RetryCapMs < s.RetryBaseMs) s.RetryCapMs = s.RetryBaseMs;
    return s;
}

std::optional<TProxy> ProxyFromEnvironment(std::string_view httpProxy, std::string_view noProxy) {
    std::string_view p = Trim(httpProxy);
    if (p.substr(0, 7) == "http://")
        p.remove_prefix(7);
    else if (p.find("://") != std::string_view::npos)
        return std::nullopt; // socks and the like
    p = p.substr(0, p.find('/'));
    const size_t at = p.rfind('@');
    if (at != std::string_view::npos) p.remove_prefix(at + 1);
    if (p.empty() || p.front() == ':') return std::nullopt;
    for (char c : p)
        if (static_cast<unsigned char>(c) <= 0x20 || c == ';' || c == '=') return std::nullopt;
    TProxy proxy;
    proxy.Server = "http=" + std::string(p);
    size_t i = 0;
    while (i <= noProxy.size()) {
        const size_t comma = noProxy.find(',', i);
        std::string_view item = Trim(noProxy.substr(
            i, comma == std::string_view::npos ? std::string_view::npos : comma - i));
        if (!item.empty()) {
            if (!proxy.Bypass.empty()) proxy.Bypass += ';';
            if (item == "*")
                proxy.Bypass += "*";
            else if (item.front() == '.')
                proxy.Bypass += "*" + std::string(item);
            else
                proxy.Bypass += std::string(item);
        }
        if (comma == std::string_view::npos) break;
        i = comma + 1;
    }
    return proxy;
}

} // namespace xldl
