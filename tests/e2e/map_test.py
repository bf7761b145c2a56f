#!/usr/bin/env python3
"""Maps: the PNG of map(OUTPUT, SET...) decoded here (zlib) and checked pixel by pixel.

argv[1] is the blockset binary. Each check runs in a fresh folder. The IPv4 panel is the top-left
4096 by 4096 pixels, the /24 numbered d at the d-th point of the order-12 Hilbert curve; the
IPv6 panel, when there is one, the same square 32 rows below it, for 2000::/4 at one /28 a pixel.
"""
import math
import os
import struct
import subprocess
import sys
import tempfile
import zlib

BINARY = None
SIDE = 4096
LEGEND = 1024
IPV6_TOP = SIDE + 32
# Okabe-Ito, less black: the colours of the first, second, ... set.
PALETTE = [(0xE6, 0x9F, 0x00), (0x56, 0xB4, 0xE9), (0x00, 0x9E, 0x73), (0xF0, 0xE4, 0x42), (0x00, 0x72, 0xB2),
           (0xD5, 0x5E, 0x00), (0xCC, 0x79, 0xA7)]
OVERLAP = (255, 255, 255)
BACKGROUND = (0, 0, 0)


def run(folder, script):
    result = subprocess.run([BINARY, "-c", script], cwd=folder, stdin=subprocess.DEVNULL, capture_output=True,
                            env={}, timeout=300)
    return result.returncode, result.stdout, result.stderr


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else (b if pb <= pc else c)


