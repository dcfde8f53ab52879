// Catalog pages: names and texts, where the cells lie, and whole catalogs
// drawn cell by cell, decoded again with libjpeg and checked pixel by pixel
// against the geometry: thumbnails in their cells, broken pictures as empty
// cells, headers per page, backgrounds, blends, keys and refusals.
#include "image/catalog.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <deque>
#include <string>
#include <vector>

#include "app/decodeside.h"
#include "decode/cryptfiles.h"
#include "image/loader.h"
#include "library/fileio.h"
#include "library/profile.h"
#include "support/filemode.h"
#include "support/picture_files.h"
#include "support/tempdir.h"

namespace zorvex::test {
namespace {

// ---- names, texts and geometry ----

TEST(CatalogNames, PageNamesArePaddedToTheSetDigits) {
    struct {
        int Padding, Number;
        const char* Name;
    } cases[] = {{3, 1, "/d/cat001.jpg"},       {3, 1234, "/d/cat1234.jpg"}, {0, 1, "/d/cat1.jpg"},
                 {2, 7, "/d/cat07.jpg"},        {4, 12, "/d/cat0012.jpg"},   {-5, 3, "/d/cat3.jpg"},
                 {50, 3, "/d/cat000000003.jpg"}};
    for (const auto& c : cases)
        EXPECT_EQ(CatalogPageName("/d/", "cat", c.Padding, c.Number), c.Name) << c.Padding;
}

TEST(CatalogNames, HeaderSequencesAreReplaced) {
    TCatalogTextFacts facts;
    facts.Page = 2;
    facts.Total = 7;
    facts.File = "/out/cat002.jpg";
    facts.OutputPath = "/out/";
    facts.InputPath = "/in/";
    facts.Date = "12/11/26";
    struct {
        const char* Text;
        const char* Expanded;
    } cases[] = {{"Page %n of %t", "Page 2 of 7"},
                 {"%f in %p from %i on %d", "/out/cat002.jpg in /out/ from /in/ on 12/11/26"},
                 {"100%% %x%N", "100% xN"},
                 {"ends with %", "ends with "},
                 {"", ""}};
    for (const auto& c : cases) EXPECT_EQ(ExpandCatalogText(c.Text, facts), c.Expanded) << c.Text;
}

TEST(CatalogNames, TheDateIsMonthDayAndTwoDigitYear) {
    std::tm local{};
    local.tm_year = 2026 - 1900;
    local.tm_mon = 2;
    local.tm_mday = 4;
    local.tm_hour = 12;
    local.tm_isdst = -1;
    EXPECT_EQ(CatalogDate(std::mktime(&local)), "03/04/26");
}

TEST(CatalogGeometry, CellsLieWhereTheFormulaSays) {
    // 1024 x 768, 5 x 5, header 20, footer 10, titles 16.
    TCatalogGeometry above = TCatalogGeometry::Compute(1024, 768, 5, 5, 20, 10, 16, true);
    EXPECT_EQ(above.CellWidth, 198);   // (1024 - 6 * 5) / 5
    EXPECT_EQ(above.CellHeight, 141);  // (768 - 20 - 10 - 6 * 5) / 5
    struct {
        int Column, Row;
        bool Above;
        TPixelRect Cell, Title, Box;
    } cases[] = {
        {0, 0, true, {5, 25, 203, 166}, {5, 25, 203, 41}, {7, 44, 201, 164}},
        {4, 2, true, {817, 317, 1015, 458}, {817, 317, 1015, 333}, {819, 336, 1013, 456}},
        {1, 4, false, {208, 609, 406, 750}, {208, 734, 406, 750}, {210, 611, 404, 731}},
    };
    for (const auto& c : cases) {
        TCatalogGeometry g = TCatalogGeometry::Compute(1024, 768, 5, 5, 20, 10, 16, c.Above);
        TCatalogCell cell = g.CellAt(c.Column, c.Row);
        SCOPED_TRACE(std::to_string(c.Column) + "," + std::to_string(c.Row));
        for (auto [got, want] : {std::pair{cell.Cell, c.Cell}, std::pair{cell.Title, c.Title},
                                 std::pair{cell.Box, c.Box}}) {
            EXPECT_EQ(got.Left, want.Left);
            EXPECT_EQ(got.Top, want.Top);
            EXPECT_EQ(got.Right, want.Right);
            EXPECT_EQ(got.Bottom, want.Bottom);
        }
    }
}

TEST(CatalogGeometry, PicturesKeepTheirAspectInTheBox) {
    const TPixelRect box{10, 20, 210, 120};  // 200 x 100
    struct {
        int Width, Height;
        bool Center;
        TPixelRect At;
    } cases[] = {
        {400, 100, true, {10, 45, 210, 95}},   // wide: full width, centred down
        {400, 100, false, {10, 20, 210, 70}},  // at the top left
        {50, 100, true, {85, 20, 135, 120}},   // tall: full height
        {20, 10, true, {10, 20, 210, 120}},    // small ones are fitted too
        {10000, 1, true, {10, 69, 210, 70}},   // never thinner than a pixel
    };
    for (const auto& c : cases) {
        TPixelRect at = FitPicture(c.Width, c.Height, box, c.Center);
        SCOPED_TRACE(std::to_string(c.Width) + "x" + std::to_string(c.Height));
        EXPECT_EQ(at.Left, c.At.Left);
        EXPECT_EQ(at.Top, c.At.Top);
        EXPECT_EQ(at.Right, c.At.Right);
        EXPECT_EQ(at.Bottom, c.At.Bottom);
    }
    TPixelRect none = FitPicture(100, 100, TPixelRect{5, 5, 5, 50}, true);
    EXPECT_EQ(none.Right - none.Left, 0);
}

// ---- settings ----

TEST(CatalogSettingsTest, DefaultsAndWhatTheFileSays) {
    TLogFont system;
    system.FaceName = "DejaVu Serif";
    TProfile empty;
    TCatalogSettings s;
    s.Read(empty, system);
    EXPECT_EQ(s.Background, BK_RAISED);
    EXPECT_EQ(s.OutName, "cat");
    EXPECT_EQ(s.ColorMode, 44u);
    EXPECT_EQ(s.Padding, 3);
    EXPECT_EQ(s.Rows * s.Columns, 25);
    EXPECT_EQ(s.Width, 1024);
    EXPECT_EQ(s.Height, 768);
    EXPECT_EQ(s.CustomWidth, 1152);
    EXPECT_EQ(s.TitlesAbove, 1);
    EXPECT_EQ(s.TextFont.FaceName, "DejaVu Serif");

    TProfile p;
    p.Parse(
        "[Catalog]\nBKMODE=6\nblendname=/x/b.jpg\noutname=page\ncolormode=4\nhighqual=1\n"
        "padding=0\nrows=2\ncolumns=3\nxsize=640\nysize=480\nheader=Page %n\n"
        "header_color=255\ntext_color=16711680\ntitlesabove=0\n"
        "[catalog_headerfont]\nheight=-30\nface=DejaVu Sans Mono\n");
    s.Read(p, system);
    EXPECT_EQ(s.Background, BK_STRETCHED);
    EXPECT_EQ(s.BlendName, "/x/b.jpg");
    EXPECT_EQ(s.OutName, "page");
    EXPECT_EQ(s.ColorMode, 4u);
    EXPECT_EQ(s.Padding, 0);
    EXPECT_EQ(s.Rows, 2);
    EXPECT_EQ(s.Columns, 3);
    EXPECT_EQ(s.Header, "Page %n");
    EXPECT_EQ(s.HeaderColor, 255u);
    EXPECT_EQ(s.TextColor, 0xFF0000u);
    EXPECT_EQ(s.HeaderFont.Height, -30);
    EXPECT_EQ(s.HeaderFont.FaceName, "DejaVu Sans Mono");
    EXPECT_EQ(s.FooterFont.FaceName, "DejaVu Serif");

    TProfile written;
    s.Write(written);
    TCatalogSettings again;
    again.Read(written, TLogFont{});
    EXPECT_EQ(again.Background, s.Background);
    EXPECT_EQ(again.Header, s.Header);
    EXPECT_EQ(again.Rows, s.Rows);
    EXPECT_EQ(again.HeaderFont, s.HeaderFont);
    EXPECT_EQ(again.FooterFont, s.FooterFont);
    EXPECT_EQ(again.TextColor, s.TextColor);
}

TEST(CatalogSettingsTest, SettingsThatCannotMakePagesAreNamed) {
    struct {
        const char* What;
        void (*Edit)(TCatalogSettings&);
        const char* Says;
    } cases[] = {
        {"no rows", [](TCatalogSettings& s) { s.Rows = 0; }, "rows and columns"},
        {"too many columns", [](TCatalogSettings& s) { s.Columns = 101; }, "rows and columns"},
        {"no width", [](TCatalogSettings& s) { s.Width = 0; }, "page size"},
        {"huge page", [](TCatalogSettings& s) { s.Width = s.Height = 16000; }, "page size"},
        {"path as stem", [](TCatalogSettings& s) { s.OutName = "../x"; }, "plain file name"},
    };
    EXPECT_EQ(CatalogSettingsProblem(TCatalogSettings{}), "");
    for (const auto& c : cases) {
        TCatalogSettings s;
        c.Edit(s);
        EXPECT_NE(CatalogSettingsProblem(s).find(c.Says), std::string::npos) << c.What;
    }
}

// ---- whole catalogs ----

class TOwner final : public TCatalogOwner {
  public:
    void PageStarted(const std::string& file, int page, int total) override {
        Started.push_back(file + " " + std::to_string(page) + "/" + std::to_string(total));
    }
    void PageWritten(const std::string& file) override { Written.push_back(file); }
    void PictureFailed(const std::string& path, const std::string& message) override {
        Failed.push_back(path);
        Messages.push_back(message);
    }
    void Problem(const std::string& message) override { Problems.push_back(message); }
    bool AskKey(const std::string& path, std::string* key) override {
        Asked.push_back(path);
        if (Keys.empty()) return false;
        *key = Keys.front();
        Keys.pop_front();
        return true;
    }
    std::vector<std::string> Started, Written, Failed, Messages, Problems, Asked;
    std::deque<std::string> Keys;
};

// Colours far apart from each other and from the backgrounds.
TRgb ColorOf(int i) {
    return {30 + (i % 3) * 100, 30 + (i / 3 % 3) * 100, 60 + (i / 9 % 3) * 80};
}

TRgb Mean(const TBitmap& b, TPixelRect r) {
    double sum[3] = {0, 0, 0};
    long n = 0;
    for (int y = r.Top; y < r.Bottom; ++y)
        for (int x = r.Left; x < r.Right; ++x, ++n)
            for (int k = 0; k < 3; ++k) sum[k] += b.Row(y)[x * 3 + k];
    if (n == 0) return {-1, -1, -1};
    return {int(sum[0] / n + 0.5), int(sum[1] / n + 0.5), int(sum[2] / n + 0.5)};
}

// The darkest channel sum in r: low where something was drawn on gray.
int Darkest(const TBitmap& b, TPixelRect r) {
    int darkest = 3 * 255;
    for (int y = r.Top; y < r.Bottom; ++y)
        for (int x = r.Left; x < r.Right; ++x) {
            const uint8_t* p = b.Row(y) + x * 3;
            darkest = std::min(darkest, p[0] + p[1] + p[2]);
        }
    return darkest;
}

TRgb At(const TBitmap& b, int x, int y) {
    const uint8_t* p = b.Row(y) + x * 3;
    return {p[0], p[1], p[2]};
}

::testing::AssertionResult Near(TRgb got, TRgb want, int tolerance) {
    for (int k = 0; k < 3; ++k)
        if (std::abs(got[k] - want[k]) > tolerance)
            return ::testing::AssertionFailure()
                   << "(" << got[0] << "," << got[1] << "," << got[2] << ") is not within "
                   << tolerance << " of (" << want[0] << "," << want[1] << "," << want[2] << ")";
    return ::testing::AssertionSuccess();
}

TPixelRect Inset(TPixelRect r, int by) {
    return {r.Left + by, r.Top + by, r.Right - by, r.Bottom - by};
}

const TRgb GRAY{192, 192, 192};

class CatalogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(Dir.Path().empty());
        Settings.HighQuality = 1;
    }
    std::string Out() const { return Dir.Path() + "/"; }
    std::string Solid(const std::string& name, TRgb color, int width = 80, int height = 60) {
        std::string path = Dir.File(name);
        WriteJpeg(path, width, height, test::Solid(width, height, color), 95);
        return path;
    }
    std::unique_ptr<TCatalog> Make(TPictureKeyring& keyring = TPlainPicturesOnly::Instance(),
                                   const std::string& key = "") {
        return std::make_unique<TCatalog>(Settings, ListCatalogPictures(Dir.Path()), Out(), 1,
                                          Owner, keyring, key, std::time(nullptr));
    }
    // Steps to the end; the number of steps taken.
    static int RunAll(TCatalog& catalog) {
        int steps = 0;
        while (!catalog.Finished() && steps < 100000) {
            catalog.Step();
            ++steps;
        }
        return steps;
    }
    // A catalog of one page: the page as libjpeg decodes it, and the catalog.
    TBitmap OnlyPage(std::unique_ptr<TCatalog>* made = nullptr) {
        Owner.Written.clear();
        auto catalog = Make();
        RunAll(*catalog);
        EXPECT_EQ(Owner.Written.size(), 1u);
        TBitmap page = Owner.Written.empty() ? TBitmap{} : Decoded(Owner.Written[0]);
        if (made) *made = std::move(catalog);
        return page;
    }
    static TBitmap Decoded(const std::string& path) {
        TPicture picture;
        EXPECT_EQ(LoadPictureNow(path, 0, 0, 0, "", TPlainPicturesOnly::Instance(), picture),
                  PIC_OK)
            << path;
        return picture.Bitmap ? *picture.Bitmap : TBitmap{};
    }
    // The thumbnail the catalog makes of path, where the cell puts it.
    ::testing::AssertionResult CellShows(const TBitmap& page, const TCatalogCell& cell,
                                         const std::string& path) {
        const TPixelRect& box = cell.Box;
        TPicture thumb;
        if (LoadPictureNow(path, box.Right - box.Left, box.Bottom - box.Top,
                           Settings.ColorMode | LOAD_NO_QUANTIZE, "",
                           TPlainPicturesOnly::Instance(), thumb) != PIC_OK)
            return ::testing::AssertionFailure() << path << " does not load";
        TPixelRect at = FitPicture(thumb.Bitmap->Width, thumb.Bitmap->Height, box, true);
        TRgb want = Mean(*thumb.Bitmap, {0, 0, thumb.Bitmap->Width, thumb.Bitmap->Height});
        return Near(Mean(page, Inset(at, 2)), want, 8) << " in the cell of " << path;
    }
    static ::testing::AssertionResult CellIsEmpty(const TBitmap& page, const TCatalogCell& cell,
                                                  TRgb background) {
        return Near(Mean(page, cell.Box), background, 3);
    }

