// TLS over a connected socket, through Schannel. The server's certificate chain is built by
// the system from its trusted roots and checked for validity, usage and the host name we asked
// for; a session whose check fails never carries a byte of ours. There is no way to accept a
// certificate that does not verify: no option, no flag, no fallback to plain HTTP.
#pragma once

#include "xldl/Socket.h"

#define SECURITY_WIN32
#include <security.h>

#include <cstdint>
#include <string>
#include <vector>

namespace xldl {

class TTlsSession {
public:
    TTlsSession() = default;
    ~TTlsSession();
    TTlsSession(const TTlsSession&) = delete;
    TTlsSession& operator=(const TTlsSession&) = delete;

    // Shakes hands as a client of `host` and checks its certificate: Failed with
    // NetTlsUntrusted (CertificateStatus() tells why) or NetTlsFailed.
    TNetResult Handshake(TSocket& socket, const std::string& host, HANDLE abort, uint32_t stallMs);
    TNetResult Send(TSocket& socket, const void* data, size_t size, HANDLE abort, uint32_t stallMs);
    // Up to `size` bytes of plain text, at least one; Eof when the server has closed.
    TNetResult Receive(TSocket& socket, void* data, size_t size, HANDLE abort, uint32_t stallMs);
    // Whether the server ended the session itself (close_notify), rather than the connection
    // merely ending: only then is a body that runs to the end of the connection complete.
    bool ClosedCleanly() const { return Closed; }
    // The chain or policy error of a certificate that did not verify (CERT_E_..., or the
    // chain's trust bits when the policy had nothing to say).
    uint32_t CertificateStatus() const { return CertStatus; }

private:
    TNetResult ReadMore(TSocket& socket, HANDLE abort, uint32_t stallMs);
    bool VerifyServer(const std::string& host);
    CredHandle Cred{};
    CtxtHandle Context{};
    bool HaveCred = false;
    bool HaveContext = false;
    uint32_t CertStatus = 0;
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
