#!/usr/bin/env python3
"""Prints the size and pixel sum of every skin picture as Pillow decodes it,
for tests/support/skin_sums.h: the Linux window side (Qt) and the Windows one
(libpng) must both decode each picture to exactly these pixels. Run it after
scripts/draw-skin.py has changed a picture:
    scripts/skin-sums.py resources
"""
import glob
import os
import sys

from PIL import Image


def fnv1a64(words):
    h = 0xCBF29CE484222325
    for w in words:
        h = ((h ^ w) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return h


for path in sorted(glob.glob(os.path.join(sys.argv[1], "*.png"))):
    name = os.path.basename(path)
    if name.startswith("icon-") and name != "icon-256.png":
        continue
    im = Image.open(path).convert("RGBA")
    words = [(a << 24) | (r << 16) | (g << 8) | b for (r, g, b, a) in im.getdata()]
    print('    {"%s", %d, %d, 0x%016xull},' % (name, im.width, im.height, fnv1a64(words)))
