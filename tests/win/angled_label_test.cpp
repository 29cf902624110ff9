// The styled label with turned (flat) and curved text on a real form: the Angle and Rotation
// setters and the face that can turn, the size of an auto-sized label at an angle, and where
// the ink lands in the rendered window.
#include "TestSupport.h"

#include "controls/RzLabel.h"
#include "framework/Form.h"

#include <cmath>
#include <memory>
#include <optional>
#include <string>

namespace {

class TCountingLabel : public TRzLabel {
public:
    using TRzLabel::TRzLabel;
    int Paints = 0;

protected:
    void Paint() override {
        ++Paints;
        TRzLabel::Paint();
    }
};

// Wine's raster "Courier": shipped with Wine, not installed in a new prefix; lent to this
// process only.
class TRasterFace {
public:
    static constexpr const char* File = "Z:\\usr\\share\\wine\\fonts\\coure.fon";
    TRasterFace() : FAdded(AddFontResourceExA(File, FR_PRIVATE, nullptr) != 0) {}
    ~TRasterFace() {
        if (FAdded) RemoveFontResourceExA(File, FR_PRIVATE, nullptr);
    }
    bool Added() const { return FAdded; }

private:
    bool FAdded;
};

// A shown form (background clBtnFace) rendered into a bitmap.
class AngledLabelTest : public ::testing::Test {
protected:
    void SetUp() override {
        Form = std::make_unique<TForm>(nullptr);
        Form->SetBounds(0, 0, 700, 500);
        Form->Show();
    }

    template <typename Label = TRzLabel>
    Label* Add(int left, int top, const std::string& face = "Tahoma") {
        auto* label = new Label(Form.get());
        label->SetParent(Form.get());
        label->SetLeft(left);
        label->SetTop(top);
        label->SetTransparent(true);
        label->Font().SetName(face);
        label->Font().SetHeight(-16);
        label->Font().SetColor(clRed);
        return label;
    }

    void Render() {
        Bitmap.SetSize(Form->ClientRect().Width(), Form->ClientRect().Height());
        PrintClient(Form->Handle(), Bitmap);
    }

    // `color` painted over the background, also where edge smoothing blended the two.
    bool IsInk(int x, int y, TColor color) {
        const TColor c = ColorToRGB(color), bg = ColorToRGB(clBtnFace);
        const uint32_t p = Bitmap.ScanLine(y)[x]; // 0x00RRGGBB
        const int v[] = {int(p >> 16) & 0xFF, int(p >> 8) & 0xFF, int(p) & 0xFF};
        const int a[] = {RedOf(bg), GreenOf(bg), BlueOf(bg)},
                  b[] = {RedOf(c), GreenOf(c), BlueOf(c)};
        bool differs = false;
        for (int i = 0; i < 3; ++i) {
            if (v[i] < std::min(a[i], b[i]) || v[i] > std::max(a[i], b[i])) return false;
            differs = differs || v[i] != a[i];
        }
        return differs;
    }

    // The box around the ink of `color` in `area` and how many pixels it has.
    std::optional<TRect> InkOf(TColor color, const TRect& area = {0, 0, 10000, 10000},
                               int* count = nullptr) {
        std::optional<TRect> box;
        int n = 0;
        for (int y = std::max(area.Top, 0); y < std::min(area.Bottom, Bitmap.Height()); ++y)
            for (int x = std::max(area.Left, 0); x < std::min(area.Right, Bitmap.Width()); ++x) {
                if (!IsInk(x, y, color)) continue;
                ++n;
                if (!box) box = TRect{x, y, x + 1, y + 1};
                *box = {std::min(box->Left, x), std::min(box->Top, y), std::max(box->Right, x + 1),
                        std::max(box->Bottom, y + 1)};
            }
        if (count) *count = n;
        return box;
    }
    int InkCount(TColor color, const TRect& area) {
        int n = 0;
        InkOf(color, area, &n);
        return n;
    }

    static TSize Measured(const std::string& text) {
        TBitmap probe(1, 1);
        probe.Canvas().Font().SetName("Tahoma");
        probe.Canvas().Font().SetHeight(-16);
        return probe.Canvas().TextExtent(text);
    }

