#include "xldl/Trace.h"

#include <windows.h>

#include "xldl/core/TraceFormat.h"

#include <cstdarg>

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
    // Milliseconds to the microsecond, nine wide.
    const long long us = (now.QuadPart - Start.QuadPart) * 1000000 / Frequency.QuadPart;
    size_t n = FormatTraceArgs(line, sizeof line, "%5lld.%03lld ", us / 1000, us % 1000);
    va_list args;
    va_start(args, format);
    n += FormatTrace(line + n, sizeof line - n - 1, format, args);
    va_end(args);
    line[n++] = '\n';
    EnterCriticalSection(&Lock);
    DWORD written;
    WriteFile(File, line, static_cast<DWORD>(n), &written, nullptr);
    LeaveCriticalSection(&Lock);
}

} // namespace xldl
