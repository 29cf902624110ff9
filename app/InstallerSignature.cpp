#include "app/InstallerSignature.h"

#include "app/TimeStampInfo.h"

#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <optional>
#include <vector>

namespace {

constexpr DWORD Encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr const char* Rfc3161CounterSignOid = "1.3.6.1.4.1.311.3.3.1";
constexpr const char* LegacyCounterSignOid = "1.2.840.113549.1.9.6";
constexpr const char* TstInfoOid = "1.2.840.113549.1.9.16.1.4";
constexpr const char* MessageDigestOid = "1.2.840.113549.1.9.4";
constexpr const char* SigningTimeOid = "1.2.840.113549.1.9.5";
constexpr const char* LifetimeSigningOid = "1.3.6.1.4.1.311.10.3.13";

// Revocation is judged from what the system has already; not knowing is not a failure, being
// revoked is.
constexpr DWORD RevocationUnknown =
    CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

struct TStoreCloser {
    void operator()(HCERTSTORE s) const { CertCloseStore(s, 0); }
};
struct TCertFreer {
    void operator()(PCCERT_CONTEXT c) const { CertFreeCertificateContext(c); }
};
struct TChainFreer {
    void operator()(PCCERT_CHAIN_CONTEXT c) const { CertFreeCertificateChain(c); }
};
struct TMsgCloser {
    void operator()(HCRYPTMSG m) const { CryptMsgClose(m); }
};
struct TLocalFreer {
    void operator()(void* p) const { LocalFree(p); }
};
template <class T> using TLocal = std::unique_ptr<T, TLocalFreer>;
using TStore = std::unique_ptr<void, TStoreCloser>;
using TCert = std::unique_ptr<const CERT_CONTEXT, TCertFreer>;
using TChain = std::unique_ptr<const CERT_CHAIN_CONTEXT, TChainFreer>;
using TMsg = std::unique_ptr<void, TMsgCloser>;

// WinVerifyTrust's state, closed when done with.
class TTrustState {
public:
    TTrustState(HANDLE file, const std::wstring& path) {
        File.cbStruct = sizeof File;
        File.pcwszFilePath = path.c_str();
        File.hFile = file;
        Data.cbStruct = sizeof Data;
        Data.dwUIChoice = WTD_UI_NONE;
        Data.fdwRevocationChecks = WTD_REVOKE_NONE;
        Data.dwUnionChoice = WTD_CHOICE_FILE;
        Data.pFile = &File;
        Data.dwStateAction = WTD_STATEACTION_VERIFY;
        Data.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;
        Result = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &Action, &Data);
    }
    ~TTrustState() {
        Data.dwStateAction = WTD_STATEACTION_CLOSE;
        WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &Action, &Data);
    }
    TTrustState(const TTrustState&) = delete;
    TTrustState& operator=(const TTrustState&) = delete;

    LONG Result = 0;
    CRYPT_PROVIDER_DATA* Provider() const {
        return WTHelperProvDataFromStateData(Data.hWVTStateData);
    }

private:
    GUID Action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_FILE_INFO File{};
    WINTRUST_DATA Data{};
};

std::vector<uint8_t> MsgParam(HCRYPTMSG msg, DWORD type, DWORD index = 0) {
    DWORD size = 0;
    if (!CryptMsgGetParam(msg, type, index, nullptr, &size)) return {};
    std::vector<uint8_t> bytes(size);
    if (!CryptMsgGetParam(msg, type, index, bytes.data(), &size)) return {};
    bytes.resize(size);
    return bytes;
}

// The hash of `data` by the algorithm named by `oid`; empty when the algorithm is unknown.
std::vector<uint8_t> Hash(const char* oid, const uint8_t* data, size_t size) {
    const ALG_ID algorithm = CertOIDToAlgId(oid);
    if (GET_ALG_CLASS(algorithm) != ALG_CLASS_HASH) return {};
    BYTE hash[64];
    DWORD hashSize = sizeof hash;
    if (!CryptHashCertificate(0, algorithm, 0, data, static_cast<DWORD>(size), hash, &hashSize))
        return {};
    return {hash, hash + hashSize};
}

