// Image lists and actions, and the styled bit button that shows their images: masked and
// greyed drawing, change links and the notice when a list goes, the action's image index and
// click, scaling, and all of it read from a stored layout.
#include "TestSupport.h"

#include "controls/RzButton.h"
#include "controls/RzLayoutClasses.h"
#include "framework/Action.h"
#include "framework/Exceptions.h"
#include "framework/Form.h"
#include "framework/ImageList.h"
#include "framework/LayoutReader.h"

#include <array>
#include <memory>

namespace {

constexpr TColor Clear = RGBColor(255, 0, 255);
constexpr TColor Paper = RGBColor(10, 20, 30);
const std::array<TColor, 3> ImageColors = {RGBColor(200, 0, 0), RGBColor(0, 150, 0),
                                           RGBColor(0, 0, 200)};

// Three 16 x 16 images, each a solid colour inside a one-pixel border of the mask colour.
void AddThreeImages(TCustomImageList& list) {
    TBitmap strip(48, 16);
    FillBitmap(strip, Clear);
    for (int i = 0; i < 3; ++i) {
        strip.Canvas().Brush().SetColor(ImageColors[i]);
        strip.Canvas().FillRect({i * 16 + 1, 1, i * 16 + 15, 15});
    }
    const int before = list.Count();
    ASSERT_EQ(list.AddMasked(strip, strip.TransparentColor()), before);
    ASSERT_EQ(list.Count(), before + 3);
}

class TPaintCounter : public TRzBitBtn {
public:
    using TRzBitBtn::GetCaptionRect;
    using TRzBitBtn::GetGlyphRect;
    using TRzBitBtn::TRzBitBtn;
    int Paints = 0;

protected:
    void Paint() override {
        ++Paints;
        TRzBitBtn::Paint();
    }
};

TEST(ImageList, CutsAStripIntoImagesAndDrawsThemMasked) {
    TImageList list(nullptr);
    EXPECT_EQ(list.Width(), 16);
    EXPECT_EQ(list.Height(), 16);
    AddThreeImages(list);
    EXPECT_EQ(list.Count(), 3);

    TBitmap bmp(40, 40);
    FillBitmap(bmp, Paper);
    list.Draw(bmp.Canvas(), 2, 2, 1);
    EXPECT_EQ(PixelAt(bmp, 2, 2), RgbText(Paper)) << "the mask colour is left out";
    EXPECT_EQ(PixelAt(bmp, 3, 3), RgbText(ImageColors[1]));
    EXPECT_EQ(PixelAt(bmp, 16, 16), RgbText(ImageColors[1]));
    EXPECT_EQ(PixelAt(bmp, 17, 17), RgbText(Paper));

    list.Draw(bmp.Canvas(), 20, 2, 7); // no such image: nothing
    EXPECT_EQ(PixelAt(bmp, 25, 8), RgbText(Paper));

    // Too small for one image: nothing added.
    TBitmap small(8, 16);
    EXPECT_EQ(list.AddMasked(small, clBlack), -1);
    EXPECT_EQ(list.Count(), 3);
    list.Delete(0);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_THROW(list.Delete(5), EListError);
    list.SetSize(24, 24);
    EXPECT_EQ(list.Count(), 0) << "a new size drops the images";
}

TEST(ImageList, ADisabledImageIsItsShapeInShadowOverAHighlightCopy) {
    TImageList list(nullptr);
    AddThreeImages(list);
    TBitmap bmp(40, 40);
    FillBitmap(bmp, Paper);
    list.Draw(bmp.Canvas(), 2, 2, 0, false);
    const std::string shadow = RgbText(clBtnShadow), highlight = RgbText(clBtnHighlight);
    ASSERT_NE(shadow, highlight);
    // The shape covers (3, 3) .. (16, 16); the highlight shows one pixel down and right of it.
    EXPECT_EQ(PixelAt(bmp, 3, 3), shadow);
    EXPECT_EQ(PixelAt(bmp, 16, 16), shadow);
    EXPECT_EQ(PixelAt(bmp, 17, 17), highlight);
    EXPECT_EQ(PixelAt(bmp, 17, 4), highlight);
    EXPECT_EQ(PixelAt(bmp, 4, 17), highlight);
    EXPECT_EQ(PixelAt(bmp, 2, 2), RgbText(Paper));
    EXPECT_EQ(PixelAt(bmp, 17, 3), RgbText(Paper));
    EXPECT_EQ(PixelAt(bmp, 18, 18), RgbText(Paper));
}

TEST(ImageList, ChangeLinksHearOfChangesUntilEitherSideGoes) {
    auto list = std::make_unique<TImageList>(nullptr);
    int heard = 0, listEvents = 0;
    list->OnChange = [&](TObject*) { ++listEvents; };
    auto link = std::make_unique<TChangeLink>();
    link->OnChange = [&](TObject* sender) {
        EXPECT_EQ(sender, list.get());
        ++heard;
    };
    list->RegisterChanges(link.get());
    EXPECT_EQ(link->Sender(), list.get());
    AddThreeImages(*list);
    list->Delete(2);
    list->Clear();
    list->Clear();         // already empty: no change
    list->SetSize(16, 16); // the same size: no change
    EXPECT_EQ(heard, 3);
    EXPECT_EQ(listEvents, 3);

    link.reset(); // unregisters itself
    AddThreeImages(*list);
    EXPECT_EQ(listEvents, 4);

    TChangeLink late;
    list->RegisterChanges(&late);
    list.reset();
    EXPECT_EQ(late.Sender(), nullptr) << "the list that went left no dangling sender";
}

struct ButtonImages : ::testing::Test {
    std::unique_ptr<TForm> Form = std::make_unique<TForm>(nullptr);
    TImageList* List = nullptr;
    TPaintCounter* Button = nullptr;

