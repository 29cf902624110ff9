// The program with switches, with our engine against the mirror: each run from its command
// line to its exit code, what it left on disk, what it started and with what, whether a window
// came, and what its log and its output say (never a proxy's password, never the installer's
// arguments). A second run while one is at work waits for it.
#include "app/SingleInstance.h"
#include "tests/win/engine/WholeJobSupport.h"

#include <fstream>
#include <sstream>

namespace {

using namespace mirror;

const char* const ProxySecret = "Proxy-Secret-7";

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string FixedLog() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    return std::string(temp) + "OrlenzDownloader.log";
}

class Switches : public WholeJob {
protected:
    void SetUp() override {
        WholeJob::SetUp();
        // A credential in the proxy setting, which the mirror never asks for.
        SetEnvironmentVariableA(
            "http_proxy",
            ("http://orlenz:" + std::string(ProxySecret) + "@" + Address() + "/").c_str());
        CreateDirectoryA((Folder + "\\media").c_str(), nullptr);
    }

    // Everything a run may leave, gone.
    void Clean() {
        for (const std::string& f :
             {std::string(Saved), std::string(Started), std::string(FinishedRecord),
              std::string("D:\\KORVA\\setup.exe.part"),
              std::string("D:\\KORVA\\setup.exe.part.state"), Folder + "\\lay\\setup.exe",
              Folder + "\\lay\\setup.exe.part", Folder + "\\lay\\setup.exe.part.state",
              Folder + "\\lay\\setup.exe.done", Folder + "\\lay\\setup-started.txt",
              Folder + "\\run.log", Folder + "\\out.txt", FixedLog()})
            DeleteFileA(f.c_str());
        RemoveDirectoryA((Folder + "\\lay").c_str());
    }
};

struct TRow {
    const char* What;
    std::string Arguments;
    const char* Faults = "{}";   // the mirror's script
    const char* Media = nullptr; // the signed variant put at <folder>\media\setup.exe
    long Code = 0;
    bool Window = false;             // a window of the tool's showed
    const char* BoxSays = nullptr;   // a box came, beginning with this (closed with OK)
    const char* Installer = nullptr; // the installer's command line when it was started
    std::string Kept;                // the maker's file left here, with the bytes of From
    int From = 0;                    // 1, 2: that mirror's file; 0: the media's
    bool Asked = true;               // the mirror was asked
    std::vector<std::string> Logged; // lines of the log, in part
    std::string Log;                 // where the log is
};