    TTempDir Dir;
    TCatalogSettings Settings;
    TOwner Owner;
};

TEST_F(CatalogTest, TwentySixPicturesAtFiveByFiveMakeTwoPagesOneCellAStep) {
    for (int i = 0; i < 26; ++i)
        Solid("p" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".jpg", ColorOf(i));
    auto catalog = Make();
    EXPECT_EQ(catalog->PageCount(), 2);
    EXPECT_EQ(catalog->CellsTotal(), 50);
    for (int step = 1; step <= 24; ++step) ASSERT_TRUE(catalog->Step());
    EXPECT_TRUE(Owner.Written.empty()) << "a page is written when its last cell is drawn";
    ASSERT_TRUE(catalog->Step());
    ASSERT_EQ(Owner.Written, std::vector<std::string>{Out() + "cat001.jpg"});
    EXPECT_EQ(RunAll(*catalog), 25);
    EXPECT_EQ(Owner.Written,
              (std::vector<std::string>{Out() + "cat001.jpg", Out() + "cat002.jpg"}));
    EXPECT_EQ(Owner.Started,
              (std::vector<std::string>{Out() + "cat001.jpg 1/2", Out() + "cat002.jpg 2/2"}));
    EXPECT_TRUE(Owner.Problems.empty()) << Owner.Problems.front();

    const TCatalogGeometry& g = catalog->Geometry();
    EXPECT_EQ(g.CellWidth, 198);
    EXPECT_EQ(g.CellHeight, 147);
    ASSERT_GT(g.TitleHeight, 8);
    TBitmap first = Decoded(Out() + "cat001.jpg");
    TBitmap second = Decoded(Out() + "cat002.jpg");
    ASSERT_EQ(first.Width, 1024);
    ASSERT_EQ(first.Height, 768);
    for (int i = 0; i < 25; ++i) {
        TCatalogCell cell = g.CellAt(i % 5, i / 5);
        SCOPED_TRACE("cell " + std::to_string(i));
        TPixelRect at = FitPicture(80, 60, cell.Box, true);
        EXPECT_TRUE(Near(Mean(first, Inset(at, 2)), ColorOf(i), 8));
        // Beside the centred picture the box shows the background.
        EXPECT_TRUE(Near(Mean(first, {cell.Box.Left + 2, at.Top + 4, at.Left - 3, at.Bottom - 4}),
                         GRAY, 6));
        // Raised: white top and left, gray bottom and right.
        int middle = (cell.Cell.Top + cell.Cell.Bottom) / 2;
        EXPECT_TRUE(Near(At(first, cell.Cell.Left, middle), {255, 255, 255}, 40));
        EXPECT_TRUE(Near(At(first, cell.Cell.Right - 1, middle), {127, 127, 127}, 40));
        // A title was drawn in its line.
        EXPECT_LT(Darkest(first, Inset(cell.Title, 3)), 150);
    }
    TCatalogCell last = g.CellAt(0, 0);
    TPixelRect at = FitPicture(80, 60, last.Box, true);
    EXPECT_TRUE(Near(Mean(second, Inset(at, 2)), ColorOf(25), 8));
    for (int i = 1; i < 25; ++i) {
        TCatalogCell cell = g.CellAt(i % 5, i / 5);
        EXPECT_TRUE(CellIsEmpty(second, cell, GRAY)) << "cell " << i;
        EXPECT_GT(Darkest(second, Inset(cell.Title, 3)), 3 * 165) << "no title in cell " << i;
    }
}

