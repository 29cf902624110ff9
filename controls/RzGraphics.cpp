#include "controls/RzGraphics.h"

#include "controls/RzGradientBands.h"
#include "framework/Bitmap.h"

#include <algorithm>

namespace {
constexpr int StripWidth = 8;
}

void FillVerticalGradient(TCanvas& canvas, const TRect& rect, TColor bottomColor, TColor topColor) {
    const int w = rect.Width();
    const int h = rect.Height();
    if (w <= 0 || h <= 0) return;

    // Rows go into a narrow strip, one brush per band of equal rows; block copies then
    // widen the strip by doubling, which is far cheaper than filling every row across.
    TBitmap bitmap(w, h);
    TCanvas& off = bitmap.Canvas();
    const int strip = std::min(StripWidth, w);
    for (const TGradientBand& band : VerticalGradientBands(h, bottomColor, topColor)) {
        off.Brush().SetColor(band.Color);
        off.FillRect({0, band.FirstRow, strip, band.FirstRow + band.RowCount});
    }
    for (int done = strip; done < w;) {
        const int n = std::min(done, w - done);
        BitBlt(off.Handle(), done, 0, n, h, off.Handle(), 0, 0, SRCCOPY);
        done += n;
    }
    canvas.Draw(rect.Left, rect.Top, bitmap);
}
