"""Checks of the arguments kelvane's functions take, made before any work.

A value of the wrong type raises TypeError; a value of the right type that names nothing
kelvane knows raises ValueError, with the valid choices in its message.
"""
import numbers
import operator
import os
import warnings
import typing
from typing import Optional

import numpy

from . import _kelvane

ALGORITHMS = tuple(name for name, _, _, _ in _kelvane.algorithm_info)
GRAY_METHODS = tuple(name for name, _ in _kelvane.gray_method_info)
WRITABLE_EXTENSIONS = tuple(_kelvane.writable_extensions)
_TAKES_METHOD = {name: takes for name, _, takes, _ in _kelvane.algorithm_info}
_STRETCHES = {name: stretches for name, _, _, stretches in _kelvane.algorithm_info}
_SAMPLE_TYPES: tuple = (numpy.uint8, numpy.uint16, numpy.float32, numpy.float64)


def _listed(names):
    return ", ".join(names)


def _type_name(value):
    return type(value).__name__


class Operation(typing.NamedTuple):
    """An operation as the extension takes it: windows as the command line's texts."""

    algorithm: str
    window: str
    window2: Optional[str]
    method: str
    level_alpha: bool
    max_gain: float

    def notes(self, width=0, height=0):
        """The library's notes on windows of one pixel, on a picture of that size if given."""
        return _kelvane.notes_on(self.algorithm, self.window, self.window2, self.method, width, height)

    def stretches(self):
        return _STRETCHES[self.algorithm]


def _window(value, name):
    if isinstance(value, str):
        if value in GRAY_METHODS:
            raise ValueError("%s=%r is a gray method, not a window: pass it as method=%r" % (name, value, value))
        try:
            return _kelvane.window_text(value)
        except ValueError:
            raise ValueError("illegal %s %r: give a whole number of pixels (31; a negative one covers the "
                             "whole picture) or a share of the shorter side such as '5%%'" % (name, value)) from None
    pixels = _integer(value, name, "an int (pixels) or a str such as '5%'")
    return _kelvane.window_text(str(pixels))


def _max_gain(value):
    if value is None:
        return float("inf")
    if isinstance(value, (bool, numpy.bool_)) or not isinstance(value, numbers.Real):
        raise TypeError("max_gain must be a real number of at least 1, not %s" % _type_name(value))
    gain = float(value)
    if not gain >= 1.0:
        raise ValueError("max_gain must be at least 1 (a factor that never shrinks), not %r" % value)
    return gain


def flag(value, name):
    if not isinstance(value, (bool, numpy.bool_)):
        raise TypeError("%s must be True or False, not %s" % (name, _type_name(value)))
    return bool(value)


def operation(algorithm, window, window2=None, method=None, max_gain=None, level_alpha=False):
    """The operation, checked: every argument named as the public functions name it."""
    if not isinstance(algorithm, str):
        raise TypeError("algorithm must be a str, one of %s; not %s" % (_listed(ALGORITHMS), _type_name(algorithm)))
    if algorithm not in ALGORITHMS:
        raise ValueError("unknown algorithm %r: choose one of %s" % (algorithm, _listed(ALGORITHMS)))
    first = _window(window, "window")
    second = None if window2 is None else _window(window2, "window2")
    if method is not None and not isinstance(method, str):
        raise TypeError("method must be a str, one of %s; not %s" % (_listed(GRAY_METHODS), _type_name(method)))
    if _TAKES_METHOD[algorithm]:
        if method is None:
            raise ValueError("%s needs a gray method: method= one of %s" % (algorithm, _listed(GRAY_METHODS)))
        if method not in GRAY_METHODS:
            raise ValueError("unknown gray method %r: choose one of %s" % (method, _listed(GRAY_METHODS)))
    elif method is not None:
        raise ValueError("%s takes no gray method (its gray form %s_fn does)" % (algorithm, algorithm))
    return Operation(algorithm, first, second, method or "", flag(level_alpha, "level_alpha"), _max_gain(max_gain))


def cores():
    """The cores this process may run on."""
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:
        return os.cpu_count() or 1


def threads(value):
    """Threads as the library takes them, 0 for every core: None, 0 and -1 are every core,
    -2 all but one, and so on, as joblib counts."""
    if value is None:
        return 0
    count = _integer(value, "threads", "an int or None")
    if count >= 0:
        return count
    left = cores() + 1 + count
    if left < 1:
        raise ValueError("threads=%d leaves no thread on %d cores: give None, 0 or -1 for every core, or a "
                         "positive number" % (count, cores()))
    return left


def path(value, name):
    """A path as the file system's bytes; str, bytes and os.PathLike are taken."""
    try:
        return os.fsencode(value)
    except TypeError:
        raise TypeError("%s must be a path (str, bytes or os.PathLike), not %s" % (name, _type_name(value))) from None


