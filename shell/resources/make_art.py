#!/usr/bin/env python3
"""Draws Wavrell's own artwork and writes it beside this script:

- about_picture.dib: the About box picture, 155 x 226 pixels at 8 bits per
  pixel with a 256-colour palette, as raw device-independent bitmap data
  (BITMAPINFOHEADER, palette, bottom-up rows padded to 4 bytes; no file
  header). Two waveforms, the second drawn after an allpass, over a dusk
  gradient.
- wavrell_icon.png: the program icon, 64 x 64 RGBA: two overlapping
  waveforms on a rounded square.
- ../../packaging/icons/wavrell-<size>.png: the same icon drawn at each size
  the desktop's icon theme asks for (16 to 256 pixels; the traces never
  thinner than 1.8 pixels), and wavrell.svg, the same drawing as a scalable
  icon.

Run it again after changing the drawing; the outputs are committed.
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

# ---------------------------------------------------------------- palette
# 0..127 background gradient, 128..191 amber trace ramp, 192..255 cyan ramp.
def lerp(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))

TOP = (14, 18, 46)
MID = (28, 52, 92)
BOTTOM = (10, 70, 82)
AMBER_DIM, AMBER = (70, 50, 40), (255, 196, 72)
CYAN_DIM, CYAN = (20, 80, 100), (120, 236, 255)

palette = []
for i in range(128):
    t = i / 127
    palette.append(lerp(TOP, MID, t * 2) if t < 0.5 else lerp(MID, BOTTOM, (t - 0.5) * 2))
for i in range(64):
    palette.append(lerp(AMBER_DIM, AMBER, i / 63))
for i in range(64):
    palette.append(lerp(CYAN_DIM, CYAN, i / 63))
assert len(palette) == 256

# ---------------------------------------------------------------- drawing
W, H = 155, 226

def burst(x):
    """A decaying tone burst, amplitude in -1..1, x in pixels."""
    t = x / W
    env = math.exp(-3.2 * t) * (1 - math.exp(-40 * t))
    return env * (0.8 * math.sin(2 * math.pi * 6.5 * t) + 0.2 * math.sin(2 * math.pi * 19.5 * t))

def allpassed(x):
    """The same burst with its upper partial shifted in phase: other peaks."""
    t = x / W
    env = math.exp(-3.2 * t) * (1 - math.exp(-40 * t))
    return env * (0.8 * math.sin(2 * math.pi * 6.5 * t - 0.9) + 0.2 * math.sin(2 * math.pi * 19.5 * t - 2.4))

def trace_distance(f, centre, half, x, y):
    """Distance of pixel (x, y) from the curve y = centre - half * f(x)."""
    best = 1e9
    for sx in range(max(0, x - 4), min(W, x + 5)):
        for k in range(4):
            xs = sx + k / 4
            ys = centre - half * f(xs)
            best = min(best, math.hypot(xs - x, ys - y))
    return best

pixels = bytearray(W * H)
traces = [(burst, 62, 44, 128), (allpassed, 160, 44, 192)]
for y in range(H):
    bg = int(round(127 * y / (H - 1)))
    for x in range(W):
        index = bg
        # faint time grid every 31 pixels and the zero lines
        if x % 31 == 15 or y in (62, 160):
            index = min(127, bg + 18)
        for f, centre, half, base in traces:
            if abs(y - centre) > half + 6:
                continue
            d = trace_distance(f, centre, half, x, y)
            if d < 2.6:
                glow = 1 - d / 2.6
                index = base + int(round(63 * glow))
        pixels[y * W + x] = index

# A row of level bars at the foot, like crest factor bars.
for b in range(9):
    h = int(8 + 14 * abs(math.sin(b * 1.7 + 0.4)))
    x0 = 8 + b * 16
    for y in range(H - 8 - h, H - 8):
        for x in range(x0, x0 + 11):
            pixels[y * W + x] = 192 + 20 + int(40 * (H - 8 - y) / 24)

# ---------------------------------------------------------------- DIB
row = (W + 3) & ~3
header = struct.pack('<IiiHHIIiiII', 40, W, H, 1, 8, 0, row * H, 2835, 2835, 256, 256)
pal = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in palette)
rows = b''.join(bytes(pixels[y * W:(y + 1) * W]) + b'\0' * (row - W) for y in range(H - 1, -1, -1))
with open(os.path.join(HERE, 'about_picture.dib'), 'wb') as out:
    out.write(header + pal + rows)

# ---------------------------------------------------------------- icon
S = 64      # the drawing's own units: a 64 x 64 square
SS = 4      # supersampling per axis
TRACE_HALF = 2.4
TRACES = ((burst, AMBER, S * 0.34), (allpassed, CYAN, S * 0.68))

def trace_centre(f, centre, x):
    """The trace's y at x, both in icon units (the icon spans the burst's
    first 70 % between x = 4 and x = S - 4)."""
    xs = (x - 4) / (S - 8) * W * 0.7 + 4
    return centre - 15 * f(xs)

def icon_sample(x, y, half):
    """RGBA of one sub-pixel sample at (x, y) in icon units."""
    r = 12.0
    cx = min(max(x, r), S - r)
    cy = min(max(y, r), S - r)
    if math.hypot(x - cx, y - cy) > r:
        return (0, 0, 0, 0)
    col = lerp(TOP, BOTTOM, y / S)
    for f, colour, centre in TRACES:
        if 4 <= x <= S - 4 and abs(y - trace_centre(f, centre, x)) < half:
            col = colour
    return col + (255,)

def chunk(tag, data):
    return struct.pack('>I', len(data)) + tag + data + struct.pack('>I', zlib.crc32(tag + data) & 0xFFFFFFFF)

def icon_png(size):
    """The icon drawn at size x size pixels, as PNG bytes."""
    unit = S / size
    # Small icons keep their traces visible: at least 1.8 pixels wide.
    half = max(TRACE_HALF, 0.9 * unit)
    png_rows = []
    for py in range(size):
        line = bytearray([0])
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(SS):
                for sx in range(SS):
                    c = icon_sample((px + (sx + 0.5) / SS) * unit, (py + (sy + 0.5) / SS) * unit, half)
                    a = c[3]
                    for i in range(3):
                        acc[i] += c[i] * a
                    acc[3] += a
            n = SS * SS
            a = acc[3] / n
            rgb = [int(round(acc[i] / acc[3])) if acc[3] else 0 for i in range(3)]
            line += bytes(rgb + [int(round(a))])
        png_rows.append(bytes(line))
    return b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)) \
        + chunk(b'IDAT', zlib.compress(b''.join(png_rows), 9)) + chunk(b'IEND', b'')

def icon_svg():
    """The icon as an SVG drawing in its own 64 x 64 units."""
    hexcol = lambda c: '#%02x%02x%02x' % c
    lines = [
        '<?xml version="1.0" encoding="UTF-8"?>',
        '<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d">' % (S, S, S, S),
        '  <title>Wavrell</title>',
        '  <defs>',
        '    <linearGradient id="background" x1="0" y1="0" x2="0" y2="%d" gradientUnits="userSpaceOnUse">' % S,
        '      <stop offset="0" stop-color="%s"/>' % hexcol(TOP),
        '      <stop offset="1" stop-color="%s"/>' % hexcol(BOTTOM),
        '    </linearGradient>',
        '    <clipPath id="square"><rect width="%d" height="%d" rx="12"/></clipPath>' % (S, S),
        '  </defs>',
        '  <rect width="%d" height="%d" rx="12" fill="url(#background)"/>' % (S, S),
        '  <g clip-path="url(#square)">',
    ]
    # Each trace is the band of the pixel drawing: TRACE_HALF above and
    # below the curve at every x (not a stroke, which would be wider where
    # the curve is steep).
    for f, colour, centre in TRACES:
        xs = [4 + i / 4 for i in range(0, 4 * (S - 8) + 1)]
        upper = ['%.2f,%.2f' % (x, trace_centre(f, centre, x) - TRACE_HALF) for x in xs]
        lower = ['%.2f,%.2f' % (x, trace_centre(f, centre, x) + TRACE_HALF) for x in reversed(xs)]
        lines.append('    <polygon fill="%s" points="%s"/>' % (hexcol(colour), ' '.join(upper + lower)))
    lines += ['  </g>', '</svg>', '']
    return '\n'.join(lines).encode('ascii')

with open(os.path.join(HERE, 'wavrell_icon.png'), 'wb') as out:
    out.write(icon_png(S))

ICONS = os.path.normpath(os.path.join(HERE, '..', '..', 'packaging', 'icons'))
os.makedirs(ICONS, exist_ok=True)
for size in (16, 24, 32, 48, 64, 128, 256):
    with open(os.path.join(ICONS, 'wavrell-%d.png' % size), 'wb') as out:
        out.write(icon_png(size))
with open(os.path.join(ICONS, 'wavrell.svg'), 'wb') as out:
    out.write(icon_svg())
