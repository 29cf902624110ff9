// The engine downloading from the mirror when things go right, or fail for good: the file
// arrives whole under its name, progress only grows, several connections share a large file,
// redirects and proxies are followed, and a task that fails or is stopped leaves no file
// under the final name and keeps an existing one.
#include "MirrorTestSupport.h"

#include <cstdio>
#include <set>
#include <sstream>

namespace mirror {
namespace {

using EngineDownload = EngineTest;

TEST_F(EngineDownload, OneConnectionFetchesTheWholeFileWithGrowingProgress) {
    const auto content = Serve("setup.exe", 3000000);
    // A pause in the middle, so that the transfer is seen under way.
    Script(
        R"({"rules": [{"path": "/setup.exe", "fault": "pause", "bytes": 1000000, "seconds": 0.4}]})");
    const TRun run = Download(Url("/setup.exe"), Out, "setup.exe", false);
    ExpectFinished(run, "setup.exe", content);
    EXPECT_TRUE(run.SawDownloadingWithBytes);
    bool sawTotalWhileDownloading = false;
    for (const auto& info : run.Seen)
        if (info.State == StateDownloading && info.TotalSize == 3000000)
            sawTotalWhileDownloading = true;
    EXPECT_TRUE(sawTotalWhileDownloading);
    // The record is written whole: the engine's fields and zero elsewhere.
    const auto* bytes = reinterpret_cast<const uint8_t*>(&run.Last);
    for (size_t i = InfoDetailOffset + 4; i < 1048; ++i)
        ASSERT_EQ(bytes[i], 0) << "byte " << i;
    // One connection: its chunks one after another, never two requests at once.
    const auto log = Log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(Field(log[0], "range"), "bytes=0-262143");
    for (const auto& line : log) {
        EXPECT_EQ(Field(line, "inflight"), "1") << line;
        EXPECT_EQ(Field(line, "status"), "206") << line;
    }
}

TEST_F(EngineDownload, ALargeFileIsSharedAmongConnectionsWithValidatedRanges) {
    const auto content = Serve("big.bin", 4 << 20, 7);
    // The first answer pauses, so the other connections run beside it.
    Script(
        R"({"rules": [{"path": "/big.bin", "fault": "pause", "bytes": 100000, "seconds": 0.5}]})");
    const TRun run = Download(Url("/big.bin"), Out, "big.bin", true);
    ExpectFinished(run, "big.bin", content);
    const auto log = Log();
    int ranged = 0, maxInflight = 0;
    std::string validator;
    ASSERT_FALSE(log.empty());
    // The first request learns the file's size and validator from its first chunk; the other
    // connections ask for their shares as they connect (each once, under no validator: their
    // answers count only if they name the same file); every later request is a range guarded
    // by that validator.
    int first = 0, early = 0;
    std::set<std::string> earlyRanges;
    for (const std::string& line : log) {
        maxInflight = std::max(maxInflight, std::atoi(Field(line, "inflight").c_str()));
        EXPECT_EQ(Field(line, "status"), "206") << line;
        if (Field(line, "range") == "bytes=0-262143" && Field(line, "if_range") == "-") {
            ++first;
        } else if (IsEarlyRequest(line)) {
            ++early;
            EXPECT_TRUE(earlyRanges.insert(Field(line, "range")).second) << "asked twice: " << line;
        } else {
            ++ranged;
            EXPECT_NE(Field(line, "if_range"), "-") << "a range without If-Range: " << line;
            if (validator.empty()) validator = Field(line, "if_range");
            EXPECT_EQ(Field(line, "if_range"), validator);
        }
    }
    EXPECT_EQ(first, 1);
    EXPECT_LE(early, 3);
    EXPECT_GE(ranged + early, 2);
    EXPECT_GE(maxInflight, 2);
    EXPECT_LE(maxInflight, 4);
    bool sawSeveral = false;
    for (const auto& info : run.Seen)
        if (InfoField(info, InfoConnectionsOffset) >= 2) sawSeveral = true;
    EXPECT_TRUE(sawSeveral);
}

TEST_F(EngineDownload, AServerThatPacesBySecondsKeepsEveryConnectionBusyToTheEnd) {
    // Each connection gets a second's worth at once, then nothing until the next second, as
    // lighttpd's cap per connection: the burst's speed is no connection's rate, and the pause
    // after it no sign of a slow one. Four connections carry a quarter each, give or take,
    // wherever in its second the server's first burst falls.
    constexpr long long Size = 24 << 20;
    const auto content = Serve("big.bin", Size, 31);
    XL_UnInit();
    StartEngine({"XLDL_SEGMENT_BYTES=4194304", "XLDL_STALL_MS=10000"});
    for (DWORD offset : {0, 250, 500, 750}) {
        Script(R"({"burst": 2097152})");
        Sleep(offset);
        const TRun run = Download(Url("/big.bin"), Out, "big.bin", true, 60000);
        ExpectFinished(run, "big.bin", content);
        const auto carried = BytesPerConnection();
        std::ostringstream shares;
        long long most = 0;
        int busy = 0;
        for (long long bytes : carried) {
            shares << " " << bytes;
            most = std::max(most, bytes);
            busy += bytes >= Size / 8;
        }
        EXPECT_LE(most, Size / 2) << offset << " ms into a second, one connection carried most:"
                                  << shares.str();
        EXPECT_GE(busy, 4) << offset << " ms into a second, bytes per connection:" << shares.str();
        DeleteFileA((Out + "big.bin").c_str());
    }
}

TEST_F(EngineDownload, WithoutTheOptionFlagOneConnectionDoesIt) {
    const auto content = Serve("big.bin", 4 << 20, 8);
    const TRun run = Download(Url("/big.bin"), Out, "big.bin", false);
    ExpectFinished(run, "big.bin", content);
    const auto log = Log();
    EXPECT_GE(log.size(), 16u) << "4 MiB in chunks of 256 KiB";
    for (const auto& line : log)
        EXPECT_EQ(Field(line, "inflight"), "1") << "one request at a time: " << line;
}

TEST_F(EngineDownload, UnknownLengthShowsZeroTotalUntilTheEnd) {
    const auto content = Serve("setup.exe", 1500000, 3);
    Script(R"({"rules": [{"path": "/setup.exe", "fault": "no_length", "times": -1}]})");
    const TRun run = Download(Url("/setup.exe"), Out, "setup.exe", true);
    ExpectFinished(run, "setup.exe", content);
    // The size is known once the stream has ended, not before.
    for (const auto& info : run.Seen)
        if (info.State == StateDownloading && info.DoneSize < 1500000) {
            EXPECT_EQ(info.TotalSize, 0) << "size unknown";
        }
    // One stream to its end: besides the first request, only the early ones (whose whole-file
    // answers are dropped), and no range asked later.
    std::string all;
    int firsts = 0;
    for (const auto& line : Log()) {
        all += line + "\n";
        if (!IsEarlyRequest(line)) ++firsts;
    }
    EXPECT_EQ(firsts, 1) << "no ranges for a file of unknown length\n" << all;
}

TEST_F(EngineDownload, RedirectsAreFollowedButNotInALoop) {
    const auto content = Serve("service/setup.exe", 800000, 4);
    Script(R"({"rules": [
        {"path": "/old/setup.exe", "fault": "redirect", "location": "../service/setup.exe", "status": 301},
        {"path": "/a", "fault": "redirect", "location": "/b", "times": -1},
        {"path": "/b", "fault": "redirect", "location": "/a", "times": -1, "status": 307}]})");
    TRun run = Download(Url("/old/setup.exe"), Out, "setup.exe");
    ExpectFinished(run, "setup.exe", content);

