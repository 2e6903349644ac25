#!/usr/bin/python3
"""Wall time and peak memory of `edgedom-cli` writing every output as PNG, beside the same run writing BMP and TIFF.

Stacks: the first 3 and all 16 of the pcb10 shots tiled 2 x 2 (12.6 MP JPEGs, made as bench/fusion_speed.py makes
them, under OUT/speed/pcb10_2x2, and kept). Each stack is run `repeats` times, interleaved:
- PNG: --fused fused.png --edge-maps DIR --dominance dominance.png, and --regions regions.png with 5 shots or fewer;
- BMP/TIFF: --fused fused.tif --dominance dominance.bmp, and --regions regions.bmp with 5 shots or fewer (edge maps
  are written only as PNG, so this run writes none);
- with --before CLI (edgedom-cli of an earlier build, such as one that wrote PNG through Qt), its PNG run too.
Wall time from the start to the end of the process, maximum resident set size from /usr/bin/time; medians of the
runs, the largest resident set. Writes a markdown table to OUT/png_outputs.md and standard output.

Usage: png_outputs.py [--build DIR] [--out DIR] [--testdata DIR] [--repeats N] [--before CLI]
"""
import os
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fusion_runs as runs  # noqa: E402
import fusion_speed as speed  # noqa: E402

PNG_RATIO = 1.3
SHOT_COUNTS = (3, 16)


def commands(cli, files, work, png):
    """The command writing every output as PNG, or as BMP and TIFF, into work."""
    out = lambda name: os.path.join(work, name)  # noqa: E731
    kind = 'png' if png else 'bmp'
    command = [cli, '--quiet', '--fused', out('fused.png' if png else 'fused.tif'), '--dominance',
               out('dominance.' + kind)]
    if png:
        command += ['--edge-maps', out('edges')]
    if len(files) <= 5:
        command += ['--regions', out('regions.' + kind)]
    return command + files


def written_bytes(work):
    """The bytes of every file under work, which the last run wrote."""
    return sum(os.path.getsize(os.path.join(folder, name)) for folder, _, names in os.walk(work) for name in names
               if not name.endswith('.txt'))


def measure(files, clis, repeats, work):
    """Interleaved runs of each (method, cli, png) on the files; their times, memory and output bytes."""
    row = dict(shots=len(files), load_before=runs.load_average())
    for method, _, _ in clis:
        row[method + '_s'], row[method + '_bytes'] = [], []
    for _ in range(repeats):
        for method, cli, png in clis:
            folder = os.path.join(work, method)
            os.makedirs(folder, exist_ok=True)
            seconds, _, peak = speed.timed(commands(cli, files, folder, png), work)
            row[method + '_s'].append(seconds)
            row[method + '_bytes'].append(peak)
            row[method + '_files'] = written_bytes(folder)
    row['load_after'] = runs.load_average()
    print('png_outputs: %d shots: %s' % (len(files), ', '.join(
        '%s %.2f s' % (method, runs.median(row[method + '_s'])) for method, _, _ in clis)), file=sys.stderr, flush=True)
    return row


def table(rows, before):
    cells = []
    for r in rows:
        png, bmp = runs.median(r['png_s']), runs.median(r['bmp_s'])
        cell = ['%d' % r['shots'], '%.2f' % png, '%.2f' % bmp, '**%.2f**' % (png / bmp)]
        cell += ['%.0f MiB' % (max(r[m + '_bytes']) / 2 ** 20) for m in ('png', 'bmp')]
        cell += ['%.1f MB' % (r['png_files'] / 1e6)]
        if before:
            cell += ['%.2f' % runs.median(r['before_s']), '%.1f' % (runs.median(r['before_s']) / png),
                     '%.0f MiB' % (max(r['before_bytes']) / 2 ** 20), '%.1f MB' % (r['before_files'] / 1e6)]
        cells.append(cell + ['%s → %s' % (r['load_before'].split()[0], r['load_after'].split()[0])])
    header = ['N', 'PNG s', 'BMP/TIFF s', 'PNG / BMP-TIFF', 'PNG peak', 'BMP/TIFF peak', 'PNG files']
    if before:
        header += ['before: PNG s', 'before / now', 'before: PNG peak', 'before: PNG files']
    return runs.table(header + ['load (1 min)'], cells)


def targets(rows, before):
    ratio = [('%d shots' % r['shots'], runs.median(r['png_s']) / runs.median(r['bmp_s']), PNG_RATIO) for r in rows]
    lines = [speed.target('every output as PNG at most %g x the same run with BMP/TIFF outputs' % PNG_RATIO, ratio)]
    if before:
        memory = [('%d shots' % r['shots'], max(r['png_bytes']) / max(r['before_bytes']), 1.0) for r in rows]
        lines.append(speed.target('peak memory of the PNG run at most that of the earlier build (now / before)',
                                  memory))
    return lines


def report(rows, repeats, before):
    lines = ['Made by `bench/png_outputs.py`, started %s. edgedom-cli on the pcb10 shots tiled 2 x 2 (12.6 MP '
             'JPEGs): the first 3, and all 16.' % time.strftime('%Y-%m-%d %H:%M'), '',
             'Wall seconds: median of %d runs, interleaved. PNG: `--fused fused.png --edge-maps DIR --dominance '
             'dominance.png`, and `--regions regions.png` for 3 shots (a region map needs 5 or fewer). BMP/TIFF: '
             '`--fused fused.tif --dominance dominance.bmp`, and `--regions regions.bmp` for 3 shots; edge maps are '
             'written only as PNG, so this run writes none. Peak: the largest maximum resident set size over the '
             'runs (`/usr/bin/time`). PNG files: the bytes the PNG run wrote.' % repeats]
    if before:
        lines[-1] += (' Before: the PNG run of `%s`, an earlier build, whose PNG files Qt\'s writer wrote (libpng, '
                      'zlib at its default level).' % before)
    return '\n'.join(lines + [''] + table(rows, before) + [''] + targets(rows, before)) + '\n'


def main():
    parser = runs.speed_arguments(__doc__.split('\n')[0], 'fusion')
    parser.add_argument('--before', help='edgedom-cli of an earlier build, whose PNG run is measured too')
    args = parser.parse_args()
    cli = os.path.join(args.build, 'cli', 'edgedom-cli')
    clis = [('png', cli, True), ('bmp', cli, False)] + ([('before', args.before, True)] if args.before else [])
    shots = speed.tiled_pcb10(os.path.join(args.out, 'speed', 'pcb10_2x2'), args.testdata)
    with tempfile.TemporaryDirectory(prefix='png_outputs_') as work:
        # Decoding them once puts the pictures into the page cache for every timed run.
        speed.timed([os.path.join(args.build, 'bench', 'edgedom-decode-only')] + shots, work)
        rows = [measure(shots[:count], clis, args.repeats, work) for count in SHOT_COUNTS]
    runs.publish(report(rows, args.repeats, args.before), os.path.join(args.out, 'png_outputs.md'), rows)
    return 0


if __name__ == '__main__':
    sys.exit(main())
