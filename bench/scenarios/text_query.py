"""Query mode on a large text list: `blockset -q text` on one million lines.

One million lines mixing CIDR blocks, ranges and single addresses, once in ascending order and
once shuffled (fixed seeds). Reports input MB/s and peak memory, and the shuffled/sorted time
ratio; both orders must give the same merged CIDR list.
"""
import os
import random
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

    times = {}
    outputs = {}
    for order, path in (("sorted", sorted_path), ("shuffled", shuffled_path)):
        ours = [context.binary, "-q", "text", path]
        seconds, peak, remark = timed(context, ours)
        times[order] = seconds
        context.row(f"blockset -q text, 1M lines {order} ({megabytes:.1f} MB)",
                    f"{megabytes / seconds:.0f} MB/s",
                    f"{seconds * 1000:.0f} ms, peak {peak / 1024:.1f} MiB {remark}".rstrip())
        outputs[order] = subprocess.run(ours, stdout=subprocess.PIPE, check=True).stdout
    if outputs["sorted"] != outputs["shuffled"]:
        raise RuntimeError("the sorted and the shuffled list give different CIDR lists")
    context.row("blockset -q text, shuffled/sorted time", f"{times['shuffled'] / times['sorted']:.2f}x",
                "aim: at most 1.5x")
