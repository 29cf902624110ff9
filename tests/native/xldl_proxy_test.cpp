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

std::string Text(const TProxyRoutes& routes) {
    std::string s;
    for (const TProxyRoute& r : routes)
        s += (s.empty() ? "" : ", ") + RouteText(r);
    return s;
}

TEST(Proxy, ListsAsResolversAndScriptsWriteThem) {
    struct Case {
        const char* List;
        bool Secure;
        const char* Routes;
    } cases[] = {
        // The system's resolver: bare addresses, ';' or blanks between them.
        {"10.0.0.1:8080", false, "10.0.0.1:8080"},
        {"a:1;b:2", false, "a:1, b:2"},
        {" a:1 \t b:2 ;; ", false, "a:1, b:2"},
        {"http://a:1/", false, "a:1"},
        // A script's own words, with DIRECT kept in its place.
        {"PROXY dead:1; PROXY live:3128; DIRECT", false, "dead:1, live:3128, DIRECT"},
        {"DIRECT", false, "DIRECT"},
        {"DIRECT; PROXY a:1", true, "DIRECT, a:1"},
        {"HTTP a:1", false, "a:1"},
        // What we do not speak is skipped, not mistaken for an address.
        {"SOCKS s:1080; PROXY a:1", false, "a:1"},
        {"SOCKS5 s:1080", false, ""},
        {"HTTPS tlsproxy:443; DIRECT", false, "DIRECT"},
        // Per scheme, as the manual settings write it.
        {"http=p1:1;https=p2:2", false, "p1:1"},
        {"http=p1:1;https=p2:2", true, "p2:2"},
        {"ftp=p3:3", false, ""},
        // Repeats and rubbish.
        {"a:1; A:1; DIRECT; direct", false, "a:1, DIRECT"},
        {"a:0; :1; PROXY", false, ""},
        {"", false, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Text(ParseProxyList(c.List, c.Secure)), c.Routes) << c.List;
}

TEST(Proxy, UnreachableProxiesAreTriedLast) {
    const TProxyRoutes routes = ParseProxyList("PROXY a:1; PROXY b:2; DIRECT; PROXY c:3", false);
    struct Case {
        std::vector<TProxyServer> Dead;
        const char* Order;
    } cases[] = {
        {{}, "a:1, b:2, DIRECT, c:3"},
        {{{"a", 1}}, "b:2, DIRECT, c:3, a:1"},
        {{{"b", 2}, {"a", 1}}, "DIRECT, c:3, a:1, b:2"},
        {{{"z", 9}}, "a:1, b:2, DIRECT, c:3"},
        {{{"a", 1}, {"b", 2}, {"c", 3}}, "DIRECT, a:1, b:2, c:3"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Text(OrderRoutes(routes, c.Dead)), c.Order);
}

} // namespace
} // namespace xldl
