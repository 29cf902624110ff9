// The engine behind every network a user sits behind: an automatic configuration script named
// in the Internet Settings (evaluated by WinHTTP), one that names a dead proxy, one that does
// not load or never answers; squid asking for Basic credentials (from the credential store, or
// from the system's dialog, driven here), through CONNECT tunnels too; refused and reset
// tunnels. Credentials never reach the origin, the trace or the state file.
//
// Runs in a prefix of its own (wine-run-proxy) beside with_mirror.py --tls and with_squid.py.
#include "ProxyTestSupport.h"

#include "app/DownloadTexts.h"

#include <cstdio>
#include <functional>

namespace mirror {
namespace {

std::string MirrorPort() {
    return Port(Env("XLDL_TEST_MIRROR_DIRECT"));
}

// The mirror as a plain proxy (it serves absolute-form requests from <root>/<host>/).
std::string MirrorAsProxy() {
    return "127.0.0.1:" + MirrorPort();
}

const char* const MirrorFile = "http://dl1.orlenz.com/service/setup.exe";

// The engine test's checks, with the engine started by each case, after its settings.
class EngineProxy : public EngineTest {
protected:
    void SetUp() override {
        ASSERT_FALSE(Env("XLDL_TEST_SQUID_BASIC").empty()) << "run through with_squid.py";
        Out = Root() + "out\\";
        CreateDirectoryA(Out.c_str(), nullptr);
        TracePath = Root() + "trace.txt";
        Script("{}");
        TInternetSettings::Clear();
        for (const char* name : {"setup.exe", "tls.bin", "direct.bin"})
            DeleteFileA((Out + name).c_str());
        for (const char* squid : {"XLDL_TEST_SQUID_BASIC", "XLDL_TEST_SQUID_NTLM"})
            ForgetCredentials(Env(squid));
    }
    void TearDown() override {
        if (Started) XL_UnInit();
        TInternetSettings::Clear();
        for (const char* name : {"http_proxy", "https_proxy", "no_proxy"})
            SetEnvironmentVariableA(name, nullptr);
    }
    // The engine, with the quick tunables, a trace, and `extra` ("NAME=value").
    void Start(std::vector<std::string> extra = {}) {
        auto env = QuickTunables();
        env.push_back("https_proxy=");
        // Plain requests through the proxy are what these cases are about: the mirror's TLS
        // twin would otherwise take them over its tunnel (a case of its own below).
        env.push_back("XLDL_HTTPS_PORTS=0");
        env.push_back("XLDL_TRACE=" + TracePath);
        env.insert(env.end(), extra.begin(), extra.end());
        StartEngine(env);
        Started = true;
    }
    // A script at /name.pac of the mirror whose answer for the orlenz.com hosts is `mirrors`
    // and for every other host DIRECT.
    std::string ScriptUrl(const std::string& name, const std::string& mirrors) {
        const std::string text = "function FindProxyForURL(url, host) {\n"
                                 "  if (dnsDomainIs(host, \".orlenz.com\")) return \"" +
                                 mirrors + "\";\n  return \"DIRECT\";\n}\n";
        EXPECT_TRUE(WriteFileBytes(Root() + name + ".pac", {text.begin(), text.end()}));
        return "http://127.0.0.1:" + MirrorPort() + "/" + name + ".pac";
    }
    std::string Trace() { return FileText(TracePath); }

