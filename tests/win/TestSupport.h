// Helpers shared by the Windows tests: pixels as "r,g,b" text (so a failure shows the
// colours), and message pumping with a deadline.
#pragma once

#include "framework/Application.h"
#include "framework/Bitmap.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

inline std::string RgbText(TColor c) {
    c = ColorToRGB(c);
    return std::to_string(RedOf(c)) + "," + std::to_string(GreenOf(c)) + "," +
           std::to_string(BlueOf(c));
}

// The colour at (x, y) of a bitmap, as "r,g,b".
inline std::string PixelAt(TBitmap& bitmap, int x, int y) {
    return RgbText(bitmap.Canvas().Pixel(x, y));
}

// A bitmap filled with one colour, to draw on.
inline void FillBitmap(TBitmap& bitmap, TColor color) {
    bitmap.Canvas().Brush().SetColor(color);
    bitmap.Canvas().FillRect({0, 0, bitmap.Width(), bitmap.Height()});
}

// Has `window` paint its client area (background first) into `bitmap`, as a real paint would.
inline void PrintClient(HWND window, TBitmap& bitmap) {
    SendMessageA(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(bitmap.Canvas().Handle()),
                 PRF_CLIENT | PRF_ERASEBKGND);
}

// Has `window` and every window in it paint into `dc` (at the window's client origin), the
// children over their parent as the screen shows them. Each child paints into a bitmap of its
// own: Wine's system buttons clip to their client area in device coordinates.
inline void PrintTree(HWND window, HDC dc) {
    SendMessageW(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
    for (HWND child = GetWindow(GetWindow(window, GW_CHILD), GW_HWNDLAST); child;
         child = GetWindow(child, GW_HWNDPREV)) {
        RECT r;
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
        TBitmap own(r.right - r.left, r.bottom - r.top);
        PrintTree(child, own.Canvas().Handle());
        BitBlt(dc, r.left, r.top, own.Width(), own.Height(), own.Canvas().Handle(), 0, 0, SRCCOPY);
    }
}

// Dispatches messages until `done` holds or `timeoutMs` has passed; returns `done()`.
inline bool PumpUntil(const std::function<bool()>& done, unsigned timeoutMs) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs) return false;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

// The size of `text` in `font`, on the screen.
inline SIZE TextExtentIn(TFont& font, const std::string& text) {
    HDC dc = GetDC(nullptr);
    const HGDIOBJ old = SelectObject(dc, font.Handle());
    SIZE size{};
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    return size;
}
