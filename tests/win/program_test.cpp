// The real program, started as its own process with the stand-in engine beside it (scripted
// through the environment) and drive D: a folder of the build tree: the engine-failure box,
// a whole download up to the started installer, installers that are not the maker's, a start
// that fails, closing during a transfer, and a second start while the tool runs.
#include "tests/win/SignedInstallers.h"
#include "tests/win/ToolProcess.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

class Program : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        Dir = std::string(temp) + "orlenz-" + name;
        CreateDirectoryA(Dir.c_str(), nullptr);
        ASSERT_TRUE(
            CopyFileA(WindowsPath(PROGRAM_EXE).c_str(), (Dir + "\\Tool.exe").c_str(), FALSE));
        ASSERT_TRUE(
            CopyFileA(WindowsPath(STAND_IN_DLL).c_str(), (Dir + "\\xldl.dll").c_str(), FALSE));
        DeleteFileA(Log().c_str());
        // Drive D: starts without the download folder.
        for (const char* f : {"D:\\KORVA\\setup.exe", "D:\\KORVA\\setup-started.txt",
                              "D:\\KORVA\\setup.exe.part", "D:\\KORVA\\setup.exe.done"})
            DeleteFileA(f);
        RemoveDirectoryA("D:\\KORVA");
    }
    std::string Log() const { return Dir + "\\calls.log"; }

    void Start(const std::string& script) {
        std::ofstream(Dir + "\\script.txt") << script;
        SetEnvironmentVariableA("STANDIN_SCRIPT", (Dir + "\\script.txt").c_str());
        SetEnvironmentVariableA("STANDIN_LOG", Log().c_str());
        ASSERT_TRUE(Tool.Start(Dir));
    }
    // The engine calls made so far, by name.
    std::vector<std::string> Calls() {
        std::vector<std::string> names;
        std::ifstream in(Log());
        std::string name, argument;
        while (in >> name >> argument)
            names.push_back(name);
        return names;
    }
    int Count(const std::string& call) {
        int n = 0;
        for (const std::string& c : Calls())
            n += c == call;
        return n;
    }
    // Adds answers to the running stand-in's script.
    void Script(const std::string& lines) {
        std::ofstream(Dir + "\\script.txt", std::ios::app) << lines;
    }
    // The installer in place, as the engine would leave it when the task ends: the signed
    // variant `name` of the stand-in installer.
    static void PutInstaller(const std::string& name = "good") {
        CreateDirectoryA("D:\\KORVA", nullptr);
        ASSERT_TRUE(PutSignedInstaller(name, "D:\\KORVA\\setup.exe")) << name;
    }
    static bool Exists(const char* path) {
        return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
    }
    static bool Checked(HWND radio) {
        return SendMessageA(radio, BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    // How often the installer was started.
    static int InstallerStarts() {
        std::ifstream marker("D:\\KORVA\\setup-started.txt");
        int n = 0;
        for (std::string line; std::getline(marker, line);)
            ++n;
        return n;
    }
    // A window of this test, in front of everything: what the user was doing meanwhile.
    struct TOtherWindow {
        HWND Window = CreateWindowExA(0, "STATIC", "other", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100,
                                      nullptr, nullptr, nullptr, nullptr);
        TOtherWindow() { SetForegroundWindow(Window); }
        ~TOtherWindow() { DestroyWindow(Window); }
    };
    std::string Dir;
    TToolProcess Tool;
};

// What Windows takes from the program's manifest before it runs: aware of the system's dots
// per inch (the window sizes itself for the display, so it must not be stretched as a
// picture), and the classic look (no common controls of version 6 in its place).
TEST(ProgramManifest, SystemDpiAwareWithTheClassicControls) {
    const std::string exe = WindowsPath(PROGRAM_EXE);
    ACTCTXA request{};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = exe.c_str();
    request.lpResourceName = MAKEINTRESOURCEA(1);
    const HANDLE context = CreateActCtxA(&request);
    ASSERT_NE(context, INVALID_HANDLE_VALUE) << "no manifest: error " << GetLastError();
    struct Setting {
        const wchar_t *Namespace, *Name, *Value;
    };
    for (const Setting& s :
         {Setting{L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware", L"true"},
          Setting{L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness",
                  nullptr}}) {
        wchar_t value[64] = {};
        SIZE_T length = 0;
        const BOOL found = QueryActCtxSettingsW(0, context, s.Namespace, s.Name, value,
                                                sizeof value / sizeof value[0], &length);
        if (s.Value) {
            EXPECT_TRUE(found) << "no setting";
            EXPECT_STREQ(value, s.Value);
        } else {
            EXPECT_FALSE(found) << "a setting that would override the system awareness";
        }
    }
    ULONG_PTR cookie = 0;
    ASSERT_TRUE(ActivateActCtx(context, &cookie));
    ACTCTX_SECTION_KEYED_DATA redirected{};
    redirected.cbSize = sizeof redirected;
    EXPECT_FALSE(FindActCtxSectionStringA(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION,
                                          "comctl32.dll", &redirected))
        << "the common controls are taken from an assembly: the look of version 6";
    DeactivateActCtx(0, cookie);
    ReleaseActCtx(context);
}

TEST_F(Program, EngineFailureBoxComesBeforeTheWindow) {
    Start("init 0\n");
    HWND box = nullptr;
    ASSERT_TRUE(
        WaitFor([&] { return (box = Tool.FindWindowOf("#32770", "提示信息")) != nullptr; }, 15000));
    HWND main = Tool.MainWindow();
    EXPECT_FALSE(main && IsWindowVisible(main)) << "the window appears only after OK";
    char text[128] = {};
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    EXPECT_STREQ(text, "下载初始化失败");
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    main = Tool.WaitForMainWindow();
    ASSERT_NE(main, nullptr);
    EXPECT_TRUE(IsWindowEnabled(TToolProcess::Button(main))) << "the button stays enabled";
    PostMessageA(main, WM_CLOSE, 0, 0);
    EXPECT_EQ(Tool.ExitCode(10000), 0);
    EXPECT_EQ(Calls(), (std::vector<std::string>{"XL_Init", "XL_UnInit"}));
}

TEST_F(Program, FinishedDownloadStartsTheInstallerAndEnds) {
    // The engine "downloads" the installer: it is there when the task reports finished.
    PutInstaller();
    Start("query 1 3 2048 1024\nquery 1 4 2048 2048\n");
    HWND main = Tool.WaitForMainWindow();
    ASSERT_NE(main, nullptr);
    TToolProcess::Click(TToolProcess::Button(main));
    EXPECT_EQ(Tool.ExitCode(20000), 0);
    // The installer's marker is there from its opening, its line only once written.
    std::string line;
    EXPECT_TRUE(WaitFor(
        [&] {
            std::ifstream marker("D:\\KORVA\\setup-started.txt");
            return std::getline(marker, line) && !line.empty();
        },
        15000))
        << "the installer was started through the shell";
    EXPECT_EQ(line.substr(0, 6), "show=1") << "normally shown";
    EXPECT_EQ(Calls(),
              (std::vector<std::string>{"XL_Init", "XL_CreateTask", "XL_StartTask",
                                        "XL_QueryTaskInfoEx", "XL_QueryTaskInfoEx", "XL_UnInit"}));
}

// Each press finds another file under the installer's name, as if each mirror had sent it:
// what is not the maker's is not started and is gone from its name, the window stays with the
// button and the other mirror; the maker's own is started at last.
TEST_F(Program, OnlyTheMakersInstallerIsStarted) {
    const char* const refused[] = {"tampered", "unsigned", "other-publisher", "untrusted-root",
                                   "expired"};
    std::string script;
    for (size_t i = 0; i <= std::size(refused); ++i)
        script += "query 1 4 2048 2048\n";
    Start(script);
    const HWND main = Tool.WaitForMainWindow();
    ASSERT_NE(main, nullptr);
    const HWND button = TToolProcess::Button(main);
    for (const char* variant : refused) {
        SCOPED_TRACE(variant);
        PutInstaller(variant);
        const bool wasFirst = Checked(TToolProcess::FirstRadioButton(main));
        const int presses = Count("XL_CreateTask");
        TToolProcess::Click(button);
        ASSERT_TRUE(WaitFor([&] { return Count("XL_CreateTask") > presses; }, 10000));
        ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(button) != FALSE; }, 60000))
            << "the button comes back";
        EXPECT_FALSE(Exists("D:\\KORVA\\setup.exe")) << "deleted";
        EXPECT_EQ(Checked(TToolProcess::FirstRadioButton(main)), !wasFirst) << "the other mirror";
        EXPECT_TRUE(Tool.Running());
    }
    EXPECT_EQ(InstallerStarts(), 0);
    PutInstaller("good");
    TToolProcess::Click(button);
    EXPECT_EQ(Tool.ExitCode(60000), 0);
    EXPECT_TRUE(WaitFor([] { return InstallerStarts() == 1; }, 15000));
}

