// The engine against a misbehaving mirror: each fault ends with the file byte-identical under
// its name, or with a failed task, no file under the final name and an existing one kept.
// Progress never goes backwards unless the download had to start over, which the engine
// counts and reports.
#include "MirrorTestSupport.h"

namespace mirror {
namespace {

using EngineFaults = EngineTest;

// The requests after the first, as "range if_range" pairs.
std::vector<std::string> Resumes() {
    std::vector<std::string> r;
    const auto log = Log();
    for (size_t i = 1; i < log.size(); ++i)
        r.push_back(Field(log[i], "range") + " " + Field(log[i], "if_range"));
    return r;
}

TEST_F(EngineFaults, ADroppedOrShortConnectionResumesWithAValidatedRange) {
    const auto content = Serve("setup.exe", 3000000, 21);
    for (const char* fault : {R"("close_after", "bytes": 1000000)",
                              R"("short_body", "bytes": 2000000)", R"("reset")"}) {
        Script(std::string(R"({"rules": [{"path": "/setup.exe", "fault": )") + fault + "}]}");
        const TRun run = Download(Url("/setup.exe"), Out, "setup.exe");
        ExpectFinished(run, "setup.exe", content);
        const auto log = Log();
        ASSERT_EQ(log.size(), 2u) << fault;
        if (std::string(fault) == R"("reset")") {
            EXPECT_EQ(Field(log[1], "range"), "-") << "nothing came: simply asked again";
            continue;
        }
        EXPECT_EQ(Field(log[1], "range"), "bytes=1000000-2999999") << fault;
        EXPECT_EQ(Field(log[1], "status"), "206");
        EXPECT_EQ(Field(log[1], "if_range").front(), '"') << "the entity tag guards the range";
        DeleteFileA((Out + "setup.exe").c_str());
    }
}

TEST_F(EngineFaults, AStalledConnectionIsDroppedAndResumed) {
    const auto content = Serve("setup.exe", 2000000, 22);
    Script(
        R"({"rules": [{"path": "/setup.exe", "fault": "stall", "bytes": 500000, "seconds": 20}]})");
    const TRun run = Download(Url("/setup.exe"), Out, "setup.exe");
    ExpectFinished(run, "setup.exe", content);
    EXPECT_TRUE(run.SawDownloadingWithBytes);
    ASSERT_EQ(Resumes(),
              std::vector<std::string>{"bytes=500000-1999999 " + Field(Log()[1], "if_range")});
}

TEST_F(EngineFaults, ABodyLongerThanAnnouncedDoesNotReachTheFile) {
    const auto content = Serve("setup.exe", 1000000, 23);
    Script(R"({"rules": [{"path": "/setup.exe", "fault": "long_body", "bytes": 50000}]})");
    const TRun run = Download(Url("/setup.exe"), Out, "setup.exe");
    ExpectFinished(run, "setup.exe", content);
}

TEST_F(EngineFaults, BusyServersAreWaitedForAsTheyAsk) {
    const auto content = Serve("setup.exe", 500000, 24);
    Script(R"({"rules": [{"path": "/setup.exe", "fault": "status", "status": 503, "retry_after": 1},
                         {"path": "/setup.exe", "fault": "status", "status": 429, "times": 2}]})");
    const DWORD start = GetTickCount();
    const TRun run = Download(Url("/setup.exe"), Out, "setup.exe");
    const DWORD took = GetTickCount() - start;
    ExpectFinished(run, "setup.exe", content);
    EXPECT_TRUE(run.Saw(StateWaiting));
    EXPECT_EQ(Log().size(), 4u);
    // Retry-After: 1 is worth more than the short backoff of these tests.
    EXPECT_GE(took, 900u);
}

TEST_F(EngineFaults, ServerErrorsAreRetriedUntilTheTriesRunOut) {
    const std::vector<uint8_t> previous = RandomBytes(300, 25);
    ASSERT_TRUE(WriteFileBytes(Out + "setup.exe", previous));
    Serve("setup.exe", 500000, 26);
    Script(R"({"rules": [{"path": "/setup.exe", "fault": "status", "status": 500, "times": -1}]})");
    const TRun run = Download(Url("/setup.exe"), Out, "setup.exe");
    ExpectFailed(run, "setup.exe", ErrorNetwork, previous);
    EXPECT_EQ(run.Http(), 500u);
    EXPECT_EQ(Log().size(), 6u) << "the first try and five retries";
    EXPECT_TRUE(run.Saw(StateWaiting));
}

