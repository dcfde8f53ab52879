// The output stage: the reduction rule, block averages, gray, the colour
// maps and the nearest-colour search, and what a row reader's failure does.
#include "image/output.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <set>
#include <vector>

namespace zorvex {
namespace {

using TRgb = std::array<uint8_t, 3>;

// Hands out fixed rows; can fail at a given row.
class TFakeRows final : public TRowReader {
  public:
    TFakeRows(int width, int height, int components, std::vector<uint8_t> samples)
        : Samples(std::move(samples)) {
        Image.Width = width;
        Image.Height = height;
        Image.Components = components;
    }
    bool Start(TPictureSource&, TRowImage& image, TPicReport& report) override {
        if (StartCode != PIC_OK) return report.Fail(StartCode);
        image = Image;
        return true;
    }
    bool ReadRow(uint8_t* row, TPicReport& report) override {
        if (RowsRead == FailAtRow) return report.Fail(PIC_INPUT_EOF);
        const size_t n = static_cast<size_t>(Image.Width) * Image.Components;
        std::memcpy(row, Samples.data() + RowsRead * n, n);
        ++RowsRead;
        return true;
    }

    TRowImage Image;
    std::vector<uint8_t> Samples;
    int FailAtRow = -1;
    int RowsRead = 0;
    int StartCode = PIC_OK;
};

std::set<TRgb> ColorsOf(const TBitmap& bitmap) {
    std::set<TRgb> colors;
    for (size_t i = 0; i + 2 < bitmap.Pixels.size(); i += 3)
        colors.insert({bitmap.Pixels[i], bitmap.Pixels[i + 1], bitmap.Pixels[i + 2]});
    return colors;
}

// A smooth picture of w*h distinct colours.
std::vector<uint8_t> Gradient(int width, int height) {
    std::vector<uint8_t> rgb;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            rgb.push_back(static_cast<uint8_t>(x * 255 / (width - 1)));
            rgb.push_back(static_cast<uint8_t>(y * 255 / (height - 1)));
            rgb.push_back(static_cast<uint8_t>((x * 7 + y * 13) % 256));
        }
    return rgb;
}

bool Load(TFakeRows& rows, TPicture& picture, TPicReport& report) {
    TMemoryPictureSource none("");
    return LoadRowPicture(rows, none, picture, report);
}

size_t BruteNearest(const TColorMap& map, const TRgb& c) {
    size_t best = 0;
    int bestDistance = INT32_MAX;
    for (size_t i = 0; i < map.size(); ++i) {
        int d = 0;
        for (int k = 0; k < 3; ++k) d += (map[i][k] - c[k]) * (map[i][k] - c[k]);
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return best;
}

TEST(OutputScaleDenom, FollowsTheBoxAndTheFlags) {
    constexpr uint32_t R = LOAD_REDUCE, L = LOAD_REDUCE_ONE_LESS;
    struct TCase {
        int W, H, BoxW, BoxH;
        uint32_t Flags;
        int Denom;
    } cases[] = {
        {800, 600, 100, 100, 0, 1},      // no reduction asked
        {800, 600, 100, 100, L, 1},      // one-less alone does nothing
        {800, 600, 800, 600, R, 1},      // fits as it is
        {800, 600, 400, 300, R, 2},      // exactly half
        {801, 600, 400, 300, R, 4},      // ceil(801/2) = 401 does not fit
        {800, 600, 200, 1000, R, 4},     // the width decides
        {800, 600, 1000, 75, R, 8},      // the height decides
        {800, 600, 10, 10, R, 8},        // nothing fits: the smallest
        {800, 600, 10, 10, R | L, 4},    // one less than the smallest
        {800, 600, 400, 300, R | L, 1},  // 2 halved
        {800, 600, 800, 600, R | L, 1},  // 1 stays
        {800, 600, 0, 150, R, 4},        // no width limit
        {800, 600, 100, -1, R, 8},       // no height limit
        {800, 600, 0, 0, R, 1},          // no limit at all
        {15, 9, 2, 2, R, 8},             // ceil(15/8) = 2, ceil(9/8) = 2
        {17, 9, 2, 2, R, 8},             // 3 > 2 still 8
        {0, 600, 10, 10, R, 1},          // no picture
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.W << "x" << c.H << " in " << c.BoxW << "x" << c.BoxH
                                        << " flags " << c.Flags);
        EXPECT_EQ(ChooseScaleDenom(c.W, c.H, c.BoxW, c.BoxH, c.Flags), c.Denom);
    }
}

TEST(OutputRowPicture, AveragesBlocksIncludingTheCutOnesAtTheEdges) {
    // 3x3 gray, halved: 2x2 of the blocks' means (rounded), the right and
    // bottom blocks cut short.
    TFakeRows rows(3, 3, 1, {10, 20, 100, 30, 41, 200, 7, 8, 255});
    TPicture picture;
    picture.Flags = LOAD_REDUCE;
    picture.RequestedWidth = 2;
    picture.RequestedHeight = 2;
    TPicReport report;
    ASSERT_TRUE(Load(rows, picture, report));
    EXPECT_EQ(picture.Width, 3);
    EXPECT_EQ(picture.Height, 3);
    EXPECT_EQ(picture.ScaleNum, 1);
    EXPECT_EQ(picture.ScaleDenom, 2);
    ASSERT_TRUE(picture.Bitmap);
    const TBitmap& b = *picture.Bitmap;
    ASSERT_EQ(b.Width, 2);
    ASSERT_EQ(b.Height, 2);
    const uint8_t expected[4] = {25, 150, 8, 255};  // (10+20+30+41)/4 = 25.25; (100+200)/2
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(b.Pixels[i * 3], expected[i]);
        EXPECT_EQ(b.Pixels[i * 3 + 1], expected[i]);
        EXPECT_EQ(b.Pixels[i * 3 + 2], expected[i]);
    }
}

