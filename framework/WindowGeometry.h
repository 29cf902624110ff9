// Where a top-level window stands and how large it is made: the arithmetic alone, free of
// Windows, so that it is tested natively.
#pragma once

#include "framework/Types.h"

// n * multiplier / divider, rounded to the nearest whole number with halves away from zero:
// what the system's MulDiv gives (divider > 0).
int ScaleValue(int n, int multiplier, int divider);

// Where a window of `width` x `height` stands centred on a desktop of `desktopWidth` x
// `desktopHeight`: halves truncated towards zero, never negative.
TPoint DesktopCenteredPosition(int desktopWidth, int desktopHeight, int width, int height);

// The outer size of a window whose client area is scaled by multiplier / divider, together
// with its controls. `designed` is the outer size the layout gives and `designedFrame` what
// the frame and caption bar took of it (outer minus client) on the display the layout was
// made for; `frame` is what they take on this one, where the client area must grow by the
// controls' ratio for all of them to fit.
// A window larger than `limit` (the screen's work area) could not be seen whole: it is held to
// it, and its scroll bars show the rest; but the limit never makes it smaller than designed.
TSize ScaledWindowSize(TSize designed, TSize designedFrame, TSize frame, int multiplier,
                       int divider, TSize limit);
