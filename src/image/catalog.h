// catalog: contact sheets of a directory's pictures. Each page is a JPEG of
// rows and columns of thumbnails with their file names, on one of seven
// backgrounds, with an optional header and footer. Pages are drawn one cell
// per Step, so whoever runs it (a dialog, the automatic run over the groups)
// stays responsive and can stop it between cells.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "image/glyphs.h"
#include "image/picture.h"
#include "image/source.h"
#include "library/logfont.h"
#include "library/profile.h"

namespace zorvex {

enum TCatalogBackground : int {
    BK_RAISED = 1,
    BK_SUNKEN = 2,
    BK_GRAY = 3,
    BK_BLACK = 4,
    BK_TILED = 5,
    BK_STRETCHED = 6,
    BK_WHITE = 7,
};

// "colormode" bit beside the load flags: centre the pictures (and, on the
// backgrounds without boxes, the titles).
constexpr uint32_t CATALOG_CENTER = 0x20;
constexpr int CATALOG_GAP = 5;
constexpr int CATALOG_CELLS_MAX = 100;  // rows or columns
constexpr int CATALOG_SIDE_MAX = 16384;
constexpr int CATALOG_PADDING_MAX = 9;
// Every page carries this comment, so the pages are never taken for
// pictures and never replace a file that is not one of them.
constexpr std::string_view CATALOG_PAGE_MARK = "Zorvex catalog page";

// The [catalog] settings and the three text fonts.
struct TCatalogSettings {
    int Background = BK_RAISED;
    std::string BlendName;
    std::string OutName = "cat";
    uint32_t ColorMode = 44;
    int HighQuality = 0;
    int Padding = 3;
    int Rows = 5, Columns = 5;
    int CustomWidth = 1152, CustomHeight = 864;
    int Width = 1024, Height = 768;
    std::string Header, Footer;
    uint32_t HeaderColor = 0, FooterColor = 0, TextColor = 0;
    int TitlesAbove = 1;
    TLogFont TextFont, HeaderFont, FooterFont;

    // Missing keys keep the defaults; the fonts default to systemFont.
    void Read(const TProfile& profile, const TLogFont& systemFont);
    void Write(TProfile& profile) const;
};

// Why these settings cannot make pages; empty when they can.
std::string CatalogSettingsProblem(const TCatalogSettings& settings);

// One picture of a directory.
struct TCatalogPicture {
    std::string Path;
    std::string Name;  // lower case, without the directory: the title
    uint64_t Size = 0;
    int64_t WriteTime = 0;
};

// The pictures of a directory (".jpg", ".jpe", ".jpeg", ".bmp", ".gif",
// ".tga", ".fts", ".fits", ignoring case), in name order; catalog pages
// are left out. Empty when the directory cannot be read.
std::vector<TCatalogPicture> ListCatalogPictures(const std::string& directory);

// True when the file is a catalog page (it carries CATALOG_PAGE_MARK).
bool IsCatalogPage(const std::string& path);

// "%s%0*d.jpg": the output path, the stem and the page number padded to
// padding digits (0: not padded).
std::string CatalogPageName(std::string_view outputPath, std::string_view outName, int padding,
                            int number);

// What %n %t %f %p %i %d stand for.
struct TCatalogTextFacts {
    int Page = 0, Total = 0;
    std::string File, OutputPath, InputPath, Date;
};
std::string ExpandCatalogText(std::string_view text, const TCatalogTextFacts& facts);
// "%02d/%02d/%02d": month, day and two-digit year of the local date.
std::string CatalogDate(std::time_t when);

// Where the cells of a page lie.
struct TCatalogCell {
    TPixelRect Cell;   // the whole cell
    TPixelRect Title;  // the title line
    TPixelRect Box;    // where the picture is fitted: the picture area less 2 on every side
};
struct TCatalogGeometry {
    int PageWidth = 0, PageHeight = 0;
    int Columns = 1, Rows = 1;
    int HeaderHeight = 0, FooterHeight = 0, TitleHeight = 0;
    bool TitlesAbove = true;
    int CellWidth = 0, CellHeight = 0;

    static TCatalogGeometry Compute(int pageWidth, int pageHeight, int columns, int rows,
                                    int headerHeight, int footerHeight, int titleHeight,
                                    bool titlesAbove);
    TCatalogCell CellAt(int column, int row) const;
};

// Where a picture of width x height lands when fitted into box keeping its
// aspect ratio: centred, or at the top left.
TPixelRect FitPicture(int width, int height, const TPixelRect& box, bool center);

// What the catalog tells whoever runs it.
class TCatalogOwner {
  public:
    virtual ~TCatalogOwner() = default;
    // A page begins: its file name, its number among the pages and their count.
    virtual void PageStarted(const std::string& file, int page, int total) {
        (void)file, (void)page, (void)total;
    }
    virtual void PageWritten(const std::string& file) { (void)file; }
    // A picture could not be read; its cell stays empty.
    virtual void PictureFailed(const std::string& path, const std::string& message) {
        (void)path, (void)message;
    }
    // Something that costs a page or a part of one: a page not written, a
    // font or the blend picture missing.
    virtual void Problem(const std::string& message) { (void)message; }
    // "Encryption Key Required!": the key of an enciphered picture did not
    // fit. True with a new key to try; false when the user gives up.
    virtual bool AskKey(const std::string& path, std::string* key) {
        (void)path, (void)key;
        return false;
    }
};

class TCatalog {
  public:
    // outputPath ends with '/'; the key is tried first on enciphered pictures.
    TCatalog(const TCatalogSettings& settings, std::vector<TCatalogPicture> pictures,
             std::string outputPath, int firstNumber, TCatalogOwner& owner,
             TPictureKeyring& keyring, std::string key, std::time_t today);
    ~TCatalog();
    TCatalog(const TCatalog&) = delete;
    TCatalog& operator=(const TCatalog&) = delete;

    // Draws the next cell, and writes the page when it is the page's last.
    // False once the catalog is finished (or stopped).
    bool Step();
    // Stops between cells; the page being drawn is not written.
    void Cancel() { Stopped = true; }
    bool Finished() const { return Stopped || Next >= CellsTotal(); }

    int CellsDone() const { return Next; }
    int CellsTotal() const { return Pages * PerPage; }
    int PageCount() const { return Pages; }
    const std::vector<std::string>& PagesWritten() const { return Written; }
    const TCatalogGeometry& Geometry() const { return Layout; }

  private:
    void StartPage();
    void DrawCell(int index, const TCatalogCell& cell);
    void DrawPicture(const TCatalogPicture& picture, const TCatalogCell& cell);
    void DrawText(const TGlyphFont* font, const std::vector<std::string>& lines, int top,
                  uint32_t color);
    void WritePage();
    void LoadBlend();
    void FillBackground();
    std::unique_ptr<TGlyphFont> OpenFont(const TLogFont& font, const char* what);
    std::vector<std::string> Wrapped(const TGlyphFont* font, const std::string& text) const;

    TCatalogSettings Settings;
    std::vector<TCatalogPicture> Pictures;
    std::string OutputPath;
    int Number;
    TCatalogOwner& Owner;
    TPictureKeyring& Keyring;
    std::string Key;
    std::string Date;
    std::unique_ptr<TGlyphFont> TitleFont, HeaderFont, FooterFont;
    std::unique_ptr<TBitmap> Blend;
    int PerPage = 1;
    int Pages = 0;
    int Next = 0;
    bool Stopped = false;
    TBitmap Page;
    std::string PageFile;
    TCatalogGeometry Layout;
    std::vector<std::string> Written;
};

}  // namespace zorvex