    std::string TracePath;
    bool Started = false;
    TInternetSettings Settings;
};

// The log lines of requests for `path`.
std::vector<std::string> Requests(const std::string& path) {
    std::vector<std::string> lines;
    for (const std::string& line : Log())
        if (line.rfind("GET " + path + " ", 0) == 0) lines.push_back(line);
    return lines;
}

TEST_F(EngineProxy, AScriptSendsTheMirrorsThroughAProxyAndEverythingElseDirect) {
    const auto mirrored = Serve("dl1.orlenz.com/service/setup.exe", 700000, 11);
    const auto direct = Serve("direct.bin", 300000, 12);
    Settings.Text("AutoConfigURL", ScriptUrl("mirrors", "PROXY " + MirrorAsProxy()));
    // Detection stays on beside the script, as on most machines that have one: it finds no
    // WPAD server here, and the script still decides.
    TInternetSettings::Detection(true);
    // WinHTTP's script engine takes long to start under emulated Wine: the bound is the
    // default's business, not this test's.
    Start({"XLDL_PROXY_WAIT_MS=120000"});
    const TRun viaProxy = Download(MirrorFile, Out, "setup.exe", true, 150000);
    ExpectFinished(viaProxy, "setup.exe", mirrored);
    const TRun straight =
        Download("http://127.0.0.1:" + MirrorPort() + "/direct.bin", Out, "direct.bin", true);
    ExpectFinished(straight, "direct.bin", direct);

    const auto proxied = Requests("/service/setup.exe");
    ASSERT_FALSE(proxied.empty());
    for (const std::string& line : proxied)
        EXPECT_EQ(Field(line, "abs"), "1") << "asked of a proxy: " << line;
    const auto straightLines = Requests("/direct.bin");
    ASSERT_FALSE(straightLines.empty());
    for (const std::string& line : straightLines)
        EXPECT_EQ(Field(line, "abs"), "0") << "asked of the server itself: " << line;
    const std::string trace = Trace();
    EXPECT_NE(
        trace.find("proxy http://dl1.orlenz.com:80: 127.0.0.1:" + MirrorPort() + " (automatic"),
        std::string::npos)
        << trace;
    EXPECT_NE(trace.find(":" + MirrorPort() + ": DIRECT (automatic"), std::string::npos) << trace;
    // What the script cost under this Wine, for the record.
    for (size_t at = trace.find("proxy "); at != std::string::npos;
         at = trace.find("proxy ", at + 1))
        std::printf("%s\n", trace.substr(at, trace.find('\n', at) - at).c_str());
    const size_t scripts = Requests("/mirrors.pac").size();
    EXPECT_GE(scripts, 1u);
    EXPECT_LE(scripts, 2u) << "asked once per host and task, not per connection";
}

TEST_F(EngineProxy, AScriptThatFailsGivesWayToTheManualProxyWithinTheBound) {
    const auto content = Serve("dl1.orlenz.com/service/setup.exe", 400000, 13);
    // A server that takes the connection and never says a word.
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    const SOCKET silent = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(silent, 8), 0);
    int size = sizeof a;
    getsockname(silent, reinterpret_cast<sockaddr*>(&a), &size);
    struct TCase {
        const char* Name;
        std::string Script;
        const char* Said; // in the trace
    } cases[] = {
        {"missing", "http://127.0.0.1:" + MirrorPort() + "/missing.pac",
         "automatic settings failed"},
        {"silent", "http://127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/proxy.pac",
         "automatic settings gave no answer"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        DeleteFileA(TracePath.c_str());
        Settings.Text("AutoConfigURL", c.Script);
        Settings.Manual(MirrorAsProxy());
        Start({"XLDL_PROXY_WAIT_MS=3000"});
        const DWORD start = GetTickCount();
        const TRun run = Download(MirrorFile, Out, "setup.exe", false, 60000);
        const DWORD took = GetTickCount() - start;
        ExpectFinished(run, "setup.exe", content);
        // Well before the silent script's server would let go.
        EXPECT_LT(took, 40000u);
        const std::string trace = Trace();
        EXPECT_NE(trace.find(c.Said), std::string::npos) << trace;
        EXPECT_NE(trace.find("(manual settings)"), std::string::npos) << trace;
        for (const std::string& line : Requests("/service/setup.exe"))
            EXPECT_EQ(Field(line, "abs"), "1") << "through the manual proxy: " << line;
        XL_UnInit();
        Started = false;
        DeleteFileA((Out + "setup.exe").c_str());
    }
    closesocket(silent);
}

TEST_F(EngineProxy, AProxyThatCannotBeReachedEndsTheTaskWithItsOwnReason) {
    Serve("dl1.orlenz.com/service/setup.exe", 100000, 14);
    const std::string dead = "127.0.0.1:" + std::to_string(DeadPort());
    struct TCase {
        const char* Name;
        std::function<void(TInternetSettings&, std::string&)> Arrange;
    } cases[] = {
        {"script",
         [&](TInternetSettings& s, std::string&) {
             s.Text("AutoConfigURL", ScriptUrl("dead", "PROXY " + dead));
         }},
        {"manual", [&](TInternetSettings& s, std::string&) { s.Manual(dead); }},
        {"environment", [&](TInternetSettings&, std::string& env) { env = "http://" + dead; }},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TInternetSettings::Clear();
        std::string env;
        c.Arrange(Settings, env);
        Start({"XLDL_PROXY_WAIT_MS=120000", "http_proxy=" + env});
        const TRun run = Download(MirrorFile, Out, "setup.exe", true, 150000);
        ExpectFailed(run, "setup.exe", ErrorProxyUnreachable);
        EXPECT_EQ(FailureText(run.Error()), "下载失败：无法连接代理服务器，请检查代理设置");
        EXPECT_TRUE(Requests("/service/setup.exe").empty());
        XL_UnInit();
        Started = false;
    }
}

TEST_F(EngineProxy, StoredCredentialsCarryRequestsAndTunnelsButGoNowhereElse) {
    const auto mirrored = Serve("dl1.orlenz.com/service/setup.exe", 1500000, 15);
    const auto tunnelled = Serve("tls.bin", 600000, 16);
    const auto direct = Serve("direct.bin", 900000, 17);
    const std::string squid = Env("XLDL_TEST_SQUID_BASIC");
    const std::string user = Env("XLDL_TEST_SQUID_USER"),
                      password = Env("XLDL_TEST_SQUID_PASSWORD");
    ASSERT_TRUE(StoreCredentials(squid, user, password));
    // A pause part way, to read the state file of the partial that credentials brought in.
    Script(R"({"rules": [{"path": "/service/setup.exe", "fault": "pause", "bytes": 100000,
                          "seconds": 0.5}]})");
    Start({"http_proxy=http://" + squid, "https_proxy=http://" + squid, "no_proxy=127.0.0.1",
           "XLDL_RECORD_MS=100"});
    TRun plain;
    const TaskHandle task = StartDownload(MirrorFile, Out, "setup.exe", true, plain);
    std::string state;
    Follow(task, plain, 60000, [&](const DownloadTaskInfo& info) {
        if (info.DoneSize > 0 && state.empty()) state = FileText(Out + "setup.exe.part.state");
        return Ended(info);
    });
    ExpectFinished(plain, "setup.exe", mirrored);
    EXPECT_FALSE(state.empty()) << "no state file seen while the download paused";
    const TRun tunnel = Download(TlsUrlFor("/tls.bin"), Out, "tls.bin", true, 60000);
    ExpectFinished(tunnel, "tls.bin", tunnelled);
    const TRun straight = Download("http://127.0.0.1:" + MirrorPort() + "/direct.bin", Out,
                                   "direct.bin", false, 30000);
    ExpectFinished(straight, "direct.bin", direct);

    // squid knew the user for the plain requests and the tunnel alike.
    const std::string access = FileText(Env("XLDL_TEST_SQUID_LOGS_WIN") + "\\basic.log");
    EXPECT_NE(access.find(" " + user + " "), std::string::npos) << access;
    EXPECT_NE(access.find("CONNECT localhost:"), std::string::npos) << access;
    for (const std::string& line : Log())
        EXPECT_EQ(line.find("proxy_authorization"), std::string::npos) << "at the origin: " << line;
    const std::string trace = Trace();
    ASSERT_FALSE(trace.empty());
    for (const std::string& secret : SecretForms(user, password)) {
        EXPECT_EQ(trace.find(secret), std::string::npos) << "in the trace: " << secret;
        EXPECT_EQ(state.find(secret), std::string::npos) << "in the state file: " << secret;
    }
}

