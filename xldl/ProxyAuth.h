// Answering a proxy's 407 on Windows: Negotiate and NTLM through SSPI with the user's own
// logon (no prompt), then Basic with credentials from the credential store or, where it has
// none that work, the system's credential dialog owned by the tool's window (saved only when
// the user ticks the box, and only once the proxy took them). Credentials live in memory for
// the task only: they never reach the origin server, the trace or the state file.
#pragma once

#include "xldl/core/ProxyAuth.h"
#include "xldl/core/ProxyRules.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace xldl {

// The window that owns the credential dialog (the tool's), or none: then nobody is asked.
void SetPromptOwner(HWND owner);

// The system's credential dialog (CredUIPromptForCredentialsW), or null where it has none.
using TPromptCall = DWORD(WINAPI*)(void* info, const wchar_t* target, void* context, DWORD error,
                                   wchar_t* user, ULONG userSize, wchar_t* password,
                                   ULONG passwordSize, BOOL* save, DWORD flags);
TPromptCall SystemPrompt();

// One SSPI security context, for a connection-based scheme: the seam between the handshake
// and the system's security packages.
class TSspiExchange {
public:
    virtual ~TSspiExchange() = default;
    // The next message for the proxy, given its last one (empty to begin); nothing when the
    // package refuses (no logon to offer, a message it cannot take).
    virtual std::optional<std::vector<uint8_t>> Step(const std::vector<uint8_t>& input) = 0;
};
// Makes a context for `scheme` (Negotiate or NTLM) towards the proxy `host`; nothing when the
// system has no such package.
using TSspiFactory =
    std::function<std::unique_ptr<TSspiExchange>(TAuthScheme scheme, const std::string& host)>;
// The system's own packages (secur32), with the logged-on user's credentials.
std::unique_ptr<TSspiExchange> SystemSspi(TAuthScheme scheme, const std::string& host);

// What one task knows of one proxy's questions, shared by the task's connections through it:
// which schemes failed, and the Basic credentials in use. One prompt at a time per proxy: the
// other connections wait for its answer rather than asking again.
class TProxyCredentials {
public:
    // `named`: the user's own settings name this proxy (not a script or detection, whose
    // answer comes from the network): only then may credentials stored under its bare host
    // name go to it, as the system's own dialog would store them for such a proxy.
    TProxyCredentials(TProxyServer proxy, bool named, TPromptCall (*prompt)() = SystemPrompt);
    ~TProxyCredentials();
    TProxyCredentials(const TProxyCredentials&) = delete;
    TProxyCredentials& operator=(const TProxyCredentials&) = delete;

    struct TBasic {
        std::string Authorization; // the header's value
        uint32_t Generation = 0;   // which credentials these are, to report on them
    };
    // Basic credentials to send, other than those of `refused` (0: none refused): ones another
    // connection got meanwhile, else the store's, else (`mayPrompt`) the user's answer to the
    // dialog. Nothing when none are to be had (no owner window, the user cancelled, asked too
    // often, a prompt not allowed or open for another) or when `abort` was set (then
    // `aborted`).
    std::optional<TBasic> Basic(uint32_t refused, HANDLE abort, bool& aborted,
                                bool mayPrompt = true);
    // The proxy took them: credentials the user asked to save are saved now.
    void Accepted(uint32_t generation);
    // The proxy refused them without a word: they are not offered again.
    void Refused(uint32_t generation);
    // Basic credentials the proxy has taken in this task, for new connections to send at once.
    std::optional<TBasic> Working();

    bool Spent(TAuthScheme scheme);
    void Spend(TAuthScheme scheme);
    void SpentSchemes(bool (&spent)[AuthSchemeCount]);

    const TProxyServer& Proxy() const { return Server; }

private:
    struct TPromptAnswer {
        std::string User, Password;
        bool Save = false;
    };
    std::optional<TPromptAnswer> Prompt(bool again, HANDLE abort, bool& aborted);
    std::string Target() const;

    const TProxyServer Server;
    const bool Named;
    TPromptCall (*const PromptCall)();
    CRITICAL_SECTION Lock;       // guards what follows
    HANDLE PromptDone = nullptr; // manual reset: no prompt is open
    bool Prompting = false;
    bool StoreRead = false;
    bool Exhausted = false;
    int Prompts = 0;
    bool SpentScheme[AuthSchemeCount] = {};
    std::optional<TBasic> Current;
    bool CurrentFromPrompt = false;
    bool Confirmed = false;
    uint32_t LastGeneration = 0;
    uint32_t RefusedGeneration = 0; // refused by a close on some connection
};

// One connection's exchange with a proxy that asked who we are: answers each 407 in turn,
// connection-based schemes over several rounds on the same connection.
class TProxyHandshake {
public:
    // `mayPrompt`: Basic credentials may come from the dialog; without it only those the
    // system has are offered, and needing others spends nothing the task's other connections
    // could still use.
    TProxyHandshake(TProxyCredentials& credentials, const TSspiFactory& sspi,
                    bool mayPrompt = true);

    // The Proxy-Authorization value that answers the 407 `head`, or nothing when no way is
    // left (the proxy refused every scheme and credential we have); `aborted` when the task
    // was stopped meanwhile.
    std::optional<std::string> Answer(const THeaders& head, HANDLE abort, bool& aborted);
    // The proxy answered something other than 407 after our last answer.
    void Succeeded();
    // The proxy closed the connection instead of answering the request that carried our
    // answer: that answer is refused, for every connection of the task.
    void Unanswered();
    // What goes with every later request on this connection: Basic's value once it works
    // (empty otherwise, and for connection-based schemes, which hold for the connection).
    const std::string& Standing() const { return StandingValue; }
    // The connection closed: a connection-based exchange must begin again on the next one.
    void ConnectionClosed();

private:
    void Spend(TAuthScheme scheme);

    TProxyCredentials& Credentials;
    const TSspiFactory& Sspi;
    const bool MayPrompt;
    bool OwnSpent[AuthSchemeCount] = {}; // what a connection that may not prompt used up
    std::optional<TAuthScheme> Current;
    std::unique_ptr<TSspiExchange> Context;
    uint32_t BasicGeneration = 0;
    std::string StandingValue;
    int Rounds = 0;
};

} // namespace xldl
