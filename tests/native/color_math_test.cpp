// Colour arithmetic on the 0..240 scale. Built natively (under sanitizers) and for Windows.
#include "controls/RzColorMath.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

std::string Rgb(TColor c) {
    return std::to_string(RedOf(c)) + "," + std::to_string(GreenOf(c)) + "," +
           std::to_string(BlueOf(c));
}

constexpr TColor ButtonFace = RGBColor(244, 244, 240); // the download button's colour
constexpr TColor HotTrack = RGBColor(240, 155, 20);

TEST(RgbToHsl240, GreysWhiteAndTheButtonFace) {
    EXPECT_EQ(RgbToHsl240(RGBColor(128, 128, 128)), (THsl240{0, 0, 120}));
    EXPECT_EQ(RgbToHsl240(clWhite), (THsl240{0, 0, 240}));
    EXPECT_EQ(RgbToHsl240(clBlack), (THsl240{0, 0, 0}));
    EXPECT_EQ(RgbToHsl240(ButtonFace), (THsl240{40, 37, 228}));
    EXPECT_EQ(HueOfColor(ButtonFace), 40);
}

TEST(RgbToHsl240, PrimaryHuesOnTheScale) {
    EXPECT_EQ(RgbToHsl240(clRed), (THsl240{0, 240, 120}));
    EXPECT_EQ(RgbToHsl240(clLime), (THsl240{80, 240, 120}));
    EXPECT_EQ(RgbToHsl240(clBlue), (THsl240{160, 240, 120}));
    // Red is tested before green: a hue just below red wraps to the top of the scale.
    EXPECT_EQ(RgbToHsl240(RGBColor(255, 0, 1)).Hue, 240);
}

TEST(Hsl240ToRgb, HueDivisorIs239) {
    // Hues 239 and 240 land in sextant 6 and are drawn like sextant 0 (the red side):
    // 239 is pure red, 240 already a trace towards yellow, not towards magenta.
    EXPECT_EQ(Hsl240ToRgb(239, 240, 120), clRed);
    EXPECT_EQ(Hsl240ToRgb(240, 240, 120), RGBColor(255, 6, 0));
    EXPECT_EQ(Hsl240ToRgb(238, 240, 120), RGBColor(255, 0, 6));
    EXPECT_EQ(Hsl240ToRgb(0, 240, 120), clRed);
    EXPECT_EQ(Hsl240ToRgb(0, 0, 0), clBlack);
    EXPECT_EQ(Hsl240ToRgb(0, 0, 240), clWhite);
}

TEST(Hsl240ToRgb, RoundTripStaysClose) {
    // The 0..240 scale and the 239 hue divisor lose a little (most near red, where the
    // divisor shifts hues by up to 6 levels); a wrong sextant would be off by far more.
    for (int r = 0; r < 256; r += 15)
        for (int g = 0; g < 256; g += 15)
            for (int b = 0; b < 256; b += 15) {
                const TColor c = RGBColor(r, g, b);
                const THsl240 hsl = RgbToHsl240(c);
                const TColor back = Hsl240ToRgb(hsl.Hue, hsl.Saturation, hsl.Luminance);
                ASSERT_LE(std::abs(RedOf(back) - r), 10) << Rgb(c) << " -> " << Rgb(back);
                ASSERT_LE(std::abs(GreenOf(back) - g), 10) << Rgb(c) << " -> " << Rgb(back);
                ASSERT_LE(std::abs(BlueOf(back) - b), 10) << Rgb(c) << " -> " << Rgb(back);
            }
}

TEST(DimAndBrighten, TheDownloadButtonShades) {
    EXPECT_EQ(Rgb(DimColor(ButtonFace, 10)), "235,235,228");
    EXPECT_EQ(Rgb(DimColor(ButtonFace, 20)), "226,226,216");
    EXPECT_EQ(Rgb(DimColor(ButtonFace, 30)), "217,217,203");
    EXPECT_EQ(Rgb(DimColor(ButtonFace, 80)), "172,172,142");
    // Luminance 228 + 30 = 258 is capped to 255: past white, so pure white comes back.
    EXPECT_EQ(BrightenColor(ButtonFace, 30), clWhite);
}

