// Geometry of turned and curved label text: angles, the growth of an auto-sized label, where
// flat text starts, arc anchors and radii, and the places of a curved caption's characters.
// Built natively (under sanitizers) and for Windows.
#include "controls/RzAngledText.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <numbers>

namespace {

constexpr double Pi = std::numbers::pi;

TEST(AngledText, RoundingAndAnglesWithinOneTurn) {
    EXPECT_EQ(Nearest(2.5), 2);
    EXPECT_EQ(Nearest(3.5), 4);
    EXPECT_EQ(Nearest(-2.5), -2);
    EXPECT_EQ(Nearest(1e300), INT_MAX);

    EXPECT_EQ(NormalizeAngle(-30), 330);
    EXPECT_EQ(NormalizeAngle(370), 10);
    EXPECT_EQ(NormalizeAngle(-400), 320);
    EXPECT_EQ(NormalizeAngle(-720), 0);
    for (long long v : {INT_MIN, INT_MAX, -1000, 1000}) {
        const int n = NormalizeAngle(static_cast<int>(v));
        EXPECT_TRUE(n >= 0 && n < 360 && (v - n) % 360 == 0) << v << " gave " << n;
    }
}

TEST(AngledText, AnAutoSizedLabelGrowsToHoldItsTurnedText) {
    for (int angle : {0, 180, 360}) {
        TRect r{0, 0, 80, 14};
        GrowByRotation(r, angle, tsShadow, 6);
        EXPECT_EQ(r, (TRect{0, 0, 80, 14})) << angle << ": neither shadow nor turn";
    }
    TRect upward{0, 0, 80, 14}, shadowed{0, 0, 80, 14};
    GrowByRotation(upward, 270, tsRaised, 6);
    EXPECT_EQ(upward, (TRect{0, 0, 14, 80}));
    GrowByRotation(shadowed, 90, tsShadow, 5);
    EXPECT_EQ(shadowed, (TRect{0, 0, 16, 82})) << "half the shadow, then the turn";

    // At every angle, the box of the text's corners turned about its middle.
    const double w = 90, h = 16;
    for (int angle = 1; angle < 360; ++angle) {
        if (angle == 180) continue;
        TRect r{0, 0, 90, 16};
        GrowByRotation(r, angle, tsNormal, 0);
        const double a = angle * Pi / 180;
        double maxX = 0, maxY = 0;
        for (double cx : {-w / 2, w / 2})
            for (double cy : {-h / 2, h / 2}) {
                maxX = std::max(maxX, cx * std::cos(a) + cy * std::sin(a));
                maxY = std::max(maxY, -cx * std::sin(a) + cy * std::cos(a));
            }
        EXPECT_NEAR(r.Right, 2 * maxX, 1.0) << angle;
        EXPECT_NEAR(r.Bottom, 2 * maxY, 1.0) << angle;
    }
}

// A text rectangle away from the origin, as borders and a margin leave it.
constexpr TRect Box{4, 3, 116, 63};
constexpr TPoint Middle{60, 33};
constexpr int TextW = 40, LineH = 12, Quarter = 3;

TEST(AngledText, FlatTextStartsWhereItsAlignmentSaysAlongItsReadingDirection) {
    for (int angle : {0, 90, 180, 270}) {
        const bool vertical = angle % 180 != 0;
        const int lo = vertical ? Box.Top : Box.Left, hi = vertical ? Box.Bottom : Box.Right;
        for (TFlatTextAlignment align : {ftaLeft, ftaRight, ftaCenter}) {
            // The text is drawn `e` before its placement and a shadow `e` after it.
            for (int e : {0, 3}) {
                const TFlatTextPlacement p =
                    PlaceFlatText(angle, align, Box, Middle, TextW, LineH, e);
                EXPECT_EQ(p.TextAlign, angle != 0           ? TextAlignBaseline
                                       : align == ftaCenter ? TextAlignCenterTop
                                                            : TextAlignLeftTop);
                for (int d : {-e, e}) {
                    // The run's extent: rightward, upward, leftward, downward.
                    const int x = p.Origin.X + d, y = p.Origin.Y + d;
                    int from = angle == 90    ? y - TextW
                               : angle == 180 ? x - TextW
                               : vertical     ? y
                                              : x;
                    if (angle == 0 && align == ftaCenter) from -= TextW / 2;
                    const int to = from + TextW;
                    const auto where = ::testing::Message()
                                       << angle << "/" << int(align) << "/" << d;
                    EXPECT_TRUE(from >= lo && to <= hi) << where;
                    if (e != 0) continue;
                    // Where reading starts: the left, the bottom, the right, the top.
                    const bool startsLow = angle == 0 || angle == 270;
                    switch (align) {
                    case ftaLeft:
                        EXPECT_EQ(startsLow ? from : to, startsLow ? lo : hi) << where;
                        break;
                    case ftaRight:
                        EXPECT_EQ(startsLow ? to : from, startsLow ? hi : lo) << where;
                        break;
                    case ftaCenter:
                        EXPECT_LE(std::abs((from - lo) - (hi - to)), 1) << where;
                        break;
                    }
                }
            }
        }
        // The baseline lies a quarter line from the middle, toward the glyphs' feet.
        const TPoint o = PlaceFlatText(angle, ftaLeft, Box, Middle, TextW, LineH, 0).Origin;
        const TPoint feet = angle == 0     ? TPoint{o.X, Middle.Y - LineH / 2} // top, centred
                            : angle == 90  ? TPoint{Middle.X + Quarter, o.Y}
                            : angle == 180 ? TPoint{o.X, Middle.Y - Quarter}
                                           : TPoint{Middle.X - Quarter, o.Y};
        EXPECT_EQ(o, feet) << angle;
    }

    // Any other angle: centred on the middle, moved toward the feet, (sin a, cos a) on screen.
    for (int angle : {30, 45, 135, 200, 315}) {
        const double a = angle * Pi / 180;
        for (TFlatTextAlignment align : {ftaLeft, ftaRight, ftaCenter}) {
            const auto p = PlaceFlatText(angle, align, Box, Middle, TextW, LineH, 0);
            EXPECT_EQ(p.TextAlign, TextAlignCenterBaseline) << angle;
            EXPECT_NEAR(p.Origin.X - Middle.X, std::sin(a) * Quarter, 0.5) << angle;
            EXPECT_NEAR(p.Origin.Y - Middle.Y, std::cos(a) * Quarter, 0.5) << angle;
        }
    }
}

TEST(AngledText, ArcAnchorsAndRadii) {
    // 200 x 101 with a border of 3 rings.
    const TPoint anchors[] = {{3, 3},    {100, 3}, {197, 3},  {3, 50},  {100, 50},
                              {197, 50}, {3, 98},  {100, 98}, {197, 98}};
    const TPoint radii[] = {{194, 95}, {94, 95},  {194, 95}, {194, 44}, {94, 44},
                            {194, 44}, {194, 95}, {94, 95},  {194, 95}};
    for (int i = cpUpperLeft; i <= cpLowerRight; ++i) {
        EXPECT_EQ(AnchorPoint(TCenterPoint(i), 200, 101, 3), anchors[i]) << i;
        EXPECT_EQ(ArcRadii(TCenterPoint(i), 200, 101, 3), radii[i]) << i;
    }
}

TEST(AngledText, CurvedCharactersRunClockwiseAtEvenSteps) {
    EXPECT_TRUE(LayOutArc(0, {100, 100}, {80, 60}, 90, 12, 8).empty());
    // At 0 straight above the anchor and upright; at 90 on its left, turned.
    EXPECT_EQ(LayOutArc(1, {100, 100}, {80, 60}, 0, 12, 8)[0], (TArcGlyph{{100, 52}, 0}));
    EXPECT_EQ(LayOutArc(1, {100, 100}, {80, 60}, 90, 12, 8)[0], (TArcGlyph{{32, 100}, 900}));

    // On the ellipse of the radii less the character height, each one further clockwise by
    // (8 + 2) / 80 radians.
    const auto glyphs = LayOutArc(20, {100, 100}, {80, 60}, 150, 12, 8);
    ASSERT_EQ(glyphs.size(), 20u);
    double previous = 0;
    for (size_t i = 0; i < glyphs.size(); ++i) {
        const double dx = glyphs[i].Origin.X - 100, dy = 100 - glyphs[i].Origin.Y;
        EXPECT_NEAR(std::hypot(dx / 68, dy / 48), 1.0, 0.03) << i;
        const double a = std::atan2(-dx / 68, dy / 48); // from straight above, anticlockwise
        const double expected = 150 * Pi / 180 - static_cast<double>(i) * 10 / 80;
        EXPECT_NEAR(std::remainder(a - expected, 2 * Pi), 0.0, 0.03) << i;
        EXPECT_NEAR(glyphs[i].Escapement, expected * 1800 / Pi, 0.5) << i;
        if (i > 0) {
            EXPECT_LT(std::remainder(a - previous, 2 * Pi), 0.0) << i << " turns back";
        }
        previous = a;
    }

    // No radius: the step stays finite, and so do places and escapements.
    for (const TArcGlyph& g : LayOutArc(400, {5, 5}, {0, -4}, 0, 12, 8))
        EXPECT_TRUE(std::abs(g.Origin.X - 5) <= 17 && std::abs(g.Escapement) <= 3600);
}

} // namespace
