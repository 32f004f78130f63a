#!/usr/bin/python3
"""Compares velkor-split --compose browser --png with headless Chromium.

Chromium decodes each GIF with WebCodecs' ImageDecoder (decode.html) and posts
every composed frame's RGBA bytes to a small local server here; velkor-split
splits the same file. A pixel differs when its alpha differs in being 0 or
not, or when both are opaque and its colour differs. Files the browser cannot
decode are left out; files velkor-split refuses are counted apart (their
reasons are this program's). Exit status 1 on any difference.

Usage: compare.py VELKOR_SPLIT [--corpus DIR] [--generated] [--chromium PATH]
"""
import argparse
import http.server
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import json
import urllib.parse

import jsonschema
from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cases  # noqa: E402
from harness import QuietHandler, normalised, run_page  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
SCHEMA = os.path.join(HERE, "..", "..", "docs", "frame-table.schema.json")


class Results:
    def __init__(self):
        self.frames = {}  # file -> {n: (w, h, bytes)}
        self.done = {}  # file -> frame count
        self.failed = {}  # file -> error text
        self.finished = threading.Event()
        self.lock = threading.Lock()


def serve(files, results):
    listing = "\n".join(f"/f/{i}" for i in range(len(files))).encode()

    class Handler(QuietHandler):
        def do_GET(self):
            path = urllib.parse.urlparse(self.path).path
            if path == "/page":
                with open(os.path.join(HERE, "decode.html"), "rb") as f:
                    self.reply(f.read(), "text/html")
            elif path == "/list":
                self.reply(listing, "text/plain")
            elif path.startswith("/f/"):
                with open(files[int(path[3:])], "rb") as f:
                    self.reply(f.read(), "image/gif")
            else:
                self.send_error(404)

        def do_POST(self):
            url = urllib.parse.urlparse(self.path)
            q = {k: v[0] for k, v in urllib.parse.parse_qs(url.query).items()}
            body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
            key = int(q["file"][3:]) if "file" in q else None
            with results.lock:
                if url.path == "/frame":
                    results.frames.setdefault(key, {})[int(q["n"])] = (
                        int(q["w"]), int(q["h"]), body)
                elif url.path == "/done":
                    results.done[key] = int(q["frames"])
                elif url.path == "/failed":
                    results.failed[key] = body.decode(errors="replace")
                elif url.path == "/finished":
                    results.finished.set()
            self.reply(b"", "text/plain")

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def browser_frames(chromium, files, work):
    results = Results()
    server = serve(files, results)
    url = f"http://127.0.0.1:{server.server_address[1]}/page?list=/list"
    profile = os.path.join(work, "profile")
    try:
        run_page([chromium, "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
                  "--disable-extensions", f"--user-data-dir={profile}", url],
                 results.finished, 900, "compare.py: the browser never finished decoding")
    finally:
        server.shutdown()
    return results


def velkor_frames(velkor, path, out):
    os.makedirs(out)
    run = subprocess.run([velkor, "--compose", "browser", "--png", "-q", "-o", out, path],
                         capture_output=True, text=True)
    names = sorted(os.listdir(out))
    return run.returncode, run.stderr.strip(), [os.path.join(out, n) for n in names]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("velkor")
    ap.add_argument("--corpus")
    ap.add_argument("--generated", action="store_true")
    ap.add_argument("--keep", help="save the browser's differing frames as PNG files here")
    ap.add_argument("--chromium", default=shutil.which("chromium") or "/usr/bin/chromium")
    args = ap.parse_args()
    if not os.path.exists(args.chromium):
        if os.environ.get("VELKOR_CI") == "1":
            print("compare.py: chromium is missing, and CI must run this test")
            return 1
        print("compare.py: skipped: no chromium (apt-get install chromium)")
        return 77
    if args.corpus and not os.path.isdir(args.corpus):
        print(f"compare.py: no corpus at {args.corpus}: the generated cases only")
        args.corpus = None
    work = tempfile.mkdtemp(prefix="velkor-browser.")
    try:
        files = []
        if args.generated:
            files += cases.write_all(os.path.join(work, "cases"))
        if args.corpus:
            for root, _, names in os.walk(args.corpus):
                files += [os.path.join(root, n) for n in names if n.lower().endswith(".gif")]
        files.sort()
        with open(SCHEMA) as f:
            schema = json.load(f)
        results = browser_frames(args.chromium, files, work)
        compared = equal_files = frames = equal_frames = refused = 0
        problems = []
        for i, path in enumerate(files):
            if i not in results.done:
                continue  # the browser cannot decode it
            status, err, ours = velkor_frames(args.velkor, path, os.path.join(work, "out", str(i)))
            if status == 1 and results.done[i] == 0 and "holds no image" in err:
                compared += 1  # no frame either way
                equal_files += 1
                continue
            if status == 1:
                refused += 1
                print(f"refused by velkor-split, shown by the browser: {path}: {err}")
                continue
            compared += 1
            theirs = results.frames.get(i, {})
            count = results.done[i]
            # The frame table tells the canvas: each frame's size in the browser.
            info = subprocess.run([args.velkor, "--info", "--compose", "browser", path],
                                  capture_output=True, text=True)
            table = json.loads(info.stdout)
            jsonschema.validate(table, schema)
            if count and table["canvas"] != {"width": theirs[1][0], "height": theirs[1][1]}:
                problems.append(f"{path}: --info canvas {table['canvas']}, the browser "
                                f"{theirs[1][:2]}")
            frames += count
            same = status == 0 and len(ours) == count
            if not same:
                problems.append(f"{path}: {len(ours)} frames (exit {status} {err}), "
                                f"the browser {count}")
            for n in range(1, min(count, len(ours)) + 1):
                w, h, rgba = theirs[n]
                mine = Image.open(ours[n - 1]).convert("RGBA")
                if mine.size != (w, h):
                    problems.append(f"{path}: frame {n}: {mine.size} against {(w, h)}")
                    same = False
                    continue
                if normalised(w, h, mine.tobytes()) == normalised(w, h, rgba):
                    equal_frames += 1
                else:
                    problems.append(f"{path}: frame {n} differs")
                    if args.keep:
                        os.makedirs(args.keep, exist_ok=True)
                        stem = os.path.join(args.keep, f"{os.path.basename(path)}.{n}")
                        Image.frombytes("RGBA", (w, h), rgba).save(stem + ".browser.png")
                        mine.save(stem + ".velkor.png")
                    same = False
            equal_files += same
        for p in problems:
            print(p)
        print(f"{equal_files}/{compared} files with every frame equal to the browser's, "
              f"{equal_frames}/{frames} frames; {refused} refused by velkor-split, "
              f"{len(files) - len(results.done)} the browser cannot decode")
        return 0 if not problems and compared > 0 else 1
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
