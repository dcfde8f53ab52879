#include "image/bmpread.h"

#include <algorithm>
#include <cstring>

#include "image/readerbytes.h"

namespace zorvex {
namespace {

constexpr size_t FILE_HEADER = 14;
constexpr uint32_t CORE_HEADER = 12;  // OS/2 1.x: 16-bit sides, 3-byte map entries
constexpr uint32_t INFO_HEADER = 40;
constexpr uint32_t V4_HEADER = 108;
constexpr uint32_t V5_HEADER = 124;

}  // namespace

bool TBmpReader::Start(TPictureSource& source, TRowImage& image, TPicReport& report) {
    Source = &source;
    Stored.clear();
    Loaded = false;
    NextRow = 0;
    std::memset(Map, 0, sizeof Map);
    if (!ReadHeader(report)) return false;
    image.Width = Width;
    image.Height = Height;
    image.Components = 3;
    image.HasTransparent = false;
    return true;
}

bool TBmpReader::ReadHeader(TPicReport& report) {
    uint8_t h[FILE_HEADER + 4];
    // A short file that is not a bitmap still says so.
    size_t got = Source->Read(h, 2);
    if ((got > 0 && h[0] != 'B') || (got > 1 && h[1] != 'M')) return report.Fail(PIC_BMP_NOT);
    if (got < 2) return report.Fail(PIC_INPUT_EOF);
    if (!Source->ReadExact(h + 2, sizeof h - 2, report)) return false;
    const uint32_t offBits = U32(h + 10);
    const uint32_t headerSize = U32(h + 14);
    if (headerSize != CORE_HEADER && headerSize != INFO_HEADER && headerSize != V4_HEADER &&
        headerSize != V5_HEADER)
        return report.Fail(PIC_BMP_BADHEADER, static_cast<long>(headerSize));

    int64_t width, height;
    unsigned planes, depth;
    uint32_t compression = 0, colours = 0;
    size_t entrySize;
    uint8_t info[INFO_HEADER - 4];
    if (headerSize == CORE_HEADER) {
        if (!Source->ReadExact(info, 8, report)) return false;
        width = U16(info);
        height = U16(info + 2);
        planes = U16(info + 4);
        depth = U16(info + 6);
        entrySize = 3;
    } else {
        if (!Source->ReadExact(info, sizeof info, report)) return false;
        // Only what the 40-byte header has is used from the longer ones.
        if (!Source->Skip(headerSize - INFO_HEADER, report)) return false;
        width = static_cast<int32_t>(U32(info));
        height = static_cast<int32_t>(U32(info + 4));
        planes = U16(info + 8);
        depth = U16(info + 10);
        compression = U32(info + 12);
        colours = U32(info + 28);
        entrySize = 4;
    }
    if (planes != 1) return report.Fail(PIC_BMP_BADPLANES, static_cast<long>(planes));
    if (depth != 8 && depth != 24) return report.Fail(PIC_BMP_BADDEPTH, static_cast<long>(depth));
    if (compression != 0) return report.Fail(PIC_BMP_COMPRESSED, static_cast<long>(compression));
    TopDown = height < 0;
    if (TopDown) height = -height;
    if (PictureTooLarge(width, height))
        return report.Fail(PIC_TOO_LARGE, static_cast<long>(width), static_cast<long>(height));
    Width = static_cast<int>(width);
    Height = static_cast<int>(height);
    Depth = static_cast<int>(depth);
    Stride = (static_cast<size_t>(Width) * (Depth / 8) + 3) & ~size_t{3};

    size_t at = FILE_HEADER + headerSize;
    // An offset of 0 is taken as "right after the map"; one inside the
    // headers cannot be.
    if (offBits != 0 && offBits < at)
        return report.Fail(PIC_BMP_BADHEADER, static_cast<long>(offBits));
    if (Depth == 8) {
        size_t count = colours == 0 ? 256 : colours;
        if (count > 256) return report.Fail(PIC_BMP_BADCMAP, static_cast<long>(colours));
        // Writers that leave the count at 0 may store fewer entries: the
        // pixels start where the file says they do.
        if (offBits != 0 && at + count * entrySize > offBits) count = (offBits - at) / entrySize;
        if (count == 0) return report.Fail(PIC_BMP_BADCMAP, 0);
        uint8_t entries[256 * 4];
        if (!Source->ReadExact(entries, count * entrySize, report)) return false;
        for (size_t i = 0; i < count; ++i) {
            const uint8_t* e = entries + i * entrySize;
            Map[i][0] = e[2];
            Map[i][1] = e[1];
            Map[i][2] = e[0];
        }
        at += count * entrySize;
    }
    if (offBits > at && !Source->Skip(offBits - at, report)) return false;
    return true;
}

void TBmpReader::Convert(const uint8_t* stored, uint8_t* row) const {
    if (Depth == 24) {
        for (int x = 0; x < Width; ++x, stored += 3, row += 3) {
            row[0] = stored[2];
            row[1] = stored[1];
            row[2] = stored[0];
        }
    } else {
        for (int x = 0; x < Width; ++x, row += 3) std::memcpy(row, Map[stored[x]], 3);
    }
}

bool TBmpReader::ReadRow(uint8_t* row, TPicReport& report) {
    if (!Source || NextRow >= Height) return report.Fail(PIC_INPUT_EOF);
    if (TopDown) {
        Stored.resize(Stride);
        if (!Source->ReadExact(Stored.data(), Stride, report)) return false;
        Convert(Stored.data(), row);
    } else {
        if (!Loaded) {
            // Grown a row at a time, so that a short file fails before the
            // whole picture has been allocated.
            const size_t total = Stride * static_cast<size_t>(Height);
            for (int y = 0; y < Height; ++y) {
                size_t at = Stored.size();
                if (Stored.capacity() < at + Stride)
                    Stored.reserve(std::min(total, std::max(at + Stride, 2 * Stored.capacity())));
                Stored.resize(at + Stride);
                if (!Source->ReadExact(Stored.data() + at, Stride, report)) return false;
            }
            Loaded = true;
        }
        Convert(Stored.data() + static_cast<size_t>(Height - 1 - NextRow) * Stride, row);
    }
    ++NextRow;
    return true;
}

}  // namespace zorvex
