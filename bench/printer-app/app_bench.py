#!/usr/bin/env python3
"""Time from submission to the last byte at a file: device, for a page of
Chinese text, a PNG picture, a JPEG photograph and 4 pages of PWG raster
sent to bspp-printer-app with ipptool.

  /usr/bin/python3 bench/printer-app/app_bench.py --app build/linux/tools/printer-app/bspp-printer-app

Prints the median and best of N runs for each job. The server runs on a
free loopback port with a private state folder, and is stopped at the end."""
import argparse, os, signal, socket, statistics, struct, subprocess, sys, tempfile, time, zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "printer-app"))
from rasters import pwg, pwg_page  # noqa: E402

PRINT_JOB = """{
  OPERATION Print-Job
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR language attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR name requesting-user-name bench
  ATTR mimeMediaType document-format $format
  FILE $filename
  STATUS successful-ok
}
"""


def chinese_page():
    """66 lines of 40 Chinese characters, a full page of the library's text."""
    chars = [bytes([0xB0 + (i // 94) % 30, 0xA1 + i % 94]).decode("gb2312") for i in range(2640)]
    return "".join("".join(chars[r * 40:(r + 1) * 40]) + "\n" for r in range(66))


def grey_png(path, w, h, dpi):
    """A diagonal grey ramp with a black frame, w x h pixels at dpi."""
    rows = []
    for y in range(h):
        row = bytearray((x + y) * 255 // (w + h) for x in range(w))
        if y < 20 or y >= h - 20:
            row[:] = bytes(w)
        else:
            row[:20] = bytes(20)
            row[-20:] = bytes(20)
        rows.append(b"\0" + bytes(row))
    def chunk(t, d):
        return struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d) & 0xFFFFFFFF)
    ppm = round(dpi / 0.0254)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 0, 0, 0, 0))
                + chunk(b"pHYs", struct.pack(">IIB", ppm, ppm, 1))
                + chunk(b"IDAT", zlib.compress(b"".join(rows))) + chunk(b"IEND", b""))


