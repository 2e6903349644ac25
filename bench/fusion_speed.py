#!/usr/bin/python3
"""Wall time and peak memory of `edgedom-cli --fused` beside enfuse and beside only decoding the same pictures.

Stacks (made once under OUT/speed and kept):
- the pcb triple of the test data as it is (3 x 3.1 MP PNG) and tiled 2 x 2 by edgedom-make-tiled (3 x 12.6 MP PNG);
- 16 JPEGs of 12.6 MP from the 10 shots of the real stack pcb10, each four shots tiled 2 x 2: quadrant j (0 top
  left, 1 top right, 2 bottom left, 3 bottom right) of picture k (0..15) holds shot (k + j (1 + 2 floor(k / 10)))
  mod 10, so every picture is a different tiling; written by OpenCV at JPEG quality 95;
- the small triples lytro01 to lytro04 and bug as they are (0.27 and 0.34 MP PNG).

Each stack is run `repeats` times, interleaved: edgedom-cli, enfuse (both given the whole machine, each writing a
TIFF) and edgedom-decode-only (TPicture::LoadFromFile on one thread, one picture after another: the decoder
edgedom-cli uses). Wall time from the start to the end of the process, maximum resident set size from
/usr/bin/time; medians of the runs, the largest resident set. Writes a markdown table to OUT/speed.md and
standard output.

Usage: fusion_speed.py [--build DIR] [--out DIR] [--testdata DIR] [--repeats N]
"""
import os
import subprocess
import sys
import tempfile
import time

import cv2

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fusion_runs as runs  # noqa: E402

SMALL = ['lytro01', 'lytro02', 'lytro03', 'lytro04', 'bug']
JPEG_QUALITY = 95
LARGE_RATIO, SMALL_RATIO, DECODE_RATIO, BYTES_PER_PIXEL = 0.2, 0.5, 2.0, 32


