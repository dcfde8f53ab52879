// The JPEG loader against libjpeg's own decoder (djpeg's output of the same
// files) and the picture the files were made from; its scaling, gray and
// quantising; and files that are empty, cut short, broken or hostile.
#include "image/jpegload.h"

#include <gtest/gtest.h>

// clang-format off
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "image/output.h"

namespace zorvex {
namespace {

using TRgb = std::array<uint8_t, 3>;

std::string Fixture(const std::string& name) {
    std::ifstream in(std::string(ZORVEX_TEST_DATA) + "/images/jpeg/" + name, std::ios::binary);
    EXPECT_TRUE(in) << name;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// P5 or P6 with maxval 255; gray becomes equal RGB components.
TBitmap ReadPnm(const std::string& name) {
    const std::string bytes = Fixture(name);
    std::istringstream in(bytes);
    std::string magic;
    int width = 0, height = 0, maxval = 0;
    in >> magic >> width >> height >> maxval;
    in.get();
    TBitmap b;
    EXPECT_TRUE((magic == "P5" || magic == "P6") && maxval == 255) << name;
    b.Width = width;
    b.Height = height;
    const size_t at = static_cast<size_t>(in.tellg());
    const size_t n = static_cast<size_t>(width) * height;
    for (size_t i = 0; i < n; ++i)
        for (int k = 0; k < 3; ++k)
            b.Pixels.push_back(
                static_cast<uint8_t>(bytes.at(magic == "P5" ? at + i : at + i * 3 + k)));
    return b;
}

struct TDiff {
    int Max = 0;
    double Mean = 0;
};

TDiff Compare(const TBitmap& a, const TBitmap& b) {
    TDiff d;
    EXPECT_EQ(a.Width, b.Width);
    EXPECT_EQ(a.Height, b.Height);
    if (a.Pixels.size() != b.Pixels.size() || a.Pixels.empty()) return {255, 255};
    for (size_t i = 0; i < a.Pixels.size(); ++i) {
        const int e = std::abs(a.Pixels[i] - b.Pixels[i]);
        d.Max = std::max(d.Max, e);
        d.Mean += e;
    }
    d.Mean /= static_cast<double>(a.Pixels.size());
    return d;
}

std::set<TRgb> ColorsOf(const TBitmap& bitmap) {
    std::set<TRgb> colors;
    for (size_t i = 0; i + 2 < bitmap.Pixels.size(); i += 3)
        colors.insert({bitmap.Pixels[i], bitmap.Pixels[i + 1], bitmap.Pixels[i + 2]});
    return colors;
}

struct TLoad {
    bool Ok = false;
    TPicture Picture;
    TPicReport Report;
};

TLoad Load(const std::string& bytes, uint32_t flags = 0, int boxWidth = 0, int boxHeight = 0) {
    TLoad load;
    load.Picture.Flags = flags;
    load.Picture.RequestedWidth = boxWidth;
    load.Picture.RequestedHeight = boxHeight;
    TMemoryPictureSource source(bytes);
    load.Ok = LoadJpegPicture(source, load.Picture, load.Report);
    return load;
}

bool HasWarning(const TPicReport& report, int code) {
    for (const TPicMessage& m : report.Warnings)
        if (m.Code == code) return true;
    return false;
}

// Offsets of the markers before the first scan (SOS included), after SOI.
std::vector<size_t> HeaderMarkers(const std::string& jpeg) {
    std::vector<size_t> at;
    size_t p = 2;
    while (p + 4 <= jpeg.size() && static_cast<uint8_t>(jpeg[p]) == 0xFF) {
        at.push_back(p);
        if (static_cast<uint8_t>(jpeg[p + 1]) == 0xDA) break;
        p += 2 + (static_cast<uint8_t>(jpeg[p + 2]) << 8 | static_cast<uint8_t>(jpeg[p + 3]));
    }
    return at;
}

size_t MarkerAt(const std::string& jpeg, uint8_t code) {
    for (size_t p : HeaderMarkers(jpeg))
        if (static_cast<uint8_t>(jpeg[p + 1]) == code) return p;
    ADD_FAILURE() << "no marker " << int{code};
    return 0;
}

std::string Comment(size_t length) {
    std::string c = "\xFF\xFE";
    c += static_cast<char>((length + 2) >> 8);
    c += static_cast<char>((length + 2) & 0xFF);
    return c + std::string(length, 'c');
}

TEST(JpegLoad, EveryScaleMatchesLibjpegsDecoder) {
    for (const char* name : {"baseline", "odd"}) {
        const std::string jpeg = Fixture(std::string(name) + ".jpg");
        const TBitmap source =
            ReadPnm(std::string(name) == "odd" ? "source-odd.ppm" : "source.ppm");
        for (int denom : {1, 2, 4, 8}) {
            SCOPED_TRACE(testing::Message() << name << " 1/" << denom);
            const TBitmap expected =
                ReadPnm(std::string(name) + "-" + std::to_string(denom) + ".ppm");
            // A box of exactly the scaled size asks for this scale.
            const int boxW = (source.Width + denom - 1) / denom;
            const int boxH = (source.Height + denom - 1) / denom;
            TLoad load = Load(jpeg, LOAD_REDUCE, boxW, boxH);
            ASSERT_TRUE(load.Ok) << load.Report.Error.Text;
            EXPECT_EQ(load.Picture.Width, source.Width);
            EXPECT_EQ(load.Picture.Height, source.Height);
            EXPECT_EQ(load.Picture.ScaleNum, 1);
            EXPECT_EQ(load.Picture.ScaleDenom, denom);
            ASSERT_TRUE(load.Picture.Bitmap);
            EXPECT_EQ(load.Picture.Bitmap->Width, boxW);
            EXPECT_EQ(load.Picture.Bitmap->Height, boxH);
            EXPECT_LE(Compare(*load.Picture.Bitmap, expected).Max, 2);
            EXPECT_TRUE(load.Report.Warnings.empty());
        }
    }
}

TEST(JpegLoad, EveryKindOfFileShowsThePicture) {
    const TBitmap source = ReadPnm("source.ppm");
    TBitmap graySource = source;
    for (size_t i = 0; i < graySource.Pixels.size(); i += 3) {
        const uint8_t* p = &source.Pixels[i];
        const auto y =
            static_cast<uint8_t>(std::lround(0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2]));
        std::fill_n(&graySource.Pixels[i], 3, y);
    }
    struct TCase {
        const char* File;
        const char* Expected;
        bool Gray;
    } cases[] = {
        {"baseline.jpg", "baseline-1.ppm", false},
        {"progressive.jpg", "progressive.ppm", false},
        {"s444.jpg", "s444.ppm", false},
        {"s420.jpg", "s420.ppm", false},
        {"restart.jpg", "restart.ppm", false},
        {"pil422.jpg", "pil422.ppm", false},
        {"gray.jpg", "gray.pgm", true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.File);
        TLoad load = Load(Fixture(c.File));
        ASSERT_TRUE(load.Ok) << load.Report.Error.Text;
        EXPECT_TRUE(load.Report.Warnings.empty());
        EXPECT_LE(Compare(*load.Picture.Bitmap, ReadPnm(c.Expected)).Max, 2);
        // The encoders' losses on hard edges at this size stay below 8; a
        // misread (wrong colour order, subsampling or rows) is far above.
        EXPECT_LT(Compare(*load.Picture.Bitmap, c.Gray ? graySource : source).Mean, 8);
    }
}

TEST(JpegLoad, GrayscaleGivesEqualComponents) {
    TLoad load = Load(Fixture("baseline.jpg"), LOAD_GRAYSCALE);
    ASSERT_TRUE(load.Ok);
    const TBitmap& b = *load.Picture.Bitmap;
    for (size_t i = 0; i < b.Pixels.size(); i += 3) {
        ASSERT_EQ(b.Pixels[i], b.Pixels[i + 1]) << i;
        ASSERT_EQ(b.Pixels[i], b.Pixels[i + 2]) << i;
    }
    EXPECT_LE(Compare(b, ReadPnm("baseline-gray.pgm")).Max, 2);
}

TEST(JpegLoad, QuantisingKeepsToTheMap) {
    const std::string jpeg = Fixture("baseline.jpg");
    const TBitmap plain = ReadPnm("baseline-1.ppm");
    ASSERT_GT(ColorsOf(plain).size(), 256u);  // else the cases prove nothing
    const TColorMap fixed = FixedColorMap();
    const TColorMap index = {{0, 0, 0}, {255, 255, 255}, {255, 255, 0}, {0, 0, 255}, {200, 0, 0}};
    SetIndexColorMap(index);
    struct TCase {
        const char* Label;
        uint32_t Flags;
        const TColorMap* Map;  // every pixel one of these; null: a map of its own
        size_t MinColors;      // the map is used, not one colour
        double Mean;           // to the unquantised picture (dithering adds noise)
    } cases[] = {
        {"own map", LOAD_QUANTIZE, nullptr, 100, 6},
        {"own map, halved", LOAD_QUANTIZE | LOAD_REDUCE, nullptr, 50, 255},
        {"fixed map", LOAD_QUANTIZE | LOAD_GIVEN_MAP, &fixed, 16, 20},
        {"gray, fixed map", LOAD_QUANTIZE | LOAD_GIVEN_MAP | LOAD_GRAYSCALE, &fixed, 4, 255},
        {"index map", LOAD_QUANTIZE | LOAD_GIVEN_MAP | LOAD_INDEX_MAP, &index, 3, 255},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Label);
        TLoad load = Load(jpeg, c.Flags, 32, 24);
        ASSERT_TRUE(load.Ok) << load.Report.Error.Text;
        const TBitmap& b = *load.Picture.Bitmap;
        const std::set<TRgb> colors = ColorsOf(b);
        EXPECT_LE(colors.size(), 256u);
        EXPECT_GE(colors.size(), c.MinColors);
        if (c.Map) {
            const std::set<TRgb> allowed(c.Map->begin(), c.Map->end());
            for (const TRgb& color : colors) EXPECT_TRUE(allowed.count(color));
        }
        if (c.Mean < 255) {
            EXPECT_LT(Compare(b, plain).Mean, c.Mean);
        }
    }
    SetIndexColorMap({});
    // Turned off: the picture as it is.
    TLoad off = Load(jpeg, LOAD_QUANTIZE | LOAD_NO_QUANTIZE);
    ASSERT_TRUE(off.Ok);
    EXPECT_LE(Compare(*off.Picture.Bitmap, plain).Max, 2);
}

TEST(JpegLoad, EmptySourceIsEmptyFile) {
    TLoad load = Load("");
    EXPECT_FALSE(load.Ok);
    EXPECT_EQ(load.Report.Error.Code, PIC_EMPTY_FILE);
    EXPECT_FALSE(load.Picture.Bitmap);
}

TEST(JpegLoad, TruncatedFileWarnsAndShowsWhatThereIs) {
    TLoad load = Load(Fixture("truncated.jpg"));
    ASSERT_TRUE(load.Ok) << load.Report.Error.Text;
    EXPECT_TRUE(HasWarning(load.Report, PIC_JPEG_EOF));
    ASSERT_TRUE(load.Picture.Bitmap);
    EXPECT_EQ(load.Picture.Bitmap->Width, 64);
    EXPECT_EQ(load.Picture.Bitmap->Height, 48);
    EXPECT_LE(Compare(*load.Picture.Bitmap, ReadPnm("truncated.ppm")).Max, 2);
    // The top rows are the picture's; the missing bottom differs from it.
    const TBitmap whole = ReadPnm("baseline-1.ppm");
    EXPECT_TRUE(std::equal(whole.Pixels.begin(), whole.Pixels.begin() + 64 * 3 * 8,
                           load.Picture.Bitmap->Pixels.begin()));
    EXPECT_GT(Compare(*load.Picture.Bitmap, whole).Max, 40);
}

TEST(JpegLoad, BrokenFilesFailWithLibjpegsCodeAndText) {
    const std::string good = Fixture("baseline.jpg");
    const size_t sof = MarkerAt(good, 0xC0), sos = MarkerAt(good, 0xDA);
    struct TCase {
        const char* Label;
        std::string Bytes;
        int Code;
        const char* Text;
        bool Eof;  // PIC_JPEG_EOF among the warnings
    } cases[] = {
        {"not a JPEG", "GIF89a\x01\x00\x01\x00", JERR_NO_SOI,
         "Not a JPEG file: starts with 0x47 0x49", false},
        {"two SOIs", std::string("\xFF\xD8\xFF\xD8", 4) + good.substr(2), JERR_SOI_DUPLICATE,
         "two SOI markers", false},
        {"ends before the frame", good.substr(0, sof), JERR_NO_IMAGE, "contains no image", true},
        {"ends before the scan", good.substr(0, sos), JERR_SOF_NO_SOS, "missing SOS", true},
        {"comment past the end", good.substr(0, 2) + Comment(30000).substr(0, 100), JERR_NO_IMAGE,
         "contains no image", true},
        {"empty frame", good.substr(0, sof + 5) + std::string(2, '\0') + good.substr(sof + 7),
         JERR_EMPTY_IMAGE, "Empty JPEG image", false},
        {"colour conversion it cannot do", Fixture("cmyk.jpg"), JERR_CONVERSION_NOTIMPL,
         "Unsupported color conversion", false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Label);
        for (uint32_t flags : {0u, LOAD_GRAYSCALE | LOAD_QUANTIZE}) {
            TLoad load = Load(c.Bytes, flags);
            EXPECT_FALSE(load.Ok);
            EXPECT_FALSE(load.Picture.Bitmap);
            EXPECT_EQ(load.Report.Error.Code, JPEG_CODE_BASE + c.Code);
            EXPECT_NE(load.Report.Error.Text.find(c.Text), std::string::npos)
                << load.Report.Error.Text;
            EXPECT_NE(PictureMessageText("x.jpg", load.Report.Error).find(c.Text),
                      std::string::npos);
            EXPECT_EQ(HasWarning(load.Report, PIC_JPEG_EOF), c.Eof);
        }
    }
}

TEST(JpegLoad, AbsurdSizeIsRefusedBeforeDecoding) {
    const std::string good = Fixture("baseline.jpg");
    const size_t sof = MarkerAt(good, 0xC0);
    struct TCase {
        int Width, Height;
    } cases[] = {{MAX_PICTURE_SIDE + 1, 48}, {64, 65000}, {9000, 9000}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Width << "x" << c.Height);
        std::string bytes = good;
        bytes[sof + 5] = static_cast<char>(c.Height >> 8);
        bytes[sof + 6] = static_cast<char>(c.Height & 0xFF);
        bytes[sof + 7] = static_cast<char>(c.Width >> 8);
        bytes[sof + 8] = static_cast<char>(c.Width & 0xFF);
        TLoad load = Load(bytes);
        EXPECT_FALSE(load.Ok);
        EXPECT_EQ(load.Report.Error.Code, PIC_TOO_LARGE);
        EXPECT_EQ(load.Report.Error.Param, c.Width);
        EXPECT_EQ(load.Report.Error.Param2, c.Height);
        EXPECT_EQ(load.Picture.Width, c.Width);
        EXPECT_FALSE(load.Picture.Bitmap);
    }
}

