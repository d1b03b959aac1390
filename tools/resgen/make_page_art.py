#!/usr/bin/env python3
"""Draws the Color correction page's icons and colour strips.

Icons 128, 129, 130, 134, 140: 32 x 32, 16 colours (4 bits a pixel, with an
AND mask for transparency). Bitmaps 127, 128, 129: 130 x 8, 16 colours, each
with its own palette of 16 steps between two colours, so the strip shows
the direction of its slider.

    tools/resgen/make_page_art.py OUTDIR     (default: uiplugin/resources)

The outputs are committed; rerun this only to change the art.
"""
import math
import os
import struct
import sys

# The classic 16-colour palette, so icons look the same in any display depth.
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
       (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
BLACK, GRAY, SILVER, RED, LIME, BLUE, WHITE, NAVY, TEAL = 0, 8, 7, 9, 10, 12, 15, 4, 6
CLEAR = None


def pack4(rows, width):
    """Rows top-down of palette indices -> bottom-up 4-bit rows padded to 4 bytes."""
    stride = ((width * 4 + 31) // 32) * 4
    out = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, v in enumerate(row):
            v = 0 if v is None else v
            if x % 2 == 0:
                line[x // 2] |= v << 4
            else:
                line[x // 2] |= v
        out += line
    return bytes(out)


def pack_mask(rows, width):
    stride = ((width + 31) // 32) * 4
    out = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, v in enumerate(row):
            if v is None:
                line[x // 8] |= 0x80 >> (x % 8)
        out += line
    return bytes(out)


def palette_bytes(pal):
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in pal)


def write_icon(path, rows):
    w = h = 32
    xor = pack4(rows, w)
    mask = pack_mask(rows, w)
    info = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    image = info + palette_bytes(VGA) + xor + mask
    header = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", w, h, 16, 0, 1, 4, len(image), 6 + 16)
    with open(path, "wb") as f:
        f.write(header + entry + image)


def write_strip(path, start, end):
    w, h = 130, 8
    pal = [tuple(round(s + (e - s) * i / 15) for s, e in zip(start, end)) for i in range(16)]
    rows = [[min(15, x * 16 // w) for x in range(w)] for _ in range(h)]
    pixels = pack4(rows, w)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 4, 0, len(pixels), 2835, 2835, 16, 16)
    off = 14 + len(info) + 64
    fh = struct.pack("<HIHHI", 0x4D42, off + len(pixels), 0, 0, off)
    with open(path, "wb") as f:
        f.write(fh + info + palette_bytes(pal) + pixels)


def canvas():
    return [[CLEAR] * 32 for _ in range(32)]


def disc(c, cx, cy, r, fill_left, fill_right=None, outline=BLACK):
    fill_right = fill_left if fill_right is None else fill_right
    for y in range(32):
        for x in range(32):
            d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
            if d <= r - 1.2:
                c[y][x] = fill_left if x + 0.5 < cx else fill_right
            elif d <= r:
                c[y][x] = outline


def rect(c, x0, y0, x1, y1, v):
    for y in range(y0, y1):
        for x in range(x0, x1):
            c[y][x] = v


def line(c, x0, y0, x1, y1, v, width=1.0):
    steps = int(max(abs(x1 - x0), abs(y1 - y0)) * 4) + 1
    for i in range(steps + 1):
        t = i / steps
        px, py = x0 + (x1 - x0) * t, y0 + (y1 - y0) * t
        for y in range(32):
            for x in range(32):
                if math.hypot(x + 0.5 - px, y + 0.5 - py) <= width / 2 + 0.25:
                    c[y][x] = v


def icon_brightness():
    c = canvas(); disc(c, 16, 16, 13, WHITE); return c


def icon_contrast():
    c = canvas(); disc(c, 16, 16, 13, WHITE, GRAY); return c


def icon_saturation():
    c = canvas()
    for i, colour in enumerate((RED, LIME, BLUE)):
        x0 = 4 + i * 9
        rect(c, x0, 5, x0 + 7, 27, BLACK)
        rect(c, x0 + 1, 6, x0 + 6, 26, colour)
    return c


def icon_sharpness():
    c = canvas()
    line(c, 6, 27, 16, 4, BLACK, 3.0)
    line(c, 26, 27, 16, 4, BLACK, 3.0)
    line(c, 10.5, 18, 21.5, 18, BLACK, 2.5)
    return c


def cube(c, x, y, s, face, top, side):
    d = s // 2
    # front face
    rect(c, x, y + d, x + s, y + d + s, face)
    # top face (parallelogram) and right face
    for i in range(d):
        for j in range(s):
            c[y + d - 1 - i][x + j + i + 1 if x + j + i + 1 < 32 else 31] = top
        for j in range(s):
            yy = y + d + j - i
            xx = x + s + i
            if 0 <= yy < 32 and xx < 32:
                c[yy][xx] = side
    line(c, x, y + d, x + s - 1, y + d, BLACK)
    line(c, x, y + d + s - 1, x + s - 1, y + d + s - 1, BLACK)
    line(c, x, y + d, x, y + d + s - 1, BLACK)
    line(c, x + s - 1, y + d, x + s - 1, y + d + s - 1, BLACK)


def icon_resize():
    c = canvas()
    cube(c, 2, 6, 16, SILVER, WHITE, GRAY)
    cube(c, 21, 18, 7, SILVER, WHITE, GRAY)
    return c


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..", "uiplugin", "resources")
    os.makedirs(out, exist_ok=True)
    icons = {128: icon_brightness, 129: icon_contrast, 130: icon_saturation, 134: icon_sharpness, 140: icon_resize}
    names = {128: "brightness", 129: "contrast", 130: "saturation", 134: "sharpness", 140: "resize"}
    for rid, draw in icons.items():
        write_icon(os.path.join(out, f"icon{rid}_{names[rid]}.ico"), draw())
    cyan, red, magenta, green, yellow, blue = (0, 255, 255), (255, 0, 0), (255, 0, 255), (0, 255, 0), (255, 255, 0), (0, 0, 255)
    write_strip(os.path.join(out, "strip127_cyan_red.bmp"), cyan, red)
    write_strip(os.path.join(out, "strip128_magenta_green.bmp"), magenta, green)
    write_strip(os.path.join(out, "strip129_yellow_blue.bmp"), yellow, blue)


if __name__ == "__main__":
    main()
