// What the engine reads from an HTTP response head: lengths, ranges, validators, retry hints
// and advertised digests. Plain text in, values out; no Windows here, so all of it is tested
// natively.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace xldl {

// A response head: the status code and the fields, names folded to lower case, in order.
struct THeaders {
    int Status = 0;
    std::string Version; // "HTTP/1.1" as the status line says
    std::vector<std::pair<std::string, std::string>> Fields;

    // All values of one field joined with ", " (how HTTP combines repeated fields), or
    // nothing when the field is absent.
    std::optional<std::string> Get(std::string_view lowerName) const;
};

// "HTTP/1.1 206 Partial Content": an HTTP/1.x version and a three-digit status of 100..599 (the
// reason is not read). Nothing for anything else, which is no answer we can read.
struct TStatusLine {
    std::string Version;
    int Status = 0;
};
std::optional<TStatusLine> ParseStatusLine(std::string_view line);

// Parses a head as it came off the wire (status line, then "Name: value" lines, CRLF or LF).
// Lines without a colon are skipped; continuation lines are folded into the previous field.
// Status stays 0 when the status line is not one (ParseStatusLine).
THeaders ParseHeaderBlock(std::string_view raw);

// Whether an answer with this status is an interim one, followed by the real answer on the
// same connection (100 Continue, 103 Early Hints; not 101, after which HTTP is over).
bool IsInterimStatus(int status);

// A decimal byte count of up to 63 bits, nothing else around it but blanks.
std::optional<int64_t> ParseByteCount(std::string_view text);

// "bytes FIRST-LAST/TOTAL", "bytes FIRST-LAST/*" (Total -1) or "bytes */TOTAL" (Unsatisfied).
struct TContentRange {
    int64_t First = -1;
    int64_t Last = -1;
    int64_t Total = -1;
    bool Unsatisfied = false;
};
std::optional<TContentRange> ParseContentRange(std::string_view text);

// An HTTP date in any of its three historic forms, as seconds since 1970-01-01 UTC: a day
// name, a real day of the month, a year of four digits (two in the old RFC 850 form), a time.
std::optional<int64_t> ParseHttpDate(std::string_view text);

// Seconds to wait from Retry-After (a delay or a date, measured from `nowEpoch`); never
// negative.
std::optional<int64_t> ParseRetryAfter(std::string_view text, int64_t nowEpoch);

// An entity tag as sent ("..." or W/"..."); Text keeps the quotes so it can be sent back. Its
// characters are visible ASCII or bytes above it: nothing that could end a line.
struct TEntityTag {
    std::string Text;
    bool Weak = false;
};
std::optional<TEntityTag> ParseEntityTag(std::string_view text);

// The value to send in If-Range so that a resumed range belongs to the same file: the strong
// entity tag, else Last-Modified; empty when the response gives no usable validator (a weak
// tag cannot validate a range). It goes into our own requests and into the state file as it
// came, so it is never one with a control character in it (IsOneLine).
std::string RangeValidator(const THeaders& headers);

// Whether the body comes in a content coding (gzip and the like) rather than as the bytes
// of the file itself.
bool IsContentCoded(const THeaders& headers);

// Whether the server said it serves byte ranges.
bool AcceptsByteRanges(const THeaders& headers);

// A digest of the whole file that the server advertised.
enum class TDigestKind { None, Sha256, Md5 };
struct TDigest {
    TDigestKind Kind = TDigestKind::None;
    std::vector<uint8_t> Bytes;
};

// The strongest digest advertised for the full file: Repr-Digest (sha-256), Digest (SHA-256,
// then MD5), Content-MD5. Content-MD5 describes the body of this very response, so it counts
// only when the response carries the whole file (`wholeBody`). Malformed values are skipped.
TDigest AdvertisedDigest(const THeaders& headers, bool wholeBody);

std::optional<std::vector<uint8_t>> Base64Decode(std::string_view text);

} // namespace xldl
