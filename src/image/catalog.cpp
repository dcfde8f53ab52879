#include "image/catalog.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "image/jpegsave.h"
#include "image/loader.h"
#include "library/ascii.h"
#include "library/fileio.h"

namespace zorvex {

namespace {

constexpr size_t CATALOG_TEXT_MAX = 255;
constexpr int QUALITY_NORMAL = 75;
constexpr int QUALITY_HIGH = 95;
// A page's comment comes right after its first segment.
constexpr size_t PAGE_MARK_SEARCH = 4096;

const char* const SECTION = "catalog";
const char* const PICTURE_EXTENSIONS[] = {".jpg", ".jpe", ".jpeg", ".bmp",
                                          ".gif", ".tga", ".fts",  ".fits"};

void Put(TBitmap& page, int x, int y, uint8_t r, uint8_t g, uint8_t b) {
    if (x < 0 || y < 0 || x >= page.Width || y >= page.Height) return;
    uint8_t* p = page.Row(y) + static_cast<size_t>(x) * 3;
    p[0] = r, p[1] = g, p[2] = b;
}

void HorizontalLine(TBitmap& page, int x0, int x1, int y, uint8_t v) {
    for (int x = x0; x <= x1; ++x) Put(page, x, y, v, v, v);
}

void VerticalLine(TBitmap& page, int x, int y0, int y1, uint8_t v) {
    for (int y = y0; y <= y1; ++y) Put(page, x, y, v, v, v);
}

// The frame one pixel outside r.
void Frame(TBitmap& page, const TPixelRect& r, uint8_t v) {
    HorizontalLine(page, r.Left - 1, r.Right, r.Top - 1, v);
    HorizontalLine(page, r.Left - 1, r.Right, r.Bottom, v);
    VerticalLine(page, r.Left - 1, r.Top, r.Bottom - 1, v);
    VerticalLine(page, r.Right, r.Top, r.Bottom - 1, v);
}

// Nearest-neighbour copy of the whole of picture onto r of the page.
void StretchOnto(TBitmap& page, const TPixelRect& r, const TBitmap& picture) {
    int width = r.Right - r.Left, height = r.Bottom - r.Top;
    if (width <= 0 || height <= 0 || picture.Width <= 0 || picture.Height <= 0) return;
    for (int dy = 0; dy < height; ++dy) {
        int y = r.Top + dy;
        if (y < 0 || y >= page.Height) continue;
        int sy = static_cast<int>(static_cast<int64_t>(dy) * picture.Height / height);
        const uint8_t* from = picture.Row(sy);
        uint8_t* to = page.Row(y);
        for (int dx = 0; dx < width; ++dx) {
            int x = r.Left + dx;
            if (x < 0 || x >= page.Width) continue;
            int sx = static_cast<int>(static_cast<int64_t>(dx) * picture.Width / width);
            std::memcpy(to + static_cast<size_t>(x) * 3, from + static_cast<size_t>(sx) * 3, 3);
        }
    }
}

bool IsPictureName(std::string_view name) {
    size_t dot = name.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0) return false;
    std::string_view ext = name.substr(dot);
    for (const char* known : PICTURE_EXTENSIONS)
        if (EqualsIgnoringCase(ext, known)) return true;
    return false;
}

bool IsFlat(int background) {
    return background != BK_RAISED && background != BK_SUNKEN;
}

}  // namespace

// ---- settings ----