TEST(OutputRowPicture, ReducedSizesRoundUpAndEveryRowIsReadOnce) {
    for (int denom : {1, 2, 4, 8}) {
        SCOPED_TRACE(denom);
        TFakeRows rows(61, 43, 3, Gradient(61, 43));
        TPicture picture;
        picture.Flags = LOAD_REDUCE;
        picture.RequestedWidth = (61 + denom - 1) / denom;
        picture.RequestedHeight = (43 + denom - 1) / denom;
        TPicReport report;
        ASSERT_TRUE(Load(rows, picture, report));
        EXPECT_EQ(picture.ScaleDenom, denom);
        EXPECT_EQ(picture.Bitmap->Width, picture.RequestedWidth);
        EXPECT_EQ(picture.Bitmap->Height, picture.RequestedHeight);
        EXPECT_EQ(picture.Bitmap->Pixels.size(),
                  static_cast<size_t>(picture.RequestedWidth) * picture.RequestedHeight * 3);
        EXPECT_EQ(rows.RowsRead, 43);
        // The top-left pixel is the mean of its block of the gradient.
        int sum = 0;
        for (int y = 0; y < denom; ++y)
            for (int x = 0; x < denom; ++x) sum += rows.Samples[(y * 61 + x) * 3];
        EXPECT_EQ(picture.Bitmap->Pixels[0], (sum + denom * denom / 2) / (denom * denom));
    }
}

TEST(OutputRowPicture, GrayscaleUsesLuminance) {
    struct TCase {
        TRgb In;
        uint8_t Gray;
    } cases[] = {
        {{255, 0, 0}, 76},      {{0, 255, 0}, 150}, {{0, 0, 255}, 29},
        {{255, 255, 255}, 255}, {{0, 0, 0}, 0},     {{10, 200, 90}, 131},  // 2.99 + 117.4 + 10.26
    };
    std::vector<uint8_t> samples;
    for (const TCase& c : cases) samples.insert(samples.end(), c.In.begin(), c.In.end());
    TFakeRows rows(static_cast<int>(std::size(cases)), 1, 3, samples);
    TPicture picture;
    picture.Flags = LOAD_GRAYSCALE;
    TPicReport report;
    ASSERT_TRUE(Load(rows, picture, report));
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const uint8_t* p = &picture.Bitmap->Pixels[i * 3];
        EXPECT_EQ(p[0], cases[i].Gray);
        EXPECT_EQ(p[1], cases[i].Gray);
        EXPECT_EQ(p[2], cases[i].Gray);
    }
}

TEST(OutputRowPicture, TransparentColourIsStoredBlueFirstAndFollowsGray) {
    for (bool gray : {false, true}) {
        SCOPED_TRACE(gray);
        TFakeRows rows(1, 1, 3, {255, 0, 0});
        rows.Image.HasTransparent = true;
        rows.Image.TransparentRgb[0] = 200;
        rows.Image.TransparentRgb[1] = 100;
        rows.Image.TransparentRgb[2] = 50;
        TPicture picture;
        picture.Flags = gray ? LOAD_GRAYSCALE : 0;
        TPicReport report;
        ASSERT_TRUE(Load(rows, picture, report));
        EXPECT_TRUE(picture.HasTransparent);
        // Gray: 0.299*200 + 0.587*100 + 0.114*50 = 124.2.
        const uint8_t want[4] = {static_cast<uint8_t>(gray ? 124 : 50),
                                 static_cast<uint8_t>(gray ? 124 : 100),
                                 static_cast<uint8_t>(gray ? 124 : 200), 0};
        EXPECT_EQ(0, std::memcmp(picture.Transparent, want, 4));
    }
}

