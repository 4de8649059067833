#!/usr/bin/env python3
"""The dots a 9-pin ESC/P printer strikes for a graphics stream, page by
page: a reader of its own, apart from bspp-print's preview, for the picture
tests (and for CUPS's rastertoepson output, to compare).

Understood: ESC @, ESC 2, ESC 3 n, ESC A n, ESC C n, ESC C NUL n, ESC J n,
graphics ESC K/L/Y/Z n1 n2 and ESC * m n1 n2 (8 pins, bit 7 the top one),
ESC $ (absolute position), CR, LF, FF, and the settings rastertoepson sends
(ESC P, DC2, ESC x, ESC U, ESC l, ESC Q, ESC N, ESC O), which move nothing.
Anything else is an error: the tests want to know.

Positions: across in 1/240 inch from the left margin (column 0 of the text
line, a quarter inch from the paper's edge), down in 1/216 inch from the top
of the form. A page is what lies between form feeds; its dots are
(row, column) on the 72 x 120 dpi grid: row = pin row of 1/72 inch from the
top of its form, column = 1/120 inch from the left margin.

  python3 escp_dots.py STREAM      prints each page's length and dot count
"""
import sys

DENSITY = {"K": 60, "L": 120, "Y": 120, "Z": 240}
STAR = {0: 60, 1: 120, 2: 120, 3: 240, 4: 80, 5: 72, 6: 90}
ONE_BYTE_SETTINGS = b"xUlQN"  # ESC x/U/l/Q/N n: quality, direction, margins, perforation skip
NO_BYTE_SETTINGS = b"PO"      # ESC P (10 cpi), ESC O (no perforation skip)


class StreamError(Exception):
    pass


class Page:
    def __init__(self, length):
        self.length = length     # the form length in force at its form feed, 1/216 inch
        self.rows = {}           # row -> bytearray, 1 where a dot was struck
        self.off_grid = 0        # dots not on a whole pin row or dot column
        self.below_form = 0      # dots struck past the form's length
        self._dots = None

    def strike(self, row, col):
        line = self.rows.get(row)
        if line is None:
            line = self.rows[row] = bytearray(max(1024, col + 1))
        elif col >= len(line):
            line.extend(bytes(col + 1 - len(line)))
        line[col] = 1
        self._dots = None

    def has(self, row, col):
        line = self.rows.get(row)
        return line is not None and 0 <= col < len(line) and line[col] == 1

    @property
    def dots(self):
        """The struck dots as a set of (row, column)."""
        if self._dots is None:
            self._dots = {(r, c) for r, line in self.rows.items() for c, v in enumerate(line) if v}
        return self._dots

    def inked(self, row0, col0, row1, col1):
        """The fraction of dot positions in rows [row0, row1) and columns
        [col0, col1) that were struck."""
        cells = (row1 - row0) * (col1 - col0)
        if cells <= 0:
            return 0.0
        hit = sum(sum(self.rows[r][max(col0, 0):col1]) for r in range(row0, row1) if r in self.rows)
        return hit / cells

    def box(self):
        """(row0, col0, row1, col1) around the dots, or None."""
        rows = [r for r, line in self.rows.items() if any(line)]
        if not rows:
            return None
        cols = [c for r in rows for c in (self.rows[r].index(1), len(self.rows[r]) - self.rows[r][::-1].index(1) - 1)]
        return min(rows), min(cols), max(rows) + 1, max(cols) + 1


class Stream:
    def __init__(self, data):
        self.pages = []          # finished by a form feed
        self.trailing = None     # a page with dots after the last form feed
        self.resets = []         # offsets of ESC @
        self.lengths = []        # (offset, length in 1/216 inch) of each ESC C
        self._read(data)

    def _read(self, d):
        spacing = 36             # 1/6 inch
        length = 66 * 36         # power-on page length: 11 inches
        x = 0                    # 1/240 inch from the left margin
        y = 0                    # 1/216 inch from the top of the form
        page = Page(length)
        i = 0

        def need(n):
            if i + n > len(d):
                raise StreamError("command cut short at offset %d" % i)

        def strike(bits, pins_x):
            nonlocal page
            for pin in range(8):
                if bits & (0x80 >> pin):
                    yy = y + 3 * pin
                    if yy % 3 or pins_x % 2:
                        page.off_grid += 1
                    if yy >= length:
                        page.below_form += 1
                    page.strike(yy // 3, pins_x // 2)

        while i < len(d):
            b = d[i]
            if b == 0x0D:
                x = 0
                i += 1
            elif b == 0x0A:
                x = 0
                y += spacing
                i += 1
            elif b == 0x0C:
                page.length = length
                self.pages.append(page)
                page = Page(length)
                x = y = 0
                i += 1
            elif b == 0x12:  # DC2: condensed off
                i += 1
            elif b == 0x1B:
                need(2)
                c = chr(d[i + 1])
                if c == "@":
                    self.resets.append(i)
                    spacing, x = 36, 0
                    i += 2
                elif c == "2":
                    spacing = 36
                    i += 2
                elif c == "3":
                    need(3)
                    spacing = d[i + 2]
                    i += 3
                elif c == "A":
                    need(3)
                    spacing = 3 * d[i + 2]
                    i += 3
                elif c == "J":
                    need(3)
                    y += d[i + 2]
                    i += 3
                elif c == "C":
                    need(3)
                    at = i
                    if d[i + 2]:
                        length = d[i + 2] * spacing
                        i += 3
                    else:
                        need(4)
                        length = d[i + 3] * 216
                        i += 4
                    if y:
                        raise StreamError("ESC C away from the top of the form at offset %d" % at)
                    self.lengths.append((at, length))
                elif c == "$":
                    need(4)
                    x = 4 * (d[i + 2] + 256 * d[i + 3])  # 1/60 inch
                    i += 4
                elif c in DENSITY or c == "*":
                    if c == "*":
                        need(5)
                        density, i = STAR[d[i + 2]], i + 1
                    else:
                        need(4)
                        density = DENSITY[c]
                    n = d[i + 2] + 256 * d[i + 3]
                    need(4 + n)
                    step = 240 // density
                    for k in range(n):
                        strike(d[i + 4 + k], x)
                        x += step
                    i += 4 + n
                elif ord(c) in ONE_BYTE_SETTINGS:
                    need(3)
                    i += 3
                elif ord(c) in NO_BYTE_SETTINGS:
                    i += 2
                else:
                    raise StreamError("ESC %r at offset %d is not read here" % (c, i))
            else:
                raise StreamError("byte 0x%02X at offset %d is not a graphics stream's" % (b, i))
        if page.rows:
            page.length = length
            self.trailing = page


def read(data):
    return Stream(data)


def main():
    s = read(open(sys.argv[1], "rb").read())
    for n, p in enumerate(s.pages, 1):
        print("page %d: form %.3f in, %d dots, box %s" % (n, p.length / 216, len(p.dots), p.box()))
    if s.trailing:
        print("dots after the last form feed: %d" % len(s.trailing.dots))


if __name__ == "__main__":
    main()
