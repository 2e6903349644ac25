#!/usr/bin/python3
"""Turns the json of a full edgedom-window-bench run into the markdown section of
docs/performance.md on the stack window's picture viewer: the median time of a frame at each
zoom, of a pan step and of a flick to another picture, and of the display copies built and
updated, with the targets. Standard library only.

    bench/viewer_table.py WINDOW_BENCH.json > viewer.md
"""
import argparse
import json

from performance_table import milliseconds, number, read_medians, target_line

ROWS = [
    ("ViewerFrame_fit", "Frame, fitted"),
    ("ViewerFrame_25", "Frame at 25 %"),
    ("ViewerFrame_50", "Frame at 50 %"),
    ("ViewerFrame_70", "Frame at 70 % (reduced from the full copy)"),
    ("ViewerFrame_100", "Frame at 100 %"),
    ("ViewerFrame_300", "Frame at 300 %"),
    ("ViewerFrame_1600", "Frame at 1600 %"),
    ("ViewerPanStep_70", "Pan step at 70 % (move and frame)"),
    ("ViewerFlick_fit", "Flick to another picture, fitted (frame)"),
    ("DisplayPictureFromBitmap", "Display copies built from the bitmap (worker thread)"),
    ("DisplayPictureUpdate_101x101", "Display copies updated, 101 x 101 rectangle"),
]
FRAME_MS = 16.0
UPDATE_MS = 1.6

HOW = """\
- `edgedom-window-bench` on Qt's offscreen platform; every figure is the median of 5 repetitions in wall-clock
  milliseconds. A frame is the whole 1280 x 800 viewer rendered into an image (`QWidget::render`, the path of
  its paint event); Qt may share a smoothed drawing among its own threads, which the wall clock counts.
- The zoom is set about the viewer's centre; "reads" names the copy a frame draws from (level 0 is the full
  picture, each next level half its width and height). A pan step moves the picture by 21 x 13 pixels, back
  and forth. A flick shows the other of two pictures of one size and draws it. ns/px divides a frame's time
  by the viewer's pixels, that of the display copies by the picture's.
- The update rewrites a 101 x 101 rectangle of the full copy and the matching pixels of every reduced copy,
  as live painting with a brush will."""


def level_text(entry):
    if "level" not in entry:
        return "—"
    return f"level {int(entry['level'])} ({entry['level_px'] / 1e6:.1f} MP)"


def section(results):
    medians = read_medians(results)
    lines = [
        "| What | Input | reads | median (ms) | ns/px |",
        "| --- | --- | --- | ---: | ---: |",
    ]
    frames, updates = [], []
    for (stage, _, name), entry in medians.items():
        label = dict(ROWS).get(stage)
        if label is None:
            continue
        ms = milliseconds(entry)
        if stage.startswith("Viewer"):
            frames.append((f"{stage.removeprefix('Viewer')} {name}", ms, FRAME_MS))
        elif stage.startswith("DisplayPictureUpdate"):
            updates.append((name, ms, UPDATE_MS))
    order = [stage for stage, _ in ROWS]
    for (stage, _, name), entry in sorted(medians.items(), key=lambda item: (item[0][2], order.index(item[0][0]))):
        lines.append(f"| {dict(ROWS)[stage]} | `{name}` | {level_text(entry)} | {number(milliseconds(entry))} | "
                     f"{number(entry.get('ns_per_px'))} |")
    load = " ".join(f"{value:.2f}" for value in results["context"].get("load_avg", [])) or "unknown"
    return "\n".join([
        f"Load average when edgedom-window-bench started: {load}.",
        "",
        *lines,
        "",
        target_line(f"Every frame and pan step at most {FRAME_MS:.0f} ms (ms)", frames),
        target_line(f"Update of a 101 x 101 rectangle at most {UPDATE_MS} ms, a tenth of a frame (ms)", updates),
        "",
        HOW,
        "",
    ])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("benchmarks", help="json written by edgedom-window-bench --benchmark_out")
    arguments = parser.parse_args()
    print(section(json.load(open(arguments.benchmarks))), end="")


if __name__ == "__main__":
    main()
