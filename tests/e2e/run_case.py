#!/usr/bin/env python3
"""Runs one end-to-end case file against the real blockset binary.

A case file is a sequence of directives:

    # a comment line
    args: -q text list.txt            arguments, split like a shell would (shlex)
    argv0: /some/dir/name             the program name the binary is started with
    stdin: "1.2.3.4\\n"               a Python string literal (\\x.. escapes for any byte)
    stdin <<                          or a block: every line up to ">>" plus its newline
    10.0.0.0/8
    >>
    file NAME: "..."  /  file NAME <<  a file created in the run's folder before the run
    dir NAME                          a folder created before the run
    stdout: ... / stdout <<           expected standard output (default: empty)
    stderr: ... / stderr <<           expected standard error (default: empty)
    status: 0                         expected exit status (default: 0)
    expect-file NAME: ... / <<        a file that must exist afterwards with these bytes
    expect-no-file NAME               a file that must not exist afterwards

Texts are taken byte for byte (latin-1), so NUL, CR and bytes above 127 can be written.
The run happens in a fresh temporary folder; stdin is empty unless given.
"""
import ast
import os
import shlex
import subprocess
import sys
import tempfile


def parse_case(path):
    case = {"args": [], "argv0": None, "stdin": b"", "files": [], "dirs": [],
            "stdout": b"", "stderr": b"", "status": 0, "expect_files": [], "no_files": []}
    with open(path, "rb") as handle:
        lines = handle.read().decode("latin-1").split("\n")
    i = 0

    def block():
        nonlocal i
        body = []
        while i < len(lines) and lines[i] != ">>":
            body.append(lines[i] + "\n")
            i += 1
        if i == len(lines):
            raise SystemExit(f"{path}: block without closing '>>'")
        i += 1
        return "".join(body).encode("latin-1")

    def value(rest):
        rest = rest.strip()
        if rest == "<<":
            return block()
        if rest.startswith(":"):
            return ast.literal_eval(rest[1:].strip()).encode("latin-1")
        raise SystemExit(f"{path}: cannot read value {rest!r}")

    while i < len(lines):
        line = lines[i]
        i += 1
        if not line.strip() or line.startswith("#"):
            continue
        word, _, rest = line.partition(" ")
        if line.startswith("args:"):
            case["args"] = shlex.split(line[5:])
        elif line.startswith("argv0:"):
            case["argv0"] = line[6:].strip()
        elif line.startswith("status:"):
            case["status"] = int(line[7:])
        elif word.rstrip(":") in ("stdin", "stdout", "stderr"):
            name = word.rstrip(":")
            case[name] = value(line[len(name):])
        elif word in ("file", "expect-file"):
            if rest.rstrip().endswith("<<"):
                name, content = rest.rstrip()[:-2], block()
            else:
                name, _, literal = rest.partition(": ")
                content = value(":" + literal)
            key = "files" if word == "file" else "expect_files"
            case[key].append((name.strip(), content))
        elif word == "dir":
            case["dirs"].append(rest.strip())
        elif word == "expect-no-file":
            case["no_files"].append(rest.strip())
        else:
            raise SystemExit(f"{path}: unknown directive {line!r}")
    return case


def show(data):
    return repr(data.decode("latin-1"))


def main():
    binary, case_path = os.path.abspath(sys.argv[1]), sys.argv[2]
    case = parse_case(case_path)
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        for name in case["dirs"]:
            os.makedirs(os.path.join(folder, name), exist_ok=True)
        for name, content in case["files"]:
            target = os.path.join(folder, name)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "wb") as handle:
                handle.write(content)
        argv = [case["argv0"] or binary] + case["args"]
        result = subprocess.run(argv, executable=binary, input=case["stdin"], cwd=folder,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=240, env={})
        for stream in ("stdout", "stderr"):
            got = getattr(result, stream)
            if got != case[stream]:
                failures.append(f"{stream} differs\n  expected: {show(case[stream])}\n  got:      {show(got)}")
        if result.returncode != case["status"]:
            failures.append(f"status: expected {case['status']}, got {result.returncode}")
        for name, content in case["expect_files"]:
            target = os.path.join(folder, name)
            if not os.path.exists(target):
                failures.append(f"file {name} missing")
                continue
            with open(target, "rb") as handle:
                got = handle.read()
            if got != content:
                failures.append(f"file {name} differs\n  expected: {show(content)}\n  got:      {show(got)}")
        for name in case["no_files"]:
            if os.path.exists(os.path.join(folder, name)):
                failures.append(f"file {name} exists")
    if failures:
        print(f"{case_path}: FAILED")
        for failure in failures:
            print("  " + failure)
        sys.exit(1)


if __name__ == "__main__":
    main()
