// URLs as the engine handles them: split for a connection, resolved against a redirect's
// Location, and made from the UTF-16 text a caller hands in.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace xldl {

struct TUrl {
    bool Secure = false; // https
    std::string Host;    // as written (an IPv6 literal keeps its brackets)
    uint16_t Port = 80;
    std::string Target; // path and query, at least "/"
};

// http:// and https:// URLs with a host; the fragment is dropped. Anything else (another
// scheme, user information, a bad port, spaces or control characters) is refused.
std::optional<TUrl> ParseUrl(std::string_view url);

// The URL as text again (the port only when it is not the scheme's own).
std::string FormatUrl(const TUrl& url);

// The absolute URL that `reference` (a Location value) names, seen from `base`. Blanks and
// bytes above ASCII in it (raw UTF-8, as some servers send) are percent-encoded, as a browser
// does; control characters stay, and make the result no URL.
std::string ResolveReference(std::string_view base, std::string_view reference);

// UTF-16 text as an ASCII URL: characters outside ASCII become percent-encoded UTF-8, blanks
// %20; surrounding blanks go. Unpaired surrogates become U+FFFD.
std::string UrlFromUtf16(std::u16string_view text);

} // namespace xldl
