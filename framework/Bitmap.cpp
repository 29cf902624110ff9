#include "framework/Bitmap.h"

#include "framework/Exceptions.h"

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
