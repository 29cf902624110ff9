// Whether a downloaded installer is the maker's own: an Authenticode signature that is intact,
// made with a certificate that chains, for code signing, to a root this machine trusts, whose
// subject common name (what Windows shows as the publisher) is exactly the maker's name, and
// that is valid now or, when the signature carries a valid time stamp (RFC 3161, or the older
// Authenticode counter-signature) from an authority made for time stamping, was valid when
// stamped; a certificate for lifetime signing only while valid.
// Nothing here waits on the network: no revocation lists or certificates are fetched.
//
// WinVerifyTrust alone does not do: under Wine it passes a chain to an untrusted root, an
// expired certificate, one for another purpose, any publisher, and even a signature whose
// signed hash no longer matches its signed content. So every one of these is checked here
// as well, from the signature's own parts.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

// The maker's name as its code-signing certificate has it. The one place to change when the
// maker's certificate changes.
constexpr const wchar_t* MakerName = L"Orlenz Software Co., Ltd.";
// The ProductName the maker's installer gives in its signed version resource: what tells it
// from everything else the maker signs. Not its OriginalFilename: every product's installer is
// a "setup.exe", the product is what differs.
constexpr std::u16string_view InstallerProduct = u"Orlenz Software Setup";

enum class TSignatureVerdict {
    Good,
    Unsigned,       // no Authenticode signature
    Broken,         // the file, the signed content or the signature does not verify
    BadTimestamp,   // a time stamp that does not verify: not trusted either way
    Untrusted,      // the chain does not end in a root this machine trusts, or is incomplete
    WrongUsage,     // a certificate not meant for signing code
    Expired,        // not valid at the time that counts (now, or the time stamp's)
    Revoked,        // revoked, as far as the system already knows
    OtherPublisher, // all good, but signed by someone else
    Unreadable,     // the file could not be read
};

struct TSignatureCheck {
    TSignatureVerdict Verdict = TSignatureVerdict::Unreadable;
    // What the system said: WinVerifyTrust's result, the chain's CERT_TRUST_ error bits, or a
    // system error.
    uint32_t Detail = 0;
    bool Stamped = false; // a valid time stamp set the time the certificate was judged at
};

// Checks the installer open as `file` (read through that handle, so what is checked is what
// is held), at `path`, against `publisher`.
TSignatureCheck VerifyInstallerSignature(HANDLE file, const std::wstring& path,
                                         const std::wstring& publisher = MakerName);

const char* SignatureVerdictName(TSignatureVerdict verdict);
