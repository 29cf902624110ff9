#include "xldl/Schannel.h"

#include <wincrypt.h>

#include <cstring>

namespace xldl {

namespace {

std::wstring Wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

// The server's chain is built from the system's trusted roots for the serverAuth usage and
// must pass the SSL policy for the host name we asked for, and come out clean itself: Wine's
// policy passes chains that end in no trusted root.
uint32_t VerifyCertificate(PCCERT_CONTEXT cert, const std::string& host) {
    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[] = {serverAuth};
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof chainPara;
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!CertGetCertificateChain(nullptr, cert, nullptr, cert->hCertStore, &chainPara, 0, nullptr,
                                 &chain))
        return GetLastError();
    std::wstring name = Wide(host);
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
    uint32_t verdict = 0;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status))
        verdict = static_cast<uint32_t>(CERT_E_CHAINING);
    else if (status.dwError)
        verdict = status.dwError;
    else if (chain->TrustStatus.dwErrorStatus != CERT_TRUST_NO_ERROR)
        verdict = chain->TrustStatus.dwErrorStatus; // the policy must not be the only word
    CertFreeCertificateChain(chain);
    return verdict;
}

class TSystemSchannel final : public TSchannel {
public:
    SECURITY_STATUS AcquireCredentials(void* authData, CredHandle* cred) override {
        TimeStamp expiry;
        return AcquireCredentialsHandleA(nullptr, const_cast<char*>(UNISP_NAME_A),
                                         SECPKG_CRED_OUTBOUND, nullptr, authData, nullptr, nullptr,
                                         cred, &expiry);
    }
    SECURITY_STATUS InitializeContext(CredHandle* cred, CtxtHandle* context, const char* target,
                                      ULONG flags, SecBufferDesc* input, CtxtHandle* newContext,
                                      SecBufferDesc* output, ULONG* attributes) override {
        TimeStamp expiry;
        return InitializeSecurityContextA(cred, context, const_cast<char*>(target), flags, 0, 0,
                                          input, 0, newContext, output, attributes, &expiry);
    }
    SECURITY_STATUS Decrypt(CtxtHandle* context, SecBufferDesc* message) override {
        return DecryptMessage(context, message, 0, nullptr);
    }
    SECURITY_STATUS Encrypt(CtxtHandle* context, SecBufferDesc* message) override {
        return EncryptMessage(context, 0, message, 0);
    }
    SECURITY_STATUS QueryAttributes(CtxtHandle* context, ULONG attribute, void* buffer) override {
        return QueryContextAttributesA(context, attribute, buffer);
    }
    void DeleteContext(CtxtHandle* context) override { DeleteSecurityContext(context); }
    void FreeCredentials(CredHandle* cred) override { FreeCredentialsHandle(cred); }
    void FreeBuffer(void* buffer) override { FreeContextBuffer(buffer); }
    uint32_t VerifyServer(CtxtHandle* context, const std::string& host) override {
        PCCERT_CONTEXT cert = nullptr;
        if (QueryContextAttributesA(context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert) != SEC_E_OK ||
            !cert)
            return static_cast<uint32_t>(SEC_E_CERT_UNKNOWN);
        const uint32_t verdict = VerifyCertificate(cert, host);
        CertFreeCertificateContext(cert);
        return verdict;
    }
};

// Constant-initialised (no guard for the engine's threads to meet), stateless.
TSystemSchannel System;

} // namespace

TSchannel& SystemSchannel() {
    return System;
}

} // namespace xldl
