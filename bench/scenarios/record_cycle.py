"""Memory of a list fed the same few ranges over and over, out of order: a gzip-compressed
P2B list of 200 million records cycling over 10 disjoint ranges. Pending additions must be
merged as they come, so that the peak stays near the handful of distinct ranges held.

The list is written by a child Python process, streaming through gzip (2.4 GB of records
unpacked), so that the Python that starts blockset stays small.
"""
import gzip
import os
import struct
import subprocess
import sys

RECORDS = 200_000_000
DISTINCT = 10
CYCLES_PER_WRITE = 100_000


def write_cycle_list(path):
    """A version 3 list with one name; record i holds range i mod 10, of the disjoint
    ranges 10.k.0.0-10.k.0.255, highest first so that every cycle goes back below the end."""
    record = struct.Struct(">III")
    cycle = b"".join(record.pack(0, (10 << 24) | (k << 16), (10 << 24) | (k << 16) | 255)
                     for k in reversed(range(DISTINCT)))
    block = cycle * CYCLES_PER_WRITE
    with open(path, "wb") as raw, gzip.GzipFile(fileobj=raw, mode="wb", compresslevel=6, mtime=0) as handle:
        handle.write(b"\xff\xff\xff\xffP2B\x03" + struct.pack(">I", 1) + b"cycle\x00")
        handle.write(struct.pack(">I", RECORDS))
        for _ in range(RECORDS // DISTINCT // CYCLES_PER_WRITE):
            handle.write(block)


def run(context):
    from benchlib import run_timed

    path = context.path("cycle.p2b.gz")
    subprocess.run([sys.executable, os.path.abspath(__file__), path], check=True)
    size = os.path.getsize(path)
    seconds, peak_kib = run_timed([context.binary, "-q", "p2b", path], repeat=1)
    os.remove(path)
    context.row(f"peak RSS, {RECORDS // 1_000_000}M records cycling over {DISTINCT} ranges (-q p2b)",
                f"{peak_kib / 1024:.1f} MiB",
                f"aim < 16 MiB; {size / 1e6:.1f} MB compressed, read in {seconds:.1f} s")


if __name__ == "__main__":
    write_cycle_list(sys.argv[1])
