// Geometry of label text drawn at an angle (flat) or character by character along an arc
// (curved): angles, where the text starts, how far an auto-sized label grows, where each
// character of an arc stands. Pure arithmetic; RzLabel does the drawing.
//
// Angles are whole degrees, counter-clockwise, 0 being the ordinary left-to-right text.
// Screen coordinates: y grows downward.
#pragma once

#include "controls/RzTextStyle.h"
#include "framework/Types.h"

#include <cstdint>
#include <vector>

enum TRotation : uint8_t { roNone, roFlat, roCurve };
// Where a curved caption's arc is anchored: the nine points of the label's box, row by row.
enum TCenterPoint : uint8_t {
    cpUpperLeft,
    cpUpperCenter,
    cpUpperRight,
    cpLeftCenter,
    cpCenter,
    cpRightCenter,
    cpLowerLeft,
    cpLowerCenter,
    cpLowerRight,
};

// The integer nearest to `x`, a half going to the even neighbour.
int Nearest(double x);

// `degrees` brought into 0..359, the same direction.
int NormalizeAngle(int degrees);

// Grows the size of a label's straight text (`rect` at the origin, borders included) so that
// it holds the text turned by `angle` degrees. Nothing changes for 0 and 180 degrees; a drop
// shadow adds half its depth before turning.
void GrowByRotation(TRect& rect, int angle, TTextStyle style, int shadowDepth);

// GDI text-alignment values (TA_*) for code that does not see <windows.h>.
constexpr unsigned TextAlignLeftTop = 0;
constexpr unsigned TextAlignCenterTop = 6;
constexpr unsigned TextAlignBaseline = 24;
constexpr unsigned TextAlignCenterBaseline = 30;

// The horizontal alignment of the caption as the label's text flags give it.
enum TFlatTextAlignment : uint8_t { ftaLeft, ftaRight, ftaCenter };

// The reference point of one run of flat text and the text alignment it refers to.
struct TFlatTextPlacement {
    TPoint Origin;
    unsigned TextAlign = TextAlignLeftTop;
    friend bool operator==(const TFlatTextPlacement&, const TFlatTextPlacement&) = default;
};

// Where flat text turned by `angle` starts in the text rectangle `textRect` of a label whose
// centre is `centre`. `textWidth` and `textHeight` are the unturned caption's width and line
// height; `shadowExtra` is the room kept for a drop shadow (0 without one). At 0, 90, 180 and
// 270 degrees the caption is aligned along its direction of reading; at any other angle it
// is centred on `centre`.
TFlatTextPlacement PlaceFlatText(int angle, TFlatTextAlignment alignment, const TRect& textRect,
                                 TPoint centre, int textWidth, int textHeight, int shadowExtra);

// The anchor of a curved caption's arc in a label of `width` × `height` with a border of
// `borderWidth` rings.
TPoint AnchorPoint(TCenterPoint point, int width, int height, int borderWidth);
// The arc's x and y radius for that anchor: across the whole box from a side or corner, half
// of it from the middle.
TPoint ArcRadii(TCenterPoint point, int width, int height, int borderWidth);

// One character of a curved caption: where it stands (centre of its baseline) and its
// escapement in tenths of a degree.
struct TArcGlyph {
    TPoint Origin;
    int Escapement = 0;
    friend bool operator==(const TArcGlyph&, const TArcGlyph&) = default;
};

// The places of `count` characters along the arc around `anchor` with `radii`, the first at
// `startAngle` (0 straight above the anchor), each `charHeight` inside the arc, and each next
// one clockwise by the same step, `stepWidth` + 2 pixels along the arc.
std::vector<TArcGlyph> LayOutArc(int count, TPoint anchor, TPoint radii, int startAngle,
                                 int charHeight, int stepWidth);