// The shell cannot start what the engine saved (here: the maker's installer for another
// processor): the window stays with the chosen mirror, and once the file is one that starts, one
// press starts it.
TEST_F(Program, AStartThatFailsIsToldAndOnePressTriesAgain) {
    PutInstaller("not-a-program");
    Start("query 1 4 2048 2048\nquery 1 4 2048 2048\n");
    const HWND main = Tool.WaitForMainWindow();
    ASSERT_NE(main, nullptr);
    const HWND button = TToolProcess::Button(main);
    SendMessageA(TToolProcess::SecondRadioButton(main), BM_CLICK, 0, 0);
    TToolProcess::Click(button);
    ASSERT_TRUE(WaitFor([&] { return Count("XL_QueryTaskInfoEx") >= 1; }, 10000));
    ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(button) != FALSE; }, 60000));
    EXPECT_TRUE(Tool.Running()) << "the window stays";
    EXPECT_TRUE(Exists("D:\\KORVA\\setup.exe")) << "the maker's file stays";
    EXPECT_TRUE(Checked(TToolProcess::SecondRadioButton(main))) << "the chosen mirror stays";
    EXPECT_EQ(InstallerStarts(), 0);

    PutInstaller("good");
    TToolProcess::Click(button);
    EXPECT_EQ(Tool.ExitCode(60000), 0);
    EXPECT_TRUE(WaitFor([] { return InstallerStarts() == 1; }, 15000));
    EXPECT_EQ(Count("XL_CreateTask"), 2);
}