// A DER element of `contents`.
std::vector<uint8_t> Der(uint8_t tag, const std::vector<uint8_t>& contents) {
    std::vector<uint8_t> out{tag};
    if (contents.size() < 0x80) {
        out.push_back(static_cast<uint8_t>(contents.size()));
    } else {
        uint8_t length[sizeof(size_t)];
        size_t n = 0;
        for (size_t v = contents.size(); v; v >>= 8)
            length[n++] = static_cast<uint8_t>(v);
        out.push_back(static_cast<uint8_t>(0x80 | n));
        while (n)
            out.push_back(length[--n]);
    }
    out.insert(out.end(), contents.begin(), contents.end());
    return out;
}

std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const std::vector<uint8_t>& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The DER OBJECT IDENTIFIER of `dotted`, or nothing.
std::vector<uint8_t> DerOid(const char* dotted) {
    std::vector<uint64_t> arcs;
    for (const char* p = dotted; *p;) {
        char* end = nullptr;
        arcs.push_back(std::strtoull(p, &end, 10));
        if (end == p || (*end && *end != '.')) return {};
        p = *end ? end + 1 : end;
    }
    if (arcs.size() < 2 || arcs[0] > 2) return {};
    arcs[1] += arcs[0] * 40;
    std::vector<uint8_t> contents;
    for (size_t i = 1; i < arcs.size(); ++i) {
        uint8_t groups[10];
        size_t n = 0;
        for (uint64_t v = arcs[i]; n == 0 || v; v >>= 7)
            groups[n++] = static_cast<uint8_t>(v & 0x7F);
        while (n--)
            contents.push_back(groups[n] | (n ? 0x80 : 0));
    }
    return Der(0x06, contents);
}

// The contents of a DER element (what follows its tag and length), or nothing.
std::optional<std::pair<const uint8_t*, size_t>> DerContents(const uint8_t* p, size_t size) {
    if (size < 2) return std::nullopt;
    size_t length = p[1], header = 2;
    if (length & 0x80) {
        const size_t bytes = length & 0x7F;
        if (bytes == 0 || bytes > 4 || size < 2 + bytes) return std::nullopt;
        length = 0;
        for (size_t i = 0; i < bytes; ++i)
            length = length << 8 | p[2 + i];
        header += bytes;
    }
    if (header + length != size) return std::nullopt;
    return std::make_pair(p + header, length);
}

const CRYPT_ATTRIBUTE* FindAttribute(const CRYPT_ATTRIBUTES& attributes, const char* oid) {
    for (DWORD i = 0; i < attributes.cAttr; ++i)
        if (attributes.rgAttr[i].pszObjId && std::strcmp(attributes.rgAttr[i].pszObjId, oid) == 0)
            return &attributes.rgAttr[i];
    return nullptr;
}

// The messageDigest that the signer signed: the hash its signature vouches for.
std::vector<uint8_t> SignedDigest(const CMSG_SIGNER_INFO& signer) {
    const CRYPT_ATTRIBUTE* a = FindAttribute(signer.AuthAttrs, MessageDigestOid);
    if (!a || a->cValue != 1) return {};
    const auto contents = DerContents(a->rgValue[0].pbData, a->rgValue[0].cbData);
    if (!contents || a->rgValue[0].pbData[0] != 0x04) return {}; // an OCTET STRING
    return {contents->first, contents->first + contents->second};
}

// Whether the signed digest is that of `content`. WinVerifyTrust checks that the file's hash
// is the one in the signed content, and that the signature covers the signed attributes; under
// Wine nothing ties the two together, so a signature lifted from one file passes on another
// whose content names its own hash.
bool DigestMatches(const CMSG_SIGNER_INFO& signer, const uint8_t* content, size_t size) {
    const std::vector<uint8_t> signedDigest = SignedDigest(signer);
    const std::vector<uint8_t> actual = Hash(signer.HashAlgorithm.pszObjId, content, size);
    return !signedDigest.empty() && signedDigest == actual;
}

// The certificate in `store` that signed as `signer`, its signature over the signed
// attributes checked.
TCert VerifiedSigner(HCRYPTMSG msg, HCERTSTORE store, const CMSG_SIGNER_INFO& signer) {
    CERT_INFO wanted{};
    wanted.Issuer = signer.Issuer;
    wanted.SerialNumber = signer.SerialNumber;
    TCert cert(CertGetSubjectCertificateFromStore(store, Encoding, &wanted));
    if (!cert) return nullptr;
    CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA para{};
    para.cbSize = sizeof para;
    para.dwSignerIndex = 0;
    para.dwSignerType = CMSG_VERIFY_SIGNER_CERT;
    para.pvSigner = const_cast<CERT_CONTEXT*>(cert.get());
    if (!CryptMsgControl(msg, 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &para)) return nullptr;
    return cert;
}

