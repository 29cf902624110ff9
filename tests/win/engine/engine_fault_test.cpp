// The engine against a misbehaving mirror: each fault ends with the file byte-identical under
// its name, or with a failed task, no file under the final name and an existing one kept.
// Progress never goes backwards unless the download had to start over, which the engine
// counts and reports.
#include "MirrorTestSupport.h"
#include "xldl/core/Growth.h"

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <set>

namespace mirror {
namespace {

using EngineFaults = EngineTest;

// Whether `range` resumes a first chunk of 256 KiB that broke off after at most `sent` bytes:
// from where the bytes that came end, to the end of that chunk.
bool ResumesFirstChunk(const std::string& range, long long sent) {
    long long first = -1, last = -1;
    return std::sscanf(range.c_str(), "bytes=%lld-%lld", &first, &last) == 2 && first > 0 &&
           first <= sent && last == 262143;
}

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
    // The first answer is the first chunk (256 KiB): it breaks off after 100000 bytes.
    for (const char* fault :
         {R"("close_after", "bytes": 100000)", R"("short_body", "bytes": 162144)", R"("reset")"}) {
        Script(std::string(R"({"rules": [{"path": "/setup.exe", "fault": )") + fault + "}]}");
        const TRun run = Download(Url("/setup.exe"), Out, "setup.exe");
        ExpectFinished(run, "setup.exe", content);
        const auto log = Log();
        ASSERT_GE(log.size(), 2u) << fault;
        if (std::string(fault) == R"("reset")") {
            EXPECT_EQ(Field(log[1], "range"), "bytes=0-262143")
                << "nothing came: simply asked again";
            EXPECT_EQ(Field(log[1], "if_range"), "-");
            DeleteFileA((Out + "setup.exe").c_str());
            continue;
        }
        EXPECT_TRUE(ResumesFirstChunk(Field(log[1], "range"), 100000)) << fault << ": " << log[1];
        EXPECT_EQ(Field(log[1], "status"), "206");
        EXPECT_EQ(Field(log[1], "if_range").front(), '"') << "the entity tag guards the range";
        DeleteFileA((Out + "setup.exe").c_str());
    }
}

TEST_F(EngineFaults, AStalledConnectionIsDroppedAndResumed) {
    const auto content = Serve("setup.exe", 2000000, 22);
    Script(
        R"({"rules": [{"path": "/setup.exe", "fault": "stall", "bytes": 100000, "seconds": 20}]})");
    const TRun run = Download(Url("/setup.exe"), Out, "setup.exe");
    ExpectFinished(run, "setup.exe", content);
    EXPECT_TRUE(run.SawDownloadingWithBytes);
    const auto resumes = Resumes();
    ASSERT_FALSE(resumes.empty());
    const auto log = Log();
    EXPECT_TRUE(ResumesFirstChunk(Field(log[1], "range"), 100000)) << log[1];
    EXPECT_EQ(Field(log[1], "if_range").front(), '"') << "the entity tag guards the range";
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
    // Three refusals, then the file (in chunks).
    const auto log = Log();
    ASSERT_GE(log.size(), 5u);
    EXPECT_EQ(Field(log[0], "status"), "503");
    EXPECT_EQ(Field(log[1], "status"), "429");
    EXPECT_EQ(Field(log[2], "status"), "429");
    for (size_t i = 3; i < log.size(); ++i)
        EXPECT_EQ(Field(log[i], "status"), "206") << log[i];
    // Retry-After: 1 is worth more than the short backoff of these tests.
    EXPECT_GE(took, 900u);
}

TEST_F(EngineFaults, ServerErrorsAreRetriedUntilTheBudgetRunsOut) {
    const std::vector<uint8_t> previous = RandomBytes(300, 25);
    ASSERT_TRUE(WriteFileBytes(Out + "setup.exe", previous));
    Serve("setup.exe", 500000, 26);
    Script(R"({"rules": [{"path": "/setup.exe", "fault": "status", "status": 500, "times": -1}]})");
    const DWORD start = GetTickCount();
    const TRun run = Download(Url("/setup.exe"), Out, "setup.exe");
    const DWORD took = GetTickCount() - start;
    ExpectFailed(run, "setup.exe", ErrorNetwork, previous);
    EXPECT_EQ(run.Http(), 500u);
    // A budget of 3 s without a byte, pauses from 20 ms doubling up to 2 s.
    EXPECT_GE(took, 3000u) << "gave up before the budget was spent";
    EXPECT_GE(Log().size(), 4u) << "tried again and again within the budget";
    EXPECT_TRUE(run.Saw(StateWaiting));
}

TEST_F(EngineFaults, UnusableRangeAnswersStartTheDownloadOver) {
    const auto content = Serve("setup.exe", 2000000, 27);
    // After a drop, the server answers the resume with the whole file, a range it was not
    // asked for, or "not satisfiable".
    // Chunks of 1 MiB, so that the first breaks off far enough in to see done fall back.
    XL_UnInit();
    StartEngine({"XLDL_SEGMENT_BYTES=1048576"});
    for (const char* fault : {"ignore_range", "wrong_range", "range_416"}) {
        Script(std::string(
                   R"({"rules": [{"path": "/setup.exe", "fault": "close_after", "bytes": 700000},
                                         {"path": "/setup.exe", "ranged": true, "fault": ")") +
               fault + R"("}]})");
        const TRun run = Download(Url("/setup.exe"), Out, "setup.exe");
        ExpectFinished(run, "setup.exe", content, true);
        EXPECT_EQ(run.Restarts(), 1u) << fault << [&] {
            std::string l;
            for (const auto& line : Log())
                l += "\n" + line;
            return l;
        }();
        std::string seen;
        for (const auto& info : run.Seen)
            seen += std::to_string(info.DoneSize) + " ";
        for (const auto& line : Log())
            seen += "\n" + line;
        // The fall may come and go between two looks when the new start is quick.
        EXPECT_LE(run.DoneDecreases, 1) << fault << ": back to zero once\n" << seen;
        DeleteFileA((Out + "setup.exe").c_str());
    }
}

