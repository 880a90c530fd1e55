#!/usr/bin/env python3
"""Draws the program's icons (a small AM/FM receiver) into res/*.ico.

    tools/make-icons.py        # rewrites res/WavelarkPlayer.ico and res/Tray.ico

The shapes are drawn at 4x4 supersampling into 32-bit BGRA images with an AND mask, one frame
for each size Windows asks for at the common scales from 100 % to 300 %: small icons (the
caption, the notification area) and, for the program's icon, large ones (Alt+Tab, Explorer);
the 256 px frame is stored as PNG, as Windows expects of it. A size without its own frame would
be stretched from another.
"""
import math
import os
import struct
import zlib

SMALL = (16, 20, 24, 28, 32, 36, 40, 48)
LARGE = (32, 40, 48, 56, 64, 72, 80, 96, 256)

SUPER = 4


def coverage(size, inside):
    """Per-pixel coverage (0..1) of the shape `inside(x, y)` on a 0..1 unit square."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            hits = 0
            for sy in range(SUPER):
                for sx in range(SUPER):
                    x = (px + (sx + 0.5) / SUPER) / size
                    y = (py + (sy + 0.5) / SUPER) / size
                    hits += inside(x, y)
            row.append(hits / (SUPER * SUPER))
        rows.append(row)
    return rows


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r, width):
    return lambda x, y: (r - width) ** 2 <= (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def segment(ax, ay, bx, by, width):
    def inside(x, y):
        dx, dy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
        return math.hypot(x - ax - t * dx, y - ay - t * dy) <= width / 2
    return inside


def paint(size, layers):
    """layers: (shape, (r, g, b)) drawn in order; returns rows of (r, g, b, a)."""
    image = [[(0, 0, 0, 0)] * size for _ in range(size)]
    for shape, colour in layers:
        cover = coverage(size, shape)
        for y in range(size):
            for x in range(size):
                a = cover[y][x]
                if a == 0:
                    continue
                r, g, b, alpha = image[y][x]
                out_a = a + alpha / 255 * (1 - a)
                mix = lambda new, old: round((new * a + old * alpha / 255 * (1 - a)) / out_a)
                image[y][x] = (mix(colour[0], r), mix(colour[1], g), mix(colour[2], b), round(out_a * 255))
    return image


def receiver(size, wave):
    body = (52, 72, 96)
    face = (236, 226, 200)
    accent = (222, 96, 40)
    layers = [
        (segment(0.30, 0.36, 0.78, 0.04, 0.05 if size > 24 else 0.08), (90, 90, 90)),
        (rounded_rect(0.04, 0.32, 0.96, 0.94, 0.12), body),
        (circle(0.30, 0.63, 0.19), face),
        (ring(0.30, 0.63, 0.13, 0.04 if size > 24 else 0.07), body),
        (rounded_rect(0.56, 0.44, 0.88, 0.60, 0.03), face),
        (segment(0.68, 0.46, 0.68, 0.58, 0.05 if size > 24 else 0.08), accent),
        (circle(0.72, 0.78, 0.08), accent),
    ]
    if wave:
        layers.append((ring(0.78, 0.04, 0.22, 0.06), accent))
    return paint(size, layers)


def png(image):
    size = len(image)
    raw = b''.join(b'\0' + b''.join(bytes(pixel) for pixel in row) for row in image)
    chunk = lambda kind, data: (struct.pack('>I', len(data)) + kind + data
                                + struct.pack('>I', zlib.crc32(kind + data) & 0xFFFFFFFF))
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def ico(images):
    header = struct.pack('<HHH', 0, 1, len(images))
    entries = b''
    blobs = b''
    offset = 6 + 16 * len(images)
    for image in images:
        size = len(image)
        if size >= 256:
            blob = png(image)
            entries += struct.pack('<BBBBHHII', 0, 0, 0, 0, 1, 32, len(blob), offset)
            blobs += blob
            offset += len(blob)
            continue
        pixels = b''.join(bytes((b, g, r, a)) for row in reversed(image) for (r, g, b, a) in row)
        stride = ((size + 31) // 32) * 4
        mask = b''
        for row in reversed(image):
            bits = bytearray(stride)
            for x, (_, _, _, a) in enumerate(row):
                if a == 0:
                    bits[x // 8] |= 0x80 >> (x % 8)
            mask += bytes(bits)
        info = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
        blob = info + pixels + mask
        entries += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32, len(blob), offset)
        blobs += blob
        offset += len(blob)
    return header + entries + blobs


def main():
    res = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'res')
    with open(os.path.join(res, 'WavelarkPlayer.ico'), 'wb') as out:
        out.write(ico([receiver(s, wave=False) for s in sorted(set(SMALL + LARGE))]))
    with open(os.path.join(res, 'Tray.ico'), 'wb') as out:
        out.write(ico([receiver(s, wave=True) for s in SMALL]))


if __name__ == '__main__':
    main()