TEST_F(EngineProxy, WhereTheLogonCannotAnswerBasicDoes) {
    // The proxy offers NTLM first. The system's package is asked for the logon; where it has
    // none to give (Wine without winbind's helper), Basic from the store answers instead.
    const auto content = Serve("dl1.orlenz.com/service/setup.exe", 600000, 21);
    const std::string squid = Env("XLDL_TEST_SQUID_NTLM");
    const std::string user = Env("XLDL_TEST_SQUID_USER");
    ASSERT_TRUE(StoreCredentials(squid, user, Env("XLDL_TEST_SQUID_PASSWORD")));
    Start({"http_proxy=http://" + squid});
    const TRun run = Download(MirrorFile, Out, "setup.exe", true, 60000);
    ExpectFinished(run, "setup.exe", content);
    const std::string access = FileText(Env("XLDL_TEST_SQUID_LOGS_WIN") + "\\ntlm.log");
    EXPECT_NE(access.find("TCP_MISS/2"), std::string::npos) << access;
}

TEST_F(EngineProxy, RefusedCredentialsEndTheTaskAtOnceWithItsOwnReason) {
    Serve("dl1.orlenz.com/service/setup.exe", 300000, 18);
    const std::string squid = Env("XLDL_TEST_SQUID_BASIC");
    struct TCase {
        const char* Name;
        const char* Password; // stored; none: nothing stored, and nobody to ask
    } cases[] = {{"wrong", "not the password"}, {"none", nullptr}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        ForgetCredentials(squid);
        if (c.Password) {
            ASSERT_TRUE(StoreCredentials(squid, Env("XLDL_TEST_SQUID_USER"), c.Password));
        }
        // A long budget: a refusal must not wait it out.
        Start({"http_proxy=http://" + squid, "XLDL_GIVE_UP_MS=120000"});
        const DWORD start = GetTickCount();
        const TRun run = Download(MirrorFile, Out, "setup.exe", true, 150000);
        ExpectFailed(run, "setup.exe", ErrorProxyAuth);
        EXPECT_LT(GetTickCount() - start, 60000u) << "the retry budget was waited out";
        EXPECT_EQ(FailureText(run.Error()), "下载失败：代理服务器需要身份验证");
        EXPECT_TRUE(Requests("/service/setup.exe").empty());
        XL_UnInit();
        Started = false;
    }
}