TEST(OutputRowPicture, QuantisesToAtMost256ColoursOfItsOwn) {
    const int w = 96, h = 80;
    TFakeRows rows(w, h, 3, Gradient(w, h));
    TPicture picture;
    picture.Flags = LOAD_QUANTIZE;
    TPicReport report;
    ASSERT_TRUE(Load(rows, picture, report));
    const std::set<TRgb> colors = ColorsOf(*picture.Bitmap);
    EXPECT_LE(colors.size(), 256u);
    EXPECT_GT(colors.size(), 200u);  // the map is used, not a handful
    // Close to the picture: median cut over a smooth gradient.
    double error = 0;
    for (size_t i = 0; i < rows.Samples.size(); ++i)
        error += std::abs(rows.Samples[i] - picture.Bitmap->Pixels[i]);
    EXPECT_LT(error / rows.Samples.size(), 8.0);
}

TEST(OutputRowPicture, FewColoursSurviveQuantisingUnchanged) {
    std::vector<uint8_t> samples;
    for (int i = 0; i < 40 * 30; ++i) {
        const int c = (i * 7) % 256;  // 256 colours, some a step apart
        samples.insert(samples.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c ^ 1),
                                       static_cast<uint8_t>(255 - c)});
    }
    TFakeRows rows(40, 30, 3, samples);
    TPicture picture;
    picture.Flags = LOAD_QUANTIZE;
    TPicReport report;
    ASSERT_TRUE(Load(rows, picture, report));
    EXPECT_EQ(picture.Bitmap->Pixels, samples);
}

TEST(OutputRowPicture, QuantisingFlagsDecideTheMap) {
    const int w = 64, h = 48;
    const TColorMap fixed = FixedColorMap();
    const TColorMap index = {{0, 0, 0}, {255, 255, 255}, {250, 10, 10}, {10, 10, 250}};
    SetIndexColorMap(index);
    struct TCase {
        const char* Label;
        uint32_t Flags;
        const TColorMap* Map;  // every pixel one of these; null: no quantising
    } cases[] = {
        {"fixed map", LOAD_QUANTIZE | LOAD_GIVEN_MAP, &fixed},
        {"index map", LOAD_QUANTIZE | LOAD_GIVEN_MAP | LOAD_INDEX_MAP, &index},
        {"gray to the fixed map", LOAD_QUANTIZE | LOAD_GIVEN_MAP | LOAD_GRAYSCALE, &fixed},
        {"given map without quantising", LOAD_GIVEN_MAP, nullptr},
        {"quantising turned off", LOAD_QUANTIZE | LOAD_NO_QUANTIZE | LOAD_GIVEN_MAP, nullptr},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Label);
        TFakeRows rows(w, h, 3, Gradient(w, h));
        TPicture picture;
        picture.Flags = c.Flags;
        TPicReport report;
        ASSERT_TRUE(Load(rows, picture, report));
        const std::set<TRgb> colors = ColorsOf(*picture.Bitmap);
        if (!c.Map) {
            EXPECT_GT(colors.size(), 256u);
            continue;
        }
        const std::set<TRgb> allowed(c.Map->begin(), c.Map->end());
        for (const TRgb& color : colors) EXPECT_TRUE(allowed.count(color));
        EXPECT_GT(colors.size(), 2u);
    }
    SetIndexColorMap({});
    EXPECT_EQ(GivenColorMap(LOAD_GIVEN_MAP | LOAD_INDEX_MAP), fixed);
}

TEST(OutputColorMap, FixedMapEntries) {
    const TColorMap map = FixedColorMap();
    ASSERT_EQ(map.size(), 256u);
    EXPECT_EQ(map[0], (TRgb{0, 0, 0}));
    EXPECT_EQ(map[0x1F], (TRgb{0, 0xE0, 0xC0}));
    EXPECT_EQ(map[0xE3], (TRgb{0xE0, 0x00, 0xC0}));
    EXPECT_EQ(map[0xFF], (TRgb{0xE0, 0xE0, 0xC0}));
    EXPECT_EQ(map[0x25], (TRgb{0x20, 0x20, 0x40}));
}

