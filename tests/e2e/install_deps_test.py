"""tools/install-deps against stand-ins for the package tools: it installs only what is missing,
runs `apt-get update` only then, goes through sudo for an ordinary user, and otherwise prints the
command for root and fails. The stand-ins log each call, so no package tool is ever run."""
import os
import subprocess
import sys
import tempfile

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "install-deps")
BUILD = ("g++ cmake make pkg-config zlib1g-dev nlohmann-json3-dev libcurl4-openssl-dev libcairo2-dev libpng-dev "
         "fonts-dejavu-core").split()
TESTS = "libgtest-dev python3 gzip openssl mandoc nftables ipset iproute2 util-linux".split()

STANDINS = {
    "uname": 'echo "${FAKE_SYSTEM:-Linux}"',
    "id": 'echo "$FAKE_UID"',
    "dpkg-query": 'for p in $FAKE_INSTALLED; do [ "$p" = "$3" ] && { echo "install ok installed"; exit 0; }; done; exit 1',
    "apt-get": 'echo "apt-get $*" >>"$LOG"',
    "sudo": 'echo "sudo" >>"$LOG"; "$@"',
}


def run(folder, args, installed, uid=0, tools=("apt-get", "dpkg-query", "sudo")):
    stand_ins = os.path.join(folder, f"bin-{len(os.listdir(folder))}")
    os.mkdir(stand_ins)
    for name, body in STANDINS.items():
        if name in ("uname", "id") or name in tools:
            with open(os.path.join(stand_ins, name), "w") as handle:
                handle.write(f"#!/bin/sh\n{body}\n")
            os.chmod(os.path.join(stand_ins, name), 0o755)
    for real in ("sh", "grep"):
        os.symlink(f"/bin/{real}", os.path.join(stand_ins, real))
    log = os.path.join(stand_ins, "log")
    env = {"PATH": stand_ins, "LOG": log, "FAKE_UID": str(uid), "FAKE_INSTALLED": " ".join(installed)}
    done = subprocess.run(["/bin/sh", SCRIPT, *args], env=env, capture_output=True, text=True,
                          stdin=subprocess.DEVNULL)
    calls = open(log).read().splitlines() if os.path.exists(log) else []
    return done.returncode, done.stdout, done.stderr, calls


def main():
    install = "install -y --no-install-recommends"
    cases = [
        # (what, arguments, installed, uid, tools, status, stdout, calls, stderr holds)
        ("nothing missing", [], BUILD, 0, None, 0, "tools/install-deps: everything needed is installed\n", [], ""),
        ("the tests' packages are installed too", ["--tests"], BUILD + TESTS, 1000, None, 0,
         "tools/install-deps: everything needed is installed\n", [], ""),
        ("two missing, as root", [], BUILD[:-2], 0, None, 0,
         "tools/install-deps: installing libpng-dev fonts-dejavu-core\n",
         ["apt-get update", f"apt-get {install} libpng-dev fonts-dejavu-core"], ""),
        ("with --tests, only the missing test package", ["--tests"], BUILD + TESTS[1:], 0, None, 0,
         "tools/install-deps: installing libgtest-dev\n",
         ["apt-get update", f"apt-get {install} libgtest-dev"], ""),
        ("an ordinary user goes through sudo", [], BUILD[1:], 1000, None, 0,
         "tools/install-deps: installing g++\n", ["sudo", "apt-get update", f"apt-get {install} g++"], ""),
        ("an ordinary user without sudo is told the command", [], BUILD[1:], 1000, ("apt-get", "dpkg-query"), 1, "",
         [], f"  apt-get update && DEBIAN_FRONTEND=noninteractive apt-get {install} g++\n"),
        ("no known package tool", [], [], 0, (), 1, "", [], "install these by hand"),
        ("a word it does not know", ["--test"], BUILD, 0, None, 2, "", [], "usage: tools/install-deps"),
        ("--list names every package", ["--list", "--tests"], BUILD, 0, None, 0, " ".join(BUILD + TESTS) + "\n", [], ""),
    ]
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        for what, args, installed, uid, tools, status, stdout, calls, stderr in cases:
            got = run(folder, args, installed, uid, tools if tools is not None else ("apt-get", "dpkg-query", "sudo"))
            if got[:2] != (status, stdout) or got[3] != calls or stderr not in got[2]:
                failures.append(f"{what}: got status {got[0]}, stdout {got[1]!r}, stderr {got[2]!r}, calls {got[3]}")
    if failures:
        print("\n".join(failures))
        sys.exit(1)
    print(f"{len(cases)} install-step cases passed")


if __name__ == "__main__":
    main()
