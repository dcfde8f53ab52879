#!/usr/bin/env python3
"""Post Zorvex's deterministic sample binaries to the local test news server.

Python 3 standard library only.  Talks NNTP over a raw socket and refuses any
host that is not a loopback address.

  scripts/post-samples.py [--env FILE] [--host H] [--port P] [--tag TEXT]
                          [--out DIR] [--verify]

Host, port and credentials default to the inn.env written by inn-up.sh
($ZORVEX_INN_DIR/inn.env, else /tmp/zorvex-inn/inn.env).  File contents are
the same on every run; Message-IDs carry a per-run token so the set can be
posted again to the same server (INN refuses duplicate Message-IDs).

Two samples are damaged on purpose, and the manifest's 'expect' says what a
downloader should make of each one: 'received' (the file, intact),
'crc-error' (the file, intact, but its =yend crc32 is wrong), 'incomplete'
(the post stops partway) or 'no-file' (a text post).  --verify passes a
sample when it finds exactly that damage and nothing else.
"""

import argparse
import base64
import binascii
import email.utils
import hashlib
import ipaddress
import json
import os
import random
import re
import socket
import sys
import time
import zlib

GROUP_BIN = 'alt.binaries.test.zorvex'
GROUP_PIC = 'alt.binaries.pictures.test'
GROUP_TXT = 'misc.test'

POSTERS = {
    'alice': 'Alice Poster <alice@example.invalid>',
    'bob': 'Bob Uploader <bob@example.invalid>',
    'carol': 'carol@zorvex.invalid (Carol Binaries)',
    'dave': '"Dave D." <dave@example.invalid>',
    # One article each: nothing of theirs can continue a damaged file.
    'erin': 'Erin Broken <erin@example.invalid>',
    'frank': 'frank@zorvex.invalid (Frank Cutoff)',
}


class NntpError(Exception):
    pass


# ---------------------------------------------------------------- client --

class Nntp:
    def __init__(self, host, port, timeout=30):
        for info in socket.getaddrinfo(host, port, type=socket.SOCK_STREAM):
            addr = info[4][0].split('%')[0]
            if not ipaddress.ip_address(addr).is_loopback:
                raise NntpError('refusing non-loopback address %s' % addr)
        self.sock = socket.create_connection((host, port), timeout=timeout)
        self.rf = self.sock.makefile('rb')
        self.greeting = self._line()
        if not self.greeting.startswith(('200', '201')):
            raise NntpError('bad greeting: ' + self.greeting)

    def _line(self):
        raw = self.rf.readline()
        if not raw:
            raise NntpError('connection closed by server')
        return raw.rstrip(b'\r\n').decode('latin-1')

    def cmd(self, text):
        self.sock.sendall(text.encode('latin-1') + b'\r\n')
        resp = self._line()
        return int(resp[:3]), resp

    def multiline(self):
        """Dot-terminated block as a list of byte lines, dot-stuffing undone."""
        out = []
        while True:
            raw = self.rf.readline()
            if not raw:
                raise NntpError('connection closed inside a multi-line reply')
            line = raw.rstrip(b'\r\n')
            if line == b'.':
                return out
            if line.startswith(b'.'):
                line = line[1:]
            out.append(line)

    def login(self, user, password):
        code, resp = self.cmd('AUTHINFO USER ' + user)
        if code == 381:
            code, resp = self.cmd('AUTHINFO PASS ' + password)
        if code != 281:
            raise NntpError('login failed: ' + resp)

    def post(self, head_lines, body_lines):
        code, resp = self.cmd('POST')
        if code != 340:
            raise NntpError('POST refused: ' + resp)
        buf = bytearray()
        for line in head_lines + [b''] + body_lines:
            if line.startswith(b'.'):
                buf += b'.'
            buf += line + b'\r\n'
        buf += b'.\r\n'
        self.sock.sendall(bytes(buf))
        resp = self._line()
        if not resp.startswith('240'):
            raise NntpError('article rejected: ' + resp)
        return resp

    def quit(self):
        try:
            self.cmd('QUIT')
        except (OSError, NntpError):
            pass
        self.sock.close()


# -------------------------------------------------------------- encoders --

def crc_hex(data):
    return '%08x' % (zlib.crc32(data) & 0xFFFFFFFF)


