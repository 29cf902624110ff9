// The styled bit button's glyph: where glyph and caption go for each layout and margin, which
// cell shows in which state, the transparent colour, the standard kinds and what a layout
// stores for them. Buttons are painted through WM_PRINTCLIENT into bitmaps.
#include "TestSupport.h"

#include "controls/RzButton.h"
#include "framework/Form.h"

#include <array>
#include <memory>

namespace {

// A button whose geometry and state the tests may read.
class TGlyphProbe : public TRzBitBtn {
public:
    using TRzBitBtn::GetCaptionRect;
    using TRzBitBtn::GetGlyphRect;
    using TRzBitBtn::GetGlyphSize;
    using TRzBitBtn::GlyphModified;
    using TRzBitBtn::PressedLook;
    using TRzBitBtn::TRzBitBtn;
};

constexpr TColor Clear = RGBColor(255, 0, 255);
constexpr TColor Face = RGBColor(200, 220, 240);
const std::array<TColor, 4> CellColors = {RGBColor(200, 0, 0), RGBColor(0, 150, 0),
                                          RGBColor(0, 0, 200), RGBColor(200, 200, 0)};

// A strip of `cells` square cells of `size` pixels, each a solid colour of CellColors inside a
// one-pixel border of the transparent colour (which the bottom-left pixel gives).
void MakeGlyph(TBitmap& glyph, int cells, int size = 16) {
    glyph.SetSize(cells * size, size);
    FillBitmap(glyph, Clear);
    for (int i = 0; i < cells; ++i) {
        glyph.Canvas().Brush().SetColor(CellColors[i % 4]);
        glyph.Canvas().FillRect({i * size + 1, 1, (i + 1) * size - 1, size - 1});
    }
}

// The height of one line of text in `font`, from the font's metrics.
int LineHeight(TFont& font) {
    TBitmap probe(1, 1);
    probe.Canvas().Font().Assign(font);
    probe.Canvas().TextExtent("x"); // selects the font
    TEXTMETRICA tm{};
    GetTextMetricsA(probe.Canvas().Handle(), &tm);
    return tm.tmHeight;
}

struct ButtonGlyph : ::testing::Test {
    std::unique_ptr<TForm> Form = std::make_unique<TForm>(nullptr);
    TGlyphProbe* Button = nullptr;

    void SetUp() override {
        Form->SetBounds(0, 0, 400, 300);
        Form->SetColor(RGBColor(240, 240, 240));
        Button = new TGlyphProbe(Form.get());
        Button->SetBounds(20, 20, 120, 60);
        Button->SetColor(Face);
        Button->Font().SetName("Tahoma");
        Button->Font().SetHeight(-12);
        Button->SetCaption("Go");
        Button->SetParent(Form.get());
        TBitmap glyph;
        MakeGlyph(glyph, 1);
        Button->SetGlyph(glyph);
        Form->Show();
    }

