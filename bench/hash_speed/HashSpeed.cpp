// SHA-256 over the same bytes in each of our codes and through the system's bcrypt, fed a
// megabyte at a time as the engine reads a file: MB/s of each and the ratios.
//
//     hash_speed [MIB]   (256 by default)
#include "xldl/SystemSha256.h"
#include "xldl/core/Hashes.h"

#include <windows.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <vector>

namespace {

using namespace xldl;

using TDigest = std::array<uint8_t, 32>;

constexpr size_t Piece = 1 << 20;

double Now() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The best of three passes over `mib` megabytes (the buffer again and again), in MB/s.
double Speed(const std::vector<uint8_t>& buffer, int mib,
             const std::function<TDigest(const std::vector<uint8_t>&, int)>& hash,
             TDigest& digest) {
    double best = 0;
    for (int pass = 0; pass < 3; ++pass) {
        const double start = Now();
        digest = hash(buffer, mib);
        const double seconds = Now() - start;
        best = std::max(best, mib * double{Piece} / 1e6 / seconds);
    }
    return best;
}

TDigest Ours(TSha256Code code, const std::vector<uint8_t>& buffer, int mib) {
    TSha256 sha(code);
    for (int i = 0; i < mib; ++i)
        sha.Update(buffer.data() + i % 16 * Piece, Piece);
    return sha.Final();
}

TDigest Systems(const std::vector<uint8_t>& buffer, int mib) {
    TSystemSha256 sha;
    for (int i = 0; i < mib; ++i)
        if (!sha.Update(buffer.data() + i % 16 * Piece, Piece)) std::exit(2);
    const auto digest = sha.Final();
    if (!digest) std::exit(2);
    return *digest;
}

} // namespace

int main(int argc, char** argv) {
    const int mib = argc > 1 ? std::atoi(argv[1]) : 256;
    std::vector<uint8_t> buffer(16 * Piece);
    std::mt19937 random(1);
    for (auto& b : buffer)
        b = static_cast<uint8_t>(random());

    TDigest plainDigest, digest;
    const double plain = Speed(
        buffer, mib, [](auto& b, int m) { return Ours(TSha256Code::Plain, b, m); }, plainDigest);
    std::printf("  %-22s %8.0f MB/s\n", "plain C++", plain);
    double extensions = 0;
    if (Sha256Blocks(TSha256Code::Extensions)) {
        extensions = Speed(
            buffer, mib, [](auto& b, int m) { return Ours(TSha256Code::Extensions, b, m); },
            digest);
        if (digest != plainDigest) return std::puts("SHA extensions: another digest"), 1;
        std::printf("  %-22s %8.0f MB/s  %.2f x plain\n", "SHA extensions", extensions,
                    extensions / plain);
    } else {
        std::printf("  %-22s %8s\n", "SHA extensions", "not on this processor");
    }
    const double system = Speed(buffer, mib, Systems, digest);
    if (digest != plainDigest) return std::puts("bcrypt: another digest"), 1;
    std::printf("  %-22s %8.0f MB/s\n", "system (bcrypt)", system);
    const double ours = extensions > 0 ? extensions : plain;
    std::printf("  ours (fastest) / system: %.2f\n", ours / system);
    return 0;
}
