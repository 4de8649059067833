#!/usr/bin/env python3
"""Drives bspp-printer-app as its users meet it: a server on 127.0.0.1 with a
printer on a file: (or socket:) device, jobs from ipptool and CUPS's lp. Each
test (cmd_*) starts its own server on a free port with a private state folder
(root's local socket goes in $TMPDIR) and stops it however it ends."""
import argparse, concurrent.futures, contextlib, os, plistlib, re, shutil, signal, socket, struct, subprocess, sys, threading, time, zlib
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from rasters import pwg, pwg_header, pwg_page  # noqa: E402

CUPS_TESTS = "/usr/share/cups/ipptool"
PRINTER = "dotmatrix"
COMPLETED, ABORTED, PROCESSING = 9, 8, 5
FINISHED = (7, ABORTED, COMPLETED)


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def write(path, data):
    with open(path, "wb") as f:
        f.write(data.encode() if isinstance(data, str) else data)
    return path


def read(path):
    with open(path, "rb") as f:
        return f.read()


class Server:
    def __init__(self, args, root, listen="127.0.0.1", prefix=(), options=()):
        self.args, self.root, self.proc, self.listen = args, root, None, listen
        self.prefix, self.options = list(prefix), list(options)
        self.state, self.log = os.path.join(root, "state"), os.path.join(root, "server.log")
        for d in ("state", "spool", "home", "tmp"):
            os.makedirs(os.path.join(root, d), exist_ok=True)
        with socket.create_server(("127.0.0.1", 0)) as s:
            self.port = s.getsockname()[1]
        self.env = {k: v for k, v in os.environ.items() if not k.startswith(("CUPS_", "IPP_"))}
        self.env.pop("SNAP_COMMON", None)
        self.env.update(HOME=os.path.join(root, "home"), TMPDIR=os.path.join(root, "tmp"),
                        LC_ALL="C.UTF-8")

    def uri(self):
        return "ipp://127.0.0.1:%d/ipp/print/%s" % (self.port, PRINTER)

    def start(self):
        with open(self.log, "ab") as logf:
            self.proc = subprocess.Popen(
                self.prefix + [self.args.app, "server"] + self.options + ["-o", "server-port=%d" % self.port, "-o", "listen-hostname=" + self.listen,
                 "-o", "spool-directory=" + os.path.join(self.root, "spool"),
                 "-o", "state-file=" + os.path.join(self.state, "app.state"), "-o", "log-file=" + self.log,
                 "-o", "log-level=debug"], env=self.env, stdin=subprocess.DEVNULL, stdout=logf,
                stderr=subprocess.STDOUT, start_new_session=True)
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline:
            check(self.proc.poll() is None, "server exited with %s at start" % self.proc.returncode)
            with contextlib.suppress(OSError), socket.create_connection(("127.0.0.1", self.port), 0.5):
                return
            time.sleep(0.05)
        raise Failure("server did not listen on port %d" % self.port)

    def client(self, *args):
        return subprocess.run([self.args.app, *args], env=self.env, stdin=subprocess.DEVNULL, capture_output=True,
                              text=True, timeout=30)

    def add_printer(self, device_uri):
        drivers = self.client("drivers").stdout.split()
        check(drivers, "no drivers listed")
        r = self.client("add", "-u", "ipp://127.0.0.1:%d/ipp/system" % self.port, "-d", PRINTER, "-m", drivers[0],
                        "-v", device_uri)
        check(r.returncode == 0, "adding the printer failed: %s%s" % (r.stdout, r.stderr))

    def kill(self):
        with contextlib.suppress(ProcessLookupError):
            os.killpg(self.proc.pid, signal.SIGKILL)
        self.proc.wait(10)

    def stop(self):
        """Shuts the server down; its exit status (a crash, or a leak under
        AddressSanitizer, ends it with another than 0)."""
        if not self.proc:
            return None
        status = None
        with contextlib.suppress(subprocess.TimeoutExpired):
            if self.proc.poll() is None:
                self.client("shutdown")
                status = self.proc.wait(20)
        self.kill()
        # Anything else running with this state folder (a server a client
        # sub-command started, a child left behind).
        marker = ("TMPDIR=" + self.env["TMPDIR"]).encode() + b"\0"
        for pid in filter(str.isdigit, os.listdir("/proc")):
            with contextlib.suppress(OSError):
                if int(pid) != os.getpid() and marker in read("/proc/%s/environ" % pid):
                    os.kill(int(pid), signal.SIGKILL)
        return status


@contextlib.contextmanager
def running(args, device_uri=None, listen="127.0.0.1"):
    """A fresh server (with a printer on device_uri) for a with statement; a
    server that died meanwhile fails the test."""
    server = Server(args, os.path.join(args.work, "server"), listen)
    try:
        server.start()
        if device_uri:
            server.add_printer(device_uri)
        yield server
        check(server.proc.poll() is None, "the server died: %s" % server.proc.returncode)
        status = server.stop()
        check(status == 0, "the server ended with status %s (see its log)" % status)
        logs = b"".join(read(f) for f in (server.log + ".O", server.log) if os.path.exists(f))
        engaged = [line for line in logs.decode("utf-8", "replace").splitlines() if "not engaged" in line]
        check(not engaged, "a PAPPL workaround is not in effect: %s" % engaged)
    except BaseException:
        with contextlib.suppress(OSError):
            tail = b"\n".join(read(server.log).splitlines()[-40:]).decode("utf-8", "replace")
            sys.stderr.write("--- server log ---\n%s\n" % tail)
        raise
    finally:
        server.stop()


class Device:
    """A file: device that jobs append to."""

    def __init__(self, args):
        self.path, self.seen = write(os.path.join(args.work, "device.prn"), b""), 0
        self.uri = "file://" + self.path

    def new_bytes(self):
        data = read(self.path)
        fresh, self.seen = data[self.seen:], len(data)
        return fresh


# ------------------------------------------------------------------ IPP

def ipp(uri, operation, attrs="", document=None, problems=None, user=None, via=(), status="successful-ok",
        compression=None):
    """One request through ipptool (run through `via`, e.g. in another network
    namespace, as `user`); its response groups as dicts. With a `problems`
    list, the faults ipptool finds in a successful answer are added to it
    instead of failing. With another `status`, the answer's status code is
    returned instead."""
    test = write(os.path.join(ARGS.work, "request-%d.test" % threading.get_ident()), (
        "{OPERATION %s\nGROUP operation-attributes-tag\nATTR charset attributes-charset utf-8\n"
        "ATTR naturalLanguage attributes-natural-language en\nATTR uri printer-uri $uri\n"
        "ATTR name requesting-user-name %s\n%s\n%s%s}\n")
        % (operation, user or "$user", attrs,
           ("COMPRESSION %s\n" % compression if compression else "") + ("FILE $filename\n" if document else ""),
           "STATUS successful-ok\n" if status == "successful-ok" else ""))
    r = subprocess.run(list(via) + ["ipptool", "-X", "-T", "20"] + (["-f", document] if document else []) + [uri, test],
                       capture_output=True, timeout=60)
    try:
        result = plistlib.loads(r.stdout)["Tests"][-1]
    except Exception:
        raise Failure("ipptool %s: unreadable output: %s" % (operation, r.stdout[-2000:] + r.stderr))
    if status != "successful-ok":
        return result.get("StatusCode")
    if problems is not None and result.get("StatusCode") == "successful-ok":
        problems += result.get("Errors", [])
    elif r.returncode != 0 or not result.get("Successful"):
        raise Failure("ipptool %s: %s %s" % (operation, result.get("StatusCode"), result.get("Errors", "")))
    return result.get("ResponseAttributes", [])