def yenc_lines(data, line_len=128, escape_dot=True):
    """yEnc data lines.  NUL, LF, CR, '=' always escaped; TAB/SPACE at line
    start or end escaped; a leading '.' only when escape_dot (otherwise the
    NNTP layer must dot-stuff it)."""
    lines, cur = [], bytearray()
    for b in data:
        o = (b + 42) & 0xFF
        first = not cur
        if o in (0x00, 0x0A, 0x0D, 0x3D) or (first and (o in (0x09, 0x20) or (escape_dot and o == 0x2E))):
            cur += bytes((0x3D, (o + 64) & 0xFF))
        else:
            cur.append(o)
        if len(cur) >= line_len:
            lines.append(cur)
            cur = bytearray()
    if cur:
        lines.append(cur)
    for i, line in enumerate(lines):
        # Trailing whitespace would be stripped by some servers and readers.
        if line[-1] in (0x09, 0x20) and not (len(line) >= 2 and line[-2] == 0x3D):
            lines[i] = line[:-1] + bytes((0x3D, (line[-1] + 64) & 0xFF))
    return [bytes(l) for l in lines]


def uu_lines(data, table=None):
    out = []
    for i in range(0, len(data), 45):
        line = binascii.b2a_uu(data[i:i + 45], backtick=True).rstrip(b'\n')
        out.append(line.translate(table) if table else line)
    return out


XX_CHARS = b'+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz'
UU_TO_XX = bytearray(range(256))
XX_TO_UU = bytearray(range(256))
for _i in range(64):
    UU_TO_XX[32 + _i] = XX_CHARS[_i]
    XX_TO_UU[XX_CHARS[_i]] = 32 + _i
UU_TO_XX[ord('`')] = XX_CHARS[0]
UU_TO_XX, XX_TO_UU = bytes(UU_TO_XX), bytes(XX_TO_UU)


# -------------------------------------------------------------- decoders --
# Independent of the encoders above so a fault in one is not mirrored.

def yenc_decode(body):
    """-> (data, ybegin, ypart, yend) from one article body."""
    kv = lambda line: dict(re.findall(r'(\w+)=(\S+)', line.decode('latin-1').split(' name=')[0]))
    ybegin = ypart = yend = None
    out = bytearray()
    state = 0
    for line in body:
        if state == 0:
            if line.startswith(b'=ybegin '):
                ybegin = kv(line)
                m = re.search(rb' name=(.*)$', line)
                ybegin['name'] = m.group(1).decode('latin-1') if m else None
                state = 1
            continue
        if line.startswith(b'=ypart '):
            ypart = kv(line)
            continue
        if line.startswith(b'=yend'):
            yend = kv(line)
            break
        esc = False
        for b in line:
            if esc:
                out.append((b - 106) & 0xFF)
                esc = False
            elif b == 0x3D:
                esc = True
            else:
                out.append((b - 42) & 0xFF)
    if ybegin is None or yend is None:
        raise NntpError('yEnc markers missing')
    return bytes(out), ybegin, ypart, yend


def uu_decode(lines, xx=False):
    out = bytearray()
    for line in lines:
        if xx:
            line = line.translate(XX_TO_UU)
        if not line:
            continue
        n = (line[0] - 32) & 0x3F
        if n == 0:
            continue
        vals = [(c - 32) & 0x3F for c in line[1:]]
        vals += [0] * (-len(vals) % 4)
        chunk = bytearray()
        for i in range(0, len(vals), 4):
            a, b, c, d = vals[i:i + 4]
            chunk += bytes(((a << 2 | b >> 4) & 0xFF, (b << 4 | c >> 2) & 0xFF, (c << 6 | d) & 0xFF))
        out += chunk[:n]
    return bytes(out)


def uu_section(bodies):
    """-> (name, lines after 'begin', whether 'end' came) across the
    concatenated bodies."""
    lines, name, inside = [], None, False
    for body in bodies:
        for line in body:
            if not inside:
                m = re.match(rb'begin [0-7]{3,4} (.+)$', line)
                if m:
                    name, inside = m.group(1).decode('latin-1'), True
                continue
            if line == b'end':
                return name, lines, True
            lines.append(line)
    if not inside:
        raise NntpError('uuencode begin not found')
    return name, lines, False