void TCatalogSettings::Read(const TProfile& p, const TLogFont& systemFont) {
    *this = TCatalogSettings{};
    Background = p.GetInt(SECTION, "bkmode", Background);
    BlendName = p.GetString(SECTION, "blendname", BlendName, CATALOG_TEXT_MAX);
    OutName = p.GetString(SECTION, "outname", OutName, CATALOG_TEXT_MAX);
    ColorMode = static_cast<uint32_t>(p.GetInt(SECTION, "colormode", static_cast<int>(ColorMode)));
    HighQuality = p.GetInt(SECTION, "highqual", HighQuality);
    Padding = p.GetInt(SECTION, "padding", Padding);
    Rows = p.GetInt(SECTION, "rows", Rows);
    Columns = p.GetInt(SECTION, "columns", Columns);
    CustomWidth = p.GetInt(SECTION, "custx", CustomWidth);
    CustomHeight = p.GetInt(SECTION, "custy", CustomHeight);
    Width = p.GetInt(SECTION, "xsize", Width);
    Height = p.GetInt(SECTION, "ysize", Height);
    Header = p.GetString(SECTION, "header", Header, CATALOG_TEXT_MAX);
    Footer = p.GetString(SECTION, "footer", Footer, CATALOG_TEXT_MAX);
    HeaderColor = static_cast<uint32_t>(p.GetInt(SECTION, "header_color", 0)) & 0xFFFFFF;
    FooterColor = static_cast<uint32_t>(p.GetInt(SECTION, "footer_color", 0)) & 0xFFFFFF;
    TextColor = static_cast<uint32_t>(p.GetInt(SECTION, "text_color", 0)) & 0xFFFFFF;
    TitlesAbove = p.GetInt(SECTION, "titlesabove", TitlesAbove);
    TextFont = ReadLogFont(p, "catalog_textfont", systemFont);
    HeaderFont = ReadLogFont(p, "catalog_headerfont", systemFont);
    FooterFont = ReadLogFont(p, "catalog_footerfont", systemFont);
}

void TCatalogSettings::Write(TProfile& p) const {
    p.SetInt(SECTION, "bkmode", Background);
    p.Set(SECTION, "blendname", BlendName);
    p.Set(SECTION, "outname", OutName);
    p.SetInt(SECTION, "colormode", static_cast<int32_t>(ColorMode));
    p.SetInt(SECTION, "highqual", HighQuality);
    p.SetInt(SECTION, "padding", Padding);
    p.SetInt(SECTION, "rows", Rows);
    p.SetInt(SECTION, "columns", Columns);
    p.SetInt(SECTION, "custx", CustomWidth);
    p.SetInt(SECTION, "custy", CustomHeight);
    p.SetInt(SECTION, "xsize", Width);
    p.SetInt(SECTION, "ysize", Height);
    p.Set(SECTION, "header", Header);
    p.Set(SECTION, "footer", Footer);
    p.SetInt(SECTION, "header_color", static_cast<int32_t>(HeaderColor));
    p.SetInt(SECTION, "footer_color", static_cast<int32_t>(FooterColor));
    p.SetInt(SECTION, "text_color", static_cast<int32_t>(TextColor));
    p.SetInt(SECTION, "titlesabove", TitlesAbove);
    WriteLogFont(p, "catalog_textfont", TextFont);
    WriteLogFont(p, "catalog_headerfont", HeaderFont);
    WriteLogFont(p, "catalog_footerfont", FooterFont);
}

std::string CatalogSettingsProblem(const TCatalogSettings& s) {
    auto between = [](int v, int low, int high) { return v >= low && v <= high; };
    if (!between(s.Rows, 1, CATALOG_CELLS_MAX) || !between(s.Columns, 1, CATALOG_CELLS_MAX))
        return "The catalog needs 1 to " + std::to_string(CATALOG_CELLS_MAX) +
               " rows and columns, not " + std::to_string(s.Rows) + " rows and " +
               std::to_string(s.Columns) + " columns";
    if (!between(s.Width, 1, CATALOG_SIDE_MAX) || !between(s.Height, 1, CATALOG_SIDE_MAX) ||
        static_cast<int64_t>(s.Width) * s.Height > MAX_PICTURE_PIXELS)
        return "The catalog page size " + std::to_string(s.Width) + "x" + std::to_string(s.Height) +
               " is not one a page can have";
    if (s.OutName.find('/') != std::string::npos || s.OutName.find('\0') != std::string::npos)
        return "The catalog output name \"" + s.OutName + "\" must be a plain file name";
    return "";
}

// ---- the picture list ----

