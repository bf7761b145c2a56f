#!/usr/bin/env python3
"""The manual's firewall recipes, run as printed with the real tools in a private network namespace.

Each recipe loads a stale list first (creating the table or set), an element is added by hand,
then the recipe loads the list under test over it; the loaded set is listed back and compared
with blockset's ranges of the list and, for ipset, entry for entry with the saved file. The
lists: empty, the whole address space, the two end addresses, and 200,000 blocks. The cron
line fetches its feed and reloads only when the saved file changed. The ipset file is also
restored over live sets made otherwise (see LIVE_SETS). Runs only inside `unshare -n`, never against
the machine's own rules; skips, saying why, when the namespace or a tool is not available.
Every recipe must stand word for word in the manual and in README.

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

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))

# The recipes as printed; /var/db/ becomes the test's folder.
NFT_RECIPE = """blockset -c 'save("nft inet filter blocklist", "/var/db/blocklist.nft", load(auto, "/var/db/drop.txt"));' &&
    nft -f /var/db/blocklist.nft"""
IPSET_RECIPE = """blockset -c 'save("ipset blocklist", "/var/db/blocklist.ipset", load(auto, "/var/db/drop.txt"));' &&
    { ipset -q list -n blocklist > /dev/null || ipset create blocklist hash:net; } &&
    ipset restore < /var/db/blocklist.ipset"""
REDUCED_RECIPE = """blockset -c 'save("ipset blocklist reduced 20% 16384", "/var/db/blocklist.ipset", load(auto, "/var/db/drop.txt"));' &&
    { ipset -q list -n blocklist > /dev/null || ipset create blocklist hash:net; } &&
    ipset restore < /var/db/blocklist.ipset"""
PF_RECIPE = """blockset -c 'save(cidr, "/var/db/blocklist.cidr", load(auto, "/var/db/drop.txt"));' &&
    pfctl -t blocklist -T replace -f /var/db/blocklist.cidr"""
CRON_LINE = """*/30 * * * * blockset -c 'fetch("https://feeds.example.org/drop.txt", "/var/db/drop.txt"); save("nft inet filter blocklist guard 50\\%", "/var/db/blocklist.nft", load(auto, "/var/db/drop.txt"));' && [ ! /var/db/blocklist.loaded -nt /var/db/blocklist.nft ] && nft -f /var/db/blocklist.nft && touch /var/db/blocklist.loaded"""
# The cron line's feed, served inside the namespace from the folder "served".
FEED_URL = "https://feeds.example.org/drop.txt"
FEED_PORT = 8731
NFT_BOTH_RECIPE = """blockset -c 'save("nft inet filter bl4 bl6", "/var/db/blocklist.nft", load(auto, "/var/db/drop.txt"));' &&
    nft -f /var/db/blocklist.nft"""
IPSET_BOTH_RECIPE = """blockset -c 'save("ipset bl4 bl6", "/var/db/blocklist.ipset", load(auto, "/var/db/drop.txt"));' &&
    { ipset -q list -n bl4 > /dev/null || ipset create bl4 hash:net; } &&
    { ipset -q list -n bl6 > /dev/null || ipset create bl6 hash:net family inet6; } &&
    ipset restore < /var/db/blocklist.ipset"""
PRINTED = [NFT_RECIPE, IPSET_RECIPE, REDUCED_RECIPE, PF_RECIPE, CRON_LINE, NFT_BOTH_RECIPE, IPSET_BOTH_RECIPE]
# A list of both families, loaded over a stale one; the IPv6 set then holds exactly its IPv6 part.
BOTH_STALE = "192.0.2.1\n2001:db8:ffff::/48\n"
BOTH_LIST = "10.0.0.0/8\n::\n::1\n2001:db8::1-2001:db8::3\n2001:db8:1::/64\nffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff\n"


def many_blocks(count):
    """count disjoint blocks of mixed prefix lengths at random places, one per line."""
    rng = random.Random(25)
    starts = sorted(rng.sample(range(1 << 24), count))
    return "".join(f"{ipaddress.IPv4Address(s << 8)}/{rng.choice((24, 26, 28, 30, 31, 32, 32, 32))}\n"
                   for s in starts)


LISTS = {
    "empty": "",
    "whole space": "0.0.0.0/0\n",
    "both end addresses": "0.0.0.0\n255.255.255.255\n",
    "200,000 blocks": many_blocks(200_000),
}
STALE = "192.0.2.1\n198.51.100.0/24\n"
BY_HAND = "203.0.113.9"


def merged(ranges):
    result = []
    for first, last in sorted(ranges):
        if result and first <= result[-1][1] + 1:
            result[-1][1] = max(result[-1][1], last)
        else:
            result.append([first, last])
    return [tuple(r) for r in result]


MARK = "-- the refused load ends here --"


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


def ipset_entries(text):
    """The entries that "add" lines of an ipset listing or restore file name, as a block set."""
    return {str(ipaddress.IPv4Network(line.split()[2])) for line in text.splitlines() if line.startswith("add ")}


def blockset_ranges(binary, path):
    run = subprocess.run([binary, "-c", f'save(range, stdout, load(text, "{path}"));'],
                         capture_output=True, text=True, check=True)
    return [tuple(int(ipaddress.IPv4Address(a)) for a in line.split("-")) for line in run.stdout.split()]


def in_namespace(script, folder, binary):
    tools = os.path.join(folder, "bin")
    os.makedirs(tools, exist_ok=True)
    if not os.path.exists(os.path.join(tools, "blockset")):
        os.symlink(binary, os.path.join(tools, "blockset"))
    env = dict(os.environ, PATH=tools + os.pathsep + os.environ.get("PATH", "/usr/sbin:/usr/bin:/sbin:/bin"))
    return subprocess.run(["unshare", "-n", "sh", "-c", script], cwd=folder, env=env,
                          capture_output=True, text=True, timeout=900)


def as_run(recipe, folder):
    return recipe.replace("/var/db/", folder + "/")


def write(folder, name, text):
    with open(os.path.join(folder, name), "w") as handle:
        handle.write(text)


def check_printed(failures):
    for document in ("man/blockset.1", "README.md"):
        with open(os.path.join(ROOT, document)) as handle:
            text = handle.read()
        if document.startswith("man/"):
            text = text.replace("\\e", "\\")  # the manual's escape for a backslash
        for recipe in PRINTED:
            if recipe not in text:
                failures.append(f"{document} does not print the recipe {recipe.splitlines()[0][:60]}...")


def load_recipe(tool, recipe, folder, binary, failures):
    """Loads each list over a stale set holding an element added by hand, lists it back and compares."""
    if tool == "nft":
        add_by_hand = f"nft add element inet filter blocklist {{ {BY_HAND} }}"
        listing = "nft -j list set inet filter blocklist"
    else:
        add_by_hand = f"ipset add blocklist {BY_HAND}"
        listing = "ipset list blocklist -o save; ipset list -n"
    recipe = as_run(recipe, folder)
    for name, text in LISTS.items():
        write(folder, "drop.txt", STALE)
        write(folder, "list.txt", text)
        # auto refuses a list with no addresses, so the recipe leaves the loaded set as it was;
        # a list meant to be empty is read as text, and the empty set is loaded.
        script = f"set -e\n{recipe}\n{add_by_hand}\ncp list.txt drop.txt\n"
        if text == "":
            meant_empty = recipe.replace("load(auto,", "load(text,")
            script += f"if ( {recipe} ); then exit 9; fi\n{listing}\necho '{MARK}'\n{meant_empty}\n{listing}\n"
        else:
            script += f"{recipe}\n{listing}\n"
        run = in_namespace(script, folder, binary)
        if run.returncode != 0:
            failures.append(f"{tool}, {name}: status {run.returncode}: {run.stderr.strip()[:500]}")
            continue
        expected = blockset_ranges(binary, os.path.join(folder, "list.txt"))
        if text == "":
            # The first listing, after the refused load, still holds the stale set.
            before, run.stdout = run.stdout.split(MARK + "\n", 1)
            kept = nft_ranges(before) if tool == "nft" else merged(network_range(e) for e in ipset_entries(before))
            if kept != merged(network_range(line) for line in STALE.split() + [BY_HAND]):
                failures.append(f"{tool}, {name}: a refused empty list changed the set: {kept}")
        if tool == "nft":
            loaded = nft_ranges(run.stdout)
        else:
            with open(os.path.join(folder, "blocklist.ipset")) as handle:
                saved = ipset_entries(handle.read())
            listed = ipset_entries(run.stdout)
            if listed != saved:
                failures.append(f"{tool}, {name}: {len(listed)} entries listed, {len(saved)} saved, "
                                f"e.g. {sorted(listed ^ saved)[:3]}")
            if run.stdout.splitlines()[-1:] != ["blocklist"]:
                failures.append(f"{tool}, {name}: sets left: {run.stdout.splitlines()[-3:]}")
            loaded = merged(network_range(entry) for entry in listed)
        if loaded != expected:
            first = next(pair for pair in zip(loaded + [None], expected + [None]) if pair[0] != pair[1])
            failures.append(f"{tool}, {name}: loaded {len(loaded)} ranges, blockset has {len(expected)}; "
                            f"first difference near {first}")


def cron_reloads_only_changes(folder, binary, failures):
    """Run twice on the same feed, the cron line loads once (the second fetch is answered 304): an
    element added by hand stays. A changed feed is fetched and loaded again. The feed is served
    over the namespace's own loopback."""
    # cron hands the command to the shell with each "\\%" made "%".
    command = as_run(CRON_LINE.split(" ", 5)[5], folder).replace("\\%", "%")
    command = command.replace(FEED_URL, f"http://127.0.0.1:{FEED_PORT}/drop.txt")
    os.makedirs(os.path.join(folder, "served"), exist_ok=True)
    for name in ("drop.txt", "drop.txt.etag", "blocklist.nft", "blocklist.loaded"):
        if os.path.exists(os.path.join(folder, name)):
            os.unlink(os.path.join(folder, name))
    write(folder, "served/drop.txt", STALE)
    server = (f"ip link set lo up\npython3 -m http.server --bind 127.0.0.1 --directory served {FEED_PORT} "
              ">/dev/null 2>&1 &\nserver=$!\ntrap 'kill $server' EXIT\n"
              f"for i in $(seq 100); do python3 -c \"import socket; socket.create_connection(('127.0.0.1', {FEED_PORT}))\" "
              "2>/dev/null && break; sleep 0.1; done\n")
    script = (f"{server}{command}\nnft add element inet filter blocklist {{ {BY_HAND} }}\n{command}\n"
              "nft -j list set inet filter blocklist\n"
              f"sleep 1; echo 10.0.0.0/8 >> served/drop.txt\n{command}\nnft -j list set inet filter blocklist\n")
    run = in_namespace(script, folder, binary)
    listings = [line for line in run.stdout.splitlines() if line]
    stale = merged(network_range(line) for line in STALE.split())
    by_hand = network_range(BY_HAND)
    wanted = [merged(stale + [by_hand]), merged(stale + [network_range("10.0.0.0/8")])]
    got = [nft_ranges(listing) for listing in listings] if run.returncode == 0 else run.stderr
    if got != wanted:
        failures.append(f"cron line: expected {wanted}, got {got}")


