#!/usr/bin/env python3
"""Makes the GB2312 job text from its UTF-8 source.

The UTF-8 file is the one to edit: one line per printed line, at most 80
columns (a Chinese character takes two). A line with Chinese characters
prints them from 8 dot rows above its text, into the line above: the line
before it must be blank. The library reads no line breaks,
so the job text is the lines padded with blanks to 80 columns and written
end to end, in GB2312 (code page 936) bytes.

    python3 make_gb2312.py delivery-note.utf8.txt delivery-note.gb2312

bspp-print --utf8 --lines does the same conversion on the fly; a test checks
that both give the same bytes.
"""
import sys


def width(text):
    return sum(1 if ord(c) < 0x80 else 2 for c in text)


def main(source, target):
    with open(source, encoding="utf-8") as f:
        lines = f.read().split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    out = bytearray()
    above = ""
    for number, line in enumerate(lines, 1):
        line = line.rstrip("\r")
        if width(line) > 80:
            sys.exit(f"{source}:{number}: wider than 80 columns")
        if width(line) != len(line) and above.strip():
            sys.exit(f"{source}:{number}: Chinese characters right under a printed line "
                     "would strike it; put a blank line before this one")
        above = line
        try:
            data = line.encode("gb2312")
        except UnicodeEncodeError as e:
            sys.exit(f"{source}:{number}:{e.start + 1}: {line[e.start]!r} is not in GB2312")
        out += data + b" " * (80 - width(line))
    with open(target, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: make_gb2312.py SOURCE.utf8.txt TARGET.gb2312")
    main(sys.argv[1], sys.argv[2])
