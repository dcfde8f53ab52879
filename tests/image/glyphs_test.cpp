// Text on our bitmaps: the face fontconfig picks for a font record, its
// sizes, where and in what colour Draw puts ink and where it never does,
// how hostile bytes are read, and how WrapText breaks lines.
#include "image/glyphs.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/tempdir.h"

namespace zorvex {
namespace {

constexpr uint32_t RED = 0x0000FF;
constexpr uint32_t GREEN = 0x00FF00;
constexpr uint32_t BLUE = 0xFF0000;
constexpr uint32_t BLACK = 0x000000;
constexpr TPixelRect EVERYWHERE{INT_MIN, INT_MIN, INT_MAX, INT_MAX};

std::unique_ptr<TGlyphFont> OpenFont(const TLogFont& record) {
    std::string error;
    std::unique_ptr<TGlyphFont> font = TGlyphFont::Open(record, &error);
    EXPECT_TRUE(font) << error;
    return font;
}

std::unique_ptr<TGlyphFont> OpenFace(const std::string& face, int height = 0) {
    TLogFont record;
    record.FaceName = face;
    record.Height = height;
    return OpenFont(record);
}

std::string FileName(const TGlyphFont& font) {
    return std::filesystem::path(font.FilePath()).filename().string();
}

TBitmap WhitePage(int width, int height) {
    TBitmap page;
    page.Width = width;
    page.Height = height;
    page.Pixels.assign(static_cast<size_t>(width) * height * 3, 255);
    return page;
}

bool IsWhite(const TBitmap& page, int x, int y) {
    const uint8_t* p = page.Row(y) + x * 3;
    return p[0] == 255 && p[1] == 255 && p[2] == 255;
}

bool SamePixel(const TBitmap& a, int ax, int ay, const TBitmap& b, int bx, int by) {
    const uint8_t* p = a.Row(ay) + ax * 3;
    const uint8_t* q = b.Row(by) + bx * 3;
    return p[0] == q[0] && p[1] == q[1] && p[2] == q[2];
}

int InkedPixels(const TBitmap& page) {
    int inked = 0;
    for (int y = 0; y < page.Height; ++y)
        for (int x = 0; x < page.Width; ++x) inked += IsWhite(page, x, y) ? 0 : 1;
    return inked;
}

// "Hello" in the default font drawn on white, the picture the other
// drawing tests compare with.
struct GlyphDrawTest : testing::Test {
    void SetUp() override {
        Font = OpenFont(TLogFont{});
        ASSERT_TRUE(Font);
        Width = Font->TextWidth("Hello");
        ASSERT_GT(Width, 20);
    }
    TBitmap Drawn(int pageWidth, int pageHeight, int x, int y, const TPixelRect& clip,
                  std::string_view text = "Hello") const {
        TBitmap page = WhitePage(pageWidth, pageHeight);
        Font->Draw(page, x, y, text, RED, clip);
        return page;
    }
    std::unique_ptr<TGlyphFont> Font;
    int Width = 0;
};

TEST(GlyphOpenTest, DefaultRecordIsDejaVuSansAtTheSystemLineHeight) {
    auto font = OpenFont(TLogFont{});
    ASSERT_TRUE(font);
    EXPECT_EQ(FileName(*font), "DejaVuSans.ttf");
    EXPECT_TRUE(std::filesystem::is_regular_file(font->FilePath()));
    EXPECT_GE(font->LineHeight(), DEFAULT_FONT_LINE - 2);
    EXPECT_LE(font->LineHeight(), DEFAULT_FONT_LINE);
    EXPECT_GT(font->Ascent(), font->LineHeight() / 2);
    EXPECT_LT(font->Ascent(), font->LineHeight());
}

TEST(GlyphOpenTest, MonoFaceGivesEveryCharacterOneAdvance) {
    auto mono = OpenFace("DejaVu Sans Mono");
    auto sans = OpenFace("");
    ASSERT_TRUE(mono && sans);
    EXPECT_EQ(FileName(*mono), "DejaVuSansMono.ttf");
    EXPECT_NE(mono->FilePath(), sans->FilePath());
    const int cell = mono->TextWidth("M");
    EXPECT_GT(cell, 0);
    EXPECT_EQ(mono->TextWidth("iiii"), 4 * cell);
    EXPECT_EQ(mono->TextWidth("MMMM"), 4 * cell);
    // The same check tells a proportional face apart.
    EXPECT_LT(sans->TextWidth("iiii"), sans->TextWidth("MMMM"));
}

TEST(GlyphOpenTest, WeightAndItalicPickTheStyleFile) {
    struct TCase {
        const char* Face;
        int Weight;
        const char* File;
    };
    const TCase cases[] = {
        {"", 0, "DejaVuSans.ttf"},
        {"", 400, "DejaVuSans.ttf"},
        {"", 599, "DejaVuSans.ttf"},
        {"", 600, "DejaVuSans-Bold.ttf"},
        {"", 700, "DejaVuSans-Bold.ttf"},
        {"", INT_MAX, "DejaVuSans-Bold.ttf"},
        {"DejaVu Sans Mono", 700, "DejaVuSansMono-Bold.ttf"},
        {"DejaVu Serif", 700, "DejaVuSerif-Bold.ttf"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.Face) + " weight " + std::to_string(c.Weight));
        TLogFont record;
        record.FaceName = c.Face;
        record.Weight = c.Weight;
        auto font = OpenFont(record);
        ASSERT_TRUE(font);
        EXPECT_EQ(FileName(*font), c.File);
    }
    // The slanted faces are not in fonts-dejavu-core: italic must open
    // without them, and take them where the machine has them.
    TLogFont italic;
    italic.Italic = 1;
    auto font = OpenFont(italic);
    ASSERT_TRUE(font);
    EXPECT_TRUE(std::filesystem::is_regular_file(font->FilePath()));
    if (std::filesystem::exists("/usr/share/fonts/truetype/dejavu/DejaVuSans-Oblique.ttf")) {
        EXPECT_EQ(FileName(*font), "DejaVuSans-Oblique.ttf");
    }
}

TEST(GlyphOpenTest, HeightsGiveThePromisedSizes) {
    // DejaVu's ascent plus descent is 2384/2048 of its em.
    const auto lineOfEm = [](double em) { return static_cast<int>(em * 2384 / 2048); };
    struct TCase {
        int Height;
        int Lowest, Highest;
    };
    const TCase cases[] = {
        {0, DEFAULT_FONT_LINE - 2, DEFAULT_FONT_LINE},
        {16, 14, 16},
        {30, 28, 30},
        {200, 198, 200},
        {-20, lineOfEm(20) - 1, lineOfEm(20) + 2},
        {-100, lineOfEm(100) - 1, lineOfEm(100) + 2},
        {INT_MAX, FONT_PIXELS_MAX - 2, FONT_PIXELS_MAX},
        {FONT_PIXELS_MAX + 1, FONT_PIXELS_MAX - 2, FONT_PIXELS_MAX},
        {INT_MIN, lineOfEm(FONT_PIXELS_MAX) - 1, lineOfEm(FONT_PIXELS_MAX) + 2},
        {-FONT_PIXELS_MAX - 1, lineOfEm(FONT_PIXELS_MAX) - 1, lineOfEm(FONT_PIXELS_MAX) + 2},
        // No size is below one pixel; at that size the rounding gives two lines.
        {1, 1, 2},
        {-1, 1, 2},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE("height " + std::to_string(c.Height));
        TLogFont record;
        record.Height = c.Height;
        auto font = OpenFont(record);
        ASSERT_TRUE(font);
        EXPECT_GE(font->LineHeight(), c.Lowest);
        EXPECT_LE(font->LineHeight(), c.Highest);
        EXPECT_GE(font->Ascent(), 1);
        EXPECT_LE(font->Ascent(), font->LineHeight());
    }
}

TEST(GlyphOpenTest, UnknownOrHostileFaceNameStillOpensARealFile) {
    const std::string faces[] = {
        "No Such Family Zq",
        std::string("DejaVu Sans Mono\0garbage after the name", 39),
        "\xFF\xFE\x80 \xC0\xAF",
        std::string(5000, 'x'),
        "   ",
    };
    for (const std::string& face : faces) {
        SCOPED_TRACE(testing::PrintToString(face.substr(0, 40)));
        auto font = OpenFace(face);
        ASSERT_TRUE(font);
        EXPECT_TRUE(std::filesystem::is_regular_file(font->FilePath())) << font->FilePath();
        EXPECT_GT(font->LineHeight(), 0);
        EXPECT_GT(font->TextWidth("abc"), 0);
    }
    // The name ends at the first NUL, as a fixed-size record pads it.
    EXPECT_EQ(FileName(*OpenFace(faces[1])), "DejaVuSansMono.ttf");
}

TEST(GlyphOpenTest, FallsBackToDejaVuSansWhenFontconfigKnowsNoFonts) {
    // Fontconfig reads its configuration once a process, so this runs in a
    // process of its own, configured to know no font directory at all. A
    // mono face is asked for, so that only the fallback gives DejaVuSans.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            bool fellBack = false;
            {
                test::TTempDir dir;
                const std::string conf = dir.File("fonts.conf");
                std::ofstream(conf) << "<?xml version=\"1.0\"?>\n<fontconfig></fontconfig>\n";
                setenv("FONTCONFIG_FILE", conf.c_str(), 1);
                std::string error;
                TLogFont record;
                record.FaceName = "DejaVu Sans Mono";
                auto font = TGlyphFont::Open(record, &error);
                if (font) {
                    std::fprintf(stderr, "opened %s\n", font->FilePath().c_str());
                    fellBack =
                        font->FilePath() == "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
                } else {
                    std::fprintf(stderr, "failed: %s\n", error.c_str());
                }
            }
            std::exit(fellBack ? 0 : 1);
        },
        testing::ExitedWithCode(0), "opened .*/DejaVuSans\\.ttf");
}

