// SHA-256 and MD5 against the published test vectors, fed whole and in awkward pieces; each
// SHA-256 code this processor runs against those and against plain code (and, on Windows,
// against the system's) on random data.
#include "xldl/core/Hashes.h"

#ifdef _WIN32
#include "xldl/SystemSha256.h"
#endif

#include <gtest/gtest.h>

#include <algorithm>

#include <random>
#include <string>
#include <vector>

namespace xldl {
namespace {

std::vector<TSha256Code> CodesHere() {
    std::vector<TSha256Code> codes;
    for (TSha256Code code : {TSha256Code::Plain, TSha256Code::Extensions})
        if (Sha256Blocks(code)) codes.push_back(code);
    return codes;
}

// Random bytes of every length up to a few blocks past the padding's edge, and a few megabytes.
std::vector<std::string> RandomMessages() {
    std::mt19937 random(20261209);
    std::vector<size_t> lengths;
    for (size_t n = 0; n <= 300; ++n)
        lengths.push_back(n);
    lengths.push_back((3 << 20) + 37);
    std::vector<std::string> messages;
    for (size_t n : lengths) {
        std::string m(n, '\0');
        for (char& c : m)
            c = static_cast<char>(random());
        messages.push_back(std::move(m));
    }
    return messages;
}

// `data` cut into random pieces, from single bytes to many blocks.
std::vector<std::pair<size_t, size_t>> RandomPieces(const std::string& data, std::mt19937& random) {
    std::vector<std::pair<size_t, size_t>> pieces;
    for (size_t at = 0; at < data.size();) {
        const size_t most = random() % 4 ? 130 : 200000;
        const size_t n = std::min<size_t>(1 + random() % most, data.size() - at);
        pieces.emplace_back(at, n);
        at += n;
    }
    return pieces;
}

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
    // FIPS 180's examples: empty, one block, the 448-bit and 896-bit messages, a million 'a'.
    const struct {
        std::string Data, Digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrl"
         "mnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (TSha256Code code : CodesHere())
        for (const auto& c : cases)
            for (size_t piece : {size_t{1}, size_t{7}, size_t{64}, size_t{1000}, size_t{1 << 20}}) {
                if (c.Data.size() / piece > 100000) continue;
                EXPECT_EQ(Hex(TSha256(code), c.Data, piece), c.Digest)
                    << "code " << static_cast<int>(code) << ", " << c.Data.size()
                    << " bytes in pieces of " << piece;
            }
}

TEST(Hashes, Sha256CodesAgreeOnRandomPieces) {
    std::mt19937 random(7);
    for (const std::string& m : RandomMessages()) {
        TSha256 whole(TSha256Code::Plain);
        whole.Update(m.data(), m.size());
        const auto expected = whole.Final();
        for (TSha256Code code : CodesHere()) {
            TSha256 pieces(code);
            for (auto [at, n] : RandomPieces(m, random))
                pieces.Update(m.data() + at, n);
            EXPECT_EQ(pieces.Final(), expected)
                << "code " << static_cast<int>(code) << ", " << m.size() << " bytes";
        }
    }
}

#ifdef _WIN32
TEST(Hashes, Sha256AgreesWithTheSystems) {
    std::mt19937 random(11);
    for (const std::string& m : RandomMessages()) {
        if (m.size() % 37 && m.size() < 300) continue; // a sample: each asks the system anew
        TSystemSha256 system;
        ASSERT_TRUE(system.Usable());
        for (auto [at, n] : RandomPieces(m, random))
            ASSERT_TRUE(system.Update(reinterpret_cast<const uint8_t*>(m.data()) + at,
                                      static_cast<ULONG>(n)));
        const auto expected = system.Final();
        ASSERT_TRUE(expected);
        for (TSha256Code code : CodesHere()) {
            TSha256 ours(code);
            ours.Update(m.data(), m.size());
            EXPECT_EQ(ours.Final(), *expected)
                << "code " << static_cast<int>(code) << ", " << m.size() << " bytes";
        }
    }
}
#endif

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