    run = Download(Url("/a"), Out, "looped.exe");
    ExpectFailed(run, "looped.exe", ErrorRedirects);
    EXPECT_LT(Log().size(), 30u) << "the loop was cut";
}

TEST_F(EngineDownload, ALaterRangeRedirectedElsewhereIsAskedThere) {
    const auto content = Serve("big.bin", 3 << 20, 17);
    Serve("moved/big.bin", 3 << 20, 17); // the same bytes: the same entity tag
    Script(R"({"rules": [{"path": "/big.bin", "ranged": true, "skip": 5, "fault": "redirect",
                          "status": 302, "location": "/moved/big.bin"}]})");
    const TRun run = Download(Url("/big.bin"), Out, "big.bin", true);
    ExpectFinished(run, "big.bin", content);
    int moved = 0;
    for (const auto& line : Log()) {
        if (line.find(" /moved/big.bin ") == std::string::npos) continue;
        ++moved;
        EXPECT_EQ(Field(line, "status"), "206") << line;
        EXPECT_EQ(Field(line, "if_range").front(), '"') << "still guarded: " << line;
    }
    EXPECT_GE(moved, 1) << "nothing was asked where the file went";
}

TEST_F(EngineDownload, AnExplicitProxyCarriesTheMirrorHosts) {
    const auto content = Serve("dl1.orlenz.com/service/setup.exe", 600000, 5);
    XL_UnInit();
    StartEngine({"http_proxy=http://" + Address() + "/"});
    const TRun run = Download("http://dl1.orlenz.com/service/setup.exe", Out, "setup.exe");
    ExpectFinished(run, "setup.exe", content);
    const auto log = Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(Field(log[0], "abs"), "1") << "asked as a proxy: " << log[0];
}

