// The one-pixel frame functions of the styled controls, checked pixel by pixel: which colour
// owns each corner, what a missing side leaves, and the interior each function hands back.
#include "TestSupport.h"

#include "controls/RzFrames.h"

#include <initializer_list>
#include <iterator>
#include <utility>

namespace {

// A background that no frame below draws in.
constexpr TColor Paper = RGBColor(0, 128, 64);
constexpr TColor Up = RGBColor(255, 0, 0);
constexpr TColor Dn = RGBColor(0, 0, 255);

constexpr TColor Grey(int v) {
    return RGBColor(v, v, v);
}

using Legend = std::initializer_list<std::pair<char, TColor>>;

// The bitmap as one letter per pixel from `legend` ('.' is the paper, '?' any other colour),
// so that a failing frame shows where it went wrong.
std::string Picture(TBitmap& bmp, Legend legend) {
    std::string text;
    for (int y = 0; y < bmp.Height(); ++y) {
        for (int x = 0; x < bmp.Width(); ++x) {
            const TColor c = ColorToRGB(bmp.Canvas().Pixel(x, y));
            char ch = c == Paper ? '.' : '?';
            for (const auto& [letter, color] : legend)
                if (ColorToRGB(color) == c) ch = letter;
            text += ch;
        }
        text += '\n';
    }
    return text;
}

struct PaperBitmap : TBitmap {
    PaperBitmap(int w, int h) : TBitmap(w, h) { FillBitmap(*this, Paper); }
};

struct FrameLinesCase {
    const char* name;
    TColor upperLeft, lowerRight;
    TSides sides;
    TRect out;
    const char* picture;
};

TEST(DrawFrameLines, CornersSidesAndClNone) {
    // clang-format off
    const FrameLinesCase cases[] = {
        // The lower-right pair goes second and takes (R-1, T) and (L, B-1).
        {"all sides", Up, Dn, sdAllSides, {2, 2, 6, 5},
         "........\n"
         ".uuuuud.\n"
         ".u....d.\n"
         ".u....d.\n"
         ".u....d.\n"
         ".dddddd.\n"
         "........\n"},
        {"no upper-left colour", clNone, Dn, sdAllSides, {2, 2, 6, 5},
         "........\n"
         "......d.\n"
         "......d.\n"
         "......d.\n"
         "......d.\n"
         ".dddddd.\n"
         "........\n"},
        {"no lower-right colour", Up, clNone, sdAllSides, {2, 2, 6, 5},
         "........\n"
         ".uuuuuu.\n"
         ".u......\n"
         ".u......\n"
         ".u......\n"
         ".u......\n"
         "........\n"},
        {"left and bottom", Up, Dn, sdLeft | sdBottom, {2, 1, 7, 5},
         "........\n"
         ".u......\n"
         ".u......\n"
         ".u......\n"
         ".u......\n"
         ".dddddd.\n"
         "........\n"},
        {"top and right", Up, Dn, sdTop | sdRight, {1, 2, 6, 6},
         "........\n"
         ".uuuuud.\n"
         "......d.\n"
         "......d.\n"
         "......d.\n"
         "......d.\n"
         "........\n"},
        {"no sides", Up, Dn, 0, {1, 1, 7, 6},
         "........\n"
         "........\n"
         "........\n"
         "........\n"
         "........\n"
         "........\n"
         "........\n"},
    };
    // clang-format on
    for (const auto& c : cases) {
        PaperBitmap bmp(8, 7);
        const TRect out =
            DrawFrameLines(bmp.Canvas(), {1, 1, 7, 6}, c.upperLeft, c.sides, c.lowerRight);
        EXPECT_EQ(Picture(bmp, {{'u', Up}, {'d', Dn}}), c.picture) << c.name;
        EXPECT_EQ(out, c.out) << c.name;
    }
}

TEST(DrawFrameRings, CountZeroOrLessDrawsNothing) {
    for (int count : {0, -1}) {
        PaperBitmap bmp(6, 6);
        const TRect out = DrawFrameRings(bmp.Canvas(), {0, 0, 6, 6}, Up, sdAllSides, count, Dn);
        EXPECT_EQ(out, (TRect{0, 0, 6, 6})) << count;
        EXPECT_EQ(Picture(bmp, {}), "......\n"
                                    "......\n"
                                    "......\n"
                                    "......\n"
                                    "......\n"
                                    "......\n");
    }
}

TEST(DrawFrameRings, NestedOnePixelRingsWhateverThePenWidth) {
    PaperBitmap bmp(8, 8);
    bmp.Canvas().Pen().SetWidth(3);
    const TRect out = DrawFrameRings(bmp.Canvas(), {0, 0, 8, 8}, Up, sdAllSides, 3, Dn);
    EXPECT_EQ(out, (TRect{3, 3, 5, 5}));
    EXPECT_EQ(Picture(bmp, {{'u', Up}, {'d', Dn}}), "uuuuuuud\n"
                                                    "uuuuuudd\n"
                                                    "uuuuuddd\n"
                                                    "uuu..ddd\n"
                                                    "uuu..ddd\n"
                                                    "uudddddd\n"
                                                    "uddddddd\n"
                                                    "dddddddd\n");
}

// Two rings on a 10 x 10 rect: the colours at the middle of each side, outer then inner, and
// the corners (R-1, T) and (L, B-1) that belong to the outer lower-right colour.
struct RingsCase {
    const char* name;
    TColor outerUL, innerUL, outerLR, innerLR;
    int inset;
};

void ExpectRings(TBitmap& bmp, const TRect& out, const RingsCase& c) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(PixelAt(bmp, 0, 5), RgbText(c.outerUL));
    EXPECT_EQ(PixelAt(bmp, 5, 0), RgbText(c.outerUL));
    EXPECT_EQ(PixelAt(bmp, 1, 5), RgbText(c.innerUL));
    EXPECT_EQ(PixelAt(bmp, 5, 1), RgbText(c.innerUL));
    EXPECT_EQ(PixelAt(bmp, 9, 5), RgbText(c.outerLR));
    EXPECT_EQ(PixelAt(bmp, 5, 9), RgbText(c.outerLR));
    EXPECT_EQ(PixelAt(bmp, 8, 5), RgbText(c.innerLR));
    EXPECT_EQ(PixelAt(bmp, 5, 8), RgbText(c.innerLR));
    EXPECT_EQ(PixelAt(bmp, 9, 0), RgbText(c.outerLR));
    EXPECT_EQ(PixelAt(bmp, 0, 9), RgbText(c.outerLR));
    EXPECT_EQ(PixelAt(bmp, 2, 5), RgbText(Paper));
    EXPECT_EQ(PixelAt(bmp, 5, 5), RgbText(Paper));
    EXPECT_EQ(out, (TRect{0, 0, 10, 10}.Inflated(-c.inset, -c.inset)));
}