TEST_F(GlyphDrawTest, OpensAndDrawsOnSeveralThreadsAtOnce) {
    const TBitmap expected = Drawn(80, 20, 2, 2, EVERYWHERE);
    std::vector<TBitmap> pages(4);
    std::vector<std::thread> threads;
    for (TBitmap& page : pages)
        threads.emplace_back([&page] {
            std::string error;
            auto font = TGlyphFont::Open(TLogFont{}, &error);
            page = WhitePage(80, 20);
            if (font) font->Draw(page, 2, 2, "Hello", RED, EVERYWHERE);
        });
    for (std::thread& t : threads) t.join();
    for (const TBitmap& page : pages) EXPECT_EQ(page.Pixels, expected.Pixels);
}

TEST_F(GlyphDrawTest, InkFallsInTheTextBoxInTheColourByCoverage) {
    struct TCase {
        uint32_t Color;
        const char* Name;
    };
    const TCase cases[] = {{RED, "red"}, {GREEN, "green"}, {BLUE, "blue"}, {BLACK, "black"}};
    const int x = 10, y = 5;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TBitmap page = WhitePage(120, 40);
        Font->Draw(page, x, y, "Hello", c.Color, EVERYWHERE);
        const uint8_t ink[3] = {RedOf(c.Color), GreenOf(c.Color), BlueOf(c.Color)};
        int inked = 0, solid = 0, partial = 0, whiteInBox = 0;
        int left = INT_MAX, right = INT_MIN, bottom = INT_MIN;
        for (int py = 0; py < page.Height; ++py)
            for (int px = 0; px < page.Width; ++px) {
                const bool inBox =
                    px >= x && px < x + Width && py >= y && py < y + Font->LineHeight();
                if (IsWhite(page, px, py)) {
                    whiteInBox += inBox;
                    continue;
                }
                ASSERT_TRUE(inBox) << "ink at " << px << "," << py;
                ++inked;
                left = std::min(left, px);
                right = std::max(right, px);
                bottom = std::max(bottom, py);
                // The colour's full channels stay full on white; the empty
                // ones all drop by the same coverage.
                const uint8_t* p = page.Row(py) + px * 3;
                int dropped = -1;
                for (int k = 0; k < 3; ++k) {
                    if (ink[k] == 255) {
                        EXPECT_EQ(p[k], 255) << "channel " << k << " at " << px << "," << py;
                    } else if (dropped < 0) {
                        dropped = p[k];
                    } else {
                        EXPECT_EQ(p[k], dropped) << "channel " << k << " at " << px << "," << py;
                    }
                }
                solid += dropped >= 0 && dropped < 40;
                partial += dropped >= 80 && dropped < 200;
            }
        EXPECT_GT(inked, 30);
        EXPECT_GT(solid, 10) << "no pixel took the full colour";
        EXPECT_GT(partial, 0) << "no pixel is antialiased";
        EXPECT_GT(whiteInBox, Width * Font->LineHeight() / 3) << "the background is covered";
        // Ink spans the measured width, and "Hello" stands on the baseline.
        EXPECT_LE(left, x + 3);
        EXPECT_GE(right, x + Width - 4);
        EXPECT_EQ(bottom, y + Font->Ascent() - 1);
    }
}

