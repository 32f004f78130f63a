#!/usr/bin/python3
"""Every corpus GIF through velkor-split --bmp, --png, --stored and --info.

For each file: the PNG frames hold exactly the bitmap frames' colours (read
back with Pillow, an independent decoder), every stored frame opens and has
the export size, the frame table validates against docs/frame-table.schema.json
and agrees with the split (and --info of all the files gives the same tables,
one a line), a refused file leaves nothing behind, no temporary
file is left, and a sanitizer build reports nothing.
Usage: corpus_frames.py VELKOR_SPLIT CORPUS_DIR SCHEMA [K/N]   (exit 77: skipped)
  K/N: only the K-th of N equal shares of the files, so that the shares can
  run side by side.
"""
import json
import os
import subprocess
import sys
import tempfile

split, corpus, schema_path = sys.argv[1:4]
share, shares = map(int, (sys.argv[4] if len(sys.argv) > 4 else "1/1").split("/"))
if not os.path.isdir(corpus):
    print(f"skipped: no corpus at {corpus}")
    sys.exit(77)
try:
    import jsonschema
    from PIL import Image
except ImportError as e:
    print(f"skipped: {e} (apt-get install python3-pil python3-jsonschema)")
    sys.exit(77)

with open(schema_path) as f:
    validator = jsonschema.Draft7Validator(json.load(f))

files = sorted(
    os.path.join(d, n)
    for d, _, names in os.walk(corpus)
    for n in names
    if n.lower().endswith(".gif")
)[share - 1 :: shares]
env = dict(os.environ)
# A sanitizer's report must not pass for one of the splitter's own statuses.
env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":exitcode=86"
env["UBSAN_OPTIONS"] = env.get("UBSAN_OPTIONS", "") + ":exitcode=87:print_stacktrace=1"
failures = []
counts = {"split": 0, "refused": 0, "frames": 0}


def run(*args):
    r = subprocess.run([split, *args], capture_output=True, text=True, env=env)
    for word in ("Sanitizer", "runtime error:"):
        if word in r.stderr:
            failures.append(f"{args[-1]}: {r.stderr[:2000]}")
    return r


copies = []  # each file's copy, and its table from --info alone
with tempfile.TemporaryDirectory() as tmp:
    temp = os.path.join(tmp, "tmp")
    os.mkdir(temp)
    env["TMPDIR"] = temp
    for i, path in enumerate(files):
        name = os.path.relpath(path, corpus)
        work = os.path.join(tmp, f"w{i}")
        os.mkdir(work)
        src = os.path.join(work, "c.gif")
        with open(path, "rb") as a, open(src, "wb") as b:
            b.write(a.read())
        out = {m: os.path.join(work, m) for m in ("bmp", "png", "stored")}
        rb = run("--bmp", "-q", "-o", out["bmp"], src)
        rp = run("--png", "-q", "-o", out["png"], src)
        rs = run("--stored", "-q", "-o", out["stored"], src)
        ri = run("--info", src)
        statuses = {rb.returncode, rp.returncode, rs.returncode}
        if len(statuses) != 1 or not statuses <= {0, 1}:
            failures.append(f"{name}: statuses bmp {rb.returncode} png {rp.returncode} "
                            f"stored {rs.returncode}: {rb.stderr}{rp.stderr}{rs.stderr}")
            continue
        try:
            table = json.loads(ri.stdout)
        except ValueError as e:
            failures.append(f"{name}: --info is no JSON: {e}")
            continue
        copies.append((src, table))
        errors = [e.message for e in validator.iter_errors(table)]
        if errors:
            failures.append(f"{name}: --info does not follow the schema: {errors[:3]}")
        if (ri.returncode == 0) != (rb.returncode == 0) or table["splits"] != (rb.returncode == 0):
            failures.append(f"{name}: --info says {ri.returncode}/{table['splits']}, split {rb.returncode}")
        if sorted(os.listdir(work)) != sorted(["c.gif"] + (list(out) if rb.returncode == 0 else [])):
            failures.append(f"{name}: left {sorted(os.listdir(work))}")
        if rb.returncode != 0:
            counts["refused"] += 1
            if table["error"] is None:
                failures.append(f"{name}: refused, but --info gives no reason")
            continue
        counts["split"] += 1
        bmps = sorted(os.listdir(out["bmp"]))
        if len(table["frames"]) != len(bmps):
            failures.append(f"{name}: --info lists {len(table['frames'])} frames, {len(bmps)} written")
        for b in bmps:
            stem = b[:-4]
            counts["frames"] += 1
            with Image.open(os.path.join(out["bmp"], b)) as im:
                rgb = im.convert("RGB")
            with Image.open(os.path.join(out["png"], stem + ".png")) as im:
                rgba = im.convert("RGBA")
            with Image.open(os.path.join(out["stored"], stem + ".png")) as im:
                stored_size = im.size
                im.load()
            if rgba.size != rgb.size or stored_size != rgb.size:
                failures.append(f"{name} {stem}: sizes bmp {rgb.size} png {rgba.size} stored {stored_size}")
                continue
            if [p[:3] for p in rgba.getdata()] != list(rgb.getdata()):
                failures.append(f"{name} {stem}: PNG colours differ from the bitmap's")
    # All the copies in one run: one table a line, each valid, in the order of
    # the files, and the same table as the file's own run gives.
    ri = run("--info", "-j4", *[src for src, _ in copies]) if copies else None
    lines = ri.stdout.splitlines() if ri else []
    if ri and len(lines) != len(copies):
        failures.append(f"--info of {len(copies)} files gives {len(lines)} lines")
    for line, (src, table) in zip(lines, copies):
        row = json.loads(line)
        errors = [e.message for e in validator.iter_errors(row)]
        if errors or row != table:
            failures.append(f"{src}: the line of --info of many files differs: {errors[:3]}")
    left = os.listdir(temp)
    if left:
        failures.append(f"temporary files left: {left[:5]}")

for f in failures[:40]:
    print("FAIL:", f)
print(f"{len(files)} files: {counts['split']} split ({counts['frames']} frames compared), "
      f"{counts['refused']} refused; {len(failures)} failed")
sys.exit(1 if failures else 0)
