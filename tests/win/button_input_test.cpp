// The styled button's behaviour under real window messages: mouse presses and drags, the
// space bar, Enter and Escape through the application's key handling, accelerators, focus,
// enabling, grouped latching and the modal result.
#include "TestSupport.h"

#include "controls/RzButton.h"
#include "framework/Form.h"

#include <memory>
#include <stdexcept>

namespace {

// A button whose internal state the tests may read.
class TProbeButton : public TRzBitBtn {
public:
    explicit TProbeButton(TComponent* owner) : TRzBitBtn(owner) {
        OnClick = [this](TObject*) {
            ++Clicks;
            InPressDuringClick = InPress();
            if (Throw) throw std::runtime_error("click failed");
        };
    }
    using TRzBitBtn::InPress;
    using TRzBitBtn::MouseInside;
    using TRzBitBtn::PressedLook;
    using TRzBitBtn::ReceivesEnter;
    using TRzBitBtn::Tracking;
    using TRzBitBtn::Transparent;
    int Clicks = 0;
    bool InPressDuringClick = false;
    bool Throw = false;
    int Erases = 0;

protected:
    void WndProc(TMessage& m) override {
        if (m.Msg == WM_ERASEBKGND) ++Erases;
        TRzBitBtn::WndProc(m);
    }
};

// A windowed control that takes the focus and is not a styled button.
class TFocusable : public TCustomControl {
public:
    explicit TFocusable(TComponent* owner) : TCustomControl(owner) { SetTabStop(true); }
};

// Sets the modifier keys the thread sees, and clears them again at the end of the scope.
class TModifiersHeld {
public:
    explicit TModifiersHeld(int vk) { Set(vk, 0x80); }
    ~TModifiersHeld() {
        for (int vk : {VK_SHIFT, VK_CONTROL, VK_MENU})
            Set(vk, 0);
    }

private:
    static void Set(int vk, BYTE state) {
        BYTE keys[256];
        GetKeyboardState(keys);
        keys[vk] = state;
        SetKeyboardState(keys);
    }
};

struct ButtonInput : ::testing::Test {
    std::unique_ptr<TForm> Form = std::make_unique<TForm>(nullptr);
    TFocusable* Other = nullptr;
    TProbeButton* Button = nullptr;

