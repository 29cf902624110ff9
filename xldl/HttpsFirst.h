// A mirror given as http:// is tried over https:// first, on the same host. Where a network
// rewrites or replaces programs downloaded over plain HTTP (some providers and hotspots do),
// the same server may still hand over the file intact over TLS. Only a TLS connection with a
// certificate this machine trusts for the host counts; anything else (refused, reset, no TLS,
// silence, a certificate not accepted: a clock far off, a filtering proxy's own root, a host
// without a certificate for its name) leaves the mirror on plain HTTP. The task starts on
// plain HTTP once its tries have had a head start; one that comes up later still takes the
// mirror over. The installer's signature guards the file either way, so the fallback is never
// weaker than plain HTTP alone. A URL that is https:// to begin with, or reached by a
// redirect, is not this unit's: a certificate fault there is a refusal.
#pragma once

#include "xldl/ProxyRouter.h"
#include "xldl/core/Settings.h"
#include "xldl/core/Url.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace xldl {

// The most the tries of one task take together.
constexpr uint32_t HttpsFirstMs = 3000;
// The longest the task's first request waits for a try: a port that stays silent costs the
// first byte no more. A try that comes up later, within its time, takes over the mirror's
// requests from then on.
constexpr uint32_t HttpsHeadStartMs = 250;

// `url` over https on `port`: the same host and target.
TUrl HttpsTwin(const TUrl& url, uint16_t port);

// The tries of one task, side by side, each on a thread of its own, through the task's proxies
// (never prompting for a proxy's credentials: only what the system has is offered).
class THttpsFirst {
public:
    // Starts a try for each of `urls` that has a twin by `settings`; every try ends within
    // HttpsFirstMs, or at once when this is destroyed. `abort` ends waits for them.
    THttpsFirst(const std::vector<TUrl>& urls, const TSettings& settings, TProxyRouter& proxies,
                HANDLE abort);
    ~THttpsFirst();
    THttpsFirst(const THttpsFirst&) = delete;
    THttpsFirst& operator=(const THttpsFirst&) = delete;

    // Waits until every try has ended or `ms` since they started; then, for each URL, its twin
    // where TLS came up (nothing where it did not, or not yet).
    std::vector<std::optional<TUrl>> Found(uint32_t ms);
    // `late` is called, on the try's thread, for each try that comes up from now on (within
    // its time); an empty one calls nobody, and has returned once no call is under way.
    using TLate = std::function<void(size_t index, const TUrl& twin)>;
    void OnLate(TLate late);

private:
    struct TTry;
    static unsigned __stdcall TryMain(void* argument);

    const HANDLE Stop; // set when the tries are of no more use
    HANDLE Abort = nullptr;
    std::vector<std::unique_ptr<TTry>> Tries;
    CRITICAL_SECTION Lock; // guards Late and the tries' outcomes
    TLate Late;
    DWORD Started = 0;
};

} // namespace xldl
