#!/usr/bin/python3
"""velkor-split driven by scripts over a downloads folder of 40 odd names.

Names with spaces, Japanese, a newline, a tab, quotes, a leading dash, glob
characters, `.GIF`, two files whose names differ after their first dot, a
symbolic link, a 404 page saved as .gif and downloads cut short. Checked:
  - find -print0 | velkor-split --from - -0 --print0 | xargs -0 ... hands
    over every frame path exactly, and those are the files written;
  - --json | jq recovers the same paths; every line validates against
    docs/split-listing.schema.json, each file has its one last line with
    the outcome, and a refused file says why;
  - the same -r command run twice on the good files gives exit 0 both times
    and the same files, byte for byte.
Usage: scripts.py VELKOR_SPLIT SCHEMA   (exit 77: skipped, a tool missing)
"""
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile

split, schema_path = sys.argv[1:3]
ci = os.environ.get("VELKOR_CI") == "1"


def skip(why):
    # In CI every tool is installed: a missing one is a failure there.
    print(("FAIL: " if ci else "skipped: ") + why)
    sys.exit(1 if ci else 77)


try:
    import jsonschema
    from PIL import Image
except ImportError as e:
    skip(f"{e} (apt-get install python3-pil python3-jsonschema)")
for tool in ("jq", "find", "xargs"):
    if shutil.which(tool) is None:
        skip(f"no {tool} (apt-get install {tool})")

with open(schema_path) as f:
    validator = jsonschema.Draft7Validator(json.load(f))

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


NAMES = [
    "plain.gif", "with space.gif", "two  spaces.gif", " leading space.gif",
    "trailing space .gif", "猫のアニメ.gif", "ｱﾆﾒ 半角.gif", "Ünïcødé.gif", "emoji 🐱.gif",
    "line\nbreak.gif", "tab\there.gif", "quote'single.gif", 'quote"double.gif',
    "back\\slash.gif", "-dash first.gif", "--double-dash.gif", "star*.gif", "question?.gif",
    "[brackets].gif", "{braces}.gif", "dollar$HOME.gif", "amp&semi;.gif", "percent%20.gif",
    "UPPER.GIF", "Mixed.Gif", "a.b.gif", "a.c.gif", ".hidden.gif", "many.dots.in.name.gif",
    "x" * 200 + ".gif", "123.gif", "chi_001-like.gif", "sub dir/inner.gif",
    "sub dir/深い/deeper.gif", "comma,name.gif", "hash#tag.gif",
]
BAD = {"404 page.gif": b"<html><body>Not Found</body></html>\n"}
CUT = ["cut download.gif", "cut ｶｯﾄ.gif"]
LINK = "link to plain.gif"
assert len(NAMES) + len(BAD) + len(CUT) + 1 == 40  # with the link


def gif(path, frames, seed):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    images = [
        Image.new("P", (6, 4), (seed * 7 + k) % 256) for k in range(frames)
    ]
    palette = []
    for i in range(256):
        palette += [(i * 37) % 256, (i * 91) % 256, (i * 53) % 256]
    for im in images:
        im.putpalette(palette)
    images[0].save(path, save_all=True, append_images=images[1:], duration=30 + seed, loop=0,
                   optimize=False, disposal=1)


