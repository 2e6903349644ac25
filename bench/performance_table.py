#!/usr/bin/python3
"""Turns the json of a full edgedom-bench run (and bench/peak-memory's key=value lines)
into docs/performance.md: the medians of ours, OpenCV and the memcpy limit side by side,
their ratios, ns per pixel, and whether each target is met. Standard library only.
Markdown written by the other benchmark scripts (fusion, alignment) follows, one section each.

    bench/performance_table.py BENCH.json [PEAK_MEMORY.txt] --command ./benchmark \
        [--section "TITLE=FILE.md" ...] > docs/performance.md
"""
import argparse
import json
import math
import subprocess

STAGES = {
    "EdgeStrength": "Edge strength map (grey bytes)",
    "EdgeStrengthFromColour": "Edge strength map (colour: conversion and map)",
    "Dominance": "Dominance map",
    "RegionMap": "Region map (Process)",
    "PictureLoad": "Picture loading",
    "FocusStackAdd": "Focus stack: Add of a later shot",
    "FocusStackFirstShot": "Focus stack: Add of the first shot (state allocated)",
    "FocusStackResult": "Focus stack: Result (seam feathering)",
    "DominanceFold": "Dominance of N maps, folded (N = 3)",
    "BrushStroke": "Brush stroke: one segment painted (radius 50, 40 px long)",
}


def read_medians(results):
    """{(stage, implementation, input): benchmark entry of the median} of a json run."""
    medians = {}
    for entry in results["benchmarks"]:
        if entry.get("aggregate_name") != "median":
            continue
        stage, implementation, name = entry["run_name"].split("/")[:3]
        medians[(stage, implementation, name)] = entry
    return medians


def milliseconds(entry):
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[entry["time_unit"]]
    return entry["real_time"] * scale


# Stages with a section of their own: PNG files, ours beside other writers and readers.
PNG_STAGES = ("PngWrite", "PngRead")


class Run:
    def __init__(self, medians):
        self.medians = medians
        self.rows = []  # (stage, input) in the order of the run, but for the PNG stages
        for stage, _, name in medians:
            if (stage, name) not in self.rows and stage not in PNG_STAGES:
                self.rows.append((stage, name))

    def ms(self, stage, implementation, name):
        entry = self.medians.get((stage, implementation, name))
        return milliseconds(entry) if entry else None

    def ratio(self, stage, name, other):
        ours, theirs = self.ms(stage, "ours", name), self.ms(stage, other, name)
        return ours / theirs if ours and theirs else None

    def ns_per_px(self, stage, name):
        entry = self.medians.get((stage, "ours", name))
        return entry["ns_per_px"] if entry else None

    def megapixels(self, stage, name):
        entry = self.medians.get((stage, "ours", name))
        return entry["pixels"] / 1e6 if entry else None

    def inputs(self, stage, prefix=""):
        return [name for s, name in self.rows if s == stage and name.startswith(prefix)]


def number(value, digits=3):
    """A figure with about three significant digits, or a dash when there is none."""
    if value is None:
        return "—"
    if value >= 100:
        return f"{value:.0f}"
    return f"{value:.{max(0, digits - 1 - math.floor(math.log10(max(value, 1e-9))))}f}"


def megapixels(value):
    return f"{value:.1f}" if value >= 1 else f"{value:.2f}"


def stage_table(run):
    lines = [
        "| Stage | Input | MP | ours (ms) | OpenCV (ms) | memcpy limit (ms) | ours / OpenCV | ours / memcpy | ns/px (ours) |",
        "| --- | --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: |",
    ]
    for stage, name in run.rows:
        cells = [
            STAGES.get(stage, stage), f"`{name}`", megapixels(run.megapixels(stage, name)),
            number(run.ms(stage, "ours", name)), number(run.ms(stage, "opencv", name)),
            number(run.ms(stage, "memcpy", name)), number(run.ratio(stage, name, "opencv")),
            number(run.ratio(stage, name, "memcpy")), number(run.ns_per_px(stage, name)),
        ]
        lines.append("| " + " | ".join(cells) + " |")
    return "\n".join(lines)


