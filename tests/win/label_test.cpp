// The framework label and the styled label on a real form: sizing to the text, where the text
// lands in its box, what is filled and what is not, text styles and borders, the text colours
// through blinking and hovering, and the label's place in the shared blink scheduler.
#include "TestSupport.h"

#include "controls/RzBlinkList.h"
#include "controls/RzColorMath.h"
#include "controls/RzLabel.h"
#include "framework/Form.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

// A styled label that counts its paints and remembers the caption it painted last.
class TCountingLabel : public TRzLabel {
public:
    using TRzLabel::TRzLabel;
    int Paints = 0;
    std::string PaintedCaption;

protected:
    void Paint() override {
        ++Paints;
        PaintedCaption = Caption();
        TRzLabel::Paint();
    }
};

// A shown form (the window's background is clBtnFace) that is rendered into a bitmap.
class LabelTest : public ::testing::Test {
protected:
    void SetUp() override {
        Form = std::make_unique<TForm>(nullptr);
        Form->SetBounds(0, 0, 700, 300);
        Form->Show();
    }
    void TearDown() override {
        Form.reset();
        EXPECT_EQ(SharedBlinkList, nullptr) << "the last label takes the scheduler with it";
    }

    template <typename Label = TRzLabel> Label* Add(int left, int top) {
        auto* label = new Label(Form.get());
        label->SetParent(Form.get());
        label->SetLeft(left);
        label->SetTop(top);
        label->Font().SetName("宋体");
        label->Font().SetHeight(-12);
        label->Font().SetColor(clRed);
        return label;
    }

    TBitmap& Render() {
        const TRect client = Form->ClientRect();
        Bitmap.SetSize(client.Width(), client.Height());
        PrintClient(Form->Handle(), Bitmap);
        return Bitmap;
    }

    // The smallest rectangle inside `area` of the last render that holds every pixel of
    // `color` painted over the window's background, also where the text's edge smoothing
    // blended the two: each channel lies between the background's and the colour's.
    std::optional<TRect> InkOf(TColor color, const TRect& area) {
        const TColor c = ColorToRGB(color), bg = ColorToRGB(clBtnFace);
        const auto between = [](int v, int a, int b) {
            return v >= std::min(a, b) && v <= std::max(a, b);
        };
        std::optional<TRect> box;
        for (int y = std::max(area.Top, 0); y < std::min(area.Bottom, Bitmap.Height()); ++y)
            for (int x = std::max(area.Left, 0); x < std::min(area.Right, Bitmap.Width()); ++x) {
                const uint32_t p = Bitmap.ScanLine(y)[x]; // 0x00RRGGBB
                const int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
                if (RGBColor(r, g, b) == bg || !between(r, RedOf(bg), RedOf(c)) ||
                    !between(g, GreenOf(bg), GreenOf(c)) || !between(b, BlueOf(bg), BlueOf(c)))
                    continue;
                if (!box) box = TRect{x, y, x + 1, y + 1};
                box->Left = std::min(box->Left, x);
                box->Top = std::min(box->Top, y);
                box->Right = std::max(box->Right, x + 1);
                box->Bottom = std::max(box->Bottom, y + 1);
            }
        return box;
    }
    std::optional<TRect> InkOf(TColor color) { return InkOf(color, {0, 0, 10000, 10000}); }

    // The size DrawTextA gives `text` in 宋体 at -12 pixels.
    static TSize Measured(const std::string& text, uint8_t charset = DEFAULT_CHARSET) {
        TFont font;
        font.SetName("宋体");
        font.SetHeight(-12);
        font.SetCharset(charset);
        HDC dc = GetDC(nullptr);
        HGDIOBJ old = SelectObject(dc, font.Handle());
        SIZE size{};
        GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
        SelectObject(dc, old);
        ReleaseDC(nullptr, dc);
        return {static_cast<int>(size.cx), static_cast<int>(size.cy)};
    }

    std::unique_ptr<TForm> Form;
    TBitmap Bitmap;
};

