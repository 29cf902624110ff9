#include "xldl/Tls.h"

#include <schannel.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstring>

namespace xldl {

namespace {

constexpr size_t InCapacity = 64 * 1024;

constexpr ULONG ContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                               ISC_REQ_CONFIDENTIALITY | ISC_REQ_EXTENDED_ERROR |
                               ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                               ISC_REQ_MANUAL_CRED_VALIDATION;

std::wstring Wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

// A token Schannel allocated for us, sent and freed.
TNetResult SendToken(TSocket& socket, SecBuffer& token, HANDLE abort, uint32_t stallMs) {
    TNetResult r{TNet::Ok, 0, 0};
    if (token.pvBuffer && token.cbBuffer)
        r = socket.Send(token.pvBuffer, token.cbBuffer, abort, stallMs);
    if (token.pvBuffer) FreeContextBuffer(token.pvBuffer);
    token.pvBuffer = nullptr;
    token.cbBuffer = 0;
    return r;
}

} // namespace

TTlsSession::~TTlsSession() {
    if (HaveContext) DeleteSecurityContext(&Context);
    if (HaveCred) FreeCredentialsHandle(&Cred);
}

TNetResult TTlsSession::ReadMore(TSocket& socket, HANDLE abort, uint32_t stallMs) {
    if (In.size() < InCapacity) In.resize(InCapacity);
    if (InCount == In.size()) return {TNet::Failed, NetTlsFailed, 0}; // a record larger than any
    return socket.Receive(In.data() + InCount, In.size() - InCount, abort, stallMs);
}

TNetResult TTlsSession::Handshake(TSocket& socket, const std::string& host, HANDLE abort,
                                  uint32_t stallMs) {
    SCHANNEL_CRED cred{};
    cred.dwVersion = SCHANNEL_CRED_VERSION;
    // We check the server ourselves, below, with the host name; and we offer no certificate.
    cred.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    TimeStamp expiry;
    if (AcquireCredentialsHandleA(nullptr, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND,
                                  nullptr, &cred, nullptr, nullptr, &Cred, &expiry) != SEC_E_OK)
        return {TNet::Failed, NetTlsFailed, 0};
    HaveCred = true;

    std::string target = host;
    if (target.size() > 2 && target.front() == '[') target = target.substr(1, target.size() - 2);
    In.resize(InCapacity);
    InCount = 0;
    bool first = true;
    for (;;) {
        SecBuffer inBuffers[2] = {{static_cast<unsigned long>(InCount), SECBUFFER_TOKEN, In.data()},
                                  {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inDesc{SECBUFFER_VERSION, 2, inBuffers};
        SecBuffer outBuffer{0, SECBUFFER_TOKEN, nullptr};
        SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &outBuffer};
        ULONG attributes = 0;
        const SECURITY_STATUS status =
            InitializeSecurityContextA(&Cred, first ? nullptr : &Context, target.data(),
                                       ContextFlags, 0, 0, first ? nullptr : &inDesc, 0,
                                       first ? &Context : nullptr, &outDesc, &attributes, &expiry);
        if (first && (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK)) HaveContext = true;
        first = false;
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            if (outBuffer.pvBuffer) FreeContextBuffer(outBuffer.pvBuffer);
            const TNetResult r = ReadMore(socket, abort, stallMs);
            if (r.Kind == TNet::Eof) return {TNet::Failed, static_cast<uint32_t>(WSAECONNRESET), 0};
            if (r.Kind != TNet::Ok) return r;
            InCount += r.Bytes;
            continue;
        }
        // A token goes out even with an error: it is the alert that tells the server why.
        const TNetResult sent = SendToken(socket, outBuffer, abort, stallMs);
        if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED)
            return {TNet::Failed, NetTlsFailed, 0};
        if (sent.Kind != TNet::Ok) return sent;
        if (inBuffers[1].BufferType == SECBUFFER_EXTRA && inBuffers[1].cbBuffer > 0) {
            std::memmove(In.data(), In.data() + InCount - inBuffers[1].cbBuffer,
                         inBuffers[1].cbBuffer);
            InCount = inBuffers[1].cbBuffer;
        } else if (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK) {
            InCount = 0;
        }
        if (status == SEC_E_OK) break;
        if (InCount == 0) {
            const TNetResult r = ReadMore(socket, abort, stallMs);
            // A server that hangs up in the middle of the handshake may be busy, not hostile.
            if (r.Kind == TNet::Eof) return {TNet::Failed, static_cast<uint32_t>(WSAECONNRESET), 0};
            if (r.Kind != TNet::Ok) return r;
            InCount += r.Bytes;
        }
    }
    if (!VerifyServer(host)) return {TNet::Failed, NetTlsUntrusted, 0};
    if (QueryContextAttributesA(&Context, SECPKG_ATTR_STREAM_SIZES, &Sizes) != SEC_E_OK)
        return {TNet::Failed, NetTlsFailed, 0};
    Out.resize(Sizes.cbHeader + Sizes.cbMaximumMessage + Sizes.cbTrailer);
    return {TNet::Ok, 0, 0};
}

