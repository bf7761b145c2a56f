#!/usr/bin/env python3
"""Installs the build into a temporary prefix and runs the installed program.

argv[1] is the built binary; its directory is the build tree that `cmake --install` reads.
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


def cmake_command(build_dir):
    """The cmake that configured the build tree, else the one on PATH."""
    cache = os.path.join(build_dir, "CMakeCache.txt")
    if os.path.isfile(cache):
        with open(cache, encoding="utf-8", errors="replace") as handle:
            for line in handle:
                found = re.match(r"CMAKE_COMMAND:INTERNAL=(.+)$", line.rstrip("\n"))
                if found and os.path.isfile(found.group(1)):
                    return found.group(1)
    command = shutil.which("cmake")
    if command is None:
        fail("cmake not found")
    return command


def expect_run(binary, args, stdin, stdout):
    run = subprocess.run([binary] + args, input=stdin, capture_output=True, timeout=60)
    if (run.returncode, run.stdout, run.stderr) != (0, stdout, b""):
        fail(f"{binary} {args}: status {run.returncode}, stdout {run.stdout!r}, "
             f"stderr {run.stderr!r}; expected status 0, stdout {stdout!r}, no stderr")


def main():
    if len(sys.argv) != 2:
        fail("usage: install_test.py BINARY")
    build_dir = os.path.dirname(os.path.abspath(sys.argv[1]))
    with tempfile.TemporaryDirectory(prefix="blockset-install-") as prefix:
        run = subprocess.run([cmake_command(build_dir), "--install", build_dir,
                              "--prefix", prefix], capture_output=True, text=True, timeout=300)
        if run.returncode != 0:
            fail(f"cmake --install failed with {run.returncode}:\n{run.stdout}{run.stderr}")

        binary = os.path.join(prefix, "bin", "blockset")
        page = os.path.join(prefix, "share", "man", "man1", "blockset.1")
        if not (os.path.isfile(binary) and os.access(binary, os.X_OK)):
            fail(f"no executable at {binary}")
        if not os.path.isfile(page):
            fail(f"no manual page at {page}")
        with open(page, "rb") as installed, open(PAGE, "rb") as source:
            if installed.read() != source.read():
                fail(f"{page} differs from {PAGE}")

        expect_run(binary, ["-q", "p2b"], P2B_LIST, b"10.0.0.0/24\n")
        expect_run(binary, ["-c", "save(range, stdout, {1.2.3.4});"], b"", b"1.2.3.4-1.2.3.4\n")
    print("installed binary and manual page work")


if __name__ == "__main__":
    main()
