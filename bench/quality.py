"""How well each algorithm, window and gain cap does its job, on pictures whose right answer
is known (scripts/bench --quality). Not a timed test; it takes a few minutes.

Pages: known text under three shadings at two sizes, read by Tesseract; the measure is the
character error rate (0 is every character read right). Photos: scikit-image's sample
photographs under vignetting and an illumination field; the measure is the PSNR against
the unshaded photograph once its global mean and deviation are matched (higher is better).
Beside kelvane: scikit-image's CLAHE and an OpenCV background division, as a user would try
them. Prints markdown tables; every figure goes to build/quality.csv as well.
"""
import csv
import itertools
import os
import sys
import tempfile
import warnings
from concurrent.futures import ProcessPoolExecutor

import numpy

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "build", "python"))
sys.path.insert(0, HERE)

import kelvane  # noqa: E402
import test_pictures as pictures  # noqa: E402

PAGE_SCALES = (1.0, 1.6)
WINDOWS = (31, 61, 151, 301, "5%", "10%", "20%", "40%")
TWO_WINDOWS = ((15, 151), (31, 301), ("2%", "20%"))
GAINS = (None, 2, 4)


def settings(gray):
    """Every setting of the sweep: (label, keyword arguments of kelvane.level)."""
    algorithms = [a for a in kelvane.ALGORITHMS if not (gray and a.endswith("_fn"))]
    for algorithm in algorithms:
        method = "y709" if algorithm.endswith("_fn") else None
        gains = (None,) if algorithm.startswith("mean") else GAINS
        for windows, gain in itertools.product([(w,) for w in WINDOWS] + list(TWO_WINDOWS), gains):
            label = ("--max-gain %d " % gain if gain else "") + algorithm + " " + " ".join(map(str, windows))
            yield label, dict(algorithm=algorithm, window=windows[0], window2=windows[1] if len(windows) > 1 else None,
                              method=method, max_gain=gain, threads=1)


def clahe(image):
    from skimage import exposure

    return (exposure.equalize_adapthist(image) * 255 + 0.5).astype(numpy.uint8)


def background_division(image, page):
    """The background estimated and divided out: for a page, by a closing that removes the
    dark letters (31 pixels, a little more than a line's height at the smaller size); for a
    photo, by a Gaussian blur of an eighth of the shorter side."""
    import cv2

    if page:
        background = cv2.morphologyEx(image, cv2.MORPH_CLOSE, numpy.ones((31, 31), numpy.uint8))
        return cv2.divide(image, background, scale=230)
    sigma = min(image.shape[:2]) / 8
    background = cv2.GaussianBlur(image.astype(numpy.float32), (0, 0), sigma)
    out = image / numpy.maximum(background, 1) * image.mean(axis=(0, 1))
    return numpy.clip(out + 0.5, 0, 255).astype(numpy.uint8)


PEERS = {"scikit-image CLAHE": lambda image, page: clahe(image),
         "OpenCV background division": background_division,
         "none": lambda image, page: image}


def treated(image, label, arguments, page):
    if label in PEERS:
        return PEERS[label](image, page)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return kelvane.level(image, **arguments)


def page_case(case):
    """Character error rate of one setting on one page (run in a worker process)."""
    (label, arguments), (shade, scale) = case
    image, truth = pictures.page(shade, scale, seed=7)
    with tempfile.TemporaryDirectory() as folder:
        read = pictures.read_text(treated(image, label, arguments, True), folder)
    return label, shade, scale, pictures.character_error_rate(read, truth)


def photo_case(case):
    (label, arguments), (name, field) = case
    photo = dict(pictures.photos())[name]
    shaded = pictures.shaded_photo(photo, field)
    if photo.ndim == 2 and (arguments or {}).get("algorithm", "").endswith("_fn"):
        return label, name, field, None
    return label, name, field, pictures.psnr_after_matching(treated(shaded, label, arguments, False), photo)


def table(title, rows, columns, better, count=12, always=()):
    """The best `count` settings by their mean over the columns, and the rows named in
    `always`, as a markdown table."""
    means = {label: numpy.mean([v for v in values.values() if v is not None]) for label, values in rows.items()}
    order = sorted(means, key=means.get, reverse=better == "higher")
    shown = order[:count] + [label for label in order[count:] if label in always]
    print("\n" + title + "\n")
    print("| setting | " + " | ".join(columns) + " | mean |")
    print("|---" * (len(columns) + 2) + "|")
    for label in shown:
        cells = ["%.3f" % rows[label][c] if isinstance(rows[label].get(c), float) and better == "lower"
                 else "%.1f" % rows[label][c] if rows[label].get(c) is not None else "" for c in columns]
        mean = ("%.3f" if better == "lower" else "%.1f") % means[label]
        rank = order.index(label) + 1
        print("| %s%s | %s | %s |" % (label, "" if rank <= count else " (rank %d)" % rank, " | ".join(cells), mean))


def main():
    workers = int(os.environ.get("KELVANE_QUALITY_WORKERS", os.cpu_count() or 1))
    results = []
    page_settings = list(settings(gray=True)) + [(peer, None) for peer in PEERS]
    cases = list(itertools.product(page_settings, itertools.product(pictures.PAGE_SHADINGS, PAGE_SCALES)))
    with ProcessPoolExecutor(workers) as pool:
        pages = list(pool.map(page_case, cases, chunksize=4))
        photo_settings = list(settings(gray=False)) + [(peer, None) for peer in PEERS]
        names = [name for name, _ in pictures.photos()]
        photo_cases = list(itertools.product(photo_settings, itertools.product(names, pictures.PHOTO_FIELDS)))
        photos = list(pool.map(photo_case, photo_cases, chunksize=8))

    page_rows = {}
    for label, shade, scale, rate in pages:
        page_rows.setdefault(label, {})["%s x%g" % (shade, scale)] = rate
        results.append(("page", label, "%s x%g" % (shade, scale), rate))
    photo_rows = {}
    for label, name, field, psnr in photos:
        key = "%s %s" % (name, field)
        photo_rows.setdefault(label, {})[key] = psnr
        results.append(("photo", label, key, psnr))
    page_columns = ["%s x%g" % c for c in itertools.product(pictures.PAGE_SHADINGS, PAGE_SCALES)]
    photo_columns = ["%s %s" % c for c in itertools.product(names, pictures.PHOTO_FIELDS)]
    advice = ("--max-gain 4 minmax 31", "--max-gain 4 minmax 61", "minmax 31", "range 61", "std 61", "mean 61")
    table("Pages: character error rate of Tesseract's reading (lower is better); x1: 1000 x 700 pixels, "
          "22-pixel lines 46 apart; x1.6: 1600 x 1120", page_rows, page_columns, "lower",
          always=tuple(PEERS) + advice)
    table("Photos: PSNR in dB against the unshaded photograph, global mean and deviation matched "
          "(higher is better)", photo_rows, photo_columns, "higher", always=tuple(PEERS) + advice)
    out = os.path.join(HERE, "..", "build", "quality.csv")
    with open(out, "w", newline="") as f:
        csv.writer(f).writerows([("kind", "setting", "picture", "measure")] + results)
    print("\nEvery figure: " + os.path.relpath(out))


if __name__ == "__main__":
    main()
