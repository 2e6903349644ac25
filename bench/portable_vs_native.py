#!/usr/bin/python3
"""Compares two builds of edgedom-bench, the portable one (any x86-64 CPU, hot loops chosen
at run time) and one built for this machine's CPU only (-march=native), stage by stage, and
writes the Markdown table of medians and their ratio portable / native.

The two programs run in turns, round after round (in alternating order), so that a change
in the machine's load hits both alike; each figure is the median over the rounds. The
ratio that counts is that of CPU time: the stages measured run on one thread, and on a
machine shared with other work the wall clock also counts the time spent waiting for a core.

    bench/portable_vs_native.py build/bench/edgedom-bench build-native/bench/edgedom-bench \\
        --rounds 5 --command "./benchmark --portable-vs-native" > docs/portable-vs-native.md
"""
import argparse
import datetime
import json
import os
import statistics
import subprocess
import sys

from performance_table import STAGES, machine, megapixels, number, target_line

LIMIT = 1.2  # portable / native, on every stage and input


def run_once(program, pattern):
    """{benchmark name: {"cpu": ms, "wall": ms, "pixels": MP}} of one run of program over pattern."""
    done = subprocess.run([program, f"--benchmark_filter={pattern}", "--benchmark_format=json"],
                          capture_output=True, text=True, check=False)
    if done.returncode != 0:
        sys.exit(f"portable_vs_native: {program} failed ({done.returncode}):\n{done.stderr}")
    results = {}
    for entry in json.loads(done.stdout)["benchmarks"]:
        scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[entry["time_unit"]]
        results[entry["run_name"]] = {"cpu": entry["cpu_time"] * scale, "wall": entry["real_time"] * scale,
                                      "pixels": entry["pixels"] / 1e6}
    return results


def interleaved_runs(programs, pattern, rounds):
    """[[run of program 0, run of program 1], ...] for each round; the order flips each round."""
    results = []
    for round_number in range(rounds):
        order = [0, 1] if round_number % 2 == 0 else [1, 0]
        runs = [None, None]
        for index in order:
            print(f"portable_vs_native: round {round_number + 1} of {rounds}, {programs[index]}", file=sys.stderr)
            runs[index] = run_once(programs[index], pattern)
        results.append(runs)
    return results


def median(results, index, name, clock):
    return statistics.median(runs[index][name][clock] for runs in results)


def table(results):
    """The Markdown table and, per stage, the largest ratio portable / native of CPU time."""
    lines = ["| Stage | Input | MP | portable, CPU (ms) | native, CPU (ms) | portable / native, CPU | "
             "portable / native, wall clock |",
             "| --- | --- | ---: | ---: | ---: | ---: | ---: |"]
    worst = {}
    for name, first in results[0][0].items():
        stage, _, picture = name.split("/")[:3]
        portable, native = median(results, 0, name, "cpu"), median(results, 1, name, "cpu")
        wall_ratio = median(results, 0, name, "wall") / median(results, 1, name, "wall")
        worst[stage] = max(worst.get(stage, 0.0), portable / native)
        lines.append(f"| {STAGES.get(stage, stage)} | `{picture}` | {megapixels(first['pixels'])} | {number(portable)} | "
                     f"{number(native)} | {number(portable / native)} | {number(wall_ratio)} |")
    return "\n".join(lines), worst


def document(results, rounds, command):
    rows, worst = table(results)
    date = datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds")
    checks = [(stage, ratio, LIMIT) for stage, ratio in worst.items()]
    return "\n".join([
        "# Portable build against native build",
        "",
        "Written by `./benchmark --portable-vs-native`; do not edit by hand, run it again.",
        "",
        f"Machine: {machine(date)}; load average before the first run: {' '.join(f'{load:.2f}' for load in os.getloadavg())}.",
        "",
        f"Command: `{command}`",
        "",
        "The **portable** build (`build/`, the default, what the package ships) is compiled for any x86-64 CPU;",
        "its hot pixel loops (marked `EDGEDOM_VECTOR_CLONES`) are compiled twice more, and the copy for the",
        "CPU the program runs on is chosen when it starts. The **native** build (`build-native/`,",
        "`-DEDGEDOM_NATIVE=ON`) is compiled for this machine's CPU only (`-march=native`) and would die with an",
        "illegal instruction on an older one.",
        "",
        "## Stages",
        "",
        rows,
        "",
        "## Target",
        "",
        target_line(f"Portable build within {LIMIT} x of the native one on every stage (largest portable / native "
                    "of CPU time over each stage's inputs)", checks),
        "",
        "## How it is measured",
        "",
        f"- Each build's `edgedom-bench` runs every `ours` benchmark once per round, {rounds} rounds, the two",
        "  programs in turn and in alternating order, so that a change in the machine's load hits both alike.",
        "  Every figure is the median over the rounds of Google Benchmark's milliseconds per call.",
        "- The target is judged on CPU time: the stages measured run on one thread, and on a machine shared with",
        "  other work the wall clock also counts the time spent waiting for a core. The wall clock's ratio is shown",
        "  beside it.",
        "- The inputs are those of `docs/performance.md`.",
        "",
    ])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("portable", help="edgedom-bench of the portable build")
    parser.add_argument("native", help="edgedom-bench of the build for this machine's CPU")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--filter", default="/ours/", help="benchmarks to compare (a --benchmark_filter pattern)")
    parser.add_argument("--command", default="./benchmark --portable-vs-native", help="the command that made the figures")
    arguments = parser.parse_args()
    results = interleaved_runs([arguments.portable, arguments.native], arguments.filter, arguments.rounds)
    print(document(results, arguments.rounds, arguments.command), end="")


if __name__ == "__main__":
    main()
