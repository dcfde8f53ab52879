#!/usr/bin/env python3
"""Post files to the local test news server the way Usenet uploaders do.

Python 3 standard library only; the NNTP client is the one of
post-samples.py beside this script, which refuses any host that is not a
loopback address.

  scripts/post-uploads.py [--env FILE] [--host H] [--port P] [--group G]
                          [--connections N] [--part-size BYTES] [--seed S]
                          [--style bracket|plain] [--drop [NAME:]N,...]
                          [--tag TEXT] [--poster TEXT] [--no-shuffle]
                          [FILE... | --set | --broken-set] [--out DIR]

Every file goes out as multipart yEnc (parts of --part-size bytes, default
716800 like a "700K" uploader) over several connections at once (threads,
--connections, default 4).  The parts of all files are shuffled together
(seeded, so the order handed to the connections is the same every run) and
every article carries the same Date header, as fast uploaders produce: a
downloader cannot order them by arrival or by date.  Subjects take the
common shapes

  bracket:  TAG [1/3] - "name" yEnc (01/70)
  plain:    TAG "name" yEnc (1/70)

--drop leaves parts out (a post with a gap): "3" drops part 3 of every
file, "name:3" only of that file.

--set posts the upload set instead of FILEs: a 50 MB file in 70 parts, a
file of 12 parts with its third missing, a JPEG whose bad comment segment
falls in part 2, a file of 11 parts with a hostile but valid name (these
two with unpadded part numbers), and 44-byte files uuencoded and
xxencoded.  --broken-set posts three-part uuencoded, xxencoded and yEnc
files with a part posted twice, or their first, middle or last part left
out.  With --out DIR it writes files/, SHA256SUMS and expect.tsv (name,
expect, group) as post-samples.py does; expect is 'received',
'incomplete', 'virus' or 'nofile' (a post without its first part).

The group, alt.binaries.test.zorvex.uploads by default, is made on the local
instance when missing (ctlinnd as user news: root or sudo); with no FILE and
no --set that is all the script does.
"""

import argparse
import email.utils
import hashlib
import importlib.util
import os
import queue
import random
import subprocess
import sys
import threading
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_GROUP = 'alt.binaries.test.zorvex.uploads'
DEFAULT_POSTER = 'Zorvex Uploader <uploader@zorvex.invalid>'
PART_SIZE = 700 * 1024
LINE_LEN = 128


def load_samples_module():
    found = importlib.util.spec_from_file_location('post_samples',
                                                   os.path.join(HERE, 'post-samples.py'))
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


ps = load_samples_module()
NntpError = ps.NntpError

# The byte-wise encoder in post-samples.py would take minutes for hundreds
# of MB: whole parts go through translate() and replace() instead.
SHIFT = bytes((b + 42) & 0xFF for b in range(256))
ESCAPES = [(b'=', b'=}'), (b'\x00', b'=@'), (b'\n', b'=J'), (b'\r', b'=M')]


def yenc_lines(data, line_len=LINE_LEN):
    """yEnc data lines of line_len characters (one more when an escape pair
    would be split); TAB and SPACE escaped at either end of a line.  A '.'
    at a line start is left to the NNTP layer's dot-stuffing."""
    s = data.translate(SHIFT)
    for raw, esc in ESCAPES:
        s = s.replace(raw, esc)
    lines = []
    n, pos = len(s), 0
    while pos < n:
        end = pos + line_len
        # '=' only ever starts an escape here: never end a line on one.
        if end < n and s[end - 1] == 0x3D:
            end += 1
        line = s[pos:end]
        if line[0] in (0x09, 0x20):
            line = bytes((0x3D, line[0] + 64)) + line[1:]
        if line[-1] in (0x09, 0x20):
            line = line[:-1] + bytes((0x3D, line[-1] + 64))
        lines.append(line)
        pos = end
    return lines


def crc_hex(data):
    return '%08x' % (zlib.crc32(data) & 0xFFFFFFFF)


# ----------------------------------------------------------------- group --

