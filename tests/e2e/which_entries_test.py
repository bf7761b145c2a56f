#!/usr/bin/env python3
"""`blockset -w ITEM... type LIST...` over every list type and shape: a table of (items, type,
lists, standard output, standard error, status). argv[1] is the blockset binary.
"""
import gzip
import os
import subprocess
import sys
import tempfile


def p2b(version, records):
    """A P2B list of (name, first, last) records, addresses as integers."""
    data = b"\xff\xff\xff\xffP2B" + bytes([version])
    if version == 3:
        data += len(records).to_bytes(4, "big") + b"".join(name + b"\0" for name, _, _ in records)
        data += len(records).to_bytes(4, "big")
        data += b"".join(i.to_bytes(4, "big") + f.to_bytes(4, "big") + l.to_bytes(4, "big")
                         for i, (_, f, l) in enumerate(records))
    else:
        data += b"".join(name + b"\0" + f.to_bytes(4, "big") + l.to_bytes(4, "big") for name, f, l in records)
    return data


NET = 0xC0000200  # 192.0.2.0
LISTS = {
    "plain.txt": b"# c\n198.51.100.0/24   # seen\n10.0.0.5/24\r\n192.0.2.1 - 192.0.2.9 ; x\r"
                 b"Example: Ltd:203.0.113.0-203.0.113.63 // c\n2001:db8::/32\n::ffff:192.0.2.200\n192.0.2.250\t192.0.2.251\tx\n",
    "rows.csv": b'seen,ip,port\n"2024-01-01","192.0.2.7","443"\n192.0.2.16, 192.0.2.31,ZZ\n',
    "doc.json": b'{"prefixes": [\n  {"ip_prefix": "198.51.100.0/25",\n   "service": "A"},\n'
                b'  {"start": "192.0.2.50", "end": "192.0.2.60", "x": {"ip": "192.0.2.99"}}\n]}\n',
    "lines.jsonl": b'{"cidr":"192.0.2.0/28","sblid":"SBL1"}\n{"cidr":"2001:db8::/48"}\n',
    "tor.txt": b"ExitNode 00AA\nPublished 2024-01-01 12:00:00\nExitAddress 192.0.2.44 2024-01-01 13:05:00\n",
    "v2.p2b": p2b(2, [(b"Some: name", NET, NET + 255), (b"Other", 0x0A000000, 0x0A0000FF)]),
    "v3.p2b.gz": gzip.compress(p2b(3, [(b"First", 0x0A000000, 0x0A0000FF), (b"Second", NET + 7, NET + 7)]), mtime=0),
    "hosts.txt": b"10.0.0.5/24 # kept as written\nlocalhost\n192.0.2.1-192.0.2.9\n",
    "bad.txt": b"192.0.2.1\nnonsense\n",
    "syntax.txt": b"192.0.2.1\n192.0.2.2 192.0.2.3\n",
}

