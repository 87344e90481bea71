#!/usr/bin/env python3
"""Draws the window's artwork as BMP files (8-bit with a palette), with the standard library only.

    resources/artwork/make-artwork.py [output folder]

Writes, for 96, 144 and 192 pixels per inch:
  Banner<dpi>.bmp   the 494 x 57 banner (scaled): white ground, the logo mark,
                    the name in dark type and the six-row grey shadow line
  Symbols<dpi>.bmp  the three 24 x 24 status symbols (scaled) side by side:
                    success (green, check mark), warning (red, exclamation
                    mark), error (red, cross)

Everything is drawn from shapes given in 96-DPI pixel units, sampled 4 x 4
times per pixel, so every rendering is sharp at its own size. The output is
deterministic; the committed BMPs are what this script writes.
"""

import math
import os
import struct
import sys

SCALES = {96: 1.0, 144: 1.5, 192: 2.0}
SAMPLES = 4

WHITE = (0xFF, 0xFF, 0xFF)
PANEL = (0xF8, 0xF8, 0xF8)  # the page ground the symbols stand on
INK = (0x2B, 0x2B, 0x2B)
BRAND = (0x2F, 0x6D, 0xB5)
GREEN = (0x91, 0xBF, 0x6F)
RED = (0xD8, 0x4F, 0x4F)
SHADOW_ROWS = [(0xC9,) * 3, (0xE3,) * 3, (0xE8,) * 3, (0xEE,) * 3, (0xF3,) * 3, (0xF7,) * 3]


def design_round(value):
    """Rounds like MulDiv does: half away from zero."""
    return int(math.floor(value + 0.5))


# --- shapes: each has a bounding box and a point test, in design units ------

class Strokes:
    """Polylines of a given width with round caps and joins."""

    def __init__(self, polylines, width):
        self.segments = []
        for line in polylines:
            for a, b in zip(line, line[1:]):
                self.segments.append((a, b))
            if len(line) == 1:
                self.segments.append((line[0], line[0]))
        self.radius = width / 2.0
        xs = [p[0] for s in self.segments for p in s]
        ys = [p[1] for s in self.segments for p in s]
        r = self.radius
        self.box = (min(xs) - r, min(ys) - r, max(xs) + r, max(ys) + r)

    def contains(self, x, y):
        r2 = self.radius * self.radius
        for (ax, ay), (bx, by) in self.segments:
            dx, dy = bx - ax, by - ay
            length2 = dx * dx + dy * dy
            t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / length2))
            px, py = ax + t * dx - x, ay + t * dy - y
            if px * px + py * py <= r2:
                return True
        return False


class EllipseStroke:
    """The outline of an ellipse, optionally with a gap between two angles
    (degrees, y pointing down, 0 = right)."""

    def __init__(self, cx, cy, rx, ry, width, gap=None):
        self.cx, self.cy, self.rx, self.ry = cx, cy, rx, ry
        self.half = width / 2.0
        self.gap = gap
        self.box = (cx - rx - self.half, cy - ry - self.half, cx + rx + self.half, cy + ry + self.half)

    def contains(self, x, y):
        dx, dy = x - self.cx, y - self.cy
        f = (dx / self.rx) ** 2 + (dy / self.ry) ** 2 - 1.0
        gx, gy = 2 * dx / self.rx ** 2, 2 * dy / self.ry ** 2
        g = math.hypot(gx, gy)
        if g == 0 or abs(f) / g > self.half:
            return False
        if self.gap:
            angle = math.degrees(math.atan2(dy * self.rx / self.ry, dx)) % 360
            lo, hi = self.gap
            if lo <= angle <= hi:
                return False
        return True


class Disc:
    def __init__(self, cx, cy, r):
        self.cx, self.cy, self.r = cx, cy, r
        self.box = (cx - r, cy - r, cx + r, cy + r)

    def contains(self, x, y):
        return (x - self.cx) ** 2 + (y - self.cy) ** 2 <= self.r * self.r


