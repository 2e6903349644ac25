#!/usr/bin/python3
"""Quality of edgedom's all-in-focus fusion against the truth, beside enfuse, the best single shot and the plain
dominance pick.

Makes (or reuses, under OUT/stacks-g<version>) the focus stacks of focus_stacks.py: every scene (the procedural ones
at 640 x 480, the real crops at their own size, 0.07 to 0.35 megapixels), 3 and 8 shots, sensor noise of 0.5, 1 and
1.5 grey levels (the main table) and 2 (a harder table), seed 1. Fuses each with `edgedom-cli --fused` and with
enfuse, runs interleaved, and scores against the sharp scene the PSNR over the whole picture of: the best single
shot, the plain dominance pick (each pixel from the shot `edgedom-cli --dominance` names), the smoothed pick (the
shot whose edge strength is largest on average over 17 x 17 pixels), enfuse and ours. Writes a markdown table with
the margins and wall times (medians of the runs) to OUT/quality.md and standard output.

Usage: fusion_quality.py [--cli FILE] [--out DIR] [--testdata DIR] [--repeats N] [--smoke]
  --smoke  one small stack in a few seconds: fails when ours is not above the best single shot and enfuse; exits
           with 77 (skipped) when numpy or OpenCV is missing, or after the first check when enfuse is.
"""
import argparse
import glob
import json
import os
import sys
import tempfile
import time

try:  # the generator and the scoring need both
    import cv2  # noqa: F401
    import numpy  # noqa: F401
except ImportError:
    print('fusion_quality: numpy or OpenCV for /usr/bin/python3 is missing (python3-numpy, python3-opencv): '
          'skipped', file=sys.stderr)
    sys.exit(77)

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import focus_stacks as fs  # noqa: E402
import fusion_runs as runs  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
GENERATOR = 1  # raised whenever focus_stacks.py makes other stacks, so that kept stacks are made again
SEED = 1
SHOTS = [3, 8]
MAIN_NOISE = [0.5, 1, 1.5]
HARDER_NOISE = [2]
SIZE = (640, 480)
BLUR = (10, 18)
TARGET_DB = 3.0


def scenes_to_make(testdata, program):
    """Every scene of focus_stacks, but for the real ones when the test data is missing (said on standard error)."""
    if os.path.isdir(testdata):
        return list(fs.SCENES)
    print('%s: no test data at %s (set EDGEDOM_TESTDATA or --testdata): the real scenes are left out'
          % (program, testdata), file=sys.stderr)
    return [s for s in fs.SCENES if s in fs.PROCEDURAL]


def complete(folder, shots, sigma):
    """Whether folder holds the stack of this shot count and noise, made with this seed."""
    try:
        with open(os.path.join(folder, 'stack.json')) as f:
            info = json.load(f)
    except (OSError, ValueError):
        return False
    return (info.get('seed') == SEED and info.get('shots') == shots and info.get('noise_sigma_8bit') == sigma
            and len(glob.glob(os.path.join(folder, 'shot*.png'))) == shots)


def stacks(root, testdata, scenes, shot_counts, noise_levels, size):
    """The stack folders of every scene, shot count and noise level, made when missing."""
    folders = []
    for scene in scenes:
        wanted = {(n, s): os.path.join(root, '%s-n%d-s%g' % (scene, n, s)) for n in shot_counts for s in noise_levels}
        if not all(complete(folder, n, s) for (n, s), folder in wanted.items()):
            print('fusion_quality: making the stacks of %s' % scene, file=sys.stderr, flush=True)
            fs.write_stacks(root, scene, SEED, shot_counts, noise_levels, 8, size[1], size[0], testdata, BLUR)
        folders += list(wanted.values())
    return folders