TEST_F(CatalogTest, EveryFormatIsShownAndBrokenFilesLeaveEmptyCells) {
    const std::string data = ZORVEX_TEST_DATA "/images/";
    std::string bytes;
    struct {
        const char* Name;
        std::string From;
    } copies[] = {{"d.tga", data + "tga/tga10-24.tga"},
                  {"e.fts", data + "fits/bitpix16.fts"},
                  {"f.fits", data + "fits/bitpix8.fts"},
                  {"g.jpe", data + "jpeg/progressive.jpg"}};
    for (const auto& c : copies) {
        ASSERT_TRUE(ReadWholeFile(c.From, &bytes)) << c.From;
        WriteFile(Dir.File(c.Name), bytes);
    }
    Solid("a.jpg", ColorOf(1));
    WriteBmp(Dir.File("b.bmp"), 90, 40, test::Solid(90, 40, ColorOf(5)));
    WriteGif(Dir.File("c.gif"), 50, 70, Photo(50, 70, 4));
    // Broken ones.
    WriteFile(Dir.File("h-empty.bmp"), "");
    WriteFile(Dir.File("i-garbage.jpg"), std::string(3000, '\x5a'));
    std::string gif;
    ASSERT_TRUE(ReadWholeFile(Dir.File("c.gif"), &gif));
    WriteFile(Dir.File("j-cut.gif"), gif.substr(0, gif.size() / 2));
    WriteFile(Dir.File("k-cut.tga"), std::string("\0\0\2\0\0\0\0\0", 8));
    WriteFile(Dir.File("notes.txt"), "not a picture");

    Settings.Rows = 3;
    Settings.Columns = 4;
    auto catalog = Make();
    RunAll(*catalog);
    ASSERT_EQ(Owner.Written, std::vector<std::string>{Out() + "cat001.jpg"});
    EXPECT_EQ(Owner.Failed,
              (std::vector<std::string>{Dir.File("h-empty.bmp"), Dir.File("i-garbage.jpg"),
                                        Dir.File("j-cut.gif"), Dir.File("k-cut.tga")}));
    for (const std::string& message : Owner.Messages)
        EXPECT_EQ(message.rfind("Jpeg Error (", 0), 0u) << message;

    TBitmap page = Decoded(Out() + "cat001.jpg");
    const TCatalogGeometry& g = catalog->Geometry();
    const char* shown[] = {"a.jpg", "b.bmp", "c.gif", "d.tga", "e.fts", "f.fits", "g.jpe"};
    for (int i = 0; i < 7; ++i)
        EXPECT_TRUE(CellShows(page, g.CellAt(i % 4, i / 4), Dir.File(shown[i])));
    for (int i = 7; i < 12; ++i) EXPECT_TRUE(CellIsEmpty(page, g.CellAt(i % 4, i / 4), GRAY)) << i;
    // The broken files keep their titles, so the user sees which they were.
    EXPECT_LT(Darkest(page, Inset(g.CellAt(3, 1).Title, 3)), 150);
}

