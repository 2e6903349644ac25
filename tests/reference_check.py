#!/usr/bin/python3
"""Checks edgedom-cli against a second, independent computation of its rules, written
with numpy and scipy: the edge strength maps, the dominance map, the region map and the
three "We get max =N" messages must agree byte for byte on the real test triples and on
the samples. Exits 77 (skipped) when there are no pictures to check.

Usage: reference_check.py --cli EDGEDOM_CLI [--testdata DIR] [--samples DIR]
"""
import argparse
import pathlib
import subprocess
import sys
import tempfile
import time

import numpy as np
from PIL import Image
from scipy import ndimage

SKIPPED = 77


def grey_of(path):
    """The picture's grey bytes: 8-bit greyscale kept, colour by rounded BT.601 luma."""
    image = Image.open(path)
    if image.mode == "L":
        return np.asarray(image, dtype=np.uint8)
    rgb = np.asarray(image.convert("RGB"), dtype=np.int64)
    grey = (299 * rgb[..., 0] + 587 * rgb[..., 1] + 114 * rgb[..., 2] + 500) // 1000
    return grey.astype(np.uint8)


def edge_strength(grey):
    """min(255, |p - right| + |p - below|); a missing neighbour differs by 0."""
    p = grey.astype(np.int16)
    right = np.zeros_like(p)
    below = np.zeros_like(p)
    right[:, :-1] = np.abs(p[:, :-1] - p[:, 1:])
    below[:-1, :] = np.abs(p[:-1, :] - p[1:, :])
    return np.minimum(right + below, 255).astype(np.uint8)


def dominance(e1, e2, e3):
    """Strictly largest map's class, ties repeating the previous pixel in raster order."""
    h, w = e1.shape
    a, b, c = (e.astype(np.int16)[:h, :w] for e in (e1, e2, e3))
    strict = np.zeros((h, w), dtype=np.uint8)
    strict[(a > b) & (a > c)] = 1
    strict[(b > a) & (b > c)] = 2
    strict[(c > a) & (c > b)] = 3
    flat = strict.ravel()
    # Index of the last strict pixel at or before each pixel; leading ties point at pixel 0,
    # which is itself a tie (class 0) or the strict pixel they follow.
    last = np.maximum.accumulate(np.where(flat > 0, np.arange(flat.size), 0))
    return flat[last].reshape(h, w)


def region_map(classes):
    """Large 8-connected regions of each class painted 50 x class; the running counts."""
    regions = np.zeros(classes.shape, dtype=np.uint8)
    counts, total = [], 0
    for k in (1, 2, 3):
        labels, _ = ndimage.label(classes == k, structure=np.ones((3, 3), dtype=int))
        sizes = np.bincount(labels.ravel())
        sizes[0] = 0
        total += int(sizes.sum())
        counts.append(total)
        threshold = max(int(sizes.max()) // 40, 1)
        kept = sizes >= threshold
        kept[0] = False
        regions[kept[labels]] = 50 * k
    return regions, counts


def read_map(path, mode):
    """The map's bytes; a 24-bit map must be RGB with its three channels equal."""
    image = Image.open(path)
    if image.mode != mode:
        raise AssertionError(f"{path}: expected a {mode} picture, found {image.mode}")
    pixels = np.asarray(image)
    if mode == "RGB":
        if not (np.array_equal(pixels[..., 0], pixels[..., 1]) and np.array_equal(pixels[..., 0], pixels[..., 2])):
            raise AssertionError(f"{path}: the red, green and blue channels differ")
        pixels = pixels[..., 0]
    return pixels


def compare(what, expected, actual):
    if expected.shape != actual.shape:
        raise AssertionError(f"{what}: size {actual.shape[1]} x {actual.shape[0]}, "
                             f"expected {expected.shape[1]} x {expected.shape[0]}")
    wrong = np.argwhere(expected != actual)
    if wrong.size:
        y, x = wrong[0]
        raise AssertionError(f"{what}: {len(wrong)} pixels differ, the first at x={x} y={y}: "
                             f"edgedom-cli {actual[y, x]}, reference {expected[y, x]}")


def check_triple(cli, pictures, scratch):
    """Runs edgedom-cli on three pictures and compares every output with the reference."""
    run = subprocess.run([str(cli), "--edge-maps", str(scratch), "--dominance", str(scratch / "dominance.png"),
                          "--regions", str(scratch / "regions.png")] + [str(p) for p in pictures],
                         capture_output=True, text=True)
    if run.returncode != 0:
        raise AssertionError(f"edgedom-cli exited with {run.returncode}: {run.stderr.strip()}")

    edges = [edge_strength(grey_of(p)) for p in pictures]
    classes = dominance(*edges)
    regions, counts = region_map(classes)
    for i, expected in enumerate(edges, start=1):
        compare(f"edge strength map {i}", expected, read_map(scratch / f"edge{i}.png", "L"))
    compare("dominance map", classes, read_map(scratch / "dominance.png", "RGB"))
    compare("region map", regions, read_map(scratch / "regions.png", "RGB"))
    expected_messages = [f"We get max ={n}" for n in counts]
    if run.stdout.splitlines() != expected_messages:
        raise AssertionError(f"messages {run.stdout.splitlines()}, expected {expected_messages}")

    # The region step alone, on the dominance map saved as 8-bit greyscale.
    Image.fromarray(classes, "L").save(scratch / "dominance-grey.png")
    again = subprocess.run([str(cli), "--from-dominance", str(scratch / "dominance-grey.png"),
                            "--regions", str(scratch / "regions-again.png")], capture_output=True, text=True)
    if again.returncode != 0:
        raise AssertionError(f"edgedom-cli --from-dominance exited with {again.returncode}: {again.stderr.strip()}")
    compare("region map from a greyscale dominance map", regions, read_map(scratch / "regions-again.png", "RGB"))
    if again.stdout.splitlines() != expected_messages:
        raise AssertionError(f"--from-dominance messages {again.stdout.splitlines()}, expected {expected_messages}")


def triples(testdata, samples):
    found = []
    if testdata and (testdata / "triples").is_dir():
        for folder in sorted((testdata / "triples").iterdir()):
            pictures = [folder / f"{i}.png" for i in (1, 2, 3)]
            if all(p.is_file() for p in pictures):
                found.append((folder.name, pictures))
    else:
        print(f"real pictures skipped: no folder {testdata}/triples")
    if samples:
        pictures = [samples / f"picture{i}.png" for i in (1, 2, 3)]
        if all(p.is_file() for p in pictures):
            found.append(("samples", pictures))
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", type=pathlib.Path, required=True)
    parser.add_argument("--testdata", type=pathlib.Path)
    parser.add_argument("--samples", type=pathlib.Path)
    args = parser.parse_args()

    cases = triples(args.testdata, args.samples)
    if not cases:
        print("skipped: no pictures to check")
        return SKIPPED
    failures = 0
    with tempfile.TemporaryDirectory(prefix="edgedom-reference-") as scratch_root:
        for name, pictures in cases:
            scratch = pathlib.Path(scratch_root) / name
            start = time.monotonic()
            try:
                check_triple(args.cli, pictures, scratch)
                print(f"ok   {name} ({time.monotonic() - start:.1f} s)")
            except AssertionError as failure:
                failures += 1
                print(f"FAIL {name}: {failure}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
