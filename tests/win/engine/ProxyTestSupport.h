// What the proxy tests share: the prefix's Internet Settings and credential store (this
// prefix is theirs alone), the squid proxies of with_squid.py, ports that nobody listens on,
// and reading the files a task leaves (its trace, its state) for what must never be in them.
#pragma once

#include "MirrorTestSupport.h"

#include "xldl/core/ProxyAuth.h"

#include <wincred.h>
#include <winsock2.h>

#include <string>
#include <vector>

namespace mirror {

constexpr const char* InternetSettingsKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// The plain values of the Internet Settings that a test sets; all gone again at its end.
class TInternetSettings {
public:
    ~TInternetSettings() { Clear(); }
    void Text(const char* name, const std::string& value) {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, InternetSettingsKey, 0, nullptr, 0,
                                  KEY_SET_VALUE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1));
        RegCloseKey(key);
    }
    void Number(const char* name, DWORD value) {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, InternetSettingsKey, 0, nullptr, 0,
                                  KEY_SET_VALUE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                       sizeof value);
        RegCloseKey(key);
    }
    // The manual proxy, with its exceptions.
    void Manual(const std::string& server, const std::string& bypass = "<local>") {
        Number("ProxyEnable", 1);
        Text("ProxyServer", server);
        Text("ProxyOverride", bypass);
    }
    // "Automatically detect settings" on, as Windows has it by default (the prefix has it off,
    // as the other tests want).
    static void Detection(bool on) {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER,
                                  (std::string(InternetSettingsKey) + "\\Connections").c_str(), 0,
                                  nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        // Version, counter, flags (1 direct, 8 detection), then three empty texts.
        BYTE blob[24] = {0x46, 0, 0, 0, 1, 0, 0, 0, static_cast<BYTE>(on ? 9 : 1)};
        RegSetValueExA(key, "DefaultConnectionSettings", 0, REG_BINARY, blob, sizeof blob);
        RegCloseKey(key);
    }
    static void Clear() {
        Detection(false);
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, InternetSettingsKey, 0, KEY_SET_VALUE, &key) !=
            ERROR_SUCCESS)
            return;
        for (const char* name : {"AutoConfigURL", "ProxyEnable", "ProxyServer", "ProxyOverride"})
            RegDeleteValueA(key, name);
        RegCloseKey(key);
    }
};

// Generic credentials in the current user's store, as the system's dialog keeps them (the
// password as UTF-16).
inline bool StoreCredentials(const std::string& target, const std::string& user,
                             const std::string& password) {
    std::wstring wide(password.begin(), password.end());
    CREDENTIALA c{};
    c.Type = CRED_TYPE_GENERIC;
    c.TargetName = const_cast<char*>(target.c_str());
    c.UserName = const_cast<char*>(user.c_str());
    c.CredentialBlob = reinterpret_cast<BYTE*>(wide.data());
    c.CredentialBlobSize = static_cast<DWORD>(wide.size() * sizeof(wchar_t));
    c.Persist = CRED_PERSIST_LOCAL_MACHINE;
    return CredWriteA(&c, 0) != FALSE;
}

// user:password as stored for `target`, or empty. Wine's dialog stores the user name with the
// target as its domain ("target\\user"): that part is left out.
inline std::string StoredCredentials(const std::string& target) {
    PCREDENTIALA c = nullptr;
    if (!CredReadA(target.c_str(), CRED_TYPE_GENERIC, 0, &c)) return {};
    std::string password;
    for (DWORD i = 0; i + 1 < c->CredentialBlobSize; i += 2)
        password += static_cast<char>(c->CredentialBlob[i]);
    std::string user = c->UserName ? c->UserName : "";
    if (user.rfind(target + "\\", 0) == 0) user = user.substr(target.size() + 1);
    std::string text = user + ":" + password;
    CredFree(c);
    return text;
}

inline void ForgetCredentials(const std::string& target) {
    CredDeleteA(target.c_str(), CRED_TYPE_GENERIC, 0);
}

// A port on 127.0.0.1 that nothing listens on: a proxy that is down.
inline int DeadPort() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int size = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &size);
    closesocket(s);
    return ntohs(a.sin_port);
}

inline std::string Port(const std::string& address) {
    return address.substr(address.find(':') + 1);
}

inline std::string TlsUrlFor(const std::string& path) {
    return "https://localhost:" + Port(Env("XLDL_TEST_TLS_MIRROR")) + path;
}

inline std::string FileText(const std::string& path) {
    const auto bytes = ReadFileBytes(path);
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
}

// The ways credentials could show: as typed, and as Basic sends them.
inline std::vector<std::string> SecretForms(const std::string& user, const std::string& password) {
    const std::string pair = user + ":" + password;
    return {password,
            xldl::Base64Encode(reinterpret_cast<const uint8_t*>(pair.data()), pair.size())};
}

} // namespace mirror
