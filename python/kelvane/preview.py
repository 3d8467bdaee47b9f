"""A local page for choosing settings by looking: ``python3 -m kelvane.preview photo.jpg``.

It serves one page on 127.0.0.1, at a free port, behind a random token in the URL, which it
prints as its first line; it opens a browser where there is a graphical session (not with
--no-browser) and ends on Ctrl-C or when the page says so. The page shows the picture before
and after leveling with live controls, histograms, the equivalent command line, and "Save",
which levels the whole file with ``kelvane.level_file``.

The fit view levels a reduced copy (at most about 2 megapixels, windows in pixels scaled by
the reduction): it is approximate. The 1:1 view shows a region of the exact result, bit for
bit what "Save" writes. The server reads only the picture it was started with and writes
only where "Save" is asked to; it answers only requests that carry the token and name this
machine as their host.
"""
import argparse
import http.server
import json
import math
import os
import secrets
import shlex
import sys
import threading
import time
import urllib.parse
import webbrowser

import numpy

from . import _checks, _kelvane
from .files import level_file

__all__ = ["main"]

FIT_PIXELS = 2_000_000
PAGE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "preview.html")


def _rgba(pixels):
    """8-bit pixels as the RGBA bytes of a canvas's ImageData: gray spread to three channels,
    alpha kept or opaque."""
    height, width = pixels.shape[:2]
    channels = pixels[..., None] if pixels.ndim == 2 else pixels
    out = numpy.empty((height, width, 4), numpy.uint8)
    colours = 3 if channels.shape[2] >= 3 else 1
    out[..., :3] = channels[..., :colours]
    out[..., 3] = channels[..., -1] if channels.shape[2] in (2, 4) else 255
    return out.tobytes()


def _histogram(pixels):
    """256 counts for each colour channel of 8-bit pixels (alpha left out)."""
    channels = pixels[..., None] if pixels.ndim == 2 else pixels
    colours = channels.shape[2] if channels.shape[2] in (1, 3) else channels.shape[2] - 1
    return [numpy.bincount(channels[..., c].ravel(), minlength=256).tolist() for c in range(colours)]


def _settings(query):
    """The operation of a request's settings, checked as kelvane.level checks its arguments."""
    def one(name, default=None):
        value = query.get(name, [default])[0]
        return None if value in (None, "") else value

    window2 = one("window2")
    gain = one("max_gain")
    return _checks.operation(one("algorithm", "mean"), one("window", "31"), window2, one("method"),
                             float(gain) if gain is not None else None, one("level_alpha") == "true")