TEST_F(GlyphDrawTest, ClipKeepsEveryPixelOutsideIt) {
    const int pageWidth = 100, pageHeight = 30, x = 10, y = 5;
    const TBitmap whole = Drawn(pageWidth, pageHeight, x, y, EVERYWHERE);
    ASSERT_GT(InkedPixels(whole), 30);
    const int middle = x + Width / 2, baseline = y + Font->Ascent();
    struct TCase {
        TPixelRect Clip;
        bool Inked;
    };
    const TCase cases[] = {
        {{0, 0, middle, pageHeight}, true},
        {{middle, 0, pageWidth, pageHeight}, true},
        {{x + 3, y + 3, middle, baseline - 3}, true},
        {{0, baseline - 4, pageWidth, pageHeight}, true},
        {{middle, 0, middle + 1, pageHeight}, false},  // one column; may miss the ink
        {{middle, 0, middle, pageHeight}, false},      // empty
        {{pageWidth, 0, 0, pageHeight}, false},        // inverted
        {{-1000, -1000, 1000000, 1000000}, true},
        {EVERYWHERE, true},
    };
    for (const TCase& c : cases) {
        const TPixelRect& clip = c.Clip;
        SCOPED_TRACE(testing::Message() << "clip " << clip.Left << "," << clip.Top << " to "
                                        << clip.Right << "," << clip.Bottom);
        const TBitmap page = Drawn(pageWidth, pageHeight, x, y, clip);
        int inked = 0;
        for (int py = 0; py < pageHeight; ++py)
            for (int px = 0; px < pageWidth; ++px) {
                const bool inside =
                    px >= clip.Left && px < clip.Right && py >= clip.Top && py < clip.Bottom;
                if (inside)
                    ASSERT_TRUE(SamePixel(page, px, py, whole, px, py)) << px << "," << py;
                else
                    ASSERT_TRUE(IsWhite(page, px, py)) << px << "," << py;
                inked += !IsWhite(page, px, py);
            }
        if (c.Inked) {
            EXPECT_GT(inked, 0);
        }
    }
}

