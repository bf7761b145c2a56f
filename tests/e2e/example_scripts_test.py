#!/usr/bin/env python3
"""Each example script under examples/ runs from the top of the source tree and writes what
its expected-output file says (standard output, and any file it saves)."""
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
EXPECTED = os.path.join(ROOT, "tests", "e2e", "doc_examples")
binary = os.path.abspath(sys.argv[1])
update = os.environ.get("BLOCKSET_UPDATE_DOC_EXAMPLES") == "1"
failures = []
scripts = sorted(name for name in os.listdir(os.path.join(ROOT, "examples")) if name.endswith(".blockset"))
if len(scripts) < 3:
    failures.append(f"expected at least three example scripts, found {scripts}")
for name in scripts:
    with tempfile.TemporaryDirectory() as folder:
        shutil.copytree(os.path.join(ROOT, "examples"), os.path.join(folder, "examples"))
        before = set(os.listdir(folder))
        result = subprocess.run([binary, "-f", os.path.join("examples", name)], cwd=folder, env={},
                                stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        got = result.stdout
        for saved in sorted(set(os.listdir(folder)) - before):
            with open(os.path.join(folder, saved), "rb") as handle:
                got += f"--- {saved}\n".encode() + handle.read()
    if result.returncode != 0 or result.stderr:
        failures.append(f"{name}: status {result.returncode}, stderr {result.stderr!r}")
    path = os.path.join(EXPECTED, name[:-len(".blockset")] + ".out")
    if update:
        with open(path, "wb") as handle:
            handle.write(got)
    expected = open(path, "rb").read() if os.path.exists(path) else None
    if got != expected:
        failures.append(f"{name}: output differs from {os.path.relpath(path, ROOT)}")
for failure in failures:
    print(failure)
sys.exit(1 if failures else 0)
