#!/usr/bin/python3
"""Loads velkor-split's sprite sheets in the game engines that read them.

For every GIF (the corpus and the browser test's generated cases) and every
layout (plain; trimmed with padding and extrusion; pages forced by a small
--sheet-max; the window's composition), velkor-split writes a sheet and the
frames of the same composition as PNG files. Headless Chromium loads each
sheet with PixiJS (Assets.load of the atlas, every texture of the animation)
and with Phaser (load.atlas of each page), renders every frame alone and
posts its pixels here; each must equal the PNG frame: the same alpha in being
0 or not, the same colour where opaque. Every atlas is checked against
docs/sheet-atlas.schema.json. Then a page of CSS sprites (background-position
per frame) is screenshot for some sheets and each frame compared the same way.
Exit status 1 on any difference, 77 when Chromium or the engines (npm ci in
tests/sheets) are missing outside CI.

Usage: engines.py VELKOR_SPLIT [--corpus DIR] [--chromium PATH]
"""
import argparse
import http.server
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import urllib.parse

import jsonschema
from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "browser"))
import cases  # noqa: E402
from harness import QuietHandler, normalised, run_page  # noqa: E402

SCHEMA = os.path.join(HERE, "..", "..", "docs", "sheet-atlas.schema.json")
MODULES = os.path.join(HERE, "node_modules")
LAYOUTS = {
    "plain": [],
    "trim": ["--sheet-trim", "--sheet-padding", "2", "--sheet-extrude", "1"],
    "pages": ["--sheet-trim", "--sheet-columns", "2"],  # --sheet-max per file
    "window": ["--compose", "window"],
}


class Results:
    def __init__(self):
        self.frames = {}  # job -> {label: (w, h, bytes)}
        self.done = {}
        self.failed = {}
        self.finished = threading.Event()
        self.lock = threading.Lock()


def serve(root, jobs, results):
    body_jobs = json.dumps(jobs).encode()

    class Handler(QuietHandler):
        def send_file(self, path):
            kind = {".png": "image/png", ".json": "application/json",
                    ".js": "text/javascript", ".html": "text/html"}
            try:
                with open(path, "rb") as f:
                    self.reply(f.read(), kind.get(os.path.splitext(path)[1], "text/plain"))
            except OSError:
                self.send_error(404)

        def do_GET(self):
            path = urllib.parse.unquote(urllib.parse.urlparse(self.path).path)
            if path == "/page":
                self.send_file(os.path.join(HERE, "load.html"))
            elif path == "/jobs":
                self.reply(body_jobs, "application/json")
            elif path.startswith("/npm/") and ".." not in path:
                self.send_file(os.path.join(MODULES, path[5:]))
            elif path.startswith("/s/") and ".." not in path:
                self.send_file(os.path.join(root, path[3:]))
            else:
                self.send_error(404)

        def do_POST(self):
            url = urllib.parse.urlparse(self.path)
            q = {k: v[0] for k, v in urllib.parse.parse_qs(url.query).items()}
            body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
            with results.lock:
                if url.path == "/frame":
                    results.frames.setdefault(int(q["job"]), {})[q["label"]] = (
                        int(q["w"]), int(q["h"]), body)
                elif url.path == "/done":
                    results.done[int(q["job"])] = int(q["frames"])
                elif url.path == "/failed":
                    results.failed[int(q["job"])] = body.decode(errors="replace")
                elif url.path == "/finished":
                    results.finished.set()
            self.reply(b"", "text/plain")

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def chromium_args(chromium, work):
    # WebGL for PixiJS from the software renderer: the test machines have no GPU.
    return [chromium, "--headless=new", "--no-sandbox", "--no-first-run", "--disable-extensions",
            "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
            f"--user-data-dir={os.path.join(work, 'profile')}"]


def run_engines(chromium, root, jobs, work):
    results = Results()
    server = serve(root, jobs, results)
    url = f"http://127.0.0.1:{server.server_address[1]}/page"
    try:
        run_page(chromium_args(chromium, work) + [url], results.finished, 1200,
                 "engines.py: the browser never finished loading the sheets")
    finally:
        server.shutdown()
    return results


CANVAS = {}


def canvas_of(velkor, path, compose):
    if (path, compose) not in CANVAS:
        CANVAS[path, compose] = read_canvas(velkor, path, compose)
    return CANVAS[path, compose]


