// Proxy settings as the environment or the system's settings give them, and which proxy a URL
// takes: a proxy we connect to has a host and a port, and nothing in its name that could not
// be a host.
#include "FuzzCheck.h"

#include "xldl/core/ProxyRules.h"

#include <fuzzer/FuzzedDataProvider.h>

using namespace xldl;

namespace {

void CheckServer(const std::optional<TProxyServer>& p) {
    if (!p) return;
    FUZZ_CHECK(!p->Host.empty() && p->Port != 0);
    for (char c : p->Host)
        FUZZ_CHECK(static_cast<unsigned char>(c) > 0x20 && c != ';' && c != ',' && c != '=' &&
                   c != '/' && c != '@');
}

void CheckConfig(const TProxyConfig& c, const std::optional<TUrl>& url) {
    CheckServer(c.Http);
    CheckServer(c.Https);
    FUZZ_CHECK(c.Empty() == (!c.Http && !c.Https));
    if (!url) return;
    const auto chosen = ProxyFor(c, *url);
    CheckServer(chosen);
    if (chosen) FUZZ_CHECK(*chosen == (url->Secure ? *c.Https : *c.Http));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string http = in.ConsumeRandomLengthString(256);
    const std::string https = in.ConsumeRandomLengthString(256);
    const std::string bypass = in.ConsumeRandomLengthString(512);
    const std::string server = in.ConsumeRandomLengthString(256);
    const std::string url = in.ConsumeRemainingBytesAsString();

    CheckServer(ParseProxyServer(http));
    const auto target = ParseUrl(url);
    CheckConfig(ProxyFromEnvironment(http, https, bypass), target);
    CheckConfig(ProxyFromSystem(server, bypass), target);
    // "*" in the exceptions leaves every host direct.
    if (target) FUZZ_CHECK(!ProxyFor(ProxyFromEnvironment(http, https, bypass + ",*"), *target));
    return 0;
}