def mime_attachment(head, body):
    m = re.search(rb'boundary="?([^";\r\n]+)"?', head, re.I)
    if not m:
        raise NntpError('no MIME boundary')
    delim = b'--' + m.group(1)
    parts, cur = [], None
    for line in body:
        if line.startswith(delim):
            if cur is not None:
                parts.append(cur)
            if line == delim + b'--':
                break
            cur = []
        elif cur is not None:
            cur.append(line)
    for p in parts:
        sep = p.index(b'')
        phead = b'\n'.join(p[:sep]).lower()
        if b'content-transfer-encoding: base64' in phead:
            fm = re.search(rb'filename="([^"]+)"', b'\n'.join(p[:sep]))
            return (fm.group(1).decode() if fm else None), base64.b64decode(b''.join(p[sep + 1:]), validate=True)
    raise NntpError('no base64 part')


# ------------------------------------------------------------ sample set --

def sample_bytes(seed, size, force=b''):
    rnd = random.Random(seed)
    data = bytearray(rnd.randbytes(size))
    data[:len(force)] = force
    return bytes(data)


# Raw bytes that yEnc turns into NUL, LF, CR, '=', TAB, SPACE, '.'.
YENC_TRICKY = bytes((0xD6, 0xE0, 0xE3, 0x13, 0xDF, 0xF6, 0x04))

PLAIN_TEXT = (
    'This is a plain text test post for Zorvex.\n'
    'It carries no binary attachment.\n'
    '.\n'
    '..a line that starts with two dots\n'
    '. a line that starts with one dot\n'
    '\n'
    'begin is just a word here, not a uuencode header.\n'
    '-- \n'
    'Zorvex test suite\n').encode()


def build_files():
    """name -> bytes.  Sizes and seeds are fixed: same content every run."""
    return {
        # 100 full uuencode lines + one 14-byte line, whose length char is '.'
        # so the last data line needs dot-stuffing.
        'uu_single.bin': sample_bytes(1001, 45 * 100 + 14),
        'uu_multi.bin': sample_bytes(1002, 45 * 1200 + 14),
        # First byte 0x04 encodes to '.', left unescaped at a line start.
        'yenc_single.bin': sample_bytes(1003, 60000, force=b'\x04' + YENC_TRICKY * 40),
        'yenc_multi.bin': sample_bytes(1004, 200000, force=YENC_TRICKY * 64),
        'mime_b64.dat': sample_bytes(1005, 12345),
        'xx_single.bin': sample_bytes(1006, 3000),
        'cross_post.bin': sample_bytes(1007, 456, force=YENC_TRICKY),
        'plain_text.txt': PLAIN_TEXT,
        'yenc_badcrc.bin': sample_bytes(1008, 5000, force=YENC_TRICKY),
        # Only the first UU_CUT_LINES lines are posted.
        'uu_incomplete.bin': sample_bytes(1009, 45 * 100),
    }


UU_CUT_LINES = 40


def split3(n):
    a = (n + 2) // 3
    return [(0, a), (a, 2 * a), (2 * a, n)]


