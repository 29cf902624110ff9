// One task, two mirrors (two folders of one test mirror, each with its own faults, the other
// reached under another name, so that each has connections of its own): the file is fetched
// from both while both serve it, from the other alone when one fails, never from a mirror that
// serves another file, and a mixture of two files is never reported finished.
#include "MirrorTestSupport.h"

#include <algorithm>
#include <set>
#include <string>

namespace mirror {
namespace {

constexpr size_t FileBytes = 3 * 1024 * 1024 + 4321;

class EngineMirrors : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        // One file name for every test: nothing an earlier one left is taken up.
        for (const char* rest : {"", ".part", ".part.state", ".done"})
            DeleteFileA((Out + "setup.exe" + rest).c_str());
        AddMirror = reinterpret_cast<TXLAddMirror>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("xldl.dll"), AddMirrorExport)));
        ASSERT_NE(AddMirror, nullptr) << "the engine must take a task's other mirror";
    }

    // The test mirror's `path` under another name: a server of its own to the engine.
    static std::string Other(const std::string& path) {
        return "http://localhost:" + Address().substr(Address().find(':') + 1) + path;
    }

    // Downloads the URL `chosen` with the URL `other` as the task's other mirror, to its end.
    TRun Both(const std::string& chosen, const std::string& other, unsigned timeoutMs = 60000) {
        TRun run;
        static DownloadTaskParam param;
        FillParam(param, chosen, Out, "setup.exe", true);
        const TaskHandle task = XL_CreateTask(&param);
        const std::u16string wide(other.begin(), other.end());
        EXPECT_EQ(AddMirror(task, wide.c_str()), 1u);
        run.Started = EngineTrue(XL_StartTask(task));
        if (run.Started) Follow(task, run, timeoutMs, Ended);
        return run;
    }

    // The range requests for `path` that were answered (206): how many, their bytes, and on how
    // many connections they came.
    struct TServed {
        size_t Answers = 0;
        long long Bytes = 0;
        size_t Connections = 0;
    };
    static TServed Served(const std::string& path) {
        TServed served;
        std::set<std::string> peers;
        for (const std::string& line : Log()) {
            long long first = 0, last = -1;
            if (line.find(" " + path + " ") == std::string::npos || Field(line, "status") != "206")
                continue;
            ++served.Answers;
            const std::string range = Field(line, "range");
            if (std::sscanf(range.c_str(), "bytes=%lld-%lld", &first, &last) == 2)
                served.Bytes += last + 1 - first;
            else if (std::sscanf(range.c_str(), "bytes=-%lld", &last) == 1)
                served.Bytes += last; // the file's end, asked before its size was known
            peers.insert(Field(line, "peer"));
        }
        served.Connections = peers.size();
        return served;
    }

    TXLAddMirror AddMirror = nullptr;
};

TEST_F(EngineMirrors, TheTaskTakesItsOtherMirrorOnlyBeforeItStarts) {
    const auto file = Serve("a/setup.exe", 1000, 3);
    static DownloadTaskParam param;
    FillParam(param, Url("/a/setup.exe"), Out, "setup.exe", true);
    const TaskHandle task = XL_CreateTask(&param);
    const std::string own = Url("/a/setup.exe");
    const std::u16string same(own.begin(), own.end());
    EXPECT_EQ(AddMirror(task, same.c_str()), 0u) << "its own URL is no other mirror";
    EXPECT_EQ(AddMirror(task, u"ftp://example.test/setup.exe"), 0u);
    EXPECT_EQ(AddMirror(task + 1000, u"http://127.0.0.1:1/setup.exe"), 0u) << "no such task";
    EXPECT_EQ(AddMirror(task, nullptr), 0u);
    ASSERT_TRUE(EngineTrue(XL_StartTask(task)));
    EXPECT_EQ(AddMirror(task, u"http://127.0.0.1:1/setup.exe"), 0u) << "started already";
    TRun run;
    run.Started = true;
    Follow(task, run, 30000, Ended);
    ExpectFinished(run, "setup.exe", file);
}

