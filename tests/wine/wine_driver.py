#!/usr/bin/env python3
"""Runs bspp.dll under Wine and checks what reaches LPT1.

Every test makes a Wine prefix of its own and removes it when done, so that
tests share nothing and run side by side.

  jobs     many jobs through the DLL, every byte at LPT1 checked against the
           model, the port's failure paths, the per-line drawing against one
           call per character, and the tall characters with the prefix's
           stand-in font (at code page 936, 96 dpi)
  glyphs   the glyph jobs again at another code page and screen resolution
           (a DPI-aware host): identical streams
  fonts    tall characters keep all their ink with no stand-in for "宋体",
           where Wine's font mapper picks a face
  run      one program (--host, then its arguments) in a prefix of its own;
           its output and exit code
  print    one job (a file's bytes and a NUL, as a host passing strlen(text)
           as lastIndex) through the host in a prefix of its own, LPT1 a file
  pe       the export table, imports and version resource of the file
  imports  every imported function is on the reviewed list (--allowed)
"""
import argparse
import contextlib
import json
import os
import random
import select
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import escp_model  # noqa: E402

WINE_LIB = "/usr/lib/i386-linux-gnu/wine/i386-windows"
WINE_LIB64 = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"
SONG_FACE = "\u5b8b\u4f53"
# WenQuanYi Zen Hei Sharp carries hand-tuned bitmap strikes for small sizes,
# so the 16-pixel glyphs come out clean and monochrome.
SONG_REPLACEMENT = "WenQuanYi Zen Hei Sharp"
REPLY_TIMEOUT = 900  # seconds; a 32-bit Wine process starts slowly under emulation

# Every prefix is a 64-bit one, whatever the program: Wine's own processes
# (its server, services, the desktop) are then 64-bit. Where the kernel runs
# no 32-bit programs and wine32 runs under user-mode emulation, a 32-bit
# process takes about a minute to start; only the program under test is one.
# Debian's "wine" command always starts the 32-bit loader first, even for a
# 64-bit program, so each program is started by the loader of its own kind.
LOADERS = {0x14C: "/usr/lib/wine/wine", 0x8664: "/usr/lib/wine/wine64"}
WINESERVER = "/usr/lib/wine/wineserver64"


def loader(exe):
    """The Wine loader for a PE file: 32- or 64-bit, as the file is."""
    with open(exe, "rb") as f:
        found = LOADERS.get(Pe(f.read()).machine)
    return found if found and os.access(found, os.X_OK) else "wine"


def wineserver():
    return WINESERVER if os.access(WINESERVER, os.X_OK) else "wineserver"


