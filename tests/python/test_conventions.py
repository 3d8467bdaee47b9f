"""The module by numpy's and scikit-image's conventions: what it takes, what it refuses and
how, what it warns about, and how its files fail."""
import errno
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import warnings

import numpy
import pytest
from PIL import Image

import kelvane


@pytest.fixture
def photo():
    rng = numpy.random.default_rng(11)
    return rng.integers(0, 256, (40, 50, 3), dtype=numpy.uint8)


def test_wrong_types_raise_type_error_naming_the_argument(photo):
    cases = [
        (dict(algorithm=3), "algorithm must be a str"),
        (dict(window=3.5), "window must be an int"),
        (dict(window=True), "window must be an int"),
        (dict(window2=[5]), "window2 must be an int"),
        (dict(method=7), "method must be a str"),
        (dict(max_gain="4"), "max_gain must be a real number"),
        (dict(level_alpha=1), "level_alpha must be True or False"),
        (dict(threads="2"), "threads must be an int"),
        (dict(channel_axis=1.0), "channel_axis must be an int"),
        (dict(out=[[0]]), "out must be a numpy.ndarray"),
    ]
    for change, message in cases:
        arguments = dict(algorithm="std_fn", window=9, method="y709")
        arguments.update(change)
        with pytest.raises(TypeError, match=message):
            kelvane.level(photo, **arguments)
    with pytest.raises(TypeError, match="int32"):
        kelvane.level(photo.astype(numpy.int32), "mean", 9)
    with pytest.raises(TypeError, match="input must be a path"):
        kelvane.level_file(42, "out.png", "mean", 9)


def test_value_errors_list_the_valid_choices(photo, tmp_path):
    with pytest.raises(ValueError, match="unknown algorithm 'meen': choose one of mean, mean_fn, std, std_fn, "
                                         "minmax, minmax_fn, range, range_fn"):
        kelvane.level(photo, "meen", 9)
    with pytest.raises(ValueError, match="unknown gray method 'Y709': choose one of lightness, value, max, min, "
                                         "med, mid, red, green, blue, y709"):
        kelvane.level(photo, "std_fn", 9, method="Y709")
    with pytest.raises(ValueError, match="std_fn needs a gray method: method= one of lightness"):
        kelvane.level(photo, "std_fn", 9)
    # The command line's order puts the method where Python's puts the second window.
    with pytest.raises(ValueError, match="window2='y709' is a gray method, not a window: pass it as method='y709'"):
        kelvane.level(photo, "std_fn", 41, "y709")
    with pytest.raises(ValueError, match="mean takes no gray method"):
        kelvane.level(photo, "mean", 9, method="y709")
    for window in ["3x", "5%%", "-5%", ""]:
        with pytest.raises(ValueError, match="illegal window"):
            kelvane.level(photo, "mean", window)
    for gain in [0.5, float("nan"), -1]:
        with pytest.raises(ValueError, match="max_gain must be at least 1"):
            kelvane.level(photo, "std", 9, max_gain=gain)
    with pytest.raises(ValueError, match="threads=-99 leaves no thread"):
        kelvane.level(photo, "mean", 9, threads=-99)
    # The ends of the ranges are values.
    Image.fromarray(photo).save(tmp_path / "in.png")
    assert kelvane.level_file(tmp_path / "in.png", tmp_path / "zero.png", "mean", 9, png_compression=0,
                              jpeg_quality=100).written
    with pytest.raises(ValueError, match="jpeg_quality must be from 1 to 100"):
        kelvane.level_file(tmp_path / "in.png", tmp_path / "out.jpg", "mean", 9, jpeg_quality=0)
    with pytest.raises(ValueError, match="unknown tiff_compression 'jpeg': choose one of none, lzw, zip, packbits"):
        kelvane.level_file(tmp_path / "in.png", tmp_path / "out.tif", "mean", 9, tiff_compression="jpeg")


def test_windows_and_threads_take_every_spelling_of_the_same_value(photo):
    reference = kelvane.level(photo, "range", 9, 31)
    assert numpy.array_equal(kelvane.level(photo, "range", "9", numpy.int64(31)), reference)
    # 9 pixels are 22.5% of the 40-pixel shorter side; 31 are 77.5%.
    assert numpy.array_equal(kelvane.level(photo, "range", "22.5%", "77.5%"), reference)
    for threads in [None, 0, -1, 1, 3]:
        assert numpy.array_equal(kelvane.level(photo, "range", 9, 31, threads=threads), reference)
    whole = kelvane.level(photo, "std", -1)
    assert numpy.array_equal(whole, kelvane.level(photo, "std", 100000))


