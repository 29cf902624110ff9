// The whole job: the real program with our engine beside it, fetching through the proxy
// setting from the mirror with_mirror.py started (standing in for both mirror hosts), saving
// to drive D: and starting what it fetched once it proved the maker's. Also under faults: each
// run ends either with the right file and the installer started, or with nothing under the
// final name and the tool still open. A finished file the mirror still has is not fetched
// again.
#include "tests/win/engine/WholeJobSupport.h"

#include <tlhelp32.h>

#include <cctype>
#include <cstdio>
#include <map>

namespace {

using namespace mirror;

TEST_F(WholeJob, FromMirrorOneWithProgressToTheStartedInstaller) {
    // Half way the mirror holds the transfer, long enough to see the progress.
    Script(R"({"rules": [{"path": "/service/setup.exe", "fault": "pause", "bytes": 200000,
               "seconds": 3, "times": -1}]})");
    TToolProcess tool;
    ASSERT_TRUE(StartAndPress(tool, 1));
    HWND bar = TToolProcess::ProgressBar(Main);
    const auto total = static_cast<LRESULT>(Served[0].size());
    EXPECT_TRUE(WaitFor(
        [&] {
            return SendMessageA(bar, PBM_GETRANGE, FALSE, 0) == total &&
                   SendMessageA(bar, PBM_GETPOS, 0, 0) > 0;
        },
        10000))
        << "the bar shows the total and some progress: range "
        << SendMessageA(bar, PBM_GETRANGE, FALSE, 0) << " of " << total << ", at "
        << SendMessageA(bar, PBM_GETPOS, 0, 0) << "\n"
        << [] {
               std::string all;
               for (const auto& line : Log())
                   all += line + "\n";
               return all;
           }();
    ExpectCompleted(tool, 1, "mirror 1");
    bool viaProxy = false, host1 = false;
    for (const std::string& line : Log()) {
        viaProxy |= Field(line, "abs") == "1";
        host1 |= line.find("dl1.orlenz.com") != std::string::npos || Field(line, "abs") == "1";
    }
    EXPECT_TRUE(viaProxy) << "requests came through the proxy setting";
    EXPECT_TRUE(host1);
}

TEST_F(WholeJob, FromMirrorTwo) {
    TToolProcess tool;
    ASSERT_TRUE(StartAndPress(tool, 2));
    ExpectCompleted(tool, 2, "mirror 2");
}

TEST_F(WholeJob, RecoversFromPassingFaults) {
    const char* const faults[] = {
        R"({"rules": [{"fault": "close_after", "bytes": 100000, "times": 1}]})",
        // Mirror 2 (another file here) stays busy: were it free, it would take over after its
        // short wait whenever mirror 1's second wait outlasts it, which is up to the CPU.
        R"({"rules": [{"host": "dl1.orlenz.com", "fault": "status", "status": 503, "retry_after": "1", "times": 2},
                      {"host": "dl2.orlenz.com", "fault": "status", "status": 503, "times": -1}]})",
        R"({"rules": [{"fault": "stall", "bytes": 50000, "seconds": 6, "times": 1}]})",
        R"({"rules": [{"fault": "short_body", "bytes": 1000, "times": 1}]})",
    };
    for (const char* fault : faults) {
        for (const char* f : {Saved, Started})
            DeleteFileA(f);
        Script(fault);
        TToolProcess tool;
        ASSERT_TRUE(StartAndPress(tool, 1)) << fault;
        ExpectCompleted(tool, 1, fault);
    }
}