TEST_F(GlyphDrawTest, DrawingOffTheEdgesPaintsOnlyWhatLiesOnThePage) {
    // The whole text with room around it: a page drawn at any position must
    // show exactly the part of this that lands on it.
    const int margin = 8;
    const TBitmap whole =
        Drawn(Width + 2 * margin, Font->LineHeight() + 2 * margin, margin, margin, EVERYWHERE);
    const int pageWidth = 40, pageHeight = 12;
    struct TPosition {
        int X, Y;
    };
    const TPosition positions[] = {
        {-20, -8},
        {-5, 3},
        {pageWidth - 15, pageHeight - 10},
        {pageWidth - 1, pageHeight - 1},
        {pageWidth, pageHeight},
        {-Width, 0},
        {-1000000, 2},
        {INT_MAX - 5, 0},
        {INT_MAX, INT_MAX},
        {0, INT_MIN},
        {INT_MIN, INT_MIN},
        {INT_MIN, INT_MAX},
    };
    int partlyShown = 0;
    for (const TPosition& at : positions) {
        SCOPED_TRACE(testing::Message() << "at " << at.X << "," << at.Y);
        const TBitmap page = Drawn(pageWidth, pageHeight, at.X, at.Y, EVERYWHERE);
        ASSERT_EQ(page.Pixels.size(), static_cast<size_t>(pageWidth) * pageHeight * 3);
        for (int py = 0; py < pageHeight; ++py)
            for (int px = 0; px < pageWidth; ++px) {
                const int64_t wx = int64_t{px} - at.X + margin, wy = int64_t{py} - at.Y + margin;
                if (wx >= 0 && wx < whole.Width && wy >= 0 && wy < whole.Height)
                    ASSERT_TRUE(
                        SamePixel(page, px, py, whole, static_cast<int>(wx), static_cast<int>(wy)))
                        << px << "," << py;
                else
                    ASSERT_TRUE(IsWhite(page, px, py)) << px << "," << py;
            }
        partlyShown += InkedPixels(page) > 0;
    }
    EXPECT_GE(partlyShown, 3);
}

