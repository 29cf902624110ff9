// Digests as servers advertise them (Repr-Digest, Digest, Content-MD5, in base64) and the
// hashes that check them: a digest taken is of its algorithm's size and is what its text says;
// a hash does not depend on how its input is split.
#include "FuzzCheck.h"

#include "xldl/core/Hashes.h"
#include "xldl/core/HttpHeaders.h"

#include <fuzzer/FuzzedDataProvider.h>

using namespace xldl;

namespace {

std::string Base64(const std::vector<uint8_t>& bytes) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (uint8_t b : bytes) {
        bits = (bits << 8) | b;
        count += 8;
        while (count >= 6) {
            count -= 6;
            out += alphabet[(bits >> count) & 63];
        }
    }
    if (count > 0) out += alphabet[(bits << (6 - count)) & 63];
    while (out.size() % 4)
        out += '=';
    return out;
}

template <class THash> auto HashInPieces(std::string_view data, FuzzedDataProvider& cuts) {
    THash h;
    size_t at = 0;
    while (at < data.size()) {
        const size_t n = std::min(data.size() - at, cuts.ConsumeIntegralInRange<size_t>(0, 130));
        h.Update(data.data() + at, n);
        at += n;
        if (cuts.remaining_bytes() == 0) {
            h.Update(data.data() + at, data.size() - at);
            break;
        }
    }
    return h.Final();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string repr = in.ConsumeRandomLengthString(256);
    const std::string digest = in.ConsumeRandomLengthString(256);
    const std::string md5 = in.ConsumeRandomLengthString(64);
    const std::string bytes = in.ConsumeRandomLengthString(1024);

    THeaders h;
    h.Status = 200;
    h.Version = "HTTP/1.1";
    h.Fields = {{"repr-digest", repr}, {"digest", digest}, {"content-md5", md5}};
    for (bool whole : {false, true}) {
        const TDigest d = AdvertisedDigest(h, whole);
        FUZZ_CHECK(d.Bytes.size() == (d.Kind == TDigestKind::Sha256 ? 32u
                                      : d.Kind == TDigestKind::Md5  ? 16u
                                                                    : 0u));
    }
    // Content-MD5 speaks of this body only: for a part it counts for nothing.
    THeaders noMd5 = h;
    noMd5.Fields.pop_back();
    const TDigest part = AdvertisedDigest(h, false), none = AdvertisedDigest(noMd5, true);
    FUZZ_CHECK(part.Kind == none.Kind && part.Bytes == none.Bytes);
    for (const std::string* text : {&repr, &digest, &md5})
        if (const auto decoded = Base64Decode(*text)) {
            const auto again = Base64Decode(Base64(*decoded));
            FUZZ_CHECK(again && *again == *decoded);
        }

    TSha256 sha;
    sha.Update(bytes.data(), bytes.size());
    FUZZ_CHECK(HashInPieces<TSha256>(bytes, in) == sha.Final());
    TMd5 m;
    m.Update(bytes.data(), bytes.size());
    FUZZ_CHECK(HashInPieces<TMd5>(bytes, in) == m.Final());
    return 0;
}
