"""Firewall saves: what the prefix reduction makes of real-world-like lists, and how long the
loaders take over 200,000 blocks with the documented commands.

Reduction: the plain CIDR listing against "reduced 20% 16384" (at most 20% more entries, or
16384, whichever is larger): entries and distinct prefix lengths, for a geo-database-like list
(consecutive ranges of any size and alignment, the shape of per-country tables), for the
DROP-style and P2B examples, and for the 200,000 blocks below.

Loading: `nft -f` of the nft save and `ipset restore` of the ipset save of 200,000 disjoint
blocks, each inside its own private network namespace (`unshare -n`, never the machine's own
rules); skipped, saying why, where that is not permitted. ipset loads twice: first over a set
just made with ipset's defaults, as the recipe makes a missing one, then again over what it
loaded. Wall time is the best of three; the processor time of nft or ipset and the kernel's
work for them is shown beside it, since on a busy machine the wall time mostly measures
waiting.
"""
import ipaddress
import os
import random
import resource
import shutil
import subprocess
import time


def geo_like(path, count=60_000):
    """Consecutive ranges of log-uniform sizes at any alignment, every other one kept."""
    rng = random.Random(7)
    start = 1 << 24
    with open(path, "w") as handle:
        for i in range(count):
            size = int(2 ** rng.uniform(4, 14))
            if i % 2 == 0:
                handle.write(f"{ipaddress.IPv4Address(start)}-{ipaddress.IPv4Address(start + size - 1)}\n")
            start += size
            if start + (1 << 15) >= 0xE0000000:
                break


def blocks(path, count=200_000):
    rng = random.Random(25)
    with open(path, "w") as handle:
        for s in sorted(rng.sample(range(1 << 24), count)):
            handle.write(f"{ipaddress.IPv4Address(s << 8)}/{rng.choice((24, 26, 28, 30, 31, 32, 32, 32))}\n")


def lengths_and_entries(binary, listing, path):
    run = subprocess.run([binary, "-c", f'save({listing}, stdout, load(auto, "{path}"));'],
                         capture_output=True, text=True, check=True)
    lines = run.stdout.split()
    return len({line.split("/")[1] for line in lines}), len(lines)


def timed_in_namespace(command, repeat=3):
    best = None
    cpu = None
    for _ in range(repeat):
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        started = time.perf_counter()
        subprocess.run(["unshare", "-n", "sh", "-c", command], check=True, stdout=subprocess.DEVNULL)
        elapsed = time.perf_counter() - started
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        used = after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime
        if best is None or elapsed < best:
            best, cpu = elapsed, used
    return best, cpu


def run(context):
    geo = context.path("geo-like.txt")
    many = context.path("blocks.txt")
    geo_like(geo)
    blocks(many)
    lists = [("geo-database-like", geo), ("DROP-style example", os.path.join(context.root, "examples/drop-style.txt")),
             ("P2B example", os.path.join(context.root, "examples/blocklist.p2b.gz")), ("200,000 blocks", many)]
    for name, path in lists:
        plain = lengths_and_entries(context.binary, "cidr", path)
        reduced = lengths_and_entries(context.binary, '"reduced 20% 16384"', path)
        context.row(f"reduced 20% 16384, {name}", f"{plain[0]} -> {reduced[0]} lengths",
                    f"{plain[1]} -> {reduced[1]} entries")

    nft_file = context.path("blocklist.nft")
    ipset_file = context.path("blocklist.ipset")
    subprocess.run([context.binary, "-c", f'$list = load(auto, "{many}"); save("nft inet filter blocklist", "{nft_file}", $list); '
                    f'save("ipset blocklist", "{ipset_file}", $list);'], check=True)
    if shutil.which("unshare") is None or subprocess.run(["unshare", "-n", "true"]).returncode != 0:
        context.row("loading 200,000 blocks", "skipped", "no private network namespace here")
        return
    for tool, command, aim in [("nft", f"nft -f {nft_file}", 3)]:
        if shutil.which(tool) is None:
            context.row(f"loading 200,000 blocks, {command.split()[0]} {command.split()[1]}", "skipped",
                        f"{tool} is not installed")
            continue
        wall, cpu = timed_in_namespace(command)
        context.row(f"loading 200,000 blocks, {command.split()[0]} {command.split()[1]}", f"{wall:.2f} s",
                    f"aim <= {aim} s; {cpu:.2f} s processor time; load average {os.getloadavg()[0]:.1f}")
    if shutil.which("ipset") is None:
        context.row("loading 200,000 blocks, ipset restore", "skipped", "ipset is not installed")
        return
    for load, (wall, cpu) in zip(("first load", "reload"), ipset_loads(ipset_file)):
        context.row(f"loading 200,000 blocks, ipset restore, {load}", f"{wall:.2f} s",
                    f"aim <= 1 s; {cpu:.2f} s processor time; load average {os.getloadavg()[0]:.1f}")


def ipset_loads(ipset_file, repeat=3):
    """The best wall time of each of two restores in a namespace, and the processor time of that
    run, as bash's time reports them for ipset and the kernel's work for it."""
    script = (f"ipset create blocklist hash:net && TIMEFORMAT='%R %U %S' && "
              f"{{ time ipset restore < {ipset_file}; }} 2>&1 && {{ time ipset restore < {ipset_file}; }} 2>&1")
    best = [None, None]
    for _ in range(repeat):
        run = subprocess.run(["unshare", "-n", "bash", "-c", script], check=True, capture_output=True, text=True)
        for i, line in enumerate(run.stdout.split("\n")[:2]):
            real, user, system = (float(figure) for figure in line.split())
            if best[i] is None or real < best[i][0]:
                best[i] = (real, user + system)
    return best
