// TLS over a connected socket, through Schannel. The server's certificate chain is built by
// the system from its trusted roots and checked for validity, usage and the host name we asked
// for; a session whose check fails never carries a byte of ours. There is no way to accept a
// certificate that does not verify: no option, no flag, no fallback to plain HTTP.
//
// Versions: TLS 1.3 where the system has it, else TLS 1.2, and nothing older: Windows 7 offers
// TLS 1.2 only to a program that names it, so the session always does. Messages the server
// sends after the handshake (TLS 1.3 tickets and key updates, a TLS 1.2 renegotiation) go
// back into the handshake; the server's close_notify ends the session cleanly.
#pragma once

#include "xldl/Schannel.h"
#include "xldl/Socket.h"

#include <cstdint>
#include <string>
#include <vector>

namespace xldl {

class TTlsSession {
public:
    explicit TTlsSession(TSchannel& schannel = SystemSchannel()) : Schannel(schannel) {}
    ~TTlsSession();
    TTlsSession(const TTlsSession&) = delete;
    TTlsSession& operator=(const TTlsSession&) = delete;

    // Shakes hands as a client of `host` and checks its certificate: Failed with
    // NetTlsUntrusted (CertificateStatus() tells why) or NetTlsFailed.
    TNetResult Handshake(TSocket& socket, const std::string& host, HANDLE abort, uint32_t stallMs);
    // Fails with a transient error once the server has closed the session.
    TNetResult Send(TSocket& socket, const void* data, size_t size, HANDLE abort, uint32_t stallMs);
    // Up to `size` bytes of plain text, at least one; Eof when the server has closed.
    TNetResult Receive(TSocket& socket, void* data, size_t size, HANDLE abort, uint32_t stallMs);
    // Whether the server ended the session itself (close_notify), rather than the connection
    // merely ending: only then is a body that runs to the end of the connection complete.
    bool ClosedCleanly() const { return Closed; }
    // The chain or policy error of a certificate that did not verify (CERT_E_..., or the
    // chain's trust bits when the policy had nothing to say).
    uint32_t CertificateStatus() const { return CertStatus; }
    // The version the handshake settled on (an SP_PROT_..._CLIENT bit), 0 when the system did
    // not say.
    uint32_t Protocol() const { return NegotiatedProtocol; }

private:
    bool AcquireCredentials();
    // Runs the handshake from what `In` holds until Schannel is done, reading more as it asks:
    // the first one of the session (`fresh`), or a message the server sent after it.
    // `newHandshake` tells whether the server and the session's keys may have changed.
    TNetResult Negotiate(TSocket& socket, HANDLE abort, uint32_t stallMs, bool fresh,
                         bool& newHandshake);
    // After a complete handshake: the version and the server checked, record sizes known.
    TNetResult Established();
    TNetResult ReadMore(TSocket& socket, HANDLE abort, uint32_t stallMs);

    TSchannel& Schannel;
    CredHandle Cred{};
    CtxtHandle Context{};
    bool HaveCred = false;
    bool HaveContext = false;
    std::string Host; // as the certificate must name it
    ULONG Flags = 0;  // what InitializeContext is asked for
    uint32_t CertStatus = 0;
    uint32_t NegotiatedProtocol = 0;
    SecPkgContext_StreamSizes Sizes{};
    std::vector<uint8_t> In; // records received, not yet decrypted
    size_t InCount = 0;
    std::vector<uint8_t> Plain; // decrypted, not yet handed out
    size_t PlainBegin = 0;
    size_t PlainEnd = 0;
    std::vector<uint8_t> Out; // one record being encrypted
    bool Closed = false;      // the server said close_notify
};

} // namespace xldl
