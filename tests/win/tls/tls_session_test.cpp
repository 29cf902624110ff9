// The TLS session's state machine against the scripted Schannel (ScriptedSchannel.h) and a toy
// server on a loopback connection: which credentials each Windows gets and which version it
// then speaks, TLS 1.3's tickets and key updates, a TLS 1.2 renegotiation, close_notify, and
// the handshake's own turns (records split across reads, a server asking for a certificate,
// a server that does not verify).
#include "ScriptedSchannel.h"
#include "xldl/Tls.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <thread>

namespace {

using namespace standin;
using xldl::TNet;
using xldl::TNetResult;

constexpr DWORD Ssl3 = SP_PROT_SSL3_CLIENT;
constexpr DWORD Tls10 = SP_PROT_TLS1_0_CLIENT;
constexpr DWORD Tls11 = SP_PROT_TLS1_1_CLIENT;
constexpr DWORD Tls12 = SP_PROT_TLS1_2_CLIENT;
constexpr DWORD Tls13 = SP_PROT_TLS1_3_CLIENT;
constexpr uint32_t StallMs = 10000;

// The other end: accepts one connection and runs a script on its own thread. What goes wrong
// on its side is collected in Problems.
class TToyServer {
public:
    TToyServer() {
        Listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(Listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(Listener, 1);
        int size = sizeof a;
        getsockname(Listener, reinterpret_cast<sockaddr*>(&a), &size);
        Port = ntohs(a.sin_port);
    }
    ~TToyServer() {
        Join();
        if (Peer != INVALID_SOCKET) closesocket(Peer);
        closesocket(Listener);
    }

    uint16_t Port = 0;
    std::vector<std::string> Problems;
    DWORD Version = 0;           // what the last handshake settled on
    HANDLE Incomplete = nullptr; // the stand-in's: the client has read part of a record

    void Start(std::function<void(TToyServer&)> script) {
        Thread = std::thread([this, script] {
            Peer = accept(Listener, nullptr, nullptr);
            const DWORD timeout = StallMs;
            setsockopt(Peer, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                       sizeof timeout);
            script(*this);
        });
    }
    void Join() {
        if (Thread.joinable()) Thread.join();
    }

    void Write(const std::string& bytes) {
        if (send(Peer, bytes.data(), static_cast<int>(bytes.size()), 0) !=
            static_cast<int>(bytes.size()))
            Problems.push_back("send failed");
    }
    // All but the last byte, then the last once the client has found the rest missing.
    void WriteInTwo(const std::string& bytes) {
        ResetEvent(Incomplete);
        Write(bytes.substr(0, bytes.size() - 1));
        if (WaitForSingleObject(Incomplete, StallMs) != WAIT_OBJECT_0)
            Problems.push_back("the client never read the first part alone");
        Write(bytes.substr(bytes.size() - 1));
    }
    void HangUp() {
        shutdown(Peer, SD_BOTH);
        closesocket(Peer);
        Peer = INVALID_SOCKET;
    }

    // The next record from the client (its kind and payload); data records are passed over
    // unless asked for.
    std::pair<char, std::string> Read(bool dataToo = false) {
        for (;;) {
            size_t whole;
            while (!(whole = RecordSize(reinterpret_cast<const uint8_t*>(In.data()), In.size()))) {
                char buffer[4096];
                const int n = recv(Peer, buffer, sizeof buffer, 0);
                if (n <= 0) return {0, ""};
                In.append(buffer, n);
            }
            const char kind = In[0];
            std::string payload = In.substr(3, whole - 3);
            In.erase(0, whole);
            if (kind == ClientData) {
                if (payload.size() < 2 || payload.substr(payload.size() - 2) != "!!")
                    Problems.push_back("a data record without its trailer");
                payload.resize(payload.size() >= 2 ? payload.size() - 2 : 0);
                if (!dataToo) continue;
            }
            return {kind, payload};
        }
    }
    void ExpectToken(const std::string& payload) {
        const auto [kind, text] = Read();
        if (kind != ClientToken || text != payload)
            Problems.push_back("expected token \"" + payload + "\", got " +
                               (kind ? std::string(1, kind) + " \"" + text + "\"" : "nothing"));
    }

    // The toy handshake: the highest version both speak of `versions`, in TLS 1.3's or TLS
    // 1.2's turns, `afterFinished` written with the server's last flight; a protocol_version
    // alert when there is none.
    void Handshake(DWORD versions, const std::string& afterFinished = "",
                   bool asksForCertificate = false, bool splitFlight = false) {
        const auto [kind, hello] = Read();
        if (kind != ClientToken || hello.rfind("client-hello ", 0) != 0) {
            Problems.push_back("no client hello: \"" + hello + "\"");
            return;
        }
        const DWORD common = ParseProtocolWord(hello.substr(13)) & versions;
        if (!common) {
            Write(Record(Alert, "protocol_version"));
            return;
        }
        Version = 0;
        for (DWORD v = 1; v; v <<= 1)
            if (common & v) Version = v; // the highest
        const std::string request = asksForCertificate ? " cert-request" : "";
        const std::string words = "server-hello " + ProtocolWord(Version) + request;
        if (Version == Tls13) {
            const std::string flight = Record(Flight, words + " finished") + afterFinished;
            splitFlight ? WriteInTwo(flight) : Write(flight);
            ExpectToken("client-finished");
            return;
        }
        const std::string flight = Record(Flight, words + " done");
        splitFlight ? WriteInTwo(flight) : Write(flight);
        ExpectToken("client-finished");
        Write(Record(Flight, "server-finished") + afterFinished);
    }

private:
    SOCKET Listener = INVALID_SOCKET;
    SOCKET Peer = INVALID_SOCKET;
    std::string In;
    std::thread Thread;
};

// One session on a modelled system against the toy server running `script`; on the way out,
// whatever went wrong on the server's side and every misuse of Schannel fails the test.
class TScene {
public:
    TScene(const TSystemModel& system, std::function<void(TToyServer&)> script)
        : Schannel(system), Session(std::make_unique<xldl::TTlsSession>(Schannel)) {
        Server.Incomplete = Schannel.Incomplete;
        Server.Start(std::move(script));
        EXPECT_EQ(Socket.Connect("127.0.0.1", Server.Port, nullptr, StallMs).Kind, TNet::Ok);
    }
    ~TScene() {
        Socket.Close();
        Server.Join();
        Session.reset();
        Schannel.CheckReleased();
        for (const std::string& p : Server.Problems)
            ADD_FAILURE() << "server: " << p;
        for (const std::string& v : Schannel.Violations)
            ADD_FAILURE() << "Schannel: " << v;
    }