def png_inputs(run, stage):
    """The inputs of a PNG stage in the order of the run."""
    names = []
    for s, _, name in run.medians:
        if s == stage and name not in names:
            names.append(name)
    return names


def png_file_mb(run, implementation, name):
    entry = run.medians.get(("PngWrite", implementation, name))
    return entry["file_bytes"] / 1e6 if entry else None


PNG_WRITERS = [("ours", "ours (ISA-L)"), ("qt", "Qt (libpng, zlib 6)"), ("libspng_level1", "libspng 1"),
               ("zlib_level1", "zlib 1"), ("libdeflate_level1", "libdeflate 1")]


def png_write_table(run):
    """Each input: the time and file size of every writer, and ours over Qt's."""
    lines = ["| Input | MP | " + " | ".join(f"{title} ms" for _, title in PNG_WRITERS) + " | "
             + " | ".join(f"{title} MB" for _, title in PNG_WRITERS) + " | ours / Qt time | ours / Qt size |",
             "| --- | ---: |" + " ---: |" * (2 * len(PNG_WRITERS) + 2)]
    for name in png_inputs(run, "PngWrite"):
        ms = [run.ms("PngWrite", implementation, name) for implementation, _ in PNG_WRITERS]
        mb = [png_file_mb(run, implementation, name) for implementation, _ in PNG_WRITERS]
        time_ratio = ms[0] / ms[1] if ms[0] and ms[1] else None
        size_ratio = mb[0] / mb[1] if mb[0] and mb[1] else None
        cells = [f"`{name}`", megapixels(run.medians[("PngWrite", "ours", name)]["pixels"] / 1e6)]
        cells += [number(value) for value in ms + mb] + [number(time_ratio), number(size_ratio)]
        lines.append("| " + " | ".join(cells) + " |")
    return "\n".join(lines)


def png_variant_table(run):
    """Ours with each row filter and igzip level, on each 12.6 MP input: milliseconds / MB."""
    names = [name for name in png_inputs(run, "PngWrite") if name.endswith("pcb_2x2") or "noise" in name]
    variants = ["ours"] + sorted({implementation for stage, implementation, name in run.medians
                                  if stage == "PngWrite" and implementation.startswith("ours_")})
    lines = ["| Encoding | " + " | ".join(f"`{name}` ms / MB" for name in names) + " |",
             "| --- |" + " ---: |" * len(names)]
    for variant in variants:
        cells = [f"`{variant}`"]
        for name in names:
            ms, mb = run.ms("PngWrite", variant, name), png_file_mb(run, variant, name)
            cells.append(f"{number(ms)} / {number(mb)}" if ms else "—")
        lines.append("| " + " | ".join(cells) + " |")
    return "\n".join(lines)


def png_read_table(run):
    lines = ["| Input | MP | ours: TPicture (Qt's reader into its memory) ms | Qt's reader alone ms | libspng ms "
             "| libspng / ours |", "| --- | ---: | ---: | ---: | ---: | ---: |"]
    for name in png_inputs(run, "PngRead"):
        ours, qt, spng = (run.ms("PngRead", implementation, name) for implementation in ("ours", "qt", "libspng"))
        entry = run.medians.get(("PngRead", "ours", name))
        cells = [f"`{name}`", megapixels(entry["pixels"] / 1e6) if entry else "—", number(ours), number(qt),
                 number(spng), number(spng / ours if spng and ours else None)]
        lines.append("| " + " | ".join(cells) + " |")
    return "\n".join(lines)


def png_targets(run):
    def per_byte(name, bytes_per_pixel):
        entry = run.medians.get(("PngWrite", "ours", name))
        return milliseconds(entry) / (entry["pixels"] * bytes_per_pixel) if entry else None

    fused = run.ms("PngWrite", "ours", "fused_pcb_2x2")
    eight, sixteen = per_byte("fused_pcb_2x2", 3), per_byte("fused16_pcb_2x2", 6)
    size = png_file_mb(run, "ours", "fused_pcb_2x2"), png_file_mb(run, "qt", "fused_pcb_2x2")
    return "\n".join([
        target_line("The 12.6 MP fused picture as PNG in at most 300 ms on one core", [("ms", fused, 300.0)]),
        target_line("Its file at most 1.25 x the size of Qt's of the same pixels (ours / Qt)",
                    [("size", size[0] / size[1] if all(size) else None, 1.25)]),
        target_line("16-bit PNG at the same speed per byte as 8-bit, within 10 % (ms per byte, 16-bit / 8-bit)",
                    [("fused16 / fused", sixteen / eight if sixteen and eight else None, 1.1)]),
    ])