TEST_F(EngineFaults, UnusableRangeAnswersStartTheDownloadOver) {
    const auto content = Serve("setup.exe", 2000000, 27);
    // After a drop, the server answers the resume with the whole file, a range it was not
    // asked for, or "not satisfiable".
    for (const char* fault : {"ignore_range", "wrong_range", "range_416"}) {
        Script(
            std::string(
                R"({"rules": [{"path": "/setup.exe", "ranged": false, "fault": "close_after", "bytes": 700000},
                                         {"path": "/setup.exe", "ranged": true, "fault": ")") +
            fault + R"("}]})");
        const TRun run = Download(Url("/setup.exe"), Out, "setup.exe");
        ExpectFinished(run, "setup.exe", content, true);
        EXPECT_EQ(run.Restarts(), 1u) << fault;
        EXPECT_EQ(run.DoneDecreases, 1) << fault << ": back to zero once";
        DeleteFileA((Out + "setup.exe").c_str());
    }
}

TEST_F(EngineFaults, AFileChangedBetweenRequestsIsFetchedAgainWhole) {
    Serve("setup.exe", 2000000, 28);
    const auto second = Serve("setup_v2.exe", 2100000, 29);
    Script(
        R"({"rules": [{"path": "/setup.exe", "ranged": false, "fault": "close_after", "bytes": 800000},
                         {"path": "/setup.exe", "ranged": true, "fault": "change", "file": "setup_v2.exe"}]})");
    const TRun run = Download(Url("/setup.exe"), Out, "setup.exe");
    ExpectFinished(run, "setup.exe", second, true);
    EXPECT_EQ(run.Restarts(), 1u);
    const auto log = Log();
    ASSERT_EQ(log.size(), 2u) << "the whole new file came in answer to the resume";
    EXPECT_EQ(Field(log[1], "status"), "200");
}

TEST_F(EngineFaults, WithoutValidatorsADropMeansStartingOver) {
    const auto content = Serve("setup.exe", 1500000, 30);
    // An answer with nothing to tell this file from another (no ETag, Last-Modified or
    // digest) breaks off: a range could splice two different files, so the engine asks for
    // the whole file again.
    Script(R"({"rules": [{"path": "/setup.exe", "fault": "close_after", "bytes": 600000,
                          "validators": false}]})");
    const TRun run = Download(Url("/setup.exe"), Out, "setup.exe");
    ExpectFinished(run, "setup.exe", content, true);
    EXPECT_EQ(run.Restarts(), 1u);
    const auto log = Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(Field(log[1], "range"), "-");
}

TEST_F(EngineFaults, OversizedHeadersDoNotStopTheDownload) {
    const auto content = Serve("setup.exe", 500000, 31);
    Script(R"({"rules": [{"path": "/setup.exe", "fault": "big_headers", "bytes": 70000}]})");
    const TRun run = Download(Url("/setup.exe"), Out, "setup.exe");
    ExpectFinished(run, "setup.exe", content);
}

TEST_F(EngineFaults, AServerOfOneConnectionGetsOneConnection) {
    const auto content = Serve("big.bin", 3 << 20, 32);
    for (const char* refuse : {"503", "reset"}) {
        Script(
            std::string(R"({"max_concurrent": 1, "refuse": ")") + refuse +
            R"(", "rules": [{"path": "/big.bin", "ranged": false, "fault": "pause", "bytes": 100000, "seconds": 0.3}]})");
        const TRun run = Download(Url("/big.bin"), Out, "big.bin", true);
        ExpectFinished(run, "big.bin", content);
        int refused = 0;
        for (const auto& line : Log())
            if (Field(line, "fault") == "refused") ++refused;
        EXPECT_GE(refused, 1) << refuse;
        // Three extra connections, each turned away once (WinINet itself sends a request
        // again once when its connection is reset before any answer).
        EXPECT_LE(refused, 6) << refuse << ": refused connections are not tried again";

        DeleteFileA((Out + "big.bin").c_str());
    }
}

TEST_F(EngineFaults, AFileThatNeverMatchesItsDigestFailsAndKeepsTheOldOne) {
    const std::vector<uint8_t> previous = RandomBytes(400, 33);
    ASSERT_TRUE(WriteFileBytes(Out + "setup.exe", previous));
    Serve("setup.exe", 400000, 34);
    Script(R"({"rules": [{"path": "/setup.exe", "fault": "bad_digest", "times": -1}]})");
    const TRun run = Download(Url("/setup.exe"), Out, "setup.exe");
    ExpectFailed(run, "setup.exe", ErrorVerify, previous);
    EXPECT_TRUE(run.Saw(StateVerifying));
    EXPECT_EQ(Log().size(), 4u) << "fetched once and three times over";
}

TEST_F(EngineFaults, NoRoomForTheAnnouncedSizeFailsBeforeWriting) {
    Serve("setup.exe", 100000, 35);
    const int64_t huge = int64_t{1} << 50;
    Script(
        R"({"rules": [{"path": "/setup.exe", "fault": "fake_length", "bytes": 1125899906842624}]})");
    const TRun run = Download(Url("/setup.exe"), Out, "setup.exe");
    ExpectFailed(run, "setup.exe", ErrorDiskFull);
    EXPECT_EQ(run.Last.TotalSize, huge) << "sizes are 64-bit";
    EXPECT_EQ(run.Last.DoneSize, 0);
}

} // namespace
} // namespace mirror
