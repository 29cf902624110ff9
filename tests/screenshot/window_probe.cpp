// window_probe: tells what the system knows of the tool's window, for the screenshot tests to
// read beside the picture. Finds the visible top-level window of class TForm and prints, one
// fact a line:
//     dpi N                      the display's dots per inch
//     zero_height N              the height of "0" in the window's designed font at this dpi
//     control_scale N            the controls are scaled by N / 12 (12 at 96 dots per inch)
//     caption_width N            the download button's caption in its designed font, scaled
//     network_failure_width N    what the window says when the network fails, in its font
//     desktop W H                the virtual desktop
//     window L T W H             outer rectangle, screen coordinates
//     client_origin X Y          client (0, 0) on the screen
//     client W H
//     scroll_bars H V            1 where the window shows that scroll bar
//     small_icon_metric W H      the size the system asks of a caption's icon
//     control CLASS L T W H      each child window, client coordinates
// With "desktop", it only says by its exit code whether the session's desktop takes a window.
// The fonts are the designed ones scaled by the display rule (the window's font by dpi / 96,
// the button's by the window font's text height / 12), measured here independently of the
// tool. The probe is DPI aware itself, so that no number it reads is virtualised.
#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <string>

namespace {

BOOL CALLBACK TakeToolWindow(HWND w, LPARAM found) {
    char name[64] = {};
    GetClassNameA(w, name, sizeof name);
    if (!IsWindowVisible(w) || std::string(name) != "TForm") return TRUE;
    *reinterpret_cast<HWND*>(found) = w;
    return FALSE;
}

HWND FindToolWindow() {
    HWND found = nullptr;
    EnumWindows(TakeToolWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

// Width and height of `text` in a font of `height` (negative: character height).
SIZE TextSize(const char* face, int height, int weight, const std::string& text) {
    LOGFONTA lf{};
    lf.lfHeight = height;
    lf.lfWeight = weight;
    lf.lfCharSet = DEFAULT_CHARSET;
    lstrcpynA(lf.lfFaceName, face, LF_FACESIZE);
    HFONT font = CreateFontIndirectA(&lf);
    HDC dc = GetDC(nullptr);
    const HGDIOBJ old = SelectObject(dc, font);
    SIZE size{};
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    DeleteObject(font);
    return size;
}

BOOL CALLBACK PrintChild(HWND child, LPARAM parent) {
    if (GetParent(child) != reinterpret_cast<HWND>(parent)) return TRUE;
    char name[64] = {};
    GetClassNameA(child, name, sizeof name);
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, reinterpret_cast<HWND>(parent), reinterpret_cast<POINT*>(&r), 2);
    std::printf("control %s %ld %ld %ld %ld\n", name, r.left, r.top, r.right - r.left,
                r.bottom - r.top);
    return TRUE;
}

} // namespace

// Waits, however long, for each of this session's desktop processes to take input; false when
// there is none.
bool DesktopProcessesReady() {
    bool any = false;
    const HANDLE processes = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 p{};
    p.dwSize = sizeof p;
    for (BOOL more = Process32First(processes, &p); more; more = Process32Next(processes, &p))
        if (lstrcmpiA(p.szExeFile, "explorer.exe") == 0)
            if (HANDLE h =
                    OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, p.th32ProcessID)) {
                WaitForInputIdle(h, INFINITE);
                CloseHandle(h);
                any = true;
            }
    CloseHandle(processes);
    return any;
}

// Whether this session's desktop takes a window. Wine starts its desktop process with the
// first window a program makes and waits ten seconds for it to take input; a program still
// waiting then gets no window, and the session is left at odds with its screen (on a loaded
// machine that emulates 32-bit code, the desktop process takes longer). So the probe starts
// the desktop process itself, unless it runs already, and waits for it as long as it takes.
bool DesktopTakesWindows() {
    if (!DesktopProcessesReady()) {
        char command[] = "explorer.exe /desktop";
        STARTUPINFOA si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                            &pi))
            return false;
        WaitForInputIdle(pi.hProcess, INFINITE);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    const HWND w =
        CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    if (w) DestroyWindow(w);
    return w != nullptr;
}

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "desktop") return DesktopTakesWindows() ? 0 : 1;
    SetProcessDPIAware();
    const HWND window = FindToolWindow();
    if (!window) {
        std::printf("no window\n");
        return 1;
    }
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    const int zero = TextSize("宋体", -MulDiv(12, dpi, 96), FW_NORMAL, "0").cy;
    const int scale = dpi == 96 ? 12 : zero;
    std::printf("dpi %d\nzero_height %d\ncontrol_scale %d\n", dpi, zero, scale);
    const int buttonFont = MulDiv(-20, scale, 12);
    std::printf("caption_width %ld\n",
                TextSize("微软雅黑", buttonFont, FW_BOLD, "下载Orlenz软件完整安装包").cx);
    std::printf("network_failure_width %ld\n",
                TextSize("宋体", -MulDiv(12, dpi, 96), FW_NORMAL,
                         "下载失败：无法连接网络或服务器，可换镜像重试")
                    .cx);
    std::printf("desktop %d %d\n", GetSystemMetrics(SM_CXVIRTUALSCREEN),
                GetSystemMetrics(SM_CYVIRTUALSCREEN));
    RECT outer, client;
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    std::printf("window %ld %ld %ld %ld\n", outer.left, outer.top, outer.right - outer.left,
                outer.bottom - outer.top);
    std::printf("client_origin %ld %ld\nclient %ld %ld\n", origin.x, origin.y, client.right,
                client.bottom);
    const LONG style = GetWindowLongA(window, GWL_STYLE);
    std::printf("scroll_bars %d %d\n", (style & WS_HSCROLL) ? 1 : 0, (style & WS_VSCROLL) ? 1 : 0);
    std::printf("small_icon_metric %d %d\n", GetSystemMetrics(SM_CXSMICON),
                GetSystemMetrics(SM_CYSMICON));
    EnumChildWindows(window, PrintChild, reinterpret_cast<LPARAM>(window));
    return 0;
}
