// Which proxies, if any, a URL goes through: from the environment (http_proxy, https_proxy,
// no_proxy, as curl reads them), from the system's settings (the "host:port" or
// "http=host:port;https=host:port" server and its ';' list of exceptions, "<local>" among
// them), or from what the system's resolver made of an automatic configuration script (a
// list of proxies, perhaps with DIRECT). Plain text in, decisions out; tested natively.
#pragma once

#include "xldl/core/Url.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace xldl {

struct TProxyServer {
    std::string Host;
    uint16_t Port = 80;
    bool operator==(const TProxyServer&) const = default;
};

struct TProxyConfig {
    std::optional<TProxyServer> Http;  // for http:// URLs
    std::optional<TProxyServer> Https; // for https:// URLs (a CONNECT tunnel)
    // Hosts reached directly: exact names, "*.suffix" and "prefix*" patterns, "*" for all, and
    // "<local>" for names without a dot.
    std::vector<std::string> Bypass;
    bool Empty() const { return !Http && !Https; }
};

// "http://[user@]host[:port][/]" or "host[:port]"; nothing for other schemes (socks and the
// like) or anything unusable.
std::optional<TProxyServer> ParseProxyServer(std::string_view text);

// The environment's proxies. An empty or unusable value is no proxy.
TProxyConfig ProxyFromEnvironment(std::string_view httpProxy, std::string_view httpsProxy,
                                  std::string_view noProxy);

// The system's settings: the server text and the exceptions (';' or ',' separated).
TProxyConfig ProxyFromSystem(std::string_view server, std::string_view bypass);

// The proxy that `url` goes through, or nothing for a direct connection.
std::optional<TProxyServer> ProxyFor(const TProxyConfig& config, const TUrl& url);

// One way to reach a server: through a proxy, or directly (nothing: DIRECT).
using TProxyRoute = std::optional<TProxyServer>;
// The ways to try, in order. Never empty where it decides: no proxy at all is one DIRECT.
using TProxyRoutes = std::vector<TProxyRoute>;

// A resolver's answer for a URL, as the system's resolver or a script writes it: entries
// separated by ';' or blanks, each "host:port", "PROXY host:port", "HTTP host:port",
// "DIRECT", or "scheme=host:port" (kept for the URL's scheme only). SOCKS and other kinds
// are skipped; duplicates after the first are dropped. Empty when nothing usable is named
// (the caller decides what that means).
TProxyRoutes ParseProxyList(std::string_view list, bool secure);

// The routes to try: as given, with those known to be unreachable moved behind the others
// (in their own order), so that every connection does not wait out the same dead proxy.
TProxyRoutes OrderRoutes(const TProxyRoutes& routes, const std::vector<TProxyServer>& dead);

// "host:port" of a proxy, or "DIRECT", for traces.
std::string RouteText(const TProxyRoute& route);

} // namespace xldl