def png_section(run):
    if not png_inputs(run, "PngWrite"):
        return "Not measured in this run."
    return "\n".join([
        "Writing in memory, one core; the files ours writes decode to the input's pixels with Qt (checked by the "
        "benchmark after the clock). Inputs: the outputs of the pcb triple as it is (`_pcb_1x1`, 3.1 MP) and "
        "tiled 2 x 2 (`_pcb_2x2`, 12.6 MP): the fused picture, the same in 16 bits a channel (v x 257, and "
        "`fused16noise` with the low byte random, as from a sensor of more than 8 bits), the first edge map, the "
        "dominance map and the region map.",
        "",
        png_write_table(run),
        "",
        "Ours with each row filter (`ours_none` ... `ours_average`; `ours_adaptive` picks per row the filter of "
        "the least sum of absolute values, as libpng does) and at igzip's other levels (ours: Paeth, level 1):",
        "",
        png_variant_table(run),
        "",
        "Reading PNG (`TPicture::LoadFromFile` keeping 16 bits), beside Qt's reader alone (into an image it "
        "allocates) and libspng decoding the whole picture and making the bitmap:",
        "",
        png_read_table(run),
        "",
        png_targets(run),
    ])


def target_line(title, checks):
    """One line: met when every (label, value, limit) of checks has value <= limit."""
    if not checks or any(value is None for _, value, _ in checks):
        status = "not measured"
    else:
        status = "met" if all(value <= limit for _, value, limit in checks) else "not met"
    figures = ", ".join(f"{label} {number(value)}" for label, value, _ in checks)
    return f"- {title}: **{status}**" + (f" ({figures})" if figures else "")


def nearest_real_map(run, name):
    """The pcb input of the region map whose pixel count is nearest (by ratio) to name's."""
    pixels = run.megapixels("RegionMap", name)
    return min(run.inputs("RegionMap", "pcb_"),
               key=lambda real: abs(math.log(run.megapixels("RegionMap", real) / pixels)))


def targets(run, peak):
    def ratios(stage, other, limit, *prefixes):
        return [(name, run.ratio(stage, name, other), limit)
                for prefix in prefixes for name in run.inputs(stage, prefix)]

    scaling = [(stage, run.ns_per_px(stage, "pcb_4x4") / run.ns_per_px(stage, "pcb_1x1"), 1.3)
               for stage in ("EdgeStrength", "EdgeStrengthFromColour", "Dominance", "RegionMap")
               if run.ns_per_px(stage, "pcb_4x4") and run.ns_per_px(stage, "pcb_1x1")]
    worst_cases = []
    for name in run.inputs("RegionMap", "spiral_") + run.inputs("RegionMap", "random_"):
        real = nearest_real_map(run, name)
        worst_cases.append((f"{name} / {real}",
                            run.ns_per_px("RegionMap", name) / run.ns_per_px("RegionMap", real), 2.0))
    lines = [
        target_line("Edge strength map at most 0.5 x OpenCV (ours / OpenCV)", ratios("EdgeStrength", "opencv", 0.5, "")),
        target_line("Edge strength map at most 2 x the memcpy of its bytes (ours / memcpy)",
                    ratios("EdgeStrength", "memcpy", 2.0, "")),
        target_line("Dominance map at most 3 x the memcpy of its bytes (ours / memcpy)",
                    ratios("Dominance", "memcpy", 3.0, "")),
        target_line("Process at most 0.5 x OpenCV on the real dominance maps and the random maps (ours / OpenCV)",
                    ratios("RegionMap", "opencv", 0.5, "pcb_", "random_")),
        target_line("Process at most 1.0 x OpenCV on the binary images (ours / OpenCV)",
                    ratios("RegionMap", "opencv", 1.0, "binary_")),
        target_line("ns per pixel at 50 MP within 1.3 x of 3 MP, every stage (pcb_4x4 / pcb_1x1)", scaling),
        target_line("Spiral and random maps within 2 x the real map per pixel (ns/px over the pcb map of the nearest size)",
                    worst_cases),
    ]
    lines.append(target_line("One brush stroke segment (radius 50, 40 px) on 12.6 MP with sources at most 16 ms",
                             [(name, run.ms("BrushStroke", "ours", name), 16.0)
                              for name in run.inputs("BrushStroke")]))
    bytes_per_pixel = float(peak["bytes_per_pixel"]) if "bytes_per_pixel" in peak else None
    lines.append(target_line("Peak memory of edgedom-cli on the 50 MP triple at most 24 bytes per pixel",
                             [("bytes/px", bytes_per_pixel, 24.0)]))
    wall_ratio = None
    if "wall_all_cores_s" in peak and float(peak.get("wall_one_core_s", 0)) > 0:
        wall_ratio = float(peak["wall_all_cores_s"]) / float(peak["wall_one_core_s"])
    lines.append(target_line(f"Wall time of edgedom-cli on the 50 MP triple on {peak.get('cores', 'all')} cores "
                             "at most 0.6 x on one core", [("all cores / one core", wall_ratio, 0.6)]))
    return "\n".join(lines)