// The size text of the main window: a fixed, transparent, right-aligned red box.
TEST_F(LabelTest, SizeTextStandsAtTheRightEdgeOfItsFixedBox) {
    TRzLabel* label = Add(336, 24);
    label->SetBounds(336, 24, 241, 12);
    label->SetAlignment(taRightJustify);
    label->SetAutoSize(false);
    label->Font().SetCharset(ANSI_CHARSET);
    label->SetTransparent(true);
    label->SetColor(clLime); // would show if anything were filled
    label->SetCaption("512 KB/3.50 MB");
    EXPECT_EQ(label->BoundsRect(), Bounds(336, 24, 241, 12));

    Render();
    const auto red = InkOf(clRed);
    ASSERT_TRUE(red.has_value());
    EXPECT_GE(red->Right, 577 - 3);
    EXPECT_LE(red->Right, 577);
    EXPECT_GE(red->Left, 577 - Measured("512 KB/3.50 MB", ANSI_CHARSET).cx);
    EXPECT_FALSE(InkOf(clLime).has_value());
    EXPECT_EQ(PixelAt(Bitmap, 340, 30), RgbText(clBtnFace));

    // Too wide for the box: cut at the box's left edge, its right end visible.
    label->SetCaption("X" + std::string(80, ' ') + "X");
    EXPECT_EQ(label->BoundsRect(), Bounds(336, 24, 241, 12));
    Render();
    const auto cut = InkOf(clRed);
    ASSERT_TRUE(cut.has_value());
    EXPECT_GE(cut->Right, 577 - 3);
    EXPECT_GE(cut->Left, 577 - 2 * Measured("X", ANSI_CHARSET).cx) << "only the last X is inside";
}

TEST_F(LabelTest, ACaptionChangeIsPaintedBeforeTheAssignmentReturns) {
    auto* label = Add<TCountingLabel>(336, 24);
    label->SetAutoSize(false);
    label->SetTransparent(true);
    label->SetCaption("1 KB/2 MB");
    PumpUntil([] { return false; }, 100);

    label->Paints = 0;
    label->SetCaption("1 KB/2 MB");
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(label->Paints, 0) << "the same text again is not painted";

    label->SetCaption("512 KB/3.50 MB");
    EXPECT_GE(label->Paints, 1);
    EXPECT_EQ(label->PaintedCaption, "512 KB/3.50 MB");

    // An opaque label is painted straight onto the form.
    label->SetTransparent(false);
    PumpUntil([] { return false; }, 100);
    label->Paints = 0;
    label->SetCaption("1 MB/3.50 MB");
    EXPECT_EQ(label->Paints, 1);
}

TEST_F(LabelTest, AStatusCaptionLoadedFromTheLayoutTakesTheSizeOfItsText) {
    Form->Font().SetName("宋体");
    Form->Font().SetHeight(-12);
    Form->Font().SetCharset(ANSI_CHARSET);
    auto* label = new TRzLabel(Form.get());
    label->BeginLoading();
    label->SetParent(Form.get());
    label->SetBounds(47, 16, 90, 12);
    label->SetCaption("正在下载... ...");
    label->SetTransparent(true);
    label->SetBlinkIntervalOff(1000);
    label->SetBlinkIntervalOn(1000);
    EXPECT_EQ(label->NormalTextColor(), 0u) << "nothing is taken over while loading";
    label->EndLoading();

    const TSize text = Measured("正在下载... ...", ANSI_CHARSET);
    EXPECT_EQ(label->BoundsRect(), Bounds(47, 16, text.cx, text.cy));
    EXPECT_EQ(label->Width(), 90);
    EXPECT_EQ(label->NormalTextColor(), clWindowText);
    EXPECT_EQ(label->PaintTextColor(), clWindowText);
    EXPECT_EQ(label->BlinkIntervalOn(), 1000);
    EXPECT_EQ(SharedBlinkList->NormalPhaseMs(), 1000);
}

TEST_F(LabelTest, AutoSizeKeepsTheRightEdgeOnlyForRightAlignedText) {
    TRzLabel* right = Add(200, 10);
    right->SetAlignment(taRightJustify);
    right->SetCaption("ab");
    const int rightEdge = right->Left() + right->Width();
    EXPECT_EQ(right->Width(), Measured("ab").cx);
    right->SetCaption("abcdefgh");
    EXPECT_EQ(right->Width(), Measured("abcdefgh").cx);
    EXPECT_EQ(right->Left() + right->Width(), rightEdge);

    TRzLabel* centred = Add(200, 40);
    centred->SetAlignment(taCenter);
    centred->SetCaption("ab");
    centred->SetCaption("abcdefgh");
    EXPECT_EQ(centred->Left(), 200);
    EXPECT_EQ(centred->Width(), Measured("abcdefgh").cx);

    TRzLabel* empty = Add(200, 70);
    empty->SetCaption("abc");
    empty->SetCaption("");
    EXPECT_EQ(empty->Width(), Measured(" ").cx);
    EXPECT_EQ(empty->Height(), Measured(" ").cy);
}

