#include "xldl/Trace.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>

namespace xldl {

namespace {

HANDLE File = INVALID_HANDLE_VALUE;
CRITICAL_SECTION Lock;
LARGE_INTEGER Start, Frequency;

} // namespace

void TraceOpen(const std::string& path) {
    if (File != INVALID_HANDLE_VALUE || path.empty()) return;
    InitializeCriticalSection(&Lock);
    QueryPerformanceFrequency(&Frequency);
    QueryPerformanceCounter(&Start);
    File = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

void TraceClose() {
    if (File == INVALID_HANDLE_VALUE) return;
    CloseHandle(File);
    File = INVALID_HANDLE_VALUE;
    DeleteCriticalSection(&Lock);
}

bool Tracing() {
    return File != INVALID_HANDLE_VALUE;
}

void Trace(const char* format, ...) {
    if (File == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    char line[512];
    int n = std::snprintf(line, sizeof line, "%9.3f ",
                          static_cast<double>(now.QuadPart - Start.QuadPart) * 1000.0 /
                              static_cast<double>(Frequency.QuadPart));
    va_list args;
    va_start(args, format);
    n += std::vsnprintf(line + n, sizeof line - static_cast<size_t>(n) - 1, format, args);
    va_end(args);
    if (n > static_cast<int>(sizeof line) - 2) n = sizeof line - 2;
    line[n++] = '\n';
    EnterCriticalSection(&Lock);
    DWORD written;
    WriteFile(File, line, static_cast<DWORD>(n), &written, nullptr);
    LeaveCriticalSection(&Lock);
}

} // namespace xldl