    void SetUp() override {
        Form->SetBounds(0, 0, 300, 200);
        List = new TImageList(Form.get());
        AddThreeImages(*List);
        Button = new TPaintCounter(Form.get());
        Button->SetBounds(10, 10, 100, 40);
        Button->SetColor(RGBColor(200, 220, 240));
        Button->SetParent(Form.get());
        Button->SetImages(List);
        Button->SetImageIndex(1);
        Form->Show();
    }
    std::string ImagePixel(int dx = 4, int dy = 4) {
        TBitmap bmp(Button->Width(), Button->Height());
        PrintClient(Button->Handle(), bmp);
        const TRect g = Button->GetGlyphRect();
        return PixelAt(bmp, g.Left + dx, g.Top + dy);
    }
};

TEST_F(ButtonImages, TheImageStandsInForTheGlyphAndIsGreyedWhenDisabled) {
    EXPECT_EQ(Button->GetGlyphRect(), (TRect{7, 12, 23, 28}));
    EXPECT_EQ(Button->GetCaptionRect(), (TRect{27, 5, 95, 35}));
    EXPECT_EQ(ImagePixel(), RgbText(ImageColors[1]));
    EXPECT_EQ(ImagePixel(0, 0), RgbText(RGBColor(200, 220, 240)));

    Button->SetEnabled(false);
    EXPECT_EQ(ImagePixel(), RgbText(clBtnShadow)) << "greyed by the list";

    Button->SetDisabledIndex(2);
    EXPECT_EQ(ImagePixel(), RgbText(ImageColors[2])) << "the disabled image, not greyed";
    Button->SetEnabled(true);
    EXPECT_EQ(ImagePixel(), RgbText(ImageColors[1]));

    // A list's size is the glyph's size.
    List->SetSize(24, 20);
    EXPECT_EQ(Button->GetGlyphRect(), (TRect{7, 10, 31, 30}));
}

TEST_F(ButtonImages, AKindShowsItsGlyphNotTheImage) {
    Button->SetKind(bkOK);
    EXPECT_NE(ImagePixel(), RgbText(ImageColors[1]));
    Button->SetKind(bkCustom);
    EXPECT_EQ(ImagePixel(), RgbText(ImageColors[1]));
}

TEST_F(ButtonImages, AChangeInTheListRepaintsAndALostListIsDropped) {
    Form->Update();
    const int before = Button->Paints;
    List->Delete(0);
    EXPECT_GT(Button->Paints, before) << "repainted at once";
    EXPECT_EQ(ImagePixel(), RgbText(ImageColors[2]));

    // A list the button has let go of no longer reaches it.
    TImageList other(nullptr);
    Button->SetImages(&other);
    Form->Update();
    const int after = Button->Paints;
    AddThreeImages(*List);
    EXPECT_EQ(Button->Paints, after);

    Button->SetImages(List);
    delete List;
    List = nullptr;
    EXPECT_EQ(Button->Images(), nullptr);
    EXPECT_EQ(Button->GetCaptionRect(), (TRect{5, 5, 95, 35})) << "no image, no room for one";
    TBitmap bmp(Button->Width(), Button->Height());
    PrintClient(Button->Handle(), bmp); // paints without the list
}

TEST(ButtonAction, TheActionsImageIndexAndClick) {
    TForm form(nullptr);
    auto* action = new TAction(&form);
    action->SetImageIndex(3);
    int executed = 0, clicked = 0;
    action->OnExecute = [&](TObject* sender) {
        EXPECT_EQ(sender, action);
        ++executed;
    };
    auto* button = new TRzBitBtn(&form);
    button->SetParent(&form);
    button->OnClick = [&](TObject*) { ++clicked; };
    button->SetImageIndex(1);
    button->SetAction(action);
    EXPECT_EQ(button->ImageIndex(), 3) << "linked outside loading: the action's index wins";
    action->SetImageIndex(5);
    EXPECT_EQ(button->ImageIndex(), 5) << "the link follows the action";

    button->Click();
    EXPECT_EQ(executed, 1);
    EXPECT_EQ(clicked, 0) << "the action stands in for OnClick";

    delete action;
    EXPECT_EQ(button->Action(), nullptr);
    button->Click();
    EXPECT_EQ(clicked, 1);

    // An action that goes after the button leaves nothing dangling.
    auto* later = new TAction(&form);
    auto* other = new TRzBitBtn(&form);
    other->SetAction(later);
    delete other;
    later->SetImageIndex(7);
}

TEST(ButtonScale, MarginAndSpacingScaleWithTheButton) {
    TForm form(nullptr);
    auto* a = new TRzBitBtn(&form);
    a->SetParent(&form);
    a->SetBounds(10, 20, 75, 25);
    auto* b = new TRzBitBtn(&form);
    b->SetParent(&form);
    b->SetMargin(-1);
    b->SetSpacing(5);
    form.ScaleBy(3, 2);
    EXPECT_EQ(a->BoundsRect(), Bounds(15, 30, 113, 38));
    EXPECT_EQ(a->Margin(), 3);
    EXPECT_EQ(a->Spacing(), 6);
    EXPECT_EQ(b->Margin(), -1) << "centring is no distance";
    EXPECT_EQ(b->Spacing(), 8) << "7.5 rounds up";
    form.ScaleBy(1, 3);
    EXPECT_EQ(a->Margin(), 1);
    EXPECT_EQ(b->Margin(), -1);
    EXPECT_EQ(b->Spacing(), 3) << "8 / 3 rounds to 3";
}

// UTF-8 on purpose: the loader turns layout text into the ANSI code page.
const char* const Layout = reinterpret_cast<const char*>(u8R"(
object Window: TForm
  object Pictures: TImageList
    Bitmap = 'RZCOMMON_ALL'
  end
  object Fetch: TAction
    ImageIndex = 1
    OnExecute = FetchExecute
  end
  object Ok: TRzBitBtn
    Kind = bkOK
  end
  object Sure: TRzBitBtn
    Caption = '确定'
    Kind = bkYes
  end
  object Star: TRzBitBtn
    Glyph = 'RZCOMMON_HELP'
    NumGlyphs = 1
    Layout = blGlyphBottom
    Margin = -1
    Spacing = 7
  end
  object Pic: TRzBitBtn
    Images = Pictures
    Action = Fetch
    ImageIndex = 0
    DisabledIndex = 1
  end
  object Linked: TRzBitBtn
    Images = Pictures
    Action = Fetch
  end
end
)");

TEST(ButtonLayout, ReadsKindsGlyphsImagesAndActions) {
    RegisterStyledControlsLayoutClasses();
    TForm form(nullptr);
    int executed = 0;
    LoadLayout(&form, Layout, {{"FetchExecute", [&](TObject*) { ++executed; }}});
    auto find = [&](const char* name) {
        return dynamic_cast<TRzBitBtn*>(form.FindComponent(name));
    };

    auto* pictures = dynamic_cast<TImageList*>(form.FindComponent("Pictures"));
    ASSERT_NE(pictures, nullptr);
    EXPECT_EQ(pictures->Count(), 2) << "a 32 x 16 bitmap in 16 x 16 images";

    TRzBitBtn* ok = find("Ok");
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->Kind(), bkOK);
    EXPECT_EQ(ok->Caption(), "OK");
    EXPECT_TRUE(ok->Default());
    EXPECT_EQ(ok->ModalResult(), 1);

