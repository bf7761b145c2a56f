#!/usr/bin/env python3
"""Reading a large list on two threads needs no more address space than reading it on one.

argv[1] is the blockset binary. For `-q text` and `-q auto`, the lowest address-space limit
(RLIMIT_AS, in steps of a mebibyte) at which the list read through a pipe, on one thread,
succeeds is found; the same list read from its path, where its second half is read ahead on a
second thread, must then succeed at that limit every time, with the same listing. Skipped in
sanitizer builds, which reserve address space of their own.
"""
import os
import random
import resource
import subprocess
import sys
import tempfile

LINES = 600000
ATTEMPTS = 5
READERS = {"-q text": "text", "-q auto": "auto"}


def run(binary, folder, kind, mib, piped):
    def limit():
        resource.setrlimit(resource.RLIMIT_AS, (mib << 20, mib << 20))

    arguments = [binary, "-q", kind] + ([] if piped else ["list.txt"])
    if not piped:
        return subprocess.run(arguments, cwd=folder, stdin=subprocess.DEVNULL, capture_output=True, env={},
                              preexec_fn=limit, timeout=120)
    with subprocess.Popen(["cat", "list.txt"], cwd=folder, stdout=subprocess.PIPE) as source:
        return subprocess.run(arguments, cwd=folder, stdin=source.stdout, capture_output=True, env={},
                              preexec_fn=limit, timeout=120)


def main():
    if os.environ.get("BLOCKSET_SANITIZED"):
        print("skipped: sanitizer build")
        return
    binary = os.path.abspath(sys.argv[1])
    rng = random.Random(11)
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "list.txt"), "w") as handle:
            handle.write("".join(".".join(str(rng.randrange(256)) for _ in range(4)) + "\n" for _ in range(LINES)))
        for name, kind in READERS.items():
            mib = 4
            while (piped := run(binary, folder, kind, mib, True)).returncode != 0:
                mib += 1
                if mib > 1024:
                    sys.exit(f"{name}: no limit up to 1 GiB lets the list be read through a pipe")
            outcomes = [run(binary, folder, kind, mib, False) for _ in range(ATTEMPTS)]
            failed = [(r.returncode, r.stderr[:100]) for r in outcomes if (r.returncode, r.stdout) != (0, piped.stdout)]
            print(f"{name}: read through a pipe from {mib} MiB; from the path, {len(failed)} of {ATTEMPTS} failed there")
            if failed:
                failures.append(f"{name}: read from its path at {mib} MiB, {failed}")
    for failure in failures:
        print(failure)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
