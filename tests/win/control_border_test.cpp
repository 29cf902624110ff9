// A control's complete border, layer by layer (outer style, border-width rings, inner
// style), on a 10 x 10 rect at (1, 1) of a 12 x 12 bitmap.
#include "TestSupport.h"

#include "controls/RzFrames.h"

#include <initializer_list>
#include <tuple>
#include <utility>

namespace {

constexpr TColor Paper = RGBColor(0, 128, 64);
constexpr TColor Grey(int v) {
    return RGBColor(v, v, v);
}

// Explicit colours for every role, so each pixel tells which role painted it.
constexpr TColor Parent = RGBColor(200, 0, 0);
constexpr TColor Own = RGBColor(0, 200, 0);
constexpr TColor Border = RGBColor(0, 0, 200);
constexpr TColor Highlight = RGBColor(250, 250, 0);
constexpr TColor Shadow = RGBColor(90, 0, 90);

const TRect Area{1, 1, 11, 11};

TControlBorderLook Look() {
    TControlBorderLook look;
    look.ParentColor = Parent;
    look.OwnColor = Own;
    look.FlatColor = Grey(128); // luminance 120
    look.ShadowColor = Shadow;
    look.HighlightColor = Highlight;
    look.BorderColor = Border;
    return look;
}

struct Drawn {
    TBitmap bmp{12, 12};
    TRect out;
    explicit Drawn(const TControlBorderLook& look) {
        FillBitmap(bmp, Paper);
        out = DrawControlBorder(bmp.Canvas(), Area, look);
    }
    std::string At(int x, int y) { return PixelAt(bmp, x, y); }
};

TEST(DrawControlBorder, NoLayersDrawNothing) {
    Drawn d(Look());
    EXPECT_EQ(d.out, Area);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(d.At(i, i), RgbText(Paper));
        EXPECT_EQ(d.At(i, 5), RgbText(Paper));
        EXPECT_EQ(d.At(1, i), RgbText(Paper));
    }
}

TEST(DrawControlBorder, FlatOuterStyleShiftsTheFlatColour) {
    // Luminance 120 of grey 128: +100 -> 220 (234), -50 -> 70 (74), -120 -> 0 (black).
    const struct {
        TFrameStyleEx style;
        int adjustment;
        TColor ring;
    } cases[] = {{fsFlat, 0, Grey(128)},
                 {fsFlat, 100, Grey(234)},
                 {fsFlat, -50, Grey(74)},
                 {fsFlatBold, 100, Grey(234)},
                 {fsFlatBold, -120, Grey(0)}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "style " << int(c.style) << ", adjustment " << c.adjustment);
        TControlBorderLook look = Look();
        look.OuterStyle = c.style;
        look.FlatColorAdjustment = c.adjustment;
        Drawn d(look);
        const int rings = c.style == fsFlatBold ? 2 : 1;
        EXPECT_EQ(d.out, Area.Inflated(-rings, -rings));
        for (int i = 1; i <= rings; ++i) {
            EXPECT_EQ(d.At(i, 5), RgbText(c.ring));
            EXPECT_EQ(d.At(5, i), RgbText(c.ring));
            EXPECT_EQ(d.At(11 - i, 5), RgbText(c.ring));
            EXPECT_EQ(d.At(5, 11 - i), RgbText(c.ring));
        }
        EXPECT_EQ(d.At(1, 1), RgbText(c.ring));
        EXPECT_EQ(d.At(1 + rings, 5), RgbText(Paper));
    }
}

