#!/usr/bin/env python3
"""blockset -m [-v] [-c] type LIST [FILE...], run as the real binary.

1. A table of invocations: files, standard input, and the exact standard output, standard
   error and status each gives.
2. A randomised comparison with a model: random log lines (addresses of both families in and
   out of a set, written in several forms, glued to random bytes) against a random set, the
   model finding addresses by the rules with Python's ipaddress as the judge of IPv6 text.
3. Output stops cleanly when its reader goes: a pipe closed after one line ends the run by
   SIGPIPE, with nothing on standard error.
"""
import ipaddress
import os
import random
import re
import signal
import struct
import subprocess
import sys
import tempfile

BINARY = os.path.abspath(sys.argv[1])
USAGE = b"usage: blockset -m [-v] [-c] type list [file ...]\n"
P2B = b"\xff\xff\xff\xffP2B\x02" + b"n\x00" + struct.pack(">II", 0x0A000000, 0x0AFFFFFF)
LOG = b"ok 10.1.2.3 x\nno 192.0.2.1\nnone here\n[2001:db8::7]:443\n"
LIST = b"10.0.0.0/8\n2001:db8::/32\n"

# (arguments, files, standard input, standard output, standard error, status)
TABLE = [
    (["-m"], {}, b"", b"", USAGE, 1),
    (["-m", "xml", "l"], {"l": LIST}, b"", b"", USAGE, 1),
    (["-m", "text"], {}, b"", b"", USAGE, 1),
    (["-mx", "text", "l"], {"l": LIST}, b"", b"", b"blockset: illegal option -- x\n" + USAGE, 1),
    (["-m", "-q", "text", "l"], {"l": LIST}, b"", b"", b"blockset: illegal option -- q\n" + USAGE, 1),
    (["-m", "-m", "text", "l"], {"l": LIST}, b"", b"", USAGE, 1),
    (["-m", "auto", "l", "log"], {"l": LIST, "log": LOG}, b"", b"ok 10.1.2.3 x\n[2001:db8::7]:443\n", b"", 0),
    (["-m", "--", "auto", "l"], {"l": LIST}, LOG, b"ok 10.1.2.3 x\n[2001:db8::7]:443\n", b"", 0),
    (["-mv", "auto", "l"], {"l": LIST}, LOG, b"no 192.0.2.1\n", b"", 0),
    (["-m", "-c", "auto", "l", "log"], {"l": LIST, "log": LOG}, b"", b"2\n", b"", 0),
    (["-c", "-v", "-m", "auto", "l", "log", "log"], {"l": LIST, "log": LOG}, b"", b"log:1\nlog:1\n", b"", 0),
    (["-m", "auto", "l", "a", "b"], {"l": LIST, "a": b"10.0.0.1\n", "b": b"x 10.9.9.9"}, b"",
     b"a:10.0.0.1\nb:x 10.9.9.9", b"", 0),
    # Text lists keep host bits and hold IPv4 only; auto clears them. P2B lists are read too.
    (["-mc", "text", "l", "log"], {"l": b"10.1.2.5/24\n", "log": b"10.1.2.4\n10.1.2.9\n::ffff:10.1.2.9\n"}, b"", b"2\n", b"", 0),
    (["-mc", "auto", "l", "log"], {"l": b"10.1.2.5/24\n", "log": b"10.1.2.4\n10.1.2.9\n"}, b"", b"2\n", b"", 0),
    (["-mv", "text", "l", "log"], {"l": b"10.0.0.0/8\n", "log": LOG}, b"", b"no 192.0.2.1\n[2001:db8::7]:443\n", b"", 0),
    (["-m", "p2b", "l"], {"l": P2B}, LOG, b"ok 10.1.2.3 x\n", b"", 0),
    # Lines byte for byte: line ends, NUL and high bytes, a last line without a line end.
    (["-m", "auto", "l"], {"l": LIST}, b"a\r\n10.0.0.1\r\n\x00\xff10.0.0.2\x00\n\n10.0.0.3", b"10.0.0.1\r\n\x00\xff10.0.0.2\x00\n10.0.0.3", b"", 0),
    # Nothing kept: status 3, with the counts written all the same.
    (["-m", "auto", "l"], {"l": LIST}, b"192.0.2.1\n", b"", b"", 3),
    (["-mc", "auto", "l", "a", "b"], {"l": LIST, "a": b"", "b": b"1.2.3.4\n"}, b"", b"a:0\nb:0\n", b"", 3),
    (["-mv", "auto", "l"], {"l": LIST}, b"no address\n10.0.0.1\n", b"", b"", 3),
    # Lists and files that cannot be read: a message each and status 65; a list read in part
    # keeps no lines, a file that cannot be read leaves the others to be read.
    (["-m", "auto", "missing", "log"], {"log": LOG}, b"", b"", b"Error opening file 'missing'.\n", 65),
    (["-m", "text", "missing", "log"], {"log": LOG}, b"", b"", b"Error opening file missing.\n", 65),
    (["-m", "p2b", "l", "log"], {"l": b"not p2b", "log": LOG}, b"", b"", b"Bad magic in file 'l'.\n", 65),
    (["-m", "auto", "l", "log"], {"l": b"10.0.0.0/8\n10.0.0.300\n", "log": LOG}, b"", b"",
     b"'l' line 2: cannot read '10.0.0.300'\n", 65),
    (["-m", "auto", "l", "-", "dir/", "log"], {"l": LIST, "log": LOG, "dir/x": b""}, b"",
     b"log:ok 10.1.2.3 x\nlog:[2001:db8::7]:443\n", b"Error opening file '-'.\nError reading file 'dir/'.\n", 65),
    (["-mc", "auto", "l", "nothing"], {"l": LIST}, b"", b"", b"Error opening file 'nothing'.\n", 65),
]