TEST_F(GlyphDrawTest, DegenerateBitmapsAreLeftAlone) {
    TBitmap empty;
    Font->Draw(empty, 0, 0, "Hello", RED, EVERYWHERE);
    EXPECT_TRUE(empty.Pixels.empty());
    // A size that its pixels do not back: one row of ten, claiming a
    // hundred. "H" stands on row 0, so a missing check shows there.
    TBitmap shortPixels;
    shortPixels.Width = 10;
    shortPixels.Height = 100;
    shortPixels.Pixels.assign(30, 255);
    Font->Draw(shortPixels, 0, 1 - Font->Ascent(), "H", RED, EVERYWHERE);
    EXPECT_EQ(shortPixels.Pixels, std::vector<uint8_t>(30, 255));
    shortPixels.Height = 1;
    Font->Draw(shortPixels, 0, 1 - Font->Ascent(), "H", RED, EVERYWHERE);
    EXPECT_NE(shortPixels.Pixels, std::vector<uint8_t>(30, 255)) << "H misses row 0";
    TBitmap negative;
    negative.Width = -5;
    negative.Height = 10;
    Font->Draw(negative, 0, 0, "Hello", RED, EVERYWHERE);
    EXPECT_TRUE(negative.Pixels.empty());
}

TEST_F(GlyphDrawTest, BytesThatAreNotUtf8AreLatin1Characters) {
    // Each hostile text against the valid UTF-8 of the characters it must
    // be read as: they measure and draw the same.
    struct TCase {
        std::string Bytes;
        std::string Same;
    };
    const TCase cases[] = {
        {"\xE9", "\xC3\xA9"},                                      // a Latin-1 e acute
        {"\xC0\xAF", "\xC3\x80\xC2\xAF"},                          // overlong slash
        {"\xE0\x80\xAF", "\xC3\xA0\xC2\x80\xC2\xAF"},              // overlong slash
        {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80"},              // a surrogate
        {"\xF4\x90\x80\x80", "\xC3\xB4\xC2\x90\xC2\x80\xC2\x80"},  // past U+10FFFF
        {"\xE2\x82", "\xC3\xA2\xC2\x82"},                          // cut short
        {"ab\xC3", "ab\xC3\x83"},                                  // cut short at the end
        {"\xC3x", "\xC3\x83x"},                                    // no continuation
        {"\xFF\xFE", "\xC3\xBF\xC3\xBE"},
        {"\x80x", "\xC2\x80x"},  // a lone continuation byte
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.Bytes));
        EXPECT_EQ(Font->TextWidth(c.Bytes), Font->TextWidth(c.Same));
        EXPECT_EQ(Drawn(60, 20, 2, 2, EVERYWHERE, c.Bytes).Pixels,
                  Drawn(60, 20, 2, 2, EVERYWHERE, c.Same).Pixels);
    }
    // The text ends where its view ends, even when a sequence's rest
    // follows in memory.
    const std::string_view cut("ab\xC3\xA9", 3);
    EXPECT_EQ(Font->TextWidth(cut), Font->TextWidth("ab\xC3\x83"));
    EXPECT_EQ(Drawn(60, 20, 2, 2, EVERYWHERE, cut).Pixels,
              Drawn(60, 20, 2, 2, EVERYWHERE, "ab\xC3\x83").Pixels);
    // Valid sequences are one character each: three cells of a mono face,
    // not the seven their bytes would take as Latin-1.
    auto mono = OpenFace("DejaVu Sans Mono");
    ASSERT_TRUE(mono);
    EXPECT_EQ(mono->TextWidth("\xC3\xA9\xE2\x82\xAC\xC3\xBC"), 3 * mono->TextWidth("x"));
}

TEST_F(GlyphDrawTest, LongAndHostileLinesDrawSafely) {
    const int pageWidth = 300, pageHeight = 30;
    const int w = Font->TextWidth("W");
    const std::string longLine(10000, 'W');
    EXPECT_EQ(Font->TextWidth(longLine), 10000 * w);
    // Only the glyphs that reach the page matter, from either end.
    const std::string enough(pageWidth / w + 3, 'W');
    const TBitmap expected = Drawn(pageWidth, pageHeight, 0, 2, EVERYWHERE, enough);
    EXPECT_EQ(Drawn(pageWidth, pageHeight, 0, 2, EVERYWHERE, longLine).Pixels, expected.Pixels);
    EXPECT_EQ(Drawn(pageWidth, pageHeight, -5000 * w, 2, EVERYWHERE, longLine).Pixels,
              expected.Pixels);

    // NULs are characters, not the end of the text.
    const std::string withNul("He\0llo", 6);
    const std::string nul(1, '\0');
    EXPECT_EQ(Font->TextWidth(withNul),
              Font->TextWidth("He") + Font->TextWidth(nul) + Font->TextWidth("llo"));
    TBitmap pieces = WhitePage(80, 20);
    Font->Draw(pieces, 2, 2, "He", RED, EVERYWHERE);
    Font->Draw(pieces, 2 + Font->TextWidth("He"), 2, nul, RED, EVERYWHERE);
    Font->Draw(pieces, 2 + Font->TextWidth(withNul.substr(0, 3)), 2, "llo", RED, EVERYWHERE);
    EXPECT_EQ(Drawn(80, 20, 2, 2, EVERYWHERE, withNul).Pixels, pieces.Pixels);

    // Whatever bytes come, drawing stays on the page.
    std::string everyByte;
    for (int b = 255; b >= 0; --b) everyByte += static_cast<char>(b);
    const std::string hostile[] = {std::string(10000, '\xFF'), everyByte + everyByte,
                                   std::string(3000, '\0'), std::string(5000, '\x80'),
                                   "\xF0\x9F\x98\x80\xF0\x9F\x98"};
    for (const std::string& text : hostile) {
        EXPECT_GE(Font->TextWidth(text), 0);
        const TBitmap page = Drawn(pageWidth, pageHeight, -3, -3, {0, 0, 50, 20}, text);
        for (int py = 0; py < pageHeight; ++py)
            for (int px = 50; px < pageWidth; ++px) ASSERT_TRUE(IsWhite(page, px, py));
    }
}

