#include "xldl/ProxyAuth.h"

#include "xldl/Locked.h"
#include "runtime/SystemLibrary.h"

#define SECURITY_WIN32
#include <security.h>
#include <wincred.h>

namespace xldl {

namespace {

volatile HWND Owner = nullptr;

// How often the user is asked for one proxy in one task before it counts as refused.
constexpr int MaxPrompts = 3;
// Answers on one connection before its exchange counts as going nowhere.
constexpr int MaxRounds = 10;

void Wipe(std::string& s) {
    SecureZeroMemory(s.data(), s.size());
    s.clear();
}

class TSystemSspi : public TSspiExchange {
public:
    TSystemSspi(const char* package, std::string target)
        : Package(package), Target(std::move(target)) {}
    ~TSystemSspi() override {
        if (HaveContext) DeleteSecurityContext(&Context);
        if (HaveCredentials) FreeCredentialsHandle(&Credentials);
    }

    std::optional<std::vector<uint8_t>> Step(const std::vector<uint8_t>& input) override {
        TimeStamp expiry;
        if (!HaveCredentials) {
            // No identity given: the package uses the logged-on user's.
            if (AcquireCredentialsHandleA(nullptr, const_cast<char*>(Package), SECPKG_CRED_OUTBOUND,
                                          nullptr, nullptr, nullptr, nullptr, &Credentials,
                                          &expiry) != SEC_E_OK)
                return std::nullopt;
            HaveCredentials = true;
        }
        if (HaveContext == input.empty()) return std::nullopt; // a token only after the first
        std::vector<uint8_t> out(48 * 1024);
        SecBuffer in{static_cast<ULONG>(input.size()), SECBUFFER_TOKEN,
                     const_cast<uint8_t*>(input.data())};
        SecBufferDesc inDesc{SECBUFFER_VERSION, 1, &in};
        SecBuffer outBuffer{static_cast<ULONG>(out.size()), SECBUFFER_TOKEN, out.data()};
        SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &outBuffer};
        ULONG attributes = 0;
        SECURITY_STATUS s = InitializeSecurityContextA(
            &Credentials, HaveContext ? &Context : nullptr, Target.data(), 0, 0,
            SECURITY_NATIVE_DREP, HaveContext ? &inDesc : nullptr, 0, &Context, &outDesc,
            &attributes, &expiry);
        if (s == SEC_I_COMPLETE_NEEDED || s == SEC_I_COMPLETE_AND_CONTINUE) {
            if (CompleteAuthToken(&Context, &outDesc) != SEC_E_OK) return std::nullopt;
            s = s == SEC_I_COMPLETE_NEEDED ? SEC_E_OK : SEC_I_CONTINUE_NEEDED;
        }
        if (s != SEC_E_OK && s != SEC_I_CONTINUE_NEEDED) return std::nullopt;
        HaveContext = true;
        out.resize(outBuffer.cbBuffer);
        return out;
    }

private:
    const char* Package;
    std::string Target;
    CredHandle Credentials{};
    CtxtHandle Context{};
    bool HaveCredentials = false;
    bool HaveContext = false;
};

std::string Utf8(const wchar_t* text, size_t length) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                      nullptr, nullptr);
    std::string s(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), s.data(), n, nullptr,
                            nullptr);
    return s;
}

std::string Utf8(const wchar_t* text) {
    return text ? Utf8(text, wcslen(text)) : std::string();
}

// Our texts are code page 936, whatever the system's: the dialog gets them as UTF-16.
std::wstring FromOurText(const std::string& text) {
    const int n = MultiByteToWideChar(936, 0, text.c_str(), -1, nullptr, 0);
    std::wstring s(static_cast<size_t>(n > 0 ? n : 1), L'\0');
    if (n > 0) MultiByteToWideChar(936, 0, text.c_str(), -1, s.data(), n);
    s.resize(s.size() - 1);
    return s;
}

std::wstring Wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

// The user name as typed: a dialog may hand it back (and store it) with our target name as
// its domain, "host:port\\user", which means nothing to a proxy. A domain the user typed
// stays.
const wchar_t* Unqualified(const wchar_t* user, const std::wstring& target) {
    if (user && wcsncmp(user, target.c_str(), target.size()) == 0 && user[target.size()] == L'\\')
        return user + target.size() + 1;
    return user;
}

