#include "controls/RzFrames.h"

#include "controls/RzColorMath.h"
#include "controls/RzGraphics.h"

namespace {

bool ComputeFullColorScreen() {
    HDC dc = GetDC(nullptr);
    const bool full = GetDeviceCaps(dc, NUMCOLORS) == -1;
    ReleaseDC(nullptr, dc);
    return full;
}

bool Has(TSides sides, TSides side) {
    return (sides & side) != 0;
}

void Line(TCanvas& canvas, int x1, int y1, int x2, int y2) {
    canvas.MoveTo(x1, y1);
    canvas.LineTo(x2, y2);
}

// Each chosen side moved in by `by` pixels.
TRect Shrink(const TRect& r, TSides sides, int by) {
    TRect out = r;
    if (Has(sides, sdLeft)) out.Left += by;
    if (Has(sides, sdTop)) out.Top += by;
    if (Has(sides, sdRight)) out.Right -= by;
    if (Has(sides, sdBottom)) out.Bottom -= by;
    return out;
}

struct TRingColors {
    TColor UpperLeft, LowerRight;
};

TRect TwoRings(TCanvas& canvas, const TRect& rect, TSides sides, TRingColors outer,
               TRingColors inner) {
    TRect r = DrawFrameRings(canvas, rect, outer.UpperLeft, sides, 1, outer.LowerRight);
    return DrawFrameRings(canvas, r, inner.UpperLeft, sides, 1, inner.LowerRight);
}

} // namespace

bool FullColorScreen = ComputeFullColorScreen();

TRect DrawFrameLines(TCanvas& canvas, const TRect& rect, TColor upperLeft, TSides sides,
                     TColor lowerRight) {
    const auto [L, T, R, B] = rect;
    if (upperLeft != clNone) {
        canvas.Pen().SetColor(upperLeft);
        if (Has(sides, sdLeft)) Line(canvas, L, T, L, B);
        if (Has(sides, sdTop)) Line(canvas, L, T, R, T);
    }
    // Drawn second, so the lower-right colour owns the corners (R-1, T) and (L, B-1).
    if (lowerRight != clNone) {
        canvas.Pen().SetColor(lowerRight);
        if (Has(sides, sdRight)) Line(canvas, R - 1, T, R - 1, B);
        if (Has(sides, sdBottom)) Line(canvas, L, B - 1, R, B - 1);
    }
    return Shrink(rect, sides, 1);
}

TRect DrawFrameRings(TCanvas& canvas, const TRect& rect, TColor upperLeft, TSides sides, int count,
                     TColor lowerRight) {
    if (count <= 0) return rect;
    canvas.Pen().SetWidth(1);
    TRect r = rect;
    for (int i = 0; i < count; ++i)
        r = DrawFrameLines(canvas, r, upperLeft, sides, lowerRight);
    return r;
}

TRect DrawThreeDFrame(TCanvas& canvas, const TRect& rect, bool sunken, TSides sides) {
    if (sunken)
        return TwoRings(canvas, rect, sides, {clBtnShadow, clBtnHighlight},
                        {cl3DDkShadow, cl3DLight});
    return TwoRings(canvas, rect, sides, {cl3DLight, cl3DDkShadow}, {clBtnHighlight, clBtnShadow});
}

TRect DrawPushFrame(TCanvas& canvas, const TRect& rect, bool down, TSides sides) {
    if (down)
        return TwoRings(canvas, rect, sides, {clBtnText, clBtnText}, {clBtnShadow, clBtnShadow});
    return TwoRings(canvas, rect, sides, {clBtnHighlight, cl3DDkShadow}, {cl3DLight, clBtnShadow});
}

TRect DrawTintedPushFrame(TCanvas& canvas, const TRect& rect, TColor base, TSides sides,
                          bool down) {
    if (down) {
        const TColor dk100 = DimColor(base, 100);
        const TColor dk50 = DimColor(base, 50);
        return TwoRings(canvas, rect, sides, {dk100, dk100}, {dk50, dk50});
    }
    return TwoRings(canvas, rect, sides, {BrightenColor(base, 100), DimColor(base, 100)},
                    {BrightenColor(base, 40), DimColor(base, 50)});
}

