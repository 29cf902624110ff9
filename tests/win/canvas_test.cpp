// The canvas over a device context: lines, pixels, fills, text, clipping, and that the
// context is handed back as it was taken.
#include "TestSupport.h"

#include "framework/Canvas.h"

namespace {

TEST(Canvas, LinesExcludeTheirEndPoint) {
    TBitmap bmp(10, 10);
    FillBitmap(bmp, clWhite);
    TCanvas& c = bmp.Canvas();
    c.Pen().SetColor(clRed);
    c.MoveTo(1, 1);
    c.LineTo(5, 1);
    EXPECT_EQ(PixelAt(bmp, 1, 1), "255,0,0");
    EXPECT_EQ(PixelAt(bmp, 4, 1), "255,0,0");
    EXPECT_EQ(PixelAt(bmp, 5, 1), "255,255,255");
    EXPECT_EQ(c.PenPos(), (TPoint{5, 1}));
    // A colour change while the pen is selected takes effect on the next line.
    c.Pen().SetColor(clBlue);
    c.LineTo(5, 4);
    EXPECT_EQ(PixelAt(bmp, 5, 1), "0,0,255");
    EXPECT_EQ(PixelAt(bmp, 5, 3), "0,0,255");
    EXPECT_EQ(PixelAt(bmp, 5, 4), "255,255,255");
}

TEST(Canvas, FillRectExcludesRightAndBottom) {
    TBitmap bmp(6, 6);
    FillBitmap(bmp, clWhite);
    bmp.Canvas().Brush().SetColor(RGBColor(10, 20, 30));
    bmp.Canvas().FillRect({1, 1, 4, 3});
    EXPECT_EQ(PixelAt(bmp, 1, 1), "10,20,30");
    EXPECT_EQ(PixelAt(bmp, 3, 2), "10,20,30");
    EXPECT_EQ(PixelAt(bmp, 4, 2), "255,255,255");
    EXPECT_EQ(PixelAt(bmp, 3, 3), "255,255,255");
    EXPECT_EQ(bmp.ScanLine(1)[1], 0x0A141Eu); // DIB order: 0x00RRGGBB
}

TEST(Canvas, SystemColoursAreResolvedWhenDrawing) {
    TBitmap bmp(2, 2);
    bmp.Canvas().SetPixel(0, 0, clBtnFace);
    EXPECT_EQ(PixelAt(bmp, 0, 0), RgbText(GetSysColor(COLOR_BTNFACE)));
}

TEST(Canvas, PatternBrushTilesTheBitmap) {
    TBitmap pattern(8, 8);
    FillBitmap(pattern, clWhite);
    pattern.Canvas().SetPixel(0, 0, clBlack);
    TBitmap bmp(16, 16);
    FillBitmap(bmp, clRed);
    bmp.Canvas().Brush().SetBitmap(&pattern);
    bmp.Canvas().FillRect({0, 0, 16, 16});
    EXPECT_EQ(PixelAt(bmp, 0, 0), "0,0,0");
    EXPECT_EQ(PixelAt(bmp, 8, 8), "0,0,0");
    EXPECT_EQ(PixelAt(bmp, 1, 0), "255,255,255");
}

TEST(Canvas, ClearBrushLeavesTheBackground) {
    TBitmap bmp(20, 20);
    FillBitmap(bmp, clWhite);
    TCanvas& c = bmp.Canvas();
    c.Brush().SetStyle(TBrushStyle::bsClear);
    c.Font().SetColor(clBlack);
    c.TextOut(0, 0, "W");
    // Text drawn without an opaque background: the cell outside the glyph stays white.
    EXPECT_EQ(PixelAt(bmp, 19, 19), "255,255,255");
    EXPECT_EQ(GetBkMode(c.Handle()), TRANSPARENT);
}

TEST(Canvas, ClippingAndItsRemoval) {
    TBitmap bmp(10, 10);
    FillBitmap(bmp, clWhite);
    TCanvas& c = bmp.Canvas();
    c.ExcludeClipRect({2, 2, 8, 8});
    c.Brush().SetColor(clRed);
    c.FillRect({0, 0, 10, 10});
    EXPECT_EQ(PixelAt(bmp, 1, 1), "255,0,0");
    EXPECT_EQ(PixelAt(bmp, 5, 5), "255,255,255");
    c.ClearClipRegion();
    c.Brush().SetColor(clBlue);
    c.FillRect({0, 0, 10, 10});
    EXPECT_EQ(PixelAt(bmp, 5, 5), "0,0,255");
}

TEST(Canvas, HandsTheContextBackAsItWasTaken) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ pen = GetCurrentObject(dc, OBJ_PEN);
    HGDIOBJ brush = GetCurrentObject(dc, OBJ_BRUSH);
    HGDIOBJ font = GetCurrentObject(dc, OBJ_FONT);
    {
        TCanvas c(dc);
        c.Pen().SetColor(clRed);
        c.Brush().SetColor(clBlue);
        c.Font().SetName("Tahoma");
        c.MoveTo(0, 0);
        c.LineTo(1, 1);
        c.FillRect({0, 0, 1, 1});
        c.TextExtent("x");
        c.ExcludeClipRect({0, 0, 1, 1});
        EXPECT_NE(GetCurrentObject(dc, OBJ_PEN), pen);
        EXPECT_NE(GetCurrentObject(dc, OBJ_FONT), font);
    }
    EXPECT_EQ(GetCurrentObject(dc, OBJ_PEN), pen);
    EXPECT_EQ(GetCurrentObject(dc, OBJ_BRUSH), brush);
    EXPECT_EQ(GetCurrentObject(dc, OBJ_FONT), font);
    HRGN rgn = CreateRectRgn(0, 0, 0, 0);
    EXPECT_EQ(GetClipRgn(dc, rgn), 0) << "no clip region may stay behind";
    DeleteObject(rgn);
    DeleteDC(dc);
}

TEST(Canvas, ChineseTextMeasuresInTheReplacedFace) {
    // "正在下载... ..." in 宋体 at a character height of 12 pixels.
    TBitmap bmp(4, 4);
    TCanvas& c = bmp.Canvas();
    c.Font().SetName("宋体");
    c.Font().SetHeight(-12);
    c.Font().SetCharset(GB2312_CHARSET);
    const TSize size = c.TextExtent("正在下载... ...");
    EXPECT_EQ(size.cx, 90);
    EXPECT_EQ(size.cy, 13);
    EXPECT_EQ(GetACP(), 936u);
}

TEST(Font, AChangeIsAnnouncedOnce) {
    TFont font;
    int changes = 0;
    font.OnChange = [&](TObject*) { ++changes; };
    font.SetName(font.Name());
    font.SetHeight(font.Height());
    EXPECT_EQ(changes, 0);
    font.SetStyle(fsBold | fsItalic);
    font.SetColor(clRed);
    EXPECT_EQ(changes, 2);
    TFont other;
    other.Assign(font);
    EXPECT_TRUE(other.SameAs(font));
    LOGFONTA lf;
    other.GetLogFont(lf);
    EXPECT_EQ(lf.lfWeight, FW_BOLD);
    EXPECT_EQ(lf.lfItalic, 1);
}

} // namespace
