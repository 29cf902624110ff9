#include "framework/WindowTarget.h"

#include "framework/Application.h"
#include "framework/Exceptions.h"
#include "framework/ProgramText.h"

#include <map>
#include <set>
#include <string>

void TWindowTarget::DefaultWindowProc(TMessage& message) {
    message.Result = DefWindowProcW(FWindowHandle, message.Msg, message.WParam, message.LParam);
}

HWND TWindowTarget::CreateBoundWindow(const char* className, const char* caption, DWORD style,
                                      DWORD exStyle, int x, int y, int width, int height,
                                      HWND parent) {
    HWND hwnd =
        CreateWindowExW(exStyle, ToWide(className).c_str(), ToWide(caption).c_str(), style, x, y,
                        width, height, parent, nullptr, GetModuleHandleA(nullptr), this);
    if (!hwnd)
        throw EOutOfResources("Error creating window (system error " +
                              std::to_string(GetLastError()) + ")");
    return hwnd;
}

// The windows are Unicode windows: the texts the system draws for them (the caption, a radio
// button's) are kept as UTF-16, so no code page stands between the program and the screen.
LRESULT CALLBACK FrameworkWindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    auto* target = reinterpret_cast<TWindowTarget*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == WM_NCCREATE) {
        target =
            static_cast<TWindowTarget*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(target));
        if (target) target->FWindowHandle = hwnd;
    }
    if (!target) return DefWindowProcW(hwnd, msg, wparam, lparam);

    TMessage message{msg, wparam, lparam, 0};
    try {
        target->WndProc(message);
    } catch (const std::exception& e) {
        Application().HandleException(e);
    } catch (...) {
        Application().HandleException(Exception("Unknown error"));
    }
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        target->FWindowHandle = nullptr;
        target->WindowDestroyed();
    }
    return message.Result;
}

void RegisterWindowClass(const char* className, UINT style, HBRUSH background, HICON icon) {
    static std::set<std::string> registered;
    if (!registered.insert(className).second) return;
    const std::wstring name = ToWide(className);
    WNDCLASSW wc{};
    wc.style = style;
    wc.lpfnWndProc = FrameworkWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hIcon = icon;
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = background;
    wc.lpszClassName = name.c_str();
    if (!RegisterClassW(&wc)) {
        registered.erase(className);
        throw EOutOfResources(std::string("Cannot register window class ") + className);
    }
}

WNDPROC RegisterSuperclass(const char* className, const char* systemClass) {
    static std::map<std::string, WNDPROC> registered;
    if (auto it = registered.find(className); it != registered.end()) return it->second;
    const std::wstring name = ToWide(className);
    WNDCLASSW wc{};
    if (!GetClassInfoW(nullptr, ToWide(systemClass).c_str(), &wc))
        throw EOutOfResources(std::string("The system has no window class ") + systemClass);
    // The Unicode procedure: the text it is handed and draws is UTF-16.
    const WNDPROC original = wc.lpfnWndProc;
    // Same class style, extra bytes, cursor and brush: only the procedure and name are ours.
    wc.lpfnWndProc = FrameworkWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = name.c_str();
    if (!RegisterClassW(&wc))
        throw EOutOfResources(std::string("Cannot register window class ") + className);
    registered.emplace(className, original);
    return original;
}

TUtilityWindow::TUtilityWindow(THandler handler) : FHandler(std::move(handler)) {
    RegisterWindowClass("TUtilityWindow");
    CreateBoundWindow("TUtilityWindow", "", 0, 0, 0, 0, 0, 0, HWND_MESSAGE);
}

TUtilityWindow::~TUtilityWindow() {
    if (WindowHandle()) DestroyWindow(WindowHandle());
}

void TUtilityWindow::WndProc(TMessage& message) {
    if (!FHandler || !FHandler(message)) DefaultWindowProc(message);
}
