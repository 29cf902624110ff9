// Where the engine's proxy settings come from, and the system's resolver for the automatic
// ones. The environment's http_proxy, https_proxy and no_proxy, when they name any, decide
// alone. Otherwise the user's Internet Settings do, in the order Windows applies them:
// automatic detection (WPAD), then the automatic configuration script, both evaluated by
// WinHTTP (never by a script engine of ours); where neither gives an answer, the manual
// proxy with its exceptions; with none of these, direct.
#pragma once

#include "xldl/core/ProxyRules.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace xldl {

struct TProxySettings {
    bool FromEnvironment = false; // the environment named proxies: nothing else is asked
    TProxyConfig Static;          // the environment's, or the manual proxy and its exceptions
    bool AutoDetect = false;      // "Automatically detect settings"
    std::string AutoConfigUrl;    // "Use automatic configuration script"
    bool Automatic() const { return !FromEnvironment && (AutoDetect || !AutoConfigUrl.empty()); }
};

// Read once, at XL_Init.
TProxySettings
LoadProxySettings(const std::function<std::optional<std::string>(const char*)>& environment);

enum class TResolved {
    Routes,   // the resolver answered: Routes holds them (DIRECT among them, perhaps alone)
    Failed,   // no script, a script that did not load or run, no detection: Error says why
    TimedOut, // no answer within the wait: the resolver is left to finish on its own
    Aborted,  // the task was stopped
};
struct TResolution {
    TResolved Kind = TResolved::Failed;
    TProxyRoutes Routes;
    uint32_t Error = 0; // the system's error for Failed
};

// What the automatic settings say for `url`: asks WinHTTP on a thread of its own, detection
// first and then the script (when the settings name them), waiting for each at most `waitMs`,
// or until `abort` is set. A resolver given up on finishes in the background and holds
// nothing of the caller's.
TResolution ResolveAutomatically(const TProxySettings& settings, const TUrl& url, uint32_t waitMs,
                                 HANDLE abort);

} // namespace xldl
