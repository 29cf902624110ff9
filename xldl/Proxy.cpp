#include "xldl/Proxy.h"

#include "runtime/SystemLibrary.h"

#include <winhttp.h>

namespace xldl {

namespace {

std::optional<std::string> RegistryText(HKEY key, const char* name) {
    char buffer[4096];
    DWORD size = sizeof buffer - 1, type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::nullopt;
    buffer[size] = 0;
    return std::string(buffer);
}

std::string Narrow(const wchar_t* text) {
    if (!text || !*text) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, s.data(), n, nullptr, nullptr);
    return s;
}

std::wstring Wide(const std::string& text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring s(static_cast<size_t>(n > 0 ? n - 1 : 0), L'\0');
    if (n > 1) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, s.data(), n);
    return s;
}

// The Internet Settings' plain values, which Windows writes beside its connection settings
// and which some tools and policies write alone.
TProxySettings FromRegistry() {
    TProxySettings s;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER,
                      "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0,
                      KEY_READ, &key) != ERROR_SUCCESS)
        return s;
    DWORD enabled = 0, size = sizeof enabled, type = 0;
    if (RegQueryValueExA(key, "ProxyEnable", nullptr, &type, reinterpret_cast<BYTE*>(&enabled),
                         &size) == ERROR_SUCCESS &&
        type == REG_DWORD && enabled) {
        if (const auto server = RegistryText(key, "ProxyServer"))
            s.Static = ProxyFromSystem(*server, RegistryText(key, "ProxyOverride").value_or(""));
    }
    s.AutoConfigUrl = RegistryText(key, "AutoConfigURL").value_or("");
    RegCloseKey(key);
    return s;
}

// One question to WinHTTP, shared by the thread that asks and the one that waits: whichever
// lets go last frees it.
struct TJob {
    volatile LONG Refs = 2;
    HANDLE Done = nullptr;
    HMODULE Pin = nullptr; // keeps this code loaded while the thread runs
    std::wstring Url;
    std::wstring ConfigUrl;
    bool AutoDetect = false;
    bool Secure = false;
    TResolution Result;
};

void Release(TJob* job) {
    if (InterlockedDecrement(&job->Refs) == 0) {
        CloseHandle(job->Done);
        delete job;
    }
}

#define WINHTTP_CALL(name)                                                                         \
    static const auto name = SystemFunction<decltype(&::name)>("winhttp.dll", #name)

void Ask(TJob& job) {
    WINHTTP_CALL(WinHttpOpen);
    WINHTTP_CALL(WinHttpSetTimeouts);
    WINHTTP_CALL(WinHttpGetProxyForUrl);
    WINHTTP_CALL(WinHttpCloseHandle);
    if (!WinHttpOpen || !WinHttpSetTimeouts || !WinHttpGetProxyForUrl || !WinHttpCloseHandle) {
        job.Result = {TResolved::Failed, {}, ERROR_PROC_NOT_FOUND};
        return;
    }
    HINTERNET session = WinHttpOpen(L"xldl", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session) {
        job.Result = {TResolved::Failed, {}, GetLastError()};
        return;
    }
    // Bounds of its own, so that a resolver we stopped waiting for still ends soon.
    WinHttpSetTimeouts(session, 5000, 5000, 5000, 5000);
    WINHTTP_AUTOPROXY_OPTIONS options{};
    if (job.AutoDetect) {
        options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    if (!job.ConfigUrl.empty()) {
        options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = job.ConfigUrl.c_str();
    }
    WINHTTP_PROXY_INFO info{};
    BOOL ok = WinHttpGetProxyForUrl(session, job.Url.c_str(), &options, &info);
    if (!ok && GetLastError() == ERROR_WINHTTP_LOGIN_FAILURE) {
        // The script's server wants the user's logon: asked only when it says so.
        options.fAutoLogonIfChallenged = TRUE;
        ok = WinHttpGetProxyForUrl(session, job.Url.c_str(), &options, &info);
    }
    if (ok) {
        job.Result.Kind = TResolved::Routes;
        if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY)
            job.Result.Routes = ParseProxyList(Narrow(info.lpszProxy), job.Secure);
        // Nothing usable named (or DIRECT alone): direct.
        if (job.Result.Routes.empty()) job.Result.Routes.push_back(std::nullopt);
    } else {
        job.Result = {TResolved::Failed, {}, GetLastError()};
    }
    if (info.lpszProxy) GlobalFree(info.lpszProxy);
    if (info.lpszProxyBypass) GlobalFree(info.lpszProxyBypass);
    WinHttpCloseHandle(session);
}

DWORD WINAPI ResolverMain(void* argument) {
    TJob* job = static_cast<TJob*>(argument);
    const HMODULE pin = job->Pin;
    Ask(*job);
    SetEvent(job->Done);
    Release(job);
    FreeLibraryAndExitThread(pin, 0);
}

} // namespace

