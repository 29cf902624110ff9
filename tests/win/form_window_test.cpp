// The top-level window a form makes: its frame and caption-bar buttons, its owner (the
// application window with the taskbar entry), scroll bars when the client area is smaller
// than the controls' extent, and scaling for the display.
#include "TestSupport.h"

#include "framework/Form.h"
#include "framework/RadioButton.h"

#include <memory>

namespace {

struct FormWindow : ::testing::Test {
    std::unique_ptr<TForm> Form = std::make_unique<TForm>(nullptr);
    TControl* Far = nullptr;
    void SetUp() override {
        Form->SetBounds(10, 10, 400, 300);
        Far = new TRadioButton(Form.get());
        Far->SetBounds(300, 200, 80, 17);
        Far->SetParent(Form.get());
    }
    LONG_PTR Style() { return GetWindowLongPtrA(Form->Handle(), GWL_STYLE); }
    void SetClientSize(int w, int h) {
        Form->SetClientSize(w, h);
        Application().ProcessMessages();
    }
};

TEST_F(FormWindow, FrameAndCaptionButtonsFollowBorderIcons) {
    Form->SetBorderIcons(biSystemMenu);
    EXPECT_TRUE(Style() & WS_THICKFRAME);
    EXPECT_TRUE(Style() & WS_SYSMENU);
    EXPECT_FALSE(Style() & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
    Form->SetBorderIcons(biSystemMenu | biMinimize);
    EXPECT_TRUE(Style() & WS_MINIMIZEBOX);
    EXPECT_FALSE(Style() & WS_MAXIMIZEBOX);
    EXPECT_EQ(GetWindow(Form->Handle(), GW_OWNER), Application().Handle())
        << "the taskbar entry is the application window's";
}

TEST_F(FormWindow, ScrollBarsComeAndGoWithTheControlsExtent) {
    SetClientSize(400, 300);
    EXPECT_FALSE(Style() & (WS_HSCROLL | WS_VSCROLL)) << "everything visible";

    SetClientSize(200, 300);
    EXPECT_TRUE(Style() & WS_HSCROLL);
    EXPECT_FALSE(Style() & WS_VSCROLL);
    EXPECT_EQ(Far->Left(), 300) << "controls keep their places when the window shrinks";

    SendMessageA(Form->Handle(), WM_HSCROLL, SB_PAGEDOWN, 0);
    const int scrolled = Form->ScrollOffset().X;
    EXPECT_GT(scrolled, 0);
    EXPECT_EQ(Far->Left(), 300 - scrolled);
    RECT r;
    GetWindowRect(static_cast<TWinControl*>(Far)->Handle(), &r);
    POINT p{r.left, r.top};
    ScreenToClient(Form->Handle(), &p);
    EXPECT_EQ(p.x, 300 - scrolled) << "the window moved with it";
    SendMessageA(Form->Handle(), WM_HSCROLL, SB_BOTTOM, 0);
    RECT client;
    GetClientRect(Form->Handle(), &client);
    EXPECT_EQ(Far->Left() + Far->Width(), client.right) << "scrolled to the far edge, no more";

    SetClientSize(150, 100);
    EXPECT_TRUE(Style() & WS_VSCROLL);

    SetClientSize(400, 300);
    EXPECT_FALSE(Style() & (WS_HSCROLL | WS_VSCROLL));
    EXPECT_EQ(Far->Left(), 300) << "scrolled back once there is room";
    EXPECT_EQ(Far->Top(), 200);
}

TEST_F(FormWindow, ScalingForTheDisplayFollowsTheTextHeight) {
    Form->Font().SetName("宋体");
    Form->Font().SetHeight(-12);
    Far->Font().SetHeight(-16);
    Form->SetPixelsPerInch(96);
    Form->SetTextHeight(12);
    const TRect outer = Form->BoundsRect();
    // The same window unscaled: the client area the layout was made with.
    TForm designed(nullptr);
    designed.SetBounds(outer.Left, outer.Top, outer.Width(), outer.Height());
    designed.HandleNeeded();
    const TRect client = designed.ClientRect();

    Form->ScaleForDisplay(96);
    EXPECT_EQ(Form->Font().Height(), -12) << "the designed display: nothing changes";
    EXPECT_EQ(Far->BoundsRect(), Bounds(300, 200, 80, 17));
    EXPECT_EQ(Form->BoundsRect(), outer);

    Form->ScaleForDisplay(192);
    EXPECT_EQ(Form->Font().Height(), -24);
    // What "0" measures in the doubled font decides the controls' factor.
    const int zero = TextExtentIn(Form->Font(), "0").cy;
    ASSERT_NE(zero, 12);
    EXPECT_EQ(Far->BoundsRect(), Bounds(MulDiv(300, zero, 12), MulDiv(200, zero, 12),
                                        MulDiv(80, zero, 12), MulDiv(17, zero, 12)));
    EXPECT_EQ(Far->Font().Height(), MulDiv(-16, zero, 12)) << "its own font too";
    // The client area grows by the same factor, so that the controls fit as designed.
    Form->HandleNeeded();
    EXPECT_EQ(Form->ClientRect(),
              (TRect{0, 0, MulDiv(client.Width(), zero, 12), MulDiv(client.Height(), zero, 12)}));
    EXPECT_FALSE(Style() & (WS_HSCROLL | WS_VSCROLL));
    EXPECT_EQ(Form->BoundsRect().Left, outer.Left) << "placed later, when shown";

    // Made smaller by its frame afterwards, it scrolls as before.
    SetClientSize(200, 150);
    EXPECT_TRUE(Style() & WS_HSCROLL);
    EXPECT_TRUE(Style() & WS_VSCROLL);
}

TEST(ApplicationWindow, CarriesTheTaskbarEntryAndClosesTheMainForm) {
    TForm form(nullptr);
    Application().SetMainForm(&form);
    form.Show();
    const HWND app = Application().Handle();
    EXPECT_TRUE(IsWindowVisible(app));
    RECT r;
    GetWindowRect(app, &r);
    EXPECT_EQ(r.right - r.left, 0);
    EXPECT_EQ(r.bottom - r.top, 0);
    // Close on the taskbar entry reaches the application window.
    SendMessageA(app, WM_CLOSE, 0, 0);
    MSG msg;
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    Application().SetMainForm(nullptr);
}

} // namespace