TEST_F(LabelTest, BordersInsetTheTextAndGrowAnAutoSizedLabel) {
    TRzLabel* plain = Add(20, 20);
    plain->SetAutoSize(false);
    plain->SetBounds(20, 20, 120, 30);
    plain->SetCaption("Wxy");
    TRzLabel* status = Add(20, 80);
    status->SetAutoSize(false);
    status->SetBounds(20, 80, 120, 30);
    status->SetCaption("Wxy");
    status->SetBorderOuter(fsStatus);
    status->SetBevelWidth(3);
    status->SetBorderSides(sdLeft | sdTop);
    TRzLabel* rings = Add(20, 140);
    rings->SetAutoSize(false);
    rings->SetBounds(20, 140, 120, 30);
    rings->SetCaption("Wxy");
    rings->SetBorderSides(sdLeft);
    rings->SetBorderWidth(2);
    EXPECT_EQ(rings->BoundsRect(), Bounds(20, 140, 120, 30)) << "no auto-size: only stored";

    Render();
    const auto p = InkOf(clRed, plain->BoundsRect());
    const auto s = InkOf(clRed, status->BoundsRect());
    const auto r = InkOf(clRed, rings->BoundsRect());
    ASSERT_TRUE(p && s && r);
    EXPECT_EQ(s->Left - p->Left, 3);
    EXPECT_EQ((s->Top - 80) - (p->Top - 20), 3);
    EXPECT_EQ(r->Left - p->Left, 2);
    EXPECT_EQ((r->Top - 140) - (p->Top - 20), 2) << "border width insets every side";

    // Auto-size counts the border width only on the chosen sides.
    rings->SetAutoSize(true);
    EXPECT_EQ(rings->Width(), Measured("Wxy").cx + 2);
    EXPECT_EQ(rings->Height(), Measured("Wxy").cy);
    status->SetAutoSize(true);
    EXPECT_EQ(status->Width(), Measured("Wxy").cx + 3);
    EXPECT_EQ(status->Height(), Measured("Wxy").cy + 3);
}

TEST_F(LabelTest, TextStylesDrawTheirCopiesAroundTheText) {
    TRzLabel* label = Add(20, 20);
    label->SetAutoSize(false);
    label->SetBounds(20, 20, 150, 30);
    label->SetAlignment(taRightJustify);
    label->SetCaption("Wxy");
    label->SetHighlightColor(clLime);
    label->SetShadowColor(clBlue);
    Render();
    auto plain = InkOf(clRed);
    ASSERT_TRUE(plain.has_value());

    label->SetTextStyle(tsShadow);
    label->SetShadowDepth(3);
    Render();
    const auto text = InkOf(clRed);
    const auto shadow = InkOf(clBlue);
    ASSERT_TRUE(text && shadow);
    EXPECT_EQ(text->Right, plain->Right - 3) << "moved left to make room for the shadow";
    EXPECT_EQ(shadow->Right, plain->Right);
    EXPECT_EQ(shadow->Bottom, plain->Bottom + 3);

    // Centred, so that neither copy is cut at the box's edge.
    label->SetAlignment(taCenter);
    label->SetTextStyle(tsNormal);
    Render();
    plain = InkOf(clRed);
    ASSERT_TRUE(plain.has_value());
    label->SetTextStyle(tsRaised);
    Render();
    const auto light = InkOf(clLime), dark = InkOf(clBlue);
    ASSERT_TRUE(light && dark);
    EXPECT_EQ(light->Top, plain->Top - 1);
    EXPECT_EQ(light->Left, plain->Left - 1);
    EXPECT_EQ(dark->Bottom, plain->Bottom + 1);
    EXPECT_EQ(dark->Right, plain->Right + 1);

    // Recessed and light: only the highlight copy, below right.
    label->SetTextStyle(tsRecessed);
    label->SetLightTextStyle(true);
    Render();
    const auto recessed = InkOf(clLime);
    ASSERT_TRUE(recessed.has_value());
    EXPECT_EQ(recessed->Right, plain->Right + 1);
    EXPECT_FALSE(InkOf(clBlue).has_value());

    // Disabled: the text once, grey, and no copies.
    label->SetEnabled(false);
    Render();
    EXPECT_TRUE(InkOf(clGrayText).has_value());
    EXPECT_FALSE(InkOf(clRed).has_value());
    EXPECT_FALSE(InkOf(clLime).has_value());
}

