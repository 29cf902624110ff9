#include "app/RunLog.h"

#include "framework/ProgramText.h"

namespace {

void TwoDigits(std::string& s, unsigned v) {
    s += static_cast<char>('0' + v / 10 % 10);
    s += static_cast<char>('0' + v % 10);
}

std::string LocalTime() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    std::string s = std::to_string(t.wYear) + "-";
    TwoDigits(s, t.wMonth);
    s += '-';
    TwoDigits(s, t.wDay);
    s += ' ';
    TwoDigits(s, t.wHour);
    s += ':';
    TwoDigits(s, t.wMinute);
    s += ':';
    TwoDigits(s, t.wSecond);
    return s;
}

std::wstring FixedLogPath() {
    wchar_t temp[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH) return {};
    return std::wstring(temp, n) + FixedLogName;
}

} // namespace

TRunLog::TRunLog() {
    // The output may have come along: a console that the process shares already, or a file or
    // pipe it was sent to. Otherwise the console it was started from must be joined (a
    // program for the desktop has none of its own).
    const HANDLE inherited = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (inherited && inherited != INVALID_HANDLE_VALUE &&
        (GetConsoleMode(inherited, &mode) || GetFileType(inherited) == FILE_TYPE_DISK ||
         GetFileType(inherited) == FILE_TYPE_PIPE)) {
        FOutput = inherited;
    } else if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        FOutput =
            CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (FOutput == INVALID_HANDLE_VALUE) FOutput = nullptr;
        FOwnOutput = FOutput != nullptr;
    }
    FOutputIsConsole = FOutput && GetConsoleMode(FOutput, &mode);
    // The shell's prompt came back when the program started: begin below it.
    if (FOutputIsConsole) Console(L"");
}

TRunLog::~TRunLog() {
    if (FFile != INVALID_HANDLE_VALUE) CloseHandle(FFile);
    if (FOwnOutput) CloseHandle(FOutput);
    if (FOwnOutput) FreeConsole();
}

bool TRunLog::Open(const std::wstring& path) {
    if (IsOpen()) return true;
    wchar_t full[MAX_PATH * 2];
    const std::wstring name = path.empty() ? FixedLogPath() : path;
    const DWORD n = name.empty() ? 0 : GetFullPathNameW(name.c_str(), MAX_PATH * 2, full, nullptr);
    if (n == 0 || n >= MAX_PATH * 2) return false;
    FFile = CreateFileW(full, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (FFile == INVALID_HANDLE_VALUE) return false;
    std::string pending;
    pending.swap(FPending);
    Write(pending);
    return true;
}

void TRunLog::Line(const std::wstring& text) {
    Line(FromWide(text, CP_UTF8));
}

void TRunLog::Line(const std::string& utf8) {
    Write(LocalTime() + "  " + utf8 + "\r\n");
}

void TRunLog::Say(const std::wstring& text) {
    Line(text);
    Console(text);
}

void TRunLog::Write(const std::string& utf8) {
    if (FFile == INVALID_HANDLE_VALUE) {
        FPending += utf8;
        return;
    }
    DWORD written = 0;
    WriteFile(FFile, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

void TRunLog::Console(const std::wstring& text) {
    if (!FOutput) return;
    DWORD written = 0;
    if (FOutputIsConsole) {
        const std::wstring line = text + L"\r\n";
        WriteConsoleW(FOutput, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    } else {
        const std::string line = FromWide(text, CP_UTF8) + "\r\n";
        WriteFile(FOutput, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }
}
