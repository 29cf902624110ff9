// Downloads through power cuts. The save folder is the power-cut layer (tools/powercut/, mounted
// by with_power_cut.py): a run is cut at a moment its seed picks among the operations of a whole
// run, its program killed, and the disk left as a real one could be found after the cut
// (unflushed blocks lost or zero, unflushed names undone). Then, before a new run: nothing under
// the final name unless it is the served file, no state claims bytes the partial lacks, and
// the cut lost at most what was written since the flush before last (a record follows each
// flush, and the newest one's rename may be lost) and one request per connection; after it:
// the served file byte for byte, fetching what the disk held again at most one request per
// connection.
#include "DriverProcess.h"
#include "MirrorTestSupport.h"
#include "WholeJobSupport.h"
#include "app/UnitOfZQX.h"
#include "tests/win/TestPaths.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>

namespace mirror {
namespace {

// One question to the layer's control; its JSON answer.
std::string Layer(const std::string& what) {
    return Exchange(Env("XLDL_TEST_CUT_CONTROL"), "GET", "/" + what, "");
}

// The number after `"key": ` in `json` (the first one after `after`), or -1.
long long Number(const std::string& json, const std::string& key, const std::string& after = "") {
    const size_t from = after.empty() ? 0 : json.find(after);
    const size_t at = from == std::string::npos ? from : json.find("\"" + key + "\": ", from);
    return at == std::string::npos ? -1 : std::atoll(json.c_str() + at + key.size() + 4);
}

// The moment a cut fell, from the layer's answer; empty when it did not cut.
std::string Moment(const std::string& json) {
    const size_t at = json.find("\"before ");
    return at == std::string::npos ? std::string()
                                   : json.substr(at + 1, json.find('"', at + 1) - at - 1);
}

// Per connection of a run (the mirror's log since its script), the largest range it asked.
long long OneRequestPerConnection() {
    std::map<std::string, long long> largest;
    for (const std::string& line : Log()) {
        long long first = 0, last = -1;
        if (std::sscanf(Field(line, "range").c_str(), "bytes=%lld-%lld", &first, &last) != 2)
            continue;
        long long& most = largest[Field(line, "peer")];
        most = std::max(most, last - first + 1);
    }
    long long sum = 0;
    for (const auto& [peer, bytes] : largest)
        sum += bytes;
    return sum;
}

// The names in `folder` (with a trailing backslash), in order, each followed by a space.
std::string Listing(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    const HANDLE find = FindFirstFileA((folder + "*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return {};
    do {
        if (found.cFileName[0] != '.') names.push_back(found.cFileName);
    } while (FindNextFileA(find, &found));
    FindClose(find);
    std::sort(names.begin(), names.end());
    std::string all;
    for (const std::string& n : names)
        all += n + " ";
    return all;
}

// What one seed's cut came to.
struct TCutFigures {
    std::string Moment;      // empty: the run ended before its moment came
    long long Lost = 0;      // served before the cut, and not on the disk for a run to take up
    long long LostBound = 0; // written since the flush before last, one request per connection
    long long More = 0;      // fetched after the cut beyond what was missing
    long long MoreBound = 0; // one request per connection of that run
};

// Seeds whose cut once found a fault, each replaying it, and seeds of no note. `Found` says
// what the fault was.
struct TCutRow {
    uint32_t Seed;
    const char* Found;
};

// The program a table cuts: a run into the layer, and a run after the cut that must end well.
struct TProgram {
    std::function<void()> Start;
    std::function<bool()> Running;
    std::function<void()> Kill;
    std::function<void(const std::string& what)> RunToTheEnd;
};

// Where the file goes: its URL as the task has it, its name, the save folder on the layer and
// beneath it (trailing backslashes), and what that folder holds once a run has ended well; the
// mirror's fault rules.
struct TCutPlace {
    std::string Url, Name, Mount, Disk, Left;
    std::vector<uint8_t> Content;
    std::string Rules = "[]";

    // Answers paced, so that a run lasts seconds whatever the machine.
    std::string Paced() const { return R"({"rate": 300000, "rules": )" + Rules + "}"; }
    std::string Free() const { return R"({"rules": )" + Rules + "}"; }
};

// The disk as the cut left it, before anything reads it: whatever is under the final name is
// the served file, and what a state records the partial holds. The bytes a run can take up.
int64_t ExpectNothingClaimedThatIsNotThere(const TCutPlace& at, const std::string& moment) {
    SCOPED_TRACE(moment);
    const auto file = ReadFileBytes(at.Disk + at.Name);
    EXPECT_TRUE(!file || *file == at.Content) << "a file under the final name that is not whole";
    // Between the finished file's move and its state's removal, the state's partial is the file.
    if (file && !Exists(at.Disk + at.Name + ".part"))
        return *file == at.Content ? static_cast<int64_t>(file->size()) : 0;
    const auto ranges = CheckedState(at.Disk, at.Url, at.Name, at.Content);
    return ranges ? Bytes(*ranges) : 0;
}

TCutFigures CutOnce(uint32_t seed, const TCutPlace& at, const TProgram& program) {
    TCutFigures f;
    Layer("reset");
    Script(at.Paced());
    Layer("arm?seed=" + std::to_string(seed));
    program.Start();
    while (f.Moment.empty() && program.Running())
        f.Moment = Moment(Layer("wait?ms=200"));
    if (f.Moment.empty()) f.Moment = Moment(Layer("wait"));
    program.Kill();
    if (f.Moment.empty()) return f;
    const long long served = ServedBytes();
    const long long perConnection = OneRequestPerConnection();
    const std::string summary = Layer("apply");
    const long long unrecorded = std::max(Number(summary, "unrecorded", at.Name + ".part\""),
                                          Number(summary, "unrecorded", at.Name + "\""));
    const int64_t held = ExpectNothingClaimedThatIsNotThere(at, f.Moment);
    f.Lost = served - held;
    f.LostBound = std::max(0LL, unrecorded) + perConnection;
    Script(at.Free());
    program.RunToTheEnd(f.Moment);
    EXPECT_EQ(Listing(at.Mount), at.Left) << f.Moment << ": left behind";
    f.More = ServedBytes() - (static_cast<long long>(at.Content.size()) - held);
    f.MoreBound = OneRequestPerConnection();
    return f;
}

// Every row's cut (XLDL_CUT_SEED=N: that seed alone; XLDL_CUTS=N: more seeds, up to N), after a
// whole run that gives the moments to cut at.
void CutEach(const std::vector<TCutRow>& table, const TCutPlace& at, const TProgram& program) {
    Layer("reset");
    Script(at.Paced());
    program.RunToTheEnd("a whole run through the layer");
    Layer("reset?reference=1");
    std::vector<TCutRow> rows = table;
    const char* count = std::getenv("XLDL_CUTS");
    for (uint32_t seed = 1000; count && rows.size() < static_cast<size_t>(std::atoi(count)); ++seed)
        rows.push_back({seed, ""});
    if (const char* one = std::getenv("XLDL_CUT_SEED"))
        rows = {{static_cast<uint32_t>(std::atoi(one)), "replayed"}};
    int cuts = 0;
    for (const TCutRow& row : rows) {
        const TCutFigures f = CutOnce(row.Seed, at, program);
        std::printf("seed %u: %s; lost %lld of at most %lld; then %lld more than was missing, "
                    "at most %lld\n",
                    row.Seed, f.Moment.empty() ? "no cut" : f.Moment.c_str(), f.Lost,
                    f.LostBound, f.More, f.MoreBound);
        if (f.Moment.empty()) continue;
        ++cuts;
        const std::string what = "seed " + std::to_string(row.Seed) + " " + row.Found + ": ";
        EXPECT_LE(f.Lost, f.LostBound) << what << f.Moment;
        EXPECT_LE(f.More, f.MoreBound) << what << f.Moment << ": what the disk held was not taken up";
    }
    std::printf("%d cuts of %zu seeds\n", cuts, rows.size());
    EXPECT_GE(cuts * 4, static_cast<int>(rows.size()) * 3) << "too few seeds found their moment";
}

// The layer's folders, from with_power_cut.py; empty when the test does not run under it.
std::string CutFolder(const char* which) {
    const std::string folder = Env(which);
    return folder.empty() ? folder : folder + "\\";
}

// A state every 100 ms, so that cuts find records at every step.
void CutTunables() {
    SetEnvironmentVariableA("XLDL_RECORD_MS", "100");
    SetEnvironmentVariableA("XLDL_SEGMENT_BYTES", "65536");
}

class PowerCut : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        Mount = CutFolder("XLDL_TEST_CUT_MOUNT_WIN");
        Disk = CutFolder("XLDL_TEST_CUT_DISK_WIN");
        if (Mount.empty()) GTEST_SKIP() << "run through with_power_cut.py";
        CutTunables();
    }
    std::string Mount, Disk;
};

// What a thread watching the final name saw: the task's state when the new file was there.
struct TWatch {
    std::string File; // the final name on the disk beneath the layer
    volatile TaskHandle Task = 0;
    volatile LONG Seen = -1;
};

DWORD WINAPI WatchFinalName(void* context) {
    auto& w = *static_cast<TWatch*>(context);
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 60000) {
        WIN32_FILE_ATTRIBUTE_DATA a;
        if (w.Task && GetFileAttributesExA(w.File.c_str(), GetFileExInfoStandard, &a) &&
            a.nFileSizeLow != 700) {
            DownloadTaskInfo info;
            if (EngineTrue(XL_QueryTaskInfoEx(w.Task, &info))) w.Seen = info.State;
            return 0;
        }
        Sleep(1);
    }
    return 0;
}

TEST_F(PowerCut, TheFinalNameChangesOnlyWithTheFinishedState) {
    // Whoever looks sees the older file under the name in every state but the last: it is
    // replaced in the same step as the task says it is finished. The layer makes the move and
    // answers it only 3 s later; a thread that sees the new file meanwhile asks the task, which
    // can answer only once that step is over, and then says finished.
    Serve("setup.exe", 300000, 17);
    ASSERT_TRUE(WriteFileBytes(Mount + "setup.exe", RandomBytes(700, 18)));
    Layer("hold?rename_to=/setup.exe&ms=3000");
    TWatch w;
    w.File = Disk + "setup.exe";
    // Started before the move: while it is held, Wine's server starts no thread.
    const HANDLE watcher = CreateThread(nullptr, 0, WatchFinalName, &w, 0, nullptr);
    ASSERT_TRUE(watcher);
    TRun run;
    w.Task = StartDownload(Url("/setup.exe"), Mount, "setup.exe", false, run);
    ASSERT_TRUE(run.Started);
    Follow(w.Task, run, 60000, Ended);
    WaitForSingleObject(watcher, 60000);
    CloseHandle(watcher);
    EXPECT_EQ(run.State(), StateFinished);
    ASSERT_NE(Layer("held").find("/setup.exe"), std::string::npos) << "the move was not held";
    EXPECT_EQ(w.Seen, StateFinished) << "the new file was there, the task said otherwise";
}

// The engine's driver, cut and run again.
TEST_F(PowerCut, AfterEveryCutOfTheEngineTheNextRunFinishesTheFileFetchingLittleAgain) {
    const size_t size = std::getenv("XLDL_CUT_BYTES") ? std::atoi(std::getenv("XLDL_CUT_BYTES"))
                                                      : 1 << 20;
    TCutPlace at{Url("/setup.exe"), "setup.exe", Mount, Disk, "setup.exe setup.exe.done ",
                 Serve("setup.exe", size, 41)};
    const std::string driver = WindowsPath(DRIVER_EXE);
    // The driver's folder without its trailing backslash, which would escape its quote.
    const std::string folder = Mount.substr(0, Mount.size() - 1);
    TDriverProcess cut;
    TProgram program;
    program.Start = [&] { EXPECT_TRUE(cut.Start(driver, at.Url, folder)); };
    program.Running = [&] { return cut.Running(); };
    program.Kill = [&] { cut.Kill(); };
    program.RunToTheEnd = [&](const std::string& what) {
        TDriverProcess run;
        ASSERT_TRUE(run.Start(driver, at.Url, folder));
        const int code = run.Wait(120000);
        const auto got = ReadFileBytes(Mount + at.Name);
        const bool whole = got && *got == at.Content;
        EXPECT_EQ(code, 0) << what << ": not finished\n" << run.Output();
        EXPECT_TRUE(whole || code) << what << ": said finished for a file that is not whole";
        EXPECT_TRUE(whole) << what << ": the file is not the served one";
    };
    CutEach({{1, ""},  {2, ""},  {3, ""},  {4, ""},  {5, ""},  {6, ""},  {7, ""},
             {8, ""},  {9, ""},  {10, ""}, {11, ""}, {12, ""}, {13, ""}, {14, ""},
             {15, ""}, {16, ""}, {17, ""}, {18, ""},
             // The finished file's name kept, its last blocks not (it is flushed before its
             // move); then its state, kept, stayed beside it (it goes once the file is
             // confirmed).
             {19, "the finished file's move and its state"},
             {20, ""}},
            at, program);
}

// The whole tool, cut and run again, its save folder on the layer (the build's drive D:).
class ToolCut : public WholeJob {
protected:
    void SetUp() override {
        Disk = CutFolder("XLDL_TEST_CUT_DISK_WIN");
        if (Disk.empty()) GTEST_SKIP() << "run through with_power_cut.py --at (drive D:)";
        WholeJob::SetUp();
        CutTunables();
    }
    std::string Disk;
};

TEST_F(ToolCut, AfterEveryCutOfTheToolItsNextRunStartsTheWholeInstaller) {
    // The other mirror refuses: what both would fetch beside each other is no cut's doing.
    TCutPlace at{MirrorUrl1, "setup.exe", "D:\\KORVA\\", Disk + "KORVA\\",
                 "setup-started.txt setup.exe setup.exe.done ", Served[0],
                 R"([{"host": "dl2.orlenz.com", "fault": "status", "status": 404, "times": -1}])"};
    std::unique_ptr<TToolProcess> cut;
    TProgram program;
    program.Start = [&] {
        cut = std::make_unique<TToolProcess>();
        EXPECT_TRUE(StartAndPress(*cut, 1));
    };
    program.Running = [&] { return cut->Running(); };
    program.Kill = [&] { cut->Kill(); };
    program.RunToTheEnd = [&](const std::string& what) {
        TToolProcess run;
        ASSERT_TRUE(StartAndPress(run, 1)) << what;
        ExpectCompleted(run, 1, what);
    };
    CutEach({{1, ""},
             {2, ""},
             {3, ""},
             {4, ""},
             {5, ""},
             // The save folder's probe kept, its removal not: the next probe takes it away.
             {6, "the save folder's probe"},
             {7, ""},
             {8, ""}},
            at, program);
}

} // namespace
} // namespace mirror
