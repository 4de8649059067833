#!/usr/bin/env python3
"""Runs the snippets of README.md as a reader would copy them.

A fenced block right after `<!-- test: KIND job="TEXT" -->` is built and run
verbatim; what it sends to the printer port must be exactly the job that
`bspp-print` makes of TEXT by default.
  linux  linux-c and linux-python, in a private mount namespace (unshare)
         whose /dev/lp0 is a regular file; skipped (77) where none can be made.
  wine   windows-c, built with mingw-w64 and run under Wine with LPT1 leading
         to a file; compared with bspp-print.exe run in the same prefix.
         With --bspp-print-checks, bspp-print.exe's own errors and NUL too.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

MARK = re.compile(r'<!-- test: (\S+) job="([^"]*)" -->\s*\n```(\w+)\n(.*?)\n```', re.S)
JOB_NAME = "\u5408\u8ba1 job.txt"  # a Chinese file name: Wine's Unicode command line


def snippets(args, kind):
    with open(args.readme, encoding="utf-8") as f:
        found = [(m.group(2), m.group(4) + "\n") for m in MARK.finditer(f.read()) if m.group(1) == kind]
    if not found:
        sys.exit("no snippet marked %r in %s" % (kind, args.readme))
    return found


def run(argv, cwd, env=None):
    """Output to files, not pipes: Wine's background processes would hold a pipe open."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        code = subprocess.run(argv, cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=out,
                              stderr=err, timeout=900).returncode
        out.seek(0)
        err.seek(0)
        return code, out.read(), err.read().decode("utf-8", errors="replace")


def check(what, caught, args, text, work, runner=None):
    with open(os.path.join(work, JOB_NAME), "wb") as f:
        f.write(text.encode("gb2312"))
    code, expected, err = (runner or run)([args.bspp_print, "-o", "-", JOB_NAME], work)
    if code != 0 or caught != expected or not caught.endswith(b"\x1b2\r\n\x0c") or b"100" not in caught:
        print("FAIL %s: %r reached the port, bspp-print makes %r %s" % (what, caught, expected, err))
        return False
    print("ok   %s: %d bytes, as bspp-print makes them" % (what, len(caught)))
    return True


def build(args, code, exe, flags):
    with open(exe + ".c", "w", encoding="utf-8") as f:
        f.write(code)
    cc = subprocess.run([args.cc, "-std=c99", "-Wall", "-Werror", "-I", args.include, exe + ".c",
                         "-o", exe] + flags, capture_output=True, text=True)
    print(cc.stderr or "", end="")
    return cc.returncode == 0


# /dev in a private mount namespace, with lp0 a file in "$1".
NAMESPACE_SCRIPT = r'''
set -e
dev="$1"; shift
for n in null zero full random urandom tty; do
  if [ -e "/dev/$n" ]; then : >"$dev/$n"; mount --bind "/dev/$n" "$dev/$n"; fi
done
ln -s /proc/self/fd "$dev/fd"
for n in 0:stdin 1:stdout 2:stderr; do ln -s "/proc/self/fd/${n%%:*}" "$dev/${n#*:}"; done
: >"$dev/lp0"
mount --rbind "$dev" /dev
exec "$@"
'''


def linux(args):
    prefix = next((cmd for cmd in (["unshare", "--mount"], ["unshare", "--mount", "--map-root-user"])
                   if subprocess.run(cmd + ["sh", "-c", "mount -t tmpfs none /mnt"],
                                     capture_output=True, timeout=60).returncode == 0), None)
    if prefix is None:
        print("skipped: no private mount namespace here, so /dev/lp0 cannot be a file")
        return 77
    ok = True
    with tempfile.TemporaryDirectory(prefix="bspp-readme-") as work:
        env = dict(os.environ, LD_LIBRARY_PATH=args.lib_dir)
        jobs = []
        for i, (text, code) in enumerate(snippets(args, "linux-python")):
            with open(os.path.join(work, "s%d.py" % i), "w", encoding="utf-8") as f:
                f.write(code)
            jobs.append(("Python snippet %d" % i, text, [sys.executable, f.name]))
        for i, (text, code) in enumerate(snippets(args, "linux-c")):
            exe = os.path.join(work, "snippet%d" % i)
            ok &= build(args, code, exe, ["-L", args.lib_dir, "-lbspp", "-Wl,-rpath," + args.lib_dir])
            jobs.append(("C snippet %d" % i, text, [exe]))
        for n, (what, text, argv) in enumerate(jobs):
            dev = os.path.join(work, "dev%d" % n)
            os.mkdir(dev)
            code, out, err = run(prefix + ["sh", "-c", NAMESPACE_SCRIPT, "sh", dev] + argv, work, env)
            if code != 0:
                print("FAIL %s exited %d: %s%s" % (what, code, out.decode(errors="replace"), err))
                ok = False
                continue
            with open(os.path.join(dev, "lp0"), "rb") as f:
                ok &= check(what, f.read(), args, text, work)
    return 0 if ok else 1


def wine(args):
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "wine"))
    import wine_driver  # noqa: E402

    def under_wine(argv, cwd):
        # Code page 1252, as on a Windows set up for another language.
        return wine_driver.run_program(args.prefix, argv, cwd, "en_US.UTF-8")

    ok = True
    with tempfile.TemporaryDirectory(prefix="bspp-readme-") as work, \
            wine_driver.prefix_of_own(args.prefix):
        shutil.copy(args.dll, work)
        for i, (text, code) in enumerate(snippets(args, "windows-c")):
            exe = os.path.join(work, "snippet%d.exe" % i)
            ok &= build(args, code, exe, ["-static-libgcc"])
            capture = os.path.join(work, "lpt1-%d.bin" % i)
            open(capture, "wb").close()
            wine_driver.link_lpt1(args.prefix, capture)
            try:
                status, out, err = under_wine([exe], work)
            finally:
                wine_driver.link_lpt1(args.prefix, None)
            with open(capture, "rb") as f:
                caught = f.read()
            if status != 0:
                print("FAIL Windows C snippet %d exited %d: %s" % (i, status, err))
            ok &= check("Windows C snippet %d" % i, caught, args, text, work, under_wine) and status == 0
        if not args.bspp_print_checks:
            return 0 if ok else 1
        # -o NUL writes the device; a missing port and a missing Chinese file
        # name are named, in UTF-8.
        for argv, status, said in ((["-o", "NUL", JOB_NAME], 0, ""),
                                   (["--wait", "0", "--port", "LPT2", JOB_NAME], 1, "no printer port LPT2"),
                                   (["-o", "NUL", "\u7f3a.txt"], 2, "cannot open \u7f3a.txt")):
            code, _, err = under_wine([args.bspp_print] + argv, work)
            stray = [n for n in os.listdir(work) if n.upper().startswith("NUL")]
            good = code == status and said in err and "--wait" not in err and not stray
            print("%s bspp-print.exe %s: exit %d, %r %s"
                  % ("ok  " if good else "FAIL", argv, code, err, stray))
            ok &= good
    return 0 if ok else 1


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    p.add_argument("mode", choices=("linux", "wine"))
    for name in ("--readme", "--bspp-print", "--include", "--cc", "--lib-dir", "--prefix", "--dll"):
        p.add_argument(name, type=os.path.abspath, required=name not in ("--lib-dir", "--prefix", "--dll"))
    p.add_argument("--bspp-print-checks", action="store_true")
    args = p.parse_args()
    return wine(args) if args.mode == "wine" else linux(args)


if __name__ == "__main__":
    sys.exit(main())