TEST_F(EngineProxy, AProxyThatDropsTheConnectionAfterOurAnswerHasRefusedIt) {
    // It asks who we are, and closes the connection on the request that says: the stored
    // credentials count as refused, and with nobody to ask the task ends, soon and after a
    // few rounds, not after as many as the budget allows.
    Serve("dl1.orlenz.com/service/setup.exe", 300000, 23);
    ForgetCredentials(MirrorAsProxy());
    ASSERT_TRUE(StoreCredentials(MirrorAsProxy(), "user", "secret"));
    Script(R"({"rules": [{"authorized": false, "fault": "status", "status": 407, "times": -1,
                          "proxy_authenticate": "Basic realm=\"mirror\""},
                         {"authorized": true, "fault": "reset", "times": -1}]})");
    Start({"http_proxy=http://" + MirrorAsProxy(), "XLDL_GIVE_UP_MS=120000"});
    const DWORD start = GetTickCount();
    const TRun run = Download(MirrorFile, Out, "setup.exe", true, 150000);
    ExpectFailed(run, "setup.exe", ErrorProxyAuth);
    EXPECT_LT(GetTickCount() - start, 60000u) << "the retry budget was waited out";
    size_t answered = 0;
    for (const std::string& line : Log())
        answered += line.find("proxy_authorization=1") != std::string::npos;
    EXPECT_GE(answered, 1u);
    EXPECT_LE(answered, 4u) << "the same credentials, again and again";
    ForgetCredentials(MirrorAsProxy());
}

