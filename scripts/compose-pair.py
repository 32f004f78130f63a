#!/usr/bin/python3
"""Draws docs/compose-window-browser.png: frame 9 of the sample animation
(velkor-make-sample), whose frame 8 has disposal 2, by the window's rules
(left) and as a browser composes it (right; transparency shown as a
checkerboard), three times enlarged.
Usage: scripts/compose-pair.py BUILD_DIR"""
import os
import subprocess
import sys
import tempfile

from PIL import Image

build = sys.argv[1]
root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
with tempfile.TemporaryDirectory() as work:
    gif = os.path.join(work, "sample.gif")
    subprocess.run([os.path.join(build, "bin", "velkor-make-sample"), gif], check=True)
    shots = []
    for compose in ("window", "browser"):
        out = os.path.join(work, compose)
        subprocess.run([os.path.join(build, "bin", "velkor-split"), "--compose", compose, "--png",
                        "--frames", "9", "-q", "-o", out, gif], check=True)
        frame = Image.open(os.path.join(out, "sample_009.png")).convert("RGBA")
        board = Image.new("RGBA", frame.size)
        for y in range(frame.height):
            for x in range(frame.width):
                board.putpixel((x, y), (200, 200, 200, 255) if (x // 4 + y // 4) % 2
                               else (255, 255, 255, 255))
        shots.append(Image.alpha_composite(board, frame).resize(
            (frame.width * 3, frame.height * 3), Image.NEAREST))
    gap = 12
    pair = Image.new("RGB", (shots[0].width * 2 + gap, shots[0].height), (255, 255, 255))
    pair.paste(shots[0], (0, 0))
    pair.paste(shots[1], (shots[0].width + gap, 0))
    pair.save(os.path.join(root, "docs", "compose-window-browser.png"), optimize=True)
