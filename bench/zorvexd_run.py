#!/usr/bin/env python3
"""Download benchmark: zorvexd against the local INN of scripts/inn-up.sh.

  bench/zorvexd_run.sh [--mb N] [--file-mb N] [--lines N] [--group NAME]
                       [--xover 0|1] [--connections N] [--seed S]
                       [--in-order] [--style bracket|plain] [--zorvexd PATH]
                       [--env FILE] [--work DIR] [--keep] [--timeout S]

Posts N MB (default 300; 1 MB = 1,000,000 bytes) of multipart yEnc to one
group: files of --file-mb MB (default 25) of seeded pseudo-random bytes, the
same every run, in parts of --lines data lines of 128 characters (default
3000).  They go out the way uploaders post (scripts/post-uploads.py): over
--connections connections at once (default 4), the parts of all files
shuffled together (--seed; --in-order turns it off), every article with the
same Date, subjects like  Zorvex bench [RUN] [1/12] - "bench_000.bin" yEnc
(01/66).  Then writes a fresh home directory whose vantrel.ini lists only
that group, with the pointer just below the new posts, runs
`zorvexd -auto -autoexit` there and prints the figures of that run: MB,
wall and CPU seconds, MB/s and how many decoded files match their sha256.
Wall time runs from start to exit and so holds the one-second timer of the
automatic exit; the "walk" line gives the time to the end of the walk.
Exits non-zero when zorvexd fails or any file is missing, differs or has
no "[RECEIVED]" line.

Python 3 standard library only.  Server and port come from inn.env
($ZORVEX_INN_DIR/inn.env, else /tmp/zorvex-inn/inn.env); any address that
is not loopback is refused.  The group, alt.binaries.test.zorvex.bench by
default, is created on the local instance when missing (ctlinnd as user
news: root or sudo); being none of inn.env's groups, it is never walked by
the tests.  The posts stay on the server until inn-down.sh --purge; the
home directory is removed unless --keep.
"""

import argparse
import glob
import hashlib
import importlib.util
import ipaddress
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
MB = 1000 * 1000
LINE_LEN = 128


def load_uploader():
    """scripts/post-uploads.py as a module: the uploader-style poster, and
    through it post-samples.py's NNTP client and env reader."""
    found = importlib.util.spec_from_file_location(
        'post_uploads', os.path.join(REPO, 'scripts', 'post-uploads.py'))
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


pu = load_uploader()
ps = pu.ps


def build_kind(program):
    """'Release', 'RelWithDebInfo', ... from the CMake cache beside the
    program, with ' + sanitizers' when they are on; '' when unknown."""
    kind, sanitize = '', False
    try:
        with open(os.path.join(os.path.dirname(program), 'CMakeCache.txt')) as f:
            for line in f:
                if line.startswith('CMAKE_BUILD_TYPE:'):
                    kind = line.split('=', 1)[1].strip()
                elif line.startswith('ZORVEX_SANITIZE:'):
                    sanitize = line.split('=', 1)[1].strip().upper() in ('ON', '1', 'TRUE')
    except OSError:
        pass
    return kind + (' + sanitizers' if sanitize else '')


def find_zorvexd():
    """The newest build*/zorvexd of an optimised build without sanitizers."""
    found = [p for p in glob.glob(os.path.join(REPO, 'build*', 'zorvexd')) if os.access(p, os.X_OK)
             and build_kind(p) in ('Release', 'RelWithDebInfo', 'MinSizeRel')]
    return max(found, key=os.path.getmtime) if found else None


def write_ini(path, host, port, download, group, pointer, xover):
    with open(path, 'w') as f:
        f.write('[connection]\nhost=%s:%d\n' % (host, port))
        f.write('[paths]\ndownload=%s\n' % download)
        f.write('[miscpref]\npathexpand=3\n')
        f.write('[misc]\nmaintain_newsrc=0\nxover=%d\nminfreespace=0\n' % xover)
        f.write('[timeout]\ndelay=60\n')
        f.write('[log]\ntrim_old_logs=0\n')
        f.write('[grouplist]\n0=%s 1 %d\n' % (group, pointer))


def high_water_kb(pid):
    """VmHWM of a running process, 0 when unreadable.  The rusage of a
    reaped child is no use here: its maxrss counts the forking parent."""
    try:
        with open('/proc/%d/status' % pid) as f:
            for line in f:
                if line.startswith('VmHWM:'):
                    return int(line.split()[1])
    except (OSError, ValueError):
        pass
    return 0


class StdoutWatch:
    """Copies the child's stdout to a file and notes when the walk ended:
    zorvexd flushes every line, and after "Finished all groups" only the
    exit timer and the shutdown remain."""

    def __init__(self, pipe, path, start):
        self.start, self.finished, self.last_log = start, None, None
        self.thread = threading.Thread(target=self._copy, args=(pipe, path), daemon=True)
        self.thread.start()

    def _copy(self, pipe, path):
        with open(path, 'wb') as out:
            for line in pipe:
                out.write(line)
                now = time.monotonic() - self.start
                if line.startswith(b'log: '):
                    self.last_log = now
                elif self.finished is None and b'Finished all groups' in line:
                    self.finished = now


