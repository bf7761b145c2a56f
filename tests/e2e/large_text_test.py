#!/usr/bin/env python3
"""A large generated text list read from a file and from standard input.

Entries of every form, CRLF and LF line ends, runs of blanks, and comments and blank runs
longer than the scanner's first storage, so that many tokens straddle a refill and a few
outgrow the storage. The expected CIDR listing is computed here from the same entries.
"""
import os
import random
import subprocess
import sys
import tempfile


def address(value):
    return ".".join(str((value >> shift) & 255) for shift in (24, 16, 8, 0))


def cidr_listing(ranges):
    merged = []
    for first, last in sorted(ranges):
        if merged and first <= merged[-1][1] + 1:
            merged[-1][1] = max(merged[-1][1], last)
        else:
            merged.append([first, last])
    lines = []
    for first, last in merged:
        while first <= last:
            size = 32
            while size > 0:
                block = 1 << (33 - size)
                if first % block != 0 or first + block - 1 > last:
                    break
                size -= 1
            lines.append(f"{address(first)}/{size}\n")
            first += 1 << (32 - size)
    return "".join(lines).encode()


def generate(rng):
    lines, ranges = [], []
    for n in range(60000):
        kind = rng.randrange(3)
        start = rng.randrange(1 << 32)
        if kind == 0:
            prefix = rng.randrange(8, 33)
            last = start | ((1 << (32 - prefix)) - 1)
            entry = f"{address(start)}/{prefix}"
        elif kind == 1:
            last = min(start + rng.randrange(1, 5000), (1 << 32) - 1)
            entry = f"{address(start)}-{address(last)}"
        else:
            last = start
            entry = address(start)
        ranges.append((start, last))
        lead = " " * rng.randrange(3) + "\t" * rng.randrange(2)
        tail = " # note" if rng.randrange(10) == 0 else ""
        if n % 9000 == 0:
            lead = " " * 20000          # longer than the first storage
        if n % 7000 == 0:
            tail = " #" + "x" * 40000   # a comment that outgrows it
        end = "\r\n" if rng.randrange(4) == 0 else "\n"
        lines.append(f"{lead}{entry}{tail}{end}")
        if rng.randrange(50) == 0:
            lines.append("# a comment line\n\n")
    return "".join(lines).encode(), ranges


def main():
    binary = sys.argv[1]
    text, ranges = generate(random.Random(20240611))
    expected = cidr_listing(ranges)
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "list.txt")
        with open(path, "wb") as handle:
            handle.write(text)
        runs = {
            "file": subprocess.run([binary, "-q", "text", path], capture_output=True),
            "stdin": subprocess.run([binary, "-q", "text"], input=text, capture_output=True),
        }
    for name, result in runs.items():
        if result.stdout != expected:
            failures.append(f"{name}: listing differs ({len(result.stdout)} bytes, expected {len(expected)})")
        if result.stderr or result.returncode != 0:
            failures.append(f"{name}: status {result.returncode}, stderr {result.stderr[:200]!r}")
    if failures:
        print("\n".join(failures))
        sys.exit(1)


if __name__ == "__main__":
    main()