class RoundRect:
    def __init__(self, left, top, right, bottom, radius):
        self.l, self.t, self.r, self.b, self.radius = left, top, right, bottom, radius
        self.box = (left, top, right, bottom)

    def contains(self, x, y):
        if not (self.l <= x <= self.r and self.t <= y <= self.b):
            return False
        rad = self.radius
        cx = min(max(x, self.l + rad), self.r - rad)
        cy = min(max(y, self.t + rad), self.b - rad)
        return (x - cx) ** 2 + (y - cy) ** 2 <= rad * rad


class Offset:
    """A shape moved by (dx, dy): the darker edge under a glyph."""

    def __init__(self, shape, dx, dy):
        self.shape, self.dx, self.dy = shape, dx, dy
        l, t, r, b = shape.box
        self.box = (l + dx, t + dy, r + dx, b + dy)

    def contains(self, x, y):
        return self.shape.contains(x - self.dx, y - self.dy)


def bezier(p0, p1, p2, p3, steps=16):
    points = []
    for i in range(steps + 1):
        t = i / steps
        u = 1 - t
        points.append((u * u * u * p0[0] + 3 * u * u * t * p1[0] + 3 * u * t * t * p2[0] + t * t * t * p3[0],
                       u * u * u * p0[1] + 3 * u * u * t * p1[1] + 3 * u * t * t * p2[1] + t * t * t * p3[1]))
    return points


# --- the lettering: a geometric sans drawn with strokes ----------------------

STROKE = 2.6
H = STROKE / 2
CAP, XH, BASE, ASC, DESC = 16.6, 22.8, 34.0, 16.0, 40.0


def glyph(ch, x0):
    """Shapes of one letter whose box starts at x0, and its advance width."""
    mid = (XH + BASE) / 2
    ry = (BASE - XH) / 2 - H

    def line(*points):
        return [(x0 + px, py) for px, py in points]

    def norm_curve(w, *curves):
        # Bezier curves given in a unit box over the x-height, mapped into the letter.
        def m(p):
            return (x0 + H + p[0] * (w - 2 * H), XH + H + p[1] * (BASE - XH - 2 * H))
        pts = []
        for c in curves:
            seg = bezier(*[m(p) for p in c])
            pts.extend(seg if not pts else seg[1:])
        return pts

    if ch == "Z":
        w = 11.5
        return [Strokes([line((H, CAP + H), (w - H, CAP + H), (H, BASE - H), (w - H, BASE - H))], STROKE)], w
    if ch == "o":
        w = 10.5
        return [EllipseStroke(x0 + w / 2, mid, w / 2 - H, ry, STROKE)], w
    if ch == "l":
        return [Strokes([line((H, ASC + H), (H, BASE - H))], STROKE)], STROKE
    if ch == "v":
        w = 10.5
        return [Strokes([line((H, XH + H), (w / 2, BASE - H), (w - H, XH + H))], STROKE)], w
    if ch == "a":
        w = 10.5
        return [EllipseStroke(x0 + (w - H) / 2, mid, (w - H) / 2 - H, ry, STROKE),
                Strokes([line((w - H, XH + H), (w - H, BASE - H))], STROKE)], w
    if ch == "K":
        w = 10.8
        join = (CAP + BASE) / 2 + 1.0
        return [Strokes([line((H, CAP + H), (H, BASE - H)),
                         line((w - H, CAP + H), (H + 0.4, join)),
                         line((H + 3.2, join - 2.4), (w - H, BASE - H))], STROKE)], w
    if ch == "e":
        w = 10.5
        return [EllipseStroke(x0 + w / 2, mid, w / 2 - H, ry, STROKE, gap=(8, 52)),
                Strokes([line((H, mid), (w - H, mid))], STROKE)], w
    if ch == "y":
        w = 10.5
        return [Strokes([line((H, XH + H), (w / 2 + 0.3, BASE - 0.6)),
                         line((w - H, XH + H), (w / 2 - 2.4, DESC - H))], STROKE)], w
    if ch == "s":
        w = 8.8
        pts = norm_curve(w,
                         [(0.95, 0.16), (0.78, -0.02), (0.05, -0.04), (0.05, 0.26)],
                         [(0.05, 0.26), (0.05, 0.52), (0.95, 0.46), (0.95, 0.74)],
                         [(0.95, 0.74), (0.95, 1.04), (0.18, 1.04), (0.0, 0.84)])
        return [Strokes([pts], STROKE)], w
    if ch == "t":
        w = 6.6
        stem = x0 + 2.6
        curve = bezier((stem, BASE - 3.4), (stem, BASE - H), (stem + 1.6, BASE - H), (x0 + w - 0.4, BASE - H))
        return [Strokes([[(stem, ASC + 2.2), (stem, BASE - 3.4)] + curve[1:],
                         line((0.2, XH + H), (w - 0.4, XH + H))], STROKE)], w
    if ch == "r":
        w = 6.8
        shoulder = bezier((x0 + H, XH + 4.4), (x0 + H + 0.8, XH + H), (x0 + 3.6, XH + H), (x0 + w - 0.2, XH + H + 0.3))
        return [Strokes([line((H, XH + H), (H, BASE - H)), shoulder], STROKE)], w
    if ch == "i":
        return [Strokes([line((H, XH + H), (H, BASE - H))], STROKE), Disc(x0 + H, CAP + 1.6, H * 1.1)], STROKE
    if ch == "p":
        w = 10.5
        return [Strokes([line((H, XH + H), (H, DESC - H))], STROKE),
                EllipseStroke(x0 + (w + H) / 2, mid, (w - H) / 2 - H, ry, STROKE)], w
    if ch == " ":
        return [], 4.2
    raise ValueError(ch)


