// The engine over HTTPS, against the mirror's TLS servers (with_mirror.py --tls), with the
// test root trusted in this prefix only: large files on several connections, resumed after
// drops, the plain mirror's faults over TLS, redirects up to https and never down (also of the
// question that confirms a finished file), a proxy tunnel, and every certificate that must be
// refused refused, with no file under the final name and an older one kept.
#include "MirrorTestSupport.h"
#include "xldl/core/Settings.h"

#include <winsock2.h>

#include <cstdio>
#include <utility>

namespace mirror {
namespace {

// https://localhost:PORT of a TLS server: Wine matches names, not IP addresses, against a
// certificate, and the test certificates name localhost.
std::string TlsUrl(const std::string& path, const char* server = "XLDL_TEST_TLS_MIRROR") {
    const std::string address = Env(server);
    return "https://localhost" + address.substr(address.find(':')) + path;
}

std::string PlainUrl(const std::string& path) {
    return "http://localhost" + Address().substr(Address().find(':')) + path;
}

class EngineTls : public EngineTest {
protected:
    void SetUp() override {
        ASSERT_FALSE(Env("XLDL_TEST_TLS_MIRROR").empty()) << "run through with_mirror.py --tls";
        EngineTest::SetUp();
    }
};

TEST_F(EngineTls, ALargeFileComesOnSeveralConnectionsAndResumesAfterDrops) {
    const auto content = Serve("big.bin", 6 << 20, 41);
    // Three answers over TLS break off part way; each is taken up again under If-Range. Each
    // connection carries under 8 MB/s, so they all come at once, however loaded the machine
    // (no window of measurements decides it).
    Script(R"({"rate": 4000000, "rules": [{"path": "/big.bin", "scheme": "https", "skip": 2,
                          "times": 3, "fault": "close_after", "bytes": 100000}]})");
    const TRun run = Download(TlsUrl("/big.bin"), Out, "big.bin", true, 120000);
    ExpectFinished(run, "big.bin", content);
    int maxInflight = 0, resumed = 0;
    const auto log = Log();
    for (size_t i = 0; i < log.size(); ++i) {
        EXPECT_NE(log[i].find(" tls="), std::string::npos) << "not over TLS: " << log[i];
        maxInflight = std::max(maxInflight, std::atoi(Field(log[i], "inflight").c_str()));
        EXPECT_EQ(Field(log[i], "status"), "206") << log[i];
        const bool first = Field(log[i], "range") == "bytes=0-262143";
        if (!first && !IsEarlyRequest(log[i])) {
            EXPECT_NE(Field(log[i], "if_range"), "-") << log[i];
        }
        if (Field(log[i], "fault") == "close_after") ++resumed;
    }
    EXPECT_EQ(resumed, 3);
    EXPECT_GE(maxInflight, 2) << "one connection only";
}

TEST_F(EngineTls, ThePlainMirrorsFaultsGoRightOverTls) {
    const auto content = Serve("setup.exe", 1500000, 42);
    // A stall, a short body, a busy server, and the file changing between two requests (a new
    // script puts the old file back).
    const auto second = Serve("setup_v2.exe", 1600000, 43);
    struct TCase {
        const char* Rules;
        const std::vector<uint8_t>* Expected;
    } cases[] = {
        {R"([{"path": "/setup.exe", "fault": "stall", "bytes": 100000, "seconds": 20}])", &content},
        {R"([{"path": "/setup.exe", "fault": "short_body", "bytes": 100000}])", &content},
        {R"([{"path": "/setup.exe", "fault": "status", "status": 503, "retry_after": 1}])",
         &content},
        {R"([{"path": "/setup.exe", "fault": "close_after", "bytes": 100000},
             {"path": "/setup.exe", "ranged": true, "fault": "change", "file": "setup_v2.exe"}])",
         &second},
    };
    for (const TCase& c : cases) {
        Script(std::string(R"({"rules": )") + c.Rules + "}");
        const TRun run = Download(TlsUrl("/setup.exe"), Out, "setup.exe");
        ExpectFinished(run, "setup.exe", *c.Expected, c.Expected == &second);
        DeleteFileA((Out + "setup.exe").c_str());
    }
    // And a digest that never matches fails the task over TLS as it does in the clear.
    Script(R"({"rules": [{"path": "/setup.exe", "fault": "bad_digest", "times": -1}]})");
    const TRun bad = Download(TlsUrl("/setup.exe"), Out, "setup.exe");
    ExpectFailed(bad, "setup.exe", ErrorVerify);
}

