// Which proxy a URL goes through, from the environment or from the system's settings.
#include "xldl/core/ProxyRules.h"

#include <gtest/gtest.h>

namespace xldl {
namespace {

TUrl At(const char* url) {
    const auto u = ParseUrl(url);
    EXPECT_TRUE(u) << url;
    return u.value_or(TUrl{});
}

TEST(Proxy, ServersAsTheEnvironmentWritesThem) {
    EXPECT_EQ(ParseProxyServer("http://user:pw@127.0.0.1:3128/"),
              (TProxyServer{"127.0.0.1", 3128}));
    EXPECT_EQ(ParseProxyServer(" proxy.lan:8080 "), (TProxyServer{"proxy.lan", 8080}));
    EXPECT_EQ(ParseProxyServer("HTTP://proxy.lan"), (TProxyServer{"proxy.lan", 80}));
    EXPECT_EQ(ParseProxyServer("[::1]:3128"), (TProxyServer{"[::1]", 3128}));
    for (const char* bad : {"", "http://", "socks5://h:1080", "a=b:1", "h:0", "h:70000", "h:x",
                            ":3128", "h:", "a b:1"})
        EXPECT_FALSE(ParseProxyServer(bad)) << bad;
}

TEST(Proxy, EnvironmentProxiesGoByScheme) {
    const TProxyConfig c =
        ProxyFromEnvironment("http://127.0.0.1:3128/", "", " localhost, .corp.lan ,");
    EXPECT_EQ(ProxyFor(c, At("http://dl1.orlenz.com/a")), (TProxyServer{"127.0.0.1", 3128}));
    EXPECT_FALSE(ProxyFor(c, At("https://dl1.orlenz.com/a"))) << "http_proxy is for http only";
    EXPECT_FALSE(ProxyFor(c, At("http://localhost/a")));
    EXPECT_FALSE(ProxyFor(c, At("http://corp.lan/a")));
    EXPECT_FALSE(ProxyFor(c, At("http://files.Corp.Lan/a")));
    EXPECT_TRUE(ProxyFor(c, At("http://notcorp.lan/a"))) << "a suffix, not a substring";

    const TProxyConfig both = ProxyFromEnvironment("h1:1", "h2:2", "*");
    EXPECT_FALSE(ProxyFor(both, At("http://x/"))) << "no_proxy=* turns every proxy off";
    const TProxyConfig tls = ProxyFromEnvironment("", "h2:2", "");
    EXPECT_EQ(ProxyFor(tls, At("https://x/")), (TProxyServer{"h2", 2}));
    EXPECT_TRUE(ProxyFromEnvironment("", "", "").Empty());
}

TEST(Proxy, SystemSettingsWithPerSchemeServersAndExceptions) {
    TProxyConfig c = ProxyFromSystem("10.0.0.1:8080", "<local>;*.intra.net;192.168.*");
    EXPECT_EQ(ProxyFor(c, At("https://dl2.orlenz.com/")), (TProxyServer{"10.0.0.1", 8080}))
        << "one server for every scheme";
    EXPECT_FALSE(ProxyFor(c, At("http://fileserver/x"))) << "<local>: no dot in the name";
    EXPECT_FALSE(ProxyFor(c, At("http://a.intra.net/x")));
    EXPECT_FALSE(ProxyFor(c, At("http://192.168.1.9:81/x")));
    EXPECT_TRUE(ProxyFor(c, At("http://intra.net.evil.com/x")));

    c = ProxyFromSystem("http=p1:1;https=p2:2;ftp=p3:3", "");
    EXPECT_EQ(ProxyFor(c, At("http://a.b/")), (TProxyServer{"p1", 1}));
    EXPECT_EQ(ProxyFor(c, At("https://a.b/")), (TProxyServer{"p2", 2}));
    c = ProxyFromSystem("https=p2:2", "");
    EXPECT_FALSE(ProxyFor(c, At("http://a.b/"))) << "http goes direct";
}

} // namespace
} // namespace xldl
