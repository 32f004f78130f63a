#!/usr/bin/env python3
"""Draws Velkor's skin pictures, pointer and icon into resources/.

Plain Python (zlib + struct) so that no imaging library is needed. The files it
writes are committed; run it again only to change the artwork:
    scripts/draw-skin.py resources
"""
import math
import os
import random
import struct
import sys
import zlib


def png(path, width, height, pixels, alpha=False):
    """pixels: rows of (r, g, b) or (r, g, b, a) tuples."""
    raw = bytearray()
    for row in pixels:
        raw.append(0)
        for p in row:
            raw.extend(p[:4] if alpha else p[:3])

    def chunk(kind, data):
        c = struct.pack(">I", len(data)) + kind + data
        return c + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    colour_type = 6 if alpha else 2
    data = b"\x89PNG\r\n\x1a\n"
    data += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0))
    data += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    data += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(data)


def canvas(w, h, colour):
    return [[colour for _ in range(w)] for _ in range(h)]


def clamp(v):
    return max(0, min(255, int(round(v))))


def mix(a, b, t):
    return tuple(clamp(a[i] + (b[i] - a[i]) * t) for i in range(len(a)))


def title_strip():
    # Navy, lighter towards the top, with a darker line every other row.
    w, h = 500, 22
    top, bottom = (40, 60, 140), (8, 16, 72)
    rows = []
    for y in range(h):
        c = mix(top, bottom, y / (h - 1))
        if y % 2 == 1:
            c = mix(c, (0, 0, 30), 0.35)
        rows.append([c] * w)
    return w, h, rows


def face(pressed):
    # A small raised (or sunken) button face, stretched to 95 x 22 on screen.
    w, h = 21, 20
    base = (214, 214, 222) if not pressed else (184, 188, 204)
    light, dark, darker = (255, 255, 255), (128, 128, 140), (64, 64, 72)
    rows = canvas(w, h, base)
    for y in range(h):
        shade = mix(base, (255, 255, 255), 0.35 * (1 - y / h)) if not pressed else \
            mix(base, (150, 154, 172), 0.3 * (1 - y / h))
        for x in range(w):
            rows[y][x] = shade
    tl, br = (light, darker) if not pressed else (darker, light)
    for x in range(w):
        rows[0][x] = tl
        rows[h - 1][x] = br
    for y in range(h):
        rows[y][0] = tl
        rows[y][w - 1] = br
    inner = dark if not pressed else (150, 150, 160)
    for x in range(1, w - 1):
        rows[h - 2][x] = inner if not pressed else rows[h - 2][x]
        if pressed:
            rows[1][x] = inner
    for y in range(1, h - 1):
        if not pressed:
            rows[y][w - 2] = inner
        else:
            rows[y][1] = inner
    return w, h, rows


def close_button(pressed):
    w = 16 if pressed else 15
    h = 15
    base = (200, 40, 40) if not pressed else (150, 20, 20)
    rows = canvas(w, h, base)
    light, dark = ((250, 150, 150), (90, 0, 0)) if not pressed else ((90, 0, 0), (230, 120, 120))
    for x in range(w):
        rows[0][x] = light
        rows[h - 1][x] = dark
    for y in range(h):
        rows[y][0] = light
        rows[y][w - 1] = dark
    off = 1 if pressed else 0
    for i in range(4, 11):
        for d in (0, 1):
            x1, x2 = i + off + d - 1, (w - 1 - i) + off + d - (1 if pressed else 0)
            for x in (x1, x2):
                if 1 <= x < w - 1:
                    rows[i][x] = (255, 255, 255)
    return w, h, rows


def radio(on):
    w = h = 13
    bg = (0, 0, 0, 0)
    rows = canvas(w, h, bg)
    cx = cy = 6.0
    for y in range(h):
        for x in range(w):
            d = math.hypot(x - cx, y - cy)
            if d <= 6.3:
                if d > 5.2:
                    rows[y][x] = (96, 96, 110, 255) if (x + y) < 12 else (250, 250, 250, 255)
                else:
                    rows[y][x] = (255, 255, 255, 255)
                    if on and d <= 2.8:
                        rows[y][x] = (20, 40, 160, 255)
    return w, h, rows