def sha(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def tree_files(root):
    out = {}
    for d, _, names in os.walk(root):
        for n in names:
            p = os.path.join(d, n)
            if not os.path.islink(p):
                out[p] = sha(p)
    return out


def run(args, **kw):
    return subprocess.run(args, capture_output=True, **kw)


with tempfile.TemporaryDirectory() as work:
    dl = os.path.join(work, "dl")
    for k, name in enumerate(NAMES):
        gif(os.path.join(dl, name), 2 + k % 3, k)
    for name, data in BAD.items():
        with open(os.path.join(dl, name), "wb") as f:
            f.write(data)
    for k, name in enumerate(CUT):
        full = os.path.join(work, f"full{k}.gif")
        gif(full, 3, 50 + k)
        with open(full, "rb") as f:
            data = f.read()
        with open(os.path.join(dl, name), "wb") as f:
            f.write(data[: len(data) * 2 // 3])
    os.symlink("plain.gif", os.path.join(dl, LINK))
    before = tree_files(dl)

    # find | velkor-split --from - -0 --print0 | xargs -0: the frames each
    # given whole to the next program.
    pipeline = (
        f"find {json.dumps(dl)} -iname '*.gif' -print0 | "
        f"{json.dumps(split)} --from - -0 --print0 --name '{{stem}}_{{n:03}}' | "
        "xargs -0 python3 -c 'import os, sys\n"
        "for p in sys.argv[1:]:\n"
        "    assert os.path.isfile(p), p\n"
        "    sys.stdout.buffer.write(os.fsencode(p) + b\"\\0\")'"
    )
    r = run(["bash", "-o", "pipefail", "-c", pipeline])
    listed = [os.fsdecode(p) for p in r.stdout.split(b"\0")[:-1]]
    written = sorted(set(tree_files(dl)) - set(before))
    check(r.returncode == 1, f"the pipeline's status is velkor-split's 1 (refused files): {r.returncode} {r.stderr[-500:]!r}")
    check(sorted(listed) == written, f"xargs got {len(listed)} paths for {len(written)} frames written")
    check(len(set(listed)) == len(listed), "no path twice")
    check(any("\n" in p for p in listed), "the name with a newline came through whole")
    check(b"3 refused" in r.stderr, f"the summary names 3 refused: {r.stderr[-300:]!r}")
    for p in written:
        os.remove(p)

    # --json | jq: the same paths, each line after the schema.
    r = run(
        ["bash", "-o", "pipefail", "-c",
         f"{json.dumps(split)} --json -r --name '{{stem}}_{{n:03}}' {json.dumps(dl)} | tee {json.dumps(work + '/lines')} | "
         "jq -j 'select(.type == \"frame\" and .written) | .path + \"\\u0000\"'"]
    )
    check(r.returncode == 1, f"--json | jq: status {r.returncode} {r.stderr[-300:]!r}")
    paths = [os.fsdecode(p) for p in r.stdout.split(b"\0")[:-1]]
    written = sorted(set(tree_files(dl)) - set(before))
    check(sorted(paths) == written, f"jq recovered {len(paths)} paths for {len(written)} frames")
    with open(work + "/lines", encoding="utf-8") as f:
        records = [json.loads(line) for line in f]
    for rec in records:
        errors = list(validator.iter_errors(rec))
        check(not errors, f"{rec}: {errors[:1]}")
    files = [rec for rec in records if rec["type"] == "file"]
    walked = [p for p in before if p.lower().endswith(".gif")]
    check(len(files) == len(walked), f"{len(files)} file lines for {len(walked)} GIFs walked")
    refused = {os.path.basename(rec["file"]): rec["reason"] for rec in files if rec["outcome"] == "refused"}
    check(refused.get("404 page.gif") == "bad-signature", f"the 404 page: {refused}")
    check(all(os.path.basename(c) in refused for c in CUT), f"the cut downloads: {refused}")
    # Each file's frames come before its own line, in frame order.
    current = []
    for rec in records:
        if rec["type"] == "frame":
            current.append(rec)
            continue
        check(all(fr["file"] == rec["file"] for fr in current), f"frames of {rec['file']} are its own")
        check([fr["frame"] for fr in current] == list(range(1, len(current) + 1)), "frame order")
        check(rec["written"] == sum(fr["written"] for fr in current), f"{rec['file']}: the count")
        current = []
    for p in written:
        os.remove(p)

    # The same walk twice over the good files: exit 0 and the same files.
    for name in list(BAD) + CUT:
        os.remove(os.path.join(dl, name))
    results = []
    for attempt in range(2):
        r = run([split, "-r", "--name", "{stem}_{n:03}", dl])
        check(r.returncode == 0, f"run {attempt + 1} of -r: {r.returncode} {r.stderr[-400:]!r}")
        results.append(tree_files(dl))
    check(results[0] == results[1], "the second run leaves the same files, byte for byte")
    check(b"skipped (frames of others)" in r.stderr, f"the second run counts what it skipped: {r.stderr[-300:]!r}")

if failures:
    print(f"{len(failures)} failures")
    sys.exit(1)
print(f"scripts: {len(NAMES) + len(BAD) + len(CUT) + 1} names through find/xargs and jq, re-run the same")
