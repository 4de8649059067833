#!/usr/bin/env python3
"""Pictures as the printer prints them: documents made here (with
python3-pil, and PWG/Apple rasters written by hand) are run through
bspp_picture_print, and its stream is read back dot by dot by escp_dots.py,
a reader of its own (not the preview's code).

  picture_test.py GROUP --tool bspp_picture_print --bspp-print bspp-print --work DIR

GROUP: tone (the grey chart), lines (rules stay whole), page (page length
and form feed for each form), placement (size, turn and place), hostile
(documents that must be refused or cut, in bounded memory), preview (the
preview draws the stream's dots)."""
import argparse, os, re, struct, subprocess, sys, time, zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import escp_dots  # noqa: E402
from rasters import packbits_lines, pwg, pwg_page, urf, urf_page  # noqa: E402

ARGS = None
GREYS = [0, 32, 64, 96, 128, 160, 192, 224, 255]
LETTER, TWELVE, A4 = "letter", "12in", "a4"
FORM_UNITS = {LETTER: 11 * 216, TWELVE: 12 * 216, A4: 297 / 25.4 * 216}  # 1/216 inch
ROWS = {m: int(u // 3) for m, u in FORM_UNITS.items()}                    # whole pin rows
MAX_RSS_KB = 100 * 1024


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def path(name):
    return os.path.join(ARGS.work, name)


def save(name, data):
    with open(path(name), "wb") as f:
        f.write(data)
    return path(name)


class Printed:
    def __init__(self, name, rc, out, err, stream, rss, seconds):
        self.name, self.rc, self.out, self.err, self.stream, self.rss, self.seconds = (
            name, rc, out, err, stream, rss, seconds)

    def dots(self):
        s = escp_dots.read(self.stream)
        check(s.trailing is None, "%s: dots after the last form feed" % self.name)
        for n, p in enumerate(s.pages, 1):
            check(p.off_grid == 0, "%s: page %d has dots off the 120 x 72 grid" % (self.name, n))
            check(p.below_form == 0, "%s: page %d strikes %d dots past its form" % (self.name, n, p.below_form))
        return s

    def page(self):
        s = self.dots()
        check(len(s.pages) == 1, "%s: %d pages, not one" % (self.name, len(s.pages)))
        return s.pages[0]


def run(fmt, doc, *options, expect_ok=True):
    """Prints `doc` (a file in the work folder) and returns what came out,
    with the tool's peak memory."""
    name = os.path.basename(doc)
    out, said, errors = doc + ".prn", doc + ".out", doc + ".err"
    start = time.monotonic()
    with open(said, "wb") as o, open(errors, "wb") as e:
        rc = subprocess.call([ARGS.tool, fmt, doc, out, *options], stdout=o, stderr=e, timeout=120)
    seconds = time.monotonic() - start
    with open(out, "rb") as f:
        stream = f.read()
    with open(said) as o, open(errors) as e:
        said_text = o.read()
        peak = re.search(r"peak_kb=(\d+)", said_text)
        check(peak, "%s: the tool did not say its peak memory: %s" % (name, said_text))
        r = Printed(name, rc, said_text, e.read().strip(), stream, int(peak.group(1)), seconds)
    if expect_ok:
        check(r.rc == 0, "%s %s: refused: %s" % (name, " ".join(options), r.err))
    check(r.rss < MAX_RSS_KB, "%s: %d MiB of memory" % (name, r.rss // 1024))
    return r


# ------------------------------------------------------------------ documents

def grey_rows(width, height, fill):
    """Rows of 8-bit grey for a page: fill(y) returns row y as bytes."""
    return [fill(y) for y in range(height)]


def rgb_rows(rows):
    """Grey rows as 24-bit RGB, each distinct row converted once."""
    made = {}
    return [made.setdefault(r, bytes(v for g in r for v in (g, g, g))) if r not in made else made[r] for r in rows]


def chart_row_maker(dpi, x0, step_w, y0, y1):
    """The nine-step chart at (x0, y0)-(x0 + 9 * step_w, y1) inches."""
    width = int(8.5 * dpi)
    row = bytearray([255]) * width
    for k, g in enumerate(GREYS):
        row[int((x0 + k * step_w) * dpi):int((x0 + (k + 1) * step_w) * dpi)] = bytes([g]) * int(step_w * dpi)
    row, blank = bytes(row), bytes([255]) * width
    return width, (lambda y: row if y0 * dpi <= y < y1 * dpi else blank)


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def interlaced_png(rows):
    """An 8-bit grey PNG of `rows` (lists of grey values) in Adam7 passes
    (python3-pil writes none)."""
    h, w = len(rows), len(rows[0])
    raw = b""
    for x0, y0, dx, dy in ((0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2),
                           (0, 1, 1, 2)):
        for y in range(y0, h, dy):
            line = bytes(rows[y][x0::dx])
            if line:
                raw += b"\0" + line
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 0, 0, 0, 1))
            + png_chunk(b"IDAT", zlib.compress(raw)) + png_chunk(b"IEND", b""))


def pack_bits(grey_row, threshold=128):
    out = bytearray((len(grey_row) + 7) // 8)
    for x, g in enumerate(grey_row):
        if g < threshold:
            out[x // 8] |= 0x80 >> (x % 8)
    return bytes(out)


# ------------------------------------------------------------------ measuring

def step_fractions(page, row0, row1, col0, step_cols):
    """Ink over each of the nine steps, a margin of 3 dots kept from their
    edges (error diffusion needs a few dots to settle)."""
    return [page.inked(row0 + 3, int(col0 + k * step_cols) + 3, row1 - 3, int(col0 + (k + 1) * step_cols) - 3)
            for k in range(9)]


def check_chart(name, fractions):
    aim = [1 - g / 255 for g in GREYS]
    shown = " ".join("%.2f" % f for f in fractions)
    check(all(abs(f - a) <= 0.1 for f, a in zip(fractions, aim)), "%s: chart %s, aim %s" % (
        name, shown, " ".join("%.2f" % a for a in aim)))
    check(all(a > b for a, b in zip(fractions, fractions[1:])), "%s: chart not strictly lighter: %s" % (name, shown))
    check(fractions[0] >= 0.95 and fractions[-1] == 0, "%s: black %.2f, white %.2f" % (
        name, fractions[0], fractions[-1]))
    print("%-28s %s" % (name, shown))


def gaps_along_row(page, row, col0, col1, slack=1):
    """Columns in [col0, col1) with no dot within `slack` rows of `row`."""
    return [c for c in range(col0, col1) if not any(page.has(r, c) for r in range(row - slack, row + slack + 1))]


def gaps_along_column(page, col, row0, row1, slack=1):
    return [r for r in range(row0, row1) if not any(page.has(r, c) for c in range(col - slack, col + slack + 1))]


# ------------------------------------------------------------------ groups

def cmd_tone(_):
    """The nine-step chart: ink over each step within 0.1 of 1 - g/255,
    strictly lighter step by step, black >= 0.95, white 0; for PNG (grey,
    RGB), JPEG, and PWG/Apple raster at 180 and 360 dpi."""
    from PIL import Image, ImageDraw
    # 900 x 1125 pixels (4:5), no resolution: fitted to 8 x 10 in, a half
    # inch down; steps of 100 pixels = 8/9 inch = 106.7 dots.
    im = Image.new("L", (900, 1125), 255)
    d = ImageDraw.Draw(im)
    for k, g in enumerate(GREYS):
        d.rectangle([k * 100, 0, k * 100 + 99, 1124], fill=g)
    im.save(path("chart-grey.png"))
    im.convert("RGB").save(path("chart-rgb.png"))
    im.convert("RGB").save(path("chart.jpg"), quality=95)
    for doc, fmt in (("chart-grey.png", "png"), ("chart-rgb.png", "png"), ("chart.jpg", "jpeg")):
        for content in ("auto", "photo"):
            page = run(fmt, path(doc), "--content", content).page()
            check_chart("%s %s" % (doc, content), step_fractions(page, 36, 36 + 720, 0, 960 / 9))

    # Rasters: the chart from 1 in to 8.2 in across (0.8 in a step), 1 to
    # 5 in down, on a letter page.
    for dpi in (180, 360):
        width, fill = chart_row_maker(dpi, 1.0, 0.8, 1.0, 5.0)
        rows = grey_rows(width, 11 * dpi, fill)
        col0 = (1.0 - 0.25) * 120
        docs = [("chart-%d.pwg" % dpi, "pwg", pwg([pwg_page(rows, width, dpi)])),
                ("chart-%d.urf" % dpi, "urf", urf([urf_page(rows, width, dpi)])),
                ("chart-rgb-%d.pwg" % dpi, "pwg",
                 pwg([pwg_page(rgb_rows(rows), width, dpi, 24, 19)]))]
        if dpi == 360:
            docs.append(("chart-rgb-360.urf", "urf",
                         urf([urf_page(rgb_rows(rows), width, dpi, 24, 1)])))
        for name, fmt, data in docs:
            for content in ("auto", "photo"):
                page = run(fmt, save(name, data), "--content", content).page()
                check_chart("%s %s" % (name, content), step_fractions(page, 72, 360, col0, 96))

    # A screened chart as CUPS's filters send grey on a 1-bit raster: a
    # 4 x 4 ordered dither at 360 dpi. Its tones survive the line-art rule.
    bayer = [[0, 8, 2, 10], [12, 4, 14, 6], [3, 11, 1, 9], [15, 7, 13, 5]]
    dpi = 360
    width, fill = chart_row_maker(dpi, 1.0, 0.8, 1.0, 5.0)
    rows, made = [], {}
    for y in range(11 * dpi):
        g = fill(y)
        key = (id(g), y % 4)
        if key not in made:
            made[key] = pack_bits([0 if v < (bayer[y % 4][x % 4] + 0.5) * 16 else 255 for x, v in enumerate(g)])
        rows.append(made[key])
    page = run("pwg", save("chart-screened.pwg", pwg([pwg_page(rows, width, dpi, 1, 3)]))).page()
    check_chart("chart-screened.pwg auto", step_fractions(page, 72, 360, 90, 96))


# Rows of one-pixel rules across: at a sixth, at a third (at 300 dpi on
# the line between two pin rows, half in each), and just below the middle.
def rule_rows(h):
    return h // 6, h // 3 - (h // 3 - 12) % 25, h // 2 + 1


def rules_drawing(size, dpi):
    """Line art: one-pixel rules (three across, one down, one slanting) and
    a black box, on `size` = (w, h) pixels at `dpi`."""
    from PIL import Image, ImageDraw
    w, h = size
    im = Image.new("1", (w, h), 1)
    d = ImageDraw.Draw(im)
    for y in rule_rows(h):
        d.line([(w // 24, y), (w - w // 24, y)], fill=0)
    d.line([(w // 2, h // 24), (w // 2, h - h // 24)], fill=0)
    d.line([(w // 12, h // 4), (w // 3, h // 4 + w // 4)], fill=0)
    d.rectangle([w // 12, 2 * h // 3, w // 3, 2 * h // 3 + w // 4], fill=0)
    return im


def check_rules(name, page, to_dot, size, box):
    """Every rule a continuous row (or column) of dots; the black box solid;
    paper white. to_dot(x, y) -> (row, col) of a picture pixel."""
    w, h = size
    for y in rule_rows(h):
        (r0, c0), (_, c1) = to_dot(w // 24, y), to_dot(w - w // 24, y)
        gaps = gaps_along_row(page, round(r0), round(c0) + 1, round(c1) - 1)
        check(not gaps, "%s: the rule across at y=%d has %d gaps (first at dot %s)" % (
            name, y, len(gaps), gaps[:3]))
    (r0, c), (r1, _) = to_dot(w // 2, h // 24), to_dot(w // 2, h - h // 24)
    gaps = gaps_along_column(page, round(c), round(r0) + 1, round(r1) - 1)
    check(not gaps, "%s: the rule down has %d gaps (first at row %s)" % (name, len(gaps), gaps[:3]))
    # The slanting rule: every dot column along it has a dot near it.
    (ra, ca), (rb, cb) = to_dot(w // 12, h // 4), to_dot(w // 3, h // 4 + w // 4)
    missing = [c for c in range(round(ca) + 1, round(cb) - 1)
               if not any(page.has(round(ra + (rb - ra) * (c - ca) / (cb - ca)) + k, c) for k in (-1, 0, 1))]
    check(not missing, "%s: the slanting rule has %d gaps" % (name, len(missing)))
    (b0, bc0), (b1, bc1) = to_dot(*box[0]), to_dot(*box[1])
    solid = page.inked(round(b0) + 1, round(bc0) + 1, round(b1) - 1, round(bc1) - 1)
    check(solid >= 0.99, "%s: the black box is %.2f inked" % (name, solid))
    (p0, pc0), (p1, pc1) = to_dot(w // 2 + w // 12, h // 3 + h // 24), to_dot(w - w // 12, h // 2 - h // 24)
    paper = page.inked(round(p0), round(pc0), round(p1), round(pc1))
    check(paper == 0, "%s: %.3f of the paper between the rules is inked" % (name, paper))
    print("%-32s rules whole, box %.2f, paper %.2f" % (name, solid, paper))


def cmd_lines(_):
    """One-pixel rules print as continuous rows of dots, a 1-bit PNG as it
    is drawn (not a solid rectangle), for PNG at 72, 300 and 600 dpi in
    1-bit, grey and RGB (auto, text, graphics), for rules drawn smooth, and
    for PWG/Apple raster at 180 and 360 dpi."""
    for dpi, size in ((300, (2400, 3000)), (600, (1800, 1800)), (72, (500, 600))):
        im = rules_drawing(size, dpi)
        w, h = size
        inches = (w / dpi, h / dpi)
        # Natural size when it fits (300 and 600 dpi); fitted otherwise.
        scale = 1.0 if inches[0] <= 8 and inches[1] <= 11 else min(8 / inches[0], 11 * 72 / 72 / inches[1])
        left = (8 - inches[0] * scale) / 2
        top = (11 - inches[1] * scale) / 2

        def to_dot(x, y, dpi=dpi, scale=scale, left=left, top=top):
            return (top + (y + 0.5) / dpi * scale) * 72 - 0.5, (left + (x + 0.5) / dpi * scale) * 120 - 0.5

        box = ((w // 12, 2 * h // 3), (w // 3, 2 * h // 3 + w // 4))
        for mode, img in (("1", im), ("L", im.convert("L")), ("RGB", im.convert("RGB"))):
            doc = save("rules-%d-%s.png" % (dpi, mode), b"")
            img.save(doc, dpi=(dpi, dpi))
            for content in ("auto", "text", "graphics"):
                page = run("png", doc, "--content", content).page()
                check_rules("%s %s" % (os.path.basename(doc), content), page, to_dot, size, box)

    # Rules drawn smooth (anti-aliased, spread over two pixels at sub-pixel
    # places), as screenshots and exported diagrams have them, in RGB.
    from PIL import Image, ImageDraw
    for dpi in (150, 300):
        n, grain = 6 * dpi, 4
        big = Image.new("L", (n * grain, n * grain), 255)
        d = ImageDraw.Draw(big)
        across = [(0.5 + k * 0.4) * dpi + k * 0.23 for k in range(12)]
        down = [(0.5 + k * 0.6) * dpi + k * 0.31 for k in range(8)]
        for y in across:
            d.rectangle([int(0.3 * dpi * grain), int(y * grain), int((n - 0.3 * dpi) * grain), int(y * grain) + grain - 1],
                        fill=0)
        for x in down:
            d.rectangle([int(x * grain), int(5.2 * dpi * grain), int(x * grain) + grain - 1, int(5.9 * dpi * grain)], fill=0)
        doc = path("smooth-rules-%d.png" % dpi)
        big.resize((n, n), Image.LANCZOS).convert("RGB").save(doc, dpi=(dpi, dpi))
        page = run("png", doc).page()
        # Six inches square, natural size: 1 in from the margin, 2.5 in down.
        for y in across:
            row = round((2.5 + (y + 0.5) / dpi) * 72 - 0.5)
            gaps = gaps_along_row(page, row, round(1.35 * 120), round(6.65 * 120))
            check(not gaps, "smooth rule across at %.2f px (%d dpi): %d gaps" % (y, dpi, len(gaps)))
        for x in down:
            col = round((1 + (x + 0.5) / dpi) * 120 - 0.5)
            gaps = gaps_along_column(page, col, round(7.75 * 72), round(8.35 * 72))
            check(not gaps, "smooth rule down at %.2f px (%d dpi): %d gaps" % (x, dpi, len(gaps)))
        print("%-32s smooth rules whole" % os.path.basename(doc))

    for dpi in (180, 360):
        w, h = int(8.5 * dpi), 11 * dpi
        drawing = rules_drawing((w, h), dpi).convert("L")
        pixels = drawing.tobytes()
        grey = [pixels[y * w:(y + 1) * w] for y in range(h)]

        def to_dot(x, y, dpi=dpi):
            return (y + 0.5) * 72 / dpi - 0.5, (x + 0.5) * 120 / dpi - 30.5

        box = ((w // 12, 2 * h // 3), (w // 3, 2 * h // 3 + w // 4))
        docs = (("rules-%d.pwg" % dpi, "pwg", pwg([pwg_page(grey, w, dpi)])),
                ("rules-%d-1bit.pwg" % dpi, "pwg", pwg([pwg_page([pack_bits(r) for r in grey], w, dpi, 1, 3)])),
                ("rules-%d.urf" % dpi, "urf", urf([urf_page(grey, w, dpi)])))
        for name, fmt, data in docs:
            page = run(fmt, save(name, data)).page()
            check_rules(name + " auto", page, to_dot, (w, h), box)


def cmd_page(_):
    """Each job starts with ESC @ and sets its form's length with ESC C, so
    that every form feed ends exactly one form: letter (11 in), 12 in and
    A4, whose 11.69 in the printer is given page by page so that the top of
    each form is where it belongs or up to 2/216 inch past it, never ahead
    (the error does not add up). A raster page
    longer than its form is cut at the form."""
    dpi = 180
    w = int(8.5 * dpi)
    for media in (LETTER, TWELVE, A4):
        # Five pages, a bar at the top and at the bottom of each form.
        rows_on_form = int(FORM_UNITS[media] / 216 * dpi)
        bar, blank = b"\0" * w, b"\xff" * w
        page_rows = [bar if y < 9 or y >= rows_on_form - 9 else blank for y in range(rows_on_form)]
        r = run("pwg", save("five-%s.pwg" % media, pwg([pwg_page(page_rows, w, dpi)] * 5)), "--media", media)
        s = r.dots()
        check(r.stream.startswith(b"\x1b@"), "%s: the job does not start with ESC @" % media)
        check(len(s.pages) == 5 and r.stream.count(b"\f") == 5 and r.stream.endswith(b"\f"),
              "%s: %d pages, %d form feeds" % (media, len(s.pages), r.stream.count(b"\f")))
        check(s.lengths and s.lengths[0][0] < r.stream.index(b"\x1bL"),
              "%s: no page length before the first graphics" % media)
        fed = 0
        for n, p in enumerate(s.pages, 1):
            fed += p.length
            check(0 <= fed - n * FORM_UNITS[media] + 1e-6 < 2, "%s: form %d ends %.1f/216 in from its place" % (
                media, n, fed - n * FORM_UNITS[media]))
            box = p.box()
            check(box and box[0] == 0 and box[2] == ROWS[media], "%s: page %d's bars at rows %s, form %d rows" % (
                media, n, box, ROWS[media]))
        print("%-8s forms of %s/216 in" % (media, [p.length for p in s.pages]))

        # A JPEG on the same form: one page, the same length.
        from PIL import Image
        Image.new("L", (400, 500), 0).save(path("black.jpg"))
        s = run("jpeg", path("black.jpg"), "--media", media).dots()
        check(len(s.pages) == 1 and abs(s.pages[0].length - FORM_UNITS[media]) <= 1.5,
              "%s: the JPEG's form is %s/216 in" % (media, [p.length for p in s.pages]))

    # 1530 x 100000 at 180 dpi (555 in), a bar all the way down: printed on
    # one 11-in form, the rest read and dropped, in bounded memory.
    rows = [b"\xff" * dpi + b"\0" * 20 + b"\xff" * (w - dpi - 20)] * 100000
    r = run("pwg", save("long.pwg", pwg([pwg_page(rows, w, dpi)])))
    p = r.page()
    check(p.box()[2] == ROWS[LETTER], "long page: dots down to row %d" % p.box()[2])
    check("cut at 11 in" in r.out, "long page: no note of the cut: %s" % r.out)
    print("long page: %s, %.2f s, %d MiB" % (r.out.splitlines()[0], r.seconds, r.rss // 1024))


def cmd_placement(_):
    """Where pictures go: a 4:5 JPEG fitted to 8 x 10 in, a quarter inch in
    and centred on the 11-in form; a landscape picture turned when that
    fills the page better (its top to the left), not when portrait is asked
    for; print-scaling none, fill; the EXIF orientation of a JPEG; raster
    pixel (0, 0) at the form's top-left corner."""
    from PIL import Image, ImageDraw

    def marked(w, h):
        """White, a black frame, a black square in the top-left quarter."""
        im = Image.new("L", (w, h), 255)
        d = ImageDraw.Draw(im)
        d.rectangle([0, 0, w - 1, h - 1], outline=0, width=max(2, w // 100))
        d.rectangle([w // 8, h // 8, w // 4, h // 4], fill=0)
        return im

    def near(a, b, tol=2):
        return all(abs(x - y) <= tol for x, y in zip(a, b))

    marked(400, 500).save(path("portrait.jpg"), quality=92)
    p = run("jpeg", path("portrait.jpg")).page()
    check(near(p.box(), (36, 0, 756, 960)), "4:5 JPEG printed at %s, not rows 36-756, dots 0-960" % (p.box(),))
    check(p.inked(36 + 90 + 4, 120 + 4, 36 + 180 - 4, 240 - 4) > 0.95, "4:5 JPEG: the square is not top-left")

    marked(500, 400).save(path("landscape.jpg"), quality=92)
    p = run("jpeg", path("landscape.jpg")).page()
    check(near(p.box(), (36, 0, 756, 960)), "landscape JPEG printed at %s, not turned to fill" % (p.box(),))
    # Turned anticlockwise: the top-left square is now at the bottom left.
    check(p.inked(756 - 180 + 4, 120 + 4, 756 - 90 - 4, 240 - 4) > 0.95, "landscape JPEG: not turned anticlockwise")
    p = run("jpeg", path("landscape.jpg"), "--orientation", "portrait").page()
    check(near(p.box(), (166, 0, 626, 960)), "landscape JPEG as portrait printed at %s" % (p.box(),))

    # EXIF orientation 6: stored 500 x 400, shown turned clockwise (400 x 500).
    exif = Image.Exif()
    exif[0x0112] = 6
    stored = marked(400, 500).transpose(Image.ROTATE_90)  # what a camera on its side stores
    stored.save(path("exif6.jpg"), quality=92, exif=exif.tobytes())
    p = run("jpeg", path("exif6.jpg")).page()
    check(near(p.box(), (36, 0, 756, 960)) and p.inked(36 + 90 + 4, 120 + 4, 36 + 180 - 4, 240 - 4) > 0.95,
          "EXIF-turned JPEG printed at %s, square %s" % (p.box(), p.inked(126, 124, 212, 236)))

    # 300 x 300 pixels at 300 dpi: one inch, centred, at natural size
    # (auto and none); fill: the page covered.
    marked(300, 300).save(path("inch.png"), dpi=(300, 300))
    for scaling in ("auto", "none"):
        p = run("png", path("inch.png"), "--scaling", scaling).page()
        check(near(p.box(), (360, 420, 432, 540)), "1-in PNG (%s) printed at %s" % (scaling, p.box()))
    p = run("png", path("inch.png"), "--scaling", "fill").page()
    check(near(p.box(), (0, 0, 792, 960), 0), "1-in PNG (fill) printed at %s" % (p.box(),))
    p = run("png", path("inch.png"), "--scaling", "fit").page()
    check(near(p.box(), (108, 0, 684, 960)), "1-in PNG (fit) printed at %s" % (p.box(),))

    # An interlaced PNG (held whole to be decoded) prints as the same
    # picture does without interlacing.
    im = marked(160, 200)
    rows = [list(im.tobytes()[y * 160:(y + 1) * 160]) for y in range(200)]
    im.save(path("plain.png"))
    plain = run("png", path("plain.png")).page()
    interlaced = run("png", save("interlaced.png", interlaced_png(rows))).page()
    check(interlaced.dots == plain.dots, "the interlaced PNG printed otherwise than the plain one")

    # Rasters: a rectangle at (1, 1)-(3, 2) in on the paper.
    for dpi, fmt in ((180, "pwg"), (360, "urf")):
        w = int(8.5 * dpi)
        row = bytearray(b"\xff" * w)
        row[dpi:3 * dpi] = b"\0" * (2 * dpi)
        rows = [bytes(row) if dpi <= y < 2 * dpi else b"\xff" * w for y in range(11 * dpi)]
        data = pwg([pwg_page(rows, w, dpi)]) if fmt == "pwg" else urf([urf_page(rows, w, dpi)])
        p = run(fmt, save("rect-%d.%s" % (dpi, fmt), data)).page()
        check(p.box() == (72, 90, 144, 330), "%d-dpi %s rectangle printed at %s" % (dpi, fmt, p.box()))


def cmd_hostile(_):
    """Documents that must be refused at once with a message naming the
    cause and nothing sent, or cut, in bounded memory (each run under 100
    MiB), followed each time by a normal document."""
    from PIL import Image
    Image.new("L", (800, 600), 128).save(path("good.png"))
    good = open(path("good.png"), "rb").read()
    Image.new("RGB", (800, 600), (10, 200, 30)).save(path("good.jpg"))
    good_jpeg = open(path("good.jpg"), "rb").read()

    def png_header(w, h, interlace=0, colour=0, depth=8):
        ihdr = struct.pack(">IIBBBBB", w, h, depth, colour, 0, 0, interlace)
        return b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr), png_chunk

    def refused(fmt, name, data, words, more=()):
        r = run(fmt, save(name, data), *more, expect_ok=False)
        check(r.rc == 2 and re.search(words, r.err), "%s: %s, not refused for %r: %s" % (
            name, "printed" if r.rc == 0 else "exit %d" % r.rc, words, r.err or r.out))
        check(r.seconds < 10, "%s: took %.1f s to refuse" % (name, r.seconds))
        check(r.stream == b"", "%s: %d bytes went out before it was refused" % (name, len(r.stream)))
        print("%-24s %s" % (name, r.err))
        run("png", save("after-" + name + ".png", good)).page()

    refused("png", "truncated.png", good[:len(good) // 2], "cut short")
    refused("png", "not-a.png", b"GIF89a" + bytes(100), "not a PNG")
    head, chunk = png_header(100000, 100000)
    refused("png", "huge.png", head + chunk(b"IDAT", zlib.compress(b"\0" * 1000)), "100000 x 100000.*more than")
    head, chunk = png_header(30000, 30000)
    refused("png", "many.png", head + chunk(b"IDAT", zlib.compress(b"\0" * 1000)), "million in all")
    head, chunk = png_header(8000, 8000, interlace=1, colour=6)
    refused("png", "interlaced.png", head + chunk(b"IDAT", zlib.compress(b"\0" * 1000)), "interlaced")
    bad_crc = bytearray(good)
    bad_crc[40] ^= 0xFF
    refused("png", "damaged.png", bytes(bad_crc), "damaged|cut short")
    refused("jpeg", "truncated.jpg", good_jpeg[:len(good_jpeg) // 2], "cut short")
    sof = good_jpeg.index(b"\xff\xc0")
    big = bytearray(good_jpeg)
    struct.pack_into(">HH", big, sof + 5, 60000, 60000)
    refused("jpeg", "huge.jpg", bytes(big), "60000 x 60000.*more than")
    Image.new("RGB", (6000, 6000), (200, 200, 200)).save(path("progressive.jpg"), progressive=True)
    refused("jpeg", "progressive.jpg", open(path("progressive.jpg"), "rb").read(), "progressive")

    dpi, w = 180, int(8.5 * 180)
    line = b"\xff" * w
    refused("pwg", "1dpi.pwg", pwg([pwg_page([b"\0"], 1, 1, header_fix={376: 40000000})]),
            "1 x 1 dpi.*not a resolution this printer offers \\(180 or 360\\)")
    refused("pwg", "wide.pwg", pwg([pwg_page([line], w, 360, header_fix={372: 4000000000, 392: 4000000000})]),
            "4000000000 pixels wide, more than the 3060")
    refused("pwg", "16bit.pwg", pwg([pwg_page([line], w, dpi, header_fix={384: 16, 388: 16, 392: 2 * w})]),
            "16 bits per pixel")
    refused("pwg", "short-lines.pwg", pwg([pwg_page([line], w, dpi, header_fix={392: 10})]), "bytes a line")
    refused("pwg", "no-page.pwg", b"RaS2", "no page")
    refused("pwg", "cut-header.pwg", b"RaS2" + bytes(500), "no page")
    refused("pwg", "cut-page.pwg", pwg([pwg_page([line] * 11 * dpi, w, dpi)])[:-2], "page 1, at line")
    refused("urf", "300dpi.urf", urf([urf_page([line], w, 300)]), "300 dpi is not a resolution")
    one_bit = bytearray(urf([urf_page([line], w, dpi)]))
    one_bit[12] = 1  # the page's bits per pixel
    refused("urf", "1bit.urf", bytes(one_bit), "1 bits per pixel")
    refused("urf", "not-a.urf", b"RaS2" + bytes(100), "not an Apple raster")

    # Cut after a page went out: that page stays sent, the message says so.
    whole = pwg_page([line] * 100 + [b"\0" * w] * 20 + [line] * (11 * dpi - 120), w, dpi)
    r = run("pwg", save("second-cut.pwg", pwg([whole, whole])[:-100]), expect_ok=False)
    check(r.rc == 2 and "page 2" in r.err and "1 page was printed" in r.err, "second-cut.pwg: %s" % r.err)
    check(r.stream.count(b"\f") == 1 and r.stream.startswith(b"\x1b@"), "second-cut.pwg: the first page not whole")
    print("%-24s %s" % ("second-cut.pwg", r.err))

    # 40,000,000 rows at 180 dpi in repeat counts of 256 lines: printed
    # on one form, the rest read and dropped.
    rows_needed, body = 40000000, bytearray()
    record = bytes([255]) + packbits_lines([b"\xff" * dpi + b"\0" * 40 + b"\xff" * (w - dpi - 40)], 1)[1:]
    body += record * (rows_needed // 256)
    h = pwg_page([], w, dpi, header_fix={376: rows_needed})
    r = run("pwg", save("endless-whole.pwg", b"RaS2" + h + bytes(body)))
    check(r.page().box()[2] == ROWS[LETTER] and "cut at 11 in" in r.out, "endless-whole.pwg: %s" % r.out)
    check(r.seconds < 20, "endless-whole.pwg: %.1f s" % r.seconds)
    print("%-24s %s %.2f s %d MiB" % ("endless-whole.pwg", r.out.splitlines()[0], r.seconds, r.rss // 1024))

    # A big picture decoded row by row stays in bounded memory.
    head, chunk = png_header(16000, 8000)
    raw = zlib.compress((b"\0" + b"\x80" * 16000) * 8000, 9)
    r = run("png", save("big-grey.png", head + chunk(b"IDAT", raw) + chunk(b"IEND", b"")))
    print("%-24s %.2f s %d MiB" % ("big-grey.png", r.seconds, r.rss // 1024))

    # The sink stops the job: printPicture returns, saying so.
    r = run("pwg", save("three.pwg", pwg([whole] * 3)), "--stop-after", "1")
    check("stopped=1" in r.out and "pages=0" in r.out, "stopped job: %s" % r.out)


def cmd_preview(_):
    """bspp-print's preview draws exactly the dots of a picture stream: a
    mark at every dot, none elsewhere, no command it does not know."""
    from PIL import Image
    im = rules_drawing((900, 1125), 100).convert("L")
    for x in range(0, 900, 3):
        for y in range(700, 760):
            im.putpixel((x, y), x // 4)
    im.save(path("preview.png"))
    for media, paper in ((LETTER, "11in"), (A4, "a4")):
        r = run("png", path("preview.png"), "--media", media)
        p = r.page()
        out = path("preview-%s.png" % media)
        v = subprocess.run([ARGS.bspp_print, "--stream", "--paper", paper, "--preview", out, path("preview.png.prn")],
                           capture_output=True, text=True)
        check(v.returncode == 0 and re.search(r"preview: 1 page:", v.stderr) and "problem" not in v.stderr,
              "preview of the %s stream: %s" % (media, v.stderr))
        img = Image.open(out).convert("L")
        wpx, hpx = img.size
        missing = [(r_, c) for r_, c in p.dots if img.getpixel(((30 + c) * 3 + 1, r_ * 5 + 2)) >= 128]
        check(not missing, "preview (%s): no mark at %d dots, e.g. %s" % (media, len(missing), missing[:3]))
        # Grid positions with no dot and no dot next to them are paper.
        extra = 0
        for row in range(0, hpx // 5):
            for col in range(0, 960, 3):
                if any(p.has(row + dr, col + dc) for dr in (-1, 0, 1) for dc in (-1, 0, 1)):
                    continue
                x, y = (30 + col) * 3 + 1, row * 5 + 2
                if x < wpx and y < hpx and img.getpixel((x, y)) < 128:
                    extra += 1
        check(extra == 0, "preview (%s): %d marks where the stream has no dot" % (media, extra))
        print("preview %-6s %d dots drawn, none extra" % (media, len(p.dots)))


def main():
    global ARGS
    groups = {name[4:]: f for name, f in globals().items() if name.startswith("cmd_")}
    ap = argparse.ArgumentParser()
    ap.add_argument("group", choices=sorted(groups))
    ap.add_argument("--tool", required=True)
    ap.add_argument("--bspp-print")
    ap.add_argument("--work", required=True)
    ARGS = ap.parse_args()
    os.makedirs(ARGS.work, exist_ok=True)
    try:
        groups[ARGS.group](ARGS)
    except Failure as e:
        print("FAIL: %s" % e)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