def run(args, files, stdin):
    with tempfile.TemporaryDirectory() as folder:
        for name, content in files.items():
            os.makedirs(os.path.dirname(os.path.join(folder, name)), exist_ok=True)
            with open(os.path.join(folder, name), "wb") as handle:
                handle.write(content)
        result = subprocess.run(["blockset"] + args, executable=BINARY, input=stdin, cwd=folder,
                                capture_output=True, timeout=120, env={})
    return result.stdout, result.stderr, result.returncode


# ---------------------------------------------------------------- the model

RUN = re.compile(rb"[0-9A-Fa-f:.]+")


def ipv4_at(run, i):
    """The IPv4 address whose quad starts at run[i:] and its end, or None."""
    if i > 0 and run[i - 1:i] in b"0123456789.":
        return None
    found = re.match(rb"(\d{1,3})\.(\d{1,3})\.(\d{1,3})\.(\d{1,3})", run[i:])
    if not found or any(int(group) > 255 for group in found.groups()):
        return None
    end = i + found.end()
    if re.match(rb"\d|\.\d", run[end:]):
        return None
    return ipaddress.IPv4Address(bytes(int(group) for group in found.groups())), end


def ipv6_at(run, i):
    """The longest IPv6 address starting at run[i:] (the run's start or after a dot) that
    ends at the run's end or before a dot without a digit after it, and its end."""
    if i > 0 and run[i - 1:i] != b".":
        return None
    ends = [j for j in range(len(run), i, -1)
            if j - i <= 45 and (j == len(run) or (run[j:j + 1] == b"." and not run[j + 1:j + 2].isdigit()))]
    for j in ends:
        try:
            address = ipaddress.IPv6Address(run[i:j].decode())
        except ValueError:
            continue
        return (address.ipv4_mapped or address), j
    return None


def addresses(line):
    found = []
    for run in RUN.finditer(line):
        text, i = run.group(), 0
        while i < len(text):
            hit = ipv6_at(text, i) or ipv4_at(text, i)
            if hit:
                found.append(hit[0])
                i = hit[1]
            else:
                i += 1
    return found


