// TFont, TPen and TBrush: drawing attributes that build their GDI object on demand. Each
// announces a change through OnChange before it lets its old GDI object go, so that a canvas
// holding it selected can put it aside first.
#pragma once

#include "framework/Colors.h"
#include "framework/GdiObjects.h"
#include "framework/Object.h"

#include <windows.h>

#include <cstdint>
#include <string>

class TGraphicsObject : public TObject {
public:
    TNotifyEvent OnChange;

protected:
    // Drops the GDI object so that the next use builds a fresh one, and tells the listener.
    // The old object outlives the notice, so that a canvas holding it selected can put it
    // aside, while a listener that asks for the handle already gets the new one.
    void Changed();
    // Gives up the GDI object (null when there is none) to the caller.
    virtual HGDIOBJ ReleaseHandle() = 0;
};

enum TFontStyle : uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = uint8_t;

enum class TFontPitch { fpDefault, fpVariable, fpFixed };

class TFont : public TGraphicsObject {
public:
    TFont();

    const std::string& Name() const { return FName; }
    void SetName(const std::string& name);
    // Negative: character height in pixels; positive: cell height.
    int Height() const { return FHeight; }
    void SetHeight(int height);
    // In points, at the screen's pixels per inch.
    int Size() const;
    void SetSize(int points);
    TFontStyles Style() const { return FStyle; }
    void SetStyle(TFontStyles style);
    TColor Color() const { return FColor; }
    void SetColor(TColor color);
    uint8_t Charset() const { return FCharset; }
    void SetCharset(uint8_t charset);
    TFontPitch Pitch() const { return FPitch; }
    void SetPitch(TFontPitch pitch);
    // Rotation in tenths of a degree, counter-clockwise.
    int Orientation() const { return FOrientation; }
    void SetOrientation(int tenths);

    // Takes every attribute of `source`; one change notification.
    void Assign(const TFont& source);
    bool SameAs(const TFont& other) const;

    void GetLogFont(LOGFONTA& lf) const;
    // The same for the Unicode calls: the face name as the system knows it, whatever its
    // code page (FontFaceForSystem).
    void GetLogFont(LOGFONTW& lf) const;
    HFONT Handle();
    // Takes over a font made elsewhere (for a description the attributes cannot express in
    // full); the attributes are read back from it (the face name as a program text), its
    // escapement as the orientation. The
    // font owns the handle from then on, until an attribute other than the colour changes.
    void SetHandle(HFONT handle);

    static int ScreenPixelsPerInch();

protected:
    HGDIOBJ ReleaseHandle() override { return FHandle.Release(); }

private:
    std::string FName = "MS Sans Serif";
    int FHeight = -11;
    TFontStyles FStyle = 0;
    TColor FColor = clWindowText;
    uint8_t FCharset = DEFAULT_CHARSET;
    TFontPitch FPitch = TFontPitch::fpDefault;
    int FOrientation = 0;
    TOwnedFont FHandle;
};

enum class TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear };

class TPen : public TGraphicsObject {
public:
    TColor Color() const { return FColor; }
    void SetColor(TColor color);
    int Width() const { return FWidth; }
    void SetWidth(int width);
    TPenStyle Style() const { return FStyle; }
    void SetStyle(TPenStyle style);
    HPEN Handle();

protected:
    HGDIOBJ ReleaseHandle() override { return FHandle.Release(); }

private:
    TColor FColor = clBlack;
    int FWidth = 1;
    TPenStyle FStyle = TPenStyle::psSolid;
    TOwnedPen FHandle;
};

enum class TBrushStyle { bsSolid, bsClear };

class TBitmap;

class TBrush : public TGraphicsObject {
public:
    TColor Color() const { return FColor; }
    void SetColor(TColor color);
    TBrushStyle Style() const { return FStyle; }
    void SetStyle(TBrushStyle style);
    // A pattern bitmap replaces the colour while set (not owned; null to clear).
    TBitmap* Bitmap() const { return FBitmap; }
    void SetBitmap(TBitmap* bitmap);
    HBRUSH Handle();

protected:
    HGDIOBJ ReleaseHandle() override { return FHandle.Release(); }

private:
    TColor FColor = clWhite;
    TBrushStyle FStyle = TBrushStyle::bsSolid;
    TBitmap* FBitmap = nullptr;
    TOwnedBrush FHandle;
};