TEST_F(Switches, EachRunEndsAsItsSwitchesSay) {
    const std::string runLog = Folder + "\\run.log";
    const std::string log = "/log \"" + runLog + "\"";
    const std::string media = Folder + "\\media\\setup.exe";
    const std::string lay = Folder + "\\lay";
    const std::string proxy = Address();
    const auto from = [&](int host) {
        return "from http://dl" + std::to_string(host) +
               ".orlenz.com/service/setup.exe: " + std::to_string(Served[host - 1].size()) +
               " bytes, by way of " + proxy;
    };
    // clang-format off
    const std::vector<TRow> rows = {
        {"quiet: the installer's arguments and exit code", "/quiet " + log + " -- /S /code:7",
         R"({"rules": [{"fault": "pause", "bytes": 600000, "seconds": 2, "times": -1}]})",
         nullptr, 7, false, nullptr, "show=1 args=/S /code:7", Saved, 1, true,
         {"switches: /quiet /mirror 1 /log", "-- (2 arguments for the installer, not recorded)",
          "save folder D:\\KORVA\\: this user's alone and writable, chosen",
          "asking http://dl1.orlenz.com/service/setup.exe (mirror 1), backed by "
          "http://dl2.orlenz.com/service/setup.exe (mirror 2)",
          "downloading: ", from(1), "signature: good, publisher Orlenz Software Co., Ltd.",
          "exit code 7: the installer's own"}, runLog},
        {"passive: no press, the chosen mirror", "/passive /mirror:2 " + log, "{}", nullptr, 0,
         true, nullptr, "show=1 args=", Saved, 2, true,
         {from(2), "exit code 0: the installer was started"}, runLog},
        {"layout: verified, kept, nothing started", "/quiet /layout \"" + lay + "\" " + log, "{}",
         nullptr, 12, false, nullptr, nullptr, lay + "\\setup.exe", 1, true,
         {"layout folder " + lay + "\\", "verified and kept",
          "exit code 12: the maker's installer is in the layout folder, nothing started"}, runLog},
        {"both mirrors without the file: the other tried once", "/quiet " + log,
         R"({"rules": [{"fault": "status", "status": 404, "times": -1}]})", nullptr, 4, false,
         nullptr, nullptr, "", 0, true,
         {"failed: error 2, last HTTP status 404", "trying mirror 2",
          "exit code 4: mirror or network failure"}, runLog},
        {"a sign-in page, logged where the last run's log is kept", "/quiet",
         R"({"rules": [{"fault": "hotspot", "times": -1}]})", nullptr, 5, false, nullptr, nullptr,
         "", 0, true, {"exit code 5: the network answered with a sign-in page"}, FixedLog()},
        {"a bad argument under quiet: only the log says it", log + " /quiet /mirror 3", "{}",
         nullptr, 2, false, nullptr, nullptr, "", 0, false,
         {"bad argument \"/mirror 3\": the mirror is 1 or 2", "exit code 2"}, runLog},
        {"a layout folder that cannot be made", "/quiet /layout Q:\\lay " + log, "{}", nullptr, 2,
         false, nullptr, nullptr, "", 0, false,
         {"bad argument \"Q:\\lay\": the folder cannot be made"}, runLog},
        {"a bad argument: a box says which and why", "/layout", "{}", nullptr, 2, false,
         "参数错误：/layout\n缺少值", nullptr, "", 0, false,
         {"bad argument \"/layout\": its value is missing"}, FixedLog()},
        {"a URL of the admin's, alone", "/quiet /source http://dl2.orlenz.com/service/setup.exe " +
         log + " -- /code:9", "{}", nullptr, 9, false, nullptr, "show=1 args=/code:9", Saved, 2,
         true, {"asking http://dl2.orlenz.com/service/setup.exe\r\n", from(2)}, runLog},
        {"a file of the admin's, copied", "/quiet /source \"" + media + "\" " + log + " -- /code:5",
         "{}", "good", 5, false, nullptr, "show=1 args=/code:5", Saved, 0, false,
         {"copying " + media, "signature: good"}, runLog},
        {"a file of the admin's that is not the maker's",
         "/passive /source \"" + media + "\" " + log,
         "{}", "tampered", 6, true, nullptr, nullptr, "", 0, false,
         {"signature: broken", "exit code 6: not the maker's installer, or damaged"}, runLog},
    };
    // clang-format on
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.What);
        Clean();
        if (row.Media) {
            ASSERT_TRUE(PutSignedInstaller(row.Media, media));
        }
        Quiesce();
        Script(row.Faults);
        TToolProcess tool;
        ASSERT_TRUE(tool.StartWithArguments(Folder, row.Arguments, Folder + "\\out.txt"));
        bool window = false;
        std::string box;
        ASSERT_TRUE(WaitFor(
            [&] {
                const HWND main = tool.MainWindow();
                window |= main && IsWindowVisible(main);
                if (const HWND b = tool.FindWindowOf("#32770", ApplicationTitle)) {
                    char text[512] = {};
                    GetDlgItemTextA(b, 0xFFFF, text, sizeof text);
                    box = text;
                    PostMessageA(b, WM_COMMAND, IDOK, 0);
                }
                return !tool.Running();
            },
            180000));
        EXPECT_EQ(tool.ExitCode(0), row.Code);
        EXPECT_EQ(window, row.Window);
        if (row.BoxSays) {
            EXPECT_EQ(box.rfind(row.BoxSays, 0), 0u) << box;
        } else {
            EXPECT_EQ(box, "");
        }
        if (row.Installer) {
            std::string line;
            EXPECT_TRUE(WaitFor(
                [&] {
                    std::ifstream marker(Started);
                    return std::getline(marker, line) && !line.empty();
                },
                15000));
            EXPECT_EQ(line, row.Installer);
        } else {
            EXPECT_FALSE(Exists(Started));
            EXPECT_FALSE(Exists(lay + "\\setup-started.txt"));
        }
        if (!row.Kept.empty()) {
            const auto kept = ReadFileBytes(row.Kept);
            ASSERT_TRUE(kept.has_value());
            const auto wanted = row.From ? Served[row.From - 1] : *ReadFileBytes(media);
            EXPECT_TRUE(*kept == wanted) << "not the file it should be";
        }
        if (row.Kept != Saved) {
            EXPECT_FALSE(Exists(Saved)) << "a file under the installer's name";
        }
        bool dl1 = false;
        const auto asked = mirror::Log();
        for (const std::string& line : asked)
            dl1 |= line.find("dl1.orlenz.com") != std::string::npos;
        EXPECT_EQ(!asked.empty(), row.Asked);
        if (row.Arguments.find("/source http") != std::string::npos) {
            EXPECT_FALSE(dl1) << "a mirror beside the admin's URL";
        }
        const std::string written = ReadText(row.Log);
        for (const std::string& part : row.Logged)
            EXPECT_NE(written.find(part), std::string::npos) << "the log lacks: " << part << "\n"
                                                             << written;
        const std::string output = ReadText(Folder + "\\out.txt");
        EXPECT_NE(output.find("exit code " + std::to_string(row.Code)), std::string::npos)
            << output;
        for (const std::string& text : {written, output}) {
            EXPECT_EQ(text.find(ProxySecret), std::string::npos) << "a proxy password";
            EXPECT_EQ(text.find("/code:"), std::string::npos) << "the installer's arguments";
        }
    }
}

// Started while the tool is at work for this user (here: while this test holds its lock), a
// run with switches neither brings it forward nor ends silently: it waits, a minute at most,
// without asking a mirror, and ends with its own code; or it goes on once the other has ended.
TEST_F(Switches, ASecondRunWaitsForTheFirstAMinuteAtMost) {
    Clean();
    Script("{}");
    const HANDLE lock = CreateMutexA(nullptr, TRUE, InstanceLockName);
    ASSERT_EQ(GetLastError(), 0u) << "the tool is running";
    const std::string arguments = "/quiet /log \"" + Folder + "\\run.log\" -- /code:8";
    TToolProcess patient;
    ASSERT_TRUE(patient.StartWithArguments(Folder, arguments));
    EXPECT_EQ(patient.ExitCode(120000), 3);
    EXPECT_TRUE(mirror::Log().empty()) << "asked a mirror while the other run was at work";
    EXPECT_FALSE(Exists(Started));
    EXPECT_NE(ReadText(Folder + "\\run.log").find("exit code 3: another run"), std::string::npos);

    TToolProcess second;
    ASSERT_TRUE(second.StartWithArguments(Folder, arguments));
    ASSERT_TRUE(WaitFor(
        [&] { return ReadText(Folder + "\\run.log").find("waiting for it") != std::string::npos; },
        60000));
    ReleaseMutex(lock);
    CloseHandle(lock);
    EXPECT_EQ(second.ExitCode(120000), 8);
    EXPECT_TRUE(WaitFor([] { return Exists(Started); }, 15000));
}

} // namespace
