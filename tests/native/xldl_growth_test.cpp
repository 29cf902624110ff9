// How many connections a source gets, driven as the planner drives it: connections join a
// while after the count allows them, one too many of those goes (connections that keep
// requests queued, as those taken over at the start do, never come to be asked), and bytes
// arrive at what each connection, the server's whole cap and a link two sources share allow.
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

// Sources, each on its server, behind a link whose cap (0: none) they share.
class TDriven {
public:
    TDriven(std::vector<TServer> servers, std::vector<int> takenOver, int64_t link = 0)
        : Servers(std::move(servers)), TakenOver(std::move(takenOver)), Link(link),
          Added(Servers.size()), Joining(Servers.size()) {
        Growth.Reset(static_cast<int>(Servers.size()), 0);
        // Connections asked before the file was known, all delivering from the start.
        for (size_t s = 0; s < Servers.size(); ++s)
            for (int i = 0; i < TakenOver[s]; ++i)
                Growth.Joined(static_cast<int>(s), 0);
    }
    TDriven(TServer server, int takenOver)
        : TDriven(std::vector<TServer>{server}, std::vector<int>{takenOver}) {}

    int Flowing(size_t s = 0) const { return TakenOver[s] + Added[s]; }

    // Runs until `untilMs`, with at most `allowed` connections for each source.
    void Run(uint64_t untilMs, int allowed = 4) {
        for (; Now < untilMs; Now += StepMs) {
            std::vector<int64_t> each(Servers.size());
            int64_t total = 0;
            for (size_t s = 0; s < Servers.size(); ++s) {
                Steer(s, Growth.Target(static_cast<int>(s), allowed, false, Now));
                each[s] = Servers[s].PerConnection;
                if (Flowing(s) && Servers[s].Cap)
                    each[s] = std::min(each[s], Servers[s].Cap / Flowing(s));
                total += each[s] * Flowing(s);
            }
            for (size_t s = 0; s < Servers.size(); ++s) {
                if (Link && total > Link) each[s] = each[s] * Link / total;
                for (int i = 0; i < Flowing(s); ++i)
                    Growth.Delivered(static_cast<int>(s), each[s] * int64_t{StepMs} / 1000, Now);
            }
        }
    }

    static constexpr uint64_t StepMs = 10;
    static constexpr uint64_t JoinMs = 40; // connect and first byte
    TGrowth Growth;
    const std::vector<TServer> Servers;
    const std::vector<int> TakenOver; // those never come to be asked to go
    const int64_t Link;
    std::vector<int> Added; // joined on the count's say
    uint64_t Now = 1;

private:
    // Connections join a while after the count allows them; one too many goes.
    void Steer(size_t s, int target) {
        auto& joining = Joining[s];
        joining.erase(std::remove_if(joining.begin(), joining.end(),
                                     [&](uint64_t at) {
                                         if (at > Now) return false;
                                         Growth.Joined(static_cast<int>(s), Now);
                                         ++Added[s];
                                         return true;
                                     }),
                      joining.end());
        while (Flowing(s) + static_cast<int>(joining.size()) < target)
            joining.push_back(Now + JoinMs);
        if (Flowing(s) > target && Added[s] > 0) {
            Growth.Stopped(static_cast<int>(s), Now);
            --Added[s];
        }
    }
    std::vector<std::vector<uint64_t>> Joining;
};

TEST(Growth, ConnectionsAreAddedWhileTheyAddSpeedAndCountThoseTakenOverAtTheStart) {
    struct TCase {
        const char* What;
        TServer Server;
        int TakenOver;
        int Allowed;
    } cases[] = {
        {"each adds, from one", {1000000, 0}, 1, 4},
        // Those asked before the file was known deliver from the start: the next probe adds
        // to them rather than wait for one they already are.
        {"each adds, two taken over", {1000000, 0}, 2, 4},
        {"each adds, four taken over, six allowed", {1000000, 0}, 4, 6},
        // The server's cap is two connections' worth: a third adds nothing and goes.
        {"capped at two, from one", {1000000, 2000000}, 1, 4},
        {"capped at two, two taken over", {1000000, 2000000}, 2, 4},
    };
    for (const TCase& c : cases) {
        TDriven d(c.Server, c.TakenOver);
        d.Run(2500, c.Allowed);
        // As many as add speed: all allowed, or as many as the cap has room for.
        const int adding =
            c.Server.Cap ? static_cast<int>(c.Server.Cap / c.Server.PerConnection) : c.Allowed;
        EXPECT_EQ(d.Flowing(), std::min(adding, c.Allowed)) << c.What;
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

// One probe at a time, judged by the task's throughput: a source gains a connection only where
// the task gains, never by taking the other's share of what they pass through together.
TEST(Growth, TwoSourcesGrowOnlyWhileTheTaskGains) {
    const TServer free{1000000, 0};
    struct TCase {
        const char* What;
        TServer A, B;
        int64_t Link;
    } cases[] = {
        {"each on a server of its own", free, free, 0},
        {"one server capped at two", {1000000, 2000000}, free, 0},
        {"behind one link of three connections' worth", free, free, 3000000},
    };
    constexpr int Allowed = 4;
    for (const TCase& c : cases) {
        TDriven d({c.A, c.B}, {1, 1}, c.Link);
        d.Run(6000, Allowed);
        const auto adding = [&](const TServer& s) {
            return std::min<int>(Allowed,
                                 s.Cap ? static_cast<int>(s.Cap / s.PerConnection) : Allowed);
        };
        if (!c.Link) {
            EXPECT_EQ(d.Flowing(0), adding(c.A)) << c.What;
            EXPECT_EQ(d.Flowing(1), adding(c.B)) << c.What;
        } else {
            // Which source has them is a matter of which was probed when.
            EXPECT_EQ(d.Flowing(0) + d.Flowing(1), c.Link / free.PerConnection) << c.What;
        }
    }
}

} // namespace
} // namespace xldl