def run_timed(argv, cwd, out_path, err_path, timeout):
    """-> (exit code or None when killed, wall seconds, rusage of the child,
    peak resident kB as last sampled, the StdoutWatch)."""
    peak = 0
    with open(err_path, 'wb') as err:
        start = time.monotonic()
        child = subprocess.Popen(argv, cwd=cwd, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=err)
        watch = StdoutWatch(child.stdout, out_path, start)
        polls = 0
        while True:
            pid, status, usage = os.wait4(child.pid, os.WNOHANG)
            if pid:
                break
            if time.monotonic() - start > timeout:
                child.kill()
                pid, status, usage = os.wait4(child.pid, 0)
                break
            polls += 1
            if polls % 50 == 1:
                peak = max(peak, high_water_kb(child.pid))
            time.sleep(0.005)
        wall = time.monotonic() - start
    watch.thread.join(10)
    child.stdout.close()
    child.returncode = os.waitstatus_to_exitcode(status)
    killed = os.WIFSIGNALED(status) and os.WTERMSIG(status) == 9 and wall > timeout
    return (None if killed else child.returncode), wall, usage, peak, watch


def tail(path, n=15):
    try:
        with open(path, 'rb') as f:
            return b''.join(f.readlines()[-n:]).decode('latin-1')
    except OSError:
        return ''


