// tls_check: how Windows (here: Wine) judges a TLS server's certificate. Test-only; the TLS
// bench (tls_bench_check.py) runs it against the mirror's TLS servers.
//
//   tls_check winhttp URL... [--proxy HOST:PORT]
//       fetches URL with WinHTTP (which verifies the certificate itself); then takes the
//       server's certificate from the connection (WINHTTP_OPTION_SERVER_CERT_CONTEXT, from a
//       second request that ignores certificate errors when the first one was refused) and
//       runs the chain and SSL policy checks on it. Each URL in turn, in one process.
//   tls_check sspi HOST:PORT NAME PATH [--proxy HOST:PORT] [--protocols 0xBITS]
//       our own Schannel handshake (SSPI, manual validation, NAME as the target name and so as
//       SNI), through a CONNECT tunnel when --proxy is given; the chain and SSL policy checks
//       for NAME; and when they pass, GET PATH over the connection. --protocols: the
//       SCHANNEL_CRED grbitEnabledProtocols (SP_PROT_*_CLIENT bits; default 0, schannel's own).
//   tls_check file CHAIN.pem NAME [CHAIN.pem NAME...]
//       the chain and SSL policy checks for a leaf (the file's first certificate), with the
//       file's other certificates as the extra store, as a server would have sent them; for
//       each pair in turn, in one process.
//   tls_check roots [--list | NAME...]
//       counts the certificates in the Root stores (current user, local machine), in their
//       registry-only parts, in AuthRoot and CA; --list names them all; NAMEs: how often each
//       is in the current user's Root store.
//
// Prints key=value pairs, one "check" line per chain verdict:
//   check chain_error=0x00000020 chain_info=0x00000100 policy=0x800b0109 policy_elem=0,1
//         elements=2 names="dl1.orlenz.com|Orlenz Other Root"
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <wincrypt.h>
#include <winhttp.h>
#define SECURITY_WIN32
#include <schannel.h>
#include <security.h>
#include <sspi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

double Now() {
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

std::wstring Wide(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

std::string Name(PCCERT_CONTEXT cert) {
    char name[256] = "";
    CertGetNameStringA(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, sizeof name);
    return name;
}

// The chain and SSL policy verdict on `cert` for `server` (empty: no name check), with
// `extra` (what the server sent) as additional store. Prints one "check" line.
// The chain of `cert` for server authentication, with `extra` as additional store; null
// (and the reason in GetLastError) when none could be built.
PCCERT_CHAIN_CONTEXT ServerAuthChain(PCCERT_CONTEXT cert, HCERTSTORE extra) {
    char oid[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[] = {oid};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!CertGetCertificateChain(nullptr, cert, nullptr, extra, &para, 0, nullptr, &chain))
        return nullptr;
    return chain;
}

// The SSL policy's verdict on `chain` for `server` (empty: no name check).
CERT_CHAIN_POLICY_STATUS SslPolicy(PCCERT_CHAIN_CONTEXT chain, const std::string& server) {
    std::wstring wide = Wide(server);
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = server.empty() ? nullptr : &wide[0];
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status))
        status.dwError = GetLastError();
    return status;
}

void CheckCertificate(PCCERT_CONTEXT cert, HCERTSTORE extra, const std::string& server) {
    const double start = Now();
    PCCERT_CHAIN_CONTEXT chain = ServerAuthChain(cert, extra);
    if (!chain) {
        std::printf("check chain_failed=0x%08lx\n", GetLastError());
        return;
    }
    const double chain_ms = Now() - start;
    const CERT_CHAIN_POLICY_STATUS status = SslPolicy(chain, server);
    std::string names;
    DWORD elements = 0;
    if (chain->cChain > 0) {
        const PCERT_SIMPLE_CHAIN simple = chain->rgpChain[0];
        elements = simple->cElement;
        for (DWORD i = 0; i < simple->cElement; ++i)
            names += (i ? "|" : "") + Name(simple->rgpElement[i]->pCertContext);
    }
    std::printf("check chain_error=0x%08lx chain_info=0x%08lx policy=0x%08lx policy_elem=%ld,%ld "
                "elements=%lu chain_ms=%.0f names=\"%s\"\n",
                chain->TrustStatus.dwErrorStatus, chain->TrustStatus.dwInfoStatus, status.dwError,
                status.lChainIndex, status.lElementIndex, elements, chain_ms, names.c_str());
    CertFreeCertificateChain(chain);
}