def wine_env(prefix, locale="zh_CN.UTF-8"):
    """Wine's ANSI code page comes from the locale: 936 for zh_CN."""
    env = dict(os.environ)
    for var in ("DISPLAY", "WAYLAND_DISPLAY", "LANG", "LANGUAGE"):
        env.pop(var, None)
    env.update(WINEPREFIX=prefix, WINEDEBUG="-all", LC_ALL=locale, WINEARCH="win64",
               WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
    env["WINESERVER"] = wineserver()
    return env


# ---------------------------------------------------------------- the prefix

def reg_escape(text):
    return "".join(c if 32 <= ord(c) < 127 and c not in '"\\' else "\\x%04x" % ord(c)
                   for c in text)


def make_prefix(prefix, replacement=SONG_REPLACEMENT, dpi=None):
    """A 64-bit prefix laid out by hand: Wine's own PE files linked into
    system32 (64-bit) and syswow64 (32-bit), and the user's registry values
    the test asks for: the stand-in for "宋体" (none without `replacement`)
    and the screen's resolution. Much faster than letting Wine install a
    prefix, which registers hundreds of components."""
    if os.path.exists(prefix):
        shutil.rmtree(prefix)
    windows = os.path.join(prefix, "drive_c", "windows")
    os.makedirs(os.path.join(windows, "Fonts"))
    os.makedirs(os.path.join(windows, "temp"))
    os.makedirs(os.path.join(prefix, "dosdevices"))
    os.symlink("../drive_c", os.path.join(prefix, "dosdevices", "c:"))
    os.symlink("/", os.path.join(prefix, "dosdevices", "z:"))
    for folder, lib in (("system32", WINE_LIB64), ("syswow64", WINE_LIB)):
        os.makedirs(os.path.join(windows, folder, "drivers"))
        for name in os.listdir(lib):
            target = os.path.join(windows, folder, "drivers" if name.endswith(".sys") else "", name)
            os.symlink(os.path.join(lib, name), target)
    # Keep Wine from running its setup over the hand-made prefix.
    with open(os.path.join(prefix, ".update-timestamp"), "w") as f:
        f.write("disable\n")
    keys = []
    if replacement:
        keys.append('[Software\\\\Wine\\\\Fonts\\\\Replacements] 1700000000\n"%s"="%s"\n'
                    % (reg_escape(SONG_FACE), replacement))
    if dpi:
        keys.append('[Control Panel\\\\Desktop] 1700000000\n"LogPixels"=dword:%08x\n' % dpi)
    with open(os.path.join(prefix, "user.reg"), "w") as f:
        f.write("WINE REGISTRY Version 2\n"
                ";; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n\n"
                + "\n".join(keys))


@contextlib.contextmanager
def prefix_of_own(path, **values):
    """A prefix made for one test (make_prefix's values) and removed after
    it, with its Wine stopped."""
    make_prefix(path, **values)
    try:
        yield path
    finally:
        subprocess.run([wineserver(), "-k"],
                       env=wine_env(path), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=False)
        shutil.rmtree(path, ignore_errors=True)


def run_program(prefix, argv, cwd, locale="zh_CN.UTF-8", timeout=REPLY_TIMEOUT):
    """(exit code, output, error output) of a Windows program run to its end.
    Output goes through files, not pipes: Wine's own background processes
    inherit them and would keep a pipe open."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        code = subprocess.run([loader(argv[0])] + list(argv), cwd=cwd, env=wine_env(prefix, locale),
                              stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                              timeout=timeout).returncode
        out.seek(0)
        err.seek(0)
        return code, out.read(), err.read().decode("utf-8", errors="replace")


def run(args):
    """Runs --host in a prefix of its own and passes on its exit code."""
    with prefix_of_own(args.prefix):
        code, out, err = run_program(args.prefix, [args.host] + args.arguments,
                                     os.path.dirname(args.host))
    sys.stdout.write(out.decode(errors="replace") + err)
    return code


def print_job(args):
    """--job's bytes and a NUL through BSPPring (wait --wait ms, keepPage 0)
    into the file --lpt1; prints the host's replies, exits 0 when it printed."""
    with open(args.job, "rb") as f:
        text = f.read() + b"\0"
    open(args.lpt1, "wb").close()
    with prefix_of_own(args.prefix):
        link_lpt1(args.prefix, os.path.abspath(args.lpt1))
        host = Host(args.host, args.prefix, args.locale)
        try:
            print(host.ask("load"))
            result = host.call(text, len(text) - 1, args.wait, 0)
        finally:
            host.close()
    print("call " + " ".join("%s=%s" % field for field in result.items()))
    return 0 if result["result"] == "1" else 1


# ---------------------------------------------------------------- the host

class Host:
    """One bspp_host.exe under Wine, spoken to a line at a time."""

    def __init__(self, host, prefix, locale):
        self.proc = subprocess.Popen([loader(host), host], env=wine_env(prefix, locale),
                                     cwd=os.path.dirname(host), stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.buffer = b""

    def ask(self, line, timeout=REPLY_TIMEOUT):
        self.proc.stdin.write(line.encode() + b"\n")
        self.proc.stdin.flush()
        deadline = time.monotonic() + timeout
        while b"\n" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.proc.stdout], [], [], left)[0]:
                raise RuntimeError("no reply to %r within %d s" % (line[:60], timeout))
            chunk = os.read(self.proc.stdout.fileno(), 65536)
            if not chunk:
                raise RuntimeError("host ended while asked %r" % line[:60])
            self.buffer += chunk
        reply, self.buffer = self.buffer.split(b"\n", 1)
        return reply.decode().strip()

    def call(self, text, last, wait, keep, hold=False):
        arg = "null" if text is None else (text.hex() or "-")
        reply = self.ask("call %s %d %d %d%s" % (arg, last, wait, keep, " hold" if hold else ""))
        fields = dict(f.split("=", 1) for f in reply.split()[1:] if "=" in f)
        if not reply.startswith("call result="):
            raise RuntimeError(reply)
        return fields

    def close(self, farewell=b"quit\n"):
        try:
            self.proc.stdin.write(farewell)
            self.proc.stdin.close()
            self.proc.wait(timeout=120)
        except Exception:
            self.proc.kill()


