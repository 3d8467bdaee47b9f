"""kelvane levels uneven brightness and contrast in pictures.

Every pixel is moved so that the statistics of the square window around it (local mean,
standard deviation, soft minimum and maximum) take reference values: those of the whole
channel (one window) or of a second window around the same pixel (two windows). The results
are those of the command line ``kelvane``, bit for bit.

>>> import numpy, kelvane
>>> page = numpy.zeros((64, 80), numpy.uint8)
>>> kelvane.level(page, "mean", 31).shape
(64, 80)
"""
from ._kelvane import ALGORITHMS, GRAY_METHODS, __version__, is_picture_file
from ._kelvane import level as _level
from ._kelvane import level_file as _level_file
from .files import FileReport, level_files

__all__ = ["ALGORITHMS", "GRAY_METHODS", "FileReport", "is_picture_file", "level", "level_file", "level_files",
           "__version__"]


def level(image, algorithm, window, window2=None, method=None, threads=None, alpha=None, max_gain=None):
    """Level a picture held in a numpy array and return the leveled picture as a new array.

    image: an array of height x width, or height x width x channels (channels last, in the
        array's own order), of uint8, uint16, float32 or float64; any strides (views,
        slices, Fortran order). uint8 and uint16 samples stand for code / 255 and
        code / 65535 and the result is converted back as kelvane writes files (times 255 or
        65535, clamped, truncated), so leveling an array read from a file gives the
        samples of the command line's output file. float32 and float64 samples are taken
        as they are (1.0 is white) and come back unclamped. NaN and infinities are refused.
    algorithm: one of ALGORITHMS: mean, mean_fn, std, std_fn, minmax, minmax_fn, range,
        range_fn.
    window: the window in pixels, or a share of the picture's shorter side as a text such as
        "5%" (the odd number of pixels nearest to it); with window2, the statistics of
        `window` are replaced by those of `window2` around the same pixel, else by those of
        the whole channel. A negative window covers the whole picture, as on the command
        line.
    method: for the _fn algorithms, a gray method of GRAY_METHODS. They read channel 0 as
        red, 1 as green and 2 as blue: flip BGR arrays (OpenCV's) first, ``image[..., ::-1]``.
    threads: threads to level with (default: every core). The module lets go of Python's
        lock while it levels, so several pictures can be leveled at once from threads.
    alpha: the channel kept as it is, as alpha. By default the last of 2 or 4 channels, as
        in PNG files; False for none (every channel leveled), or a channel's index.
    max_gain: std, minmax and range: the largest factor by which a value's distance from its
        local reference is multiplied (at least 1), as --max-gain on the command line.

    Raises ValueError for an unknown algorithm or method or an illegal window (with the
    command line's words), TypeError for an array kelvane cannot take, MemoryError when the
    leveling would need more memory than there is.
    """
    return _level(image, algorithm, window, window2, method, threads, alpha, max_gain)


def level_file(input, output, algorithm, *args, threads=None, max_gain=None):
    """Level a picture file into another, as ``kelvane ALGORITHM INPUT OUTPUT ARGS...`` does.

    args: the window (or two windows) and, for the _fn algorithms, the gray method, as on
        the command line: ``level_file("scan.png", "even.png", "std_fn", 41, "y709")``.
    max_gain: as for level().
    The output's format follows its extension; an existing output is replaced only once the
    new file is complete. Raises ValueError for what the command line warns about, OSError
    for a file that cannot be read or written.
    """
    _level_file(str(input), str(output), algorithm, *args, threads=threads, max_gain=max_gain)