def _choice(value, name, choices, default):
    if value is None:
        return default
    if not isinstance(value, str):
        raise TypeError("%s must be a str, one of %s; not %s" % (name, _listed(choices), _type_name(value)))
    if value not in choices:
        raise ValueError("unknown %s %r: choose one of %s" % (name, value, _listed(choices)))
    return value


def _integer(value, name, expected):
    """An integer argument as an int; a bool, though Python counts it as one, is refused."""
    if isinstance(value, (bool, numpy.bool_)):
        raise TypeError("%s must be %s, not bool" % (name, expected))
    try:
        return operator.index(value)
    except TypeError:
        raise TypeError("%s must be %s, not %s" % (name, expected, _type_name(value))) from None


def _whole(value, name, low, high, default):
    if value is None:
        return default
    number = _integer(value, name, "an int")
    if not low <= number <= high:
        raise ValueError("%s must be from %d to %d, not %d" % (name, low, high, number))
    return number


def encoding(jpeg_quality=None, png_compression=None, tiff_compression=None, jpeg_subsampling=None, webp=None):
    """The file outputs' encoding options as the extension takes them, in that order."""
    return (_whole(jpeg_quality, "jpeg_quality", 1, 100, 100),
            _whole(png_compression, "png_compression", 0, 9, 2),
            _choice(tiff_compression, "tiff_compression", ("none", "lzw", "zip", "packbits"), ""),
            _choice(jpeg_subsampling, "jpeg_subsampling", ("4:4:4", "4:2:0"), ""),
            _choice(webp, "webp", ("lossless", "lossy"), ""))


def output_format(value):
    """An extension every output takes (without its dot), or None to keep each input's."""
    if value is None:
        return None
    if not isinstance(value, str):
        raise TypeError("format must be a str such as 'png', not %s" % _type_name(value))
    extension = value[1:] if value.startswith(".") else value
    if extension.lower() not in WRITABLE_EXTENSIONS:
        raise ValueError("kelvane does not write %r files: choose one of %s" % (value, _listed(WRITABLE_EXTENSIONS)))
    return extension


def native_samples(array):
    """The array in native byte order, of a sample type kelvane levels."""
    if array.dtype.type not in _SAMPLE_TYPES:
        hint = ": give the depth, numpy.asarray(image, numpy.uint8) or numpy.uint16" if array.dtype.kind in "iub" else ""
        raise TypeError("kelvane levels arrays of uint8, uint16, float32 or float64, not %s%s" % (array.dtype, hint))
    if not array.dtype.isnative:
        array = array.astype(array.dtype.type)
    return array


def channel_axis(array, axis, algorithm, name="image"):
    """The axis that holds the channels, as a non-negative index, or None for a gray array."""
    if array.ndim == 2:
        return None
    if array.ndim != 3:
        raise ValueError("%s must have 2 dimensions (gray) or 3 (with channels), not %d" % (name, array.ndim))
    if axis is None:
        raise ValueError("%s has 3 dimensions but channel_axis is None: say which axis holds its channels "
                         "(-1 for height x width x channels, 0 for channels x height x width)" % name)
    axis = _integer(axis, "channel_axis", "an int or None")
    if not -3 <= axis < 3:
        raise ValueError("channel_axis=%d is not an axis of a 3-dimensional array" % axis)
    axis %= 3
    channels = array.shape[axis]
    if channels > 4:
        raise ValueError("channel_axis=%d holds %d entries, but kelvane levels 1 to 4 channels: is another axis "
                         "the channels' (channel_axis=0 for channels x height x width)?" % (axis, channels))
    if _TAKES_METHOD[algorithm] and channels not in (3, 4):
        raise ValueError("%s levels red, green and blue (and alpha): channel_axis=%d holds %d entries, not 3 or 4"
                         % (algorithm, axis, channels))
    return axis


def output_array(out, image):
    """`out` checked against the image it receives."""
    if not isinstance(out, numpy.ndarray):
        raise TypeError("out must be a numpy.ndarray, not %s" % _type_name(out))
    if out.shape != image.shape:
        raise ValueError("out has shape %s, the image %s" % (out.shape, image.shape))
    if out.dtype.type not in _SAMPLE_TYPES:
        raise TypeError("out must hold uint8, uint16, float32 or float64, not %s" % out.dtype)
    if not out.dtype.isnative:
        raise ValueError("out must be in the machine's byte order")
    if not out.flags.writeable:
        raise ValueError("out is a read-only array")
    return out


def warn(operation, notes, channel_by_channel):
    """The command line's notes and warnings, as Python warnings of the public call's caller."""
    if operation.max_gain != float("inf") and not operation.stretches():
        warnings.warn("%s moves values without stretching them, so max_gain changes nothing" % operation.algorithm,
                      stacklevel=3)
    for note in notes:
        warnings.warn(note, stacklevel=3)
    if channel_by_channel:
        warnings.warn("image does not have 3 channels: %s leveled each channel on its own" % operation.algorithm,
                      stacklevel=3)
