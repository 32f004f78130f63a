#!/usr/bin/python3
"""Make the batch benchmark input: a folder of small to medium animations.

Deterministic. OUTDIR/gen/ holds 960 animations made with the shared
generator's GIF writer (../shared/bench/make_inputs.py): 2 to 24 frames of 24 x 24
to 400 x 300, each a gradient with a moving block and a band of noise, one in
three with a local table on every frame. OUTDIR/corpus/ holds a copy of every
../shared/corpus GIF under a new name (some of them are refused: a real folder
has such files too), and OUTDIR/A.gif a copy of bench input A when given.

usage: make_batch.py OUTDIR SHARED_BENCH_DIR CORPUS_DIR [A.gif]
"""
import os
import random
import shutil
import sys

out, shared, corpus = sys.argv[1:4]
sys.path.insert(0, shared)
from make_inputs import lzw_frame, write_gif  # noqa: E402
from PIL import Image  # noqa: E402

rng = random.Random(20261209)
gen = os.path.join(out, "gen")
os.makedirs(gen, exist_ok=True)
palette = bytes(rng.randbytes(768))


def frame(w, h, t, frames):
    rows = bytearray()
    bx = (t * max(1, w - w // 4)) // max(1, frames)
    for y in range(h):
        row = bytearray(((x + y + 7 * t) * 255 // (w + h)) & 0xFF for x in range(w))
        if h // 3 <= y < h // 3 + max(1, h // 8):
            row[:] = rng.randbytes(w)  # a band of noise
        if h // 2 <= y < h // 2 + h // 5:
            row[bx:bx + w // 4] = bytes([200 + t % 50]) * len(row[bx:bx + w // 4])
        rows += row
    im = Image.frombytes("P", (w, h), bytes(rows))
    im.putpalette(palette)
    return im


for i in range(960):
    w, h = rng.randint(24, 400), rng.randint(24, 300)
    count = rng.randint(2, 24)
    local = i % 3 == 0
    frames = []
    for t in range(count):
        pal, data = lzw_frame(frame(w, h, t, count))
        frames.append((pal if local else palette, data))
    if not local:
        frames = [(palette, d) for _, d in frames]
    write_gif(os.path.join(gen, f"g{i:04d}.gif"), w, h, frames, palette, local,
              delay_cs=rng.choice([2, 5, 10]))

copies = os.path.join(out, "corpus")
os.makedirs(copies, exist_ok=True)
names = sorted(os.path.join(d, n) for d, _, ns in os.walk(corpus) for n in ns
               if n.lower().endswith(".gif"))
for i, path in enumerate(names):
    shutil.copyfile(path, os.path.join(copies, f"c{i:04d}.gif"))
if len(sys.argv) > 4:
    shutil.copyfile(sys.argv[4], os.path.join(out, "A.gif"))
