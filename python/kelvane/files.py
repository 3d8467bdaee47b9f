"""Leveling picture files: one into another, or many into an output folder."""
import errno
import os
import time
import typing
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass
from typing import List, Optional, Tuple

from . import _checks, _kelvane


@dataclass
class FileReport:
    """What became of one picture file.

    Attributes
    ----------
    input, output : str
        The picture and the file written (or that would have been).
    written : bool
        The output was written.
    skipped : bool
        An output newer than its input was left as it was.
    error : str or None
        Why the picture was not leveled: the command line's words.
    seconds : float
        How long it took.
    channel_by_channel : bool
        A gray algorithm met a picture without red, green and blue and leveled it channel
        by channel.
    """

    input: str
    output: str
    written: bool
    skipped: bool = False
    error: Optional[str] = None
    seconds: float = 0.0
    channel_by_channel: bool = False


def level_file(input, output, algorithm, window, window2=None, *, method=None, max_gain=None, level_alpha=False,
               threads=None, jpeg_quality=None, png_compression=None, tiff_compression=None, jpeg_subsampling=None,
               webp=None):
    """Level a picture file into another, as ``kelvane ALGORITHM INPUT OUTPUT WINDOW...`` does.

    Every page is leveled; metadata travels as the command line carries it. The output's
    format follows its extension, and an existing output is replaced only once the new file
    is complete: a failure, or Ctrl-C, leaves it as it was.

    Parameters
    ----------
    input, output : str, bytes or os.PathLike
        The picture file and the file to write.
    algorithm, window, window2, method, max_gain, level_alpha, threads
        As for `kelvane.level`.
    jpeg_quality : int, optional
        1 to 100 (default 100), for JPEG outputs and lossy WebP and HEIF ones.
    png_compression : int, optional
        zlib level of PNG outputs, 0 to 9 (default 2).
    tiff_compression : str, optional
        "none", "lzw", "zip" or "packbits" (default: a TIFF input's own, else none).
    jpeg_subsampling : str, optional
        "4:4:4" or "4:2:0" (default: a JPEG input's own, else by quality).
    webp : str, optional
        "lossless" or "lossy" (default: a WebP input's own kind, else lossy).

    Returns
    -------
    FileReport
        What was written, and in how long.

    Raises
    ------
    FileNotFoundError, PermissionError, OSError
        A file that cannot be read or written, with its errno and filename where the system
        refused it; the message is the command line's.
    TypeError, ValueError, MemoryError
        As for `kelvane.level`; every argument is checked before the file is opened.

    Warns
    -----
    UserWarning
        As for `kelvane.level`.
    """
    operation = _checks.operation(algorithm, window, window2, method, max_gain, level_alpha)
    thread_count = _checks.threads(threads)
    encoding = _checks.encoding(jpeg_quality, png_compression, tiff_compression, jpeg_subsampling, webp)
    source, target = _checks.path(input, "input"), _checks.path(output, "output")
    start = time.perf_counter()
    notes, channel_by_channel = _kelvane.level_file(source, target, *operation, thread_count, *encoding)
    _checks.warn(operation, notes, channel_by_channel)
    return FileReport(os.fsdecode(source), os.fsdecode(target), written=True, seconds=time.perf_counter() - start,
                      channel_by_channel=channel_by_channel)


class _Plan(typing.NamedTuple):
    """The pictures of a batch and where each goes, and the files that were not pictures."""

    jobs: List[Tuple[str, str]]
    not_pictures: int


def _plan(inputs, output_folder, format=None) -> _Plan:
    """The pictures to level and where each goes.

    inputs: a folder, whose pictures (recursively, hidden files and folders left out) keep
    their paths relative to it, or files, which keep theirs relative to the folder they have
    in common. format: an extension that every output takes instead of its input's. Raises
    FileNotFoundError for an input that is not there, ValueError where an output would be
    its own input or two inputs one output.
    """
    output_folder = _checks.path(output_folder, "output_folder")
    extension = (format or "").encode()
    not_pictures = 0
    if isinstance(inputs, (str, bytes, os.PathLike)) and os.path.isdir(inputs):
        root = _checks.path(inputs, "inputs")
        if os.path.realpath(root) == os.path.realpath(output_folder):
            raise ValueError("cannot write %s: it is the input folder, whose pictures would be replaced; "
                             "name another folder" % os.fsdecode(output_folder))
        found, not_pictures, collisions = _kelvane.plan_folder(root, output_folder, format or "")
        jobs = [(os.fsdecode(i), os.fsdecode(o)) for i, o in found]
    else:
        files = [_checks.path(f, "inputs") for f in ([inputs] if isinstance(inputs, (str, bytes, os.PathLike))
                                                     else inputs)]
        for f in files:
            if not os.path.lexists(f):
                raise FileNotFoundError(errno.ENOENT, "cannot read %s: No such file or directory" % os.fsdecode(f),
                                        os.fsdecode(f))
        root = os.path.commonpath([os.path.dirname(os.path.abspath(f)) for f in files]) if files else b"."
        pairs = []
        for f in files:
            target = os.path.join(output_folder, os.path.relpath(os.path.abspath(f), root))
            if extension:
                target = os.path.splitext(target)[0] + b"." + extension
            if os.path.realpath(target) == os.path.realpath(f):
                raise ValueError("cannot write %s: it is the input folder, whose pictures would be replaced; "
                                 "name another folder" % os.fsdecode(output_folder))
            pairs.append((f, target))
        collisions = _kelvane.colliding_outputs(pairs, output_folder)
        jobs = [(os.fsdecode(i), os.fsdecode(o)) for i, o in pairs]
    if collisions:
        raise ValueError("two pictures would be written to one output: " + "; ".join(
            "%s and %s to %s" % (os.fsdecode(a), os.fsdecode(b), os.fsdecode(o)) for a, b, o in collisions))
    return _Plan(jobs, not_pictures)


