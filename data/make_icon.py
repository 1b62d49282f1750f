#!/usr/bin/env python3
"""Draws the program icon: three phone cards fanned out like clones of one master, the front
one carrying a camera-shutter mark for the snapshot.

Writes data/app.ico with seven 32-bit images: 256x256 stored as PNG, and 128, 96, 64, 32, 24
and 16 pixels stored as BMP with an alpha channel. Standard library only (struct, zlib).

    python3 data/make_icon.py            # rewrites data/app.ico beside this script
    python3 data/make_icon.py OUT.ico    # writes elsewhere
"""

import math
import os
import struct
import sys
import zlib

SIZES = [256, 128, 96, 64, 32, 24, 16]


def clamp01(v):
    return 0.0 if v < 0.0 else 1.0 if v > 1.0 else v


def rounded_rect_distance(x, y, cx, cy, hw, hh, r):
    """Signed distance from (x, y) to a rounded rectangle (negative inside)."""
    qx = abs(x - cx) - (hw - r)
    qy = abs(y - cy) - (hh - r)
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    inside = min(max(qx, qy), 0.0)
    return outside + inside - r


def circle_distance(x, y, cx, cy, r):
    return math.hypot(x - cx, y - cy) - r


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def hex_colour(text):
    return tuple(int(text[i:i + 2], 16) / 255.0 for i in (0, 2, 4))


BACK = hex_colour("90CAF9")
MIDDLE = hex_colour("42A5F5")
BEZEL = hex_colour("1E2A33")
SCREEN_TOP = hex_colour("4FC3F7")
SCREEN_BOTTOM = hex_colour("0277BD")
WHITE = (1.0, 1.0, 1.0)
SHADOW = (0.0, 0.0, 0.0)

CARD_HALF_W = 0.22
CARD_HALF_H = 0.31
CARD_RADIUS = 0.06
CARD_CENTRES = [(0.62, 0.38), (0.50, 0.50), (0.38, 0.62)]  # back, middle, front


def layers(size):
    """Shapes from back to front: (distance function, colour function, alpha, softness)."""
    px = 1.0 / size  # one pixel in unit coordinates
    shadow_soft = max(1.5, size / 48.0)
    out = []
    for index, (cx, cy) in enumerate(CARD_CENTRES):
        sx, sy = cx + 0.02, cy + 0.025
        out.append((lambda x, y, sx=sx, sy=sy: rounded_rect_distance(
            x, y, sx, sy, CARD_HALF_W, CARD_HALF_H, CARD_RADIUS),
            lambda x, y: SHADOW, 0.28, shadow_soft))
        if index == 0:
            colour = BACK
        elif index == 1:
            colour = MIDDLE
        else:
            colour = BEZEL
        out.append((lambda x, y, cx=cx, cy=cy: rounded_rect_distance(
            x, y, cx, cy, CARD_HALF_W, CARD_HALF_H, CARD_RADIUS),
            lambda x, y, c=colour: c, 1.0, 1.0))
    # Screen of the front card, with a vertical gradient.
    fx, fy = CARD_CENTRES[2]
    margin_x = max(0.035, 1.5 * px)
    margin_y = max(0.075, 2.5 * px)
    top = fy - CARD_HALF_H + margin_y
    bottom = fy + CARD_HALF_H - margin_y
    out.append((lambda x, y: rounded_rect_distance(
        x, y, fx, fy, CARD_HALF_W - margin_x, CARD_HALF_H - margin_y, 0.02),
        lambda x, y: mix(SCREEN_TOP, SCREEN_BOTTOM, clamp01((y - top) / (bottom - top))),
        1.0, 1.0))
    # Shutter mark: a ring and a dot in the middle of the screen.
    ring_r = 0.105
    ring_w = max(0.028, 1.2 * px)
    out.append((lambda x, y: abs(circle_distance(x, y, fx, fy, ring_r)) - ring_w / 2,
                lambda x, y: WHITE, 1.0, 1.0))
    if size >= 24:
        out.append((lambda x, y: circle_distance(x, y, fx, fy, 0.045),
                    lambda x, y: WHITE, 1.0, 1.0))
    return out


def render(size):
    """Returns rows of (r, g, b, a) bytes, top row first, straight (not premultiplied) alpha."""
    shapes = layers(size)
    rows = []
    for j in range(size):
        row = bytearray()
        y = (j + 0.5) / size
        for i in range(size):
            x = (i + 0.5) / size
            r = g = b = a = 0.0  # premultiplied
            for dist, colour, alpha, soft in shapes:
                d = dist(x, y) * size  # in pixels
                coverage = clamp01(0.5 - d / soft)
                if coverage <= 0.0:
                    continue
                sa = coverage * alpha
                cr, cg, cb = colour(x, y)
                r = cr * sa + r * (1 - sa)
                g = cg * sa + g * (1 - sa)
                b = cb * sa + b * (1 - sa)
                a = sa + a * (1 - sa)
            if a > 0:
                pixel = (r / a, g / a, b / a, a)
            else:
                pixel = (0.0, 0.0, 0.0, 0.0)
            row.extend(int(round(clamp01(v) * 255)) for v in pixel)
        rows.append(bytes(row))
    return rows


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def encode_png(size, rows):
    raw = b"".join(b"\x00" + row for row in rows)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header) +
            png_chunk(b"IDAT", zlib.compress(raw, 9)) + png_chunk(b"IEND", b""))


def encode_bmp(size, rows):
    """BITMAPINFOHEADER + bottom-up BGRA pixels + 1-bit AND mask (set where fully clear)."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):
        for i in range(size):
            r, g, b, a = row[4 * i:4 * i + 4]
            pixels.extend((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for i in range(size):
            if row[4 * i + 3] == 0:
                bits[i // 8] |= 0x80 >> (i % 8)
        mask.extend(bits)
    return header + bytes(pixels) + bytes(mask)


def build_icon():
    images = []
    for size in SIZES:
        rows = render(size)
        data = encode_png(size, rows) if size == 256 else encode_bmp(size, rows)
        images.append((size, data))
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    blobs = b""
    for size, data in images:
        dim = 0 if size == 256 else size
        directory += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
        blobs += data
    return directory + blobs


def main():
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "app.ico")
    with open(target, "wb") as f:
        f.write(build_icon())


if __name__ == "__main__":
    main()
