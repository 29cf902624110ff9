// Stands in for a downloaded installer: when started, it adds a line to "setup-started.txt"
// beside itself, with the command line it was given, and ends; one line per start.
#include <windows.h>

#include <cstdio>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int show) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string marker = path;
    marker = marker.substr(0, marker.find_last_of('\\') + 1) + "setup-started.txt";
    if (FILE* f = std::fopen(marker.c_str(), "a")) {
        std::fprintf(f, "show=%d args=%s\n", show, commandLine);
        std::fclose(f);
    }
    return 0;
}