def group_with(groups, name):
    return next((g for g in groups if name in g), {})


JOB_ATTRS = "ATTR keyword requested-attributes job-id,job-state,job-state-reasons,job-state-message,job-name"


def print_file(server, path, fmt):
    return group_with(ipp(server.uri(), "Print-Job", "ATTR name job-name %s\nATTR mimeMediaType "
                          "document-format %s" % (os.path.basename(path), fmt), path), "job-id")["job-id"]


def wait_job(server, job, states=FINISHED, timeout=60):
    deadline = time.monotonic() + timeout
    while True:
        attrs = group_with(ipp(server.uri(), "Get-Job-Attributes", "ATTR integer job-id %d\n%s" % (job, JOB_ATTRS)),
                           "job-state")
        if attrs.get("job-state") in states:
            return attrs
        check(time.monotonic() < deadline, "job %s still in state %s" % (job, attrs.get("job-state")))
        time.sleep(0.05)


def bspp_stream(path):
    """The job bspp-print makes of a text file as the printer application lays
    it out (--wrap)."""
    r = subprocess.run([ARGS.bspp_print, "--utf8", "--lines", "--wrap", "-o", path + ".expected", path],
                       capture_output=True, text=True)
    check(r.returncode == 0, "bspp-print refused %s: %s" % (path, r.stderr))
    return read(path + ".expected")


def expect_printed(server, device, job, path, how):
    attrs = wait_job(server, job)
    check(attrs.get("job-state") == COMPLETED, "%s: job %s not completed: %s" % (how, job, attrs))
    got, want = device.new_bytes(), bspp_stream(path)
    n = next((i for i, (a, b) in enumerate(zip(got, want)) if a != b), min(len(got), len(want)))
    check(got == want, "%s: the device got %d bytes, expected %d, differing from offset %d: %r, expected %r"
          % (how, len(got), len(want), n, got[n:n + 16], want[n:n + 16]))


# ------------------------------------------------------------------ clients

# A delivery note, with a line too long for one record that breaks before a
# Chinese character would start in column 79, and a page of its own.
TEXT = ("送货单  No. 2026-1209\n\n品名: 螺丝钉 M4x20      数量: 500 个\n收货人: 王小明  电话 010-12345678\n"
        "Plain ASCII line, then an empty one.\n\n合计: ￥1,250.00\n" + "-" * 79 + "备注: 下一页\f\n第二页\n")


def cmd_clients(args):
    device = Device(args)
    with running(args) as server:
        # Before there is a printer: the server's state is dated today, and
        # asking for a printer that does not exist is an error.
        r = server.client("status")
        check(r.returncode == 0 and time.strftime("%Y") in r.stdout and "1970" not in r.stdout,
              "status without printers: %s%s" % (r.stdout, r.stderr))
        r = server.client("jobs", "-d", "missing")
        check(r.returncode != 0 and "not found" in r.stderr, "jobs -d missing: %d %s" % (r.returncode, r.stderr))
        # Listing devices looks for network printers too, with or without an Avahi daemon.
        r = server.client("devices")
        check(r.returncode == 0, "devices ended with %d: %s" % (r.returncode, r.stderr))
        server.add_printer(device.uri)
        note = write(os.path.join(args.work, "note.txt"), TEXT)
        expect_printed(server, device, print_file(server, note, "text/plain"), note, "ipptool Print-Job")

        # Characters outside GB2312 (counted from 1): the euro sign, then 喆.
        for text, place in (("第一行\n第二行\n价格: €12\n", "line 3, column 5"), ("好\n喆\n", "line 2, column 1")):
            attrs = wait_job(server, print_file(server, write(os.path.join(args.work, "bad.txt"), text), "text/plain"))
            check(attrs.get("job-state") == ABORTED and place in str(attrs.get("job-state-message")),
                  "a job with a character outside GB2312 at %s was not aborted naming it: %s" % (place, attrs))
            check(device.new_bytes() == b"", "the aborted job wrote to the device")

        # The next job prints; CUPS's lp names the queue ipp://HOST/printers/NAME, as its scheduler does.
        other = write(os.path.join(args.work, "other.txt"), TEXT.replace("500", "750"))
        r = subprocess.run(["lp", "-h", "127.0.0.1:%d" % server.port, "-d", PRINTER, other], capture_output=True,
                           text=True, timeout=60, env=server.env)
        m = re.search(r"request id is \S+-(\d+)", r.stdout)
        check(r.returncode == 0 and m, "lp failed (exit %d): %s%s" % (r.returncode, r.stdout, r.stderr))
        expect_printed(server, device, int(m.group(1)), other, "lp")

        with urllib.request.urlopen("http://127.0.0.1:%d/" % server.port, timeout=20) as r:
            home = r.read().decode("utf-8", "replace")
        check(PRINTER in home, "the web page does not name the printer:\n%s" % home[:2000])

        # parallel: takes a character device only, wherever a path or a link leads.
        target = write(os.path.join(args.work, "not-a-port"), b"keep me")
        link = os.path.join(args.work, "lp-link")
        os.symlink(target, link)
        for i, uri in enumerate(("parallel:/dev/../" + target.lstrip("/"), "parallel:" + link)):
            name = "notaport%d" % i
            r = server.client("add", "-d", name, "-m", "escp9_80", "-v", uri)
            check(r.returncode == 0, "adding %s failed: %s" % (uri, r.stderr))
            uri_p = "ipp://127.0.0.1:%d/ipp/print/%s" % (server.port, name)
            job = group_with(ipp(uri_p, "Print-Job", "ATTR mimeMediaType document-format text/plain", note), "job-id")["job-id"]
            time.sleep(1)
            state = group_with(ipp(uri_p, "Get-Job-Attributes", "ATTR integer job-id %d\n%s" % (job, JOB_ATTRS)),
                               "job-state").get("job-state")
            check(state != COMPLETED and read(target) == b"keep me", "%s took a job into a file" % uri)
            ipp(uri_p, "Cancel-Job", "ATTR integer job-id %d" % job)
        check("is not a printer port" in read(server.log).decode("utf-8", "replace"),
              "no log line says the file is not a printer port")


# ------------------------------------------------------------------ pictures

def picture(width, height, boxes):
    """White 8-bit grey rows with black boxes (x0, y0, x1, y1 in pixels)."""
    rows = [bytearray(b"\xff" * width) for _ in range(height)]
    for x0, y0, x1, y1 in boxes:
        for row in rows[y0:y1]:
            row[x0:x1] = b"\x00" * (x1 - x0)
    return [bytes(r) for r in rows]


def pwg_raster(path, rows, dpi):
    """One letter page of 8-bit grey PWG raster, PackBits lines."""
    write(path, pwg([pwg_page(rows, len(rows[0]), dpi, letter=True)]))


def printed_page(server, device, path, fmt):
    """The one page the job printed, as the preview shows it at 360 ppi."""
    from PIL import Image
    attrs = wait_job(server, print_file(server, path, fmt))
    check(attrs.get("job-state") == COMPLETED, "%s: the job did not complete: %s" % (fmt, attrs))
    stream = write(path + ".prn", device.new_bytes())
    r = subprocess.run([ARGS.bspp_print, "--stream", "--preview", path + ".png", stream], capture_output=True,
                       text=True)
    pages = re.match(r".*preview: 1 page:(.*)$", r.stderr.strip())
    check(r.returncode == 0 and pages, "%s: the preview found other than one good page:\n%s" % (fmt, r.stderr))
    return Image.open(pages.group(1).split()[0]).convert("L")


