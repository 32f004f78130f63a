"""What the tests that drive headless Chromium share: a quiet local server's
handler, a page run until it says it is done, and frames compared as those
tests compare them (alpha in being 0 or not, colour where opaque)."""
import http.server
import subprocess
import sys

from PIL import Image


class QuietHandler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def reply(self, body, kind):
        self.send_response(200)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


def run_page(command, finished, timeout, what):
    """Runs Chromium (`command`, the page's address last) until the page sets
    `finished`: it says when its work is done, its load event comes long
    before. Exits with `what` when it never does."""
    proc = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        if not finished.wait(timeout=timeout):
            sys.exit(what)
    finally:
        proc.kill()
        proc.wait()


def normalised(w, h, rgba):
    im = Image.frombytes("RGBA", (w, h), rgba)
    mask = im.getchannel("A").point(lambda v: 255 if v else 0)
    opaque = im.convert("RGB").convert("RGBA")
    return Image.composite(opaque, Image.new("RGBA", (w, h), (0, 0, 0, 0)), mask).tobytes()
