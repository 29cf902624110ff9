#include "controls/RzGradientBands.h"

std::vector<TGradientBand> VerticalGradientBands(int height, TColor bottomColor, TColor topColor) {
    std::vector<TGradientBand> bands;
    if (height <= 0) return bands;
    const TColor c0 = ColorToRGB(bottomColor);
    const TColor c1 = ColorToRGB(topColor);
    const int from[3] = {RedOf(c0), GreenOf(c0), BlueOf(c0)};
    const int to[3] = {RedOf(c1), GreenOf(c1), BlueOf(c1)};
    int step[3], acc[3];
    for (int i = 0; i < 3; ++i) {
        step[i] = (to[i] * 65536 - from[i] * 65536) / height; // truncates toward zero
        acc[i] = from[i] * 65536;
    }
    // Walk from the bottom row up; the accumulator shifts arithmetically (a negative step
    // floors), which keeps the bottom row exact.
    for (int k = 0; k < height; ++k) {
        const TColor c = RGBColor(acc[0] >> 16, acc[1] >> 16, acc[2] >> 16);
        const int row = height - 1 - k;
        if (!bands.empty() && bands.back().Color == c) {
            bands.back().FirstRow = row;
            ++bands.back().RowCount;
        } else {
            bands.push_back({row, 1, c});
        }
        for (int i = 0; i < 3; ++i)
            acc[i] += step[i];
    }
    // Collected bottom-up; hand them out top-down.
    return {bands.rbegin(), bands.rend()};
}