def lettering(text, left, right):
    """The text set between left and right, the letter spacing stretched to fit."""
    widths = [glyph(c, 0)[1] for c in text]
    gap = (right - left - sum(widths)) / (len(text) - 1)
    shapes, x = [], left
    for c, w in zip(text, widths):
        shapes.extend(glyph(c, x)[0])
        x += w + gap
    return shapes


# --- scenes -----------------------------------------------------------------

def key_glyph(left, top, size):
    """A key lying across a square: ring at the left, shaft with two teeth."""
    s = size / 35.0
    cy = top + size / 2
    ring = EllipseStroke(left + 11.6 * s, cy, 6.2 * s, 6.2 * s, 3.6 * s)
    shaft = Strokes([[(left + 17.8 * s, cy), (left + 30.4 * s, cy)],
                     [(left + 25.0 * s, cy), (left + 25.0 * s, cy + 5.8 * s)],
                     [(left + 29.4 * s, cy), (left + 29.4 * s, cy + 4.4 * s)]], 3.6 * s)
    return [ring, shaft]


def darker(colour, factor=0.68):
    return tuple(int(c * factor) for c in colour)


def glyph_layers(shapes, tile):
    """A white glyph over its own copy in a darker tone, one pixel down and right."""
    return [(Offset(s, 1.0, 1.0), darker(tile)) for s in shapes] + [(s, WHITE) for s in shapes]


def banner_layers():
    layers = [(RoundRect(9, 8, 44, 43, 6.5), BRAND)]
    layers += glyph_layers(key_glyph(9, 8, 35), BRAND)
    layers += [(s, INK) for s in lettering("Zolva Keystrip", 57, 225)]
    return layers


