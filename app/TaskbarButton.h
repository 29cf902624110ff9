// What the program's taskbar button shows of a download: its progress (Windows 7 and later,
// ITaskbarList3), red when it failed, nothing once it is over; and a flash that asks for the
// user when a download failed behind other windows. Found when first used: a system without
// the taskbar's interface shows nothing.
#pragma once

#include <windows.h>

#include <cstdint>

class TTaskbarButton {
public:
    virtual ~TTaskbarButton() = default;
    // Downloading: `done` of `total` (total 0: not known yet).
    virtual void Progress(uint64_t done, uint64_t total) = 0;
    // The download failed: the bar stays where it was, in the error colour.
    virtual void Failed() = 0;
    // No download to show.
    virtual void Clear() = 0;
    // Flashes the button until the user brings the program to the front.
    virtual void Flash() = 0;
};

// The taskbar button of `window` (the window that carries the program's taskbar entry).
class TWindowsTaskbarButton : public TTaskbarButton {
public:
    explicit TWindowsTaskbarButton(HWND window) : FWindow(window) {}
    ~TWindowsTaskbarButton() override;
    TWindowsTaskbarButton(const TWindowsTaskbarButton&) = delete;
    TWindowsTaskbarButton& operator=(const TWindowsTaskbarButton&) = delete;

    void Progress(uint64_t done, uint64_t total) override;
    void Failed() override;
    void Clear() override;
    void Flash() override;

private:
    struct ITaskbarList3* List();

    HWND FWindow;
    struct ITaskbarList3* FList = nullptr;
    bool FAsked = false;
    bool FShowing = false;
};
