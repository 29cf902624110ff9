// The state file, as found on disk after any crash or tampering: believed whole or not at all.
// Raw bytes (the seal stops almost all of them), or sealed bodies (the seal recomputed, so that
// every line is read); what is believed must be what a sound writer writes, and written again
// it reads back the same.
#include "FuzzCheck.h"

#include "xldl/core/Hashes.h"
#include "xldl/core/StateFile.h"

using namespace xldl;

namespace {

std::string Seal(std::string body) {
    TSha256 sha;
    sha.Update(body.data(), body.size());
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (uint8_t b : sha.Final()) {
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return body + "check " + hex + "\n";
}

bool Same(const TSavedState& a, const TSavedState& b) {
    return a.Url == b.Url && a.Name == b.Name && a.Location == b.Location && a.Total == b.Total &&
           a.ETag == b.ETag && a.LastModified == b.LastModified && a.Digest.Kind == b.Digest.Kind &&
           a.Digest.Bytes == b.Digest.Bytes && a.Done == b.Done;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string_view rest = fuzz::Text(data + 1, size - 1);
    std::string text;
    switch (data[0] % 3) {
    case 0:
        text = std::string(rest);
        break;
    case 1:
        text = Seal("xldl-state 1\n" + std::string(rest));
        break;
    default:
        text = Seal(std::string(rest));
        break;
    }
    TStateProblem problem = TStateProblem::None;
    const auto state = ParseAnyState(text, &problem);
    if (!state) {
        FUZZ_CHECK(problem != TStateProblem::None);
        return 0;
    }
    FUZZ_CHECK(problem == TStateProblem::None);
    FUZZ_CHECK(state->Total >= 0 && !state->Url.empty() && !state->Location.empty());
    for (const std::string* value :
         {&state->Url, &state->Name, &state->Location, &state->ETag, &state->LastModified})
        FUZZ_CHECK(fuzz::Clean(*value));
    int64_t last = 0;
    for (const TByteRange& r : state->Done) {
        FUZZ_CHECK(last <= r.Start && r.Start < r.End && r.End <= state->Total);
        last = r.End;
    }
    FUZZ_CHECK(state->Digest.Bytes.size() == (state->Digest.Kind == TDigestKind::Sha256 ? 32u
                                              : state->Digest.Kind == TDigestKind::Md5  ? 16u
                                                                                        : 0u));
    // Sent back in If-Range as it stands: no line of ours can be broken by it.
    FUZZ_CHECK(fuzz::Clean(StateValidator(*state)));
    const auto again = ParseAnyState(FormatState(*state));
    FUZZ_CHECK(again && Same(*again, *state));
    FUZZ_CHECK(ParseState(text, state->Url, state->Name));
    FUZZ_CHECK(IsStateOfPartial(text, state->Name));
    return 0;
}