bool TTlsSession::VerifyServer(const std::string& host) {
    PCCERT_CONTEXT cert = nullptr;
    if (QueryContextAttributesA(&Context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert) != SEC_E_OK ||
        !cert) {
        CertStatus = static_cast<uint32_t>(SEC_E_CERT_UNKNOWN);
        return false;
    }
    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[] = {serverAuth};
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof chainPara;
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    bool trusted = false;
    if (CertGetCertificateChain(nullptr, cert, nullptr, cert->hCertStore, &chainPara, 0, nullptr,
                                &chain)) {
        std::wstring name = Wide(host);
        if (name.size() > 2 && name.front() == L'[') name = name.substr(1, name.size() - 2);
        SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl;
        std::memset(&ssl, 0, sizeof ssl);
        ssl.cbStruct = sizeof ssl;
        ssl.dwAuthType = AUTHTYPE_SERVER;
        ssl.pwszServerName = name.data();
        CERT_CHAIN_POLICY_PARA policy{};
        policy.cbSize = sizeof policy;
        policy.pvExtraPolicyPara = &ssl;
        CERT_CHAIN_POLICY_STATUS status{};
        status.cbSize = sizeof status;
        if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status))
            CertStatus = static_cast<uint32_t>(CERT_E_CHAINING);
        else if (status.dwError)
            CertStatus = status.dwError;
        else if (chain->TrustStatus.dwErrorStatus != CERT_TRUST_NO_ERROR)
            CertStatus = chain->TrustStatus.dwErrorStatus; // the policy must not be the only word
        else
            trusted = true;
        CertFreeCertificateChain(chain);
    } else {
        CertStatus = GetLastError();
    }
    CertFreeCertificateContext(cert);
    return trusted;
}

TNetResult TTlsSession::Send(TSocket& socket, const void* data, size_t size, HANDLE abort,
                             uint32_t stallMs) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const size_t n = std::min<size_t>(size, Sizes.cbMaximumMessage);
        std::memcpy(Out.data() + Sizes.cbHeader, p, n);
        SecBuffer buffers[4] = {
            {Sizes.cbHeader, SECBUFFER_STREAM_HEADER, Out.data()},
            {static_cast<unsigned long>(n), SECBUFFER_DATA, Out.data() + Sizes.cbHeader},
            {Sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, Out.data() + Sizes.cbHeader + n},
            {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        if (EncryptMessage(&Context, 0, &desc, 0) != SEC_E_OK)
            return {TNet::Failed, NetTlsFailed, 0};
        const TNetResult r =
            socket.Send(Out.data(), buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer,
                        abort, stallMs);
        if (r.Kind != TNet::Ok) return r;
        p += n;
        size -= n;
    }
    return {TNet::Ok, 0, 0};
}

TNetResult TTlsSession::Receive(TSocket& socket, void* data, size_t size, HANDLE abort,
                                uint32_t stallMs) {
    // Records without plain text in them (empty ones, sent without end) are no progress: the
    // stall time runs over all of them, and the abort is seen between them (looked at only
    // once a call has taken a while: a look costs a system call).
    const DWORD since = GetTickCount();
    for (;;) {
        if (PlainBegin < PlainEnd) {
            const size_t n = std::min(size, PlainEnd - PlainBegin);
            std::memcpy(data, Plain.data() + PlainBegin, n);
            PlainBegin += n;
            return {TNet::Ok, 0, static_cast<uint32_t>(n)};
        }
        if (Closed) return {TNet::Eof, 0, 0};
        if (InCount > 0) {
            // Wine's Schannel hands the server's close_notify back as a record without data
            // (SEC_E_OK) where Windows says SEC_I_CONTEXT_EXPIRED; the record's type, sent in
            // the clear, tells an alert from data.
            const bool alert = In[0] == 21;
            SecBuffer buffers[4] = {
                {static_cast<unsigned long>(InCount), SECBUFFER_DATA, In.data()},
                {0, SECBUFFER_EMPTY, nullptr},
                {0, SECBUFFER_EMPTY, nullptr},
                {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
            const SECURITY_STATUS status = DecryptMessage(&Context, &desc, 0, nullptr);
            if (status == SEC_E_OK || status == SEC_I_CONTEXT_EXPIRED) {
                const SecBuffer* plain = nullptr;
                const SecBuffer* extra = nullptr;
                for (const SecBuffer& b : buffers) {
                    if (b.BufferType == SECBUFFER_DATA) plain = &b;
                    if (b.BufferType == SECBUFFER_EXTRA) extra = &b;
                }
                if (plain && plain->cbBuffer) {
                    Plain.assign(static_cast<const uint8_t*>(plain->pvBuffer),
                                 static_cast<const uint8_t*>(plain->pvBuffer) + plain->cbBuffer);
                    PlainBegin = 0;
                    PlainEnd = plain->cbBuffer;
                }
                if (extra && extra->cbBuffer) {
                    std::memmove(In.data(), In.data() + InCount - extra->cbBuffer, extra->cbBuffer);
                    InCount = extra->cbBuffer;
                } else {
                    InCount = 0;
                }
                if (status == SEC_I_CONTEXT_EXPIRED || (alert && !(plain && plain->cbBuffer)))
                    Closed = true; // close_notify
                continue;
            }
            if (status != SEC_E_INCOMPLETE_MESSAGE) return {TNet::Failed, NetTlsFailed, 0};
        }
        const DWORD spent = GetTickCount() - since;
        if (spent >= stallMs) return {TNet::Stalled, 0, 0};
        if (spent >= 50 && abort && WaitForSingleObject(abort, 0) == WAIT_OBJECT_0)
            return {TNet::Aborted, 0, 0};
        const TNetResult r = ReadMore(socket, abort, stallMs - spent);
        if (r.Kind != TNet::Ok) return r;
        InCount += r.Bytes;
    }
}

} // namespace xldl
