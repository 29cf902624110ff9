// The tool started as a process of its own from a folder of the test's, watched from outside
// as a user would see it: its windows by class and title, its button, its exit code.
#pragma once

#include "app/UnitOfZQX.h"
#include "tests/win/TestPaths.h"

#include <windows.h>

#include <functional>
#include <string>

class TToolProcess {
public:
    TToolProcess() = default;
    TToolProcess(const TToolProcess&) = delete;
    TToolProcess& operator=(const TToolProcess&) = delete;
    ~TToolProcess() {
        if (!FProcess.hProcess) return;
        // Gone before the next test starts the tool, which would otherwise find it running.
        if (WaitForSingleObject(FProcess.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(FProcess.hProcess, 99);
            WaitForSingleObject(FProcess.hProcess, 10000);
        }
        CloseHandle(FProcess.hProcess);
        CloseHandle(FProcess.hThread);
    }

    // Ends the tool at once, as a crash or the task manager would: no window closes, no
    // handler runs.
    void Kill() {
        if (!FProcess.hProcess) return;
        TerminateProcess(FProcess.hProcess, 99);
        WaitForSingleObject(FProcess.hProcess, 15000);
    }

    // Starts `folder`\`name` in `folder`; it inherits this process's environment.
    bool Start(const std::string& folder, const std::string& name = "Tool.exe") {
        return Launch(folder, "\"" + folder + "\\" + name + "\"", "");
    }
    // Starts `folder`\Tool.exe in `folder` with `arguments`; its output goes to the file
    // `output` when one is named.
    bool StartWithArguments(const std::string& folder, const std::string& arguments,
                            const std::string& output = "") {
        return Launch(folder, "\"" + folder + "\\Tool.exe\" " + arguments, output);
    }

    // A top-level window of the process with this class and title, or null.
    HWND FindWindowOf(const char* className, const std::string& title) const {
        TFound f{FProcess.dwProcessId, className, title};
        EnumWindows(Match, reinterpret_cast<LPARAM>(&f));
        return f.Window;
    }
    HWND MainWindow() const { return FindWindowOf("TForm", ApplicationTitle); }
    // The window that carries the taskbar entry.
    HWND TaskbarEntry() const { return FindWindowOf("TApplication", ApplicationTitle); }
    // The main window once it is on the screen, or null after `timeoutMs`.
    HWND WaitForMainWindow(DWORD timeoutMs = 15000) const {
        HWND w = nullptr;
        WaitFor([&] { return (w = MainWindow()) && IsWindowVisible(w); }, timeoutMs);
        return w;
    }
    static HWND Button(HWND main) { return FindWindowExA(main, nullptr, "TRzButton", nullptr); }
    static HWND ProgressBar(HWND main) {
        return FindWindowExA(main, nullptr, "TProgressBar", nullptr);
    }
    // The first radio button: mirror 1.
    static HWND FirstRadioButton(HWND main) {
        return FindWindowExA(main, nullptr, "TRadioButton", nullptr);
    }
    // The second radio button: mirror 2.
    static HWND SecondRadioButton(HWND main) {
        HWND first = FirstRadioButton(main);
        return first ? FindWindowExA(main, first, "TRadioButton", nullptr) : nullptr;
    }
    static void Click(HWND window) {
        PostMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 10));
        PostMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(20, 10));
    }

    bool Running() const { return WaitForSingleObject(FProcess.hProcess, 0) == WAIT_TIMEOUT; }
    // Waits for the program to end; its exit code, or -1 when it did not end in time.
    long ExitCode(DWORD timeoutMs) const {
        if (WaitForSingleObject(FProcess.hProcess, timeoutMs) != WAIT_OBJECT_0) return -1;
        DWORD code = 0;
        GetExitCodeProcess(FProcess.hProcess, &code);
        return static_cast<long>(code);
    }

private:
    bool Launch(const std::string& folder, std::string command, const std::string& output) {
        STARTUPINFOA si{};
        si.cb = sizeof si;
        HANDLE out = INVALID_HANDLE_VALUE;
        if (!output.empty()) {
            SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
            out = CreateFileA(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited,
                              CREATE_ALWAYS, 0, nullptr);
            si.dwFlags = STARTF_USESTDHANDLES;
            si.hStdOutput = si.hStdError = out;
        }
        const bool started =
            CreateProcessA(nullptr, command.data(), nullptr, nullptr, out != INVALID_HANDLE_VALUE,
                           0, nullptr, folder.c_str(), &si, &FProcess) != FALSE;
        if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
        return started;
    }

    struct TFound {
        DWORD Process;
        const char* ClassName;
        std::string Title;
        HWND Window = nullptr;
    };
    static BOOL CALLBACK Match(HWND window, LPARAM param) {
        auto& f = *reinterpret_cast<TFound*>(param);
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        char cls[64] = {}, title[256] = {};
        GetClassNameA(window, cls, sizeof cls);
        GetWindowTextA(window, title, sizeof title);
        if (process != f.Process || f.ClassName != std::string(cls) || f.Title != title)
            return TRUE;
        f.Window = window;
        return FALSE;
    }

    PROCESS_INFORMATION FProcess{};
};