def check(on):
    w = h = 12
    rows = canvas(w, h, (255, 255, 255))
    for i in range(w):
        rows[0][i] = rows[i][0] = (96, 96, 110)
        rows[h - 1][i] = rows[i][w - 1] = (250, 250, 250)
        rows[1][i] = rows[i][1] = (150, 150, 160) if 0 < i < w - 1 else rows[1][i]
    if on:
        for y in range(3, 10):
            for x in range(3, 10):
                rows[y][x] = (30, 60, 200)
    return w, h, rows


def background():
    # Light-grey paper: fine noise with faint diagonal grain.
    w, h = 579, 21
    rnd = random.Random(1998)
    rows = []
    for y in range(h):
        row = []
        for x in range(w):
            v = 214 + rnd.randint(-7, 7) + (4 if (x + 2 * y) % 9 == 0 else 0)
            row.append((clamp(v), clamp(v), clamp(v + 3)))
        rows.append(row)
    return w, h, rows


HAND = [
    "            ##                  ",
    "           #..#                 ",
    "           #..#                 ",
    "           #..#                 ",
    "           #..#                 ",
    "           #..###               ",
    "           #..#..###            ",
    "           #..#..#..##          ",
    "           #..#..#..#.#         ",
    "        ## #..#..#..#..#        ",
    "       #..##..........#.#       ",
    "       #...#...........#        ",
    "        #..............#        ",
    "         #.............#        ",
    "         #.............#        ",
    "          #...........#         ",
    "          #...........#         ",
    "           #.........#          ",
    "           #.........#          ",
    "           ###########          ",
]


def hand():
    # Monochrome pointer: black outline, white inside, the rest transparent.
    # The art starts 10 rows down so that the tip of the index finger is the
    # pointer's hot spot (12, 10).
    w = h = 32
    rows = canvas(w, h, (0, 0, 0, 0))
    for y, line in enumerate(HAND, start=10):
        for x, ch in enumerate(line):
            if ch == "#":
                rows[y][x] = (0, 0, 0, 255)
            elif ch == ".":
                rows[y][x] = (255, 255, 255, 255)
    return w, h, rows


def icon(size):
    # Three stacked film frames on a navy tile: one animation, split.
    rows = canvas(size, size, (0, 0, 0, 0))
    s = size / 48.0
    r = 7 * s
    for y in range(size):
        for x in range(size):
            # rounded square
            dx = max(r - x, x - (size - 1 - r), 0)
            dy = max(r - y, y - (size - 1 - r), 0)
            if dx * dx + dy * dy <= r * r:
                t = y / (size - 1)
                rows[y][x] = mix((48, 72, 170, 255), (10, 20, 80, 255), t)
    frames = [(8, 10, (255, 200, 60)), (14, 16, (255, 140, 60)), (20, 22, (240, 240, 250))]
    for fx, fy, col in frames:
        x0, y0 = int(fx * s), int(fy * s)
        x1, y1 = int((fx + 20) * s), int((fy + 16) * s)
        for y in range(y0, min(y1, size)):
            for x in range(x0, min(x1, size)):
                edge = x - x0 < max(1, int(s)) or x1 - 1 - x < max(1, int(s)) or \
                    y - y0 < max(1, int(s)) or y1 - 1 - y < max(1, int(s))
                rows[y][x] = (20, 20, 40, 255) if edge else col + (255,)
    return size, size, rows


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "resources"
    os.makedirs(out, exist_ok=True)
    jobs = {
        "title.png": (title_strip(), False),
        "cmd_off.png": (face(False), False),
        "cmd_on.png": (face(True), False),
        "exit_off.png": (close_button(False), False),
        "exit_on.png": (close_button(True), False),
        "opt_off.png": (radio(False), True),
        "opt_on.png": (radio(True), True),
        "check_off.png": (check(False), False),
        "check_on.png": (check(True), False),
        "background.png": (background(), False),
        "hand.png": (hand(), True),
    }
    for size in (48, 128, 256):
        jobs["icon-%d.png" % size] = (icon(size), True)
    for name, ((w, h, rows), alpha) in jobs.items():
        png(os.path.join(out, name), w, h, rows, alpha)


if __name__ == "__main__":
    main()