// A stored password: UTF-16, as the system's dialog keeps it (odd sizes taken as bytes).
std::string FromStoredBlob(const BYTE* blob, DWORD size) {
    if (!blob || size == 0) return {};
    if (size % 2) return std::string(reinterpret_cast<const char*>(blob), size);
    std::wstring wide(reinterpret_cast<const wchar_t*>(blob), size / 2);
    std::string s = Utf8(wide.data(), wide.size());
    SecureZeroMemory(wide.data(), wide.size() * sizeof(wchar_t));
    return s;
}

// Closes the credential dialog of `thread` when `abort` is set: the dialog's own loop cannot
// see our events.
struct TPromptWatch {
    HANDLE Abort;
    HANDLE Done;
    DWORD Thread;
};

BOOL CALLBACK CancelWindow(HWND window, LPARAM) {
    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    return TRUE;
}

DWORD WINAPI WatchPrompt(void* argument) {
    const auto* watch = static_cast<const TPromptWatch*>(argument);
    const HANDLE handles[2] = {watch->Done, watch->Abort};
    while (WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        EnumThreadWindows(watch->Thread, CancelWindow, 0);
        if (WaitForSingleObject(watch->Done, 200) == WAIT_OBJECT_0) break;
    }
    return 0;
}

// The credential dialog's library, loaded when first asked for.
BOOL ConfirmCredentials(const std::wstring& target, BOOL confirm) {
    static const auto call = SystemFunction<decltype(&CredUIConfirmCredentialsW)>(
        "credui.dll", "CredUIConfirmCredentialsW");
    return call ? call(target.c_str(), confirm) : FALSE;
}

} // namespace

void SetPromptOwner(HWND owner) {
    Owner = owner;
}

std::unique_ptr<TSspiExchange> SystemSspi(TAuthScheme scheme, const std::string& host) {
    if (scheme == TAuthScheme::Basic) return nullptr;
    return std::make_unique<TSystemSspi>(scheme == TAuthScheme::Negotiate ? "Negotiate" : "NTLM",
                                         "HTTP/" + host);
}

TPromptCall SystemPrompt() {
    static const auto call =
        SystemFunction<TPromptCall>("credui.dll", "CredUIPromptForCredentialsW");
    return call;
}

TProxyCredentials::TProxyCredentials(TProxyServer proxy, bool named, TPromptCall (*prompt)())
    : Server(std::move(proxy)), Named(named), PromptCall(prompt) {
    InitializeCriticalSection(&Lock);
    PromptDone = CreateEventA(nullptr, TRUE, TRUE, nullptr);
}

TProxyCredentials::~TProxyCredentials() {
    if (Current) Wipe(Current->Authorization);
    CloseHandle(PromptDone);
    DeleteCriticalSection(&Lock);
}

std::string TProxyCredentials::Target() const {
    return Server.Host + ":" + std::to_string(Server.Port);
}

bool TProxyCredentials::Spent(TAuthScheme scheme) {
    TLocked l(Lock);
    return SpentScheme[static_cast<int>(scheme)];
}

void TProxyCredentials::Spend(TAuthScheme scheme) {
    TLocked l(Lock);
    SpentScheme[static_cast<int>(scheme)] = true;
}

void TProxyCredentials::SpentSchemes(bool (&spent)[AuthSchemeCount]) {
    TLocked l(Lock);
    for (int i = 0; i < AuthSchemeCount; ++i)
        spent[i] = SpentScheme[i];
}

std::optional<TProxyCredentials::TBasic> TProxyCredentials::Working() {
    TLocked l(Lock);
    if (Current && Confirmed) return Current;
    return std::nullopt;
}

