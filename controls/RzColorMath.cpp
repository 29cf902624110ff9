#include "controls/RzColorMath.h"

#include <algorithm>
#include <cmath>

namespace {

// Real to integer, nearest with ties to even (the default rounding mode).
int RoundEven(double v) {
    return static_cast<int>(std::nearbyint(v));
}

} // namespace

THsl240 RgbToHsl240(TColor color) {
    const TColor rgb = ColorToRGB(color);
    const double r = RedOf(rgb) / 255.0;
    const double g = GreenOf(rgb) / 255.0;
    const double b = BlueOf(rgb) / 255.0;
    const double max = std::max({r, g, b});
    const double min = std::min({r, g, b});
    const double l = (max + min) / 2;
    double h = 0;
    double s = 0;
    if (max != min) {
        const double d = max - min;
        s = l < 0.5 ? d / (max + min) : d / (2 - max - min);
        if (r == max)
            h = (g - b) / d;
        else if (g == max)
            h = (b - r) / d + 2;
        else
            h = (r - g) / d + 4;
        h /= 6;
        if (h < 0) h += 1;
    }
    return {static_cast<uint8_t>(RoundEven(h * 240)), static_cast<uint8_t>(RoundEven(s * 240)),
            static_cast<uint8_t>(RoundEven(l * 240))};
}

uint8_t HueOfColor(TColor color) {
    return RgbToHsl240(color).Hue;
}

TColor Hsl240ToRgb(uint8_t hue, uint8_t saturation, uint8_t luminance) {
    const double L = luminance / 240.0;
    const double S = saturation / 240.0;
    const double v = L >= 0.5 ? L + S - L * S : L * (1 + S);
    double red = 0, green = 0, blue = 0;
    if (v > 0) {
        const double m = 2 * L - v;
        const double sv = (v - m) / v;
        // The hue divisor is 239: hues 239 and 240 land in sextant 6, drawn like sextant 0.
        const double h6 = hue / 239.0 * 6;
        const int sextant = static_cast<int>(h6);
        const double f = h6 - sextant;
        const double vsf = v * sv * f;
        const double up = m + vsf;
        const double down = v - vsf;
        switch (sextant) {
        case 1:
            red = down, green = v, blue = m;
            break;
        case 2:
            red = m, green = v, blue = up;
            break;
        case 3:
            red = m, green = down, blue = v;
            break;
        case 4:
            red = up, green = m, blue = v;
            break;
        case 5:
            red = v, green = m, blue = down;
            break;
        default:
            red = v, green = up, blue = m;
            break;
        }
    }
    auto channel = [](double x) { return RoundEven(std::min(x, 1.0) * 255); };
    return RGBColor(channel(red), channel(green), channel(blue));
}

TColor DimColor(TColor color, uint8_t amount) {
    const THsl240 hsl = RgbToHsl240(color);
    const int l = std::max(hsl.Luminance - amount, 0);
    return Hsl240ToRgb(hsl.Hue, hsl.Saturation, static_cast<uint8_t>(l));
}

TColor BrightenColor(TColor color, uint8_t amount) {
    const THsl240 hsl = RgbToHsl240(color);
    const int l = std::min(hsl.Luminance + amount, 255);
    return Hsl240ToRgb(hsl.Hue, hsl.Saturation, static_cast<uint8_t>(l));
}

TColor ShiftColorLuminance(TColor color, int amount) {
    if (amount > 0) return BrightenColor(color, static_cast<uint8_t>(std::min(amount, 255)));
    if (amount < 0) return DimColor(color, static_cast<uint8_t>(std::min(-amount, 255)));
    return color;
}

TColor MixColorPair(TColor a, TColor b, uint8_t weight) {
    const TColor ra = ColorToRGB(a);
    const TColor rb = ColorToRGB(b);
    const double w = static_cast<float>(weight / 255.0f);
    auto mix = [w](int ca, int cb) { return RoundEven(ca * w + cb * (1 - w)); };
    return RGBColor(mix(RedOf(ra), RedOf(rb)), mix(GreenOf(ra), GreenOf(rb)),
                    mix(BlueOf(ra), BlueOf(rb)));
}

bool ColorsNearlyEqual(TColor a, TColor b) {
    const THsl240 ha = RgbToHsl240(a);
    const THsl240 hb = RgbToHsl240(b);
    return std::abs(ha.Hue - hb.Hue) < 20 && std::abs(ha.Luminance - hb.Luminance) < 60;
}

TColor OppositeHueColor(TColor color, uint8_t luminance) {
    const int hue = HueOfColor(color);
    const int opposite = hue < 120 ? hue + 120 : hue - 120;
    return Hsl240ToRgb(static_cast<uint8_t>(opposite), 240, luminance);
}
