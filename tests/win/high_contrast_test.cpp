// High contrast (Wine 8 always answers "off" when asked, so the test puts its own answer in
// place of the system's): the styled button and labels of the tool's window draw only in the
// system's colours, in every state of the button and with a failure shown in the red status
// font, once the window hears that the setting changed; and exactly as before once it is off.
#include "framework/HighContrast.h"
#include "tests/win/FormOfZQXFixture.h"
#include "tests/win/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

namespace {

bool UserAskedForHighContrast = false;
bool AskTheTest() {
    return UserAskedForHighContrast;
}

class HighContrastWindow : public FormOfZQX {
protected:
    void SetUp() override {
        HighContrastQuery = AskTheTest;
        SetHighContrast(false);
        FormOfZQX::SetUp();
        Form->HandleNeeded();
        // A failure on the status line in the label's red, the button back for the next press.
        Engine.QueueQueryWithError(1, StateFailed, 3670016, 524288, ErrorNetwork);
        Press();
        Form->XLTimeTimer(nullptr);
    }
    void TearDown() override {
        FormOfZQX::TearDown();
        SetHighContrast(false);
    }
    // The user's choice, as the system announces it to top-level windows.
    void SetHighContrast(bool on) {
        UserAskedForHighContrast = on;
        if (Form)
            SendMessageW(Form->Handle(), WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
        else
            RefreshHighContrast();
    }
    std::vector<uint32_t> Picture() {
        TBitmap picture(Form->ClientWidth(), Form->ClientHeight());
        PrintTree(Form->Handle(), picture.Canvas().Handle());
        GdiFlush();
        std::vector<uint32_t> pixels;
        for (int y = 0; y < picture.Height(); ++y)
            for (int x = 0; x < picture.Width(); ++x)
                pixels.push_back(picture.ScanLine(y)[x] & 0xFFFFFF);
        return pixels;
    }
    // The colours in the styled controls' places that are none of the system's, nor a mix of
    // two of them (text smoothed over the colour it is drawn on).
    std::set<uint32_t> OtherColours(const std::vector<uint32_t>& pixels) {
        std::vector<uint32_t> system;
        for (int index : {COLOR_BTNFACE, COLOR_BTNTEXT, COLOR_HIGHLIGHT, COLOR_HIGHLIGHTTEXT,
                          COLOR_GRAYTEXT, COLOR_BTNSHADOW, COLOR_BTNHIGHLIGHT}) {
            const COLORREF c = GetSysColor(index); // as a DIB pixel: blue lowest
            system.push_back(GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c));
        }
        const auto channel = [](uint32_t c, int i) {
            return static_cast<int>((c >> (8 * i)) & 0xFF);
        };
        const auto mixOfTwo = [&](uint32_t p) {
            for (uint32_t a : system)
                for (uint32_t b : system) {
                    // p = a + t (b - a) in every channel, t taken where a and b differ most.
                    int widest = 0;
                    for (int i = 1; i < 3; ++i)
                        if (std::abs(channel(b, i) - channel(a, i)) >
                            std::abs(channel(b, widest) - channel(a, widest)))
                            widest = i;
                    const int range = channel(b, widest) - channel(a, widest);
                    const double t =
                        range ? double(channel(p, widest) - channel(a, widest)) / range : 0;
                    bool on = t >= 0 && t <= 1;
                    for (int i = 0; i < 3; ++i)
                        on = on && std::abs(channel(a, i) + t * (channel(b, i) - channel(a, i)) -
                                            channel(p, i)) <= 3;
                    if (on) return true;
                }
            return false;
        };
        std::set<uint32_t> others;
        const int width = Form->ClientWidth();
        for (TControl* c :
             {static_cast<TControl*>(Form->RzBitBtn1), static_cast<TControl*>(Form->RzLabel4),
              static_cast<TControl*>(Form->RzLabel1)})
            for (int y = c->Top(); y < c->Top() + c->Height(); ++y)
                for (int x = c->Left(); x < c->Left() + c->Width(); ++x)
                    if (!mixOfTwo(pixels[static_cast<size_t>(y) * width + x]))
                        others.insert(pixels[static_cast<size_t>(y) * width + x]);
        return others;
    }
};

TEST_F(HighContrastWindow, StyledControlsTakeTheSystemColoursWhileItIsOn) {
    const std::vector<uint32_t> today = Picture();
    ASSERT_FALSE(OtherColours(today).empty()) << "the layout's own colours, off";

    SetHighContrast(true);
    TRzBitBtn& button = *Form->RzBitBtn1;
    const struct {
        const char* State;
        std::function<void()> Enter;
    } states[] = {
        {"normal", [] {}},
        {"under the pointer", [&] { button.Perform(CM_MOUSEENTER); }},
        {"held down", [&] { button.Perform(WM_KEYDOWN, VK_SPACE); }},
        {"disabled", [&] { button.SetEnabled(false); }},
    };
    for (const auto& s : states) {
        s.Enter();
        EXPECT_EQ(OtherColours(Picture()), std::set<uint32_t>{}) << s.State;
    }
    button.Perform(WM_KILLFOCUS); // lets go of the key without a press
    button.SetEnabled(true);
    button.Perform(CM_MOUSELEAVE);

    SetHighContrast(false);
    EXPECT_TRUE(Picture() == today) << "off again: as before";
}

} // namespace
