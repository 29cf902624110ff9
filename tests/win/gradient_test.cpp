// The vertical gradient on a real device context: the row colours, that the narrow strip is
// widened to the full width without seams, and the two-pixel ring that the button repaints
// on hover without touching its face.
#include "TestSupport.h"

#include "controls/RzFrames.h"
#include "controls/RzGraphics.h"

namespace {

constexpr TColor Paper = RGBColor(0, 128, 64);

// Row k above the bottom row in 16.16 fixed point: the bottom row is exactly `bottom`, each
// row up adds (top - bottom) * 65536 / height, truncated.
TColor RowColor(int k, int height, TColor bottom, TColor top) {
    auto channel = [&](int c0, int c1) {
        const int step = (c1 * 65536 - c0 * 65536) / height;
        return (c0 * 65536 + k * step) >> 16;
    };
    return RGBColor(channel(RedOf(bottom), RedOf(top)), channel(GreenOf(bottom), GreenOf(top)),
                    channel(BlueOf(bottom), BlueOf(top)));
}

// Whether every pixel of `bmp` outside `inside` is still the paper.
bool PaperOutside(TBitmap& bmp, const TRect& inside) {
    for (int y = 0; y < bmp.Height(); ++y)
        for (int x = 0; x < bmp.Width(); ++x)
            if (!inside.Contains(x, y) && bmp.Canvas().Pixel(x, y) != Paper) return false;
    return true;
}

bool AllPaper(TBitmap& bmp) {
    return PaperOutside(bmp, {});
}

TEST(FillVerticalGradient, TheDownloadButtonFace) {
    // 533 x 43 from 235,235,228 at the bottom towards white: per row +30481 on red and
    // green and +41150 on blue (16.16), so 42 steps up reach 254.5 and 254.4.
    TBitmap bmp(537, 49);
    FillBitmap(bmp, Paper);
    const TRect face{2, 3, 535, 46};
    FillVerticalGradient(bmp.Canvas(), face, RGBColor(235, 235, 228), clWhite);
    for (int x : {2, 9, 10, 300, 534}) {
        EXPECT_EQ(PixelAt(bmp, x, 45), "235,235,228") << x;
        EXPECT_EQ(PixelAt(bmp, x, 3), "254,254,254") << x;
        // 21 steps up: 235 + 9.77 and 228 + 13.19.
        EXPECT_EQ(PixelAt(bmp, x, 24), "244,244,241") << x;
    }
    EXPECT_TRUE(PaperOutside(bmp, face));
}

TEST(FillVerticalGradient, EveryColumnOfARowAlikeAtAnyWidth) {
    // Widths around the 8-pixel strip and its doublings, and one far past them.
    const int height = 10;
    const TColor bottom = RGBColor(10, 250, 0), top = RGBColor(200, 100, 55);
    for (int width : {1, 7, 8, 9, 17, 537}) {
        TBitmap bmp(width + 2, height + 2);
        FillBitmap(bmp, Paper);
        const TRect rect{1, 1, width + 1, height + 1};
        FillVerticalGradient(bmp.Canvas(), rect, bottom, top);
        for (int y = 1; y <= height; ++y) {
            const TColor expected = RowColor(height - y, height, bottom, top);
            int wrong = 0;
            for (int x = 1; x <= width; ++x)
                if (bmp.Canvas().Pixel(x, y) != expected) ++wrong;
            EXPECT_EQ(wrong, 0) << "width " << width << ", row " << y << " should be "
                                << RgbText(expected) << ", starts " << PixelAt(bmp, 1, y)
                                << ", ends " << PixelAt(bmp, width, y);
        }
        EXPECT_TRUE(PaperOutside(bmp, rect)) << "width " << width;
    }
}

TEST(FillVerticalGradient, FallingChannelsAndSystemColours) {
    // White down to black over 4 rows: 255 - 63.75 k, truncated by the shift.
    TBitmap bmp(3, 4);
    FillVerticalGradient(bmp.Canvas(), {0, 0, 3, 4}, clWhite, clBlack);
    EXPECT_EQ(PixelAt(bmp, 1, 3), "255,255,255");
    EXPECT_EQ(PixelAt(bmp, 1, 2), "191,191,191");
    EXPECT_EQ(PixelAt(bmp, 1, 1), "127,127,127");
    EXPECT_EQ(PixelAt(bmp, 1, 0), "63,63,63");
    // A system colour is used at its current value.
    FillVerticalGradient(bmp.Canvas(), {0, 0, 3, 4}, clBtnFace, clBtnFace);
    EXPECT_EQ(PixelAt(bmp, 2, 0), RgbText(GetSysColor(COLOR_BTNFACE)));
}

TEST(FillVerticalGradient, AnEmptyRectDrawsNothing) {
    TBitmap bmp(10, 10);
    FillBitmap(bmp, Paper);
    FillVerticalGradient(bmp.Canvas(), {2, 2, 2, 8}, clBlack, clWhite);
    FillVerticalGradient(bmp.Canvas(), {2, 2, 8, 2}, clBlack, clWhite);
    EXPECT_TRUE(AllPaper(bmp));
}

// Sets FullColorScreen for one test and puts the start-up value back.
class FullColorScreenAs {
public:
    explicit FullColorScreenAs(bool value) : FSaved(FullColorScreen) { FullColorScreen = value; }
    ~FullColorScreenAs() { FullColorScreen = FSaved; }

private:
    bool FSaved;
};

bool HasClipRegion(HDC dc) {
    HRGN rgn = CreateRectRgn(0, 0, 0, 0);
    const int result = GetClipRgn(dc, rgn);
    DeleteObject(rgn);
    return result != 0;
}

TEST(PaintGradientRing, OnlyTheTwoPixelRingJustInside) {
    FullColorScreenAs full(true);
    // 12 x 10 at (1, 1) from black up towards 100,200,250: 10, 20 and 25 per row exactly.
    TBitmap bmp(14, 12);
    FillBitmap(bmp, Paper);
    TCanvas& c = bmp.Canvas();
    PaintGradientRing(c, {1, 1, 13, 11}, clBlack, RGBColor(100, 200, 250));
    EXPECT_EQ(PixelAt(bmp, 5, 10), "0,0,0");
    EXPECT_EQ(PixelAt(bmp, 5, 9), "10,20,25");
    EXPECT_EQ(PixelAt(bmp, 5, 2), "80,160,200");
    EXPECT_EQ(PixelAt(bmp, 12, 1), "90,180,225");
    EXPECT_EQ(PixelAt(bmp, 1, 5), "50,100,125");
    EXPECT_EQ(PixelAt(bmp, 2, 3), "70,140,175");
    EXPECT_EQ(PixelAt(bmp, 11, 8), "20,40,50");
    // The face (rect shrunk by 2) and everything outside keep the paper.
    EXPECT_TRUE(PaperOutside(bmp, {1, 1, 13, 11}));
    for (TPoint p : {TPoint{3, 3}, TPoint{10, 3}, TPoint{3, 8}, TPoint{10, 8}, TPoint{6, 5}})
        EXPECT_EQ(PixelAt(bmp, p.X, p.Y), RgbText(Paper)) << p.X << "," << p.Y;
    EXPECT_FALSE(HasClipRegion(c.Handle())) << "the ring's clipping must not stay behind";
    // And the face can be painted afterwards.
    c.Brush().SetColor(clRed);
    c.FillRect({3, 3, 11, 9});
    EXPECT_EQ(PixelAt(bmp, 6, 5), "255,0,0");
}

TEST(PaintGradientRing, ClearsClippingThatWasThereBefore) {
    FullColorScreenAs full(true);
    TBitmap bmp(10, 10);
    FillBitmap(bmp, Paper);
    bmp.Canvas().IntersectClipRect({0, 0, 5, 5});
    PaintGradientRing(bmp.Canvas(), {0, 0, 10, 10}, clWhite, clWhite);
    EXPECT_FALSE(HasClipRegion(bmp.Canvas().Handle()));
}

TEST(PaintGradientRing, NothingOnAScreenOf256ColoursOrFewer) {
    FullColorScreenAs palette(false);
    TBitmap bmp(10, 10);
    FillBitmap(bmp, Paper);
    PaintGradientRing(bmp.Canvas(), {0, 0, 10, 10}, clBlack, clWhite);
    EXPECT_TRUE(AllPaper(bmp));
}

} // namespace
