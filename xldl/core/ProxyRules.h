// Which proxy, if any, a URL goes through: from the environment (http_proxy, https_proxy,
// no_proxy, as curl reads them) or from the system's settings (the "host:port" or
// "http=host:port;https=host:port" server and its ';' list of exceptions, "<local>" among
// them). Plain text in, decisions out; tested natively.
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

} // namespace xldl
