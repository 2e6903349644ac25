#!/usr/bin/python3
"""Wall time and peak memory of `edgedom-cli --batch` beside its `--list` lines run one after another and run by
GNU parallel -j 2, and the peak memory of one stack's fusion per pixel, which the batch plans with.

Stacks (made once under OUT/stacks and kept): twenty folders of 8 shots of 3.1 MP JPEG, links to the real stacks of
the test data: stacks 1 to 10 take pcb10 without two of its ten shots (k and k + 5 for stack k + 1), in an order
turned by k; stacks 11 to 20 take the seven shots of pcb7 turned by k, the first of them again last, and every
other one reversed. So no two stacks are the same.

Each method runs `repeats` times, interleaved (the order turned by one each round), every output removed before
each run: the batch (`edgedom-cli --batch OUT --quiet STACKS`, its cores and memory as it chooses them), the same
with -j 1, the `--list` lines run by `sh` one after another, and the same lines by `parallel -j 2`. Wall time from
start to end, CPU seconds and the largest maximum resident set size of the process tree (/usr/bin/time: for the
lines, the largest single command). Medians of the runs; ratios of medians of this run.

With --peaks (or alone with --peaks-only), the peak of one stack's fusion, `edgedom-cli --fused F.png --source-map
S.png`, on 8 shots of pcb10 as JPEG (8 bits) and as 16-bit PNG, each without and with --align: the largest maximum
resident set size of 3 runs less the footprint (`edgedom-cli --version`), over the pixels of a shot. These are the
figures cli/memory_budget.cpp keeps.

Usage: batch_speed.py [--build DIR] [--out DIR] [--testdata DIR] [--repeats N] [--peaks | --peaks-only]
"""
import os
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

import cv2

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fusion_runs as runs  # noqa: E402

STACKS, SHOTS = 20, 8
LIST_RATIO, PARALLEL_RATIO = 0.9, 1.0


def stack_shots(k):
    """The shots (stack name, shot number) of stack k (0..19)."""
    if k < 10:
        kept = [i for i in range(1, 11) if i not in (k + 1, (k + 5) % 10 + 1)]
        turn = k % len(kept)
        return [('pcb10', i) for i in kept[turn:] + kept[:turn]]
    turn = (k - 10) % 7
    shots = list(range(1, 8))
    shots = shots[turn:] + shots[:turn]
    shots.append(shots[0])
    if k % 2:
        shots.reverse()
    return [('pcb7', i) for i in shots]


def make_stacks(folder, testdata):
    """The twenty stack folders of links, written once; returns the folder that holds them."""
    for k in range(STACKS):
        stack = os.path.join(folder, 'stack%02d' % (k + 1))
        if os.path.isdir(stack):
            continue
        os.makedirs(stack + '.part')
        for n, (name, i) in enumerate(stack_shots(k), 1):
            source = os.path.join(testdata, 'stacks', name, '%d.jpg' % i)
            if not os.path.exists(source):
                raise SystemExit('Cannot find %s: check --testdata' % source)
            os.symlink(os.path.abspath(source), os.path.join(stack + '.part', '%02d.jpg' % n))
        os.rename(stack + '.part', stack)
    return folder


def sixteen_bit_stack(folder, testdata):
    """8 shots of pcb10 as 16-bit PNG (each 8-bit value times 257), written once."""
    os.makedirs(folder, exist_ok=True)
    files = []
    for i in range(1, SHOTS + 1):
        name = os.path.join(folder, '%d.png' % i)
        if not os.path.exists(name):
            picture = cv2.imread(os.path.join(testdata, 'stacks', 'pcb10', '%d.jpg' % i), cv2.IMREAD_COLOR)
            if picture is None or not cv2.imwrite(name + '.part.png', picture.astype('uint16') * 257):
                raise SystemExit('Cannot write %s' % name)
            os.replace(name + '.part.png', name)
        files.append(name)
    return files


