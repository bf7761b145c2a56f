#!/usr/bin/env python3
"""Standard output that cannot be written: the run ends with the message and status 74.

argv[1] is the blockset binary. Covers a full device (/dev/full) and a closed descriptor 1,
with output small enough to sit in the buffer until the end and large enough to be written
while the listing runs.
"""
import os
import struct
import subprocess
import sys
import tempfile

MAGIC = b"\xff\xff\xff\xffP2B\x01"
MESSAGE = b"Error writing standard output.\n"


def p2b_list(count):
    """A version 1 list of count non-adjacent two-address ranges."""
    return MAGIC + b"".join(b"\x00" + struct.pack(">II", 4 * i, 4 * i + 1) for i in range(count))


def run(binary, args, folder, stdout, close_stdout=False):
    def close_descriptor_1():
        os.close(1)

    result = subprocess.run([binary] + args, cwd=folder, stdin=subprocess.DEVNULL, stdout=stdout,
                            stderr=subprocess.PIPE, env={}, timeout=120,
                            preexec_fn=close_descriptor_1 if close_stdout else None)
    return result.returncode, result.stderr


def main():
    binary = os.path.abspath(sys.argv[1])
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        for name, count in (("small.p2b", 3), ("large.p2b", 200000)):
            with open(os.path.join(folder, name), "wb") as handle:
                handle.write(p2b_list(count))
        cases = [
            # (what, args, where standard output goes, expected status, expected stderr)
            ("small listing to /dev/full", ["-q", "p2b", "small.p2b"], "full", 74, MESSAGE),
            ("large listing to /dev/full", ["-q", "p2b", "large.p2b"], "full", 74, MESSAGE),
            ("small listing to a closed descriptor", ["-q", "p2b", "small.p2b"], "closed", 74, MESSAGE),
            ("large listing to a closed descriptor", ["-q", "p2b", "large.p2b"], "closed", 74, MESSAGE),
            ("nothing written to /dev/full", ["-q", "p2b", "missing.p2b"], "full", 0,
             b"Error opening file 'missing.p2b'.\n"),
            ("nothing written to a closed descriptor", ["a", "b"], "closed", 0, b""),
            ("usage with /dev/full", ["-q"], "full", 1,
             b"usage: blockset -q type [table]\n       blockset -c commands\n       blockset -f file\n"),
        ]
        for what, args, where, status, stderr in cases:
            if where == "full":
                with open("/dev/full", "wb") as full:
                    got_status, got_stderr = run(binary, args, folder, full)
            else:
                got_status, got_stderr = run(binary, args, folder, None, close_stdout=True)
            if (got_status, got_stderr) != (status, stderr):
                failures.append(f"{what}: expected {status} {stderr!r}, got {got_status} {got_stderr!r}")
    for failure in failures:
        print(failure)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