TEST_F(EngineFaults, AFileChangedBetweenRequestsIsFetchedAgainWhole) {
    Serve("setup.exe", 2000000, 28);
    const auto second = Serve("setup_v2.exe", 2100000, 29);
    Script(
        R"({"rules": [{"path": "/setup.exe", "fault": "close_after", "bytes": 100000},
                         {"path": "/setup.exe", "ranged": true, "fault": "change", "file": "setup_v2.exe"}]})");
    const TRun run = Download(Url("/setup.exe"), Out, "setup.exe");
    ExpectFinished(run, "setup.exe", second, true);
    EXPECT_EQ(run.Restarts(), 1u);
    const auto log = Log();
    ASSERT_EQ(log.size(), 2u) << "the whole new file came in answer to the resume";
    EXPECT_EQ(Field(log[1], "status"), "200");
}

// The most requests the mirror served at once among `log`'s lines [from, to).
int MostAtOnce(const std::vector<std::string>& log, size_t from = 0, size_t to = SIZE_MAX) {
    int most = 0;
    for (size_t i = from; i < std::min(to, log.size()); ++i)
        most = std::max(most, std::atoi(Field(log[i], "inflight").c_str()));
    return most;
}

TEST_F(EngineFaults, WithoutValidatorsRangesGoInParallelAndADropIsResumed) {
    // Large enough that connections, added one by one as each adds speed, come to work on it.
    const auto content = Serve("setup.exe", 6000000, 30);
    // Nothing tells this file from another (no ETag, Last-Modified or digest): the ranges go
    // on several connections all the same, each compared with its neighbours where they meet,
    // and one that breaks off is taken up where it stopped rather than from zero.
    Script(R"({"rate": 3000000,
               "rules": [{"path": "/setup.exe", "ranged": true, "skip": 5, "fault": "close_after",
                          "bytes": 100000, "validators": false},
                         {"path": "/setup.exe", "fault": "no_validators", "times": -1}]})");
    const TRun run = Download(Url("/setup.exe"), Out, "setup.exe", true);
    ExpectFinished(run, "setup.exe", content);
    const auto log = Log();
    EXPECT_GE(MostAtOnce(log), 2) << "one connection at a time";
    for (const auto& line : log) {
        EXPECT_EQ(Field(line, "if_range"), "-") << line;
        EXPECT_EQ(Field(line, "status"), "206") << "nothing fetched whole: " << line;
    }
}

