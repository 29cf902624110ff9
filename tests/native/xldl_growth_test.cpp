// How many connections a source gets, driven as the planner drives it: connections join a
// while after the count allows them, one too many of those goes (connections that keep
// requests queued, as those taken over at the start do, never come to be asked), and bytes
// arrive at what each connection and the server's whole cap allow.
#include "xldl/core/Growth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace xldl {
namespace {

struct TServer {
    int64_t PerConnection; // bytes per second one connection carries
    int64_t Cap;           // bytes per second for all of them together (0: none)
};

class TDriven {
public:
    TDriven(TServer server, int takenOver) : Server(server), TakenOver(takenOver) {
        Growth.Reset(1, 0);
        // Connections asked before the file was known, all delivering from the start.
        for (int i = 0; i < takenOver; ++i)
            Growth.Joined(0, 0);
    }

    int Flowing() const { return TakenOver + Added; }

    // Runs until `untilMs`, with at most `allowed` connections.
    void Run(uint64_t untilMs, int allowed = 4) {
        for (; Now < untilMs; Now += StepMs) {
            const int target = Growth.Target(0, allowed, false, Now);
            Joining.erase(std::remove_if(Joining.begin(), Joining.end(),
                                         [&](uint64_t at) {
                                             if (at > Now) return false;
                                             Growth.Joined(0, Now);
                                             ++Added;
                                             return true;
                                         }),
                          Joining.end());
            while (Flowing() + static_cast<int>(Joining.size()) < target)
                Joining.push_back(Now + JoinMs);
            if (Flowing() > target && Added > 0) {
                Growth.Stopped(0, Now);
                --Added;
            }
            if (Flowing() == 0) continue;
            int64_t each = Server.PerConnection;
            if (Server.Cap) each = std::min(each, Server.Cap / Flowing());
            for (int i = 0; i < Flowing(); ++i)
                Growth.Delivered(0, each * static_cast<int64_t>(StepMs) / 1000, Now);
        }
    }

    static constexpr uint64_t StepMs = 10;
    static constexpr uint64_t JoinMs = 40; // connect and first byte
    TGrowth Growth;
    TServer Server;
    const int TakenOver; // those never come to be asked to go
    int Added = 0;       // joined on the count's say
    uint64_t Now = 1;
    std::vector<uint64_t> Joining;
};

TEST(Growth, ConnectionsAreAddedWhileTheyAddSpeedAndCountThoseTakenOverAtTheStart) {
    struct TCase {
        const char* What;
        TServer Server;
        int TakenOver;
        int Expected;
    } cases[] = {
        {"each adds, from one", {1000000, 0}, 1, 4},
        // Two asked before the file was known deliver from the start: the next probe adds a
        // third to them rather than wait for one they already are.
        {"each adds, two taken over", {1000000, 0}, 2, 4},
        {"each adds, all taken over", {1000000, 0}, 4, 4},
        // The server's cap is two connections' worth: a third adds nothing and goes.
        {"capped at two, from one", {1000000, 2000000}, 1, 2},
        {"capped at two, two taken over", {1000000, 2000000}, 2, 2},
    };
    for (const TCase& c : cases) {
        TDriven d(c.Server, c.TakenOver);
        d.Run(2500);
        EXPECT_EQ(d.Flowing(), c.Expected) << c.What;
    }
}

TEST(Growth, ARefusalTakesOneAwayForAWhileAndProbingThenBeginsAgain) {
    TDriven d({1000000, 0}, 1);
    d.Run(2500);
    ASSERT_EQ(d.Flowing(), 4);
    d.Growth.Refused(0, d.Now);
    d.Run(d.Now + TGrowth::HoldMs - 1000);
    EXPECT_EQ(d.Flowing(), 3) << "held at one fewer";
    d.Run(d.Now + 3000);
    EXPECT_EQ(d.Flowing(), 4) << "probing again after the hold";
}

} // namespace
} // namespace xldl