TEST_F(CatalogTest, PaddingZeroNamesThePagesCat1AndCat2) {
    Solid("a.jpg", ColorOf(0));
    Solid("b.jpg", ColorOf(1));
    Settings.Padding = 0;
    Settings.Rows = Settings.Columns = 1;
    auto catalog = Make();
    EXPECT_EQ(RunAll(*catalog), 2);
    EXPECT_EQ(Owner.Written, (std::vector<std::string>{Out() + "cat1.jpg", Out() + "cat2.jpg"}));
    TBitmap second = Decoded(Out() + "cat2.jpg");
    EXPECT_TRUE(CellShows(second, catalog->Geometry().CellAt(0, 0), Dir.File("b.jpg")));
}

// Text drawn the way the catalog draws it, on the page's gray.
TBitmap Rendered(const std::string& text, int width, uint32_t color, const TGlyphFont& font) {
    TBitmap b;
    b.Width = width;
    b.Height = font.LineHeight();
    b.Pixels.assign(size_t(b.Width) * b.Height * 3, 192);
    font.Draw(b, 0, 0, text, color, {0, 0, b.Width, b.Height});
    return b;
}

// How far the page's band from top is from band, counted only where band
// and other differ: JPEG noise elsewhere would drown a one-glyph difference.
long Distance(const TBitmap& page, int top, const TBitmap& band, const TBitmap& other) {
    long sum = 0;
    for (int y = 0; y < band.Height; ++y)
        for (int x = 0; x < band.Width * 3; ++x)
            if (band.Row(y)[x] != other.Row(y)[x])
                sum += std::abs(int(page.Row(top + y)[x]) - int(band.Row(y)[x]));
    return sum;
}

