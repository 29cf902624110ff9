// URLs: what a connection needs from them, redirects resolved, UTF-16 made ASCII.
#include "xldl/core/Url.h"

#include <gtest/gtest.h>

namespace xldl {
namespace {

TEST(Urls, HttpAndHttpsSplitForAConnection) {
    auto u = ParseUrl("http://dl1.orlenz.com/service/setup.exe");
    ASSERT_TRUE(u);
    EXPECT_FALSE(u->Secure);
    EXPECT_EQ(u->Host, "dl1.orlenz.com");
    EXPECT_EQ(u->Port, 80);
    EXPECT_EQ(u->Target, "/service/setup.exe");

    u = ParseUrl("HTTPS://Host:8443?x=1#frag");
    ASSERT_TRUE(u);
    EXPECT_TRUE(u->Secure);
    EXPECT_EQ(u->Port, 8443);
    EXPECT_EQ(u->Target, "/?x=1");

    u = ParseUrl("http://[::1]:81/a");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->Host, "[::1]");
    EXPECT_EQ(u->Port, 81);

    EXPECT_EQ(FormatUrl(*ParseUrl("http://h:80/a?b")), "http://h/a?b");
    EXPECT_EQ(FormatUrl(*ParseUrl("https://h:80")), "https://h:80/");

    for (const char* bad :
         {"ftp://host/a", "http://", "http:///a", "http://user@host/", "http://host:0/",
          "http://host:65536/", "http://host:8x/", "http://ho st/", "setup.exe", ""})
        EXPECT_FALSE(ParseUrl(bad)) << bad;
}

TEST(Urls, AHostIsANameOrABracketedAddressAndReadsBackTheSame) {
    // Found by fuzzing: an empty port after a second colon left "Host:655http" as the host, a
    // URL that written out again no longer parsed.
    for (const char* bad : {"HTTP://Host:655http:/x", "http://a:b:/x", "http://[::1/x",
                            "http://::1]/x", "http://[]/x", "http://a]b/x", "http://[::1]x:80/",
                            "http://h<o>st/", "http://h\\st/", "http://[::1/]:80/"})
        EXPECT_FALSE(ParseUrl(bad)) << bad;
    for (const char* good : {"http://dl1.orlenz.com:/x", "http://[fe80::1%25eth0]:8080/x",
                             "http://127.0.0.1/x", "http://my_host-1.example/x", "http://h:8/x"}) {
        const auto u = ParseUrl(good);
        ASSERT_TRUE(u) << good;
        const auto again = ParseUrl(FormatUrl(*u));
        ASSERT_TRUE(again) << good;
        EXPECT_EQ(again->Host, u->Host) << good;
        EXPECT_EQ(again->Port, u->Port) << good;
        EXPECT_EQ(again->Target, u->Target) << good;
    }
}

TEST(Urls, RedirectTargetsResolveAgainstTheCurrentUrl) {
    const char* base = "http://a.com/b/c/d?q";
    EXPECT_EQ(ResolveReference(base, "http://x.org/y"), "http://x.org/y");
    EXPECT_EQ(ResolveReference(base, "//x.org/y"), "http://x.org/y");
    EXPECT_EQ(ResolveReference(base, "/g"), "http://a.com/g");
    EXPECT_EQ(ResolveReference(base, "g"), "http://a.com/b/c/g");
    EXPECT_EQ(ResolveReference(base, "../g"), "http://a.com/b/g");
    EXPECT_EQ(ResolveReference(base, "../../../g"), "http://a.com/g");
    EXPECT_EQ(ResolveReference(base, "./g?y#s"), "http://a.com/b/c/g?y");
    EXPECT_EQ(ResolveReference(base, "?y"), "http://a.com/b/c/d?y");
    EXPECT_EQ(ResolveReference(base, ".."), "http://a.com/b/");
    EXPECT_EQ(ResolveReference("http://a.com", "g"), "http://a.com/g");
    // Raw UTF-8 and blanks in a Location, as some servers send them: encoded, as browsers do.
    EXPECT_EQ(ResolveReference(base, "/\xe5\xae\x89\xe8\xa3\x85 1.exe"),
              "http://a.com/%E5%AE%89%E8%A3%85%201.exe");
    EXPECT_TRUE(ParseUrl(ResolveReference(base, "http://x.org/\xe4\xb8\x8b")));
    EXPECT_FALSE(ParseUrl(ResolveReference(base, "/g\r\nX-Injected: 1")))
        << "a line break in a Location never reaches a request";
}

TEST(Urls, Utf16TextBecomesAnAsciiUrl) {
    EXPECT_EQ(UrlFromUtf16(u"  http://h/a b  "), "http://h/a%20b");
    EXPECT_EQ(UrlFromUtf16(u"http://h/\u4E0B\u8F7D"), "http://h/%E4%B8%8B%E8%BD%BD");
    EXPECT_EQ(UrlFromUtf16(u"/\u00E9\U0001F600"), "/%C3%A9%F0%9F%98%80");
    const char16_t lone[] = {u'/', 0xD800, u'x', 0};
    EXPECT_EQ(UrlFromUtf16(lone), "/%EF%BF%BDx");
}

} // namespace
} // namespace xldl
