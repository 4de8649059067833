"""PWG and Apple raster documents as CUPS's filters write them, for the
printer application's tests and benchmarks."""
import struct


def packbits_lines(rows, unit):
    """PWG/Apple raster line records: a repeat count, then runs and literals
    of `unit`-byte pixels."""
    out, y = bytearray(), 0
    while y < len(rows):
        repeat = 0
        while y + repeat + 1 < len(rows) and rows[y + repeat + 1] == rows[y] and repeat < 255:
            repeat += 1
        out.append(repeat)
        row, i, n = rows[y], 0, len(rows[y]) // unit
        px = [row[k * unit:(k + 1) * unit] for k in range(n)]
        while i < n:
            run = 1
            while i + run < n and px[i + run] == px[i] and run < 128:
                run += 1
            if run > 1 or i + 1 == n:
                out += bytes([run - 1]) + px[i]
                i += run
            else:
                lit = 1
                while i + lit < n and lit < 128 and (i + lit + 1 >= n or px[i + lit + 1] != px[i + lit]):
                    lit += 1
                if lit == 1:  # one pixel: a run of one (literals are 2 to 128)
                    out += bytes([0]) + px[i]
                else:
                    out += bytes([257 - lit]) + b"".join(px[i:i + lit])
                i += lit
        y += repeat + 1
    return bytes(out)


def pwg_header(width, height, dpi, bits=8, space=18, ydpi=None, header_fix=None, letter=False):
    """A PWG page header: HWResolution, cupsWidth/Height, bits per colour and
    pixel, bytes per line, colour order and space, colours; with `letter`
    also what CUPS's filters write for a US letter page (PageSize in points,
    page count, transforms, image box, alternate primary, media name).
    Values are taken modulo 2**32, as a header that lies may hold them."""
    h = bytearray(1796)
    h[0:9] = b"PwgRaster"
    bpp = {1: 1, 8: 8, 24: 24}[bits]
    fields = {276: dpi, 280: ydpi or dpi, 372: width, 376: height, 384: 1 if bits == 1 else 8, 388: bpp,
              392: (width * bpp + 7) // 8, 396: 0, 400: space, 420: 3 if bits == 24 else 1}
    if letter:
        h[1732:1750] = b"na_letter_8.5x11in"
        fields.update({352: 612, 356: 792, 452: 1, 456: 1, 460: 1, 472: width, 476: height, 480: 0xFFFFFF})
    fields.update(header_fix or {})
    for off, v in fields.items():
        struct.pack_into(">I", h, off, v & 0xFFFFFFFF)
    return bytes(h)


def pwg_page(rows, width, dpi, bits=8, space=18, ydpi=None, header_fix=None, letter=False):
    """One PWG page: 1-bit rows are bytes of packed bits (1 = black, space
    3), 8-bit rows grey (space 18), 24-bit rows RGB (space 19)."""
    return (pwg_header(width, len(rows), dpi, bits, space, ydpi, header_fix, letter)
            + packbits_lines(rows, 3 if bits == 24 else 1))


def pwg(pages):
    return b"RaS2" + b"".join(pages)


def urf_page(rows, width, dpi, bpp=8, space=0):
    h = bytearray(32)
    h[0], h[1], h[2], h[3] = bpp, space, 1, 4
    struct.pack_into(">III", h, 12, width, len(rows), dpi)
    return bytes(h) + packbits_lines(rows, bpp // 8)


def urf(pages):
    return b"UNIRAST\0" + struct.pack(">I", len(pages)) + b"".join(pages)