TEST_F(EngineProxy, CredentialsStoredUnderABareHostGoOnlyToAProxyTheUserNamed) {
    // As the system's dialog may store them for a proxy of the user's own settings; a proxy
    // that a script from the network names could be anyone's, and gets them only under its
    // full name.
    const auto content = Serve("dl1.orlenz.com/service/setup.exe", 300000, 24);
    const std::string squid = Env("XLDL_TEST_SQUID_BASIC");
    const std::string host = squid.substr(0, squid.find(':'));
    ForgetCredentials(host);
    ASSERT_TRUE(
        StoreCredentials(host, Env("XLDL_TEST_SQUID_USER"), Env("XLDL_TEST_SQUID_PASSWORD")));
    for (const bool named : {true, false}) {
        SCOPED_TRACE(named ? "named in the settings" : "named by a script");
        DeleteFileA((Out + "setup.exe").c_str());
        if (named) {
            Start({"http_proxy=http://" + squid});
        } else {
            Settings.Text("AutoConfigURL", ScriptUrl("squid", "PROXY " + squid));
            Start({"XLDL_PROXY_WAIT_MS=120000"});
        }
        const TRun run = Download(MirrorFile, Out, "setup.exe", true, 150000);
        if (named)
            ExpectFinished(run, "setup.exe", content);
        else
            ExpectFailed(run, "setup.exe", ErrorProxyAuth);
        XL_UnInit();
        Started = false;
    }
    ForgetCredentials(host);
}

// The system's credential dialog, as a user meets it: found among the windows our window owns,
// filled in and answered.
struct TPromptAnswer {
    const char* User;
    const char* Password;
    bool Save;
    bool Cancel;
};

struct TDialogParts {
    HWND Dialog = nullptr;
    HWND User = nullptr, Password = nullptr, Save = nullptr, Ok = nullptr;
};

// The user name is typed into an edit box of its own, or into one inside a combo box.
BOOL CALLBACK FindPart(HWND child, LPARAM param) {
    auto& parts = *reinterpret_cast<TDialogParts*>(param);
    char cls[64] = {};
    GetClassNameA(child, cls, sizeof cls);
    const LONG style = GetWindowLongA(child, GWL_STYLE);
    const std::string c = cls;
    if (c == "Edit" && (style & ES_PASSWORD)) parts.Password = child;
    if (c == "Edit" && !(style & ES_PASSWORD) && (!parts.User || GetParent(child) != parts.Dialog))
        parts.User = child;
    if (c == "Button" && ((style & 0xF) == BS_AUTOCHECKBOX || (style & 0xF) == BS_CHECKBOX))
        parts.Save = child;
    if (c == "Button" && GetDlgCtrlID(child) == IDOK) parts.Ok = child;
    return TRUE;
}

struct TFind {
    HWND Owner;
    HWND Found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM param) {
    auto& find = *reinterpret_cast<TFind*>(param);
    char cls[16] = {};
    GetClassNameA(window, cls, sizeof cls);
    if (std::string(cls) == "#32770" && GetWindow(window, GW_OWNER) == find.Owner &&
        IsWindowVisible(window)) {
        find.Found = window;
        return FALSE;
    }
    return TRUE;
}