// Ten pixels a code point, as a mono font would measure.
int TenPerCodePoint(std::string_view text) {
    int points = 0;
    for (char c : text) points += (static_cast<uint8_t>(c) & 0xC0) != 0x80;
    return points * 10;
}

TEST(WrapTextTest, BreaksAsTheTableSays) {
    struct TCase {
        const char* Name;
        std::string Text;
        int Width;
        std::vector<std::string> Lines;
    };
    const TCase cases[] = {
        {"plain", "the quick brown fox", 100, {"the quick", "brown fox"}},
        {"exact fit", "abcde fghij", 110, {"abcde fghij"}},
        {"one pixel short", "abcde fghij", 109, {"abcde", "fghij"}},
        {"long word", "abcdefghijkl", 50, {"abcde", "fghij", "kl"}},
        {"long word after a short", "ab cdefghijkl", 50, {"ab", "cdefg", "hijkl"}},
        {"below a character", "abc de", 5, {"a", "b", "c", "d", "e"}},
        {"zero width", "abc de", 0, {"a", "b", "c", "d", "e"}},
        {"negative width", "ab", INT_MIN, {"a", "b"}},
        {"multibyte",
         "\xC3\xA9\xC3\xA9\xC3\xA9 \xC3\xBC\xE2\x82\xAC",
         20,
         {"\xC3\xA9\xC3\xA9", "\xC3\xA9", "\xC3\xBC\xE2\x82\xAC"}},
        {"multibyte below a character",
         "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
         5,
         {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"}},
        {"invalid lead byte", "\xC3x", 10, {"\xC3", "x"}},
        {"empty", "", 100, {}},
        {"blanks only", "    ", 100, {}},
        {"blanks at both ends", "  ab  cd  ", 100, {"ab  cd"}},
        {"blanks at a break", "ab   cd", 30, {"ab", "cd"}},
        {"blanks inside a line", "a  b c", 40, {"a  b", "c"}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(WrapText(c.Text, c.Width, TenPerCodePoint), c.Lines);
    }
}

TEST(WrapTextTest, LinesOfTheRealFontFitTheWidth) {
    auto font = OpenFont(TLogFont{});
    ASSERT_TRUE(font);
    const auto measure = [&font](std::string_view s) { return font->TextWidth(s); };
    const std::string text =
        "Zorvex fetches binaries from Usenet, supercalifragilisticexpialidocious ones "
        "included, and   draws catalogs of them.";
    std::string letters;
    for (char c : text)
        if (c != ' ') letters += c;
    for (int width : {1, 30, 60, 120, 250}) {
        SCOPED_TRACE("width " + std::to_string(width));
        const std::vector<std::string> lines = WrapText(text, width, measure);
        ASSERT_GT(lines.size(), 1u);
        std::string kept;
        for (const std::string& line : lines) {
            ASSERT_FALSE(line.empty());
            EXPECT_NE(line.front(), ' ');
            EXPECT_NE(line.back(), ' ');
            if (line.size() > 1) {
                EXPECT_LE(font->TextWidth(line), width) << line;
            }
            for (char c : line)
                if (c != ' ') kept += c;
        }
        EXPECT_EQ(kept, letters);
    }
    EXPECT_EQ(WrapText(text, font->TextWidth(text), measure), std::vector<std::string>{text});
}

}  // namespace
}  // namespace zorvex
