"""velkor as a Python program uses it: the frames equal velkor-split's PNG
frames, the errors carry their reasons, decoding lets other threads run, and a
split writes what velkor-split writes."""
import errno
import filecmp
import os
import threading
import time

import numpy as np
import pytest
from PIL import Image

import velkor
from conftest import SPLIT, cli_png, code_size_offsets, corpus_gifs, noise_gif, normalised


@pytest.mark.parametrize("compose", ["browser", "window"])
def test_every_frame_is_the_one_velkor_split_writes(compose, generated, tmp_path):
    files = generated + corpus_gifs()
    compared = 0
    for i, path in enumerate(files):
        status, theirs = cli_png(path, str(tmp_path / str(i)), compose)
        if status != 0:
            reason = velkor.info(path, compose)["error"]["reason"]
            with pytest.raises((velkor.BreakOutError, OSError)) as caught:
                with velkor.open(path, compose) as gif:
                    list(gif)
            if isinstance(caught.value, velkor.BreakOutError):
                assert caught.value.reason == reason, path
            continue
        with velkor.open(path, compose) as gif:
            ours = list(gif)
            assert len(gif) == len(theirs), path
            assert (gif.height, gif.width) == theirs[0].shape[:2], path
        for n, (a, b) in enumerate(zip(ours, theirs), 1):
            assert a.shape == b.shape and a.dtype == np.uint8 and not a.flags.writeable
            assert np.array_equal(normalised(a), normalised(b)), f"{path} frame {n}"
        compared += 1
    assert compared > 100 if corpus_gifs() else compared > 10


def test_the_table_the_frames_and_their_order(generated, tmp_path):
    path = [p for p in generated if p.endswith("disposal-3.gif")][0]
    table = velkor.info(path)
    with velkor.open(path) as gif:
        assert gif.delays == [f["delay"] for f in table["frames"]]
        assert gif.loop == table["loop_count"]
        frames = list(gif)
        # Asked for out of order, each is composed again to the same pixels.
        assert np.array_equal(gif[-1], frames[-1])
        assert np.array_equal(gif[0], frames[0])
        assert [np.array_equal(a, b) for a, b in zip(gif[1:], frames[1:])] == \
            [True] * (len(frames) - 1)
        with pytest.raises(IndexError):
            gif[len(frames)]
        # Leaving a loop early and closing mid-way end the composing thread.
        for _ in gif:
            break
    assert gif.closed
    with pytest.raises(ValueError):
        gif[0]


def test_errors_carry_the_reason_the_byte_and_the_frame(tmp_path):
    bad = tmp_path / "not.gif"
    bad.write_bytes(b"PNG not a gif at all")
    with pytest.raises(velkor.BreakOutError) as e:
        velkor.open(bad)
    assert isinstance(e.value, ValueError)
    assert (e.value.reason, e.value.byte, e.value.frame) == ("bad-signature", 0, None)
    gif = noise_gif(str(tmp_path / "n.gif"), 4, (40, 30))
    cut = tmp_path / "cut.gif"
    data = open(gif, "rb").read()
    cut.write_bytes(data[: len(data) - 200])
    with pytest.raises(velkor.BreakOutError) as e:
        velkor.open(cut)
    assert e.value.reason == velkor.info(cut)["error"]["reason"] and e.value.frame == 4
    with velkor.open(cut, salvage=True) as salvaged:
        assert len(salvaged) == 3 and salvaged.damage["frame"] == 4
    with pytest.raises(FileNotFoundError) as e:
        velkor.open(tmp_path / "missing.gif")
    assert e.value.errno == errno.ENOENT
    with pytest.raises(velkor.BreakOutError):
        velkor.split(bad, tmp_path / "out")
    assert not (tmp_path / "out").exists()
    (tmp_path / "file").write_bytes(b"")
    with pytest.raises(OSError) as e:
        velkor.split(gif, tmp_path / "file" / "sub")
    assert e.value.errno == errno.ENOTDIR
    with pytest.raises(ValueError):
        velkor.open(gif, compose="paint")
    with pytest.raises(ValueError):
        velkor.split(gif, tmp_path / "o", format="jpeg")
    with pytest.raises(ValueError):
        velkor.split(gif, tmp_path / "o", frames=[9])


