"""velkor.split over many files on a distributed (Dask) cluster.

    from distributed import Client
    client = Client("tcp://scheduler:8786")
    rows = velkor.dask.split_many(paths, "/shared/frames", client=client, format="bmp")

The files go out in a few tasks for each worker thread (one a file costs the
scheduler more than a small file's split); a worker that dies takes no file
with it: its tasks run again on another worker, and every frame file is
written whole or not at all, so a file done twice is the same file.
"""
import math
import os

import velkor

# Tasks for each worker thread: enough for the scheduler to even out files of
# very different sizes between the workers.
_TASKS_PER_THREAD = 8


def _name(path):
    base = os.path.basename(path)
    lead = "." if base.startswith(".") else ""
    return lead + base[len(lead):].split(".")[0]


def _split_one(path, folder, options):
    try:
        # The worker's threads run files side by side: each file is split on
        # the thread that took it, as velkor-split -j does.
        written = velkor._split_file(path, folder, own_threads=False, **options)
        return {"file": path, "outcome": "split", "frames": len(written), "reason": None}
    except velkor.BreakOutError as e:
        return {"file": path, "outcome": "refused", "frames": 0, "reason": e.reason}
    except OSError as e:
        return {"file": path, "outcome": "incomplete", "frames": 0,
                "reason": os.strerror(e.errno) if e.errno else str(e)}


def split_many(paths, folder, client=None, **options):
    """Splits every file of `paths` into `folder` (seen by every worker) with
    the options of velkor.split, one task a file, on `client` (the current
    distributed client when None). Returns one dict a file, in their order:
    file, outcome ("split", "refused" or "incomplete"), frames written and
    the reason. Two files that would write the same names are refused before
    anything is submitted."""
    paths = [os.path.abspath(str(p)) for p in paths]
    if options.get("name") is None:
        seen = {}
        for p in paths:
            other = seen.setdefault(_name(p), p)
            if other != p:
                raise ValueError(f"{other} and {p} would both write {_name(p)}_NNN into {folder}")
    if client is None:
        from distributed import get_client
        client = get_client()
    if not paths:
        return []
    threads = max(1, sum(client.nthreads().values()))
    size = math.ceil(len(paths) / (threads * _TASKS_PER_THREAD))
    chunks = [paths[i:i + size] for i in range(0, len(paths), size)]
    futures = client.map(_split_some, chunks, folder=os.path.abspath(str(folder)),
                         options=options, pure=False)
    return [row for rows in client.gather(futures) for row in rows]


def _split_some(paths, folder, options):
    return [_split_one(p, folder, options) for p in paths]