def unfilter(kind, line, prior, bpp):
    if kind == 0:
        return line
    out = bytearray(line)
    for i in range(len(out)):
        a = out[i - bpp] if i >= bpp else 0
        b = prior[i]
        c = prior[i - bpp] if i >= bpp else 0
        out[i] = (out[i] + (a, b, (a + b) // 2, paeth(a, b, c))[kind - 1]) & 255
    return bytes(out)


def decode_png(data):
    """(width, height, rows): each row the RGB bytes of one line of an 8-bit RGB PNG."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    at, idat, header = 8, [], None
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        assert zlib.crc32(kind + body) == struct.unpack(">I", data[at + 8 + length:at + 12 + length])[0], kind
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat.append(body)
        at += 12 + length
    width, height, depth, colour, _, _, interlace = header
    assert (depth, colour, interlace) == (8, 2, 0), header
    raw = zlib.decompress(b"".join(idat))
    stride = 3 * width
    rows, prior = [], bytes(stride)
    for y in range(height):
        start = y * (stride + 1)
        prior = unfilter(raw[start], raw[start + 1:start + 1 + stride], prior, 3)
        rows.append(prior)
    return width, height, rows


def pixel(rows, x, y):
    return tuple(rows[y][3 * x:3 * x + 3])


def d2xy(d, side=SIDE):
    x = y = 0
    s = 1
    while s < side:
        rx = 1 & (d // 2)
        ry = 1 & (d ^ rx)
        if ry == 0:
            if rx == 1:
                x, y = s - 1 - x, s - 1 - y
            x, y = y, x
        x, y = x + s * rx, y + s * ry
        d //= 4
        s *= 2
    return x, y


def shade(colour, addresses, pixel_bits):
    """The colour of a pixel holding that many addresses of one set (to within rounding)."""
    t = 0.4 + 0.6 * math.log2(addresses) / pixel_bits
    return tuple(round(t * c) for c in colour)


def close(got, wanted):
    return all(abs(g - w) <= 1 for g, w in zip(got, wanted))


def quad(text):
    a, b, c, d = map(int, text.split("."))
    return a << 24 | b << 16 | c << 8 | d


def check_panel(failures, what, rows, top, expected):
    """expected maps curve positions to colours; every other pixel of the panel is the
    background or the faint grey of the grid and its labels."""
    wrong = []
    by_row = {}
    for d, colour in expected.items():
        x, y = d2xy(d)
        by_row.setdefault(y, []).append((x, colour))
    for y in range(SIDE):
        row = bytearray(rows[top + y][:3 * SIDE])
        for x, colour in by_row.get(y, ()):
            got = tuple(row[3 * x:3 * x + 3])
            if not close(got, colour):
                wrong.append(f"pixel ({x}, {y}) is {got}, expected {colour}")
            row[3 * x:3 * x + 3] = bytes(3)
        if not (row[0::3] == row[1::3] == row[2::3] and max(row) <= 0x40):
            x = next(x for x in range(SIDE) if not (row[3 * x] == row[3 * x + 1] == row[3 * x + 2] <= 0x40))
            wrong.append(f"pixel ({x}, {y}) is {tuple(row[3 * x:3 * x + 3])}, expected background or grid")
    failures.extend(f"{what}: {line}" for line in wrong[:3])
    if len(wrong) > 3:
        failures.append(f"{what}: {len(wrong)} wrong in all")


def placement(folder, failures):
    """Corner /24s, a /8 square, a partial /24, and the overlap of two sets."""
    script = 'map("m.png", {0.0.0.0/24}, $bb = {255.255.255.0/24, 10.0.0.0/8}, {10.1.2.3, 192.0.2.0/25});'
    got = run(folder, script)
    if got != (0, b"", b""):
        return failures.append(f"placement: run gave {got}")
    with open(os.path.join(folder, "m.png"), "rb") as handle:
        width, height, rows = decode_png(handle.read())
    if (width, height) != (SIDE + LEGEND, SIDE):
        return failures.append(f"placement: picture is {width} by {height}")
    for what, at, colour in (("0.0.0.0/24 top left", (0, 0), PALETTE[0]),
                             ("255.255.255.0/24 top right", (SIDE - 1, 0), PALETTE[1])):
        if pixel(rows, *at) != colour:
            failures.append(f"placement: {what} is {pixel(rows, *at)}, expected {colour}")
    # 10.0.0.0/8 is the 256 by 256 square of the order-4 curve's tenth cell.
    sx, sy = (256 * v for v in d2xy(10, 16))
    square = {(x, y) for x in range(sx, sx + 256) for y in range(sy, sy + 256)}
    curve = {d2xy(d) for d in range(10 << 16, 11 << 16)}
    if square != curve:
        failures.append("placement: 10.0.0.0/8 is not one square")
    expected = {0: PALETTE[0], 0xFFFFFF: PALETTE[1], quad("192.0.2.0") >> 8: shade(PALETTE[2], 128, 8)}
    expected.update({d: PALETTE[1] for d in range(10 << 16, 11 << 16)})
    expected[quad("10.1.2.0") >> 8] = OVERLAP
    check_panel(failures, "placement", rows, 0, expected)


def ipv6_panel(folder, failures):
    """The second panel comes with IPv6 and only then; a /12 fills its square."""
    with open(os.path.join(folder, "six.txt"), "w") as handle:
        handle.write("2a00::/12\n2001:db8::/32\n198.51.100.7\n")
    with open(os.path.join(folder, "four.txt"), "w") as handle:
        handle.write("198.51.100.0/24\n")
    got = run(folder, 'map("six.png", load(auto, "six.txt"), {198.51.100.0/24}); map("four.png", load(auto, "four.txt"));')
    if got != (0, b"", b""):
        return failures.append(f"IPv6 panel: run gave {got}")
    with open(os.path.join(folder, "four.png"), "rb") as handle:
        width, height, _ = decode_png(handle.read())
    if (width, height) != (SIDE + LEGEND, SIDE):
        failures.append(f"IPv6 panel: an IPv4-only map is {width} by {height}")
    with open(os.path.join(folder, "six.png"), "rb") as handle:
        width, height, rows = decode_png(handle.read())
    if (width, height) != (SIDE + LEGEND, IPV6_TOP + SIDE):
        return failures.append(f"IPv6 panel: a map with IPv6 is {width} by {height}")
    check_panel(failures, "IPv6 panel, IPv4 part", rows, 0, {quad("198.51.100.0") >> 8: OVERLAP})
    # Pixel p is the /28 numbered p from 2000::/4 on; 2a00::/12 is square 0xa0 of 256.
    expected = {d: PALETTE[0] for d in range(0xA0 << 16, 0xA1 << 16)}
    expected[0x20010DB - 0x2000000] = shade(PALETTE[0], 2 ** 96, 100)
    check_panel(failures, "IPv6 panel", rows, IPV6_TOP, expected)


def outputs(folder, failures):
    """Standard output, an unchanged file left alone, an unwritable path, too many sets, and
    the syntax errors the statement still gives."""
    got = run(folder, 'map(stdout, {1.2.3.4}); map("a.png", {1.2.3.4});')
    with open(os.path.join(folder, "a.png"), "rb") as handle:
        saved = handle.read()
    if got[0] != 0 or got[2] != b"" or got[1] != saved or not saved.startswith(b"\x89PNG"):
        failures.append(f"standard output: status {got[0]}, stderr {got[2]!r}, same as the file: {got[1] == saved}")
    os.utime(os.path.join(folder, "a.png"), ns=(10**18, 10**18))
    before = os.stat(os.path.join(folder, "a.png"))
    run(folder, 'map("a.png", {1.2.3.4});')
    after = os.stat(os.path.join(folder, "a.png"))
    if (after.st_ino, after.st_mtime_ns) != (before.st_ino, before.st_mtime_ns):
        failures.append("unchanged map: the file was replaced")
    sets = ", ".join(f"{{{n}.0.0.0/8}}" for n in range(1, 9))
    rows = [
        ("unwritable path", 'map("no/such/m.png", {1.2.3.4}); save(cidr, stdout, {1.2.3.4});',
         (74, b"1.2.3.4/32\n", b"Error opening file 'no/such/m.png'.\n")),
        ("eight sets", f'map("eight.png", {sets}); save(cidr, stdout, {{1.2.3.4}});',
         (65, b"1.2.3.4/32\n", b"Cannot map 8 sets in 'eight.png': a map has colours for 7.\n")),
        ("no set", 'map("none.png");', (0, b"", b"error: syntax error on line: 1\n")),
        ("a listing word", 'map(cidr, "x.png", {1.2.3.4});', (0, b"", b"error: syntax error on line: 1\n")),
        ("standard input", 'map(stdin, {1.2.3.4});', (0, b"", b"error: syntax error on line: 1\n")),
        ("map inside an expression", '$aa = {1.2.3.4};\nsave(cidr, stdout, union(map, $aa));',
         (0, b"", b"error: syntax error on line: 2\n")),
    ]
    for what, script, wanted in rows:
        got = run(folder, script)
        if got != wanted:
            failures.append(f"{what}: expected {wanted}, got {got}")
    for name in ("eight.png", "none.png", "x.png"):
        if os.path.exists(os.path.join(folder, name)):
            failures.append(f"{name} was written")


def main():
    global BINARY
    BINARY = os.path.abspath(sys.argv[1])
    failures = []
    for check in (placement, ipv6_panel, outputs):
        with tempfile.TemporaryDirectory() as folder:
            check(folder, failures)
    for failure in failures:
        print(failure)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
