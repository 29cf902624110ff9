#include "framework/GraphicsObjects.h"

#include "framework/Bitmap.h"
#include "framework/Exceptions.h"
#include "framework/ProgramText.h"

#include <cstddef>
#include <cstring>

void TGraphicsObject::Changed() {
    const TGdiObject<HGDIOBJ> old(ReleaseHandle());
    if (OnChange) OnChange(this);
}

// ---- TFont

TFont::TFont() = default;

int TFont::ScreenPixelsPerInch() {
    static const int ppi = [] {
        HDC dc = GetDC(nullptr);
        const int v = GetDeviceCaps(dc, LOGPIXELSY);
        ReleaseDC(nullptr, dc);
        return v > 0 ? v : 96;
    }();
    return ppi;
}

void TFont::SetName(const std::string& name) {
    if (name == FName) return;
    FName = name;
    Changed();
}

void TFont::SetHeight(int height) {
    if (height == FHeight) return;
    FHeight = height;
    Changed();
}

int TFont::Size() const {
    return MulDiv(-FHeight, 72, ScreenPixelsPerInch());
}

void TFont::SetSize(int points) {
    SetHeight(-MulDiv(points, ScreenPixelsPerInch(), 72));
}

void TFont::SetStyle(TFontStyles style) {
    if (style == FStyle) return;
    FStyle = style;
    Changed();
}

void TFont::SetColor(TColor color) {
    if (color == FColor) return;
    FColor = color;
    // The colour is the canvas's text colour, not part of the GDI font: the handle (maybe
    // one taken over) stays.
    if (OnChange) OnChange(this);
}

void TFont::SetCharset(uint8_t charset) {
    if (charset == FCharset) return;
    FCharset = charset;
    Changed();
}

void TFont::SetPitch(TFontPitch pitch) {
    if (pitch == FPitch) return;
    FPitch = pitch;
    Changed();
}

void TFont::SetOrientation(int tenths) {
    if (tenths == FOrientation) return;
    FOrientation = tenths;
    Changed();
}

bool TFont::SameAs(const TFont& o) const {
    return FName == o.FName && FHeight == o.FHeight && FStyle == o.FStyle && FColor == o.FColor &&
           FCharset == o.FCharset && FPitch == o.FPitch && FOrientation == o.FOrientation;
}

void TFont::Assign(const TFont& source) {
    if (&source == this || SameAs(source)) return;
    FName = source.FName;
    FHeight = source.FHeight;
    FStyle = source.FStyle;
    FColor = source.FColor;
    FCharset = source.FCharset;
    FPitch = source.FPitch;
    FOrientation = source.FOrientation;
    Changed();
}

void TFont::GetLogFont(LOGFONTA& lf) const {
    std::memset(&lf, 0, sizeof lf);
    lf.lfHeight = FHeight;
    lf.lfEscapement = FOrientation;
    lf.lfOrientation = FOrientation;
    lf.lfWeight = (FStyle & fsBold) ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = (FStyle & fsItalic) ? 1 : 0;
    lf.lfUnderline = (FStyle & fsUnderline) ? 1 : 0;
    lf.lfStrikeOut = (FStyle & fsStrikeOut) ? 1 : 0;
    lf.lfCharSet = FCharset;
    lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
    lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    lf.lfQuality = DEFAULT_QUALITY;
    lf.lfPitchAndFamily = FPitch == TFontPitch::fpFixed      ? FIXED_PITCH
                          : FPitch == TFontPitch::fpVariable ? VARIABLE_PITCH
                                                             : DEFAULT_PITCH;
    lstrcpynA(lf.lfFaceName, FName.c_str(), LF_FACESIZE);
}

void TFont::GetLogFont(LOGFONTW& lf) const {
    LOGFONTA narrow;
    GetLogFont(narrow);
    std::memcpy(&lf, &narrow, offsetof(LOGFONTA, lfFaceName));
    std::memset(lf.lfFaceName, 0, sizeof lf.lfFaceName);
    const std::wstring face = ToWide(FName);
    lf.lfCharSet = CharsetForSystem(FCharset, face);
    lstrcpynW(lf.lfFaceName, FontFaceForSystem(face).c_str(), LF_FACESIZE);
}

HFONT TFont::Handle() {
    if (!FHandle) {
        LOGFONTW lf;
        GetLogFont(lf);
        FHandle.Reset(CreateFontIndirectW(&lf));
        if (!FHandle) throw EOutOfResources("Cannot create font " + FName);
    }
    return FHandle.Get();
}

void TFont::SetHandle(HFONT handle) {
    if (handle && handle == FHandle.Get()) return;
    LOGFONTW lf{};
    if (!handle || !GetObjectW(handle, sizeof lf, &lf)) {
        if (handle) DeleteObject(handle);
        throw EOutOfResources("Cannot create font " + FName);
    }
    FName = FromWide(lf.lfFaceName);
    FHeight = lf.lfHeight;
    FStyle = 0;
    if (lf.lfWeight >= FW_BOLD) FStyle |= fsBold;
    if (lf.lfItalic) FStyle |= fsItalic;
    if (lf.lfUnderline) FStyle |= fsUnderline;
    if (lf.lfStrikeOut) FStyle |= fsStrikeOut;
    FCharset = lf.lfCharSet;
    const int pitch = lf.lfPitchAndFamily & 3;
    FPitch = pitch == FIXED_PITCH      ? TFontPitch::fpFixed
             : pitch == VARIABLE_PITCH ? TFontPitch::fpVariable
                                       : TFontPitch::fpDefault;
    FOrientation = lf.lfEscapement;
    Changed();
    FHandle.Reset(handle);
}

// ---- TPen

void TPen::SetColor(TColor color) {
    if (color == FColor) return;
    FColor = color;
    Changed();
}

void TPen::SetWidth(int width) {
    if (width == FWidth) return;
    FWidth = width;
    Changed();
}

void TPen::SetStyle(TPenStyle style) {
    if (style == FStyle) return;
    FStyle = style;
    Changed();
}

HPEN TPen::Handle() {
    if (!FHandle) {
        static const int styles[] = {PS_SOLID, PS_DASH, PS_DOT, PS_DASHDOT, PS_DASHDOTDOT, PS_NULL};
        FHandle.Reset(CreatePen(styles[static_cast<int>(FStyle)], FWidth, ColorToRGB(FColor)));
        if (!FHandle) throw EOutOfResources("Cannot create pen");
    }
    return FHandle.Get();
}

// ---- TBrush

void TBrush::SetColor(TColor color) {
    if (color == FColor && FStyle == TBrushStyle::bsSolid) return;
    FColor = color;
    // A colour makes a clear brush solid again.
    FStyle = TBrushStyle::bsSolid;
    Changed();
}

void TBrush::SetStyle(TBrushStyle style) {
    if (style == FStyle) return;
    FStyle = style;
    Changed();
}

void TBrush::SetBitmap(TBitmap* bitmap) {
    if (bitmap == FBitmap) return;
    FBitmap = bitmap;
    Changed();
}

HBRUSH TBrush::Handle() {
    if (!FHandle) {
        if (FBitmap)
            FHandle.Reset(CreatePatternBrush(FBitmap->Handle()));
        else if (FStyle == TBrushStyle::bsClear)
            return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
        else
            FHandle.Reset(CreateSolidBrush(ColorToRGB(FColor)));
        if (!FHandle) throw EOutOfResources("Cannot create brush");
    }
    return FHandle.Get();
}
