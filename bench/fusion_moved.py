#!/usr/bin/python3
"""Quality of edgedom's all-in-focus fusion of hand-held stacks: `edgedom-cli --align --fused` beside
align_image_stack followed by enfuse, on focus stacks whose shots are moved.

Makes (or reuses, under OUT/moved) the moved stacks of alignment_stacks.py: the scenes, shot counts and sensor noise
of fusion_quality.py (its main and harder tables), each shot but the first moved by a random similarity (up to 2 % of
the side, 1 degree, 3 % of scale). Fuses each with `edgedom-cli --align --fused` and with `align_image_stack -m -a`
then enfuse on the aligned TIFFs, and scores the PSNR against the sharp scene in the first shot's frame, leaving out
a margin of 8 % on each side, where a moved shot may not reach. A fusion that fails (a shot refused, no aligned
picture written) is reported as such. Writes a markdown table to OUT/moved.md and standard output.

Usage: fusion_moved.py [--cli FILE] [--out DIR] [--testdata DIR] [--repeats N]
"""
import argparse
import json
import os
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import alignment_stacks  # noqa: E402
import focus_stacks as fs  # noqa: E402
import fusion_quality as quality  # noqa: E402
import fusion_runs as runs  # noqa: E402

MARGIN = 0.08


def attempt(fuse):
    """fuse()'s seconds, or the reason it failed."""
    try:
        return fuse(), None
    except runs.RunFailed as failure:
        return None, str(failure)


def score(folder, cli, repeats, work):
    """PSNR without the margin and wall times (medians of the runs, interleaved) of ours and the peer."""
    with open(os.path.join(folder, 'truth.json')) as f:
        info = json.load(f)
    files = [os.path.join(folder, name) for name in info['files']]
    truth = runs.read_rgb(os.path.join(folder, 'truth.png'))
    key = info['key']
    row = dict(scene=key['scene'], shots=key['shots'], sigma=key['noise'], frame='%dx%d' % truth.shape[1::-1],
               ours_s=[], peer_s=[], failures=[])
    ours_out, peer_out = os.path.join(work, 'ours.png'), os.path.join(work, 'peer.tif')
    for _ in range(repeats):
        for out in (ours_out, peer_out):
            if os.path.exists(out):
                os.remove(out)
        seconds, failure = attempt(lambda: runs.ours(cli, files, ours_out, align=True))
        if failure:
            row['failures'].append('ours: ' + failure)
        else:
            row['ours_s'].append(seconds)
        seconds, failure = attempt(lambda: runs.align_then_enfuse(files, work, peer_out))
        if failure or seconds[1] is None:
            row['failures'].append('align_image_stack + enfuse: ' + (failure or 'align_image_stack wrote no picture'))
        else:
            row['peer_s'].append(sum(seconds))
    for method, out in (('ours', ours_out), ('peer', peer_out)):
        row[method] = runs.psnr(runs.read_rgb(out), truth, MARGIN) if os.path.exists(out) else None
    print('fusion_moved: %s: ours %s dB, align_image_stack + enfuse %s dB%s' % (
        os.path.basename(folder), cell(row['ours']), cell(row['peer']),
        ''.join('; ' + f for f in row['failures'])), file=sys.stderr, flush=True)
    return row


def cell(value, pattern='%.2f'):
    return pattern % value if value is not None else 'failed'


def moved_rows(rows):
    cells = []
    for r in rows:
        both = r['ours'] is not None and r['peer'] is not None
        cells.append([r['scene'], r['frame'], str(r['shots']), '%g' % r['sigma'],
                      '%.2f' % runs.noise_floor(r['sigma']), cell(r['peer']), '**%s**' % cell(r['ours']),
                      '%+.2f' % (r['ours'] - r['peer']) if both else '—',
                      '%.2f' % runs.median(r['ours_s']) if r['ours_s'] else '—',
                      '%.2f' % runs.median(r['peer_s']) if r['peer_s'] else '—'])
    return runs.table(['scene', 'frame', 'N', 'σ', 'floor', 'align_image_stack + enfuse', 'ours (--align)',
                       'ours − peer', 'ours s', 'peer s'], cells)


