// A proxy's questions of identity: its challenges as proxies write them, the order in which we
// answer, and Basic's credentials on the wire.
#include "xldl/core/ProxyAuth.h"

#include <gtest/gtest.h>

namespace xldl {
namespace {

THeaders Head(std::vector<std::string> challenges) {
    THeaders h;
    h.Status = 407;
    h.Fields.push_back({"proxy-connection", "keep-alive"});
    for (auto& c : challenges)
        h.Fields.push_back({"proxy-authenticate", c});
    return h;
}

std::string Schemes(const std::vector<TChallenge>& cs) {
    std::string s;
    for (const TChallenge& c : cs)
        s += std::string(s.empty() ? "" : " ") + SchemeName(c.Scheme) +
             (c.Token.empty() ? "" : "[" + c.Token + "]") +
             (c.Realm.empty() ? "" : "(" + c.Realm + ")");
    return s;
}

TEST(ProxyChallenges, AsProxiesWriteThem) {
    struct Case {
        std::vector<std::string> Fields;
        const char* Read;
    } cases[] = {
        // squid with three helpers: one field each.
        {{"Negotiate", "NTLM", "Basic realm=\"Squid proxy-caching web server\""},
         "Negotiate NTLM Basic(Squid proxy-caching web server)"},
        // Several in one field; a realm with a comma in its quotes.
        {{"Basic realm=\"corp, main\", NTLM"}, "Basic(corp, main) NTLM"},
        {{"NTLM, Basic realm=x, Negotiate"}, "NTLM Basic(x) Negotiate"},
        // The second round: the proxy's message, padding and all.
        {{"NTLM TlRMTVNTUAACAAAADAAMADAAAAA1=="}, "NTLM[TlRMTVNTUAACAAAADAAMADAAAAA1==]"},
        {{"Negotiate oYG3MIG0oAMKAQGhDAYKKwYBBAGCNwICCqKBng=="},
         "Negotiate[oYG3MIG0oAMKAQGhDAYKKwYBBAGCNwICCqKBng==]"},
        // Case, blanks, escapes; schemes we do not speak are left out with their parameters.
        {{"  basic   REALM = \"a \\\"b\\\"\" "}, "Basic(a \"b\")"},
        {{"Digest realm=\"d\", nonce=\"n, m\", qop=\"auth\", Basic realm=\"b\""}, "Basic(b)"},
        {{"Kerberos", "Bearer"}, ""},
        {{""}, ""},
        {{",,, ,"}, ""},
        {{"Basic realm=\"unterminated"}, "Basic(unterminated)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Schemes(ParseChallenges(Head(c.Fields))), c.Read) << c.Fields.front();
}

TEST(ProxyChallenges, OnlyTheProxysOwnFieldCounts) {
    THeaders h;
    h.Status = 401;
    h.Fields.push_back({"www-authenticate", "Basic realm=origin"});
    EXPECT_TRUE(ParseChallenges(h).empty()) << "the origin's question is not the proxy's";
}

TEST(ProxyChallenges, TheLogonFirstThenBasicAndNothingTwice) {
    const auto all = ParseChallenges(Head({"Basic realm=x", "NTLM", "Negotiate"}));
    struct Case {
        bool Spent[AuthSchemeCount];
        std::optional<TAuthScheme> Next;
    } cases[] = {
        {{false, false, false}, TAuthScheme::Negotiate}, // whatever order the proxy sent
        {{true, false, false}, TAuthScheme::Ntlm},       {{true, true, false}, TAuthScheme::Basic},
        {{false, true, true}, TAuthScheme::Negotiate},   {{true, true, true}, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NextScheme(all, c.Spent), c.Next);
    const bool none[AuthSchemeCount] = {};
    EXPECT_EQ(NextScheme(ParseChallenges(Head({"Basic realm=x"})), none), TAuthScheme::Basic);
    EXPECT_EQ(NextScheme(ParseChallenges(Head({"Digest realm=x"})), none), std::nullopt);
    const bool basicSpent[AuthSchemeCount] = {false, false, true};
    EXPECT_EQ(NextScheme(ParseChallenges(Head({"Basic realm=x"})), basicSpent), std::nullopt)
        << "refused credentials are not offered again by this choice";
}

TEST(ProxyCredentialsOnTheWire, Base64AndBasic) {
    struct Case {
        std::string Bytes;
        const char* Encoded;
    } cases[] = {{"", ""},        {"f", "Zg=="},        {"fo", "Zm8="},
                 {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {std::string("\xff\xfe\0", 3), "//4A"}};
    for (const Case& c : cases) {
        const auto* data = reinterpret_cast<const uint8_t*>(c.Bytes.data());
        const std::string encoded = Base64Encode(data, c.Bytes.size());
        EXPECT_EQ(encoded, c.Encoded);
        const auto back = Base64Decode(encoded);
        ASSERT_TRUE(back);
        EXPECT_EQ(std::string(back->begin(), back->end()), c.Bytes) << "round trip";
    }
    // The example every implementation is checked against, and a password with a colon.
    EXPECT_EQ(BasicAuthorization("Aladdin", "open sesame"), "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
    EXPECT_EQ(BasicAuthorization("u", "a:b"), "Basic dTphOmI=");
    EXPECT_EQ(ProxyAuthorizationLine("Basic dTphOmI="), "Proxy-Authorization: Basic dTphOmI=\r\n");
}

} // namespace
} // namespace xldl
