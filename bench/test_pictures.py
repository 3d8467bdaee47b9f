"""Pictures whose right answer is known, for the quality benchmark and the test of its advice.

Pages: known text rendered in DejaVu Serif, on paper with grain, under a shading: a dark
corner, a lamp's gradient or a fold's shadow. Photos: pictures of scikit-image's sample data
multiplied by a vignetting or an illumination field. Everything comes from Debian packages
(fonts-dejavu-core, python3-skimage) and fixed seeds: no downloads, the same pictures on
every machine.
"""
import os
import subprocess

import numpy
from PIL import Image, ImageDraw, ImageFilter, ImageFont

FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf"

TEXT = (
    "Uneven light is the most common fault of a picture taken in haste. A page photographed "
    "on a desk is darker where the hand held the phone, a scan of a thick book has a grey "
    "valley along its spine, and a photograph of a street at dusk is bright on one side and "
    "nearly black on the other. The eye forgives such faults because it judges each part of "
    "a scene against its surroundings; a reader of the file does not. Text that sits in a "
    "shadow loses its contrast against the paper, so that a program which reads letters sees "
    "only smudges there, while the clean part of the page reads well. Leveling moves every "
    "pixel so that the statistics of the window around it take the values they would have "
    "under even light. The window should be larger than a letter and smaller than the "
    "shadow: a few lines of text are a good measure. Paper is never quite flat either, and "
    "its grain becomes noise when a flat region is stretched without limit. Seven quiet "
    "rivers join below the old mill, where the water turns slowly past fields of barley, "
    "oats and clover before it reaches the harbour and the grey sea beyond the walls."
)


def _wrapped_lines(text, font, width):
    lines, line = [], ""
    for word in text.split():
        candidate = (line + " " + word).strip()
        if font.getlength(candidate) <= width:
            line = candidate
        else:
            lines.append(line)
            line = word
    return lines + [line]


def shading(kind, width, height):
    """A multiplicative light field of that kind, from about 0.3 to 1."""
    y, x = numpy.mgrid[0:height, 0:width].astype(numpy.float64)
    x /= width
    y /= height
    if kind == "corner":  # a dark corner, as where a hand held the camera
        d2 = x ** 2 + (1 - y) ** 2
        return 1 - 0.8 * numpy.exp(-d2 / (2 * 0.35 ** 2))
    if kind == "lamp":  # a lamp to the right: light falls off to the left
        return 0.2 + 0.8 * (0.1 + 0.9 * x) ** 1.5 * (0.9 + 0.1 * y)
    if kind == "fold":  # the shadow of a fold or a book's spine
        return 1 - 0.7 * numpy.exp(-((x - 0.55) / 0.07) ** 2) - 0.15 * x
    if kind == "vignetting":  # a lens: cos^4 falloff, corners at about 0.4
        r2 = ((x - 0.5) ** 2 + (y - 0.5) ** 2) / 0.5
        return numpy.cos(numpy.arctan(numpy.sqrt(r2) * 0.95)) ** 4
    if kind == "illumination":  # light from the top left
        return 0.35 + 0.65 * (1 - 0.6 * x - 0.4 * y)
    raise ValueError(kind)


PAGE_SHADINGS = ("corner", "lamp", "fold")
PHOTO_FIELDS = ("vignetting", "illumination")


def page(shade, scale=1.0, seed=0):
    """A shaded page of known text: (8-bit gray array, its text). At scale 1 the page is
    1000 x 700 pixels, with 22-pixel lines 46 pixels apart."""
    width, height = int(1000 * scale), int(700 * scale)
    font = ImageFont.truetype(FONT, int(round(22 * scale)))
    lines = _wrapped_lines(TEXT, font, width - int(80 * scale))
    lines = lines[: int((height - 60 * scale) // (46 * scale))]
    ink = Image.new("L", (width, height), 0)
    draw = ImageDraw.Draw(ink)
    for i, line in enumerate(lines):
        draw.text((int(40 * scale), int(30 * scale + 46 * scale * i)), line, font=font, fill=255)
    # A camera's slight blur, grey ink, paper with fibre at a few pixels' scale and grain at one.
    coverage = numpy.asarray(ink.filter(ImageFilter.GaussianBlur(0.8 * scale)), numpy.float64) / 255
    rng = numpy.random.default_rng(seed)
    fibre = rng.normal(0, 1, (height // 4 + 1, width // 4 + 1))
    fibre = numpy.kron(fibre, numpy.ones((4, 4)))[:height, :width]
    paper = 0.88 + 0.03 * fibre + rng.normal(0, 0.04, (height, width))
    lit = (paper * (1 - coverage) + 0.25 * coverage) * shading(shade, width, height)
    return numpy.clip(lit * 255 + 0.5, 0, 255).astype(numpy.uint8), " ".join(lines)


def photos():
    """scikit-image's sample photographs: name and 8-bit array (gray or RGB)."""
    import skimage.data

    return [(name, getattr(skimage.data, name)()) for name in ("coffee", "astronaut", "chelsea", "camera", "moon")]


def shaded_photo(photo, field):
    light = shading(field, photo.shape[1], photo.shape[0])
    if photo.ndim == 3:
        light = light[:, :, None]
    return numpy.clip(photo * light + 0.5, 0, 255).astype(numpy.uint8)


def read_text(image, folder):
    """What Tesseract reads on the picture, on one thread."""
    path = os.path.join(folder, "page-%d.png" % os.getpid())
    Image.fromarray(image).save(path)
    run = subprocess.run(["tesseract", path, "stdout"], capture_output=True, text=True,
                         env=dict(os.environ, OMP_THREAD_LIMIT="1"))
    return run.stdout


def _normal(text):
    return " ".join(text.split())


def character_error_rate(read, truth):
    """Levenshtein distance between the texts (white space collapsed) over the truth's length."""
    a, b = _normal(read), _normal(truth)
    if not b:
        return float(len(a) > 0)
    previous = numpy.arange(len(b) + 1)
    codes = numpy.frombuffer(b.encode("utf-32-le"), numpy.uint32)
    for i, char in enumerate((ord(c) for c in a), start=1):
        substitution = previous[:-1] + (codes != char)
        row = numpy.empty_like(previous)
        row[0] = i
        row[1:] = numpy.minimum(previous[1:] + 1, substitution)
        # Insertions run along the row: a running minimum of (row[j] - j) + j.
        row = numpy.minimum.accumulate(row - numpy.arange(len(b) + 1)) + numpy.arange(len(b) + 1)
        previous = row
    return float(previous[-1]) / len(b)


def psnr_after_matching(result, original):
    """PSNR against the unshaded original (peak 255), once the result's global mean and
    deviation are matched to the original's, channel by channel: one-window leveling moves a
    picture to the statistics of its shaded self, which no reader holds against it."""
    r = result.astype(numpy.float64).reshape(-1, result.shape[2] if result.ndim == 3 else 1)
    o = original.astype(numpy.float64).reshape(r.shape)
    deviation = r.std(axis=0)
    matched = (r - r.mean(axis=0)) / numpy.where(deviation > 0, deviation, 1) * o.std(axis=0) + o.mean(axis=0)
    error = numpy.mean((numpy.clip(matched, 0, 255) - o) ** 2)
    return 10 * numpy.log10(255 ** 2 / error) if error > 0 else float("inf")
