#include "controls/RzAngledText.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <numbers>

namespace {

constexpr double Pi = std::numbers::pi;

double Radians(int degrees) {
    return degrees * Pi / 180;
}

} // namespace

int Nearest(double x) {
    // The default rounding mode rounds halves to even; out of range (or not a number) would
    // be undefined as an int, so such values stop at the ends of the range.
    const double r = std::nearbyint(x);
    if (!(r > INT_MIN)) return INT_MIN;
    if (!(r < INT_MAX)) return INT_MAX;
    return static_cast<int>(r);
}

int NormalizeAngle(int degrees) {
    const int r = degrees % 360;
    return r < 0 ? r + 360 : r;
}

void GrowByRotation(TRect& rect, int angle, TTextStyle style, int shadowDepth) {
    const int a = NormalizeAngle(angle);
    if (a % 180 == 0) return;
    if (style == tsShadow) {
        rect.Right += shadowDepth / 2;
        rect.Bottom += shadowDepth / 2;
    }
    // The box around the turned text: each side of the text contributes by the absolute
    // cosine and sine, so that 120 degrees takes the box of 60 (not of 30) and 90 swaps.
    const double w = rect.Right, h = rect.Bottom;
    const double c = std::fabs(std::cos(Radians(a))), s = std::fabs(std::sin(Radians(a)));
    rect.Right = Nearest(w * c + h * s);
    rect.Bottom = Nearest(w * s + h * c);
}

TFlatTextPlacement PlaceFlatText(int angle, TFlatTextAlignment alignment, const TRect& r,
                                 TPoint centre, int textWidth, int textHeight, int shadowExtra) {
    const int a = NormalizeAngle(angle);
    const int e = shadowExtra;
    const int w = textWidth + e, h = textHeight + e;
    // The baseline lies a quarter of a line below the middle of the glyphs; "below" turns
    // with the text.
    const double theta = Radians(a) + Pi / 2;
    const double q = textHeight / 4.0;
    const int baselineX = centre.X - Nearest(std::cos(theta) * q);

    TFlatTextPlacement place;
    place.Origin = centre;
    switch (a) {
    case 0:
        if (alignment == ftaRight) place.Origin.X = r.Right - w - e;
        if (alignment == ftaLeft) place.Origin.X = r.Left + e;
        place.Origin.Y = centre.Y - h / 2;
        place.TextAlign = alignment == ftaCenter ? TextAlignCenterTop : TextAlignLeftTop;
        break;
    case 90: // reads upward: it starts at the bottom
        place.Origin.X = baselineX;
        place.Origin.Y = alignment == ftaCenter  ? r.Bottom - (r.Height() - w) / 2
                         : alignment == ftaRight ? r.Top + w + e
                                                 : r.Bottom - e;
        place.TextAlign = TextAlignBaseline;
        break;
    case 180: // upside down: it starts at the right
        place.Origin.X = alignment == ftaCenter  ? r.Right - (r.Width() - w) / 2
                         : alignment == ftaRight ? r.Left + w
                                                 : r.Right - e;
        place.Origin.Y = centre.Y - h / 4;
        place.TextAlign = TextAlignBaseline;
        break;
    case 270: // reads downward: it starts at the top
        place.Origin.X = baselineX;
        place.Origin.Y = alignment == ftaCenter  ? r.Top + (r.Height() - w) / 2
                         : alignment == ftaRight ? r.Bottom - w - e
                                                 : r.Top + e;
        place.TextAlign = TextAlignBaseline;
        break;
    default:
        place.Origin.X = baselineX;
        place.Origin.Y = centre.Y + Nearest(std::sin(theta) * q);
        place.TextAlign = TextAlignCenterBaseline;
        break;
    }
    return place;
}

namespace {

// Column (0 left, 1 middle, 2 right) and row (0 upper, 1 middle, 2 lower) of an anchor.
int ColumnOf(TCenterPoint point) {
    return point % 3;
}
int RowOf(TCenterPoint point) {
    return point / 3;
}

} // namespace

TPoint AnchorPoint(TCenterPoint point, int width, int height, int borderWidth) {
    const int b = borderWidth;
    const int xs[] = {b, width / 2, width - b};
    const int ys[] = {b, height / 2, height - b};
    return {xs[ColumnOf(point)], ys[RowOf(point)]};
}

TPoint ArcRadii(TCenterPoint point, int width, int height, int borderWidth) {
    const int b2 = 2 * borderWidth;
    return {(ColumnOf(point) == 1 ? width / 2 : width) - b2,
            (RowOf(point) == 1 ? height / 2 : height) - b2};
}

std::vector<TArcGlyph> LayOutArc(int count, TPoint anchor, TPoint radii, int startAngle,
                                 int charHeight, int stepWidth) {
    std::vector<TArcGlyph> glyphs;
    if (count <= 0) return glyphs;
    glyphs.reserve(static_cast<size_t>(count));
    // An arc without a radius has no room along it; stepping as on the smallest one keeps
    // the step finite.
    const double step = (stepWidth + 2.0) / std::max(radii.X, 1);
    double a = Radians(startAngle);
    for (int i = 0; i < count; ++i) {
        TArcGlyph glyph;
        glyph.Origin.X = anchor.X - Nearest(std::sin(a) * (radii.X - charHeight));
        glyph.Origin.Y = anchor.Y - Nearest(std::cos(a) * (radii.Y - charHeight));
        // Whole turns dropped, so that a very long caption keeps a small escapement.
        glyph.Escapement = Nearest(std::fmod(a, 2 * Pi) * 1800 / Pi);
        glyphs.push_back(glyph);
        a -= step;
    }
    return glyphs;
}
