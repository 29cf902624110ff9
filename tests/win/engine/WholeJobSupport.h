// What the whole-job tests share: the real program with our engine beside it in a folder of
// its own, both mirror hosts served by the mirror that with_mirror.py started (each its own
// copy of the stand-in installer, signed as the maker's), reached through the proxy setting,
// saving to drive D:.
#pragma once

#include "tests/win/SignedInstallers.h"
#include "tests/win/ToolProcess.h"
#include "tests/win/engine/MirrorTestSupport.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mirror {

const char* const Saved = "D:\\KORVA\\setup.exe";
const char* const Started = "D:\\KORVA\\setup-started.txt";
// The engine's record of a finished download, beside it.
const char* const FinishedRecord = "D:\\KORVA\\setup.exe.done";

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
        for (const char* f : {Saved, Started, FinishedRecord, "D:\\KORVA\\setup.exe.part",
                              "D:\\KORVA\\setup.exe.part.state"})
            DeleteFileA(f);
        RemoveDirectoryA("D:\\KORVA");

        // The installer: a small program that leaves a note when started. Each host serves
        // its own copy (with different bytes appended before it was signed), so the file
        // tells where it came from.
        for (int host = 1; host <= 2; ++host)
            Serve(host, "host" + std::to_string(host));
        SetEnvironmentVariableA("http_proxy", ("http://" + Address() + "/").c_str());
        SetEnvironmentVariableA("XLDL_STALL_MS", "1500");
        SetEnvironmentVariableA("XLDL_RETRY_BASE_MS", "100");
        SetEnvironmentVariableA("XLDL_RETRY_CAP_MS", "2000");
    }

    // Mirror `host` serves the signed variant `variant` of the installer from now on.
    void Serve(int host, const std::string& variant) {
        const auto bytes = ReadFileBytes(SignedInstaller(variant));
        ASSERT_TRUE(bytes.has_value()) << variant;
        const std::string dir = Root() + "dl" + std::to_string(host) + ".orlenz.com";
        CreateDirectoryA(dir.c_str(), nullptr);
        CreateDirectoryA((dir + "\\service").c_str(), nullptr);
        ASSERT_TRUE(WriteFileBytes(dir + "\\service\\setup.exe", *bytes));
        Served[host - 1] = *bytes;
    }

    // Starts the tool, picks the mirror and presses the button (`pressedAt`: the tick count
    // just before); false when the window did not come.
    bool StartAndPress(TToolProcess& tool, int mirror, DWORD* pressedAt = nullptr) {
        if (!tool.Start(Folder)) return false;
        // A loaded machine may take a while to bring up Wine and the window.
        HWND main = tool.WaitForMainWindow(60000);
        if (!main) return false;
        if (mirror == 2) SendMessageA(TToolProcess::SecondRadioButton(main), BM_CLICK, 0, 0);
        if (pressedAt) *pressedAt = GetTickCount();
        TToolProcess::Click(TToolProcess::Button(main));
        Main = main;
        return true;
    }

    // The run ended well: exit code 0, the served bytes under the final name, installer run.
    // `mirror` 0: either mirror's file, whole.
    void ExpectCompleted(TToolProcess& tool, int mirror, const std::string& what) {
        EXPECT_EQ(tool.ExitCode(90000), 0) << what;
        const auto saved = ReadFileBytes(Saved);
        ASSERT_TRUE(saved.has_value()) << what;
        const bool served =
            mirror ? *saved == Served[mirror - 1] : *saved == Served[0] || *saved == Served[1];
        EXPECT_TRUE(served) << what << ": the file is not the served one";
        EXPECT_TRUE(WaitFor([] { return Exists(Started); }, 15000)) << what;
    }

    std::string Folder;
    std::vector<uint8_t> Served[2];
    HWND Main = nullptr;
};

} // namespace mirror
