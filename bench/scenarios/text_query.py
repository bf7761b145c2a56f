"""Query mode on a large text list: `blockset -q text` against `iprange` on the same entries.

One million lines mixing CIDR blocks, ranges and single addresses, once in ascending order and
once shuffled (fixed seeds). Reports input MB/s and peak memory, the shuffled/sorted time
ratio, and iprange's time on the same file with the ratio to ours. Both programs must produce
the same merged CIDR list (iprange writes single addresses without "/32").
"""
import os
import random
import shutil
import subprocess

from benchlib import run_timed

LINES = 1_000_000


def address(value):
    return f"{value >> 24}.{(value >> 16) & 255}.{(value >> 8) & 255}.{value & 255}"


def generate_lines(rng):
    # Starts spread evenly over the address space, so that blocks rarely overlap.
    step = (1 << 32) // LINES
    lines = []
    for n in range(LINES):
        start = n * step + rng.randrange(step // 2)
        kind = n % 3
        if kind == 0:
            # Blocklists write CIDR blocks at their network address.
            prefix = rng.randrange(22, 33)
            lines.append(f"{address(start & ~((1 << (32 - prefix)) - 1))}/{prefix}\n")
        elif kind == 1:
            lines.append(f"{address(start)}-{address(start + rng.randrange(1, 600))}\n")
        else:
            lines.append(f"{address(start)}\n")
    return lines


def normalised(path):
    with open(path) as handle:
        return [line if "/" in line else line.rstrip("\n") + "/32\n" for line in handle]


def timed(context, argv):
    """Median seconds and peak resident KiB of a command with its output discarded."""
    seconds, peak = run_timed(argv)
    return seconds, peak, ""


def run(context):
    lines = generate_lines(random.Random(1))
    sorted_path = context.path("text-sorted.txt")
    shuffled_path = context.path("text-shuffled.txt")
    with open(sorted_path, "w") as handle:
        handle.writelines(lines)
    random.Random(2).shuffle(lines)
    with open(shuffled_path, "w") as handle:
        handle.writelines(lines)
    del lines
    megabytes = os.path.getsize(sorted_path) / 1e6
    iprange = shutil.which("iprange")

    times = {}
    for order, path in (("sorted", sorted_path), ("shuffled", shuffled_path)):
        ours = [context.binary, "-q", "text", path]
        seconds, peak, remark = timed(context, ours)
        times[order] = seconds
        context.row(f"blockset -q text, 1M lines {order} ({megabytes:.1f} MB)",
                    f"{megabytes / seconds:.0f} MB/s",
                    f"{seconds * 1000:.0f} ms, peak {peak / 1024:.1f} MiB {remark}".rstrip())
        if iprange is None:
            context.row(f"iprange, 1M lines {order}", "-", "iprange not installed")
            continue
        theirs = [iprange, "--dont-fix-network", path]
        their_seconds, their_peak, remark = timed(context, theirs)
        ours_out, theirs_out = context.path("ours.txt"), context.path("theirs.txt")
        with open(ours_out, "wb") as out:
            subprocess.run(ours, stdout=out, check=True)
        with open(theirs_out, "wb") as out:
            subprocess.run(theirs, stdout=out, check=True)
        same = normalised(ours_out) == normalised(theirs_out)
        context.row(f"iprange --dont-fix-network, 1M lines {order}",
                    f"{megabytes / their_seconds:.0f} MB/s",
                    f"{their_seconds * 1000:.0f} ms, peak {their_peak / 1024:.1f} MiB; "
                    f"iprange/blockset time {their_seconds / seconds:.2f}; "
                    f"outputs {'equal' if same else 'DIFFER'} {remark}".rstrip())
        if not same:
            raise RuntimeError(f"blockset and iprange disagree on the {order} list")
    context.row("blockset -q text, shuffled/sorted time", f"{times['shuffled'] / times['sorted']:.2f}x",
                "aim: at most 1.5x")
