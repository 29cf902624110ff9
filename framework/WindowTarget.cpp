#include "framework/WindowTarget.h"

#include "framework/Application.h"
#include "framework/Exceptions.h"

#include <map>
#include <set>
#include <string>

void TWindowTarget::DefaultWindowProc(TMessage& message) {
    message.Result = DefWindowProcA(FWindowHandle, message.Msg, message.WParam, message.LParam);
}

HWND TWindowTarget::CreateBoundWindow(const char* className, const char* caption, DWORD style,
                                      DWORD exStyle, int x, int y, int width, int height,
                                      HWND parent) {
    HWND hwnd = CreateWindowExA(exStyle, className, caption, style, x, y, width, height, parent,
                                nullptr, GetModuleHandleA(nullptr), this);
    if (!hwnd)
        throw EOutOfResources("Error creating window (system error " +
                              std::to_string(GetLastError()) + ")");
    return hwnd;
}

LRESULT CALLBACK FrameworkWindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    auto* target = reinterpret_cast<TWindowTarget*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (msg == WM_NCCREATE) {
        target =
            static_cast<TWindowTarget*>(reinterpret_cast<CREATESTRUCTA*>(lparam)->lpCreateParams);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(target));
        if (target) target->FWindowHandle = hwnd;
    }
    if (!target) return DefWindowProcA(hwnd, msg, wparam, lparam);

    TMessage message{msg, wparam, lparam, 0};
    try {
        target->WndProc(message);
    } catch (const std::exception& e) {
        Application().HandleException(e);
    } catch (...) {
        Application().HandleException(Exception("Unknown error"));
    }
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        target->FWindowHandle = nullptr;
        target->WindowDestroyed();
    }
    return message.Result;
}

void RegisterWindowClass(const char* className, UINT style, HBRUSH background, HICON icon) {
    static std::set<std::string> registered;
    if (!registered.insert(className).second) return;
    WNDCLASSA wc{};
    wc.style = style;
    wc.lpfnWndProc = FrameworkWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hIcon = icon;
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = background;
    wc.lpszClassName = className;
    if (!RegisterClassA(&wc)) {
        registered.erase(className);
        throw EOutOfResources(std::string("Cannot register window class ") + className);
    }
}

WNDPROC RegisterSuperclass(const char* className, const char* systemClass) {
    static std::map<std::string, WNDPROC> registered;
    if (auto it = registered.find(className); it != registered.end()) return it->second;
    WNDCLASSA wc{};
    if (!GetClassInfoA(nullptr, systemClass, &wc))
        throw EOutOfResources(std::string("The system has no window class ") + systemClass);
    const WNDPROC original = wc.lpfnWndProc;
    // Same class style, extra bytes, cursor and brush: only the procedure and name are ours.
    wc.lpfnWndProc = FrameworkWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = className;
    if (!RegisterClassA(&wc))
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