class Checks:
    def __init__(self):
        self.failed = 0
        self.passed = 0

    def expect(self, ok, what):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
            print("FAIL:", what)
        return ok

    def summary(self):
        print("%d passed, %d failed" % (self.passed, self.failed))
        return 0 if self.failed == 0 else 1


@contextlib.contextmanager
def host_in_prefix(args, **values):
    """A prefix of its own (make_prefix's values), LPT1 a file in a work
    folder, and the host running there: yields (host, LPT1's file, folder)."""
    work = tempfile.mkdtemp(prefix="bspp-wine-")
    lpt1 = os.path.join(work, "lpt1.out")
    open(lpt1, "wb").close()
    try:
        with prefix_of_own(args.prefix, **values):
            link_lpt1(args.prefix, lpt1)
            host = Host(args.host, args.prefix, args.locale)
            try:
                yield host, lpt1, work
            finally:
                host.close()
    finally:
        shutil.rmtree(work, ignore_errors=True)


def link_lpt1(prefix, target):
    link = os.path.join(prefix, "dosdevices", "lpt1")
    if os.path.lexists(link):
        os.unlink(link)
    if target is not None:
        os.symlink(target, link)


# ---------------------------------------------------------------- the jobs

def gb(s):
    return s.encode("gb2312")


HANZI = [bytes([0xB0 + i // 94, 0xA1 + i % 94]) for i in range(3000)]


def random_job(rng):
    """A mixed job: ASCII, bytes 80-9F, control bytes, Chinese characters,
    pairs that are not characters and a lead byte at the very end."""
    parts = []
    for _ in range(rng.randint(0, 120)):
        r = rng.random()
        if r < 0.45:
            parts.append(bytes([rng.randint(0x20, 0x7E)]))
        elif r < 0.5:
            parts.append(bytes([rng.choice([0x00, 0x09, 0x0A, 0x0C, 0x0D, 0x1B, 0x80, 0x9F])]))
        elif r < 0.6:
            parts.append(b" " * rng.randint(1, 30))
        elif r < 0.95:
            parts.append(rng.choice(HANZI))
        else:
            parts.append(bytes([rng.randint(0xA0, 0xFF), rng.randint(0x00, 0xFF)]))
    text = b"".join(parts)
    if rng.random() < 0.2:
        text += bytes([rng.randint(0xA0, 0xFE)])
    return text


def glyph_jobs():
    """Jobs whose ink is checked cell by cell: (name, text, keep)."""
    line40 = b"".join(HANZI[i * 7] for i in range(40))
    return [
        ("one character at column 0", b"\xb0\xa1", 1),
        ("full line of 40 characters", line40, 1),
        ("worked job", b"AB\xb0\xa1C" + b" " * 75 + b"\x00", 0),
        ("character at column 79", b"x" * 79 + b"\xb0\xa1" + b"tail", 0),
        ("mixed text", gb("打印机测试 Printer test 第一行") + b" " * 40 + gb("第二行：中文与 ASCII"), 1),
        ("two lines of characters", b"".join(HANZI[100:180]), 0),
    ]


def check_stream(checks, name, stream, text, keep, strict=True):
    problems, bands = escp_model.check(stream, escp_model.expected(text, keep), strict)
    for p in problems[:3]:
        checks.expect(False, "%s: %s" % (name, p))
    if not problems:
        checks.expect(True, name)
    return bands


def check_glyph_ink(checks, name, bands, text):
    """Every character's cell carries ink; a non-character's none."""
    for (b0, b1), cells in zip(escp_model.inked_cells(bands),
                               [band.cells for band, _ in bands[::2]]):
        for i, (lead, trail, col) in enumerate(cells):
            try:
                bytes([lead, trail]).decode("gb2312")
            except UnicodeDecodeError:
                checks.expect(i not in b0 and i not in b1,
                              "%s: ink in the cell of the non-character %02x %02x" % (name, lead, trail))
                continue
            checks.expect(i in b0 or i in b1,
                          "%s: no ink for %02x %02x at column %d" % (name, lead, trail, col))


def run_glyph_jobs(checks, host, lpt1):
    streams = {}
    for name, text, keep in glyph_jobs():
        open(lpt1, "wb").close()
        r = host.call(text, len(text) - 1, 20, keep)
        checks.expect(r["result"] == "1", "%s: result %s" % (name, r["result"]))
        with open(lpt1, "rb") as f:
            stream = f.read()
        bands = check_stream(checks, "glyphs: " + name, stream, text, keep)
        check_glyph_ink(checks, name, bands, text)
        streams[name] = stream.hex()
    # B0 A1 at column 0 inks only dot columns 5 to 20.
    one = bytes.fromhex(streams["one character at column 0"])
    data0, data1 = one[9:9 + 24], one[9 + 24 + 9:9 + 24 + 9 + 24]
    inked = [x for x in range(24) if data0[x] or data1[x]]
    checks.expect(inked and min(inked) >= 5 and max(inked) <= 20 and any(data0) and any(data1),
                  "B0 A1 ink lies in dot columns 5-20 of both bands: %s" % inked)
    return streams


def call_checks(checks, r, name, result):
    checks.expect(r["result"] == result, "%s: result %s, expected %s" % (name, r["result"], result))
    checks.expect(r["stack"] == "ok", "%s: stack pointer moved across the call" % name)
    checks.expect(r["regs"] == "ok", "%s: callee-saved registers changed" % name)
    checks.expect(int(r["eax"], 16) & 0xFF in (0, 1), "%s: AL is %s" % (name, r["eax"]))


def jobs(args):
    checks = Checks()
    with host_in_prefix(args) as (host, lpt1, work):
        checks.expect(host.ask("load").startswith("load ok"),
                      "BSPPring found by name and by ordinal 2 at the same address")
        print(host.ask("font"))

        # Many jobs, every byte checked.
        rng = random.Random(936)
        texts = [(b"HELLO\x00", 0), (b"HELLO\x00", 1), (b"HELLO", 0), (b"", 0),
                 (b"A" * 80, 0), (b"A" * 80 + b"\x00", 0), (b"A" * 80 + b"\x00", 1),
                 (bytes(range(256)), 0), (b" " * 80 + b"x", 1), (b"\x0d\x0a" * 50, 0)]
        texts += [(random_job(rng), rng.randint(0, 1)) for _ in range(60)]
        for i, (text, keep) in enumerate(texts):
            open(lpt1, "wb").close()
            r = host.call(text, len(text) - 1, 10, keep)
            call_checks(checks, r, "job %d" % i, "1")
            with open(lpt1, "rb") as f:
                # Any pair of bytes is drawn here, symbols and accented
                # letters too, whose glyphs may reach a dot past their cell.
                check_stream(checks, "job %d (%d bytes, keepPage %d)" % (i, len(text), keep),
                             f.read(), text, keep, strict=False)

        # lastIndex is the index of the last byte: a negative one is an empty
        # job, still written (zero bytes) and reported.
        open(lpt1, "wb").close()
        r = host.call(b"XYZ", -1, 10, 0)
        call_checks(checks, r, "lastIndex -1", "1")
        checks.expect(os.path.getsize(lpt1) == 0, "lastIndex -1 writes nothing")
        r = host.call(b"XYZ", 0, 10, 1)
        with open(lpt1, "rb") as f:
            checks.expect(f.read() == b"X\x1b\x32\x0d\x0a", "lastIndex 0 prints one byte")

        streams = run_glyph_jobs(checks, host, lpt1)
        with open(args.save, "w") as f:
            json.dump(streams, f)

        # The port's failure paths.
        open(lpt1, "wb").close()
        r = host.call(b"HELLO", 4, 50, 0, hold=True)
        call_checks(checks, r, "LPT1 held by the host", "0")
        checks.expect(os.path.getsize(lpt1) == 0, "nothing written while LPT1 is held")

        r = host.call(None, 5, 2000, 0)
        call_checks(checks, r, "NULL text", "0")
        checks.expect(float(r["ms"]) < 1000, "NULL text returns at once (%s ms)" % r["ms"])

        link_lpt1(args.prefix, None)
        r = host.call(b"HELLO", 4, 300, 0)
        call_checks(checks, r, "no LPT1", "0")
        checks.expect(float(r["ms"]) >= 299, "no LPT1: false after the wait (%s ms)" % r["ms"])

        link_lpt1(args.prefix, "/dev/full")
        r = host.call(b"HELLO", 4, 300, 0)
        call_checks(checks, r, "write fails at once", "0")
        checks.expect(299 <= float(r["ms"]) < 60000, "failed write: no hang (%s ms)" % r["ms"])

        big = b"".join(HANZI[i % 3000] for i in range(40 * 120))  # ~240 KB of bands
        fifo = os.path.join(work, "lpt1.fifo")
        os.mkfifo(fifo)
        link_lpt1(args.prefix, fifo)
        r = host.call(big, len(big) - 1, 300, 1)
        call_checks(checks, r, "write still pending, nobody reading", "0")
        checks.expect(float(r["ms"]) < 120000, "pending write cancelled (%s ms)" % r["ms"])

        received = bytearray()
        reads = []  # (time, bytes read so far)
        stop = threading.Event()

        def reader(delay, chunk):
            fd = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
            try:
                while not stop.is_set():
                    if select.select([fd], [], [], 0.05)[0]:
                        data = os.read(fd, chunk)
                        received.extend(data)
                        reads.append((time.monotonic(), len(received)))
                        if delay:
                            time.sleep(delay)
            finally:
                os.close(fd)

        t = threading.Thread(target=reader, args=(0.05, 512))
        t.start()
        r = host.call(big, len(big) - 1, 300, 1)
        stop.set()
        t.join()
        call_checks(checks, r, "slow reader", "0")

        stop.clear()
        received.clear()
        t = threading.Thread(target=reader, args=(0, 1 << 16))
        t.start()
        r = host.call(big, len(big) - 1, 3000, 1)
        time.sleep(0.5)
        stop.set()
        t.join()
        call_checks(checks, r, "a reader that keeps up", "1")
        check_stream(checks, "large job through a pipe", bytes(received), big, 1)

        # waitMs 0xFFFFFFFF: the call waits for the write, however long it
        # takes, and returns once it has ended: when the last bytes went
        # into the pipe, right after the reader made room for them.
        stop.clear()
        received.clear()
        reads.clear()
        t = threading.Thread(target=reader, args=(0.04, 4096))
        t.start()
        r = host.call(big, len(big) - 1, 0xFFFFFFFF, 1)
        returned = time.monotonic()
        expected_size = escp_model.expected(big, 1).size()
        deadline = time.monotonic() + 30
        while len(received) < expected_size and time.monotonic() < deadline:
            time.sleep(0.05)
        stop.set()
        t.join()
        call_checks(checks, r, "waitMs 0xFFFFFFFF, a slow reader", "1")
        check_stream(checks, "waitMs 0xFFFFFFFF: the whole job", bytes(received), big, 1)
        before = [(at, n) for at, n in reads if at <= returned]
        last_read, read_then = before[-1] if before else (0.0, 0)
        checks.expect(float(r["ms"]) > 1000 and returned - last_read < 1.0,
                      "waitMs 0xFFFFFFFF: the call took %s ms, returned %.2f s after the reader "
                      "last made room, with %d of %d bytes read"
                      % (r["ms"], returned - last_read, read_then, expected_size))

        # The line drawn in one text call gives the same stream as one call
        # per character read back dot by dot.
        link_lpt1(args.prefix, lpt1)
        for name, text, keep in glyph_jobs() + [
                ("non-characters", b"\xb0\x20\xa1\x00\xff\xff\xaa\xa1" + HANZI[5] + b"\xb0", 0),
                ("random", random_job(random.Random(1)), 0)]:
            reply = host.ask("compare %s %d" % (text.hex(), keep))
            checks.expect(reply.startswith("compare same=1"),
                          "%s: per-line drawing differs from per-character: %s" % (name, reply))

        stand_in_font_checks(checks, host, lpt1)
    return checks.summary()


def glyphs(args):
    """The glyph jobs at the code page of --locale on a screen of --dpi, as
    a DPI-aware host sees it: the same streams as at 936 and 96 dpi."""
    checks = Checks()
    with host_in_prefix(args, dpi=args.dpi) as (host, lpt1, _):
        checks.expect(host.ask("load").startswith("load ok"), "load")
        font = host.ask("font")
        print(font)
        if args.dpi:
            checks.expect("logpixels=%d" % args.dpi in font,
                          "the DPI-aware host sees %d dpi: %s" % (args.dpi, font))
        if args.acp:
            checks.expect("acp=%d" % args.acp in font,
                          "the host runs at code page %d: %s" % (args.acp, font))
        streams = run_glyph_jobs(checks, host, lpt1)
        with open(args.compare_with) as f:
            reference = json.load(f)
        for name, stream in streams.items():
            checks.expect(reference.get(name) == stream,
                          "%s: stream differs from the reference (%s)" % (name, args.compare_with))
    return checks.summary()


# ---------------------------------------------------------------- the fonts

# Characters whose strokes reach the top and the bottom of the em.
TALL_CHARACTERS = "王上量送整且"


def band_glyph(bands):
    """The ink of a one-character line's two bands as rows of bits."""
    return cut_to_ink([[(byte >> (7 - r)) & 1 for byte in data]
                       for _, data in bands[:2] for r in range(8)])


def cut_to_ink(rows):
    """(width, height, [row bits]) of the ink's box, or None without ink."""
    inked = [y for y, row in enumerate(rows) if any(row)]
    if not inked:
        return None
    cols = [x for row in rows for x, v in enumerate(row) if v]
    left, right = min(cols), max(cols)
    bits = [int("".join(str(v) for v in row[left:right + 1]), 2)
            for row in rows[inked[0]:inked[-1] + 1]]
    return right - left + 1, inked[-1] - inked[0] + 1, bits


def fit_checks(checks, host, lpt1, label, may_refuse):
    """Each tall character printed alone must carry the very ink GDI draws
    for it in a raster with room all round; where `may_refuse`, false with
    nothing written is accepted too."""
    print("%s: %s" % (label, host.ask("font")))
    reply = host.ask("tall " + gb(TALL_CHARACTERS).hex()).split()
    checks.expect(reply[0] == "tall" and len(reply) == 1 + len(TALL_CHARACTERS),
                  "%s: reference glyphs drawn: %s" % (label, " ".join(reply)[:80]))
    for ch, word in zip(TALL_CHARACTERS, reply[1:]):
        reference = cut_to_ink([[(int(h, 16) >> (63 - x)) & 1 for x in range(64)]
                                for h in word.split(",")])
        text = gb(ch)
        open(lpt1, "wb").close()
        r = host.call(text, len(text) - 1, 20, 1)
        with open(lpt1, "rb") as f:
            stream = f.read()
        if r["result"] == "0" and may_refuse:
            checks.expect(stream == b"", "%s: %s refused, yet %d bytes written"
                          % (label, ch, len(stream)))
            continue
        checks.expect(r["result"] == "1", "%s: %s: result %s" % (label, ch, r["result"]))
        problems, bands = escp_model.check(stream, escp_model.expected(text, 1), False)
        checks.expect(not problems, "%s: %s: %s" % (label, ch, problems[:1]))
        got = band_glyph(bands) if len(bands) == 2 else None
        checks.expect(got is not None and got == reference,
                      "%s: %s: the bands hold %s, GDI draws %s"
                      % (label, ch, got and got[:2], reference and reference[:2]))


def stand_in_font_checks(checks, host, lpt1):
    """With the prefix's stand-in for "宋体": the tall characters keep their
    ink; a character the face lacks stops the job before anything is sent,
    a user-defined pair does not."""
    fit_checks(checks, host, lpt1, "stand-in font", False)
    lacking = host.ask("missing").split()[1:]
    if not checks.expect(lacking, "the stand-in font lacks some GB2312 character"):
        return
    text = b"AB" + gb(TALL_CHARACTERS) + bytes.fromhex(lacking[0]) + b"CD"
    open(lpt1, "wb").close()
    r = host.call(text, len(text) - 1, 20, 0)
    checks.expect(r["result"] == "0" and os.path.getsize(lpt1) == 0,
                  "a job with %s, which the font lacks: result %s, %d bytes written"
                  % (lacking[0], r["result"], os.path.getsize(lpt1)))
    text = b"AB" + bytes.fromhex("aaa1") + b"CD"  # a user-defined (private-use) pair
    r = host.call(text, len(text) - 1, 20, 0)
    checks.expect(r["result"] == "1" and os.path.getsize(lpt1) > 0,
                  "a user-defined pair does not stop the job: result %s" % r["result"])


def fonts(args):
    """No stand-in for "宋体": the font mapper picks what it finds; each tall
    character prints whole, or the job is refused with nothing sent."""
    checks = Checks()
    with host_in_prefix(args, replacement=None) as (host, lpt1, _):
        checks.expect(host.ask("load").startswith("load ok"), "load")
        fit_checks(checks, host, lpt1, "no replacement", True)
    return checks.summary()


# ---------------------------------------------------------------- the file

class Pe:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        assert data[pe:pe + 4] == b"PE\0\0"
        self.machine, nsections, _, _, _, optsize, self.characteristics = struct.unpack_from(
            "<HHIIIHH", data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", data, opt)[0]
        dirs = opt + (112 if self.magic == 0x20B else 96)  # PE32+ or PE32
        ndirs = struct.unpack_from("<I", data, dirs - 4)[0]
        self.dirs = [struct.unpack_from("<II", data, dirs + 8 * i) for i in range(ndirs)]
        self.sections = []
        for i in range(nsections):
            s = opt + optsize + 40 * i
            vsize, va, rawsize, raw = struct.unpack_from("<IIII", data, s + 8)
            self.sections.append((va, max(vsize, rawsize), raw))

    def off(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return rva - va + raw
        raise ValueError("rva %x" % rva)

    def cstr(self, rva):
        o = self.off(rva)
        return self.data[o:self.data.index(b"\0", o)].decode()

    def exports(self):
        o = self.off(self.dirs[0][0])
        base, nfuncs, nnames, funcs, names, ords = struct.unpack_from("<IIIIII", self.data, o + 16)
        result = []
        for i in range(nnames):
            name = self.cstr(struct.unpack_from("<I", self.data, self.off(names) + 4 * i)[0])
            index = struct.unpack_from("<H", self.data, self.off(ords) + 2 * i)[0]
            result.append((name, base + index))
        return base, nfuncs, result

    def imports(self):
        o = self.off(self.dirs[1][0])
        names = []
        while True:
            entry = struct.unpack_from("<IIIII", self.data, o)
            if entry[3] == 0:
                return names
            names.append(self.cstr(entry[3]))
            o += 20

    def imported_functions(self):
        """[(dll, function name or "#ordinal")] of the import table."""
        wide = self.magic == 0x20B
        size, by_ordinal = (8, 1 << 63) if wide else (4, 1 << 31)
        result = []
        o = self.off(self.dirs[1][0])
        while True:
            lookup, _, _, name, thunks = struct.unpack_from("<IIIII", self.data, o)
            if name == 0:
                return result
            dll = self.cstr(name)
            t = self.off(lookup or thunks)
            while True:
                entry = struct.unpack_from("<Q" if wide else "<I", self.data, t)[0]
                if entry == 0:
                    break
                if entry & by_ordinal:
                    result.append((dll, "#%d" % (entry & 0xFFFF)))
                else:
                    result.append((dll, self.cstr((entry & 0x7FFFFFFF) + 2)))
                t += size
            o += 20

    def version_resource(self):
        root = self.off(self.dirs[2][0])

        def entries(o):
            named, ids = struct.unpack_from("<HH", self.data, o + 12)
            for i in range(named + ids):
                yield struct.unpack_from("<II", self.data, o + 16 + 8 * i)

        def first_leaf(o):
            for _, target in entries(o):
                if target & 0x80000000:
                    return first_leaf(root + (target & 0x7FFFFFFF))
                rva, size = struct.unpack_from("<II", self.data, root + target)
                return self.data[self.off(rva):self.off(rva) + size]

        for ident, target in entries(root):
            if ident == 16:  # RT_VERSION
                return first_leaf(root + (target & 0x7FFFFFFF))
        return None


def parse_version_block(data, o=0):
    """(key, value, children) of one VS_VERSIONINFO-style block."""
    length, value_length, is_text = struct.unpack_from("<HHH", data, o)
    end = o + length
    k = o + 6
    key_end = k
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[k:key_end].decode("utf-16-le")
    p = (key_end + 2 + 3) & ~3
    if is_text:
        value = data[p:p + 2 * value_length].decode("utf-16-le").rstrip("\0")
        p += 2 * value_length
    else:
        value = data[p:p + value_length]
        p += value_length
    p = (p + 3) & ~3
    children = []
    while p < end:
        child = parse_version_block(data, p)
        children.append(child[:3])
        p = (p + child[3] + 3) & ~3
    return key, value, children, length


def pe(args):
    checks = Checks()
    with open(args.dll, "rb") as f:
        image = Pe(f.read())
    if args.arch == "x64":
        checks.expect(image.machine == 0x8664 and image.magic == 0x20B, "a 64-bit x86-64 PE image")
    else:
        checks.expect(image.machine == 0x14C and image.magic == 0x10B, "a 32-bit x86 PE image")
    checks.expect(image.characteristics & 0x2000, "a DLL")
    base, nfuncs, names = image.exports()
    checks.expect((base, nfuncs, names) == (2, 1, [("BSPPring", 2)]),
                  "one export, BSPPring at ordinal 2, base 2: base %d, %d functions, %s"
                  % (base, nfuncs, names))
    system = {"kernel32.dll", "gdi32.dll", "user32.dll", "msvcrt.dll"}
    imports = image.imports()
    checks.expect(all(n.lower() in system for n in imports), "only system DLLs imported: %s" % imports)

    info = image.version_resource()
    checks.expect(info is not None, "a version resource")
    if info is not None:
        key, fixed, children, _ = parse_version_block(info)
        sig, _, file_ms, file_ls, prod_ms, prod_ls = struct.unpack_from("<IIIIII", fixed)
        checks.expect(key == "VS_VERSION_INFO" and sig == 0xFEEF04BD, "VS_VERSION_INFO")
        checks.expect((file_ms, file_ls, prod_ms, prod_ls) == (0x10000, 1, 0x10000, 1),
                      "FILEVERSION and PRODUCTVERSION 1,0,0,1")
        blocks = {c[0]: c for c in children}
        strings = {}
        tables = [t for t in blocks.get("StringFileInfo", ("", "", []))[2]]
        checks.expect([t[0] for t in tables] == ["080404b0"], "one string table, 080404b0")
        for t in tables:
            strings = {c[0]: c[1] for c in t[2]}
        checks.expect(strings.get("FileVersion") == "1, 0, 0, 1", "FileVersion %r" % strings.get("FileVersion"))
        checks.expect(strings.get("ProductVersion") == "1, 0, 0, 1",
                      "ProductVersion %r" % strings.get("ProductVersion"))
        checks.expect(strings.get("OriginalFilename") == "bspp.dll", "OriginalFilename")
        var = blocks.get("VarFileInfo", ("", "", []))[2]
        translation = var[0][1] if var else b""
        checks.expect(translation == struct.pack("<HH", 0x0804, 1200),
                      "Translation 0x0804, 1200: %s" % translation.hex())
    return checks.summary()


def imports(args):
    """Every function the file imports must be on the reviewed list (lines
    DLL!function, # comments), which holds only functions that the oldest
    supported Windows has."""
    checks = Checks()
    with open(args.dll, "rb") as f:
        image = Pe(f.read())
    with open(args.allowed, encoding="utf-8") as f:
        lines = [line.split("#", 1)[0].strip() for line in f]
    allowed = {(dll.lower(), fn) for dll, fn in (line.split("!") for line in lines if line)}
    found = image.imported_functions()
    checks.expect(len(found) > 10, "the import table read: %d functions" % len(found))
    for dll, function in found:
        checks.expect((dll.lower(), function) in allowed,
                      "%s imports %s!%s, which is not on %s"
                      % (os.path.basename(args.dll), dll, function, args.allowed))
    return checks.summary()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("command",
                        choices=["jobs", "glyphs", "fonts", "run", "print", "pe", "imports"])
    parser.add_argument("--prefix")
    parser.add_argument("--host")
    parser.add_argument("--dll")
    parser.add_argument("--locale", default="zh_CN.UTF-8")
    parser.add_argument("--save")
    parser.add_argument("--compare-with")
    parser.add_argument("--arch", choices=["x86", "x64"], default="x86")
    parser.add_argument("--dpi", type=int, default=0)
    parser.add_argument("--acp", type=int, default=0)
    parser.add_argument("--job")
    parser.add_argument("--lpt1")
    parser.add_argument("--wait", type=int, default=3000)
    parser.add_argument("arguments", nargs="*", help="run: the program's arguments")
    parser.add_argument("--allowed")
    args = parser.parse_intermixed_args()
    for name in ("host", "prefix"):
        if getattr(args, name):
            setattr(args, name, os.path.abspath(getattr(args, name)))
    return {"jobs": jobs, "glyphs": glyphs, "fonts": fonts, "run": run, "print": print_job,
            "pe": pe, "imports": imports}[
        args.command](args)


if __name__ == "__main__":
    sys.exit(main())
