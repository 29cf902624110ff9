// How a connection paces its requests from what it measured.
#include "xldl/core/Pacing.h"

#include <gtest/gtest.h>

#include <tuple>
#include <utility>
#include <vector>

namespace xldl {
namespace {

// A connection that saw `rate` bytes per second for two seconds and a round trip of `rtt`.
TPace Measured(int64_t rate, uint32_t rtt) {
    TPace p(64 * 1024, 1 << 27);
    for (uint64_t ms = 0; ms <= 2000; ms += 50)
        p.Arrived(ms, rate / 20);
    if (rtt) p.Answered(rtt);
    return p;
}

TEST(Pacing, RatesAndRoundTripsFromWhatArrived) {
    TPace p(1, 100);
    EXPECT_EQ(p.Rate(), 0);
    p.Arrived(1000, 999999); // too soon to tell
    EXPECT_EQ(p.Rate(), 0);
    // Bodies at 8 MB/s with long waits for each next answer between them: the link's rate,
    // not the average over the waits.
    TPace gaps(1, 100);
    for (uint64_t t = 0; t < 4000; t += 1000) {
        gaps.BodyBegins(t);
        for (uint64_t ms = 10; ms <= 100; ms += 10)
            gaps.Arrived(t + ms, 80000);
    }
    EXPECT_NEAR(static_cast<double>(gaps.Rate()), 8000000.0, 800000.0);
    const TPace m = Measured(4000000, 0);
    EXPECT_NEAR(static_cast<double>(m.Rate()), 4000000.0, 4000000.0 * 0.05);
    TPace r(1, 100);
    r.Answered(400);
    r.Answered(250);
    r.Answered(600);
    EXPECT_EQ(r.RoundTrip(), 250u) << "queues only lengthen a round trip: the least is its own";
    // An answer at once is a millisecond's: known, and the least.
    TPace once(1, 100);
    once.Answered(0);
    r.Answered(0);
    EXPECT_EQ(once.RoundTrip() + r.RoundTrip(), 2u);
}

TEST(Pacing, RequestsLastSeveralRoundTripsAndShrinkTowardsTheEnd) {
    // Unknown yet: a middling size.
    EXPECT_EQ(TPace(64 * 1024, 16 << 20).RequestSize(1 << 30, 0.25), 1 << 20);
    // 1 MB/s, 400 ms: four round trips' worth.
    const TPace far = Measured(1000000, 400);
    EXPECT_NEAR(static_cast<double>(far.RequestSize(1 << 30, 0.25)), 1600000.0, 100000.0);
    // 65.5 MB/s, 50 ms: a second's worth, to the byte; so too with nothing known of the end.
    const TPace near = Measured(65536000, 50);
    for (auto [free, share] : {std::pair{1 << 30, 0.25}, {1 << 30, 0.0}, {0, 0.25}})
        EXPECT_EQ(near.RequestSize(free, share), 65536000) << free << ", " << share;
    // Capped, and whole multiples of 64 KiB, rounded up.
    EXPECT_EQ(Measured(500000000, 1).RequestSize(1 << 30, 0.25), 1 << 27);
    EXPECT_EQ(near.RequestSize(65537, 1.0), 131072);
    // Near the end each connection asks for its share, so they finish together...
    EXPECT_EQ(near.RequestSize(4 << 20, 0.25), 1 << 20);
    // ...but never less than the least worth a request, and never nothing, even at a crawl or
    // when told to ask for at most nothing.
    EXPECT_EQ(near.RequestSize(10000, 0.25), 64 * 1024);
    TPace crawl(0, 1 << 20);
    for (uint64_t ms = 0; ms <= 1000; ms += 200)
        crawl.Arrived(ms, 100);
    EXPECT_EQ(crawl.RequestSize(1 << 30, 0.25), 1);
    EXPECT_EQ(TPace(0, 0).RequestSize(1 << 30, 0.25), 1);
}

// What the link carries when busy, measured over a fifth of a second, or as soon as half a
// megabyte came in a fiftieth: a faster window counts at once; a slower one lowers the figure
// an eighth of the way at most, while a lasting slowdown is taken within twenty windows (four
// seconds), to a tenth of it.
TEST(Pacing, ASlowerSpellLowersTheRateSlowlyAFasterOneRaisesItAtOnce) {
    const struct {
        const char* What;
        std::vector<std::tuple<int, int, int64_t>> Windows; // (windows, ms, bytes) in turn
        int64_t Low, High;
    } cases[] = {
        {"half a megabyte in a fiftieth of a second", {{1, 20, 524288}}, 26214400, 26214400},
        {"a megabyte in a hundredth: too soon", {{1, 10, 1000000}}, 0, 0},
        {"one slower window", {{8, 200, 1600000}, {1, 200, 200000}}, 7125000, 8000000},
        {"slower from now on", {{8, 200, 1600000}, {20, 200, 200000}}, 1000000, 1700000},
        {"one faster window", {{8, 200, 200000}, {1, 200, 1600000}}, 8000000, 8000000},
    };
    for (const auto& c : cases) {
        TPace p(64 * 1024, 16 << 20);
        uint64_t ms = 0;
        p.BodyBegins(ms);
        for (auto [windows, each, bytes] : c.Windows)
            for (int i = 0; i < windows; ++i)
                p.Arrived(ms += static_cast<uint64_t>(each), bytes);
        EXPECT_GE(p.Rate(), c.Low) << c.What;
        EXPECT_LE(p.Rate(), c.High) << c.What;
    }
}

TEST(Pacing, TheNextRequestGoesWhileAboutTwoRoundTripsAreLeft) {
    const TPace far = Measured(1000000, 400);
    EXPECT_FALSE(far.SendAhead(2000000));
    EXPECT_TRUE(far.SendAhead(900000));
    const TPace unknown(64 * 1024, 16 << 20);
    EXPECT_TRUE(unknown.SendAhead(2 << 20));
    EXPECT_FALSE(unknown.SendAhead((2 << 20) + 1));
    // A rate but no round trip yet: half a second is assumed.
    const TPace fast = Measured(16000000, 0);
    EXPECT_TRUE(fast.SendAhead(15000000));
    EXPECT_FALSE(fast.SendAhead(20000000));
    // A rate from one burst, and none yet over whole answers: the rate is all there is.
    TPace burst(64 * 1024, 16 << 20);
    burst.BodyBegins(0);
    burst.Arrived(20, 524288);
    EXPECT_TRUE(burst.SendAhead(1 << 20));
    EXPECT_EQ(far.MinSplit(), 400000) << "a round trip's worth is not worth cutting";
    EXPECT_EQ(Measured(100000, 10).MinSplit(), 64 * 1024);
    EXPECT_EQ(Measured(1000000, 0).MinSplit(), 500000) << "half a second while unknown";
}

// The rest of a cut answer is read only while that is quicker than a new connection's connect
// and first head; never more than half a megabyte, and a little always; read while either
// figure is still unknown.
TEST(Pacing, ACutAnswersRestIsReadOnlyWhileThatIsQuickerThanConnectingAgain) {
    const struct {
        int64_t Rate;  // 0: not measured
        uint32_t Trip; // 0: not measured
        int64_t Surplus;
        bool Drains;
    } cases[] = {
        {0, 0, 524288, true},         {0, 0, 524289, false},        {2000000, 25, 0, true},
        {0, 160, 300000, true},       {2000000, 0, 300000, true},   {2000000, 25, 60000, true},
        {2000000, 25, 95000, true},   {2000000, 25, 270000, false}, {700000, 160, 210000, true},
        {700000, 160, 300000, false}, {40000000, 1, 64000, true},   {40000000, 1, 100000, false},
    };
    for (const auto& c : cases) {
        const TPace p = Measured(c.Rate, c.Trip);
        EXPECT_EQ(p.Drains(c.Surplus), c.Drains)
            << c.Rate << " B/s, " << c.Trip << " ms, " << c.Surplus << " bytes";
    }
}

TEST(Pacing, AServersDelayBeforeEachAnswerIsASmallShareOfItsRequests) {
    // 4 MB/s, answers on an idle connection after 250 ms, of which 200 ms are the server's:
    // the round trip is 50 ms, and a request lasts ten of the server's delays.
    TPace p = Measured(4000000, 250);
    EXPECT_EQ(p.FirstByte(), -1);
    const int64_t before = p.RequestSize(1 << 30, 0.25);
    p.Followed(200);
    EXPECT_EQ(p.FirstByte(), 200);
    EXPECT_EQ(p.RoundTrip(), 50u) << "the network's trip, without the server's delay";
    EXPECT_NEAR(static_cast<double>(p.RequestSize(1 << 30, 0.25)), 8000000.0, 100000.0);
    EXPECT_GT(p.RequestSize(1 << 30, 0.25), before);
    // The end game's shares still bound it.
    EXPECT_EQ(p.RequestSize(2 << 20, 0.25), 512 * 1024);
    // A connection that measured nothing borrows another's figures; its own stay its own.
    TPace fresh(64 * 1024, 16 << 20);
    fresh.Lend(50, 200);
    EXPECT_EQ(fresh.RoundTrip(), 50u);
    EXPECT_EQ(fresh.FirstByte(), 200);
    p.Lend(400, 900);
    EXPECT_EQ(p.FirstByte(), 200);
    EXPECT_EQ(p.RoundTrip(), 50u);
    // A server that answered at once has no delay to borrow; a delay longer than the whole
    // answer leaves the least round trip, still known.
    TPace quick(64 * 1024, 16 << 20), slow(64 * 1024, 16 << 20);
    quick.Followed(0);
    quick.Lend(50, 200);
    slow.Answered(100);
    slow.Followed(300);
    EXPECT_EQ(quick.FirstByte(), 0);
    EXPECT_EQ(slow.RoundTrip(), 1u);
}

// The delay the next request pays is the server's usual one: a single odd answer moves the
// figure a quarter of the way at most, either way, while a lasting change is taken within
// eight answers (to an eighth of it).
TEST(Pacing, TheServersDelayIsItsUsualOne) {
    const struct {
        const char* What;
        std::vector<std::pair<int, uint32_t>> Delays; // (answers, ms) in turn
        int64_t Low, High;
    } cases[] = {
        {"one quick answer among slow ones", {{8, 200}, {1, 0}}, 150, 200},
        {"one slow answer among quick ones", {{8, 0}, {1, 400}}, 0, 100},
        {"quick from now on", {{8, 200}, {8, 0}}, 0, 25},
        {"slow from now on", {{8, 0}, {8, 200}}, 175, 200},
    };
    for (const auto& c : cases) {
        TPace p(64 * 1024, 16 << 20);
        for (auto [answers, ms] : c.Delays)
            for (int i = 0; i < answers; ++i)
                p.Followed(ms);
        EXPECT_GE(p.FirstByte(), c.Low) << c.What;
        EXPECT_LE(p.FirstByte(), c.High) << c.What;
    }
}

TEST(Pacing, AServerThatSendsInBurstsGetsNoLongerQueueThanItDrains) {
    // A second's worth (4 MB) at 100 MB/s, then nothing until the next second: the rate within
    // a burst is no measure of how fast requests queued on the connection are answered.
    TPace p(64 * 1024, 16 << 20);
    p.Answered(20);
    for (uint64_t second = 0; second < 4; ++second) {
        const uint64_t t = second * 1000;
        p.BodyBegins(t);
        for (uint64_t ms = 5; ms <= 40; ms += 5)
            p.Arrived(t + ms, 500000);
        p.AnswerEnds(t + 40, 4000000, t == 0 ? 0 : t - 960);
    }
    EXPECT_GT(p.Rate(), 50000000);
    EXPECT_NEAR(static_cast<double>(p.Throughput()), 4000000.0, 400000.0);
    // Two round trips and a little at 4 MB/s is well under a second's answer: one request
    // queued behind the current one, not a dozen.
    EXPECT_FALSE(p.SendAhead(4000000));
    EXPECT_TRUE(p.SendAhead(500000));
    // Answers too short to time teach nothing; a tenth of a second does.
    TPace q(64 * 1024, 16 << 20), r(64 * 1024, 16 << 20);
    q.AnswerEnds(1099, 400000, 1000);
    r.AnswerEnds(1100, 400000, 1000);
    EXPECT_EQ(q.Throughput(), 0);
    EXPECT_EQ(r.Throughput(), 4000000);
}

// What a connection sustains, whatever the shape of its flow: the bursts of a server that
// paces by the second count as their second's worth, however fast each came and wherever the
// reads fell; the pause after a burst, while it lasts, lowers the figure; time when nothing
// was asked does not.
TEST(Pacing, ARateIsWhatTheConnectionSustains) {
    constexpr int64_t R = 4000000;
    const struct {
        const char* What;
        int Seconds;
        bool Bursts; // each second's bytes in its first milliseconds, or spread over it
        int Reads;   // per second
        int64_t SilentMs;
        bool Idle;        // each second's answer dropped halfway, the next asked a second later
        double Low, High; // the rate, as a share of R
    } cases[] = {
        {"bursts, each in one read", 3, true, 1, 0, false, 0.95, 1.05},
        {"bursts, each in many reads", 3, true, 8, 0, false, 0.95, 1.05},
        {"an even flow", 3, false, 20, 0, false, 0.95, 1.05},
        {"the first burst alone", 1, true, 8, 0, false, 0.95, 1.05},
        {"a second's pause after the bursts", 3, true, 8, 1000, false, 0.6, 0.75},
        {"answers dropped, then idle", 3, false, 20, 0, true, 0.95, 1.05},
    };
    for (const auto& c : cases) {
        TPace p(64 * 1024, 16 << 20);
        p.BodyBegins(0);
        for (uint64_t second = 0; second < static_cast<uint64_t>(c.Seconds); ++second) {
            const uint64_t t = c.Idle ? 2000 * second : 1000 * second;
            if (c.Idle && second > 0) p.BodyBegins(t);
            const int reads = c.Idle ? c.Reads / 2 : c.Reads;
            for (int i = 1; i <= reads; ++i)
                p.Arrived(t + (c.Bursts ? 5 * i : 1000 * i / c.Reads), R / c.Reads);
        }
        const double rate = static_cast<double>(SustainedRate(p.Sustained(), c.SilentMs));
        EXPECT_GE(rate, c.Low * R) << c.What;
        EXPECT_LE(rate, c.High * R) << c.What;
    }
}

// Bytes per second over the time at work, at least a second of it; a read of nothing is no
// sign of work; the window's edge falls on a read exactly a window back.
TEST(Pacing, ARateIsBytesOverTheTimeAtWork) {
    const struct {
        int64_t Bytes, Ms, SilentMs, Rate;
    } cases[] = {{4000000, 2000, 0, 2000000}, {4000000, 500, 0, 4000000},
                 {4000000, 1000, 1000, 2000000}, {0, 1000, 0, -1}};
    for (const auto& c : cases)
        EXPECT_EQ(SustainedRate({c.Bytes, c.Ms}, c.SilentMs), c.Rate) << c.Bytes << "/" << c.Ms;
    TSustained s;
    s.Begins(0, 0);
    for (uint64_t t = 1000; t <= 3000; t += 1000)
        s.Arrived(t, 1000);
    s.Arrived(4000, 0);
    EXPECT_EQ(s.Recent().Ms, TSustained::WindowMs);
    EXPECT_EQ(s.Recent().Bytes, 2000);
}

} // namespace
} // namespace xldl