def plan(files, tag):
    """List of sample dicts: name, encoding, groups, poster, articles
    (each with subject and body lines; headers are added at post time)."""
    pre = 'Zorvex sample%s - ' % (' [%s]' % tag if tag else '')
    out = []

    def add(name, enc, groups, poster, arts, extra=None, expect='received'):
        out.append({'name': name, 'encoding': enc, 'groups': groups, 'poster': poster,
                    'articles': arts, 'extra_headers': extra or [], 'expect': expect})

    d = files['uu_single.bin']
    add('uu_single.bin', 'uuencode', [GROUP_BIN], 'alice', [{
        'subject': pre + 'uu_single.bin (1/1)',
        'body': [b'uuencoded single-part sample', b'', b'begin 644 uu_single.bin']
                + uu_lines(d) + [b'`', b'end']}])

    d = files['uu_multi.bin']
    ll = uu_lines(d)
    k = (len(ll) + 2) // 3
    chunks = [ll[:k], ll[k:2 * k], ll[2 * k:]]
    arts = []
    for i, c in enumerate(chunks, 1):
        body = list(c)
        if i == 1:
            body = [b'begin 644 uu_multi.bin'] + body
        if i == 3:
            body = body + [b'`', b'end']
        arts.append({'subject': pre + 'uu_multi.bin (%d/3)' % i, 'body': body})
    add('uu_multi.bin', 'uuencode', [GROUP_BIN], 'bob', arts)

    d = files['yenc_single.bin']
    add('yenc_single.bin', 'yenc', [GROUP_PIC], 'carol', [{
        'subject': pre + '"yenc_single.bin" yEnc (1/1)',
        'body': [b'=ybegin line=128 size=%d name=yenc_single.bin' % len(d)]
                + yenc_lines(d, 128, escape_dot=False)
                + [b'=yend size=%d crc32=%s' % (len(d), crc_hex(d).encode())]}])

    d = files['yenc_multi.bin']
    arts = []
    for i, (s, e) in enumerate(split3(len(d)), 1):
        part = d[s:e]
        tail = b'=yend size=%d part=%d pcrc32=%s' % (len(part), i, crc_hex(part).encode())
        if i == 3:
            tail += b' crc32=' + crc_hex(d).encode()
        arts.append({'subject': pre + '"yenc_multi.bin" yEnc (%d/3)' % i,
                     'body': [b'=ybegin part=%d total=3 line=128 size=%d name=yenc_multi.bin' % (i, len(d)),
                              b'=ypart begin=%d end=%d' % (s + 1, e)]
                             + yenc_lines(part, 128) + [tail]})
    add('yenc_multi.bin', 'yenc', [GROUP_BIN], 'alice', arts)

    d = files['mime_b64.dat']
    boundary = 'zorvex-sample-boundary-42'
    b64 = base64.b64encode(d)
    body = [b'This is a multi-part message in MIME format.', b'',
            b'--' + boundary.encode(),
            b'Content-Type: text/plain; charset=us-ascii', b'',
            b'MIME attachment sample.', b'',
            b'--' + boundary.encode(),
            b'Content-Type: application/octet-stream; name="mime_b64.dat"',
            b'Content-Transfer-Encoding: base64',
            b'Content-Disposition: attachment; filename="mime_b64.dat"', b'']
    body += [b64[i:i + 76] for i in range(0, len(b64), 76)]
    body += [b'', b'--' + boundary.encode() + b'--']
    add('mime_b64.dat', 'mime-base64', [GROUP_PIC], 'dave',
        [{'subject': pre + 'mime_b64.dat (1/1)', 'body': body}],
        extra=[('MIME-Version', '1.0'),
               ('Content-Type', 'multipart/mixed; boundary="%s"' % boundary)])

    d = files['xx_single.bin']
    add('xx_single.bin', 'xxencode', [GROUP_PIC], 'bob', [{
        'subject': pre + 'xx_single.bin (1/1)',
        'body': [b'xxencoded sample', b'', b'begin 644 xx_single.bin']
                + uu_lines(d, UU_TO_XX) + [b'+', b'end']}])

    add('plain_text.txt', 'none', [GROUP_TXT], 'carol', [{
        'subject': pre + 'plain text post, no binary',
        'body': files['plain_text.txt'].rstrip(b'\n').split(b'\n')}], expect='no-file')

    d = files['cross_post.bin']
    add('cross_post.bin', 'yenc', [GROUP_BIN, GROUP_PIC], 'dave', [{
        'subject': pre + '"cross_post.bin" yEnc (1/1)',
        'body': [b'=ybegin line=128 size=%d name=cross_post.bin' % len(d)]
                + yenc_lines(d, 128)
                + [b'=yend size=%d crc32=%s' % (len(d), crc_hex(d).encode())]}])

    # Damaged on purpose; appended so the samples above keep their order.
    d = files['yenc_badcrc.bin']
    bad_crc = '%08x' % ((zlib.crc32(d) ^ 0x00FF00FF) & 0xFFFFFFFF)
    add('yenc_badcrc.bin', 'yenc', [GROUP_BIN], 'erin', [{
        'subject': pre + '"yenc_badcrc.bin" yEnc (1/1)',
        'body': [b'=ybegin line=128 size=%d name=yenc_badcrc.bin' % len(d)]
                + yenc_lines(d, 128)
                + [b'=yend size=%d crc32=%s' % (len(d), bad_crc.encode())]}],
        expect='crc-error')

    d = files['uu_incomplete.bin']
    add('uu_incomplete.bin', 'uuencode', [GROUP_BIN], 'frank', [{
        'subject': pre + 'uu_incomplete.bin (1/1)',
        'body': [b'uuencoded sample, cut short', b'', b'begin 644 uu_incomplete.bin']
                + uu_lines(d)[:UU_CUT_LINES]}],
        expect='incomplete')
    return out


# ----------------------------------------------------------------- verify --

def fetch(conn, mid):
    code, resp = conn.cmd('ARTICLE ' + mid)
    if code != 220:
        raise NntpError('ARTICLE %s: %s' % (mid, resp))
    lines = conn.multiline()
    sep = lines.index(b'')
    return lines[:sep], lines[sep + 1:]


