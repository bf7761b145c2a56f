#!/usr/bin/env python3
"""`-q auto` on the example lists in examples/published, plain and gzip-compressed, against a
model of each shape written here with Python's json, csv and ipaddress; then damaged and empty
inputs, which print nothing and end with status 65.

argv[1] is the blockset binary.
"""
import csv
import gzip
import ipaddress
import json
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PUBLISHED = os.path.join(ROOT, "examples", "published")
ADDRESS_FIELDS = ["cidr", "ip", "ip_address", "ipAddress", "ip_prefix", "ipv6_prefix", "network", "prefix", "address"]


def entry(text):
    """The (first, last, version) of an address or block, or None."""
    try:
        network = ipaddress.ip_network(text.strip(), strict=False)
    except ValueError:
        return None
    return int(network.network_address), int(network.broadcast_address), network.version


def json_entries(text):
    try:
        values = [json.loads(text)]
    except json.JSONDecodeError:
        values = [json.loads(line) for line in text.splitlines() if line.strip()]
    found = []
    while values:
        value = values.pop(0)
        if isinstance(value, dict):
            name = next((n for n in ADDRESS_FIELDS if n in value), None)
            if name is not None:
                found.append(entry(value[name]))
                continue
            value = list(value.values())
        if isinstance(value, list):
            values[0:0] = [v for v in value if isinstance(v, (dict, list))]
    return found


def delimited_entries(text, delimiter):
    rows = [row for row in csv.reader(text.splitlines(), delimiter=delimiter) if row and not row[0].startswith("#")]
    found = []
    for number, row in enumerate(rows):
        at = next((i for i, field in enumerate(row) if entry(field) is not None), None)
        if at is None:
            assert number == 0, f"a row after the header without an address: {row}"
            continue
        first = entry(row[at])
        last = entry(row[at + 1]) if at + 1 < len(row) else None
        if last is not None and "/" not in row[at] and "/" not in row[at + 1]:
            first = (first[0], last[1], first[2])
        found.append(first)
    return found


def tor_entries(text):
    return [entry(line.split()[1]) for line in text.splitlines() if line.startswith("ExitAddress ")]


MODELS = {
    "drop-lines.json": json_entries, "ip-ranges.json": json_entries, "c2-array.json": json_entries,
    "abuse-export.json": json_entries, "recommended.tsv": lambda t: delimited_entries(t, "\t"),
    "c2-tracker.csv": lambda t: delimited_entries(t, ","), "city-blocks.csv": lambda t: delimited_entries(t, ","),
    "country-lite.csv": lambda t: delimited_entries(t, ","), "tor-exits.txt": tor_entries,
}


def expected_outcome(name, text):
    found = MODELS[name](text)
    stdout = ""
    # The IPv4 blocks come first, then the IPv6 ones.
    for version, address in ((4, ipaddress.IPv4Address), (6, ipaddress.IPv6Address)):
        networks = []
        for first, last, entry_version in found:
            if entry_version == version:
                networks += ipaddress.summarize_address_range(address(first), address(last))
        stdout += "".join(f"{network}\n" for network in ipaddress.collapse_addresses(networks))
    return stdout, "", 0


# Inputs that are incomplete: (name, bytes, standard error).
INCOMPLETE = [
    ("cut.json", b'{\n  "prefixes": [\n    {"ip_prefix": "192.0.2.0/24"}\n', "'cut.json' line 3: damaged JSON at column 34\n"),
    ("damaged.json", b'{"data": [\n  {"ip": "192.0.2.1"},,\n]}\n', "'damaged.json' line 2: damaged JSON at column 23\n"),
    ("empty.txt", b"", "'empty.txt': no addresses\n"),
    ("comments.txt", b"# nothing listed today\n; nor here\n", "'comments.txt': no addresses\n"),
    ("header.csv", b"network,geoname_id\n", "'header.csv': no addresses\n"),
    ("metadata.json", b'{"type":"metadata","size":0}\n', "'metadata.json': no addresses\n"),
    ("bad-field.json", b'{"cidr":"192.0.2.0/24"}\n{"cidr":"192.0.2.300"}\n',
     "'bad-field.json' line 2: cannot read '{\"cidr\":\"192.0.2.300\"}'\n"),
]


def run(binary, folder, name):
    result = subprocess.run([binary, "-q", "auto", name], cwd=folder, env={}, stdin=subprocess.DEVNULL,
                            capture_output=True, text=True, timeout=60)
    return result.stdout, result.stderr, result.returncode


def main():
    binary = os.path.abspath(sys.argv[1])
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        cases = []
        for name in sorted(MODELS):
            with open(os.path.join(PUBLISHED, name), encoding="utf-8") as handle:
                text = handle.read()
            shutil.copy(os.path.join(PUBLISHED, name), folder)
            with open(os.path.join(folder, name + ".gz"), "wb") as handle:
                handle.write(gzip.compress(text.encode(), mtime=0))
            stdout, stderr, status = expected_outcome(name, text)
            cases.append((name, (stdout, stderr, status)))
            cases.append((name + ".gz", (stdout, stderr.replace(f"'{name}'", f"'{name}.gz'"), status)))
        for name, data, stderr in INCOMPLETE:
            with open(os.path.join(folder, name), "wb") as handle:
                handle.write(data)
            cases.append((name, ("", stderr, 65)))
        for name, expected in cases:
            got = run(binary, folder, name)
            if got != expected:
                failures.append(f"{name}: got {got!r}, expected {expected!r}")
    for failure in failures:
        print(f"FAIL: {failure}")
    if not failures:
        print(f"{len(cases)} published lists read as their models say")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
