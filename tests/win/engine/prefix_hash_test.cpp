// The partial's SHA-256 taken while it is written: whatever order the writers fill it in and
// however often they start over, the digest is that of the bytes finally there.
#include "xldl/PrefixHash.h"
#include "xldl/core/Hashes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <string>
#include <vector>

namespace xldl {
namespace {

constexpr int64_t Size = (9 << 20) + 4321; // not a whole number of the hash's chunks

std::vector<uint8_t> Bytes(uint32_t seed) {
    std::vector<uint8_t> b(Size);
    std::mt19937 random(seed);
    for (auto& x : b)
        x = static_cast<uint8_t>(random());
    return b;
}

std::array<uint8_t, 32> Sha(const std::vector<uint8_t>& b) {
    TSha256 sha;
    sha.Update(b.data(), b.size());
    return sha.Final();
}

// A partial in the temporary folder, and writers that say how far it is written.
struct PrefixHash : ::testing::Test {
    std::wstring Path;
    TPartFile Part;
    std::atomic<uint64_t> Generation{1};
    std::atomic<int64_t> Prefix{0};
    std::atomic<int64_t> Asked{-1}; // the prefix the hash last heard of
    std::atomic<int> Looks{0};      // how often it asked
    TPrefixHash Hash{Part, [this] {
                         const TWrittenPrefix now{Generation.load(), Prefix.load()};
                         Asked = now.End;
                         ++Looks;
                         return now;
                     }};

    void SetUp() override {
        wchar_t folder[MAX_PATH];
        GetTempPathW(MAX_PATH, folder);
        Path = std::wstring(folder) + L"xldl-prefix-hash-" +
               std::to_wstring(GetCurrentProcessId()) + L".part";
        ASSERT_EQ(Part.Open(Path), 0u);
    }
    void TearDown() override {
        Part.Close();
        DeleteFileW(Path.c_str());
    }
    // Writes `b` in pieces of `piece` bytes in a shuffled order, moving the prefix as the
    // front fills, and lets the hash catch up now and then; `feed`: as the engine's writers,
    // each piece is also handed to the hash.
    void Write(const std::vector<uint8_t>& b, int64_t piece, uint32_t seed, bool feed = false) {
        std::vector<int64_t> at;
        for (int64_t p = 0; p < Size; p += piece)
            at.push_back(p);
        std::shuffle(at.begin(), at.end(), std::mt19937(seed));
        std::vector<bool> written(at.size());
        for (size_t i = 0; i < at.size(); ++i) {
            const auto n = static_cast<uint32_t>(std::min(piece, Size - at[i]));
            ASSERT_EQ(Part.WriteAt(at[i], b.data() + at[i], n), 0u);
            if (feed) Hash.Feed(Generation, at[i], b.data() + at[i], n);
            written[static_cast<size_t>(at[i] / piece)] = true;
            size_t front = 0;
            while (front < written.size() && written[front])
                ++front;
            Prefix = std::min<int64_t>(static_cast<int64_t>(front) * piece, Size);
            if (i % 4 == 3) CatchUp();
        }
    }
    // Waits (a little) until the hash has heard of the current prefix.
    void CatchUp() {
        for (int i = 0; i < 100 && Asked != Prefix; ++i)
            Sleep(10);
    }
    std::optional<std::array<uint8_t, 32>> Digest(HANDLE abort = nullptr) {
        bool aborted = true;
        auto d = Hash.Digest(Size, abort, aborted);
        EXPECT_FALSE(aborted);
        return d;
    }
};

TEST_F(PrefixHash, FollowsWritersInAnyOrderAndEndsWithTheBytesThere) {
    const auto a = Bytes(1);
    Hash.Start();
    struct {
        int64_t piece;
        uint32_t order;
        bool feed;
    } cases[] = {{Size, 0, false},         {1 << 20, 7, false},     {333333, 8, false},
                 {4096 * 5 + 1, 9, false}, {333333, 8, true},       {4096 * 5 + 1, 10, true}};
    for (const auto& c : cases) {
        ++Generation; // each case writes the file anew
        Prefix = 0;
        Write(a, c.piece, c.order, c.feed);
        EXPECT_EQ(Digest(), Sha(a)) << c.piece;
        Hash.Start();
    }
}

TEST_F(PrefixHash, WhatWasHashedAsItCameIsNotReadAgainAtTheEnd) {
    const auto a = Bytes(5);
    ASSERT_EQ(Part.WriteAt(0, a.data(), static_cast<uint32_t>(Size)), 0u);
    Prefix = Size;
    Hash.Start();
    // A second look comes only after the first one's bytes, the first byte among them, were
    // hashed.
    for (int i = 0; i < 1000 && Looks < 2; ++i)
        Sleep(10);
    ASSERT_GE(Looks.load(), 2);
    // Changed behind the hash's back (no writer does that): a digest read again from zero
    // would show it.
    const uint8_t other = static_cast<uint8_t>(a[0] ^ 1);
    ASSERT_EQ(Part.WriteAt(0, &other, 1), 0u);
    EXPECT_EQ(Digest(), Sha(a)) << "the first bytes were read again at the end";
}

TEST_F(PrefixHash, AFreshStartOfTheWritersIsHashedFromZero) {
    const auto a = Bytes(2), b = Bytes(3);
    Hash.Start();
    Write(a, 1 << 20, 1); // hashed as it came
    CatchUp();
    ++Generation;
    Prefix = 0;
    Write(b, 1 << 20, 2); // other bytes over the same places
    EXPECT_EQ(Digest(), Sha(b));
    // Asked again with nothing new written: the same answer; after a fresh start whose bytes
    // all came while nothing followed them, read from zero.
    EXPECT_EQ(Digest(), Sha(b));
    ++Generation;
    ASSERT_EQ(Part.WriteAt(0, a.data(), static_cast<uint32_t>(Size)), 0u);
    EXPECT_EQ(Digest(), Sha(a));
}

TEST_F(PrefixHash, WhatCannotBeReadOrIsStoppedGivesNoDigest) {
    const auto a = Bytes(4);
    ASSERT_EQ(Part.WriteAt(0, a.data(), static_cast<uint32_t>(Size - 1)), 0u);
    Prefix = Size - 1;
    Hash.Start();
    CatchUp();
    bool aborted = true;
    EXPECT_FALSE(Hash.Digest(Size, nullptr, aborted)) << "the last byte is missing";
    EXPECT_FALSE(aborted);

    ASSERT_EQ(Part.WriteAt(Size - 1, a.data() + Size - 1, 1), 0u);
    const HANDLE stop = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    EXPECT_FALSE(Hash.Digest(Size, stop, aborted));
    EXPECT_TRUE(aborted);
    CloseHandle(stop);
    EXPECT_EQ(Digest(), Sha(a)) << "a stopped digest leaves nothing half done behind";
}

} // namespace
} // namespace xldl
