"""velkor.dask.split_many on a real distributed scheduler with two workers,
each a process of its own on 127.0.0.1: the files written are velkor-split's,
and a worker killed in the middle of the run loses no file."""
import filecmp
import os
import signal
import socket
import subprocess
import sys
import threading
import time

import pytest

distributed = pytest.importorskip("distributed")
import velkor.dask  # noqa: E402
from conftest import SPLIT, corpus_gifs, noise_gif  # noqa: E402


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@pytest.fixture
def cluster(tmp_path):
    port = free_port()
    address = f"tcp://127.0.0.1:{port}"
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env,
                 cwd=str(tmp_path))
    scheduler = subprocess.Popen([sys.executable, "-m", "distributed.cli.dask_scheduler",
                                  "--host", "127.0.0.1", "--port", str(port),
                                  "--dashboard-address", ":0"], **quiet)
    workers = [subprocess.Popen([sys.executable, "-m", "distributed.cli.dask_worker", address,
                                 "--nthreads", "1", "--no-nanny", "--dashboard-address", ":0",
                                 "--name", f"w{i}"], **quiet) for i in range(2)]
    client = None
    try:
        client = distributed.Client(address, timeout=60)
        client.wait_for_workers(2, timeout=60)
        yield client, workers
    finally:
        if client is not None:
            client.close()
        for p in workers + [scheduler]:
            p.kill()
            p.wait()


def expected(paths, folder):
    os.makedirs(folder)
    subprocess.run([SPLIT, "--png", "--compose", "browser", "-q", "-o", folder] + paths)
    return sorted(os.listdir(folder))


def differences(a, b, names):
    """What in folder `a` is not as `names` in folder `b` are: empty when
    nothing."""
    match, mismatch, errors = filecmp.cmpfiles(a, b, names, shallow=False)
    extra = sorted(set(os.listdir(a)) - set(names))
    return {k: v for k, v in (("differ", mismatch), ("missing", errors), ("extra", extra)) if v}


def test_files_are_spread_over_the_workers_and_written_as_velkor_split_writes(cluster, tmp_path):
    client, _ = cluster
    paths = [p for p in corpus_gifs() if "pillow" in p][:12]
    paths += [noise_gif(str(tmp_path / f"n{i}.gif"), 6, (60, 40), seed=i) for i in range(4)]
    bad = tmp_path / "bad.gif"
    bad.write_bytes(b"GIF89a")
    paths.append(str(bad))
    names = {}
    paths = [p for p in paths if names.setdefault(velkor.dask._name(p), p) == p]
    out = str(tmp_path / "out")
    rows = velkor.dask.split_many(paths, out, client=client)
    assert [r["file"] for r in rows] == [os.path.abspath(p) for p in paths]
    assert rows[-1]["outcome"] == "refused" and rows[-1]["reason"]
    want = expected(paths, str(tmp_path / "cli"))
    assert sum(r["frames"] for r in rows) == len(want)
    assert not differences(out, str(tmp_path / "cli"), want)
    # Both workers took part.
    assert len({w for w in client.run(lambda: os.getpid()).values()}) == 2
    with pytest.raises(ValueError):
        velkor.dask.split_many([paths[0], os.path.join(str(tmp_path), "x",
                                                       os.path.basename(paths[0]))], out,
                               client=client)


def test_a_worker_killed_mid_run_loses_no_file(cluster, tmp_path):
    client, workers = cluster
    paths = [noise_gif(str(tmp_path / f"big{i}.gif"), 30, (300, 240), seed=i) for i in range(8)]
    out = str(tmp_path / "out")
    rows = []
    run = threading.Thread(target=lambda: rows.extend(
        velkor.dask.split_many(paths, out, client=client, format="bmp")))
    run.start()
    # Once frames are being written, one worker goes without a word.
    deadline = time.time() + 60
    while time.time() < deadline and (not os.path.isdir(out) or len(os.listdir(out)) < 5):
        time.sleep(0.01)
    workers[0].send_signal(signal.SIGKILL)
    run.join(timeout=300)
    assert not run.is_alive()
    assert [r["outcome"] for r in rows] == ["split"] * len(paths)
    os.makedirs(str(tmp_path / "cli"))
    subprocess.run([SPLIT, "--bmp", "--compose", "browser", "-q", "-o", str(tmp_path / "cli")]
                   + paths)
    want = sorted(os.listdir(str(tmp_path / "cli")))
    assert len(want) == 8 * 30
    # Nothing half-written is left: every file is a whole frame.
    assert not differences(out, str(tmp_path / "cli"), want)
