#!/usr/bin/env python3
"""Stages the build's installation into a temporary DESTDIR, as a package build does, checks
the exact list of files it holds and runs the installed program.

argv[1] is the built binary; its directory is the build tree that `cmake --install` reads.
Further arguments are the exact files expected under DESTDIR; without them, the program and
the manual page under the prefix and folders the build tree was configured with
(share/man for the pages, as on FreeBSD and Linux alike).
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
PAGE = os.path.normpath(os.path.join(HERE, "..", "..", "man", "blockset.1"))

# A version 1 P2B list with one record: the name "x", then 10.0.0.0 to 10.0.0.255.
P2B_LIST = (b"\xff\xff\xff\xff" b"P2B" b"\x01"
            b"x\x00" b"\x0a\x00\x00\x00" b"\x0a\x00\x00\xff")


def fail(message):
    print(f"FAIL: {message}", file=sys.stderr)
    sys.exit(1)


def cache_entries(build_dir):
    """The build tree's CMake cache as a dict of names to values."""
    entries = {}
    with open(os.path.join(build_dir, "CMakeCache.txt"), encoding="utf-8", errors="replace") as handle:
        for line in handle:
            found = re.match(r"([A-Za-z_0-9]+):[A-Z]+=(.*)$", line.rstrip("\n"))
            if found:
                entries[found.group(1)] = found.group(2)
    return entries


def cmake_command(cache):
    """The cmake that configured the build tree, else the one on PATH."""
    command = cache.get("CMAKE_COMMAND", "")
    if os.path.isfile(command):
        return command
    command = shutil.which("cmake")
    if command is None:
        fail("cmake not found")
    return command


def installed_files(root):
    """Every file and link under root, relative to it, sorted."""
    found = []
    for folder, folders, files in os.walk(root):
        for name in files + [f for f in folders if os.path.islink(os.path.join(folder, f))]:
            found.append(os.path.relpath(os.path.join(folder, name), root))
    return sorted(found)


def expect_run(binary, args, stdin, stdout):
    run = subprocess.run([binary] + args, input=stdin, capture_output=True, timeout=60)
    if (run.returncode, run.stdout, run.stderr) != (0, stdout, b""):
        fail(f"{binary} {args}: status {run.returncode}, stdout {run.stdout!r}, "
             f"stderr {run.stderr!r}; expected status 0, stdout {stdout!r}, no stderr")


def main():
    if len(sys.argv) < 2:
        fail("usage: install_test.py BINARY [EXPECTED-FILE...]")
    build_dir = os.path.dirname(os.path.abspath(sys.argv[1]))
    cache = cache_entries(build_dir)
    prefix = cache["CMAKE_INSTALL_PREFIX"].lstrip("/")
    # An empty cache entry stands for the folder's default.
    bindir = cache.get("CMAKE_INSTALL_BINDIR") or "bin"
    mandir = cache.get("CMAKE_INSTALL_MANDIR") or os.path.join(
        cache.get("CMAKE_INSTALL_DATAROOTDIR") or "share", "man")
    binary_path = os.path.join(prefix, bindir, "blockset")
    page_path = os.path.join(prefix, mandir, "man1", "blockset.1")
    expected = sorted(sys.argv[2:] or [binary_path, page_path])
    with tempfile.TemporaryDirectory(prefix="blockset-install-") as destdir:
        run = subprocess.run([cmake_command(cache), "--install", build_dir], capture_output=True,
                             text=True, timeout=300, env=dict(os.environ, DESTDIR=destdir))
        if run.returncode != 0:
            fail(f"cmake --install failed with {run.returncode}:\n{run.stdout}{run.stderr}")
        files = installed_files(destdir)
        if files != expected:
            fail(f"installed {files}, expected {expected}")

        binary = os.path.join(destdir, binary_path)
        page = os.path.join(destdir, page_path)
        if not os.access(binary, os.X_OK):
            fail(f"{binary} is not executable")
        with open(page, "rb") as installed, open(PAGE, "rb") as source:
            if installed.read() != source.read():
                fail(f"{page} differs from {PAGE}")

        expect_run(binary, ["-q", "p2b"], P2B_LIST, b"10.0.0.0/24\n")
        expect_run(binary, ["-c", "save(range, stdout, {1.2.3.4});"], b"", b"1.2.3.4-1.2.3.4\n")
    print("installed " + ", ".join(expected) + "; the program and its manual page work")


if __name__ == "__main__":
    main()