TEST_F(EngineDownload, PermanentRefusalsFailAtOnceAndKeepTheExistingFile) {
    const std::vector<uint8_t> previous = RandomBytes(1000, 9);
    ASSERT_TRUE(WriteFileBytes(Out + "setup.exe", previous));
    for (int status : {404, 403, 410}) {
        Script(R"({"rules": [{"fault": "status", "times": -1, "status": )" +
               std::to_string(status) + "}]}");
        const TRun run = Download(Url("/setup.exe"), Out, "setup.exe", true);
        ExpectFailed(run, "setup.exe", ErrorHttpStatus, previous);
        EXPECT_EQ(run.Http(), static_cast<uint32_t>(status));
        std::set<std::string> asked;
        for (const auto& line : Log())
            EXPECT_TRUE(asked.insert(Field(line, "range")).second) << status << " is retried";
    }
    // Not found at all: the same.
    Script("{}");
    const TRun run = Download(Url("/missing.exe"), Out, "setup.exe");
    ExpectFailed(run, "setup.exe", ErrorHttpStatus, previous);
    EXPECT_EQ(run.Http(), 404u);
}

TEST_F(EngineDownload, CallsAnswerForWhatTheyKnow) {
    EXPECT_EQ(XL_CreateTask(nullptr), 0u);
    EXPECT_FALSE(EngineTrue(XL_StartTask(0xDEAD)));
    DownloadTaskInfo info;
    EXPECT_FALSE(EngineTrue(XL_QueryTaskInfoEx(0xDEAD, &info)));

    DownloadTaskParam param;
    FillParam(param, Url("/setup.exe"), Out, "setup.exe", true);
    const TaskHandle task = XL_CreateTask(&param);
    ASSERT_NE(task, 0u);
    EXPECT_FALSE(EngineTrue(XL_QueryTaskInfoEx(task, nullptr)));
    ASSERT_TRUE(EngineTrue(XL_QueryTaskInfoEx(task, &info)));
    EXPECT_EQ(info.State, StateCreated);
    EXPECT_EQ(info.DoneSize, 0);

    // Not a URL the engine can fetch: the task fails at once.
    TRun run = Download("ftp://" + Address() + "/setup.exe", Out, "setup.exe");
    ExpectFailed(run, "setup.exe", ErrorBadUrl);
    run = Download("http://", Out, "setup.exe");
    ExpectFailed(run, "setup.exe", ErrorBadUrl);
    EXPECT_TRUE(Log().empty());

    // After XL_UnInit no task is known, and none can be made until XL_Init.
    XL_UnInit();
    EXPECT_FALSE(EngineTrue(XL_QueryTaskInfoEx(task, &info)));
    EXPECT_EQ(XL_CreateTask(&param), 0u);
    ASSERT_TRUE(EngineTrue(XL_Init()));
}

