"""`blockset -m` beside grepcidr 2.0: one million short log lines against 2,000 blocks and
against 2.8 million blocks.

The log mixes SSH, mail and web server lines with one IPv4 address each (random, about one in
twenty inside the set's blocks), the shapes both programs read alike; the lists are CIDR
blocks, one a line. Each row checks that both programs write the same lines, then times them
alternately (median of five, output to /dev/null) and gives the ratio. Without grepcidr
(Debian: apt-get install grepcidr) only blockset's times are shown. The data is written by a
child Python process, so that the Python that starts the programs stays small.
"""
import filecmp
import os
import shutil
import subprocess
import sys

from benchlib import run_timed

LOG_LINES = 1_000_000
LIST_SIZES = (2_000, 2_800_000)

WRITER = r'''
import random, sys
log_path, small_path, large_path, lines, small, large = sys.argv[1:]
rng = random.Random(32)
def text(v): return f"{v >> 24}.{(v >> 16) & 255}.{(v >> 8) & 255}.{v & 255}"
def blocks(count):
    found = []
    for _ in range(count):
        prefix = rng.choice((32, 32, 32, 30, 28, 26, 24, 22, 20))
        found.append((rng.getrandbits(32) >> (32 - prefix) << (32 - prefix), prefix))
    return found
listed = {}
for path, count in ((small_path, int(small)), (large_path, int(large))):
    listed[path] = blocks(count)
    with open(path, "w") as handle:
        handle.writelines(f"{text(start)}/{prefix}\n" for start, prefix in listed[path])
inside = listed[small_path][:1000] + listed[large_path][:1000]
shapes = ("Dec 11 01:{m:02d}:{s:02d} gw sshd[{p}]: Failed password for root from {a} port {q} ssh2\n",
          "Dec 11 01:{m:02d}:{s:02d} mx postfix/smtpd[{p}]: connect from unknown[{a}]\n",
          '{a} - - [11/Dec/2026:01:{m:02d}:{s:02d} +0000] "GET /index.html HTTP/1.1" 200 {q}\n')
with open(log_path, "w") as handle:
    for n in range(int(lines)):
        if rng.random() < 0.05:
            start, prefix = rng.choice(inside)
            address = start + rng.randrange(1 << (32 - prefix))
        else:
            address = rng.getrandbits(32)
        handle.write(shapes[n % 3].format(m=n // 60 % 60, s=n % 60, p=rng.randrange(1, 99999), a=text(address),
                                         q=rng.randrange(1024, 65536)))
'''


def run(context):
    log = context.path("match-log.txt")
    lists = {size: context.path(f"match-{size}.cidr") for size in LIST_SIZES}
    subprocess.run([sys.executable, "-c", WRITER, log, lists[LIST_SIZES[0]], lists[LIST_SIZES[1]],
                    str(LOG_LINES), str(LIST_SIZES[0]), str(LIST_SIZES[1])], check=True)
    megabytes = os.path.getsize(log) / 1e6
    grepcidr = shutil.which("grepcidr")
    for size, path in lists.items():
        ours = [context.binary, "-m", "text", path, log]
        label = f"blockset -m, 1M log lines ({megabytes:.0f} MB), {size:,} blocks"
        if grepcidr is None:
            seconds, peak = run_timed(ours, repeat=5)
            context.row(label, f"{seconds * 1000:.0f} ms", f"peak {peak / 1024:.1f} MiB; grepcidr not installed")
            continue
        theirs = [grepcidr, "-f", path, log]
        ours_out, theirs_out = context.path("match-ours.out"), context.path("match-theirs.out")
        with open(ours_out, "wb") as handle:
            subprocess.run(ours, stdout=handle, check=True)
        with open(theirs_out, "wb") as handle:
            subprocess.run(theirs, stdout=handle, check=True)
        if not filecmp.cmp(ours_out, theirs_out, shallow=False):
            raise RuntimeError(f"blockset -m and grepcidr keep different lines with {size} blocks")
        kept = sum(1 for _ in open(ours_out, "rb"))
        # Alternate the two, so that a change in the machine's load tilts neither.
        times = {"ours": [], "theirs": []}
        peaks = {"ours": 0, "theirs": 0}
        for _ in range(5):
            for name, argv in (("ours", ours), ("theirs", theirs)):
                seconds, peak = run_timed(argv, repeat=1)
                times[name].append(seconds)
                peaks[name] = max(peaks[name], peak)
        ours_median = sorted(times["ours"])[2]
        theirs_median = sorted(times["theirs"])[2]
        context.row(label, f"{ours_median * 1000:.0f} ms",
                    f"grepcidr {theirs_median * 1000:.0f} ms, {theirs_median / ours_median:.1f}x faster (aim: 4x); "
                    f"{kept:,} lines kept; peak {peaks['ours'] / 1024:.1f} MiB, grepcidr {peaks['theirs'] / 1024:.1f} MiB")
