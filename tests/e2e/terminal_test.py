#!/usr/bin/env python3
"""On a terminal, each line is scanned as soon as its newline is typed.

Starts `blockset -q text` with standard input on a pseudo-terminal and standard output on a
pipe. A typed line whose characters form no token is echoed at once, while the terminal is
still open; only then is the end of input (Ctrl-D) typed and the listing checked.
"""
import os
import pty
import select
import subprocess
import sys

WAIT_SECONDS = 20  # a guard against hanging, not a measurement


def read_until(fd, expected, collected=b""):
    while not collected.endswith(expected):
        ready, _, _ = select.select([fd], [], [], WAIT_SECONDS)
        if not ready:
            raise SystemExit(f"no output {expected!r} while the terminal stayed open; got {collected!r}")
        chunk = os.read(fd, 4096)
        if not chunk:
            raise SystemExit(f"output ended before {expected!r}; got {collected!r}")
        collected += chunk
    return collected


def main():
    binary = sys.argv[1]
    master, slave = pty.openpty()
    process = subprocess.Popen([binary, "-q", "text"], stdin=slave, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE)
    os.close(slave)
    out = process.stdout.fileno()
    try:
        os.write(master, b"10.0.0.0/8\n")
        os.write(master, b"1.2.3\n")
        seen = read_until(out, b"1.2.3")
        os.write(master, b"# a comment\n9.9\n")
        seen = read_until(out, b"9.9", seen)
        os.write(master, b"192.168.0.0-192.168.0.255\n")
        os.write(master, b"\x04")  # end of input at the start of a line
        rest, errors = process.communicate(timeout=WAIT_SECONDS)
    finally:
        if process.poll() is None:
            process.kill()
        os.close(master)
    output = seen + rest
    expected = b"1.2.39.910.0.0.0/8\n192.168.0.0/24\n"
    failures = []
    if output != expected:
        failures.append(f"stdout: expected {expected!r}, got {output!r}")
    if errors != b"":
        failures.append(f"stderr: expected nothing, got {errors!r}")
    if process.returncode != 0:
        failures.append(f"status: expected 0, got {process.returncode}")
    if failures:
        print("\n".join(failures))
        sys.exit(1)


if __name__ == "__main__":
    main()