bool IsCatalogPage(const std::string& path) {
    TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.Get() < 0) return false;
    unsigned char head[PAGE_MARK_SEARCH];
    ssize_t got = ::read(fd.Get(), head, sizeof head);
    if (got < 4 || head[0] != 0xFF || head[1] != 0xD8) return false;
    size_t n = static_cast<size_t>(got), at = 2;
    while (at + 4 <= n && head[at] == 0xFF) {
        unsigned marker = head[at + 1];
        size_t length = (static_cast<size_t>(head[at + 2]) << 8) | head[at + 3];
        if (marker == 0xDA || length < 2) break;
        if (marker == 0xFE && length - 2 >= CATALOG_PAGE_MARK.size() &&
            at + 4 + CATALOG_PAGE_MARK.size() <= n &&
            std::memcmp(head + at + 4, CATALOG_PAGE_MARK.data(), CATALOG_PAGE_MARK.size()) == 0)
            return true;
        at += 2 + length;
    }
    return false;
}

std::vector<TCatalogPicture> ListCatalogPictures(const std::string& directory) {
    std::vector<TCatalogPicture> pictures;
    DIR* dir = ::opendir(directory.c_str());
    if (!dir) return pictures;
    std::string base = AddTrailingSlash(directory);
    while (const dirent* entry = ::readdir(dir)) {
        std::string_view name = entry->d_name;
        if (!IsPictureName(name)) continue;
        TCatalogPicture p;
        p.Path = base + std::string(name);
        struct stat st {};
        if (::stat(p.Path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (IsCatalogPage(p.Path)) continue;
        p.Name = LowerAscii(name);
        p.Size = static_cast<uint64_t>(st.st_size);
        p.WriteTime = static_cast<int64_t>(st.st_mtime);
        pictures.push_back(std::move(p));
    }
    ::closedir(dir);
    std::sort(pictures.begin(), pictures.end(),
              [](const TCatalogPicture& a, const TCatalogPicture& b) {
                  return a.Name != b.Name ? a.Name < b.Name : a.Path < b.Path;
              });
    return pictures;
}

// ---- names and texts ----

std::string CatalogPageName(std::string_view outputPath, std::string_view outName, int padding,
                            int number) {
    padding = std::clamp(padding, 0, CATALOG_PADDING_MAX);
    char digits[32];
    std::snprintf(digits, sizeof digits, "%0*d", padding, number);
    std::string name(outputPath);
    name += outName;
    name += digits;
    name += ".jpg";
    return name;
}

std::string ExpandCatalogText(std::string_view text, const TCatalogTextFacts& facts) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) break;
        switch (text[i]) {
            case 'n':
                out += std::to_string(facts.Page);
                break;
            case 't':
                out += std::to_string(facts.Total);
                break;
            case 'f':
                out += facts.File;
                break;
            case 'p':
                out += facts.OutputPath;
                break;
            case 'i':
                out += facts.InputPath;
                break;
            case 'd':
                out += facts.Date;
                break;
            default:
                out += text[i];
                break;
        }
    }
    return out;
}

std::string CatalogDate(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[16];
    std::snprintf(text, sizeof text, "%02d/%02d/%02d", (local.tm_mon + 1) % 100,
                  local.tm_mday % 100, local.tm_year % 100);
    return text;
}

// ---- geometry ----

TCatalogGeometry TCatalogGeometry::Compute(int pageWidth, int pageHeight, int columns, int rows,
                                           int headerHeight, int footerHeight, int titleHeight,
                                           bool titlesAbove) {
    TCatalogGeometry g;
    g.PageWidth = pageWidth;
    g.PageHeight = pageHeight;
    g.Columns = std::max(columns, 1);
    g.Rows = std::max(rows, 1);
    g.HeaderHeight = headerHeight;
    g.FooterHeight = footerHeight;
    g.TitleHeight = titleHeight;
    g.TitlesAbove = titlesAbove;
    g.CellWidth = (pageWidth - (g.Columns + 1) * CATALOG_GAP) / g.Columns;
    g.CellHeight = (pageHeight - headerHeight - footerHeight - (g.Rows + 1) * CATALOG_GAP) / g.Rows;
    return g;
}