TRect DrawEtchedRings(TCanvas& canvas, const TRect& rect, TColor upper, TColor lower,
                      TSides sides) {
    const auto [L, T, R, B] = rect;
    const bool left = Has(sides, sdLeft), top = Has(sides, sdTop);
    const bool right = Has(sides, sdRight), bottom = Has(sides, sdBottom);
    // Where a side is missing, the two offset rings would leave a notch at the corner.
    if (right) canvas.SetPixel(R - 1, T, lower);
    if (top && !right) canvas.SetPixel(R - 1, T, upper);
    if (bottom) canvas.SetPixel(L, B - 1, lower);
    if (left && !bottom) canvas.SetPixel(L, B - 1, upper);
    if (top && !left) canvas.SetPixel(L, T + 1, lower);
    if (left && !top) canvas.SetPixel(L + 1, T, lower);
    if (bottom && !right) canvas.SetPixel(R - 1, B - 2, upper);
    if (right && !bottom) canvas.SetPixel(R - 2, B - 1, upper);
    DrawFrameLines(canvas, {L + 1, T + 1, R, B}, lower, sides, lower);
    DrawFrameLines(canvas, {L, T, R - 1, B - 1}, upper, sides, upper);
    return Shrink(rect, sides, 2);
}

TRect DrawStyledFrame(TCanvas& canvas, const TRect& rect, TFrameStyle style, TSides sides) {
    switch (style) {
    case fsFlat:
        return DrawFrameRings(canvas, rect, cl3DDkShadow, sides, 1, cl3DDkShadow);
    case fsGroove:
        return DrawEtchedRings(canvas, rect, clBtnShadow, clBtnHighlight, sides);
    case fsBump:
        return DrawEtchedRings(canvas, rect, clBtnHighlight, clBtnShadow, sides);
    case fsLowered:
        return DrawThreeDFrame(canvas, rect, true, sides);
    case fsButtonDown:
        return DrawPushFrame(canvas, rect, true, sides);
    case fsRaised:
        return DrawThreeDFrame(canvas, rect, false, sides);
    case fsButtonUp:
        return DrawPushFrame(canvas, rect, false, sides);
    case fsStatus:
        return DrawFrameRings(canvas, rect, clBtnShadow, sides, 1, clBtnHighlight);
    case fsPopup:
        return DrawFrameRings(canvas, rect, clBtnHighlight, sides, 1, clBtnShadow);
    case fsFlatBold:
        return DrawFrameRings(canvas, rect, clBtnShadow, sides, 2, clBtnShadow);
    default:
        return rect;
    }
}

TRect DrawTintedStyledFrame(TCanvas& canvas, const TRect& rect, TColor base, TSides sides,
                            TFrameStyleEx style) {
    if (style == fsNone) return rect;
    const TColor dk50 = DimColor(base, 50);
    switch (style) {
    case fsFlat:
        return DrawFrameRings(canvas, rect, dk50, sides, 1, dk50);
    case fsGroove:
        return DrawEtchedRings(canvas, rect, dk50, BrightenColor(base, 100), sides);
    case fsBump:
    case fsFlatRounded:
        return DrawEtchedRings(canvas, rect, BrightenColor(base, 100), dk50, sides);
    case fsLowered:
        return TwoRings(canvas, rect, sides, {dk50, BrightenColor(base, 100)},
                        {DimColor(base, 100), BrightenColor(base, 50)});
    case fsRaised:
        return TwoRings(canvas, rect, sides, {BrightenColor(base, 50), DimColor(base, 100)},
                        {BrightenColor(base, 100), dk50});
    case fsButtonDown:
        return DrawTintedPushFrame(canvas, rect, base, sides, true);
    case fsButtonUp:
        return DrawTintedPushFrame(canvas, rect, base, sides, false);
    case fsStatus:
        return DrawFrameRings(canvas, rect, dk50, sides, 1, BrightenColor(base, 100));
    case fsPopup:
        return DrawFrameRings(canvas, rect, BrightenColor(base, 100), sides, 1, dk50);
    case fsFlatBold:
        return DrawFrameRings(canvas, rect, dk50, sides, 2, dk50);
    default:
        return rect;
    }
}

TRect DrawDottedFocusFrame(TCanvas& canvas, const TRect& rect, TColor color) {
    const auto [L, T, R, B] = rect;
    for (int y = T + 1; y < B; y += 2) {
        canvas.SetPixel(L, y, color);
        canvas.SetPixel(R - 1, y, color);
    }
    for (int x = L + 1; x < R; x += 2) {
        canvas.SetPixel(x, T, color);
        canvas.SetPixel(x, B - 1, color);
    }
    return rect.Inflated(-1, -1);
}

