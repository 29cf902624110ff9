// TCanvas: drawing on a device context it does not own. Pen, brush and font are selected
// lazily, when a drawing call needs them; the context's state is saved when the canvas takes
// it and restored when the canvas lets it go, and the GDI objects the canvas built go with it.
#pragma once

#include "framework/GraphicsObjects.h"
#include "framework/Types.h"

#include <windows.h>

#include <string>

class TBitmap;

class TCanvas : public TObject {
public:
    TCanvas();
    explicit TCanvas(HDC dc);
    ~TCanvas() override;

    HDC Handle() const { return FHandle; }
    // Takes a device context (null lets the current one go, restoring its state).
    void SetHandle(HDC dc);

    TFont& Font() { return FFont; }
    TPen& Pen() { return FPen; }
    TBrush& Brush() { return FBrush; }

    void MoveTo(int x, int y);
    // A line from the pen position to (x, y), the end point excluded.
    void LineTo(int x, int y);
    TPoint PenPos() const { return FPenPos; }
    TColor Pixel(int x, int y);
    void SetPixel(int x, int y, TColor color);
    // Fills with the brush (right and bottom edges excluded).
    void FillRect(const TRect& rect);
    void CopyRect(const TRect& dest, TCanvas& source, const TRect& sourceRect);
    void Draw(int x, int y, TBitmap& bitmap);

    TSize TextExtent(const std::string& text);
    int TextWidth(const std::string& text) { return TextExtent(text).cx; }
    int TextHeight(const std::string& text) { return TextExtent(text).cy; }
    void TextOut(int x, int y, const std::string& text);
    // Text clipped to `rect`, the background filled unless the brush is clear.
    void TextRect(const TRect& rect, int x, int y, const std::string& text);
    // Texts are program texts (code page 936), drawn and measured through the Unicode calls.
    // The system's DrawText with the canvas's font; `rect` receives the measured rectangle
    // with DT_CALCRECT. Returns the text height.
    int DrawTextFormatted(const std::string& text, TRect& rect, UINT format);

    void ExcludeClipRect(const TRect& rect);
    void IntersectClipRect(const TRect& rect);
    // No clipping at all afterwards.
    void ClearClipRegion();

private:
    enum : unsigned { StateFont = 1, StatePen = 2, StateBrush = 4 };
    void RequireState(unsigned state);
    void Deselect(unsigned state);
    void ObjectChanged(unsigned state);

    HDC FHandle = nullptr;
    int FSavedState = 0;
    unsigned FState = 0;
    HGDIOBJ FOriginalFont = nullptr;
    HGDIOBJ FOriginalPen = nullptr;
    HGDIOBJ FOriginalBrush = nullptr;
    TPoint FPenPos;
    TFont FFont;
    TPen FPen;
    TBrush FBrush;
};

// Lends a device context to a canvas for one scope (a paint), and takes it back however the
// scope ends.
class TCanvasHandleScope {
public:
    TCanvasHandleScope(TCanvas& canvas, HDC dc) : FCanvas(canvas) { FCanvas.SetHandle(dc); }
    TCanvasHandleScope(const TCanvasHandleScope&) = delete;
    TCanvasHandleScope& operator=(const TCanvasHandleScope&) = delete;
    ~TCanvasHandleScope() { FCanvas.SetHandle(nullptr); }

private:
    TCanvas& FCanvas;
};

RECT ToRECT(const TRect& r);
TRect FromRECT(const RECT& r);
