#!/usr/bin/env python3
"""Smoke test of bspp-printer-app as a client meets it: a server on
127.0.0.1 with a private state folder, a printer on a file: device, text
jobs sent with ipptool and CUPS's lp, the device's bytes compared with
bspp-print's."""
import argparse, os, re, shutil, signal, socket, subprocess, sys, tempfile, time

PRINT_JOB = """{
  OPERATION Print-Job
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR language attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR name requesting-user-name smoke
  ATTR mimeMediaType document-format $format
  FILE $filename
  STATUS successful-ok
}
"""
GET_JOB = """{
  OPERATION Get-Job-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR language attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR integer job-id $job
  STATUS successful-ok
}
"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def ipptool(uri, test, **defines):
    args = ["ipptool", "-tv", "-T", "20"]
    for name, value in defines.items():
        args += ["-d", f"{name}={value}"]
    out = subprocess.run(args + [uri, test], capture_output=True, text=True, timeout=60)
    return out.stdout + out.stderr


def submit(uri, tests, path, fmt="text/plain"):
    out = ipptool(uri, tests["print"], format=fmt, filename=path)
    found = re.search(r"job-id \(integer\) = (\d+)", out)
    assert found, "Print-Job failed:\n" + out
    return int(found.group(1))


def wait_job(uri, tests, job):
    """Waits for the job to end; returns (job-state, job-state-message)."""
    deadline = time.time() + 30
    while time.time() < deadline:
        out = ipptool(uri, tests["get"], job=job)
        state = re.search(r"job-state \(enum\) = (\S+)", out)
        if state and state.group(1) in ("completed", "aborted", "canceled"):
            message = re.search(r"job-state-message \(textWithoutLanguage\) = (.*)", out)
            return state.group(1), message.group(1) if message else ""
        time.sleep(0.1)
    raise AssertionError(f"job {job} did not end:\n{out}")


def reference(bspp_print, text_path, work):
    """What bspp-print sends for the same text: its lines as records, then a NUL."""
    ref = os.path.join(work, "ref.bin")
    subprocess.run([bspp_print, "--utf8", "--lines", "-o", ref, text_path], check=True)
    data = open(ref, "rb").read()
    if not data.endswith(b"\x0c"):  # a bspp-print that adds the NUL only when asked
        subprocess.run([bspp_print, "--utf8", "--lines", "--nul", "-o", ref, text_path], check=True)
        data = open(ref, "rb").read()
    return data


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--app", required=True)
    ap.add_argument("--print", dest="bspp_print", required=True)
    ap.add_argument("--text", required=True, help="a UTF-8 text of lines of at most 80 columns")
    a = ap.parse_args()

    work = tempfile.mkdtemp(prefix="bspp-app-smoke-")
    env = dict(os.environ, TMPDIR=work, HOME=work, XDG_CONFIG_HOME=work)
    port = free_port()
    uri = f"ipp://127.0.0.1:{port}/ipp/print/smoke"
    tests = {}
    for name, body in (("print", PRINT_JOB), ("get", GET_JOB)):
        tests[name] = os.path.join(work, name + ".test")
        open(tests[name], "w").write(body)
    device = os.path.join(work, "device.bin")
    open(device, "wb").close()

    server = subprocess.Popen(
        [a.app, "server", "-o", "listen-hostname=127.0.0.1", "-o", f"server-port={port}",
         "-o", f"state-file={work}/app.state", "-o", f"spool-directory={work}/spool",
         "-o", f"log-file={work}/app.log", "-o", "log-level=info"], env=env)
    try:
        deadline = time.time() + 20
        while True:
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                assert server.poll() is None and time.time() < deadline, "the server did not start"
                time.sleep(0.1)
        subprocess.run([a.app, "add", "-d", "smoke", "-v", f"file://{device}", "-m", "escp9_80"],
                       env=env, check=True, timeout=30)

        # A UTF-8 text job: the device gets exactly what bspp-print makes.
        expected = reference(a.bspp_print, a.text, work)
        job = submit(uri, tests, a.text)
        assert wait_job(uri, tests, job)[0] == "completed"
        got = open(device, "rb").read()
        assert got == expected, f"device got {len(got)} bytes, bspp-print makes {len(expected)}"

        # A character outside GB2312: aborted with its place, nothing written.
        bad = os.path.join(work, "bad.txt")
        open(bad, "w", encoding="utf-8").write("total\n合计 €12\n")
        state, message = wait_job(uri, tests, submit(uri, tests, bad))
        assert state == "aborted", state
        assert "line 2, column 4" in message, message
        assert os.path.getsize(device) == len(expected), "the refused job wrote to the device"

        # The next job prints normally.
        good = os.path.join(work, "good.txt")
        open(good, "w", encoding="utf-8").write("下一个 next\n")
        assert wait_job(uri, tests, submit(uri, tests, good))[0] == "completed"
        tail = open(device, "rb").read()[len(expected):]
        assert tail == reference(a.bspp_print, good, work), "the job after the refused one differs"
        # CUPS's lp addresses the queue as /printers/NAME and sends the file
        # as application/octet-stream; it still comes out byte for byte.
        if shutil.which("lp"):
            before = os.path.getsize(device)
            subprocess.run(["lp", "-h", f"127.0.0.1:{port}", "-d", "smoke", a.text], env=env,
                           check=True, timeout=30, stdout=subprocess.DEVNULL)
            deadline = time.time() + 30
            while os.path.getsize(device) < before + len(expected) and time.time() < deadline:
                time.sleep(0.05)
            assert open(device, "rb").read()[before:] == expected, "lp's job differs"
        print("smoke test passed")
    except AssertionError:
        sys.stdout.write(open(os.path.join(work, "app.log"), errors="replace").read()[-4000:])
        raise
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
