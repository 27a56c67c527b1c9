#!/usr/bin/env python3
"""Draws the program's two icons (normal and super installation) and writes
them as .ico files with 16x16 and 32x32 images in 32-bit colour.

The normal icon is a blue timetable: a grid of lessons under a red header.
The super icon is the same timetable in gold with a large white star, so the
two can be told apart at a glance on a desktop."""
import math
import struct
import sys


def timetable(size, body, header, cell, star):
    px = [[(0, 0, 0, 0) for _ in range(size)] for _ in range(size)]
    m = max(1, size // 16)
    for y in range(m, size - m):
        for x in range(m, size - m):
            px[y][x] = body
    top = m + size // 5
    for y in range(m, top):
        for x in range(m, size - m):
            px[y][x] = header
    cols, rows = 4, 4
    gx0, gy0 = m + size // 10, top + size // 12
    cw = (size - 2 * m - 2 * (size // 10)) // cols
    ch = (size - m - gy0 - size // 10) // rows
    for r in range(rows):
        for c in range(cols):
            for y in range(gy0 + r * ch + 1, gy0 + (r + 1) * ch):
                for x in range(gx0 + c * cw + 1, gx0 + (c + 1) * cw):
                    if 0 <= x < size and 0 <= y < size:
                        px[y][x] = cell
    if star:
        cx, cy, ro, ri = size / 2, size / 2 + size / 16, size * 0.42, size * 0.17
        pts = []
        for i in range(10):
            a = -math.pi / 2 + i * math.pi / 5
            r = ro if i % 2 == 0 else ri
            pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
        for y in range(size):
            for x in range(size):
                if inside(pts, x + 0.5, y + 0.5):
                    px[y][x] = star
    return px


def inside(poly, x, y):
    hit = False
    j = len(poly) - 1
    for i in range(len(poly)):
        xi, yi = poly[i]
        xj, yj = poly[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            hit = not hit
        j = i
    return hit


def dib(px):
    size = len(px)
    head = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = b''
    for y in range(size - 1, -1, -1):
        for x in range(size):
            r, g, b, a = px[y][x]
            rows += bytes((b, g, r, a))
    mask_row = ((size + 31) // 32) * 4
    mask = b''
    for y in range(size - 1, -1, -1):
        bits = bytearray(mask_row)
        for x in range(size):
            if px[y][x][3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    return head + rows + mask


def write_ico(path, images):
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    blobs = []
    for px in images:
        data = dib(px)
        size = len(px)
        out += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
        blobs.append(data)
    with open(path, 'wb') as f:
        f.write(out + b''.join(blobs))


def main(outdir):
    blue, red, white = (46, 70, 180, 255), (200, 30, 40, 255), (250, 250, 250, 255)
    gold, brown = (230, 170, 20, 255), (120, 60, 10, 255)
    write_ico(f'{outdir}/kiro.ico', [timetable(s, blue, red, white, None) for s in (32, 16)])
    write_ico(f'{outdir}/superkiro.ico',
              [timetable(s, gold, brown, (255, 230, 150, 255), white) for s in (32, 16)])


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'resources')
