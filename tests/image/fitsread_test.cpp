// The FITS reader: the stretch to gray (against levels Python worked out
// for files it wrote, and against the rule worked out here), what BITPIX
// and BZERO do, the header's cards and blocks, and every way a header fails.
#include "image/fitsread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "image/output.h"

namespace zorvex {
namespace {

std::string Fixture(const std::string& name) {
    std::ifstream in(std::string(ZORVEX_TEST_DATA) + "/images/fits/" + name, std::ios::binary);
    EXPECT_TRUE(in) << name;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string Card(const std::string& text) {
    return (text + std::string(80, ' ')).substr(0, 80);
}

std::string Value(const std::string& key, const std::string& value) {
    std::string field = value.size() < 20 ? std::string(20 - value.size(), ' ') + value : value;
    return Card((key + "        ").substr(0, 8) + "= " + field);
}

// The cards, END, blank cards to the end of the block.
std::string Header(const std::vector<std::string>& cards) {
    std::string h;
    for (const std::string& c : cards) h += c;
    h += Card("END");
    while (h.size() % 2880) h += Card("");
    return h;
}

std::string Samples(int bits, const std::vector<uint32_t>& raw) {
    std::string data;
    for (uint32_t v : raw)
        for (int shift = bits - 8; shift >= 0; shift -= 8)
            data += static_cast<char>((v >> shift) & 0xFF);
    return data;
}

std::string Fits(int bitpix, int width, int height, const std::vector<uint32_t>& raw,
                 const std::vector<std::string>& extra = {}) {
    std::vector<std::string> cards = {Value("SIMPLE", "T"), Value("BITPIX", std::to_string(bitpix)),
                                      Value("NAXIS", "2"), Value("NAXIS1", std::to_string(width)),
                                      Value("NAXIS2", std::to_string(height))};
    cards.insert(cards.end(), extra.begin(), extra.end());
    return Header(cards) + Samples(std::abs(bitpix), raw);
}

// The stretch as the reader documents it, worked out on its own here.
std::vector<uint8_t> Stretch(const std::vector<int64_t>& s) {
    const int64_t lo = *std::min_element(s.begin(), s.end());
    const int64_t hi = *std::max_element(s.begin(), s.end());
    if (lo == hi) return std::vector<uint8_t>(s.size(), 0);
    double scale = 255.0 / static_cast<double>(hi - lo);
    std::vector<size_t> histogram(256);
    for (int64_t v : s) ++histogram[std::min(255, static_cast<int>((v - lo) * scale))];
    size_t sum = 0;
    int b = 0;
    while (b < 255) {
        sum += histogram[b];
        if (static_cast<double>(sum) > 0.998 * static_cast<double>(s.size())) break;
        ++b;
    }
    if (b > 0) scale = 255.0 / (b / scale);
    std::vector<uint8_t> out;
    for (int64_t v : s) out.push_back(static_cast<uint8_t>(std::min(255.0, (v - lo) * scale)));
    return out;
}

struct TLoad {
    bool Ok = false;
    TPicture Picture;
    TPicReport Report;
    std::vector<uint8_t> Gray;  // one sample a pixel
};

TLoad Load(const std::string& bytes) {
    TLoad load;
    TFitsReader reader;
    TMemoryPictureSource source(bytes);
    load.Ok = LoadRowPicture(reader, source, load.Picture, load.Report);
    if (load.Ok) {
        const std::vector<uint8_t>& p = load.Picture.Bitmap->Pixels;
        for (size_t i = 0; i < p.size(); i += 3) {
            EXPECT_TRUE(p[i] == p[i + 1] && p[i] == p[i + 2]) << "pixel " << i / 3;
            load.Gray.push_back(p[i]);
        }
    }
    return load;
}

TEST(FitsRead, FixturesGiveTheLevelsWorkedOutForThem) {
    for (const char* name : {"bitpix8", "bitpix16", "bitpix32", "bitpixm32", "clip"}) {
        SCOPED_TRACE(name);
        const std::string pgm = Fixture(std::string(name) + ".pgm");
        std::istringstream in(pgm);
        std::string magic;
        int width = 0, height = 0, maxval = 0;
        in >> magic >> width >> height >> maxval;
        const std::vector<uint8_t> expected(pgm.end() - static_cast<ptrdiff_t>(width) * height,
                                            pgm.end());
        TLoad load = Load(Fixture(std::string(name) + ".fts"));
        ASSERT_TRUE(load.Ok) << load.Report.Error.Code;
        EXPECT_EQ(load.Picture.Width, width);
        EXPECT_EQ(load.Picture.Height, height);
        EXPECT_EQ(load.Gray, expected);
        EXPECT_GT(std::set<uint8_t>(load.Gray.begin(), load.Gray.end()).size(), 50u);
    }
}

TEST(FitsRead, TheBrightestFewClipToWhite) {
    // Samples spread over 0..1000 and a few stars far above: the walk stops
    // below the stars only when more than 0.998 of the samples lie below.
    struct TCase {
        int Width, Height, Stars;
        bool Clips;
    } cases[] = {
        {64, 32, 4, true},   // 2044 > 2043.9
        {64, 32, 5, false},  // 2043 is not
        {40, 25, 1, true},   // 999 > 998
        {40, 25, 2, false},  // 998 is not more than 998
        {25, 20, 1, false},  // 499 is not more than 499
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Width << "x" << c.Height << ", " << c.Stars);
        std::vector<uint32_t> raw;
        for (int y = 0; y < c.Height; ++y)
            for (int x = 0; x < c.Width; ++x) raw.push_back((x * 37 + y * 101) % 1001);
        for (int i = 0; i < c.Stars; ++i) raw[i * 401 + 3] = 60000;
        TLoad load = Load(Fits(16, c.Width, c.Height, raw));
        ASSERT_TRUE(load.Ok);
        EXPECT_EQ(load.Gray, Stretch(std::vector<int64_t>(raw.begin(), raw.end())));
        const auto white = std::count(load.Gray.begin(), load.Gray.end(), 255);
        const auto mid = std::count_if(load.Gray.begin(), load.Gray.end(),
                                       [](uint8_t v) { return v > 100 && v < 255; });
        if (c.Clips) {
            EXPECT_GT(white, c.Stars);               // the upper part of the spread too
            EXPECT_GT(mid, c.Width * c.Height / 4);  // the rest spread over the levels
        } else {
            EXPECT_EQ(white, c.Stars);
            EXPECT_EQ(mid, 0);  // all in the lowest levels
        }
    }
}

TEST(FitsRead, SignOfBitpixOnlySelectsTheWidth) {
    const int w = 7, h = 5;
    std::vector<uint32_t> raw;
    for (int i = 0; i < w * h; ++i) raw.push_back(static_cast<uint32_t>(i * i * 3 + (i % 4) * 50));
    for (int bits : {8, 16, 32}) {
        SCOPED_TRACE(bits);
        std::vector<uint32_t> fitting;
        for (uint32_t v : raw) fitting.push_back(bits == 8 ? v & 0xFF : v);
        const TLoad plus = Load(Fits(bits, w, h, fitting));
        const TLoad minus = Load(Fits(-bits, w, h, fitting));
        ASSERT_TRUE(plus.Ok);
        ASSERT_TRUE(minus.Ok);
        EXPECT_EQ(plus.Gray, minus.Gray);
        EXPECT_EQ(plus.Gray, Stretch(std::vector<int64_t>(fitting.begin(), fitting.end())));
    }
    // 1.0f, 2.0f, 3.0f ... taken as the integers of their bits.
    std::vector<uint32_t> floats;
    for (int i = 0; i < w * h; ++i) {
        const float f = 1.0f + static_cast<float>(i);
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        floats.push_back(bits);
    }
    const TLoad fl = Load(Fits(-32, w, h, floats));
    ASSERT_TRUE(fl.Ok);
    EXPECT_EQ(fl.Gray, Stretch(std::vector<int64_t>(floats.begin(), floats.end())));
}

TEST(FitsRead, BzeroMovesEverySampleAlike) {
    const std::vector<uint32_t> raw = {0, 1, 0xFFFFFFFF, 0x80000000, 7, 0x7FFFFFFF};
    const TLoad plain = Load(Fits(32, 3, 2, raw));
    ASSERT_TRUE(plain.Ok);
    for (const char* zero : {"0", "32768", "-2147483648", "4611686018427387904",
                             "-4611686018427387904", "+12", "  -5.5E3"}) {
        SCOPED_TRACE(zero);
        const TLoad moved = Load(Fits(32, 3, 2, raw, {Value("BZERO", zero)}));
        ASSERT_TRUE(moved.Ok) << moved.Report.Error.Code;
        EXPECT_EQ(moved.Gray, plain.Gray);
    }
}

TEST(FitsRead, EqualSamplesAreBlackAndRowsComeInFileOrder) {
    const TLoad flat = Load(Fits(16, 4, 3, std::vector<uint32_t>(12, 5000)));
    ASSERT_TRUE(flat.Ok);
    EXPECT_EQ(flat.Gray, std::vector<uint8_t>(12, 0));

    // The first row in the file is bright: it is the top row.
    std::vector<uint32_t> raw(4 * 3, 10);
    std::fill(raw.begin(), raw.begin() + 4, 200);
    const TLoad rows = Load(Fits(8, 4, 3, raw));
    ASSERT_TRUE(rows.Ok);
    const std::vector<uint8_t> top(rows.Gray.begin(), rows.Gray.begin() + 4);
    EXPECT_EQ(top, std::vector<uint8_t>(4, 255));
    EXPECT_EQ(rows.Gray[11], 0);
}

TEST(FitsRead, DataStartsAtTheNextHeaderBlock) {
    // END as the 1st, 36th, 37th and 72nd card.
    for (int before : {0, 35, 36, 71}) {
        SCOPED_TRACE(before);
        std::vector<std::string> cards = {Value("BITPIX", "8"), Value("NAXIS1", "2"),
                                          Value("NAXIS2", "2")};
        while (static_cast<int>(cards.size()) < before)
            cards.insert(cards.begin(), Card("COMMENT"));
        if (before == 0) cards.clear();
        std::string header;
        for (const std::string& c : cards) header += c;
        header += Card("END");
        while (header.size() % 2880) header += Card("");
        if (before == 0) {
            // Nothing but END: the first card that counts is missing.
            const TLoad load = Load(header + "\x01\x02\x03\x04");
            EXPECT_EQ(load.Report.Error.Code, PIC_FITS_BITPIX);
            continue;
        }
        const TLoad load = Load(header + std::string("\x00\x40\x80\xFF", 4));
        ASSERT_TRUE(load.Ok) << load.Report.Error.Code;
        EXPECT_EQ(load.Gray, (std::vector<uint8_t>{0, 64, 128, 255}));
    }
}

TEST(FitsRead, BadHeadersFailWithTheirCodes) {
    auto with = [](std::vector<std::string> replace) {
        // BITPIX, NAXIS1, NAXIS2 as given (empty: left out), then 2x2 of data.
        std::vector<std::string> cards;
        for (const std::string& c : replace)
            if (!c.empty()) cards.push_back(c);
        return Header(cards) + std::string(4, '\x05');
    };
    const std::string b8 = Value("BITPIX", "8"), w2 = Value("NAXIS1", "2"),
                      h2 = Value("NAXIS2", "2");
    const std::string good = with({b8, w2, h2});
    struct TCase {
        const char* Label;
        std::string Bytes;
        int Code;
        long Param = 0, Param2 = 0;
    } cases[] = {
        {"good", good, PIC_OK},
        {"control character in a keyword", with({Card("BIT\x01PIX = 8"), b8, w2, h2}),
         PIC_FITS_BADCARD},
        {"tab in column 9", with({b8, w2, h2, Card("COMMENT \t")}), PIC_FITS_BADCARD},
        {"byte above 126 in column 10", with({b8, Card("NAXIS1  =\x80  2"), h2}), PIC_FITS_BADCARD},
        {"anything after column 10", with({b8, w2, h2, Card("COMMENT   \x01\xFF\x7F")}), PIC_OK},
        {"BITPIX not a number", with({Value("BITPIX", "abc"), w2, h2}), PIC_FITS_BITPIX},
        {"BITPIX beyond 64 bits", with({Value("BITPIX", "99999999999999999999"), w2, h2}),
         PIC_FITS_BITPIX},
        {"no BITPIX", with({w2, h2}), PIC_FITS_BITPIX},
        {"BITPIX 12", with({Value("BITPIX", "12"), w2, h2}), PIC_FITS_BADBITPIX, 12},
        {"BITPIX -64", with({Value("BITPIX", "-64"), w2, h2}), PIC_FITS_BADBITPIX, -64},
        {"BITPIX 0", with({Value("BITPIX", "0"), w2, h2}), PIC_FITS_BADBITPIX, 0},
        {"NAXIS1 not a number", with({b8, Value("NAXIS1", "x"), h2}), PIC_FITS_NAXIS1},
        {"no NAXIS1", with({b8, h2}), PIC_FITS_NAXIS1},
        {"NAXIS10 is not NAXIS1", with({b8, Value("NAXIS10", "2"), h2}), PIC_FITS_NAXIS1},
        {"NAXIS2 blank", with({b8, w2, Value("NAXIS2", "")}), PIC_FITS_NAXIS2},
        {"no NAXIS2", with({b8, w2}), PIC_FITS_NAXIS2},
        {"BZERO not a number", with({b8, w2, h2, Value("BZERO", "e5")}), PIC_FITS_BZERO},
        {"BZERO beyond 2^62", with({b8, w2, h2, Value("BZERO", "4611686018427387905")}),
         PIC_FITS_BZERO},
        {"no width", with({b8, Value("NAXIS1", "0"), h2}), PIC_TOO_LARGE, 0, 2},
        {"negative height", with({b8, w2, Value("NAXIS2", "-3")}), PIC_TOO_LARGE, 2, -3},
        {"too wide", with({b8, Value("NAXIS1", "40000"), h2}), PIC_TOO_LARGE, 40000, 2},
        {"too many pixels", with({b8, Value("NAXIS1", "8193"), Value("NAXIS2", "8193")}),
         PIC_TOO_LARGE, 8193, 8193},
        {"no END", b8 + w2 + h2, PIC_FITS_EOF},
        {"card cut short", b8 + w2.substr(0, 40), PIC_FITS_EOF},
        {"block cut short", b8 + w2 + h2 + Card("END") + Card(""), PIC_FITS_EOF},
        {"empty file", "", PIC_FITS_EOF},
        {"data cut short", good.substr(0, good.size() - 1), PIC_INPUT_EOF},
        {"no data", good.substr(0, 2880), PIC_INPUT_EOF},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Label);
        const TLoad load = Load(c.Bytes);
        EXPECT_EQ(load.Ok, c.Code == PIC_OK);
        EXPECT_EQ(load.Report.Error.Code, c.Code);
        if (c.Code == PIC_OK) continue;
        EXPECT_FALSE(load.Picture.Bitmap);
        if (c.Code == PIC_FITS_BADBITPIX || c.Code == PIC_TOO_LARGE) {
            EXPECT_EQ(load.Report.Error.Param, c.Param);
            EXPECT_EQ(load.Report.Error.Param2, c.Param2);
        }
    }
}

TEST(FitsRead, ReaderGivesOneGrayComponentAndNoMoreRowsThanItHas) {
    TFitsReader reader;
    const std::string bytes = Fits(16, 3, 2, {1000, 1051, 1100, 1150, 1200, 1255});
    TMemoryPictureSource source(bytes);
    TRowImage image;
    TPicReport report;
    ASSERT_TRUE(reader.Start(source, image, report));
    EXPECT_EQ(image.Width, 3);
    EXPECT_EQ(image.Height, 2);
    EXPECT_EQ(image.Components, 1);
    EXPECT_FALSE(image.HasTransparent);
    uint8_t row[3];
    ASSERT_TRUE(reader.ReadRow(row, report));
    EXPECT_EQ(row[0], 0);
    EXPECT_EQ(row[1], 51);
    ASSERT_TRUE(reader.ReadRow(row, report));
    EXPECT_EQ(row[2], 255);
    EXPECT_FALSE(reader.ReadRow(row, report));
    EXPECT_EQ(report.Error.Code, PIC_INPUT_EOF);
}

}  // namespace
}  // namespace zorvex
