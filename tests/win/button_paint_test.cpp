// The styled button's pixels, configured as the download button of the main window: 537 x 49,
// face 244,244,240, frame 0,60,116, hot tracking, on a form of colour 240,240,240. Each state
// is painted into a bitmap through WM_PRINTCLIENT with the background erase, as a paint of
// the window would do it.
#include "TestSupport.h"

#include "controls/RzButton.h"
#include "controls/RzColorMath.h"
#include "controls/RzFrames.h"
#include "framework/Form.h"

#include <memory>

namespace {

constexpr int W = 537, H = 49;
constexpr TColor Face = 0xF0F4F4;
constexpr TColor Paper = RGBColor(255, 0, 255); // what the bitmap holds before the paint
const std::string ParentGrey = "240,240,240";
const std::string Outline = "0,60,116";
const std::string RingDark = "219,219,219"; // DimColor(240,240,240; 20)
const std::string White = "255,255,255";

// Takes the focus away from the button without being a button itself.
class TFocusable : public TCustomControl {
public:
    explicit TFocusable(TComponent* owner) : TCustomControl(owner) { SetTabStop(true); }
};

struct ButtonPaint : ::testing::Test {
    std::unique_ptr<TForm> Form = std::make_unique<TForm>(nullptr);
    TRzBitBtn* Button = nullptr;
    TFocusable* Other = nullptr;
    bool SavedFullColor = FullColorScreen;

    void SetUp() override {
        FullColorScreen = true; // the gradients are drawn only on a full-colour display
        Form->SetBounds(0, 0, 681, 211);
        Form->SetColor(RGBColor(240, 240, 240));
        Other = new TFocusable(Form.get());
        Other->SetBounds(600, 0, 20, 20);
        Other->SetParent(Form.get());
        Button = new TRzBitBtn(Form.get());
        Button->SetBounds(48, 104, W, H);
        Button->SetColor(Face);
        Button->SetFrameColor(0x743C00);
        Button->Font().SetHeight(-20);
        Button->Font().SetName("微软雅黑");
        Button->Font().SetStyle(fsBold);
        Button->Font().SetCharset(ANSI_CHARSET);
        Button->SetCaption("下载Orlenz软件完整安装包");
        Button->SetParent(Form.get());
        Button->SetHotTrack(true);
        Form->Show();
        Other->SetFocus();
    }
    void TearDown() override { FullColorScreen = SavedFullColor; }

    void Render(TBitmap& bmp) {
        bmp.SetSize(W, H);
        FillBitmap(bmp, Paper);
        PrintClient(Button->Handle(), bmp);
    }
    void Press() {
        SendMessageA(Button->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 20));
    }
};

// The smallest rectangle holding the caption's ink (pixels much darker than any face), within
// the caption's room.
TRect InkBounds(TBitmap& bmp, TColor ink) {
    TRect box{W, H, 0, 0};
    for (int y = 5; y < H - 5; ++y)
        for (int x = 5; x < W - 5; ++x) {
            const TColor c = bmp.Canvas().Pixel(x, y);
            const bool isInk =
                ink == clNone ? RedOf(c) + GreenOf(c) + BlueOf(c) < 150 : c == ColorToRGB(ink);
            if (!isInk) continue;
            box = {std::min(box.Left, x), std::min(box.Top, y), std::max(box.Right, x + 1),
                   std::max(box.Bottom, y + 1)};
        }
    return box;
}

TEST_F(ButtonPaint, NormalFaceOutlineAndOuterRing) {
    TBitmap bmp;
    Render(bmp);
    // The face: two dark rows at the bottom, a gradient above them.
    EXPECT_EQ(PixelAt(bmp, 5, 45), "226,226,216");
    EXPECT_EQ(PixelAt(bmp, 5, 46), "217,217,203");
    EXPECT_EQ(PixelAt(bmp, 5, 44), "235,235,228");
    EXPECT_EQ(PixelAt(bmp, 5, 2), "254,254,254");
    EXPECT_EQ(PixelAt(bmp, 534, 2), "254,254,254");
    // The outline on (1, 1, 536, 48) without its corner pixels.
    for (auto [x, y] : {std::pair{1, 2},
                        {1, 46},
                        {2, 1},
                        {534, 1},
                        {535, 2},
                        {535, 46},
                        {2, 47},
                        {534, 47},
                        {200, 1},
                        {200, 47}})
        EXPECT_EQ(PixelAt(bmp, x, y), Outline) << x << "," << y;
    EXPECT_EQ(PixelAt(bmp, 1, 1), RingDark);
    EXPECT_EQ(PixelAt(bmp, 535, 1), RingDark);
    EXPECT_EQ(PixelAt(bmp, 1, 47), RingDark);
    EXPECT_EQ(PixelAt(bmp, 535, 47), White);
    // The outer ring: dark on the left and top, light on the right and bottom.
    for (auto [x, y] : {std::pair{0, 2}, {0, 46}, {2, 0}, {534, 0}})
        EXPECT_EQ(PixelAt(bmp, x, y), RingDark) << x << "," << y;
    for (auto [x, y] : {std::pair{536, 2}, {536, 46}, {2, 48}, {534, 48}})
        EXPECT_EQ(PixelAt(bmp, x, y), White) << x << "," << y;
    // Three pixels at each corner show the parent.
    for (auto [x, y] : {std::pair{0, 0},
                        {1, 0},
                        {0, 1},
                        {536, 0},
                        {535, 0},
                        {536, 1},
                        {0, 48},
                        {1, 48},
                        {0, 47},
                        {536, 48},
                        {535, 48},
                        {536, 47}})
        EXPECT_EQ(PixelAt(bmp, x, y), ParentGrey) << x << "," << y;
    // No focus dots while another control has the focus.
    EXPECT_EQ(PixelAt(bmp, 4, 3), PixelAt(bmp, 5, 3));
}

