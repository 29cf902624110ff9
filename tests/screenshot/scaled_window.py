#!/usr/bin/env python3
"""Checks a screenshot of the tool's window at some display scale against what the system
says of the window (window_probe's lines).

usage: scaled_window.py SHOT.png PROBE.txt [--designed-client W H] [--reference REF.png]

    SHOT.png     the window, cropped to its outer rectangle
    PROBE.txt    window_probe's output for the same window
    --designed-client W H
                 the client size at 96 dots per inch: at other scales the client area must be
                 that, scaled as the controls are (control_scale / 12)
    --reference  a picture the shot must equal pixel for pixel

Checks: the picture is the window's size; the window is centred on the desktop; no scroll
bar; every control wholly inside the client area; the caption bar's icon, read off the
picture, as large as the system asks; the button's outline on all four sides of its rectangle; the button's caption whole and
centred on its face. Prints the measurements; exits non-zero when a check fails.
"""
import argparse
import sys

from window_pixels import read_pixels, scale

OUTLINE = (0, 60, 116)
# The caption's ink is black on a light face, its smoothed edges grey.
INK_MAX = 150
# Focus dots and the ring lie within 4 pixels of the button's edge.
FACE_INSET = 5


def read_probe(path):
    facts, controls = {}, []
    with open(path, encoding="latin-1") as f:
        for line in f:
            words = line.split()
            if not words:
                continue
            if words[0] == "control":
                controls.append((words[1], *map(int, words[2:6])))
            else:
                facts[words[0]] = [int(w) for w in words[1:]]
    return facts, controls


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("shot")
    parser.add_argument("probe")
    parser.add_argument("--designed-client", nargs=2, type=int)
    parser.add_argument("--reference")
    args = parser.parse_args()

    facts, controls = read_probe(args.probe)
    width, height, raw = read_pixels(args.shot)

    def at(x, y):
        i = 3 * (y * width + x)
        return tuple(raw[i:i + 3])

    failures = []
    wl, wt, ww, wh = facts["window"]
    cw, ch = facts["client"]
    zero = facts["control_scale"][0]
    print(f"dpi {facts['dpi'][0]}: controls scaled by {zero}/12; window {ww}x{wh} at {wl},{wt}; "
          f"client {cw}x{ch}")
    if (width, height) != (ww, wh):
        failures.append(f"the picture is {width}x{height}, the window {ww}x{wh}")
    dw, dh = facts["desktop"]
    centred = (max(0, (dw - ww) // 2), max(0, (dh - wh) // 2))
    if (wl, wt) != centred:
        failures.append(f"the window stands at {wl},{wt}, not centred at {centred}")
    if facts["scroll_bars"] != [0, 0]:
        failures.append(f"scroll bars (horizontal, vertical): {facts['scroll_bars']}")
    if args.designed_client:
        expected = tuple(scale(n, zero, 12) for n in args.designed_client)
        if (cw, ch) != expected:
            failures.append(f"client {cw}x{ch}, expected {expected[0]}x{expected[1]}")
    frame = (facts["client_origin"][0] - wl, facts["client_origin"][1] - wt)
    icon = caption_icon_size(at, frame, facts["small_icon_metric"][0])
    print(f"caption icon {icon[0]}x{icon[1]}")
    if icon != tuple(facts["small_icon_metric"]):
        failures.append(f"the caption's icon is {icon[0]}x{icon[1]}, the system asks for "
                        f"{facts['small_icon_metric'][0]}x{facts['small_icon_metric'][1]}")
    for name, left, top, w, h in controls:
        if left < 0 or top < 0 or left + w > cw or top + h > ch:
            failures.append(f"{name} at {left},{top} {w}x{h} reaches out of the client area")

    buttons = [c for c in controls if c[0] == "TRzButton"]
    if len(buttons) != 1:
        failures.append(f"{len(buttons)} styled buttons")
    else:
        _, bl, bt, bw, bh = buttons[0]
        print(f"button at {bl},{bt} size {bw}x{bh}")
        x0, y0 = frame[0] + bl, frame[1] + bt
        if x0 + bw > width or y0 + bh > height:
            failures.append("the button is not in the picture")
        else:
            failures += check_button(at, x0, y0, bw, bh, facts["caption_width"][0])

    if args.reference:
        failures += compare(args.shot, args.reference, width, height, raw)
    for f in failures:
        print("FAIL " + f)
    return 1 if failures else 0


def caption_icon_size(at, frame, metric):
    """The icon at the left of the caption bar: the first run of columns, from the frame's
    inner edge on, with pixels other than the caption's colour, in the rows of the caption
    bar (those of the caption's colour at the inner edge, where the icon has not begun yet).
    `frame` is the client area's offset in the window."""
    left = frame[0]
    # The sizing frame is as wide at the top as at the sides.
    caption = at(left, left)
    rows = [y for y in range(left, frame[1]) if at(left, y) == caption]
    columns = []
    for x in range(left, left + 3 * metric):
        ink = [y for y in rows if at(x, y) != caption]
        if ink:
            columns.append((x, min(ink), max(ink)))
        elif columns:
            break
    if not columns:
        return 0, 0
    return (columns[-1][0] - columns[0][0] + 1,
            max(c[2] for c in columns) - min(c[1] for c in columns) + 1)


def check_button(at, x0, y0, w, h, caption_width):
    failures = []
    # The outline runs one pixel inside the button's edge, its corners left out.
    for side, (x, y) in {"top": (w // 2, 1), "bottom": (w // 2, h - 2), "left": (1, h // 2),
                         "right": (w - 2, h // 2)}.items():
        if at(x0 + x, y0 + y) != OUTLINE:
            failures.append(f"the button's {side} outline at ({x}, {y}) is "
                            f"{at(x0 + x, y0 + y)}")
    ink = [(x, y) for y in range(FACE_INSET, h - FACE_INSET)
           for x in range(FACE_INSET, w - FACE_INSET) if max(at(x0 + x, y0 + y)) <= INK_MAX]
    if not ink:
        return failures + ["no caption on the button"]
    left, right = min(x for x, _ in ink), max(x for x, _ in ink) + 1
    top, bottom = min(y for _, y in ink), max(y for _, y in ink) + 1
    margins = (left, w - right, top, h - bottom)
    print(f"caption ink {right - left}x{bottom - top} (measured text {caption_width} wide); "
          f"margins left {margins[0]} right {margins[1]} top {margins[2]} bottom {margins[3]}")
    if min(margins) <= FACE_INSET:
        failures.append("the caption's ink reaches the button's edge: cut off")
    if not caption_width - 4 <= right - left <= caption_width:
        failures.append(f"the caption's ink is {right - left} wide, the text {caption_width}: "
                        "not whole")
    if abs(margins[0] - margins[1]) > 2:
        failures.append("the caption is not centred across the face")
    # Glyphs do not fill their line evenly: a few pixels either way, and a little more on a
    # large font.
    if abs(margins[2] - margins[3]) > 3 + h // 16:
        failures.append("the caption is not centred on the face from top to bottom")
    return failures


def compare(shot, reference, width, height, raw):
    ref_width, ref_height, ref_raw = read_pixels(reference)
    if (ref_width, ref_height) != (width, height):
        return [f"the picture is {width}x{height}, the reference {ref_width}x{ref_height}"]
    differing = sum(raw[i:i + 3] != ref_raw[i:i + 3] for i in range(0, len(raw), 3))
    if differing:
        return [f"{differing} pixels differ from {reference}"]
    print(f"identical to {reference}")
    return []


if __name__ == "__main__":
    sys.exit(main())
