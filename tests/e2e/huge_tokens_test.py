#!/usr/bin/env python3
"""Inputs with one enormous token: a P2B name of 100 MiB that never ends, and a host name of
50 MiB in a text list and in a script. argv[1] is the blockset binary.

The name is skipped to the end of the data, keeping the records before it; the host name is
one token whose lookup fails (no resolver accepts a name that long), and the entries around it
are kept.
"""
import os
import socket
import subprocess
import sys
import tempfile

P2B_NAME = 100 << 20
HOST = 50 << 20


def lookup_failure(host):
    """The C library's own text for the failed lookup of host, asked the way blockset asks."""
    try:
        socket.getaddrinfo(host, None, socket.AF_INET, socket.SOCK_STREAM)
    except socket.gaierror as error:
        return error.strerror.encode()
    sys.exit(f"the lookup of a host name of {len(host)} bytes succeeded")


def main():
    binary = os.path.abspath(sys.argv[1])
    host = b"a" * HOST
    with tempfile.TemporaryDirectory() as folder:
        def path(name):
            return os.path.join(folder, name)

        with open(path("name.p2b"), "wb") as out:
            out.write(b"\xff\xff\xff\xffP2B\x02" + b"x\x00" + bytes([10, 0, 0, 0, 10, 0, 0, 255]))
            out.write(b"n" * P2B_NAME)
        with open(path("host.txt"), "wb") as out:
            out.write(b"1.2.3.4\n" + host + b"\n5.6.7.8\n")
        with open(path("host.script"), "wb") as out:
            out.write(b"save(cidr, stdout, {1.2.3.4, " + host + b", 5.6.7.8});")
        lookup_failed = b"Host lookup for host '" + host + b"' failed: " + lookup_failure(host) + b"\n"
        cases = [
            ("P2B name without end, query mode", ["-q", "p2b", "name.p2b"], b"10.0.0.0/24\n", b"", 0),
            ("P2B name without end, script", ["-c", 'save(cidr, stdout, load(p2b, "name.p2b"));'],
             b"10.0.0.0/24\n", b"", 0),
            ("host name in a text list", ["-q", "text", "host.txt"], b"1.2.3.4/32\n5.6.7.8/32\n", lookup_failed, 0),
            ("host name in a script", ["-f", "host.script"], b"1.2.3.4/32\n5.6.7.8/32\n", lookup_failed, 0),
        ]
        failures = 0
        for name, args, stdout, stderr, status in cases:
            result = subprocess.run([binary] + args, cwd=folder, stdin=subprocess.DEVNULL,
                                    capture_output=True, env={}, timeout=300)
            got = (result.stdout, result.stderr, result.returncode)
            if got != (stdout, stderr, status):
                failures += 1
                print(f"{name}: expected stdout {stdout[:80]!r}, stderr {stderr[:80]!r}... ({len(stderr)} bytes),"
                      f" status {status}; got {result.stdout[:80]!r}, {result.stderr[:80]!r}..."
                      f" ({len(result.stderr)} bytes), {result.returncode}")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