def read_canvas(velkor, path, compose):
    info = subprocess.run([velkor, "--info", "--compose", compose, path],
                          capture_output=True, text=True)
    try:
        table = json.loads(info.stdout)
        return table["canvas"]["width"], table["canvas"]["height"]
    except (ValueError, KeyError, TypeError):
        return None


def css_check(chromium, sheet_dir, atlas_paths, frames_dir, work, problems):
    """Every frame of the sheet shown with background-position, screenshot."""
    checked = 0
    for atlas_path in atlas_paths:
        with open(atlas_path) as f:
            atlas = json.load(f)
        image = atlas["meta"]["image"]
        entries = list(atlas["frames"].items())
        width = max(e["sourceSize"]["w"] for _, e in entries)
        height = sum(e["sourceSize"]["h"] + 1 for _, e in entries)
        if height > 4000 or width > 2000:
            continue
        html = ["<!doctype html><style>body{margin:0;background:#ff00ff}"
                "div{position:absolute;background-repeat:no-repeat}</style>"]
        y = 0
        places = []
        for label, e in entries:
            fr, sss = e["frame"], e["spriteSourceSize"]
            html.append(f'<div style="left:{sss["x"]}px;top:{y + sss["y"]}px;width:{fr["w"]}px;'
                        f'height:{fr["h"]}px;background-image:url({image});'
                        f'background-position:-{fr["x"]}px -{fr["y"]}px"></div>')
            places.append((label, y, e["sourceSize"]["w"], e["sourceSize"]["h"]))
            y += e["sourceSize"]["h"] + 1
        page = os.path.join(sheet_dir, "css.html")
        with open(page, "w") as f:
            f.write("".join(html))
        shot = os.path.join(work, "shot.png")
        subprocess.run(chromium_args(chromium, work) +
                       ["--hide-scrollbars", "--force-device-scale-factor=1",
                        f"--window-size={max(width, 500)},{max(height, 500)}",
                        f"--screenshot={shot}", "file://" + page],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        os.remove(page)
        screen = Image.open(shot).convert("RGB")
        if os.environ.get("KEEP_SHOT"):
            shutil.copy(shot, os.environ["KEEP_SHOT"])
            shutil.copy(atlas_path, os.environ["KEEP_SHOT"] + ".json")
        for label, top, w, h in places:
            mine = Image.open(os.path.join(frames_dir, label + ".png")).convert("RGBA")
            shown = screen.crop((0, top, w, top + h))
            for (r, g, b, a), seen in zip(mine.getdata(), shown.getdata()):
                if (seen != (r, g, b)) if a else (seen != (255, 0, 255)):
                    problems.append(f"css: {atlas_path}: {label} differs")
                    break
            checked += 1
    return checked


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("velkor")
    ap.add_argument("--corpus")
    ap.add_argument("--chromium", default=shutil.which("chromium") or "/usr/bin/chromium")
    ap.add_argument("--layouts", default=",".join(LAYOUTS),
                    help="some of " + ", ".join(LAYOUTS) + " (so that parts can run side by side)")
    args = ap.parse_args()
    layouts = {k: LAYOUTS[k] for k in args.layouts.split(",")}
    ci = os.environ.get("VELKOR_CI") == "1"
    for what, there in (("chromium", args.chromium), ("the engines (npm ci in tests/sheets)",
                                                      os.path.join(MODULES, "pixi.js"))):
        if not os.path.exists(there):
            print(f"engines.py: {'CI must run this test, and' if ci else 'skipped:'} "
                  f"{what} missing")
            return 1 if ci else 77
    if args.corpus and not os.path.isdir(args.corpus):
        print(f"engines.py: no corpus at {args.corpus}: the generated cases only")
        args.corpus = None
    with open(SCHEMA) as f:
        schema = json.load(f)
    work = tempfile.mkdtemp(prefix="velkor-sheets.")
    try:
        files = cases.write_all(os.path.join(work, "cases"))
        if args.corpus:
            for root, _, names in os.walk(args.corpus):
                files += [os.path.join(root, n) for n in names if n.lower().endswith(".gif")]
        files.sort()
        root = os.path.join(work, "s")
        jobs, expected, problems = [], {}, []
        css_sheets = []
        split = too_large = paged = 0
        for layout, options in layouts.items():
            compose = "window" if layout == "window" else "browser"
            for i, path in enumerate(files):
                frames_dir = os.path.join(work, "frames", compose, str(i))
                if not os.path.isdir(frames_dir):
                    os.makedirs(frames_dir)
                    subprocess.run([args.velkor, "--png", "--compose", compose, "-q", "-o",
                                    frames_dir, path], capture_output=True)
                labels = sorted(n[:-4] for n in os.listdir(frames_dir))
                extra = []
                if layout == "pages":
                    canvas = canvas_of(args.velkor, path, compose)
                    if not canvas or len(labels) < 5 or max(canvas) > 1000:
                        continue
                    # Two by two frames at most: several pages.
                    extra = ["--sheet-max", str(2 * max(canvas) + 2)]
                sheet_dir = os.path.join(root, layout, str(i))
                os.makedirs(sheet_dir)
                run = subprocess.run([args.velkor, "--sheet", "--json", "-o", sheet_dir] + options
                                     + extra + [path], capture_output=True, text=True)
                records = [json.loads(line) for line in run.stdout.splitlines()]
                sheets = [r for r in records if r["type"] == "sheet"]
                if not labels:
                    if sheets or run.returncode == 0:
                        problems.append(f"{layout}: {path}: a sheet of a file that does not split")
                    continue
                canvas = canvas_of(args.velkor, path, compose)
                if canvas and max(canvas) + 2 > 4096 and run.returncode == 1 and \
                        "does not fit in a sheet of at most 4096" in run.stderr:
                    too_large += 1  # wider than any page: said, and nothing written
                    if os.listdir(sheet_dir):
                        problems.append(f"{layout}: {path}: files left by a refused sheet")
                    continue
                if run.returncode != 0 or not sheets:
                    problems.append(f"{layout}: {path}: no sheet (exit {run.returncode}: "
                                    f"{run.stderr.strip()})")
                    continue
                split += 1
                atlases = [r["atlas"] for r in sheets]
                for a in atlases:
                    with open(a) as f:
                        atlas = json.load(f)
                    jsonschema.validate(atlas, schema)
                    animation = next(iter(atlas["animations"]))
                paged += layout == "pages" and len(atlases) > 1
                if layout == "trim" and len(css_sheets) < 15:
                    css_sheets.append((sheet_dir, atlases, frames_dir))
                rel = os.path.relpath(sheet_dir, root)
                for engine in ("pixi", "phaser"):
                    jobs.append({
                        "id": len(jobs), "engine": engine,
                        "animation": animation,
                        "atlases": [f"/s/{rel}/{os.path.basename(a)}" for a in atlases],
                        "images": [f"/s/{rel}/{os.path.basename(r['image'])}" for r in sheets],
                    })
                    expected[len(jobs) - 1] = (layout, path, frames_dir, labels)
        results = run_engines(args.chromium, root, jobs, work)
        frames = equal = 0
        for job in jobs:
            k = job["id"]
            layout, path, frames_dir, labels = expected[k]
            where = f"{job['engine']}: {layout}: {path}"
            if k in results.failed:
                problems.append(f"{where}: {results.failed[k].splitlines()[0]}")
                continue
            got = results.frames.get(k, {})
            if sorted(got) != labels:
                problems.append(f"{where}: frames {sorted(got)[:5]}..., expected {labels[:5]}...")
            for label in labels:
                frames += 1
                if label not in got:
                    continue
                w, h, rgba = got[label]
                mine = Image.open(os.path.join(frames_dir, label + ".png")).convert("RGBA")
                if mine.size != (w, h):
                    problems.append(f"{where}: {label}: {(w, h)}, the frame {mine.size}")
                elif normalised(w, h, rgba) != normalised(w, h, mine.tobytes()):
                    problems.append(f"{where}: {label} differs")
                else:
                    equal += 1
        css = 0
        for sheet_dir, atlases, frames_dir in css_sheets:
            css += css_check(args.chromium, sheet_dir, atlases, frames_dir, work, problems)
        for p in problems[:60]:
            print(p)
        if len(problems) > 60:
            print(f"... and {len(problems) - 60} more")
        print(f"{split} sheets of {len(files)} files in {len(layouts)} layouts ({paged} of "
              f"several pages; {too_large} refused as wider than a page); {equal}/{frames} "
              f"frames equal to the split frames in PixiJS and Phaser; {css} CSS frames checked")
        return 0 if (not problems and frames > 0 and (css > 0 or "trim" not in layouts)
                     and (paged > 0 or "pages" not in layouts)) else 1
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
