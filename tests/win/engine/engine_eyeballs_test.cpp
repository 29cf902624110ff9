// How the engine connects, in a network namespace of its own (with_netns.py): a name whose
// IPv6 address swallows every packet, one whose IPv6 works, one with IPv4 only, and a name
// server that never answers. What each connection used comes from the engine's trace.
#include "MirrorTestSupport.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace mirror {
namespace {

using TXldlLiveThreads = uint32_t(__cdecl*)();

// One connection's set-up, from its trace line.
struct TConnect {
    std::string Line;
    int Id = -1;
    std::string Host;
    std::string Family;  // "IPv4", "IPv6"
    std::string Address; // "127.0.0.1:80", "[2001:db8::3]:80"
    unsigned Ms = 0;     // from the start of the set-up, its lookup included
    unsigned Tried = 0, Listed = 0;
};

class EyeballsTest : public EngineTest {
protected:
    void SetUp() override {
        const std::string netns = Env("XLDL_TEST_NETNS");
        if (netns.empty()) {
            const std::string why = Env("XLDL_TEST_NETNS_SKIP");
            GTEST_SKIP() << "no network namespace of our own: "
                         << (why.empty() ? "run through tests/win/engine/with_netns.py" : why);
        }
        EngineTest::SetUp();
        // The trace file is the process's from the first XL_Init that names one: each test
        // reads what came after its start.
        TracePath = Root() + "trace.log";
        TraceFrom = ReadFileBytes(TracePath).value_or(std::vector<uint8_t>{}).size();
        Port = Address().substr(Address().find(':') + 1);
    }

    // The engine afresh with the quick tunables, the trace and `extra`.
    void Restart(std::vector<std::string> extra) {
        XL_UnInit();
        std::vector<std::string> env = QuickTunables();
        env.push_back("XLDL_TRACE=" + TracePath);
        env.push_back("XLDL_ATTEMPT_DELAY_MS=");
        env.insert(env.end(), extra.begin(), extra.end());
        StartEngine(env);
    }

    std::string UrlOf(const std::string& host, const std::string& path) const {
        return "http://" + host + ":" + Port + path;
    }

    std::vector<std::string> TraceLines() const {
        const auto bytes = ReadFileBytes(TracePath).value_or(std::vector<uint8_t>{});
        std::vector<std::string> lines;
        std::istringstream in(
            std::string(bytes.begin() + std::min(TraceFrom, bytes.size()), bytes.end()));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    // The connections made to `host` since the test began, in the order they were made.
    std::vector<TConnect> Connects(const std::string& host) const {
        std::vector<TConnect> found;
        for (const std::string& line : TraceLines()) {
            TConnect c;
            char name[128], family[8], address[64];
            double at = 0;
            if (std::sscanf(line.c_str(),
                            "%lf c%d connect %127[^:]:%*u: %7s %63s after %u ms "
                            "(lookup %*u ms, %u of %u",
                            &at, &c.Id, name, family, address, &c.Ms, &c.Tried, &c.Listed) != 8 ||
                host != name)
                continue;
            c.Line = line;
            c.Host = name;
            c.Family = family;
            c.Address = address;
            found.push_back(c);
        }
        return found;
    }

    // Starts a download and says how long its first byte took; `run` follows it to its end.
    unsigned FirstByteMs(const std::string& url, const std::string& name, TRun& run) {
        const DWORD start = GetTickCount();
        const TaskHandle task = StartDownload(url, Out, name, true, run);
        EXPECT_TRUE(run.Started);
        Follow(task, run, 30000,
               [](const DownloadTaskInfo& i) { return i.DoneSize > 0 || Ended(i); });
        const unsigned took = GetTickCount() - start;
        Follow(task, run, 60000, Ended);
        return took;
    }

    std::string TracePath;
    size_t TraceFrom = 0;
    std::string Port;
};

TEST_F(EyeballsTest, ASilentIPv6AddressCostsEachConnectionAtMostItsHeadStart) {
    // As long as a stalled connection is allowed to wait: waiting on IPv6 would cost that much.
    Restart({"XLDL_STALL_MS=30000"});
    const auto content = Serve("big.bin", 6 << 20, 31);
    // Bodies paced, so that the file takes a while and the connections cut early resume it.
    Script(R"({"rate": 2000000})");
    // What the first byte costs where nothing is broken, on this machine as loaded as it is now.
    TRun plain;
    const unsigned baseline = FirstByteMs(UrlOf("v4only.test", "/big.bin"), "plain.bin", plain);
    ExpectFinished(plain, "plain.bin", content);
    // Two of the first answers cut short mid-body: those connections connect again.
    Script(R"({"rate": 2000000,
               "rules": [{"path": "/big.bin", "ranged": true, "skip": 1, "times": 2,
                          "fault": "close_after", "bytes": 100000}]})");
    TRun run;
    const unsigned firstByte = FirstByteMs(UrlOf("broken.test", "/big.bin"), "big.bin", run);
    ExpectFinished(run, "big.bin", content);
    EXPECT_LT(firstByte, baseline + 1000) << "the first byte waited for IPv6";

