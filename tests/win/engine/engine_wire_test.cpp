// The engine against answers framed every way HTTP/1.x allows and against servers that send
// what no sound server sends: chunked bodies, interim answers, HTTP/1.0, an empty file, a body
// that only a close ends, a length that is not the range's, a coded body, and servers that
// flood with interim answers or trailers without end. Every one ends with the served file byte
// for byte, or with a failed task and nothing under the final name; none keeps a thread.
#include "MirrorTestSupport.h"

#include <cstdio>

namespace mirror {
namespace {

using EngineWire = EngineTest;

// The requests of the last run that were not early ones (those an extra connection sends
// before the first answer is in).
std::vector<std::string> MainRequests() {
    std::vector<std::string> main;
    for (const auto& line : Log())
        if (!IsEarlyRequest(line)) main.push_back(line);
    return main;
}

std::string Lines(const std::vector<std::string>& lines) {
    std::string all;
    for (const auto& line : lines)
        all += "\n" + line;
    return all;
}

TEST_F(EngineWire, ChunkedBodiesComeWholeForRangesAndForTheWholeFile) {
    const auto content = Serve("setup.exe", 1500000, 61);
    struct {
        const char* Rule;
        bool Many;
    } cases[] = {
        // 206 answers in chunks, on several connections: none can be read ahead of its end.
        {R"("fault": "chunked", "chunk": 7919, "times": -1)", true},
        {R"("fault": "chunked", "chunk": 5, "trailers": 3, "times": 1)", false},
        // The whole file in chunks: their last one is what says it is whole.
        {R"("fault": "chunked", "chunk": 65536, "whole": true, "times": -1)", true},
        {R"("fault": "chunked", "chunk": 1000, "trailers": 0, "whole": true, "times": -1)", false},
    };
    for (const auto& c : cases) {
        Script(std::string(R"({"rules": [{"path": "/setup.exe", )") + c.Rule + "}]}");
        const TRun run = Download(Url("/setup.exe"), Out, "setup.exe", c.Many);
        ExpectFinished(run, "setup.exe", content);
        EXPECT_NE(Field(Log().front(), "fault"), "-") << c.Rule;
        DeleteFileA((Out + "setup.exe").c_str());
    }
}

TEST_F(EngineWire, InterimAnswersAndHttpOneZeroServersServeTheFile) {
    const auto content = Serve("setup.exe", 1500000, 62);
    for (const char* rule : {
             R"("fault": "interim", "count": 3, "times": -1)",
             R"("fault": "interim", "count": 1, "interval": 0.2, "times": 2)",
             R"("fault": "http10", "times": -1)",
             R"("fault": "http10", "keep_alive": true, "times": -1)",
         }) {
        for (bool many : {false, true}) {
            Script(std::string(R"({"rules": [{"path": "/setup.exe", )") + rule + "}]}");
            const TRun run = Download(Url("/setup.exe"), Out, "setup.exe", many);
            ExpectFinished(run, "setup.exe", content);
            const auto main = MainRequests();
            for (const auto& line : main)
                EXPECT_EQ(Field(line, "status"), "206") << rule << Lines(main);
            DeleteFileA((Out + "setup.exe").c_str());
        }
    }
}

TEST_F(EngineWire, AnEmptyFileIsAnEmptyFileHoweverItIsFramed) {
    const std::vector<uint8_t> empty;
    Serve("empty.exe", 0, 63);
    for (const char* rule : {R"({})", R"({"rules": [{"fault": "chunked", "times": -1}]})",
                             R"({"rules": [{"fault": "no_length", "times": -1}]})"}) {
        for (bool many : {false, true}) {
            Script(rule);
            const TRun run = Download(Url("/empty.exe"), Out, "empty.exe", many);
            // An empty body ended by a close is fetched twice like any other (see below).
            ExpectFinished(run, "empty.exe", empty, true);
            EXPECT_EQ(run.Last.TotalSize, 0);
            DeleteFileA((Out + "empty.exe").c_str());
        }
    }
}

TEST_F(EngineWire, ALengthThatIsNotTheRangesIsNeverWritten) {
    const auto content = Serve("setup.exe", 1000000, 64);
    const std::vector<uint8_t> previous = RandomBytes(700, 65);
    for (int shift : {100, -100}) {
        // Once: the answer is not taken, the range is asked again and comes right.
        Script(R"({"rules": [{"path": "/setup.exe", "fault": "length_mismatch", "shift": )" +
               std::to_string(shift) + "}]}");
        TRun run = Download(Url("/setup.exe"), Out, "setup.exe");
        ExpectFinished(run, "setup.exe", content);
        DeleteFileA((Out + "setup.exe").c_str());
        // Always: nothing of it ever reaches the file, and the task gives up.
        ASSERT_TRUE(WriteFileBytes(Out + "setup.exe", previous));
        Script(R"({"rules": [{"path": "/setup.exe", "fault": "length_mismatch", "times": -1,
                              "shift": )" +
               std::to_string(shift) + "}]}");
        run = Download(Url("/setup.exe"), Out, "setup.exe");
        ExpectFailed(run, "setup.exe", ErrorNetwork, previous);
        EXPECT_EQ(run.Last.DoneSize, 0) << "bytes of an answer that was not taken";
    }
}

TEST_F(EngineWire, ACodedBodyIsNeverSavedAsTheFile) {
    Serve("setup.exe", 800000, 66);
    const std::vector<uint8_t> previous = RandomBytes(900, 67);
    ASSERT_TRUE(WriteFileBytes(Out + "setup.exe", previous));
    Script(R"({"rules": [{"path": "/setup.exe", "fault": "gzip", "times": -1}]})");
    const TRun run = Download(Url("/setup.exe"), Out, "setup.exe", true);
    ExpectFailed(run, "setup.exe", ErrorContentCoded, previous);
    EXPECT_EQ(run.Last.DoneSize, 0);
    EXPECT_EQ(MainRequests().size(), 1u) << "asking again brings the same" << Lines(Log());
}

TEST_F(EngineWire, ABodyThatOnlyACloseEndsIsWholeOnlyWhenTwoFetchesAgree) {
    // No length, no chunks, no digest, plain HTTP: a server that has said all and a connection
    // cut short look the same. The file is taken only when a second fetch ends at the same
    // byte with the same bytes.
    const auto content = Serve("setup.exe", 1500000, 68);
    Script(R"({"rules": [{"path": "/setup.exe", "fault": "no_length", "times": -1,
                          "validators": false}]})");
    TRun run = Download(Url("/setup.exe"), Out, "setup.exe");
    ExpectFinished(run, "setup.exe", content, true);
    EXPECT_EQ(run.Restarts(), 1u);
    EXPECT_EQ(Log().size(), 2u) << Lines(Log());
    DeleteFileA((Out + "setup.exe").c_str());

    // Cut short once: the cut never passes for the file; two whole fetches that agree do.
    Script(R"({"rules": [{"path": "/setup.exe", "fault": "no_length_cut", "bytes": 700000,
                          "validators": false},
                         {"path": "/setup.exe", "fault": "no_length", "times": -1,
                          "validators": false}]})");
    run = Download(Url("/setup.exe"), Out, "setup.exe");
    ExpectFinished(run, "setup.exe", content, true);
    EXPECT_EQ(run.Restarts(), 2u) << Lines(Log());
    DeleteFileA((Out + "setup.exe").c_str());

    // Cut short at another place each time: never two alike, so never a file, and an older
    // file under the name stays as it was.
    const std::vector<uint8_t> previous = RandomBytes(600, 69);
    ASSERT_TRUE(WriteFileBytes(Out + "setup.exe", previous));
    std::string rules;
    for (int cut = 300000; cut <= 1200000; cut += 100000)
        rules +=
            std::string(rules.empty() ? "" : ",") +
            R"({"path": "/setup.exe", "fault": "no_length_cut", "validators": false, "bytes": )" +
            std::to_string(cut) + "}";
    Script(R"({"rules": [)" + rules + "]}");
    run = Download(Url("/setup.exe"), Out, "setup.exe");
    ExpectFailed(run, "setup.exe", ErrorUnstable, previous);
    EXPECT_FALSE(Exists(Out + "setup.exe.part.state"));
}