    std::unique_ptr<TForm> Form;
    TBitmap Bitmap;
};

TPoint MiddleOf(const TRect& r) {
    return {(r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2};
}

TEST_F(AngledLabelTest, SettersKeepTheAngleInOneTurnAndTheFaceTurnable) {
    auto* label = Add<TCountingLabel>(20, 20);
    label->SetCaption("Wxy");
    label->SetAngle(-30);
    EXPECT_EQ(label->Angle(), 330);
    EXPECT_EQ(label->Rotation(), roFlat) << "an angle turns straight text flat";
    label->SetAngle(-400);
    EXPECT_EQ(label->Angle(), 320);
    label->Paints = 0;
    label->SetAngle(370);
    EXPECT_EQ(label->Angle(), 10);
    EXPECT_EQ(label->Paints, 1) << "painted before the assignment returns";
    label->SetAngle(10);
    EXPECT_EQ(label->Paints, 1) << "the same angle again does nothing";
    EXPECT_EQ(label->Font().Name(), "Tahoma") << "a TrueType face is kept";

    TRasterFace courier;
    ASSERT_TRUE(courier.Added()) << TRasterFace::File;
    TRzLabel* raster = Add(20, 60, "Courier");
    ASSERT_FALSE(FontIsTrueType(raster->Font()));
    raster->SetAngle(45);
    EXPECT_EQ(raster->Font().Name(), "Verdana");
    EXPECT_EQ(raster->Angle(), 45) << "the new face turns: the angle stays";
    EXPECT_EQ(raster->Rotation(), roFlat);
    raster->SetRotation(roNone);
    EXPECT_EQ(raster->Angle(), 0);
    // A curve keeps its start angle; flat text starts again unturned, around the middle.
    raster->SetAngle(60);
    raster->SetRotation(roCurve);
    raster->SetCenterPoint(cpLowerLeft);
    EXPECT_EQ(raster->Angle(), 60);
    raster->SetRotation(roFlat);
    EXPECT_EQ(raster->Angle(), 0);
    EXPECT_EQ(raster->CenterPoint(), cpCenter);
    // A later face that cannot turn takes the angle, not the rotation.
    raster->SetAngle(30);
    raster->Font().SetName("Courier");
    EXPECT_EQ(raster->Angle(), 0);
    EXPECT_EQ(raster->Rotation(), roFlat);

    TRzLabel* curved = Add(20, 100, "Courier");
    curved->SetRotation(roCurve);
    EXPECT_EQ(curved->Font().Name(), "Verdana");
    TRzLabel* loading = Add(20, 140, "Courier");
    loading->BeginLoading();
    loading->SetAngle(45);
    loading->SetRotation(roCurve);
    EXPECT_EQ(loading->Font().Name(), "Courier") << "not while loading";
    loading->EndLoading();
    EXPECT_EQ(loading->Font().Name(), "Verdana") << "but once loading ends";
    EXPECT_EQ(loading->Angle(), 45) << "a stored angle before its curve is kept";
}

TEST_F(AngledLabelTest, AnAutoSizedLabelTakesTheSizeOfItsTurnedText) {
    TRzLabel* label = Add(300, 20);
    label->SetAlignment(taRightJustify);
    label->SetCaption("Turned text");
    const TSize text = Measured("Turned text");
    const int rightEdge = label->Left() + label->Width();
    label->SetAngle(90);
    EXPECT_EQ(label->BoundsRect(), (TRect{rightEdge - text.cy, 20, rightEdge, 20 + text.cx}))
        << "swapped; right-aligned, the right edge stays";
    label->SetAngle(180);
    EXPECT_EQ(label->Width(), text.cx);
    EXPECT_EQ(label->Height(), text.cy);
    label->SetAngle(45);
    EXPECT_NEAR(label->Width(), (text.cx + text.cy) * std::sqrt(0.5), 1.0);

    // A shadow: the full depth for straight text, none flat at 0 degrees, half of it at 90.
    label->SetShadowDepth(6);
    label->SetTextStyle(tsShadow);
    label->SetRotation(roNone);
    EXPECT_EQ(label->Height(), text.cy + 6) << "back to straight text, the label resizes";
    label->SetRotation(roFlat);
    EXPECT_EQ(label->Height(), text.cy);
    label->SetAngle(90);
    EXPECT_EQ(label->Width(), text.cy + 3);
    EXPECT_EQ(label->Height(), text.cx + 3);
}

TEST_F(AngledLabelTest, FlatTextLiesAlongItsAngleInsideTheLabel) {
    // A heavy first character shows where reading starts: left, bottom, right, top, and
    // bottom left at 45 degrees.
    const int angles[] = {0, 90, 180, 270, 45};
    const TPoint starts[] = {{-1, 0}, {0, 1}, {1, 0}, {0, -1}, {-1, 1}};
    for (int i = 0; i < 5; ++i) {
        TRzLabel* label = Add(200, 100);
        label->SetCaption("M.........");
        label->SetAngle(angles[i]);
        Render();
        const auto ink = InkOf(clRed);
        ASSERT_TRUE(ink.has_value()) << angles[i];
        const TRect b = label->BoundsRect();
        EXPECT_TRUE(ink->Left >= b.Left && ink->Top >= b.Top && ink->Right <= b.Right &&
                    ink->Bottom <= b.Bottom)
            << angles[i];
        // The run lies along its angle: long one way, short the other, or diagonal.
        const int w = ink->Width(), h = ink->Height(), length = Measured(label->Caption()).cx;
        const bool lying = angles[i] % 180 == 0  ? w > 2 * h && w > length * 3 / 4
                           : angles[i] % 90 == 0 ? h > 2 * w && h > length * 3 / 4
                                                 : w > length / 2 && h > length / 2;
        EXPECT_TRUE(lying) << angles[i] << ": " << w << " x " << h;

        // The heavier half of the ink: -1 left or top, 1 right or bottom.
        const TPoint m = MiddleOf(*ink);
        const auto heavier = [](int low, int high) {
            return high > 2 * low ? 1 : low > 2 * high ? -1 : 0;
        };
        const int hx = heavier(InkCount(clRed, {ink->Left, ink->Top, m.X, ink->Bottom}),
                               InkCount(clRed, {m.X, ink->Top, ink->Right, ink->Bottom}));
        const int hy = heavier(InkCount(clRed, {ink->Left, ink->Top, ink->Right, m.Y}),
                               InkCount(clRed, {ink->Left, m.Y, ink->Right, ink->Bottom}));
        EXPECT_TRUE(starts[i].X == 0 || hx == starts[i].X) << angles[i];
        EXPECT_TRUE(starts[i].Y == 0 || hy == starts[i].Y) << angles[i];
        delete label;
    }
}

TEST_F(AngledLabelTest, FlatTextStylesAndTheDisabledLook) {
    TRzLabel* label = Add(100, 20);
    label->SetAutoSize(false);
    label->SetBounds(100, 20, 60, 300);
    label->SetAlignment(taCenter);
    label->SetCaption("Wxyz");
    label->SetAngle(90);
    label->SetHighlightColor(clLime);
    label->SetShadowColor(clBlue);
    Render();
    const auto plain = InkOf(clRed);
    ASSERT_TRUE(plain.has_value());
    EXPECT_LE(std::abs((plain->Top - 20) - (320 - plain->Bottom)), 3) << "centred";

    label->SetShadowDepth(4);
    label->SetTextStyle(tsShadow);
    Render();
    const auto text = InkOf(clRed), shadow = InkOf(clBlue);
    ASSERT_TRUE(text && shadow);
    EXPECT_EQ(text->Right, plain->Right - 2) << "the text moves left by half the depth";
    EXPECT_EQ(shadow->Right - text->Right, 4) << "its shadow falls the depth down right";
    EXPECT_EQ(shadow->Bottom - text->Bottom, 4);

    label->SetTextStyle(tsRaised);
    Render();
    const auto light = InkOf(clLime), dark = InkOf(clBlue);
    ASSERT_TRUE(light && dark);
    EXPECT_EQ(InkOf(clRed), plain);
    EXPECT_EQ(light->Left, plain->Left - 1);
    EXPECT_EQ(light->Top, plain->Top - 1);
    EXPECT_EQ(dark->Right, plain->Right + 1);
    EXPECT_EQ(dark->Bottom, plain->Bottom + 1);

    label->SetEnabled(false);
    Render();
    EXPECT_EQ(InkOf(clGrayText), plain) << "once, grey";
    EXPECT_FALSE(InkOf(clRed) || InkOf(clLime) || InkOf(clBlue)) << "without copies";
}

TEST_F(AngledLabelTest, CurvedTextRunsClockwiseFromItsStartAngle) {
    // An arc over the top of the box, anchored at the bottom's middle, starting on the left.
    TRzLabel* label = Add(100, 20);
    label->SetAutoSize(false);
    label->SetBounds(100, 20, 240, 140);
    label->SetRotation(roCurve);
    label->SetCenterPoint(cpLowerCenter);
    label->SetAngle(90);
    EXPECT_EQ(label->AnchorPoint(), (TPoint{120, 140}));
    EXPECT_EQ(label->ArcRadii(), (TPoint{120, 140}));

    // The n-th character alone: a space steps along the arc like any other character.
    TPoint previous{0, 0};
    int highest = 1000;
    for (int n = 0; n <= 24; n += 4) {
        label->SetCaption(std::string(static_cast<size_t>(n), ' ') + "M");
        Render();
        const auto ink = InkOf(clRed);
        ASSERT_TRUE(ink.has_value()) << n;
        const TPoint p = MiddleOf(*ink);
        EXPECT_TRUE(n > 0 || (p.X < 100 + 40 && p.Y > 20 + 100)) << "starts low on the left";
        EXPECT_GT(p.X, previous.X) << n << ": further right";
        highest = std::min(highest, p.Y);
        previous = p;
    }
    EXPECT_LT(highest, 20 + 40) << "over the top";
    EXPECT_GT(previous.Y, highest + 8) << "and down again on the right";

    // Each character turns with the arc: an I lies on its side on the left, stands on top.
    label->SetCaption("I");
    Render();
    const auto side = InkOf(clRed);
    label->SetAngle(0);
    Render();
    const auto upright = InkOf(clRed);
    ASSERT_TRUE(side && upright);
    EXPECT_GT(side->Width(), 2 * side->Height());
    EXPECT_GT(upright->Height(), 2 * upright->Width());
    EXPECT_LE(std::abs(MiddleOf(*upright).X - (100 + 120)), 2) << "straight above the anchor";
}

TEST_F(AngledLabelTest, CurvedTextWholeCharactersEmbossingAndNoCaption) {
    TRzLabel* label = Add(100, 20, "宋体");
    label->SetAutoSize(false);
    label->SetBounds(100, 20, 200, 200);
    label->SetRotation(roCurve);
    label->SetCaption("");
    Render();
    EXPECT_FALSE(InkOf(clRed).has_value());

    // A double-byte character is drawn whole, upright on top as it is drawn straight.
    TRzLabel* straight = Add(400, 20, "宋体");
    straight->SetCaption("下");
    label->SetCaption("下");
    Render();
    const auto curved = InkOf(clRed, label->BoundsRect());
    const auto plain = InkOf(clRed, straight->BoundsRect());
    ASSERT_TRUE(curved && plain);
    EXPECT_EQ(curved->Width(), plain->Width());
    EXPECT_EQ(curved->Height(), plain->Height());

    // Disabled: embossed, a light copy below right of the dark text.
    label->SetCaption("Wxyz");
    label->SetEnabled(false);
    Render();
    const auto light = InkOf(clBtnHighlight, label->BoundsRect());
    const auto dark = InkOf(clBtnShadow, label->BoundsRect());
    ASSERT_TRUE(light && dark);
    EXPECT_EQ(light->Right, dark->Right + 1);
    EXPECT_EQ(light->Bottom, dark->Bottom + 1);
    EXPECT_FALSE(InkOf(clRed, label->BoundsRect()).has_value());
}

} // namespace
