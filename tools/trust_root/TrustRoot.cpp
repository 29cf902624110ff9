// trust_root: puts a root certificate into a Root certificate store of this Windows (in our
// case: of this Wine prefix) or takes it out again. Nothing outside the prefix changes.
//
//   trust_root add    CERT [--machine] [--store NAME]   trust it (already trusted: says so)
//   trust_root remove CERT [--machine] [--store NAME]   stop trusting it (not trusted: says so)
//   trust_root check  CERT [--machine] [--store NAME]   exit 0 when trusted, 1 when not
//
// CERT is a DER or PEM file. The store is the registry part of the current user's Root store
// (HKCU\Software\Microsoft\SystemCertificates\Root\Certificates), or with --machine the
// local machine's (HKLM\...); --store names another system store (CA: intermediates).
// Prints one line: what it did, the certificate's subject and SHA-1 thumbprint.
//
// Why the registry store and not the "Root" system store: in Wine 8 the system store is a
// collection (the registry part, the host's /etc/ssl/certs/ca-certificates.crt read at open
// time, Wine's built-in roots), and a certificate deleted through the collection comes back:
// the deletion is not written to the registry. Through the registry store it is.
// Exit codes: 0 done (or trusted, for check), 1 not trusted (check), 2 usage or failure.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<BYTE> ReadWhole(const char* path) {
    std::vector<BYTE> bytes;
    FILE* f = std::fopen(path, "rb");
    if (!f) return bytes;
    BYTE buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
        bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(f);
    return bytes;
}

// The DER bytes of the first certificate in a DER or PEM file.
std::vector<BYTE> Der(const std::vector<BYTE>& file) {
    static const char kPem[] = "-----BEGIN CERTIFICATE-----";
    const std::string text(file.begin(), file.end());
    const size_t begin = text.find(kPem);
    if (begin == std::string::npos) return file;
    const size_t end = text.find("-----END CERTIFICATE-----", begin);
    if (end == std::string::npos) return {};
    const std::string pem = text.substr(begin, end + 25 - begin);
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                              nullptr, &size, nullptr, nullptr))
        return {};
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                              der.data(), &size, nullptr, nullptr))
        return {};
    der.resize(size);
    return der;
}

std::string Describe(PCCERT_CONTEXT cert) {
    char subject[512] = "";
    CertGetNameStringA(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, subject, sizeof subject);
    BYTE hash[20];
    DWORD size = sizeof hash;
    std::string text = std::string("\"") + subject + "\" sha1=";
    if (CertGetCertificateContextProperty(cert, CERT_SHA1_HASH_PROP_ID, hash, &size)) {
        char hex[3];
        for (DWORD i = 0; i < size; ++i) {
            std::snprintf(hex, sizeof hex, "%02x", hash[i]);
            text += hex;
        }
    }
    return text;
}

int Usage() {
    std::fprintf(stderr, "usage: trust_root add|remove|check CERT [--machine] [--store NAME]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string action = argv[1];
    bool machine = false;
    std::wstring store_name = L"Root";
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--machine") == 0) {
            machine = true;
        } else if (std::strcmp(argv[i], "--store") == 0 && i + 1 < argc) {
            const std::string name = argv[++i];
            store_name.assign(name.begin(), name.end());
        } else {
            return Usage();
        }
    }
    if (action != "add" && action != "remove" && action != "check") return Usage();

    const std::vector<BYTE> der = Der(ReadWhole(argv[2]));
    PCCERT_CONTEXT cert = der.empty() ? nullptr
                                      : CertCreateCertificateContext(
                                            X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(),
                                            static_cast<DWORD>(der.size()));
    if (!cert) {
        std::fprintf(stderr, "trust_root: %s holds no certificate (error %lu)\n", argv[2],
                     GetLastError());
        return 2;
    }
    const std::string where = std::string(machine ? "LocalMachine\\" : "CurrentUser\\") +
                              std::string(store_name.begin(), store_name.end());
    HCERTSTORE store = CertOpenStore(
        CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
        machine ? CERT_SYSTEM_STORE_LOCAL_MACHINE : CERT_SYSTEM_STORE_CURRENT_USER,
        store_name.c_str());
    if (!store) {
        std::fprintf(stderr, "trust_root: cannot open %s (error %lu)\n", where.c_str(), GetLastError());
        CertFreeCertificateContext(cert);
        return 2;
    }
    PCCERT_CONTEXT found = CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                      0, CERT_FIND_EXISTING, cert, nullptr);
    int code = 0;
    const std::string name = Describe(cert);
    if (action == "check") {
        std::printf("%s %s in %s\n", found ? "trusted" : "not trusted", name.c_str(), where.c_str());
        code = found ? 0 : 1;
    } else if (action == "add") {
        if (found) {
            std::printf("already trusted %s in %s\n", name.c_str(), where.c_str());
        } else if (CertAddCertificateContextToStore(store, cert, CERT_STORE_ADD_NEW, nullptr)) {
            std::printf("trusted %s in %s\n", name.c_str(), where.c_str());
        } else {
            std::fprintf(stderr, "trust_root: adding to %s failed (error 0x%08lx)\n", where.c_str(),
                         GetLastError());
            code = 2;
        }
    } else if (!found) {
        std::printf("was not trusted %s in %s\n", name.c_str(), where.c_str());
    } else {
        // CertDeleteCertificateFromStore frees the context it is given, even on failure.
        const PCCERT_CONTEXT doomed = found;
        found = nullptr;
        if (CertDeleteCertificateFromStore(doomed)) {
            std::printf("removed %s from %s\n", name.c_str(), where.c_str());
        } else {
            std::fprintf(stderr, "trust_root: removing from %s failed (error 0x%08lx)\n", where.c_str(),
                         GetLastError());
            code = 2;
        }
    }
    if (found) CertFreeCertificateContext(found);
    CertCloseStore(store, 0);
    CertFreeCertificateContext(cert);
    return code;
}
