#!/usr/bin/env python3
"""The bundled examples: README's query prints the expected CIDR listing, and the committed
files are what examples/make_examples.py makes.

argv[1] is the blockset binary.
"""
import gzip
import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
EXAMPLES = os.path.join(ROOT, "examples")


def read(path):
    with open(path, "rb") as handle:
        return handle.read()


def main():
    binary = os.path.abspath(sys.argv[1])
    failures = []
    expected = read(os.path.join(EXAMPLES, "blocklist.cidr"))
    result = subprocess.run([binary, "-q", "p2b", "examples/blocklist.p2b.gz"], cwd=ROOT, env={},
                            stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    if (result.returncode, result.stderr) != (0, b""):
        failures.append(f"query: status {result.returncode}, stderr {result.stderr!r}")
    if result.stdout != expected:
        failures.append("query: output differs from examples/blocklist.cidr")

    with tempfile.TemporaryDirectory() as folder:
        subprocess.run([sys.executable, os.path.join(EXAMPLES, "make_examples.py"), folder], check=True)
        # Compressed bytes may differ between zlib versions; the data inside may not.
        if gzip.decompress(read(os.path.join(folder, "blocklist.p2b.gz"))) != \
                gzip.decompress(read(os.path.join(EXAMPLES, "blocklist.p2b.gz"))):
            failures.append("blocklist.p2b.gz is not what make_examples.py makes")
        for name in ("blocklist.txt", "blocklist.cidr", "drop-style.txt", "p2p-style.txt", "dual-stack.txt"):
            if read(os.path.join(folder, name)) != read(os.path.join(EXAMPLES, name)):
                failures.append(f"{name} is not what make_examples.py makes")
    for failure in failures:
        print(failure)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