TEST(JpegLoad, MoreThanFiveWarningsStopTheScanLines) {
    const std::string good = Fixture("baseline.jpg");
    const std::vector<size_t> markers = HeaderMarkers(good);
    ASSERT_GE(markers.size(), 7u);
    for (int junk : {5, 6}) {
        SCOPED_TRACE(junk);
        // A stray byte before a marker: "extraneous bytes" each time.
        std::string bytes = good.substr(0, 2);
        size_t from = 2;
        for (int i = 0; i < junk; ++i) {
            bytes += good.substr(from, markers[i] - from) + '\x01';
            from = markers[i];
        }
        bytes += good.substr(from);
        TLoad load = Load(bytes);
        ASSERT_TRUE(load.Ok) << load.Report.Error.Text;
        ASSERT_EQ(load.Report.Warnings.size(), static_cast<size_t>(junk));
        for (const TPicMessage& m : load.Report.Warnings) {
            EXPECT_EQ(m.Code, JPEG_CODE_BASE + JWRN_EXTRANEOUS_DATA);
            EXPECT_NE(m.Text.find("extraneous bytes"), std::string::npos) << m.Text;
        }
        const TBitmap& b = *load.Picture.Bitmap;
        ASSERT_EQ(b.Pixels.size(), 64u * 48 * 3);
        if (junk == 5)
            EXPECT_LE(Compare(b, ReadPnm("baseline-1.ppm")).Max, 2);
        else
            EXPECT_EQ(b.Pixels, std::vector<uint8_t>(b.Pixels.size(), 0));
    }
}

