"""Many pictures: a shell loop of single runs, folder mode, and a local Dask cluster of two
worker processes, on the same folder of 1600 x 1200 RGB PNG files.

    /usr/bin/python3 bench/many_pictures.py [count] [algorithm args...]

Run by scripts/bench --many, which builds the tool and puts the module on PYTHONPATH.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

import numpy
from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
TOOL = os.environ.get("KELVANE_BINARY", os.path.join(HERE, "..", "build", "kelvane"))


def make_pictures(folder, count):
    """Crops of the coffee photo scaled up to 1600 x 1200, each a little different."""
    photo = Image.open(os.path.join(HERE, "..", "samples", "coffee.png")).convert("RGB")
    big = photo.resize((2400, 1800), Image.BICUBIC)
    for i in range(count):
        x, y = (i * 37) % 800, (i * 53) % 600
        big.crop((x, y, x + 1600, y + 1200)).save(os.path.join(folder, "p%03d.png" % i), compress_level=6)


def timed(action):
    start = time.perf_counter()
    action()
    return time.perf_counter() - start


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 200
    operation = sys.argv[2:] or ["std", "31"]
    work = tempfile.mkdtemp(prefix="kelvane-many-")
    try:
        inputs = os.path.join(work, "in")
        os.mkdir(inputs)
        make_pictures(inputs, count)
        print("%d pictures of 1600 x 1200 RGB PNG, %s, %d cores" % (count, " ".join(operation), os.cpu_count()))

        loop_out = os.path.join(work, "loop")
        os.mkdir(loop_out)
        script = 'for f in "$1"/*.png; do "$2" %s "$f" "$3/$(basename "$f")" %s || exit 1; done' % (
            operation[0], " ".join(operation[1:]))
        loop = timed(lambda: subprocess.run(["sh", "-c", script, "sh", inputs, TOOL, loop_out], check=True))

        folder_out = os.path.join(work, "folder")
        folder = timed(lambda: subprocess.run([TOOL, operation[0], inputs, folder_out] + operation[1:], check=True,
                                              stdout=subprocess.DEVNULL))

        import distributed
        from kelvane import cluster

        with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                      dashboard_address=None) as local, distributed.Client(local) as client:
            client.run(lambda: __import__("kelvane"))  # the workers' module loading is not the pictures'
            dask_out = os.path.join(work, "dask")
            reports = []
            dask = timed(lambda: reports.extend(
                cluster.level_files(inputs, dask_out, operation[0], *operation[1:], client=client)))
        assert all(r.written for r in reports), [r.error for r in reports if r.error]

        print("%-34s %8s %8s %9s" % ("", "seconds", "per file", "speed-up"))
        for name, seconds in (("shell loop of single runs", loop), ("folder mode", folder),
                              ("Dask, 2 local worker processes", dask)):
            print("%-34s %8.1f %8.3f %8.2fx" % (name, seconds, seconds / count, loop / seconds))
        print("Dask / folder mode: %.2f" % (dask / folder))
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
