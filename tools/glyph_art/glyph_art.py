#!/usr/bin/env python3
"""Writes the styled controls' glyph bitmaps: 16 x 16 pixel art, one cell per state, side by
side, as 24-bit BMP files. The bottom-left pixel of every bitmap is the colour that drawing
leaves out (magenta), so the art never touches that corner.

    glyph_art.py kinds OUTDIR     the standard kinds of the styled bit button (normal, disabled)
    glyph_art.py gallery OUTDIR   the controls gallery's own glyph and image strip
"""
import os
import struct
import sys

CELL = 16
CLEAR = (255, 0, 255)
SHADOW = (128, 128, 128)
HIGHLIGHT = (255, 255, 255)

PALETTE = {
    'G': (40, 160, 60), 'g': (20, 100, 30),      # green, dark green
    'R': (220, 40, 40), 'r': (140, 20, 20),      # red, dark red
    'B': (40, 100, 210), 'b': (20, 50, 140),     # blue, dark blue
    'Y': (250, 210, 60), 'y': (180, 130, 20),    # yellow, dark yellow
    'O': (245, 150, 30), 'o': (170, 90, 10),     # orange, dark orange
    'N': (150, 95, 50), 'n': (90, 55, 25),       # brown, dark brown
    'W': (255, 255, 255),
    'K': (30, 30, 30),
    'S': (170, 170, 170), 's': (100, 100, 100),  # greys
}


def blank():
    return [[None] * CELL for _ in range(CELL)]


def overlay(cell, rows):
    """Paints the rows of characters over `cell`; '.' leaves a pixel as it is."""
    assert len(rows) == CELL, rows
    for y, row in enumerate(rows):
        assert len(row) == CELL, row
        for x, ch in enumerate(row):
            if ch != '.':
                cell[y][x] = PALETTE[ch]
    return cell


def disc(cell, fill, edge, radius=7.3, cx=7.5, cy=7.5):
    for y in range(CELL):
        for x in range(CELL):
            d = ((x - cx) ** 2 + (y - cy) ** 2) ** 0.5
            if d <= radius:
                cell[y][x] = PALETTE[edge] if d > radius - 1.2 else PALETTE[fill]
    return cell


def disabled(cell):
    """The embossed look of a disabled glyph: its darker pixels in grey over a white copy
    one pixel down and right; light pixels drop out."""
    dark = [(x, y) for y in range(CELL) for x in range(CELL)
            if cell[y][x] is not None and sum(cell[y][x]) < 3 * 200]
    out = blank()
    for x, y in dark:
        if x + 1 < CELL and y + 1 < CELL:
            out[y + 1][x + 1] = HIGHLIGHT
    for x, y in dark:
        out[y][x] = SHADOW
    return out


def recolour(cell, mapping):
    return [[mapping.get(p, p) for p in row] for row in cell]


CHECK = [
    "................",
    "................",
    "..............g.",
    ".............gGg",
    "............gGGg",
    "...........gGGg.",
    "..g.......gGGg..",
    ".gGg.....gGGg...",
    ".gGGg...gGGg....",
    "..gGGg.gGGg.....",
    "...gGGgGGg......",
    "....gGGGg.......",
    ".....gGg........",
    "......g.........",
    "................",
    "................",
]

CROSS = [
    "................",
    "................",
    "..rr........rr..",
    "..rRr......rRr..",
    "...rRr....rRr...",
    "....rRr..rRr....",
    ".....rRrrRr.....",
    "......rRRr......",
    "......rRRr......",
    ".....rRrrRr.....",
    "....rRr..rRr....",
    "...rRr....rRr...",
    "..rRr......rRr..",
    "..rr........rr..",
    "................",
    "................",
]

QUESTION = [
    "................",
    "................",
    "................",
    "......WWWW......",
    ".....WW..WW.....",
    ".........WW.....",
    "........WW......",
    ".......WW.......",
    ".......WW.......",
    "................",
    ".......WW.......",
    ".......WW.......",
    "................",
    "................",
    "................",
    "................",
]