def header(head, name):
    pre = name.lower().encode() + b':'
    for line in head:
        if line.lower().startswith(pre):
            return line[len(pre):].strip().decode('latin-1')
    return None


def verify_sample(conn, s, original):
    """None when the sample came back whole, 'crc-error' when only its
    crc32 is wrong, 'incomplete' when it stops early; raises on any other
    fault."""
    found = None
    heads, bodies = [], []
    for a in s['articles']:
        h, b = fetch(conn, a['message_id'])
        if header(h, 'Subject') != a['subject']:
            raise NntpError('%s: subject changed: %r' % (a['message_id'], header(h, 'Subject')))
        lines_hdr = header(h, 'Lines')
        if lines_hdr is None or int(lines_hdr) != len(b):
            raise NntpError('%s: Lines %s but body has %d lines' % (a['message_id'], lines_hdr, len(b)))
        xref_groups = {x.split(':')[0] for x in (header(h, 'Xref') or '').split()[1:]}
        if xref_groups != set(s['groups']):
            raise NntpError('%s: Xref groups %s, expected %s' % (a['message_id'], sorted(xref_groups), s['groups']))
        heads.append(h)
        bodies.append(b)

    enc = s['encoding']
    if enc == 'none':
        data = b''.join(l + b'\n' for l in bodies[0])
    elif enc in ('uuencode', 'xxencode'):
        name, lines, ended = uu_section(bodies)
        if name != s['name']:
            raise NntpError('begin line names %r' % name)
        data = uu_decode(lines, xx=(enc == 'xxencode'))
        if not ended:
            # What did come must be the start of the file.
            if not data or len(data) >= len(original) or not original.startswith(data):
                raise NntpError('no "end" and %d bytes that are not a start of the file' % len(data))
            return 'incomplete'
    elif enc == 'mime-base64':
        name, data = mime_attachment(b'\n'.join(heads[0]), bodies[0])
        if name != s['name']:
            raise NntpError('attachment named %r' % name)
    elif enc == 'yenc':
        parts = []
        for i, b in enumerate(bodies, 1):
            chunk, yb, yp, ye = yenc_decode(b)
            if yb['name'] != s['name'] or int(yb['size']) != s['size']:
                raise NntpError('=ybegin name/size wrong: %r' % yb)
            if int(ye['size']) != len(chunk):
                raise NntpError('part %d: =yend size %s, decoded %d' % (i, ye['size'], len(chunk)))
            if yp is not None:
                if int(yb['part']) != i or int(yb['total']) != len(bodies):
                    raise NntpError('part %d: =ybegin part/total %r' % (i, yb))
                if int(yp['end']) - int(yp['begin']) + 1 != len(chunk):
                    raise NntpError('part %d: =ypart range does not match data' % i)
                if ye.get('pcrc32', '').lower() != crc_hex(chunk):
                    raise NntpError('part %d: pcrc32 mismatch' % i)
            parts.append((int(yp['begin']) if yp else 1, chunk, ye))
        parts.sort(key=lambda p: p[0])
        data = b''.join(p[1] for p in parts)
        if parts[-1][2].get('crc32', '').lower() != crc_hex(data):
            found = 'crc-error'
    else:
        raise NntpError('unknown encoding ' + enc)

    if data != original:
        raise NntpError('decoded %d bytes sha256 %s, expected %d bytes sha256 %s' % (
            len(data), hashlib.sha256(data).hexdigest()[:16], len(original),
            hashlib.sha256(original).hexdigest()[:16]))
    return found


# ------------------------------------------------------------------- main --

def read_env(path):
    env = {}
    try:
        with open(path) as f:
            for line in f:
                line = line.strip()
                if '=' in line and not line.startswith('#'):
                    k, v = line.split('=', 1)
                    env[k] = v.strip('"\'')
    except FileNotFoundError:
        pass
    return env