TEST_F(EngineFaults, AFileReplacedWithoutValidatorsNeverComesOutMixed) {
    Serve("setup.exe", 3000000, 58);
    const auto second = Serve("setup_v2.exe", 3000000, 59); // the same length
    for (bool many : {false, true}) {
        Serve("setup.exe", 3000000, 58);
        // After a few ranges the server holds another file of the same length, and says
        // nothing that tells the two apart.
        Script(R"({"rules": [{"path": "/setup.exe", "ranged": true, "skip": 5, "fault": "change",
                              "file": "setup_v2.exe", "validators": false},
                             {"path": "/setup.exe", "fault": "no_validators", "times": -1}]})");
        const TRun run = Download(Url("/setup.exe"), Out, "setup.exe", many, 60000);
        ExpectFinished(run, "setup.exe", second, true);
        EXPECT_GE(run.Restarts(), 1u) << (many ? "several connections" : "one connection");
        DeleteFileA((Out + "setup.exe").c_str());
    }
}

TEST_F(EngineFaults, ServerLimitsAreNormalNeitherRefusalsNorFailures) {
    // Large enough that connections, added one by one as each adds speed, are all at work
    // for most of it.
    const auto content = Serve("big.bin", 12 << 20, 60);
    // Any pause after a failure would last past the wait for the download. No answer here is
    // held back: one slow to come on a loaded machine is no stall.
    XL_UnInit();
    StartEngine({"XLDL_RETRY_BASE_MS=600000", "XLDL_RETRY_CAP_MS=600000",
                 "XLDL_GIVE_UP_MS=1200000", "XLDL_STALL_MS=60000"});
    const char* limits[] = {
        // A keep-alive limit that says so on its last answer, one that just closes, and one
        // that resets, as a server closing with our pipelined requests unread does: the
        // requests behind go again on a new connection, and no connection retires or waits.
        R"({"rate": 3000000, "keepalive": 3})",
        R"({"rate": 3000000, "keepalive": 3, "keepalive_silent": true})",
        R"({"rate": 3000000, "keepalive": 3, "keepalive_silent": "reset"})",
        // Ranges answered with at most 100000 bytes: taken, and the rest asked for.
        R"({"rate": 3000000, "rules": [{"fault": "cap_range", "bytes": 100000, "ranged": true,
                                         "times": -1}]})",
    };
    for (const char* limit : limits) {
        Script(limit);
        const TRun run = Download(Url("/big.bin"), Out, "big.bin", true, 60000);
        EXPECT_TRUE(Ended(run.Last)) << limit << ": a pause after a failure";
        ExpectFinished(run, "big.bin", content);
        const auto log = Log();
        EXPECT_GE(MostAtOnce(log, log.size() / 3, 2 * log.size() / 3), 3)
            << limit << ": connections retired as if turned away";
        for (const auto& line : log)
            EXPECT_EQ(Field(line, "status"), "206") << line;
        DeleteFileA((Out + "big.bin").c_str());
    }
}

TEST_F(EngineFaults, OversizedHeadersDoNotStopTheDownload) {
    const auto content = Serve("setup.exe", 500000, 31);
    Script(R"({"rules": [{"path": "/setup.exe", "fault": "big_headers", "bytes": 70000}]})");
    const TRun run = Download(Url("/setup.exe"), Out, "setup.exe");
    ExpectFinished(run, "setup.exe", content);
}

