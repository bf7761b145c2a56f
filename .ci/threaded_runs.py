#!/usr/bin/env python3
"""Runs that take the threaded paths on large inputs, for a ThreadSanitizer build.

argv[1] is the blockset binary. The inputs are a few to some tens of megabytes: text and
published-style lists, in order and shuffled, IPv6 among IPv4, a dense group of addresses, two
large loads combined, and long listings to standard output and to a file. Every run must end with status 0
and no message (a race report fails it), and give what the same run gives reading its first
list through a pipe, where nothing is read ahead.
"""
import os
import random
import subprocess
import sys
import tempfile
import time


def quad(value):
    return ".".join(str((value >> shift) & 255) for shift in (24, 16, 8, 0))


def write_lists(folder):
    rng = random.Random(20261210)
    # Addresses two apart never join, so the list holds as many ranges as lines.
    spread = [quad(rng.randrange(1 << 31) * 2) for _ in range(1 << 21)]
    dense = [quad((10 << 24) | (20 << 16) | (n * 2)) for n in range(1 << 15)]  # one /16, every other address
    lines = {
        "sorted.txt": sorted(spread[:1 << 19], key=lambda text: tuple(map(int, text.split(".")))),
        "shuffled.txt": spread + dense,
        "other.txt": [f"{quad(rng.randrange(1 << 32))}/{rng.randrange(20, 33)}" for _ in range(1 << 20)],
    }
    rng.shuffle(lines["shuffled.txt"])
    for name, entries in lines.items():
        with open(os.path.join(folder, name), "w") as handle:
            handle.write("".join(f"{entry}\n" for entry in entries))
    # IPv6 addresses and blocks, shuffled, with IPv4 lines among them: both families read ahead.
    ipv6 = [f"2001:db8:{rng.randrange(1 << 16):x}:{rng.randrange(1 << 16):x}::{n & 0xFFFF:x}" if n % 3 else
            f"2001:db8:{rng.randrange(1 << 16):x}:{rng.randrange(1 << 16):x}::/{rng.randrange(64, 121)}"
            for n in range(1 << 19)] + lines["other.txt"][:1 << 16]
    rng.shuffle(ipv6)
    with open(os.path.join(folder, "ipv6.txt"), "w") as handle:
        handle.write("".join(f"{entry}\n" for entry in ipv6))
    # A published-style list: comments of every kind, CR LF line ends, blanks around entries.
    with open(os.path.join(folder, "published.txt"), "w", newline="") as handle:
        handle.write("; header\r\n// more\r\n" + "".join(f" {entry}\t# note\r\n" for entry in lines["shuffled.txt"][:1 << 20]))


COMBINED = ('save(cidr, stdout, difference(load(text, %s), load(auto, "other.txt"))); '
            'save(range, stdout, intersect(load(auto, "other.txt"), load(text, "shuffled.txt"))); '
            'save(count, stdout, union(load(text, "shuffled.txt"), load(text, "other.txt")));')
LISTINGS = ('$all = load(text, %s); save(single, stdout, $all); save(range, "ranges.out", $all); '
            'save(cidr, "cidr.out", union($all, load(text, "other.txt")));')

# name: (arguments reading the first list from its path, from standard input, the first list)
RUNS = {
    "text in order": (["-q", "text", "sorted.txt"], ["-q", "text"], "sorted.txt"),
    "text shuffled": (["-q", "text", "shuffled.txt"], ["-q", "text"], "shuffled.txt"),
    "auto in order": (["-q", "auto", "sorted.txt"], ["-q", "auto"], "sorted.txt"),
    "auto shuffled": (["-q", "auto", "published.txt"], ["-q", "auto"], "published.txt"),
    "auto IPv6 shuffled": (["-q", "auto", "ipv6.txt"], ["-q", "auto"], "ipv6.txt"),
    "two loads combined": (
        ['-c', COMBINED % '"shuffled.txt"'], ['-c', COMBINED % "stdin"],
        "shuffled.txt"),
    "long listings": (
        ['-c', LISTINGS % '"shuffled.txt"'], ['-c', LISTINGS % "stdin"],
        "shuffled.txt"),
}


def run(binary, folder, arguments, stdin):
    result = subprocess.run([binary] + arguments, cwd=folder, stdin=stdin, capture_output=True, timeout=1200)
    outputs = {}
    for name in ("ranges.out", "cidr.out"):
        path = os.path.join(folder, name)
        if os.path.exists(path):
            with open(path, "rb") as handle:
                outputs[name] = handle.read()
            os.unlink(path)
    return result.returncode, result.stderr, result.stdout, outputs


def main():
    binary = os.path.abspath(sys.argv[1])
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        write_lists(folder)
        for name, (from_path, from_pipe, first) in RUNS.items():
            start = time.monotonic()
            by_path = run(binary, folder, from_path, subprocess.DEVNULL)
            with subprocess.Popen(["cat", first], cwd=folder, stdout=subprocess.PIPE) as piped:
                by_pipe = run(binary, folder, from_pipe, piped.stdout)
            print(f"{name}: {len(by_path[2])} bytes out, {time.monotonic() - start:.1f} s", flush=True)
            if by_path[:2] != (0, b"") or by_pipe[:2] != (0, b""):
                failures.append(f"{name}: statuses {by_path[0]} and {by_pipe[0]}, stderr\n"
                                f"{by_path[1][:4000].decode(errors='replace')}{by_pipe[1][:4000].decode(errors='replace')}")
            elif by_path != by_pipe:
                failures.append(f"{name}: the output differs from the one read through a pipe")
    for failure in failures:
        print(failure)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