TEST(JpegLoad, ProgressiveFileOfTooManyScansIsRefused) {
    const std::string good = Fixture("progressive.jpg");
    const size_t sos = MarkerAt(good, 0xDA);
    // The first scan runs to the next marker that is not a restart.
    size_t end = sos + 2;
    while (end + 1 < good.size()) {
        const auto next = static_cast<uint8_t>(good[end + 1]);
        if (static_cast<uint8_t>(good[end]) == 0xFF && next != 0 && (next < 0xD0 || next > 0xD7))
            break;
        ++end;
    }
    const std::string scan = good.substr(sos, end - sos);
    for (int copies : {40, 1000}) {
        SCOPED_TRACE(copies);
        std::string bytes = good.substr(0, end);
        for (int i = 0; i < copies; ++i) bytes += scan;
        bytes += good.substr(end);
        TLoad load = Load(bytes);
        EXPECT_LE(load.Report.Warnings.size(), 100u);  // kept, not all
        if (copies == 40) {
            ASSERT_TRUE(load.Ok) << load.Report.Error.Text;
            EXPECT_TRUE(HasWarning(load.Report, JPEG_CODE_BASE + JWRN_BOGUS_PROGRESSION));
        } else {
            EXPECT_FALSE(load.Ok);
            EXPECT_EQ(load.Report.Error.Code, PIC_TOO_LARGE);
            EXPECT_FALSE(load.Picture.Bitmap);
        }
    }
}

