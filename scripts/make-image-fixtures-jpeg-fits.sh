#!/bin/sh
# Makes the JPEG and FITS pictures under tests/data/images/ and their
# expected pixels, with tools other than the loaders under test: cjpeg and
# djpeg (libjpeg-turbo-progs), ImageMagick and Python with PIL. The FITS
# files and their expected gray levels are written by Python alone.
# Run from anywhere; the outputs are committed.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
jpeg="$root/tests/data/images/jpeg"
fits="$root/tests/data/images/fits"
mkdir -p "$jpeg" "$fits"
python=/usr/bin/python3
convert=/usr/bin/convert  # ImageMagick; /usr/local/bin/convert is something else

# The source: colour gradients with hard edges, 64x48, and an odd-sized one
# whose scaled sizes round up.
"$python" - "$jpeg" <<'PY'
import sys
from PIL import Image, ImageDraw
out = sys.argv[1]
def picture(w, h):
    im = Image.new("RGB", (w, h))
    px = im.load()
    for y in range(h):
        for x in range(w):
            px[x, y] = (x * 255 // (w - 1), y * 255 // (h - 1), (x + y) * 255 // (w + h - 2))
    d = ImageDraw.Draw(im)
    d.rectangle([w // 8, h // 6, w // 3, h // 2], fill=(250, 250, 20))
    d.ellipse([w // 2, h // 3, w - 4, h - 4], fill=(30, 40, 200))
    d.line([0, h - 1, w - 1, 0], fill=(255, 255, 255), width=2)
    return im
picture(64, 48).save(out + "/source.ppm")
picture(61, 43).save(out + "/source-odd.ppm")
PY

cjpeg -quality 90 -baseline "$jpeg/source.ppm" > "$jpeg/baseline.jpg"
cjpeg -quality 90 -grayscale "$jpeg/source.ppm" > "$jpeg/gray.jpg"
cjpeg -quality 90 -progressive "$jpeg/source.ppm" > "$jpeg/progressive.jpg"
cjpeg -quality 90 -sample 1x1 "$jpeg/source.ppm" > "$jpeg/s444.jpg"
cjpeg -quality 90 -restart 1B "$jpeg/source.ppm" > "$jpeg/restart.jpg"
cjpeg -quality 85 "$jpeg/source-odd.ppm" > "$jpeg/odd.jpg"
"$convert" "$jpeg/source.ppm" -quality 90 -sampling-factor 4:2:0 "$jpeg/s420.jpg"
"$convert" "$jpeg/source.ppm" -quality 90 -colorspace CMYK "$jpeg/cmyk.jpg"
"$python" -c "
from PIL import Image
Image.open('$jpeg/source.ppm').save('$jpeg/pil422.jpg', quality=90, subsampling=1)
"
# Cut inside the scan data: the lower rows are missing.
size=$(wc -c < "$jpeg/baseline.jpg")
head -c $((size * 55 / 100)) "$jpeg/baseline.jpg" > "$jpeg/truncated.jpg"

# What libjpeg's own decoder gives (ISLOW, fancy upsampling, as the loader).
for n in 1 2 4 8; do
    djpeg -pnm -scale 1/$n "$jpeg/baseline.jpg" > "$jpeg/baseline-$n.ppm"
    djpeg -pnm -scale 1/$n "$jpeg/odd.jpg" > "$jpeg/odd-$n.ppm"
done
for f in progressive s444 restart s420 pil422; do
    djpeg -pnm "$jpeg/$f.jpg" > "$jpeg/$f.ppm"
done
# djpeg warns (exit status 2) and shows the rows it has.
djpeg -pnm "$jpeg/truncated.jpg" > "$jpeg/truncated.ppm" 2> /dev/null || [ $? -eq 2 ]
djpeg -pnm -grayscale "$jpeg/baseline.jpg" > "$jpeg/baseline-gray.pgm"
djpeg -pnm "$jpeg/gray.jpg" > "$jpeg/gray.pgm"

# FITS: cards and big-endian samples; the expected gray levels follow the
# reader's stretch (darkest sample to the level below the brightest 0.2%).
"$python" - "$fits" <<'PY'
import struct, sys
out = sys.argv[1]

def card(text):
    return text.ljust(80).encode("ascii")

def header(bitpix, w, h, bzero=None, extra=()):
    cards = [card("SIMPLE  =                    T"),
             card("BITPIX  = %20d" % bitpix),
             card("NAXIS   =                    2"),
             card("NAXIS1  = %20d" % w),
             card("NAXIS2  = %20d" % h)]
    if bzero is not None:
        cards.append(card("BZERO   = %20d" % bzero))
    cards += [card(c) for c in extra]
    cards.append(card("END"))
    while len(cards) % 36:
        cards.append(card(""))
    return b"".join(cards)

def stretch(samples, w, h):
    lo, hi = min(samples), max(samples)
    if hi == lo:
        return bytes(len(samples))
    scale = 255.0 / (hi - lo)
    hist = [0] * 256
    for s in samples:
        hist[min(255, int((s - lo) * scale))] += 1
    kept = 0.998 * w * h
    total, b = 0, 0
    while b < 255:
        total += hist[b]
        if total > kept:
            break
        b += 1
    if b > 0:
        scale = 255.0 / (b / scale)
    return bytes(min(255, int((s - lo) * scale)) for s in samples)

def write(name, bitpix, w, h, raw, bzero=None, extra=()):
    fmt = {8: "B", 16: "H", 32: "I"}[abs(bitpix)]
    data = struct.pack(">%d%s" % (len(raw), fmt), *raw)
    pad = (-len(data)) % 2880
    with open("%s/%s.fts" % (out, name), "wb") as f:
        f.write(header(bitpix, w, h, bzero, extra) + data + bytes(pad))
    gray = stretch([r - (bzero or 0) for r in raw], w, h)
    with open("%s/%s.pgm" % (out, name), "wb") as f:
        f.write(b"P5\n%d %d\n255\n" % (w, h) + gray)

w, h = 24, 16
write("bitpix8", 8, w, h, [(x * 10 + y * 3) % 256 for y in range(h) for x in range(w)],
      extra=("COMMENT   eight-bit samples", "OBJECT  = 'gradient'"))
write("bitpix16", 16, w, h, [(x * 2000 + y * 700) % 65536 for y in range(h) for x in range(w)],
      bzero=32768)
write("bitpix32", 32, w, h, [3000000000 + x * 100000 + y * 40000 for y in range(h) for x in range(w)],
      bzero=-2000000000)
# -32 is floating point in FITS; here it is read as 32-bit integers.
write("bitpixm32", -32, w, h, [struct.unpack(">I", struct.pack(">f", 1.0 + x + y * w))[0]
                               for y in range(h) for x in range(w)])
# 2048 samples spread over 0..1000, and four stars far above them: the
# stars and the upper part of the spread clip to white.
cw, ch = 64, 32
clip = [(x * 37 + y * 101) % 1001 for y in range(ch) for x in range(cw)]
for i in (5, 700, 1400, 2047):
    clip[i] = 60000
write("clip", 16, cw, ch, clip)
PY