def read_peak_memory(path):
    """The key=value lines of bench/peak-memory; empty when there is no file."""
    if not path:
        return {}
    facts = {}
    for line in open(path):
        key, _, value = line.strip().partition("=")
        if value:
            facts[key] = value
    return facts


def peak_memory_section(peak):
    if not peak:
        return "Not measured in this run (bench/peak-memory did not run)."
    return "\n".join([
        f"`{peak['command']}` on the pcb triple tiled 4 x 4 ({peak['picture']}), {peak['runs']} runs:",
        "",
        "| Figure | Value |",
        "| --- | ---: |",
        f"| Peak memory (largest maximum resident set size) | {int(peak['max_rss_kb']) / 1024:.0f} MiB |",
        f"| Bytes per pixel of one picture | {peak['bytes_per_pixel']} |",
        f"| Wall time on all {peak['cores']} cores (median) | {peak['wall_all_cores_s']} s |",
        f"| Wall time pinned to one core with taskset (median) | {peak['wall_one_core_s']} s |",
    ])


def machine(date):
    """nproc, the CPU model and the memory of this machine, and the date of the run, as one line."""
    def output(command):
        return subprocess.run(command, capture_output=True, text=True, check=False).stdout

    model = next((line.split(":", 1)[1].strip() for line in output(["lscpu"]).splitlines()
                  if line.startswith("Model name")), "unknown CPU")
    kilobytes = next(int(line.split()[1]) for line in open("/proc/meminfo") if line.startswith("MemTotal"))
    return f"{output(['nproc']).strip()} cores (nproc), {model}, {kilobytes / 2**20:.1f} GiB memory, run on {date}"


