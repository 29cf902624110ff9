#include "xldl/Tls.h"

#include <algorithm>
#include <cstring>

namespace xldl {

namespace {

constexpr size_t InCapacity = 64 * 1024;

constexpr ULONG ContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                               ISC_REQ_CONFIDENTIALITY | ISC_REQ_EXTENDED_ERROR |
                               ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                               ISC_REQ_MANUAL_CRED_VALIDATION;

// We check the server ourselves, with the host name; and we offer no certificate of our own.
constexpr DWORD CredentialFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;

// What no session speaks, whatever a system would allow: SSL is broken, and TLS 1.0 and 1.1
// are deprecated (a server kept up offers TLS 1.2 as well).
constexpr DWORD OldClientProtocols =
    SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT | SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT;
constexpr DWORD OldProtocols = SP_PROT_SSL2 | SP_PROT_SSL3 | SP_PROT_TLS1_0 | SP_PROT_TLS1_1;

// Post-handshake messages that may come in a row without a byte of data between them: a
// server sends a few tickets and the odd key update; endless ones would hold the connection
// without moving anything (and never wait, so no stall timer would end it).
constexpr int MaxHandshakeMessagesInARow = 64;

// A token Schannel allocated for us, sent and freed.
TNetResult SendToken(TSchannel& schannel, TSocket& socket, SecBuffer& token, HANDLE abort,
                     uint32_t stallMs) {
    TNetResult r{TNet::Ok, 0, 0};
    if (token.pvBuffer && token.cbBuffer)
        r = socket.Send(token.pvBuffer, token.cbBuffer, abort, stallMs);
    if (token.pvBuffer) schannel.FreeBuffer(token.pvBuffer);
    token.pvBuffer = nullptr;
    token.cbBuffer = 0;
    return r;
}

// A server that hangs up in the middle of a handshake may be busy, not hostile.
constexpr TNetResult HungUp{TNet::Failed, static_cast<uint32_t>(WSAECONNRESET), 0};

} // namespace

TTlsSession::~TTlsSession() {
    if (HaveContext) Schannel.DeleteContext(&Context);
    if (HaveCred) Schannel.FreeCredentials(&Cred);
}

bool TTlsSession::AcquireCredentials() {
    // TLS 1.3 comes only through SCH_CREDENTIALS, which systems before Windows 10 1809
    // refuse. Those take the old structure, in which TLS 1.2 must be named: Windows 7 offers
    // it to no program that leaves the choice to the system.
    TLS_PARAMETERS versions{};
    versions.grbitDisabledProtocols = OldClientProtocols;
    SCH_CREDENTIALS current{};
    current.dwVersion = SCH_CREDENTIALS_VERSION;
    current.dwFlags = CredentialFlags;
    current.cTlsParameters = 1;
    current.pTlsParameters = &versions;
    if (Schannel.AcquireCredentials(&current, &Cred) == SEC_E_OK) return HaveCred = true;

    SCHANNEL_CRED old{};
    old.dwVersion = SCHANNEL_CRED_VERSION;
    old.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
    old.dwFlags = CredentialFlags;
    return HaveCred = Schannel.AcquireCredentials(&old, &Cred) == SEC_E_OK;
}

TNetResult TTlsSession::ReadMore(TSocket& socket, HANDLE abort, uint32_t stallMs) {
    if (In.size() < InCapacity) In.resize(InCapacity);
    if (InCount == In.size()) return {TNet::Failed, NetTlsFailed, 0}; // a record larger than any
    const TNetResult r = socket.Receive(In.data() + InCount, In.size() - InCount, abort, stallMs);
    if (r.Kind == TNet::Ok) InCount += r.Bytes;
    return r;
}

TNetResult TTlsSession::Handshake(TSocket& socket, const std::string& host, HANDLE abort,
                                  uint32_t stallMs) {
    if (!AcquireCredentials()) return {TNet::Failed, NetTlsFailed, 0};
    Host = host;
    if (Host.size() > 2 && Host.front() == '[') Host = Host.substr(1, Host.size() - 2);
    Flags = ContextFlags;
    In.resize(InCapacity);
    InCount = 0;
    bool newHandshake = false;
    const TNetResult r = Negotiate(socket, abort, stallMs, true, newHandshake);
    if (r.Kind != TNet::Ok) return r;
    return Established();
}

TNetResult TTlsSession::Negotiate(TSocket& socket, HANDLE abort, uint32_t stallMs, bool fresh,
                                  bool& newHandshake) {
    bool first = fresh;
    for (;;) {
        SecBuffer inBuffers[2] = {{static_cast<unsigned long>(InCount), SECBUFFER_TOKEN, In.data()},
                                  {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inDesc{SECBUFFER_VERSION, 2, inBuffers};
        SecBuffer outBuffer{0, SECBUFFER_TOKEN, nullptr};
        SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &outBuffer};
        ULONG attributes = 0;
        const SECURITY_STATUS status = Schannel.InitializeContext(
            &Cred, first ? nullptr : &Context, Host.c_str(), Flags, first ? nullptr : &inDesc,
            first ? &Context : nullptr, &outDesc, &attributes);
        if (first && (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK)) HaveContext = true;
        first = false;
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            if (outBuffer.pvBuffer) Schannel.FreeBuffer(outBuffer.pvBuffer);
            const TNetResult r = ReadMore(socket, abort, stallMs);
            if (r.Kind == TNet::Eof) return HungUp;
            if (r.Kind != TNet::Ok) return r;
            continue;
        }
        if (status == SEC_I_INCOMPLETE_CREDENTIALS && !(Flags & ISC_REQ_USE_SUPPLIED_CREDS)) {
            // The server asks for a certificate of ours. We have none: go on without, from the
            // same input, and let the server decide.
            if (outBuffer.pvBuffer) Schannel.FreeBuffer(outBuffer.pvBuffer);
            Flags |= ISC_REQ_USE_SUPPLIED_CREDS;
            continue;
        }
        // A token goes out even with an error: it is the alert that tells the server why.
        const TNetResult sent = SendToken(Schannel, socket, outBuffer, abort, stallMs);
        if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED)
            return {TNet::Failed, NetTlsFailed, 0};
        if (sent.Kind != TNet::Ok) return sent;
        if (status == SEC_I_CONTINUE_NEEDED) newHandshake = true;
        // Schannel says only how much it left (no pointer): the last bytes of the input.
        if (inBuffers[1].BufferType == SECBUFFER_EXTRA && inBuffers[1].cbBuffer > 0) {
            std::memmove(In.data(), In.data() + InCount - inBuffers[1].cbBuffer,
                         inBuffers[1].cbBuffer);
            InCount = inBuffers[1].cbBuffer;
        } else {
            InCount = 0;
        }
        if (status == SEC_E_OK) return {TNet::Ok, 0, 0};
        if (InCount == 0) {
            const TNetResult r = ReadMore(socket, abort, stallMs);
            if (r.Kind == TNet::Eof) return HungUp;
            if (r.Kind != TNet::Ok) return r;
        }
    }
}