TCatalogCell TCatalogGeometry::CellAt(int column, int row) const {
    TCatalogCell c;
    int x = (column + 1) * CATALOG_GAP + column * CellWidth;
    int y = (row + 1) * CATALOG_GAP + row * CellHeight + HeaderHeight;
    c.Cell = {x, y, x + CellWidth, y + CellHeight};
    TPixelRect area = c.Cell;
    if (TitlesAbove) {
        c.Title = {x, y, x + CellWidth, y + TitleHeight};
        area.Top = y + TitleHeight + 1;
    } else {
        c.Title = {x, y + CellHeight - TitleHeight, x + CellWidth, y + CellHeight};
        area.Bottom = y + CellHeight - TitleHeight - 1;
    }
    c.Box = {area.Left + 2, area.Top + 2, area.Right - 2, area.Bottom - 2};
    return c;
}

TPixelRect FitPicture(int width, int height, const TPixelRect& box, bool center) {
    int64_t bw = box.Right - box.Left, bh = box.Bottom - box.Top;
    if (bw <= 0 || bh <= 0 || width <= 0 || height <= 0)
        return {box.Left, box.Top, box.Left, box.Top};
    int64_t fw = bw, fh = bh;
    if (int64_t{width} * bh > int64_t{height} * bw)
        fh = std::max<int64_t>(1, int64_t{height} * bw / width);
    else
        fw = std::max<int64_t>(1, int64_t{width} * bh / height);
    int left = box.Left, top = box.Top;
    if (center) {
        left += static_cast<int>((bw - fw) / 2);
        top += static_cast<int>((bh - fh) / 2);
    }
    return {left, top, left + static_cast<int>(fw), top + static_cast<int>(fh)};
}

// ---- the catalog ----

TCatalog::TCatalog(const TCatalogSettings& settings, std::vector<TCatalogPicture> pictures,
                   std::string outputPath, int firstNumber, TCatalogOwner& owner,
                   TPictureKeyring& keyring, std::string key, std::time_t today)
    : Settings(settings),
      Pictures(std::move(pictures)),
      OutputPath(std::move(outputPath)),
      Number(firstNumber),
      Owner(owner),
      Keyring(keyring),
      Key(std::move(key)),
      Date(CatalogDate(today)) {
    std::string problem = CatalogSettingsProblem(Settings);
    if (!problem.empty()) {
        Owner.Problem(problem);
        Stopped = true;
        return;
    }
    PerPage = Settings.Rows * Settings.Columns;
    Pages = static_cast<int>((Pictures.size() + PerPage - 1) / PerPage);
    if (Pages == 0) return;
    TitleFont = OpenFont(Settings.TextFont, "titles");
    if (!Settings.Header.empty()) HeaderFont = OpenFont(Settings.HeaderFont, "header");
    if (!Settings.Footer.empty()) FooterFont = OpenFont(Settings.FooterFont, "footer");
    if (Settings.Background == BK_TILED || Settings.Background == BK_STRETCHED) LoadBlend();
}

TCatalog::~TCatalog() = default;

std::unique_ptr<TGlyphFont> TCatalog::OpenFont(const TLogFont& font, const char* what) {
    std::string error;
    std::unique_ptr<TGlyphFont> opened = TGlyphFont::Open(font, &error);
    if (!opened) Owner.Problem(std::string("No font for the catalog's ") + what + ": " + error);
    return opened;
}

void TCatalog::LoadBlend() {
    if (Settings.BlendName.empty()) {
        Owner.Problem(
            "You must specify a blend name if you use the tiled or stretched blend backgrounds");
        return;
    }
    TPicture picture;
    TPicReport report;
    int code =
        LoadPictureNow(Settings.BlendName, 0, 0, LOAD_NO_QUANTIZE, Key, Keyring, picture, &report);
    if (code != PIC_OK || !picture.Bitmap) {
        if (code == PIC_CANNOT_OPEN)
            Owner.Problem("The blend name you entered does not exist: " + Settings.BlendName);
        else
            Owner.Problem(PictureMessageText(Settings.BlendName, report.Error));
        return;
    }
    Blend = std::move(picture.Bitmap);
}