FILETIME FileTimeOf(int64_t epochSeconds) {
    const uint64_t ticks = static_cast<uint64_t>(epochSeconds + 11644473600LL) * 10000000ULL;
    FILETIME t;
    t.dwLowDateTime = static_cast<DWORD>(ticks);
    t.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return t;
}

// The signingTime among `attributes` (UTCTime or GeneralizedTime), in seconds since 1970.
std::optional<int64_t> SigningTime(const CRYPT_ATTRIBUTES& attributes) {
    const CRYPT_ATTRIBUTE* a = FindAttribute(attributes, SigningTimeOid);
    if (!a || a->cValue != 1) return std::nullopt;
    FILETIME t{};
    DWORD size = sizeof t;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_CHOICE_OF_TIME, a->rgValue[0].pbData,
                             a->rgValue[0].cbData, 0, nullptr, &t, &size))
        return std::nullopt;
    const uint64_t ticks = static_cast<uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime;
    return static_cast<int64_t>(ticks / 10000000ULL) - 11644473600LL;
}

// Whether the certificate itself names `usage` among its extended key usages. A chain built
// for a usage passes a certificate that names none at all, as good for anything; a time
// stamp counts only from a certificate made for time stamping.
bool NamesUsage(PCCERT_CONTEXT cert, const char* usage) {
    const CERT_EXTENSION* e = CertFindExtension(
        szOID_ENHANCED_KEY_USAGE, cert->pCertInfo->cExtension, cert->pCertInfo->rgExtension);
    CERT_ENHKEY_USAGE* raw = nullptr;
    DWORD size = 0;
    if (!e || !CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ENHANCED_KEY_USAGE, e->Value.pbData,
                                   e->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &raw, &size))
        return false;
    const TLocal<CERT_ENHKEY_USAGE> usages(raw);
    for (DWORD i = 0; i < usages->cUsageIdentifier; ++i)
        if (std::strcmp(usages->rgpszUsageIdentifier[i], usage) == 0) return true;
    return false;
}

// The chain of `cert` for `usage` at `time` (now when null), with the certificates of
// `extra`; its error bits, revocation not known aside. No fetching: only what the system and
// the signature hold.
DWORD ChainErrors(PCCERT_CONTEXT cert, const char* usage, const FILETIME* time, HCERTSTORE extra,
                  bool authenticodePolicy) {
    LPSTR usages[] = {const_cast<LPSTR>(usage)};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT raw = nullptr;
    FILETIME at{};
    if (time) at = *time;
    if (!CertGetCertificateChain(nullptr, cert, time ? &at : nullptr, extra, &para,
                                 CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL |
                                     CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT |
                                     CERT_CHAIN_REVOCATION_CHECK_CACHE_ONLY,
                                 nullptr, &raw))
        return CERT_TRUST_IS_PARTIAL_CHAIN;
    const TChain chain(raw);
    DWORD errors = chain->TrustStatus.dwErrorStatus & ~RevocationUnknown;
    if (!errors && authenticodePolicy) {
        CERT_CHAIN_POLICY_PARA policy{};
        policy.cbSize = sizeof policy;
        policy.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
        CERT_CHAIN_POLICY_STATUS status{};
        status.cbSize = sizeof status;
        if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, chain.get(), &policy,
                                              &status) ||
            status.dwError)
            errors |= CERT_TRUST_IS_UNTRUSTED_ROOT;
    }
    return errors;
}

TSignatureVerdict VerdictOfChain(DWORD errors) {
    if (errors & CERT_TRUST_IS_REVOKED) return TSignatureVerdict::Revoked;
    if (errors & CERT_TRUST_IS_NOT_SIGNATURE_VALID) return TSignatureVerdict::Broken;
    if (errors & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN |
                  CERT_TRUST_IS_CYCLIC | CERT_TRUST_IS_EXPLICIT_DISTRUST))
        return TSignatureVerdict::Untrusted;
    if (errors & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) return TSignatureVerdict::WrongUsage;
    if (errors & CERT_TRUST_IS_NOT_TIME_VALID) return TSignatureVerdict::Expired;
    return TSignatureVerdict::Untrusted;
}