TEST_F(LabelTest, ANewLabelIsOpaqueAndFillsItsInterior) {
    auto* label = new TRzLabel(Form.get());
    label->SetParent(Form.get());
    label->SetBounds(30, 30, 65, 17);
    EXPECT_FALSE(label->Transparent());
    EXPECT_TRUE(label->ParentColor());
    EXPECT_EQ(label->Color(), Form->Color());
    EXPECT_EQ(label->BoundsRect(), Bounds(30, 30, 65, 17));
    label->SetColor(clLime);
    Render();
    EXPECT_EQ(InkOf(clLime), Bounds(30, 30, 65, 17));
    label->SetTransparent(true);
    Render();
    EXPECT_FALSE(InkOf(clLime).has_value());
}

TEST_F(LabelTest, ABlinkingLabelKeepsItsColourAndFollowsThePhases) {
    auto* label = Add<TCountingLabel>(20, 20);
    label->SetCaption("Wxy");
    EXPECT_EQ(label->NormalTextColor(), clRed);
    EXPECT_EQ(label->Perform(BlinkQueryMessage), 0);
    label->SetBlinkColor(clBlue);
    label->Perform(BlinkPhaseMessage, 1);
    EXPECT_EQ(label->PaintTextColor(), clRed) << "a label that does not blink ignores phases";

    label->SetBlinking(true);
    EXPECT_EQ(label->Perform(BlinkQueryMessage), 1);
    label->Paints = 0;
    label->Perform(BlinkPhaseMessage, 1);
    EXPECT_EQ(label->PaintTextColor(), clBlue);
    EXPECT_GE(label->Paints, 1) << "a phase shows at once";
    Render();
    EXPECT_TRUE(InkOf(clBlue).has_value());
    EXPECT_FALSE(InkOf(clRed).has_value());
    label->Perform(BlinkPhaseMessage, 0);
    EXPECT_EQ(label->PaintTextColor(), clRed);

    label->Font().SetColor(clGreen);
    EXPECT_EQ(label->NormalTextColor(), clRed);
    label->SetBlinking(false);
    EXPECT_EQ(label->PaintTextColor(), clRed);
    Render();
    EXPECT_TRUE(InkOf(clRed).has_value());
    EXPECT_FALSE(InkOf(clGreen).has_value());
    label->Font().SetColor(clMaroon);
    EXPECT_EQ(label->PaintTextColor(), clMaroon);
}

TEST_F(LabelTest, HoverColourWhileTheMouseIsOver) {
    TRzLabel* label = Add(20, 20);
    label->SetCaption("Wxy");
    label->SetFlyByEnabled(true);
    label->SetFlyByColor(clBlue);
    std::vector<std::string> events;
    label->OnMouseEnter = [&](TObject* s) { events.push_back(s == label ? "enter" : "?"); };
    label->OnMouseLeave = [&](TObject* s) { events.push_back(s == label ? "leave" : "?"); };

    SendMessageA(Form->Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(22, 22));
    EXPECT_EQ(label->Font().Color(), clBlue);
    EXPECT_EQ(label->PaintTextColor(), clBlue);
    EXPECT_EQ(label->FlyBySavedColor(), clRed);
    SendMessageA(Form->Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(300, 200));
    EXPECT_EQ(label->Font().Color(), clRed);
    EXPECT_EQ(events, (std::vector<std::string>{"enter", "leave"}));

    // Switched off while hovering: the saved colour comes back.
    SendMessageA(Form->Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(22, 22));
    label->SetFlyByEnabled(false);
    EXPECT_EQ(label->Font().Color(), clRed);
}

