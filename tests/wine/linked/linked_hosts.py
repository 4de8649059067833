#!/usr/bin/env python3
"""Hosts that link bspp through its import library, as C programs do.

  hosts  build linked_host.c against an import library with mingw-w64's gcc
         and ld, and with clang and lld-link (MSVC-style objects, no C
         runtime); run each under Wine and check what reaches LPT1
  zip    make the Windows ZIP with cpack, unpack it, check what it holds,
         build a CMake project against it through find_package(bspp) for
         x86 and for x64 and run both under Wine (32- and 64-bit)
"""
import argparse
import os
import shutil
import subprocess
import sys
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
from wine_driver import Checks, Host, check_stream, gb, link_lpt1, prefix_of_own  # noqa: E402

SKIPPED = 77
TRIPLES = {"x86": "i686", "x64": "x86_64"}

# What each host prints: (name, text, keepPage). The first is the host
# convention: the text with its terminating NUL as the last byte.
JOBS = [
    ("note with NUL", gb("送货单 No. 42 合计 100元") + b"\x00", 0),
    ("full line kept", gb("六角螺栓" * 10), 1),
]


def run(cmd, **kw):
    proc = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, **kw)
    if proc.returncode != 0:
        raise RuntimeError("%s failed (%d):\n%s" % (" ".join(cmd), proc.returncode,
                                                  proc.stdout.decode(errors="replace")))
    return proc.stdout.decode(errors="replace")


def run_host(checks, prefix, exe, label, work):
    """Every job through one run of a linked host, each stream against the
    model."""
    lpt1 = os.path.join(work, "lpt1.out")
    link_lpt1(prefix, lpt1)
    host = Host(exe, prefix, "zh_CN.UTF-8")
    try:
        for name, text, keep in JOBS:
            open(lpt1, "wb").close()
            said = host.ask("%s %d" % (text.hex(), keep))
            if not checks.expect(said == "result=1", "%s: %s: %r" % (label, name, said)):
                continue
            with open(lpt1, "rb") as f:
                check_stream(checks, "%s: %s" % (label, name), f.read(), text, keep)
    finally:
        host.close(farewell=b"")
    checks.expect(host.proc.returncode == 0, "%s: exit %s" % (label, host.proc.returncode))


def import_lib_for_kernel32(work, arch, dlltool):
    """kernel32.lib in the short format of the Windows SDK's, for the four
    functions the host calls."""
    path = os.path.join(work, "kernel32-%s.def" % arch)
    names = ["ExitProcess@4", "GetStdHandle@4", "ReadFile@20", "WriteFile@20"]
    if arch == "x64":
        names = [n.split("@")[0] for n in names]
    with open(path, "w") as f:
        f.write("LIBRARY kernel32.dll\nEXPORTS\n" + "".join("  %s\n" % n for n in names))
    lib = os.path.join(work, "kernel32-%s.lib" % arch)
    machine = "i386" if arch == "x86" else "i386:x86-64"
    run([dlltool, "-m", machine, "-k", "-d", path, "-l", lib])
    return lib


def hosts(args):
    checks = Checks()
    work = os.path.abspath(args.work)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    source = os.path.join(HERE, "linked_host.c")
    built = []

    exe = os.path.join(work, "host_ld.exe")
    run([args.cc, "-O2", "-I", args.include, source, args.import_lib, "-o", exe])
    built.append(("mingw-w64 ld", exe))

    if args.clang and args.lld_link and args.llvm_dlltool:
        obj = os.path.join(work, "host.obj")
        run([args.clang, "--target=%s-pc-windows-msvc" % TRIPLES[args.arch], "-O2",
             "-ffreestanding", "-I", args.include, "-c", source, "-o", obj])
        exe = os.path.join(work, "host_lld.exe")
        run([args.lld_link, "/nologo", "/machine:%s" % args.arch, "/subsystem:console",
             "/entry:hostEntry", "/nodefaultlib", obj, args.import_lib,
             import_lib_for_kernel32(work, args.arch, args.llvm_dlltool), "/out:" + exe])
        built.append(("lld-link", exe))
    else:
        print("clang, lld-link or llvm-dlltool not found: the MSVC-style link is not tried")

    # Each host finds bspp.dll beside itself, as Windows searches there first.
    shutil.copy(args.dll, work)
    with prefix_of_own(os.path.join(work, "prefix")) as prefix:
        for label, exe in built:
            run_host(checks, prefix, exe, label, work)
    return checks.summary()


