"""Shared pieces of the benchmark scenarios: timing whole commands, peak memory, the table."""
import os
import resource
import statistics
import subprocess
import tempfile
import time


class Context:
    def __init__(self, root, build):
        self.root = root
        self.build = build
        self.binary = os.path.join(build, "blockset")
        self.kernels = os.path.join(build, "blockset_bench")
        self.data = None
        self.rows = []

    def path(self, name):
        return os.path.join(self.data, name)

    def row(self, benchmark, figure, note=""):
        """One line of the final table: what was measured, the figure, a remark."""
        self.rows.append((benchmark, figure, note))
        print(f"{benchmark:<58} {figure:>22}  {note}", flush=True)

    def print_table(self):
        print()
        print(f"{'benchmark':<58} {'figure':>22}  note")
        print("-" * 100)
        for benchmark, figure, note in self.rows:
            print(f"{benchmark:<58} {figure:>22}  {note}")


# Built with the benchmarks: runs one command and writes its peak resident KiB, taken by wait4.
PEAK_MEMORY = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                           "build-bench", "peak_memory")


def run_timed(argv, stdin_path=None, stdout_path=os.devnull, repeat=3, shell=False):
    """Runs a command several times; returns (median seconds, peak resident KiB of the runs).

    A child keeps its parent's peak resident size until it execs, and this Python process may
    be large, so each run starts from the small peak_memory program, which reports the
    command's own peak (its start-up is in the time, the same for every command measured)."""
    if shell:
        argv = ["sh", "-c", argv]
    times = []
    peaks = []
    with tempfile.TemporaryDirectory(prefix="blockset-peak-") as folder:
        peak_path = os.path.join(folder, "peak")
        for _ in range(repeat):
            seconds, _ = _run_timed([PEAK_MEMORY, peak_path] + list(argv), stdin_path, stdout_path, 1, False)
            times.append(seconds)
            with open(peak_path) as handle:
                # peak_memory writes the peak KiB, then the seconds it measured.
                peaks.append(int(handle.read().split()[0]))
    return statistics.median(times), max(peaks)


def _run_timed(argv, stdin_path, stdout_path, repeat, shell):
    times = []
    peak = 0
    for _ in range(repeat):
        stdin = open(stdin_path, "rb") if stdin_path else subprocess.DEVNULL
        with open(stdout_path, "wb") as out:
            start = time.perf_counter()
            process = subprocess.Popen(argv, stdin=stdin, stdout=out, stderr=subprocess.DEVNULL, shell=shell)
            _, status, usage = os.wait4(process.pid, 0)
            times.append(time.perf_counter() - start)
        if stdin is not subprocess.DEVNULL:
            stdin.close()
        peak = max(peak, usage.ru_maxrss)
        if os.waitstatus_to_exitcode(status) != 0:
            raise RuntimeError(f"{argv} exited with {os.waitstatus_to_exitcode(status)}")
    return statistics.median(times), peak