TEST_F(ButtonPaint, UnderThePointerTheInnerRingGetsTheHotGradient) {
    SendMessageA(Button->Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(100, 20));
    TBitmap bmp;
    Render(bmp);
    EXPECT_EQ(PixelAt(bmp, 100, 46), "240,155,20");
    EXPECT_EQ(PixelAt(bmp, 100, 45), "240,156,23");
    EXPECT_EQ(PixelAt(bmp, 100, 2), "250,228,191");
    EXPECT_EQ(PixelAt(bmp, 2, 46), "240,155,20");
    EXPECT_EQ(PixelAt(bmp, 534, 2), "250,228,191");
    // Inside the two-pixel ring the plain face stays.
    EXPECT_EQ(PixelAt(bmp, 5, 44), "235,235,228");
    EXPECT_EQ(PixelAt(bmp, 4, 4), PixelAt(bmp, 5, 4));
    EXPECT_NE(PixelAt(bmp, 3, 4), PixelAt(bmp, 4, 4));
    EXPECT_EQ(PixelAt(bmp, 1, 20), Outline);

    SendMessageA(Button->Handle(), WM_MOUSELEAVE, 0, 0);
    Render(bmp);
    EXPECT_EQ(PixelAt(bmp, 100, 46), "217,217,203") << "the pointer has gone";
}

TEST_F(ButtonPaint, PressedFaceIsFlatAndTheCaptionStays) {
    TBitmap normal, pressed;
    Render(normal);
    Press();
    Render(pressed);
    for (auto [x, y] : {std::pair{5, 2}, {5, 44}, {5, 45}, {5, 46}, {534, 46}})
        EXPECT_EQ(PixelAt(pressed, x, y), "235,235,228") << x << "," << y;
    EXPECT_EQ(PixelAt(pressed, 1, 20), Outline);
    const TRect before = InkBounds(normal, clNone);
    const TRect after = InkBounds(pressed, clNone);
    ASSERT_FALSE(before.IsEmpty()) << "the caption must be drawn";
    EXPECT_EQ(after, before);
    EXPECT_GT(before.Width(), 150) << "the whole caption on one line";
}

TEST_F(ButtonPaint, DisabledShowsTheParentRoundAndAGreyCaption) {
    Button->SetEnabled(false);
    TBitmap bmp;
    Render(bmp);
    for (auto [x, y] : {std::pair{0, 0}, {0, 20}, {20, 0}, {536, 20}, {20, 48}, {1, 1}, {535, 47}})
        EXPECT_EQ(PixelAt(bmp, x, y), ParentGrey) << x << "," << y;
    for (auto [x, y] : {std::pair{1, 2}, {2, 1}, {1, 20}, {535, 20}, {20, 47}})
        EXPECT_EQ(PixelAt(bmp, x, y), "172,172,142") << x << "," << y;
    for (auto [x, y] : {std::pair{2, 2}, {5, 44}, {5, 46}, {534, 46}})
        EXPECT_EQ(PixelAt(bmp, x, y), "244,244,240") << x << "," << y;
    EXPECT_FALSE(InkBounds(bmp, clGrayText).IsEmpty()) << "the caption in the grey text colour";
    EXPECT_TRUE(InkBounds(bmp, clWindowText).IsEmpty()) << "and nothing in the font's colour";
}

TEST_F(ButtonPaint, FocusedShowsDotsAndTheFocusGradient) {
    Button->SetFocus();
    ASSERT_TRUE(Button->Focused());
    TBitmap bmp;
    Render(bmp);
    // Dots every second pixel on (3, 3, 534, 46).
    for (auto [x, y] :
         {std::pair{3, 4}, {3, 44}, {533, 4}, {533, 44}, {4, 3}, {532, 3}, {4, 45}, {532, 45}})
        EXPECT_EQ(PixelAt(bmp, x, y), "0,0,0") << x << "," << y;
    for (auto [x, y] : {std::pair{3, 5}, {5, 3}, {533, 5}, {5, 45}, {3, 3}})
        EXPECT_NE(PixelAt(bmp, x, y), "0,0,0") << x << "," << y;
    // The ring inside (2, 2, 535, 47) runs from a mix of the highlight and the brightened face.
    const TColor light = BrightenColor(Face, 30);
    EXPECT_EQ(light, clWhite);
    EXPECT_EQ(PixelAt(bmp, 100, 46), RgbText(MixColorPair(clHighlight, light, 160)));
    EXPECT_EQ(PixelAt(bmp, 5, 20), PixelAt(bmp, 6, 20)) << "the face inside the ring is plain";
}