TEST_F(EngineWire, FloodingServersNeitherHoldAThreadNorPassForTheFile) {
    const auto content = Serve("setup.exe", 1000000, 70);
    // Interim answers without end, as fast as they go or slowly: no answer ever comes, and
    // the task gives up within its budget (3 s without a byte here).
    for (const char* interval : {"0", "0.05"}) {
        Script(std::string(R"({"rules": [{"path": "/setup.exe", "fault": "interim", "count": -1,
                                          "times": -1, "interval": )") +
               interval + "}]}");
        const DWORD start = GetTickCount();
        const TRun run = Download(Url("/setup.exe"), Out, "setup.exe", false, 60000);
        ExpectFailed(run, "setup.exe", ErrorNetwork);
        EXPECT_LT(GetTickCount() - start, 20000u) << "interval " << interval;
    }
    // Trailers without end after the last chunk: the body is whole all the same.
    for (const char* interval : {"0", "0.05"}) {
        Script(std::string(R"({"rules": [{"path": "/setup.exe", "fault": "trailer_flood",
                                          "whole": true, "times": -1, "interval": )") +
               interval + "}]}");
        const TRun run = Download(Url("/setup.exe"), Out, "setup.exe", false, 60000);
        ExpectFinished(run, "setup.exe", content);
        DeleteFileA((Out + "setup.exe").c_str());
    }
}

