// What a TLS session asks of the system's security stack: the Schannel calls it makes and the
// verdict on the server's certificate. The session reaches the system only through this, so
// that its handling of every status Schannel returns can be driven by a script: the Schannel
// of one system cannot show what another's does (TLS 1.3 and its post-handshake messages,
// credentials refused, versions each system offers).
#pragma once

#include <winsock2.h>
#include <windows.h>

#define SECURITY_WIN32
#include <security.h>
// SCH_CREDENTIALS and TLS_PARAMETERS are declared only under this name.
#define SCHANNEL_USE_BLACKLISTS
#include <subauth.h>
#include <schannel.h>

#include <cstdint>
#include <string>

namespace xldl {

class TSchannel {
public:
    virtual ~TSchannel() = default;

    // AcquireCredentialsHandle for an outbound Schannel client: `authData` is a SCHANNEL_CRED
    // or a SCH_CREDENTIALS (its dwVersion says which).
    virtual SECURITY_STATUS AcquireCredentials(void* authData, CredHandle* cred) = 0;
    // InitializeSecurityContext: `context` null on the first call, which fills `newContext`.
    virtual SECURITY_STATUS InitializeContext(CredHandle* cred, CtxtHandle* context,
                                              const char* target, ULONG flags, SecBufferDesc* input,
                                              CtxtHandle* newContext, SecBufferDesc* output,
                                              ULONG* attributes) = 0;
    virtual SECURITY_STATUS Decrypt(CtxtHandle* context, SecBufferDesc* message) = 0;
    virtual SECURITY_STATUS Encrypt(CtxtHandle* context, SecBufferDesc* message) = 0;
    virtual SECURITY_STATUS QueryAttributes(CtxtHandle* context, ULONG attribute, void* buffer) = 0;
    virtual void DeleteContext(CtxtHandle* context) = 0;
    virtual void FreeCredentials(CredHandle* cred) = 0;
    // Frees a token that InitializeContext allocated.
    virtual void FreeBuffer(void* buffer) = 0;
    // Whether the certificate the server presented on `context` is valid for `host` (no
    // brackets around an IPv6 address): 0 when it is, else the chain or policy error
    // (CERT_E_..., or the chain's trust bits when the policy had nothing to say).
    virtual uint32_t VerifyServer(CtxtHandle* context, const std::string& host) = 0;
};

// The system's own Schannel and certificate chain engine.
TSchannel& SystemSchannel();

} // namespace xldl
