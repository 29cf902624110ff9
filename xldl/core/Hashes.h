// SHA-256 and MD5 over a stream of bytes, to check a finished file against the digest its
// server advertised. Pure code, so the check behaves the same on every Windows and natively.
#pragma once

#include "xldl/core/Sha256Blocks.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace xldl {

class TSha256 {
public:
    // With the fastest code this processor runs.
    TSha256();
    // With `code`, for comparing one with another; plain where the processor lacks it.
    explicit TSha256(TSha256Code code);
    void Update(const void* data, size_t size);
    std::array<uint8_t, 32> Final();

private:
    explicit TSha256(TSha256Blocks blocks);
    TSha256Blocks Blocks;
    uint32_t H[8];
    uint8_t Buffer[64];
    size_t Used = 0;
    uint64_t Length = 0;
};

// HMAC-SHA-256 (RFC 2104) of `data` under `key`.
std::array<uint8_t, 32> HmacSha256(const uint8_t* key, size_t keySize, const void* data,
                                   size_t size);

// Whether `a` and `b` are the same, in a time that depends only on their lengths: a seal
// compared byte by byte until the first difference would tell a forger how much of it is right.
bool SameSecret(std::string_view a, std::string_view b);

class TMd5 {
public:
    TMd5();
    void Update(const void* data, size_t size);
    std::array<uint8_t, 16> Final();

private:
    void Block(const uint8_t* p);
    uint32_t H[4];
    uint8_t Buffer[64];
    size_t Used = 0;
    uint64_t Length = 0;
};

} // namespace xldl
