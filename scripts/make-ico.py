#!/usr/bin/env python3
"""Packs square PNG pictures into one Windows icon file, each kept as PNG data
(as Windows reads icons since Vista), for the programs' icon resource.
    scripts/make-ico.py OUT.ico ICON-48.png ICON-256.png ...
"""
import struct
import sys


def size_of(png):
    if png[:8] != b"\x89PNG\r\n\x1a\n" or png[12:16] != b"IHDR":
        raise SystemExit("make-ico.py: not a PNG picture")
    width, height = struct.unpack(">II", png[16:24])
    if width != height or not 1 <= width <= 256:
        raise SystemExit("make-ico.py: an icon picture is square, 1 to 256 pixels")
    return width


def main():
    if len(sys.argv) < 3:
        raise SystemExit(__doc__)
    pictures = []
    for path in sys.argv[2:]:
        with open(path, "rb") as f:
            data = f.read()
        pictures.append((size_of(data), data))
    pictures.sort()
    out = struct.pack("<HHH", 0, 1, len(pictures))
    offset = 6 + 16 * len(pictures)
    for size, data in pictures:
        side = size % 256  # 0 stands for 256
        out += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in pictures:
        out += data
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