def any_range(text):
    network = ipaddress.ip_network(text, strict=False)
    return network.version, int(network.network_address), int(network.broadcast_address)


def families(ranges):
    return {version: merged((first, last) for v, first, last in ranges if v == version) for version in (4, 6)}


def both_families(tool, recipe, folder, binary, failures):
    """Loads a list of both families over a stale one and lists both sets back."""
    if tool == "nft":
        listing = "nft -j list set inet filter bl4; nft -j list set inet filter bl6"
    else:
        listing = "ipset list bl4 -o save; ipset list bl6 -o save; ipset list -n"
    write(folder, "drop.txt", BOTH_STALE)
    write(folder, "list.txt", BOTH_LIST)
    run = in_namespace(f"set -e\n{as_run(recipe, folder)}\ncp list.txt drop.txt\n{as_run(recipe, folder)}\n{listing}\n",
                       folder, binary)
    if run.returncode != 0:
        failures.append(f"{tool}, both families: status {run.returncode}: {run.stderr.strip()[:500]}")
        return
    ranges = []
    if tool == "nft":
        for output in run.stdout.splitlines():
            for item in json.loads(output)["nftables"]:
                for element in item.get("set", {}).get("elem", []):
                    if isinstance(element, str):
                        ranges.append(any_range(element))
                    elif "prefix" in element:
                        ranges.append(any_range(f"{element['prefix']['addr']}/{element['prefix']['len']}"))
                    else:
                        first, last = (ipaddress.ip_address(a) for a in element["range"])
                        ranges.append((first.version, int(first), int(last)))
    else:
        ranges = [any_range(line.split()[2]) for line in run.stdout.splitlines() if line.startswith("add ")]
        if run.stdout.splitlines()[-2:] != ["bl4", "bl6"]:
            failures.append(f"ipset, both families: sets left: {run.stdout.splitlines()[-3:]}")
    saved = subprocess.run([binary, "-c", 'save(range, stdout, load(auto, "list.txt"));'], cwd=folder,
                           capture_output=True, text=True, check=True).stdout.split()
    expected = [(ipaddress.ip_address(line.split("-")[0]).version,) +
                tuple(int(ipaddress.ip_address(a)) for a in (line.split("-") * 2)[:2]) for line in saved]
    if families(ranges) != families(expected):
        failures.append(f"{tool}, both families: loaded {families(ranges)}, blockset has {families(expected)}")


