#!/usr/bin/env python3
"""The environment has no influence: the same arguments give the same result whatever
variables are set (option-parser, locale and compression settings included).

argv[1] is the blockset binary.
"""
import os
import subprocess
import sys
import tempfile

LIST = b"\xff\xff\xff\xffP2B\x01x\x00\x0a\x00\x00\x00\x0a\x00\x00\xff"
ENVIRONMENT = {
    "POSIXLY_CORRECT": "1",
    "LANG": "de_DE.UTF-8",
    "LC_ALL": "tr_TR.UTF-8",
    "GZIP": "-9",
    "TMPDIR": "/nonexistent",
    "HOME": "/nonexistent",
    "PATH": "/nonexistent",
}
ARGUMENTS = [
    ["-q", "p2b", "list.p2b"],
    ["-q", "p2b"],
    ["p2b", "-q"],
    ["-q", "p2b", "-c"],
    ["list.p2b", "-q", "p2b"],
    ["-x", "a"],
    ["-q"],
    ["-q", "--"],
]


def main():
    binary = os.path.abspath(sys.argv[1])
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "list.p2b"), "wb") as handle:
            handle.write(LIST)
        for arguments in ARGUMENTS:
            results = []
            for environment in ({}, ENVIRONMENT):
                result = subprocess.run([binary] + arguments, cwd=folder, env=environment, input=LIST,
                                        capture_output=True, timeout=60)
                results.append((result.returncode, result.stdout, result.stderr))
            if results[0] != results[1]:
                failures.append(f"{arguments}: {results[0]!r} without variables, {results[1]!r} with")
    for failure in failures:
        print(failure)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