// Whether `authority` is one whose time stamps count at `time`: made for time stamping, with a
// chain for it that ends in a trusted root then.
bool StampsAt(PCCERT_CONTEXT authority, int64_t time, HCERTSTORE extra) {
    const FILETIME at = FileTimeOf(time);
    return NamesUsage(authority, szOID_PKIX_KP_TIMESTAMP_SIGNING) &&
           !ChainErrors(authority, szOID_PKIX_KP_TIMESTAMP_SIGNING, &at, extra, false);
}

// The time an RFC 3161 time stamp vouches for, if `token` is one for `signer`'s signature,
// signed by an authority whose chain (for time stamping, at that time) ends in a trusted root.
std::optional<int64_t> StampedTime(const CRYPT_ATTR_BLOB& token, const CMSG_SIGNER_INFO& signer) {
    TMsg msg(CryptMsgOpenToDecode(Encoding, 0, 0, 0, nullptr, nullptr));
    if (!msg || !CryptMsgUpdate(msg.get(), token.pbData, token.cbData, TRUE)) return std::nullopt;
    const std::vector<uint8_t> type = MsgParam(msg.get(), CMSG_INNER_CONTENT_TYPE_PARAM);
    if (type.empty() || std::strcmp(reinterpret_cast<const char*>(type.data()), TstInfoOid))
        return std::nullopt;
    std::vector<uint8_t> content = MsgParam(msg.get(), CMSG_CONTENT_PARAM);
    if (!content.empty() && content[0] == 0x04) { // the eContent's OCTET STRING itself
        const auto inner = DerContents(content.data(), content.size());
        if (!inner) return std::nullopt;
        content.assign(inner->first, inner->first + inner->second);
    }
    const auto info = ParseTimeStampInfo(content.data(), content.size());
    if (!info) return std::nullopt;
    // It stamps this very signature.
    if (Hash(info->HashAlgorithm.c_str(), signer.EncryptedHash.pbData,
             signer.EncryptedHash.cbData) != info->Hash)
        return std::nullopt;
    const std::vector<uint8_t> tokenSigner = MsgParam(msg.get(), CMSG_SIGNER_INFO_PARAM);
    if (tokenSigner.empty()) return std::nullopt;
    const auto& stamper = *reinterpret_cast<const CMSG_SIGNER_INFO*>(tokenSigner.data());
    if (!DigestMatches(stamper, content.data(), content.size())) return std::nullopt;
    const TStore store(CertOpenStore(CERT_STORE_PROV_MSG, Encoding, 0, 0, msg.get()));
    if (!store) return std::nullopt;
    const TCert authority = VerifiedSigner(msg.get(), store.get(), stamper);
    if (!authority) return std::nullopt;
    if (!StampsAt(authority.get(), info->Time, store.get())) return std::nullopt;
    return info->Time;
}

// Whether `cert` made the counter-signature `der` (a SignerInfo) over `signer`'s signature
// value. It is put back into the message the authority answered with, whose content was that
// value, and checked as the system checks any signed message.
bool CounterSignedBy(const CRYPT_ATTR_BLOB& der, const CMSG_SIGNER_INFO& stamper,
                     const CMSG_SIGNER_INFO& signer, PCCERT_CONTEXT cert) {
    std::vector<uint8_t> digestAlgorithm = DerOid(stamper.HashAlgorithm.pszObjId);
    if (digestAlgorithm.empty()) return false;
    digestAlgorithm = Der(0x31, Der(0x30, digestAlgorithm));
    const std::vector<uint8_t> value(signer.EncryptedHash.pbData,
                                     signer.EncryptedHash.pbData + signer.EncryptedHash.cbData);
    const std::vector<uint8_t> content =
        Der(0x30, Cat({DerOid(szOID_RSA_data), Der(0xA0, Der(0x04, value))}));
    const std::vector<uint8_t> signerInfos =
        Der(0x31, std::vector<uint8_t>(der.pbData, der.pbData + der.cbData));
    const std::vector<uint8_t> signedData =
        Der(0x30, Cat({{0x02, 0x01, 0x01}, digestAlgorithm, content, signerInfos}));
    const std::vector<uint8_t> message =
        Der(0x30, Cat({DerOid(szOID_RSA_signedData), Der(0xA0, signedData)}));
    TMsg msg(CryptMsgOpenToDecode(Encoding, 0, 0, 0, nullptr, nullptr));
    if (!msg ||
        !CryptMsgUpdate(msg.get(), message.data(), static_cast<DWORD>(message.size()), TRUE))
        return false;
    CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA para{};
    para.cbSize = sizeof para;
    para.dwSignerType = CMSG_VERIFY_SIGNER_CERT;
    para.pvSigner = const_cast<CERT_CONTEXT*>(cert);
    return CryptMsgControl(msg.get(), 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &para) != FALSE;
}