TEST_F(WholeJob, LastingFaultsLeaveNoFileAndTheToolOpen) {
    // An older download of the same name stays as it was.
    CreateDirectoryA("D:\\KORVA", nullptr);
    const std::vector<uint8_t> older = RandomBytes(1000, 7);
    ASSERT_TRUE(WriteFileBytes(Saved, older));
    const char* const faults[] = {
        R"({"rules": [{"fault": "status", "status": 404, "times": -1}]})",
        R"({"rules": [{"fault": "bad_digest", "times": -1}]})",
    };
    for (const char* fault : faults) {
        Script(fault);
        TToolProcess tool;
        ASSERT_TRUE(StartAndPress(tool, 1)) << fault;
        ASSERT_TRUE(WaitFor([] { return !Log().empty(); }, 10000)) << fault;
        Sleep(3000); // several ticks: the engine has given up by now
        EXPECT_TRUE(tool.Running()) << fault << ": the tool stays open";
        EXPECT_FALSE(Exists(Started)) << fault;
        const auto saved = ReadFileBytes(Saved);
        ASSERT_TRUE(saved.has_value()) << fault;
        EXPECT_TRUE(*saved == older) << fault << ": the older file was touched";
        PostMessageA(Main, WM_CLOSE, 0, 0);
        EXPECT_EQ(tool.ExitCode(10000), 0) << fault;
    }
}

TEST_F(WholeJob, MirrorOneWithoutTheFileTheOtherServesItWithoutAPress) {
    // Mirror 1 has no installer: it answers 404, which the engine takes as final for it; the
    // other mirror, which the tool gave the task beside it, serves the file.
    ASSERT_TRUE(DeleteFileA((Root() + "dl1.orlenz.com\\service\\setup.exe").c_str()));
    TToolProcess tool;
    ASSERT_TRUE(StartAndPress(tool, 1));
    ExpectCompleted(tool, 2, "mirror 2 when mirror 1 has no file");
    size_t refused = 0;
    for (const std::string& line : Log())
        refused += Field(line, "status") == "404";
    EXPECT_GT(refused, 0u) << "mirror 1 was asked first";
}

TEST_F(WholeJob, MirrorOneCutHalfWayThenAProxyError502TheOtherCarriesOnWithoutAPress) {
    // Both mirrors serve the same installer; mirror 1 breaks off after its first answer's
    // first bytes and answers 502 from then on.
    const std::string two = Root() + "dl2.orlenz.com\\service\\setup.exe";
    ASSERT_TRUE(WriteFileBytes(two, Served[0]));
    Served[1] = Served[0];
    Script(R"({"rate": 400000, "rules": [
        {"host": "dl1.orlenz.com", "fault": "close_after", "bytes": 150000, "times": 1},
        {"host": "dl1.orlenz.com", "fault": "status", "status": 502, "times": -1}]})");
    TToolProcess tool;
    ASSERT_TRUE(StartAndPress(tool, 1));
    ExpectCompleted(tool, 1, "mirror 2 after mirror 1 failed half way");
    size_t failed = 0;
    for (const std::string& line : Log())
        failed += Field(line, "status") == "502";
    EXPECT_GT(failed, 0u) << "mirror 1 never answered 502: nothing was failed over";
}

TEST_F(WholeJob, BothMirrorsWithoutTheFileFailAndOnePressTriesAgain) {
    for (int host = 1; host <= 2; ++host)
        ASSERT_TRUE(DeleteFileA(
            (Root() + "dl" + std::to_string(host) + ".orlenz.com\\service\\setup.exe").c_str()));
    TToolProcess tool;
    ASSERT_TRUE(StartAndPress(tool, 1));
    const HWND button = TToolProcess::Button(Main);
    ASSERT_TRUE(WaitFor([&] { return !IsWindowEnabled(button); }, 5000)) << "the press came";
    ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(button) != FALSE; }, 20000))
        << "the button comes back once the engine has given up";
    EXPECT_EQ(SendMessageA(TToolProcess::SecondRadioButton(Main), BM_GETCHECK, 0, 0), BST_CHECKED)
        << "mirror 2 is offered";
    EXPECT_TRUE(tool.Running());
    EXPECT_FALSE(Exists(Saved));
    EXPECT_FALSE(Exists(Started));
    for (const std::string& line : Log())
        EXPECT_EQ(Field(line, "status"), "404") << line;

    // The file is back on mirror 2: one press fetches it.
    ASSERT_TRUE(WriteFileBytes(Root() + "dl2.orlenz.com\\service\\setup.exe", Served[1]));
    Script("{}");
    TToolProcess::Click(button);
    ExpectCompleted(tool, 2, "mirror 2 after both failed");
}

