#!/usr/bin/python3
"""Accuracy and speed of edgedom's alignment beside align_image_stack, on focus stacks with known moves.

Makes (or reuses, under OUT/stacks) moved focus stacks of every scene of focus_stacks.py with 3 and 8 shots and two
large stacks of 3 and 12.6 megapixels (alignment_stacks.py); aligns each with edgedom-align-bench, which aligns as
the program does, and with align_image_stack; scores every moved shot; times both, runs interleaved, on the large
stacks and on the real stack pcb7 of the test data; writes a markdown table to OUT/alignment.md and standard output.

A shot's corner error: the distance between where the estimated and where the true transform put a corner of the
reference frame, the mean of the four corners ("error"), and the single worst corner. A shot refused (ours) or left
out of the project (align_image_stack) counts as an infinite error.

Usage: alignment_accuracy.py [--tool FILE] [--out DIR] [--repeats N] [--testdata DIR] [--smoke]
  --smoke  one small stack, no timing, in a few seconds: fails when ours refuses a shot or errs by 0.3 px or more.
"""
import argparse
import json
import math
import os
import sys
import tempfile
import time

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import align_image_stack_peer as peer  # noqa: E402
import alignment_stacks as stacks  # noqa: E402
import focus_stacks as fs  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SMOKE_LIMIT = 0.3  # pixels of corner error
START = time.strftime('%Y-%m-%d %H:%M')
START_LOAD = ' '.join(open('/proc/loadavg').read().split()[:3])


def corner_error(found, truth, width, height):
    """The mean and the largest distance between the reference frame's corners as found and truth (3x3) move them."""
    corners = np.array([[0, 0, 1], [width - 1, 0, 1], [0, height - 1, 1], [width - 1, height - 1, 1]], float)
    moved = [corners @ m.T for m in (found, truth)]
    moved = [m[:, :2] / m[:, 2:] for m in moved]
    distances = np.linalg.norm(moved[0] - moved[1], axis=1)
    return float(distances.mean()), float(distances.max())


def run_ours(tool, files):
    """Our ref_to_shot matrices (3x3; None for a refused shot), wall and CPU seconds, and the refusals."""
    status, wall, cpu, output = peer.timed([tool] + files)
    if status != 0:
        raise SystemExit('%s failed on %s: %s' % (tool, files[0], output[-500:]))
    shots = json.loads(output)['shots']
    matrices = [np.eye(3)] + [np.vstack([np.reshape(s['matrix'], (2, 3)), [0, 0, 1]]) if 'matrix' in s else None
                              for s in shots]
    return matrices, wall, cpu, [s['refused'] for s in shots if 'refused' in s]


def score(matrices, truth):
    """(mean, worst corner) of every moved shot; infinite for a shot without a matrix."""
    errors = []
    for found, true in zip(matrices[1:], truth['ref_to_shot'][1:]):
        true = np.vstack([true, [0, 0, 1]])
        errors.append(corner_error(found, true, truth['width'], truth['height']) if found is not None
                      else (math.inf, math.inf))
    return errors


def measure(folder, tool, with_peer, repeats):
    """Runs ours and the peer repeats times, interleaved, on the stack in folder (truth.json, else every *.jpg)."""
    truth_file = os.path.join(folder, 'truth.json')
    truth = json.load(open(truth_file)) if os.path.exists(truth_file) else None
    names = truth['files'] if truth else sorted(f for f in os.listdir(folder) if f.endswith('.jpg'))
    files = [os.path.abspath(os.path.join(folder, name)) for name in names]
    result = dict(stack=os.path.basename(folder), shots=len(files), ours_times=[], peer_times=[], refusals=[])
    for run in range(repeats):
        matrices, wall, cpu, refusals = run_ours(tool, files)
        result['ours_times'].append((wall, cpu))
        if run == 0:
            result['refusals'] = refusals
            result['ours'] = score(matrices, truth) if truth else None
            result['frame'] = '%dx%d' % (truth['width'], truth['height']) if truth else ''
        if with_peer:
            matrices, wall, cpu = peer.align(files)
            result['peer_times'].append((wall, cpu))
            if run == 0:
                result['peer'] = score(matrices, truth) if truth else None
    for refusal in result['refusals']:
        print('alignment_accuracy: %s: refused: %s' % (result['stack'], refusal), file=sys.stderr)
    print('alignment_accuracy: %s done' % result['stack'], file=sys.stderr, flush=True)
    return result


def summary(errors, decimals):
    """Median error, worst error, worst corner and the number of failed shots, as table cells."""
    if errors is None:
        return ['', '', '', '']
    means = np.array([e[0] for e in errors])
    finite = means[np.isfinite(means)]
    worst = max((e[1] for e in errors if math.isfinite(e[1])), default=math.nan)
    cell = '%.{}f'.format(decimals)
    return [cell % np.median(means), cell % (finite.max() if finite.size else math.nan), cell % worst,
            str(int((~np.isfinite(means)).sum()))]


