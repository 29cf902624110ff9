#include "framework/WindowGeometry.h"

#include <algorithm>
#include <cstdint>

int ScaleValue(int n, int multiplier, int divider) {
    const int64_t product = static_cast<int64_t>(n) * multiplier;
    const int64_t half = divider / 2;
    return static_cast<int>(product >= 0 ? (product + half) / divider
                                         : -((-product + half) / divider));
}

TPoint DesktopCenteredPosition(int desktopWidth, int desktopHeight, int width, int height) {
    return {std::max(0, (desktopWidth - width) / 2), std::max(0, (desktopHeight - height) / 2)};
}

TSize ScaledWindowSize(TSize designed, TSize designedFrame, TSize frame, int multiplier,
                       int divider, TSize limit) {
    const auto scale = [&](int outer, int designedNonClient, int nonClient, int most) {
        const int client = std::max(0, outer - designedNonClient);
        const int wanted = ScaleValue(client, multiplier, divider) + nonClient;
        // Held to the limit, but never below what the window would be without the limit or
        // as designed, whichever is smaller.
        return std::max(std::min(wanted, most), std::min(wanted, outer));
    };
    return {scale(designed.cx, designedFrame.cx, frame.cx, limit.cx),
            scale(designed.cy, designedFrame.cy, frame.cy, limit.cy)};
}