def test_threads_count_as_joblib_counts(monkeypatch):
    monkeypatch.setattr(kelvane._checks, "cores", lambda: 8)
    assert [kelvane._checks.threads(n) for n in (None, 0, -1, -2, -8, 3)] == [0, 0, 8, 7, 1, 3]
    with pytest.raises(ValueError, match="threads=-9 leaves no thread on 8 cores"):
        kelvane._checks.threads(-9)


def test_any_array_like_in_any_byte_order(photo):
    gray = photo[..., 1].copy()
    reference = kelvane.level(gray, "std", 7)
    values = gray / 255.0
    assert numpy.array_equal(kelvane.level(values.tolist(), "std", 7), kelvane.level(values, "std", 7))
    assert numpy.array_equal(kelvane.level(Image.fromarray(gray), "std", 7), reference)
    deep = gray.astype(numpy.uint16) * 257
    assert numpy.array_equal(kelvane.level(deep.astype(">u2"), "std", 7), kelvane.level(deep, "std", 7))
    swapped = kelvane.level(values.astype(">f8"), "std", 7)
    assert swapped.dtype.isnative and numpy.array_equal(swapped, kelvane.level(values, "std", 7))
    # Unaligned samples, as a view into bytes can give.
    raw = numpy.zeros(values.size * 8 + 1, numpy.uint8)
    unaligned = raw[1:].view(numpy.float64).reshape(values.shape)
    unaligned[...] = values
    assert not unaligned.flags.aligned
    assert numpy.array_equal(kelvane.level(unaligned, "std", 7), kelvane.level(values, "std", 7))


def test_integers_of_no_known_depth_are_refused_by_type():
    # A list of Python ints becomes int64 under numpy.asarray: codes of no known depth.
    with pytest.raises(TypeError, match="not int64: give the depth, numpy.asarray\\(image, numpy.uint8\\)"):
        kelvane.level([[1, 2], [3, 4]], "mean", 3)


def test_the_channel_axis_is_said_or_refused(photo):
    planes = numpy.ascontiguousarray(numpy.moveaxis(photo, -1, 0))  # 3 x 40 x 50
    with pytest.raises(ValueError, match="channel_axis=2 holds 50 entries"):
        kelvane.level(planes, "std", 9)
    leveled = kelvane.level(planes, "std_fn", 9, method="y709", channel_axis=0)
    assert leveled.shape == planes.shape and leveled.flags.c_contiguous
    assert numpy.array_equal(leveled, numpy.moveaxis(kelvane.level(photo, "std_fn", 9, method="y709"), -1, 0))
    assert numpy.array_equal(kelvane.level(photo, "std", 9, channel_axis=-1), kelvane.level(photo, "std", 9))
    with pytest.raises(ValueError, match="channel_axis is None"):
        kelvane.level(photo, "std", 9, channel_axis=None)
    with pytest.raises(ValueError, match="channel_axis=3 is not an axis"):
        kelvane.level(photo, "std", 9, channel_axis=3)
    with pytest.raises(ValueError, match="std_fn levels red, green and blue.*channel_axis=2 holds 2 entries"):
        kelvane.level(photo[..., :2], "std_fn", 9, method="y709")
    with pytest.raises(ValueError, match="must have 2 dimensions"):
        kelvane.level(photo[None], "std", 9)


def test_out_receives_the_result(photo):
    expected = kelvane.level(photo, "minmax", 9)
    out = numpy.zeros_like(photo)
    assert kelvane.level(photo, "minmax", 9, out=out) is out and numpy.array_equal(out, expected)
    # Another sample type, and the input itself.
    deep = numpy.zeros(photo.shape, numpy.uint16)
    kelvane.level(photo, "minmax", 9, out=deep)
    assert numpy.array_equal(deep, kelvane.level(photo.astype(numpy.uint16) * 257, "minmax", 9))
    same = photo.copy()
    kelvane.level(same, "minmax", 9, out=same)
    assert numpy.array_equal(same, expected)
    # Channels first: written through the view.
    planes = numpy.ascontiguousarray(numpy.moveaxis(photo, -1, 0))
    into = numpy.empty_like(planes)
    kelvane.level(planes, "minmax", 9, channel_axis=0, out=into)
    assert numpy.array_equal(numpy.moveaxis(into, 0, -1), expected)
    big = numpy.zeros((40, 51, 3), numpy.uint8)
    for source, target in [(big[:, :50], big[:, 1:]), (big[:, 1:], big[:, :50])]:
        with pytest.raises(ValueError, match="overlaps the input"):
            kelvane.level(source, "minmax", 9, out=target)
    crowded = numpy.lib.stride_tricks.as_strided(numpy.zeros(4016, numpy.uint8), (40, 50, 3), (100, 2, 1))
    with pytest.raises(ValueError, match="two of its samples"):
        kelvane.level(photo, "minmax", 9, out=crowded)
    with pytest.raises(ValueError, match="byte order"):
        kelvane.level(photo, "minmax", 9, out=numpy.zeros(photo.shape, ">u2"))
    with pytest.raises(ValueError, match="shape"):
        kelvane.level(photo, "minmax", 9, out=numpy.zeros((40, 50), numpy.uint8))
    frozen = numpy.zeros_like(photo)
    frozen.flags.writeable = False
    with pytest.raises(ValueError, match="read-only"):
        kelvane.level(photo, "minmax", 9, out=frozen)


