#!/usr/bin/env python3
"""Large lists read from their path and through a pipe give the same run, byte for byte.

argv[1] is the blockset binary. A regular file of a megabyte or more has its second half read
ahead while the first is read; a pipe is read from start to end alone. Each list here is a few
megabytes of entries, with awkward lines placed just before the line where the second half
starts, just after it, further into the second half and at the end. Each is read by `-q text`,
`-q auto` and a script's load of either, once from its path and once through a pipe: standard
output, standard error and the status must be the same.
"""
import os
import random
import subprocess
import sys
import tempfile

# Lines that neither end the reading nor add much: echoed characters, comments, empty and
# blank lines, every line end, a comment that runs on past lone carriage returns, a name that
# resolves and one that cannot, literals that are refused, a NUL byte.
AWKWARD = (b"1.2.3\n::_\n# a comment\n10.1.1.1 # after an entry\n\n \t \n10.2.2.2\r\n"
           b"10.3.3.3\r10.3.3.4\r\n10.4.4.4 # swallows\r10.4.4.5\r10.4.4.6\n"
           b"localhost\nnowhere.invalid\n300.1.1.1\n1.2.3.4/33\n1.2.3.9-1.2.3.1\n10.5.5.5\x00\n")
SYNTAX_ERROR = b"10.7.7.7 10.7.7.8\n"
# Longer than the scanner's first storage; the line the middle of the file falls in.
LONG_COMMENT = b"#" + b"c" * 40000 + b"\n"
LONG_ECHO = b"10.6.6.6" + b"~" * 40000 + b"\n"
LONG_BLANKS = b" " * 40000 + b"10.6.6.7\n"

# name: (order, {place: lines}, bytes the middle lies before the line that starts the second
# half, last line without its line end). Places: "before" ends right before the second half,
# "after" starts it, "further" lies a quarter of the file on, "end" closes the file.
LISTS = {
    "awkward everywhere, in order": ("sorted", {p: AWKWARD for p in ("before", "after", "further", "end")}, 1, True),
    "awkward everywhere, shuffled": ("shuffled", {p: AWKWARD for p in ("before", "after", "further", "end")}, 1, False),
    "syntax error before the cut": ("shuffled", {"before": AWKWARD + SYNTAX_ERROR, "after": AWKWARD}, 1, False),
    "syntax error right after the cut": ("sorted", {"before": AWKWARD, "after": SYNTAX_ERROR + AWKWARD}, 1, False),
    "syntax error further on": ("shuffled", {"after": AWKWARD, "further": SYNTAX_ERROR, "end": AWKWARD}, 1, True),
    "syntax error at the end": ("sorted", {"further": AWKWARD, "end": AWKWARD + SYNTAX_ERROR}, 1, False),
    "long comment across the middle": ("shuffled", {"before": LONG_COMMENT, "end": AWKWARD}, 20000, True),
    "long echo across the middle": ("sorted", {"before": LONG_ECHO, "further": AWKWARD}, 20000, False),
    "long blanks across the middle": ("shuffled", {"before": LONG_BLANKS, "after": AWKWARD}, 20000, False),
}
FILLER_LINES = 110000  # in each half: about 3 MiB a list

# How each list is read: the arguments for its path and for standard input.
READERS = {
    "-q text": (["-q", "text", "list.txt"], ["-q", "text"]),
    "-q auto": (["-q", "auto", "list.txt"], ["-q", "auto"]),
    "load(text)": (["-c", 'save(cidr, stdout, load(text, "list.txt"));'], ["-c", "save(cidr, stdout, load(text, stdin));"]),
    "load(auto)": (["-c", 'save(range, stdout, load(auto, "list.txt"));'], ["-c", "save(range, stdout, load(auto, stdin));"]),
}


def filler(rng, count, order):
    """Lines of entries of every shape, each ending in a line feed."""
    entries = []
    for _ in range(count):
        start = rng.randrange(1 << 32)
        quad = ".".join(str((start >> shift) & 255) for shift in (24, 16, 8, 0))
        shape = rng.randrange(4)
        if shape == 0:
            entries.append((start, f"{quad}/{rng.randrange(16, 33)}"))
        elif shape == 1:
            last = min(start + rng.randrange(1, 300), (1 << 32) - 1)
            entries.append((start, f"{quad}-" + ".".join(str((last >> s) & 255) for s in (24, 16, 8, 0))))
        else:
            entries.append((start, quad))
    if order == "sorted":
        entries.sort()
    return [f"{text}\n".encode() for _, text in entries]


def padding(size):
    """size bytes of comment lines."""
    lines = []
    while size > 0:
        part = min(size, 1000)
        lines.append(b"\n" if part == 1 else b"#" + b"p" * (part - 2) + b"\n")
        size -= part
        if 0 < size < 2:  # never leave a single byte for a last line of its own
            lines[-1] = lines[-1][:-1] + b"p\n"
            size -= 1
    return b"".join(lines)


def build(lines, places, middle_back, unended):
    """The list, sized so that its middle lies middle_back bytes before the line that starts the
    second half, in the last line of "before" (the first line feed from the middle on ends it)."""
    half, quarter = FILLER_LINES, FILLER_LINES * 9 // 20
    first = b"".join(lines[:half]) + places.get("before", b"")
    second = [places.get("after", b""), b"".join(lines[half:half + quarter]), places.get("further", b""),
              b"".join(lines[half + quarter:half + 2 * quarter])]
    end = places.get("end", b"") + b"10.9.9.9" + (b"" if unended else b"\n")
    middle = len(first) - middle_back
    room = 2 * middle - len(first) - sum(map(len, second)) - len(end)
    assert room >= 2, "the second half outgrew the first"
    return first + b"".join(second) + padding(room) + end


def run(binary, folder, arguments, stdin):
    result = subprocess.run([binary] + arguments, cwd=folder, stdin=stdin, capture_output=True, env={}, timeout=300)
    return result.stdout, result.stderr, result.returncode


def main():
    binary = os.path.abspath(sys.argv[1])
    rng = random.Random(20261210)
    lines = {order: filler(rng, 2 * FILLER_LINES, order) for order in ("sorted", "shuffled")}
    failures = []
    pairs = 0
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "list.txt")
        for name, (order, places, middle_back, unended) in LISTS.items():
            text = build(lines[order], places, middle_back, unended)
            with open(path, "wb") as handle:
                handle.write(text)
            for reader, (from_path, from_pipe) in READERS.items():
                by_path = run(binary, folder, from_path, subprocess.DEVNULL)
                # The pipe's reader is told the list's name, so that messages name the same input.
                piped = subprocess.Popen(["cat", "list.txt"], cwd=folder, stdout=subprocess.PIPE)
                by_pipe = run(binary, folder, from_pipe, piped.stdout)
                piped.stdout.close()
                piped.wait()
                by_pipe = (by_pipe[0], by_pipe[1].replace(b"'(stdin)'", b"'list.txt'"), by_pipe[2])
                pairs += 1
                if by_path != by_pipe:
                    failures.append(f"{name}, {reader}: from the path {shown(by_path)}, through a pipe {shown(by_pipe)}")
    print(f"{len(LISTS)} lists, {pairs} pairs")
    for failure in failures:
        print(failure)
    sys.exit(1 if failures else 0)


def shown(result):
    stdout, stderr, status = result
    return f"status {status}, {len(stdout)} bytes out, stderr {stderr[:300]!r}"


if __name__ == "__main__":
    main()
