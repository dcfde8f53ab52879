#!/bin/bash
# Makes the picture fixtures in tests/data/images/FORMAT with tools that
# know nothing of ours: Debian's ImageMagick (/usr/bin/convert, not any
# other convert on the path) and Python's PIL. Each picture X comes with
# what it must decode to, written by ImageMagick from X itself: X.rgb
# (3 bytes a pixel) or X.gray (1 byte a pixel), top row first.
# Where no tool writes a form (16-bit Targa, top-down bitmaps, a GIF with a
# local table) Python writes it from a tool-made file or from the pattern.
set -euo pipefail

CONVERT=/usr/bin/convert
PYTHON=/usr/bin/python3
IMAGES="$(cd "$(dirname "$0")/.." && pwd)/tests/data/images"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"

# -auto-orient: ImageMagick keeps a Targa's rows in file order and only
# notes where its origin is.
expect_rgb() { "$CONVERT" "$1" -auto-orient -depth 8 "rgb:${1%.*}.rgb"; }
expect_gray() { "$CONVERT" "$1" -auto-orient -depth 8 "gray:${1%.*}.gray"; }

# --- The patterns ---------------------------------------------------------
# small.ppm: 17x11, a gradient with pure corners (red, green, blue, white).
# At 187 pixels it has fewer than 256 colours, so colour maps are exact.
# wide.ppm: 40x30 in 256 colours, for interlacing (every pass has rows).
"$PYTHON" - <<'EOF'
from PIL import Image
small = Image.new("RGB", (17, 11))
for y in range(11):
    for x in range(17):
        small.putpixel((x, y), (x * 15, y * 25, 255 - x * 7 - y * 9))
