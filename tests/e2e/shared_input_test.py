#!/usr/bin/env python3
"""A list read from a shared standard input leaves the rest for the next reader, as
`{ blockset -q text >/dev/null; wc -c; } < list.txt` shows.

argv[1] is the blockset binary. A reading that stops early, at a syntax error, stops where it
stops whatever follows: a large list (read ahead, past a megabyte) and the same list cut short
well after the error (too small to be read ahead) must leave the shared offset at the same
place, for a syntax error before the list's middle and after it.
"""
import os
import random
import subprocess
import sys
import tempfile

SIZE = 1100000  # bytes: above the size from which a list is read ahead
KEPT = 960000  # bytes of the short list: below that size, and far past each error

# name: (where the syntax error stands, as a share of the list)
ERRORS = {"before the middle": 0.3, "after the middle": 0.6}
# Whether the second half was read ahead when the reading stopped depends on timing: each run is
# repeated.
RUNS = 5
READERS = {"-q text": ["-q", "text"], "load(text, stdin)": ["-c", "save(cidr, stdout, load(text, stdin));"]}


def list_with_error(share):
    rng = random.Random(7)
    lines = []
    size = 0
    while size < SIZE:
        line = ".".join(str(rng.randrange(256)) for _ in range(4))
        # The first half is slow to read (the general way, by the scanner), so that the second
        # half is being read ahead when the reading reaches the middle.
        line += " # the general way\n" if size < SIZE // 2 else "\n"
        if lines and size < SIZE * share <= size + len(line):
            line = "1.2.3.4 5.6.7.8\n"
        lines.append(line)
        size += len(line)
    return "".join(lines).encode()


def offset_left(binary, folder, arguments, text):
    """The shared offset after the run, and the run's status."""
    path = os.path.join(folder, "list.txt")
    with open(path, "wb") as handle:
        handle.write(text)
    with open(path, "rb") as shared:
        status = subprocess.run([binary] + arguments, stdin=shared, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, env={}, timeout=120).returncode
        return os.lseek(shared.fileno(), 0, os.SEEK_CUR), status


def main():
    binary = os.path.abspath(sys.argv[1])
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        for where, share in ERRORS.items():
            text = list_with_error(share)
            for reader, arguments in READERS.items():
                short = offset_left(binary, folder, arguments, text[:KEPT])
                large = {offset_left(binary, folder, arguments, text) for _ in range(RUNS)}
                if large != {short}:
                    failures.append(f"syntax error {where}, {reader}: offsets and statuses {sorted(large)}, "
                                    f"{short} when nothing follows past {KEPT} bytes")
    for failure in failures:
        print(failure)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
