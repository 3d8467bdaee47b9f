"""How fast the preview page answers a change on a 24-megapixel photograph: 20 changes of
settings in a row, each timed from request to response by the server's own log (scripts/bench
--preview). The fit view's goal is 300 ms."""
import http.client
import os
import re
import statistics
import subprocess
import sys
import tempfile
import urllib.parse

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
PYTHON_PATH = os.path.join(HERE, "..", "build", "python")

CHANGES = [dict(algorithm=a, window=w, method="y709" if a.endswith("_fn") else None, max_gain=g)
           for a, w, g in [("mean", "31", None), ("mean", "61", None), ("std", "61", None), ("std", "61", "4"),
                           ("std_fn", "5%", None), ("std_fn", "10%", "2"), ("minmax", "151", None),
                           ("minmax", "151", "4"), ("range", "10%", None), ("range_fn", "20%", "2"),
                           ("mean_fn", "101", None), ("std", "3%", None), ("minmax_fn", "41", None),
                           ("range", "301", "2"), ("mean", "12.5%", None), ("std_fn", "81", None),
                           ("minmax", "7%", "2"), ("range_fn", "151", None), ("mean_fn", "40%", None),
                           ("std", "201", "4")]]


def main():
    with tempfile.TemporaryDirectory() as folder:
        photo = os.path.join(folder, "photo24.png")
        source = os.path.join(HERE, "..", "samples", "coffee.png")
        Image.open(source).resize((6000, 4000), Image.BICUBIC).save(photo, compress_level=1)
        server = subprocess.Popen([sys.executable, "-m", "kelvane.preview", "--no-browser", photo],
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                  env=dict(os.environ, PYTHONPATH=PYTHON_PATH))
        url = urllib.parse.urlsplit(server.stdout.readline().strip())
        connection = http.client.HTTPConnection(url.hostname, url.port, timeout=600)
        connection.request("GET", url.path + "info")
        connection.getresponse().read()  # the picture is read and reduced once, before the sweep
        for generation, change in enumerate(CHANGES, start=1):
            query = urllib.parse.urlencode({k: v for k, v in dict(change, gen=generation).items() if v is not None})
            connection.request("GET", url.path + "level?" + query)
            connection.getresponse().read()
        connection.request("POST", url.path + "quit", body="{}")
        connection.getresponse().read()
        _, log = server.communicate(timeout=60)
    times = [float(m.group(1)) for m in re.finditer(r"^level fit .* ([0-9.]+) ms$", log, re.M)]
    print("Preview of a 6000 x 4000 photograph, fit view (reduced 4x), %d changes: median %.0f ms, "
          "slowest %.0f ms (goal: 300 ms)" % (len(times), statistics.median(times), max(times)))
    for change, ms in zip(CHANGES, times):
        print("  %-48s %6.0f ms" % (" ".join(str(v) for v in change.values() if v is not None), ms))


if __name__ == "__main__":
    main()