TEST_F(EngineWire, UnInitEndsTasksWhileServersFlood) {
    Serve("a.exe", 500000, 71);
    Serve("b.exe", 500000, 72);
    Serve("c.exe", 500000, 73);
    XL_UnInit();
    StartEngine({"XLDL_STALL_MS=60000", "XLDL_GIVE_UP_MS=600000"});
    const auto liveThreads = reinterpret_cast<TXldlLiveThreads>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("xldl.dll"), "XLDL_LiveThreads")));
    ASSERT_NE(liveThreads, nullptr);
    Script(R"({"rules": [
        {"path": "/a.exe", "fault": "interim", "count": -1, "times": -1},
        {"path": "/b.exe", "fault": "interim", "count": -1, "interval": 0.05, "times": -1},
        {"path": "/c.exe", "fault": "trailer_flood", "whole": true, "interval": 0.05, "times": -1}]})");
    TRun a, b, c;
    const TaskHandle ta = StartDownload(Url("/a.exe"), Out, "a.exe", false, a);
    const TaskHandle tb = StartDownload(Url("/b.exe"), Out, "b.exe", false, b);
    const TaskHandle tc = StartDownload(Url("/c.exe"), Out, "c.exe", false, c);
    ASSERT_TRUE(a.Started && b.Started && c.Started);
    // Each is in its flood: two answers under way that never come, a body whose trailers
    // never end.
    Follow(tc, c, 20000, [](const DownloadTaskInfo& i) { return i.DoneSize >= 500000; });
    ASSERT_EQ(c.Last.DoneSize, 500000);
    Sleep(500);
    ASSERT_GE(Log().size(), 3u) << Lines(Log());
    Follow(ta, a, 100, Ended);
    Follow(tb, b, 100, Ended);
    ASSERT_FALSE(Ended(a.Last));
    ASSERT_FALSE(Ended(b.Last));

    const DWORD start = GetTickCount();
    XL_UnInit();
    const DWORD took = GetTickCount() - start;
    RecordProperty("uninit_ms", static_cast<int>(took));
    EXPECT_LT(took, 5000u) << "XL_UnInit waited for a flood";
    EXPECT_EQ(liveThreads(), 0u) << "a thread is still reading a flood";
    for (const char* name : {"a.exe", "b.exe", "c.exe"})
        EXPECT_FALSE(Exists(Out + name)) << name;
    ASSERT_TRUE(EngineTrue(XL_Init()));
}

} // namespace
} // namespace mirror