    void Render(TBitmap& bmp) {
        bmp.SetSize(Button->Width(), Button->Height());
        FillBitmap(bmp, clBlack);
        PrintClient(Button->Handle(), bmp);
    }
    // The colour at the middle of the glyph rectangle, as the button paints it now.
    std::string GlyphMiddle() {
        TBitmap bmp;
        Render(bmp);
        const TRect g = Button->GetGlyphRect();
        return PixelAt(bmp, (g.Left + g.Right) / 2, (g.Top + g.Bottom) / 2);
    }
    void PressWithSpace() { Button->Perform(WM_KEYDOWN, VK_SPACE); }
};

TEST(ButtonGlyphDefaults, AsAStoredLayoutExpectsThem) {
    TGlyphProbe b(nullptr);
    EXPECT_EQ(b.Kind(), bkCustom);
    EXPECT_EQ(b.Layout(), blGlyphLeft);
    EXPECT_EQ(b.Margin(), 2);
    EXPECT_EQ(b.NumGlyphs(), 1);
    EXPECT_EQ(b.Spacing(), 4);
    EXPECT_EQ(b.Images(), nullptr);
    EXPECT_EQ(b.ImageIndex(), -1);
    EXPECT_EQ(b.DisabledIndex(), -1);
    EXPECT_TRUE(b.Glyph().Empty());
    EXPECT_FALSE(b.GlyphModified());
    EXPECT_TRUE(b.IsCustom());
    EXPECT_FALSE(b.IsCustomCaption()) << "an empty caption is the custom kind's own";
}

TEST(ButtonGlyphSetters, MarginBelowMinusOneAndNumGlyphsOutOfRangeAreIgnored) {
    TRzBitBtn b(nullptr);
    b.SetMargin(-2);
    EXPECT_EQ(b.Margin(), 2);
    b.SetMargin(-1);
    EXPECT_EQ(b.Margin(), -1);
    b.SetMargin(-7);
    EXPECT_EQ(b.Margin(), -1);
    b.SetMargin(0);
    EXPECT_EQ(b.Margin(), 0);
    b.SetNumGlyphs(3);
    b.SetNumGlyphs(5);
    b.SetNumGlyphs(0);
    EXPECT_EQ(b.NumGlyphs(), 3);
}

TEST(ButtonGlyphSetters, TheGlyphsShapeGivesTheNumberOfCells) {
    TRzBitBtn b(nullptr);
    TBitmap glyph;
    glyph.SetSize(64, 16);
    b.SetGlyph(glyph);
    EXPECT_EQ(b.NumGlyphs(), 4);
    glyph.SetSize(80, 16); // five cells are more than a button has states
    b.SetGlyph(glyph);
    EXPECT_EQ(b.NumGlyphs(), 1);
    glyph.SetSize(32, 16);
    b.SetGlyph(glyph);
    EXPECT_EQ(b.NumGlyphs(), 2);
    glyph.SetSize(40, 16); // not a strip of square cells: the count stays
    b.SetGlyph(glyph);
    EXPECT_EQ(b.NumGlyphs(), 2);
    glyph.SetSize(8, 16); // narrower than high
    b.SetGlyph(glyph);
    EXPECT_EQ(b.NumGlyphs(), 2);
    EXPECT_EQ(b.Glyph().Width(), 8) << "the glyph is a copy of what was set";
}

TEST_F(ButtonGlyph, WithoutGlyphOrImageTheCaptionKeepsItsWholeRoom) {
    TGlyphProbe plain(Form.get());
    plain.SetBounds(200, 20, 120, 60);
    plain.SetParent(Form.get());
    for (TButtonLayout layout : {blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom}) {
        plain.SetLayout(layout);
        plain.SetMargin(10);
        EXPECT_EQ(plain.GetCaptionRect(), (TRect{5, 5, 115, 55})) << int(layout);
    }
    // An image index without a list is no image either.
    plain.SetImageIndex(0);
    EXPECT_EQ(plain.GetCaptionRect(), (TRect{5, 5, 115, 55}));
}

// 120 x 60, caption room (5, 5, 115, 55), a 16 x 16 glyph, margin 2, spacing 4.
TEST_F(ButtonGlyph, RectanglesForEachLayoutWithAMargin) {
    EXPECT_EQ(Button->GetGlyphSize(), (TSize{16, 16}));
    struct {
        TButtonLayout Layout;
        TRect Caption, Glyph;
    } cases[] = {
        {blGlyphLeft, {27, 5, 115, 55}, {7, 22, 23, 38}},
        {blGlyphRight, {5, 5, 93, 55}, {97, 22, 113, 38}},
        {blGlyphTop, {5, 27, 115, 55}, {52, 7, 68, 23}},
        {blGlyphBottom, {5, 5, 115, 33}, {52, 37, 68, 53}},
    };
    for (const auto& c : cases) {
        Button->SetLayout(c.Layout);
        EXPECT_EQ(Button->GetCaptionRect(), c.Caption) << int(c.Layout);
        EXPECT_EQ(Button->GetGlyphRect(), c.Glyph) << int(c.Layout);
    }
    // A larger margin and spacing move both on the glyph's side.
    Button->SetLayout(blGlyphLeft);
    Button->SetMargin(10);
    Button->SetSpacing(1);
    EXPECT_EQ(Button->GetCaptionRect(), (TRect{32, 5, 115, 55}));
    EXPECT_EQ(Button->GetGlyphRect(), (TRect{15, 22, 31, 38}));
}

TEST_F(ButtonGlyph, RectanglesForEachLayoutWithMarginMinusOne) {
    Button->SetMargin(-1);
    const int t = LineHeight(Button->Font());
    ASSERT_GT(t, 8);
    const int d = (60 - t - 16 - 4) / 2; // the free height shared above and below
    struct {
        TButtonLayout Layout;
        TRect Caption, Glyph;
    } cases[] = {
        {blGlyphLeft, {24, 5, 115, 55}, {5, 22, 21, 38}},
        {blGlyphRight, {5, 5, 96, 55}, {99, 22, 115, 38}},
        {blGlyphTop, {5, 5 + d + 16, 115, 5 + d + 16 + t}, {52, d, 68, d + 16}},
        {blGlyphBottom, {5, 5 + d, 115, 5 + d + t}, {52, 5 + t + d, 68, 5 + t + d + 16}},
    };
    for (const auto& c : cases) {
        Button->SetLayout(c.Layout);
        EXPECT_EQ(Button->GetCaptionRect(), c.Caption) << int(c.Layout);
        EXPECT_EQ(Button->GetGlyphRect(), c.Glyph) << int(c.Layout);
    }
}

TEST_F(ButtonGlyph, PressedClassicButtonMovesGlyphWithCaptionHotTrackingOneDoesNot) {
    PressWithSpace();
    ASSERT_TRUE(Button->PressedLook());
    EXPECT_EQ(Button->GetCaptionRect(), (TRect{28, 6, 116, 56}));
    EXPECT_EQ(Button->GetGlyphRect(), (TRect{8, 23, 24, 39}));
    Button->SetLayout(blGlyphTop);
    Button->SetMargin(-1);
    const int d = (60 - LineHeight(Button->Font()) - 16 - 4) / 2;
    EXPECT_EQ(Button->GetGlyphRect(), (TRect{53, d + 1, 69, d + 17}));

    Button->SetHotTrack(true);
    Button->SetLayout(blGlyphLeft);
    Button->SetMargin(2);
    EXPECT_EQ(Button->GetCaptionRect(), (TRect{27, 5, 115, 55}));
    EXPECT_EQ(Button->GetGlyphRect(), (TRect{7, 22, 23, 38}));
}

TEST_F(ButtonGlyph, GlyphCentredAcrossWhenItIsLargerThanItsRoom) {
    TBitmap big;
    MakeGlyph(big, 1, 56);
    Button->SetGlyph(big);
    // 50 rows of room for 56: (50 - 56 + 1) div 2 truncates to -2.
    EXPECT_EQ(Button->GetGlyphRect(), (TRect{7, 3, 63, 59}));
}

TEST_F(ButtonGlyph, TheCellFollowsTheState) {
    auto useCells = [this](int cells) {
        TBitmap glyph;
        MakeGlyph(glyph, cells);
        Button->SetGlyph(glyph);
        ASSERT_EQ(Button->NumGlyphs(), cells);
    };
    useCells(4);
    Button->SetGroupIndex(1);
    Button->SetAllowAllUp(true);
    EXPECT_EQ(GlyphMiddle(), RgbText(CellColors[0])) << "normal";

    Button->SetDown(true);
    EXPECT_EQ(GlyphMiddle(), RgbText(CellColors[3])) << "latched down";
    Button->SetEnabled(false);
    EXPECT_EQ(GlyphMiddle(), RgbText(CellColors[3])) << "down comes before disabled";
    Button->SetEnabled(true);
    useCells(3);
    EXPECT_EQ(GlyphMiddle(), RgbText(CellColors[0])) << "down needs a fourth cell";
    Button->SetDown(false);
    Button->SetGroupIndex(0); // the space bar below must not latch it

    PressWithSpace();
    EXPECT_EQ(GlyphMiddle(), RgbText(CellColors[2])) << "pressed";
    useCells(2);
    EXPECT_EQ(GlyphMiddle(), RgbText(CellColors[0])) << "pressed needs a third cell";
    Button->Perform(WM_KEYUP, VK_SPACE);

    Button->SetEnabled(false);
    EXPECT_EQ(GlyphMiddle(), RgbText(CellColors[1])) << "disabled, two cells";
    useCells(4);
    EXPECT_EQ(GlyphMiddle(), RgbText(CellColors[1])) << "disabled, four cells";
    useCells(1);
    EXPECT_EQ(GlyphMiddle(), RgbText(CellColors[0])) << "disabled, one cell";
}

TEST_F(ButtonGlyph, TheTransparentColourShowsTheFaceBeneath) {
    TBitmap bmp;
    Render(bmp);
    const TRect g = Button->GetGlyphRect(); // (7, 22, 23, 38)
    // The classic face is a flat fill: every transparent pixel shows it.
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(PixelAt(bmp, g.Left + i, g.Top), RgbText(Face)) << i;
        EXPECT_EQ(PixelAt(bmp, g.Left + i, g.Bottom - 1), RgbText(Face)) << i;
        EXPECT_EQ(PixelAt(bmp, g.Left, g.Top + i), RgbText(Face)) << i;
        EXPECT_EQ(PixelAt(bmp, g.Right - 1, g.Top + i), RgbText(Face)) << i;
    }
    EXPECT_EQ(PixelAt(bmp, g.Left + 1, g.Top + 1), RgbText(CellColors[0]));
    EXPECT_EQ(PixelAt(bmp, g.Right - 2, g.Bottom - 2), RgbText(CellColors[0]));
    EXPECT_EQ(PixelAt(bmp, g.Right, g.Top + 8), RgbText(Face)) << "nothing beyond the glyph";