TEST_F(EngineDownload, UnInitStopsRunningTasksPromptlyAndLeavesNoThread) {
    const auto content = Serve("setup.exe", 2000000, 6);
    const std::vector<uint8_t> previous = RandomBytes(500, 10);
    ASSERT_TRUE(WriteFileBytes(Out + "kept.exe", previous));
    XL_UnInit();
    // The fixture's short retry cap would cut the server's 30 s to 2 s.
    StartEngine({"XLDL_STALL_MS=60000", "XLDL_RETRY_CAP_MS=60000", "XLDL_GIVE_UP_MS=60000"});
    const auto liveThreads = reinterpret_cast<TXldlLiveThreads>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("xldl.dll"), "XLDL_LiveThreads")));
    ASSERT_NE(liveThreads, nullptr);
    // One task hangs in the middle of the body, another waits out a long Retry-After (busy
    // for as long as it asks, however long the others take to get going), a third shares a
    // paused file among connections.
    Script(R"({"rules": [{"path": "/setup.exe", "fault": "stall", "bytes": 200000, "seconds": 30},
                         {"path": "/busy.exe", "fault": "status", "status": 503, "retry_after": 30, "times": -1},
                         {"path": "/big.bin", "fault": "pause", "bytes": 100000, "seconds": 30, "times": -1}]})");
    Serve("busy.exe", 1000, 11);
    Serve("big.bin", 4 << 20, 12);
    DownloadTaskParam p1, p2, p3;
    FillParam(p1, Url("/setup.exe"), Out, "setup.exe", false);
    FillParam(p2, Url("/busy.exe"), Out, "kept.exe", false);
    FillParam(p3, Url("/big.bin"), Out, "big.bin", true);
    const TaskHandle t1 = XL_CreateTask(&p1), t2 = XL_CreateTask(&p2), t3 = XL_CreateTask(&p3);
    ASSERT_TRUE(EngineTrue(XL_StartTask(t1)));
    ASSERT_TRUE(EngineTrue(XL_StartTask(t2)));
    ASSERT_TRUE(EngineTrue(XL_StartTask(t3)));
    TRun r1, r2, r3;
    // A read reports its bytes once it is complete, so part of what came before the stall may
    // still be in hand.
    Follow(t1, r1, 10000, [](const DownloadTaskInfo& i) { return i.DoneSize >= 100000; });
    Follow(t2, r2, 10000, [](const DownloadTaskInfo& i) { return i.State == StateWaiting; });
    Follow(t3, r3, 10000,
           [](const DownloadTaskInfo& i) { return InfoField(i, InfoConnectionsOffset) >= 2; });
    ASSERT_GE(r1.Last.DoneSize, 100000);
    ASSERT_LE(r1.Last.DoneSize, 200000);
    ASSERT_EQ(r2.State(), StateWaiting);
    ASSERT_GE(liveThreads(), 3u);

    const DWORD start = GetTickCount();
    XL_UnInit();
    const DWORD took = GetTickCount() - start;
    EXPECT_LT(took, 5000u) << "XL_UnInit waited for the network";
    EXPECT_EQ(liveThreads(), 0u);
    // Nothing under the final names; what came is kept, with its state, for the next task.
    EXPECT_FALSE(Exists(Out + "setup.exe"));
    EXPECT_TRUE(Exists(Out + "setup.exe.part"));
    EXPECT_TRUE(Exists(Out + "setup.exe.part.state"));
    EXPECT_FALSE(Exists(Out + "big.bin"));
    EXPECT_EQ(Exists(Out + "big.bin.part"), Exists(Out + "big.bin.part.state"))
        << "a partial is kept with its state or not at all";
    const auto kept = ReadFileBytes(Out + "kept.exe");
    ASSERT_TRUE(kept);
    EXPECT_TRUE(*kept == previous);
    ASSERT_TRUE(EngineTrue(XL_Init()));
    (void)content;
}

TEST_F(EngineDownload, NoRequestAsksForMoreThanOneChunk) {
    // A request dropped before the end of its body costs its remainder (WinINet reads it out
    // on closing), so none may ask for more than a chunk, on one connection or on several.
    const auto content = Serve("big.bin", 3 << 20, 15);
    for (bool many : {false, true}) {
        Script("{}");
        const TRun run = Download(Url("/big.bin"), Out, "big.bin", many);
        ExpectFinished(run, "big.bin", content);
        const auto log = Log();
        EXPECT_GE(log.size(), (3u << 20) / 262144) << "one chunk per request";
        int64_t asked = 0;
        for (const auto& line : log) {
            long long first = -1, last = -1;
            ASSERT_EQ(std::sscanf(Field(line, "range").c_str(), "bytes=%lld-%lld", &first, &last),
                      2)
                << "not a closed range: " << line;
            EXPECT_LE(last - first + 1, 262144) << line;
            EXPECT_EQ(Field(line, "status"), "206") << line;
            asked += last - first + 1;
        }
        EXPECT_GE(asked, 3 << 20) << "every byte asked for";
        DeleteFileA((Out + "big.bin").c_str());
    }
}