def timed(command, work, shell=False):
    """Runs command under /usr/bin/time; returns wall seconds, CPU seconds and the largest resident set in bytes."""
    report = os.path.join(work, 'time.txt')
    start = time.perf_counter()
    done = subprocess.run(['/usr/bin/time', '-f', '%U %S %M', '-o', report] + (['sh', '-ec', command] if shell
                                                                                else command),
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    seconds = time.perf_counter() - start
    if done.returncode != 0:
        raise runs.RunFailed('%s failed: %s' % (command if shell else command[0], done.stderr.strip()[-600:]))
    with open(report) as f:
        user, system, kilobytes = f.read().split()[-3:]
    return seconds, float(user) + float(system), int(kilobytes) * 1024


def peaks(cli, testdata, out, work, footprint):
    """(case, bytes per pixel) of one stack's fusion, for the four cases memory_budget.cpp keeps."""
    jpegs = [os.path.join(testdata, 'stacks', 'pcb10', '%d.jpg' % i) for i in range(1, SHOTS + 1)]
    pngs = sixteen_bit_stack(os.path.join(out, 'sixteen'), testdata)
    pixels = cv2.imread(jpegs[0], cv2.IMREAD_GRAYSCALE).size
    rows = []
    for case, files, align in (('8 bits', jpegs, False), ('8 bits, --align', jpegs, True),
                               ('16 bits', pngs, False), ('16 bits, --align', pngs, True)):
        command = [cli, '--quiet', '--fused', os.path.join(work, 'f.png'), '--source-map',
                   os.path.join(work, 's.png')] + (['--align'] if align else []) + files
        peak = max(timed(command, work)[2] for _ in range(3))
        rows.append((case, (peak - footprint) / pixels))
        print('batch_speed: one stack, %s: %.1f bytes per pixel' % rows[-1], file=sys.stderr, flush=True)
    return rows


def peak_table(rows, footprint):
    lines = ['One stack\'s fusion with its source map (`edgedom-cli --fused F.png --source-map S.png`, 8 shots of '
             'pcb10, 3.1 MP): the largest maximum resident set size of 3 runs less edgedom-cli\'s footprint (%.0f MiB, '
             '`--version`), in bytes per pixel of a shot. `cli/memory_budget.cpp` keeps these, given a tenth more, '
             'to plan how many stacks fit in memory at once.' % (footprint / 2 ** 20), '']
    return lines + runs.table(['stack', 'bytes per pixel'], [[case, '%.1f' % value] for case, value in rows])


def methods(cli, stacks, outputs, lines_file):
    """The commands (name, command, is a shell line) of each method, and the jobs the batch runs."""
    batch = [cli, '--batch', outputs, '--quiet', stacks]
    return [('batch', batch, False),
            ('batch -j 1', batch[:3] + ['-j', '1'] + batch[3:], False),
            ('--list lines one after another', 'sh -e %s' % shlex.quote(lines_file), True),
            ('--list lines by parallel -j 2', 'parallel -j 2 < %s' % shlex.quote(lines_file), True)]


def measure(cli, stacks, repeats, work):
    outputs = os.path.join(work, 'out')
    os.makedirs(outputs)
    lines_file = os.path.join(work, 'lines.sh')
    with open(lines_file, 'w') as f:
        listed = subprocess.run([cli, '--batch', outputs, '--quiet', '--list', stacks], check=True,
                                capture_output=True, text=True).stdout
        f.write(listed)
    if len(listed.splitlines()) != STACKS:
        raise SystemExit('--list gave %d lines, not %d' % (len(listed.splitlines()), STACKS))
    commands = methods(cli, stacks, outputs, lines_file)
    subprocess.run(['cat'] + [os.path.join(stacks, s, f) for s in sorted(os.listdir(stacks))
                              for f in sorted(os.listdir(os.path.join(stacks, s)))],
                   stdout=subprocess.DEVNULL, check=True)  # every shot in the page cache for every timed run
    results = {name: dict(s=[], cpu=[], bytes=[]) for name, _, _ in commands}
    load_before = runs.load_average()
    for round_ in range(repeats):
        for name, command, shell in commands[round_ % len(commands):] + commands[:round_ % len(commands)]:
            shutil.rmtree(outputs)
            os.makedirs(outputs)
            seconds, cpu, peak = timed(command, work, shell)
            if len(os.listdir(outputs)) != STACKS:
                raise SystemExit('%s wrote %d pictures, not %d' % (name, len(os.listdir(outputs)), STACKS))
            for key, value in zip(('s', 'cpu', 'bytes'), (seconds, cpu, peak)):
                results[name][key].append(value)
            print('batch_speed: round %d, %s: %.2f s' % (round_ + 1, name, seconds), file=sys.stderr, flush=True)
    return commands, results, load_before, runs.load_average()


def speed_table(commands, results):
    batch = runs.median(results['batch']['s'])
    cells = []
    for name, _, _ in commands:
        r = results[name]
        wall = runs.median(r['s'])
        rounds = ', '.join('%.2f' % (b / m) for b, m in zip(results['batch']['s'], r['s']))
        cells.append([name, '%.2f' % wall, '%.2f' % (wall / STACKS), '%.2f' % runs.median(r['cpu']),
                      '%.0f MiB' % (max(r['bytes']) / 2 ** 20), '**%.3f**' % (batch / wall), rounds])
    return runs.table(['method', 'wall s', 's per stack', 'CPU s', 'peak', 'batch / method', 'each round'], cells)


def targets(results, jobs):
    ratio = lambda other: runs.median(results['batch']['s']) / runs.median(results[other]['s'])  # noqa: E731
    single = max(results['--list lines one after another']['bytes'])
    batch = max(results['batch']['bytes'])
    checks = [('batch at most %g x its --list lines one after another' % LIST_RATIO,
               ratio('--list lines one after another'), LIST_RATIO),
              ('batch no slower than its --list lines by GNU parallel -j 2', ratio('--list lines by parallel -j 2'),
               PARALLEL_RATIO),
              ('peak memory of the batch at most that of the %d stacks it runs at once (batch / %d x one stack)'
               % (jobs, jobs), batch / (jobs * single), 1.0)]
    return ['- %s: **%s** (%.3g)' % (title, 'met' if value <= limit else 'not met', value)
            for title, value, limit in checks]


def report(commands, results, repeats, loads, jobs, peak_rows, footprint):
    lines = ['Made by `bench/batch_speed.py`, started %s; load average %s before the runs, %s after. %d stacks of %d '
             'shots of 3.1 MP JPEG (pcb7 and pcb10 of the test data, each stack another subset and order), each '
             'fused to a PNG. The batch ran %d stacks at once (as it chose them from %d cores and the memory '
             'available).' % (time.strftime('%Y-%m-%d %H:%M'), loads[0], loads[1], STACKS, SHOTS, jobs,
                              os.cpu_count(), ), '',
             'Wall seconds: median of %d runs, interleaved; CPU seconds (user and system) likewise; peak: the largest '
             'maximum resident set size over the runs (of one command for the --list lines). batch / method: the '
             'ratio of the medians; each round: the batch\'s time over the method\'s in each round, which shows '
             'how steady the machine was.' % repeats, '']
    lines += speed_table(commands, results) + [''] + targets(results, jobs)
    if peak_rows:
        lines += [''] + peak_table(peak_rows, footprint)
    lines += ['', 'Reproduce: `bench/batch_speed.py --peaks --build build` (a part of `./benchmark`).']
    return '\n'.join(lines) + '\n'


def batch_jobs():
    """How many stacks the batch fuses at once here: one per core, -j's default; the memory of this machine holds
    far more stacks of 3 MP than it has cores."""
    return min(os.cpu_count() or 1, STACKS)


def main():
    parser = runs.speed_arguments(__doc__.split('\n')[0], 'batch')
    parser.add_argument('--peaks', action='store_true', help='also measure one stack\'s peak memory per pixel')
    parser.add_argument('--peaks-only', action='store_true', help='only measure one stack\'s peak memory per pixel')
    args = parser.parse_args()
    cli = os.path.join(args.build, 'cli', 'edgedom-cli')
    if not runs.have('parallel') or not os.path.isdir(args.testdata):
        print('batch_speed: needs GNU parallel (Debian package parallel) and the test data (--testdata)',
              file=sys.stderr)
        return 1
    with tempfile.TemporaryDirectory(prefix='batch_speed_') as work:
        footprint = timed([cli, '--version'], work)[2]
        peak_rows = peaks(cli, args.testdata, args.out, work, footprint) if args.peaks or args.peaks_only else []
        if args.peaks_only:
            sys.stdout.write('\n'.join(peak_table(peak_rows, footprint)) + '\n')
            return 0
        stacks = make_stacks(os.path.join(args.out, 'stacks'), args.testdata)
        commands, results, *loads = measure(cli, stacks, args.repeats, work)
        jobs = batch_jobs()
    text = report(commands, results, args.repeats, loads, jobs, peak_rows, footprint)
    runs.publish(text, os.path.join(args.out, 'batch.md'), results)
    return 0


if __name__ == '__main__':
    sys.exit(main())