small.putpixel((0, 0), (255, 0, 0))
small.putpixel((16, 0), (0, 255, 0))
small.putpixel((0, 10), (0, 0, 255))
small.putpixel((16, 10), (255, 255, 255))
small.save("small.ppm")
small.convert("L").save("small.pgm")
wide = Image.new("RGB", (40, 30))
for y in range(30):
    for x in range(40):
        wide.putpixel((x, y), (x % 8 * 36, y % 8 * 36, (x // 8 + y // 8) % 4 * 80))
wide.save("wide.ppm")
EOF

# --- BMP ------------------------------------------------------------------
D="$IMAGES/bmp"
mkdir -p "$D"
"$CONVERT" small.ppm BMP3:"$D/bmp24.bmp"                                # 40-byte header
"$CONVERT" small.ppm BMP:"$D/bmp24-v5.bmp"                              # 124-byte header
"$CONVERT" small.ppm -type Palette -compress none BMP3:"$D/bmp8.bmp"
"$CONVERT" small.ppm BMP2:"$D/bmp24-os2.bmp"                            # 12-byte header
"$CONVERT" small.ppm -type Palette BMP2:"$D/bmp8-os2.bmp"
"$PYTHON" -c 'import sys; from PIL import Image
Image.open("small.ppm").quantize(256).save(sys.argv[1])' "$D/bmp8-pil.bmp"
# Top-down: the rows of a bottom-up file reversed and the height negated.
"$PYTHON" - "$D" <<'EOF'
import struct, sys
d = sys.argv[1]
for src, dst in (("bmp24.bmp", "bmp24-topdown.bmp"), ("bmp8.bmp", "bmp8-topdown.bmp")):
    data = open(f"{d}/{src}", "rb").read()
    off, = struct.unpack_from("<I", data, 10)
    width, height, _, depth = struct.unpack_from("<iiHH", data, 18)
    stride = (width * depth // 8 + 3) & ~3
    rows = [data[off + i * stride:off + (i + 1) * stride] for i in range(height)]
    head = bytearray(data[:off])
    struct.pack_into("<i", head, 22, -height)
    open(f"{d}/{dst}", "wb").write(bytes(head) + b"".join(reversed(rows)))
EOF
for f in bmp24 bmp24-v5 bmp8 bmp24-os2 bmp8-os2 bmp8-pil bmp24-topdown bmp8-topdown; do
    expect_rgb "$D/$f.bmp"
done
# Forms that are refused: 1, 4 and 32 bits, and run-length encoded.
"$CONVERT" small.ppm -type bilevel BMP3:"$D/bmp1.bmp"
"$CONVERT" small.ppm -colors 16 -compress none BMP3:"$D/bmp4.bmp"
"$CONVERT" small.ppm -alpha set BMP:"$D/bmp32.bmp"
"$CONVERT" small.ppm -type Palette -compress RLE BMP3:"$D/bmp8-rle.bmp"

# --- GIF ------------------------------------------------------------------
D="$IMAGES/gif"
mkdir -p "$D"
"$CONVERT" small.ppm "$D/gif89a.gif"
"$CONVERT" small.ppm GIF87:"$D/gif87a.gif"
"$CONVERT" wide.ppm -interlace GIF "$D/gif-interlaced.gif"
"$CONVERT" small.ppm -type Grayscale "$D/gif-gray.gif"
# 256 colours of noise: the code table fills and is cleared.
"$CONVERT" -size 64x64 -seed 7 xc: +noise Random -colors 256 "$D/gif-noise.gif"
# Transparent where the pattern is pure red (its top left pixel).
"$PYTHON" -c 'import sys; from PIL import Image
im = Image.open("small.ppm").quantize(256)
im.save(sys.argv[1], transparency=im.getpixel((0, 0)))' "$D/gif-transparent.gif"
# A local table: the global table of a tool-made file moved after the image
# descriptor, and a wrong global table (all white) left in its place.
"$PYTHON" - "$D" <<'EOF'
import sys
d = sys.argv[1]
data = bytearray(open(f"{d}/gif87a.gif", "rb").read())
packed = data[10]
assert packed & 0x80
size = 3 * (2 << (packed & 7))
table = data[13:13 + size]
at = 13 + size
while data[at] == 0x21:  # extensions: label, then sub-blocks
    at += 2
    while data[at]:
        at += data[at] + 1
    at += 1
assert data[at] == 0x2C
descriptor = data[at:at + 10]
descriptor[9] = (descriptor[9] & 0x40) | 0x80 | (packed & 7)
wrong = b"\xff" * size
open(f"{d}/gif-local.gif", "wb").write(bytes(data[:13]) + wrong + bytes(data[13 + size:at]) +
                                        bytes(descriptor) + bytes(table) + bytes(data[at + 10:]))
EOF
for f in gif89a gif87a gif-interlaced gif-gray gif-noise gif-transparent gif-local; do
    expect_rgb "$D/$f.gif"
done

# --- Targa ----------------------------------------------------------------
# PIL writes them: ImageMagick 6.9 stores the top row first yet marks the
# origin bottom left.
D="$IMAGES/tga"
mkdir -p "$D"
"$PYTHON" - "$D" <<'EOF'
import sys
from PIL import Image
d = sys.argv[1]
small = Image.open("small.ppm")
mapped = small.quantize(256)
mapped.save(f"{d}/tga1.tga")
mapped.save(f"{d}/tga9.tga", compression="tga_rle")
mapped.save(f"{d}/tga9-topdown.tga", compression="tga_rle", orientation=1)
small.save(f"{d}/tga2-24.tga")
small.save(f"{d}/tga10-24.tga", compression="tga_rle")
small.save(f"{d}/tga10-24-topdown.tga", compression="tga_rle", orientation=1)
rgba = small.convert("RGBA")
rgba.putalpha(128)
rgba.save(f"{d}/tga2-32-topdown.tga", orientation=1)
rgba.save(f"{d}/tga10-32.tga", compression="tga_rle")
gray = Image.open("small.pgm")
gray.save(f"{d}/tga3.tga")
gray.save(f"{d}/tga3-topdown.tga", orientation=1)
gray.save(f"{d}/tga11.tga", compression="tga_rle")
EOF
# 16 bits (x RRRRR GGGGG BBBBB): no tool writes it; this is the header and
# pixels by hand, bottom-up, after an ID field to be skipped.
"$PYTHON" - "$D" <<'EOF'
import struct, sys
from PIL import Image
d = sys.argv[1]
small = Image.open("small.ppm")
w, h = small.size
ident = b"zorvex"
head = struct.pack("<BBBHHBHHHHBB", len(ident), 0, 2, 0, 0, 0, 0, 0, w, h, 16, 0)
pixels = bytearray()
for y in reversed(range(h)):
    for x in range(w):
        r, g, b = small.getpixel((x, y))
        pixels += struct.pack("<H", (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3))
open(f"{d}/tga2-16.tga", "wb").write(head + ident + bytes(pixels))
EOF
for f in tga1 tga9 tga9-topdown tga2-16 tga2-24 tga10-24 tga10-24-topdown tga2-32-topdown tga10-32; do
    expect_rgb "$D/$f.tga"
done
for f in tga3 tga3-topdown tga11; do
    expect_gray "$D/$f.tga"
done
