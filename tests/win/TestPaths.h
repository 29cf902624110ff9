// Small things the Windows tests share: paths of the build machine as Windows sees them, and
// waiting for something to happen.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// A path of the build machine as Windows sees it (drive Z: is the root).
inline std::string WindowsPath(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return "Z:" + path;
}

inline bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(20);
    }
    return true;
}
