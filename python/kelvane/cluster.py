"""Leveling an archive of pictures on a Dask cluster (Debian's python3-distributed).

Every picture is one task, run by a worker straight from the shared storage to the shared
storage, with kelvane's atomic save: an output is either the whole new file or not there.
A task whose worker dies is run again on another one. Workers need kelvane installed.

    python3 -m kelvane.cluster --scheduler tcp://HOST:8786 ALGORITHM INPUT_FOLDER OUTPUT_FOLDER ARGS...
"""
import argparse
import os
import sys
import time

from ._kelvane import is_picture_file
from .files import FileReport, files_below, level_one, plan

__all__ = ["level_files", "main"]


def level_files(inputs, output_folder, algorithm, *args, client, format=None, skip_existing=False, max_gain=None):
    """Level many pictures on the workers of a dask.distributed Client; report on every one.

    As kelvane.level_files, the pictures being tasks of the cluster. A picture that fails is
    reported with its error (and not tried again); one whose worker died is run again on
    another worker, up to the scheduler's allowed failures.
    """
    jobs = plan(inputs, output_folder, format)
    futures = [client.submit(level_one, i, o, algorithm, tuple(args), 1, skip_existing, max_gain, pure=False)
               for i, o in jobs]
    reports = []
    for (i, o), future in zip(jobs, futures):
        try:
            reports.append(future.result())
        except Exception as e:  # the task could not be run: its workers kept dying, say
            reports.append(FileReport(i, o, written=False, error="cannot level " + i + ": " + str(e)))
    return reports


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m kelvane.cluster",
                                     description="Level every picture of a folder on a Dask cluster.")
    parser.add_argument("--scheduler", required=True, help="the scheduler's address, tcp://HOST:8786")
    parser.add_argument("--format", help="the outputs' extension instead of each input's")
    parser.add_argument("--skip-existing", action="store_true", help="leave outputs newer than their inputs")
    parser.add_argument("--max-gain", type=float, help="std, minmax, range: the largest stretch factor (at least 1)")
    parser.add_argument("algorithm")
    parser.add_argument("input_folder")
    parser.add_argument("output_folder")
    parser.add_argument("args", nargs="+", help="the window (or two), and the gray method of the _fn algorithms")
    options = parser.parse_args(argv)
    from distributed import Client

    start = time.perf_counter()
    with Client(options.scheduler) as client:
        reports = level_files(options.input_folder, options.output_folder, options.algorithm, *options.args,
                              client=client, format=options.format, skip_existing=options.skip_existing,
                              max_gain=options.max_gain)
    for report in reports:
        if report.error:
            print("Error: " + report.error, file=sys.stderr)
    written = sum(r.written for r in reports)
    failed = sum(r.error is not None for r in reports)
    skipped = sum(r.skipped for r in reports)
    summary = "Leveled %d pictures, %d failed, %d skipped, in %.1f s." % (written, failed, skipped,
                                                                         time.perf_counter() - start)
    if os.path.isdir(options.input_folder):
        others = sum(not is_picture_file(f) for f in files_below(options.input_folder, options.output_folder))
        if others:
            summary += " %d %s not a picture." % (others, "file was" if others == 1 else "files were")
    print(summary)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
