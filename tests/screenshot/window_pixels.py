#!/usr/bin/env python3
"""Checks the download button's colours on a screenshot of the real window.

usage: window_pixels.py SHOT.png

The button's outline (0, 60, 116) starts at its pixel (2, 1): the first pixel of that colour,
reading the picture row by row, fixes where the button is. Exits non-zero on a mismatch.
"""
import subprocess
import sys

OUTLINE = (0, 60, 116)
BLACK = (0, 0, 0)
# The window opens with the focus on the button: the focused look.
EXPECTED = {
    # the outline, without its corner pixels
    (2, 1): OUTLINE, (534, 1): OUTLINE, (200, 47): OUTLINE, (1, 2): OUTLINE,
    (535, 46): OUTLINE,
    # focus dots every second pixel on (3, 3, 534, 46)
    (4, 3): BLACK, (3, 4): BLACK, (4, 45): BLACK, (532, 45): BLACK, (533, 44): BLACK,
    # the face above its darker bottom rows
    (20, 44): (235, 235, 228),
}
# Gaps between the dots.
NOT_BLACK = [(5, 3), (3, 5), (5, 45)]


def scale(n, multiplier, divider):
    """n * multiplier / divider, halves away from zero, as the system's MulDiv."""
    q, r = divmod(abs(n) * multiplier, divider)
    q += 2 * r >= divider
    return q if n >= 0 else -q


def read_pixels(path):
    size = subprocess.run(["identify", "-format", "%w %h", path], check=True,
                          capture_output=True, text=True).stdout.split()
    width, height = int(size[0]), int(size[1])
    raw = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], check=True,
                         capture_output=True).stdout
    return width, height, raw


def main():
    width, height, raw = read_pixels(sys.argv[1])

    def at(x, y):
        i = 3 * (y * width + x)
        return tuple(raw[i:i + 3])

    origin = None
    for y in range(height):
        for x in range(width):
            if at(x, y) == OUTLINE:
                origin = (x - 2, y - 1)
                break
        if origin:
            break
    if not origin:
        print("no button outline in the picture")
        return 1
    failures = 0
    checks = [(p, c) for p, c in EXPECTED.items() if c] + [(p, "not black") for p in NOT_BLACK]
    for (x, y), colour in checks:
        seen = at(origin[0] + x, origin[1] + y)
        if (colour == "not black" and seen == BLACK) or (colour != "not black" and seen != colour):
            print(f"button pixel ({x}, {y}): expected {colour}, saw {seen}")
            failures += 1
    print(f"button at {origin} in the picture; {len(checks) - failures}/{len(checks)} "
          "pixels as expected")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
