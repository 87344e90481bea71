#!/usr/bin/env python3
"""Draws the Zolva Keystrip application icon and writes resources/ZolvaKeystrip.ico
with 16, 32, 48 and 256 pixel images (32-bit BMP for the small ones, PNG for 256).

The mark: a white key lying across a rounded Zolva-teal tile, with an orange
strip beneath its bit, the trace being stripped away. Standard library only,
so the result is the same on every machine.

    python3 resources/tools/make_icon.py
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(os.path.dirname(HERE), "ZolvaKeystrip.ico")

TEAL = (14, 110, 107)
TEAL_DARK = (8, 74, 72)
ORANGE = (242, 140, 40)
WHITE = (255, 255, 255)
SIZES = (16, 32, 48, 256)
SAMPLES = 4  # per axis, for anti-aliasing


def rounded_box(x, y, cx, cy, hw, hh, r):
    qx, qy = abs(x - cx) - hw + r, abs(y - cy) - hh + r
    return math.hypot(max(qx, 0), max(qy, 0)) + min(max(qx, qy), 0) - r


def rotated(x, y, angle):
    c, s = math.cos(angle), math.sin(angle)
    x, y = x - 0.5, y - 0.5
    return x * c - y * s + 0.5, x * s + y * c + 0.5


def shade(x, y):
    """Colour and coverage of one sample in unit coordinates (y downwards)."""
    if rounded_box(x, y, 0.5, 0.5, 0.47, 0.47, 0.14) > 0:
        return None
    colour = TEAL if y < 0.5 + (x - 0.5) * 0.2 else TEAL_DARK
    # The strip: an orange band below the key, at the key's angle.
    sx, sy = rotated(x, y, math.radians(35))
    if rounded_box(sx, sy, 0.62, 0.76, 0.26, 0.05, 0.05) <= 0:
        colour = ORANGE
    # The key: a ring with a hole, a shaft and two teeth.
    kx, ky = rotated(x, y, math.radians(35))
    ring = math.hypot(kx - 0.27, ky - 0.5)
    if 0.075 <= ring <= 0.17:
        return WHITE
    if rounded_box(kx, ky, 0.58, 0.5, 0.2, 0.045, 0.02) <= 0:
        return WHITE
    if rounded_box(kx, ky, 0.70, 0.58, 0.03, 0.06, 0.01) <= 0:
        return WHITE
    if rounded_box(kx, ky, 0.61, 0.57, 0.025, 0.045, 0.01) <= 0:
        return WHITE
    return colour


def render(size):
    """Rows of (r, g, b, a), top row first."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    c = shade((px + (sx + 0.5) / SAMPLES) / size, (py + (sy + 0.5) / SAMPLES) / size)
                    if c:
                        r, g, b, a = r + c[0], g + c[1], b + c[2], a + 1
            n = SAMPLES * SAMPLES
            row.append((r // a, g // a, b // a, 255 * a // n) if a else (0, 0, 0, 0))
        rows.append(row)
    return rows


def bmp(rows):
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for r, g, b, a in row)
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + pixels + bytes(mask)


def png(rows):
    size = len(rows)
    raw = b"".join(b"\0" + b"".join(bytes(p) for p in row) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(
            ">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    images = [(size, png(render(size)) if size >= 256 else bmp(render(size))) for size in SIZES]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = data = b""
    for size, image in images:
        side = 0 if size >= 256 else size
        entries += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
        data += image
    with open(OUT, "wb") as f:
        f.write(directory + entries + data)
    print("%s: %d bytes" % (OUT, 6 + len(entries) + len(data)))


if __name__ == "__main__":
    main()