def test_frames_come_as_they_are_read(tmp_path):
    gif = noise_gif(str(tmp_path / "n.gif"), 5, (60, 40))
    data = bytearray(open(gif, "rb").read())
    data[code_size_offsets(data)[2]] = 12  # frame 3's data cannot be decoded
    bad = tmp_path / "bad.gif"
    bad.write_bytes(data)
    # The frames before it come; frame 3 is the error velkor-split refuses
    # the file with, each time it is reached.
    with velkor.open(bad) as frames:
        assert len(frames) == 5
        got = []
        with pytest.raises(velkor.BreakOutError) as e:
            for frame in frames:
                got.append(frame)
        assert len(got) == 2
        reason = velkor.info(bad)["error"]
        assert (e.value.reason, e.value.frame) == (reason["reason"], 3) == \
            ("frame-undecodable", 3)
        assert np.array_equal(frames[1], got[1])
        with pytest.raises(velkor.BreakOutError):
            frames[4]
    with velkor.open(bad, salvage=True) as salvaged:
        assert len(salvaged) == 2 and salvaged.damage["frame"] == 3
    # A program is never made to wait out the frames' delays (here 100
    # frames of 2 s, which a play would wait 0.1 s each).
    slow = tmp_path / "slow.gif"
    Image.new("P", (8, 8)).save(slow, save_all=True, duration=2000, loop=0,
                                append_images=[Image.new("P", (8, 8), i) for i in range(1, 100)])
    started = time.monotonic()
    with velkor.open(slow) as frames:
        assert len(list(frames)) == 100
    assert len(velkor.split(slow, tmp_path / "slow")) == 100
    assert time.monotonic() - started < 8


def test_a_split_writes_what_velkor_split_writes(tmp_path):
    gif = noise_gif(str(tmp_path / "n.gif"), 5, (50, 40))
    for fmt in ("png", "bmp", "gif", "stored"):
        for compose in ("browser", "window"):
            ours = tmp_path / f"ours-{fmt}-{compose}"
            written = velkor.split(gif, ours, format=fmt, frames=[1, 3, 4], compose=compose,
                                   name="f{n:02}")
            theirs = tmp_path / f"theirs-{fmt}-{compose}"
            os.system(f"{SPLIT} --{fmt} --compose {compose} --frames 1,3,4 --name 'f{{n:02}}' "
                      f"-q -o '{theirs}' '{gif}'")
            assert [os.path.basename(p) for p in written] == sorted(os.listdir(theirs))
            match, mismatch, errors = filecmp.cmpfiles(ours, theirs, os.listdir(theirs),
                                                       shallow=False)
            assert not mismatch and not errors, (fmt, compose)


def test_decoding_lets_other_threads_run(tmp_path):
    gifs = [noise_gif(str(tmp_path / f"n{i}.gif"), 12, (500, 400), seed=i) for i in range(3)]
    ticks = []
    running = threading.Event()

    def count():
        while running.is_set():
            ticks.append(1)

    # While one long call decodes, a Python thread keeps running: the GIL is
    # not held through it.
    running.set()
    counter = threading.Thread(target=count)
    counter.start()
    before = len(ticks)
    velkor.split(gifs[0], tmp_path / "alone", format="bmp")
    during = len(ticks) - before
    running.clear()
    counter.join()
    assert during > 1000
    # Side by side, each thread's frames are its own file's.
    results = {}

    def read(path):
        with velkor.open(path) as gif:
            results[path] = [frame.copy() for frame in gif]

    threads = [threading.Thread(target=read, args=(g,)) for g in gifs]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for g in gifs:
        status, theirs = cli_png(g, str(tmp_path / ("cli-" + os.path.basename(g))), "browser")
        assert status == 0
        assert all(np.array_equal(normalised(a), normalised(b))
                   for a, b in zip(results[g], theirs)) and len(results[g]) == len(theirs)
