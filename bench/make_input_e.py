#!/usr/bin/python3
"""Generate benchmark input E: 300 frames of 1000 x 1000 noise, a local colour
table of its own on every frame, some 400 MB: a file far larger than the
frames it holds are worth at 8 bits a pixel is not, yet large enough that
holding it whole beside its frames shows in the peak memory.

Deterministic: indices and palettes come from random.Random(5).randbytes;
the container is assembled by the shared generator's write_gif, and Pillow
only LZW-encodes each frame's indices.

usage: make_input_e.py SHARED_BENCH_DIR OUTDIR
"""
import random
import sys

sys.path.insert(0, sys.argv[1])
from make_inputs import lzw_frame, write_gif  # noqa: E402  (the shared generator)

from PIL import Image  # noqa: E402


def main():
    out = sys.argv[2]
    w, h, n = 1000, 1000, 300
    rng = random.Random(5)
    enc = []
    for _ in range(n):
        im = Image.frombytes("P", (w, h), rng.randbytes(w * h))
        im.putpalette(rng.randbytes(768))
        enc.append(lzw_frame(im))
    write_gif(f"{out}/E.gif", w, h, enc, enc[0][0], local_tables=True)


if __name__ == "__main__":
    main()