def ink(img):
    """The box around the dark pixels of a grey picture, or None."""
    return img.point(lambda v: 255 if v < 128 else 0).getbbox()


def cmd_pictures(args):
    from PIL import Image
    device = Device(args)
    with running(args, device.uri) as server:
        # A 4:5 JPEG: a black bar, a checkerboard and a black block. Scaled
        # to the 8-inch print line, it prints 10 inches high in the middle
        # of the 11-inch page, a quarter inch in, showing the same pattern.
        w, h, ppi = 400, 500, 360
        boxes = [(0, 0, 100, 500), (150, 300, 400, 500)] + [
            (150 + i * 50, j * 50, 200 + i * 50, 50 + j * 50) for j in range(5) for i in range(5) if (i + j) % 2 == 0]
        pic = Image.frombytes("L", (w, h), b"".join(picture(w, h, boxes)))
        pic.convert("RGB").save(os.path.join(args.work, "picture.jpg"), quality=92)
        page = printed_page(server, device, os.path.join(args.work, "picture.jpg"), "image/jpeg")
        box = ink(page)
        check(box, "the JPEG printed a blank page")
        left, top, width, height = (v / ppi for v in (box[0], box[1], box[2] - box[0], box[3] - box[1]))
        check(abs(width - 8.0) <= 0.1 and abs(height - 10) <= 0.1 and abs(left - 0.25) <= 0.1
              and abs(top + height / 2 - 5.5) <= 0.15, "the JPEG printed %.2f x %.2f in at %.2f, %.2f in; expected "
              "8 x 10 in at 0.25, 0.5 in" % (width, height, left, top))
        got, want = (img.resize((8, 8), Image.BOX) for img in (page.crop(box), pic))
        worst = max(abs(got.getpixel((x, y)) - want.getpixel((x, y))) / 255 for x in range(8) for y in range(8))
        check(worst <= 0.3, "the printed JPEG's pattern differs from the picture's (worst cell %.2f)" % worst)

        # PWG raster at 360 dpi: rectangles print at their size and place
        # (in inches; the print head's reach and dithering tolerated), and
        # nothing prints where the page is white.
        shapes = [(1, 1, 3, 2), (4, 3, 5, 6), (1.5, 7, 6.5, 7.5)]
        dpi = 360
        path = os.path.join(args.work, "page.pwg")
        pwg_raster(path, picture(int(8.5 * dpi), 11 * dpi, [[int(v * dpi) for v in s] for s in shapes]), dpi)
        page = printed_page(server, device, path, "image/pwg-raster")
        found = []
        for x0, y0, x1, y1 in shapes:
            win = [int(v * ppi) for v in (max(0, x0 - 0.5), max(0, y0 - 0.5), x1 + 0.5, y1 + 0.5)]
            b = ink(page.crop(win))
            check(b, "nothing printed near the rectangle at %.1f, %.1f in" % (x0, y0))
            f = [(b[i] + win[i % 2]) / ppi for i in range(4)]
            found.append(f)
            check(abs(f[2] - f[0] - (x1 - x0)) <= 0.06 and abs(f[3] - f[1] - (y1 - y0)) <= 0.06
                  and abs(f[0] - x0) <= 0.3 and abs(f[1] - y0) <= 0.3,
                  "the rectangle at %s in printed at %s" % ((x0, y0, x1, y1), ["%.2f" % v for v in f]))
        check(abs(found[1][0] - found[0][0] - 3) <= 0.05 and abs(found[2][1] - found[0][1] - 6) <= 0.05,
              "the rectangles moved against each other: %s" % found)
        for x0, y0, x1, y1 in ((3.4, 1, 3.8, 2), (2, 3, 3.6, 6), (0.5, 8, 7.5, 10.5)):
            check(ink(page.crop([int(v * ppi) for v in (x0, y0, x1, y1)])) is None,
                  "ink where the page is white (%s in)" % ((x0, y0, x1, y1),))


# ------------------------------------------------------------------ conformance

# Faults of PAPPL 1.3.1 itself that the application cannot mend, as ipptool
# reports them. Every other failure fails.
PAPPL_FAULTS = {
    # PAPPL 1.3.1 has no page or document overrides.
    ("PWG 5100.14 section 5.1/5.2 - Required Operations and Attributes", "EXPECTED: overrides-supported"),
}


def run_suite(uri, test, document, least_passed):
    """One of CUPS's conformance files: fails on a failure not in
    PAPPL_FAULTS, when none ran, or when fewer than least_passed passed."""
    r = subprocess.run(["ipptool", "-V", "2.0", "-t", "-I", "-T", "30", "-f", document, uri, test],
                       capture_output=True, text=True, timeout=600)
    write(test + ".out", r.stdout + r.stderr)
    passed, failures, name = 0, [], None
    for line in r.stdout.splitlines():
        m = re.match(r"\s{4}(\S.*?)\s+\[(PASS|FAIL|SKIP)\]$", line)
        if m:
            passed += m.group(2) == "PASS"
            name = m.group(1) if m.group(2) == "FAIL" else None
            if name:
                failures.append((name, "(no EXPECTED line)"))
        elif name and re.match(r"\s+EXPECTED: ", line):
            if failures[-1] == (name, "(no EXPECTED line)"):
                failures.pop()
            failures.append((name, line.strip()))
    for fault in sorted(set(failures) & PAPPL_FAULTS):
        print("known PAPPL 1.3.1 fault, tolerated: %s: %s" % fault)
    unexplained = sorted(set(failures) - PAPPL_FAULTS)
    check(not unexplained and passed >= least_passed and (passed or failures) and (r.returncode == 0 or failures),
          "%s: %d passed; failed:\n  %s\n%s" % (os.path.basename(test), passed,
                                                 "\n  ".join(": ".join(f) for f in unexplained), r.stderr))


