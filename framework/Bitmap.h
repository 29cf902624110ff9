// TBitmap: a 32-bit top-down DIB section held in a memory device context, with a canvas of
// its own for drawing on it. A bitmap drawn with a colour left out leaves out the colour of its
// bottom-left pixel (TransparentColor).
#pragma once

#include "framework/Canvas.h"
#include "framework/GdiObjects.h"

#include <cstdint>

class TBitmap : public TObject {
public:
    TBitmap() = default;
    TBitmap(int width, int height) { SetSize(width, height); }
    ~TBitmap() override;

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    bool Empty() const { return FWidth == 0 || FHeight == 0; }
    // A new, black bitmap of that size (the old contents are dropped).
    void SetSize(int width, int height);
    // Takes a copy of `source`'s size and pixels (an empty source empties this bitmap).
    void Assign(const TBitmap& source);
    // Reads the bitmap resource `name` of `instance`; false (and an empty bitmap) when there
    // is none.
    bool LoadFromResourceName(HINSTANCE instance, const char* name);
    // The colour a transparent drawing leaves out: that of the bottom-left pixel (clNone for
    // an empty bitmap).
    TColor TransparentColor() const;
    HBITMAP Handle() const { return FBitmap.Get(); }
    TCanvas& Canvas() { return FCanvas; }
    // Direct access to pixel (x, y) as 0x00RRGGBB (the DIB's own order).
    uint32_t* ScanLine(int y) {
        GdiFlush(); // drawing calls may still be batched
        return FBits + static_cast<size_t>(y) * FWidth;
    }
    const uint32_t* ScanLine(int y) const {
        GdiFlush();
        return FBits + static_cast<size_t>(y) * FWidth;
    }

private:
    void Free();

    int FWidth = 0;
    int FHeight = 0;
    uint32_t* FBits = nullptr;
    TOwnedBitmap FBitmap;
    TOwnedDC FDC;
    HGDIOBJ FOriginalBitmap = nullptr;
    TCanvas FCanvas;
};