def score(folder, cli, with_enfuse, repeats, work):
    """The PSNR of every method on the stack in folder, and the wall times of ours and enfuse, runs interleaved."""
    with open(os.path.join(folder, 'stack.json')) as f:
        info = json.load(f)
    files = sorted(glob.glob(os.path.join(folder, 'shot*.png')))
    truth = runs.read_rgb(os.path.join(folder, 'truth.png'))
    shots = [runs.read_rgb(f) for f in files]
    row = dict(scene=info['scene'], depth=info['depth_kind'], shots=len(files), sigma=info['noise_sigma_8bit'],
               floor=runs.noise_floor(info['noise_sigma_8bit']), ours_s=[], enfuse_s=[],
               best_single=max(runs.psnr(s, truth) for s in shots),
               plain_pick=runs.psnr(runs.plain_pick(cli, shots, files, os.path.join(work, 'dominance.png')), truth),
               smoothed_pick=runs.psnr(runs.smoothed_pick(shots), truth))
    for _ in range(repeats):
        row['ours_s'].append(runs.ours(cli, files, os.path.join(work, 'ours.png')))
        if with_enfuse:
            row['enfuse_s'].append(runs.enfuse(files, os.path.join(work, 'enfuse.tif')))
    row['ours'] = runs.psnr(runs.read_rgb(os.path.join(work, 'ours.png')), truth)
    if with_enfuse:
        row['enfuse'] = runs.psnr(runs.read_rgb(os.path.join(work, 'enfuse.tif')), truth)
    print('fusion_quality: %s: ours %.2f dB, enfuse %s, best single %.2f' % (
        os.path.basename(folder), row['ours'], '%.2f' % row['enfuse'] if with_enfuse else '-', row['best_single']),
        file=sys.stderr, flush=True)
    return row


def quality_rows(rows):
    cells = []
    for r in rows:
        enfuse = r.get('enfuse')
        cells.append([r['scene'], r['depth'], str(r['shots']), '%g' % r['sigma'], '%.2f' % r['floor'],
                      '%.2f' % r['best_single'], '%.2f' % r['plain_pick'], '%.2f' % r['smoothed_pick'],
                      '%.2f' % enfuse if enfuse else '—', '**%.2f**' % r['ours'],
                      '%+.2f' % (r['ours'] - enfuse) if enfuse else '—', '%+.2f' % (r['ours'] - r['best_single']),
                      '%.2f' % runs.median(r['ours_s']), '%.2f' % runs.median(r['enfuse_s']) if enfuse else '—'])
    return runs.table(['scene', 'depth', 'N', 'σ', 'floor', 'best single', 'plain pick', 'smoothed pick', 'enfuse',
                       'ours', 'ours − enfuse', 'ours − best single', 'ours s', 'enfuse s'], cells)


def margin_summary(rows, peer, label):
    """One line on the margin of ours over a peer: the worst case, and the misses of the 3 dB target with the
    number of them where the peer is itself within 3 dB of the noise floor (no pixel-copying method gains 3 dB)."""
    scored = [r for r in rows if r.get(peer) is not None]
    if not scored:
        return '- ours − %s: not measured (%s missing).' % (label, label)
    worst = min(scored, key=lambda r: r['ours'] - r[peer])
    missed = [r for r in scored if r['ours'] - r[peer] < TARGET_DB]
    capped = [r for r in missed if r['floor'] - r[peer] < TARGET_DB]
    below = [r for r in scored if r['ours'] <= r[peer]]
    return ('- ours − %s: worst **%+.2f dB** (%s, N = %d, σ = %g); +%g dB missed in %d of %d stacks (%d of them '
            'with %s itself within %g dB of the noise floor); ours at or below %s in %d.'
            % (label, worst['ours'] - worst[peer], worst['scene'], worst['shots'], worst['sigma'], TARGET_DB,
               len(missed), len(scored), len(capped), label, TARGET_DB, label, len(below)))


def ranges(rows):
    """The range of each method's PSNR per shot count, to set beside the figures quoted for unseen stacks."""
    lines = []
    for n in sorted({r['shots'] for r in rows}):
        some = [r for r in rows if r['shots'] == n]
        parts = ['%s %.1f–%.1f' % (label, min(r[key] for r in some), max(r[key] for r in some))
                 for key, label in (('ours', 'ours'), ('enfuse', 'enfuse'), ('smoothed_pick', 'smoothed pick'),
                                    ('best_single', 'best single')) if all(r.get(key) is not None for r in some)]
        lines.append('- N = %d: %s dB.' % (n, ', '.join(parts)))
    return lines


def section(title, rows):
    return (['### ' + title, ''] + quality_rows(rows) + ['', margin_summary(rows, 'enfuse', 'enfuse'),
                                                         margin_summary(rows, 'best_single', 'best single')]
            + ranges(rows))


