#!/usr/bin/env python3
"""Draws the program icon (a serial-port connector on a blue tile) and writes it
as a Windows .ico with 16, 24, 32 and 48 pixel images (32-bit with alpha).

The drawing is made from shapes in a unit square, sampled 4x4 per pixel, so each
size comes out smooth and the output is the same on every run."""
import struct
import sys


def inside_rounded_rect(x, y, x0, y0, x1, y1, r):
    if x < x0 or x > x1 or y < y0 or y > y1:
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def inside_trapezoid(x, y, top, bottom, half_top, half_bottom):
    if y < top or y > bottom:
        return False
    t = (y - top) / (bottom - top)
    half = half_top + (half_bottom - half_top) * t
    return abs(x - 0.5) <= half


PINS = [(0.5 + dx * 0.105, 0.44) for dx in (-2, -1, 0, 1, 2)] + \
       [(0.5 + dx * 0.105, 0.58) for dx in (-1.5, -0.5, 0.5, 1.5)]


def colour_at(x, y):
    """Colour (r, g, b, a) of the unit-square point (x, y), y downwards."""
    if not inside_rounded_rect(x, y, 0.04, 0.04, 0.96, 0.96, 0.18):
        return (0, 0, 0, 0)
    for px, py in PINS:
        if (x - px) ** 2 + (y - py) ** 2 <= 0.032 ** 2:
            return (30, 60, 110, 255)
    # connector shell: a light trapezoid with a darker rim
    if inside_trapezoid(x, y, 0.33, 0.69, 0.34, 0.25):
        if inside_trapezoid(x, y, 0.365, 0.655, 0.305, 0.225):
            return (236, 240, 246, 255)
        return (150, 165, 190, 255)
    # the tile: blue, a little lighter towards the top
    shade = int(40 * (1 - y))
    return (20 + shade, 90 + shade, 170 + shade, 255)


def render(size, samples=4):
    rows = []
    for j in range(size):
        row = []
        for i in range(size):
            acc = [0, 0, 0, 0]
            for sj in range(samples):
                for si in range(samples):
                    x = (i + (si + 0.5) / samples) / size
                    y = (j + (sj + 0.5) / samples) / size
                    r, g, b, a = colour_at(x, y)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = samples * samples
            a = acc[3] / n
            if acc[3]:
                pixel = tuple(round(c / acc[3]) for c in acc[:3]) + (round(a),)
            else:
                pixel = (0, 0, 0, 0)
            row.append(pixel)
        rows.append(row)
    return rows


def bmp_entry(size):
    pixels = render(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = bytearray()
    for row in reversed(pixels):  # bottom-up
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    and_mask = bytearray()
    for row in reversed(pixels):
        bits = bytearray(mask_stride)
        for i, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[i // 8] |= 0x80 >> (i % 8)
        and_mask += bits
    return header + bytes(xor) + bytes(and_mask)


def main(path):
    sizes = (16, 24, 32, 48)
    images = [bmp_entry(s) for s in sizes]
    out = bytearray(struct.pack("<HHH", 0, 1, len(sizes)))
    offset = 6 + 16 * len(sizes)
    for s, img in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    for img in images:
        out += img
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1])