TEST_F(WholeJob, AMirrorAwayForAWhileIsWaitedForAndTheDownloadFinishesByItself) {
    // A budget of 20 s without a byte stands for the ten minutes; both mirrors are away for a
    // fifth of it (every connection reset before an answer), then back. Whichever answers
    // first then serves the file, whole.
    SetEnvironmentVariableA("XLDL_GIVE_UP_MS", "20000");
    Script(R"({"rules": [{"fault": "reset", "times": -1, "during": 4}]})");
    TToolProcess tool;
    ASSERT_TRUE(StartAndPress(tool, 1));
    ExpectCompleted(tool, 0, "after the mirrors came back");
    int refused = 0;
    for (const std::string& line : Log())
        if (Field(line, "status") == "reset") ++refused;
    EXPECT_GE(refused, 2) << "the mirror was away while the tool asked";
    SetEnvironmentVariableA("XLDL_GIVE_UP_MS", nullptr);
}

TEST_F(WholeJob, AMirrorAwayPastTheBudgetEndsInAFailureThatOffersTheOtherMirror) {
    SetEnvironmentVariableA("XLDL_GIVE_UP_MS", "3000");
    Script(R"({"rules": [{"fault": "reset", "times": -1}]})");
    TToolProcess tool;
    DWORD pressed = 0; // before the task, and its budget, can have begun
    ASSERT_TRUE(StartAndPress(tool, 1, &pressed));
    const HWND button = TToolProcess::Button(Main);
    ASSERT_TRUE(WaitFor([&] { return !IsWindowEnabled(button); }, 5000)) << "the press came";
    ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(button) != FALSE; }, 30000))
        << "the button comes back once the budget is spent";
    EXPECT_GE(GetTickCount() - pressed, 3000u) << "given up before the budget was spent";
    EXPECT_EQ(SendMessageA(TToolProcess::SecondRadioButton(Main), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_TRUE(tool.Running());
    EXPECT_FALSE(Exists(Saved));
    PostMessageA(Main, WM_CLOSE, 0, 0);
    EXPECT_EQ(tool.ExitCode(10000), 0);
    SetEnvironmentVariableA("XLDL_GIVE_UP_MS", nullptr);
}

TEST_F(WholeJob, KilledDuringTheDownloadTheNextRunPicksUpWhereItStopped) {
    // Slow enough to be killed in the middle: 100 KB/s per request.
    Script(R"({"rate": 100000})");
    TToolProcess first;
    ASSERT_TRUE(StartAndPress(first, 1));
    HWND bar = TToolProcess::ProgressBar(Main);
    ASSERT_TRUE(WaitFor([&] { return SendMessageA(bar, PBM_GETPOS, 0, 0) > 0; }, 20000))
        << "no progress to lose";
    Sleep(2500); // at least two records of the progress
    first.Kill();
    EXPECT_FALSE(Exists(Saved));
    ASSERT_TRUE(Exists("D:\\KORVA\\setup.exe.part.state")) << "the progress was not kept";

    // The next run starts where the killed one stopped, and its first look says so.
    Quiesce();
    Script(R"({"rate": 100000})");
    TToolProcess second;
    ASSERT_TRUE(StartAndPress(second, 1));
    bar = TToolProcess::ProgressBar(Main);
    LRESULT firstSeen = 0;
    ASSERT_TRUE(
        WaitFor([&] { return (firstSeen = SendMessageA(bar, PBM_GETPOS, 0, 0)) > 0; }, 20000))
        << "no progress; button " << IsWindowEnabled(TToolProcess::Button(Main)) << [] {
               std::string all;
               for (const auto& line : Log())
                   all += "\n" + line;
               return all;
           }();
    long long resumedAt = -1;
    for (const std::string& line : Log()) {
        EXPECT_NE(Field(line, "range").rfind("bytes=0-", 0), 0u) << "started over: " << line;
        long long from = 0;
        if (std::sscanf(Field(line, "range").c_str(), "bytes=%lld-", &from) == 1 &&
            (resumedAt < 0 || from < resumedAt))
            resumedAt = from;
    }
    EXPECT_GE(firstSeen, resumedAt) << "the bar did not start at what was kept";
    ExpectCompleted(second, 1, "after the kill");
    EXPECT_FALSE(Exists("D:\\KORVA\\setup.exe.part.state"));
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& line : lines)
        all += "\n" + line;
    return all;
}