def report(main_rows, harder_rows, repeats, start_load, end_load):
    lines = ['Made by `bench/fusion_quality.py`, started %s; load average %s at the start, %s at the end.'
             % (time.strftime('%Y-%m-%d %H:%M'), start_load, end_load), '',
             'Stacks of `bench/focus_stacks.py` (seed %d): procedural scenes of %d x %d and crops of real pictures '
             'scaled down until sharp (0.07–0.35 MP), a smooth random depth map (with objects standing at their own '
             'depth in the `steps` scenes), N shots each focused at one depth and blurred by a disc that grows with '
             'the distance from it (10–18 px per unit of depth, every pixel sharp in one shot), Gaussian sensor '
             'noise σ grey levels. PSNR in dB against the sharp scene over the whole picture; floor is the PSNR of '
             'a perfect pick of noisy shots, 10 log10(255² / (σ² + 1/12)). enfuse: `%s`, PNG shots in, 8-bit TIFF '
             'out. Wall times: median of %d runs, ours and enfuse interleaved, each writing its picture (PNG, TIFF).'
             % (SEED, SIZE[0], SIZE[1], ' '.join(runs.ENFUSE), repeats), '',
             'The main table\'s noise, 0.5 to 1.5 grey levels, is what the figures quoted for stacks made the same way '
             'with other scenes point to: a smoothed pick reached 42 to 48 dB there, and no pick of noisy shots '
             'exceeds the noise floor (52.9 dB at σ = 0.5, 47.8 at 1, 44.5 at 1.5, 42.0 at 2). Where enfuse or the '
             'best single shot is itself within 3 dB of the floor, no method that copies each pixel from a shot can '
             'be 3 dB above it.', '']
    lines += section('Main table: sensor noise σ = %s' % ', '.join('%g' % s for s in MAIN_NOISE), main_rows)
    if harder_rows:
        lines += [''] + section('Harder: σ = %s' % ', '.join('%g' % s for s in HARDER_NOISE), harder_rows)
    return '\n'.join(lines) + '\n'


def smoke(cli, testdata, with_enfuse):
    with tempfile.TemporaryDirectory(prefix='fusion_smoke_') as folder:
        stack = fs.write_stacks(folder, 'marks', SEED, [3], [1], 8, 240, 320, testdata, BLUR)[0]
        row = score(stack, cli, with_enfuse, 1, folder)
    failed = row['ours'] <= row['best_single'] or (with_enfuse and row['ours'] <= row['enfuse'])
    sys.stdout.write('\n'.join(quality_rows([row])) + '\n')
    if failed:
        print('fusion_quality: ours is not above the best single shot and enfuse', file=sys.stderr)
        return 1
    return 0 if with_enfuse else 77


def full_run(args, with_enfuse):
    start_load = runs.load_average()
    scenes = scenes_to_make(args.testdata, 'fusion_quality')
    folders = stacks(os.path.join(args.out, 'stacks-g%d' % GENERATOR), args.testdata, scenes, SHOTS,
                     MAIN_NOISE + HARDER_NOISE, SIZE)
    with tempfile.TemporaryDirectory(prefix='fusion_quality_') as work:
        rows = [score(folder, args.cli, with_enfuse, args.repeats, work) for folder in folders]
    text = report([r for r in rows if r['sigma'] in MAIN_NOISE], [r for r in rows if r['sigma'] in HARDER_NOISE],
                  args.repeats, start_load, runs.load_average())
    runs.publish(text, os.path.join(args.out, 'quality.md'), rows)
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--cli', default=os.path.join(ROOT, 'build', 'cli', 'edgedom-cli'))
    parser.add_argument('--out', default=os.path.join(ROOT, 'build', 'bench', 'fusion'))
    parser.add_argument('--testdata', default=os.environ.get('EDGEDOM_TESTDATA', fs.TESTDATA))
    parser.add_argument('--repeats', type=int, default=3)
    parser.add_argument('--smoke', action='store_true')
    args = parser.parse_args()
    with_enfuse = runs.have('enfuse')
    if not with_enfuse:
        print('fusion_quality: enfuse is missing (Debian package enfuse): ours beside the baselines alone',
              file=sys.stderr)
    try:
        return smoke(args.cli, args.testdata, with_enfuse) if args.smoke else full_run(args, with_enfuse)
    except runs.RunFailed as failure:
        print('fusion_quality: %s' % failure, file=sys.stderr)
        return 1


if __name__ == '__main__':
    sys.exit(main())