def ensure_group(host, port, env, group):
    """Creates the group on the local instance when it is missing, with
    ctlinnd as user news the way inn-up.sh makes its groups.  -> True when
    it had to be made."""
    conn = ps.Nntp(host, port)
    code, _ = conn.cmd('GROUP ' + group)
    conn.quit()
    if code == 211:
        return False
    conf = os.path.join(env.get('ZORVEX_INN_DIR', ''), 'etc', 'inn.conf')
    if not os.path.isfile(conf):
        raise NntpError('no group %s and no %s to create it with' % (group, conf))
    cmd = ['setpriv', '--reuid=news', '--regid=news', '--init-groups', 'env', 'INNCONF=' + conf,
           '/usr/lib/news/bin/ctlinnd', '-s', '-t', '30', 'newgroup', group, 'y',
           'zorvex@localdomain']
    if os.geteuid() != 0:
        cmd = ['sudo', '-n'] + cmd
    done = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
    if done.returncode != 0:
        raise NntpError('could not create %s (%s); run as root or give another group'
                        % (group, done.stdout.decode('latin-1').strip()))
    return True


def group_range(conn, group):
    """-> (count, first, last) of the group."""
    code, resp = conn.cmd('GROUP ' + group)
    if code != 211:
        raise NntpError('GROUP %s: %s' % (group, resp))
    _, count, first, last = resp.split()[:4]
    return int(count), int(first), int(last)


# -------------------------------------------------------------- articles --

