// One connection of the engine's client on its routes: a list with a dead proxy first, then a
// live one, then DIRECT, as a script may give it (through a stand-in for the system's resolver,
// whose Wine version hands back only a script's first proxy); and NTLM with squid's
// ntlm_fake_auth, over a plain request and a CONNECT tunnel, through a scripted stand-in for
// the SSPI package (Wine's needs Samba's ntlm_auth and a logon it does not have here).
#include "ProxyTestSupport.h"

#include "xldl/HttpConnection.h"
#include "xldl/ProxyRouter.h"

#include <tlhelp32.h>

#include <cstring>

namespace mirror {
namespace {

using namespace xldl;

std::vector<uint8_t> Utf16(const char* text) {
    std::vector<uint8_t> out;
    for (const char* p = text; *p; ++p) {
        out.push_back(static_cast<uint8_t>(*p));
        out.push_back(0);
    }
    return out;
}

void Put16(std::vector<uint8_t>& m, size_t at, uint16_t v) {
    m[at] = static_cast<uint8_t>(v);
    m[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(std::vector<uint8_t>& m, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        m[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

bool IsNtlm(const std::vector<uint8_t>& m, uint8_t type) {
    return m.size() >= 12 && std::memcmp(m.data(), "NTLMSSP\0", 8) == 0 && m[8] == type;
}

// An NTLM client that says the same things every time: a negotiate message, then, given the
// proxy's challenge, an authenticate message for TEST\tester. Every message it saw is kept.
struct TScriptedNtlm : TSspiExchange {
    explicit TScriptedNtlm(std::vector<std::vector<uint8_t>>& seen) : Seen(seen) {}
    std::optional<std::vector<uint8_t>> Step(const std::vector<uint8_t>& input) override {
        Seen.push_back(input);
        if (input.empty()) {
            std::vector<uint8_t> m(32, 0);
            std::memcpy(m.data(), "NTLMSSP\0", 8);
            Put32(m, 8, 1);
            Put32(m, 12, 0x00008207); // unicode, OEM, target, NTLM, always sign
            return m;
        }
        if (!IsNtlm(input, 2)) return std::nullopt;
        std::vector<uint8_t> m(64, 0);
        std::memcpy(m.data(), "NTLMSSP\0", 8);
        Put32(m, 8, 3);
        const auto field = [&](size_t at, const std::vector<uint8_t>& bytes) {
            Put16(m, at, static_cast<uint16_t>(bytes.size()));
            Put16(m, at + 2, static_cast<uint16_t>(bytes.size()));
            Put32(m, at + 4, static_cast<uint32_t>(m.size()));
            m.insert(m.end(), bytes.begin(), bytes.end());
        };
        field(12, std::vector<uint8_t>(24, 0x11)); // LM response
        field(20, std::vector<uint8_t>(24, 0x22)); // NT response
        field(28, Utf16("TEST"));
        field(36, Utf16("tester"));
        field(44, Utf16("WS"));
        field(52, {});
        Put32(m, 60, 0x00008205);
        return m;
    }
    std::vector<std::vector<uint8_t>>& Seen;
};

// A whole answer's body, read through the connection.
std::string Body(THttpConnection& c) {
    std::string body;
    for (;;) {
        const uint8_t* data = nullptr;
        const TNetResult r = c.ReadBody(data, 1 << 20, nullptr, 20000);
        if (r.Kind == TNet::Eof) return body;
        if (r.Kind != TNet::Ok) return body + "<failed " + std::to_string(r.Error) + ">";
        body.append(reinterpret_cast<const char*>(data), r.Bytes);
    }
}

std::string Text(const std::vector<uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

TUrl At(const std::string& url) {
    const auto u = ParseUrl(url);
    EXPECT_TRUE(u) << url;
    return u.value_or(TUrl{});
}

class ProxyConnection : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(Env("XLDL_TEST_SQUID_NTLM").empty()) << "run through with_squid.py";
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        Script("{}");
    }
    // Asks for `url` on `c` and reads the answer: its status and body.
    std::pair<int, std::string> Get(THttpConnection& c, const TUrl& url) {
        TNetResult r = c.Request(url, "Accept: */*\r\n", nullptr, 20000);
        if (r.Kind == TNet::Ok) r = c.ReadHead(nullptr, 20000);
        if (r.Kind != TNet::Ok) return {-static_cast<int>(r.Error), ""};
        return {c.Head().Status, Body(c)};
    }
};

TEST_F(ProxyConnection, NtlmIsAnsweredOnTheSameConnectionForRequestsAndTunnels) {
    const auto plain = Serve("dl1.orlenz.com/service/setup.exe", 200000, 31);
    const auto secret = Serve("tls.bin", 150000, 32);
    const std::string squid = Env("XLDL_TEST_SQUID_NTLM");
    TProxySettings settings;
    settings.FromEnvironment = true;
    settings.Static = ProxyFromEnvironment("http://" + squid, "http://" + squid, "");
    std::vector<std::vector<uint8_t>> seen;
    int contexts = 0;
    TProxyRouter router(settings, 5000, [&](TAuthScheme scheme, const std::string&) {
        // Negotiate is not offered by this proxy; asked for, it would be a fault.
        EXPECT_EQ(scheme, TAuthScheme::Ntlm);
        ++contexts;
        return std::make_unique<TScriptedNtlm>(seen);
    });

    THttpConnection c(At("http://dl1.orlenz.com/service/setup.exe"), router);
    auto [status, body] = Get(c, At("http://dl1.orlenz.com/service/setup.exe"));
    EXPECT_EQ(status, 200);
    EXPECT_TRUE(body == Text(plain)) << body.size() << " bytes";
    ASSERT_EQ(seen.size(), 2u) << "negotiate, then authenticate";
    EXPECT_TRUE(seen[0].empty());
    EXPECT_TRUE(IsNtlm(seen[1], 2)) << "the proxy's challenge reached the package";
    // The connection holds the logon: the next request needs no new exchange.
    std::tie(status, body) = Get(c, At("http://dl1.orlenz.com/service/setup.exe"));
    EXPECT_EQ(status, 200);
    EXPECT_EQ(seen.size(), 2u);

    THttpConnection t(At(TlsUrlFor("/tls.bin")), router);
    std::tie(status, body) = Get(t, At(TlsUrlFor("/tls.bin")));
    EXPECT_EQ(status, 200);
    EXPECT_TRUE(body == Text(secret)) << body.size() << " bytes";
    EXPECT_EQ(seen.size(), 4u) << "the tunnel's own exchange";
    EXPECT_EQ(contexts, 2);

    const std::string access = FileText(Env("XLDL_TEST_SQUID_LOGS_WIN") + "\\ntlm.log");
    EXPECT_NE(access.find("tester"), std::string::npos) << access;
    EXPECT_NE(access.find("CONNECT localhost:"), std::string::npos) << access;
    for (const std::string& line : Log())
        EXPECT_EQ(line.find("proxy_authorization"), std::string::npos) << line;
}

TEST(ProxyHandshake, ALogonTurnedAwayOnlyOnTheHttpsTryIsStillTheTransfers) {
    // The proxy turns the logon away after its messages (asking again, or closing): on the
    // https try's tunnel, which may not prompt, the transfer still signs on silently; on a
    // connection of the transfer, it is not offered again.
    const auto asks = [](std::string challenge) {
        return THeaders{407, "HTTP/1.1", {{"proxy-authenticate", std::move(challenge)}}};
    };
    const std::string challenge =
        "NTLM " + Base64Encode(reinterpret_cast<const uint8_t*>("NTLMSSP\0\2\0\0\0"), 12);
    const struct {
        const char* Name;
        bool MayPrompt, Closes, TransferSignsOn;
    } cases[] = {{"try, asked again", false, false, true},
                 {"try, closed", false, true, true},
                 {"transfer, asked again", true, false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<std::vector<uint8_t>> seen;
        const TSspiFactory sspi = [&](TAuthScheme, const std::string&) {
            return std::make_unique<TScriptedNtlm>(seen);
        };
        TProxyCredentials credentials({"127.0.0.1", 9}, true, [] { return TPromptCall{}; });
        TProxyHandshake first(credentials, sspi, c.MayPrompt);
        bool aborted = false;
        ASSERT_TRUE(first.Answer(asks("NTLM"), nullptr, aborted));
        ASSERT_TRUE(first.Answer(asks(challenge), nullptr, aborted));
        if (c.Closes)
            first.Unanswered();
        else
            EXPECT_FALSE(first.Answer(asks("NTLM"), nullptr, aborted));
        TProxyHandshake transfer(credentials, sspi);
        EXPECT_EQ(transfer.Answer(asks("NTLM"), nullptr, aborted).has_value(), c.TransferSignsOn);
    }
}

TEST_F(ProxyConnection, ARouteListIsTriedInOrderAndDeadProxiesGoLast) {
    const auto mirrored = Serve("dl1.orlenz.com/service/setup.exe", 100000, 33);
    const auto direct = Serve("direct.bin", 100000, 34);
    const std::string live = "127.0.0.1:" + Port(Env("XLDL_TEST_MIRROR_DIRECT"));
    const std::string dead = "127.0.0.1:" + std::to_string(DeadPort());
    const std::string dead2 = "127.0.0.1:" + std::to_string(DeadPort());
    std::string answer; // what the stand-in resolver says, as a script would
    TProxySettings settings;
    settings.AutoConfigUrl = "http://wpad.invalid/proxy.pac";
    TProxyRouter router(settings, 5000, SystemSspi, [&](const TUrl& url, HANDLE) {
        return TResolution{TResolved::Routes, ParseProxyList(answer, url.Secure), 0};
    });
    const TProxyServer liveServer = *ParseProxyServer(live);

    answer = "PROXY " + dead + "; PROXY " + live + "; DIRECT";
    const TUrl mirrorUrl = At("http://dl1.orlenz.com/service/setup.exe");
    THttpConnection first(mirrorUrl, router);
    auto [status, body] = Get(first, mirrorUrl);
    EXPECT_EQ(status, 200);
    EXPECT_TRUE(body == Text(mirrored));
    EXPECT_EQ(first.Route(), TProxyRoute(liveServer));
    const auto later = router.Routes(mirrorUrl, nullptr);
    ASSERT_TRUE(later);
    EXPECT_EQ(*later, ParseProxyList("PROXY " + live + "; DIRECT; PROXY " + dead, false))
        << "the dead proxy waits behind the others for the rest of the task";
    EXPECT_FALSE(router.ProxiesUnreachable());

    answer = "PROXY " + dead + "; PROXY " + dead2 + "; DIRECT";
    const TUrl directUrl = At("http://" + live + "/direct.bin");
    THttpConnection second(directUrl, router);
    std::tie(status, body) = Get(second, directUrl);
    EXPECT_EQ(status, 200);
    EXPECT_TRUE(body == Text(direct));
    EXPECT_EQ(second.Route(), TProxyRoute());
    const auto log = Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(Field(log.back(), "abs"), "0") << log.back();

    answer = "PROXY " + dead + "; PROXY " + dead2;
    const TUrl nowhere = At("http://dl2.orlenz.com/service/setup.exe");
    THttpConnection third(nowhere, router);
    const TNetResult r = third.Request(nowhere, "", nullptr, 5000);
    EXPECT_EQ(r.Kind, TNet::Failed);
    EXPECT_EQ(r.Error, NetProxyUnreachable);
    EXPECT_TRUE(router.ProxiesUnreachable());
}

// The threads of this process now.
size_t ThreadCount() {
    const HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 t{};
    t.dwSize = sizeof t;
    size_t n = 0;
    for (BOOL more = Thread32First(snap, &t); more; more = Thread32Next(snap, &t))
        n += t.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snap);
    return n;
}

TEST(ProxyCredentials, WithoutTheSystemsDialogNobodyIsAskedAndNothingIsLeftRunning) {
    // A system without the dialog's library: the question ends at once, and the thread that
    // would close a dialog on a stop is not left behind reading what is gone.
    const HWND owner = CreateWindowA("STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                     nullptr, nullptr);
    SetPromptOwner(owner);
    const HANDLE abort = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ForgetCredentials("127.0.0.1:9");
    const size_t before = ThreadCount();
    TProxyCredentials credentials({"127.0.0.1", 9}, true, [] { return TPromptCall{}; });
    bool aborted = true;
    EXPECT_FALSE(credentials.Basic(0, abort, aborted));
    EXPECT_FALSE(aborted);
    SetEvent(abort); // as a task that fails sets it
    Sleep(300);
    EXPECT_EQ(ThreadCount(), before);
    SetPromptOwner(nullptr);
    DestroyWindow(owner);
    CloseHandle(abort);
}

} // namespace
} // namespace mirror
