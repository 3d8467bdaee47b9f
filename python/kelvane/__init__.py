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
import numpy

from . import _checks, _kelvane
from ._checks import ALGORITHMS, GRAY_METHODS, WRITABLE_EXTENSIONS
from .files import FileReport, level_file, level_files

__all__ = ["ALGORITHMS", "GRAY_METHODS", "PRESETS", "WRITABLE_EXTENSIONS", "FileReport", "is_picture_file", "level",
           "level_file", "level_files", "__version__"]
__version__ = _kelvane.version

#: Settings the quality benchmark found best for a kind of picture, by name, as the keyword
#: arguments of level, level_file and level_files: ``kelvane.level(page, **kelvane.PRESETS["document"])``.
#: The command line's ``--preset`` and the preview page offer the same names.
PRESETS = {name: settings for name, _, settings in _kelvane.presets}


def level(image, algorithm, window, window2=None, *, method=None, max_gain=None, level_alpha=False, threads=None,
          channel_axis=-1, out=None):
    """Level a picture held in an array.

    Parameters
    ----------
    image : array_like
        A gray picture of height x width, or one with channels along `channel_axis` (1 to 4
        of them; the last of 2 or 4 is alpha, kept as it is). Samples of uint8, uint16,
        float32 or float64, in either byte order, with any strides. uint8 and uint16 samples
        stand for code / 255 and code / 65535 and come back as kelvane writes files (times
        255 or 65535, clamped, truncated), so an array read from a file gives the samples of
        the command line's output file. Floating-point samples are taken as they are (1.0 is
        white) and come back unclamped; NaN and infinities are refused.
    algorithm : str
        One of `ALGORITHMS`: mean, mean_fn, std, std_fn, minmax, minmax_fn, range, range_fn.
    window : int or str
        The window in pixels (a negative number covers the whole picture), or a share of the
        picture's shorter side such as ``"5%"``. Its statistics are replaced by those of the
        whole channel, or with `window2` by those of `window2` around the same pixel.
    window2 : int or str, optional
        The second window, as `window`.
    method : str, optional
        For the _fn algorithms, and only for them: a gray method of `GRAY_METHODS`. They
        read the channels as red, green and blue: flip an OpenCV (BGR) array first,
        ``image[..., ::-1]``.
    max_gain : float, optional
        std, minmax and range: the largest factor by which a value's distance from its local
        reference is multiplied (at least 1), as ``--max-gain`` on the command line.
    level_alpha : bool, default False
        Level alpha like a colour instead of keeping it.
    threads : int, optional
        Threads to level with. None, 0 and -1 take every core, -2 all but one (as joblib
        counts). Python's lock is let go while the picture is leveled, so pictures can be
        leveled at once from threads of their own.
    channel_axis : int or None, default -1
        The axis of a 3-dimensional image that holds its channels, as in scikit-image; None
        for gray pictures only.
    out : numpy.ndarray, optional
        The array to write the result into: of the image's shape, of any of the four sample
        types. It may be the image itself (leveled in place), but no other array that shares
        its memory.

    Returns
    -------
    numpy.ndarray
        The leveled picture, of the image's shape and type; `out` where given.

    Raises
    ------
    TypeError
        An argument of the wrong type, or samples of a type kelvane does not level.
    ValueError
        An unknown algorithm or method, an illegal window, a gain below 1, channels kelvane
        cannot take, non-finite samples. The message lists the valid choices.
    MemoryError
        The leveling would need more memory than there is.

    Warns
    -----
    UserWarning
        The command line's notes: a window of one pixel, a gain given to mean, a gray
        algorithm leveling a picture without red, green and blue channel by channel.
    """
    operation = _checks.operation(algorithm, window, window2, method, max_gain, level_alpha)
    thread_count = _checks.threads(threads)
    array = _checks.native_samples(numpy.asarray(image))
    axis = _checks.channel_axis(array, channel_axis, operation.algorithm)
    target = None if out is None else _checks.output_array(out, array)
    picture = array if axis in (None, 2) else numpy.moveaxis(array, axis, -1)
    if target is None and axis not in (None, 2):
        # A new array in the image's own layout, written through a view of its channels last.
        target = numpy.empty(array.shape, array.dtype)
    into = None if target is None else (target if axis in (None, 2) else numpy.moveaxis(target, axis, -1))
    result, channel_by_channel = _kelvane.level_array(picture, into, *operation, thread_count)
    _checks.warn(operation, operation.notes(picture.shape[1], picture.shape[0]), channel_by_channel)
    return result if target is None else target


def is_picture_file(path):
    """Whether the file looks like a picture kelvane reads, from its first bytes.

    Parameters
    ----------
    path : str, bytes or os.PathLike

    Returns
    -------
    bool
    """
    return _kelvane.is_picture_file(_checks.path(path, "path"))
