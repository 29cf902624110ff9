// The whole job: the real program with our engine beside it, fetching through the proxy
// setting from the mirror with_mirror.py started (standing in for both mirror hosts), saving
// to drive D: and starting what it fetched. Also under faults: each run ends either with the
// right file and the installer started, or with nothing under the final name and the tool
// still open.
#include "tests/win/ToolProcess.h"
#include "tests/win/engine/MirrorTestSupport.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace mirror;

const char* const Saved = "D:\\KORVA\\setup.exe";
const char* const Started = "D:\\KORVA\\setup-started.txt";

class WholeJob : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        Folder = std::string(temp) + "orlenz-job-" + name;
        CreateDirectoryA(Folder.c_str(), nullptr);
        char self[MAX_PATH];
        GetModuleFileNameA(nullptr, self, MAX_PATH);
        std::string engine = self;
        engine = engine.substr(0, engine.find_last_of('\\') + 1) + "xldl.dll";
        ASSERT_TRUE(
            CopyFileA(WindowsPath(PROGRAM_EXE).c_str(), (Folder + "\\Tool.exe").c_str(), FALSE));
        ASSERT_TRUE(CopyFileA(engine.c_str(), (Folder + "\\xldl.dll").c_str(), FALSE));
        for (const char* f : {Saved, Started, "D:\\KORVA\\setup.exe.part"})
            DeleteFileA(f);
        RemoveDirectoryA("D:\\KORVA");

        // The installer: a small program that leaves a note when started. Each host serves
        // its own copy (with different bytes appended), so the file tells where it came from.
        const auto program = ReadFileBytes(WindowsPath(MARKER_SETUP_EXE));
        ASSERT_TRUE(program.has_value());
        for (int host = 1; host <= 2; ++host) {
            std::vector<uint8_t> bytes = *program;
            const auto tail = RandomBytes(300000, static_cast<uint32_t>(host));
            bytes.insert(bytes.end(), tail.begin(), tail.end());
            const std::string dir = Root() + "dl" + std::to_string(host) + ".orlenz.com";
            CreateDirectoryA(dir.c_str(), nullptr);
            CreateDirectoryA((dir + "\\service").c_str(), nullptr);
            ASSERT_TRUE(WriteFileBytes(dir + "\\service\\setup.exe", bytes));
            Served[host - 1] = bytes;
        }
        SetEnvironmentVariableA("http_proxy", ("http://" + Address() + "/").c_str());
        SetEnvironmentVariableA("XLDL_STALL_MS", "1500");
        SetEnvironmentVariableA("XLDL_RETRY_BASE_MS", "100");
        SetEnvironmentVariableA("XLDL_RETRY_CAP_MS", "2000");
    }

    // Starts the tool, picks the mirror and presses the button; false when the window did not
    // come.
    bool StartAndPress(TToolProcess& tool, int mirror) {
        if (!tool.Start(Folder)) return false;
        HWND main = tool.WaitForMainWindow();
        if (!main) return false;
        if (mirror == 2) SendMessageA(TToolProcess::SecondRadioButton(main), BM_CLICK, 0, 0);
        TToolProcess::Click(TToolProcess::Button(main));
        Main = main;
        return true;
    }

    // The run ended well: exit code 0, the served bytes under the final name, installer run.
    void ExpectCompleted(TToolProcess& tool, int mirror, const std::string& what) {
        EXPECT_EQ(tool.ExitCode(30000), 0) << what;
        const auto saved = ReadFileBytes(Saved);
        ASSERT_TRUE(saved.has_value()) << what;
        EXPECT_TRUE(*saved == Served[mirror - 1]) << what << ": the file is not the served one";
        EXPECT_TRUE(WaitFor([] { return Exists(Started); }, 15000)) << what;
    }

    std::string Folder;
    std::vector<uint8_t> Served[2];
    HWND Main = nullptr;
};

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
        R"({"rules": [{"fault": "status", "status": 503, "retry_after": "1", "times": 2}]})",
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

TEST_F(WholeJob, MirrorOneWithoutTheFileThenOnePressFetchesFromMirrorTwo) {
    // Mirror 1 has no installer: it answers 404, which the engine takes as final.
    ASSERT_TRUE(DeleteFileA((Root() + "dl1.orlenz.com\\service\\setup.exe").c_str()));
    TToolProcess tool;
    ASSERT_TRUE(StartAndPress(tool, 1));
    const HWND button = TToolProcess::Button(Main);
    ASSERT_TRUE(WaitFor([&] { return !IsWindowEnabled(button); }, 5000)) << "the press came";
    ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(button) != FALSE; }, 20000))
        << "the button comes back once the engine has given up";
    EXPECT_EQ(SendMessageA(TToolProcess::SecondRadioButton(Main), BM_GETCHECK, 0, 0), BST_CHECKED)
        << "mirror 2 is offered";
    EXPECT_EQ(SendMessageA(TToolProcess::FirstRadioButton(Main), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_TRUE(tool.Running());
    EXPECT_FALSE(Exists(Saved));
    EXPECT_FALSE(Exists(Started));
    const std::vector<std::string> refused = Log();
    ASSERT_FALSE(refused.empty());
    for (const std::string& line : refused)
        EXPECT_EQ(Field(line, "status"), "404") << line;

    Script("{}"); // a fresh log for the second task
    TToolProcess::Click(button);
    ExpectCompleted(tool, 2, "mirror 2 after mirror 1");
    for (const std::string& line : Log())
        EXPECT_NE(Field(line, "status"), "404") << line;
}

} // namespace