// --- WinHTTP -------------------------------------------------------------------------------

DWORD g_secure_flags = 0;

void CALLBACK OnStatus(HINTERNET, DWORD_PTR, DWORD status, LPVOID info, DWORD) {
    if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && info)
        g_secure_flags |= *static_cast<DWORD*>(info);
}

struct Fetch {
    DWORD error = 0;
    DWORD status = 0;
    size_t bytes = 0;
    PCCERT_CONTEXT cert = nullptr;
};

Fetch WinHttpFetch(const std::wstring& url, const std::wstring& proxy, bool ignore_errors) {
    Fetch out;
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    wchar_t host[256], path[2048];
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 2048;
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) {
        out.error = GetLastError();
        return out;
    }
    HINTERNET session =
        WinHttpOpen(L"tls_check", proxy.empty() ? WINHTTP_ACCESS_TYPE_NO_PROXY : WINHTTP_ACCESS_TYPE_NAMED_PROXY,
                    proxy.empty() ? WINHTTP_NO_PROXY_NAME : proxy.c_str(), WINHTTP_NO_PROXY_BYPASS, 0);
    WinHttpSetTimeouts(session, 60000, 60000, 60000, 60000);
    WinHttpSetStatusCallback(session, OnStatus, WINHTTP_CALLBACK_FLAG_SECURE_FAILURE, 0);
    HINTERNET connection = WinHttpConnect(session, host, parts.nPort, 0);
    HINTERNET request = WinHttpOpenRequest(connection, L"GET", path, nullptr, WINHTTP_NO_REFERER,
                                           WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
    if (ignore_errors) {
        DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                      SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
        WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
    }
    if (!request || !WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, nullptr, 0, 0, 0) ||
        !WinHttpReceiveResponse(request, nullptr)) {
        out.error = GetLastError();
    } else {
        DWORD size = sizeof out.status;
        WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, nullptr,
                            &out.status, &size, nullptr);
        char buffer[65536];
        DWORD got = 0;
        while (WinHttpReadData(request, buffer, sizeof buffer, &got) && got)
            out.bytes += got;
    }
    if (request) {
        PCCERT_CONTEXT cert = nullptr;
        DWORD size = sizeof cert;
        if (WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &cert, &size))
            out.cert = cert;
    }
    WinHttpCloseHandle(request);
    WinHttpCloseHandle(connection);
    WinHttpCloseHandle(session);
    return out;
}

int RunWinHttp(const std::string& url, const std::string& proxy) {
    const double start = Now();
    g_secure_flags = 0;
    Fetch first = WinHttpFetch(Wide(url), Wide(proxy), false);
    const double ms = Now() - start;
    std::printf("url %s\n", url.c_str());
    std::printf("winhttp error=%lu status=%lu bytes=%u secure_flags=0x%08lx ms=%.0f\n", first.error,
                first.status, static_cast<unsigned>(first.bytes), g_secure_flags, ms);
    PCCERT_CONTEXT cert = first.cert;
    const char* source = "request";
    if (!cert) {  // refused: take the certificate from a request that ignores the errors
        Fetch second = WinHttpFetch(Wide(url), Wide(proxy), true);
        std::printf("winhttp_ignoring error=%lu status=%lu bytes=%u\n", second.error,
                    second.status, static_cast<unsigned>(second.bytes));
        cert = second.cert;
        source = "ignoring_request";
    }
    if (!cert) {
        std::printf("cert none\n");
    } else {
        URL_COMPONENTS parts{};
        parts.dwStructSize = sizeof parts;
        wchar_t host[256];
        parts.lpszHostName = host;
        parts.dwHostNameLength = 256;
        WinHttpCrackUrl(Wide(url).c_str(), 0, 0, &parts);
        std::string name(host, host + wcslen(host));
        std::printf("cert from=%s subject=\"%s\"\n", source, Name(cert).c_str());
        CheckCertificate(cert, cert->hCertStore, name);
        CertFreeCertificateContext(cert);
    }
    return first.error == 0 && first.status == 200 ? 0 : 1;
}

