// The demo mirror's "setup.exe": a stand-in for the maker's installer. When started it writes
// "installer-started.txt" beside itself (the time and its command line), so a script can tell
// it ran, and says so in a message box. DEMO_INSTALLER_CLOSE_MS, when set, closes the box
// after that many milliseconds (unattended runs).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void CALLBACK CloseBox(HWND, UINT, UINT_PTR, DWORD) {
    // The box's own message loop ends on the quit request.
    PostQuitMessage(0);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string marker = path;
    marker = marker.substr(0, marker.find_last_of('\\') + 1) + "installer-started.txt";
    SYSTEMTIME now;
    GetLocalTime(&now);
    if (FILE* f = std::fopen(marker.c_str(), "w")) {
        std::fprintf(f, "%04d-%02d-%02d %02d:%02d:%02d.%03d %s\n", now.wYear, now.wMonth,
                     now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                     commandLine);
        std::fclose(f);
    }
    if (const char* ms = std::getenv("DEMO_INSTALLER_CLOSE_MS"))
        SetTimer(nullptr, 0, static_cast<UINT>(std::strtoul(ms, nullptr, 10)), CloseBox);
    MessageBoxA(nullptr, "Orlenz软件安装程序已启动。\n\n（这是演示镜像提供的演示安装程序。）",
                "Orlenz软件安装程序", MB_OK | MB_ICONINFORMATION);
    return 0;
}