# ---------------------------------------------------------------- the ZIP

ZIP_FILES = ["include/bspp.h", "share/doc/bspp/README.md", "lib/cmake/bspp/bsppConfig.cmake",
             "lib/cmake/bspp/bsppConfigVersion.cmake"] + [
    name % arch for arch in TRIPLES for name in (
        "bin/%s/bspp.dll", "bin/%s/bspp-print.exe", "lib/%s/bspp.lib", "lib/%s/bspp.def",
        "lib/cmake/bspp/bsppTargets-%s.cmake")]


def consumer_project(work):
    """A project of a user's own: find_package(bspp), link bspp::bspp."""
    project = os.path.join(work, "consumer")
    os.makedirs(project)
    shutil.copy(os.path.join(HERE, "linked_host.c"), project)
    with open(os.path.join(project, "CMakeLists.txt"), "w") as f:
        f.write("cmake_minimum_required(VERSION 3.16)\n"
                "project(consumer LANGUAGES C)\n"
                "find_package(bspp 1.0 REQUIRED)\n"
                "add_executable(consumer linked_host.c)\n"
                "target_link_libraries(consumer PRIVATE bspp::bspp)\n"
                "file(GENERATE OUTPUT dll.txt CONTENT $<TARGET_FILE:bspp::bspp>)\n")
    return project


def zip_package(args):
    checks = Checks()
    work = os.path.abspath(args.work)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    if not os.path.exists(os.path.join(args.win64_build, "cmake_install.cmake")):
        print("no x64 build at %s: build the win64 preset first" % args.win64_build)
        return SKIPPED
    out = run([args.cpack, "-G", "ZIP", "-B", work], cwd=args.build)
    zips = [n for n in os.listdir(work) if n.endswith(".zip")]
    if not checks.expect(len(zips) == 1, "cpack made one ZIP: %s\n%s" % (zips, out)):
        return checks.summary()
    root = os.path.join(work, "unpacked")
    with zipfile.ZipFile(os.path.join(work, zips[0])) as z:
        z.extractall(root)
    tops = os.listdir(root)
    checks.expect(len(tops) == 1, "one top folder in the ZIP: %s" % tops)
    root = os.path.join(root, tops[0])
    for name in ZIP_FILES:
        checks.expect(os.path.isfile(os.path.join(root, name)), "in the ZIP: " + name)

    project = consumer_project(work)
    with prefix_of_own(os.path.join(work, "prefix")) as prefix:
        for arch in TRIPLES:
            build = os.path.join(work, "build-" + arch)
            triple = TRIPLES[arch] + "-w64-mingw32"
            run([args.cmake, "-S", project, "-B", build, "-G", "Ninja", "-DCMAKE_SYSTEM_NAME=Windows",
                 "-DCMAKE_C_COMPILER=%s-gcc" % triple, "-DCMAKE_PREFIX_PATH=" + root])
            run([args.cmake, "--build", build])
            with open(os.path.join(build, "dll.txt")) as f:
                dll = f.read().strip()
            checks.expect(os.path.normpath(dll) == os.path.join(root, "bin", arch, "bspp.dll"),
                          "%s consumer gets bin/%s/bspp.dll: %s" % (arch, arch, dll))
            shutil.copy(dll, build)
            run_host(checks, prefix, os.path.join(build, "consumer.exe"),
                     "ZIP, find_package, " + arch, work)
    return checks.summary()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("command", choices=["hosts", "zip"])
    parser.add_argument("--work", required=True)
    parser.add_argument("--arch", choices=["x86", "x64"], default="x86")
    parser.add_argument("--include")
    parser.add_argument("--dll")
    parser.add_argument("--import-lib")
    parser.add_argument("--cc")
    parser.add_argument("--clang")
    parser.add_argument("--lld-link")
    parser.add_argument("--llvm-dlltool")
    parser.add_argument("--build")
    parser.add_argument("--win64-build")
    parser.add_argument("--cmake", default="cmake")
    parser.add_argument("--cpack", default="cpack")
    args = parser.parse_args()
    for tool in ("clang", "lld_link", "llvm_dlltool"):
        if (getattr(args, tool) or "").endswith("-NOTFOUND"):
            setattr(args, tool, None)
    return {"hosts": hosts, "zip": zip_package}[args.command](args)


if __name__ == "__main__":
    sys.exit(main())