HOW_IT_IS_MEASURED = """\
- The build is the portable one, as packaged: compiled for any x86-64 CPU, its pixel loops' AVX2 copies chosen
  when the program starts; `docs/portable-vs-native.md` compares it with a build for this machine's CPU only.
- Every figure is the median of 5 repetitions of Google Benchmark (`--benchmark_repetitions=5`), in wall-clock
  milliseconds per call, all taken in the same run of `edgedom-bench`; ratios divide medians of that run.
  ns/px is our median time over the input's pixels.
- **OpenCV** (`libopencv-dev`, single-threaded with `cv::setNumThreads(1)`) does the same work with its own
  functions: the edge map with `cv::absdiff` and saturating `cv::add` over shifted views; the dominance map with
  `cv::compare` masks and a loop that carries the previous class over ties; Process with
  `cv::connectedComponentsWithStats` (8-connectivity, `CV_32S`) on each class's mask and a table over the labels
  for the 1/40 rule. Before the benchmarks run, each peer is checked to give our bytes on the pcb triple (and
  Process also on the random map); the run stops if one does not. OpenCV writes into outputs it keeps between
  calls (an untimed first call allocates them); our functions allocate theirs on every call, as the command does.
- **memcpy limit**: one `memcpy` of (bytes read + bytes written) / 2, which moves as many bytes over the memory
  bus as the stage must read and write at the least: the edge map alone reads and writes 1 byte per pixel (memcpy
  of 1 byte per pixel); from colour it reads 3 and writes 1 (2 per pixel); the dominance map reads 3 edge maps and
  writes 3 bytes (3 per pixel); Process reads the 3-byte dominance map and writes the 3-byte region map (3 per
  pixel). Small inputs fit the caches, so their limit is the caches' speed. The edge map rewrites its bitmap in
  place, which moves the same bytes as the memcpy, so it can come as close as 1.0 x to the limit.
- **Inputs**: pcb_1x1 is `triples/pcb_fullsize` of the test data (2048 x 1536, 3.1 MP), pcb_2x2 and pcb_4x4 the
  same tiled in memory (12.6 MP and 50 MP); the edge and dominance maps are computed from them with our own
  functions. `binary_*` are the pictures of `binary/` read as class maps (bright pixels class 1, dark class 2).
  `random_*` draws a class from 1 to 3 per pixel with a fixed seed (the most regions), `spiral_6000x4000` is one
  class-1 path one pixel wide spiralling inward with one-pixel gaps (24 MP, the longest region), `uniform_*` is
  class 1 everywhere (the largest region).
- The edge map is computed in place, so each iteration copies its input first with the clock stopped
  (`PauseTiming`). Process leaves the dominance map in pf24bit, so every iteration starts alike; its messages go
  to a callback that does nothing.
- Picture loading decodes pcb 1.png and a JPEG of it (quality 90) with `TPicture::LoadFromFile`.
- Peak memory and wall time come from `bench/peak-memory`: `/usr/bin/time -v` around edgedom-cli writing the
  dominance and region maps as PNG. The tiled pictures repeat one picture 16 times, so they compress and decode
  somewhat faster than a real 50 MP photograph would.
- Debian's libbenchmark reports itself built as DEBUG; that affects only its own bookkeeping between calls,
  not the code measured.
"""


def document(run, context, peak, command):
    load_average = " ".join(f"{load:.2f}" for load in context.get("load_avg", [])) or "unknown"
    return "\n".join([
        "# Performance",
        "",
        "Written by `./benchmark`; do not edit by hand, run it again.",
        "",
        f"Machine: {machine(context.get('date', 'an unknown date'))}; load average when edgedom-bench started: "
        f"{load_average}.",
        "",
        f"Command: `{command}`",
        "",
        "## Stages",
        "",
        stage_table(run),
        "",
        "## Targets",
        "",
        targets(run, peak),
        "",
        "## PNG files: writing and reading",
        "",
        png_section(run),
        "",
        "## edgedom-cli on 50 MP pictures",
        "",
        peak_memory_section(peak),
        "",
        "## How it is measured",
        "",
        HOW_IT_IS_MEASURED,
    ])


def appended_sections(sections):
    """Each "TITLE=FILE" as a section of its own: the title, then the file's markdown as it is, but for a title of
    its own on the first line."""
    parts = []
    for section in sections:
        title, _, path = section.partition("=")
        with open(path) as f:
            text = f.read()
        if text.startswith("# "):
            text = text.partition("\n")[2]
        parts.append(f"\n## {title}\n\n{text.strip()}\n")
    return "".join(parts)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("benchmarks", help="json written by edgedom-bench --benchmark_out")
    parser.add_argument("peak_memory", nargs="?", help="key=value lines written by bench/peak-memory")
    parser.add_argument("--command", default="./benchmark", help="the command that made the figures")
    parser.add_argument("--section", action="append", default=[], metavar="TITLE=FILE",
                        help="a markdown file written by another benchmark script, appended as a section")
    arguments = parser.parse_args()
    results = json.load(open(arguments.benchmarks))
    run = Run(read_medians(results))
    print(document(run, results["context"], read_peak_memory(arguments.peak_memory), arguments.command), end="")
    print(appended_sections(arguments.section), end="")


if __name__ == "__main__":
    main()
