#!/usr/bin/env python3
"""Draws the program icon and writes it as a Windows .ico file.

The mark: a rounded square in the window's accent colour with a white ring
("O") and, from 32 pixels up, a white downward arrow inside the ring, on a
transparent background. Every size is drawn from the same shapes (no scaling of
a bitmap), antialiased by supersampling.

Each image is stored as a 32-bit BMP entry (BITMAPINFOHEADER with double
height, BGRA rows bottom-up, then the 1-bit AND mask), which every Windows
version and windres accept. The output is byte-for-byte reproducible.

Usage: make-icon.py [OUTPUT]   (default: resources/Orvane.ico beside this script's parent)
"""

import math
import os
import struct
import sys

SIZES = (16, 32, 48, 64)
ACCENT = (66, 133, 244)
WHITE = (255, 255, 255)
SUBSAMPLES = 8  # per axis, per pixel

# Shapes in unit coordinates (0..1 across the icon, y downwards).
SQUARE_INSET = 0.03  # rounded to whole pixels so the straight edges stay crisp
SQUARE_RADIUS = 0.22
RING_OUTER = 0.33
RING_INNER = 0.20
ARROW_SHAFT_HALF = 0.045
ARROW_SHAFT_TOP = 0.36
ARROW_HEAD_TOP = 0.49
ARROW_HEAD_TIP = 0.64
ARROW_HEAD_HALF = 0.11
ARROW_MIN_SIZE = 32


def in_rounded_square(x, y, inset):
    lo, hi, r = inset, 1.0 - inset, SQUARE_RADIUS
    if x < lo or x > hi or y < lo or y > hi:
        return False
    # Distance from the nearest corner's circle centre, when in a corner zone.
    cx = min(max(x, lo + r), hi - r)
    cy = min(max(y, lo + r), hi - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def in_ring(x, y):
    d = math.hypot(x - 0.5, y - 0.5)
    return RING_INNER <= d <= RING_OUTER


def in_arrow(x, y):
    if abs(x - 0.5) <= ARROW_SHAFT_HALF and ARROW_SHAFT_TOP <= y <= ARROW_HEAD_TOP:
        return True
    if ARROW_HEAD_TOP <= y <= ARROW_HEAD_TIP:
        # Triangle narrowing linearly from the head's top to its tip.
        half = ARROW_HEAD_HALF * (ARROW_HEAD_TIP - y) / (ARROW_HEAD_TIP - ARROW_HEAD_TOP)
        return abs(x - 0.5) <= half
    return False


def render(size):
    """Returns rows (top-down) of (r, g, b, a) tuples with straight alpha."""
    with_arrow = size >= ARROW_MIN_SIZE
    inset = round(size * SQUARE_INSET) / size
    n = SUBSAMPLES
    total = n * n
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            square = mark = 0
            for sy in range(n):
                y = (py + (sy + 0.5) / n) / size
                for sx in range(n):
                    x = (px + (sx + 0.5) / n) / size
                    if in_rounded_square(x, y, inset):
                        square += 1
                        if in_ring(x, y) or (with_arrow and in_arrow(x, y)):
                            mark += 1
            if square == 0:
                row.append((0, 0, 0, 0))
                continue
            # The mark lies inside the square: blend it over the accent fill.
            t = mark / square
            rgb = tuple(round(a + (b - a) * t) for a, b in zip(ACCENT, WHITE))
            row.append(rgb + (round(255 * square / total),))
        rows.append(row)
    return rows


def bmp_entry(size, rows):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = bytearray()
    for row in reversed(rows):  # bottom-up
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    # AND mask: 1 marks a fully transparent pixel; rows padded to 32 bits.
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    image = header + xor + mask
    # biSizeImage covers both the colour and the mask bits.
    return image[:20] + struct.pack("<I", len(xor) + len(mask)) + image[24:]


def build_ico():
    images = [(s, bmp_entry(s, render(s))) for s in SIZES]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    return bytes(out)


def main(argv):
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    target = argv[1] if len(argv) > 1 else os.path.join(root, "resources", "Orvane.ico")
    data = build_ico()
    with open(target, "wb") as f:
        f.write(data)
    print(f"make-icon: wrote {target} ({len(data)} bytes, sizes {', '.join(map(str, SIZES))})")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