def test_the_command_lines_notes_are_warnings(photo):
    with pytest.warns(UserWarning, match="image does not have 3 channels: std_fn leveled each channel"):
        kelvane.level(photo[..., 0], "std_fn", 9, method="y709")
    with pytest.warns(UserWarning, match="the window is 1 pixel"):
        kelvane.level(photo, "std", 1)
    # 1% of 40 pixels is 0.4: a window of one pixel on this picture only.
    with pytest.warns(UserWarning, match="the second window is 1 pixel"):
        kelvane.level(photo, "std", 9, "1%")
    with pytest.warns(UserWarning, match="mean moves values without stretching them"):
        kelvane.level(photo, "mean", 9, max_gain=4)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        kelvane.level(photo, "std_fn", 9, method="y709", max_gain=4)


def test_level_file_takes_any_path_and_returns_its_report(photo, tmp_path):
    Image.fromarray(photo).save(tmp_path / "in.png")
    report = kelvane.level_file(pathlib.Path(tmp_path / "in.png"), os.fsencode(tmp_path / "out.png"), "std_fn", 9,
                                method="y709")
    assert report.written and report.output == str(tmp_path / "out.png") and report.error is None
    expected = kelvane.level(photo, "std_fn", 9, method="y709")
    assert numpy.array_equal(numpy.asarray(Image.open(tmp_path / "out.png")), expected)
    # A name that is no UTF-8, as file systems allow.
    odd = os.fsencode(str(tmp_path)) + b"/caf\xe9.png"
    kelvane.level_file(tmp_path / "in.png", odd, "std_fn", 9, method="y709")
    assert numpy.array_equal(numpy.asarray(Image.open(odd)), expected)
    with pytest.warns(UserWarning, match="image does not have 3 channels"):
        report = kelvane.level_file(tmp_path / "in.png", tmp_path / "gray.png", "mean", 9)
        Image.fromarray(photo[..., 0]).save(tmp_path / "gray-in.png")
        report = kelvane.level_file(tmp_path / "gray-in.png", tmp_path / "gray.png", "mean_fn", 9, method="max")
    assert report.channel_by_channel


def test_file_errors_carry_errno_and_filename(tmp_path):
    missing = tmp_path / "does-not-exist.png"
    with pytest.raises(FileNotFoundError) as raised:
        kelvane.level_file(missing, tmp_path / "out.png", "mean", 31)
    assert raised.value.errno == errno.ENOENT and raised.value.filename == str(missing)
    Image.fromarray(numpy.zeros((8, 8), numpy.uint8)).save(tmp_path / "in.png")
    with pytest.raises(FileNotFoundError) as raised:
        kelvane.level_file(tmp_path / "in.png", tmp_path / "no-folder" / "out.png", "mean", 31)
    assert raised.value.filename == str(tmp_path / "no-folder" / "out.png")
    with pytest.raises(IsADirectoryError):
        kelvane.level_file(tmp_path, tmp_path / "out.png", "mean", 31)
    (tmp_path / "folder.png").mkdir()
    with pytest.raises(IsADirectoryError) as raised:
        kelvane.level_file(tmp_path / "in.png", tmp_path / "folder.png", "mean", 31)
    assert raised.value.filename == str(tmp_path / "folder.png")
    (tmp_path / "folder.png").rmdir()
    # A damaged picture has no errno: a plain OSError with the command line's words.
    (tmp_path / "damaged.png").write_bytes((tmp_path / "in.png").read_bytes()[:40])
    with pytest.raises(OSError, match="cannot read .*damaged.png") as raised:
        kelvane.level_file(tmp_path / "damaged.png", tmp_path / "out.png", "mean", 31)
    assert raised.value.errno is None
    with pytest.raises(OSError, match="unknown picture format"):
        kelvane.level_file(tmp_path / "in.png", tmp_path / "out.xyz", "mean", 31)
    assert sorted(os.listdir(tmp_path)) == ["damaged.png", "in.png"]