TEST(DrawControlBorder, PopupAndStatusUseTheBevelWidth) {
    for (auto [style, upperLeft, lowerRight] :
         {std::tuple{fsPopup, Highlight, Shadow}, std::tuple{fsStatus, Shadow, Highlight}}) {
        TControlBorderLook look = Look();
        look.OuterStyle = style;
        look.BevelWidth = 2;
        Drawn d(look);
        SCOPED_TRACE(int(style));
        EXPECT_EQ(d.out, (TRect{3, 3, 9, 9}));
        EXPECT_EQ(d.At(1, 5), RgbText(upperLeft));
        EXPECT_EQ(d.At(2, 5), RgbText(upperLeft));
        EXPECT_EQ(d.At(5, 2), RgbText(upperLeft));
        EXPECT_EQ(d.At(10, 5), RgbText(lowerRight));
        EXPECT_EQ(d.At(9, 5), RgbText(lowerRight));
        EXPECT_EQ(d.At(5, 9), RgbText(lowerRight));
        EXPECT_EQ(d.At(10, 1), RgbText(lowerRight));
        EXPECT_EQ(d.At(3, 5), RgbText(Paper));
    }
}

TEST(DrawControlBorder, OtherStylesAreStyledFrames) {
    TControlBorderLook look = Look();
    look.OuterStyle = fsLowered;
    look.InnerStyle = fsRaised;
    Drawn d(look);
    EXPECT_EQ(d.out, (TRect{5, 5, 7, 7}));
    EXPECT_EQ(d.At(1, 5), RgbText(clBtnShadow));
    EXPECT_EQ(d.At(2, 5), RgbText(cl3DDkShadow));
    EXPECT_EQ(d.At(3, 5), RgbText(cl3DLight));
    EXPECT_EQ(d.At(4, 5), RgbText(clBtnHighlight));
    EXPECT_EQ(d.At(10, 5), RgbText(clBtnHighlight));
    EXPECT_EQ(d.At(9, 5), RgbText(cl3DLight));
    EXPECT_EQ(d.At(8, 5), RgbText(cl3DDkShadow));
    EXPECT_EQ(d.At(7, 5), RgbText(clBtnShadow));
}

TEST(DrawControlBorder, BorderRingsSitBetweenOuterAndInnerStyle) {
    TControlBorderLook look = Look();
    look.OuterStyle = fsPopup;
    look.BorderWidth = 2;
    look.InnerStyle = fsStatus;
    Drawn d(look);
    EXPECT_EQ(d.out, (TRect{5, 5, 7, 7}));
    const char* layer[] = {"outer", "border", "border", "inner", "interior"};
    const TColor leftColors[] = {Highlight, Border, Border, Shadow, Paper};
    const TColor rightColors[] = {Shadow, Border, Border, Highlight, Paper};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(d.At(1 + i, 5), RgbText(leftColors[i])) << layer[i] << " on the left";
        EXPECT_EQ(d.At(10 - i, 5), RgbText(rightColors[i])) << layer[i] << " on the right";
    }
    // Only the chosen sides, in every layer.
    look.Sides = sdTop | sdBottom;
    Drawn top(look);
    EXPECT_EQ(top.out, (TRect{1, 5, 11, 7}));
    EXPECT_EQ(top.At(1, 5), RgbText(Paper));
    EXPECT_EQ(top.At(5, 2), RgbText(Border));
    EXPECT_EQ(top.At(5, 4), RgbText(Shadow));
}

TEST(DrawControlBorder, RoundedFlatOuterOpaque) {
    TControlBorderLook look = Look();
    look.OuterStyle = fsFlatRounded;
    Drawn d(look);
    // A parent-coloured ring, the own colour inside it, and the flat colour with cut
    // corners over both, so the corners show the parent.
    const char* rows[] = {"PPffffffPP", "PfOOOOOOfP", "fO......Of", "fO......Of", "fO......Of",
                          "fO......Of", "fO......Of", "fO......Of", "PfOOOOOOfP", "PPffffffPP"};
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) {
            const char ch = rows[y][x];
            const TColor want = ch == 'P'   ? Parent
                                : ch == 'O' ? Own
                                : ch == 'f' ? Grey(128)
                                            : Paper;
            EXPECT_EQ(d.At(x + 1, y + 1), RgbText(want)) << "at " << x + 1 << "," << y + 1;
        }
    EXPECT_EQ(d.out, (TRect{3, 3, 9, 9}));
}

