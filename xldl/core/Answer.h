// What an answer means for the download, given what was asked: the file (or the part of it
// asked for), somewhere else to look, the whole file when a part was wanted (the file changed,
// or the server ignores ranges), a pause, or a refusal for good. Judged from the head alone,
// before a byte of the body is taken; tested natively.
#pragma once

#include "xldl/core/HttpHeaders.h"

#include <cstdint>
#include <optional>
#include <string>

namespace xldl {

enum class TAsk {
    First, // the file's first bytes, to learn its size and validator (the whole file will do)
    Whole, // the whole file
    Part,  // a range of a file known by its validator or digest
    Last,  // the file's last `End` bytes, its size not known yet (asked of another mirror
           // before the file is known; judged as the Part it turned out to be)
};

struct TQuestion {
    TAsk Ask = TAsk::First;
    int64_t From = 0;      // the range asked for: [From, End)
    int64_t End = -1;      // -1: to the end of the file
    std::string Validator; // sent in If-Range
    int64_t Total = -1;    // the file's size as known, -1 unknown
    bool Named = false;    // the file is known by a validator or a digest
    // The answer must show the validator itself: the first answer of a download taken up
    // from an earlier run, when nothing else proves the file is still the same.
    bool MustName = false;
};

enum class TVerdict {
    Ok,        // the body is what was asked for: bytes up to BodyEnd (-1: the stream's end)
    Redirect,  // look at Location
    AskWhole,  // the first bytes cannot be had as a usable range: ask for the whole file
    Restart,   // the whole (new) file came instead of a part: start over with this answer
    Transient, // try again later
    Permanent, // trying again cannot help
};

struct TAnswer {
    TVerdict Verdict = TVerdict::Transient;
    int64_t BodyEnd = -1;
    uint32_t Error = 0;        // a TEngineError for Permanent
    bool Refusal = false;      // the server turned this connection away (429, 503)
    bool RangesBroken = false; // the server's range answers cannot be trusted
    std::optional<int64_t> RetryAfter;
    std::string Location;
};

// `nowEpoch`: seconds since 1970, for a Retry-After given as a date. `program`: the file is a
// program or an archive, so a web page in answer is not it (xldl/core/WebPage).
TAnswer JudgeAnswer(const THeaders& head, const TQuestion& q, int64_t nowEpoch,
                    bool program = false);

} // namespace xldl
