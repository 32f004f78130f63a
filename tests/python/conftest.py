"""What the tests of the Python module share: velkor-split (the oracle), the
corpus, GIFs made here, and frames compared as the other tests compare them."""
import os
import subprocess
import sys

import numpy as np
import pytest
from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "browser"))
import cases  # noqa: E402

SPLIT = os.environ.get("VELKOR_SPLIT", "velkor-split")
CORPUS = os.environ.get("VELKOR_CORPUS_DIR", os.path.join(HERE, "..", "..", "..", "shared",
                                                            "corpus"))


def corpus_gifs():
    return sorted(os.path.join(d, n) for d, _, names in os.walk(CORPUS) for n in names
                  if n.lower().endswith(".gif"))


def cli_png(path, folder, compose):
    """velkor-split --png of `path`: its exit status and its frames as arrays."""
    os.makedirs(folder, exist_ok=True)
    run = subprocess.run([SPLIT, "--png", "--compose", compose, "-q", "-o", folder, path],
                         capture_output=True, text=True)
    frames = [np.asarray(Image.open(os.path.join(folder, n)).convert("RGBA"))
              for n in sorted(os.listdir(folder))]
    return run.returncode, frames


def normalised(rgba):
    """Colour where opaque, nothing where transparent."""
    out = rgba.copy()
    out[rgba[..., 3] == 0] = 0
    out[..., 3] = np.where(rgba[..., 3] != 0, 255, 0)
    return out


def noise_gif(path, frames, size, seed=1):
    """An animation of noise (slow to decode: every code is about a pixel)."""
    rng = np.random.default_rng(seed)
    images = [Image.fromarray(rng.integers(0, 255, (size[1], size[0], 3), dtype=np.uint8))
              .quantize(64, dither=Image.Dither.NONE) for _ in range(frames)]
    images[0].save(path, save_all=True, append_images=images[1:], duration=40, loop=0)
    return path


def code_size_offsets(data):
    """Where each image's LZW minimum code size byte lies in the GIF `data`."""
    def skip_sub_blocks(o):
        while data[o]:
            o += data[o] + 1
        return o + 1

    o = 13 + (3 << ((data[10] & 7) + 1) if data[10] & 0x80 else 0)
    offsets = []
    while data[o] != 0x3B:
        if data[o] == 0x21:
            o = skip_sub_blocks(o + 2)
            continue
        flags = data[o + 9]
        o += 10 + (3 << ((flags & 7) + 1) if flags & 0x80 else 0)
        offsets.append(o)
        o = skip_sub_blocks(o + 1)
    return offsets


@pytest.fixture(scope="session")
def generated(tmp_path_factory):
    return cases.write_all(str(tmp_path_factory.mktemp("cases")))