TEST(DimAndBrighten, LimitsAndZero) {
    EXPECT_EQ(DimColor(ButtonFace, 255), clBlack);
    EXPECT_EQ(DimColor(RGBColor(10, 10, 10), 100), clBlack);
    EXPECT_EQ(BrightenColor(clBlack, 255), clWhite);
    EXPECT_EQ(ShiftColorLuminance(HotTrack, 0), HotTrack);
    EXPECT_EQ(ShiftColorLuminance(HotTrack, 25), BrightenColor(HotTrack, 25));
    EXPECT_EQ(ShiftColorLuminance(HotTrack, -25), DimColor(HotTrack, 25));
    EXPECT_EQ(ShiftColorLuminance(HotTrack, -255), clBlack);
}

TEST(DimAndBrighten, SystemColoursAreResolvedFirst) {
    const TColor face = ColorToRGB(clBtnFace);
    EXPECT_FALSE(IsSystemColor(DimColor(clBtnFace, 0)));
    EXPECT_EQ(DimColor(clBtnFace, 20), DimColor(face, 20));
    EXPECT_EQ(MixColorPair(clBtnFace, clWhite, 255), face);
}

TEST(MixColorPair, WeightIsTheFirstColoursShare) {
    // 190/255 of white: the top colour of the hot-track ring.
    EXPECT_EQ(Rgb(MixColorPair(clWhite, HotTrack, 190)), "251,230,195");
    EXPECT_EQ(MixColorPair(clRed, clBlue, 255), clRed);
    EXPECT_EQ(MixColorPair(clRed, clBlue, 0), clBlue);
    // 128/255 of 255 = 128.0 exactly, 127/255 of 255 = 127.0: no rounding drift at the ends.
    EXPECT_EQ(Rgb(MixColorPair(clWhite, clBlack, 128)), "128,128,128");
    EXPECT_EQ(Rgb(MixColorPair(clWhite, clBlack, 127)), "127,127,127");
}

TEST(ColorsNearlyEqual, ComparesHueAndLuminanceOnly) {
    // Greys of luminance 100 and 150 are near; 100 and 160 are not.
    const TColor grey100 = Hsl240ToRgb(0, 0, 100);
    EXPECT_TRUE(ColorsNearlyEqual(grey100, Hsl240ToRgb(0, 0, 150)));
    EXPECT_FALSE(ColorsNearlyEqual(grey100, Hsl240ToRgb(0, 0, 160)));
    // Saturation is ignored: a fully saturated and a grey colour of one hue and luminance.
    EXPECT_TRUE(ColorsNearlyEqual(Hsl240ToRgb(0, 240, 120), Hsl240ToRgb(0, 0, 120)));
    EXPECT_FALSE(ColorsNearlyEqual(clRed, clLime));
    EXPECT_TRUE(ColorsNearlyEqual(Hsl240ToRgb(100, 200, 120), Hsl240ToRgb(119, 200, 120)));
    EXPECT_FALSE(ColorsNearlyEqual(Hsl240ToRgb(100, 200, 120), Hsl240ToRgb(120, 200, 120)));
}

TEST(OppositeHueColor, TurnsHalfWayRound) {
    EXPECT_EQ(OppositeHueColor(clRed, 120), Hsl240ToRgb(120, 240, 120));
    EXPECT_EQ(OppositeHueColor(clBlue, 120), Hsl240ToRgb(40, 240, 120));
    const TColor top = OppositeHueColor(HotTrack, 180);
    EXPECT_EQ(RgbToHsl240(top).Luminance, 180);
    EXPECT_NEAR(RgbToHsl240(top).Hue, HueOfColor(HotTrack) + 120, 1);
}

} // namespace
