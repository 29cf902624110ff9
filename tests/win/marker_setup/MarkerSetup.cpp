// Stands in for a downloaded installer: when started, it adds a line to "setup-started.txt"
// beside itself, with the command line it was given, and ends, with the exit code that an
// argument "/code:N" names (else 0); one line per start. Wide calls throughout: it may be
// started from a folder named outside the ANSI code page.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int show) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring marker = path;
    marker = marker.substr(0, marker.find_last_of(L'\\') + 1) + L"setup-started.txt";
    if (FILE* f = _wfopen(marker.c_str(), L"a")) {
        std::fprintf(f, "show=%d args=%s\n", show, commandLine);
        std::fclose(f);
    }
    const char* code = std::strstr(commandLine, "/code:");
    return code ? std::atoi(code + 6) : 0;
}