WHITE_CHECK = [
    "................",
    "................",
    "................",
    "................",
    "...........WW...",
    "..........WW....",
    "....WW...WW.....",
    ".....WW.WW......",
    "......WWW.......",
    ".......W........",
    "................",
    "................",
    "................",
    "................",
    "................",
    "................",
]

WHITE_BAR = [
    "................",
    "................",
    "................",
    "................",
    "................",
    "................",
    "...WWWWWWWWWW...",
    "...WWWWWWWWWW...",
    "...WWWWWWWWWW...",
    "................",
    "................",
    "................",
    "................",
    "................",
    "................",
    "................",
]

DOOR = [
    "................",
    ".nnnnnnnnn......",
    ".nNNNNNNNn......",
    ".nNNNNNNNn......",
    ".nNNNNNNNn...g..",
    ".nNNNNNNNn...gg.",
    ".nNNNNNNNggggGGg",
    ".nNNNNNYNgGGGGGG",
    ".nNNNNNYNgGGGGGg",
    ".nNNNNNNNggggGg.",
    ".nNNNNNNNn...gg.",
    ".nNNNNNNNn...g..",
    ".nNNNNNNNn......",
    ".nNNNNNNNn......",
    ".nnnnnnnnn......",
    "................",
]

STOP = [
    "................",
    ".....rrrrrr.....",
    "....rRRRRRRr....",
    "...rRRRRRRRRr...",
    "..rRRRRRRRRRRr..",
    ".rRRRRRRRRRRRRr.",
    ".rRRRWWWWWWRRRr.",
    ".rRRRWWWWWWRRRr.",
    ".rRRRWWWWWWRRRr.",
    ".rRRRWWWWWWRRRr.",
    ".rRRRRRRRRRRRRr.",
    "..rRRRRRRRRRRr..",
    "...rRRRRRRRRr...",
    "....rRRRRRRr....",
    ".....rrrrrr.....",
    "................",
]

RETRY = [
    "................",
    "......bbbb......",
    "....bbBBBBbb....",
    "...bBBbbbbBBb.b.",
    "..bBBb....bBBbB.",
    "..bBb......bBBB.",
    ".bBb......bBBBB.",
    ".bBb.....bbbbbb.",
    ".bBb............",
    ".bBb........bBb.",
    "..bBb......bBb..",
    "..bBBb....bBBb..",
    "...bBBbbbbBBb...",
    "....bbBBBBbb....",
    "......bbbb......",
    "................",
]

SKIP = [
    "................",
    "................",
    "................",
    "..b.....b....bb.",
    "..bb....bb...bb.",
    "..bBb...bBb..bb.",
    "..bBBb..bBBb.bb.",
    "..bBBBb.bBBBbbb.",
    "..bBBBb.bBBBbbb.",
    "..bBBb..bBBb.bb.",
    "..bBb...bBb..bb.",
    "..bb....bb...bb.",
    "..b.....b....bb.",
    "................",
    "................",
    "................",
]

DOUBLE_CHECK = [
    "................",
    "................",
    "..........g...g.",
    ".........gGg.gGg",
    "........gGGggGGg",
    ".......gGGggGGg.",
    "..g...gGGggGGg..",
    ".gGg.gGGggGGg...",
    ".gGGgGGggGGg....",
    "..gGGGggGGg.....",
    "...gGgGGGg......",
    "....ggGGg.......",
    ".....gGg........",
    "......g.........",
    "................",
    "................",
]

STAR = [
    "................",
    ".......yy.......",
    ".......yy.......",
    "......yYYy......",
    "......yYYy......",
    "yyyyyyYYYYyyyyyy",
    ".yYYYYYYYYYYYYy.",
    "..yYYYYYYYYYYy..",
    "...yYYYYYYYYy...",
    "...yYYYYYYYYy...",
    "..yYYYYyyYYYYy..",
    "..yYYYy..yYYYy..",
    ".yYYyy....yyYYy.",
    ".yyy........yyy.",
    "................",
    "................",
]

