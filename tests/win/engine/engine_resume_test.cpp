// Downloads that survive their program: the engine's driver killed outright at random moments
// and started again, resuming each time; states torn, damaged or foreign; a file that changed
// on the server between two runs; two programs asking for the same file; a disk that fills up
// and is freed. Every run ends with the served file byte for byte, or with a clean start over,
// never with a wrong file; and what a state says is on disk is on disk.
#include "DriverProcess.h"
#include "MirrorTestSupport.h"
#include "tests/win/TestPaths.h"
#include "xldl/core/StateFile.h"

#include <aclapi.h>

#include <cstdio>
#include <random>

namespace mirror {
namespace {

class EngineResume : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        Driver = WindowsPath(DRIVER_EXE);
        // The driver inherits the tunables; a slower flush interval than the default would
        // only make kills dearer.
        SetEnvironmentVariableA("XLDL_RECORD_MS", "1000");
    }

    // Waits until the mirror has served `bytes` more than `before`.
    static bool ServedMore(long long before, long long bytes, DWORD ms) {
        return WaitFor([&] { return ServedBytes() >= before + bytes; }, ms);
    }

    std::string Driver;
};

TEST_F(EngineResume, KilledAgainAndAgainAtRandomItResumesToTheWholeFile) {
    const int64_t size = 32 << 20;
    const auto content = Serve("big.bin", static_cast<size_t>(size), 51);
    const std::string url = Url("/big.bin");
    // Every answer comes at 500 KB/s, as from a far mirror: a kill can land anywhere.
    const double rate = 500000;
    Script(R"({"rate": 500000})");
    std::mt19937 random(20261208);
    int64_t kept = 0;
    const int kills = 5;
    for (int k = 0; k < kills; ++k) {
        const long long before = ServedBytes();
        TDriverProcess driver;
        ASSERT_TRUE(driver.Start(Driver, url, Out.substr(0, Out.size() - 1)));
        ASSERT_TRUE(ServedMore(before, 300000, 30000)) << "kill " << k << ": nothing came";
        Sleep(static_cast<DWORD>(random() % 2500));
        const long long atKill = ServedBytes();
        driver.Kill();
        Quiesce();
        const long long served = ServedBytes() - before;
        EXPECT_FALSE(Exists(Out + "big.bin")) << "kill " << k;
        const auto ranges = CheckedState(Out, url, "big.bin", content);
        ASSERT_TRUE(ranges) << "kill " << k << ": nothing kept";
        const int64_t now = Bytes(*ranges);
        EXPECT_GE(now, kept) << "kill " << k << ": progress was lost, not resumed";
        // What a kill costs: bytes served and not kept. The state is written every second;
        // a kill costs at most about two seconds of transfer on each of the four connections.
        const long long lost = served - (now - kept);
        std::printf("kill %d after %lld bytes this run: %lld kept, %lld lost\n", k, atKill - before,
                    static_cast<long long>(now - kept), lost);
        EXPECT_LE(lost, static_cast<long long>(2 * rate * 4) + (1 << 20)) << "kill " << k;
        kept = now;
    }
    const long long before = ServedBytes();
    TDriverProcess last;
    ASSERT_TRUE(last.Start(Driver, url, Out.substr(0, Out.size() - 1)));
    ASSERT_EQ(last.Wait(120000), 0) << last.Output();
    const auto got = ReadFileBytes(Out + "big.bin");
    ASSERT_TRUE(got);
    EXPECT_TRUE(*got == content) << "the resumed file differs from the served one";
    EXPECT_FALSE(Exists(Out + "big.bin.part"));
    EXPECT_FALSE(Exists(Out + "big.bin.part.state"));
    EXPECT_LE(ServedBytes() - before, size - kept + (1 << 20)) << "the last run fetched again";
}