TProxySettings
LoadProxySettings(const std::function<std::optional<std::string>(const char*)>& environment) {
    const auto either = [&](const char* lower, const char* upper) {
        auto v = environment(lower);
        if (!v) v = environment(upper);
        return v.value_or("");
    };
    const std::string http = either("http_proxy", "HTTP_PROXY");
    const std::string https = either("https_proxy", "HTTPS_PROXY");
    TProxySettings s;
    if (!http.empty() || !https.empty()) {
        s.FromEnvironment = true;
        s.Static = ProxyFromEnvironment(http, https, either("no_proxy", "NO_PROXY"));
        return s;
    }
    // The connection settings, as WinHTTP reads them (automatic detection lives only there);
    // what they leave out, the plain values may say.
    s = FromRegistry();
    // Connection settings that say neither detection nor a script need no WinHTTP at all
    // (flags of the blob: 4 a script, 8 detection); loading it costs every start.
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER,
                      "Software\\Microsoft\\Windows\\CurrentVersion\\Internet "
                      "Settings\\Connections",
                      0, KEY_READ, &key) == ERROR_SUCCESS) {
        BYTE blob[4096] = {};
        DWORD size = sizeof blob, type = 0;
        const LONG read =
            RegQueryValueExA(key, "DefaultConnectionSettings", nullptr, &type, blob, &size);
        RegCloseKey(key);
        if (read == ERROR_SUCCESS && type == REG_BINARY && size >= 12 && (blob[8] & 0x0C) == 0)
            return s;
    }
    WINHTTP_CALL(WinHttpGetIEProxyConfigForCurrentUser);
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ie{};
    if (!WinHttpGetIEProxyConfigForCurrentUser || !WinHttpGetIEProxyConfigForCurrentUser(&ie))
        return s;
    s.AutoDetect = ie.fAutoDetect != FALSE;
    if (ie.lpszAutoConfigUrl) s.AutoConfigUrl = Narrow(ie.lpszAutoConfigUrl);
    if (ie.lpszProxy) s.Static = ProxyFromSystem(Narrow(ie.lpszProxy), Narrow(ie.lpszProxyBypass));
    for (LPWSTR text : {ie.lpszAutoConfigUrl, ie.lpszProxy, ie.lpszProxyBypass})
        if (text) GlobalFree(text);
    return s;
}

namespace {

// One question to WinHTTP on a thread of its own, waited for at most `waitMs`.
TResolution AskOnce(const TUrl& url, bool detect, const std::string& configUrl, uint32_t waitMs,
                    HANDLE abort) {
    auto* job = new TJob;
    job->Done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    job->Url = Wide(FormatUrl(url));
    job->ConfigUrl = Wide(configUrl);
    job->AutoDetect = detect;
    job->Secure = url.Secure;
    HANDLE thread = nullptr;
    if (job->Done &&
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCSTR>(reinterpret_cast<void*>(&ResolverMain)),
                           &job->Pin)) {
        thread = CreateThread(nullptr, 0, ResolverMain, job, 0, nullptr);
        if (!thread) FreeLibrary(job->Pin);
    }
    if (!thread) {
        const TResolution failed{TResolved::Failed, {}, GetLastError()};
        job->Refs = 1;
        Release(job);
        return failed;
    }
    CloseHandle(thread);
    const HANDLE handles[2] = {job->Done, abort};
    const DWORD w = WaitForMultipleObjects(abort ? 2 : 1, handles, FALSE, waitMs);
    TResolution result;
    if (w == WAIT_OBJECT_0)
        result = job->Result;
    else
        result.Kind = w == WAIT_OBJECT_0 + 1 ? TResolved::Aborted : TResolved::TimedOut;
    Release(job);
    return result;
}

} // namespace

TResolution ResolveAutomatically(const TProxySettings& settings, const TUrl& url, uint32_t waitMs,
                                 HANDLE abort) {
    if (!settings.Automatic()) return {TResolved::Failed, {}, ERROR_WINHTTP_AUTODETECTION_FAILED};
    // Detection first, then the script, each its own question: Windows takes both in one,
    // Wine refuses the pair (ERROR_INVALID_PARAMETER), and a network without a WPAD server,
    // the usual case, then still gets its script.
    TResolution detected;
    if (settings.AutoDetect) {
        detected = AskOnce(url, true, {}, waitMs, abort);
        if (detected.Kind == TResolved::Routes || detected.Kind == TResolved::Aborted ||
            settings.AutoConfigUrl.empty())
            return detected;
    }
    return AskOnce(url, false, settings.AutoConfigUrl, waitMs, abort);
}

} // namespace xldl