def pcb10_tiling(k, j):
    """The shot (0..9) of pcb10 in quadrant j of picture k."""
    return (k + j * (1 + 2 * (k // 10))) % 10


def tiled_pcb10(folder, testdata):
    """The 16 JPEGs of pcb10 tiled 2 x 2, written once."""
    files = [os.path.join(folder, '%02d.jpg' % (k + 1)) for k in range(16)]
    if all(os.path.exists(f) for f in files):
        return files
    os.makedirs(folder, exist_ok=True)
    shots = []
    for i in range(10):
        path = os.path.join(testdata, 'stacks', 'pcb10', '%d.jpg' % (i + 1))
        shots.append(cv2.imread(path, cv2.IMREAD_COLOR))
        if shots[-1] is None:
            raise SystemExit('Cannot read %s: check --testdata' % path)
    for k, name in enumerate(files):
        quadrants = [shots[pcb10_tiling(k, j)] for j in range(4)]
        picture = cv2.vconcat([cv2.hconcat(quadrants[:2]), cv2.hconcat(quadrants[2:])])
        if not cv2.imwrite(name + '.part.jpg', picture, [cv2.IMWRITE_JPEG_QUALITY, JPEG_QUALITY]):
            raise SystemExit('Cannot write %s' % name)
        os.replace(name + '.part.jpg', name)
    return files


def tiled_pcb(folder, testdata, tiler):
    """The pcb triple tiled 2 x 2, written once."""
    files = [os.path.join(folder, '%d.png' % i) for i in (1, 2, 3)]
    os.makedirs(folder, exist_ok=True)
    for i, name in enumerate(files, 1):
        if not os.path.exists(name):
            subprocess.run([tiler, '2', os.path.join(testdata, 'triples', 'pcb_fullsize', '%d.png' % i),
                            name + '.part.png'], check=True)
            os.replace(name + '.part.png', name)
    return files


def speed_stacks(out, testdata, tiler):
    """(name, files, large) of every stack; large ones are held to 0.2 x enfuse, small ones to 0.5 x."""
    triple = lambda name: [os.path.join(testdata, 'triples', name, '%d.png' % i) for i in (1, 2, 3)]  # noqa: E731
    return ([('pcb, 3.1 MP PNG', triple('pcb_fullsize'), True),
             ('pcb tiled 2 x 2, 12.6 MP PNG', tiled_pcb(os.path.join(out, 'pcb_2x2'), testdata, tiler), True),
             ('pcb10 tiled 2 x 2, 12.6 MP JPEG', tiled_pcb10(os.path.join(out, 'pcb10_2x2'), testdata), True)]
            + [('%s, small PNG' % name, triple(name), False) for name in SMALL])


def timed(command, work):
    """Runs command under /usr/bin/time; returns its wall seconds, CPU seconds (user and system) and maximum
    resident set size in bytes."""
    report = os.path.join(work, 'time.txt')
    start = time.perf_counter()
    done = subprocess.run(['/usr/bin/time', '-f', '%U %S %M', '-o', report] + command, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True)
    seconds = time.perf_counter() - start
    if done.returncode != 0:
        raise runs.RunFailed('%s failed: %s' % (command[0], done.stderr.strip()[-600:]))
    with open(report) as f:
        user, system, kilobytes = f.read().split()[-3:]
    return seconds, float(user) + float(system), int(kilobytes) * 1024


def measure(name, files, large, tools, repeats, work):
    """Interleaved runs of ours, enfuse and decoding alone on the stack; the medians and largest memory."""
    pixels = cv2.imread(files[0], cv2.IMREAD_GRAYSCALE).size
    commands = {'ours': [tools['cli'], '--quiet', '--fused', os.path.join(work, 'ours.tif')] + files,
                'enfuse': runs.ENFUSE + ['-o', os.path.join(work, 'enfuse.tif')] + files,
                'decode': [tools['decode']] + files}
    timed(commands['decode'], work)  # reads the files into the page cache for every timed run
    row = dict(stack=name, shots=len(files), pixels=pixels, large=large, load_before=runs.load_average())
    for method in commands:
        row[method + '_s'], row[method + '_cpu'], row[method + '_bytes'] = [], [], []
    for _ in range(repeats):
        for method, command in commands.items():
            seconds, cpu, peak = timed(command, work)
            row[method + '_s'].append(seconds)
            row[method + '_cpu'].append(cpu)
            row[method + '_bytes'].append(peak)
    row['load_after'] = runs.load_average()
    print('fusion_speed: %s: ours %.2f s, enfuse %.2f s, decoding %.2f s' % (
        name, runs.median(row['ours_s']), runs.median(row['enfuse_s']), runs.median(row['decode_s'])),
        file=sys.stderr, flush=True)
    return row


def speed_rows(rows):
    """Wall times and their ratios, with the load around them."""
    cells = []
    for r in rows:
        ours, enfuse, decode = (runs.median(r[m + '_s']) for m in ('ours', 'enfuse', 'decode'))
        cells.append([r['stack'], str(r['shots']), '%.1f' % (r['pixels'] / 1e6), '%.2f' % ours, '%.2f' % enfuse,
                      '%.2f' % decode, '**%.3f**' % (ours / enfuse), '**%.2f**' % (ours / decode),
                      '%s → %s' % (r['load_before'].split()[0], r['load_after'].split()[0])])
    return runs.table(['stack', 'N', 'MP', 'ours s', 'enfuse s', 'decoding s', 'ours / enfuse', 'ours / decoding',
                       'load (1 min)'], cells)


def cpu_memory_rows(rows):
    """CPU seconds (user and system, both threads of ours, every thread of enfuse) and peak memory."""
    cells = []
    for r in rows:
        ours, enfuse, decode = (runs.median(r[m + '_cpu']) for m in ('ours', 'enfuse', 'decode'))
        ours_peak, enfuse_peak = max(r['ours_bytes']), max(r['enfuse_bytes'])
        cells.append([r['stack'], '%.2f' % ours, '%.2f' % enfuse, '%.2f' % decode, '%.3f' % (ours / enfuse),
                      '%.2f' % (ours / decode), '%.0f MiB' % (ours_peak / 2 ** 20),
                      '**%.1f**' % (ours_peak / r['pixels']), '%.0f MiB' % (enfuse_peak / 2 ** 20),
                      '%.1f' % (enfuse_peak / r['pixels'])])
    return runs.table(['stack', 'ours CPU s', 'enfuse CPU s', 'decoding CPU s', 'ours / enfuse', 'ours / decoding',
                       'ours peak', 'ours bytes/px', 'enfuse peak', 'enfuse bytes/px'], cells)


def target(title, checks):
    """A target line: met when every (label, value, limit) has value <= limit."""
    met = all(value <= limit for _, value, limit in checks)
    return '- %s: **%s** (%s)' % (title, 'met' if met else 'not met',
                                  ', '.join('%s %.3g' % (label, value) for label, value, _ in checks))


def targets(rows):
    ratio = lambda r, other: runs.median(r['ours_s']) / runs.median(r[other + '_s'])  # noqa: E731
    large = [r for r in rows if r['large']]
    return [target('ours at most %g x enfuse on the large stacks' % LARGE_RATIO,
                   [(r['stack'], ratio(r, 'enfuse'), LARGE_RATIO) for r in large]),
            target('ours at most %g x enfuse on the small stacks' % SMALL_RATIO,
                   [(r['stack'].split(',')[0], ratio(r, 'enfuse'), SMALL_RATIO) for r in rows if not r['large']]),
            target('ours at most %g x decoding alone on the large stacks' % DECODE_RATIO,
                   [(r['stack'], ratio(r, 'decode'), DECODE_RATIO) for r in large]),
            target('peak memory of ours at most %d bytes per pixel of one picture (N = 3 and N = 16)' % BYTES_PER_PIXEL,
                   [(r['stack'], max(r['ours_bytes']) / r['pixels'], BYTES_PER_PIXEL) for r in large])]


def enfuse_threads():
    """What enfuse says of its OpenMP build: the processors and threads it uses."""
    done = subprocess.run(['enfuse', '--version', '--verbose'], capture_output=True, text=True)
    lines = [line.strip(' -') for line in done.stdout.splitlines() if 'OpenMP' in line or 'processors' in line]
    return '; '.join(lines) or 'no OpenMP'


def report(rows, repeats, start_load, footprint):
    lines = ['Made by `bench/fusion_speed.py`, started %s (load average then %s). enfuse: %s.'
             % (time.strftime('%Y-%m-%d %H:%M'), start_load, enfuse_threads()), '',
             'Wall seconds: median of %d runs, interleaved: ours (`edgedom-cli --quiet --fused out.tif`, which '
             'writes an uncompressed TIFF), enfuse (`%s -o out.tif`, which writes an 8-bit TIFF with alpha, LZW '
             'compressed by default) and decoding alone (`edgedom-decode-only`, one thread). Both fusers may use '
             'both cores; ours decodes on two threads ahead of the fold. Load: the 1-minute load average before and '
             'after the stack\'s runs.' % (repeats, ' '.join(runs.ENFUSE)), '']
    lines += speed_rows(rows)
    lines += ['', 'CPU seconds (user and system, every thread; medians) and memory (the largest maximum resident set '
              'size over the runs; bytes per pixel of one picture). edgedom-cli\'s fixed footprint, its resident set '
              'when it only prints its version, is %.0f MiB.' % (footprint / 2 ** 20), '']
    lines += cpu_memory_rows(rows) + [''] + targets(rows)
    return '\n'.join(lines) + '\n'


def main():
    parser = runs.speed_arguments(__doc__.split('\n')[0], 'fusion')
    args = parser.parse_args()
    tools = dict(cli=os.path.join(args.build, 'cli', 'edgedom-cli'),
                 decode=os.path.join(args.build, 'bench', 'edgedom-decode-only'))
    tiler = os.path.join(args.build, 'bench', 'edgedom-make-tiled')
    if not runs.have('enfuse') or not os.path.isdir(args.testdata):
        print('fusion_speed: needs enfuse (Debian package enfuse) and the test data (--testdata)', file=sys.stderr)
        return 1
    start_load = runs.load_average()
    with tempfile.TemporaryDirectory(prefix='fusion_speed_') as work:
        rows = [measure(name, files, large, tools, args.repeats, work)
                for name, files, large in speed_stacks(os.path.join(args.out, 'speed'), args.testdata, tiler)]
        footprint = timed([tools['cli'], '--version'], work)[2]
    text = report(rows, args.repeats, start_load, footprint)
    runs.publish(text, os.path.join(args.out, 'speed.md'), rows)
    return 0


if __name__ == '__main__':
    sys.exit(main())
