"""velkor.split over many files on a distributed (Dask) cluster.

    from distributed import Client
    client = Client("tcp://scheduler:8786")
    rows = velkor.dask.split_many(paths, "/shared/frames", client=client, format="bmp")

Each file is one task; a worker that dies takes no file with it: its tasks
run again on another worker, and every frame file is written whole or not at
all, so a file done twice is the same file.
"""
import os

import velkor


def _name(path):
    base = os.path.basename(path)
    lead = "." if base.startswith(".") else ""
    return lead + base[len(lead):].split(".")[0]


def _split_one(path, folder, options):
    try:
        written = velkor.split(path, folder, **options)
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
    futures = client.map(_split_one, paths, folder=os.path.abspath(str(folder)),
                         options=options, pure=False)
    return client.gather(futures)
