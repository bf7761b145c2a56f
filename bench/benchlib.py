"""Shared pieces of the benchmark scenarios: timing whole commands, peak memory, the table."""
import os
import resource
import statistics
import subprocess
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


GNU_TIME = "/usr/bin/time" if os.path.exists("/usr/bin/time") else None


def run_timed(argv, stdin_path=None, stdout_path=os.devnull, repeat=3, shell=False):
    """Runs a command several times; returns (median seconds, peak resident KiB of the runs).

    A child keeps its parent's peak resident size until it execs, and this Python process may
    be large, so the peak is taken by GNU time where it is installed (its own start-up is in
    the time, the same for every command measured)."""
    if GNU_TIME is None or shell:
        return _run_timed(argv, stdin_path, stdout_path, repeat, shell)
    import tempfile
    peaks = []
    times = []
    with tempfile.NamedTemporaryFile("r") as peak_file:
        for _ in range(repeat):
            seconds, _ = _run_timed([GNU_TIME, "-f", "%M", "-o", peak_file.name] + list(argv),
                                    stdin_path, stdout_path, 1, False)
            times.append(seconds)
            peak_file.seek(0)
            peaks.append(int(peak_file.read().split()[-1]))
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