    TNetResult Handshake(const std::string& host = "localhost") {
        return Session->Handshake(Socket, host, nullptr, StallMs);
    }
    TNetResult Send(const std::string& text) {
        return Session->Send(Socket, text.data(), text.size(), nullptr, StallMs);
    }
    // Everything the server sends until the session ends, and the result that ended it.
    std::pair<std::string, TNetResult> ReceiveAll() {
        std::string text;
        char buffer[7]; // small: a record is handed out over several calls
        for (;;) {
            const TNetResult r = Session->Receive(Socket, buffer, sizeof buffer, nullptr, StallMs);
            if (r.Kind != TNet::Ok) return {text, r};
            text.append(buffer, r.Bytes);
        }
    }

    TToyServer Server;
    TScriptedSchannel Schannel;
    std::unique_ptr<xldl::TTlsSession> Session;
    xldl::TSocket Socket;
};

class TlsSession : public ::testing::Test {
protected:
    static void SetUpTestSuite() { xldl::NetStartup(); }
    static void TearDownTestSuite() { xldl::NetShutdown(); }
};

std::string Name(DWORD protocol) {
    switch (protocol) {
    case Ssl3:
        return "SSL 3";
    case Tls10:
        return "TLS 1.0";
    case Tls11:
        return "TLS 1.1";
    case Tls12:
        return "TLS 1.2";
    case Tls13:
        return "TLS 1.3";
    default:
        return "none";
    }
}

const std::pair<char, std::string> Request{ClientData, "GET / HTTP/1.1\r\n"};

TEST_F(TlsSession, EachWindowsSpeaksTheBestVersionBothSidesHaveAndNothingOlderThanTls12) {
    struct TCase {
        const TSystemModel* System;
        DWORD Server;
        DWORD Expected; // 0: no common version, the handshake fails
    } cases[] = {
        // Windows 7 would offer SSL 3 and TLS 1.0 alone to a program that does not ask.
        {&Windows7, Tls10 | Tls11 | Tls12, Tls12},
        {&Windows7, Tls12 | Tls13, Tls12},
        {&Windows7, Ssl3 | Tls10, 0},
        {&Windows81, Tls12 | Tls13, Tls12},
        {&Windows10Before1809, Tls11 | Tls12, Tls12},
        {&Windows11, Tls12 | Tls13, Tls13},
        {&Windows11, Tls12, Tls12},
        {&Windows11, Tls10 | Tls11, 0},
        {&Windows11, Ssl3, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.System->Name) + " against a server of " +
                     ProtocolWord(c.Server));
        TScene scene(*c.System, [&c](TToyServer& s) {
            s.Handshake(c.Server);
            if (!s.Version) return;
            if (s.Read(true) != Request) s.Problems.push_back("the request did not come whole");
            s.Write(Record(Data, "HTTP/1.1 200 OK") + Record(CloseNotify));
        });
        const TNetResult r = scene.Handshake();
        if (!c.Expected) {
            EXPECT_EQ(r.Kind, TNet::Failed);
            EXPECT_EQ(r.Error, xldl::NetTlsFailed);
        } else {
            ASSERT_EQ(r.Kind, TNet::Ok) << r.Error;
            EXPECT_EQ(Name(scene.Session->Protocol()), Name(c.Expected));
            EXPECT_EQ(scene.Send(Request.second).Kind, TNet::Ok);
            const auto [text, end] = scene.ReceiveAll();
            EXPECT_EQ(text, "HTTP/1.1 200 OK");
            EXPECT_EQ(end.Kind, TNet::Eof);
            EXPECT_TRUE(scene.Session->ClosedCleanly());
        }
        // SCH_CREDENTIALS first; the old structure only where that is refused.
        const std::vector<std::string> kinds =
            c.System->TakesSchCredentials
                ? std::vector<std::string>{"SCH_CREDENTIALS"}
                : std::vector<std::string>{"SCH_CREDENTIALS", "SCHANNEL_CRED"};
        EXPECT_EQ(scene.Schannel.CredentialKinds, kinds);
        const DWORD ours = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
        for (DWORD flags : scene.Schannel.CredentialFlags)
            EXPECT_EQ(flags & ours, ours);
        for (DWORD offered : scene.Schannel.Offered)
            EXPECT_EQ(offered & (Ssl3 | Tls10 | Tls11), 0u) << "offered " << ProtocolWord(offered);
    }
}

TEST_F(TlsSession, PostHandshakeMessagesGoBackToTheHandshakeAndTheDataFlowsOn) {
    const std::string two = Record(Ticket) + Record(Ticket);
    const struct TCase {
        const char* What;
        std::string AfterFinished; // written with the server's flight
        std::vector<std::string> Writes;
        std::vector<std::string> Answers; // the client's tokens expected after each write
        const char* Expected;
        bool Clean;
    } cases[] = {
        {"two tickets with the server's Finished",
         two,
         {Record(Data, "body") + Record(CloseNotify)},
         {},
         "body",
         true},
        {"tickets between records of one write",
         "",
         {Record(Data, "one,") + two + Record(Data, "two") + Record(CloseNotify)},
         {},
         "one,two",
         true},
        {"a key update that asks for ours, in the middle of a body",
         two,
         {Record(Data, "first half,") + Record(KeyUpdate, "request"),
          Record(Data, "second half") + Record(CloseNotify)},
         {"key-update"},
         "first half,second half",
         true},
        {"a key update that asks for nothing",
         "",
         {Record(KeyUpdate, "none") + Record(Data, "all") + Record(CloseNotify)},
         {},
         "all",
         true},
        {"a hang-up without close_notify", two, {Record(Data, "cut")}, {}, "cut", false},
        {"a hang-up within a record",
         "",
         {Record(Data, "whole") + Record(Data, "part").substr(0, 5)},
         {},
         "whole",
         false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        TScene scene(Windows11, [&c](TToyServer& s) {
            s.Handshake(Tls13, c.AfterFinished);
            for (size_t i = 0; i < c.Writes.size(); ++i) {
                s.Write(c.Writes[i]);
                // A key update asked for is answered before the rest comes.
                if (i < c.Answers.size()) s.ExpectToken(c.Answers[i]);
            }
            s.HangUp();
        });
        ASSERT_EQ(scene.Handshake().Kind, TNet::Ok);
        EXPECT_EQ(Name(scene.Session->Protocol()), "TLS 1.3");
        const auto [text, end] = scene.ReceiveAll();
        EXPECT_EQ(text, c.Expected);
        EXPECT_EQ(end.Kind, TNet::Eof);
        EXPECT_EQ(scene.Session->ClosedCleanly(), c.Clean);
        // Checked once: tickets and key updates leave the peer as it was.
        EXPECT_EQ(scene.Schannel.VerifiedHosts.size(), 1u);
    }
}

TEST_F(TlsSession, EndlessPostHandshakeMessagesWithoutDataFailTheSession) {
    TScene scene(Windows11, [](TToyServer& s) {
        s.Handshake(Tls13);
        std::string flood;
        for (int i = 0; i < 100; ++i)
            flood += Record(Ticket);
        s.Write(flood + Record(Data, "late"));
    });
    ASSERT_EQ(scene.Handshake().Kind, TNet::Ok);
    const auto [text, end] = scene.ReceiveAll();
    EXPECT_EQ(text, "");
    EXPECT_EQ(end.Kind, TNet::Failed);
    EXPECT_EQ(end.Error, xldl::NetTlsFailed);
}

TEST_F(TlsSession, ATls12RenegotiationRunsAWholeHandshakeAndChecksTheServerAgain) {
    struct TCase {
        uint32_t SecondVerdict;
        const char* Expected;
        TNet End;
    } cases[] = {
        {0, "before,after", TNet::Eof},
        // The server came back with a certificate that does not verify: nothing more from it.
        {static_cast<uint32_t>(CERT_E_EXPIRED), "before,", TNet::Failed},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.SecondVerdict);
        TScene scene(Windows7, [](TToyServer& s) {
            s.Handshake(Tls12);
            s.Write(Record(Data, "before,") + Record(HelloRequest));
            s.Handshake(Tls12, Record(Data, "after") + Record(CloseNotify));
        });
        scene.Schannel.Verdicts = {0, c.SecondVerdict};
        ASSERT_EQ(scene.Handshake().Kind, TNet::Ok);
        const auto [text, end] = scene.ReceiveAll();
        EXPECT_EQ(text, c.Expected);
        EXPECT_EQ(end.Kind, c.End);
        EXPECT_EQ(scene.Schannel.VerifiedHosts.size(), 2u);
        if (c.SecondVerdict) {
            EXPECT_EQ(end.Error, xldl::NetTlsUntrusted);
            EXPECT_EQ(scene.Session->CertificateStatus(), c.SecondVerdict);
        }
    }
}

TEST_F(TlsSession, AServerThatDoesNotVerifyGetsNoByteOfOurs) {
    const uint32_t verdicts[] = {static_cast<uint32_t>(CERT_E_UNTRUSTEDROOT),
                                 static_cast<uint32_t>(CERT_E_CN_NO_MATCH),
                                 static_cast<uint32_t>(SEC_E_CERT_UNKNOWN)};
    for (uint32_t verdict : verdicts) {
        SCOPED_TRACE(verdict);
        TScene scene(Windows11, [](TToyServer& s) {
            s.Handshake(Tls13);
            const auto [kind, text] = s.Read(true);
            if (kind) s.Problems.push_back(std::string("got a record of kind ") + kind);
        });
        scene.Schannel.Verdicts = {verdict};
        const TNetResult r = scene.Handshake("[::1]");
        EXPECT_EQ(r.Kind, TNet::Failed);
        EXPECT_EQ(r.Error, xldl::NetTlsUntrusted);
        EXPECT_EQ(scene.Session->CertificateStatus(), verdict);
        // Named and checked as the address itself.
        EXPECT_EQ(scene.Schannel.Targets, std::vector<std::string>{"::1"});
        EXPECT_EQ(scene.Schannel.VerifiedHosts, std::vector<std::string>{"::1"});
    }
}

TEST_F(TlsSession, TheHandshakeWaitsForSplitRecordsAndGoesOnWithoutACertificateOfOurs) {
    struct TCase {
        const char* What;
        DWORD Version;
        bool Split;
        bool AsksForCertificate;
    } cases[] = {
        {"TLS 1.3 flight in two reads", Tls13, true, false},
        {"TLS 1.2 flight in two reads", Tls12, true, false},
        {"TLS 1.3 server asking for a certificate", Tls13, false, true},
        {"TLS 1.2 server asking for a certificate, in two reads", Tls12, true, true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        TScene scene(Windows11, [&c](TToyServer& s) {
            s.Handshake(c.Version, "", c.AsksForCertificate, c.Split);
            s.WriteInTwo(Record(Data, "split record") + Record(CloseNotify));
        });
        ASSERT_EQ(scene.Handshake().Kind, TNet::Ok);
        EXPECT_EQ(Name(scene.Session->Protocol()), Name(c.Version));
        const auto [text, end] = scene.ReceiveAll();
        EXPECT_EQ(text, "split record");
        EXPECT_TRUE(scene.Session->ClosedCleanly());
    }
}

TEST_F(TlsSession, AHangUpDuringTheHandshakeIsAPassingFailure) {
    TScene scene(Windows7, [](TToyServer& s) {
        s.Read();
        s.Write(Record(Flight, "server-hello 800 done").substr(0, 10));
        s.HangUp();
    });
    const TNetResult r = scene.Handshake();
    EXPECT_EQ(r.Kind, TNet::Failed);
    EXPECT_TRUE(xldl::IsTransientNetError(r.Error)) << r.Error;
}

TEST_F(TlsSession, ARequestGoesOutInRecordsOfTheStreamSizeAndNotAfterTheServerClosed) {
    const std::string request = "GET /setup.exe HTTP/1.1\r\nHost: dl1.orlenz.com\r\n\r\n";
    TScene scene(Windows7, [&request](TToyServer& s) {
        s.Handshake(Tls12);
        std::string got;
        while (got.size() < request.size()) {
            const auto [kind, text] = s.Read(true);
            if (kind != ClientData || text.size() > TScriptedSchannel::MaxMessage) {
                s.Problems.push_back("not a data record of the stream size");
                break;
            }
            got += text;
        }
        if (got != request) s.Problems.push_back("the request came as \"" + got + "\"");
        s.Write(Record(CloseNotify));
    });
    ASSERT_EQ(scene.Handshake().Kind, TNet::Ok);
    ASSERT_EQ(scene.Send(request).Kind, TNet::Ok);
    const auto [text, end] = scene.ReceiveAll();
    EXPECT_EQ(end.Kind, TNet::Eof);
    ASSERT_TRUE(scene.Session->ClosedCleanly());
    // Another request must go on another connection.
    const TNetResult again = scene.Send(request);
    EXPECT_EQ(again.Kind, TNet::Failed);
    EXPECT_TRUE(xldl::IsTransientNetError(again.Error));
}

} // namespace
