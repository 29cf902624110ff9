// High contrast: the styled button and labels of the tool's window draw only in the system's
// colours, in every state of the button and with a failure shown in the red status font, once
// the window hears that the setting changed; and exactly as before once it is off. Wine 8
// answers SPI_GETHIGHCONTRAST with "off" whatever is set, so the test answers in the system's
// place where the program's own call reaches user32, and gives the system colours a scheme of
// its own, none of them grey nor a mix of two others: every pixel names the one or two system
// colours it was drawn in.
#include "framework/HighContrast.h"
#include "tests/win/FormOfZQXFixture.h"
#include "tests/win/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <utility>

namespace {

// The scheme: no colour grey, and no text colour smoothed over its ground passes for grey (two
// channels keep apart all the way).
enum TRole { Ground, Ink, Line };
const struct {
    int Index;
    const char* Name;
    uint32_t Pixel; // as a DIB pixel: blue lowest
    TRole Role;
} Scheme[] = {
    {COLOR_BTNFACE, "face", 0x0030C0, Ground},
    {COLOR_HIGHLIGHT, "highlight", 0xF04000, Ground},
    {COLOR_BTNTEXT, "text", 0x60F0F0, Ink},
    {COLOR_HIGHLIGHTTEXT, "highlight text", 0xFFFF60, Ink},
    {COLOR_GRAYTEXT, "grey text", 0x00D040, Ink},
    {COLOR_BTNSHADOW, "shadow", 0x800040, Line},
    {COLOR_BTNHIGHLIGHT, "light", 0xC0FF80, Line},
};

bool UserAskedForHighContrast = false;
decltype(&SystemParametersInfoW) SystemParameters;
decltype(&GetSysColor) SystemColor;

BOOL WINAPI AsTheSystemParameters(UINT action, UINT size, void* data, UINT update) {
    if (action != SPI_GETHIGHCONTRAST) return SystemParameters(action, size, data, update);
    auto* setting = static_cast<HIGHCONTRASTW*>(data);
    if (!setting || size != sizeof *setting || setting->cbSize != sizeof *setting) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    setting->dwFlags =
        HCF_AVAILABLE | HCF_HOTKEYAVAILABLE | (UserAskedForHighContrast ? HCF_HIGHCONTRASTON : 0);
    setting->lpszDefaultScheme = nullptr;
    return TRUE;
}

DWORD WINAPI AsTheSystemColors(int index) {
    if (UserAskedForHighContrast)
        for (const auto& c : Scheme)
            if (c.Index == index)
                return RGB((c.Pixel >> 16) & 0xFF, (c.Pixel >> 8) & 0xFF, c.Pixel & 0xFF);
    return SystemColor(index);
}

int Channel(uint32_t pixel, int i) {
    return static_cast<int>((pixel >> (8 * i)) & 0xFF);
}

uint32_t PixelOf(const std::string& name) {
    for (const auto& c : Scheme)
        if (name == c.Name) return c.Pixel;
    return 0xFFFFFFFF;
}

// Whether every channel of `pixel` lies between those of `a` and `b` (3 either side): a text
// colour `a` smoothed over `b` (Wine smooths each channel on a curve of its own).
bool Between(uint32_t pixel, uint32_t a, uint32_t b) {
    for (int i = 0; i < 3; ++i)
        if (Channel(pixel, i) < std::min(Channel(a, i), Channel(b, i)) - 3 ||
            Channel(pixel, i) > std::max(Channel(a, i), Channel(b, i)) + 3)
            return false;
    return true;
}

// `pixel` as the scheme's colours would have drawn it: one of them, or a text colour over a
// ground with how much of the text colour (in the widest channel; of two such, the pair that
// lies closer); or none.
std::string Named(uint32_t pixel) {
    char hex[8];
    snprintf(hex, sizeof hex, "%06X", pixel);
    std::string named = std::string(hex) + " (none)";
    int least = 1 << 30; // the pair's box: the product of its channels' spans
    for (const auto& ink : Scheme)
        for (const auto& ground : Scheme) {
            if (!Between(pixel, ink.Pixel, ground.Pixel)) continue;
            if (&ink == &ground) return ink.Name;
            if (ink.Role != Ink || ground.Role != Ground) continue;
            int box = 1, widest = 0;
            for (int i = 0; i < 3; ++i) {
                const int span = std::abs(Channel(ink.Pixel, i) - Channel(ground.Pixel, i));
                box *= span + 1;
                if (span > std::abs(Channel(ink.Pixel, widest) - Channel(ground.Pixel, widest)))
                    widest = i;
            }
            if (box >= least) continue;
            least = box;
            const int share = 100 * (Channel(pixel, widest) - Channel(ground.Pixel, widest)) /
                              (Channel(ink.Pixel, widest) - Channel(ground.Pixel, widest));
            named = std::string(hex) + " (" + ink.Name + " " + std::to_string(share) + "% on " +
                    ground.Name + ")";
        }
    return named;
}

// A control's look in one state: its ground, its text's colour (smoothed over the ground or
// not) and its frame's colour (empty: none).
struct TLook {
    std::string Ground, Text, Frame;
};

class HighContrastWindow : public FormOfZQX {
protected:
    void SetUp() override {
        SystemParameters = reinterpret_cast<decltype(SystemParameters)>(ReplaceImport(
            "user32.dll", "SystemParametersInfoW", reinterpret_cast<void*>(AsTheSystemParameters)));
        SystemColor = reinterpret_cast<decltype(SystemColor)>(
            ReplaceImport("user32.dll", "GetSysColor", reinterpret_cast<void*>(AsTheSystemColors)));
        ASSERT_NE(SystemParameters, nullptr);
        ASSERT_NE(SystemColor, nullptr);
        SetHighContrast(false);
        FormOfZQX::SetUp();
        Form->HandleNeeded();
        // The size text in its red, a failure on the status line, the button back for the next
        // press.
        Engine.QueueQuery(1, StateDownloading, 3670016, 524288);
        Engine.QueueQueryWithError(1, StateFailed, 3670016, 524288, ErrorNetwork);
        Press();
        Form->XLTimeTimer(nullptr);
        Form->XLTimeTimer(nullptr);
    }
    void TearDown() override {
        FormOfZQX::TearDown();
        SetHighContrast(false);
        ReplaceImport("user32.dll", "SystemParametersInfoW",
                      reinterpret_cast<void*>(SystemParameters));
        ReplaceImport("user32.dll", "GetSysColor", reinterpret_cast<void*>(SystemColor));
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
    // Whether `control` in `picture` shows `look` alone, all of it; else what is amiss.
    std::string Amiss(const std::vector<uint32_t>& picture, TControl* control, const TLook& look) {
        const uint32_t ground = PixelOf(look.Ground), text = PixelOf(look.Text);
        const uint32_t frame = look.Frame.empty() ? ground : PixelOf(look.Frame);
        bool groundSeen = false, textSeen = false, frameSeen = false;
        std::string amiss;
        for (int y = control->Top(); y < control->Top() + control->Height(); ++y)
            for (int x = control->Left(); x < control->Left() + control->Width(); ++x) {
                const uint32_t p = picture[static_cast<size_t>(y) * Form->ClientWidth() + x];
                if (Between(p, frame, frame))
                    frameSeen = true;
                else if (Between(p, ground, ground))
                    groundSeen = true;
                else if (Between(p, text, ground))
                    textSeen = true; // small text may have no pixel wholly of its colour
                else if (amiss.size() < 200)
                    amiss += Named(p) + " at " + std::to_string(x) + "," + std::to_string(y) + "; ";
            }
        groundSeen = groundSeen || frame == ground;
        if (!groundSeen || !textSeen || !frameSeen) amiss += "not all of the look seen";
        return amiss;
    }
};

TEST_F(HighContrastWindow, StyledControlsTakeTheSystemColoursWhileItIsOn) {
    const std::vector<uint32_t> today = Picture();
    SetHighContrast(true);
    EXPECT_FALSE(Picture() == today) << "on: not as before";
    TRzBitBtn& button = *Form->RzBitBtn1;
    const struct {
        const char* State;
        std::function<void()> Enter;
        TLook Button;
    } states[] = {
        {"normal", [] {}, {"face", "text", "text"}},
        {"under the pointer",
         [&] { button.Perform(CM_MOUSEENTER); },
         {"face", "text", "highlight"}},
        {"held down",
         [&] { button.Perform(WM_KEYDOWN, VK_SPACE); },
         {"highlight", "highlight text", "highlight"}},
        {"disabled", [&] { button.SetEnabled(false); }, {"face", "grey text", "grey text"}},
    };
    for (const auto& s : states) {
        s.Enter();
        const std::vector<uint32_t> picture = Picture();
        for (const auto& [control, look] : {std::pair<TControl*, TLook>{Form->RzBitBtn1, s.Button},
                                            {Form->RzLabel4, {"face", "text", ""}},
                                            {Form->RzLabel1, {"face", "text", ""}}})
            EXPECT_EQ(Amiss(picture, control, look), "") << s.State << ", " << control->Name();
    }
    button.Perform(WM_KILLFOCUS); // lets go of the key without a press
    button.SetEnabled(true);
    button.Perform(CM_MOUSELEAVE);

    SetHighContrast(false);
    EXPECT_TRUE(Picture() == today) << "off again: as before";
}

} // namespace
