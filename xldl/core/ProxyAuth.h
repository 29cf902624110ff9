// Answering a proxy that asks who we are (407 Proxy Authentication Required): its challenges
// read from Proxy-Authenticate, the order in which we answer them, and Basic's credentials as
// they go on the wire. The exchanges themselves (SSPI, the credential store, the prompt) are
// Windows' and live in xldl/ProxyAuth; this is the text and the choice, tested natively.
#pragma once

#include "xldl/core/HttpHeaders.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace xldl {

// In the order they are tried: the user's own logon first (no prompt), Basic last.
enum class TAuthScheme { Negotiate, Ntlm, Basic };
constexpr int AuthSchemeCount = 3;

struct TChallenge {
    TAuthScheme Scheme = TAuthScheme::Basic;
    std::string Token; // Negotiate and NTLM: the proxy's next message (base64), if any
    std::string Realm; // Basic
};

// The challenges of a 407, in the order the proxy sent them, from every Proxy-Authenticate
// field and every challenge within one ("Basic realm=\"a, b\", NTLM"). Schemes we do not
// speak (Digest, Kerberos alone, ...) are left out.
std::vector<TChallenge> ParseChallenges(const THeaders& head);

// The challenge of `scheme` among `offered`, if the proxy offered it.
const TChallenge* FindChallenge(const std::vector<TChallenge>& offered, TAuthScheme scheme);

// The scheme to answer with next: the first in our order that the proxy offers and that is
// not `spent` (failed, refused or unavailable for this proxy). Nothing: no way left.
std::optional<TAuthScheme> NextScheme(const std::vector<TChallenge>& offered,
                                      const bool (&spent)[AuthSchemeCount]);

// "Negotiate", "NTLM", "Basic": as the scheme goes on the wire.
const char* SchemeName(TAuthScheme scheme);

std::string Base64Encode(const uint8_t* data, size_t size);

// The Proxy-Authorization value for Basic: "Basic " and user:password in base64, the text as
// given (the engine gives UTF-8, as browsers send it today).
std::string BasicAuthorization(std::string_view user, std::string_view password);

// The header line that carries `value` to the proxy, CRLF-terminated.
std::string ProxyAuthorizationLine(std::string_view value);

} // namespace xldl
