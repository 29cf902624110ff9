// Racing address families: the order of attempts, when each starts, what a race teaches, and
// how a task's connections fare on a network whose IPv6 is broken.
#include "xldl/core/Eyeballs.h"

#include <gtest/gtest.h>

namespace xldl {
namespace {

constexpr TFamily V4 = TFamily::V4;
constexpr TFamily V6 = TFamily::V6;
constexpr TFamilies Bit4 = FamilyBit(TFamily::V4);
constexpr TFamilies Bit6 = FamilyBit(TFamily::V6);

TEST(Eyeballs, AttemptsAlternateFamiliesLedByTheSystemsChoiceUnlessItFailed) {
    struct TCase {
        const char* Name;
        std::vector<TFamily> Listed;
        TFamilies Failing;
        std::vector<size_t> Order;
    };
    const TCase cases[] = {
        {"IPv6 first as listed", {V6, V6, V4, V4}, 0, {0, 2, 1, 3}},
        {"IPv4 first as listed", {V4, V4, V4, V6}, 0, {0, 3, 1, 2}},
        {"a failing leader gives way", {V6, V6, V4, V4}, Bit6, {2, 0, 3, 1}},
        {"a failing follower changes nothing", {V6, V4, V6, V4}, Bit4, {0, 1, 2, 3}},
        {"both failing: the system's order", {V6, V4}, Bit4 | Bit6, {0, 1}},
        {"nothing else to lead", {V6, V6}, Bit6, {0, 1}},
        {"one address", {V4}, 0, {0}},
        {"no address", {}, 0, {}},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(AttemptOrder(c.Listed, c.Failing), c.Order) << c.Name;
}

// A race run on a fake clock: `Tick` starts whatever is due, as the socket layer does.
struct TRaceRun {
    TAttemptRace Race;
    std::vector<size_t> Started;
    std::vector<uint64_t> StartedAt;

    TRaceRun(std::vector<TFamily> families, uint32_t delayMs)
        : Race(std::move(families), delayMs) {}
    void Tick(uint64_t now) {
        while (const auto i = Race.Start(now)) {
            Started.push_back(*i);
            StartedAt.push_back(now);
        }
    }
};

TEST(Eyeballs, TheNextAttemptStartsOnTheTimerOrAtOnceWhenAllSoFarFailed) {
    TRaceRun r({V6, V4, V6}, 250);
    EXPECT_EQ(r.Race.UntilNext(0), 0u);
    r.Tick(0);
    EXPECT_EQ(r.Started, (std::vector<size_t>{0}));
    EXPECT_EQ(r.Race.UntilNext(100), 150u);
    r.Tick(249);
    EXPECT_EQ(r.Started.size(), 1u) << "not before its head start is over";
    r.Tick(250);
    EXPECT_EQ(r.Started, (std::vector<size_t>{0, 1}));
    // A late wake-up: the next head start counts from when this one began.
    r.Tick(600);
    r.Tick(800);
    EXPECT_EQ(r.StartedAt, (std::vector<uint64_t>{0, 250, 600}));
    EXPECT_EQ(r.Race.UntilNext(900), std::nullopt) << "nothing left to start";

    TRaceRun fast({V6, V4}, 250);
    fast.Tick(0);
    fast.Race.Failed(0);
    EXPECT_EQ(fast.Race.UntilNext(10), 0u);
    fast.Tick(10);
    EXPECT_EQ(fast.StartedAt, (std::vector<uint64_t>{0, 10})) << "no wait after a refusal";

    TRaceRun partly({V6, V4, V6}, 250);
    partly.Tick(0);
    partly.Tick(250);
    partly.Race.Failed(0);
    EXPECT_EQ(partly.Race.UntilNext(300), 200u) << "one still runs: its head start holds";
}

TEST(Eyeballs, ARaceEndsWithItsFirstConnectionOrWhenEveryAddressHasFailed) {
    TRaceRun r({V6, V4, V6, V4}, 250);
    r.Tick(0);
    r.Race.Failed(0);
    r.Tick(5);
    EXPECT_FALSE(r.Race.Lost()) << "addresses are still to come";
    r.Race.Connected(1);
    r.Race.Connected(0); // failed already
    EXPECT_EQ(r.Race.Winner(), 1u);
    r.Tick(5000);
    EXPECT_EQ(r.Started.size(), 2u) << "no attempt after the race is won";

    TRaceRun lost({V6, V4}, 250);
    lost.Race.Connected(1); // never started
    lost.Tick(0);
    lost.Race.Failed(0);
    lost.Tick(1);
    lost.Race.Failed(1);
    EXPECT_EQ(lost.Race.Winner(), std::nullopt);
    EXPECT_TRUE(lost.Race.Lost());
    EXPECT_TRUE(TAttemptRace({}, 250).Lost()) << "a name without addresses";
}

TEST(Eyeballs, ARaceTellsWhichFamiliesWorkedAndWhichFailed) {
    struct TEvent {
        enum { Fail, Connect } What;
        size_t Attempt;
        uint64_t At;
    };
    struct TCase {
        const char* Name;
        std::vector<TFamily> Families;
        std::vector<TEvent> Events;
        TFamilies Worked, Failing;
    };
    const TCase cases[] = {
        {"silent IPv6, IPv4 wins after its head start",
         {V6, V4},
         {{TEvent::Connect, 1, 260}},
         Bit4,
         Bit6},
        {"IPv6 refused outright",
         {V6, V4},
         {{TEvent::Fail, 0, 3}, {TEvent::Connect, 1, 5}},
         Bit4,
         Bit6},
        {"IPv6 wins at once", {V6, V4}, {{TEvent::Connect, 0, 20}}, Bit6, 0},
        {"IPv6 wins a close race against IPv4 started after it",
         {V6, V4},
         {{TEvent::Connect, 0, 270}},
         Bit6,
         0},
        {"a second IPv6 address makes up for the first",
         {V6, V4, V6},
         {{TEvent::Fail, 0, 10}, {TEvent::Connect, 2, 280}},
         Bit6,
         Bit4},
        {"all refused", {V6, V4}, {{TEvent::Fail, 0, 1}, {TEvent::Fail, 1, 2}}, 0, Bit4 | Bit6},
        {"no answer at all teaches nothing", {V6, V4}, {}, 0, 0},
    };
    for (const TCase& c : cases) {
        TRaceRun r(c.Families, 250);
        uint64_t now = 0;
        r.Tick(now);
        for (const TEvent& e : c.Events) {
            for (; now < e.At; now += 5)
                r.Tick(now);
            if (e.What == TEvent::Fail)
                r.Race.Failed(e.Attempt);
            else
                r.Race.Connected(e.Attempt);
            r.Tick(now);
        }
        EXPECT_EQ(r.Race.Worked(), c.Worked) << c.Name;
        EXPECT_EQ(r.Race.Failing(), c.Failing) << c.Name;
    }
}

TEST(Eyeballs, TheMemoryKeepsAFailedFamilyPerHostUntilItWorks) {
    TFamilyMemory m;
    m.Learn("dl1.orlenz.com", 0, Bit6);
    EXPECT_EQ(m.Failing("DL1.Orlenz.com"), Bit6);
    EXPECT_EQ(m.Failing("dl2.orlenz.com"), 0) << "another host";
    m.Learn("dl1.orlenz.com", Bit4, 0);
    EXPECT_EQ(m.Failing("dl1.orlenz.com"), Bit6) << "the other family working says nothing";
    m.Learn("dl1.orlenz.com", 0, Bit4);
    EXPECT_EQ(m.Failing("dl1.orlenz.com"), Bit4 | Bit6);
    m.Learn("dl1.orlenz.com", Bit6, 0);
    EXPECT_EQ(m.Failing("dl1.orlenz.com"), Bit4);
    m.Learn("dl1.orlenz.com", Bit4, Bit6);
    EXPECT_EQ(m.Failing("dl1.orlenz.com"), Bit6);
}

// One connection of a task as the socket layer makes it: order, race, lesson. `answers`
// says per family after how many ms an attempt connects (nothing: never answers).
struct THost {
    std::optional<uint64_t> V4Ms, V6Ms;
};

// When the connection is made (ms after it began; nothing: never), and over which family.
std::pair<std::optional<uint64_t>, std::optional<TFamily>>
ConnectOnce(TFamilyMemory& memory, const THost& host, const std::vector<TFamily>& listed) {
    const std::vector<size_t> order = AttemptOrder(listed, memory.Failing("mirror"));
    std::vector<TFamily> families;
    for (size_t i : order)
        families.push_back(listed[i]);
    TAttemptRace race(families, 250);
    std::vector<uint64_t> startedAt;
    for (uint64_t now = 0; now <= 30000 && !race.Winner() && !race.Lost(); ++now) {
        while (const auto i = race.Start(now))
            startedAt.push_back(now);
        for (size_t i = 0; i < startedAt.size(); ++i) {
            const auto answer = families[i] == V4 ? host.V4Ms : host.V6Ms;
            if (answer && startedAt[i] + *answer == now) race.Connected(i);
        }
    }
    memory.Learn("mirror", race.Worked(), race.Failing());
    if (!race.Winner()) return {std::nullopt, std::nullopt};
    const size_t w = *race.Winner();
    const auto answer = families[w] == V4 ? host.V4Ms : host.V6Ms;
    return {startedAt[w] + *answer, families[w]};
}

TEST(Eyeballs, ATasksConnectionsWaitOutABrokenFamilyOnceAndComeBackWhenItWorks) {
    TFamilyMemory memory;
    const std::vector<TFamily> listed = {V6, V4};
    const THost broken{2, std::nullopt};
    auto [at, family] = ConnectOnce(memory, broken, listed);
    EXPECT_EQ(at, 252u) << "the first connection gives IPv6 its head start";
    EXPECT_EQ(family, V4);
    for (int connection = 0; connection < 3; ++connection) {
        std::tie(at, family) = ConnectOnce(memory, broken, listed);
        EXPECT_EQ(at, 2u) << "later connections lead with IPv4";
        EXPECT_EQ(family, V4);
    }
    // IPv4 slows down and IPv6 is back: IPv6 wins a race again and leads from then on.
    const THost healed{400, 3};
    std::tie(at, family) = ConnectOnce(memory, healed, listed);
    EXPECT_EQ(at, 253u);
    EXPECT_EQ(family, V6);
    std::tie(at, family) = ConnectOnce(memory, healed, listed);
    EXPECT_EQ(at, 3u);
    EXPECT_EQ(family, V6);
    // A host with only IPv4 addresses pays nothing for any of this.
    TFamilyMemory fresh;
    std::tie(at, family) = ConnectOnce(fresh, broken, {V4});
    EXPECT_EQ(at, 2u);
    std::tie(at, family) = ConnectOnce(fresh, {std::nullopt, std::nullopt}, {V6, V4});
    EXPECT_EQ(at, std::nullopt) << "nothing answers: no connection";
}

// The first request waits for the https try a head start while the port is silent, the try's
// whole time once the port has answered, and never beyond either.
TEST(Eyeballs, TheFirstRequestWaitsForHttpsOnlyWhileItsPortCouldStillAnswerInTime) {
    const struct {
        bool Answered;
        uint32_t Elapsed, Left;
    } cases[] = {
        {false, 0, 250},  {false, 249, 1},  {false, 250, 0},   {false, 2000, 0},
        {true, 249, 2751}, {true, 2999, 1}, {true, 3000, 0},   {true, 4000, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HttpsWaitLeftMs(c.Answered, c.Elapsed, 250, 3000), c.Left)
            << c.Answered << " at " << c.Elapsed;
}

} // namespace
} // namespace xldl
