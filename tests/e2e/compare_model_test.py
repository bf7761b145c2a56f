#!/usr/bin/env python3
"""compare(csv, ...) of three generated lists of both families, against a model written here
with Python's ipaddress (the blocks by collapse_addresses, the rest by interval arithmetic),
and `-s` against the table of the same compare statement.

argv[1] is the blockset binary.
"""
import ipaddress
import os
import random
import subprocess
import sys
import tempfile


def generate(rng, lines, ipv6):
    """The text of a list: IPv4 blocks and ranges around 10.0.0.0, IPv6 ones in 2001:db8::/112."""
    text = []
    for _ in range(lines):
        if ipv6 and rng.random() < 0.4:
            first = (0x20010db8 << 96) + rng.randrange(1 << 16)
            if rng.random() < 0.5:
                text.append(f"{ipaddress.IPv6Network((first, rng.randrange(110, 129)), strict=False)}")
            else:
                text.append(f"{ipaddress.IPv6Address(first)} - {ipaddress.IPv6Address(first + rng.randrange(900))}")
        else:
            first = (10 << 24) + rng.randrange(1 << 16)
            if rng.random() < 0.5:
                text.append(f"{ipaddress.IPv4Network((first, rng.randrange(20, 33)), strict=False)}")
            else:
                text.append(f"{ipaddress.IPv4Address(first)}-{ipaddress.IPv4Address(first + rng.randrange(3000))}")
    return "".join(line + "\n" for line in text)


def merged(intervals):
    out = []
    for first, last in sorted(intervals):
        if out and first <= out[-1][1] + 1:
            out[-1][1] = max(out[-1][1], last)
        else:
            out.append([first, last])
    return out


def family_of(text, version):
    """The list's merged (first, last) intervals of one family, read with ipaddress."""
    intervals = []
    for line in text.splitlines():
        if "/" in line:
            net = ipaddress.ip_network(line, strict=False)
            bounds = (int(net.network_address), int(net.broadcast_address), net.version)
        else:
            first, last = (ipaddress.ip_address(part.strip()) for part in line.split("-"))
            bounds = (int(first), int(last), first.version)
        if bounds[2] == version:
            intervals.append(bounds[:2])
    return merged(intervals)


def size(intervals):
    return sum(last - first + 1 for first, last in intervals)


def intersection(a, b):
    return [(max(x[0], y[0]), min(x[1], y[1])) for x in a for y in b if max(x[0], y[0]) <= min(x[1], y[1])]


def blocks(intervals, version):
    address = ipaddress.IPv4Address if version == 4 else ipaddress.IPv6Address
    nets = [n for first, last in intervals for n in ipaddress.summarize_address_range(address(first), address(last))]
    return len(list(ipaddress.collapse_addresses(nets)))


def model_csv(names, texts):
    rows = ["family,name,ranges,blocks,addresses,only_here," + ",".join(names)]
    for version in (4, 6):
        lists = [family_of(text, version) for text in texts]
        for i, own in enumerate(lists):
            others = merged([r for j, other in enumerate(lists) if j != i for r in other])
            only = size(own) - size(intersection(own, others))
            shared = [size(intersection(own, other)) for other in lists]
            figures = [len(own), blocks(own, version), size(own), only] + shared
            rows.append(f"ipv{version},{names[i]}," + ",".join(map(str, figures)))
    return "".join(row + "\n" for row in rows)


def run(binary, args, folder):
    return subprocess.run([binary] + args, cwd=folder, capture_output=True, env={}, timeout=300)


def main():
    binary = os.path.abspath(sys.argv[1])
    rng = random.Random(33)
    failures = 0
    with tempfile.TemporaryDirectory() as folder:
        for round_number in range(4):
            # The second list holds no IPv6 part in one round: its IPv6 rows are then all 0.
            texts = [generate(rng, rng.randrange(1, 600), ipv6=(k != 1 or round_number != 2)) for k in range(3)]
            for k, text in enumerate(texts):
                with open(os.path.join(folder, f"list{k}.txt"), "w") as handle:
                    handle.write(text)
            script = ('$second = load(auto, "list1.txt"); compare(csv, stdout, load(auto, "list0.txt"), $second, '
                      'union(load(auto, "list2.txt"), {}));')
            result = run(binary, ["-c", script], folder)
            expected = model_csv(["list0.txt", "$second", "#3"], texts)
            if (result.returncode, result.stdout.decode(), result.stderr) != (0, expected, b""):
                failures += 1
                print(f"round {round_number}: csv differs\n{result.stdout.decode()}{result.stderr.decode()}"
                      f"expected\n{expected}", file=sys.stderr)
            paths = [f"list{k}.txt" for k in range(3)]
            table = run(binary, ["-c", "compare(table, stdout, %s);" % ", ".join(
                f'load(auto, "{p}")' for p in paths)], folder)
            side = run(binary, ["-s", "auto"] + paths, folder)
            if side.returncode != 0 or side.stdout != table.stdout or not side.stdout or side.stderr:
                failures += 1
                print(f"round {round_number}: -s differs from compare(table, ...)", file=sys.stderr)
    print("compare csv of three generated lists equals the ipaddress model" if failures == 0 else "FAILED")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
