// A web page where a program was asked for. Networks that want a sign-in first (hotels,
// airports, trains) answer every plain-http request with their own page, as a 200: saved as
// the installer it would be refused by the signature check as a damaged file, and asking again
// or the other mirror brings the same page. Such an answer is not the file, and says why.
#pragma once

#include "xldl/core/HttpHeaders.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace xldl {

// Whether a file of this name (UTF-8) is a program or an archive, which no web page can be.
// Other names (a page, a text, a name without an extension) get no such rule.
bool MustNotBeWebPage(std::string_view fileName);

// The answer says it is a web page (text/html, application/xhtml+xml).
bool IsWebPageType(const THeaders& head);

// The first bytes of a body read as a web page's markup (after any byte order mark and
// white space): a program or an archive begins with its own signature, never with "<".
bool BeginsLikeWebPage(const uint8_t* data, size_t size);

} // namespace xldl
