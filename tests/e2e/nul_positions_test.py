#!/usr/bin/env python3
"""A NUL byte at every position of a text list and of a script. argv[1] is the blockset binary.

NUL is no part of either language: wherever it stands, the run must behave exactly as with
any other character that forms no token ("~" here) in its place, the echo carrying the NUL
itself. So NUL neither ends the input early nor joins or splits tokens differently.
"""
import os
import subprocess
import sys
import tempfile

TEXT = b"# list\n1.2.3.4\r\nname:10.0.0.0/8\n1.2.3.9-1.2.3.20\n"
SCRIPT = b"$aa = {1.2.3.4, 10.0.0.0/8};\nsave(range, stdout, union($aa, {5.6.7.8-5.6.7.9}));\n"


def run(binary, folder, args, stdin):
    result = subprocess.run([binary] + args, cwd=folder, input=stdin, capture_output=True, env={}, timeout=60)
    return result.stdout, result.stderr, result.returncode


def main():
    binary = os.path.abspath(sys.argv[1])
    failures = 0
    with tempfile.TemporaryDirectory() as folder:
        for name, sample in [("text list", TEXT), ("script", SCRIPT)]:
            for position in range(len(sample) + 1):
                with_nul = sample[:position] + b"\x00" + sample[position:]
                with_other = sample[:position] + b"~" + sample[position:]
                if name == "script":
                    # Arguments cannot hold NUL: the script comes from a file.
                    results = []
                    for data in (with_nul, with_other):
                        with open(os.path.join(folder, "s"), "wb") as out:
                            out.write(data)
                        results.append(run(binary, folder, ["-f", "s"], b""))
                else:
                    results = [run(binary, folder, ["-q", "text"], data) for data in (with_nul, with_other)]
                got, other = results
                expected = (other[0].replace(b"~", b"\x00"), other[1], other[2])
                if got != expected:
                    failures += 1
                    print(f"{name}, NUL at {position}: expected {expected!r}, got {got!r}")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