std::vector<std::string> TCatalog::Wrapped(const TGlyphFont* font, const std::string& text) const {
    if (!font || text.empty()) return {};
    return WrapText(text, Settings.Width,
                    [font](std::string_view s) { return font->TextWidth(s); });
}

void TCatalog::FillBackground() {
    uint8_t gray = 192;
    if (Settings.Background == BK_BLACK) gray = 0;
    if (Settings.Background == BK_WHITE) gray = 255;
    std::fill(Page.Pixels.begin(), Page.Pixels.end(), gray);
    if (!Blend || Blend->Width <= 0 || Blend->Height <= 0) return;
    if (Settings.Background == BK_STRETCHED) {
        StretchOnto(Page, {0, 0, Page.Width, Page.Height}, *Blend);
    } else if (Settings.Background == BK_TILED) {
        for (int y = 0; y < Page.Height; ++y) {
            const uint8_t* from = Blend->Row(y % Blend->Height);
            uint8_t* to = Page.Row(y);
            for (int x = 0; x < Page.Width; x += Blend->Width) {
                int n = std::min(Blend->Width, Page.Width - x);
                std::memcpy(to + static_cast<size_t>(x) * 3, from, static_cast<size_t>(n) * 3);
            }
        }
    }
}

void TCatalog::DrawText(const TGlyphFont* font, const std::vector<std::string>& lines, int top,
                        uint32_t color) {
    if (!font) return;
    TPixelRect page{0, 0, Page.Width, Page.Height};
    for (const std::string& line : lines) {
        font->Draw(Page, 0, top, line, color, page);
        top += font->LineHeight();
    }
}

void TCatalog::StartPage() {
    PageFile = CatalogPageName(OutputPath, Settings.OutName, Settings.Padding, Number);
    int page = Next / PerPage + 1;
    Owner.PageStarted(PageFile, page, Pages);
    ++Number;

    TCatalogTextFacts facts;
    facts.Page = page;
    facts.Total = Pages;
    facts.File = PageFile;
    facts.OutputPath = OutputPath;
    const std::string& first = Pictures.front().Path;
    size_t slash = first.find_last_of('/');
    facts.InputPath = slash == std::string::npos ? "" : first.substr(0, slash + 1);
    facts.Date = Date;
    std::vector<std::string> header =
        Wrapped(HeaderFont.get(), ExpandCatalogText(Settings.Header, facts));
    std::vector<std::string> footer =
        Wrapped(FooterFont.get(), ExpandCatalogText(Settings.Footer, facts));
    int headerHeight = HeaderFont ? static_cast<int>(header.size()) * HeaderFont->LineHeight() : 0;
    int footerHeight = FooterFont ? static_cast<int>(footer.size()) * FooterFont->LineHeight() : 0;
    Layout = TCatalogGeometry::Compute(
        Settings.Width, Settings.Height, Settings.Columns, Settings.Rows, headerHeight,
        footerHeight, TitleFont ? TitleFont->LineHeight() : 0, Settings.TitlesAbove != 0);
    if (Layout.CellWidth < 1 || Layout.CellHeight < 1) {
        Owner.Problem("A catalog page of " + std::to_string(Settings.Width) + "x" +
                      std::to_string(Settings.Height) + " has no room for " +
                      std::to_string(Settings.Columns) + " columns and " +
                      std::to_string(Settings.Rows) + " rows");
        Stopped = true;
        return;
    }

    Page.Width = Settings.Width;
    Page.Height = Settings.Height;
    Page.Pixels.assign(static_cast<size_t>(Page.Width) * Page.Height * 3, 0);
    FillBackground();
    DrawText(HeaderFont.get(), header, 0, Settings.HeaderColor);
    DrawText(FooterFont.get(), footer, Page.Height - footerHeight, Settings.FooterColor);
}

bool TCatalog::Step() {
    if (Finished()) return false;
    int slot = Next % PerPage;
    if (slot == 0) {
        StartPage();
        if (Stopped) return false;
    }
    DrawCell(Next, Layout.CellAt(slot % Settings.Columns, slot / Settings.Columns));
    ++Next;
    if (Next % PerPage == 0) WritePage();
    return !Finished();
}

