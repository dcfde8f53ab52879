// The GIF, BMP and Targa readers: files made by ImageMagick and PIL decode
// to what those tools decode them to (scripts/make-image-fixtures.sh), and
// hostile or broken files end with their code, never past their buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "image/bmpread.h"
#include "image/gifread.h"
#include "image/tgaread.h"

namespace zorvex {
namespace {

using TBytes = std::vector<uint8_t>;

std::string Fixture(const std::string& name) {
    std::ifstream in(std::string(ZORVEX_TEST_DATA) + "/images/" + name, std::ios::binary);
    EXPECT_TRUE(in.good()) << name;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Bytes written after each row must stay as they were.
constexpr size_t GUARD = 16;
constexpr uint8_t GUARD_BYTE = 0xA5;

struct TDecoded {
    bool Started = false;
    bool Ok = false;
    int RowsRead = 0;
    bool GuardIntact = true;
    TRowImage Image;
    TPicReport Report;
    TBytes Pixels;  // the rows read, packed
};

template <class TReader>
TDecoded Decode(std::string_view bytes) {
    TReader reader;
    TDecoded d;
    TMemoryPictureSource source(bytes);
    d.Started = reader.Start(source, d.Image, d.Report);
    if (!d.Started) return d;
    const size_t rowBytes = static_cast<size_t>(d.Image.Width) * d.Image.Components;
    TBytes row(rowBytes + GUARD);
    for (int y = 0; y < d.Image.Height; ++y) {
        std::memset(row.data(), 0x5A, rowBytes);
        std::memset(row.data() + rowBytes, GUARD_BYTE, GUARD);
        const bool ok = reader.ReadRow(row.data(), d.Report);
        for (size_t i = 0; i < GUARD; ++i)
            if (row[rowBytes + i] != GUARD_BYTE) d.GuardIntact = false;
        if (!ok) return d;
        d.Pixels.insert(d.Pixels.end(), row.begin(), row.begin() + rowBytes);
        ++d.RowsRead;
    }
    d.Ok = true;
    return d;
}

std::string Str(const TBytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

void Put16(std::string& s, unsigned v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8 & 0xFF);
}

void Put32(std::string& s, uint32_t v) {
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}

std::string Rgb(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s += static_cast<char>(v);
    return s;
}

TBytes TransparentOf(const TRowImage& image) {
    if (!image.HasTransparent) return {};
    return TBytes(image.TransparentRgb, image.TransparentRgb + 3);
}

std::vector<std::pair<int, long>> WarningsOf(const TPicReport& report) {
    std::vector<std::pair<int, long>> warnings;
    for (const TPicMessage& m : report.Warnings) warnings.emplace_back(m.Code, m.Param);
    return warnings;
}

// A tool-made file and what it decodes to.
struct TFixtureCase {
    const char* File;
    int Width, Height, Components;
    TBytes Transparent;  // empty: none
};

template <class TReader>
void CheckFixtures(const std::vector<TFixtureCase>& cases) {
    for (const TFixtureCase& c : cases) {
        SCOPED_TRACE(c.File);
        const std::string file(c.File);
        const std::string expected =
            Fixture(file.substr(0, file.rfind('.')) + (c.Components == 1 ? ".gray" : ".rgb"));
        const TDecoded d = Decode<TReader>(Fixture(file));
        ASSERT_TRUE(d.Ok) << d.Report.Error.Code;
        EXPECT_TRUE(d.Report.Warnings.empty()) << d.Report.Warnings[0].Code;
        EXPECT_EQ(d.Image.Width, c.Width);
        EXPECT_EQ(d.Image.Height, c.Height);
        EXPECT_EQ(d.Image.Components, c.Components);
        EXPECT_EQ(TransparentOf(d.Image), c.Transparent);
        EXPECT_TRUE(Str(d.Pixels) == expected) << "decoded pixels differ";
    }
}

// Every prefix of a tool-made file shorter than what its picture needs
// fails with PIC_INPUT_EOF, rows included; the longer ones (cutting only
// what follows the picture: a trailer, a footer) decode in full.
struct TTruncationCase {
    const char* File;
    size_t Unneeded;  // bytes at the end the picture does not need
};

template <class TReader>
void CheckTruncations(const std::vector<TTruncationCase>& cases) {
    for (const TTruncationCase& c : cases) {
        SCOPED_TRACE(c.File);
        const std::string file = Fixture(c.File);
        const TDecoded whole = Decode<TReader>(file);
        ASSERT_TRUE(whole.Ok);
        ASSERT_GT(file.size(), c.Unneeded);
        const size_t needed = file.size() - c.Unneeded;
        for (size_t cut = 0; cut < file.size(); ++cut) {
            const TDecoded d = Decode<TReader>(std::string_view(file).substr(0, cut));
            ASSERT_TRUE(d.GuardIntact) << cut;
            if (cut < needed) {
                ASSERT_FALSE(d.Ok) << cut;
                ASSERT_EQ(d.Report.Error.Code, PIC_INPUT_EOF) << cut;
            } else {
                ASSERT_TRUE(d.Ok) << cut;
                ASSERT_EQ(d.Pixels, whole.Pixels) << cut;
            }
        }
    }
}

// A refusal: the code and its parameters.
struct TRefusal {
    const char* Name;
    std::string Bytes;
    int Code;
    long Param = 0;
    long Param2 = 0;
};

template <class TReader>
void CheckRefusals(const std::vector<TRefusal>& cases) {
    for (const TRefusal& c : cases) {
        SCOPED_TRACE(c.Name);
        const TDecoded d = Decode<TReader>(c.Bytes);
        EXPECT_FALSE(d.Started);
        EXPECT_EQ(d.Report.Error.Code, c.Code);
        EXPECT_EQ(d.Report.Error.Param, c.Param);
        EXPECT_EQ(d.Report.Error.Param2, c.Param2);
    }
}

// ---------------------------------------------------------------- BMP --

struct TBmpHeader {
    int32_t Width = 2;
    int32_t Height = 2;
    uint16_t Planes = 1;
    uint16_t Depth = 24;
    uint32_t Compression = 0;
    uint32_t Colours = 0;
    uint32_t HeaderSize = 40;
    int64_t OffBits = -1;  // -1: right after the map
    std::string Map;       // 4 bytes an entry (3 with the 12-byte header)
};

std::string Bmp(const TBmpHeader& h, const std::string& pixels = "") {
    std::string info;
    Put32(info, h.HeaderSize);
    if (h.HeaderSize == 12) {
        Put16(info, static_cast<unsigned>(h.Width));
        Put16(info, static_cast<unsigned>(h.Height));
        Put16(info, h.Planes);
        Put16(info, h.Depth);
    } else {
        Put32(info, static_cast<uint32_t>(h.Width));
        Put32(info, static_cast<uint32_t>(h.Height));
        Put16(info, h.Planes);
        Put16(info, h.Depth);
        Put32(info, h.Compression);
        Put32(info, 0);
        Put32(info, 2835);
        Put32(info, 2835);
        Put32(info, h.Colours);
        Put32(info, 0);
        if (h.HeaderSize > 40) info.append(h.HeaderSize - 40, '\0');
    }
    const uint32_t off =
        h.OffBits < 0 ? static_cast<uint32_t>(14 + info.size() + h.Map.size()) : h.OffBits;
    std::string s = "BM";
    Put32(s, static_cast<uint32_t>(14 + info.size() + h.Map.size() + pixels.size()));
    Put32(s, 0);
    Put32(s, off);
    return s + info + h.Map + pixels;
}

TEST(BmpReaderTest, DecodesToolMadeFiles) {
    CheckFixtures<TBmpReader>({
        {"bmp/bmp24.bmp", 17, 11, 3, {}},
        {"bmp/bmp24-v5.bmp", 17, 11, 3, {}},
        {"bmp/bmp24-os2.bmp", 17, 11, 3, {}},
        {"bmp/bmp24-topdown.bmp", 17, 11, 3, {}},
        {"bmp/bmp8.bmp", 17, 11, 3, {}},
        {"bmp/bmp8-os2.bmp", 17, 11, 3, {}},
        {"bmp/bmp8-pil.bmp", 17, 11, 3, {}},
        {"bmp/bmp8-topdown.bmp", 17, 11, 3, {}},
    });
}

TEST(BmpReaderTest, RefusesWhatItDoesNotRead) {
    TBmpHeader planes;
    planes.Planes = 2;
    TBmpHeader header64;
    header64.HeaderSize = 64;
    TBmpHeader bitfields;
    bitfields.Compression = 3;
    TBmpHeader depth16;
    depth16.Depth = 16;
    TBmpHeader manyColours;
    manyColours.Depth = 8;
    manyColours.Colours = 257;
    TBmpHeader offInHeader;
    offInHeader.OffBits = 30;
    TBmpHeader noRoomForMap;  // the pixels start where the map would
    noRoomForMap.Depth = 8;
    noRoomForMap.Colours = 2;
    noRoomForMap.OffBits = 54;
    CheckRefusals<TBmpReader>({
        {"1 bit", Fixture("bmp/bmp1.bmp"), PIC_BMP_BADDEPTH, 1},
        {"4 bits", Fixture("bmp/bmp4.bmp"), PIC_BMP_BADDEPTH, 4},
        {"32 bits", Fixture("bmp/bmp32.bmp"), PIC_BMP_BADDEPTH, 32},
        {"RLE8", Fixture("bmp/bmp8-rle.bmp"), PIC_BMP_COMPRESSED, 1},
        {"16 bits", Bmp(depth16), PIC_BMP_BADDEPTH, 16},
        {"bit fields", Bmp(bitfields), PIC_BMP_COMPRESSED, 3},
        {"two planes", Bmp(planes), PIC_BMP_BADPLANES, 2},
        {"64-byte header", Bmp(header64), PIC_BMP_BADHEADER, 64},
        {"pixels inside the header", Bmp(offInHeader), PIC_BMP_BADHEADER, 30},
        {"257 colours", Bmp(manyColours), PIC_BMP_BADCMAP, 257},
        {"no room for the map", Bmp(noRoomForMap), PIC_BMP_BADCMAP},
        {"a GIF", Fixture("gif/gif89a.gif"), PIC_BMP_NOT},
        {"one wrong byte", "X", PIC_BMP_NOT},
        {"BA", "BA" + std::string(60, '\0'), PIC_BMP_NOT},
        {"empty", "", PIC_INPUT_EOF},
        {"B alone", "B", PIC_INPUT_EOF},
    });
}

TEST(BmpReaderTest, RefusesAbsurdSizesBeforeReadingPixels) {
    struct {
        int32_t Width, Height;
        long ReportedHeight;
    } const sizes[] = {
        {0, 5, 5},
        {5, 0, 0},
        {-5, 5, 5},
        {MAX_PICTURE_SIDE + 1, 1, 1},
        {1, -(MAX_PICTURE_SIDE + 1), MAX_PICTURE_SIDE + 1},
        {20000, 20000, 20000},
        {1, INT32_MIN, 2147483648L},
    };
    for (const auto& s : sizes) {
        SCOPED_TRACE(std::to_string(s.Width) + "x" + std::to_string(s.Height));
        TBmpHeader h;
        h.Width = s.Width;
        h.Height = s.Height;
        // No pixels at all: the size alone refuses it.
        const TDecoded d = Decode<TBmpReader>(Bmp(h));
        EXPECT_FALSE(d.Started);
        EXPECT_EQ(d.Report.Error.Code, PIC_TOO_LARGE);
        EXPECT_EQ(d.Report.Error.Param, s.Width);
        EXPECT_EQ(d.Report.Error.Param2, s.ReportedHeight);
    }
}

TEST(BmpReaderTest, TruncatedFilesEndWithInputEof) {
    CheckTruncations<TBmpReader>({
        {"bmp/bmp24.bmp", 0},
        {"bmp/bmp8.bmp", 0},
        {"bmp/bmp24-topdown.bmp", 0},
        {"bmp/bmp8-os2.bmp", 0},
    });
    // The largest picture allowed, bottom-up, with one row of data: it
    // fails at the end of the data, not after allocating the picture.
    TBmpHeader h;
    h.Width = 8192;
    h.Height = 8192;
    const TDecoded d = Decode<TBmpReader>(Bmp(h, std::string(8192 * 3, '\x40')));
    EXPECT_TRUE(d.Started);
    EXPECT_EQ(d.RowsRead, 0);
    EXPECT_EQ(d.Report.Error.Code, PIC_INPUT_EOF);
}

TEST(BmpReaderTest, ColourMapEdges) {
    // 8-bit, 4x1, a map of two entries: indexes 2 and 255 are beyond it and
    // come out black.
    TBmpHeader shortMap;
    shortMap.Width = 4;
    shortMap.Height = 1;
    shortMap.Depth = 8;
    shortMap.Colours = 2;
    shortMap.Map = Rgb({30, 20, 10, 0, 60, 50, 40, 0});
    // The 12-byte header has no count: the pixels' offset says the map
    // holds two 3-byte entries.
    TBmpHeader core = shortMap;
    core.HeaderSize = 12;
    core.Map = Rgb({30, 20, 10, 60, 50, 40});
    // A gap between the map and the pixels, skipped to the offset.
    TBmpHeader gap = shortMap;
    gap.Map += "junkjunk";
    gap.OffBits = 14 + 40 + 16;
    const std::string pixels = Rgb({1, 0, 2, 255});
    const std::string expected = Rgb({40, 50, 60, 10, 20, 30, 0, 0, 0, 0, 0, 0});
    for (const auto& [name, file] :
         {std::pair{"short map", Bmp(shortMap, pixels)},
          std::pair{"core header", Bmp(core, pixels)}, std::pair{"gap", Bmp(gap, pixels)}}) {
        SCOPED_TRACE(name);
        const TDecoded d = Decode<TBmpReader>(file);
        ASSERT_TRUE(d.Ok) << d.Report.Error.Code;
        EXPECT_EQ(Str(d.Pixels), expected);
    }
}

TEST(BmpReaderTest, RowOrderAndPadding) {
    // 24-bit 1x3: each row of 3 bytes is padded to 4; bottom-up by default.
    TBmpHeader h;
    h.Width = 1;
    h.Height = 3;
    const std::string rows = Rgb({3, 2, 1, 0xEE, 6, 5, 4, 0xEE, 9, 8, 7, 0xEE});
    const TDecoded up = Decode<TBmpReader>(Bmp(h, rows));
    ASSERT_TRUE(up.Ok);
    EXPECT_EQ(Str(up.Pixels), Rgb({7, 8, 9, 4, 5, 6, 1, 2, 3}));
    h.Height = -3;
    const TDecoded down = Decode<TBmpReader>(Bmp(h, rows));
    ASSERT_TRUE(down.Ok);
    EXPECT_EQ(down.Image.Height, 3);
    EXPECT_EQ(Str(down.Pixels), Rgb({1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

// ---------------------------------------------------------------- GIF --

// Codes packed as a GIF encoder packs them: least significant bit first,
// the width growing as the decoder's table does (one entry a code after
// the first since a clear code, up to 4096 entries and 12 bits).
std::string PackCodes(int minCodeSize, const std::vector<int>& codes) {
    const int clear = minCodeSize < 12 ? 1 << minCodeSize : 0;
    int bits = minCodeSize + 1, next = clear + 2;
    bool first = true;
    std::string data;
    uint32_t acc = 0;
    int count = 0;
    for (int code : codes) {
        acc |= static_cast<uint32_t>(code) << count;
        count += bits;
        while (count >= 8) {
            data += static_cast<char>(acc & 0xFF);
            acc >>= 8;
            count -= 8;
        }
        if (code == clear) {
            bits = minCodeSize + 1;
            next = clear + 2;
            first = true;
        } else if (code != clear + 1) {
            if (!first && next < 4096 && ++next == 1 << bits && bits < 12) ++bits;
            first = false;
        }
    }
    if (count > 0) data += static_cast<char>(acc & 0xFF);
    std::string blocks;
    for (size_t at = 0; at < data.size(); at += 255) {
        const size_t n = std::min<size_t>(255, data.size() - at);
        blocks += static_cast<char>(n);
        blocks += data.substr(at, n);
    }
    return blocks + '\0';
}

// Entry i of a crafted colour table: (10 i + 1, 10 i + 2, 10 i + 3).
std::string GifTable(int entries) {
    std::string t;
    for (int i = 0; i < entries; ++i) t += Rgb({10 * i + 1, 10 * i + 2, 10 * i + 3});
    return t;
}

int TableBits(int entries) {
    int b = 0;
    while ((2 << b) < entries) ++b;
    return b;
}

std::string GifScreen(int globalEntries, const char* version = "89a", int aspect = 0) {
    std::string s = std::string("GIF") + version;
    Put16(s, 100);  // the logical screen, not the picture's size
    Put16(s, 100);
    s += static_cast<char>(globalEntries ? 0x80 | TableBits(globalEntries) : 0);
    s += '\0';
    s += static_cast<char>(aspect);
    return s + GifTable(globalEntries);
}

std::string GifImage(int width, int height, int minCodeSize, const std::vector<int>& codes,
                     bool interlaced = false, int localEntries = 0) {
    std::string s = ",";
    Put16(s, 0);
    Put16(s, 0);
    Put16(s, static_cast<unsigned>(width));
    Put16(s, static_cast<unsigned>(height));
    s += static_cast<char>((interlaced ? 0x40 : 0) |
                           (localEntries ? 0x80 | TableBits(localEntries) : 0));
    // A local table, told from the global one: its entries are reversed.
    std::string local = GifTable(localEntries);
    std::reverse(local.begin(), local.end());
    s += local;
    s += static_cast<char>(minCodeSize);
    return s + PackCodes(minCodeSize, codes);
}

std::string Gce(int packed, int index) {
    return Rgb({'!', 0xF9, 4, packed, 0, 0, index, 0});
}

TEST(GifReaderTest, DecodesToolMadeFiles) {
    CheckFixtures<TGifReader>({
        {"gif/gif89a.gif", 17, 11, 3, {}},
        {"gif/gif87a.gif", 17, 11, 3, {}},
        {"gif/gif-gray.gif", 17, 11, 3, {}},
        {"gif/gif-local.gif", 17, 11, 3, {}},
        {"gif/gif-interlaced.gif", 40, 30, 3, {}},
        {"gif/gif-noise.gif", 64, 64, 3, {}},
        {"gif/gif-transparent.gif", 17, 11, 3, {255, 0, 0}},
    });
}

// Each case: a stream of codes (minimum code size 2: clear 4, end 5, the
// table from 6) for a picture of width × height, the indexes it decodes to
// (table entry i is 10 i + 1..3; a missing pixel is index 0) and the
// warning it gives.
struct TLzwCase {
    const char* Name;
    int Width, Height;
    std::vector<int> Codes;
    std::vector<int> Indexes;
    int Warning;
};

TEST(GifReaderTest, DecodesLzwStreams) {
    const std::vector<TLzwCase> cases = {
        // 0 1 | 6=01 | 7=10 (read at 4 bits: the table reached 8).
        {"table codes", 3, 2, {4, 0, 1, 6, 7, 5}, {0, 1, 0, 1, 1, 0}, PIC_OK},
        // A code the table is just defining: the previous string and its
        // own first index.
        {"code being defined", 3, 2, {4, 2, 6, 7, 5}, {2, 2, 2, 2, 2, 2}, PIC_OK},
        {"no leading clear", 3, 1, {1, 2, 3, 5}, {1, 2, 3}, PIC_OK},
        {"clear midway", 4, 1, {4, 1, 3, 4, 2, 2, 5}, {1, 3, 2, 2}, PIC_OK},
        // The end code while pixels are still wanted.
        {"early end", 4, 1, {4, 1, 2, 5}, {1, 2, 0, 0}, PIC_GIF_ENDCODE},
        // A code one past the table's end (8 is next; 9 is read at 4 bits).
        {"code beyond the table", 5, 1, {4, 1, 2, 3, 9, 3, 5}, {1, 2, 3}, PIC_GIF_BADDATA},
        // A table code right after a clear: no previous string to extend.
        {"table code first", 2, 1, {4, 6, 5}, {0, 0}, PIC_GIF_BADDATA},
        {"table code after clear", 3, 1, {4, 1, 2, 4, 6, 5}, {1, 2, 0}, PIC_GIF_BADDATA},
        // The sub-blocks end without an end code (the padding bits decode
        // as index 0 too).
        {"no end code", 40, 1, {4, 1, 2, 3}, {1, 2, 3}, PIC_GIF_NOMOREDATA},
    };
    for (const TLzwCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string file = GifScreen(4) + GifImage(c.Width, c.Height, 2, c.Codes) + ";";
        const TDecoded d = Decode<TGifReader>(file);
        ASSERT_TRUE(d.Ok) << d.Report.Error.Code;
        EXPECT_TRUE(d.GuardIntact);
        std::vector<int> indexes(static_cast<size_t>(c.Width) * c.Height, 0);
        std::copy(c.Indexes.begin(), c.Indexes.end(), indexes.begin());
        std::string expected;
        for (int i : indexes) expected += Rgb({10 * i + 1, 10 * i + 2, 10 * i + 3});
        EXPECT_EQ(Str(d.Pixels), expected);
        if (c.Warning == PIC_OK) {
            EXPECT_TRUE(d.Report.Warnings.empty());
        } else {
            ASSERT_EQ(d.Report.Warnings.size(), 1u);
            EXPECT_EQ(d.Report.Warnings[0].Code, c.Warning);
        }
    }
}

TEST(GifReaderTest, FullTableKeepsItsLastWidth) {
    // 5000 literal codes and no clear: the table fills at 4096 entries and
    // the codes stay 12 bits wide.
    std::vector<int> codes;
    std::string expected;
    for (int i = 0; i < 5000; ++i) {
        codes.push_back(i * 7 % 4);
        expected += Rgb({10 * (i * 7 % 4) + 1, 10 * (i * 7 % 4) + 2, 10 * (i * 7 % 4) + 3});
    }
    codes.push_back(5);
    const TDecoded d = Decode<TGifReader>(GifScreen(4) + GifImage(100, 50, 2, codes) + ";");
    ASSERT_TRUE(d.Ok);
    EXPECT_TRUE(d.Report.Warnings.empty());
    EXPECT_TRUE(Str(d.Pixels) == expected);
}

TEST(GifReaderTest, CodeSizes) {
    for (int size : {0, 1, 12, 255}) {
        SCOPED_TRACE(size);
        const TDecoded d = Decode<TGifReader>(GifScreen(4) + GifImage(1, 1, size, {}) + ";");
        EXPECT_FALSE(d.Started);
        EXPECT_EQ(d.Report.Error.Code, PIC_GIF_CODESIZE);
        EXPECT_EQ(d.Report.Error.Param, size);
    }
    // 11: clear is 2048, the first codes 12 bits wide. Index 3 is in the
    // table; 2047 is beyond it and comes out black.
    const TDecoded d =
        Decode<TGifReader>(GifScreen(4) + GifImage(2, 1, 11, {2048, 3, 2047, 2049}) + ";");
    ASSERT_TRUE(d.Ok) << d.Report.Error.Code;
    EXPECT_EQ(Str(d.Pixels), Rgb({31, 32, 33, 0, 0, 0}));
}

TEST(GifReaderTest, ColourTables) {
    // Code size 3 with a table of 4: indexes 4..7 are beyond it (black).
    const std::vector<int> codes = {8, 0, 3, 4, 7, 9};
    const TDecoded global = Decode<TGifReader>(GifScreen(4) + GifImage(4, 1, 3, codes) + ";");
    ASSERT_TRUE(global.Ok);
    EXPECT_EQ(Str(global.Pixels), Rgb({1, 2, 3, 31, 32, 33, 0, 0, 0, 0, 0, 0}));
    // A local table of 8 is used instead of the global one.
    const TDecoded local =
        Decode<TGifReader>(GifScreen(4) + GifImage(4, 1, 3, codes, false, 8) + ";");
    ASSERT_TRUE(local.Ok);
    EXPECT_EQ(Str(local.Pixels), Rgb({73, 72, 71, 43, 42, 41, 33, 32, 31, 3, 2, 1}));
    // No table at all: a gray ramp over the indexes the code size names.
    const TDecoded none =
        Decode<TGifReader>(GifScreen(0) + GifImage(4, 1, 2, {4, 0, 1, 2, 3, 5}) + ";");
    ASSERT_TRUE(none.Ok);
    EXPECT_EQ(Str(none.Pixels), Rgb({0, 0, 0, 85, 85, 85, 170, 170, 170, 255, 255, 255}));
}

TEST(GifReaderTest, InterlacedRowsInDisplayOrder) {
    // 1x10, interlaced: file row r holds index r + 1. The stream ends
    // (early) after five rows: those are display rows 0, 8, 4, 2, 6; the
    // others are index 0.
    const std::string file =
        GifScreen(16) + GifImage(1, 10, 4, {16, 1, 2, 3, 4, 5, 17}, true) + ";";
    const TDecoded d = Decode<TGifReader>(file);
    ASSERT_TRUE(d.Ok) << d.Report.Error.Code;
    const int byDisplayRow[10] = {1, 0, 4, 0, 3, 0, 5, 0, 2, 0};
    std::string expected;
    for (int i : byDisplayRow) expected += Rgb({10 * i + 1, 10 * i + 2, 10 * i + 3});
    EXPECT_EQ(Str(d.Pixels), expected);
    ASSERT_EQ(d.Report.Warnings.size(), 1u);
    EXPECT_EQ(d.Report.Warnings[0].Code, PIC_GIF_ENDCODE);
}

TEST(GifReaderTest, BlocksBeforeTheImage) {
    const std::string image = GifImage(2, 1, 2, {4, 1, 3, 5}) + ";";
    const std::string comment = Rgb({'!', 0xFE, 3, 'a', 'b', 'c', 2, 'd', 'e', 0});
    struct {
        const char* Name;
        std::string File;
        TBytes Transparent;
        std::vector<std::pair<int, long>> Warnings;
    } const cases[] = {
        {"comment", GifScreen(4) + comment + image, {}, {}},
        {"transparent", GifScreen(4) + Gce(1, 3) + image, {31, 32, 33}, {}},
        {"flag clear", GifScreen(4) + Gce(0, 3) + image, {}, {}},
        {"last one counts", GifScreen(4) + Gce(1, 3) + Gce(1, 2) + image, {21, 22, 23}, {}},
        {"last one has none", GifScreen(4) + Gce(1, 3) + Gce(0, 2) + image, {}, {}},
        {"beyond the table", GifScreen(4) + Gce(1, 200) + image, {0, 0, 0}, {}},
        {"stray characters",
         GifScreen(4) + std::string("x\0", 2) + image,
         {},
         {{PIC_GIF_CHAR, 'x'}, {PIC_GIF_CHAR, 0}}},
        {"other version", GifScreen(4, "90a") + image, {}, {{PIC_GIF_BADVERSION, 0}}},
        {"aspect", GifScreen(4, "89a", 32) + image, {}, {{PIC_GIF_ASPECT, 32}}},
        {"square aspect", GifScreen(4, "89a", 49) + image, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const TDecoded d = Decode<TGifReader>(c.File);
        ASSERT_TRUE(d.Ok) << d.Report.Error.Code;
        EXPECT_EQ(d.Image.Width, 2);
        EXPECT_EQ(d.Image.Height, 1);
        EXPECT_EQ(Str(d.Pixels), Rgb({11, 12, 13, 31, 32, 33}));
        EXPECT_EQ(TransparentOf(d.Image), c.Transparent);
        EXPECT_EQ(WarningsOf(d.Report), c.Warnings);
    }
    // A file of junk warns a bounded number of times.
    const TDecoded junk = Decode<TGifReader>(GifScreen(4) + std::string(100000, 'x') + image);
    ASSERT_TRUE(junk.Ok);
    EXPECT_GE(junk.Report.Warnings.size(), 1u);
    EXPECT_LE(junk.Report.Warnings.size(), 16u);
}

TEST(GifReaderTest, RefusesWhatItDoesNotRead) {
    std::string wide = ",";
    Put16(wide, 0);
    Put16(wide, 0);
    Put16(wide, 65535);
    Put16(wide, 65535);
    wide += '\0';
    std::string empty = wide;
    empty[5] = empty[6] = '\0';
    CheckRefusals<TGifReader>({
        {"a bitmap", Fixture("bmp/bmp24.bmp"), PIC_GIF_NOT},
        {"GIT", "GIT89a", PIC_GIF_NOT},
        {"one wrong byte", "J", PIC_GIF_NOT},
        {"empty", "", PIC_INPUT_EOF},
        {"GI", "GI", PIC_INPUT_EOF},
        {"trailer first", GifScreen(4) + Gce(1, 1) + ";", PIC_GIF_IMAGENOTFOUND},
        {"end of file", GifScreen(4) + Gce(1, 1), PIC_INPUT_EOF},
        {"65535 square", GifScreen(4) + wide + "\x02", PIC_TOO_LARGE, 65535, 65535},
        {"no width", GifScreen(4) + empty + "\x02", PIC_TOO_LARGE, 0, 65535},
    });
}

TEST(GifReaderTest, TruncatedFilesEndWithInputEof) {
    // The reader stops at the end code: the block terminator and the
    // trailer after it are not needed.
    CheckTruncations<TGifReader>({
        {"gif/gif89a.gif", 2},
        {"gif/gif-interlaced.gif", 2},
        {"gif/gif-transparent.gif", 2},
        {"gif/gif-local.gif", 2},
    });
}

// -------------------------------------------------------------- Targa --

struct TTgaHeader {
    int IdLength = 0;
    int MapType = 0;
    int Type = 2;
    int MapFirst = 0;
    int MapLength = 0;
    int MapBits = 0;
    int Width = 2;
    int Height = 2;
    int Depth = 24;
    int Descriptor = 0x20;  // top-down unless said otherwise
};

std::string Tga(const TTgaHeader& h, const std::string& rest = "") {
    std::string s;
    s += static_cast<char>(h.IdLength);
    s += static_cast<char>(h.MapType);
    s += static_cast<char>(h.Type);
    Put16(s, static_cast<unsigned>(h.MapFirst));
    Put16(s, static_cast<unsigned>(h.MapLength));
    s += static_cast<char>(h.MapBits);
    Put16(s, 0);
    Put16(s, 0);
    Put16(s, static_cast<unsigned>(h.Width));
    Put16(s, static_cast<unsigned>(h.Height));
    s += static_cast<char>(h.Depth);
    s += static_cast<char>(h.Descriptor);
    return s + rest;
}

TEST(TargaReaderTest, DecodesToolMadeFiles) {
    CheckFixtures<TTargaReader>({
        {"tga/tga1.tga", 17, 11, 3, {}},
        {"tga/tga9.tga", 17, 11, 3, {}},
        {"tga/tga9-topdown.tga", 17, 11, 3, {}},
        {"tga/tga2-16.tga", 17, 11, 3, {}},
        {"tga/tga2-24.tga", 17, 11, 3, {}},
        {"tga/tga10-24.tga", 17, 11, 3, {}},
        {"tga/tga10-24-topdown.tga", 17, 11, 3, {}},
        {"tga/tga2-32-topdown.tga", 17, 11, 3, {}},
        {"tga/tga10-32.tga", 17, 11, 3, {}},
        {"tga/tga3.tga", 17, 11, 1, {}},
        {"tga/tga3-topdown.tga", 17, 11, 1, {}},
        {"tga/tga11.tga", 17, 11, 1, {}},
    });
}

TEST(TargaReaderTest, RefusesWhatItDoesNotRead) {
    auto with = [](auto change) {
        TTgaHeader h;
        change(h);
        return Tga(h, std::string(64, '\0'));
    };
    auto mapped = [](TTgaHeader& h) {
        h.Type = 1;
        h.MapType = 1;
        h.MapLength = 2;
        h.MapBits = 24;
        h.Depth = 8;
    };
    CheckRefusals<TTargaReader>({
        {"type 0", with([](TTgaHeader& h) { h.Type = 0; }), PIC_TGA_BADPARMS, 0},
        {"type 4", with([](TTgaHeader& h) { h.Type = 4; }), PIC_TGA_BADPARMS, 4},
        {"type 12", with([](TTgaHeader& h) { h.Type = 12; }), PIC_TGA_BADPARMS, 12},
        {"type 32", with([](TTgaHeader& h) { h.Type = 32; }), PIC_TGA_BADPARMS, 32},
        {"map type 2", with([](TTgaHeader& h) { h.MapType = 2; }), PIC_TGA_BADPARMS, 2},
        {"true colour, 8 bits", with([](TTgaHeader& h) { h.Depth = 8; }), PIC_TGA_BADPARMS, 2},
        {"true colour, 1 bit", with([](TTgaHeader& h) { h.Depth = 1; }), PIC_TGA_BADPARMS, 2},
        {"mapped without a map", with([&](TTgaHeader& h) {
             mapped(h);
             h.MapType = 0;
         }),
         PIC_TGA_BADPARMS, 1},
        {"mapped, 16 bits", with([&](TTgaHeader& h) {
             mapped(h);
             h.Depth = 16;
         }),
         PIC_TGA_BADPARMS, 1},
        {"gray, 16 bits", with([](TTgaHeader& h) {
             h.Type = 11;
             h.Depth = 16;
         }),
         PIC_TGA_BADPARMS, 11},
        {"gray with a map", with([&](TTgaHeader& h) {
             mapped(h);
             h.Type = 3;
         }),
         PIC_TGA_BADPARMS, 3},
        {"map entries of 8 bits", with([&](TTgaHeader& h) {
             mapped(h);
             h.MapBits = 8;
         }),
         PIC_TGA_BADCMAP, 2},
        {"map past 256", with([&](TTgaHeader& h) {
             mapped(h);
             h.MapFirst = 255;
         }),
         PIC_TGA_BADCMAP, 2},
        {"map of 257", with([&](TTgaHeader& h) {
             mapped(h);
             h.MapLength = 257;
         }),
         PIC_TGA_BADCMAP, 257},
        {"empty map", with([&](TTgaHeader& h) {
             mapped(h);
             h.MapLength = 0;
         }),
         PIC_TGA_BADCMAP, 0},
        {"no width", with([](TTgaHeader& h) { h.Width = 0; }), PIC_TOO_LARGE, 0, 2},
        {"no height", with([](TTgaHeader& h) { h.Height = 0; }), PIC_TOO_LARGE, 2, 0},
        {"65535 square", with([](TTgaHeader& h) { h.Width = h.Height = 65535; }), PIC_TOO_LARGE,
         65535, 65535},
        {"too many pixels", with([](TTgaHeader& h) { h.Width = h.Height = 30000; }), PIC_TOO_LARGE,
         30000, 30000},
        {"short header", Tga(TTgaHeader()).substr(0, 17), PIC_INPUT_EOF},
        // No magic: a GIF's third byte, 'F', is not a type.
        {"a GIF", Fixture("gif/gif89a.gif"), PIC_TGA_BADPARMS, 'F'},
    });
}

TEST(TargaReaderTest, TruncatedFilesEndWithInputEof) {
    // PIL's files end with a 26-byte footer the picture does not need.
    CheckTruncations<TTargaReader>({
        {"tga/tga1.tga", 26},
        {"tga/tga9.tga", 26},
        {"tga/tga10-24.tga", 26},
        {"tga/tga10-24-topdown.tga", 26},
        {"tga/tga2-32-topdown.tga", 26},
        {"tga/tga11.tga", 26},
        {"tga/tga2-16.tga", 0},
    });
}

TEST(TargaReaderTest, RunLengthPackets) {
    TTgaHeader h;
    h.Type = 10;
    h.Width = 3;
    h.Height = 2;
    const std::string a = Rgb({3, 2, 1}), b = Rgb({6, 5, 4}), c = Rgb({9, 8, 7});
    struct {
        const char* Name;
        int Descriptor;
        std::string Packets;
        std::string Expected;
    } const cases[] = {
        // A run of 4 goes on into the second row, then a raw packet of 2.
        {"run across rows", 0x20, "\x83" + a + "\x01" + b + c,
         Rgb({1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3, 4, 5, 6, 7, 8, 9})},
        // A raw packet across rows, bottom-up: the second row in the file is
        // the top one.
        {"raw across rows, bottom-up", 0x00, "\x03" + a + b + c + a + "\x81" + c,
         Rgb({1, 2, 3, 7, 8, 9, 7, 8, 9, 1, 2, 3, 4, 5, 6, 7, 8, 9})},
        // A run of 128 for 6 pixels: the rest is dropped.
        {"run past the picture", 0x20, "\xFF" + b,
         Rgb({4, 5, 6, 4, 5, 6, 4, 5, 6, 4, 5, 6, 4, 5, 6, 4, 5, 6})},
        // Raw packet of 128 for 6 pixels and the bytes for all of them:
        // only 6 are read.
        {"raw past the picture", 0x20, "\x7F" + std::string(128 * 3, '\x11'),
         std::string(18, '\x11')},
        // Right to left: each row reversed.
        {"right to left", 0x30, std::string(1, '\0') + a + "\x01" + b + c + "\x82" + a,
         Rgb({7, 8, 9, 4, 5, 6, 1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3})},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.Name);
        h.Descriptor = k.Descriptor;
        const TDecoded d = Decode<TTargaReader>(Tga(h, k.Packets));
        ASSERT_TRUE(d.Ok) << d.Report.Error.Code;
        EXPECT_TRUE(d.GuardIntact);
        EXPECT_EQ(Str(d.Pixels), k.Expected);
    }
    // The packets end before the picture does.
    h.Descriptor = 0x20;
    const TDecoded shortRun = Decode<TTargaReader>(Tga(h, "\x83" + a));
    EXPECT_EQ(shortRun.RowsRead, 1);
    EXPECT_EQ(shortRun.Report.Error.Code, PIC_INPUT_EOF);
}

TEST(TargaReaderTest, ColourMapsAndPixelForms) {
    // Mapped, 4x1: the map holds indexes 2 and 3 only (24-bit entries);
    // 0 and 255 are outside it and come out black.
    TTgaHeader mapped;
    mapped.Type = 1;
    mapped.MapType = 1;
    mapped.MapFirst = 2;
    mapped.MapLength = 2;
    mapped.MapBits = 24;
    mapped.Depth = 8;
    mapped.Width = 4;
    mapped.Height = 1;
    // The same with 16-bit entries: 0x7C00 is red, 0x001F blue, 0x03E0 green.
    TTgaHeader mapped16 = mapped;
    mapped16.MapBits = 16;
    mapped16.MapLength = 3;
    mapped16.IdLength = 3;
    // True colour carrying a map it does not use; 15-bit pixels.
    TTgaHeader unusedMap;
    unusedMap.MapType = 1;
    unusedMap.MapLength = 2;
    unusedMap.MapBits = 32;
    unusedMap.Depth = 15;
    unusedMap.Width = 3;
    unusedMap.Height = 1;
    struct {
        const char* Name;
        std::string File;
        std::string Expected;
    } const cases[] = {
        {"mapped", Tga(mapped, Rgb({3, 2, 1, 6, 5, 4, 0, 2, 3, 255})),
         Rgb({0, 0, 0, 1, 2, 3, 4, 5, 6, 0, 0, 0})},
        {"16-bit map", Tga(mapped16, "id!" + Rgb({0, 0x7C, 0x1F, 0, 0xE0, 0x03, 4, 3, 2, 0})),
         Rgb({0, 255, 0, 0, 0, 255, 255, 0, 0, 0, 0, 0})},
        {"unused map",
         Tga(unusedMap, std::string(8, '\x77') + Rgb({0x1F, 0x7C, 0x10, 0x42, 0x21, 0x04})),
         Rgb({255, 0, 255, 131, 131, 131, 8, 8, 8})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const TDecoded d = Decode<TTargaReader>(c.File);
        ASSERT_TRUE(d.Ok) << d.Report.Error.Code;
        EXPECT_EQ(d.Image.Components, 3);
        EXPECT_EQ(Str(d.Pixels), c.Expected);
    }
}

}  // namespace
}  // namespace zorvex
