#!/usr/bin/env python3
"""Checks the manual page.

1. `mandoc -Tlint` reports nothing on man/blockset.1.
2. Every message that the sources write on standard error appears, word for word, in the
   rendered page, so that DIAGNOSTICS keeps up with the program.

argv[1] (the binary) is accepted for symmetry with the other scripts but not needed.
"""
import os
import re
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
PAGE = os.path.join(ROOT, "man", "blockset.1")
SOURCES = os.path.join(ROOT, "src")


def fail(message):
    print(f"FAIL: {message}", file=sys.stderr)
    sys.exit(1)


def lint(mandoc):
    run = subprocess.run([mandoc, "-Tlint", PAGE], capture_output=True, text=True)
    report = (run.stdout + run.stderr).strip()
    if run.returncode != 0 or report:
        fail(f"mandoc -Tlint exited with {run.returncode} and reported:\n{report}")


def rendered_text(mandoc):
    # A very wide page keeps every message on one line; whitespace runs are folded anyway.
    run = subprocess.run([mandoc, "-Tascii", "-Owidth=1000", PAGE], capture_output=True)
    if run.returncode != 0:
        fail(f"mandoc -Tascii exited with {run.returncode}: {run.stderr.decode(errors='replace')}")
    text = run.stdout.decode("ascii", errors="replace")
    text = re.sub(r".\x08", "", text)  # overstrike bold and underline
    return " ".join(text.split())


def unescape(literal):
    return literal.encode("latin-1").decode("unicode_escape")


def source_messages():
    """The format texts handed to the message writers, as the page should show them."""
    messages = set()
    call = re.compile(r'\b(?:diagnostic|scanner_fatal)\(\s*"((?:[^"\\]|\\.)*)"')
    parse_error = re.compile(r'\breport_parse_error\([^;]*?"((?:[^"\\]|\\.)*)"\s*\)')
    for folder, _, names in os.walk(SOURCES):
        for name in names:
            if not name.endswith((".cpp", ".h")):
                continue
            with open(os.path.join(folder, name), encoding="utf-8") as handle:
                code = handle.read()
            for literal in call.findall(code):
                messages.add(unescape(literal).rstrip("\n"))
            for literal in parse_error.findall(code):
                messages.add(f"error: {unescape(literal)} on line: %d")
            if "Allocation error" in code:
                messages.add("Allocation error")
    shown = set()
    for message in messages:
        if message in ("%s", "error: %s on line: %d") or message.startswith("       %s"):
            continue  # wrappers and the usage lines after the first
        message = message.replace("usage: %s", "usage: blockset")
        message = message.replace("%s: illegal option -- %c", "blockset: illegal option -- x")
        shown.add(message)
    return shown


def main():
    mandoc = shutil.which("mandoc")
    if mandoc is None:
        fail("mandoc is not installed; install it (Debian: apt-get install -y mandoc) to check the manual page")
    if not os.path.isfile(PAGE):
        fail(f"no manual page at {PAGE}")
    lint(mandoc)
    text = rendered_text(mandoc)
    messages = source_messages()
    if len(messages) < 10:
        fail(f"found only {len(messages)} messages in {SOURCES}; the source scan is broken")
    missing = sorted(m for m in messages if m not in text)
    if missing:
        fail("messages written by the program but missing from the manual page:\n  "
             + "\n  ".join(missing))
    print(f"manual page lints clean and documents all {len(messages)} messages")


if __name__ == "__main__":
    main()