def cmd_conformance(args):
    from PIL import Image, ImageDraw
    device = Device(args)
    suite = os.path.join(args.work, "suite")
    os.makedirs(suite)
    shutil.copy(os.path.join(CUPS_TESTS, "ipp-1.1.test"), suite)
    shutil.copy(os.path.join(CUPS_TESTS, "ipp-2.0.test"), suite)
    # The pictures the files print; ipptool reads the PDF and PostScript
    # files they name even when the printer takes neither.
    img = Image.new("RGB", (600, 800), "white")
    ImageDraw.Draw(img).ellipse((300, 400, 550, 750), fill=(20, 40, 200))
    for name in ("color", "document"):
        img.save(os.path.join(suite, name + ".jpg"))
    img.convert("L").save(os.path.join(suite, "gray.jpg"))
    for name in ("a4", "letter"):
        write(os.path.join(suite, "document-%s.ps" % name), "%!PS-Adobe-3.0\nshowpage\n")
        write(os.path.join(suite, "document-%s.pdf" % name), "%PDF-1.4\n%%EOF\n")
    # The printer attribute test of ipp-everywhere.test, as a file of its own.
    text = read(os.path.join(CUPS_TESTS, "ipp-everywhere.test")).decode()
    start = text.rindex("{", 0, text.index('NAME "PWG 5100.14 section 5.1/5.2'))
    depth = end = 0
    for end in range(start, len(text)):
        depth += {"{": 1, "}": -1}.get(text[end], 0)
        if depth == 0:
            break
    everywhere = write(os.path.join(suite, "everywhere.test"), text[start:end + 1] + "\n")
    with running(args, device.uri) as server:
        time.sleep(1.1)  # printer-up-time must be above 0
        run_suite(server.uri(), os.path.join(suite, "ipp-2.0.test"), os.path.join(suite, "document.jpg"), 30)
        run_suite(server.uri(), everywhere, os.path.join(suite, "document.jpg"), 0)

        # What phones and Windows read: a JPEG size they may send, an IEEE 1284
        # device ID that parses, no certification claimed, URF media types
        # that are the printer's.
        attrs = group_with(ipp(server.uri(), "Get-Printer-Attributes"), "printer-name")
        jpeg, job = attrs.get("jpeg-k-octets-supported"), attrs.get("job-k-octets-supported")
        check(jpeg and jpeg == job and str(jpeg) != "0-0", "jpeg-k-octets-supported is %s (job: %s)" % (jpeg, job))
        check("mopria-certified" not in attrs, "mopria-certified is claimed: %s" % attrs.get("mopria-certified"))
        fields = dict(f.split(":", 1) for f in attrs.get("printer-device-id", "").split(";") if f)
        check(all(k in fields for k in ("MFG", "MDL", "CMD")) and
              set(fields["CMD"].split(",")) >= {"ESCP", "TXT", "JPEG", "PNG", "PWGRaster", "URF"} and
              not any("/" in c for c in fields["CMD"].split(",")), "printer-device-id: %s" % attrs.get("printer-device-id"))
        mt = [u for u in attrs.get("urf-supported", []) if u.startswith("MT")]
        types = attrs.get("media-type-supported")
        check(mt == ["MT1"] and types in ("stationery", ["stationery"]),
              "urf-supported %s against media-type-supported %s" % (mt, types))


# ------------------------------------------------------------------ load

def cmd_load(args):
    """Four clients at once, each sending text, PWG raster and PNG jobs: every
    job's stream reaches the device once, whole, one after another (the
    pictures' streams are first printed one at a time, to know them)."""
    from PIL import Image
    device = Device(args)
    docs = {}  # every job different in length and content: key -> (path, format)
    for c in range(4):
        for j in range(20):
            key = (c, j)
            if j % 5 == 3:  # a PWG raster page: a bar whose place tells the job
                rows = picture(int(8.5 * 180), 180, [(5 * j + 100 * c, 40, 5 * j + 100 * c + 150, 140)])
                docs[key] = (os.path.join(args.work, "c%d-j%02d.pwg" % key), "image/pwg-raster")
                pwg_raster(docs[key][0], rows, 180)
            elif j % 5 == 4:  # a small PNG
                img = Image.new("L", (60 + 10 * c + j, 40), 255)
                img.paste(0, (5, 5, 20 + j, 30))
                docs[key] = (os.path.join(args.work, "c%d-j%02d.png" % key), "image/png")
                img.save(docs[key][0])
            else:
                lines = ["客户 %d 的第 %d 份作业" % key] + ["行 %02d 数据 %s" % (k, "甲乙丙丁"[k % 4] * (k % 7 + 1))
                                                       for k in range(1 + (c * 20 + j) % 9)]
                docs[key] = (write(os.path.join(args.work, "c%d-j%02d.txt" % key), "\n".join(lines) + "\n"),
                             "text/plain")
    expected = {key: bspp_stream(path) for key, (path, fmt) in docs.items() if fmt == "text/plain"}
    with running(args, device.uri) as server:
        for key, (path, fmt) in docs.items():
            if fmt != "text/plain":
                check(wait_job(server, print_file(server, path, fmt)).get("job-state") == COMPLETED,
                      "picture %s did not print alone" % (key,))
                expected[key] = device.new_bytes()
        check(len(set(expected.values())) == len(expected), "two jobs make the same stream")
        with concurrent.futures.ThreadPoolExecutor(4) as pool:  # one client a thread, 20 jobs each
            jobs = dict(sum(pool.map(lambda c: [((c, j), print_file(server, *docs[(c, j)])) for j in range(20)],
                                     range(4)), []))
        check(len(set(jobs.values())) == 80, "job ids are not unique: %s" % jobs)
        for key, job in sorted(jobs.items()):
            attrs = wait_job(server, job)
            check(attrs.get("job-state") == COMPLETED, "job %s %s did not complete: %s" % (job, key, attrs))
        # The device holds each stream exactly once, whole, one after another.
        data, pos, seen = device.new_bytes(), 0, set()
    by_stream = {stream: key for key, stream in expected.items()}
    while pos < len(data):
        match = [s for s in by_stream if data.startswith(s, pos)]
        check(match, "at offset %d the device holds no job's whole stream (interleaved or cut)" % pos)
        key = by_stream[max(match, key=len)]
        check(key not in seen, "job %s printed twice" % (key,))
        seen.add(key)
        pos += len(expected[key])
    check(seen == set(expected), "jobs that never reached the device: %s" % sorted(set(expected) - seen))


# ------------------------------------------------------------------ restart

class SlowPort:
    """A printer port (a pseudo-terminal) that takes nothing until released,
    so that a job stays in the middle of its transfer; what it took."""

    def __init__(self):
        import tty
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        self.uri = "parallel:" + os.ttyname(self.slave)
        self.received, self.reading = bytearray(), threading.Event()
        threading.Thread(target=self.drain, daemon=True).start()

    def drain(self):
        self.reading.wait()
        with contextlib.suppress(OSError):
            for chunk in iter(lambda: os.read(self.master, 65536), b""):
                self.received += chunk

    def taken(self):
        """How many bytes the port took."""
        return len(self.received)

    def holds(self):
        """How many bytes wait in the port, not read yet."""
        import fcntl, termios
        count = bytearray(4)
        fcntl.ioctl(self.master, termios.FIONREAD, count)
        return struct.unpack("i", bytes(count))[0]

    def close(self):
        self.reading.set()
        os.close(self.slave)


def cmd_restart(args):
    port = SlowPort()
    # 12000 Chinese lines: far more graphics than the port's buffer holds.
    text = write(os.path.join(args.work, "long.txt"), "".join(
        "第 %05d 行: 打印机重启测试 中文字符 %s\n" % (i, "甲乙丙丁戊"[i % 5] * 10) for i in range(12000)))
    want = bspp_stream(text)
    try:
        with running(args, port.uri) as server:
            job = print_file(server, text, "text/plain")
            wait_job(server, job, states=(PROCESSING,), timeout=20)
            deadline = time.monotonic() + 30
            while port.holds() == 0:  # until the job has begun to write, and waits
                check(time.monotonic() < deadline, "the job never reached the port")
                time.sleep(0.1)
            time.sleep(1.5)  # a busy server saves its state within a second
            server.kill()  # in the middle of the transfer
            port.reading.set()
            time.sleep(1)
            cut = port.taken()
            check(0 < cut < len(want), "the port took %d of %d bytes before the kill" % (cut, len(want)))
            server.start()  # same state folder, same port
            printer = group_with(ipp(server.uri(), "Get-Printer-Attributes"), "printer-name")
            check(printer.get("printer-name") == PRINTER, "the printer is gone after the restart: %s" % printer)
            # Printed again whole, or failed; not lost, not left in between.
            problems, deadline, state = [], time.monotonic() + 20, None
            while state not in FINISHED and time.monotonic() < deadline:
                jobs = ipp(server.uri(), "Get-Jobs", "ATTR keyword which-jobs all\n" + JOB_ATTRS, problems=problems)
                state = group_with([g for g in jobs if g.get("job-id") == job], "job-state").get("job-state")
                check(state is not None, "job %d, interrupted by the kill, is not reported after the restart" % job)
                time.sleep(0.2)
            check(state in FINISHED, "job %d stays in state %s after the restart" % (job, state))
            deadline = time.monotonic() + 10
            while state == COMPLETED and bytes(port.received[cut:cut + len(want)]) != want:
                check(time.monotonic() < deadline, "job %d is reported completed but was not printed again whole "
                      "(%d bytes after the first %d)" % (job, len(port.received) - cut, cut))
                time.sleep(0.1)
            check(not problems, "after the restart: %s" % problems)
            after = print_file(server, write(os.path.join(args.work, "short.txt"), "重启之后\n"), "text/plain")
            check(after != job and wait_job(server, after).get("job-state") == COMPLETED,
                  "the job after the restart did not print")
    finally:
        port.close()


