#!/usr/bin/env python3
"""Runs the snippets of README.md as a reader would copy them.

A fenced block right after a line `<!-- test: KIND job="TEXT" -->` is taken
verbatim, built and run; what it sends to the printer port is caught in a
file and must be exactly the job that `bspp-print` makes of TEXT by default
(the host convention: the text's bytes, a NUL last, keepPage = 0), and its
last line must keep every visible character.

  linux    KIND linux-c and linux-python: the C one compiled and linked
           against libbspp, the Python one run as it is. The library's port
           is /dev/lp0, fixed: each runs in a private mount namespace
           (unshare) whose /dev holds a regular file as lp0. Where no such
           namespace can be made the test is skipped (exit 77).
  wine     KIND windows-c: compiled with mingw-w64, run under Wine with
           LPT1 leading to a file, next to bspp.dll; compared with
           bspp-print.exe run in the same prefix.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

SKIP = 77
MARK = re.compile(r'<!-- test: (\S+) job="([^"]*)" -->\s*\n```(\w+)\n(.*?)\n```', re.S)


def snippets(readme, kind):
    with open(readme, encoding="utf-8") as f:
        found = [(m.group(2), m.group(4) + "\n") for m in MARK.finditer(f.read())
                 if m.group(1) == kind]
    if not found:
        sys.exit("no snippet marked %r in %s" % (kind, readme))
    return found


def expected_job(bspp_print, text, work, runner=()):
    """The job bspp-print makes of `text` by default. The file's name is
    Chinese, as a user's may be; under Wine that checks the Unicode command
    line (the tests run there at code page 1252)."""
    name = "\u5408\u8ba1 job.txt"
    with open(os.path.join(work, name), "wb") as f:
        f.write(text.encode("gb2312"))
    out = subprocess.run(list(runner) + [bspp_print, "-o", "-", name], capture_output=True,
                         timeout=900, cwd=work, env=runner_env(runner))
    if out.returncode != 0:
        sys.exit("bspp-print failed: %s" % out.stderr.decode(errors="replace"))
    return out.stdout


def check(what, caught, expected, text):
    if caught != expected:
        print("FAIL %s: %d bytes reached the port, bspp-print makes %d for %r"
              % (what, len(caught), len(expected), text))
        return False
    # Belt and braces: the last ASCII characters are there and the page is ejected.
    ascii_tail = text.encode("ascii", "ignore").strip()[-3:]
    if not caught.endswith(b"\x1b2\r\n\x0c") or ascii_tail not in caught:
        print("FAIL %s: the job does not end with a form feed after %r" % (what, ascii_tail))
        return False
    print("ok   %s: %d bytes, as bspp-print makes them" % (what, len(caught)))
    return True


# ------------------------------------------------------------------ Linux

NAMESPACE_SCRIPT = r'''
set -e
dev="$1"; shift
for n in null zero full random urandom tty; do
  if [ -e "/dev/$n" ]; then : >"$dev/$n"; mount --bind "/dev/$n" "$dev/$n"; fi
done
ln -s /proc/self/fd "$dev/fd"
ln -s /proc/self/fd/0 "$dev/stdin"; ln -s /proc/self/fd/1 "$dev/stdout"; ln -s /proc/self/fd/2 "$dev/stderr"
: >"$dev/lp0"
mount --rbind "$dev" /dev
exec "$@"
'''


def namespace_prefix():
    """The command that runs another in a private mount namespace, or None."""
    for cmd in (["unshare", "--mount"], ["unshare", "--mount", "--map-root-user"]):
        try:
            if subprocess.run(cmd + ["sh", "-c", "mount -t tmpfs none /mnt"],
                              capture_output=True, timeout=60).returncode == 0:
                return cmd
        except (OSError, subprocess.TimeoutExpired):
            pass
    return None


def run_on_lp0(prefix, work, name, argv, env=None):
    dev = os.path.join(work, name + "-dev")
    os.mkdir(dev)
    r = subprocess.run(prefix + ["sh", "-c", NAMESPACE_SCRIPT, "sh", dev] + argv,
                       capture_output=True, timeout=600, env=env, cwd=work)
    if r.returncode != 0:
        print("FAIL %s exited %d: %s" % (name, r.returncode,
                                         (r.stdout + r.stderr).decode(errors="replace")))
        return None
    with open(os.path.join(dev, "lp0"), "rb") as f:
        return f.read()


def linux(args):
    prefix = namespace_prefix()
    if prefix is None:
        print("skipped: no private mount namespace can be made here (unshare --mount needs "
              "root or unprivileged user namespaces), so /dev/lp0 cannot be replaced by a file")
        return SKIP
    lib = os.path.join(args.lib_dir, "libbspp.so.1")
    if not os.path.exists(lib):
        print("FAIL: %s is missing: the snippets load the library by that name" % lib)
        return 1
    ok = True
    with tempfile.TemporaryDirectory(prefix="bspp-readme-") as work:
        env = dict(os.environ, LD_LIBRARY_PATH=args.lib_dir)
        for i, (text, code) in enumerate(snippets(args.readme, "linux-python")):
            path = os.path.join(work, "snippet%d.py" % i)
            with open(path, "w", encoding="utf-8") as f:
                f.write(code)
            caught = run_on_lp0(prefix, work, "python%d" % i, [sys.executable, path], env)
            ok &= caught is not None and check("Python snippet %d" % i, caught,
                                               expected_job(args.bspp_print, text, work), text)
        for i, (text, code) in enumerate(snippets(args.readme, "linux-c")):
            src = os.path.join(work, "snippet%d.c" % i)
            exe = os.path.join(work, "snippet%d" % i)
            with open(src, "w", encoding="utf-8") as f:
                f.write(code)
            cc = subprocess.run([args.cc, "-std=c99", "-Wall", "-Werror", "-I", args.include, src,
                                 "-o", exe, "-L", args.lib_dir, "-lbspp",
                                 "-Wl,-rpath," + args.lib_dir], capture_output=True, text=True)
            if cc.returncode != 0:
                print("FAIL C snippet %d does not build:\n%s" % (i, cc.stderr))
                ok = False
                continue
            caught = run_on_lp0(prefix, work, "c%d" % i, [exe])
            ok &= caught is not None and check("C snippet %d" % i, caught,
                                               expected_job(args.bspp_print, text, work), text)
    return 0 if ok else 1


# ------------------------------------------------------------------ Wine

WINE_ENV = {}


def runner_env(runner):
    return WINE_ENV if runner else None


def wine(args):
    env = dict(os.environ, WINEPREFIX=args.prefix, WINEDEBUG="-all", LC_ALL="en_US.UTF-8",
               WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
    for var in ("DISPLAY", "WAYLAND_DISPLAY", "LANG", "LANGUAGE"):
        env.pop(var, None)
    WINE_ENV.update(env)
    lpt1 = os.path.join(args.prefix, "dosdevices", "lpt1")
    ok = True
    with tempfile.TemporaryDirectory(prefix="bspp-readme-") as work:
        shutil.copy(args.dll, work)
        for i, (text, code) in enumerate(snippets(args.readme, "windows-c")):
            src = os.path.join(work, "snippet%d.c" % i)
            exe = os.path.join(work, "snippet%d.exe" % i)
            with open(src, "w", encoding="utf-8") as f:
                f.write(code)
            cc = subprocess.run([args.cc, "-std=c99", "-Wall", "-Werror", "-I", args.include, src,
                                 "-o", exe, "-static-libgcc"], capture_output=True, text=True)
            if cc.returncode != 0:
                print("FAIL Windows C snippet %d does not build:\n%s" % (i, cc.stderr))
                ok = False
                continue
            capture = os.path.join(work, "lpt1-%d.bin" % i)
            open(capture, "wb").close()
            if os.path.lexists(lpt1):
                os.unlink(lpt1)
            os.symlink(capture, lpt1)
            try:
                r = subprocess.run(["wine", exe], env=env, cwd=work, capture_output=True,
                                   timeout=900)
            finally:
                os.unlink(lpt1)
            if r.returncode != 0:
                print("FAIL Windows C snippet %d exited %d: %s"
                      % (i, r.returncode, (r.stdout + r.stderr).decode(errors="replace")))
                ok = False
                continue
            with open(capture, "rb") as f:
                caught = f.read()
            ok &= check("Windows C snippet %d" % i, caught,
                        expected_job(args.bspp_print, text, work, ["wine"]), text)
        # A device as the output is written, not replaced by a file.
        r = subprocess.run(["wine", args.bspp_print, "-o", "NUL", "\u5408\u8ba1 job.txt"],
                           env=env, cwd=work, capture_output=True, timeout=900)
        if r.returncode != 0 or any(n.upper().startswith("NUL") for n in os.listdir(work)):
            print("FAIL bspp-print.exe -o NUL: exit %d, %s; folder: %s"
                  % (r.returncode, r.stderr.decode(errors="replace"), os.listdir(work)))
            ok = False
        else:
            print("ok   bspp-print.exe -o NUL writes the device")
    return 0 if ok else 1


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    sub = p.add_subparsers(dest="mode", required=True)
    for name in ("linux", "wine"):
        s = sub.add_parser(name)
        s.add_argument("--readme", required=True)
        s.add_argument("--bspp-print", required=True)
        s.add_argument("--include", required=True)
        s.add_argument("--cc", required=True)
    sub.choices["linux"].add_argument("--lib-dir", required=True)
    sub.choices["wine"].add_argument("--prefix", required=True)
    sub.choices["wine"].add_argument("--dll", required=True)
    args = p.parse_args()
    if args.mode == "wine":
        return wine(args)
    return linux(args)


if __name__ == "__main__":
    sys.exit(main())
