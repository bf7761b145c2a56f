"""Script mode: a set literal of 1,000,000 elements against the same entries as a text list,
and a script of 100,000 short statements."""
import random

from benchlib import run_timed


def entry(rng, address):
    kind = rng.random()
    text = f"{address >> 24}.{address >> 16 & 255}.{address >> 8 & 255}.{address & 255}"
    if kind < 0.4:
        return text
    if kind < 0.7:
        return f"{text}/{rng.randint(20, 32)}"
    end = min(address + rng.randint(1, 5000), 0xFFFFFFFF)
    return f"{text}-{end >> 24}.{end >> 16 & 255}.{end >> 8 & 255}.{end & 255}"


def run(context):
    rng = random.Random(20261209)
    entries = [entry(rng, rng.randrange(1 << 32)) for _ in range(1_000_000)]
    text_path = context.path("script_entries.txt")
    with open(text_path, "w") as handle:
        handle.write("\n".join(entries) + "\n")
    script_path = context.path("set_literal.script")
    with open(script_path, "w") as handle:
        handle.write("save(cidr, stdout, {\n" + ",\n".join(entries) + "\n});\n")
    text_time, text_peak = run_timed([context.binary, "-q", "text", text_path])
    script_time, script_peak = run_timed([context.binary, "-f", script_path])
    context.row("script: set literal of 1M elements (-f)", f"{script_time:.3f} s", f"peak {script_peak // 1024} MiB")
    context.row("script: same entries as -q text", f"{text_time:.3f} s", f"peak {text_peak // 1024} MiB")
    context.row("script: set literal / text query", f"{script_time / text_time:.2f}x", "aim <= 1.5")

    statements_path = context.path("statements.script")
    with open(statements_path, "w") as handle:
        handle.write("$small = {192.168.0.0/16, 172.16.0.0-172.31.255.255};\n")
        for i in range(100_000):
            handle.write(f"$v{i % 50:02d} = union($small, {{10.{i >> 8 & 255}.{i & 255}.0/24}});\n")
        handle.write("save(cidr, stdout, $v00);\n")
    statements_time, _ = run_timed([context.binary, "-f", statements_path])
    context.row("script: 100,000 short statements", f"{100_000 / statements_time:,.0f} stmt/s",
                f"{statements_time:.3f} s")
