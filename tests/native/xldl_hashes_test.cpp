// SHA-256, HMAC-SHA-256 and MD5 against published test vectors, fed whole and in awkward
// pieces; each SHA-256 code against those and against plain code (and, on Windows, against the
// system's) on random data, by name, skipped where this processor lacks it.
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

const char* CodeName(TSha256Code code) {
    return code == TSha256Code::Plain ? "Plain" : "Extensions";
}
void PrintTo(TSha256Code code, std::ostream* out) {
    *out << CodeName(code);
}

namespace {

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

template <size_t N> std::string Hex(const std::array<uint8_t, N>& bytes) {
    std::string out;
    for (uint8_t b : bytes) {
        out += "0123456789abcdef"[b >> 4];
        out += "0123456789abcdef"[b & 15];
    }
    return out;
}

template <class H> std::string Hex(H hash, const std::string& data, size_t piece) {
    for (size_t i = 0; i < data.size(); i += piece)
        hash.Update(data.data() + i, std::min(piece, data.size() - i));
    return Hex(hash.Final());
}

// Each SHA-256 code by name; one this processor lacks is skipped, and ctest says so, so that a
// machine that tested the plain code alone shows it.
class Sha256Code : public ::testing::TestWithParam<TSha256Code> {
protected:
    void SetUp() override {
        if (!Sha256Blocks(GetParam()))
            GTEST_SKIP() << "this processor runs no SHA extensions: only the plain code is tested";
    }
};
INSTANTIATE_TEST_SUITE_P(Hashes, Sha256Code,
                         ::testing::Values(TSha256Code::Plain, TSha256Code::Extensions),
                         [](const auto& code) { return std::string(CodeName(code.param)); });

TEST_P(Sha256Code, Vectors) {
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
    for (const auto& c : cases)
        for (size_t piece : {size_t{1}, size_t{7}, size_t{64}, size_t{1000}, size_t{1 << 20}}) {
            if (c.Data.size() / piece > 100000) continue;
            EXPECT_EQ(Hex(TSha256(GetParam()), c.Data, piece), c.Digest)
                << c.Data.size() << " bytes in pieces of " << piece;
        }
}

TEST_P(Sha256Code, AgreesWithPlainCodeOnRandomPieces) {
    std::mt19937 random(7);
    for (const std::string& m : RandomMessages()) {
        TSha256 whole(TSha256Code::Plain);
        whole.Update(m.data(), m.size());
        TSha256 pieces(GetParam());
        for (auto [at, n] : RandomPieces(m, random))
            pieces.Update(m.data() + at, n);
        EXPECT_EQ(pieces.Final(), whole.Final()) << m.size() << " bytes";
    }
}

#ifdef _WIN32
TEST_P(Sha256Code, AgreesWithTheSystems) {
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
        TSha256 ours(GetParam());
        ours.Update(m.data(), m.size());
        EXPECT_EQ(ours.Final(), *expected) << m.size() << " bytes";
    }
}
#endif

TEST(Hashes, HmacSha256Vectors) {
    // RFC 4231's cases 1, 2 and 6; NIST's examples with keys 0x00, 0x01, ... of 32, 64 (exactly
    // one block: used as it is) and 100 bytes (hashed first); and keys one byte either side of
    // a block (made with Python's hmac), so that the block's edge is where it belongs.
    const auto counting = [](size_t n) {
        std::string key(n, '\0');
        for (size_t i = 0; i < n; ++i)
            key[i] = static_cast<char>(i);
        return key;
    };
    const struct {
        std::string Key, Data, Mac;
    } cases[] = {
        {std::string(20, '\x0b'), "Hi There",
         "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {"Jefe", "what do ya want for nothing?",
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {std::string(131, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {counting(32), "Sample message for keylen<blocklen",
         "a28cf43130ee696a98f14a37678b56bcfcbdd9e5cf69717fecf5480f0ebdf790"},
        {counting(63), "Sample message for keylen<blocklen",
         "f980323ab6f5503a05bc71c361fd56dff765db9e0460be7d189bac8ffa9256e4"},
        {counting(64), "Sample message for keylen=blocklen",
         "8bb9a1db9806f20df7f77b82138c7914d174d59e13dc4d0169c9057b133e1d62"},
        {counting(65), "Sample message for keylen>blocklen",
         "4ff3277ad969043f9af2a99f501b1c416b93d9eef26fec4a501444e24bdb1459"},
        {counting(100), "Sample message for keylen=blocklen",
         "bdccb6c72ddeadb500ae768386cb38cc41c63dbb0878ddb9c7a38a431b78378d"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Hex(HmacSha256(reinterpret_cast<const uint8_t*>(c.Key.data()), c.Key.size(),
                                 c.Data.data(), c.Data.size())),
                  c.Mac)
            << c.Key.size() << "-byte key, " << c.Data;
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
