// The row colours of the vertical gradient.
#include "controls/RzGradientBands.h"

#include <gtest/gtest.h>

namespace {

// The colour of each row, top to bottom, from the bands.
std::vector<TColor> Rows(const std::vector<TGradientBand>& bands) {
    std::vector<TColor> rows;
    for (const auto& band : bands) {
        EXPECT_EQ(band.FirstRow, static_cast<int>(rows.size())) << "bands must tile the rows";
        rows.insert(rows.end(), band.RowCount, band.Color);
    }
    return rows;
}

TEST(VerticalGradientBands, TheDownloadButtonFace) {
    // The face of the 537 x 49 button: 43 rows from 235,235,228 up towards white.
    const auto rows = Rows(VerticalGradientBands(43, RGBColor(235, 235, 228), clWhite));
    ASSERT_EQ(rows.size(), 43u);
    EXPECT_EQ(rows[42], RGBColor(235, 235, 228));
    EXPECT_EQ(rows[0], RGBColor(254, 254, 254));
}

TEST(VerticalGradientBands, TheHotTrackRing) {
    // 45 rows from 240,155,20 towards 251,230,195, which is never reached.
    const auto rows =
        Rows(VerticalGradientBands(45, RGBColor(240, 155, 20), RGBColor(251, 230, 195)));
    ASSERT_EQ(rows.size(), 45u);
    EXPECT_EQ(rows[44], RGBColor(240, 155, 20));
    EXPECT_EQ(rows[43], RGBColor(240, 156, 23));
    EXPECT_EQ(rows[0], RGBColor(250, 228, 191));
}

TEST(VerticalGradientBands, FallingChannelsStepDownwardToo) {
    const auto rows = Rows(VerticalGradientBands(4, clWhite, clBlack));
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[3], clWhite);
    // 255 - k * 63.75 per row, floored by the arithmetic shift: 191, 127, 63.
    EXPECT_EQ(rows[2], RGBColor(191, 191, 191));
    EXPECT_EQ(rows[0], RGBColor(63, 63, 63));
}

TEST(VerticalGradientBands, OneBandPerRunOfEqualRows) {
    // 100 rows over 3 levels: the run boundaries, not the rows, decide the band count.
    const auto bands = VerticalGradientBands(100, RGBColor(0, 0, 0), RGBColor(3, 3, 3));
    ASSERT_EQ(bands.size(), 3u);
    for (size_t i = 1; i < bands.size(); ++i)
        EXPECT_NE(bands[i].Color, bands[i - 1].Color);
    EXPECT_EQ(Rows(bands).size(), 100u);
    // A flat "gradient" is one band.
    EXPECT_EQ(VerticalGradientBands(30, clRed, clRed).size(), 1u);
}

TEST(VerticalGradientBands, EmptyHeightHasNoBands) {
    EXPECT_TRUE(VerticalGradientBands(0, clRed, clBlue).empty());
    EXPECT_TRUE(VerticalGradientBands(-3, clRed, clBlue).empty());
}

} // namespace
