// Sharing a file among connections: claims of the size each asks for from the front, cuts of
// the held claim with the most left once nothing is free, never into bytes in flight, done
// ranges that survive a restart, and only written bytes counted.
#include "xldl/core/Segments.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace xldl {
namespace {

// Writes `n` bytes into a claim the way a connection does.
int64_t Write(TSegmentTable& t, int id, int64_t n) {
    const int64_t got = t.Reserve(id, n);
    t.Commit(id, got);
    return got;
}

// Claims everything in pieces of `size` for one owner, writing each whole; the claims seen.
std::vector<TByteRange> Drain(TSegmentTable& t, int owner, int64_t size) {
    std::vector<TByteRange> seen;
    for (int id; (id = t.Claim(owner, size, 0)) >= 0;) {
        seen.push_back({t.At(id).Pos, t.At(id).End});
        Write(t, id, size);
        t.Release(id);
    }
    return seen;
}

TEST(Segments, ClaimsComeFromTheFrontInTheSizeAskedBeyondFourGiB) {
    TSegmentTable t;
    const int64_t total = (int64_t{5} << 30) + 12345;
    t.Reset(total);
    EXPECT_EQ(t.Free(), total);
    const int a = t.Claim(0, 1 << 20, 0);
    const int b = t.Claim(1, 3 << 20, 0);
    EXPECT_EQ(t.At(a).Pos, 0);
    EXPECT_EQ(t.At(a).End, 1 << 20);
    EXPECT_EQ(t.At(b).Pos, 1 << 20);
    EXPECT_EQ(t.At(b).End, 4 << 20);
    EXPECT_EQ(t.Free(), total - (4 << 20));
    EXPECT_EQ(t.Done(), 0);
    EXPECT_FALSE(t.Complete());

    t.Reset(total - 12345);
    const auto pieces = Drain(t, 0, int64_t{1} << 30);
    ASSERT_EQ(pieces.size(), 5u);
    EXPECT_EQ(pieces.back(), (TByteRange{int64_t{4} << 30, int64_t{5} << 30}));
    EXPECT_TRUE(t.Complete());
    EXPECT_EQ(t.Done(), int64_t{5} << 30);
    EXPECT_EQ(t.DoneRanges(), (std::vector<TByteRange>{{0, int64_t{5} << 30}}));

    t.Reset(0);
    EXPECT_TRUE(t.Complete()) << "an empty file is complete at once";
    EXPECT_EQ(t.Claim(0, 10, 1), -1);
}

TEST(Segments, UnknownLengthIsOneOpenClaimClosedByItsStream) {
    TSegmentTable t;
    t.Reset(-1);
    EXPECT_FALSE(t.Bounded());
    const int s = t.Claim(0, 100, 1);
    ASSERT_GE(s, 0);
    EXPECT_EQ(Write(t, s, 1000), 1000) << "an open claim takes what the stream brings";
    EXPECT_EQ(t.Claim(1, 100, 1), -1) << "an open claim cannot be cut";
    EXPECT_FALSE(t.Complete());
    t.CloseOpenEnd(s);
    EXPECT_TRUE(t.Complete());
    EXPECT_TRUE(t.Bounded());
    EXPECT_EQ(t.Done(), 1000);
}

TEST(Segments, OnceNothingIsFreeTheLargestHeldClaimIsCut) {
    TSegmentTable t;
    t.Reset(4000);
    const int a = t.Claim(0, 2000, 100);
    const int b = t.Claim(1, 2000, 100);
    Write(t, a, 1500);
    Write(t, b, 200);
    // Owner 0 has 500 left, owner 1 has 1800: the newcomer takes the top of owner 1's.
    const int c = t.Claim(2, 5000, 100);
    ASSERT_GE(c, 0);
    EXPECT_EQ(t.At(b).End, t.At(c).Start);
    EXPECT_EQ(t.At(c).End, 4000);
    EXPECT_EQ(t.At(c).Start, 2200 + 900);
    EXPECT_EQ(t.Done(), 1700);

    // A cut larger than the thief asks for leaves the rest free for the next one.
    t.Reset(1 << 20);
    const int big = t.Claim(0, 1 << 20, 1000);
    const int thief = t.Claim(1, 1000, 1000);
    EXPECT_EQ(t.At(big).End, t.At(thief).Start);
    EXPECT_EQ(t.At(thief).End - t.At(thief).Start, 1000);
    EXPECT_EQ(t.Free(), (1 << 20) - t.At(thief).End);
}

TEST(Segments, NoCutBelowTheMinimumOrIntoBytesInFlight) {
    TSegmentTable t;
    t.Reset(1000);
    const int a = t.Claim(0, 1000, 100);
    EXPECT_EQ(t.Reserve(a, 700), 700);
    const int b = t.Claim(1, 1000, 100);
    ASSERT_GE(b, 0) << "300 bytes beyond the reservation: cut";
    EXPECT_GE(t.At(b).Start, 700 + 100);
    t.Commit(a, 700);
    EXPECT_EQ(t.Reserve(a, 1000), t.At(a).End - 700) << "a shortened claim stops at its end";
    t.Cancel(a);
    EXPECT_EQ(t.Claim(2, 1000, 100), -1) << "what is left is too small to share";
    EXPECT_EQ(t.Claim(2, 1000, 0), -1) << "no cuts asked for";
}

TEST(Segments, AReleasedClaimIsTakenOverWhereItStopped) {
    TSegmentTable t;
    t.Reset(3000);
    const int a = t.Claim(0, 1000, 0);
    const int b = t.Claim(1, 1000, 0);
    const int c = t.Claim(2, 1000, 0);
    Write(t, c, 400);
    t.Reserve(c, 100);
    t.Release(c); // refused by the server: this connection stops
    Write(t, a, 1000);
    EXPECT_TRUE(t.SegmentComplete(a));
    t.Release(a);
    const int again = t.Claim(0, 5000, 100);
    ASSERT_GE(again, 0);
    EXPECT_EQ(t.At(again).Pos, 2400) << "the free rest, not a cut";
    EXPECT_EQ(t.Reserve(again, 10000), 600) << "bytes in flight were forgotten";
    t.Commit(again, 100);
    EXPECT_EQ(t.Done(), 1500) << "only what was written counts";
    Write(t, again, 500);
    Write(t, b, 1000);
    EXPECT_TRUE(t.Complete());
    EXPECT_EQ(t.Done(), 3000);
    EXPECT_EQ(t.DoneRanges(), (std::vector<TByteRange>{{0, 3000}}));
}

TEST(Segments, ARestartKeepsWhatIsOnDiskAndFetchesOnlyTheGaps) {
    TSegmentTable t;
    // Ranges as a saved state gives them: out of order is not allowed, beyond the end is cut.
    t.Reset(10000, {{0, 1000}, {1000, 2500}, {4000, 5000}, {9000, 12000}});
    EXPECT_EQ(t.Done(), 2500 + 1000 + 1000);
    EXPECT_EQ(t.DoneRanges(), (std::vector<TByteRange>{{0, 2500}, {4000, 5000}, {9000, 10000}}));
    EXPECT_EQ(
        Drain(t, 0, 1000),
        (std::vector<TByteRange>{
            {2500, 3500}, {3500, 4000}, {5000, 6000}, {6000, 7000}, {7000, 8000}, {8000, 9000}}));
    EXPECT_TRUE(t.Complete());
    EXPECT_EQ(t.Done(), 10000);

    t.Reset(500, {{0, 500}});
    EXPECT_TRUE(t.Complete()) << "everything was on disk";
}

TEST(Segments, AnIdleOwnerTakesOverAnotherOwnersLastUnreadClaimWhole) {
    TSegmentTable t;
    t.Reset(4000);
    // Owner 0 is reading its first claim and has two more on the way; all is handed out.
    const int reading = t.Claim(0, 1000, 0);
    t.StartReading(reading);
    const int queued1 = t.Claim(0, 1000, 0);
    const int queued2 = t.Claim(0, 1000, 0);
    const int other = t.Claim(1, 1000, 0);
    t.StartReading(other);
    Write(t, other, 1000);
    t.Release(other);
    // Owner 1 is idle: the last claim owner 0 asked for changes hands, not a cut.
    const int taken = t.Claim(1, 1000, 100);
    EXPECT_EQ(taken, queued2);
    EXPECT_TRUE(t.Holds(queued2, 1));
    EXPECT_FALSE(t.Holds(queued2, 0)) << "the giver learns it when it comes to it";
    EXPECT_TRUE(t.Holds(queued1, 0));
    // Not when the giver would come to it sooner than the taker could fetch it.
    EXPECT_EQ(t.Claim(2, 1000, 5000), -1) << "1000 bytes before it: less than a round trip's worth";
    // A claim being read is never taken whole (only cut, and only when large enough).
    t.StartReading(queued1);
    const int third = t.Claim(3, 1000, 100);
    ASSERT_GE(third, 0);
    EXPECT_NE(third, queued1);
    EXPECT_NE(third, reading);
}

// With both rates known, a cut falls where both finish at once, the taker's trip counted
// (minSplit is what it fetches meanwhile), and only when it hands over enough for a request.
TEST(Segments, ACutBetweenKnownRatesFallsWhereBothFinishTogether) {
    struct {
        int64_t victim, taker, most, minSplit;
        bool cut;
    } cases[] = {
        {700000, 2100000, 120 * 1024, 64 * 1024, true}, // a slow owner's last bytes
        {2000000, 2000000, 4 << 20, 64 * 1024, true},
        {2000000, 2000000, 80 * 1024, 64 * 1024, false},  // the taker's part: too little
        {2100000, 700000, 1 << 20, 112 * 1024, true},     // a slow taker gets a small part
        {2100000, 700000, 150 * 1024, 112 * 1024, false}, // the owner is done before its trip
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.victim << " " << c.taker << " " << c.most);
        TSegmentTable t;
        const int64_t total = c.most + (1 << 20);
        t.Reset(total);
        const int held = t.Claim(0, total, 0);
        Write(t, held, total - c.most);
        const auto rate = [&](int owner) { return owner == 0 ? c.victim : c.taker; };
        const int taken = t.Claim(1, total, c.minSplit, rate);
        ASSERT_EQ(taken >= 0, c.cut);
        if (!c.cut) continue;
        const int64_t cut = t.At(taken).Start;
        EXPECT_EQ(t.At(held).End, cut);
        EXPECT_EQ(t.At(taken).End, total);
        EXPECT_GE(total - cut, 32 * 1024);
        const double victimMs = 1000.0 * static_cast<double>(cut - (total - c.most)) / c.victim;
        const double takerMs = 1000.0 * static_cast<double>(c.minSplit + total - cut) / c.taker;
        // Rounding the cut up moves bytes from the taker to the victim.
        const double align = c.most >= (2 << 20) ? 65536 : 4096;
        const double slack = 1000.0 * align * (1.0 / c.victim + 1.0 / c.taker);
        EXPECT_NEAR(victimMs, takerMs, slack);
    }
}

TEST(Segments, AnEarlyRequestsShareIsClaimedExactlyOrNotAtAll) {
    TSegmentTable t;
    t.Reset(10000);
    const int first = t.Claim(0, 1000, 0);
    EXPECT_EQ(t.At(first).End, 1000);
    const int two = t.ClaimRange(2, 2000, 3000);
    ASSERT_GE(two, 0);
    EXPECT_EQ(t.At(two).Pos, 2000);
    EXPECT_EQ(t.At(two).End, 3000);
    EXPECT_EQ(t.ClaimRange(3, 2500, 3500), -1) << "held in part";
    EXPECT_EQ(t.ClaimRange(3, 9500, 10500), -1) << "beyond the file";
    EXPECT_EQ(t.ClaimRange(3, 500, 500), -1);
    // What lies between is still free, in order.
    EXPECT_EQ(Drain(t, 4, 5000),
              (std::vector<TByteRange>{{1000, 2000}, {3000, 8000}, {8000, 10000}}));
}

} // namespace
} // namespace xldl
