#include "framework/Canvas.h"

#include "framework/Bitmap.h"
#include "framework/ProgramText.h"

RECT ToRECT(const TRect& r) {
    return {r.Left, r.Top, r.Right, r.Bottom};
}
TRect FromRECT(const RECT& r) {
    return {static_cast<int>(r.left), static_cast<int>(r.top), static_cast<int>(r.right),
            static_cast<int>(r.bottom)};
}

TCanvas::TCanvas() {
    FFont.OnChange = [this](TObject*) { ObjectChanged(StateFont); };
    FPen.OnChange = [this](TObject*) { ObjectChanged(StatePen); };
    FBrush.OnChange = [this](TObject*) { ObjectChanged(StateBrush); };
}

TCanvas::TCanvas(HDC dc) : TCanvas() {
    SetHandle(dc);
}

TCanvas::~TCanvas() {
    SetHandle(nullptr);
}

void TCanvas::SetHandle(HDC dc) {
    if (dc == FHandle) return;
    if (FHandle) {
        // Restoring the saved state deselects everything the canvas selected.
        RestoreDC(FHandle, FSavedState);
        FState = 0;
        FOriginalFont = FOriginalPen = FOriginalBrush = nullptr;
    }
    FHandle = dc;
    FSavedState = dc ? SaveDC(dc) : 0;
}

void TCanvas::ObjectChanged(unsigned state) {
    // The object is about to drop its GDI handle: take it out of the context first.
    if (FState & state) Deselect(state);
}

void TCanvas::Deselect(unsigned state) {
    if ((state & StateFont) && (FState & StateFont)) SelectObject(FHandle, FOriginalFont);
    if ((state & StatePen) && (FState & StatePen)) SelectObject(FHandle, FOriginalPen);
    if ((state & StateBrush) && (FState & StateBrush)) SelectObject(FHandle, FOriginalBrush);
    FState &= ~state;
}

void TCanvas::RequireState(unsigned state) {
    const unsigned needed = state & ~FState;
    if (needed & StateFont) {
        HGDIOBJ old = SelectObject(FHandle, FFont.Handle());
        if (!FOriginalFont) FOriginalFont = old;
        SetTextColor(FHandle, ColorToRGB(FFont.Color()));
    }
    if (needed & StatePen) {
        HGDIOBJ old = SelectObject(FHandle, FPen.Handle());
        if (!FOriginalPen) FOriginalPen = old;
    }
    if (needed & StateBrush) {
        HGDIOBJ old = SelectObject(FHandle, FBrush.Handle());
        if (!FOriginalBrush) FOriginalBrush = old;
        SetBkColor(FHandle, ColorToRGB(FBrush.Color()));
        SetBkMode(FHandle, FBrush.Style() == TBrushStyle::bsClear ? TRANSPARENT : OPAQUE);
    }
    FState |= needed;
}

void TCanvas::MoveTo(int x, int y) {
    MoveToEx(FHandle, x, y, nullptr);
    FPenPos = {x, y};
}

void TCanvas::LineTo(int x, int y) {
    RequireState(StatePen | StateBrush);
    ::LineTo(FHandle, x, y);
    FPenPos = {x, y};
}

TColor TCanvas::Pixel(int x, int y) {
    return static_cast<TColor>(GetPixel(FHandle, x, y));
}

void TCanvas::SetPixel(int x, int y, TColor color) {
    ::SetPixel(FHandle, x, y, ColorToRGB(color));
}

void TCanvas::FillRect(const TRect& rect) {
    RequireState(StateBrush);
    const RECT r = ToRECT(rect);
    ::FillRect(FHandle, &r, FBrush.Handle());
}

void TCanvas::CopyRect(const TRect& dest, TCanvas& source, const TRect& sourceRect) {
    if (dest.Width() == sourceRect.Width() && dest.Height() == sourceRect.Height())
        BitBlt(FHandle, dest.Left, dest.Top, dest.Width(), dest.Height(), source.Handle(),
               sourceRect.Left, sourceRect.Top, SRCCOPY);
    else
        StretchBlt(FHandle, dest.Left, dest.Top, dest.Width(), dest.Height(), source.Handle(),
                   sourceRect.Left, sourceRect.Top, sourceRect.Width(), sourceRect.Height(),
                   SRCCOPY);
}

void TCanvas::Draw(int x, int y, TBitmap& bitmap) {
    BitBlt(FHandle, x, y, bitmap.Width(), bitmap.Height(), bitmap.Canvas().Handle(), 0, 0, SRCCOPY);
}

TSize TCanvas::TextExtent(const std::string& text) {
    RequireState(StateFont);
    SIZE size{};
    const std::wstring wide = ToWide(text);
    GetTextExtentPoint32W(FHandle, wide.c_str(), static_cast<int>(wide.size()), &size);
    return {static_cast<int>(size.cx), static_cast<int>(size.cy)};
}

void TCanvas::TextOut(int x, int y, const std::string& text) {
    RequireState(StateFont | StateBrush);
    const UINT options = FBrush.Style() == TBrushStyle::bsClear ? 0 : ETO_OPAQUE;
    const std::wstring wide = ToWide(text);
    ExtTextOutW(FHandle, x, y, options, nullptr, wide.c_str(), static_cast<UINT>(wide.size()),
                nullptr);
}

void TCanvas::TextRect(const TRect& rect, int x, int y, const std::string& text) {
    RequireState(StateFont | StateBrush);
    const RECT r = ToRECT(rect);
    UINT options = ETO_CLIPPED;
    if (FBrush.Style() != TBrushStyle::bsClear) options |= ETO_OPAQUE;
    const std::wstring wide = ToWide(text);
    ExtTextOutW(FHandle, x, y, options, &r, wide.c_str(), static_cast<UINT>(wide.size()), nullptr);
}

int TCanvas::DrawTextFormatted(const std::string& text, TRect& rect, UINT format) {
    RequireState(StateFont | StateBrush);
    RECT r = ToRECT(rect);
    std::wstring wide = ToWide(text);
    const int height = ::DrawTextW(FHandle, wide.data(), static_cast<int>(wide.size()), &r, format);
    if (format & DT_CALCRECT) rect = FromRECT(r);
    return height;
}

void TCanvas::ExcludeClipRect(const TRect& rect) {
    ::ExcludeClipRect(FHandle, rect.Left, rect.Top, rect.Right, rect.Bottom);
}

void TCanvas::IntersectClipRect(const TRect& rect) {
    ::IntersectClipRect(FHandle, rect.Left, rect.Top, rect.Right, rect.Bottom);
}

void TCanvas::ClearClipRegion() {
    SelectClipRgn(FHandle, nullptr);
}
