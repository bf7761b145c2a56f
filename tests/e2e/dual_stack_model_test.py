#!/usr/bin/env python3
"""Lists of both families, read with `-q auto` and combined by scripts with every operation and
every save format, against a model written here with Python's ipaddress: collapse_addresses for
the blocks, interval arithmetic per family for the operations.

argv[1] is the blockset binary.
"""
import ipaddress
import os
import random
import subprocess
import sys
import tempfile

IPV4_TOP = (1 << 32) - 1
IPV6_TOP = (1 << 128) - 1
MOST_SINGLE_IPV6 = 1 << 24
TOO_MANY = ("Too many IPv6 addresses to list one a line (more than 16777216): "
            "nothing written to standard output.\n")


def ipv6_text(rng, number):
    address = ipaddress.IPv6Address(number)
    text = rng.choice([address.compressed, address.exploded])
    return text.upper() if rng.random() < 0.2 else text


def generate(rng, lines):
    """Lines of a list, and the (version, first, last) each one adds."""
    text, entries = [], []
    for _ in range(lines):
        shape = rng.randrange(8)
        if shape < 3:
            first = (10 << 24) + rng.randrange(1 << 16)
            if shape == 0:
                text.append(str(ipaddress.IPv4Address(first)))
                entries.append((4, first, first))
            elif shape == 1:
                prefix = rng.randrange(22, 33)
                network = ipaddress.IPv4Network((first, prefix), strict=False)
                text.append(f"{ipaddress.IPv4Address(first)}/{prefix}")
                entries.append((4, int(network.network_address), int(network.broadcast_address)))
            else:
                last = min(first + rng.randrange(3000), IPV4_TOP)
                text.append(f"{ipaddress.IPv4Address(first)} - {ipaddress.IPv4Address(last)}")
                entries.append((4, first, last))
        elif shape == 3:
            first = (10 << 24) + rng.randrange(1 << 16)
            text.append(f"::ffff:{ipaddress.IPv4Address(first)}")
            entries.append((4, first, first))
        else:
            first = (0x20010DB8 << 96) + rng.randrange(1 << 20)
            if shape == 4:
                text.append(ipv6_text(rng, first))
                entries.append((6, first, first))
            elif shape == 5:
                prefix = rng.randrange(110, 129)
                network = ipaddress.IPv6Network((first, prefix), strict=False)
                text.append(f"{ipv6_text(rng, first)}/{prefix}")
                entries.append((6, int(network.network_address), int(network.broadcast_address)))
            else:
                last = first + rng.randrange(5000)
                text.append(f"{ipv6_text(rng, first)}-{ipv6_text(rng, last)}")
                entries.append((6, first, last))
    rng.shuffle(text)
    return "".join(line + "\n" for line in text), entries


def merged(intervals):
    result = []
    for first, last in sorted(intervals):
        if result and first <= result[-1][1] + 1:
            result[-1][1] = max(result[-1][1], last)
        else:
            result.append([first, last])
    return [tuple(r) for r in result]


def complement(intervals, top):
    result, start = [], 0
    for first, last in intervals:
        if first > start:
            result.append((start, first - 1))
        start = last + 1
    if start <= top:
        result.append((start, top))
    return result


def intersection(a, b):
    result = []
    for first, last in a:
        for other_first, other_last in b:
            low, high = max(first, other_first), min(last, other_last)
            if low <= high:
                result.append((low, high))
    return merged(result)


OPERATIONS = {
    "union": lambda a, b, top: merged(a + b),
    "intersect": lambda a, b, top: intersection(a, b),
    "difference": lambda a, b, top: intersection(a, complement(b, top)),
}


def blocks(intervals, address):
    found = []
    for first, last in intervals:
        found += ipaddress.summarize_address_range(address(first), address(last))
    return list(ipaddress.collapse_addresses(found))


def listing(kind, intervals, version):
    address = ipaddress.IPv4Address if version == 4 else ipaddress.IPv6Address
    if kind == "cidr":
        return "".join(f"{network}\n" for network in blocks(intervals, address))
    if kind == "range":
        return "".join(f"{address(first)}-{address(last)}\n" for first, last in intervals)
    if kind == "single":
        return "".join(f"{address(n)}\n" for first, last in intervals for n in range(first, last + 1))
    count = sum(last - first + 1 for first, last in intervals)
    return f"{len(intervals)} {len(blocks(intervals, address))} {count}\n"


def expected_save(kind, ipv4, ipv6):
    """What a save of the set writes: (stdout, stderr, status)."""
    if kind == "single" and sum(last - first + 1 for first, last in ipv6) > MOST_SINGLE_IPV6:
        return "", TOO_MANY, 65
    return listing(kind, ipv4, 4) + listing(kind, ipv6, 6), "", 0


def run(binary, folder, *arguments):
    done = subprocess.run([binary, *arguments], cwd=folder, capture_output=True, text=True, timeout=120)
    return done.stdout, done.stderr, done.returncode


def main():
    binary = os.path.abspath(sys.argv[1])
    rng = random.Random(23)
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        sets = {}
        for name in ("a.txt", "b.txt"):
            text, entries = generate(rng, 1500)
            with open(os.path.join(folder, name), "w") as handle:
                handle.write(text)
            sets[name] = tuple(merged([(f, l) for v, f, l in entries if v == version]) for version in (4, 6))
            got = run(binary, folder, "-q", "auto", name)
            if got != expected_save("cidr", *sets[name]):
                failures.append(f"-q auto {name}: got {got[0][:200]!r} {got[1]!r} {got[2]}")
        a4, a6 = sets["a.txt"]
        b4, b6 = sets["b.txt"]
        results = {f"{name}($aa, $bb)": (op(a4, b4, IPV4_TOP), op(a6, b6, IPV6_TOP)) for name, op in OPERATIONS.items()}
        results["invert($aa)"] = (complement(a4, IPV4_TOP), complement(a6, IPV6_TOP))
        results["invert(invert($bb))"] = (b4, b6)
        for expression, (ipv4, ipv6) in results.items():
            for kind in ("cidr", "range", "single", "count"):
                if kind == "single" and expression == "invert($aa)":
                    # Its IPv4 part alone is billions of lines; the IPv6 part is refused first.
                    assert sum(last - first + 1 for first, last in ipv6) > MOST_SINGLE_IPV6
                script = f'$aa = load(auto, "a.txt"); $bb = load(auto, "b.txt"); save({kind}, stdout, {expression});'
                got = run(binary, folder, "-c", script)
                if got != expected_save(kind, ipv4, ipv6):
                    failures.append(f"{kind} of {expression}: got {got[0][:200]!r} {got[1]!r} {got[2]}")
        print(f"{len(results)} expressions in 4 formats and 2 lists read with -q auto, against the model")
    for failure in failures:
        print(failure)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