def test_batches_are_checked_before_any_folder_is_made(tmp_path):
    (tmp_path / "in").mkdir()
    Image.fromarray(numpy.zeros((8, 8), numpy.uint8)).save(tmp_path / "in" / "a.png")
    for arguments, error in [((tmp_path / "in", tmp_path / "out", "meen", 9), ValueError),
                             ((tmp_path / "in", tmp_path / "out", "std_fn", 9), ValueError),
                             ((tmp_path / "nowhere", tmp_path / "out", "mean", 9), FileNotFoundError)]:
        with pytest.raises(error):
            kelvane.level_files(*arguments)
    with pytest.raises(ValueError, match="does not write 'xyz' files"):
        kelvane.level_files(tmp_path / "in", tmp_path / "out", "mean", 9, format="xyz")
    with pytest.raises(ValueError, match="workers"):
        kelvane.level_files(tmp_path / "in", tmp_path / "out", "mean", 9, workers=0)
    assert not (tmp_path / "out").exists()
    reports = kelvane.level_files([tmp_path / "in" / "a.png"], tmp_path / "out", "mean", 9, format=".tif")
    assert [os.path.basename(r.output) for r in reports] == ["a.tif"] and reports[0].written


INTERRUPTED = """
import sys, numpy, kelvane
print("started", flush=True)
kelvane.level_file(sys.argv[1], sys.argv[2], "range_fn", 61, 301, method="y709")
"""


def test_ctrl_c_cancels_a_file_and_leaves_no_output(tmp_path):
    # A picture that takes seconds to level: interrupted, no output and KeyboardInterrupt.
    rng = numpy.random.default_rng(12)
    Image.fromarray(rng.integers(0, 256, (3000, 4000, 3), dtype=numpy.uint8)).save(tmp_path / "big.tif")
    child = subprocess.Popen([sys.executable, "-c", INTERRUPTED, str(tmp_path / "big.tif"), str(tmp_path / "out.tif")],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    assert child.stdout.readline() == "started\n"
    time.sleep(0.5)
    child.send_signal(signal.SIGINT)
    _, errors = child.communicate(timeout=60)
    assert "KeyboardInterrupt" in errors
    assert sorted(os.listdir(tmp_path)) == ["big.tif"]


def test_the_stubs_describe_the_module_as_it_runs(tmp_path):
    # The copy under test, and no other: mypy looks on MYPYPATH before the installed ones.
    package_parent = os.path.dirname(os.path.dirname(kelvane.__file__))
    allowlist = os.path.join(os.path.dirname(__file__), "stubtest_allowlist.txt")
    run = subprocess.run([sys.executable, "-m", "mypy.stubtest", "kelvane", "--allowlist", allowlist], cwd=tmp_path,
                         capture_output=True,
                         text=True, env=dict(os.environ, MYPYPATH=package_parent, PYTHONPATH=package_parent,
                                             MYPY_CACHE_DIR=str(tmp_path / "cache")))
    assert run.returncode == 0, run.stdout + run.stderr


UNREADABLE = """
import sys, kelvane
try:
    kelvane.level_file(sys.argv[1], sys.argv[2], "mean", 9)
except PermissionError as e:
    print(e.errno, e.filename)
"""


def test_a_file_the_user_may_not_read_raises_permission_error(tmp_path):
    folder = tempfile.mkdtemp()
    try:
        os.chmod(folder, 0o755)
        secret = os.path.join(folder, "secret.png")
        Image.fromarray(numpy.zeros((8, 8), numpy.uint8)).save(secret)
        os.chmod(secret, 0)
        # As root every file is readable: the child runs as nobody.
        user = {"user": 65534, "group": 65534} if os.geteuid() == 0 else {}
        package_parent = os.path.dirname(os.path.dirname(kelvane.__file__))
        run = subprocess.run([sys.executable, "-c", UNREADABLE, secret, os.path.join(folder, "out.png")],
                             capture_output=True, text=True, env=dict(os.environ, PYTHONPATH=package_parent), **user)
        assert run.stdout == "%d %s\n" % (errno.EACCES, secret), run.stderr
    finally:
        shutil.rmtree(folder)