// Lets everyone change `folder`, as on a data drive's root.
bool LetEveryoneWrite(const std::string& folder) {
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof sid;
    if (!CreateWellKnownSid(WinWorldSid, nullptr, sid, &sidSize)) return false;
    PACL current = nullptr, wider = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoA(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &current, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    EXPLICIT_ACCESSA everyone{};
    everyone.grfAccessPermissions = FILE_ALL_ACCESS;
    everyone.grfAccessMode = GRANT_ACCESS;
    everyone.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    everyone.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    everyone.Trustee.ptstrName = reinterpret_cast<char*>(sid);
    bool set = SetEntriesInAclA(1, &everyone, current, &wider) == ERROR_SUCCESS &&
               SetNamedSecurityInfoA(const_cast<char*>(folder.c_str()), SE_FILE_OBJECT,
                                     DACL_SECURITY_INFORMATION, nullptr, nullptr, wider,
                                     nullptr) == ERROR_SUCCESS;
    LocalFree(wider);
    LocalFree(descriptor);
    return set;
}

TEST_F(EngineResume, ATornDamagedOrForeignStateMeansAStartOverNeverAWrongFile) {
    const int64_t size = 3 << 20;
    const auto content = Serve("setup.exe", static_cast<size_t>(size), 52);
    const std::string url = Url("/setup.exe");
    // A sound state for the first megabyte, as an earlier run would leave it.
    xldl::TSavedState sound;
    sound.Url = url;
    sound.Name = "setup.exe";
    sound.Location = url;
    sound.Total = size;
    const auto partial = std::vector<uint8_t>(content.begin(), content.begin() + (1 << 20));
    const auto sealed = [&](xldl::TSavedState s) { return xldl::FormatState(s, UserSeal()); };
    struct TCase {
        const char* What;
        std::string State;
        std::vector<uint8_t> Partial;
        bool Resumes;
        bool Restarts = false; // once the server disagrees with what the state says
    };
    // The mirror's validator for the file, as it sends it.
    Script("{}");
    const TRun probe = Download(url, Out, "probe.exe");
    ASSERT_EQ(probe.State(), StateFinished);
    std::string validator;
    for (const auto& line : Log())
        if (Field(line, "if_range") != "-") validator = Field(line, "if_range");
    ASSERT_FALSE(validator.empty());
    xldl::SetStateValidator(sound, validator);
    sound.Done = {{0, 1 << 20}};
    const std::string good = sealed(sound);
    xldl::TSavedState other = sound;
    other.Url = Url("/other.exe");
    std::mt19937 random(53);
    std::string noise(600, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    std::vector<uint8_t> garbage = partial;
    garbage.resize(2 << 20, 0xA5); // longer than recorded: the rest is not trusted
    xldl::TSeal anotherUser = UserSeal();
    anotherUser.Key[0] ^= 1;
    xldl::TSavedState huge = sound, elsewhere = sound;
    huge.Total = 1000000000000000; // no disk holds it: believed only once a server says so
    elsewhere.Location = Url("/planted.exe"); // a state leads nowhere but to its own mirror
    const std::string older = xldl::FormatState(sound); // a checksum anyone can make
    TCase cases[] = {
        {"sound", good, partial, true},
        {"partial shorter than recorded", good,
         std::vector<uint8_t>(partial.begin(), partial.begin() + 300000), true},
        {"partial longer than recorded", good, garbage, true},
        {"torn", good.substr(0, good.size() / 2), partial, false},
        {"random bytes", noise, partial, false},
        {"another file's", sealed(other), partial, false},
        {"a newer format's", "xldl-state 9\n" + good.substr(good.find('\n') + 1), partial, false},
        {"sealed by another user", xldl::FormatState(sound, anotherUser), partial, false},
        {"a length no disk holds", sealed(huge), partial, true, true},
        {"found elsewhere", sealed(elsewhere), partial, true},
    };
    const auto tryCase = [&](const TCase& c) {
        ASSERT_TRUE(WriteFileBytes(Out + "setup.exe.part", c.Partial)) << c.What;
        ASSERT_TRUE(WriteFileBytes(Out + "setup.exe.part.state",
                                   std::vector<uint8_t>(c.State.begin(), c.State.end())))
            << c.What;
        Script("{}");
        const TRun run = Download(url, Out, "setup.exe", true);
        ExpectFinished(run, "setup.exe", content, c.Restarts);
        bool fromZero = false;
        for (const auto& line : Log()) {
            if (Field(line, "range").rfind("bytes=0-", 0) == 0) fromZero = true;
            EXPECT_EQ(line.find("/planted.exe"), std::string::npos) << c.What << ": " << line;
        }
        EXPECT_EQ(fromZero, !c.Resumes) << c.What << (c.Resumes ? ": started over" : ": resumed");
        EXPECT_FALSE(Exists(Out + "setup.exe.part.state")) << c.What;
        DeleteFileA((Out + "setup.exe").c_str());
    };
    for (const TCase& c : cases)
        tryCase(c);
    // A checksum anyone can make counts only in a folder of the user's alone with none above it
    // that others may empty: not the mirror's, which lies in the host's /tmp.
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    Out = std::string(temp) + "xldl-resume-own\\";
    CreateDirectoryA(Out.c_str(), nullptr);
    tryCase({"an older engine's, in a folder of the user's alone", older, partial, true});
    // Where anyone may write, such a checksum is no longer the engine's word.
    Out += "shared\\";
    CreateDirectoryA(Out.c_str(), nullptr);
    ASSERT_TRUE(LetEveryoneWrite(Out));
    tryCase({"an older engine's, in a folder others may change", older, partial, false});
}

// Sets a file's last write to `days` ago.
void Age(const std::string& path, int days) {
    const HANDLE f =
        CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE) << path;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t;
    t.LowPart = now.dwLowDateTime;
    t.HighPart = now.dwHighDateTime;
    t.QuadPart -= static_cast<uint64_t>(days) * 24 * 3600 * 10000000;
    const FILETIME then{t.LowPart, t.HighPart};
    EXPECT_TRUE(SetFileTime(f, nullptr, nullptr, &then));
    CloseHandle(f);
}

TEST_F(EngineResume, OnlyOurOwnStalePartialsAreClearedAway) {
    const auto content = Serve("setup.exe", 300000, 58);
    // Beside the folder's download: partials and states left long ago. Only those that are
    // this engine's own, of the very partial beside them, go; files of other programs that
    // happen to have such names, and anything recent, stay.
    const auto ours = [](const std::string& name) {
        xldl::TSavedState s;
        s.Url = "http://dl1.orlenz.com/service/" + name;
        s.Name = name;
        s.Location = s.Url;
        s.Total = 1000;
        xldl::SetStateValidator(s, "\"v1\"");
        s.Done = {{0, 100}};
        return xldl::FormatState(s, UserSeal());
    };
    struct TLeft {
        const char* Name; // of the partial; its state is NAME.state
        std::string State;
        int Days;
        bool Goes;
    } left[] = {
        {"old.exe.part", ours("old.exe"), 30, true},
        {"OLD2.EXE.part", ours("old2.exe"), 30, true},
        {"recent.exe.part", ours("recent.exe"), 2, false},
        {"theirs.dat.part", "their own format, nothing of ours\n", 30, false},
        {"renamed.exe.part", ours("other.exe"), 30, false},
        {"torn.exe.part", ours("torn.exe").substr(0, 90), 30, false},
    };
    for (const auto& l : left) {
        ASSERT_TRUE(WriteFileBytes(Out + l.Name, RandomBytes(100, 59)));
        ASSERT_TRUE(WriteFileBytes(Out + l.Name + ".state",
                                   std::vector<uint8_t>(l.State.begin(), l.State.end())));
        Age(Out + l.Name, l.Days);
        Age(Out + l.Name + ".state", l.Days);
    }
    const TRun run = Download(Url("/setup.exe"), Out, "setup.exe");
    ExpectFinished(run, "setup.exe", content);
    for (const auto& l : left) {
        EXPECT_EQ(Exists(Out + l.Name), !l.Goes) << l.Name;
        EXPECT_EQ(Exists(Out + l.Name + ".state"), !l.Goes) << l.Name;
        DeleteFileA((Out + l.Name).c_str());
        DeleteFileA((Out + l.Name + ".state").c_str());
    }
}

TEST_F(EngineResume, AFileThatChangedOrLostItsValidatorsBetweenRunsStartsOver) {
    const int64_t size = 6 << 20;
    const auto first = Serve("setup.exe", static_cast<size_t>(size), 54);
    const std::string url = Url("/setup.exe");
    for (const char* change : {"new version", "no validators"}) {
        Serve("setup.exe", static_cast<size_t>(size), 54);
        Script(R"({"rate": 2000000})");
        TRun run;
        const TaskHandle task = StartDownload(url, Out, "setup.exe", true, run);
        ASSERT_TRUE(run.Started);
        Follow(task, run, 20000, [](const DownloadTaskInfo& i) { return i.DoneSize >= 1 << 20; });
        XL_UnInit(); // the next run finds a partial and its state
        ASSERT_TRUE(Exists(Out + "setup.exe.part.state")) << change;
        StartEngine({});

        std::vector<uint8_t> expected = first;
        if (std::string(change) == "new version") {
            expected = Serve("setup.exe", static_cast<size_t>(size), 55);
            Script("{}");
        } else {
            Script(R"({"rules": [{"fault": "no_validators", "times": -1}]})");
        }
        const TRun again = Download(url, Out, "setup.exe", true);
        ExpectFinished(again, "setup.exe", expected, true);
        EXPECT_GE(again.Restarts(), 1u) << change << ": the partial was taken up as it was";
        DeleteFileA((Out + "setup.exe").c_str());
    }
}

TEST_F(EngineResume, WithoutValidatorsAResumeIsComparedWithWhatIsOnDisk) {
    const int64_t size = 6 << 20;
    const std::string url = Url("/setup.exe");
    for (const char* change : {"same file", "replaced, same length"}) {
        const auto first = Serve("setup.exe", static_cast<size_t>(size), 61);
        Script(R"({"rate": 2000000, "rules": [{"fault": "no_validators", "times": -1}]})");
        TRun run;
        const TaskHandle task = StartDownload(url, Out, "setup.exe", true, run);
        ASSERT_TRUE(run.Started);
        Follow(task, run, 20000, [](const DownloadTaskInfo& i) { return i.DoneSize >= 1 << 20; });
        XL_UnInit();
        const auto kept = CheckedState(Out, url, "setup.exe", first);
        ASSERT_TRUE(kept) << change << ": no state to take up without a validator";
        StartEngine({});
        std::vector<uint8_t> expected = first;
        if (std::string(change) != "same file")
            expected = Serve("setup.exe", static_cast<size_t>(size), 62);
        Script(R"({"rules": [{"fault": "no_validators", "times": -1}]})");
        const TRun again = Download(url, Out, "setup.exe", true);
        ExpectFinished(again, "setup.exe", expected, true);
        if (std::string(change) == "same file") {
            EXPECT_EQ(again.Restarts(), 0u) << "what was on disk was not taken up";
            for (const auto& line : Log())
                EXPECT_NE(Field(line, "range").rfind("bytes=0-", 0), 0u)
                    << "fetched again from zero: " << line;
        } else {
            EXPECT_GE(again.Restarts(), 1u) << "the old bytes were taken for the new file's";
        }
        DeleteFileA((Out + "setup.exe").c_str());
    }
}

TEST_F(EngineResume, RecordedBytesDamagedOnDiskAreCaughtByTheDigest) {
    const int64_t size = 6 << 20;
    const auto content = Serve("setup.exe", static_cast<size_t>(size), 63);
    const std::string url = Url("/setup.exe");
    Script(R"({"rate": 2000000})");
    TRun run;
    const TaskHandle task = StartDownload(url, Out, "setup.exe", true, run);
    ASSERT_TRUE(run.Started);
    Follow(task, run, 20000, [](const DownloadTaskInfo& i) { return i.DoneSize >= 2 << 20; });
    XL_UnInit();
    const auto kept = CheckedState(Out, url, "setup.exe", content);
    ASSERT_TRUE(kept && !kept->empty());
    // The state is sound; the bytes it vouches for are not (a bad sector, another program).
    auto part = ReadFileBytes(Out + "setup.exe.part");
    ASSERT_TRUE(part);
    const auto& r = kept->front();
    for (int64_t at = r.Start + (r.End - r.Start) / 3; at < r.Start + (r.End - r.Start) / 3 + 64;
         ++at)
        (*part)[static_cast<size_t>(at)] ^= 0x5a;
    ASSERT_TRUE(WriteFileBytes(Out + "setup.exe.part", *part));
    StartEngine({});
    Script("{}");
    const TRun again = Download(url, Out, "setup.exe", true);
    ExpectFinished(again, "setup.exe", content, true);
    EXPECT_GE(again.Restarts(), 1u) << "finished from damaged bytes without noticing";
}

TEST_F(EngineResume, TwoProgramsForOneFileNeverShareItsPartial) {
    const int64_t size = 8 << 20;
    const auto content = Serve("setup.exe", static_cast<size_t>(size), 56);
    const std::string url = Url("/setup.exe");
    // Slow enough that the first is still at it when the second has started, however long
    // Wine takes to start a process on a loaded machine: one connection (as many as add
    // speed would finish sooner the faster the machine is), about 28 s.
    Script(R"({"rate": 300000})");
    const std::string folder = Out.substr(0, Out.size() - 1);
    TDriverProcess one, two;
    ASSERT_TRUE(one.Start(Driver, url, folder, "--single"));
    ASSERT_TRUE(ServedMore(0, 500000, 30000));
    ASSERT_TRUE(two.Start(Driver, url, folder));
    EXPECT_EQ(two.Wait(60000), 1) << "the second was not refused: " << two.Output();
    EXPECT_NE(two.Output().find("failed error=12"), std::string::npos) << two.Output();
    EXPECT_EQ(one.Wait(120000), 0) << one.Output();
    const auto got = ReadFileBytes(Out + "setup.exe");
    ASSERT_TRUE(got);
    EXPECT_TRUE(*got == content);
}

TEST_F(EngineResume, ADiskThatFillsUpFailsTheTaskAndAfterSpaceIsFreedItResumes) {
    const std::string disk = Env("XLDL_TEST_SMALL_DISK_WIN");
    if (disk.empty()) GTEST_SKIP() << "no small disk (run through with_small_disk.py as root)";
    const int64_t size = 8 << 20;
    const auto content = Serve("setup.exe", static_cast<size_t>(size), 57);
    const std::string url = Url("/setup.exe");
    const std::string folder = disk + "\\";
    Script(R"({"rate": 2000000})");
    TRun run;
    const TaskHandle task = StartDownload(url, folder, "setup.exe", true, run);
    ASSERT_TRUE(run.Started);
    Follow(task, run, 20000, [](const DownloadTaskInfo& i) { return i.DoneSize >= 2 << 20; });
    // From here on it crawls, so that it cannot end before the disk is full, however fast this
    // machine: the answers under way end at the old pace, and none is larger than 256 KiB.
    Script(R"({"rate": 20000})");
    // Once some progress is on record, something else takes the room the download was
    // counting on (a state cannot be written on a full disk either: the last one stays).
    ASSERT_TRUE(WaitFor([&] { return Exists(folder + "setup.exe.part.state"); }, 10000));
    // All of it, while the download goes on writing: the filler ends where the disk does.
    ULARGE_INTEGER free{};
    ASSERT_TRUE(GetDiskFreeSpaceExA(folder.c_str(), &free, nullptr, nullptr));
    WriteFileBytes(folder + "filler.bin",
                   std::vector<uint8_t>(static_cast<size_t>(free.QuadPart), 0x5A));
    ASSERT_TRUE(GetDiskFreeSpaceExA(folder.c_str(), &free, nullptr, nullptr));
    EXPECT_LT(free.QuadPart, 65536u) << "the disk is not full";
    Follow(task, run, 30000, Ended);
    ASSERT_EQ(run.State(), StateFailed);
    EXPECT_EQ(run.Error(), static_cast<uint32_t>(ErrorDiskFull));
    EXPECT_FALSE(Exists(folder + "setup.exe"));
    EXPECT_TRUE(Exists(folder + "setup.exe.part.state")) << "what was durable was not kept";
    XL_UnInit();
    // Room again: the next run takes up what was kept.
    ASSERT_TRUE(DeleteFileA((folder + "filler.bin").c_str()));
    StartEngine({});
    Script("{}");
    const TRun again = Download(url, folder, "setup.exe", true);
    ASSERT_EQ(again.State(), StateFinished) << "error " << again.Error();
    const auto got = ReadFileBytes(folder + "setup.exe");
    ASSERT_TRUE(got);
    EXPECT_TRUE(*got == content);
    for (const auto& line : Log())
        EXPECT_NE(Field(line, "range").rfind("bytes=0-", 0), 0u) << "started over: " << line;
}

} // namespace
} // namespace mirror