CASES = [
    ("each shape of an auto list", ["192.0.2.7"], "auto", ["plain.txt", "rows.csv", "doc.json", "lines.jsonl", "tor.txt"],
     "plain.txt:4:192.0.2.1 - 192.0.2.9\nrows.csv:2:192.0.2.7\nlines.jsonl:1:192.0.2.0/28\n", "", 0),
    ("host bits cleared, P2P, lone CR, mapped, columns", ["10.0.0.1", "203.0.113.9", "192.0.2.200-192.0.2.250"], "auto",
     ["plain.txt"], "plain.txt:3:10.0.0.5/24\nplain.txt:5:Example: Ltd:203.0.113.0-203.0.113.63\n"
                    "plain.txt:7:::ffff:192.0.2.200\nplain.txt:8:192.0.2.250\t192.0.2.251\n", "", 0),
    ("JSON objects where they begin, not those inside", ["198.51.100.3", "192.0.2.55", "192.0.2.99"], "auto",
     ["doc.json"], "doc.json:2:198.51.100.0/25\ndoc.json:4:192.0.2.50-192.0.2.60\n", "", 0),
    ("IPv6 items", ["2001:db8::1"], "auto", ["plain.txt", "lines.jsonl"],
     "plain.txt:6:2001:db8::/32\nlines.jsonl:2:2001:db8::/48\n", "", 0),
    ("CSV range of two fields, Tor record", ["192.0.2.20/30", "192.0.2.44"], "auto", ["rows.csv", "tor.txt"],
     "rows.csv:3:192.0.2.16,192.0.2.31\ntor.txt:3:192.0.2.44\n", "", 0),
    ("P2B records by number, read as p2b and as auto", ["10.0.0.9"], "p2b", ["v2.p2b", "v3.p2b.gz"],
     "v2.p2b:2:Other:10.0.0.0-10.0.0.255\nv3.p2b.gz:1:First:10.0.0.0-10.0.0.255\n", "", 0),
    ("P2B read as auto", ["192.0.2.7"], "auto", ["v2.p2b", "v3.p2b.gz"],
     "v2.p2b:1:Some: name:192.0.2.0-192.0.2.255\nv3.p2b.gz:2:Second:192.0.2.7-192.0.2.7\n", "", 0),
    ("text keeps host bits and looks names up", ["10.0.0.1", "127.0.0.1", "192.0.2.9"], "text", ["hosts.txt"],
     "hosts.txt:2:localhost\nhosts.txt:3:192.0.2.1-192.0.2.9\n", "", 0),
    ("text: a block from its address on", ["10.0.0.200"], "text", ["hosts.txt"], "hosts.txt:1:10.0.0.5/24\n", "", 0),
    ("nothing found", ["203.0.113.200"], "auto", ["plain.txt", "rows.csv"], "", "", 3),
    ("unreadable lists are reported, the others searched", ["192.0.2.1"], "auto", ["missing.txt", "bad.txt", "v2.p2b"],
     "bad.txt:1:192.0.2.1\nv2.p2b:1:Some: name:192.0.2.0-192.0.2.255\n",
     "Error opening file 'missing.txt'.\n'bad.txt' line 2: cannot read 'nonsense'\n", 65),
    ("a text list with a syntax error", ["192.0.2.1"], "text", ["syntax.txt"], "syntax.txt:1:192.0.2.1\n",
     "error: syntax error on line: 2\n", 65),
    ("the item in the same argument", ["-w192.0.2.44"], "auto", ["tor.txt"], "tor.txt:3:192.0.2.44\n", "", 0),
    ("an item that is none", ["192.0.2.300"], "auto", ["plain.txt"], "", "-w: '192.0.2.300' is no address, block or range\n", 1),
    ("an unknown type", ["192.0.2.1"], "xml", ["plain.txt"], "", "", 1),
    ("no list", ["192.0.2.1"], "auto", [], "", "", 1),
]

USAGE = "usage: blockset -q type [table]\n       blockset -c commands\n       blockset -f file\n"


def main():
    binary = os.path.abspath(sys.argv[1])
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        for name, data in LISTS.items():
            with open(os.path.join(folder, name), "wb") as handle:
                handle.write(data)
        for name, items, kind, lists, stdout, stderr, status in CASES:
            args = [a for item in items for a in ([item] if item.startswith("-w") else ["-w", item])]
            result = subprocess.run([binary] + args + [kind] + lists, cwd=folder, capture_output=True, env={},
                                    stdin=subprocess.DEVNULL, timeout=60)
            expected = (stdout, stderr + (USAGE if status == 1 else ""), status)
            got = (result.stdout.decode(), result.stderr.decode(), result.returncode)
            if got != expected:
                failures.append(f"{name}: expected {expected!r}, got {got!r}")
    for failure in failures:
        print(f"FAIL: {failure}")
    if not failures:
        print(f"{len(CASES)} searches gave the expected lines")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
