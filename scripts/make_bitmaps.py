#!/usr/bin/env python3
"""Draws the pictures of the resources: the expand and collapse boxes of the process list
(res/minus.bmp, res/plus.bmp: a green sign on a light grey 16 x 16 tile, 24 bits per pixel) and the
program icon (res/vantrel.ico: 16, 32 and 48 pixels, 32 bits with alpha). Run it from anywhere; it
writes next to the resource script. Only the standard library is used."""

import os
import struct

RES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "res")

TILE = (236, 236, 236)
EDGE = (150, 150, 150)
GREEN = (0, 150, 40)


def box(sign):
    """16 x 16 rows of (r, g, b), top row first."""
    px = [[TILE] * 16 for _ in range(16)]
    for i in range(1, 15):
        px[1][i] = px[14][i] = px[i][1] = px[i][14] = EDGE
    for x in range(4, 12):  # the bar of both signs, two pixels thick
        px[7][x] = px[8][x] = GREEN
    if sign == "+":
        for y in range(4, 12):
            px[y][7] = px[y][8] = GREEN
    return px


def bmp24(px):
    height, width = len(px), len(px[0])
    stride = (width * 3 + 3) & ~3
    body = bytearray()
    for row in reversed(px):  # bottom-up
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        body += line + bytes(stride - len(line))
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(body), 2835, 2835, 0, 0)
    return b"BM" + struct.pack("<IHHI", 14 + len(header) + len(body), 0, 0, 14 + len(header)) + \
        header + body


def icon_image(size):
    """The program's picture: a blue card with an indented tree of three rows and an orange mark
    on the middle one. Rows of (r, g, b, a), top first."""
    s = size / 16.0
    px = [[(0, 0, 0, 0)] * size for _ in range(size)]
    radius = 3 * s
    for y in range(size):
        for x in range(size):
            # rounded corners
            cx = min(max(x + 0.5, radius), size - radius)
            cy = min(max(y + 0.5, radius), size - radius)
            if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= radius ** 2:
                shade = int(40 * y / size)
                px[y][x] = (30, 90 - shade // 2, 170 - shade, 255)

    def fill(x0, y0, x1, y1, colour):
        for y in range(int(y0 * s), int(y1 * s)):
            for x in range(int(x0 * s), int(x1 * s)):
                px[y][x] = colour

    white = (250, 250, 250, 255)
    fill(3, 3, 13, 5, white)      # root row
    fill(4, 5, 5, 11, white)      # tree line
    fill(5, 7, 13, 9, white)      # child row
    fill(5, 11, 13, 13, white)    # child row
    fill(4, 11, 5, 12, white)
    fill(10, 6.5, 13, 9.5, (255, 120, 40, 255))  # the marked process
    return px


def ico(sizes):
    images = []
    for size in sizes:
        px = icon_image(size)
        xor = bytearray()
        for row in reversed(px):
            for r, g, b, a in row:
                xor += bytes((b, g, r, a))
        mask_stride = ((size + 31) // 32) * 4
        mask = bytearray()
        for row in reversed(px):
            bits = bytearray(mask_stride)
            for x, (_, _, _, a) in enumerate(row):
                if a == 0:
                    bits[x // 8] |= 0x80 >> (x % 8)
            mask += bits
        header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask),
                             0, 0, 0, 0)
        images.append((size, header + xor + mask))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    return out


def main():
    with open(os.path.join(RES, "minus.bmp"), "wb") as f:
        f.write(bmp24(box("-")))
    with open(os.path.join(RES, "plus.bmp"), "wb") as f:
        f.write(bmp24(box("+")))
    with open(os.path.join(RES, "vantrel.ico"), "wb") as f:
        f.write(ico([16, 32, 48]))


if __name__ == "__main__":
    main()
