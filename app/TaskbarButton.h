// What the program's taskbar button shows of a download: its progress (Windows 7 and later,
// ITaskbarList3), red when it failed, nothing once it is over; and a flash that asks for the
// user when a download failed behind other windows. Found when first used: a system without
// the taskbar's interface shows nothing.
#pragma once

#include <windows.h>

#include <cstdint>

class TTaskbarButton {
public:
    // The taskbar button of `window` (the window that carries the program's taskbar entry).
    explicit TTaskbarButton(HWND window) : FWindow(window) {}
    ~TTaskbarButton();
    TTaskbarButton(const TTaskbarButton&) = delete;
    TTaskbarButton& operator=(const TTaskbarButton&) = delete;

    // Downloading: `done` of `total` (total 0: not known yet).
    void Progress(uint64_t done, uint64_t total);
    // The download failed: the bar stays where it was, in the error colour.
    void Failed();
    // No download to show.
    void Clear();
    // Flashes the button until the user brings the program to the front.
    void Flash();

private:
    struct ITaskbarList3* List();

    HWND FWindow;
    struct ITaskbarList3* FList = nullptr;
    bool FAsked = false;
    bool FShowing = false;
};
