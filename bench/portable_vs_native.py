#!/usr/bin/python3
"""Compares two builds of edgedom-bench, the portable one (any x86-64 CPU, hot loops chosen
at run time) and one built for this machine's CPU only (-march=native), stage by stage, and
writes the Markdown table of medians and their ratio portable / native.

The two programs run in turns, stage by stage and round after round, the order flipping
each time, so that both meet the machine's load alike. Each ratio is the median over the
rounds of the ratio within a round, where the two ran a few seconds apart. The ratio that
counts is that of CPU time: the stages measured run on one thread, and on a machine shared
with other work the wall clock also counts the time spent waiting for a core. A stage's
figure is the geometric mean of its inputs' ratios.

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

LIMIT = 1.2  # portable / native, each stage


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


def stages_of(program, implementation):
    """The stages that have benchmarks of implementation, in the order of the program's list."""
    done = subprocess.run([program, f"--benchmark_filter=/{implementation}/", "--benchmark_list_tests"],
                          capture_output=True, text=True, check=False)
    if done.returncode != 0:
        sys.exit(f"portable_vs_native: {program} failed ({done.returncode}):\n{done.stderr}")
    return list(dict.fromkeys(line.split("/")[0] for line in done.stdout.split()))


def interleaved_runs(programs, implementation, rounds):
    """[[results of program 0, results of program 1], ...], one pair per round."""
    results = []
    turn = 0
    stages = stages_of(programs[0], implementation)
    for round_number in range(rounds):
        runs = [{}, {}]
        for stage in stages:
            print(f"portable_vs_native: round {round_number + 1} of {rounds}, {stage}", file=sys.stderr)
            for index in ([0, 1] if turn % 2 == 0 else [1, 0]):
                runs[index].update(run_once(programs[index], f"^{stage}/{implementation}/"))
            turn += 1
        results.append(runs)
    return results


def median(results, index, name, clock):
    return statistics.median(runs[index][name][clock] for runs in results)


def paired_ratio(results, name, clock):
    return statistics.median(runs[0][name][clock] / runs[1][name][clock] for runs in results)


def table(results):
    """The Markdown table and {stage: [CPU ratio of each input]}."""
    lines = ["| Stage | Input | MP | portable, CPU (ms) | native, CPU (ms) | portable / native, CPU | "
             "portable / native, wall clock |",
             "| --- | --- | ---: | ---: | ---: | ---: | ---: |"]
    ratios = {}
    for name, first in results[0][0].items():
        stage, _, picture = name.split("/")[:3]
        ratio = paired_ratio(results, name, "cpu")
        ratios.setdefault(stage, []).append(ratio)
        lines.append(f"| {STAGES.get(stage, stage)} | `{picture}` | {megapixels(first['pixels'])} | "
                     f"{number(median(results, 0, name, 'cpu'))} | {number(median(results, 1, name, 'cpu'))} | "
                     f"{number(ratio)} | {number(paired_ratio(results, name, 'wall'))} |")
    return "\n".join(lines), ratios


def document(results, rounds, command):
    rows, ratios = table(results)
    date = datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds")
    stage_ratios = [(stage, statistics.geometric_mean(values), LIMIT) for stage, values in ratios.items()]
    largest = ", ".join(f"{stage} {number(max(values))}" for stage, values in ratios.items())
    return "\n".join([
        "# Portable build against native build",
        "",
        "Written by `./benchmark --portable-vs-native`; do not edit by hand, run it again.",
        "",
        f"Machine: {machine(date)}; load average before the first run: "
        f"{' '.join(f'{load:.2f}' for load in os.getloadavg())}.",
        "",
        f"Command: `{command}`",
        "",
        "The **portable** build (`build/`, the default, what the package ships) is compiled for any x86-64 CPU;",
        "its hot pixel loops (marked `EDGEDOM_VECTOR_CLONES`) are compiled twice, for plain x86-64 and for AVX2,",
        "and the copy for the CPU the program runs on is chosen when it starts. The **native** build",
        "(`build-native/`, `-DEDGEDOM_NATIVE=ON`) is compiled for this machine's CPU only (`-march=native`) and",
        "would die with an illegal instruction on an older one.",
        "",
        "## Stages",
        "",
        rows,
        "",
        "## Target",
        "",
        target_line(f"Portable build within {LIMIT} x of the native one on every stage (geometric mean of the CPU "
                    "time ratios of the stage's inputs)", stage_ratios),
        f"- Largest ratio of one input, per stage (CPU time): {largest}.",
        "",
        "## How it is measured",
        "",
        "- Each build's `edgedom-bench` runs the `ours` benchmarks of one stage, then the other build's, the order",
        f"  flipping each time; {rounds} rounds over all the stages. A time is the median over the rounds of Google",
        "  Benchmark's milliseconds per call; a ratio is the median over the rounds of the ratio within a round,",
        "  where the two builds ran a few seconds apart.",
        "- The target is judged on CPU time: the stages measured run on one thread, and on a machine shared with",
        "  other work the wall clock also counts the time spent waiting for a core. The wall clock's ratio is shown",
        "  beside it. The largest inputs are the most exposed to other work's use of the memory bus.",
        "- The inputs are those of `docs/performance.md`.",
        "",
    ])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("portable", help="edgedom-bench of the portable build")
    parser.add_argument("native", help="edgedom-bench of the build for this machine's CPU")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--implementation", default="ours", help="which benchmarks of each stage to compare")
    parser.add_argument("--command", default="./benchmark --portable-vs-native", help="the command that made the figures")
    arguments = parser.parse_args()
    results = interleaved_runs([arguments.portable, arguments.native], arguments.implementation, arguments.rounds)
    print(document(results, arguments.rounds, arguments.command), end="")


if __name__ == "__main__":
    main()
