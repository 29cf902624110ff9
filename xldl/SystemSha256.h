// SHA-256 through the system's own implementation: the engine hashes with its own TSha256, and
// this is what the tests hold its digests against and bench/hash_speed its speed.
#pragma once

#include <windows.h>

#include <bcrypt.h>

#include <array>
#include <cstdint>
#include <optional>

namespace xldl {

class TSystemSha256 {
public:
    TSystemSha256() {
        if (BCryptOpenAlgorithmProvider(&Algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0)
            Algorithm = nullptr;
        else if (BCryptCreateHash(Algorithm, &Hash, nullptr, 0, nullptr, 0, 0) != 0)
            Hash = nullptr;
    }
    ~TSystemSha256() {
        if (Hash) BCryptDestroyHash(Hash);
        if (Algorithm) BCryptCloseAlgorithmProvider(Algorithm, 0);
    }
    TSystemSha256(const TSystemSha256&) = delete;
    TSystemSha256& operator=(const TSystemSha256&) = delete;

    bool Usable() const { return Hash != nullptr; }
    bool Update(const uint8_t* data, ULONG size) {
        return BCryptHashData(Hash, const_cast<PUCHAR>(data), size, 0) == 0;
    }
    std::optional<std::array<uint8_t, 32>> Final() {
        std::array<uint8_t, 32> digest;
        if (BCryptFinishHash(Hash, digest.data(), static_cast<ULONG>(digest.size()), 0) != 0)
            return std::nullopt;
        return digest;
    }

private:
    BCRYPT_ALG_HANDLE Algorithm = nullptr;
    BCRYPT_HASH_HANDLE Hash = nullptr;
};

} // namespace xldl
