// The transfer's decisions with a clock of our own: connections per pass, early shares, what
// each request asks for and the windows beside it, what a failed connection does, and whole
// downloads played through the planner by simulated connections, of a file that stays the same
// and of one replaced half way.
#include "xldl/core/Origins.h"
#include "xldl/core/Planner.h"

#include "engine/XLDownload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <set>

namespace xldl {
namespace {

constexpr int64_t Seg = 256 * 1024;

TPlanSettings Settings(bool many = true) {
    TPlanSettings s;
    s.SegmentBytes = Seg;
    s.MaxConnections = 4;
    s.ManyConnections = many;
    s.GiveUpMs = 10000;
    s.RetryBaseMs = 100;
    s.RetryCapMs = 2000;
    return s;
}

TUrl Start() {
    return *ParseUrl("http://mirror.test/setup.exe");
}

TSourceFacts Said(int64_t total, const std::string& validator) {
    TSourceFacts f;
    f.Total = total;
    f.Validator = validator;
    return f;
}

// What a state kept of a file at Start() without validator.
TFileFacts Kept(int64_t total, std::vector<TByteRange> done) {
    TFileFacts f;
    f.Location = Start();
    f.Total = total;
    f.Sources = {{FormatUrl(Start()), Start(), ""}};
    f.Done = std::move(done);
    return f;
}

// Connections kept ready on a long round trip: the planner gives them work at once.
constexpr uint32_t FarConnectMs = 50;

std::vector<uint8_t> Bytes(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> b(size);
    for (auto& x : b)
        x = static_cast<uint8_t>(random());
    return b;
}

// A planner whose first answer came on connection 0: `total` bytes, `validator` ("" for
// none). `far`: the connections kept ready connected over a long trip (so all are wanted at
// once, and ask early); Parts counts the connections at work then.
struct TOpened {
    explicit TOpened(int64_t total, const std::string& validator = "\"v1\"", bool many = true,
                     bool far = false, bool whole = false, bool broken = false)
        : Planner(Settings(many), {Start()}, 0) {
        if (broken) Planner.Sources()[0].RangesUsable = false;
        Begun = Planner.BeginPass(-1, 0);
        for (const TPlanner::TStart& s : Begun)
            if (s.Role == TPlanner::TRole::Standby && far) Planner.Connected(s.Id, FarConnectMs);
        FirstClaim =
            Planner
                .Opened(0, Said(total, validator), whole ? total : std::min(total, Seg), whole, 0)
                .Claim;
        Parts = 1;
        for (const TPlanner::TStart& s : Begun)
            if (s.Role == TPlanner::TRole::Standby &&
                Planner.Call(s.Id, 1) == TPlanner::TCall::Work)
                ++Parts;
    }
    TPlanner Planner;
    std::vector<TPlanner::TStart> Begun;
    int Parts = 0;
    int FirstClaim = -1;
};

TEST(Planner, ConnectionsFollowTheSizeAndWhatTheServerAllows) {
    struct {
        int64_t total;
        bool whole, many, broken;
        int parts;
    } cases[] = {
        {Seg / 2, false, true, false, 1},   // one share
        {2 * Seg, false, true, false, 2},   // two
        {64 * Seg, false, true, false, 4},  // at most four
        {64 * Seg, true, true, false, 1},   // a whole-file answer stays one stream
        {64 * Seg, false, false, false, 1}, // the caller wants one
        {64 * Seg, false, true, true, 1},   // ranges broken
        {-1, true, true, false, 1},         // no size
    };
    for (const auto& c : cases) {
        TOpened o(c.total, "", c.many, true, c.whole, c.broken);
        EXPECT_EQ(o.Parts, c.parts) << c.total << " whole=" << c.whole << " many=" << c.many;
    }
    // No validator is no reason for one connection any more: the windows guard.
    TOpened bare(64 * Seg, "", true, true);
    EXPECT_EQ(bare.Parts, 4);
    EXPECT_TRUE(bare.Planner.Guarded(0));
    // Near, connections come one at a time, as they prove to add throughput, unless the first
    // one carries little: then the others cost next to nothing and come at once. A second's
    // worth in a burst is little; the first tenth of a fast second is not.
    TOpened near(64 * Seg, "");
    EXPECT_EQ(near.Parts, 1);
    const struct {
        const char* What;
        uint64_t Ms;    // the answer's time so far
        int64_t Bytes;  // what came in it
        uint64_t Asked; // when the others are called, its last bytes having come at Ms
        int More;
    } feeds[] = {{"a second at 4 MB/s", 1000, 4000000, 1000, 3},
                 {"a second at 50 MB/s", 1000, 50000000, 1000, 0},
                 {"the first 100 ms at 50 MB/s", 100, 5000000, 100, 0},
                 {"a burst of 6 MB, then a pause", 30, 6000000, 300, 3}};
    for (const auto& k : feeds) {
        TOpened o(64 * Seg, "");
        TPace pace(64 * 1024, Seg);
        pace.BodyBegins(0);
        pace.Arrived(k.Ms, k.Bytes);
        o.Planner.Measured(0, pace, k.Ms);
        int working = 0;
        for (const TPlanner::TStart& s : o.Begun)
            if (s.Role == TPlanner::TRole::Standby &&
                o.Planner.Call(s.Id, k.Asked) == TPlanner::TCall::Work)
                ++working;
        EXPECT_EQ(working, k.More) << k.What;
    }
}

TEST(Planner, EarlySharesAreClaimedAndGivenBackWhenTheirRequestNeverWent) {
    for (const std::string validator : {"\"v1\"", ""}) {
        TOpened o(10 * Seg, validator, true, true);
        TPlanner& p = o.Planner;
        TPlan plans[4];
        const int sent1 = p.TakeEarly(1, true, plans[1]);
        const int sent3 = p.TakeEarly(3, true, plans[3]);
        ASSERT_GE(sent1, 0);
        ASSERT_GE(sent3, 0);
        // The request went for [k*Seg, (k+1)*Seg); under the guard its first bytes are a window.
        const int64_t window = validator.empty() ? TOverlapGuard::WindowBytes : 0;
        EXPECT_EQ(plans[1].Question.From, Seg);
        EXPECT_EQ(plans[1].WriteFrom, Seg + window) << validator;
        EXPECT_EQ(plans[1].WriteEnd, 2 * Seg);
        EXPECT_EQ(plans[1].Question.MustName, true);
        // Connection 2 could not connect: its share must not stay held by nobody.
        TPlan none;
        EXPECT_EQ(p.TakeEarly(2, false, none), -1);
        TPace pace(64 * 1024, Seg);
        TPlan next;
        ASSERT_EQ(p.Next(0, pace, true, next, 1), TPlanner::TNext::Ask);
        EXPECT_EQ(next.WriteFrom, validator.empty() ? Seg : 2 * Seg) << validator;
        // Everything is handed out in the end: nothing is left that nobody will read.
        int64_t handed = 0;
        for (TPlan more; p.Next(0, pace, true, more, 1) == TPlanner::TNext::Ask;)
            handed += more.WriteEnd - more.WriteFrom;
        EXPECT_EQ(p.Table().Free(), 0);
        EXPECT_GT(handed, 0);
    }
    // A connect that looked near (a proxy's, a relay's) with no first answer a far round trip
    // later: the server is far after all, and they ask early.
    TPlanner n(Settings(), {Start()}, 0);
    for (const TPlanner::TStart& s : n.BeginPass(-1, 0)) {
        if (s.Role != TPlanner::TRole::Standby) continue;
        n.Connected(s.Id, 1);
        TQuestion q;
        EXPECT_FALSE(n.AsksEarly(s.Id, q));
        n.Unanswered(s.Id);
        EXPECT_TRUE(n.AsksEarly(s.Id, q) && q.From >= Seg);
    }
    // The first request met a refusal: the connections kept ready go rather than ask early.
    TPlanner p(Settings(), {Start()}, 0);
    const auto begun = p.BeginPass(-1, 0);
    for (const TPlanner::TStart& s : begun)
        p.Connected(s.Id, FarConnectMs);
    p.CallOffEarly();
    for (const TPlanner::TStart& s : begun) {
        if (s.Role != TPlanner::TRole::Standby) continue;
        TQuestion q;
        EXPECT_FALSE(p.AsksEarly(s.Id, q));
        EXPECT_EQ(p.Call(s.Id, 1), TPlanner::TCall::Quit);
    }
}

TEST(Planner, GuardedRequestsCarryWindowsWithinTheLargestRequest) {
    TOpened o(40 * Seg, "");
    TPlanner& p = o.Planner;
    TPace pace(64 * 1024, Seg);
    TPlan a;
    ASSERT_EQ(p.Next(0, pace, false, a, 1), TPlanner::TNext::Ask);
    EXPECT_EQ(a.WriteFrom, Seg) << "right after the first answer's share";
    EXPECT_EQ(a.Question.From, Seg - TOverlapGuard::WindowBytes);
    EXPECT_EQ(a.Question.End, a.WriteEnd) << "nothing after it is written yet";
    EXPECT_LE(a.Question.End - a.Question.From, Seg) << "no request asks for more than a segment";
    EXPECT_TRUE(a.Question.Validator.empty());
    EXPECT_FALSE(a.Question.Named);
    // With validators there is no window and the share may fill the request.
    TOpened v(40 * Seg);
    TPlan b;
    ASSERT_EQ(v.Planner.Next(0, pace, false, b, 1), TPlanner::TNext::Ask);
    EXPECT_EQ(b.Question.From, b.WriteFrom);
    EXPECT_EQ(b.Question.End, b.WriteEnd);
    EXPECT_EQ(b.Question.Validator, "\"v1\"");

    // Resumed from disk with a hole between written ranges: a window on each side.
    TPlanner r(Settings(), {Start()}, 0);
    r.Resume(Kept(8 * Seg, {{0, 3 * Seg}, {3 * Seg + Seg / 2, 8 * Seg}}));
    r.BeginPass(-1, 0);
    TPlan hole;
    ASSERT_EQ(r.Next(0, pace, false, hole, 1), TPlanner::TNext::Ask);
    EXPECT_EQ(hole.WriteFrom, 3 * Seg);
    EXPECT_EQ(hole.WriteEnd, 3 * Seg + Seg / 2);
    EXPECT_EQ(hole.Question.From, 3 * Seg - TOverlapGuard::WindowBytes);
    EXPECT_EQ(hole.Question.End, 3 * Seg + Seg / 2 + TOverlapGuard::WindowBytes);
}

TEST(Planner, ShortAnswersCapLaterRequestsAndBrokenRangesRestart) {
    TOpened o(40 * Seg);
    TPlanner& p = o.Planner;
    TPace pace(1, 16 * Seg);
    p.AnsweredShort(0, 100000);
    TPlan a;
    ASSERT_EQ(p.Next(0, pace, false, a, 1), TPlanner::TNext::Ask);
    EXPECT_LE(a.Question.End - a.Question.From, 100000);
    p.Sources()[0].RangesUsable = false;
    EXPECT_EQ(p.Next(0, pace, false, a, 1), TPlanner::TNext::Restart);
    EXPECT_EQ(p.Table().Free(), 40 * Seg - Seg - (a.WriteEnd - a.WriteFrom))
        << "the claim it did not ask for is free again";
    // With nothing free to fetch there is nothing to start over for.
    TOpened whole(Seg / 2);
    whole.Planner.Sources()[0].RangesUsable = false;
    TPlan none;
    EXPECT_EQ(whole.Planner.Next(0, pace, true, none, 1), TPlanner::TNext::Nothing);
    // A whole-file answer of unknown length: nothing to ask while it is read; cut, the file
    // starts over (what it did not bring cannot be asked for apart).
    TOpened stream(-1, "", true, false, true);
    EXPECT_EQ(stream.Planner.Next(0, pace, false, none, 1), TPlanner::TNext::Nothing);
    stream.Planner.Table().Release(stream.FirstClaim);
    EXPECT_EQ(stream.Planner.Next(0, pace, true, none, 1), TPlanner::TNext::Nothing);
    EXPECT_EQ(stream.Planner.Next(0, pace, false, none, 1), TPlanner::TNext::Restart);
}

TEST(Planner, FailuresAreAskedAgainRetiredPausedOrGivenUp) {
    struct {
        const char* what;
        TFailure failure;
        int active;
        uint64_t quietMs;
        TRecovery recovery;
    } cases[] = {
        // The keep-alive limit: a connection that answered others closes with requests
        // unanswered. Neither a refusal nor a reason to pause, however many connections work.
        {"closed after serving, four working", {false, true, {}}, 4, 0, TRecovery::AskAgain},
        {"closed after serving, alone", {false, true, {}}, 1, 0, TRecovery::AskAgain},
        {"turned away beside others", {true, false, {}}, 4, 0, TRecovery::Retire},
        {"turned away alone", {true, false, {}}, 1, 0, TRecovery::Wait},
        {"dropped", {false, false, {}}, 4, 0, TRecovery::Wait},
        // Beside others that deliver nothing either: the source is down, one keeps trying.
        {"dropped, nothing for long", {false, false, {}}, 4, 5000, TRecovery::Retire},
        {"dropped after the budget", {false, false, {}}, 1, 10000, TRecovery::GiveUp},
        // Connections that seem to serve and never bring a byte do not go on for ever.
        {"closed after serving, after the budget", {false, true, {}}, 1, 10000, TRecovery::GiveUp},
    };
    for (const auto& c : cases) {
        TOpened o(40 * Seg, "\"v1\"", c.active > 1, true);
        ASSERT_EQ(o.Parts, c.active) << c.what;
        const TDecision d = o.Planner.Failed(0, c.failure, 0, c.quietMs, 0.5);
        EXPECT_EQ(d.Recovery, c.recovery) << c.what;
        if (c.recovery == TRecovery::Retire) {
            EXPECT_EQ(o.Planner.ActiveConnections(), c.active - 1) << c.what;
        }
        if (c.recovery == TRecovery::Wait) {
            EXPECT_EQ(o.Planner.WaitingConnections(), 1) << c.what;
        }
    }
    // Pauses grow, honour Retry-After, and never outlast what is left of the budget.
    TOpened o(40 * Seg, "\"v1\"", false);
    const uint32_t first = o.Planner.Failed(0, {}, 0, 0, 0.5).DelayMs;
    const uint32_t third = o.Planner.Failed(0, {}, 2, 0, 0.5).DelayMs;
    EXPECT_LT(first, third);
    EXPECT_GE(o.Planner.Failed(0, {false, false, 1}, 0, 0, 0.0).DelayMs, 1000u);
    EXPECT_LE(o.Planner.Failed(0, {false, false, 60}, 5, 9500, 0.9).DelayMs, 500u);
    // A byte written is progress: the budget starts again.
    o.Planner.Table().Reserve(o.FirstClaim, 10);
    const auto b = Bytes(10, 1);
    o.Planner.Wrote(o.FirstClaim, 0, b.data(), 10, 9000);
    EXPECT_EQ(o.Planner.Failed(0, {}, 0, 15000, 0.5).Recovery, TRecovery::Wait);
    // A connection the planner no longer holds pauses as well.
    EXPECT_EQ(o.Planner.Failed(99, {}, 0, 15000, 0.5).Recovery, TRecovery::Wait);
}

TEST(Planner, AServerThatEndsConnectionsEveryFewRequestsGetsThemAtOnce) {
    // Connections that go again every few requests idle in each gap, and rates measured
    // across such gaps tell nothing: the count is not probed for but given. A limit of many
    // requests changes nothing.
    for (int answers : {3, 100}) {
        TOpened o(40 * Seg);
        ASSERT_EQ(o.Parts, 1);
        EXPECT_EQ(o.Planner.Failed(0, {false, true, {}, answers}, 0, 10, 0.5).Recovery,
                  TRecovery::AskAgain);
        int working = 1;
        for (const TPlanner::TStart& s : o.Begun)
            if (s.Role == TPlanner::TRole::Standby &&
                o.Planner.Call(s.Id, 20) == TPlanner::TCall::Work)
                ++working;
        EXPECT_EQ(working, answers == 3 ? 4 : 1) << answers << " answers per connection";
    }
}

TEST(Overlap, WindowsAreComparedWithTheBytesWrittenWhereverTheyFall) {
    const auto file = Bytes(100000, 3);
    const auto other = Bytes(100000, 4);
    TOverlapGuard g;
    g.Expect(1000, file.data() + 1000, 2000);
    EXPECT_EQ(g.Waiting(), 2000);
    // Written in pieces that cut the window in the middle and overrun both of its ends.
    EXPECT_TRUE(g.Written(1500, file.data() + 1500, 500));
    EXPECT_EQ(g.Waiting(), 1500) << "what was compared is let go, on both sides of it";
    EXPECT_TRUE(g.Written(0, file.data(), 1500));
    EXPECT_TRUE(g.Written(2000, file.data() + 2000, 5000));
    EXPECT_EQ(g.Waiting(), 0);
    // Bytes of another version, anywhere in a window, even one byte.
    for (int64_t at : {1000, 1777, 2999}) {
        TOverlapGuard h;
        h.Expect(1000, file.data() + 1000, 2000);
        auto mixed = file;
        mixed[static_cast<size_t>(at)] ^= 1;
        EXPECT_FALSE(h.Written(0, mixed.data(), 4000)) << at;
    }
    TOverlapGuard two;
    two.Expect(500, other.data() + 500, 100);
    EXPECT_TRUE(two.Written(0, file.data(), 500)) << "beside it, not in it";
    EXPECT_FALSE(two.Written(550, file.data() + 550, 10));
}

// What a connection's answer is made of: the file as the server (its source) holds it when
// the request reaches it, `delivered` bytes into the download.
using TServes = std::function<const std::vector<uint8_t>*(int id, int64_t delivered)>;

// Plays a whole download through the planner: connections `ids` each ask, then deliver their
// answers in turns of about 48 KiB from what `serves` says they serve. Returns whether the
// planner saw a mixture; `disk` is what was written, `versions` how many distinct files
// answered.
bool Play(TPlanner& p, const std::vector<int>& ids, const TServes& serves, size_t size,
          std::vector<uint8_t>& disk, int& versions) {
    disk.assign(size, 0);
    std::vector<const std::vector<uint8_t>*> answered;
    versions = 0;
    int64_t delivered = 0;
    struct TConn {
        int id = 0;
        TPlan plan;
        int64_t at = 0;
        bool busy = false;
        const std::vector<uint8_t>* served = nullptr;
        TPace pace{64 * 1024, Seg};
    };
    std::vector<TConn> conns(ids.size());
    for (size_t i = 0; i < ids.size(); ++i)
        conns[i].id = ids[i];
    for (int round = 0; round < 100000; ++round) {
        bool any = false;
        for (size_t i = 0; i < conns.size(); ++i) {
            TConn& c = conns[i];
            if (!c.busy) {
                if (p.Next(c.id, c.pace, false, c.plan, 1) != TPlanner::TNext::Ask) continue;
                c.busy = true;
                c.at = c.plan.Question.From;
                c.served = serves(c.id, delivered);
                if (std::find(answered.begin(), answered.end(), c.served) == answered.end())
                    answered.push_back(c.served);
                versions = static_cast<int>(answered.size());
                p.Table().StartReading(c.plan.Claim);
            }
            any = true;
            const int64_t end = c.plan.Question.End;
            const int64_t n =
                std::min<int64_t>(48 * 1024 + 1000 * static_cast<int64_t>(i), end - c.at);
            const uint8_t* data = c.served->data() + c.at;
            delivered += n;
            int64_t pos = c.at;
            const int64_t stop = c.at + n;
            while (pos < stop) {
                if (pos < c.plan.WriteFrom || pos >= c.plan.WriteEnd) {
                    const int64_t until =
                        pos < c.plan.WriteFrom ? std::min(stop, c.plan.WriteFrom) : stop;
                    for (const TByteRange& r :
                         p.Window(pos, data + (pos - c.at), static_cast<size_t>(until - pos)))
                        if (std::memcmp(disk.data() + r.Start, data + (r.Start - c.at),
                                        static_cast<size_t>(r.End - r.Start)) != 0)
                            return true;
                    pos = until;
                    continue;
                }
                const int64_t take =
                    p.Table().Reserve(c.plan.Claim, std::min(stop, c.plan.WriteEnd) - pos);
                std::memcpy(disk.data() + pos, data + (pos - c.at), static_cast<size_t>(take));
                if (!p.Wrote(c.plan.Claim, pos, data + (pos - c.at), static_cast<size_t>(take), 1))
                    return true;
                pos += take;
                if (take == 0) pos = stop;
            }
            c.at = stop;
            if (c.at >= end) {
                p.Table().Release(c.plan.Claim);
                c.busy = false;
            }
        }
        if (!any) break;
    }
    return false;
}

// One source whose file is `before` until `switchAt` bytes were delivered, `after` from then
// on, fetched by connections 0 .. connections-1.
bool Play(TPlanner& p, const std::vector<uint8_t>& before, const std::vector<uint8_t>& after,
          int64_t switchAt, int connections, std::vector<uint8_t>& disk, int& versions) {
    std::vector<int> ids;
    for (int i = 0; i < connections; ++i)
        ids.push_back(i);
    return Play(
        p, ids, [&](int, int64_t delivered) { return delivered >= switchAt ? &after : &before; },
        before.size(), disk, versions);
}

// A fresh download of `total` bytes without validator, as a pass that begins at zero.
TPlanner Bare(int64_t total) {
    TPlanner p(Settings(), {Start()}, 0);
    p.Resume(Kept(total, {}));
    for (const TPlanner::TStart& s : p.BeginPass(-1, 0))
        p.Connected(s.Id, FarConnectMs);
    return p;
}

TEST(Planner, AFileReplacedHalfWayIsSeenWhereItsAnswersMeet) {
    const int64_t total = 3 * 1024 * 1024 + 12345;
    const auto v1 = Bytes(static_cast<size_t>(total), 7);
    const auto v2 = Bytes(static_cast<size_t>(total), 8);
    for (int connections : {1, 2, 4}) {
        for (int64_t switchAt : {int64_t{600000}, total / 2, total - 100000}) {
            TPlanner p = Bare(total);
            std::vector<uint8_t> disk;
            int versions = 0;
            const bool seen = Play(p, v1, v2, switchAt, connections, disk, versions);
            // Either the two versions met and were told apart, or one alone was written.
            if (versions == 2) {
                EXPECT_TRUE(seen) << connections << " connections, replaced after " << switchAt;
            } else {
                EXPECT_FALSE(seen);
                EXPECT_TRUE(disk == v1 || disk == v2) << connections << " " << switchAt;
            }
            // No request asks for more than a segment: when more is left at the switch than the
            // connections hold in requests (and the turn under way), the replacement is asked.
            if (total - switchAt > (connections + 1) * Seg) {
                EXPECT_EQ(versions, 2)
                    << connections << " connections, replaced after " << switchAt;
            }
        }
        // The same file all along: complete and never taken for a mixture.
        TPlanner p = Bare(total);
        std::vector<uint8_t> disk;
        int versions = 0;
        EXPECT_FALSE(Play(p, v1, v1, 0, connections, disk, versions)) << connections;
        EXPECT_TRUE(p.Table().Complete()) << connections;
        EXPECT_TRUE(disk == v1) << connections;
        EXPECT_EQ(p.Table().Done(), total);
    }
}

// Two mirrors of one file, each on a server of its own: the planner after the first's first
// answer defined the file as `file` (its digest given by both, honestly or not) and the
// second's first answer was judged: the one it asked at once for the file's end (`early`), or
// the one it asked once the file was known. Connections kept ready connected over a long trip.
struct TTwo {
    explicit TTwo(const std::vector<uint8_t>& file, bool secondSays = true,
                  const char* second = "http://other.test/setup.exe", bool early = false)
        : Planner(Settings(), {Start(), *ParseUrl(second)}, 0) {
        TSourceFacts facts = Said(static_cast<int64_t>(file.size()), "\"a\"");
        facts.Digest = {TDigestKind::Sha256, std::vector<uint8_t>(32, 7)};
        for (const TPlanner::TStart& s : Planner.BeginPass(-1, 0)) {
            (s.Source == 0 ? First : Second).push_back(s.Id);
            if (s.Role == TPlanner::TRole::Standby) Planner.Connected(s.Id, FarConnectMs);
        }
        Planner.Opened(First[0], facts, Seg, false, 0);
        // Shares placed early for the first's connections kept ready are not asked for here.
        for (size_t i = 1; i < First.size(); ++i) {
            TPlan none;
            Planner.TakeEarly(First[i], false, none);
        }
        // The first answer's claim goes back: the play asks again for everything.
        for (int claim = 0; claim < 8; ++claim)
            if (Planner.Table().Holds(claim, First[0])) Planner.Table().Release(claim);
        EXPECT_EQ(Planner.Candidate(Second[0], 1), TPlanner::TCandidate::Run);
        TPace pace(64 * 1024, Seg);
        TPlan judging;
        const int earlyClaim = Planner.TakeEarly(Second[0], early, judging);
        EXPECT_EQ(earlyClaim >= 0, early);
        if (!early) {
            EXPECT_EQ(Planner.Next(Second[0], pace, false, judging, 1), TPlanner::TNext::Ask);
        }
        EXPECT_TRUE(judging.Judging);
        EXPECT_EQ(judging.Question.Total, -1) << "asked of a newcomer, its head is judged first";
        TSourceFacts theirs = facts;
        theirs.Validator = "\"b\""; // its own: entity tags are each server's
        if (!secondSays) theirs.Digest.Bytes[0] ^= 1;
        Verdict = Planner.Judge(Second[0], theirs);
        Planner.Table().Release(judging.Claim);
    }
    TPlanner Planner;
    std::vector<int> First, Second;
    TReaction Verdict = TReaction::Use;
};

TEST(Planner, TwoMirrorsOfOneFileShareItAndNeverFinishAMixture) {
    const int64_t total = 3 * 1024 * 1024 + 777;
    const auto file = Bytes(static_cast<size_t>(total), 21);
    const auto other = Bytes(static_cast<size_t>(total), 22);
    for (const bool early : {false, true}) {
        TTwo t(file, true, "http://other.test/setup.exe", early);
        ASSERT_EQ(t.Verdict, TReaction::Use);
        EXPECT_TRUE(t.Planner.Guarded(0)) << "bytes of two sources meet in windows";
        std::vector<int> ids = t.First;
        ids.insert(ids.end(), t.Second.begin(), t.Second.end());
        std::vector<uint8_t> disk;
        int versions = 0;
        EXPECT_FALSE(Play(
            t.Planner, ids, [&](int, int64_t) { return &file; }, file.size(), disk, versions));
        EXPECT_TRUE(t.Planner.Table().Complete());
        EXPECT_TRUE(disk == file);
        EXPECT_GT(t.Planner.Sources()[0].Delivered, 0);
        EXPECT_GT(t.Planner.Sources()[1].Delivered, 0) << "the second mirror was not used";
        // The state names both, each with its own validator.
        const TFileFacts f = t.Planner.Facts();
        ASSERT_EQ(f.Sources.size(), 2u);
        EXPECT_EQ(f.Sources[0].Validator, "\"a\"");
        EXPECT_EQ(f.Sources[1].Validator, "\"b\"");
    }
    {
        // The second claims the same file but serves another: where their bytes meet, the
        // planner sees it, the second is not used again, and the file starts over.
        TTwo t(file);
        std::vector<int> ids = t.First;
        ids.insert(ids.end(), t.Second.begin(), t.Second.end());
        const int second = t.Second[0];
        std::vector<uint8_t> disk;
        int versions = 0;
        const bool seen = Play(
            t.Planner, ids,
            [&](int id, int64_t) { return t.Planner.SourceOf(id) == 1 ? &other : &file; },
            file.size(), disk, versions);
        ASSERT_TRUE(seen) << "a mixture went unnoticed";
        EXPECT_EQ(t.Planner.WindowsDiffer(second), TReaction::Restart);
        t.Planner.Forget();
        EXPECT_EQ(t.Planner.Sources()[1].Standing, TStanding::Other);
        EXPECT_FALSE(t.Planner.Sources().Serves(1));
        EXPECT_TRUE(t.Planner.Sources()[0].Standing != TStanding::Other);
        const auto again = t.Planner.BeginPass(-1, 2);
        EXPECT_TRUE(std::none_of(again.begin(), again.end(),
                                 [](const TPlanner::TStart& s) { return s.Source == 1; }))
            << "the next pass asks the second again";
    }
    {
        // One that says it serves another file is never asked for the file's bytes.
        TTwo t(file, false);
        EXPECT_EQ(t.Verdict, TReaction::Quit);
        TPace pace(64 * 1024, Seg);
        TPlan plan;
        EXPECT_EQ(t.Planner.Next(t.Second[1], pace, false, plan, 2), TPlanner::TNext::Quit);
        const auto starts = t.Planner.Starts(3);
        EXPECT_TRUE(std::none_of(starts.begin(), starts.end(),
                                 [](const TPlanner::TStart& s) { return s.Source == 1; }));
    }
}

// Between two answers of one source that names its version, If-Range vouches for them: a
// window lies only where a share meets bytes the other mirror holds or wrote, on either side,
// and the record of who wrote what lasts only as long as what it vouches for.
TEST(Planner, WindowsLieOnlyWhereTwoSourcesMeet) {
    const auto file = Bytes(static_cast<size_t>(8 * Seg), 24);
    enum TThen { Nothing, FileTakenUp, Rejudged, ToHttps };
    const struct {
        const char* What;
        int Neighbour; // the source of the share beside the one asked
        bool After, Written;
        TThen Then;
        bool Window;
    } cases[] = {
        {"its own source's share before, held", 0, false, false, Nothing, false},
        {"its own source's bytes before, written", 0, false, true, Nothing, false},
        {"the other mirror's share before, held", 1, false, false, Nothing, true},
        {"the other mirror's bytes before, written", 1, false, true, Nothing, true},
        {"its own source's share after, held", 0, true, false, Nothing, false},
        {"the other mirror's share after, held", 1, true, false, Nothing, true},
        {"the other mirror's bytes after, written", 1, true, true, Nothing, true},
        {"its own bytes of a file taken up again", 0, false, true, FileTakenUp, true},
        {"its own bytes, the source judged anew since", 0, false, true, Rejudged, true},
        {"its own bytes, the source gone over to https since", 0, false, true, ToHttps, true},
        {"its own source's share, asked before it went over to https", 0, false, false, ToHttps,
         true},
    };
    for (const auto& c : cases) {
        TTwo t(file);
        TPlanner& p = t.Planner;
        TPace pace(64 * 1024, Seg);
        const int neighbour = c.Neighbour == 0 ? t.First[0] : t.Second[1];
        TPlan a, b;
        if (c.After) {
            // The share to be asked is found first, then the neighbour takes what follows it.
            ASSERT_EQ(p.Next(t.First[2], pace, false, b, 2), TPlanner::TNext::Ask);
            ASSERT_EQ(p.Next(neighbour, pace, false, a, 2), TPlanner::TNext::Ask);
            p.Table().Release(b.Claim);
        } else {
            ASSERT_EQ(p.Next(neighbour, pace, false, a, 2), TPlanner::TNext::Ask);
        }
        if (c.Written) {
            const int64_t n = p.Table().Reserve(a.Claim, a.WriteEnd - a.WriteFrom);
            p.Wrote(a.Claim, a.WriteFrom, file.data() + a.WriteFrom, static_cast<size_t>(n), 2);
            p.Table().Release(a.Claim);
        }
        if (c.Then == FileTakenUp) p.Resume(p.Facts());
        if (c.Then == Rejudged) p.Judge(t.First[1], Said(8 * Seg, "\"a\""));
        if (c.Then == ToHttps) p.HttpsFirst(0, *ParseUrl("https://mirror.test/setup.exe"));
        ASSERT_EQ(p.Next(t.First[2], pace, false, b, 2), TPlanner::TNext::Ask);
        ASSERT_EQ(c.After ? b.WriteEnd : b.WriteFrom, c.After ? a.WriteFrom : a.WriteEnd) << c.What;
        EXPECT_EQ(c.After ? b.Question.End > b.WriteEnd : b.Question.From < b.WriteFrom, c.Window)
            << c.What;
    }
}

// Who wrote each byte, however the writes fall: runs grow, join and meet other sources' runs,
// and a source forgotten leaves its bytes to nobody.
TEST(Origins, EachByteKnowsWhichSourceWroteIt) {
    TOrigins o;
    const struct {
        int64_t Pos, Size;
        int Source;
    } writes[] = {{0, 10, 0},  {10, 10, 0}, {30, 10, 1}, {20, 10, 1}, {40, 5, 0}, {45, 5, 1},
                  {60, 5, 2},  {70, 5, 2},  {65, 5, 2},  {80, 5, 0},  {90, 5, 0}, {85, 5, 1},
                  {100, 5, 3}, {95, 5, 3},  {0, 0, 3},   {55, 0, 2}, {200, 5, 4}, {190, 5, 4}};
    for (const auto& w : writes)
        o.Add(w.Pos, w.Size, w.Source);
    const std::vector<std::pair<int64_t, int>> at = {
        {-1, -1}, {0, 0},  {19, 0}, {20, 1}, {39, 1}, {40, 0}, {44, 0},  {45, 1},  {49, 1},
        {50, -1}, {55, -1}, {59, -1}, {60, 2}, {74, 2}, {75, -1}, {80, 0}, {84, 0}, {85, 1},
        {89, 1},  {90, 0}, {94, 0}, {95, 3}, {104, 3}, {105, -1}, {192, 4}, {197, -1}, {202, 4}};
    for (const auto& [pos, source] : at)
        EXPECT_EQ(o.At(pos), source) << pos;
    o.Forget(1);
    for (const auto& [pos, source] : at)
        EXPECT_EQ(o.At(pos), source == 1 ? -1 : source) << pos << " after forgetting";
}

TEST(Planner, AMirrorThatFailsLeavesItsWorkToTheOtherAndIsTriedAgain) {
    const int64_t total = 3 * 1024 * 1024 + 777;
    const auto file = Bytes(static_cast<size_t>(total), 23);
    TTwo t(file);
    ASSERT_EQ(t.Verdict, TReaction::Use);
    TPlanner& p = t.Planner;
    // Every connection of the first fails, long after its last byte: it is down.
    int retired = 0, waiting = 0;
    for (int id : t.First) {
        TPace pace(64 * 1024, Seg);
        TPlan plan;
        p.Next(id, pace, false, plan, 1);
        const TDecision d = p.Failed(id, {}, 0, 5000, 0.5);
        if (plan.Claim >= 0) p.Table().Release(plan.Claim); // as its connection drops
        retired += d.Recovery == TRecovery::Retire;
        waiting += d.Recovery == TRecovery::Wait;
        if (d.Recovery == TRecovery::Retire) p.Ended(id, 5000);
    }
    EXPECT_EQ(waiting, 1) << "one keeps trying the mirror that failed, with backoff";
    EXPECT_EQ(retired, static_cast<int>(t.First.size()) - 1);
    // The other carries the whole file, from the bytes already held.
    std::vector<uint8_t> disk;
    int versions = 0;
    EXPECT_FALSE(Play(
        p, t.Second, [&](int, int64_t) { return &file; }, file.size(), disk, versions));
    EXPECT_TRUE(p.Table().Complete());
    EXPECT_TRUE(disk == file);
    EXPECT_EQ(p.Sources()[0].Delivered, 0);
    // A mirror that dies leaves the other the file; where the other serves another file, that
    // one becomes the file and is asked at once.
    for (const bool same : {true, false}) {
        TTwo d(file, same);
        EXPECT_EQ(d.Planner.Dead(d.First[0], ErrorHttpStatus, 404),
                  same ? TReaction::Quit : TReaction::Restart)
            << same;
        if (same) continue;
        d.Planner.Forget();
        const auto starts = d.Planner.BeginPass(-1, 2);
        EXPECT_TRUE(std::any_of(starts.begin(), starts.end(), [](const TPlanner::TStart& s) {
            return s.Source == 1 && s.Role == TPlanner::TRole::Open;
        }));
    }
}

// The other mirror asks at once for the file's end. Once the file is known, that request gets
// the end where nothing else holds it, past a window, and is judged as its source's first.
TEST(Planner, TheOtherMirrorAsksAtOnceForTheFileEnd) {
    constexpr int64_t Large = 40 * Seg, Window = TOverlapGuard::WindowBytes;
    const struct {
        const char* What;
        const char* Other;
        int64_t Total;
        bool Asks;
        int64_t WriteFrom; // -1: no claim, its answer is not read
        bool Far = false;  // the chosen one's connections kept ready ask early for their shares
    } cases[] = {
        {"a large file", "http://other.test/setup.exe", Large, true, Large - Seg / 4 + Window},
        {"its end within the first answer", "http://other.test/setup.exe", Seg + Seg / 8, true, -1},
        {"the same server", "http://MIRROR.test/b/setup.exe", Large, false, -1},
        // The chosen one's own shares come first: the other's end takes what they leave.
        {"its end within the chosen one's shares", "http://other.test/setup.exe",
         3 * Seg + Seg / 2, true, -1, true},
    };
    for (const auto& c : cases) {
        TPlanner p(Settings(), {Start(), *ParseUrl(c.Other)}, 0);
        int other = -1;
        std::vector<int> ready;
        for (const TPlanner::TStart& s : p.BeginPass(-1, 0)) {
            if (s.Role == TPlanner::TRole::Candidate) other = s.Id;
            if (s.Role == TPlanner::TRole::Standby && s.Source == 0 && c.Far) {
                p.Connected(s.Id, FarConnectMs);
                ready.push_back(s.Id);
            }
        }
        TQuestion q;
        for (int id : ready)
            EXPECT_TRUE(p.AsksEarly(id, q) && q.From >= Seg && q.End == q.From + Seg) << c.What;
        ASSERT_EQ(p.AsksEarly(other, q), c.Asks) << c.What;
        EXPECT_TRUE(!c.Asks || (q.Ask == TAsk::Last && q.End == Seg / 4)) << c.What;
        p.Opened(0, Said(c.Total, "\"a\""), std::min(c.Total, Seg), false, 0);
        EXPECT_FALSE(p.AsksEarly(other, q)) << c.What << ": the file is known";
        const auto starts = p.Starts(1);
        EXPECT_TRUE(std::none_of(starts.begin(), starts.end(),
                                 [](const TPlanner::TStart& s) { return s.Source == 1; }))
            << c.What << ": one connection judges the other mirror";
        TPlan plan;
        for (int id : ready)
            EXPECT_GE(p.TakeEarly(id, true, plan), 0) << c.What << ": connection " << id;
        ASSERT_EQ(p.TakeEarly(other, c.Asks, plan) >= 0, c.WriteFrom >= 0) << c.What;
        if (c.WriteFrom < 0) continue;
        EXPECT_EQ(plan.Question.From, c.Total - Seg / 4);
        EXPECT_EQ(plan.WriteFrom, c.WriteFrom);
        EXPECT_EQ(plan.WriteEnd, c.Total);
        EXPECT_TRUE(plan.Judging && plan.Question.Total < 0) << "its head is judged first";
    }
    // Its connections gone before it was judged, another takes their place at once, even with
    // nothing free (a mirror nobody judges never helps); a dead one is not asked again.
    for (const bool dead : {false, true}) {
        TPlanner p(Settings(), {Start(), *ParseUrl("http://other.test/setup.exe")}, 0);
        for (const TPlanner::TStart& s : p.BeginPass(-1, 0)) {
            if (s.Source != 1) continue;
            if (dead) p.Dead(s.Id, ErrorHttpStatus, 404);
            p.Ended(s.Id, 0);
        }
        p.Opened(0, Said(Seg, "\"a\""), Seg, false, 0);
        const auto starts = p.Starts(1);
        EXPECT_EQ(std::count_if(starts.begin(), starts.end(),
                                [](const TPlanner::TStart& s) { return s.Source == 1; }),
                  dead ? 0 : 1)
            << dead;
    }
}

// A server or cache may mishandle that one request for the file's end while it serves ordinary
// ranges well: whatever answers it otherwise than with the end asked for only drops it, and the
// mirror is judged by its next, ordinary request. A real answer of another file still counts.
TEST(Planner, AnUnusableAnswerToTheEarlyEndOnlyDropsThatRequest) {
    constexpr int64_t Total = 40 * Seg, From = Total - Seg / 4;
    const std::string end = std::to_string(From) + "-" + std::to_string(Total - 1);
    const std::string Date = "Mon, 01 Jan 2024 00:00:00 GMT";
    const struct {
        const char* What;
        std::string Head;
        TReaction Reaction;
    } cases[] = {
        {"the end asked for", "206 P\r\nContent-Range: bytes " + end + "/" + std::to_string(Total),
         TReaction::Use},
        {"the whole file", "200 OK\r\nContent-Length: " + std::to_string(Total), TReaction::Drop},
        {"not satisfiable", "416 R\r\nContent-Range: bytes */" + std::to_string(Total),
         TReaction::Drop},
        {"a range one byte off",
         "206 P\r\nContent-Range: bytes " + std::to_string(From - 1) + "-" +
             std::to_string(Total - 2) + "/" + std::to_string(Total),
         TReaction::Drop},
        {"the file's start", "206 P\r\nContent-Range: bytes 0-65535/" + std::to_string(Total),
         TReaction::Drop},
        {"the end of a file of another length",
         "206 P\r\nContent-Range: bytes " + end + "/" + std::to_string(Total + 1),
         TReaction::Quit},
    };
    for (const auto& c : cases) {
        TPlanner p(Settings(), {Start(), *ParseUrl("http://other.test/setup.exe")}, 0);
        int other = -1, ready = -1;
        for (const TPlanner::TStart& s : p.BeginPass(-1, 0)) {
            if (s.Role == TPlanner::TRole::Candidate) other = s.Id;
            if (s.Role == TPlanner::TRole::Standby && s.Source == 1) ready = s.Id;
        }
        TSourceFacts file = Said(Total, "\"a\"");
        file.LastModified = Date;
        p.Opened(0, file, Seg, false, 0);
        TPlan plan;
        ASSERT_GE(p.TakeEarly(other, true, plan), 0) << c.What;
        const THeaders head =
            ParseHeaderBlock("HTTP/1.1 " + c.Head + "\r\nLast-Modified: " + Date + "\r\n\r\n");
        const bool whole = head.Status == 200;
        const TAnswer a = JudgeAnswer(head, plan.Question, 0);
        EXPECT_EQ(p.Judged(other, a, whole, AnswerFacts(head, whole, whole ? Total : -1)),
                  c.Reaction)
            << c.What;
        p.Table().Release(plan.Claim);
        if (c.Reaction != TReaction::Drop) continue;
        EXPECT_EQ(p.Sources()[1].Standing, TStanding::Unknown) << c.What;
        // Any of its connections asks an ordinary range next, whose same answer is judged as
        // it always was.
        TPace pace(64 * 1024, Seg);
        ASSERT_EQ(p.Next(ready, pace, false, plan, 1), TPlanner::TNext::Ask) << c.What;
        EXPECT_TRUE(plan.Judging && plan.Question.Ask == TAsk::Part) << c.What;
        const TAnswer again = JudgeAnswer(head, plan.Question, 0);
        EXPECT_EQ(p.Judged(ready, again, whole, AnswerFacts(head, whole, Total)),
                  TReaction::Quit)
            << c.What;
        EXPECT_EQ(p.Sources()[1].WholeOnly, whole) << c.What << ": only a 200 ignores ranges";
    }
}

// A state says where it found the file; that counts only where it is the mirror itself, or
// the same over https: never another host, file or port, never down from https.
TEST(Planner, AStateSendsASourceOnlyToItselfOrToItselfOverHttps) {
    const struct {
        const char* Start;
        const char* Location;
        bool Kept;
    } cases[] = {
        {"http://mirror.test/setup.exe", "http://MIRROR.test/setup.exe", true},
        {"http://mirror.test/setup.exe", "https://mirror.test/setup.exe", true},
        {"http://mirror.test/setup.exe", "https://MIRROR.test:8443/setup.exe", true},
        {"http://mirror.test/setup.exe", "http://mirror.test:8080/setup.exe", false},
        {"http://mirror.test/setup.exe", "https://other.test/setup.exe", false},
        {"http://mirror.test/setup.exe", "https://mirror.test/other.exe", false},
        {"https://mirror.test/setup.exe", "http://mirror.test/setup.exe", false},
        {"https://mirror.test/setup.exe", "https://mirror.test:8443/setup.exe", false},
    };
    for (const auto& c : cases) {
        const TUrl start = *ParseUrl(c.Start), location = *ParseUrl(c.Location);
        TPlanner p(Settings(), {start}, 0);
        TFileFacts kept = Kept(10 * Seg, {{0, Seg}});
        kept.Sources = {{c.Start, location, "\"v\""}};
        p.Resume(kept);
        EXPECT_EQ(FormatUrl(p.Location(0)), c.Kept ? FormatUrl(location) : FormatUrl(start))
            << c.Location;
    }
}

// An http mirror that came up over https is asked there; an answer there that cannot change
// sends it back to plain http, where nothing https showed vouches for it: judged afresh.
TEST(Planner, HttpsFirstAndTheFallBackToPlainHttp) {
    const TUrl twin = *ParseUrl("https://mirror.test/setup.exe");
    const struct {
        const char* What;
        const char* Start;
        bool Answered;        // TLS came up
        const char* MovedTo;  // a redirect before the try's answer ("": none)
        const char* Location; // where its requests go then
    } cases[] = {
        {"https answered", "http://mirror.test/setup.exe", true, "", "https://mirror.test/setup.exe"},
        {"no https", "http://mirror.test/setup.exe", false, "", "http://mirror.test/setup.exe"},
        {"redirected over https elsewhere", "http://mirror.test/setup.exe", true,
         "https://cdn.test/setup.exe", "https://cdn.test/setup.exe"},
        {"redirected over https to another file", "http://mirror.test/setup.exe", true,
         "https://mirror.test/dl/setup.exe", "https://mirror.test/dl/setup.exe"},
        {"https to begin with, redirected", "https://mirror.test/setup.exe", false,
         "https://mirror.test:8443/setup.exe", "https://mirror.test:8443/setup.exe"},
    };
    for (const auto& c : cases) {
        TPlanner p(Settings(), {*ParseUrl(c.Start)}, 0);
        if (*c.MovedTo) p.MovedTo(0, *ParseUrl(c.MovedTo));
        p.HttpsFirst(0, c.Answered ? std::optional<TUrl>(twin) : std::nullopt);
        EXPECT_EQ(FormatUrl(p.Location(0)), c.Location) << c.What;
        p.BeginPass(-1, 0);
        EXPECT_TRUE(p.Facts().Sources.empty()) << c.What << ": nothing known yet";
        p.Opened(0, Said(10 * Seg, "\"over tls\""), Seg, false, 0);
        const bool fallsBack = c.Answered && !*c.MovedTo;
        const TReaction r = p.Dead(0, ErrorHttpStatus, 404);
        EXPECT_EQ(r == TReaction::Drop, fallsBack) << c.What;
        if (!fallsBack) continue;
        const TSource& s = p.Sources()[0];
        EXPECT_EQ(FormatUrl(s.Where), c.Start) << c.What;
        EXPECT_TRUE(s.Validator.empty() && !s.Proven && s.Standing == TStanding::Unknown)
            << c.What << ": https's validator or standing carried to plain http";
        EXPECT_NE(p.Dead(0, ErrorHttpStatus, 404), TReaction::Drop) << "falls back once";
    }
}

// The other mirror waits for the chosen one's first answer, from the start of the pass: 3 s,
// or 2 s once the chosen one has failed.
TEST(Planner, TheOtherMirrorWaitsForTheChosenOnesFirstAnswer) {
    constexpr uint64_t Begin = 5000;
    const struct {
        const char* What;
        bool Failed;
        uint64_t WaitMs;
    } cases[] = {{"the chosen one silent", false, 3000}, {"the chosen one failed", true, 2000}};
    for (const auto& c : cases) {
        TPlanner p(Settings(), {Start(), *ParseUrl("http://other.test/setup.exe")}, 0);
        int chosen = -1, other = -1;
        for (const TPlanner::TStart& s : p.BeginPass(-1, Begin)) {
            if (s.Role == TPlanner::TRole::Open) chosen = s.Id;
            if (s.Role == TPlanner::TRole::Candidate) other = s.Id;
        }
        ASSERT_GE(other, 0) << c.What;
        if (c.Failed) p.Failed(chosen, {}, 0, Begin + 100, 0.5);
        EXPECT_EQ(p.Candidate(other, Begin + c.WaitMs - 1), TPlanner::TCandidate::Wait) << c.What;
        EXPECT_EQ(p.Candidate(other, Begin + c.WaitMs), TPlanner::TCandidate::Open) << c.What;
    }
}

// Never more connections to one server than it allows, also when both mirrors are on it.
TEST(Planner, TwoMirrorsOnOneServerShareItsConnections) {
    const auto file = Bytes(static_cast<size_t>(16 * Seg), 25);
    const struct {
        const char* Second;
        int Servers;
    } cases[] = {{"http://other.test/setup.exe", 2}, {"http://MIRROR.test/b/setup.exe", 1}};
    for (const auto& c : cases) {
        TTwo t(file, true, c.Second);
        ASSERT_EQ(t.Verdict, TReaction::Use) << c.Second;
        TPlanner& p = t.Planner;
        for (const std::vector<int>* ids : {&t.First, &t.Second})
            for (int id : *ids)
                p.Call(id, 2);
        const int started = static_cast<int>(p.Starts(2).size());
        EXPECT_EQ(p.ActiveConnections() + started,
                  c.Servers * static_cast<int>(Settings().MaxConnections))
            << c.Second;
    }
}

// Near the end, a connection far slower than the rest stands back rather than take a piece
// that would come after they had fetched everything left; it takes work again when they stop.
// Judged by what each sustains: from a server that paces by the second, one read across each
// pause and another in many reads through each burst are as fast as each other.
TEST(Planner, ASlowConnectionStandsBackAtTheEndUnlessTheFastOnesStop) {
    struct TFeed {
        int64_t Rate;
        bool Bursts; // each second's bytes in its first milliseconds, or spread over it
        int Reads;   // per second
        uint32_t Trip;
        uint64_t Seconds = 3; // measured over
    };
    const struct {
        const char* What;
        TFeed Slow, Fast;
        bool Closed; // the slow one's connection closed: its next request connects first
        bool StandsBack;
    } cases[] = {
        {"much slower", {700000, false, 20, 80}, {2100000, false, 20, 20}, false, true},
        // A rate over less than a whole window says nothing yet of who is faster.
        {"much slower, for a second", {700000, false, 20, 80, 1}, {2100000, false, 20, 20}, false,
         false},
        {"much slower than ones at work for a second",
         {700000, false, 20, 80},
         {2100000, false, 20, 20, 1},
         false,
         false},
        {"as fast, in bursts", {2100000, true, 1, 20}, {2100000, true, 8, 20}, false, false},
        // Nearer but slower: a piece is worth its while only on the connection it has.
        {"slower, near", {2000000, false, 20, 30}, {4200000, false, 20, 60}, false, false},
        {"slower, near, to connect",
         {2000000, false, 20, 30},
         {4200000, false, 20, 60},
         true,
         true},
    };
    for (const auto& k : cases) {
        const int64_t total = 3 * 1024 * 1024 + 777;
        TTwo t(Bytes(static_cast<size_t>(total), 24));
        ASSERT_EQ(t.Verdict, TReaction::Use);
        TPlanner& p = t.Planner;
        const int slow = t.First[1];
        const std::vector<int> fast = {t.Second[1], t.Second[2]};
        // Three seconds of one answer as the feed brings it.
        const auto measured = [&](int id, const TFeed& f, uint64_t now) {
            TPace pace(64 * 1024, Seg);
            pace.Answered(f.Trip);
            pace.BodyBegins(0);
            for (uint64_t second = 0; second < f.Seconds; ++second)
                for (int i = 1; i <= f.Reads; ++i)
                    pace.Arrived(second * 1000 + (f.Bursts ? 5 * i : 1000 * i / f.Reads),
                                 f.Rate / f.Reads);
            p.Measured(id, pace, now);
        };
        // Asks and fetches one piece at `now`; false when it was not given one.
        const auto fetch = [&](int id, uint64_t now) {
            TPace pace(64 * 1024, Seg);
            TPlan plan;
            if (p.Next(id, pace, false, plan, now) != TPlanner::TNext::Ask) return false;
            const int64_t n = p.Table().Reserve(plan.Claim, plan.WriteEnd - plan.WriteFrom);
            p.Table().Commit(plan.Claim, n);
            p.Table().Release(plan.Claim);
            return true;
        };
        for (int id : fast) {
            ASSERT_TRUE(fetch(id, 10)) << k.What;
            measured(id, k.Fast, 10);
        }
        measured(slow, k.Slow, 10);
        EXPECT_TRUE(fetch(slow, 10)) << k.What << ": with much left, it takes its share";
        while (p.Table().Size() - p.Table().Done() > 200 * 1024) {
            ASSERT_TRUE(fetch(fast[0], 20)) << k.What;
            measured(fast[1], k.Fast, 20); // still delivering
        }
        TPace pace(64 * 1024, Seg);
        TPlan plan;
        if (k.Closed) p.Disconnected(slow);
        const TPlanner::TNext next = p.Next(slow, pace, false, plan, 30);
        EXPECT_EQ(next == TPlanner::TNext::Wait, k.StandsBack) << k.What;
        if (!k.StandsBack) continue;
        EXPECT_EQ(p.Next(slow, pace, true, plan, 30), TPlanner::TNext::Nothing);
        EXPECT_TRUE(fetch(fast[0], 30)) << "a fast one is never held back";
        // The fast ones fall silent: it takes the rest.
        EXPECT_TRUE(fetch(slow, 30 + TPlanner::StoppedMs));
    }
    // One that has stopped delivering gives up all it has left, from where its bytes stopped:
    // half of it would still wait on a connection that brings nothing.
    TTwo t(Bytes(static_cast<size_t>(3 * 1024 * 1024 + 777), 25));
    TPlanner& p = t.Planner;
    std::set<int64_t> held;
    for (int claim; p.Table().Free() > 0 &&
                    (claim = p.Table().Claim(t.Second[1], 1 << 30, 0)) >= 0;) {
        p.Table().StartReading(claim);
        held.insert(p.Table().At(claim).Start);
    }
    TPace pace(64 * 1024, Seg);
    TPlan plan;
    ASSERT_EQ(p.Next(t.First[1], pace, false, plan, TPlanner::StoppedMs + 100),
              TPlanner::TNext::Ask);
    EXPECT_EQ(held.count(p.Table().At(plan.Claim).Start), 1u) << "a stalled claim cut in two";
}

} // namespace
} // namespace xldl
