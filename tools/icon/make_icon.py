#!/usr/bin/env python3
"""Draws the program icon and writes it as a Windows .ico with ten images:
16, 32 and 48 pixels in 256 colours and in 32-bit colour, 48 pixels in 16 colours and
128 pixels in 32-bit colour; and 20 and 24 pixels in 32-bit colour, the caption bar's icon at
125 % and 150 % display scaling, drawn at their size rather than stretched from another. The
128-pixel one, which only Explorer's large views show, is a PNG (Windows reads those in icons
since Vista): as a bitmap it would weigh 66 KB of the program's size.

The artwork is a white arrow pointing down into a tray, on a blue rounded square: the tool
fetches an installer. Shapes are sampled 4x4 per pixel so that the small sizes stay clean.

usage: make_icon.py OUT.ico
"""
import struct
import sys
import zlib

BLUE_TOP, BLUE_BOTTOM = (64, 140, 230), (16, 72, 160)
WHITE = (255, 255, 255)
RIM = (10, 48, 110)


def inside_rounded(x, y, r):
    """Whether (x, y) in the unit square lies in a square with corner radius r."""
    cx = min(max(x, r), 1 - r)
    cy = min(max(y, r), 1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def in_arrow(x, y):
    # Shaft and head of the arrow, then the open tray under it.
    if 0.42 <= x <= 0.58 and 0.14 <= y <= 0.50:
        return True
    if 0.46 <= y <= 0.68 and abs(x - 0.5) <= (0.68 - y) * 1.05:
        return True
    if 0.74 <= y <= 0.84 and 0.20 <= x <= 0.80:
        return True
    if 0.60 <= y <= 0.84 and (0.20 <= x <= 0.30 or 0.70 <= x <= 0.80):
        return True
    return False


def sample(x, y):
    """Colour and coverage of the artwork at (x, y) in the unit square."""
    if not inside_rounded(x, y, 0.18):
        return None
    if not inside_rounded((x - 0.04) / 0.92, (y - 0.04) / 0.92, 0.16):
        return RIM
    if in_arrow(x, y):
        return WHITE
    t = y
    return tuple(round(a + (b - a) * t) for a, b in zip(BLUE_TOP, BLUE_BOTTOM))


def render(size):
    """Rows of (r, g, b, a), top row first."""
    n = 4
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0]
            hits = 0
            for sy in range(n):
                for sx in range(n):
                    c = sample((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size)
                    if c is not None:
                        hits += 1
                        for i in range(3):
                            acc[i] += c[i]
            if hits == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(round(v / hits) for v in acc) + (round(255 * hits / (n * n)),))
        rows.append(row)
    return rows


VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
         (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
         (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def palette256():
    cube = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    greys = [(v, v, v) for v in range(8, 248, 6)][:40]
    return (cube + greys + [(0, 0, 0)] * 256)[:256]


def nearest(palette, c):
    return min(range(len(palette)),
               key=lambda i: sum((palette[i][k] - c[k]) ** 2 for k in range(3)))


def mask_rows(rows):
    """The AND mask, 1 bit per pixel, rows padded to 32 bits, bottom row first."""
    size = len(rows)
    stride = ((size + 31) // 32) * 4
    out = b""
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, p in enumerate(row):
            if p[3] < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += bytes(bits)
    return out


def png(rows):
    """The image as a PNG: 8-bit RGBA, no filter, no time or text chunks (the same bytes on
    every build)."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    size = len(rows)
    raw = b"".join(b"\0" + b"".join(bytes(p) for p in row) for row in rows)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def image(size, bpp):
    rows = render(size)
    if size >= 128:
        return png(rows)
    header_height = size * 2  # colour bits and mask
    body = b""
    palette = []
    if bpp == 32:
        for row in reversed(rows):
            for r, g, b, a in row:
                body += bytes((b, g, r, a))
    else:
        palette = VGA16 if bpp == 4 else palette256()
        cache = {}
        stride = ((size * bpp + 31) // 32) * 4
        for row in reversed(rows):
            line = bytearray(stride)
            for x, p in enumerate(row):
                # Transparent pixels are black under the mask.
                colour = p[:3] if p[3] >= 128 else (0, 0, 0)
                if colour not in cache:
                    cache[colour] = nearest(palette, colour)
                idx = cache[colour]
                if bpp == 8:
                    line[x] = idx
                else:
                    line[x // 2] |= idx << (4 if x % 2 == 0 else 0)
            body += bytes(line)
    header = struct.pack("<IiiHHIIiiII", 40, size, header_height, 1, bpp, 0,
                         len(body) + len(mask_rows(rows)), 0, 0,
                         len(palette), 0)
    pal = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    return header + pal + body + mask_rows(rows)


def main():
    specs = [(16, 8), (32, 8), (48, 8), (16, 32), (32, 32), (48, 32), (48, 4), (128, 32),
             (20, 32), (24, 32)]
    images = [image(size, bpp) for size, bpp in specs]
    out = struct.pack("<HHH", 0, 1, len(specs))
    offset = 6 + 16 * len(specs)
    for (size, bpp), data in zip(specs, images):
        colours = 16 if bpp == 4 else 0
        out += struct.pack("<BBBBHHII", size % 256, size % 256, colours, 0, 1, bpp, len(data),
                           offset)
        offset += len(data)
    out += b"".join(images)
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