def main():
    default_env = os.path.join(os.environ.get('ZORVEX_INN_DIR', '/tmp/zorvex-inn'), 'inn.env')
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--env', default=default_env, help='inn.env file (default %(default)s)')
    ap.add_argument('--host', help='server (default from inn.env, else 127.0.0.1)')
    ap.add_argument('--port', type=int, help='plain NNTP port (default from inn.env, else 11119)')
    ap.add_argument('--user', help='log in before posting (default: only when asked with 480)')
    ap.add_argument('--password')
    ap.add_argument('--tag', default='', help='text put into every subject')
    ap.add_argument('--out', help='write files/ and manifest.json here')
    ap.add_argument('--verify', action='store_true', help='fetch everything back and compare')
    args = ap.parse_args()

    env = read_env(args.env)
    host = args.host or env.get('ZORVEX_INN_HOST', '127.0.0.1')
    port = args.port or int(env.get('ZORVEX_INN_PORT', '11119'))
    user = args.user or env.get('ZORVEX_INN_USER')
    password = args.password or env.get('ZORVEX_INN_PASS')

    files = build_files()
    samples = plan(files, args.tag)
    run = '%x.%x' % (int(time.time() * 1000), os.getpid())
    safe_tag = re.sub(r'[^A-Za-z0-9_-]', '_', args.tag) or 'sample'

    conn = Nntp(host, port)
    if args.user:
        conn.login(user, password or '')
    print('server: %s' % conn.greeting)
    n_art = 0
    for s in samples:
        s['size'] = len(files[s['name']])
        s['sha256'] = hashlib.sha256(files[s['name']]).hexdigest()
        for i, a in enumerate(s['articles'], 1):
            a['message_id'] = '<%s.%s.%d.%s@zorvex.invalid>' % (
                safe_tag, s['name'].replace('.', '_'), i, run)
            head = [('From', POSTERS[s['poster']]),
                    ('Newsgroups', ','.join(s['groups'])),
                    ('Subject', a['subject']),
                    ('Date', email.utils.formatdate(usegmt=True)),
                    ('Message-ID', a['message_id'])] + s['extra_headers']
            # INN serves XHDR Lines from the article itself: without this
            # header the reply would be empty.
            head.append(('Lines', str(len(a['body']))))
            head_lines = [('%s: %s' % kv).encode('latin-1') for kv in head]
            try:
                conn.post(head_lines, a['body'])
            except NntpError as e:
                if '480' not in str(e) or not user:
                    raise
                conn.login(user, password or '')
                conn.post(head_lines, a['body'])
            n_art += 1
    print('posted %d articles for %d samples' % (n_art, len(samples)))

    if args.out:
        fdir = os.path.join(args.out, 'files')
        os.makedirs(fdir, exist_ok=True)
        for name, data in files.items():
            with open(os.path.join(fdir, name), 'wb') as f:
                f.write(data)
        manifest = {'server': {'host': host, 'port': port}, 'tag': args.tag, 'files': [{
            'name': s['name'], 'encoding': s['encoding'], 'groups': s['groups'],
            'poster': POSTERS[s['poster']], 'size': s['size'], 'sha256': s['sha256'],
            'expect': s['expect'],
            'articles': [{'subject': a['subject'], 'message_id': a['message_id'],
                          'lines': len(a['body'])} for a in s['articles']],
        } for s in samples]}
        with open(os.path.join(args.out, 'manifest.json'), 'w') as f:
            json.dump(manifest, f, indent=2)
            f.write('\n')
        with open(os.path.join(args.out, 'SHA256SUMS'), 'w') as f:
            for s in samples:
                f.write('%s  %s\n' % (s['sha256'], s['name']))
        # For readers without a JSON parser: name, expect, groups.
        with open(os.path.join(args.out, 'expect.tsv'), 'w') as f:
            for s in samples:
                f.write('%s\t%s\t%s\n' % (s['name'], s['expect'], ','.join(s['groups'])))
        print('wrote %s, manifest.json, SHA256SUMS and expect.tsv in %s' % (fdir, args.out))

    failed = 0
    if args.verify:
        for s in samples:
            want = s['expect'] if s['expect'] in ('crc-error', 'incomplete') else None
            try:
                found = verify_sample(conn, s, files[s['name']])
                if found != want:
                    raise NntpError('expected %s, found %s' % (want or 'no damage', found or 'none'))
                status = 'ok' if found is None else 'ok (%s, as posted)' % found
            except (NntpError, ValueError, binascii.Error) as e:
                status = 'FAIL: %s' % e
                failed += 1
            print('  %-17s %-12s %d art %7d bytes  %s' % (
                s['name'], s['encoding'], len(s['articles']), s['size'], status))
        print('verify: %d ok, %d failed' % (len(samples) - failed, failed))
    conn.quit()
    return 1 if failed else 0


if __name__ == '__main__':
    try:
        sys.exit(main())
    except (NntpError, OSError) as e:
        print('post-samples: error: %s' % e, file=sys.stderr)
        sys.exit(2)