TNetResult TTlsSession::Established() {
    SecPkgContext_ConnectionInfo info{};
    if (Schannel.QueryAttributes(&Context, SECPKG_ATTR_CONNECTION_INFO, &info) == SEC_E_OK) {
        // Never settled for less than we offered, whatever the system was told elsewhere.
        if (info.dwProtocol & OldProtocols) return {TNet::Failed, NetTlsFailed, 0};
        NegotiatedProtocol = info.dwProtocol;
    }
    CertStatus = Schannel.VerifyServer(&Context, Host);
    if (CertStatus) return {TNet::Failed, NetTlsUntrusted, 0};
    if (Schannel.QueryAttributes(&Context, SECPKG_ATTR_STREAM_SIZES, &Sizes) != SEC_E_OK ||
        Sizes.cbMaximumMessage == 0)
        return {TNet::Failed, NetTlsFailed, 0};
    Out.resize(Sizes.cbHeader + Sizes.cbMaximumMessage + Sizes.cbTrailer);
    return {TNet::Ok, 0, 0};
}

TNetResult TTlsSession::Send(TSocket& socket, const void* data, size_t size, HANDLE abort,
                             uint32_t stallMs) {
    // The server's close_notify ended what it takes from us: the connection is as good as
    // dropped, and the request may go again on another.
    if (Closed) return {TNet::Failed, static_cast<uint32_t>(WSAECONNRESET), 0};
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
        const SECURITY_STATUS status = Schannel.Encrypt(&Context, &desc);
        if (status == SEC_I_CONTEXT_EXPIRED)
            return {TNet::Failed, static_cast<uint32_t>(WSAECONNRESET), 0};
        if (status != SEC_E_OK) return {TNet::Failed, NetTlsFailed, 0};
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
    int messagesInARow = 0;
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
            const SECURITY_STATUS status = Schannel.Decrypt(&Context, &desc);
            if (status == SEC_E_OK || status == SEC_I_CONTEXT_EXPIRED ||
                status == SEC_I_RENEGOTIATE) {
                const SecBuffer* plain = nullptr;
                const SecBuffer* extra = nullptr;
                for (const SecBuffer& b : buffers) {
                    if (b.BufferType == SECBUFFER_DATA) plain = &b;
                    if (b.BufferType == SECBUFFER_EXTRA) extra = &b;
                }
                // Decrypted in place: taken out before what follows is moved over it.
                if (plain && plain->cbBuffer) {
                    Plain.assign(static_cast<const uint8_t*>(plain->pvBuffer),
                                 static_cast<const uint8_t*>(plain->pvBuffer) + plain->cbBuffer);
                    PlainBegin = 0;
                    PlainEnd = plain->cbBuffer;
                    messagesInARow = 0;
                }
                if (extra && extra->cbBuffer) {
                    std::memmove(In.data(), In.data() + InCount - extra->cbBuffer, extra->cbBuffer);
                    InCount = extra->cbBuffer;
                } else {
                    InCount = 0;
                }
                if (status == SEC_I_CONTEXT_EXPIRED || (alert && !(plain && plain->cbBuffer)))
                    Closed = true; // close_notify
                if (status == SEC_I_RENEGOTIATE) {
                    // A ticket, a key update or a renegotiation: Schannel takes it (what
                    // follows it, if any, stays in the input) through the handshake.
                    if (++messagesInARow > MaxHandshakeMessagesInARow)
                        return {TNet::Failed, NetTlsFailed, 0};
                    bool newHandshake = false;
                    TNetResult r = Negotiate(socket, abort, stallMs, false, newHandshake);
                    // A new handshake may bring another certificate, version or record size.
                    if (r.Kind == TNet::Ok && newHandshake) r = Established();
                    if (r.Kind != TNet::Ok) return r;
                }
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
    }
}

} // namespace xldl
