"""Animated GIFs for programs: every frame as a NumPy array, a file's frame
table, and splits to files, with velkor-split's compositions, reasons and
rules.

    with velkor.open("walk.gif") as gif:          # the browser's composition
        for frame in gif:                         # (height, width, 4) uint8, RGBA
            ...
    velkor.info("walk.gif")["frames"][0]["delay"]
    velkor.split("walk.gif", "out", format="png")  # the paths written

Frames are composed one at a time as they are asked for: a big file never
holds all of them unless the program keeps them. Decoding lets go of the GIL,
so threads split files side by side. A file that cannot be split raises
BreakOutError (a ValueError) with its reason, byte and frame; the system's
failures raise OSError with their errno. Reading frames, a file whose blocks
are whole opens, and a frame whose image data cannot be decoded raises when it
is reached (the frames before it have come).
"""
from ._velkor import Frames as _Frames
from ._velkor import info as _info
from ._velkor import split as _split

__all__ = ["BreakOutError", "Animation", "open", "info", "split"]


class BreakOutError(ValueError):
    """A file that cannot be broken into frames: `reason` is the id of the
    frame table and of velkor-split --json ("truncated-image-data", ...),
    `byte` the offset from 0 and `frame` the frame number from 1 where they
    apply (else None)."""

    def __init__(self, message, reason, byte=None, frame=None):
        super().__init__(message)
        self.reason = reason
        self.byte = byte
        self.frame = frame


class Animation:
    """The frames of one GIF: len(), indexing and iteration give read-only
    uint8 arrays of shape (height, width, 4). Frames are composed in order;
    asking for an earlier frame than the last composes the file again up to
    it. Usable in a with block, which frees it."""

    def __init__(self, path, compose="browser", salvage=False):
        self._frames = _Frames(str(path), compose, salvage)
        self.path = str(path)

    width = property(lambda self: self._frames.width)
    height = property(lambda self: self._frames.height)
    loop = property(lambda self: self._frames.loop, doc="the loop count, None without one")
    delays = property(lambda self: list(self._frames.delays), doc="in hundredths of a second")
    damage = property(lambda self: self._frames.damage,
                      doc="with salvage: where the file is damaged (a dict), else None")
    closed = property(lambda self: self._frames.closed)

    def __len__(self):
        return len(self._frames)

    def __getitem__(self, index):
        if isinstance(index, slice):
            return [self._frames.frame(k) for k in range(*index.indices(len(self)))]
        return self._frames.frame(index)

    def __iter__(self):
        for k in range(len(self)):
            yield self._frames.frame(k)

    def close(self):
        self._frames.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __repr__(self):
        return (f"<velkor.Animation {self.path!r}: {len(self)} frames of "
                f"{self.width} x {self.height}>")


def open(path, compose="browser", salvage=False):  # noqa: A001 (as the built-in open reads)
    """The frames of the GIF at `path`, composed as a web browser shows them
    ("browser") or by the window's rules ("window"). With `salvage`, a file
    damaged at frame K gives frames 1 to K-1 (every frame's data is decoded
    once on opening to find K); without, frame K raises BreakOutError when it
    is reached."""
    return Animation(path, compose, salvage)


def info(path, compose="browser"):
    """The frame table of velkor-split --info, as a dict; "splits" says
    whether the file can be split, "reason" why not."""
    return _info(str(path), compose)


def split(path, folder, format="png", frames=None, compose="browser", name=None,
          salvage=False):
    """Writes the frames of `path` into `folder` (made when missing) as
    velkor-split does: format "png", "bmp", "gif" or "stored"; `frames` the
    frame numbers from 1 (an iterable, or velkor-split's list "1-10,15");
    `name` a pattern such as "{name}_{n:03}". Returns the paths written."""
    return _split_file(path, folder, format, frames, compose, name, salvage)


def _split_file(path, folder, format="png", frames=None, compose="browser", name=None,
                salvage=False, own_threads=True):
    """split, decoding and writing on threads of the call's own, or (where
    something else runs files side by side, as a cluster's worker threads
    do) all on the calling thread."""
    if frames is not None and not isinstance(frames, str):
        frames = ",".join(str(int(n)) for n in frames)
    return _split(str(path), str(folder), format, frames, compose, name, salvage, own_threads)
