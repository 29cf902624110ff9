// A task's way to its servers: the proxies each host goes through, asked once per host and
// kept for the task (each mirror, each redirect target); the proxies that turned out
// unreachable, tried after the others from then on; and, per proxy, what the task knows of its
// questions of identity. Shared by the task's connections.
#pragma once

#include "xldl/Proxy.h"
#include "xldl/ProxyAuth.h"
#include "xldl/core/ProxyRules.h"

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace xldl {

// What the automatic settings say for a URL (by default the system's resolver,
// ResolveAutomatically).
using TProxyResolver = std::function<TResolution(const TUrl& url, HANDLE abort)>;

class TProxyRouter {
public:
    // `waitMs`: the longest the automatic settings may hold a host's first connection.
    TProxyRouter(TProxySettings settings, uint32_t waitMs, TSspiFactory sspi = SystemSspi,
                 TProxyResolver resolver = nullptr);
    ~TProxyRouter();
    TProxyRouter(const TProxyRouter&) = delete;
    TProxyRouter& operator=(const TProxyRouter&) = delete;

    // The ways to reach `url`'s server, in the order to try them (never empty); nothing when
    // `abort` was set meanwhile.
    std::optional<TProxyRoutes> Routes(const TUrl& url, HANDLE abort);

    // The ways to `url`'s server as the last connection would try them, for a log; empty
    // while its host has not been asked about. Never waits.
    std::string KnownRoutesText(const TUrl& url);

    // What a connection found on its way: a proxy it could not reach, or the route it took.
    void Unreachable(const TProxyServer& proxy);
    void Reached(const TProxyRoute& route);
    // None of an attempt's routes could be reached, and every one of them was a proxy.
    void NoneReachable();
    // Whether the last attempt to connect found none of its routes open, every one of them a
    // proxy: what a task that gives up for want of a connection then reports.
    bool ProxiesUnreachable();

    TProxyCredentials& Credentials(const TProxyServer& proxy);
    const TSspiFactory& Sspi() const { return SspiFactory; }

private:
    struct THost {
        enum { Unknown, Asking, Ready } State = Unknown;
        HANDLE Resolved = nullptr; // manual reset: set when an asking ends (closed with us)
        TProxyRoutes Routes;
    };
    TProxyRoutes Resolve(const TUrl& url, HANDLE abort, bool& aborted);

    const TProxySettings Settings;
    const uint32_t WaitMs;
    const TSspiFactory SspiFactory;
    const TProxyResolver Resolver;
    CRITICAL_SECTION Lock; // guards what follows
    std::map<std::string, THost> Hosts;
    bool AutomaticFailed = false; // no answer from the automatic settings: not asked again
    std::vector<TProxyServer> Dead;
    bool NoneReached = false;
    std::map<std::string, std::unique_ptr<TProxyCredentials>> Proxies;
};

} // namespace xldl