TEST_F(CatalogTest, TheHeaderOfThePageSaysPageTwoOfTwoAndTheFooterEndsAtTheBottom) {
    Solid("a.jpg", ColorOf(0));
    Solid("b.jpg", ColorOf(1));
    Settings.Rows = Settings.Columns = 1;
    Settings.Background = BK_GRAY;
    Settings.Header = "Page %n of %t";
    Settings.HeaderColor = 0x000080;  // dark red: mostly luminance, which JPEG keeps sharp
    Settings.Footer = "Made by the catalog";
    Settings.FooterColor = 0xFF0000;  // blue
    auto catalog = Make();
    RunAll(*catalog);
    ASSERT_EQ(Owner.Written.size(), 2u);
    std::string error;
    auto font = TGlyphFont::Open(TLogFont{}, &error);
    ASSERT_TRUE(font) << error;
    const int line = font->LineHeight();
    const TCatalogGeometry& g = catalog->Geometry();
    EXPECT_EQ(g.HeaderHeight, line);
    EXPECT_EQ(g.FooterHeight, line);
    EXPECT_EQ(g.CellAt(0, 0).Cell.Top, line + CATALOG_GAP);
    EXPECT_EQ(g.CellHeight, 768 - 2 * line - 2 * CATALOG_GAP);

    TBitmap page = Decoded(Out() + "cat002.jpg");
    TBitmap two = Rendered("Page 2 of 2", 1024, 0x000080, *font);
    TBitmap one = Rendered("Page 1 of 2", 1024, 0x000080, *font);
    long right = Distance(page, 0, two, one), wrong = Distance(page, 0, one, two);
    EXPECT_LT(right * 3, wrong) << "right " << right << ", wrong " << wrong;
    TBitmap footer = Rendered("Made by the catalog", 1024, 0xFF0000, *font);
    TBitmap plain = Rendered("", 1024, 0, *font);
    long atFooter = Distance(page, 768 - line, footer, plain);
    long atPlain = Distance(page, 768 - line, plain, footer);
    // Blue loses more to JPEG's halved colour resolution.
    EXPECT_LT(atFooter * 2, atPlain) << "footer " << atFooter << ", plain " << atPlain;
    auto bluest = [&](int top) {
        int most = -255;
        for (int y = top; y < top + line; ++y)
            for (int x = 0; x < 1024; ++x) {
                const uint8_t* p = page.Row(y) + x * 3;
                most = std::max(most, p[2] - std::max(p[0], p[1]));
            }
        return most;
    };
    EXPECT_GT(bluest(768 - line), 60) << "the footer is drawn in its colour";
    EXPECT_LT(bluest(0), 20) << "the header in its own";
    EXPECT_TRUE(CellShows(page, g.CellAt(0, 0), Dir.File("b.jpg")));
}