std::optional<TProxyCredentials::TBasic> TProxyCredentials::Basic(uint32_t refused, HANDLE abort,
                                                                  bool& aborted, bool mayPrompt) {
    aborted = false;
    EnterCriticalSection(&Lock);
    if (Current && Current->Generation == RefusedGeneration) refused = RefusedGeneration;
    for (;;) {
        if (Current && Current->Generation != refused) {
            const TBasic basic = *Current;
            LeaveCriticalSection(&Lock);
            return basic;
        }
        // Without a prompt of its own, nothing is to be had from another's either.
        if (!Prompting || !mayPrompt) break;
        // Another connection is asking the user: its answer serves this one too.
        LeaveCriticalSection(&Lock);
        const HANDLE handles[2] = {PromptDone, abort};
        if (WaitForMultipleObjects(abort ? 2 : 1, handles, FALSE, INFINITE) != WAIT_OBJECT_0) {
            aborted = true;
            return std::nullopt;
        }
        EnterCriticalSection(&Lock);
    }
    if (!mayPrompt && StoreRead) {
        // What the system has was offered already: the rest is the user's to give.
        LeaveCriticalSection(&Lock);
        return std::nullopt;
    }
    const bool fromPrompt = CurrentFromPrompt && Current;
    if (Current) Wipe(Current->Authorization);
    Current.reset();
    if (!StoreRead) {
        StoreRead = true;
        for (const std::string& target : {Target(), Named ? Server.Host : Target()}) {
            PCREDENTIALW stored = nullptr;
            if (!CredReadW(Wide(target).c_str(), CRED_TYPE_GENERIC, 0, &stored)) continue;
            std::string password =
                FromStoredBlob(stored->CredentialBlob, stored->CredentialBlobSize);
            Current = TBasic{
                BasicAuthorization(Utf8(Unqualified(stored->UserName, Wide(target))), password),
                ++LastGeneration};
            Wipe(password);
            CredFree(stored);
            CurrentFromPrompt = false;
            Confirmed = false;
            const TBasic basic = *Current;
            LeaveCriticalSection(&Lock);
            return basic;
        }
    }
    if (!mayPrompt) {
        LeaveCriticalSection(&Lock);
        return std::nullopt;
    }
    if (Exhausted || Prompts >= MaxPrompts) {
        Exhausted = true;
        LeaveCriticalSection(&Lock);
        if (fromPrompt) ConfirmCredentials(Wide(Target()), FALSE);
        return std::nullopt;
    }
    ++Prompts;
    Prompting = true;
    ResetEvent(PromptDone);
    LeaveCriticalSection(&Lock);
    if (fromPrompt) ConfirmCredentials(Wide(Target()), FALSE);
    auto answer = Prompt(refused != 0, abort, aborted);
    TLocked l(Lock);
    Prompting = false;
    SetEvent(PromptDone);
    if (!answer) {
        // Cancelled, or nobody to ask: this proxy's Basic is done for the task. A stop is not
        // an answer: the next task may ask again.
        if (!aborted) Exhausted = true;
        return std::nullopt;
    }
    Current = TBasic{BasicAuthorization(answer->User, answer->Password), ++LastGeneration};
    Wipe(answer->Password);
    CurrentFromPrompt = true;
    Confirmed = false;
    return Current;
}

void TProxyCredentials::Refused(uint32_t generation) {
    TLocked l(Lock);
    if (Current && Current->Generation == generation && !Confirmed) RefusedGeneration = generation;
}

void TProxyCredentials::Accepted(uint32_t generation) {
    bool confirm = false;
    {
        TLocked l(Lock);
        if (!Current || Current->Generation != generation || Confirmed) return;
        Confirmed = true;
        confirm = CurrentFromPrompt;
    }
    // Kept by the dialog until now; stored only if the user ticked the box.
    if (confirm) ConfirmCredentials(Wide(Target()), TRUE);
}

std::optional<TProxyCredentials::TPromptAnswer> TProxyCredentials::Prompt(bool again, HANDLE abort,
                                                                          bool& aborted) {
    const HWND owner = Owner;
    if (!owner || !IsWindow(owner)) return std::nullopt;
    // The wide calls: not every system has the dialog's ANSI one.
    const std::wstring target = Wide(Target());
    const std::wstring message = FromOurText("代理服务器 " + Target() + " 需要用户名和密码。");
    const std::wstring caption = FromOurText("代理服务器需要身份验证");
    CREDUI_INFOW info{sizeof info, owner, message.c_str(), caption.c_str(), nullptr};
    wchar_t user[CREDUI_MAX_USERNAME_LENGTH + 1] = {};
    wchar_t password[CREDUI_MAX_PASSWORD_LENGTH + 1] = {};
    BOOL save = FALSE;
    DWORD flags = CREDUI_FLAGS_GENERIC_CREDENTIALS | CREDUI_FLAGS_ALWAYS_SHOW_UI |
                  CREDUI_FLAGS_SHOW_SAVE_CHECK_BOX | CREDUI_FLAGS_EXPECT_CONFIRMATION;
    if (again) flags |= CREDUI_FLAGS_INCORRECT_PASSWORD;
    // Before the watcher: it reads what lives on this frame until it is told the dialog ended.
    const TPromptCall prompt = PromptCall();
    if (!prompt) return std::nullopt;
    TPromptWatch watch{abort, CreateEventA(nullptr, TRUE, FALSE, nullptr), GetCurrentThreadId()};
    HANDLE watcher =
        abort && watch.Done ? CreateThread(nullptr, 0, WatchPrompt, &watch, 0, nullptr) : nullptr;
    const DWORD result =
        prompt(&info, target.c_str(), nullptr, 0, user, CREDUI_MAX_USERNAME_LENGTH + 1, password,
               CREDUI_MAX_PASSWORD_LENGTH + 1, &save, flags);
    if (watch.Done) SetEvent(watch.Done);
    if (watcher) {
        WaitForSingleObject(watcher, INFINITE);
        CloseHandle(watcher);
    }
    if (watch.Done) CloseHandle(watch.Done);
    aborted = abort && WaitForSingleObject(abort, 0) == WAIT_OBJECT_0;
    std::optional<TPromptAnswer> answer;
    if (result == NO_ERROR && !aborted)
        answer = TPromptAnswer{Utf8(Unqualified(user, target)), Utf8(password), save != FALSE};
    SecureZeroMemory(password, sizeof password);
    return answer;
}