TEST_F(LabelTest, EveryLabelIsListedWithTheSharedScheduler) {
    ASSERT_EQ(SharedBlinkList, nullptr);
    TRzLabel* a = Add(0, 0);
    ASSERT_NE(SharedBlinkList, nullptr);
    TRzBlinkingControlsList* scheduler = SharedBlinkList;
    TRzLabel* b = Add(0, 40);
    EXPECT_EQ(SharedBlinkList, scheduler);
    EXPECT_EQ(scheduler->RegisteredControls(), (std::vector<TControl*>{a, b}));
    a->SetBlinkIntervalOn(700);
    EXPECT_EQ(b->BlinkIntervalOn(), 700) << "the lengths are shared";
    EXPECT_EQ(b->BlinkIntervalOff(), 500);
    delete a;
    EXPECT_EQ(SharedBlinkList, scheduler);
    EXPECT_EQ(scheduler->ControlCount(), 1);
    delete b;
    EXPECT_EQ(SharedBlinkList, nullptr);
}

TEST_F(LabelTest, FontsAndCondensing) {
    TFont font;
    font.SetName("宋体");
    EXPECT_TRUE(FontIsTrueType(font));

    // A stored angle turns the text flat once loading ends; a TrueType face is kept.
    TRzLabel* turned = Add(20, 60);
    turned->BeginLoading();
    turned->SetAngle(30);
    turned->EndLoading();
    EXPECT_EQ(turned->Rotation(), roFlat);
    EXPECT_EQ(turned->Font().Name(), "宋体");

    TRzLabel* label = Add(20, 20);
    EXPECT_TRUE(label->AutoSize());
    label->SetCondenseCaption(ccWithinPath);
    EXPECT_FALSE(label->AutoSize());
    label->SetAutoSize(true);
    label->SetCondenseCaption(ccNone);
    EXPECT_TRUE(label->AutoSize());
    label->SetCondenseCaption(ccAtEnd);
    EXPECT_FALSE(label->AutoSize());
}

TEST_F(LabelTest, AFrameControllerHandsOverItsSettings) {
    auto* controller = new TRzFrameController(Form.get());
    TRzLabel* label = Add(20, 20);
    label->SetAutoSize(false);
    label->SetFrameController(controller);
    controller->SetColor(clLime); // not visible yet: nothing taken over
    EXPECT_EQ(label->Color(), Form->Color());
    label->SetFrameControllerNotifications(FrameNotification(fcpFrameColor) |
                                           FrameNotification(fcpColor) |
                                           FrameNotification(fcpFrameSides));
    controller->SetFrameSides(sdTop);
    controller->SetFrameColor(clBlue);
    controller->SetFrameVisible(true);
    EXPECT_EQ(label->BorderOuter(), fsNone) << "frame style not asked for";
    EXPECT_EQ(label->BorderSides(), sdTop);
    EXPECT_EQ(label->FlatColor(), clBlue);
    EXPECT_EQ(label->FlatColorAdjustment(), 0);
    EXPECT_EQ(label->Color(), clLime);
    EXPECT_FALSE(label->ParentColor());
    EXPECT_EQ(label->BorderHighlight(), BrightenColor(clLime, 100));
    EXPECT_EQ(label->BorderShadow(), DimColor(clLime, 50));
    delete controller;
    EXPECT_EQ(label->FrameController(), nullptr);
}

TEST_F(LabelTest, TheAcceleratorFocusesTheLabelsControl) {
    auto* edit = new TWinControl(Form.get());
    edit->SetParent(Form.get());
    edit->SetBounds(100, 100, 50, 20);
    auto* label = new TLabel(Form.get());
    label->SetParent(Form.get());
    label->SetCaption("&Name");
    label->SetFocusControl(edit);
    EXPECT_EQ(Form->Perform(CM_DIALOGCHAR, 'x'), 0);
    EXPECT_NE(Form->ActiveControl(), edit);
    EXPECT_EQ(Form->Perform(CM_DIALOGCHAR, 'n'), 1);
    EXPECT_EQ(Form->ActiveControl(), edit);
    delete edit;
    EXPECT_EQ(label->FocusControl(), nullptr);
}

} // namespace