def photo_jpeg(path, w, h):
    """A photograph-like JPEG: smooth grey gradients with a few shapes."""
    from PIL import Image, ImageDraw, ImageFilter
    img = Image.linear_gradient("L").resize((w, h)).convert("RGB")
    draw = ImageDraw.Draw(img)
    for i in range(12):
        draw.ellipse((i * w // 14, h // 4 + (i % 3) * h // 8, i * w // 14 + w // 6, h // 2 + (i % 3) * h // 8),
                     fill=(40 * (i % 6), 90, 200 - 15 * i))
    img.filter(ImageFilter.GaussianBlur(3)).save(path, quality=90)


def pwg_pages(path, pages, dpi):
    """`pages` letter pages of 8-bit grey PWG raster at `dpi`: a ramp and
    boxes, 16 equal lines at a time, as CUPS's filters write them."""
    width, height = int(8.5 * dpi), 11 * dpi
    out = []
    for page in range(pages):
        bands = [bytes(min(255, (x + y + 40 * page) * 255 // (width + height)) if (x // 200 + y // 200) % 3 else 0
                       for x in range(width)) for y in range(0, height, 16)]
        out.append(pwg_page([bands[y // 16] for y in range(height)], width, dpi, letter=True))
    with open(path, "wb") as f:
        f.write(pwg(out))


def time_job(uri, test, path, fmt, device, runs):
    """Milliseconds from starting ipptool to the job's last byte at the
    device, for each of `runs` runs. A first, untimed run tells how many
    bytes the job makes."""
    def submit():
        subprocess.run(["ipptool", "-d", f"format={fmt}", "-f", path, uri, test], check=True,
                       stdout=subprocess.DEVNULL)

    size = os.path.getsize(device)
    submit()
    stable = -1
    while os.path.getsize(device) != stable:
        stable = os.path.getsize(device)
        time.sleep(0.5)
    job_bytes = stable - size
    if job_bytes <= 0:
        raise SystemExit(f"{path}: the job printed nothing")
    times = []
    for _ in range(runs):
        size = os.path.getsize(device)
        start = time.perf_counter()
        submit()
        deadline = start + 30
        while os.path.getsize(device) < size + job_bytes:
            if time.perf_counter() > deadline:
                raise SystemExit(f"{path}: the job did not finish within 30 s")
            time.sleep(0.0005)
        times.append((time.perf_counter() - start) * 1000)
    return times


def submit_many(port, count):
    """`count` short text jobs, one request each, as fast as the server takes
    them; returns when they are submitted."""
    import http.client
    name = b"/ipp/print/bench"
    for i in range(count):
        body = bytearray(struct.pack(">BBHI", 2, 0, 0x0002, i + 1) + b"\x01")
        for tag, key, value in ((0x47, b"attributes-charset", b"utf-8"),
                                (0x48, b"attributes-natural-language", b"en"),
                                (0x45, b"printer-uri", b"ipp://127.0.0.1:%d" % port + name),
                                (0x42, b"requesting-user-name", b"bench"),
                                (0x49, b"document-format", b"text/plain")):
            body += struct.pack(">BH", tag, len(key)) + key + struct.pack(">H", len(value)) + value
        body += b"\x03" + ("作业 %d\n" % i).encode()
        conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
        conn.request("POST", name.decode(), bytes(body), {"Content-Type": "application/ipp"})
        conn.getresponse().read()
        conn.close()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--app", required=True)
    ap.add_argument("--runs", type=int, default=11)
    ap.add_argument("--history", type=int, default=0,
                    help="then submit this many short jobs and time the text page again")
    a = ap.parse_args()
    work = tempfile.mkdtemp(prefix="bspp-app-bench-")
    env = dict(os.environ, TMPDIR=work, HOME=work, XDG_CONFIG_HOME=work)
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    test = os.path.join(work, "print.test")
    open(test, "w").write(PRINT_JOB)
    device = os.path.join(work, "device.bin")
    open(device, "wb").close()
    text = os.path.join(work, "page.txt")
    open(text, "w", encoding="utf-8").write(chinese_page())
    picture = os.path.join(work, "picture.png")
    grey_png(picture, 1200, 1500, 150)  # 8 x 10 inches
    photo = os.path.join(work, "photo.jpg")
    photo_jpeg(photo, 1600, 1200)
    raster = os.path.join(work, "pages.pwg")
    pwg_pages(raster, 4, 360)

    server = subprocess.Popen(
        [a.app, "server", "-o", "listen-hostname=127.0.0.1", "-o", f"server-port={port}",
         "-o", f"state-file={work}/app.state", "-o", f"spool-directory={work}/spool",
         "-o", f"log-file={work}/app.log", "-o", "log-level=warn"], env=env)
    try:
        for _ in range(200):
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                time.sleep(0.05)
        subprocess.run([a.app, "add", "-d", "bench", "-v", f"file://{device}", "-m", "escp9_80"],
                       env=env, check=True)
        uri = f"ipp://127.0.0.1:{port}/ipp/print/bench"
        for name, path, fmt in (("text page (66 lines x 40 Chinese characters)", text, "text/plain"),
                                ("picture page (PNG 1200x1500 at 150 dpi)", picture, "image/png"),
                                ("photograph (JPEG 1600x1200)", photo, "image/jpeg"),
                                ("4 pages of PWG raster at 360 dpi", raster, "image/pwg-raster")):
            t = time_job(uri, test, path, fmt, device, a.runs)
            print(f"{name}: median {statistics.median(t):.1f} ms, best {min(t):.1f} ms over {len(t)} runs")
        if a.history:
            start = time.perf_counter()
            submit_many(port, a.history)
            # Until the queue has drained: the device file stops growing.
            size = -1
            while os.path.getsize(device) != size:
                size = os.path.getsize(device)
                time.sleep(1)
            print(f"{a.history} short jobs printed in {time.perf_counter() - start:.1f} s")
            t = time_job(uri, test, text, "text/plain", device, a.runs)
            print(f"text page right after {a.history} jobs: median {statistics.median(t):.1f} ms, "
                  f"best {min(t):.1f} ms over {len(t)} runs")
            # PAPPL keeps every job of the last minute; after that the history
            # is trimmed to the printer's 100.
            time.sleep(61)
            t = time_job(uri, test, text, "text/plain", device, a.runs)
            print(f"text page a minute after {a.history} jobs: median {statistics.median(t):.1f} ms, "
                  f"best {min(t):.1f} ms over {len(t)} runs")
    finally:
        server.send_signal(signal.SIGTERM)
        try:
            server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()
        subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main()
