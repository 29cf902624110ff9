// Frames gallery: every frame style in system colours and tinted, focus and round-corner
// frames, control borders, the gradient fill and the gradient ring, side by side.
#include "controls/RzCommon.h"
#include "framework/Application.h"
#include "framework/Canvas.h"

#include <string>

namespace {

const char* const StyleNames[] = {"None",   "Flat",  "Groove", "Bump",  "Lowered",  "BtnDown",
                                  "Raised", "BtnUp", "Status", "Popup", "FlatBold", "FlatRnd"};

class TGalleryWindow : public TWindowTarget {
public:
    TGalleryWindow() {
        RegisterWindowClass("TFramesGallery", CS_HREDRAW | CS_VREDRAW,
                            reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
        CreateBoundWindow("TFramesGallery", "Frames gallery", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                          40, 40, 900, 560, nullptr);
    }

    void WndProc(TMessage& m) override {
        switch (m.Msg) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(WindowHandle(), &ps);
            {
                TCanvas canvas(dc);
                Paint(canvas);
            }
            EndPaint(WindowHandle(), &ps);
            break;
        }
        case WM_DESTROY:
            Application().Terminate();
            break;
        default:
            DefaultWindowProc(m);
        }
    }

private:
    static void Label(TCanvas& c, int x, int y, const std::string& text) {
        c.Brush().SetStyle(TBrushStyle::bsClear);
        c.Font().SetName("Tahoma");
        c.Font().SetHeight(-11);
        c.TextOut(x, y, text);
    }

    void Paint(TCanvas& c) {
        const TColor tint = RGBColor(244, 244, 240);
        const TColor navy = RGBColor(0, 60, 116);
        for (int s = fsNone; s <= fsFlatRounded; ++s) {
            const int x = 12 + s * 72;
            Label(c, x, 8, StyleNames[s]);
            if (s <= fsFlatBold) DrawStyledFrame(c, {x, 24, x + 64, 64}, TFrameStyle(s));
            DrawTintedStyledFrame(c, {x, 74, x + 64, 114}, tint, sdAllSides, TFrameStyleEx(s));
            DrawTintedStyledFrame(c, {x, 124, x + 64, 164}, navy, sdAllSides, TFrameStyleEx(s));
        }
        Label(c, 12, 176, "Focus, round corners, partial sides");
        DrawDottedFocusFrame(c, {12, 194, 92, 234});
        DrawRoundCornerFrame(c, {104, 194, 184, 234}, navy, sdAllSides);
        DrawStyledFrame(c, {196, 194, 276, 234}, fsGroove, sdLeft | sdTop);
        DrawStyledFrame(c, {288, 194, 368, 234}, fsBump, sdRight | sdBottom);
        DrawFrameLines(c, {380, 194, 460, 234}, clNone, sdAllSides, clRed);

        Label(c, 12, 246, "Control borders");
        TControlBorderLook look;
        look.FlatColor = navy;
        look.OuterStyle = fsFlatRounded;
        look.ParentColor = clBtnFace;
        look.OwnColor = clWindow;
        look.BorderColor = tint;
        look.BorderWidth = 2;
        DrawControlBorder(c, {12, 264, 132, 304}, look);
        look = {};
        look.OuterStyle = fsPopup;
        look.BevelWidth = 2;
        look.InnerStyle = fsFlat;
        look.RoundedFlat = true;
        look.FlatColor = navy;
        DrawControlBorder(c, {144, 264, 264, 304}, look);
        look = {};
        look.OuterStyle = fsLowered;
        look.BorderWidth = 3;
        look.BorderColor = RGBColor(255, 240, 200);
        look.InnerStyle = fsRaised;
        DrawControlBorder(c, {276, 264, 396, 304}, look);

        Label(c, 12, 316, "Gradient face and hot-track ring (the download button's colours)");
        FillVerticalGradient(c, {12, 334, 545, 377}, DimColor(tint, 10), BrightenColor(tint, 30));
        c.Brush().SetColor(tint);
        c.FillRect({12, 390, 545, 435});
        PaintGradientRing(c, {12, 390, 545, 435}, RGBColor(240, 155, 20),
                          MixColorPair(clWhite, RGBColor(240, 155, 20), 190));
        Label(c, 12, 448, FullColorScreen ? "Full colour screen" : "256 colours or fewer");
    }
};

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    Application().SetTitle("Frames gallery");
    TGalleryWindow window;
    Application().Run();
    return 0;
}
