#include "xldl/core/Url.h"

#include <vector>

namespace xldl {

namespace {

bool StartsNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

// "a/b/../c/./d" -> "a/c/d", the dot-segment removal of URL resolution.
std::string RemoveDots(std::string_view path) {
    std::vector<std::string_view> out;
    const bool absolute = !path.empty() && path.front() == '/';
    size_t i = absolute ? 1 : 0;
    bool trailing = false;
    while (i <= path.size()) {
        const size_t slash = path.find('/', i);
        const std::string_view seg =
            path.substr(i, slash == std::string_view::npos ? std::string_view::npos : slash - i);
        trailing = false;
        if (seg == "..") {
            if (!out.empty()) out.pop_back();
            trailing = true;
        } else if (seg == ".") {
            trailing = true;
        } else {
            out.push_back(seg);
        }
        if (slash == std::string_view::npos) break;
        i = slash + 1;
    }
    std::string r = absolute ? "/" : "";
    for (size_t k = 0; k < out.size(); ++k) {
        if (k) r += '/';
        r += out[k];
    }
    if (trailing && (r.empty() || r.back() != '/')) r += '/';
    return r;
}

bool IsAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A host as a URL may name it: a registered name or IPv4 address (letters, digits and the few
// marks such a name may hold), or an IPv6 literal in brackets. A colon or bracket anywhere else
// would reach the name lookup and our Host line as something no URL means.
bool IsHost(std::string_view host) {
    if (host.empty()) return false;
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']') return false;
        for (char c : host.substr(1, host.size() - 2))
            if (!IsAlnum(c) && c != ':' && c != '.' && c != '%') return false;
        return true;
    }
    for (char c : host)
        if (!IsAlnum(c) && std::string_view("-._~%!$&'()*+,;=").find(c) == std::string_view::npos)
            return false;
    return true;
}

// scheme://authority part of an absolute URL, and the rest.
std::pair<std::string_view, std::string_view> SplitOrigin(std::string_view url) {
    const size_t scheme = url.find("://");
    if (scheme == std::string_view::npos) return {{}, url};
    const size_t pathStart = url.find_first_of("/?#", scheme + 3);
    if (pathStart == std::string_view::npos) return {url, {}};
    return {url.substr(0, pathStart), url.substr(pathStart)};
}

} // namespace

std::optional<TUrl> ParseUrl(std::string_view url) {
    TUrl u;
    if (StartsNoCase(url, "http://")) {
        url.remove_prefix(7);
    } else if (StartsNoCase(url, "https://")) {
        url.remove_prefix(8);
        u.Secure = true;
        u.Port = 443;
    } else {
        return std::nullopt;
    }
    for (char c : url)
        if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F)
            return std::nullopt;
    const size_t hash = url.find('#');
    if (hash != std::string_view::npos) url = url.substr(0, hash);
    const size_t end = url.find_first_of("/?");
    std::string_view authority = url.substr(0, end);
    const std::string_view rest =
        end == std::string_view::npos ? std::string_view{} : url.substr(end);
    if (authority.find('@') != std::string_view::npos) return std::nullopt;
    std::string_view host = authority;
    const size_t close = authority.rfind(']');
    const size_t colon = authority.rfind(':');
    if (colon != std::string_view::npos && (close == std::string_view::npos || colon > close)) {
        host = authority.substr(0, colon);
        const std::string_view port = authority.substr(colon + 1);
        if (!port.empty()) {
            if (port.size() > 5) return std::nullopt;
            uint32_t p = 0;
            for (char c : port) {
                if (c < '0' || c > '9') return std::nullopt;
                p = p * 10 + static_cast<uint32_t>(c - '0');
            }
            if (p == 0 || p > 65535) return std::nullopt;
            u.Port = static_cast<uint16_t>(p);
        }
    }
    if (!IsHost(host)) return std::nullopt;
    u.Host = std::string(host);
    u.Target =
        rest.empty() ? "/" : (rest.front() == '?' ? "/" + std::string(rest) : std::string(rest));
    return u;
}

std::string FormatUrl(const TUrl& url) {
    std::string text = url.Secure ? "https://" : "http://";
    text += url.Host;
    if (url.Port != (url.Secure ? 443 : 80)) text += ":" + std::to_string(url.Port);
    return text + url.Target;
}

std::string ResolveReference(std::string_view base, std::string_view raw) {
    std::string encoded;
    for (char c : raw) {
        const auto b = static_cast<unsigned char>(c);
        if (b == ' ' || b >= 0x80) {
            static const char hex[] = "0123456789ABCDEF";
            encoded += '%';
            encoded += hex[b >> 4];
            encoded += hex[b & 15];
        } else {
            encoded += c;
        }
    }
    std::string_view reference = encoded;
    const size_t hash = reference.find('#');
    if (hash != std::string_view::npos) reference = reference.substr(0, hash);
    if (reference.find("://") != std::string_view::npos &&
        reference.find("://") < reference.find_first_of("/?"))
        return std::string(reference);
    const auto [origin, rest] = SplitOrigin(base);
    if (reference.substr(0, 2) == "//") {
        const size_t scheme = base.find("://");
        return std::string(base.substr(0, scheme == std::string_view::npos ? 0 : scheme + 1)) +
               std::string(reference);
    }
    std::string_view basePath = rest.substr(0, rest.find_first_of("?#"));
    if (reference.empty()) return std::string(origin) + std::string(rest.substr(0, rest.find('#')));
    if (reference.front() == '?')
        return std::string(origin) + std::string(basePath.empty() ? "/" : basePath) +
               std::string(reference);
    const size_t query = reference.find('?');
    const std::string_view refPath = reference.substr(0, query);
    const std::string_view refQuery =
        query == std::string_view::npos ? std::string_view{} : reference.substr(query);
    std::string merged;
    if (refPath.front() == '/') {
        merged = std::string(refPath);
    } else {
        const size_t lastSlash = basePath.rfind('/');
        merged =
            (lastSlash == std::string_view::npos ? std::string("/")
                                                 : std::string(basePath.substr(0, lastSlash + 1))) +
            std::string(refPath);
    }
    return std::string(origin) + RemoveDots(merged) + std::string(refQuery);
}

std::string UrlFromUtf16(std::u16string_view text) {
    while (!text.empty() && (text.front() == u' ' || text.front() == u'\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == u' ' || text.back() == u'\t'))
        text.remove_suffix(1);
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    auto percent = [&](uint8_t b) {
        out += '%';
        out += hex[b >> 4];
        out += hex[b & 15];
    };
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c == ' ') {
            out += "%20";
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            percent(static_cast<uint8_t>(0xC0 | (c >> 6)));
            percent(static_cast<uint8_t>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            percent(static_cast<uint8_t>(0xE0 | (c >> 12)));
            percent(static_cast<uint8_t>(0x80 | ((c >> 6) & 0x3F)));
            percent(static_cast<uint8_t>(0x80 | (c & 0x3F)));
        } else {
            percent(static_cast<uint8_t>(0xF0 | (c >> 18)));
            percent(static_cast<uint8_t>(0x80 | ((c >> 12) & 0x3F)));
            percent(static_cast<uint8_t>(0x80 | ((c >> 6) & 0x3F)));
            percent(static_cast<uint8_t>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

} // namespace xldl