# Live sets made otherwise: (case, the commands that make them, the listing saved, the set whose
# check stops the restore or None when it loads). The restore loads over any hash:net set of the
# family, whatever its hashsize and maxelem; over another, or none, it stops at that set's check,
# before anything is filled, and every set stays as it was. No temporary set is left either way.
LIVE_SETS = [
    ("made with ipset's defaults", "ipset create bl hash:net; ipset add bl 192.0.2.0/24", "ipset bl", None),
    ("another maxelem and hashsize", "ipset create bl hash:net maxelem 1000 hashsize 64 timeout 0", "ipset bl", None),
    ("of type hash:ip", "ipset create bl hash:ip; ipset add bl 192.0.2.1", "ipset bl", "bl"),
    ("of family inet6", "ipset create bl hash:net family inet6; ipset add bl 2001:db8::/32", "ipset bl", "bl"),
    ("missing", "true", "ipset bl", "bl"),
    ("an IPv6 set of family inet", "ipset create bl hash:net; ipset add bl 192.0.2.0/24; ipset create bl6 hash:net",
     "ipset bl bl6", "bl6"),
]


def loads_over_live_sets(folder, binary, failures):
    write(folder, "list.txt", LISTS["200,000 blocks"] + "2001:db8::/48\n")
    for case, make, listing, stops_at in LIVE_SETS:
        # A single IPv4 set takes the IPv4 part alone.
        value = 'load(auto, "list.txt")' if " " in listing[6:] else 'intersect(load(auto, "list.txt"), {0.0.0.0/0})'
        subprocess.run([binary, "-c", f'save("{listing}", "saved.ipset", {value});'], cwd=folder, check=True)
        run = in_namespace(f"{make}\nipset save > before\nipset restore < saved.ipset\necho $? > status\n"
                           "ipset save > after\nipset list -n > names\n", folder, binary)
        files = {}
        for name in ("saved.ipset", "before", "after", "status", "names"):
            with open(os.path.join(folder, name)) as handle:
                files[name] = handle.read()
        made = [line.split()[1] for line in files["before"].splitlines() if line.startswith("create ")]
        wanted = made if stops_at else listing.split()[1:]
        if sorted(files["names"].split()) != sorted(wanted):
            failures.append(f"ipset over a live set {case}: sets left {files['names'].split()}, not {wanted}")
        status = files["status"].strip()
        if stops_at is None:
            if status != "0":
                failures.append(f"ipset over a live set {case}: status {status}: {run.stderr.strip()}")
            elif ipset_entries(files["after"]) != ipset_entries(files["saved.ipset"]):
                failures.append(f"ipset over a live set {case}: the loaded set is not the saved one")
            # Made with room for every entry, the set never grew its hash while it filled.
            header = next(line.split() for line in files["after"].splitlines() if line.startswith("create bl "))
            if int(header[header.index("hashsize") + 1]) < len(ipset_entries(files["after"])):
                failures.append(f"ipset over a live set {case}: {' '.join(header)} for 200,000 blocks")
            continue
        # ipset names the line it stopped at: the check after the comment that names the set.
        lines = files["saved.ipset"].splitlines()
        stopped = run.stderr.split("Error in line ", 1)[-1].split(":", 1)[0]
        if status == "0" or not stopped.isdigit() or not lines[int(stopped) - 1].startswith(f"del {stops_at} ") or \
                f" unless {stops_at} is " not in lines[int(stopped) - 2]:
            failures.append(f"ipset over a live set {case}: status {status}, {run.stderr.strip()}")
        if files["after"] != files["before"]:
            failures.append(f"ipset over a live set {case}: a refused restore changed the sets")