    const auto connects = Connects("broken.test");
    ASSERT_GE(connects.size(), 2u);
    // The bench is as meant: the system lists the silent IPv6 address first, so the first
    // connection gave it its head start before IPv4 won.
    EXPECT_EQ(connects.front().Tried, 2u) << connects.front().Line;
    EXPECT_NE(connects.front().Line.find("IPv6 [2001:db8::2]:" + Port + " no answer"),
              std::string::npos)
        << connects.front().Line;
    std::vector<int> seen;
    bool again = false;
    for (const TConnect& c : connects) {
        EXPECT_EQ(c.Family, "IPv4") << c.Line;
        EXPECT_EQ(c.Address, "127.0.0.1:" + Port) << c.Line;
        EXPECT_LT(c.Ms, 1000u) << c.Line;
        if (std::find(seen.begin(), seen.end(), c.Id) != seen.end()) {
            // After the drop: the task has learned, IPv4 leads and nothing waits on IPv6.
            again = true;
            EXPECT_EQ(c.Tried, 1u) << c.Line;
        }
        seen.push_back(c.Id);
    }
    EXPECT_TRUE(again) << "no connection was made again after a drop";
}

TEST_F(EyeballsTest, AWorkingIPv6AddressIsUsed) {
    Restart({"XLDL_STALL_MS=30000"});
    const auto content = Serve("dual.bin", 3 << 20, 32);
    TRun run;
    FirstByteMs(UrlOf("dual.test", "/dual.bin"), "dual.bin", run);
    ExpectFinished(run, "dual.bin", content);
    const auto connects = Connects("dual.test");
    ASSERT_GE(connects.size(), 2u) << "several connections for a file this size";
    for (const TConnect& c : connects) {
        EXPECT_EQ(c.Family, "IPv6") << c.Line;
        EXPECT_EQ(c.Address, "[2001:db8::3]:" + Port) << c.Line;
    }
    // Every one of them really came over IPv6: the relay there counted it.
    const auto accepted = ReadFileBytes(Env("XLDL_TEST_V6_LOG_WIN"));
    ASSERT_TRUE(accepted);
    EXPECT_EQ(static_cast<size_t>(std::count(accepted->begin(), accepted->end(), '\n')),
              connects.size());
}

TEST_F(EyeballsTest, AnIPv4OnlyNameConnectsWithoutDelay) {
    // A long head start, which nothing may wait for when there is no other family.
    Restart({"XLDL_STALL_MS=30000", "XLDL_ATTEMPT_DELAY_MS=3000"});
    const auto content = Serve("v4.bin", 3 << 20, 33);
    TRun run;
    const unsigned firstByte = FirstByteMs(UrlOf("v4only.test", "/v4.bin"), "v4.bin", run);
    ExpectFinished(run, "v4.bin", content);
    EXPECT_LT(firstByte, 2500u) << "waited out (most of) a head start";
    const auto connects = Connects("v4only.test");
    ASSERT_FALSE(connects.empty());
    for (const TConnect& c : connects) {
        EXPECT_EQ(c.Family, "IPv4") << c.Line;
        EXPECT_EQ(c.Listed, 1u) << c.Line;
        EXPECT_LT(c.Ms, 1500u) << c.Line;
    }
}

TEST_F(EyeballsTest, ANameServerThatNeverAnswersHoldsNeitherTheStallNorTheAbortNorUnInit) {
    // The name server's lookups end on their own after a few seconds (with_netns.py): longer
    // than the stall, so every wait for one is cut short by it.
    Restart({"XLDL_STALL_MS=1500", "XLDL_GIVE_UP_MS=4000", "XLDL_RETRY_BASE_MS=100",
             "XLDL_RETRY_CAP_MS=400"});
    const DWORD start = GetTickCount();
    const TRun failed = Download(UrlOf("silent.test", "/f.bin"), Out, "f.bin", false, 30000);
    const DWORD took = GetTickCount() - start;
    ExpectFailed(failed, "f.bin", ErrorNetwork);
    EXPECT_GE(took, 4000u) << "gave up before its time";
    EXPECT_LT(took, 4000u + 1500u + 2500u) << "the give-up waited for the name server";
    unsigned stalls = 0;
    for (const std::string& line : TraceLines()) {
        unsigned ms = 0;
        const size_t at = line.find("connect silent.test:" + Port + ": lookup stalled after ");
        if (at == std::string::npos) continue;
        ++stalls;
        ASSERT_EQ(std::sscanf(line.c_str() + line.find("after ", at), "after %u ms", &ms), 1);
        EXPECT_GE(ms, 1400u) << line;
        EXPECT_LT(ms, 2500u) << line;
    }
    EXPECT_GE(stalls, 2u) << "every try waits for the lookup, each no longer than the stall";

    // XL_UnInit while a connection waits for the name: at once, and no thread of a task left.
    const auto liveThreads = reinterpret_cast<TXldlLiveThreads>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("xldl.dll"), "XLDL_LiveThreads")));
    ASSERT_NE(liveThreads, nullptr);
    TRun waiting;
    const TaskHandle task =
        StartDownload(UrlOf("silent.test", "/g.bin"), Out, "g.bin", false, waiting);
    ASSERT_TRUE(waiting.Started);
    Follow(task, waiting, 700, [](const DownloadTaskInfo& i) { return Ended(i); });
    ASSERT_FALSE(Ended(waiting.Last));
    const size_t traced = TraceLines().size();
    const DWORD before = GetTickCount();
    XL_UnInit();
    EXPECT_LT(GetTickCount() - before, 1500u) << "XL_UnInit waited for the name server";
    EXPECT_EQ(liveThreads(), 0u);

    // The lookup left behind ends after XL_UnInit released Winsock; the engine goes on working.
    const DWORD abandoned = GetTickCount();
    bool ended = false;
    while (!ended && GetTickCount() - abandoned < 15000) {
        Sleep(200);
        const auto lines = TraceLines();
        for (size_t i = traced; i < lines.size(); ++i)
            ended = ended || lines[i].find("lookup silent.test: 0 addresses") != std::string::npos;
    }
    EXPECT_TRUE(ended) << "the lookup left behind never ended";
    Restart({});
    const auto content = Serve("after.bin", 300000, 34);
    const TRun after = Download(UrlOf("v4only.test", "/after.bin"), Out, "after.bin");
    ExpectFinished(after, "after.bin", content);
}

} // namespace
} // namespace mirror
