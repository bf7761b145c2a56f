#!/usr/bin/env python3
"""Every command shown in README.md and in the manual's EXAMPLES runs against the files under
examples/, and its output is compared with what the documentation promises.

- README.md: in ```console blocks, a line "$ command" (continued while the shell would need
  more) is followed by its expected output, up to the next "$ " line or the end of the block.
- man/blockset.1: in EXAMPLES, every "$ command" (in .Dl lines and literal displays) runs, and
  its standard output is compared with tests/e2e/doc_examples/manual-N.out (N counts from 1).
  Lines with a "#" prompt need root and another system's tools; they are shown, not run.

Commands run with bash in a fresh folder holding a copy of examples/, where "blockset" and
"build/blockset" name the binary under test. Set BLOCKSET_UPDATE_DOC_EXAMPLES=1 to rewrite the
manual's expected outputs after a deliberate change.
"""
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
EXPECTED = os.path.join(ROOT, "tests", "e2e", "doc_examples")


def complete(command):
    """True when bash would not ask for more lines (quotes closed, no trailing backslash,
    no open brace group or pipe at the end)."""
    if command.rstrip().endswith(("\\", "|", "{")):
        return False
    try:
        lexer = shlex.shlex(command, posix=True, punctuation_chars=True)
        lexer.whitespace_split = True
        words = list(lexer)
    except ValueError:
        return False
    return words.count("{") <= words.count("}")


def continued(lines, i, clean=lambda line: line):
    """The command that starts after the prompt on line i, continued over the lines that bash
    would still read; and the index of its last line."""
    command = clean(lines[i][2:])
    while not complete(command):
        i += 1
        command += "\n" + clean(lines[i])
    return command, i


def readme_examples():
    text = open(os.path.join(ROOT, "README.md"), encoding="utf-8").read()
    examples = []
    for block in re.finditer(r"^```console[ \t]*\n(.*?)^```", text, re.M | re.S):
        first_line = text.count("\n", 0, block.start(1)) + 1
        lines = block.group(1).split("\n")[:-1]
        current = None
        i = 0
        while i < len(lines):
            if lines[i].startswith("$ "):
                command, i = continued(lines, i)
                current = {"where": f"README.md line {first_line + i}", "command": command, "output": ""}
                examples.append(current)
            elif current is not None:
                current["output"] += lines[i] + "\n"
            i += 1
    return examples


def unroff(text):
    return text.replace("\\e", "\\").replace("\\(aq", "'").replace("\\-", "-").replace("\\&", "")


def manual_examples():
    source = open(os.path.join(ROOT, "man", "blockset.1"), encoding="utf-8").read()
    section = source[source.index(".Sh EXAMPLES\n"):]
    lines = section[:section.index("\n.Sh ", 1)].split("\n")
    commands = []
    in_display = False
    i = 0
    while i < len(lines):
        if lines[i].startswith((".Bd", ".Ed")):
            in_display = lines[i].startswith(".Bd")
        elif lines[i].startswith(".Dl $ "):
            commands.append(unroff(lines[i][6:]))
        elif in_display and lines[i].startswith("$ "):
            command, i = continued(lines, i, unroff)
            commands.append(command)
        i += 1
    return [{"where": f"manual example {n}", "command": c, "expected_file": f"manual-{n}.out"}
            for n, c in enumerate(commands, 1)]


def run(binary, command):
    with tempfile.TemporaryDirectory() as folder:
        shutil.copytree(os.path.join(ROOT, "examples"), os.path.join(folder, "examples"))
        tools = os.path.join(folder, ".bin")
        os.makedirs(tools)
        os.makedirs(os.path.join(folder, "build"))
        os.symlink(binary, os.path.join(tools, "blockset"))
        os.symlink(binary, os.path.join(folder, "build", "blockset"))
        # The commands find bash, head, grep and the rest where this system keeps them.
        path = tools + os.pathsep + os.environ.get("PATH", os.defpath)
        bash = shutil.which("bash", path=path)
        if bash is None:
            sys.exit("bash not found on PATH")
        env = {"PATH": path, "LC_ALL": "C"}
        result = subprocess.run([bash, "-c", "set -o pipefail; " + command], cwd=folder, env=env,
                                stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
        return result.stdout.decode("latin-1"), result.stderr.decode("latin-1"), result.returncode


def main():
    binary = os.path.abspath(sys.argv[1])
    update = os.environ.get("BLOCKSET_UPDATE_DOC_EXAMPLES") == "1"
    failures = []
    examples = readme_examples() + manual_examples()
    if len(examples) < 10:
        failures.append(f"found only {len(examples)} examples: is the extraction broken?")
    for example in examples:
        out, err, status = run(binary, example["command"])
        if status != 0 or err:
            failures.append(f"{example['where']}: {example['command']!r} exited {status}, stderr {err!r}")
            continue
        if "expected_file" in example:
            path = os.path.join(EXPECTED, example["expected_file"])
            if update:
                with open(path, "w", encoding="latin-1") as handle:
                    handle.write(out)
            expected = open(path, encoding="latin-1").read() if os.path.exists(path) else None
        else:
            expected = example["output"]
        if out != expected:
            failures.append(f"{example['where']}: {example['command']!r}\n  expected {expected!r:.400}\n"
                            f"  got      {out!r:.400}")
    print(f"{len(examples)} documented commands checked")
    for failure in failures:
        print(failure)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