TEST_F(CatalogTest, BackgroundsBoxesAndFrames) {
    const TRgb green{0, 160, 0};
    struct {
        int Background;
        TRgb Gap;
        TRgb LeftEdge, RightEdge;  // of the cell
        TRgb Frame;                // round the picture; Gap when none
    } cases[] = {
        {BK_RAISED, GRAY, {255, 255, 255}, {127, 127, 127}, GRAY},
        {BK_SUNKEN, GRAY, {127, 127, 127}, {255, 255, 255}, GRAY},
        {BK_GRAY, GRAY, GRAY, GRAY, {0, 0, 0}},
        {BK_BLACK, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {255, 255, 255}},
        {BK_WHITE, {255, 255, 255}, {255, 255, 255}, {255, 255, 255}, {0, 0, 0}},
        {42, GRAY, GRAY, GRAY, {0, 0, 0}},  // an unknown style is flat gray
    };
    Solid("a.jpg", green, 100, 100);
    Settings.Rows = Settings.Columns = 1;
    Settings.Width = 400;
    Settings.Height = 300;
    for (const auto& c : cases) {
        SCOPED_TRACE("style " + std::to_string(c.Background));
        Settings.Background = c.Background;
        std::unique_ptr<TCatalog> catalog;
        TBitmap page = OnlyPage(&catalog);
        ASSERT_GT(page.Width, 0);
        TCatalogCell cell = catalog->Geometry().CellAt(0, 0);
        TPixelRect at = FitPicture(100, 100, cell.Box, true);
        EXPECT_TRUE(Near(Mean(page, {0, 100, 3, 200}), c.Gap, 4));
        EXPECT_TRUE(Near(At(page, cell.Cell.Left, 150), c.LeftEdge, 45));
        EXPECT_TRUE(Near(At(page, cell.Cell.Right - 1, 150), c.RightEdge, 45));
        EXPECT_TRUE(Near(At(page, at.Left - 1, (at.Top + at.Bottom) / 2), c.Frame, 70));
        EXPECT_TRUE(Near(Mean(page, Inset(at, 3)), green, 8));
    }
}

