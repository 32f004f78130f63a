#!/usr/bin/env python3
"""Interrupts velkor-split at random moments and checks what it leaves.

SIGINT, SIGTERM and SIGHUP, ten times each, into a batch of four files split
two at a time and into one big file. After every run: no partial frame file
(.part) in the output folder, nothing in the run's own temporary folder,
every frame file on disk listed on standard output (and nothing listed that
is not there), the summary on standard error, and the exit status 128 + the
signal's number.

usage: interrupts.py VELKOR_SPLIT [TRIALS_PER_SIGNAL]
Exit status 77 (skipped) when Pillow, which draws the inputs, is missing.
"""

import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

try:
    from PIL import Image
except ImportError:
    print("interrupts.py: skipped: Pillow (python3-pil) is not installed")
    sys.exit(77)


def write_gif(path, frames, width, height, seed):
    """Frames of noise: slow to decode, many bytes."""
    rng = random.Random(seed)
    pictures = []
    for k in range(frames):
        data = rng.randbytes(width * height)
        im = Image.frombytes("P", (width, height), data)
        im.putpalette([(i * 37) % 256 for i in range(768)])
        pictures.append(im)
    pictures[0].save(path, save_all=True, append_images=pictures[1:], duration=40, loop=0,
                     optimize=False, disposal=1)


def catches(pid, sig):
    """Whether process `pid` has a handler for `sig` (SigCgt in its status)."""
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("SigCgt:"):
                    return (int(line.split()[1], 16) >> (int(sig) - 1)) & 1 == 1
    except OSError:
        pass
    return False


def run(split, args, tmp, sig=None, delay=0.0):
    env = dict(os.environ, TMPDIR=tmp)
    proc = subprocess.Popen([split] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            stdin=subprocess.DEVNULL, env=env)
    if sig is not None:
        # No program can catch a signal before it has set its handler: the
        # moments start once it has (its caught signals, in /proc), however
        # slowly a loaded machine starts it.
        deadline = time.monotonic() + 10
        while proc.poll() is None and not catches(proc.pid, sig) and time.monotonic() < deadline:
            time.sleep(0.001)
        time.sleep(delay)
        if proc.poll() is None:
            proc.send_signal(sig)
    out, err = proc.communicate(timeout=120)
    return proc.returncode, out.decode(), err.decode()


def check(name, out_dir, tmp, status, out, err, sig):
    problems = []
    on_disk = set()
    for root, _, files in os.walk(out_dir):
        for f in files:
            path = os.path.join(root, f)
            if f.endswith(".part") or f.startswith(".velkor-"):
                problems.append(f"a partial file is left: {path}")
            else:
                on_disk.add(path)
    listed = [line for line in out.split("\n") if line]
    if set(listed) != on_disk:
        missing = sorted(on_disk - set(listed))[:3]
        extra = sorted(set(listed) - on_disk)[:3]
        problems.append(f"listed {len(listed)}, on disk {len(on_disk)}: not listed {missing}, "
                        f"listed but absent {extra}")
    left = os.listdir(tmp)
    if left:
        problems.append(f"left in TMPDIR: {left[:3]}")
    interrupted = status != 0
    if interrupted:
        if status != 128 + sig:
            problems.append(f"exit status {status}, not {128 + sig}")
        if "velkor-split: interrupted by " not in err:
            problems.append("no summary: " + err[-300:])
    return interrupted, [f"{name}: {p}" for p in problems]


def main():
    split = os.path.abspath(sys.argv[1])
    trials = int(sys.argv[2]) if len(sys.argv) > 2 else 10
    work = tempfile.mkdtemp(prefix="velkor-interrupts-")
    try:
        inputs = os.path.join(work, "in")
        os.mkdir(inputs)
        batch = []
        for i in range(4):
            path = os.path.join(inputs, f"b{i}.gif")
            write_gif(path, 30, 480, 360, i)
            batch.append(path)
        big = os.path.join(inputs, "big.gif")
        write_gif(big, 100, 640, 480, 99)

        cases = {
            "batch -j2": lambda out: ["--bmp", "-j2", "-o", out] + batch,
            "one file": lambda out: ["--bmp", "-o", out, big],
        }
        failures = []
        rng = random.Random(int(os.environ.get("VELKOR_INTERRUPT_SEED", "7")))
        for name, args in cases.items():
            # How long an uninterrupted run takes, so that the signals fall
            # anywhere inside one.
            out_dir, tmp = os.path.join(work, "out"), os.path.join(work, "tmp")
            os.mkdir(tmp)
            started = time.monotonic()
            status, out, err = run(split, args(out_dir), tmp)
            took = time.monotonic() - started
            if status != 0:
                failures.append(f"{name}: the uninterrupted run failed ({status}): {err}")
                continue
            shutil.rmtree(out_dir)
            shutil.rmtree(tmp)
            hits = 0
            for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
                for t in range(trials):
                    os.mkdir(tmp)
                    delay = rng.uniform(0.0, 0.9) * took
                    status, out, err = run(split, args(out_dir), tmp, sig, delay)
                    label = f"{name} {sig.name} after {delay:.3f} s of {took:.3f}"
                    interrupted, problems = check(label, out_dir, tmp, status, out, err, sig)
                    hits += interrupted
                    failures += problems
                    shutil.rmtree(out_dir, ignore_errors=True)
                    shutil.rmtree(tmp)
            print(f"{name}: {hits} of {3 * trials} runs interrupted (a run takes {took:.2f} s)")
            if hits < 2 * trials:
                failures.append(f"{name}: only {hits} runs were interrupted at all")
        for f in failures:
            print(f)
        passed = 0 if failures else 1
        print(f"{passed} passed, {1 - passed} failed")
        return 0 if not failures else 1
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