class Upload:
    """One file to post: its bytes, how, and what a downloader should make
    of it."""

    def __init__(self, name, data, encoding='yenc', part_size=PART_SIZE, drop=(),
                 expect='received', style=None, repeat=()):
        self.name, self.data, self.encoding = name, data, encoding
        self.part_size, self.drop, self.expect = part_size, set(drop), expect
        self.style = style  # subject shape; None: the run's
        self.repeat = set(repeat)  # parts posted twice
        if encoding != 'yenc' and self.parts() > 1 and part_size % 45:
            raise NntpError('%s: uu/xx parts must hold whole lines (45 bytes each)' % name)

    def parts(self):
        return max(1, (len(self.data) + self.part_size - 1) // self.part_size)


def subject(style, tag, filenum, files, name, part, parts):
    pre = tag + ' ' if tag else ''
    if style == 'plain':
        return '%s"%s" yEnc (%d/%d)' % (pre, name, part, parts)
    return '%s[%d/%d] - "%s" yEnc (%0*d/%d)' % (pre, filenum, files, name,
                                                 len(str(parts)), part, parts)


def yenc_body(up, part, parts):
    begin = (part - 1) * up.part_size
    chunk = up.data[begin:begin + up.part_size]
    name = up.name.encode('utf-8')
    if parts == 1:
        return ([b'=ybegin line=%d size=%d name=%s' % (LINE_LEN, len(up.data), name)]
                + yenc_lines(chunk)
                + [b'=yend size=%d crc32=%s' % (len(chunk), crc_hex(chunk).encode())])
    tail = b'=yend size=%d part=%d pcrc32=%s' % (len(chunk), part, crc_hex(chunk).encode())
    if part == parts:
        tail += b' crc32=' + crc_hex(up.data).encode()
    return ([b'=ybegin part=%d total=%d line=%d size=%d name=%s'
             % (part, parts, LINE_LEN, len(up.data), name),
             b'=ypart begin=%d end=%d' % (begin + 1, begin + len(chunk))]
            + yenc_lines(chunk) + [tail])


def uu_body(up, part=1, parts=1):
    """The begin line in the first article, the data lines of this part,
    the zero-length line and end in the last."""
    xx = up.encoding == 'xxencode'
    begin = (part - 1) * up.part_size
    lines = ps.uu_lines(up.data[begin:begin + up.part_size], ps.UU_TO_XX if xx else None)
    if part == 1:
        lines = [b'begin 644 ' + up.name.encode('utf-8')] + lines
    if part == parts:
        lines = lines + [b'+' if xx else b'`', b'end']
    return lines


def plan_articles(uploads, style, tag):
    """-> list of (upload, part, subject, function giving the body lines),
    dropped parts left out.  Bodies are made only when posted, so hundreds
    of MB are never held encoded at once."""
    out = []
    for filenum, up in enumerate(uploads, 1):
        parts = up.parts()
        for part in range(1, parts + 1):
            if part in up.drop:
                continue
            if up.encoding == 'yenc':
                subj = subject(up.style or style, tag, filenum, len(uploads), up.name, part,
                               parts)
                body = (lambda up=up, part=part, parts=parts: yenc_body(up, part, parts))
            else:
                pre = tag + ' ' if tag else ''
                subj = '%s[%d/%d] - "%s" (%d/%d)' % (pre, filenum, len(uploads), up.name, part,
                                                     parts)
                body = (lambda up=up, part=part, parts=parts: uu_body(up, part, parts))
            for _ in range(2 if part in up.repeat else 1):
                out.append((up, part, subj, body))
    return out


# --------------------------------------------------------------- posting --

def post_parallel(host, port, group, articles, connections, seed, poster, run, date=None,
                  user=None, password=None, shuffle=True):
    """Posts the articles over `connections` connections at once, in an
    order shuffled by `seed`, each with the same Date.  -> (articles,
    bytes sent in bodies, seconds)."""
    order = list(articles)
    if shuffle:
        random.Random(seed).shuffle(order)
    date = date or email.utils.formatdate(usegmt=True)
    work = queue.Queue()
    for n, art in enumerate(order):
        work.put((n, art))
    errors, sent = [], [0, 0]
    lock = threading.Lock()

    def worker():
        try:
            conn = ps.Nntp(host, port)
        except (NntpError, OSError) as e:
            errors.append(str(e))
            return
        try:
            while not errors:
                try:
                    n, (up, part, subj, make_body) = work.get_nowait()
                except queue.Empty:
                    break
                body = make_body()
                head = [('From', poster), ('Newsgroups', group), ('Subject', subj),
                        ('Date', date),
                        ('Message-ID', '<up.%s.%d.%d@zorvex.invalid>' % (run, n, part)),
                        # INN serves XHDR Lines from the article itself.
                        ('Lines', str(len(body)))]
                lines = [('%s: %s' % kv).encode('utf-8') for kv in head]
                try:
                    conn.post(lines, body)
                except NntpError as e:
                    if '480' not in str(e) or not user:
                        raise
                    conn.login(user, password or '')
                    conn.post(lines, body)
                with lock:
                    sent[0] += 1
                    sent[1] += sum(len(line) + 2 for line in body)
        except (NntpError, OSError) as e:
            errors.append('%s' % e)
        finally:
            conn.quit()

    t0 = time.monotonic()
    threads = [threading.Thread(target=worker) for _ in range(max(1, connections))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    if errors:
        raise NntpError(errors[0])
    return sent[0], sent[1], time.monotonic() - t0


# ------------------------------------------------------------ upload set --

# A name that is awkward for shells, subject parsers and log readers, yet a
# plain file name: no slash, backslash, control character or double quote.
HOSTILE_NAME = "-rf * [01] (copy) & 'Tom's' #1 $HOME;.part01.bin"

JPEG_PART_SIZE = 4000
JPEG_BAD_AT = 6000      # offset of FF FE 00 00: in part 2


def random_bytes(seed, size):
    # In slices: randbytes takes no more than 256 MB at once.
    rng, step = random.Random(seed), 1 << 24
    data = b''.join(rng.randbytes(min(step, size - at)) for at in range(0, size, step))
    # A file that opened like a JPEG would meet the virus check.
    if data[:2] == b'\xff\xd8':
        data = b'\x00' + data[1:]
    return data


def tiny_jpeg_tail():
    """The rest of a valid 8x8 grey baseline JPEG after SOI and APP0: one
    quantisation table, the frame, one-code Huffman tables and one block
    whose DC difference and AC end-of-block are both the code '0'."""
    dqt = b'\xff\xdb\x00\x43\x00' + b'\x01' * 64
    sof = b'\xff\xc0\x00\x0b\x08\x00\x08\x00\x08\x01\x01\x11\x00'
    dht_dc = b'\xff\xc4\x00\x14\x00' + b'\x01' + b'\x00' * 15 + b'\x00'
    dht_ac = b'\xff\xc4\x00\x14\x10' + b'\x01' + b'\x00' * 15 + b'\x00'
    sos = b'\xff\xda\x00\x08\x01\x01\x00\x00\x3f\x00'
    return dqt + sof + dht_dc + dht_ac + sos + b'\x3f' + b'\xff\xd9'


def comment_segment(payload):
    return b'\xff\xfe' + (len(payload) + 2).to_bytes(2, 'big') + payload


def virus_jpeg():
    """A JFIF picture with a comment segment of length 0 at JPEG_BAD_AT,
    so the part that carries it is the second, not the first."""
    head = (b'\xff\xd8' + b'\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00')
    rnd = random.Random(2001)
    filler = bytes(rnd.choice(b'abcdefghijklmnopqrstuvwxyz ') for _ in range(JPEG_BAD_AT - len(head) - 4))
    data = head + comment_segment(filler) + b'\xff\xfe\x00\x00'
    assert data.index(b'\xff\xfe\x00\x00') == JPEG_BAD_AT
    # A second, valid comment takes the picture into a third part.
    data += comment_segment(bytes(rnd.choice(b'0123456789') for _ in range(3000)))
    return data + tiny_jpeg_tail()


def upload_set():
    jpeg = virus_jpeg()
    assert JPEG_PART_SIZE <= JPEG_BAD_AT and JPEG_BAD_AT + 4 <= 2 * JPEG_PART_SIZE
    return [
        # 70 parts of 700 KiB, the last one short.
        Upload('upload_50mb.bin', random_bytes(3001, 50 * 1000 * 1000)),
        # Unpadded part numbers: "(10/12)" sorts before "(2/12)" as text.
        Upload('gap.bin', random_bytes(3002, 12 * 50000), part_size=50000, drop=[3],
               expect='incomplete', style='plain'),
        Upload('picture.jpg', jpeg, part_size=JPEG_PART_SIZE, expect='virus'),
        Upload(HOSTILE_NAME, random_bytes(3003, 11 * 30000 - 7), part_size=30000,
               style='plain'),
        # One data line each, length 44: 'L' in uuencode, 'g' in xxencode.
        Upload('uu44.bin', random_bytes(3004, 44), encoding='uuencode'),
        Upload('xx44.bin', random_bytes(3005, 44), encoding='xxencode'),
    ]


# Posts that break on the way, 13,500 bytes each in three parts of 100
# lines: a part missing at the start, the middle or the end, a part posted
# twice, in uuencode, xxencode and yEnc; all shuffled together, so the posts
# of the one poster interleave.
BROKEN_PART = 4500


def broken_set():
    out = []
    for n, (enc, short) in enumerate((('uuencode', 'uu'), ('xxencode', 'xx'), ('yenc', 'y'))):
        def up(what, seed, **kw):
            return Upload('%s_%s.bin' % (short, what), random_bytes(4000 + 10 * n + seed, 13500),
                          encoding=enc, part_size=BROKEN_PART, **kw)
        out += [
            up('twice', 1, repeat=[2]),
            up('nofirst', 2, drop=[1], expect='nofile'),
            up('nomiddle', 3, drop=[2], expect='incomplete'),
            up('nolast', 4, drop=[3], expect='incomplete'),
        ]
    return out


def write_out(out, uploads, group):
    fdir = os.path.join(out, 'files')
    os.makedirs(fdir, exist_ok=True)
    for up in uploads:
        with open(os.path.join(fdir, up.name), 'wb') as f:
            f.write(up.data)
    with open(os.path.join(out, 'SHA256SUMS'), 'w', encoding='utf-8') as f:
        for up in uploads:
            f.write('%s  %s\n' % (hashlib.sha256(up.data).hexdigest(), up.name))
    with open(os.path.join(out, 'expect.tsv'), 'w', encoding='utf-8') as f:
        for up in uploads:
            f.write('%s\t%s\t%s\n' % (up.name, up.expect, group))


# ------------------------------------------------------------------- main --

def parse_drop(text):
    """'3,name:5' -> {None: {3}, 'name': {5}}."""
    drops = {}
    for item in filter(None, (text or '').split(',')):
        name, _, num = item.rpartition(':')
        drops.setdefault(name or None, set()).add(int(num))
    return drops


def main():
    default_env = os.path.join(os.environ.get('ZORVEX_INN_DIR', '/tmp/zorvex-inn'), 'inn.env')
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('files', nargs='*', help='files to post')
    ap.add_argument('--env', default=default_env, help='inn.env file (default %(default)s)')
    ap.add_argument('--host', help='server (default from inn.env, else 127.0.0.1)')
    ap.add_argument('--port', type=int, help='plain NNTP port (default from inn.env, else 11119)')
    ap.add_argument('--user', help='log in when the server asks (default from inn.env)')
    ap.add_argument('--password')
    ap.add_argument('--group', default=DEFAULT_GROUP, help='(default %(default)s)')
    ap.add_argument('--connections', type=int, default=4, help='at once (default %(default)s)')
    ap.add_argument('--part-size', type=int, default=PART_SIZE,
                    help='bytes of the file per article (default %(default)s)')
    ap.add_argument('--seed', type=int, default=1, help='shuffle seed (default %(default)s)')
    ap.add_argument('--no-shuffle', action='store_true', help='post parts in order')
    ap.add_argument('--style', choices=('bracket', 'plain'), default='bracket',
                    help='subject shape (default %(default)s)')
    ap.add_argument('--drop', help='parts to leave out: N or NAME:N, comma-separated')
    ap.add_argument('--tag', default='', help='text put before every subject')
    ap.add_argument('--poster', default=DEFAULT_POSTER, help='From header')
    ap.add_argument('--set', action='store_true', help='post the upload set instead of FILEs')
    ap.add_argument('--broken-set', action='store_true',
                    help='post the set of broken uu, xx and yEnc posts instead of FILEs')
    ap.add_argument('--out', help='with --set: write files/, SHA256SUMS and expect.tsv here')
    args = ap.parse_args()

    env = ps.read_env(args.env)
    host = args.host or env.get('ZORVEX_INN_HOST', '127.0.0.1')
    port = args.port or int(env.get('ZORVEX_INN_PORT', '11119'))
    user = args.user or env.get('ZORVEX_INN_USER')
    password = args.password or env.get('ZORVEX_INN_PASS')

    if ensure_group(host, port, env, args.group):
        print('created group %s' % args.group)
    if args.set:
        uploads = upload_set()
    elif args.broken_set:
        uploads = broken_set()
    else:
        drops = parse_drop(args.drop)
        uploads = []
        for path in args.files:
            name = os.path.basename(path)
            with open(path, 'rb') as f:
                data = f.read()
            drop = drops.get(None, set()) | drops.get(name, set())
            uploads.append(Upload(name, data, part_size=args.part_size, drop=drop))
    if not uploads:
        return 0

    run = '%x.%x' % (int(time.time() * 1000), os.getpid())
    articles = plan_articles(uploads, args.style, args.tag)
    conn = ps.Nntp(host, port)
    _, _, before = group_range(conn, args.group)
    posted, wire, seconds = post_parallel(host, port, args.group, articles, args.connections,
                                          args.seed, args.poster, run, user=user,
                                          password=password, shuffle=not args.no_shuffle)
    _, _, after = group_range(conn, args.group)
    conn.quit()
    print('posted %d articles (%.1f MB on the wire) of %d files to %s over %d connections '
          'in %.1f s; articles %d-%d' % (posted, wire / 1e6, len(uploads), args.group,
                                         args.connections, seconds, before + 1, after))
    if args.out:
        write_out(args.out, uploads, args.group)
        print('wrote files/, SHA256SUMS and expect.tsv in %s' % args.out)
    return 0


if __name__ == '__main__':
    try:
        sys.exit(main())
    except (NntpError, OSError, ValueError) as e:
        print('post-uploads: error: %s' % e, file=sys.stderr)
        sys.exit(2)
