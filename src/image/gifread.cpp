#include "image/gifread.h"

#include <algorithm>
#include <cstring>

#include "image/readerbytes.h"

namespace zorvex {
namespace {

constexpr int MAX_CODE_BITS = 12;
// Junk between blocks is skipped with a warning; past this many, quietly,
// so that a file of junk cannot grow the report without end.
constexpr int MAX_STRAY_WARNINGS = 16;
constexpr int GRAPHIC_CONTROL = 0xF9;

}  // namespace

bool TGifReader::Start(TPictureSource& source, TRowImage& image, TPicReport& report) {
    Source = &source;
    Transparent = -1;
    StrayChars = 0;
    GlobalSize = TableSize = 0;
    Decoded.clear();
    FileRowOf.clear();
    Loaded = false;
    NextRow = 0;
    if (!ReadScreen(report) || !FindImage(report)) return false;
    image.Width = Width;
    image.Height = Height;
    image.Components = 3;
    image.HasTransparent = Transparent >= 0;
    if (image.HasTransparent) Colour(Transparent, image.TransparentRgb);
    return true;
}

bool TGifReader::ReadScreen(TPicReport& report) {
    uint8_t h[13];
    size_t got = Source->Read(h, 3);
    if (std::memcmp(h, "GIF", got) != 0) return report.Fail(PIC_GIF_NOT);
    if (got < 3) return report.Fail(PIC_INPUT_EOF);
    if (!Source->ReadExact(h + 3, sizeof h - 3, report)) return false;
    if (std::memcmp(h + 3, "87a", 3) != 0 && std::memcmp(h + 3, "89a", 3) != 0)
        report.Warn(PIC_GIF_BADVERSION);
    const int packed = h[10];
    const int aspect = h[12];
    // 49 is the square pixel; 0 says nothing.
    if (aspect != 0 && aspect != 49) report.Warn(PIC_GIF_ASPECT, aspect);
    if (packed & 0x80) {
        if (!ReadColourTable(packed, report)) return false;
        std::memcpy(Global, Table, sizeof Global);
        GlobalSize = TableSize;
    }
    return true;
}

bool TGifReader::ReadColourTable(int packed, TPicReport& report) {
    const int entries = 2 << (packed & 7);
    uint8_t bytes[256 * 3];
    if (!Source->ReadExact(bytes, static_cast<size_t>(entries) * 3, report)) return false;
    std::memset(Table, 0, sizeof Table);
    std::memcpy(Table, bytes, static_cast<size_t>(entries) * 3);
    TableSize = entries;
    return true;
}

bool TGifReader::SkipSubBlocks(TPicReport& report) {
    for (;;) {
        int length = Source->ReadByte();
        if (length < 0) return report.Fail(PIC_INPUT_EOF);
        if (length == 0) return true;
        if (!Source->Skip(static_cast<size_t>(length), report)) return false;
    }
}

bool TGifReader::FindImage(TPicReport& report) {
    for (;;) {
        const int c = Source->ReadByte();
        if (c < 0) return report.Fail(PIC_INPUT_EOF);
        if (c == ';') return report.Fail(PIC_GIF_IMAGENOTFOUND);
        if (c == '!') {
            const int label = Source->ReadByte();
            if (label < 0) return report.Fail(PIC_INPUT_EOF);
            if (label == GRAPHIC_CONTROL) {
                const int length = Source->ReadByte();
                if (length < 0) return report.Fail(PIC_INPUT_EOF);
                uint8_t block[255];
                if (!Source->ReadExact(block, static_cast<size_t>(length), report)) return false;
                // The last one before the image is the image's.
                if (length >= 4) Transparent = (block[0] & 1) ? block[3] : -1;
                if (length == 0) continue;  // that was the terminator
            }
            if (!SkipSubBlocks(report)) return false;
            continue;
        }
        if (c != ',') {
            if (StrayChars++ < MAX_STRAY_WARNINGS) report.Warn(PIC_GIF_CHAR, c);
            continue;
        }
        uint8_t d[9];
        if (!Source->ReadExact(d, sizeof d, report)) return false;
        const int width = U16(d + 4), height = U16(d + 6);
        if (PictureTooLarge(width, height)) return report.Fail(PIC_TOO_LARGE, width, height);
        Width = width;
        Height = height;
        Interlaced = (d[8] & 0x40) != 0;
        if (d[8] & 0x80) {
            if (!ReadColourTable(d[8], report)) return false;
        } else {
            std::memcpy(Table, Global, sizeof Table);
            TableSize = GlobalSize;
        }
        const int codeSize = Source->ReadByte();
        if (codeSize < 0) return report.Fail(PIC_INPUT_EOF);
        if (codeSize < 2 || codeSize > 11) return report.Fail(PIC_GIF_CODESIZE, codeSize);
        MinCodeSize = codeSize;
        ClearCode = 1 << codeSize;
        EndCode = ClearCode + 1;
        NextCode = ClearCode + 2;
        CodeBits = codeSize + 1;
        Prev = -1;
        StackTop = 0;
        Ended = false;
        Bits = 0;
        BitCount = 0;
        BlockLength = BlockAt = 0;
        BlocksEnded = false;
        return true;
    }
}

// have is false when the sub-blocks ran out.
bool TGifReader::ReadCode(int& code, bool& have, TPicReport& report) {
    while (BitCount < CodeBits) {
        if (BlockAt == BlockLength) {
            have = false;
            if (BlocksEnded) return true;
            const int length = Source->ReadByte();
            if (length < 0) return report.Fail(PIC_INPUT_EOF);
            if (length == 0) {
                BlocksEnded = true;
                return true;
            }
            if (!Source->ReadExact(Block, static_cast<size_t>(length), report)) return false;
            BlockLength = length;
            BlockAt = 0;
        }
        Bits |= static_cast<uint32_t>(Block[BlockAt++]) << BitCount;
        BitCount += 8;
    }
    code = static_cast<int>(Bits & ((1u << CodeBits) - 1));
    Bits >>= CodeBits;
    BitCount -= CodeBits;
    have = true;
    return true;
}

bool TGifReader::NextIndex(int& index, TPicReport& report) {
    index = 0;
    if (StackTop > 0) {
        index = Stack[--StackTop];
        return true;
    }
    while (!Ended) {
        int code = 0;
        bool have = false;
        if (!ReadCode(code, have, report)) return false;
        if (!have) {
            report.Warn(PIC_GIF_NOMOREDATA);
            Ended = true;
            break;
        }
        if (code == ClearCode) {
            CodeBits = MinCodeSize + 1;
            NextCode = ClearCode + 2;
            Prev = -1;
            continue;
        }
        if (code == EndCode) {
            // A pixel is still wanted.
            report.Warn(PIC_GIF_ENDCODE);
            Ended = true;
            break;
        }
        if (Prev < 0) {
            if (code > ClearCode) {
                report.Warn(PIC_GIF_BADDATA);
                Ended = true;
                break;
            }
            Prev = FirstOfPrev = index = code;
            return true;
        }
        if (code > NextCode) {
            report.Warn(PIC_GIF_BADDATA);
            Ended = true;
            break;
        }
        // A chain only ever points to lower codes, so the stack holds it;
        // the check is there all the same.
        int c = code;
        if (code == NextCode) {
            Stack[StackTop++] = static_cast<uint16_t>(FirstOfPrev);
            c = Prev;
        }
        while (c > ClearCode && StackTop < MAX_CODES) {
            Stack[StackTop++] = Suffix[c];
            c = Prefix[c];
        }
        if (c > ClearCode) {
            report.Warn(PIC_GIF_BADDATA);
            StackTop = 0;
            Ended = true;
            break;
        }
        Stack[StackTop++] = static_cast<uint16_t>(c);
        FirstOfPrev = c;
        if (NextCode < MAX_CODES) {
            Prefix[NextCode] = static_cast<uint16_t>(Prev);
            Suffix[NextCode] = static_cast<uint16_t>(c);
            ++NextCode;
            if (NextCode == 1 << CodeBits && CodeBits < MAX_CODE_BITS) ++CodeBits;
        }
        Prev = code;
        index = Stack[--StackTop];
        return true;
    }
    return true;
}

void TGifReader::Colour(int index, uint8_t* rgb) const {
    if (TableSize > 0) {
        if (index < TableSize) {
            std::memcpy(rgb, Table[index], 3);
        } else {
            rgb[0] = rgb[1] = rgb[2] = 0;
        }
        return;
    }
    // No table: a gray ramp over the indexes the code size can name.
    const int top = (1 << MinCodeSize) - 1;
    rgb[0] = rgb[1] = rgb[2] = static_cast<uint8_t>(std::min(index, top) * 255 / top);
}

bool TGifReader::DecodeRow(uint8_t* row, TPicReport& report) {
    int x = 0;
    for (; x < Width && !(Ended && StackTop == 0); ++x) {
        int index;
        if (!NextIndex(index, report)) return false;
        Colour(index, row + 3 * x);
    }
    for (; x < Width; ++x) Colour(0, row + 3 * x);
    return true;
}

bool TGifReader::ReadRow(uint8_t* row, TPicReport& report) {
    if (!Source || NextRow >= Height) return report.Fail(PIC_INPUT_EOF);
    if (!Interlaced) {
        if (!DecodeRow(row, report)) return false;
        ++NextRow;
        return true;
    }
    const size_t rowBytes = static_cast<size_t>(Width) * 3;
    if (!Loaded) {
        FileRowOf.assign(static_cast<size_t>(Height), 0);
        static constexpr int START[] = {0, 4, 2, 1}, STEP[] = {8, 8, 4, 2};
        int fileRow = 0;
        for (int pass = 0; pass < 4; ++pass)
            for (int y = START[pass]; y < Height; y += STEP[pass]) FileRowOf[y] = fileRow++;
        // Grown as rows decode: a short stream does not cost the whole
        // picture.
        const size_t total = rowBytes * static_cast<size_t>(Height);
        for (int y = 0; y < Height && !(Ended && StackTop == 0); ++y) {
            const size_t at = Decoded.size();
            if (Decoded.capacity() < at + rowBytes)
                Decoded.reserve(std::min(total, std::max(at + rowBytes, 2 * Decoded.capacity())));
            Decoded.resize(at + rowBytes);
            if (!DecodeRow(Decoded.data() + at, report)) return false;
        }
        Loaded = true;
    }
    const size_t fileRow = static_cast<size_t>(FileRowOf[NextRow]);
    if ((fileRow + 1) * rowBytes <= Decoded.size()) {
        std::memcpy(row, Decoded.data() + fileRow * rowBytes, rowBytes);
    } else {
        for (int x = 0; x < Width; ++x) Colour(0, row + 3 * x);
    }
    ++NextRow;
    return true;
}

}  // namespace zorvex