# ------------------------------------------------------------------ stuck printer

def long_text(path, lines=4000):
    return write(path, "".join("第 %05d 行: 打印机卡住测试 %s\n" % (i, "甲乙丙丁戊"[i % 5] * 10) for i in range(lines)))


def cmd_stuck(args):
    """A printer that takes nothing (a pseudo-terminal nobody reads): a job
    on it can be canceled, and the server stops with it, losing nothing."""
    import tty
    master, slave = os.openpty()
    tty.setraw(slave)
    port = os.ttyname(slave)
    text = long_text(os.path.join(args.work, "long.txt"))
    try:
        with running(args, "parallel:" + port) as server:
            job = print_file(server, text, "text/plain")
            wait_job(server, job, states=(PROCESSING,), timeout=20)
            time.sleep(2)  # the port took what fits and waits
            start = time.monotonic()
            ipp(server.uri(), "Cancel-Job", "ATTR integer job-id %d" % job)
            attrs = wait_job(server, job, timeout=15)
            check(attrs.get("job-state") == 7, "the stuck job was not canceled: %s" % attrs)
            print("canceled in %.1f s" % (time.monotonic() - start))

            for how in ("SIGTERM", "shutdown"):
                job = print_file(server, text, "text/plain")
                wait_job(server, job, states=(PROCESSING,), timeout=20)
                start = time.monotonic()
                if how == "SIGTERM":
                    server.proc.send_signal(signal.SIGTERM)
                else:
                    server.client("shutdown")
                try:
                    server.proc.wait(30)
                except subprocess.TimeoutExpired:
                    raise Failure("%s: the server did not stop within 30 s with a stuck job" % how)
                print("%s: stopped in %.1f s" % (how, time.monotonic() - start))
                server.start()
                # Kept, and printed again from the start: on this port it
                # waits again, printing.
                attrs = wait_job(server, job, states=(PROCESSING,), timeout=15)
                check(attrs.get("job-state") == PROCESSING,
                      "%s: the job kept is not printed after the restart: %s" % (how, attrs))
                ipp(server.uri(), "Cancel-Job", "ATTR integer job-id %d" % job)
                wait_job(server, job, timeout=15)

            # Once somebody reads, the next job prints whole.
            reader = threading.Thread(target=lambda: [None for _ in iter(lambda: os.read(master, 65536), b"")],
                                      daemon=True)
            reader.start()
            short = write(os.path.join(args.work, "short.txt"), "卡住之后\n")
            check(wait_job(server, print_file(server, short, "text/plain"), timeout=30).get("job-state") == COMPLETED,
                  "the job after the stuck ones did not print")
    finally:
        os.close(slave)


# ------------------------------------------------------------------ state under SIGKILL

def cmd_statekill(args):
    """The state file after a SIGKILL at any moment: the old or the new state,
    never a cut one: the printer is there after every restart. The kill comes
    at a random moment, or at once when the state file is seen empty (a
    save that writes the file in place). A job the server acknowledged is
    never lost, however soon the kill comes after it."""
    import random
    device = Device(args)
    rng = random.Random(1209)
    with running(args, device.uri) as server:
        note = write(os.path.join(args.work, "note.txt"), TEXT)
        state = os.path.join(server.state, "app.state")
        for round in range(20):
            # Changes to save: a job, and the printer's location.
            sent = [print_file(server, note, "text/plain") for _ in range(2)]
            ipp(server.uri(), "Set-Printer-Attributes", "GROUP printer-attributes-tag\n"
                "ATTR text printer-location round-%d" % round)
            deadline = time.monotonic() + rng.uniform(0, 1.5)
            while time.monotonic() < deadline:
                with contextlib.suppress(OSError):
                    if os.stat(state).st_size == 0:
                        break
            server.kill()
            server.start()
            printer = group_with(ipp(server.uri(), "Get-Printer-Attributes"), "printer-name")
            check(printer.get("printer-name") == PRINTER, "round %d: the printer is gone after a SIGKILL" % round)
            location = printer.get("printer-location", "")
            check(location in ("", "round-%d" % round, "round-%d" % (round - 1)),
                  "round %d: the location is %r" % (round, location))
            kept = {g.get("job-id") for g in ipp(server.uri(), "Get-Jobs", "ATTR keyword which-jobs all\n" + JOB_ATTRS)}
            check(kept.issuperset(sent), "round %d: jobs %s, acknowledged before the kill, are lost"
                  % (round, sorted(set(sent) - kept)))


# ------------------------------------------------------------------ hostile documents

def raw_ipp(server, operation, attrs, document=b""):
    """One IPP request built by hand (operation attributes as (tag, name,
    value) triples), sent over HTTP; the HTTP status and the job-id
    answered, or None when the server closed the connection."""
    import http.client
    body = bytearray(struct.pack(">BBHI", 2, 0, operation, 1) + b"\x01")
    for tag, name, value in [(0x47, "attributes-charset", b"utf-8"), (0x48, "attributes-natural-language", b"en"),
                             (0x45, "printer-uri", server.uri().encode())] + list(attrs):
        body += struct.pack(">BH", tag, len(name)) + name.encode() + struct.pack(">H", len(value) & 0xFFFF) + value
    body += b"\x03" + document
    headers = {"Content-Type": "application/ipp"}
    conn = http.client.HTTPConnection("127.0.0.1", server.port, timeout=30)
    try:
        conn.request("POST", "/ipp/print/" + PRINTER, bytes(body), headers)
        response = conn.getresponse()
        answer = response.read()
        at = answer.find(b"\x00\x06job-id\x00\x04")
        return response.status, struct.unpack(">i", answer[at + 10:at + 14])[0] if at >= 0 else None
    except (OSError, http.client.HTTPException):
        return None, None
    finally:
        conn.close()


def peak_memory_mib(pid):
    with open("/proc/%d/status" % pid) as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmHWM:")) / 1024


