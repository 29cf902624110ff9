// A mirror given as http:// is tried over https:// first, on the same host. Where a network
// rewrites or replaces programs downloaded over plain HTTP (some providers and hotspots do),
// the same server may still hand over the file intact over TLS. Only a TLS connection with a
// certificate this machine trusts for the host counts; anything else (refused, reset, no TLS,
// silence, a certificate not accepted: a clock far off, a filtering proxy's own root, a host
// without a certificate for its name) leaves the mirror on plain HTTP for the task, a few
// seconds later at most. The installer's signature guards the file either way, so the fallback
// is never weaker than plain HTTP alone. A URL that is https:// to begin with, or reached by a
// redirect, is not this unit's: a certificate fault there is a refusal.
#pragma once

#include "xldl/ProxyRouter.h"
#include "xldl/core/Settings.h"
#include "xldl/core/Url.h"

#include <windows.h>

#include <optional>
#include <vector>

namespace xldl {

// The most the tries of one task take together.
constexpr uint32_t HttpsFirstMs = 3000;

// `url` over https on `port`: the same host and target.
TUrl HttpsTwin(const TUrl& url, uint16_t port);

// For each of `urls`: its https twin where TLS came up there in time (through the task's
// proxies), else nothing (also for a URL with no twin by `settings`). The tries run side by
// side and end within HttpsFirstMs, or at once when `abort` is set.
std::vector<std::optional<TUrl>> TryHttpsFirst(const std::vector<TUrl>& urls,
                                               const TSettings& settings, TProxyRouter& proxies,
                                               HANDLE abort);

} // namespace xldl
