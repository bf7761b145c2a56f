#!/usr/bin/env python3
"""Exhausted memory ends the run with "Allocation error\\n" and status 255.

argv[1] is the blockset binary. It runs under an address-space limit (RLIMIT_AS) and is fed a
version 3 P2B list of ever more non-adjacent ranges on standard input until the list no longer
fits, once in query mode and once loaded by a script. Sanitizer builds reserve far more address space than any sensible limit, so there the
test is skipped (BLOCKSET_SANITIZED set).
"""
import array
import os
import resource
import subprocess
import sys

LIMIT = 32 * 1024 * 1024
CHUNK = 1 << 18  # ranges per write
MOST = 64 * CHUNK  # 16 million ranges, 128 MiB as a list: far above the limit


def chunk_bytes(start):
    """CHUNK version 3 records: 4 ignored bytes, then the ranges 2i..2i for i from start."""
    words = array.array("I", bytes(12 * CHUNK))
    addresses = array.array("I", range(2 * start, 2 * (start + CHUNK), 2))
    words[1::3] = addresses
    words[2::3] = addresses
    if sys.byteorder == "little":
        words.byteswap()
    return words.tobytes()


def main():
    if os.environ.get("BLOCKSET_SANITIZED"):
        print("skipped: sanitizer build")
        return
    binary = os.path.abspath(sys.argv[1])
    failures = []
    for mode, args in [("query mode", ["-q", "p2b"]),
                       ("script mode", ["-c", "$list = load(p2b, stdin); save(cidr, stdout, $list);"])]:
        failures += [f"{mode}: {failure}" for failure in run_out_of_memory(binary, args)]
    for failure in failures:
        print(failure)
    sys.exit(1 if failures else 0)


def run_out_of_memory(binary, args):
    def limit_address_space():
        resource.setrlimit(resource.RLIMIT_AS, (LIMIT, LIMIT))

    process = subprocess.Popen([binary] + args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, env={}, preexec_fn=limit_address_space)
    try:
        process.stdin.write(b"\xff\xff\xff\xffP2B\x03" + (0).to_bytes(4, "big") + MOST.to_bytes(4, "big"))
        for start in range(0, MOST, CHUNK):
            process.stdin.write(chunk_bytes(start))
        process.stdin.close()
    except BrokenPipeError:
        pass
    stdout, stderr = process.communicate(timeout=300)
    failures = []
    if process.returncode != 255:
        failures.append(f"status: expected 255, got {process.returncode}")
    if stderr != b"Allocation error\n":
        failures.append(f"stderr: expected 'Allocation error\\n', got {stderr[:200]!r}")
    if stdout != b"":
        failures.append(f"stdout: expected nothing, got {len(stdout)} bytes")
    return failures


if __name__ == "__main__":
    main()
