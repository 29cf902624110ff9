// SHA-256 and MD5 against the published test vectors, fed whole and in awkward pieces.
#include "xldl/core/Hashes.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>

namespace xldl {
namespace {

template <class H> std::string Hex(H hash, const std::string& data, size_t piece) {
    for (size_t i = 0; i < data.size(); i += piece)
        hash.Update(data.data() + i, std::min(piece, data.size() - i));
    std::string out;
    static const char* digits = "0123456789abcdef";
    for (uint8_t b : hash.Final()) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

TEST(Hashes, Sha256Vectors) {
    const std::string twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    const std::string million(1000000, 'a');
    for (size_t piece : {size_t{1}, size_t{7}, size_t{64}, size_t{1000}}) {
        EXPECT_EQ(Hex(TSha256(), "", piece),
                  "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
        EXPECT_EQ(Hex(TSha256(), "abc", piece),
                  "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
        EXPECT_EQ(Hex(TSha256(), twoBlocks, piece),
                  "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    }
    EXPECT_EQ(Hex(TSha256(), million, 4096),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Hashes, HmacSha256Vectors) {
    // RFC 4231's cases 1, 2 and 6 (a key longer than a block is hashed first).
    const struct {
        std::string Key, Data, Mac;
    } cases[] = {
        {std::string(20, '\x0b'), "Hi There",
         "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {"Jefe", "what do ya want for nothing?",
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {std::string(131, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
    };
    for (const auto& c : cases) {
        const auto mac = HmacSha256(reinterpret_cast<const uint8_t*>(c.Key.data()), c.Key.size(),
                                    c.Data.data(), c.Data.size());
        std::string hex;
        for (uint8_t b : mac) {
            hex += "0123456789abcdef"[b >> 4];
            hex += "0123456789abcdef"[b & 15];
        }
        EXPECT_EQ(hex, c.Mac) << c.Data;
    }
}

TEST(Hashes, Md5Vectors) {
    const std::string digits80 =
        "12345678901234567890123456789012345678901234567890123456789012345678901234567890";
    for (size_t piece : {size_t{1}, size_t{13}, size_t{64}}) {
        EXPECT_EQ(Hex(TMd5(), "", piece), "d41d8cd98f00b204e9800998ecf8427e");
        EXPECT_EQ(Hex(TMd5(), "abc", piece), "900150983cd24fb0d6963f7d28e17f72");
        EXPECT_EQ(Hex(TMd5(), "message digest", piece), "f96b697d7cb7938d525a2f31aaf161d0");
        EXPECT_EQ(Hex(TMd5(), digits80, piece), "57edf4a22be3c955ac49da2e2107b67a");
    }
}

} // namespace
} // namespace xldl