TEST(DrawControlBorder, RoundedFlatVariants) {
    const TColor f = Grey(234); // the flat colour brightened by 100
    const struct {
        const char* name;
        bool inner, transparent;
        int borderWidth;
        TColor corner, secondRing, thirdRing;
        TRect out;
    } cases[] = {
        // Outer: a border (width or inner style) turns the second ring into the border colour.
        {"outer, opaque, bordered", false, false, 1, Parent, Border, Border, {4, 4, 8, 8}},
        {"outer, transparent", false, true, 0, Paper, Paper, Paper, {3, 3, 9, 9}},
        {"outer, transparent, bordered", false, true, 1, Paper, Border, Border, {4, 4, 8, 8}},
        // Inner: the border colour, then the own colour unless transparent.
        {"inner, opaque", true, false, 0, Border, Own, Paper, {3, 3, 9, 9}},
        {"inner, transparent", true, true, 0, Border, Paper, Paper, {3, 3, 9, 9}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TControlBorderLook look = Look();
        look.FlatColorAdjustment = 100;
        (c.inner ? look.InnerStyle : look.OuterStyle) = fsFlatRounded;
        look.Transparent = c.transparent;
        look.BorderWidth = c.borderWidth;
        Drawn d(look);
        EXPECT_EQ(d.At(1, 1), RgbText(c.corner));
        EXPECT_EQ(d.At(1, 5), RgbText(f));
        EXPECT_EQ(d.At(2, 2), RgbText(f));
        EXPECT_EQ(d.At(2, 5), RgbText(c.secondRing));
        EXPECT_EQ(d.At(3, 5), RgbText(c.thirdRing));
        EXPECT_EQ(d.out, c.out);
    }
    // An inner style alone also counts as a border for the outer rounded frame.
    TControlBorderLook look = Look();
    look.OuterStyle = fsFlatRounded;
    look.InnerStyle = fsPopup;
    Drawn d(look);
    EXPECT_EQ(d.At(2, 5), RgbText(Border));
    EXPECT_EQ(d.At(3, 5), RgbText(Highlight));
    EXPECT_EQ(d.out, (TRect{4, 4, 8, 8}));
}

TEST(DrawControlBorder, RoundedFlatInnerFlatLeavesOutTheCorners) {
    TControlBorderLook look = Look();
    look.RoundedFlat = true;
    look.InnerStyle = fsFlat;
    look.FlatColorAdjustment = -50;
    look.Sides = sdLeft; // ignored: all four sides
    Drawn d(look);
    EXPECT_EQ(d.out, (TRect{2, 2, 10, 10}));
    for (int i = 2; i <= 9; ++i) {
        EXPECT_EQ(d.At(1, i), RgbText(Grey(74))) << "left " << i;
        EXPECT_EQ(d.At(i, 1), RgbText(Grey(74))) << "top " << i;
        EXPECT_EQ(d.At(10, i), RgbText(Grey(74))) << "right " << i;
        EXPECT_EQ(d.At(i, 10), RgbText(Grey(74))) << "bottom " << i;
    }
    for (auto [x, y] :
         {std::pair{1, 1}, std::pair{10, 1}, std::pair{10, 10}, std::pair{1, 10}, std::pair{2, 2}})
        EXPECT_EQ(d.At(x, y), RgbText(Paper)) << x << "," << y;

    // The flag changes only the inner layer: an outer flat ring keeps its corners.
    look.InnerStyle = fsNone;
    look.OuterStyle = fsFlat;
    look.Sides = sdAllSides;
    Drawn outer(look);
    EXPECT_EQ(outer.At(1, 1), RgbText(Grey(74)));
    EXPECT_EQ(outer.At(10, 10), RgbText(Grey(74)));
}

} // namespace
