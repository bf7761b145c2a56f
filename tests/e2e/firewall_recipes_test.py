#!/usr/bin/env python3
"""The manual's nft and ipset recipes, run with the real tools in a private network namespace.

Each recipe loads a stale list first (creating the table or set), then the list under test
into the same namespace, lists the loaded set back and compares its addresses with
blockset's ranges of the list. The lists: empty (refused, leaving the stale set loaded), the
whole address space, the two end addresses, and thousands of entries. Runs only inside `unshare -n`, never against the
machine's own rules; skips, saying why, when the namespace or a tool is not available.

argv[1] is the blockset binary.
"""
import ipaddress
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile

# The recipes as the manual gives them, as shell functions of the list's path.
NFT_RECIPE = r"""
load() {
    blockset -q auto "$1" > blocklist.cidr &&
    awk 'BEGIN { print "add table inet filter"
        print "add set inet filter blocklist { type ipv4_addr; flags interval; }"
        print "flush set inet filter blocklist" }
        { print "add element inet filter blocklist { " $0 " }" }' blocklist.cidr > blocklist.nft &&
    nft -f blocklist.nft
}
"""

IPSET_RECIPE = r"""
load() {
    blockset -q auto "$1" > blocklist.cidr &&
    awk 'BEGIN { print "create blocklist-new hash:net family inet maxelem 1048576"
        print "flush blocklist-new" }
        $0 == "0.0.0.0/0" { print "add blocklist-new 0.0.0.0/1"
            print "add blocklist-new 128.0.0.0/1"; next }
        { print "add blocklist-new " $0 }' blocklist.cidr > blocklist.ipset &&
    ipset -exist restore < blocklist.ipset &&
    ipset -exist create blocklist hash:net family inet maxelem 1048576 &&
    ipset swap blocklist-new blocklist &&
    ipset destroy blocklist-new
}
"""


def many_entries():
    """Thousands of CIDR blocks, ranges and P2P lines, at random places."""
    rng = random.Random(12)
    lines = []
    for n in range(6000):
        start = ipaddress.IPv4Address(rng.randrange(1 << 32))
        last = ipaddress.IPv4Address(min(int(start) + rng.randrange(1, 5000), (1 << 32) - 1))
        lines.append([f"{start}/{rng.randrange(8, 33)} ; SBL{n}", f"{start} - {last}", f"name {n}:{start}-{start}"][n % 3])
    return "\n".join(lines) + "\n"


LISTS = {
    "empty": "",
    "whole space": "0.0.0.0/0\n",
    "both end addresses": "0.0.0.0\n255.255.255.255\n",
    "thousands of entries": many_entries(),
}
STALE = "192.0.2.1\n198.51.100.0/24\n"


def merged(ranges):
    result = []
    for first, last in sorted(ranges):
        if result and first <= result[-1][1] + 1:
            result[-1][1] = max(result[-1][1], last)
        else:
            result.append([first, last])
    return [tuple(r) for r in result]


def network_range(text):
    network = ipaddress.IPv4Network(text, strict=False)
    return int(network.network_address), int(network.broadcast_address)


def nft_ranges(output):
    ranges = []
    for item in json.loads(output)["nftables"]:
        for element in item.get("set", {}).get("elem", []):
            element = element["elem"]["val"] if isinstance(element, dict) and "elem" in element else element
            if isinstance(element, str):
                ranges.append(network_range(element))
            elif "prefix" in element:
                ranges.append(network_range(f"{element['prefix']['addr']}/{element['prefix']['len']}"))
            else:
                ranges.append(tuple(int(ipaddress.IPv4Address(address)) for address in element["range"]))
    return merged(ranges)


def ipset_ranges(output):
    return merged(network_range(line.split()[2]) for line in output.splitlines() if line.startswith("add "))


def blockset_ranges(binary, path):
    run = subprocess.run([binary, "-c", f'save(range, stdout, load(text, "{path}"));'],
                         capture_output=True, text=True, check=True)
    return [tuple(int(ipaddress.IPv4Address(a)) for a in line.split("-")) for line in run.stdout.split()]


def in_namespace(script, folder, binary):
    tools = tempfile.mkdtemp(dir=folder)
    os.symlink(binary, os.path.join(tools, "blockset"))
    env = dict(os.environ, PATH=tools + os.pathsep + os.environ.get("PATH", "/usr/sbin:/usr/bin:/sbin:/bin"))
    return subprocess.run(["unshare", "-n", "sh", "-c", script], cwd=folder, env=env,
                          capture_output=True, text=True, timeout=300)


# The tool, its recipe, how the loaded set is listed and read back, and a probe of the tool.
RECIPES = [("nft", NFT_RECIPE, "nft -j list set inet filter blocklist", nft_ranges, "nft list ruleset"),
           ("ipset", IPSET_RECIPE, "ipset list blocklist -o save", ipset_ranges, "ipset list")]


def main():
    binary = os.path.abspath(sys.argv[1])
    failures = []
    ran = 0
    with tempfile.TemporaryDirectory() as folder:
        if shutil.which("unshare") is None:
            print("SKIP: unshare is not installed")
            return 0
        probe = in_namespace("true", folder, binary)
        if probe.returncode != 0:
            print(f"SKIP: no private network namespace here: {probe.stderr.strip()}")
            return 0
        with open(os.path.join(folder, "stale.txt"), "w") as handle:
            handle.write(STALE)
        for tool, recipe, listing, parse, tool_probe in RECIPES:
            if shutil.which(tool) is None:
                print(f"SKIP {tool}: {tool} is not installed")
                continue
            probe = in_namespace(tool_probe, folder, binary)
            if probe.returncode != 0:
                print(f"SKIP {tool}: {tool} does not work in a private network namespace here: {probe.stderr.strip()}")
                continue
            for name, text in LISTS.items():
                with open(os.path.join(folder, "list.txt"), "w") as handle:
                    handle.write(text)
                # A list with no addresses is refused: the stale set stays loaded.
                refused = text == ""
                load = "if load list.txt; then exit 9; fi" if refused else "load list.txt"
                run = in_namespace(f"set -e\n{recipe}\nload stale.txt\n{load}\n{listing}\n", folder, binary)
                ran += 1
                if run.returncode != 0:
                    failures.append(f"{tool}, {name}: status {run.returncode}: {run.stderr.strip()[:500]}")
                    continue
                expected = blockset_ranges(binary, os.path.join(folder, "stale.txt" if refused else "blocklist.cidr"))
                loaded = parse(run.stdout)
                if loaded != expected:
                    first = next(pair for pair in zip(loaded + [None], expected + [None]) if pair[0] != pair[1])
                    failures.append(f"{tool}, {name}: loaded {len(loaded)} ranges, blockset has {len(expected)}; "
                                    f"first difference near {first}")
    for failure in failures:
        print(f"FAIL: {failure}")
    if not failures:
        print(f"{ran} recipe loads match blockset's ranges")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