TRect DrawRoundCornerFrame(TCanvas& canvas, const TRect& rect, TColor color, TSides sides) {
    const auto [L, T, R, B] = rect;
    const bool left = Has(sides, sdLeft), top = Has(sides, sdTop);
    const bool right = Has(sides, sdRight), bottom = Has(sides, sdBottom);
    canvas.Pen().SetColor(color);
    const int vTop = top ? T + 2 : T, vBottom = bottom ? B - 2 : B;
    const int hLeft = left ? L + 2 : L, hRight = right ? R - 2 : R;
    if (left) Line(canvas, L, vTop, L, vBottom);
    if (top) Line(canvas, hLeft, T, hRight, T);
    if (right) Line(canvas, R - 1, vTop, R - 1, vBottom);
    if (bottom) Line(canvas, hLeft, B - 1, hRight, B - 1);
    // One pixel inside each corner whose two sides are drawn rounds it off.
    if (left && top) canvas.SetPixel(L + 1, T + 1, color);
    if (top && right) canvas.SetPixel(R - 2, T + 1, color);
    if (right && bottom) canvas.SetPixel(R - 2, B - 2, color);
    if (bottom && left) canvas.SetPixel(L + 1, B - 2, color);
    return Shrink(rect, sides, 2);
}

namespace {

// One layer of a control border in a given style; `inner` selects the inner layer's
// variants (the inner layer is the last one).
TRect BorderLayer(TCanvas& canvas, const TRect& rect, TFrameStyleEx style,
                  const TControlBorderLook& look, TColor flat, bool inner) {
    const TSides sides = look.Sides;
    switch (style) {
    case fsFlat:
        if (inner && look.RoundedFlat) {
            const auto [L, T, R, B] = rect;
            canvas.Pen().SetWidth(1);
            canvas.Pen().SetColor(flat);
            Line(canvas, L, T + 1, L, B - 1);
            Line(canvas, L + 1, T, R - 1, T);
            Line(canvas, R - 1, T + 1, R - 1, B - 1);
            Line(canvas, L + 1, B - 1, R - 1, B - 1);
            return rect.Inflated(-1, -1);
        }
        return DrawFrameRings(canvas, rect, flat, sides, 1, flat);
    case fsFlatBold:
        return DrawFrameRings(canvas, rect, flat, sides, 2, flat);
    case fsFlatRounded: {
        const bool bordered = look.BorderWidth > 0 || look.InnerStyle != fsNone;
        if (inner) {
            TRect r = DrawFrameRings(canvas, rect, look.BorderColor, sides, 1, look.BorderColor);
            if (!look.Transparent)
                DrawFrameRings(canvas, r, look.OwnColor, sides, 1, look.OwnColor);
        } else if (!look.Transparent) {
            TRect r = DrawFrameRings(canvas, rect, look.ParentColor, sides, 1, look.ParentColor);
            const TColor ring = bordered ? look.BorderColor : look.OwnColor;
            DrawFrameRings(canvas, r, ring, sides, 1, ring);
        } else if (bordered) {
            DrawFrameRings(canvas, Shrink(rect, sides, 1), look.BorderColor, sides, 1,
                           look.BorderColor);
        }
        return DrawRoundCornerFrame(canvas, rect, flat, sides);
    }
    case fsPopup:
        return DrawFrameRings(canvas, rect, look.HighlightColor, sides, look.BevelWidth,
                              look.ShadowColor);
    case fsStatus:
        return DrawFrameRings(canvas, rect, look.ShadowColor, sides, look.BevelWidth,
                              look.HighlightColor);
    default:
        return DrawStyledFrame(canvas, rect, style, sides);
    }
}

} // namespace

TRect DrawControlBorder(TCanvas& canvas, const TRect& rect, const TControlBorderLook& look) {
    const TColor flat = ShiftColorLuminance(look.FlatColor, look.FlatColorAdjustment);
    TRect r = BorderLayer(canvas, rect, look.OuterStyle, look, flat, false);
    if (look.BorderWidth > 0)
        r = DrawFrameRings(canvas, r, look.BorderColor, look.Sides, look.BorderWidth,
                           look.BorderColor);
    return BorderLayer(canvas, r, look.InnerStyle, look, flat, true);
}

void PaintGradientRing(TCanvas& canvas, const TRect& rect, TColor bottomColor, TColor topColor) {
    if (!FullColorScreen) return;
    canvas.ExcludeClipRect(rect.Inflated(-2, -2));
    FillVerticalGradient(canvas, rect, bottomColor, topColor);
    canvas.ClearClipRegion();
}