def main():
    binary = os.path.abspath(sys.argv[1])
    failures = []
    check_printed(failures)
    with tempfile.TemporaryDirectory() as folder:
        if shutil.which("unshare") is None:
            print("SKIP: unshare is not installed")
            return report(failures)
        probe = in_namespace("true", folder, binary)
        if probe.returncode != 0:
            print(f"SKIP: no private network namespace here: {probe.stderr.strip()}")
            return report(failures)
        for tool, recipe, tool_probe in [("nft", NFT_RECIPE, "nft list ruleset"),
                                         ("ipset", IPSET_RECIPE, "ipset list"),
                                         ("ipset", REDUCED_RECIPE, "ipset list")]:
            if shutil.which(tool) is None:
                print(f"SKIP {tool}: {tool} is not installed")
                continue
            probe = in_namespace(tool_probe, folder, binary)
            if probe.returncode != 0:
                print(f"SKIP {tool}: {tool} does not work in a private network namespace here: {probe.stderr.strip()}")
                continue
            load_recipe(tool, recipe, folder, binary, failures)
            if recipe == IPSET_RECIPE:
                loads_over_live_sets(folder, binary, failures)
            if recipe != REDUCED_RECIPE:
                both_families(tool, NFT_BOTH_RECIPE if tool == "nft" else IPSET_BOTH_RECIPE, folder, binary, failures)
            if recipe == NFT_RECIPE:
                cron_reloads_only_changes(folder, binary, failures)
    return report(failures)


def report(failures):
    for failure in failures:
        print(f"FAIL: {failure}")
    if not failures:
        print("the recipes load what blockset saved")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
