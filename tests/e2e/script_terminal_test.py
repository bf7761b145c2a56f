#!/usr/bin/env python3
"""A script typed on a terminal: each statement runs as soon as the line holding its ";" is
typed, and what it saves to standard output shows before the next line is typed."""
import os
import pty
import select
import subprocess
import sys
import termios
import time

BINARY = sys.argv[1]


def read_until(fd, wanted, timeout=20):
    data = b""
    deadline = time.monotonic() + timeout
    while wanted not in data and time.monotonic() < deadline:
        ready, _, _ = select.select([fd], [], [], 0.2)
        if ready:
            chunk = os.read(fd, 4096)
            if not chunk:
                break
            data += chunk
    return data


master, slave = pty.openpty()
attributes = termios.tcgetattr(slave)
attributes[3] &= ~termios.ECHO  # keep what is typed out of the program's standard output
termios.tcsetattr(slave, termios.TCSANOW, attributes)
out_read, out_write = os.pipe()
process = subprocess.Popen([BINARY, "-f", "/dev/stdin"], stdin=slave, stdout=out_write,
                           stderr=subprocess.PIPE, env={})
os.close(slave)
os.close(out_write)
failures = []

os.write(master, b"$aa = {10.0.0.0/24};\n")
os.write(master, b"save(cidr, stdout, $aa);\n")
got = read_until(out_read, b"10.0.0.0/24\n")
if got != b"10.0.0.0/24\n":
    failures.append(f"first save did not show while the script was still open: {got!r}")
os.write(master, b"save(range, stdout, union($aa, {10.0.1.0/24}));\n")
got = read_until(out_read, b"10.0.1.255\n")
if got != b"10.0.0.0-10.0.1.255\n":
    failures.append(f"second save did not show: {got!r}")
os.write(master, b"\x04")  # end of file at the start of a line
rest = b""
while True:
    chunk = os.read(out_read, 4096)
    if not chunk:
        break
    rest += chunk
status = process.wait(timeout=20)
err = process.stderr.read()
os.close(master)
if (rest, err, status) != (b"", b"", 0):
    failures.append(f"end: stdout {rest!r}, stderr {err!r}, status {status}")
if failures:
    print("\n".join(failures))
    sys.exit(1)
