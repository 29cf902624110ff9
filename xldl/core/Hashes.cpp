#include "xldl/core/Hashes.h"

#include <algorithm>

#include <cstring>

namespace xldl {

namespace {

uint32_t Rotl(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

// MD5 per-round shifts and sine-derived constants.
const int Md5S[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                      5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                      4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                      6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
const uint32_t Md5K[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

// Feeds bytes through a 64-byte block buffer; `blocks` consumes a run of full blocks. The
// caller's whole blocks go in one run, where they lie: the fast SHA-256 code gains most on long
// runs, and a downloaded file comes a megabyte at a time.
template <class F>
void Feed(uint8_t* buffer, size_t& used, uint64_t& length, const void* data, size_t size,
          F blocks) {
    const auto* p = static_cast<const uint8_t*>(data);
    length += size;
    if (used) {
        const size_t take = size < 64 - used ? size : 64 - used;
        std::memcpy(buffer + used, p, take);
        used += take;
        p += take;
        size -= take;
        if (used < 64) return;
        blocks(buffer, 1);
        used = 0;
    }
    if (size >= 64) blocks(p, size / 64);
    p += size / 64 * 64;
    size %= 64;
    std::memcpy(buffer, p, size);
    used = size;
}

// The closing padding both digests share: 0x80, zeros up to 56 bytes into the block, then the
// length in bits in 8 bytes (big-endian for SHA-256, little-endian for MD5).
template <class F> void Pad(uint64_t length, const size_t& used, bool bigEndian, F update) {
    const uint64_t bits = length * 8;
    const uint8_t pad = 0x80;
    update(&pad, 1);
    const uint8_t zero = 0;
    while (used != 56)
        update(&zero, 1);
    uint8_t len[8];
    for (int i = 0; i < 8; ++i)
        len[i] = static_cast<uint8_t>(bits >> (bigEndian ? 56 - 8 * i : 8 * i));
    update(len, 8);
}

} // namespace

TSha256::TSha256() : TSha256(FastestSha256Blocks()) {}

TSha256::TSha256(TSha256Code code) : TSha256(Sha256Blocks(code)) {}

TSha256::TSha256(TSha256Blocks blocks)
    : Blocks(blocks ? blocks : Sha256Blocks(TSha256Code::Plain)), H{0x6a09e667, 0xbb67ae85,
                                                                    0x3c6ef372, 0xa54ff53a,
                                                                    0x510e527f, 0x9b05688c,
                                                                    0x1f83d9ab, 0x5be0cd19},
      Buffer{} {}

void TSha256::Update(const void* data, size_t size) {
    Feed(Buffer, Used, Length, data, size,
         [this](const uint8_t* p, size_t blocks) { Blocks(H, p, blocks); });
}

std::array<uint8_t, 32> TSha256::Final() {
    Pad(Length, Used, true, [this](const void* p, size_t n) { Update(p, n); });
    std::array<uint8_t, 32> out;
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 4; ++j)
            out[4 * i + j] = static_cast<uint8_t>(H[i] >> (24 - 8 * j));
    return out;
}

std::array<uint8_t, 32> HmacSha256(const uint8_t* key, size_t keySize, const void* data,
                                   size_t size) {
    uint8_t block[64] = {};
    if (keySize > sizeof block) {
        TSha256 h;
        h.Update(key, keySize);
        const auto digest = h.Final();
        std::copy(digest.begin(), digest.end(), block);
    } else {
        std::copy(key, key + keySize, block);
    }
    uint8_t pad[64];
    for (size_t i = 0; i < sizeof pad; ++i)
        pad[i] = block[i] ^ 0x36;
    TSha256 inner;
    inner.Update(pad, sizeof pad);
    inner.Update(data, size);
    const auto innerDigest = inner.Final();
    for (size_t i = 0; i < sizeof pad; ++i)
        pad[i] = block[i] ^ 0x5C;
    TSha256 outer;
    outer.Update(pad, sizeof pad);
    outer.Update(innerDigest.data(), innerDigest.size());
    return outer.Final();
}

TMd5::TMd5() : H{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476}, Buffer{} {}

void TMd5::Block(const uint8_t* p) {
    uint32_t m[16];
    for (int i = 0; i < 16; ++i)
        m[i] = p[4 * i] | uint32_t{p[4 * i + 1]} << 8 | uint32_t{p[4 * i + 2]} << 16 |
               uint32_t{p[4 * i + 3]} << 24;
    uint32_t a = H[0], b = H[1], c = H[2], d = H[3];
    for (int i = 0; i < 64; ++i) {
        uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        const uint32_t next = b + Rotl(a + f + Md5K[i] + m[g], Md5S[i]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    H[0] += a;
    H[1] += b;
    H[2] += c;
    H[3] += d;
}

void TMd5::Update(const void* data, size_t size) {
    Feed(Buffer, Used, Length, data, size, [this](const uint8_t* p, size_t blocks) {
        for (; blocks; --blocks, p += 64)
            Block(p);
    });
}

std::array<uint8_t, 16> TMd5::Final() {
    Pad(Length, Used, false, [this](const void* p, size_t n) { Update(p, n); });
    std::array<uint8_t, 16> out;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            out[4 * i + j] = static_cast<uint8_t>(H[i] >> (8 * j));
    return out;
}

bool SameSecret(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    unsigned char differ = 0;
    for (size_t i = 0; i < a.size(); ++i)
        differ |= static_cast<unsigned char>(a[i] ^ b[i]);
    return differ == 0;
}

} // namespace xldl
