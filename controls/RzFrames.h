// Frame, bevel and focus-rectangle drawing shared by the styled controls. Each function takes
// a rectangle and returns the interior that remains inside what it drew; lines exclude their
// end point. Colours may be system colours; clNone leaves a side undrawn.
#pragma once

#include "framework/Canvas.h"

#include <cstdint>

// The sides of a rectangle a frame covers.
using TSides = uint8_t;
constexpr TSides sdLeft = 1;
constexpr TSides sdTop = 2;
constexpr TSides sdRight = 4;
constexpr TSides sdBottom = 8;
constexpr TSides sdAllSides = 15;

enum TFrameStyleEx : uint8_t {
    fsNone,
    fsFlat,
    fsGroove,
    fsBump,
    fsLowered,
    fsButtonDown,
    fsRaised,
    fsButtonUp,
    fsStatus,
    fsPopup,
    fsFlatBold,
    fsFlatRounded,
};
// The styles drawn in system colours: fsNone..fsFlatBold.
using TFrameStyle = TFrameStyleEx;

// Whether the display shows more than 256 colours; set once at start-up.
extern bool FullColorScreen;

TRect DrawFrameLines(TCanvas& canvas, const TRect& rect, TColor upperLeft, TSides sides,
                     TColor lowerRight);
TRect DrawFrameRings(TCanvas& canvas, const TRect& rect, TColor upperLeft, TSides sides, int count,
                     TColor lowerRight);
TRect DrawThreeDFrame(TCanvas& canvas, const TRect& rect, bool sunken, TSides sides);
TRect DrawPushFrame(TCanvas& canvas, const TRect& rect, bool down, TSides sides = sdAllSides);
TRect DrawTintedPushFrame(TCanvas& canvas, const TRect& rect, TColor base,
                          TSides sides = sdAllSides, bool down = false);
// Two rings offset by one pixel (grooves and bumps), with corner touch-ups.
TRect DrawEtchedRings(TCanvas& canvas, const TRect& rect, TColor upper, TColor lower, TSides sides);
TRect DrawStyledFrame(TCanvas& canvas, const TRect& rect, TFrameStyle style,
                      TSides sides = sdAllSides);
TRect DrawTintedStyledFrame(TCanvas& canvas, const TRect& rect, TColor base,
                            TSides sides = sdAllSides, TFrameStyleEx style = fsFlat);
// Every second pixel of the outline black; returns the rectangle shrunk by one.
TRect DrawDottedFocusFrame(TCanvas& canvas, const TRect& rect, TColor color = clBlack);
TRect DrawRoundCornerFrame(TCanvas& canvas, const TRect& rect, TColor color, TSides sides);

// What a control's border is made of, outside in: an outer style, rings of the border
// colour, an inner style.
struct TControlBorderLook {
    TFrameStyleEx OuterStyle = fsNone;
    bool RoundedFlat = false;
    bool Transparent = false;
    TColor ParentColor = clBtnFace;
    TColor OwnColor = clBtnFace;
    int FlatColorAdjustment = 0;
    TColor FlatColor = clBtnShadow;
    TColor ShadowColor = clBtnShadow;
    TColor HighlightColor = clBtnHighlight;
    TColor BorderColor = clBtnFace;
    int BevelWidth = 1;
    TSides Sides = sdAllSides;
    int BorderWidth = 0;
    TFrameStyleEx InnerStyle = fsNone;
};

TRect DrawControlBorder(TCanvas& canvas, const TRect& rect, const TControlBorderLook& look);

// Repaints only the two-pixel ring just inside `rect` with a vertical gradient over the whole
// rectangle; does nothing on a display of 256 colours or fewer. Leaves no clipping behind.
void PaintGradientRing(TCanvas& canvas, const TRect& rect, TColor bottomColor, TColor topColor);
