"""Leveling an archive of pictures on a Dask cluster (Debian's python3-distributed).

Every picture is one task, run by a worker straight from the shared storage to the shared
storage, with kelvane's atomic save: an output is either the whole new file or not there.
A task whose worker dies is run again on another one. Workers need kelvane installed.

    python3 -m kelvane.cluster --scheduler tcp://HOST:8786 [--timeout S] ALGORITHM INPUT_FOLDER OUTPUT_FOLDER
        WINDOW [WINDOW2] [METHOD]
"""
import argparse
import os
import sys
import time

from . import _checks
from .files import FileReport, _arguments_of, _level_one, _plan

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
    jobs = _plan(inputs, output_folder, _checks.output_format(format)).jobs
    return _run_tasks(client, jobs, arguments, skip, [])


def _run_tasks(client, jobs, arguments, skip, reports):
    """Sends a task a picture and gathers their reports into `reports`, in order."""
    futures = [client.submit(_level_one, i, o, arguments, 1, skip, pure=False) for i, o in jobs]
    try:
        for (i, o), future in zip(jobs, futures):
            try:
                reports.append(future.result())
            except Exception as e:  # the task could not be run: its workers kept dying, say
                reports.append(FileReport(i, o, written=False, error="cannot level " + i + ": " + str(e)))
    except BaseException:
        client.cancel(futures)
        raise
    return reports


def main(argv=None):
    """The command line: ``python3 -m kelvane.cluster --scheduler ADDRESS ALGORITHM IN OUT ARGS...``."""
    parser = argparse.ArgumentParser(prog="python3 -m kelvane.cluster",
                                     description="Level every picture of a folder on a Dask cluster.")
    parser.add_argument("--scheduler", required=True, help="the scheduler's address, tcp://HOST:8786")
    parser.add_argument("--timeout", type=float, default=10.0,
                        help="seconds to wait for the scheduler before giving up (default 10)")
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
    takes_method = options.algorithm in _checks.ALGORITHMS and _checks._TAKES_METHOD[options.algorithm]
    method = words.pop() if takes_method and words else None
    if not 1 <= len(words) <= 2:
        parser.error("%s takes one window or two%s" % (options.algorithm, " and a gray method" if takes_method else ""))
    try:
        arguments = _arguments_of(options.algorithm, words[0], words[1] if len(words) == 2 else None, method,
                                  options.max_gain, options.level_alpha, (None,) * 5)
        skip = options.skip_existing
        plan = _plan(options.input_folder, options.output_folder, _checks.output_format(options.format))
    except (ValueError, TypeError, OSError) as e:
        print("Error: " + (e.strerror if isinstance(e, OSError) and e.errno else str(e)), file=sys.stderr)
        return 2 if isinstance(e, (ValueError, TypeError)) else 1
    from distributed import Client

    start = time.perf_counter()
    reports = []
    try:
        client = Client(options.scheduler, timeout=options.timeout)
    except (OSError, TimeoutError) as e:
        print("Error: cannot reach the scheduler at %s within %g s: %s" % (options.scheduler, options.timeout, e),
              file=sys.stderr)
        return 1
    try:
        with client:
            _run_tasks(client, plan.jobs, arguments, skip, reports)
    except KeyboardInterrupt:
        print("Interrupted: leveled %d of %d pictures, %d failed." % (
            sum(r.written for r in reports), len(plan.jobs), sum(r.error is not None for r in reports)))
        return 130
    for report in reports:
        if report.error:
            print("Error: " + report.error, file=sys.stderr)
    written = sum(r.written for r in reports)
    failed = sum(r.error is not None for r in reports)
    skipped = sum(r.skipped for r in reports)
    summary = "Leveled %d picture%s, %d failed, %d skipped, in %.1f s." % (
        written, "" if written == 1 else "s", failed, skipped, time.perf_counter() - start)
    if plan.not_pictures:
        summary += " %d %s not a picture." % (plan.not_pictures,
                                               "file was" if plan.not_pictures == 1 else "files were")
    print(summary)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
