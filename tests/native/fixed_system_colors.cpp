// System colours for the native build: a fixed palette (Wine's defaults for the colours the
// controls use), so that colour arithmetic on system colours is testable off Windows.
#include "framework/Colors.h"

TColor SystemColorRGB(int index) {
    switch (index) {
    case 5:
        return RGBColor(255, 255, 255); // window
    case 6:
        return RGBColor(158, 158, 158); // window frame
    case 8:
        return RGBColor(0, 0, 0); // window text
    case 13:
        return RGBColor(48, 150, 250); // highlight
    case 15:
        return RGBColor(245, 245, 245); // button face
    case 16:
        return RGBColor(166, 166, 166); // button shadow
    case 17:
        return RGBColor(166, 166, 166); // grey text
    case 18:
        return RGBColor(0, 0, 0); // button text
    case 20:
        return RGBColor(255, 255, 255); // button highlight
    case 21:
        return RGBColor(106, 106, 106); // 3-D dark shadow
    case 22:
        return RGBColor(227, 227, 227); // 3-D light
    default:
        return RGBColor(0, 0, 0);
    }
}