TEST(DrawThreeDAndPushFrame, ColourTables) {
    // The tables can only be told apart when the system colours differ from one another.
    const TColor system[] = {cl3DLight, cl3DDkShadow, clBtnHighlight, clBtnShadow, clBtnText};
    for (size_t i = 0; i < std::size(system); ++i)
        for (size_t j = i + 1; j < std::size(system); ++j)
            ASSERT_NE(ColorToRGB(system[i]), ColorToRGB(system[j])) << i << " and " << j;
    struct Case {
        RingsCase rings;
        TRect (*draw)(TCanvas&, const TRect&);
    } cases[] = {
        {{"3-D raised", cl3DLight, clBtnHighlight, cl3DDkShadow, clBtnShadow, 2},
         [](TCanvas& c, const TRect& r) { return DrawThreeDFrame(c, r, false, sdAllSides); }},
        {{"3-D sunken", clBtnShadow, cl3DDkShadow, clBtnHighlight, cl3DLight, 2},
         [](TCanvas& c, const TRect& r) { return DrawThreeDFrame(c, r, true, sdAllSides); }},
        {{"push up", clBtnHighlight, cl3DLight, cl3DDkShadow, clBtnShadow, 2},
         [](TCanvas& c, const TRect& r) { return DrawPushFrame(c, r, false); }},
        {{"push down", clBtnText, clBtnShadow, clBtnText, clBtnShadow, 2},
         [](TCanvas& c, const TRect& r) { return DrawPushFrame(c, r, true); }},
        // Grey 128 has luminance 120: 220 -> 234, 160 -> 170, 70 -> 74, 20 -> 21.
        {{"tinted up", Grey(234), Grey(170), Grey(21), Grey(74), 2},
         [](TCanvas& c, const TRect& r) { return DrawTintedPushFrame(c, r, Grey(128)); }},
        {{"tinted down", Grey(21), Grey(74), Grey(21), Grey(74), 2},
         [](TCanvas& c, const TRect& r) {
             return DrawTintedPushFrame(c, r, Grey(128), sdAllSides, true);
         }},
    };
    for (const auto& c : cases) {
        PaperBitmap bmp(10, 10);
        ExpectRings(bmp, c.draw(bmp.Canvas(), {0, 0, 10, 10}), c.rings);
    }
}