TEST(OutputColorMap, MappingFindsTheTrueNearestEntry) {
    std::mt19937 random(7);
    auto byte = [&] { return static_cast<uint8_t>(random() & 0xFF); };
    TColorMap randomMap(200);
    for (TRgb& c : randomMap) c = {byte(), byte(), byte()};
    struct TCase {
        const char* Label;
        TColorMap Map;
        int Low, Span;  // of each component of the pixels
    } cases[] = {
        {"random map", randomMap, 0, 256},
        // A coarse search would confuse entries one step apart.
        {"entries a step apart",
         {{100, 100, 100}, {101, 100, 100}, {100, 101, 100}, {0, 0, 0}},
         98,
         5},
        // (7,7,7) is as far from both; the first entry wins the tie.
        {"tie at a cell corner", {{14, 14, 14}, {0, 0, 0}}, 0, 16},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Label);
        TBitmap bitmap;
        bitmap.Width = 4000;
        bitmap.Height = 1;
        bitmap.Pixels = {7, 7, 7};
        while (bitmap.Pixels.size() < 4000 * 3)
            bitmap.Pixels.push_back(static_cast<uint8_t>(c.Low + byte() % c.Span));
        const std::vector<uint8_t> before = bitmap.Pixels;
        MapToColors(bitmap, c.Map);
        for (int i = 0; i < bitmap.Width; ++i) {
            const TRgb in = {before[i * 3], before[i * 3 + 1], before[i * 3 + 2]};
            const TRgb out = {bitmap.Pixels[i * 3], bitmap.Pixels[i * 3 + 1],
                              bitmap.Pixels[i * 3 + 2]};
            ASSERT_EQ(out, c.Map[BruteNearest(c.Map, in)]) << "pixel " << i;
        }
    }
}

TEST(OutputColorMap, IndexMapIsCutTo256AndCopied) {
    TColorMap big(300, TRgb{1, 2, 3});
    big[255] = {9, 9, 9};
    SetIndexColorMap(big);
    big[0] = {7, 7, 7};  // the caller's copy changes later
    const TColorMap used = GivenColorMap(LOAD_GIVEN_MAP | LOAD_INDEX_MAP);
    ASSERT_EQ(used.size(), 256u);
    EXPECT_EQ(used[0], (TRgb{1, 2, 3}));
    EXPECT_EQ(used[255], (TRgb{9, 9, 9}));
    EXPECT_EQ(GivenColorMap(LOAD_GIVEN_MAP), FixedColorMap());
    SetIndexColorMap({});
}

TEST(OutputRowPicture, ReaderFailuresLeaveNoBitmap) {
    struct TCase {
        const char* Label;
        int Width, Height, Components, FailAtRow, StartCode, Code;
    } cases[] = {
        {"start fails", 4, 4, 3, -1, PIC_GIF_NOT, PIC_GIF_NOT},
        {"first row fails", 4, 4, 3, 0, PIC_OK, PIC_INPUT_EOF},
        {"last row fails", 4, 4, 3, 3, PIC_OK, PIC_INPUT_EOF},
        {"too wide", MAX_PICTURE_SIDE + 1, 1, 3, -1, PIC_OK, PIC_TOO_LARGE},
        {"too many pixels", 8193, 8193, 1, -1, PIC_OK, PIC_TOO_LARGE},
        {"no rows", 4, 0, 3, -1, PIC_OK, PIC_TOO_LARGE},
        {"four components", 4, 4, 4, -1, PIC_OK, PIC_INPUT_EOF},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Label);
        const bool small = c.Width * 1LL * c.Height <= 16;
        TFakeRows rows(c.Width, c.Height, c.Components, std::vector<uint8_t>(small ? 64 : 0, 128));
        rows.FailAtRow = c.FailAtRow;
        rows.StartCode = c.StartCode;
        TPicture picture;
        picture.Bitmap = std::make_unique<TBitmap>();  // from an earlier load
        TPicReport report;
        EXPECT_FALSE(Load(rows, picture, report));
        EXPECT_EQ(report.Error.Code, c.Code);
        EXPECT_FALSE(picture.Bitmap);
        if (c.Code == PIC_TOO_LARGE) {
            EXPECT_EQ(report.Error.Param, c.Width);
            EXPECT_EQ(report.Error.Param2, c.Height);
            EXPECT_EQ(rows.RowsRead, 0);
        }
    }
}

}  // namespace
}  // namespace zorvex
