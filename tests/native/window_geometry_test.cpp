#include "framework/WindowGeometry.h"

#include <gtest/gtest.h>

#include <climits>

TEST(ScaleValue, RoundsAsTheSystemDoes) {
    struct Case {
        int N, Multiplier, Divider, Expected;
    };
    for (const Case c :
         {Case{537, 18, 12, 806}, Case{7, 3, 2, 11}, Case{-7, 3, 2, -11}, Case{5, 18, 12, 8},
          Case{-20, 15, 12, -25}, Case{17, 15, 12, 21}, Case{0, 24, 12, 0}, Case{49, 12, 12, 49},
          Case{211, 9, 12, 158}, Case{INT_MAX / 2, 3, 3, INT_MAX / 2}}) {
        EXPECT_EQ(ScaleValue(c.N, c.Multiplier, c.Divider), c.Expected)
            << c.N << " * " << c.Multiplier << " / " << c.Divider;
    }
}

// A window of 681 x 211 whose frame takes 8 x 27 on the display it was made for.
struct ScaledWindow : ::testing::Test {
    const TSize Designed{681, 211};
    const TSize DesignedFrame{8, 27};
    const TSize Screen{1920, 1040};
};

TEST_F(ScaledWindow, TheClientAreaGrowsByTheControlsRatioInsideTheFrameOfTheDisplay) {
    struct Case {
        int Multiplier;
        TSize Frame, Expected;
    };
    for (const Case c : {
             Case{12, {8, 27}, {681, 211}},   // as designed
             Case{15, {8, 32}, {849, 262}},   // 673 x 184 by 15/12: 841.25, 230
             Case{18, {10, 38}, {1020, 314}}, // 1009.5 rounds up
             Case{24, {10, 47}, {1356, 415}},
             Case{9, {6, 20}, {511, 158}}, // a coarser display: smaller controls, smaller window
         }) {
        EXPECT_EQ(ScaledWindowSize(Designed, DesignedFrame, c.Frame, c.Multiplier, 12, Screen),
                  c.Expected)
            << "ratio " << c.Multiplier << "/12";
    }
}

TEST_F(ScaledWindow, ASmallScreenHoldsItButNeverBelowTheDesignedSize) {
    const TSize frame{10, 47};
    EXPECT_EQ(ScaledWindowSize(Designed, DesignedFrame, frame, 24, 12, {1280, 400}),
              (TSize{1280, 400}));
    EXPECT_EQ(ScaledWindowSize(Designed, DesignedFrame, frame, 24, 12, {1366, 728}),
              (TSize{1356, 415}))
        << "room enough";
    EXPECT_EQ(ScaledWindowSize(Designed, DesignedFrame, frame, 24, 12, {600, 200}), Designed);
    EXPECT_EQ(ScaledWindowSize(Designed, DesignedFrame, DesignedFrame, 12, 12, {640, 180}),
              Designed)
        << "unscaled, a window larger than the screen stays as it was";
}
