"""The Google Benchmark kernels (bench/*_bench.cpp), one table row each."""
import json
import subprocess


def figure(benchmark):
    if "bytes_per_second" in benchmark:
        return f"{benchmark['bytes_per_second'] / 1e6:.0f} MB/s"
    if "items_per_second" in benchmark:
        return f"{benchmark['items_per_second'] / 1e6:.1f} M items/s"
    return f"{benchmark['real_time']:.1f} {benchmark['time_unit']}"


def run(context):
    result = subprocess.run([context.kernels, "--benchmark_format=json"], check=True,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    for benchmark in json.loads(result.stdout)["benchmarks"]:
        notes = [f"{key} {value:.1f}" for key, value in benchmark.items()
                 if key not in ("bytes_per_second", "items_per_second", "real_time", "cpu_time")
                 and isinstance(value, float)]
        context.row(benchmark["name"], figure(benchmark), ", ".join(notes))
