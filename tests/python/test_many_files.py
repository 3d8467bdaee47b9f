"""Many pictures: on this machine's threads, and as tasks of a Dask cluster of two worker
processes on the loopback interface, one of which dies in the middle of the run."""
import os
import signal
import socket
import subprocess
import sys
import threading
import time

import distributed
import numpy
import pytest
from PIL import Image

import kelvane

BINARY = os.environ["KELVANE_BINARY"]


@pytest.fixture
def archive(tmp_path):
    """24 pictures in nested folders, one damaged file and a text file."""
    rng = numpy.random.default_rng(5)
    for i in range(24):
        folder = tmp_path / "in" / ("a" if i % 2 else "") / ("b" if i % 3 == 0 else "")
        folder.mkdir(parents=True, exist_ok=True)
        pixels = rng.integers(0, 256, (120, 160, 3), dtype=numpy.uint8)
        Image.fromarray(pixels).save(folder / ("p%02d.%s" % (i, "png" if i % 4 else "tif")))
    (tmp_path / "in" / "a" / "damaged.png").write_bytes((tmp_path / "in" / "a" / "p01.png").read_bytes()[:200])
    (tmp_path / "in" / "notes.txt").write_text("not a picture")
    return tmp_path


def outputs_of(folder):
    """The pixels of every file below folder; TIFF files carry their time of writing, so bytes differ."""
    return {os.path.relpath(os.path.join(d, f), folder): numpy.asarray(Image.open(os.path.join(d, f))).tobytes()
            for d, _, names in os.walk(folder) for f in names}


def command_line_outputs(archive):
    # A gain of 1 caps about half the windows of noise: the option has to reach every picture.
    run = subprocess.run([BINARY, "--max-gain", "1", "std_fn", str(archive / "in"), str(archive / "reference"), "9", "y709"],
                         capture_output=True, text=True)
    assert run.returncode == 1 and run.stderr.count("Error: ") == 1, run.stderr
    return outputs_of(archive / "reference")


def test_level_files_writes_what_the_command_line_writes(archive):
    reports = kelvane.level_files(archive / "in", archive / "out", "std_fn", 9, method="y709", workers=2, max_gain=1)
    assert len(reports) == 25
    failed = [r for r in reports if r.error]
    assert len(failed) == 1 and "damaged.png" in failed[0].error
    assert outputs_of(archive / "out") == command_line_outputs(archive)
    again = kelvane.level_files(archive / "in", archive / "out", "std_fn", 9, method="y709", skip_existing=True)
    assert sum(r.skipped for r in again) == 24
    with pytest.raises(ValueError, match="input folder"):
        kelvane.level_files(archive / "in" / "a", archive / "in" / "a", "mean", 9)


def test_a_dask_cluster_levels_every_picture_once_even_when_a_worker_dies(archive):
    expected = command_line_outputs(archive)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        # One worker is killed once the first pictures are done; its tasks go to the other.
        pids = list(client.run(os.getpid).values())

        def kill_one():
            deadline = time.monotonic() + 120
            while not (archive / "out").exists() or len(outputs_of(archive / "out")) < 3:
                if time.monotonic() > deadline:
                    return
                time.sleep(0.01)
            os.kill(pids[0], signal.SIGKILL)

        killer = threading.Thread(target=kill_one)
        killer.start()
        from kelvane import cluster as kelvane_cluster

        reports = kelvane_cluster.level_files(archive / "in", archive / "out", "std_fn", 9, method="y709",
                                              client=client, max_gain=1)
        killer.join()
        # The command of the module, on the same scheduler: its summary and exit status.
        run = subprocess.run([sys.executable, "-m", "kelvane.cluster", "--scheduler", cluster.scheduler_address,
                              "mean", str(archive / "in" / "a"), str(archive / "cluster-out"), "9"],
                             capture_output=True, text=True, timeout=300)
    assert run.returncode == 1, run.stderr
    assert run.stdout.startswith("Leveled 12 pictures, 1 failed, 0 skipped, in "), run.stdout
    assert run.stderr.count("Error: ") == 1 and "damaged.png" in run.stderr
    assert len(reports) == 25 and len({r.input for r in reports}) == 25
    failed = [r for r in reports if r.error]
    assert len(failed) == 1 and "damaged.png" in failed[0].error
    assert outputs_of(archive / "out") == expected


def test_a_batch_names_every_damaged_picture_and_skips_hidden_files(tmp_path):
    folder = tmp_path / "zz"
    (folder / ".git").mkdir(parents=True)
    good = numpy.zeros((8, 9), numpy.uint8)
    Image.fromarray(good).save(folder / "good.png")
    Image.fromarray(good).save(folder / ".hidden.png")
    Image.fromarray(good).save(folder / ".git" / "inside.png")
    zeroed = bytearray((folder / "good.png").read_bytes())
    zeroed[:8] = bytes(8)
    (folder / "zeroed.png").write_bytes(bytes(zeroed))
    (folder / "empty.jpg").write_bytes(b"")
    os.symlink("gone.png", folder / "dangling.png")
    (folder / "notes.txt").write_text("not a picture")
    reports = kelvane.level_files(folder, tmp_path / "out", "mean", 3)
    assert [os.path.basename(r.input) for r in reports] == ["dangling.png", "empty.jpg", "good.png", "zeroed.png"]
    assert [r.written for r in reports] == [False, False, True, False]
    assert "No such file or directory" in reports[0].error and "empty" in reports[1].error
    assert sorted(os.listdir(tmp_path / "out")) == ["good.png"]
    # Named one by one, a dangling link is a failure of its own too, not an exception.
    listed = kelvane.level_files([folder / "dangling.png", folder / "good.png"], tmp_path / "listed", "mean", 3)
    assert [r.written for r in listed] == [False, True] and "No such file or directory" in listed[0].error


def test_two_pictures_for_one_output_are_refused_before_anything_is_made(tmp_path):
    folder = tmp_path / "in"
    folder.mkdir()
    for name in ["x.png", "x.tif"]:
        Image.fromarray(numpy.zeros((8, 9), numpy.uint8)).save(folder / name)
    with pytest.raises(ValueError, match="two pictures would be written to one output: .*x.png and .*x.tif to "
                                         ".*out/x.jpg"):
        kelvane.level_files(folder, tmp_path / "out", "mean", 3, format="jpg")
    with pytest.raises(ValueError, match="two pictures would be written to one output"):
        kelvane.level_files([folder / "x.png", folder / "x.tif"], tmp_path / "out", "mean", 3, format="jpg")
    assert not (tmp_path / "out").exists()


def test_an_unreachable_scheduler_is_one_error_line(tmp_path):
    (tmp_path / "in").mkdir()
    Image.fromarray(numpy.zeros((8, 9), numpy.uint8)).save(tmp_path / "in" / "a.png")
    with socket.socket() as unused:
        unused.bind(("127.0.0.1", 0))
        port = unused.getsockname()[1]
    start = time.monotonic()
    run = subprocess.run([sys.executable, "-m", "kelvane.cluster", "--scheduler", "tcp://127.0.0.1:%d" % port,
                          "--timeout", "2", "mean", str(tmp_path / "in"), str(tmp_path / "out"), "31"],
                         capture_output=True, text=True, timeout=60)
    assert run.returncode == 1
    assert run.stderr.startswith("Error: cannot reach the scheduler at tcp://127.0.0.1:%d within 2 s" % port)
    assert run.stderr.count("\n") == 1 and "Traceback" not in run.stderr, run.stderr
    assert time.monotonic() - start < 30