// The time an Authenticode PKCS #9 counter-signature vouches for, if `der` (its SignerInfo) is
// one for `signer`'s signature, by a certificate among those of `store` made for time
// stamping whose chain for it, at that time, ends in a trusted root.
std::optional<int64_t> LegacyStampedTime(const CRYPT_ATTR_BLOB& der, const CMSG_SIGNER_INFO& signer,
                                         HCERTSTORE store) {
    CMSG_SIGNER_INFO* raw = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(Encoding, PKCS7_SIGNER_INFO, der.pbData, der.cbData,
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, &raw, &size))
        return std::nullopt;
    const TLocal<CMSG_SIGNER_INFO> stamper(raw);
    // It stamps this very signature.
    if (!DigestMatches(*stamper, signer.EncryptedHash.pbData, signer.EncryptedHash.cbData))
        return std::nullopt;
    CERT_INFO wanted{};
    wanted.Issuer = stamper->Issuer;
    wanted.SerialNumber = stamper->SerialNumber;
    const TCert authority(CertGetSubjectCertificateFromStore(store, Encoding, &wanted));
    if (!authority || !CounterSignedBy(der, *stamper, signer, authority.get())) return std::nullopt;
    const std::optional<int64_t> time = SigningTime(stamper->AuthAttrs);
    if (!time || !StampsAt(authority.get(), *time, store)) return std::nullopt;
    return time;
}

// Exactly one common name in the subject, and it is `name`.
bool PublisherIs(PCCERT_CONTEXT cert, const std::wstring& name) {
    CERT_NAME_INFO* raw = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_UNICODE_NAME, cert->pCertInfo->Subject.pbData,
                             cert->pCertInfo->Subject.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr,
                             &raw, &size))
        return false;
    const TLocal<CERT_NAME_INFO> subject(raw);
    int names = 0;
    bool matches = false;
    for (DWORD i = 0; i < subject->cRDN; ++i) {
        const CERT_RDN& rdn = subject->rgRDN[i];
        for (DWORD k = 0; k < rdn.cRDNAttr; ++k) {
            const CERT_RDN_ATTR& a = rdn.rgRDNAttr[k];
            if (!a.pszObjId || std::strcmp(a.pszObjId, szOID_COMMON_NAME) != 0) continue;
            ++names;
            // Some systems count the terminating NUL, some do not; a NUL anywhere else is part
            // of the name, and no name of the maker's has one.
            const auto* text = reinterpret_cast<const wchar_t*>(a.Value.pbData);
            size_t length = a.Value.cbData / sizeof(wchar_t);
            if (length && text[length - 1] == 0) --length;
            matches = std::wstring(text, length) == name;
        }
    }
    return names == 1 && matches;
}

TSignatureVerdict VerdictOfTrust(LONG result) {
    switch (static_cast<DWORD>(result)) {
    case static_cast<DWORD>(TRUST_E_NOSIGNATURE):
    case static_cast<DWORD>(TRUST_E_SUBJECT_FORM_UNKNOWN):
    case static_cast<DWORD>(TRUST_E_PROVIDER_UNKNOWN):
        return TSignatureVerdict::Unsigned;
    case static_cast<DWORD>(CERT_E_EXPIRED):
        return TSignatureVerdict::Expired;
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
    case static_cast<DWORD>(CERT_E_CHAINING):
    case static_cast<DWORD>(TRUST_E_EXPLICIT_DISTRUST):
        return TSignatureVerdict::Untrusted;
    case static_cast<DWORD>(CERT_E_WRONG_USAGE):
        return TSignatureVerdict::WrongUsage;
    case static_cast<DWORD>(CERT_E_REVOKED):
        return TSignatureVerdict::Revoked;
    default:
        return TSignatureVerdict::Broken;
    }
}

} // namespace

