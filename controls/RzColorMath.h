// Colour arithmetic of the styled controls, in a hue/saturation/luminance space whose three
// components run on a 0..240 scale (luminance may be raised to 255, which is whiter than
// white and saturates on the way back to RGB). Pure functions; system colours are resolved
// to their current RGB value first, and every result is an explicit RGB colour.
#pragma once

#include "framework/Colors.h"

#include <cstdint>

struct THsl240 {
    uint8_t Hue = 0;
    uint8_t Saturation = 0;
    uint8_t Luminance = 0;
    friend bool operator==(const THsl240&, const THsl240&) = default;
};

THsl240 RgbToHsl240(TColor color);
uint8_t HueOfColor(TColor color);
TColor Hsl240ToRgb(uint8_t hue, uint8_t saturation, uint8_t luminance);

// Luminance lowered by `amount` (0..255), not below 0.
TColor DimColor(TColor color, uint8_t amount);
// Luminance raised by `amount` (0..255), not above 255.
TColor BrightenColor(TColor color, uint8_t amount);
// Brighten for a positive amount, dim by the magnitude for a negative one (-255..255).
TColor ShiftColorLuminance(TColor color, int amount);
// Per-channel weighted mix; `weight` (0..255) is A's share.
TColor MixColorPair(TColor a, TColor b, uint8_t weight);
// Hues closer than 20 and luminances closer than 60; saturation is not compared.
bool ColorsNearlyEqual(TColor a, TColor b);
// Hue turned half-way round, full saturation, the given luminance.
TColor OppositeHueColor(TColor color, uint8_t luminance);