// Waits for a press to be taken (the button goes grey) and answered (it comes back).
bool PressAnswered(HWND button) {
    return WaitFor([&] { return !IsWindowEnabled(button); }, 10000) &&
           WaitFor([&] { return IsWindowEnabled(button) != FALSE; }, 90000);
}

// What the mirror saw since the last script: one question, answered "not modified".
void ExpectOnlyAConditionalRequest() {
    EXPECT_LT(ServedBytes(), 65536);
    const auto log = Log();
    ASSERT_EQ(log.size(), 1u) << Joined(log);
    EXPECT_EQ(Field(log[0], "status"), "304") << log[0];
}

class FinishedFile : public WholeJob {
protected:
    // A run of the tool on mirror 1 to the started installer, with the mirror's log and count
    // fresh; the body bytes the mirror sent for it.
    long long Run(const std::string& what) {
        DeleteFileA(Started);
        Quiesce();
        Script("{}");
        TToolProcess tool;
        EXPECT_TRUE(StartAndPress(tool, 1)) << what;
        ExpectCompleted(tool, 1, what);
        return ServedBytes();
    }
};

// A finished download that the mirror still has is not fetched again: the next run asks with
// a conditional request, and the mirror sends next to nothing.
TEST_F(FinishedFile, ASecondRunWithTheFileUnchangedCostsTheMirrorNextToNothing) {
    EXPECT_GE(Run("first run"), static_cast<long long>(Served[0].size()));
    ASSERT_TRUE(Exists(FinishedRecord)) << "the finished download was not recorded";
    Run("second run");
    ExpectOnlyAConditionalRequest();
}

// Changed since it was finished, on this disk or on the mirror: fetched again, whole.
TEST_F(FinishedFile, AFileChangedOnDiskOrOnTheMirrorIsFetchedAgain) {
    Run("first run");
    const auto size = static_cast<long long>(Served[0].size());
    // The same record, sealed by another user: someone else's word, not the engine's.
    const auto record = ReadFileBytes(FinishedRecord);
    ASSERT_TRUE(record.has_value());
    const auto facts =
        xldl::ParseAnyState(std::string(record->begin(), record->end()), nullptr, UserSeal());
    ASSERT_TRUE(facts.has_value()) << "the record is not sealed with the user's key";
    xldl::TSeal anotherUser = UserSeal();
    anotherUser.Key[0] ^= 1;
    const std::string planted = xldl::FormatState(*facts, anotherUser);
    ASSERT_TRUE(
        WriteFileBytes(FinishedRecord, std::vector<uint8_t>(planted.begin(), planted.end())));
    EXPECT_GE(Run("recorded by another user"), size) << Joined(Log());
    // One byte of the saved file, its length and the record kept.
    auto damaged = ReadFileBytes(Saved);
    ASSERT_TRUE(damaged.has_value());
    (*damaged)[damaged->size() / 2] ^= 0x20;
    // The installer the first run started may still be running from the file.
    ASSERT_TRUE(WaitFor([&] { return WriteFileBytes(Saved, *damaged); }, 15000));
    EXPECT_GE(Run("changed on disk"), size) << Joined(Log());
    Serve(1, "host1-changed");
    EXPECT_GE(Run("changed on the mirror"), size) << Joined(Log());
}

