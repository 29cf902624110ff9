// Move-only owners of GDI objects and a guard that restores a device context's state.
// An owner that could be copied would free its object twice; hence no copies.
#pragma once

#include <windows.h>

#include <utility>

template <typename Handle> class TGdiObject {
public:
    TGdiObject() = default;
    explicit TGdiObject(Handle h) : FHandle(h) {}
    TGdiObject(const TGdiObject&) = delete;
    TGdiObject& operator=(const TGdiObject&) = delete;
    TGdiObject(TGdiObject&& other) noexcept : FHandle(std::exchange(other.FHandle, nullptr)) {}
    TGdiObject& operator=(TGdiObject&& other) noexcept {
        if (this != &other) Reset(std::exchange(other.FHandle, nullptr));
        return *this;
    }
    ~TGdiObject() { Reset(); }

    Handle Get() const { return FHandle; }
    explicit operator bool() const { return FHandle != nullptr; }
    void Reset(Handle h = nullptr) {
        if (FHandle) DeleteObject(FHandle);
        FHandle = h;
    }
    Handle Release() { return std::exchange(FHandle, nullptr); }

private:
    Handle FHandle = nullptr;
};

using TOwnedPen = TGdiObject<HPEN>;
using TOwnedBrush = TGdiObject<HBRUSH>;
using TOwnedFont = TGdiObject<HFONT>;
using TOwnedBitmap = TGdiObject<HBITMAP>;
using TOwnedRegion = TGdiObject<HRGN>;

// A memory device context, deleted with its owner.
class TOwnedDC {
public:
    TOwnedDC() = default;
    explicit TOwnedDC(HDC dc) : FDC(dc) {}
    TOwnedDC(const TOwnedDC&) = delete;
    TOwnedDC& operator=(const TOwnedDC&) = delete;
    TOwnedDC(TOwnedDC&& other) noexcept : FDC(std::exchange(other.FDC, nullptr)) {}
    TOwnedDC& operator=(TOwnedDC&& other) noexcept {
        if (this != &other) {
            Reset();
            FDC = std::exchange(other.FDC, nullptr);
        }
        return *this;
    }
    ~TOwnedDC() { Reset(); }
    HDC Get() const { return FDC; }
    void Reset() {
        if (FDC) DeleteDC(FDC);
        FDC = nullptr;
    }

private:
    HDC FDC = nullptr;
};

// Saves a device context's whole state (selections, clip region, origins, modes) and
// restores it when it goes out of scope.
class TDCStateGuard {
public:
    explicit TDCStateGuard(HDC dc) : FDC(dc), FSaved(dc ? SaveDC(dc) : 0) {}
    TDCStateGuard(const TDCStateGuard&) = delete;
    TDCStateGuard& operator=(const TDCStateGuard&) = delete;
    ~TDCStateGuard() {
        if (FSaved) RestoreDC(FDC, FSaved);
    }

private:
    HDC FDC;
    int FSaved;
};