    void SetUp() override {
        Form->SetBounds(0, 0, 400, 200);
        Other = new TFocusable(Form.get());
        Other->SetBounds(300, 10, 20, 20);
        Other->SetParent(Form.get());
        Button = Add(10, 10);
        Form->Show();
        Other->SetFocus();
    }
    TProbeButton* Add(int left, int top) {
        auto* b = new TProbeButton(Form.get());
        b->SetBounds(left, top, 75, 25);
        b->SetParent(Form.get());
        return b;
    }
    static void Mouse(TWinControl* c, UINT msg, int x, int y, WPARAM keys = 0) {
        SendMessageA(c->Handle(), msg, keys, MAKELPARAM(x, y));
    }
    static void ClickWithMouse(TWinControl* c) {
        Mouse(c, WM_LBUTTONDOWN, 5, 5, MK_LBUTTON);
        Mouse(c, WM_LBUTTONUP, 5, 5);
    }
    // A key or character through the message loop, as typed on the focused control. The form's
    // own record of it is used: the system's focus is lost whenever a window of a test running
    // beside this one becomes active.
    void Type(UINT msg, WPARAM key) {
        TWinControl* focused = Form->ActiveControl();
        PostMessageA(focused ? focused->Handle() : Form->Handle(), msg, key, 0);
        Application().ProcessMessages();
    }
};

TEST(ButtonDefaults, AsAStoredLayoutExpectsThem) {
    TRzButton b(nullptr);
    EXPECT_EQ(b.Width(), 75);
    EXPECT_EQ(b.Height(), 25);
    EXPECT_EQ(b.Color(), clBtnFace);
    EXPECT_FALSE(b.ParentColor());
    EXPECT_TRUE(b.TabStop());
    EXPECT_EQ(b.ControlStyle() & (csCaptureMouse | csClickEvents | csOpaque), csCaptureMouse);
    EXPECT_EQ(b.FrameColor(), cl3DDkShadow);
    EXPECT_EQ(b.HotTrackColor(), RGBColor(240, 155, 20));
    EXPECT_EQ(b.HotTrackColorType(), htctActual);
    EXPECT_EQ(b.HighlightColor(), clHighlight);
    EXPECT_EQ(b.TextHighlightColor(), clBtnHighlight);
    EXPECT_EQ(b.TextShadowColor(), clBtnShadow);
    EXPECT_EQ(b.TextShadowDepth(), 2);
    EXPECT_EQ(b.Alignment(), taCenter);
    EXPECT_EQ(b.AlignmentVertical(), avCenter);
    EXPECT_TRUE(b.DropDownOnEnter() && b.ShowDownPattern() && b.ShowFocusRect() && b.ThemeAware());
    EXPECT_FALSE(b.HotTrack() || b.Default() || b.Cancel() || b.AllowAllUp() || b.LightTextStyle());
}

TEST_F(ButtonInput, MouseReleaseClicksOnlyInside) {
    Mouse(Button, WM_LBUTTONDOWN, 10, 10, MK_LBUTTON);
    EXPECT_TRUE(Button->Focused()) << "a press takes the focus";
    EXPECT_TRUE(Button->PressedLook());
    Mouse(Button, WM_MOUSEMOVE, 75, 10, MK_LBUTTON); // the right edge is outside
    EXPECT_FALSE(Button->PressedLook());
    Mouse(Button, WM_LBUTTONUP, 75, 10);
    EXPECT_EQ(Button->Clicks, 0);
    EXPECT_FALSE(Button->Tracking());

    Mouse(Button, WM_LBUTTONDOWN, 10, 10, MK_LBUTTON);
    Mouse(Button, WM_MOUSEMOVE, -5, 10, MK_LBUTTON);
    Mouse(Button, WM_MOUSEMOVE, 74, 24, MK_LBUTTON);
    EXPECT_TRUE(Button->PressedLook()) << "back inside";
    Mouse(Button, WM_LBUTTONUP, 74, 24);
    EXPECT_EQ(Button->Clicks, 1);
    EXPECT_FALSE(Button->PressedLook());
    EXPECT_TRUE(Button->InPressDuringClick);
    EXPECT_FALSE(Button->InPress());

    ClickWithMouse(Button); // the second press of a double click is a press
    EXPECT_EQ(Button->Clicks, 2);
    EXPECT_EQ(GetClassLongA(Button->Handle(), GCL_STYLE) & CS_DBLCLKS, 0u);
}

TEST_F(ButtonInput, RightButtonPressDoesNothingButItsReleaseEndsALeftDrag) {
    Mouse(Button, WM_RBUTTONDOWN, 10, 10, MK_RBUTTON);
    EXPECT_FALSE(Button->PressedLook());
    EXPECT_FALSE(Button->Focused());
    Mouse(Button, WM_RBUTTONUP, 10, 10);
    EXPECT_EQ(Button->Clicks, 0);

    Mouse(Button, WM_LBUTTONDOWN, 10, 10, MK_LBUTTON);
    Mouse(Button, WM_RBUTTONUP, 12, 12, MK_LBUTTON);
    EXPECT_EQ(Button->Clicks, 1);
    Mouse(Button, WM_LBUTTONUP, 12, 12);
    EXPECT_EQ(Button->Clicks, 1) << "the drag has already ended";
}

TEST_F(ButtonInput, HeldSpaceClicksOnceAtKeyUpUnlessTheFocusLeaves) {
    HWND h = Button->Handle();
    Button->SetFocus();
    for (int i = 0; i < 3; ++i)
        SendMessageA(h, WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_TRUE(Button->PressedLook());
    SendMessageA(h, WM_KEYUP, VK_SPACE, 0);
    EXPECT_EQ(Button->Clicks, 1);
    EXPECT_FALSE(Button->PressedLook());
    {
        TModifiersHeld alt(VK_MENU);
        SendMessageA(h, WM_SYSKEYDOWN, VK_SPACE, 0);
        EXPECT_FALSE(Button->PressedLook()) << "Alt+Space is the system menu's";
    }

    SendMessageA(h, WM_KEYDOWN, VK_SPACE, 0);
    Other->SetFocus();
    EXPECT_FALSE(Button->PressedLook());
    SendMessageA(h, WM_KEYUP, VK_SPACE, 0);
    EXPECT_EQ(Button->Clicks, 1) << "the press ended with the focus";
    Mouse(Button, WM_LBUTTONDOWN, 10, 10, MK_LBUTTON);
    Other->SetFocus();
    EXPECT_FALSE(Button->PressedLook());
}

TEST_F(ButtonInput, EnterClicksTheFocusedOrTheDefaultButtonAndEscapeTheCancelOne) {
    TProbeButton* def = Add(100, 10);
    def->SetDefault(true);
    EXPECT_TRUE(def->ReceivesEnter()) << "setting Default re-announces the focus";
    Type(WM_KEYDOWN, VK_RETURN);
    EXPECT_EQ(def->Clicks, 1);
    Button->SetFocus();
    EXPECT_FALSE(def->ReceivesEnter()) << "a focused styled button takes Enter for itself";
    Type(WM_KEYDOWN, VK_RETURN);
    EXPECT_EQ(Button->Clicks, 1);
    EXPECT_EQ(def->Clicks, 1);

    def->SetCancel(true);
    Type(WM_KEYDOWN, VK_ESCAPE);
    EXPECT_EQ(def->Clicks, 2);
    EXPECT_EQ(Button->Clicks, 1);
    for (int vk : {VK_SHIFT, VK_CONTROL, VK_MENU}) {
        TModifiersHeld held(vk);
        Type(WM_KEYDOWN, VK_RETURN);
        Type(WM_KEYDOWN, VK_ESCAPE);
    }
    EXPECT_EQ(Button->Clicks + def->Clicks, 3) << "no dialog key with a modifier held";
}

TEST_F(ButtonInput, DefaultIsTakenWhenTheWindowIsCreated) {
    auto* b = new TProbeButton(Form.get());
    b->SetDefault(true);
    EXPECT_FALSE(b->ReceivesEnter());
    b->SetParent(Form.get()); // the form's window exists: the button's is made now
    ASSERT_TRUE(b->HandleAllocated());
    EXPECT_TRUE(b->ReceivesEnter());
}

TEST_F(ButtonInput, AcceleratorCharacterClicks) {
    Button->SetCaption("&Go");
    Type(WM_CHAR, 'g');
    Type(WM_SYSCHAR, 'G');
    Type(WM_CHAR, 'o');
    EXPECT_EQ(Button->Clicks, 2);
    Button->SetCaption("R&&D");
    for (char c : {'r', 'd', '&'})
        Type(WM_CHAR, static_cast<unsigned char>(c));
    EXPECT_EQ(Button->Clicks, 2) << "a doubled ampersand is no accelerator";
    Button->SetCaption("&Go");
    Button->SetEnabled(false);
    Type(WM_CHAR, 'g');
    EXPECT_EQ(Button->Clicks, 2) << "a button that cannot take the focus";
}

TEST_F(ButtonInput, DisablingTakesTheFocusAwayAndDisablesTheWindow) {
    Button->SetFocus();
    ASSERT_TRUE(Button->Focused());
    Button->SetEnabled(false);
    EXPECT_FALSE(Button->Focused());
    EXPECT_NE(Form->ActiveControl(), Button);
    EXPECT_FALSE(IsWindowEnabled(Button->Handle()));
    ClickWithMouse(Button);
    EXPECT_EQ(Button->Clicks, 0);
    Button->SetEnabled(true);
    EXPECT_TRUE(IsWindowEnabled(Button->Handle()));
    ClickWithMouse(Button);
    EXPECT_EQ(Button->Clicks, 1);
}

TEST_F(ButtonInput, GroupedButtonsLatchOneAtATime) {
    TProbeButton* second = Add(100, 10);
    TProbeButton* other = Add(200, 10);
    Button->SetGroupIndex(1);
    second->SetGroupIndex(1);
    other->SetGroupIndex(2);
    other->SetDown(true);

    ClickWithMouse(Button);
    EXPECT_TRUE(Button->Down());
    ClickWithMouse(second);
    EXPECT_TRUE(second->Down());
    EXPECT_FALSE(Button->Down()) << "the down button of the group is raised";
    EXPECT_TRUE(other->Down()) << "another group is left alone";

    ClickWithMouse(second);
    EXPECT_TRUE(second->Down()) << "without AllowAllUp a down button stays down";
    EXPECT_EQ(second->Clicks, 2) << "and still clicks";
    second->SetAllowAllUp(true);
    EXPECT_TRUE(Button->AllowAllUp()) << "the group shares AllowAllUp";
    EXPECT_FALSE(other->AllowAllUp());
    ClickWithMouse(second);
    EXPECT_FALSE(second->Down());

    Button->SetDown(true);
    second->SetDown(true);
    EXPECT_FALSE(Button->Down()) << "setting Down raises the group's other button too";
}

TEST_F(ButtonInput, DownNeedsAGroupAndHotTrackMakesTransparent) {
    Button->SetDown(true);
    EXPECT_FALSE(Button->Down());
    ClickWithMouse(Button);
    EXPECT_FALSE(Button->Down());
    EXPECT_FALSE(Button->Transparent());
    Button->SetHotTrack(true);
    EXPECT_TRUE(Button->Transparent());
    Button->SetHotTrack(false);
    EXPECT_FALSE(Button->Transparent());
}

BOOL CALLBACK CountWindow(HWND, LPARAM count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

TEST(ButtonWindow, HotTrackOnAFormWithoutAWindowMakesBothWindowsOnce) {
    TForm form(nullptr);
    auto* button = new TRzButton(&form);
    button->SetParent(&form);
    ASSERT_FALSE(form.HandleAllocated());
    button->SetHotTrack(true);
    ASSERT_TRUE(button->HandleAllocated());
    int windows = 0;
    EnumChildWindows(form.Handle(), CountWindow, reinterpret_cast<LPARAM>(&windows));
    EXPECT_EQ(windows, 1);
    EXPECT_EQ(GetParent(button->Handle()), form.Handle());
}

TEST_F(ButtonInput, PointerEnterAndLeave) {
    int entered = 0, left = 0;
    Button->OnMouseEnter = [&](TObject* sender) { entered += sender == Button; };
    Button->OnMouseLeave = [&](TObject* sender) { left += sender == Button; };
    HWND h = Button->Handle();
    UpdateWindow(h);
    Mouse(Button, WM_MOUSEMOVE, 10, 10);
    Mouse(Button, WM_MOUSEMOVE, 12, 10);
    EXPECT_TRUE(Button->MouseInside());
    EXPECT_EQ(entered, 1);
    EXPECT_FALSE(GetUpdateRect(h, nullptr, FALSE)) << "without hot tracking nothing changes";
    SendMessageA(h, WM_MOUSELEAVE, 0, 0);
    EXPECT_FALSE(Button->MouseInside());
    EXPECT_EQ(left, 1);

    Button->SetHotTrack(true);
    UpdateWindow(h);
    Button->Erases = 0;
    Mouse(Button, WM_MOUSEMOVE, 10, 10);
    RECT r;
    ASSERT_TRUE(GetUpdateRect(h, &r, FALSE));
    EXPECT_EQ(FromRECT(r), Button->ClientRect());
    UpdateWindow(h);
    EXPECT_EQ(Button->Erases, 0) << "the corners are not erased again";
    SendMessageA(h, WM_MOUSELEAVE, 0, 0);
    EXPECT_TRUE(GetUpdateRect(h, nullptr, FALSE));
}

TEST_F(ButtonInput, ClickHandsItsModalResultToTheFormAndSurvivesAFailingHandler) {
    Form->SetModalResult(7);
    ClickWithMouse(Button);
    EXPECT_EQ(Form->ModalResult(), 0) << "also a modal result of 0 is handed on";
    Button->SetModalResult(2);
    Button->Click();
    EXPECT_EQ(Form->ModalResult(), 2);

    std::string reported;
    Application().OnException = [&](const std::exception& e) { reported = e.what(); };
    Button->Throw = true;
    ClickWithMouse(Button);
    Application().OnException = nullptr;
    EXPECT_EQ(reported, "click failed");
    EXPECT_TRUE(Button->InPressDuringClick);
    EXPECT_FALSE(Button->InPress()) << "cleared although the click failed";
}

} // namespace
