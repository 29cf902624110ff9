// Name lookups a caller can stop waiting for. getaddrinfo cannot be interrupted, and Windows 7
// has no lookup that can be cancelled, so a name is looked up on a thread of its own: the
// caller waits for it, for the abort event or for its time to run out, and a lookup it stopped
// waiting for ends on its own, its result dropped. Callers that ask for a name whose lookup is
// under way wait for that one, so a resolver that never answers holds one thread per name, not
// one per connection attempt.
//
// Such a thread may outlive XL_UnInit: it holds a Winsock reference of its own and a reference
// on our module, so that neither is unloaded under it.
#pragma once

#include "xldl/Socket.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace xldl {

struct TEndpoint {
    SOCKADDR_STORAGE Address{};
    int Length = 0;
};

// The TCP addresses of `host` (a name, or an address in numeric form, which takes no thread),
// each with `port`, in the order the system prefers them. Ok (with at least one address),
// Aborted, Stalled after `waitMs`, or Failed with the lookup's error.
TNetResult LookUpHost(const std::string& host, uint16_t port, HANDLE abort, uint32_t waitMs,
                      std::vector<TEndpoint>& found);

// "127.0.0.1:80" or "[2001:db8::1]:80".
std::string EndpointText(const TEndpoint& endpoint);

} // namespace xldl