FOLDER = [
    "................",
    "................",
    ".yyyyy..........",
    "yYYYYYy.........",
    "yYYYYYYyyyyyyyy.",
    "yYYYYYYYYYYYYYy.",
    "yyyyyyyyyyyyyyyy",
    "yYYYYYYYYYYYYYYy",
    "yYYYYYYYYYYYYYYy",
    "yYYYYYYYYYYYYYYy",
    "yYYYYYYYYYYYYYYy",
    "yYYYYYYYYYYYYYYy",
    "yYYYYYYYYYYYYYYy",
    "yyyyyyyyyyyyyyyy",
    "................",
    "................",
]

GLOBE_LINES = [
    "................",
    "................",
    "................",
    "......WWWW......",
    "................",
    "...WWWWWWWWWW...",
    "................",
    ".WWWWWWWWWWWWWW.",
    "................",
    "...WWWWWWWWWW...",
    "................",
    "......WWWW......",
    "................",
    "................",
    "................",
    "................",
]

DOWNLOAD = [
    "................",
    "......gggg......",
    "......gGGg......",
    "......gGGg......",
    "......gGGg......",
    "......gGGg......",
    "..gggggGGggggg..",
    "...gGGGGGGGGg...",
    "....gGGGGGGg....",
    ".....gGGGGg.....",
    "......gGGg......",
    ".......gg.......",
    ".ssssssssssssss.",
    ".sSSSSSSSSSSSSs.",
    ".ssssssssssssss.",
    "................",
]


def kind_glyphs():
    """Name -> cells of the standard kinds: normal, then disabled."""
    art = {
        "ok": overlay(blank(), CHECK),
        "cancel": overlay(blank(), CROSS),
        "help": overlay(disc(blank(), 'B', 'b'), QUESTION),
        "yes": overlay(disc(blank(), 'G', 'g'), WHITE_CHECK),
        "no": overlay(disc(blank(), 'R', 'r'), WHITE_BAR),
        "close": overlay(blank(), DOOR),
        "abort": overlay(blank(), STOP),
        "retry": overlay(blank(), RETRY),
        "ignore": overlay(blank(), SKIP),
        "all": overlay(blank(), DOUBLE_CHECK),
    }
    return {name: [cell, disabled(cell)] for name, cell in art.items()}


def gallery_glyphs():
    star = overlay(blank(), STAR)
    orange = {PALETTE['Y']: PALETTE['O'], PALETTE['y']: PALETTE['o']}
    red = {PALETTE['Y']: PALETTE['R'], PALETTE['y']: PALETTE['r']}
    images = [
        overlay(blank(), FOLDER),
        overlay(disc(blank(), 'B', 'b'), GLOBE_LINES),
        overlay(blank(), DOWNLOAD),
        overlay(blank(), CROSS),
    ]
    return {
        # normal, disabled, pressed, latched down
        "star4": [star, disabled(star), recolour(star, orange), recolour(star, red)],
        # an image list: folder, globe, download, and a red cross for disabled buttons
        "images": images,
    }


def write_bmp(path, cells):
    width, height = CELL * len(cells), CELL
    stride = (width * 3 + 3) & ~3
    pixels = bytearray()
    for y in reversed(range(height)):  # bottom-up rows
        row = bytearray()
        for cell in cells:
            for x in range(CELL):
                r, g, b = cell[y][x] or CLEAR
                row += bytes((b, g, r))
        row += b"\0" * (stride - len(row))
        pixels += row
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835,
                         0, 0)
    file_header = struct.pack("<2sIHHI", b"BM", 14 + len(header) + len(pixels), 0, 0,
                              14 + len(header))
    with open(path, "wb") as f:
        f.write(file_header + header + pixels)


def main(argv):
    if len(argv) != 3 or argv[1] not in ("kinds", "gallery"):
        sys.exit(__doc__)
    sets = kind_glyphs() if argv[1] == "kinds" else gallery_glyphs()
    os.makedirs(argv[2], exist_ok=True)
    for name, cells in sets.items():
        for cell in cells:
            assert cell[CELL - 1][0] is None, name + ": the bottom-left pixel must stay clear"
        write_bmp(os.path.join(argv[2], name + ".bmp"), cells)


if __name__ == "__main__":
    main(sys.argv)