def main():
    default_env = os.path.join(os.environ.get('ZORVEX_INN_DIR', '/tmp/zorvex-inn'), 'inn.env')
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--mb', type=float, default=300, help='MB to post (default %(default)s)')
    ap.add_argument('--file-mb', type=float, default=25, help='MB per file (default %(default)s)')
    ap.add_argument('--lines', type=int, default=3000, help='data lines per part (default %(default)s)')
    ap.add_argument('--group', default='alt.binaries.test.zorvex.bench',
                    help='made on the local instance when missing (default %(default)s)')
    ap.add_argument('--xover', type=int, choices=(0, 1), default=1, help='[misc] xover (default 1)')
    ap.add_argument('--connections', type=int, default=4,
                    help='post over this many connections at once (default %(default)s)')
    ap.add_argument('--seed', type=int, default=1, help='seed of the part shuffle (default %(default)s)')
    ap.add_argument('--in-order', action='store_true', help='post the parts in order, not shuffled')
    ap.add_argument('--style', choices=('bracket', 'plain'), default='bracket',
                    help='subjects [1/4] - "name" yEnc (01/70), or "name" yEnc (1/70) '
                    '(default %(default)s)')
    ap.add_argument('--zorvexd', default=os.environ.get('ZORVEXD') or find_zorvexd(),
                    help='the program (default: $ZORVEXD, else the newest optimised '
                    'build*/zorvexd without sanitizers)')
    ap.add_argument('--env', default=default_env, help='inn.env file (default %(default)s)')
    ap.add_argument('--work', default=None, help='make the home directory under DIR (default /tmp)')
    ap.add_argument('--keep', action='store_true', help='keep the home directory')
    ap.add_argument('--timeout', type=float, default=1800, help='kill zorvexd after S seconds')
    args = ap.parse_args()

    if not args.zorvexd or not os.access(args.zorvexd, os.X_OK):
        print('zorvexd_run: no zorvexd (build it, or give --zorvexd PATH)', file=sys.stderr)
        return 2
    if args.mb <= 0 or args.file_mb <= 0 or args.lines <= 0 or args.connections <= 0:
        print('zorvexd_run: --mb, --file-mb, --lines and --connections must be positive',
              file=sys.stderr)
        return 2
    env = ps.read_env(args.env)
    if 'ZORVEX_INN_PORT' not in env:
        print('zorvexd_run: no server: %s is missing; start one with scripts/inn-up.sh' % args.env,
              file=sys.stderr)
        return 2
    host, port = env.get('ZORVEX_INN_HOST', '127.0.0.1'), int(env['ZORVEX_INN_PORT'])
    if not ipaddress.ip_address(host).is_loopback:
        print('zorvexd_run: refusing non-loopback host %s' % host, file=sys.stderr)
        return 2

    total = int(args.mb * MB)
    per_file = max(1, int(args.file_mb * MB))
    sizes = [per_file] * (total // per_file) + ([total % per_file] if total % per_file else [])
    files = [('bench_%03d.bin' % i, pu.random_bytes(7000 + i, size))
             for i, size in enumerate(sizes)]
    sums = {name: hashlib.sha256(data).hexdigest() for name, data in files}
    run = '%x.%x' % (int(time.time() * 1000), os.getpid())

    if pu.ensure_group(host, port, env, args.group):
        print('created group %s' % args.group)
    uploads = [pu.Upload(name, data, part_size=args.lines * LINE_LEN) for name, data in files]
    planned = pu.plan_articles(uploads, args.style, 'Zorvex bench [%s]' % run)
    conn = ps.Nntp(host, port)
    _, _, pointer = pu.group_range(conn, args.group)
    articles, wire, post_seconds = pu.post_parallel(
        host, port, args.group, planned, args.connections, args.seed,
        'Zorvex Bench <bench@zorvex.invalid>', run, shuffle=not args.in_order)
    _, _, last = pu.group_range(conn, args.group)
    conn.quit()
    del files, uploads, planned
    print('posted:   %.1f MB in %d files, %d articles (%.1f MB on the wire) to %s in %.1f s '
          'over %d connections, %s, one Date'
          % (total / MB, len(sizes), articles, wire / MB, args.group, post_seconds,
             args.connections, 'in order' if args.in_order else 'shuffled (seed %d)' % args.seed))
    if last - pointer != articles:
        print('note: %s grew by %d articles while %d were posted' % (args.group, last - pointer, articles))

    home = tempfile.mkdtemp(prefix='zorvexd-bench-', dir=args.work)
    download = os.path.join(home, 'dl')
    write_ini(os.path.join(home, 'vantrel.ini'), host, port, download, args.group, pointer,
              args.xover)
    out_path, err_path = os.path.join(home, 'zorvexd.out'), os.path.join(home, 'zorvexd.err')
    code, wall, usage, peak_kb, watch = run_timed([os.path.abspath(args.zorvexd), '-auto', '-autoexit'], home,
                                  out_path, err_path, args.timeout)

    failures = []
    if code is None:
        failures.append('killed after %.0f s' % args.timeout)
    elif code != 0:
        failures.append('exit code %d' % code)
    verified = 0
    group_dir = os.path.join(download, args.group)
    for name in sorted(sums):
        path = os.path.join(group_dir, name)
        h = hashlib.sha256()
        try:
            with open(path, 'rb') as f:
                for block in iter(lambda: f.read(1 << 20), b''):
                    h.update(block)
        except OSError as e:
            failures.append('%s: %s' % (name, e.strerror))
            continue
        if h.hexdigest() == sums[name]:
            verified += 1
        else:
            failures.append('%s: sha256 differs' % name)
    extra = sorted(set(os.listdir(group_dir) if os.path.isdir(group_dir) else []) - set(sums))
    if extra:
        failures.append('unexpected files: %s' % ' '.join(extra))
    logged = {}
    for log in glob.glob(os.path.join(home, 'news[0-9][0-9][0-9][0-9].log')):
        with open(log, 'rb') as f:
            for line in f:
                m = re.match(rb'(\[[A-Z -]+\](?: \(\d+ errors\))?) (\S+)', line)
                if m:
                    logged[os.path.basename(m.group(2).decode('latin-1'))] = m.group(1).decode()
    bad_tags = sorted('%s %s' % (logged.get(n, 'no log line'), n)
                      for n in sums if logged.get(n) != '[RECEIVED]')
    if bad_tags:
        failures.append('log: ' + ', '.join(bad_tags))

    cpu = usage.ru_utime + usage.ru_stime
    print('zorvexd:  %s (%s)' % (args.zorvexd, build_kind(args.zorvexd) or 'build type unknown'))
    print('MB:       %.1f' % (total / MB))
    print('wall:     %.2f s' % wall)
    print('CPU:      %.2f s (user %.2f, sys %.2f; %.0f%% of wall)'
          % (cpu, usage.ru_utime, usage.ru_stime, 100 * cpu / wall if wall else 0))
    print('MB/s:     %.1f' % (total / MB / wall if wall else 0))
    if watch.finished:
        # The rest is the one-second exit timer and the shutdown saves.
        print('walk:     %.2f s to "Finished all groups" (%.1f MB/s), last file logged at %.2f s'
              % (watch.finished, total / MB / watch.finished, watch.last_log or 0))
    print('peak RSS: %.1f MB (sampled)' % (peak_kb * 1024 / MB))
    print('verified: %d of %d files by sha256' % (verified, len(sums)))

    if failures:
        print('FAILED:', file=sys.stderr)
        for f in failures:
            print('  ' + f, file=sys.stderr)
        print('--- zorvexd stdout (tail) ---\n%s--- zorvexd stderr (tail) ---\n%s'
              % (tail(out_path), tail(err_path)), file=sys.stderr)
        print('home directory kept: %s' % home, file=sys.stderr)
        return 1
    if args.keep:
        print('home:     %s' % home)
    else:
        shutil.rmtree(home)
    return 0


if __name__ == '__main__':
    try:
        sys.exit(main())
    except (ps.NntpError, OSError) as e:
        print('zorvexd_run: error: %s' % e, file=sys.stderr)
        sys.exit(2)