def _newer(a, b):
    """Whether file a was changed after file b (False where either is missing)."""
    try:
        return os.path.getmtime(a) > os.path.getmtime(b)
    except OSError:
        return False


def _level_one(input, output, arguments, threads, skip_existing=False, stop=None) -> FileReport:
    """Level one picture file into another, reporting any failure instead of raising it.

    arguments: the operation and the encoding as the extension takes them, checked. stop: a
    _kelvane.StopFlag that cancels the leveling once set.
    """
    start = time.perf_counter()
    if skip_existing and _newer(output, input):
        return FileReport(input, output, written=False, skipped=True)
    operation, encoding = arguments
    try:
        os.makedirs(os.path.dirname(output) or ".", exist_ok=True)
        _, channel_by_channel = _kelvane.level_file(os.fsencode(input), os.fsencode(output), *operation, threads,
                                                    *encoding, stop=stop)
        return FileReport(input, output, written=True, seconds=time.perf_counter() - start,
                          channel_by_channel=channel_by_channel)
    except OSError as e:
        message = e.strerror if e.errno else str(e)
        return FileReport(input, output, written=False, error=message, seconds=time.perf_counter() - start)
    except (ValueError, MemoryError, KeyboardInterrupt) as e:
        return FileReport(input, output, written=False, error=str(e), seconds=time.perf_counter() - start)


def _arguments_of(algorithm, window, window2, method, max_gain, level_alpha, encoding_options):
    """The operation and encoding of a batch, checked before any file is read."""
    operation = _checks.operation(algorithm, window, window2, method, max_gain, level_alpha)
    return operation, _checks.encoding(*encoding_options)


def level_files(inputs, output_folder, algorithm, window, window2=None, *, method=None, max_gain=None,
                level_alpha=False, threads=None, workers=None, format=None, skip_existing=False, jpeg_quality=None,
                png_compression=None, tiff_compression=None, jpeg_subsampling=None, webp=None):
    """Level many pictures on this machine, several at once, and report on every one.

    Parameters
    ----------
    inputs : str, bytes, os.PathLike, or an iterable of them
        A folder, whose pictures (in it and its folders) keep their paths relative to it, or
        picture files, which keep theirs relative to the folder they have in common.
    output_folder : str, bytes or os.PathLike
        Where the outputs go; it is made where missing, and cannot be the input folder.
    algorithm, window, window2, method, max_gain, level_alpha
        As for `kelvane.level`.
    threads : int, optional
        Threads in all, counted as for `kelvane.level` (default: every core).
    workers : int, optional
        Pictures leveled at once (default: one a thread), each with its share of the threads.
    format : str, optional
        An extension every output takes instead of its input's ("png", ".tif").
    skip_existing : bool, default False
        Leave an output that is newer than its input as it is.
    jpeg_quality, png_compression, tiff_compression, jpeg_subsampling, webp
        As for `kelvane.level_file`.

    Returns
    -------
    list of FileReport
        One a picture, in the order of the pictures. A picture that fails does not stop the
        others: its report holds the error.

    Raises
    ------
    TypeError, ValueError
        For any argument, before a file is read or a folder is made.
    FileNotFoundError
        An input that is not there.
    """
    arguments = _arguments_of(algorithm, window, window2, method, max_gain, level_alpha,
                             (jpeg_quality, png_compression, tiff_compression, jpeg_subsampling, webp))
    total = _checks.threads(threads) or _checks.cores()
    if workers is not None and (isinstance(workers, bool) or not isinstance(workers, int)):
        raise TypeError("workers must be an int or None, not %s" % type(workers).__name__)
    if workers is not None and workers < 1:
        raise ValueError("workers must be at least 1, not %d" % workers)
    skip = _checks.flag(skip_existing, "skip_existing")
    jobs = _plan(inputs, output_folder, _checks.output_format(format)).jobs
    workers = workers or total
    each = max(1, total // workers)
    # Ctrl-C reaches the calling thread only: it stops the pictures under way and the rest.
    stop = _kelvane.StopFlag()
    pool = ThreadPoolExecutor(max_workers=workers)
    try:
        futures = [pool.submit(_level_one, i, o, arguments, each, skip, stop) for i, o in jobs]
        return [future.result() for future in futures]
    except BaseException:
        stop.set()
        pool.shutdown(wait=True, cancel_futures=True)
        raise
    finally:
        pool.shutdown(wait=True)
