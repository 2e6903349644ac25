#!/usr/bin/python3
"""The stack window beside edgedom-cli on the same shots: the time from `edgedom FILE...` started to the fused picture
shown, the window's peak memory, and how soon Escape stops its work.

Stack: the 16 JPEGs of 12.6 MP that bench/fusion_speed.py makes from the real stack pcb10 (kept under
OUT/speed/pcb10_2x2). The window runs under an Xvfb of its own (a free display it chooses itself), with a scratch
settings folder (alignment off). "Shown" is the moment its title loses " - fusing", which the window does right after
putting the fused picture in its viewer, polled every 20 ms with xdotool. Peak memory: the maximum resident set size
from /usr/bin/time, the window quit with Ctrl+Q once the picture is shown. edgedom-cli writes an uncompressed TIFF
(`--quiet --fused out.tif`). Runs alternate between the two, medians are reported.

Cancel: Escape is sent when the window is 40 % into the fusion (by the tool's median time); the work has stopped at
the last moment any thread of the process used CPU (summed from /proc/PID/task/*/stat, sampled every 5 ms, in the
kernel's 10 ms ticks) before 300 ms without any.

Usage: stack_window.py [--build DIR] [--out DIR] [--testdata DIR] [--repeats N]
"""
import glob
import os
import re
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fusion_runs as runs  # noqa: E402
import fusion_speed  # noqa: E402

TIME_RATIO, BYTES_PER_PIXEL, CANCEL_SECONDS = 1.3, 64, 0.25


