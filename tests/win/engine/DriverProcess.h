// The engine's command-line driver (tools/xldl_driver) as a process of its own: started, killed
// outright (not asked to stop), waited for, its output read. A download that must survive its
// program is tested by killing the program.
#pragma once

#include <windows.h>

#include <string>

class TDriverProcess {
public:
    TDriverProcess() = default;
    TDriverProcess(const TDriverProcess&) = delete;
    TDriverProcess& operator=(const TDriverProcess&) = delete;
    ~TDriverProcess() { Kill(); }

    // Starts `driver` (a Windows path) on `url` into `folder`, its output going to a file.
    bool Start(const std::string& driver, const std::string& url, const std::string& folder,
               const std::string& extra = "") {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        char name[MAX_PATH];
        GetTempFileNameA(temp, "drv", 0, name);
        OutputPath = name;
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE out = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                 CREATE_ALWAYS, 0, nullptr);
        if (out == INVALID_HANDLE_VALUE) return false;
        STARTUPINFOA si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = si.hStdError = out;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        std::string command =
            "\"" + driver + "\" \"" + url + "\" \"" + folder + "\" --quiet " + extra;
        const bool started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0,
                                            nullptr, nullptr, &si, &Process) != FALSE;
        CloseHandle(out);
        return started;
    }

    // Ends the process at once, as a crash or the task manager would.
    void Kill() {
        if (!Process.hProcess) return;
        if (WaitForSingleObject(Process.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(Process.hProcess, 99);
            WaitForSingleObject(Process.hProcess, 15000);
        }
        Close();
    }

    // The exit code, or -1 if the process had not ended within `ms`.
    int Wait(DWORD ms) {
        if (!Process.hProcess) return Code;
        if (WaitForSingleObject(Process.hProcess, ms) != WAIT_OBJECT_0) return -1;
        DWORD code = 0;
        GetExitCodeProcess(Process.hProcess, &code);
        Code = static_cast<int>(code);
        Close();
        return Code;
    }

    bool Running() const {
        return Process.hProcess && WaitForSingleObject(Process.hProcess, 0) == WAIT_TIMEOUT;
    }

    std::string Output() const {
        std::string text;
        HANDLE f = CreateFileA(OutputPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
        if (f == INVALID_HANDLE_VALUE) return text;
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(f, buffer, sizeof buffer, &got, nullptr) && got)
            text.append(buffer, got);
        CloseHandle(f);
        return text;
    }

private:
    void Close() {
        CloseHandle(Process.hProcess);
        CloseHandle(Process.hThread);
        Process = {};
    }
    PROCESS_INFORMATION Process{};
    std::string OutputPath;
    int Code = -1;
};