class Picture:
    """The picture being previewed: its samples, a reduced copy of its values for the fit
    view, and the exact result of the last settings asked for at full size."""

    def __init__(self, path):
        self.path = path
        self.error = None
        self.ready = threading.Event()
        self.lock = threading.Lock()
        self.exact_key = None
        self.exact = None
        self.latest = 0
        self.stop = None
        threading.Thread(target=self._load, daemon=True).start()

    def _load(self):
        try:
            pixels, self.alpha = _kelvane.read_picture(os.fsencode(self.path))
            self.pixels = pixels
            unit = {numpy.uint8: 255.0, numpy.uint16: 65535.0}.get(pixels.dtype.type, 1.0)
            self.unit = unit
            height, width = pixels.shape[:2]
            # An integer reduction, each reduced pixel the mean of a square of the picture.
            self.reduction = max(1, math.ceil(math.sqrt(height * width / FIT_PIXELS)))
            r = self.reduction
            if r == 1:
                self.reduced, self.reduced_unit = pixels, unit
            else:
                values = pixels[: height // r * r, : width // r * r].astype(numpy.float64) / unit
                shape = (height // r, r, width // r, r) + values.shape[2:]
                self.reduced, self.reduced_unit = values.reshape(shape).mean(axis=(1, 3)), 1.0
                if unit != 1.0:
                    # Held as 16-bit codes, whose powers the library looks up rather than
                    # computes: minmax and range answer in half the time, 1/65535 apart.
                    self.reduced = numpy.rint(self.reduced * 65535.0).astype(numpy.uint16)
                    self.reduced_unit = 65535.0
            self.before = self.display(self.reduced, self.reduced_unit)
            self.before_histogram = _histogram(self.before)
        except Exception as e:  # shown on the page, not as a traceback
            self.error = e.strerror if isinstance(e, OSError) and e.errno else str(e)
        self.ready.set()

    def display(self, values, unit):
        """8-bit samples to show: integer samples of 8 bits as they are, others scaled."""
        if values.dtype == numpy.uint8:
            return values
        scaled = values.astype(numpy.float64) * (255.0 / unit)
        return numpy.clip(scaled, 0, 255).astype(numpy.uint8)

    def info(self):
        self.ready.wait()
        if self.error:
            return {"error": self.error}
        stem, extension = os.path.splitext(self.path)
        return {"name": os.path.basename(self.path), "path": self.path, "width": int(self.pixels.shape[1]),
                "height": int(self.pixels.shape[0]), "channels": int(1 if self.pixels.ndim == 2 else self.pixels.shape[2]),
                "alpha": bool(self.alpha), "reduction": self.reduction, "sample": str(self.pixels.dtype),
                "output": stem + "-leveled" + extension, "fit_width": int(self.before.shape[1]),
                "fit_height": int(self.before.shape[0]),
                "algorithms": [{"name": n, "matches": m, "takes_method": t, "stretches": s}
                               for n, m, t, s in _kelvane.algorithm_info],
                "methods": [{"name": n, "description": d} for n, d in _kelvane.gray_method_info],
                "presets": [{"name": n, "description": d, "settings": s} for n, d, s in _presets()]}

    def _scaled_window(self, window):
        """A window of the reduced copy: pixels divided by the reduction, shares as they are."""
        if window is None or window.endswith("%"):
            return window
        pixels = int(window)
        if pixels >= 2 ** 31:  # the whole picture
            return window
        return str(max(1, round(pixels / self.reduction)))

    def fit(self, operation):
        """The reduced copy leveled with the operation's windows scaled to it, for showing."""
        reduced = operation._replace(window=self._scaled_window(operation.window),
                                     window2=self._scaled_window(operation.window2))
        leveled, _ = _kelvane.level_array(self.reduced, None, *reduced, 0)
        return self.display(leveled, self.reduced_unit)

    def exact_region(self, operation, x, y, width, height):
        """A region of the exact result at full size, and of the picture, for showing."""
        key = tuple(operation)
        if self.exact_key != key:
            if self.stop is not None:
                self.stop.set()
            stop = self.stop = _kelvane.StopFlag()
            with self.lock:
                if self.exact_key != key:
                    try:
                        self.exact, _ = _kelvane.level_array(self.pixels, None, *operation, 0, stop)
                    except KeyboardInterrupt:  # newer settings came: this result is not wanted
                        raise Stale() from None
                    self.exact_key = key
        height_all, width_all = self.pixels.shape[:2]
        x0, y0 = max(0, min(x, width_all - 1)), max(0, min(y, height_all - 1))
        x1, y1 = min(width_all, x0 + width), min(height_all, y0 + height)
        return (self.display(self.exact[y0:y1, x0:x1], self.unit), self.display(self.pixels[y0:y1, x0:x1], self.unit),
                (x0, y0))


class Stale(Exception):
    """Settings that newer ones replaced while they were worked on."""


def _presets():
    presets = getattr(_kelvane, "presets", ())
    return [(name, description, settings) for name, description, settings in presets]


def command_line(operation, input, output):
    """The kelvane command that does what the page shows."""
    words = ["kelvane"]
    if operation.max_gain != float("inf"):
        words += ["--max-gain", "%g" % operation.max_gain]
    if operation.level_alpha:
        words.append("--level-alpha")
    words += [operation.algorithm, input, output, operation.window]
    if operation.window2:
        words.append(operation.window2)
    if operation.method:
        words.append(operation.method)
    return " ".join(shlex.quote(w) for w in words)


class Handler(http.server.BaseHTTPRequestHandler):
    server_version = "kelvane-preview"

    def log_message(self, format, *args):  # requests are logged by _log, with their time
        pass

    def _allowed(self):
        host = self.headers.get("Host", "")
        port = self.server.server_address[1]
        if host not in ("127.0.0.1:%d" % port, "localhost:%d" % port, "127.0.0.1", "localhost"):
            self._send(403, "text/plain", b"Forbidden: this page answers to 127.0.0.1 only\n")
            return None
        prefix = "/" + self.server.token + "/"
        path = urllib.parse.urlsplit(self.path).path
        if not path.startswith(prefix):
            self._send(404, "text/plain", b"Not found\n")
            return None
        return path[len(prefix):]

    def _send(self, status, kind, body):
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        self.send_header("X-Content-Type-Options", "nosniff")
        self.send_header("Content-Security-Policy", "default-src 'self' 'unsafe-inline' data:")
        self.end_headers()
        self.wfile.write(body)

    def _json(self, value, status=200):
        self._send(status, "application/json", json.dumps(value).encode())

    def _log(self, what, start):
        print("%s %.1f ms" % (what, (time.perf_counter() - start) * 1000), file=sys.stderr, flush=True)

    def do_GET(self):
        start = time.perf_counter()
        name = self._allowed()
        if name is None:
            return
        query = urllib.parse.parse_qs(urllib.parse.urlsplit(self.path).query)
        picture = self.server.picture
        try:
            if name == "":
                with open(PAGE, "rb") as page:
                    self._send(200, "text/html; charset=utf-8", page.read())
            elif name == "info":
                self._json(picture.info())
            elif name == "level":
                self._level(picture, query, start)
            else:
                self._send(404, "text/plain", b"Not found\n")
        except (ValueError, TypeError) as e:
            self._json({"error": str(e)}, 400)
        except Exception as e:  # an error page, never a traceback
            self._json({"error": "the preview failed: %s" % e}, 500)

    def _send_pictures(self, header, pictures):
        """Pictures as raw RGBA bytes one after the other, what they are in a JSON header."""
        body = b"".join(_rgba(p) for p in pictures)
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        self.send_header("X-Result", json.dumps(header))
        self.end_headers()
        self.wfile.write(body)

    def _level(self, picture, query, start):
        info = picture.info()
        if "error" in info:
            self._json(info, 500)
            return
        generation = int(query.get("gen", ["0"])[0])
        picture.latest = max(picture.latest, generation)
        operation = _settings(query)
        view = query.get("view", ["fit"])[0]
        if generation < picture.latest:
            self._json({"stale": True}, 409)
            return
        if view == "fit":
            leveled = picture.fit(operation)
            before = picture.before
            answer = {"approximate": picture.reduction > 1, "x": 0, "y": 0}
        else:
            x, y, width, height = (int(query.get(k, ["0"])[0]) for k in ("x", "y", "w", "h"))
            width, height = max(1, min(width, 4096)), max(1, min(height, 4096))
            try:
                leveled, before, origin = picture.exact_region(operation, x, y, width, height)
            except Stale:
                self._json({"stale": True}, 409)
                return
            answer = {"approximate": False, "x": origin[0], "y": origin[1]}
        if generation < picture.latest:
            self._json({"stale": True}, 409)
            return
        answer.update(width=int(leveled.shape[1]), height=int(leveled.shape[0]), gen=generation,
                      histogram=_histogram(leveled),
                      histogram_before=picture.before_histogram if view == "fit" else _histogram(before),
                      command=command_line(operation, picture.path, query.get("output", [info["output"]])[0]))
        self._send_pictures(answer, [leveled, before])
        self._log("level %s %s" % (view, " ".join(str(v) for v in operation)), start)

    def do_POST(self):
        start = time.perf_counter()
        name = self._allowed()
        if name is None:
            return
        try:
            length = int(self.headers.get("Content-Length", "0"))
            body = json.loads(self.rfile.read(min(length, 1 << 20)) or b"{}")
            if name == "save":
                self._save(body, start)
            elif name == "quit":
                self._json({"ended": True})
                threading.Thread(target=self.server.shutdown, daemon=True).start()
            else:
                self._send(404, "text/plain", b"Not found\n")
        except (ValueError, TypeError) as e:
            self._json({"error": str(e)}, 400)
        except Exception as e:
            self._json({"error": "the preview failed: %s" % e}, 500)

    def _save(self, body, start):
        picture = self.server.picture
        settings = {k: [str(v)] for k, v in body.get("settings", {}).items() if v is not None}
        operation = _settings(settings)
        output = os.path.expanduser(str(body.get("path", "")))
        if not output:
            raise ValueError("name the file to write")
        try:
            report = level_file(picture.path, output, operation.algorithm, operation.window, operation.window2,
                                method=operation.method or None,
                                max_gain=None if operation.max_gain == float("inf") else operation.max_gain,
                                level_alpha=operation.level_alpha)
            self._json({"written": os.path.abspath(report.output)})
        except (OSError, MemoryError) as e:
            self._json({"error": e.strerror if isinstance(e, OSError) and e.errno else str(e)}, 400)
        self._log("save %s" % output, start)


def serve(path, port=0):
    """The server for the picture, bound to 127.0.0.1 at `port` (0: a free one), not yet
    serving: call serve_forever() on it."""
    server = http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
    # Requests under way are finished, not abandoned, when the server closes: a thread left in
    # the library would have no interpreter to return to.
    server.daemon_threads = False
    server.token = secrets.token_urlsafe(18)
    server.picture = Picture(os.fspath(path))
    server.url = "http://127.0.0.1:%d/%s/" % (server.server_address[1], server.token)
    return server


def main(argv=None):
    parser = argparse.ArgumentParser(prog="kelvane-preview",
                                     description="Choose leveling settings by looking: a local page with live "
                                                 "controls, then the full-size result.")
    parser.add_argument("picture", help="the picture file to preview")
    parser.add_argument("--no-browser", action="store_true", help="print the page's address only")
    parser.add_argument("--port", type=int, default=0, help="the port to listen on (default: a free one)")
    options = parser.parse_args(argv)
    if not os.path.isfile(options.picture):
        print("Error: cannot read %s: %s" % (options.picture, "No such file or directory"
                                             if not os.path.exists(options.picture) else "it is not a file"),
              file=sys.stderr)
        return 1
    try:
        server = serve(options.picture, options.port)
    except OSError as e:
        print("Error: cannot listen on 127.0.0.1:%d: %s" % (options.port, e.strerror), file=sys.stderr)
        return 1
    print(server.url, flush=True)
    if not options.no_browser and (os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY")):
        threading.Thread(target=webbrowser.open, args=(server.url,), daemon=True).start()
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        picture = server.picture
        if picture.stop is not None:
            picture.stop.set()
        server.server_close()
        picture.ready.wait()
    return 0


if __name__ == "__main__":
    sys.exit(main())
