// The framework's one window procedure. Every system window the framework creates is bound
// to a TWindowTarget when the window is created and forwards each message to its virtual
// WndProc; any exception a handler throws is handed to the application's error box and never
// crosses into the system.
#pragma once

#include "framework/Messages.h"

#include <windows.h>

#include <functional>

class TWindowTarget {
public:
    TWindowTarget() = default;
    TWindowTarget(const TWindowTarget&) = delete;
    TWindowTarget& operator=(const TWindowTarget&) = delete;
    virtual ~TWindowTarget() = default;

    HWND WindowHandle() const { return FWindowHandle; }

    // Picks a handler by message number; what no handler takes goes to DefaultWindowProc.
    virtual void WndProc(TMessage& message) = 0;

protected:
    // The system's default processing of a message for this window.
    virtual void DefaultWindowProc(TMessage& message);
    // The window is gone (after WM_NCDESTROY); the handle is already cleared.
    virtual void WindowDestroyed() {}

    // Creates a window of a class registered with RegisterWindowClass, bound to this target;
    // `caption` is a program text (code page 936).
    HWND CreateBoundWindow(const char* className, const char* caption, DWORD style, DWORD exStyle,
                           int x, int y, int width, int height, HWND parent);

private:
    friend LRESULT CALLBACK FrameworkWindowProc(HWND, UINT, WPARAM, LPARAM);
    HWND FWindowHandle = nullptr;
};

LRESULT CALLBACK FrameworkWindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);

// Registers (once per process) a window class whose procedure is FrameworkWindowProc.
void RegisterWindowClass(const char* className, UINT style = 0, HBRUSH background = nullptr,
                         HICON icon = nullptr);

// Registers (once per process) a class named `className` that is the system's `systemClass`
// (a button, a progress bar) with FrameworkWindowProc in front; returns the system class's own
// procedure (its Unicode one, for CallWindowProcW), which gets every message the framework
// leaves alone.
WNDPROC RegisterSuperclass(const char* className, const char* systemClass);

// A hidden message-only window whose messages go to a callable (timers, notifications). The
// callable returns whether it handled the message; the rest get the default processing.
class TUtilityWindow : public TWindowTarget {
public:
    using THandler = std::function<bool(TMessage&)>;
    explicit TUtilityWindow(THandler handler);
    ~TUtilityWindow() override;
    void WndProc(TMessage& message) override;

private:
    THandler FHandler;
};