TEST_F(CatalogTest, BlendPicturesAreTiledOrStretched) {
    // 64 x 64: the left half red, the right half blue.
    std::vector<uint8_t> rgb(64 * 64 * 3);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            uint8_t* p = &rgb[(y * 64 + x) * 3];
            p[0] = x < 32 ? 255 : 0;
            p[2] = x < 32 ? 0 : 255;
        }
    // Kept outside the catalogued directory.
    TTempDir other;
    WriteBmp(other.File("blend.bmp"), 64, 64, rgb);
    Solid("a.jpg", ColorOf(0));
    Settings.Rows = Settings.Columns = 1;
    Settings.BlendName = other.File("blend.bmp");
    const TRgb red{255, 0, 0}, blue{0, 0, 255};
    struct {
        int Background;
        TRgb AtX16, AtX48, AtX1000;
    } cases[] = {{BK_TILED, red, blue, blue}, {BK_STRETCHED, red, red, blue}};
    for (const auto& c : cases) {
        SCOPED_TRACE("style " + std::to_string(c.Background));
        Settings.Background = c.Background;
        TBitmap page = OnlyPage();
        ASSERT_GT(page.Width, 0);
        EXPECT_TRUE(Owner.Problems.empty());
        // The top gap, above the cell.
        EXPECT_TRUE(Near(Mean(page, {12, 0, 20, 3}), c.AtX16, 40));
        EXPECT_TRUE(Near(Mean(page, {44, 0, 52, 3}), c.AtX48, 40));
        EXPECT_TRUE(Near(Mean(page, {996, 0, 1004, 3}), c.AtX1000, 40));
    }

    struct {
        std::string Name;
        const char* Says;
    } missing[] = {{"", "You must specify a blend name"},
                   {other.File("gone.bmp"), "The blend name you entered does not exist"}};
    for (const auto& m : missing) {
        Settings.BlendName = m.Name;
        Owner.Problems.clear();
        TBitmap page = OnlyPage();
        ASSERT_EQ(Owner.Problems.size(), 1u);
        EXPECT_NE(Owner.Problems[0].find(m.Says), std::string::npos) << Owner.Problems[0];
        ASSERT_GT(page.Width, 0) << "the page is made on gray";
        EXPECT_TRUE(Near(Mean(page, {12, 0, 20, 3}), GRAY, 4));
    }
}

TEST_F(CatalogTest, OldPagesAreNeitherCataloguedNorKeptButOtherFilesAreNeverReplaced) {
    Solid("a.jpg", ColorOf(0));
    Settings.Rows = Settings.Columns = 1;
    RunAll(*Make());
    ASSERT_EQ(Owner.Written, std::vector<std::string>{Out() + "cat001.jpg"});
    EXPECT_TRUE(IsCatalogPage(Out() + "cat001.jpg"));
    EXPECT_FALSE(IsCatalogPage(Dir.File("a.jpg")));

    // A second run: the page is not a picture of the directory, and is replaced.
    Solid("b.jpg", ColorOf(1));
    Owner.Written.clear();
    auto again = Make();
    EXPECT_EQ(again->PageCount(), 2);
    RunAll(*again);
    EXPECT_EQ(Owner.Written,
              (std::vector<std::string>{Out() + "cat001.jpg", Out() + "cat002.jpg"}));
    EXPECT_TRUE(CellShows(Decoded(Out() + "cat001.jpg"), again->Geometry().CellAt(0, 0),
                          Dir.File("a.jpg")));

    // A downloaded picture named like a page is catalogued and kept.
    ASSERT_EQ(::unlink(Dir.File("cat001.jpg").c_str()), 0);
    ASSERT_EQ(::unlink(Dir.File("cat002.jpg").c_str()), 0);
    std::string own = Solid("cat002.jpg", ColorOf(7));
    std::string before;
    ASSERT_TRUE(ReadWholeFile(own, &before));
    Owner.Written.clear();
    auto third = Make();
    EXPECT_EQ(third->PageCount(), 3);
    RunAll(*third);
    EXPECT_EQ(Owner.Written,
              (std::vector<std::string>{Out() + "cat001.jpg", Out() + "cat003.jpg"}));
    ASSERT_EQ(Owner.Problems.size(), 1u);
    EXPECT_NE(Owner.Problems[0].find("cat002.jpg not written"), std::string::npos);
    std::string after;
    ASSERT_TRUE(ReadWholeFile(own, &after));
    EXPECT_TRUE(after == before) << "the downloaded file is untouched";
}

// A web server shows the pages as it shows the downloads: a page follows
// the umask, while the settings file beside it stays the owner's.
TEST_F(CatalogTest, PagesFollowTheUmaskLikeDownloads) {
    Solid("a.jpg", ColorOf(0));
    Settings.Rows = Settings.Columns = 1;
    test::TScopedUmask mask(022);
    RunAll(*Make());
    ASSERT_EQ(Owner.Written, std::vector<std::string>{Out() + "cat001.jpg"});
    EXPECT_EQ(test::ModeOf(Out() + "cat001.jpg"), 0644);
    TProfile settings;
    settings.Set("auth", "password", "secret");
    std::string error;
    ASSERT_TRUE(settings.Save(Dir.File("vantrel.ini"), &error)) << error;
    EXPECT_EQ(test::ModeOf(Dir.File("vantrel.ini")), 0600);
}