TEST(DrawThreeDFrame, OnlyTheChosenSides) {
    PaperBitmap bmp(10, 10);
    const TRect out = DrawThreeDFrame(bmp.Canvas(), {0, 0, 10, 10}, false, sdLeft | sdBottom);
    EXPECT_EQ(out, (TRect{2, 0, 10, 8}));
    EXPECT_EQ(PixelAt(bmp, 0, 5), RgbText(cl3DLight));
    EXPECT_EQ(PixelAt(bmp, 5, 9), RgbText(cl3DDkShadow));
    EXPECT_EQ(PixelAt(bmp, 5, 0), RgbText(Paper));
    EXPECT_EQ(PixelAt(bmp, 9, 5), RgbText(Paper));
}

TEST(DrawStyledFrame, EveryStyleInSystemColours) {
    const TColor P = Paper;
    const std::pair<TFrameStyle, RingsCase> cases[] = {
        {fsNone, {"fsNone", P, P, P, P, 0}},
        {fsFlat, {"fsFlat", cl3DDkShadow, P, cl3DDkShadow, P, 1}},
        {fsGroove, {"fsGroove", clBtnShadow, clBtnHighlight, clBtnHighlight, clBtnShadow, 2}},
        {fsBump, {"fsBump", clBtnHighlight, clBtnShadow, clBtnShadow, clBtnHighlight, 2}},
        {fsLowered, {"fsLowered", clBtnShadow, cl3DDkShadow, clBtnHighlight, cl3DLight, 2}},
        {fsButtonDown, {"fsButtonDown", clBtnText, clBtnShadow, clBtnText, clBtnShadow, 2}},
        {fsRaised, {"fsRaised", cl3DLight, clBtnHighlight, cl3DDkShadow, clBtnShadow, 2}},
        {fsButtonUp, {"fsButtonUp", clBtnHighlight, cl3DLight, cl3DDkShadow, clBtnShadow, 2}},
        {fsStatus, {"fsStatus", clBtnShadow, P, clBtnHighlight, P, 1}},
        {fsPopup, {"fsPopup", clBtnHighlight, P, clBtnShadow, P, 1}},
        {fsFlatBold, {"fsFlatBold", clBtnShadow, clBtnShadow, clBtnShadow, clBtnShadow, 2}},
    };
    for (const auto& [style, rings] : cases) {
        PaperBitmap bmp(10, 10);
        ExpectRings(bmp, DrawStyledFrame(bmp.Canvas(), {0, 0, 10, 10}, style), rings);
    }
    PaperBitmap bmp(10, 10);
    EXPECT_EQ(DrawStyledFrame(bmp.Canvas(), {0, 0, 10, 10}, fsFlatBold, sdTop | sdRight),
              (TRect{0, 2, 8, 10}));
    EXPECT_EQ(PixelAt(bmp, 0, 5), RgbText(Paper));
}

TEST(DrawTintedStyledFrame, EveryStyleFromTheBaseColour) {
    // From grey 128 (luminance 120): Dk50 = 74, Dk100 = 21, Lt50 = 181, Lt100 = 234, and
    // the tinted push frame's Lt40 = 170.
    const TColor P = Paper, Dk50 = Grey(74), Dk100 = Grey(21), Lt50 = Grey(181), Lt100 = Grey(234);
    const std::pair<TFrameStyleEx, RingsCase> cases[] = {
        {fsNone, {"fsNone", P, P, P, P, 0}},
        {fsFlat, {"fsFlat", Dk50, P, Dk50, P, 1}},
        {fsGroove, {"fsGroove", Dk50, Lt100, Lt100, Dk50, 2}},
        {fsBump, {"fsBump", Lt100, Dk50, Dk50, Lt100, 2}},
        {fsFlatRounded, {"fsFlatRounded", Lt100, Dk50, Dk50, Lt100, 2}},
        {fsLowered, {"fsLowered", Dk50, Dk100, Lt100, Lt50, 2}},
        {fsRaised, {"fsRaised", Lt50, Lt100, Dk100, Dk50, 2}},
        {fsButtonDown, {"fsButtonDown", Dk100, Dk50, Dk100, Dk50, 2}},
        {fsButtonUp, {"fsButtonUp", Lt100, Grey(170), Dk100, Dk50, 2}},
        {fsStatus, {"fsStatus", Dk50, P, Lt100, P, 1}},
        {fsPopup, {"fsPopup", Lt100, P, Dk50, P, 1}},
        {fsFlatBold, {"fsFlatBold", Dk50, Dk50, Dk50, Dk50, 2}},
    };
    for (const auto& [style, rings] : cases) {
        PaperBitmap bmp(10, 10);
        ExpectRings(
            bmp, DrawTintedStyledFrame(bmp.Canvas(), {0, 0, 10, 10}, Grey(128), sdAllSides, style),
            rings);
    }
}

