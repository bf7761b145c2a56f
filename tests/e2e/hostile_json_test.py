#!/usr/bin/env python3
"""Hostile JSON read by `-q auto` in bounded memory: deep nesting, blanks and brackets without
end, and one enormous line each end with a message and status 65 under an address-space limit
(RLIMIT_AS) far below their size, while a real document of 100,000 objects is read under the
same limit. argv[1] is the blockset binary; each input is written to its standard input as it
is made. Skipped in sanitizer builds, which reserve address space of their own.
"""
import ipaddress
import os
import resource
import subprocess
import sys

LIMIT = 24 << 20
MIB = 1 << 20


def pieces(start, middle, count, end):
    yield start
    for _ in range(count):
        yield middle
    yield end


def run(binary, chunks):
    def limit():
        resource.setrlimit(resource.RLIMIT_AS, (LIMIT, LIMIT))

    process = subprocess.Popen([binary, "-q", "auto"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, env={}, preexec_fn=limit)
    try:
        for chunk in chunks:
            process.stdin.write(chunk)
        process.stdin.flush()
    except BrokenPipeError:
        pass  # it stopped reading once it saw the input was unreadable
    try:
        process.stdin.close()
    except BrokenPipeError:
        pass
    # Nothing is written before the input has been read.
    stdout, stderr = process.stdout.read(), process.stderr.read()
    return stdout, stderr.decode(), process.wait(timeout=300)


def main():
    if os.environ.get("BLOCKSET_SANITIZED"):
        print("skipped: sanitizer build")
        return 0
    binary = os.path.abspath(sys.argv[1])
    addresses = [ipaddress.IPv4Address("10.0.0.0") + 2 * n for n in range(100000)]
    document = "[\n" + ",\n".join(f'  {{"ip": "{a}", "seen": "2024-01-01"}}' for a in addresses) + "\n]\n"
    listing = "".join(f"{a}/32\n" for a in addresses).encode()
    minified = b'{"ip":"192.0.2.1","x":1},' * 4096
    cases = [
        ("a million levels of arrays", pieces(b"", b"[\n" * 1000, 1000, b"]\n"),
         "'(stdin)' line 513: JSON nested deeper than 512 levels\n"),
        ("200,000 levels of objects", pieces(b"", b'{"a":\n' * 1000, 200, b"1}"),
         "'(stdin)' line 513: JSON nested deeper than 512 levels\n"),
        # Seen once two mebibytes of such lines have been read.
        ("64 MiB of blank lines in an array", pieces(b"[\n", b" " * 63 + b"\n", MIB, b"]\n"),
         "'(stdin)' line 32768: JSON without a string or number for over 1048576 bytes\n"),
        ("64 MiB of empty arrays", pieces(b"[\n", b"[],[],[],\n", 6 * MIB, b"[]]\n"),
         "'(stdin)' line 209715: JSON without a string or number for over 1048576 bytes\n"),
        ("64 MiB of blanks on one line", pieces(b"[", b" " * MIB, 64, b"]\n"), "'(stdin)' line 1: cannot read '['\n"),
        ("a minified document of 100 MiB", pieces(b"[", minified, 1024, b'{"ip":"192.0.2.2"}]'),
         f"'(stdin)' line 1: cannot read '[{minified[:59].decode()}'\n"),
    ]
    failures = []
    for name, chunks, stderr in cases:
        got = run(binary, chunks)
        if got != (b"", stderr, 65):
            failures.append(f"{name}: expected nothing, {stderr!r}, 65; got {got[0][:80]!r}, {got[1][:200]!r}, {got[2]}")
    got = run(binary, [document.encode()])
    if got != (listing, "", 0):
        failures.append(f"a document of 100,000 objects: got {len(got[0])} bytes, {got[1][:200]!r}, {got[2]}")
    for failure in failures:
        print(failure)
    if not failures:
        print(f"{len(cases) + 1} JSON inputs read within {LIMIT >> 20} MiB of address space")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