// Counts the reads, to see the source taken in blocks.
class TCountingSource final : public TPictureSource {
  public:
    explicit TCountingSource(const std::string& bytes) : Inner(bytes) {}
    size_t Read(uint8_t* bytes, size_t count) override {
        ++Reads;
        Largest = std::max(Largest, count);
        return Inner.Read(bytes, count);
    }
    TMemoryPictureSource Inner;
    int Reads = 0;
    size_t Largest = 0;
};

TEST(JpegLoad, SegmentsAndScanDataAcrossBlocks) {
    const std::string good = Fixture("baseline.jpg");
    const size_t sos = MarkerAt(good, 0xDA);
    // A comment skipped across several blocks, and one that puts the scan
    // data astride the boundary of a block.
    std::string bytes = good.substr(0, 2) + Comment(60000) + good.substr(2, sos - 2);
    const size_t boundary = (bytes.size() / 16384 + 2) * 16384;
    bytes += Comment(boundary - 300 - bytes.size() - 4) + good.substr(sos);
    ASSERT_EQ(bytes.find("\xFF\xDA"), boundary - 300);
    ASSERT_GT(bytes.size(), boundary + 200);
    TCountingSource source(bytes);
    TPicture picture;
    TPicReport report;
    ASSERT_TRUE(LoadJpegPicture(source, picture, report)) << report.Error.Text;
    EXPECT_TRUE(report.Warnings.empty());
    EXPECT_LE(Compare(*picture.Bitmap, ReadPnm("baseline-1.ppm")).Max, 2);
    EXPECT_EQ(source.Largest, 16384u);
    EXPECT_LE(source.Reads, static_cast<int>(bytes.size() / 16384) + 2);
}

}  // namespace
}  // namespace zorvex