def summary(rows):
    """The worst margin over the peer, the misses of the 3 dB target and every failure."""
    both = [r for r in rows if r['ours'] is not None and r['peer'] is not None]
    lines = []
    if both:
        worst = min(both, key=lambda r: r['ours'] - r['peer'])
        missed = [r for r in both if r['ours'] - r['peer'] < quality.TARGET_DB]
        lines.append('- ours − (align_image_stack + enfuse): worst **%+.2f dB** (%s, N = %d, σ = %g); +%g dB missed '
                     'in %d of %d stacks; ours at or below the peer in %d.'
                     % (worst['ours'] - worst['peer'], worst['scene'], worst['shots'], worst['sigma'],
                        quality.TARGET_DB, len(missed), len(both), sum(r['ours'] <= r['peer'] for r in both)))
    for n in sorted({r['shots'] for r in rows}):
        some = [r for r in both if r['shots'] == n]
        if some:
            lines.append('- N = %d: ours %.1f–%.1f dB, align_image_stack + enfuse %.1f–%.1f dB.' % (
                n, min(r['ours'] for r in some), max(r['ours'] for r in some), min(r['peer'] for r in some),
                max(r['peer'] for r in some)))
    lines += ['- %s, N = %d, σ = %g: %s' % (r['scene'], r['shots'], r['sigma'], f) for r in rows
              for f in sorted(set(r['failures']))]
    return lines


def report(sections, repeats, start_load, end_load):
    lines = ['Made by `bench/fusion_moved.py`, started %s; load average %s at the start, %s at the end.'
             % (time.strftime('%Y-%m-%d %H:%M'), start_load, end_load), '',
             'The stacks of the quality table made again by `bench/alignment_stacks.py` with every shot but the first '
             'moved by a random similarity (shift up to %g %% of the side, rotation up to %g degree, scale up to '
             '%g %%; the scene framed with a %g %% margin, so that a moved shot shows scene at its borders). Ours: '
             '`edgedom-cli --align --fused`. Peer: `align_image_stack -m -a PREFIX` on the PNG shots, then `%s` on '
             'the aligned TIFFs. PSNR in dB against the sharp scene in the first shot\'s frame without a margin of '
             '%g %% on each side. Wall times: median of %d run(s), ours and the peer interleaved; the peer\'s is both '
             'programs together.' % (100 * alignment_stacks.MAX_SHIFT, alignment_stacks.MAX_DEGREES,
                                     100 * alignment_stacks.MAX_SCALE, 100 * alignment_stacks.MARGIN,
                                     ' '.join(runs.ENFUSE), 100 * MARGIN, repeats), '']
    for title, rows in sections:
        lines += ['### ' + title, ''] + moved_rows(rows) + [''] + summary(rows) + ['']
    return '\n'.join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--cli', default=os.path.join(quality.ROOT, 'build', 'cli', 'edgedom-cli'))
    parser.add_argument('--out', default=os.path.join(quality.ROOT, 'build', 'bench', 'fusion'))
    parser.add_argument('--testdata', default=os.environ.get('EDGEDOM_TESTDATA', fs.TESTDATA))
    parser.add_argument('--repeats', type=int, default=1)
    args = parser.parse_args()
    if not (runs.have('enfuse') and runs.have('align_image_stack')):
        print('fusion_moved: enfuse or align_image_stack is missing (Debian packages enfuse, hugin-tools)',
              file=sys.stderr)
        return 1
    start_load = runs.load_average()
    scenes = quality.scenes_to_make(args.testdata, 'fusion_moved')
    folders = alignment_stacks.scene_stacks(os.path.join(args.out, 'moved'), args.testdata, scenes, quality.SHOTS,
                                            quality.SIZE, quality.SEED, quality.MAIN_NOISE + quality.HARDER_NOISE)
    with tempfile.TemporaryDirectory(prefix='fusion_moved_') as work:
        rows = [score(folder, args.cli, args.repeats, work) for folder in folders]
    sections = [(title % ', '.join('%g' % s for s in noise), [r for r in rows if r['sigma'] in noise])
                for title, noise in (('Main: σ = %s', quality.MAIN_NOISE), ('Harder: σ = %s', quality.HARDER_NOISE))]
    text = report(sections, args.repeats, start_load, runs.load_average())
    runs.publish(text, os.path.join(args.out, 'moved.md'))
    return 0


if __name__ == '__main__':
    sys.exit(main())