TProxyHandshake::TProxyHandshake(TProxyCredentials& credentials, const TSspiFactory& sspi,
                                 bool mayPrompt)
    : Credentials(credentials), Sspi(sspi), MayPrompt(mayPrompt) {
    // Basic that worked on another connection goes with the first request: no 407 first.
    if (const auto basic = Credentials.Working()) {
        Current = TAuthScheme::Basic;
        BasicGeneration = basic->Generation;
        StandingValue = basic->Authorization;
    }
}

std::optional<std::string> TProxyHandshake::Answer(const THeaders& head, HANDLE abort,
                                                   bool& aborted) {
    aborted = false;
    if (++Rounds > MaxRounds) return std::nullopt;
    const std::vector<TChallenge> offered = ParseChallenges(head);
    uint32_t refused = 0;
    if (Current && *Current != TAuthScheme::Basic && Context) {
        // The proxy's next message of an exchange under way, or its refusal of our logon.
        if (const TChallenge* c = FindChallenge(offered, *Current); c && !c->Token.empty()) {
            if (const auto input = Base64Decode(c->Token))
                if (const auto out = Context->Step(*input); out && !out->empty())
                    return std::string(SchemeName(*Current)) + " " +
                           Base64Encode(out->data(), out->size());
        }
        Spend(*Current);
    } else if (Current == TAuthScheme::Basic) {
        refused = BasicGeneration;
    }
    Context.reset();
    Current.reset();
    Wipe(StandingValue);
    for (;;) {
        bool spent[AuthSchemeCount];
        Credentials.SpentSchemes(spent);
        for (int i = 0; i < AuthSchemeCount; ++i)
            spent[i] = spent[i] || OwnSpent[i];
        const auto next = NextScheme(offered, spent);
        if (!next) return std::nullopt;
        if (*next == TAuthScheme::Basic) {
            const auto basic = Credentials.Basic(refused, abort, aborted, MayPrompt);
            if (!basic) {
                if (!aborted && MayPrompt) Credentials.Spend(TAuthScheme::Basic);
                return std::nullopt;
            }
            Current = TAuthScheme::Basic;
            BasicGeneration = basic->Generation;
            StandingValue = basic->Authorization;
            return StandingValue;
        }
        if (Sspi) Context = Sspi(*next, Credentials.Proxy().Host);
        const auto out = Context ? Context->Step({}) : std::nullopt;
        if (!out || out->empty()) {
            // No such package, or no logon it can offer, for any connection: the next scheme.
            Credentials.Spend(*next);
            Context.reset();
            continue;
        }
        Current = next;
        return std::string(SchemeName(*next)) + " " + Base64Encode(out->data(), out->size());
    }
}

// A connection that may not prompt (the https try) spends only its own: a proxy that turns its
// logon away may still take it from the task's other connections, which sign on without asking
// the user where this one failed.
void TProxyHandshake::Spend(TAuthScheme scheme) {
    if (MayPrompt)
        Credentials.Spend(scheme);
    else
        OwnSpent[static_cast<int>(scheme)] = true;
}

void TProxyHandshake::Succeeded() {
    Rounds = 0;
    if (Current == TAuthScheme::Basic) Credentials.Accepted(BasicGeneration);
}

void TProxyHandshake::Unanswered() {
    Rounds = 0;
    if (!Current) return;
    if (*Current == TAuthScheme::Basic)
        Credentials.Refused(BasicGeneration);
    else
        Spend(*Current);
    Context.reset();
    Current.reset();
    Wipe(StandingValue);
}

void TProxyHandshake::ConnectionClosed() {
    if (Current && *Current != TAuthScheme::Basic) {
        Context.reset();
        Current.reset();
    }
}

} // namespace xldl
