#include "image/tgaread.h"

#include <algorithm>
#include <cstring>

#include "image/readerbytes.h"

namespace zorvex {
namespace {

constexpr size_t HEADER = 18;
constexpr uint8_t TOP_DOWN = 0x20;
constexpr uint8_t RIGHT_TO_LEFT = 0x10;
constexpr int RLE_TYPE = 8;

bool ColourBits(int bits) {
    return bits == 15 || bits == 16 || bits == 24 || bits == 32;
}

// Truncated, as other readers scale it.
uint8_t Scale5(unsigned v) {
    return static_cast<uint8_t>(v * 255 / 31);
}

// A 15/16-bit entry or pixel: x RRRRR GGGGG BBBBB, little-endian.
void From16(const uint8_t* p, uint8_t* rgb) {
    const unsigned v = U16(p);
    rgb[0] = Scale5(v >> 10 & 31);
    rgb[1] = Scale5(v >> 5 & 31);
    rgb[2] = Scale5(v & 31);
}

}  // namespace

bool TTargaReader::Start(TPictureSource& source, TRowImage& image, TPicReport& report) {
    Source = &source;
    std::memset(Map, 0, sizeof Map);
    PacketLeft = 0;
    Stored.clear();
    Loaded = false;
    NextRow = 0;
    if (!ReadHeader(report)) return false;
    image.Width = Width;
    image.Height = Height;
    image.Components = Components;
    image.HasTransparent = false;
    return true;
}

bool TTargaReader::ReadHeader(TPicReport& report) {
    uint8_t h[HEADER];
    if (!Source->ReadExact(h, sizeof h, report)) return false;
    const int idLength = h[0];
    const int mapType = h[1];
    const int type = h[2];
    const int mapFirst = U16(h + 3);
    const int mapLength = U16(h + 5);
    const int mapBits = h[7];
    const int width = U16(h + 12);
    const int height = U16(h + 14);
    const int depth = h[16];
    const uint8_t descriptor = h[17];

    Kind = type & ~RLE_TYPE;
    Rle = (type & RLE_TYPE) != 0;
    if (Kind < 1 || Kind > 3) return report.Fail(PIC_TGA_BADPARMS, type);
    if (mapType > 1) return report.Fail(PIC_TGA_BADPARMS, type);
    switch (Kind) {
        case 1:
            if (mapType != 1 || depth != 8) return report.Fail(PIC_TGA_BADPARMS, type);
            break;
        case 2:
            if (!ColourBits(depth)) return report.Fail(PIC_TGA_BADPARMS, type);
            break;
        default:
            // A map is of no use to gray levels.
            if (mapType != 0 || depth != 8) return report.Fail(PIC_TGA_BADPARMS, type);
            break;
    }
    if (mapType == 1) {
        if (!ColourBits(mapBits) || mapLength == 0) return report.Fail(PIC_TGA_BADCMAP, mapLength);
        if (Kind == 1 && mapFirst + mapLength > 256) return report.Fail(PIC_TGA_BADCMAP, mapLength);
    }
    if (PictureTooLarge(width, height)) return report.Fail(PIC_TOO_LARGE, width, height);
    Width = width;
    Height = height;
    PixelBytes = (depth + 7) / 8;
    Components = Kind == 3 ? 1 : 3;
    TopDown = (descriptor & TOP_DOWN) != 0;
    RightToLeft = (descriptor & RIGHT_TO_LEFT) != 0;

    if (!Source->Skip(static_cast<size_t>(idLength), report)) return false;
    if (mapType == 1) {
        // A true-colour picture may carry a map it does not use.
        if (Kind != 1)
            return Source->Skip(static_cast<size_t>(mapLength) * ((mapBits + 7) / 8), report);
        return ReadColourMap(mapFirst, mapLength, mapBits, report);
    }
    return true;
}

bool TTargaReader::ReadColourMap(int first, int length, int entryBits, TPicReport& report) {
    const size_t entryBytes = static_cast<size_t>(entryBits + 7) / 8;
    uint8_t bytes[256 * 4];
    if (!Source->ReadExact(bytes, static_cast<size_t>(length) * entryBytes, report)) return false;
    for (int i = 0; i < length; ++i) {
        const uint8_t* e = bytes + i * entryBytes;
        uint8_t* m = Map[first + i];
        if (entryBytes == 2) {
            From16(e, m);
        } else {
            m[0] = e[2];
            m[1] = e[1];
            m[2] = e[0];
        }
    }
    return true;
}

void TTargaReader::Convert(const uint8_t* raw, uint8_t* out) const {
    if (Kind == 3) {
        out[0] = raw[0];
    } else if (Kind == 1) {
        std::memcpy(out, Map[raw[0]], 3);
    } else if (PixelBytes == 2) {
        From16(raw, out);
    } else {
        out[0] = raw[2];
        out[1] = raw[1];
        out[2] = raw[0];
    }
}

// One row in file order.
bool TTargaReader::DecodeRow(uint8_t* row, TPicReport& report) {
    const size_t pixelBytes = static_cast<size_t>(PixelBytes);
    int x = 0;
    while (x < Width) {
        int n = Width - x;
        bool repeats = false;
        if (Rle) {
            if (PacketLeft == 0) {
                const int head = Source->ReadByte();
                if (head < 0) return report.Fail(PIC_INPUT_EOF);
                PacketLeft = (head & 0x7F) + 1;
                PacketRepeats = (head & 0x80) != 0;
                if (PacketRepeats) {
                    uint8_t raw[4];
                    if (!Source->ReadExact(raw, pixelBytes, report)) return false;
                    Convert(raw, RepeatPixel);
                }
            }
            // What is left of a run past the last row is dropped.
            n = std::min(n, PacketLeft);
            PacketLeft -= n;
            repeats = PacketRepeats;
        }
        uint8_t* out = row + static_cast<size_t>(x) * Components;
        if (repeats) {
            for (int i = 0; i < n; ++i, out += Components)
                std::memcpy(out, RepeatPixel, Components);
        } else {
            Raw.resize(static_cast<size_t>(n) * pixelBytes);
            if (!Source->ReadExact(Raw.data(), Raw.size(), report)) return false;
            for (int i = 0; i < n; ++i, out += Components)
                Convert(Raw.data() + i * pixelBytes, out);
        }
        x += n;
    }
    if (RightToLeft) {
        for (int a = 0, b = Width - 1; a < b; ++a, --b)
            std::swap_ranges(row + static_cast<size_t>(a) * Components,
                             row + static_cast<size_t>(a + 1) * Components,
                             row + static_cast<size_t>(b) * Components);
    }
    return true;
}

bool TTargaReader::ReadRow(uint8_t* row, TPicReport& report) {
    if (!Source || NextRow >= Height) return report.Fail(PIC_INPUT_EOF);
    const size_t rowBytes = static_cast<size_t>(Width) * Components;
    if (TopDown) {
        if (!DecodeRow(row, report)) return false;
    } else {
        if (!Loaded) {
            // Grown as rows decode, so that a short file fails before the
            // whole picture has been allocated.
            const size_t total = rowBytes * static_cast<size_t>(Height);
            for (int y = 0; y < Height; ++y) {
                const size_t at = Stored.size();
                if (Stored.capacity() < at + rowBytes)
                    Stored.reserve(std::min(total, std::max(at + rowBytes, 2 * Stored.capacity())));
                Stored.resize(at + rowBytes);
                if (!DecodeRow(Stored.data() + at, report)) return false;
            }
            Loaded = true;
        }
        std::memcpy(row, Stored.data() + static_cast<size_t>(Height - 1 - NextRow) * rowBytes,
                    rowBytes);
    }
    ++NextRow;
    return true;
}

}  // namespace zorvex
