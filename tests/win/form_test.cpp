// The framework's controls on a real form: ownership, parent look, painting of windowless
// children, mouse enter and leave, focus announcements, Tab order and dialog keys.
#include "TestSupport.h"

#include "framework/Form.h"

#include <memory>
#include <vector>

namespace {

// A windowless control that paints itself in one colour and logs what it is told.
class TSwatch : public TGraphicControl {
public:
    TSwatch(TComponent* owner, TColor fill) : TGraphicControl(owner), FFill(fill) {
        SetControlStyle(ControlStyle() | csOpaque);
    }
    std::vector<UINT> Log;

protected:
    void Paint() override {
        Canvas().Brush().SetColor(FFill);
        Canvas().FillRect({0, 0, Width() + 50, Height() + 50}); // clipped to the control
    }
    void WndProc(TMessage& m) override {
        if (m.Msg == CM_MOUSEENTER || m.Msg == CM_MOUSELEAVE || m.Msg == WM_LBUTTONDOWN)
            Log.push_back(m.Msg);
        TGraphicControl::WndProc(m);
    }

private:
    TColor FFill;
};

// A windowed control that can take the focus and counts the focus announcements.
class TFocusable : public TCustomControl {
public:
    explicit TFocusable(TComponent* owner) : TCustomControl(owner) { SetTabStop(true); }
    TWinControl* LastAnnounced = nullptr;
    int Announcements = 0;
    int DialogKeys = 0;
    bool ClaimsEnter = false;

protected:
    void WndProc(TMessage& m) override {
        if (m.Msg == CM_FOCUSCHANGED) {
            ++Announcements;
            LastAnnounced = reinterpret_cast<TWinControl*>(m.LParam);
        }
        if (m.Msg == CM_DIALOGKEY && m.WParam == VK_RETURN && ClaimsEnter) {
            ++DialogKeys;
            m.Result = 1;
            return;
        }
        TCustomControl::WndProc(m);
    }
};

struct FormFixture : ::testing::Test {
    std::unique_ptr<TForm> Form = std::make_unique<TForm>(nullptr);
    void SetUp() override {
        Form->SetBounds(10, 10, 300, 200);
        Form->SetColor(RGBColor(10, 20, 30));
    }
    template <typename T, typename... Args> T* Add(int l, int t, int w, int h, Args... args) {
        T* c = new T(Form.get(), args...);
        c->SetBounds(l, t, w, h);
        c->SetParent(Form.get());
        return c;
    }
    // The form's client area as the form would paint it.
    void Render(TBitmap& bmp) {
        bmp.SetSize(Form->ClientWidth(), Form->ClientHeight());
        PrintClient(Form->Handle(), bmp);
    }
};

TEST_F(FormFixture, OwnerFreesWhatItOwnsAndChildrenFollowTheParentsLook) {
    auto* swatch = Add<TSwatch>(0, 0, 10, 10, clRed);
    EXPECT_EQ(Form->ComponentCount(), 1);
    EXPECT_EQ(swatch->Color(), RGBColor(10, 20, 30)) << "a new child takes its parent's colour";
    Form->Font().SetName("Tahoma");
    EXPECT_EQ(swatch->Font().Name(), "Tahoma");
    EXPECT_TRUE(swatch->ParentFont());
    swatch->Font().SetHeight(-20);
    EXPECT_FALSE(swatch->ParentFont()) << "a font of its own ends following the parent";
    Form->Font().SetName("Arial");
    EXPECT_EQ(swatch->Font().Name(), "Tahoma");
    delete swatch;
    EXPECT_EQ(Form->ComponentCount(), 0);
    EXPECT_EQ(Form->ControlCount(), 0);
}

TEST_F(FormFixture, WindowlessChildrenPaintClippedToTheirBoundsInZOrder) {
    Add<TSwatch>(10, 10, 20, 20, clRed);
    Add<TSwatch>(20, 20, 20, 20, clLime); // above the red one
    Form->Show();
    TBitmap bmp;
    Render(bmp);
    EXPECT_EQ(PixelAt(bmp, 5, 5), "10,20,30");
    EXPECT_EQ(PixelAt(bmp, 12, 12), "255,0,0");
    EXPECT_EQ(PixelAt(bmp, 25, 25), "0,255,0");
    EXPECT_EQ(PixelAt(bmp, 39, 39), "0,255,0");
    EXPECT_EQ(PixelAt(bmp, 40, 40), "10,20,30") << "painting is clipped to the control";
}

TEST_F(FormFixture, MouseEntersAndLeavesWindowlessChildren) {
    auto* a = Add<TSwatch>(10, 10, 20, 20, clRed);
    auto* b = Add<TSwatch>(50, 10, 20, 20, clLime);
    Form->Show();
    HWND h = Form->Handle();
    SendMessageA(h, WM_MOUSEMOVE, 0, MAKELPARAM(15, 15));
    SendMessageA(h, WM_MOUSEMOVE, 0, MAKELPARAM(16, 16));
    SendMessageA(h, WM_MOUSEMOVE, 0, MAKELPARAM(55, 15));
    SendMessageA(h, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(56, 12));
    SendMessageA(h, WM_LBUTTONUP, 0, MAKELPARAM(56, 12));
    SendMessageA(h, WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(a->Log, (std::vector<UINT>{CM_MOUSEENTER, CM_MOUSELEAVE}));
    EXPECT_EQ(b->Log, (std::vector<UINT>{CM_MOUSEENTER, WM_LBUTTONDOWN, CM_MOUSELEAVE}));
}

TEST_F(FormFixture, FocusChangesAreAnnouncedToEveryControl) {
    auto* first = Add<TFocusable>(10, 10, 30, 30);
    auto* second = Add<TFocusable>(50, 10, 30, 30);
    Form->Show();
    second->SetFocus();
    EXPECT_TRUE(second->Focused());
    EXPECT_EQ(Form->ActiveControl(), second);
    EXPECT_EQ(first->LastAnnounced, second);
    EXPECT_EQ(second->LastAnnounced, second);
    // Taking the focus away hands it to the form, and that is announced too.
    Form->DefocusControl(second, false);
    EXPECT_EQ(Form->ActiveControl(), nullptr);
    EXPECT_EQ(first->LastAnnounced, nullptr);
    first->SetEnabled(false);
    EXPECT_FALSE(first->CanFocus());
    EXPECT_FALSE(IsWindowEnabled(first->Handle()));
}

TEST_F(FormFixture, TabAndShiftTabFollowTheTabOrderAndSkipNonStops) {
    auto* a = Add<TFocusable>(10, 10, 30, 30);
    auto* b = Add<TFocusable>(50, 10, 30, 30);
    auto* c = Add<TFocusable>(90, 10, 30, 30);
    auto* d = Add<TFocusable>(130, 10, 30, 30);
    c->SetTabOrder(0); // order: c, a, b, d
    d->SetTabStop(false);
    EXPECT_EQ(c->TabOrder(), 0);
    EXPECT_EQ(b->TabOrder(), 2);
    Form->Show();
    a->SetFocus();
    auto tab = [&](bool shift) {
        BYTE keys[256];
        GetKeyboardState(keys);
        keys[VK_SHIFT] = shift ? 0x80 : 0;
        SetKeyboardState(keys);
        PostMessageA(Form->ActiveControl()->Handle(), WM_KEYDOWN, VK_TAB, 0);
        Application().ProcessMessages();
        keys[VK_SHIFT] = 0;
        SetKeyboardState(keys);
    };
    tab(false);
    EXPECT_EQ(Form->ActiveControl(), b);
    tab(false);
    EXPECT_EQ(Form->ActiveControl(), c) << "wraps round and skips the control without a tab stop";
    tab(true);
    EXPECT_EQ(Form->ActiveControl(), b);
    EXPECT_TRUE(b->Focused());
}

TEST_F(FormFixture, EnterIsOfferedToTheControlsBeforeNormalDispatch) {
    auto* a = Add<TFocusable>(10, 10, 30, 30);
    auto* b = Add<TFocusable>(50, 10, 30, 30);
    b->ClaimsEnter = true;
    int keyDowns = 0;
    a->OnKeyDown = [&](TObject*, WORD&, TShiftState) { ++keyDowns; };
    Form->Show();
    a->SetFocus();
    PostMessageA(a->Handle(), WM_KEYDOWN, VK_RETURN, 0);
    PostMessageA(a->Handle(), WM_KEYDOWN, 'X', 0);
    Application().ProcessMessages();
    EXPECT_EQ(b->DialogKeys, 1);
    EXPECT_EQ(keyDowns, 1) << "the claimed Enter never reaches the focused control";
}

TEST(Accelerators, CharacterAfterASingleAmpersand) {
    EXPECT_EQ(AcceleratorOf("&Go"), 'G');
    EXPECT_EQ(AcceleratorOf("Save &as"), 'a');
    EXPECT_EQ(AcceleratorOf("Fish && Chips"), 0);
    EXPECT_EQ(AcceleratorOf("A && &B"), 'B');
    EXPECT_EQ(AcceleratorOf("Trailing&"), 0);
}

} // namespace
