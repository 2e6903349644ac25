"""What the fusion benchmarks run and how they score it: edgedom-cli, enfuse and align_image_stack run as separate
programs, as a user runs them, and timed; pictures read back as 8-bit RGB; PSNR against the truth; the baselines
that need no program (the best single shot, the plain dominance pick from edgedom-cli's dominance map, the smoothed
pick); markdown tables.
"""
import argparse
import glob
import json
import math
import os
import shutil
import subprocess
import sys
import time

import cv2
import numpy as np

# enfuse set to keep, at each pixel, the shot of the highest local contrast, as a focus stacker: no exposure or
# saturation weighting, and each pixel taken from one shot (--hard-mask) rather than averaged over the stack.
ENFUSE = ['enfuse', '--exposure-weight=0', '--saturation-weight=0', '--contrast-weight=1', '--hard-mask']


ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TESTDATA = os.path.join(ROOT, '..', 'shared', 'testdata')


def speed_arguments(description, out_folder):
    """The options every speed benchmark takes: the build measured, where its table goes (build/bench/OUT_FOLDER by
    default), the real test pictures and how many runs of each command."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument('--build', default=os.path.join(ROOT, 'build'))
    parser.add_argument('--out', default=os.path.join(ROOT, 'build', 'bench', out_folder))
    parser.add_argument('--testdata', default=os.environ.get('EDGEDOM_TESTDATA', TESTDATA))
    parser.add_argument('--repeats', type=int, default=3)
    return parser


def have(program):
    return shutil.which(program) is not None


def load_average():
    """The 1, 5 and 15 minute load averages, as /proc/loadavg gives them."""
    with open('/proc/loadavg') as f:
        return ' '.join(f.read().split()[:3])


class RunFailed(Exception):
    """A program that ended with a failure: its command line, exit status and the end of its output."""


def run(command):
    """Runs command; returns its wall seconds, or raises RunFailed."""
    start = time.perf_counter()
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    seconds = time.perf_counter() - start
    if done.returncode != 0:
        raise RunFailed('%s failed (exit status %d): %s' % (' '.join(command[:4]), done.returncode,
                                                             done.stdout.strip()[-600:]))
    return seconds


def read_rgb(path):
    """An 8-bit picture file as RGB (grey repeated, alpha dropped); anything but 8 bits a channel is refused, since
    the scores compare 8-bit values."""
    image = cv2.imread(path, cv2.IMREAD_UNCHANGED)
    if image is None:
        raise SystemExit('Cannot read %s' % path)
    if image.dtype != np.uint8:
        raise SystemExit('%s holds %s values, not 8-bit ones' % (path, image.dtype))
    if image.ndim == 2:
        image = np.stack([image] * 3, -1)
    return np.ascontiguousarray(image[..., 2::-1])


def psnr(picture, truth, margin=0.0):
    """PSNR in dB of an 8-bit RGB picture against the truth, over all three channels; margin is the fraction of
    each side left out."""
    height, width = truth.shape[:2]
    dy, dx = round(height * margin), round(width * margin)
    a = picture[dy:height - dy, dx:width - dx].astype(np.float64)
    b = truth[dy:height - dy, dx:width - dx].astype(np.float64)
    mse = np.mean((a - b) ** 2)
    return 99.0 if mse == 0 else 10 * math.log10(255.0 ** 2 / mse)


def noise_floor(sigma):
    """The PSNR of a perfect pick of shots with Gaussian noise sigma rounded to 8 bits (variance sigma^2 + 1/12):
    the ceiling of a method that copies each pixel from one shot."""
    return 10 * math.log10(255.0 ** 2 / (sigma ** 2 + 1 / 12))


def ours(cli, files, out, align=False):
    """edgedom-cli --fused out; returns its wall seconds."""
    return run([cli, '--quiet', '--fused', out] + (['--align'] if align else []) + files)


def enfuse(files, out):
    return run(ENFUSE + ['-o', out] + files)


def align_then_enfuse(files, workdir, out):
    """align_image_stack -m -a, then enfuse on the aligned TIFFs it wrote; returns the two wall seconds, and None
    for enfuse when align_image_stack wrote no picture."""
    prefix = os.path.join(workdir, 'aligned_')
    for old in glob.glob(prefix + '*.tif'):
        os.remove(old)
    aligning = run(['align_image_stack', '-m', '-a', prefix] + files)
    aligned = sorted(glob.glob(prefix + '*.tif'))
    return aligning, enfuse(aligned, out) if aligned else None


def plain_pick(cli, shots, files, out):
    """Each pixel from the shot edgedom-cli's dominance map names (class k: shot k; 0, a tie before any shot was
    strictly strongest: the first)."""
    run([cli, '--dominance', out] + files)
    classes = cv2.imread(out, cv2.IMREAD_UNCHANGED)
    classes = classes[..., 0] if classes.ndim == 3 else classes
    choice = np.maximum(classes.astype(np.int64) - 1, 0)
    return np.take_along_axis(np.stack(shots), choice[None, ..., None], 0)[0]


def edge_strength(rgb):
    """The project's edge strength on the grey (299 R + 587 G + 114 B + 500) / 1000: min(255, |g - right| +
    |g - below|), a neighbour outside the picture counting as equal."""
    r, g, b = (rgb[..., c].astype(np.int32) for c in range(3))
    grey = (299 * r + 587 * g + 114 * b + 500) // 1000
    edges = np.zeros_like(grey)
    edges[:, :-1] += np.abs(grey[:, :-1] - grey[:, 1:])
    edges[:-1, :] += np.abs(grey[:-1, :] - grey[1:, :])
    return np.minimum(edges, 255).astype(np.float32)


def smoothed_pick(shots, radius=8):
    """Each pixel from the shot whose edge strength has the largest mean over the (2 radius + 1)^2 window around
    it, the first on ties: the simple smoothed baseline."""
    means = np.stack([cv2.blur(edge_strength(s), (2 * radius + 1, 2 * radius + 1)) for s in shots])
    return np.take_along_axis(np.stack(shots), means.argmax(0)[None, ..., None], 0)[0]


def median(values):
    return float(np.median(values)) if values else math.nan


def table(header, rows):
    """A markdown table: header cells, then rows of cells; columns of figures right-aligned."""
    def figure(cell):
        try:
            float(cell.strip('*+ ').replace('−', '-'))
            return True
        except ValueError:
            return cell in ('—', 'failed')
    aligns = ['---:' if rows and all(figure(row[i]) for row in rows) else '---' for i in range(len(header))]
    return (['| ' + ' | '.join(header) + ' |', '|' + '|'.join(aligns) + '|']
            + ['| ' + ' | '.join(row) + ' |' for row in rows])


def publish(text, path, rows=None):
    """Writes a benchmark's markdown table to path and standard output, and its rows, if given, as JSON beside it."""
    with open(path, 'w') as f:
        f.write(text)
    if rows is not None:
        with open(os.path.splitext(path)[0] + '.json', 'w') as f:
            json.dump(rows, f, indent=1)
    sys.stdout.write(text)
