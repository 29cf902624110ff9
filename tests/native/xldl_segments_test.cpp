// Sharing a file among connections: cover it exactly, hand out free segments, split the
// largest, never split on bytes in flight, count only written bytes.
#include "xldl/core/Segments.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace xldl {
namespace {

// Segments cover [0, total) without gap or overlap.
void ExpectCovers(const TSegmentTable& t, int64_t total) {
    std::vector<std::pair<int64_t, int64_t>> spans;
    for (int i = 0; i < t.Count(); ++i)
        spans.emplace_back(t.At(i).Start, t.At(i).End);
    std::sort(spans.begin(), spans.end());
    int64_t at = 0;
    for (const auto& [s, e] : spans) {
        EXPECT_EQ(s, at);
        EXPECT_GE(e, s);
        at = e;
    }
    EXPECT_EQ(at, total);
}

// Writes `n` bytes into a segment the way a connection does.
int64_t Write(TSegmentTable& t, int index, int64_t n) {
    const int64_t got = t.Reserve(index, n);
    t.Commit(index, got);
    return got;
}

TEST(Segments, EqualAlignedSharesCoverTheFileBeyondFourGiB) {
    TSegmentTable t;
    const int64_t total = (int64_t{5} << 30) + 12345;
    t.Reset(total, 4, 65536);
    ASSERT_EQ(t.Count(), 4);
    ExpectCovers(t, total);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(t.At(i + 1).Start % 65536, 0);
    EXPECT_GT(t.At(3).End, int64_t{4} << 30);
    EXPECT_EQ(t.Done(), 0);
    EXPECT_FALSE(t.Complete());

    t.Reset(10, 4, 65536);
    ExpectCovers(t, 10);
    EXPECT_EQ(t.Count(), 1) << "too small to share";
    t.Reset(0, 1, 1);
    EXPECT_TRUE(t.Complete()) << "an empty file is complete at once";
}

TEST(Segments, UnknownLengthIsOneOpenSegmentClosedByItsStream) {
    TSegmentTable t;
    t.Reset(-1, 4, 1);
    ASSERT_EQ(t.Count(), 1);
    const int s = t.Claim(0, 1);
    ASSERT_EQ(s, 0);
    EXPECT_EQ(Write(t, s, 1000), 1000);
    EXPECT_EQ(t.Claim(1, 1), -1) << "an open segment cannot be split";
    EXPECT_FALSE(t.Complete());
    t.CloseOpenEnd(s);
    EXPECT_TRUE(t.Complete());
    EXPECT_EQ(t.Done(), 1000);
}

TEST(Segments, FreeSegmentsFirstThenTheLargestIsSplit) {
    TSegmentTable t;
    t.Reset(4000, 2, 1);
    EXPECT_EQ(t.Claim(0, 100), 0);
    EXPECT_EQ(t.Claim(1, 100), 1);
    Write(t, 0, 1500);
    Write(t, 1, 200);
    // Worker 0 has 500 left, worker 1 has 1800: the newcomer takes the top of worker 1's.
    const int s = t.Claim(2, 100);
    ASSERT_EQ(s, 2);
    EXPECT_EQ(t.At(1).End, t.At(2).Start);
    EXPECT_EQ(t.At(2).End, 4000);
    EXPECT_EQ(t.At(2).Start, 2200 + 900);
    ExpectCovers(t, 4000);
    EXPECT_EQ(t.Done(), 1700);
}

TEST(Segments, NoSplitBelowTheMinimumOrIntoBytesInFlight) {
    TSegmentTable t;
    t.Reset(1000, 1, 1);
    ASSERT_EQ(t.Claim(0, 100), 0);
    EXPECT_EQ(t.Reserve(0, 700), 700);
    EXPECT_EQ(t.Claim(1, 100), 1) << "300 free bytes beyond the reservation: split";
    EXPECT_GE(t.At(1).Start, 700 + 100);
    t.Commit(0, 700);
    EXPECT_EQ(t.Reserve(0, 1000), t.At(0).End - 700) << "a shortened segment stops at its end";
    t.Cancel(0);
    EXPECT_EQ(t.Claim(2, 100), -1) << "what is left is too small to share";
}

TEST(Segments, AReleasedSegmentIsTakenOverWhereItStopped) {
    TSegmentTable t;
    t.Reset(3000, 3, 1);
    for (int w = 0; w < 3; ++w)
        ASSERT_EQ(t.Claim(w, 100), w);
    Write(t, 2, 400);
    t.Reserve(2, 100);
    t.Release(2); // refused by the server: this connection stops
    Write(t, 0, 1000);
    EXPECT_TRUE(t.SegmentComplete(0));
    EXPECT_EQ(t.Claim(0, 100), 2) << "the free one, not a split";
    EXPECT_EQ(t.Reserve(2, 10000), 600) << "from where it stopped, bytes in flight forgotten";
    t.Commit(2, 100);
    EXPECT_EQ(t.Done(), 1500) << "only what was written counts";
    EXPECT_EQ(t.Reserve(2, 10000), 500);
    t.Commit(2, 500);
    Write(t, 1, 1000);
    EXPECT_TRUE(t.Complete());
    EXPECT_EQ(t.Done(), 3000);
}

} // namespace
} // namespace xldl
