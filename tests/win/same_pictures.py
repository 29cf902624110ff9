#!/usr/bin/env python3
"""same_pictures.py DIR NAME[,NAME...] CODEPAGE...

The pictures NAME.CODEPAGE.bmp that the code page runs of code_page_test kept in DIR (32-bit,
top-down) are alike, pixel for pixel: each is compared with the first code page's, and every
one that differs is named, with how many pixels and the first of them."""
import sys


def picture(path):
    data = open(path, "rb").read()
    width = int.from_bytes(data[18:22], "little", signed=True)
    height = -int.from_bytes(data[22:26], "little", signed=True)
    return width, height, data[int.from_bytes(data[10:14], "little"):]


def main():
    folder, names, pages = sys.argv[1], sys.argv[2].split(","), sys.argv[3:]
    failed = False
    for name in names:
        first = picture(f"{folder}/{name}.{pages[0]}.bmp")
        for page in pages[1:]:
            width, height, pixels = picture(f"{folder}/{name}.{page}.bmp")
            if (width, height) != first[:2]:
                print(f"FAIL {name} at {page}: {width}x{height}, at {pages[0]} {first[0]}x{first[1]}")
                failed = True
                continue
            differ = [i // 4 for i in range(0, len(pixels), 4) if pixels[i:i + 4] != first[2][i:i + 4]]
            if differ:
                print(f"FAIL {name} at {page}: {len(differ)} pixels differ from {pages[0]}'s, "
                      f"the first at {differ[0] % width},{differ[0] // width}")
                failed = True
        if not failed:
            print(f"ok   {name}: alike at {', '.join(pages)}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
