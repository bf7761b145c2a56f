#!/usr/bin/env python3
"""Guarded saves in every format: a first save is written, a set that keeps enough of the file is
written over it, one that shrank below the share (in either family) or below the block count
is refused: the exact message, status 65, the old file byte for byte and with its time, and the
run goes on.

argv[1] is the blockset binary.
"""
import os
import subprocess
import sys
import tempfile

FORMATS = ["cidr", "range", "single", "count", "reduced 10%", "nft inet filter bl bl6", "ipset bl bl6"]
# 4096 IPv4 addresses in 16 blocks, and a /120 of IPv6 (a reduced listing is IPv4 only).
IPV4 = "".join(f"10.0.{k}.0/24\n" for k in range(0, 32, 2))
KEEPS_HALF = "".join(f"10.0.{k}.0/24\n" for k in range(0, 16, 2))
AFTER = 'save(cidr, stdout, {192.0.2.1});'


def run(binary, folder, script):
    result = subprocess.run([binary, "-c", script], cwd=folder, capture_output=True, env={}, timeout=120)
    return result.returncode, result.stdout.decode(), result.stderr.decode()


def check(failures, what, got, expected):
    if got != expected:
        failures.append(f"{what}:\n  got      {got!r:.300}\n  expected {expected!r:.300}")


def one_format(binary, folder, listing, failures):
    out = os.path.join(folder, "out")
    if os.path.exists(out):
        os.unlink(out)
    six = "" if listing.startswith("reduced") else "2001:db8::/120\n"
    for name, text in [("big.txt", IPV4 + six), ("half.txt", KEEPS_HALF + six),
                       ("six.txt", IPV4 + six.replace("120", "122"))]:
        with open(os.path.join(folder, name), "w") as handle:
            handle.write(text)

    def save(limits, source):
        return f'save("{listing} guard {limits}", "out", load(auto, "{source}")); {AFTER}'

    # A first save is written, and holds what the unguarded save writes (after a counts line
    # for the loaders that cannot be read back).
    check(failures, f"{listing}: first save", run(binary, folder, save("60%", "big.txt")), (0, "192.0.2.1/32\n", ""))
    # The unguarded save of the same set: a plain format is a word, a loader format a string.
    written_as = listing if " " not in listing else f'"{listing}"'
    plain = run(binary, folder, f'save({written_as}, stdout, load(auto, "big.txt"));')[1]
    with open(out) as handle:
        written = handle.read()
    counts = "# blockset counts ipv4 16 16 4096 ipv6 1 1 256\n" if listing.split()[0] in ("nft", "ipset") else ""
    check(failures, f"{listing}: first file", written, counts + plain)
    before = os.stat(out).st_mtime_ns
    refusals = [
        ("60%", "half.txt", "2,048 of 4,096 IPv4 addresses (50.0%), below the guard of 60%"),
        ("10% 18", "big.txt", "17 blocks, below the guard of 18 blocks"),
    ]
    if not six:
        refusals[1] = ("10% 17", "big.txt", "16 blocks, below the guard of 17 blocks")
    else:
        refusals.append(("50%", "six.txt", "64 of 256 IPv6 addresses (25.0%), below the guard of 50%"))
    for limits, source, why in refusals:
        check(failures, f"{listing} guard {limits}, {source}", run(binary, folder, save(limits, source)),
              (65, "192.0.2.1/32\n", f"'out': the new list holds {why}: not replaced.\n"))
        with open(out) as handle:
            check(failures, f"{listing}: refused file", handle.read(), written)
        check(failures, f"{listing}: refused file's time", os.stat(out).st_mtime_ns, before)
    # Half the addresses meet a guard of 50%; then the smaller file is what the next save meets.
    check(failures, f"{listing}: at the share", run(binary, folder, save("50% 8", "half.txt")), (0, "192.0.2.1/32\n", ""))
    check(failures, f"{listing}: against the new file", run(binary, folder, save("100%", "half.txt"))[0], 0)
    check(failures, f"{listing}: to standard output", run(
        binary, folder, f'save("{listing} guard 100%", stdout, {{}});')[0], 0)


def main():
    binary = os.path.abspath(sys.argv[1])
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        for listing in FORMATS:
            one_format(binary, folder, listing, failures)
        check(failures, "bad limit", run(binary, folder, 'save("cidr guard 101%", "x", {}); save("cidr guard 5 6", "x", {});'),
              (65, "", "Invalid listing 'cidr guard 101%': guard '101%' is neither N% (0 to 100) of the addresses "
                       "nor N blocks.\nInvalid listing 'cidr guard 5 6': two guards of one kind.\n"))
        check(failures, "no file made", os.path.exists(os.path.join(folder, "x")), False)
    for failure in failures:
        print(f"FAIL: {failure}")
    if not failures:
        print("guarded saves refuse a shrunk set and keep the file, in every format")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
