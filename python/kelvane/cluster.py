"""Leveling an archive of pictures on a Dask cluster (Debian's python3-distributed).

Every picture is one task, run by a worker straight from the shared storage to the shared
storage, with kelvane's atomic save: an output is either the whole new file or not there.
A task whose worker dies is run again on another one. Workers need kelvane installed.

    python3 -m kelvane.cluster --scheduler tcp://HOST:8786 ALGORITHM INPUT_FOLDER OUTPUT_FOLDER WINDOW [WINDOW2] [METHOD]
"""
import argparse
import os
import sys
import time

from . import _checks, _kelvane
from .files import FileReport, _arguments_of, files_below, _level_one, plan

__all__ = ["level_files", "main"]


def level_files(inputs, output_folder, algorithm, window, window2=None, *, client, method=None, max_gain=None,
                level_alpha=False, format=None, skip_existing=False, jpeg_quality=None, png_compression=None,
                tiff_compression=None, jpeg_subsampling=None, webp=None):
    """Level many pictures on the workers of a dask.distributed Client; report on every one.

    Parameters
    ----------
    client : distributed.Client
        The cluster's client. Every picture is a task, leveled on one thread of a worker.
    inputs, output_folder, algorithm, window, window2, method, max_gain, level_alpha, format,
    skip_existing, jpeg_quality, png_compression, tiff_compression, jpeg_subsampling, webp
        As for `kelvane.level_files`; all are checked before a task is sent.

    Returns
    -------
    list of FileReport
        One a picture, in order. A picture that fails is reported with its error (and not
        tried again); one whose worker died is run again on another worker, up to the
        scheduler's allowed failures.
    """
    arguments = _arguments_of(algorithm, window, window2, method, max_gain, level_alpha,
                             (jpeg_quality, png_compression, tiff_compression, jpeg_subsampling, webp))
    skip = _checks.flag(skip_existing, "skip_existing")
    jobs = plan(inputs, output_folder, _checks.output_format(format))
    futures = [client.submit(_level_one, i, o, arguments, 1, skip, pure=False) for i, o in jobs]
    reports = []
    for (i, o), future in zip(jobs, futures):
        try:
            reports.append(future.result())
        except Exception as e:  # the task could not be run: its workers kept dying, say
            reports.append(FileReport(i, o, written=False, error="cannot level " + i + ": " + str(e)))
    return reports


def main(argv=None):
    """The command line: ``python3 -m kelvane.cluster --scheduler ADDRESS ALGORITHM IN OUT ARGS...``."""
    parser = argparse.ArgumentParser(prog="python3 -m kelvane.cluster",
                                     description="Level every picture of a folder on a Dask cluster.")
    parser.add_argument("--scheduler", required=True, help="the scheduler's address, tcp://HOST:8786")
    parser.add_argument("--format", help="the outputs' extension instead of each input's")
    parser.add_argument("--skip-existing", action="store_true", help="leave outputs newer than their inputs")
    parser.add_argument("--max-gain", type=float, help="std, minmax, range: the largest stretch factor (at least 1)")
    parser.add_argument("--level-alpha", action="store_true", help="level alpha like a colour")
    parser.add_argument("algorithm")
    parser.add_argument("input_folder")
    parser.add_argument("output_folder")
    parser.add_argument("args", nargs="+", help="the window (or two), and the gray method of the _fn algorithms")
    options = parser.parse_args(argv)
    words = list(options.args)
    method = words.pop() if options.algorithm in _checks.ALGORITHMS and _checks._TAKES_METHOD[options.algorithm] \
        and words else None
    if not 1 <= len(words) <= 2:
        parser.error("%s takes one window or two%s" % (options.algorithm, " and a gray method" if method else ""))
    from distributed import Client

    start = time.perf_counter()
    with Client(options.scheduler) as client:
        reports = level_files(options.input_folder, options.output_folder, options.algorithm, *words,
                              client=client, method=method, format=options.format,
                              skip_existing=options.skip_existing, max_gain=options.max_gain,
                              level_alpha=options.level_alpha)
    for report in reports:
        if report.error:
            print("Error: " + report.error, file=sys.stderr)
    written = sum(r.written for r in reports)
    failed = sum(r.error is not None for r in reports)
    skipped = sum(r.skipped for r in reports)
    summary = "Leveled %d pictures, %d failed, %d skipped, in %.1f s." % (written, failed, skipped,
                                                                         time.perf_counter() - start)
    if os.path.isdir(options.input_folder):
        others = sum(not _kelvane.is_picture_file(os.fsencode(f))
                     for f in files_below(options.input_folder, options.output_folder))
        if others:
            summary += " %d %s not a picture." % (others, "file was" if others == 1 else "files were")
    print(summary)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