def model(networks, files, invert, count):
    output = b""
    kept_any = False
    for name, content in files:
        prefix = (name.encode() + b":") if len(files) > 1 else b""
        lines = re.findall(rb"[^\n]*\n|[^\n]+$", content)
        kept = 0
        for line in lines:
            found = addresses(line.rstrip(b"\n"))
            inside = any(any(a in n for n in networks if n.version == a.version) for a in found)
            if (inside if not invert else (found and not inside)):
                kept += 1
                if not count:
                    output += prefix + line
        if count:
            output += prefix + str(kept).encode() + b"\n"
        kept_any = kept_any or kept > 0
    return output, 0 if kept_any else 3


def random_address(rng, networks):
    if rng.random() < 0.5:
        network = rng.choice(networks)
        value = int(network.network_address) + rng.randrange(network.num_addresses)
        address = ipaddress.ip_address(value) if network.version == 4 else ipaddress.IPv6Address(value)
    else:
        address = ipaddress.IPv4Address(rng.getrandbits(32)) if rng.random() < 0.6 else ipaddress.IPv6Address(
            (0x20010DB8 << 96) | rng.getrandbits(40))
    if address.version == 4:
        if rng.random() < 0.15:
            return f"::ffff:{address}"
        return str(address)
    text = address.compressed if rng.random() < 0.6 else address.exploded
    return text.upper() if rng.random() < 0.3 else text


GLUE = [" ", " ", ":", ".", "[", "]", ",", "x", "a", "1", "/", "-", "=", "(", "\t", "\r", "12:30:45", ".5", ":8080"]


def random_line(rng, networks):
    parts = []
    for _ in range(rng.randrange(0, 5)):
        parts.append(rng.choice(GLUE) if rng.random() < 0.5 else random_address(rng, networks))
    return "".join(parts).encode()


def random_comparison():
    failures = []
    rng = random.Random(32)
    for round_number in range(25):
        networks = [ipaddress.ip_network(f"{rng.getrandbits(8)}.{rng.getrandbits(8)}.0.0/{rng.choice((8, 12, 16))}", strict=False)
                    for _ in range(4)]
        networks += [ipaddress.ip_network(f"2001:db8:0:{rng.getrandbits(8):x}00::/56"), ipaddress.ip_network("2001:db8::/90")]
        listing = "".join(f"{n}\n" for n in networks).encode()
        files = [(f"log{n}", b"\n".join(random_line(rng, networks) for _ in range(200)) + b"\n") for n in range(1 + round_number % 2)]
        for invert in (False, True):
            for count in (False, True):
                args = ["-m"] + (["-v"] if invert else []) + (["-c"] if count else []) + ["auto", "list"]
                got_out, got_err, status = run(args + [name for name, _ in files], dict(files, list=listing), b"")
                expected, expected_status = model(networks, files, invert, count)
                if (got_out, got_err, status) != (expected, b"", expected_status):
                    failures.append(f"round {round_number} {args}: status {status} (expected {expected_status}), "
                                    f"stderr {got_err!r}, output differs: {got_out != expected}")
    return failures


def pipe_closed_early():
    with tempfile.TemporaryDirectory() as folder:
        listing, log = os.path.join(folder, "list"), os.path.join(folder, "log")
        with open(listing, "wb") as handle:
            handle.write(b"0.0.0.0/0\n")
        with open(log, "wb") as handle:
            handle.write((b"192.0.2.1 " * 100 + b"\n") * 20000)
        process = subprocess.Popen([BINARY, "-m", "auto", listing, log], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        process.stdout.readline()
        process.stdout.close()
        error = process.stderr.read()
        status = process.wait(timeout=60)
    if status != -signal.SIGPIPE or error:
        return [f"closed pipe: status {status}, stderr {error!r}"]
    return []


def main():
    failures = []
    for args, files, stdin, stdout, stderr, status in TABLE:
        got = run(args, files, stdin)
        if got != (stdout, stderr, status):
            failures.append(f"{args}: expected {(stdout, stderr, status)!r}\n  got {got!r}")
    failures += random_comparison()
    failures += pipe_closed_early()
    for failure in failures:
        print(failure)
    print(f"{len(TABLE)} invocations, the model and the closed pipe checked; {len(failures)} failures")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
