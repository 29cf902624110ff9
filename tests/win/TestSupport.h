// Helpers shared by the Windows tests: pixels as "r,g,b" text (so a failure shows the
// colours), message pumping with a deadline, and the test in the system's place.
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

// Puts `replacement` where this program's calls of `dll`'s `function` go (its import address
// table: the program's own code still makes the call, the system's callers are untouched) and
// returns what was there, the system's function the first time. For what Wine cannot be made
// to answer as Windows would.
inline void* ReplaceImport(const char* dll, const char* function, void* replacement) {
    auto* const base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const DWORD table =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + table); d->Name; ++d) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + d->Name), dll) != 0) continue;
        auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (auto* name = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
             name->u1.AddressOfData; ++name, ++slot) {
            if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal) ||
                lstrcmpA(reinterpret_cast<const char*>(
                             reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData)
                                 ->Name),
                         function) != 0)
                continue;
            DWORD was;
            VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &was);
            void* const before = reinterpret_cast<void*>(slot->u1.Function);
            slot->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, was, &was);
            return before;
        }
    }
    return nullptr;
}