TEST_F(EngineFaults, AServerOfOneConnectionGetsOneConnection) {
    const auto content = Serve("big.bin", 12 << 20, 32);
    for (const char* refuse : {"503", "reset"}) {
        // Slow per connection: once the file is known, more connections are wanted at once.
        Script(std::string(R"({"max_concurrent": 1, "rate": 2000000, "refuse": ")") + refuse +
               R"("})");
        const DWORD start = GetTickCount();
        const TRun run = Download(Url("/big.bin"), Out, "big.bin", true);
        const DWORD took = GetTickCount() - start;
        ExpectFinished(run, "big.bin", content);
        // Connections tried beside the one the server allows are turned away (with what they
        // asked on the way) and go: those that asked early for their shares, at most one each,
        // and those more wanted once the file is known, whose count then goes down by one for
        // each refusal and holds; none is tried again before the hold is over. (The first
        // request, meeting an early one, waits as a busy first answer does.)
        const auto log = Log();
        std::string all;
        size_t refused = 0;
        for (const auto& line : log) {
            all += line + "\n";
            refused +=
                Field(line, "fault") == "refused" && Field(line, "range").rfind("bytes=0-", 0) != 0;
        }
        const size_t beside = 3; // XLDL_MAX_CONNECTIONS - 1
        EXPECT_GE(refused, 1u) << refuse << ": no connection was tried beside the first\n" << all;
        EXPECT_LE(refused, beside + beside * (1 + took / xldl::TGrowth::HoldMs))
            << refuse << ": a storm of refused requests in " << took << " ms\n"
            << all;
        DeleteFileA((Out + "big.bin").c_str());
    }
}

TEST_F(EngineFaults, AFileThatNeverMatchesItsDigestFailsAndKeepsTheOldOne) {
    const std::vector<uint8_t> previous = RandomBytes(400, 33);
    ASSERT_TRUE(WriteFileBytes(Out + "setup.exe", previous));
    Serve("setup.exe", 400000, 34);
    Script(R"({"rules": [{"path": "/setup.exe", "fault": "bad_digest", "times": -1}]})");
    const TRun run = Download(Url("/setup.exe"), Out, "setup.exe");
    // (The checking state between the two is too short to be seen by polling on a fast CPU.)
    ExpectFailed(run, "setup.exe", ErrorVerify, previous);
    int starts = 0;
    for (const auto& line : Log())
        if (Field(line, "range").rfind("bytes=0-", 0) == 0) ++starts;
    EXPECT_EQ(starts, 2) << "fetched once and once over, then given up";
}

TEST_F(EngineFaults, ASignInPageIsNoProgram) {
    // A network that answers every request with its sign-in page, said to be one or not, at
    // the file's address or after a redirect to another host: the task for a program fails at
    // once saying so, with nothing saved and the older file kept. Any other file may be a page.
    Serve("setup.exe", 600000, 36);
    const std::vector<uint8_t> previous = RandomBytes(500, 37);
    ASSERT_TRUE(WriteFileBytes(Out + "setup.exe", previous));
    const std::string port = Address().substr(Address().find(':') + 1);
    const std::string portal = R"({"path": "/setup.exe", "fault": "redirect", "times": -1,
                                   "location": "http://localhost:)" +
                               port + R"(/portal"},)";
    const std::string pages[] = {
        R"({"rules": [{"fault": "hotspot", "times": -1}]})",
        R"({"rules": [{"fault": "hotspot", "typed": false, "times": -1}]})",
        // Its first read only a byte order mark and white space: the next ones tell.
        R"({"rules": [{"fault": "hotspot", "typed": false, "lead": "\ufeff \r\n", "times": -1}]})",
        R"({"rules": [)" + portal + R"({"fault": "hotspot", "times": -1}]})",
    };
    for (const std::string& script : pages) {
        Script(script);
        const TRun run = Download(Url("/setup.exe"), Out, "setup.exe");
        ExpectFailed(run, "setup.exe", ErrorSignInPage, previous);
        size_t served = 0;
        for (const auto& line : Log())
            served += Field(line, "fault") == "hotspot";
        EXPECT_EQ(served, 1u) << script << ": the same page is not asked for again";
    }
    const TRun other = Download(Url("/notes.txt"), Out, "notes.txt");
    EXPECT_EQ(other.State(), StateFinished);
    const auto page = ReadFileBytes(Out + "notes.txt");
    ASSERT_TRUE(page);
    EXPECT_EQ(std::string(page->begin(), page->begin() + 15), "<!DOCTYPE html>");
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