    // Over the hot-track gradient too: the face row shows through, not a flat colour.
    Button->SetHotTrack(true);
    TBitmap hot;
    Render(hot);
    const TRect h = Button->GetGlyphRect();
    EXPECT_EQ(PixelAt(hot, h.Left, h.Top), PixelAt(hot, 5, h.Top));
    EXPECT_EQ(PixelAt(hot, h.Left, h.Bottom - 1), PixelAt(hot, 5, h.Bottom - 1));
    EXPECT_NE(PixelAt(hot, 5, h.Top), PixelAt(hot, 5, h.Bottom - 1));
}

TEST_F(ButtonGlyph, TheCaptionIsDrawnInItsReducedRoom) {
    Button->SetCaption("MMMM");
    Button->Font().SetColor(clBlack);
    TBitmap bmp;
    Render(bmp);
    const TRect room = Button->GetCaptionRect(); // right of the glyph
    int inkLeft = Button->Width(), inkRight = 0;
    for (int y = 5; y < 55; ++y)
        for (int x = 5; x < 115; ++x)
            if (PixelAt(bmp, x, y) == "0,0,0") {
                inkLeft = std::min(inkLeft, x);
                inkRight = std::max(inkRight, x);
            }
    ASSERT_LT(inkLeft, inkRight) << "the caption must be drawn";
    EXPECT_GE(inkLeft, room.Left);
    // Centred in what is left of the room: as much free on either side, give or take a pixel.
    EXPECT_NEAR(inkLeft - room.Left, room.Right - 1 - inkRight, 2);
}