// The chosen mirror is asked for the file's first bytes, which define it; the other, asked at
// once too, only for the file's end, its answer taken once the chosen one's defined the file.
TEST_F(EngineMirrors, BothServeTheFileAndTheChosenOneDefinesIt) {
    const struct {
        const char* What;
        const char* OtherFault; // on the other mirror's requests, "" none
    } cases[] = {
        {"the same validators", ""},
        // Its head proves nothing: a sample of its bytes, compared with those written, does.
        {"no validators, a sample that matches", "no_validators"},
    };
    // Larger than what the chosen mirror's connections ask for ahead before anything is
    // measured: bytes are left for the other once it is judged.
    constexpr size_t Bytes = 6 * FileBytes;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        DeleteFileA((Out + "setup.exe").c_str());
        const auto file = Serve("a/setup.exe", Bytes, 5);
        Serve("b/setup.exe", Bytes, 5);
        // Slow enough per request that more connections, and the other mirror, pay. The chosen
        // mirror answers what it is asked before the file is known only once the other has been
        // asked, as on a link where answers take longer than a thread takes to start.
        std::string script = R"({"rate": 1500000, "rules": [{"path": "/a/setup.exe",
            "if_range": false, "times": -1, "fault": "hold", "until": "/b/setup.exe"})";
        if (*c.OtherFault)
            script += std::string(R"(, {"path": "/b/setup.exe", "times": -1, "fault": ")") +
                      c.OtherFault + R"("})";
        Script(script + "]}");
        const TRun run = Both(Url("/a/setup.exe"), Other("/b/setup.exe"));
        ExpectFinished(run, "setup.exe", file);
        std::vector<std::string> asked[2]; // ranges, by mirror
        for (const std::string& line : Log())
            if (line.find("/setup.exe ") != std::string::npos)
                asked[line.find(" /b/") != std::string::npos].push_back(Field(line, "range"));
        ASSERT_FALSE(asked[0].empty() || asked[1].empty());
        EXPECT_EQ(std::count(asked[0].begin(), asked[0].end(), "bytes=0-262143"), 1);
        EXPECT_EQ(asked[1].front(), "bytes=-65536") << "the other mirror's first request";
        // A share of the work, on connections of its own beside the one that judged it: more
        // than its judging answer and a sample bring (a segment at most each).
        const TServed other = Served("/b/setup.exe");
        EXPECT_GT(other.Bytes, 2 * 262144) << "the other mirror carried no share";
        EXPECT_GT(other.Connections, 1u);
    }
}

TEST_F(EngineMirrors, AChosenMirrorThatFailsHalfWayLeavesItsWorkToTheOther) {
    // Its requests under the file's validator (asked once its first answer defined the file)
    // fail.
    const struct {
        const char* What;
        const char* Rules; // on the chosen mirror
    } cases[] = {
        // Cut part way through, then a proxy's 502 for good: no press, the other carries on.
        {"cut, then busy for good",
         R"({"path": "/a/setup.exe", "if_range": true, "times": 3, "fault": "close_after",
             "bytes": 100000},
            {"path": "/a/setup.exe", "if_range": true, "times": -1, "fault": "status",
             "status": 502})"},
        {"gone", R"({"path": "/a/setup.exe", "if_range": true, "times": -1, "fault": "status",
                     "status": 404})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        DeleteFileA((Out + "setup.exe").c_str());
        const auto file = Serve("a/setup.exe", FileBytes, 7);
        Serve("b/setup.exe", FileBytes, 7);
        Script(std::string(R"({"rate": 3000000, "rules": [)") + c.Rules + "]}");
        const TRun run = Both(Url("/a/setup.exe"), Other("/b/setup.exe"));
        ExpectFinished(run, "setup.exe", file);
        EXPECT_GT(Served("/b/setup.exe").Answers, 0u);
    }
}

TEST_F(EngineMirrors, BothFailingFailsAsOneMirrorWould) {
    Serve("a/setup.exe", FileBytes, 9);
    Serve("b/setup.exe", FileBytes, 9);
    Script(R"({"rules": [{"path": "/a/setup.exe", "times": -1, "fault": "status", "status": 404},
                         {"path": "/b/setup.exe", "times": -1, "fault": "status", "status": 410}]})");
    const TRun run = Both(Url("/a/setup.exe"), Other("/b/setup.exe"));
    ExpectFailed(run, "setup.exe", ErrorHttpStatus);
    EXPECT_EQ(run.Http(), 404u) << "the chosen mirror's answer is the one shown";
    Script(R"({"rules": [{"path": "/a/setup.exe", "times": -1, "fault": "status", "status": 502},
                         {"path": "/b/setup.exe", "times": -1, "fault": "reset"}]})");
    const TRun busy = Both(Url("/a/setup.exe"), Other("/b/setup.exe"));
    ExpectFailed(busy, "setup.exe", ErrorNetwork);
}

