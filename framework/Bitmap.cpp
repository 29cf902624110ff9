#include "framework/Bitmap.h"

#include "framework/Exceptions.h"

#include <algorithm>

TBitmap::~TBitmap() {
    Free();
}

void TBitmap::Free() {
    FCanvas.SetHandle(nullptr);
    if (FDC.Get() && FOriginalBitmap) SelectObject(FDC.Get(), FOriginalBitmap);
    FOriginalBitmap = nullptr;
    FDC.Reset();
    FBitmap.Reset();
    FBits = nullptr;
    FWidth = FHeight = 0;
}

void TBitmap::SetSize(int width, int height) {
    Free();
    if (width <= 0 || height <= 0) return;
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height; // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    FBitmap.Reset(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    FDC = TOwnedDC(CreateCompatibleDC(nullptr));
    if (!FBitmap || !FDC.Get()) {
        Free();
        throw EOutOfResources("Cannot create a bitmap of " + std::to_string(width) + " x " +
                              std::to_string(height));
    }
    FBits = static_cast<uint32_t*>(bits);
    FWidth = width;
    FHeight = height;
    FOriginalBitmap = SelectObject(FDC.Get(), FBitmap.Get());
    FCanvas.SetHandle(FDC.Get());
}

void TBitmap::Assign(const TBitmap& source) {
    if (&source == this) return;
    SetSize(source.FWidth, source.FHeight);
    for (int y = 0; y < FHeight; ++y)
        std::copy_n(source.ScanLine(y), FWidth, FBits + static_cast<size_t>(y) * FWidth);
}

bool TBitmap::LoadFromResourceName(HINSTANCE instance, const char* name) {
    SetSize(0, 0);
    TOwnedBitmap loaded(
        static_cast<HBITMAP>(LoadImageA(instance, name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    if (!loaded) return false;
    BITMAP info{};
    GetObjectA(loaded.Get(), sizeof info, &info);
    SetSize(info.bmWidth, info.bmHeight < 0 ? -info.bmHeight : info.bmHeight);
    TOwnedDC source(CreateCompatibleDC(nullptr));
    HGDIOBJ old = SelectObject(source.Get(), loaded.Get());
    BitBlt(FDC.Get(), 0, 0, FWidth, FHeight, source.Get(), 0, 0, SRCCOPY);
    SelectObject(source.Get(), old);
    return !Empty();
}

TColor TBitmap::TransparentColor() const {
    if (Empty()) return clNone;
    const uint32_t pixel = ScanLine(FHeight - 1)[0];
    return RGBColor((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
}