struct KindRow {
    TBitBtnKind Kind;
    const char* Caption;
    int ModalResult;
    bool Default, Cancel;
};
constexpr KindRow Kinds[] = {
    {bkOK, "OK", 1, true, false},           {bkCancel, "Cancel", 2, false, true},
    {bkHelp, "&Help", 0, false, false},     {bkYes, "&Yes", 6, true, false},
    {bkNo, "&No", 7, false, true},          {bkClose, "&Close", 0, false, false},
    {bkAbort, "Abort", 3, false, false},    {bkRetry, "&Retry", 4, false, false},
    {bkIgnore, "&Ignore", 5, false, false}, {bkAll, "&All", 8, false, false},
};

TEST(ButtonKind, EachKindSetsItsCaptionRolesModalResultAndTwoCellGlyph) {
    for (const KindRow& k : Kinds) {
        TGlyphProbe b(nullptr);
        b.SetCaption("Before");
        b.SetKind(k.Kind);
        SCOPED_TRACE(k.Caption);
        EXPECT_EQ(b.Kind(), k.Kind);
        EXPECT_EQ(b.Caption(), k.Caption);
        EXPECT_EQ(b.ModalResult(), k.ModalResult);
        EXPECT_EQ(b.Default(), k.Default);
        EXPECT_EQ(b.Cancel(), k.Cancel);
        EXPECT_EQ(b.NumGlyphs(), 2);
        EXPECT_FALSE(b.Glyph().Empty());
        EXPECT_EQ(b.Glyph().Width(), 2 * b.Glyph().Height());
        EXPECT_FALSE(b.GlyphModified());
        // A stored layout keeps only the kind.
        EXPECT_FALSE(b.IsCustom());
        EXPECT_FALSE(b.IsCustomCaption());
        b.SetCaption("Mine");
        EXPECT_TRUE(b.IsCustomCaption());
        EXPECT_EQ(b.Kind(), k.Kind) << "a caption of its own keeps the kind";
    }
}