// A mirror that serves something else is never used for the file, and whatever happens the
// file finished is one mirror's, whole.
TEST_F(EngineMirrors, AMirrorServingAnotherFileIsNeverMixedIn) {
    struct {
        const char* what;
        size_t otherBytes;
        const char* otherFault; // on the other mirror's requests, "" none
        bool chosenFails;       // the chosen mirror goes away after its first answer
    } cases[] = {
        {"another length", FileBytes + 1, "", false},
        {"the same length, other bytes", FileBytes, "", false},
        {"the same length, no validators", FileBytes, "no_validators", false},
        {"ranges answered with the whole file", FileBytes, "ignore_range", false},
        // What is left serves another file: it becomes the file.
        {"the same length, other bytes, chosen one gone", FileBytes, "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFileA((Out + "setup.exe").c_str());
        const auto chosen = Serve("a/setup.exe", FileBytes, 11);
        const auto other = Serve("b/setup.exe", c.otherBytes, 12);
        std::string rules = R"({"rate": 1500000, "rules": [)";
        if (*c.otherFault)
            rules += std::string(R"({"path": "/b/setup.exe", "times": -1, "fault": ")") +
                     c.otherFault + R"("})" + (c.chosenFails ? "," : "");
        // Gone once its first answer defined the file, after a second of being busy in which
        // the other is judged.
        if (c.chosenFails)
            rules += R"({"path": "/a/setup.exe", "if_range": true, "during": 1, "times": -1,
                         "fault": "status", "status": 503},
                        {"path": "/a/setup.exe", "if_range": true, "times": -1, "fault": "status",
                         "status": 404})";
        Script(rules + "]}");
        const TRun run = Both(Url("/a/setup.exe"), Other("/b/setup.exe"), 30000);
        if (c.chosenFails) {
            ExpectFinished(run, "setup.exe", other, true);
            continue;
        }
        ExpectFinished(run, "setup.exe", chosen, true);
        // Its first answer (and a sample, where nothing else could tell) is all it was asked.
        EXPECT_LE(Served("/b/setup.exe").Answers, 2u);
    }
}

TEST_F(EngineMirrors, AMirrorThatRecoversRejoins) {
    const auto file = Serve("a/setup.exe", 2 * FileBytes, 13);
    Serve("b/setup.exe", 2 * FileBytes, 13);
    // The other mirror turns its first three requests away, then serves. The chosen one answers
    // its first four, then holds its answers until the other is asked a fourth time: the file
    // cannot be done before the other mirror had its chance to rejoin, however slow the machine.
    // No byte comes while they wait, on a loaded machine for longer than the quick budget.
    XL_UnInit();
    auto tunables = QuickTunables();
    tunables.push_back("XLDL_GIVE_UP_MS=60000");
    StartEngine(tunables);
    Script(R"({"rate": 800000, "rules": [
        {"path": "/b/setup.exe", "times": 3, "fault": "status", "status": 503},
        {"path": "/a/setup.exe", "skip": 4, "times": -1, "fault": "hold", "until": "/b/setup.exe",
         "count": 4, "seconds": 20}]})");
    const TRun run = Both(Url("/a/setup.exe"), Other("/b/setup.exe"));
    ExpectFinished(run, "setup.exe", file);
    size_t refused = 0;
    for (const std::string& line : Log())
        refused += line.find("/b/setup.exe") != std::string::npos && Field(line, "status") == "503";
    EXPECT_EQ(refused, 3u) << "the other mirror was not asked again while it was down";
    EXPECT_GT(Served("/b/setup.exe").Answers, 0u) << "it never rejoined";
}

TEST_F(EngineMirrors, ARunThatChoosesTheOtherMirrorTakesUpThePartial) {
    const auto file = Serve("a/setup.exe", 2 * FileBytes, 15);
    Serve("b/setup.exe", 2 * FileBytes, 15);
    Script(R"({"rate": 700000})");
    TRun first;
    static DownloadTaskParam param;
    FillParam(param, Url("/a/setup.exe"), Out, "setup.exe", true);
    const TaskHandle task = XL_CreateTask(&param);
    const std::string b = Other("/b/setup.exe");
    const std::u16string wide(b.begin(), b.end());
    ASSERT_EQ(AddMirror(task, wide.c_str()), 1u);
    ASSERT_TRUE(EngineTrue(XL_StartTask(task)));
    first.Started = true;
    Follow(task, first, 30000, [](const DownloadTaskInfo& i) {
        return Ended(i) || i.DoneSize >= static_cast<int64_t>(FileBytes);
    });
    ASSERT_NE(first.State(), StateFinished) << "too fast to be cut half way";
    const int64_t had = first.Last.DoneSize;
    XL_UnInit(); // the run ends; its partial and state stay
    Quiesce();
    StartEngine(QuickTunables());
    Script("{}");
    const TRun second = Both(Other("/b/setup.exe"), Url("/a/setup.exe"));
    ExpectFinished(second, "setup.exe", file, true);
    EXPECT_EQ(second.Restarts(), 0u);
    // What the first run held was not fetched again, whichever mirror it came from.
    EXPECT_LT(ServedBytes(), static_cast<long long>(file.size()) - had / 2)
        << "held " << had << " of " << file.size();
}

} // namespace
} // namespace mirror