// The shell cannot start what came (the maker's, for another processor): the tool stays with the
// chosen mirror, and a second press asks the mirror only whether the file is still the same.
TEST_F(FinishedFile, ASecondPressAfterAFailedStartCostsTheMirrorNextToNothing) {
    Serve(1, "not-a-program");
    TToolProcess tool;
    ASSERT_TRUE(StartAndPress(tool, 1));
    const HWND button = TToolProcess::Button(Main);
    ASSERT_TRUE(PressAnswered(button));
    EXPECT_TRUE(tool.Running());
    EXPECT_EQ(SendMessageA(TToolProcess::FirstRadioButton(Main), BM_GETCHECK, 0, 0), BST_CHECKED)
        << "no mirror made this";
    const auto saved = ReadFileBytes(Saved);
    ASSERT_TRUE(saved.has_value());
    EXPECT_TRUE(*saved == Served[0]);

    Quiesce();
    Script("{}");
    TToolProcess::Click(button);
    ASSERT_TRUE(PressAnswered(button));
    ExpectOnlyAConditionalRequest();
    EXPECT_FALSE(Exists(Started));
    PostMessageA(Main, WM_CLOSE, 0, 0);
    EXPECT_EQ(tool.ExitCode(10000), 0);
}

// A network that wants a sign-in first answers with its page: the tool says so and keeps the
// chosen mirror; once signed in, one press brings the installer.
TEST_F(WholeJob, ASignInPageLeavesTheMirrorAndOnePressAfterSigningInGetsTheInstaller) {
    Script(R"({"rules": [{"fault": "hotspot", "times": -1}]})");
    TToolProcess tool;
    ASSERT_TRUE(StartAndPress(tool, 1));
    const HWND button = TToolProcess::Button(Main);
    ASSERT_TRUE(PressAnswered(button));
    EXPECT_TRUE(tool.Running());
    EXPECT_FALSE(Exists(Saved)) << "the page was saved as the installer";
    EXPECT_EQ(SendMessageA(TToolProcess::FirstRadioButton(Main), BM_GETCHECK, 0, 0), BST_CHECKED)
        << "the other mirror gets the same page";
    Script("{}");
    TToolProcess::Click(button);
    ExpectCompleted(tool, 1, "after signing in");
}

// An old build of the maker's, time-stamped today (which anyone can do without the maker's key):
// refused as older, and the current build still starts after it.
TEST_F(WholeJob, AnOldBuildStampedTodayIsRefusedAndTheCurrentBuildStillStarts) {
    TToolProcess first;
    ASSERT_TRUE(StartAndPress(first, 1));
    ExpectCompleted(first, 1, "the current build");
    DeleteFileA(Started);
    Serve(1, "host1-old-restamped");
    TToolProcess tool;
    ASSERT_TRUE(StartAndPress(tool, 1));
    const HWND button = TToolProcess::Button(Main);
    ASSERT_TRUE(PressAnswered(button));
    EXPECT_FALSE(Exists(Saved)) << "an older build under the installer's name";
    EXPECT_FALSE(Exists(Started));
    EXPECT_EQ(SendMessageA(TToolProcess::SecondRadioButton(Main), BM_GETCHECK, 0, 0), BST_CHECKED);
    TToolProcess::Click(button);
    ExpectCompleted(tool, 2, "the current build from the other mirror");
}