    TRzBitBtn* sure = find("Sure");
    EXPECT_EQ(sure->Kind(), bkYes);
    EXPECT_EQ(sure->Caption(), "确定") << "a stored caption stays while loading";
    EXPECT_TRUE(sure->IsCustomCaption());

    TRzBitBtn* star = find("Star");
    EXPECT_EQ(star->Kind(), bkCustom);
    EXPECT_EQ(star->Glyph().Width(), 32);
    EXPECT_EQ(star->NumGlyphs(), 1) << "the stored count comes after the glyph's own";
    EXPECT_EQ(star->Layout(), blGlyphBottom);
    EXPECT_EQ(star->Margin(), -1);
    EXPECT_EQ(star->Spacing(), 7);

    TRzBitBtn* pic = find("Pic");
    EXPECT_EQ(pic->Images(), pictures);
    EXPECT_EQ(pic->ImageIndex(), 0) << "a stored index wins over the action's";
    EXPECT_EQ(pic->DisabledIndex(), 1);
    TRzBitBtn* linked = find("Linked");
    EXPECT_EQ(linked->ImageIndex(), 1) << "the action fills what the layout left at default";
    linked->Click();
    EXPECT_EQ(executed, 1);
}

TEST(ButtonLayout, WrongGlyphsCountsAndReferencesAreReadErrors) {
    RegisterStyledControlsLayoutClasses();
    for (const char* body :
         {"    Glyph = 'NO_SUCH_BITMAP'\n", "    NumGlyphs = 5\n", "    Images = Window\n",
          "    Action = Window\n", "    Kind = bkMaybe\n"}) {
        TForm form(nullptr);
        const std::string text =
            std::string("object Window: TForm\n  object B: TRzBitBtn\n") + body + "  end\nend\n";
        EXPECT_THROW(LoadLayout(&form, text, {}), EReadError) << body;
    }
}

} // namespace
