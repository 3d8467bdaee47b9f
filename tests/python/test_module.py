"""The Python module against the command line, and on every kind of array it may be given."""
import os
import subprocess
import threading
import warnings

import numpy
import pytest
from PIL import Image

import kelvane

BINARY = os.environ["KELVANE_BINARY"]
SAMPLES = os.environ["KELVANE_SAMPLES"]
PICTURES = ["page", "text", "coffee", "moon"]


def read(path):
    return numpy.asarray(Image.open(path))


def command_line(tmp_path, picture, algorithm, *args, options=()):
    out = tmp_path / "out.png"
    run = subprocess.run([BINARY, *options, algorithm, os.path.join(SAMPLES, picture + ".png"), str(out),
                          *map(str, args)],
                         capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    return read(out)


def operations():
    """Every algorithm with one window and two, the gray ones with three gray methods."""
    for algorithm in kelvane.ALGORITHMS:
        methods = ["y709", "value", "lightness"] if algorithm.endswith("_fn") else [None]
        for method in methods:
            for windows in [(31,), (15, 101)]:
                yield algorithm, windows, method


@pytest.mark.parametrize("picture", PICTURES)
def test_every_operation_gives_the_command_lines_samples(tmp_path, picture):
    image = read(os.path.join(SAMPLES, picture + ".png"))
    for algorithm, windows, method in operations():
        args = list(windows) + ([method] if method else [])
        expected = command_line(tmp_path, picture, algorithm, *args)
        window2 = windows[1] if len(windows) == 2 else None
        leveled = kelvane.level(image, algorithm, windows[0], window2, method=method)
        assert leveled.dtype == image.dtype and leveled.shape == image.shape
        assert numpy.array_equal(expected, leveled), (picture, algorithm, windows, method)


def test_a_gain_cap_keeps_blank_paper_blank_and_text_dark(tmp_path):
    """The scanned page, window 31: uncapped, the paper right of the title turns to noise
    (its deviation 17 to 54 times the input's); with --max-gain 4 it stays within 4 times,
    and the text (pixels 40 below the mean of the 31 x 31 pixels around them) comes out as
    dark, within a level."""
    page = read(os.path.join(SAMPLES, "page.png")).astype(float)
    sums = numpy.pad(page, 15, mode="edge").cumsum(0).cumsum(1)
    local_mean = (sums[31:, 31:] - sums[:-31, 31:] - sums[31:, :-31] + sums[:-31, :-31]) / 31**2
    paper, text = (slice(0, 18), slice(300, 384)), page[1:, 1:] < local_mean - 40
    for algorithm in ["std", "minmax", "range"]:
        plain = kelvane.level(page.astype(numpy.uint8), algorithm, 31).astype(float)
        # 16.2% of the page's 191 rows: 30.9 pixels, so 31.
        capped = kelvane.level(page.astype(numpy.uint8), algorithm, "16.2%", max_gain=4).astype(float)
        assert numpy.array_equal(capped, command_line(tmp_path, "page", algorithm, 31, options=["--max-gain", "4"]))
        assert plain[paper].std() > 15 * page[paper].std(), algorithm
        assert capped[paper].std() <= 4 * page[paper].std(), algorithm
        assert capped[1:, 1:][text].mean() <= plain[1:, 1:][text].mean() + 1, algorithm


def test_sample_types_stand_for_the_same_values():
    rng = numpy.random.default_rng(1)
    codes = rng.integers(0, 256, (37, 29, 3), dtype=numpy.uint8)
    as_float = kelvane.level(codes.astype(numpy.float64) / 255, "std", 7)
    # Integer results are the floating-point ones times 255, clamped and truncated.
    assert numpy.array_equal(kelvane.level(codes, "std", 7), numpy.clip(as_float * 255, 0, 255).astype(numpy.uint8))
    as_32 = kelvane.level((codes / 255).astype(numpy.float32), "std", 7)
    assert as_32.dtype == numpy.float32
    deep = kelvane.level(codes.astype(numpy.uint16) * 257, "std", 7)
    assert numpy.array_equal(deep, numpy.clip(as_float * 65535, 0, 65535).astype(numpy.uint16))
    # float64 comes back unclamped, as the raw formats do.
    assert as_float.min() < 0 or as_float.max() > 1


def test_layouts_views_and_strides_give_the_same_result():
    rng = numpy.random.default_rng(2)
    image = rng.integers(0, 256, (60, 50, 3), dtype=numpy.uint8)
    for view in [image[::2, ::3], image[5:40, 7:33], image[::-1], image[:, :, ::-1]]:
        assert numpy.array_equal(kelvane.level(view, "range", 9), kelvane.level(numpy.ascontiguousarray(view), "range", 9))
    assert numpy.array_equal(kelvane.level(numpy.asfortranarray(image), "mean_fn", 9, method="max"),
                             kelvane.level(image, "mean_fn", 9, method="max"))
    gray = image[:, :, 0]
    assert numpy.array_equal(kelvane.level(gray, "std", 5), kelvane.level(gray[:, :, None], "std", 5)[:, :, 0])
    # Broadcast (zero-stride) arrays read fine.
    flat = numpy.broadcast_to(numpy.float64(0.25), (40, 30))
    assert numpy.array_equal(kelvane.level(flat, "mean", 5), numpy.full((40, 30), 0.25))


def test_alpha_is_kept_unless_said_otherwise():
    rng = numpy.random.default_rng(3)
    rgba = rng.integers(0, 256, (20, 24, 4), dtype=numpy.uint8)
    leveled = kelvane.level(rgba, "std_fn", 7, method="y709")
    assert numpy.array_equal(leveled[..., 3], rgba[..., 3])
    assert numpy.array_equal(leveled[..., :3], kelvane.level(numpy.ascontiguousarray(rgba[..., :3]), "std_fn", 7, method="y709"))
    assert not numpy.array_equal(kelvane.level(rgba, "std_fn", 7, method="y709", level_alpha=True)[..., 3], rgba[..., 3])
    # Gray and alpha: the gray leveled as a gray picture, alpha as it was.
    gray_alpha = rng.integers(0, 256, (20, 24, 2), dtype=numpy.uint8)
    leveled = kelvane.level(gray_alpha, "std", 7)
    assert numpy.array_equal(leveled[..., 1], gray_alpha[..., 1])
    assert numpy.array_equal(leveled[..., 0], kelvane.level(numpy.ascontiguousarray(gray_alpha[..., 0]), "std", 7))


def test_empty_and_extreme_arrays_never_crash():
    for shape in [(0, 5), (5, 0), (0, 0, 3), (4, 0, 3)]:
        assert kelvane.level(numpy.zeros(shape, numpy.uint8), "range_fn", 3, method="y709").shape == shape
    huge = numpy.full((8, 9), 1e300)
    huge[3, 3] = -1e300
    for algorithm in kelvane.ALGORITHMS:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            kelvane.level(huge, algorithm, 3, method="value" if algorithm.endswith("_fn") else None)
    with pytest.raises(ValueError, match="2 samples are not a finite number"):
        kelvane.level(numpy.array([[0.5, numpy.nan], [numpy.inf, 0.1]]), "mean", 3)


def test_threads_level_pictures_at_once():
    rng = numpy.random.default_rng(4)
    pictures = [rng.integers(0, 65536, (300, 200, 3), dtype=numpy.uint16) for _ in range(4)]
    alone = [kelvane.level(p, "range", 21, 61) for p in pictures]
    together = [None] * len(pictures)

    def work(i):
        together[i] = kelvane.level(pictures[i], "range", 21, 61)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(pictures))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(numpy.array_equal(a, b) for a, b in zip(alone, together))