TEST_F(EngineTls, ABodyThatOnlyACloseEndsIsWholeOnlyWithTheServersCloseNotify) {
    const auto content = Serve("setup.exe", 1500000, 44);
    // Neither length nor chunks: over TLS the server's close_notify is what says it has said
    // all; one fetch is enough.
    Script(R"({"rules": [{"path": "/setup.exe", "fault": "tls_close", "times": -1,
                          "validators": false}]})");
    TRun run = Download(TlsUrl("/setup.exe"), Out, "setup.exe");
    ExpectFinished(run, "setup.exe", content);
    EXPECT_EQ(Log().size(), 1u);
    DeleteFileA((Out + "setup.exe").c_str());

    // Cut without it, part way or at the very end: never taken as the file.
    Script(R"({"rules": [{"path": "/setup.exe", "fault": "no_length_cut", "bytes": 700000,
                          "validators": false},
                         {"path": "/setup.exe", "fault": "tls_close", "times": -1,
                          "validators": false}]})");
    run = Download(TlsUrl("/setup.exe"), Out, "setup.exe");
    ExpectFinished(run, "setup.exe", content, true);
    EXPECT_EQ(run.Restarts(), 1u);
    DeleteFileA((Out + "setup.exe").c_str());
    const std::vector<uint8_t> previous = RandomBytes(800, 45);
    ASSERT_TRUE(WriteFileBytes(Out + "setup.exe", previous));
    Script(R"({"rules": [{"path": "/setup.exe", "fault": "no_length", "times": -1,
                          "validators": false}]})");
    run = Download(TlsUrl("/setup.exe"), Out, "setup.exe", false, 60000);
    ExpectFailed(run, "setup.exe", ErrorUnstable, previous);
}

TEST_F(EngineTls, EveryCertificateThatDoesNotVerifyIsRefused) {
    Serve("setup.exe", 300000, 44);
    const std::vector<uint8_t> previous = RandomBytes(700, 45);
    ASSERT_TRUE(WriteFileBytes(Out + "setup.exe", previous));
    // Each refused, and why: the certificate's chain or policy status the engine reports.
    const struct {
        const char* Server;
        uint32_t Detail;
    } refusals[] = {
        {"XLDL_TEST_TLS_SELF_SIGNED", 0x800B0109},      // CERT_E_UNTRUSTEDROOT
        {"XLDL_TEST_TLS_UNTRUSTED_ROOT", 0x800B0109},   // CERT_E_UNTRUSTEDROOT
        {"XLDL_TEST_TLS_WRONG_HOST", 0x800B010F},       // CERT_E_CN_NO_MATCH
        {"XLDL_TEST_TLS_EXPIRED", 0x800B0101},          // CERT_E_EXPIRED
        {"XLDL_TEST_TLS_NOT_YET_VALID", 0x800B0101},    // CERT_E_EXPIRED (not time valid)
        {"XLDL_TEST_TLS_INCOMPLETE_CHAIN", 0x00010000}, // CERT_TRUST_IS_PARTIAL_CHAIN
    };
    for (const auto& [server, detail] : refusals) {
        ASSERT_FALSE(Env(server).empty()) << server;
        Script("{}");
        const DWORD start = GetTickCount();
        const TRun run = Download(TlsUrl("/setup.exe", server), Out, "setup.exe");
        ExpectFailed(run, "setup.exe", ErrorTls, previous);
        EXPECT_EQ(InfoField(run.Last, InfoDetailOffset), detail) << server;
        EXPECT_TRUE(Log().empty()) << server << ": a request went to a server we do not trust";
        // Refused for good, at once: trying again cannot make a certificate good.
        EXPECT_LT(GetTickCount() - start, 20000u) << server;
        EXPECT_FALSE(run.Saw(StateWaiting)) << server << " was retried";
    }
    // The same servers' good twin is trusted: the refusals were the certificates'.
    Script("{}");
    const auto content = ReadFileBytes(Root() + "setup.exe");
    const TRun good = Download(TlsUrl("/setup.exe"), Out, "setup.exe");
    ExpectFinished(good, "setup.exe", *content);
}

