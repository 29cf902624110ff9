#include "xldl/core/ProxyRules.h"

#include "xldl/core/Text.h"

namespace xldl {

namespace {

std::vector<std::string> Items(std::string_view list, std::string_view separators) {
    std::vector<std::string> items;
    while (!list.empty()) {
        const size_t at = list.find_first_of(separators);
        const std::string_view item = Trim(list.substr(0, at));
        if (!item.empty()) items.push_back(LowerText(item));
        if (at == std::string_view::npos) break;
        list.remove_prefix(at + 1);
    }
    return items;
}

// Glob with '*' only, on lower-case text.
bool Glob(std::string_view pattern, std::string_view text) {
    size_t p = 0, t = 0, star = std::string_view::npos, mark = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool Bypassed(const std::vector<std::string>& rules, const TUrl& url) {
    std::string host = LowerText(url.Host);
    const std::string withPort = host + ":" + std::to_string(url.Port);
    if (host.size() > 2 && host.front() == '[') host = host.substr(1, host.size() - 2);
    for (const std::string& rule : rules) {
        if (rule == "<local>") {
            if (host.find('.') == std::string::npos && host.find(':') == std::string::npos)
                return true;
            continue;
        }
        // no_proxy style: ".corp.lan" and "corp.lan" both cover the domain and its hosts.
        std::string_view r = rule;
        if (r.find('*') == std::string_view::npos) {
            if (!r.empty() && r.front() == '.') r.remove_prefix(1);
            if (host == r || withPort == r ||
                (host.size() > r.size() && host.ends_with(r) &&
                 host[host.size() - r.size() - 1] == '.'))
                return true;
            continue;
        }
        if (Glob(r, host) || Glob(r, withPort)) return true;
    }
    return false;
}

} // namespace

std::optional<TProxyServer> ParseProxyServer(std::string_view text) {
    std::string_view p = Trim(text);
    if (p.size() >= 7 && LowerText(p.substr(0, 7)) == "http://")
        p.remove_prefix(7);
    else if (p.find("://") != std::string_view::npos)
        return std::nullopt; // socks and the like
    p = p.substr(0, p.find('/'));
    const size_t at = p.rfind('@');
    if (at != std::string_view::npos) p.remove_prefix(at + 1);
    if (p.empty()) return std::nullopt;
    for (char c : p)
        if (static_cast<unsigned char>(c) <= 0x20 || c == ';' || c == '=' || c == ',')
            return std::nullopt;
    TProxyServer server;
    std::string_view host = p;
    const size_t close = p.rfind(']');
    const size_t colon = p.rfind(':');
    if (colon != std::string_view::npos && (close == std::string_view::npos || colon > close)) {
        host = p.substr(0, colon);
        const std::string_view port = p.substr(colon + 1);
        if (port.empty() || port.size() > 5) return std::nullopt;
        uint32_t v = 0;
        for (char c : port) {
            if (c < '0' || c > '9') return std::nullopt;
            v = v * 10 + static_cast<uint32_t>(c - '0');
        }
        if (v == 0 || v > 65535) return std::nullopt;
        server.Port = static_cast<uint16_t>(v);
    }
    if (host.empty()) return std::nullopt;
    server.Host = std::string(host);
    return server;
}

TProxyConfig ProxyFromEnvironment(std::string_view httpProxy, std::string_view httpsProxy,
                                  std::string_view noProxy) {
    TProxyConfig c;
    c.Http = ParseProxyServer(httpProxy);
    c.Https = ParseProxyServer(httpsProxy);
    c.Bypass = Items(noProxy, ",");
    return c;
}

TProxyConfig ProxyFromSystem(std::string_view server, std::string_view bypass) {
    TProxyConfig c;
    if (server.find('=') == std::string_view::npos) {
        c.Http = c.Https = ParseProxyServer(server); // one proxy for every scheme
    } else {
        for (const std::string& item : Items(server, "; ")) {
            const size_t eq = item.find('=');
            if (eq == std::string::npos) continue;
            const std::string scheme = item.substr(0, eq);
            if (scheme == "http")
                c.Http = ParseProxyServer(item.substr(eq + 1));
            else if (scheme == "https")
                c.Https = ParseProxyServer(item.substr(eq + 1));
        }
    }
    c.Bypass = Items(bypass, ";,");
    return c;
}

std::optional<TProxyServer> ProxyFor(const TProxyConfig& config, const TUrl& url) {
    const auto& proxy = url.Secure ? config.Https : config.Http;
    if (!proxy || Bypassed(config.Bypass, url)) return std::nullopt;
    return proxy;
}

TProxyRoutes ParseProxyList(std::string_view list, bool secure) {
    TProxyRoutes routes;
    const auto add = [&](TProxyRoute route) {
        for (const TProxyRoute& r : routes)
            if (r == route) return;
        routes.push_back(std::move(route));
    };
    // A script's entries are "KIND host:port", the resolver's bare "host:port": a kind word
    // waits for the address after it.
    std::string kind;
    for (const std::string& item : Items(list, "; \t\r\n")) {
        if (item == "direct") {
            add(std::nullopt);
            kind.clear();
            continue;
        }
        if (item == "proxy" || item == "http" || item == "https" || item == "socks" ||
            item == "socks4" || item == "socks5") {
            kind = item;
            continue;
        }
        const std::string was = kind;
        kind.clear();
        if (was.starts_with("socks") || was == "https") continue; // not spoken here
        std::string_view address = item;
        if (const size_t eq = address.find('='); eq != std::string_view::npos) {
            const std::string_view scheme = address.substr(0, eq);
            if (scheme != (secure ? "https" : "http")) continue;
            address.remove_prefix(eq + 1);
        }
        if (const auto server = ParseProxyServer(address)) add(*server);
    }
    return routes;
}

TProxyRoutes OrderRoutes(const TProxyRoutes& routes, const std::vector<TProxyServer>& dead) {
    const auto isDead = [&](const TProxyRoute& r) {
        if (!r) return false;
        for (const TProxyServer& d : dead)
            if (d == *r) return true;
        return false;
    };
    TProxyRoutes ordered;
    for (const TProxyRoute& r : routes)
        if (!isDead(r)) ordered.push_back(r);
    for (const TProxyRoute& r : routes)
        if (isDead(r)) ordered.push_back(r);
    return ordered;
}

std::string RouteText(const TProxyRoute& route) {
    return route ? route->Host + ":" + std::to_string(route->Port) : std::string("DIRECT");
}

} // namespace xldl