TEST_F(EngineDownload, UnInitIsPromptWhileALargeFileComesOnSeveralConnections) {
    Serve("large.bin", 64 << 20, 16);
    XL_UnInit();
    StartEngine({"XLDL_SEGMENT_BYTES=4194304"});
    const auto liveThreads = reinterpret_cast<TXldlLiveThreads>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("xldl.dll"), "XLDL_LiveThreads")));
    ASSERT_NE(liveThreads, nullptr);
    // A cap per request, so that each connection added adds speed and more of them come.
    Script(R"({"rate": 8000000})");
    TRun run;
    const TaskHandle task = StartDownload(Url("/large.bin"), Out, "large.bin", true, run);
    ASSERT_TRUE(run.Started);
    Follow(task, run, 20000, [](const DownloadTaskInfo& i) {
        return Ended(i) || (i.DoneSize >= (6 << 20) && InfoField(i, InfoConnectionsOffset) >= 2);
    });
    ASSERT_EQ(run.State(), StateDownloading) << "error " << run.Error();
    ASSERT_LT(run.Last.DoneSize, 48 << 20) << "too near the end to tell anything";

    const DWORD start = GetTickCount();
    XL_UnInit();
    const DWORD took = GetTickCount() - start;
    EXPECT_LT(took, 3000u) << "XL_UnInit waited for the rest of the file";
    EXPECT_EQ(liveThreads(), 0u) << "a connection is still reading out its request";
    EXPECT_FALSE(Exists(Out + "large.bin"));
    ASSERT_TRUE(Exists(Out + "large.bin.part.state")) << "the progress was not kept";

    // The same download in a new session of the engine takes up where the last one stopped:
    // every request a range under the file's validator, none for bytes already on disk.
    // The ranges the state says are on disk.
    std::vector<std::pair<long long, long long>> kept;
    const auto state = ReadFileBytes(Out + "large.bin.part.state");
    ASSERT_TRUE(state);
    std::istringstream lines(std::string(state->begin(), state->end()));
    long long keptBytes = 0;
    for (std::string line; std::getline(lines, line);) {
        long long a = 0, b = 0;
        if (std::sscanf(line.c_str(), "range %lld %lld", &a, &b) == 2) {
            kept.emplace_back(a, b);
            keptBytes += b - a;
        }
    }
    EXPECT_GE(keptBytes, 6 << 20) << "what had come before XL_UnInit was not all kept";
    ASSERT_TRUE(EngineTrue(XL_Init()));
    Quiesce(); // the mirror has answered (into closed sockets) what the last session asked
    Script("{}");
    const auto served = ReadFileBytes(Root() + "large.bin");
    ASSERT_TRUE(served);
    const TRun again = Download(Url("/large.bin"), Out, "large.bin", true);
    ExpectFinished(again, "large.bin", *served);
    for (const auto& info : again.Seen)
        if (info.State == StateDownloading) {
            EXPECT_GE(info.DoneSize, 6 << 20) << "progress starts at what was kept";
            break;
        }
    for (const auto& line : Log()) {
        long long first = -1, last = -1;
        ASSERT_EQ(std::sscanf(Field(line, "range").c_str(), "bytes=%lld-%lld", &first, &last), 2)
            << line;
        EXPECT_NE(Field(line, "if_range"), "-") << line;
        for (const auto& [a, b] : kept)
            EXPECT_TRUE(last < a || first >= b) << "bytes on disk asked for again: " << line;
    }
    EXPECT_FALSE(Exists(Out + "large.bin.part.state")) << "state left beside the finished file";
}

TEST_F(EngineDownload, TheFinishedFileWaitsForItsNameToComeFree) {
    const auto content = Serve("setup.exe", 500000, 13);
    const std::vector<uint8_t> previous = RandomBytes(700, 14);
    ASSERT_TRUE(WriteFileBytes(Out + "setup.exe", previous));
    // Someone holds the old file open without letting it be replaced, for a while.
    HANDLE held = CreateFileA((Out + "setup.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    TRun run;
    const TaskHandle task = StartDownload(Url("/setup.exe"), Out, "setup.exe", false, run);
    ASSERT_TRUE(run.Started);
    Follow(task, run, 10000,
           [](const DownloadTaskInfo& i) { return i.State == StateVerifying || Ended(i); });
    const bool wineRenamesOverOpenFiles = run.State() == StateFinished;
    std::printf("rename over an open file %s\n", wineRenamesOverOpenFiles ? "allowed" : "waits");
    if (!wineRenamesOverOpenFiles) {
        Sleep(300);
        DownloadTaskInfo info;
        ASSERT_TRUE(EngineTrue(XL_QueryTaskInfoEx(task, &info)));
        EXPECT_EQ(info.State, StateVerifying) << "still waiting for the name";
        const auto old = ReadFileBytes(Out + "setup.exe");
        ASSERT_TRUE(old);
        EXPECT_TRUE(*old == previous);
    }
    CloseHandle(held);
    Follow(task, run, 10000, Ended);
    ExpectFinished(run, "setup.exe", content);
}

} // namespace
} // namespace mirror