def cmd_hostile(args):
    """Documents that lie, are cut short or are huge: each ends printed or
    aborted with a message, the next job prints, and memory stays bounded."""
    device = Device(args)
    with running(args, device.uri) as server:
        short = write(os.path.join(args.work, "short.txt"), "下一个作业\n")

        def next_job_prints(after):
            start = time.monotonic()
            attrs = wait_job(server, print_file(server, short, "text/plain"), timeout=60)
            check(attrs.get("job-state") == COMPLETED, "after %s the next job did not print: %s" % (after, attrs))
            check(time.monotonic() - start < 10, "after %s the next job took %.1f s" % (after, time.monotonic() - start))
            device.new_bytes()

        # Text of any size is composed and sent a piece at a time.
        newlines = write(os.path.join(args.work, "newlines.txt"), b"\n" * (4 << 20))
        attrs = wait_job(server, print_file(server, newlines, "text/plain"), timeout=120)
        check(attrs.get("job-state") == COMPLETED, "4 MB of line breaks did not print: %s" % attrs)
        check(len(device.new_bytes()) == (4 << 20) * 4 + 5, "4 MB of line breaks printed wrong")
        bomb = os.path.join(args.work, "bomb.txt.gz")
        with open(bomb, "wb") as f:
            z = zlib.compressobj(9, zlib.DEFLATED, 31)
            for _ in range(64):
                f.write(z.compress(b"a" * (1 << 20)))
            f.write(z.flush())
        job = group_with(ipp(server.uri(), "Print-Job", "ATTR mimeMediaType document-format text/plain\n"
                             "ATTR keyword compression gzip", bomb), "job-id")["job-id"]
        attrs = wait_job(server, job, timeout=120)
        check(attrs.get("job-state") == COMPLETED, "a 64 MB text sent gzip-compressed did not print: %s" % attrs)
        check(len(device.new_bytes()) > 64 << 20, "the 64 MB text did not reach the printer whole")
        next_job_prints("a gzip-compressed 64 MB text")

        # A request with a 10 MB attribute is refused whole; nothing of it is kept.
        status, _ = raw_ipp(server, 0x0002, [(0x42, "requesting-user-name", b"mallory"),
                                          (0x42, "job-name", b"x" * (10 << 20)),
                                          (0x49, "document-format", b"text/plain")], b"hello\n")
        check(status != 200, "a request with a 10 MB attribute was accepted")
        next_job_prints("a 10 MB attribute")

        # Bytes that are neither text nor a picture say so.
        garbage = write(os.path.join(args.work, "garbage.bin"), bytes(range(256)) * 64)
        attrs = wait_job(server, print_file(server, garbage, "application/octet-stream"))
        check(attrs.get("job-state") == ABORTED and "neither text" in str(attrs.get("job-state-message")),
              "an unknown document was not aborted with a message: %s" % attrs)
        check(device.new_bytes() == b"", "the unknown document reached the printer")
        next_job_prints("an unknown document")

        # Pictures that lie in their headers, are cut short or are huge.
        def lying_pwg(width, height, dpi, body=b""):
            return pwg([pwg_header(width, height, dpi, letter=True) + body])

        def png_header(width, height):
            def chunk(kind, data):
                return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
            return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0))
                    + chunk(b"IDAT", zlib.compress(bytes(300))) + chunk(b"IEND", b""))

        from PIL import Image
        good = os.path.join(args.work, "good.png")
        Image.new("L", (400, 300), 128).save(good)
        for name, data, fmt, want in (
                ("a 1 dpi page of 40,000,000 rows", lying_pwg(8, 40000000, 1), "image/pwg-raster", ABORTED),
                ("a page 4,000,000,000 pixels wide", lying_pwg(4000000000, 10, 360), "image/pwg-raster", ABORTED),
                ("a page 200,000,000 pixels wide", lying_pwg(200000000, 10, 360), "image/pwg-raster", ABORTED),
                ("a page of 100,000 rows on letter",
                 lying_pwg(1530, 100000, 180, bytes([255] + [127, 0] * 11 + [121, 0]) * 391), "image/pwg-raster",
                 COMPLETED),
                ("a cut PNG", read(good)[:len(read(good)) // 2], "image/png", ABORTED),
                ("a PNG of 100000 x 100000", png_header(100000, 100000), "image/png", ABORTED)):
            path = write(os.path.join(args.work, "hostile.doc"), data)
            start = time.monotonic()
            attrs = wait_job(server, print_file(server, path, fmt), timeout=60)
            check(attrs.get("job-state") == want and (want == COMPLETED or attrs.get("job-state-message")),
                  "%s: %s" % (name, attrs))
            print("%s: %s in %.1f s: %s" % (name, "completed" if want == COMPLETED else "aborted",
                                          time.monotonic() - start, attrs.get("job-state-message")))
            printed = device.new_bytes()
            if want == COMPLETED:
                check(printed.count(b"\f") == 1, "%s printed %d pages" % (name, printed.count(b"\f")))
            next_job_prints(name)

        peak = peak_memory_mib(server.proc.pid)
        print("server peak memory: %.0f MiB" % peak)
        check(peak < 200, "the server's memory peaked at %.0f MiB" % peak)


# ------------------------------------------------------------------ least privilege

def cmd_unprivileged(args):
    """The server as its systemd unit runs it: a user of its own, in group lp,
    with no privileges to gain, listening on a local socket where root's
    sub-commands find it. It reaches a printer port of group lp and prints."""
    import grp, pwd, tty
    if os.getuid() != 0 or not shutil.which("setpriv"):
        print("SKIP: needs root and setpriv to start the server as another user")
        return SKIPPED
    nobody, lp = pwd.getpwnam("nobody"), grp.getgrnam("lp")
    master, slave = os.openpty()
    tty.setraw(slave)
    port = os.ttyname(slave)
    os.chown(port, 0, lp.gr_gid)
    os.chmod(port, 0o660)
    received = bytearray()

    def read_port():
        with contextlib.suppress(OSError):
            for chunk in iter(lambda: os.read(master, 65536), b""):
                received.extend(chunk)
    threading.Thread(target=read_port, daemon=True).start()
    root = os.path.join(args.work, "server")
    server = Server(args, root, prefix=["setpriv", "--reuid=%d" % nobody.pw_uid, "--regid=%d" % nobody.pw_gid,
                                        "--groups=%d" % lp.gr_gid, "--no-new-privs"],
                    options=["-o", "local-socket=" + os.path.join(root, "tmp", "bspp-printer-app.sock")])
    for d, _, _ in os.walk(root):
        os.chown(d, nobody.pw_uid, nobody.pw_gid)
    try:
        server.start()
        with open("/proc/%d/status" % server.proc.pid) as f:
            status = f.read()
        check(re.search(r"^Uid:\s+%d\s" % nobody.pw_uid, status, re.M) and
              re.search(r"^Groups:.*\b%d\b" % lp.gr_gid, status, re.M), "the server runs as:\n%s" % status)
        server.add_printer("parallel:" + port)
        note = write(os.path.join(args.work, "note.txt"), TEXT)
        attrs = wait_job(server, print_file(server, note, "text/plain"))
        check(attrs.get("job-state") == COMPLETED, "the unprivileged server did not print: %s" % attrs)
        want = bspp_stream(note)
        deadline = time.monotonic() + 5
        while bytes(received) != want and time.monotonic() < deadline:
            time.sleep(0.05)
        check(bytes(received) == want, "the port got %d bytes, expected %d" % (len(received), len(want)))
        # It can write nowhere but its own folders: a file: printer elsewhere fails.
        server.client("add", "-d", "elsewhere", "-m", "escp9_80", "-v", "file:///etc/bspp-test-never")
        check(not os.path.exists("/etc/bspp-test-never"), "the unprivileged server wrote into /etc")
    finally:
        server.stop()
        os.close(slave)

    # The unit that runs it so: valid, and hardened (systemd's own score).
    unit = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "printer-app",
                        "bspp-printer-app.service.in")
    text = read(unit).decode().replace("@BINDIR@", os.path.dirname(os.path.abspath(args.app)))
    path = write(os.path.join(args.work, "bspp-printer-app.service"), text.replace("@DOCDIR@", "/usr/share/doc/bspp"))
    if shutil.which("systemd-analyze"):
        r = subprocess.run(["systemd-analyze", "verify", path], capture_output=True, text=True)
        check(r.returncode == 0, "systemd-analyze verify: %s" % r.stderr)
        r = subprocess.run(["systemd-analyze", "security", "--offline=yes", "--threshold=45", path],
                           capture_output=True, text=True)
        check(r.returncode == 0, "the unit's exposure is above 4.5:\n%s" % r.stdout[-600:])


# ------------------------------------------------------------------ a CUPS queue

class Cupsd:
    """A private CUPS scheduler: its own folders, a local socket and a
    loopback port, nothing of the system's /etc/cups or /run/cups."""

    def __init__(self, root):
        self.root, self.proc = root, None
        for d in ("cache", "state", "spool", "tmp", "ppd", "log"):
            os.makedirs(os.path.join(root, d), exist_ok=True)
        os.chmod(root, 0o755)
        self.socket = os.path.join(root, "cups.sock")
        with socket.create_server(("127.0.0.1", 0)) as s:
            self.port = s.getsockname()[1]
        write(os.path.join(root, "cupsd.conf"),
              "Listen 127.0.0.1:%d\nListen %s\nLogLevel warn\nBrowsing No\nDefaultAuthType Basic\n"
              "<Location />\nOrder allow,deny\nAllow 127.0.0.1\nAllow @LOCAL\n</Location>\n"
              "<Policy default>\n<Limit All>\nOrder deny,allow\n</Limit>\n</Policy>\n" % (self.port, self.socket))
        write(os.path.join(root, "cups-files.conf"),
              "ServerRoot %(r)s\nCacheDir %(r)s/cache\nStateDir %(r)s/state\nRequestRoot %(r)s/spool\n"
              "TempDir %(r)s/tmp\nErrorLog %(r)s/log/error_log\nAccessLog %(r)s/log/access_log\n"
              "PageLog %(r)s/log/page_log\nServerBin /usr/lib/cups\nDataDir /usr/share/cups\n"
              "User lp\nGroup lp\nSystemGroup root\nFileDevice No\n" % {"r": root})

    def start(self):
        self.proc = subprocess.Popen(["cupsd", "-f", "-c", os.path.join(self.root, "cupsd.conf"),
                                      "-s", os.path.join(self.root, "cups-files.conf")],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT, start_new_session=True)
        deadline = time.monotonic() + 15
        while not os.path.exists(self.socket):
            if self.proc.poll() is not None or time.monotonic() > deadline:
                raise OSError("cupsd did not start: %s" % read(os.path.join(self.root, "log", "error_log"))[-800:])
            time.sleep(0.1)

    def run(self, *cmd):
        env = {k: v for k, v in os.environ.items() if not k.startswith("CUPS_")}
        return subprocess.run(list(cmd), capture_output=True, text=True, timeout=120, env=env)

    def stop(self):
        if self.proc and self.proc.poll() is None:
            os.killpg(self.proc.pid, signal.SIGTERM)
            with contextlib.suppress(subprocess.TimeoutExpired):
                self.proc.wait(10)
        if self.proc and self.proc.poll() is None:
            os.killpg(self.proc.pid, signal.SIGKILL)


def cmd_cups(args):
    """Chinese text from a desktop's CUPS queue made with -m everywhere, as the
    README says to send it (lp -o raw): byte for byte what bspp-print makes."""
    if os.getuid() != 0 or not shutil.which("cupsd") or not shutil.which("lpadmin"):
        print("SKIP: needs root, cupsd and lpadmin")
        return SKIPPED
    cups = Cupsd(os.path.join(args.work, "cups"))
    try:
        cups.start()
    except OSError as e:
        print("SKIP: %s" % e)
        return SKIPPED
    device = Device(args)
    try:
        with running(args, device.uri) as server:
            r = cups.run("lpadmin", "-h", cups.socket, "-p", PRINTER, "-E", "-v", server.uri(), "-m", "everywhere")
            check(r.returncode == 0, "lpadmin -m everywhere failed: %s%s" % (r.stdout, r.stderr))
            note = write(os.path.join(args.work, "note.txt"), TEXT)
            r = cups.run("lp", "-h", cups.socket, "-d", PRINTER, "-o", "raw", note)
            check(r.returncode == 0, "lp -o raw failed: %s%s" % (r.stdout, r.stderr))
            want, deadline = bspp_stream(note), time.monotonic() + 60
            got = b""
            while len(got) < len(want) and time.monotonic() < deadline:
                time.sleep(0.2)
                got += device.new_bytes()
            check(got == want, "through the CUPS queue the printer got %d bytes, expected %d" % (len(got), len(want)))
    finally:
        cups.stop()


# ------------------------------------------------------------------ history

def cmd_history(args):
    """Completed jobs are trimmed as they age: 120 jobs, a minute later a
    job more, and the printer keeps 100 (PAPPL 1.3.1 alone kept them all,
    and every job and every save of the state got slower with them)."""
    device = Device(args)
    with running(args, device.uri) as server:
        last = None
        for i in range(120):
            status, last = raw_ipp(server, 0x0002, [(0x42, "requesting-user-name", b"history"),
                                                    (0x49, "document-format", b"text/plain")],
                                   ("job %d\n" % i).encode())
            check(status == 200 and last, "job %d was not taken: %s" % (i, status))
        check(wait_job(server, last).get("job-state") == COMPLETED, "the 120th job did not print")
        time.sleep(61)  # PAPPL trims only jobs that ended a minute ago or more
        status, job = raw_ipp(server, 0x0002, [(0x42, "requesting-user-name", b"history"),
                                               (0x49, "document-format", b"text/plain")], b"one more\n")
        check(wait_job(server, job).get("job-state") == COMPLETED, "the job a minute later did not print")
        listed = ipp(server.uri(), "Get-Jobs", "ATTR keyword which-jobs completed\nATTR keyword "
                     "requested-attributes job-id")
        count = sum(1 for g in listed if "job-id" in g)
        check(count <= 100, "the printer keeps %d completed jobs" % count)


# ------------------------------------------------------------------ remote

SKIPPED = 77


class Namespace:
    """A client on another address: a network namespace of its own, joined
    to this one by a veth pair with private addresses; all its traffic goes
    to those addresses."""

    def __init__(self):
        n = os.getpid() % 250 + 1
        self.name, self.host, self.peer = "bspp%d" % os.getpid(), "10.231.%d.1" % n, "10.231.%d.2" % n
        self.outer, self.inner = "bsh%d" % os.getpid(), "bsc%d" % os.getpid()
        for cmd in (["ip", "netns", "add", self.name],
                    ["ip", "link", "add", self.outer, "type", "veth", "peer", "name", self.inner],
                    ["ip", "link", "set", self.inner, "netns", self.name],
                    ["ip", "addr", "add", self.host + "/24", "dev", self.outer],
                    ["ip", "link", "set", self.outer, "up"],
                    ["ip", "netns", "exec", self.name, "ip", "addr", "add", self.peer + "/24", "dev", self.inner],
                    ["ip", "netns", "exec", self.name, "ip", "link", "set", self.inner, "up"]):
            r = subprocess.run(cmd, capture_output=True, text=True)
            if r.returncode != 0:
                self.close()
                raise OSError("%s: %s" % (" ".join(cmd), r.stderr.strip()))
        self.via = ("ip", "netns", "exec", self.name)

    def http(self, method, url, form=None):
        """Status and body of one HTTP request made from inside the namespace."""
        code = ("import sys, urllib.request, urllib.error, urllib.parse, json\n"
                "a = json.loads(sys.argv[1])\n"
                "data = urllib.parse.urlencode(a['form']).encode() if a['form'] is not None else None\n"
                "try:\n  r = urllib.request.urlopen(urllib.request.Request(a['url'], data, method=a['method']), timeout=20)\n"
                "  print(r.status); sys.stdout.write(r.read().decode('utf-8', 'replace'))\n"
                "except urllib.error.HTTPError as e:\n  print(e.code)\n")
        import json
        r = subprocess.run(list(self.via) + ["/usr/bin/python3", "-c", code,
                                             json.dumps({"method": method, "url": url, "form": form})],
                           capture_output=True, text=True, timeout=60)
        check(r.returncode == 0 and r.stdout, "HTTP %s %s from the namespace failed: %s" % (method, url, r.stderr))
        status, _, body = r.stdout.partition("\n")
        return int(status), body

    def close(self):
        subprocess.run(["ip", "netns", "del", self.name], capture_output=True)
        subprocess.run(["ip", "link", "del", self.outer], capture_output=True)


def local_page(server, path):
    with urllib.request.urlopen("http://127.0.0.1:%d%s" % (server.port, path), timeout=20) as r:
        return r.read().decode("utf-8", "replace")


def cmd_remote(args):
    try:
        ns = Namespace()
    except OSError as e:
        print("SKIP: no network namespace can be made here: %s" % e)
        return SKIPPED
    device = Device(args)
    try:
        with running(args, device.uri, listen="127.0.0.1," + ns.host) as server:
            local = server.uri()
            remote = "ipp://%s:%d/ipp/print/%s" % (ns.host, server.port, PRINTER)
            web = "http://%s:%d" % (ns.host, server.port)
            note = write(os.path.join(args.work, "note.txt"), TEXT)

            # Printing, and looking, from another address.
            hold = "ATTR keyword job-hold-until indefinite\nATTR name job-name alices-secret-report"
            alice = group_with(ipp(remote, "Print-Job", hold + "\nATTR mimeMediaType document-format text/plain",
                                   note, user="alice", via=ns.via), "job-id")["job-id"]
            printer = group_with(ipp(remote, "Get-Printer-Attributes", user="bob", via=ns.via), "printer-state")
            check(printer.get("printer-state") in (3, 4), "a remote client cannot see the printer's state")
            listed = str(ipp(remote, "Get-Jobs", "ATTR keyword which-jobs all\n" + JOB_ATTRS, user="bob", via=ns.via))
            check("alices-secret-report" not in listed and "alice" not in listed,
                  "another address sees other users' job names: %s" % listed)
            mine = str(ipp(remote, "Get-Jobs", "ATTR keyword which-jobs all\n" + JOB_ATTRS, user="alice", via=ns.via))
            check("alices-secret-report" in mine, "a remote client does not see its own job's name: %s" % mine)
            check("alices-secret-report" in str(ipp(local, "Get-Jobs", "ATTR keyword which-jobs all\n" + JOB_ATTRS)),
                  "the machine itself does not see every job")

            # Another user's job, and the printer, are not a remote client's to manage.
            job_op = "ATTR integer job-id %d" % alice
            for op, attrs in (("Cancel-Job", job_op), ("Hold-Job", job_op), ("Release-Job", job_op),
                              ("Disable-Printer", ""), ("Pause-Printer", ""), ("Hold-New-Jobs", ""),
                              ("Cancel-Jobs", ""), ("Cancel-My-Jobs", "")):
                got = ipp(remote, op, attrs, user="bob", via=ns.via, status="any")
                check(got != "successful-ok", "%s from another address succeeded (%s)" % (op, got))
            state = wait_job(server, alice, states=(4,), timeout=5)  # still held
            check(state.get("job-state") == 4, "another user's job changed: %s" % state)
            check(group_with(ipp(local, "Get-Printer-Attributes"), "printer-is-accepting-jobs")
                  .get("printer-is-accepting-jobs") is True, "the printer stopped accepting jobs")
            got = ipp("ipp://%s:%d/ipp/system" % (ns.host, server.port), "Shutdown-All-Printers", user="bob",
                      via=ns.via, status="any")
            check(got != "successful-ok" and server.proc.poll() is None, "Shutdown-All-Printers from another address: %s" % got)
            # Its own job it may release, and the machine itself manages everything.
            ipp(remote, "Release-Job", job_op, user="alice", via=ns.via)
            expect_printed(server, device, alice, note, "a job released from another address")
            ipp(local, "Disable-Printer")
            ipp(local, "Enable-Printer")

            # The web pages: status for everybody, management for the machine itself.
            for path in ("/", "/" + PRINTER):
                code, body = ns.http("GET", web + path)
                check(code == 200 and PRINTER in body, "GET %s from another address: %d" % (path, code))
                check("alices-secret-report" not in body, "%s shows other users' job names" % path)
            for path in ("/addprinter", "/security", "/config", "/logs", "/logfile.txt",
                         "/%s/delete" % PRINTER, "/%s/config" % PRINTER, "/%s/media" % PRINTER,
                         "/%s/printing" % PRINTER, "/%s/jobs" % PRINTER, "/%s/cancelall" % PRINTER):
                code, body = ns.http("GET", web + path)
                check(code == 403, "GET %s from another address answered %d" % (path, code))
            token = re.search(r'name="session" value="([^"]+)"', local_page(server, "/addprinter"))
            check(token, "no session token on the local /addprinter page")
            target = write(os.path.join(args.work, "target"), b"")
            for path, form in (("/addprinter", {"printer_name": "evil", "driver_name": "escp9_80",
                                                "device_uri": "file://" + target}),
                               ("/security", {"new_password": "owned", "new_password2": "owned"}),
                               ("/" + PRINTER, {"action": "hold-new-jobs"}),
                               ("/%s/delete" % PRINTER, {})):
                form["session"] = token.group(1)
                code, _ = ns.http("POST", web + path, form)
                check(code == 403, "POST %s from another address answered %d" % (path, code))
            check(ipp("ipp://127.0.0.1:%d/ipp/print/evil" % server.port, "Get-Printer-Attributes", status="any")
                  != "successful-ok", "a remote client added a printer")
            check(group_with(ipp(local, "Get-Printer-Attributes"), "printer-is-accepting-jobs")
                  .get("printer-is-accepting-jobs") is True, "the printer holds new jobs")
            check(read(target) == b"", "a remote client wrote to a file")
            check("owned" not in local_page(server, "/security"), "the password page changed")
            check(PRINTER in local_page(server, "/" + PRINTER) and "alices-secret-report" in local_page(
                server, "/" + PRINTER + "/jobs"), "the machine itself does not see its pages whole")
    finally:
        ns.close()


def main():
    global ARGS
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("command", choices=("clients", "pictures", "conformance", "load", "restart", "remote", "stuck", "statekill", "hostile", "unprivileged", "cups", "history"))
    parser.add_argument("--app", required=True, help="the bspp-printer-app executable")
    parser.add_argument("--bspp-print", required=True, help="the bspp-print executable")
    parser.add_argument("--work", required=True, help="a folder for this test's files (emptied first)")
    ARGS = parser.parse_args()
    shutil.rmtree(ARGS.work, ignore_errors=True)
    os.makedirs(ARGS.work)
    try:
        if globals()["cmd_" + ARGS.command](ARGS) == SKIPPED:
            return SKIPPED
    except Failure as e:
        print("FAIL: %s" % e, file=sys.stderr)
        return 1
    print("%s: passed" % ARGS.command)
    return 0


if __name__ == "__main__":
    sys.exit(main())
