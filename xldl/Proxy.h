// The proxies the engine uses: the environment's (http_proxy, https_proxy, no_proxy) when it
// names any, else the system's settings (the user's Internet Settings in the registry, where
// Windows and Wine keep the manual proxy and its exceptions).
#pragma once

#include "xldl/core/ProxyRules.h"

#include <functional>
#include <optional>
#include <string>

namespace xldl {

TProxyConfig
LoadProxyConfig(const std::function<std::optional<std::string>(const char*)>& environment);

} // namespace xldl