TEST(ButtonKind, KindsHaveTheirOwnGlyphsAndButtonsOfOneKindShareTheArt) {
    TRzBitBtn ok1(nullptr), ok2(nullptr), cancel(nullptr);
    ok1.SetKind(bkOK);
    ok2.SetKind(bkOK);
    cancel.SetKind(bkCancel);
    auto same = [](const TBitmap& a, const TBitmap& b) {
        if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
        for (int y = 0; y < a.Height(); ++y)
            for (int x = 0; x < a.Width(); ++x)
                if (a.ScanLine(y)[x] != b.ScanLine(y)[x]) return false;
        return true;
    };
    EXPECT_TRUE(same(ok1.Glyph(), ok2.Glyph()));
    EXPECT_FALSE(same(ok1.Glyph(), cancel.Glyph()));
    // Normal and disabled cells differ.
    const TBitmap& g = ok1.Glyph();
    const int cell = g.Height();
    bool differ = false;
    for (int y = 0; y < cell; ++y)
        for (int x = 0; x < cell; ++x)
            differ = differ || g.ScanLine(y)[x] != g.ScanLine(y)[x + cell];
    EXPECT_TRUE(differ);
}

TEST(ButtonKind, ReadsCustomOnceRolesOrGlyphNoLongerMatch) {
    TRzBitBtn b(nullptr);
    b.SetKind(bkOK);
    b.SetModalResult(3);
    EXPECT_EQ(b.Kind(), bkCustom);
    b.SetModalResult(1);
    EXPECT_EQ(b.Kind(), bkCustom) << "once custom, it stays custom";
    EXPECT_TRUE(b.IsCustom());
    EXPECT_TRUE(b.IsCustomCaption()) << "\"OK\" is no caption of the custom kind";

    b.SetKind(bkOK);
    EXPECT_EQ(b.Kind(), bkOK) << "the kind can be set again";
    b.SetDefault(false);
    EXPECT_EQ(b.Kind(), bkCustom);

    b.SetKind(bkCancel);
    b.SetCancel(false);
    EXPECT_EQ(b.Kind(), bkCustom);

    b.SetKind(bkHelp);
    b.SetCancel(true);
    EXPECT_EQ(b.Kind(), bkCustom);

    b.SetKind(bkRetry);
    TBitmap mine;
    MakeGlyph(mine, 2);
    b.SetGlyph(mine);
    EXPECT_EQ(b.Kind(), bkCustom) << "a glyph set by hand";
}

TEST(ButtonKind, CustomOnlyStoresTheKind) {
    TRzBitBtn b(nullptr);
    b.SetKind(bkYes);
    b.SetKind(bkCustom);
    EXPECT_EQ(b.Kind(), bkCustom);
    EXPECT_EQ(b.Caption(), "&Yes");
    EXPECT_EQ(b.ModalResult(), 6);
    EXPECT_TRUE(b.Default());
    EXPECT_EQ(b.NumGlyphs(), 2);
    EXPECT_FALSE(b.Glyph().Empty());
}

TEST_F(ButtonGlyph, AKindGlyphIsDrawnCellByCellOverTheFace) {
    Button->SetKind(bkOK);
    for (bool enabled : {true, false}) {
        Button->SetEnabled(enabled);
        TBitmap bmp;
        Render(bmp);
        const TRect g = Button->GetGlyphRect();
        const TBitmap& art = Button->Glyph();
        ASSERT_EQ(g.Width(), art.Height());
        const uint32_t clear = art.ScanLine(art.Height() - 1)[0];
        const int cell = enabled ? 0 : g.Width();
        int opaque = 0;
        for (int y = 0; y < g.Height(); ++y)
            for (int x = 0; x < g.Width(); ++x) {
                const uint32_t p = art.ScanLine(y)[cell + x];
                const std::string want =
                    p == clear ? RgbText(Face)
                               : RgbText(RGBColor((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF));
                opaque += p != clear;
                ASSERT_EQ(PixelAt(bmp, g.Left + x, g.Top + y), want)
                    << "enabled " << enabled << " at " << x << "," << y;
            }
        EXPECT_GT(opaque, 20) << "the art has something to show";
    }
}

} // namespace
