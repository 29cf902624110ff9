#include "xldl/ProxyRouter.h"

#include "xldl/Locked.h"
#include "xldl/Trace.h"
#include "xldl/core/Text.h"

namespace xldl {

namespace {

std::string HostKey(const TUrl& url) {
    return (url.Secure ? "https://" : "http://") + LowerText(url.Host) + ":" +
           std::to_string(url.Port);
}

std::string RoutesText(const TProxyRoutes& routes) {
    std::string text;
    for (const TProxyRoute& r : routes)
        text += (text.empty() ? "" : ", ") + RouteText(r);
    return text;
}

} // namespace

TProxyRouter::TProxyRouter(TProxySettings settings, uint32_t waitMs, TSspiFactory sspi,
                           TProxyResolver resolver)
    : Settings(std::move(settings)), WaitMs(waitMs), SspiFactory(std::move(sspi)),
      Resolver(std::move(resolver)) {
    InitializeCriticalSection(&Lock);
}

TProxyRouter::~TProxyRouter() {
    for (auto& [key, host] : Hosts)
        if (host.Resolved) CloseHandle(host.Resolved);
    DeleteCriticalSection(&Lock);
}

std::optional<TProxyRoutes> TProxyRouter::Routes(const TUrl& url, HANDLE abort) {
    const std::string key = HostKey(url);
    for (;;) {
        HANDLE resolved;
        {
            TLocked l(Lock);
            THost& host = Hosts[key];
            if (!host.Resolved) host.Resolved = CreateEventA(nullptr, TRUE, FALSE, nullptr);
            if (host.State == THost::Ready) return OrderRoutes(host.Routes, Dead);
            if (host.State == THost::Unknown) {
                // The first connection to this host asks; the others wait for its answer.
                host.State = THost::Asking;
                ResetEvent(host.Resolved);
                resolved = nullptr;
            } else {
                resolved = host.Resolved;
            }
        }
        if (resolved) {
            const HANDLE handles[2] = {resolved, abort};
            if (WaitForMultipleObjects(abort ? 2 : 1, handles, FALSE, INFINITE) != WAIT_OBJECT_0)
                return std::nullopt;
            continue; // answered, or given up by its asker: look again
        }
        bool aborted = false;
        TProxyRoutes routes = Resolve(url, abort, aborted);
        TLocked l(Lock);
        THost& host = Hosts[key];
        // Stopped half way: the next connection (of a later pass) asks again.
        host.State = aborted ? THost::Unknown : THost::Ready;
        host.Routes = std::move(routes);
        SetEvent(host.Resolved);
        if (aborted) return std::nullopt;
        return OrderRoutes(host.Routes, Dead);
    }
}

TProxyRoutes TProxyRouter::Resolve(const TUrl& url, HANDLE abort, bool& aborted) {
    bool automatic;
    {
        TLocked l(Lock);
        automatic = Settings.Automatic() && !AutomaticFailed;
    }
    if (automatic) {
        const DWORD start = GetTickCount();
        const TResolution r =
            Resolver ? Resolver(url, abort) : ResolveAutomatically(Settings, url, WaitMs, abort);
        const DWORD took = GetTickCount() - start;
        switch (r.Kind) {
        case TResolved::Routes:
            if (Tracing())
                Trace("proxy %s: %s (automatic, %lu ms)", HostKey(url).c_str(),
                      RoutesText(r.Routes).c_str(), took);
            return r.Routes;
        case TResolved::Aborted:
            aborted = true;
            return {};
        case TResolved::TimedOut:
        case TResolved::Failed: {
            if (Tracing())
                Trace("proxy %s: automatic settings %s after %lu ms (error %lu), using the "
                      "manual settings",
                      HostKey(url).c_str(),
                      r.Kind == TResolved::TimedOut ? "gave no answer" : "failed", took,
                      static_cast<unsigned long>(r.Error));
            TLocked l(Lock);
            AutomaticFailed = true;
            break;
        }
        }
    }
    const TProxyRoutes routes{ProxyFor(Settings.Static, url)};
    if (Tracing())
        Trace("proxy %s: %s (%s)", HostKey(url).c_str(), RoutesText(routes).c_str(),
              Settings.FromEnvironment ? "environment" : "manual settings");
    return routes;
}

std::string TProxyRouter::KnownRoutesText(const TUrl& url) {
    TLocked l(Lock);
    const auto host = Hosts.find(HostKey(url));
    if (host == Hosts.end() || host->second.State != THost::Ready) return {};
    return RoutesText(OrderRoutes(host->second.Routes, Dead));
}

void TProxyRouter::Unreachable(const TProxyServer& proxy) {
    if (Tracing()) Trace("proxy %s unreachable", RouteText(proxy).c_str());
    TLocked l(Lock);
    for (const TProxyServer& d : Dead)
        if (d == proxy) return;
    Dead.push_back(proxy);
}

void TProxyRouter::Reached(const TProxyRoute& route) {
    TLocked l(Lock);
    NoneReached = false;
    if (!route) return;
    for (auto it = Dead.begin(); it != Dead.end(); ++it)
        if (*it == *route) {
            Dead.erase(it);
            return;
        }
}

void TProxyRouter::NoneReachable() {
    TLocked l(Lock);
    NoneReached = true;
}

bool TProxyRouter::ProxiesUnreachable() {
    TLocked l(Lock);
    return NoneReached;
}

TProxyCredentials& TProxyRouter::Credentials(const TProxyServer& proxy) {
    TLocked l(Lock);
    auto& slot = Proxies[RouteText(proxy)];
    if (!slot)
        slot = std::make_unique<TProxyCredentials>(proxy, Settings.Static.Http == proxy ||
                                                              Settings.Static.Https == proxy);
    return *slot;
}

} // namespace xldl