TEST_F(EngineProxy, WithoutCredentialsTheUserIsAskedOverTheToolsWindow) {
    const auto content = Serve("dl1.orlenz.com/service/setup.exe", 1200000, 19);
    const std::string squid = Env("XLDL_TEST_SQUID_BASIC");
    const std::string user = Env("XLDL_TEST_SQUID_USER"),
                      password = Env("XLDL_TEST_SQUID_PASSWORD");
    const auto setOwner = reinterpret_cast<TXLSetPromptOwner>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("xldl.dll"), SetPromptOwnerExport)));
    ASSERT_NE(setOwner, nullptr) << "the engine exports " << SetPromptOwnerExport;
    const HWND owner = CreateWindowExA(0, "STATIC", "Orlenz", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200,
                                       nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(owner, nullptr);
    const std::vector<std::string> throughSquid = {"http_proxy=http://" + squid,
                                                   "XLDL_GIVE_UP_MS=120000"};
    struct TCase {
        const char* Name;
        std::vector<TPromptAnswer> Answers; // one per dialog, in turn
        uint32_t Error;                     // 0: finished
        bool Stored;
        std::vector<std::string> Env;
    } cases[] = {
        {"saved", {{user.c_str(), password.c_str(), true, false}}, 0, true, throughSquid},
        {"again",
         {{user.c_str(), "guess", false, false}, {user.c_str(), password.c_str(), false, false}},
         0,
         false,
         throughSquid},
        {"cancelled", {{nullptr, nullptr, false, true}}, ErrorProxyAuth, false, throughSquid},
        // Only the https tried first goes through it: that try never asks the user.
        {"https tried first",
         {},
         0,
         false,
         {"http_proxy=http://" + MirrorAsProxy(), "https_proxy=http://" + squid,
          "XLDL_HTTPS_PORTS=80:443"}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        ForgetCredentials(squid);
        DeleteFileA((Out + "setup.exe").c_str());
        Start(c.Env);
        setOwner(owner);
        TRun run;
        const TaskHandle task = StartDownload(MirrorFile, Out, "setup.exe", true, run);
        size_t dialogs = 0;
        const DWORD start = GetTickCount();
        HWND answered = nullptr;
        while (GetTickCount() - start < 120000) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            TFind find{owner, nullptr};
            EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&find));
            if (find.Found && find.Found != answered) {
                answered = find.Found;
                ASSERT_LT(dialogs, c.Answers.size()) << "asked once too often";
                const TPromptAnswer& a = c.Answers[dialogs++];
                TDialogParts parts;
                parts.Dialog = find.Found;
                EnumChildWindows(find.Found, FindPart, reinterpret_cast<LPARAM>(&parts));
                if (a.Cancel) {
                    PostMessageA(find.Found, WM_COMMAND, IDCANCEL, 0);
                } else {
                    ASSERT_TRUE(parts.User && parts.Password && parts.Ok)
                        << "the dialog's fields were not found";
                    SetWindowTextA(parts.User, a.User);
                    SetWindowTextA(parts.Password, a.Password);
                    if (parts.Save)
                        SendMessageA(parts.Save, BM_SETCHECK, a.Save ? BST_CHECKED : BST_UNCHECKED,
                                     0);
                    else
                        EXPECT_FALSE(a.Save) << "no box to tick";
                    PostMessageA(find.Found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                                 reinterpret_cast<LPARAM>(parts.Ok));
                }
            }
            DownloadTaskInfo info;
            std::memset(&info, 0, sizeof info);
            if (EngineTrue(XL_QueryTaskInfoEx(task, &info))) {
                run.Last = info;
                if (Ended(info)) break;
            }
            Sleep(20);
        }
        EXPECT_EQ(dialogs, c.Answers.size()) << "one dialog per answer, whatever the connections";
        if (c.Error) {
            EXPECT_EQ(run.State(), StateFailed);
            EXPECT_EQ(run.Error(), c.Error);
        } else {
            EXPECT_EQ(run.State(), StateFinished) << "error " << run.Error();
            const auto got = ReadFileBytes(Out + "setup.exe");
            EXPECT_TRUE(got && *got == content);
        }
        EXPECT_EQ(StoredCredentials(squid), c.Stored ? user + ":" + password : "")
            << "saved only when the box was ticked and the proxy took them";
        setOwner(nullptr);
        XL_UnInit();
        Started = false;
    }
    DestroyWindow(owner);
}

TEST_F(EngineProxy, TunnelsThatAreRefusedOrResetAndAQuestionWithNoAnswer) {
    const auto content = Serve("tls.bin", 500000, 20);
    struct TCase {
        const char* Name;
        const char* Rule; // for the CONNECT
        uint32_t Error;   // 0: finished
    } cases[] = {
        {"reset once", R"({"connect": true, "fault": "reset", "times": 1})", 0},
        {"refused once", R"({"connect": true, "fault": "status", "status": 503, "times": 1})", 0},
        {"refused", R"({"connect": true, "fault": "status", "status": 403, "times": -1})",
         ErrorNetwork},
        {"asks, no way to answer",
         R"({"connect": true, "fault": "status", "status": 407, "times": -1})", ErrorProxyAuth},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        DeleteFileA((Out + "tls.bin").c_str());
        Script(std::string(R"({"rules": [)") + c.Rule + "]}");
        Start({"https_proxy=http://" + MirrorAsProxy()});
        const TRun run = Download(TlsUrlFor("/tls.bin"), Out, "tls.bin", false, 60000);
        if (c.Error)
            ExpectFailed(run, "tls.bin", c.Error);
        else
            ExpectFinished(run, "tls.bin", content);
        XL_UnInit();
        Started = false;
    }
}

} // namespace
} // namespace mirror