TEST_F(Program, ClosingDuringATransferEndsAtOnce) {
    Start("query 1 3 100000 10\nquery 1 3 100000 20\nquery 1 3 100000 30\n");
    HWND main = Tool.WaitForMainWindow();
    ASSERT_NE(main, nullptr);
    TToolProcess::Click(TToolProcess::Button(main));
    ASSERT_TRUE(WaitFor([&] { return Count("XL_QueryTaskInfoEx") >= 1; }, 10000));
    PostMessageA(main, WM_CLOSE, 0, 0);
    EXPECT_EQ(Tool.ExitCode(5000), 0) << "no question, no waiting for the transfer";
    EXPECT_EQ(Count("XL_Init"), 1);
    EXPECT_EQ(Count("XL_UnInit"), 1);
    EXPECT_EQ(GetFileAttributesA("D:\\KORVA\\setup-started.txt"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Program, ASecondStartBringsTheRunningToolForwardAndEnds) {
    PutInstaller();
    // The task goes on downloading until the test lets it finish.
    Start("query 1 3 2048 1024\n");
    const HWND main = Tool.WaitForMainWindow();
    ASSERT_NE(main, nullptr);
    TToolProcess::Click(TToolProcess::Button(main));
    ASSERT_TRUE(WaitFor([&] { return Count("XL_QueryTaskInfoEx") >= 1; }, 10000));
    {
        TOtherWindow other;
        ASSERT_EQ(GetForegroundWindow(), other.Window);
        TToolProcess second;
        ASSERT_TRUE(second.Start(Dir));
        EXPECT_EQ(second.ExitCode(10000), 0) << "ends well before giving up on a window";
        // Wine hands the foreground over through the tool's own thread: a moment later.
        EXPECT_TRUE(WaitFor([&] { return GetForegroundWindow() == main; }, 5000))
            << "the running tool is in front";
    }
    EXPECT_TRUE(Tool.Running());
    EXPECT_FALSE(IsWindowEnabled(TToolProcess::Button(main))) << "its download goes on";
    const int queries = Count("XL_QueryTaskInfoEx");
    EXPECT_TRUE(WaitFor([&] { return Count("XL_QueryTaskInfoEx") > queries; }, 10000))
        << "still polling";

    Script("query 1 4 2048 2048\n");
    EXPECT_EQ(Tool.ExitCode(20000), 0);
    EXPECT_TRUE(WaitFor([] { return InstallerStarts() > 0; }, 15000));
    Sleep(500);
    EXPECT_EQ(InstallerStarts(), 1);
    EXPECT_EQ(Count("XL_Init"), 1) << "the second start never reached the engine";
    EXPECT_EQ(Count("XL_CreateTask"), 1);
    EXPECT_EQ(Count("XL_UnInit"), 1);
}

TEST_F(Program, AMinimisedToolIsRestored) {
    Start("");
    const HWND main = Tool.WaitForMainWindow();
    ASSERT_NE(main, nullptr);
    const HWND entry = Tool.TaskbarEntry();
    ASSERT_NE(entry, nullptr);
    // As from the taskbar: the entry's window is minimised and takes the tool's window along.
    PostMessageA(entry, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_TRUE(WaitFor([&] { return IsIconic(entry) != FALSE; }, 5000));
    TOtherWindow other;
    TToolProcess second;
    ASSERT_TRUE(second.Start(Dir));
    EXPECT_EQ(second.ExitCode(10000), 0);
    EXPECT_FALSE(IsIconic(entry));
    EXPECT_FALSE(IsIconic(main));
    EXPECT_TRUE(IsWindowVisible(main));
    EXPECT_TRUE(WaitFor([&] { return GetForegroundWindow() == main; }, 5000));
    PostMessageA(main, WM_CLOSE, 0, 0);
    EXPECT_EQ(Tool.ExitCode(10000), 0);
    EXPECT_EQ(Count("XL_Init"), 1);
}

TEST_F(Program, TwoStartsAtOnceMakeOneTool) {
    // The second may come before the first has its window (or even before the first).
    Start("");
    TToolProcess second;
    ASSERT_TRUE(second.Start(Dir));
    HWND window = nullptr;
    ASSERT_TRUE(WaitFor(
        [&] {
            window = Tool.MainWindow() ? Tool.MainWindow() : second.MainWindow();
            return window && IsWindowVisible(window);
        },
        15000));
    TToolProcess& running = Tool.MainWindow() ? Tool : second;
    TToolProcess& ended = Tool.MainWindow() ? second : Tool;
    EXPECT_EQ(ended.ExitCode(10000), 0);
    EXPECT_TRUE(running.Running());
    EXPECT_EQ(Count("XL_Init"), 1);
    EXPECT_TRUE(WaitFor([&] { return GetForegroundWindow() == window; }, 5000));
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(running.ExitCode(10000), 0);
}

} // namespace