TSignatureCheck VerifyInstallerSignature(HANDLE file, const std::wstring& path,
                                         const std::wstring& publisher) {
    TSignatureCheck check;
    if (file == INVALID_HANDLE_VALUE || !file) return check;
    const TTrustState trust(file, path);
    check.Detail = static_cast<uint32_t>(trust.Result);
    if (trust.Result != ERROR_SUCCESS) {
        check.Verdict = VerdictOfTrust(trust.Result);
        return check;
    }
    check.Verdict = TSignatureVerdict::Broken;
    const CRYPT_PROVIDER_DATA* provider = trust.Provider();
    if (!provider || !provider->hMsg || provider->csSigners < 1 || !provider->pasSigners ||
        !provider->pasSigners[0].psSigner)
        return check;
    const HCRYPTMSG msg = provider->hMsg;
    const CMSG_SIGNER_INFO& signer = *provider->pasSigners[0].psSigner;

    // The signed content (what names the file's hash) is what the signature vouches for. Its
    // digest covers the content's value, without its own tag and length.
    const std::vector<uint8_t> content = MsgParam(msg, CMSG_CONTENT_PARAM);
    const auto value = DerContents(content.data(), content.size());
    if (!value || !DigestMatches(signer, value->first, value->second)) return check;
    const TStore store(CertOpenStore(CERT_STORE_PROV_MSG, Encoding, 0, 0, msg));
    if (!store) return check;
    const TCert cert = VerifiedSigner(msg, store.get(), signer);
    if (!cert) return check;

    // A time stamp, of either kind, sets the time the certificate is judged at; one that does
    // not verify is not ignored, it refuses the file. With both, both must verify, and the
    // newer kind's time counts.
    bool stamped = false;
    int64_t stampedAt = 0;
    for (const bool legacy : {true, false}) {
        const CRYPT_ATTRIBUTE* a = FindAttribute(
            signer.UnauthAttrs, legacy ? LegacyCounterSignOid : Rfc3161CounterSignOid);
        if (!a) continue;
        std::optional<int64_t> time;
        if (a->cValue == 1)
            time = legacy ? LegacyStampedTime(a->rgValue[0], signer, store.get())
                          : StampedTime(a->rgValue[0], signer);
        if (!time) {
            check.Verdict = TSignatureVerdict::BadTimestamp;
            return check;
        }
        stamped = true;
        stampedAt = *time;
    }
    // A certificate for lifetime signing makes its signatures last only as long as itself,
    // time stamp or not.
    if (NamesUsage(cert.get(), LifetimeSigningOid)) stamped = false;
    check.Stamped = stamped;
    const FILETIME at = FileTimeOf(stampedAt);
    const DWORD errors = ChainErrors(cert.get(), szOID_PKIX_KP_CODE_SIGNING,
                                     stamped ? &at : nullptr, store.get(), true);
    check.Detail = errors;
    if (errors) {
        check.Verdict = VerdictOfChain(errors);
        return check;
    }
    check.Verdict = PublisherIs(cert.get(), publisher) ? TSignatureVerdict::Good
                                                       : TSignatureVerdict::OtherPublisher;
    return check;
}

const char* SignatureVerdictName(TSignatureVerdict verdict) {
    switch (verdict) {
    case TSignatureVerdict::Good:
        return "good";
    case TSignatureVerdict::Unsigned:
        return "unsigned";
    case TSignatureVerdict::Broken:
        return "broken";
    case TSignatureVerdict::BadTimestamp:
        return "bad time stamp";
    case TSignatureVerdict::Untrusted:
        return "untrusted";
    case TSignatureVerdict::WrongUsage:
        return "wrong usage";
    case TSignatureVerdict::Expired:
        return "expired";
    case TSignatureVerdict::Revoked:
        return "revoked";
    case TSignatureVerdict::OtherPublisher:
        return "other publisher";
    case TSignatureVerdict::Unreadable:
        break;
    }
    return "unreadable";
}
