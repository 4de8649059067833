"""What the printer should receive for a job, worked out from the printing
rules alone (not from the library's code), as a template: every byte that is
not a dot of a graphics band is known exactly; band dots are only known to
be blank outside the cells of the characters drawn on that line."""

LINE_TERMINATOR = b"\x1b\x32\x0d\x0a"
FORM_FEED = b"\x0c"
CR = b"\x0d"
COLUMNS = 80
DOTS_PER_COLUMN = 12
RASTER_DOTS = 960
CELL_INSET = 5
CELL_WIDTH = 16


class Band:
    """The k data bytes of one band of one line."""

    def __init__(self, number, k, cells):
        self.number = number  # 0: raster rows 0-7, 1: rows 8-15
        self.k = k
        self.cells = cells  # [(lead, trail, column)]

    def cell_of(self, x, strict=True):
        """Index of the character whose cell holds dot column x, or None.

        strict: the 16-dot cell at the character's point; otherwise the two
        text columns the character takes, where glyphs that reach a dot or
        two past their cell (accents, narrow symbols) still belong."""
        for i, (_, _, col) in enumerate(self.cells):
            if strict:
                left, width = col * DOTS_PER_COLUMN + CELL_INSET, CELL_WIDTH
            else:
                left, width = col * DOTS_PER_COLUMN, 2 * DOTS_PER_COLUMN
            if left <= x < left + width:
                return i
        return None


class Template:
    def __init__(self):
        self.parts = []  # bytes or Band, in stream order

    def append(self, item):
        if isinstance(item, bytes) and self.parts and isinstance(self.parts[-1], bytes):
            self.parts[-1] += item
        elif not (isinstance(item, bytes) and not item):
            self.parts.append(item)

    def size(self):
        return sum(p.k if isinstance(p, Band) else len(p) for p in self.parts)

    def ends_with_terminator_longer_than_it(self):
        if self.size() <= len(LINE_TERMINATOR) or not self.parts:
            return False
        last = self.parts[-1]
        return isinstance(last, bytes) and len(last) >= 4 and last.endswith(LINE_TERMINATOR)

    def drop_terminator(self):
        self.parts[-1] = self.parts[-1][: -len(LINE_TERMINATOR)]
        if not self.parts[-1]:
            self.parts.pop()


def _append_bands(t, cells):
    k = (cells[-1][2] + 2) * DOTS_PER_COLUMN
    # The bands take the place of the line terminator that ends the stream
    # (but not of a stream that is only that terminator).
    if t.ends_with_terminator_longer_than_it():
        t.drop_terminator()
    for number, spacing in ((0, 4), (1, 8)):
        t.append(bytes([0x1B, 0x41, spacing, 0x0D, 0x0A, 0x1B, 0x4C, k % 256, k // 256]))
        t.append(Band(number, k, list(cells)))
    t.append(CR)


def _trimmed(line):
    return line.rstrip(b" ")


def expected(text, keep_page):
    """Template of the stream for `text` (bytes) and `keep_page` (int)."""
    t = Template()
    column = 0
    line = b""
    cells = []
    j = 0
    n = len(text)
    while j < n:
        b = text[j]
        if b < 0xA0:
            line += bytes([b])
            column += 1
        else:
            trail = text[j + 1] if j + 1 < n else 0
            cells.append((b, trail, column))
            j += 1
            line += b"  "
            column += 2
        j += 1
        if column >= COLUMNS:
            if cells:
                _append_bands(t, cells)
            t.append(_trimmed(line) + LINE_TERMINATOR)
            line, cells, column = b"", [], 0
    if column != 0:
        if cells:
            _append_bands(t, cells)
        kept = _trimmed(line)
        if keep_page:
            t.append(kept + LINE_TERMINATOR)
        else:
            t.append(kept[:-1] + LINE_TERMINATOR + FORM_FEED if len(kept) > 1
                     else LINE_TERMINATOR + FORM_FEED)
    return t


def band_ink(data, band):
    """{dot column: 8-bit mask} of the inked columns of one band."""
    return {x: v for x, v in enumerate(data) if v}


def check(stream, template, strict=True):
    """Compares a received stream with the template (strict: see
    Band.cell_of).

    Returns (problems, bands) where problems is a list of strings and bands a
    list of (Band, data bytes) in stream order."""
    problems = []
    bands = []
    pos = 0
    for part in template.parts:
        if isinstance(part, Band):
            data = stream[pos:pos + part.k]
            if len(data) != part.k:
                problems.append("stream ends inside band data at %d" % pos)
                return problems, bands
            for x, v in enumerate(data):
                if v and part.cell_of(x, strict) is None:
                    problems.append("ink outside every cell: band %d dot column %d (byte %d)"
                                    % (part.number, x, pos + x))
                    break
            bands.append((part, data))
            pos += part.k
        else:
            got = stream[pos:pos + len(part)]
            if got != part:
                at = next((i for i in range(min(len(got), len(part))) if got[i] != part[i]),
                          min(len(got), len(part)))
                problems.append("byte %d: expected %s, got %s" % (
                    pos + at, part[at:at + 12].hex(" "), got[at:at + 12].hex(" ")))
                return problems, bands
            pos += len(part)
    if pos != len(stream):
        problems.append("stream is %d bytes, expected %d" % (len(stream), pos))
    return problems, bands


def inked_cells(bands):
    """For each line's pair of bands: the set of cell indices with ink in band
    0 and in band 1."""
    result = []
    for i in range(0, len(bands), 2):
        line = []
        for band, data in bands[i:i + 2]:
            cells = set()
            for x, v in enumerate(data):
                if v:
                    c = band.cell_of(x)
                    if c is not None:
                        cells.add(c)
            line.append(cells)
        result.append(tuple(line))
    return result