TEST(DrawEtchedRings, CornerTouchUpsForSideSubsets) {
    // u = the upper colour, d = the lower one, on the rect (1, 1, 7, 7).
    // clang-format off
    const FrameLinesCase cases[] = {
        {"all sides", Up, Dn, sdAllSides, {3, 3, 5, 5},
         "........\n"
         ".uuuuud.\n"
         ".udddud.\n"
         ".ud..ud.\n"
         ".ud..ud.\n"
         ".uuuuud.\n"
         ".dddddd.\n"
         "........\n"},
        {"left and top", Up, Dn, sdLeft | sdTop, {3, 3, 7, 7},
         "........\n"
         ".uuuuuu.\n"
         ".uddddd.\n"
         ".ud.....\n"
         ".ud.....\n"
         ".ud.....\n"
         ".ud.....\n"
         "........\n"},
        {"right and bottom", Up, Dn, sdRight | sdBottom, {1, 1, 5, 5},
         "........\n"
         ".....ud.\n"
         ".....ud.\n"
         ".....ud.\n"
         ".....ud.\n"
         ".uuuuud.\n"
         ".dddddd.\n"
         "........\n"},
        {"top and bottom", Up, Dn, sdTop | sdBottom, {1, 3, 7, 5},
         "........\n"
         ".uuuuuu.\n"
         ".dddddd.\n"
         "........\n"
         "........\n"
         ".uuuuuu.\n"
         ".dddddd.\n"
         "........\n"},
        {"left and right", Up, Dn, sdLeft | sdRight, {3, 1, 5, 7},
         "........\n"
         ".ud..ud.\n"
         ".ud..ud.\n"
         ".ud..ud.\n"
         ".ud..ud.\n"
         ".ud..ud.\n"
         ".ud..ud.\n"
         "........\n"},
    };
    // clang-format on
    for (const auto& c : cases) {
        PaperBitmap bmp(8, 8);
        const TRect out =
            DrawEtchedRings(bmp.Canvas(), {1, 1, 7, 7}, c.upperLeft, c.lowerRight, c.sides);
        EXPECT_EQ(Picture(bmp, {{'u', Up}, {'d', Dn}}), c.picture) << c.name;
        EXPECT_EQ(out, c.out) << c.name;
    }
}

TEST(DrawDottedFocusFrame, EverySecondPixelBlackWhateverThePen) {
    // 10 wide and 6 high at (1, 1): columns 2, 4, ..., 10 of the top and bottom rows and
    // rows 2, 4, 6 of the outer columns.
    TBitmap bmp(13, 9);
    FillBitmap(bmp, clWhite);
    bmp.Canvas().Pen().SetColor(clRed);
    bmp.Canvas().Brush().SetColor(clRed);
    const TRect out = DrawDottedFocusFrame(bmp.Canvas(), {1, 1, 11, 7});
    EXPECT_EQ(out, (TRect{2, 2, 10, 6}));
    EXPECT_EQ(Picture(bmp, {{'.', clWhite}, {'#', clBlack}}), ".............\n"
                                                              "..#.#.#.#.#..\n"
                                                              ".#........#..\n"
                                                              ".............\n"
                                                              ".#........#..\n"
                                                              ".............\n"
                                                              ".##.#.#.#.#..\n"
                                                              ".............\n"
                                                              ".............\n");
}

TEST(DrawRoundCornerFrame, CutCornersOnTheChosenSides) {
    // clang-format off
    const FrameLinesCase cases[] = {
        {"all sides", Up, Up, sdAllSides, {3, 3, 6, 5},
         ".........\n"
         "...ccc...\n"
         "..c...c..\n"
         ".c.....c.\n"
         ".c.....c.\n"
         "..c...c..\n"
         "...ccc...\n"
         ".........\n"},
        {"left and top", Up, Up, sdLeft | sdTop, {3, 3, 8, 7},
         ".........\n"
         "...ccccc.\n"
         "..c......\n"
         ".c.......\n"
         ".c.......\n"
         ".c.......\n"
         ".c.......\n"
         ".........\n"},
        {"right and bottom", Up, Up, sdRight | sdBottom, {1, 1, 6, 5},
         ".........\n"
         ".......c.\n"
         ".......c.\n"
         ".......c.\n"
         ".......c.\n"
         "......c..\n"
         ".ccccc...\n"
         ".........\n"},
    };
    // clang-format on
    for (const auto& c : cases) {
        PaperBitmap bmp(9, 8);
        const TRect out = DrawRoundCornerFrame(bmp.Canvas(), {1, 1, 8, 7}, c.upperLeft, c.sides);
        EXPECT_EQ(Picture(bmp, {{'c', Up}}), c.picture) << c.name;
        EXPECT_EQ(out, c.out) << c.name;
    }
}

} // namespace