// Someone renames the save folder aside while the mirror holds the download, and puts a folder
// of their own in its place, with a build of the maker's where the download would end: the
// folder is held, so the rename fails (Windows); or else (Wine) nothing starts from theirs.
TEST_F(WholeJob, TheSaveFolderCannotBeSwappedDuringTheDownload) {
    Script(R"({"rules": [{"path": "/service/setup.exe", "fault": "hold", "until": "/go",
               "seconds": 300, "times": -1}]})");
    TToolProcess tool;
    ASSERT_TRUE(StartAndPress(tool, 1));
    ASSERT_TRUE(WaitFor([] { return Exists("D:\\KORVA\\setup.exe.part"); }, 60000));
    const bool moved = MoveFileA("D:\\KORVA", "D:\\KORVA-aside") != FALSE;
    if (moved) {
        ASSERT_TRUE(CreateDirectoryA("D:\\KORVA", nullptr));
        ASSERT_TRUE(WriteFileBytes("D:\\KORVA\\setup.exe.part", Served[0]));
    }
    Exchange("GET", "/go", "");
    if (!moved) {
        ExpectCompleted(tool, 1, "the folder held");
        return;
    }
    // The button comes back either way; once the handler that gave it back has ended, the
    // window is still there only if nothing was started.
    const HWND button = TToolProcess::Button(Main);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(button) || IsWindowEnabled(button); }, 90000));
    SendMessageA(Main, WM_NULL, 0, 0);
    EXPECT_TRUE(IsWindowVisible(Main)) << "it started what was in the folder put in its place";
    PostMessageA(Main, WM_CLOSE, 0, 0);
    tool.ExitCode(10000);
    for (const char* folder : {"D:\\KORVA", "D:\\KORVA-aside"}) {
        for (const char* f : {"\\setup.exe", "\\setup-started.txt", "\\setup.exe.part",
                              "\\setup.exe.part.state", "\\setup.exe.done"})
            DeleteFileA((std::string(folder) + f).c_str());
        RemoveDirectoryA(folder);
    }
}

