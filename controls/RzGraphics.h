// The vertical two-colour gradient fill of the styled controls.
#pragma once

#include "framework/Canvas.h"

// Fills `rect` with a gradient whose bottom row is exactly `bottomColor` and which steps
// towards `topColor` row by row. Nothing happens for an empty rectangle.
void FillVerticalGradient(TCanvas& canvas, const TRect& rect, TColor bottomColor, TColor topColor);
