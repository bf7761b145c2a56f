#!/usr/bin/env python3
"""Script runs at their limits: nesting just below and just above the parser's depth limit,
the deepest nesting on a 256 KiB stack, and -c texts far larger than a pipe buffer."""
import os
import resource
import subprocess
import sys
import tempfile

BINARY = sys.argv[1]
failures = []


def small_stack():
    resource.setrlimit(resource.RLIMIT_STACK, (256 * 1024, 256 * 1024))


def run(args, stdin=b"", preexec_fn=None):
    result = subprocess.run([BINARY] + args, input=stdin, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, timeout=120, env={}, preexec_fn=preexec_fn)
    return result.stdout, result.stderr, result.returncode


def check(name, got, expected):
    if got != expected:
        failures.append(f"{name}: expected {expected!r:.300}, got {got!r:.300}")


def nested_invert(depth):
    return "invert(" * depth + "{}" + ")" * depth + ";"


def nested_invert_of_literal(depth):
    return "invert(" * depth + "{1.2.3.4}" + ")" * depth + ";"


def nested_assignment(depth):
    return "$aa = " * depth + "{};"


def in_first_operand(depth):
    return "union(" * depth + "{}" + ", {})" * depth + ";"


def in_second_operand(depth):
    return "union({}, " * depth + "{}" + ")" * depth + ";"


def in_save(depth):
    return "save(cidr, stdout, " + "invert(" * depth + "{}" + ")" * depth + ");"


OVERFLOW = b"error: yacc stack overflow on line: 1\n"
# The parser's stack holds 10000 entries: two for the script, two for each enclosing invert
# or union read in its first operand, four for a union read in its second operand, six for
# the enclosing save, and the innermost "{" "}" two more ("{" literal "}" three).
# (name, builder, deepest nesting that fits, output of the fitting script)
cases = [
    ("nested invert", nested_invert, 4998, b""),  # 2 + 2d + 2
    ("nested invert of a literal", nested_invert_of_literal, 4997, b""),  # 2 + 2d + 3
    ("nested assignment", nested_assignment, 4998, b""),  # 2 + 2d + 2
    ("nested union, first operand", in_first_operand, 4997, b""),  # 2 + 2(d-1) + 4 + 2
    ("nested union, second operand", in_second_operand, 2499, b""),  # 2 + 4(d-1) + 4 + 2
    ("invert inside save", in_save, 4995, b"0.0.0.0/0\n"),  # 2 + 6 + 2d + 2; odd: everything
]
for name, build, deepest, output in cases:
    # An odd number of inversions of the empty set is everything; an even number is empty.
    # The deepest nesting needs no more than a small stack.
    out, err, status = run(["-c", build(deepest)], preexec_fn=small_stack)
    check(f"{name} at {deepest} on a 256 KiB stack: output", (out, err, status), (output, b"", 0))
    out, err, status = run(["-c", build(deepest + 1)])
    check(f"{name} at {deepest + 1}: overflow", (out, err, status), (b"", OVERFLOW, 0))

# The statement before an overflowing one has run; nothing after it runs.
out, err, status = run(["-c", "save(cidr, stdout, {1.2.3.4});\n" + nested_invert(4999) + "save(cidr, stdout, {5.6.7.8});"])
check("overflow stops the script", (out, err, status), (b"1.2.3.4/32\n", b"error: yacc stack overflow on line: 2\n", 0))

# A -c text of about 120 KB (far beyond a 64 KiB pipe buffer) runs exactly like the same file.
elements = ", ".join(f"10.{i // 256}.{i % 256}.1" for i in range(9000))
big = "// " + "x" * 1000 + "\n$aa = {" + elements + "};\nsave(cidr, stdout, $aa);\n"
assert len(big) > 110_000, len(big)
expected = "".join(f"10.{i // 256}.{i % 256}.1/32\n" for i in range(9000)).encode()
out, err, status = run(["-c", big])
check("large -c text", (out, err, status), (expected, b"", 0))
with tempfile.TemporaryDirectory() as folder:
    path = os.path.join(folder, "script")
    with open(path, "w") as handle:
        handle.write(big)
    check("large script file", run(["-f", path]), (expected, b"", 0))

if failures:
    print("\n".join(failures))
    sys.exit(1)