def symbol_layers(kind, x0):
    tile = GREEN if kind == 0 else RED
    layers = [(RoundRect(x0, 0, x0 + 24, 24, 3.2), tile)]
    if kind == 0:
        glyph_shapes = [Strokes([[(x0 + 6.4, 12.6), (x0 + 10.2, 16.4), (x0 + 17.6, 8.0)]], 3.0)]
    elif kind == 1:
        glyph_shapes = [Strokes([[(x0 + 12, 5.6), (x0 + 12, 13.2)]], 3.2), Disc(x0 + 12, 17.6, 1.9)]
    else:
        glyph_shapes = [Strokes([[(x0 + 7.6, 7.6), (x0 + 16.4, 16.4)], [(x0 + 16.4, 7.6), (x0 + 7.6, 16.4)]], 3.0)]
    return layers + glyph_layers(glyph_shapes, tile)


def render(width, height, scale, ground, layers):
    """Pixels (rows of RGB tuples, top row first) of the layers over the ground."""
    rows = []
    n = SAMPLES
    offsets = [(i + 0.5) / n for i in range(n)]
    for py in range(height):
        row = []
        for px in range(width):
            x_lo, x_hi = px / scale, (px + 1) / scale
            y_lo, y_hi = py / scale, (py + 1) / scale
            near = [(s, c) for s, c in layers
                    if s.box[0] <= x_hi and s.box[2] >= x_lo and s.box[1] <= y_hi and s.box[3] >= y_lo]
            if not near:
                row.append(ground)
                continue
            acc = [0, 0, 0]
            for oy in offsets:
                y = (py + oy) / scale
                for ox in offsets:
                    x = (px + ox) / scale
                    colour = ground
                    for shape, c in near:
                        if shape.contains(x, y):
                            colour = c
                    acc[0] += colour[0]
                    acc[1] += colour[1]
                    acc[2] += colour[2]
            row.append(tuple(design_round(a / (n * n)) for a in acc))
        rows.append(row)
    return rows


def banner(scale):
    width, height = design_round(494 * scale), design_round(57 * scale)
    shadow = int(round(6 * scale))
    rows = render(width, height - shadow, scale, WHITE, banner_layers())
    # The shadow line: each design row of grey becomes `scale` rows, exactly.
    for r in range(shadow):
        rows.append([SHADOW_ROWS[min(5, int(r / scale))]] * width)
    return rows


def symbols(scale):
    size = design_round(24 * scale)
    strip = [[] for _ in range(size)]
    for kind in range(3):
        tile = render(size, size, scale, PANEL, symbol_layers(kind, 0))
        for y in range(size):
            strip[y].extend(tile[y])
    return strip


def write_bmp(path, rows):
    """An 8-bit BMP with a palette of the colours used (the artwork has a few
    dozen), which is a third of the 24-bit size and loses nothing; 24-bit
    only for an image of more than 256 colours."""
    height, width = len(rows), len(rows[0])
    colours = sorted({c for row in rows for c in row})
    if len(colours) > 256:
        stride = (width * 3 + 3) & ~3
        palette = b""
        bits = 24
    else:
        stride = (width + 3) & ~3
        index = {c: i for i, c in enumerate(colours)}
        palette = b"".join(bytes((b, g, r, 0)) for r, g, b in colours)
        bits = 8
    pixels = bytearray()
    for row in reversed(rows):  # bottom-up
        line = bytearray()
        for colour in row:
            if bits == 8:
                line.append(index[colour])
            else:
                r, g, b = colour
                line += bytes((b, g, r))
        line += bytes(stride - len(line))
        pixels += line
    offset = 54 + len(palette)
    used = len(colours) if bits == 8 else 0
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(pixels), 3780, 3780,
                       used, 0)
    with open(path, "wb") as f:
        f.write(header + info + palette + pixels)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(out, exist_ok=True)
    for dpi, scale in SCALES.items():
        write_bmp(os.path.join(out, "Banner%d.bmp" % dpi), banner(scale))
        write_bmp(os.path.join(out, "Symbols%d.bmp" % dpi), symbols(scale))
        print("wrote Banner%d.bmp, Symbols%d.bmp" % (dpi, dpi))


if __name__ == "__main__":
    main()
