// A response head as a server sends it: where it ends (interim answers skipped, whatever the
// split of the bytes), its fields, and every value the engine takes from it. What goes back
// to a server or into the state file (the validator) must be able to stand on one line and
// come back from the state file as it went in.
#include "FuzzCheck.h"

#include "xldl/core/HttpWire.h"
#include "xldl/core/StateFile.h"

#include <algorithm>

using namespace xldl;

namespace {

struct TRead {
    THeadReader::TStep Step = THeadReader::TStep::NeedMore;
    int Status = 0;
    std::string Rest; // not consumed
};

// Reads the head from `text` fed in pieces of `step` bytes, as a connection receives it.
TRead ReadInPieces(std::string_view text, size_t step) {
    THeadReader reader;
    std::string pending;
    TRead read;
    for (size_t fed = 0;;) {
        const size_t n = std::min(step, text.size() - fed);
        pending.append(text.substr(fed, n));
        fed += n;
        const auto r = reader.Next(pending);
        FUZZ_CHECK(r.Consumed <= pending.size());
        pending.erase(0, r.Consumed);
        read.Step = r.Step;
        if (read.Step != THeadReader::TStep::NeedMore || fed == text.size()) {
            pending.append(text.substr(fed));
            break;
        }
    }
    if (read.Step == THeadReader::TStep::Head) read.Status = reader.Head().Status;
    read.Rest = pending;
    return read;
}

void CheckValues(const THeaders& h) {
    FUZZ_CHECK(h.Status == 0 || (h.Status >= 100 && h.Status <= 599));
    FUZZ_CHECK((h.Status == 0) == h.Version.empty());
    for (const auto& [name, value] : h.Fields) {
        FUZZ_CHECK(!name.empty());
        FUZZ_CHECK(name.find('\n') == std::string::npos && value.find('\n') == std::string::npos);
        for (char c : name)
            FUZZ_CHECK(c < 'A' || c > 'Z');
    }
    if (const auto framing = BodyFraming(h)) {
        FUZZ_CHECK(framing->Length >= 0);
        KeepsAlive(h, *framing);
    }
    if (const auto range = ParseContentRange(h.Get("content-range").value_or(""))) {
        if (range->Unsatisfied) {
            FUZZ_CHECK(range->Total >= 0);
        } else {
            FUZZ_CHECK(0 <= range->First && range->First <= range->Last);
            FUZZ_CHECK(range->Last < INT64_MAX);
            FUZZ_CHECK(range->Total < 0 || range->Last < range->Total);
        }
    }
    if (const auto after = h.Get("retry-after"))
        if (const auto seconds = ParseRetryAfter(*after, 1700000000)) FUZZ_CHECK(*seconds >= 0);
    for (bool whole : {false, true}) {
        const TDigest d = AdvertisedDigest(h, whole);
        FUZZ_CHECK(d.Bytes.size() == (d.Kind == TDigestKind::Sha256 ? 32u
                                      : d.Kind == TDigestKind::Md5  ? 16u
                                                                    : 0u));
    }
    AcceptsByteRanges(h);
    IsContentCoded(h);

    const std::string validator = RangeValidator(h);
    FUZZ_CHECK(fuzz::Clean(validator));
    if (validator.empty()) return;
    // Sent back in If-Range, it leaves the request as well formed as it was.
    const auto url = ParseUrl("http://dl1.orlenz.com/service/setup.exe");
    FUZZ_CHECK(
        fuzz::WellFormedRequest(FormatGetRequest(*url, true, "If-Range: " + validator + "\r\n")));
    // Recorded, it comes back for the next run to resume under.
    TSavedState s;
    s.Url = "http://dl1.orlenz.com/service/setup.exe";
    s.Name = "setup.exe";
    s.Location = s.Url;
    s.Total = 1000;
    SetStateValidator(s, validator);
    const auto back = ParseState(FormatState(s), s.Url, s.Name);
    FUZZ_CHECK(back);
    FUZZ_CHECK(StateValidator(*back) == validator);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text = fuzz::Text(data, size);
    CheckValues(ParseHeaderBlock(text));

    THeadReader reader;
    const auto whole = reader.Next(text);
    FUZZ_CHECK(whole.Consumed <= text.size());
    if (whole.Step == THeadReader::TStep::Head) {
        FUZZ_CHECK(!IsInterimStatus(reader.Head().Status) && reader.Head().Status != 101);
        CheckValues(reader.Head());
    }
    // However the bytes come, the same answer ends at the same place.
    const size_t step = size ? data[0] % 17 + 1 : 1;
    const TRead pieces = ReadInPieces(text, step);
    FUZZ_CHECK(pieces.Step == whole.Step);
    if (whole.Step == THeadReader::TStep::Head) {
        FUZZ_CHECK(pieces.Status == reader.Head().Status);
        FUZZ_CHECK(pieces.Rest == text.substr(whole.Consumed));
    }
    return 0;
}