TEST_F(CatalogTest, RefusalsAndFailuresAreReportedAndLoseNothing) {
    Solid("a.jpg", ColorOf(0));
    Solid("b.jpg", ColorOf(1));
    {
        SCOPED_TRACE("bad settings");
        Settings.Rows = 0;
        auto catalog = Make();
        EXPECT_FALSE(catalog->Step());
        EXPECT_TRUE(catalog->Finished());
        ASSERT_EQ(Owner.Problems.size(), 1u);
        EXPECT_NE(Owner.Problems[0].find("rows and columns"), std::string::npos);
    }
    {
        SCOPED_TRACE("no room for the cells");
        Settings.Rows = 40;
        Settings.Width = 320;
        Settings.Height = 200;
        Owner.Problems.clear();
        auto catalog = Make();
        EXPECT_FALSE(catalog->Step());
        ASSERT_EQ(Owner.Problems.size(), 1u);
        EXPECT_NE(Owner.Problems[0].find("has no room"), std::string::npos);
    }
    Settings = TCatalogSettings{};
    Settings.Rows = Settings.Columns = 1;
    {
        SCOPED_TRACE("cancelled");
        Owner.Problems.clear();
        Settings.Rows = 2;
        auto catalog = Make();
        EXPECT_TRUE(catalog->Step());
        catalog->Cancel();
        EXPECT_FALSE(catalog->Step());
        EXPECT_TRUE(Owner.Written.empty());
        Settings.Rows = 1;
    }
    {
        SCOPED_TRACE("an output directory that is not there");
        auto catalog =
            std::make_unique<TCatalog>(Settings, ListCatalogPictures(Dir.Path()), Dir.File("gone/"),
                                       1, Owner, TPlainPicturesOnly::Instance(), "", 0);
        EXPECT_EQ(RunAll(*catalog), 2) << "every page is tried";
        EXPECT_EQ(Owner.Problems.size(), 2u);
        EXPECT_TRUE(Owner.Written.empty());
    }
    EXPECT_TRUE(ListCatalogPictures(Dir.File("gone")).empty());
}

TEST_F(CatalogTest, AnEncipheredPictureAsksForItsKeyUntilTheUserGivesUp) {
    std::string a = Solid("a.jpg", ColorOf(3));
    std::string b = Solid("b.jpg", ColorOf(4));
    Solid("c.jpg", ColorOf(5));
    for (const std::string& path : {a, b}) {
        TFileCryptJob job(TFileCryptJob::ENCRYPT, "right", {path});
        ASSERT_NE(job.Step().find("Success!"), std::string::npos);
    }
    Settings.Rows = 1;
    Settings.Columns = 3;
    TViewerKeyring keyring;
    {
        SCOPED_TRACE("the user gives the right key after a wrong one");
        Owner.Keys = {"nearly", "right"};
        auto catalog = Make(keyring, "wrong");
        RunAll(*catalog);
        // Asked twice for a.jpg; b.jpg then opens with the key given.
        EXPECT_EQ(Owner.Asked, (std::vector<std::string>{a, a}));
        EXPECT_TRUE(Owner.Failed.empty());
        TBitmap page = Decoded(Owner.Written.at(0));
        const TCatalogGeometry& g = catalog->Geometry();
        EXPECT_TRUE(Near(Mean(page, Inset(FitPicture(80, 60, g.CellAt(0, 0).Box, true), 2)),
                         ColorOf(3), 8));
        EXPECT_TRUE(Near(Mean(page, Inset(FitPicture(80, 60, g.CellAt(1, 0).Box, true), 2)),
                         ColorOf(4), 8));
    }
    {
        SCOPED_TRACE("the user cancels");
        Owner.Asked.clear();
        Owner.Written.clear();
        auto catalog = Make(keyring, "wrong");
        RunAll(*catalog);
        EXPECT_EQ(Owner.Asked, (std::vector<std::string>{a, b}));
        EXPECT_EQ(Owner.Failed, (std::vector<std::string>{a, b}));
        EXPECT_NE(Owner.Messages.at(0).find("Invalid encryption key"), std::string::npos);
        TBitmap page = Decoded(Owner.Written.at(0));
        EXPECT_TRUE(CellIsEmpty(page, catalog->Geometry().CellAt(0, 0), GRAY));
        EXPECT_TRUE(CellShows(page, catalog->Geometry().CellAt(2, 0), Dir.File("c.jpg")));
    }
}

TEST(CatalogList, FindsThePicturesInNameOrderAndLeavesTheRestOut) {
    TTempDir dir;
    for (const char* name : {"B.JPG", "a.jpeg", "c.Gif", "d.bmp", "e.tga", "f.fts", "g.fits",
                             "h.jpe", "notes.txt", "jpg", ".jpg", "i.jpg.txt"})
        WriteFile(dir.File(name), "x");
    ASSERT_EQ(::mkdir(dir.File("sub.jpg").c_str(), 0755), 0);
    std::vector<TCatalogPicture> list = ListCatalogPictures(dir.Path());
    std::vector<std::string> names;
    for (const TCatalogPicture& p : list) names.push_back(p.Name);
    EXPECT_EQ(names, (std::vector<std::string>{"a.jpeg", "b.jpg", "c.gif", "d.bmp", "e.tga",
                                               "f.fts", "g.fits", "h.jpe"}));
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list[1].Path, dir.File("B.JPG")) << "the file is opened by its own name";
    EXPECT_EQ(list[1].Size, 1u);
    EXPECT_GT(list[1].WriteTime, 0);
}

}  // namespace
}  // namespace zorvex::test
