#include "xldl/Proxy.h"

#include <windows.h>

namespace xldl {

namespace {

std::optional<std::string> RegistryText(HKEY key, const char* name) {
    char buffer[4096];
    DWORD size = sizeof buffer - 1, type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::nullopt;
    buffer[size] = 0;
    return std::string(buffer);
}

} // namespace

TProxyConfig
LoadProxyConfig(const std::function<std::optional<std::string>(const char*)>& environment) {
    const auto either = [&](const char* lower, const char* upper) {
        auto v = environment(lower);
        if (!v) v = environment(upper);
        return v.value_or("");
    };
    const std::string http = either("http_proxy", "HTTP_PROXY");
    const std::string https = either("https_proxy", "HTTPS_PROXY");
    if (!http.empty() || !https.empty())
        return ProxyFromEnvironment(http, https, either("no_proxy", "NO_PROXY"));

    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER,
                      "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0,
                      KEY_READ, &key) != ERROR_SUCCESS)
        return {};
    TProxyConfig config;
    DWORD enabled = 0, size = sizeof enabled, type = 0;
    if (RegQueryValueExA(key, "ProxyEnable", nullptr, &type, reinterpret_cast<BYTE*>(&enabled),
                         &size) == ERROR_SUCCESS &&
        type == REG_DWORD && enabled) {
        if (const auto server = RegistryText(key, "ProxyServer"))
            config = ProxyFromSystem(*server, RegistryText(key, "ProxyOverride").value_or(""));
    }
    RegCloseKey(key);
    return config;
}

} // namespace xldl
