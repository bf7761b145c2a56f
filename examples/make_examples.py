#!/usr/bin/env python3
"""Writes the example blocklists that README and the tests use.

    examples/make_examples.py [FOLDER]      (default: the folder of this script)

Output, the same every run (fixed seed, no time stamp in the gzip header):
    blocklist.p2b.gz   a P2B list, version 3, gzip-compressed: a few hundred named ranges,
                       some of them overlapping, adjacent or out of order
    blocklist.txt      the same ranges as a text list (ranges, CIDR blocks, single addresses)
    blocklist.cidr     what `blockset -q p2b blocklist.p2b.gz` prints, worked out here
                       independently: the merged ranges as the fewest aligned CIDR blocks
    drop-style.txt     a list in the shape of published DROP lists (";" comments), and
    p2p-style.txt      one in the P2P text shape ("name:first-last"), both for the auto type
                       and made up from the documentation ranges 192.0.2.0/24,
                       198.51.100.0/24 and 203.0.113.0/24
    dual-stack.txt     a list of both families, IPv4 and IPv6 entries mixed, made up from
                       the same ranges and the IPv6 documentation prefix 2001:db8::/32
"""
import gzip
import os
import random
import struct
import sys

SEED = 20240601
RANGE_COUNT = 300

OWNERS = [
    "Bulk Mail Relay Ltd", "Residential Proxy Pool", "Scanner Farm East", "Scanner Farm West",
    "Bulletproof Hosting AS64500", "Bulletproof Hosting AS64501", "Compromised Cameras",
    "Open DNS Resolvers", "Brute-Force SSH Sources", "Credential Stuffing Botnet",
    "Ad Fraud Datacenter", "Tor-Like Relay Cluster", "Spam Source (listed twice)",
    "Phishing Kit Hosting", "Cryptominer Command Hosts", "Unallocated Bogons",
    "Exploit Kit Landing Pages", "Malware Download Mirrors", "Forum Spammers",
    "VPN Abuse Exits",
]


def address_text(address):
    return ".".join(str((address >> shift) & 0xFF) for shift in (24, 16, 8, 0))


def make_ranges(random_source):
    """(owner index, first, last) triples in file order."""
    ranges = []
    while len(ranges) < RANGE_COUNT:
        owner = random_source.randrange(len(OWNERS))
        kind = random_source.random()
        first_octet = random_source.choice([23, 31, 45, 46, 61, 77, 91, 103, 109, 141, 176, 185, 193, 203, 212])
        base = (first_octet << 24) | (random_source.randrange(1 << 16) << 8)
        if kind < 0.35:  # an aligned block
            prefix = random_source.choice([22, 23, 24, 24, 24, 25, 26, 28, 29, 30, 32])
            first = base & (0xFFFFFFFF << (32 - prefix)) & 0xFFFFFFFF
            last = first | ((1 << (32 - prefix)) - 1)
        elif kind < 0.8:  # a range of whole /24s, now and then with ragged ends
            first = base + (random_source.randrange(256) if random_source.random() < 0.25 else 0)
            last = base + random_source.randrange(1, 12) * 256 - 1
            if random_source.random() < 0.25:
                last -= random_source.randrange(200)
        else:  # a single address
            first = last = base + random_source.randrange(256)
        ranges.append((owner, first, last))
        roll = random_source.random()
        if roll < 0.08 and last < 0xFFFFFFFF:  # a neighbour that touches it
            ranges.append((owner, last + 1, last + 1 + random_source.randrange(64)))
        elif roll < 0.14:  # a duplicate listing that overlaps it
            ranges.append(((owner + 7) % len(OWNERS), first + (last - first) // 2, last + 10))
    ranges = ranges[:RANGE_COUNT]
    # Mostly in order, as real lists are, with a few stragglers.
    ranges.sort(key=lambda r: r[1])
    for _ in range(12):
        i, j = random_source.randrange(len(ranges)), random_source.randrange(len(ranges))
        ranges[i], ranges[j] = ranges[j], ranges[i]
    return ranges


def p2b_version_3(ranges):
    data = bytearray(b"\xff\xff\xff\xffP2B\x03")
    data += struct.pack(">I", len(OWNERS))
    for owner in OWNERS:
        data += owner.encode("ascii") + b"\x00"
    data += struct.pack(">I", len(ranges))
    for owner, first, last in ranges:
        data += struct.pack(">III", owner, first, last)
    return bytes(data)


def text_list(ranges):
    lines = ["# Example blocklist: the ranges of blocklist.p2b.gz as text.", ""]
    for owner, first, last in ranges:
        size = last - first + 1
        if first == last:
            entry = address_text(first)
        elif size & (size - 1) == 0 and first % size == 0:
            entry = f"{address_text(first)}/{32 - size.bit_length() + 1}"
        else:
            entry = f"{address_text(first)}-{address_text(last)}"
        lines.append(f"{entry}\t# {OWNERS[owner]}")
    return "\n".join(lines) + "\n"


def cidr_listing(ranges):
    merged = []
    for first, last in sorted((f, l) for _, f, l in ranges):
        if merged and first <= merged[-1][1] + 1:
            merged[-1][1] = max(merged[-1][1], last)
        else:
            merged.append([first, last])
    lines = []
    for first, last in merged:
        start = first
        while start <= last:
            size = 1
            while start % (size * 2) == 0 and start + size * 2 - 1 <= last and size < 1 << 32:
                size *= 2
            lines.append(f"{address_text(start)}/{33 - size.bit_length()}\n")
            start += size
    return "".join(lines)


DROP_STYLE = """\
; Example DROP-style list, made up from documentation address ranges.
; Last-Modified: Mon, 01 Jan 2024 00:00:00 GMT
; Expires: Tue, 02 Jan 2024 00:00:00 GMT
192.0.2.0/26 ; SBL000001
192.0.2.64/27 ; SBL000002
198.51.100.0/24 ; SBL000003
203.0.113.128/25 ; SBL000004
"""

P2P_STYLE = """\
# Example P2P-style list, made up from documentation address ranges.
Example Hosting Ltd:192.0.2.96-192.0.2.127
Scanner Farm (ports 22:23):198.51.100.16-198.51.100.31
Mail Relay, Inc.:203.0.113.0-203.0.113.63
Open Resolvers:203.0.113.200-203.0.113.200
"""

DUAL_STACK = """\
# Example list of both families, made up from documentation address ranges.
192.0.2.0/26 ; an IPv4 block
2001:db8:10::/48 ; an IPv6 block
2001:DB8:20::1 - 2001:db8:20::ff
198.51.100.7
2001:db8::1
::ffff:198.51.100.8
203.0.113.0 203.0.113.63
2001:db8:10:1::/64
"""


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    ranges = make_ranges(random.Random(SEED))
    with open(os.path.join(folder, "blocklist.p2b.gz"), "wb") as handle:
        handle.write(gzip.compress(p2b_version_3(ranges), compresslevel=9, mtime=0))
    with open(os.path.join(folder, "blocklist.txt"), "w") as handle:
        handle.write(text_list(ranges))
    with open(os.path.join(folder, "blocklist.cidr"), "w") as handle:
        handle.write(cidr_listing(ranges))
    for name, text in (("drop-style.txt", DROP_STYLE), ("p2p-style.txt", P2P_STYLE), ("dual-stack.txt", DUAL_STACK)):
        with open(os.path.join(folder, name), "w") as handle:
            handle.write(text)


if __name__ == "__main__":
    main()
