"""Leveling many picture files: a folder, or a list of files, into an output folder."""
import os
import time
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass
from typing import List, Optional, Tuple

from ._kelvane import is_picture_file
from ._kelvane import level_file as _level_file


@dataclass
class FileReport:
    """What became of one picture."""

    input: str
    output: str
    written: bool  # the output was written
    skipped: bool = False  # an output newer than its input was left as it was
    error: Optional[str] = None  # why the picture was not leveled: the command line's words
    seconds: float = 0.0


def files_below(folder, output_folder):
    """The files in a folder and its folders, sorted, leaving out the output folder."""
    outputs = os.path.realpath(output_folder)
    files = []
    for parent, subfolders, names in os.walk(folder):
        subfolders[:] = sorted(d for d in subfolders if os.path.realpath(os.path.join(parent, d)) != outputs)
        files += [os.path.join(parent, n) for n in sorted(names)]
    return [f for f in files if os.path.isfile(f)]


def plan(inputs, output_folder, format=None) -> List[Tuple[str, str]]:
    """The pictures to level and where each goes.

    inputs: a folder, whose pictures (recursively) keep their paths relative to it, or files,
    which keep theirs relative to the folder they have in common. format: an extension that
    every output takes instead of its input's. Raises ValueError where an output would be
    its own input.
    """
    output_folder = os.fspath(output_folder)
    if isinstance(inputs, (str, bytes, os.PathLike)) and os.path.isdir(inputs):
        root = os.fspath(inputs)
        files = [f for f in files_below(root, output_folder) if is_picture_file(f)]
    else:
        files = [os.fspath(f) for f in ([inputs] if isinstance(inputs, (str, os.PathLike)) else inputs)]
        root = os.path.commonpath([os.path.dirname(os.path.abspath(f)) for f in files]) if files else "."
    jobs = []
    for f in files:
        target = os.path.join(output_folder, os.path.relpath(os.path.abspath(f), os.path.abspath(root)))
        if format:
            target = os.path.splitext(target)[0] + "." + format.lstrip(".")
        if os.path.realpath(target) == os.path.realpath(f):
            # Leveled in place, every run would level the pictures again.
            raise ValueError("cannot write %s: it is the input folder, whose pictures would be replaced; "
                             "name another folder" % output_folder)
        jobs.append((f, target))
    return jobs


def level_one(input, output, algorithm, args, threads=None, skip_existing=False, max_gain=None) -> FileReport:
    """Level one picture file into another, reporting any failure instead of raising it."""
    start = time.perf_counter()
    if skip_existing and os.path.exists(output) and os.path.getmtime(output) > os.path.getmtime(input):
        return FileReport(input, output, written=False, skipped=True)
    try:
        os.makedirs(os.path.dirname(output) or ".", exist_ok=True)
        _level_file(input, output, algorithm, *args, threads=threads, max_gain=max_gain)
        return FileReport(input, output, written=True, seconds=time.perf_counter() - start)
    except (OSError, ValueError, MemoryError) as e:
        return FileReport(input, output, written=False, error=str(e), seconds=time.perf_counter() - start)


def level_files(inputs, output_folder, algorithm, *args, workers=None, format=None, skip_existing=False,
                max_gain=None):
    """Level many pictures on this machine, several at once, and report on every one.

    inputs, output_folder, format: as for plan(). args: the window (or two) and, for the _fn
    algorithms, the gray method, as on the command line. workers: pictures leveled at once
    (default: one a core), each with its share of the cores. A picture that fails does not
    stop the others: its report holds the error. Returns a list of FileReport, in the order
    of the pictures. max_gain: as for kelvane.level().
    """
    jobs = plan(inputs, output_folder, format)
    workers = workers or os.cpu_count() or 1
    threads = max(1, (os.cpu_count() or 1) // workers)
    with ThreadPoolExecutor(max_workers=workers) as pool:
        return list(pool.map(lambda job: level_one(job[0], job[1], algorithm, args, threads, skip_existing, max_gain), jobs))