TEST_F(ButtonPaint, ClassicFaceIsATintedBevelAndItsCaptionMovesWhenPressed) {
    Button->SetHotTrack(false);
    TBitmap normal, pressed;
    Render(normal);
    EXPECT_EQ(PixelAt(normal, 0, 0), White); // BrightenColor(face, 100)
    EXPECT_EQ(PixelAt(normal, 0, 20), White);
    EXPECT_EQ(PixelAt(normal, 536, 20), "154,154,118"); // DimColor(face, 100)
    EXPECT_EQ(PixelAt(normal, 536, 0), "154,154,118");
    EXPECT_EQ(PixelAt(normal, 1, 20), White);           // BrightenColor(face, 40)
    EXPECT_EQ(PixelAt(normal, 535, 20), "199,199,179"); // DimColor(face, 50)
    EXPECT_EQ(PixelAt(normal, 5, 5), "244,244,240");
    EXPECT_EQ(PixelAt(normal, 5, 46), "244,244,240");

    Press();
    Render(pressed);
    for (auto [x, y] : {std::pair{0, 20}, {20, 0}, {536, 20}, {20, 48}})
        EXPECT_EQ(PixelAt(pressed, x, y), "154,154,118") << x << "," << y;
    EXPECT_EQ(PixelAt(pressed, 1, 20), "199,199,179");
    const TRect before = InkBounds(normal, clNone);
    ASSERT_FALSE(before.IsEmpty());
    EXPECT_EQ(InkBounds(pressed, clNone), before.Offset(1, 1));

    // Released with the focus kept: the frame of the window-frame colour surrounds the bevel.
    SendMessageA(Button->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(100, 20));
    TBitmap focused;
    Render(focused);
    EXPECT_EQ(PixelAt(focused, 0, 20), RgbText(clWindowFrame));
    EXPECT_EQ(PixelAt(focused, 1, 20), White);
}

TEST_F(ButtonPaint, TextStylesAddOffsetCopiesOfTheCaption) {
    constexpr TColor Red = RGBColor(255, 0, 0), Lime = RGBColor(0, 255, 0);
    Button->Font().SetColor(clBlack);
    Button->SetTextShadowColor(Red);
    Button->SetTextHighlightColor(Lime);
    TBitmap bmp;
    Button->SetTextStyle(tsShadow);
    Render(bmp);
    const TRect text = InkBounds(bmp, clBlack);
    ASSERT_FALSE(text.IsEmpty());
    const TRect shadow = InkBounds(bmp, Red);
    EXPECT_EQ(shadow.Right, text.Right + 2);
    EXPECT_EQ(shadow.Bottom, text.Bottom + 2);

    Button->SetTextStyle(tsRaised);
    Render(bmp);
    // One pixel apart, the copies mostly hide under the caption: what shows is their edge.
    EXPECT_FALSE(InkBounds(bmp, Red).IsEmpty()) << "dark copy below right";
    EXPECT_FALSE(InkBounds(bmp, Lime).IsEmpty()) << "light copy above left";
    Button->SetLightTextStyle(true);
    Render(bmp);
    EXPECT_TRUE(InkBounds(bmp, Red).IsEmpty()) << "a light raised style keeps the light copy only";
    EXPECT_FALSE(InkBounds(bmp, Lime).IsEmpty());

    // Right-aligned text keeps the shadow depth free at the right.
    Button->SetTextStyle(tsNormal);
    Button->SetAlignment(taRightJustify);
    Render(bmp);
    const TRect right = InkBounds(bmp, clBlack);
    Button->SetTextShadowDepth(0);
    Render(bmp);
    EXPECT_EQ(InkBounds(bmp, clBlack), right.Offset(2, 0));
}

TEST_F(ButtonPaint, LatchedGroupButtonShowsTheDownPattern) {
    Button->SetGroupIndex(1);
    Button->SetDown(true);
    ASSERT_TRUE(Button->Down());
    TBitmap bmp;
    Render(bmp);
    EXPECT_EQ(PixelAt(bmp, 10, 10), "192,192,192");
    EXPECT_EQ(PixelAt(bmp, 11, 10), "244,244,240");
    EXPECT_EQ(PixelAt(bmp, 12, 46), "192,192,192");
    EXPECT_EQ(PixelAt(bmp, 11, 46), "244,244,240");
    EXPECT_EQ(PixelAt(bmp, 1, 20), Outline);

    Button->SetShowDownPattern(false);
    Render(bmp);
    EXPECT_EQ(PixelAt(bmp, 10, 10), "235,235,228") << "a plain pressed face";
    EXPECT_EQ(PixelAt(bmp, 11, 10), "235,235,228");
}

} // namespace
