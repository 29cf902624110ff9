// The chunked coding undone as bytes come: the same body, the same end or fault and the same
// bytes left for the next answer, however the input is split; every run of data lies inside
// what was given.
#include "FuzzCheck.h"

#include "xldl/core/HttpWire.h"

#include <algorithm>

using namespace xldl;

namespace {

struct TDecoded {
    std::string Body;
    TChunkedDecoder::TStep Last = TChunkedDecoder::TStep::NeedMore;
    size_t Consumed = 0;
    bool DataComplete = false;
};

// Decodes `wire` fed in pieces of `step` bytes, carrying what was not consumed over as a
// connection does (and looking at no more than `look` bytes at a time, as a short read does).
TDecoded Decode(std::string_view wire, size_t step, size_t look) {
    TChunkedDecoder d;
    TDecoded out;
    std::string pending;
    size_t fed = 0;
    for (int guard = 0; guard < 1 << 20; ++guard) {
        if (fed < wire.size() && pending.size() < look) {
            const size_t n = std::min(step, wire.size() - fed);
            pending.append(wire.substr(fed, n));
            fed += n;
        }
        const size_t given = std::min(pending.size(), look);
        const auto r = d.Next(reinterpret_cast<const uint8_t*>(pending.data()), given);
        FUZZ_CHECK(r.Consumed <= given);
        out.Last = r.Step;
        if (r.Step == TChunkedDecoder::TStep::Data) {
            FUZZ_CHECK(r.Length > 0 && r.Offset + r.Length <= r.Consumed);
            out.Body.append(pending, r.Offset, r.Length);
        }
        pending.erase(0, r.Consumed);
        out.Consumed += r.Consumed;
        if (r.Step == TChunkedDecoder::TStep::End || r.Step == TChunkedDecoder::TStep::Error) break;
        if (r.Step == TChunkedDecoder::TStep::NeedMore && fed == wire.size() && pending.empty())
            break;
        // A step that neither consumes nor hands out anything must be waiting for more.
        FUZZ_CHECK(r.Consumed > 0 || r.Step == TChunkedDecoder::TStep::NeedMore);
    }
    out.DataComplete = d.DataComplete();
    FUZZ_CHECK(out.Last != TChunkedDecoder::TStep::End || d.Ended());
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t step = data[0] % 13 + 1;
    const size_t look = data[1] % 7 == 0 ? 1 : 1 << 20;
    const std::string_view wire = fuzz::Text(data + 2, size - 2);
    const TDecoded whole = Decode(wire, wire.size() + 1, 1 << 20);
    const TDecoded pieces = Decode(wire, step, look);
    FUZZ_CHECK(pieces.Body == whole.Body);
    FUZZ_CHECK(pieces.DataComplete == whole.DataComplete);
    // A body that ended or failed did so at the same byte.
    if (whole.Last == TChunkedDecoder::TStep::End || whole.Last == TChunkedDecoder::TStep::Error) {
        FUZZ_CHECK(pieces.Last == whole.Last);
        if (whole.Last == TChunkedDecoder::TStep::End)
            FUZZ_CHECK(pieces.Consumed == whole.Consumed);
    }
    FUZZ_CHECK(whole.Body.size() <= wire.size());
    return 0;
}