// --- SSPI ----------------------------------------------------------------------------------

struct Socket {
    SOCKET s = INVALID_SOCKET;
    ~Socket() {
        if (s != INVALID_SOCKET) closesocket(s);
    }
    bool Connect(const std::string& address) {
        const size_t colon = address.rfind(':');
        addrinfo* found = nullptr;
        if (getaddrinfo(address.substr(0, colon).c_str(), address.substr(colon + 1).c_str(), nullptr,
                        &found) != 0)
            return false;
        s = socket(found->ai_family, SOCK_STREAM, IPPROTO_TCP);
        const bool ok = s != INVALID_SOCKET && connect(s, found->ai_addr, static_cast<int>(found->ai_addrlen)) == 0;
        freeaddrinfo(found);
        return ok;
    }
    bool Send(const void* data, size_t size) {
        const char* p = static_cast<const char*>(data);
        while (size) {
            const int n = send(s, p, static_cast<int>(size), 0);
            if (n <= 0) return false;
            p += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }
    int Receive(std::vector<char>& into) {  // appends; bytes read, 0 at the end, -1 on error
        char buffer[16384];
        const int n = recv(s, buffer, sizeof buffer, 0);
        if (n > 0) into.insert(into.end(), buffer, buffer + n);
        return n;
    }
};

// Reads an HTTP response head from a plain socket (the proxy's answer to CONNECT).
bool Tunnel(Socket& sock, const std::string& target) {
    const std::string ask = "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n\r\n";
    if (!sock.Send(ask.data(), ask.size())) return false;
    std::string head;
    char c;
    while (head.find("\r\n\r\n") == std::string::npos && recv(sock.s, &c, 1, 0) == 1)
        head += c;
    std::printf("proxy answer=\"%s\"\n", head.substr(0, head.find('\r')).c_str());
    return head.compare(0, 12, "HTTP/1.1 200") == 0 || head.compare(0, 12, "HTTP/1.0 200") == 0;
}

const char* Protocol(DWORD p) {
    switch (p) {
        case SP_PROT_TLS1_3_CLIENT: return "TLS1.3";
        case SP_PROT_TLS1_2_CLIENT: return "TLS1.2";
        case SP_PROT_TLS1_1_CLIENT: return "TLS1.1";
        case SP_PROT_TLS1_0_CLIENT: return "TLS1.0";
        default: return "other";
    }
}

int RunSspi(const std::string& address, const std::string& name, const std::string& path,
            const std::string& proxy, DWORD protocols) {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    Socket sock;
    const double start = Now();
    if (!sock.Connect(proxy.empty() ? address : proxy)) {
        std::printf("sspi connect_failed=%d\n", WSAGetLastError());
        return 1;
    }
    if (!proxy.empty() && !Tunnel(sock, address)) return 1;
    const double connected = Now();

    SCHANNEL_CRED cred{};
    cred.dwVersion = SCHANNEL_CRED_VERSION;
    cred.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    cred.grbitEnabledProtocols = protocols;  // 0: schannel's default
    CredHandle credentials;
    TimeStamp expiry;
    SECURITY_STATUS st = AcquireCredentialsHandleA(nullptr, const_cast<char*>(UNISP_NAME_A),
                                                   SECPKG_CRED_OUTBOUND, nullptr, &cred, nullptr,
                                                   nullptr, &credentials, &expiry);
    if (st != SEC_E_OK) {
        std::printf("sspi credentials=0x%08lx\n", st);
        return 1;
    }
    const DWORD want = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                       ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR |
                       ISC_REQ_MANUAL_CRED_VALIDATION;
    CtxtHandle context;
    bool have_context = false;
    std::vector<char> incoming;
    int rounds = 0;
    for (;;) {
        SecBuffer in_buffers[2] = {{static_cast<unsigned long>(incoming.size()), SECBUFFER_TOKEN, incoming.data()},
                                   {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc in{SECBUFFER_VERSION, 2, in_buffers};
        SecBuffer out_buffer{0, SECBUFFER_TOKEN, nullptr};
        SecBufferDesc out{SECBUFFER_VERSION, 1, &out_buffer};
        DWORD got_flags = 0;
        st = InitializeSecurityContextA(&credentials, have_context ? &context : nullptr,
                                        const_cast<char*>(name.c_str()), want, 0, 0,
                                        have_context ? &in : nullptr, 0, &context, &out,
                                        &got_flags, &expiry);
        have_context = true;
        ++rounds;
        if (out_buffer.cbBuffer && out_buffer.pvBuffer) {
            sock.Send(out_buffer.pvBuffer, out_buffer.cbBuffer);
            FreeContextBuffer(out_buffer.pvBuffer);
        }
        if (st == SEC_E_INCOMPLETE_MESSAGE || (st == SEC_I_CONTINUE_NEEDED && incoming.empty())) {
            if (sock.Receive(incoming) <= 0) {
                std::printf("sspi handshake=closed_by_server after=%d\n", rounds);
                return 1;
            }
            continue;
        }
        if (st == SEC_I_CONTINUE_NEEDED || st == SEC_E_OK) {
            if (in_buffers[1].BufferType == SECBUFFER_EXTRA && in_buffers[1].cbBuffer)
                incoming.erase(incoming.begin(), incoming.end() - in_buffers[1].cbBuffer);
            else
                incoming.clear();
            if (st == SEC_E_OK) break;
            continue;
        }
        std::printf("sspi handshake=0x%08lx rounds=%d\n", st, rounds);
        return 1;
    }
    const double done = Now();
    SecPkgContext_ConnectionInfo info{};
    QueryContextAttributesA(&context, SECPKG_ATTR_CONNECTION_INFO, &info);
    std::printf("sspi handshake=ok protocol=%s protocol_bits=0x%lx cipher_alg=0x%x cipher_bits=%lu "
                "connect_ms=%.0f handshake_ms=%.0f rounds=%d\n",
                Protocol(info.dwProtocol), info.dwProtocol, info.aiCipher, info.dwCipherStrength,
                connected - start, done - connected, rounds);

    PCCERT_CONTEXT cert = nullptr;
    st = QueryContextAttributesA(&context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert);
    if (st != SEC_E_OK || !cert) {
        std::printf("cert none=0x%08lx\n", st);
        return 1;
    }
    int sent_certs = 0;
    for (PCCERT_CONTEXT c = nullptr; (c = CertEnumCertificatesInStore(cert->hCertStore, c));)
        ++sent_certs;
    std::printf("cert from=sspi subject=\"%s\" store_certs=%d\n", Name(cert).c_str(), sent_certs);
    CheckCertificate(cert, cert->hCertStore, name);

    // The verdict as a client must take it: the chain's own error status AND the SSL policy
    // (Wine's SSL policy passes a partial chain: its error shows only in the chain status).
    // GET only when both pass.
    PCCERT_CHAIN_CONTEXT chain = ServerAuthChain(cert, cert->hCertStore);
    const bool trusted = chain && chain->TrustStatus.dwErrorStatus == CERT_TRUST_NO_ERROR &&
                         SslPolicy(chain, name).dwError == 0;
    std::printf("verdict %s\n", trusted ? "accepted" : "refused");
    if (chain) CertFreeCertificateChain(chain);
    CertFreeCertificateContext(cert);
    if (!trusted || path.empty()) {
        DeleteSecurityContext(&context);
        FreeCredentialsHandle(&credentials);
        return trusted ? 0 : 1;
    }

    // GET over the connection, read until the server closes.
    SecPkgContext_StreamSizes sizes{};
    QueryContextAttributesA(&context, SECPKG_ATTR_STREAM_SIZES, &sizes);
    const std::string ask = "GET " + path + " HTTP/1.1\r\nHost: " + name + "\r\nConnection: close\r\n\r\n";
    std::vector<char> message(sizes.cbHeader + ask.size() + sizes.cbTrailer);
    std::memcpy(message.data() + sizes.cbHeader, ask.data(), ask.size());
    SecBuffer parts[4] = {{sizes.cbHeader, SECBUFFER_STREAM_HEADER, message.data()},
                          {static_cast<unsigned long>(ask.size()), SECBUFFER_DATA, message.data() + sizes.cbHeader},
                          {sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, message.data() + sizes.cbHeader + ask.size()},
                          {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, parts};
    st = EncryptMessage(&context, 0, &desc, 0);
    if (st != SEC_E_OK || !sock.Send(message.data(), parts[0].cbBuffer + parts[1].cbBuffer + parts[2].cbBuffer)) {
        std::printf("sspi encrypt=0x%08lx\n", st);
        return 1;
    }
    std::string response;
    int renegotiations = 0;
    bool closed = false;
    while (!closed) {
        if (incoming.empty() && sock.Receive(incoming) <= 0) break;
        SecBuffer b[4] = {{static_cast<unsigned long>(incoming.size()), SECBUFFER_DATA, incoming.data()},
                          {0, SECBUFFER_EMPTY, nullptr}, {0, SECBUFFER_EMPTY, nullptr}, {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc d{SECBUFFER_VERSION, 4, b};
        st = DecryptMessage(&context, &d, 0, nullptr);
        if (st == SEC_E_INCOMPLETE_MESSAGE) {
            if (sock.Receive(incoming) <= 0) break;
            continue;
        }
        if (st != SEC_E_OK && st != SEC_I_RENEGOTIATE && st != SEC_I_CONTEXT_EXPIRED) {
            std::printf("sspi decrypt=0x%08lx\n", st);
            break;
        }
        std::vector<char> extra;
        for (auto& x : b) {
            if (x.BufferType == SECBUFFER_DATA) response.append(static_cast<char*>(x.pvBuffer), x.cbBuffer);
            if (x.BufferType == SECBUFFER_EXTRA)
                extra.assign(incoming.end() - x.cbBuffer, incoming.end());
        }
        incoming.swap(extra);
        if (st == SEC_I_CONTEXT_EXPIRED) closed = true;  // the server's close_notify
        if (st == SEC_I_RENEGOTIATE) ++renegotiations;   // TLS 1.3 tickets, as Windows says them
    }
    const size_t body = response.find("\r\n\r\n");
    std::printf("sspi get=\"%s\" body_bytes=%u renegotiate=%d close_notify=%d\n",
                response.substr(0, response.find('\r')).c_str(),
                static_cast<unsigned>(body == std::string::npos ? 0 : response.size() - body - 4),
                renegotiations, closed ? 1 : 0);
    DeleteSecurityContext(&context);
    FreeCredentialsHandle(&credentials);
    return 0;
}

// --- a file ----------------------------------------------------------------------------------

int RunFile(const char* path, const std::string& name) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return 2;
    std::string text;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
        text.append(buffer, n);
    std::fclose(f);
    HCERTSTORE sent = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    PCCERT_CONTEXT leaf = nullptr;
    for (size_t at = 0; (at = text.find("-----BEGIN CERTIFICATE-----", at)) != std::string::npos;) {
        const size_t end = text.find("-----END CERTIFICATE-----", at) + 25;
        const std::string pem = text.substr(at, end - at);
        at = end;
        BYTE der[8192];
        DWORD size = sizeof der;
        if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                                  der, &size, nullptr, nullptr))
            continue;
        PCCERT_CONTEXT added = nullptr;
        CertAddEncodedCertificateToStore(sent, X509_ASN_ENCODING, der, size, CERT_STORE_ADD_ALWAYS,
                                         leaf ? nullptr : &added);
        if (!leaf) leaf = added;
    }
    if (!leaf) return 2;
    std::printf("cert from=file subject=\"%s\"\n", Name(leaf).c_str());
    CheckCertificate(leaf, sent, name);
    CertFreeCertificateContext(leaf);
    CertCloseStore(sent, 0);
    return 0;
}

// --- the stores ------------------------------------------------------------------------------

int Count(HCERTSTORE store) {
    int n = 0;
    for (PCCERT_CONTEXT c = nullptr; store && (c = CertEnumCertificatesInStore(store, c));)
        ++n;
    return n;
}

int RunRoots(int argc, char** argv) {
    struct Where {
        const char* label;
        LPCSTR provider;
        DWORD flags;
    } places[] = {
        {"user_root", CERT_STORE_PROV_SYSTEM_A, CERT_SYSTEM_STORE_CURRENT_USER},
        {"machine_root", CERT_STORE_PROV_SYSTEM_A, CERT_SYSTEM_STORE_LOCAL_MACHINE},
        {"user_root_registry", CERT_STORE_PROV_SYSTEM_REGISTRY_A, CERT_SYSTEM_STORE_CURRENT_USER},
        {"machine_root_registry", CERT_STORE_PROV_SYSTEM_REGISTRY_A, CERT_SYSTEM_STORE_LOCAL_MACHINE},
        {"machine_authroot", CERT_STORE_PROV_SYSTEM_A, CERT_SYSTEM_STORE_LOCAL_MACHINE},
        {"user_ca", CERT_STORE_PROV_SYSTEM_A, CERT_SYSTEM_STORE_CURRENT_USER},
    };
    const char* names[] = {"Root", "Root", "Root", "Root", "AuthRoot", "CA"};
    int i = 0;
    for (const Where& w : places) {
        HCERTSTORE store = CertOpenStore(w.provider, 0, 0, w.flags | CERT_STORE_READONLY_FLAG,
                                         names[i++]);
        std::printf("store %s=%d\n", w.label, store ? Count(store) : -1);
        if (store && argc > 2 && std::strcmp(argv[2], "--list") == 0)
            for (PCCERT_CONTEXT c = nullptr; (c = CertEnumCertificatesInStore(store, c));)
                std::printf("  %s: %s\n", w.label, Name(c).c_str());
        if (store && std::strcmp(w.label, "user_root") == 0) {
            for (int a = 2; a < argc; ++a) {
                int hits = 0;
                for (PCCERT_CONTEXT c = nullptr; (c = CertEnumCertificatesInStore(store, c));)
                    if (Name(c) == argv[a]) ++hits;
                std::printf("found \"%s\"=%d\n", argv[a], hits);
            }
        }
        if (store) CertCloseStore(store, 0);
    }
    return 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: tls_check winhttp URL... [--proxy HOST:PORT]\n"
                 "       tls_check sspi HOST:PORT NAME PATH [--proxy HOST:PORT] [--protocols 0xBITS]\n"
                 "       tls_check file CHAIN.pem NAME [CHAIN.pem NAME...]\n"
                 "       tls_check roots [NAME...]\n");
    return 2;
}

std::string Option(int argc, char** argv, int from, const char* key) {
    for (int i = from; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], key) == 0) return argv[i + 1];
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc < 2) return Usage();
    const std::string mode = argv[1];
    if (mode == "winhttp" && argc >= 3) {
        const std::string proxy = Option(argc, argv, 3, "--proxy");
        int code = 0;
        for (int i = 2; i < argc && std::strcmp(argv[i], "--proxy") != 0; ++i)
            code |= RunWinHttp(argv[i], proxy);
        return code;
    }
    if (mode == "sspi" && argc >= 5)
        return RunSspi(argv[2], argv[3], argv[4], Option(argc, argv, 5, "--proxy"),
                       std::strtoul(Option(argc, argv, 5, "--protocols").c_str(), nullptr, 0));
    if (mode == "file" && argc >= 4 && argc % 2 == 0) {
        int code = 0;
        for (int i = 2; i + 1 < argc; i += 2)  // in one process: what an earlier chain leaves
            code |= RunFile(argv[i], argv[i + 1]);
        return code;
    }
    if (mode == "roots") return RunRoots(argc, argv);
    return Usage();
}