void TCatalog::DrawCell(int index, const TCatalogCell& cell) {
    const TPixelRect& c = cell.Cell;
    if (Settings.Background == BK_RAISED || Settings.Background == BK_SUNKEN) {
        uint8_t lit = Settings.Background == BK_RAISED ? 255 : 127;
        uint8_t shade = Settings.Background == BK_RAISED ? 127 : 255;
        HorizontalLine(Page, c.Left, c.Right - 1, c.Top, lit);
        VerticalLine(Page, c.Left, c.Top, c.Bottom - 1, lit);
        HorizontalLine(Page, c.Left + 1, c.Right - 1, c.Bottom - 1, shade);
        VerticalLine(Page, c.Right - 1, c.Top + 1, c.Bottom - 1, shade);
    }
    if (index >= static_cast<int>(Pictures.size())) return;
    const TCatalogPicture& picture = Pictures[index];
    if (TitleFont) {
        int x = c.Left;
        if (IsFlat(Settings.Background) && (Settings.ColorMode & CATALOG_CENTER))
            x += std::max(0, (c.Right - c.Left - TitleFont->TextWidth(picture.Name)) / 2);
        TPixelRect clip{c.Left, cell.Title.Top, c.Right, cell.Title.Bottom};
        TitleFont->Draw(Page, x, cell.Title.Top, picture.Name, Settings.TextColor, clip);
    }
    DrawPicture(picture, cell);
}

void TCatalog::DrawPicture(const TCatalogPicture& entry, const TCatalogCell& cell) {
    const TPixelRect& box = cell.Box;
    if (box.Right <= box.Left || box.Bottom <= box.Top) return;
    uint32_t flags = Settings.ColorMode | LOAD_NO_QUANTIZE;
    TPicture picture;
    TPicReport report;
    int code;
    for (;;) {
        picture = TPicture{};
        report = TPicReport{};
        code = LoadPictureNow(entry.Path, box.Right - box.Left, box.Bottom - box.Top, flags, Key,
                              Keyring, picture, &report);
        if (code != PIC_BAD_KEY) break;
        std::string key;
        if (!Owner.AskKey(entry.Path, &key)) break;
        Key = key;
    }
    if (code != PIC_OK || !picture.Bitmap || picture.Bitmap->Width <= 0 ||
        picture.Bitmap->Height <= 0) {
        if (code == PIC_OK) report.Error.Code = PIC_EMPTY_FILE;
        Owner.PictureFailed(entry.Path, PictureMessageText(entry.Path, report.Error));
        return;
    }
    const TBitmap& bitmap = *picture.Bitmap;
    TPixelRect at =
        FitPicture(bitmap.Width, bitmap.Height, box, (Settings.ColorMode & CATALOG_CENTER) != 0);
    StretchOnto(Page, at, bitmap);
    if (IsFlat(Settings.Background)) Frame(Page, at, Settings.Background == BK_BLACK ? 255 : 0);
}

void TCatalog::WritePage() {
    std::string bytes, error;
    if (!EncodeJpeg(Page, Settings.HighQuality ? QUALITY_HIGH : QUALITY_NORMAL, CATALOG_PAGE_MARK,
                    &bytes, &error)) {
        Owner.Problem("Catalog page " + PageFile + " not written: " + error);
        return;
    }
    struct stat st {};
    if (::lstat(PageFile.c_str(), &st) == 0 && !IsCatalogPage(PageFile)) {
        Owner.Problem("Catalog page " + PageFile +
                      " not written: a file of that name is there and is not a catalog page");
        return;
    }
    // Pages are for showing, as the downloads they list are: not private.
    if (!ReplaceFileAtomically(PageFile, bytes, &error, TNewFileAccess::UMASK)) {
        Owner.Problem("Catalog page " + PageFile + " not written: " + error);
        return;
    }
    Written.push_back(PageFile);
    Owner.PageWritten(PageFile);
}

}  // namespace zorvex