class Display:
    """An Xvfb on a display it picks itself, ended with the benchmark."""

    def __enter__(self):
        read, write = os.pipe()
        self.server = subprocess.Popen(['Xvfb', '-displayfd', str(write), '-screen', '0', '1600x1000x24',
                                        '-nolisten', 'tcp'], pass_fds=(write,), stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as pipe:
            number = pipe.readline().strip()
        if not number:
            raise SystemExit('stack_window: Xvfb did not start')
        return ':' + number

    def __exit__(self, *_):
        self.server.terminate()
        self.server.wait()


def window_id(title, env):
    """The id of the window whose whole title is title, or None."""
    found = subprocess.run(['xdotool', 'search', '--name', '^%s$' % re.escape(title)], env=env,
                           capture_output=True, text=True).stdout.split()
    return found[0] if found else None


def wait_for_window(title, env, process, limit=300):
    """Polls every 20 ms for the window titled title; its id, or SystemExit when it does not come."""
    deadline = time.perf_counter() + limit
    while time.perf_counter() < deadline:
        found = window_id(title, env)
        if found:
            return found
        if process.poll() is not None:
            raise SystemExit('stack_window: edgedom ended (status %d) before its window said %s'
                             % (process.returncode, title))
        time.sleep(0.02)
    raise SystemExit('stack_window: no window titled %s within %d s' % (title, limit))


def quit_window(wid, env, process):
    subprocess.run(['xdotool', 'windowfocus', '--sync', wid, 'key', 'ctrl+q'], env=env, check=True)
    process.wait(timeout=60)


def titles(files):
    """The window's titles while it fuses the files and once it has."""
    stack = '%s (%d shots)' % (os.path.basename(files[0]), len(files))
    return stack + ' - fusing - edgedom stack', stack + ' - edgedom stack'


def window_run(edgedom, files, env, work):
    """Starts the window on the files; returns the seconds until the fused picture shows and the peak memory."""
    report = os.path.join(work, 'window-time.txt')
    start = time.perf_counter()
    process = subprocess.Popen(['/usr/bin/time', '-f', '%M', '-o', report, edgedom] + files, env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wid = wait_for_window(titles(files)[1], env, process)
    shown = time.perf_counter() - start
    quit_window(wid, env, process)
    with open(report) as f:
        return shown, int(f.read().split()[-1]) * 1024


def cpu_ticks(pid):
    """The CPU ticks (user and system) every thread of the process has used so far."""
    total = 0
    for stat in glob.glob('/proc/%d/task/*/stat' % pid):
        try:
            with open(stat) as f:
                fields = f.read().rsplit(')', 1)[1].split()
            total += int(fields[11]) + int(fields[12])
        except (OSError, IndexError):
            pass  # a thread that ended meanwhile
    return total


def cancel_run(edgedom, files, env, after):
    """Starts the window, sends Escape after `after` seconds of fusing; returns the seconds until the work stopped."""
    process = subprocess.Popen([edgedom] + files, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wid = wait_for_window(titles(files)[0], env, process)
    time.sleep(after)
    subprocess.run(['xdotool', 'windowfocus', '--sync', wid, 'key', 'Escape'], env=env, check=True)
    pressed = time.perf_counter()
    last_busy, ticks = pressed, cpu_ticks(process.pid)
    while time.perf_counter() - last_busy < 0.3 and time.perf_counter() - pressed < 10:
        time.sleep(0.005)
        now = cpu_ticks(process.pid)
        if now != ticks:
            last_busy, ticks = time.perf_counter(), now
    if window_id(titles(files)[1], env) is None:
        raise SystemExit('stack_window: the window did not stop fusing on Escape')
    quit_window(wid, env, process)
    return last_busy - pressed


def measure(tools, files, repeats, work, env):
    row = dict(shots=len(files), pixels=None, cli_s=[], window_s=[], cli_bytes=[], window_bytes=[], cancel_s=[],
               load_before=runs.load_average())
    fusion_speed.timed([tools['cli'], '--quiet', '--fused', os.path.join(work, 'warm.tif')] + files, work)
    for _ in range(repeats):
        seconds, _, peak = fusion_speed.timed([tools['cli'], '--quiet', '--fused', os.path.join(work, 'out.tif')]
                                              + files, work)
        row['cli_s'].append(seconds)
        row['cli_bytes'].append(peak)
        seconds, peak = window_run(tools['window'], files, env, work)
        row['window_s'].append(seconds)
        row['window_bytes'].append(peak)
    for _ in range(repeats):
        row['cancel_s'].append(cancel_run(tools['window'], files, env, 0.4 * runs.median(row['cli_s'])))
    row['load_after'] = runs.load_average()
    return row


def report(row, pixels, repeats, start_load):
    cli, window = runs.median(row['cli_s']), runs.median(row['window_s'])
    cli_peak, window_peak = max(row['cli_bytes']), max(row['window_bytes'])
    cancel = max(row['cancel_s'])
    lines = ['Made by `bench/stack_window.py`, started %s (load average then %s). Medians of %d runs, alternating; '
             'the largest resident set; the slowest of %d cancels.' % (time.strftime('%Y-%m-%d %H:%M'), start_load,
                                                                         repeats, repeats), '']
    lines += runs.table(['stack', 'N', 'MP', 'edgedom-cli s', 'window s', 'window / tool', 'tool bytes/px',
                         'window bytes/px', 'Escape to stopped s'],
                        [['pcb10 tiled 2 x 2, JPEG', str(row['shots']), '%.1f' % (pixels / 1e6), '%.2f' % cli,
                          '%.2f' % window, '**%.2f**' % (window / cli), '%.1f' % (cli_peak / pixels),
                          '**%.1f**' % (window_peak / pixels), '**%.2f**' % cancel]])
    lines += ['', fusion_speed.target('the window at most %g x edgedom-cli' % TIME_RATIO,
                                      [('time ratio', window / cli, TIME_RATIO)]),
              fusion_speed.target('the window\'s peak memory at most %d bytes per pixel of one shot' % BYTES_PER_PIXEL,
                                  [('bytes/px', window_peak / pixels, BYTES_PER_PIXEL)]),
              fusion_speed.target('Escape stops the work within %g s' % CANCEL_SECONDS,
                                  [('seconds', cancel, CANCEL_SECONDS)])]
    return '\n'.join(lines) + '\n'


def main():
    parser = runs.speed_arguments(__doc__.split('\n')[0], 'fusion')
    args = parser.parse_args()
    tools = dict(cli=os.path.join(args.build, 'cli', 'edgedom-cli'), window=os.path.join(args.build, 'app', 'edgedom'))
    if not runs.have('Xvfb') or not runs.have('xdotool') or not os.path.isdir(args.testdata):
        print('stack_window: needs Xvfb, xdotool (Debian xvfb, xdotool) and the test data (--testdata)',
              file=sys.stderr)
        return 1
    files = fusion_speed.tiled_pcb10(os.path.join(args.out, 'speed', 'pcb10_2x2'), args.testdata)
    pixels = fusion_speed.cv2.imread(files[0], fusion_speed.cv2.IMREAD_GRAYSCALE).size
    start_load = runs.load_average()
    with tempfile.TemporaryDirectory(prefix='stack_window_') as work, Display() as display:
        env = dict(os.environ, DISPLAY=display, XDG_CONFIG_HOME=os.path.join(work, 'settings'),
                   QT_QPA_PLATFORM='xcb')
        row = measure(tools, files, args.repeats, work, env)
    runs.publish(report(row, pixels, args.repeats, start_load), os.path.join(args.out, 'stack_window.md'), row)
    return 0


if __name__ == '__main__':
    sys.exit(main())
