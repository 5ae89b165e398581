#!/usr/bin/env python3
"""Draws the program's icons and the about picture as small pixel art.

Writes 32-bit ICO files and a 24-bit BMP into src/win/res/icons. The outputs are
committed; run this again only to change the pictures."""
import os
import struct

OUT = os.path.join(os.path.dirname(__file__), "..", "src", "win", "res", "icons")


def canvas(w, h):
    return [[None] * w for _ in range(h)]


def rect(px, x0, y0, x1, y1, c):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            px[y][x] = c


def outline(px, x0, y0, x1, y1, c):
    for x in range(x0, x1 + 1):
        px[y0][x] = c
        px[y1][x] = c
    for y in range(y0, y1 + 1):
        px[y][x0] = c
        px[y][x1] = c


def disc(px, cx, cy, r, c):
    for y in range(len(px)):
        for x in range(len(px[0])):
            if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
                px[y][x] = c


def ico(px):
    """One 32-bit image with its AND mask, as an ICO file."""
    h, w = len(px), len(px[0])
    xor = b""
    for y in reversed(range(h)):
        for x in range(w):
            c = px[y][x]
            xor += bytes((c[2], c[1], c[0], 255)) if c else b"\0\0\0\0"
    stride = ((w + 31) // 32) * 4
    mask = b""
    for y in reversed(range(h)):
        row = bytearray(stride)
        for x in range(w):
            if px[y][x] is None:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(row)
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = header + xor + mask
    return struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", w, h, 0, 0, 1, 32, len(image), 22) + image


def save(name, data):
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


BLACK, WHITE = (0, 0, 0), (255, 255, 255)
YELLOW, DARKYEL = (250, 210, 80), (170, 130, 20)
GREY, DARK, LIGHT = (160, 160, 170), (70, 70, 80), (225, 225, 230)
GREEN, BLUE, RED = (40, 170, 60), (50, 90, 200), (200, 50, 50)


def folder(px):
    rect(px, 1, 3, 6, 4, DARKYEL)
    rect(px, 1, 5, 14, 13, YELLOW)
    outline(px, 1, 5, 14, 13, DARKYEL)


def drive(px, led):
    rect(px, 1, 5, 14, 11, GREY)
    outline(px, 1, 5, 14, 11, DARK)
    rect(px, 3, 8, 9, 8, DARK)
    rect(px, 11, 8, 12, 9, led)


def document(px, body, lines):
    rect(px, 3, 1, 12, 14, body)
    outline(px, 3, 1, 12, 14, DARK)
    for y in range(4, 13, 2):
        rect(px, 5, y, 10, y, lines)


def build_icons():
    p = canvas(16, 16); folder(p)
    for i, (x, y) in enumerate([(8, 6), (7, 7), (8, 7), (9, 7), (6, 8), (10, 8)]):
        p[y][x] = GREEN
    rect(p, 8, 8, 8, 11, GREEN); save("pane_dots.ico", ico(p))
    p = canvas(16, 16); folder(p); save("pane_folder.ico", ico(p))
    p = canvas(16, 16); drive(p, GREEN); save("pane_fixed.ico", ico(p))
    p = canvas(16, 16); disc(p, 7, 7, 6, LIGHT); disc(p, 7, 7, 2, BLUE); p[7][7] = None
    save("pane_cdrom.ico", ico(p))
    p = canvas(16, 16); rect(p, 2, 2, 13, 13, BLUE); rect(p, 5, 2, 10, 6, LIGHT); rect(p, 4, 9, 11, 13, WHITE)
    save("pane_removable.ico", ico(p))
    p = canvas(16, 16); drive(p, GREEN); rect(p, 7, 12, 8, 14, DARK); rect(p, 3, 14, 12, 14, DARK)
    save("pane_remote.ico", ico(p))
    p = canvas(16, 16); rect(p, 3, 3, 12, 12, GREEN); outline(p, 3, 3, 12, 12, DARK)
    for x in range(4, 12, 2):
        p[1][x] = p[2][x] = p[13][x] = p[14][x] = DARK
    save("pane_ramdisk.ico", ico(p))
    p = canvas(16, 16); document(p, WHITE, BLUE); save("pane_compressed.ico", ico(p))
    p = canvas(16, 16); document(p, WHITE, GREY); rect(p, 10, 1, 12, 3, LIGHT); save("pane_archive.ico", ico(p))
    p = canvas(16, 16); document(p, LIGHT, GREY); save("pane_file.ico", ico(p))

    # Program icon: two PCs and the arrow between them.
    p = canvas(32, 32)
    for x0 in (1, 18):
        rect(p, x0, 4, x0 + 12, 14, DARK); rect(p, x0 + 1, 5, x0 + 11, 13, BLUE)
        rect(p, x0 + 4, 15, x0 + 8, 16, DARK); rect(p, x0 + 1, 17, x0 + 11, 18, GREY)
    rect(p, 6, 24, 24, 25, RED)
    for d in range(4):
        rect(p, 24 - d, 22 + d, 24 - d, 27 - d, RED)
        rect(p, 24 + d - 3, 22 + d, 24 + d - 3, 27 - d, RED)
    save("program.ico", ico(p))


def build_about():
    w, h = 128, 64
    px = [[(235, 242, 250)] * w for _ in range(h)]
    for y in range(h):
        for x in range(w):
            if y < 6 or y > h - 7:
                px[y][x] = (50, 90, 200)
    # The two PCs of the program icon, larger.
    for x0 in (8, 84):
        for y in range(14, 40):
            for x in range(x0, x0 + 36):
                px[y][x] = (70, 70, 80) if (y in (14, 39) or x in (x0, x0 + 35)) else (90, 140, 230)
        for y in range(40, 46):
            for x in range(x0 + 12, x0 + 24):
                px[y][x] = (70, 70, 80)
    for y in range(25, 29):
        for x in range(46, 82):
            px[y][x] = (200, 50, 50)
    stride = (w * 3 + 3) & ~3
    data = b""
    for y in reversed(range(h)):
        row = b"".join(bytes((c[2], c[1], c[0])) for c in px[y])
        data += row + b"\0" * (stride - len(row))
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 54)
    save("about.bmp", head + info + data)


if __name__ == "__main__":
    os.makedirs(OUT, exist_ok=True)
    build_icons()
    build_about()
