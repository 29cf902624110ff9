#!/usr/bin/env python3
"""Reads the status line and the size text off a screenshot of the tool's window.

usage: status_line.py SHOT.png failed|failed-bare|working [WIDTH]
       status_line.py SHOT.png same OTHER.png

The window's client area is found from the download button's outline (0, 60, 116), whose
pixel (2, 1) is client (50, 105). In the rows of the status line (client y 12..33) the status
text is the neutral ink from client x 40 on, the size text the red ink. Checks:
    failed       a long status text (the failure) ending a full character short of the size
                 text's box at client x 336; the size text inside its box, right of it
    failed-bare  the same where no size text has come yet
    working      the short working text "正在下载... ..." (90 pixels from x 47), and no ink of
                 a longer text left after it
    WIDTH        the status text's width as measured under Wine: its ink ends within 4
                 pixels short of that
    same         the status line's pixels, left of the size text's box, are OTHER.png's
The places are those at 96 dots per inch. On a display where the window's font has another
text height, STATUS_TEXT_HEIGHT gives it, and every place and width is scaled by it / 12 as
the window scales its controls; a failure text must then end short of the size text's box,
without the full character (the scaled font's characters round to whole pixels otherwise
than the places do).
Prints what it found; exits non-zero when a check fails.
"""
import os
import subprocess
import sys

from window_pixels import read_pixels, scale

TEXT_HEIGHT = int(os.environ.get("STATUS_TEXT_HEIGHT", "12"))


def px(n):
    """A place or width at 96 dots per inch, scaled as the window scales its controls."""
    return scale(n, TEXT_HEIGHT, 12)


OUTLINE = (0, 60, 116)
BUTTON_CLIENT = (px(48), px(104))
ROWS = range(px(12), px(34))
STATUS_LEFT = px(47)
SIZE_BOX = (px(336), px(336) + px(241))


def button_origin(width, height, at):
    """Client (0, 0) in the picture, found from the enabled button's outline."""
    for y in range(height):
        for x in range(width):
            if at(x, y) == OUTLINE:
                return x - 2 - BUTTON_CLIENT[0], y - 1 - BUTTON_CLIENT[1]
    return None


def client_pixels(path):
    """A function giving the picture's pixel at client (x, y), or None without a window.

    While the button is disabled its outline is grey: STATUS_ORIGIN_FROM then names a
    picture of the same window with the button enabled, whose client origin is taken."""
    width, height, raw = read_pixels(path)

    def at(x, y):
        i = 3 * (y * width + x)
        return tuple(raw[i:i + 3])

    origin = button_origin(width, height, at)
    reference = os.environ.get("STATUS_ORIGIN_FROM")
    if not origin and reference:
        ref_width, ref_height, ref_raw = read_pixels(reference)
        if (ref_width, ref_height) == (width, height):
            origin = button_origin(width, height,
                                   lambda x, y: tuple(ref_raw[3 * (y * width + x):][:3]))
    if not origin:
        return None
    return lambda cx, cy: at(origin[0] + cx, origin[1] + cy)


def same(path, other_path):
    a, b = client_pixels(path), client_pixels(other_path)
    if not a or not b:
        print("no button outline in the pictures")
        return 1
    differing = sum(a(x, y) != b(x, y) for y in ROWS for x in range(px(40), SIZE_BOX[0]))
    print(f"status line as in {other_path}" if not differing else
          f"{differing} pixels of the status line differ from {other_path}")
    return 1 if differing else 0


def main():
    path, mode = sys.argv[1], sys.argv[2]
    if mode == "same":
        return same(path, sys.argv[3])
    expected_width = int(sys.argv[3]) if len(sys.argv) > 3 else None
    at = client_pixels(path)
    if not at:
        print("no button outline in the picture")
        return 1
    background = at(px(10), px(20))

    # The size text is red, its smoothed edges faint red; the status text is grey to black.
    def red(p):
        return p[0] - max(p[1], p[2]) >= 8

    status, size = [], []
    for y in ROWS:
        for x in range(px(40), px(600)):
            p = at(x, y)
            if p == background:
                continue
            (size if red(p) else status).append(x)
    if not status:
        print("no status text")
        return 1
    left, right = min(status), max(status) + 1
    print(f"background {background}; status ink x {left}..{right}", end="")
    if size:
        print(f"; size text ink x {min(size)}..{max(size) + 1}")
    else:
        print("; no size text")

    failures = []
    if left < STATUS_LEFT:
        failures.append(f"status ink starts at {left}, left of {STATUS_LEFT}")
    end = STATUS_LEFT + (expected_width or 0)
    if expected_width and not end - 4 <= right <= end:
        failures.append(f"the status text ends at {right}, not as a text {expected_width} wide")
    if mode in ("failed", "failed-bare"):
        if right - STATUS_LEFT < px(120):
            failures.append("the status text is not the failure text")
        if right > SIZE_BOX[0] - (12 if TEXT_HEIGHT == 12 else 0):
            failures.append(f"the status text reaches {right}, too close to {SIZE_BOX[0]}")
        if mode == "failed" and not size:
            failures.append("no size text")
        if size and (min(size) < SIZE_BOX[0] or max(size) >= SIZE_BOX[1]):
            failures.append("the size text is not inside its box")
        elif size and min(size) <= right:
            failures.append("status and size text overlap")
    elif mode == "working":
        if not STATUS_LEFT + px(80) <= right <= STATUS_LEFT + px(92):
            failures.append(f"the working text ends at {right}, not near {STATUS_LEFT + px(90)}: "
                            "something is left of a longer text")
        if not size:
            failures.append("no size text")
    for f in failures:
        print("FAIL " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