TEST_F(EngineTls, RedirectsGoUpToHttpsAndNeverDown) {
    const auto content = Serve("setup.exe", 400000, 46);
    for (int status : {301, 302, 307, 308}) {
        Script(R"({"rules": [{"fault": "to_https", "times": -1, "status": )" +
               std::to_string(status) + "}]}");
        const TRun run = Download(PlainUrl("/setup.exe"), Out, "setup.exe");
        ExpectFinished(run, "setup.exe", content);
        const auto log = Log();
        ASSERT_GE(log.size(), 2u) << status;
        EXPECT_EQ(Field(log[0], "status"), std::to_string(status));
        EXPECT_NE(log[1].find(" tls="), std::string::npos) << log[1];
        DeleteFileA((Out + "setup.exe").c_str());
    }
    // From https down to plain http: refused, whatever the plain server would have given.
    const std::vector<uint8_t> previous = RandomBytes(500, 47);
    ASSERT_TRUE(WriteFileBytes(Out + "setup.exe", previous));
    Script(R"({"rules": [{"scheme": "https", "fault": "redirect", "status": 301, "times": -1,
                          "location": ")" +
           PlainUrl("/setup.exe") + R"("}]})");
    const TRun down = Download(TlsUrl("/setup.exe"), Out, "setup.exe");
    ExpectFailed(down, "setup.exe", ErrorInsecureRedirect, previous);
    for (const auto& line : Log())
        EXPECT_NE(line.find(" tls="), std::string::npos) << "fetched in the clear: " << line;
}

// A file finished by one task is taken as it is by the next for the same URL and name when one
// conditional request, redirects followed but never from https down to http, confirms it:
// else it is fetched again.
TEST_F(EngineTls, AFinishedFileIsConfirmedOnlyForItsURLAndNeverInTheClear) {
    const auto content = Serve("setup.exe", 400000, 52);
    Serve("moved/setup.exe", 400000, 52);
    const std::string plain = Url("/setup.exe");
    const struct {
        const char* What;
        std::string First, Second; // the URLs of the task that finished it and of the next
        std::string Rules;         // for the next
        bool Confirmed;
    } cases[] = {
        {"redirected to where it is", plain, plain,
         R"({"path": "/setup.exe", "fault": "redirect", "status": 301,
             "location": "/moved/setup.exe"})",
         true},
        {"redirected from https to http", TlsUrl("/setup.exe"), TlsUrl("/setup.exe"),
         R"({"scheme": "https", "fault": "redirect", "status": 301, "location": ")" +
             PlainUrl("/setup.exe") + R"("})",
         false},
        {"recorded for another URL of it", PlainUrl("/setup.exe"), plain, "", false},
        // One redirect more than a request follows, then the file: not confirmed that way.
        {"redirected in a loop", plain, plain,
         R"({"path": "/setup.exe", "fault": "redirect", "location": "/setup.exe", "times": )" +
             std::to_string(xldl::TSettings{}.MaxRedirects + 1) + "}",
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        for (const char* rest : {"", ".done"})
            DeleteFileA((Out + "setup.exe" + rest).c_str());
        Script("{}");
        ExpectFinished(Download(c.First, Out, "setup.exe"), "setup.exe", content);
        Quiesce();
        Script(R"({"rules": [)" + c.Rules + "]}");
        ExpectFinished(Download(c.Second, Out, "setup.exe"), "setup.exe", content);
        if (c.Confirmed) {
            EXPECT_LT(ServedBytes(), static_cast<long long>(content.size())) << "fetched again";
        } else {
            EXPECT_GE(ServedBytes(), static_cast<long long>(content.size())) << "taken as it was";
        }
    }
}

TEST_F(EngineTls, ARecordDamagedMidBodyIsADropNotAFailure) {
    const auto content = Serve("big.bin", 3 << 20, 49);
    // Twice an answer's stream carries bytes that are no TLS record after 100000 good ones.
    Script(R"({"rules": [{"path": "/big.bin", "scheme": "https", "skip": 1, "times": 2,
                          "fault": "tls_garbage", "bytes": 100000}]})");
    const TRun run = Download(TlsUrl("/big.bin"), Out, "big.bin", true, 120000);
    ExpectFinished(run, "big.bin", content);
    int damaged = 0;
    for (const auto& line : Log())
        damaged += Field(line, "fault") == "tls_garbage";
    EXPECT_EQ(damaged, 2) << "the fault did not fire";
}

