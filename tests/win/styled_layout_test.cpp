// A small window with the styled button and label, built from a stored layout.
#include "TestSupport.h"

#include "controls/RzButton.h"
#include "controls/RzLabel.h"
#include "controls/RzLayoutClasses.h"
#include "framework/Form.h"
#include "framework/Exceptions.h"
#include "framework/LayoutReader.h"

namespace {

// UTF-8 on purpose: the loader turns layout text into the ANSI code page.
const char* const Layout = reinterpret_cast<const char*>(u8R"(
object Window: TForm
  Caption = '下载'
  Font.Name = 'Tahoma'
  Font.Height = -12
  Font.Color = clNavy
  OnShow = WindowShow
  object Status: TRzLabel
    Left = 47
    Top = 16
    Caption = '正在下载... ...'
    Transparent = True
    BlinkIntervalOff = 1000
    BlinkIntervalOn = 1000
    FrameSides = [sdLeft]
  end
  object Go: TRzBitBtn
    Left = 48
    Top = 104
    Width = 537
    Height = 49
    Down = True
    GroupIndex = 3
    Color = 15791348
    FrameColor = 7617536
    FrameFlat = True
    TabOrder = 1
    OnClick = GoClick
  end
end
)");

TEST(StyledLayout, LoadsAWindowWithTheButtonAndTheLabel) {
    RegisterStyledControlsLayoutClasses();
    TForm form(nullptr);
    int clicks = 0, shows = 0;
    LoadLayout(
        &form, Layout,
        {{"GoClick", [&](TObject*) { ++clicks; }}, {"WindowShow", [&](TObject*) { ++shows; }}});

    auto* label = dynamic_cast<TRzLabel*>(form.FindComponent("Status"));
    auto* button = dynamic_cast<TRzBitBtn*>(form.FindComponent("Go"));
    ASSERT_NE(label, nullptr);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(label->Parent(), &form);
    EXPECT_EQ(button->Parent(), &form);
    EXPECT_EQ(form.Caption(), "下载") << "layout text arrives in the ANSI code page";

    // The label follows the window's font and sized itself once loading ended.
    EXPECT_EQ(label->Font().Name(), "Tahoma");
    EXPECT_EQ(label->NormalTextColor(), clNavy);
    EXPECT_TRUE(label->Transparent());
    EXPECT_EQ(label->BlinkIntervalOn(), 1000);
    EXPECT_EQ(label->Left(), 47);
    TBitmap probe(1, 1);
    probe.Canvas().Font().Assign(label->Font());
    const TSize text = probe.Canvas().TextExtent(label->Caption());
    EXPECT_EQ(label->Width(), text.cx);
    EXPECT_EQ(label->Height(), text.cy);

    // "FrameFlat" is the older name of HotTrack; the group is set before Down.
    EXPECT_TRUE(button->HotTrack());
    EXPECT_TRUE(button->Down());
    EXPECT_EQ(button->FrameColor(), RGBColor(0, 60, 116));
    EXPECT_EQ(button->BoundsRect(), Bounds(48, 104, 537, 49));

    button->Click();
    form.Show();
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(shows, 1);
}

TEST(StyledLayout, AnUnknownPropertyNamesClassPropertyAndLine) {
    RegisterStyledControlsLayoutClasses();
    TForm form(nullptr);
    try {
        LoadLayout(&form, "object W: TForm\n  object B: TRzButton\n    Glow = 3\n  end\nend\n", {});
        FAIL() << "an unknown property must not load";
    } catch (const EReadError& e) {
        EXPECT_NE(e.Message().find("line 3"), std::string::npos) << e.Message();
        EXPECT_NE(e.Message().find("TRzButton"), std::string::npos) << e.Message();
        EXPECT_NE(e.Message().find("Glow"), std::string::npos) << e.Message();
    }
    EXPECT_EQ(form.ComponentCount(), 0) << "nothing half-built stays behind";
}

} // namespace
