// A web page where a program was asked for. Networks that want a sign-in first (hotels,
// airports, trains) answer every plain-http request with their own page, as a 200: saved as
// the installer it would be refused by the signature check as a damaged file, and asking again
// or the other mirror brings the same page. Such an answer is not the file, and says why.
#pragma once

#include "xldl/core/HttpHeaders.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace xldl {

// Whether a file of this name (UTF-8) is a program or an archive, which no web page can be.
// Other names (a page, a text, a name without an extension) get no such rule.
bool MustNotBeWebPage(std::string_view fileName);

// The answer says it is a web page (text/html, application/xhtml+xml).
bool IsWebPageType(const THeaders& head);

// How many of a body's first bytes the check below reads at most.
constexpr size_t PageCheckBytes = 512;

// The first bytes of a body where a program was asked for, gathered however the reads split
// them, until they tell whether it begins as a web page's markup does (after any byte order
// mark and white space, "<" and a letter, "!" or "?"): a program or an archive begins with its
// own signature, never so, nor with white space.
class TPageCheck {
public:
    enum class TVerdict { Undecided, Page, NotPage };
    // The next bytes of the body: what all so far tell. Undecided only while fewer than
    // PageCheckBytes have come, all of them a byte order mark, white space or a last "<";
    // as many as that and still undecided are a page.
    TVerdict Add(const uint8_t* data, size_t size);
    // The body ended with what was added: a page only if those bytes said so.
    TVerdict End() const;
    // The bytes added so far, which the caller holds back until the verdict.
    const std::vector<uint8_t>& Held() const { return Bytes; }

private:
    TVerdict Judge() const;
    std::vector<uint8_t> Bytes;
};

} // namespace xldl
