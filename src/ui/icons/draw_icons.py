#!/usr/bin/env python3
"""Draws the Tavmirok icon: an ionogram on a dark screen, the yellow ordinary-ray trace with its
E-layer cusp and the F-layer trace climbing towards the critical frequency, the orange
extraordinary trace beside it.

Writes tavmirok-32.png (32 x 32, 16 colours, for the About box) and tavmirok-256.png (RGBA, for
the desktop) next to this script. Standard library only, so it runs anywhere:
    python3 src/ui/icons/draw_icons.py
"""

import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

BACKGROUND = (12, 24, 44)
BORDER = (70, 96, 128)
GRID = (30, 62, 84)
AXIS = (110, 140, 160)
YELLOW = (255, 224, 0)
ORANGE = (255, 132, 0)

# Icon space is 0..1 on both axes, y downwards. The screen inside the border:
CORNER_RADIUS = 0.16
BORDER_WIDTH = 0.045
GRID_LINES = (0.3, 0.55, 0.8)
GRID_WIDTH = 0.025


E_CRITICAL = 0.33
F_CRITICAL = 0.8
X_CRITICAL = 0.88
TOP = 0.86


def towards(start, critical, steps):
    """Frequencies from start up to just below the critical one, denser near it."""
    return [start + (critical * 0.9995 - start) * (1 - (1 - i / (steps - 1)) ** 3)
            for i in range(steps)]


def layer_trace(frequencies, base, critical, retardation_critical=None, top=TOP):
    """Virtual height climbing without bound at the critical frequency, clipped at the top;
    below a lower layer's critical frequency the trace also starts high (group retardation)."""
    points = []
    for f in frequencies:
        h = base + 0.045 / math.sqrt(max(1e-6, 1 - (f / critical) ** 2))
        if retardation_critical is not None:
            h += min(0.14, 0.02 / math.sqrt(max(1e-6, (f / retardation_critical) ** 2 - 1)))
        points.append((f, 1 - min(h, top)))
    return points


def ordinary_trace():
    """Polylines of the ordinary ray: virtual height (up) against frequency (right)."""
    e_layer = layer_trace(towards(0.16, E_CRITICAL, 40), 0.2, E_CRITICAL, top=0.5)
    f_layer = layer_trace(towards(E_CRITICAL * 1.03, F_CRITICAL, 60), 0.4, F_CRITICAL,
                          E_CRITICAL)
    return [e_layer, f_layer]


def extraordinary_trace():
    return [layer_trace(towards(0.5, X_CRITICAL, 50), 0.45, X_CRITICAL, E_CRITICAL)]


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / length2))
    cx, cy = ax + t * dx, ay + t * dy
    return math.hypot(px - cx, py - cy)


def near_polyline(px, py, polylines, half_width):
    for line in polylines:
        for (ax, ay), (bx, by) in zip(line, line[1:]):
            if segment_distance(px, py, ax, ay, bx, by) <= half_width:
                return True
    return False


def rounded_square_distance(px, py):
    """Signed distance to the rounded square edge (negative inside)."""
    qx = abs(px - 0.5) - (0.5 - CORNER_RADIUS)
    qy = abs(py - 0.5) - (0.5 - CORNER_RADIUS)
    outside = math.hypot(max(qx, 0), max(qy, 0))
    return outside + min(max(qx, qy), 0) - CORNER_RADIUS


def sample(px, py, ordinary, extraordinary, trace_width):
    """Colour and coverage (0 or 1) of one sample point."""
    edge = rounded_square_distance(px, py)
    if edge > 0:
        return None
    if edge > -BORDER_WIDTH:
        return BORDER
    if near_polyline(px, py, ordinary, trace_width / 2):
        return YELLOW
    if near_polyline(px, py, extraordinary, trace_width / 2.6):
        return ORANGE
    if abs(px - 0.12) < GRID_WIDTH / 2 + 0.008 and 0.1 < py < 0.88:
        return AXIS
    if abs(py - 0.88) < GRID_WIDTH / 2 + 0.008 and 0.12 < px < 0.9:
        return AXIS
    for g in GRID_LINES:
        if abs(px - g) < GRID_WIDTH / 2 or abs(py - (1 - g)) < GRID_WIDTH / 2:
            return GRID
    return BACKGROUND


def render(size, trace_width, oversample):
    ordinary = ordinary_trace()
    extraordinary = extraordinary_trace()
    pixels = []
    for y in range(size):
        row = []
        for x in range(size):
            r = g = b = a = 0.0
            for sy in range(oversample):
                for sx in range(oversample):
                    px = (x + (sx + 0.5) / oversample) / size
                    py = (y + (sy + 0.5) / oversample) / size
                    colour = sample(px, py, ordinary, extraordinary, trace_width)
                    if colour is not None:
                        r, g, b, a = r + colour[0], g + colour[1], b + colour[2], a + 1
            n = oversample * oversample
            if a == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((round(r / a), round(g / a), round(b / a), round(255 * a / n)))
        pixels.append(row)
    return pixels


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def write_rgba(path, pixels):
    raw = b"".join(b"\0" + bytes(v for p in row for v in p) for row in pixels)
    size = len(pixels)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                  + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def blend(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(3))


def sixteen_colours():
    """Index 0 is transparent; the rest are the drawing colours and their edge blends."""
    return [
        None,
        BACKGROUND, BORDER, GRID, AXIS, YELLOW, ORANGE,
        blend(BACKGROUND, YELLOW, 0.25), blend(BACKGROUND, YELLOW, 0.5),
        blend(BACKGROUND, YELLOW, 0.75), blend(BACKGROUND, ORANGE, 0.35),
        blend(BACKGROUND, ORANGE, 0.65), blend(BACKGROUND, BORDER, 0.5),
        blend(GRID, YELLOW, 0.5), blend(BACKGROUND, AXIS, 0.5), (0, 0, 0),
    ]


def write_indexed16(path, pixels):
    palette = sixteen_colours()
    size = len(pixels)
    indices = []
    for row in pixels:
        out = []
        for r, g, b, a in row:
            if a < 128:
                out.append(0)
                continue
            best = min(range(1, len(palette)),
                       key=lambda i: sum((palette[i][k] - (r, g, b)[k]) ** 2 for k in range(3)))
            out.append(best)
        indices.append(out)
    raw = bytearray()
    for row in indices:
        raw.append(0)
        for i in range(0, size, 2):
            raw.append((row[i] << 4) | row[i + 1])
    header = struct.pack(">IIBBBBB", size, size, 4, 3, 0, 0, 0)
    plte = b"".join(bytes(c if c else (0, 0, 0)) for c in palette)
    trns = bytes([0])  # index 0 transparent, the others opaque
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"PLTE", plte)
                  + chunk(b"tRNS", trns) + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
                  + chunk(b"IEND", b""))


if __name__ == "__main__":
    write_indexed16(os.path.join(HERE, "tavmirok-32.png"), render(32, 0.085, 8))
    write_rgba(os.path.join(HERE, "tavmirok-256.png"), render(256, 0.05, 3))
