#!/usr/bin/env python3
"""Draws the updater's default banner: 129 x 58 pixels, 256 colours, a BMP.

The design is this file: a white band that turns light blue towards the
right, where a blue ring with an arrowhead (the product's renewal) sits on
three soft diagonal stripes. Every pixel's colour comes from the functions
below, so the picture is reproducible and can be changed by editing code.

    make_banner.py OUTPUT.bmp
"""
import math
import struct
import sys

WIDTH, HEIGHT = 129, 58
WHITE = (255, 255, 255)
SKY = (214, 232, 247)
BLUE = (30, 90, 168)
NAVY = (14, 44, 92)

RING_CENTRE = (100.0, 29.0)
RING_INNER, RING_OUTER = 13.0, 19.0
GAP_FROM, GAP_TO = math.radians(20), math.radians(70)  # the ring's opening, where the arrow points


def mix(a, b, t):
    t = min(max(t, 0.0), 1.0)
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


# 0-127: white to sky (the background), 128-255: sky through blue to navy (the drawing).
PALETTE = [mix(WHITE, SKY, i / 127) for i in range(128)]
PALETTE += [mix(SKY, BLUE, i / 63) if i < 64 else mix(BLUE, NAVY, (i - 64) / 63) for i in range(128)]


def background(x, y):
    t = (x / (WIDTH - 1)) ** 2
    stripe = (x + y) % 24
    if x > 60 and stripe < 6:
        t = min(1.0, t + 0.25)
    return round(t * 127)


def in_arrowhead(x, y):
    # A triangle at the ring's opening, pointing along the ring, clockwise.
    cx, cy = RING_CENTRE
    tip_angle = GAP_FROM + math.radians(28)
    mid = (RING_INNER + RING_OUTER) / 2
    base = (cx + mid * math.cos(GAP_FROM), cy - mid * math.sin(GAP_FROM))
    tip = (cx + mid * math.cos(tip_angle), cy - mid * math.sin(tip_angle))
    normal = (math.cos(GAP_FROM), -math.sin(GAP_FROM))
    half = (RING_OUTER - RING_INNER) * 1.1
    corners = [(base[0] + normal[0] * half, base[1] + normal[1] * half),
               (base[0] - normal[0] * half, base[1] - normal[1] * half), tip]

    def side(p, a, b):
        return (p[0] - b[0]) * (a[1] - b[1]) - (a[0] - b[0]) * (p[1] - b[1])

    p = (x + 0.5, y + 0.5)
    d1, d2, d3 = side(p, corners[0], corners[1]), side(p, corners[1], corners[2]), side(p, corners[2], corners[0])
    return not ((d1 < 0 or d2 < 0 or d3 < 0) and (d1 > 0 or d2 > 0 or d3 > 0))


def drawing(x, y):
    """The palette index of the ring at (x, y), or None outside it."""
    cx, cy = RING_CENTRE
    dx, dy = x + 0.5 - cx, cy - (y + 0.5)
    radius = math.hypot(dx, dy)
    angle = math.atan2(dy, dx) % (2 * math.pi)
    if RING_INNER <= radius <= RING_OUTER and not GAP_FROM <= angle <= GAP_TO:
        # Darker towards the lower left, as if lit from the upper right.
        shade = (1 - math.sin(angle + math.pi / 4)) / 2
        return 160 + round(shade * 80)
    if in_arrowhead(x, y):
        return 200
    return None


def pixel(x, y):
    ring = drawing(x, y)
    return ring if ring is not None else background(x, y)


def bmp():
    row_bytes = (WIDTH + 3) & ~3
    rows = []
    for y in range(HEIGHT - 1, -1, -1):  # bottom-up
        row = bytes(pixel(x, y) for x in range(WIDTH))
        rows.append(row + b"\0" * (row_bytes - WIDTH))
    pixels = b"".join(rows)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 8, 0, len(pixels), 2835, 2835, 256, 0)
    offset = 14 + len(info) + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return header + info + palette + pixels


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    with open(sys.argv[1], "wb") as out:
        out.write(bmp())