TEST_F(EngineTls, ALaterRangeRedirectedDownToHttpIsRefused) {
    const auto content = Serve("big.bin", 3 << 20, 50);
    const std::vector<uint8_t> previous = RandomBytes(500, 51);
    ASSERT_TRUE(WriteFileBytes(Out + "big.bin", previous));
    // The first ranges come over TLS; a later one is sent to the plain server.
    Script(R"({"rules": [{"scheme": "https", "ranged": true, "skip": 5, "fault": "redirect",
                          "status": 302, "location": ")" +
           PlainUrl("/big.bin") + R"("}]})");
    const TRun run = Download(TlsUrl("/big.bin"), Out, "big.bin", true);
    ASSERT_EQ(run.State(), StateFailed);
    EXPECT_EQ(run.Error(), static_cast<uint32_t>(ErrorInsecureRedirect));
    EXPECT_FALSE(run.Saw(StateFinished));
    const auto kept = ReadFileBytes(Out + "big.bin");
    ASSERT_TRUE(kept);
    EXPECT_TRUE(*kept == previous) << "the existing file was changed";
    // What came over TLS before may stay beside it, for a later try; nothing came in the clear.
    for (const auto& line : Log())
        EXPECT_NE(line.find(" tls="), std::string::npos) << "fetched in the clear: " << line;
}

TEST_F(EngineTls, HttpsGoesThroughAProxysTunnel) {
    const auto content = Serve("dl1.orlenz.com/service/setup.exe", 900000, 48);
    XL_UnInit();
    StartEngine({"https_proxy=http://" + Address() + "/"});
    const TRun run = Download("https://dl1.orlenz.com/service/setup.exe", Out, "setup.exe");
    ExpectFinished(run, "setup.exe", content);
    bool tunnel = false;
    for (const auto& line : Log())
        if (line.rfind("CONNECT dl1.orlenz.com:443 ", 0) == 0) tunnel = true;
    EXPECT_TRUE(tunnel) << "no CONNECT through the proxy";
    SetEnvironmentVariableA("https_proxy", nullptr);
}

TEST_F(EngineTls, AMirrorGivenAsHttpIsTriedOverHttpsFirst) {
    // Where it answers TLS with a certificate this machine trusts for the name, the file
    // comes over TLS. Anything else there (a certificate refused, nothing listening, silence,
    // an answer over TLS that cannot change) leaves the mirror on plain http, as given.
    const auto content = Serve("setup.exe", 700000, 46);
    const auto port = [](const std::string& address) {
        return address.substr(address.find(':') + 1);
    };
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    const auto listening = [](bool keep) {
        const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
        int size = sizeof a;
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &size);
        if (keep)
            listen(s, 8);
        else
            closesocket(s);
        return std::make_pair(s, std::to_string(ntohs(a.sin_port)));
    };
    const auto silent = listening(true);
    const std::string good = port(Env("XLDL_TEST_TLS_MIRROR"));
    struct TCase {
        const char* Name;
        std::string TlsPort;
        const char* Rules;
        bool OverTls;
    } cases[] = {
        {"trusted", good, "[]", true},
        {"expired", port(Env("XLDL_TEST_TLS_EXPIRED")), "[]", false},
        {"another root", port(Env("XLDL_TEST_TLS_UNTRUSTED_ROOT")), "[]", false},
        {"another name", port(Env("XLDL_TEST_TLS_WRONG_HOST")), "[]", false},
        {"nothing there", listening(false).second, "[]", false},
        {"silent", silent.second, "[]", false},
        {"no file there", good,
         R"([{"scheme": "https", "fault": "status", "status": 404, "times": -1}])", false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        DeleteFileA((Out + "setup.exe").c_str());
        XL_UnInit();
        auto env = QuickTunables();
        env.push_back("XLDL_HTTPS_PORTS=" + port(Address()) + ":" + c.TlsPort);
        StartEngine(env);
        Script(std::string(R"({"rules": )") + c.Rules + "}");
        const TRun run = Download(PlainUrl("/setup.exe"), Out, "setup.exe", true, 60000);
        ExpectFinished(run, "setup.exe", content);
        bool plainServed = false, tlsServed = false;
        for (const std::string& line : Log()) {
            const bool ok = Field(line, "status") == "206";
            (line.find(" tls=") != std::string::npos ? tlsServed : plainServed) |= ok;
        }
        EXPECT_EQ(tlsServed, c.OverTls);
        EXPECT_EQ(plainServed, !c.OverTls);
    }
    closesocket(silent.first);
    SetEnvironmentVariableA("XLDL_HTTPS_PORTS", nullptr);
}

} // namespace
} // namespace mirror
