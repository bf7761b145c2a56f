"""Query mode on P2B lists: speed against plain decompression, and memory per held range.

The lists are written by a child Python process: on Linux a process's peak RSS includes the
peak of the process it was forked from, so the Python that starts blockset must stay small.
"""
import array
import gzip
import os
import random
import struct
import subprocess
import sys

QUERY_RANGES = 1_000_000
MEMORY_RANGES = 10_000_000
CHUNK = 1 << 20


def write_query_list(path):
    """A version 3 list of a million named ranges at random gaps, gzip-compressed."""
    rng = random.Random(1)
    names = [f"Blocklist entry group {i}".encode() for i in range(1000)]
    parts = [b"\xff\xff\xff\xffP2B\x03", struct.pack(">I", len(names))]
    parts += [name + b"\x00" for name in names]
    parts.append(struct.pack(">I", QUERY_RANGES))
    record = struct.Struct(">III")
    address = 0
    for i in range(QUERY_RANGES):
        address += 2 + rng.randrange(2000)
        last = address + rng.randrange(600)
        parts.append(record.pack(i % len(names), address, last))
        address = last
    with open(path, "wb") as handle:
        handle.write(gzip.compress(b"".join(parts), compresslevel=6, mtime=0))


def write_memory_list(path, shuffled):
    """A plain version 3 list of ten million non-adjacent ranges 4i..4i+1, in ascending order
    or scattered by a multiplicative permutation of the indexes."""
    with open(path, "wb") as handle:
        handle.write(b"\xff\xff\xff\xffP2B\x03" + struct.pack(">II", 0, MEMORY_RANGES))
        for start in range(0, MEMORY_RANGES, CHUNK):
            stop = min(start + CHUNK, MEMORY_RANGES)
            if shuffled:
                firsts = array.array("I", (4 * ((i * 2654435761) % MEMORY_RANGES) for i in range(start, stop)))
            else:
                firsts = array.array("I", range(4 * start, 4 * stop, 4))
            lasts = array.array("I", (f + 1 for f in firsts))
            words = array.array("I", bytes(12 * (stop - start)))
            words[1::3] = firsts
            words[2::3] = lasts
            if sys.byteorder == "little":
                words.byteswap()
            handle.write(words.tobytes())


def generate(*args):
    subprocess.run([sys.executable, os.path.abspath(__file__)] + list(args), check=True)


def run(context):
    from benchlib import run_timed

    listing = context.path("query.p2b.gz")
    generate("query", listing)
    size = os.path.getsize(listing)
    query_time, _ = run_timed([context.binary, "-q", "p2b", listing], repeat=5)
    gzip_time, _ = run_timed(["gzip", "-dc", listing], repeat=5)
    context.row("blockset -q p2b, v3 gzip, 1M ranges", f"{query_time * 1000:.0f} ms",
                f"{size / 1e6:.1f} MB compressed")
    context.row("gzip -dc of the same file", f"{gzip_time * 1000:.0f} ms")
    context.row("blockset -q p2b / gzip -dc", f"{query_time / gzip_time:.2f}", "aim <= 2")

    _, baseline = run_timed([context.binary, "-q", "p2b", os.path.join(context.root, "examples", "blocklist.p2b.gz")],
                            repeat=1)
    for shuffled in (False, True):
        order = "shuffled" if shuffled else "ascending"
        path = context.path(f"memory-{order}.p2b")
        generate(order, path)
        seconds, peak_kib = run_timed([context.binary, "-q", "p2b", path], repeat=1)
        os.remove(path)
        context.row(f"peak RSS per held range, 10M {order} (-q p2b)",
                    f"{peak_kib * 1024 / MEMORY_RANGES:.1f} bytes",
                    f"aim <= 16; {peak_kib / 1024:.0f} MiB peak, at most {baseline / 1024:.0f} MiB for a tiny list; "
                    f"{MEMORY_RANGES / seconds / 1e6:.1f} M ranges/s read and listed")


if __name__ == "__main__":
    if sys.argv[1] == "query":
        write_query_list(sys.argv[2])
    else:
        write_memory_list(sys.argv[2], sys.argv[1] == "shuffled")