// Libraries left beside the tool under the names of the system libraries that the tool and its
// dependencies load (`used`) and that Windows' own may bring in besides (`others`), with Wine
// told to prefer a library found on the search path, as Windows does for a name that is no Known
// DLL. A control without the tool's protection loads every one of them from there; the tool,
// through a proxy's password dialog, a whole job and a screen reader's question, loads the
// system's own of each it uses and none of the planted ones. (Not version.dll: Wine's own user32
// takes it along the program's path as the program starts, before its first instruction;
// Windows' user32 does not import it.)
TEST_F(WholeJob, NoLibraryPlantedBesideTheToolIsLoaded) {
    const std::vector<std::string> used = {"comctl32", "uxtheme", "crypt32", "bcrypt", "wintrust",
                                           "imagehlp", "dbghelp", "rsaenh",  "credui", "oleacc"},
                                   others = {"cryptnet", "secur32", "winhttp", "msimg32",
                                             "dwmapi",   "userenv", "sspicli", "cryptbase"};
    std::vector<std::string> names = used;
    names.insert(names.end(), others.begin(), others.end());
    const std::string control = Folder + "\\control";
    CreateDirectoryA(control.c_str(), nullptr);
    ASSERT_TRUE(
        CopyFileA(WindowsPath(UNPROTECTED_EXE).c_str(), (control + "\\Tool.exe").c_str(), FALSE));
    // Read by each new process of that name (the environment's overrides are not passed on).
    const char* const key = "Software\\Wine\\AppDefaults\\Tool.exe\\DllOverrides";
    HKEY overrides;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              &overrides, nullptr),
              ERROR_SUCCESS);
    std::string command = "\"" + control + "\\Tool.exe\"";
    for (const std::string& name : names) {
        for (const std::string& folder : {Folder, control}) {
            DeleteFileA((folder + "\\" + name + ".dll.loaded").c_str()); // an earlier run's
            ASSERT_TRUE(CopyFileA(WindowsPath(PLANTED_DLL).c_str(),
                                  (folder + "\\" + name + ".dll").c_str(), FALSE));
        }
        RegSetValueExA(overrides, name.c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>("native,builtin"), 15);
        command += " " + name;
    }
    RegCloseKey(overrides);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               control.c_str(), &si, &pi));
    WaitForSingleObject(pi.hProcess, 60000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    for (const std::string& name : names)
        EXPECT_TRUE(Exists(control + "\\" + name + ".dll.loaded")) << name << ": the control";

    // The proxy asks who we are: the tool's dialog, cancelled; then the file, which the shell
    // cannot start, so that the tool stays with all it loaded.
    Serve(1, "not-a-program");
    Script(R"({"rules": [{"authorized": false, "fault": "status", "status": 407, "times": -1,
                          "proxy_authenticate": "Basic realm=\"mirror\""}]})");
    TToolProcess tool;
    const bool started = StartAndPress(tool, 1);
    RegDeleteKeyA(HKEY_CURRENT_USER, key);
    ASSERT_TRUE(started) << "the tool did not start";
    const HWND button = TToolProcess::Button(Main);
    HWND dialog = nullptr;
    ASSERT_TRUE(WaitFor(
        [&] {
            while ((dialog = FindWindowExA(nullptr, dialog, "#32770", nullptr)))
                if (GetWindow(dialog, GW_OWNER) == Main) return true;
            return false;
        },
        60000))
        << "no password dialog";
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(button) != FALSE; }, 90000));
    Script("{}");
    TToolProcess::Click(button);
    ASSERT_TRUE(PressAnswered(button));
    SendMessageA(Main, WM_GETOBJECT, 0, OBJID_CLIENT); // as a screen reader asks
    DWORD pid = 0;
    GetWindowThreadProcessId(Main, &pid);
    std::map<std::string, std::string> loaded; // name: where from
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    MODULEENTRY32 m{};
    m.dwSize = sizeof m;
    for (BOOL more = Module32First(snapshot, &m); more; more = Module32Next(snapshot, &m)) {
        std::string name = m.szModule;
        for (char& c : name)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        loaded[name] = m.szExePath;
    }
    CloseHandle(snapshot);
    char systemDir[MAX_PATH];
    const std::string systemFolder(systemDir, GetSystemDirectoryA(systemDir, MAX_PATH));
    for (const std::string& name : used) {
        const auto it = loaded.find(name + ".dll");
        EXPECT_TRUE(it != loaded.end() &&
                    CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, it->second.c_str(),
                                   static_cast<int>(systemFolder.size()), systemFolder.c_str(),
                                   -1) == CSTR_EQUAL)
            << name << ".dll: " << (it == loaded.end() ? "not loaded" : it->second);
    }
    for (const std::string& name : names)
        EXPECT_FALSE(Exists(Folder + "\\" + name + ".dll.loaded")) << name << ".dll was loaded";
    PostMessageA(Main, WM_CLOSE, 0, 0);
    EXPECT_EQ(tool.ExitCode(10000), 0);
}

// A mirror that sends an installer with a byte changed after signing: refused and gone from
// its name; one press fetches the other mirror's, which starts.
TEST_F(WholeJob, ATamperedInstallerIsRefusedAndTheOtherMirrorsStarts) {
    Serve(1, "tampered");
    TToolProcess tool;
    ASSERT_TRUE(StartAndPress(tool, 1));
    const HWND button = TToolProcess::Button(Main);
    ASSERT_TRUE(PressAnswered(button));
    EXPECT_TRUE(tool.Running());
    EXPECT_FALSE(Exists(Saved)) << "an unverified program under the installer's name";
    EXPECT_FALSE(Exists(Started));
    EXPECT_EQ(SendMessageA(TToolProcess::SecondRadioButton(Main), BM_GETCHECK, 0, 0), BST_CHECKED);
    TToolProcess::Click(button);
    ExpectCompleted(tool, 2, "mirror 2 after a tampered file on mirror 1");
}

} // namespace