def accuracy_table(results, with_peer):
    lines = ['| stack | frame | moved shots | ours: median | worst | worst corner | refused |'
             + (' align_image_stack: median | worst | worst corner | dropped |' if with_peer else ''),
             '|---|---|---|---|---|---|---|' + ('---|---|---|---|' if with_peer else '')]
    every = dict(stack='**all**', frame='', ours=[], peer=[])
    for r in results:
        every['ours'] += r['ours']
        every['peer'] += r.get('peer') or []
    for r in results + [every]:
        cells = [r['stack'], r['frame'], str(len(r['ours']))] + summary(r['ours'], 3)
        if with_peer:
            cells += summary(r['peer'], 2)
        lines.append('| ' + ' | '.join(cells) + ' |')
    return lines


def speed_table(results, with_peer):
    lines = ['| stack | pictures | ours: wall s | CPU s |'
             + (' align_image_stack: wall s | CPU s | wall ratio | CPU ratio |' if with_peer else ''),
             '|---|---|---|---|' + ('---|---|---|---|' if with_peer else '')]
    for r in results:
        ours = np.median(np.array(r['ours_times']), axis=0)
        cells = [r['stack'], str(r['shots']), '%.2f' % ours[0], '%.2f' % ours[1]]
        if with_peer:
            theirs = np.median(np.array(r['peer_times']), axis=0)
            cells += ['%.2f' % theirs[0], '%.2f' % theirs[1], '%.3f' % (ours[0] / theirs[0]),
                      '%.3f' % (ours[1] / theirs[1])]
        lines.append('| ' + ' | '.join(cells) + ' |')
    return lines


def report(accuracy, speed, with_peer, repeats):
    lines = ['# Alignment: accuracy and speed' + (' beside align_image_stack' if with_peer else ''), '',
             'Made by `bench/alignment_accuracy.py`, started %s (load average then %s).' % (START, START_LOAD), '',
             'Corner error in pixels, per moved shot: the mean over the four corners of the reference frame of the '
             'distance between where the found and the true transform put them (median and worst over the shots), '
             'and the single worst corner. Moves: random similarities up to %g %% shift, %g degree and %g %% scale; '
             'noise %g grey levels.' % (100 * stacks.MAX_SHIFT, stacks.MAX_DEGREES, 100 * stacks.MAX_SCALE,
                                        stacks.NOISE_SIGMA), ''] + accuracy_table(accuracy, with_peer)
    if speed:
        lines += ['', 'Time in seconds, median of %d runs, interleaved; ours reads and aligns every picture, '
                  'align_image_stack (`-m -a -p`) also writes the aligned pictures.' % repeats, '']
        lines += speed_table(speed, with_peer)
    return '\n'.join(lines) + '\n'


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--tool', default=os.path.join(ROOT, 'build', 'bench', 'edgedom-align-bench'))
    parser.add_argument('--out', default=os.path.join(ROOT, 'build', 'bench', 'alignment'))
    parser.add_argument('--repeats', type=int, default=3)
    parser.add_argument('--testdata', default=os.environ.get('EDGEDOM_TESTDATA', fs.TESTDATA))
    parser.add_argument('--smoke', action='store_true')
    args = parser.parse_args()
    with_peer = peer.available()
    if not with_peer:
        print('alignment_accuracy: align_image_stack or nona is missing (hugin-tools): ours alone', file=sys.stderr)
    if args.smoke:
        with tempfile.TemporaryDirectory(prefix='alignment_smoke_') as folder:
            result = measure(stacks.scene_stacks(folder, args.testdata, ['shapes'], [3], (320, 240))[0], args.tool,
                             with_peer, 1)
        sys.stdout.write(report([result], [], with_peer, 1))
        worst = max(e[0] for e in result['ours'])
        return 0 if worst < SMOKE_LIMIT else 1
    have_testdata = os.path.isdir(args.testdata)
    scenes = [s for s in fs.SCENES if have_testdata or s in fs.PROCEDURAL]
    folders = stacks.scene_stacks(os.path.join(args.out, 'stacks'), args.testdata, scenes, [3, 8], (640, 480))
    accuracy = [measure(f, args.tool, with_peer, 1) for f in folders]
    timed = stacks.large_stacks(os.path.join(args.out, 'stacks'), args.testdata) if have_testdata else []
    timed += [os.path.join(args.testdata, 'stacks', 'pcb7')] if have_testdata else []
    speed = [measure(f, args.tool, with_peer, args.repeats) for f in timed]
    text = report(accuracy + [r for r in speed if r['ours']], speed, with_peer, args.repeats)
    with open(os.path.join(args.out, 'alignment.md'), 'w') as f:
        f.write(text)
    sys.stdout.write(text)
    return 0


if __name__ == '__main__':
    sys.exit(main())
