// The rows of a vertical two-colour gradient, grouped into bands of equal colour. Pure
// arithmetic: the drawing (RzGraphics) fills one band per entry with one brush.
#pragma once

#include "framework/Colors.h"

#include <vector>

struct TGradientBand {
    int FirstRow = 0; // top row of the band, 0 = the gradient's top row
    int RowCount = 0;
    TColor Color = 0;
    friend bool operator==(const TGradientBand&, const TGradientBand&) = default;
};

// Bands, top to bottom, of a gradient `height` rows high whose bottom row is exactly
// `bottomColor` and whose rows step in 16.16 fixed point towards `topColor`; the top row
// stops one step short of it. Empty for a height of 0 or less.
std::vector<TGradientBand> VerticalGradientBands(int height, TColor bottomColor, TColor topColor);
